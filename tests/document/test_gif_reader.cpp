#include "document/gif_error.h"
#include "document/gif_reader.h"
#include "support/gif_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <random>
#include <sstream>

namespace {

using doc::GifError;
using doc::GifErrorKind;
using doc::TGIFImage;
using testsupport::GifBuilder;

struct Read {
    TGIFImage image;
    std::vector<std::string> warnings;
};

Read read(const std::vector<uint8_t> &bytes)
{
    Read r;
    r.image.onWarning = [&r](const std::string &w) { r.warnings.push_back(w); };
    doc::loadFromBytes(r.image, bytes.data(), bytes.size());
    r.image.onWarning = nullptr;
    return r;
}

Read read(const GifBuilder &g)
{
    return read(g.bytes());
}

/** The GifError a read throws, or nothing. */
std::optional<GifError> readError(const std::vector<uint8_t> &bytes)
{
    try {
        TGIFImage image;
        doc::loadFromBytes(image, bytes.data(), bytes.size());
    } catch (const GifError &e) {
        return e;
    }
    return std::nullopt;
}

/** A 2 × 2 screen with a 4-colour global table: the start of most cases below. */
GifBuilder small()
{
    GifBuilder g;
    g.header().screen(2, 2, 0x80 | 1).colorTable(4);
    return g;
}

std::vector<uint8_t> rows(const std::vector<std::vector<uint8_t>> &r)
{
    std::vector<uint8_t> out;
    for (const auto &row : r)
        out.insert(out.end(), row.begin(), row.end());
    return out;
}

TEST(GifReader, ReadsFramesExtensionsAndTables)
{
    const Read r = read(testsupport::sampleAnimation());
    const TGIFImage &image = r.image;
    EXPECT_TRUE(r.warnings.empty());
    EXPECT_EQ(std::string(image.header.version.data(), 3), "89a");
    EXPECT_EQ(image.header.width, 4);
    EXPECT_EQ(image.header.height, 3);
    EXPECT_EQ(image.header.packed, 0x81);
    ASSERT_EQ(image.header.colorMap.count(), 4);
    EXPECT_EQ(image.header.colorMap.entries[3], (doc::Rgb{3, 252, 21}));
    EXPECT_FALSE(image.header.colorMap.sorted);
    ASSERT_EQ(image.count(), 2);

    const doc::TGIFSubImage &f0 = image.frame(0);
    ASSERT_EQ(f0.extensionCount(), 3);
    const auto *loop = doc::extension_cast<doc::TGIFAppExtNSLoop>(f0.extension(0));
    ASSERT_TRUE(loop);
    EXPECT_EQ(loop->loops, 0);
    EXPECT_EQ(loop->identifier, "NETSCAPE2.0");
    const auto *comment = doc::extension_cast<doc::TGIFCommentExtension>(f0.extension(1));
    ASSERT_TRUE(comment);
    EXPECT_EQ(comment->lines, std::vector<std::string>{"made by hand"});
    ASSERT_EQ(f0.graphicControl(), f0.extension(2));
    EXPECT_EQ(f0.graphicControl()->delay, 10);
    EXPECT_EQ(f0.graphicControl()->disposal(), 1);
    EXPECT_TRUE(f0.transparent());
    EXPECT_TRUE(f0.colorMap().empty());
    EXPECT_EQ(f0.pixels(), (std::vector<uint8_t>{0, 1, 2, 3, 3, 2, 1, 0, 3, 3, 0, 0}));

    const doc::TGIFSubImage &f1 = image.frame(1);
    EXPECT_EQ(f1.left, 1);
    EXPECT_EQ(f1.width, 2);
    EXPECT_EQ(f1.height, 3);
    EXPECT_TRUE(f1.interlaced);
    EXPECT_EQ(f1.colorMap().count(), 2);
    EXPECT_FALSE(f1.colorMap().sorted);
    EXPECT_EQ(f1.graphicControl()->disposal(), 2);
    EXPECT_FALSE(f1.transparent());
    // File order is rows 0, 2, 1.
    EXPECT_EQ(f1.pixels(), rows({{0, 1}, {0, 0}, {1, 1}}));
}

TEST(GifReader, SortFlagsOfBothTables)
{
    // Bit 3 on the screen, bit 5 on an image; 0x20 on the screen is colour resolution, not sorting.
    GifBuilder g;
    g.header().screen(1, 1, 0x80 | 0x08).colorTable(2).image(1, 1, 0x80 | 0x20).colorTable(2).pixels(2, {1});
    g.raw({0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0x80 | 0x08}).colorTable(2).pixels(2, {1}).trailer();
    GifBuilder h;
    h.header().screen(1, 1, 0x80 | 0x20).colorTable(2).trailer();
    const Read r = read(g);
    EXPECT_TRUE(r.image.header.colorMap.sorted);
    EXPECT_TRUE(r.image.frame(0).colorMap().sorted);
    EXPECT_FALSE(r.image.frame(1).colorMap().sorted);
    EXPECT_FALSE(read(h).image.header.colorMap.sorted);
}

TEST(GifReader, InterlacedRowsFollowTheFourPasses)
{
    // Rows in file order: pass 1 (0, 8), pass 2 (4), pass 3 (2, 6), pass 4 (1, 3, 5, 7, 9);
    // each row holds its own number.
    const std::vector<uint8_t> fileOrder = {0, 8, 4, 2, 6, 1, 3, 5, 7, 9};
    std::vector<uint8_t> data;
    for (uint8_t row : fileOrder)
        data.insert(data.end(), {row, row, row});
    GifBuilder g;
    g.header().screen(3, 10, 0x80 | 3).colorTable(16).image(3, 10, 0x40).pixels(4, data).trailer();
    const Read r = read(g);
    std::vector<uint8_t> expected;
    for (uint8_t y = 0; y < 10; ++y)
        expected.insert(expected.end(), {y, y, y});
    EXPECT_EQ(r.image.frame(0).pixels(), expected);
}

TEST(GifReader, CommentAfterLastImageIsOneMoreFrameWithoutPixels)
{
    GifBuilder g = small();
    g.image(2, 2).pixels(2, {1, 2, 3, 0}).comment({"end"}).trailer();
    const Read r = read(g);
    ASSERT_EQ(r.image.count(), 2);
    EXPECT_FALSE(r.image.frame(1).hasPixels());
    EXPECT_EQ(r.image.frame(1).width, 0);
    ASSERT_EQ(r.image.frame(1).extensionCount(), 1);
    EXPECT_EQ(doc::extension_cast<doc::TGIFCommentExtension>(r.image.frame(1).extension(0))->lines,
              std::vector<std::string>{"end"});
    EXPECT_TRUE(r.warnings.empty());
}

TEST(GifReader, CommentSubBlocksAreLinesCutAtTheirFirstZero)
{
    GifBuilder g = small();
    g.comment({std::string(255, 'a'), std::string(45, 'b'), std::string("ab\0cd", 5)}).trailer();
    const Read r = read(g);
    ASSERT_EQ(r.image.count(), 1);
    const auto *c = doc::extension_cast<doc::TGIFCommentExtension>(r.image.frame(0).extension(0));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->lines, (std::vector<std::string>{std::string(255, 'a'), std::string(45, 'b'), "ab"}));
}

