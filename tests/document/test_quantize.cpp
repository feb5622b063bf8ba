#include "document/gif_error.h"
#include "document/quantize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <vector>

using namespace doc;

namespace {

/** A one-row (or wider, row-major) Rgb24 picture holding these pixels in this order. */
Picture pictureOf(const std::vector<Rgb> &pixels, int width = 0)
{
    if (width == 0)
        width = int(pixels.size());
    const int height = int(pixels.size()) / width;
    Picture p(width, height, PixelFormat::Rgb24);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        p.data()[3 * i] = pixels[i].r;
        p.data()[3 * i + 1] = pixels[i].g;
        p.data()[3 * i + 2] = pixels[i].b;
    }
    return p;
}

/** r7 g7 b7 r6 g6 b6 ... r0 g0 b0: the octree's depth-first order of leaves. */
uint32_t interleavedKey(Rgb c)
{
    uint32_t key = 0;
    for (int bit = 7; bit >= 0; --bit)
        key = key << 3 | ((c.r >> bit) & 1u) << 2 | ((c.g >> bit) & 1u) << 1 | ((c.b >> bit) & 1u);
    return key;
}

/** The palette expected from these leaf colours: in tree order, then black up to size. */
std::vector<Rgb> treeOrderPalette(std::vector<Rgb> leaves, std::size_t size)
{
    std::sort(leaves.begin(), leaves.end(),
              [](Rgb a, Rgb b) { return interleavedKey(a) < interleavedKey(b); });
    leaves.resize(size, Rgb{});
    return leaves;
}

