#include "gif_writer.h"

#include "atomic_file.h"
#include "gif_error.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <future>
#include <memory>
#include <ostream>
#include <thread>

namespace doc {

namespace {

// LZW string table: open addressing over a prime number of slots, about half full at most.
constexpr int kHashSlots = 8009;
// Code 4095 is never defined, so no slot ever holds (key 0xFFFFF, code 4095): that pattern marks
// an empty slot.
constexpr uint32_t kEmptySlot = 0xFFFFFFFFu;
constexpr int kFirstUndefinedCode = 4095;
constexpr int kMaxWidth = 12;
constexpr char kSaving[] = "Saving...";

constexpr uint32_t kFibonacci = 0x9E3779B1u;

/**
 * The slot of key = prefix × 256 + pixel: Fibonacci hashing to 13 bits, folded onto the 8009
 * slots. Cheaper xor-only mixes cluster badly under linear probing (up to 60 probes a code on
 * dithered photos). The product is split so that only prefix × (K × 256) waits on the previous
 * lookup; pixel × K is ready in advance.
 */
inline uint32_t slotOf(uint32_t prefix, uint32_t pixelPart)
{
    const uint32_t h = (prefix * (kFibonacci << 8) + pixelPart) >> 19;
    return h >= uint32_t(kHashSlots) ? h - uint32_t(kHashSlots) : h;
}

/** The largest of n indices; in fixed-size chunks so the compiler turns it into vector code. */
uint8_t highestIndex(const uint8_t *p, std::size_t n)
{
    uint8_t highest = 0;
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        uint8_t m = 0;
        for (int k = 0; k < 64; ++k)
            m = std::max(m, p[i + std::size_t(k)]);
        highest = std::max(highest, m);
    }
    for (; i < n; ++i)
        highest = std::max(highest, p[i]);
    return highest;
}

void putU16(std::vector<uint8_t> &out, uint16_t v)
{
    out.push_back(uint8_t(v & 0xFF));
    out.push_back(uint8_t(v >> 8));
}

/** Data sub-blocks of at most 255 bytes. An empty run writes nothing: a zero length ends the list. */
void putSubBlocks(std::vector<uint8_t> &out, const uint8_t *data, std::size_t size)
{
    while (size > 0) {
        const std::size_t n = std::min<std::size_t>(size, 255);
        out.push_back(uint8_t(n));
        out.insert(out.end(), data, data + n);
        data += n;
        size -= n;
    }
}

void putLines(std::vector<uint8_t> &out, const std::vector<std::string> &lines)
{
    for (const std::string &line : lines)
        putSubBlocks(out, reinterpret_cast<const uint8_t *>(line.data()), line.size());
}

void putColorTable(std::vector<uint8_t> &out, const TGIFColorMap &map)
{
    for (const Rgb &c : map.entries) {
        out.push_back(c.r);
        out.push_back(c.g);
        out.push_back(c.b);
    }
    // The file's table always holds 2^bits entries; the rest is black.
    const std::size_t padded = std::size_t(1) << map.bitSize();
    out.insert(out.end(), (padded - map.entries.size()) * 3, uint8_t(0));
}

void putExtension(std::vector<uint8_t> &out, const TGIFExtension &e)
{
    out.push_back(0x21);
    out.push_back(e.label());
    switch (e.kind()) {
    case ExtensionKind::GraphicControl: {
        const auto &g = static_cast<const TGIFGraphicControlExtension &>(e);
        // The block size is always 4 here: any other value would make the rest unreadable.
        out.push_back(4);
        out.push_back(g.packed);
        putU16(out, g.delay);
        out.push_back(g.transparentIndex);
        break;
    }
    case ExtensionKind::Comment:
        putLines(out, static_cast<const TGIFCommentExtension &>(e).lines);
        break;
    case ExtensionKind::Text: {
        const auto &t = static_cast<const TGIFTextExtension &>(e);
        out.push_back(12);
        out.insert(out.end(), t.header.begin() + 1, t.header.end());
        putLines(out, t.lines);
        break;
    }
    case ExtensionKind::Loop: {
        const auto &l = static_cast<const TGIFAppExtNSLoop &>(e);
        static constexpr char kNetscape[] = "NETSCAPE2.0";
        out.push_back(11);
        out.insert(out.end(), kNetscape, kNetscape + 11);
        out.push_back(3);
        out.push_back(1);
        putU16(out, l.loops);
        if (l.bufferSize != 0) {
            out.push_back(5);
            out.push_back(2);
            for (int shift = 0; shift < 32; shift += 8)
                out.push_back(uint8_t(l.bufferSize >> shift));
        }
        break;
    }
    case ExtensionKind::UnknownApplication: {
        const auto &a = static_cast<const TGIFUnknownAppExtension &>(e);
        // Always 11 identifier bytes: a 10-byte identifier (as some files carry) gets a zero byte.
        std::array<uint8_t, 11> id{};
        std::memcpy(id.data(), a.identifier.data(), std::min<std::size_t>(a.identifier.size(), 11));
        out.push_back(11);
        out.insert(out.end(), id.begin(), id.end());
        for (const auto &block : a.subBlocks)
            putSubBlocks(out, block.data(), block.size());
        break;
    }
    }
    out.push_back(0);
}

int largestBitSize(const TGIFImage &document)
{
    int bits = document.header.colorMap.bitSize();
    for (int i = 0; i < document.count(); ++i)
        bits = std::max(bits, document.frame(i).colorMap().bitSize());
    return bits;
}

bool needs89a(const TGIFImage &document)
{
    for (int i = 0; i < document.count(); ++i) {
        const TGIFSubImage &f = document.frame(i);
        if (f.extensionCount() > 0 || f.colorMap().sorted)
            return true;
    }
    return false;
}

void putFrame(std::vector<uint8_t> &out, const TGIFImage &document, const TGIFSubImage &frame)
{
    for (int e = 0; e < frame.extensionCount(); ++e)
        putExtension(out, *frame.extension(e));
    if (!frame.hasPixels())
        return;

    const TGIFColorMap &local = frame.colorMap();
    const TGIFColorMap &table = local.empty() ? document.header.colorMap : local;
    const int minCodeSize = std::max(2, table.bitSize());
    // Codes our encoder made from these rows at this code size are what encoding would write;
    // codes made at a smaller size of their own hold indices that all fit in it.
    const auto codes = frame.pixelCodes();
    const bool copyCodes = codes && codes->ours && !codes->interlaced && codes->width == frame.width &&
                           codes->height == frame.height &&
                           (codes->minCodeSize == minCodeSize ||
                            (codes->ownCodeSize && codes->minCodeSize >= 2 && codes->minCodeSize < minCodeSize));
    std::shared_ptr<const FramePixels> pixels;
    if (!copyCodes) {
        pixels = frame.passPixelStore();
        if (!pixels)
            throw GifError(GifErrorKind::InvalidDimensions);
    }
    // One max over the frame costs far less than a test per pixel in the encoder; a full table
    // holds every byte value.
    if (table.count() < 256 && (copyCodes ? codes->highest : pixels->highest()) >= table.count())
        throw GifError(GifErrorKind::ColorNotInTable);

    out.push_back(0x2C);
    putU16(out, frame.left);
    putU16(out, frame.top);
    putU16(out, frame.width);
    putU16(out, frame.height);
    // Rows always go out top to bottom, so the interlace flag stays clear.
    uint8_t packed = 0;
    if (!local.empty())
        packed = uint8_t(0x80 | (local.sorted ? 0x20 : 0) | (local.bitSize() - 1));
    out.push_back(packed);
    if (!local.empty())
        putColorTable(out, local);

    if (copyCodes)
        putImageData(codes->codes.data(), codes->codeBytes(), codes->minCodeSize, out);
    else
        encodeImageData(*pixels, minCodeSize, out);
}

void flush(std::ostream &stream, std::vector<uint8_t> &buffer)
{
    stream.write(reinterpret_cast<const char *>(buffer.data()), std::streamsize(buffer.size()));
    if (!stream)
        throw GifError(GifErrorKind::WriteFailed);
    buffer.clear();
}

} // namespace

