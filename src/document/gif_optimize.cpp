#include "gif_optimize.h"

#include "atomic_file.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>
#include <optional>

namespace doc {

namespace {

/** The most bytes of indices a frame may hold after its merge. */
constexpr std::size_t kMergeBudget = std::size_t(256) << 20;
/** Bytes a merge may store beyond what the two frames already hold. */
constexpr std::size_t kMergeGrowth = std::size_t(16) << 20;

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0; // right and bottom exclusive

    static Rect of(const TGIFSubImage &f) { return {f.left, f.top, f.left + f.width, f.top + f.height}; }
    bool empty() const { return right <= left || bottom <= top; }
    bool inside(const Rect &o) const
    {
        return left >= o.left && top >= o.top && right <= o.right && bottom <= o.bottom;
    }
    Rect intersect(const Rect &o) const
    {
        return {std::max(left, o.left), std::max(top, o.top), std::min(right, o.right),
                std::min(bottom, o.bottom)};
    }
};

/** The table a frame's indices refer to: its own, or the global one when it has none. */
TGIFColorMap &tableOf(TGIFImage &image, TGIFSubImage &f)
{
    return f.colorMap().empty() ? image.header.colorMap : f.mutableColorMap();
}

int disposalOf(const TGIFSubImage &f)
{
    return f.graphicControl() ? f.graphicControl()->disposal() : 0;
}

uint16_t delayOf(const TGIFSubImage &f)
{
    return f.graphicControl() ? f.graphicControl()->delay : 0;
}

void countUsage(const TGIFSubImage &f, uint64_t (&usage)[256])
{
    if (!f.hasPixels())
        return;
    if (const auto store = f.pixelStore()) {
        store->countUsage(usage);
        return;
    }
    const std::size_t area = std::min(f.pixels().size(), std::size_t(f.width) * f.height);
    const uint8_t *p = f.pixels().data();
    for (std::size_t i = 0; i < area; ++i)
        ++usage[p[i]];
}

void renumber(TGIFSubImage &f, const uint8_t (&to)[256])
{
    if (const auto store = f.pixelStore())
        f.setPixelStore(store->mapped(to));
    else if (!f.pixels().empty())
        for (uint8_t &v : f.mutablePixels())
            v = to[v];
    // Every listed graphic control that is written with the transparent flag points into this table.
    for (int e = 0; e < f.extensionCount(); ++e)
        if (auto *g = extension_cast<TGIFGraphicControlExtension>(f.extension(e)); g && g->transparent())
            g->transparentIndex = to[g->transparentIndex];
}

/** Sorts one table by use; `users` are the frames whose indices refer to it. */
void optimizeTable(TGIFColorMap &map, const std::vector<TGIFSubImage *> &users)
{
    uint64_t counts[256] = {};
    for (const TGIFSubImage *f : users)
        countUsage(*f, counts);
    // An index beyond its table shows black; listing it lets the file be written as it plays.
    int highest = 255;
    while (highest >= 0 && counts[highest] == 0)
        --highest;
    if (highest >= map.count())
        map.entries.resize(std::size_t(highest) + 1, Rgb{});

    if (map.count() < 2)
        return;
    map.sorted = true;
    std::vector<uint32_t> usage(std::size_t(map.count()));
    for (std::size_t k = 0; k < usage.size(); ++k)
        usage[k] = uint32_t(std::min<uint64_t>(counts[k], std::numeric_limits<uint32_t>::max()));
    const std::vector<int> order = usageOrder(usage);

    bool moved = false;
    for (int k = 0; k < int(order.size()); ++k)
        moved |= order[std::size_t(k)] != k;
    if (!moved)
        return;

    uint8_t to[256];
    std::iota(std::begin(to), std::end(to), 0);
    std::vector<Rgb> entries(order.size());
    for (int k = 0; k < int(order.size()); ++k) {
        to[std::size_t(order[std::size_t(k)])] = uint8_t(k);
        entries[std::size_t(k)] = map.entries[std::size_t(order[std::size_t(k)])];
    }
    for (TGIFSubImage *f : users)
        renumber(*f, to);

    std::size_t keep = entries.size();
    for (std::size_t k = 0; k < entries.size(); ++k)
        if (usage[std::size_t(order[k])] == 0) {
            keep = k;
            break;
        }
    entries.resize(keep);
    map.entries = std::move(entries);
}

/** Merges frame b against its reference frame p (see MergeFrames). */
void mergeFrame(TGIFImage &image, int bi, int pi)
{
    TGIFSubImage &b = image.frame(bi);
    TGIFSubImage &p = image.frame(pi);
    if (!b.hasPixels() || !p.hasPixels())
        return;
    const int pDisposal = disposalOf(p);
    if (pDisposal == 2 || pDisposal == 3)
        return;
    const Rect overlap = Rect::of(b).intersect(Rect::of(p));
    if (overlap.empty())
        return;
    const auto bStore = b.pixelStore();
    const auto pStore = p.pixelStore();
    if (!bStore || !pStore)
        return;

    const bool bLocal = !b.colorMap().empty();
    TGIFColorMap &bTable = tableOf(image, b);
    const TGIFColorMap &pTable = p.colorMap().empty() ? image.header.colorMap : p.colorMap();
    const bool sameTable = &bTable == &pTable;

    // The index the repeated pixels take, and whether it still has to be made.
    int target = -1;
    bool needsEntry = false;
    if (b.transparent()) {
        target = b.graphicControl()->transparentIndex;
    } else {
        const int count = bTable.count();
        if (count < 1 || count > 255)
            return;
        target = count;
        needsEntry = true;
        if (!bLocal) {
            // Share the index another frame already shows as transparent, unless this frame
            // draws that index as a real colour (it would vanish with the repeated pixels).
            uint64_t used[256] = {};
            bStore->countUsage(used);
            for (int i = 0; i < image.count(); ++i) {
                const TGIFSubImage &o = image.frame(i);
                if (i == bi || !o.colorMap().empty() || !o.transparent())
                    continue;
                const int t = o.graphicControl()->transparentIndex;
                if (t < count && !used[std::size_t(t)]) {
                    target = t;
                    needsEntry = false;
                    break;
                }
            }
        }
    }

    // Colours as comparable numbers; an index beyond its table only equals itself in the same table.
    std::array<uint32_t, 256> bColor, pColor;
    for (int i = 0; i < 256; ++i) {
        const auto pack = [](const Rgb &c) { return uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b; };
        bColor[std::size_t(i)] =
            i < bTable.count() ? pack(bTable.entries[std::size_t(i)]) : 0x1000000u | uint32_t(i);
        pColor[std::size_t(i)] = i < pTable.count() ? pack(pTable.entries[std::size_t(i)])
                                                    : (sameTable ? 0x1000000u : 0x2000000u) | uint32_t(i);
    }
    const bool pTransparent = p.transparent();
    const int pTransparentIndex = pTransparent ? p.graphicControl()->transparentIndex : -1;

    // Rows of one value are compared once; the new indices are built only when something changes.
    std::optional<FramePixels::Builder> out;
    const int span = overlap.right - overlap.left;
    const int bx = overlap.left - b.left;
    const int px = overlap.left - p.left;

    // A row of one value that may change in part has to be stored. Skipping the merge only costs
    // file size, so a frame that would grow beyond the budget, or far beyond what the two frames
    // hold (rows of one value announced by a few bytes), is left as it is.
    std::size_t storedRows = 0;
    for (int y = overlap.top; y < overlap.bottom; ++y)
        if (!bStore->row(y - b.top) && (span != b.width || pStore->row(y - p.top)))
            ++storedRows;
    const std::size_t grown = storedRows * std::size_t(b.width);
    if (bStore->heldBytes() + grown > kMergeBudget
        || grown > bStore->heldBytes() + pStore->heldBytes() + kMergeGrowth)
        return;
    // Room for every row that may be stored, so that none moves while the frame grows.
    auto start = [&] {
        out.emplace(*bStore);
        out->reserveRows(storedRows);
    };
    auto repeats = [&](uint8_t bv, uint8_t pv) {
        return bv != target && pv != pTransparentIndex && bColor[bv] == pColor[pv];
    };
    for (int y = overlap.top; y < overlap.bottom; ++y) {
        const int by = y - b.top;
        const uint8_t *bRow = bStore->row(by);
        const uint8_t *pRow = pStore->row(y - p.top);
        const uint8_t bValue = bStore->rowValue(by);
        const uint8_t pValue = pStore->rowValue(y - p.top);
        if (!bRow && !pRow) {
            if (!repeats(bValue, pValue))
                continue;
            if (!out)
                start();
            if (span == b.width)
                out->setUniform(by, uint8_t(target));
            else
                std::memset(out->row(by) + bx, target, std::size_t(span));
            continue;
        }
        uint8_t *dst = nullptr;
        for (int x = 0; x < span; ++x) {
            if (!repeats(bRow ? bRow[bx + x] : bValue, pRow ? pRow[px + x] : pValue))
                continue;
            if (!dst) {
                if (!out)
                    start();
                dst = out->row(by);
            }
            dst[bx + x] = uint8_t(target);
        }
    }
    if (!out)
        return;
    b.setPixelStore(out->finish());

    if (needsEntry)
        bTable.entries.push_back(Rgb{0, 0, 0});
    if (!b.transparent()) {
        TGIFGraphicControlExtension *g = b.graphicControl() ? b.graphicControl() : b.addGraphicControl();
        g->setTransparent(true);
        g->transparentIndex = uint8_t(target);
    }
    if (!bLocal)
        for (int i = 0; i < image.count(); ++i)
            if (image.frame(i).colorMap().empty())
                image.frame(i).invalidatePicture();
}

/** Cuts frame b to its opaque pixels; returns false when it has none. */
bool cropFrame(TGIFSubImage &f)
{
    const uint8_t t = f.graphicControl()->transparentIndex;
    const auto px = f.pixelStore();
    const int w = f.width, h = f.height;
    int x0 = w, x1 = -1, y0 = h, y1 = -1;
    for (int y = 0; y < h; ++y) {
        const uint8_t *row = px->row(y);
        int first = 0, last = w - 1;
        if (!row) {
            if (px->rowValue(y) == t)
                continue;
        } else {
            while (first < w && row[first] == t)
                ++first;
            if (first == w)
                continue;
            while (row[last] == t)
                --last;
        }
        x0 = std::min(x0, first);
        x1 = std::max(x1, last);
        y0 = std::min(y0, y);
        y1 = y;
    }
    if (x1 < 0)
        return false;
    if (x0 == 0 && y0 == 0 && x1 == w - 1 && y1 == h - 1)
        return true;

    f.setPixelStore(px->cropped(x0, y0, x1 - x0 + 1, y1 - y0 + 1));
    f.left = uint16_t(f.left + x0);
    f.top = uint16_t(f.top + y0);
    return true;
}

} // namespace

