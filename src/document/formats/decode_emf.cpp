// Enhanced metafiles, played back onto a white picture. What is drawn: lines, polylines,
// polygons and poly-polygons (32- and 16-bit), Bézier curves, rectangles, rounded rectangles,
// ellipses, paths (fill, stroke, both), solid pens and brushes with the stock objects, the world and
// page transforms with every map mode, and bitmaps (BitBlt, StretchBlt, StretchDIBits,
// SetDIBitsToDevice; uncompressed DIBs of 1 to 32 bits), arcs, chords and pies, and rectangular
// clipping (a clipping region is kept as its bounding box), and text (EXTTEXTOUTW, through
// GraphicsMagick's renderer with the URW PostScript fonts standing in for Windows faces; no
// rotation, no character spacing array, no opaque background). Not drawn: hatch and pattern
// brushes (drawn solid), raster operations beyond copy/and/or, EXTTEXTOUTA, and EMF+ records (the
// EMF records every dual file carries are used instead).
//
// The picture's size is the frame of the header at 96 pixels per inch, the size the add command
// has always shown a metafile at; a frame too large for the budget is drawn smaller.

#include "decoders.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <array>
#include <cmath>
#include <optional>
#include <variant>

namespace doc::formats {
namespace {

constexpr double kDpi = 96.0;
constexpr uint32_t kMaxRecords = 1u << 22;
constexpr uint32_t kMaxHandles = 1u << 16;
// Each drawing call costs at most this many pixel visits (area of its bounding box), so a hostile
// file with huge shapes cannot spin for minutes.
constexpr int64_t kPixelWorkBudget = int64_t(1) << 31;

struct Point {
    double x = 0, y = 0;
};

struct Xform {
    double m11 = 1, m12 = 0, m21 = 0, m22 = 1, dx = 0, dy = 0;
    Point apply(Point p) const { return {p.x * m11 + p.y * m21 + dx, p.x * m12 + p.y * m22 + dy}; }
    /** this, then b */
    Xform then(const Xform &b) const
    {
        return {m11 * b.m11 + m12 * b.m21, m11 * b.m12 + m12 * b.m22, m21 * b.m11 + m22 * b.m21,
                m21 * b.m12 + m22 * b.m22, dx * b.m11 + dy * b.m21 + b.dx, dx * b.m12 + dy * b.m22 + b.dy};
    }
};

struct Pen {
    bool null = false;
    double width = 0; // logical units; 0 is one pixel
    Rgb color;
};
struct Brush {
    bool null = false;
    Rgb color;
};
struct Font {
    double height = 12; // logical units; negative: the em size, positive: the cell height
    int weight = 400;
    bool italic = false;
    std::string face;
};
using Object = std::variant<std::monostate, Pen, Brush, Font>;

struct DcState {
    int mapMode = 1; // MM_TEXT
    Point windowOrg, viewportOrg;
    Point windowExt{1, 1}, viewportExt{1, 1};
    Xform world;
    Pen pen{false, 0, {0, 0, 0}};
    Brush brush{false, {255, 255, 255}};
    bool winding = false; // ALTERNATE by default
    bool clockwise = false; // arc direction
    Font font;
    Rgb textColor{0, 0, 0};
    uint32_t textAlign = 0; // TA_TOP | TA_LEFT
    Point position;
    std::optional<std::array<int, 4>> clip; // pixels; a region is kept as its bounding box
};

Rgb colorRef(uint32_t c)
{
    return {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)};
}

using Polygon = std::vector<Point>;

class Canvas
{
public:
    Canvas(int w, int h)
        : mPic(w, h, PixelFormat::Rgb24)
    {
        std::fill(mPic.data().begin(), mPic.data().end(), 255);
        setClip(std::nullopt);
    }
    Picture &picture() { return mPic; }

    /** Later drawing stays inside this pixel rectangle (the whole picture when none). */
    void setClip(const std::optional<std::array<int, 4>> &clip)
    {
        mClip = {0, 0, mPic.width(), mPic.height()};
        if (clip) {
            mClip[0] = std::clamp((*clip)[0], 0, mPic.width());
            mClip[1] = std::clamp((*clip)[1], 0, mPic.height());
            mClip[2] = std::clamp((*clip)[2], mClip[0], mPic.width());
            mClip[3] = std::clamp((*clip)[3], mClip[1], mPic.height());
        }
    }

    /** Fills the polygons (in pixel coordinates) as one shape, pixel centres inside. */
    void fill(const std::vector<Polygon> &polys, Rgb c, bool winding)
    {
        double minY = 1e300, maxY = -1e300, minX = 1e300, maxX = -1e300;
        for (const Polygon &p : polys)
            for (const Point &q : p) {
                if (!std::isfinite(q.x) || !std::isfinite(q.y))
                    return;
                minY = std::min(minY, q.y), maxY = std::max(maxY, q.y);
                minX = std::min(minX, q.x), maxX = std::max(maxX, q.x);
            }
        const int y0 = std::max(mClip[1], int(std::floor(minY))), y1 = std::min(mClip[3] - 1, int(std::ceil(maxY)));
        if (y0 > y1 || maxX < 0 || minX >= mPic.width() || !spend(int64_t(y1 - y0 + 1) * mPic.width()))
            return;
        std::vector<std::pair<double, int>> xs;
        for (int y = y0; y <= y1; ++y) {
            const double sy = y + 0.5;
            xs.clear();
            for (const Polygon &p : polys)
                for (std::size_t i = 0; i < p.size(); ++i) {
                    const Point a = p[i], b = p[(i + 1) % p.size()];
                    if ((a.y <= sy) == (b.y <= sy))
                        continue;
                    xs.emplace_back(a.x + (sy - a.y) * (b.x - a.x) / (b.y - a.y), a.y < b.y ? 1 : -1);
                }
            std::sort(xs.begin(), xs.end());
            // Between crossing i and i + 1 the span is inside by the fill rule.
            int wind = 0;
            for (std::size_t i = 0; i + 1 < xs.size(); ++i) {
                wind += xs[i].second;
                const bool inside = winding ? wind != 0 : (i % 2 == 0);
                if (inside)
                    span(y, xs[i].first, xs[i + 1].first, c);
            }
        }
    }

