// Photoshop PSD/PDD (and large-document PSB): the merged composite that follows the layers. Layers
// themselves are not read; the composite is what Photoshop shows for the whole document.

#include "decoders.h"

#include <algorithm>
#include <cmath>

namespace doc::formats {
namespace {

enum Mode { Bitmap = 0, Grayscale = 1, IndexedMode = 2, RgbMode = 3, Cmyk = 4, Multichannel = 7, Duotone = 8, Lab = 9 };

/** PackBits into exactly `out.size()` bytes; a run that overshoots is clipped, a short row is zero-filled. */
void unpackBits(std::span<const uint8_t> in, std::span<uint8_t> out)
{
    std::size_t i = 0, o = 0;
    while (i < in.size() && o < out.size()) {
        const int n = int8_t(in[i++]);
        if (n >= 0) {
            const std::size_t count = std::min<std::size_t>({std::size_t(n) + 1, in.size() - i, out.size() - o});
            std::memcpy(out.data() + o, in.data() + i, count);
            i += std::size_t(n) + 1;
            o += count;
        } else if (n != -128) {
            if (i >= in.size())
                break;
            const std::size_t count = std::min<std::size_t>(std::size_t(1 - n), out.size() - o);
            std::memset(out.data() + o, in[i++], count);
            o += count;
        }
    }
    std::fill(out.begin() + std::ptrdiff_t(o), out.end(), 0);
}

/** One stored row of a channel as 16-bit samples (bitmap rows give 0 or 1, float rows stay linear). */
void toSixteenBits(const uint8_t *row, int depth, int width, uint16_t *out)
{
    switch (depth) {
    case 8:
        for (int x = 0; x < width; ++x)
            out[x] = uint16_t(row[x] * 257);
        break;
    case 16:
        for (int x = 0; x < width; ++x)
            out[x] = uint16_t(row[2 * x] << 8 | row[2 * x + 1]);
        break;
    case 32:
        for (int x = 0; x < width; ++x) {
            uint32_t bits = uint32_t(row[4 * x]) << 24 | uint32_t(row[4 * x + 1]) << 16 | uint32_t(row[4 * x + 2]) << 8
                            | row[4 * x + 3];
            float f;
            std::memcpy(&f, &bits, 4);
            f = std::isfinite(f) ? std::clamp(f, 0.0f, 1.0f) : 0.0f;
            out[x] = uint16_t(std::lround(f * 65535));
        }
        break;
    case 1:
        for (int x = 0; x < width; ++x)
            out[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
        break;
    }
}

/** 16-bit sample to 8 bits, rounded; 32-bit documents are linear light and get the sRGB curve. */
uint8_t toByte(uint16_t v, bool linear)
{
    if (!linear)
        return uint8_t((unsigned(v) * 255 + 32767) / 65535);
    const float f = v / 65535.0f;
    const float s = f <= 0.0031308f ? 12.92f * f : 1.055f * std::pow(f, 1 / 2.4f) - 0.055f;
    return uint8_t(std::lround(std::clamp(s, 0.0f, 1.0f) * 255));
}

uint8_t clampByte(double v)
{
    return uint8_t(std::clamp(std::lround(v), 0L, 255L));
}

Rgb labToRgb(uint8_t l8, uint8_t a8, uint8_t b8)
{
    const double L = l8 * 100.0 / 255, A = a8 - 128.0, B = b8 - 128.0;
    const double fy = (L + 16) / 116, fx = fy + A / 500, fz = fy - B / 200;
    auto inv = [](double t) { return t > 6.0 / 29 ? t * t * t : 3 * (6.0 / 29) * (6.0 / 29) * (t - 4.0 / 29); };
    // D50 white, Bradford-adapted to sRGB's D65 primaries.
    const double X = 0.9642 * inv(fx), Y = inv(fy), Z = 0.8251 * inv(fz);
    double r = 3.1338561 * X - 1.6168667 * Y - 0.4906146 * Z;
    double g = -0.9787684 * X + 1.9161415 * Y + 0.0334540 * Z;
    double b = 0.0719453 * X - 0.2289914 * Y + 1.4052427 * Z;
    auto gamma = [](double c) { return c <= 0.0031308 ? 12.92 * c : 1.055 * std::pow(std::max(c, 0.0), 1 / 2.4) - 0.055; };
    return {clampByte(gamma(r) * 255), clampByte(gamma(g) * 255), clampByte(gamma(b) * 255)};
}

} // namespace

Picture decodePsd(std::span<const uint8_t> bytes)
{
    ByteReader in(bytes, "PSD");
    if (bytes.size() < 26 || std::memcmp(bytes.data(), "8BPS", 4) != 0)
        corrupt("PSD: not a Photoshop file");
    in.skip(4);
    const unsigned version = in.u16be();
    if (version != 1 && version != 2)
        corrupt("PSD: unknown version " + std::to_string(version));
    const bool big = version == 2;
    in.skip(6);
    const unsigned channels = in.u16be();
    const uint32_t height = in.u32be(), width = in.u32be();
    const unsigned depth = in.u16be();
    const unsigned mode = in.u16be();
    if (channels < 1 || channels > 99)
        corrupt("PSD: invalid channel count");
    if (depth != 1 && depth != 8 && depth != 16 && depth != 32)
        corrupt("PSD: invalid bit depth");
    if ((mode == Bitmap) != (depth == 1))
        corrupt("PSD: bit depth does not fit the colour mode");
    checkPictureSize(width, height, "PSD");

    const uint32_t colorDataLength = in.u32be();
    const std::span<const uint8_t> colorData = in.span(colorDataLength);
    const uint32_t resourcesLength = in.u32be();
    const std::span<const uint8_t> resources = in.span(resourcesLength);
    std::optional<unsigned> transparentIndex;
    int orientation = 1;
    {
        ByteReader res(resources, "PSD");
        while (res.remaining() >= 12) {
            if (std::memcmp(res.take(4), "8BIM", 4) != 0)
                break;
            const unsigned id = res.u16be();
            const unsigned nameLength = res.u8();
            if (((nameLength + 2) & ~1u) - 1 > res.remaining())
                break;
            res.skip(std::size_t((nameLength + 2) & ~1u) - 1);
            if (res.remaining() < 4)
                break;
            const uint32_t length = res.u32be();
            if (length > res.remaining())
                break;
            const std::span<const uint8_t> data = res.span(length);
            if (length & 1 && res.remaining())
                res.skip(1);
            if (id == 0x0417 && length >= 2)
                transparentIndex = unsigned(data[0]) << 8 | data[1];
            else if (id == 0x0422)
                orientation = exifOrientation(data);
        }
    }
    const uint64_t layersLength = big ? (uint64_t(in.u32be()) << 32 | in.u32be()) : in.u32be();
    if (layersLength > in.remaining())
        in.truncated();
    // A negative layer count says the first extra channel holds the merged picture's transparency.
    bool firstExtraIsAlpha = false;
    if (layersLength >= (big ? 12u : 8u)) {
        ByteReader layers(bytes.subspan(in.pos(), std::size_t(layersLength)), "PSD");
        const uint64_t infoLength = big ? (uint64_t(layers.u32be()) << 32 | layers.u32be()) : layers.u32be();
        if (infoLength >= 2)
            firstExtraIsAlpha = layers.i16be() < 0;
    }
    in.skip(std::size_t(layersLength));

    const unsigned compression = in.u16be();
    if (compression > 1)
        fail(ImportErrorKind::Unsupported, "PSD: ZIP-compressed composite not supported");

    const std::size_t rowBytes = (std::size_t(width) * depth + 7) / 8;
    // Multichannel documents hold ink plates; the first three or four are shown as CMY or CMYK.
    const unsigned colourChannels = mode == RgbMode || mode == Lab ? 3
                                    : mode == Cmyk                 ? 4
                                    : mode == Multichannel         ? (channels >= 4 ? 4 : channels >= 3 ? 3 : 1)
                                                                   : 1;
    if (mode != Bitmap && mode != Grayscale && mode != IndexedMode && mode != RgbMode && mode != Cmyk
        && mode != Duotone && mode != Lab && mode != Multichannel)
        fail(ImportErrorKind::Unsupported, "PSD: colour mode " + std::to_string(mode) + " not supported");
    if (channels < colourChannels)
        corrupt("PSD: too few channels for the colour mode");
    // Photoshop writes the merged transparency as the first channel past the colour ones when the
    // document has it; a flat document with a saved selection says otherwise in its layer count.
    const bool alpha = channels > colourChannels
                       && (mode == RgbMode || mode == Cmyk || mode == Grayscale || mode == Lab)
                       && (firstExtraIsAlpha || layersLength > 0);
    const unsigned used = colourChannels + (alpha ? 1 : 0);

    // Row sizes of RLE data, for every row of every channel (stored ones included).
    std::vector<uint32_t> counts;
    if (compression == 1) {
        const std::size_t entries = std::size_t(channels) * height;
        if (entries * (big ? 4 : 2) > in.remaining())
            in.truncated();
        counts.resize(entries);
        for (std::size_t i = 0; i < entries; ++i)
            counts[i] = big ? in.u32be() : in.u16be();
    } else if (uint64_t(rowBytes) * height * channels > in.remaining()) {
        // Photoshop never writes short raw data; reading zeros would pass damage off as a picture.
        in.truncated();
    }

    std::vector<std::vector<uint16_t>> planes(used, std::vector<uint16_t>(std::size_t(width) * height));
    std::vector<uint8_t> raw(rowBytes);
    for (unsigned c = 0; c < used; ++c)
        for (uint32_t y = 0; y < height; ++y) {
            const uint8_t *row;
            if (compression == 1) {
                unpackBits(in.span(counts[std::size_t(c) * height + y]), raw);
                row = raw.data();
            } else {
                row = in.take(rowBytes);
            }
            toSixteenBits(row, int(depth), int(width), planes[c].data() + std::size_t(y) * width);
        }

    const int w = int(width), h = int(height);
    const std::size_t n = std::size_t(width) * height;
    const bool linear = depth == 32;
    auto sample = [&](unsigned c, std::size_t i) { return toByte(planes[c][i], linear && c < colourChannels); };
    if (alpha && mode != Lab) {
        // Photoshop stores the composite of a transparent document blended over white; take the
        // white back out so partly transparent pixels keep their own colour.
        const std::vector<uint16_t> &a = planes[colourChannels];
        for (unsigned c = 0; c < colourChannels; ++c)
            for (std::size_t i = 0; i < n; ++i) {
                const int64_t av = a[i];
                if (av == 0 || av == 65535)
                    continue;
                const int64_t v = (int64_t(planes[c][i]) - (65535 - av)) * 65535 / av;
                planes[c][i] = uint16_t(std::clamp<int64_t>(v, 0, 65535));
            }
    }
    Picture pic;
    switch (mode) {
    case Bitmap: {
        pic = Picture(w, h, PixelFormat::Mono1);
        pic.palette() = {{255, 255, 255}, {0, 0, 0}}; // a set bit is black ink
        for (std::size_t i = 0; i < n; ++i)
            pic.data()[i] = uint8_t(planes[0][i]);
        break;
    }
    case IndexedMode: {
        if (colorData.size() < 768)
            corrupt("PSD: indexed document without its colour table");
        pic = Picture(w, h, PixelFormat::Indexed8);
        for (int i = 0; i < 256; ++i)
            pic.palette().push_back({colorData[std::size_t(i)], colorData[std::size_t(256 + i)], colorData[std::size_t(512 + i)]});
        for (std::size_t i = 0; i < n; ++i)
            pic.data()[i] = uint8_t(planes[0][i] / 257);
        // Resource 0x0417 names the transparent palette entry.
        if (transparentIndex && *transparentIndex < 256)
            pic.setDesignatedTransparentColor(pic.palette()[*transparentIndex]);
        break;
    }
    case Multichannel:
        if (colourChannels == 1) {
            pic = Picture(w, h, PixelFormat::Indexed8);
            pic.palette() = greyPalette(256);
            for (std::size_t i = 0; i < n; ++i)
                pic.data()[i] = sample(0, i);
            break;
        }
        [[fallthrough]];
    case RgbMode:
    case Cmyk:
    case Lab: {
        const bool inks = mode == Cmyk || mode == Multichannel;
        const bool black = inks && colourChannels == 4;
        pic = Picture(w, h, alpha ? PixelFormat::Rgba32 : PixelFormat::Rgb24);
        const int bpp = pic.bytesPerPixel();
        uint8_t *o = pic.data().data();
        for (std::size_t i = 0; i < n; ++i, o += bpp) {
            if (mode == RgbMode || (inks && !black)) {
                o[0] = sample(0, i);
                o[1] = sample(1, i);
                o[2] = sample(2, i);
            } else if (inks) {
                // Stored inverted: 255 is no ink.
                const unsigned k = sample(3, i);
                o[0] = uint8_t((sample(0, i) * k + 127) / 255);
                o[1] = uint8_t((sample(1, i) * k + 127) / 255);
                o[2] = uint8_t((sample(2, i) * k + 127) / 255);
            } else {
                const Rgb c = labToRgb(sample(0, i), sample(1, i), sample(2, i));
                o[0] = c.r;
                o[1] = c.g;
                o[2] = c.b;
            }
            if (alpha)
                o[3] = sample(colourChannels, i);
        }
        break;
    }
    case Grayscale:
    case Duotone:
        if (!alpha) {
            pic = Picture(w, h, PixelFormat::Indexed8);
            pic.palette() = greyPalette(256);
            for (std::size_t i = 0; i < n; ++i)
                pic.data()[i] = sample(0, i);
            break;
        }
        pic = Picture(w, h, PixelFormat::Rgba32);
        for (std::size_t i = 0; i < n; ++i) {
            uint8_t *o = pic.data().data() + 4 * i;
            o[0] = o[1] = o[2] = sample(0, i);
            o[3] = sample(1, i);
        }
        break;
    }
    return applyOrientation(pic, orientation);
}

} // namespace doc::formats
