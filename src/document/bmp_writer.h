#pragma once

#include "gif_image.h"

#include <iosfwd>
#include <string>

namespace doc {

/** The chosen name with ".bmp" appended, unless it already ends with it in any letter case. */
std::string bmpFileName(const std::string &chosen);

/**
 * Writes frame `frame` as an uncompressed 8-bit Windows bitmap: the frame's own indices at its own
 * width and height, with its local colour table (the global one when it has none). Nothing is
 * composed or placed on the logical screen and transparency is dropped. Throws GifError
 * (InvalidDimensions) for a frame without pixels.
 */
void writeFrameBmp(const TGIFImage &image, int frame, std::ostream &out);

/**
 * writeFrameBmp into `path` through a temporary file, so a failed write keeps the old file; I/O
 * failures are thrown as std::runtime_error with the system's message.
 */
void saveFrameAsBmp(const TGIFImage &image, int frame, const std::string &path);

} // namespace doc
