// Frame export to a Windows bitmap: the written file as GraphicsMagick reads it, the ".bmp" naming
// and the old file surviving a failed write.

#include "document/bmp_writer.h"
#include "document/gif_error.h"
#include "document/gif_image.h"
#include "support/corpus.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

using namespace doc;
namespace fs = std::filesystem;

namespace {

struct Decoded {
    int width = -1;
    int height = -1;
    std::vector<uint8_t> rgb;
};

std::string run(const std::string &command)
{
    std::string out;
    if (FILE *p = popen(command.c_str(), "r")) {
        char buffer[65536];
        std::size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
            out.append(buffer, n);
        pclose(p);
    }
    return out;
}

/** The bitmap as GraphicsMagick decodes it: its size and its pixels as 8-bit RGB. */
Decoded readWithMagick(const fs::path &file)
{
    Decoded d;
    const std::string size = run("gm identify -format '%w %h' '" + file.string() + "' 2>/dev/null");
    if (std::sscanf(size.c_str(), "%d %d", &d.width, &d.height) != 2)
        return {};
    const std::string raw = run("gm convert '" + file.string() + "' -depth 8 rgb:- 2>/dev/null");
    d.rgb.assign(raw.begin(), raw.end());
    return d;
}

std::string readFile(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TGIFColorMap table(int count, int seed)
{
    TGIFColorMap map;
    for (int i = 0; i < count; ++i)
        map.entries.push_back({uint8_t(i * 7 + seed), uint8_t(255 - i), uint8_t(i * 3 + seed * 5)});
    return map;
}

TGIFSubImage frame(int left, int top, int width, int height, int colours, TGIFColorMap local = {})
{
    TGIFSubImage f;
    f.left = uint16_t(left);
    f.top = uint16_t(top);
    f.width = uint16_t(width);
    f.height = uint16_t(height);
    f.setColorMap(std::move(local));
    // Every row differs from its neighbours, so a flipped or shifted row shows.
    std::vector<uint8_t> pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels.push_back(uint8_t((x * 5 + y * (y + 1) / 2 * 3 + x * y) % colours));
    f.setPixels(std::move(pixels));
    return f;
}

class BmpWriter : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // scripts/install-deps.sh installs it: without it these checks would pass unchecked.
        ASSERT_FALSE(run("command -v gm").empty()) << "GraphicsMagick's gm is not installed";
        mDir = fs::temp_directory_path() / ("movaro_bmp_" + std::to_string(getpid()));
        fs::create_directories(mDir);
    }
    void TearDown() override
    {
        if (!mDir.empty())
            fs::remove_all(mDir);
    }

    /** Saves frame i and compares every decoded pixel with the frame's table colour. */
    void expectFrameRoundTrip(const TGIFImage &image, int i, const std::string &name)
    {
        const fs::path file = mDir / name;
        saveFrameAsBmp(image, i, file.string());
        const Decoded d = readWithMagick(file);
        const TGIFSubImage &f = image.frame(i);
        ASSERT_EQ(d.width, f.width) << name;
        ASSERT_EQ(d.height, f.height) << name;
        ASSERT_EQ(d.rgb.size(), std::size_t(f.width) * f.height * 3) << name;
        const TGIFColorMap &map = f.colorMap().empty() ? image.header.colorMap : f.colorMap();
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < f.width; ++x) {
                const std::size_t at = std::size_t(y) * f.width + std::size_t(x);
                const uint8_t index = f.pixels()[at];
                const Rgb want = index < map.count() ? map.entries[index] : Rgb{};
                const Rgb got{d.rgb[at * 3], d.rgb[at * 3 + 1], d.rgb[at * 3 + 2]};
                ASSERT_EQ(got, want) << name << " at (" << x << ", " << y << "), index " << int(index);
            }
    }

    fs::path mDir;
};

} // namespace

TEST_F(BmpWriter, EachFrameAtItsOwnSizeWithItsOwnTable)
{
    TGIFImage image;
    image.header.width = 40;
    image.header.height = 30;
    image.header.colorMap = table(256, 1);
    // Odd widths need row padding; the second frame is smaller than the screen and placed inside
    // it; the third uses the 256-entry global table.
    image.appendFrame(frame(0, 0, 7, 5, 2, table(2, 9)));
    image.appendFrame(frame(3, 4, 13, 9, 16, table(16, 3)));
    image.appendFrame(frame(0, 0, 33, 17, 256));
    image.appendFrame(frame(5, 5, 1, 1, 2, table(2, 100)));
    image.frame(1).addGraphicControl()->setTransparent(true);

    expectFrameRoundTrip(image, 0, "two.bmp");
    expectFrameRoundTrip(image, 1, "second.bmp");
    expectFrameRoundTrip(image, 2, "global256.bmp");
    expectFrameRoundTrip(image, 3, "single.bmp");
}

