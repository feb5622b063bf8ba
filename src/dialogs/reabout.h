#pragma once

#include <QDialog>

class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace dialogs {

/** The about box: the program's version, its home page, and the licences of what it is built on. */
class TAboutBox : public QDialog
{
    Q_OBJECT

public:
    /** `homePage` is the address the link shows and opens. */
    explicit TAboutBox(const QString &homePage, QWidget *parent = nullptr);

    QLabel *ProgramIcon = nullptr, *Version = nullptr, *Label1 = nullptr, *lien = nullptr;
    QGroupBox *GroupBox1 = nullptr;
    QPushButton *OKButton = nullptr, *Button1 = nullptr, *Button2 = nullptr;
    /** "Li&cences...": the program's licence and the third-party list, in a window of their own. */
    QPushButton *LicencesButton = nullptr;
    QDialog *Licences = nullptr;
    QPlainTextEdit *LicencesText = nullptr;

    void showLicences();

signals:
    /** "Site &Web" or the link was used: the main window opens the address. */
    void openAddress(const QString &address);
    /** The hidden "&Mises à jour" was used. */
    void updateRequested();

protected:
    void showEvent(QShowEvent *event) override;
};

} // namespace dialogs
