#include "command_rules.h"

#include <QAction>
#include <QApplication>
#include <QMap>
#include <QMenu>
#include <QKeyEvent>
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
    mByKeys.clear();
    for (QAction* item : mWindow->findChildren<QAction*>()) {
        if (item->shortcut().isEmpty() || !item->isVisible())
            continue;
        // One binding per key, the item's own: a second one on the same key (a window shortcut
        // beside it) makes Qt refuse both as ambiguous whenever the menu bar holds the keyboard.
        item->setShortcutContext(Qt::WindowShortcut);
        for (const QKeySequence& keys : item->shortcuts())
            if (keys.count() == 1)
                mByKeys[keys[0].toCombined()].append(item);
    }
    qApp->installEventFilter(this);
}

bool CommandRules::eventFilter(QObject* watched, QEvent* event) {
    // Qt asks the focus widget whether it wants a key before it looks the key up among the
    // shortcuts: the items on that key take their state now, and Qt then runs the enabled one.
    if (event->type() == QEvent::ShortcutOverride && !mByKeys.isEmpty()) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        const QKeyCombination pressed(key->modifiers() & ~Qt::KeypadModifier, Qt::Key(key->key()));
        if (const auto items = mByKeys.constFind(pressed.toCombined()); items != mByKeys.cend())
            for (QAction* item : *items)
                applyTo(item);
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace app
