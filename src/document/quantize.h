#pragma once

#include "gif_image.h"
#include "picture.h"

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
