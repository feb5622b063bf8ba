#pragma once

#include "document/gif_export.h"

#include <QDialog>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSpinBox;

namespace doc {
class FrameComposer;
}

namespace dialogs {

/**
 * "Exporter": the file the chosen settings (level, lossy, colours, dithering, frames dropped) make
 * of the document, its size and what each frame costs, the selected frame as the file shows it,
 * "Tenir sous N Ko", and the save of exactly that file. Sizes are computed on a worker thread:
 * a change cancels the computation under way, and the window never waits for one.
 */
class TExport : public QDialog
{
    Q_OBJECT

public:
    /** How the dialog asks for a file name and reports a failed write (the main window's prompter). */
    struct Prompts {
        std::function<QString()> chooseSaveFile;
        std::function<void(const QString &)> showError;
    };

    /** `document` is copied; `frame` is the frame to preview first. */
    TExport(const doc::TGIFImage &document, int frame, Prompts prompts, QWidget *parent = nullptr);
    ~TExport() override;

    doc::ExportSettings settings() const;
    void setSettings(const doc::ExportSettings &settings);
    /** The exact file of the current settings once computed, else nullptr. */
    std::shared_ptr<const doc::ExportResult> current() const { return mCurrent; }

    QComboBox *Niveau = nullptr;
    QSpinBox *Perte = nullptr;
    QSpinBox *Couleurs = nullptr;
    QComboBox *Tramage = nullptr;
    QSpinBox *Retirer = nullptr;
    QLabel *Taille = nullptr;
    QLabel *Apercu = nullptr;
    QListWidget *Images = nullptr;
    QSpinBox *Cible = nullptr;
    QPushButton *Tenir = nullptr;
    QLabel *Sacrifices = nullptr;
    QPushButton *Enregistrer = nullptr;

    /** Saves the current file through the prompts; false when cancelled, failed or not computed yet. */
    bool save();

signals:
    /** A job began on the worker (an estimate or a fit). */
    void computationStarted();
    /** A job stopped because the settings changed under it. */
    void computationCancelled();
    /** A size was shown: exact, or the quick estimate that comes first. */
    void estimateShown(qint64 bytes, bool exact);
    /** A fit ended and set the controls (met or not). */
    void fitFinished(bool met);

private:
    struct Job {
        enum class Kind { Estimate, Fit } kind = Kind::Estimate;
        doc::ExportSettings settings;
        std::size_t target = 0;
        quint64 generation = 0;
    };

    /** Sets the controls without starting a computation. */
    void applySettings(const doc::ExportSettings &settings);
    void settingsChanged();
    void startFit();
    void post(Job job);
    void workerLoop();
    void run(const Job &job, const std::atomic<bool> &cancel);
    void showQuick(quint64 generation, std::size_t bytes);
    void showExact(quint64 generation, std::shared_ptr<const doc::ExportResult> result);
    void showFit(quint64 generation, const doc::FitResult &fit, std::shared_ptr<const doc::ExportResult> result);
    void showPreview();
    void updateEnabling();

    Prompts mPrompts;
    int mFrame = 0;
    quint64 mGeneration = 0;
    bool mSetting = false;
    bool mFitting = false;
    std::shared_ptr<const doc::ExportResult> mCurrent;
    // The frames as the file shows them, read back from its bytes, composed on demand.
    std::shared_ptr<const doc::TGIFImage> mShown;
    std::unique_ptr<doc::FrameComposer> mComposer;

    // The worker: one job at a time, the latest one asked for; the exporter is its alone.
    std::unique_ptr<doc::Exporter> mExporter;
    std::mutex mMutex;
    std::condition_variable mWake;
    std::optional<Job> mPending;
    std::shared_ptr<std::atomic<bool>> mCancel;
    bool mQuit = false;
    std::thread mWorker;
};

/** A size for people, as the dialog shows it: "97,6 Ko (97 612 octets)" (1 Ko = 1000 octets). */
QString sizeText(std::size_t bytes);

} // namespace dialogs
