#pragma once
// Device contexts on bitmaps in memory, the drawing objects selected into
// them, and the drawing calls. Every call takes the context as an HDC (a
// plain pointer that may be null: a null or bitmap-less context makes a call
// fail, never crash); contexts, bitmaps, pens, brushes, fonts and palettes are
// owned by smart pointers, so nothing is deleted by hand. Objects selected
// into a context stay alive while selected.
//
// Coordinates are device pixels of the selected bitmap, (0, 0) at its top
// left. Rectangles exclude their right and bottom edges. Everything drawn is
// clipped to the bitmap and to the context's clip region.

#include <QFont>
#include <QRegion>
#include <QString>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/GdiBitmap.h"
#include "platform/GdiTypes.h"

namespace platform::gdi {

struct Pen {
    int style = PS_SOLID;
    int width = 1;  // 0 and 1 both draw one pixel wide
    COLORREF color = 0;
};

struct Brush {
    int style = BS_SOLID;
    int hatch = HS_HORIZONTAL;
    COLORREF color = 0;
    HBITMAP pattern;  // BS_PATTERN: the brush's own copy of the pattern bitmap
};

class Font {
  public:
    Font(std::string face, int height, int weight, bool italic, bool underline);
    const std::string& Face() const { return face_; }
    int Height() const { return height_; }
    const QFont& QtFont() const { return font_; }

  private:
    std::string face_;
    int height_;
    QFont font_;
};

using HPEN = std::shared_ptr<const Pen>;
using HBRUSH = std::shared_ptr<const Brush>;
using HFONT = std::shared_ptr<const Font>;
using HRGN = QRegion;

class DC;
using HDC = DC*;
using DCPtr = std::unique_ptr<DC>;

// What SaveDC keeps and RestoreDC brings back.
struct DCState {
    HBITMAP bitmap;
    HPEN pen;
    HBRUSH brush;
    HFONT font;
    HPALETTE palette;
    int rop2 = R2_COPYPEN;
    int stretchMode = BLACKONWHITE;
    COLORREF textColor = RGB(0, 0, 0);
    COLORREF bkColor = RGB(255, 255, 255);
    int bkMode = OPAQUE;
    int polyFillMode = ALTERNATE;
    UINT textAlign = TA_LEFT | TA_TOP;
    POINT brushOrg;
    POINT position;
    bool clipped = false;
    QRegion clip;
};

class DC {
  public:
    DC();
    DCState state;
    std::vector<DCState> saved;
    // Position in the current pen style's dash sequence; MoveToEx resets it.
    int styleStep = 0;

    Bitmap* Target() const { return state.bitmap.get(); }
};

// A memory context with no bitmap selected. The argument is accepted for the
// familiar call shape; a memory context is compatible with any other.
DCPtr CreateCompatibleDC(HDC hdc = nullptr);
// A memory context with a bitmap already selected.
DCPtr CreateDCForBitmap(const HBITMAP& bitmap);
// A bitmap of the depth and colour table of the context's bitmap; a context
// without a bitmap gives a 1-bit bitmap, as a fresh memory context does.
HBITMAP CreateCompatibleBitmap(HDC hdc, int width, int height);

// Stock objects.
enum {
    WHITE_BRUSH = 0,
    LTGRAY_BRUSH = 1,
    GRAY_BRUSH = 2,
    DKGRAY_BRUSH = 3,
    BLACK_BRUSH = 4,
    NULL_BRUSH = 5,
    HOLLOW_BRUSH = NULL_BRUSH,
    WHITE_PEN = 6,
    BLACK_PEN = 7,
    NULL_PEN = 8,
};
HBRUSH GetStockBrush(int which);
HPEN GetStockPen(int which);

HPEN CreatePen(int style, int width, COLORREF color);
HBRUSH CreateSolidBrush(COLORREF color);
HBRUSH CreateHatchBrush(int hatch, COLORREF color);
// The brush keeps a copy of the bitmap, which tiles the plane from the brush
// origin. A 1-bit pattern draws its 0 bits in the text colour and its 1 bits in
// the background colour; other depths draw their own colours.
HBRUSH CreatePatternBrush(const HBITMAP& bitmap);
// height is the character height in pixels (its sign is ignored).
HFONT CreateFont(int height, const std::string& face, int weight = FW_NORMAL, bool italic = false,
                 bool underline = false);

// Selecting returns what was selected before; a null object or context selects
// nothing and returns null.
HBITMAP SelectObject(HDC hdc, const HBITMAP& bitmap);
HPEN SelectObject(HDC hdc, const HPEN& pen);
HBRUSH SelectObject(HDC hdc, const HBRUSH& brush);
HFONT SelectObject(HDC hdc, const HFONT& font);
HBITMAP GetCurrentBitmap(HDC hdc);
HPEN GetCurrentPen(HDC hdc);
HBRUSH GetCurrentBrush(HDC hdc);
// Null until a font is selected (text then uses a default font).
HFONT GetCurrentFont(HDC hdc);

// Palettes: the palette selected into a context resolves PALETTEINDEX colours
// on colour bitmaps and gives the colours of indexed pixels copied into the
// context's colour bitmap. A null palette deselects.
HPALETTE SelectPalette(HDC hdc, const HPALETTE& palette, bool forceBackground = false);
// Returns the number of entries of the selected palette.
UINT RealizePalette(HDC hdc);
// The colour table of the context's bitmap; returns the number of entries.
UINT SetDIBColorTable(HDC hdc, UINT first, UINT count, const RGBQUAD* colors);
UINT GetDIBColorTable(HDC hdc, UINT first, UINT count, RGBQUAD* colors);

// Modes and colours; each setter returns the previous value (0, or
// CLR_INVALID for colours, when hdc is null or the value is not valid).
int SetROP2(HDC hdc, int mode);
int GetROP2(HDC hdc);
int SetStretchBltMode(HDC hdc, int mode);
int GetStretchBltMode(HDC hdc);
COLORREF SetTextColor(HDC hdc, COLORREF color);
COLORREF GetTextColor(HDC hdc);
COLORREF SetBkColor(HDC hdc, COLORREF color);
COLORREF GetBkColor(HDC hdc);
int SetBkMode(HDC hdc, int mode);
int GetBkMode(HDC hdc);
int SetPolyFillMode(HDC hdc, int mode);
UINT SetTextAlign(HDC hdc, UINT align);
bool SetBrushOrgEx(HDC hdc, int x, int y, POINT* previous = nullptr);

// SaveDC returns the new depth (0 on failure); RestoreDC(n) returns to the
// state saved at depth n, a negative n counts back from the last save.
int SaveDC(HDC hdc);
bool RestoreDC(HDC hdc, int saved);

// Clipping. The region is copied; a null region removes clipping.
int SelectClipRgn(HDC hdc, const QRegion* region);
int ExtSelectClipRgn(HDC hdc, const QRegion* region, int mode);
int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom);
int ExcludeClipRect(HDC hdc, int left, int top, int right, int bottom);
// The bounds of what can be drawn (bitmap and clip region); returns the region kind.
int GetClipBox(HDC hdc, RECT* rect);

