// A file of a few bytes may announce a frame of a billion pixels: reading, opening, optimising and
// writing it must cost what the file holds, not what it announces.
#include "document/composer.h"
#include "document/gif_error.h"
#include "document/gif_optimize.h"
#include "document/gif_reader.h"
#include "document/gif_writer.h"
#include "document/open_document.h"
#include "support/gif_builder.h"
#include "support/resources.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace {

using doc::FramePixels;
using doc::TGIFImage;
using testsupport::GifBuilder;

/**
 * A 30000 × 30000 screen and zero-size image descriptors, so that each frame takes the screen's
 * size; the data (clear, the index 1, end) end at once. 35 bytes for the plain case.
 */
std::vector<uint8_t> giant(uint8_t imagePacked, bool local, int frames)
{
    GifBuilder g;
    g.header().screen(30000, 30000, local ? 0 : 0x80);
    if (!local)
        g.raw({0, 0, 0, 255, 255, 255});
    for (int i = 0; i < frames; ++i) {
        g.image(0, 0, uint8_t(imagePacked | (local ? 0x80 : 0)));
        if (local)
            g.raw({0, 0, 0, 255, 255, 255});
        g.lzw(2, {4, 1, 5}).end();
    }
    g.trailer();
    return g.bytes();
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + 1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

long peakKilobytes()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

TEST(AnnouncedSize, TinyFilesOfHugeFramesCostWhatTheyHold)
{
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
        int frames;
        std::size_t optimisedSize; // bytes of the optimised save, as when frames were held whole
    };
    const Case cases[] = {
        {"plain", giant(0, false, 1), 1, 609103},
        {"interlaced", giant(0x40, false, 1), 1, 609103},
        {"local table", giant(0, true, 1), 1, 609103},
        // The merge appends a black entry to the global table for the repeated pixels.
        {"two frames", giant(0, false, 2), 2, 609109},
    };
    ASSERT_EQ(cases[0].bytes.size(), 35u);
    const std::string dir = testing::TempDir();

    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const double cpu0 = cpuSeconds();

        TGIFImage image;
        std::vector<std::string> warnings;
        image.onWarning = [&](const std::string &w) { warnings.push_back(w); };
        doc::loadFromBytes(image, c.bytes.data(), c.bytes.size());
        EXPECT_EQ(warnings, std::vector<std::string>(std::size_t(c.frames), "Image exceeds Logical Screen size"));
        ASSERT_EQ(image.count(), c.frames);
        for (int i = 0; i < c.frames; ++i) {
            const auto pixels = image.frame(i).pixelStore();
            ASSERT_TRUE(pixels);
            ASSERT_EQ(pixels->width(), 30000);
            ASSERT_EQ(pixels->height(), 30000);
            EXPECT_EQ(pixels->at(0, 0), 1);
            EXPECT_EQ(pixels->at(1, 0), 0);
            EXPECT_EQ(pixels->at(29999, 29999), 0);
        }

        // Open refuses the screen, as before, but before it costs anything.
        const std::string path = dir + "/giant.gif";
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(c.bytes.data()),
                                                     std::streamsize(c.bytes.size()));
        auto refused = [](auto &&command) {
            try {
                command();
            } catch (const doc::GifError &e) {
                return e.kind() == doc::GifErrorKind::TooLarge;
            }
            return false;
        };
        EXPECT_TRUE(refused([&] { doc::openForEditing(path); }));
        doc::FrameComposer composer(image);
        EXPECT_TRUE(refused([&] { composer.ComposedFrame(0); }));

        // The optimiser leaves one frame (the second repeats the first and is cut away) and the
        // writer encodes its billion pixels.
        const TGIFImage optimised = doc::optimizedCopy(image);
        ASSERT_EQ(optimised.count(), 1);
        std::ostringstream out;
        optimised.SaveToStream(out);
        EXPECT_EQ(out.str().size(), c.optimisedSize);
        std::ostringstream plain;
        image.SaveToStream(plain);

        EXPECT_LT(cpuSeconds() - cpu0, 1.0);
    }
    EXPECT_LT(peakKilobytes(), 256 * 1024);
}

