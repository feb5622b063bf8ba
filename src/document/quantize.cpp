#include "quantize.h"

#include "gif_error.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <vector>

namespace doc {

namespace {

constexpr int kTreeDepth = 8;
constexpr uint32_t kNoNode = 0; // pool slot 0 is never handed out, so 0 can mean "absent"

/** One octree node; children and the reducible-list link are pool indices. */
struct TOctreeNode {
    bool leaf = false;
    // 64-bit: a 32-bit sum overflows once about 8.4 million bright pixels share one leaf.
    uint64_t pixelCount = 0;
    uint64_t redSum = 0;
    uint64_t greenSum = 0;
    uint64_t blueSum = 0;
    uint32_t next = kNoNode; // next node of the same depth's reducible list, or of the free list
    uint32_t child[8] = {};
};

/**
 * Octree palette builder. Nodes live in one pool with a free list: the tree never holds more than
 * about 8 × (M + 1) nodes, so the pool stays small and hot in the cache however large the picture.
 */
class TColorQuantizer
{
public:
    explicit TColorQuantizer(int maxColors)
        : mMaxColors(maxColors)
    {
        mNodes.reserve(std::size_t(kTreeDepth) * std::size_t(maxColors + 1) + 16);
        mNodes.emplace_back(); // the "absent" slot
    }

    /** Adds every pixel of an Rgb24 picture, rows from the top, each row left to right. */
    void addPicture(const Picture &picture)
    {
        const int width = picture.width();
        // The leaf the previous pixel went to, valid until a merge reshapes the tree: runs of one
        // colour then skip the walk from the root.
        uint32_t lastKey = 0xFFFFFFFFu;
        uint32_t lastLeaf = kNoNode;
        for (int y = 0; y < picture.height(); ++y) {
            const uint8_t *p = picture.row(y);
            for (int x = 0; x < width; ++x, p += 3) {
                const uint32_t key = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
                if (key == lastKey && lastLeaf != kNoNode) {
                    TOctreeNode &leaf = mNodes[lastLeaf];
                    ++leaf.pixelCount;
                    leaf.redSum += p[0];
                    leaf.greenSum += p[1];
                    leaf.blueSum += p[2];
                    continue;
                }
                lastKey = key;
                lastLeaf = addColor(p[0], p[1], p[2]);
                if (mLeafCount > mMaxColors) {
                    lastLeaf = kNoNode;
                    while (mLeafCount > mMaxColors && reduceOnce()) {
                    }
                }
            }
        }
    }

    /** The palette: leaves depth first, children 0 to 7, then black up to M entries. */
    std::vector<Rgb> palette() const
    {
        std::vector<Rgb> colors;
        colors.reserve(std::size_t(mMaxColors));
        if (mRoot != kNoNode)
            collect(mRoot, colors);
        colors.resize(std::size_t(mMaxColors), Rgb{});
        return colors;
    }

private:
    uint32_t newNode(int depth)
    {
        uint32_t id;
        if (mFree != kNoNode) {
            id = mFree;
            mFree = mNodes[id].next;
            mNodes[id] = TOctreeNode{};
        } else {
            id = uint32_t(mNodes.size());
            mNodes.emplace_back();
        }
        if (depth == kTreeDepth) {
            mNodes[id].leaf = true;
            ++mLeafCount;
        } else {
            mNodes[id].next = mReducible[depth];
            mReducible[depth] = id;
        }
        return id;
    }

    void freeNode(uint32_t id)
    {
        mNodes[id].next = mFree;
        mFree = id;
    }

    /** Walks (and grows) the tree down to the leaf of a colour, counts the pixel there. */
    uint32_t addColor(uint8_t r, uint8_t g, uint8_t b)
    {
        if (mRoot == kNoNode)
            mRoot = newNode(0);
        uint32_t node = mRoot;
        for (int depth = 0;; ++depth) {
            if (mNodes[node].leaf) {
                TOctreeNode &leaf = mNodes[node];
                ++leaf.pixelCount;
                leaf.redSum += r;
                leaf.greenSum += g;
                leaf.blueSum += b;
                return node;
            }
            const int shift = 7 - depth;
            const int i = ((r >> shift) & 1) << 2 | ((g >> shift) & 1) << 1 | ((b >> shift) & 1);
            uint32_t next = mNodes[node].child[i];
            if (next == kNoNode) {
                next = newNode(depth + 1); // may grow the pool: index again afterwards
                mNodes[node].child[i] = next;
            }
            node = next;
        }
    }

