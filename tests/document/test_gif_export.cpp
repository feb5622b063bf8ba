// The export: the bytes it reports are the bytes the save writes, whatever the settings; each
// frame's share adds up to the file; dropping frames keeps the running time; "fit under" gives a
// file under the target, saying what it gave up; a raised cancel flag stops the work.

#include "document/composer.h"
#include "document/gif_export.h"
#include "document/open_document.h"

#include "support/corpus.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numeric>
#include <set>
#include <sstream>

using namespace doc;

namespace {

// A small screen recording: a window with text rows, a cursor moving over it, a caret blinking.
TGIFImage recordingLike(int frames = 12)
{
    TGIFImage image;
    const int W = 96, H = 64;
    image.header.width = W;
    image.header.height = H;
    TGIFColorMap map;
    for (int i = 0; i < 16; ++i)
        map.entries.push_back(Rgb{uint8_t(i * 16), uint8_t(255 - i * 12), uint8_t(i * 7)});
    image.header.colorMap = map;
    for (int f = 0; f < frames; ++f) {
        std::vector<uint8_t> px(std::size_t(W) * H);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                uint8_t v = y < 8 ? 3 : 1;
                if (y >= 12 && y % 6 < 3 && (x * 7 + y * 3) % 11 < 6 && x < 80)
                    v = uint8_t(4 + (x / 9 + y) % 8);
                if (std::abs(x - (10 + f * 6)) < 3 && std::abs(y - (20 + f * 2)) < 3)
                    v = 15;
                if (f % 2 && x == 60 && y >= 40 && y < 48)
                    v = 2;
                px[std::size_t(y) * W + x] = v;
            }
        TGIFSubImage frame;
        frame.width = uint16_t(W);
        frame.height = uint16_t(H);
        frame.setPixels(std::move(px));
        frame.addGraphicControl()->delay = uint16_t(5 + f % 3);
        image.appendFrame(std::move(frame));
    }
    return image;
}

// A longer recording on a larger screen: text typed a character a frame, a cursor moving, a panel
// redrawn now and then. Enough frames that the quick estimate samples them rather than taking all.
TGIFImage typingRecording()
{
    TGIFImage image;
    const int W = 200, H = 150, frames = 90;
    image.header.width = W;
    image.header.height = H;
    for (int i = 0; i < 32; ++i)
        image.header.colorMap.entries.push_back(Rgb{uint8_t(i * 8), uint8_t(200 - i * 5), uint8_t((i * 53) & 255)});
    std::vector<uint8_t> screen(std::size_t(W) * H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            screen[std::size_t(y) * W + x] = y < 10 ? 3 : (y % 9 < 5 && (x * 5 + y) % 7 < 4 ? uint8_t(4 + (x / 13) % 6) : 1);
    for (int f = 0; f < frames; ++f) {
        // One more character on the line being typed.
        const int cx = 8 + (f % 30) * 6, cy = 100 + (f / 30) * 12;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 5; ++x)
                screen[std::size_t(cy + y) * W + cx + x] = ((x * 3 + y * (f % 7 + 1)) % 5 < 2) ? uint8_t(10 + f % 4) : 1;
        // Every 15th frame the panel shows another page.
        if (f % 15 == 7)
            for (int y = 20; y < 80; ++y)
                for (int x = 110; x < 190; ++x)
                    screen[std::size_t(y) * W + x] = uint8_t(14 + ((x + y * (f / 15 + 2)) / 3) % 12 + (y % 6 == 0 ? 4 : 0));
        std::vector<uint8_t> px = screen;
        const int mx = 20 + (f * 7) % 150, my = 15 + (f * 3) % 70;
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x <= y; ++x)
                px[std::size_t(my + y) * W + mx + x] = 31;
        TGIFSubImage frame;
        frame.width = uint16_t(W);
        frame.height = uint16_t(H);
        frame.setPixels(std::move(px));
        frame.addGraphicControl()->delay = 6;
        image.appendFrame(std::move(frame));
    }
    return image;
}

