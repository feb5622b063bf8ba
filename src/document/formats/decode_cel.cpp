// Autodesk Animator cels and pictures. Animator 1 (magic 0x9119) stores a VGA palette and raw
// pixels; Animator Pro (0xAF12) stores a one-frame flic, whose first frame is decoded here. Later
// frames of a multi-frame cel are not read: the picture is the first frame.

#include "decoders.h"

namespace doc::formats {
namespace {

enum ChunkType : uint16_t {
    Color256 = 4,
    DeltaFlc = 7,
    Color64 = 11,
    DeltaFli = 12,
    Black = 13,
    ByteRun = 15,
    Copy = 16,
    FrameType = 0xF1FA,
};

void readPalette(ByteReader &in, std::vector<Rgb> &palette, bool sixBit)
{
    const unsigned packets = in.u16le();
    unsigned index = 0;
    for (unsigned p = 0; p < packets; ++p) {
        index += in.u8();
        unsigned count = in.u8();
        if (count == 0)
            count = 256;
        for (unsigned i = 0; i < count; ++i, ++index) {
            const uint8_t *c = in.take(3);
            if (index < 256) {
                // 6-bit VGA levels widened so that 63 becomes 255.
                palette[index] = sixBit ? Rgb{uint8_t(c[0] << 2 | c[0] >> 4), uint8_t(c[1] << 2 | c[1] >> 4),
                                              uint8_t(c[2] << 2 | c[2] >> 4)}
                                        : Rgb{c[0], c[1], c[2]};
            }
        }
    }
}

void byteRun(ByteReader &in, Picture &pic)
{
    const int w = pic.width();
    for (int y = 0; y < pic.height(); ++y) {
        uint8_t *row = pic.row(y);
        in.skip(1); // packet count of old files; the width is what counts
        int x = 0;
        while (x < w) {
            const int n = int8_t(in.u8());
            if (n >= 0) {
                const uint8_t v = in.u8();
                const int count = std::min(n, w - x);
                std::memset(row + x, v, std::size_t(count));
                x += n == 0 ? w : n; // a zero count would never advance
            } else {
                const int count = -n;
                const uint8_t *src = in.take(std::size_t(count));
                std::memcpy(row + x, src, std::size_t(std::min(count, w - x)));
                x += count;
            }
        }
    }
}

void deltaFli(ByteReader &in, Picture &pic)
{
    const int w = pic.width();
    int y = in.u16le();
    const int lines = in.u16le();
    for (int l = 0; l < lines && y < pic.height(); ++l, ++y) {
        uint8_t *row = pic.row(y);
        const unsigned packets = in.u8();
        int x = 0;
        for (unsigned p = 0; p < packets; ++p) {
            x += in.u8();
            const int n = int8_t(in.u8());
            if (n >= 0) {
                const uint8_t *src = in.take(std::size_t(n));
                for (int i = 0; i < n; ++i, ++x)
                    if (x < w)
                        row[x] = src[i];
            } else {
                const uint8_t v = in.u8();
                for (int i = 0; i < -n; ++i, ++x)
                    if (x < w)
                        row[x] = v;
            }
        }
    }
}

void deltaFlc(ByteReader &in, Picture &pic)
{
    const int w = pic.width(), h = pic.height();
    const unsigned lines = in.u16le();
    int y = 0;
    for (unsigned l = 0; l < lines; ++l) {
        unsigned packets = 0;
        for (;;) {
            const uint16_t word = in.u16le();
            if ((word & 0xC000) == 0xC000) {
                y -= int16_t(word); // a skip of -word lines
            } else if ((word & 0xC000) == 0x8000) {
                if (y < h && w > 0)
                    pic.row(y)[w - 1] = uint8_t(word);
            } else {
                packets = word;
                break;
            }
            if (y > h)
                return;
        }
        int x = 0;
        uint8_t *row = y < h ? pic.row(y) : nullptr;
        for (unsigned p = 0; p < packets; ++p) {
            x += in.u8();
            const int n = int8_t(in.u8());
            if (n >= 0) {
                const uint8_t *src = in.take(std::size_t(n) * 2);
                for (int i = 0; i < 2 * n; ++i, ++x)
                    if (row && x < w)
                        row[x] = src[i];
            } else {
                const uint8_t *pair = in.take(2);
                for (int i = 0; i < -n; ++i, x += 2) {
                    if (row && x < w)
                        row[x] = pair[0];
                    if (row && x + 1 < w)
                        row[x + 1] = pair[1];
                }
            }
        }
        ++y;
    }
}

Picture animatorOne(std::span<const uint8_t> bytes)
{
    ByteReader in(bytes, "CEL");
    in.skip(2);
    const unsigned w = in.u16le(), h = in.u16le();
    in.skip(4); // position on the screen
    const unsigned depth = in.u8(), compression = in.u8();
    in.skip(4 + 16);
    if (depth != 8 || compression != 0)
        fail(ImportErrorKind::Unsupported, "CEL: only uncompressed 8-bit Animator cels are supported");
    checkPictureSize(w, h, "CEL");
    Picture pic(int(w), int(h), PixelFormat::Indexed8);
    const uint8_t *pal = in.take(768);
    for (int i = 0; i < 256; ++i) {
        const uint8_t *c = pal + 3 * i;
        pic.palette().push_back({uint8_t((c[0] & 63) << 2 | (c[0] & 63) >> 4), uint8_t((c[1] & 63) << 2 | (c[1] & 63) >> 4),
                                 uint8_t((c[2] & 63) << 2 | (c[2] & 63) >> 4)});
    }
    std::memcpy(pic.data().data(), in.take(std::size_t(w) * h), std::size_t(w) * h);
    return pic;
}

Picture animatorPro(std::span<const uint8_t> bytes)
{
    ByteReader in(bytes, "CEL");
    in.skip(6);
    const unsigned frames = in.u16le();
    const unsigned w = in.u16le(), h = in.u16le(), depth = in.u16le();
    if (frames == 0)
        corrupt("CEL: the cel holds no frame");
    if (depth != 8 && depth != 0)
        fail(ImportErrorKind::Unsupported, "CEL: only 8-bit cels are supported");
    checkPictureSize(w, h, "CEL");
    Picture pic(int(w), int(h), PixelFormat::Indexed8);
    pic.palette() = greyPalette(256);

    in.seek(128);
    while (in.remaining() >= 6) {
        const std::size_t start = in.pos();
        const uint32_t size = in.u32le();
        const uint16_t type = in.u16le();
        if (size < 6 || size > bytes.size() - start)
            corrupt("CEL: bad chunk size");
        if (type != FrameType) {
            in.seek(start + size); // prefix chunk, cel position data
            continue;
        }
        // The frame's own fields and chunks are read within the frame: a frame shorter than its
        // header would otherwise put its chunks past its end, and their data past the file's.
        ByteReader frame(bytes.first(start + size), "CEL");
        frame.seek(in.pos());
        const unsigned chunks = frame.u16le();
        frame.skip(8);
        for (unsigned c = 0; c < chunks; ++c) {
            const std::size_t subStart = frame.pos();
            const uint32_t subSize = frame.u32le();
            const uint16_t subType = frame.u16le();
            if (subSize < 6 || subSize > frame.size() - subStart)
                corrupt("CEL: bad chunk size");
            ByteReader data(bytes.subspan(frame.pos(), subSize - 6), "CEL");
            switch (subType) {
            case Color256:
                readPalette(data, pic.palette(), false);
                break;
            case Color64:
                readPalette(data, pic.palette(), true);
                break;
            case Black:
                std::fill(pic.data().begin(), pic.data().end(), 0);
                break;
            case ByteRun:
                byteRun(data, pic);
                break;
            case Copy: {
                // Some Animator Pro writers count this chunk two bytes short; the pixels run on
                // to the end of the frame, so read them from the frame's bytes.
                ByteReader frameRest(bytes.subspan(subStart + 6, start + size - subStart - 6), "CEL");
                std::memcpy(pic.data().data(), frameRest.take(pic.data().size()), pic.data().size());
                break;
            }
            case DeltaFli:
                deltaFli(data, pic);
                break;
            case DeltaFlc:
                deltaFlc(data, pic);
                break;
            default: // postage stamp and others: nothing to draw
                break;
            }
            frame.seek(subStart + subSize);
        }
        return pic; // the first frame is the picture
    }
    corrupt("CEL: no frame found");
}

} // namespace

Picture decodeCel(std::span<const uint8_t> bytes)
{
    if (bytes.size() >= 32 && bytes[0] == 0x19 && bytes[1] == 0x91)
        return animatorOne(bytes);
    if (bytes.size() >= 128 && bytes[4] == 0x12 && bytes[5] == 0xAF)
        return animatorPro(bytes);
    corrupt("CEL: not an Autodesk Animator cel");
}

} // namespace doc::formats
