#include "playback_core.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace app {

int countedDelay(const doc::TGIFSubImage &frame)
{
    const doc::TGIFGraphicControlExtension *gce = frame.graphicControl();
    if (!gce || gce->delay == 0)
        return 10;
    return std::max<int>(gce->delay, 3);
}

int64_t nextWait(int delay, int64_t previousWaitStart, int64_t previousWait, int64_t now, int speed)
{
    if (speed <= 0)
        speed = kAnimationSpeed;
    const int64_t lateness = now - previousWaitStart - previousWait;
    const int64_t e = lateness / 2; // C++ division truncates toward zero, as the formula wants
    return (int64_t(kMsPerHundredth) * delay - e) * 100 / speed;
}

// --- PlaybackRun -------------------------------------------------------------------------------

// --- PlaybackFrames ----------------------------------------------------------------------------

namespace {

int disposalOf(const doc::TGIFSubImage &frame)
{
    const doc::TGIFGraphicControlExtension *gce = frame.graphicControl();
    return gce ? gce->disposal() : 0;
}

} // namespace

std::shared_ptr<const PlaybackFrames> PlaybackFrames::of(const doc::TGIFImage &document)
{
    auto out = std::make_shared<PlaybackFrames>();
    out->width = document.header.width;
    out->height = document.header.height;
    out->frames.resize(std::size_t(document.count()));
    std::size_t decoded = 0; // bytes of the frames the cache would hold
    for (int i = 0; i < document.count(); ++i) {
        const doc::TGIFSubImage &frame = document.frame(i);
        Frame &f = out->frames[std::size_t(i)];
        f.left = frame.left;
        f.top = frame.top;
        f.width = frame.width;
        f.height = frame.height;
        f.hasPixels = frame.hasPixels();
        f.delay = countedDelay(frame);
        for (int k = 0; k < frame.extensionCount(); ++k) {
            if (auto *loop = doc::extension_cast<doc::TGIFAppExtNSLoop>(frame.extension(k))) {
                f.loops = loop->loops;
                break;
            }
        }
        f.disposal = disposalOf(frame);
        f.key = document.transparentDrawing && frame.transparent() ? frame.graphicControl()->transparentIndex : -1;
        const doc::TGIFColorMap &table = frame.colorMap().empty() ? document.header.colorMap : frame.colorMap();
        const int entries = std::min(table.count(), 256);
        for (int k = 0; k < entries; ++k) {
            f.lut[std::size_t(k) * 3] = table.entries[std::size_t(k)].r;
            f.lut[std::size_t(k) * 3 + 1] = table.entries[std::size_t(k)].g;
            f.lut[std::size_t(k) * 3 + 2] = table.entries[std::size_t(k)].b;
        }
        if (f.hasPixels) {
            f.pixels = frame.pixelSource();
            const std::size_t bytes = std::size_t(f.width) * std::size_t(f.height);
            if (bytes >= doc::kCachedFrameMinimum)
                decoded += bytes;
        }
    }
    out->keepRows = decoded <= doc::frameCacheBudget();
    return out;
}

// --- PlaybackRun -------------------------------------------------------------------------------

PlaybackRun::PlaybackRun(const doc::TGIFImage &document)
    : PlaybackRun(*PlaybackFrames::of(document))
{
}

PlaybackRun::PlaybackRun(const PlaybackFrames &frames)
{
    mFrames.reserve(frames.frames.size());
    for (const PlaybackFrames::Frame &f : frames.frames)
        mFrames.push_back({f.hasPixels, f.loops, f.delay});
    mSeen.assign(mFrames.size(), false);
}

int PlaybackRun::first()
{
    mSeen.assign(mFrames.size(), false);
    mLoopCount = 1;
    mLoopPoint = 0;
    mCurrent = -1;
    mShownThisPass = 0;
    return showFrom(0);
}

int PlaybackRun::next()
{
    if (mCurrent < 0)
        return -1;
    return showFrom(mCurrent + 1);
}

int PlaybackRun::showFrom(int i)
{
    const int n = frameCount();
    for (;;) {
        if (i < n && mFrames[std::size_t(i)].hasPixels) {
            const Entry &entry = mFrames[std::size_t(i)];
            if (entry.loops >= 0 && !mSeen[std::size_t(i)]) {
                mLoopCount = entry.loops;
                mLoopPoint = i;
            }
            mSeen[std::size_t(i)] = true;
            ++mShownThisPass;
            mCurrent = i;
            return i;
        }
        // End of a pass: the last frame is behind us or a frame without pixels cut it short.
        // A positive count runs out; 0 plays until stopped. A pass that showed nothing would
        // show nothing again, and one that showed only the loop point would show the same
        // picture again (a one-frame animation that loops): end rather than spin or repaint.
        const bool passesOver = mLoopCount > 0 && --mLoopCount == 0;
        const bool sameAgain = mShownThisPass == 0 || (mShownThisPass == 1 && mCurrent == mLoopPoint);
        if (passesOver || sameAgain) {
            mCurrent = -1;
            return -1;
        }
        mShownThisPass = 0;
        i = mLoopPoint;
    }
}

