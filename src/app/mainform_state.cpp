// The window's state that every command touches: command states, status bar, progress, title.
#include "mainform.h"

#include "undo_commands.h"
#include "views.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>

#include "document/document_ops.h"

#include <cmath>

namespace app {

namespace {

/** round() of the program: to the nearest integer, halves to the even neighbour. */
int roundEven(double x)
{
    return int(std::nearbyint(x));
}

} // namespace

bool TMainform::isModified() const
{
    return save->isEnabled();
}

void TMainform::setModified(bool modified)
{
    save->setEnabled(modified);
    if (!modified && mHistory)
        mHistory->markClean();
}

void TMainform::setPrompter(std::unique_ptr<Prompter> prompter)
{
    mPrompter = std::move(prompter);
}

void TMainform::setUrlOpener(std::unique_ptr<UrlOpener> opener)
{
    mUrlOpener = std::move(opener);
}

void TMainform::check(const QString &word)
{
    struct Row {
        const char *word;
        // save, cut, copy, past, sup, play, stop: 1 enable, 0 disable, -1 unchanged
        int states[7];
    };
    static const Row rows[] = {
        {"closed", {0, 0, 0, 0, 0, 0, 0}},   {"opened", {0, 1, 1, 1, 1, -1, -1}},
        {"pasted", {-1, 1, 1, -1, 1, 1, 0}}, {"played", {-1, 0, 0, 1, 0, 0, 1}},
        {"alsup", {-1, 0, 0, 1, 0, 0, 0}},   {"selected", {-1, 1, 1, 1, 1, 1, 0}},
    };
    QAction *holders[7] = {save, cut, copy, past, sup, play, stop};
    for (const Row &row : rows) {
        if (word != QLatin1String(row.word))
            continue;
        // "pasted" while the animation view is shown changes nothing but addbtn.
        if (word == QLatin1String("pasted") && Image->isHidden())
            break;
        for (int i = 0; i < 7; ++i)
            if (row.states[i] >= 0)
                holders[i]->setEnabled(row.states[i] == 1);
        break;
    }
    addbtn->setEnabled(!Image->isHidden());
}

void TMainform::status()
{
    if (!mDocument) {
        mPanels[3]->clear();
        mPanels[2]->setText(QStringLiteral("Aucune image"));
        return;
    }
    mPanels[3]->setText(QStringLiteral("Animation %1x%2").arg(mDocument->header.width).arg(mDocument->header.height));
    mPanels[2]->setText(QStringLiteral("%1 image(s)").arg(mFrameEntries));
}

void TMainform::UpdateNavButtons()
{
    const int n = mFrameEntries;
    const int s = mSelected;
    const bool still = !Image->isHidden();
    PlayBtn->setEnabled(play->isEnabled());
    StopBtn->setEnabled(stop->isEnabled());
    const bool back = s != 0 && still && n > 0;
    Rewindbtn->setEnabled(back);
    Backbtn->setEnabled(back);
    const bool forward = n > 0 && s != n - 1 && still;
    Nextbtn->setEnabled(forward);
    Forwardbtn->setEnabled(forward);
}

void TMainform::gifProgress(doc::ProgressStage stage, const QString &message, int percent)
{
    static const std::pair<const char *, const char *> texts[] = {
        {"Loading...", "Chargement..."},
        {"Converting...", "Conversion..."},
        {"Rendering...", "Préparation..."},
        {"Copying...", "Copie en cours..."},
        {"Saving...", "Enregistrement de l'image..."},
        {"Optimizing...", "Optimisation..."},
    };
    for (const auto &[english, french] : texts)
        if (message == QLatin1String(english))
            mPanels[0]->setText(QString::fromUtf8(french));

    mProgress->setValue(std::clamp(percent, 0, 100));
    mProgress->show();
    if (stage == doc::ProgressStage::Ending) {
        mProgress->hide();
        mProgress->setValue(0);
        statusBar()->repaint();
        mPanels[0]->setText(restingHint);
    }
}

void TMainform::PlaceScrollMarker()
{
    const int w = mDocument ? mDocument->header.width : 0;
    const int h = mDocument ? mDocument->header.height : 0;
    sc->setGeometry(w, h, 0, 0);
    mCanvas->setMinimumSize(w, h);
}

void TMainform::HideThumbnails()
{
    for (ThumbnailSlot *slot : thumbs)
        slot->hide();
}

void TMainform::PaintPanelHeaders()
{
    const int H = 16;
    const QColor a(191, 219, 255);
    const QColor b = QApplication::palette().color(QPalette::Button);
    const int h = roundEven(0.95 * H);
    const int tail = roundEven(0.05 * H);
    QImage gradient(2000, H, QImage::Format_RGB32);
    for (int y = 0; y < H; ++y) {
        auto mix = [&](int from, int to) {
            if (y < h)
                return from + roundEven(double(to - from) * y / h);
            return from + roundEven(double(to - from) * (H - y) / tail);
        };
        const QRgb c = qRgb(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()));
        auto *row = reinterpret_cast<QRgb *>(gradient.scanLine(y));
        std::fill(row, row + gradient.width(), c);
    }
    for (PanelHeader *header : mHeaders)
        if (header)
            header->setGradient(gradient);
}

