#include "gif_error.h"

namespace doc {

const char *gifErrorText(GifErrorKind kind)
{
    switch (kind) {
    case GifErrorKind::InvalidSignature:
        return "Invalid GIF signature";
    case GifErrorKind::PrematureEnd:
        return "Premature end of data";
    case GifErrorKind::UnknownExtension:
        return "Unknown extension type";
    case GifErrorKind::BadAppExtensionSize:
        return "Unsupported Application Extension block size";
    case GifErrorKind::InvalidData:
        return "Invalid GIF data";
    case GifErrorKind::CircularTable:
        return "Circular decoder table entry";
    case GifErrorKind::BadCodeSize:
        return "Invalid LZW code size";
    case GifErrorKind::UnknownVersion:
        return "Unknown GIF version";
    case GifErrorKind::UnrecognizedExtension:
        return "Unrecognized extension block";
    case GifErrorKind::UnsupportedVersion:
        return "Unsupported GIF version";
    case GifErrorKind::ColorNotInTable:
        return "Color not in color table";
    case GifErrorKind::InvalidDimensions:
        return "Invalid image dimensions";
    case GifErrorKind::OutOfMemory:
        return "Failed to allocate memory for GIF DIB";
    case GifErrorKind::TooLarge:
        return "Image too large";
    case GifErrorKind::WriteFailed:
        return "Write failed";
    }
    return "GIF error";
}

GifError::GifError(GifErrorKind kind)
    : std::runtime_error(gifErrorText(kind))
    , mKind(kind)
{}

} // namespace doc
