// The bytes the writer produces: header, screen, tables, extensions, descriptor and LZW stream,
// its two errors, and the file save that never destroys the previous file.

#include "document/gif_error.h"
#include "document/gif_image.h"
#include "document/gif_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

using namespace doc;
using Bytes = std::vector<uint8_t>;

namespace {

TGIFColorMap grayTable(int count)
{
    TGIFColorMap map;
    for (int i = 0; i < count; ++i)
        map.entries.push_back({uint8_t(i + 1), uint8_t(i + 2), uint8_t(i + 3)});
    return map;
}

TGIFSubImage makeFrame(int width, int height, int colors, std::vector<uint8_t> pixels = {})
{
    TGIFSubImage f;
    f.width = uint16_t(width);
    f.height = uint16_t(height);
    f.setColorMap(grayTable(colors));
    if (pixels.empty())
        pixels.assign(std::size_t(width) * height, 0);
    f.setPixels(std::move(pixels));
    return f;
}

Bytes save(const TGIFImage &image)
{
    std::ostringstream out;
    image.SaveToStream(out);
    const std::string s = out.str();
    return {s.begin(), s.end()};
}

Bytes slice(const Bytes &b, std::size_t from, std::size_t n)
{
    return {b.begin() + std::ptrdiff_t(from), b.begin() + std::ptrdiff_t(std::min(b.size(), from + n))};
}

Bytes bytesOf(const std::string &s) { return {s.begin(), s.end()}; }

/** The bytes a frame's extensions produce: everything between the screen descriptor and the image. */
Bytes extensionBytes(std::unique_ptr<TGIFExtension> e)
{
    TGIFImage image;
    TGIFSubImage &f = image.appendFrame(makeFrame(1, 1, 2));
    f.appendExtension(std::move(e));
    const Bytes all = save(image);
    const std::size_t start = 13;
    std::size_t end = start;
    // The image descriptor of a 1 × 1 frame at (0, 0) with a 2-entry table ends the extensions.
    const Bytes descriptor{0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0x80};
    for (std::size_t i = start; i + descriptor.size() <= all.size(); ++i)
        if (slice(all, i, descriptor.size()) == descriptor)
            end = i;
    return slice(all, start, end - start);
}

/** The LZW codes of one image data block, read at the widths a decoder uses. */
std::vector<int> lzwCodes(const Bytes &data, int *minCodeSize = nullptr)
{
    const int mcs = data.at(0);
    if (minCodeSize)
        *minCodeSize = mcs;
    Bytes packed;
    std::size_t p = 1;
    while (data.at(p) != 0) {
        packed.insert(packed.end(), data.begin() + std::ptrdiff_t(p + 1),
                      data.begin() + std::ptrdiff_t(p + 1 + data[p]));
        p += 1 + data[p];
    }
    EXPECT_EQ(p + 1, data.size()) << "nothing after the terminator";
    const int clear = 1 << mcs;
    std::vector<int> codes;
    int width = mcs + 1, sinceClear = 0;
    std::size_t bit = 0;
    while (bit + std::size_t(width) <= packed.size() * 8) {
        int code = 0;
        for (int k = 0; k < width; ++k, ++bit)
            code |= ((packed[bit / 8] >> (bit % 8)) & 1) << k;
        codes.push_back(code);
        if (code == clear + 1)
            break;
        if (code == clear) {
            width = mcs + 1;
            sinceClear = 0;
            continue;
        }
        ++sinceClear;
        if (clear + 1 + sinceClear >= (1 << width) && width < 12)
            ++width;
    }
    return codes;
}

} // namespace

TEST(GifWriter, OneFrame256ColoursHasTheDocumentedLayout)
{
    TGIFImage image;
    image.header.width = 3;
    image.header.height = 2;
    TGIFSubImage &f = image.appendFrame(makeFrame(3, 2, 256, {0, 255, 7, 7, 7, 9}));
    f.addGraphicControl()->delay = 10;
    f.interlaced = true; // as every new frame is: still written top to bottom, flag clear

    const Bytes b = save(image);
    EXPECT_EQ(slice(b, 0, 6), bytesOf("GIF89a"));
    EXPECT_EQ(slice(b, 6, 7), (Bytes{3, 0, 2, 0, 0x77, 0, 0}));
    EXPECT_EQ(slice(b, 13, 8), (Bytes{0x21, 0xF9, 4, 0, 10, 0, 0, 0}));
    EXPECT_EQ(slice(b, 21, 10), (Bytes{0x2C, 0, 0, 0, 0, 3, 0, 2, 0, 0x87}));
    EXPECT_EQ(slice(b, 31, 6), (Bytes{1, 2, 3, 2, 3, 4}));
    EXPECT_EQ(slice(b, 31 + 765, 3), (Bytes{0, 1, 2})) << "last of the 256 entries";
    EXPECT_EQ(b.at(31 + 768), 8) << "minimum code size";
    EXPECT_EQ(b.back(), 0x3B);
}

