#include "quantize_quality.h"

#include "gif_error.h"
#include "quantize.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace doc {

namespace {

constexpr int kCellBits = 6;
constexpr std::size_t kCellCount = std::size_t(1) << (3 * kCellBits);
constexpr std::size_t kMaxExact = 256;

std::size_t cellOf(const uint8_t *p)
{
    constexpr int s = 8 - kCellBits;
    return std::size_t(p[0] >> s) << (2 * kCellBits) | std::size_t(p[1] >> s) << kCellBits | std::size_t(p[2] >> s);
}

/** One cell's colours, as their mean and how many pixels they cover. */
struct Point {
    std::array<float, 3> c;
    double w;
};

float distance2(const std::array<float, 3> &a, const std::array<float, 3> &b)
{
    const float dr = a[0] - b[0], dg = a[1] - b[1], db = a[2] - b[2];
    return dr * dr + dg * dg + db * db;
}

/** Weight, weighted sums and weighted sum of squares of a set of points: enough for its squared error. */
struct Moments {
    double w = 0, s[3] = {0, 0, 0}, q = 0;

    void add(const Point &p)
    {
        w += p.w;
        for (int a = 0; a < 3; ++a) {
            s[a] += p.w * p.c[std::size_t(a)];
            q += p.w * double(p.c[std::size_t(a)]) * p.c[std::size_t(a)];
        }
    }
    void add(const Moments &m)
    {
        w += m.w;
        for (int a = 0; a < 3; ++a)
            s[a] += m.s[a];
        q += m.q;
    }
    double error() const
    {
        if (w <= 0)
            return 0;
        return std::max(0.0, q - (s[0] * s[0] + s[1] * s[1] + s[2] * s[2]) / w);
    }
};

/** A range of points that becomes one palette entry, split further while it costs most. */
struct Box {
    std::size_t begin, end;
    Moments m;
    bool splittable = true;
};

Moments momentsOf(const std::vector<Point> &points, std::size_t begin, std::size_t end)
{
    Moments m;
    for (std::size_t i = begin; i < end; ++i)
        m.add(points[i]);
    return m;
}

/**
 * Splits a box in two along the channel and at the level that leave the least squared error in
 * the halves together (levels bucketed by whole values, so a split is linear in the box's size).
 * Returns false when every point falls in one bucket on every channel.
 */
bool splitBox(std::vector<Point> &points, Box &box, Box &other)
{
    double bestError = std::numeric_limits<double>::infinity();
    int bestAxis = -1, bestLevel = 0;
    std::array<Moments, 256> buckets;
    for (int axis = 0; axis < 3; ++axis) {
        buckets.fill(Moments{});
        for (std::size_t i = box.begin; i < box.end; ++i)
            buckets[std::size_t(std::clamp(int(points[i].c[std::size_t(axis)]), 0, 255))].add(points[i]);
        Moments left;
        for (int level = 0; level < 255; ++level) {
            left.add(buckets[std::size_t(level)]);
            if (left.w <= 0)
                continue;
            if (left.w >= box.m.w)
                break;
            Moments right = box.m;
            right.w -= left.w;
            for (int a = 0; a < 3; ++a)
                right.s[a] -= left.s[a];
            right.q -= left.q;
            const double error = left.error() + right.error();
            if (error < bestError) {
                bestError = error;
                bestAxis = axis;
                bestLevel = level;
            }
        }
    }
    if (bestAxis < 0)
        return false;
    const auto middle = std::partition(points.begin() + std::ptrdiff_t(box.begin), points.begin() + std::ptrdiff_t(box.end),
                                       [&](const Point &p) { return int(p.c[std::size_t(bestAxis)]) <= bestLevel; });
    const std::size_t cut = std::size_t(middle - points.begin());
    other = Box{cut, box.end, momentsOf(points, cut, box.end)};
    box = Box{box.begin, cut, momentsOf(points, box.begin, cut)};
    return true;
}

/** The starting palette: boxes split, the costliest first, until there are enough. */
std::vector<std::array<float, 3>> splitPalette(std::vector<Point> &points, int maxColors)
{
    std::vector<Box> boxes{Box{0, points.size(), momentsOf(points, 0, points.size())}};
    while (int(boxes.size()) < maxColors) {
        Box *worst = nullptr;
        for (Box &b : boxes)
            if (b.splittable && b.end - b.begin > 1 && (worst == nullptr || b.m.error() > worst->m.error()))
                worst = &b;
        if (worst == nullptr || worst->m.error() <= 0)
            break;
        Box other{};
        if (!splitBox(points, *worst, other)) {
            worst->splittable = false;
            continue;
        }
        boxes.push_back(other);
    }
    std::vector<std::array<float, 3>> centres;
    for (const Box &b : boxes)
        centres.push_back({float(b.m.s[0] / b.m.w), float(b.m.s[1] / b.m.w), float(b.m.s[2] / b.m.w)});
    return centres;
}

/**
 * Lloyd passes: every point goes to its nearest centre in RGB (the distance the mapping uses),
 * every centre moves to the mean of its points; a centre left with no point is moved onto the
 * point that costs most, so no entry is wasted. Stops when a pass gains less than 0.1 %.
 */
void refine(const std::vector<Point> &points, std::vector<std::array<float, 3>> &centres)
{
    constexpr int kMaxPasses = 12;
    const std::size_t k = centres.size();
    std::vector<uint32_t> owner(points.size(), 0);
    std::vector<float> cost(points.size(), 0);
    std::vector<uint32_t> order(k);
    std::vector<float> keys(k);
    double lastError = std::numeric_limits<double>::infinity();
    for (int pass = 0; pass < kMaxPasses; ++pass) {
        // Centres sorted by r + g + b: |Δ(r + g + b)|² ≤ 3 × squared distance, which bounds the search.
        for (std::size_t i = 0; i < k; ++i)
            order[i] = uint32_t(i);
        std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
            return centres[a][0] + centres[a][1] + centres[a][2] < centres[b][0] + centres[b][1] + centres[b][2];
        });
        for (std::size_t i = 0; i < k; ++i)
            keys[i] = centres[order[i]][0] + centres[order[i]][1] + centres[order[i]][2];

