// Documents written by our writer, read back by giflib: the peer decoder must see exactly our
// indices, colour tables, rectangles and extension bytes.

#include "document/gif_image.h"
#include "document/gif_writer.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using namespace doc;

namespace {

struct MemoryReader {
    const std::string *data;
    std::size_t pos = 0;
};

int readMemory(GifFileType *gif, GifByteType *buf, int len)
{
    auto *r = static_cast<MemoryReader *>(gif->UserData);
    const std::size_t n = std::min<std::size_t>(std::size_t(len), r->data->size() - r->pos);
    std::memcpy(buf, r->data->data() + r->pos, n);
    r->pos += n;
    return int(n);
}

struct GifCloser {
    void operator()(GifFileType *g) const { DGifCloseFile(g, nullptr); }
};
using GifPtr = std::unique_ptr<GifFileType, GifCloser>;

GifPtr slurp(const std::string &bytes, MemoryReader &reader)
{
    reader.data = &bytes;
    int err = 0;
    GifPtr gif(DGifOpen(&reader, readMemory, &err));
    if (!gif)
        ADD_FAILURE() << "DGifOpen: " << GifErrorString(err);
    else if (DGifSlurp(gif.get()) != GIF_OK)
        ADD_FAILURE() << "DGifSlurp: " << GifErrorString(gif->Error);
    return gif;
}

using Block = std::pair<int, std::vector<uint8_t>>;

std::vector<uint8_t> bytesOf(const std::string &s) { return {s.begin(), s.end()}; }

void addLines(std::vector<Block> &blocks, int function, const std::vector<std::string> &lines)
{
    for (const auto &line : lines)
        for (std::size_t at = 0; at < line.size(); at += 255)
            blocks.push_back({blocks.empty() ? function : CONTINUE_EXT_FUNC_CODE,
                              bytesOf(line.substr(at, 255))});
}

/** The blocks DGifSlurp makes of one extension: the first carries the label, the rest continue it. */
std::vector<Block> expectedBlocks(const TGIFExtension &e)
{
    std::vector<Block> blocks;
    if (auto *g = extension_cast<TGIFGraphicControlExtension>(&e)) {
        blocks.push_back({GRAPHICS_EXT_FUNC_CODE,
                          {g->packed, uint8_t(g->delay), uint8_t(g->delay >> 8), g->transparentIndex}});
    } else if (auto *c = extension_cast<TGIFCommentExtension>(&e)) {
        addLines(blocks, COMMENT_EXT_FUNC_CODE, c->lines);
    } else if (auto *t = extension_cast<TGIFTextExtension>(&e)) {
        blocks.push_back({PLAINTEXT_EXT_FUNC_CODE, {t->header.begin() + 1, t->header.end()}});
        for (const auto &line : t->lines)
            for (std::size_t at = 0; at < line.size(); at += 255)
                blocks.push_back({CONTINUE_EXT_FUNC_CODE, bytesOf(line.substr(at, 255))});
    } else if (auto *l = extension_cast<TGIFAppExtNSLoop>(&e)) {
        blocks.push_back({APPLICATION_EXT_FUNC_CODE, bytesOf("NETSCAPE2.0")});
        blocks.push_back({CONTINUE_EXT_FUNC_CODE, {1, uint8_t(l->loops), uint8_t(l->loops >> 8)}});
        if (l->bufferSize)
            blocks.push_back({CONTINUE_EXT_FUNC_CODE,
                              {2, uint8_t(l->bufferSize), uint8_t(l->bufferSize >> 8),
                               uint8_t(l->bufferSize >> 16), uint8_t(l->bufferSize >> 24)}});
    } else if (auto *a = extension_cast<TGIFUnknownAppExtension>(&e)) {
        std::vector<uint8_t> id(11, 0);
        std::memcpy(id.data(), a->identifier.data(), std::min<std::size_t>(11, a->identifier.size()));
        blocks.push_back({APPLICATION_EXT_FUNC_CODE, id});
        for (const auto &b : a->subBlocks)
            blocks.push_back({CONTINUE_EXT_FUNC_CODE, b});
    }
    return blocks;
}

std::string randomText(std::mt19937 &rng, int maxLength)
{
    std::string s(std::size_t(rng() % (maxLength + 1)), ' ');
    for (char &c : s)
        c = char(rng() % 256);
    return s;
}

std::vector<std::string> randomLines(std::mt19937 &rng)
{
    std::vector<std::string> lines(1 + rng() % 3);
    for (auto &line : lines)
        line = randomText(rng, rng() % 3 == 0 ? 600 : 40);
    // giflib's DGifSlurp misreads an extension without any data sub-block (valid GIF, which our
    // writer emits for a comment of empty lines), so keep at least one byte of text here.
    if (lines.back().empty())
        lines.back() = "x";
    return lines;
}

std::unique_ptr<TGIFExtension> randomExtension(std::mt19937 &rng, int kind, int tableSize)
{
    switch (kind) {
    case 0: {
        auto g = std::make_unique<TGIFGraphicControlExtension>();
        g->packed = uint8_t(rng() % 32);
        g->delay = uint16_t(rng());
        g->transparentIndex = uint8_t(rng() % tableSize);
        return g;
    }
    case 1: {
        auto c = std::make_unique<TGIFCommentExtension>();
        c->lines = randomLines(rng);
        return c;
    }
    case 2: {
        auto t = std::make_unique<TGIFTextExtension>();
        for (std::size_t i = 1; i < t->header.size(); ++i)
            t->header[i] = uint8_t(rng());
        t->lines = randomLines(rng);
        return t;
    }
    case 3: {
        auto l = std::make_unique<TGIFAppExtNSLoop>();
        l->loops = uint16_t(rng());
        l->bufferSize = rng() % 2 ? uint32_t(rng()) : 0;
        return l;
    }
    default: {
        auto a = std::make_unique<TGIFUnknownAppExtension>();
        a->identifier = rng() % 2 ? "XMP DataXMP" : "ABCDEFGH10"; // 11 bytes, or 10 as read
        a->subBlocks.resize(rng() % 3);
        for (auto &b : a->subBlocks) {
            b.resize(1 + rng() % 255);
            for (auto &v : b)
                v = uint8_t(rng());
        }
        return a;
    }
    }
}

/** Indices mixing noise and runs, so that both short and long strings (and table resets) occur. */
std::vector<uint8_t> randomIndices(std::mt19937 &rng, std::size_t area, int tableSize)
{
    std::vector<uint8_t> px(area);
    const int style = int(rng() % 3);
    uint8_t run = 0;
    for (std::size_t i = 0; i < area; ++i) {
        if (style == 0 || rng() % (style == 1 ? 4 : 40) == 0)
            run = uint8_t(rng() % tableSize);
        px[i] = run;
    }
    return px;
}

} // namespace

