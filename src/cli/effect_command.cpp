// movaro-gif-cli effect: one transition generated in front of a frame, as the Effets menu does it.
#include "effect_command.h"

#include "document/document_ops.h"
#include "document/gif_writer.h"
#include "document/open_document.h"
#include "effects/generation.h"

#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace cli {

namespace {

int integer(const std::string &option, const std::string &text, int low, int high)
{
    std::size_t used = 0;
    int value = 0;
    try {
        value = std::stoi(text, &used);
    } catch (const std::exception &) {
        used = 0;
    }
    if (used != text.size() || text.empty() || value < low || value > high)
        throw std::runtime_error(option + " wants a whole number from " + std::to_string(low) + " to "
                                 + std::to_string(high) + ", not \"" + text + "\"");
    return value;
}

doc::Rgb colour(const std::string &text)
{
    const std::string digits = text.size() == 7 && text[0] == '#' ? text.substr(1) : text;
    if (digits.size() != 6 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        throw std::runtime_error("--colour wants RRGGBB in hexadecimal, not \"" + text + "\"");
    const unsigned long v = std::stoul(digits, nullptr, 16);
    return {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

} // namespace

int effect(int argc, char **argv)
{
    std::vector<std::string> positional;
    int frame = -1;
    int duration = 80, rate = 10;
    int viewWidth = -1, viewHeight = -1;
    std::optional<uint32_t> seed;
    effects::EffectSettings settings;
    for (int i = 0; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--", 0) != 0) {
            positional.push_back(a);
            continue;
        }
        if (i + 1 >= argc)
            throw std::runtime_error("missing value after " + a);
        const std::string v = argv[++i];
        if (a == "--frame") {
            frame = integer(a, v, 0, 65535);
        } else if (a == "--duration") {
            duration = integer(a, v, 1, 200);
        } else if (a == "--rate") {
            rate = integer(a, v, 1, 30);
        } else if (a == "--direction") {
            settings.direction = integer(a, v, 0, 3);
        } else if (a == "--wipe") {
            settings.wipeDirection = integer(a, v, 0, 1);
        } else if (a == "--colour") {
            settings.colour = colour(v);
        } else if (a == "--view") {
            const auto x = v.find('x');
            if (x == std::string::npos)
                throw std::runtime_error("--view wants WxH, not \"" + v + "\"");
            viewWidth = integer(a, v.substr(0, x), 1, 65535);
            viewHeight = integer(a, v.substr(x + 1), 1, 65535);
        } else if (a == "--seed") {
            seed = uint32_t(std::stoul(v));
        } else {
            throw std::runtime_error("unknown option " + a);
        }
    }
    if (positional.size() != 3 || frame < 0)
        throw std::runtime_error("usage: effect NAME IN.gif OUT.gif --frame K [options]");
    const std::optional<effects::Effect> effect = effects::effectFromName(positional[0]);
    if (!effect)
        throw std::runtime_error("unknown effect \"" + positional[0]
                                 + "\" (scroll, replace, wipe, split-v, split-h, dazzle, squeeze, fade, "
                                   "dissolve-random, dissolve, opacity)");

    doc::TGIFImage image = doc::openForEditing(positional[1]);
    if (frame >= image.count())
        throw std::runtime_error("--frame " + std::to_string(frame) + ": the animation has "
                                 + std::to_string(image.count()) + " frames");
    // What the properties panel shows after opening: the looping and the comment.
    const uint16_t loops = doc::LoopExtension(&image)->loops;
    doc::storeCommentLines(image, doc::splitLines(doc::joinLines(doc::commentLines(image))));

    settings.count = effects::frameCount(duration, rate);
    if (seed) {
        // A counter standing in for the clock: every pick reseeds from the next value.
        settings.seed = [s = *seed]() mutable { return s++; };
    }
    const doc::TGIFSubImage &selected = image.frame(frame);
    if (viewWidth < 0) {
        viewWidth = selected.width;
        viewHeight = selected.height;
    }
    const effects::EffectInput input =
        effects::inputFor(image, frame, image.picture(frame), viewWidth, viewHeight);
    const effects::GenerationResult result = effects::generateFrames(image, frame, *effect, input, settings);
    if (*effect == effects::Effect::Scroll && result.completed)
        doc::LoopExtension(&image)->loops = loops;
    doc::saveToFile(image, positional[2]);
    return 0;
}

} // namespace cli
