#include "reabout.h"

#include "client_size.h"
#include "installed_data.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

static void initPictures()
{
    Q_INIT_RESOURCE(pictures);
}

namespace dialogs {

TAboutBox::TAboutBox(const QString &homePage, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    initPictures();
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("À propos de Movaro Gif"));

    auto *logoFrame = new QFrame(this);
    logoFrame->setObjectName(QStringLiteral("Panel1"));
    logoFrame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    ProgramIcon = new QLabel(logoFrame);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setPixmap(QPixmap(QStringLiteral(":/pictures/about.png")));
    ProgramIcon->setFixedSize(281, 46);
    auto *logoLayout = new QVBoxLayout(logoFrame);
    logoLayout->setContentsMargins(6, 6, 6, 6);
    logoLayout->addWidget(ProgramIcon, 0, Qt::AlignCenter);

    Version = new QLabel(QStringLiteral("Movaro Gif - Version ") + QStringLiteral(MOVARO_VERSION), this);
    Version->setObjectName(QStringLiteral("Version"));
    Version->setAlignment(Qt::AlignCenter);

    GroupBox1 = new QGroupBox(this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setFocusPolicy(Qt::StrongFocus);
    GroupBox1->setMinimumHeight(40);

    Label1 = new QLabel(QStringLiteral("Site web :"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    lien = new QLabel(this);
    lien->setObjectName(QStringLiteral("lien"));
    // A link label: blue, bold, underlined, with the hand cursor; the window opens the address.
    lien->setText(QStringLiteral("<a href=\"%1\" style=\"color:#0000ff; font-weight:bold; text-decoration:underline\">"
                                 "%1</a>")
                      .arg(homePage.toHtmlEscaped()));
    lien->setTextFormat(Qt::RichText);
    lien->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    lien->setOpenExternalLinks(false);
    lien->setCursor(Qt::PointingHandCursor);
    connect(lien, &QLabel::linkActivated, this, [this](const QString &address) { emit openAddress(address); });

    OKButton = new QPushButton(QStringLiteral("&OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    Button1 = new QPushButton(QStringLiteral("Site &Web"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button2 = new QPushButton(QStringLiteral("&Mises à jour"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->hide();
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button1, &QPushButton::clicked, this, [this, homePage] { emit openAddress(homePage); });
    connect(Button2, &QPushButton::clicked, this, &TAboutBox::updateRequested);
    LicencesButton = new QPushButton(QStringLiteral("Li&cences..."), this);
    LicencesButton->setObjectName(QStringLiteral("LicencesButton"));
    connect(LicencesButton, &QPushButton::clicked, this, &TAboutBox::showLicences);

    auto *site = new QHBoxLayout;
    site->addWidget(Label1);
    site->addWidget(lien, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(Button2);
    buttons->addWidget(LicencesButton);
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(OKButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(logoFrame, 0, Qt::AlignLeft);
    layout->addWidget(Version);
    layout->addWidget(GroupBox1, 1);
    layout->addLayout(site);
    layout->addLayout(buttons);
    fixClientSize(this, 388, 255);
}

void TAboutBox::showLicences()
{
    if (!Licences) {
        // A child of the box, so that it takes input while the box is modal.
        Licences = new QDialog(this);
        Licences->setObjectName(QStringLiteral("Licences"));
        Licences->setWindowTitle(QStringLiteral("Licences"));
        LicencesText = new QPlainTextEdit(Licences);
        LicencesText->setObjectName(QStringLiteral("LicencesText"));
        LicencesText->setReadOnly(true);
        LicencesText->setLineWrapMode(QPlainTextEdit::NoWrap);
        QFont fixed(QStringLiteral("monospace"));
        fixed.setStyleHint(QFont::TypeWriter);
        LicencesText->setFont(fixed);
        auto *close = new QPushButton(QStringLiteral("&Fermer"), Licences);
        close->setDefault(true);
        connect(close, &QPushButton::clicked, Licences, &QDialog::close);
        auto *layout = new QVBoxLayout(Licences);
        layout->addWidget(LicencesText, 1);
        layout->addWidget(close, 0, Qt::AlignRight);
        Licences->resize(720, 480);
    }
    // Read each time: the list is installed beside the program and may be missing from a bare build.
    const QString notices = thirdPartyNotices();
    LicencesText->setPlainText(
        notices.isEmpty()
            ? QStringLiteral("Movaro Gif est un logiciel libre, sous la licence publique générale GNU, version 3 ou "
                             "ultérieure (GPL-3.0-or-later).\n\nLa liste des composants tiers (third-party.txt) "
                             "n'a pas été trouvée à côté du programme.")
            : notices);
    Licences->show();
    Licences->raise();
}

void TAboutBox::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    GroupBox1->setFocus();
}

} // namespace dialogs
