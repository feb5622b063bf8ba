// Windows icons. We read the directory ourselves: Vista-style icons embed PNG images, which go to
// libpng; classic DIB entries go to GraphicsMagick as a one-entry icon.

#include "decoders.h"

namespace doc::formats {

Picture decodeIco(std::span<const uint8_t> bytes)
{
    ByteReader in(bytes, "ICO");
    if (in.u16le() != 0)
        corrupt("ICO: not an icon file");
    const unsigned type = in.u16le();
    const unsigned count = in.u16le();
    if ((type != 1 && type != 2) || count == 0)
        corrupt("ICO: not an icon file");

    // The largest entry, deepest colour on ties, is the one a user expects to see.
    struct Entry {
        unsigned width, height, bits;
        uint32_t size, offset;
    };
    std::optional<Entry> best;
    for (unsigned i = 0; i < count; ++i) {
        Entry e{};
        e.width = in.u8();
        e.height = in.u8();
        in.skip(4); // colour count, reserved, planes / hotspot x
        e.bits = in.u16le();
        e.size = in.u32le();
        e.offset = in.u32le();
        e.width = e.width ? e.width : 256;
        e.height = e.height ? e.height : 256;
        if (e.offset > bytes.size() || e.size > bytes.size() - e.offset || e.size < 8)
            continue;
        const uint64_t area = uint64_t(e.width) * e.height, bestArea = best ? uint64_t(best->width) * best->height : 0;
        if (!best || area > bestArea || (area == bestArea && e.bits > best->bits))
            best = e;
    }
    if (!best)
        corrupt("ICO: no readable entry");

    const std::span<const uint8_t> image = bytes.subspan(best->offset, best->size);
    static const uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    // PNG entries end themselves; some writers put a wrong size in the directory, so let libpng
    // read on to the end of the file rather than cut the stream short.
    if (std::memcmp(image.data(), pngSignature, 8) == 0)
        return decodePng(bytes.subspan(best->offset));

    std::vector<uint8_t> single(6 + 16);
    std::memcpy(single.data(), bytes.data(), 4);
    single[4] = 1;
    // Rebuild the entry from what we parsed, pointing just past the directory.
    uint8_t *d = single.data() + 6;
    d[0] = uint8_t(best->width & 0xFF);
    d[1] = uint8_t(best->height & 0xFF);
    d[4] = 1;
    d[6] = uint8_t(best->bits);
    d[7] = uint8_t(best->bits >> 8);
    const uint32_t size = best->size, offset = 22;
    for (int k = 0; k < 4; ++k) {
        d[8 + k] = uint8_t(size >> (8 * k));
        d[12 + k] = uint8_t(offset >> (8 * k));
    }
    single.insert(single.end(), image.begin(), image.end());
    return decodeWithMagick(single, "ICO");
}

} // namespace doc::formats