    void line(Point a, Point b, double width, Rgb c)
    {
        if (!std::isfinite(a.x) || !std::isfinite(a.y) || !std::isfinite(b.x) || !std::isfinite(b.y))
            return;
        if (width <= 1.5) {
            thinLine(a, b, c);
            return;
        }
        double dx = b.x - a.x, dy = b.y - a.y;
        const double len = std::hypot(dx, dy);
        const double h = width / 2;
        if (len < 1e-9) {
            fill({{{a.x - h, a.y - h}, {a.x + h, a.y - h}, {a.x + h, a.y + h}, {a.x - h, a.y + h}}}, c, true);
            return;
        }
        dx /= len, dy /= len;
        // Square ends reaching half the width past each point cover the joins of a polyline.
        const Point s{a.x - dx * h, a.y - dy * h}, e{b.x + dx * h, b.y + dy * h};
        fill({{{s.x - dy * h, s.y + dx * h}, {e.x - dy * h, e.y + dx * h}, {e.x + dy * h, e.y - dx * h},
               {s.x + dy * h, s.y - dx * h}}},
             c, true);
    }

    enum class Rop { Copy, And, Or };
    /** Draws `src` (RGB rows, top first) into the pixel rectangle, nearest-neighbour scaled. */
    void image(const std::vector<uint8_t> &src, int sw, int sh, Point p0, Point p1, Rop rop)
    {
        const double left = std::min(p0.x, p1.x), right = std::max(p0.x, p1.x);
        const double top = std::min(p0.y, p1.y), bottom = std::max(p0.y, p1.y);
        const bool flipX = p1.x < p0.x, flipY = p1.y < p0.y;
        if (!(right > left) || !(bottom > top) || !std::isfinite(left + right + top + bottom))
            return;
        const int x0 = std::max(mClip[0], int(std::lround(left))), x1 = std::min(mClip[2], int(std::lround(right)));
        const int y0 = std::max(mClip[1], int(std::lround(top))), y1 = std::min(mClip[3], int(std::lround(bottom)));
        if (x0 >= x1 || y0 >= y1 || !spend(int64_t(x1 - x0) * (y1 - y0)))
            return;
        for (int y = y0; y < y1; ++y) {
            int sy = int((y + 0.5 - top) * sh / (bottom - top));
            sy = std::clamp(flipY ? sh - 1 - sy : sy, 0, sh - 1);
            uint8_t *out = mPic.row(y);
            for (int x = x0; x < x1; ++x) {
                int sx = int((x + 0.5 - left) * sw / (right - left));
                sx = std::clamp(flipX ? sw - 1 - sx : sx, 0, sw - 1);
                const uint8_t *s = src.data() + (std::size_t(sy) * std::size_t(sw) + std::size_t(sx)) * 3;
                uint8_t *o = out + 3 * x;
                for (int k = 0; k < 3; ++k)
                    o[k] = rop == Rop::Copy ? s[k] : rop == Rop::And ? uint8_t(o[k] & s[k]) : uint8_t(o[k] | s[k]);
            }
        }
    }

private:
    bool spend(int64_t work)
    {
        mWork += work;
        return mWork <= kPixelWorkBudget;
    }

    void span(int y, double xa, double xb, Rgb c)
    {
        const int x0 = std::max(mClip[0], int(std::ceil(xa - 0.5))), x1 = std::min(mClip[2] - 1, int(std::ceil(xb - 0.5)) - 1);
        uint8_t *row = mPic.row(y);
        for (int x = x0; x <= x1; ++x) {
            row[3 * x] = c.r;
            row[3 * x + 1] = c.g;
            row[3 * x + 2] = c.b;
        }
    }

    void plot(int x, int y, Rgb c)
    {
        if (x < mClip[0] || y < mClip[1] || x >= mClip[2] || y >= mClip[3])
            return;
        uint8_t *p = mPic.row(y) + 3 * x;
        p[0] = c.r, p[1] = c.g, p[2] = c.b;
    }

    void thinLine(Point a, Point b, Rgb c)
    {
        // Clip to a margin around the picture first so the step count stays bounded.
        const double lim = 4.0 * std::max(mPic.width(), mPic.height()) + 16;
        if (std::max({std::abs(a.x), std::abs(a.y), std::abs(b.x), std::abs(b.y)}) > lim) {
            if (!clip(a, b, -1, -1, mPic.width() + 1, mPic.height() + 1))
                return;
        }
        const int steps = int(std::max(std::abs(b.x - a.x), std::abs(b.y - a.y))) + 1;
        if (!spend(steps))
            return;
        for (int i = 0; i < steps; ++i) { // the end point is left out, as GDI does
            const double t = double(i) / steps;
            plot(int(std::floor(a.x + (b.x - a.x) * t)), int(std::floor(a.y + (b.y - a.y) * t)), c);
        }
    }

    static bool clip(Point &a, Point &b, double x0, double y0, double x1, double y1)
    {
        double t0 = 0, t1 = 1;
        const double dx = b.x - a.x, dy = b.y - a.y;
        const double p[4] = {-dx, dx, -dy, dy}, q[4] = {a.x - x0, x1 - a.x, a.y - y0, y1 - a.y};
        for (int i = 0; i < 4; ++i) {
            if (p[i] == 0) {
                if (q[i] < 0)
                    return false;
                continue;
            }
            const double r = q[i] / p[i];
            if (p[i] < 0)
                t0 = std::max(t0, r);
            else
                t1 = std::min(t1, r);
        }
        if (t0 > t1)
            return false;
        const Point na{a.x + t0 * dx, a.y + t0 * dy}, nb{a.x + t1 * dx, a.y + t1 * dy};
        a = na, b = nb;
        return true;
    }

