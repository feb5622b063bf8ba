// The deeper optimisation: every GIF of the corpus that opens shows the same pictures for the same
// times after it, read back from the bytes it writes; lossy output keeps what is painted and when;
// the plain optimiser writes indices beyond their table as the black they show.

#include "document/composer.h"
#include "document/gif_optimize.h"
#include "document/gif_optimize_deep.h"
#include "document/gif_reader.h"

#include "support/corpus.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace doc;

namespace {

constexpr uint32_t kUnpainted = 0x1000000u;

/** One picture as shown (colour where painted, kUnpainted elsewhere) and how long it shows. */
struct Shown {
    std::vector<uint32_t> pixels;
    uint32_t delay = 0;
    friend bool operator==(const Shown &, const Shown &) = default;
};

/** The pictures in order, a picture that repeats the one before folded into it with its delay. */
std::vector<Shown> timeline(const TGIFImage &image)
{
    FrameComposer composer(image);
    composer.setTrackCoverage(true);
    std::vector<const TGIFSubImage *> sources;
    for (int i = 0; i < image.count(); ++i)
        if (image.frame(i).hasPixels() && image.frame(i).pixelsCoverFrame())
            sources.push_back(&image.frame(i));
    std::vector<Shown> out;
    for (int k = 0; k < composer.count(); ++k) {
        const Picture p = composer.ComposedFrame(k);
        Shown s;
        s.pixels.resize(std::size_t(composer.width()) * composer.height());
        for (int y = 0; y < composer.height(); ++y)
            for (int x = 0; x < composer.width(); ++x) {
                const std::size_t i = std::size_t(y) * composer.width() + x;
                const uint8_t *c = p.row(y) + 3 * x;
                s.pixels[i] = composer.coverage()[i] ? uint32_t(c[0]) << 16 | c[1] << 8 | c[2] : kUnpainted;
            }
        const auto *g = sources[std::size_t(k)]->graphicControl();
        s.delay = g ? g->delay : 0;
        if (!out.empty() && out.back().pixels == s.pixels)
            out.back().delay += s.delay;
        else
            out.push_back(std::move(s));
    }
    return out;
}

TGIFImage readBack(const TGIFImage &image)
{
    std::ostringstream stream;
    image.SaveToStream(stream);
    const std::string bytes = stream.str();
    TGIFImage back;
    loadFromBytes(back, reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    return back;
}

std::size_t sizeOf(const TGIFImage &image)
{
    std::ostringstream stream;
    image.SaveToStream(stream);
    return stream.str().size();
}

} // namespace

TEST(GifOptimizeDeep, EveryCorpusAnimationShowsTheSameAfterwards)
{
    REQUIRE_CORPUS();
    int checked = 0;
    std::size_t plainBytes = 0, deepBytes = 0;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(testsupport::corpusDir())) {
        if (entry.path().extension() != ".gif" || entry.file_size() > (4u << 20))
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
        TGIFImage image;
        try {
            loadFromBytes(image, bytes.data(), bytes.size());
        } catch (const std::exception &) {
            continue; // what does not open has nothing to show
        }
        const std::size_t area = std::size_t(image.header.width) * image.header.height;
        if (image.empty() || area == 0 || area * std::size_t(image.count()) > (40u << 20))
            continue;
        SCOPED_TRACE(entry.path().string());
        std::vector<Shown> expected;
        try {
            expected = timeline(image);
        } catch (const std::exception &) {
            continue; // a screen the composer refuses
        }
        const TGIFImage deep = deepOptimizedCopy(image);
        std::vector<Shown> got;
        ASSERT_NO_THROW(got = timeline(readBack(deep)));
        ASSERT_TRUE(got == expected);
        ++checked;
        ASSERT_NO_THROW(plainBytes += sizeOf(optimizedCopy(image)));
        deepBytes += sizeOf(deep);
    }
    EXPECT_GT(checked, 200);
    EXPECT_LT(deepBytes, plainBytes);
}

