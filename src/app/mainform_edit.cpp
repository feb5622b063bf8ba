// Frame editing: delete, duplicate, move, copy, cut, paste, disposal, transparent-colour pick.
#include "mainform.h"

#include "animation_view.h"
#include "picture_qimage.h"
#include "undo_commands.h"
#include "views.h"

#include "dialogs/udispo.h"
#include "document/document_ops.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSpinBox>

namespace app {

bool TMainform::clipboardHasBitmap()
{
    const QMimeData *data = QApplication::clipboard()->mimeData();
    return data && data->hasImage();
}

void TMainform::DelClick()
{
    releaseAnimation();
    const int s = mSelected;
    if (!mDocument || s < 0 || s >= mDocument->count())
        return;
    if (selectedFrames().size() > 1)
        return deleteFrames(true);
    const UndoScope step(*mHistory, QStringLiteral("Supprimer l'image"));
    if (mPrompter->ask(MessageKind::Confirmation,
                       QStringLiteral("Êtes-vous sûr de vouloir supprimer cette image de l'animation ?"), Buttons::YesNo)
        != Answer::Yes)
        return;
    mDocument->deleteFrame(s);
    ren();
    const int n = mDocument->count();
    if (n > 0)
        selectFrame(s < n ? s : s - 1);
    setModified(true);
    if (n > 0) {
        StoreLooping();
    } else {
        Image->clearPicture();
        check(QStringLiteral("alsup"));
    }
}

void TMainform::DupClick()
{
    releaseAnimation();
    const int s = mSelected;
    if (!mDocument || s < 0 || s >= mDocument->count())
        return;
    if (selectedFrames().size() > 1)
        return duplicateFrames();
    const UndoScope step(*mHistory, QStringLiteral("Dupliquer"));
    const uint16_t d = FrameDelay(s);
    // The copy is made from the picture the views show, so changes made to it come along.
    doc::InsertImage(*mDocument, mDocument->picture(s), d, s + 1);
    changed();
    ren();
    selectFrame(s + 1);
}

void TMainform::moveFrame(int offset)
{
    releaseAnimation();
    const int s = mSelected;
    if (!mDocument || s < 0 || s >= mDocument->count())
        return;
    if (selectedFrames().size() > 1)
        return moveFrames(offset);
    const int t = s + offset;
    if (t < 0 || t >= mDocument->count())
        return;
    const UndoScope step(*mHistory, offset < 0 ? QStringLiteral("Déplacer en arrière") : QStringLiteral("Déplacer en avant"));
    mDocument->exchange(s, t);
    ren();
    selectFrame(t);
    StoreLooping();
}

void TMainform::CopyItemClick()
{
    const int s = mSelected;
    if (!mDocument || s < 0 || s >= mDocument->count())
        return;
    if (selectedFrames().size() > 1)
        return copyFrames();
    QApplication::clipboard()->setImage(toQImage(mDocument->picture(s)));
}

void TMainform::CutItemClick()
{
    releaseAnimation();
    const int s = mSelected;
    if (!mDocument || s < 0 || s >= mDocument->count())
        return;
    if (selectedFrames().size() > 1) {
        copyFrames();
        return deleteFrames(false);
    }
    const UndoScope step(*mHistory, QStringLiteral("Couper"));
    QApplication::clipboard()->setImage(toQImage(mDocument->picture(s)));
    mDocument->deleteFrame(s);
    ren(); // no frame is selected afterwards; the still view keeps its picture
    if (mDocument->empty())
        check(QStringLiteral("alsup"));
    setModified(true);
}

void TMainform::pasteFromClipboard(bool append)
{
    releaseAnimation();
    if (pasteFrames(append))
        return;
    const UndoScope step(*mHistory, QStringLiteral("Coller"));
    int p = std::max(mSelected, 0);
    if (!clipboardHasBitmap()) {
        setModified(true);
        return;
    }
    const QImage image = QApplication::clipboard()->image();
    if (!mDocument) {
        mDocument = std::make_unique<doc::TGIFImage>();
        mDocument->onProgress = progressHandler();
    }
    mDocument->reduction = doc::ColorReduction::OctreeQuantize;
    try {
        doc::Picture picture = fromQImage(image);
        if (append)
            p = mDocument->count();
        doc::InsertImage(*mDocument, reduceForFrame(picture), 60, p);
    } catch (const std::exception &) {
        // A picture that cannot be reduced adds nothing, without a message.
    }
    ren();
    selectFrame(p);
    check(QStringLiteral("pasted"));
    shapeit();
    setModified(true);
}

void TMainform::PasteClick()
{
    pasteFromClipboard(true);
}

void TMainform::insClick()
{
    pasteFromClipboard(false);
}

void TMainform::transcolClick()
{
    mPickArmed = true;
    Image->setCursor(Qt::CrossCursor);
}

void TMainform::ImageMouseUp(QPoint pos, Qt::MouseButton button)
{
    if (button == Qt::RightButton) {
        Image->unsetCursor();
        mPickArmed = false;
        return;
    }
    if (!mPickArmed)
        return;
    mPickArmed = false;
    Image->unsetCursor();
    const int s = mSelected;
    const QImage still = Image->picture();
    if (!mDocument || s < 0 || s >= mDocument->count() || still.isNull())
        return;
    // The release point is read in the view's coordinates, without the centring offset; a point
    // outside the picture picks nothing.
    if (!still.rect().contains(pos))
        return;
    const UndoScope step(*mHistory, QStringLiteral("Couleur transparente"));
    doc::Picture picture = fromQImage(still);
    const QRgb c = still.pixel(pos);
    picture.setDesignatedTransparentColor(doc::Rgb{uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c))});
    // What the view shows transparent is saved so: the frame's own transparency follows the pick.
    doc::makeTransparentAt(*mDocument, s, pos.x(), pos.y());
    mDocument->frame(s).setPicture(std::move(picture));
    Image->setTransparentColor(c);
    changed();
}

} // namespace app

namespace app {

dialogs::TDispo *TMainform::dispo()
{
    if (!mDispo)
        mDispo = new dialogs::TDispo(this);
    return mDispo;
}

void TMainform::methodeClick()
{
    releaseAnimation();
    const int s = mSelected;
    if (!mDocument || s < 0 || s >= mDocument->count())
        return;
    const UndoScope step(*mHistory, QStringLiteral("Méthode de disposition"));
    doc::TGIFSubImage &frame = mDocument->frame(s);
    if (!frame.graphicControl())
        frame.addGraphicControl();
    dialogs::TDispo *dialog = dispo();
    dialog->presetFromDisposal(frame.graphicControl()->disposal());
    if (dialog->exec() != QDialog::Accepted)
        return;
    // Every marked frame takes the choice made for the one shown.
    for (int f : selectedFrames()) {
        doc::TGIFSubImage &marked = mDocument->frame(f);
        if (!marked.graphicControl())
            marked.addGraphicControl();
        marked.graphicControl()->setDisposal(dialog->disposalValue());
    }
    setModified(true);
}

void TMainform::playClick()
{
    if (!mDocument)
        return;
    doc::EnsureControlExtensions(*mDocument);
    Image->hide();
    gif->setDocument(mDocument.get());
    BoxResize();
    gif->show();
    gif->play();
    check(QStringLiteral("played"));
    UpdateNavButtons();
    UpdateSlider();
    setPlaybackFieldsEnabled(false);
}

} // namespace app