    Picture mPic;
    std::array<int, 4> mClip{};
    int64_t mWork = 0;
};

/** An uncompressed DIB as RGB rows from the top; false when it is not one we read. */
bool decodeDib(std::span<const uint8_t> info, std::span<const uint8_t> bits, std::vector<uint8_t> &rgb, int &w, int &h)
{
    if (info.size() < 40)
        return false;
    ByteReader in(info, "EMF");
    const uint32_t headerSize = in.u32le();
    const int32_t width = in.i32le(), height = in.i32le();
    in.skip(2);
    const unsigned bitCount = in.u16le();
    const uint32_t compression = in.u32le();
    in.skip(12);
    const uint32_t used = in.u32le();
    if (headerSize < 40 || headerSize > info.size() || width <= 0 || height == 0 || height == INT32_MIN)
        return false;
    if (compression != 0 && compression != 3)
        return false;
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
        return false;
    const bool topDown = height < 0;
    const int64_t ah = std::abs(int64_t(height));
    if (int64_t(width) * ah > kMaxPicturePixels || width > kMaxPictureSide || ah > kMaxPictureSide)
        return false;
    w = width;
    h = int(ah);
    uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (bitCount == 32)
        masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
    std::size_t paletteAt = headerSize;
    if (compression == 3) {
        ByteReader m(info, "EMF");
        m.seek(40);
        if (info.size() < 52)
            return false;
        masks[0] = m.u32le(), masks[1] = m.u32le(), masks[2] = m.u32le();
        if (headerSize == 40)
            paletteAt += 12;
    }
    std::vector<Rgb> palette;
    if (bitCount <= 8) {
        const std::size_t count = used ? std::min<uint32_t>(used, 256) : (1u << bitCount);
        for (std::size_t i = 0; i < count && paletteAt + 4 * i + 4 <= info.size(); ++i) {
            const uint8_t *q = info.data() + paletteAt + 4 * i;
            palette.push_back({q[2], q[1], q[0]});
        }
        if (palette.empty())
            return false;
    }
    const std::size_t stride = (std::size_t(width) * bitCount + 31) / 32 * 4;
    if (stride * std::size_t(h) > bits.size())
        return false;
    rgb.assign(std::size_t(w) * std::size_t(h) * 3, 0);
    auto channel = [](uint32_t v, uint32_t mask) -> uint8_t {
        if (!mask)
            return 0;
        int shift = 0;
        while (!(mask >> shift & 1))
            ++shift;
        const uint32_t max = mask >> shift;
        return uint8_t(((v & mask) >> shift) * 255 / max);
    };
    for (int y = 0; y < h; ++y) {
        const uint8_t *row = bits.data() + stride * std::size_t(topDown ? y : h - 1 - y);
        uint8_t *o = rgb.data() + std::size_t(y) * std::size_t(w) * 3;
        for (int x = 0; x < w; ++x, o += 3) {
            Rgb c;
            if (bitCount <= 8) {
                const unsigned perByte = 8 / bitCount;
                const unsigned v = (row[x / perByte] >> ((perByte - 1 - x % perByte) * bitCount)) & ((1u << bitCount) - 1);
                c = v < palette.size() ? palette[v] : Rgb{};
            } else if (bitCount == 24) {
                c = {row[3 * x + 2], row[3 * x + 1], row[3 * x]};
            } else if (bitCount == 16) {
                const uint32_t v = row[2 * x] | row[2 * x + 1] << 8;
                c = {channel(v, masks[0]), channel(v, masks[1]), channel(v, masks[2])};
            } else {
                const uint32_t v = uint32_t(row[4 * x]) | uint32_t(row[4 * x + 1]) << 8 | uint32_t(row[4 * x + 2]) << 16
                                   | uint32_t(row[4 * x + 3]) << 24;
                c = {channel(v, masks[0]), channel(v, masks[1]), channel(v, masks[2])};
            }
            o[0] = c.r, o[1] = c.g, o[2] = c.b;
        }
    }
    return true;
}

class Player
{
public:
    Player(std::span<const uint8_t> bytes)
        : mBytes(bytes)
    {}

    Picture play();

private:
    Xform pageTransform() const;
    Point toPixel(Point logical) const { return mDevice.apply(pageTransform().apply(mDc.world.apply(logical))); }
    double penPixels() const;

    void strokePolyline(const std::vector<Point> &logical, bool closed);
    void fillPolygons(const std::vector<std::vector<Point>> &logical);
    void drawShape(const std::vector<std::vector<Point>> &logical, bool closed);
    void addToPathOrDraw(std::vector<Point> pts, bool closed, bool fillable);
    static void bezier(std::vector<Point> &out, Point p0, Point p1, Point p2, Point p3);
    static std::vector<Point> ellipse(double l, double t, double r, double b);
    std::vector<Point> arc(double l, double t, double r, double b, Point start, Point end) const;
    void clipTo(double l, double t, double r, double b);
    void bitmap(ByteReader &rec, uint32_t type, std::size_t recordStart, uint32_t recordSize);
    void text(ByteReader &rec, std::size_t recordStart, uint32_t recordSize);

