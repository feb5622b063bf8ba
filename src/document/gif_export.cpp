#include "gif_export.h"

#include "atomic_file.h"
#include "composer.h"
#include "gif_optimize.h"
#include "gif_optimize_deep.h"
#include "lzw_tuned.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <tuple>
#include <numeric>
#include <optional>
#include <limits>
#include <sstream>

namespace doc {

namespace {

void checkpoint(const std::atomic<bool> *cancel)
{
    if (cancel && cancel->load(std::memory_order_relaxed))
        throw ExportCancelled();
}

// The frames the composer draws are the document's frames with an image, in order.
std::vector<const TGIFSubImage *> imageFrames(const TGIFImage &document)
{
    std::vector<const TGIFSubImage *> frames;
    for (int i = 0; i < document.count(); ++i)
        if (document.frame(i).hasPixels() && document.frame(i).pixelsCoverFrame())
            frames.push_back(&document.frame(i));
    return frames;
}

bool dropped(int index, int dropEvery)
{
    return dropEvery >= 2 && (index + 1) % dropEvery == 0;
}

/** The bytes of the loop setting: extension and label, the application's name, the count's block and the end. */
constexpr double kLoopBytes = 2 + 1 + 11 + 4 + 1;

const TGIFAppExtNSLoop *loopOf(const TGIFImage &document)
{
    for (int i = 0; i < document.count(); ++i)
        for (int e = 0; e < document.frame(i).extensionCount(); ++e)
            if (auto *loop = extension_cast<TGIFAppExtNSLoop>(document.frame(i).extension(e)))
                return loop;
    return nullptr;
}

std::size_t skipSubBlocks(const std::vector<uint8_t> &f, std::size_t p)
{
    while (p < f.size() && f[p] != 0)
        p += std::size_t(f[p]) + 1;
    return std::min(p + 1, f.size());
}

/** The palette of at most `colours` colours, one entry left for transparency where pixels are unpainted. */
std::vector<Rgb> paletteOf(const ColorHistogram &histogram, int colours, bool unpainted)
{
    const int budget = std::max(1, colours - (unpainted ? 1 : 0));
    std::vector<Rgb> palette = histogram.fewColors();
    if (palette.empty() || int(palette.size()) > budget)
        palette = histogram.bestPalette(budget);
    return palette;
}

/** The palette padded to a table's size (at least 2), with room for the transparent entry. */
std::vector<Rgb> tableOf(const std::vector<Rgb> &palette, bool unpainted)
{
    std::vector<Rgb> table = palette;
    std::size_t size = 2;
    while (size < palette.size() + (unpainted ? 1 : 0))
        size *= 2;
    table.resize(size, Rgb{});
    return table;
}

/** A picture's indices on the mapper's palette; pixels no frame painted take the transparent index. */
std::vector<uint8_t> indicesOf(const PaletteMapper &mapper, const Picture &picture, const std::vector<uint8_t> &covered,
                               Dithering dither, int transparentIndex)
{
    std::vector<uint8_t> indices = std::move(mapper.map(picture, dither).data());
    if (transparentIndex >= 0)
        for (std::size_t p = 0; p < indices.size(); ++p)
            if (!covered[p])
                indices[p] = uint8_t(transparentIndex);
    return indices;
}

} // namespace

ExportSettings normalized(ExportSettings s)
{
    s.level = std::clamp(s.level, 0, 2);
    s.lossy = s.level == 2 ? std::clamp(s.lossy, 0, kMaxLossy) : 0;
    s.colours = std::clamp(s.colours, 2, 256);
    if (s.colours == 256 && s.dropEvery < 2)
        s.dither = Dithering::None; // nothing is reduced: the dithering changes nothing
    s.dropEvery = s.dropEvery >= 2 ? s.dropEvery : 0;
    return s;
}

std::vector<std::size_t> gifFrameBytes(const std::vector<uint8_t> &f)
{
    std::vector<std::size_t> frames;
    if (f.size() < 13)
        return frames;
    std::size_t p = 13;
    if (f[10] & 0x80)
        p += 3u << ((f[10] & 7) + 1);
    std::size_t start = p;
    while (p < f.size()) {
        const uint8_t kind = f[p];
        if (kind == 0x21 && p + 1 < f.size()) {
            p = skipSubBlocks(f, p + 2);
        } else if (kind == 0x2C && p + 10 <= f.size()) {
            const uint8_t packed = f[p + 9];
            p += 10;
            if (packed & 0x80)
                p += 3u << ((packed & 7) + 1);
            p = skipSubBlocks(f, std::min(p + 1, f.size()));
            frames.push_back(p - start);
            start = p;
        } else {
            break; // the trailer (or damage): what follows belongs to no frame
        }
    }
    return frames;
}

TGIFImage composedCopy(const TGIFImage &document, int colours, Dithering dither, int dropEvery,
                       const std::atomic<bool> *cancel)
{
    const std::vector<const TGIFSubImage *> sources = imageFrames(document);
    FrameComposer composer(document);
    composer.setTrackCoverage(true);
    const int n = std::min(composer.count(), int(sources.size()));
    const int W = composer.width(), H = composer.height();
    TGIFImage out;
    out.header.width = document.header.width;
    out.header.height = document.header.height;
    if (n == 0 || W <= 0 || H <= 0)
        return out;

    // What stays, and the delay each shows for: a dropped frame's time goes to the frame before.
    struct Kept {
        int frame;
        uint32_t delay;
        bool userInput;
    };
    std::vector<Kept> kept;
    for (int k = 0; k < n; ++k) {
        const TGIFGraphicControlExtension *g = sources[std::size_t(k)]->graphicControl();
        const uint32_t delay = g ? g->delay : 0;
        if (dropped(k, dropEvery) && !kept.empty())
            kept.back().delay += delay;
        else
            kept.push_back(Kept{k, delay, g && g->userInput()});
    }

    // Pass one: the colours of every frame kept, whether any pixel is left unpainted, and which
    // frames leave unpainted a pixel the frame before painted: only the frame before those must
    // clear itself, the others are kept under the next one, which the optimiser can then cut to
    // what changed.
    ColorHistogram histogram;
    bool unpainted = false;
    std::vector<uint8_t> previousCovered;
    std::vector<bool> clearsBefore(kept.size(), false);
    for (std::size_t i = 0, next = 0; int(i) < n && next < kept.size(); ++i) {
        checkpoint(cancel);
        const Picture composed = composer.ComposedFrame(int(i));
        if (int(i) != kept[next].frame)
            continue;
        histogram.add(composed);
        const std::vector<uint8_t> &covered = composer.coverage();
        const bool holes = std::find(covered.begin(), covered.end(), uint8_t(0)) != covered.end();
        unpainted = unpainted || holes;
        if (next > 0 && holes) {
            std::size_t p = 0;
            while (p < covered.size() && (covered[p] || !previousCovered[p]))
                ++p;
            clearsBefore[next] = p < covered.size();
        }
        previousCovered = covered;
        ++next;
    }
    const std::vector<Rgb> palette = paletteOf(histogram, colours, unpainted);
    const int transparentIndex = unpainted ? int(palette.size()) : -1;
    out.header.colorMap.entries = tableOf(palette, unpainted);

    // Pass two: each frame kept mapped onto the palette (beside the composition of the next ones),
    // placed whole with the palette as the global table.
    // One mapper for every frame: the nearest entries found for one frame serve the next ones.
    const PaletteMapper mapper(palette);
    // Error diffusion carries a change on into pixels that did not change, and the frame would
    // differ all over from the one before. Where a frame keeps enough of the one before, it is that
    // frame with the rectangle that changed dithered again (unchanged pixels keep their index); in
    // order, since it needs the frame before. Frames with holes are dithered whole.
    const bool onlyChanges = dither == Dithering::FloydSteinberg && !unpainted;
    struct Mapped {
        std::vector<uint8_t> indices;
        std::optional<ChangedRect> changes; // then the indices are still to be made from the frame before
    };
    auto map = [&mapper, dither, transparentIndex](std::shared_ptr<const Picture> picture, std::shared_ptr<const Picture> before,
                                                   const std::vector<uint8_t> &covered) {
        if (before)
            if (auto changes = changesToDither(*before, *picture))
                return Mapped{{}, changes};
        return Mapped{indicesOf(mapper, *picture, covered, dither, transparentIndex), std::nullopt};
    };
    auto append = [&](const Kept &k, std::vector<uint8_t> indices) {
        TGIFSubImage frame;
        frame.width = uint16_t(W);
        frame.height = uint16_t(H);
        frame.setPixels(std::move(indices));
        TGIFGraphicControlExtension *g = frame.addGraphicControl();
        g->delay = uint16_t(std::min<uint32_t>(k.delay, 0xFFFF));
        g->setUserInput(k.userInput);
        // Whole frames with holes: a frame clears itself where the next leaves unpainted what it
        // painted, so that it does not show through.
        const std::size_t at = std::size_t(out.count());
        g->setDisposal(unpainted && at + 1 < kept.size() && clearsBefore[at + 1] ? 2 : 1);
        if (unpainted) {
            g->setTransparent(true);
            g->transparentIndex = uint8_t(transparentIndex);
        }
        TGIFSubImage &added = out.appendFrame(std::move(frame));
        if (out.count() == 1)
            if (const TGIFAppExtNSLoop *loop = loopOf(document))
                added.insertExtension(0, loop->clone());
    };
    FrameComposer again(document);
    again.setTrackCoverage(true);
    struct Pending {
        std::future<Mapped> mapped;
        std::shared_ptr<const Picture> picture, before;
    };
    std::deque<Pending> mapping;
    std::size_t appended = 0;
    Picture last(W, H, PixelFormat::Indexed8); // the frame appended last, while only changes are dithered
    auto appendFront = [&] {
        Pending p = std::move(mapping.front());
        mapping.pop_front();
        Mapped m = p.mapped.get();
        if (m.changes) {
            const ChangedRect &r = *m.changes;
            mapper.ditherChanges(*p.picture, *p.before, last, r.x, r.y, r.w, r.h);
            m.indices = last.data();
        } else if (onlyChanges) {
            last.data() = m.indices;
        }
        append(kept[appended++], std::move(m.indices));
    };
    try {
        std::shared_ptr<const Picture> before;
        for (std::size_t i = 0, next = 0; int(i) < n && next < kept.size(); ++i) {
            checkpoint(cancel);
            auto composed = std::make_shared<const Picture>(again.ComposedFrame(int(i)));
            if (int(i) != kept[next].frame)
                continue;
            ++next;
            mapping.push_back(Pending{std::async(std::launch::async, map, composed, before, again.coverage()), composed, before});
            if (onlyChanges)
                before = composed;
            while (mapping.size() > 2)
                appendFront();
        }
        while (!mapping.empty())
            appendFront();
    } catch (...) {
        for (auto &m : mapping)
            m.mapped.wait();
        throw;
    }
    return out;
}

ExportResult exportCopy(const TGIFImage &document, const ExportSettings &requested, const std::atomic<bool> *cancel)
{
    const ExportSettings s = normalized(requested);
    ExportResult result;
    result.settings = s;
    if (s.colours < 256 || s.dropEvery >= 2) {
        const TGIFImage reduced = composedCopy(document, s.colours, s.dither, s.dropEvery, cancel);
        ExportSettings rest = s;
        rest.colours = 256;
        rest.dropEvery = 0;
        result.bytes = exportCopy(reduced, rest, cancel).bytes;
        result.frameBytes = gifFrameBytes(result.bytes);
        return result;
    }
    checkpoint(cancel);
    std::ostringstream stream;
    if (s.level == 0) {
        document.SaveToStream(stream);
    } else if (s.level == 1) {
        optimizedCopy(document).SaveToStream(stream);
    } else {
        DeepOptions options;
        options.lossy = s.lossy;
        const TGIFImage copy = deepOptimizedCopy(document, options, [cancel] { checkpoint(cancel); });
        checkpoint(cancel);
        copy.SaveToStream(stream);
    }
    const std::string bytes = std::move(stream).str();
    result.bytes.assign(bytes.begin(), bytes.end());
    result.frameBytes = gifFrameBytes(result.bytes);
    return result;
}

void saveExport(const ExportResult &result, const std::string &path)
{
    writeFileAtomically(path, [&](std::ostream &stream) {
        stream.write(reinterpret_cast<const char *>(result.bytes.data()), std::streamsize(result.bytes.size()));
    });
}

Exporter::Exporter(TGIFImage document)
    : mDocument(std::make_shared<const TGIFImage>(std::move(document)))
{
    mFrames = int(imageFrames(*mDocument).size());
}

std::shared_ptr<const ExportResult> Exporter::cached(const ExportSettings &settings) const
{
    const ExportSettings s = normalized(settings);
    for (const auto &r : mResults)
        if (r->settings == s)
            return r;
    return nullptr;
}

void Exporter::remember(std::shared_ptr<const ExportResult> result)
{
    // Whole files are kept for the last few settings; sizes for all of them.
    constexpr std::size_t kKept = 6;
    mSizes[result->settings] = result->size();
    mFrameSizes[result->settings] = result->frameBytes;
    mResults.insert(mResults.begin(), std::move(result));
    if (mResults.size() > kKept)
        mResults.pop_back();
}

std::shared_ptr<const TGIFImage> Exporter::source(const ExportSettings &s, const std::atomic<bool> *cancel)
{
    if (s.colours == 256 && s.dropEvery < 2)
        return mDocument;
    ExportSettings key;
    key.colours = s.colours;
    key.dither = s.dither;
    key.dropEvery = s.dropEvery;
    for (std::size_t i = 0; i < mSources.size(); ++i)
        if (mSources[i].first == key) {
            auto found = mSources[i];
            mSources.erase(mSources.begin() + std::ptrdiff_t(i));
            mSources.insert(mSources.begin(), found);
            return found.second;
        }
    auto made = std::make_shared<const TGIFImage>(composedCopy(*mDocument, s.colours, s.dither, s.dropEvery, cancel));
    constexpr std::size_t kKept = 3;
    mSources.insert(mSources.begin(), {key, made});
    if (mSources.size() > kKept)
        mSources.pop_back();
    return made;
}

std::shared_ptr<const ExportResult> Exporter::exact(const ExportSettings &settings, const std::atomic<bool> *cancel)
{
    const ExportSettings s = normalized(settings);
    if (auto known = cached(s))
        return known;
    const std::shared_ptr<const TGIFImage> from = source(s, cancel);
    // The reduced document is already reduced: the export only optimises it.
    ExportSettings rest = s;
    rest.colours = 256;
    rest.dropEvery = 0;
    auto result = std::make_shared<ExportResult>(exportCopy(*from, rest, cancel));
    result->settings = s;
    remember(result);
    return result;
}

/**
 * A frame of the quick estimate's sample, the frame kept before it and where the two differ.
 * Both are held whole: the plain save writes frames whole, and Floyd–Steinberg carries a
 * change along the rows and down to the bottom.
 */
struct SamplePiece {
    struct Box {
        int x0 = std::numeric_limits<int>::max(), y0 = std::numeric_limits<int>::max(), x1 = -1, y1 = -1; // inclusive
        void add(int x, int y)
        {
            x0 = std::min(x0, x);
            x1 = std::max(x1, x);
            y0 = std::min(y0, y);
            y1 = std::max(y1, y);
        }
        int width() const { return x1 - x0 + 1; }
        int height() const { return y1 - y0 + 1; }
    };
    int frame = 0;    // among the frames kept
    int changing = 0; // among the frames kept after the first that change
    Box changed;      // screen coordinates, inclusive
    std::size_t changedPixels = 0;
    // Both pictures where they differ, rounded out to the 8 × 8 grid of ordered dithering.
    Picture before, after;
    std::vector<uint8_t> coveredBefore, coveredAfter;
    // Some pieces of the spread hold both pictures whole, for the plain save, which writes
    // frames whole, and for Floyd–Steinberg, which carries a change along the rows and down.
    bool whole = false;
    // Cut from the rows kept when a layout first needs them, if the frames came from there.
    int wholeFrames[2] = {-1, -1};
    mutable Picture wholeBefore, wholeAfter;
    mutable std::vector<uint8_t> wholeCoveredBefore, wholeCoveredAfter;
    // When frames are dropped, the frame dropped between the two (the box covers its changes
    // too): with it the piece says what the same stretch costs when every frame is kept.
    bool hasMiddle = false;
    Picture middle;
    std::vector<uint8_t> coveredMiddle;
    // While the sample is made, where the pictures are to be cut from the rows kept (frames before,
    // after, dropped between; -1 for none): only the pieces it keeps in the end are cut.
    int cutFrames[3] = {-1, -1, -1};
    Box cut;
};

struct FrameRows {
    int width = 0, height = 0, frames = 0;
    std::vector<uint32_t> ids; // frame * height + y: the row it shows
    // A row's Rgb24 pixels, then one coverage byte a pixel.
    std::vector<std::unique_ptr<uint8_t[]>> rows;

