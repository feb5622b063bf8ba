// Formats read through GraphicsMagick. The coder is always named explicitly: letting the library
// guess from content would let a hostile file pick any of its coders (MVG, MSL, text ...).
// Built as a helper module (magick_module.h): the programs load GraphicsMagick only when a file needs it.

#include "decoders.h"
#include "magick_module.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <memory>
#include <mutex>

#include <magick/api.h>

namespace doc::formats {
namespace {

// A decode that runs longer than this (a pathological RLE, a huge WMF) is abandoned. Ghostscript,
// a separate program, gets its own limit in magick/delegates.mgk.
constexpr auto kMagickTimeBudget = std::chrono::seconds(60);
thread_local std::chrono::steady_clock::time_point tDeadline{};

// Returning failure makes the coder stop and report its own error; the exception it hands us is not
// always one we may write to.
MagickPassFail monitorDeadline(const char *, const magick_int64_t, const magick_uint64_t, ExceptionInfo *)
{
    const bool late = tDeadline != std::chrono::steady_clock::time_point{} && std::chrono::steady_clock::now() > tDeadline;
    return late ? MagickFail : MagickPass;
}

void ignoreMessage(const ExceptionType, const char *, const char *) {}

void initializeMagickOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Our type map points the WMF/EPS font names at fonts-urw-base35; the packaged one still
        // names the gsfonts files Debian no longer ships.
        if (!std::getenv("MAGICK_CONFIGURE_PATH"))
            setenv("MAGICK_CONFIGURE_PATH", MOVARO_MAGICK_CONFIG_DIR, 0);
        InitializeMagick(nullptr);
        SetMagickResourceLimit(PixelsResource, kMaxPicturePixels);
        SetMagickResourceLimit(WidthResource, kMaxPictureSide);
        SetMagickResourceLimit(HeightResource, kMaxPictureSide);
        SetMagickResourceLimit(MemoryResource, int64_t(1) << 30);
        SetMagickResourceLimit(MapResource, int64_t(1) << 30);
        SetMagickResourceLimit(DiskResource, 0);
        SetMagickResourceLimit(ReadResource, int64_t(1) << 30);
        SetMonitorHandler(monitorDeadline);
        // Warnings go into the exception we inspect, not to stderr.
        SetWarningHandler(ignoreMessage);
        SetErrorHandler(ignoreMessage);
    });
}

struct ImageDeleter {
    void operator()(Image *i) const { DestroyImageList(i); }
};
struct InfoDeleter {
    void operator()(ImageInfo *i) const { DestroyImageInfo(i); }
};

uint8_t toByte(Quantum q)
{
    return ScaleQuantumToChar(q);
}

Rgb toRgb(const PixelPacket &p)
{
    return {toByte(p.red), toByte(p.green), toByte(p.blue)};
}

Picture fromIndexed(const Image *image, ExceptionInfo *exception)
{
    const int w = int(image->columns), h = int(image->rows);
    const bool mono = image->colors <= 2;
    Picture pic(w, h, mono ? PixelFormat::Mono1 : PixelFormat::Indexed8);
    for (unsigned i = 0; i < image->colors; ++i)
        pic.palette().push_back(toRgb(image->colormap[i]));
    // With alpha, the palette survives only when every transparent pixel is one fully transparent
    // entry; anything else becomes Rgba32.
    int transparent = -1;
    for (int y = 0; y < h; ++y) {
        const PixelPacket *px = AcquireImagePixels(image, 0, y, image->columns, 1, exception);
        const IndexPacket *idx = px ? AccessImmutableIndexes(image) : nullptr;
        if (!idx)
            return Picture();
        uint8_t *out = pic.row(y);
        for (int x = 0; x < w; ++x) {
            const unsigned i = idx[x] < image->colors ? unsigned(idx[x]) : 0;
            out[x] = uint8_t(i);
            if (image->matte && px[x].opacity != OpaqueOpacity) {
                if (px[x].opacity != TransparentOpacity || (transparent >= 0 && unsigned(transparent) != i))
                    return Picture();
                transparent = int(i);
            }
        }
    }
    if (transparent >= 0)
        pic.setDesignatedTransparentColor(pic.palette()[std::size_t(transparent)]);
    return pic;
}

