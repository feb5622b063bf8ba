// Windows bitmaps. Our own reader for the common layouts: GraphicsMagick 1.3.40 widens 4-, 5- and
// 6-bit channels by shifting (white comes out grey), drops the alpha of bitfield files and fills
// RLE gaps. OS/2 Huffman and RLE24 files are left to it.

#include "decoders.h"

#include <algorithm>

namespace doc::formats {
namespace {

enum Compression : uint32_t { Rgb = 0, Rle8 = 1, Rle4 = 2, Bitfields = 3, Jpeg = 4, Png = 5, AlphaBitfields = 6 };

struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;
    explicit Channel(uint32_t m = 0)
        : mask(m)
    {
        if (!m)
            return;
        while (!(m >> shift & 1))
            ++shift;
        max = m >> shift;
    }
    uint8_t operator()(uint32_t v) const
    {
        if (!max)
            return 0;
        return uint8_t((uint64_t((v & mask) >> shift) * 255 + max / 2) / max);
    }
};

} // namespace

Picture decodeBmp(std::span<const uint8_t> bytes)
{
    ByteReader in(bytes, "BMP");
    if (bytes.size() < 26 || bytes[0] != 'B' || bytes[1] != 'M')
        corrupt("BMP: not a Windows bitmap");
    in.seek(10);
    const uint32_t offBits = in.u32le();
    const uint32_t headerSize = in.u32le();
    int64_t width = 0, height = 0;
    unsigned bitCount = 0;
    uint32_t compression = Rgb, colorsUsed = 0;
    if (headerSize == 12) { // OS/2 1.x
        width = in.u16le();
        height = in.i16le();
        in.skip(2);
        bitCount = in.u16le();
    } else if (headerSize >= 16 && headerSize <= 124) {
        width = in.i32le();
        height = in.i32le();
        in.skip(2);
        bitCount = in.u16le();
        if (headerSize >= 20)
            compression = in.u32le();
        if (headerSize >= 36) {
            in.skip(12);
            colorsUsed = in.u32le();
        }
    } else {
        corrupt("BMP: unknown header size " + std::to_string(headerSize));
    }
    const bool os2v2 = headerSize == 16 || headerSize == 64;
    if (os2v2 && (compression == 3 || compression == 4))
        return decodeWithMagick(bytes, "BMP"); // OS/2 Huffman 1D or RLE24
    if (compression == Jpeg || compression == Png) {
        if (offBits > bytes.size())
            corrupt("BMP: pixel data past the end");
        return compression == Jpeg ? decodeJpeg(bytes.subspan(offBits)) : decodePng(bytes.subspan(offBits));
    }
    const bool topDown = height < 0;
    height = std::abs(height);
    checkPictureSize(width, height, "BMP");
    const bool rle = compression == Rle8 || compression == Rle4;
    if ((compression == Rle8 && bitCount != 8) || (compression == Rle4 && bitCount != 4)
        || ((compression == Bitfields || compression == AlphaBitfields) && bitCount != 16 && bitCount != 32)
        || compression > AlphaBitfields)
        corrupt("BMP: compression does not fit the bit count");
    if (bitCount != 1 && bitCount != 2 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24
        && bitCount != 32)
        corrupt("BMP: unsupported bit count " + std::to_string(bitCount));
    if (rle && topDown)
        corrupt("BMP: a compressed bitmap cannot be top-down");

    // Channel masks: in the V2+ header, after an info header with BI_BITFIELDS, or the defaults.
    uint32_t masks[4] = {0, 0, 0, 0};
    if (bitCount == 16)
        masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
    else if (bitCount == 32)
        masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
    if (compression == Bitfields || compression == AlphaBitfields) {
        ByteReader m(bytes, "BMP");
        m.seek(14 + 40);
        masks[0] = m.u32le(), masks[1] = m.u32le(), masks[2] = m.u32le();
        // The alpha mask sits in V3+ headers; BI_RGB files ignore every mask.
        masks[3] = compression == AlphaBitfields || headerSize >= 56 ? m.u32le() : 0;
    }

    std::vector<doc::Rgb> palette;
    if (bitCount <= 8) {
        const std::size_t entryBytes = headerSize == 12 ? 3 : 4;
        const std::size_t at = 14 + headerSize + ((compression == Bitfields) ? 12 : 0);
        std::size_t count = colorsUsed && colorsUsed < (1u << bitCount) ? colorsUsed : (std::size_t(1) << bitCount);
        // The palette ends where the pixels begin, whatever the header claims.
        if (offBits > at)
            count = std::min(count, (offBits - at) / entryBytes);
        if (at + count * entryBytes > bytes.size())
            corrupt("BMP: palette past the end");
        for (std::size_t i = 0; i < count; ++i) {
            const uint8_t *q = bytes.data() + at + i * entryBytes;
            palette.push_back({q[2], q[1], q[0]});
        }
        if (palette.empty())
            corrupt("BMP: palette missing");
    }
    if (offBits >= bytes.size())
        corrupt("BMP: pixel data past the end");

    const int w = int(width), h = int(height);
    const std::size_t n = std::size_t(w) * std::size_t(h);
    const std::span<const uint8_t> data = bytes.subspan(offBits);

    if (rle) {
        // Pixels an RLE file skips (delta, early end of line or bitmap) stay transparent.
        std::vector<uint8_t> index(n, 0), set(n, 0);
        std::size_t i = 0;
        int x = 0, y = 0;
        auto put = [&](unsigned v) {
            if (x < w && y < h) {
                const std::size_t at = std::size_t(h - 1 - y) * std::size_t(w) + std::size_t(x);
                index[at] = uint8_t(v), set[at] = 1;
            }
            ++x;
        };
        while (i + 1 < data.size() && y < h) {
            const unsigned count = data[i], value = data[i + 1];
            i += 2;
            if (count) {
                for (unsigned k = 0; k < count; ++k)
                    put(compression == Rle8 ? value : (k & 1 ? value & 15 : value >> 4));
            } else if (value == 0) {
                x = 0, ++y;
            } else if (value == 1) {
                break;
            } else if (value == 2) {
                if (i + 1 >= data.size())
                    break;
                x += data[i], y += data[i + 1];
                i += 2;
            } else {
                const std::size_t bytesUsed = compression == Rle8 ? value : (value + 1) / 2;
                if (i + bytesUsed > data.size())
                    break; // a cut-off file keeps what it has
                for (unsigned k = 0; k < value; ++k)
                    put(compression == Rle8 ? data[i + k] : (k & 1 ? data[i + k / 2] & 15 : data[i + k / 2] >> 4));
                i += (bytesUsed + 1) & ~std::size_t(1);
            }
            if (x > w + 255 || y > h + 255)
                break;
        }
        const bool gaps = std::find(set.begin(), set.end(), 0) != set.end();
        if (!gaps) {
            Picture pic(w, h, PixelFormat::Indexed8);
            pic.palette() = palette;
            pic.palette().resize(256, doc::Rgb{}); // indices past the palette show black
            std::memcpy(pic.data().data(), index.data(), n);
            return pic;
        }
        Picture pic(w, h, PixelFormat::Rgba32);
        for (std::size_t p = 0; p < n; ++p) {
            const doc::Rgb c = index[p] < palette.size() ? palette[index[p]] : doc::Rgb{};
            uint8_t *o = pic.data().data() + 4 * p;
            o[0] = c.r, o[1] = c.g, o[2] = c.b, o[3] = set[p] ? 255 : 0;
        }
        return pic;
    }

    const std::size_t stride = (std::size_t(w) * bitCount + 31) / 32 * 4;
    if (stride * std::size_t(h) > data.size())
        corrupt("BMP: pixel data cut short");
    const bool alpha = bitCount >= 16 && masks[3] != 0;
    Picture pic(w, h, bitCount == 1 ? PixelFormat::Mono1 : bitCount <= 8 ? PixelFormat::Indexed8 : alpha ? PixelFormat::Rgba32 : PixelFormat::Rgb24);
    if (bitCount <= 8) {
        pic.palette() = palette;
        if (bitCount > 1 || palette.size() < 2)
            pic.palette().resize(bitCount == 1 ? 2 : 256, doc::Rgb{});
    }
    const Channel r(masks[0]), g(masks[1]), b(masks[2]), a(masks[3]);
    const int bpp = pic.bytesPerPixel();
    bool anyVisible = false;
    for (int y = 0; y < h; ++y) {
        const uint8_t *row = data.data() + stride * std::size_t(topDown ? y : h - 1 - y);
        uint8_t *o = pic.row(y);
        for (int x = 0; x < w; ++x, o += bpp) {
            if (bitCount <= 8) {
                const unsigned perByte = 8 / bitCount;
                *o = uint8_t((row[x / perByte] >> ((perByte - 1 - x % perByte) * bitCount)) & ((1u << bitCount) - 1));
                continue;
            }
            uint32_t v;
            if (bitCount == 24) {
                o[0] = row[3 * x + 2], o[1] = row[3 * x + 1], o[2] = row[3 * x];
                continue;
            }
            v = bitCount == 16 ? uint32_t(row[2 * x] | row[2 * x + 1] << 8)
                               : uint32_t(row[4 * x]) | uint32_t(row[4 * x + 1]) << 8 | uint32_t(row[4 * x + 2]) << 16
                                     | uint32_t(row[4 * x + 3]) << 24;
            o[0] = r(v), o[1] = g(v), o[2] = b(v);
            if (alpha) {
                o[3] = a(v);
                anyVisible |= o[3] != 0;
            }
        }
    }
    if (alpha && !anyVisible) // a fourth byte left 0 by the writer is filler, not transparency
        for (std::size_t i = 3; i < pic.data().size(); i += 4)
            pic.data()[i] = 255;
    return pic;
}

} // namespace doc::formats
