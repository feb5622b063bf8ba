#pragma once

// The transition generators. Each one reads only what it is handed and gives its working
// pictures, in generation order, to `emit`; a failure is thrown and ends the run there.

#include "document/picture.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace effects {

enum class Effect {
    Scroll,         // Défilement: over a solid colour
    Replace,        // Remplacement: over the previous frame
    Wipe,           // Essuyage
    SplitVertical,  // Séparation verticale
    SplitHorizontal,// Séparation horizontale
    Dazzle,         // Éblouissement: the horizontal separation under another name
    Squeeze,        // Compression
    Fade,           // Fondu
    DissolveRandom, // Postérisation: random pixels of the current picture
    Dissolve,       // Dissolution: one copy of the previous frame
    Opacity,        // Opacité
};

/** What a generator reads. Pictures are copies: generation never touches the document. */
struct EffectInput {
    /** The picture the frame view holds for frame k (filters applied since included). */
    doc::Picture current;
    /** The document's own picture of frame k. */
    doc::Picture frame;
    /** Frame k − 1's picture; absent when frame k is the first (or nothing is selected). */
    std::optional<doc::Picture> previous;
    /** Frame k's size in the document. */
    int width = 0, height = 0;
    /** The logical screen. */
    int screenWidth = 0, screenHeight = 0;
    /** The frame view's size, which the squeeze fills. */
    int viewWidth = 0, viewHeight = 0;
};

/** The 32-bit seed the random dissolve takes before every pick. */
using SeedSource = std::function<uint32_t()>;

/** The seed of the machine's high-resolution clock, its low 32 bits. */
uint32_t clockSeed();

struct EffectSettings {
    /** N, the frame count of the dialog. */
    int count = 8;
    /** 0 left to right, 1 right to left, 2 top to bottom, 3 bottom to top. */
    int direction = 0;
    /** 0 left to right, 1 top to bottom. */
    int wipeDirection = 0;
    doc::Rgb colour{255, 255, 255};
    SeedSource seed = clockSeed;
};

using Emit = std::function<void(doc::Picture)>;

/** Why a generation stopped early: a division by a count of 0, or a picture it needs is missing. */
class EffectStopped : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/** N = round(duration × rate ÷ 100), halves to the even neighbour. */
int frameCount(int duration, int rate);

/** Delay of every generated frame, in hundredths of a second. */
int effectDelay(Effect effect);

/** Runs one generator. */
void generate(Effect effect, const EffectInput &input, const EffectSettings &settings, const Emit &emit);

void scroll(const EffectInput &input, const EffectSettings &settings, const Emit &emit);
void replace(const EffectInput &input, const EffectSettings &settings, const Emit &emit);
void wipe(const EffectInput &input, const EffectSettings &settings, const Emit &emit);
void splitVertical(const EffectInput &input, const EffectSettings &settings, const Emit &emit);
void splitHorizontal(const EffectInput &input, const EffectSettings &settings, const Emit &emit);
void squeeze(const EffectInput &input, const Emit &emit);
void fade(const EffectInput &input, const EffectSettings &settings, const Emit &emit);
void dissolveRandom(const EffectInput &input, const EffectSettings &settings, const Emit &emit);
void dissolve(const EffectInput &input, const Emit &emit);
void opacity(const EffectInput &input, const EffectSettings &settings, const Emit &emit);

/**
 * The random generator of the dissolve: s ← s × 134775813 + 1 (mod 2^32), then (s × n) >> 32,
 * a value 0 ≤ r < n (0 for n = 0).
 */
class LinearRandom
{
public:
    void reseed(uint32_t seed) { mSeed = seed; }
    uint32_t next(uint32_t n)
    {
        mSeed = mSeed * 134775813u + 1u;
        return uint32_t((uint64_t(mSeed) * n) >> 32);
    }

private:
    uint32_t mSeed = 0;
};

/** Blends `over` onto `under` (Rgb24) from their top-left corners, master opacity 0–255. */
void blend(doc::Picture &under, const doc::Picture &over, int opacity);

/** The names the command line uses, in Effect order. */
std::optional<Effect> effectFromName(std::string_view name);

} // namespace effects
