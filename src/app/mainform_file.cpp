// The File commands: New, Open, Save, Save As, the optimised save, Revert, the recent files, and
// the add command that brings picture files in as frames.
#include "mainform.h"

#include "command_rules.h"

#include "animation_view.h"
#include "picture_qimage.h"
#include "undo_commands.h"
#include "views.h"

#include "document/document_ops.h"
#include "document/formats/picture_formats.h"
#include "document/gif_optimize.h"
#include "document/gif_writer.h"
#include "document/open_document.h"

#include <QAction>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QLockFile>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QThread>
#include <QToolBar>

#include <exception>

namespace app {

namespace {

const QString untitled = QStringLiteral("Sans_titre.gif");

/** The display name of a path: everything after its last separator. */
QString displayName(const QString &file)
{
    return QFileInfo(file).fileName();
}

std::string toLocal(const QString &file)
{
    return QFile::encodeName(file).toStdString();
}

} // namespace

// --- helpers -------------------------------------------------------------------------------------

void TMainform::showWarning(const QString &text)
{
    mPrompter->ask(MessageKind::Warning, text, Buttons::Ok);
}

void TMainform::setTitle(const QString &name)
{
    setWindowTitle(name.isEmpty() ? QStringLiteral("Movaro Gif") : name + QStringLiteral(" - Movaro Gif"));
}

void TMainform::runBlocking(const std::function<void()> &work)
{
    // The work runs on its own thread while this one keeps painting and shows the progress; the
    // window takes no input meanwhile.
    mBusy = true;
    const QList<QWidget *> blocked{menuBar(), ToolBar1, centralWidget()};
    for (QWidget *w : blocked)
        w->setEnabled(false);

    std::exception_ptr error;
    QThread *thread = QThread::create([&] {
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
    });
    QEventLoop loop;
    connect(thread, &QThread::finished, &loop, &QEventLoop::quit);
    thread->start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    thread->wait();
    delete thread;

    for (QWidget *w : blocked)
        w->setEnabled(true);
    mBusy = false;
    if (error)
        std::rethrow_exception(error);
}

doc::TGIFImage::ProgressHandler TMainform::progressHandler()
{
    TMainform *form = this;
    return [form](doc::ProgressStage stage, const std::string &message, int percent) {
        const QString text = QString::fromStdString(message);
        QMetaObject::invokeMethod(form, [form, stage, text, percent] { form->gifProgress(stage, text, percent); },
                                  QThread::currentThread() == form->thread() ? Qt::DirectConnection
                                                                             : Qt::QueuedConnection);
    };
}

settings::RecentList TMainform::readRecent()
{
    mStore->sync(); // another window (process) may have promoted a file since
    return settings::readRecentFiles(*mStore);
}

void TMainform::PromoteRecent(const QString &file)
{
    // Each window of a multi-file start is a process of its own: the list is re-read and written
    // under a lock so that one window's promotion never overwrites another's.
    const QString storeFile = mStore->fileName();
    QDir().mkpath(QFileInfo(storeFile).absolutePath());
    QLockFile lock(storeFile + QStringLiteral(".recent.lock"));
    lock.tryLock(5000);
    const settings::RecentList before = readRecent();
    settings::writeRecentFiles(*mStore, before, settings::promoteRecent(before, file));
}

FileDialogSpec TMainform::openDialogSpec() const
{
    return {QStringLiteral("Ouvrir"),
            {QStringLiteral("Image GIF (*.gif)"), QStringLiteral("Format Movaro Gif (*.mvpj)")},
            {},
            {}};
}

FileDialogSpec TMainform::saveDialogSpec() const
{
    FileDialogSpec request = openDialogSpec();
    request.title = QStringLiteral("Enregistrer sous");
    request.defaultSuffix = QStringLiteral("gif");
    return request;
}

bool TMainform::askSaveFirst(const QString &question)
{
    switch (mPrompter->ask(MessageKind::Warning, question, Buttons::YesNoCancel)) {
    case Answer::Cancel:
        return false;
    case Answer::Yes:
        // A save that fails or is cancelled stops the command instead of discarding the work.
        return FileSave1Execute();
    default:
        return true;
    }
}

bool TMainform::writeDocument(const QString &file, bool optimized)
{
    try {
        // Whichever command made the document, its save shows "Saving..." in the status bar.
        mDocument->onProgress = progressHandler();
        const doc::TGIFImage &document = *mDocument;
        const std::string target = toLocal(file);
        runBlocking([&] {
            if (optimized)
                doc::saveOptimizedToFile(document, target);
            else
                doc::saveToFile(document, target);
        });
        return true;
    } catch (const std::exception &e) {
        mPrompter->ask(MessageKind::Error, QString::fromLocal8Bit(e.what()), Buttons::Ok);
        return false;
    }
}

// --- New -----------------------------------------------------------------------------------------

bool TMainform::FileNewItemClick()
{
    if (isModified()
        && !askSaveFirst(QStringLiteral("Voulez-vous enregistrer les modifications apportées à l'animation en cours \"")
                         + DocumentName + QStringLiteral("\" avant\nde lancer la création de la nouvelle animation ?")))
        return false;

    setTitle({});
    mFrameEntries = 0;
    mSelected = -1;
    HideThumbnails();
    showStill(true);
    check(QStringLiteral("closed"));
    releaseAnimation();
    mDocument.reset();
    Image->clearPicture();
    path.clear();
    DocumentName = untitled;
    setTitle(DocumentName);
    PlaceScrollMarker();
    UpdateNavButtons();
    OnDisk = false;
    setModified(false);
    mHistory->clear();
    EnableAnimationFields();
    mCommentGuard = 0;
    Gifcomment->clear();
    mCommentGuard = 5;
    infini->setChecked(true);
    NumLoops->setEnabled(false);
    StoreLooping();
    mPanels[4]->clear();
    showDamage({});
    status();
    return true;
}

// --- Open ----------------------------------------------------------------------------------------

void TMainform::openFromCommandLine(const QString &file)
{
    FileOpen1Execute(OpenSource::CommandLine, file);
}

void TMainform::FileOpen1Execute(OpenSource source, const QString &commandLineFile)
{
    const settings::RecentList recent = readRecent();
    QString file;
    switch (source) {
    case OpenSource::Dialog: {
        const QStringList chosen = mPrompter->chooseOpenFiles(openDialogSpec(), false);
        if (chosen.isEmpty())
            return;
        file = chosen.constFirst();
        break;
    }
    case OpenSource::Recent1:
    case OpenSource::Recent2:
    case OpenSource::Recent3:
    case OpenSource::Recent4:
        file = recent[std::size_t(int(source) - int(OpenSource::Recent1))];
        break;
    case OpenSource::CommandLine:
    case OpenSource::Dropped:
        file = commandLineFile;
        break;
    case OpenSource::Revert:
        file = path;
        break;
    }

    if (file.isEmpty() || !QFileInfo(file).isFile()) {
        showWarning(QStringLiteral("Le fichier n'existe pas"));
        return;
    }
    if (source != OpenSource::Revert && isModified()
        && !askSaveFirst(QStringLiteral("Voulez-vous enregistrer les modifications apportées à \"") + DocumentName
                         + QStringLiteral("\"\navant d'ouvrir le fichier sélectionné ?")))
        return;

    if (mFrameEntries > 0)
        selectFrame(0);
    mFrameEntries = 0;
    mSelected = -1;
    releaseAnimation();

    double readSeconds = 0;
    std::vector<std::string> warnings;
    try {
        Image->hide();
        gif->hide();
        auto opened = std::make_unique<doc::TGIFImage>();
        const std::string name = toLocal(file);
        const auto progress = progressHandler();
        runBlocking([&] { *opened = doc::openForEditing(name, progress, &readSeconds, &warnings); });
        opened->onProgress = progress;
        mDocument = std::move(opened);
        stopPlayback();
        UpdateNavButtons();
        showStill(false);
        PlaceScrollMarker();
        doc::EnsureControlExtensions(*mDocument);
        OnDisk = true;
        ShowLooping();
        ShowComment();
    } catch (const std::exception &) {
        releaseAnimation();
        showWarning(QStringLiteral("Format de fichier invalide."));
        // The failed file leaves an empty, untitled editor rather than a half-open one.
        mDocument.reset();
        setModified(false);
        FileNewItemClick();
        return;
    }

    // The read is timed in whole milliseconds, as the time of day is.
    const double seconds = double(qRound64(readSeconds * 1000.0)) / 1000.0;
    mPanels[4]->setText(QStringLiteral("Chargé en ") + QLocale::system().toString(seconds, 'g', 15)
                        + QStringLiteral(" s"));
    QStringList damage;
    for (const std::string &w : warnings)
        damage << QString::fromStdString(w);
    showDamage(damage);
    path = file;
    showStill(false);
    gif->setDocument(mDocument.get());
    BoxResize();
    DocumentName = displayName(file);
    ren();
    selectFrame(0);
    status();
    check(QStringLiteral("opened"));
    setTitle(DocumentName);
    PromoteRecent(file);
    const int n = mDocument->count();
    Slider->setEnabled(n >= 2);
    if (n >= 2)
        Slider->setMaximum(n - 1);
    setModified(false);
    mHistory->clear();
}

// --- Save, Save As, optimised save, Revert -----------------------------------------------------

bool TMainform::FileSave1Execute()
{
    if (!mDocument) {
        // Nothing to write: there is no animation yet.
        mPrompter->ask(MessageKind::Error, QStringLiteral("Unsupported GIF version"), Buttons::Ok);
        return false;
    }
    StoreComment();
    if (path.isEmpty()) {
        const QString file = mPrompter->chooseSaveFile(saveDialogSpec());
        if (file.isEmpty() || !writeDocument(file))
            return false;
        path = file;
    } else if (!writeDocument(path)) {
        return false;
    }
    PromoteRecent(path);
    setModified(false);
    OnDisk = true;
    update();
    return true;
}

void TMainform::save2Click()
{
    if (!mDocument)
        return;
    const QString file = mPrompter->chooseSaveFile(saveDialogSpec());
    if (file.isEmpty() || !writeDocument(file))
        return;
    path = file;
    DocumentName = displayName(file);
    setTitle(DocumentName);
}

void TMainform::eosClick()
{
    if (!mDocument)
        return;
    const QString file = mPrompter->chooseSaveFile({QStringLiteral("Enregistrer optimisé sous..."),
                                                    {QStringLiteral("Image Gif (*.gif)")},
                                                    QStringLiteral("gif"),
                                                    {}});
    if (file.isEmpty())
        return;
    writeDocument(file, true);
}

void TMainform::retablirClick()
{
    if (mPrompter->ask(MessageKind::Warning,
                       QStringLiteral("Voulez-vous récupérer la dernière version enregistrée de ce fichier ? "
                                      "Attention, cette récupération est définitive."),
                       Buttons::YesCancel)
        != Answer::Yes)
        return;
    if (mFrameEntries > 0)
        selectFrame(0);
    FileOpen1Execute(OpenSource::Revert);
}

void TMainform::File1Click()
{
    const settings::RecentList recent = readRecent();
    bool any = false;
    for (std::size_t k = 0; k < recent.size(); ++k) {
        QAction *item = recentItems[k];
        if (recent[k].isEmpty()) {
            item->setVisible(false);
            continue;
        }
        item->setText(QStringLiteral("&%1 ").arg(k + 1) + displayName(recent[k]));
        item->setVisible(true);
        any = true;
    }
    N4->setVisible(any);
    mRules->apply(File1);
}

// --- Adding picture files ------------------------------------------------------------------------

void TMainform::adoptAddedFrames(std::unique_ptr<doc::TGIFImage> copy, int p)
{
    mDocument = std::move(copy);
    ren();
    RefreshThumbnails();
    StoreLooping();
    check(QStringLiteral("pasted"));
    setModified(true);
    selectFrame(p);
}

void TMainform::Plus(const QString &mode)
{
    QStringList filters;
    for (const std::string &f : doc::formats::addDialogFilters())
        filters << QString::fromStdString(f);
    const QStringList files =
        mPrompter->chooseOpenFiles({QStringLiteral("Ajouter une image"), withVideoFilters(filters), {}, {}}, true);
    addPictureFiles(files, mode);
}

void TMainform::addPictureFiles(const QStringList &files, const QString &mode)
{
    const UndoScope step(*mHistory, mode == QLatin1String("add") ? QStringLiteral("Ajouter une image")
                                                                 : QStringLiteral("Insérer une image"));

    for (const QString &file : files) {
        const int p = mode == QLatin1String("add") ? mFrameEntries : std::max(mSelected, 0);
        if (video::isVideoFileName(toLocal(file))) {
            ImportVideo(file, p);
            status();
            continue;
        }
        doc::Picture picture;
        try {
            const std::string name = toLocal(file);
            runBlocking([&] { picture = doc::formats::readPicture(name); });
        } catch (const std::exception &) {
            mPrompter->ask(MessageKind::Information, QStringLiteral("Echec lors de l'ajout de l'image."), Buttons::Ok);
            status();
            continue;
        }

        doc::Picture reduced;
        try {
            runBlocking([&] {
                reduced = reduceForFrame(picture);
            });
        } catch (const std::exception &) {
            showWarning(QStringLiteral("Format de fichier invalide ou non supporté."));
            status();
            return;
        }

        try {
            releaseAnimation();
            auto copy = mDocument ? std::make_unique<doc::TGIFImage>(*mDocument) : std::make_unique<doc::TGIFImage>();
            if (!mDocument)
                copy->onProgress = progressHandler();
            doc::InsertImage(*copy, std::move(reduced), 60, p);
            adoptAddedFrames(std::move(copy), p);
        } catch (const std::exception &) {
            mPrompter->ask(MessageKind::Information, QStringLiteral("Echec lors de l'ajout de l'image."), Buttons::Ok);
        }
        status();
    }
}

} // namespace app

namespace app {

void TMainform::showDamage(const QStringList &warnings)
{
    // Said without a modal box: the file opened with what could be read, and Save would write
    // that over the original.
    QStringList distinct = warnings;
    distinct.removeDuplicates();
    mDamage->setToolTip(distinct.join(QLatin1Char('\n')));
    mDamage->setVisible(!distinct.isEmpty());
}

} // namespace app
