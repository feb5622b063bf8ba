// The Effets menu: transition frames generated in front of the selected frame.
#include "mainform.h"

#include "picture_qimage.h"
#include "undo_commands.h"
#include "views.h"

#include "dialogs/ueffects.h"
#include "effects/generation.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMenu>

namespace app {

namespace {

using effects::Effect;
using dialogs::TEffects;

struct EffectCommand {
    const char *item;
    const char *text;
    Effect effect;
    bool shown;
    /** Dialog caption; none for the command that runs without the dialog. */
    const char *caption;
    const char *description;
    int panels;
};

const char *const kAddsFrames = "Ajoute des images avant l'image en cours. L'image courante défile sur une couleur "
                                "solide jusqu'à atteindre le milieu.";

// Menu order; the two separations go into the "&Séparation" submenu.
const EffectCommand kCommands[] = {
    {"Defilement", "&Défilement", Effect::Scroll, true, "Effet Défilement",
     "L'image en cours défile sur une couleur solide jusqu'à atteindre le milieu.",
     TEffects::Direction | TEffects::Colour},
    {"Remplacement", "&Remplacement", Effect::Replace, true, "Effet Remplacement",
     "L'image en cours défile sur l'image précédente jusqu'à la remplacer complètement.", TEffects::Direction},
    {"Essuyage", "&Essuyage", Effect::Wipe, true, "Effet Essuyage",
     "L'image en cours s'affiche progressivement en essuyant l'image précédente jusqu'à s'afficher complètement.",
     TEffects::Wipe},
    {"Fondu", "Fondu", Effect::Fade, true, "Effet Fondu",
     "L'image en cours s'affiche sur un effet alpha (transparence) progressif.", 0},
    {"SeparationV", "&verticale", Effect::SplitVertical, true, "Effet Séparation Verticale",
     "L'image en cours se découvre peu à peu avec la séparation verticale des côtés haut et bas de l'image "
     "précédente.",
     0},
    {"SeparationH", "&horizontale", Effect::SplitHorizontal, true, "Effet Séparation Horizontale",
     "L'image en cours se découvre peu à peu avec la séparation horizontale des côtés gauche et droite de "
     "l'image précédente.",
     0},
    {"Eblouissement1", "Eblouissement", Effect::Dazzle, false, "Effet Séparation Horizontale",
     "L'image en cours se découvre peu à peu avec l'.", 0},
    {"Dissolution1", "Disso&lution", Effect::Dissolve, false, "Effet Dissolution", kAddsFrames, 0},
    {"Postrisation1", "&Postérisation", Effect::DissolveRandom, false, "Effet Dissolution", kAddsFrames, 0},
    {"ef2", "&Compression", Effect::Squeeze, false, nullptr, nullptr, 0},
    {"Opacite", "Opacité", Effect::Opacity, false, "Effet Défilement", kAddsFrames,
     TEffects::Direction | TEffects::Colour},
};

QString text(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

} // namespace

void TMainform::createEffectsMenu(QMenu *menu)
{
    Effets = menu;
    menu->setObjectName(QStringLiteral("Effets"));
    Effects = new dialogs::TEffects(this);

    QMenu *sep = nullptr;
    for (int row = 0; row < int(std::size(kCommands)); ++row) {
        const EffectCommand &c = kCommands[row];
        QAction *item = makeAction(text(c.item), text(c.text));
        item->setVisible(c.shown);
        connect(item, &QAction::triggered, this, [this, row] { runEffect(row); });
        if (c.effect == Effect::SplitVertical) {
            sep = menu->addMenu(QStringLiteral("&Séparation"));
            sep->setObjectName(QStringLiteral("sep"));
            sep->menuAction()->setObjectName(QStringLiteral("sep"));
        }
        (c.effect == Effect::SplitVertical || c.effect == Effect::SplitHorizontal ? sep : menu)->addAction(item);
    }
    // Sets the duration and rate ahead of an effect; how it is closed does not matter.
    QAction *settings = makeAction(QStringLiteral("Visionneusedeffetsspciaux1"), QStringLiteral("Paramètres..."));
    settings->setVisible(false);
    connect(settings, &QAction::triggered, this, [this] { Effects->exec(); });
    menu->addAction(settings);
    connect(menu, &QMenu::aboutToShow, this, [this] { EffetsClick(); });
}

void TMainform::EffetsClick()
{
    const QStringList needingPrevious{QStringLiteral("Remplacement"), QStringLiteral("Essuyage"),
                                      QStringLiteral("sep"), QStringLiteral("Fondu")};
    action(QStringLiteral("Defilement"))->setEnabled(mSelected >= 0);
    for (const QString &name : needingPrevious)
        action(name)->setEnabled(mSelected > 0);
}

void TMainform::runEffect(int row)
{
    const EffectCommand &c = kCommands[row];
    if (mBusy || !mDocument)
        return;
    if (stop->isEnabled())
        stopPlayback();
    else
        releaseAnimation();

    effects::EffectSettings settings;
    if (c.caption) {
        Effects->prepare(text(c.caption), text(c.description), c.panels);
        if (c.effect == Effect::Wipe && Effects->wipeDirection() < 0)
            Effects->comboessuyage->setCurrentIndex(0);
        if (Effects->exec() != QDialog::Accepted)
            return;
        settings.count = Effects->frameCount();
        settings.direction = Effects->direction();
        settings.wipeDirection = Effects->wipeDirection();
        const QColor colour = Effects->solidColour();
        settings.colour = {uint8_t(colour.red()), uint8_t(colour.green()), uint8_t(colour.blue())};
    }

    const UndoScope step(*mHistory, stepName(text(c.text)));
    const int k = mSelected;
    const effects::EffectInput input =
        effects::inputFor(*mDocument, k, fromQImage(Image->picture()), Image->width(), Image->height());
    effects::GenerationResult result;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        runBlocking([&] { result = effects::generateFrames(*mDocument, k, c.effect, input, settings); });
    } catch (...) {
        // A failure ends the generation silently; what was inserted stays.
    }
    QApplication::restoreOverrideCursor();

    if (c.effect == Effect::Scroll && result.completed)
        StoreLooping();
    ren();
    setModified(true);
}

} // namespace app
