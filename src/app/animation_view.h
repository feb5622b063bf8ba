#pragma once

#include "document/gif_image.h"
#include "playback_core.h"

#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace app {

/**
 * The animated view `gif`: sized to the document's logical screen, it shows a still (the first
 * frame composed, or a picture it is given) and plays the document.
 *
 * Playback runs on the user-interface thread: a precise single-shot timer is set, after each
 * frame, to the wait the schedule gives, measured on a monotonic clock. Each frame is drawn,
 * painted, and only then announced by afterPaint, so a slider following it never runs ahead of
 * the picture. Nothing is shared with another thread, so stop() only cancels the timer.
 *
 * The view keeps a pointer to the document: it must stay unchanged while it plays, and
 * setDocument(nullptr) (or another document) must come before it is destroyed.
 */
class AnimationView : public QWidget
{
    Q_OBJECT

public:
    explicit AnimationView(QWidget *parent = nullptr);
    ~AnimationView() override;

    /** Stops playback and shows the document's first frame composed on the view area's silver. */
    void setDocument(const doc::TGIFImage *document);
    const doc::TGIFImage *document() const { return mDocument; }

    /** Stops playback and shows `picture` as it is (a still handed over by the window). */
    void setPicture(const QImage &picture);
    /** Stops playback; the view shows nothing but its background. */
    void clearPicture();

    /**
     * Plays the document from its first frame. A one-frame document is drawn once, without a
     * timer. Does nothing without frames or when the screen is too large to compose.
     */
    void play();
    /** Ends playback at once; the view keeps the frame it shows. */
    void stop();
    bool isPlaying() const { return mPlaying; }

    /** The frame the view shows from playback, 0 before any was drawn. */
    int paintedFrameIndex() const { return mPainted < 0 ? 0 : mPainted; }

    /** What the view shows now. */
    QImage shownImage() const;

signals:
    /** A frame of the playing animation has been drawn and painted. */
    void afterPaint(int frameIndex);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void timeout();
    /** Runs one step of the schedule: sets the timer for the next frame, then draws this one. */
    void showStep(const PlaybackSchedule::Step &step);
    void stopTimer();

    const doc::TGIFImage *mDocument = nullptr;
    std::unique_ptr<PlaybackComposer> mComposer;
    std::unique_ptr<PlaybackSchedule> mSchedule;
    QImage mStill; // shown when nothing has been composed
    QTimer mTimer;
    QElapsedTimer mClock;
    bool mPlaying = false;
    int mPainted = -1;
};

/**
 * Centres the animated view in the view area: left/top = (area − view size) / 2 rounded to the
 * nearest integer, halves to the even neighbour.
 */
void BoxResize(const QSize &area, QWidget *view);

} // namespace app
