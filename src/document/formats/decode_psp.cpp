// Paint Shop Pro images (file format 3 of PSP 5 and 4+ of later versions). The composite is built
// from the raster layers, bottom to top, with their opacity and transparency masks (normal blend
// only). Palette images give the bottom layer's indices with the file's palette.

#include "decoders.h"

#include <algorithm>

#include <zlib.h>

namespace doc::formats {
namespace {

enum BlockId : uint16_t { ImageBlock = 0, ColorBlock = 2, LayerStartBlock = 3, LayerBlock = 4, ChannelBlock = 5 };
enum Compression : uint16_t { None = 0, Rle = 1, Lz77 = 2 };

struct Block {
    uint16_t id;
    std::size_t start; // first byte of the block's data
    std::size_t end;
    std::size_t infoEnd; // end of the block's own fields, where its sub-blocks begin
};

struct Reader {
    std::span<const uint8_t> bytes;
    bool v3; // PSP 5 files: a 14-byte block header with the info length in it

    /** The block at `at`, its extent checked against `limit`. */
    Block block(std::size_t at, std::size_t limit) const
    {
        ByteReader in(bytes.first(limit), "PSP");
        in.seek(at);
        if (std::memcmp(in.take(4), "~BK\0", 4) != 0)
            corrupt("PSP: bad block marker");
        Block b{};
        b.id = in.u16le();
        uint32_t info = 0;
        if (v3)
            info = in.u32le();
        const uint32_t total = in.u32le();
        b.start = in.pos();
        if (total > limit - b.start)
            corrupt("PSP: block runs past its container");
        b.end = b.start + total;
        if (!v3) {
            // Later versions open the block's data with the size of its first chunk.
            ByteReader chunk(bytes.first(b.end), "PSP");
            chunk.seek(b.start);
            info = chunk.u32le();
        }
        if (info > total)
            corrupt("PSP: bad chunk size");
        b.infoEnd = b.start + info;
        return b;
    }
};

/** Most bytes one packed byte can give: an RLE pair gives 127, deflate at best about 1032. */
std::size_t maxExpansion(unsigned compression)
{
    return compression == Rle ? 64 : compression == Lz77 ? 1032 : 1;
}

std::vector<uint8_t> unpack(std::span<const uint8_t> data, unsigned compression, std::size_t expected)
{
    if (compression > Lz77)
        fail(ImportErrorKind::Unsupported, "PSP: JPEG-compressed images are not supported");
    // A channel of a few bytes may claim a plane of 64 million: refuse it before allocating.
    if (expected / maxExpansion(compression) > data.size())
        corrupt("PSP: channel data too short");
    std::vector<uint8_t> out(expected);
    if (compression == None) {
        std::memcpy(out.data(), data.data(), expected);
    } else if (compression == Rle) {
        std::size_t i = 0, o = 0;
        while (i < data.size() && o < expected) {
            const unsigned n = data[i++];
            if (n > 128) {
                if (i >= data.size())
                    break;
                const std::size_t count = std::min<std::size_t>(n - 128, expected - o);
                std::memset(out.data() + o, data[i++], count);
                o += count;
            } else {
                const std::size_t count = std::min<std::size_t>({n, expected - o, data.size() - i});
                std::memcpy(out.data() + o, data.data() + i, count);
                i += n;
                o += count;
            }
        }
        if (o < expected)
            corrupt("PSP: channel data too short");
    } else if (compression == Lz77) {
        uLongf length = uLongf(expected);
        const int rc = uncompress(out.data(), &length, data.data(), uLong(data.size()));
        // A stream with more data than the channel needs is cut; one with less is damage.
        if ((rc != Z_OK && rc != Z_BUF_ERROR) || length != expected)
            corrupt("PSP: bad LZ77 data");
    }
    return out;
}

struct Rect {
    int32_t left, top, right, bottom;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

Rect readRect(ByteReader &in)
{
    Rect r{};
    r.left = in.i32le();
    r.top = in.i32le();
    r.right = in.i32le();
    r.bottom = in.i32le();
    return r;
}

} // namespace

Picture decodePsp(std::span<const uint8_t> bytes)
{
    if (bytes.size() < 36 || std::memcmp(bytes.data(), "Paint Shop Pro Image File\n\x1a", 27) != 0)
        corrupt("PSP: not a Paint Shop Pro image");
    const unsigned major = unsigned(bytes[32]) | unsigned(bytes[33]) << 8;
    if (major < 3 || major > 20)
        fail(ImportErrorKind::Unsupported, "PSP: file format version " + std::to_string(major) + " not supported");
    const Reader r{bytes, major == 3};

    int32_t width = 0, height = 0;
    unsigned compression = 0, depth = 0;
    bool attributes = false;
    std::vector<Rgb> palette;
    Picture canvas;       // Rgba32 composite
    Picture indexed;      // the bottom layer of a palette image
    int layers = 0;

    std::size_t at = 36;
    while (at + 10 <= bytes.size()) {
        const Block b = r.block(at, bytes.size());
        at = b.end;
        ByteReader in(bytes.first(b.end), "PSP");
        in.seek(b.start + (r.v3 ? 0 : 4));
        if (b.id == ImageBlock) {
            if (attributes)
                corrupt("PSP: image attributes given twice");
            width = in.i32le();
            height = in.i32le();
            in.skip(8 + 1); // resolution, its unit
            compression = in.u16le();
            depth = in.u16le();
            checkPictureSize(width, height, "PSP");
            if (depth != 8 && depth != 24)
                fail(ImportErrorKind::Unsupported, "PSP: " + std::to_string(depth) + "-bit images are not supported");
            attributes = true;
        } else if (b.id == ColorBlock) {
            const uint32_t count = in.u32le();
            if (count > 256)
                corrupt("PSP: palette too large");
            in.seek(b.infoEnd > in.pos() ? b.infoEnd : in.pos());
            for (uint32_t i = 0; i < count; ++i) {
                const uint8_t *q = in.take(4); // blue, green, red, reserved
                palette.push_back({q[2], q[1], q[0]});
            }
        } else if (b.id == LayerStartBlock) {
            if (!attributes)
                corrupt("PSP: layers before the image attributes");
            std::size_t la = b.start;
            while (la + 10 <= b.end) {
                const Block layer = r.block(la, b.end);
                la = layer.end;
                if (layer.id != LayerBlock)
                    continue;
                ByteReader info(bytes.first(layer.infoEnd), "PSP");
                info.seek(layer.start);
                if (r.v3) {
                    info.skip(256); // name
                } else {
                    info.skip(4);
                    info.skip(info.u16le());
                }
                const unsigned type = info.u8();
                readRect(info); // the layer's place; the stored rectangle below is what counts
                const Rect saved = readRect(info);
                const unsigned opacity = info.u8();
                info.skip(1); // blend mode: only normal is drawn
                const bool visible = info.u8() != 0;
                if (type > 1 || !visible || saved.width() <= 0 || saved.height() <= 0)
                    continue;
                if (int64_t(saved.width()) * saved.height() > kMaxPicturePixels)
                    fail(ImportErrorKind::TooLarge, "PSP: layer too large");

                std::size_t channelsAt = layer.infoEnd;
                if (!r.v3) { // skip the layer bitmap chunk
                    ByteReader bm(bytes.first(layer.end), "PSP");
                    bm.seek(channelsAt);
                    channelsAt += bm.u32le();
                }
                const std::size_t planeSize = std::size_t(saved.width()) * std::size_t(saved.height());
                std::vector<uint8_t> planes[4]; // composite/index, red, green, blue
                std::vector<uint8_t> mask;
                std::size_t ca = channelsAt;
                while (ca + 10 <= layer.end) {
                    const Block ch = r.block(ca, layer.end);
                    ca = ch.end;
                    if (ch.id != ChannelBlock)
                        continue;
                    ByteReader ci(bytes.first(ch.end), "PSP");
                    ci.seek(ch.start + (r.v3 ? 0 : 4));
                    const uint32_t packed = ci.u32le();
                    ci.skip(4); // unpacked size: PSP 5 reports the whole DIB size here
                    const unsigned bitmapType = ci.u16le();
                    const unsigned channelType = ci.u16le();
                    const std::size_t dataAt = ch.infoEnd;
                    if (packed > ch.end - dataAt)
                        corrupt("PSP: channel data runs past its block");
                    std::vector<uint8_t> plane = unpack(bytes.subspan(dataAt, packed), compression, planeSize);
                    if (bitmapType == 0 && channelType < 4)
                        planes[channelType] = std::move(plane);
                    else if (bitmapType == 1)
                        mask = std::move(plane);
                }

                const bool paletted = depth == 8 && !palette.empty();
                if (paletted) {
                    if (planes[0].empty())
                        corrupt("PSP: layer without its index channel");
                    if (layers == 0) {
                        indexed = Picture(width, height, PixelFormat::Indexed8);
                        indexed.palette() = palette;
                    }
                } else if (depth == 24 && (planes[1].empty() || planes[2].empty() || planes[3].empty())) {
                    corrupt("PSP: layer without its colour channels");
                } else if (depth == 8 && planes[0].empty()) {
                    corrupt("PSP: layer without its grey channel");
                }
                // The canvas waits for the first layer whose data were read, so that attributes
                // alone announcing a huge picture cost nothing.
                if (canvas.isNull())
                    canvas = Picture(width, height, PixelFormat::Rgba32);
                for (int y = std::max(0, saved.top); y < std::min(height, saved.bottom); ++y)
                    for (int x = std::max(0, saved.left); x < std::min(width, saved.right); ++x) {
                        const std::size_t i = std::size_t(y - saved.top) * std::size_t(saved.width()) + std::size_t(x - saved.left);
                        Rgb c;
                        if (paletted) {
                            const uint8_t index = planes[0][i];
                            if (layers == 0)
                                indexed.row(y)[x] = index;
                            c = index < palette.size() ? palette[index] : Rgb{};
                        } else if (depth == 8) {
                            c = {planes[0][i], planes[0][i], planes[0][i]};
                        } else {
                            c = {planes[1][i], planes[2][i], planes[3][i]};
                        }
                        const unsigned a = (mask.empty() ? 255u : mask[i]) * opacity / 255;
                        uint8_t *o = canvas.row(y) + 4 * x;
                        const unsigned under = o[3], out = a + under * (255 - a) / 255;
                        if (out == 0)
                            continue;
                        auto mix = [&](uint8_t top, uint8_t bottom) {
                            return uint8_t((top * a + bottom * under * (255 - a) / 255) / out);
                        };
                        o[0] = mix(c.r, o[0]);
                        o[1] = mix(c.g, o[1]);
                        o[2] = mix(c.b, o[2]);
                        o[3] = uint8_t(out);
                    }
                ++layers;
            }
        }
    }
    if (!attributes)
        corrupt("PSP: image attributes missing");
    if (layers == 0)
        corrupt("PSP: no raster layer");
    if (layers == 1 && !indexed.isNull())
        return indexed;
    bool opaque = true;
    for (std::size_t i = 3; i < canvas.data().size() && opaque; i += 4)
        opaque = canvas.data()[i] == 255;
    return opaque ? canvas.toRgb24() : canvas;
}

} // namespace doc::formats
