#include "composer.h"

#include "gif_error.h"
#include "gif_writer.h"
#include "quantize.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace doc {

// --- FrameComposer -----------------------------------------------------------------------------

FrameComposer::FrameComposer(const TGIFImage &document)
    : mWidth(document.header.width)
    , mHeight(document.header.height)
{
    mComposerIndex.reserve(std::size_t(document.count()));
    for (int i = 0; i < document.count(); ++i) {
        const TGIFSubImage &sub = document.frame(i);
        // Indices short of the rectangle (no reader makes them) would be read past: left out.
        if (sub.hasPixels() && sub.pixelsCoverFrame()) {
            Frame f;
            f.sub = &sub;
            f.table = sub.colorMap().empty() ? &document.header.colorMap : &sub.colorMap();
            f.left = sub.left;
            f.top = sub.top;
            f.width = sub.width;
            f.height = sub.height;
            if (const TGIFGraphicControlExtension *gce = sub.graphicControl()) {
                f.disposal = gce->disposal();
                f.transparent = gce->transparent();
                f.transparentIndex = gce->transparentIndex;
            }
            mFrames.push_back(f);
        }
        mComposerIndex.push_back(std::max(0, int(mFrames.size()) - 1));
    }

    const bool anyTransparent =
        std::any_of(mFrames.begin(), mFrames.end(), [](const Frame &f) { return f.transparent; });
    if (!mFrames.empty() && mFrames[0].transparent) {
        mFill = tableColor(mFrames[0], mFrames[0].transparentIndex);
        mResultTransparent = mFill;
    } else if (!document.header.colorMap.empty() && anyTransparent) {
        const auto &global = document.header.colorMap.entries;
        mFill = document.header.background < global.size() ? global[document.header.background] : Rgb{};
    }
}

int FrameComposer::composerIndex(int documentFrame) const
{
    if (documentFrame < 0 || mComposerIndex.empty())
        return 0;
    return mComposerIndex[std::size_t(std::min(documentFrame, int(mComposerIndex.size()) - 1))];
}

void FrameComposer::setTrackCoverage(bool on)
{
    mTrackCoverage = on;
    mCoverage.clear();
    mLast = -1; // the plane must be rebuilt along with the next result
    mDrawn = nullptr;
}

Rgb FrameComposer::tableColor(const Frame &f, int index) const
{
    return std::size_t(index) < f.table->entries.size() ? f.table->entries[std::size_t(index)] : Rgb{};
}

int FrameComposer::startFrame(int i) const
{
    for (int k = i; k >= 1; --k) {
        const Frame &f = mFrames[std::size_t(k)];
        // Only a frame at (0, 0) covers the screen; one of screen size further in leaves a strip
        // where the frames before it still show.
        if (f.left != 0 || f.top != 0 || f.width != mWidth || f.height != mHeight)
            continue;
        // A frame before i that restores the previous picture hides nothing of what came first.
        if (k < i && f.disposal == 3)
            continue;
        if (!f.transparent || (f.disposal == 2 && k < i))
            return k;
    }
    return 0;
}

void FrameComposer::fillRect(int left, int top, int width, int height)
{
    const int x0 = std::max(left, 0);
    const int y0 = std::max(top, 0);
    const int x1 = std::min(left + width, mWidth);
    const int y1 = std::min(top + height, mHeight);
    if (x0 >= x1 || y0 >= y1)
        return;
    const std::size_t span = std::size_t(x1 - x0);
    uint8_t *first = mCanvas.row(y0) + std::size_t(x0) * 3;
    if (mFill.r == mFill.g && mFill.g == mFill.b) {
        std::memset(first, mFill.r, span * 3);
    } else {
        for (std::size_t x = 0; x < span; ++x) {
            first[3 * x] = mFill.r;
            first[3 * x + 1] = mFill.g;
            first[3 * x + 2] = mFill.b;
        }
    }
    for (int y = y0 + 1; y < y1; ++y)
        std::memcpy(mCanvas.row(y) + std::size_t(x0) * 3, first, span * 3);
    if (mTrackCoverage)
        for (int y = y0; y < y1; ++y)
            std::memset(mCoverage.data() + std::size_t(y) * mWidth + x0, 0, span);
    mDrawn = nullptr;
}