    std::size_t rowBytes() const { return std::size_t(width) * 4; }
    const uint8_t *row(int frame, int y) const { return rows[ids[std::size_t(frame) * height + y]].get(); }
    /** The frame's picture and coverage, into buffers of that size when they are (no allocation). */
    void picture(int frame, Picture &picture, std::vector<uint8_t> &covered) const
    {
        if (picture.width() != width || picture.height() != height || picture.format() != PixelFormat::Rgb24 ||
            picture.data().size() != std::size_t(width) * height * 3)
            picture = Picture(width, height, PixelFormat::Rgb24);
        picture.setDesignatedTransparentColor(std::nullopt);
        covered.resize(std::size_t(width) * height);
        for (int y = 0; y < height; ++y) {
            const uint8_t *r = row(frame, y);
            std::copy_n(r, std::size_t(width) * 3, picture.row(y));
            std::copy_n(r + std::size_t(width) * 3, width, covered.data() + std::size_t(y) * width);
        }
    }
};

struct FrameSample {
    int width = 0, height = 0;
    int framesKept = 0;
    Picture first;
    std::vector<uint8_t> firstCovered;
    // The frames that change most, exported alike in the whole file and here.
    std::vector<std::shared_ptr<const SamplePiece>> largest;
    // Every n-th of the other frames that change, standing for all of them.
    std::vector<std::shared_ptr<const SamplePiece>> spread;
    int changing = 0;       // frames after the first that change
    int othersChanging = 0; // those not among the largest
    std::vector<int> changedFrames; // the document's frame each of those is, in order
    ColorHistogram histogram;
    bool unpainted = false;
    std::map<int, std::vector<Rgb>> palettes; // by colour count
};

namespace {

// The palette composedCopy makes of the frames kept for this many colours.
const std::vector<Rgb> &samplePalette(FrameSample &fs, int colours)
{
    auto it = fs.palettes.find(colours);
    if (it != fs.palettes.end())
        return it->second;
    return fs.palettes[colours] = paletteOf(fs.histogram, colours, fs.unpainted);
}

/** Part of a sample picture: the picture, its coverage, the box cut out of it. */
struct SampleCut {
    const Picture *picture;
    const std::vector<uint8_t> *covered; // a byte a pixel of the picture
    SamplePiece::Box box;                // in the picture
};

SamplePiece::Box wholeOf(const Picture &picture)
{
    return SamplePiece::Box{0, 0, picture.width() - 1, picture.height() - 1};
}

/** Part of a frame kept as rows and its coverage, copied. */
std::pair<Picture, std::vector<uint8_t>> cutOut(const FrameRows &rows, int frame, const SamplePiece::Box &box)
{
    const int w = box.width(), h = box.height();
    std::pair<Picture, std::vector<uint8_t>> part{Picture(w, h, PixelFormat::Rgb24), std::vector<uint8_t>(std::size_t(w) * h)};
    for (int y = 0; y < h; ++y) {
        const uint8_t *r = rows.row(frame, box.y0 + y);
        std::copy_n(r + 3 * std::size_t(box.x0), std::size_t(w) * 3, part.first.row(y));
        std::copy_n(r + std::size_t(rows.width) * 3 + box.x0, w, part.second.data() + std::size_t(y) * w);
    }
    return part;
}

/** Part of a picture and its coverage, copied. */
std::pair<Picture, std::vector<uint8_t>> cutOut(const Picture &picture, const std::vector<uint8_t> &covered, const SamplePiece::Box &box)
{
    const int w = box.width(), h = box.height();
    std::pair<Picture, std::vector<uint8_t>> part{Picture(w, h, PixelFormat::Rgb24), std::vector<uint8_t>(std::size_t(w) * h)};
    for (int y = 0; y < h; ++y) {
        std::copy_n(picture.row(box.y0 + y) + 3 * box.x0, std::size_t(w) * 3, part.first.row(y));
        std::copy_n(covered.data() + std::size_t(box.y0 + y) * picture.width() + box.x0, w, part.second.data() + std::size_t(y) * w);
    }
    return part;
}

SamplePiece::Box unionOf(SamplePiece::Box a, const SamplePiece::Box &b)
{
    if (b.x1 >= 0) {
        a.add(b.x0, b.y0);
        a.add(b.x1, b.y1);
    }
    return a;
}

/**
 * Adds to `box` the pixels of row `y` (Rgb24 pixels `a`, `b` and their coverage `ca`, `cb`, `width`
 * long) that differ in colour or coverage; returns how many.
 */
std::size_t addDifferingPixels(const uint8_t *a, const uint8_t *ca, const uint8_t *b, const uint8_t *cb, int width, int y,
                               SamplePiece::Box &box)
{
    std::size_t pixels = 0;
    for (int x = 0; x < width; ++x)
        if (std::memcmp(a + 3 * x, b + 3 * x, 3) != 0 || ca[x] != cb[x]) {
            box.add(x, y);
            ++pixels;
        }
    return pixels;
}

/** The box where two pictures of a screen differ in colour or coverage (empty when they do not). */
SamplePiece::Box differing(const Picture &a, const std::vector<uint8_t> &ca, const Picture &b, const std::vector<uint8_t> &cb)
{
    SamplePiece::Box box;
    const int W = a.width();
    for (int y = 0; y < a.height(); ++y) {
        const uint8_t *ra = a.row(y), *rb = b.row(y);
        const uint8_t *va = ca.data() + std::size_t(y) * W, *vb = cb.data() + std::size_t(y) * W;
        if (std::memcmp(ra, rb, std::size_t(W) * 3) != 0 || std::memcmp(va, vb, std::size_t(W)) != 0)
            addDifferingPixels(ra, va, rb, vb, W, y, box);
    }
    return box;
}

/** The box where two frames kept as rows differ in colour or coverage (empty when they do not). */
SamplePiece::Box differing(const FrameRows &rows, int a, int b)
{
    SamplePiece::Box box;
    const int W = rows.width;
    for (int y = 0; y < rows.height; ++y) {
        if (rows.ids[std::size_t(a) * rows.height + y] == rows.ids[std::size_t(b) * rows.height + y])
            continue;
        const uint8_t *ra = rows.row(a, y), *rb = rows.row(b, y);
        if (std::memcmp(ra, rb, rows.rowBytes()) != 0)
            addDifferingPixels(ra, ra + std::size_t(W) * 3, rb, rb + std::size_t(W) * 3, W, y, box);
    }
    return box;
}

/** A sample frame's control: it waits for input, so that no frame is merged into another. */
void waitsForInput(TGIFSubImage &frame, int transparentIndex)
{
    TGIFGraphicControlExtension *g = frame.addGraphicControl();
    g->delay = 10;
    g->setUserInput(true);
    g->setDisposal(1);
    if (transparentIndex >= 0) {
        g->setTransparent(true);
        g->transparentIndex = uint8_t(transparentIndex);
    }
}

/**
 * The cuts mapped as the settings map colours, each a frame placed at the top left of a screen
 * that holds the largest. Every frame waits for input so that none is merged into another: the
 * export's frames are the cuts, one for one. Floyd–Steinberg dithers a cut that follows one of the
 * same size as the save dithers a frame that follows another: only where it changed, unless fewer
 * than a sixteenth of the screen's pixels (`screenPixels`) stayed.
 *
 * With `wholeTable`, a first frame below the cuts shows every entry of the palette and the
 * transparent one: the optimised save drops the entries its frames leave unused and codes every
 * frame with the global table, so a few cuts alone would be coded narrower than the whole file.
 */
TGIFImage sampleDocument(const std::vector<SampleCut> &cuts, const std::vector<Rgb> &palette, bool unpainted,
                         const PaletteMapper &mapper, Dithering dither, std::size_t screenPixels, const std::atomic<bool> *cancel,
                         bool wholeTable = false, bool ownTables = false)
{
    const int transparentIndex = unpainted ? int(palette.size()) : -1;
    TGIFImage out;
    int W = 1, H = 1;
    for (const SampleCut &c : cuts) {
        W = std::max(W, c.box.width());
        H = std::max(H, c.box.height());
    }
    out.header.width = uint16_t(W);
    out.header.height = uint16_t(H);
    out.header.colorMap.entries = tableOf(palette, unpainted);
    if (wholeTable) {
        // The file's frames share one transparent entry (the index after the palette) where
        // they repeat the frame before: the strip holds it too, as its own transparent index.
        const int entries = std::min(int(palette.size()) + 1, 256);
        TGIFSubImage strip;
        strip.width = uint16_t(std::min(entries, W));
        strip.height = uint16_t((entries + strip.width - 1) / strip.width);
        strip.top = uint16_t(H);
        std::vector<uint8_t> indices(std::size_t(strip.width) * strip.height, 0);
        for (int i = 0; i < entries; ++i)
            indices[std::size_t(i)] = uint8_t(i);
        strip.setPixels(std::move(indices));
        waitsForInput(strip, int(palette.size()) < 256 ? int(palette.size()) : -1);
        out.header.height = uint16_t(H + strip.height);
        out.appendFrame(std::move(strip));
    }

    const bool onlyChanges = dither == Dithering::FloydSteinberg && !unpainted;
    Picture before, indexed;
    for (const SampleCut &c : cuts) {
        checkpoint(cancel);
        auto [part, covered] = cutOut(*c.picture, *c.covered, c.box);
        std::optional<ChangedRect> changes;
        if (onlyChanges && before.width() == part.width() && before.height() == part.height())
            changes = changesToDither(before, part, screenPixels);
        TGIFSubImage frame;
        frame.width = uint16_t(c.box.width());
        frame.height = uint16_t(c.box.height());
        int frameTransparent = transparentIndex;
        if (ownTables) {
            // Frames that keep their colours, from an animation of more than one palette: each
            // cut with a table of its own colours, as the file keeps the frames' own tables.
            ColorHistogram histogram;
            histogram.add(part);
            std::vector<Rgb> own = histogram.fewColors();
            if (own.empty() || (unpainted && own.size() > 255))
                own = histogram.bestPalette(unpainted ? 255 : 256);
            TGIFColorMap table;
            table.entries = tableOf(own, unpainted);
            frameTransparent = unpainted ? int(own.size()) : -1;
            frame.setPixels(indicesOf(PaletteMapper(std::move(own)), part, covered, Dithering::None, frameTransparent));
            frame.setColorMap(std::move(table));
        } else if (changes) {
            mapper.ditherChanges(part, before, indexed, changes->x, changes->y, changes->w, changes->h);
            frame.setPixels(std::vector<uint8_t>(indexed.data()));
        } else {
            std::vector<uint8_t> indices = indicesOf(mapper, part, covered, dither, transparentIndex);
            if (onlyChanges) {
                indexed = Picture(part.width(), part.height(), PixelFormat::Indexed8);
                indexed.data() = indices;
            }
            frame.setPixels(std::move(indices));
        }
        before = std::move(part);
        waitsForInput(frame, frameTransparent);
        out.appendFrame(std::move(frame));
    }
    return out;
}

/** The layouts a sample is exported in. */
enum SampleLayout { WholeFrames, RowsDown, Pieces };

bool reduces(const ExportSettings &s)
{
    return s.colours < 256 || s.dropEvery >= 2;
}

bool diffuses(const ExportSettings &s)
{
    return reduces(s) && s.dither == Dithering::FloydSteinberg;
}

/**
 * The layout that shows two settings alike: the plain save writes frames whole; Floyd–Steinberg
 * over frames with `holes` dithers them whole and carries a change down to the bottom, which rows
 * cut below the change keep; the rest write what changes, which pieces hold. The plain save is
 * only compared with itself.
 */
SampleLayout layoutFor(const ExportSettings &a, const ExportSettings &b, bool holes)
{
    return a.level == 0 ? WholeFrames : holes && (diffuses(a) || diffuses(b)) ? RowsDown : Pieces;
}

/** A piece as the frame before and the frame after, with the frame dropped between them when asked. */
std::vector<SampleCut> pieceJob(const SamplePiece &p, bool withMiddle)
{
    std::vector<SampleCut> job{{&p.before, &p.coveredBefore, wholeOf(p.before)}};
    if (withMiddle && p.hasMiddle)
        job.push_back({&p.middle, &p.coveredMiddle, wholeOf(p.middle)});
    job.push_back({&p.after, &p.coveredAfter, wholeOf(p.after)});
    return job;
}

/** Visits 0 .. n - 1 in bit-reversed order: every start of the order is spread over the whole. */
std::vector<std::size_t> spreadOrder(std::size_t n)
{
    std::vector<std::size_t> order;
    const std::size_t size = std::bit_ceil(std::max<std::size_t>(n, 1));
    const int bits = std::countr_zero(size);
    for (std::size_t i = 0; i < size; ++i) {
        std::size_t r = 0;
        for (int b = 0; b < bits; ++b)
            r |= ((i >> b) & 1) << (bits - 1 - b);
        if (r < n)
            order.push_back(r);
    }
    return order;
}

/**
 * What the sample exports for the settings, one document a job: the first frame whole; then, in
 * pieces, the largest, then the spread, each as the frame before and the frame after where they
 * differ. The plain save writes frames whole and Floyd–Steinberg carries a change along the rows
 * and down to the bottom: they take the pieces held whole instead, the whole frames or the rows
 * from the change down. The spread comes in an order whose every start is spread over the
 * animation, so that the jobs done in the time given are a sample in themselves. `frames` gets,
 * for each job, the frame its bytes are in a file of every changing frame kept (or of every frame
 * kept, for the plain save).
 */
std::vector<std::vector<SampleCut>> sampleJobs(const FrameSample &fs, SampleLayout layout, bool withMiddle, std::vector<int> &frames)
{
    std::vector<std::vector<SampleCut>> jobs;
    jobs.push_back({{&fs.first, &fs.firstCovered, wholeOf(fs.first)}});
    frames.assign(1, 0);
    if (layout == Pieces)
        for (const auto &p : fs.largest) {
            jobs.push_back(pieceJob(*p, withMiddle));
            frames.push_back(1 + p->changing);
        }
    std::vector<const SamplePiece *> spread;
    for (const auto &p : fs.spread)
        if (layout == Pieces || p->whole)
            spread.push_back(p.get());
    for (std::size_t i : spreadOrder(spread.size())) {
        const SamplePiece &p = *spread[i];
        if (layout == Pieces) {
            jobs.push_back(pieceJob(p, withMiddle));
            frames.push_back(1 + p.changing);
        } else if (layout == WholeFrames) {
            // Each frame stands alone: the frame before is another one of the sample.
            jobs.push_back({{&p.wholeBefore, &p.wholeCoveredBefore, wholeOf(p.wholeBefore)}});
            jobs.push_back({{&p.wholeAfter, &p.wholeCoveredAfter, wholeOf(p.wholeAfter)}});
            frames.push_back(p.frame - 1);
            frames.push_back(p.frame);
        } else {
            frames.push_back(1 + p.changing);
            SamplePiece::Box rows = wholeOf(p.wholeAfter);
            rows.y0 = p.changed.y0 & ~7; // rows walked alternately left and right: the same parity
            jobs.push_back({{&p.wholeBefore, &p.wholeCoveredBefore, rows}, {&p.wholeAfter, &p.wholeCoveredAfter, rows}});
        }
    }
    return jobs;
}

} // namespace

FrameSample &Exporter::sample(int dropEvery, const std::atomic<bool> *cancel)
{
    if (auto it = mSamples.find(dropEvery); it != mSamples.end())
        return *it->second;
    auto made = std::make_shared<FrameSample>();
    FrameSample &fs = *made;
    // The frames come from the rows kept by an earlier sample when there are, else from the
    // composer, their rows then kept for the next sample while they fit in the budget.
    std::optional<FrameComposer> composer;
    std::shared_ptr<FrameRows> recording;
    if (!mRows) {
        composer.emplace(*mDocument);
        composer->setTrackCoverage(true);
        recording = std::make_shared<FrameRows>();
        recording->width = composer->width();
        recording->height = composer->height();
        recording->frames = std::min(composer->count(), mFrames);
        recording->ids.resize(std::size_t(recording->frames) * std::max(recording->height, 0));
    }
    const FrameRows *rows = mRows ? mRows.get() : nullptr;
    const int n = rows ? rows->frames : recording->frames;
    const int W = rows ? rows->width : recording->width, H = rows ? rows->height : recording->height;
    constexpr std::size_t kRowBudget = std::size_t(96) << 20;
    std::size_t recorded = 0;
    bool recordingFull = false; // written by the fetch alone, read once it is over
    struct Shot {
        Picture picture;
        std::vector<uint8_t> covered;
        // Per row, 1 where it shows as in the frame fetched before (empty when not known).
        std::vector<uint8_t> sameRows;
        // Whether the frame is in the rows being recorded, whole.
        bool recorded = false;
    };
    // Run on a thread of its own, one frame ahead of the work on the frame before. The shot given
    // is a frame done with: its buffers are filled again, so that no frame costs an allocation.
    auto frameAt = [&](int i, Shot shot) {
        Picture &composed = shot.picture;
        std::vector<uint8_t> &covered = shot.covered;
        shot.sameRows.clear();
        shot.recorded = false;
        // From rows kept, the frames are read where they are; only the first is copied out.
        if (rows) {
            if (i == 0)
                rows->picture(i, composed, covered);
            return shot;
        }
        composed = composer->composedCanvas(i);
        composed.setDesignatedTransparentColor(composer->resultTransparentColor());
        covered = composer->coverage();
        if (!recording || recordingFull)
            return shot;
        const std::size_t rowBytes = recording->rowBytes();
        shot.sameRows.assign(std::size_t(H), 0);
        for (int y = 0; y < H; ++y) {
            const std::size_t at = std::size_t(i) * H + y;
            if (i > 0) {
                const uint8_t *before = recording->rows[recording->ids[at - H]].get();
                if (std::memcmp(before, composed.row(y), std::size_t(W) * 3) == 0 &&
                    std::memcmp(before + std::size_t(W) * 3, covered.data() + std::size_t(y) * W, std::size_t(W)) == 0) {
                    recording->ids[at] = recording->ids[at - H];
                    shot.sameRows[std::size_t(y)] = 1;
                    continue;
                }
            }
            if ((recorded += rowBytes) > kRowBudget) {
                // Kept until the sample is made: the pieces of the frames recorded are cut from it.
                recordingFull = true;
                shot.sameRows.clear();
                return shot;
            }
            auto row = std::make_unique<uint8_t[]>(rowBytes);
            std::copy_n(composed.row(y), std::size_t(W) * 3, row.get());
            std::copy_n(covered.data() + std::size_t(y) * W, W, row.get() + std::size_t(W) * 3);
            recording->ids[at] = uint32_t(recording->rows.size());
            recording->rows.push_back(std::move(row));
        }
        shot.recorded = true;
        return shot;
    };
    fs.width = W;
    fs.height = H;
    std::vector<int> kept;
    for (int k = 0; k < n; ++k)
        if (!dropped(k, dropEvery) || kept.empty())
            kept.push_back(k);
    fs.framesKept = int(kept.size());

    // The frames that change most stand for themselves; a spread of the others for the rest. Most
    // frames of a recording change a little: their pieces are small, and many are needed to stand
    // for all of them.
    constexpr int largestCount = 4;
    // The spread: about one frame that changes in `step`, the step doubled whenever that gives
    // twice too many, so that it ends with one to two times this many whatever the frame count.
    // Frame i is taken when the fraction of i times the golden ratio is below 1 / step: the gaps
    // between the frames taken vary, so that the spread does not fall in step with an animation
    // that repeats every few frames, nor with frames dropped every n-th.
    const auto position = [](int i) { return std::fmod(double(i) * 0.6180339887498949, 1.0); };
    constexpr std::size_t spreadCount = 16;
    int step = 1;
    // One piece of the spread in this many is also held whole.
    constexpr int kWholeEvery = 4;

    Picture previous;
    std::vector<uint8_t> previousCovered;
    int previousFrame = 0;
    std::vector<int> since(std::size_t(std::max(H, 0)), 0); // the frame each row has shown since
    std::unique_ptr<ColorHistogram> lowerHistogram;
    std::vector<std::shared_ptr<SamplePiece>> largest, spread;
    const auto smaller = [](const auto &a, const auto &b) { return a->changedPixels > b->changedPixels; };
    int changing = 0;
    // The frame dropped since the frame kept before, if any.
    Picture middle;
    std::vector<uint8_t> middleCovered;
    bool haveMiddle = false;
    int middleFrame = -1;
    // Every frame when its rows are being kept, else up to the last frame kept.
    const int fetched = recording ? n : kept.empty() ? 0 : kept.back() + 1;
    // The buffers of a frame done with, for the next fetch: three frames' worth go round (the
    // frame before, this one, the next one being fetched).
    Shot spare;
    std::future<Shot> ahead;
    if (fetched > 0)
        ahead = std::async(std::launch::async, frameAt, 0, Shot{});
    Picture composed;
    std::vector<uint8_t> covered;
    for (int i = 0, next = 0; i < fetched; ++i) {
        Shot shot = ahead.get();
        if (i + 1 < fetched)
            ahead = std::async(std::launch::async, frameAt, i + 1, std::move(spare));
        checkpoint(cancel);
        if (next >= int(kept.size()))
            continue;
        std::swap(composed, shot.picture);
        std::swap(covered, shot.covered);
        // What the fetch knew of the rows serves when the frame before is the one fetched before.
        const std::vector<uint8_t> sameRows = previousFrame == i - 1 ? std::move(shot.sameRows) : std::vector<uint8_t>{};
        // Pieces of frames in rows (kept before, or recorded whole, like every frame before them)
        // are cut from there once the sample is chosen.
        const bool inRows = rows || shot.recorded;
        spare = std::move(shot);
        if (i != kept[std::size_t(next)]) {
            std::swap(middle, composed);
            std::swap(middleCovered, covered);
            spare.picture = std::move(composed);
            spare.covered = std::move(covered);
            haveMiddle = true;
            middleFrame = i;
            continue;
        }
        const int index = next++;
        if (index == 0) {
            fs.unpainted = std::find(covered.begin(), covered.end(), uint8_t(0)) != covered.end();
            fs.first = composed;
            fs.firstCovered = covered;
        } else {
            // The rows from y0 to y1 against the frame kept before: where they differ, how many
            // pixels, and the colours of the rows that change into `histogram`.
            struct Rows {
                SamplePiece::Box changed;
                std::size_t pixels = 0;
                bool unpainted = false;
            };
            const auto compare = [&](int y0, int y1, ColorHistogram &histogram) {
                Rows r;
                for (int y = y0; y < y1; ++y) {
                    // Rows kept as one are the same row.
                    if (rows && rows->ids[std::size_t(previousFrame) * H + y] == rows->ids[std::size_t(i) * H + y])
                        continue;
                    if (!sameRows.empty() && sameRows[std::size_t(y)])
                        continue;
                    const uint8_t *a = rows ? rows->row(previousFrame, y) : previous.row(y);
                    const uint8_t *b = rows ? rows->row(i, y) : composed.row(y);
                    const uint8_t *ca = rows ? a + std::size_t(W) * 3 : previousCovered.data() + std::size_t(y) * W;
                    const uint8_t *cb = rows ? b + std::size_t(W) * 3 : covered.data() + std::size_t(y) * W;
                    if (std::memcmp(a, b, std::size_t(W) * 3) == 0 && std::memcmp(ca, cb, std::size_t(W)) == 0)
                        continue;
                    // The palette counts every pixel of every frame kept: a row, for as long as it showed.
                    if (std::memcmp(a, b, std::size_t(W) * 3) != 0) {
                        histogram.add(a, std::size_t(W), uint64_t(index - since[std::size_t(y)]));
                        since[std::size_t(y)] = index;
                    }
                    r.pixels += addDifferingPixels(a, ca, b, cb, W, y, r.changed);
                    // Unpainted pixels show in the first frame or in a row that changed.
                    r.unpainted = r.unpainted || std::memchr(cb, 0, std::size_t(W)) != nullptr;
                }
                return r;
            };
            // The lower half on a thread of its own, with a histogram of its own added in the end.
            if (!lowerHistogram)
                lowerHistogram = std::make_unique<ColorHistogram>();
            auto lower = std::async(std::launch::async, compare, H / 2, H, std::ref(*lowerHistogram));
            Rows upper;
            try {
                upper = compare(0, H / 2, fs.histogram);
            } catch (...) {
                lower.wait();
                throw;
            }
            const Rows below = lower.get();
            SamplePiece::Box changed = unionOf(upper.changed, below.changed);
            const std::size_t pixels = upper.pixels + below.pixels;
            fs.unpainted = fs.unpainted || upper.unpainted || below.unpainted;
            if (pixels > 0) {
                fs.changedFrames.push_back(i);
                const bool inSpread = position(changing++) < 1.0 / step;
                const bool inLargest = int(largest.size()) < largestCount || pixels > largest.front()->changedPixels;
                if (inSpread || inLargest) {
                    auto piece = std::make_shared<SamplePiece>();
                    piece->frame = index;
                    piece->changing = changing - 1;
                    piece->changed = changed;
                    piece->changedPixels = pixels;
                    SamplePiece::Box cut = changed;
                    if (haveMiddle && rows) {
                        cut = unionOf(cut, differing(*rows, previousFrame, middleFrame));
                        cut = unionOf(cut, differing(*rows, middleFrame, i));
                    } else if (haveMiddle) {
                        cut = unionOf(cut, differing(previous, previousCovered, middle, middleCovered));
                        cut = unionOf(cut, differing(middle, middleCovered, composed, covered));
                    }
                    cut.x0 &= ~7;
                    cut.y0 &= ~7;
                    piece->hasMiddle = haveMiddle;
                    if (inRows) {
                        piece->cutFrames[0] = previousFrame;
                        piece->cutFrames[1] = i;
                        piece->cutFrames[2] = haveMiddle ? middleFrame : -1;
                        piece->cut = cut;
                    } else {
                        std::tie(piece->before, piece->coveredBefore) = cutOut(previous, previousCovered, cut);
                        std::tie(piece->after, piece->coveredAfter) = cutOut(composed, covered, cut);
                        if (haveMiddle)
                            std::tie(piece->middle, piece->coveredMiddle) = cutOut(middle, middleCovered, cut);
                    }
                    piece->whole = inSpread && position(changing - 1) < 1.0 / (kWholeEvery * step);
                    if (piece->whole && inRows) {
                        piece->wholeFrames[0] = previousFrame;
                        piece->wholeFrames[1] = i;
                    } else if (piece->whole) {
                        piece->wholeBefore = previous;
                        piece->wholeAfter = composed;
                        piece->wholeCoveredBefore = previousCovered;
                        piece->wholeCoveredAfter = covered;
                    }
                    if (inLargest) {
                        largest.push_back(piece);
                        std::push_heap(largest.begin(), largest.end(), smaller);
                        if (int(largest.size()) > largestCount) {
                            std::pop_heap(largest.begin(), largest.end(), smaller);
                            largest.pop_back();
                        }
                    }
                    if (inSpread)
                        spread.push_back(std::move(piece));
                    if (spread.size() > 2 * spreadCount) {
                        std::vector<std::shared_ptr<SamplePiece>> half;
                        for (auto &p : spread)
                            if (position(p->changing) < 0.5 / step)
                                half.push_back(std::move(p));
                        spread = std::move(half);
                        step *= 2;
                    }
                }
            }
        }
        std::swap(previous, composed);
        std::swap(previousCovered, covered);
        spare.picture = std::move(composed);
        spare.covered = std::move(covered);
        previousFrame = i;
        haveMiddle = false;
    }
    for (int y = 0; y < H && fs.framesKept > 0; ++y)
        fs.histogram.add(rows ? rows->row(previousFrame, y) : previous.row(y), std::size_t(W),
                         uint64_t(fs.framesKept - since[std::size_t(y)]));
    if (lowerHistogram)
        fs.histogram.add(*lowerHistogram);
    // The pieces kept, cut from the rows; the frames whole too where the rows go with this sample
    // (the recording outgrew its budget).
    const FrameRows *from = rows ? rows : recording.get();
    const bool rowsStay = rows || !recordingFull;
    std::vector<SamplePiece *> toCut;
    for (const auto &pieces : {std::cref(largest), std::cref(spread)})
        for (const auto &p : pieces.get())
            if (std::find(toCut.begin(), toCut.end(), p.get()) == toCut.end())
                toCut.push_back(p.get());
    // Every other piece on a second thread.
    const auto cutPieces = [&](std::size_t first) {
        for (std::size_t k = first; k < toCut.size(); k += 2) {
            SamplePiece *p = toCut[k];
            if (p->cutFrames[0] >= 0) {
                std::tie(p->before, p->coveredBefore) = cutOut(*from, p->cutFrames[0], p->cut);
                std::tie(p->after, p->coveredAfter) = cutOut(*from, p->cutFrames[1], p->cut);
                if (p->cutFrames[2] >= 0)
                    std::tie(p->middle, p->coveredMiddle) = cutOut(*from, p->cutFrames[2], p->cut);
            }
            if (!rowsStay && p->wholeFrames[0] >= 0) {
                from->picture(p->wholeFrames[0], p->wholeBefore, p->wholeCoveredBefore);
                from->picture(p->wholeFrames[1], p->wholeAfter, p->wholeCoveredAfter);
                p->wholeFrames[0] = p->wholeFrames[1] = -1;
            }
        }
    };
    auto odd = std::async(std::launch::async, cutPieces, std::size_t(1));
    cutPieces(0);
    odd.get();
    // The spread stands for the frames not among the largest.
    std::sort(largest.begin(), largest.end(), [](const auto &a, const auto &b) { return a->frame < b->frame; });
    for (const auto &p : spread)
        if (std::find(largest.begin(), largest.end(), p) == largest.end())
            fs.spread.push_back(p);
    fs.largest.assign(largest.begin(), largest.end());
    fs.changing = changing;
    fs.othersChanging = changing - int(fs.largest.size());
    mSamples[dropEvery] = std::move(made);
    if (recording && !recordingFull)
        mRows = std::move(recording);
    return *mSamples[dropEvery];
}

std::vector<Exporter::SampleRun *> Exporter::sampleRuns(const std::vector<ExportSettings> &settings, int sampleDrop, int layoutCode,
                                                      std::chrono::steady_clock::time_point start, double budgetMs,
                                                      const std::atomic<bool> *cancel)
{
    const auto layout = SampleLayout(layoutCode);
    FrameSample &fs = sample(sampleDrop, cancel);
    // What each settings maps the jobs with: the palette the save makes of the frames it keeps.
    struct Way {
        SampleRun *run;
        std::vector<std::vector<SampleCut>> jobs;
        const std::vector<Rgb> *palette;
        bool unpainted;
        std::unique_ptr<PaletteMapper> mapper; // shared by both threads: nearest entries found serve every job
        Dithering dither;
        bool ownTables; // the frames keep colours no one palette holds
        ExportSettings rest;
    };
    if (layout != Pieces)
        for (const auto &p : fs.spread)
            if (p->whole && p->wholeFrames[0] >= 0 && p->wholeBefore.width() == 0) {
                mRows->picture(p->wholeFrames[0], p->wholeBefore, p->wholeCoveredBefore);
                mRows->picture(p->wholeFrames[1], p->wholeAfter, p->wholeCoveredAfter);
            }
    std::vector<Way> ways;
    std::vector<SampleRun *> runs;
    std::vector<int> jobFrames;
    for (const ExportSettings &requested : settings) {
        const ExportSettings s = normalized(requested);
        FrameSample &own = sample(s.dropEvery, cancel);
        Way w;
        // Settings that keep every frame, run on the jobs of a sample that drops some, take the
        // frames dropped too: their job is the same stretch of the animation.
        w.jobs = sampleJobs(fs, layout, s.dropEvery != sampleDrop, jobFrames);
        w.palette = &samplePalette(own, reduces(s) ? s.colours : 256);
        w.unpainted = own.unpainted;
        w.mapper = std::make_unique<PaletteMapper>(*w.palette);
        w.dither = reduces(s) ? s.dither : Dithering::None;
        w.ownTables = !reduces(s) && own.histogram.fewColors().empty();
        w.rest = s;
        w.rest.colours = 256;
        w.rest.dropEvery = 0;
        SampleRun &run = mSampleRuns[RunKey{s, sampleDrop, layoutCode}];
        if (run.bytes.empty()) {
            run.bytes.assign(w.jobs.size(), -1);
            run.layout = layout;
            run.fixed = layout == Pieces ? 1 + fs.largest.size() : 1;
            run.others = layout == WholeFrames ? fs.framesKept - 1 : layout == RowsDown ? fs.changing : fs.othersChanging;
            run.frames = jobFrames;
            // The first job is the first frame on the settings' own palette, whatever the frames
            // dropped in the sample: one made for another sample serves (it is the largest job).
            for (auto it = mSampleRuns.lower_bound(RunKey{s, std::numeric_limits<int>::min(), 0});
                 it != mSampleRuns.end() && it->first.settings == s; ++it)
                if (it->first.layout == layoutCode && &it->second != &run && !it->second.bytes.empty() && it->second.bytes[0] >= 0) {
                    run.bytes[0] = it->second.bytes[0];
                    run.header = it->second.header;
                    break;
                }
        }
        w.run = &run;
        runs.push_back(&run);
        ways.push_back(std::move(w));
    }
    const std::size_t count = ways.empty() ? 0 : ways.front().jobs.size();
    // At least the first frame, the largest and a few of the spread, whatever the time.
    const std::size_t least = std::min(count, (ways.empty() ? 1 : ways.front().run->fixed) + 4);

    // Each job is a document of its own on a screen no larger than its pieces: the work is what
    // they hold. Two threads take them in order, each job at every settings before the next job,
    // so that the settings compared have the same jobs done whenever the time runs out.
    std::atomic<std::size_t> next{0};
    const std::size_t tasks = count * ways.size();
    auto work = [&] {
        for (std::size_t t; (t = next++) < tasks;) {
            const std::size_t j = t / ways.size();
            Way &w = ways[t % ways.size()];
            if (w.run->bytes[j] >= 0)
                continue;
            const double elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            if (j >= least && elapsed > budgetMs)
                return;
            checkpoint(cancel);
            const std::vector<SampleCut> &part = w.jobs[j];
            const bool strip = w.rest.level == 1 && !w.ownTables;
            const ExportResult r = exportCopy(sampleDocument(part, *w.palette, w.unpainted, *w.mapper, w.dither,
                                                             std::size_t(fs.width) * std::size_t(fs.height), cancel, strip, w.ownTables),
                                              w.rest, cancel);
            // The job's bytes are those of every frame after the one it starts from; a frame
            // merged away says nothing of these settings: the job then counts for nothing.
            const std::size_t extra = strip ? 1 : 0;
            long long bytes = 0;
            if (r.frameBytes.size() == part.size() + extra)
                bytes = (long long)std::accumulate(r.frameBytes.begin() + std::ptrdiff_t(extra + (part.size() > 1 ? 1 : 0)),
                                                   r.frameBytes.end(), std::size_t(0));
            if (j == 0)
                w.run->header = double(r.size()) - double(bytes) - (extra && !r.frameBytes.empty() ? double(r.frameBytes[0]) : 0.0);
            w.run->bytes[j] = bytes;
        }
    };
    auto helper = std::async(std::launch::async, [&] {
        try {
            work();
        } catch (const ExportCancelled &) {
        }
    });
    try {
        work();
    } catch (...) {
        next = tasks;
        helper.wait();
        throw;
    }
    helper.get();
    checkpoint(cancel);
    return runs;
}

namespace {

/** The sample's figures over its first `count` jobs: the first frame, the largest, the spread and how many frames it stands for. */
struct SampleParts {
    double first = 0, largest = 0, spread = 0;
    std::size_t spreadJobs = 0;
};

} // namespace

std::size_t Exporter::sampledEstimate(const ExportSettings &settings, const std::atomic<bool> *cancel)
{
    // The time the estimate may take from the change, the sample's making included; the first
    // jobs are done whatever the time.
    constexpr double kBudgetMs = 130;
    const auto start = std::chrono::steady_clock::now();
    const ExportSettings s = normalized(settings);
    // The nearest settings whose exact size is known and that a sample lays out as these: the
    // plain save only beside itself; a file that keeps every frame beside one that drops some,
    // the sample's stretches then taken with and without the frames dropped.
    const ExportSettings *nearest = nullptr;
    // Whether frames have holes, as the frames these settings keep show (the sample is made anyway).
    const bool holes = sample(s.dropEvery, cancel).unpainted;
    SampleLayout layout = layoutFor(s, s, holes);
    double best = 0;
    for (const auto &[known, frames] : mFrameSizes) {
        if ((known.level == 0) != (s.level == 0))
            continue;
        const SampleLayout both = layoutFor(s, known, holes);
        if (known.dropEvery != s.dropEvery && !(known.dropEvery == 0 && both == Pieces))
            continue;
        const double distance = (known.level != s.level) * 300.0 + std::abs(std::log2(double(known.colours) / s.colours)) * 40.0 +
                                (known.dither != s.dither) * 150.0 + (known.dropEvery != s.dropEvery) * 150.0 +
                                std::abs(known.lossy - s.lossy) * (known.level != s.level ? 4 : 1);
        if (!nearest || distance < best) {
            nearest = &known;
            best = distance;
            layout = both;
        }
    }
    // The sample run at the known settings as well carries its own error into the ratio and out
    // of it again. But measured on recordings, photographs and drawings, the jobs at the
    // document's own colours come out up to a few per cent off the file's frames (and far off
    // where frames hold tables of their own), while those on a palette of fewer colours are the
    // file's frames, to the byte on most: settings that reduce to another palette, beside a
    // known file of the same frames that does not reduce, are scaled from that file's frames
    // themselves, the error of one side not being there to cancel the other's.
    FrameSample &own = sample(s.dropEvery, cancel);
    const bool fromFile = nearest && layout == Pieces && reduces(s) && !reduces(*nearest) && nearest->dropEvery == s.dropEvery &&
                          mFrameSizes.at(*nearest).size() == std::size_t(1 + own.changing) &&
                          samplePalette(own, s.colours) != samplePalette(own, 256);
    std::vector<ExportSettings> compared{s};
    if (nearest && !fromFile)
        compared.push_back(*nearest);
    const std::vector<SampleRun *> runs = sampleRuns(compared, s.dropEvery, layout, start, kBudgetMs, cancel);
    const SampleRun &now = *runs[0];
    // The jobs done at every settings compared.
    std::size_t done = 0;
    while (done < now.bytes.size() && std::all_of(runs.begin(), runs.end(), [done](const SampleRun *r) { return r->bytes[done] >= 0; }))
        ++done;
    // Extrapolated alone, the spread counts only by a power of two of its first jobs, short of the
    // whole: those are spread evenly over the animation (it comes in bit-reversed order), while a
    // count between two powers weighs some stretches twice. Where the time given leaves the count
    // to the machine's load, the figure then moves by whole halvings of the gaps, not job by job.
    if (!nearest && done < now.bytes.size() && done > now.fixed)
        done = now.fixed + std::bit_floor(done - now.fixed);
    const auto parts = [done](const SampleRun &run) {
        SampleParts p;
        for (std::size_t j = 0; j < done; ++j)
            (j == 0 ? p.first : j < run.fixed ? p.largest : p.spread) += double(run.bytes[j]);
        p.spreadJobs = done > run.fixed ? done - run.fixed : 0;
        return p;
    };
    // The sample extrapolated to every frame after the first.
    const auto rest = [&parts](const SampleRun &run) {
        const SampleParts p = parts(run);
        return p.largest + (p.spreadJobs ? p.spread * double(run.others) / double(p.spreadJobs) : 0.0);
    };
    if (!nearest)
        return std::size_t(std::llround(now.header + parts(now).first + rest(now)));
    const SampleRun &before = runs.size() > 1 ? *runs[1] : now;
    const double known = double(mSizes.at(*nearest));
    const std::vector<std::size_t> &knownFrames = mFrameSizes.at(*nearest);
    const auto scaled = [](double exact, double to, double from) { return from > 0 ? exact * to / from : exact; };
    const SampleParts a = parts(now), b = parts(before);
    const double first = knownFrames.empty() ? 0.0 : double(knownFrames[0]);
    const double header = known - std::accumulate(knownFrames.begin(), knownFrames.end(), 0.0);

    // Where the known file's frames are the sample's (the same frames kept, written alike), each
    // part of it is scaled by how that part of the sample changed: the first frame, the frames
    // that change most, the others. Else the first frame and all the others.
    const FrameSample &fs = sample(s.dropEvery, cancel);
    std::vector<std::size_t> frames = knownFrames;
    bool sameFrames = nearest->dropEvery == s.dropEvery &&
                      frames.size() == std::size_t(layout == WholeFrames ? fs.framesKept : 1 + fs.changing);
    // Frames dropped, beside a file that keeps them all: each frame kept stands for the stretch
    // of the known file since the frame kept before, the frames dropped in it included, and the
    // stretches are scaled as frames are (a stretch that holds a frame dropped costs about twice
    // another, and a sample with more of one kind than the animation must not weigh it more).
    // The frames of the known file are those of the sample that keeps every frame.
    const auto all = mSamples.find(0);
    if (!sameFrames && layout == Pieces && nearest->dropEvery == 0 && s.dropEvery >= 2 && all != mSamples.end() &&
        knownFrames.size() == 1 + all->second->changedFrames.size() && fs.changedFrames.size() == std::size_t(fs.changing)) {
        const std::vector<int> &every = all->second->changedFrames;
        frames.assign(1 + fs.changedFrames.size(), 0);
        frames[0] = knownFrames[0];
        std::size_t k = 0; // the next frame of the known file, after its first
        for (std::size_t j = 0; j < fs.changedFrames.size(); ++j)
            for (; k < every.size() && every[k] <= fs.changedFrames[j]; ++k)
                frames[1 + j] += knownFrames[1 + k];
        sameFrames = true;
    }
    if (!sameFrames) {
        const double estimate = header + now.header - before.header + scaled(first, a.first, b.first) +
                                scaled(known - header - first, rest(now), rest(before));
        return std::size_t(std::llround(std::max(0.0, estimate)));
    }
    std::vector<bool> other(frames.size(), true);
    other[0] = false;
    double largest = 0;
    if (layout == Pieces)
        for (const auto &p : fs.largest) {
            largest += double(frames[std::size_t(1 + p->changing)]);
            other[std::size_t(1 + p->changing)] = false;
        }
    // What a job is scaled from: its bytes at the known settings, or the file's frame itself.
    const auto knownBytes = [&](std::size_t j) {
        const int f = j < now.frames.size() ? now.frames[j] : -1;
        return fromFile && f >= 0 && std::size_t(f) < frames.size() ? double(frames[std::size_t(f)]) : double(before.bytes[j]);
    };
    double largestFrom = 0;
    for (std::size_t j = 1; j < now.fixed && j < done; ++j)
        largestFrom += knownBytes(j);
    // The others, each frame of the known file scaled as the jobs of the spread whose frames cost
    // about as much there: a panel redrawn and a pointer moved change differently with the
    // settings, and a spread that happens to hold more of one kind than the animation does must
    // not weigh it more. The weight falls off with the ratio of the two sizes; a little of every
    // job stays, for frames unlike any of the spread.
    struct Seen {
        double logSize, to, from;
    };
    std::vector<Seen> seen;
    for (std::size_t j = now.fixed; j < done && j < now.frames.size(); ++j)
        if (const int f = now.frames[j]; f >= 0 && std::size_t(f) < frames.size())
            seen.push_back(Seen{std::log(std::max(double(frames[std::size_t(f)]), 1.0)), double(now.bytes[j]), knownBytes(j)});
    double others = 0;
    for (std::size_t f = 0; f < frames.size(); ++f) {
        if (!other[f])
            continue;
        const double size = double(frames[f]), logSize = std::log(std::max(size, 1.0));
        constexpr double kWidth = 0.5; // in the log of the size: a weight of 0.38 at twice or half the size
        double to = 0, from = 0;
        for (const Seen &j : seen) {
            const double d = (logSize - j.logSize) / kWidth;
            const double w = std::exp(-0.5 * d * d) + 1e-3;
            to += w * j.to;
            from += w * j.from;
        }
        others += seen.empty() ? scaled(size, a.spread, b.spread) : scaled(size, to, from);
    }
    // Beside such a file, the sample's own first frame and header stand for the file's, with the
    // loop setting the save writes before the first frame.
    const double opening = fromFile ? now.header + a.first + (loopOf(*mDocument) ? kLoopBytes : 0.0)
                                    : header + now.header - before.header + scaled(first, a.first, b.first);
    const double estimate = opening + scaled(largest, a.largest, largestFrom) + others;
    return std::size_t(std::llround(std::max(0.0, estimate)));
}

std::size_t Exporter::quickEstimate(const ExportSettings &settings, const std::atomic<bool> *cancel)
{
    const ExportSettings s = normalized(settings);
    if (auto it = mSizes.find(s); it != mSizes.end())
        return it->second;
    // Small animations are exported whole in less time than the sample takes to make.
    constexpr double kSmall = 4e6;
    if (double(mDocument->header.width) * mDocument->header.height * mFrames <= kSmall)
        return exact(s, cancel)->size();
    return sampledEstimate(s, cancel);
}

FitResult Exporter::fitUnder(const ExportSettings &start, std::size_t maxBytes, const std::atomic<bool> *cancel,
                             const std::function<void(const ExportSettings &)> &onStep)
{
    FitResult best;
    best.framesBefore = mFrames;
    auto size = [&](const ExportSettings &s) {
        // Sizes known from before need no export.
        const auto known = mSizes.find(normalized(s));
        if (known == mSizes.end() && onStep)
            onStep(s);
        const std::size_t bytes = known != mSizes.end() ? known->second : exact(s, cancel)->size();
        // Kept for when nothing fits: the smallest file tried.
        if (best.size == 0 || bytes < best.size) {
            best.settings = normalized(s);
            best.size = bytes;
        }
        return bytes;
    };
    auto attempt = [&](const ExportSettings &s) { return size(s) <= maxBytes; };
    auto roughlyFits = [&](const ExportSettings &s) { return quickEstimate(s, cancel) <= maxBytes; };

    /**
     * Along one setting, from `fails` (known too big) to `fits` (known to fit), the value nearest
     * `fails` that fits, to within `tolerance`, by bisection on exact sizes. When `guided`, quick
     * figures narrow the range first and the exact search starts at their guess and its neighbour,
     * which brackets the answer when the guess is close.
     */
    auto nearestFitting = [&](int fails, int fits, int tolerance, bool guided, const std::function<ExportSettings(int)> &at) {
        const int direction = fits > fails ? 1 : -1;
        const auto value = [&](int distance) { return at(fails + direction * distance); };
        int lo = 0, hi = (fits - fails) * direction; // distances from `fails`: lo too big, hi fits
        int probe = (lo + hi) / 2;
        if (guided) {
            int qlo = lo, qhi = hi;
            while (qhi - qlo > tolerance) {
                const int mid = (qlo + qhi) / 2;
                (roughlyFits(value(mid)) ? qhi : qlo) = mid;
            }
            probe = qhi;
        }
        for (bool first = true; hi - lo > tolerance; first = false) {
            probe = std::clamp(probe, lo + 1, hi - 1);
            const bool fit = attempt(value(probe));
            (fit ? hi : lo) = probe;
            probe = guided && first ? (fit ? probe - tolerance : probe + tolerance) : (lo + hi) / 2;
        }
        return value(hi);
    };

    // The lowest lossy value that fits at these settings, when the highest does.
    auto lowestLossy = [&](ExportSettings s) -> std::optional<ExportSettings> {
        const int from = s.lossy;
        s.lossy = kMaxLossy;
        if (!attempt(s))
            return std::nullopt;
        ExportSettings at = s;
        at.lossy = from;
        if (attempt(at))
            return at;
        // Sizes wander a little with the value: bisection on exact sizes beats any guess there;
        // a step of 2 is finer than anyone sees.
        return nearestFitting(from, kMaxLossy, 2, false, [s](int lossy) {
            ExportSettings x = s;
            x.lossy = lossy;
            return x;
        });
    };

    ExportSettings s = normalized(start);
    auto finish = [&](const ExportSettings &found) {
        best.settings = normalized(found);
        best.size = exact(found, cancel)->size();
        best.met = best.size <= maxBytes;
        const int n = found.dropEvery;
        best.framesKept = n >= 2 ? mFrames - mFrames / n : mFrames;
        return best;
    };
    if (attempt(s))
        return finish(s);
    s.level = 2;
    // Quick figures pass over colour counts that are plainly too many (the margin covers their error).
    constexpr double kMargin = 1.15;
    for (int colours = s.colours;; colours = colours / 2) {
        ExportSettings at = s;
        at.colours = std::max(2, colours);
        at.lossy = kMaxLossy;
        const bool hopeless = at.colours > 2 && at.colours != s.colours &&
                              double(quickEstimate(at, cancel)) > kMargin * double(maxBytes);
        at.lossy = s.lossy;
        if (!hopeless)
            if (auto found = lowestLossy(at))
                return finish(*found);
        if (at.colours <= 2)
            break;
    }
    // Fewest frames dropped that fits: every n-th for the largest n that fits.
    s.colours = 2;
    s.lossy = kMaxLossy;
    if (mFrames >= 2) {
        ExportSettings at = s;
        at.dropEvery = 2;
        if (attempt(at)) {
            // Dropping every (frames + 1)-th drops nothing: known too big.
            return finish(nearestFitting(mFrames + 1, 2, 1, true, [this, s](int n) {
                ExportSettings x = s;
                x.dropEvery = n > mFrames ? 0 : n;
                return x;
            }));
        }
    }
    return finish(best.settings);
}

} // namespace doc
