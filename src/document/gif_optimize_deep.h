#pragma once

#include "gif_image.h"

#include <functional>
#include <string>

namespace doc {

struct DeepOptions {
    /** 0 keeps every pixel; up to kMaxLossy (lzw_tuned.h) trades exactness for bytes. */
    int lossy = 0;
};

/**
 * A smaller copy than optimizedCopy that shows the same animation: every frame composed as a
 * viewer shows it, then written again as the part that differs from what the screen already
 * shows, with per frame the cheaper of transparency or repeated colours over unchanged pixels,
 * the disposal that leaves the next frame least to draw, one global table when every colour
 * fits, and the table-clearing choice that gives the shorter codes. Frames that show the same
 * picture as the one before become one frame with their delays added. Only the looping
 * extension and the graphic controls are kept.
 *
 * Frames are composed and encoded one or two at a time; the copy's frames hold their codes.
 * When the animation cannot be rewritten so (a frame that needs more than 256 colours where it
 * changes, a screen too large to compose), the result is optimizedCopy's.
 */
TGIFImage deepOptimizedCopy(const TGIFImage &document, const DeepOptions &options = {});

/** The same, calling onFrame before each frame is rewritten: a caller that must stop the work throws from it. */
TGIFImage deepOptimizedCopy(const TGIFImage &document, const DeepOptions &options, const std::function<void()> &onFrame);

/** Writes deepOptimizedCopy(document) to a file, replacing it only once complete. */
void saveDeepOptimizedToFile(const TGIFImage &document, const std::string &path, const DeepOptions &options = {});

} // namespace doc
