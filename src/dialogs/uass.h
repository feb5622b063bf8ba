#pragma once

#include <QAbstractSpinBox>
#include <QDialog>
#include <QStringList>

class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStackedWidget;

namespace app {
class Prompter;
}

namespace dialogs {

/**
 * What the wizard asks of the main window it builds the animation in. The main window keeps the
 * document; the wizard only drives the steps.
 */
class WizardHost
{
public:
    virtual ~WizardHost() = default;

    /** The message boxes and the picture dialog. */
    virtual app::Prompter &prompter() = 0;
    /** The picture dialog's filters: every readable picture format. */
    virtual QStringList pictureFilters() const = 0;
    /** The current animation has unsaved changes. */
    virtual bool isModified() const = 0;
    /** The New command with its save question; false when it was cancelled or its save failed. */
    virtual bool newAnimation() = 0;
    /** Replaces the animation with an empty one named `name`, with no file yet. */
    virtual void startAnimation(const QString &name) = 0;
    /** Reads a picture file, reduces it and appends it as the last frame; throws when it cannot. */
    virtual void addPicture(const QString &file, long long delay) = 0;
    virtual int frameCount() const = 0;
    /** Sets the looping in the properties panel and the document (`count` plays unless endless). */
    virtual void setLooping(bool endless, int count) = 0;
    /** Shows the built animation: unsaved, titled `name`, its first frame selected. */
    virtual void finishAnimation(const QString &name) = 0;
};

/**
 * An integer field kept as text: it may be left empty or hold more than an int, and is read only
 * when used. Leaving it brings a value below the minimum back to the minimum; empty stays empty.
 */
class DurationEdit : public QAbstractSpinBox
{
    Q_OBJECT

public:
    explicit DurationEdit(QWidget *parent = nullptr);

    void setMinimum(long long minimum) { mMinimum = minimum; }
    void setSingleStep(long long step) { mStep = step; }
    void setText(const QString &text);
    /** Brings a value below the minimum back to it, as leaving the field does. */
    void keepInBounds();

    QValidator::State validate(QString &input, int &pos) const override;
    void stepBy(int steps) override;

protected:
    StepEnabled stepEnabled() const override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    long long mMinimum = 1;
    long long mStep = 1;
};

/**
 * The new-animation wizard: a name, the looping, one display time and an ordered list of picture
 * files, then the build. Made once and shown again for each use; it is window-modal without a
 * loop of its own, so the main window takes no input while it is shown.
 */
class Tassform : public QDialog
{
    Q_OBJECT

public:
    explicit Tassform(WizardHost &host, QWidget *parent = nullptr);

    void SuivClick();
    void PreClick();
    void CancelClick();
    void Button2Click();
    void SupClick();
    void UPClick();
    void DownClick();
    void ListeClick();
    void UpdateMoveButtons();

    /** Appends an entry for `path` (the list's own add, once a file is chosen). */
    void appendEntry(const QString &path);
    /** The full paths of the entries, in list order. */
    const QStringList &paths() const { return Liste2; }
    /** Index of the selected entry, −1 when none. */
    int selectedEntry() const;
    int currentPage() const;

    QStackedWidget *Pages = nullptr;
    QWidget *P1 = nullptr, *P2 = nullptr, *P3 = nullptr, *P4 = nullptr;
    QLineEdit *Nom = nullptr;
    QRadioButton *Inf = nullptr, *NoInf = nullptr;
    QSpinBox *lops = nullptr;
    DurationEdit *period = nullptr;
    QListWidget *Liste = nullptr;
    QPushButton *Button2 = nullptr, *Sup = nullptr, *UP = nullptr, *Down = nullptr;
    QPushButton *Pre = nullptr, *Suiv = nullptr, *Cancel = nullptr;
    QLabel *lab = nullptr;
    QProgressBar *Pr = nullptr;

public slots:
    /** Escape and the system's close ask before leaving, as "A&nnuler" does. */
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QWidget *makePage(const QString &name);
    void showPage(QWidget *page);
    void build();
    void swapEntries(int a, int b);

    WizardHost &mHost;
    QStringList Liste2; // the full paths, in step with Liste
};

} // namespace dialogs
