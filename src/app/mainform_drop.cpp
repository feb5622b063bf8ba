// Drag and drop: files dropped on the window, and a thumbnail dragged to a new place in the strip.
#include "mainform.h"

#include "undo_commands.h"

#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace app {

namespace {

/** The local files `data` names, in their order; none for a frame dragged from the window itself. */
QStringList droppedFiles(const QMimeData *data, const TMainform &form)
{
    QStringList files;
    if (!data || !data->hasUrls() || StripDrag::frameIn(data, form) >= 0)
        return files;
    for (const QUrl &url : data->urls()) {
        if (url.isLocalFile())
            files << url.toLocalFile();
    }
    return files;
}

bool isGifFile(const QString &file)
{
    QFile in(file);
    return in.open(QIODevice::ReadOnly) && in.read(4) == "GIF8";
}

class FileDrop : public QObject
{
public:
    explicit FileDrop(TMainform &form)
        : QObject(&form)
        , mForm(form)
    {
        form.setAcceptDrops(true);
        form.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto *drag = static_cast<QDragMoveEvent *>(event);
            if (droppedFiles(drag->mimeData(), mForm).isEmpty()) {
                drag->ignore();
            } else {
                drag->setDropAction(Qt::CopyAction);
                drag->accept();
            }
            return true;
        }
        case QEvent::Drop: {
            auto *drop = static_cast<QDropEvent *>(event);
            const QStringList files = droppedFiles(drop->mimeData(), mForm);
            if (files.isEmpty())
                return false;
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            // The program the files come from waits until the drop returns: the files go in after,
            // when their questions and messages no longer hold it.
            QTimer::singleShot(0, &mForm, [form = &mForm, files] { form->dropFiles(files); });
            return true;
        }
        default:
            return QObject::eventFilter(watched, event);
        }
    }

private:
    TMainform &mForm;
};

} // namespace

void TMainform::acceptFileDrops()
{
    new FileDrop(*this);
}

void TMainform::dropFiles(const QStringList &files)
{
    if (files.isEmpty())
        return;
    stopPlayback();
    const bool emptyUntitled = path.isEmpty() && (!mDocument || mDocument->empty());
    if (files.size() == 1 && emptyUntitled && isGifFile(files.constFirst())) {
        FileOpen1Execute(OpenSource::Dropped, files.constFirst());
        return;
    }
    addPictureFiles(files, QStringLiteral("add"));
}

void TMainform::moveFramesTo(const std::vector<int> &moved, int to, int shown)
{
    releaseAnimation();
    const int n = mDocument ? mDocument->count() : 0;
    if (moved.empty() || moved.front() < 0 || moved.back() >= n || to < 0 || to >= n
        || std::find(moved.begin(), moved.end(), to) != moved.end())
        return;
    const UndoScope step(*mHistory, QStringLiteral("Déplacer"));
    // The block leaves, then goes in before its target going back, after it going on.
    const auto before = [&](int f) { return int(std::lower_bound(moved.begin(), moved.end(), f) - moved.begin()); };
    const int at = to - before(to) + (to > moved.front() ? 1 : 0);
    for (int i = int(moved.size()) - 1; i >= 0; --i)
        mDocument->move(moved[std::size_t(i)], n - 1 - (int(moved.size()) - 1 - i));
    for (std::size_t i = 0; i < moved.size(); ++i)
        mDocument->move(n - int(moved.size()) + int(i), at + int(i));
    FrameSelection marks;
    for (std::size_t i = 0; i < moved.size(); ++i)
        marks.toggle(at + int(i));
    const int view = at + before(shown);
    ren();
    if (moved.size() > 1) {
        mMarks = marks;
        selectKeepingMarks(view);
    } else {
        selectFrame(view);
    }
    StoreLooping();
}

} // namespace app
