// movaro-gif-cli make --video: an animation from a range of a video clip, through the same
// import engine the editor's video dialog uses.
#include "make_video.h"

#include "cli_common.h"

#include "document/document_ops.h"
#include "document/gif_writer.h"

#include <map>
#include <stdexcept>

namespace cli {

CLI::Option *addVideoOptions(CLI::App &make, VideoOptions &options)
{
    CLI::Option *video = make.add_option("--video", options.clip, "Video clip to take the frames from");
    video->check(CLI::ExistingFile);
    const auto needsVideo = [&](CLI::Option *o) { o->needs(video); };
    needsVideo(make.add_option("--start", options.settings.start, "Start of the range, in seconds (default 0)")
                   ->check(CLI::NonNegativeNumber));
    needsVideo(make.add_option("--end", options.settings.end, "End of the range, in seconds (default: the clip's end)")
                   ->check(CLI::NonNegativeNumber));
    needsVideo(make.add_option("--fps", options.settings.fps, "Frames per second of the animation (default 10)")
                   ->check(CLI::Range(video::kMinFps, video::kMaxFps)));
    needsVideo(make.add_option("--width", options.settings.width, "Width of the frames, the height in proportion "
                                                                 "(default: the clip's own size)")
                   ->check(CLI::Range(0, 65535)));
    const std::map<std::string, doc::ReductionMode> modes{{"octree", doc::ReductionMode::OctreeQuantize},
                                                          {"grayscale", doc::ReductionMode::GrayScale},
                                                          {"websafe", doc::ReductionMode::WebSafeCube}};
    needsVideo(make.add_option("--colors", options.settings.mode, "Colour reduction: octree (default), grayscale "
                                                                  "or websafe")
                   ->transform(CLI::CheckedTransformer(modes).description(""))
                   ->type_name("octree|grayscale|websafe"));
    return video;
}

void makeVideo(const VideoOptions &options, unsigned loops, const std::string &out)
{
    doc::TGIFImage image;
    Progress progress("video");
    try {
        video::importVideo(
            options.clip, options.settings,
            [&](video::VideoFrame &&frame) {
                doc::InsertImage(image, std::move(frame.picture), frame.delay, image.count());
                return true;
            },
            [&](long long done, long long total) {
                if (total > 0)
                    progress.step(std::size_t(done), std::size_t(total));
                return true;
            });
    } catch (const std::exception &e) {
        throw FileError(options.clip + ": " + e.what());
    }
    doc::LoopExtension(&image)->loops = uint16_t(loops & 0xFFFF);
    writeGif(out, [&](const std::string &path) { doc::saveToFile(image, path); });
}

} // namespace cli
