#include "gif_optimize_deep.h"

#include "atomic_file.h"
#include "composer.h"
#include "gif_optimize.h"
#include "gif_reader.h"
#include "lzw_tuned.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <future>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

namespace doc {

namespace {

// A screen pixel as a number: its colour, or kUnpainted where no frame has drawn.
constexpr uint32_t kUnpainted = 0x1000000u;
constexpr uint32_t kEmptyKey = 0xFFFFFFFFu;
// A pixel whose colour the global table lacks; the table holds at most 255 colours.
constexpr uint8_t kNoSlot = 255;
// Four screens are held at once (what shows, this frame, the next one, the frame's indices).
constexpr std::size_t kScreenBudget = std::size_t(1) << 30;

/** The animation cannot be rewritten frame by frame: the plain optimisation is used instead. */
struct NotRewritable {};

uint32_t pack(const Rgb &c)
{
    return uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b;
}

Rgb unpack(uint32_t v)
{
    return Rgb{uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

/** Colours to table indices for at most 256 colours: open addressing, no allocation a lookup. */
class ColorIndex
{
public:
    ColorIndex() { mKeys.fill(kEmptyKey); }

    /** The colour's index, adding it when there is room; -1 when the table is full. */
    int add(uint32_t color)
    {
        std::size_t slot = hash(color);
        while (mKeys[slot] != kEmptyKey) {
            if (mKeys[slot] == color)
                return mValues[slot];
            slot = (slot + 1) & (kSlots - 1);
        }
        if (mColors.size() >= 256)
            return -1;
        mKeys[slot] = color;
        mValues[slot] = uint8_t(mColors.size());
        mColors.push_back(color);
        return mValues[slot];
    }
    int find(uint32_t color) const
    {
        std::size_t slot = hash(color);
        while (mKeys[slot] != kEmptyKey) {
            if (mKeys[slot] == color)
                return mValues[slot];
            slot = (slot + 1) & (kSlots - 1);
        }
        return -1;
    }
    int size() const { return int(mColors.size()); }
    const std::vector<uint32_t> &colors() const { return mColors; }

private:
    static constexpr std::size_t kSlots = 1024;
    static std::size_t hash(uint32_t c) { return (c * 0x9E3779B1u) >> 22; }

    std::array<uint32_t, kSlots> mKeys;
    std::array<uint8_t, kSlots> mValues{};
    std::vector<uint32_t> mColors;
};

struct Box {
    int x0 = std::numeric_limits<int>::max(), y0 = std::numeric_limits<int>::max(), x1 = -1, y1 = -1; // inclusive

    bool empty() const { return x1 < x0; }
    void add(int x, int y)
    {
        x0 = std::min(x0, x);
        x1 = std::max(x1, x);
        y0 = std::min(y0, y);
        y1 = std::max(y1, y);
    }
    void add(const Box &o)
    {
        if (!o.empty()) {
            add(o.x0, o.y0);
            add(o.x1, o.y1);
        }
    }
    int width() const { return x1 - x0 + 1; }
    int height() const { return y1 - y0 + 1; }
};

Box united(Box a, const Box &b)
{
    a.add(b);
    return a;
}

/** Copies the pixels of `box` from one screen to another. */
void copyBox(std::vector<uint32_t> &to, const std::vector<uint32_t> &from, const Box &box, int stride)
{
    for (int y = box.y0; y <= box.y1; ++y) {
        const std::size_t at = std::size_t(y) * stride + box.x0;
        std::memcpy(to.data() + at, from.data() + at, std::size_t(box.width()) * 4);
    }
}

int bitSizeOf(int entries)
{
    int b = 1;
    while ((1 << b) < entries)
        ++b;
    return b;
}

// Kept pixels: all transparent, all their colour, or each as the codes find shorter.
enum class Kept { Transparent, Colour, Either };

/**
 * The census slots a region draws and those it shows unchanged: in the order first met where the
 * region is encoded (a local table lists its colours so), in slot order where only which slots are
 * used matters (the guess at the global table's order).
 */
struct SlotUse {
    std::array<bool, 256> drawn{}, shown{};
    std::vector<uint8_t> drawnOrder, shownOrder;
};

/** One way to write a frame: its table, its indices, its codes and what the whole costs. */
struct Encoding {
    bool local = false;
    std::vector<Rgb> table; // the local table
    int transparent = -1;
    int minCodeSize = 2;
    std::vector<uint8_t> indices;
    TunedCodes codes;
    std::size_t cost = std::numeric_limits<std::size_t>::max();
    // Made in a guessed order of the global table: the slots the region uses and the way its
    // unchanged pixels were written, to tell whether the final order gives the same codes.
    std::shared_ptr<const SlotUse> use;
    Kept kept = Kept::Transparent;
};

/**
 * The threads that encode frames for the length of one rewrite. Threads that live as long as the
 * work keep their encoder's tables: a thread started for each frame would build them again, which
 * costs more than encoding a small frame.
 */
class EncoderThreads
{
public:
    explicit EncoderThreads(int count)
        : mCount(count)
    {
    }
    /** Jobs not started are dropped (their futures report a broken promise); running ones finish. */
    ~EncoderThreads()
    {
        {
            std::lock_guard lock(mMutex);
            mStop = true;
            mJobs.clear();
        }
        mWake.notify_all();
        for (std::thread &t : mThreads)
            t.join();
    }

    std::future<Encoding> run(std::function<Encoding()> job)
    {
        std::packaged_task<Encoding()> task(std::move(job));
        std::future<Encoding> result = task.get_future();
        {
            std::lock_guard lock(mMutex);
            mJobs.push_back(std::move(task));
            if (int(mThreads.size()) < mCount && mIdle == 0)
                mThreads.emplace_back([this] { work(); });
        }
        mWake.notify_one();
        return result;
    }

private:
    void work()
    {
        std::unique_lock lock(mMutex);
        for (;;) {
            ++mIdle;
            mWake.wait(lock, [this] { return mStop || !mJobs.empty(); });
            --mIdle;
            if (mStop)
                return;
            std::packaged_task<Encoding()> task = std::move(mJobs.front());
            mJobs.pop_front();
            lock.unlock();
            task();
            lock.lock();
        }
    }

    const int mCount;
    std::mutex mMutex;
    std::condition_variable mWake;
    std::deque<std::packaged_task<Encoding()>> mJobs;
    std::vector<std::thread> mThreads;
    int mIdle = 0;
    bool mStop = false;
};

class Rewriter
{
public:
    Rewriter(const TGIFImage &document, const DeepOptions &options, std::function<void()> onFrame = {})
        : mDocument(document)
        , mOptions(options)
        , mOnFrame(std::move(onFrame))
        , mComposer(document)
    {
        mComposer.setTrackCoverage(true);
        for (int i = 0; i < document.count(); ++i) {
            const TGIFSubImage &f = document.frame(i);
            if (f.hasPixels() && f.pixelsCoverFrame())
                mSources.push_back(&f);
        }
    }

    TGIFImage run()
    {
        const int W = mComposer.width(), H = mComposer.height();
        const int n = mComposer.count();
        if (n == 0 || W <= 0 || H <= 0 || std::size_t(W) * std::size_t(H) * 16 > kScreenBudget)
            throw NotRewritable{};
        mW = W;
        mH = H;
        const std::size_t area = std::size_t(W) * std::size_t(H);

        takeCensus();

        TGIFImage out;
        out.header.width = mDocument.header.width;
        out.header.height = mDocument.header.height;

        // Three screens: what shows before this frame, this frame's picture and, composed in
        // place, the next one. Most frames change little: boxes bound where screens can differ,
        // so that no pass looks at the whole screen. `shown` differs from `current` only inside
        // `shownDiffers`, the next picture from `current` only inside `nextDiffers`.
        std::vector<uint32_t> shown(area, kUnpainted), current(area);
        compose(0);
        current = mComposed;
        const std::vector<uint32_t> &next = mComposed;
        Box shownDiffers{0, 0, W - 1, H - 1}, nextDiffers;
        bool nextUnpainted = false;
        int lastDisposal = 1;
        for (int k = 0; k < n; ++k) {
            if (mOnFrame)
                mOnFrame();
            const bool hasNext = k + 1 < n;
            nextDiffers = Box{};
            if (hasNext)
                nextUnpainted = compose(k + 1, &nextDiffers);
            const TGIFGraphicControlExtension *source = mSources[std::size_t(k)]->graphicControl();
            const uint16_t delay = source ? source->delay : 0;
            const bool userInput = source && source->userInput();

            // A picture that repeats the one before only lengthens it.
            if (k > 0 && lastDisposal == 1 && !userInput && !anyDifference(current, shown, shownDiffers) &&
                !(hasNext && nextUnpainted && needsClearing(current, next, nextDiffers))) {
                Pending &prev = mPending.back();
                if (!prev.userInput && prev.delay + delay <= 0xFFFF) {
                    prev.delay = uint16_t(prev.delay + delay);
                    copyBox(current, next, nextDiffers, W);
                    shownDiffers = nextDiffers;
                    continue;
                }
            }

            // What this frame has to draw.
            Box changed;
            for (int y = shownDiffers.y0; y <= shownDiffers.y1; ++y) {
                const uint32_t *t = current.data() + std::size_t(y) * W;
                const uint32_t *s = shown.data() + std::size_t(y) * W;
                if (std::memcmp(t + shownDiffers.x0, s + shownDiffers.x0, std::size_t(shownDiffers.width()) * 4) == 0)
                    continue;
                for (int x = shownDiffers.x0; x <= shownDiffers.x1; ++x)
                    if (t[x] != s[x]) {
                        // What shows can only be cleared by the disposal of the frame before.
                        if (t[x] == kUnpainted)
                            throw NotRewritable{};
                        changed.add(x, y);
                    }
            }

            int disposal = 1;
            Box rect = changed;
            if (hasNext)
                disposal = chooseDisposal(shown, current, next, nextUnpainted, shownDiffers, nextDiffers, changed, rect);
            if (rect.empty()) {
                rect.add(0, 0); // a frame must draw something; one transparent pixel shows nothing new
            }

            Pending pending;
            pending.rect = rect;
            pending.disposal = disposal;
            pending.delay = delay;
            pending.userInput = userInput;
            pending.region = regionOf(shown, current, rect, *mSources[std::size_t(k)]);
            mPending.push_back(std::move(pending));
            if (mGlobal && !mOrdered) {
                // Frames wait for the global table's order, which their colours decide.
                SlotUse use;
                const int drawn = countColours(mPending.back().region, use);
                mWaitingPixels += mPending.back().region.kind.size();
                if (mWaitingPixels > kWaitingBudget)
                    fixOrder();
                else
                    startBeforeOrder(mPending.back(), drawn, use);
            }
            if (!mGlobal || mOrdered) {
                // Encoding is most of the work: it runs beside the composition of the frames after.
                while (mPending.size() > 2)
                    finishOldest(out);
                startEncodings();
            }

            // What the screen shows for the next frame: this frame drawn, then disposed of.
            if (disposal == 2) {
                copyBox(shown, current, shownDiffers, W);
                for (int y = rect.y0; y <= rect.y1; ++y)
                    std::fill_n(shown.data() + std::size_t(y) * W + rect.x0, rect.width(), kUnpainted);
                shownDiffers = united(nextDiffers, rect);
            } else if (disposal != 3) {
                copyBox(shown, current, shownDiffers, W);
                shownDiffers = nextDiffers;
            } else {
                shownDiffers.add(nextDiffers);
            }
            lastDisposal = disposal;
            copyBox(current, next, nextDiffers, W);
        }

        if (mGlobal) {
            if (!mOrdered)
                fixOrder();
            out.header.colorMap.entries = mTable;
            // One spare entry, so that every frame has an index it does not draw to make transparent.
            out.header.colorMap.entries.push_back(Rgb{});
        }
        while (!mPending.empty()) {
            startEncodings();
            finishOldest(out);
        }
        if (mGlobal) {
            // Entries past those the frames write are dead weight; with none written, so is the table.
            out.header.colorMap.entries.resize(std::size_t(mGlobalEntries));
        }
        if (out.count() >= 2)
            for (int e = 0; e < mDocument.frame(0).extensionCount(); ++e)
                if (mDocument.frame(0).extension(e)->kind() == ExtensionKind::Loop) {
                    out.frame(0).insertExtension(0, mDocument.frame(0).extension(e)->clone());
                    break;
                }
        return out;
    }

private:
    enum class Labels { Final, Slot, Guess };

    /** What a frame's rectangle holds: its colours and, per pixel, what it may be written as. */
    struct Region {
        int w = 0, h = 0;
        // Colours where the global table does not serve; else each pixel's entry in the census
        // (kNoSlot where the table lacks it: such a pixel may only be left transparent).
        std::vector<uint32_t> colors;
        std::vector<uint8_t> slots;
        bool fitsGlobal = true;
        // 0 must be drawn, 1 may be transparent or repeat its colour, 2 must stay transparent.
        std::vector<uint8_t> kind;
        bool anyKept = false, anyClear = false;
        // The codes the input frame over the same rectangle was read from, where they were kept.
        std::shared_ptr<const CompressedPixels> sourceCodes;
        const TGIFColorMap *sourceTable = nullptr;
        int sourceTransparent = -1;
        // The entries the global table gives its census slots: the final order, the slots
        // themselves, or a guess at the order made before it is fixed.
        Labels labels = Labels::Final;
    };

    /** A frame whose rectangle and disposal are chosen, its encoding on its way or still to start. */
    struct Pending {
        Box rect;
        int disposal = 1;
        uint16_t delay = 0;
        bool userInput = false;
        Region region;
        std::future<Encoding> encoding;
        Labels labels = Labels::Final;
        // A region encoded in a guessed order, kept to be encoded again if the final order differs
        // where it matters, and to weigh its input's codes.
        std::shared_ptr<Region> guessed;
        // Its encoding, once it has been checked against the final order.
        std::optional<Encoding> settled;
    };

    // Frames wait for the order of the global table up to this many pixels; the order is then
    // fixed from the frames seen so far.
    static constexpr std::size_t kWaitingBudget = std::size_t(64) << 20;

    /** Starts the encoding of the two oldest frames, those the writing waits for first. */
    void startEncodings()
    {
        for (std::size_t i = 0; i < mPending.size() && i < 2; ++i) {
            Pending &p = mPending[i];
            if (!p.encoding.valid())
                p.encoding = mEncoders.run([this, region = std::move(p.region)] { return encodeRegion(region); });
        }
    }

    /**
     * Counts, per census colour, the frames that draw it and its pixels; returns how many colours
     * the region draws. `use` gets the slots it draws and shows unchanged (in slot order).
     */
    int countColours(const Region &r, SlotUse &use)
    {
        int drawn = 0;
        std::array<bool, 256> &seen = use.drawn, &shown = use.shown;
        for (std::size_t i = 0; i < r.kind.size(); ++i) {
            const uint8_t k = r.kind[i], slot = r.slots[i];
            if (k == 1)
                shown[slot] = true;
            if (k == 0 && slot != kNoSlot) {
                ++mPixelsOf[slot];
                if (!seen[slot]) {
                    seen[slot] = true;
                    ++mFramesOf[slot];
                    ++drawn;
                }
            }
        }
        for (int s = 0; s < 256; ++s) {
            shown[std::size_t(s)] = shown[std::size_t(s)] || seen[std::size_t(s)];
            if (seen[std::size_t(s)])
                use.drawnOrder.push_back(uint8_t(s));
            if (shown[std::size_t(s)])
                use.shownOrder.push_back(uint8_t(s));
        }
        return drawn;
    }

    /**
     * A frame that draws more than 128 colours of the global table takes codes of 8 bits whatever
     * the table's order, and the lengths of its codes do not depend on which entry stands for which
     * colour: it need not wait for the order. It is encoded at once with the census slots as its
     * entries and renumbered once the order is fixed.
     *
     * Other frames are encoded at once in the order the census foretells, when it is likely to
     * hold for them: where the final order gives the same code size, the same entries within reach
     * and the same meeting of the transparent entry with a colour, the codes differ only in which
     * entry stands for which colour and are renumbered; elsewhere the frame is encoded again.
     * Their input's codes are weighed once the order is fixed.
     */
    void startBeforeOrder(Pending &p, int drawn, const SlotUse &use)
    {
        if (mOptions.lossy != 0)
            return;
        if (drawn > 128 && !p.region.sourceCodes) {
            p.labels = p.region.labels = Labels::Slot;
            p.encoding = mEncoders.run([this, region = std::move(p.region)] { return encodeRegion(region); });
            return;
        }
        if (!mGuessed || !guessHolds(p.region, use))
            return;
        p.labels = p.region.labels = Labels::Guess;
        p.guessed = std::make_shared<Region>(std::move(p.region));
        p.encoding = mEncoders.run([this, region = p.guessed] { return encodeRegion(*region); });
    }

    /**
     * The entries a global way of writing a region takes in the order `entryOf`: how many the
     * codes reach, the transparent one, and per slot whether an unchanged pixel of it may keep its
     * colour (Kept::Either).
     */
    struct Layout {
        int entries = 0;
        int transparent = -1;
        std::array<uint8_t, 256> mayKeep{};
    };
    Layout globalLayout(const SlotUse &use, bool anyKept, bool anyClear, Kept kept, const std::array<uint8_t, 256> &entryOf) const
    {
        Layout l;
        const bool colour = kept == Kept::Colour;
        std::array<bool, 257> used{};
        int highest = -1;
        for (uint8_t s : colour ? use.shownOrder : use.drawnOrder) {
            used[entryOf[s]] = true;
            highest = std::max(highest, int(entryOf[s]));
        }
        l.entries = highest + 1;
        if (anyClear || (anyKept && !colour)) {
            // The first entry the frame does not draw: the global table keeps one spare.
            l.transparent = int(std::find(used.begin(), used.end(), false) - used.begin());
            l.entries = std::max(l.entries, l.transparent + 1);
        }
        if (kept == Kept::Either) {
            // Kept pixels may keep their colour only where it is an entry the code size reaches.
            const int reachable = 1 << std::max(2, bitSizeOf(std::max(l.entries, 1)));
            for (int s = 0; s < mGlobal->size(); ++s)
                l.mayKeep[std::size_t(s)] = entryOf[std::size_t(s)] < reachable;
        }
        return l;
    }

    /**
     * Whether to encode the region in the guessed order: where it writes the region as the order
     * the frames so far decide does, or where it has mostly done so for the frames before. A guess
     * that often parts from the counts so far is likely to part from the final order too, and a
     * frame encoded in vain costs as much as one encoded late.
     */
    bool guessHolds(const Region &region, const SlotUse &use)
    {
        std::array<uint8_t, 256> sofar{};
        std::vector<Rgb> table;
        orderOfCounts(sofar, table);
        bool holds = true;
        for (Kept kept : waysOf(region)) {
            const Layout a = globalLayout(use, region.anyKept, region.anyClear, kept, mGuess);
            const Layout b = globalLayout(use, region.anyKept, region.anyClear, kept, sofar);
            holds = holds && sameLayout(use, a, mGuess, b, sofar);
        }
        ++mGuessesWeighed;
        mGuessesHeld += holds ? 1 : 0;
        return holds || (mGuessesWeighed >= 8 && mGuessesHeld * 2 >= mGuessesWeighed);
    }

    /** The ways of writing its unchanged pixels that a region is encoded with in the global table. */
    static std::vector<Kept> waysOf(const Region &region)
    {
        if (!region.anyKept || region.anyClear)
            return {region.anyKept ? Kept::Either : Kept::Transparent};
        return {Kept::Either, Kept::Colour};
    }

    /** Whether two orders of the global table write the region's pixels alike, but for which entry is which. */
    static bool sameLayout(const SlotUse &use, const Layout &a, const std::array<uint8_t, 256> &entriesA, const Layout &b,
                           const std::array<uint8_t, 256> &entriesB)
    {
        if (std::max(2, bitSizeOf(std::max(a.entries, 1))) != std::max(2, bitSizeOf(std::max(b.entries, 1))))
            return false;
        for (std::size_t s = 0; s < 256; ++s) {
            if (!use.shown[s] || use.drawn[s])
                continue;
            // An unchanged pixel that keeps its colour: kept alike, and on the transparent entry alike.
            if (a.mayKeep[s] != b.mayKeep[s])
                return false;
            if (a.mayKeep[s] && (entriesA[s] == a.transparent) != (entriesB[s] == b.transparent))
                return false;
        }
        return true;
    }

    /**
     * An encoding made in the guessed order, renumbered into the final one; false when the final
     * order would have written the region otherwise (its code size or what its unchanged pixels
     * may be).
     */
    bool renumberGuess(Encoding &e, const Region &region) const
    {
        const SlotUse &use = *e.use;
        Layout winner, winnerGuessed;
        for (Kept kept : waysOf(region)) {
            const Layout guessed = globalLayout(use, region.anyKept, region.anyClear, kept, mGuess);
            const Layout final = globalLayout(use, region.anyKept, region.anyClear, kept, mOrder);
            if (!sameLayout(use, guessed, mGuess, final, mOrder))
                return false;
            if (kept == e.kept) {
                winner = final;
                winnerGuessed = guessed;
            }
        }
        if (e.local)
            return true;
        std::array<uint8_t, 256> map{};
        for (int v = 0; v < 256; ++v)
            map[std::size_t(v)] = uint8_t(v);
        for (int s = 0; s < mGlobal->size(); ++s)
            map[mGuess[std::size_t(s)]] = mOrder[std::size_t(s)];
        if (e.transparent >= 0)
            map[std::size_t(winnerGuessed.transparent)] = uint8_t(winner.transparent);
        renumber(e, map);
        return true;
    }

    /** An encoding made with the census slots as entries, renumbered into the global table's order. */
    void renumberSlots(Encoding &e) const
    {
        std::array<uint8_t, 256> map{};
        for (int v = 0; v < 256; ++v)
            map[std::size_t(v)] = v < mGlobal->size() ? mOrder[std::size_t(v)] : uint8_t(v);
        renumber(e, map);
    }

    /** An encoding's entries renumbered through `map`, its codes with them. */
    static void renumber(Encoding &e, const std::array<uint8_t, 256> &map)
    {
        for (uint8_t &v : e.indices)
            v = map[v];
        if (e.transparent >= 0)
            e.transparent = map[std::size_t(e.transparent)];
        e.codes.highest = e.indices.empty() ? 0 : *std::max_element(e.indices.begin(), e.indices.end());
        if (!relabelCodes(e.codes.codes, e.minCodeSize, map))
            throw NotRewritable{};
    }

    /**
     * Rewrites in place every code that stands for a single index through `map`: the strings the
     * table learns keep their codes, so every code keeps its width. False where the codes stray
     * from what a decoder reads (no end code, a code not yet defined).
     */
    static bool relabelCodes(std::vector<uint8_t> &codes, int minCodeSize, const std::array<uint8_t, 256> &map)
    {
        const uint32_t clear = 1u << minCodeSize, end = clear + 1;
        const std::size_t n = codes.size(), bits = n * 8;
        auto byte = [&](std::size_t i) { return i < n ? uint32_t(codes[i]) : 0u; };
        std::size_t at = 0;
        int width = minCodeSize + 1;
        uint32_t next = end + 1;
        bool first = true;
        for (;;) {
            if (at + std::size_t(width) > bits)
                return false; // no end code
            // A code of up to 12 bits at up to 7 bits into its first byte spans at most three bytes.
            const std::size_t i = at >> 3;
            const int shift = int(at & 7);
            const uint32_t mask = (1u << width) - 1;
            const uint32_t window = byte(i) | byte(i + 1) << 8 | byte(i + 2) << 16;
            const uint32_t code = window >> shift & mask;
            if (code < clear) {
                const uint32_t written = (window & ~(mask << shift)) | uint32_t(map[code]) << shift;
                for (std::size_t b = 0; b < 3 && i + b < n; ++b)
                    codes[i + b] = uint8_t(written >> (8 * b));
            }
            at += std::size_t(width);
            if (code == clear) {
                width = minCodeSize + 1;
                next = end + 1;
                first = true;
                continue;
            }
            if (code == end) {
                // What follows the end code is dropped, and so are the bits after it in its last byte.
                codes.resize((at + 7) / 8);
                if (at & 7)
                    codes.back() = uint8_t(codes.back() & ((1u << (at & 7)) - 1));
                return true;
            }
            if (code > next || (first && code >= clear))
                return false;
            if (!first && next < 4096) {
                ++next;
                if (next == (1u << width) && width < 12)
                    ++width;
            }
            first = false;
        }
    }

    /**
     * Orders the global table so that the colours most frames draw come first: a frame that draws
     * only low entries is written with a smaller code size.
     */
    void fixOrder()
    {
        orderOfCounts(mOrder, mTable);
        mOrdered = true;
        mWaitingPixels = 0;
        settleGuesses();
    }

    /**
     * Frames encoded in the guessed order, renumbered into the final one and their input's codes
     * weighed; those the final order writes otherwise are encoded again, beside the checks of the others.
     */
    void settleGuesses()
    {
        for (Pending &p : mPending) {
            if (p.labels != Labels::Guess)
                continue;
            Encoding e = p.encoding.get();
            // Its job is done: the region is the writer's again.
            Region &region = *p.guessed;
            region.labels = Labels::Final;
            p.labels = Labels::Final;
            if (renumberGuess(e, region)) {
                trySourceCodes(region, e);
                p.settled = std::move(e);
                p.guessed.reset();
            } else {
                p.encoding = mEncoders.run([this, region = std::move(p.guessed)] { return encodeRegion(*region); });
            }
        }
    }

    /** The order the frames counted so far give the global table: each slot's entry, and the colours in that order. */
    void orderOfCounts(std::array<uint8_t, 256> &order, std::vector<Rgb> &table) const
    {
        const int n = mGlobal->size();
        std::vector<int> slots(std::size_t(n), 0);
        for (int i = 0; i < n; ++i)
            slots[std::size_t(i)] = i;
        std::stable_sort(slots.begin(), slots.end(), [&](int a, int b) {
            if (mFramesOf[a] != mFramesOf[b])
                return mFramesOf[a] > mFramesOf[b];
            return mPixelsOf[a] > mPixelsOf[b];
        });
        table.clear();
        for (int i = 0; i < n; ++i) {
            order[std::size_t(slots[std::size_t(i)])] = uint8_t(i);
            table.push_back(unpack(mGlobal->colors()[std::size_t(slots[std::size_t(i)])]));
        }
    }

    void finishOldest(TGIFImage &out)
    {
        startEncodings();
        Pending p = std::move(mPending.front());
        mPending.pop_front();
        Encoding e = p.settled ? std::move(*p.settled) : p.encoding.get();
        if (p.labels == Labels::Slot && !e.local)
            renumberSlots(e);

        TGIFSubImage &f = out.appendFrame(TGIFSubImage());
        f.left = uint16_t(p.rect.x0);
        f.top = uint16_t(p.rect.y0);
        if (e.local) {
            TGIFColorMap map;
            map.entries = e.table;
            f.setColorMap(std::move(map));
        } else {
            // The table's size sets the code size a reader expects the frame's codes at.
            mGlobalEntries = std::max({mGlobalEntries, int(e.codes.highest) + 1, e.transparent + 1,
                                       e.minCodeSize > 2 ? (1 << (e.minCodeSize - 1)) + 1 : 0});
        }
        CompressedPixels codes;
        codes.width = p.rect.width();
        codes.height = p.rect.height();
        codes.minCodeSize = e.minCodeSize;
        codes.ours = true;
        codes.ownCodeSize = true;
        codes.highest = e.codes.highest;
        codes.codes = std::move(e.codes.codes);
        codes.codes.insert(codes.codes.end(), 8, uint8_t(0));
        f.setPixelCodes(std::move(codes));

        const bool usesTransparent =
            e.transparent >= 0 && std::find(e.indices.begin(), e.indices.end(), uint8_t(e.transparent)) != e.indices.end();
        if (p.delay != 0 || usesTransparent || p.userInput || p.disposal != 1) {
            TGIFGraphicControlExtension *g = f.addGraphicControl();
            g->delay = p.delay;
            g->setDisposal(p.disposal);
            g->setUserInput(p.userInput);
            if (usesTransparent) {
                g->setTransparent(true);
                g->transparentIndex = uint8_t(e.transparent);
            }
        }
    }

    /**
     * Composes frame k into mComposed; true when some pixel is left unpainted. `changed` (when
     * given) gets the box of the pixels that differ from the picture before. Frames come in
     * order, and a frame changes the picture before it only inside its rectangle and the
     * rectangle of the frame before when that one is disposed of: only those pixels are
     * converted again.
     */
    bool compose(int k, Box *changed = nullptr)
    {
        const Picture &p = mComposer.composedCanvas(k);
        const std::vector<uint8_t> &covered = mComposer.coverage();
        Box dirty;
        auto addRect = [&](const TGIFSubImage &f) {
            const int x1 = std::min(int(f.left) + int(f.width), mW) - 1, y1 = std::min(int(f.top) + int(f.height), mH) - 1;
            if (f.left < mW && f.top < mH && x1 >= f.left && y1 >= f.top) {
                dirty.add(f.left, f.top);
                dirty.add(x1, y1);
            }
        };
        const bool incremental = k > 0 && k == mComposedFrame + 1;
        if (!incremental) {
            mComposed.assign(std::size_t(mW) * mH, kUnpainted);
            mUnpainted = mComposed.size();
            dirty = Box{0, 0, mW - 1, mH - 1};
            mPicture = Picture(mW, mH, PixelFormat::Rgb24);
            mCoverage.assign(std::size_t(mW) * mH, 0);
        } else {
            addRect(*mSources[std::size_t(k)]);
            const TGIFGraphicControlExtension *before = mSources[std::size_t(k - 1)]->graphicControl();
            if (before && before->disposal() >= 2)
                addRect(*mSources[std::size_t(k - 1)]);
        }
        Box differ;
        for (int y = dirty.y0; y <= dirty.y1 && !dirty.empty(); ++y) {
            const uint8_t *row = p.row(y);
            const uint8_t *c = covered.data() + std::size_t(y) * mW;
            uint8_t *keptRow = mPicture.row(y);
            uint8_t *keptCover = mCoverage.data() + std::size_t(y) * mW;
            uint32_t *d = mComposed.data() + std::size_t(y) * mW;
            // Full-screen frames mostly repeat rows of the picture before: those stay as they are.
            const std::size_t x0 = std::size_t(dirty.x0), span = std::size_t(dirty.width());
            if (incremental && std::memcmp(row + 3 * x0, keptRow + 3 * x0, 3 * span) == 0 &&
                std::memcmp(c + x0, keptCover + x0, span) == 0)
                continue;
            int first = -1, last = -1;
            for (int x = dirty.x0; x <= dirty.x1; ++x) {
                const uint32_t v = c[x] ? uint32_t(row[3 * x]) << 16 | uint32_t(row[3 * x + 1]) << 8 | row[3 * x + 2] : kUnpainted;
                if (v == d[x])
                    continue;
                mUnpainted += std::size_t(v == kUnpainted) - std::size_t(d[x] == kUnpainted);
                d[x] = v;
                if (first < 0)
                    first = x;
                last = x;
            }
            std::memcpy(keptRow + 3 * x0, row + 3 * x0, 3 * span);
            std::memcpy(keptCover + x0, c + x0, span);
            if (first >= 0) {
                differ.add(first, y);
                differ.add(last, y);
            }
        }
        mComposedFrame = k;
        if (changed)
            *changed = differ;
        return mUnpainted > 0;
    }

    /**
     * The colours the frames draw (a few more than show when frames are clipped or drawn over
     * before they show): one global table serves when they fit beside a transparent index. When
     * they do not, it holds the 255 colours the most frames draw, and only the frames that draw
     * another colour need a table of their own.
     */
    void takeCensus()
    {
        struct Tally {
            int frames = 0, lastFrame = -1;
            uint64_t pixels = 0;
        };
        std::unordered_map<uint32_t, Tally> tally;
        std::vector<uint32_t> colors; // in the order first drawn
        for (std::size_t k = 0; k < mSources.size(); ++k) {
            const TGIFSubImage *f = mSources[k];
            const auto pixels = f->pixelStore();
            if (!pixels)
                return;
            uint64_t used[256] = {};
            pixels->countUsage(used);
            const TGIFColorMap &table = f->colorMap().empty() ? mDocument.header.colorMap : f->colorMap();
            const int transparent = f->transparent() ? f->graphicControl()->transparentIndex : -1;
            for (int v = 0; v < 256; ++v) {
                if (!used[v] || v == transparent)
                    continue;
                // Beyond the table an index draws black, as the composer draws it.
                const uint32_t c = pack(v < table.count() ? table.entries[std::size_t(v)] : Rgb{});
                auto [it, added] = tally.try_emplace(c);
                if (added)
                    colors.push_back(c);
                Tally &t = it->second;
                t.pixels += used[v];
                if (t.lastFrame != int(k)) {
                    t.lastFrame = int(k);
                    ++t.frames;
                }
            }
        }
        mPartial = colors.size() > kNoSlot;
        if (mPartial) {
            std::stable_sort(colors.begin(), colors.end(), [&](uint32_t a, uint32_t b) {
                const Tally &ta = tally[a], &tb = tally[b];
                return ta.frames != tb.frames ? ta.frames > tb.frames : ta.pixels > tb.pixels;
            });
            colors.resize(kNoSlot);
        }
        ColorIndex index;
        for (uint32_t c : colors)
            index.add(c);
        mGlobal = std::move(index);
        for (uint32_t c : colors)
            mCensusTable.push_back(unpack(c));
        // Where the input's frames are already cut to what changes (a file optimised before), they
        // draw their colours as the rewritten frames will, and their census foretells the order.
        // Over whole screens every colour counts in every frame and foretells little.
        std::size_t framed = 0;
        for (const TGIFSubImage *f : mSources)
            framed += std::size_t(f->width) * f->height;
        mGuessed = !mPartial && framed * 2 <= mSources.size() * std::size_t(mW) * std::size_t(mH);
        if (mGuessed) {
            std::vector<int> slots(colors.size());
            for (std::size_t i = 0; i < slots.size(); ++i)
                slots[i] = int(i);
            std::stable_sort(slots.begin(), slots.end(), [&](int a, int b) {
                const Tally &ta = tally[colors[std::size_t(a)]], &tb = tally[colors[std::size_t(b)]];
                return ta.frames != tb.frames ? ta.frames > tb.frames : ta.pixels > tb.pixels;
            });
            for (std::size_t i = 0; i < slots.size(); ++i) {
                mGuess[std::size_t(slots[i])] = uint8_t(i);
                mGuessTable.push_back(unpack(colors[std::size_t(slots[i])]));
            }
        }
        if (mPartial) {
            // Already in the order the frames draw them: frames need not wait for it.
            for (std::size_t i = 0; i < colors.size(); ++i) {
                mOrder[i] = uint8_t(i);
                mTable.push_back(unpack(colors[i]));
            }
            mOrdered = true;
        }
    }

    /** Whether the next picture leaves unpainted what this one paints (only a disposal clears it), looking inside `box`. */
    bool needsClearing(const std::vector<uint32_t> &current, const std::vector<uint32_t> &next, const Box &box) const
    {
        for (int y = box.y0; y <= box.y1; ++y)
            for (int x = box.x0; x <= box.x1; ++x) {
                const std::size_t i = std::size_t(y) * mW + x;
                if (next[i] == kUnpainted && current[i] != kUnpainted)
                    return true;
            }
        return false;
    }

    bool anyDifference(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b, const Box &box) const
    {
        for (int y = box.y0; y <= box.y1; ++y)
            if (std::memcmp(a.data() + std::size_t(y) * mW + box.x0, b.data() + std::size_t(y) * mW + box.x0,
                            std::size_t(box.width()) * 4) != 0)
                return true;
        return false;
    }

    /** Pixels that differ inside the rows y0..y1 and columns x0..x1 of `box`. */
    std::size_t differences(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b, const Box &box) const
    {
        std::size_t n = 0;
        for (int y = box.y0; y <= box.y1; ++y) {
            const uint32_t *ra = a.data() + std::size_t(y) * mW + box.x0;
            const uint32_t *rb = b.data() + std::size_t(y) * mW + box.x0;
            if (std::memcmp(ra, rb, std::size_t(box.width()) * 4) == 0)
                continue;
            for (int x = 0; x < box.width(); ++x)
                n += ra[x] != rb[x];
        }
        return n;
    }

    /**
     * The disposal after which the next frame has least to draw: 1 leaves this frame, 2 clears its
     * rectangle (grown to what must be cleared), 3 puts back what showed before. Pixels the next
     * frame leaves unpainted have to be cleared by it. `shown` differs from `current` only inside
     * `shownDiffers`, `next` from `current` only inside `nextDiffers`.
     */
    int chooseDisposal(const std::vector<uint32_t> &shown, const std::vector<uint32_t> &current,
                       const std::vector<uint32_t> &next, bool nextUnpainted, const Box &shownDiffers,
                       const Box &nextDiffers, const Box &changed, Box &rect)
    {
        // Outside both boxes the three screens agree: an unpainted next pixel there is unpainted in all.
        const Box either = united(shownDiffers, nextDiffers);
        Box mustClear;
        bool restoreKeepsPainted = false;
        if (nextUnpainted)
            for (int y = either.y0; y <= either.y1; ++y)
                for (int x = either.x0; x <= either.x1; ++x) {
                    const std::size_t i = std::size_t(y) * mW + x;
                    if (next[i] != kUnpainted)
                        continue;
                    if (current[i] != kUnpainted)
                        mustClear.add(x, y);
                    if (shown[i] != kUnpainted)
                        restoreKeepsPainted = true;
                }

        const std::size_t fromCurrent = differences(next, current, nextDiffers);
        std::optional<std::size_t> keep, restore;
        if (mustClear.empty())
            keep = fromCurrent;
        if (!restoreKeepsPainted)
            restore = differences(next, shown, either);
        Box cleared = changed;
        cleared.add(mustClear);
        std::size_t clearedCost = 0;
        if (!cleared.empty()) {
            // Outside the cleared rectangle the next frame starts from this one; inside, from nothing.
            clearedCost = fromCurrent - differences(next, current, cleared);
            for (int y = cleared.y0; y <= cleared.y1; ++y) {
                const uint32_t *r = next.data() + std::size_t(y) * mW + cleared.x0;
                clearedCost += std::size_t(cleared.width()) - std::size_t(std::count(r, r + cleared.width(), kUnpainted));
            }
        } else if (!keep) {
            throw NotRewritable{};
        }

        // Ties go to leaving the frame in place, which every viewer does alike.
        int best = 1;
        std::size_t bestCost = keep ? *keep : std::numeric_limits<std::size_t>::max();
        if (!cleared.empty() && clearedCost < bestCost) {
            best = 2;
            bestCost = clearedCost;
        }
        if (restore && *restore < bestCost)
            best = 3;
        if (best == 2)
            rect = cleared;
        return best;
    }

    Region regionOf(const std::vector<uint32_t> &shown, const std::vector<uint32_t> &current, const Box &rect,
                    const TGIFSubImage &source) const
    {
        Region r;
        if (source.left == rect.x0 && source.top == rect.y0 && source.width == rect.width() && source.height == rect.height()) {
            r.sourceCodes = source.pixelCodes();
            r.sourceTable = source.colorMap().empty() ? &mDocument.header.colorMap : &source.colorMap();
            r.sourceTransparent = source.transparent() ? source.graphicControl()->transparentIndex : -1;
        }
        uint32_t lastColour = kUnpainted;
        uint8_t lastSlot = 0;
        r.w = rect.width();
        r.h = rect.height();
        r.kind.resize(std::size_t(r.w) * std::size_t(r.h));
        // Where the global table may not serve, the colours come first and the slots after.
        const bool slots = mGlobal && !mPartial;
        if (slots)
            r.slots.resize(r.kind.size());
        else
            r.colors.resize(r.kind.size());
        for (int y = 0; y < r.h; ++y)
            for (int x = 0; x < r.w; ++x) {
                const std::size_t i = std::size_t(rect.y0 + y) * mW + rect.x0 + x;
                const std::size_t o = std::size_t(y) * r.w + x;
                uint8_t k = 0;
                if (current[i] == shown[i])
                    k = current[i] == kUnpainted ? 2 : 1;
                r.anyKept |= k == 1;
                r.anyClear |= k == 2;
                r.kind[o] = k;
                if (!slots) {
                    r.colors[o] = current[i];
                } else if (k != 2) {
                    // Every colour a frame draws is in the census; the last one a run found is likely again.
                    if (current[i] != lastColour) {
                        lastColour = current[i];
                        const int slot = mGlobal->find(current[i]);
                        if (slot < 0)
                            throw NotRewritable{};
                        lastSlot = uint8_t(slot);
                    }
                    r.slots[o] = lastSlot;
                }
            }
        if (mPartial)
            r.fitsGlobal = takeSlots(r);
        return r;
    }

    /**
     * The census slots of a region's colours, when every pixel it draws has one: the colours are
     * then no longer needed. Stops at the first drawn colour the global table lacks.
     */
    bool takeSlots(Region &r) const
    {
        uint32_t lastColour = kUnpainted;
        uint8_t lastSlot = kNoSlot;
        r.slots.resize(r.kind.size());
        for (std::size_t i = 0; i < r.kind.size(); ++i) {
            if (r.kind[i] == 2)
                continue;
            if (r.colors[i] != lastColour) {
                lastColour = r.colors[i];
                const int slot = mGlobal->find(lastColour);
                lastSlot = slot < 0 ? kNoSlot : uint8_t(slot);
            }
            if (lastSlot == kNoSlot && r.kind[i] == 0) {
                r.slots = {};
                return false;
            }
            r.slots[i] = lastSlot;
        }
        r.colors = {};
        return true;
    }

    /**
     * A few unchanged pixels between pixels that are drawn keep their colour: made transparent
     * they would break the drawn strings and teach the table short transparent ones. Stretches
     * that touch a transparent pixel stay free.
     */
    static void keepShortStretches(std::vector<uint8_t> &either, const std::vector<uint8_t> &indices, uint8_t transparent)
    {
        constexpr std::size_t kShort = 6;
        const std::size_t n = either.size();
        for (std::size_t i = 0; i < n;) {
            if (!either[i]) {
                ++i;
                continue;
            }
            std::size_t j = i;
            while (j < n && either[j])
                ++j;
            const bool touchesTransparent = (i > 0 && indices[i - 1] == transparent) || (j < n && indices[j] == transparent);
            if (j - i < kShort && !touchesTransparent)
                std::fill(either.begin() + std::ptrdiff_t(i), either.begin() + std::ptrdiff_t(j), 0);
            i = j;
        }
    }

    /** Every way to write a region that the colours allow, the cheapest kept. Runs on any thread. */
    Encoding encodeRegion(const Region &region) const
    {
        const int w = region.w;
        const std::vector<uint8_t> &kind = region.kind;
        const bool anyKept = region.anyKept, anyClear = region.anyClear;
        // Census slots where the global table serves; else the colours themselves.
        const bool global = mGlobal && region.fitsGlobal;
        Encoding best;
        // A way to write the region with its indices chosen, not yet encoded.
        struct Candidate {
            Encoding e;
            std::vector<Rgb> palette;
            std::vector<uint8_t> either;
            std::size_t tableBytes = 0;
        };
        // Where the global table serves, the census slots the region draws and those it may repeat,
        // each in the order first met (a local table lists its colours so), are found once: every
        // way of writing the region then maps its slots through a table of 256.
        auto slotUse = std::make_shared<SlotUse>();
        std::array<bool, 256> &drawnSlot = slotUse->drawn, &shownSlot = slotUse->shown;
        std::vector<uint8_t> &drawnOrder = slotUse->drawnOrder, &shownOrder = slotUse->shownOrder;
        if (global) {
            const std::vector<uint8_t> &slots = region.slots;
            for (std::size_t i = 0; i < kind.size(); ++i) {
                const uint8_t k = kind[i], s = slots[i];
                if (k == 2)
                    continue;
                if (!shownSlot[s]) {
                    shownSlot[s] = true;
                    shownOrder.push_back(s);
                }
                if (k == 0 && !drawnSlot[s]) {
                    drawnSlot[s] = true;
                    drawnOrder.push_back(s);
                }
            }
        }
        std::array<uint8_t, 256> globalEntries{};
        if (global)
            for (int s = 0; s < mGlobal->size(); ++s)
                globalEntries[std::size_t(s)] = region.labels == Labels::Slot    ? uint8_t(s)
                                                : region.labels == Labels::Guess ? mGuess[std::size_t(s)]
                                                                                 : mOrder[std::size_t(s)];
        auto prepareBySlot = [&](bool local, Kept kept) -> std::optional<Candidate> {
            Encoding e;
            e.local = local;
            e.kept = kept;
            const bool colour = kept == Kept::Colour;
            const bool needsTransparent = anyClear || (anyKept && !colour);
            // A kept pixel whose colour the table lacks may only be left transparent.
            if (colour && shownSlot[kNoSlot])
                return std::nullopt;
            std::array<uint8_t, 256> entryOf{};
            std::array<uint8_t, 256> mayKeep{};
            std::vector<Rgb> palette;
            int entries = 0;
            if (local) {
                for (uint8_t s : colour ? shownOrder : drawnOrder) {
                    entryOf[s] = uint8_t(palette.size());
                    palette.push_back(unpack(mGlobal->colors()[s]));
                }
                entries = int(palette.size());
                if (needsTransparent) {
                    if (entries >= 256)
                        return std::nullopt;
                    e.transparent = entries++;
                    palette.push_back(Rgb{});
                }
                if (kept == Kept::Either) {
                    // Kept pixels may keep their colour only where it is an entry the code size reaches.
                    const int reachable = 1 << std::max(2, bitSizeOf(std::max(entries, 1)));
                    for (uint8_t s : drawnOrder)
                        mayKeep[s] = entryOf[s] < reachable;
                }
            } else {
                entryOf = globalEntries;
                Layout layout = globalLayout(*slotUse, anyKept, anyClear, kept, entryOf);
                entries = layout.entries;
                e.transparent = layout.transparent;
                mayKeep = layout.mayKeep;
                // The entries a reader finds in the table; only the lossy search looks at their colours.
                palette = region.labels == Labels::Final ? mTable : region.labels == Labels::Guess ? mGuessTable : mCensusTable;
                palette.push_back(Rgb{});
            }
            const uint8_t transparent = needsTransparent ? uint8_t(e.transparent) : 0;
            const std::vector<uint8_t> &slots = region.slots;
            const std::size_t n = kind.size();
            std::vector<uint8_t> either;
            e.indices.resize(n);
            uint8_t *out = e.indices.data();
            if (colour) {
                for (std::size_t i = 0; i < n; ++i)
                    out[i] = kind[i] == 2 ? transparent : entryOf[slots[i]];
            } else if (kept == Kept::Either) {
                either.resize(n);
                uint8_t *free = either.data();
                for (std::size_t i = 0; i < n; ++i) {
                    const uint8_t k = kind[i], s = slots[i];
                    const uint8_t f = k == 1 ? mayKeep[s] : 0;
                    free[i] = f;
                    out[i] = k == 0 || f ? entryOf[s] : transparent;
                }
                keepShortStretches(either, e.indices, transparent);
            } else {
                for (std::size_t i = 0; i < n; ++i)
                    out[i] = kind[i] == 0 ? entryOf[slots[i]] : transparent;
            }
            entries = std::max(entries, 1);
            e.minCodeSize = std::max(2, bitSizeOf(entries));
            const std::size_t tableBytes = local ? std::size_t(3) << bitSizeOf(entries) : 0;
            return Candidate{std::move(e), std::move(palette), std::move(either), tableBytes};
        };
        // Where it does not, each way of writing the region finds the colours' entries as it goes.
        auto prepare = [&](bool local, Kept kept) -> std::optional<Candidate> {
            if (global)
                return prepareBySlot(local, kept);
            Encoding e;
            e.local = true;
            const bool needsTransparent = anyClear || (anyKept && kept != Kept::Colour);
            ColorIndex localColors;
            std::vector<Rgb> palette;
            e.indices.resize(kind.size());
            for (std::size_t i = 0; i < kind.size(); ++i) {
                const uint8_t k = kind[i];
                if (k == 2 || (k == 1 && kept != Kept::Colour))
                    continue;
                const int index = localColors.add(region.colors[i]);
                if (index < 0)
                    return std::nullopt;
                e.indices[i] = uint8_t(index);
            }
            for (uint32_t c : localColors.colors())
                palette.push_back(unpack(c));
            int entries = int(palette.size());
            std::vector<uint8_t> either;
            if (needsTransparent) {
                if (entries >= 256)
                    return std::nullopt;
                e.transparent = entries++;
                palette.push_back(Rgb{});
                const int reachable = 1 << std::max(2, bitSizeOf(std::max(entries, 1)));
                if (kept == Kept::Either)
                    either.resize(kind.size());
                for (std::size_t i = 0; i < kind.size(); ++i) {
                    if (kind[i] == 0 || (kind[i] == 1 && kept == Kept::Colour))
                        continue;
                    e.indices[i] = uint8_t(e.transparent);
                    if (kind[i] == 1 && kept == Kept::Either) {
                        const int index = localColors.find(region.colors[i]);
                        if (index >= 0 && index < reachable && index < int(palette.size())) {
                            e.indices[i] = uint8_t(index);
                            either[i] = 1;
                        }
                    }
                }
            }
            if (!either.empty())
                keepShortStretches(either, e.indices, uint8_t(e.transparent));
            entries = std::max(entries, 1);
            e.minCodeSize = std::max(2, bitSizeOf(entries));
            const std::size_t tableBytes = std::size_t(3) << bitSizeOf(entries);
            return Candidate{std::move(e), std::move(palette), std::move(either), tableBytes};
        };
        auto tuningOf = [&](const Candidate &c) {
            LzwTuning tuning;
            tuning.lossy = std::clamp(mOptions.lossy, 0, kMaxLossy);
            tuning.palette = &c.palette;
            tuning.transparentIndex = c.e.transparent;
            if (!c.either.empty())
                tuning.mayBeTransparent = &c.either;
            return tuning;
        };
        auto finish = [&](Candidate c) {
            Encoding &e = c.e;
            LzwTuning tuning = tuningOf(c);
            if (best.cost != std::numeric_limits<std::size_t>::max())
                tuning.giveUpAfter = best.cost > c.tableBytes ? best.cost - c.tableBytes : 0;
            e.codes = encodeTunedLzw(e.indices, w, e.minCodeSize, tuning);
            if (e.codes.abandoned)
                return;
            const std::size_t data = e.codes.codes.size();
            e.cost = data + (data + 254) / 255 + 2 + c.tableBytes;
            if (e.local)
                e.table = std::move(c.palette);
            if (e.cost < best.cost)
                best = std::move(e);
        };
        auto tryEncoding = [&](bool local, Kept kept) {
            if (std::optional<Candidate> c = prepare(local, kept))
                finish(std::move(*c));
        };

        auto tryBoth = [&](bool local) {
            if (!anyKept || anyClear) {
                tryEncoding(local, anyKept ? Kept::Either : Kept::Transparent);
                return;
            }
            std::optional<Candidate> either = prepare(local, Kept::Either), colour = prepare(local, Kept::Colour);
            // On a large region a sample of its rows tells which way wins, or that the two cost about
            // the same (then either one does): only that one is encoded whole. Equal samples leave both.
            if (either && colour && mOptions.lossy == 0 && kind.size() >= kSampledPixels) {
                const std::size_t fromEither = sampledCost(either->e.indices, either->either, w, either->e.minCodeSize, tuningOf(*either));
                const std::size_t fromColour = sampledCost(colour->e.indices, colour->either, w, colour->e.minCodeSize, tuningOf(*colour));
                if (fromEither < fromColour)
                    colour.reset();
                else if (fromColour < fromEither)
                    either.reset();
            }
            if (either)
                finish(std::move(*either));
            if (colour)
                finish(std::move(*colour));
        };
        if (!global) {
            tryBoth(true);
        } else {
            tryBoth(false);
            // A local table is only worth its bytes when the frame's colours take fewer bits a code.
            const int colours = int(drawnOrder.size()) + (anyKept || anyClear ? 1 : 0);
            if (best.cost != std::numeric_limits<std::size_t>::max() && std::max(2, bitSizeOf(colours)) < best.minCodeSize)
                tryBoth(true);
        }
        if (region.labels == Labels::Guess)
            best.use = std::move(slotUse);
        else
            trySourceCodes(region, best);
        if (best.cost == std::numeric_limits<std::size_t>::max())
            throw NotRewritable{};
        return best;
    }

    // Regions of this many pixels or more are sampled before their ways of writing are encoded whole.
    static constexpr std::size_t kSampledPixels = std::size_t(1) << 16;

    /**
     * The bytes of the codes of a few bands of rows spread over the region, encoded one after the
     * other as one picture: about what a way of writing the region costs, at a sixteenth of the work.
     */
    static std::size_t sampledCost(const std::vector<uint8_t> &indices, const std::vector<uint8_t> &either, int w, int minCodeSize,
                                   LzwTuning tuning)
    {
        constexpr std::size_t kBands = 4;
        const std::size_t width = std::size_t(w), rows = indices.size() / width;
        const std::size_t bandRows = std::max<std::size_t>(1, rows / (kBands * 16));
        std::vector<uint8_t> sample, sampleEither;
        for (std::size_t b = 0; b < kBands; ++b) {
            // Each band in the middle of its quarter of the rows.
            const std::size_t first = std::min(rows - bandRows, (2 * b + 1) * rows / (2 * kBands));
            const auto from = std::ptrdiff_t(first * width), to = std::ptrdiff_t((first + bandRows) * width);
            sample.insert(sample.end(), indices.begin() + from, indices.begin() + to);
            if (!either.empty())
                sampleEither.insert(sampleEither.end(), either.begin() + from, either.begin() + to);
        }
        tuning.mayBeTransparent = either.empty() ? nullptr : &sampleEither;
        return encodeTunedLzw(sample, w, minCodeSize, tuning).codes.size();
    }

    /**
     * The input frame's own codes, written again with its indices renumbered into the global
     * table or kept beside its own table, when they draw what the region needs: the encoder that
     * wrote them may have split the strings better than a greedy one does, and optimising a file
     * should not lose that.
     */
    void trySourceCodes(const Region &region, Encoding &best) const
    {
        const CompressedPixels *source = region.sourceCodes.get();
        if (!source || source->interlaced || source->width != region.w || source->height != region.h ||
            source->minCodeSize < 2 || source->minCodeSize > 8)
            return;
        const int m = source->minCodeSize;
        const int roots = 1 << m;
        bool underrun = false;
        const FramePixels rows = decodeFramePixels(source->codes.data(), source->codeBytes(), *source, &underrun);
        if (underrun || rows.width() != region.w || rows.height() != region.h)
            return;

        // What each of the frame's indices draws: its colour, and the census slot of that colour.
        const TGIFColorMap &table = *region.sourceTable;
        std::array<uint32_t, 256> colourOf{};
        std::array<int, 256> slotOf{};
        for (int v = 0; v < roots; ++v) {
            colourOf[std::size_t(v)] = pack(v < table.count() ? table.entries[std::size_t(v)] : Rgb{});
            slotOf[std::size_t(v)] = mGlobal ? mGlobal->find(colourOf[std::size_t(v)]) : -1;
        }
        std::vector<uint8_t> indices(region.kind.size());
        std::array<bool, 256> used{};
        for (int y = 0; y < region.h; ++y)
            for (int x = 0; x < region.w; ++x) {
                const std::size_t o = std::size_t(y) * region.w + x;
                const uint8_t v = rows.at(x, y);
                indices[o] = v;
                const uint8_t k = region.kind[o];
                if (v == region.sourceTransparent) {
                    if (k == 0)
                        return;
                    continue;
                }
                if (k == 2)
                    return;
                const bool same = region.colors.empty() ? region.slots[o] != kNoSlot && slotOf[v] == region.slots[o]
                                                        : colourOf[v] == region.colors[o];
                if (!same)
                    return;
                used[v] = true;
            }

        // Renumbered into the global table: each colour's entry, and for transparency an entry
        // no colour of the frame takes, all within the frame's code size.
        std::array<uint8_t, 256> map{};
        bool global = mGlobal.has_value();
        std::array<bool, 256> taken{};
        for (int v = 0; v < roots && global; ++v)
            if (used[std::size_t(v)]) {
                const int slot = slotOf[std::size_t(v)];
                global = slot >= 0 && mOrder[std::size_t(slot)] < roots;
                if (global) {
                    map[std::size_t(v)] = mOrder[std::size_t(slot)];
                    taken[map[std::size_t(v)]] = true;
                }
            }
        int transparent = -1;
        if (global && region.sourceTransparent >= 0 && region.sourceTransparent < roots) {
            transparent = int(std::find(taken.begin(), taken.begin() + roots, false) - taken.begin());
            global = transparent < roots;
            map[std::size_t(region.sourceTransparent)] = uint8_t(transparent);
        }
        Encoding e;
        e.local = !global;
        e.minCodeSize = m;
        if (global) {
            for (uint8_t &v : indices)
                v = map[v];
            e.transparent = transparent;
        } else {
            for (int v = 0; v < roots; ++v)
                map[std::size_t(v)] = uint8_t(v);
            for (int v = 0; v < roots; ++v)
                e.table.push_back(unpack(colourOf[std::size_t(v)]));
            e.transparent = region.sourceTransparent < roots ? region.sourceTransparent : -1;
        }
        if (!renumberCodes(*source, map, e.codes.codes))
            return;
        const std::size_t data = e.codes.codes.size();
        e.cost = data + (data + 254) / 255 + 2 + (e.local ? std::size_t(3) << m : 0);
        if (e.cost >= best.cost)
            return;
        // The renumbered codes must decode to the renumbered indices, or they are not used.
        CompressedPixels check = *source;
        check.codes = e.codes.codes;
        check.codes.insert(check.codes.end(), 8, uint8_t(0));
        const FramePixels back = decodeFramePixels(check.codes.data(), data, check, &underrun);
        for (int y = 0; y < region.h; ++y)
            for (int x = 0; x < region.w; ++x)
                if (underrun || back.at(x, y) != indices[std::size_t(y) * region.w + x])
                    return;
        e.codes.highest = *std::max_element(indices.begin(), indices.end());
        e.indices = std::move(indices);
        best = std::move(e);
    }

    /** `source`'s codes with every code of a single index renumbered through `map` (see relabelCodes). */
    static bool renumberCodes(const CompressedPixels &source, const std::array<uint8_t, 256> &map, std::vector<uint8_t> &out)
    {
        out.assign(source.codes.begin(), source.codes.begin() + std::ptrdiff_t(source.codeBytes()));
        return relabelCodes(out, source.minCodeSize, map);
    }

    const TGIFImage &mDocument;
    const DeepOptions mOptions;
    const std::function<void()> mOnFrame;
    FrameComposer mComposer;
    std::vector<const TGIFSubImage *> mSources;
    int mW = 0, mH = 0;
    std::optional<ColorIndex> mGlobal;
    // The frames draw more colours than the global table holds.
    bool mPartial = false;
    // Entries of the global table the frames written so far reach.
    int mGlobalEntries = 0;
    // The last picture composed, and how many of its pixels are unpainted; the composer's canvas
    // and coverage as they were then, to find the rows the next frame leaves alone.
    std::vector<uint32_t> mComposed;
    Picture mPicture;
    std::vector<uint8_t> mCoverage;
    int mComposedFrame = -1;
    std::size_t mUnpainted = 0;
    // Where the global table has its census colours, once the frames seen have decided it.
    bool mOrdered = false;
    std::array<uint8_t, 256> mOrder{};
    std::vector<Rgb> mTable;
    // The census colours by slot; the order the census foretells, and whether frames are encoded in it before the order is fixed.
    std::vector<Rgb> mCensusTable, mGuessTable;
    std::array<uint8_t, 256> mGuess{};
    bool mGuessed = false;
    // Frames whose layout in the guessed order was weighed against the counts so far, and those alike.
    int mGuessesWeighed = 0, mGuessesHeld = 0;
    std::array<std::size_t, 256> mFramesOf{}, mPixelsOf{};
    std::size_t mWaitingPixels = 0;
    std::deque<Pending> mPending;
    // Last, so that its threads stop before what their jobs read goes.
    EncoderThreads mEncoders{2};
};

} // namespace

TGIFImage deepOptimizedCopy(const TGIFImage &document, const DeepOptions &options)
{
    return deepOptimizedCopy(document, options, {});
}

TGIFImage deepOptimizedCopy(const TGIFImage &document, const DeepOptions &options, const std::function<void()> &onFrame)
{
    try {
        return Rewriter(document, options, onFrame).run();
    } catch (const NotRewritable &) {
        return optimizedCopy(document);
    }
}

void saveDeepOptimizedToFile(const TGIFImage &document, const std::string &path, const DeepOptions &options)
{
    const TGIFImage copy = deepOptimizedCopy(document, options);
    writeFileAtomically(path, [&](std::ostream &stream) { copy.SaveToStream(stream); });
}

} // namespace doc