void FrameComposer::draw(const Frame &f)
{
    const int x0 = std::max(f.left, 0);
    const int y0 = std::max(f.top, 0);
    const int x1 = std::min(f.left + f.width, mWidth);
    const int y1 = std::min(f.top + f.height, mHeight);
    if (x0 >= x1 || y0 >= y1)
        return;

    std::array<uint8_t, 256 * 3> lut{}; // black beyond the table
    const std::size_t entries = std::min<std::size_t>(f.table->entries.size(), 256);
    for (std::size_t c = 0; c < entries; ++c) {
        lut[3 * c] = f.table->entries[c].r;
        lut[3 * c + 1] = f.table->entries[c].g;
        lut[3 * c + 2] = f.table->entries[c].b;
    }

    // Frames are composed in order, each once: rows decoded here are not worth a place in the cache.
    std::shared_ptr<const FramePixels> pixels = f.sub->passPixelStore();
    // Drawing a row again over itself changes nothing, transparent pixels included: a row the
    // frame drawn just before holds alike, at the same place with the same colours, is left as
    // it is (a recording repeats most rows from frame to frame; frames flattened at open each
    // have a table of their own, mostly the same).
    const FramePixels *before = mDrawn && mDrawnPixels && mDrawn->left == f.left && mDrawn->top == f.top &&
                                        mDrawn->width == f.width && mDrawn->height == f.height && (mDrawn->table == f.table || mDrawn->table->entries == f.table->entries) &&
                                        mDrawn->transparent == f.transparent && (!f.transparent || mDrawn->transparentIndex == f.transparentIndex)
                                    ? mDrawnPixels.get()
                                    : nullptr;
    mDrawn = nullptr;
    if (!pixels)
        return;
    const int span = x1 - x0;
    const int t = f.transparent ? f.transparentIndex : -1;
    for (int y = y0; y < y1; ++y) {
        uint8_t *dst = mCanvas.row(y) + std::size_t(x0) * 3;
        const uint8_t *src = pixels->row(y - f.top);
        if (before) {
            const uint8_t *was = before->row(y - f.top);
            if (src && was ? std::memcmp(src + (x0 - f.left), was + (x0 - f.left), std::size_t(span)) == 0
                           : !src && !was && pixels->rowValue(y - f.top) == before->rowValue(y - f.top))
                continue;
        }
        if (!src) {
            // A row of one value: one colour across the span, or nothing when it is transparent.
            const uint8_t v = pixels->rowValue(y - f.top);
            if (v != t) {
                const uint8_t *c = &lut[3 * std::size_t(v)];
                for (int x = 0; x < span; ++x) {
                    dst[3 * x] = c[0];
                    dst[3 * x + 1] = c[1];
                    dst[3 * x + 2] = c[2];
                }
                if (mTrackCoverage)
                    std::memset(mCoverage.data() + std::size_t(y) * mWidth + x0, 1, std::size_t(span));
            }
            continue;
        }
        src += x0 - f.left;
        if (t < 0) {
            for (int x = 0; x < span; ++x) {
                const uint8_t *c = &lut[3 * std::size_t(src[x])];
                dst[3 * x] = c[0];
                dst[3 * x + 1] = c[1];
                dst[3 * x + 2] = c[2];
            }
        } else {
            for (int x = 0; x < span; ++x) {
                if (src[x] == t)
                    continue;
                const uint8_t *c = &lut[3 * std::size_t(src[x])];
                dst[3 * x] = c[0];
                dst[3 * x + 1] = c[1];
                dst[3 * x + 2] = c[2];
            }
        }
        if (mTrackCoverage) {
            uint8_t *cov = mCoverage.data() + std::size_t(y) * mWidth + x0;
            for (int x = 0; x < span; ++x)
                cov[x] |= uint8_t(src[x] != t);
        }
    }
    mDrawn = &f;
    mDrawnPixels = std::move(pixels);
}

Picture FrameComposer::ComposedFrame(int i)
{
    Picture result = composedCanvas(i);
    result.setDesignatedTransparentColor(mResultTransparent);
    return result;
}

