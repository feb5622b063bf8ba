// The properties panel: looping, the selected frame's delay and the animation's comment.
#include "mainform.h"

#include "document/document_ops.h"
#include "undo_commands.h"

#include <QAction>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QWidget>

namespace app {

void TMainform::ShowLooping()
{
    doc::TGIFAppExtNSLoop *loop = doc::LoopExtension(mDocument.get());
    // Checking a radio button from the program runs its click handler as a user click does.
    if (!loop || loop->loops == 0) {
        infini->setChecked(true);
        NumLoops->setEnabled(false);
        StoreLooping();
    } else {
        const int count = loop->loops;
        fini->setChecked(true);
        NumLoops->setEnabled(true);
        StoreLooping();
        NumLoops->setValue(count);
    }
}

void TMainform::StoreLooping()
{
    if (!mDocument || mDocument->empty())
        return;
    const UndoScope step(*mHistory, QStringLiteral("Répétitions"), UndoScope::Merge::Typing);
    const long long count = infini->isChecked() ? 0 : NumLoops->value();
    doc::LoopExtension(mDocument.get())->loops = uint16_t(static_cast<unsigned long long>(count) & 0xFFFF);
    setModified(true);
}

void TMainform::EnableAnimationFields()
{
    const bool frames = mDocument && !mDocument->empty();
    infini->setEnabled(frames);
    fini->setEnabled(frames);
    Period->setEnabled(frames);
    Gifcomment->setEnabled(frames);
    NumLoops->setEnabled(frames && fini->isChecked());
}

void TMainform::setPlaybackFieldsEnabled(bool enabled)
{
    // NumLoops follows too, whichever looping choice is set: playback takes them all.
    for (QWidget *w : std::initializer_list<QWidget *>{infini, fini, NumLoops, Period, Gifcomment})
        w->setEnabled(enabled);
}

void TMainform::PeriodChange()
{
    if (!mDocument || mDocument->empty())
        return;
    const int s = mSelected;
    if (s < 0 || s >= mDocument->count())
        return; // no frame selected: the field changes no frame
    const UndoScope step(*mHistory, QStringLiteral("Délai"), UndoScope::Merge::Typing);
    doc::TGIFSubImage &frame = mDocument->frame(s);
    if (!frame.graphicControl())
        frame.addGraphicControl();
    const uint16_t delay = uint16_t(static_cast<unsigned>(Period->value()) & 0xFFFF);
    frame.graphicControl()->delay = delay;
    if (mPeriodGuard == 5) {
        // Typed by the user: every marked frame takes it.
        for (int f : selectedFrames()) {
            doc::TGIFSubImage &marked = mDocument->frame(f);
            if (!marked.graphicControl())
                marked.addGraphicControl();
            marked.graphicControl()->delay = delay;
        }
        setModified(true);
    }
}

void TMainform::ShowComment()
{
    mCommentGuard = 0;
    Gifcomment->clear();
    if (mDocument) {
        Gifcomment->setPlainText(QString::fromStdString(doc::commentText(*mDocument)));
    }
    if (QWidget *panel = centralWidget())
        panel->setFocus();
    mCommentGuard = 5;
}

void TMainform::StoreComment()
{
    if (!mDocument || mDocument->empty())
        return;
    doc::storeCommentText(*mDocument, Gifcomment->toPlainText().toStdString());
}

void TMainform::GifcommentChange()
{
    if (mCommentGuard == 5) {
        setModified(true);
        mHistory->commentTyped(Gifcomment->toPlainText());
    } else {
        mHistory->setCommentBaseline(Gifcomment->toPlainText());
    }
}

} // namespace app
