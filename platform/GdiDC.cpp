#include <algorithm>

#include "platform/GdiInternal.h"
#include "platform/GdiRegion.h"

namespace platform::gdi {

using namespace detail;

Font::Font(std::string face, int height, int weight, bool italic, bool underline)
    : face_(std::move(face)), height_(height) {
    font_.setFamily(QString::fromStdString(face_));
    const int px = std::clamp(height < 0 ? -height : height, 1, 4096);
    font_.setPixelSize(px);
    font_.setWeight(weight >= 600 ? QFont::Bold : QFont::Normal);
    font_.setItalic(italic);
    font_.setUnderline(underline);
    // Unsmoothed glyphs give the same pixels on every depth and every run.
    font_.setStyleStrategy(QFont::StyleStrategy(QFont::NoAntialias | QFont::NoSubpixelAntialias));
    font_.setHintingPreference(QFont::PreferFullHinting);
    font_.setKerning(false);
}

DC::DC() {
    state.pen = GetStockPen(BLACK_PEN);
    state.brush = GetStockBrush(WHITE_BRUSH);
    // No font until one is selected: text then uses the default font, made
    // on first use, so contexts work in programs without a GUI application.
}

DCPtr CreateCompatibleDC(HDC) {
    return std::make_unique<DC>();
}

DCPtr CreateDCForBitmap(const HBITMAP& bitmap) {
    DCPtr dc = std::make_unique<DC>();
    dc->state.bitmap = bitmap;
    return dc;
}

HBITMAP CreateCompatibleBitmap(HDC hdc, int width, int height) {
    if (hdc && hdc->Target())
        return hdc->Target()->CreateCompatible(width, height);
    return Bitmap::Create(width, height, 1);
}

HBRUSH GetStockBrush(int which) {
    static const HBRUSH brushes[] = {
        CreateSolidBrush(RGB(255, 255, 255)),
        CreateSolidBrush(RGB(192, 192, 192)),
        CreateSolidBrush(RGB(128, 128, 128)),
        CreateSolidBrush(RGB(64, 64, 64)),
        CreateSolidBrush(RGB(0, 0, 0)),
        std::make_shared<const Brush>(Brush{BS_NULL, 0, 0, {}}),
    };
    if (which < WHITE_BRUSH || which > NULL_BRUSH)
        return nullptr;
    return brushes[which];
}

HPEN GetStockPen(int which) {
    static const HPEN pens[] = {CreatePen(PS_SOLID, 1, RGB(255, 255, 255)),
                                CreatePen(PS_SOLID, 1, RGB(0, 0, 0)), CreatePen(PS_NULL, 1, 0)};
    if (which < WHITE_PEN || which > NULL_PEN)
        return nullptr;
    return pens[which - WHITE_PEN];
}

HPEN CreatePen(int style, int width, COLORREF color) {
    if (style < PS_SOLID || style > PS_INSIDEFRAME)
        return nullptr;
    Pen p;
    p.style = style;
    p.width = std::clamp(width, 0, 4096);
    // Styled lines are one pixel wide; wider pens draw them solid.
    if (p.width > 1 && style >= PS_DASH && style <= PS_DASHDOTDOT)
        p.style = PS_SOLID;
    p.color = color;
    return std::make_shared<const Pen>(p);
}

HBRUSH CreateSolidBrush(COLORREF color) {
    return std::make_shared<const Brush>(Brush{BS_SOLID, 0, color, {}});
}

HBRUSH CreateHatchBrush(int hatch, COLORREF color) {
    if (hatch < HS_HORIZONTAL || hatch > HS_DIAGCROSS)
        return nullptr;
    return std::make_shared<const Brush>(Brush{BS_HATCHED, hatch, color, {}});
}

HBRUSH CreatePatternBrush(const HBITMAP& bitmap) {
    if (!bitmap)
        return nullptr;
    HBITMAP copy = bitmap->CreateCompatible(bitmap->Width(), bitmap->Height());
    if (!copy)
        return nullptr;
    std::copy_n(bitmap->Bits(), bitmap->SizeBytes(), copy->Bits());
    return std::make_shared<const Brush>(Brush{BS_PATTERN, 0, 0, std::move(copy)});
}

HFONT CreateFont(int height, const std::string& face, int weight, bool italic, bool underline) {
    return std::make_shared<const Font>(face, height, weight, italic, underline);
}

HBITMAP SelectObject(HDC hdc, const HBITMAP& bitmap) {
    if (!hdc || !bitmap)
        return nullptr;
    return std::exchange(hdc->state.bitmap, bitmap);
}
HPEN SelectObject(HDC hdc, const HPEN& pen) {
    if (!hdc || !pen)
        return nullptr;
    return std::exchange(hdc->state.pen, pen);
}
HBRUSH SelectObject(HDC hdc, const HBRUSH& brush) {
    if (!hdc || !brush)
        return nullptr;
    return std::exchange(hdc->state.brush, brush);
}
HFONT SelectObject(HDC hdc, const HFONT& font) {
    if (!hdc || !font)
        return nullptr;
    return std::exchange(hdc->state.font, font);
}
HBITMAP GetCurrentBitmap(HDC hdc) {
    return hdc ? hdc->state.bitmap : nullptr;
}
HPEN GetCurrentPen(HDC hdc) {
    return hdc ? hdc->state.pen : nullptr;
}
HBRUSH GetCurrentBrush(HDC hdc) {
    return hdc ? hdc->state.brush : nullptr;
}
HFONT GetCurrentFont(HDC hdc) {
    return hdc ? hdc->state.font : nullptr;
}

HPALETTE SelectPalette(HDC hdc, const HPALETTE& palette, bool) {
    if (!hdc)
        return nullptr;
    return std::exchange(hdc->state.palette, palette);
}

UINT RealizePalette(HDC hdc) {
    return hdc && hdc->state.palette ? UINT(hdc->state.palette->Size()) : 0;
}

UINT SetDIBColorTable(HDC hdc, UINT first, UINT count, const RGBQUAD* colors) {
    if (!hdc || !hdc->Target() || first > 255 || count > 256)
        return 0;
    return UINT(hdc->Target()->SetColorTable(int(first), int(count), colors));
}

UINT GetDIBColorTable(HDC hdc, UINT first, UINT count, RGBQUAD* colors) {
    if (!hdc || !hdc->Target() || first > 255 || count > 256)
        return 0;
    return UINT(hdc->Target()->GetColorTable(int(first), int(count), colors));
}

int SetROP2(HDC hdc, int mode) {
    if (!hdc || mode < R2_BLACK || mode > R2_WHITE)
        return 0;
    return std::exchange(hdc->state.rop2, mode);
}
int GetROP2(HDC hdc) {
    return hdc ? hdc->state.rop2 : 0;
}
int SetStretchBltMode(HDC hdc, int mode) {
    if (!hdc || mode < BLACKONWHITE || mode > HALFTONE)
        return 0;
    return std::exchange(hdc->state.stretchMode, mode);
}
int GetStretchBltMode(HDC hdc) {
    return hdc ? hdc->state.stretchMode : 0;
}
COLORREF SetTextColor(HDC hdc, COLORREF color) {
    return hdc ? std::exchange(hdc->state.textColor, color) : CLR_INVALID;
}
COLORREF GetTextColor(HDC hdc) {
    return hdc ? hdc->state.textColor : CLR_INVALID;
}
COLORREF SetBkColor(HDC hdc, COLORREF color) {
    return hdc ? std::exchange(hdc->state.bkColor, color) : CLR_INVALID;
}
COLORREF GetBkColor(HDC hdc) {
    return hdc ? hdc->state.bkColor : CLR_INVALID;
}
int SetBkMode(HDC hdc, int mode) {
    if (!hdc || (mode != TRANSPARENT && mode != OPAQUE))
        return 0;
    return std::exchange(hdc->state.bkMode, mode);
}
int GetBkMode(HDC hdc) {
    return hdc ? hdc->state.bkMode : 0;
}
int SetPolyFillMode(HDC hdc, int mode) {
    if (!hdc || (mode != ALTERNATE && mode != WINDING))
        return 0;
    return std::exchange(hdc->state.polyFillMode, mode);
}
UINT SetTextAlign(HDC hdc, UINT align) {
    return hdc ? std::exchange(hdc->state.textAlign, align) : 0;
}
bool SetBrushOrgEx(HDC hdc, int x, int y, POINT* previous) {
    if (!hdc)
        return false;
    if (previous)
        *previous = hdc->state.brushOrg;
    hdc->state.brushOrg = {x, y};
    return true;
}

int SaveDC(HDC hdc) {
    if (!hdc)
        return 0;
    hdc->saved.push_back(hdc->state);
    return int(hdc->saved.size());
}

bool RestoreDC(HDC hdc, int level) {
    if (!hdc)
        return false;
    const int depth = int(hdc->saved.size());
    if (level < 0)
        level = depth + 1 + level;
    if (level < 1 || level > depth)
        return false;
    hdc->state = std::move(hdc->saved[std::size_t(level - 1)]);
    hdc->saved.resize(std::size_t(level - 1));
    return true;
}

namespace {

int KindOf(const QRegion& r) {
    if (r.isEmpty())
        return NULLREGION;
    return r.rectCount() == 1 ? SIMPLEREGION : COMPLEXREGION;
}

int ClipKind(const DC& dc) {
    if (!dc.state.clipped)
        return SIMPLEREGION;
    return KindOf(dc.state.clip);
}

QRect BitmapRect(const DC& dc) {
    const Bitmap* bm = dc.Target();
    return bm ? QRect(0, 0, bm->Width(), bm->Height()) : QRect();
}

}  // namespace

int SelectClipRgn(HDC hdc, const QRegion* region) {
    return ExtSelectClipRgn(hdc, region, RGN_COPY);
}

int ExtSelectClipRgn(HDC hdc, const QRegion* region, int mode) {
    if (!hdc)
        return RGN_ERROR;
    DCState& s = hdc->state;
    if (!region) {
        if (mode != RGN_COPY)
            return RGN_ERROR;
        s.clipped = false;
        s.clip = QRegion();
        return SIMPLEREGION;
    }
    // An unclipped context clips to its whole bitmap.
    const QRegion current = s.clipped ? s.clip : QRegion(BitmapRect(*hdc));
    switch (mode) {
        case RGN_COPY:
            s.clip = *region;
            break;
        case RGN_AND:
            s.clip = current.intersected(*region);
            break;
        case RGN_OR:
            s.clip = current.united(*region);
            break;
        case RGN_XOR:
            s.clip = current.xored(*region);
            break;
        case RGN_DIFF:
            s.clip = current.subtracted(*region);
            break;
        default:
            return RGN_ERROR;
    }
    s.clipped = true;
    return ClipKind(*hdc);
}

int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom) {
    const QRegion r = CreateRectRgn(left, top, right, bottom);
    return ExtSelectClipRgn(hdc, &r, RGN_AND);
}