const Picture &FrameComposer::composedCanvas(int i)
{
    if (mCanvas.width() != mWidth || mCanvas.height() != mHeight) {
        // A screen a few bytes can announce: refused before its canvas and result are allocated.
        if (std::size_t(mWidth) * std::size_t(mHeight) * 3 * 2 > kFlattenBudget)
            throw GifError(GifErrorKind::TooLarge);
        mCanvas = Picture(mWidth, mHeight, PixelFormat::Rgb24);
        mDrawn = nullptr;
    }
    if (mTrackCoverage && mCoverage.size() != std::size_t(mWidth) * mHeight)
        mCoverage.assign(std::size_t(mWidth) * mHeight, 0);

    const int n = count();
    i = std::clamp(i, 0, std::max(n - 1, 0));
    if (n == 0) {
        fillRect(0, 0, mWidth, mHeight);
    } else if (i == mLast) {
        // The canvas already shows frame i (a document frame without an image repeats it).
    } else if (mLast >= 0 && mLast == i - 1 && mFrames[std::size_t(i - 1)].disposal != 3) {
        const Frame &prev = mFrames[std::size_t(i - 1)];
        if (prev.disposal == 2)
            fillRect(prev.left, prev.top, prev.width, prev.height);
        draw(mFrames[std::size_t(i)]);
    } else {
        fillRect(0, 0, mWidth, mHeight);
        const int s = startFrame(i);
        for (int k = s; k < i; ++k) {
            const Frame &f = mFrames[std::size_t(k)];
            if (f.disposal == 2) {
                if (k > s)
                    fillRect(f.left, f.top, f.width, f.height);
            } else if (f.disposal != 3) {
                draw(f);
            }
        }
        draw(mFrames[std::size_t(i)]);
    }
    mLast = n == 0 ? -1 : i;
    return mCanvas;
}

// --- FlattenFrames -----------------------------------------------------------------------------

std::size_t flattenBytes(int width, int height, int frames, int inFlight, int bytesPerPixelInFlight)
{
    const std::size_t area = std::size_t(std::max(width, 0)) * std::size_t(std::max(height, 0));
    return area * std::size_t(std::max(bytesPerPixelInFlight, 0)) * std::size_t(std::max(inFlight, 0))
        + area * std::size_t(std::max(frames, 0));
}

