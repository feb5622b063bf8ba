#pragma once

#include "settings/form_storage.h"

#include <QDialog>

#include <memory>

class QCheckBox;
class QGroupBox;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace dialogs {

/**
 * The welcome dialog of the start-up: a new animation, the wizard, or an existing or recent
 * animation. Its tick "do not show at start-up" is kept in the section "Welcome Settings".
 */
class Twelcome : public QDialog
{
    Q_OBJECT

public:
    explicit Twelcome(QWidget *parent = nullptr);
    ~Twelcome() override;

    enum class Choice { NewAnimation, Wizard, OpenFile };
    Choice choice() const;
    /** With OpenFile: 0 for "Autres fichiers..." (or no row), else the recent entry 1 to 4 of the row. */
    int recentEntry() const;

    settings::FormStorage &storage() { return *mStorage; }

    QGroupBox *GroupBox1 = nullptr, *GroupBox2 = nullptr;
    QRadioButton *newanime = nullptr, *assiste = nullptr, *opengif = nullptr;
    QListWidget *List = nullptr;
    QCheckBox *Checkstart = nullptr;
    QPushButton *Button2 = nullptr, *Button1 = nullptr;

signals:
    /** The dialog is being shown: the main window starts a new animation. */
    void shown();

public slots:
    void done(int result) override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void opengifClick();
    void otherChoiceClick();

    QList<int> mRecentOfRow; // recent entry (1..4) of each list row after the first
    std::unique_ptr<settings::FormStorage> mStorage; // destroyed before the controls it reads
};

} // namespace dialogs
