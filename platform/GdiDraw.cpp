// Pixels, lines, shapes and region fills. Shapes are first turned into sets
// of horizontal spans (pen and inside apart, so that no pixel is touched
// twice by one call), then painted through the context's ROP2 mode and clip.

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/GdiInternal.h"

namespace platform::gdi {

using namespace detail;

namespace {

// Dash sequences of styled one-pixel pens: on, off, on, off, ... pixels.
const std::vector<int>& DashPattern(int style) {
    static const std::vector<int> dash{18, 6}, dot{3, 3}, dashDot{9, 6, 3, 6},
        dashDotDot{9, 3, 3, 3, 3, 3}, none;
    switch (style) {
        case PS_DASH:
            return dash;
        case PS_DOT:
            return dot;
        case PS_DASHDOT:
            return dashDot;
        case PS_DASHDOTDOT:
            return dashDotDot;
        default:
            return none;
    }
}

bool DashOn(const std::vector<int>& pattern, std::int64_t step) {
    int period = 0;
    for (int v : pattern)
        period += v;
    std::int64_t pos = ((step % period) + period) % period;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pos < pattern[i])
            return i % 2 == 0;
        pos -= pattern[i];
    }
    return true;
}

std::int64_t FloorDiv128(__int128 a, __int128 b) {
    __int128 q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return std::int64_t(q);
}

// Far-away coordinates are brought to this range; nothing there shows.
constexpr std::int64_t kFar = std::int64_t(1) << 30;
int Near(std::int64_t v) {
    return int(std::clamp(v, -kFar, kFar));
}

// Area worth rasterising: the bitmap grown by a margin, so that huge or far
// away coordinates cost nothing.
struct Bounds {
    std::int64_t x0, y0, x1, y1;  // inclusive
    bool Contains(std::int64_t x, std::int64_t y) const {
        return x >= x0 && x <= x1 && y >= y0 && y <= y1;
    }
};
Bounds BoundsOf(const Bitmap& bm, int margin) {
    return {-std::int64_t(margin), -std::int64_t(margin), std::int64_t(bm.Width()) + margin,
            std::int64_t(bm.Height()) + margin};
}

// Calls f(x, y, i) for the pixels of the line from (x0, y0) towards (x1, y1),
// the end point excluded, i counting from 0 at the start. Pixel i of the major
// axis takes the minor coordinate rounded from the exact line (halves up).
// Only pixels inside `b` are visited, found directly rather than walked to.
template <class F>
void ForLinePixels(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1,
                   const Bounds& b, F f) {
    const std::int64_t dx = x1 - x0, dy = y1 - y0;
    const std::int64_t adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
    if (adx == 0 && ady == 0)
        return;
    const bool xMajor = adx >= ady;
    const std::int64_t n = xMajor ? adx : ady;
    const std::int64_t sMajor = (xMajor ? dx : dy) < 0 ? -1 : 1;
    const std::int64_t start = xMajor ? x0 : y0;
    const std::int64_t lo = xMajor ? b.x0 : b.y0, hi = xMajor ? b.x1 : b.y1;
    // i range whose major coordinate lies in [lo, hi].
    std::int64_t i0, i1;
    if (sMajor > 0) {
        i0 = lo - start;
        i1 = hi - start;
    } else {
        i0 = start - hi;
        i1 = start - lo;
    }
    i0 = std::max<std::int64_t>(i0, 0);
    i1 = std::min<std::int64_t>(i1, n - 1);
    const std::int64_t minorDelta = xMajor ? dy : dx;
    for (std::int64_t i = i0; i <= i1; ++i) {
        const std::int64_t major = start + sMajor * i;
        // Products of two 32-bit spans need more than 64 bits.
        const __int128 num = __int128(2) * i * minorDelta + n;
        const std::int64_t minor = (xMajor ? y0 : x0) + FloorDiv128(num, 2 * __int128(n));
        const std::int64_t x = xMajor ? major : minor, y = xMajor ? minor : major;
        if (b.Contains(x, y))
            f(x, y, i);
    }
}

