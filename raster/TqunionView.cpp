// Zoomed views of the union store: choosing the reduced level for a zoom,
// stretching each visible tile of that level onto a device context, blank
// tiles as one rectangle of the views' blank colour, only the tiles that
// changed when asked to, and the masked forms that draw an image store
// through a mask store.
//
// Every tile's destination edges come from absolute image coordinates,
// rnd(edge * scale) - rnd(origin * scale) with rnd(v) = trunc(v + 0.5), so
// that neighbouring tiles (stretched or blank) meet without gap or overlap.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

#include "raster/Tqunion.h"

namespace quillor {

namespace gdi = platform::gdi;

namespace {

constexpr double kLevelScales[TUnionBitmap::kLevelCount] = {1.0, 0.5, 0.25, 0.125};

// Device coordinates are kept well inside int so that differences of them
// cannot overflow; the drawing layer clips everything to its bitmaps anyway.
constexpr double kCoordLimit = double(1 << 30);

int ClampToCoord(double v) {
    if (!(v == v))  // NaN
        return 0;
    return int(std::clamp(v, -kCoordLimit, kCoordLimit));
}

// trunc(v + 0.5): the rounding of every destination edge.
int Rnd(double v) {
    return ClampToCoord(std::trunc(v + 0.5));
}

int Trunc(double v) {
    return ClampToCoord(std::trunc(v));
}

bool IsEmpty(const RECT& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

// x + extent, kept inside int.
int EndOf(int x, int extent) {
    return int(std::clamp<std::int64_t>(std::int64_t(x) + extent, INT_MIN, INT_MAX));
}

// Where the part `image` (image or level coordinates) of a tile lands: the
// edges from absolute coordinates, moved by the view's origin and offset.
RECT DestinationOf(const RECT& image, double sx, double sy, int srcLeft, int srcTop, int dstX,
                   int dstY) {
    const int ox = dstX - Rnd(srcLeft * sx), oy = dstY - Rnd(srcTop * sy);
    return RECT{ClampToCoord(double(ox) + Rnd(image.left * sx)),
                ClampToCoord(double(oy) + Rnd(image.top * sy)),
                ClampToCoord(double(ox) + Rnd(image.right * sx)),
                ClampToCoord(double(oy) + Rnd(image.bottom * sy))};
}

// The colour blank tiles show in the views: palette entry 1 of an 8-bit store
// as a palette-relative colour (the tiles of a store without a palette carry
// the grey ramp, whose entry 1 is 1, 1, 1), white for the other depths.
gdi::COLORREF ViewBlankColour(const TUnionBitmap& store) {
    if (store.BitsPerPixel() != 8)
        return 0x00FFFFFF;
    const RGBQUAD* palette = store.Palette();
    const RGBQUAD entry = palette ? palette[1] : gdi::MakeQuad(1, 1, 1);
    return gdi::PALETTERGB(entry.rgbRed, entry.rgbGreen, entry.rgbBlue);
}

// Selects the solid blank brush and pen of width 1 and sets COLORONCOLOR;
// the previous brush and pen come back at the end of the scope.
class BlankPainter {
  public:
    BlankPainter(HDC dc, gdi::COLORREF colour) : dc_(dc) {
        oldBrush_ = gdi::SelectObject(dc, gdi::CreateSolidBrush(colour));
        oldPen_ = gdi::SelectObject(dc, gdi::CreatePen(gdi::PS_SOLID, 1, colour));
        gdi::SetStretchBltMode(dc, gdi::COLORONCOLOR);
    }
    ~BlankPainter() {
        if (oldBrush_)
            gdi::SelectObject(dc_, oldBrush_);
        if (oldPen_)
            gdi::SelectObject(dc_, oldPen_);
    }
    BlankPainter(const BlankPainter&) = delete;
    BlankPainter& operator=(const BlankPainter&) = delete;

    void Fill(const RECT& r) const { gdi::Rectangle(dc_, r.left, r.top, r.right, r.bottom); }

  private:
    HDC dc_;
    gdi::HBRUSH oldBrush_;
    gdi::HPEN oldPen_;
};

// One tile of a plain view: stretched from its level, or one rectangle of
// the blank colour when level 0 holds nothing. -1 failed, 1 stretched, 0 a
// blank rectangle (which does not count as drawn).
int DrawTileOrBlank(TUnionBitmap& store, HDC dc, const BlankPainter& blank, int tile,
                    double levelScale, double sy, double sx, int srcTop, int srcLeft, int level,
                    const RECT& local, const RECT& image, bool cascading) {
    if (store.Status(tile, 0).Blank) {
        blank.Fill(DestinationOf(image, sx, sy, srcLeft, srcTop, 0, 0));
        return 0;
    }
    return store.StretchTileToDC(dc, tile, gdi::SRCCOPY, levelScale, sy, sx, srcTop, srcLeft, 0, 0,
                                 level, local, image, cascading)
               ? 1
               : -1;
}

// The scratch bitmap of the masked forms and its context.
class MaskScratch {
  public:
    MaskScratch(int width, int height, TUnionBitmap& image) {
        if (bitmap_.Create(width, height, image.Palette(), image.BitsPerPixel()))
            dc_ = bitmap_.GetBitmapDC();
        if (dc_)
            gdi::SetStretchBltMode(dc_, gdi::COLORONCOLOR);
    }
    ~MaskScratch() {
        if (dc_)
            bitmap_.ReleaseBitmapDC(dc_);
    }
    MaskScratch(const MaskScratch&) = delete;
    MaskScratch& operator=(const MaskScratch&) = delete;

    HDC Dc() const { return dc_; }

  private:
    TQuillorBitmap bitmap_;
    HDC dc_ = nullptr;
};

// One tile drawn through its mask: the screen becomes
// (screen AND mask) OR (image AND NOT mask) over the tile's destination.
bool DrawTileMasked(HDC dc, HDC scratch, TUnionBitmap& mask, TUnionBitmap& image, int tile,
                    double levelScale, double sy, double sx, int srcTop, int srcLeft, int level,
                    const RECT& local, const RECT& part) {
    if (!mask.StretchTileToDC(dc, tile, gdi::SRCAND, levelScale, sy, sx, srcTop, srcLeft, 0, 0,
                              level, local, part) ||
        !mask.StretchTileToDC(scratch, tile, gdi::NOTSRCCOPY, levelScale, sy, sx, srcTop, srcLeft,
                              0, 0, level, local, part) ||
        !image.StretchTileToDC(scratch, tile, gdi::SRCAND, levelScale, sy, sx, srcTop, srcLeft, 0,
                               0, level, local, part))
        return false;
    const RECT d = DestinationOf(part, sx, sy, srcLeft, srcTop, 0, 0);
    if (IsEmpty(d))
        return true;
    return gdi::BitBlt(dc, d.left, d.top, d.right - d.left, d.bottom - d.top, scratch, d.left,
                       d.top, gdi::SRCPAINT);
}

// The masked forms need the mask and image laid out on this store's grid.
bool SameGrid(const TUnionBitmap& a, const TUnionBitmap& b) {
    return b.IsCreated() && a.Width() == b.Width() && a.Height() == b.Height() &&
           a.TileColumns() == b.TileColumns() && a.TileRows() == b.TileRows();
}

}  // namespace

// The source's answer for one tile of a view (each tile its own, so a tile
// left as it was never inherits its neighbour's); any regenerated tile marks
// the paint as having refreshed a level.
std::uint8_t TUnionBitmap::RefreshForView(TUnionBitmap& source, int tile, int level, bool force) {
    std::uint8_t refreshed = 0;
    if (source.ValidTile(tile, level))
        source.RefreshLevel(tile, level, force, refreshed);
    if (refreshed)
        FLevelRefreshed = 1;
    return refreshed;
}

int TUnionBitmap::LevelForScale(double sy, double sx) const {
    const double s = std::min(sy, sx);
    int level = 3;
    if (s > 0.5)
        level = 0;
    else if (s > 0.25)
        level = 1;
    else if (s > 0.125)
        level = 2;
    return std::max(0, std::min(level, FLevelCount - 1));
}

double TUnionBitmap::LevelScale(int level) {
    if (level < 0 || level >= kLevelCount)
        return 1.0;
    return kLevelScales[level];
}

bool TUnionBitmap::StretchTileToDC(HDC dc, int tile, DWORD rop, double levelScale, double sy,
                                   double sx, int srcTop, int srcLeft, int dstY, int dstX,
                                   int level, const RECT& local, const RECT& image,
                                   bool cascading) {
    if (dc == nullptr || !ValidTile(tile, level))
        return false;
    bool direct = cascading;
    HDC tileDc = nullptr;
    if (!cascading) {
        tileDc = GetTileDC(tile, level);
        // A tile whose context is out or whose rows are locked for row access
        // can still be read: draw it through a context that leaves it alone.
        if (tileDc == nullptr) {
            TQuillorBitmap* object = Tile(tile, level);
            if (object != nullptr && object->InUse()) {
                tileDc = GetTileDCDirect(tile, level);
                direct = true;
            }
        }
    } else {
        tileDc = GetTileDCDirect(tile, level);
    }
    if (tileDc == nullptr)
        return false;

    // The part in the level's pixels, at least one pixel each way and kept
    // inside the level tile: the last pixels of a tile whose extent is not a
    // multiple of 2^level have no pixel of their own at that level and show
    // the tile's last one rather than leaving the destination unpainted.
    const TQuillorBitmap* bitmap = Tile(tile, level);
    const int tileW = std::max(1, bitmap->Width()), tileH = std::max(1, bitmap->Height());
    const int x = std::clamp(Trunc(local.left * levelScale), 0, tileW - 1);
    const int y = std::clamp(Trunc(local.top * levelScale), 0, tileH - 1);
    const int w = std::clamp(Trunc((double(local.right) - local.left) * levelScale), 1, tileW - x);
    const int h = std::clamp(Trunc((double(local.bottom) - local.top) * levelScale), 1, tileH - y);
    const RECT d = DestinationOf(image, sx, sy, srcLeft, srcTop, dstX, dstY);
    const bool ok = gdi::StretchBlt(dc, d.left, d.top, d.right - d.left, d.bottom - d.top, tileDc,
                                    x, y, w, h, rop);
    if (direct)
        ReleaseTileDCDirect(tileDc);
    else
        ReleaseTileDC(tileDc, tile, level);
    return ok;
}

bool TUnionBitmap::StretchToDC(HDC dc, int dstX, DWORD rop, int srcH, int srcW, int srcTop,
                               int srcLeft, int dstH, int dstW, int dstY) {
    if (srcW <= 0 || srcH <= 0 || dstW <= 0 || dstH <= 0 || TileCount() == 0)
        return true;
    if (dc == nullptr)
        return false;
    const double sx = double(dstW) / srcW, sy = double(dstH) / srcH;
    const int level = LevelForScale(sy, sx);
    const double levelScale = LevelScale(level);
    gdi::SetStretchBltMode(dc, gdi::COLORONCOLOR);

    const RECT view{srcLeft, srcTop, EndOf(srcLeft, srcW), EndOf(srcTop, srcH)};
    const int firstRow = TileRowOf(view.top), lastRow = TileRowOf(view.bottom - 1);
    const int firstColumn = TileColumnOf(view.left), lastColumn = TileColumnOf(view.right - 1);
    for (int row = firstRow; row <= lastRow; ++row) {
        for (int column = firstColumn; column <= lastColumn; ++column) {
            const int tile = row * FTileColumns + column;
            const RECT image = ClipToTile(tile, false, view);
            if (IsEmpty(image))
                continue;
            const RECT local = ClipToTile(tile, true, view);
            if (!StretchTileToDC(dc, tile, rop, levelScale, sy, sx, srcTop, srcLeft, dstY, dstX,
                                 level, local, image))
                return false;
        }
    }
    return true;
}

int TUnionBitmap::PaintView(HDC dc, int dstW, bool force, TUnionBitmap& source, bool drawAll,
                            int srcH, int srcW, int srcTop, int srcLeft, int dstH) {
    // Nothing to show: no division by a zero (or negative) size.
    if (srcW <= 0 || srcH <= 0 || dstW <= 0 || dstH <= 0 || TileCount() == 0)
        return 0;
    if (dc == nullptr)
        return -1;
    const double sx = double(dstW) / srcW, sy = double(dstH) / srcH;
    FDisplayLevel = LevelForScale(sy, sx);
    FDisplayScale = LevelScale(FDisplayLevel);
    FLevelRefreshed = 0;

    BlankPainter blank(dc, ViewBlankColour(*this));
    const RECT view{srcLeft, srcTop, EndOf(srcLeft, srcW), EndOf(srcTop, srcH)};
    const int firstRow = TileRowOf(view.top), lastRow = TileRowOf(view.bottom - 1);
    const int firstColumn = TileColumnOf(view.left), lastColumn = TileColumnOf(view.right - 1);
    bool drawn = false;
    for (int row = firstRow; row <= lastRow; ++row) {
        for (int column = firstColumn; column <= lastColumn; ++column) {
            const int tile = row * FTileColumns + column;
            const std::uint8_t refreshed = RefreshForView(source, tile, FDisplayLevel, force);
            const RECT image = ClipToTile(tile, false, view);
            if (IsEmpty(image) || (!drawAll && refreshed != 1))
                continue;
            const int result =
                DrawTileOrBlank(*this, dc, blank, tile, FDisplayScale, sy, sx, srcTop, srcLeft,
                                FDisplayLevel, ClipToTile(tile, true, view), image, false);
            if (result < 0)
                return -1;
            drawn = drawn || result == 1;
        }
    }
    return drawn ? 1 : 0;
}

int TUnionBitmap::PaintViewRow(HDC dc, int dstW, TUnionBitmap& source, int row, int srcH, int srcW,
                               int srcTop, int srcLeft, int dstH) {
    if (srcW <= 0 || srcH <= 0 || dstW <= 0 || dstH <= 0 || row < 0 || row >= FTileRows ||
        TileCount() == 0)
        return 0;
    if (dc == nullptr)
        return -1;
    const double sx = double(dstW) / srcW, sy = double(dstH) / srcH;
    const int level = LevelForScale(sy, sx);
    const double levelScale = LevelScale(level);
    const int last = source.LevelCount() - 1;

    BlankPainter blank(dc, ViewBlankColour(*this));
    const RECT view{srcLeft, srcTop, EndOf(srcLeft, srcW), EndOf(srcTop, srcH)};
    const int firstColumn = TileColumnOf(view.left), lastColumn = TileColumnOf(view.right - 1);
    bool drawn = false;
    for (int column = firstColumn; column <= lastColumn; ++column) {
        const int tile = row * FTileColumns + column;
        if (last < 0 || !source.ValidTile(tile, last))
            continue;
        source.RefreshLevelCascade(tile, last, true);
        const RECT image = ClipToTile(tile, false, view);
        if (IsEmpty(image) || source.Status(tile, last).Changed != 1)
            continue;
        const int result =
            DrawTileOrBlank(*this, dc, blank, tile, levelScale, sy, sx, srcTop, srcLeft, level,
                            ClipToTile(tile, true, view), image, true);
        if (result < 0)
            return -1;
        drawn = drawn || result == 1;
    }
    return drawn ? 1 : 0;
}

int TUnionBitmap::PaintViewMasked(HDC dc, int dstW, bool force, TUnionBitmap& source, bool drawAll,
                                  int srcH, int srcW, int srcTop, int srcLeft, TUnionBitmap& mask,
                                  TUnionBitmap& image, int dstH) {
    if (srcW <= 0 || srcH <= 0 || dstW <= 0 || dstH <= 0 || TileCount() == 0)
        return 0;
    if (dc == nullptr || !SameGrid(*this, mask) || !SameGrid(*this, image))
        return -1;
    const double sx = double(dstW) / srcW, sy = double(dstH) / srcH;
    const int level = LevelForScale(sy, sx);
    const double levelScale = LevelScale(level);
    FLevelRefreshed = 0;

    MaskScratch scratch(dstW, dstH, image);
    if (scratch.Dc() == nullptr)
        return -1;
    gdi::SetStretchBltMode(dc, gdi::COLORONCOLOR);

    const RECT view{srcLeft, srcTop, EndOf(srcLeft, srcW), EndOf(srcTop, srcH)};
    const int firstRow = TileRowOf(view.top), lastRow = TileRowOf(view.bottom - 1);
    const int firstColumn = TileColumnOf(view.left), lastColumn = TileColumnOf(view.right - 1);
    bool drawn = false;
    for (int row = firstRow; row <= lastRow; ++row) {
        for (int column = firstColumn; column <= lastColumn; ++column) {
            const int tile = row * FTileColumns + column;
            const std::uint8_t refreshed = RefreshForView(source, tile, level, force);
            const RECT part = ClipToTile(tile, false, view);
            if (IsEmpty(part) || (!drawAll && refreshed != 1))
                continue;
            drawn = true;
            if (image.Status(tile, 0).Blank)
                continue;
            const RECT local = ClipToTile(tile, true, view);
            if (!DrawTileMasked(dc, scratch.Dc(), mask, image, tile, levelScale, sy, sx, srcTop,
                                srcLeft, level, local, part))
                return -1;
        }
    }
    return drawn ? 1 : 0;
}

int TUnionBitmap::PaintFullView(HDC dc, int dstW, TUnionBitmap& source, bool drawAll, int dstH) {
    if (FWidth <= 0 || FHeight <= 0 || dstW <= 0 || dstH <= 0 || TileCount() == 0)
        return 0;
    if (dc == nullptr)
        return -1;
    // The overview draws from the level of the last main-view paint.
    const double sx = double(dstW) / FWidth / FDisplayScale;
    const double sy = double(dstH) / FHeight / FDisplayScale;
    const RECT whole{0, 0, FWidth, FHeight};
    FLevelRefreshed = 0;

    BlankPainter blank(dc, ViewBlankColour(*this));
    bool drawn = false;
    for (int tile = 0; tile < TileCount(); ++tile) {
        const std::uint8_t refreshed = RefreshForView(source, tile, FDisplayLevel, false);
        if (!drawAll && refreshed != 1)
            continue;
        const RECT clipped = ClipToTile(tile, false, whole);
        if (IsEmpty(clipped))
            continue;
        const RECT part{Trunc(clipped.left * FDisplayScale), Trunc(clipped.top * FDisplayScale),
                        Trunc(clipped.right * FDisplayScale),
                        Trunc(clipped.bottom * FDisplayScale)};
        const int result =
            DrawTileOrBlank(*this, dc, blank, tile, FDisplayScale, sy, sx, 0, 0, FDisplayLevel,
                            ClipToTile(tile, true, whole), part, false);
        if (result < 0)
            return -1;
        drawn = drawn || result == 1;
    }
    return drawn ? 1 : 0;
}

int TUnionBitmap::PaintFullViewRow(HDC dc, int dstW, TUnionBitmap& source, int row, int dstH) {
    if (FWidth <= 0 || FHeight <= 0 || dstW <= 0 || dstH <= 0 || row < 0 || row >= FTileRows ||
        TileCount() == 0)
        return 0;
    if (dc == nullptr)
        return -1;
    const double sx = double(dstW) / FWidth, sy = double(dstH) / FHeight;
    const int level = LevelForScale(sy, sx);
    const double levelScale = LevelScale(level);
    const int last = source.LevelCount() - 1;
    const RECT whole{0, 0, FWidth, FHeight};

    BlankPainter blank(dc, ViewBlankColour(*this));
    bool drawn = false;
    for (int column = 0; column < FTileColumns; ++column) {
        const int tile = row * FTileColumns + column;
        if (last < 0 || !source.ValidTile(tile, last))
            continue;
        source.RefreshLevelCascade(tile, last, true);
        const RECT image = ClipToTile(tile, false, whole);
        if (IsEmpty(image) || source.Status(tile, last).Changed != 1)
            continue;
        const int result = DrawTileOrBlank(*this, dc, blank, tile, levelScale, sy, sx, 0, 0, level,
                                           ClipToTile(tile, true, whole), image, true);
        if (result < 0)
            return -1;
        drawn = drawn || result == 1;
    }
    return drawn ? 1 : 0;
}

int TUnionBitmap::PaintFullViewMasked(HDC dc, int dstW, TUnionBitmap& source, bool drawAll,
                                      TUnionBitmap& mask, TUnionBitmap& image, int dstH) {
    if (FWidth <= 0 || FHeight <= 0 || dstW <= 0 || dstH <= 0 || TileCount() == 0)
        return 0;
    if (dc == nullptr || !SameGrid(*this, mask) || !SameGrid(*this, image))
        return -1;
    const double sx = double(dstW) / FWidth / FDisplayScale;
    const double sy = double(dstH) / FHeight / FDisplayScale;
    const RECT whole{0, 0, FWidth, FHeight};
    FLevelRefreshed = 0;

    MaskScratch scratch(dstW, dstH, image);
    if (scratch.Dc() == nullptr)
        return -1;
    gdi::SetStretchBltMode(dc, gdi::COLORONCOLOR);

    bool drawn = false;
    for (int tile = 0; tile < TileCount(); ++tile) {
        const std::uint8_t refreshed = RefreshForView(source, tile, FDisplayLevel, false);
        if (!drawAll && refreshed != 1)
            continue;
        const RECT clipped = ClipToTile(tile, false, whole);
        if (IsEmpty(clipped))
            continue;
        drawn = true;
        if (image.Status(tile, 0).Blank)
            continue;
        const RECT part{Trunc(clipped.left * FDisplayScale), Trunc(clipped.top * FDisplayScale),
                        Trunc(clipped.right * FDisplayScale),
                        Trunc(clipped.bottom * FDisplayScale)};
        const RECT local = ClipToTile(tile, true, whole);
        if (!DrawTileMasked(dc, scratch.Dc(), mask, image, tile, FDisplayScale, sy, sx, 0, 0,
                            FDisplayLevel, local, part))
            return -1;
    }
    return drawn ? 1 : 0;
}

}  // namespace quillor