std::vector<int> usageOrder(const std::vector<uint32_t> &usage)
{
    std::vector<int> order(usage.size());
    std::iota(order.begin(), order.end(), 0);
    if (usage.size() < 2)
        return order;
    auto use = [&](int k) { return usage[std::size_t(order[std::size_t(k)])]; };

    // This exact partition scheme: ties between equal counts land where it leaves them, which
    // decides whether a table counts as already sorted.
    auto sort = [&](auto &self, int low, int high) -> void {
        for (;;) {
            int i = low, j = high;
            const uint32_t pivot = use((low + high) / 2);
            do {
                while (use(i) > pivot)
                    ++i;
                while (use(j) < pivot)
                    --j;
                if (i <= j) {
                    std::swap(order[std::size_t(i)], order[std::size_t(j)]);
                    ++i;
                    --j;
                }
            } while (i <= j);
            if (low < j)
                self(self, low, j);
            if (i >= high)
                return;
            low = i;
        }
    };
    sort(sort, 0, int(usage.size()) - 1);
    return order;
}

void OptimizeColorMaps(TGIFImage &image)
{
    std::vector<TGIFSubImage *> users;
    for (int i = 0; i < image.count(); ++i)
        if (image.frame(i).colorMap().empty())
            users.push_back(&image.frame(i));
    if (!image.header.colorMap.empty() || !users.empty()) {
        optimizeTable(image.header.colorMap, users);
        for (TGIFSubImage *f : users)
            f->invalidatePicture();
    }
    for (int i = 0; i < image.count(); ++i) {
        TGIFSubImage &f = image.frame(i);
        if (!f.colorMap().empty())
            optimizeTable(f.mutableColorMap(), {&f});
    }
}