std::vector<uint8_t> readBytes(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TGIFImage readBack(const std::vector<uint8_t> &bytes)
{
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    TGIFImage image;
    image.LoadFromStream(in);
    return image;
}

uint32_t totalDelay(const TGIFImage &image)
{
    uint32_t sum = 0;
    for (int i = 0; i < image.count(); ++i)
        if (image.frame(i).hasPixels() && image.frame(i).graphicControl())
            sum += image.frame(i).graphicControl()->delay;
    return sum;
}

std::filesystem::path tempFile(const std::string &name)
{
    return std::filesystem::temp_directory_path() / ("movaro-export-" + std::to_string(::getpid()) + "-" + name);
}

// An animation whose every frame has a table of its own, made by `table`, and indices by `index`.
TGIFImage framesWithTables(int W, int H, int frames, const std::function<TGIFColorMap(int)> &table,
                           const std::function<uint8_t(int, int, int)> &index)
{
    TGIFImage image;
    image.header.width = uint16_t(W);
    image.header.height = uint16_t(H);
    for (int f = 0; f < frames; ++f) {
        TGIFSubImage frame;
        frame.width = uint16_t(W);
        frame.height = uint16_t(H);
        frame.setColorMap(table(f));
        std::vector<uint8_t> px(std::size_t(W) * H);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                px[std::size_t(y) * W + x] = index(x, y, f);
        frame.setPixels(std::move(px));
        frame.addGraphicControl()->delay = 4;
        image.appendFrame(std::move(frame));
    }
    return image;
}

struct Case {
    const char *name;
    ExportSettings settings;
};

const Case kCases[] = {
    {"plain", {0, 0, 256, Dithering::None, 0}},
    {"optimised", {1, 0, 256, Dithering::None, 0}},
    {"level 2", {2, 0, 256, Dithering::None, 0}},
    {"lossy", {2, 80, 256, Dithering::None, 0}},
    {"8 colours plain", {0, 0, 8, Dithering::None, 0}},
    {"16 colours fs", {2, 0, 16, Dithering::FloydSteinberg, 0}},
    {"4 colours ordered lossy", {2, 40, 4, Dithering::Ordered, 0}},
    {"every 3rd dropped", {1, 0, 256, Dithering::None, 3}},
};

} // namespace

TEST(GifExport, ReportedBytesAreTheSavedFileAndFramesAddUp)
{
    const TGIFImage document = recordingLike();
    Exporter exporter{TGIFImage(document)};
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.name);
        const ExportResult direct = exportCopy(document, c.settings);
        const auto viaCache = exporter.exact(c.settings);
        EXPECT_EQ(direct.bytes, viaCache->bytes);

        const auto path = tempFile("bytes.gif");
        saveExport(*viaCache, path.string());
        EXPECT_EQ(readBytes(path), viaCache->bytes);
        std::filesystem::remove(path);

        const TGIFImage back = readBack(viaCache->bytes);
        ASSERT_EQ(int(viaCache->frameBytes.size()), back.count());
        const std::size_t frames = std::accumulate(viaCache->frameBytes.begin(), viaCache->frameBytes.end(), std::size_t(0));
        // Besides the frames: header, screen, global table and trailer.
        const std::size_t table = back.header.colorMap.empty() ? 0 : 3u << back.header.colorMap.bitSize();
        EXPECT_EQ(viaCache->size(), frames + 13 + table + 1);
        EXPECT_EQ(totalDelay(back), totalDelay(document));
    }
}

TEST(GifExport, FewerColoursAreAtMostThatManyAndKeepThePicture)
{
    const TGIFImage document = recordingLike(3);
    for (int colours : {2, 5, 16}) {
        const TGIFImage back = readBack(exportCopy(document, {0, 0, colours, Dithering::None, 0}).bytes);
        FrameComposer composer(back);
        const Picture p = composer.ComposedFrame(0);
        std::set<uint32_t> seen;
        for (int y = 0; y < p.height(); ++y)
            for (int x = 0; x < p.width(); ++x)
                seen.insert(uint32_t(p.row(y)[3 * x]) << 16 | p.row(y)[3 * x + 1] << 8 | p.row(y)[3 * x + 2]);
        EXPECT_LE(int(seen.size()), colours) << colours;
        EXPECT_GE(int(seen.size()), 2) << colours;
    }
}

TEST(GifExport, DroppingFramesKeepsTheRunningTime)
{
    const TGIFImage document = recordingLike(10);
    for (int n : {2, 3, 7}) {
        const TGIFImage copy = composedCopy(document, 256, Dithering::None, n);
        EXPECT_EQ(copy.count(), 10 - 10 / n) << n;
        EXPECT_EQ(totalDelay(copy), totalDelay(document)) << n;
        // The frame before a dropped one shows for both.
        EXPECT_EQ(copy.frame(n - 2).graphicControl()->delay,
                  document.frame(n - 2).graphicControl()->delay + document.frame(n - 1).graphicControl()->delay)
            << n;
    }
}