    /**
     * Merges the most recently created inner node of the deepest non-empty reducible list into a
     * leaf. Every deeper inner node has been merged already, so its children are all leaves.
     */
    bool reduceOnce()
    {
        int depth = kTreeDepth - 1;
        while (depth > 0 && mReducible[depth] == kNoNode)
            --depth;
        const uint32_t id = mReducible[depth];
        if (id == kNoNode)
            return false;
        mReducible[depth] = mNodes[id].next;

        TOctreeNode &node = mNodes[id];
        uint64_t count = 0, red = 0, green = 0, blue = 0;
        int children = 0;
        for (uint32_t &c : node.child) {
            if (c == kNoNode)
                continue;
            const TOctreeNode &leaf = mNodes[c];
            count += leaf.pixelCount;
            red += leaf.redSum;
            green += leaf.greenSum;
            blue += leaf.blueSum;
            ++children;
            freeNode(c);
            c = kNoNode;
        }
        node.pixelCount = count;
        node.redSum = red;
        node.greenSum = green;
        node.blueSum = blue;
        node.leaf = true;
        node.next = kNoNode;
        mLeafCount -= children - 1;
        return true;
    }

    void collect(uint32_t id, std::vector<Rgb> &colors) const
    {
        const TOctreeNode &node = mNodes[id];
        if (node.leaf) {
            if (node.pixelCount == 0) {
                colors.push_back(Rgb{});
            } else {
                colors.push_back(Rgb{uint8_t(node.redSum / node.pixelCount),
                                     uint8_t(node.greenSum / node.pixelCount),
                                     uint8_t(node.blueSum / node.pixelCount)});
            }
            return;
        }
        for (uint32_t c : node.child) {
            if (c != kNoNode)
                collect(c, colors);
        }
    }

    std::vector<TOctreeNode> mNodes;
    uint32_t mFree = kNoNode;
    uint32_t mRoot = kNoNode;
    int mLeafCount = 0;
    int mMaxColors;
    std::array<uint32_t, kTreeDepth> mReducible{};
};

/**
 * Exact nearest palette entry: smallest sum of squared channel differences, lowest index on ties.
 * Duplicate entries (the black padding above all) are kept once under their lowest index, and the
 * rest are sorted along the axis where the palette spreads most, so a search walks outwards from
 * the query's position and stops on each side as soon as the axis distance alone is too large.
 */
class TSlowColorLookup
{
public:
    explicit TSlowColorLookup(const std::vector<Rgb> &palette)
    {
        std::vector<uint32_t> seen;
        for (std::size_t i = 0; i < palette.size(); ++i) {
            const Rgb c = palette[i];
            const uint32_t key = uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b;
            if (std::find(seen.begin(), seen.end(), key) != seen.end())
                continue;
            seen.push_back(key);
            mEntries.push_back(Entry{0, c.r, c.g, c.b, uint8_t(i)});
        }
        chooseAxis();
        for (Entry &e : mEntries)
            e.axis = axisValue(e.r, e.g, e.b);
        std::stable_sort(mEntries.begin(), mEntries.end(),
                         [](const Entry &a, const Entry &b) { return a.axis < b.axis; });
        // First entry at or above each axis value: the search starts there without a binary search.
        mStart.assign(std::size_t(maxAxisValue()) + 2, 0);
        std::size_t e = 0;
        for (int v = 0; v <= maxAxisValue() + 1; ++v) {
            while (e < mEntries.size() && mEntries[e].axis < v)
                ++e;
            mStart[std::size_t(v)] = uint16_t(e);
        }
    }

