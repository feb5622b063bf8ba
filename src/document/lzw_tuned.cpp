#include "lzw_tuned.h"

#include "gif_error.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace doc {

namespace {

constexpr uint32_t kTableLimit = 4095; // never defined, as the plain encoder does
constexpr int kMaxWidth = 12;

enum class ClearPolicy {
    /** A clear code as soon as the table is full: the plain encoder's choice. */
    WhenFull,
    /** The full table is kept while its strings pay; a clear once they stop paying. */
    WhenWorse,
};

/**
 * The string table as a trie: a node's child for a pixel is found through a hash of the pair (a
 * table of a few times 4096 slots that stays in the cache, each stamped with the generation that
 * wrote it so a clear costs nothing), and the children of a node are also chained so the lossy
 * search can look at each of them. `rowGeneration[node] == generation` when the node has children.
 */
struct Trie {
    static constexpr uint32_t kSlotBits = 14;
    static constexpr uint32_t kSlots = 1u << kSlotBits;
    // Generations cycle through what the 12 bits above a key hold; the slots are emptied between cycles.
    static constexpr uint32_t kLastGeneration = 0xFFF;
    struct Slot {
        uint32_t key = 0; // generation << 20 | node << 8 | pixel
        uint16_t code = 0;
    };
    std::array<Slot, kSlots> slots{};
    std::array<uint32_t, 4096> rowGeneration{};
    std::array<uint16_t, 4096> firstChild;
    std::array<uint16_t, 4096> sibling;
    std::array<uint8_t, 4096> pixelOf;
    // Per node, the child last found or added, as (generation << 8 | pixel) << 12 | code.
    std::array<uint32_t, 4096> recent{};
    uint32_t generation = 0;

    void reset(uint32_t literals)
    {
        if (++generation > kLastGeneration) {
            slots.fill(Slot{});
            rowGeneration.fill(0);
            recent.fill(0);
            generation = 1;
        }
        std::fill(firstChild.begin(), firstChild.begin() + literals, 0);
        for (uint32_t v = 0; v < literals; ++v)
            pixelOf[v] = uint8_t(v);
    }
    uint16_t child(uint32_t node, uint8_t pixel) const
    {
        const uint32_t key = generation << 20 | node << 8 | pixel;
        for (uint32_t s = slotOf(key);; s = (s + 1) & (kSlots - 1)) {
            const Slot &slot = slots[s];
            if (slot.key == key)
                return slot.code;
            if (slot.key >> 20 != generation)
                return 0;
        }
    }
    /**
     * child(), first looking at the child last taken from the node: runs and repeated patterns,
     * most of what pictures hold, then skip the hash.
     */
    uint16_t follow(uint32_t node, uint8_t pixel)
    {
        const uint32_t tag = generation << 8 | pixel;
        if (recent[node] >> 12 == tag)
            return uint16_t(recent[node] & 0xFFF);
        const uint16_t code = child(node, pixel);
        if (code)
            recent[node] = tag << 12 | code;
        return code;
    }
    void add(uint32_t node, uint8_t pixel, uint16_t code)
    {
        recent[node] = (generation << 8 | pixel) << 12 | code;
        const uint32_t key = generation << 20 | node << 8 | pixel;
        uint32_t s = slotOf(key);
        while (slots[s].key >> 20 == generation)
            s = (s + 1) & (kSlots - 1);
        slots[s] = Slot{key, code};
        rowGeneration[node] = generation;
        pixelOf[code] = pixel;
        firstChild[code] = 0;
        sibling[code] = firstChild[node];
        firstChild[node] = code;
    }

private:
    static uint32_t slotOf(uint32_t key) { return ((key & 0xFFFFFu) * 0x9E3779B1u) >> (32 - kSlotBits); }
};

Trie &trie()
{
    thread_local const std::unique_ptr<Trie> t = std::make_unique<Trie>();
    return *t;
}

class BitSink
{
public:
    void put(uint32_t code, int width)
    {
        mBits |= uint64_t(code) << mCount;
        mCount += width;
        mTotal += uint64_t(width);
        while (mCount >= 8) {
            mBytes.push_back(uint8_t(mBits));
            mBits >>= 8;
            mCount -= 8;
        }
    }
    std::vector<uint8_t> finish()
    {
        if (mCount > 0)
            mBytes.push_back(uint8_t(mBits));
        mBits = 0;
        mCount = 0;
        return std::move(mBytes);
    }
    uint64_t bits() const { return mTotal; }
    void reserve(std::size_t n) { mBytes.reserve(n); }

private:
    std::vector<uint8_t> mBytes;
    uint64_t mBits = 0;
    int mCount = 0;
    uint64_t mTotal = 0;
};

int squared(int v)
{
    return v * v;
}

/** LzwTuning::giveUpAfter in bits. */
uint64_t limitOf(std::size_t giveUpAfter)
{
    return giveUpAfter >= (std::numeric_limits<uint64_t>::max() >> 4) ? std::numeric_limits<uint64_t>::max() : uint64_t(giveUpAfter) * 8;
}

/** The code stream and the table's life: widths, clear codes and when a full table is cleared. */
class Coder
{
public:
    Coder(int minCodeSize, ClearPolicy policy, std::size_t pixels)
        : t(trie())
        , mMinCodeSize(minCodeSize)
        , mClearCode(1u << minCodeSize)
        , mPolicy(policy)
        , mWidth(minCodeSize + 1)
    {
        mSink.reserve(pixels / 2 + 16);
        clear();
    }