TEST(GifWriter, TablesArePaddedAndSizedByTheirBitSize)
{
    struct Case {
        int colors;
        int fileEntries;
        uint8_t descriptor;
        int minCodeSize;
    };
    for (const Case c : {Case{1, 2, 0x80, 2}, Case{2, 2, 0x80, 2}, Case{3, 4, 0x81, 2}, Case{5, 8, 0x82, 3},
                         Case{17, 32, 0x84, 5}, Case{129, 256, 0x87, 8}}) {
        SCOPED_TRACE(c.colors);
        TGIFImage image;
        image.appendFrame(makeFrame(2, 1, c.colors, {0, uint8_t(c.colors - 1)}));
        const Bytes b = save(image);
        EXPECT_EQ(slice(b, 0, 6), bytesOf("GIF87a"));
        const int bits = c.descriptor & 7;
        EXPECT_EQ(b[10], uint8_t(bits << 4 | bits)) << "screen packed: no global table, largest size";
        EXPECT_EQ(b[13 + 9], c.descriptor);
        const std::size_t table = 13 + 10;
        const std::size_t lastColor = table + std::size_t(c.colors - 1) * 3;
        EXPECT_EQ(slice(b, lastColor, 3),
                  (Bytes{uint8_t(c.colors), uint8_t(c.colors + 1), uint8_t(c.colors + 2)}));
        EXPECT_EQ(slice(b, lastColor + 3, std::size_t(c.fileEntries - c.colors) * 3),
                  Bytes(std::size_t(c.fileEntries - c.colors) * 3, 0))
            << "padding is black";
        EXPECT_EQ(b.at(table + std::size_t(c.fileEntries) * 3), c.minCodeSize);
    }
}

TEST(GifWriter, ScreenResolutionFollowsTheLargestTableAndSizeTheGlobalTable)
{
    TGIFImage image;
    image.header.colorMap = grayTable(3);
    image.header.colorMap.sorted = true;
    image.header.background = 2;
    image.header.aspect = 49;
    image.appendFrame(makeFrame(1, 1, 20));
    TGIFSubImage noLocal;
    noLocal.width = noLocal.height = 1;
    noLocal.setPixels({2});
    image.appendFrame(std::move(noLocal));
    const Bytes b = save(image);
    EXPECT_EQ(slice(b, 0, 6), bytesOf("GIF87a")) << "a sorted global table alone does not ask for 89a";
    // Resolution from the largest table (5 bits); size from the global table actually written
    // (2 bits), so the frames after it are not mistaken for more entries.
    EXPECT_EQ(slice(b, 10, 3), (Bytes{0x80 | 0x08 | 0x40 | 0x01, 2, 49}));
    EXPECT_EQ(slice(b, 13, 12), (Bytes{1, 2, 3, 2, 3, 4, 3, 4, 5, 0, 0, 0}));
    // Second frame: descriptor without a local table, code size from the global table (2 bits).
    const Bytes secondDescriptor{0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0x00, 2};
    EXPECT_EQ(slice(b, b.size() - 1 - 5 - 10, 11), secondDescriptor);
}

TEST(GifWriter, VersionIs89aOnlyForExtensionsOrASortedLocalTable)
{
    TGIFImage plain;
    plain.appendFrame(makeFrame(1, 1, 2));
    plain.appendFrame(makeFrame(1, 1, 2));
    EXPECT_EQ(slice(save(plain), 0, 6), bytesOf("GIF87a"));

    TGIFImage sorted(plain);
    sorted.frame(1).mutableColorMap().sorted = true;
    const Bytes b = save(sorted);
    EXPECT_EQ(slice(b, 0, 6), bytesOf("GIF89a"));
    EXPECT_EQ(b[b.size() - 1 - 5 - 6 - 1], 0x80 | 0x20) << "sorted flag in the second descriptor";

    TGIFImage withComment(plain);
    withComment.frame(1).appendExtension(std::make_unique<TGIFCommentExtension>());
    EXPECT_EQ(slice(save(withComment), 0, 6), bytesOf("GIF89a"));
}

