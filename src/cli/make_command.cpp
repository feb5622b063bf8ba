// movaro-gif-cli make: an animation from picture files (or a clip), as the wizard builds one.
#include "make_command.h"

#include "cli_common.h"
#include "make_video.h"

#include "document/document_ops.h"
#include "document/gif_error.h"
#include "document/gif_optimize.h"
#include "document/gif_optimize_deep.h"
#include "document/gif_writer.h"
#include "document/quantize_quality.h"
#include "document/formats/picture_formats.h"

#include <algorithm>
#include <charconv>
#include <map>
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
    ReductionChoice reduction;
    int level = 0;
};

Picture readForFrame(const std::string &path)
{
    try {
        Picture picture = formats::readPicture(path);
        if (picture.isNull())
            throw GifError(GifErrorKind::InvalidDimensions);
        return picture.format() == PixelFormat::Rgb24 ? std::move(picture) : picture.toRgb24();
    } catch (const std::exception &e) {
        throw FileError(path + ": Echec lors de l'ajout de l'image. (" + e.what() + ")");
    }
}

/**
 * Runs job(i) for every picture on a few threads (each picture alone) and hands the results to
 * done(i, result) in order, on this thread.
 */
template <typename Job, typename Done>
void inOrder(std::size_t count, Job job, Done done)
{
    const std::size_t workers = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4);
    std::vector<std::future<Picture>> results(count);
    std::size_t next = 0;
    for (std::size_t i = 0; i < count; ++i) {
        while (next < count && next < i + workers) {
            results[next] = std::async(std::launch::async, job, next);
            ++next;
        }
        done(i, results[i].get());
    }
}

/**
 * The pictures reduced with one palette made from all of them: what stays still on screen keeps
 * its index from frame to frame, so the optimiser finds it unchanged. The pictures are read twice
 * rather than held, beyond what a bounded amount of memory keeps.
 */
std::vector<Picture> reduceWithOnePalette(const std::vector<std::string> &pictures, Dithering dither, Progress &progress)
{
    constexpr std::size_t kHeldBytes = std::size_t(256) << 20;
    ColorHistogram histogram;
    std::vector<std::optional<Picture>> held(pictures.size());
    std::size_t heldBytes = 0;
    inOrder(
        pictures.size(), [&](std::size_t i) { return readForFrame(pictures[i]); },
        [&](std::size_t i, Picture picture) {
            histogram.add(picture);
            if (heldBytes + picture.data().size() <= kHeldBytes) {
                heldBytes += picture.data().size();
                held[i] = std::move(picture);
            }
            progress.step(i + 1, 2 * pictures.size());
        });
    // 255 colours leave the optimiser an index for transparency beside them, so the palette can
    // be the file's global table; the exact colours when there are no more than 256.
    std::vector<Rgb> palette = histogram.fewColors();
    if (palette.empty())
        palette = histogram.bestPalette(255);
    const PaletteMapper mapper(palette);
    std::vector<Picture> frames(pictures.size());
    // Error diffusion carries a change on into pixels that did not change, so every frame after
    // a small change would differ all over and the optimiser would find nothing to keep. Where a
    // picture keeps some of the one before unchanged, its frame is the frame before with the
    // changed rectangle dithered again, unchanged pixels keeping their index; that needs the
    // frame before, so it is done in order. Nearest and ordered mapping depend on the pixel alone.
    const bool onlyChanges = dither == Dithering::FloydSteinberg;
    std::vector<std::optional<ChangedRect>> changed(pictures.size());
    inOrder(
        pictures.size(),
        [&](std::size_t i) {
            if (onlyChanges && i > 0 && held[i] && held[i - 1]) {
                // A pan changes nearly everything: such a picture is dithered whole, beside the others.
                if (const auto rect = changesToDither(*held[i - 1], *held[i])) {
                    changed[i] = rect;
                    return Picture();
                }
            }
            const Picture read = held[i] ? Picture() : readForFrame(pictures[i]);
            Picture reduced = mapper.map(held[i] ? *held[i] : read, dither);
            reduced.palette().resize(256, Rgb{});
            return reduced;
        },
        [&](std::size_t i, Picture reduced) {
            if (const auto &rect = changed[i]) {
                frames[i] = frames[i - 1];
                mapper.ditherChanges(*held[i], *held[i - 1], frames[i], rect->x, rect->y, rect->w, rect->h);
            } else {
                frames[i] = std::move(reduced);
            }
            // The next job and this step read the picture before when only changes are dithered.
            if (!onlyChanges)
                held[i].reset();
            else if (i > 0)
                held[i - 1].reset();
            progress.step(pictures.size() + i + 1, 2 * pictures.size());
        });
    return frames;
}

void makeFromPictures(const MakeOptions &options)
{
    const std::vector<std::string> &pictures = options.pictures;
    TGIFImage image;
    Progress progress("make");
    if (options.reduction.quality == PaletteQuality::Best) {
        std::vector<Picture> frames = reduceWithOnePalette(pictures, options.reduction.dither, progress);
        for (Picture &frame : frames) {
            InsertImage(image, std::move(frame), options.delay, image.count());
        }
    } else {
        // Each picture reduced alone, then appended in order: the same frames AddImage makes,
        // since it reduces and then appends.
        const ReductionChoice choice = options.reduction;
        inOrder(
            pictures.size(),
            [&](std::size_t i) {
                Picture picture = readForFrame(pictures[i]);
                try {
                    return reducePicture(picture, choice);
                } catch (const std::exception &e) {
                    throw FileError(pictures[i] + ": Echec lors de l'ajout de l'image. (" + e.what() + ")");
                }
            },
            [&](std::size_t i, Picture reduced) {
                InsertImage(image, std::move(reduced), options.delay, image.count());
                progress.step(i + 1, pictures.size());
            });
    }
    LoopExtension(&image)->loops = uint16_t(options.loops & 0xFFFF);
    if (options.comment)
        storeCommentText(image, *options.comment);
    writeGif(options.out, [&](const std::string &path) {
        if (options.level >= 2)
            saveDeepOptimizedToFile(image, path);
        else if (options.level == 1)
            saveOptimizedToFile(image, path);
        else
            saveToFile(image, path);
    });
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
    const std::map<std::string, PaletteQuality> qualities{{"octree", PaletteQuality::Octree}, {"best", PaletteQuality::Best}};
    CLI::Option *quality =
        command->add_option("--quality", options->reduction.quality, "octree (the editor's, default, one palette a picture) or best (one refined palette for every frame)")
            ->transform(CLI::CheckedTransformer(qualities, CLI::ignore_case));
    const std::map<std::string, Dithering> dithers{
        {"none", Dithering::None}, {"fs", Dithering::FloydSteinberg}, {"ordered", Dithering::Ordered}};
    CLI::Option *dither =
        command->add_option("--dither", options->reduction.dither, "none (default), fs (Floyd-Steinberg) or ordered")
            ->transform(CLI::CheckedTransformer(dithers, CLI::ignore_case));
    CLI::Option *level = command
                             ->add_option("--level", options->level,
                                          "Save plainly (0, default), optimised (1) or optimised at level 2 (2)")
                             ->check(CLI::Range(0, 2));
    command->add_option("-o,--output", options->out, kOutHelp)->required();
    CLI::Option *pictures = command->add_option("PICTURE", options->pictures, "Picture files, one frame each");
    CLI::Option *video = addVideoOptions(*command, options->video);
    video->excludes(pictures)->excludes(delay)->excludes(comment)->excludes(quality)->excludes(dither)->excludes(level);
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
