#include "transforms.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

namespace filters {

using doc::Picture;
using doc::PixelFormat;

namespace {

/** An empty picture of the same size, format and table. */
Picture blankLike(const Picture &picture)
{
    Picture out(picture.width(), picture.height(), picture.format());
    out.palette() = picture.palette();
    return out;
}

/** Straight-alpha "over": an opaque source replaces the target, a clear one leaves it. */
void blendOver(uint8_t *dst, const uint8_t *src)
{
    const unsigned a = src[3];
    if (a == 255) {
        std::memcpy(dst, src, 4);
        return;
    }
    if (a == 0)
        return;
    const unsigned da = dst[3] * (255 - a) / 255;
    const unsigned outA = a + da;
    for (int c = 0; c < 3; ++c)
        dst[c] = uint8_t((src[c] * a + dst[c] * da + outA / 2) / outA);
    dst[3] = uint8_t(outA);
}

} // namespace

Picture FlipVertical(const Picture &picture)
{
    Picture out = blankLike(picture);
    const int h = picture.height();
    for (int y = 0; y < h; ++y)
        std::memcpy(out.row(y), picture.row(h - 1 - y), picture.stride());
    return out;
}

Picture FlipHorizontal(const Picture &picture)
{
    Picture out = blankLike(picture);
    const int w = picture.width();
    const std::size_t bpp = std::size_t(picture.bytesPerPixel());
    for (int y = 0; y < picture.height(); ++y) {
        const uint8_t *src = picture.row(y);
        uint8_t *dst = out.row(y);
        for (int x = 0; x < w; ++x)
            std::memcpy(dst + std::size_t(x) * bpp, src + std::size_t(w - 1 - x) * bpp, bpp);
    }
    return out;
}

Picture RotatePicture(const Picture &picture, double angle)
{
    Picture out = blankLike(picture);
    const int w = picture.width();
    const int h = picture.height();
    if (picture.isNull())
        return out;

    // The scale is worked out in single precision, the way the fitting has always been computed.
    const float r = float(w - 1);
    const float b = float(h - 1);
    const float alpha = float(angle) * std::numbers::pi_v<float> / 180.0f;
    const float sx = std::abs(r * std::cos(alpha)) + std::abs(b * std::sin(alpha));
    const float sy = std::abs(r * std::sin(alpha)) + std::abs(b * std::cos(alpha));
    // A side of one pixel has no extent to fit (its term is zero, or only rounding noise of the
    // sine): it sets no limit, and the other side decides; a single pixel keeps its scale of 1.
    constexpr float kNoLimit = std::numeric_limits<float>::infinity();
    const float fitX = w > 1 && sx > 0 ? float(w) / sx : kNoLimit;
    const float fitY = h > 1 && sy > 0 ? float(h) / sy : kNoLimit;
    float s = std::min(fitX, fitY);
    if (!std::isfinite(s))
        s = 1.0f;

    // Forward map: translate by −centre, rotate, scale by s, translate back. Each target pixel
    // centre goes through its inverse, in double so that wide pictures keep their half-pixel margin.
    const double cx = double(r) / 2;
    const double cy = double(b) / 2;
    const double a = double(alpha);
    const double cosA = std::cos(a) / double(s);
    const double sinA = std::sin(a) / double(s);
    const std::size_t bpp = std::size_t(picture.bytesPerPixel());
    const bool blend = picture.format() == PixelFormat::Rgba32;
    for (int y = 0; y < h; ++y) {
        uint8_t *dst = out.row(y);
        const double dy = y - cy;
        for (int x = 0; x < w; ++x) {
            const double dx = x - cx;
            // Screen y grows downwards, so counter-clockwise on screen is (x, y) → (x cos + y sin,
            // −x sin + y cos); this is its inverse.
            const double u = cx + dx * cosA - dy * sinA;
            const double v = cy + dx * sinA + dy * cosA;
            const double su = std::ceil(u - 0.5); // nearest, halves down
            const double sv = std::ceil(v - 0.5);
            if (su < 0 || sv < 0 || su >= w || sv >= h)
                continue;
            const uint8_t *src = picture.row(int(sv)) + std::size_t(su) * bpp;
            uint8_t *d = dst + std::size_t(x) * bpp;
            if (blend)
                blendOver(d, src);
            else
                std::memcpy(d, src, bpp);
        }
    }
    return out;
}

} // namespace filters
