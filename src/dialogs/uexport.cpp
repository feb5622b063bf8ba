#include "uexport.h"

#include "document/composer.h"
#include "document/lzw_tuned.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPixmap>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <sstream>

namespace dialogs {

namespace {

constexpr int kPreviewWidth = 360;
constexpr int kPreviewHeight = 270;

QImage toImage(const doc::Picture &rgb24)
{
    return QImage(rgb24.data().data(), rgb24.width(), rgb24.height(), int(rgb24.stride()), QImage::Format_RGB888).copy();
}

} // namespace

QString sizeText(std::size_t bytes)
{
    const QLocale locale;
    return QStringLiteral("%1 Ko (%2 octets)")
        .arg(locale.toString(double(bytes) / 1000.0, 'f', 1), locale.toString(qulonglong(bytes)));
}

TExport::TExport(const doc::TGIFImage &document, int frame, Prompts prompts, QWidget *parent)
    : QDialog(parent)
    , mPrompts(std::move(prompts))
    , mFrame(std::max(0, frame))
    , mExporter(std::make_unique<doc::Exporter>(doc::TGIFImage(document)))
    , mCancel(std::make_shared<std::atomic<bool>>(false))
{
    setObjectName(QStringLiteral("TExport"));
    setWindowTitle(QStringLiteral("Exporter"));

    Niveau = new QComboBox(this);
    Niveau->setObjectName(QStringLiteral("Niveau"));
    Niveau->addItems({QStringLiteral("0 - Sans optimisation"), QStringLiteral("1 - Optimisé"),
                      QStringLiteral("2 - Optimisé plus")});
    Perte = new QSpinBox(this);
    Perte->setObjectName(QStringLiteral("Perte"));
    Perte->setRange(0, doc::kMaxLossy);
    Perte->setToolTip(QStringLiteral("0 : chaque pixel gardé ; plus haut, les couleurs peuvent dériver pour un fichier plus petit"));
    Couleurs = new QSpinBox(this);
    Couleurs->setObjectName(QStringLiteral("Couleurs"));
    Couleurs->setRange(2, 256);
    Tramage = new QComboBox(this);
    Tramage->setObjectName(QStringLiteral("Tramage"));
    Tramage->addItems({QStringLiteral("Aucun"), QStringLiteral("Floyd-Steinberg"), QStringLiteral("Ordonné")});
    Retirer = new QSpinBox(this);
    Retirer->setObjectName(QStringLiteral("Retirer"));
    Retirer->setRange(1, 9999);
    Retirer->setSpecialValueText(QStringLiteral("aucune"));
    Retirer->setPrefix(QStringLiteral("1 sur "));

    Taille = new QLabel(this);
    Taille->setObjectName(QStringLiteral("Taille"));
    QFont bold = Taille->font();
    bold.setBold(true);
    Taille->setFont(bold);

    Cible = new QSpinBox(this);
    Cible->setObjectName(QStringLiteral("Cible"));
    Cible->setRange(1, 1000000);
    Cible->setValue(100);
    Cible->setSuffix(QStringLiteral(" Ko"));
    Tenir = new QPushButton(this);
    Tenir->setObjectName(QStringLiteral("Tenir"));
    Sacrifices = new QLabel(this);
    Sacrifices->setObjectName(QStringLiteral("Sacrifices"));
    Sacrifices->setWordWrap(true);

    Apercu = new QLabel(this);
    Apercu->setObjectName(QStringLiteral("Apercu"));
    Apercu->setFixedSize(kPreviewWidth, kPreviewHeight);
    Apercu->setAlignment(Qt::AlignCenter);
    Apercu->setFrameShape(QFrame::StyledPanel);
    Images = new QListWidget(this);
    Images->setObjectName(QStringLiteral("Images"));
    Images->setMinimumHeight(120);

    Enregistrer = new QPushButton(QStringLiteral("&Enregistrer..."), this);
    Enregistrer->setObjectName(QStringLiteral("Enregistrer"));
    auto *fermer = new QPushButton(QStringLiteral("&Fermer"), this);
    fermer->setObjectName(QStringLiteral("Fermer"));

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("&Niveau :"), Niveau);
    form->addRow(QStringLiteral("&Perte :"), Perte);
    form->addRow(QStringLiteral("&Couleurs :"), Couleurs);
    form->addRow(QStringLiteral("&Tramage :"), Tramage);
    form->addRow(QStringLiteral("&Retirer une image :"), Retirer);
    auto *fit = new QHBoxLayout;
    fit->addWidget(Cible);
    fit->addWidget(Tenir, 1);
    // A row holding a layout gets no buddy of its own: the target field is the one "&sous" reaches.
    auto *fitLabel = new QLabel(QStringLiteral("Tenir &sous :"), this);
    fitLabel->setBuddy(Cible);
    form->addRow(fitLabel, fit);