// Pixel offsets of a round pen tip of width w, as spans per row offset.
struct Tip {
    std::vector<std::pair<int, std::pair<int, int>>> rows;  // dy, [x0, x1)
};
Tip MakeTip(int w) {
    Tip t;
    const int lo = -(w - 1) / 2, hi = w / 2;
    const double c = (w % 2 == 0) ? 0.5 : 0.0, r2 = (w / 2.0) * (w / 2.0) + 1e-9;
    for (int dy = lo; dy <= hi; ++dy) {
        int a = hi + 1, z = lo - 1;
        for (int dx = lo; dx <= hi; ++dx) {
            const double ex = dx - c, ey = dy - c;
            if (ex * ex + ey * ey <= r2) {
                a = std::min(a, dx);
                z = std::max(z, dx);
            }
        }
        if (a <= z)
            t.rows.push_back({dy, {a, z + 1}});
    }
    return t;
}

int PenWidth(const Pen& pen) {
    return std::max(1, pen.width);
}

// Pen pixels of an open or closed path, split into pixels drawn in the pen
// colour and, for styled pens, the gaps.
struct PenSpans {
    SpanSet on, gaps;
};

void AddPathSpans(const DC& dc, const Pen& pen, const std::vector<POINT>& pts, bool closed,
                  int styleStart, PenSpans* out, int* styleEnd) {
    const Bitmap& bm = *dc.Target();
    const int w = PenWidth(pen);
    const std::vector<int>& dashes = DashPattern(pen.style);
    std::int64_t step = styleStart;
    const std::size_t segs = closed ? pts.size() : (pts.empty() ? 0 : pts.size() - 1);
    if (w <= 1) {
        const Bounds b = BoundsOf(bm, 1);
        for (std::size_t s = 0; s < segs; ++s) {
            const POINT& a = pts[s];
            const POINT& z = pts[(s + 1) % pts.size()];
            ForLinePixels(a.x, a.y, z.x, z.y, b,
                          [&](std::int64_t x, std::int64_t y, std::int64_t i) {
                              if (dashes.empty() || DashOn(dashes, step + i))
                                  out->on.Add(int(y), int(x), int(x) + 1);
                              else
                                  out->gaps.Add(int(y), int(x), int(x) + 1);
                          });
            step += std::max(std::abs(std::int64_t(z.x) - a.x), std::abs(std::int64_t(z.y) - a.y));
        }
    } else {
        // Wide pens: a round tip stamped along the path, end points included.
        const Bounds b = BoundsOf(bm, w + 1);
        const Tip tip = MakeTip(w);
        auto stamp = [&](std::int64_t x, std::int64_t y) {
            for (const auto& [dy, span] : tip.rows)
                out->on.Add(int(y + dy), int(x + span.first), int(x + span.second));
        };
        for (std::size_t s = 0; s < segs; ++s) {
            const POINT& a = pts[s];
            const POINT& z = pts[(s + 1) % pts.size()];
            ForLinePixels(a.x, a.y, z.x, z.y, b,
                          [&](std::int64_t x, std::int64_t y, std::int64_t) { stamp(x, y); });
        }
        for (const POINT& p : pts)
            if (b.Contains(p.x, p.y))
                stamp(p.x, p.y);
    }
    // Every dash sequence repeats within 24 pixels.
    if (styleEnd)
        *styleEnd = int(((step % 24) + 24) % 24);
    out->on.Normalize();
    out->gaps.Normalize();
}

void PaintPen(const DC& dc, const PenSpans& spans) {
    const Pen& pen = *dc.state.pen;
    const Bitmap& bm = *dc.Target();
    const BYTE rop = Rop2ToRop3(dc.state.rop2);
    PaintSpans(dc, spans.on, RealizeSolid(ResolveColor(dc, bm, pen.color)), rop);
    if (dc.state.bkMode == OPAQUE && !spans.gaps.Empty())
        PaintSpans(dc, spans.gaps, RealizeSolid(ResolveColor(dc, bm, dc.state.bkColor)), rop);
}

bool HasPen(const DC& dc) {
    return dc.state.pen && dc.state.pen->style != PS_NULL;
}

bool DrawPath(HDC hdc, const std::vector<POINT>& pts, bool closed, bool continueStyle) {
    if (!hdc || !hdc->Target())
        return false;
    if (!HasPen(*hdc) || pts.size() < 2)
        return true;
    PenSpans spans;
    int end = 0;
    AddPathSpans(*hdc, *hdc->state.pen, pts, closed, continueStyle ? hdc->styleStep : 0, &spans,
                 &end);
    if (continueStyle)
        hdc->styleStep = end;
    PaintPen(*hdc, spans);
    return true;
}