namespace {

/**
 * The greedy GIF LZW encoder, fed pixels a run at a time: stored pixels one by one through the hash
 * table, and runs of one value in steps, so that a long run costs its codes rather than its pixels.
 *
 * Runs can be stepped because the strings v, vv, vvv ... of one value v form a chain in the table:
 * the string of k + 1 v's can only be defined with the string of k v's as its prefix. While the
 * current string is k v's and the chain reaches J v's, the greedy match extends to min(J, k + left)
 * without a lookup; the codes written are exactly those of the pixel-by-pixel loop.
 */
class LzwEncoder
{
public:
    explicit LzwEncoder(int minCodeSize)
        : mMinCodeSize(minCodeSize)
        , mClearCode(1u << minCodeSize)
        , mWidth(minCodeSize + 1)
        , mNextCode(mClearCode + 2)
    {
        mScratch.resize(1 << 16);
        mDst = mScratch.data();
        resetTable();
        emit(mClearCode);
    }

    /** Stored pixels. */
    void pixels(const uint8_t *p, std::size_t n)
    {
        std::size_t i = 0;
        if (!mHavePrefix && n > 0)
            start(p[i++]);
        for (; i < n; ++i) {
            const uint32_t pixel = p[i];
            const uint32_t key = (mPrefix << 8) | pixel;
            uint32_t slot = slotOf(mPrefix, pixel * kFibonacci);
            // A key is at most 4094 × 256 + 255, so an empty slot never matches: test the hit first.
            uint32_t entry = mTable[slot];
            while ((entry >> 12) != key && entry != kEmptySlot) {
                if (++slot == uint32_t(kHashSlots))
                    slot = 0;
                entry = mTable[slot];
            }
            if (entry != kEmptySlot) [[likely]] {
                mPrefix = entry & 0xFFF;
                mRunLength = (mRunLength > 0 && mRunValue == pixel) ? mRunLength + 1 : 0;
                continue;
            }
            miss(slot, key, pixel);
        }
    }