    Trie &t;

    void emit(uint32_t code)
    {
        mSink.put(code, mWidth);
        if (mNextCode >= (1u << mWidth) && mWidth < kMaxWidth)
            ++mWidth;
    }

    /**
     * After the code of a string was written at pixel `pos`: true when the next string may be
     * defined; otherwise the table is full and is cleared now or later, as the policy says.
     */
    bool mayDefine(std::size_t pos)
    {
        if (mNextCode < kTableLimit)
            return true;
        filled = true;
        if (mPolicy == ClearPolicy::WhenFull) {
            clear();
        } else if (!mMeasuring) {
            mMeasuring = true;
            mMarkBits = mSink.bits();
            mMarkPixel = pos;
        } else if (mSink.bits() - mMarkBits >= kWindowBits && pos > mMarkPixel) {
            // Stretches of about kWindowBits bits since the table filled, in bits a pixel: clearing
            // pays when one costs clearly more than the best one since it filled.
            const double rate = double(mSink.bits() - mMarkBits) / double(pos - mMarkPixel);
            if (mBestRate > 0 && rate > mBestRate * 1.12) {
                clear();
                mBestRate = 0;
                mMeasuring = false;
            } else {
                mBestRate = mBestRate == 0 ? rate : std::min(mBestRate, rate);
                mMarkBits = mSink.bits();
                mMarkPixel = pos;
            }
        }
        return false;
    }

    void define(uint32_t node, uint8_t pixel)
    {
        t.add(node, pixel, uint16_t(mNextCode));
        ++mNextCode;
    }

    uint64_t bits() const { return mSink.bits(); }

    std::vector<uint8_t> finish(std::optional<uint32_t> last)
    {
        if (last)
            emit(*last);
        emit(mClearCode + 1);
        return mSink.finish();
    }

    bool filled = false;

private:
    static constexpr uint64_t kWindowBits = 8192;

    void clear()
    {
        emit(mClearCode);
        t.reset(mClearCode);
        mWidth = mMinCodeSize + 1;
        mNextCode = mClearCode + 2;
    }

    const int mMinCodeSize;
    const uint32_t mClearCode;
    const ClearPolicy mPolicy;
    int mWidth;
    uint32_t mNextCode = 0;
    BitSink mSink;
    bool mMeasuring = false;
    uint64_t mMarkBits = 0;
    std::size_t mMarkPixel = 0;
    double mBestRate = 0;
};

/** The greedy encoding, one pixel at a time: the indices are written as they are. */
std::vector<uint8_t> encodeGreedy(const std::vector<uint8_t> &indices, int minCodeSize, ClearPolicy policy, bool &filled,
                                  std::size_t giveUpAfter, bool &abandoned)
{
    const uint64_t limitBits = limitOf(giveUpAfter);
    Coder coder(minCodeSize, policy, indices.size());
    Trie &t = coder.t;
    if (indices.empty())
        return coder.finish(std::nullopt);
    uint32_t node = indices[0];
    for (std::size_t i = 1; i < indices.size(); ++i) {
        const uint8_t p = indices[i];
        if (const uint16_t c = t.follow(node, p)) {
            node = c;
            continue;
        }
        coder.emit(node);
        if (coder.mayDefine(i))
            coder.define(node, p);
        node = p;
        if (coder.bits() > limitBits) {
            abandoned = true;
            return {};
        }
    }
    filled = coder.filled;
    return coder.finish(node);
}

/** Whether some pixels may be written as their index or as the transparent one. */
bool either(const LzwTuning &tuning, std::size_t pixels)
{
    return tuning.mayBeTransparent && tuning.transparentIndex >= 0 && tuning.mayBeTransparent->size() == pixels;
}

/**
 * Where a lossy string may go from a node on: the table is searched depth first for the longest
 * string whose pixels all lie within the bound of the picture's colours (ties to the smaller
 * error), each step trying first the entry nearest the wanted colour, which is the picture's colour
 * plus the error carried along the row. Only a few other entries are tried a string: most of the
 * gain is where the nearest entry leads to a string that stops soon.
 */
class LossySearch
{
public:
    /** Entries other than the nearest tried a string: more find little more and cost time. */
    static constexpr int kAlternatives = 4;

