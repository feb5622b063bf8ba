// JPEG through the IJG API. libjpeg reports fatal errors by calling error_exit, which must never
// return: we longjmp back to the decode call and turn the message into an ImportError.

#include "decoders.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace doc::formats {
namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void errorExit(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void silentMessage(j_common_ptr, int) {}

/** EXIF orientation (1..8) from an APP1 marker, 1 when absent or unreadable. */
int exifOrientation(jpeg_decompress_struct &cinfo)
{
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
        if (m->marker != JPEG_APP0 + 1 || m->data_length < 14 || std::memcmp(m->data, "Exif\0\0", 6) != 0)
            continue;
        const uint8_t *t = m->data + 6;
        const std::size_t n = m->data_length - 6;
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
    return 1;
}

/** Applies an EXIF orientation so the picture shows upright. */
Picture orient(const Picture &src, int orientation)
{
    if (orientation <= 1)
        return src;
    const int w = src.width(), h = src.height(), bpp = src.bytesPerPixel();
    const bool swap = orientation >= 5;
    Picture out(swap ? h : w, swap ? w : h, src.format());
    out.palette() = src.palette();
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

// Everything touched after setjmp lives in this struct so longjmp leaves no indeterminate locals.
struct JpegState {
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    Picture pic;
    std::vector<uint8_t> line;
};

} // namespace

Picture decodeJpeg(std::span<const uint8_t> bytes)
{
    if (bytes.size() < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8)
        corrupt("JPEG: not a JPEG file");
    auto st = std::make_unique<JpegState>();
    jpeg_decompress_struct &cinfo = st->cinfo;
    cinfo.err = jpeg_std_error(&st->err.pub);
    st->err.pub.error_exit = errorExit;
    st->err.pub.emit_message = silentMessage;
    if (setjmp(st->err.jump)) {
        const std::string text = std::string("JPEG: ") + st->err.message;
        jpeg_destroy_decompress(&cinfo);
        // libjpeg reports an over-large picture as an ordinary error; keep its kind visible.
        corrupt(text);
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&cinfo, TRUE);

    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    const bool grey = cinfo.jpeg_color_space == JCS_GRAYSCALE;
    cinfo.out_color_space = cmyk ? JCS_CMYK : grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_calc_output_dimensions(&cinfo);
    if (int64_t(cinfo.output_width) > kMaxPictureSide || int64_t(cinfo.output_height) > kMaxPictureSide
        || int64_t(cinfo.output_width) * cinfo.output_height > kMaxPicturePixels) {
        jpeg_destroy_decompress(&cinfo);
        checkPictureSize(cinfo.output_width, cinfo.output_height, "JPEG");
    }
    // A hostile progressive file can demand huge coefficient buffers; cap libjpeg's own memory too.
    cinfo.mem->max_memory_to_use = long(1) << 30;
    const int orientation = exifOrientation(cinfo);
    jpeg_start_decompress(&cinfo);

    const int w = int(cinfo.output_width), h = int(cinfo.output_height);
    st->pic = Picture(w, h, grey ? PixelFormat::Indexed8 : PixelFormat::Rgb24);
    if (grey)
        st->pic.palette() = greyPalette(256);
    st->line.resize(std::size_t(w) * std::size_t(cinfo.output_components));
    // Adobe writes CMYK inverted (0 = full ink); YCCK always comes out that way.
    const bool inverted = cmyk && (cinfo.saw_Adobe_marker || cinfo.jpeg_color_space == JCS_YCCK);
    while (cinfo.output_scanline < cinfo.output_height) {
        const int y = int(cinfo.output_scanline);
        JSAMPROW rowp = st->line.data();
        jpeg_read_scanlines(&cinfo, &rowp, 1);
        uint8_t *out = st->pic.row(y);
        const uint8_t *in = st->line.data();
        if (!cmyk) {
            std::memcpy(out, in, st->line.size());
            continue;
        }
        for (int x = 0; x < w; ++x, in += 4, out += 3) {
            unsigned c = in[0], m = in[1], yy = in[2], k = in[3];
            if (!inverted) {
                c = 255 - c;
                m = 255 - m;
                yy = 255 - yy;
                k = 255 - k;
            }
            out[0] = uint8_t((c * k + 127) / 255);
            out[1] = uint8_t((m * k + 127) / 255);
            out[2] = uint8_t((yy * k + 127) / 255);
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return orient(st->pic, orientation);
}

} // namespace doc::formats
