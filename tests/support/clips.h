#pragma once

// Small video clips made by the `ffmpeg` program for the import tests, and the pictures it decodes
// from them as references.

#include "document/picture.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace testsupport {

/** A fresh folder for one test program's clips. */
inline std::filesystem::path clipDir(const std::string &name)
{
    const auto dir = std::filesystem::temp_directory_path()
                     / ("movaro-" + name + "-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    return dir;
}

/** Runs ffmpeg quietly with the given arguments; false when it fails. */
inline bool runFfmpeg(const std::string &arguments)
{
    const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y " + arguments + " 2>&1";
    return std::system(command.c_str()) == 0;
}

/**
 * Encodes `seconds` of a moving test pattern (each frame visibly different from the next) at
 * `size` ("96x64") and `rate` frames per second into `path`, with the given codec options.
 */
inline bool makeClip(const std::filesystem::path &path, const std::string &size, int rate, double seconds,
                     const std::string &codec = "-c:v libx264 -pix_fmt yuv420p -g 10")
{
    return runFfmpeg("-f lavfi -i testsrc2=size=" + size + ":rate=" + std::to_string(rate)
                     + ":duration=" + std::to_string(seconds) + " " + codec + " '" + path.string() + "'");
}

/** The clip's picture ffmpeg decodes at `seconds` (accurate seek), in 24-bit RGB at width × height. */
inline doc::Picture ffmpegFrameAt(const std::filesystem::path &clip, double seconds, int width, int height)
{
    const auto raw = clip.parent_path() / ("ref-" + std::to_string(::getpid()) + ".rgb");
    char at[32];
    std::snprintf(at, sizeof at, "%.3f", seconds);
    if (!runFfmpeg(std::string("-ss ") + at + " -i '" + clip.string() + "' -frames:v 1 -s "
                   + std::to_string(width) + "x" + std::to_string(height)
                   + " -f rawvideo -pix_fmt rgb24 '" + raw.string() + "'"))
        return {};
    std::ifstream in(raw, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(raw);
    doc::Picture p(width, height, doc::PixelFormat::Rgb24);
    if (bytes.size() != p.data().size())
        return {};
    p.data() = std::move(bytes);
    return p;
}

/** Peak signal-to-noise ratio of two pictures of one size over their RGB channels, in dB. */
inline double psnr(const doc::Picture &a, const doc::Picture &b)
{
    if (a.width() != b.width() || a.height() != b.height() || a.isNull())
        return 0;
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const doc::Rgb p = a.pixel(x, y), q = b.pixel(x, y);
            const double dr = p.r - q.r, dg = p.g - q.g, db = p.b - q.b;
            sum += dr * dr + dg * dg + db * db;
        }
    const double mse = sum / (3.0 * a.width() * a.height());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

} // namespace testsupport