    uint8_t nearest(uint8_t r, uint8_t g, uint8_t b) const
    {
        const int q = axisValue(r, g, b);
        const int n = int(mEntries.size());
        int best = INT_MAX;
        int bestIndex = 0;
        auto consider = [&](const Entry &e) {
            const int dr = int(e.r) - r, dg = int(e.g) - g, db = int(e.b) - b;
            const int d = dr * dr + dg * dg + db * db;
            if (d < best || (d == best && e.index < bestIndex)) {
                best = d;
                bestIndex = e.index;
            }
        };
        int up = mStart[std::size_t(q)];
        int down = up - 1;
        // An entry whose axis gap already exceeds the bound cannot be closer, nor tie: a tie needs
        // gap² ≤ weight × best.
        bool upOpen = up < n, downOpen = down >= 0;
        while (upOpen || downOpen) {
            if (upOpen) {
                const int gap = mEntries[std::size_t(up)].axis - q;
                if (int64_t(gap) * gap > int64_t(mWeight) * best) {
                    upOpen = false;
                } else {
                    consider(mEntries[std::size_t(up)]);
                    upOpen = ++up < n;
                }
            }
            if (downOpen) {
                const int gap = q - mEntries[std::size_t(down)].axis;
                if (int64_t(gap) * gap > int64_t(mWeight) * best) {
                    downOpen = false;
                } else {
                    consider(mEntries[std::size_t(down)]);
                    downOpen = --down >= 0;
                }
            }
        }
        return uint8_t(bestIndex);
    }

private:
    struct Entry {
        int axis;
        uint8_t r, g, b;
        uint8_t index;
    };
    enum class Axis { Red, Green, Blue, Sum };

    /**
     * The axis with the largest spread of entries. A single channel bounds the distance by its
     * own squared gap; the channel sum bounds it by a third of its squared gap (Cauchy-Schwarz).
     */
    void chooseAxis()
    {
        double mean[4] = {}, sq[4] = {};
        for (const Entry &e : mEntries) {
            const double v[4] = {double(e.r), double(e.g), double(e.b), double(e.r + e.g + e.b)};
            for (int k = 0; k < 4; ++k) {
                mean[k] += v[k];
                sq[k] += v[k] * v[k];
            }
        }
        const double n = double(mEntries.size());
        double spread[4];
        for (int k = 0; k < 4; ++k)
            spread[k] = sq[k] / n - (mean[k] / n) * (mean[k] / n);
        spread[3] /= 3.0;
        int bestAxis = 3;
        for (int k = 0; k < 3; ++k) {
            if (spread[k] > spread[bestAxis])
                bestAxis = k;
        }
        mAxis = Axis(bestAxis);
        mWeight = mAxis == Axis::Sum ? 3 : 1;
    }

    int axisValue(uint8_t r, uint8_t g, uint8_t b) const
    {
        switch (mAxis) {
        case Axis::Red:
            return r;
        case Axis::Green:
            return g;
        case Axis::Blue:
            return b;
        case Axis::Sum:
            break;
        }
        return r + g + b;
    }

    int maxAxisValue() const { return mAxis == Axis::Sum ? 3 * 255 : 255; }

    std::vector<Entry> mEntries;
    std::vector<uint16_t> mStart;
    Axis mAxis = Axis::Sum;
    int mWeight = 3;
};

/**
 * Colour -> palette index cache in front of the exact search: open addressing keyed by the 24-bit
 * colour, grown with the number of distinct colours (not pixels) so it stays as small as the
 * picture allows. Slots pack colour << 8 | index; 0xFFFFFFFF marks a free slot, so white, whose
 * slot could take that value, is answered once up front and never stored.
 */
class MappingCache
{
public:
    explicit MappingCache(const TSlowColorLookup &lookup)
        : mLookup(lookup)
        , mWhite(lookup.nearest(255, 255, 255))
    {
        rehash(12);
    }

    uint8_t indexOf(uint32_t key)
    {
        if (key == 0xFFFFFFu)
            return mWhite;
        uint32_t slot = hash(key);
        for (;;) {
            const uint32_t v = mSlots[slot];
            if (v == kFree)
                break;
            if ((v >> 8) == key)
                return uint8_t(v);
            slot = (slot + 1) & mMask;
        }
        const uint8_t index = mLookup.nearest(uint8_t(key >> 16), uint8_t(key >> 8), uint8_t(key));
        mSlots[slot] = key << 8 | index;
        if (++mUsed * 2 > mSlots.size())
            rehash(mBits + 1);
        return index;
    }

private:
    static constexpr uint32_t kFree = 0xFFFFFFFFu;

    uint32_t hash(uint32_t key) const { return (key * 0x9E3779B1u) >> (32 - mBits); }

    void rehash(int bits)
    {
        std::vector<uint32_t> old = std::move(mSlots);
        mBits = bits;
        mMask = (uint32_t(1) << bits) - 1;
        mSlots.assign(std::size_t(1) << bits, kFree);
        for (uint32_t v : old) {
            if (v == kFree)
                continue;
            uint32_t slot = hash(v >> 8);
            while (mSlots[slot] != kFree)
                slot = (slot + 1) & mMask;
            mSlots[slot] = v;
        }
    }