TEST(GifExport, FloydSteinbergDithersAgainOnlyWhatChanged)
{
    // Frames of a smooth gradient, which error diffusion dithers all over, with a small square
    // moving over it; then one shifted by a pixel, which changes every pixel (a pan).
    TGIFImage image;
    const int W = 64, H = 48, frames = 4;
    image.header.width = W;
    image.header.height = H;
    for (int i = 0; i < 256; ++i)
        image.header.colorMap.entries.push_back(Rgb{uint8_t(i), uint8_t(255 - i), uint8_t(i / 2)});
    for (int f = 0; f < frames; ++f) {
        std::vector<uint8_t> px(std::size_t(W) * H);
        const int shift = f == frames - 1 ? 1 : 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                px[std::size_t(y) * W + x] = uint8_t((x + shift) * 3 + y);
        for (int y = 10; y < 16; ++y)
            for (int x = 8 + f * 10; x < 14 + f * 10; ++x)
                px[std::size_t(y) * W + x] = 255;
        TGIFSubImage frame;
        frame.width = uint16_t(W);
        frame.height = uint16_t(H);
        frame.setPixels(std::move(px));
        frame.addGraphicControl()->delay = 4;
        image.appendFrame(std::move(frame));
    }
    const TGIFImage copy = composedCopy(image, 8, Dithering::FloydSteinberg, 0);
    ASSERT_EQ(copy.count(), frames);
    // Where neither square is, frame 1 keeps frame 0's indices; inside, it differs.
    const std::vector<uint8_t> &a = copy.frame(0).pixels(), &b = copy.frame(1).pixels();
    std::size_t changedOutside = 0, changedInside = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const bool inSquares = y >= 10 && y < 16 && x >= 8 && x < 24;
            const bool differ = a[std::size_t(y) * W + x] != b[std::size_t(y) * W + x];
            (inSquares ? changedInside : changedOutside) += differ;
        }
    EXPECT_EQ(changedOutside, 0u);
    EXPECT_GT(changedInside, 0u);
    // The pan is dithered whole, not from the frame before: it differs far from the square too.
    const std::vector<uint8_t> &c = copy.frame(2).pixels(), &d = copy.frame(3).pixels();
    std::size_t rowsDiffering = 0;
    for (int y = 30; y < H; ++y)
        rowsDiffering += !std::equal(c.begin() + y * W, c.begin() + (y + 1) * W, d.begin() + y * W);
    EXPECT_GT(rowsDiffering, 10u);
}

TEST(GifExport, FramesWithHolesClearOnlyWhereTheNextUnpaintsAndKeepThePicture)
{
    // A screen with a hole that stays (the first frame's transparent corner) and a pointer
    // moving; one pointer frame is cleared after it shows, so that the next frame leaves
    // unpainted what it painted.
    TGIFImage image;
    const int W = 48, H = 32;
    image.header.width = W;
    image.header.height = H;
    image.header.colorMap.entries = {Rgb{10, 20, 30}, Rgb{200, 180, 40}, Rgb{250, 0, 0}, Rgb{0, 0, 0}};
    auto add = [&](int left, int top, int w, int h, uint8_t value, int disposal) {
        TGIFSubImage frame;
        frame.left = uint16_t(left);
        frame.top = uint16_t(top);
        frame.width = uint16_t(w);
        frame.height = uint16_t(h);
        std::vector<uint8_t> px(std::size_t(w) * h, value);
        if (value == 0)
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    px[std::size_t(y) * w + x] = x < 8 && y < 8 ? 3 : uint8_t((x / 3 + y / 2) % 2);
        frame.setPixels(std::move(px));
        TGIFGraphicControlExtension *g = frame.addGraphicControl();
        g->delay = 5;
        g->setTransparent(true);
        g->transparentIndex = 3;
        g->setDisposal(disposal);
        image.appendFrame(std::move(frame));
    };
    add(0, 0, W, H, 0, 1);
    for (int f = 0; f < 6; ++f)
        add(12 + 4 * f, 10, 4, 4, 2, f == 3 ? 2 : 1);

    const TGIFImage back = readBack(exportCopy(image, {1, 0, 8, Dithering::None, 0}).bytes);
    ASSERT_EQ(back.count(), image.count());
    FrameComposer source(image), saved(back);
    source.setTrackCoverage(true);
    saved.setTrackCoverage(true);
    int cut = 0;
    for (int i = 0; i < image.count(); ++i) {
        SCOPED_TRACE(i);
        const Picture a = source.ComposedFrame(i), b = saved.ComposedFrame(i);
        ASSERT_EQ(source.coverage(), saved.coverage());
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                if (source.coverage()[std::size_t(y) * W + x]) {
                    ASSERT_EQ(std::memcmp(a.row(y) + 3 * x, b.row(y) + 3 * x, 3), 0) << x << "," << y;
                }
            }
        cut += back.frame(i).width < W || back.frame(i).height < H;
    }
    // The frames that keep the one before are cut to what changed.
    EXPECT_GE(cut, 4);
}

