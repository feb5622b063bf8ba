// The reader against GIF files and expectations written by other projects.

#include "document/gif_error.h"
#include "document/gif_reader.h"
#include "support/corpus.h"
#include "support/crc32.h"
#include "support/gif_builder.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using doc::GifError;
using doc::TGIFImage;

using testsupport::crc32;

std::vector<uint8_t> fileBytes(const fs::path &path)
{
    return doc::readWholeFile(path.string());
}

TGIFImage load(const fs::path &path)
{
    TGIFImage image;
    doc::loadFromFile(image, path.string());
    return image;
}

/**
 * image-rs-gif's tests/results.txt: CRC-32 of every frame's own RGBA8 buffer in file order (local
 * table else global; alpha 0 at the transparent index, RGB kept). Frames without an image add nothing.
 */
TEST(GifCorpus, ImageRsGifRawFrameChecksums)
{
    REQUIRE_CORPUS();
    const fs::path dir = testsupport::corpusPath("image-rs-gif");
    std::ifstream results(dir / "tests/results.txt");
    ASSERT_TRUE(results) << "missing results.txt";

    std::string line;
    int checked = 0;
    while (std::getline(results, line)) {
        const auto colon = line.find(": ");
        if (colon == std::string::npos)
            continue;
        const std::string file = line.substr(0, colon);
        const uint32_t expected = uint32_t(std::stoul(line.substr(colon + 2)));
        SCOPED_TRACE(file);

        const TGIFImage image = load(dir / file);
        uint32_t crc = 0;
        std::vector<uint8_t> rgba;
        for (int i = 0; i < image.count(); ++i) {
            const doc::TGIFSubImage &f = image.frame(i);
            if (!f.hasPixels())
                continue;
            const auto &table = f.colorMap().empty() ? image.header.colorMap.entries : f.colorMap().entries;
            const bool transparent = f.transparent();
            const uint8_t t = transparent ? f.graphicControl()->transparentIndex : 0;
            rgba.resize(f.pixels().size() * 4);
            uint8_t *o = rgba.data();
            for (uint8_t index : f.pixels()) {
                const doc::Rgb c = index < table.size() ? table[index] : doc::Rgb{};
                *o++ = c.r;
                *o++ = c.g;
                *o++ = c.b;
                *o++ = transparent && index == t ? 0 : 255;
            }
            crc = crc32(crc, rgba.data(), rgba.size());
        }
        EXPECT_EQ(crc, expected);
        ++checked;
    }
    EXPECT_EQ(checked, 12);
}

/**
 * giflib's gif2rgb -1 dumps: a screen of background indices, every image's indices pasted at its
 * place in file order, mapped through the last image's table (else the global one) to RGB.
 */
TEST(GifCorpus, GiflibScreenDumps)
{
    REQUIRE_CORPUS();
    const fs::path dir = testsupport::corpusPath("giflib");
    int checked = 0;
    for (const char *name : {"fire", "gifgrid", "porsche", "solid2", "treescap", "treescap-interlaced",
                             "welcome2", "x-trans"}) {
        SCOPED_TRACE(name);
        const TGIFImage image = load(dir / "pic" / (std::string(name) + ".gif"));
        const std::vector<uint8_t> expected = fileBytes(dir / "tests" / (std::string(name) + ".rgb"));

        const int w = image.header.width;
        const int h = image.header.height;
        std::vector<uint8_t> screen(std::size_t(w) * h, image.header.background);
        const std::vector<doc::Rgb> *table = &image.header.colorMap.entries;
        for (int i = 0; i < image.count(); ++i) {
            const doc::TGIFSubImage &f = image.frame(i);
            if (!f.hasPixels())
                continue;
            for (int y = 0; y < f.height && f.top + y < h; ++y)
                for (int x = 0; x < f.width && f.left + x < w; ++x)
                    screen[std::size_t(f.top + y) * w + f.left + x] = f.pixels()[std::size_t(y) * f.width + x];
            if (!f.colorMap().empty())
                table = &f.colorMap().entries;
        }
        std::vector<uint8_t> rgb;
        for (uint8_t index : screen) {
            const doc::Rgb c = index < table->size() ? (*table)[index] : doc::Rgb{};
            rgb.insert(rgb.end(), {c.r, c.g, c.b});
        }
        EXPECT_TRUE(rgb == expected) << "screen dump differs";
        ++checked;
    }
    EXPECT_EQ(checked, 8);
}

