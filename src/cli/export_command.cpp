// movaro-gif-cli export: the editor's "Exporter..." dialog without a window: the file the chosen
// settings write, its size and what each frame costs, or the settings that fit under a size.
#include "export_command.h"

#include "cli_common.h"

#include "document/gif_export.h"
#include "document/lzw_tuned.h"

#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace cli {

namespace {

using namespace doc;

struct ExportOptions
{
    std::string in;
    std::string out;
    ExportSettings settings;
    std::optional<double> fitUnderKb;
    bool sizes = false;
};

const char *ditherName(Dithering d)
{
    switch (d) {
    case Dithering::FloydSteinberg:
        return "fs";
    case Dithering::Ordered:
        return "ordered";
    case Dithering::None:
        break;
    }
    return "none";
}

void exportFile(const ExportOptions &options)
{
    // The document as the editor holds it once opened, so that the file is the one the dialog writes.
    TGIFImage image = readGif(options.in, true);
    keepPanelProperties(image);
    Exporter exporter(std::move(image));
    ExportSettings settings = normalized(options.settings);
    // Everything goes to stderr when the file itself goes to standard output.
    FILE *report = options.out == "-" ? stderr : stdout;
    bool fitMet = true;
    std::size_t fitTarget = 0;
    if (options.fitUnderKb) {
        const auto target = std::size_t(*options.fitUnderKb * 1000.0);
        const FitResult fit = exporter.fitUnder(settings, target);
        settings = fit.settings;
        fitMet = fit.met;
        fitTarget = target;
        std::fprintf(report, "%s %zu bytes (%.1f KB)\n", fit.met ? "fits under" : "cannot fit under", target,
                     double(target) / 1000.0);
        std::string given;
        if (settings.lossy > options.settings.lossy)
            given += " lossy " + std::to_string(settings.lossy) + ";";
        if (settings.colours < normalized(options.settings).colours)
            given += " colours " + std::to_string(settings.colours) + ";";
        if (fit.framesKept < fit.framesBefore)
            given += " " + std::to_string(fit.framesBefore - fit.framesKept) + " of " + std::to_string(fit.framesBefore)
                     + " frames dropped;";
        std::fprintf(report, "given up:%s\n", given.empty() ? " nothing" : given.c_str());
    }
    const auto result = exporter.exact(settings);
    std::fprintf(report, "level %d, lossy %d, colours %d, dither %s, drop every %d\n", settings.level,
                 settings.lossy, settings.colours, ditherName(settings.dither), settings.dropEvery);
    std::fprintf(report, "size: %zu bytes\n", result->size());
    if (options.sizes)
        for (std::size_t i = 0; i < result->frameBytes.size(); ++i)
            std::fprintf(report, "frame %zu: %zu bytes\n", i, result->frameBytes[i]);
    writeGif(options.out, [&](const std::string &path) { saveExport(*result, path); });
    // The smallest file found is written, but the size asked for was not reached: not a success.
    if (options.fitUnderKb && !fitMet)
        throw FileError(displayName(options.out) + ": larger than " + std::to_string(fitTarget) + " bytes");
}

} // namespace

void addExportCommand(CLI::App &tool)
{
    auto options = std::make_shared<ExportOptions>();
    CLI::App *command = tool.add_subcommand(
        "export", "The editor's export: the file for a level, lossy value, colours and dithering, its size "
                  "and each frame's bytes, or the settings that fit under a size");
    command->add_option("IN", options->in, kInHelp)->required();
    command->add_option("OUT", options->out, kOutHelp)->required();
    command->add_option("--level", options->settings.level, "0 the plain save, 1 optimised, 2 optimised further (default)")
        ->check(CLI::Range(0, 2));
    command->add_option("--lossy", options->settings.lossy, "0-200: colours may drift by this much (level 2)")
        ->check(CLI::Range(0, kMaxLossy));
    command->add_option("--colours", options->settings.colours, "2-256: one palette of this many colours for every frame")
        ->check(CLI::Range(2, 256));
    const std::map<std::string, Dithering> dithers{
        {"none", Dithering::None}, {"fs", Dithering::FloydSteinberg}, {"ordered", Dithering::Ordered}};
    command->add_option("--dither", options->settings.dither, "none (default), fs (Floyd-Steinberg) or ordered")
        ->transform(CLI::CheckedTransformer(dithers, CLI::ignore_case));
    command->add_option("--drop-every", options->settings.dropEvery, "Drop every N-th frame (N >= 2), its delay going to the frame before")
        ->check(CLI::Range(2, 65535));
    command->add_option("--fit-under", options->fitUnderKb,
                        "Find the settings that make the file at most this many KB (1 KB = 1000 bytes): a higher "
                        "lossy value, then fewer colours, then fewer frames")
        ->check(CLI::PositiveNumber);
    command->add_flag("--sizes", options->sizes, "Print the bytes each frame of the file takes");
    command->callback([options] {
        if (options->settings.lossy > 0 && options->settings.level < 2)
            throw CLI::ValidationError("--lossy", "needs --level 2");
        exportFile(*options);
    });
}

} // namespace cli
