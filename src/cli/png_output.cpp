#include "png_output.h"

#include "document/atomic_file.h"

#include <png.h>

#include <ostream>
#include <stdexcept>
#include <vector>

namespace cli {

namespace {

void writeToStream(png_structp png, png_bytep data, png_size_t length)
{
    auto *out = static_cast<std::ostream *>(png_get_io_ptr(png));
    out->write(reinterpret_cast<const char *>(data), std::streamsize(length));
}

void flushStream(png_structp png)
{
    static_cast<std::ostream *>(png_get_io_ptr(png))->flush();
}

[[noreturn]] void pngError(png_structp, png_const_charp message)
{
    throw std::runtime_error(std::string("PNG: ") + message);
}

} // namespace

void writePng(const doc::Picture &source, const std::string &path)
{
    // A designated transparent colour becomes alpha 0 so viewers show the frame as it plays.
    doc::Picture rgba = source.toRgba32();
    if (source.designatedTransparentColor()) {
        const doc::Rgb t = *source.designatedTransparentColor();
        uint8_t *p = rgba.data().data();
        for (std::size_t i = 0, n = rgba.data().size() / 4; i < n; ++i, p += 4)
            if (p[0] == t.r && p[1] == t.g && p[2] == t.b)
                p[3] = 0;
    }
    bool alpha = false;
    for (std::size_t i = 3; i < rgba.data().size() && !alpha; i += 4)
        alpha = rgba.data()[i] != 255;
    const doc::Picture &picture = rgba;

    doc::writeFileAtomically(path, [&](std::ostream &out) {
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, nullptr);
        png_infop info = png ? png_create_info_struct(png) : nullptr;
        if (!info) {
            png_destroy_write_struct(&png, nullptr);
            throw std::runtime_error("PNG: out of memory");
        }
        try {
            png_set_write_fn(png, &out, writeToStream, flushStream);
            png_set_IHDR(png, info, png_uint_32(picture.width()), png_uint_32(picture.height()), 8,
                         alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                         PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
            png_write_info(png, info);
            if (!alpha)
                png_set_filler(png, 0, PNG_FILLER_AFTER); // rows stay RGBA; libpng drops the filler
            for (int y = 0; y < picture.height(); ++y)
                png_write_row(png, const_cast<png_bytep>(picture.row(y)));
            png_write_end(png, info);
        } catch (...) {
            png_destroy_write_struct(&png, &info);
            throw;
        }
        png_destroy_write_struct(&png, &info);
    });
}

} // namespace cli