namespace {

/** A composed picture on its way to the reduction; `covered` is empty unless results are transparent. */
struct Job {
    int index = 0;
    Picture composed;
    std::vector<uint8_t> covered;
};

/**
 * A reduced picture and the entry its copied transparent graphic controls will name. A large
 * picture's indices are compressed at once (its pixels then emptied), so that an animation of any
 * length is held as codes.
 */
struct Reduced {
    Picture picture;
    std::shared_ptr<PixelSlot> codes;
    std::optional<uint8_t> transparentEntry;
};

/** Compresses the indices of a large reduced picture, as the writer would encode them for its table. */
void compress(Reduced &r)
{
    Picture &p = r.picture;
    if (p.data().size() < kCachedFrameMinimum)
        return;
    TGIFColorMap table;
    table.entries = p.palette();
    CompressedPixels c;
    c.width = p.width();
    c.height = p.height();
    c.minCodeSize = std::max(2, table.bitSize());
    c.ours = true;
    const FramePixels rows(p.width(), p.height(), std::move(p.data()));
    c.highest = rows.highest();
    if (c.minCodeSize < 8 && c.highest >= (1u << c.minCodeSize))
        c.minCodeSize = 8;
    c.codes = encodeLzwCodes(rows, c.minCodeSize);
    c.codes.insert(c.codes.end(), 8, 0);
    p.data() = {};
    // In a slot at once, so that codes beyond their budget go to the spill file as they come.
    r.codes = PixelSlot::fromCodes(std::move(c));
}

/**
 * The entry of the new table that transparent graphic controls of this frame name. The old index
 * named a colour of the old table; kept as it stands it would hide whatever pixels of the
 * composed picture reduced to that entry.
 *
 * When the composed pictures are transparent (their fill colour marked), the entry is the one the
 * unpainted pixels took. Painted pixels that happen to have the fill colour are moved to a spare
 * entry of the same colour, or they too would be hidden and the frame below would show through.
 * Otherwise the entry is one no pixel uses, so the frame shows exactly the composed picture.
 * nullopt when no entry fits: the flag is then cleared.
 */
std::optional<uint8_t> transparentEntry(Picture &reduced, const std::vector<uint8_t> &covered,
                                        const std::optional<Rgb> &fill)
{
    std::vector<Rgb> &palette = reduced.palette();
    std::vector<uint8_t> &pixels = reduced.data();
    const std::size_t entries = std::min<std::size_t>(palette.size(), 256);
    std::array<bool, 256> used{};
    for (uint8_t p : pixels)
        used[p] = true;
    auto spare = [&]() -> std::optional<uint8_t> {
        for (std::size_t c = 0; c < entries; ++c)
            if (!used[c])
                return uint8_t(c);
        return std::nullopt;
    };

    if (!fill)
        return spare();

    // The entry of the unpainted pixels (all of the fill colour, so all of one entry).
    std::optional<uint8_t> entry;
    bool paintedOnEntry = false;
    if (covered.size() == pixels.size()) {
        for (std::size_t k = 0; k < pixels.size() && !entry; ++k)
            if (!covered[k])
                entry = pixels[k];
        if (entry)
            for (std::size_t k = 0; k < pixels.size() && !paintedOnEntry; ++k)
                paintedOnEntry = covered[k] && pixels[k] == *entry;
    } else {
        for (std::size_t c = 0; c < entries && !entry; ++c)
            if (used[c] && palette[c] == *fill)
                entry = uint8_t(c);
    }
    if (!entry) {
        // Nothing unpainted: a spare entry of the fill colour keeps the pictures' transparent colour.
        entry = spare();
        if (entry)
            palette[*entry] = *fill;
        return entry;
    }
    if (paintedOnEntry) {
        if (const std::optional<uint8_t> twin = spare()) {
            palette[*twin] = palette[*entry];
            for (std::size_t k = 0; k < pixels.size(); ++k)
                if (covered[k] && pixels[k] == *entry)
                    pixels[k] = *twin;
        }
    }
    return entry;
}

/** The new frame that replaces `original`: the reduced picture at (0, 0) with copied extensions. */
TGIFSubImage flattenedFrame(const TGIFSubImage &original, Reduced reduced)
{
    TGIFSubImage f;
    f.left = 0;
    f.top = 0;
    f.width = uint16_t(reduced.picture.width());
    f.height = uint16_t(reduced.picture.height());
    f.interlaced = false;
    for (int e = 0; e < original.extensionCount(); ++e) {
        const TGIFExtension *source = original.extension(e);
        TGIFExtension *copy = f.appendExtension(source->clone());
        if (source == original.graphicControl())
            f.setGraphicControl(static_cast<TGIFGraphicControlExtension *>(copy));
        if (auto *gce = extension_cast<TGIFGraphicControlExtension>(copy); gce && gce->transparent()) {
            if (reduced.transparentEntry)
                gce->transparentIndex = *reduced.transparentEntry;
            else
                gce->setTransparent(false);
        }
    }
    TGIFColorMap map;
    map.entries = std::move(reduced.picture.palette());
    f.setColorMap(std::move(map));
    if (reduced.codes)
        f.setPixelSlot(std::move(reduced.codes));
    else
        f.setPixels(std::move(reduced.picture.data()));
    return f;
}

/**
 * Reduces composed pictures on a few threads. The queue is bounded so that only a few
 * full-screen pictures are alive at once however long the animation is.
 */
class ReductionPool
{
public:
    ReductionPool(int workers, std::vector<Reduced> &results, std::optional<Rgb> fill)
        : mResults(results)
        , mFill(fill)
        , mCapacity(std::size_t(workers))
    {
        for (int w = 0; w < workers; ++w)
            mThreads.emplace_back([this] { run(); });
    }

    ~ReductionPool() { finish(); }

    /** Hands over a composed picture; waits while the queue is full. False once a job failed. */
    bool push(Job job)
    {
        std::unique_lock lock(mMutex);
        mSpace.wait(lock, [this] { return mQueue.size() < mCapacity || mError; });
        if (mError)
            return false;
        mQueue.push_back(std::move(job));
        mWork.notify_one();
        return true;
    }

    /** Waits until `done` results exist or a job failed; returns the count reached. */
    int waitDone(int done)
    {
        std::unique_lock lock(mMutex);
        mProgress.wait(lock, [&] { return mDone >= done || mError; });
        return mDone;
    }

    int done()
    {
        std::lock_guard lock(mMutex);
        return mDone;
    }

    /** Lets the workers drain the queue and stop. */
    void finish()
    {
        {
            std::lock_guard lock(mMutex);
            mClosing = true;
        }
        mWork.notify_all();
        for (auto &t : mThreads)
            if (t.joinable())
                t.join();
        mThreads.clear();
    }

