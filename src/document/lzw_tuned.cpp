#include "lzw_tuned.h"

#include "gif_error.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>

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
 * The string table as a trie: a node's child for a pixel is found in one step (rows of 256 codes,
 * made valid lazily by a generation stamp so a clear costs nothing), and the children of a node
 * are also chained so the lossy search can look at each of them.
 */
struct Trie {
    std::array<uint16_t, 4096 * 256> next;
    std::array<uint32_t, 4096> rowGeneration{};
    std::array<uint16_t, 4096> firstChild;
    std::array<uint16_t, 4096> sibling;
    std::array<uint8_t, 4096> pixelOf;
    uint32_t generation = 0;

    void reset(uint32_t literals)
    {
        if (++generation == 0) {
            rowGeneration.fill(0);
            generation = 1;
        }
        std::fill(firstChild.begin(), firstChild.begin() + literals, 0);
        for (uint32_t v = 0; v < literals; ++v)
            pixelOf[v] = uint8_t(v);
    }
    uint16_t child(uint32_t node, uint8_t pixel) const
    {
        return rowGeneration[node] == generation ? next[node * 256 + pixel] : 0;
    }
    void add(uint32_t node, uint8_t pixel, uint16_t code)
    {
        if (rowGeneration[node] != generation) {
            std::memset(&next[node * 256], 0, 256 * sizeof(uint16_t));
            rowGeneration[node] = generation;
        }
        next[node * 256 + pixel] = code;
        pixelOf[code] = pixel;
        firstChild[code] = 0;
        sibling[code] = firstChild[node];
        firstChild[node] = code;
    }
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

/**
 * The greedy encoding, one pixel at a time; with lossy tuning a string is extended by a child
 * whose colour is near enough. `out` gets what the codes decode to.
 */
std::vector<uint8_t> encodeGreedy(const std::vector<uint8_t> &indices, int width, int minCodeSize,
                                  const LzwTuning &tuning, ClearPolicy policy, std::vector<uint8_t> &out, bool &filled,
                                  std::size_t giveUpAfter, bool &abandoned)
{
    const uint64_t limitBits = giveUpAfter >= (std::numeric_limits<uint64_t>::max() >> 4) ? std::numeric_limits<uint64_t>::max()
                                                                                     : uint64_t(giveUpAfter) * 8;
    Coder coder(minCodeSize, policy, indices.size());
    Trie &t = coder.t;
    out.resize(indices.size());

    const bool lossy = tuning.lossy > 0 && tuning.palette && !tuning.palette->empty();
    const std::vector<Rgb> *palette = tuning.palette;
    const int bound = squared(lossyRadius(tuning.lossy));
    const int transparent = tuning.transparentIndex;
    auto colorOf = [&](uint8_t v) {
        return v < palette->size() ? (*palette)[v] : Rgb{};
    };
    const int w = std::max(width, 1);

    if (indices.empty())
        return coder.finish(std::nullopt);
    uint32_t node = indices[0];
    out[0] = indices[0];
    // The error carried along the row, in colour units a channel.
    int errR = 0, errG = 0, errB = 0;
    for (std::size_t i = 1; i < indices.size(); ++i) {
        const uint8_t p = indices[i];
        uint16_t c = t.child(node, p);
        uint8_t chosen = p;
        if (lossy) {
            if (i % std::size_t(w) == 0)
                errR = errG = errB = 0;
            const Rgb original = colorOf(p);
            const int tr = original.r + errR, tg = original.g + errG, tb = original.b + errB;
            if (p != transparent) {
                // The child nearest the wanted colour, among those close enough to the pixel's own.
                int best = c ? squared(tr - original.r) + squared(tg - original.g) + squared(tb - original.b) : 1 << 30;
                for (uint16_t k = t.rowGeneration[node] == t.generation ? t.firstChild[node] : 0; k; k = t.sibling[k]) {
                    const uint8_t q = t.pixelOf[k];
                    if (q == p || q == transparent)
                        continue;
                    const Rgb qc = colorOf(q);
                    if (squared(qc.r - original.r) + squared(qc.g - original.g) + squared(qc.b - original.b) > bound)
                        continue;
                    const int d = squared(tr - qc.r) + squared(tg - qc.g) + squared(tb - qc.b);
                    if (d < best) {
                        best = d;
                        c = k;
                        chosen = q;
                    }
                }
            }
            const Rgb got = colorOf(chosen);
            errR = std::clamp((tr - got.r) * 3 / 4, -32, 32);
            errG = std::clamp((tg - got.g) * 3 / 4, -32, 32);
            errB = std::clamp((tb - got.b) * 3 / 4, -32, 32);
        }
        out[i] = chosen;
        if (c) {
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
    const uint64_t limitBits = giveUpAfter >= (std::numeric_limits<uint64_t>::max() >> 4) ? std::numeric_limits<uint64_t>::max()
                                                                                     : uint64_t(giveUpAfter) * 8;
    Coder coder(minCodeSize, policy, indices.size());
    const Trie &t = coder.t;
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
            c = t.child(node, transparent);
        if (c)
            chosen = transparent;
        else
            c = t.child(node, chosen);
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
    uint8_t highest = 0;
    for (uint8_t v : indices)
        highest = std::max(highest, v);
    if (minCodeSize < 8 && highest >= (1u << minCodeSize))
        throw GifError(GifErrorKind::ColorNotInTable);

    bool abandoned = false;
    const bool either = tuning.lossy <= 0 && tuning.mayBeTransparent && tuning.transparentIndex >= 0 &&
                        tuning.mayBeTransparent->size() == indices.size();
    auto encode = [&](ClearPolicy policy, std::vector<uint8_t> &out, bool &filled, std::size_t giveUpAfter) {
        if (either)
            return encodeEither(indices, *tuning.mayBeTransparent, minCodeSize, uint8_t(tuning.transparentIndex), policy,
                                out, filled, giveUpAfter, abandoned);
        return encodeGreedy(indices, width, minCodeSize, tuning, policy, out, filled, giveUpAfter, abandoned);
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
    indices = std::move(decoded);
    for (uint8_t v : indices)
        result.highest = std::max(result.highest, v);
    return result;
}

} // namespace doc
