#pragma once

// Frames from video clips: decoding through FFmpeg's libraries, sampling at a chosen rate,
// scaling and colour reduction on worker threads. No Qt.

#include "document/picture.h"
#include "document/quantize.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace video {

/** A clip that cannot be opened or decoded, or a range that gives no frame. */
class VideoError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct ClipInfo {
    int width = 0;         // as displayed: the sample aspect ratio is applied to the width
    int height = 0;
    double duration = 0;   // seconds; 0 when the container does not tell
    double frameRate = 0;  // average frames per second; 0 when unknown
    std::string codec;     // decoder name, for messages
};

inline constexpr int kMinFps = 1;
inline constexpr int kMaxFps = 50;

/** What to take from a clip. */
struct ImportSettings {
    double start = 0;  // seconds from the clip's beginning
    double end = 0;    // seconds; 0 (or past the clip) means to the end
    int fps = 10;      // frames per second of the animation, kMinFps..kMaxFps
    int width = 0;     // 0: the clip's own size; otherwise this width, the height in proportion
    doc::ReductionMode mode = doc::ReductionMode::OctreeQuantize;
    int workers = 0;   // threads scaling and reducing; 0: by the machine
};

/**
 * Delays, in hundredths, of consecutive frames at a rate: each is the rounded end time of the frame
 * minus the rounded end time of the one before, so the rounding error is carried and n frames last
 * round(100·n / fps) hundredths in total.
 */
class DelayClock
{
public:
    explicit DelayClock(int fps);
    int next();

private:
    long long roundedTime(long long frames) const;
    int mFps;
    long long mFrames = 0;
};

/** The size frames get: the clip's own, or `width` with the height in proportion (at least 1). */
void outputSize(const ClipInfo &clip, int width, int &outWidth, int &outHeight);

/**
 * How many frames a range gives: one for each time start + k / fps before the end. -1 when the
 * clip's duration is unknown and no end is given (the clip is then read to its end).
 */
long long frameCount(const ClipInfo &clip, const ImportSettings &settings);

/** One open clip: its facts and single pictures (the preview). Not shared between threads. */
class ClipReader
{
public:
    /** Opens the clip's best video stream. Throws VideoError. */
    explicit ClipReader(const std::string &path);
    ~ClipReader();
    ClipReader(const ClipReader &) = delete;
    ClipReader &operator=(const ClipReader &) = delete;

    const ClipInfo &info() const;

    /**
     * The picture shown at `seconds` (the last frame starting at or before it), in 24-bit RGB at the
     * given size (0 × 0: the clip's own). Throws VideoError when nothing can be decoded there.
     */
    doc::Picture pictureAt(double seconds, int width = 0, int height = 0);

    struct Impl;

private:
    std::unique_ptr<Impl, void (*)(Impl *)> d; // made and freed by the FFmpeg module
};

/** One frame made from a clip: the reduced picture and its delay. */
struct VideoFrame {
    doc::Picture picture; // 8-bit indexed with its palette
    int delay = 0;        // hundredths of a second
};

struct ImportResult {
    long long frames = 0;     // frames handed over
    bool cancelled = false;   // stopped by a callback before the end of the range
    int peakInFlight = 0;     // most pictures decoded but not yet handed over at one time
    int window = 0;           // the bound on that number
};

/** Receives the frames, in order, on the calling thread; returning false stops the import. */
using FrameSink = std::function<bool(VideoFrame &&frame)>;
/**
 * Told the frames handed over and the total (-1 when unknown), after each frame and every few
 * tenths of a second while waiting; returning false stops the import.
 */
using ProgressFn = std::function<bool(long long done, long long total)>;

/**
 * Makes the frames of a range of a clip. Decoding runs on one thread, scaling and colour reduction
 * on `settings.workers` others; at most ImportResult::window pictures are held at once, however
 * long the clip. Frames handed over before a stop stay with the caller. Throws VideoError when the
 * clip cannot be read or the range gives no picture (before any frame is handed over), and passes
 * on the reduction's failures.
 */
ImportResult importVideo(const std::string &path, const ImportSettings &settings, const FrameSink &sink,
                         const ProgressFn &progress = {});

/** Extensions offered in file dialogs for clips (lower case, without the dot). */
const std::vector<std::string> &videoExtensions();

/** Whether a file name ends with one of videoExtensions() (case-insensitive). */
bool isVideoFileName(const std::string &path);

} // namespace video
