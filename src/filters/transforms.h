#pragma once

#include "document/picture.h"

namespace filters {

/**
 * The geometric transforms. Each keeps the picture's format and table, so the same call moves
 * the pixels of a 32-bit view picture and the indices of the frame it shows in the same way.
 */

/** Top to bottom: T(x, y) = S(x, H − 1 − y). */
doc::Picture FlipVertical(const doc::Picture &picture);

/** Left to right: T(x, y) = S(W − 1 − x, y). */
doc::Picture FlipHorizontal(const doc::Picture &picture);

/**
 * The picture turned about its centre by `angle` degrees (counter-clockwise on the screen for a
 * positive angle) and scaled by the largest factor at which the turned picture, measured from its
 * first to its last pixel centre, still fits its own W × H. Each target pixel takes the source
 * pixel its centre maps back to (nearest, halves rounded down); a 32-bit pixel is blended over the
 * target by its alpha, any other pixel replaces it; pixels nothing reaches stay zero. At 180° this
 * is the plain half turn, T(x, y) = S(W − 1 − x, H − 1 − y). A picture one pixel wide or high has
 * no extent to fit along that side, and is scaled by what the other side allows (1 × 1: by 1).
 */
doc::Picture RotatePicture(const doc::Picture &picture, double angle);

} // namespace filters
