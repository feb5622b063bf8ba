// Colour quality choices: pictures of 256 colours or fewer stay exact under every choice, the
// high-quality palette is closer to real photos than the octree's, one palette serves several
// pictures, and dithering keeps area averages.

#include "document/formats/picture_formats.h"
#include "document/gif_error.h"
#include "document/quantize.h"
#include "document/quantize_quality.h"
#include "support/corpus.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <thread>

using namespace doc;

namespace {

/** Smooth gradients with some grain: far more than 256 colours. */
Picture photoLike(int w, int h)
{
    std::mt19937 rng(3);
    Picture p(w, h, PixelFormat::Rgb24);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t *c = p.row(y) + 3 * x;
            const int grain = int(rng() % 9) - 4;
            c[0] = uint8_t(std::clamp(x * 255 / w + grain, 0, 255));
            c[1] = uint8_t(std::clamp(y * 255 / h + grain, 0, 255));
            c[2] = uint8_t(std::clamp((x + y) * 127 / (w + h) + 60 + grain, 0, 255));
        }
    return p;
}

double psnr(const Picture &original, const Picture &reduced)
{
    double sum = 0;
    for (int y = 0; y < original.height(); ++y)
        for (int x = 0; x < original.width(); ++x) {
            const Rgb c = reduced.palette()[reduced.row(y)[x]];
            const uint8_t *o = original.row(y) + 3 * x;
            sum += (o[0] - c.r) * (o[0] - c.r) + (o[1] - c.g) * (o[1] - c.g) + (o[2] - c.b) * (o[2] - c.b);
        }
    const double mse = sum / (3.0 * original.width() * original.height());
    return 10 * std::log10(255.0 * 255.0 / mse);
}

const ReductionChoice kChoices[] = {
    {PaletteQuality::Octree, Dithering::None},           {PaletteQuality::Best, Dithering::None},
    {PaletteQuality::Best, Dithering::FloydSteinberg},   {PaletteQuality::Octree, Dithering::Ordered},
    {PaletteQuality::Octree, Dithering::FloydSteinberg}, {PaletteQuality::Best, Dithering::Ordered},
};

/** w × h pixels whose colours are first, first + 1, ... (cycling through count of them). */
Picture numbered(int w, int h, int first, int count)
{
    Picture p(w, h, PixelFormat::Rgb24);
    for (int i = 0; i < w * h; ++i) {
        const int n = first + i % count;
        uint8_t *c = p.row(i / w) + 3 * (i % w);
        c[0] = uint8_t(n * 7);
        c[1] = uint8_t(n / 3 * 5);
        c[2] = uint8_t(n >> 8);
    }
    return p;
}

} // namespace

TEST(QuantizeQuality, FewColoursStayExactUnderEveryChoice)
{
    Picture few(40, 30, PixelFormat::Rgb24);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            uint8_t *c = few.row(y) + 3 * x;
            // 40 reds times 5 greens: 200 colours.
            c[0] = uint8_t(x * 6);
            c[1] = uint8_t((y / 6) * 40);
            c[2] = uint8_t((x / 8) * 50);
        }
    for (const ReductionChoice &choice : kChoices) {
        Picture input = few;
        const Picture out = reducePicture(input, choice);
        ASSERT_EQ(out.palette().size(), 256u);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) {
                const Rgb c = out.palette()[out.row(y)[x]];
                const uint8_t *o = few.row(y) + 3 * x;
                ASSERT_TRUE(c.r == o[0] && c.g == o[1] && c.b == o[2]) << x << "," << y;
            }
    }
}

TEST(QuantizeQuality, BestPaletteBeatsTheOctreeOnPhotosByADecibel)
{
    REQUIRE_CORPUS();
    for (const char *name : {"01.png", "05.png", "13.png", "23.png"}) {
        SCOPED_TRACE(name);
        const Picture photo = formats::readPicture(testsupport::corpusPath("photos-kodak/PhotoCD_PCD0992/").string() + name);
        Picture a = photo, b = photo;
        const double octree = psnr(a.toRgb24(), reducePicture(a, {}));
        const Picture best = reducePicture(b, {PaletteQuality::Best, Dithering::None});
        EXPECT_GT(psnr(b, best), octree + 1.0);
    }
}

