#pragma once

// The playback engine without Qt: when each frame is shown, which frame comes next, and what the
// animated view shows once a frame is drawn. The Qt view (animation_view.h) only keeps the clock,
// runs the timer and paints the pictures composed here, ahead of time on a worker thread.

#include "document/gif_image.h"
#include "document/picture.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace app {

/** Playback runs at 12/10 of nominal GIF timing: 12 ms per hundredth of a second of delay. */
inline constexpr int kMsPerHundredth = 12;
/** The document's animation speed, in percent. */
inline constexpr int kAnimationSpeed = 100;
/** The view area's silver: what the animated view shows where no frame has drawn. */
inline constexpr doc::Rgb kViewBackground{192, 192, 192};
/** Memory the work pictures of one playback may hold; a larger logical screen is not played. */
inline constexpr std::size_t kPlaybackBudget = std::size_t(1) << 30;

/** How many composed pictures playback prepares ahead of the one shown. */
inline constexpr int kReadAheadDepth = 3;

/**
 * The delay of a frame in hundredths as playback counts it: 10 without a graphic control extension
 * or with delay 0, at least 3 otherwise.
 */
int countedDelay(const doc::TGIFSubImage &frame);

/**
 * Everything playback reads of a document, taken at once on the document's thread: the screen,
 * and per frame its rectangle, timing, looping, disposal, colours and indices (as sources that
 * stay valid whatever later happens to the document). A worker thread composes from it while the
 * user interface goes on with the document.
 */
struct PlaybackFrames {
    struct Frame {
        int left = 0;
        int top = 0;
        int width = 0;
        int height = 0;
        bool hasPixels = false;
        int delay = 10;     // counted (see countedDelay)
        int loops = -1;     // count of the frame's looping extension, -1 without one
        int disposal = 0;
        int key = -1;       // index left out when drawn, -1 for none
        std::array<uint8_t, 256 * 3> lut{}; // r, g, b per index; beyond the table, black
        doc::PixelSource pixels;
    };

    int width = 0;
    int height = 0;
    std::vector<Frame> frames;
    /**
     * Whether decoded rows go into the frame cache: only when every frame fits in its budget, so
     * that the passes after the first decode nothing; a longer animation would only push out, one
     * by one, frames the next pass needs before they come round again.
     */
    bool keepRows = true;

    static std::shared_ptr<const PlaybackFrames> of(const doc::TGIFImage &document);
};

/**
 * The wait before the next frame, in ms: (12 × delay − e) × 100 ÷ speed, where e is half,
 * truncated toward zero, of the lateness of the previous step (now − previousWaitStart −
 * previousWait). For the first wait of a run pass previousWaitStart = now and previousWait = 0.
 * The result may be zero or negative: then the next frame is due at once.
 */
int64_t nextWait(int delay, int64_t previousWaitStart, int64_t previousWait, int64_t now,
                 int speed = kAnimationSpeed);

/**
 * The order in which a run shows the frames: passes from the loop point to the last frame, a frame
 * without pixels ending a pass early, looping as the document's looping extensions say. The loop
 * count starts at 1 (play once); a frame that carries a looping extension sets the loop count and
 * the loop point the first time it is shown; a positive loop count goes down at the end of each
 * pass and the run ends when it reaches 0, so 0 plays until stopped. A pass that showed only the
 * loop point also ends the run: the next would show the same picture again (a one-frame animation
 * that loops is painted once).
 *
 * It reads what it needs from the document when built and keeps no reference to it.
 */
class PlaybackRun
{
public:
    explicit PlaybackRun(const doc::TGIFImage &document);
    explicit PlaybackRun(const PlaybackFrames &frames);

    /** Starts the run again; the first frame to show, or -1 when there is nothing to show. */
    int first();
    /** The frame to show after the one last returned, or -1 when the passes are over. */
    int next();

    /** The frame last returned, -1 before the first and after the end. */
    int current() const { return mCurrent; }
    int loopCount() const { return mLoopCount; }
    int loopPoint() const { return mLoopPoint; }
    int frameCount() const { return int(mFrames.size()); }
    /** The counted delay of frame i (see countedDelay). */
    int delay(int i) const { return mFrames[std::size_t(i)].delay; }

private:
    struct Entry {
        bool hasPixels = false;
        int loops = -1; // count of the frame's looping extension, -1 without one
        int delay = 10;
    };

    int showFrom(int i);

    std::vector<Entry> mFrames;
    std::vector<bool> mSeen;
    int mLoopCount = 1;
    int mLoopPoint = 0;
    int mCurrent = -1;
    int mShownThisPass = 0;
};

/**
 * A run with its timing. The caller asks what to show when playback starts and each time the
 * wait it was given has elapsed, passing the clock's time in ms; each answer is the frame to show
 * now and the wait before the next one.
 *
 * The next wait is worked out when the previous one ends, before the frame is drawn, so the time
 * spent drawing falls inside the next wait instead of adding to every step.
 */
