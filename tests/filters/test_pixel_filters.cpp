#include "filters/pixel_filters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

using namespace doc;
using namespace filters;

namespace {

/** An Rgb24 picture from rows of grey values (r = g = b). */
Picture greyRows(const std::vector<std::vector<int>> &rows)
{
    Picture p(int(rows[0].size()), int(rows.size()), PixelFormat::Rgb24);
    for (int y = 0; y < p.height(); ++y)
        for (int x = 0; x < p.width(); ++x)
            for (int c = 0; c < 3; ++c)
                p.row(y)[3 * x + c] = uint8_t(rows[std::size_t(y)][std::size_t(x)]);
    return p;
}

/** The red channel as rows of values. */
std::vector<std::vector<int>> redRows(const Picture &p)
{
    std::vector<std::vector<int>> rows(std::size_t(p.height()));
    for (int y = 0; y < p.height(); ++y)
        for (int x = 0; x < p.width(); ++x)
            rows[std::size_t(y)].push_back(p.pixel(x, y).r);
    return rows;
}

Picture indexedRamp(int w, int h)
{
    Picture p(w, h, PixelFormat::Indexed8);
    for (int i = 0; i < 256; ++i)
        p.palette().push_back({uint8_t(i), uint8_t(i / 2), uint8_t(255 - i)});
    for (std::size_t i = 0; i < p.data().size(); ++i)
        p.data()[i] = uint8_t(i * 37);
    return p;
}

} // namespace

TEST(InvertColors, IndexedPictureMapsIndexToItsComplementAndTwiceIsIdentity)
{
    const Picture start = indexedRamp(7, 5);
    Picture p = start;
    InvertColors(p, 100, 100);
    EXPECT_EQ(p.palette(), start.palette());
    for (std::size_t i = 0; i < p.data().size(); ++i)
        ASSERT_EQ(p.data()[i], 255 - start.data()[i]) << i;
    // A pixel of index 0 now takes the colour of entry 255.
    Picture zero(1, 1, PixelFormat::Indexed8);
    zero.palette() = start.palette();
    InvertColors(zero, 1, 1);
    EXPECT_EQ(zero.pixel(0, 0), start.palette()[255]);

    InvertColors(p, 100, 100);
    EXPECT_EQ(p.data(), start.data());
}

TEST(InvertColors, TrueColourChannelsAreComplementedAndAlphaKept)
{
    Picture p(1, 1, PixelFormat::Rgba32);
    const uint8_t px[4] = {10, 200, 255, 255};
    std::copy(px, px + 4, p.row(0));
    InvertColors(p, 1, 1);
    EXPECT_EQ(std::vector<uint8_t>(p.row(0), p.row(0) + 4), (std::vector<uint8_t>{245, 55, 0, 255}));

    Picture mono(2, 1, PixelFormat::Mono1);
    mono.palette() = {{0, 0, 0}, {255, 255, 255}};
    mono.data() = {0, 1};
    InvertColors(mono, 2, 1);
    EXPECT_EQ(mono.data(), (std::vector<uint8_t>{1, 0}));
}

TEST(InvertColors, OnlyTheViewSizedRectangleAtTheTopLeftChanges)
{
    struct Case {
        int viewW, viewH;
        std::vector<std::vector<int>> expected;
    };
    const std::vector<Case> cases = {
        {2, 1, {{245, 235, 30}, {40, 50, 60}}},
        {1, 2, {{245, 20, 30}, {215, 50, 60}}},
        {10, 10, {{245, 235, 225}, {215, 205, 195}}},
        {0, 5, {{10, 20, 30}, {40, 50, 60}}},
    };
    for (const Case &c : cases) {
        Picture p = greyRows({{10, 20, 30}, {40, 50, 60}});
        InvertColors(p, c.viewW, c.viewH);
        EXPECT_EQ(redRows(p), c.expected) << c.viewW << " x " << c.viewH;
    }
}

