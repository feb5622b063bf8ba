#include "uoptions.h"

#include "client_size.h"
#include "colour_options.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace dialogs {

TOptions::TOptions(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("Options"));
    setWindowTitle(QStringLiteral("Options"));

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    auto *preferences = new QWidget;
    preferences->setObjectName(QStringLiteral("TabSheet1"));
    welc = new QCheckBox(QStringLiteral("Ne pas afficher la fenêtre Bienvenue au lancement"), preferences);
    welc->setObjectName(QStringLiteral("welc"));
    auto *page = new QVBoxLayout(preferences);
    page->addWidget(welc);
    auto *memoryRow = new QHBoxLayout;
    auto *memoryLabel = new QLabel(QStringLiteral("&Mémoire pour annuler :"), preferences);
    undoMemory = new QSpinBox(preferences);
    undoMemory->setObjectName(QStringLiteral("undoMemory"));
    undoMemory->setRange(1, 65536);
    undoMemory->setSuffix(QStringLiteral(" Mo"));
    memoryLabel->setBuddy(undoMemory);
    memoryRow->addWidget(memoryLabel);
    memoryRow->addWidget(undoMemory);
    memoryRow->addStretch();
    page->addLayout(memoryRow);
    page->addStretch();
    PageControl1->addTab(preferences, QStringLiteral("Préférences"));
    colours = new TColourOptions;
    PageControl1->addTab(colours, QStringLiteral("Couleurs"));

    auto *separator = new QFrame(this);
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);

    OKBtn = new QPushButton(QStringLiteral("&OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton(QStringLiteral("&Annuler"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(PageControl1, 1);
    layout->addWidget(separator);
    layout->addLayout(buttons);
    fixClientSize(this, 353, 204);
}

} // namespace dialogs