TEST(GifWriter, ExtensionLayouts)
{
    auto gce = std::make_unique<TGIFGraphicControlExtension>();
    gce->setDisposal(2);
    gce->delay = 60;
    gce->transparentIndex = 7;
    gce->blockSize = 9; // a stored odd size is not repeated: the block always holds 4 bytes
    EXPECT_EQ(extensionBytes(std::move(gce)), (Bytes{0x21, 0xF9, 4, 0x08, 0x3C, 0, 7, 0}));

    Bytes loop0{0x21, 0xFF, 0x0B};
    const Bytes netscape = bytesOf("NETSCAPE2.0");
    loop0.insert(loop0.end(), netscape.begin(), netscape.end());
    Bytes loop5 = loop0;
    loop0.insert(loop0.end(), {3, 1, 0, 0, 0});
    EXPECT_EQ(extensionBytes(std::make_unique<TGIFAppExtNSLoop>()), loop0);

    auto looping = std::make_unique<TGIFAppExtNSLoop>();
    looping->identifier = "ANIMEXTS1.0";
    looping->loops = 0x0105;
    looping->bufferSize = 0x01020304;
    loop5.insert(loop5.end(), {3, 1, 5, 1, 5, 2, 4, 3, 2, 1, 0});
    EXPECT_EQ(extensionBytes(std::move(looping)), loop5);

    auto comment = std::make_unique<TGIFCommentExtension>();
    comment->lines = {"ab", "", "c"};
    EXPECT_EQ(extensionBytes(std::move(comment)), (Bytes{0x21, 0xFE, 2, 'a', 'b', 1, 'c', 0}));

    auto longComment = std::make_unique<TGIFCommentExtension>();
    longComment->lines = {std::string(300, 'x')};
    Bytes longBytes{0x21, 0xFE, 255};
    longBytes.insert(longBytes.end(), 255, 'x');
    longBytes.push_back(45);
    longBytes.insert(longBytes.end(), 45, 'x');
    longBytes.push_back(0);
    EXPECT_EQ(extensionBytes(std::move(longComment)), longBytes);

    auto text = std::make_unique<TGIFTextExtension>();
    for (int i = 1; i < 13; ++i)
        text->header[std::size_t(i)] = uint8_t(0xA0 + i);
    text->lines = {"hi"};
    EXPECT_EQ(extensionBytes(std::move(text)),
              (Bytes{0x21, 0x01, 12, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB,
                     0xAC, 2, 'h', 'i', 0}));

    auto app = std::make_unique<TGIFUnknownAppExtension>();
    app->identifier = "ABCDEFGH10"; // 10 bytes, as some files have
    app->subBlocks = {{1, 2, 3}, {9}};
    Bytes appBytes{0x21, 0xFF, 11};
    const Bytes id = bytesOf("ABCDEFGH10");
    appBytes.insert(appBytes.end(), id.begin(), id.end());
    appBytes.insert(appBytes.end(), {0, 3, 1, 2, 3, 1, 9, 0});
    EXPECT_EQ(extensionBytes(std::move(app)), appBytes);
}

TEST(GifWriter, FrameWithoutPixelsWritesOnlyItsExtensions)
{
    TGIFImage image;
    TGIFSubImage empty;
    empty.width = 4; // a size but no index data
    empty.appendExtension(std::make_unique<TGIFAppExtNSLoop>());
    image.appendFrame(std::move(empty));
    const Bytes b = save(image);
    ASSERT_EQ(b.size(), 13u + 19u + 1u);
    EXPECT_EQ(b[13], 0x21);
    EXPECT_EQ(b.back(), 0x3B);
}

TEST(GifWriter, LzwPacksCodesLeastSignificantBitFirstAndWidensOnTheLastCode)
{
    // Codes: clear 4, 0, 6 ("00"), 0; next free code reaches 8 so the end code 5 takes 4 bits.
    std::vector<uint8_t> out;
    const uint8_t px[] = {0, 0, 0, 0};
    encodeImageData(px, 4, 2, out);
    EXPECT_EQ(out, (Bytes{2, 2, 0x84, 0x51, 0}));
}

TEST(GifWriter, LzwClearsInsteadOfDefiningCode4095AndCutsSubBlocksAt255)
{
    std::mt19937 rng(99);
    std::vector<uint8_t> px(200000);
    for (auto &p : px)
        p = uint8_t(rng());
    std::vector<uint8_t> out;
    encodeImageData(px.data(), px.size(), 8, out);

    for (std::size_t p = 1; out[p] != 0; p += 1 + out[p])
        if (out[p] != 255) {
            EXPECT_EQ(out[p + 1 + out[p]], 0) << "only the last sub-block is shorter than 255";
            break;
        }

    int mcs = 0;
    const std::vector<int> codes = lzwCodes(out, &mcs);
    ASSERT_EQ(mcs, 8);
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.front(), 256);
    EXPECT_EQ(codes.back(), 257);
    // After a clear the first code defines nothing and each later one defines 258, 259, ...
    // 4094: so a full run is 3838 codes, then the clear.
    std::vector<int> runs{0};
    for (std::size_t i = 1; i + 1 < codes.size(); ++i) {
        if (codes[i] == 256)
            runs.push_back(0);
        else {
            ++runs.back();
            ASSERT_LT(codes[i], 4095);
        }
    }
    ASSERT_GT(runs.size(), 10u) << "noise fills the table many times";
    for (std::size_t r = 0; r + 1 < runs.size(); ++r)
        EXPECT_EQ(runs[r], 3838) << "run " << r;
    EXPECT_LE(runs.back(), 3838);
}