    /** n pixels of one value. */
    void run(uint8_t value, std::size_t n)
    {
        if (n == 0)
            return;
        if (!mHavePrefix) {
            start(value);
            --n;
        }
        const uint32_t v = value;
        while (n > 0) {
            if (mRunLength == 0 || mRunValue != v) {
                // The current string is not all v's: one pixel the ordinary way.
                pixels(&value, 1);
                --n;
                continue;
            }
            // The string is mRunLength v's; the table holds the chain up to mChainLength[v].
            const std::size_t step = std::min<std::size_t>(mChainLength[v] - mRunLength, n);
            if (step > 0) {
                mRunLength += uint32_t(step);
                mPrefix = mChainCode[v][mRunLength];
                n -= step;
                continue;
            }
            // One v more is not in the table: find its empty slot and take the miss.
            const uint32_t key = (mPrefix << 8) | v;
            uint32_t slot = slotOf(mPrefix, v * kFibonacci);
            while (mTable[slot] != kEmptySlot)
                if (++slot == uint32_t(kHashSlots))
                    slot = 0;
            miss(slot, key, v);
            --n;
        }
    }

    /** Ends the codes; returns them, packed into bytes, without sub-blocks. */
    std::vector<uint8_t> finish()
    {
        if (mHavePrefix)
            emit(mPrefix);
        emit(mClearCode + 1);
        while (mBitCount > 0) {
            *mDst++ = uint8_t(mBits);
            mBits >>= 8;
            mBitCount -= 8;
        }
        // Exactly sized (and padded for the decoder's reads): frames may keep these for long.
        std::vector<uint8_t> codes;
        codes.reserve(std::size_t(mDst - mScratch.data()) + 8);
        codes.assign(mScratch.data(), mDst);
        return codes;
    }

private:
    void start(uint8_t pixel)
    {
        mPrefix = pixel;
        mRunValue = pixel;
        mRunLength = 1;
        mHavePrefix = true;
    }