int bruteNearest(const std::vector<Rgb> &palette, Rgb c)
{
    int best = -1, bestDistance = 0;
    for (int i = 0; i < int(palette.size()); ++i) {
        const int dr = palette[i].r - c.r, dg = palette[i].g - c.g, db = palette[i].b - c.b;
        const int d = dr * dr + dg * dg + db * db;
        if (best < 0 || d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    return best;
}

/** Every pixel of out holds the exact nearest entry (lowest index on ties) of the rgb pixel. */
void expectNearestMapping(const Picture &rgb, const Picture &out)
{
    ASSERT_EQ(rgb.format(), PixelFormat::Rgb24);
    ASSERT_EQ(out.width(), rgb.width());
    ASSERT_EQ(out.height(), rgb.height());
    int mismatches = 0;
    for (int y = 0; y < rgb.height(); ++y) {
        for (int x = 0; x < rgb.width(); ++x) {
            const Rgb c = rgb.pixel(x, y);
            const int expected = bruteNearest(out.palette(), c);
            if (out.row(y)[x] != expected && ++mismatches <= 5) {
                ADD_FAILURE() << "pixel (" << x << ", " << y << ") colour " << int(c.r) << "," << int(c.g)
                              << "," << int(c.b) << " got index " << int(out.row(y)[x]) << ", nearest is "
                              << expected;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

Picture reduceOctree(Picture picture, int bits = 8)
{
    return ReduceBitmapColors(picture, ReductionMode::OctreeQuantize, DitherMode::NearestColor, bits);
}

/** Distinct colours whose top three bits already differ, so each one grows its own branch. */
std::vector<Rgb> spreadColors(int count)
{
    std::vector<Rgb> out;
    for (int r = 0; r < 8 && int(out.size()) < count; ++r)
        for (int g = 0; g < 8 && int(out.size()) < count; ++g)
            for (int b = 0; b < 4 && int(out.size()) < count; ++b)
                out.push_back(Rgb{uint8_t(32 * r), uint8_t(32 * g), uint8_t(64 * b)});
    return out;
}

std::vector<Rgb> concat(std::initializer_list<std::vector<Rgb>> parts)
{
    std::vector<Rgb> out;
    for (const auto &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

} // namespace

TEST(OctreeQuantize, UpTo256ColoursAreKeptExactlyInTreeOrder)
{
    std::mt19937 rng(7);
    for (int count : {1, 2, 100, 255, 256}) {
        // Distinct random colours, each repeated, shuffled over the picture.
        std::vector<Rgb> colors;
        std::vector<uint32_t> keys;
        while (int(colors.size()) < count) {
            const uint32_t k = rng() & 0xFFFFFFu;
            if (std::find(keys.begin(), keys.end(), k) != keys.end())
                continue;
            keys.push_back(k);
            colors.push_back(Rgb{uint8_t(k >> 16), uint8_t(k >> 8), uint8_t(k)});
        }
        std::vector<Rgb> pixels;
        for (int rep = 0; rep < 3; ++rep)
            pixels.insert(pixels.end(), colors.begin(), colors.end());
        std::shuffle(pixels.begin(), pixels.end(), rng);

        const Picture in = pictureOf(pixels, count);
        const Picture out = reduceOctree(in);
        ASSERT_EQ(out.format(), PixelFormat::Indexed8);
        EXPECT_FALSE(out.designatedTransparentColor().has_value());
        EXPECT_EQ(out.palette(), treeOrderPalette(colors, 256)) << count << " colours";
        for (int y = 0; y < in.height(); ++y)
            for (int x = 0; x < in.width(); ++x)
                ASSERT_EQ(out.pixel(x, y), in.pixel(x, y)) << count << " colours, pixel " << x << "," << y;
    }
}

TEST(OctreeQuantize, OneColourPicture)
{
    for (Rgb c : {Rgb{200, 10, 77}, Rgb{0, 0, 0}}) {
        const Picture out = reduceOctree(pictureOf(std::vector<Rgb>(12, c), 4));
        std::vector<Rgb> expected(256, Rgb{});
        expected[0] = c;
        EXPECT_EQ(out.palette(), expected);
        EXPECT_EQ(out.data(), std::vector<uint8_t>(12, 0));
    }
}

TEST(OctreeQuantize, SmallerBitCountsGiveThatManyEntries)
{
    // 4 bits: 16 entries; 16 colours are kept, a 17th forces a merge.
    const std::vector<Rgb> sixteen = spreadColors(16);
    Picture out = reduceOctree(pictureOf(sixteen), 4);
    EXPECT_EQ(out.palette(), treeOrderPalette(sixteen, 16));

    Picture in = pictureOf(concat({sixteen, {Rgb{1, 1, 1}}}));
    out = reduceOctree(in, 4);
    EXPECT_EQ(out.palette().size(), 16u);
    expectNearestMapping(in, out);

    // A palette of more than 256 entries cannot be indexed by a byte.
    EXPECT_THROW(reduceOctree(in, 9), std::invalid_argument);
    EXPECT_THROW(reduceOctree(in, 0), std::invalid_argument);
}

// The colours of each case arrive in this pixel order; the expected leaves are listed in any order
// and come out in tree order, padded with black.
struct MergeCase {
    const char *name;
    std::vector<Rgb> pixels;
    std::vector<Rgb> leaves;
};

TEST(OctreeQuantize, TwoHundredFiftySevenColoursMergeTheLatestDeepestNode)
{
    const Rgb p1a{100, 100, 100}, p1b{100, 100, 101}; // share a depth-7 node
    const Rgb p2a{150, 50, 200}, p2b{150, 50, 201};   // share another one
    const std::vector<Rgb> s253 = spreadColors(253);

    std::vector<Rgb> eight; // the eight children of one depth-7 node
    for (int i = 0; i < 8; ++i)
        eight.push_back(Rgb{uint8_t(100 + (i >> 2)), uint8_t(100 + ((i >> 1) & 1)), uint8_t(100 + (i & 1))});

    // Two colours that part only at depth 6, and 255 spread ones: 257 depth-7 nodes of one child
    // each, so the one-child merges change nothing until the last depth-6 node is merged.
    const Rgb q1{100, 100, 100}, q2{100, 100, 102};

    const MergeCase cases[] = {
        {"pair created last is merged", concat({{p1a, p1b}, s253, {p2a, p2b}}),
         concat({s253, {p1a, p1b, Rgb{150, 50, 200}}})},
        {"same colours in another order: the other pair is merged", concat({{p2a, p2b}, s253, {p1a, p1b}}),
         concat({s253, {p2a, p2b, Rgb{100, 100, 100}}})},
        {"eight children leave 250 leaves", concat({spreadColors(249), eight}),
         concat({spreadColors(249), {Rgb{100, 100, 100}}})},
        {"depth 7 exhausted, depth 6 merged", concat({spreadColors(255), {q1, q2}}),
         concat({spreadColors(255), {Rgb{100, 100, 101}}})},
    };
    for (const MergeCase &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.pixels.size(), 257u);
        const Picture in = pictureOf(c.pixels);
        const Picture out = reduceOctree(in);
        EXPECT_EQ(out.palette(), treeOrderPalette(c.leaves, 256));
        expectNearestMapping(in, out);
    }
}

TEST(OctreeQuantize, PixelsReachingAMergedLeafCountInItsTruncatedAverage)
{
    // (100, 100, 100) and (100, 100, 102) are merged at depth 6; eight later (100, 100, 103) pixels
    // land in that leaf: blue (100 + 102 + 8 × 103) / 10 = 102.6 -> 102 (101 if they were lost,
    // 103 if rounded).
    const std::vector<Rgb> s255 = spreadColors(255);
    const std::vector<Rgb> pixels =
        concat({s255, {Rgb{100, 100, 100}, Rgb{100, 100, 102}}, std::vector<Rgb>(8, Rgb{100, 100, 103})});
    const Picture out = reduceOctree(pictureOf(pixels));
    EXPECT_EQ(out.palette(), treeOrderPalette(concat({s255, {Rgb{100, 100, 102}}}), 256));
}

TEST(OctreeQuantize, ChannelSumsDoNotOverflowOnLargeBrightPictures)
{
    // 3000 × 3000 white pixels in one leaf: 2,295,000,000 per channel, past 32 bits signed.
    Picture in(3000, 3000, PixelFormat::Rgb24);
    std::fill(in.data().begin(), in.data().end(), uint8_t(255));
    const Picture out = reduceOctree(std::move(in));
    EXPECT_EQ(out.palette()[0], (Rgb{255, 255, 255}));
    EXPECT_TRUE(std::all_of(out.data().begin(), out.data().end(), [](uint8_t v) { return v == 0; }));
}

TEST(OctreeQuantize, MappingEqualsBruteForceNearestEntry)
{
    // Noise, gradients and flat runs: many merges at several depths, many cache misses and hits.
    std::mt19937 rng(12345);
    for (int round = 0; round < 6; ++round) {
        const int w = 97, h = 61;
        Picture in(w, h, PixelFormat::Rgb24);
        const int style = round % 3;
        for (int y = 0; y < h; ++y) {
            uint8_t *p = in.row(y);
            for (int x = 0; x < w; ++x, p += 3) {
                if (style == 0) { // uniform noise
                    const uint32_t v = rng();
                    p[0] = uint8_t(v), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v >> 16);
                } else if (style == 1) { // smooth gradient with a little noise
                    p[0] = uint8_t(std::clamp(x * 255 / w + int(rng() % 7) - 3, 0, 255));
                    p[1] = uint8_t(std::clamp(y * 255 / h + int(rng() % 7) - 3, 0, 255));
                    p[2] = uint8_t((x + y) * 255 / (w + h));
                } else { // flat runs of few colours among grey noise
                    const uint8_t g = uint8_t(rng());
                    p[0] = p[1] = p[2] = g;
                    if (x % 13 < 6)
                        p[0] = uint8_t(40 * (y % 5)), p[1] = 90, p[2] = uint8_t(200 - x % 13);
                }
            }
        }
        for (int bits : {8, 5, 1}) {
            SCOPED_TRACE(testing::Message() << "round " << round << ", bits " << bits);
            const Picture out = reduceOctree(in, bits);
            ASSERT_EQ(out.palette().size(), std::size_t(1) << bits);
            expectNearestMapping(in, out);
        }
    }
}

TEST(OctreeQuantize, MappingOfARegularGridEqualsBruteForce)
{
    // Every fourth value of each channel: all 32 768 cells of the cube are met, and the even
    // palette a regular grid gives makes many pixels equally close to two or more entries.
    Picture in(512, 512, PixelFormat::Rgb24);
    uint8_t *p = in.data().data();
    for (int r = 0; r < 256; r += 4)
        for (int g = 0; g < 256; g += 4)
            for (int b = 0; b < 256; b += 4, p += 3)
                p[0] = uint8_t(r), p[1] = uint8_t(g), p[2] = uint8_t(b + r % 3);
    const Picture out = reduceOctree(in);
    expectNearestMapping(in, out);
}

TEST(OctreeQuantize, TiesGoToTheLowestIndex)
{
    // Black maps to the first black entry, not to the padding after it.
    const std::vector<Rgb> colors = {Rgb{0, 0, 0}, Rgb{2, 0, 0}, Rgb{250, 250, 250}};
    Picture out = reduceOctree(pictureOf(colors));
    ASSERT_EQ(out.palette(), treeOrderPalette(colors, 256));
    EXPECT_EQ(out.data(), (std::vector<uint8_t>{0, 1, 2}));

    // (150, 50, 201) is merged into (150, 50, 200) and then lies as close to it as to
    // (150, 50, 202), which comes later in tree order.
    const std::vector<Rgb> s254 = spreadColors(254);
    const Rgb c200{150, 50, 200}, c201{150, 50, 201}, c202{150, 50, 202};
    out = reduceOctree(pictureOf(concat({s254, {c202, c200, c201}})));
    ASSERT_EQ(out.palette(), treeOrderPalette(concat({s254, {c200, c202}}), 256));
    const auto entry = [&](Rgb c) {
        return int(std::find(out.palette().begin(), out.palette().end(), c) - out.palette().begin());
    };
    ASSERT_LT(entry(c200), entry(c202));
    EXPECT_EQ(out.data()[254], entry(c202));
    EXPECT_EQ(out.data()[255], entry(c200));
    EXPECT_EQ(out.data()[256], entry(c200));

    // Two entries: (92, 92, 92) and the merge of (96, 96, 96) with (104, 104, 104), (100, 100, 100).
    // (96, 96, 96) lies 48 from both, and 48 is also the farthest any colour of its 8 × 8 × 8 block
    // can be from (100, 100, 100): the tie sits exactly on the limit of the candidates searched.
    out = reduceOctree(pictureOf({Rgb{92, 92, 92}, Rgb{96, 96, 96}, Rgb{104, 104, 104}}), 1);
    ASSERT_EQ(out.palette(), (std::vector<Rgb>{Rgb{92, 92, 92}, Rgb{100, 100, 100}}));
    EXPECT_EQ(out.data(), (std::vector<uint8_t>{0, 0, 1}));
}

TEST(ReduceBitmapColors, InputBecomesRgb24WithItsColours)
{
    const std::vector<Rgb> colors = {Rgb{10, 20, 30}, Rgb{255, 0, 0}, Rgb{0, 0, 0}, Rgb{9, 9, 9}};
    Picture rgba(2, 2, PixelFormat::Rgba32);
    for (int i = 0; i < 4; ++i) {
        rgba.data()[4 * i] = colors[i].r;
        rgba.data()[4 * i + 1] = colors[i].g;
        rgba.data()[4 * i + 2] = colors[i].b;
        rgba.data()[4 * i + 3] = uint8_t(60 * i);
    }
    Picture indexed(2, 2, PixelFormat::Indexed8);
    indexed.palette() = {colors[3], colors[2], colors[1], colors[0]};
    indexed.data() = {3, 2, 1, 0};
    Picture mono(2, 2, PixelFormat::Mono1);
    mono.palette() = {Rgb{0, 0, 0}, Rgb{255, 255, 255}};
    mono.data() = {1, 0, 0, 1};

    const ReductionMode modes[] = {ReductionMode::OctreeQuantize, ReductionMode::GrayScale,
                                   ReductionMode::WebSafeCube};
    for (ReductionMode mode : modes) {
        for (const Picture &original : {rgba, indexed, mono}) {
            Picture in = original;
            const Picture out = ReduceBitmapColors(in, mode, DitherMode::NearestColor, 8);
            ASSERT_EQ(in.format(), PixelFormat::Rgb24);
            EXPECT_EQ(in.data(), original.toRgb24().data());
            EXPECT_EQ(out.width(), 2);
            EXPECT_EQ(out.height(), 2);
        }
    }
}

TEST(ReduceBitmapColors, EmptyPictureIsRefusedAndLeftAlone)
{
    const Picture empties[] = {Picture(), Picture(0, 5, PixelFormat::Rgba32),
                               Picture(5, 0, PixelFormat::Indexed8)};
    const ReductionMode modes[] = {ReductionMode::OctreeQuantize, ReductionMode::GrayScale,
                                   ReductionMode::WebSafeCube};
    for (ReductionMode mode : modes) {
        for (const Picture &empty : empties) {
            Picture in = empty;
            try {
                ReduceBitmapColors(in, mode, DitherMode::NearestColor, 8);
                ADD_FAILURE() << "no error for an empty picture";
            } catch (const GifError &e) {
                EXPECT_EQ(e.kind(), GifErrorKind::InvalidDimensions);
                EXPECT_STREQ(e.what(), "Invalid image dimensions");
            }
            EXPECT_EQ(in.format(), empty.format());
        }
    }
}

TEST(ReduceBitmapColors, ShortPixelBufferIsRefusedNotRead)
{
    Picture in(4, 4, PixelFormat::Rgb24);
    in.data().resize(10);
    EXPECT_THROW(reduceOctree(in), GifError);
}

TEST(GrayScale, IndexIsWeightedLevelOverGreyRamp)
{
    const struct {
        Rgb color;
        int index;
    } cases[] = {
        {{255, 255, 255}, 255}, {{255, 0, 0}, 76}, {{0, 255, 0}, 149}, {{0, 0, 255}, 28},
        {{0, 0, 0}, 0},         {{100, 150, 200}, (77 * 100 + 150 * 150 + 29 * 200) >> 8},
    };
    std::vector<Rgb> pixels;
    for (const auto &c : cases)
        pixels.push_back(c.color);
    Picture in = pictureOf(pixels);
    const Picture out = ReduceBitmapColors(in, ReductionMode::GrayScale, DitherMode::NearestColor, 8);
    ASSERT_EQ(out.palette().size(), 256u);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(out.palette()[i], (Rgb{uint8_t(i), uint8_t(i), uint8_t(i)}));
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(out.data()[i], cases[i].index) << "case " << i;
}

TEST(WebSafeCube, LevelsRoundAtTheMidpointsAndIndexIsBase6)
{
    const struct {
        Rgb color;
        int index;
    } cases[] = {
        {{47, 47, 47}, 0},       {{48, 48, 48}, 36 + 6 + 1},   {{255, 128, 0}, 192},
        {{255, 255, 255}, 215},  {{0, 0, 0}, 0},               {{98, 99, 150}, 36 * 1 + 6 * 2 + 3},
        {{204, 229, 252}, 36 * 4 + 6 * 4 + 5},
    };
    std::vector<Rgb> pixels;
    for (const auto &c : cases)
        pixels.push_back(c.color);
    Picture in = pictureOf(pixels);
    const Picture out = ReduceBitmapColors(in, ReductionMode::WebSafeCube, DitherMode::NearestColor, 3);
    ASSERT_EQ(out.palette().size(), 216u);
    EXPECT_EQ(out.palette()[192], (Rgb{255, 102, 0}));
    EXPECT_EQ(out.palette()[43], (Rgb{51, 51, 51}));
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(out.data()[i], cases[i].index) << "case " << i;
}
