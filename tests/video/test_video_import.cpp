#include "video/video_import.h"

#include "support/clips.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

using namespace video;
using testsupport::psnr;

namespace {

class VideoImport : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        dir = testsupport::clipDir("video");
        // 3 s at 20 frames per second, a key frame every half second, so most starts need a seek
        // and decoding up to the chosen time.
        clip = dir / "pattern.mp4";
        ASSERT_TRUE(testsupport::makeClip(clip, "96x64", 20, 3));
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(dir); }

    static std::vector<VideoFrame> importAll(const std::filesystem::path &path, const ImportSettings &settings)
    {
        std::vector<VideoFrame> frames;
        importVideo(path.string(), settings, [&](VideoFrame &&f) {
            frames.push_back(std::move(f));
            return true;
        });
        return frames;
    }

    static inline std::filesystem::path dir;
    static inline std::filesystem::path clip;
};

} // namespace

TEST(DelayClock, CarriesTheRoundingErrorSoEveryRateKeepsItsDuration)
{
    for (int fps = kMinFps; fps <= kMaxFps; ++fps) {
        DelayClock clock(fps);
        long long total = 0;
        for (long long n = 1; n <= 3 * fps; ++n) {
            const int d = clock.next();
            ASSERT_TRUE(d == 100 / fps || d == (100 + fps - 1) / fps) << fps << " fps, frame " << n << ": " << d;
            total += d;
            // round(100 n / fps), halves to even.
            const double exact = 100.0 * double(n) / fps;
            ASSERT_EQ(total, (long long)std::nearbyint(exact)) << fps << " fps after " << n << " frames";
        }
    }
}

TEST_F(VideoImport, RangeAndRateGiveTheFrameCountAndKeepTheDuration)
{
    struct Case {
        double start, end;
        int fps;
        long long frames;
        int hundredths;
    } cases[] = {
        {0, 0, 10, 30, 300},    // the whole clip
        {0.5, 2.0, 10, 15, 150},
        {1.3, 2.9, 30, 48, 160}, // a start between key frames; a rate above the clip's own
        {0, 1.5, 7, 11, 157},    // 10.5 frames' worth: the last sample starts before the end
        {2.5, 0, 4, 2, 50},      // to the end
        {2.0, 60, 10, 10, 100},  // an end past the clip stops at the clip's end
    };
    ClipReader reader(clip.string());
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.start << ".." << c.end << " at " << c.fps);
        ImportSettings s;
        s.start = c.start;
        s.end = c.end;
        s.fps = c.fps;
        EXPECT_EQ(frameCount(reader.info(), s), c.frames);
        const auto frames = importAll(clip, s);
        ASSERT_EQ((long long)frames.size(), c.frames);
        int total = 0;
        for (const VideoFrame &f : frames) {
            total += f.delay;
            EXPECT_EQ(f.picture.width(), 96);
            EXPECT_EQ(f.picture.height(), 64);
            EXPECT_EQ(f.picture.format(), doc::PixelFormat::Indexed8);
            EXPECT_EQ(f.picture.palette().size(), 256u);
        }
        EXPECT_EQ(total, c.hundredths);
    }
}

TEST_F(VideoImport, FramesShowTheClipAtTheirTimesInOrder)
{
    ImportSettings s;
    s.start = 0.5;
    s.end = 2.0;
    s.fps = 10;
    s.workers = 3; // more workers than cores: frames finish out of order and must be put back
    const auto frames = importAll(clip, s);
    ASSERT_EQ(frames.size(), 15u);

    // The first and last frames against ffmpeg's own decoding at those times, and against the
    // clip's next frame (1/20 s later), which must match clearly worse.
    const struct {
        const VideoFrame &frame;
        double at;
    } ends[] = {{frames.front(), 0.5}, {frames.back(), 1.9}};
    for (const auto &e : ends) {
        const doc::Picture ref = testsupport::ffmpegFrameAt(clip, e.at, 96, 64);
        const doc::Picture later = testsupport::ffmpegFrameAt(clip, e.at + 0.05, 96, 64);
        ASSERT_FALSE(ref.isNull());
        EXPECT_GT(psnr(e.frame.picture, ref), 30) << "at " << e.at;
        EXPECT_GT(psnr(e.frame.picture, ref), psnr(e.frame.picture, later) + 3) << "at " << e.at;
    }

    // Every frame against the preview's single-threaded decoding at its time.
    ClipReader reader(clip.string());
    for (std::size_t k = 0; k < frames.size(); ++k)
        EXPECT_GT(psnr(frames[k].picture, reader.pictureAt(0.5 + 0.1 * double(k))), 30) << "frame " << k;
}

