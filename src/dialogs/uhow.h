#pragma once

#include "settings/form_storage.h"

#include <QDialog>

#include <memory>

class QCheckBox;
class QPushButton;

namespace dialogs {

/**
 * Three written steps on making an animated GIF, shown by itself at the first start-ups and at
 * any time from the Help menu. Its tick and its count of automatic showings are kept in the
 * section "How Settings".
 */
class THowForm : public QDialog
{
    Q_OBJECT

public:
    explicit THowForm(QWidget *parent = nullptr);
    ~THowForm() override;

    /**
     * The start-up's showing: reads the section again and, unless the tick is set or the window
     * was already shown twice this way, counts this showing, saves the section and shows the window
     * modally. True when it was shown.
     */
    bool showAtStartup();

    settings::FormStorage &storage() { return *mStorage; }

    QCheckBox *Dontshow = nullptr;
    QPushButton *Button1 = nullptr;
    /** The tag of `Dontshow`: how many times the window was shown by itself at start-up. */
    int DontshowTag = 0;

public slots:
    void done(int result) override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    std::unique_ptr<settings::FormStorage> mStorage; // destroyed before the controls it reads
};

} // namespace dialogs
