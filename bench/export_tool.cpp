// The export dialog's figures without the window (bench/export/run.sh): for a file opened as the
// editor opens it, a run of setting changes as a user makes them, each timed from the change to the
// quick figure and to the exact one, with the gap between the two and the size the save then
// writes; then "fit under" for the targets given.
//
// Usage: export_tool IN.gif [KB...]
#include "document/gif_export.h"
#include "document/open_document.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <filesystem>
#include <string>
#include <vector>

using namespace doc;

namespace {

double msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

const char *ditherName(Dithering d)
{
    return d == Dithering::FloydSteinberg ? "fs" : d == Dithering::Ordered ? "ordered" : "none";
}

std::string describe(const ExportSettings &s)
{
    char text[96];
    std::snprintf(text, sizeof text, "level %d lossy %d colours %d dither %s drop %d", s.level, s.lossy, s.colours,
                  ditherName(s.dither), s.dropEvery);
    return text;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: export_tool IN.gif [KB...]\n");
        return 2;
    }
    const auto openStart = std::chrono::steady_clock::now();
    Exporter exporter(openForEditing(argv[1]));
    std::fprintf(stderr, "opened in %.0f ms, %d frames\n", msSince(openStart), exporter.frameCount());
    const std::string saved = (std::filesystem::temp_directory_path() / ("export_tool-" + std::to_string(::getpid()) + ".gif")).string();

    struct Step {
        const char *change;
        void (*apply)(ExportSettings &);
    };
    const Step steps[] = {
        {"dialog opened", [](ExportSettings &) {}},
        {"lossy 20", [](ExportSettings &s) { s.lossy = 20; }},
        {"lossy 40", [](ExportSettings &s) { s.lossy = 40; }},
        {"lossy 80", [](ExportSettings &s) { s.lossy = 80; }},
        {"colours 128", [](ExportSettings &s) { s.colours = 128; }},
        {"colours 64", [](ExportSettings &s) { s.colours = 64; }},
        {"colours 16", [](ExportSettings &s) { s.colours = 16; }},
        {"colours 2", [](ExportSettings &s) { s.colours = 2; }},
        {"colours 32", [](ExportSettings &s) { s.colours = 32; }},
        {"dither fs", [](ExportSettings &s) { s.dither = Dithering::FloydSteinberg; }},
        {"dither ordered", [](ExportSettings &s) { s.dither = Dithering::Ordered; }},
        {"level 1", [](ExportSettings &s) { s.level = 1; }},
        {"level 0", [](ExportSettings &s) { s.level = 0; }},
        {"level 2, every 2nd dropped", [](ExportSettings &s) { s.level = 2; s.dropEvery = 2; }},
        {"every 3rd dropped", [](ExportSettings &s) { s.dropEvery = 3; }},
        {"every 4th dropped", [](ExportSettings &s) { s.dropEvery = 4; }},
        {"back to level 2 lossless", [](ExportSettings &s) { s = ExportSettings{}; }},
    };
    std::printf("%-28s %-46s %9s %11s %9s %11s %8s %6s\n", "change", "settings", "first ms", "first B", "exact ms",
                "exact B", "gap %", "saved");
    // The dialog shows the first figure as soon as it comes: what shows 200 ms after a change is
    // that figure when it came by then (the gap column then tells how far it is from the file).
    ExportSettings s;
    for (const Step &step : steps) {
        step.apply(s);
        const auto start = std::chrono::steady_clock::now();
        // As the dialog's worker: the cached file when there is one, else the quick figure, then the exact one.
        std::size_t first = 0;
        double firstMs = 0;
        if (auto known = exporter.cached(s)) {
            first = known->size();
            firstMs = msSince(start);
        } else {
            first = exporter.quickEstimate(s);
            firstMs = msSince(start);
        }
        const auto result = exporter.exact(s);
        const double exactMs = msSince(start);
        saveExport(*result, saved);
        const auto onDisk = std::filesystem::file_size(saved);
        std::printf("%-28s %-46s %9.0f %11zu %9.0f %11zu %8.2f %6s\n", step.change, describe(normalized(s)).c_str(), firstMs, first,
                    exactMs, result->size(), 100.0 * (double(first) - double(result->size())) / double(result->size()),
                    onDisk == result->size() ? "equal" : "DIFF");
    }

    for (int i = 2; i < argc; ++i) {
        const auto target = std::size_t(std::atof(argv[i]) * 1000.0);
        Exporter fresh(TGIFImage(exporter.document()));
        const auto start = std::chrono::steady_clock::now();
        int tried = 0;
        const FitResult fit = fresh.fitUnder(ExportSettings{}, target, nullptr, [&](const ExportSettings &) { ++tried; });
        const double ms = msSince(start);
        saveExport(*fresh.exact(fit.settings), saved);
        std::printf("fit under %s KB: %s, %zu bytes (saved %ju), %s, %d of %d frames kept, %d settings tried, %.0f ms\n",
                    argv[i], fit.met ? "met" : "NOT met", fit.size, std::uintmax_t(std::filesystem::file_size(saved)),
                    describe(fit.settings).c_str(), fit.framesKept, fit.framesBefore, tried, ms);
    }
    std::filesystem::remove(saved);
    return 0;
}
