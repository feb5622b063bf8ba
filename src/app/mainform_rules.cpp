// When each menu item is available: one table for the menus and the keyboard shortcuts.
#include "mainform.h"

#include "command_rules.h"
#include "views.h"

#include <QAction>
#include <QMenu>
#include <QStatusBar>
#include <QToolBar>

namespace app {

bool TMainform::stillShown() const {
    return !Image->isHidden();
}

void TMainform::createCommandRules() {
    mRules = new CommandRules(this);
    using Rule = CommandRules::Rule;
    const auto holder = [](QAction* a) -> Rule { return [a] { return a->isEnabled(); }; };
    const Rule frame = [this] { return frameShown(); };

    // Add a row for each new item, in its menu's group. Items that are not listed keep their state.
    const std::pair<const char*, Rule> enabling[] = {
        // "&Fichier" (its recent files are set by File1Click)
        {"save1", holder(save)},
        {"save2", [this] { return bool(mDocument); }},
        {"eos", [this] { return bool(mDocument); }},
        {"exporter", [this] { return mDocument && mDocument->count() > 0; }},
        {"retablir", [this] { return isModified() && OnDisk; }},
        {"ajouter", frame},
        {"inserer", frame},
        {"enregistrercadre", frame},
        // "&Edition"
        {"CutItem", holder(cut)},
        {"CopyItem", holder(copy)},
        {"Paste", [] { return clipboardHasBitmap(); }},
        {"Del", holder(sup)},
        {"Comments", holder(comb)},
        // "&Image": nothing while playing, only adding with no frame selected
        {"add1", [this] { return stillShown(); }},
        {"insert", frame},
        {"sup2", frame},
        {"moveitem", frame},
        {"arriere", [this] { return mSelected > 0; }},
        {"avant", [this] { return mSelected >= 0 && mSelected < mFrameEntries - 1; }},
        {"methode", frame},
        {"Dup", frame},
        {"transcol", frame},
        {"A1", frame},
        {"inverse", frame},
        {"miroir", frame},
        {"clsolid", frame},
        {"Prop", frame},
        {"change", [this] { return frameShown() && mFrameEntries >= 2; }},
        {"Invert", [this] { return frameShown() && mFrameEntries >= 2; }},
        // "&Contrôle"
        {"jouer", holder(play)},
        {"arreter", holder(stop)},
        {"next", [this] { return play->isEnabled() && mSelected >= 0 && mFrameEntries >= 2; }},
        {"back", [this] { return play->isEnabled() && mSelected >= 0 && mFrameEntries >= 2; }},
        {"Vitessedescadres1", [this] { return mFrameEntries >= 2; }},
        {"boucle", [this] { return mFrameEntries >= 2; }},
        {"Informations1", [this] { return mFrameEntries >= 1; }},
        {"Trans", [this] { return stillShown(); }},
    };
    for (const auto& [name, rule] : enabling) {
        QAction* item = action(QLatin1String(name));
        if (!item)
            if (auto* menu = findChild<QMenu*>(QLatin1String(name)))
                item = menu->menuAction();
        Q_ASSERT_X(item, "createCommandRules", name);
        mRules->enableWhen(item, rule);
    }

    const std::pair<const char*, Rule> checking[] = {
        // "&Affichage": the marks follow what is actually shown
        {"Tools", [this] { return !ToolBar1->isHidden(); }},
        {"State", [this] { return !statusBar()->isHidden(); }},
        {"showloop", [this] { return panelExpanded(SidePanel::Loop); }},
        {"showrate", [this] { return panelExpanded(SidePanel::Rate); }},
        {"showcomment", [this] { return panelExpanded(SidePanel::Comments); }},
        {"showhelp", [this] { return helpb->isChecked(); }},
    };
    for (const auto& [name, rule] : checking)
        mRules->checkWhen(action(QLatin1String(name)), rule);

    for (const char* menu : {"Edit1", "Voir1", "Imagesdelanimations1", "Afficher1"})
        mRules->attach(findChild<QMenu*>(QLatin1String(menu)));
}

}  // namespace app
