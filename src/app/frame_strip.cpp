#include "frame_strip.h"

#include "mainform.h"
#include "picture_qimage.h"
#include "views.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDrag>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMimeData>
#include <QPixmap>
#include <QScrollBar>
#include <QUrl>
#include <QWidget>

#include <algorithm>

namespace app {

void FrameSelection::single(int frame)
{
    mFrames.clear();
    if (frame >= 0)
        mFrames.insert(frame);
    mAnchor = frame;
}

bool FrameSelection::toggle(int frame)
{
    if (mFrames.erase(frame) > 0)
        return false;
    mFrames.insert(frame);
    mAnchor = frame;
    return true;
}

void FrameSelection::range(int frame)
{
    const int from = mAnchor >= 0 ? mAnchor : frame;
    mFrames.clear();
    for (int f = std::min(from, frame); f <= std::max(from, frame); ++f)
        mFrames.insert(f);
    mAnchor = from;
}

void FrameSelection::shift(int offset)
{
    std::set<int> moved;
    for (int f : mFrames)
        moved.insert(f + offset);
    mFrames = std::move(moved);
    if (mAnchor >= 0)
        mAnchor += offset;
}

StripKeys::StripKeys(TMainform &form, QWidget *panel)
    : QObject(panel)
    , mForm(form)
{
    panel->setFocusPolicy(Qt::ClickFocus);
    panel->installEventFilter(this);
}

bool StripKeys::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    const int n = mForm.frameEntries();
    const int s = mForm.selectedFrame();
    if (n == 0)
        return false;
    int target = -1;
    switch (key->key()) {
    case Qt::Key_Left: target = std::max(s - 1, 0); break;
    case Qt::Key_Right: target = std::min(s + 1, n - 1); break;
    case Qt::Key_Home: target = 0; break;
    case Qt::Key_End: target = n - 1; break;
    default: return false;
    }
    mForm.stepTo(target, key->modifiers() & Qt::ShiftModifier);
    return true;
}

} // namespace app

