#pragma once

// FFmpeg's decoding is a helper module (document/helper_module.h): FFmpeg and the many libraries
// it pulls in are loaded when a clip is first opened, not by every start of the programs.

#include "video_import.h"

namespace video {

// Timestamps are rounded by containers; a frame starting within this of a sample time counts as
// shown at it.
inline constexpr double kTimeSlack = 1e-6;

/** What the module offers; ClipReader and importVideo go through it. */
struct VideoModule {
    ClipReader::Impl *(*open)(const std::string &path); // throws VideoError
    void (*close)(ClipReader::Impl *clip);
    const ClipInfo &(*info)(const ClipReader::Impl &clip);
    doc::Picture (*pictureAt)(ClipReader::Impl &clip, double seconds, int width, int height);
    ImportResult (*import)(const std::string &path, const ImportSettings &settings, const FrameSink &sink,
                           const ProgressFn &progress);
};

inline constexpr const char *kVideoModuleFile = "movaro-gif-video.so";
/** An extern "C" function of the module, returning its VideoModule. */
inline constexpr const char *kVideoModuleEntry = "movaroGifVideoModule";

} // namespace video
