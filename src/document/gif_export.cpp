#include "gif_export.h"

#include "atomic_file.h"
#include "composer.h"
#include "gif_optimize.h"
#include "gif_optimize_deep.h"
#include "lzw_tuned.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <future>
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
                       const std::atomic<bool> *cancel, const std::vector<int> *rows)
{
    const std::vector<const TGIFSubImage *> sources = imageFrames(document);
    FrameComposer composer(document);
    composer.setTrackCoverage(true);
    const int n = std::min(composer.count(), int(sources.size()));
    const int W = composer.width();
    std::vector<int> keptRows;
    if (rows) {
        for (int y : *rows)
            if (y >= 0 && y < composer.height())
                keptRows.push_back(y);
    } else {
        for (int y = 0; y < composer.height(); ++y)
            keptRows.push_back(y);
    }
    const int H = int(keptRows.size());
    TGIFImage out;
    out.header.width = rows ? uint16_t(W) : document.header.width;
    out.header.height = rows ? uint16_t(H) : document.header.height;
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

    // The rows kept of a composed frame, and for each of their pixels whether a frame painted it.
    struct Rows {
        Picture picture;
        std::vector<uint8_t> covered;
    };
    auto takeRows = [&](const Picture &composed, const FrameComposer &from) {
        Rows r{Picture(W, H, PixelFormat::Rgb24), std::vector<uint8_t>(std::size_t(W) * H)};
        for (int i = 0; i < H; ++i) {
            std::copy_n(composed.row(keptRows[std::size_t(i)]), std::size_t(W) * 3, r.picture.row(i));
            std::copy_n(from.coverage().data() + std::size_t(keptRows[std::size_t(i)]) * W, W,
                        r.covered.data() + std::size_t(i) * W);
        }
        return r;
    };

    // Pass one: the colours of every frame kept, and whether any pixel is left unpainted.
    ColorHistogram histogram;
    bool unpainted = false;
    for (std::size_t i = 0, next = 0; int(i) < n && next < kept.size(); ++i) {
        checkpoint(cancel);
        const Picture composed = composer.ComposedFrame(int(i));
        if (int(i) != kept[next].frame)
            continue;
        ++next;
        const Rows r = takeRows(composed, composer);
        histogram.add(r.picture);
        unpainted = unpainted || std::find(r.covered.begin(), r.covered.end(), uint8_t(0)) != r.covered.end();
    }
    const int budget = std::max(1, colours - (unpainted ? 1 : 0));
    std::vector<Rgb> palette = histogram.fewColors();
    if (palette.empty() || int(palette.size()) > budget)
        palette = histogram.bestPalette(budget);
    const int transparentIndex = unpainted ? int(palette.size()) : -1;
    {
        std::vector<Rgb> table = palette;
        std::size_t size = 2;
        while (size < palette.size() + (unpainted ? 1 : 0))
            size *= 2;
        table.resize(size, Rgb{});
        out.header.colorMap.entries = std::move(table);
    }

    // Pass two: each frame kept mapped onto the palette (beside the composition of the next ones),
    // placed whole with the palette as the global table.
    // One mapper for every frame: the nearest entries found for one frame serve the next ones.
    const PaletteMapper mapper(palette);
    auto map = [&mapper, dither, transparentIndex](Rows r) {
        Picture mapped = mapper.map(r.picture, dither);
        std::vector<uint8_t> indices = std::move(mapped.data());
        if (transparentIndex >= 0)
            for (std::size_t p = 0; p < indices.size(); ++p)
                if (!r.covered[p])
                    indices[p] = uint8_t(transparentIndex);
        return indices;
    };
    auto append = [&](const Kept &k, std::vector<uint8_t> indices) {
        TGIFSubImage frame;
        frame.width = uint16_t(W);
        frame.height = uint16_t(H);
        frame.setPixels(std::move(indices));
        TGIFGraphicControlExtension *g = frame.addGraphicControl();
        g->delay = uint16_t(std::min<uint32_t>(k.delay, 0xFFFF));
        g->setUserInput(k.userInput);
        // Whole frames with holes: each clears itself so that no earlier frame shows through.
        g->setDisposal(unpainted ? 2 : 1);
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
    std::deque<std::future<std::vector<uint8_t>>> mapping;
    std::size_t appended = 0;
    try {
        for (std::size_t i = 0, next = 0; int(i) < n && next < kept.size(); ++i) {
            checkpoint(cancel);
            const Picture composed = again.ComposedFrame(int(i));
            if (int(i) != kept[next].frame)
                continue;
            ++next;
            mapping.push_back(std::async(std::launch::async, map, takeRows(composed, again)));
            while (mapping.size() > 2) {
                append(kept[appended++], mapping.front().get());
                mapping.pop_front();
            }
        }
        while (!mapping.empty()) {
            append(kept[appended++], mapping.front().get());
            mapping.pop_front();
        }
    } catch (...) {
        for (auto &m : mapping)
            m.wait();
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

std::size_t Exporter::sampleSize(const ExportSettings &s, const std::atomic<bool> *cancel)
{
    if (!mSample) {
        // Every frame, so that what changes from frame to frame costs what it costs in the whole;
        // one band of 8 rows in 8, so that the sample covers the screen at an eighth of the work.
        std::vector<int> rows;
        const int height = mDocument->header.height;
        for (int y = 0; y < height; ++y)
            if ((y / 8) % 8 == 0)
                rows.push_back(y);
        mSampleShare = height > 0 ? double(rows.size()) / double(height) : 1.0;
        mSample = std::make_shared<Exporter>(composedCopy(*mDocument, 256, Dithering::None, 0, cancel, &rows));
    }
    const ExportSettings n = normalized(s);
    auto it = mSample->mSizes.find(n);
    if (it != mSample->mSizes.end())
        return it->second;
    // Dropping is a matter of whole frames: the sample drops from its own frames alike.
    return mSample->exact(n, cancel)->size();
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
    // The nearest settings whose exact size is known: same level first, then the closest values.
    const ExportSettings *nearest = nullptr;
    std::size_t nearestSize = 0;
    long best = 0;
    for (const auto &[known, size] : mSizes) {
        const long distance = (known.level != s.level) * 100000L + (known.colours != s.colours) * 10000L +
                              (known.dither != s.dither) * 5000L + (known.dropEvery != s.dropEvery) * 5000L +
                              std::abs(known.lossy - s.lossy);
        if (!nearest || distance < best) {
            nearest = &known;
            nearestSize = size;
            best = distance;
        }
    }
    const double sampled = double(sampleSize(s, cancel));
    if (!nearest)
        return std::size_t(std::llround(sampled / mSampleShare));
    const double reference = double(sampleSize(*nearest, cancel));
    return std::size_t(std::llround(double(nearestSize) * sampled / std::max(1.0, reference)));
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
