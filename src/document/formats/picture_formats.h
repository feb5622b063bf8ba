#pragma once

#include "document/picture.h"

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace doc::formats {

/** The closed list of ways a picture import fails. */
enum class ImportErrorKind {
    Unreadable,  // the file could not be opened or read
    Unsupported, // no decoder for this extension or content
    Corrupt,     // the decoder rejected the content
    TooLarge,    // the picture would exceed the import budget
};

class ImportError : public std::runtime_error
{
public:
    ImportError(ImportErrorKind kind, const std::string &text)
        : std::runtime_error(text)
        , mKind(kind)
    {}
    ImportErrorKind kind() const { return mKind; }

private:
    ImportErrorKind mKind;
};

/**
 * Budget of one imported picture; larger files are refused as TooLarge before allocating. The
 * fuzzers build with a smaller one, so that their memory limit catches what costs more than the
 * picture it makes rather than pictures of the full budget.
 */
#ifndef MOVARO_MAX_PICTURE_PIXELS
#define MOVARO_MAX_PICTURE_PIXELS (int64_t(64) << 20)
#endif
inline constexpr int64_t kMaxPicturePixels = MOVARO_MAX_PICTURE_PIXELS;
inline constexpr int kMaxPictureSide = 65535;
inline constexpr int64_t kMaxFileBytes = int64_t(512) << 20;

using DecodeFn = Picture (*)(std::span<const uint8_t> bytes);

/** One row of the registry: every extension of a row shares its description and decoder. */
struct PictureFormat {
    std::string_view id;
    std::vector<std::string_view> extensions; // lower case, without the dot
    std::string_view description;             // French, as shown in the add dialog
    DecodeFn decode;
};

/** Every readable picture format, in the order the add dialog lists them. */
const std::vector<PictureFormat> &pictureFormats();

/** The row handling an extension (case-insensitive, with or without the dot), or nullptr. */
const PictureFormat *formatForExtension(std::string_view extension);

/** The row whose signature the content carries, or nullptr when nothing is recognised. */
const PictureFormat *formatForContent(std::span<const uint8_t> bytes);

/**
 * Decodes a picture file: by its extension first; by content when the extension is unknown, or when
 * its decoder fails on content whose signature names another format. The picture comes out as
 * Mono1/Indexed8 (with palette), Rgb24 or Rgba32, with the file's transparent colour designated
 * when it has one. Throws ImportError.
 */
Picture readPicture(const std::string &path);

/** The same on bytes already in memory; `extension` may be empty. */
Picture decodePicture(std::span<const uint8_t> bytes, std::string_view extension);

/**
 * The add dialog's filters: first "Tous (<every pattern>)", then "<description> (*.ext)" for each
 * extension. Patterns are separated by spaces, as Qt's name filters expect.
 */
std::vector<std::string> addDialogFilters();

/** The same filters joined by ";;" (the form QFileDialog::setNameFilter accepts). */
std::string addDialogFilter();

} // namespace doc::formats
