#pragma once

#include <QDialog>

class QCheckBox;
class QPushButton;
class QSpinBox;
class QTabWidget;

namespace dialogs {

class TColourOptions;

/** The preferences: whether the welcome dialog is shown at start-up, the memory kept for undoing, how pictures are reduced. */
class TOptions : public QDialog
{
    Q_OBJECT

public:
    explicit TOptions(QWidget *parent = nullptr);

    QTabWidget *PageControl1 = nullptr;
    QCheckBox *welc = nullptr;
    /** Megabytes of frame data the undo history may keep. */
    QSpinBox *undoMemory = nullptr;
    TColourOptions *colours = nullptr;
    QPushButton *OKBtn = nullptr, *CancelBtn = nullptr;
};

} // namespace dialogs
