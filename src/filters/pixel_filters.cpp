#include "pixel_filters.h"

#include "document/quantize.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <thread>
#include <vector>

namespace filters {

using doc::Picture;
using doc::PixelFormat;

void InvertColors(Picture &picture, int viewWidth, int viewHeight)
{
    const int w = std::clamp(viewWidth, 0, picture.width());
    const int h = std::clamp(viewHeight, 0, picture.height());
    const int bpp = picture.bytesPerPixel();
    for (int y = 0; y < h; ++y) {
        uint8_t *p = picture.row(y);
        switch (picture.format()) {
        case PixelFormat::Mono1:
            // One bit a pixel: its complement swaps the two indices.
            for (int x = 0; x < w; ++x)
                p[x] ^= 1;
            break;
        case PixelFormat::Indexed8:
        case PixelFormat::Rgb24:
            for (std::size_t i = 0, n = std::size_t(w) * std::size_t(bpp); i < n; ++i)
                p[i] = uint8_t(~p[i]);
            break;
        case PixelFormat::Rgba32:
            for (int x = 0; x < w; ++x, p += 4) {
                p[0] = uint8_t(~p[0]);
                p[1] = uint8_t(~p[1]);
                p[2] = uint8_t(~p[2]);
            }
            break;
        }
    }
}

Picture Monochrome(const Picture &picture)
{
    if (picture.format() == PixelFormat::Mono1)
        return picture;
    Picture out(picture.width(), picture.height(), PixelFormat::Mono1);
    out.palette() = {{0, 0, 0}, {255, 255, 255}};
    for (int y = 0; y < picture.height(); ++y) {
        uint8_t *dst = out.row(y);
        for (int x = 0; x < picture.width(); ++x)
            dst[x] = picture.pixel(x, y) == doc::Rgb{255, 255, 255} ? 1 : 0;
    }
    return out;
}

Picture GrayLevels(const Picture &picture)
{
    Picture work = picture;
    return doc::ReduceBitmapColors(work, doc::ReductionMode::GrayScale, doc::DitherMode::NearestColor, 8);
}

namespace {

/** Runs `band(y0, y1)` over [0, height): on a few threads when the picture is large enough to pay. */
template<typename Band>
void forBands(int width, int height, Band band)
{
    constexpr long long kPixelsPerThread = 256 * 1024;
    const long long pixels = static_cast<long long>(width) * height;
    const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
    const int n = int(std::clamp<long long>(pixels / kPixelsPerThread, 1, std::min(cores, 8)));
    if (n <= 1) {
        band(0, height);
        return;
    }
    std::vector<std::thread> threads;
    threads.reserve(std::size_t(n - 1));
    for (int i = 1; i < n; ++i)
        threads.emplace_back(band, int(static_cast<long long>(height) * i / n),
                             int(static_cast<long long>(height) * (i + 1) / n));
    band(0, int(height / n));
    for (std::thread &t : threads)
        t.join();
}

/** Row y of an Rgb24 picture with `r` pixels repeated beyond each end, into `pad`. */
void padRow(const Picture &picture, int y, int r, std::vector<uint8_t> &pad)
{
    const int w = picture.width();
    const uint8_t *src = picture.row(std::clamp(y, 0, picture.height() - 1));
    pad.resize(std::size_t(w + 2 * r) * 3);
    uint8_t *p = pad.data();
    for (int i = 0; i < r; ++i, p += 3)
        std::copy(src, src + 3, p);
    p = std::copy(src, src + std::size_t(w) * 3, p);
    for (int i = 0; i < r; ++i, p += 3)
        std::copy(src + std::size_t(w - 1) * 3, src + std::size_t(w) * 3, p);
}

/**
 * A separable kernel of 2r + 1 integer taps. Each row is filtered horizontally into a ring of
 * 2r + 1 rows kept at full precision, then the ring is summed vertically: one rounding, at the end.
 */
template<int R, typename Finish>
struct Separable {
    std::array<uint32_t, 2 * R + 1> taps;
    /** The result of a vertical sum s: the sum divided by the taps' total squared, rounded. */
    Finish finish;
};

template<int R, typename Finish>
void filterSeparable(const Picture &src, Picture &dst, const Separable<R, Finish> &k, int y0, int y1)
{
    constexpr int K = 2 * R + 1;
    const std::size_t n = std::size_t(src.width()) * 3;
    std::vector<uint8_t> pad;
    std::array<std::vector<uint32_t>, K> ring;
    for (auto &r : ring)
        r.resize(n);
    auto horizontal = [&](int y, std::vector<uint32_t> &out) {
        padRow(src, y, R, pad);
        const uint8_t *p = pad.data();
        uint32_t *o = out.data();
        for (std::size_t i = 0; i < n; ++i) {
            uint32_t s = 0;
            for (int t = 0; t < K; ++t)
                s += k.taps[std::size_t(t)] * p[i + std::size_t(t) * 3];
            o[i] = s;
        }
    };
    // ring[(y + R + j) % K] holds row y + j − R ... filled ahead as y advances.
    for (int j = -R; j < R; ++j)
        horizontal(y0 + j, ring[std::size_t((y0 + j + K * 2) % K)]);
    for (int y = y0; y < y1; ++y) {
        horizontal(y + R, ring[std::size_t((y + R + K * 2) % K)]);
        std::array<const uint32_t *, K> rows;
        for (int t = 0; t < K; ++t)
            rows[std::size_t(t)] = ring[std::size_t((y - R + t + K * 2) % K)].data();
        uint8_t *o = dst.row(y);
        for (std::size_t i = 0; i < n; ++i) {
            uint32_t s = 0;
            for (int t = 0; t < K; ++t)
                s += k.taps[std::size_t(t)] * rows[std::size_t(t)][i];
            o[i] = k.finish(s);
        }
    }
}

// Box: three taps of 1, a total of 9.
struct DivideBy9 {
    uint8_t operator()(uint32_t s) const { return uint8_t((s + 4) / 9); }
};
constexpr Separable<1, DivideBy9> kBox{{1, 1, 1}, {}};

// Gaussian, σ = 1, over 5 taps: e^(−d²/2) normalised to 4096 (223, 1000, 1650): a flat picture
// stays flat, since the taps' total squared is exactly 2^24.
struct ShiftBy24 {
    uint8_t operator()(uint32_t s) const { return uint8_t((s + (1u << 23)) >> 24); }
};
constexpr Separable<2, ShiftBy24> kGaussian{{223, 1000, 1650, 1000, 223}, {}};

void sharpenRows(const Picture &src, Picture &dst, int y0, int y1)
{
    const int h = src.height();
    const std::size_t n = std::size_t(src.width()) * 3;
    std::vector<uint8_t> pad;
    for (int y = y0; y < y1; ++y) {
        padRow(src, y, 1, pad);
        const uint8_t *c = pad.data() + 3;
        const uint8_t *up = src.row(std::max(y - 1, 0));
        const uint8_t *down = src.row(std::min(y + 1, h - 1));
        uint8_t *o = dst.row(y);
        for (std::size_t i = 0; i < n; ++i) {
            const int v = 5 * c[i] - c[i - 3] - c[i + 3] - up[i] - down[i];
            o[i] = uint8_t(std::clamp(v, 0, 255));
        }
    }
}

} // namespace

Picture FilterPicture(const Picture &picture, Kernel kernel)
{
    const Picture src = picture.format() == PixelFormat::Rgb24 ? picture : picture.toRgb24();
    Picture dst(src.width(), src.height(), PixelFormat::Rgb24);
    if (src.isNull())
        return dst;
    forBands(src.width(), src.height(), [&](int y0, int y1) {
        switch (kernel) {
        case Kernel::Blur:
            filterSeparable(src, dst, kBox, y0, y1);
            break;
        case Kernel::Gaussian:
            filterSeparable(src, dst, kGaussian, y0, y1);
            break;
        case Kernel::Sharpen:
            sharpenRows(src, dst, y0, y1);
            break;
        }
    });
    return dst;
}

} // namespace filters