// --- PlaybackSchedule --------------------------------------------------------------------------

PlaybackSchedule::PlaybackSchedule(const doc::TGIFImage &document, int speed)
    : mRun(document)
    , mSpeed(speed)
{
}

PlaybackSchedule::PlaybackSchedule(const PlaybackFrames &frames, int speed)
    : mRun(frames)
    , mSpeed(speed)
{
}

PlaybackSchedule::Step PlaybackSchedule::start(int64_t now)
{
    mWaited = false;
    return stepFrom(mRun.first(), now);
}

PlaybackSchedule::Step PlaybackSchedule::tick(int64_t now)
{
    return stepFrom(mPending, now);
}

PlaybackSchedule::Step PlaybackSchedule::stepFrom(int frame, int64_t now)
{
    Step step;
    step.frame = frame;
    mPending = frame < 0 ? -1 : mRun.next();
    if (mPending < 0)
        return step;
    // The first wait of a run has no previous step to be late on.
    const int64_t start = mWaited ? mWaitStart : now;
    const int64_t previous = mWaited ? mWait : 0;
    mWait = nextWait(mRun.delay(frame), start, previous, now, mSpeed);
    mWaitStart = now;
    mWaited = true;
    step.hasNext = true;
    step.wait = mWait;
    return step;
}

// --- PlaybackComposer --------------------------------------------------------------------------

namespace {

doc::Picture filled(int width, int height, doc::Rgb colour)
{
    doc::Picture picture(width, height, doc::PixelFormat::Rgb24);
    uint8_t *p = picture.data().data();
    const std::size_t n = std::size_t(width) * std::size_t(height);
    for (std::size_t k = 0; k < n; ++k, p += 3) {
        p[0] = colour.r;
        p[1] = colour.g;
        p[2] = colour.b;
    }
    return picture;
}

} // namespace

PlaybackComposer::PlaybackComposer(const doc::TGIFImage &document, doc::Rgb background)
    : PlaybackComposer(PlaybackFrames::of(document), background)
{
}

PlaybackComposer::PlaybackComposer(std::shared_ptr<const PlaybackFrames> frames, doc::Rgb background)
    : mFrames(std::move(frames))
    , mBackgroundColor(background)
{
    for (const PlaybackFrames::Frame &f : mFrames->frames) {
        if (f.disposal == 2 || f.disposal == 3) {
            mWorkPictures = true;
            break;
        }
    }
    const int w = mFrames->width;
    const int h = mFrames->height;
    const std::size_t pictures = mWorkPictures ? 4 : 1;
    mValid = w > 0 && h > 0 && std::size_t(w) * std::size_t(h) * 3 * pictures <= kPlaybackBudget;
    reset();
}

void PlaybackComposer::reset()
{
    mPreviousDisposal = 1;
    if (!mValid)
        return;
    mView = filled(mFrames->width, mFrames->height, mBackgroundColor);
    if (mWorkPictures) {
        mBackground = mView;
        mCurrent = mView;
        mScratch = mView;
    }
}

void PlaybackComposer::show(int i)
{
    if (!mValid || i < 0 || i >= int(mFrames->frames.size()))
        return;
    const int disposal = mFrames->frames[std::size_t(i)].disposal;
    if (disposal >= 4) {
        // Not a disposal GIF89a defines: the frame is not drawn.
    } else if (!mWorkPictures) {
        draw(mView, i);
    } else if (disposal == 3) {
        if (mPreviousDisposal == 0 || mPreviousDisposal == 1) {
            draw(mView, i);
        } else {
            mScratch.data() = mCurrent.data();
            draw(mScratch, i);
            mView.data() = mScratch.data();
        }
    } else {
        draw(mCurrent, i);
        mView.data() = mCurrent.data();
        if (disposal == 2)
            restoreRect(i);
    }
    mPreviousDisposal = disposal;
}