// Raster operations. Every ternary code works, evaluated bit by bit over the
// pattern (the selected brush), source and destination. Source pixels are
// converted to the destination's format first: indices are kept between
// bitmaps of the same indexed depth; indexed pixels take their table colour
// (or the colour of the palette selected into the destination context); a
// colour becomes the nearest table entry of an indexed destination; into a
// 1-bit destination from any other depth, pixels of the source context's
// background colour become 1 and all others 0.
// Negative extents cover the pixels before the origins (in both bitmaps).
bool BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY, DWORD rop);
bool PatBlt(HDC hdc, int x, int y, int width, int height, DWORD rop);
// Destination pixel k (counted from the origin in the direction of its extent)
// takes source pixel k * |srcWidth| / |width| (rounded down, counted likewise);
// extents of opposite signs mirror. A negative extent covers the pixels
// origin + extent .. origin - 1. HALFTONE averages the covered source area
// (colour destinations; indexed ones sample as COLORONCOLOR does);
// BLACKONWHITE and WHITEONBLACK AND or OR together the source pixels a
// shrinking drops. Source pixels outside the source bitmap are never read:
// destination pixels that would take them are left alone.
bool StretchBlt(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY,
                int srcWidth, int srcHeight, DWORD rop);

// Pixels. SetPixel returns the colour actually set, CLR_INVALID outside the
// bitmap or clip region; GetPixel returns CLR_INVALID outside the bitmap.
COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color);
bool SetPixelV(HDC hdc, int x, int y, COLORREF color);
COLORREF GetPixel(HDC hdc, int x, int y);

// Lines with the selected pen and ROP2 mode; the end point is not drawn.
bool MoveToEx(HDC hdc, int x, int y, POINT* previous = nullptr);
bool LineTo(HDC hdc, int x, int y);
bool Polyline(HDC hdc, const POINT* points, int count);

// Shapes: outline with the pen, inside with the brush, both through the ROP2
// mode. Rectangle covers left..right-1 and top..bottom-1; Ellipse fits the
// same box.
bool Rectangle(HDC hdc, int left, int top, int right, int bottom);
bool Ellipse(HDC hdc, int left, int top, int right, int bottom);
bool Polygon(HDC hdc, const POINT* points, int count);

// Brush fills that replace the pixels (PATCOPY), as FillRect does; InvertRect
// inverts them.
int FillRect(HDC hdc, const RECT& rect, const HBRUSH& brush);
int FrameRect(HDC hdc, const RECT& rect, const HBRUSH& brush);
bool InvertRect(HDC hdc, const RECT& rect);

// Regions (device coordinates). FillRgn replaces with the brush; PaintRgn uses
// the selected brush through the ROP2 mode; FrameRgn paints with the brush the
// pixels of the region that do not stay inside it when it is shifted by width
// left and right and by height up and down.
bool FillRgn(HDC hdc, const QRegion& region, const HBRUSH& brush);
bool PaintRgn(HDC hdc, const QRegion& region);
bool FrameRgn(HDC hdc, const QRegion& region, const HBRUSH& brush, int width, int height);
bool InvertRgn(HDC hdc, const QRegion& region);

// Text in the selected font and text colour; with OPAQUE the text's cell is
// first filled with the background colour. Glyphs are not smoothed, so every
// depth gets the same pixels. TA_UPDATECP is not supported.
bool TextOut(HDC hdc, int x, int y, const QString& text);
bool TextOut(HDC hdc, int x, int y, std::string_view utf8);
bool GetTextExtentPoint32(HDC hdc, const QString& text, SIZE* size);
bool GetTextExtentPoint32(HDC hdc, std::string_view utf8, SIZE* size);
inline bool TextOut(HDC hdc, int x, int y, const char* utf8) {
    return TextOut(hdc, x, y, std::string_view(utf8 ? utf8 : ""));
}
inline bool GetTextExtentPoint32(HDC hdc, const char* utf8, SIZE* size) {
    return GetTextExtentPoint32(hdc, std::string_view(utf8 ? utf8 : ""), size);
}
struct TEXTMETRIC {
    int tmHeight = 0;
    int tmAscent = 0;
    int tmDescent = 0;
    int tmAveCharWidth = 0;
    int tmMaxCharWidth = 0;
};
bool GetTextMetrics(HDC hdc, TEXTMETRIC* metrics);

}  // namespace platform::gdi
