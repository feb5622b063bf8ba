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
 * Playback keeps time on the user-interface thread: a precise single-shot timer is set, after
 * each frame, to the wait the schedule gives, measured on a monotonic clock. The pictures are
 * composed ahead on a worker thread (PlaybackReadAhead) from what the document held when play()
 * began, so a frame's time costs only its painting, and the document may be edited meanwhile
 * (the view goes on showing the frames as they were until it is stopped). Each frame is painted
 * and only then announced by afterPaint, so a slider following it never runs ahead of the
 * picture. stop() cancels the timer and ends the worker.
 *
 * The view keeps a pointer to the document for its still; setDocument(nullptr) (or another
 * document) must come before the document is destroyed.
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
    /** What the view shows, sharing the bytes of the picture it comes from. */
    QImage currentImage() const;

    const doc::TGIFImage *mDocument = nullptr;
    std::unique_ptr<PlaybackComposer> mComposer; // the still, and a one-frame document played
    std::unique_ptr<PlaybackSchedule> mSchedule;
    std::unique_ptr<PlaybackReadAhead> mReadAhead;
    std::shared_ptr<const doc::Picture> mShown; // the picture playback painted last
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