    auto *left = new QVBoxLayout;
    left->addLayout(form);
    left->addWidget(Sacrifices);
    left->addStretch(1);
    left->addWidget(Taille);
    auto *right = new QVBoxLayout;
    right->addWidget(Apercu);
    right->addWidget(new QLabel(QStringLiteral("Octets par image :"), this));
    right->addWidget(Images, 1);
    auto *columns = new QHBoxLayout;
    columns->addLayout(left, 1);
    columns->addLayout(right);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Enregistrer);
    buttons->addWidget(fermer);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(columns, 1);
    layout->addLayout(buttons);

    setSettings(doc::ExportSettings{});
    const auto changed = [this] { settingsChanged(); };
    connect(Niveau, &QComboBox::currentIndexChanged, this, changed);
    connect(Perte, &QSpinBox::valueChanged, this, changed);
    connect(Couleurs, &QSpinBox::valueChanged, this, changed);
    connect(Tramage, &QComboBox::currentIndexChanged, this, changed);
    connect(Retirer, &QSpinBox::valueChanged, this, changed);
    const auto fitText = [this] { Tenir->setText(QStringLiteral("Tenir sous %1 Ko").arg(Cible->value())); };
    fitText();
    connect(Cible, &QSpinBox::valueChanged, this, fitText);
    connect(Tenir, &QPushButton::clicked, this, [this] { startFit(); });
    connect(Images, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0)
            mFrame = row;
        showPreview();
    });
    connect(Enregistrer, &QPushButton::clicked, this, [this] {
        if (save())
            accept();
    });
    connect(fermer, &QPushButton::clicked, this, &QDialog::reject);

    mWorker = std::thread([this] { workerLoop(); });
    settingsChanged();
}

TExport::~TExport()
{
    {
        std::lock_guard lock(mMutex);
        mQuit = true;
        mCancel->store(true);
    }
    mWake.notify_all();
    mWorker.join();
}

doc::ExportSettings TExport::settings() const
{
    doc::ExportSettings s;
    s.level = Niveau->currentIndex();
    s.lossy = Perte->value();
    s.colours = Couleurs->value();
    s.dither = Tramage->currentIndex() == 1   ? doc::Dithering::FloydSteinberg
               : Tramage->currentIndex() == 2 ? doc::Dithering::Ordered
                                              : doc::Dithering::None;
    s.dropEvery = Retirer->value() >= 2 ? Retirer->value() : 0;
    return doc::normalized(s);
}

void TExport::setSettings(const doc::ExportSettings &settings)
{
    applySettings(settings);
    settingsChanged();
}

void TExport::applySettings(const doc::ExportSettings &requested)
{
    const doc::ExportSettings s = doc::normalized(requested);
    mSetting = true;
    Niveau->setCurrentIndex(s.level);
    Perte->setValue(s.lossy);
    Couleurs->setValue(s.colours);
    Tramage->setCurrentIndex(s.dither == doc::Dithering::FloydSteinberg ? 1 : s.dither == doc::Dithering::Ordered ? 2 : 0);
    Retirer->setValue(s.dropEvery >= 2 ? s.dropEvery : 1);
    mSetting = false;
}