/** Rows of one value here and there, long runs across several clear codes, and stored rows. */
FramePixels mixedRows(int width, int height, uint32_t seed)
{
    std::mt19937 random(seed);
    FramePixels::Builder b(width, height, 3);
    for (int y = 0; y < height; ++y) {
        switch (random() % 4) {
        case 0:
            break; // the fill value
        case 1:
            b.setUniform(y, uint8_t(random() % 4));
            break;
        default: {
            uint8_t *row = b.row(y);
            for (int x = 0; x < width; ++x)
                row[x] = uint8_t(random() % 3 == 0 ? random() % 4 : 3);
        }
        }
    }
    return b.finish();
}

TEST(AnnouncedSize, RunsAreEncodedAsTheirPixelsWouldBe)
{
    for (uint32_t seed : {1u, 2u, 3u}) {
        const FramePixels rows = mixedRows(1500, 400, seed);
        const auto flat = rows.toIndices();
        for (int codeSize : {2, 8}) {
            std::vector<uint8_t> fromRows, fromPixels;
            doc::encodeImageData(rows, codeSize, fromRows);
            doc::encodeImageData(flat->data(), flat->size(), codeSize, fromPixels);
            EXPECT_EQ(fromRows, fromPixels) << "seed " << seed << ", code size " << codeSize;
        }
    }
}

TEST(AnnouncedSize, RowsOfOneValueComposeAndOptimiseAsTheirPixels)
{
    // The same animation held as rows and as flat indices: the composer and the optimised save
    // must not tell them apart.
    auto animation = [](bool asRows) {
        TGIFImage image;
        image.header.width = 700;
        image.header.height = 300;
        for (int i = 0; i < 4; ++i) {
            doc::TGIFSubImage f;
            doc::TGIFColorMap map;
            map.entries = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
            f.setColorMap(map);
            FramePixels rows = mixedRows(600 - 50 * i, 250, 10 + uint32_t(i % 2));
            f.left = uint16_t(20 * i);
            f.top = uint16_t(10 * i);
            if (asRows) {
                f.setPixelStore(rows);
            } else {
                f.width = uint16_t(rows.width());
                f.height = uint16_t(rows.height());
                f.setPixels(*rows.toIndices());
            }
            auto *g = f.addGraphicControl();
            g->delay = 10;
            g->setDisposal(i == 2 ? 2 : 1);
            g->setTransparent(i > 0);
            g->transparentIndex = 3;
            image.appendFrame(std::move(f));
        }
        return image;
    };
    const TGIFImage rows = animation(true);
    const TGIFImage flat = animation(false);

    doc::FrameComposer a(rows), b(flat);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(a.ComposedFrame(i).data(), b.ComposedFrame(i).data()) << "frame " << i;

    std::ostringstream fromRows, fromFlat;
    doc::optimizedCopy(rows).SaveToStream(fromRows);
    doc::optimizedCopy(flat).SaveToStream(fromFlat);
    EXPECT_EQ(fromRows.str(), fromFlat.str());
}

TEST(AnnouncedSize, MergingFramesOfOneValueCostsWhatTheyHold)
{
    // Two frames of 20000 × 8000 announced by 50 bytes, the second one pixel to the right: each row
    // of the overlap repeats the first frame in part, which a row of one value cannot say. Merging
    // them would store 160 MB of rows; the merge is left out instead.
    GifBuilder g;
    g.header().screen(20001, 8000, 0x80).colorTable(2);
    for (uint16_t left : {0, 1})
        g.image(20000, 8000, 0, left).lzw(2, {4, 0, 5}).end();
    const std::vector<uint8_t> bytes = g.trailer().bytes();
    TGIFImage image;
    doc::loadFromBytes(image, bytes.data(), bytes.size());
    ASSERT_EQ(image.count(), 2);

    testsupport::resetPeakResident();
    const long before = testsupport::peakResidentKilobytes();
    const double cpu0 = cpuSeconds();
    std::ostringstream out;
    doc::optimizedCopy(image).SaveToStream(out);
    EXPECT_LT(cpuSeconds() - cpu0, 1.0);
    EXPECT_LT(testsupport::peakResidentKilobytes() - before, 64 * 1024);

    TGIFImage back;
    doc::loadFromBytes(back, reinterpret_cast<const uint8_t *>(out.str().data()), out.str().size());
    ASSERT_EQ(back.count(), 2);
    EXPECT_EQ(back.frame(1).left, 1);
}

} // namespace
