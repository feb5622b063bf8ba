#pragma once

#include <stdexcept>
#include <string>

namespace doc {

/** The closed list of failures of the GIF codec and the colour reduction. */
enum class GifErrorKind {
    InvalidSignature,       // "Invalid GIF signature"
    PrematureEnd,           // "Premature end of data"
    UnknownExtension,       // "Unknown extension type"
    BadAppExtensionSize,    // "Unsupported Application Extension block size"
    InvalidData,            // "Invalid GIF data"
    CircularTable,          // "Circular decoder table entry"
    BadCodeSize,            // LZW minimum code size the 4096-entry table cannot hold
    UnknownVersion,         // "Unknown GIF version" (second reading at open)
    UnrecognizedExtension,  // "Unrecognized extension block: %.2x" (second reading at open)
    UnsupportedVersion,     // "Unsupported GIF version" (writing a document without frames)
    ColorNotInTable,        // "Color not in color table"
    InvalidDimensions,      // "Invalid image dimensions"
    OutOfMemory,            // "Failed to allocate memory for GIF DIB"
    TooLarge,               // sizes beyond the memory budget
    WriteFailed,            // the output could not be written
};

/** A failure with its kind and the program's exact text. */
class GifError : public std::runtime_error
{
public:
    GifError(GifErrorKind kind, const std::string &text)
        : std::runtime_error(text)
        , mKind(kind)
    {}
    explicit GifError(GifErrorKind kind);

    GifErrorKind kind() const { return mKind; }

private:
    GifErrorKind mKind;
};

/** The standard text of a kind. */
const char *gifErrorText(GifErrorKind kind);

} // namespace doc