int ExcludeClipRect(HDC hdc, int left, int top, int right, int bottom) {
    const QRegion r = CreateRectRgn(left, top, right, bottom);
    return ExtSelectClipRgn(hdc, &r, RGN_DIFF);
}

int GetClipBox(HDC hdc, RECT* rect) {
    if (!hdc || !rect)
        return RGN_ERROR;
    QRegion area(BitmapRect(*hdc));
    if (hdc->state.clipped)
        area = area.intersected(hdc->state.clip);
    const QRect b = area.boundingRect();
    *rect = b.isEmpty() ? RECT{} : RECT{b.left(), b.top(), b.right() + 1, b.bottom() + 1};
    return KindOf(area);
}

namespace detail {

COLORREF ResolveRgb(const DC& dc, COLORREF c) {
    if ((c >> 24) == 1) {
        const int i = int(c & 0xFFFF);
        if (dc.state.palette)
            return dc.state.palette->ColorOf(i);
        const Bitmap* bm = dc.Target();
        if (bm && bm->IsIndexed())
            return bm->ColorOfValue(DWORD(i % bm->ColorCount()));
        return 0;
    }
    return c & 0x00FFFFFF;
}

DWORD ResolveColor(const DC& dc, const Bitmap& dst, COLORREF c) {
    if ((c >> 24) == 1 && dst.IsIndexed())
        return DWORD(c & 0xFFFF) % DWORD(dst.ColorCount());
    return dst.ValueOfColor(ResolveRgb(dc, c));
}

RealizedBrush RealizeSolid(DWORD value) {
    RealizedBrush b;
    b.hollow = false;
    b.values = {value};
    return b;
}

namespace {

RealizedBrush RealizeBrushAt(const DC& dc, const Bitmap& dst, const Brush* brush) {
    RealizedBrush b;
    if (!brush || brush->style == BS_NULL)
        return b;
    b.originX = dc.state.brushOrg.x;
    b.originY = dc.state.brushOrg.y;
    if (brush->style == BS_SOLID) {
        b.hollow = false;
        b.values = {ResolveColor(dc, dst, brush->color)};
        return b;
    }
    if (brush->style == BS_HATCHED) {
        b.hollow = false;
        b.width = b.height = 8;
        const DWORD fg = ResolveColor(dc, dst, brush->color);
        const DWORD bg = ResolveColor(dc, dst, dc.state.bkColor);
        const bool opaque = dc.state.bkMode == OPAQUE;
        b.values.resize(64);
        if (!opaque)
            b.drawn.resize(64);
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) {
                bool on = false;
                const bool h = y == 0, v = x == 0, f = x == y, bd = x + y == 7;
                switch (brush->hatch) {
                    case HS_HORIZONTAL:
                        on = h;
                        break;
                    case HS_VERTICAL:
                        on = v;
                        break;
                    case HS_FDIAGONAL:
                        on = f;
                        break;
                    case HS_BDIAGONAL:
                        on = bd;
                        break;
                    case HS_CROSS:
                        on = h || v;
                        break;
                    default:
                        on = f || bd;
                        break;
                }
                b.values[std::size_t(y * 8 + x)] = on ? fg : bg;
                if (!opaque)
                    b.drawn[std::size_t(y * 8 + x)] = on ? 1 : 0;
            }
        }
        return b;
    }
    const Bitmap* pat = brush->pattern.get();
    if (!pat)
        return b;
    b.hollow = false;
    b.width = pat->Width();
    b.height = pat->Height();
    b.values.resize(std::size_t(b.width) * std::size_t(b.height));
    DWORD lut[256] = {};
    if (pat->BitsPerPixel() == 1) {
        lut[0] = ResolveColor(dc, dst, dc.state.textColor);
        lut[1] = ResolveColor(dc, dst, dc.state.bkColor);
    } else if (pat->IsIndexed()) {
        for (int i = 0; i < pat->ColorCount(); ++i) {
            lut[i] = pat->BitsPerPixel() == dst.BitsPerPixel()
                         ? DWORD(i)
                         : dst.ValueOfColor(pat->ColorOfValue(DWORD(i)));
        }
    }
    for (int y = 0; y < b.height; ++y) {
        for (int x = 0; x < b.width; ++x) {
            const DWORD v = pat->GetValue(x, y);
            DWORD out;
            if (pat->IsIndexed())
                out = lut[v & 0xFF];
            else if (pat->BitsPerPixel() == dst.BitsPerPixel())
                out = v;
            else
                out = dst.ValueOfColor(pat->ColorOfValue(v));
            b.values[std::size_t(y) * std::size_t(b.width) + std::size_t(x)] = out;
        }
    }
    return b;
}

}  // namespace

