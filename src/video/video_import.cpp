// Frames from clips through FFmpeg's libraries. Built as a helper module (video_module.h): the
// programs load FFmpeg only when a clip is opened.

#include "video_import.h"
#include "video_module.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <exception>
#include <limits>
#include <map>
#include <mutex>
#include <thread>

namespace video {

namespace {

// GIF sizes are 16-bit; the pixel budget is the one picture import keeps.
constexpr int kMaxSide = 65535;
constexpr long long kMaxPixels = 64LL << 20;

struct FormatClose {
    void operator()(AVFormatContext *f) const { avformat_close_input(&f); }
};
struct CodecFree {
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct ScalerFree {
    void operator()(SwsContext *s) const { sws_freeContext(s); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

FramePtr newFrame()
{
    FramePtr f(av_frame_alloc());
    if (!f)
        throw std::bad_alloc();
    return f;
}

int64_t frameDuration(const AVFrame *frame)
{
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(57, 30, 100)
    return frame->duration;
#else
    return frame->pkt_duration;
#endif
}

void quietLibraries()
{
    // The editor logs nothing; damaged clips would otherwise fill the terminal.
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

/**
 * Converts a decoded frame to 24-bit RGB at the given size. `scaler` is the caller's cached
 * context, so each thread keeps its own.
 */
doc::Picture toRgb(const AVFrame *frame, int width, int height, std::unique_ptr<SwsContext, ScalerFree> &scaler)
{
    SwsContext *s = sws_getCachedContext(scaler.release(), frame->width, frame->height, AVPixelFormat(frame->format),
                                         width, height, AV_PIX_FMT_RGB24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    scaler.reset(s);
    if (!s)
        throw VideoError("The clip's pictures cannot be converted");
    // Honour the clip's matrix and range; the scaler's default is limited-range BT.601.
    int *invTable = nullptr, *table = nullptr;
    int srcRange = 0, dstRange = 0, brightness = 0, contrast = 0, saturation = 0;
    if (sws_getColorspaceDetails(s, &invTable, &srcRange, &table, &dstRange, &brightness, &contrast, &saturation)
        >= 0) {
        const int space = frame->colorspace == AVCOL_SPC_UNSPECIFIED || frame->colorspace == AVCOL_SPC_RGB
                              ? SWS_CS_DEFAULT
                              : int(frame->colorspace);
        if (frame->color_range == AVCOL_RANGE_JPEG)
            srcRange = 1;
        sws_setColorspaceDetails(s, sws_getCoefficients(space), srcRange, table, dstRange, brightness, contrast,
                                 saturation);
    }
    doc::Picture out(width, height, doc::PixelFormat::Rgb24);
    uint8_t *dst[4] = {out.data().data(), nullptr, nullptr, nullptr};
    int dstStride[4] = {int(out.stride()), 0, 0, 0};
    if (sws_scale(s, frame->data, frame->linesize, 0, frame->height, dst, dstStride) <= 0)
        throw VideoError("The clip's pictures cannot be converted");
    return out;
}

} // namespace

// --- one open clip --------------------------------------------------------------------------------

struct ClipReader::Impl {
    std::unique_ptr<AVFormatContext, FormatClose> format;
    std::unique_ptr<AVCodecContext, CodecFree> codec;
    std::unique_ptr<AVPacket, PacketFree> packet;
    std::unique_ptr<SwsContext, ScalerFree> scaler;
    int stream = -1;
    AVRational timeBase{1, 1};
    int64_t startPts = 0;
    ClipInfo info;
    bool draining = false;
    double lastTime = -1;

    void open(const std::string &path, int decoderThreads);
    /** The next decoded frame, or nullptr at the end of the stream. */
    FramePtr nextFrame();
    /** Seconds from the clip's beginning at which a frame is shown. */
    double timeOf(const AVFrame *frame);
    /** Goes back to the key frame at or before `seconds`. */
    void seek(double seconds);
};

void ClipReader::Impl::open(const std::string &path, int decoderThreads)
{
    quietLibraries();
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        throw VideoError("Cannot open the clip: " + path);
    format.reset(raw);
    if (avformat_find_stream_info(format.get(), nullptr) < 0)
        throw VideoError("The clip's streams cannot be read: " + path);

    const AVCodec *decoder = nullptr;
    stream = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (stream < 0 || !decoder)
        throw VideoError(stream == AVERROR_DECODER_NOT_FOUND ? "No decoder for the clip's pictures: " + path
                                                             : "The file holds no video: " + path);
    AVStream *st = format->streams[stream];
    if (st->disposition & AV_DISPOSITION_ATTACHED_PIC)
        throw VideoError("The file holds no video: " + path);

    codec.reset(avcodec_alloc_context3(decoder));
    if (!codec || avcodec_parameters_to_context(codec.get(), st->codecpar) < 0)
        throw VideoError("No decoder for the clip's pictures: " + path);
    codec->thread_count = decoderThreads;
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0)
        throw VideoError("No decoder for the clip's pictures: " + path);
    packet.reset(av_packet_alloc());
    if (!packet)
        throw std::bad_alloc();

    timeBase = st->time_base;
    startPts = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;

    const int w = st->codecpar->width;
    const int h = st->codecpar->height;
    if (w <= 0 || h <= 0)
        throw VideoError("The clip's picture size is unknown: " + path);
    const AVRational sar = av_guess_sample_aspect_ratio(format.get(), st, nullptr);
    info.width = w;
    if (sar.num > 0 && sar.den > 0 && sar.num != sar.den)
        info.width = std::max(1, int(std::lround(double(w) * sar.num / sar.den)));
    info.height = h;
    if (info.width > kMaxSide || info.height > kMaxSide || (long long)info.width * info.height > kMaxPixels)
        throw VideoError("The clip's pictures are too large: " + path);
    // The video stream's own length; the container's may include a longer sound track.
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
        info.duration = double(st->duration) * av_q2d(timeBase);
    else if (format->duration != AV_NOPTS_VALUE && format->duration > 0)
        info.duration = double(format->duration) / AV_TIME_BASE;
    const AVRational rate = av_guess_frame_rate(format.get(), st, nullptr);
    if (rate.num > 0 && rate.den > 0)
        info.frameRate = av_q2d(rate);
    info.codec = decoder->name;
}

FramePtr ClipReader::Impl::nextFrame()
{
    FramePtr frame = newFrame();
    int failures = 0;
    for (;;) {
        const int got = avcodec_receive_frame(codec.get(), frame.get());
        if (got == 0)
            return frame;
        if (got == AVERROR_EOF)
            return nullptr;
        if (got != AVERROR(EAGAIN)) {
            // A damaged picture: players skip it, and so do we, within reason.
            if (++failures > 1000)
                return nullptr;
            continue;
        }
        if (draining)
            return nullptr;
        const int read = av_read_frame(format.get(), packet.get());
        if (read < 0) {
            // The end, or a read error: what was decoded so far is what the clip gives.
            draining = true;
            avcodec_send_packet(codec.get(), nullptr);
            continue;
        }
        if (packet->stream_index == stream && avcodec_send_packet(codec.get(), packet.get()) < 0)
            ++failures;
        av_packet_unref(packet.get());
        if (failures > 1000)
            return nullptr;
    }
}

double ClipReader::Impl::timeOf(const AVFrame *frame)
{
    int64_t ts = frame->best_effort_timestamp;
    if (ts == AV_NOPTS_VALUE)
        ts = frame->pts;
    double t;
    if (ts != AV_NOPTS_VALUE)
        t = double(ts - startPts) * av_q2d(timeBase);
    else
        t = lastTime < 0 ? 0 : lastTime + (info.frameRate > 0 ? 1 / info.frameRate : 0.04);
    lastTime = t;
    return t;
}

void ClipReader::Impl::seek(double seconds)
{
    const int64_t target = startPts + int64_t(std::floor(std::max(0.0, seconds) / av_q2d(timeBase)));
    if (av_seek_frame(format.get(), stream, target, AVSEEK_FLAG_BACKWARD) < 0
        && av_seek_frame(format.get(), stream, startPts, AVSEEK_FLAG_BACKWARD) < 0
        && av_seek_frame(format.get(), -1, 0, AVSEEK_FLAG_BYTE) < 0)
        throw VideoError("The clip cannot be read from the chosen time");
    avcodec_flush_buffers(codec.get());
    draining = false;
    lastTime = -1;
}

ClipReader::Impl *openClip(const std::string &path)
{
    auto clip = std::make_unique<ClipReader::Impl>();
    clip->open(path, 0);
    return clip.release();
}

void closeClip(ClipReader::Impl *clip)
{
    delete clip;
}

const ClipInfo &clipInfo(const ClipReader::Impl &clip)
{
    return clip.info;
}

doc::Picture pictureAt(ClipReader::Impl &clip, double seconds, int width, int height)
{
    if (width <= 0 || height <= 0) {
        width = clip.info.width;
        height = clip.info.height;
    }
    clip.seek(seconds);
    FramePtr shown;
    while (FramePtr frame = clip.nextFrame()) {
        const double t = clip.timeOf(frame.get());
        if (shown && t > seconds + kTimeSlack)
            break;
        shown = std::move(frame);
    }
    if (!shown)
        throw VideoError("No picture can be decoded from the clip");
    return toRgb(shown.get(), width, height, clip.scaler);
}

// --- the import pipeline --------------------------------------------------------------------------

namespace {

/** A decoded picture to scale and reduce, standing for `repeat` consecutive samples. */
struct Job {
    long long first = 0;
    int repeat = 1;
    FramePtr frame;
};

struct Made {
    doc::Picture picture;
    int repeat = 1;
    std::exception_ptr error;
};

/**
 * The threads of one import and what they share. The destructor stops and joins them, so an
 * early return or an exception of the caller never leaves one running.
 */
class Pipeline
{
public:
    Pipeline(ClipReader::Impl &clip, const ImportSettings &settings, long long total, int outWidth, int outHeight)
        : mClip(clip)
        , mSettings(settings)
        , mTotal(total)
        , mWidth(outWidth)
        , mHeight(outHeight)
    {
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        mWorkers = settings.workers > 0 ? settings.workers : int(std::clamp(cores, 1u, 4u));
        window = 2 * mWorkers + 2;
    }

    ~Pipeline()
    {
        {
            std::lock_guard lock(mMutex);
            mStop = true;
        }
        mChanged.notify_all();
        for (std::thread &t : mThreads)
            t.join();
    }

    void start()
    {
        mThreads.emplace_back([this] { decode(); });
        for (int i = 0; i < mWorkers; ++i)
            mThreads.emplace_back([this] { work(); });
    }

    ImportResult deliver(const FrameSink &sink, const ProgressFn &progress);

    int window = 0;

private:
    void decode();
    void work();
    /** Queues one picture for `repeat` samples; false when the import is stopping. */
    bool emit(const AVFrame *frame, long long first, int repeat);

    ClipReader::Impl &mClip;
    ImportSettings mSettings;
    long long mTotal;
    int mWidth;
    int mHeight;
    int mWorkers = 1;

    std::mutex mMutex;
    std::condition_variable mChanged;
    std::vector<std::thread> mThreads;
    std::deque<Job> mJobs;
    std::map<long long, Made> mMade;
    int mInFlight = 0;
    int mPeak = 0;
    long long mSamples = 0;    // samples queued so far
    bool mDecoded = false;     // the decoder has queued its last picture
    bool mStop = false;
    std::exception_ptr mDecodeError;
};

bool Pipeline::emit(const AVFrame *frame, long long first, int repeat)
{
    FramePtr copy(av_frame_clone(frame));
    if (!copy)
        throw std::bad_alloc();
    std::unique_lock lock(mMutex);
    mChanged.wait(lock, [&] { return mStop || mInFlight < window; });
    if (mStop)
        return false;
    mJobs.push_back({first, repeat, std::move(copy)});
    ++mInFlight;
    mPeak = std::max(mPeak, mInFlight);
    mSamples = first + repeat;
    mChanged.notify_all();
    return true;
}

void Pipeline::decode()
{
    try {
        const double start = std::max(0.0, mSettings.start);
        const int fps = std::clamp(mSettings.fps, kMinFps, kMaxFps);
        auto sampleTime = [&](long long k) { return start + double(k) / fps; };
        auto more = [&](long long k) { return mTotal < 0 || k < mTotal; };

        if (start > 0)
            mClip.seek(start);
        long long k = 0;
        FramePtr shown; // the last frame decoded: the one on screen until the next starts
        double shownEnd = 0;
        bool any = false;
        while (more(k)) {
            FramePtr frame = mClip.nextFrame();
            if (!frame)
                break;
            any = true;
            const double t = mClip.timeOf(frame.get());
            if (shown) {
                int repeat = 0;
                while (more(k + repeat) && sampleTime(k + repeat) + kTimeSlack < t)
                    ++repeat;
                if (repeat > 0) {
                    if (!emit(shown.get(), k, repeat))
                        return;
                    k += repeat;
                }
            }
            const int64_t ownDuration = frameDuration(frame.get());
            const double duration = ownDuration > 0 ? double(ownDuration) * av_q2d(mClip.timeBase)
                                                    : (mClip.info.frameRate > 0 ? 1 / mClip.info.frameRate : 0.04);
            shownEnd = t + duration;
            shown = std::move(frame);
        }
        if (!any)
            throw VideoError("No picture can be decoded from the clip");
        if (shown && more(k)) {
            // The last picture stays on screen to the end of the range (or, when the clip's length
            // is unknown, for its own duration).
            long long repeat = 0;
            if (mTotal >= 0)
                repeat = mTotal - k;
            else
                while (repeat == 0 || sampleTime(k + repeat) + kTimeSlack < shownEnd)
                    ++repeat;
            while (repeat > 0) {
                const int part = int(std::min<long long>(repeat, std::numeric_limits<int>::max()));
                if (!emit(shown.get(), k, part))
                    return;
                k += part;
                repeat -= part;
            }
        }
    } catch (...) {
        std::lock_guard lock(mMutex);
        mDecodeError = std::current_exception();
    }
    std::lock_guard lock(mMutex);
    mDecoded = true;
    mChanged.notify_all();
}

void Pipeline::work()
{
    std::unique_ptr<SwsContext, ScalerFree> scaler;
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mMutex);
            mChanged.wait(lock, [&] { return mStop || !mJobs.empty() || mDecoded; });
            if (mStop || mJobs.empty())
                return;
            job = std::move(mJobs.front());
            mJobs.pop_front();
        }
        Made made;
        made.repeat = job.repeat;
        try {
            doc::Picture rgb = toRgb(job.frame.get(), mWidth, mHeight, scaler);
            job.frame.reset();
            made.picture = doc::ReduceBitmapColors(rgb, mSettings.mode, doc::DitherMode::NearestColor, 8);
        } catch (...) {
            made.error = std::current_exception();
        }
        std::lock_guard lock(mMutex);
        mMade.emplace(job.first, std::move(made));
        mChanged.notify_all();
    }
}

ImportResult Pipeline::deliver(const FrameSink &sink, const ProgressFn &progress)
{
    using namespace std::chrono_literals;
    ImportResult result;
    result.window = window;
    DelayClock clock(mSettings.fps);
    long long next = 0;
    auto stopped = [&] {
        result.cancelled = true;
        std::lock_guard lock(mMutex);
        result.peakInFlight = mPeak;
        return result;
    };

    std::unique_lock lock(mMutex);
    for (;;) {
        auto it = mMade.find(next);
        if (it != mMade.end()) {
            Made made = std::move(it->second);
            mMade.erase(it);
            --mInFlight;
            mChanged.notify_all();
            lock.unlock();
            if (made.error)
                std::rethrow_exception(made.error);
            for (int r = 0; r < made.repeat; ++r) {
                VideoFrame frame;
                frame.picture = r + 1 < made.repeat ? made.picture : std::move(made.picture);
                frame.delay = clock.next();
                if (!sink(std::move(frame)))
                    return stopped();
                ++result.frames;
                if (progress && !progress(result.frames, mTotal))
                    return stopped();
            }
            next += made.repeat;
            lock.lock();
            continue;
        }
        if (mDecodeError && mMade.empty())
            std::rethrow_exception(mDecodeError);
        if (mDecoded && next >= mSamples && mMade.empty())
            break;
        const bool ready = mChanged.wait_for(lock, 100ms, [&] {
            return mMade.count(next) || mDecodeError || (mDecoded && next >= mSamples);
        });
        if (!ready && progress) {
            lock.unlock();
            if (!progress(result.frames, mTotal))
                return stopped();
            lock.lock();
        }
    }
    result.peakInFlight = mPeak;
    return result;
}

} // namespace

ImportResult importClip(const std::string &path, const ImportSettings &settings, const FrameSink &sink,
                        const ProgressFn &progress)
{
    if (settings.fps < kMinFps || settings.fps > kMaxFps)
        throw VideoError("The rate must be between 1 and 50 frames per second");
    if (settings.width < 0 || settings.width > kMaxSide)
        throw VideoError("The width must be between 1 and 65535");

    ClipReader::Impl clip;
    clip.open(path, 0);
    const ClipInfo &info = clip.info;
    if (info.duration > 0 && settings.start >= info.duration)
        throw VideoError("The start is past the end of the clip");
    if (settings.end > 0 && settings.end <= settings.start)
        throw VideoError("The end must come after the start");
    int width = 0, height = 0;
    outputSize(info, settings.width, width, height);
    if ((long long)width * height > kMaxPixels || height > kMaxSide)
        throw VideoError("The frames would be too large");

    Pipeline pipeline(clip, settings, frameCount(info, settings), width, height);
    pipeline.start();
    return pipeline.deliver(sink, progress);
}

} // namespace video

extern "C" __attribute__((visibility("default"))) const video::VideoModule *movaroGifVideoModule()
{
    static const video::VideoModule module{&video::openClip, &video::closeClip, &video::clipInfo, &video::pictureAt,
                                           &video::importClip};
    return &module;
}
