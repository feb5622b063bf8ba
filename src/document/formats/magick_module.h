#pragma once

// The GraphicsMagick decoders are a helper module (document/helper_module.h): GraphicsMagick and
// the libraries it pulls in are loaded by the first file that needs them, not by every start.

#include "picture_formats.h"

#include <span>
#include <string>

namespace doc::formats {

/** What the module offers: decodeWithMagick and drawTextWithMagick (decoders.h) do the same through it. */
struct MagickModule {
    Picture (*decode)(std::span<const uint8_t> bytes, const char *coder);
    void (*drawText)(Picture &canvas, const std::string &utf8, double x, double y, double sizePx, const std::string &font,
                     Rgb color, int align, int vertical);
};

inline constexpr const char *kMagickModuleFile = "movaro-gif-magick.so";
/** An extern "C" function of the module, returning its MagickModule. */
inline constexpr const char *kMagickModuleEntry = "movaroGifMagickModule";

} // namespace doc::formats
