#include "help_window.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace app {

HelpWindow::HelpWindow(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("Aide de Movaro Gif"));
    // A window beside the editor, not a modal box: the user reads while working.
    setModal(false);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::WindowMinMaxButtonsHint, true);
    resize(760, 620);

    mBrowser = new QTextBrowser(this);
    mBrowser->setObjectName(QStringLiteral("HelpBrowser"));
    mBrowser->setOpenExternalLinks(true);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *back = buttons->addButton(QStringLiteral("&Précédent"), QDialogButtonBox::ActionRole);
    QPushButton *home = buttons->addButton(QStringLiteral("&Sommaire"), QDialogButtonBox::ActionRole);
    buttons->addButton(QStringLiteral("&Fermer"), QDialogButtonBox::RejectRole);
    back->setEnabled(false);
    connect(mBrowser, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    connect(back, &QPushButton::clicked, mBrowser, &QTextBrowser::backward);
    connect(home, &QPushButton::clicked, mBrowser, &QTextBrowser::home);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(mBrowser, 1);
    layout->addWidget(buttons);
}

void HelpWindow::showPage(const QString &path)
{
    mBrowser->setSource(QUrl::fromLocalFile(path));
    show();
    raise();
    activateWindow();
}

} // namespace app
