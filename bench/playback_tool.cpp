// Plays a GIF in the animated view for a while and reports the process's CPU use and how far the
// frames land from their times (bench/peers/playback.sh and bench/long/playback.sh run it offscreen
// and under Xvfb). The file is opened as the window opens it (every frame the full picture).
//
// Usage: playback_tool FILE.gif [SECONDS] [DELAY]
//   SECONDS  how long to play (default 10)
//   DELAY    hundredths of a second to give every frame (default: the file's own delays)
// Prints one line of key=value figures, times in ms: step_err is each interval against its nominal
// 12 ms a hundredth, sched_late each frame against the time the schedule set for it (its half
// compensation of lateness included), drift the timeline against the ideal one; cpu_percent is the
// process's user and system time over the playback (every thread) against its wall time, and
// peak_rss_mb the process's peak resident memory.

#include "app/animation_view.h"
#include "app/playback_core.h"
#include "document/gif_image.h"
#include "document/open_document.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double peakRssMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size() - 1) + 0.5))];
}

} // namespace

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: playback_tool FILE.gif [SECONDS] [DELAY]\n");
        return 2;
    }
    const double seconds = argc > 2 ? std::atof(argv[2]) : 10.0;
    const int delay = argc > 3 ? std::atoi(argv[3]) : -1;

    doc::TGIFImage image;
    try {
        image = doc::openForEditing(argv[1]);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "cannot read %s: %s\n", argv[1], e.what());
        return 1;
    }
    for (int i = 0; i < image.count(); ++i) {
        doc::TGIFSubImage &frame = image.frame(i);
        if (!frame.graphicControl())
            frame.addGraphicControl();
        if (delay >= 0)
            frame.graphicControl()->delay = uint16_t(delay);
    }

    app::AnimationView view;
    view.setDocument(&image);
    view.show();

    // Times at which each frame had been drawn, painted and announced.
    std::vector<qint64> shown;
    std::vector<int> frames;
    shown.reserve(4096);
    frames.reserve(4096);
    QElapsedTimer clock;
    QObject::connect(&view, &app::AnimationView::afterPaint, &view, [&](int index) {
        shown.push_back(clock.nsecsElapsed());
        frames.push_back(index);
    });

    double cpuStart = 0;
    QTimer::singleShot(200, &view, [&] { // let the window settle first
        cpuStart = cpuSeconds();
        clock.start();
        view.play();
        QTimer::singleShot(int(seconds * 1000), &view, [&] {
            view.stop();
            application.quit();
        });
    });
    application.exec();
    const double cpu = cpuSeconds() - cpuStart;
    const double wall = double(clock.nsecsElapsed()) / 1e9;

    // Each step against its nominal length (12 ms a counted hundredth), and the whole timeline
    // against the ideal one that starts with the first frame.
    app::PlaybackRun run(image);
    std::vector<double> stepError;
    double ideal = 0;
    double maxDrift = 0;
    for (std::size_t k = 1; k < shown.size(); ++k) {
        const double nominal = double(app::kMsPerHundredth * run.delay(frames[k - 1]));
        const double step = double(shown[k] - shown[k - 1]) / 1e6;
        stepError.push_back(std::abs(step - nominal));
        ideal += nominal;
        maxDrift = std::max(maxDrift, std::abs(double(shown[k] - shown[0]) / 1e6 - ideal));
    }
    // Each frame against the time the schedule gave it: the schedule is replayed on the shown
    // times (the moment the view had drawn each frame, a little after its timer fired).
    app::PlaybackSchedule schedule(image);
    std::vector<double> lateness;
    if (!shown.empty()) {
        app::PlaybackSchedule::Step step = schedule.start(shown[0] / 1000000);
        double due = double(shown[0]) / 1e6 + double(step.wait);
        for (std::size_t k = 1; k < shown.size() && step.hasNext; ++k) {
            const double at = double(shown[k]) / 1e6;
            lateness.push_back(std::abs(at - due));
            step = schedule.tick(shown[k] / 1000000);
            due = at + double(step.wait);
        }
    }
    const double finalDrift = shown.size() > 1 ? double(shown.back() - shown[0]) / 1e6 - ideal : 0;
    double mean = 0;
    for (double e : stepError)
        mean += e;
    mean = stepError.empty() ? 0 : mean / double(stepError.size());

    std::printf("platform=%s frames_shown=%zu wall_s=%.2f cpu_percent=%.1f "
                "step_err_mean_ms=%.2f step_err_p95_ms=%.2f step_err_max_ms=%.2f "
                "sched_late_p50_ms=%.2f sched_late_p95_ms=%.2f sched_late_max_ms=%.2f "
                "drift_final_ms=%.1f drift_max_ms=%.1f peak_rss_mb=%.0f\n",
                qPrintable(QGuiApplication::platformName()), shown.size(), wall, 100.0 * cpu / wall, mean,
                percentile(stepError, 0.95), stepError.empty() ? 0.0 : *std::max_element(stepError.begin(), stepError.end()),
                percentile(lateness, 0.5), percentile(lateness, 0.95),
                lateness.empty() ? 0.0 : *std::max_element(lateness.begin(), lateness.end()), finalDrift, maxDrift,
                peakRssMb());
    view.setDocument(nullptr);
    return 0;
}
