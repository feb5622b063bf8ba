// movaro-gif-cli effect: one transition generated in front of a frame, as the Effets menu does it.
#include "effect_command.h"

#include "cli_common.h"

#include "document/document_ops.h"
#include "document/gif_writer.h"
#include "effects/generation.h"

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace cli {

namespace {

struct EffectOptions
{
    std::string name;
    std::string in;
    std::string out;
    int frame = -1;
    int duration = 80;
    int rate = 10;
    int viewWidth = -1;
    int viewHeight = -1;
    std::optional<uint32_t> seed;
    effects::EffectSettings settings;
};

std::optional<doc::Rgb> parseColour(const std::string &text)
{
    const std::string digits = text.size() == 7 && text[0] == '#' ? text.substr(1) : text;
    if (digits.size() != 6 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return std::nullopt;
    const unsigned long v = std::stoul(digits, nullptr, 16);
    return doc::Rgb{uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

void effect(EffectOptions options)
{
    const effects::Effect effect = *effects::effectFromName(options.name);
    doc::TGIFImage image = readGif(options.in, true);
    const int frame = options.frame;
    if (frame >= image.count())
        throw std::runtime_error("--frame " + std::to_string(frame) + ": the animation has "
                                 + std::to_string(image.count()) + " frames");
    const uint16_t loops = keepPanelProperties(image)->loops;

    effects::EffectSettings &settings = options.settings;
    settings.count = effects::frameCount(options.duration, options.rate);
    if (options.seed) {
        // A counter standing in for the clock: every pick reseeds from the next value.
        settings.seed = [s = *options.seed]() mutable { return s++; };
    }
    const doc::TGIFSubImage &selected = image.frame(frame);
    const int viewWidth = options.viewWidth < 0 ? selected.width : options.viewWidth;
    const int viewHeight = options.viewWidth < 0 ? selected.height : options.viewHeight;
    const effects::EffectInput input = effects::inputFor(image, frame, image.picture(frame), viewWidth, viewHeight);
    const effects::GenerationResult result = effects::generateFrames(image, frame, effect, input, settings);
    if (effect == effects::Effect::Scroll && result.completed)
        doc::LoopExtension(&image)->loops = loops;
    writeGif(options.out, [&](const std::string &path) { doc::saveToFile(image, path); });
}

} // namespace

void addEffectCommand(CLI::App &tool)
{
    auto options = std::make_shared<EffectOptions>();
    CLI::App *command = tool.add_subcommand("effect", "Generate a transition in front of a frame, as the Effets menu does");
    command->add_option("NAME", options->name, "scroll, replace, wipe, split-v, split-h, dazzle, squeeze, fade, "
                                               "dissolve-random, dissolve or opacity")
        ->required()
        ->check(CLI::Validator(
            [](std::string &name) {
                return effects::effectFromName(name) ? std::string() : "no effect named \"" + name + "\"";
            },
            "EFFECT"));
    command->add_option("IN", options->in, kInHelp)->required();
    command->add_option("OUT", options->out, kOutHelp)->required();
    command->add_option("--frame", options->frame, "Index of the frame the transition leads to, from 0")
        ->required()
        ->check(CLI::Range(0, 65535));
    command->add_option("--duration", options->duration, "Duration in hundredths of a second (default 80)")
        ->check(CLI::Range(1, 200));
    command->add_option("--rate", options->rate, "Frames per second (default 10)")->check(CLI::Range(1, 30));
    command->add_option("--direction", options->settings.direction, "Direction, 0 to 3")->check(CLI::Range(0, 3));
    command->add_option("--wipe", options->settings.wipeDirection, "Wipe direction, 0 or 1")->check(CLI::Range(0, 1));
    command
        ->add_option_function<std::string>(
            "--colour",
            [options](const std::string &text) {
                const std::optional<doc::Rgb> colour = parseColour(text);
                if (!colour)
                    throw CLI::ValidationError("--colour", "RRGGBB in hexadecimal, not \"" + text + "\"");
                options->settings.colour = *colour;
            },
            "Start from this colour instead of the previous frame")
        ->type_name("RRGGBB");
    command
        ->add_option_function<std::string>(
            "--view",
            [options](const std::string &text) {
                const auto x = text.find('x');
                std::string width = text.substr(0, x);
                std::string height = x == std::string::npos ? std::string() : text.substr(x + 1);
                CLI::Range side(1, 65535);
                if (!side(width).empty() || !side(height).empty())
                    throw CLI::ValidationError("--view", "WxH, not \"" + text + "\"");
                options->viewWidth = std::stoi(width);
                options->viewHeight = std::stoi(height);
            },
            "Size of the view the transition fills (default: the frame's size)")
        ->type_name("WxH");
    command->add_option("--seed", options->seed, "Seed of the random dissolve, for repeatable results");
    command->callback([options] { effect(*options); });
}

} // namespace cli