/** A one-bit direct-class picture (fax TIFF) as monochrome, when it is black and white indeed. */
Picture fromBilevel(const Image *image, ExceptionInfo *exception)
{
    const int w = int(image->columns), h = int(image->rows);
    Picture pic(w, h, PixelFormat::Mono1);
    pic.palette() = {{0, 0, 0}, {255, 255, 255}};
    for (int y = 0; y < h; ++y) {
        const PixelPacket *px = AcquireImagePixels(image, 0, y, image->columns, 1, exception);
        if (!px)
            return Picture();
        uint8_t *out = pic.row(y);
        for (int x = 0; x < w; ++x) {
            const Rgb c = toRgb(px[x]);
            if (c == Rgb{0, 0, 0})
                out[x] = 0;
            else if (c == Rgb{255, 255, 255})
                out[x] = 1;
            else
                return Picture();
        }
    }
    return pic;
}

Picture fromDirect(const Image *image, ExceptionInfo *exception)
{
    const int w = int(image->columns), h = int(image->rows);
    const bool alpha = image->matte;
    Picture pic(w, h, alpha ? PixelFormat::Rgba32 : PixelFormat::Rgb24);
    if (!DispatchImage(image, 0, 0, image->columns, image->rows, alpha ? "RGBA" : "RGB", CharPixel,
                       pic.data().data(), exception))
        return Picture();
    if (alpha) {
        // 32-bit BMP and TGA writers often leave the fourth byte 0: an alpha channel that hides the
        // whole picture is filler, not transparency.
        const std::size_t n = pic.data().size();
        bool anyVisible = false;
        for (std::size_t i = 3; i < n && !anyVisible; i += 4)
            anyVisible = pic.data()[i] != 0;
        if (!anyVisible)
            for (std::size_t i = 3; i < n; i += 4)
                pic.data()[i] = 255;
    }
    return pic;
}

void drawText(Picture &canvas, const std::string &utf8, double x, double y, double sizePx,
                        const std::string &font, Rgb color, int align, int vertical)
{
    // GraphicsMagick 1.3.40 leaks FreeType glyphs when a glyph cannot be placed on the picture, so
    // text far outside it, or larger than it, is not handed over at all.
    const double side = std::max(canvas.width(), canvas.height());
    if (utf8.empty() || canvas.format() != PixelFormat::Rgb24 || !(sizePx >= 1) || sizePx > std::min(1000.0, 2 * side)
        || !(x > -side * 4 && x < side * 5 && y > -side * 4 && y < side * 5))
        return;
    initializeMagickOnce();
    ExceptionInfo exception;
    GetExceptionInfo(&exception);
    std::unique_ptr<ImageInfo, InfoDeleter> info(CloneImageInfo(nullptr));
    DrawInfo *draw = CloneDrawInfo(info.get(), nullptr);
    // AnnotateImage draws its text literally ("%" escapes and "@file" belong to the command-line
    // layer, which we do not use), so the file's text goes in as it is.
    CloneString(&draw->text, utf8.c_str());
    CloneString(&draw->font, font.c_str());
    CloneString(&draw->encoding, "UTF-8");
    draw->pointsize = sizePx;
    draw->fill.red = ScaleCharToQuantum(color.r);
    draw->fill.green = ScaleCharToQuantum(color.g);
    draw->fill.blue = ScaleCharToQuantum(color.b);
    draw->fill.opacity = OpaqueOpacity;

    // The metrics do not depend on the picture: measure on a one-pixel image, then hand over only
    // the part of the canvas the text can touch, so a drawing with many texts costs their area and
    // not the whole canvas each time.
    uint8_t probePixel[3] = {};
    std::unique_ptr<Image, ImageDeleter> probe(ConstituteImage(1, 1, "RGB", CharPixel, probePixel, &exception));
    TypeMetric metrics{};
    if (probe && GetTypeMetrics(probe.get(), draw, &metrics)) {
        // Reference point to baseline origin: align 0 left, 1 centre, 2 right; vertical 0 top,
        // 1 baseline, 2 bottom.
        if (align == 1)
            x -= metrics.width / 2;
        else if (align == 2)
            x -= metrics.width;
        if (vertical == 0)
            y += metrics.ascent;
        else if (vertical == 2)
            y += metrics.descent; // descent is negative
        const double pad = sizePx; // room for overhangs the advance width does not count
        const int left = std::max(0, int(std::floor(x - pad)));
        const int top = std::max(0, int(std::floor(y - metrics.ascent - pad)));
        const int right = std::min(canvas.width(), int(std::ceil(x + metrics.width + pad)));
        const int bottom = std::min(canvas.height(), int(std::ceil(y - metrics.descent + pad)));
        if (left < right && top < bottom) {
            const int w = right - left;
            const int h = bottom - top;
            std::vector<uint8_t> region(std::size_t(w) * std::size_t(h) * 3);
            for (int row = 0; row < h; ++row)
                std::memcpy(region.data() + std::size_t(row) * w * 3, canvas.row(top + row) + std::size_t(left) * 3,
                            std::size_t(w) * 3);
            std::unique_ptr<Image, ImageDeleter> image(
                ConstituteImage(unsigned(w), unsigned(h), "RGB", CharPixel, region.data(), &exception));
            if (image) {
                char geometry[64];
                std::snprintf(geometry, sizeof geometry, "%+.1f%+.1f", x - left, y - top);
                CloneString(&draw->geometry, geometry);
                if (AnnotateImage(image.get(), draw)
                    && DispatchImage(image.get(), 0, 0, unsigned(w), unsigned(h), "RGB", CharPixel, region.data(),
                                     &exception)) {
                    for (int row = 0; row < h; ++row)
                        std::memcpy(canvas.row(top + row) + std::size_t(left) * 3,
                                    region.data() + std::size_t(row) * w * 3, std::size_t(w) * 3);
                }
            }
        }
    }
    DestroyDrawInfo(draw);
    DestroyExceptionInfo(&exception);
}

