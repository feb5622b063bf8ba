#include "udispo.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace dialogs {

TDispo::TDispo(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("Dispo"));
    setWindowTitle(QStringLiteral("Disposition de l'image"));
    setModal(true);

    Label1 = new QLabel(QStringLiteral("Méthode de disposition :"), this);
    Label1->setObjectName(QStringLiteral("Label1"));

    // List position p writes disposal p + 1.
    disCombo = new QComboBox(this);
    disCombo->setObjectName(QStringLiteral("disCombo"));
    disCombo->setEditable(false);
    disCombo->addItems({QStringLiteral("Pas de disposition"),
                        QStringLiteral("Remplir avec couleur d'arrière-plan"),
                        QStringLiteral("Image précédente")});
    disCombo->setCurrentIndex(0);
    Label1->setBuddy(disCombo);

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton(QStringLiteral("Annuler"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(disCombo);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TDispo::presetFromDisposal(int disposal)
{
    switch (disposal) {
    case 0:
    case 1:
        disCombo->setCurrentIndex(0);
        break;
    case 2:
        disCombo->setCurrentIndex(1);
        break;
    case 3:
        disCombo->setCurrentIndex(2);
        break;
    default:
        break;
    }
}

int TDispo::disposalValue() const
{
    return disCombo->currentIndex() + 1;
}

} // namespace dialogs