// Paints a shape: its inside with the brush, its outline with the pen, both
// through the ROP2 mode, the inside without the outline's pixels.
void PaintShape(const DC& dc, SpanSet inside, const PenSpans* pen) {
    inside.Normalize();
    const BYTE rop = Rop2ToRop3(dc.state.rop2);
    const RealizedBrush brush = RealizeBrush(dc, *dc.Target(), dc.state.brush.get());
    if (pen) {
        SpanSet all = pen->on;
        for (const auto& s : pen->gaps.Spans())
            all.Add(s.y, s.x0, s.x1);
        all.Normalize();
        SpanSet fill = inside.Minus(all);
        // Sampling the inside at pixel centres can leave a one-pixel seam
        // between it and a slanted outline: give such pixels to the inside.
        SpanSet seams;
        const auto& f = fill.Spans();
        const auto& o = all.Spans();
        std::size_t j = 0;
        for (const auto& s : f) {
            while (j < o.size() && (o[j].y < s.y || (o[j].y == s.y && o[j].x1 < s.x0 - 1)))
                ++j;
            for (std::size_t k = j; k < o.size() && o[k].y == s.y && o[k].x0 <= s.x1 + 1; ++k) {
                if (o[k].x1 == s.x0 - 1)
                    seams.Add(s.y, s.x0 - 1, s.x0);
                if (o[k].x0 == s.x1 + 1)
                    seams.Add(s.y, s.x1, s.x1 + 1);
            }
        }
        for (const auto& s : seams.Spans())
            fill.Add(s.y, s.x0, s.x1);
        fill.Normalize();
        PaintSpans(dc, fill, brush, rop);
        PaintPen(dc, *pen);
    } else {
        PaintSpans(dc, inside, brush, rop);
    }
}

// Rows [t, b) of a rectangle, limited to what can show in the bitmap.
std::pair<std::int64_t, std::int64_t> RowRange(const Bitmap& bm, std::int64_t t, std::int64_t b,
                                               int margin) {
    return {std::max<std::int64_t>(t, -margin), std::min<std::int64_t>(b, bm.Height() + margin)};
}
std::pair<int, int> ClampSpan(const Bitmap& bm, std::int64_t x0, std::int64_t x1, int margin) {
    return {int(std::max<std::int64_t>(x0, -margin)),
            int(std::min<std::int64_t>(x1, std::int64_t(bm.Width()) + margin))};
}

// Row spans of the ellipse inscribed in [l, r) x [t, b): pixel centres inside
// the ellipse. Rows without pixels get an empty span (x0 >= x1).
std::vector<std::pair<int, int>> EllipseRows(const Bitmap& bm, double l, double t, double r,
                                             double b, std::int64_t row0, std::int64_t row1) {
    std::vector<std::pair<int, int>> rows;
    const double cx = (l + r) / 2, cy = (t + b) / 2, rx = (r - l) / 2, ry = (b - t) / 2;
    for (std::int64_t y = row0; y < row1; ++y) {
        if (rx <= 0 || ry <= 0) {
            rows.push_back({0, 0});
            continue;
        }
        const double dy = (double(y) + 0.5 - cy) / ry;
        if (dy * dy > 1.0) {
            rows.push_back({0, 0});
            continue;
        }
        const double hx = rx * std::sqrt(1.0 - dy * dy);
        const std::int64_t x0 = std::int64_t(std::ceil(cx - hx - 0.5 - 1e-9));
        const std::int64_t x1 = std::int64_t(std::floor(cx + hx - 0.5 + 1e-9)) + 1;
        const auto c = ClampSpan(bm, x0, x1, 2);
        rows.push_back(x1 > x0 ? c : std::pair<int, int>{0, 0});
    }
    return rows;
}

}  // namespace

COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color) {
    if (!hdc || !hdc->Target())
        return CLR_INVALID;
    Bitmap& bm = *hdc->Target();
    if (x < 0 || y < 0 || x >= bm.Width() || y >= bm.Height())
        return CLR_INVALID;
    if (hdc->state.clipped && !hdc->state.clip.contains(QPoint(x, y)))
        return CLR_INVALID;
    const DWORD v = ResolveColor(*hdc, bm, color);
    bm.SetValue(x, y, v);
    return bm.ColorOfValue(v);
}