    /** The current string plus `pixel` is not in the table: write its code, define the new string. */
    void miss(uint32_t slot, uint32_t key, uint32_t pixel)
    {
        emit(mPrefix);
        if (mNextCode == uint32_t(kFirstUndefinedCode)) {
            emit(mClearCode);
            resetTable();
            mWidth = mMinCodeSize + 1;
            mNextCode = mClearCode + 2;
        } else {
            mTable[slot] = (key << 12) | mNextCode;
            // The string of one value more extends that value's chain.
            if (mRunLength > 0 && mRunValue == pixel && mRunLength == mChainLength[pixel])
                mChainCode[pixel][++mChainLength[pixel]] = uint16_t(mNextCode);
            ++mNextCode;
        }
        start(uint8_t(pixel));
    }

    void resetTable()
    {
        std::fill(mTable.begin(), mTable.end(), kEmptySlot);
        for (uint32_t v = 0; v < 256; ++v) {
            mChainLength[v] = 1;
            mChainCode[v][1] = uint16_t(v);
        }
    }

    /** Writes one code, then widens the codes once the next free code no longer fits. */
    void emit(uint32_t code)
    {
        mBits |= uint64_t(code) << mBitCount;
        mBitCount += mWidth;
        if (mBitCount >= 32) {
            if (std::size_t(mScratch.data() + mScratch.size() - mDst) < 8) {
                const std::size_t used = std::size_t(mDst - mScratch.data());
                mScratch.resize(mScratch.size() * 2);
                mDst = mScratch.data() + used;
            }
            mDst[0] = uint8_t(mBits);
            mDst[1] = uint8_t(mBits >> 8);
            mDst[2] = uint8_t(mBits >> 16);
            mDst[3] = uint8_t(mBits >> 24);
            mDst += 4;
            mBits >>= 32;
            mBitCount -= 32;
        }
        if (mNextCode >= (1u << mWidth) && mWidth < kMaxWidth)
            ++mWidth;
    }

    const int mMinCodeSize;
    const uint32_t mClearCode;
    int mWidth;
    uint32_t mNextCode;
    uint32_t mPrefix = 0;
    bool mHavePrefix = false;
    // When the current string is mRunLength copies of mRunValue (0: it is not such a string).
    uint32_t mRunValue = 0;
    uint32_t mRunLength = 0;

    std::vector<uint8_t> mScratch;
    uint8_t *mDst = nullptr;
    uint64_t mBits = 0;
    int mBitCount = 0;

    struct Tables {
        std::array<uint32_t, kHashSlots> table;
        // chainCode[v][k]: the code of the string of k v's, for k up to chainLength[v].
        std::array<uint32_t, 256> chainLength;
        std::array<std::array<uint16_t, 4097>, 256> chainCode;
    };
    /** Shared by the encoders of one thread (a frame at a time on each); on the heap, being large. */
    static Tables &tables()
    {
        thread_local const std::unique_ptr<Tables> t = std::make_unique<Tables>();
        return *t;
    }

    Tables &mTables = tables();
    std::array<uint32_t, kHashSlots> &mTable = mTables.table;
    std::array<uint32_t, 256> &mChainLength = mTables.chainLength;
    std::array<std::array<uint16_t, 4097>, 256> &mChainCode = mTables.chainCode;
};

void checkCodeSize(int minCodeSize, uint8_t highest)
{
    if (minCodeSize < 2 || minCodeSize > 8)
        throw GifError(GifErrorKind::BadCodeSize);
    // A literal wider than the code size would spill into its neighbours' bits.
    if (minCodeSize < 8 && highest >= (1u << minCodeSize))
        throw GifError(GifErrorKind::ColorNotInTable);
}

} // namespace

void putImageData(const uint8_t *codes, std::size_t size, int minCodeSize, std::vector<uint8_t> &out)
{
    const std::size_t startAt = out.size();
    out.resize(startAt + 1 + size + (size + 254) / 255 + 1);
    uint8_t *o = out.data() + startAt;
    *o++ = uint8_t(minCodeSize);
    for (std::size_t done = 0; done < size;) {
        const std::size_t n = std::min<std::size_t>(size - done, 255);
        *o++ = uint8_t(n);
        std::memcpy(o, codes + done, n);
        o += n;
        done += n;
    }
    *o++ = 0;
}

