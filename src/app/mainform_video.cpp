// Frames from a video clip: File ▸ "Importer une vidéo...", and clips chosen in the add dialog.
#include "mainform.h"

#include "undo_commands.h"
#include "video_dialog.h"

#include "document/document_ops.h"
#include "document/gif_error.h"

#include <QEventLoop>
#include <QFile>
#include <QProgressDialog>
#include <QThread>

#include <atomic>
#include <exception>

namespace app {

namespace {

QString videoPatterns()
{
    QStringList patterns;
    for (const std::string &ext : video::videoExtensions())
        patterns << QStringLiteral("*.") + QString::fromStdString(ext);
    return patterns.join(QLatin1Char(' '));
}

} // namespace

QStringList TMainform::videoFilters()
{
    return {QStringLiteral("Vidéos (%1)").arg(videoPatterns()), QStringLiteral("Tous les fichiers (*)")};
}

QStringList TMainform::withVideoFilters(QStringList filters)
{
    // The first entry lists every readable pattern: "Tous (*.bmp ... )".
    if (!filters.isEmpty() && filters.front().endsWith(QLatin1Char(')')))
        filters.front().insert(filters.front().size() - 1, QLatin1Char(' ') + videoPatterns());
    filters << QStringLiteral("Vidéos (%1)").arg(videoPatterns());
    return filters;
}

void TMainform::importVideoClick()
{
    const QStringList files =
        mPrompter->chooseOpenFiles({QStringLiteral("Importer une vidéo"), videoFilters(), {}, {}}, false);
    if (files.isEmpty())
        return;
    const UndoScope step(*mHistory, QStringLiteral("Importer une vidéo"));
    ImportVideo(files.front(), mFrameEntries);
    status();
}

std::optional<video::ImportSettings> TMainform::chooseVideoSettings(std::unique_ptr<video::ClipReader> clip)
{
    if (mVideoSettingsChooser)
        return mVideoSettingsChooser(std::move(clip));
    VideoImportDialog dialog(std::move(clip), this);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.settings();
}

bool TMainform::ImportVideo(const QString &file, int p)
{
    const std::string name = QFile::encodeName(file).toStdString();
    const QString failed = QStringLiteral("Echec lors de l'ajout de l'image.");
    std::unique_ptr<video::ClipReader> clip;
    try {
        clip = std::make_unique<video::ClipReader>(name);
    } catch (const std::exception &) {
        mPrompter->ask(MessageKind::Information, failed, Buttons::Ok);
        return false;
    }
    const std::optional<video::ImportSettings> chosen = chooseVideoSettings(std::move(clip));
    if (!chosen)
        return false;

    releaseAnimation();
    auto copy = mDocument ? std::make_unique<doc::TGIFImage>(*mDocument) : std::make_unique<doc::TGIFImage>();
    if (!mDocument)
        copy->onProgress = progressHandler();
    const int before = copy->count();

    QProgressDialog progress(QStringLiteral("Importation de la vidéo..."), QStringLiteral("Annuler"), 0, 0, this);
    progress.setObjectName(QStringLiteral("videoProgress"));
    progress.setWindowTitle(QStringLiteral("Importer une vidéo"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    std::atomic<bool> cancelled{false};
    connect(&progress, &QProgressDialog::canceled, this, [&cancelled] { cancelled = true; });
    progress.show();

    // The clip is decoded off the user-interface thread, straight into the working copy, which
    // nothing else reads until the thread ends; the dialog only sees counts.
    mBusy = true;
    int at = p;
    std::exception_ptr error;
    QThread *thread = QThread::create([&] {
        try {
            video::importVideo(
                name, *chosen,
                [&](video::VideoFrame &&frame) {
                    doc::InsertImage(*copy, std::move(frame.picture), frame.delay, at);
                    ++at;
                    return true;
                },
                [&](long long done, long long total) {
                    QMetaObject::invokeMethod(
                        &progress,
                        [&progress, done, total] {
                            progress.setMaximum(int(std::max(0LL, total)));
                            progress.setValue(int(done));
                            progress.setLabelText(total > 0 ? QStringLiteral("Image %1 sur %2").arg(done).arg(total)
                                                            : QStringLiteral("Image %1").arg(done));
                        },
                        Qt::QueuedConnection);
                    return !cancelled.load();
                });
        } catch (...) {
            error = std::current_exception();
        }
    });
    QEventLoop loop;
    connect(thread, &QThread::finished, &loop, &QEventLoop::quit);
    thread->start();
    loop.exec();
    thread->wait();
    delete thread;
    mBusy = false;
    progress.hide();
    // The progress dialog had the keyboard; the window takes it back for the next command.
    activateWindow();

    // What was made stays, whether the clip ended, the user cancelled or a later picture failed.
    if (copy->count() > before)
        adoptAddedFrames(std::move(copy), p);
    if (error) {
        try {
            std::rethrow_exception(error);
        } catch (const doc::GifError &) {
            showWarning(QStringLiteral("Format de fichier invalide ou non supporté."));
        } catch (const std::exception &) {
            mPrompter->ask(MessageKind::Information, failed, Buttons::Ok);
        }
        return false;
    }
    return true;
}

} // namespace app