bool SetPixelV(HDC hdc, int x, int y, COLORREF color) {
    return SetPixel(hdc, x, y, color) != CLR_INVALID;
}

COLORREF GetPixel(HDC hdc, int x, int y) {
    if (!hdc || !hdc->Target())
        return CLR_INVALID;
    const Bitmap& bm = *hdc->Target();
    if (x < 0 || y < 0 || x >= bm.Width() || y >= bm.Height())
        return CLR_INVALID;
    if (hdc->state.clipped && !hdc->state.clip.contains(QPoint(x, y)))
        return CLR_INVALID;
    return bm.ColorOfValue(bm.GetValue(x, y));
}

bool MoveToEx(HDC hdc, int x, int y, POINT* previous) {
    if (!hdc)
        return false;
    if (previous)
        *previous = hdc->state.position;
    hdc->state.position = {x, y};
    hdc->styleStep = 0;
    return true;
}

bool LineTo(HDC hdc, int x, int y) {
    if (!hdc || !hdc->Target())
        return false;
    const POINT from = hdc->state.position;
    hdc->state.position = {x, y};
    return DrawPath(hdc, {from, {x, y}}, false, true);
}

bool Polyline(HDC hdc, const POINT* points, int count) {
    if (!hdc || !hdc->Target() || !points || count < 2)
        return false;
    return DrawPath(hdc, std::vector<POINT>(points, points + count), false, false);
}

bool Rectangle(HDC hdc, int left, int top, int right, int bottom) {
    if (!hdc || !hdc->Target())
        return false;
    if (right < left)
        std::swap(left, right);
    if (bottom < top)
        std::swap(top, bottom);
    if (right == left || bottom == top)
        return true;
    const Bitmap& bm = *hdc->Target();
    SpanSet inside;
    const auto [r0, r1] = RowRange(bm, top, bottom, 1);
    const auto span = ClampSpan(bm, left, right, 1);
    for (std::int64_t y = r0; y < r1; ++y)
        inside.Add(int(y), span.first, span.second);
    if (!HasPen(*hdc)) {
        PaintShape(*hdc, std::move(inside), nullptr);
        return true;
    }
    const int w = PenWidth(*hdc->state.pen);
    // A pen of several pixels stays inside the rectangle with PS_INSIDEFRAME.
    const bool insideFrame = w > 1 && hdc->state.pen->style == PS_INSIDEFRAME;
    const int lead = insideFrame ? (w - 1) / 2 : 0, trail = insideFrame ? w / 2 : 0;
    const int l = Near(std::int64_t(left) + lead), t = Near(std::int64_t(top) + lead);
    const int r = Near(std::int64_t(right) - 1 - trail), b = Near(std::int64_t(bottom) - 1 - trail);
    PenSpans pen;
    if (r <= l || b <= t) {
        AddPathSpans(*hdc, *hdc->state.pen, {{l, t}, {std::max(l, r), std::max(t, b)}}, false, 0,
                     &pen, nullptr);
        if (r <= l && b <= t)
            pen.on.Add(t, l, l + 1);
        pen.on.Normalize();
    } else {
        AddPathSpans(*hdc, *hdc->state.pen, {{l, t}, {r, t}, {r, b}, {l, b}}, true, 0, &pen,
                     nullptr);
    }
    PaintShape(*hdc, std::move(inside), &pen);
    return true;
}

