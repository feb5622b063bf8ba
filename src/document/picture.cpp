#include "picture.h"

#include <cstring>

namespace doc {

int Picture::bytesPerPixel(PixelFormat f)
{
    switch (f) {
    case PixelFormat::Mono1:
    case PixelFormat::Indexed8:
        return 1;
    case PixelFormat::Rgb24:
        return 3;
    case PixelFormat::Rgba32:
        return 4;
    }
    return 1;
}

Picture::Picture(int width, int height, PixelFormat format)
    : mWidth(width > 0 ? width : 0)
    , mHeight(height > 0 ? height : 0)
    , mFormat(format)
{
    mData.assign(std::size_t(mWidth) * std::size_t(mHeight) * std::size_t(bytesPerPixel(format)), 0);
}

Rgb Picture::pixel(int x, int y) const
{
    const uint8_t *p = row(y) + std::size_t(x) * bytesPerPixel();
    if (isIndexed())
        return *p < mPalette.size() ? mPalette[*p] : Rgb{};
    return {p[0], p[1], p[2]};
}

Picture Picture::toRgb24() const
{
    Picture out(mWidth, mHeight, PixelFormat::Rgb24);
    out.mTransparent = mTransparent;
    const std::size_t n = std::size_t(mWidth) * std::size_t(mHeight);
    const uint8_t *src = mData.data();
    uint8_t *dst = out.mData.data();
    switch (mFormat) {
    case PixelFormat::Rgb24:
        if (n)
            std::memcpy(dst, src, n * 3);
        break;
    case PixelFormat::Rgba32:
        for (std::size_t i = 0; i < n; ++i, src += 4, dst += 3) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
        }
        break;
    case PixelFormat::Mono1:
    case PixelFormat::Indexed8: {
        Rgb lut[256] = {};
        for (std::size_t i = 0; i < mPalette.size() && i < 256; ++i)
            lut[i] = mPalette[i];
        for (std::size_t i = 0; i < n; ++i, dst += 3) {
            const Rgb c = lut[src[i]];
            dst[0] = c.r;
            dst[1] = c.g;
            dst[2] = c.b;
        }
        break;
    }
    }
    return out;
}

Picture Picture::toRgba32() const
{
    if (mFormat == PixelFormat::Rgba32)
        return *this;
    Picture rgb = mFormat == PixelFormat::Rgb24 ? *this : toRgb24();
    Picture out(mWidth, mHeight, PixelFormat::Rgba32);
    out.mTransparent = mTransparent;
    const std::size_t n = std::size_t(mWidth) * std::size_t(mHeight);
    const uint8_t *src = rgb.mData.data();
    uint8_t *dst = out.mData.data();
    for (std::size_t i = 0; i < n; ++i, src += 3, dst += 4) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
        dst[3] = 255;
    }
    return out;
}

Rgb transparentColor(const Picture &picture)
{
    if (picture.designatedTransparentColor())
        return *picture.designatedTransparentColor();
    if (picture.format() == PixelFormat::Mono1)
        return {255, 255, 255};
    if (picture.isNull())
        return {};
    return picture.pixel(0, picture.height() - 1);
}

} // namespace doc
