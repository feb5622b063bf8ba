// PNG through libpng. Errors longjmp back here. The picture keeps the file's own shape where the
// editor can use it: palette stays indexed, 1-bit stays monochrome, and a tRNS colour becomes the
// designated transparent colour instead of an alpha channel.

#include "decoders.h"

#include <csetjmp>

#include <png.h>

namespace doc::formats {
namespace {

struct PngInput {
    std::span<const uint8_t> bytes;
    std::size_t pos = 0;
};

void readData(png_structp png, png_bytep out, png_size_t n)
{
    auto *in = static_cast<PngInput *>(png_get_io_ptr(png));
    if (n > in->bytes.size() - in->pos)
        png_error(png, "truncated file");
    std::memcpy(out, in->bytes.data() + in->pos, n);
    in->pos += n;
}

void onError(png_structp png, png_const_charp message)
{
    auto *text = static_cast<std::string *>(png_get_error_ptr(png));
    *text = message;
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

struct PngState {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::string error;
    PngInput input;
    Picture pic;
    std::vector<png_bytep> rows;
    std::vector<Rgb> palette;
    std::optional<Rgb> designated;
    ~PngState() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

uint8_t scaleSample(unsigned v, int depth)
{
    if (depth == 16)
        return uint8_t(v >> 8);
    return uint8_t(v * 255 / ((1u << depth) - 1));
}

/**
 * libpng allocates an ancillary chunk whole before reading it, so a length of gigabytes in a small
 * file would cost them. Such a chunk cannot be complete: the file is refused as cut. Image data is
 * read as it comes and left to libpng.
 */
void checkChunkLengths(std::span<const uint8_t> bytes)
{
    for (std::size_t at = 8; at + 8 <= bytes.size();) {
        const uint8_t *p = bytes.data() + at;
        const uint32_t length = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
        if (length > bytes.size() - at - 8) {
            if (std::memcmp(p + 4, "IDAT", 4) != 0)
                corrupt("PNG: truncated file");
            return;
        }
        at += 12 + std::size_t(length);
    }
}

} // namespace

Picture decodePng(std::span<const uint8_t> bytes)
{
    if (bytes.size() < 8 || png_sig_cmp(bytes.data(), 0, 8) != 0)
        corrupt("PNG: not a PNG file");
    checkChunkLengths(bytes);
    auto st = std::make_unique<PngState>();
    st->input.bytes = bytes;
    st->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &st->error, onError, onWarning);
    if (!st->png)
        corrupt("PNG: cannot initialise libpng");
    st->info = png_create_info_struct(st->png);
    if (!st->info)
        corrupt("PNG: cannot initialise libpng");
    if (setjmp(png_jmpbuf(st->png))) {
        // A size refusal by libpng's user limits is a budget matter, not damage.
        const bool tooLarge = st->error.find("exceeds user limit") != std::string::npos
                              || st->error.find("too large") != std::string::npos;
        fail(tooLarge ? ImportErrorKind::TooLarge : ImportErrorKind::Corrupt, "PNG: " + st->error);
    }
    png_set_read_fn(st->png, &st->input, readData);
    // Our own budget check below names an over-large picture as such; libpng would call it invalid.
    png_set_user_limits(st->png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_set_chunk_malloc_max(st->png, 64u << 20);
    png_read_info(st->png, st->info);

    png_uint_32 w = 0, h = 0;
    int depth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(st->png, st->info, &w, &h, &depth, &colorType, &interlace, nullptr, nullptr);
    checkPictureSize(w, h, "PNG");

    const bool hasTrns = png_get_valid(st->png, st->info, PNG_INFO_tRNS);
    // Objects that outlive a possible longjmp live in st, never on this frame.
    std::optional<Rgb> &designated = st->designated;
    std::vector<Rgb> &palette = st->palette;
    PixelFormat format = PixelFormat::Rgb24;

    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        png_colorp entries = nullptr;
        int count = 0;
        png_get_PLTE(st->png, st->info, &entries, &count);
        png_bytep alpha = nullptr;
        int alphaCount = 0;
        png_color_16p unused = nullptr;
        if (hasTrns)
            png_get_tRNS(st->png, st->info, &alpha, &alphaCount, &unused);
        bool partial = false;
        int transparent = -1;
        for (int i = 0; i < alphaCount && i < count; ++i) {
            if (alpha[i] == 0 && transparent < 0)
                transparent = i;
            else if (alpha[i] != 255)
                partial = true;
        }
        if (partial) {
            // Real translucency cannot live in a palette picture: expand to RGBA.
            png_set_palette_to_rgb(st->png);
            png_set_tRNS_to_alpha(st->png);
            if (depth < 8)
                png_set_packing(st->png);
            format = PixelFormat::Rgba32;
        } else {
            for (int i = 0; i < count; ++i)
                palette.push_back({entries[i].red, entries[i].green, entries[i].blue});
            if (transparent >= 0)
                designated = palette[std::size_t(transparent)];
            png_set_packing(st->png);
            format = depth == 1 ? PixelFormat::Mono1 : PixelFormat::Indexed8;
        }
    } else if (colorType == PNG_COLOR_TYPE_GRAY) {
        if (hasTrns) {
            png_color_16p c = nullptr;
            png_get_tRNS(st->png, st->info, nullptr, nullptr, &c);
            const uint8_t g = scaleSample(c->gray & ((1u << depth) - 1u), depth);
            designated = Rgb{g, g, g};
        }
        if (depth == 16)
            png_set_strip_16(st->png);
        if (depth == 1) {
            png_set_packing(st->png);
            format = PixelFormat::Mono1;
            palette = {{0, 0, 0}, {255, 255, 255}};
        } else {
            png_set_expand_gray_1_2_4_to_8(st->png);
            format = PixelFormat::Indexed8;
            palette = greyPalette(256);
        }
    } else if (colorType == PNG_COLOR_TYPE_RGB) {
        if (hasTrns) {
            png_color_16p c = nullptr;
            png_get_tRNS(st->png, st->info, nullptr, nullptr, &c);
            designated = Rgb{scaleSample(c->red, depth), scaleSample(c->green, depth), scaleSample(c->blue, depth)};
        }
        if (depth == 16)
            png_set_strip_16(st->png);
        format = PixelFormat::Rgb24;
    } else { // grey + alpha, RGBA
        if (depth == 16)
            png_set_strip_16(st->png);
        if (colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
            png_set_gray_to_rgb(st->png);
        format = PixelFormat::Rgba32;
    }
    png_set_interlace_handling(st->png);
    png_read_update_info(st->png, st->info);
    if (png_get_rowbytes(st->png, st->info) != std::size_t(w) * std::size_t(Picture::bytesPerPixel(format)))
        corrupt("PNG: unexpected row layout");

    st->pic = Picture(int(w), int(h), format);
    st->pic.palette() = palette;
    st->rows.resize(h);
    for (png_uint_32 y = 0; y < h; ++y)
        st->rows[y] = st->pic.row(int(y));
    png_read_image(st->png, st->rows.data());
    png_read_end(st->png, nullptr);

    if (st->pic.isIndexed()) {
        // Indices past a short palette would read as black everywhere else; clamp them here.
        const std::size_t n = st->pic.data().size(), count = st->pic.palette().size();
        if (count == 0)
            corrupt("PNG: palette missing");
        for (std::size_t i = 0; i < n; ++i)
            if (st->pic.data()[i] >= count)
                st->pic.data()[i] = 0;
    }
    st->pic.setDesignatedTransparentColor(designated);
    return std::move(st->pic);
}

} // namespace doc::formats
