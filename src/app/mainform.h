#pragma once

#include <QMainWindow>

#include <array>

class QLabel;

namespace app {

/** The editor's main window. */
class TMainform : public QMainWindow
{
    Q_OBJECT

public:
    explicit TMainform(QWidget *parent = nullptr);

    static constexpr int statusPanelCount = 5;
    /** Panel i of the status bar (0: hints, 1: progress, 2: frame count, 3: size, 4: load time). */
    QLabel *statusPanel(int i) const { return mPanels[std::size_t(i)]; }

    static const QString restingHint;

private:
    void createStatusBar();

    std::array<QLabel *, statusPanelCount> mPanels{};
};

} // namespace app