TEST(Monochrome, OnlyPureWhiteStaysWhite)
{
    Picture p(3, 1, PixelFormat::Rgb24);
    p.data() = {255, 255, 255, 254, 255, 255, 0, 0, 0};
    const Picture m = Monochrome(p);
    ASSERT_EQ(m.format(), PixelFormat::Mono1);
    EXPECT_EQ(m.pixel(0, 0), (Rgb{255, 255, 255}));
    EXPECT_EQ(m.pixel(1, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(m.pixel(2, 0), (Rgb{0, 0, 0}));

    // A two-colour picture is left as it is, whatever its two colours.
    Picture two(2, 1, PixelFormat::Mono1);
    two.palette() = {{255, 0, 0}, {0, 0, 255}};
    two.data() = {1, 0};
    const Picture same = Monochrome(two);
    EXPECT_EQ(same.palette(), two.palette());
    EXPECT_EQ(same.data(), two.data());
}

TEST(GrayLevels, RedAndGreenTakeTheirWeightedLevelsAndGreyStaysGrey)
{
    Picture p(4, 1, PixelFormat::Rgb24);
    p.data() = {255, 0, 0, 0, 255, 0, 0, 0, 255, 128, 128, 128};
    const Picture g = GrayLevels(p);
    ASSERT_EQ(g.format(), PixelFormat::Indexed8);
    ASSERT_EQ(g.palette().size(), 256u);
    EXPECT_EQ(g.pixel(0, 0), (Rgb{76, 76, 76}));
    EXPECT_EQ(g.pixel(1, 0), (Rgb{149, 149, 149}));
    EXPECT_EQ(g.pixel(2, 0), (Rgb{28, 28, 28}));
    EXPECT_EQ(g.pixel(3, 0), (Rgb{128, 128, 128}));
    const Picture again = GrayLevels(g);
    EXPECT_EQ(again.data(), g.data());
}

TEST(FilterPicture, BoxBlurSpreadsAnImpulseEvenlyAndClampsAtTheBorder)
{
    std::vector<std::vector<int>> rows(5, std::vector<int>(5, 0));
    rows[2][2] = 90; // centre
    rows[0][0] = 90; // corner: the clamped border counts it four times at (0, 0)
    const Picture out = FilterPicture(greyRows(rows), Kernel::Blur);
    EXPECT_EQ(out.format(), PixelFormat::Rgb24);
    EXPECT_EQ(redRows(out), (std::vector<std::vector<int>>{
                                {40, 20, 0, 0, 0},
                                {20, 20, 10, 10, 0},
                                {0, 10, 10, 10, 0},
                                {0, 10, 10, 10, 0},
                                {0, 0, 0, 0, 0},
                            }));
}

TEST(FilterPicture, GaussianWeightsAreSymmetricAndFallOffWithSigmaOne)
{
    // 255 × w(dx) × w(dy) with w = e^(−d²/2) normalised over five taps, rounded by hand.
    std::vector<std::vector<int>> rows(9, std::vector<int>(9, 0));
    rows[4][4] = 255;
    const Picture out = FilterPicture(greyRows(rows), Kernel::Gaussian);
    const std::vector<std::vector<int>> expected = {
        {1, 3, 6, 3, 1},
        {3, 15, 25, 15, 3},
        {6, 25, 41, 25, 6},
        {3, 15, 25, 15, 3},
        {1, 3, 6, 3, 1},
    };
    const auto got = redRows(out);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 9; ++x) {
            const bool inside = x >= 2 && x <= 6 && y >= 2 && y <= 6;
            const int want = inside ? expected[std::size_t(y - 2)][std::size_t(x - 2)] : 0;
            EXPECT_EQ(got[std::size_t(y)][std::size_t(x)], want) << x << ", " << y;
        }
}

TEST(FilterPicture, SharpenSteepensAStepEdgeAndClampsBothWays)
{
    // Red steps 0 → 100 (overshoot stays in range), green 0 → 200 (overshoot clamps to 255).
    Picture p(4, 3, PixelFormat::Rgb24);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            p.row(y)[3 * x] = x < 2 ? 0 : 100;
            p.row(y)[3 * x + 1] = x < 2 ? 0 : 200;
        }
    const Picture out = FilterPicture(p, Kernel::Sharpen);
    for (int y = 0; y < 3; ++y) {
        const uint8_t *r = out.row(y);
        EXPECT_EQ((std::vector<int>{r[0], r[3], r[6], r[9]}), (std::vector<int>{0, 0, 200, 100}));
        EXPECT_EQ((std::vector<int>{r[1], r[4], r[7], r[10]}), (std::vector<int>{0, 0, 255, 200}));
    }
}

