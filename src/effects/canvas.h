#pragma once

// Working pictures of the transitions and the few ways of drawing on them.

#include "document/picture.h"
#include "document/quantize.h"

#include <optional>

namespace effects {

/** A new true-colour working picture of one colour (white unless told). */
doc::Picture workingPicture(int width, int height, doc::Rgb colour = {255, 255, 255});

/**
 * Writes colours into a picture of any form. An indexed picture keeps its colour table: each colour
 * written takes the nearest entry of it, as reduction would map it.
 */
class PixelWriter
{
public:
    explicit PixelWriter(doc::Picture &target);

    /** Writes `count` colours (r, g, b triples) from (x, y) rightwards; the caller clips. */
    void writeRow(int x, int y, const uint8_t *rgb, int count);
    void write(int x, int y, doc::Rgb colour);

private:
    doc::Picture &mTarget;
    std::optional<doc::NearestColorLookup> mLookup;
};

/** Colour of `count` pixels of row y from x rightwards, as r, g, b triples; the caller clips. */
void readRow(const doc::Picture &source, int x, int y, int count, uint8_t *rgb);

/** Draws `source` with its top-left corner at (x, y), clipped to `target`; nothing is transparent. */
void draw(doc::Picture &target, const doc::Picture &source, int x, int y);

/**
 * Stretch-draws `source` into the rectangle at (x, y) of the given size by nearest-neighbour
 * sampling, clipped to `target`. An empty rectangle or source draws nothing.
 */
void stretchDraw(doc::Picture &target, const doc::Picture &source, int x, int y, int width, int height);

/**
 * A new white working picture of the given size holding `source` drawn at (−x, −y): its part from
 * (x, y) on. Where `source` does not reach, the piece stays white.
 */
doc::Picture piece(const doc::Picture &source, int x, int y, int width, int height);

} // namespace effects
