// The GraphicsMagick decoders, reached through their helper module.

#include "decoders.h"
#include "magick_module.h"

#include "document/helper_module.h"

namespace doc::formats {
namespace {

const MagickModule &magick()
{
    static std::string error;
    static const MagickModule *const module = [] {
        using Entry = const MagickModule *(*)();
        const auto entry = reinterpret_cast<Entry>(helperModuleEntry(kMagickModuleFile, kMagickModuleEntry, error));
        return entry ? entry() : nullptr;
    }();
    if (!module)
        fail(ImportErrorKind::Unsupported, "GraphicsMagick: " + error);
    return *module;
}

} // namespace

Picture decodeWithMagick(std::span<const uint8_t> bytes, const char *coder)
{
    return magick().decode(bytes, coder);
}

void drawTextWithMagick(Picture &canvas, const std::string &utf8, double x, double y, double sizePx, const std::string &font,
                        Rgb color, int align, int vertical)
{
    magick().drawText(canvas, utf8, x, y, sizePx, font, color, align, vertical);
}

} // namespace doc::formats