    std::span<const uint8_t> mBytes;
    Xform mDevice; // reference-device pixels to picture pixels
    double mDevicePerMm[2] = {1, 1};
    DcState mDc;
    std::vector<DcState> mSaved;
    std::vector<Object> mObjects;
    bool mInPath = false;
    std::vector<std::pair<std::vector<Point>, bool>> mPath; // logical points, closed
    std::optional<Canvas> mCanvas;
};

Xform Player::pageTransform() const
{
    Xform t;
    double sx = 1, sy = 1;
    switch (mDc.mapMode) {
    case 1: // MM_TEXT
        break;
    case 2: sx = mDevicePerMm[0] * 0.1, sy = -mDevicePerMm[1] * 0.1; break;     // MM_LOMETRIC
    case 3: sx = mDevicePerMm[0] * 0.01, sy = -mDevicePerMm[1] * 0.01; break;   // MM_HIMETRIC
    case 4: sx = mDevicePerMm[0] * 0.254, sy = -mDevicePerMm[1] * 0.254; break; // MM_LOENGLISH
    case 5: sx = mDevicePerMm[0] * 0.0254, sy = -mDevicePerMm[1] * 0.0254; break; // MM_HIENGLISH
    case 6: sx = mDevicePerMm[0] * 25.4 / 1440, sy = -mDevicePerMm[1] * 25.4 / 1440; break; // MM_TWIPS
    default: // MM_ISOTROPIC, MM_ANISOTROPIC
        sx = mDc.windowExt.x != 0 ? mDc.viewportExt.x / mDc.windowExt.x : 1;
        sy = mDc.windowExt.y != 0 ? mDc.viewportExt.y / mDc.windowExt.y : 1;
        if (mDc.mapMode == 7) { // isotropic: the smaller scale on both axes, signs kept
            const double s = std::min(std::abs(sx), std::abs(sy));
            sx = std::copysign(s, sx), sy = std::copysign(s, sy);
        }
        break;
    }
    if (mDc.mapMode == 1) {
        t.dx = mDc.viewportOrg.x - mDc.windowOrg.x;
        t.dy = mDc.viewportOrg.y - mDc.windowOrg.y;
        return t;
    }
    t.m11 = sx, t.m22 = sy;
    t.dx = mDc.viewportOrg.x - mDc.windowOrg.x * sx;
    t.dy = mDc.viewportOrg.y - mDc.windowOrg.y * sy;
    return t;
}

double Player::penPixels() const
{
    if (mDc.pen.width <= 0)
        return 1;
    const Xform t = mDc.world.then(pageTransform()).then(mDevice);
    const double scale = std::sqrt(std::abs(t.m11 * t.m22 - t.m12 * t.m21));
    return mDc.pen.width * scale;
}

void Player::strokePolyline(const std::vector<Point> &logical, bool closed)
{
    if (mDc.pen.null || logical.empty())
        return;
    const double width = penPixels();
    const std::size_t n = logical.size();
    Point prev = toPixel(logical[0]);
    const Point first = prev;
    for (std::size_t i = 1; i < n; ++i) {
        const Point p = toPixel(logical[i]);
        mCanvas->line(prev, p, width, mDc.pen.color);
        prev = p;
    }
    if (closed && n > 2)
        mCanvas->line(prev, first, width, mDc.pen.color);
}

void Player::fillPolygons(const std::vector<std::vector<Point>> &logical)
{
    if (mDc.brush.null)
        return;
    std::vector<Polygon> px;
    for (const auto &poly : logical) {
        Polygon p;
        p.reserve(poly.size());
        for (const Point &q : poly)
            p.push_back(toPixel(q));
        px.push_back(std::move(p));
    }
    mCanvas->fill(px, mDc.brush.color, mDc.winding);
}

void Player::drawShape(const std::vector<std::vector<Point>> &logical, bool closed)
{
    if (closed)
        fillPolygons(logical);
    for (const auto &poly : logical)
        strokePolyline(poly, closed);
}

void Player::addToPathOrDraw(std::vector<Point> pts, bool closed, bool fillable)
{
    if (mInPath) {
        mPath.emplace_back(std::move(pts), closed);
        return;
    }
    if (fillable && closed)
        drawShape({pts}, true);
    else
        strokePolyline(pts, closed);
}

void Player::bezier(std::vector<Point> &out, Point p0, Point p1, Point p2, Point p3)
{
    constexpr int kSteps = 16;
    for (int i = 1; i <= kSteps; ++i) {
        const double t = double(i) / kSteps, u = 1 - t;
        out.push_back({u * u * u * p0.x + 3 * u * u * t * p1.x + 3 * u * t * t * p2.x + t * t * t * p3.x,
                       u * u * u * p0.y + 3 * u * u * t * p1.y + 3 * u * t * t * p2.y + t * t * t * p3.y});
    }
}

std::vector<Point> Player::ellipse(double l, double t, double r, double b)
{
    std::vector<Point> pts;
    constexpr int kSteps = 72;
    const double cx = (l + r) / 2, cy = (t + b) / 2, rx = (r - l) / 2, ry = (b - t) / 2;
    for (int i = 0; i < kSteps; ++i) {
        const double a = 2 * M_PI * i / kSteps;
        pts.push_back({cx + rx * std::cos(a), cy + ry * std::sin(a)});
    }
    return pts;
}

std::vector<Point> Player::arc(double l, double t, double r, double b, Point start, Point end) const
{
    const double cx = (l + r) / 2, cy = (t + b) / 2, rx = std::abs(r - l) / 2, ry = std::abs(b - t) / 2;
    std::vector<Point> pts;
    if (rx <= 0 || ry <= 0)
        return pts;
    // Angles measured counter-clockwise as drawn (y grows downwards).
    const double a0 = std::atan2(-(start.y - cy) / ry, (start.x - cx) / rx);
    double a1 = std::atan2(-(end.y - cy) / ry, (end.x - cx) / rx);
    const double dir = mDc.clockwise ? -1 : 1;
    double sweep = (a1 - a0) * dir;
    while (sweep <= 1e-9)
        sweep += 2 * M_PI;
    const int steps = std::max(2, int(sweep / (2 * M_PI) * 72));
    for (int i = 0; i <= steps; ++i) {
        const double a = a0 + dir * sweep * i / steps;
        pts.push_back({cx + rx * std::cos(a), cy - ry * std::sin(a)});
    }
    return pts;
}

void Player::clipTo(double l, double t, double r, double b)
{
    const Point p0 = toPixel({l, t}), p1 = toPixel({r, b});
    std::array<int, 4> c{int(std::lround(std::min(p0.x, p1.x))), int(std::lround(std::min(p0.y, p1.y))),
                         int(std::lround(std::max(p0.x, p1.x))), int(std::lround(std::max(p0.y, p1.y)))};
    if (mDc.clip)
        c = {std::max(c[0], (*mDc.clip)[0]), std::max(c[1], (*mDc.clip)[1]), std::min(c[2], (*mDc.clip)[2]),
             std::min(c[3], (*mDc.clip)[3])};
    mDc.clip = c;
    mCanvas->setClip(mDc.clip);
}

void Player::bitmap(ByteReader &rec, uint32_t type, std::size_t recordStart, uint32_t recordSize)
{
    int32_t xDest = 0, yDest = 0, cxDest = 0, cyDest = 0, xSrc = 0, ySrc = 0, cxSrc = 0, cySrc = 0;
    uint32_t rop = 0x00CC0020, offBmi = 0, cbBmi = 0, offBits = 0, cbBits = 0;
    rec.skip(16); // bounds
    if (type == 76 || type == 77) { // BITBLT, STRETCHBLT
        xDest = rec.i32le(), yDest = rec.i32le(), cxDest = rec.i32le(), cyDest = rec.i32le();
        rop = rec.u32le();
        xSrc = rec.i32le(), ySrc = rec.i32le();
        rec.skip(24 + 4 + 4); // source transform, background colour, usage
        offBmi = rec.u32le(), cbBmi = rec.u32le(), offBits = rec.u32le(), cbBits = rec.u32le();
        if (type == 77)
            cxSrc = rec.i32le(), cySrc = rec.i32le();
    } else if (type == 81) { // STRETCHDIBITS
        xDest = rec.i32le(), yDest = rec.i32le(), xSrc = rec.i32le(), ySrc = rec.i32le();
        cxSrc = rec.i32le(), cySrc = rec.i32le();
        offBmi = rec.u32le(), cbBmi = rec.u32le(), offBits = rec.u32le(), cbBits = rec.u32le();
        rec.skip(4);
        rop = rec.u32le();
        cxDest = rec.i32le(), cyDest = rec.i32le();
    } else { // SETDIBITSTODEVICE
        xDest = rec.i32le(), yDest = rec.i32le(), xSrc = rec.i32le(), ySrc = rec.i32le();
        cxSrc = rec.i32le(), cySrc = rec.i32le();
        offBmi = rec.u32le(), cbBmi = rec.u32le(), offBits = rec.u32le(), cbBits = rec.u32le();
        cxDest = cxSrc, cyDest = cySrc;
    }
    const Point p0 = toPixel({double(xDest), double(yDest)});
    const Point p1 = toPixel({double(xDest) + cxDest, double(yDest) + cyDest});
    const uint32_t op = rop >> 16 & 0xFF;
    if (cbBmi == 0) {
        // No source: a pattern or constant fill of the destination.
        Rgb c = mDc.brush.color;
        if (op == 0x00)
            c = {0, 0, 0};
        else if (op == 0xFF)
            c = {255, 255, 255};
        else if (op != 0xF0 || mDc.brush.null)
            return;
        mCanvas->fill({{p0, {p1.x, p0.y}, p1, {p0.x, p1.y}}}, c, true);
        return;
    }
    if (offBmi > recordSize || cbBmi > recordSize - offBmi || offBits > recordSize || cbBits > recordSize - offBits)
        corrupt("EMF: bitmap outside its record");
    std::vector<uint8_t> rgb;
    int w = 0, h = 0;
    if (!decodeDib(mBytes.subspan(recordStart + offBmi, cbBmi), mBytes.subspan(recordStart + offBits, cbBits), rgb, w, h))
        return; // compressed or odd bitmaps are left out rather than failing the picture
    // The source rectangle, counted from the top of the bitmap as shown.
    if (cxSrc <= 0 || cySrc <= 0)
        cxSrc = w, cySrc = h;
    xSrc = std::clamp(xSrc, 0, w - 1);
    ySrc = std::clamp(ySrc, 0, h - 1);
    cxSrc = std::min(cxSrc, w - xSrc);
    cySrc = std::min(cySrc, h - ySrc);
    if (type == 80 || type == 81) {
        // For these records a bottom-up bitmap's source origin is its bottom-left corner.
        ySrc = h - ySrc - cySrc;
    }
    std::vector<uint8_t> sub(std::size_t(cxSrc) * std::size_t(cySrc) * 3);
    for (int y = 0; y < cySrc; ++y)
        std::memcpy(sub.data() + std::size_t(y) * cxSrc * 3, rgb.data() + (std::size_t(ySrc + y) * w + xSrc) * 3,
                    std::size_t(cxSrc) * 3);
    const Canvas::Rop r = op == 0x88 ? Canvas::Rop::And : op == 0xEE ? Canvas::Rop::Or : Canvas::Rop::Copy;
    mCanvas->image(sub, cxSrc, cySrc, p0, p1, r);
}

/** The PostScript font of our type map closest to a Windows face name. */
std::string postScriptFont(const Font &f)
{
    std::string face;
    for (char c : f.face)
        face += char(std::tolower(static_cast<unsigned char>(c)));
    const bool bold = f.weight >= 600;
    std::string family = "Helvetica", boldName = "Bold", italicName = "Oblique";
    if (face.find("times") != std::string::npos || face.find("roman") != std::string::npos
        || face.find("serif") != std::string::npos || face.find("georgia") != std::string::npos
        || face.find("garamond") != std::string::npos || face.find("cambria") != std::string::npos) {
        family = "Times", italicName = "Italic";
        if (!bold && !f.italic)
            return "Times-Roman";
    } else if (face.find("courier") != std::string::npos || face.find("mono") != std::string::npos
               || face.find("consolas") != std::string::npos || face.find("lucida console") != std::string::npos) {
        family = "Courier";
    } else if (face.find("symbol") != std::string::npos) {
        return "Symbol";
    }
    if (!bold && !f.italic)
        return family;
    return family + "-" + (bold ? boldName : "") + (f.italic ? italicName : "");
}

void Player::text(ByteReader &rec, std::size_t recordStart, uint32_t recordSize)
{
    rec.skip(16 + 4 + 8); // bounds, graphics mode, scales
    Point ref{double(rec.i32le()), 0};
    ref.y = rec.i32le();
    const uint32_t chars = rec.u32le(), offString = rec.u32le();
    if (chars == 0 || chars > 65536 || offString > recordSize || chars * 2 > recordSize - offString)
        return;
    std::string utf8;
    const uint8_t *p = mBytes.data() + recordStart + offString;
    for (uint32_t i = 0; i < chars; ++i) {
        uint32_t c = p[2 * i] | p[2 * i + 1] << 8;
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < chars) {
            const uint32_t lo = p[2 * i + 2] | p[2 * i + 3] << 8;
            if (lo >= 0xDC00 && lo < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
                ++i;
            }
        }
        if (c < 0x20)
            continue;
        if (c < 0x80) {
            utf8 += char(c);
        } else if (c < 0x800) {
            utf8 += char(0xC0 | c >> 6), utf8 += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            utf8 += char(0xE0 | c >> 12), utf8 += char(0x80 | (c >> 6 & 0x3F)), utf8 += char(0x80 | (c & 0x3F));
        } else {
            utf8 += char(0xF0 | c >> 18), utf8 += char(0x80 | (c >> 12 & 0x3F)), utf8 += char(0x80 | (c >> 6 & 0x3F)),
                utf8 += char(0x80 | (c & 0x3F));
        }
    }
    const Xform t = mDc.world.then(pageTransform()).then(mDevice);
    const double scaleY = std::hypot(t.m21, t.m22);
    double em = std::abs(mDc.font.height) * scaleY;
    if (mDc.font.height > 0)
        em /= 1.2; // a cell height includes the internal leading
    if (mDc.font.height == 0)
        em = 12;
    const Point at = toPixel(ref);
    const uint32_t a = mDc.textAlign;
    const int align = (a & 6) == 6 ? 1 : (a & 6) == 2 ? 2 : 0;
    const int vertical = (a & 24) == 24 ? 1 : (a & 8) ? 2 : 0;
    drawTextWithMagick(mCanvas->picture(), utf8, at.x, at.y, em, postScriptFont(mDc.font), mDc.textColor, align, vertical);
}

