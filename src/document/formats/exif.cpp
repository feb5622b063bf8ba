// EXIF orientation, shared by the readers whose files carry it (JPEG, PSD).

#include "decoders.h"

namespace doc::formats {

int exifOrientation(std::span<const uint8_t> tiff)
{
    const uint8_t *t = tiff.data();
    const std::size_t n = tiff.size();
    if (n < 8)
        return 1;
    const bool le = t[0] == 'I' && t[1] == 'I';
    if (!le && !(t[0] == 'M' && t[1] == 'M'))
        return 1;
    auto u16 = [&](std::size_t o) -> unsigned { return le ? t[o] | t[o + 1] << 8 : t[o] << 8 | t[o + 1]; };
    auto u32 = [&](std::size_t o) -> uint32_t {
        return le ? uint32_t(u16(o)) | uint32_t(u16(o + 2)) << 16 : uint32_t(u16(o)) << 16 | u16(o + 2);
    };
    const uint32_t ifd = u32(4);
    if (ifd > n || n - ifd < 2)
        return 1;
    const unsigned count = u16(ifd);
    for (unsigned i = 0; i < count; ++i) {
        const std::size_t e = ifd + 2 + std::size_t(i) * 12;
        if (e + 12 > n)
            return 1;
        if (u16(e) == 0x0112) {
            const unsigned v = u16(e + 8);
            return v >= 1 && v <= 8 ? int(v) : 1;
        }
    }
    return 1;
}

Picture applyOrientation(const Picture &src, int orientation)
{
    if (orientation <= 1 || orientation > 8)
        return src;
    const int w = src.width(), h = src.height(), bpp = src.bytesPerPixel();
    const bool swap = orientation >= 5;
    Picture out(swap ? h : w, swap ? w : h, src.format());
    out.palette() = src.palette();
    out.setDesignatedTransparentColor(src.designatedTransparentColor());
    const int ow = out.width(), oh = out.height();
    for (int y = 0; y < h; ++y) {
        const uint8_t *in = src.row(y);
        for (int x = 0; x < w; ++x) {
            int dx = x, dy = y;
            switch (orientation) {
            case 2: dx = w - 1 - x; break;
            case 3: dx = w - 1 - x; dy = h - 1 - y; break;
            case 4: dy = h - 1 - y; break;
            case 5: dx = y; dy = x; break;
            case 6: dx = ow - 1 - y; dy = x; break;
            case 7: dx = ow - 1 - y; dy = oh - 1 - x; break;
            case 8: dx = y; dy = oh - 1 - x; break;
            }
            std::memcpy(out.row(dy) + std::size_t(dx) * bpp, in + std::size_t(x) * bpp, std::size_t(bpp));
        }
    }
    return out;
}

} // namespace doc::formats