RealizedBrush RealizeBrush(const DC& dc, const Bitmap& dst, const Brush* brush) {
    RealizedBrush b = RealizeBrushAt(dc, dst, brush);
    // The origin taken modulo the tile, so that any origin is safe to subtract.
    b.originX = int((std::int64_t(b.originX) % b.width + b.width) % b.width);
    b.originY = int((std::int64_t(b.originY) % b.height + b.height) % b.height);
    return b;
}

BYTE Rop2ToRop3(int rop2) {
    const int t = (std::clamp(rop2, int(R2_BLACK), int(R2_WHITE)) - 1) & 15;
    BYTE r = 0;
    for (int i = 0; i < 8; ++i) {
        const int p = (i >> 2) & 1, d = i & 1;
        if ((t >> ((p << 1) | d)) & 1)
            r = BYTE(r | (1 << i));
    }
    return r;
}

std::vector<QRect> DrawableRects(const DC& dc, const QRect& limit) {
    std::vector<QRect> out;
    const QRect area = BitmapRect(dc).intersected(limit);
    if (area.isEmpty())
        return out;
    if (!dc.state.clipped) {
        out.push_back(area);
        return out;
    }
    for (const QRect& r : dc.state.clip) {
        const QRect c = r.intersected(area);
        if (!c.isEmpty())
            out.push_back(c);
    }
    return out;
}