TEST_F(VideoImport, WidthScalesWithTheHeightInProportion)
{
    for (auto [width, height] : {std::pair{48, 32}, {50, 33}, {200, 133}, {1, 1}}) {
        ImportSettings s;
        s.end = 0.2;
        s.width = width;
        const auto frames = importAll(clip, s);
        ASSERT_EQ(frames.size(), 2u);
        EXPECT_EQ(frames[0].picture.width(), width);
        EXPECT_EQ(frames[0].picture.height(), height);
    }
    ImportSettings s;
    s.end = 0.2;
    s.width = 48;
    const doc::Picture ref = testsupport::ffmpegFrameAt(clip, 0, 48, 32);
    EXPECT_GT(psnr(importAll(clip, s)[0].picture, ref), 28);
}

TEST_F(VideoImport, ReadsTheCommonContainersAndCodecs)
{
    const struct {
        const char *name;
        const char *codec;
    } formats[] = {
        {"vp9.webm", "-c:v libvpx-vp9 -deadline realtime -b:v 1M"},
        {"vp8.webm", "-c:v libvpx -deadline realtime -b:v 1M"},
        {"h264.mkv", "-c:v libx264 -pix_fmt yuv420p"},
        {"mjpeg.mov", "-c:v mjpeg -q:v 2"},
        {"mpeg4.avi", "-c:v mpeg4 -q:v 2"},
    };
    for (const auto &f : formats) {
        SCOPED_TRACE(f.name);
        const auto path = dir / f.name;
        ASSERT_TRUE(testsupport::makeClip(path, "48x32", 10, 1, f.codec));
        ClipReader reader(path.string());
        EXPECT_EQ(reader.info().width, 48);
        EXPECT_EQ(reader.info().height, 32);
        EXPECT_NEAR(reader.info().duration, 1.0, 0.11);
        ImportSettings s;
        s.end = 1.0;
        const auto frames = importAll(path, s);
        ASSERT_EQ(frames.size(), 10u);
        EXPECT_GT(psnr(frames[3].picture, testsupport::ffmpegFrameAt(path, 0.3, 48, 32)), 30);
    }
}

TEST_F(VideoImport, UnreadableFilesAndBadRangesFailBeforeAnyFrame)
{
    const auto text = dir / "notes.mp4";
    std::ofstream(text) << "not a clip\n";
    const auto truncated = dir / "truncated.mp4";
    {
        std::ifstream in(clip, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        bytes.resize(bytes.size() / 2);
        std::ofstream(truncated, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    }
    const auto sound = dir / "sound.m4a";
    ASSERT_TRUE(testsupport::runFfmpeg("-f lavfi -i sine=duration=1 -c:a aac '" + sound.string() + "'"));

    ImportSettings whole;
    ImportSettings pastEnd;
    pastEnd.start = 3.5;
    ImportSettings backwards;
    backwards.start = 2;
    backwards.end = 1;
    ImportSettings tooFast;
    tooFast.fps = 51;
    const struct {
        const char *what;
        std::filesystem::path path;
        ImportSettings settings;
    } cases[] = {
        {"text named .mp4", text, whole},
        {"truncated clip", truncated, whole},
        {"sound only", sound, whole},
        {"missing file", dir / "missing.mp4", whole},
        {"start past the end", clip, pastEnd},
        {"end before start", clip, backwards},
        {"rate above 50", clip, tooFast},
    };
    for (const auto &c : cases) {
        int delivered = 0;
        EXPECT_THROW(importVideo(c.path.string(), c.settings,
                                 [&](VideoFrame &&) {
                                     ++delivered;
                                     return true;
                                 }),
                     VideoError)
            << c.what;
        EXPECT_EQ(delivered, 0) << c.what;
    }
    EXPECT_THROW(ClipReader(text.string()), VideoError);
}

TEST_F(VideoImport, CancelKeepsTheFramesMadeAndStopsAtOnce)
{
    std::vector<VideoFrame> kept;
    ImportSettings s;
    s.fps = 20;
    const ImportResult r = importVideo(
        clip.string(), s,
        [&](VideoFrame &&f) {
            kept.push_back(std::move(f));
            return true;
        },
        [&](long long done, long long total) {
            EXPECT_EQ(total, 60);
            return done < 4;
        });
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(r.frames, 4);
    ASSERT_EQ(kept.size(), 4u);
    EXPECT_GT(psnr(kept[3].picture, testsupport::ffmpegFrameAt(clip, 0.15, 96, 64)), 30);
}

TEST_F(VideoImport, ASlowReceiverHoldsOnlyTheWindowInMemory)
{
    ImportSettings s;
    s.fps = 20;
    s.workers = 2;
    long long got = 0;
    const ImportResult r = importVideo(clip.string(), s, [&](VideoFrame &&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        ++got;
        return true;
    });
    EXPECT_EQ(got, 60);
    EXPECT_FALSE(r.cancelled);
    EXPECT_EQ(r.window, 6);
    EXPECT_LE(r.peakInFlight, r.window);
    EXPECT_GE(r.peakInFlight, 2); // the decoder did run ahead of the receiver
}
