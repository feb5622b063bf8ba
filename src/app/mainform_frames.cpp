// The frame list's selection, the thumbnail strip and the still view.
#include "mainform.h"

#include "animation_view.h"
#include "picture_qimage.h"
#include "views.h"

#include <QAction>
#include <QLabel>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QPlainTextEdit>

#include <algorithm>

namespace app {

int TMainform::scrollPosition() const
{
    return ImageScroll->value();
}

void TMainform::RefreshThumbnails()
{
    const int n = mFrameEntries;
    const int p = scrollPosition();
    for (int k = 1; k <= 4; ++k) {
        ThumbnailSlot *slot = thumbs[std::size_t(k - 1)];
        if (k > n || !mDocument || p + k - 1 >= mDocument->count()) {
            slot->hide();
            continue;
        }
        slot->show();
        slot->raise();
        PictureBox *box = slot->picture();
        const QImage picture = toQImage(mDocument->picture(p + k - 1));
        box->setPicture(picture);
        const int bw = box->width();
        const int bh = box->height();
        double scale = 1.0;
        if (picture.width() > bw || picture.height() > bh) {
            // A wide picture can come out taller than the box and is then cut at top and bottom.
            scale = picture.width() > picture.height() ? double(bw) / picture.width() : double(bh) / picture.height();
        }
        box->setScale(scale);
    }
}

void TMainform::highlightSlot(int k)
{
    const int p = scrollPosition();
    for (int i = 1; i <= 4; ++i)
        thumbs[std::size_t(i - 1)]->setHighlighted(i == k || (mMarks.count() > 1 && mMarks.contains(p + i - 1)));
    mHighlighted = k;
}

void TMainform::clickSlot(int k)
{
    if (thumbs[std::size_t(k - 1)]->isHidden())
        return;
    stopPlayback();
    selectFrame(scrollPosition() + k - 1);
    highlightSlot(k);
}

void TMainform::ImageScrollChange()
{
    RefreshThumbnails();
    mScrolling = 5;
    const int p = scrollPosition();
    for (int k = 1; k <= 4; ++k)
        thumbs[std::size_t(k - 1)]->numberLabel()->setText(QString::number(p + k));
    if (mMarks.count() > 1)
        highlightSlot(mSelected - p + 1); // several marks stay as they are while the strip scrolls
    else if (mHighlighted >= 1 && mHighlighted <= 4)
        clickSlot(mHighlighted);
    mScrolling = 0;
}

void TMainform::framesChange()
{
    const int s = mSelected;
    if (s < 0 || !mDocument || s >= mDocument->count())
        return;

    // A frame's picture is drawn transparently only when it carries a transparent colour (a pick
    // made it so); the decoded picture of a frame does not.
    const doc::Picture &picture = mDocument->picture(s);
    Image->setPicture(toQImage(picture));
    if (const auto &t = picture.designatedTransparentColor())
        Image->setTransparentColor(qRgb(t->r, t->g, t->b));
    else
        Image->setTransparentColor(std::nullopt);
    showStill(true);

    play->setEnabled(true);
    stop->setEnabled(false);
    check(QStringLiteral("selected"));

    Slider->setValue(s);
    UpdateSlider();
    UpdateNavButtons();
    PlaceScrollMarker();

    mPeriodGuard = 0;
    Period->setValue(FrameDelay(s));
    mPeriodGuard = 5;
    showCommonDelay();

    const int p = scrollPosition();
    if (mScrolling == 5) {
        if (s - p >= 0 && s - p <= 3)
            highlightSlot((s - p) % 4 + 1);
    } else if (p <= s && s <= p + 3) {
        highlightSlot(s - p + 1);
    } else if (s < p) {
        highlightSlot(1);
        ImageScroll->setValue(s); // runs ImageScrollChange, which re-selects s through its slot
    } else {
        highlightSlot(4);
        ImageScroll->setValue(s - 3);
    }
}

uint16_t TMainform::FrameDelay(int i)
{
    doc::TGIFSubImage &frame = mDocument->frame(i);
    if (!frame.graphicControl())
        frame.addGraphicControl();
    return frame.graphicControl()->delay;
}

void TMainform::showStill(bool still)
{
    Image->setVisible(still);
    gif->setVisible(!still);
}

void TMainform::nextClick()
{
    if (mFrameEntries > 0)
        selectFrame(mSelected + 1 >= mFrameEntries ? 0 : mSelected + 1);
}

void TMainform::backClick()
{
    if (mFrameEntries > 0)
        selectFrame(mSelected <= 0 ? mFrameEntries - 1 : mSelected - 1);
}

void TMainform::SliderChange()
{
    if (!Slider->isEnabled() || Image->isHidden() || mFrameEntries < 2)
        return;
    const int s = std::clamp(Slider->sliderPosition(), 0, mFrameEntries - 1);
    if (s != mSelected)
        selectFrame(s);
}

void TMainform::UpdateSlider()
{
    Slider->setEnabled(mFrameEntries >= 2 && !Image->isHidden());
}

int TMainform::PaintedFrameIndex() const
{
    if (gif->isHidden() || !gif->document())
        return 0;
    return gif->paintedFrameIndex();
}

void TMainform::After()
{
    Slider->setValue(PaintedFrameIndex());
}

void TMainform::releaseAnimation()
{
    gif->stop();
    gif->setDocument(nullptr);
}

void TMainform::BoxResize()
{
    if (mDocument)
        gif->resize(mDocument->header.width, mDocument->header.height);
    app::BoxResize(Box->viewport()->size(), gif);
}

void TMainform::stopPlayback()
{
    releaseAnimation();
    if (mSelected < 0 && mFrameEntries > 0)
        mSelected = 0;
    framesChange();
    Slider->setValue(std::max(mSelected, 0));
    UpdateNavButtons();
    setPlaybackFieldsEnabled(true);
}

} // namespace app