/** wuffs' raw LZW payloads (first byte the literal width) with their decoded indices. */
TEST(GifCorpus, WuffsLzwPayloads)
{
    REQUIRE_CORPUS();
    const fs::path dir = testsupport::corpusPath("wuffs/test/data");
    for (const char *name : {"bricks-dither", "bricks-gray", "bricks-nodither"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> payload = fileBytes(dir / (std::string(name) + ".indexes.giflzw"));
        const std::vector<uint8_t> expected = fileBytes(dir / (std::string(name) + ".indexes"));
        ASSERT_EQ(expected.size(), 160u * 120u);

        testsupport::GifBuilder g;
        g.header().screen(160, 120).image(160, 120).raw({payload[0]});
        for (std::size_t i = 1; i < payload.size(); i += 255)
            g.subBlock(std::vector<uint8_t>(payload.begin() + long(i),
                                            payload.begin() + long(std::min(payload.size(), i + 255))));
        g.end().trailer();

        TGIFImage image;
        std::vector<std::string> warnings;
        image.onWarning = [&](const std::string &w) { warnings.push_back(w); };
        doc::loadFromBytes(image, g.bytes().data(), g.bytes().size());
        ASSERT_EQ(image.count(), 1);
        EXPECT_TRUE(image.frame(0).pixels() == expected);
        EXPECT_TRUE(warnings.empty());
    }
}

struct MemoryInput {
    const std::vector<uint8_t> *bytes;
    std::size_t pos = 0;
};

int readMemory(GifFileType *gif, GifByteType *out, int n)
{
    auto *in = static_cast<MemoryInput *>(gif->UserData);
    const std::size_t k = std::min(std::size_t(n), in->bytes->size() - in->pos);
    std::memcpy(out, in->bytes->data() + in->pos, k);
    in->pos += k;
    return int(k);
}

/**
 * Every corpus GIF that giflib's DGifSlurp reads without error: the same images (place, size,
 * interlace flag, local table) with the same indices. Differences by rule:
 * - an image descriptor of zero width or height takes the logical screen's size here;
 * - extensions followed by the trailer instead of an image form one more frame here (skipped);
 * - the files below fail here where giflib skips the block.
 */
TEST(GifCorpus, AgreesWithGiflibWhereItReads)
{
    REQUIRE_CORPUS();
    const std::map<std::string, std::string> refused = {
        // An extension label other than 0x01, 0xF9, 0xFE, 0xFF is an error.
        {"issue-209-extension-block-type.gif", "Unknown extension type"},
        {"unknown-extension.gif", "Unknown extension type"},
        // An application extension block size below 10 is an error.
        {"short-app-extension-string.gif", "Unsupported Application Extension block size"},
    };
    int compared = 0;
    for (const auto &entry : fs::recursive_directory_iterator(testsupport::corpusDir())) {
        if (!entry.is_regular_file() || entry.path().extension() != ".gif")
            continue;
        const std::vector<uint8_t> bytes = fileBytes(entry.path());
        MemoryInput input{&bytes};
        int error = 0;
        GifFileType *gif = DGifOpen(&input, readMemory, &error);
        if (!gif)
            continue;
        const bool slurped = DGifSlurp(gif) == GIF_OK;
        std::vector<const SavedImage *> theirs;
        bool zeroSize = false;
        for (int i = 0; slurped && i < gif->ImageCount; ++i) {
            theirs.push_back(&gif->SavedImages[i]);
            zeroSize |= gif->SavedImages[i].ImageDesc.Width == 0 || gif->SavedImages[i].ImageDesc.Height == 0;
        }
        const auto rule = refused.find(entry.path().filename().string());
        if (slurped && rule != refused.end()) {
            SCOPED_TRACE(entry.path().string());
            try {
                TGIFImage image;
                doc::loadFromBytes(image, bytes.data(), bytes.size());
                ADD_FAILURE() << "read without error";
            } catch (const GifError &e) {
                EXPECT_EQ(e.what(), rule->second);
            }
        } else if (slurped && !zeroSize) {
            SCOPED_TRACE(entry.path().string());
            try {
                TGIFImage image;
                doc::loadFromBytes(image, bytes.data(), bytes.size());
                std::vector<const doc::TGIFSubImage *> ours;
                for (int i = 0; i < image.count(); ++i)
                    if (image.frame(i).hasPixels())
                        ours.push_back(&image.frame(i));
                ASSERT_EQ(ours.size(), theirs.size());
                EXPECT_EQ(image.header.width, gif->SWidth);
                EXPECT_EQ(image.header.height, gif->SHeight);
                EXPECT_EQ(image.header.colorMap.count(), gif->SColorMap ? gif->SColorMap->ColorCount : 0);
                for (std::size_t i = 0; i < ours.size(); ++i) {
                    SCOPED_TRACE(i);
                    const doc::TGIFSubImage &f = *ours[i];
                    const GifImageDesc &d = theirs[i]->ImageDesc;
                    EXPECT_EQ(f.left, d.Left);
                    EXPECT_EQ(f.top, d.Top);
                    ASSERT_EQ(f.width, d.Width);
                    ASSERT_EQ(f.height, d.Height);
                    EXPECT_EQ(f.interlaced, bool(d.Interlace));
                    EXPECT_EQ(f.colorMap().count(), d.ColorMap ? d.ColorMap->ColorCount : 0);
                    EXPECT_EQ(0, std::memcmp(f.pixels().data(), theirs[i]->RasterBits, f.pixels().size()))
                        << "indices differ";
                }
                ++compared;
            } catch (const GifError &e) {
                ADD_FAILURE() << "giflib reads it, we fail: " << e.what();
            }
        }
        DGifCloseFile(gif, &error);
    }
    std::printf("%d files compared with giflib\n", compared);
    EXPECT_GT(compared, 100);
}

/**
 * Malformed and fuzzed files: each one reads, or fails with one of our own errors, quickly and
 * within the memory budget. The second reading of the open command is held to the same rule.
 * Files whose outcome is known are pinned below, with the rule that decides it.
 */
TEST(GifCorpus, MalformedFilesFailCleanly)
{
    REQUIRE_CORPUS();
    const std::vector<std::string> folders = {
        "libnsgif/test",
        "image-rs-gif/tests/crashtest",
        "image-rs-gif/tests/stall",
        "image-rs-gif/tests/regression",
        "wuffs/test/data",
        "blink-images/resources",
        "pillow/Tests/images",
        "libvips",
    };
    // Expected outcome of files whose result says something about a rule ("" = reads).
    const std::map<std::string, std::string> pinned = {
        // Both clear codes sit at sub-block boundaries; the file is valid.
        {"issue-208-block-type.gif", ""},
        {"issue-208-block-type-beta.gif", ""},
        // Extension label 0x2A is none of the four kinds.
        {"issue-209-extension-block-type.gif", "Unknown extension type"},
        // A 40-byte file: the frame's first code after a clear names an undefined entry.
        {"issue-101-infinite-empty-loop.gif", "Circular decoder table entry"},
        // Missing pixel data leaves the prefill; surplus data after the last pixel is skipped.
        {"pixel-data-none.gif", ""},
        {"pixel-data-not-enough.gif", ""},
        {"pixel-data-too-much-good-lzw.gif", ""},
        // A zero-width frame takes the logical screen's size (a warning).
        {"zero-width-frame.gif", ""},
    };

    int files = 0;
    int failed = 0;
    for (const std::string &folder : folders) {
        const fs::path dir = testsupport::corpusPath(folder);
        if (!fs::is_directory(dir))
            continue;
        for (const auto &entry : fs::recursive_directory_iterator(dir)) {
            if (!entry.is_regular_file() || entry.path().extension() != ".gif")
                continue;
            const std::string name = entry.path().filename().string();
            SCOPED_TRACE(entry.path().string());
            const std::vector<uint8_t> bytes = fileBytes(entry.path());
            const auto t0 = std::chrono::steady_clock::now();
            std::string outcome;
            try {
                TGIFImage image;
                doc::loadFromBytes(image, bytes.data(), bytes.size());
            } catch (const GifError &e) {
                outcome = e.what();
            } catch (const std::exception &e) {
                ADD_FAILURE() << "not one of our errors: " << e.what();
            }
            try {
                doc::checkOpenable(bytes.data(), bytes.size());
            } catch (const GifError &) {
            } catch (const std::exception &e) {
                ADD_FAILURE() << "second reading, not one of our errors: " << e.what();
            }
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            // Generous for sanitizer builds on a busy machine; a stall would never end.
            EXPECT_LT(seconds, 5.0);
            if (const auto it = pinned.find(name); it != pinned.end()) {
                EXPECT_EQ(outcome, it->second);
            }
            if (std::getenv("GIF_CORPUS_VERBOSE"))
                std::printf("%s: %s (%.3f s)\n", entry.path().c_str(), outcome.empty() ? "read" : outcome.c_str(),
                            seconds);
            failed += !outcome.empty();
            ++files;
        }
    }
    EXPECT_GT(files, 300);
    std::printf("%d files, %d refused with an error\n", files, failed);
}

} // namespace
