#include "frame_pixels.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace doc {

FramePixels::FramePixels(int width, int height, std::vector<uint8_t> indices)
    : mWidth(std::max(width, 0))
    , mHeight(std::max(height, 0))
{
    if (indices.size() < area())
        throw std::invalid_argument("frame indices shorter than the frame");
    indices.resize(area());
    mBytes = std::make_shared<const std::vector<uint8_t>>(std::move(indices));
}

FramePixels::FramePixels(int width, int height, std::shared_ptr<const std::vector<uint8_t>> indices)
    : mWidth(std::max(width, 0))
    , mHeight(std::max(height, 0))
    , mBytes(std::move(indices))
{
    if (!mBytes || mBytes->size() < area())
        throw std::invalid_argument("frame indices shorter than the frame");
}

FramePixels FramePixels::uniform(int width, int height, uint8_t value)
{
    Builder b(width, height, value);
    return b.finish();
}

std::shared_ptr<const std::vector<uint8_t>> FramePixels::toIndices() const
{
    if (plain() && mBytes->size() == area())
        return mBytes;
    auto indices = std::make_shared<std::vector<uint8_t>>(area());
    std::vector<uint8_t> &out = *indices;
    const std::size_t w = std::size_t(mWidth);
    for (int y = 0; y < mHeight; ++y) {
        uint8_t *dst = out.data() + std::size_t(y) * w;
        if (const uint8_t *r = row(y))
            std::memcpy(dst, r, w);
        else
            std::memset(dst, rowValue(y), w);
    }
    return indices;
}

void FramePixels::countUsage(uint64_t (&usage)[256]) const
{
    for (int y = 0; y < mHeight; ++y) {
        if (const uint8_t *r = row(y)) {
            for (int x = 0; x < mWidth; ++x)
                ++usage[r[x]];
        } else {
            usage[rowValue(y)] += uint64_t(mWidth);
        }
    }
}

uint8_t FramePixels::highest() const
{
    uint8_t h = 0;
    for (int y = 0; y < mHeight; ++y) {
        if (const uint8_t *r = row(y)) {
            // In fixed-size chunks so that the compiler turns the inner loop into vector code.
            int x = 0;
            for (; x + 64 <= mWidth; x += 64) {
                uint8_t m = 0;
                for (int k = 0; k < 64; ++k)
                    m = std::max(m, r[x + k]);
                h = std::max(h, m);
            }
            for (; x < mWidth; ++x)
                h = std::max(h, r[x]);
        } else {
            h = std::max(h, rowValue(y));
        }
    }
    return h;
}

bool FramePixels::contains(uint8_t index) const
{
    for (int y = 0; y < mHeight; ++y) {
        const uint8_t *r = row(y);
        if (r ? std::memchr(r, index, std::size_t(mWidth)) != nullptr : rowValue(y) == index)
            return true;
    }
    return false;
}

FramePixels FramePixels::mapped(const uint8_t (&to)[256]) const
{
    FramePixels out(*this);
    auto bytes = std::make_shared<std::vector<uint8_t>>(*mBytes);
    for (uint8_t &v : *bytes)
        v = to[v];
    out.mBytes = std::move(bytes);
    for (uint32_t &r : out.mRows)
        if (r & kUniform)
            r = kUniform | to[r & 0xFF];
    return out;
}

FramePixels FramePixels::cropped(int x, int y, int w, int h) const
{
    Builder b(w, h, 0);
    for (int k = 0; k < h; ++k) {
        if (const uint8_t *r = row(y + k))
            std::memcpy(b.row(k), r + x, std::size_t(w));
        else
            b.setUniform(k, rowValue(y + k));
    }
    return b.finish();
}

bool operator==(const FramePixels &a, const FramePixels &b)
{
    if (a.mWidth != b.mWidth || a.mHeight != b.mHeight)
        return false;
    for (int y = 0; y < a.mHeight; ++y) {
        const uint8_t *ra = a.row(y);
        const uint8_t *rb = b.row(y);
        if (ra && rb) {
            if (std::memcmp(ra, rb, std::size_t(a.mWidth)) != 0)
                return false;
        } else if (ra || rb) {
            const uint8_t *r = ra ? ra : rb;
            const uint8_t v = ra ? b.rowValue(y) : a.rowValue(y);
            for (int x = 0; x < a.mWidth; ++x)
                if (r[x] != v)
                    return false;
        } else if (a.rowValue(y) != b.rowValue(y)) {
            return false;
        }
    }
    return true;
}

// --- Builder -----------------------------------------------------------------------------------

FramePixels::Builder::Builder(int width, int height, uint8_t fill)
    : mWidth(std::max(width, 0))
    , mHeight(std::max(height, 0))
{
    mRows.assign(std::size_t(mHeight), kUniform | fill);
}

FramePixels::Builder::Builder(const FramePixels &from)
    : mWidth(from.mWidth)
    , mHeight(from.mHeight)
    , mRows(from.mRows)
{
    if (from.plain()) {
        mBytes.assign(from.mBytes->begin(), from.mBytes->begin() + std::ptrdiff_t(from.area()));
        mRows.resize(std::size_t(mHeight));
        for (int y = 0; y < mHeight; ++y)
            mRows[std::size_t(y)] = uint32_t(y);
    } else {
        mBytes = *from.mBytes;
    }
}

uint8_t *FramePixels::Builder::row(int y)
{
    uint32_t &r = mRows[std::size_t(y)];
    const std::size_t w = std::size_t(mWidth);
    if (r & kUniform) {
        const uint8_t value = uint8_t(r);
        r = uint32_t(mBytes.size() / std::max<std::size_t>(w, 1));
        mBytes.resize(mBytes.size() + w, value);
    }
    return mBytes.data() + std::size_t(r) * w;
}

void FramePixels::Builder::setUniform(int y, uint8_t value)
{
    mRows[std::size_t(y)] = kUniform | value;
}

FramePixels FramePixels::Builder::finish()
{
    FramePixels out;
    out.mWidth = mWidth;
    out.mHeight = mHeight;
    const std::size_t w = std::size_t(mWidth);
    bool inOrder = true;
    std::size_t stored = 0;
    for (int y = 0; y < mHeight; ++y) {
        inOrder = inOrder && mRows[std::size_t(y)] == uint32_t(y);
        stored += (mRows[std::size_t(y)] & kUniform) ? 0 : 1;
    }
    if (inOrder) {
        mBytes.resize(out.area());
        out.mBytes = std::make_shared<const std::vector<uint8_t>>(std::move(mBytes));
        return out;
    }
    // Rows made uniform after they were stored leave their bytes behind: drop them.
    if (mBytes.size() > (stored + stored / 2 + 1) * w) {
        std::vector<uint8_t> packed;
        packed.reserve(stored * w);
        for (int y = 0; y < mHeight; ++y) {
            uint32_t &r = mRows[std::size_t(y)];
            if (r & kUniform)
                continue;
            const uint8_t *src = mBytes.data() + std::size_t(r) * w;
            r = uint32_t(packed.size() / w);
            packed.insert(packed.end(), src, src + w);
        }
        mBytes = std::move(packed);
    }
    out.mBytes = std::make_shared<const std::vector<uint8_t>>(std::move(mBytes));
    out.mRows = std::move(mRows);
    return out;
}

} // namespace doc
