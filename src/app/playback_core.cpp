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

PlaybackRun::PlaybackRun(const doc::TGIFImage &document)
{
    mFrames.reserve(std::size_t(document.count()));
    for (int i = 0; i < document.count(); ++i) {
        const doc::TGIFSubImage &frame = document.frame(i);
        Entry entry;
        entry.hasPixels = frame.hasPixels();
        entry.delay = countedDelay(frame);
        for (int k = 0; k < frame.extensionCount(); ++k) {
            if (auto *loop = doc::extension_cast<doc::TGIFAppExtNSLoop>(frame.extension(k))) {
                entry.loops = loop->loops;
                break;
            }
        }
        mFrames.push_back(entry);
    }
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

int disposalOf(const doc::TGIFSubImage &frame)
{
    const doc::TGIFGraphicControlExtension *gce = frame.graphicControl();
    return gce ? gce->disposal() : 0;
}

} // namespace

PlaybackComposer::PlaybackComposer(const doc::TGIFImage &document, doc::Rgb background)
    : mDocument(document)
    , mBackgroundColor(background)
{
    for (int i = 0; i < document.count() && !mWorkPictures; ++i) {
        const int d = disposalOf(document.frame(i));
        mWorkPictures = d == 2 || d == 3;
    }
    const int w = document.header.width;
    const int h = document.header.height;
    const std::size_t pictures = mWorkPictures ? 4 : 1;
    mValid = w > 0 && h > 0 && std::size_t(w) * std::size_t(h) * 3 * pictures <= kPlaybackBudget;
    reset();
}

void PlaybackComposer::reset()
{
    mPreviousDisposal = 1;
    if (!mValid)
        return;
    const int w = mDocument.header.width;
    const int h = mDocument.header.height;
    mView = filled(w, h, mBackgroundColor);
    if (mWorkPictures) {
        mBackground = mView;
        mCurrent = mView;
        mScratch = mView;
    }
}

void PlaybackComposer::show(int i)
{
    if (!mValid || i < 0 || i >= mDocument.count())
        return;
    const int disposal = disposalOf(mDocument.frame(i));
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
    const doc::TGIFSubImage &frame = mDocument.frame(i);
    if (!frame.hasPixels())
        return;
    const doc::TGIFColorMap &table = frame.colorMap().empty() ? mDocument.header.colorMap : frame.colorMap();

    // Indices beyond the table read as black.
    std::array<uint8_t, 256 * 3> lut{};
    const int entries = std::min(table.count(), 256);
    for (int k = 0; k < entries; ++k) {
        lut[std::size_t(k) * 3] = table.entries[std::size_t(k)].r;
        lut[std::size_t(k) * 3 + 1] = table.entries[std::size_t(k)].g;
        lut[std::size_t(k) * 3 + 2] = table.entries[std::size_t(k)].b;
    }
    const bool keyed = mDocument.transparentDrawing && frame.transparent();
    const int key = keyed ? frame.graphicControl()->transparentIndex : -1;

    const int fw = frame.width;
    const int x0 = std::max<int>(frame.left, 0);
    const int x1 = std::min<int>(frame.left + fw, target.width());
    // A short pixel buffer draws only the rows it holds.
    const int rows = int(std::min<std::size_t>(frame.height, frame.pixels().size() / std::size_t(fw)));
    const int y0 = frame.top;
    const int y1 = std::min(frame.top + rows, target.height());
    if (x0 >= x1 || y0 >= y1)
        return;

    const uint8_t *pixels = frame.pixels().data();
    for (int y = y0; y < y1; ++y) {
        const uint8_t *src = pixels + std::size_t(y - frame.top) * std::size_t(fw) + (x0 - frame.left);
        uint8_t *dst = target.row(y) + std::size_t(x0) * 3;
        const int n = x1 - x0;
        for (int x = 0; x < n; ++x, dst += 3) {
            const int index = src[x];
            if (index == key)
                continue;
            const uint8_t *c = &lut[std::size_t(index) * 3];
            dst[0] = c[0];
            dst[1] = c[1];
            dst[2] = c[2];
        }
    }
}

void PlaybackComposer::restoreRect(int i)
{
    const doc::TGIFSubImage &frame = mDocument.frame(i);
    const int x0 = frame.left;
    const int x1 = std::min<int>(frame.left + frame.width, mCurrent.width());
    const int y0 = frame.top;
    const int y1 = std::min<int>(frame.top + frame.height, mCurrent.height());
    if (x0 >= x1 || y0 >= y1)
        return;
    const std::size_t bytes = std::size_t(x1 - x0) * 3;
    for (int y = y0; y < y1; ++y)
        std::memcpy(mCurrent.row(y) + std::size_t(x0) * 3, mBackground.row(y) + std::size_t(x0) * 3, bytes);
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
