#pragma once

#include "frame_pixels.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace doc {

/**
 * A frame's indices as GIF LZW codes: the file's own data as read, or our encoder's. Decoding
 * them gives back exactly the rows they were made from (the reader's fill for what the codes do
 * not reach).
 */
struct CompressedPixels {
    int width = 0;
    int height = 0;
    int minCodeSize = 8;
    bool interlaced = false;
    uint8_t fill = 0;
    /** Written by our encoder from top-down rows: the writer can copy them as they stand. */
    bool ours = false;
    /** Our codes at a code size chosen for the frame's indices, kept even below its table's. */
    bool ownCodeSize = false;
    /** The largest index (known for codes of our own). */
    uint8_t highest = 255;
    /** The codes without sub-block lengths, followed by 8 zero bytes for the bit reader. */
    std::vector<uint8_t> codes;

    std::size_t codeBytes() const { return codes.size() >= 8 ? codes.size() - 8 : 0; }
};

/**
 * Where a frame's indices live: decoded rows, LZW codes, or both. Unchanging once made (a changed
 * frame gets a new slot), so copies of a frame share it.
 *
 * Decoded rows of large frames are held through one process-wide cache with a budget: beyond
 * it the least recently used slots drop their rows, after compressing them when they have no
 * codes yet. Small frames are always held decoded.
 */
class SpillFile;

class PixelSlot : public std::enable_shared_from_this<PixelSlot>
{
public:
    static std::shared_ptr<PixelSlot> fromRows(FramePixels rows);
    static std::shared_ptr<PixelSlot> fromCodes(CompressedPixels codes);

    int width() const { return mWidth; }
    int height() const { return mHeight; }

    /** The rows, decoded again when the cache dropped them. */
    std::shared_ptr<const FramePixels> rows();
    /**
     * The rows for one pass over many frames (open, save, optimise): those held when there are,
     * else decoded for the caller alone. Neither kept nor counted, so that a pass over a long
     * animation leaves the cache as it found it.
     */
    std::shared_ptr<const FramePixels> passRows() const;
    /** The codes (read back when they were spilled), or nullptr while the rows have not been compressed. */
    std::shared_ptr<const CompressedPixels> codes() const;
    /** Whether the codes wait in the spill file rather than in memory. */
    bool spilled() const;

    /** Compresses the rows now when they have no codes; then drops the rows. For the cache. */
    void release();

    PixelSlot(int width, int height);
    ~PixelSlot();

private:
    /** Holds the codes in memory, or in the spill file once those in memory pass their budget. */
    void keepCodes(CompressedPixels codes);
    std::shared_ptr<const CompressedPixels> codesLocked() const;

    const int mWidth;
    const int mHeight;
    mutable std::mutex mMutex;
    std::shared_ptr<const FramePixels> mRows;
    std::shared_ptr<const CompressedPixels> mCodes; // codes empty when spilled
    std::shared_ptr<SpillFile> mSpill;
    uint64_t mSpillOffset = 0;
    std::size_t mSpillSize = 0;
    std::size_t mCountedBytes = 0; // code bytes counted against the in-memory budget
};

/** Frames of fewer bytes than this stay decoded and outside the cache; larger ones may be compressed. */
inline constexpr std::size_t kCachedFrameMinimum = std::size_t(64) << 10;

/** The budget of decoded frames held at once (bytes); 512 MB unless set. */
void setFrameCacheBudget(std::size_t bytes);
std::size_t frameCacheBudget();
/** Bytes of decoded frames the cache holds now. */
std::size_t frameCacheHeld();

/**
 * The budget of compressed frames held in memory (bytes; 256 MB unless set). Beyond it, codes go
 * to a temporary spill file in the user's cache folder ($XDG_CACHE_HOME or ~/.cache, under
 * "movaro-gif"), named after the process. The file is removed when the last frame spilled into it
 * is gone (the document closed); files left by a process that died are removed by
 * removeStaleSpillFiles.
 */
void setSpillBudget(std::size_t bytes);
/** Bytes of codes held in memory now. */
std::size_t codesHeld();
/** The folder spill files are made in. */
std::string spillFolder();
/** Removes the spill files of processes that no longer run; returns how many. */
int removeStaleSpillFiles();

} // namespace doc