TEST(GifWriter, Errors)
{
    TGIFImage none;
    try {
        save(none);
        FAIL() << "no frames must not write";
    } catch (const GifError &e) {
        EXPECT_EQ(e.kind(), GifErrorKind::UnsupportedVersion);
        EXPECT_STREQ(e.what(), "Unsupported GIF version");
    }

    TGIFImage outside;
    outside.appendFrame(makeFrame(3, 1, 5, {0, 4, 0}));
    outside.appendFrame(makeFrame(3, 1, 5, {0, 5, 0})); // 5 is a padding entry, not a colour
    try {
        save(outside);
        FAIL() << "an index beyond the table must not write";
    } catch (const GifError &e) {
        EXPECT_EQ(e.kind(), GifErrorKind::ColorNotInTable);
        EXPECT_STREQ(e.what(), "Color not in color table");
    }

    std::vector<uint8_t> data;
    const uint8_t wide[] = {0, 4};
    EXPECT_THROW(encodeImageData(wide, 2, 2, data), GifError) << "4 does not fit a 2-bit literal";
    EXPECT_THROW(encodeImageData(wide, 2, 9, data), GifError);
    EXPECT_TRUE(data.empty());

    TGIFImage noTable;
    TGIFSubImage f;
    f.width = f.height = 1;
    f.setPixels({0});
    noTable.appendFrame(std::move(f));
    EXPECT_THROW(save(noTable), GifError) << "no local and no global table";
}

// "Saving..." goes out per frame written, and its end also when the write fails, so a status bar
// showing it is put back to rest.
TEST(GifWriter, ReportsSavingProgressPerFrame)
{
    std::vector<std::string> events;
    auto record = [&](ProgressStage stage, const std::string &message, int percent) {
        events.push_back(std::to_string(int(stage)) + " " + message + " " + std::to_string(percent));
    };
    TGIFImage image;
    image.onProgress = record;
    for (int i = 0; i < 3; ++i)
        image.appendFrame(makeFrame(2, 2, 2));
    save(image);
    EXPECT_EQ(events, (std::vector<std::string>{"0 Saving... 0", "1 Saving... 33", "1 Saving... 66",
                                                "1 Saving... 100", "2 Saving... 100"}));

    events.clear();
    TGIFImage failing;
    failing.onProgress = record;
    failing.appendFrame(makeFrame(1, 1, 2, {3}));
    EXPECT_THROW(save(failing), GifError);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), "2 Saving... 100");
}

class GifWriterFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        mDir = std::filesystem::path(::testing::TempDir()) /
               ("gif_writer_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(mDir);
        std::filesystem::create_directories(mDir);
    }
    void TearDown() override { std::filesystem::remove_all(mDir); }

    std::string read(const std::filesystem::path &p)
    {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::size_t entries()
    {
        return std::size_t(std::distance(std::filesystem::directory_iterator(mDir), {}));
    }

    std::filesystem::path mDir;
};

TEST_F(GifWriterFile, FailedWriteKeepsThePreviousFileAndLeavesNoTemporary)
{
    // Deliberate departure: the file is replaced only once complete, so a failure keeps the old one
    // (the original program emptied the target first).
    const auto target = mDir / "anim.gif";
    const std::string old = std::string("GIF89a old contents\0\x01\xFF", 23);
    std::ofstream(target, std::ios::binary) << old;

    EXPECT_THROW(saveToFile(TGIFImage(), target.string()), GifError);
    EXPECT_EQ(read(target), old);
    EXPECT_EQ(entries(), 1u);

    TGIFImage failsLate; // the first frame is encoded before the second one fails
    failsLate.appendFrame(makeFrame(50, 50, 2));
    failsLate.appendFrame(makeFrame(1, 1, 2, {3}));
    EXPECT_THROW(saveToFile(failsLate, target.string()), GifError);
    EXPECT_EQ(read(target), old);
    EXPECT_EQ(entries(), 1u);
}

TEST_F(GifWriterFile, SuccessfulWriteReplacesTheFileWithTheStreamBytes)
{
    const auto target = mDir / "anim.gif";
    std::ofstream(target, std::ios::binary) << "previous";
    TGIFImage image;
    image.appendFrame(makeFrame(4, 3, 7, {0, 1, 2, 3, 4, 5, 6, 0, 1, 2, 3, 4}));
    saveToFile(image, target.string());
    const Bytes expected = save(image);
    EXPECT_EQ(read(target), std::string(expected.begin(), expected.end()));
    EXPECT_EQ(entries(), 1u);
}