void TExport::updateEnabling()
{
    const doc::ExportSettings s = settings();
    // Colours drift only where the level-2 encoder chooses the codes; dithering only where colours are mapped.
    Perte->setEnabled(s.level == 2);
    Tramage->setEnabled(s.colours < 256 || s.dropEvery >= 2);
    Enregistrer->setEnabled(mCurrent != nullptr);
}

void TExport::settingsChanged()
{
    if (mSetting)
        return;
    ++mGeneration;
    mCurrent.reset();
    updateEnabling();
    if (mFitting) {
        // The search worked from the settings just left: it is given up.
        mFitting = false;
        Sacrifices->clear();
    }
    Taille->setText(QStringLiteral("Taille estimée : calcul en cours..."));
    post(Job{Job::Kind::Estimate, settings(), 0, mGeneration});
}

void TExport::startFit()
{
    ++mGeneration;
    mCurrent.reset();
    updateEnabling();
    mFitting = true;
    Sacrifices->setText(QStringLiteral("Recherche des réglages qui tiennent sous %1 Ko...").arg(Cible->value()));
    post(Job{Job::Kind::Fit, settings(), std::size_t(Cible->value()) * 1000, mGeneration});
}

void TExport::post(Job job)
{
    {
        std::lock_guard lock(mMutex);
        // The job under way works for settings no longer shown: it stops at its next frame.
        mCancel->store(true);
        mCancel = std::make_shared<std::atomic<bool>>(false);
        mPending = job;
    }
    mWake.notify_all();
}

void TExport::workerLoop()
{
    for (;;) {
        Job job;
        std::shared_ptr<std::atomic<bool>> cancel;
        {
            std::unique_lock lock(mMutex);
            mWake.wait(lock, [this] { return mQuit || mPending; });
            if (mQuit)
                return;
            job = *mPending;
            mPending.reset();
            cancel = mCancel;
        }
        QMetaObject::invokeMethod(this, [this] { emit computationStarted(); }, Qt::QueuedConnection);
        try {
            run(job, *cancel);
        } catch (const doc::ExportCancelled &) {
            QMetaObject::invokeMethod(this, [this] { emit computationCancelled(); }, Qt::QueuedConnection);
        } catch (const std::exception &e) {
            const QString text = QString::fromStdString(e.what());
            const quint64 generation = job.generation;
            QMetaObject::invokeMethod(
                this,
                [this, text, generation] {
                    if (generation == mGeneration)
                        Taille->setText(QStringLiteral("Taille estimée : impossible (%1)").arg(text));
                },
                Qt::QueuedConnection);
        }
    }
}

void TExport::run(const Job &job, const std::atomic<bool> &cancel)
{
    const quint64 generation = job.generation;
    if (job.kind == Job::Kind::Fit) {
        const doc::FitResult fit = mExporter->fitUnder(job.settings, job.target, &cancel);
        auto result = mExporter->exact(fit.settings, &cancel);
        QMetaObject::invokeMethod(
            this, [this, generation, fit, result] { showFit(generation, fit, result); }, Qt::QueuedConnection);
        return;
    }
    auto result = mExporter->cached(job.settings);
    if (!result) {
        // A figure at once from the sample, then the exact one.
        const std::size_t quick = mExporter->quickEstimate(job.settings, &cancel);
        QMetaObject::invokeMethod(
            this, [this, generation, quick] { showQuick(generation, quick); }, Qt::QueuedConnection);
        result = mExporter->exact(job.settings, &cancel);
    }
    QMetaObject::invokeMethod(
        this, [this, generation, result] { showExact(generation, result); }, Qt::QueuedConnection);
}

void TExport::showQuick(quint64 generation, std::size_t bytes)
{
    if (generation != mGeneration)
        return;
    Taille->setText(QStringLiteral("Taille estimée : environ %1, calcul exact en cours...").arg(sizeText(bytes)));
    emit estimateShown(qint64(bytes), false);
}