TEST(GifExport, TheSampledEstimateOfAChangeIsWithinTwoAndAHalfPercentOfTheFile)
{
    // As the dialog goes: each change is estimated from the sample and the exact sizes known,
    // then exported exactly. The estimate never exports the whole animation.
    Exporter exporter(typingRecording());
    exporter.exact(ExportSettings{});
    // On this small screen, whose frames are mostly a few pixels and their overhead, within 2.5 %.
    const ExportSettings changes[] = {
        {2, 40, 256, Dithering::None, 0},  {2, 80, 256, Dithering::None, 0},    {2, 80, 64, Dithering::None, 0},
        {2, 80, 16, Dithering::None, 0},   {2, 80, 16, Dithering::Ordered, 0}, {2, 0, 16, Dithering::Ordered, 0},
        {2, 0, 16, Dithering::FloydSteinberg, 0},
        // Dropping frames: the stretches the frames dropped leave, beside the same stretches kept whole.
        {2, 0, 16, Dithering::Ordered, 2}, {2, 0, 16, Dithering::Ordered, 3}, {2, 0, 16, Dithering::FloydSteinberg, 3},
    };
    for (const ExportSettings &s : changes) {
        SCOPED_TRACE(::testing::Message() << "level " << s.level << ", lossy " << s.lossy << ", " << s.colours << " colours, dither "
                                         << int(s.dither) << ", dropping 1 in " << s.dropEvery);
        const double estimate = double(exporter.sampledEstimate(s));
        const double exact = double(exporter.exact(s)->size());
        EXPECT_NEAR(estimate, exact, 0.025 * exact);
    }
}

TEST(GifExport, TheSampledEstimateOfTheOptimisedSaveCodesPiecesAsTheWholeFile)
{
    // A pointer crossing a picture of 32 colours: each frame changes a few pixels of a few
    // colours, which the optimised save codes with the file's table of 32 and a transparent one.
    TGIFImage image;
    const int W = 160, H = 120;
    image.header.width = W;
    image.header.height = H;
    for (int i = 0; i < 32; ++i)
        image.header.colorMap.entries.push_back(Rgb{uint8_t(i * 8), uint8_t(255 - i * 6), uint8_t((i * 37) & 255)});
    for (int f = 0; f < 60; ++f) {
        std::vector<uint8_t> px(std::size_t(W) * H);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                px[std::size_t(y) * W + x] = uint8_t((x / 10 + (y / 15) * 3) % 31);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x <= y; ++x)
                px[std::size_t(20 + f + y) * W + 10 + 2 * f + x] = 31;
        TGIFSubImage frame;
        frame.width = uint16_t(W);
        frame.height = uint16_t(H);
        frame.setPixels(std::move(px));
        frame.addGraphicControl()->delay = 4;
        image.appendFrame(std::move(frame));
    }
    // No file known yet: the sample alone, extrapolated.
    Exporter exporter(std::move(image));
    const ExportSettings level1{1, 0, 32, Dithering::None, 0};
    const double estimate = double(exporter.sampledEstimate(level1));
    const double exact = double(exporter.exact(level1)->size());
    EXPECT_NEAR(estimate, exact, 0.02 * exact);
}

TEST(GifExport, TheSampledEstimateOfFewerColoursHoldsBesideAFileOfFramesWithTablesOfTheirOwn)
{
    // A background of 32 colours and a pointer drawn each frame in 32 colours of its own, each
    // frame with its table: the file of every colour needs a table for most frames, while one
    // palette of fewer colours serves the whole file.
    TGIFImage image = framesWithTables(
        160, 120, 40,
        [](int f) {
            TGIFColorMap table;
            for (int i = 0; i < 32; ++i)
                table.entries.push_back(Rgb{uint8_t(i * 8), uint8_t(200 - i * 5), uint8_t((i * 53) & 255)});
            for (int i = 0; i < 32; ++i)
                table.entries.push_back(Rgb{uint8_t(f * 6), uint8_t(i * 8), uint8_t(128 + i)});
            return table;
        },
        [](int x, int y, int f) {
            const int dx = x - (10 + 3 * f), dy = y - (20 + 2 * f);
            if (dy >= 0 && dy < 8 && dx >= 0 && dx <= dy)
                return uint8_t(32 + (dx * 8 + dy) % 32);
            return uint8_t((x / 10 + (y / 15) * 3) % 32);
        });
    Exporter exporter(std::move(image));
    exporter.exact(ExportSettings{});
    // Its frames are a few dozen bytes, a few of which the sample misses: within 5 %.
    const ExportSettings fewer{2, 0, 32, Dithering::None, 0};
    const double estimate = double(exporter.sampledEstimate(fewer));
    const double exact = double(exporter.exact(fewer)->size());
    EXPECT_NEAR(estimate, exact, 0.05 * exact);
}

