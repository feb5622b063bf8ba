// What a clip gives, worked out without decoding it: delays, sizes, frame counts, file names.
// Part of the programs and of the FFmpeg module alike.

#include "video_import.h"
#include "video_module.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace video {

namespace {

std::string lowerExtension(const std::string &path)
{
    const auto slash = path.find_last_of("/\\");
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string ext = path.substr(dot + 1);
    for (char &c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

} // namespace

// --- delays ---------------------------------------------------------------------------------------

DelayClock::DelayClock(int fps)
    : mFps(std::clamp(fps, kMinFps, kMaxFps))
{}

long long DelayClock::roundedTime(long long frames) const
{
    // round(100·frames / fps), halves to the even neighbour, in integers.
    const long long n = 100 * frames;
    long long q = n / mFps;
    const long long r2 = 2 * (n % mFps);
    if (r2 > mFps || (r2 == mFps && (q & 1)))
        ++q;
    return q;
}

int DelayClock::next()
{
    const long long d = roundedTime(mFrames + 1) - roundedTime(mFrames);
    ++mFrames;
    return int(d);
}

// --- clip facts -------------------------------------------------------------------------------------

void outputSize(const ClipInfo &clip, int width, int &outWidth, int &outHeight)
{
    if (width <= 0 || width == clip.width) {
        outWidth = clip.width;
        outHeight = clip.height;
        return;
    }
    outWidth = width;
    outHeight = std::max(1, int(std::lround(double(clip.height) * width / clip.width)));
}

long long frameCount(const ClipInfo &clip, const ImportSettings &settings)
{
    const int fps = std::clamp(settings.fps, kMinFps, kMaxFps);
    const double start = std::max(0.0, settings.start);
    double end = settings.end > 0 ? settings.end : clip.duration;
    if (clip.duration > 0)
        end = std::min(end, clip.duration);
    if (end <= 0)
        return -1;
    if (end <= start)
        return 0;
    return std::max(1LL, (long long)std::ceil((end - start) * fps - kTimeSlack));
}

const std::vector<std::string> &videoExtensions()
{
    static const std::vector<std::string> list{"mp4", "m4v", "mov", "webm", "mkv", "avi",
                                               "mpg", "mpeg", "ogv", "wmv", "flv", "3gp"};
    return list;
}

bool isVideoFileName(const std::string &path)
{
    const std::string ext = lowerExtension(path);
    return !ext.empty() && std::find(videoExtensions().begin(), videoExtensions().end(), ext) != videoExtensions().end();
}

} // namespace video