TEST(QuantizeQuality, OnePaletteForSeveralPictures)
{
    // Colours gathered over pictures: exact while the union has at most 256, a best palette beyond.
    struct Case {
        int firstA, countA, firstB, countB;
        bool exact;
    };
    for (const Case c : {Case{0, 150, 100, 150, true}, Case{0, 150, 200, 150, false}, Case{0, 256, 0, 256, true}}) {
        const Picture a = numbered(64, 40, c.firstA, c.countA), b = numbered(64, 40, c.firstB, c.countB);
        ColorHistogram histogram;
        histogram.add(a);
        ColorHistogram other;
        other.add(b);
        histogram.add(other);
        const std::vector<Rgb> palette = histogram.bestPalette(256);
        ASSERT_LE(palette.size(), 256u);
        EXPECT_EQ(!histogram.fewColors().empty(), c.exact);
        for (const Picture *p : {&a, &b}) {
            const Picture mapped = mapToPalette(*p, palette, Dithering::None);
            if (c.exact)
                EXPECT_EQ(mapped.toRgb24().data(), p->data());
            else
                EXPECT_GT(psnr(*p, mapped), 40.0);
        }
    }
    // Fewer colours asked for than there are: the palette has that many, closer than the octree's.
    const Picture photo = photoLike(160, 120);
    ColorHistogram histogram;
    histogram.add(photo);
    const std::vector<Rgb> sixteen = histogram.bestPalette(16);
    EXPECT_EQ(sixteen.size(), 16u);
    const Picture mapped = mapToPalette(photo, sixteen, Dithering::None);
    EXPECT_EQ(mapped.palette().size(), 16u);
    Picture copy = photo;
    EXPECT_GT(psnr(photo, mapped), psnr(photo, ReduceBitmapColors(copy, ReductionMode::OctreeQuantize, DitherMode::NearestColor, 4)) + 1.0);
}

TEST(QuantizeQuality, OneMapperServesManyPicturesOnSeveralThreads)
{
    // Nearest entries kept from earlier pictures must not change what later ones map to.
    const Picture photo = photoLike(96, 64);
    ColorHistogram histogram;
    histogram.add(photo);
    const std::vector<Rgb> palette = histogram.bestPalette(40);
    std::vector<Picture> pictures;
    for (int shift : {0, 37, 101, 0}) {
        Picture p = photo;
        for (uint8_t &v : p.data())
            v = uint8_t(v + shift);
        pictures.push_back(std::move(p));
    }
    for (const Dithering dither : {Dithering::None, Dithering::FloydSteinberg, Dithering::Ordered}) {
        const PaletteMapper mapper(palette);
        std::vector<Picture> mapped(pictures.size() * 2);
        auto work = [&](std::size_t from) {
            for (std::size_t i = from; i < mapped.size(); i += 2)
                mapped[i] = mapper.map(pictures[i % pictures.size()], dither);
        };
        std::thread other(work, 1);
        work(0);
        other.join();
        for (std::size_t i = 0; i < mapped.size(); ++i) {
            const Picture alone = mapToPalette(pictures[i % pictures.size()], palette, dither);
            EXPECT_EQ(mapped[i].data(), alone.data()) << int(dither) << " picture " << i;
            EXPECT_EQ(mapped[i].palette(), alone.palette());
        }
    }
}

TEST(QuantizeQuality, DitheringKeepsAreaAverages)
{
    const Picture photo = photoLike(320, 240);
    // Over 8 x 8 blocks the dithered pictures' averages lie nearer the photo's than nearest colours do.
    auto blockError = [&](const Picture &reduced) {
        double sum = 0;
        for (int by = 0; by < 240; by += 8)
            for (int bx = 0; bx < 320; bx += 8) {
                double diff[3] = {0, 0, 0};
                for (int y = by; y < by + 8; ++y)
                    for (int x = bx; x < bx + 8; ++x) {
                        const Rgb q = reduced.palette()[reduced.row(y)[x]];
                        const uint8_t *o = photo.row(y) + 3 * x;
                        diff[0] += o[0] - q.r;
                        diff[1] += o[1] - q.g;
                        diff[2] += o[2] - q.b;
                    }
                sum += std::abs(diff[0]) + std::abs(diff[1]) + std::abs(diff[2]);
            }
        return sum;
    };
    for (PaletteQuality quality : {PaletteQuality::Octree, PaletteQuality::Best}) {
        Picture a = photo, b = photo, c = photo;
        const Picture plain = reducePicture(a, {quality, Dithering::None});
        EXPECT_LT(blockError(reducePicture(b, {quality, Dithering::FloydSteinberg})), blockError(plain));
        EXPECT_LT(blockError(reducePicture(c, {quality, Dithering::Ordered})), blockError(plain));
    }
}

TEST(QuantizeQuality, EmptyPictureIsRefused)
{
    for (const ReductionChoice &choice : kChoices) {
        Picture empty;
        try {
            reducePicture(empty, choice);
            ADD_FAILURE() << "no error";
        } catch (const GifError &e) {
            EXPECT_EQ(e.kind(), GifErrorKind::InvalidDimensions);
        }
    }
}
