#pragma once

#include <QHash>
#include <QObject>

#include <functional>
#include <optional>

class QAction;
class QMenu;

namespace app {

/**
 * The one source of the menu items' enabled and checked states.
 *
 * Each item registers a rule: a predicate over the window as it is now. The rules run when a menu
 * opens (for every item of that menu and its submenus) and when an item's shortcut is pressed,
 * before the item runs. A shortcut therefore acts on exactly the state its menu would show if it
 * were opened now, whatever changed since the menu was last open (Qt alone would match the key
 * against the state the item kept from the last time its menu was open).
 *
 * To add an item: create the QAction (with QAction::setShortcut when it has one) and put it in its
 * menu, then add a row for it to the tables of TMainform::createCommandRules() (mainform_rules.cpp):
 *
 *     {"myItem", frame},                                  // enabling
 *     {"myToggle", [this] { return !panel->isHidden(); }}, // check mark
 *
 * An item without a rule keeps whatever state it has. An item inside a submenu is only reachable
 * when the submenu's own item is enabled, so it also follows the submenu item's rule. A menu whose
 * opening does more than this (the File menu's recent files) calls apply() from its own handler.
 */
class CommandRules : public QObject {
    Q_OBJECT

   public:
    using Rule = std::function<bool()>;

    explicit CommandRules(QWidget* window);

    void enableWhen(QAction* item, Rule rule);
    void checkWhen(QAction* item, Rule rule);

    /** Runs the rules of `menu`'s items each time it is about to show. */
    void attach(QMenu* menu);
    /** Applies the rules of every item of `menu` and of its submenus. */
    void apply(QMenu* menu);
    /**
     * Binds the shortcut of every visible item of the window to the window: pressing it applies
     * the item's rule, then runs the item when it is enabled. Call once, after the menus are built.
     */
    void bindShortcuts();

    /** The state `item` would take now: its own rule and those of the submenus that hold it. */
    bool enabledNow(QAction* item) const;

   protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

   private:
    void applyTo(QAction* item);
    /** The state the rules give `item`, or nothing when no rule governs it or its submenus. */
    std::optional<bool> governed(QAction* item) const;

    QWidget* mWindow;
    QHash<QAction*, Rule> mEnable;
    QHash<QAction*, Rule> mCheck;
    QHash<int, QList<QAction*>> mByKeys;  // the bound items, by the combined key that runs them
};

}  // namespace app