bool Ellipse(HDC hdc, int left, int top, int right, int bottom) {
    if (!hdc || !hdc->Target())
        return false;
    if (right < left)
        std::swap(left, right);
    if (bottom < top)
        std::swap(top, bottom);
    if (right == left || bottom == top)
        return true;
    const Bitmap& bm = *hdc->Target();
    const bool pen = HasPen(*hdc);
    const int w = pen ? PenWidth(*hdc->state.pen) : 0;
    const int grow = w > 1 && hdc->state.pen->style != PS_INSIDEFRAME ? (w - 1) / 2 : 0;
    const auto rows = RowRange(bm, std::int64_t(top) - grow, std::int64_t(bottom) + grow, 2);
    const std::int64_t r0 = rows.first, r1 = rows.second;
    if (r1 <= r0)
        return true;
    const auto outer = EllipseRows(bm, double(left) - grow, double(top) - grow,
                                   double(right) + grow, double(bottom) + grow, r0, r1);
    SpanSet inside;
    PenSpans ring;
    if (!pen) {
        for (std::int64_t y = r0; y < r1; ++y)
            inside.Add(int(y), outer[std::size_t(y - r0)].first, outer[std::size_t(y - r0)].second);
        PaintShape(*hdc, std::move(inside), nullptr);
        return true;
    }
    if (w <= 1) {
        // The outline: pixels of the shape with a 4-neighbour outside it.
        auto rowAt = [&](std::int64_t y) -> std::pair<int, int> {
            if (y < r0 || y >= r1)
                return {0, 0};
            return outer[std::size_t(y - r0)];
        };
        for (std::int64_t y = r0; y < r1; ++y) {
            const auto cur = rowAt(y);
            if (cur.second <= cur.first)
                continue;
            const auto up = rowAt(y - 1), down = rowAt(y + 1);
            // Pixels whose left, right, upper and lower neighbours are all in.
            const int in0 = std::max({cur.first + 1, up.first, down.first});
            const int in1 = std::min({cur.second - 1, up.second, down.second});
            if (in1 > in0) {
                inside.Add(int(y), in0, in1);
                ring.on.Add(int(y), cur.first, in0);
                ring.on.Add(int(y), in1, cur.second);
            } else {
                ring.on.Add(int(y), cur.first, cur.second);
            }
        }
    } else {
        const int shrink = w - grow;
        const auto inner = EllipseRows(bm, double(left) + shrink, double(top) + shrink,
                                       double(right) - shrink, double(bottom) - shrink, r0, r1);
        for (std::int64_t y = r0; y < r1; ++y) {
            const auto o = outer[std::size_t(y - r0)], i = inner[std::size_t(y - r0)];
            if (o.second <= o.first)
                continue;
            if (i.second > i.first) {
                inside.Add(int(y), i.first, i.second);
                ring.on.Add(int(y), o.first, i.first);
                ring.on.Add(int(y), i.second, o.second);
            } else {
                ring.on.Add(int(y), o.first, o.second);
            }
        }
    }
    ring.on.Normalize();
    // The pen of an ellipse is solid; styled outlines draw as solid here.
    PaintShape(*hdc, std::move(inside), &ring);
    return true;
}

bool Polygon(HDC hdc, const POINT* points, int count) {
    if (!hdc || !hdc->Target() || !points || count < 2)
        return false;
    const Bitmap& bm = *hdc->Target();
    std::vector<POINT> pts(points, points + count);
    std::int64_t minY = std::numeric_limits<int>::max(), maxY = std::numeric_limits<int>::min();
    for (const POINT& p : pts) {
        minY = std::min<std::int64_t>(minY, p.y);
        maxY = std::max<std::int64_t>(maxY, p.y);
    }
    const auto [r0, r1] = RowRange(bm, minY, maxY + 1, 1);
    SpanSet inside;
    const bool winding = hdc->state.polyFillMode == WINDING;
    std::vector<std::pair<double, int>> xs;
    for (std::int64_t y = r0; y < r1; ++y) {
        const double yc = double(y) + 0.5;
        xs.clear();
        for (std::size_t i = 0; i < pts.size(); ++i) {
            const POINT& a = pts[i];
            const POINT& b = pts[(i + 1) % pts.size()];
            if (a.y == b.y)
                continue;
            const double ya = a.y, yb = b.y;
            if (yc < std::min(ya, yb) || yc >= std::max(ya, yb))
                continue;
            const double x = a.x + (yc - ya) * (double(b.x) - a.x) / (yb - ya);
            xs.push_back({x, b.y > a.y ? 1 : -1});
        }
        std::sort(xs.begin(), xs.end());
        int wind = 0;
        for (std::size_t i = 0; i + 1 < xs.size(); ++i) {
            wind += xs[i].second;
            const bool in = winding ? wind != 0 : (i % 2 == 0);
            if (!in)
                continue;
            const double xa = std::clamp(xs[i].first, -4.0, double(bm.Width()) + 4.0);
            const double xb = std::clamp(xs[i + 1].first, -4.0, double(bm.Width()) + 4.0);
            inside.Add(int(y), int(std::ceil(xa - 0.5)), int(std::ceil(xb - 0.5)));
        }
    }
    if (!HasPen(*hdc)) {
        PaintShape(*hdc, std::move(inside), nullptr);
        return true;
    }
    PenSpans pen;
    AddPathSpans(*hdc, *hdc->state.pen, pts, true, 0, &pen, nullptr);
    PaintShape(*hdc, std::move(inside), &pen);
    return true;
}

