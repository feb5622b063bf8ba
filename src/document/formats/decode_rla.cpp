// Wavefront RLA/RPF. Eight-bit files go to GraphicsMagick; its reader stops at deeper channels, so
// 10- and 16-bit (and float) files are read here, and 8-bit ones too when GraphicsMagick refuses them.

#include "decoders.h"

#include <algorithm>
#include <cmath>

namespace doc::formats {
namespace {

enum ChannelType { Byte = 0, Word = 1, Dword = 2, Float = 4 };

struct Group {
    int channels = 0;
    int bits = 8;
    int type = Byte;
    int bytes() const { return type == Float ? 4 : type == Byte && bits <= 8 ? 1 : (bits + 7) / 8; }
};

/** One channel of one scanline: RLE spans, one per byte of the sample, most significant first. */
void decodeChannel(ByteReader &in, const Group &g, int width, std::vector<uint32_t> &out)
{
    const unsigned length = in.u16be();
    const std::span<const uint8_t> data = in.span(length);
    out.assign(std::size_t(width), 0);
    if (g.type == Float) {
        if (length < std::size_t(width) * 4)
            corrupt("RLA: short float scanline");
        for (int x = 0; x < width; ++x) {
            const uint8_t *p = data.data() + 4 * x;
            // Float samples are stored raw, in the writer's (little-endian) byte order.
            uint32_t bits = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
            float f;
            std::memcpy(&f, &bits, 4);
            f = std::isfinite(f) ? std::clamp(f, 0.0f, 1.0f) : 0.0f;
            out[std::size_t(x)] = uint32_t(std::lround(f * 65535));
        }
        return;
    }
    std::size_t e = 0;
    for (int b = 0; b < g.bytes(); ++b) {
        int x = 0;
        while (x < width) {
            if (e >= data.size())
                corrupt("RLA: malformed run-length data");
            const int count = int8_t(data[e++]);
            if (count >= 0) {
                if (e >= data.size())
                    corrupt("RLA: malformed run-length data");
                const uint8_t v = data[e++];
                for (int i = 0; i <= count && x < width; ++i, ++x)
                    out[std::size_t(x)] = out[std::size_t(x)] << 8 | v;
            } else {
                for (int i = 0; i < -count && x < width; ++i, ++x) {
                    if (e >= data.size())
                        corrupt("RLA: malformed run-length data");
                    out[std::size_t(x)] = out[std::size_t(x)] << 8 | data[e++];
                }
            }
        }
    }
}

uint8_t toByte(uint32_t v, const Group &g)
{
    const int bits = g.type == Float ? 16 : std::clamp(g.bits, 1, 32);
    const uint64_t max = (uint64_t(1) << bits) - 1;
    return uint8_t((std::min<uint64_t>(v, max) * 255 + max / 2) / max);
}

Picture readRla(std::span<const uint8_t> bytes)
{
    ByteReader in(bytes, "RLA");
    if (bytes.size() < 740)
        corrupt("RLA: truncated header");
    in.seek(8);
    const int activeLeft = in.i16be(), activeRight = in.i16be(), activeBottom = in.i16be(), activeTop = in.i16be();
    in.skip(2); // frame number
    Group colour, matte, aux;
    colour.type = in.i16be();
    colour.channels = in.i16be();
    matte.channels = in.i16be();
    aux.channels = in.i16be();
    in.seek(614);
    const int fieldRendered = in.i16be();
    in.seek(658);
    colour.bits = in.i16be();
    matte.type = in.i16be();
    matte.bits = in.i16be();
    aux.type = in.i16be();
    aux.bits = in.i16be();

    const int64_t width = int64_t(activeRight) - activeLeft + 1;
    const int64_t height = int64_t(activeTop) - activeBottom + 1;
    checkPictureSize(width, height, "RLA");
    if (fieldRendered)
        fail(ImportErrorKind::Unsupported, "RLA: field-rendered files are not supported");
    for (const Group *g : {&colour, &matte, &aux}) {
        if (g->channels < 0 || g->channels > 16 || (g->channels && (g->bits < 1 || g->bits > 32))
            || (g->type != Byte && g->type != Word && g->type != Dword && g->type != Float))
            corrupt("RLA: invalid channel description");
    }
    if (colour.channels != 0 && colour.channels != 1 && colour.channels != 3)
        fail(ImportErrorKind::Unsupported, "RLA: " + std::to_string(colour.channels) + " colour channels");
    if (colour.channels == 0 && matte.channels == 0)
        corrupt("RLA: no colour or matte channel");

    const int w = int(width), h = int(height);
    if (uint64_t(h) * 4 > in.size() - 740)
        in.truncated();
    std::vector<uint32_t> offsets(static_cast<std::size_t>(h));
    in.seek(740);
    for (int y = 0; y < h; ++y)
        offsets[std::size_t(y)] = in.u32be();

    const bool alpha = matte.channels > 0 && colour.channels > 0;
    Picture pic(w, h, alpha ? PixelFormat::Rgba32 : colour.channels == 3 ? PixelFormat::Rgb24 : PixelFormat::Indexed8);
    if (pic.format() == PixelFormat::Indexed8)
        pic.palette() = greyPalette(256);
    const int bpp = pic.bytesPerPixel();
    std::vector<uint32_t> samples;
    for (int line = 0; line < h; ++line) {
        in.seek(offsets[std::size_t(line)]);
        uint8_t *row = pic.row(h - 1 - line); // scanlines are stored bottom to top
        const int colourOut = colour.channels == 1 && alpha ? 3 : colour.channels;
        for (int c = 0; c < colour.channels; ++c) {
            decodeChannel(in, colour, w, samples);
            for (int x = 0; x < w; ++x)
                for (int k = c; k < (colour.channels == 1 ? colourOut : c + 1); ++k)
                    row[x * bpp + k] = toByte(samples[std::size_t(x)], colour);
        }
        if (matte.channels > 0) {
            decodeChannel(in, matte, w, samples);
            // A matte-only file shows its matte as a grey picture.
            const int target = alpha ? 3 : 0;
            for (int x = 0; x < w; ++x)
                row[x * bpp + target] = toByte(samples[std::size_t(x)], matte);
        }
    }
    return pic;
}

bool allEightBit(std::span<const uint8_t> b)
{
    if (b.size() < 740)
        return false;
    auto i16 = [&](std::size_t o) { return int16_t(b[o] << 8 | b[o + 1]); };
    const bool colour = i16(20) == 0 || (i16(18) == Byte && i16(658) == 8);
    const bool matte = i16(22) == 0 || (i16(660) == Byte && i16(662) == 8);
    return colour && matte;
}

} // namespace

Picture decodeRla(std::span<const uint8_t> bytes)
{
    if (allEightBit(bytes)) {
        try {
            return decodeWithMagick(bytes, "RLA");
        } catch (const ImportError &e) {
            if (e.kind() == ImportErrorKind::TooLarge)
                throw;
        }
    }
    return readRla(bytes);
}

} // namespace doc::formats