    LossySearch(const std::vector<uint8_t> &indices, int width, const LzwTuning &tuning, const Trie &t)
        : mIndices(indices)
        , mWidth(std::size_t(std::max(width, 1)))
        , mBound(squared(lossyRadius(tuning.lossy)))
        , mTransparent(tuning.transparentIndex)
        , mEither(either(tuning, indices.size()) ? tuning.mayBeTransparent : nullptr)
        , t(t)
    {
        const std::vector<Rgb> &palette = *tuning.palette;
        std::copy_n(palette.begin(), std::min<std::size_t>(palette.size(), 256), mColours.begin());
        mPath.reserve(4096);
        mBest.reserve(4096);
        mCandidates.reserve(4096);
        mBranches.reserve(256);
    }

    /** The error carried to the next pixel, in colour units a channel. */
    struct Carry {
        int r = 0, g = 0, b = 0;
    };

    /**
     * The longest string that continues `node` from pixel `pos` on; `out` gets its pixels, `carry`
     * the error after them. Returns the node it ends at and how many pixels it took.
     */
    std::pair<uint32_t, std::size_t> extend(uint32_t node, std::size_t pos, Carry &carry, std::vector<uint8_t> &out)
    {
        mPath.clear();
        mBest.clear();
        mBestDistortion = 0;
        mBestCarry = carry;
        mLeft = kAlternatives;
        search(node, pos, carry, 0);
        for (std::size_t k = 0; k < mBest.size(); ++k)
            out[pos + k] = t.pixelOf[mBest[k]];
        carry = mBestCarry;
        return {mBest.empty() ? node : mBest.back(), mBest.size()};
    }

    /**
     * The pixel a string starts with (itself, or transparent where it may be) and the error left
     * after it.
     */
    uint8_t start(std::size_t pos, Carry &carry) const
    {
        if (pos % mWidth == 0)
            carry = {};
        carry = carryOf(carry.r, carry.g, carry.b);
        return mayBeTransparent(pos) ? uint8_t(mTransparent) : mIndices[pos];
    }

private:
    bool mayBeTransparent(std::size_t pos) const { return mEither && (*mEither)[pos]; }

    static Carry carryOf(int r, int g, int b)
    {
        return {std::clamp(r * 3 / 4, -32, 32), std::clamp(g * 3 / 4, -32, 32), std::clamp(b * 3 / 4, -32, 32)};
    }

    /** The entries within the bound of entry `p`, a bit each; worked out the first time `p` asks. */
    const uint64_t *nearOf(uint8_t p)
    {
        std::array<uint64_t, 4> &bits = mNear[p];
        if (!mNearKnown[p]) {
            const Rgb o = mColours[p];
            bits.fill(0);
            for (unsigned q = 0; q < 256; ++q) {
                const Rgb &c = mColours[q];
                if (squared(c.r - o.r) + squared(c.g - o.g) + squared(c.b - o.b) <= mBound)
                    bits[q >> 6] |= uint64_t(1) << (q & 63);
            }
            mNearKnown[p] = true;
        }
        return bits.data();
    }

    static bool near(const uint64_t *bits, uint8_t q) { return bits[q >> 6] >> (q & 63) & 1; }

