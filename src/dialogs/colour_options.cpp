#include "colour_options.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>

#include <algorithm>

namespace dialogs {

TColourOptions::TColourOptions(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("TabSheet2"));
    Palette = new QComboBox(this);
    Palette->setObjectName(QStringLiteral("Palette"));
    // Items in the order of doc::PaletteQuality and doc::Dithering.
    Palette->addItems({QStringLiteral("Octree (rapide)"), QStringLiteral("Haute qualité")});
    Tramage = new QComboBox(this);
    Tramage->setObjectName(QStringLiteral("Tramage"));
    Tramage->addItems({QStringLiteral("Aucun"), QStringLiteral("Floyd-Steinberg"), QStringLiteral("Ordonné")});

    auto *explanation = new QLabel(QStringLiteral("Réduction à 256 couleurs des images ajoutées, insérées, collées "
                                                  "ou choisies dans l'assistant."),
                                   this);
    explanation->setWordWrap(true);
    auto *form = new QFormLayout(this);
    form->addRow(explanation);
    form->addRow(QStringLiteral("&Palette :"), Palette);
    form->addRow(QStringLiteral("&Tramage :"), Tramage);
}

void TColourOptions::setChoice(const doc::ReductionChoice &choice)
{
    Palette->setCurrentIndex(int(choice.quality));
    Tramage->setCurrentIndex(int(choice.dither));
}

doc::ReductionChoice TColourOptions::choice() const
{
    return doc::ReductionChoice{doc::PaletteQuality(std::max(0, Palette->currentIndex())),
                                doc::Dithering(std::max(0, Tramage->currentIndex()))};
}

} // namespace dialogs
