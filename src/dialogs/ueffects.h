#pragma once

#include <QColor>
#include <QDialog>

class QColorDialog;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QSlider;

namespace dialogs {

/**
 * The effect dialog: duration and rate give the number of frames an effect generates, with the
 * direction and solid-colour choices some effects need. Created once and reused for the whole run,
 * so every choice carries over from one effect to the next; the parameter panels are hidden each
 * time it closes, and each effect shows the ones it reads.
 */
class TEffects : public QDialog
{
    Q_OBJECT

public:
    explicit TEffects(QWidget *parent = nullptr);

    enum Panel { Direction = 1, Wipe = 2, Colour = 4 };
    /** Sets the caption and description and shows the given panels (a combination of Panel). */
    void prepare(const QString &caption, const QString &description, int panels);

    /** N as `number` shows it. */
    int frameCount() const;
    int direction() const;
    /** The wipe direction, −1 while none is chosen. */
    int wipeDirection() const;
    QColor solidColour() const { return mColour; }

    void RxSlider1Change();
    void RxSlider2Change();
    void selectClick();

    QFrame *Panel1 = nullptr;
    QLabel *Lab = nullptr;
    QGroupBox *GroupBox2 = nullptr;
    QWidget *pancombo = nullptr, *Panessuyage = nullptr, *pancolor = nullptr;
    QComboBox *combo = nullptr, *comboessuyage = nullptr;
    QPushButton *select = nullptr;
    QFrame *pancls = nullptr, *cls = nullptr;
    QColorDialog *cld = nullptr;
    QGroupBox *GroupBox1 = nullptr;
    QLabel *Label3 = nullptr, *Lab1 = nullptr, *Label4 = nullptr, *Lab2 = nullptr, *num = nullptr, *number = nullptr;
    QSlider *RxSlider1 = nullptr, *RxSlider2 = nullptr;
    QPushButton *Button1 = nullptr, *Button2 = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void showNumber();
    void paintSwatch();

    QColor mColour = Qt::white;
};

} // namespace dialogs
