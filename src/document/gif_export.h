#pragma once

#include "gif_image.h"
#include "quantize_quality.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace doc {

/** What an export writes: how hard it optimises, how far colours may drift, how many colours, which frames. */
struct ExportSettings {
    /** 0 the plain save, 1 the optimised save, 2 every frame rewritten as what changes on screen. */
    int level = 2;
    /** 0-200, level 2 only: colours may drift by up to this much where that shortens the codes. */
    int lossy = 0;
    /** 2-256. Below 256 every frame is composed and mapped onto one palette of this many colours. */
    int colours = 256;
    /** How pixels are mapped when colours are reduced (only then). */
    Dithering dither = Dithering::None;
    /** 0 keeps every frame; n >= 2 drops every n-th one, its delay going to the frame before. */
    int dropEvery = 0;

    friend bool operator==(const ExportSettings &, const ExportSettings &) = default;
    friend auto operator<=>(const ExportSettings &, const ExportSettings &) = default;
};

/** The settings brought into range: level 0-2, lossy 0-200 (0 below level 2), colours 2-256, drop 0 or 2+. */
ExportSettings normalized(ExportSettings settings);

/** Thrown by an export whose cancel flag was raised: it stopped between two frames. */
struct ExportCancelled : std::runtime_error {
    ExportCancelled()
        : std::runtime_error("export cancelled")
    {
    }
};

/** The file an export writes, with what each frame of it costs. */
struct ExportResult {
    ExportSettings settings;
    /** The GIF file, byte for byte as saving writes it. */
    std::vector<uint8_t> bytes;
    /** The bytes each image of the file takes (its extensions, descriptor, table and data). */
    std::vector<std::size_t> frameBytes;

    std::size_t size() const { return bytes.size(); }
};

/** The bytes each image of a GIF file takes: extensions before it, descriptor, local table, data. */
std::vector<std::size_t> gifFrameBytes(const std::vector<uint8_t> &file);

/**
 * The document with every frame composed as a viewer shows it and mapped onto one palette of at
 * most `colours` colours (the exact colours when they fit), every `dropEvery`-th frame left out and
 * its delay added to the frame before. Stops with ExportCancelled between frames once `cancel` is
 * set.
 */
TGIFImage composedCopy(const TGIFImage &document, int colours, Dithering dither, int dropEvery,
                       const std::atomic<bool> *cancel = nullptr);

/** The file the settings make of the document; stops with ExportCancelled between frames once `cancel` is set. */
ExportResult exportCopy(const TGIFImage &document, const ExportSettings &settings, const std::atomic<bool> *cancel = nullptr);

/** Writes the result's bytes to a file, replacing it only once complete. */
void saveExport(const ExportResult &result, const std::string &path);

/** Frames of a document cut down to what they change, kept for quick estimates (gif_export.cpp). */
struct FrameSample;
/** Every composed frame of a document as rows, each distinct row held once (gif_export.cpp). */
struct FrameRows;

/** What "fit under N KB" found: the settings, the size they give and what was given up for it. */
struct FitResult {
    ExportSettings settings;
    std::size_t size = 0;
    bool met = false;
    /** The frames the file keeps, and how many the document has. */
    int framesKept = 0;
    int framesBefore = 0;
};

/**
 * Exports of one document, kept so that a change of settings reuses what did not change: the
 * colour-reduced frames per colours, dither and dropping, and the recent results. Used by one
 * thread at a time; the document is copied in and never changes.
 */
class Exporter
{
public:
    explicit Exporter(TGIFImage document);

    const TGIFImage &document() const { return *mDocument; }

    /** The exact result of the settings (normalised), from the cache when it was made before. */
    std::shared_ptr<const ExportResult> exact(const ExportSettings &settings, const std::atomic<bool> *cancel = nullptr);
    /** The cached exact result, or nullptr. */
    std::shared_ptr<const ExportResult> cached(const ExportSettings &settings) const;

    /**
     * A size for the settings at a fraction of the exact work: the exact size when known or
     * cheap, else sampledEstimate().
     */
    std::size_t quickEstimate(const ExportSettings &settings, const std::atomic<bool> *cancel = nullptr);

    /**
     * The size from a sample of frames, whatever the document's size: the first frame whole, the
     * frames that change most and a spread of the others, each exported where it differs from
     * the frame before, with that frame before it; as many of the spread as about a tenth of a
     * second allows. Each part of the nearest exact file known (first frame, largest, others)
     * is scaled by how the same part of the sample changed between its settings and these;
     * without one, the sample is extrapolated to every frame.
     */
    std::size_t sampledEstimate(const ExportSettings &settings, const std::atomic<bool> *cancel = nullptr);

    /**
     * Settings that make the file at most maxBytes: from `start`, level 2 when it is not already,
     * then the lowest lossy value that fits (by bisection), then fewer colours (halving, with the
     * lowest lossy again), then dropping every n-th frame with n as large as fits. When nothing
     * fits, the smallest tried. `onStep`, when given, hears each settings tried.
     */
    FitResult fitUnder(const ExportSettings &start, std::size_t maxBytes, const std::atomic<bool> *cancel = nullptr,
                       const std::function<void(const ExportSettings &)> &onStep = {});

    /** Frames of the document as a viewer shows them (the frames an export starts from). */
    int frameCount() const { return mFrames; }

private:
    std::shared_ptr<const TGIFImage> source(const ExportSettings &s, const std::atomic<bool> *cancel);
    /**
     * The sample's exports at some settings: per job the bytes of the frame it stands for (-1 while
     * not exported), the header and table of the file, how its jobs split.
     */
    struct SampleRun {
        std::vector<long long> bytes;
        double header = 0;
        int layout = 0;
        std::size_t fixed = 1;  // the first frame and the largest, which stand for themselves
        std::size_t others = 0; // the frames the rest of the jobs stand for
        std::vector<int> frames; // each job's frame in a file that keeps the sample's frames
    };
    /**
     * Runs the jobs of the sample for `sampleDrop`, laid out as `layout`, at each of the
     * settings, one job at all of them before the next; past the first few, only until budgetMs
     * after `start`.
     */
    std::vector<SampleRun *> sampleRuns(const std::vector<ExportSettings> &settings, int sampleDrop, int layout,
                                        std::chrono::steady_clock::time_point start, double budgetMs,
                                        const std::atomic<bool> *cancel);
    FrameSample &sample(int dropEvery, const std::atomic<bool> *cancel);
    void remember(std::shared_ptr<const ExportResult> result);

    std::shared_ptr<const TGIFImage> mDocument;
    int mFrames = 0;
    // The reduced documents by colours, dither and dropping; only the most recent few are held.
    std::vector<std::pair<ExportSettings, std::shared_ptr<const TGIFImage>>> mSources;
    std::vector<std::shared_ptr<const ExportResult>> mResults;
    std::map<ExportSettings, std::size_t> mSizes;
    // The samples of the quick estimate, by dropping, and the sizes they gave by settings.
    std::map<int, std::shared_ptr<FrameSample>> mSamples;
    // The frames the first sample composed, when they fit in memory: the samples for other
    // frames dropped are cut from them instead of composing the animation again.
    std::shared_ptr<const FrameRows> mRows;
    struct RunKey {
        ExportSettings settings;
        int sampleDrop = 0;
        int layout = 0;
        friend auto operator<=>(const RunKey &, const RunKey &) = default;
    };
    std::map<RunKey, SampleRun> mSampleRuns;
    std::map<ExportSettings, std::vector<std::size_t>> mFrameSizes; // each frame's bytes of the files made
};

} // namespace doc
