#pragma once

#include "document/picture.h"

namespace filters {

/**
 * Complements every stored pixel value inside the rectangle (0, 0)–(viewWidth, viewHeight),
 * clipped to the picture: index i of an 8-bit picture becomes 255 − i (the table is untouched),
 * a two-colour picture swaps its two indices, and each colour channel c becomes 255 − c. Alpha is
 * kept, so an opaque picture stays opaque.
 */
void InvertColors(doc::Picture &picture, int viewWidth, int viewHeight);

/**
 * The picture as a two-colour picture (Mono1, table black then white): white pixels stay white,
 * every other pixel becomes black. A picture that already is Mono1 comes back unchanged.
 */
doc::Picture Monochrome(const doc::Picture &picture);

/** The picture as 256 grey levels: ReduceBitmapColors in its grey mode. */
doc::Picture GrayLevels(const doc::Picture &picture);

/** The neighbourhood filters, by the numbers the picture filter knows them under. */
enum class Kernel { Blur = 7, Gaussian = 8, Sharpen = 9 };

/**
 * The picture converted to 24-bit and filtered at its own size: a 3 × 3 box blur, a 5 × 5
 * gaussian (σ = 1) or a 3 × 3 sharpen (centre 5, the four edge neighbours −1). Pixels beyond the
 * border read as the nearest border pixel; results are rounded to nearest and clamped to 0–255.
 * Large pictures are filtered on a few threads, each on its own band of rows.
 */
doc::Picture FilterPicture(const doc::Picture &picture, Kernel kernel);

} // namespace filters