void PlaybackComposer::draw(doc::Picture &target, int i) const
{
    const PlaybackFrames::Frame &frame = mFrames->frames[std::size_t(i)];
    if (!frame.hasPixels)
        return;
    const std::shared_ptr<const doc::FramePixels> rows = frame.pixels.rows(mFrames->keepRows);
    if (!rows || rows->width() != frame.width)
        return;

    const int fw = frame.width;
    const int x0 = std::max(frame.left, 0);
    const int x1 = std::min(frame.left + fw, target.width());
    // A short pixel buffer draws only the rows it holds.
    const int y0 = frame.top;
    const int y1 = std::min(frame.top + std::min(frame.height, rows->height()), target.height());
    if (x0 >= x1 || y0 >= y1)
        return;

    const uint8_t *lut = frame.lut.data();
    const int key = frame.key;
    const int n = x1 - x0;
    for (int y = y0; y < y1; ++y) {
        uint8_t *dst = target.row(y) + std::size_t(x0) * 3;
        const uint8_t *src = rows->row(y - frame.top);
        if (!src) {
            // A row of one value: one colour across, or nothing when it is the transparent one.
            const int index = rows->rowValue(y - frame.top);
            if (index == key)
                continue;
            const uint8_t *c = lut + std::size_t(index) * 3;
            for (int x = 0; x < n; ++x, dst += 3) {
                dst[0] = c[0];
                dst[1] = c[1];
                dst[2] = c[2];
            }
            continue;
        }
        src += x0 - frame.left;
        for (int x = 0; x < n; ++x, dst += 3) {
            const int index = src[x];
            if (index == key)
                continue;
            const uint8_t *c = lut + std::size_t(index) * 3;
            dst[0] = c[0];
            dst[1] = c[1];
            dst[2] = c[2];
        }
    }
}

void PlaybackComposer::restoreRect(int i)
{
    const PlaybackFrames::Frame &frame = mFrames->frames[std::size_t(i)];
    const int x0 = frame.left;
    const int x1 = std::min(frame.left + frame.width, mCurrent.width());
    const int y0 = frame.top;
    const int y1 = std::min(frame.top + frame.height, mCurrent.height());
    if (x0 >= x1 || y0 >= y1)
        return;
    const std::size_t bytes = std::size_t(x1 - x0) * 3;
    for (int y = y0; y < y1; ++y)
        std::memcpy(mCurrent.row(y) + std::size_t(x0) * 3, mBackground.row(y) + std::size_t(x0) * 3, bytes);
}

// --- PlaybackReadAhead -------------------------------------------------------------------------

PlaybackReadAhead::PlaybackReadAhead(std::shared_ptr<const PlaybackFrames> frames, int depth)
    : mFrames(std::move(frames))
    , mDepth(std::size_t(std::max(depth, 1)))
{
    mWorker = std::thread([this] { work(); });
}

PlaybackReadAhead::~PlaybackReadAhead()
{
    stop();
}

void PlaybackReadAhead::stop()
{
    {
        std::lock_guard lock(mMutex);
        mStopping = true;
        mReady.clear();
    }
    mChanged.notify_all();
    if (mWorker.joinable())
        mWorker.join();
}

PlaybackReadAhead::Composed PlaybackReadAhead::take()
{
    std::unique_lock lock(mMutex);
    mChanged.wait(lock, [this] { return !mReady.empty() || mOver || mStopping; });
    if (mReady.empty() || mStopping)
        return {};
    Composed next = std::move(mReady.front());
    mReady.pop_front();
    lock.unlock();
    mChanged.notify_all(); // room for one more
    return next;
}

void PlaybackReadAhead::put(Composed composed)
{
    std::unique_lock lock(mMutex);
    mChanged.wait(lock, [this] { return mReady.size() < mDepth || mStopping; });
    if (!mStopping)
        mReady.push_back(std::move(composed));
    lock.unlock();
    mChanged.notify_all();
}

void PlaybackReadAhead::work()
{
    try {
        PlaybackRun run(*mFrames);
        PlaybackComposer composer(mFrames);
        for (int f = run.first(); f >= 0; f = run.next()) {
            {
                std::lock_guard lock(mMutex);
                if (mStopping)
                    break;
            }
            composer.show(f);
            put({f, std::make_shared<const doc::Picture>(composer.picture())});
        }
    } catch (const std::exception &) {
        // A frame that cannot be read back (spill file gone, memory short) ends the run here:
        // the view keeps what it showed last.
    }
    {
        std::lock_guard lock(mMutex);
        mOver = true;
    }
    mChanged.notify_all();
}

// --- layout ------------------------------------------------------------------------------------

int centredOffset(int area, int size)
{
    const int diff = area - size;
    int half = diff >= 0 ? diff / 2 : -((-diff + 1) / 2); // floor(diff / 2)
    if ((diff & 1) && (half & 1))
        ++half; // x.5 goes to the even neighbour
    return half;
}

} // namespace app