TEST(GifOptimizeDeep, RepeatsJoinTheirDelaysAndClearedAreasStayClear)
{
    // Frame 1 repeats frame 0; frame 2 restores its rectangle to nothing after showing, so the
    // screen is empty again for frame 3, which paints a corner only.
    TGIFImage image;
    image.header.width = 4;
    image.header.height = 3;
    auto add = [&](int left, int top, int w, int h, uint8_t index, int disposal, uint16_t delay) {
        TGIFSubImage f;
        f.left = uint16_t(left);
        f.top = uint16_t(top);
        f.width = uint16_t(w);
        f.height = uint16_t(h);
        TGIFColorMap map;
        map.entries = {{255, 0, 0}, {0, 0, 255}};
        f.setColorMap(map);
        f.setPixels(std::vector<uint8_t>(std::size_t(w) * h, index));
        TGIFGraphicControlExtension *g = f.addGraphicControl();
        g->setDisposal(disposal);
        g->delay = delay;
        image.appendFrame(std::move(f));
    };
    add(0, 0, 4, 3, 0, 1, 10);
    add(0, 0, 4, 3, 0, 1, 20);
    add(0, 0, 4, 3, 1, 2, 30);
    add(0, 0, 1, 1, 0, 1, 40);
    const TGIFImage deep = readBack(deepOptimizedCopy(image));
    const std::vector<Shown> shown = timeline(deep);
    EXPECT_EQ(shown, timeline(image));
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].delay, 30u);
    EXPECT_EQ(shown[2].pixels[1], kUnpainted);
    EXPECT_EQ(deep.count(), 3);
}

TEST(GifOptimizeDeep, FramesWhoseColoursFitShareTheGlobalTableWhenTheAnimationHasMore)
{
    // Frame 0 draws 256 colours, more than a global table holds beside a transparent index;
    // the frames after draw a few of them, each a different picture.
    TGIFImage image;
    image.header.width = 16;
    image.header.height = 16;
    std::vector<Rgb> ramp;
    for (int i = 0; i < 256; ++i)
        ramp.push_back(Rgb{uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)});
    auto add = [&](std::vector<uint8_t> pixels) {
        TGIFSubImage f;
        f.width = 16;
        f.height = 16;
        TGIFColorMap map;
        map.entries = ramp;
        f.setColorMap(map);
        f.setPixels(std::move(pixels));
        f.addGraphicControl()->delay = 10;
        image.appendFrame(std::move(f));
    };
    std::vector<uint8_t> all(256);
    for (int i = 0; i < 256; ++i)
        all[std::size_t(i)] = uint8_t(i);
    add(all);
    for (int k = 1; k <= 3; ++k) {
        std::vector<uint8_t> few(256);
        for (std::size_t i = 0; i < few.size(); ++i)
            few[i] = uint8_t((i / std::size_t(k * 3) + std::size_t(k)) % 4 * 40);
        add(few);
    }

    const TGIFImage deep = readBack(deepOptimizedCopy(image));
    EXPECT_EQ(timeline(deep), timeline(image));
    ASSERT_EQ(deep.count(), 4);
    EXPECT_FALSE(deep.frame(0).colorMap().empty());
    for (int k = 1; k < 4; ++k)
        EXPECT_TRUE(deep.frame(k).colorMap().empty()) << "frame " << k << " carries its own table";
    // Only the entries those frames reach are written.
    EXPECT_GE(deep.header.colorMap.count(), 4);
    EXPECT_LE(deep.header.colorMap.count(), 8);
}

TEST(GifOptimizeDeep, FramesKeepTheCodesTheyWereReadFromWhenTheseAreShorter)
{
    // This recording was written by a lossy encoder: its strings are split where a greedy
    // encoder would not split them, and its codes are shorter than a greedy encoding of the same
    // pixels. Frames over the same rectangle as in the file need be no larger than they were.
    REQUIRE_CORPUS();
    const auto path = testsupport::corpusPath("blink-images/resources/count-down-color-test.gif");
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    TGIFImage image;
    loadFromFile(image, path.string());
    const TGIFImage deep = deepOptimizedCopy(image);
    ASSERT_EQ(deep.count(), image.count());
    int compared = 0;
    for (int k = 0; k < image.count(); ++k) {
        const TGIFSubImage &in = image.frame(k), &out = deep.frame(k);
        const auto before = in.pixelCodes();
        if (!before || in.left != out.left || in.top != out.top || in.width != out.width || in.height != out.height)
            continue;
        EXPECT_LE(out.pixelCodes()->codeBytes(), before->codeBytes()) << "frame " << k;
        ++compared;
    }
    EXPECT_GE(compared, 3);
    EXPECT_EQ(timeline(readBack(deep)), timeline(image));
}

