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
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next)
        if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0)
            return formats::exifOrientation({m->data + 6, m->data_length - 6});
    return 1;
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
    return applyOrientation(st->pic, orientation);
}

} // namespace doc::formats
