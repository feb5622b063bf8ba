#pragma once

#include "gif_image.h"
#include "frame_store.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace doc {

/**
 * The most pixels one frame may announce, and the most bytes of indices one frame may hold.
 * A few bytes of LZW can legitimately describe a huge frame; rows its data never reach are held as
 * their fill value, so what a frame holds follows its decoded data, and a frame beyond this budget
 * is refused with GifErrorKind::TooLarge before anything of that size is allocated. A document
 * has no such limit: its large frames are held as codes, spilled to disk beyond their budget.
 */
inline constexpr std::size_t kGifPixelBudget = std::size_t(1) << 30;

/**
 * Reads GIF data into `image`, replacing its header and frames. Warnings go through
 * image.warning(), progress ("Loading...") through image.progress(). On a GifError (or
 * std::bad_alloc) the document is left exactly as it was.
 *
 * Choices where the format leaves room:
 * - an application extension block size above 11 is refused like one below 10
 *   (BadAppExtensionSize): its layout is unknown, so nothing after it can be trusted;
 * - an LZW minimum code size above 11 refuses the frame with BadCodeSize: the clear code would lie
 *   outside the 4096-entry table, so the data cannot be decoded;
 * - a code that names a table entry not defined yet fails with CircularTable, the decoder's one
 *   error for a corrupt table reference.
 */
void loadFromBytes(TGIFImage &image, const uint8_t *data, std::size_t size,
                   const std::function<void(std::size_t)> &consumed = {});

/**
 * Reads the whole file into memory and then as loadFromBytes. A missing, unreadable file or a
 * directory throws std::runtime_error naming the path and the reason.
 */
void loadFromFile(TGIFImage &image, const std::string &path);

/**
 * Decodes a frame's LZW codes (`srcLen` bytes followed by 8 readable bytes) into its rows, as the
 * reader does: rows in file order (interlaced or not), what the codes do not reach left at the fill
 * value. `underrun` tells whether the codes ran out before the frame was full; `reserve` is called
 * with the size of each buffer before it is allocated (and may throw). Throws GifError
 * CircularTable on a corrupt table reference.
 */
FramePixels decodeFramePixels(const uint8_t *src, std::size_t srcLen, const CompressedPixels &codes,
                              bool *underrun = nullptr, const std::function<void(std::size_t)> &reserve = {});

/**
 * A file mapped for reading (read whole when it cannot be mapped). Pages already read can be
 * given back, so that reading a long file does not keep all of it resident.
 */
class MappedFile
{
public:
    explicit MappedFile(const std::string &path);
    ~MappedFile();
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;

    const uint8_t *data() const { return mData; }
    std::size_t size() const { return mSize; }
    /**
     * The bytes before `upTo` will not be read soon: their pages may leave memory. A smaller
     * `upTo` than before starts a new walk from the beginning.
     */
    void release(std::size_t upTo);

private:
    const uint8_t *mData = nullptr;
    std::size_t mSize = 0;
    std::size_t mReleased = 0; // pages before this were given back since the walk began
    std::vector<uint8_t> mCopy;
};

/** The whole content of a file; std::runtime_error naming the path when it cannot be read. */
std::vector<uint8_t> readWholeFile(const std::string &path);

/**
 * The stricter check the open command makes before composing frames: the data must start with
 * "GIF87a" or "GIF89a" (letter case ignored, no prefix) or it throws GifErrorKind::UnknownVersion;
 * an extension label other than 0x01, 0xF9, 0xFE, 0xFF throws UnrecognizedExtension with
 * "Unrecognized extension block: xx". Walks the block structure only (no pixel decoding); a file cut
 * short or otherwise malformed is left for loadFromBytes to judge. `consumed` is told, now and then,
 * up to where the bytes were walked (as loadFromBytes tells it).
 */
void checkOpenable(const uint8_t *data, std::size_t size, const std::function<void(std::size_t)> &consumed = {});

} // namespace doc
