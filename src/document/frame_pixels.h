#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace doc {

/**
 * The pixel indices of one frame, row by row. A row is either stored (width bytes) or of one
 * value, held as that value alone: a frame whose data end long before its pixels do costs what was
 * decoded, not its announced size, and the composer, the optimiser and the writer treat such a row
 * as a run.
 *
 * A frame whose rows are all stored in order is plain: its bytes are the width × height indices.
 */
class FramePixels
{
public:
    FramePixels() = default;
    /** Plain pixels; `indices` must hold width × height bytes (more are dropped). */
    FramePixels(int width, int height, std::vector<uint8_t> indices);
    /** Plain pixels sharing an index buffer of at least width × height bytes, which stays unchanged. */
    FramePixels(int width, int height, std::shared_ptr<const std::vector<uint8_t>> indices);
    /** Every row of one value. */
    static FramePixels uniform(int width, int height, uint8_t value);

    int width() const { return mWidth; }
    int height() const { return mHeight; }
    bool empty() const { return mWidth <= 0 || mHeight <= 0; }
    std::size_t area() const { return std::size_t(mWidth) * std::size_t(mHeight); }

    /** Row y's bytes, or nullptr when the row is of one value (rowValue). */
    const uint8_t *row(int y) const
    {
        if (mRows.empty())
            return mBytes->data() + std::size_t(y) * std::size_t(mWidth);
        const uint32_t r = mRows[std::size_t(y)];
        return (r & kUniform) ? nullptr : mBytes->data() + std::size_t(r) * std::size_t(mWidth);
    }
    /** The value of a row of one value (meaningless for a stored row). */
    uint8_t rowValue(int y) const { return mRows.empty() ? 0 : uint8_t(mRows[std::size_t(y)]); }
    uint8_t at(int x, int y) const
    {
        const uint8_t *r = row(y);
        return r ? r[x] : rowValue(y);
    }

    /** True when every row is stored in order: buffer() then starts with the indices. */
    bool plain() const { return mRows.empty(); }
    const std::shared_ptr<const std::vector<uint8_t>> &buffer() const { return mBytes; }
    /** Bytes this object holds. */
    std::size_t heldBytes() const { return mBytes->size() + mRows.size() * sizeof(uint32_t); }

    /** The width × height indices; costs the full size (shared, not copied, when plain). */
    std::shared_ptr<const std::vector<uint8_t>> toIndices() const;
    /** How often each index occurs. */
    void countUsage(uint64_t (&usage)[256]) const;
    /** The largest index. */
    uint8_t highest() const;
    /** Whether any pixel has this index. */
    bool contains(uint8_t index) const;
    /** Every index replaced through `to`. */
    FramePixels mapped(const uint8_t (&to)[256]) const;
    /** The rectangle (x, y, w, h), inside the frame. */
    FramePixels cropped(int x, int y, int w, int h) const;

    /**
     * Builds a frame row by row, top to bottom or in any order. Rows not set are of one value
     * `fill`.
     */
    class Builder
    {
    public:
        Builder(int width, int height, uint8_t fill);
        /** Starts from a copy of `from`. */
        explicit Builder(const FramePixels &from);
        /** Row y made writable (of its current content). */
        uint8_t *row(int y);
        /** Room for `rows` more rows to be made writable without moving the stored ones. */
        void reserveRows(std::size_t rows) { mBytes.reserve(mBytes.size() + rows * std::size_t(mWidth)); }
        void setUniform(int y, uint8_t value);
        bool isUniform(int y) const { return (mRows[std::size_t(y)] & kUniform) != 0; }
        uint8_t uniformValue(int y) const { return uint8_t(mRows[std::size_t(y)]); }
        /** The result; rows stored in order come out plain. */
        FramePixels finish();

    private:
        int mWidth = 0;
        int mHeight = 0;
        std::vector<uint8_t> mBytes;
        std::vector<uint32_t> mRows;
    };

    friend bool operator==(const FramePixels &a, const FramePixels &b);

private:
    static constexpr uint32_t kUniform = 0x80000000u;

    int mWidth = 0;
    int mHeight = 0;
    std::shared_ptr<const std::vector<uint8_t>> mBytes = std::make_shared<const std::vector<uint8_t>>();
    std::vector<uint32_t> mRows; // empty: plain; else per row a stored slot or kUniform | value
};

} // namespace doc