std::vector<QRect> DrawableRects(const DC& dc) {
    return DrawableRects(dc, BitmapRect(dc));
}

SpanPainter::SpanPainter(Bitmap& dst, const RealizedBrush& brush, BYTE rop)
    : dst_(dst), brush_(brush), rop_(rop) {}

void SpanPainter::Span(int y, int x, int n) {
    if (brush_.hollow || n <= 0)
        return;
    const int bpp = dst_.BitsPerPixel();
    const std::size_t bytes = std::size_t(SpanBytes(bpp, Phase(bpp, x), n));
    if (brush_.IsSolid()) {
        // Every byte of a solid row is the same at any phase for narrow
        // depths, and wide depths start each span on a pixel boundary, so one
        // row built from x = 0 serves every span.
        if (pattern_.size() < bytes) {
            pattern_.assign(bytes * 2, 0);
            BuildPatternRow(brush_, bpp, 0, 0, int(pattern_.size() * 8 / std::size_t(bpp)),
                            pattern_.data());
        }
    } else {
        if (pattern_.size() < bytes)
            pattern_.resize(bytes);
        BuildPatternRow(brush_, bpp, y, x, n, pattern_.data());
    }
    if (brush_.drawn.empty()) {
        ApplyRop(dst_, y, x, n, pattern_.data(), nullptr, rop_);
        return;
    }
    // Transparent hatch: draw, then put back the pixels the hatch leaves.
    BYTE* row = dst_.Row(y);
    saved_.resize(std::size_t(n));
    for (int i = 0; i < n; ++i)
        saved_[std::size_t(i)] = GetPixelRaw(row, bpp, x + i);
    ApplyRop(dst_, y, x, n, pattern_.data(), nullptr, rop_);
    const int py = ((y - brush_.originY) % brush_.height + brush_.height) % brush_.height;
    for (int i = 0; i < n; ++i) {
        const int px = ((x + i - brush_.originX) % brush_.width + brush_.width) % brush_.width;
        if (!brush_.drawn[std::size_t(py * brush_.width + px)])
            PutPixel(row, bpp, x + i, saved_[std::size_t(i)]);
    }
}

