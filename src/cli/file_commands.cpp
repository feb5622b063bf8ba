// movaro-gif-cli open, optimize and frames: the File commands of the editor, without a window.
#include "file_commands.h"

#include "cli_common.h"
#include "png_output.h"

#include "document/composer.h"
#include "document/document_ops.h"
#include "document/gif_optimize.h"
#include "document/gif_optimize_deep.h"
#include "document/lzw_tuned.h"
#include "document/gif_writer.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace cli {

namespace {

using namespace doc;

struct InOut
{
    std::string in;
    std::string out;
};

void open(const InOut &files)
{
    TGIFImage image = readGif(files.in, true);
    keepPanelProperties(image);
    writeGif(files.out, [&](const std::string &path) { saveToFile(image, path); });
}

struct OptimizeOptions
{
    InOut files;
    int level = 1;
    int lossy = 0;
};

void optimize(const OptimizeOptions &options)
{
    const TGIFImage image = readGif(options.files.in, false);
    writeGif(options.files.out, [&](const std::string &path) {
        if (options.level >= 2)
            saveDeepOptimizedToFile(image, path, DeepOptions{options.lossy});
        else
            saveOptimizedToFile(image, path);
    });
}

void addOptimize(CLI::App &tool)
{
    auto options = std::make_shared<OptimizeOptions>();
    CLI::App *command = tool.add_subcommand("optimize", "The optimised save: the same animation in fewer bytes");
    command->add_option("IN", options->files.in, kInHelp)->required();
    command->add_option("OUT", options->files.out, kOutHelp)->required();
    CLI::Option *level =
        command
            ->add_option("--level", options->level,
                         "1: the editor's optimised save (default); 2: every frame rewritten as what "
                         "changes on screen, smaller still, the same animation")
            ->check(CLI::Range(1, 2));
    CLI::Option *lossy =
        command
            ->add_option("--lossy", options->lossy,
                         "0-200: let colours drift by up to this much for fewer bytes (0: exact; implies --level 2)")
            ->check(CLI::Range(0, kMaxLossy));
    command->callback([options, level, lossy] {
        if (*lossy && !*level)
            options->level = 2;
        else if (options->lossy > 0 && options->level < 2)
            throw CLI::ValidationError("--lossy", "needs --level 2");
        optimize(*options);
    });
}

void frames(const InOut &files)
{
    const TGIFImage image = readGif(files.in, false);
    try {
        std::filesystem::create_directories(files.out);
    } catch (const std::exception &e) {
        throw FileError(files.out + ": " + e.what());
    }
    FrameComposer composer(image);
    Progress progress("frames");
    // One picture per image of the file: records after the last image are no frame of their own.
    for (int i = 0; i < composer.count(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "frame-%04d.png", i);
        const std::string path = (std::filesystem::path(files.out) / name).string();
        try {
            writePng(composer.ComposedFrame(i), path);
        } catch (const std::exception &e) {
            throw FileError(path + ": " + e.what());
        }
        progress.step(std::size_t(i + 1), std::size_t(composer.count()));
    }
}

CLI::App *addInOut(CLI::App &tool, const char *name, const char *description, const char *outHelp,
                   void (*run)(const InOut &))
{
    auto files = std::make_shared<InOut>();
    CLI::App *command = tool.add_subcommand(name, description);
    command->add_option("IN", files->in, kInHelp)->required();
    command->add_option("OUT", files->out, outHelp)->required();
    command->callback([files, run] { run(*files); });
    return command;
}

} // namespace

void addFileCommands(CLI::App &tool)
{
    addInOut(tool, "open",
             "Open then Save, as in the editor: every frame composed whole, looping and comment kept",
             kOutHelp, open);
    addOptimize(tool);
    addInOut(tool, "frames", "Every composed frame as DIR/frame-0000.png ...",
             "Folder for the PNG files (created when missing)", frames);
}

} // namespace cli