TEST(GifExport, TheSampledEstimateOfFramesThatKeepTablesOfTheirOwnCountsTheirTables)
{
    // A film whose every frame has a table of 256 colours of its own (the colours drift from frame
    // to frame), thousands in all: the file keeps each frame's table, which a sample mapped onto
    // one palette would leave out.
    TGIFImage image = framesWithTables(
        200, 150, 40,
        [](int f) {
            TGIFColorMap table;
            for (int i = 0; i < 256; ++i)
                table.entries.push_back(Rgb{uint8_t(i), uint8_t((i + f * 5) & 255), uint8_t(255 - i)});
            return table;
        },
        [](int x, int y, int f) { return uint8_t((x + y + ((x / 7 + y / 5 + f) % 3) * 40) & 255); });
    Exporter exporter(std::move(image));
    // No file known yet, as when the dialog opens.
    const double estimate = double(exporter.sampledEstimate(ExportSettings{}));
    const double exact = double(exporter.exact(ExportSettings{})->size());
    EXPECT_NEAR(estimate, exact, 0.05 * exact);
}

TEST(GifExport, ARaisedCancelFlagStopsTheWork)
{
    const TGIFImage document = recordingLike();
    std::atomic<bool> cancel{true};
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_THROW(exportCopy(document, c.settings, &cancel), ExportCancelled);
    }
    Exporter exporter{TGIFImage(document)};
    EXPECT_THROW(exporter.exact({2, 0, 16, Dithering::FloydSteinberg, 0}, &cancel), ExportCancelled);
    // Nothing half-made was kept: the same settings then give the whole file.
    cancel = false;
    EXPECT_EQ(exporter.exact({2, 0, 16, Dithering::FloydSteinberg, 0}, &cancel)->bytes,
              exportCopy(document, {2, 0, 16, Dithering::FloydSteinberg, 0}).bytes);
}

TEST(GifExport, FitUnderGivesAFileUnderTheTarget)
{
    REQUIRE_CORPUS();
    const auto path = testsupport::corpusPath("blink-images/resources/quicksort.gif");
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    Exporter exporter(openForEditing(path.string()));
    const ExportSettings start{2, 0, 256, Dithering::None, 0};
    const std::size_t lossless = exporter.exact(start)->size();

    // A little less takes some lossiness; a third, fewer colours too; a sixth, fewer frames as well.
    for (const double fraction : {0.95, 0.3, 0.18}) {
        SCOPED_TRACE(fraction);
        const auto target = std::size_t(double(lossless) * fraction);
        const FitResult fit = exporter.fitUnder(start, target);
        ASSERT_TRUE(fit.met);
        EXPECT_LE(fit.size, target);
        const auto result = exporter.exact(fit.settings);
        EXPECT_EQ(result->size(), fit.size);
        const auto saved = tempFile("fit.gif");
        saveExport(*result, saved.string());
        EXPECT_LE(std::filesystem::file_size(saved), target);
        std::filesystem::remove(saved);
        EXPECT_TRUE(fit.settings.lossy > 0 || fit.settings.colours < 256 || fit.settings.dropEvery);
        EXPECT_EQ(fit.settings.colours < 256, fraction < 0.5);
        EXPECT_EQ(fit.settings.dropEvery != 0, fraction < 0.2);
        EXPECT_EQ(fit.framesKept, fit.settings.dropEvery ? fit.framesBefore - fit.framesBefore / fit.settings.dropEvery
                                                          : fit.framesBefore);
    }

    const FitResult impossible = exporter.fitUnder(start, 200);
    EXPECT_FALSE(impossible.met);
    EXPECT_GT(impossible.size, 200u);
    EXPECT_EQ(impossible.size, exporter.exact(impossible.settings)->size());
}