        std::vector<Moments> sums(k);
        double error = 0;
        for (std::size_t i = 0; i < points.size(); ++i) {
            const Point &p = points[i];
            const float key = p.c[0] + p.c[1] + p.c[2];
            uint32_t best = owner[i];
            float bestD = distance2(p.c, centres[best]);
            const std::size_t start = std::size_t(std::lower_bound(keys.begin(), keys.end(), key) - keys.begin());
            // Walks outward from the key; false once no centre further on can be nearer.
            auto consider = [&](std::size_t j) {
                const float dk = keys[j] - key;
                if (dk * dk > 3 * bestD)
                    return false;
                const float d = distance2(p.c, centres[order[j]]);
                if (d < bestD || (d == bestD && order[j] < best)) {
                    bestD = d;
                    best = order[j];
                }
                return true;
            };
            for (std::size_t j = start; j < k && consider(j); ++j) {
            }
            for (std::size_t j = start; j-- > 0 && consider(j);) {
            }
            owner[i] = best;
            cost[i] = float(p.w) * bestD;
            error += cost[i];
            sums[best].add(p);
        }
        for (std::size_t c = 0; c < k; ++c) {
            if (sums[c].w > 0) {
                centres[c] = {float(sums[c].s[0] / sums[c].w), float(sums[c].s[1] / sums[c].w), float(sums[c].s[2] / sums[c].w)};
                continue;
            }
            const auto costliest = std::max_element(cost.begin(), cost.end());
            if (costliest == cost.end() || *costliest <= 0)
                continue;
            const std::size_t i = std::size_t(costliest - cost.begin());
            centres[c] = points[i].c;
            owner[i] = uint32_t(c);
            *costliest = 0;
        }
        if (error >= lastError * 0.999)
            break;
        lastError = error;
    }
}

uint8_t toChannel(float v)
{
    return uint8_t(std::clamp(int(std::lround(v)), 0, 255));
}

void mapNearest(const Picture &picture, NearestColorLookup &lookup, Picture &out)
{
    for (int y = 0; y < picture.height(); ++y) {
        const uint8_t *p = picture.row(y);
        uint8_t *o = out.row(y);
        uint32_t lastKey = 0xFFFFFFFFu; // never a 24-bit colour
        uint8_t lastIndex = 0;
        for (int x = 0; x < picture.width(); ++x, p += 3) {
            const uint32_t key = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
            if (key != lastKey) {
                lastKey = key;
                lastIndex = lookup.indexOf(p[0], p[1], p[2]);
            }
            o[x] = lastIndex;
        }
    }
}