void CleanupFirstHalf(TGIFImage &image)
{
    for (int i = 0; i < image.count(); ++i) {
        TGIFSubImage &f = image.frame(i);
        if (!f.transparent())
            continue;
        const uint8_t t = f.graphicControl()->transparentIndex;
        bool uses = false;
        if (!f.hasPixels()) {
        } else if (const auto store = f.pixelStore()) {
            uses = store->contains(t);
        } else {
            const std::size_t area = std::min(f.pixels().size(), std::size_t(f.width) * f.height);
            const auto end = f.pixels().begin() + std::ptrdiff_t(area);
            uses = std::find(f.pixels().begin(), end, t) != end;
        }
        if (!uses)
            f.graphicControl()->setTransparent(false);
    }
    for (int i = 0; i + 1 < image.count(); ++i) {
        TGIFSubImage &f = image.frame(i);
        const TGIFSubImage &next = image.frame(i + 1);
        const int d = disposalOf(f);
        // The disposal only stops mattering when the next frame really paints over the whole
        // rectangle and does not itself go back to what was there before it.
        if ((d == 2 || d == 3) && !next.transparent() && next.hasPixels() && disposalOf(next) != 3 &&
            Rect::of(f).inside(Rect::of(next)))
            f.graphicControl()->setDisposal(0);
    }
}