namespace {

// A rectangle with its edges brought within a small margin of the bitmap:
// the same pixels show, and no edge arithmetic can overflow.
QRect NearRect(const Bitmap& bm, const RECT& r) {
    auto cl = [](int v, int hi) { return std::clamp(v, -2, hi + 2); };
    const int l = cl(r.left, bm.Width()), t = cl(r.top, bm.Height());
    const int rr = cl(r.right, bm.Width()), b = cl(r.bottom, bm.Height());
    return QRect(l, t, rr - l, b - t);
}

}  // namespace

int FillRect(HDC hdc, const RECT& rect, const HBRUSH& brush) {
    if (!hdc || !hdc->Target() || !brush)
        return 0;
    if (rect.right <= rect.left || rect.bottom <= rect.top)
        return 1;
    const QRect area = NearRect(*hdc->Target(), rect);
    const RealizedBrush b = RealizeBrush(*hdc, *hdc->Target(), brush.get());
    if (b.hollow)
        return 1;
    SpanPainter painter(*hdc->Target(), b, RopIndex(PATCOPY));
    for (const QRect& r : DrawableRects(*hdc, area))
        for (int y = r.top(); y <= r.bottom(); ++y)
            painter.Span(y, r.left(), r.width());
    return 1;
}

int FrameRect(HDC hdc, const RECT& rect, const HBRUSH& brush) {
    if (!hdc || !hdc->Target() || !brush)
        return 0;
    if (rect.right <= rect.left || rect.bottom <= rect.top)
        return 1;
    const QRect near = NearRect(*hdc->Target(), rect);
    const QRegion outer(near);
    const QRegion inner(near.adjusted(1, 1, -1, -1));
    return FillRgn(hdc, outer.subtracted(inner), brush) ? 1 : 0;
}

bool InvertRect(HDC hdc, const RECT& rect) {
    if (!hdc || !hdc->Target())
        return false;
    if (rect.right <= rect.left || rect.bottom <= rect.top)
        return true;
    const QRect near = NearRect(*hdc->Target(), rect);
    return PatBlt(hdc, near.left(), near.top(), near.width(), near.height(), DSTINVERT);
}

namespace {

SpanSet RegionSpans(const DC& dc, const QRegion& region) {
    // Only the part that can show is turned into spans.
    const Bitmap& bm = *dc.Target();
    SpanSet s;
    s.AddRegion(region.intersected(QRect(0, 0, bm.Width(), bm.Height())));
    s.Normalize();
    return s;
}

}  // namespace

bool FillRgn(HDC hdc, const QRegion& region, const HBRUSH& brush) {
    if (!hdc || !hdc->Target() || !brush)
        return false;
    PaintSpans(*hdc, RegionSpans(*hdc, region), RealizeBrush(*hdc, *hdc->Target(), brush.get()),
               RopIndex(PATCOPY));
    return true;
}

bool PaintRgn(HDC hdc, const QRegion& region) {
    if (!hdc || !hdc->Target())
        return false;
    PaintSpans(*hdc, RegionSpans(*hdc, region),
               RealizeBrush(*hdc, *hdc->Target(), hdc->state.brush.get()),
               Rop2ToRop3(hdc->state.rop2));
    return true;
}

bool InvertRgn(HDC hdc, const QRegion& region) {
    if (!hdc || !hdc->Target())
        return false;
    PaintSpans(*hdc, RegionSpans(*hdc, region), RealizeSolid(0), RopIndex(DSTINVERT));
    return true;
}

bool FrameRgn(HDC hdc, const QRegion& region, const HBRUSH& brush, int width, int height) {
    if (!hdc || !hdc->Target() || !brush)
        return false;
    // Widths beyond any bitmap frame the whole region anyway.
    constexpr int kLimit = 1 << 24;
    width = width < 0 ? (width < -kLimit ? kLimit : -width) : std::min(width, kLimit);
    height = height < 0 ? (height < -kLimit ? kLimit : -height) : std::min(height, kLimit);
    const QRegion kept = region.translated(-width, 0)
                             .intersected(region.translated(width, 0))
                             .intersected(region.translated(0, -height))
                             .intersected(region.translated(0, height));
    return FillRgn(hdc, region.subtracted(kept), brush);
}

}  // namespace platform::gdi