TEST(GifReader, MissingPixelsKeepTheTransparentIndexOrZero)
{
    struct Case {
        const char *name;
        uint8_t gcePacked;
        std::vector<uint8_t> expected;
    };
    const Case cases[] = {
        {"transparent", 1, {1, 2, 3, 3}},
        {"opaque", 0, {1, 2, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        // Cut inside the pixel data: two of four pixels, no end code, no terminator, no trailer.
        // 8-bit codes, so no padding bits make up a code of their own.
        GifBuilder g = small();
        g.graphicControl(c.gcePacked, 0, 3).image(2, 2).lzw(7, {128, 1, 2});
        const Read r = read(g);
        ASSERT_EQ(r.image.count(), 1);
        EXPECT_EQ(r.image.frame(0).pixels(), c.expected);
        EXPECT_EQ(r.warnings, std::vector<std::string>{"Decoder bit buffer under-run"});
    }
}

TEST(GifReader, EarlyEndAfterAStringKeepsThePrefillBehindIt)
{
    // Code 6 ("1 2") is copied from the start of the frame into pixels 8 and 9, then the end code:
    // pixels 10 to 19 stay at the transparent index.
    GifBuilder g = small();
    g.graphicControl(1, 0, 3).image(5, 4).lzw(2, {4, 1, 2, 1, 2, 1, 2, 1, 2, 6, 5}).end().trailer();
    const Read r = read(g);
    std::vector<uint8_t> expected = {1, 2, 1, 2, 1, 2, 1, 2, 1, 2};
    expected.resize(20, 3);
    EXPECT_EQ(r.image.frame(0).pixels(), expected);
    EXPECT_TRUE(r.warnings.empty());
}

TEST(GifReader, LargeFrameFromFewBytes)
{
    // Two pixels of data for a 4000 × 4000 frame: the rest is prefill, with the under-run warning.
    GifBuilder g = small();
    g.graphicControl(1, 0, 3).image(4000, 4000).lzw(7, {128, 1, 2}).end().trailer();
    const Read r = read(g);
    const std::vector<uint8_t> &pixels = r.image.frame(0).pixels();
    ASSERT_EQ(pixels.size(), 16'000'000u);
    EXPECT_EQ(pixels[0], 1);
    EXPECT_EQ(pixels[1], 2);
    EXPECT_EQ(std::count(pixels.begin() + 2, pixels.end(), 3), 16'000'000 - 2);
    EXPECT_EQ(r.warnings, std::vector<std::string>{"Decoder bit buffer under-run"});

    // Corrupt data for a 30000 × 30000 frame fails on the data, whatever the frame's size.
    const std::optional<GifError> e = readError(small().image(30000, 30000).lzw(2, {4, 1, 7}).end().bytes());
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->kind(), GifErrorKind::CircularTable);
}

TEST(GifReader, TransparencyPrefillUsesThePrimaryControlIndex)
{
    // The second control extension sets the flag; the index comes from the first (primary) one.
    GifBuilder g = small();
    g.graphicControl(0, 0, 2).graphicControl(1, 0, 3).image(2, 2).lzw(2, {4, 1, 5}).end().trailer();
    const Read r = read(g);
    const doc::TGIFSubImage &f = r.image.frame(0);
    EXPECT_EQ(f.extensionCount(), 2);
    EXPECT_EQ(f.graphicControl(), f.extension(0));
    EXPECT_EQ(f.pixels(), (std::vector<uint8_t>{1, 2, 2, 2}));
}

TEST(GifReader, TransparentFramePictureKeepsColoursAndMasksTheIndex)
{
    const Read r = read(testsupport::sampleAnimation());
    const doc::Picture &p = r.image.picture(0);
    ASSERT_EQ(p.width(), 4);
    ASSERT_EQ(p.height(), 3);
    EXPECT_FALSE(p.designatedTransparentColor().has_value());
    EXPECT_EQ(p.pixel(3, 0), (doc::Rgb{3, 252, 21})); // index 3, the transparent one
    const std::vector<uint8_t> &mask = r.image.mask(0);
    ASSERT_EQ(mask.size(), 3u * 2u); // rows padded to 16 bits
    EXPECT_EQ(mask[0], 0x10);        // row 0: 0 1 2 [3]
    EXPECT_EQ(mask[2], 0x80);        // row 1: [3] 2 1 0
    EXPECT_EQ(mask[4], 0xC0);        // row 2: [3 3] 0 0
    EXPECT_TRUE(r.image.mask(1).empty());
}

TEST(GifReader, LoopExtensionForms)
{
    struct Case {
        const char *name;
        std::string identifier;
        std::vector<std::vector<uint8_t>> subBlocks;
        uint16_t loops;
        uint32_t buffer;
    };
    const Case cases[] = {
        {"forever", "NETSCAPE2.0", {{1, 0, 0}}, 0, 0},
        {"count and buffer", "NETSCAPE2.0", {{1, 5, 1}, {2, 1, 2, 3, 4}}, 261, 0x04030201},
        {"other id, unknown sub-block skipped", "ANIMEXTS1.0", {{3, 9}, {9, 7, 0}}, 7, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        GifBuilder g = small();
        g.raw({0x21, 0xFF, 11}).raw(c.identifier);
        for (const auto &b : c.subBlocks)
            g.subBlock(b);
        g.end().trailer();
        const Read r = read(g);
        const auto *loop = doc::extension_cast<doc::TGIFAppExtNSLoop>(r.image.frame(0).extension(0));
        ASSERT_TRUE(loop);
        EXPECT_EQ(loop->identifier, c.identifier);
        EXPECT_EQ(loop->loops, c.loops);
        EXPECT_EQ(loop->bufferSize, c.buffer);
    }
}

TEST(GifReader, OtherExtensionsAreKeptAsTheyStand)
{
    GifBuilder g = small();
    g.raw({0x21, 0xFF, 11}).raw("XMP DataXMP").subBlock({1, 2, 3}).subBlock({4}).end();
    g.raw({0x21, 0xFF, 10}).raw("TENBYTESID").subBlock({9}).end();
    g.raw({0x21, 0x01, 12, 0, 0, 0, 0, 8, 0, 8, 0, 4, 4, 1, 0}).subBlock({'h', 'i'}).end();
    g.trailer();
    const Read r = read(g);
    const doc::TGIFSubImage &f = r.image.frame(0);
    ASSERT_EQ(f.extensionCount(), 3);
    const auto *xmp = doc::extension_cast<doc::TGIFUnknownAppExtension>(f.extension(0));
    ASSERT_TRUE(xmp);
    EXPECT_EQ(xmp->identifier, "XMP DataXMP");
    EXPECT_EQ(xmp->subBlocks, (std::vector<std::vector<uint8_t>>{{1, 2, 3}, {4}}));
    const auto *ten = doc::extension_cast<doc::TGIFUnknownAppExtension>(f.extension(1));
    ASSERT_TRUE(ten);
    EXPECT_EQ(ten->identifier, "TENBYTESID");
    const auto *text = doc::extension_cast<doc::TGIFTextExtension>(f.extension(2));
    ASSERT_TRUE(text);
    EXPECT_EQ(text->header[5], 8);
    EXPECT_EQ(text->lines, std::vector<std::string>{"hi"});
}

TEST(GifReader, LzwDecoding)
{
    struct Case {
        const char *name;
        int minCodeSize;
        std::vector<int> codes;
        std::vector<uint8_t> expected;
        std::vector<std::string> warnings;
    };
    const Case cases[] = {
        // Code 6 is defined by the very code that uses it: 0 then 0 0.
        {"code equal to the next free one", 2, {4, 0, 6, 5}, {0, 0, 0, 0}, {}},
        {"string code", 2, {4, 1, 2, 6, 5}, {1, 2, 1, 2}, {}},
        {"clear in the middle", 2, {4, 3, 2, 4, 1, 0, 5}, {3, 2, 1, 0}, {}},
        {"no leading clear", 2, {3, 3, 6, 5}, {3, 3, 3, 3}, {}},
        {"end code early", 2, {4, 3, 5, 1, 1, 1}, {3, 0, 0, 0}, {}},
        // Once every pixel is set the rest is not decoded, not even a bad code.
        {"surplus codes ignored", 2, {4, 1, 1, 1, 1, 7, 7}, {1, 1, 1, 1}, {}},
        {"minimum code size 1", 1, {2, 1, 0, 1, 1, 3}, {1, 0, 1, 1}, {}},
        {"minimum code size 8", 8, {256, 200, 100, 258, 257}, {200, 100, 200, 100}, {}},
        {"codes run out", 2, {4, 2}, {2, 0, 0, 0}, {"Decoder bit buffer under-run"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        GifBuilder g;
        g.header().screen(2, 2).image(2, 2).lzw(c.minCodeSize, c.codes).end().trailer();
        const Read r = read(g);
        ASSERT_EQ(r.image.count(), 1);
        EXPECT_EQ(r.image.frame(0).pixels(), c.expected);
        EXPECT_EQ(r.warnings, c.warnings);
    }
}

TEST(GifReader, FullTableGoesOnWithoutNewEntriesUntilAClear)
{
    // 5000 literal codes and no clear: the table fills after 4093 of them, the width stays at
    // 12 bits and decoding goes on. Then a late clear drops the width back to 9 bits.
    std::vector<uint8_t> indices(100 * 60);
    for (std::size_t i = 0; i < indices.size(); ++i)
        indices[i] = uint8_t((i * 31) ^ (i >> 7));
    std::vector<int> codes{256};
    codes.insert(codes.end(), indices.begin(), indices.begin() + 5000);
    codes.push_back(256);
    codes.insert(codes.end(), indices.begin() + 5000, indices.end());
    codes.push_back(257);
    GifBuilder g;
    g.header().screen(100, 60).image(100, 60).lzw(8, codes).end().trailer();
    const Read r = read(g);
    EXPECT_EQ(r.image.frame(0).pixels(), indices);
    EXPECT_TRUE(r.warnings.empty());
}

TEST(GifReader, VersionAndPrefixAreReadButRefusedAtOpen)
{
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
        std::string version;
        bool openable;
    };
    auto file = [](const std::string &prefix, const std::string &signature) {
        GifBuilder g;
        g.raw(prefix).header(signature).screen(1, 1).image(1, 1).pixels(2, {0}).trailer();
        return g.bytes();
    };
    const Case cases[] = {
        {"89a", file("", "GIF89a"), "89a", true},
        {"87a lower case", file("", "gif87A"), "87A", true},
        {"version 90a", file("", "GIF90a"), "90a", false},
        {"4-byte prefix", file("abcd", "GIF89a"), "89a", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Read r = read(c.bytes);
        EXPECT_EQ(std::string(r.image.header.version.data(), 3), c.version);
        EXPECT_EQ(r.image.count(), 1);
        if (c.openable) {
            EXPECT_NO_THROW(doc::checkOpenable(c.bytes.data(), c.bytes.size()));
        } else {
            try {
                doc::checkOpenable(c.bytes.data(), c.bytes.size());
                ADD_FAILURE() << "accepted";
            } catch (const GifError &e) {
                EXPECT_EQ(e.kind(), GifErrorKind::UnknownVersion);
                EXPECT_STREQ(e.what(), "Unknown GIF version");
            }
        }
    }
}

TEST(GifReader, OpenCheckNamesAnUnrecognizedExtension)
{
    // An unknown label after the first image: the check walks past the pixel data to reach it.
    GifBuilder g = small();
    g.image(2, 2).pixels(2, {0, 1, 2, 3}).raw({0x21, 0x2A}).subBlock({1}).end().trailer();
    try {
        doc::checkOpenable(g.bytes().data(), g.bytes().size());
        FAIL() << "accepted";
    } catch (const GifError &e) {
        EXPECT_EQ(e.kind(), GifErrorKind::UnrecognizedExtension);
        EXPECT_STREQ(e.what(), "Unrecognized extension block: 2a");
    }
}

TEST(GifReader, ErrorsWithTheirTexts)
{
    struct Case {
        const char *fault;
        std::vector<uint8_t> bytes;
        GifErrorKind kind;
        const char *text;
    };
    std::vector<Case> cases;
    auto add = [&](const char *fault, const GifBuilder &g, GifErrorKind kind, const char *text) {
        cases.push_back({fault, g.bytes(), kind, text});
    };
    add("no GIF at 0 or 4", GifBuilder().raw("GXF89aGIX89a\1\0\1\0\0\0\0;"), GifErrorKind::InvalidSignature,
        "Invalid GIF signature");
    add("shorter than a signature", GifBuilder().raw("GIF8"), GifErrorKind::PrematureEnd, "Premature end of data");
    add("screen cut", GifBuilder().header().raw({2, 0, 2}), GifErrorKind::PrematureEnd, "Premature end of data");
    add("global table cut", GifBuilder().header().screen(2, 2, 0x81).colorTable(3), GifErrorKind::PrematureEnd,
        "Premature end of data");
    add("descriptor cut", small().raw({0x2C, 0, 0, 0}), GifErrorKind::PrematureEnd, "Premature end of data");
    add("local table cut", small().image(2, 2, 0x82).colorTable(7), GifErrorKind::PrematureEnd,
        "Premature end of data");
    add("label missing", small().raw({0x21}), GifErrorKind::PrematureEnd, "Premature end of data");
    add("text header cut", small().raw({0x21, 0x01, 12, 0, 0}), GifErrorKind::PrematureEnd,
        "Premature end of data");
    add("application identifier cut", small().raw({0x21, 0xFF, 11}).raw("NETS"), GifErrorKind::PrematureEnd,
        "Premature end of data");
    add("label 0x2A", small().raw({0x21, 0x2A, 0}).trailer(), GifErrorKind::UnknownExtension,
        "Unknown extension type");
    add("application block size 9", small().raw({0x21, 0xFF, 9}).raw("NETSCAPE2").end().trailer(),
        GifErrorKind::BadAppExtensionSize, "Unsupported Application Extension block size");
    add("application block size 12", small().raw({0x21, 0xFF, 12}).raw("NETSCAPE2.0x").end().trailer(),
        GifErrorKind::BadAppExtensionSize, "Unsupported Application Extension block size");
    add("loop sub-block of 2 bytes", small().raw({0x21, 0xFF, 11}).raw("NETSCAPE2.0").subBlock({1, 0}).end(),
        GifErrorKind::InvalidData, "Invalid GIF data");
    add("buffer sub-block of 4 bytes",
        small().raw({0x21, 0xFF, 11}).raw("NETSCAPE2.0").subBlock({2, 0, 0, 1}).end(), GifErrorKind::InvalidData,
        "Invalid GIF data");
    add("code beyond the next free one", small().image(2, 2).lzw(2, {4, 1, 7, 5}).end(), GifErrorKind::CircularTable,
        "Circular decoder table entry");
    add("string code right after a clear", small().image(2, 2).lzw(2, {4, 6, 5}).end(),
        GifErrorKind::CircularTable, "Circular decoder table entry");
    add("minimum code size 12", small().image(2, 2).raw({12, 2, 0xFF, 0xFF, 0}).trailer(), GifErrorKind::BadCodeSize,
        "Invalid LZW code size");
    add("65535 x 65535 frame in a few bytes", small().image(65535, 65535).pixels(2, {0}).trailer(),
        GifErrorKind::TooLarge, "Image too large");

    for (const Case &c : cases) {
        SCOPED_TRACE(c.fault);
        const std::optional<GifError> e = readError(c.bytes);
        ASSERT_TRUE(e.has_value()) << "read without error";
        EXPECT_EQ(e->kind(), c.kind);
        EXPECT_STREQ(e->what(), c.text);
    }
}

TEST(GifReader, WarningsWithTheirTexts)
{
    struct Case {
        const char *fault;
        GifBuilder gif;
        std::vector<std::string> warnings;
        int frames;
    };
    const Case cases[] = {
        {"clean file", small().image(2, 2).pixels(2, {0, 1, 2, 3}).trailer(), {}, 1},
        {"no trailer", small().image(2, 2).pixels(2, {0, 1, 2, 3}), {}, 1},
        {"zero bytes between blocks", small().raw({0, 0}).image(2, 2).pixels(2, {0, 1, 2, 3}).raw({0}).trailer(),
         {}, 1},
        // The block loop stops at the stray byte, which is then not the trailer either.
        {"stray block", small().image(2, 2).pixels(2, {0, 1, 2, 3}).raw({'x'}).image(2, 2).pixels(2, {0, 0, 0, 0}),
         {"Unknown GIF block type", "Invalid Image trailer"},
         1},
        // After the warning the stray byte is taken as the image separator.
        {"stray byte after an extension", small().comment({"c"}).raw({'x', 0, 0, 0, 0, 2, 0, 2, 0, 0}).pixels(2, {1, 1, 1, 1}).trailer(),
         {"Invalid extension introducer"},
         1},
        {"control extension cut", small().raw({0x21, 0xF9, 4, 1}), {"Premature end of data"}, 1},
        {"sub-block longer than the data", small().image(2, 2).raw({2, 9, 4}), {"Premature end of data",
         "Decoder bit buffer under-run"}, 1},
        {"zero-width image", small().image(0, 2).pixels(2, {1, 1, 1, 1}).trailer(),
         {"Image exceeds Logical Screen size"},
         1},
        {"image data missing altogether", small().image(2, 2), {"Decoder bit buffer under-run"}, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.fault);
        const Read r = read(c.gif);
        EXPECT_EQ(r.warnings, c.warnings);
        EXPECT_EQ(r.image.count(), c.frames);
    }
}

TEST(GifReader, ZeroSizeImageTakesTheScreenSize)
{
    const Read r = read(small().image(5, 0).pixels(2, {1, 2, 3, 0}).trailer());
    EXPECT_EQ(r.image.frame(0).width, 2);
    EXPECT_EQ(r.image.frame(0).height, 2);
    EXPECT_EQ(r.image.frame(0).pixels(), (std::vector<uint8_t>{1, 2, 3, 0}));
}

TEST(GifReader, EveryTruncatedPrefixReadsOrFailsWithOurError)
{
    // Anything but a GifError escapes and fails the test.
    const std::vector<uint8_t> full = testsupport::sampleAnimation();
    int reads = 0;
    int errors = 0;
    for (std::size_t n = 0; n < full.size(); ++n) {
        SCOPED_TRACE(n);
        TGIFImage image;
        try {
            doc::loadFromBytes(image, full.data(), n);
            ++reads;
            EXPECT_LE(image.count(), 2);
        } catch (const GifError &) {
            ++errors;
        }
        try {
            doc::checkOpenable(full.data(), n);
        } catch (const GifError &e) {
            EXPECT_EQ(e.kind(), GifErrorKind::UnknownVersion);
        }
    }
    // Cuts in the header fail; cuts in the frames read what is there.
    EXPECT_GT(reads, 0);
    EXPECT_GT(errors, 0);
}

TEST(GifReader, DamagedBytesReadOrFailWithOurError)
{
    // Fixed-seed byte damage of a valid file; run under the sanitizers this finds reads and
    // writes out of bounds. Anything but a GifError escapes and fails the test. The high bytes of
    // the sizes are spared: frames of up to 1 GiB are legitimate and would only cost memory here.
    GifBuilder g;
    g.header().screen(4, 3, 0x80 | 1).colorTable(4).loop(0).comment({"made by hand"});
    std::vector<std::size_t> spared = {7, 9};
    auto image = [&](uint16_t w, uint16_t h, uint8_t packed, uint16_t left) {
        spared.push_back(g.bytes().size() + 6);
        spared.push_back(g.bytes().size() + 8);
        g.image(w, h, packed, left);
    };
    g.graphicControl(0x04 | 1, 10, 3);
    image(4, 3, 0, 0);
    g.pixels(2, {0, 1, 2, 3, 3, 2, 1, 0, 3, 3, 0, 0}).graphicControl(0x08, 20);
    image(2, 3, 0x80 | 0x40, 1);
    g.colorTable(2).pixels(2, {0, 1, 1, 1, 0, 0}).trailer();
    const std::vector<uint8_t> original = g.bytes();

    std::mt19937 random(20240611);
    for (int round = 0; round < 5000; ++round) {
        std::vector<uint8_t> bytes = original;
        const int damage = 1 + int(random() % 4);
        for (int k = 0; k < damage; ++k) {
            const std::size_t at = random() % bytes.size();
            if (std::find(spared.begin(), spared.end(), at) == spared.end())
                bytes[at] = uint8_t(random());
        }
        SCOPED_TRACE(round);
        try {
            TGIFImage image;
            doc::loadFromBytes(image, bytes.data(), bytes.size());
            for (int i = 0; i < image.count(); ++i) {
                const doc::TGIFSubImage &f = image.frame(i);
                ASSERT_TRUE(f.pixels().empty() || f.pixels().size() == std::size_t(f.width) * f.height);
            }
        } catch (const GifError &) {
        }
        try {
            doc::checkOpenable(bytes.data(), bytes.size());
        } catch (const GifError &) {
        }
    }
}

TEST(GifReader, FailedReadKeepsTheDocumentAndRewindsTheStream)
{
    TGIFImage image;
    const std::vector<uint8_t> good = testsupport::sampleAnimation();
    doc::loadFromBytes(image, good.data(), good.size());
    ASSERT_EQ(image.count(), 2);

    std::vector<std::string> warnings;
    image.onWarning = [&](const std::string &w) { warnings.push_back(w); };
    // Frame 1 reads (with a warning) before the error in frame 2.
    GifBuilder bad = small();
    bad.image(0, 0).pixels(2, {0, 0, 0, 0}).raw({0x21, 0x2A});
    std::istringstream stream("head" + bad.str());
    stream.seekg(4);
    EXPECT_THROW(image.LoadFromStream(stream), GifError);
    EXPECT_EQ(warnings, std::vector<std::string>{"Image exceeds Logical Screen size"});
    EXPECT_EQ(image.count(), 2);
    EXPECT_EQ(image.header.width, 4);
    EXPECT_TRUE(stream.good());
    EXPECT_EQ(stream.tellg(), std::streampos(4));
}

TEST(GifReader, StreamReadStopsAfterTheTrailerAndReportsProgress)
{
    const std::vector<uint8_t> gif = testsupport::sampleAnimation();
    std::istringstream stream(std::string(gif.begin(), gif.end()) + "tail");
    TGIFImage image;
    std::vector<std::tuple<doc::ProgressStage, std::string, int>> progress;
    image.onProgress = [&](doc::ProgressStage s, const std::string &m, int p) { progress.emplace_back(s, m, p); };
    image.LoadFromStream(stream);
    EXPECT_EQ(image.count(), 2);
    EXPECT_EQ(stream.tellg(), std::streampos(std::streamoff(gif.size())));

    ASSERT_EQ(progress.size(), 4u);
    EXPECT_EQ(progress[0], std::make_tuple(doc::ProgressStage::Starting, std::string("Loading..."), 0));
    EXPECT_EQ(std::get<0>(progress[1]), doc::ProgressStage::Running);
    EXPECT_EQ(std::get<0>(progress[2]), doc::ProgressStage::Running);
    EXPECT_LT(std::get<2>(progress[1]), std::get<2>(progress[2]));
    EXPECT_LT(std::get<2>(progress[2]), 100); // the stream goes on after the trailer
    EXPECT_EQ(progress[3], std::make_tuple(doc::ProgressStage::Ending, std::string("Loading..."), 100));

    // A read that fails ends its progress too, or a status bar would go on showing it.
    progress.clear();
    std::istringstream cut(std::string(gif.begin(), gif.begin() + 8));
    EXPECT_THROW(image.LoadFromStream(cut), GifError);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), std::make_tuple(doc::ProgressStage::Starting, std::string("Loading..."), 0));
    EXPECT_EQ(progress.back(), std::make_tuple(doc::ProgressStage::Ending, std::string("Loading..."), 100));
}

TEST(GifReader, FilesThatCannotBeReadGiveAClearError)
{
    TGIFImage image;
    const std::string folder = std::filesystem::temp_directory_path().string();
    try {
        doc::loadFromFile(image, folder);
        FAIL() << "a folder was read";
    } catch (const GifError &) {
        FAIL() << "a folder is not a GIF error";
    } catch (const std::runtime_error &e) {
        EXPECT_NE(std::string(e.what()).find(folder), std::string::npos);
    }
    EXPECT_THROW(doc::loadFromFile(image, folder + "/no such file.gif"), std::runtime_error);
}

} // namespace
