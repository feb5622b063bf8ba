// movaro-gif-cli make: an animation from picture files (or a clip), as the wizard builds one.
#include "make_command.h"

#include "cli_common.h"
#include "make_video.h"

#include "document/document_ops.h"
#include "document/gif_writer.h"
#include "document/quantize.h"
#include "document/formats/picture_formats.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace cli {

namespace {

using namespace doc;

struct MakeOptions
{
    long long delay = 60;
    unsigned loops = 0;
    std::optional<std::string> comment;
    std::string out;
    std::vector<std::string> pictures;
    VideoOptions video;
};

void makeFromPictures(const MakeOptions &options)
{
    const std::vector<std::string> &pictures = options.pictures;
    // Pictures are read and reduced on a few threads (each one alone), then appended in order:
    // the same frames AddImage makes, since it reduces and then appends.
    const std::size_t workers = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4);
    std::vector<std::future<Picture>> reduced(pictures.size());
    auto reduce = [](const std::string &path) {
        try {
            Picture picture = formats::readPicture(path);
            return ReduceBitmapColors(picture, ReductionMode::OctreeQuantize, DitherMode::NearestColor, 8);
        } catch (const std::exception &e) {
            throw FileError(path + ": Echec lors de l'ajout de l'image. (" + e.what() + ")");
        }
    };
    TGIFImage image;
    Progress progress("make");
    std::size_t next = 0;
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        while (next < pictures.size() && next < i + workers) {
            reduced[next] = std::async(std::launch::async, reduce, pictures[next]);
            ++next;
        }
        InsertImage(image, reduced[i].get(), options.delay, image.count());
        progress.step(i + 1, pictures.size());
    }
    LoopExtension(&image)->loops = uint16_t(options.loops & 0xFFFF);
    if (options.comment)
        storeCommentText(image, *options.comment);
    writeGif(options.out, [&](const std::string &path) { saveToFile(image, path); });
}

} // namespace

void addMakeCommand(CLI::App &tool)
{
    auto options = std::make_shared<MakeOptions>();
    CLI::App *command = tool.add_subcommand(
        "make", "Build an animation from pictures (one frame each, in order) or from a clip (--video)");
    CLI::Option *delay = command->add_option("-d,--delay", options->delay,
                                             "Every frame's delay in hundredths of a second (default 60)");
    command
        ->add_option_function<std::string>(
            "-l,--loops",
            [options](const std::string &v) {
                if (v == "forever") {
                    options->loops = 0;
                    return;
                }
                unsigned long long n = 0;
                const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
                if (ec != std::errc() || end != v.data() + v.size())
                    throw CLI::ValidationError("--loops", "a loop count or forever, not \"" + v + "\"");
                options->loops = unsigned(n & 0xFFFF);
            },
            "Loop count, or forever (the default, stored as 0)")
        ->type_name("COUNT|forever");
    CLI::Option *comment = command->add_option("-c,--comment", options->comment, "The animation's comment");
    command->add_option("-o,--output", options->out, kOutHelp)->required();
    CLI::Option *pictures = command->add_option("PICTURE", options->pictures, "Picture files, one frame each");
    CLI::Option *video = addVideoOptions(*command, options->video);
    video->excludes(pictures)->excludes(delay)->excludes(comment);
    command->callback([options, video] {
        if (*video)
            makeVideo(options->video, options->loops, options->out);
        else if (options->pictures.empty())
            throw CLI::RequiredError("PICTURE (or --video CLIP)");
        else
            makeFromPictures(*options);
    });
}

} // namespace cli