Picture Player::play()
{
    ByteReader in(mBytes, "EMF");
    if (mBytes.size() < 88)
        corrupt("EMF: truncated header");
    const uint32_t type = in.u32le(), headerSize = in.u32le();
    if (type != 1 || headerSize < 88 || headerSize > mBytes.size() || std::memcmp(mBytes.data() + 40, " EMF", 4) != 0)
        corrupt("EMF: not an enhanced metafile");
    const int32_t bl = in.i32le(), bt = in.i32le(), br = in.i32le(), bb = in.i32le();
    const int32_t fl = in.i32le(), ft = in.i32le(), fr = in.i32le(), fb = in.i32le();
    in.skip(4 + 4 + 4); // signature, version, size
    const uint32_t records = in.u32le();
    const uint32_t handles = in.u16le();
    in.skip(2 + 4 + 4 + 4); // reserved, description, palette entries
    const int32_t devW = in.i32le(), devH = in.i32le(), mmW = in.i32le(), mmH = in.i32le();
    if (records > kMaxRecords || handles > kMaxHandles)
        corrupt("EMF: implausible record or handle count");
    if (devW <= 0 || devH <= 0 || mmW <= 0 || mmH <= 0)
        corrupt("EMF: invalid reference device");
    mDevicePerMm[0] = double(devW) / mmW;
    mDevicePerMm[1] = double(devH) / mmH;

    // Frame (0.01 mm) to reference-device pixels, and to our picture at 96 dpi.
    double left = fl * mDevicePerMm[0] / 100, top = ft * mDevicePerMm[1] / 100;
    double right = fr * mDevicePerMm[0] / 100, bottom = fb * mDevicePerMm[1] / 100;
    int64_t w = std::llround((int64_t(fr) - fl) * kDpi / 2540.0), h = std::llround((int64_t(fb) - ft) * kDpi / 2540.0);
    if (w <= 0 || h <= 0) { // no usable frame: the bounds, in device pixels
        left = bl, top = bt, right = br + 1.0, bottom = bb + 1.0;
        w = int64_t(br) - bl + 1, h = int64_t(bb) - bt + 1;
    }
    // A drawing has no resolution of its own: one framed larger than the budget is drawn smaller
    // instead of being refused.
    if (w > 0 && h > 0 && (w > kMaxPictureSide || h > kMaxPictureSide || w * h > kMaxPicturePixels / 4)) {
        const double fit = std::min({double(kMaxPictureSide) / w, double(kMaxPictureSide) / h,
                                     std::sqrt(double(kMaxPicturePixels / 4) / (double(w) * double(h)))});
        w = std::max<int64_t>(1, int64_t(w * fit));
        h = std::max<int64_t>(1, int64_t(h * fit));
    }
    checkPictureSize(w, h, "EMF");
    if (!(right > left) || !(bottom > top))
        corrupt("EMF: empty frame");
    mDevice.m11 = double(w) / (right - left);
    mDevice.m22 = double(h) / (bottom - top);
    mDevice.dx = -left * mDevice.m11;
    mDevice.dy = -top * mDevice.m22;
    mCanvas.emplace(int(w), int(h));
    mObjects.assign(handles ? handles : 1, std::monostate{});

    std::size_t at = headerSize;
    for (uint32_t n = 0; n < kMaxRecords && at + 8 <= mBytes.size(); ++n) {
        ByteReader head(mBytes, "EMF");
        head.seek(at);
        const uint32_t rtype = head.u32le(), size = head.u32le();
        if (size < 8 || size % 4 != 0 || size > mBytes.size() - at)
            corrupt("EMF: bad record size");
        ByteReader rec(mBytes.subspan(at, size), "EMF");
        rec.skip(8);
        const std::size_t recordStart = at;
        at += size;

        auto points32 = [&](std::size_t count) {
            std::vector<Point> p;
            if (count > rec.remaining() / 8)
                rec.truncated();
            for (std::size_t i = 0; i < count; ++i) {
                const double x = rec.i32le(), y = rec.i32le();
                p.push_back({x, y});
            }
            return p;
        };
        auto points16 = [&](std::size_t count) {
            std::vector<Point> p;
            if (count > rec.remaining() / 4)
                rec.truncated();
            for (std::size_t i = 0; i < count; ++i) {
                const double x = rec.i16le(), y = rec.i16le();
                p.push_back({x, y});
            }
            return p;
        };
        auto polyCounts = [&](std::size_t polys) {
            std::vector<uint32_t> counts;
            if (polys > rec.remaining() / 4)
                rec.truncated();
            for (std::size_t i = 0; i < polys; ++i)
                counts.push_back(rec.u32le());
            return counts;
        };

        switch (rtype) {
        case 14: // EOF
            return std::move(mCanvas->picture());
        case 2: case 3: case 4: case 5: case 6:          // POLYBEZIER, POLYGON, POLYLINE, POLYBEZIERTO, POLYLINETO
        case 85: case 86: case 87: case 88: case 89: {   // the same with 16-bit points
            rec.skip(16);
            const uint32_t count = rec.u32le();
            std::vector<Point> pts = rtype >= 85 ? points16(count) : points32(count);
            const uint32_t base = rtype >= 85 ? rtype - 83 : rtype;
            const bool to = base == 5 || base == 6;
            if (to)
                pts.insert(pts.begin(), mDc.position);
            if (base == 2 || base == 5) { // Bézier: start point then triples
                std::vector<Point> flat{pts.empty() ? Point{} : pts[0]};
                for (std::size_t i = 1; i + 2 < pts.size(); i += 3)
                    bezier(flat, pts[i - 1], pts[i], pts[i + 1], pts[i + 2]);
                pts = std::move(flat);
            }
            if (!pts.empty() && (to || base == 4 || base == 2))
                mDc.position = pts.back();
            if (mInPath && to && !mPath.empty() && !mPath.back().second) {
                auto &last = mPath.back().first;
                last.insert(last.end(), pts.begin() + 1, pts.end());
            } else {
                addToPathOrDraw(std::move(pts), base == 3, base == 3);
            }
            break;
        }
        case 7: case 8: case 90: case 91: { // POLYPOLYLINE, POLYPOLYGON (32/16)
            rec.skip(16);
            const uint32_t polys = rec.u32le(), total = rec.u32le();
            const std::vector<uint32_t> counts = polyCounts(polys);
            std::vector<Point> all = rtype >= 90 ? points16(total) : points32(total);
            std::vector<std::vector<Point>> shapes;
            std::size_t k = 0;
            for (uint32_t c : counts) {
                if (c > all.size() - k)
                    corrupt("EMF: polygon counts exceed the points");
                shapes.emplace_back(all.begin() + std::ptrdiff_t(k), all.begin() + std::ptrdiff_t(k + c));
                k += c;
            }
            const bool closed = rtype == 8 || rtype == 91;
            if (mInPath)
                for (auto &s : shapes)
                    mPath.emplace_back(std::move(s), closed);
            else
                drawShape(shapes, closed);
            break;
        }
        case 9: mDc.windowExt = {double(rec.i32le()), 0}, mDc.windowExt.y = rec.i32le(); break;
        case 10: mDc.windowOrg = {double(rec.i32le()), 0}, mDc.windowOrg.y = rec.i32le(); break;
        case 11: mDc.viewportExt = {double(rec.i32le()), 0}, mDc.viewportExt.y = rec.i32le(); break;
        case 12: mDc.viewportOrg = {double(rec.i32le()), 0}, mDc.viewportOrg.y = rec.i32le(); break;
        case 17: mDc.mapMode = int(rec.u32le()); break;
        case 19: mDc.winding = rec.u32le() == 2; break;
        case 27: mDc.position = {double(rec.i32le()), 0}, mDc.position.y = rec.i32le(); break;
        case 54: { // LINETO
            Point p{double(rec.i32le()), 0};
            p.y = rec.i32le();
            if (mInPath && !mPath.empty() && !mPath.back().second)
                mPath.back().first.push_back(p);
            else
                addToPathOrDraw({mDc.position, p}, false, false);
            mDc.position = p;
            break;
        }
        case 33: // SAVEDC
            if (mSaved.size() < 1024)
                mSaved.push_back(mDc);
            break;
        case 34: { // RESTOREDC: a negative count relative to the top
            const int32_t i = rec.i32le();
            if (i < 0 && std::size_t(-int64_t(i)) <= mSaved.size()) {
                mDc = mSaved[mSaved.size() - std::size_t(-int64_t(i))];
                mSaved.resize(mSaved.size() - std::size_t(-int64_t(i)));
                mCanvas->setClip(mDc.clip);
            }
            break;
        }
        case 35: case 36: { // SETWORLDTRANSFORM, MODIFYWORLDTRANSFORM
            Xform x;
            float f[6];
            for (float &v : f) {
                const uint32_t bits = rec.u32le();
                std::memcpy(&v, &bits, 4);
            }
            x = {f[0], f[1], f[2], f[3], f[4], f[5]};
            const uint32_t mode = rtype == 35 ? 4 : rec.u32le();
            if (mode == 1)
                mDc.world = Xform{};
            else if (mode == 2)
                mDc.world = x.then(mDc.world);
            else if (mode == 3)
                mDc.world = mDc.world.then(x);
            else
                mDc.world = x;
            break;
        }
        case 37: { // SELECTOBJECT
            const uint32_t index = rec.u32le();
            if (index & 0x80000000u) {
                switch (index & 0x7FFFFFFF) {
                case 0: mDc.brush = {false, {255, 255, 255}}; break;
                case 1: mDc.brush = {false, {192, 192, 192}}; break;
                case 2: mDc.brush = {false, {128, 128, 128}}; break;
                case 3: mDc.brush = {false, {64, 64, 64}}; break;
                case 4: mDc.brush = {false, {0, 0, 0}}; break;
                case 5: mDc.brush = {true, {}}; break;
                case 6: mDc.pen = {false, 0, {255, 255, 255}}; break;
                case 7: mDc.pen = {false, 0, {0, 0, 0}}; break;
                case 8: mDc.pen = {true, 0, {}}; break;
                default: break;
                }
            } else if (index < mObjects.size()) {
                if (auto *p = std::get_if<Pen>(&mObjects[index]))
                    mDc.pen = *p;
                else if (auto *b = std::get_if<Brush>(&mObjects[index]))
                    mDc.brush = *b;
                else if (auto *f = std::get_if<Font>(&mObjects[index]))
                    mDc.font = *f;
            }
            break;
        }
        case 38: { // CREATEPEN
            const uint32_t index = rec.u32le(), style = rec.u32le();
            const int32_t width = rec.i32le();
            rec.skip(4);
            const Rgb c = colorRef(rec.u32le());
            if (index < mObjects.size())
                mObjects[index] = Pen{(style & 0xF) == 5, double(std::abs(width)), c};
            break;
        }
        case 95: { // EXTCREATEPEN
            const uint32_t index = rec.u32le();
            rec.skip(16);
            const uint32_t style = rec.u32le(), width = rec.u32le(), brushStyle = rec.u32le();
            const Rgb c = colorRef(rec.u32le());
            // A cosmetic pen (type bits 0) is one pixel whatever its width says.
            const bool geometric = (style & 0x000F0000) != 0;
            if (index < mObjects.size())
                mObjects[index] = Pen{(style & 0xF) == 5 || brushStyle == 1, geometric ? double(width) : 0.0, c};
            break;
        }
        case 39: { // CREATEBRUSHINDIRECT
            const uint32_t index = rec.u32le(), style = rec.u32le();
            const Rgb c = colorRef(rec.u32le());
            if (index < mObjects.size())
                mObjects[index] = Brush{style == 1, c};
            break;
        }
        case 93: case 94: { // CREATEMONOBRUSH, CREATEDIBPATTERNBRUSHPT: drawn as mid grey
            const uint32_t index = rec.u32le();
            if (index < mObjects.size())
                mObjects[index] = Brush{false, {128, 128, 128}};
            break;
        }
        case 40: { // DELETEOBJECT
            const uint32_t index = rec.u32le();
            if (index < mObjects.size())
                mObjects[index] = std::monostate{};
            break;
        }
        case 42: case 43: case 44: { // ELLIPSE, RECTANGLE, ROUNDRECT
            const double l = rec.i32le(), t = rec.i32le(), r = rec.i32le(), b = rec.i32le();
            std::vector<Point> shape;
            if (rtype == 42) {
                shape = ellipse(l, t, r, b);
            } else if (rtype == 43) {
                shape = {{l, t}, {r, t}, {r, b}, {l, b}};
            } else {
                const double rw = std::min<double>(std::abs(rec.i32le()), std::abs(r - l)) / 2;
                const double rh = std::min<double>(std::abs(rec.i32le()), std::abs(b - t)) / 2;
                const double cx[4] = {r - rw, l + rw, l + rw, r - rw}, cy[4] = {t + rh, t + rh, b - rh, b - rh};
                for (int q = 0; q < 4; ++q)
                    for (int i = 0; i <= 9; ++i) {
                        const double a = -M_PI / 2 * (q + double(i) / 9);
                        shape.push_back({cx[q] + rw * std::cos(a), cy[q] + rh * std::sin(a)});
                    }
            }
            addToPathOrDraw(std::move(shape), true, true);
            break;
        }
        case 45: case 46: case 47: case 55: { // ARC, CHORD, PIE, ARCTO
            const double l = rec.i32le(), t = rec.i32le(), r = rec.i32le(), b = rec.i32le();
            Point start{double(rec.i32le()), 0};
            start.y = rec.i32le();
            Point end{double(rec.i32le()), 0};
            end.y = rec.i32le();
            std::vector<Point> pts = arc(l, t, r, b, start, end);
            if (pts.empty())
                break;
            if (rtype == 55) { // ARCTO: a line to the arc's start first, and the pen stays at its end
                pts.insert(pts.begin(), mDc.position);
                mDc.position = pts.back();
            }
            if (rtype == 47)
                pts.push_back({(l + r) / 2, (t + b) / 2});
            addToPathOrDraw(std::move(pts), rtype == 46 || rtype == 47, rtype == 46 || rtype == 47);
            break;
        }
        case 41: { // ANGLEARC: centre, radius, start and sweep in degrees
            Point c{double(rec.i32le()), 0};
            c.y = rec.i32le();
            const double radius = rec.u32le();
            float angles[2];
            for (float &v : angles) {
                const uint32_t bits = rec.u32le();
                std::memcpy(&v, &bits, 4);
            }
            if (!std::isfinite(angles[0]) || !std::isfinite(angles[1]))
                break;
            std::vector<Point> pts{mDc.position};
            const int steps = std::clamp(int(std::abs(angles[1]) / 5), 2, 144);
            for (int i = 0; i <= steps; ++i) {
                const double a = (angles[0] + angles[1] * i / steps) * M_PI / 180;
                pts.push_back({c.x + radius * std::cos(a), c.y - radius * std::sin(a)});
            }
            mDc.position = pts.back();
            addToPathOrDraw(std::move(pts), false, false);
            break;
        }
        case 57: mDc.clockwise = rec.u32le() == 2; break; // SETARCDIRECTION
        case 30: { // INTERSECTCLIPRECT
            const double l = rec.i32le(), t = rec.i32le(), r = rec.i32le(), b = rec.i32le();
            clipTo(l, t, r, b);
            break;
        }
        case 75: { // EXTSELECTCLIPRGN: device-unit region; RGN_COPY with no data clears the clip
            const uint32_t dataSize = rec.u32le(), mode = rec.u32le();
            if (mode == 5 && dataSize == 0) {
                mDc.clip.reset();
                mCanvas->setClip(mDc.clip);
            } else if ((mode == 5 || mode == 1) && dataSize >= 32) {
                rec.skip(16);
                const int32_t l = rec.i32le(), t = rec.i32le(), r = rec.i32le(), b = rec.i32le();
                const Point p0 = mDevice.apply({double(l), double(t)}), p1 = mDevice.apply({double(r), double(b)});
                std::array<int, 4> c{int(std::lround(p0.x)), int(std::lround(p0.y)), int(std::lround(p1.x)),
                                     int(std::lround(p1.y))};
                if (mode == 1 && mDc.clip) // RGN_AND
                    c = {std::max(c[0], (*mDc.clip)[0]), std::max(c[1], (*mDc.clip)[1]),
                         std::min(c[2], (*mDc.clip)[2]), std::min(c[3], (*mDc.clip)[3])};
                mDc.clip = c;
                mCanvas->setClip(mDc.clip);
            }
            break;
        }
        case 59: mInPath = true, mPath.clear(); break;  // BEGINPATH
        case 60: mInPath = false; break;                // ENDPATH
        case 61:                                        // CLOSEFIGURE
            if (!mPath.empty())
                mPath.back().second = true;
            break;
        case 62: case 63: case 64: { // FILLPATH, STROKEANDFILLPATH, STROKEPATH
            std::vector<std::vector<Point>> shapes;
            for (const auto &[pts, closed] : mPath)
                shapes.push_back(pts);
            if (rtype != 64)
                fillPolygons(shapes);
            if (rtype != 62)
                for (const auto &[pts, closed] : mPath)
                    strokePolyline(pts, closed);
            mPath.clear();
            break;
        }
        case 68: mPath.clear(); mInPath = false; break; // ABORTPATH
        case 76: case 77: case 80: case 81:
            bitmap(rec, rtype, recordStart, size);
            break;
        case 82: { // EXTCREATEFONTINDIRECTW
            const uint32_t index = rec.u32le();
            Font f;
            f.height = rec.i32le();
            rec.skip(12);
            f.weight = rec.i32le();
            f.italic = rec.u8() != 0;
            rec.skip(7);
            for (int i = 0; i < 32 && rec.remaining() >= 2; ++i) {
                const uint16_t c = rec.u16le();
                if (!c)
                    break;
                f.face += c < 0x80 ? char(c) : '?';
            }
            if (index < mObjects.size())
                mObjects[index] = f;
            break;
        }
        case 84: // EXTTEXTOUTW
            if (!mInPath)
                text(rec, recordStart, size);
            break;
        case 22: mDc.textAlign = rec.u32le(); break; // SETTEXTALIGN
        case 24: mDc.textColor = colorRef(rec.u32le()); break; // SETTEXTCOLOR
        default: // text, clipping, palettes, comments (EMF+), modes without effect here
            break;
        }
    }
    // A file cut before its EOF record still shows what it drew.
    return std::move(mCanvas->picture());
}

} // namespace

Picture decodeEmf(std::span<const uint8_t> bytes)
{
    Player player(bytes);
    return player.play();
}

} // namespace doc::formats
