#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;

namespace dialogs {

/**
 * The disposal dialog: which disposal method the selected frame gets. Created once and reused, so
 * the list keeps its last position between runs unless preset.
 */
class TDispo : public QDialog
{
    Q_OBJECT

public:
    explicit TDispo(QWidget *parent = nullptr);

    /** Presets the list from a frame's disposal: 0 or 1, 2, 3; any other value leaves it as it is. */
    void presetFromDisposal(int disposal);
    /** The disposal written for the chosen entry: 1 (leave in place), 2 (background) or 3 (previous). */
    int disposalValue() const;

    QComboBox *disCombo = nullptr;
    QLabel *Label1 = nullptr;
    QPushButton *OKBtn = nullptr;
    QPushButton *CancelBtn = nullptr;
};

} // namespace dialogs
