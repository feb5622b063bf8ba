#pragma once

#include "video/video_import.h"

#include <QDialog>

#include <memory>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QRadioButton;
class QSlider;
class QSpinBox;
class QTimer;

namespace app {

/**
 * What to take from a clip: a preview, start and end (sliders and times), the rate, the size and
 * the colour reduction. It reads the clip through its own ClipReader for the preview.
 */
class VideoImportDialog : public QDialog
{
    Q_OBJECT

public:
    /** `clip` is an opened clip; the dialog keeps it for the preview. */
    VideoImportDialog(std::unique_ptr<video::ClipReader> clip, QWidget *parent = nullptr);
    ~VideoImportDialog() override;

    video::ImportSettings settings() const;
    /** The frame count and duration the current choices give. */
    QString summary() const;
    /** Shows the picture at `seconds` now (the sliders wait a moment before they ask for it). */
    void showPreviewAt(double seconds);

    QLabel *preview = nullptr;
    QLabel *clipFacts = nullptr;
    QSlider *startSlider = nullptr, *endSlider = nullptr;
    QDoubleSpinBox *startTime = nullptr, *endTime = nullptr;
    QSpinBox *fps = nullptr;
    QRadioButton *originalSize = nullptr, *chosenWidth = nullptr;
    QSpinBox *width = nullptr;
    QLabel *heightLabel = nullptr;
    QComboBox *reduction = nullptr;
    QLabel *summaryLabel = nullptr;

private:
    void startChanged(double seconds);
    void endChanged(double seconds);
    void refresh();

    std::unique_ptr<video::ClipReader> mClip;
    QTimer *mPreviewTimer = nullptr;
    double mPreviewAt = 0;
    bool mSyncing = false;
};

} // namespace app