    /** Rethrows the first failure of a job, once the workers have stopped. */
    void rethrow()
    {
        if (mError)
            std::rethrow_exception(mError);
    }

private:
    void run()
    {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(mMutex);
                mWork.wait(lock, [this] { return !mQueue.empty() || mClosing || mError; });
                if (mError || mQueue.empty())
                    return;
                job = std::move(mQueue.front());
                mQueue.pop_front();
            }
            mSpace.notify_one();
            try {
                Reduced r;
                r.picture =
                    ReduceBitmapColors(job.composed, ReductionMode::OctreeQuantize, DitherMode::NearestColor, 8);
                job.composed = Picture(); // free the composed picture before the next one comes
                r.transparentEntry = transparentEntry(r.picture, job.covered, mFill);
                job.covered = std::vector<uint8_t>();
                compress(r);
                std::lock_guard lock(mMutex);
                mResults[std::size_t(job.index)] = std::move(r);
                ++mDone;
            } catch (...) {
                std::lock_guard lock(mMutex);
                if (!mError)
                    mError = std::current_exception();
                mQueue.clear();
            }
            mProgress.notify_all();
            mSpace.notify_all();
            mWork.notify_all();
        }
    }

    std::vector<Reduced> &mResults;
    const std::optional<Rgb> mFill;
    const std::size_t mCapacity;
    std::vector<std::thread> mThreads;
    std::mutex mMutex;
    std::condition_variable mWork;
    std::condition_variable mSpace;
    std::condition_variable mProgress;
    std::deque<Job> mQueue;
    std::exception_ptr mError;
    int mDone = 0;
    bool mClosing = false;
};

int resolveWorkers(int workers)
{
    if (workers > 0)
        return std::min(workers, 16);
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(int(cores), 1, 4);
}

} // namespace

void FlattenFrames(TGIFImage &document, int workers)
{
    const int n = document.count();
    FrameComposer composer(document);
    const int w = composer.width();
    const int h = composer.height();
    workers = resolveWorkers(workers);

    // Transparent results need to know which pixels frames painted (one byte a pixel more).
    const std::optional<Rgb> fill = composer.resultTransparentColor();
    composer.setTrackCoverage(fill.has_value());
    const int bytesPerPixel = fill ? 4 : 3;

    // In flight: the composer's canvas, the queue (one slot per worker), the picture each worker
    // holds and the one being handed over. A large screen gets fewer workers before it is refused.
    auto inFlight = [](int workerCount) { return 2 * workerCount + 2; };
    // The flattened frames themselves are held as codes: only the pictures in flight count.
    while (workers > 1 && flattenBytes(w, h, 0, inFlight(workers), bytesPerPixel) > kFlattenBudget)
        --workers;
    if (flattenBytes(w, h, 0, inFlight(workers), bytesPerPixel) > kFlattenBudget)
        throw GifError(GifErrorKind::TooLarge);
    if (n > 0 && (w == 0 || h == 0))
        throw GifError(GifErrorKind::InvalidDimensions);

    std::vector<Reduced> reduced(static_cast<std::size_t>(n));
    const ProgressScope scope(document, "Converting...");
    {
        ReductionPool pool(workers, reduced, fill);
        int reported = -1;
        auto report = [&](int done) {
            const int percent = n ? done * 100 / n : 100;
            if (percent != reported) {
                reported = percent;
                scope.running(percent);
            }
        };
        for (int i = 0; i < n; ++i) {
            Job job;
            job.index = i;
            job.composed = composer.ComposedFrame(composer.composerIndex(i));
            if (fill)
                job.covered = composer.coverage();
            if (!pool.push(std::move(job)))
                break;
            report(pool.done());
        }
        for (int done = pool.done(); done < n;) {
            const int reached = pool.waitDone(done + 1);
            if (reached == done)
                break; // a job failed
            done = reached;
            report(done);
        }
        pool.finish();
        pool.rethrow();
    }

    TGIFImage flattened;
    flattened.header.width = uint16_t(w);
    flattened.header.height = uint16_t(h);
    flattened.transparentDrawing = document.transparentDrawing;
    flattened.onProgress = document.onProgress;
    flattened.onWarning = document.onWarning;
    for (int i = 0; i < n; ++i)
        flattened.appendFrame(flattenedFrame(document.frame(i), std::move(reduced[std::size_t(i)])));
    document = std::move(flattened);
}

} // namespace doc