void TMainform::ren()
{
    // Rebuilding the list clears its selection; entry i stands for frame i (labels are never shown).
    const int n = mDocument ? mDocument->count() : 0;
    mFrameEntries = n;
    mSelected = -1;
    mMarks.single(-1);

    if (n < 5) {
        ImageScroll->setEnabled(false);
        // With fewer than 5 frames the strip starts at frame 0 whatever it showed before.
        if (ImageScroll->value() != 0) {
            const QSignalBlocker blocker(ImageScroll);
            ImageScroll->setValue(0);
            for (int k = 1; k <= 4; ++k)
                thumbs[std::size_t(k - 1)]->numberLabel()->setText(QString::number(k));
        }
    } else {
        ImageScroll->setMaximum(n - 4);
        ImageScroll->setEnabled(true);
    }
    EnableAnimationFields();
    RefreshThumbnails();
    Slider->setMaximum(std::max(n - 1, 0));
    UpdateSlider();
    UpdateNavButtons();
    status();
}

void TMainform::changed()
{
    UpdateNavButtons();
    setModified(true);
    status();
}

void TMainform::selectFrame(int index)
{
    mSelected = (index >= 0 && index < mFrameEntries) ? index : -1;
    if (!mKeepMarks)
        mMarks.single(mSelected);
    framesChange();
}

void TMainform::startHintTimer()
{
    if (!Timer1) {
        Timer1 = new QTimer(this);
        Timer1->setObjectName(QStringLiteral("Timer1"));
        Timer1->setSingleShot(true);
        Timer1->setInterval(1500);
        connect(Timer1, &QTimer::timeout, this, &TMainform::Timer1Timer);
    }
    Timer1->start();
}

void TMainform::Timer1Timer()
{
    if (!isActiveWindow())
        return;
    // The counter lives with the main window's settings, so the hint is offered at three runs only.
    if (mHintCount <= 2) {
        if (QWidget *button = ToolBar2->widgetForAction(addbtn)) {
            QToolTip::showText(button->mapToGlobal(QPoint(button->width() / 2, button->height())),
                               QStringLiteral("Cliquez sur ce bouton pour ajouter des images"), button, QRect(),
                               8000);
        }
    }
    ++mHintCount;
    mStorage->save(); // kept at once, should this run not end normally
}

void TMainform::closeEvent(QCloseEvent *event)
{
    if (mBusy) {
        event->ignore();
        return;
    }
    // Written before the save question, so also when the user then cancels quitting.
    mStorage->save();
    if (!isModified()) {
        event->accept();
        return;
    }
    const Answer answer = mPrompter->ask(MessageKind::Warning,
                                         QStringLiteral("Vous n'avez pas enregistré vos modifications.\n"
                                                        "Voulez-vous enregistrer le fichier en cours avant de quitter ?"),
                                         Buttons::YesNoCancel);
    if (answer == Answer::Cancel) {
        event->ignore();
        return;
    }
    // A save that fails or is cancelled keeps the window open rather than losing the work.
    if (answer == Answer::Yes && !FileSave1Execute()) {
        event->ignore();
        return;
    }
    event->accept();
}

} // namespace app