TEST(FilterPicture, EveryKernelKeepsAFlatPictureAndTheSizeAndConvertsTo24Bits)
{
    Picture indexed(6, 4, PixelFormat::Indexed8);
    indexed.palette() = {{17, 130, 250}};
    for (Kernel k : {Kernel::Blur, Kernel::Gaussian, Kernel::Sharpen}) {
        const Picture out = FilterPicture(indexed, k);
        ASSERT_EQ(out.format(), PixelFormat::Rgb24);
        ASSERT_EQ(out.width(), 6);
        ASSERT_EQ(out.height(), 4);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x)
                ASSERT_EQ(out.pixel(x, y), (Rgb{17, 130, 250})) << int(k);
    }
    // One pixel: every neighbour is itself.
    const Picture one = FilterPicture(greyRows({{77}}), Kernel::Sharpen);
    EXPECT_EQ(one.pixel(0, 0), (Rgb{77, 77, 77}));
}

TEST(FilterPicture, LargePicturesFilteredInBandsMatchTheDirectConvolution)
{
    // Large enough to be cut into bands; every pixel is checked against a plain 2D convolution
    // with clamped borders, so a seam between bands or a slip of the row ring shows.
    const int w = 1100, h = 521;
    Picture p(w, h, PixelFormat::Rgb24);
    std::mt19937 random(7);
    for (uint8_t &b : p.data())
        b = uint8_t(random());
    struct Case {
        Kernel kernel;
        std::vector<std::vector<int>> weights;
        int total;
    };
    const std::vector<int> g = {223, 1000, 1650, 1000, 223};
    std::vector<std::vector<int>> gauss(5, std::vector<int>(5));
    for (int j = 0; j < 5; ++j)
        for (int i = 0; i < 5; ++i)
            gauss[std::size_t(j)][std::size_t(i)] = g[std::size_t(j)] * g[std::size_t(i)];
    const std::vector<Case> cases = {
        {Kernel::Blur, std::vector<std::vector<int>>(3, std::vector<int>(3, 1)), 9},
        {Kernel::Gaussian, gauss, 1 << 24},
        {Kernel::Sharpen, {{0, -1, 0}, {-1, 5, -1}, {0, -1, 0}}, 1},
    };
    for (const Case &c : cases) {
        const Picture out = FilterPicture(p, c.kernel);
        const int r = int(c.weights.size()) / 2;
        int mismatches = 0;
        for (int y = 0; y < h && mismatches < 5; ++y)
            for (int x = 0; x < w && mismatches < 5; ++x)
                for (int ch = 0; ch < 3; ++ch) {
                    long long s = 0;
                    for (int j = -r; j <= r; ++j)
                        for (int i = -r; i <= r; ++i) {
                            const int sx = std::clamp(x + i, 0, w - 1), sy = std::clamp(y + j, 0, h - 1);
                            s += (long long)c.weights[std::size_t(j + r)][std::size_t(i + r)] * p.row(sy)[3 * sx + ch];
                        }
                    const long long want = std::clamp<long long>(
                        (long long)std::floor(double(s) / c.total + 0.5), 0, 255);
                    if (out.row(y)[3 * x + ch] != want) {
                        ++mismatches;
                        ADD_FAILURE() << "kernel " << int(c.kernel) << " at " << x << ", " << y << " channel " << ch
                                      << ": " << int(out.row(y)[3 * x + ch]) << " instead of " << want;
                    }
                }
    }
}
