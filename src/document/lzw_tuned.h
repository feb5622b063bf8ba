#pragma once

#include "picture.h"

#include <cstdint>
#include <limits>
#include <vector>

namespace doc {

/** What the size-hunting LZW encoder may do beyond the plain greedy encoding. */
struct LzwTuning {
    /**
     * 0 keeps every index. Above 0 (up to 200), a string is extended while the next pixel's colour
     * lies within lossyRadius(lossy) of its own; the error made is carried along the row so
     * that flat areas dither rather than band. Needs `palette`.
     */
    int lossy = 0;
    const std::vector<Rgb> *palette = nullptr;
    /** An index that is never replaced by another one nor replaces one (-1: none). */
    int transparentIndex = -1;
    /**
     * One entry a pixel; a pixel whose entry is 1 shows the same whether written as its index or
     * as `transparentIndex`, and is written as whichever makes the strings longer (with lossy
     * tuning it may also take a colour near its own).
     */
    const std::vector<uint8_t> *mayBeTransparent = nullptr;
    /** The encoding is given up once its codes pass this many bytes (another way is known to be shorter). */
    std::size_t giveUpAfter = std::numeric_limits<std::size_t>::max();
};

/** LZW codes packed into bytes (no code size byte, no sub-blocks) and the largest index they hold. */
struct TunedCodes {
    std::vector<uint8_t> codes;
    uint8_t highest = 0;
    /** Given up at LzwTuning::giveUpAfter: `codes` are not usable. */
    bool abandoned = false;
};

/**
 * Encodes `indices` (rows of `width`, top down) clearing the table as soon as it is full and, when
 * it fills, again keeping the full table until its codes stop paying; returns the shorter. With
 * lossy tuning `indices` are replaced by what the returned codes decode to.
 */
TunedCodes encodeTunedLzw(std::vector<uint8_t> &indices, int width, int minCodeSize, const LzwTuning &tuning = {});

/** The highest lossy value; larger requests are clamped to it. */
inline constexpr int kMaxLossy = 200;

/**
 * How far (Euclidean distance in RGB, 0-255 a channel) a pixel may be written from its own colour
 * at a lossy value: 0 at 0, 14 at 20, 28 at 80, 44 at 200.
 */
int lossyRadius(int lossy);

} // namespace doc