Picture decode(std::span<const uint8_t> bytes, const char *coder)
{
    initializeMagickOnce();
    if (bytes.empty())
        corrupt(std::string(coder) + ": empty file");

    ExceptionInfo exception;
    GetExceptionInfo(&exception);
    std::unique_ptr<ImageInfo, InfoDeleter> info(CloneImageInfo(nullptr));
    std::snprintf(info->magick, sizeof info->magick, "%s", coder);
    std::snprintf(info->filename, sizeof info->filename, "%s:", coder);
    // Only the first picture of a multi-picture file. Photo-CD files are the exception: their
    // "pictures" are resolutions, and left alone the reader picks the 768 x 512 base one.
    if (std::strcmp(coder, "PCD") != 0) {
        info->subimage = 0;
        info->subrange = 1;
    }

    const auto started = std::chrono::steady_clock::now();
    tDeadline = started + kMagickTimeBudget;
    std::unique_ptr<Image, ImageDeleter> image(BlobToImage(info.get(), bytes.data(), bytes.size(), &exception));
    tDeadline = {};
    const bool late = std::chrono::steady_clock::now() - started > kMagickTimeBudget;

    auto failWith = [&](const char *fallback) -> Picture {
        std::string text = std::string(coder) + ": ";
        text += exception.reason ? exception.reason : fallback;
        if (exception.description)
            text += std::string(" (") + exception.description + ")";
        const bool tooLarge = exception.severity == ResourceLimitError || exception.severity == ResourceLimitFatalError;
        DestroyExceptionInfo(&exception);
        fail(tooLarge ? ImportErrorKind::TooLarge : ImportErrorKind::Corrupt, text);
    };

    // A reader may return a partial picture together with an error: refuse it rather than show garbage.
    if (late) {
        DestroyExceptionInfo(&exception);
        corrupt(std::string(coder) + ": decoding took too long");
    }
    if (!image || exception.severity >= ErrorException)
        return failWith("cannot decode");
    checkPictureSize(int64_t(image->columns), int64_t(image->rows), coder);

    Picture pic;
    if (image->storage_class == PseudoClass && image->colors > 0 && image->colors <= 256)
        pic = fromIndexed(image.get(), &exception);
    else if (image->depth == 1 && !image->matte)
        pic = fromBilevel(image.get(), &exception);
    if (pic.isNull())
        pic = fromDirect(image.get(), &exception);
    if (pic.isNull())
        return failWith("cannot read pixels");
    DestroyExceptionInfo(&exception);
    return pic;
}

} // namespace
} // namespace doc::formats

extern "C" __attribute__((visibility("default"))) const doc::formats::MagickModule *movaroGifMagickModule()
{
    static const doc::formats::MagickModule module{&doc::formats::decode, &doc::formats::drawText};
    return &module;
}