TEST_F(BmpWriter, CorpusFramesMatchGraphicsMagicksOwnFrames)
{
    // Frames smaller than the screen, placed inside it, with odd widths and their own tables: the
    // exported bitmap shows what GraphicsMagick itself reads as that frame of the GIF.
    REQUIRE_CORPUS();
    const struct {
        const char *file;
        int frames;
    } cases[] = {
        {"pillow/Tests/images/dispose_none_load_end.gif", 2},
        {"blink-images/resources/quicksort.gif", 4},
        {"devil-test-images/GIF/Newtons_cradle_animation_book_2.gif", 3},
    };
    for (const auto &c : cases) {
        const fs::path gif = testsupport::corpusPath(c.file);
        TGIFImage image;
        std::ifstream in(gif, std::ios::binary);
        image.LoadFromStream(in);
        ASSERT_GE(image.count(), c.frames) << c.file;
        for (int i = 0; i < c.frames; ++i) {
            const fs::path bmp = mDir / ("corpus" + std::to_string(i) + ".bmp");
            saveFrameAsBmp(image, i, bmp.string());
            const Decoded ours = readWithMagick(bmp);
            const Decoded theirs = readWithMagick(gif.string() + "[" + std::to_string(i) + "]");
            EXPECT_EQ(ours.width, image.frame(i).width) << c.file << " frame " << i;
            EXPECT_EQ(ours.height, image.frame(i).height) << c.file << " frame " << i;
            EXPECT_EQ(ours.width, theirs.width) << c.file << " frame " << i;
            EXPECT_EQ(ours.height, theirs.height) << c.file << " frame " << i;
            EXPECT_EQ(ours.rgb.size(), std::size_t(image.frame(i).width) * image.frame(i).height * 3);
            EXPECT_TRUE(ours.rgb == theirs.rgb) << c.file << " frame " << i;
        }
    }
}

TEST_F(BmpWriter, IndicesPastTheTableAreBlack)
{
    // The views show an index without a colour as black; the file must not hold an index its
    // colour table lacks.
    TGIFImage image;
    image.appendFrame(frame(0, 0, 6, 4, 8, table(3, 20)));
    expectFrameRoundTrip(image, 0, "short_table.bmp");

    TGIFImage noTable;
    noTable.appendFrame(frame(0, 0, 5, 3, 4));
    expectFrameRoundTrip(noTable, 0, "no_table.bmp");
}

TEST(BmpHeader, FieldsAndRowOrder)
{
    TGIFImage image;
    image.appendFrame(frame(2, 2, 5, 3, 2, table(2, 0)));
    std::ostringstream out;
    writeFrameBmp(image, 0, out);
    const std::string s = out.str();
    ASSERT_EQ(s.size(), 14u + 40 + 2 * 4 + 8 * 3);
    auto u32 = [&](std::size_t at) {
        return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8
            | uint32_t(uint8_t(s[at + 2])) << 16 | uint32_t(uint8_t(s[at + 3])) << 24;
    };
    EXPECT_EQ(s.substr(0, 2), "BM");
    EXPECT_EQ(u32(2), s.size());
    EXPECT_EQ(u32(10), 14u + 40 + 8);
    EXPECT_EQ(u32(18), 5u);
    EXPECT_EQ(u32(22), 3u); // positive: bottom-up rows
    EXPECT_EQ(uint8_t(s[28]), 8);
    EXPECT_EQ(u32(30), 0u); // uncompressed
    EXPECT_EQ(u32(46), 2u); // colours used = table size
    // The last stored row is the frame's top row.
    const std::size_t lastRow = s.size() - 8;
    for (int x = 0; x < 5; ++x)
        EXPECT_EQ(uint8_t(s[lastRow + std::size_t(x)]), image.frame(0).pixels()[std::size_t(x)]);
}

TEST(BmpFileName, AppendsTheExtensionUnlessPresent)
{
    const struct {
        const char *chosen;
        const char *written;
    } cases[] = {
        {"/tmp/frame", "/tmp/frame.bmp"},
        {"/tmp/frame.bmp", "/tmp/frame.bmp"},
        {"/tmp/FRAME.BMP", "/tmp/FRAME.BMP"},
        {"/tmp/frame.Bmp", "/tmp/frame.Bmp"},
        {"/tmp/frame.gif", "/tmp/frame.gif.bmp"},
        {"/tmp/frame.bmp.txt", "/tmp/frame.bmp.txt.bmp"},
        {"/tmp/framebmp", "/tmp/framebmp.bmp"},
        {"bmp", "bmp.bmp"},
        {".bmp", ".bmp"},
        {"", ".bmp"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(bmpFileName(c.chosen), c.written) << c.chosen;
}

TEST_F(BmpWriter, RefusedFrameKeepsTheOldFile)
{
    const fs::path file = mDir / "old.bmp";
    std::ofstream(file, std::ios::binary) << "previous contents";

    TGIFImage image;
    TGIFSubImage empty;
    empty.width = 4;
    empty.height = 0;
    image.appendFrame(std::move(empty));
    try {
        saveFrameAsBmp(image, 0, file.string());
        FAIL() << "a frame without pixels was written";
    } catch (const GifError &e) {
        EXPECT_EQ(e.kind(), GifErrorKind::InvalidDimensions);
    }
    EXPECT_EQ(readFile(file), "previous contents");
    EXPECT_EQ(std::distance(fs::directory_iterator(mDir), fs::directory_iterator()), 1);
}

TEST_F(BmpWriter, FailedWriteKeepsTheOldFile)
{
    const fs::path file = mDir / "old.bmp";
    std::ofstream(file, std::ios::binary) << "previous contents";

    TGIFImage image;
    image.appendFrame(frame(0, 0, 300, 200, 256, table(256, 0)));

    // A file size limit makes the write fail partway, whoever runs the test (root included).
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    bool threw = false;
    try {
        saveFrameAsBmp(image, 0, file.string());
    } catch (const std::runtime_error &) {
        threw = true;
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_TRUE(threw);
    EXPECT_EQ(readFile(file), "previous contents");
    EXPECT_EQ(std::distance(fs::directory_iterator(mDir), fs::directory_iterator()), 1);

    // Without the limit the same frame replaces it.
    saveFrameAsBmp(image, 0, file.string());
    EXPECT_EQ(readWithMagick(file).width, 300);
}
