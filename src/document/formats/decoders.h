#pragma once

// Shared plumbing of the decoders: bounds-checked reading and the size budget.

#include "picture_formats.h"

#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

namespace doc::formats {

Picture decodeJpeg(std::span<const uint8_t> bytes);
Picture decodePng(std::span<const uint8_t> bytes);
Picture decodeGif(std::span<const uint8_t> bytes);
Picture decodeIco(std::span<const uint8_t> bytes);
Picture decodePsd(std::span<const uint8_t> bytes);
Picture decodePsp(std::span<const uint8_t> bytes);
Picture decodeCel(std::span<const uint8_t> bytes);
Picture decodeRla(std::span<const uint8_t> bytes);
Picture decodeEmf(std::span<const uint8_t> bytes);
Picture decodeTga(std::span<const uint8_t> bytes);
Picture decodeBmp(std::span<const uint8_t> bytes);

/** GraphicsMagick with its coder named explicitly ("BMP", "TIFF", "SGI", ...). */
Picture decodeWithMagick(std::span<const uint8_t> bytes, const char *coder);

/**
 * Draws one line of text onto an Rgb24 picture with GraphicsMagick's renderer and our font map.
 * (x, y) is the reference point; align 0/1/2 = left/centre/right of it, vertical 0/1/2 = the
 * reference point is the top, the baseline or the bottom of the text.
 */
void drawTextWithMagick(Picture &canvas, const std::string &utf8, double x, double y, double sizePx,
                        const std::string &font, Rgb color, int align, int vertical);

[[noreturn]] inline void fail(ImportErrorKind kind, const std::string &text)
{
    throw ImportError(kind, text);
}
[[noreturn]] inline void corrupt(const std::string &text)
{
    throw ImportError(ImportErrorKind::Corrupt, text);
}

/** Refuses sizes that are empty or beyond the budget; call before allocating a picture. */
inline void checkPictureSize(int64_t width, int64_t height, const char *format)
{
    if (width <= 0 || height <= 0)
        corrupt(std::string(format) + ": invalid picture size");
    if (width > kMaxPictureSide || height > kMaxPictureSide || width * height > kMaxPicturePixels)
        fail(ImportErrorKind::TooLarge, std::string(format) + ": picture too large (" + std::to_string(width)
                                            + "x" + std::to_string(height) + ")");
}

/** Reads little- or big-endian fields; every read past the end throws Corrupt. */
class ByteReader
{
public:
    ByteReader(std::span<const uint8_t> bytes, const char *format)
        : mData(bytes)
        , mFormat(format)
    {}

    std::size_t pos() const { return mPos; }
    std::size_t size() const { return mData.size(); }
    std::size_t remaining() const { return mData.size() - mPos; }
    void seek(std::size_t p)
    {
        if (p > mData.size())
            truncated();
        mPos = p;
    }
    void skip(std::size_t n) { seek(checkedEnd(n)); }

    const uint8_t *take(std::size_t n)
    {
        const std::size_t end = checkedEnd(n);
        const uint8_t *p = mData.data() + mPos;
        mPos = end;
        return p;
    }
    std::span<const uint8_t> span(std::size_t n) { return {take(n), n}; }

    uint8_t u8() { return *take(1); }
    uint16_t u16le()
    {
        const uint8_t *p = take(2);
        return uint16_t(p[0] | p[1] << 8);
    }
    uint32_t u32le()
    {
        const uint8_t *p = take(4);
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
    int32_t i32le() { return int32_t(u32le()); }
    int16_t i16le() { return int16_t(u16le()); }
    uint16_t u16be()
    {
        const uint8_t *p = take(2);
        return uint16_t(p[0] << 8 | p[1]);
    }
    uint32_t u32be()
    {
        const uint8_t *p = take(4);
        return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
    }
    int16_t i16be() { return int16_t(u16be()); }
    int32_t i32be() { return int32_t(u32be()); }

    [[noreturn]] void truncated() const { corrupt(std::string(mFormat) + ": truncated file"); }

private:
    std::size_t checkedEnd(std::size_t n) const
    {
        if (n > mData.size() - mPos)
            truncated();
        return mPos + n;
    }

    std::span<const uint8_t> mData;
    std::size_t mPos = 0;
    const char *mFormat;
};

/** EXIF orientation (1..8) from a TIFF-structured EXIF block; 1 when absent or unreadable. */
int exifOrientation(std::span<const uint8_t> tiff);
/** The picture turned so that an EXIF orientation shows upright. */
Picture applyOrientation(const Picture &picture, int orientation);

/** A grey ramp palette of 2^bits entries. */
std::vector<Rgb> greyPalette(int entries);

} // namespace doc::formats
