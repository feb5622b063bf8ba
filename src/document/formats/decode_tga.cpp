// Truevision TGA. Our own reader: GraphicsMagick 1.3.40 refuses grey+alpha and colour maps that
// do not start at entry 0, drops 32-bit alpha and ignores the right-to-left origin. Huffman-coded
// types (32, 33) are left to it.

#include "decoders.h"

namespace doc::formats {
namespace {

struct Header {
    unsigned idLength, mapType, type, mapFirst, mapLength, mapEntryBits, width, height, depth, descriptor;
};

/** 5-bit value widened so that 31 becomes 255. */
uint8_t five(unsigned v)
{
    return uint8_t(v << 3 | v >> 2);
}

} // namespace

Picture decodeTga(std::span<const uint8_t> bytes)
{
    ByteReader in(bytes, "TGA");
    Header h{};
    h.idLength = in.u8();
    h.mapType = in.u8();
    h.type = in.u8();
    h.mapFirst = in.u16le();
    h.mapLength = in.u16le();
    h.mapEntryBits = in.u8();
    in.skip(4); // origin on the screen
    h.width = in.u16le();
    h.height = in.u16le();
    h.depth = in.u8();
    h.descriptor = in.u8();

    const unsigned base = h.type & 7; // 1 colour-mapped, 2 true colour, 3 grey
    const bool rle = h.type & 8;
    if (h.type == 32 || h.type == 33)
        return decodeWithMagick(bytes, "TGA");
    if (base < 1 || base > 3 || (h.type & ~0xBu) != 0 || h.mapType > 1)
        corrupt("TGA: unknown image type " + std::to_string(h.type));
    if ((base == 1 && (h.mapType != 1 || (h.depth != 8 && h.depth != 16)))
        || (base == 2 && h.depth != 15 && h.depth != 16 && h.depth != 24 && h.depth != 32)
        || (base == 3 && h.depth != 8 && h.depth != 16))
        corrupt("TGA: pixel depth does not fit the image type");
    checkPictureSize(h.width, h.height, "TGA");
    in.skip(h.idLength);

    // The colour map, as RGBA.
    std::vector<std::array<uint8_t, 4>> map;
    if (h.mapType == 1) {
        const unsigned entryBytes = (h.mapEntryBits + 7) / 8;
        if (entryBytes < 2 || entryBytes > 4)
            corrupt("TGA: unsupported colour map entry size");
        map.resize(h.mapLength);
        for (auto &e : map) {
            const uint8_t *p = in.take(entryBytes);
            if (entryBytes == 2) {
                const unsigned v = p[0] | p[1] << 8;
                e = {five(v >> 10 & 31), five(v >> 5 & 31), five(v & 31), 255};
            } else {
                e = {p[2], p[1], p[0], uint8_t(entryBytes == 4 ? p[3] : 255)};
            }
        }
    }

    // Alpha: the descriptor's attribute bits, unless the TGA 2.0 extension area says they are not alpha.
    unsigned alphaBits = h.descriptor & 15;
    if (bytes.size() >= 26 + 18 && std::memcmp(bytes.data() + bytes.size() - 18, "TRUEVISION-XFILE", 16) == 0) {
        const std::size_t f = bytes.size() - 26;
        const uint32_t ext = uint32_t(bytes[f]) | uint32_t(bytes[f + 1]) << 8 | uint32_t(bytes[f + 2]) << 16
                             | uint32_t(bytes[f + 3]) << 24;
        if (ext && ext < f && f - ext > 494 && bytes[ext] == 0xEF && bytes[ext + 1] == 0x01 && bytes[ext + 494] < 3)
            alphaBits = 0;
    }
    // 32-bit map entries carry alpha whatever the descriptor says.
    const bool mapAlpha = h.mapType == 1 && h.mapEntryBits == 32;
    const bool alpha = (alphaBits && (h.depth == 32 || h.depth == 16)) || mapAlpha;

    const int w = int(h.width), ht = int(h.height);
    const unsigned pixelBytes = (h.depth + 7) / 8;
    const std::size_t n = std::size_t(w) * std::size_t(ht);
    // A header of a few bytes may announce 64 million pixels: refuse what the data left cannot
    // fill before allocating for it. An RLE packet takes at least 1 + pixelBytes bytes for at
    // most 128 pixels.
    if (rle ? n > in.remaining() / (1 + pixelBytes) * 128 : n > in.remaining() / pixelBytes)
        in.truncated();
    // Raw pixel values, read in file order (RLE packets may run across rows).
    std::vector<uint32_t> values(n);
    auto readValue = [&]() -> uint32_t {
        const uint8_t *p = in.take(pixelBytes);
        uint32_t v = 0;
        for (unsigned k = 0; k < pixelBytes; ++k)
            v |= uint32_t(p[k]) << (8 * k);
        return v;
    };
    if (!rle) {
        for (std::size_t i = 0; i < n; ++i)
            values[i] = readValue();
    } else {
        std::size_t i = 0;
        while (i < n) {
            const unsigned packet = in.u8();
            const std::size_t count = std::min<std::size_t>((packet & 0x7F) + 1, n - i);
            if (packet & 0x80) {
                const uint32_t v = readValue();
                std::fill_n(values.begin() + std::ptrdiff_t(i), count, v);
            } else {
                for (std::size_t k = 0; k < count; ++k)
                    values[i + k] = readValue();
            }
            i += count;
        }
    }

    const bool indexed = base == 1 && !alpha && map.size() <= 256 && h.depth == 8;
    const bool grey = base == 3 && !alpha;
    Picture pic(w, ht, indexed || grey ? PixelFormat::Indexed8 : alpha ? PixelFormat::Rgba32 : PixelFormat::Rgb24);
    if (grey)
        pic.palette() = greyPalette(256);
    if (indexed) {
        // Entry e of the file's map is index e + first; indices below the first entry show black.
        pic.palette().assign(256, Rgb{});
        for (std::size_t e = 0; e < map.size() && h.mapFirst + e < 256; ++e)
            pic.palette()[h.mapFirst + e] = {map[e][0], map[e][1], map[e][2]};
    }
    const bool rightToLeft = h.descriptor & 0x10, topDown = h.descriptor & 0x20;
    const int bpp = pic.bytesPerPixel();
    bool anyVisible = false;
    for (int y = 0; y < ht; ++y) {
        uint8_t *row = pic.row(topDown ? y : ht - 1 - y);
        for (int x = 0; x < w; ++x) {
            const uint32_t v = values[std::size_t(y) * std::size_t(w) + std::size_t(x)];
            uint8_t *o = row + std::size_t(rightToLeft ? w - 1 - x : x) * bpp;
            if (indexed) {
                o[0] = uint8_t(v);
                continue;
            }
            std::array<uint8_t, 4> c{0, 0, 0, 255};
            if (base == 1) {
                const uint32_t e = v - h.mapFirst;
                if (v >= h.mapFirst && e < map.size())
                    c = map[e];
            } else if (base == 3) {
                c = {uint8_t(v), uint8_t(v), uint8_t(v), uint8_t(h.depth == 16 ? v >> 8 : 255)};
            } else if (h.depth <= 16) {
                c = {five(v >> 10 & 31), five(v >> 5 & 31), five(v & 31), uint8_t(v & 0x8000 ? 255 : 0)};
            } else {
                // Fewer than 8 attribute bits in a 32-bit pixel: the low bits of the fourth byte.
                const unsigned a = v >> 24;
                c = {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v),
                     uint8_t(h.depth != 32 ? 255 : alphaBits >= 8 ? a : (a & ((1u << alphaBits) - 1)) << (8 - alphaBits))};
            }
            o[0] = c[0];
            if (grey)
                continue;
            o[1] = c[1];
            o[2] = c[2];
            if (alpha) {
                o[3] = c[3];
                anyVisible |= c[3] != 0;
            }
        }
    }
    if (alpha && !anyVisible) // an alpha channel that hides everything is filler
        for (std::size_t i = 3; i < pic.data().size(); i += 4)
            pic.data()[i] = 255;
    return pic;
}

} // namespace doc::formats
