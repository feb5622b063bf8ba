#include "command_rules.h"

#include <QAction>
#include <QApplication>
#include <QMap>
#include <QMenu>
#include <QShortcut>
#include <QWidget>

namespace app {

namespace {

/** The menus that hold `item` as one of their entries. */
QList<QMenu*> parentMenus(const QAction* item) {
    QList<QMenu*> menus;
    for (QObject* o : item->associatedObjects())
        if (auto* menu = qobject_cast<QMenu*>(o))
            menus.append(menu);
    return menus;
}

}  // namespace

CommandRules::CommandRules(QWidget* window) : QObject(window), mWindow(window) {}

void CommandRules::enableWhen(QAction* item, Rule rule) {
    mEnable.insert(item, std::move(rule));
}

void CommandRules::checkWhen(QAction* item, Rule rule) {
    mCheck.insert(item, std::move(rule));
}

void CommandRules::attach(QMenu* menu) {
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { apply(menu); });
}

void CommandRules::apply(QMenu* menu) {
    for (QAction* item : menu->actions()) {
        applyTo(item);
        if (QMenu* sub = item->menu())
            apply(sub);
    }
}

std::optional<bool> CommandRules::governed(QAction* item) const {
    std::optional<bool> enabled;
    if (const auto own = mEnable.constFind(item); own != mEnable.cend())
        enabled = (*own)();
    for (QMenu* menu : parentMenus(item)) {
        QAction* holder = menu->menuAction();
        if (holder == item)
            continue;
        if (const std::optional<bool> parent = governed(holder))
            enabled = enabled.value_or(true) && *parent;
    }
    return enabled;
}

bool CommandRules::enabledNow(QAction* item) const {
    // An item that no rule governs keeps the state it was given.
    return governed(item).value_or(item->isEnabled());
}

void CommandRules::applyTo(QAction* item) {
    item->setEnabled(enabledNow(item));
    if (const auto check = mCheck.constFind(item); check != mCheck.cend())
        item->setChecked((*check)());
}

void CommandRules::bindShortcuts() {
    QMap<QKeySequence, QList<QAction*>> byKeys;
    for (QAction* item : mWindow->findChildren<QAction*>()) {
        if (item->shortcut().isEmpty() || !item->isVisible())
            continue;
        // The item's own binding now serves only its menu, which shows it while open.
        item->setShortcutContext(Qt::WidgetShortcut);
        for (const QKeySequence& keys : item->shortcuts())
            byKeys[keys].append(item);
    }
    for (auto it = byKeys.cbegin(); it != byKeys.cend(); ++it) {
        auto* shortcut = new QShortcut(it.key(), mWindow);
        shortcut->setContext(Qt::WindowShortcut);
        const QList<QAction*> items = it.value();
        connect(shortcut, &QShortcut::activated, this, [this, items] {
            for (QAction* item : items) {
                applyTo(item);
                if (item->isEnabled()) {
                    item->trigger();
                    return;
                }
            }
        });
    }
}

}  // namespace app
