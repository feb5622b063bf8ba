// Undo and redo: the history's items, and the window brought up to date after a step.
#include "mainform.h"

#include "animation_view.h"
#include "undo_commands.h"
#include "views.h"

#include <QAction>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QToolBar>

#include <algorithm>

namespace app {

QString TMainform::stepName(const QString &menuText)
{
    QString name = menuText;
    name.remove(QRegularExpression(QStringLiteral("&(?!&)")));
    while (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    return name.trimmed();
}

namespace {
const QString undoMemoryKey = QStringLiteral("Software/Movaro Gif/Mainform Settings/UndoMemory");
}

void TMainform::setUndoMemory(int megabytes)
{
    mHistory->setByteLimit(std::size_t(std::max(megabytes, 1)) << 20);
    mStore->setValue(undoMemoryKey, QString::number(megabytes));
    mStore->sync();
}

void TMainform::createUndoItems(QMenu *edit)
{
    UndoHistory::Hooks hooks;
    hooks.release = [this] { releaseAnimation(); };
    hooks.refresh = [this](int frame) { refreshAfterStep(frame); };
    hooks.setComment = [this](const QString &text) {
        mCommentGuard = 0;
        Gifcomment->setPlainText(text);
        mCommentGuard = 5;
    };
    hooks.setModified = [this](bool modified) { save->setEnabled(modified); };
    mHistory = new UndoHistory(mDocument, std::move(hooks), this);
    bool ok = false;
    const int megabytes = mStore->value(undoMemoryKey).toString().trimmed().toInt(&ok);
    if (ok && megabytes > 0)
        mHistory->setByteLimit(std::size_t(megabytes) << 20);

    QUndoStack &stack = mHistory->stack();
    undoItem = makeAction(QStringLiteral("Annuler1"), QStringLiteral("A&nnuler"),
                          QStringLiteral("Annuler|Annuler la dernière modification"), QStringLiteral("edit-undo"));
    undoItem->setShortcut(QKeySequence(QStringLiteral("Ctrl+Z")));
    redoItem = makeAction(QStringLiteral("Refaire"), QStringLiteral("&Refaire"),
                          QStringLiteral("Refaire|Refaire la dernière modification annulée"), QStringLiteral("edit-redo"));
    redoItem->setShortcuts({QKeySequence(QStringLiteral("Ctrl+Y")), QKeySequence(QStringLiteral("Ctrl+Shift+Z"))});
    undoItem->setEnabled(false);
    redoItem->setEnabled(false);
    connect(undoItem, &QAction::triggered, this, [this] {
        stopPlayback();
        mHistory->stack().undo();
    });
    connect(redoItem, &QAction::triggered, this, [this] {
        stopPlayback();
        mHistory->stack().redo();
    });
    connect(&stack, &QUndoStack::canUndoChanged, undoItem, &QAction::setEnabled);
    connect(&stack, &QUndoStack::canRedoChanged, redoItem, &QAction::setEnabled);
    // The step's name follows the item's own text: "Annuler Supprimer l'image".
    connect(&stack, &QUndoStack::undoTextChanged, undoItem, [this](const QString &step) {
        undoItem->setText(step.isEmpty() ? QStringLiteral("A&nnuler") : QStringLiteral("A&nnuler ") + step);
    });
    connect(&stack, &QUndoStack::redoTextChanged, redoItem, [this](const QString &step) {
        redoItem->setText(step.isEmpty() ? QStringLiteral("&Refaire") : QStringLiteral("&Refaire ") + step);
    });
    edit->addActions({undoItem, redoItem});
    edit->addSeparator();
}

void TMainform::refreshAfterStep(int frame)
{
    if (mDocument && !mDocument->onProgress)
        mDocument->onProgress = progressHandler();
    ren();
    if (!mDocument || mDocument->empty()) {
        Image->clearPicture();
        showStill(true);
        check(mDocument ? QStringLiteral("alsup") : QStringLiteral("closed"));
    } else {
        selectFrame(std::clamp(frame, 0, mDocument->count() - 1));
    }
    // The panel shows the looping the frames now hold, without storing it again.
    const QSignalBlocker b1(infini), b2(fini), b3(NumLoops);
    const doc::TGIFSubImage *first = mDocument && !mDocument->empty() ? &mDocument->frame(0) : nullptr;
    const auto *loop = first && first->extensionCount() > 0 ? doc::extension_cast<doc::TGIFAppExtNSLoop>(first->extension(0))
                                                            : nullptr;
    const bool endless = !loop || loop->loops == 0;
    (endless ? infini : fini)->setChecked(true);
    if (!endless)
        NumLoops->setValue(loop->loops);
    EnableAnimationFields();
    status();
}

} // namespace app
