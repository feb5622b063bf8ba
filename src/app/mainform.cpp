#include "mainform.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QStatusBar>

namespace app {

const QString TMainform::restingHint = QStringLiteral("Pour obtenir de l'aide, Appuyez sur F1");

TMainform::TMainform(QWidget *parent)
    : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Movaro Gif"));
    createStatusBar();

    resize(817, 658);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TMainform::createStatusBar()
{
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setSizeGripEnabled(true);
    static constexpr std::array<int, statusPanelCount> widths{310, 160, 80, 125, 105};
    for (int i = 0; i < statusPanelCount; ++i) {
        auto *panel = new QLabel(bar);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setFixedWidth(widths[std::size_t(i)]);
        // Panel 0 has no bevel; the others are sunk like classic status panels.
        panel->setFrameStyle(i == 0 ? QFrame::NoFrame : (QFrame::Panel | QFrame::Sunken));
        panel->setContentsMargins(3, 0, 3, 0);
        bar->addWidget(panel);
        mPanels[std::size_t(i)] = panel;
    }
    mPanels[0]->setText(restingHint);
}

} // namespace app
