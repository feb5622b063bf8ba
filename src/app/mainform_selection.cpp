// Several frames at once: the marks in the strip and the commands that act on every marked frame.
#include "mainform.h"

#include "picture_qimage.h"
#include "undo_commands.h"
#include "views.h"

#include "document/document_ops.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMimeData>
#include <QSpinBox>

#include <algorithm>
#include <sstream>

namespace app {

namespace {

/** Several frames travel on the clipboard as a GIF, so that another window inserts them all. */
const QString gifMime = QStringLiteral("image/gif");

} // namespace

std::vector<int> TMainform::selectedFrames() const
{
    if (mSelected < 0)
        return {};
    if (mMarks.count() > 1 && mMarks.contains(mSelected))
        return mMarks.frames();
    return {mSelected};
}

void TMainform::selectKeepingMarks(int frame)
{
    mKeepMarks = true;
    selectFrame(frame);
    mKeepMarks = false;
    highlightSlot(mHighlighted);
}

void TMainform::slotClicked(int k, Qt::KeyboardModifiers modifiers)
{
    if (thumbs[std::size_t(k - 1)]->isHidden())
        return;
    mThumbnailPanel->setFocus();
    const int frame = scrollPosition() + k - 1;
    mMarksOnRelease = 0;
    if (!(modifiers & (Qt::ControlModifier | Qt::ShiftModifier)) || mSelected < 0) {
        if (mMarks.count() > 1 && mMarks.contains(frame) && mSelected >= 0) {
            // A press on one of several marked frames may start dragging them all: the marks
            // give way to this frame alone when the button comes up without a drag.
            stopPlayback();
            selectKeepingMarks(frame);
            mMarksOnRelease = k;
            return;
        }
        clickSlot(k);
        return;
    }
    stopPlayback();
    if (mMarks.count() == 0)
        mMarks.single(mSelected);
    if (modifiers & Qt::ShiftModifier) {
        mMarks.range(frame);
    } else if (!mMarks.toggle(frame)) {
        // The frame shown was unmarked: the view goes to the nearest frame still marked.
        if (mMarks.count() == 0)
            mMarks.single(frame);
        const std::vector<int> left = mMarks.frames();
        const auto next = std::lower_bound(left.begin(), left.end(), frame);
        selectKeepingMarks(next != left.end() ? *next : left.back());
        return;
    }
    selectKeepingMarks(frame);
}

void TMainform::slotReleased(int k)
{
    if (mMarksOnRelease == k && scrollPosition() + k - 1 == mSelected)
        clickSlot(k);
    mMarksOnRelease = 0;
}

void TMainform::stepTo(int frame, bool extend)
{
    if (frame < 0 || frame >= mFrameEntries)
        return;
    stopPlayback();
    if (!extend) {
        selectFrame(frame);
        return;
    }
    if (mMarks.count() == 0)
        mMarks.single(mSelected);
    mMarks.range(frame);
    selectKeepingMarks(frame);
}

void TMainform::showCommonDelay()
{
    const std::vector<int> frames = selectedFrames();
    if (frames.size() < 2)
        return;
    const uint16_t first = FrameDelay(frames.front());
    const bool same = std::all_of(frames.begin(), frames.end(), [&](int f) { return FrameDelay(f) == first; });
    if (!same) {
        if (auto *edit = Period->findChild<QLineEdit *>())
            edit->clear();
    }
}

void TMainform::deleteFrames(bool ask)
{
    const std::vector<int> frames = selectedFrames();
    if (ask
        && mPrompter->ask(MessageKind::Confirmation,
                          QStringLiteral("Êtes-vous sûr de vouloir supprimer ces %1 images de l'animation ?")
                              .arg(frames.size()),
                          Buttons::YesNo)
               != Answer::Yes)
        return;
    const UndoScope step(*mHistory, ask ? QStringLiteral("Supprimer les images") : QStringLiteral("Couper"));
    for (auto f = frames.rbegin(); f != frames.rend(); ++f)
        mDocument->deleteFrame(*f);
    ren();
    const int n = mDocument->count();
    setModified(true);
    if (n == 0) {
        Image->clearPicture();
        check(QStringLiteral("alsup"));
        return;
    }
    if (ask)
        selectFrame(std::min(frames.front(), n - 1));
    StoreLooping();
}

void TMainform::duplicateFrames()
{
    const std::vector<int> frames = selectedFrames();
    const UndoScope step(*mHistory, QStringLiteral("Dupliquer"));
    // Each copy right after its frame, from the last one so that the positions ahead hold.
    for (auto f = frames.rbegin(); f != frames.rend(); ++f)
        doc::InsertImage(*mDocument, mDocument->picture(*f), FrameDelay(*f), *f + 1);
    changed();
    ren();
    selectFrame(frames.front() + 1);
}

void TMainform::moveFrames(int offset)
{
    const std::vector<int> frames = selectedFrames();
    const int n = mDocument->count();
    if ((offset < 0 && frames.front() == 0) || (offset > 0 && frames.back() == n - 1))
        return;
    const UndoScope step(*mHistory, offset < 0 ? QStringLiteral("Déplacer en arrière") : QStringLiteral("Déplacer en avant"));
    if (offset < 0) {
        for (int f : frames)
            mDocument->exchange(f, f - 1);
    } else {
        for (auto f = frames.rbegin(); f != frames.rend(); ++f)
            mDocument->exchange(*f, *f + 1);
    }
    FrameSelection marks = mMarks;
    const int shown = mSelected + offset;
    ren();
    marks.shift(offset);
    mMarks = marks;
    selectKeepingMarks(shown);
    StoreLooping();
}

void TMainform::copyFrames()
{
    const std::vector<int> frames = selectedFrames();
    doc::TGIFImage copied;
    copied.header = mDocument->header;
    for (int f : frames)
        copied.appendFrame(mDocument->frame(f));
    std::ostringstream out;
    copied.SaveToStream(out);
    auto *data = new QMimeData;
    data->setData(gifMime, QByteArray::fromStdString(out.str()));
    // Other programs get the frame the view shows.
    data->setImageData(toQImage(mDocument->picture(mSelected)));
    QApplication::clipboard()->setMimeData(data);
}

bool TMainform::pasteFrames(bool append)
{
    const QMimeData *data = QApplication::clipboard()->mimeData();
    if (!data || !data->hasFormat(gifMime))
        return false;
    doc::TGIFImage copied;
    try {
        std::istringstream in(data->data(gifMime).toStdString());
        copied.LoadFromStream(in);
    } catch (const std::exception &) {
        return false;
    }
    if (copied.count() < 2)
        return false;
    const UndoScope step(*mHistory, QStringLiteral("Coller"));
    if (!mDocument) {
        mDocument = std::make_unique<doc::TGIFImage>();
        mDocument->onProgress = progressHandler();
    }
    int p = append ? mDocument->count() : std::max(mSelected, 0);
    const int first = p;
    for (int i = 0; i < copied.count(); ++i) {
        const doc::TGIFGraphicControlExtension *gce = copied.frame(i).graphicControl();
        doc::InsertImage(*mDocument, copied.picture(i), gce ? gce->delay : 60, p++);
    }
    ren();
    selectFrame(first);
    check(QStringLiteral("pasted"));
    shapeit();
    setModified(true);
    return true;
}

} // namespace app