class PlaybackSchedule
{
public:
    struct Step {
        /** The frame to show now; -1 when there is nothing to show. */
        int frame = -1;
        /** Whether another frame follows; when it does, `wait` ms after `now` is its time. */
        bool hasNext = false;
        /** The wait as the formula gives it (may be 0 or negative: due at once). */
        int64_t wait = 0;
    };

    explicit PlaybackSchedule(const doc::TGIFImage &document, int speed = kAnimationSpeed);
    explicit PlaybackSchedule(const PlaybackFrames &frames, int speed = kAnimationSpeed);

    /** Playback starts at `now`: the first frame, shown at once. */
    Step start(int64_t now);
    /** The wait of the previous step has elapsed (or was cut short); the frame due now. */
    Step tick(int64_t now);

    const PlaybackRun &run() const { return mRun; }

private:
    Step stepFrom(int frame, int64_t now);

    PlaybackRun mRun;
    int mSpeed;
    int mPending = -1;
    bool mWaited = false;
    int64_t mWaitStart = 0;
    int64_t mWait = 0;
};

/**
 * What the animated view shows as frames are drawn, at the logical screen size (Rgb24).
 *
 * When no frame has disposal 2 or 3, each frame is drawn straight onto the view's picture.
 * Otherwise three work pictures are kept: the background (what the view showed before playing:
 * the view area's colour), the current picture and a scratch copy. Disposal 0 or 1 draws onto the
 * current picture; 2 does the same, then restores the frame's rectangle from the background for
 * the next frame; 3 draws onto a copy so the next frame starts from the current picture as it was
 * before. Frames with a disposal of 4 to 7 are not drawn at all. Transparent pixels (by index)
 * are left out when the document draws with its transparency; frames are clipped to the screen.
 *
 * It works on the document's frames as they were when it was made (PlaybackFrames), so the
 * document may change or go away meanwhile.
 */
class PlaybackComposer
{
public:
    explicit PlaybackComposer(const doc::TGIFImage &document, doc::Rgb background = kViewBackground);
    explicit PlaybackComposer(std::shared_ptr<const PlaybackFrames> frames, doc::Rgb background = kViewBackground);

    /** False when the logical screen is empty or too large to hold (see kPlaybackBudget). */
    bool isValid() const { return mValid; }
    /** Whether the work pictures are used (some frame has disposal 2 or 3). */
    bool usesWorkPictures() const { return mWorkPictures; }

    /** Draws frame i the way the animation shows it; picture() is then what the view shows. */
    void show(int i);
    /** Back to the view as it was before the first frame. */
    void reset();

    const doc::Picture &picture() const { return mView; }

private:
    void draw(doc::Picture &target, int i) const;
    void restoreRect(int i);

    std::shared_ptr<const PlaybackFrames> mFrames;
    doc::Rgb mBackgroundColor;
    bool mValid = false;
    bool mWorkPictures = false;
    int mPreviousDisposal = 1;

    doc::Picture mView;
    doc::Picture mCurrent;
    doc::Picture mScratch;
    doc::Picture mBackground;
};

/**
 * Composes the frames of a run ahead of time on a worker thread: the pictures the view will show,
 * in the order the run shows them, at most `depth` waiting at once. The view takes them one by one
 * as their time comes, so only painting is left on the user-interface thread.
 *
 * The worker reads only the PlaybackFrames it was given, never the document; ending (stop or
 * destruction) waits for it to finish the frame it is composing.
 */
class PlaybackReadAhead
{
public:
    struct Composed {
        /** The frame shown; -1 when the run is over (or composing failed). */
        int frame = -1;
        std::shared_ptr<const doc::Picture> picture;
    };

    explicit PlaybackReadAhead(std::shared_ptr<const PlaybackFrames> frames, int depth = kReadAheadDepth);
    ~PlaybackReadAhead();
    PlaybackReadAhead(const PlaybackReadAhead &) = delete;
    PlaybackReadAhead &operator=(const PlaybackReadAhead &) = delete;

    /** The next picture of the run, waiting while the worker still composes it. */
    Composed take();
    /** Ends the worker; take() then answers frame -1. */
    void stop();

private:
    void work();
    void put(Composed composed);

    std::shared_ptr<const PlaybackFrames> mFrames;
    const std::size_t mDepth;
    std::mutex mMutex;
    std::condition_variable mChanged;
    std::deque<Composed> mReady;
    bool mStopping = false;
    bool mOver = false;
    std::thread mWorker;
};

/**
 * Where a view of `size` sits in an area of `area` pixels along one axis to be centred:
 * (area − size) / 2 rounded to the nearest integer, halves to the even neighbour.
 */
int centredOffset(int area, int size);

} // namespace app
