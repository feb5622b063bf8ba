// Clips opened and imported through the FFmpeg module.

#include "video_import.h"
#include "video_module.h"

#include "document/helper_module.h"

namespace video {

namespace {

const VideoModule &ffmpeg()
{
    static std::string error;
    static const VideoModule *const module = [] {
        using Entry = const VideoModule *(*)();
        const auto entry = reinterpret_cast<Entry>(doc::helperModuleEntry(kVideoModuleFile, kVideoModuleEntry, error));
        return entry ? entry() : nullptr;
    }();
    if (!module)
        throw VideoError("Clips cannot be read: " + error);
    return *module;
}

} // namespace

ClipReader::ClipReader(const std::string &path)
    : d(ffmpeg().open(path), ffmpeg().close)
{
}

ClipReader::~ClipReader() = default;

const ClipInfo &ClipReader::info() const
{
    return ffmpeg().info(*d);
}

doc::Picture ClipReader::pictureAt(double seconds, int width, int height)
{
    return ffmpeg().pictureAt(*d, seconds, width, height);
}

ImportResult importVideo(const std::string &path, const ImportSettings &settings, const FrameSink &sink,
                         const ProgressFn &progress)
{
    return ffmpeg().import(path, settings, sink, progress);
}

} // namespace video
