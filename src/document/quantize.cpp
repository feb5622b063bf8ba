#include "quantize.h"

#include "gif_error.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <memory>
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
 * about 9 × (M + 1) nodes (each leaf and at most eight inner nodes above it), so the pool stays
 * small and hot in the cache however large the picture.
 */
class TColorQuantizer
{
public:
    explicit TColorQuantizer(int maxColors)
        : mMaxColors(maxColors)
    {
        mNodes.reserve(std::size_t(kTreeDepth + 1) * std::size_t(maxColors + 1) + 16);
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
 *
 * The colour cube is cut into 32 768 cells of 8 × 8 × 8 colours. The first time a cell is met it
 * gets the list of entries that can be nearest to some colour inside it (those whose distance to
 * the cell's box is no more than the smallest farthest-point distance of any entry), and a cache
 * of the answer for each of its 512 colours. Neighbouring pixels mostly fall in the same cell, so a
 * lookup is one load from a small, warm block, and a colour met for the first time scans a short
 * list instead of the whole palette.
 */
class TSlowColorLookup
{
public:
    explicit TSlowColorLookup(const std::vector<Rgb> &palette)
        : mCells(kCellCount, nullptr)
    {
        // Duplicates (the black padding above all) can never win over their lowest index.
        std::vector<uint32_t> seen;
        for (std::size_t i = 0; i < palette.size() && i < 256; ++i) {
            const Rgb c = palette[i];
            const uint32_t key = uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b;
            if (std::find(seen.begin(), seen.end(), key) != seen.end())
                continue;
            seen.push_back(key);
            mChannel[0][mEntries.size()] = c.r;
            mChannel[1][mEntries.size()] = c.g;
            mChannel[2][mEntries.size()] = c.b;
            mEntries.push_back(Entry{c.r, c.g, c.b, uint8_t(i)});
        }
        // Unused slots sit far outside the cube: never nearest, never a candidate. The distance
        // loops then always run over 256 slots, which the compiler turns into vector code.
        for (std::size_t e = mEntries.size(); e < 256; ++e)
            mChannel[0][e] = mChannel[1][e] = mChannel[2][e] = kFarAway;
    }

    uint8_t indexOf(uint8_t r, uint8_t g, uint8_t b)
    {
        const uint32_t cell = uint32_t(r >> 3) << 10 | uint32_t(g >> 3) << 5 | uint32_t(b >> 3);
        Block *block = mCells[cell];
        if (block == nullptr)
            block = newBlock(cell);
        uint16_t &cached = block->answer[(r & 7) << 6 | (g & 7) << 3 | (b & 7)];
        if (cached == 0)
            cached = uint16_t(1 + search(*block, r, g, b));
        return uint8_t(cached - 1);
    }

private:
    static constexpr uint32_t kCellCount = 32 * 32 * 32;
    static constexpr std::size_t kBlocksPerChunk = 64;
    static constexpr int kFarAway = 4096;

    struct Entry {
        uint8_t r, g, b, index;
    };
    struct Candidate {
        Entry entry;
        int boxDistance; // squared distance from the entry to the nearest point of the cell
    };
    struct Block {
        uint32_t first = 0; // candidates: mCandidates[first, first + count), nearest to the cell first
        uint32_t count = 0;
        uint16_t answer[512] = {}; // palette index + 1, 0 while unknown
    };

    Block *newBlock(uint32_t cell)
    {
        if (mUsedInChunk == kBlocksPerChunk || mChunks.empty()) {
            mChunks.push_back(std::make_unique<Block[]>(kBlocksPerChunk));
            mUsedInChunk = 0;
        }
        Block *block = &mChunks.back()[mUsedInChunk++];
        mCells[cell] = block;

        const int lo[3] = {int(cell >> 10) << 3, int((cell >> 5) & 31) << 3, int(cell & 31) << 3};
        int nearDistance[256] = {};
        int farDistance[256] = {};
        for (int k = 0; k < 3; ++k) {
            const int low = lo[k], high = lo[k] + 7;
            const int *v = mChannel[k];
            for (int e = 0; e < 256; ++e) {
                const int nearGap = std::max(low - v[e], 0) + std::max(v[e] - high, 0);
                const int farGap = std::max(v[e] - low, high - v[e]);
                nearDistance[e] += nearGap * nearGap;
                farDistance[e] += farGap * farGap;
            }
        }
        int bound = INT_MAX;
        for (int e = 0; e < 256; ++e)
            bound = std::min(bound, farDistance[e]);
        // Any colour of the cell lies within `bound` of some entry, so its nearest entry, and every
        // entry tying with it, is within `bound` of it and so no farther than that from the box.
        block->first = uint32_t(mCandidates.size());
        for (std::size_t e = 0; e < mEntries.size(); ++e) {
            if (nearDistance[e] <= bound)
                mCandidates.push_back(Candidate{mEntries[e], nearDistance[e]});
        }
        block->count = uint32_t(mCandidates.size()) - block->first;
        std::sort(mCandidates.begin() + block->first, mCandidates.end(),
                  [](const Candidate &a, const Candidate &b) { return a.boxDistance < b.boxDistance; });
        return block;
    }

    uint8_t search(const Block &block, int r, int g, int b) const
    {
        const Candidate *c = mCandidates.data() + block.first;
        int best = INT_MAX;
        uint8_t bestIndex = 0;
        for (uint32_t i = 0; i < block.count; ++i) {
            // No colour of the cell is nearer to this entry, or to any after it, than its box
            // distance: past the best distance found none can win or tie.
            if (c[i].boxDistance > best)
                break;
            const Entry &e = c[i].entry;
            const int dr = e.r - r, dg = e.g - g, db = e.b - b;
            const int d = dr * dr + dg * dg + db * db;
            if (d < best || (d == best && e.index < bestIndex)) {
                best = d;
                bestIndex = e.index;
            }
        }
        return bestIndex;
    }

    std::vector<Entry> mEntries;    // distinct colours of the palette, in index order
    int mChannel[3][256];           // the same, one array per channel
    std::vector<Candidate> mCandidates; // the candidate lists of every block met, one after another
    std::vector<Block *> mCells;
    std::vector<std::unique_ptr<Block[]>> mChunks;
    std::size_t mUsedInChunk = 0;
};

void mapNearest(const Picture &rgb, const std::vector<Rgb> &palette, Picture &out)
{
    TSlowColorLookup lookup(palette);
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
                lastIndex = lookup.indexOf(p[0], p[1], p[2]);
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
                palette[std::size_t(36 * r + 6 * g + b)] =
                    Rgb{uint8_t(51 * r), uint8_t(51 * g), uint8_t(51 * b)};
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

struct NearestColorLookup::Impl : TSlowColorLookup {
    using TSlowColorLookup::TSlowColorLookup;
};

NearestColorLookup::NearestColorLookup(const std::vector<Rgb> &palette)
    : d(std::make_unique<Impl>(palette))
{
}
NearestColorLookup::~NearestColorLookup() = default;
NearestColorLookup::NearestColorLookup(NearestColorLookup &&) noexcept = default;
NearestColorLookup &NearestColorLookup::operator=(NearestColorLookup &&) noexcept = default;

uint8_t NearestColorLookup::indexOf(uint8_t r, uint8_t g, uint8_t b)
{
    return d->indexOf(r, g, b);
}

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