    /** Where a string may branch: the state before it went on through `nearest`. */
    struct Branch {
        uint32_t node;
        std::size_t pos;
        std::size_t path;
        Carry carry;
        uint32_t distortion;
        uint16_t nearest;
        uint8_t pixel;
        bool free;
        /** The entries besides the nearest, at mCandidates[mark, mark + count); else the node's children are walked. */
        bool listed;
        std::size_t mark, count;
    };

    /** The colour entry `k` shows for a pixel of colour `original` (transparent shows what was there). */
    Rgb shown(uint16_t k, const Rgb &original) const
    {
        const uint8_t q = t.pixelOf[k];
        return q == mTransparent ? original : mColours[q];
    }

    static uint32_t error(const Rgb &c, const Rgb &o) { return uint32_t(squared(c.r - o.r) + squared(c.g - o.g) + squared(c.b - o.b)); }

    /** A string is only kept where it cannot go on: a longer one always beats its beginning. */
    void stop(const Carry &carry, uint32_t distortion)
    {
        // Strings are compared by what a pixel costs: its share of the code plus its error.
        const uint64_t codeWorth = uint64_t(mBound) * 3 / 5;
        if (mPath.empty() ||
            (!mBest.empty() && (codeWorth + distortion) * mBest.size() >= (codeWorth + mBestDistortion) * mPath.size()))
            return;
        mBest = mPath;
        mBestDistortion = distortion;
        mBestCarry = carry;
    }

    /**
     * Depth first, the nearest entry first: the string goes on through the nearest entry a pixel
     * at a time, and only where another entry was near enough is that place kept to come back to,
     * the deepest first, while the string's few tries last.
     */
    void search(uint32_t node, std::size_t pos, Carry carry, uint32_t distortion)
    {
        const std::size_t n = mIndices.size();
        const std::size_t base = mBranches.size(), entry = mPath.size();
        std::size_t column = pos % mWidth;
        for (;; ++pos, ++column) {
            if (pos >= n) {
                stop(carry, distortion);
                break;
            }
            if (column == mWidth)
                column = 0;
            const uint8_t p = mIndices[pos];
            if (column == 0)
                carry = {};
            // A string without longer ones in the table stops here, whatever the pixel.
            if (t.rowGeneration[node] != t.generation) {
                stop(carry, distortion);
                break;
            }
            const Rgb original = mColours[p];
            const int tr = original.r + carry.r, tg = original.g + carry.g, tb = original.b + carry.b;
            // A pixel that may be transparent goes on through the transparent index where it can: it
            // shows what it should and the table learns the long transparent strings. Otherwise the
            // entry nearest the wanted colour, the pixel's own on a tie with another.
            const bool free = mayBeTransparent(pos);
            const bool some = p != mTransparent;
            const uint64_t *nearby = some ? nearOf(p) : nullptr;
            const std::size_t mark = mCandidates.size();
            bool listed = false;
            uint16_t nearest = 0;
            int best = 1 << 30;
            auto nearer = [&](uint16_t k, uint8_t q) {
                const Rgb &c = mColours[q];
                const int d = squared(tr - c.r) + squared(tg - c.g) + squared(tb - c.b);
                mCandidates.push_back(k);
                if (d < best) {
                    best = d;
                    nearest = k;
                }
            };
            if (some && !free) {
                // One walk over the entries finds the pixel's own and the near ones.
                uint16_t exact = 0;
                for (uint16_t k = t.firstChild[node]; k; k = t.sibling[k]) {
                    const uint8_t q = t.pixelOf[k];
                    if (q == p) {
                        exact = k;
                        mCandidates.push_back(k);
                    } else if (q != mTransparent && near(nearby, q)) {
                        nearer(k, q);
                    }
                }
                if (exact && best >= squared(carry.r) + squared(carry.g) + squared(carry.b))
                    nearest = exact;
                listed = true;
            } else {
                nearest = free ? t.child(node, uint8_t(mTransparent)) : 0;
                if (!nearest)
                    nearest = t.child(node, p);
                if (some && !nearest) {
                    for (uint16_t k = t.firstChild[node]; k; k = t.sibling[k]) {
                        const uint8_t q = t.pixelOf[k];
                        if (q != p && q != mTransparent && near(nearby, q))
                            nearer(k, q);
                    }
                    listed = true;
                }
            }
            if (!nearest) {
                stop(carry, distortion);
                break;
            }
            const std::size_t count = mCandidates.size() - mark;
            if (some && (!listed || count > 1))
                mBranches.push_back(Branch{node, pos, mPath.size(), carry, distortion, nearest, p, free, listed, mark, count});
            else
                mCandidates.resize(mark);
            const Rgb c = shown(nearest, original);
            mPath.push_back(nearest);
            distortion += error(c, original);
            carry = carryOf(tr - c.r, tg - c.g, tb - c.b);
            node = nearest;
        }
        // Back from the deepest place another entry could have taken the string.
        while (mBranches.size() > base) {
            const Branch b = mBranches.back();
            mPath.resize(b.path);
            const Rgb original = mColours[b.pixel];
            const uint64_t *nearby = nearOf(b.pixel);
            auto follow = [&](uint16_t k) {
                --mLeft;
                const Rgb c = shown(k, original);
                mPath.push_back(k);
                search(k, b.pos + 1, carryOf(original.r + b.carry.r - c.r, original.g + b.carry.g - c.g, original.b + b.carry.b - c.b),
                       b.distortion + error(c, original));
                mPath.pop_back();
            };
            if (b.listed) {
                // Deeper searches put their own entries after these and take them back.
                for (std::size_t j = b.mark; j < b.mark + b.count && mLeft > 0; ++j)
                    if (mCandidates[j] != b.nearest)
                        follow(mCandidates[j]);
            } else {
                for (uint16_t k = t.firstChild[b.node]; k && mLeft > 0; k = t.sibling[k]) {
                    const uint8_t q = t.pixelOf[k];
                    if (k == b.nearest || (q == mTransparent ? !b.free : q != b.pixel && !near(nearby, q)))
                        continue;
                    follow(k);
                }
            }
            mCandidates.resize(b.mark);
            mBranches.pop_back();
        }
        mPath.resize(entry);
    }

