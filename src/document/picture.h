#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace doc {

struct Rgb {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    friend bool operator==(const Rgb &, const Rgb &) = default;
};

enum class PixelFormat {
    Mono1,    // two colours, one palette index (0 or 1) per pixel
    Indexed8, // up to 256 colours, one palette index per pixel
    Rgb24,    // r, g, b per pixel
    Rgba32,   // r, g, b, a per pixel (straight alpha)
};

/**
 * A raster picture held by value. Pixels are stored without row padding: one byte per pixel for
 * the indexed formats (Mono1 included), three for Rgb24 and four for Rgba32.
 */
class Picture
{
public:
    Picture() = default;
    /** A picture of the given size, every byte zero. Throws std::bad_alloc when it cannot be held. */
    Picture(int width, int height, PixelFormat format);

    int width() const { return mWidth; }
    int height() const { return mHeight; }
    PixelFormat format() const { return mFormat; }
    bool isNull() const { return mWidth <= 0 || mHeight <= 0; }
    int bytesPerPixel() const { return bytesPerPixel(mFormat); }
    std::size_t stride() const { return std::size_t(mWidth) * bytesPerPixel(); }
    bool isIndexed() const { return mFormat == PixelFormat::Mono1 || mFormat == PixelFormat::Indexed8; }

    uint8_t *row(int y) { return mData.data() + std::size_t(y) * stride(); }
    const uint8_t *row(int y) const { return mData.data() + std::size_t(y) * stride(); }
    std::vector<uint8_t> &data() { return mData; }
    const std::vector<uint8_t> &data() const { return mData; }

    /** Colour table of an indexed picture; empty for the direct formats. */
    std::vector<Rgb> &palette() { return mPalette; }
    const std::vector<Rgb> &palette() const { return mPalette; }

    /** The colour marked as transparent by the file the picture came from, if any. */
    const std::optional<Rgb> &designatedTransparentColor() const { return mTransparent; }
    void setDesignatedTransparentColor(std::optional<Rgb> c) { mTransparent = c; }

    /** Colour of pixel (x, y); an index outside the palette reads as black. */
    Rgb pixel(int x, int y) const;

    /** This picture converted to Rgb24 (alpha dropped, palette resolved). */
    Picture toRgb24() const;
    /** This picture converted to Rgba32 (indexed and Rgb24 pixels become opaque). */
    Picture toRgba32() const;

    static int bytesPerPixel(PixelFormat f);

private:
    int mWidth = 0;
    int mHeight = 0;
    PixelFormat mFormat = PixelFormat::Rgb24;
    std::vector<uint8_t> mData;
    std::vector<Rgb> mPalette;
    std::optional<Rgb> mTransparent;
};

/**
 * The colour a new frame made from this picture treats as transparent: the designated one when the
 * picture has it, white for a monochrome picture, otherwise the colour of the bottom-left pixel.
 */
Rgb transparentColor(const Picture &picture);

} // namespace doc
