#pragma once

#include "gif_image.h"

#include <cstdint>
#include <string>
#include <vector>

namespace doc {

/**
 * LZW-encodes width × height indices (rows from the top) as GIF image data: the minimum code
 * size byte, the data sub-blocks and the terminator.
 */
void encodeImageData(const uint8_t *indices, std::size_t count, int minCodeSize, std::vector<uint8_t> &out);
/** The LZW codes of a frame's rows packed into bytes, without the code size byte and sub-blocks. */
std::vector<uint8_t> encodeLzwCodes(const FramePixels &pixels, int minCodeSize);
/** Codes as GIF image data: the minimum code size byte, the sub-blocks and the terminator. */
void putImageData(const uint8_t *codes, std::size_t size, int minCodeSize, std::vector<uint8_t> &out);
/** The same for a frame's rows; a run of rows of one value costs its codes, not its pixels. */
void encodeImageData(const FramePixels &pixels, int minCodeSize, std::vector<uint8_t> &out);

/**
 * Writes the document as GIF data to a file through a temporary file in the same folder, which
 * replaces the target only once complete: a failure leaves any previous file as it was.
 */
void saveToFile(const TGIFImage &document, const std::string &path);

} // namespace doc