    const std::vector<uint8_t> &mIndices;
    const std::size_t mWidth;
    const int mBound;
    const int mTransparent;
    const std::vector<uint8_t> *mEither;
    const Trie &t;
    /** The palette padded to 256 entries with black, as a decoder shows entries past its end. */
    std::array<Rgb, 256> mColours{};
    int mLeft = 0;
    std::vector<uint16_t> mPath, mBest, mCandidates;
    std::vector<Branch> mBranches;
    std::array<std::array<uint64_t, 4>, 256> mNear;
    std::array<bool, 256> mNearKnown{};
    uint32_t mBestDistortion = 0;
    Carry mBestCarry;
};

/** The lossy encoding, a string at a time. `out` gets what the codes decode to. */
std::vector<uint8_t> encodeLossy(const std::vector<uint8_t> &indices, int width, int minCodeSize, const LzwTuning &tuning,
                                 ClearPolicy policy, std::vector<uint8_t> &out, bool &filled, std::size_t giveUpAfter,
                                 bool &abandoned)
{
    const uint64_t limitBits = limitOf(giveUpAfter);
    Coder coder(minCodeSize, policy, indices.size());
    const std::size_t n = indices.size();
    out.resize(n);
    if (n == 0)
        return coder.finish(std::nullopt);
    LossySearch search(indices, width, tuning, coder.t);
    LossySearch::Carry carry;
    const uint32_t node0 = search.start(0, carry);
    uint32_t node = node0;
    out[0] = uint8_t(node0);
    for (std::size_t i = 1;;) {
        const auto [end, taken] = search.extend(node, i, carry, out);
        node = end;
        i += taken;
        if (i >= n)
            break;
        // The string stops: the next one starts with the pixel as it is.
        const uint8_t p = search.start(i, carry);
        out[i] = p;
        coder.emit(node);
        if (coder.mayDefine(i))
            coder.define(node, p);
        node = p;
        ++i;
        if (coder.bits() > limitBits) {
            abandoned = true;
            return {};
        }
        if (i >= n)
            break;
    }
    filled = coder.filled;
    return coder.finish(node);
}

/**
 * The greedy encoding where some pixels may be written either as their index or as the
 * transparent one: a string goes on through the transparent index where the table holds it,
 * else through the pixel's own, and a new string starts transparent, so that the table learns
 * the long transparent strings. `out` gets the indices chosen.
 */
std::vector<uint8_t> encodeEither(const std::vector<uint8_t> &indices, const std::vector<uint8_t> &either, int minCodeSize,
                                  uint8_t transparent, ClearPolicy policy, std::vector<uint8_t> &out, bool &filled,
                                  std::size_t giveUpAfter, bool &abandoned)
{
    const uint64_t limitBits = limitOf(giveUpAfter);
    Coder coder(minCodeSize, policy, indices.size());
    Trie &t = coder.t;
    const std::size_t n = indices.size();
    out.resize(n);
    if (n == 0)
        return coder.finish(std::nullopt);

    uint32_t node = either[0] ? transparent : indices[0];
    out[0] = uint8_t(node);
    for (std::size_t i = 1; i < n; ++i) {
        uint8_t chosen = indices[i];
        uint16_t c = 0;
        if (either[i])
            c = t.follow(node, transparent);
        if (c)
            chosen = transparent;
        else
            c = t.follow(node, chosen);
        if (c) {
            out[i] = chosen;
            node = c;
            continue;
        }
        coder.emit(node);
        if (either[i])
            chosen = transparent;
        out[i] = chosen;
        if (coder.mayDefine(i))
            coder.define(node, chosen);
        node = chosen;
        if (coder.bits() > limitBits) {
            abandoned = true;
            return {};
        }
    }
    filled = coder.filled;
    return coder.finish(node);
}

/** The largest index. Every encoding scans its indices once or twice: sixteen at a time where the machine can. */
uint8_t highestOf(const std::vector<uint8_t> &indices)
{
    const std::size_t n = indices.size();
    std::size_t i = 0;
    uint8_t highest = 0;
#ifdef __SSE2__
    __m128i lanes = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16)
        lanes = _mm_max_epu8(lanes, _mm_loadu_si128(reinterpret_cast<const __m128i *>(indices.data() + i)));
    alignas(16) std::array<uint8_t, 16> each;
    _mm_store_si128(reinterpret_cast<__m128i *>(each.data()), lanes);
    highest = *std::max_element(each.begin(), each.end());
#endif
    for (; i < n; ++i)
        highest = std::max(highest, indices[i]);
    return highest;
}

} // namespace

