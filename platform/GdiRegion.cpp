#include "platform/GdiRegion.h"

#include <QRect>
#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace platform::gdi {

namespace {

QRect Ordered(std::int64_t l, std::int64_t t, std::int64_t r, std::int64_t b) {
    if (r < l)
        std::swap(l, r);
    if (b < t)
        std::swap(t, b);
    constexpr std::int64_t lo = std::numeric_limits<int>::min() / 2;
    constexpr std::int64_t hi = std::numeric_limits<int>::max() / 2;
    l = std::clamp(l, lo, hi);
    r = std::clamp(r, lo, hi);
    t = std::clamp(t, lo, hi);
    b = std::clamp(b, lo, hi);
    return QRect(int(l), int(t), int(r - l), int(b - t));
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

}  // namespace

int RegionKind(const QRegion& region) {
    if (region.isEmpty())
        return NULLREGION;
    return region.rectCount() == 1 ? SIMPLEREGION : COMPLEXREGION;
}

QRegion CreateRectRgn(int left, int top, int right, int bottom) {
    return QRegion(Ordered(left, top, right, bottom));
}

QRegion CreateRectRgnIndirect(const RECT& r) {
    return CreateRectRgn(r.left, r.top, r.right, r.bottom);
}

int CombineRgn(QRegion& dst, const QRegion& a, const QRegion& b, int mode) {
    switch (mode) {
        case RGN_AND:
            dst = a.intersected(b);
            break;
        case RGN_OR:
            dst = a.united(b);
            break;
        case RGN_XOR:
            dst = a.xored(b);
            break;
        case RGN_DIFF:
            dst = a.subtracted(b);
            break;
        case RGN_COPY:
            dst = a;
            break;
        default:
            return RGN_ERROR;
    }
    return RegionKind(dst);
}

int OffsetRgn(QRegion& region, int dx, int dy) {
    region.translate(dx, dy);
    return RegionKind(region);
}

bool PtInRegion(const QRegion& region, int x, int y) {
    return region.contains(QPoint(x, y));
}

bool RectInRegion(const QRegion& region, const RECT& r) {
    const QRect q = Ordered(r.left, r.top, r.right, r.bottom);
    return !q.isEmpty() && region.intersects(q);
}

int GetRgnBox(const QRegion& region, RECT* rect) {
    if (rect) {
        const QRect b = region.boundingRect();
        *rect = region.isEmpty() ? RECT{} : RECT{b.left(), b.top(), b.right() + 1, b.bottom() + 1};
    }
    return RegionKind(region);
}

bool TransformRegion(const QRegion& region, const RegionTransform& t, QRegion* out) {
    if (!out || t.xDenominator == 0 || t.yDenominator == 0)
        return false;
    std::vector<QRect> rects;
    rects.reserve(std::size_t(region.rectCount()));
    for (const QRect& r : region) {
        auto mapX = [&](std::int64_t e) {
            return FloorDiv(e * t.xNumerator, t.xDenominator) + t.xOffset;
        };
        auto mapY = [&](std::int64_t e) {
            return FloorDiv(e * t.yNumerator, t.yDenominator) + t.yOffset;
        };
        const QRect q = Ordered(mapX(r.left()), mapY(r.top()), mapX(std::int64_t(r.right()) + 1),
                                mapY(std::int64_t(r.bottom()) + 1));
        if (!q.isEmpty())
            rects.push_back(q);
    }
    // Scaled rectangles may now touch or, mirrored, come in another order:
    // unite them pairwise so that large regions stay cheap.
    std::vector<QRegion> parts(rects.begin(), rects.end());
    while (parts.size() > 1) {
        std::vector<QRegion> next;
        next.reserve((parts.size() + 1) / 2);
        for (std::size_t i = 0; i + 1 < parts.size(); i += 2)
            next.push_back(parts[i].united(parts[i + 1]));
        if (parts.size() % 2)
            next.push_back(parts.back());
        parts = std::move(next);
    }
    *out = parts.empty() ? QRegion() : parts.front();
    return true;
}

}  // namespace platform::gdi
