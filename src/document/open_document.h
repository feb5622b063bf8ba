#pragma once

#include "gif_image.h"

#include <string>
#include <vector>

namespace doc {

/**
 * Reads a GIF file the way the editor opens one: the file read (the only step timed, in seconds,
 * into `readSeconds` when given), the stricter second reading, every frame rebuilt as the full
 * composed picture reduced to 256 colours, and a graphic control extension given to every frame.
 * Only files whose name ends in ".gif" (any case) have a reader. Progress goes to `progress`; the
 * reader's warnings (a damaged file that could be read in part) to `warnings` when given, in order.
 * Throws on any failure; nothing is kept.
 */
TGIFImage openForEditing(const std::string &path, const TGIFImage::ProgressHandler &progress = {},
                         double *readSeconds = nullptr, std::vector<std::string> *warnings = nullptr);

/** Whether a file name has the one extension the editor can open. */
bool hasGifExtension(const std::string &path);

} // namespace doc