int lossyRadius(int lossy)
{
    // The square root keeps the low values fine-grained, where each step costs the most quality;
    // 3.1 puts 80 at the quality gifsicle's --lossy=80 gives on screen recordings and photographs.
    return lossy <= 0 ? 0 : int(std::lround(3.1 * std::sqrt(double(std::min(lossy, kMaxLossy)))));
}

TunedCodes encodeTunedLzw(std::vector<uint8_t> &indices, int width, int minCodeSize, const LzwTuning &tuning)
{
    if (minCodeSize < 2 || minCodeSize > 8)
        throw GifError(GifErrorKind::BadCodeSize);
    const uint8_t highest = highestOf(indices);
    if (minCodeSize < 8 && highest >= (1u << minCodeSize))
        throw GifError(GifErrorKind::ColorNotInTable);

    bool abandoned = false;
    const bool lossy = tuning.lossy > 0 && tuning.palette && !tuning.palette->empty();
    // The greedy encoding writes the indices as they are: they need no copy.
    const bool greedy = !lossy && !either(tuning, indices.size());
    auto encode = [&](ClearPolicy policy, std::vector<uint8_t> &out, bool &filled, std::size_t giveUpAfter) {
        if (lossy)
            return encodeLossy(indices, width, minCodeSize, tuning, policy, out, filled, giveUpAfter, abandoned);
        if (either(tuning, indices.size()))
            return encodeEither(indices, *tuning.mayBeTransparent, minCodeSize, uint8_t(tuning.transparentIndex), policy,
                                out, filled, giveUpAfter, abandoned);
        return encodeGreedy(indices, minCodeSize, policy, filled, giveUpAfter, abandoned);
    };
    std::vector<uint8_t> decoded, other;
    bool filled = false;
    std::vector<uint8_t> codes = encode(ClearPolicy::WhenFull, decoded, filled, tuning.giveUpAfter);
    if (abandoned) {
        TunedCodes given;
        given.abandoned = true;
        return given;
    }
    // A table that never filled leaves nothing to choose.
    if (filled) {
        std::vector<uint8_t> b = encode(ClearPolicy::WhenWorse, other, filled, codes.size());
        if (!abandoned && b.size() < codes.size()) {
            codes = std::move(b);
            decoded = std::move(other);
        }
    }
    TunedCodes result;
    result.codes = std::move(codes);
    if (!greedy)
        indices = std::move(decoded);
    result.highest = greedy ? highest : highestOf(indices);
    return result;
}

} // namespace doc
