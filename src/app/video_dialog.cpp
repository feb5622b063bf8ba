#include "video_dialog.h"

#include "picture_qimage.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace app {

namespace {

constexpr int kPreviewWidth = 320;
constexpr int kPreviewHeight = 240;
// Sliders count hundredths of a second.
constexpr double kSliderUnit = 100.0;

QString seconds(double s)
{
    return QLocale().toString(s, 'f', 2) + QStringLiteral(" s");
}

} // namespace

VideoImportDialog::VideoImportDialog(std::unique_ptr<video::ClipReader> clip, QWidget *parent)
    : QDialog(parent)
    , mClip(std::move(clip))
{
    setWindowTitle(QStringLiteral("Importer une vidéo"));
    const video::ClipInfo &info = mClip->info();
    const bool known = info.duration > 0;
    const double length = known ? info.duration : 0;

    preview = new QLabel(this);
    preview->setObjectName(QStringLiteral("preview"));
    preview->setFixedSize(kPreviewWidth, kPreviewHeight);
    preview->setAlignment(Qt::AlignCenter);
    preview->setStyleSheet(QStringLiteral("background: black"));

    QString facts = QStringLiteral("%1 × %2").arg(info.width).arg(info.height);
    if (known)
        facts += QStringLiteral(", ") + seconds(info.duration);
    if (info.frameRate > 0)
        facts += QStringLiteral(", %1 images/s").arg(QLocale().toString(info.frameRate, 'f', 2));
    clipFacts = new QLabel(facts, this);

    auto timeRow = [&](QSlider *&slider, QDoubleSpinBox *&spin, double value) {
        slider = new QSlider(Qt::Horizontal, this);
        slider->setRange(0, int(std::lround(length * kSliderUnit)));
        slider->setValue(int(std::lround(value * kSliderUnit)));
        spin = new QDoubleSpinBox(this);
        spin->setDecimals(2);
        spin->setRange(0, length);
        spin->setSingleStep(0.1);
        spin->setSuffix(QStringLiteral(" s"));
        spin->setValue(value);
        slider->setEnabled(known);
        spin->setEnabled(known);
        auto *row = new QHBoxLayout;
        row->addWidget(slider, 1);
        row->addWidget(spin);
        return row;
    };
    QHBoxLayout *startRow = timeRow(startSlider, startTime, 0);
    QHBoxLayout *endRow = timeRow(endSlider, endTime, length);

    fps = new QSpinBox(this);
    fps->setRange(video::kMinFps, video::kMaxFps);
    fps->setValue(10);

    originalSize = new QRadioButton(QStringLiteral("Taille d'origine (%1 × %2)").arg(info.width).arg(info.height), this);
    chosenWidth = new QRadioButton(QStringLiteral("Largeur :"), this);
    auto *sizeGroup = new QButtonGroup(this);
    sizeGroup->addButton(originalSize);
    sizeGroup->addButton(chosenWidth);
    originalSize->setChecked(true);
    width = new QSpinBox(this);
    width->setRange(1, 65535);
    width->setValue(std::min(info.width, 480));
    width->setEnabled(false);
    heightLabel = new QLabel(this);
    auto *widthRow = new QHBoxLayout;
    widthRow->addWidget(chosenWidth);
    widthRow->addWidget(width);
    widthRow->addWidget(heightLabel, 1);

    reduction = new QComboBox(this);
    reduction->addItem(QStringLiteral("Octree (256 couleurs)"), int(doc::ReductionMode::OctreeQuantize));
    reduction->addItem(QStringLiteral("Niveaux de gris"), int(doc::ReductionMode::GrayScale));
    reduction->addItem(QStringLiteral("Palette web (216 couleurs)"), int(doc::ReductionMode::WebSafeCube));

    summaryLabel = new QLabel(this);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Début :"), startRow);
    form->addRow(QStringLiteral("Fin :"), endRow);
    form->addRow(QStringLiteral("Images par seconde :"), fps);
    form->addRow(QStringLiteral("Taille :"), originalSize);
    form->addRow(QString(), widthRow);
    form->addRow(QStringLiteral("Réduction des couleurs :"), reduction);

    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("Annuler"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(preview, 0, Qt::AlignHCenter);
    layout->addWidget(clipFacts, 0, Qt::AlignHCenter);
    layout->addLayout(form);
    layout->addWidget(summaryLabel);
    layout->addWidget(buttons);

    // Decoding a preview can take a moment on clips with few key frames: wait for the slider to rest.
    mPreviewTimer = new QTimer(this);
    mPreviewTimer->setSingleShot(true);
    mPreviewTimer->setInterval(150);
    connect(mPreviewTimer, &QTimer::timeout, this, [this] { showPreviewAt(mPreviewAt); });

    connect(startSlider, &QSlider::valueChanged, this, [this](int v) { startChanged(v / kSliderUnit); });
    connect(endSlider, &QSlider::valueChanged, this, [this](int v) { endChanged(v / kSliderUnit); });
    connect(startTime, &QDoubleSpinBox::valueChanged, this, [this](double v) { startChanged(v); });
    connect(endTime, &QDoubleSpinBox::valueChanged, this, [this](double v) { endChanged(v); });
    connect(fps, &QSpinBox::valueChanged, this, [this] { refresh(); });
    connect(width, &QSpinBox::valueChanged, this, [this] { refresh(); });
    connect(chosenWidth, &QRadioButton::toggled, this, [this](bool on) {
        width->setEnabled(on);
        refresh();
    });

    refresh();
    showPreviewAt(0);
}

VideoImportDialog::~VideoImportDialog() = default;

void VideoImportDialog::startChanged(double s)
{
    if (mSyncing)
        return;
    mSyncing = true;
    startTime->setValue(s);
    startSlider->setValue(int(std::lround(s * kSliderUnit)));
    // The end stays after the start.
    if (endTime->isEnabled() && endTime->value() <= s) {
        const double end = std::min(endTime->maximum(), s + 0.1);
        endTime->setValue(end);
        endSlider->setValue(int(std::lround(end * kSliderUnit)));
    }
    mSyncing = false;
    mPreviewAt = s;
    mPreviewTimer->start();
    refresh();
}

void VideoImportDialog::endChanged(double s)
{
    if (mSyncing)
        return;
    mSyncing = true;
    endTime->setValue(s);
    endSlider->setValue(int(std::lround(s * kSliderUnit)));
    if (startTime->value() >= s) {
        const double start = std::max(0.0, s - 0.1);
        startTime->setValue(start);
        startSlider->setValue(int(std::lround(start * kSliderUnit)));
    }
    mSyncing = false;
    // The last picture taken is the one just before the end.
    mPreviewAt = std::max(0.0, s - 1.0 / fps->value());
    mPreviewTimer->start();
    refresh();
}

video::ImportSettings VideoImportDialog::settings() const
{
    video::ImportSettings s;
    s.start = startTime->value();
    s.end = endTime->isEnabled() ? endTime->value() : 0;
    s.fps = fps->value();
    s.width = chosenWidth->isChecked() ? width->value() : 0;
    s.mode = doc::ReductionMode(reduction->currentData().toInt());
    return s;
}

QString VideoImportDialog::summary() const
{
    const video::ImportSettings s = settings();
    const long long n = video::frameCount(mClip->info(), s);
    if (n < 0)
        return QStringLiteral("Jusqu'à la fin de la vidéo");
    video::DelayClock clock(s.fps);
    long long hundredths = 0;
    for (long long k = 0; k < n; ++k)
        hundredths += clock.next();
    return QStringLiteral("%1 image(s), %2").arg(n).arg(seconds(hundredths / 100.0));
}

void VideoImportDialog::refresh()
{
    int w = 0, h = 0;
    video::outputSize(mClip->info(), width->value(), w, h);
    heightLabel->setText(QStringLiteral("× %1").arg(h));
    summaryLabel->setText(summary());
}

void VideoImportDialog::showPreviewAt(double at)
{
    const video::ClipInfo &info = mClip->info();
    const double scale = std::min(double(kPreviewWidth) / info.width, double(kPreviewHeight) / info.height);
    const int w = std::max(1, int(std::lround(info.width * scale)));
    const int h = std::max(1, int(std::lround(info.height * scale)));
    try {
        preview->setPixmap(QPixmap::fromImage(toQImage(mClip->pictureAt(at, w, h))));
    } catch (const std::exception &) {
        preview->setText(QStringLiteral("Aperçu indisponible"));
    }
}

} // namespace app
