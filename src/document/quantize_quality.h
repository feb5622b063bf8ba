#pragma once

#include "picture.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace doc {

class NearestColorLookup;

/** How the palette of a reduced picture is made. */
enum class PaletteQuality {
    /** The octree of ReduceBitmapColors: fast, the editor's default. */
    Octree,
    /**
     * The colours split where that lowers the squared error most, then moved by k-means passes
     * in RGB, the space the error is measured and the pixels are mapped in.
     */
    Best,
};

/** How pixels are mapped onto the palette. */
enum class Dithering {
    /** Each pixel its nearest entry. */
    None,
    /** Floyd–Steinberg error diffusion, rows walked alternately left and right. */
    FloydSteinberg,
    /** An 8 × 8 Bayer threshold pattern: no error travels, so still areas stay still between frames. */
    Ordered,
};

struct ReductionChoice {
    PaletteQuality quality = PaletteQuality::Octree;
    Dithering dither = Dithering::None;
    bool operator==(const ReductionChoice &) const = default;
};

/**
 * The colours of one or more Rgb24 pictures, gathered for one palette: pixel counts and colour
 * sums in cells of 6 bits a channel (8 MB whatever the pictures), and the exact colours while
 * there are no more than 256 of them.
 */
class ColorHistogram
{
public:
    ColorHistogram();

    void add(const Picture &rgb24);
    /** `pixels` Rgb24 pixels counted `times` times: a row that shows unchanged in that many frames. */
    void add(const uint8_t *rgb, std::size_t pixels, uint64_t times);
    void add(const ColorHistogram &other);

    /** The distinct colours seen, when there are at most 256 of them; empty otherwise. */
    std::vector<Rgb> fewColors() const;

    /** Up to maxColors colours that keep the squared error over every pixel seen low. */
    std::vector<Rgb> bestPalette(int maxColors = 256) const;

private:
    struct Cell {
        uint64_t n = 0, r = 0, g = 0, b = 0;
    };
    std::vector<Cell> mCells;
    std::vector<uint32_t> mDistinct; // sorted, until there are too many
    bool mMany = false;
    // Colours known to be in mDistinct, one a slot by a hash of the colour: most pixels are
    // found here instead of by a search of the sorted list.
    std::vector<uint32_t> mSeen;
};

/**
 * An Rgb24 picture mapped onto a palette, nearest entries as ReduceBitmapColors finds them, with
 * the dithering chosen. The palette is then padded with black to 2^n entries (at least 2), which
 * no pixel takes.
 */
Picture mapToPalette(const Picture &rgb24, std::vector<Rgb> palette, Dithering dither);

/**
 * mapToPalette for many pictures and one palette. The nearest entry found for a colour is kept
 * for the pictures after, which mostly show the same colours again; map() may run on several
 * threads at once.
 */
class PaletteMapper
{
public:
    explicit PaletteMapper(std::vector<Rgb> palette);
    ~PaletteMapper();

    Picture map(const Picture &rgb24, Dithering dither) const;

    /**
     * Floyd–Steinberg over the rectangle (x, y, w, h) of a picture that follows `before` (the same
     * size), whose frame is `indexed`: a pixel equal to before's keeps its index (its error still
     * goes to its neighbours), the others are chosen again, so that a change does not spread into
     * what did not change. Error from outside the rectangle is not carried in.
     */
    void ditherChanges(const Picture &rgb24, const Picture &before, Picture &indexed, int x, int y, int w, int h) const;

private:
    std::unique_ptr<NearestColorLookup> takeLookup() const;
    void giveBack(std::unique_ptr<NearestColorLookup> lookup) const;

    std::vector<Rgb> mPalette;
    mutable std::mutex mMutex;
    // One lookup a thread at work, handed back when its picture is done.
    mutable std::vector<std::unique_ptr<NearestColorLookup>> mIdle;
};

/** A rectangle of a picture. */
struct ChangedRect {
    int x = 0, y = 0, w = 0, h = 0;
};

/**
 * Where Floyd–Steinberg dithers again a picture that follows `before` (Rgb24, the same size): the
 * smallest rectangle holding every pixel that differs (empty when none does). Nothing when the
 * sizes differ, or when fewer than a sixteenth of the screen's pixels (`screenPixels`, the
 * picture's own count when 0) stay as they were: a pan, which is better dithered whole.
 */
std::optional<ChangedRect> changesToDither(const Picture &before, const Picture &after, std::size_t screenPixels = 0);

/**
 * Reduces a picture to 256 colours. The default choice is exactly ReduceBitmapColors in the
 * octree mode with nearest colours. A picture of 256 colours or fewer keeps them all exactly,
 * whatever the choice. The picture is converted in place to Rgb24, as ReduceBitmapColors does.
 */
Picture reducePicture(Picture &picture, const ReductionChoice &choice);

} // namespace doc
