#include "animation_view.h"

#include <QPainter>
#include <QPaintEvent>

#include <algorithm>
#include <climits>

namespace app {

namespace {

/** The composed picture as an image sharing its bytes; valid while the picture is unchanged. */
QImage wrap(const doc::Picture &picture)
{
    if (picture.isNull())
        return {};
    return QImage(picture.data().data(), picture.width(), picture.height(), qsizetype(picture.stride()),
                  QImage::Format_RGB888);
}

} // namespace

AnimationView::AnimationView(QWidget *parent)
    : QWidget(parent)
{
    mTimer.setSingleShot(true);
    mTimer.setTimerType(Qt::PreciseTimer);
    connect(&mTimer, &QTimer::timeout, this, &AnimationView::timeout);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

AnimationView::~AnimationView() = default;

void AnimationView::setDocument(const doc::TGIFImage *document)
{
    stop();
    mShown.reset();
    mComposer.reset();
    mStill = QImage();
    mPainted = -1;
    mDocument = document;
    if (document) {
        setFixedSize(document->header.width, document->header.height);
        mComposer = std::make_unique<PlaybackComposer>(*document);
        if (document->count() > 0)
            mComposer->show(0);
    }
    update();
}

void AnimationView::setPicture(const QImage &picture)
{
    stop();
    mShown.reset();
    mComposer.reset();
    mPainted = -1;
    mStill = picture;
    update();
}

void AnimationView::clearPicture()
{
    setPicture(QImage());
}

void AnimationView::play()
{
    stop();
    mPainted = -1;
    if (!mDocument || mDocument->empty())
        return;
    const std::shared_ptr<const PlaybackFrames> frames = PlaybackFrames::of(*mDocument);
    mComposer = std::make_unique<PlaybackComposer>(frames);
    if (!mComposer->isValid())
        return;
    mStill = QImage();
    mShown.reset();
    mSchedule = std::make_unique<PlaybackSchedule>(*frames);
    mClock.start();
    const PlaybackSchedule::Step first = mSchedule->start(0);
    // One picture only (one frame, or a run that shows one): drawn here, no worker, no timer.
    if (first.hasNext)
        mReadAhead = std::make_unique<PlaybackReadAhead>(frames);
    mPlaying = true;
    showStep(first);
}

void AnimationView::stop()
{
    stopTimer();
    mSchedule.reset();
    mReadAhead.reset();
}

void AnimationView::stopTimer()
{
    mTimer.stop();
    mPlaying = false;
}

void AnimationView::timeout()
{
    if (!mPlaying || !mSchedule)
        return;
    showStep(mSchedule->tick(mClock.elapsed()));
}

void AnimationView::showStep(const PlaybackSchedule::Step &step)
{
    if (step.hasNext)
        mTimer.start(int(std::clamp<int64_t>(step.wait, 0, INT_MAX)));
    else
        mPlaying = false;
    if (step.frame < 0)
        return;
    if (mReadAhead) {
        // The worker runs the same run on the same frames, so its pictures come in the schedule's
        // order; one that does not (it ended early: a frame could not be read) ends playback.
        PlaybackReadAhead::Composed next = mReadAhead->take();
        if (next.frame != step.frame) {
            stop();
            return;
        }
        mShown = std::move(next.picture);
    } else {
        mComposer->show(step.frame);
    }
    mPainted = step.frame;
    repaint();
    // Last, so that a handler may stop or restart playback.
    emit afterPaint(step.frame);
}

QImage AnimationView::shownImage() const
{
    return currentImage().copy();
}

QImage AnimationView::currentImage() const
{
    if (mShown)
        return wrap(*mShown);
    if (mComposer && mComposer->isValid())
        return wrap(mComposer->picture());
    return mStill;
}

void AnimationView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const QImage image = currentImage();
    const QColor silver(kViewBackground.r, kViewBackground.g, kViewBackground.b);
    if (image.isNull()) {
        painter.fillRect(event->rect(), silver);
        return;
    }
    // A still handed over may be smaller than the screen: centred, like the other views.
    const QPoint at((width() - image.width()) / 2, (height() - image.height()) / 2);
    if (image.size() != size())
        painter.fillRect(event->rect(), silver);
    painter.drawImage(at, image);
}

void BoxResize(const QSize &area, QWidget *view)
{
    if (!view)
        return;
    view->move(centredOffset(area.width(), view->width()), centredOffset(area.height(), view->height()));
}

} // namespace app