void TExport::showExact(quint64 generation, std::shared_ptr<const doc::ExportResult> result)
{
    if (generation != mGeneration)
        return;
    mCurrent = std::move(result);
    Taille->setText(QStringLiteral("Taille estimée : %1").arg(sizeText(mCurrent->size())));
    updateEnabling();

    // What the frames show is read back from the very bytes that would be saved.
    auto shown = std::make_shared<doc::TGIFImage>();
    std::istringstream in(std::string(mCurrent->bytes.begin(), mCurrent->bytes.end()));
    try {
        shown->LoadFromStream(in);
    } catch (const std::exception &) {
        shown->clear();
    }
    mShown = std::move(shown);
    mComposer = std::make_unique<doc::FrameComposer>(*mShown);

    const QLocale locale;
    const QSignalBlocker blocker(Images);
    Images->clear();
    for (std::size_t i = 0; i < mCurrent->frameBytes.size(); ++i)
        Images->addItem(QStringLiteral("Image %1 : %2 octets").arg(i + 1).arg(locale.toString(qulonglong(mCurrent->frameBytes[i]))));
    if (Images->count() > 0) {
        mFrame = std::min(mFrame, Images->count() - 1);
        Images->setCurrentRow(mFrame);
    }
    showPreview();
    emit estimateShown(qint64(mCurrent->size()), true);
}

void TExport::showFit(quint64 generation, const doc::FitResult &fit, std::shared_ptr<const doc::ExportResult> result)
{
    if (generation != mGeneration)
        return;
    const doc::ExportSettings before = settings();
    QStringList given;
    if (fit.settings.level > before.level)
        given << QStringLiteral("niveau %1").arg(fit.settings.level);
    if (fit.settings.lossy > before.lossy)
        given << QStringLiteral("perte %1").arg(fit.settings.lossy);
    if (fit.settings.colours < before.colours)
        given << QStringLiteral("%1 couleurs").arg(fit.settings.colours);
    if (fit.framesKept < fit.framesBefore)
        given << QStringLiteral("%1 images retirées sur %2").arg(fit.framesBefore - fit.framesKept).arg(fit.framesBefore);
    const int target = Cible->value();
    if (!fit.met)
        Sacrifices->setText(QStringLiteral("Impossible de tenir sous %1 Ko : le plus petit fichier trouvé fait %2 (%3).")
                                .arg(target)
                                .arg(sizeText(fit.size), given.join(QStringLiteral(", "))));
    else if (given.isEmpty())
        Sacrifices->setText(QStringLiteral("Le fichier tient déjà sous %1 Ko : rien n'a été sacrifié.").arg(target));
    else
        Sacrifices->setText(QStringLiteral("Pour tenir sous %1 Ko : %2.").arg(target).arg(given.join(QStringLiteral(", "))));

    mFitting = false;
    applySettings(fit.settings);
    ++mGeneration;
    showExact(mGeneration, std::move(result));
    emit fitFinished(fit.met);
}

void TExport::showPreview()
{
    if (!mComposer || mComposer->count() == 0) {
        Apercu->clear();
        return;
    }
    const doc::Picture picture = mComposer->ComposedFrame(std::clamp(mFrame, 0, mComposer->count() - 1));
    const QImage image = toImage(picture);
    const QSize room = Apercu->size() - QSize(4, 4);
    // Small animations are shown larger, pixel for pixel; larger ones fit the frame.
    const QImage shown = image.width() <= room.width() / 2 && image.height() <= room.height() / 2
                             ? image.scaled(image.size() * std::min(room.width() / image.width(), room.height() / image.height()))
                             : image.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    Apercu->setPixmap(QPixmap::fromImage(shown));
}

bool TExport::save()
{
    if (!mCurrent || !mPrompts.chooseSaveFile)
        return false;
    const QString path = mPrompts.chooseSaveFile();
    if (path.isEmpty())
        return false;
    try {
        doc::saveExport(*mCurrent, path.toStdString());
    } catch (const std::exception &e) {
        if (mPrompts.showError)
            mPrompts.showError(QString::fromStdString(e.what()));
        return false;
    }
    return true;
}

} // namespace dialogs
