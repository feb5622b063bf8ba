#include "transitions.h"

#include "canvas.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>

namespace effects {

using doc::Picture;
using doc::PixelFormat;

namespace {

/** Nearest integer, halves to the even neighbour (the default floating-point rounding). */
long long roundEven(double x)
{
    return std::llrint(x);
}

/** The divisor of the step formulas: a count of 0 stops the effect at its first frame. */
int divisor(int count)
{
    if (count <= 0)
        throw EffectStopped("division by zero");
    return count;
}

const Picture &previousOf(const EffectInput &input)
{
    if (!input.previous || input.previous->isNull())
        throw EffectStopped("no previous frame");
    return *input.previous;
}

/** Where the scrolled picture stands for step n of N. */
std::array<int, 2> scrollPosition(const EffectInput &input, const EffectSettings &settings, int n)
{
    const int count = divisor(settings.count);
    const int sx = n * (input.width / count) - input.width;
    const int sy = n * (input.height / count) - input.height;
    switch (settings.direction) {
    case 0:
        return {sx, 0};
    case 1:
        return {-sx, 0};
    case 2:
        return {0, sy};
    case 3:
        return {0, -sy};
    }
    throw std::invalid_argument("direction must be 0 to 3");
}

/** The two separations: `vertical` splits the previous picture along a row, else along a column. */
void split(const EffectInput &input, const EffectSettings &settings, const Emit &emit, bool vertical)
{
    const int n = settings.count;
    if (n <= 0)
        return;
    const Picture &p = previousOf(input);
    const int w = input.current.width(), h = input.current.height();
    const int extent = vertical ? h : w;
    const int half = int(roundEven(extent / 2.0));
    // Both bands are white where the previous picture does not reach (it is smaller than the
    // current one); beyond the current picture's size it is not read.
    const Picture first = vertical ? piece(p, 0, 0, w, half) : piece(p, 0, 0, half, h);
    const Picture second = vertical ? piece(p, 0, half, w, h - half) : piece(p, half, 0, w - half, h);
    const double step = extent / (2.0 * n);
    for (int j = n; j >= 1; --j) {
        Picture work = input.current;
        const int t = int(roundEven(j * step));
        if (vertical) {
            draw(work, first, 0, -t);
            draw(work, second, 0, half + t);
        } else {
            draw(work, first, -t, 0);
            draw(work, second, half + t, 0);
        }
        emit(std::move(work));
    }
}

} // namespace

uint32_t clockSeed()
{
    return uint32_t(std::chrono::steady_clock::now().time_since_epoch().count());
}

int frameCount(int duration, int rate)
{
    return int(roundEven(double(duration) * double(rate) / 100.0));
}

int effectDelay(Effect effect)
{
    return effect == Effect::Squeeze ? 8 : 0;
}

void scroll(const EffectInput &input, const EffectSettings &settings, const Emit &emit)
{
    for (int n = settings.count; n >= 0; --n) {
        const auto [x, y] = scrollPosition(input, settings, n);
        Picture work = workingPicture(input.width, input.height, settings.colour);
        draw(work, input.current, x, y);
        emit(std::move(work));
    }
}

void replace(const EffectInput &input, const EffectSettings &settings, const Emit &emit)
{
    const Picture &p = previousOf(input);
    for (int n = settings.count; n >= 0; --n) {
        const auto [x, y] = scrollPosition(input, settings, n);
        Picture work = workingPicture(input.width, input.height);
        draw(work, p, 0, 0);
        draw(work, input.current, x, y);
        emit(std::move(work));
    }
}

void wipe(const EffectInput &input, const EffectSettings &settings, const Emit &emit)
{
    for (int b = 0; b <= settings.count; ++b) {
        const int count = divisor(settings.count);
        // A copy of the previous picture keeps its colour table: the band takes its nearest colours.
        Picture work = previousOf(input);
        const bool across = settings.wipeDirection == 0;
        const int bandWidth = across ? input.width - b * (input.width / count) : input.width;
        const int bandHeight = across ? input.height : input.height - b * (input.height / count);
        if (bandWidth > 0 && bandHeight > 0)
            draw(work, piece(input.current, 0, 0, bandWidth, bandHeight), 0, 0);
        emit(std::move(work));
    }
}

void splitVertical(const EffectInput &input, const EffectSettings &settings, const Emit &emit)
{
    split(input, settings, emit, true);
}

void splitHorizontal(const EffectInput &input, const EffectSettings &settings, const Emit &emit)
{
    split(input, settings, emit, false);
}

void squeeze(const EffectInput &input, const Emit &emit)
{
    const int vw = input.viewWidth, vh = input.viewHeight;
    const long long band = roundEven(vw / 13.0);
    for (int i = 1; i <= 13; ++i) {
        Picture work = workingPicture(vw, vh, {0, 0, 0});
        const long long a = i * band;
        const long long l = roundEven(vw / 2.0 - double(a) / 2.0);
        stretchDraw(work, input.current, int(l), 0, int(vw - 2 * l), vh);
        emit(std::move(work));
    }
}

void blend(Picture &under, const Picture &over, int opacity)
{
    if (opacity <= 0)
        return;
    // Every picture blended here is opaque, so the source's alpha weight equals the opacity and
    // the destination's alpha stays 255.
    const int a = ((255 + 1) * opacity) >> 8;
    const int w = std::min(under.width(), over.width());
    const int h = std::min(under.height(), over.height());
    if (w <= 0 || h <= 0)
        return;
    std::vector<uint8_t> source(std::size_t(w) * 3);
    for (int y = 0; y < h; ++y) {
        readRow(over, 0, y, w, source.data());
        uint8_t *b = under.row(y);
        const uint8_t *f = source.data();
        for (int i = 0; i < w * 3; ++i)
            b[i] = uint8_t((256 * b[i] + a * (f[i] - b[i]) + 128) >> 8);
    }
}

void fade(const EffectInput &input, const EffectSettings &settings, const Emit &emit)
{
    const Picture &p = previousOf(input);
    Picture c = input.frame.toRgb24();
    const int n = settings.count;
    for (int j = 0; j <= n; ++j) {
        blend(c, p, int(roundEven(255.0 * j / (n + 1))));
        emit(c);
    }
}

void dissolveRandom(const EffectInput &input, const EffectSettings &settings, const Emit &emit)
{
    Picture a = previousOf(input);
    const int ws = input.screenWidth, hs = input.screenHeight;
    Picture b = workingPicture(ws, hs);
    draw(b, input.current, 0, 0);
    const long long q = roundEven(double(ws) * double(hs) / divisor(settings.count));

    LinearRandom random;
    PixelWriter writer(a);
    uint8_t rgb[3];
    for (int j = 0; j <= settings.count; ++j) {
        for (long long pick = 0; pick <= q; ++pick) {
            random.reseed(settings.seed());
            const int x = int(random.next(uint32_t(std::max(ws - 1, 0))));
            const int y = int(random.next(uint32_t(std::max(hs - 1, 0))));
            // Picks are made on the logical screen; those outside the previous frame are dropped.
            if (x >= a.width() || y >= a.height())
                continue;
            readRow(b, x, y, 1, rgb);
            writer.writeRow(x, y, rgb, 1);
        }
        emit(a);
    }
}

void dissolve(const EffectInput &input, const Emit &emit)
{
    emit(previousOf(input));
}

void opacity(const EffectInput &input, const EffectSettings &settings, const Emit &emit)
{
    const int n = settings.count;
    for (int j = 0; j <= n; ++j) {
        // The opacity goes into the alpha channel, which colour reduction does not read.
        const auto alpha = uint8_t(roundEven(double(j) / divisor(n) * 255.0));
        Picture work = workingPicture(input.width, input.height);
        draw(work, input.current, 0, 0);
        Picture out = work.toRgba32();
        for (std::size_t i = 3; i < out.data().size(); i += 4)
            out.data()[i] = alpha;
        emit(std::move(out));
    }
}

void generate(Effect effect, const EffectInput &input, const EffectSettings &settings, const Emit &emit)
{
    switch (effect) {
    case Effect::Scroll:
        return scroll(input, settings, emit);
    case Effect::Replace:
        return replace(input, settings, emit);
    case Effect::Wipe:
        return wipe(input, settings, emit);
    case Effect::SplitVertical:
        return splitVertical(input, settings, emit);
    case Effect::SplitHorizontal:
    case Effect::Dazzle:
        return splitHorizontal(input, settings, emit);
    case Effect::Squeeze:
        return squeeze(input, emit);
    case Effect::Fade:
        return fade(input, settings, emit);
    case Effect::DissolveRandom:
        return dissolveRandom(input, settings, emit);
    case Effect::Dissolve:
        return dissolve(input, emit);
    case Effect::Opacity:
        return opacity(input, settings, emit);
    }
}

std::optional<Effect> effectFromName(std::string_view name)
{
    static constexpr std::array<std::string_view, 11> names{
        "scroll", "replace", "wipe", "split-v", "split-h", "dazzle",
        "squeeze", "fade", "dissolve-random", "dissolve", "opacity"};
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == name)
            return Effect(i);
    return std::nullopt;
}

} // namespace effects