TEST(WriterGiflib, RandomDocumentsDecodeToTheSameIndicesTablesAndExtensions)
{
    std::mt19937 rng(20260314);
    for (int doc = 0; doc < 40; ++doc) {
        TGIFImage image;
        const int frames = 1 + int(rng() % 4);
        for (int f = 0; f < frames; ++f) {
            TGIFSubImage frame;
            frame.width = uint16_t(1 + rng() % 300);
            frame.height = uint16_t(1 + rng() % 200);
            frame.left = uint16_t(rng() % 50);
            frame.top = uint16_t(rng() % 50);
            // Favour the small and boundary table sizes, where the code size changes.
            static const int sizes[] = {1, 2, 3, 4, 5, 16, 17, 128, 129, 255, 256};
            const int tableSize = rng() % 2 ? sizes[rng() % std::size(sizes)] : 1 + int(rng() % 256);
            TGIFColorMap map;
            for (int c = 0; c < tableSize; ++c)
                map.entries.push_back({uint8_t(rng()), uint8_t(rng()), uint8_t(rng())});
            map.sorted = rng() % 4 == 0;
            frame.setColorMap(map);
            frame.setPixels(randomIndices(rng, std::size_t(frame.width) * frame.height, tableSize));
            const int extensions = int(rng() % 5);
            for (int e = 0; e < extensions; ++e)
                frame.appendExtension(randomExtension(rng, int(rng() % 5), tableSize));
            TGIFSubImage &added = image.appendFrame(std::move(frame));
            image.header.width = std::max<uint16_t>(image.header.width, uint16_t(added.left + added.width));
            image.header.height = std::max<uint16_t>(image.header.height, uint16_t(added.top + added.height));
        }

        std::ostringstream out;
        image.SaveToStream(out);
        const std::string bytes = out.str();
        MemoryReader reader;
        GifPtr gif = slurp(bytes, reader);
        ASSERT_TRUE(gif) << "document " << doc;
        ASSERT_EQ(gif->ImageCount, image.count()) << "document " << doc;
        EXPECT_EQ(gif->SWidth, image.header.width);
        EXPECT_EQ(gif->SHeight, image.header.height);
        EXPECT_EQ(gif->SColorMap, nullptr);
        EXPECT_EQ(gif->ExtensionBlockCount, 0) << "no extension is left after the last image";

        for (int f = 0; f < image.count(); ++f) {
            SCOPED_TRACE("document " + std::to_string(doc) + " frame " + std::to_string(f));
            const TGIFSubImage &ours = image.frame(f);
            const SavedImage &theirs = gif->SavedImages[f];
            EXPECT_EQ(theirs.ImageDesc.Left, ours.left);
            EXPECT_EQ(theirs.ImageDesc.Top, ours.top);
            ASSERT_EQ(theirs.ImageDesc.Width, ours.width);
            ASSERT_EQ(theirs.ImageDesc.Height, ours.height);
            EXPECT_FALSE(theirs.ImageDesc.Interlace);

            const ColorMapObject *map = theirs.ImageDesc.ColorMap;
            ASSERT_NE(map, nullptr);
            ASSERT_EQ(map->ColorCount, 1 << ours.colorMap().bitSize());
            for (int c = 0; c < map->ColorCount; ++c) {
                const auto &entries = ours.colorMap().entries;
                const Rgb want = c < int(entries.size()) ? entries[std::size_t(c)] : Rgb{};
                const GifColorType got = map->Colors[c];
                EXPECT_EQ(Rgb(got.Red, got.Green, got.Blue), want) << "entry " << c;
            }

            const std::vector<uint8_t> decoded(theirs.RasterBits,
                                               theirs.RasterBits + std::size_t(ours.width) * ours.height);
            EXPECT_TRUE(decoded == ours.pixels()) << "indices differ";

            std::vector<Block> want;
            for (int e = 0; e < ours.extensionCount(); ++e)
                for (auto &b : expectedBlocks(*ours.extension(e)))
                    want.push_back(std::move(b));
            std::vector<Block> got;
            for (int e = 0; e < theirs.ExtensionBlockCount; ++e) {
                const ExtensionBlock &b = theirs.ExtensionBlocks[e];
                got.push_back({b.Function, {b.Bytes, b.Bytes + b.ByteCount}});
            }
            EXPECT_TRUE(got == want) << "extension blocks differ";
        }
    }
}

TEST(WriterGiflib, LargeNoisyFrameSurvivesManyTableResets)
{
    // 256 colours of noise fill the 4095-code table every few thousand pixels.
    std::mt19937 rng(7);
    TGIFSubImage frame;
    frame.width = 1000;
    frame.height = 600;
    TGIFColorMap map;
    map.entries.resize(256);
    frame.setColorMap(map);
    std::vector<uint8_t> px(600000);
    for (std::size_t i = 0; i < px.size(); ++i)
        px[i] = i % 3 ? uint8_t(rng()) : uint8_t(i / 997); // some repetition among the noise
    frame.setPixels(px);
    TGIFImage image;
    image.header.width = 1000;
    image.header.height = 600;
    image.appendFrame(std::move(frame));

    std::ostringstream out;
    image.SaveToStream(out);
    const std::string bytes = out.str();
    MemoryReader reader;
    GifPtr gif = slurp(bytes, reader);
    ASSERT_TRUE(gif);
    ASSERT_EQ(gif->ImageCount, 1);
    EXPECT_TRUE(std::equal(px.begin(), px.end(), gif->SavedImages[0].RasterBits));
}
