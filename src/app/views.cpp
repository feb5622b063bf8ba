#include "views.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

namespace app {

namespace {
const QColor highlightColor(191, 219, 255);
}

// --- PictureBox --------------------------------------------------------------------------------

PictureBox::PictureBox(QWidget *parent)
    : QWidget(parent)
{}

void PictureBox::setPicture(const QImage &picture)
{
    mPicture = picture;
    mShown = picture;
    update();
}

void PictureBox::clearPicture()
{
    mPicture = QImage();
    mShown = QImage();
    update();
}

void PictureBox::setTransparentColor(std::optional<QRgb> color)
{
    if (!color || mPicture.isNull()) {
        mShown = mPicture;
    } else {
        QImage argb = mPicture.convertToFormat(QImage::Format_ARGB32);
        const QRgb key = qRgb(qRed(*color), qGreen(*color), qBlue(*color));
        for (int y = 0; y < argb.height(); ++y) {
            auto *row = reinterpret_cast<QRgb *>(argb.scanLine(y));
            for (int x = 0; x < argb.width(); ++x)
                if ((row[x] | 0xFF000000u) == key)
                    row[x] = 0;
        }
        mShown = argb;
    }
    update();
}

void PictureBox::setScale(double scale)
{
    mScale = scale;
    update();
}

void PictureBox::paintEvent(QPaintEvent *)
{
    if (mShown.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const int w = int(std::lround(mShown.width() * mScale));
    const int h = int(std::lround(mShown.height() * mScale));
    const QRect target((width() - w) / 2, (height() - h) / 2, w, h);
    painter.drawImage(target, mShown);
}

void PictureBox::mousePressEvent(QMouseEvent *event)
{
    emit mousePressed(event->position().toPoint(), event->button());
    if (event->button() == Qt::LeftButton)
        emit clicked();
    QWidget::mousePressEvent(event);
}

void PictureBox::mouseReleaseEvent(QMouseEvent *event)
{
    emit mouseReleased(event->position().toPoint(), event->button());
    QWidget::mouseReleaseEvent(event);
}

void PictureBox::mouseMoveEvent(QMouseEvent *event)
{
    emit mouseMoved(event->position().toPoint());
    QWidget::mouseMoveEvent(event);
}

// --- PanelHeader -------------------------------------------------------------------------------

PanelHeader::PanelHeader(const QString &title, bool collapsible, QWidget *parent)
    : QWidget(parent)
    , mTitle(title)
{
    setFixedHeight(16);
    if (collapsible) {
        mCollapse = new QLabel(this);
        mCollapse->setPixmap(QPixmap(QStringLiteral(":/icons/panel-collapse.png")));
        mCollapse->setObjectName(QStringLiteral("collapse"));
        mCollapse->setCursor(Qt::PointingHandCursor);
        mCollapse->setGeometry(2, 0, 16, 16);
        mCollapse->installEventFilter(this);
        mExpand = new QLabel(this);
        mExpand->setPixmap(QPixmap(QStringLiteral(":/icons/panel-expand.png")));
        mExpand->setObjectName(QStringLiteral("expand"));
        mExpand->setCursor(Qt::PointingHandCursor);
        mExpand->setGeometry(2, 0, 16, 16);
        mExpand->installEventFilter(this);
        mExpand->hide();
    }
}

void PanelHeader::setGradient(const QImage &gradient)
{
    mGradient = gradient;
    update();
}

void PanelHeader::setExpanded(bool expanded)
{
    if (mCollapse)
        mCollapse->setVisible(expanded);
    if (mExpand)
        mExpand->setVisible(!expanded);
}

void PanelHeader::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (mGradient.isNull())
        painter.fillRect(rect(), QColor(177, 195, 217));
    else
        painter.drawImage(QPoint(0, 0), mGradient);
    QFont font = painter.font();
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(QColor(21, 74, 147));
    painter.drawText(rect(), Qt::AlignCenter, mTitle);
}

void PanelHeader::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit titleClicked();
}

bool PanelHeader::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        if (watched == mCollapse)
            emit collapseClicked();
        else if (watched == mExpand)
            emit expandClicked();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// --- ThumbnailSlot -----------------------------------------------------------------------------

ThumbnailSlot::ThumbnailSlot(int number, int pictureWidth, QWidget *parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("PB%1").arg(number));
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setAutoFillBackground(true);
    setFixedSize(pictureWidth + 6, 108 + 6);
    setCursor(Qt::PointingHandCursor);

    mPicture = new PictureBox(this);
    mPicture->setObjectName(QStringLiteral("P%1").arg(number));
    mPicture->setGeometry(3, 3, pictureWidth, 108);
    mPicture->installEventFilter(this);

    mNumber = new QLabel(QString::number(number), this);
    mNumber->setObjectName(QStringLiteral("PNL%1").arg(number));
    mNumber->setAlignment(Qt::AlignCenter);
    mNumber->setAutoFillBackground(true);
    mNumber->setGeometry(3, height() - 3 - 14, 17, 14);
    QFont f = mNumber->font();
    f.setPointSize(7);
    mNumber->setFont(f);
    setHighlighted(false);
}

void ThumbnailSlot::setHighlighted(bool on)
{
    mHighlighted = on;
    QPalette p = palette();
    p.setColor(QPalette::Window, on ? highlightColor : QApplication::palette().color(QPalette::Button));
    setPalette(p);
    QPalette n = mNumber->palette();
    n.setColor(QPalette::Window, on ? highlightColor : QColor(Qt::black));
    n.setColor(QPalette::WindowText, on ? QColor(Qt::black) : QColor(Qt::white));
    mNumber->setPalette(n);
}

void ThumbnailSlot::mousePressEvent(QMouseEvent *event)
{
    followPointer(event);
    if (event->button() == Qt::LeftButton)
        emit clicked();
}

void ThumbnailSlot::mouseMoveEvent(QMouseEvent *event)
{
    followPointer(event);
}

void ThumbnailSlot::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const bool dragged = !mPressedAt;
    mPressedAt.reset();
    if (!dragged)
        emit released();
}

bool ThumbnailSlot::eventFilter(QObject *watched, QEvent *event)
{
    // The picture's own handlers would pass its presses on to the slot as well: a Ctrl+click
    // would then mark and unmark its frame. The slot takes them here, once.
    if (watched == mPicture && event->type() == QEvent::MouseButtonPress) {
        mousePressEvent(static_cast<QMouseEvent *>(event));
        return true;
    }
    if (watched == mPicture && event->type() == QEvent::MouseMove) {
        followPointer(static_cast<QMouseEvent *>(event));
        return true;
    }
    if (watched == mPicture && event->type() == QEvent::MouseButtonRelease) {
        mouseReleaseEvent(static_cast<QMouseEvent *>(event));
        return true;
    }
    return QFrame::eventFilter(watched, event);
}

void ThumbnailSlot::followPointer(const QMouseEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        mPressModifiers = event->modifiers();
        mPressedAt.reset();
        if (event->button() == Qt::LeftButton)
            mPressedAt = event->globalPosition();
        return;
    }
    if (!mPressedAt || !(event->buttons() & Qt::LeftButton)) {
        mPressedAt.reset();
        return;
    }
    if ((event->globalPosition() - *mPressedAt).manhattanLength() >= QApplication::startDragDistance()) {
        mPressedAt.reset();
        emit dragRequested();
    }
}

} // namespace app