void SpanSet::Add(int y, int x0, int x1) {
    if (x1 > x0)
        spans_.push_back({y, x0, x1});
}

void SpanSet::AddRegion(const QRegion& region) {
    for (const QRect& r : region) {
        for (int y = r.top(); y <= r.bottom(); ++y)
            Add(y, r.left(), r.right() + 1);
    }
}

void SpanSet::Normalize() {
    std::sort(spans_.begin(), spans_.end(),
              [](const Span& a, const Span& b) { return a.y != b.y ? a.y < b.y : a.x0 < b.x0; });
    std::vector<Span> out;
    out.reserve(spans_.size());
    for (const Span& s : spans_) {
        if (!out.empty() && out.back().y == s.y && s.x0 <= out.back().x1) {
            out.back().x1 = std::max(out.back().x1, s.x1);
        } else {
            out.push_back(s);
        }
    }
    spans_ = std::move(out);
}

SpanSet SpanSet::Minus(const SpanSet& other) const {
    SpanSet out;
    std::size_t j = 0;
    const auto& o = other.spans_;
    for (const Span& s : spans_) {
        while (j < o.size() && (o[j].y < s.y || (o[j].y == s.y && o[j].x1 <= s.x0)))
            ++j;
        int x = s.x0;
        for (std::size_t k = j; k < o.size() && o[k].y == s.y && o[k].x0 < s.x1; ++k) {
            if (o[k].x0 > x)
                out.spans_.push_back({s.y, x, o[k].x0});
            x = std::max(x, o[k].x1);
        }
        if (x < s.x1)
            out.spans_.push_back({s.y, x, s.x1});
    }
    return out;
}

void PaintSpans(const DC& dc, const SpanSet& spans, const RealizedBrush& brush, BYTE rop) {
    Bitmap* bm = dc.Target();
    if (!bm || brush.hollow || spans.Empty())
        return;
    const std::vector<QRect> rects = DrawableRects(dc);
    SpanPainter painter(*bm, brush, rop);
    // Rectangles of a region are sorted by their top edge; spans by row.
    for (const SpanSet::Span& s : spans.Spans()) {
        for (const QRect& r : rects) {
            if (r.top() > s.y)
                break;
            if (s.y > r.bottom())
                continue;
            const int x0 = std::max(s.x0, r.left()), x1 = std::min(s.x1, r.right() + 1);
            if (x1 > x0)
                painter.Span(s.y, x0, x1 - x0);
        }
    }
}

}  // namespace detail

}  // namespace platform::gdi
