#include "gif_writer.h"

#include "atomic_file.h"
#include "gif_error.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <future>
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

    const std::size_t area = std::size_t(frame.width) * frame.height;
    if (frame.pixels().size() < area)
        throw GifError(GifErrorKind::InvalidDimensions);

    const TGIFColorMap &local = frame.colorMap();
    const TGIFColorMap &table = local.empty() ? document.header.colorMap : local;
    const uint8_t *pixels = frame.pixels().data();
    // One max over the frame costs far less than a test per pixel in the encoder; a full table
    // holds every byte value.
    if (table.count() < 256 && highestIndex(pixels, area) >= table.count())
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

    encodeImageData(pixels, area, std::max(2, table.bitSize()), out);
}

void flush(std::ostream &stream, std::vector<uint8_t> &buffer)
{
    stream.write(reinterpret_cast<const char *>(buffer.data()), std::streamsize(buffer.size()));
    if (!stream)
        throw GifError(GifErrorKind::WriteFailed);
    buffer.clear();
}

} // namespace

void encodeImageData(const uint8_t *indices, std::size_t count, int minCodeSize, std::vector<uint8_t> &out)
{
    if (minCodeSize < 2 || minCodeSize > 8)
        throw GifError(GifErrorKind::BadCodeSize);
    // A literal wider than the code size would spill into its neighbours' bits.
    if (minCodeSize < 8 && count > 0 && highestIndex(indices, count) >= (1u << minCodeSize))
        throw GifError(GifErrorKind::ColorNotInTable);

    const uint32_t clearCode = 1u << minCodeSize;
    const uint32_t endCode = clearCode + 1;

    // Codes are packed into a scratch buffer first, then cut into sub-blocks in one pass. Each
    // pixel adds at most one code of at most 12 bits, plus a clear code every 4000 or so.
    static thread_local std::vector<uint8_t> scratch;
    const std::size_t maxCodes = count + count / 1024 + 4;
    scratch.resize(maxCodes * 3 / 2 + 16);
    uint8_t *dst = scratch.data();

    static thread_local std::array<uint32_t, kHashSlots> tableStorage;
    uint32_t *const table = tableStorage.data();
    const auto emptyTable = [table] { std::fill(table, table + kHashSlots, kEmptySlot); };
    emptyTable();

    uint64_t bits = 0;
    int bitCount = 0;
    int width = minCodeSize + 1;
    uint32_t nextCode = clearCode + 2;

    // Writes one code, then widens the codes once the next free code no longer fits.
    auto emit = [&](uint32_t code) {
        bits |= uint64_t(code) << bitCount;
        bitCount += width;
        if (bitCount >= 32) {
            dst[0] = uint8_t(bits);
            dst[1] = uint8_t(bits >> 8);
            dst[2] = uint8_t(bits >> 16);
            dst[3] = uint8_t(bits >> 24);
            dst += 4;
            bits >>= 32;
            bitCount -= 32;
        }
        if (nextCode >= (1u << width) && width < kMaxWidth)
            ++width;
    };

    emit(clearCode);
    if (count > 0) {
        uint32_t prefix = indices[0];
        for (std::size_t i = 1; i < count; ++i) {
            const uint32_t pixel = indices[i];
            const uint32_t key = (prefix << 8) | pixel;
            uint32_t slot = slotOf(prefix, pixel * kFibonacci);
            // A key is at most 4094 × 256 + 255, so an empty slot never matches: test the hit first.
            uint32_t entry = table[slot];
            while ((entry >> 12) != key && entry != kEmptySlot) {
                if (++slot == uint32_t(kHashSlots))
                    slot = 0;
                entry = table[slot];
            }
            if (entry != kEmptySlot) [[likely]] {
                prefix = entry & 0xFFF;
                continue;
            }
            emit(prefix);
            if (nextCode == uint32_t(kFirstUndefinedCode)) {
                emit(clearCode);
                emptyTable();
                width = minCodeSize + 1;
                nextCode = clearCode + 2;
            } else {
                table[slot] = (key << 12) | nextCode++;
            }
            prefix = pixel;
        }
        emit(prefix);
    }
    emit(endCode);
    while (bitCount > 0) {
        *dst++ = uint8_t(bits);
        bits >>= 8;
        bitCount -= 8;
    }

    const std::size_t size = std::size_t(dst - scratch.data());
    const std::size_t start = out.size();
    out.resize(start + 1 + size + (size + 254) / 255 + 1);
    uint8_t *o = out.data() + start;
    *o++ = uint8_t(minCodeSize);
    for (std::size_t done = 0; done < size;) {
        const std::size_t n = std::min<std::size_t>(size - done, 255);
        *o++ = uint8_t(n);
        std::memcpy(o, scratch.data() + done, n);
        o += n;
        done += n;
    }
    *o++ = 0;
}

void TGIFImage::SaveToStream(std::ostream &stream) const
{
    if (empty())
        throw GifError(GifErrorKind::UnsupportedVersion);

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