void mapOrdered(const Picture &picture, NearestColorLookup &lookup, Picture &out)
{
    static constexpr int kBayer[8][8] = {
        {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
        {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
        {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21}};
    for (int y = 0; y < picture.height(); ++y) {
        const uint8_t *p = picture.row(y);
        uint8_t *o = out.row(y);
        for (int x = 0; x < picture.width(); ++x, p += 3) {
            // About a palette step's worth of spread: 256 colours leave steps of some 16 levels.
            const int offset = (kBayer[y & 7][x & 7] - 32) / 4;
            o[x] = lookup.indexOf(uint8_t(std::clamp(p[0] + offset, 0, 255)), uint8_t(std::clamp(p[1] + offset, 0, 255)),
                                  uint8_t(std::clamp(p[2] + offset, 0, 255)));
        }
    }
}

/**
 * Floyd–Steinberg in sixteenths over a rectangle of `out`, rows alternately left to right and right
 * to left. With `before`, a pixel that is the same there keeps the index `out` already holds (its
 * error still spreads to its neighbours), so what two pictures share keeps its dither.
 */
void floydSteinberg(const Picture &picture, const Picture *before, NearestColorLookup &lookup, const std::vector<Rgb> &palette,
                    Picture &out, int x0, int y0, int w, int h)
{
    std::vector<int> current(std::size_t(w + 2) * 3, 0), below(std::size_t(w + 2) * 3, 0);
    for (int y = 0; y < h; ++y) {
        const uint8_t *p = picture.row(y0 + y) + 3 * x0;
        const uint8_t *was = before ? before->row(y0 + y) + 3 * x0 : nullptr;
        uint8_t *o = out.row(y0 + y) + x0;
        const bool forward = (y & 1) == 0;
        const int step = forward ? 1 : -1;
        std::fill(below.begin(), below.end(), 0);
        for (int i = 0; i < w; ++i) {
            const int x = forward ? i : w - 1 - i;
            const int *err = &current[std::size_t(x + 1) * 3];
            int want[3];
            for (int c = 0; c < 3; ++c)
                want[c] = std::clamp(p[3 * x + c] + err[c] / 16, 0, 255);
            if (!was || std::memcmp(p + 3 * x, was + 3 * x, 3) != 0)
                o[x] = lookup.indexOf(uint8_t(want[0]), uint8_t(want[1]), uint8_t(want[2]));
            const Rgb got = palette[std::min<std::size_t>(o[x], palette.size() - 1)];
            const int e[3] = {want[0] - got.r, want[1] - got.g, want[2] - got.b};
            for (std::size_t c = 0; c < 3; ++c) {
                current[std::size_t(x + 1 + step) * 3 + c] += e[c] * 7;
                below[std::size_t(x + 1 - step) * 3 + c] += e[c] * 3;
                below[std::size_t(x + 1) * 3 + c] += e[c] * 5;
                below[std::size_t(x + 1 + step) * 3 + c] += e[c];
            }
        }
        std::swap(current, below);
    }
}

constexpr int kSeenBits = 12;
constexpr uint32_t kNotSeen = 0xFFFFFFFFu; // no 24-bit colour

std::size_t seenSlot(uint32_t key)
{
    return std::size_t((key * 2654435761u) >> (32 - kSeenBits));
}

} // namespace

ColorHistogram::ColorHistogram()
    : mCells(kCellCount)
    , mSeen(std::size_t(1) << kSeenBits, kNotSeen)
{
}

void ColorHistogram::add(const Picture &rgb24)
{
    for (int y = 0; y < rgb24.height(); ++y)
        add(rgb24.row(y), std::size_t(rgb24.width()), 1);
}

void ColorHistogram::add(const uint8_t *rgb, std::size_t pixels, uint64_t times)
{
    uint32_t last = 0xFFFFFFFFu;
    for (std::size_t x = 0; x < pixels; ++x, rgb += 3) {
        Cell &c = mCells[cellOf(rgb)];
        c.n += times;
        c.r += times * rgb[0];
        c.g += times * rgb[1];
        c.b += times * rgb[2];
        const uint32_t key = uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | rgb[2];
        if (mMany || key == last)
            continue;
        last = key;
        uint32_t &seen = mSeen[seenSlot(key)];
        if (seen == key)
            continue;
        const auto at = std::lower_bound(mDistinct.begin(), mDistinct.end(), key);
        if (at != mDistinct.end() && *at == key) {
            seen = key;
            continue;
        }
        if (mDistinct.size() >= kMaxExact) {
            mMany = true;
            mDistinct.clear();
        } else {
            mDistinct.insert(at, key);
            seen = key;
        }
    }
}

void ColorHistogram::add(const ColorHistogram &other)
{
    for (std::size_t i = 0; i < kCellCount; ++i) {
        mCells[i].n += other.mCells[i].n;
        mCells[i].r += other.mCells[i].r;
        mCells[i].g += other.mCells[i].g;
        mCells[i].b += other.mCells[i].b;
    }
    if (mMany || other.mMany) {
        mMany = true;
        mDistinct.clear();
        return;
    }
    std::vector<uint32_t> both;
    std::set_union(mDistinct.begin(), mDistinct.end(), other.mDistinct.begin(), other.mDistinct.end(), std::back_inserter(both));
    mMany = both.size() > kMaxExact;
    if (!mMany)
        mDistinct = std::move(both);
    else
        mDistinct.clear();
}

std::vector<Rgb> ColorHistogram::fewColors() const
{
    std::vector<Rgb> colors;
    if (mMany)
        return colors;
    for (uint32_t key : mDistinct)
        colors.push_back(Rgb{uint8_t(key >> 16), uint8_t(key >> 8), uint8_t(key)});
    return colors;
}

std::vector<Rgb> ColorHistogram::bestPalette(int maxColors) const
{
    maxColors = std::clamp(maxColors, 1, 256);
    if (std::vector<Rgb> few = fewColors(); !few.empty() && int(few.size()) <= maxColors)
        return few;
    std::vector<Point> points;
    for (const Cell &c : mCells)
        if (c.n)
            points.push_back(Point{{float(double(c.r) / double(c.n)), float(double(c.g) / double(c.n)), float(double(c.b) / double(c.n))},
                                   double(c.n)});
    if (points.empty())
        return {};
    std::vector<std::array<float, 3>> centres = splitPalette(points, maxColors);
    refine(points, centres);
    std::vector<Rgb> palette;
    for (const auto &c : centres) {
        const Rgb rgb{toChannel(c[0]), toChannel(c[1]), toChannel(c[2])};
        if (std::find(palette.begin(), palette.end(), rgb) == palette.end())
            palette.push_back(rgb);
    }
    return palette;
}

PaletteMapper::PaletteMapper(std::vector<Rgb> palette)
    : mPalette(std::move(palette))
{
    if (mPalette.empty())
        mPalette.push_back(Rgb{});
}

PaletteMapper::~PaletteMapper() = default;

std::unique_ptr<NearestColorLookup> PaletteMapper::takeLookup() const
{
    {
        const std::lock_guard lock(mMutex);
        if (!mIdle.empty()) {
            std::unique_ptr<NearestColorLookup> lookup = std::move(mIdle.back());
            mIdle.pop_back();
            return lookup;
        }
    }
    return std::make_unique<NearestColorLookup>(mPalette);
}

void PaletteMapper::giveBack(std::unique_ptr<NearestColorLookup> lookup) const
{
    const std::lock_guard lock(mMutex);
    mIdle.push_back(std::move(lookup));
}

std::optional<ChangedRect> changesToDither(const Picture &before, const Picture &after, std::size_t screenPixels)
{
    if (before.width() != after.width() || before.height() != after.height())
        return std::nullopt;
    const std::size_t rowBytes = std::size_t(after.width()) * 3;
    int top = -1, bottom = -1, left = after.width(), right = -1;
    for (int y = 0; y < after.height(); ++y) {
        const uint8_t *a = before.row(y), *b = after.row(y);
        if (std::memcmp(a, b, rowBytes) == 0)
            continue;
        if (top < 0)
            top = y;
        bottom = y;
        int x = 0;
        while (x < left && std::memcmp(a + 3 * x, b + 3 * x, 3) == 0)
            ++x;
        left = std::min(left, x);
        x = after.width() - 1;
        while (x > right && std::memcmp(a + 3 * x, b + 3 * x, 3) == 0)
            --x;
        right = std::max(right, x);
    }
    if (top < 0)
        return ChangedRect{};
    const ChangedRect rect{left, top, right - left + 1, bottom - top + 1};
    std::size_t differ = 0;
    for (int y = rect.y; y < rect.y + rect.h; ++y) {
        const uint8_t *a = before.row(y) + 3 * rect.x, *b = after.row(y) + 3 * rect.x;
        for (int x = 0; x < rect.w; ++x, a += 3, b += 3)
            differ += a[0] != b[0] || a[1] != b[1] || a[2] != b[2];
    }
    const std::size_t area = screenPixels ? screenPixels : std::size_t(after.width()) * std::size_t(after.height());
    if ((area - std::min(differ, area)) * 16 < area)
        return std::nullopt;
    return rect;
}

void PaletteMapper::ditherChanges(const Picture &rgb24, const Picture &before, Picture &indexed, int x0, int y0, int w, int h) const
{
    std::unique_ptr<NearestColorLookup> lookup = takeLookup();
    floydSteinberg(rgb24, &before, *lookup, mPalette, indexed, x0, y0, w, h);
    giveBack(std::move(lookup));
}

Picture PaletteMapper::map(const Picture &rgb24, Dithering dither) const
{
    std::unique_ptr<NearestColorLookup> lookup = takeLookup();
    Picture out(rgb24.width(), rgb24.height(), PixelFormat::Indexed8);
    out.palette() = mPalette;
    switch (dither) {
    case Dithering::None:
        mapNearest(rgb24, *lookup, out);
        break;
    case Dithering::FloydSteinberg:
        floydSteinberg(rgb24, nullptr, *lookup, mPalette, out, 0, 0, rgb24.width(), rgb24.height());
        break;
    case Dithering::Ordered:
        mapOrdered(rgb24, *lookup, out);
        break;
    }
    giveBack(std::move(lookup));
    // The padding comes after the mapping: it is no colour of the palette and no pixel takes it.
    std::size_t size = 2;
    while (size < out.palette().size())
        size *= 2;
    out.palette().resize(size, Rgb{});
    return out;
}

Picture mapToPalette(const Picture &rgb24, std::vector<Rgb> palette, Dithering dither)
{
    return PaletteMapper(std::move(palette)).map(rgb24, dither);
}

Picture reducePicture(Picture &picture, const ReductionChoice &choice)
{
    if (choice.quality == PaletteQuality::Octree) {
        Picture octree = ReduceBitmapColors(picture, ReductionMode::OctreeQuantize, DitherMode::NearestColor, 8);
        if (choice.dither == Dithering::None || picture.width() * std::size_t(picture.height()) <= kMaxExact)
            return octree;
        ColorHistogram histogram;
        histogram.add(picture);
        if (!histogram.fewColors().empty())
            return octree; // every colour kept exactly already
        return mapToPalette(picture, octree.palette(), choice.dither);
    }
    // The same checks and conversion as ReduceBitmapColors, whose octree is not needed here.
    const std::size_t pixels = std::size_t(picture.width()) * std::size_t(picture.height());
    if (picture.isNull() || picture.data().size() < pixels * std::size_t(picture.bytesPerPixel()))
        throw GifError(GifErrorKind::InvalidDimensions);
    try {
        if (picture.format() != PixelFormat::Rgb24)
            picture = picture.toRgb24();
        ColorHistogram histogram;
        histogram.add(picture);
        if (!histogram.fewColors().empty()) // every colour kept exactly, in the octree's order
            return ReduceBitmapColors(picture, ReductionMode::OctreeQuantize, DitherMode::NearestColor, 8);
        Picture out = mapToPalette(picture, histogram.bestPalette(256), choice.dither);
        out.palette().resize(256, Rgb{});
        return out;
    } catch (const std::bad_alloc &) {
        throw GifError(GifErrorKind::OutOfMemory);
    }
}

} // namespace doc
