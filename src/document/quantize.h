#pragma once

#include "gif_image.h"
#include "picture.h"

#include <memory>
#include <vector>

namespace doc {

/** How ReduceBitmapColors builds its palette (the names are the program's own). */
enum class ReductionMode { OctreeQuantize, GrayScale, WebSafeCube };
/** How pixels are mapped to the palette: nearest entry, no error carried. */
enum class DitherMode { NearestColor };

/**
 * Reduces a picture to an 8-bit indexed picture with a palette of 2^bits entries (256 for the
 * grey mode, 216 for the cube). The input is first converted in place to Rgb24; the caller's
 * picture stays in that form. Throws GifError(InvalidDimensions) for an empty picture and
 * GifError(OutOfMemory) when the output cannot be allocated.
 */
Picture ReduceBitmapColors(Picture &picture, ReductionMode mode, DitherMode dither, int bits);

/**
 * The nearest entry of a palette for single colours, exactly as ReduceBitmapColors maps pixels:
 * smallest sum of squared channel differences, lowest index on ties. Answers are cached, so one
 * lookup serves many pixels drawn on the same indexed picture. An empty palette answers 0.
 */
class NearestColorLookup
{
public:
    explicit NearestColorLookup(const std::vector<Rgb> &palette);
    ~NearestColorLookup();
    NearestColorLookup(NearestColorLookup &&) noexcept;
    NearestColorLookup &operator=(NearestColorLookup &&) noexcept;

    uint8_t indexOf(uint8_t r, uint8_t g, uint8_t b);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

inline ReductionMode toReductionMode(ColorReduction r)
{
    switch (r) {
    case ColorReduction::OctreeQuantize:
        return ReductionMode::OctreeQuantize;
    case ColorReduction::GrayScale:
        return ReductionMode::GrayScale;
    case ColorReduction::WebSafeCube:
        break;
    }
    return ReductionMode::WebSafeCube;
}

} // namespace doc
