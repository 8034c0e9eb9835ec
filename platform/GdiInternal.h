#pragma once
// Shared machinery of the drawing layer: colour resolution, brushes realised
// for one destination, packed row buffers and the raster-operation kernels.
// Not for use outside platform/Gdi*.cpp.

#include <QRect>
#include <QRegion>
#include <vector>

#include "platform/GdiDC.h"

namespace platform::gdi::detail {

// The raw value of a colour reference on a destination bitmap.
DWORD ResolveColor(const DC& dc, const Bitmap& dst, COLORREF color);
// The RGB a colour reference stands for in a context (for comparisons).
COLORREF ResolveRgb(const DC& dc, COLORREF color);

// Pixels per byte's worth of phase: the pixel index of a span's first pixel
// inside its first byte (0 for depths of 8 bits and more).
inline int Phase(int bpp, int x) {
    return bpp == 1 ? (x & 7) : bpp == 4 ? (x & 1) : 0;
}
// Bytes a packed span of n pixels starting at phase takes.
inline int SpanBytes(int bpp, int phase, int n) {
    return int((std::int64_t(phase + n) * bpp + 7) / 8);
}
// Writes raw value v as pixel i of a packed buffer.
inline void PutPixel(BYTE* buf, int bpp, int i, DWORD v) {
    switch (bpp) {
        case 1: {
            const BYTE m = BYTE(0x80 >> (i & 7));
            buf[i >> 3] = (v & 1) ? BYTE(buf[i >> 3] | m) : BYTE(buf[i >> 3] & ~m);
            break;
        }
        case 4:
            if (i & 1)
                buf[i >> 1] = BYTE((buf[i >> 1] & 0xF0) | (v & 15));
            else
                buf[i >> 1] = BYTE((buf[i >> 1] & 0x0F) | ((v & 15) << 4));
            break;
        case 8:
            buf[i] = BYTE(v);
            break;
        case 16:
            buf[2 * i] = BYTE(v);
            buf[2 * i + 1] = BYTE(v >> 8);
            break;
        case 24:
            buf[3 * i] = BYTE(v);
            buf[3 * i + 1] = BYTE(v >> 8);
            buf[3 * i + 2] = BYTE(v >> 16);
            break;
        default:
            buf[4 * i] = BYTE(v);
            buf[4 * i + 1] = BYTE(v >> 8);
            buf[4 * i + 2] = BYTE(v >> 16);
            buf[4 * i + 3] = 0;
            break;
    }
}
inline DWORD GetPixelRaw(const BYTE* row, int bpp, int x) {
    switch (bpp) {
        case 1:
            return (row[x >> 3] >> (7 - (x & 7))) & 1;
        case 4:
            return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
        case 8:
            return row[x];
        case 16:
            return DWORD(row[2 * x]) | (DWORD(row[2 * x + 1] & 0x7F) << 8);
        case 24:
            return DWORD(row[3 * x]) | (DWORD(row[3 * x + 1]) << 8) | (DWORD(row[3 * x + 2]) << 16);
        default:
            return DWORD(row[4 * x]) | (DWORD(row[4 * x + 1]) << 8) | (DWORD(row[4 * x + 2]) << 16);
    }
}

// A brush made ready for one destination: a tile of raw values repeating from
// the brush origin, and for hatches drawn transparently a mask of the pixels
// that are drawn.
struct RealizedBrush {
    bool hollow = true;
    int width = 1;
    int height = 1;
    int originX = 0;
    int originY = 0;
    std::vector<DWORD> values;
    std::vector<BYTE> drawn;  // empty: every pixel is drawn

    bool IsSolid() const { return !hollow && width == 1 && height == 1 && drawn.empty(); }
};
RealizedBrush RealizeBrush(const DC& dc, const Bitmap& dst, const Brush* brush);
RealizedBrush RealizeSolid(DWORD value);

// The truth-table byte for a binary raster operation (pen or brush against the
// destination), as a ternary code that ignores the source.
BYTE Rop2ToRop3(int rop2);

// Applies a ternary operation to pixels [x, x + n) of row `y`. p and s are
// packed buffers in the destination's format whose first pixel sits at the
// phase of x (null when the operation does not use them).
void ApplyRop(Bitmap& dst, int y, int x, int n, const BYTE* p, const BYTE* s, BYTE rop);

// Fills pixels [x, x + n) of row y of a packed pattern buffer in the
// destination format.
void BuildPatternRow(const RealizedBrush& brush, int bpp, int y, int x, int n, BYTE* out);

// Draws a horizontal span with a realised brush through a ternary operation
// that ignores the source, honouring transparent hatch pixels.
class SpanPainter {
  public:
    SpanPainter(Bitmap& dst, const RealizedBrush& brush, BYTE rop);
    void Span(int y, int x, int n);

  private:
    Bitmap& dst_;
    const RealizedBrush& brush_;
    BYTE rop_;
    std::vector<BYTE> pattern_;
    std::vector<DWORD> saved_;
};

// The drawable area of a context: its bitmap's bounds intersected with its
// clip region, as rectangles. Empty when the context has no bitmap.
std::vector<QRect> DrawableRects(const DC& dc);
std::vector<QRect> DrawableRects(const DC& dc, const QRect& limit);

// A set of horizontal spans of pixels, each row's spans sorted and disjoint.
class SpanSet {
  public:
    void Add(int y, int x0, int x1);  // [x0, x1)
    void AddRegion(const QRegion& region);
    // Sorts and merges; call once after the last Add.
    void Normalize();
    SpanSet Minus(const SpanSet& other) const;  // both normalised
    struct Span {
        int y, x0, x1;
    };
    const std::vector<Span>& Spans() const { return spans_; }
    bool Empty() const { return spans_.empty(); }

  private:
    std::vector<Span> spans_;
};
// Paints a span set through the context's clip with a brush and operation.
void PaintSpans(const DC& dc, const SpanSet& spans, const RealizedBrush& brush, BYTE rop);

}  // namespace platform::gdi::detail
