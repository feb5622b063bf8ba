#pragma once

#include "video/video_import.h"

#include <CLI/CLI.hpp>

#include <string>

namespace cli {

/** What `make --video` takes beside the looping and the output. */
struct VideoOptions
{
    std::string clip;
    video::ImportSettings settings;
};

/** Adds --video CLIP and its range, rate, size and colour options to `make`; returns --video. */
CLI::Option *addVideoOptions(CLI::App &make, VideoOptions &options);

/** The animation from the chosen range of the clip, with the looping, written to `out` ("-": stdout). */
void makeVideo(const VideoOptions &options, unsigned loops, const std::string &out);

} // namespace cli