TEST(GifOptimizeDeep, LargeFramesWriteUnchangedPixelsTheCheaperWay)
{
    // Two 320 x 240 frames of noise over 128 colours; the second keeps some pixels of the first.
    // Scattered single pixels are cheaper as their colour (a transparent index would take an
    // eighth bit a code); a large unchanged block is cheaper transparent.
    struct Case {
        const char *name;
        bool (*kept)(int x, int y);
        bool transparent;
        int codeSize;
    };
    const Case cases[] = {
        {"scattered", [](int x, int y) { return (x * 7 + y * 3) % 5 == 0; }, false, 7},
        {"block", [](int x, int y) { return x >= 80 && x < 240 && y >= 60 && y < 180; }, true, 8},
    };
    constexpr int W = 320, H = 240;
    std::vector<Rgb> table;
    for (int i = 0; i < 128; ++i)
        table.push_back(Rgb{uint8_t(i * 2), uint8_t(255 - i), uint8_t(i * 37)});
    uint32_t seed = 12345;
    auto noise = [&] {
        seed = seed * 1103515245u + 12345u;
        return uint8_t((seed >> 16) & 127);
    };
    std::vector<uint8_t> first(std::size_t(W) * H);
    for (uint8_t &v : first)
        v = noise();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TGIFImage image;
        image.header.width = W;
        image.header.height = H;
        std::vector<uint8_t> second = first;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                if (!c.kept(x, y))
                    second[std::size_t(y) * W + x] = uint8_t((first[std::size_t(y) * W + x] + 1 + noise() % 127) % 128);
        for (std::vector<uint8_t> *pixels : {&first, &second}) {
            TGIFSubImage f;
            f.width = W;
            f.height = H;
            TGIFColorMap map;
            map.entries = table;
            f.setColorMap(map);
            f.setPixels(*pixels);
            f.addGraphicControl()->delay = 10;
            image.appendFrame(std::move(f));
        }
        const TGIFImage deep = readBack(deepOptimizedCopy(image));
        EXPECT_EQ(timeline(deep), timeline(image));
        ASSERT_EQ(deep.count(), 2);
        EXPECT_EQ(deep.frame(1).transparent(), c.transparent);
        ASSERT_TRUE(deep.frame(1).pixelCodes());
        EXPECT_EQ(deep.frame(1).pixelCodes()->minCodeSize, c.codeSize);
    }
}

TEST(GifOptimizeDeep, LossyKeepsWhatIsPaintedAndWhen)
{
    REQUIRE_CORPUS();
    for (const char *name : {"wuffs/test/data/muybridge.gif", "blink-images/resources/count-down-color-test.gif"}) {
        SCOPED_TRACE(name);
        TGIFImage image;
        const auto path = testsupport::corpusPath(name);
        if (!std::filesystem::exists(path))
            GTEST_SKIP() << path << " missing";
        loadFromFile(image, path.string());
        const std::vector<Shown> exact = timeline(image);
        const TGIFImage lossy = deepOptimizedCopy(image, DeepOptions{80});
        const std::vector<Shown> shown = timeline(readBack(lossy));
        ASSERT_EQ(shown.size(), exact.size());
        double error = 0;
        std::size_t pixels = 0;
        for (std::size_t k = 0; k < shown.size(); ++k) {
            EXPECT_EQ(shown[k].delay, exact[k].delay);
            for (std::size_t i = 0; i < shown[k].pixels.size(); ++i) {
                const uint32_t a = exact[k].pixels[i], b = shown[k].pixels[i];
                ASSERT_EQ(a == kUnpainted, b == kUnpainted);
                if (a == kUnpainted)
                    continue;
                for (int s = 0; s < 24; s += 8) {
                    const int d = int((a >> s) & 0xFF) - int((b >> s) & 0xFF);
                    error += d * d;
                }
                ++pixels;
            }
        }
        EXPECT_LT(error / double(pixels * 3), 100.0) << "mean squared error a channel";
        EXPECT_LT(sizeOf(lossy), sizeOf(deepOptimizedCopy(image)));
    }
}

TEST(GifOptimize, IndicesBeyondTheirTableAreWrittenAsTheyShow)
{
    REQUIRE_CORPUS();
    // Stray indices in a short table, a frame with no table at all, an empty global table.
    for (const char *name : {"gif-test-suite/invalid-colors.gif", "pillow/Tests/images/no_palette.gif",
                             "wuffs/test/data/artificial-gif/empty-palette.gif"}) {
        SCOPED_TRACE(name);
        const auto path = testsupport::corpusPath(name);
        ASSERT_TRUE(std::filesystem::exists(path)) << path;
        TGIFImage image;
        loadFromFile(image, path.string());
        const std::vector<Shown> expected = timeline(image);
        for (const TGIFImage &optimized : {optimizedCopy(image), deepOptimizedCopy(image)}) {
            std::vector<Shown> got;
            ASSERT_NO_THROW(got = timeline(readBack(optimized)));
            EXPECT_TRUE(got == expected);
        }
    }
}
