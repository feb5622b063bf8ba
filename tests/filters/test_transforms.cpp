#include "filters/transforms.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace doc;
using namespace filters;

namespace {

/** An indexed picture whose pixel values are the letters of its rows ("abc", "def"). */
Picture letters(const std::vector<std::string> &rows)
{
    Picture p(int(rows[0].size()), int(rows.size()), PixelFormat::Indexed8);
    for (int y = 0; y < p.height(); ++y)
        for (int x = 0; x < p.width(); ++x)
            p.row(y)[x] = uint8_t(rows[std::size_t(y)][std::size_t(x)]);
    return p;
}

std::vector<std::string> rowsOf(const Picture &p)
{
    std::vector<std::string> rows;
    for (int y = 0; y < p.height(); ++y)
        rows.emplace_back(reinterpret_cast<const char *>(p.row(y)), std::size_t(p.width()));
    return rows;
}

/** Each pixel's own position as its colour, so the source of every target pixel can be read back. */
Picture positions(int w, int h)
{
    Picture p(w, h, PixelFormat::Rgba32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t *px = p.row(y) + 4 * x;
            px[0] = uint8_t(x);
            px[1] = uint8_t(x >> 8);
            px[2] = uint8_t(y);
            px[3] = 255;
        }
    return p;
}

int sourceX(const Picture &p, int x, int y)
{
    const uint8_t *px = p.row(y) + 4 * x;
    return px[0] | px[1] << 8;
}

int sourceY(const Picture &p, int x, int y)
{
    return p.row(y)[4 * x + 2];
}

const auto halfTurn = [](const Picture &p) { return RotatePicture(p, 180); };

} // namespace

TEST(Transforms, ThreeByTwoFlipsAndHalfTurnAndEachTwiceIsIdentity)
{
    struct Case {
        const char *name;
        std::function<Picture(const Picture &)> apply;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"vertical", FlipVertical, {"def", "abc"}},
        {"horizontal", FlipHorizontal, {"cba", "fed"}},
        {"half turn", halfTurn, {"fed", "cba"}},
    };
    const Picture start = letters({"abc", "def"});
    for (const Case &c : cases) {
        const Picture once = c.apply(start);
        EXPECT_EQ(once.format(), PixelFormat::Indexed8) << c.name;
        EXPECT_EQ(rowsOf(once), c.expected) << c.name;
        EXPECT_EQ(rowsOf(c.apply(once)), rowsOf(start)) << c.name;
    }
}

TEST(Transforms, FlipsKeepTheTableAndTheAlpha)
{
    Picture p = letters({"ab"});
    p.palette() = {{1, 2, 3}, {4, 5, 6}};
    EXPECT_EQ(FlipHorizontal(p).palette(), p.palette());

    Picture argb(2, 1, PixelFormat::Rgba32);
    argb.data() = {1, 2, 3, 255, 4, 5, 6, 128};
    EXPECT_EQ(FlipHorizontal(argb).data(), (std::vector<uint8_t>{4, 5, 6, 128, 1, 2, 3, 255}));
}

TEST(RotatePicture, HalfTurnOfTenBySixMapsColumnsAndRowsInReverse)
{
    // s = 10 ÷ 9: the scaled turn lands each pixel within half a pixel of its point reflection.
    const Picture out = RotatePicture(positions(10, 6), 180);
    ASSERT_EQ(out.format(), PixelFormat::Rgba32);
    for (int x = 0; x < 10; ++x)
        EXPECT_EQ(sourceX(out, x, 0), 9 - x) << x;
    for (int y = 0; y < 6; ++y)
        EXPECT_EQ(sourceY(out, 0, y), 5 - y) << y;
}

TEST(RotatePicture, HalfTurnIsThePointReflectionAtEverySizeIncludingOnePixelSides)
{
    // One pixel wide or high makes the fitted extent zero along that side; very wide pictures
    // leave the rounding the least room.
    const std::vector<std::pair<int, int>> sizes = {{1, 1}, {1, 7}, {7, 1}, {2, 2}, {3, 2}, {255, 3}, {6000, 2}, {2, 250}};
    for (const auto &[w, h] : sizes) {
        const Picture out = RotatePicture(positions(w, h), 180);
        int wrong = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (sourceX(out, x, y) != (w - 1 - x) % 65536 || sourceY(out, x, y) != (h - 1 - y) % 256)
                    ++wrong;
        EXPECT_EQ(wrong, 0) << w << " x " << h;
    }
}

TEST(RotatePicture, TranslucentSourcePixelsBlendOverTheEmptyTarget)
{
    Picture p(1, 1, PixelFormat::Rgba32);
    p.data() = {200, 100, 50, 0};
    EXPECT_EQ(RotatePicture(p, 180).data(), (std::vector<uint8_t>{0, 0, 0, 0}));
    p.data() = {200, 100, 50, 128};
    EXPECT_EQ(RotatePicture(p, 180).data(), (std::vector<uint8_t>{200, 100, 50, 128}));
}
