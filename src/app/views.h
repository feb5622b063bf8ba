#pragma once

#include <QColor>
#include <QFrame>
#include <QImage>
#include <QWidget>

#include <optional>

class QLabel;

namespace app {

/**
 * Shows one picture, centred, scaled by nearest neighbour. Pixels of the transparent colour are
 * left out when the view draws transparently. Used for the still view and the thumbnails.
 */
class PictureBox : public QWidget
{
    Q_OBJECT

public:
    explicit PictureBox(QWidget *parent = nullptr);

    void setPicture(const QImage &picture);
    const QImage &picture() const { return mPicture; }
    void clearPicture();
    /** Draw without the pixels of `color` (the bitmap's transparent colour at the time it is set). */
    void setTransparentColor(std::optional<QRgb> color);
    void setScale(double scale);
    double scale() const { return mScale; }

signals:
    void clicked();
    void mousePressed(QPoint pos, Qt::MouseButton button);
    void mouseReleased(QPoint pos, Qt::MouseButton button);
    void mouseMoved(QPoint pos);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    QImage mPicture;
    QImage mShown; // mPicture with the transparent colour keyed out, as ARGB
    double mScale = 1.0;
};

/** The gradient title bar of a side panel (and of the frames area), with optional arrows. */
class PanelHeader : public QWidget
{
    Q_OBJECT

public:
    PanelHeader(const QString &title, bool collapsible, QWidget *parent = nullptr);

    void setGradient(const QImage &gradient);
    /** Shows the collapse arrow (expanded) or the expand arrow (collapsed). */
    void setExpanded(bool expanded);
    QLabel *collapseArrow() const { return mCollapse; }
    QLabel *expandArrow() const { return mExpand; }

signals:
    void collapseClicked();
    void expandClicked();
    void titleClicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QString mTitle;
    QImage mGradient;
    QLabel *mCollapse = nullptr;
    QLabel *mExpand = nullptr;
};

/** A thumbnail slot: container `PB`k, picture `P`k and number box `PN`k with its label `PNL`k. */
class ThumbnailSlot : public QFrame
{
    Q_OBJECT

public:
    ThumbnailSlot(int number, int pictureWidth, QWidget *parent = nullptr);

    PictureBox *picture() const { return mPicture; }
    QLabel *numberLabel() const { return mNumber; }
    void setHighlighted(bool on);
    bool isHighlighted() const { return mHighlighted; }
    /** The keyboard modifiers held at the last press on the slot (Ctrl and Shift mark several frames). */
    Qt::KeyboardModifiers pressModifiers() const { return mPressModifiers; }

signals:
    void clicked();
    /** The left button went down on the slot and the pointer moved far enough to drag it. */
    void dragRequested();
    /** The left button came up on the slot without a drag. */
    void released();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    /** A press or a move of the pointer, on the slot or its picture: a drag once far enough. */
    void followPointer(const QMouseEvent *event);

    PictureBox *mPicture;
    QLabel *mNumber;
    bool mHighlighted = false;
    Qt::KeyboardModifiers mPressModifiers;
    std::optional<QPointF> mPressedAt; // global position of a left press that may start a drag
};

} // namespace app