void MergeFrames(TGIFImage &image)
{
    for (int b = image.count() - 1; b >= 1; --b) {
        int p = b - 1;
        while (p > 0 && disposalOf(image.frame(p)) == 3)
            --p;
        mergeFrame(image, b, p);
    }
}

void CropFrames(TGIFImage &image)
{
    for (int b = image.count() - 1; b >= 0; --b) {
        TGIFSubImage &f = image.frame(b);
        if (!f.transparent() || !f.hasPixels() || !f.pixelStore())
            continue;
        // Restoring to background clears the frame's whole rectangle: cutting the frame would
        // shrink what is cleared. That only goes unseen for the last frame when the first frame
        // paints over it before anything else shows.
        if (disposalOf(f) == 2) {
            const TGIFSubImage &first = image.frame(0);
            const bool hidden = b == image.count() - 1 && b > 0 && !first.transparent() &&
                                first.hasPixels() && Rect::of(f).inside(Rect::of(first));
            if (!hidden)
                continue;
        }
        if (cropFrame(f))
            continue;
        // A document needs a frame to be written at all: the last one stays, showing nothing.
        if (image.count() == 1)
            continue;

        // A frame that draws nothing can go, but only when the picture shown during its delay is
        // the one before it: after a frame that restores (disposal 2 or 3) the screen changes.
        if (b > 0 && (disposalOf(image.frame(b - 1)) == 2 || disposalOf(image.frame(b - 1)) == 3))
            continue;
        // Its delay goes to the frame before, which shows the same picture, so the timing is kept.
        const uint16_t delay = delayOf(f);
        if (b > 0 && delay > 0) {
            TGIFSubImage &prev = image.frame(b - 1);
            TGIFGraphicControlExtension *g =
                prev.graphicControl() ? prev.graphicControl() : prev.addGraphicControl();
            // Saturate: a wrapped sum would turn a long pause into a short one.
            g->delay = uint16_t(std::min<int>(g->delay + delay, std::numeric_limits<uint16_t>::max()));
        }
        // The loop setting lives on the first frame: hand it on rather than lose it.
        std::unique_ptr<TGIFExtension> loop;
        if (b == 0 && image.count() > 1)
            for (int e = 0; e < f.extensionCount(); ++e)
                if (f.extension(e)->kind() == ExtensionKind::Loop) {
                    loop = f.extension(e)->clone();
                    break;
                }
        image.deleteFrame(b);
        if (loop) {
            TGIFSubImage &first = image.frame(0);
            bool has = false;
            for (int e = 0; e < first.extensionCount(); ++e)
                has |= first.extension(e)->kind() == ExtensionKind::Loop;
            if (!has)
                first.insertExtension(0, std::move(loop));
        }
    }
}

void CleanupSecondHalf(TGIFImage &image)
{
    for (int b = image.count() - 1; b >= 0; --b) {
        TGIFSubImage &f = image.frame(b);
        const bool single = image.count() == 1;
        for (int e = f.extensionCount() - 1; e >= 0; --e) {
            const TGIFExtension *x = f.extension(e);
            bool drop = false;
            switch (x->kind()) {
            case ExtensionKind::Comment:
            case ExtensionKind::Text:
            case ExtensionKind::UnknownApplication:
                drop = true;
                break;
            case ExtensionKind::Loop:
                drop = !(b == 0 && image.count() >= 2);
                break;
            case ExtensionKind::GraphicControl: {
                const auto *g = static_cast<const TGIFGraphicControlExtension *>(x);
                const int d = g->disposal();
                drop = (g->delay == 0 || single) && !g->transparent() && !g->userInput() &&
                       (d == 0 || d == 1 || single);
                break;
            }
            }
            if (drop)
                f.removeExtension(e);
        }
        if (!f.hasPixels() && f.extensionCount() == 0 && image.count() > 1)
            image.deleteFrame(b);
    }
}

TGIFImage optimizedCopy(const TGIFImage &document)
{
    TGIFImage copy(document);
    OptimizeColorMaps(copy);
    CleanupFirstHalf(copy);
    MergeFrames(copy);
    CropFrames(copy);
    CleanupSecondHalf(copy);
    return copy;
}

void saveOptimizedToFile(const TGIFImage &document, const std::string &path)
{
    const TGIFImage copy = optimizedCopy(document);
    writeFileAtomically(path, [&](std::ostream &stream) { copy.SaveToStream(stream); });
}

} // namespace doc
