#pragma once
// Regions: QRegion holds the same banded rectangles a Windows region does.
// These helpers give the familiar calls and the rectangle-by-rectangle
// scaling that region outlines on a zoomed view need.

#include <QRegion>

#include "platform/GdiTypes.h"

namespace platform::gdi {

// NULLREGION, SIMPLEREGION or COMPLEXREGION.
int RegionKind(const QRegion& region);
// An empty region when right <= left or bottom <= top; corners in any order
// are put in order first.
QRegion CreateRectRgn(int left, int top, int right, int bottom);
QRegion CreateRectRgnIndirect(const RECT& rect);
// dst = a <mode> b (RGN_AND, RGN_OR, RGN_XOR, RGN_DIFF, or RGN_COPY which
// takes a). Returns the kind of the result, RGN_ERROR for an unknown mode
// (dst is then left alone).
int CombineRgn(QRegion& dst, const QRegion& a, const QRegion& b, int mode);
int OffsetRgn(QRegion& region, int dx, int dy);
bool PtInRegion(const QRegion& region, int x, int y);
bool RectInRegion(const QRegion& region, const RECT& rect);
// The bounding box; returns the region kind.
int GetRgnBox(const QRegion& region, RECT* rect);

// The seven-value transform of region exchange: a perspective word (ignored),
// horizontal numerator and denominator, vertical numerator and denominator,
// horizontal and vertical offsets. Identity is 1, 1, 1, 1, 1, 0, 0.
struct RegionTransform {
    int perspective = 1;
    int xNumerator = 1;
    int xDenominator = 1;
    int yNumerator = 1;
    int yDenominator = 1;
    int xOffset = 0;
    int yOffset = 0;
};
// Maps every rectangle's edges with e' = floor(e * numerator / denominator) +
// offset (a negative ratio mirrors; the edges are put back in order), so that
// rectangles that touched still touch. Rectangles that shrink to nothing
// vanish. Returns false, leaving *out alone, for a zero denominator.
bool TransformRegion(const QRegion& region, const RegionTransform& transform, QRegion* out);

}  // namespace platform::gdi
