#pragma once

#include <QDialog>

class QCheckBox;
class QPushButton;
class QTabWidget;

namespace dialogs {

/** The preferences: whether the welcome dialog is shown at start-up. */
class TOptions : public QDialog
{
    Q_OBJECT

public:
    explicit TOptions(QWidget *parent = nullptr);

    QTabWidget *PageControl1 = nullptr;
    QCheckBox *welc = nullptr;
    QPushButton *OKBtn = nullptr, *CancelBtn = nullptr;
};

} // namespace dialogs
