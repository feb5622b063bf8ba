// Drag and drop: files dropped on the window, and a thumbnail dragged to a new place in the strip.
#include "mainform.h"

#include "undo_commands.h"

#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

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

void TMainform::moveFrameTo(int from, int to)
{
    releaseAnimation();
    const int n = mDocument ? mDocument->count() : 0;
    if (from < 0 || from >= n || to < 0 || to >= n || from == to)
        return;
    const UndoScope step(*mHistory, QStringLiteral("Déplacer"));
    mDocument->move(from, to);
    ren();
    selectFrame(to);
    StoreLooping();
}

} // namespace app