    const TSlowColorLookup &mLookup;
    uint8_t mWhite;
    std::vector<uint32_t> mSlots;
    std::size_t mUsed = 0;
    int mBits = 0;
    uint32_t mMask = 0;
};

void mapNearest(const Picture &rgb, const std::vector<Rgb> &palette, Picture &out)
{
    const TSlowColorLookup lookup(palette);
    MappingCache cache(lookup);
    const int width = rgb.width();
    // The dither engine's alternating row direction changes nothing without carried error, so
    // every row is walked left to right.
    for (int y = 0; y < rgb.height(); ++y) {
        const uint8_t *p = rgb.row(y);
        uint8_t *o = out.row(y);
        uint32_t lastKey = 0xFFFFFFFFu; // never a 24-bit colour
        uint8_t lastIndex = 0;
        for (int x = 0; x < width; ++x, p += 3) {
            const uint32_t key = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
            if (key != lastKey) {
                lastKey = key;
                lastIndex = cache.indexOf(key);
            }
            o[x] = lastIndex;
        }
    }
}

std::vector<Rgb> grayPalette()
{
    std::vector<Rgb> palette(256);
    for (int i = 0; i < 256; ++i)
        palette[std::size_t(i)] = Rgb{uint8_t(i), uint8_t(i), uint8_t(i)};
    return palette;
}

void mapGray(const Picture &rgb, Picture &out)
{
    const int width = rgb.width();
    for (int y = 0; y < rgb.height(); ++y) {
        const uint8_t *p = rgb.row(y);
        uint8_t *o = out.row(y);
        for (int x = 0; x < width; ++x, p += 3)
            o[x] = uint8_t((77 * p[0] + 150 * p[1] + 29 * p[2]) >> 8);
    }
}

std::vector<Rgb> cubePalette()
{
    std::vector<Rgb> palette(216);
    for (int r = 0; r < 6; ++r) {
        for (int g = 0; g < 6; ++g) {
            for (int b = 0; b < 6; ++b)
                palette[std::size_t(36 * r + 6 * g + b)] = Rgb{uint8_t(51 * r), uint8_t(51 * g), uint8_t(51 * b)};
        }
    }
    return palette;
}

void mapCube(const Picture &rgb, Picture &out)
{
    uint8_t level[256];
    for (int v = 0; v < 256; ++v)
        level[v] = uint8_t((v + 3) / 51);
    const int width = rgb.width();
    for (int y = 0; y < rgb.height(); ++y) {
        const uint8_t *p = rgb.row(y);
        uint8_t *o = out.row(y);
        for (int x = 0; x < width; ++x, p += 3)
            o[x] = uint8_t(36 * level[p[0]] + 6 * level[p[1]] + level[p[2]]);
    }
}

} // namespace

Picture ReduceBitmapColors(Picture &picture, ReductionMode mode, DitherMode dither, int bits)
{
    (void)dither; // nearest colour is the only mapping
    if (picture.isNull())
        throw GifError(GifErrorKind::InvalidDimensions);
    // A buffer shorter than its stated size would be read past its end.
    const std::size_t pixels = std::size_t(picture.width()) * std::size_t(picture.height());
    if (picture.data().size() < pixels * std::size_t(picture.bytesPerPixel()))
        throw GifError(GifErrorKind::InvalidDimensions);
    if (mode == ReductionMode::OctreeQuantize && (bits < 1 || bits > 8))
        throw std::invalid_argument("ReduceBitmapColors: bits must be 1 to 8");

    try {
        if (picture.format() != PixelFormat::Rgb24)
            picture = picture.toRgb24();

        Picture out(picture.width(), picture.height(), PixelFormat::Indexed8);
        switch (mode) {
        case ReductionMode::OctreeQuantize: {
            TColorQuantizer quantizer(1 << bits);
            quantizer.addPicture(picture);
            out.palette() = quantizer.palette();
            mapNearest(picture, out.palette(), out);
            break;
        }
        case ReductionMode::GrayScale:
            out.palette() = grayPalette();
            mapGray(picture, out);
            break;
        case ReductionMode::WebSafeCube:
            out.palette() = cubePalette();
            mapCube(picture, out);
            break;
        }
        return out;
    } catch (const std::bad_alloc &) {
        throw GifError(GifErrorKind::OutOfMemory);
    }
}

} // namespace doc