void encodeImageData(const uint8_t *indices, std::size_t count, int minCodeSize, std::vector<uint8_t> &out)
{
    checkCodeSize(minCodeSize, count > 0 ? highestIndex(indices, count) : 0);
    LzwEncoder encoder(minCodeSize);
    encoder.pixels(indices, count);
    const std::vector<uint8_t> codes = encoder.finish();
    putImageData(codes.data(), codes.size(), minCodeSize, out);
}

std::vector<uint8_t> encodeLzwCodes(const FramePixels &pixels, int minCodeSize)
{
    checkCodeSize(minCodeSize, pixels.highest());
    LzwEncoder encoder(minCodeSize);
    const int w = pixels.width();
    for (int y = 0; y < pixels.height();) {
        if (const uint8_t *r = pixels.row(y)) {
            encoder.pixels(r, std::size_t(w));
            ++y;
            continue;
        }
        // Consecutive rows of one value are one run.
        const uint8_t v = pixels.rowValue(y);
        int end = y + 1;
        while (end < pixels.height() && !pixels.row(end) && pixels.rowValue(end) == v)
            ++end;
        encoder.run(v, std::size_t(end - y) * std::size_t(w));
        y = end;
    }
    return encoder.finish();
}

void encodeImageData(const FramePixels &pixels, int minCodeSize, std::vector<uint8_t> &out)
{
    const std::vector<uint8_t> codes = encodeLzwCodes(pixels, minCodeSize);
    putImageData(codes.data(), codes.size(), minCodeSize, out);
}

void TGIFImage::SaveToStream(std::ostream &stream) const
{
    if (empty())
        throw GifError(GifErrorKind::UnsupportedVersion);

    // "Saving..." from start to end, a step per frame written.
    const ProgressScope scope(*this, kSaving);
    auto written = [&](int frames) { scope.running(frames * 100 / count()); };

    std::vector<uint8_t> out;
    out.reserve(1 << 16);
    const char *version = needs89a(*this) ? "GIF89a" : "GIF87a";
    out.insert(out.end(), version, version + 6);

    putU16(out, header.width);
    putU16(out, header.height);
    // The size field tells the largest table in the file even without a global table.
    const int bits = largestBitSize(*this);
    uint8_t packed = 0;
    if (!header.colorMap.empty())
        packed |= 0x80;
    if (header.colorMap.sorted)
        packed |= 0x08;
    // With a global table the size field must be that table's own size, or readers would take
    // the frames that follow for more table entries; the colour resolution still tells the largest.
    const int sizeBits = header.colorMap.empty() ? bits : header.colorMap.bitSize();
    if (bits > 0)
        packed |= uint8_t(((bits - 1) * 16) & 0x70);
    if (sizeBits > 0)
        packed |= uint8_t((sizeBits - 1) & 0x07);
    out.push_back(packed);
    out.push_back(header.background);
    out.push_back(header.aspect);
    if (!header.colorMap.empty())
        putColorTable(out, header.colorMap);

    flush(stream, out);

    // Frames are encoded on a few threads, each into its own buffer, and written in order: the
    // LZW encoding is most of a save, and frames do not depend on each other.
    const int n = count();
    const int workers = std::clamp(int(std::thread::hardware_concurrency()), 1, 4);
    if (n < 2 || workers < 2) {
        for (int i = 0; i < n; ++i) {
            putFrame(out, *this, frame(i));
            flush(stream, out);
            written(i + 1);
        }
    } else {
        std::deque<std::future<std::vector<uint8_t>>> inFlight;
        int next = 0;
        for (int i = 0; i < n; ++i) {
            for (; next < n && next < i + 2 * workers; ++next) {
                inFlight.push_back(std::async(std::launch::async, [this, next] {
                    std::vector<uint8_t> bytes;
                    putFrame(bytes, *this, frame(next));
                    return bytes;
                }));
            }
            std::vector<uint8_t> bytes = inFlight.front().get();
            inFlight.pop_front();
            flush(stream, bytes);
            written(i + 1);
        }
    }
    out.push_back(0x3B);
    flush(stream, out);
}

void saveToFile(const TGIFImage &document, const std::string &path)
{
    writeFileAtomically(path, [&](std::ostream &stream) { document.SaveToStream(stream); });
}

} // namespace doc