namespace app {

const QString StripDrag::frameMime = QStringLiteral("application/x-movaro-gif-frame");

namespace {

/** How near the strip's ends a dragged frame makes it scroll. */
constexpr int scrollZone = 24;

QString windowKey(const TMainform &form)
{
    return QStringLiteral("%1 %2").arg(QCoreApplication::applicationPid()).arg(quintptr(&form));
}

} // namespace

StripDrag::StripDrag(TMainform &form, QWidget *area, QWidget *panel)
    : QObject(area)
    , mForm(form)
    , mArea(area)
    , mPanel(panel)
    , mMarker(new QWidget(panel))
{
    area->setAcceptDrops(true);
    area->installEventFilter(this);
    mMarker->setObjectName(QStringLiteral("dropMarker"));
    mMarker->setAutoFillBackground(true);
    QPalette p = mMarker->palette();
    p.setColor(QPalette::Window, p.color(QPalette::Highlight));
    mMarker->setPalette(p);
    mMarker->hide();
    mScroll.setInterval(250);
    connect(&mScroll, &QTimer::timeout, this, &StripDrag::scrollStep);
}

namespace {

/** The fields of a frame drag from `form`'s strip: the dragged frame, then every frame going. */
std::vector<int> dragFields(const QMimeData *data, const TMainform &form)
{
    if (!data || !data->hasFormat(StripDrag::frameMime))
        return {};
    const QStringList fields = QString::fromLatin1(data->data(StripDrag::frameMime)).split(QLatin1Char(' '));
    if (fields.size() < 4 || fields[0] + QLatin1Char(' ') + fields[1] != windowKey(form))
        return {};
    std::vector<int> frames;
    for (qsizetype i = 2; i < fields.size(); ++i) {
        bool ok = false;
        const int frame = fields[i].toInt(&ok);
        if (!ok || frame < 0 || frame >= form.frameEntries())
            return {};
        frames.push_back(frame);
    }
    return frames;
}

} // namespace

int StripDrag::frameIn(const QMimeData *data, const TMainform &form)
{
    const std::vector<int> fields = dragFields(data, form);
    return fields.empty() ? -1 : fields.front();
}

std::vector<int> StripDrag::framesIn(const QMimeData *data, const TMainform &form)
{
    std::vector<int> fields = dragFields(data, form);
    if (!fields.empty())
        fields.erase(fields.begin());
    return fields;
}

QMimeData *StripDrag::dragData(int frame)
{
    auto *data = new QMimeData;
    QString fields = windowKey(mForm) + QStringLiteral(" %1").arg(frame);
    const std::vector<int> marked = mForm.marks().contains(frame) && mForm.marks().count() > 1
                                        ? mForm.marks().frames()
                                        : std::vector<int>{frame};
    for (int f : marked)
        fields += QStringLiteral(" %1").arg(f);
    data->setData(frameMime, fields.toLatin1());
    const QImage picture = toQImage(mForm.document()->picture(frame));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    data->setData(QStringLiteral("image/png"), png);
    data->setImageData(picture);
    // File managers take a file: the picture is also offered as one.
    if (!mOut)
        mOut = std::make_unique<QTemporaryDir>();
    if (mOut->isValid()) {
        QString base = QFileInfo(mForm.documentName()).completeBaseName();
        if (base.isEmpty())
            base = QStringLiteral("image");
        QFile file(mOut->filePath(QStringLiteral("%1-%2.png").arg(base).arg(frame + 1)));
        if (file.open(QIODevice::WriteOnly) && file.write(png) == png.size()) {
            file.close();
            data->setUrls({QUrl::fromLocalFile(file.fileName())});
        }
    }
    return data;
}

void StripDrag::start(int k)
{
    const int frame = mForm.scrollPosition() + k - 1;
    if (!mForm.document() || frame < 0 || frame >= mForm.document()->count())
        return;
    auto *drag = new QDrag(mPanel);
    drag->setMimeData(dragData(frame));
    const QImage picture = mForm.thumbs[std::size_t(k - 1)]->picture()->picture();
    if (!picture.isNull())
        drag->setPixmap(QPixmap::fromImage(picture.scaled(64, 64, Qt::KeepAspectRatio)));
    drag->exec(Qt::MoveAction | Qt::CopyAction, Qt::MoveAction);
    mScroll.stop();
    mDirection = 0;
    markTarget(-1, {});
}

int StripDrag::targetAt(QPoint areaPos) const
{
    const int p = mForm.scrollPosition();
    const int shown = std::min(4, mForm.frameEntries() - p);
    if (shown <= 0)
        return -1;
    const int x = mPanel->mapFrom(mArea, areaPos).x();
    for (int k = 1; k <= shown; ++k) {
        // Half of the gap after a slot still counts as that slot.
        if (x <= mForm.thumbs[std::size_t(k - 1)]->geometry().right() + 3)
            return p + k - 1;
    }
    return p + shown - 1;
}

void StripDrag::markTarget(int frame, const std::vector<int> &moved)
{
    const int k = frame - mForm.scrollPosition() + 1;
    if (frame < 0 || moved.empty() || std::find(moved.begin(), moved.end(), frame) != moved.end() || k < 1 || k > 4) {
        mMarker->hide();
        return;
    }
    // A bar in the gap on the side the frame goes in: before its target going back, after it going on.
    const QRect slot = mForm.thumbs[std::size_t(k - 1)]->geometry();
    const int x = frame < moved.front() ? std::max(slot.left() - 4, 0) : std::min(slot.right() + 2, mPanel->width() - 3);
    mMarker->setGeometry(x, 0, 3, mPanel->height());
    mMarker->show();
    mMarker->raise();
}

void StripDrag::scrollStep()
{
    QScrollBar *bar = mForm.ImageScroll;
    const int before = bar->value();
    bar->setValue(before + mDirection);
    if (bar->value() == before)
        mScroll.stop(); // at the end already
}

bool StripDrag::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        const int from = frameIn(drag->mimeData(), mForm);
        if (from < 0)
            return false; // files and other programs' data: the window takes them
        const QPoint pos = drag->position().toPoint();
        const int x = mPanel->mapFrom(mArea, pos).x();
        const int direction = x < scrollZone ? -1 : x >= mPanel->width() - scrollZone ? 1 : 0;
        if (direction != mDirection) {
            mDirection = direction;
            if (direction != 0)
                mScroll.start();
            else
                mScroll.stop();
        }
        markTarget(targetAt(pos), framesIn(drag->mimeData(), mForm));
        drag->setDropAction(Qt::MoveAction);
        drag->accept();
        return true;
    }
    case QEvent::DragLeave:
        mScroll.stop();
        mDirection = 0;
        mMarker->hide();
        return false;
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const int from = frameIn(drop->mimeData(), mForm);
        if (from < 0)
            return false;
        mScroll.stop();
        mDirection = 0;
        mMarker->hide();
        const int to = targetAt(drop->position().toPoint());
        drop->setDropAction(Qt::MoveAction);
        drop->accept();
        if (to >= 0)
            mForm.moveFramesTo(framesIn(drop->mimeData(), mForm), to, from);
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}

} // namespace app
