#pragma once
// The union store: one logical bitmap of 1, 8 or 24 bits per pixel of any
// size, held as a grid of 480 x 480 tiles (level 0) with three reduced copies
// of every tile (levels 1 to 3 at 1/2, 1/4 and 1/8 scale) for the zoomed
// views. Tiles get pixels only when touched; a tile that holds nothing but the
// blank colour stores nothing; resident tiles can be paged out to the store's
// temporary tile file and come back on the next access.
//
// Level L has the tile edge tL = 480 >> L and the size trunc(width / 2^L) x
// trunc(height / 2^L); tile (row i, column j) has index i * columns + j at
// every level and covers (j * tL, i * tL) to (j * tL + w, i * tL + h), w = tL
// except in the last column, where it is what is left of the level width
// (0 made 1); rows likewise.
//
// Temporary tile file (little-endian): "TUH\0", int32 100 (first slot),
// int32 width, int32 height, uint16 bits per pixel, then from byte 100 one
// slot per tile, level 0 first, each the tile's rows top to bottom padded to
// 4 bytes. Its full length is set (sparse) when it is created. The file lives
// in the process's private temporary folder, is created exclusively and is
// deleted by Release.
//
// Reduced levels always hold the cascade of reductions of level 0 (level 1
// from level 0, level 2 from level 1, level 3 from level 2, dropping rows and
// columns): a level that is stale since the last change of level 0 is
// regenerated, level by level from the one above, before its pixels are
// handed out, drawn or written. The Changed and Synced flags tell the views
// which tiles to draw.
//
// The source files: Tqunion.cpp (the store), TqunionOps.cpp (fills, copies,
// masks, stretches), TqunionBitmaps.cpp (exchange with contexts and single
// bitmaps, resizes, file loading), TqunionView.cpp (zoomed views),
// TqunionStream.cpp (the tile stream).

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/Gdi.h"
#include "raster/Statusprogress.h"
#include "raster/Tqactivelist.h"
#include "raster/Tqmemory.h"
#include "raster/Tqunionundo.h"

namespace quillor {

using platform::gdi::DWORD;
using platform::gdi::RECT;

// One resident tile: its column, row, index and admission stamp. Stamps come
// from one process-wide counter; the first stamp is 1.
struct TbmPoint {
    std::int32_t Column = 0;
    std::int32_t Row = 0;
    std::int32_t Index = 0;
    std::int32_t Stamp = 0;
};

class TUnionBitmap : public VantrelBitmap {
  public:
    static constexpr int kTileSize = 480;
    static constexpr int kLevelCount = 4;
    static constexpr std::uint32_t kInitialBlankColor = 0x00FFFFFF;
    static constexpr int kHeaderSize = 100;

    TUnionBitmap();
    ~TUnionBitmap() override;

    // ---- the bitmap interface ----
    // Stores the flag and passes it to every level-0 tile.
    void SetTransformFlag(std::uint8_t flag) override;
    // Only before Create: a created store keeps its depth (its stride, slots
    // and levels were laid out for it).
    void SetBitsPerPixel(int bits) override;
    // Lays out the grid (every tile blank, none resident), creates the tile
    // file, the active-tile list and the undo store. bits is 1, 8 or 24; a
    // width or height of 0 gives an empty grid. False only for a negative
    // size, another depth or when memory for the tables runs out (the store
    // is then released).
    bool Create(int width, int height, const RGBQUAD* palette, int bits) override;
    void GetPalette(int first, int count, RGBQUAD* out) override;
    void SetPalette(int first, int count, const RGBQUAD* in) override;
    // Loads an image file into the store: 1, or 0 on failure.
    int LoadFromFile(const std::string& path) override;
    HDC GetBitmapDC() override { return GetTileDC(-1, 0); }
    void ReleaseBitmapDC(HDC dc) override { ReleaseTileDC(dc, -1, 0); }
    imaging::BitmapHandle* GetHandle() override;

    // ---- lifetime ----
    // Frees everything Create built and deletes the tile file; size, depth
    // and file name stay, and the store can be created again.
    void Release();
    // (Re)creates the region holder as a 1-bit bitmap of width x height
    // (negative: the store's size) without palette; its region is dropped.
    void CreateRegionHolder(int width, int height);
    TQuillorBitmap* RegionHolder() { return FRegionHolder.get(); }
    bool IsCreated() const { return FCreated; }

    // A host's cap on the tile memory of each level, in bytes (0: no cap).
    // The resident limit of a level becomes the number of its tile-0 slots
    // that fit, at least 1.
    void SetResidentBudget(std::uint64_t bytesPerLevel);

    // ---- geometry ----
    int TileColumnOf(int x) const;
    int TileRowOf(int y) const;
    int TileIndexAt(int x, int y) const;
    int TileIndexAtPoint(int x, int y) const;
    // rect intersected with level-0 tile `tile`, moved to tile coordinates
    // when asked.
    RECT ClipToTile(int tile, bool toTileCoordinates, const RECT& rect) const;
    int TileWidth() const;
    int TileHeight() const;
    int GetStride() const { return FStride; }
    void SetBlankColor(std::uint32_t colour);
    // Sets the flag on the store and on every tile of every level.
    void SetUserFlag(std::uint8_t flag);

    int TileColumns() const { return FTileColumns; }
    int TileRows() const { return FTileRows; }
    int TileCount() const { return FTileColumns * FTileRows; }
    int LevelCount() const { return FLevelCount; }
    int TileSize() const { return FTileSize; }
    std::uint32_t BlankColor() const { return FBlankColor; }
    std::uint8_t UserFlag() const { return FUserFlag; }
    int Resolution() const { return FResolution; }
    void SetResolution(int dpi) { FResolution = dpi; }
    std::uint32_t Tag() const { return FTag; }
    void SetTag(std::uint32_t tag) { FTag = tag; }
    const std::string& TempFileName() const { return FTempFileName; }
    // The palette copy (256 entries), or null.
    const RGBQUAD* Palette() const { return FPalette ? FPalette->data() : nullptr; }
    int DisplayLevel() const { return FDisplayLevel; }
    double DisplayScale() const { return FDisplayScale; }
    std::uint8_t LevelRefreshed() const { return FLevelRefreshed; }
    int RowLockCount() const { return FRowLockCount; }
    TUndoManager* Undo() { return FUndo.get(); }
    TQActiveList* ActiveTiles() { return FActiveTiles.get(); }
    int ResidentLimit(int level) const { return FResidentLimit[std::size_t(level)]; }
    const std::vector<TbmPoint>& ResidentTiles(int level) const {
        return FResident[std::size_t(level)];
    }

    // The tile's rectangle at a level (level pixels), its status and its
    // object (made on first use; null outside the grid).
    const RECT& TileRect(int tile, int level) const {
        return FTileRects[std::size_t(level)][std::size_t(tile)];
    }
    TileStatus& Status(int tile, int level) {
        return FTileStatus[std::size_t(level)][std::size_t(tile)];
    }
    const TileStatus& Status(int tile, int level) const {
        return FTileStatus[std::size_t(level)][std::size_t(tile)];
    }
    TQuillorBitmap* Tile(int tile, int level);
    bool ValidTile(int tile, int level) const;

    // ---- residency ----
    void EnsureTile(int tile, int level);
    // Gives the tile pixels: the blank colour for a blank tile, else its slot.
    // A slot that cannot be read leaves the blank colour and returns false.
    bool LoadTile(int tile, std::uint32_t colour, const RGBQUAD* palette, int level);
    void AdmitTile(int tile, int level);
    bool EvictOne(int level);
    bool PageOutTile(int tile, int level);
    // Pages out every resident tile of the level that is not in use (device
    // context out, data locked for row access); those stay resident.
    void PageOutLevel(int level);
    void PageOutAll();
    bool IsTileResident(int tile, int level) const;
    // Gives the tile fresh pixels of its size for an undo restore.
    bool PrepareTileForRestore(int tile, int level, const RGBQUAD* palette);

    // ---- device contexts ----
    // Null when the tile is in use. Level > 0: the level is brought up to date.
    HDC GetTileDC(int tile, int level);
    // A context that does not mark the tile in use; release it with
    // ReleaseTileDCDirect.
    HDC GetTileDCDirect(int tile, int level);
    void ReleaseTileDC(HDC dc, int tile, int level);
    void ReleaseTileDCDirect(HDC dc);

    // ---- reduced levels ----
    void RefreshLevel(int tile, int level, bool force, std::uint8_t& refreshed);
    // rawContexts names the form used by the row paints; both forms draw
    // through contexts that do not mark the tiles in use, so the results and
    // the flags are the same.
    void RefreshLevelCascade(int tile, int level, bool rawContexts = false);
    void MarkAllChanged();
    void ClearDisplayChanged(int x, int y, int width, int height);
    // Level-0 pixels of the tile changed: not blank, Changed, not Synced, the
    // reduced levels stale.
    void MarkTileChanged(int tile);
    // The tile holds only the blank colour: level-0 Blank, resident pixels
    // filled with the blank colour, the reduced levels stale.
    void MarkTileBlank(int tile);
    // Regenerates the stale levels 1..level of the tile, each from the one
    // above it. False when a tile could not be made resident or drawn.
    bool BringLevelUpToDate(int tile, int level);

    // ---- row access ----
    bool BeginRowAccess();
    void EndRowAccess();
    // Row y (or the tiles holding x .. x + count - 1 of it) in the row buffer,
    // pixel x at byte x * bits / 8. Null outside row access; a row outside
    // the store leaves the buffer as it is.
    std::uint8_t* ReadRow(int y);
    std::uint8_t* ReadRowSpan(int y, int x, int count);
    void WriteRow(int y);
    void WriteRowSpan(int y, int x, int count);
    std::uint8_t* RowBuffer() { return FRowBuffer.empty() ? nullptr : FRowBuffer.data(); }

    // ---- operations (TqunionOps.cpp, TqunionBitmaps.cpp) ----
    void FillRect(std::uint32_t colour, int left, int top, int right, int bottom);
    bool Assign(TUnionBitmap& source);
    bool CopyTilesFrom(TUnionBitmap& source, DWORD rop);
    bool AndWith(TUnionBitmap& source);
    // this = (this AND mask) OR (source AND NOT mask); no mask: the source.
    bool MergeMasked(TUnionBitmap& source, TUnionBitmap* mask);
    bool CopyRect(int dx, int dy, Statusprogress* progress, DWORD rop, int sy, int sx,
                  TUnionBitmap& source, int h, int w);
    bool CopyAligned(int dx, int dy, Statusprogress* progress, DWORD rop, TUnionBitmap& source,
                     int h, int w);
    bool StretchFrom(int dx, int dy, DWORD rop, int sh, int sw, int sy, int sx,
                     TUnionBitmap& source, int h, int w);
    bool BlitDC(HDC dc, int x, bool intoStore, DWORD rop, int y2, int x2, int h, int w, int y);
    bool CopyFromQuillor(TQuillorBitmap& bitmap, DWORD rop);
    bool DrawQuillor(int dx, int dy, DWORD rop, int sy, int sx, TQuillorBitmap& bitmap, int h,
                     int w);
    bool CopyQuillorRows(int dx, int dy, DWORD rop, int sy, int sx, TQuillorBitmap& bitmap, int h,
                         int w);
    bool DrawToQuillor(TQuillorBitmap& bitmap, int x, DWORD rop, int y2, int x2, int h, int w,
                       int y);
    bool ResizeCanvas(int width, int height, std::uint32_t colour);
    bool ResizeFrom(TUnionBitmap& source, int width, std::uint32_t colour, int height);
    bool Stretch(int width, int height, bool smooth);
    // 0 done, a larger chunk count to try again, negative to give up.
    int LoadFileInChunks(const std::string& path, int chunks);

    // ---- zoomed views (TqunionView.cpp) ----
    int LevelForScale(double sy, double sx) const;
    static double LevelScale(int level);
    // cascading: the form of the row paints (GetTileDCDirect).
    bool StretchTileToDC(HDC dc, int tile, DWORD rop, double levelScale, double sy, double sx,
                         int srcTop, int srcLeft, int dstY, int dstX, int level, const RECT& local,
                         const RECT& image, bool cascading = false);
    bool StretchToDC(HDC dc, int dstX, DWORD rop, int srcH, int srcW, int srcTop, int srcLeft,
                     int dstH, int dstW, int dstY);
    int PaintView(HDC dc, int dstW, bool force, TUnionBitmap& source, bool drawAll, int srcH,
                  int srcW, int srcTop, int srcLeft, int dstH);
    int PaintViewRow(HDC dc, int dstW, TUnionBitmap& source, int row, int srcH, int srcW,
                     int srcTop, int srcLeft, int dstH);
    int PaintViewMasked(HDC dc, int dstW, bool force, TUnionBitmap& source, bool drawAll, int srcH,
                        int srcW, int srcTop, int srcLeft, TUnionBitmap& mask, TUnionBitmap& image,
                        int dstH);
    int PaintFullView(HDC dc, int dstW, TUnionBitmap& source, bool drawAll, int dstH);
    int PaintFullViewRow(HDC dc, int dstW, TUnionBitmap& source, int row, int dstH);
    int PaintFullViewMasked(HDC dc, int dstW, TUnionBitmap& source, bool drawAll,
                            TUnionBitmap& mask, TUnionBitmap& image, int dstH);

    // ---- tile stream (TqunionStream.cpp) ----
    bool WriteTiles(platform::File& file, int mode, Statusprogress* progress, bool flat);
    bool ReadTiles(platform::File& file, int mode, Statusprogress* progress);
    bool WriteRect(platform::File& file, int mode, bool flat, int left, int top, int right,
                   int bottom);

  private:
    // Row-access helpers.
    void ActivateTile(int tile);
    void ReleaseActiveTiles(int keep);
    // Activates the tile and gives its row y, with the row's place and
    // length in the row buffer; null when the tile has no pixels.
    std::uint8_t* ActiveTileRow(int tile, int y, std::size_t& at, std::size_t& bytes);
    void ReadTileRows(int y, int firstTile, int lastTile);
    void WriteTileRows(int y, int firstTile, int lastTile);
    int ResolveTile(int tile, int level) const;
    void LayOutTiles();
    bool OpenTileFile();
    void ComputeResidentLimits();
    void RemoveResident(int tile, int level);
    void FillBlank(TQuillorBitmap& tile);
    // Level 0 of the tile now holds other pixels or only the blank colour
    // (blank 1): the views redraw it, the reduced levels are stale.
    void NoteLevelZeroChange(int tile, std::uint8_t blank);
    bool ScaleTile(int tile, int fromLevel, int toLevel);
    std::uint8_t RefreshForView(TUnionBitmap& source, int tile, int level, bool force);

    platform::File FFile;
    std::array<std::vector<std::unique_ptr<TQuillorBitmap>>, kLevelCount> FTiles;
    std::array<std::vector<RECT>, kLevelCount> FTileRects;
    std::unique_ptr<TQuillorBitmap> FRegionHolder;
    int FStride = 0;
    int FTileColumns = 0;
    int FTileRows = 0;
    int FLevelCount = 0;
    int FTileSize = kTileSize;
    std::uint8_t FUserFlag = 0;
    std::uint32_t FBlankColor = kInitialBlankColor;
    int FResolution = 0;
    std::string FTempFileName;
    std::array<std::vector<TbmPoint>, kLevelCount> FResident;
    std::array<std::int32_t, kLevelCount> FResidentLimit{};
    std::unique_ptr<std::array<RGBQUAD, 256>> FPalette;
    std::uint8_t FProbePending = 1;
    std::uint8_t FLegacyPlatform = 0;
    std::int32_t FPlatformId = 0;
    int FRowLockCount = 0;
    std::unique_ptr<TQActiveList> FActiveTiles;
    int FDisplayLevel = 0;
    double FDisplayScale = 1.0;
    std::uint8_t FLevelRefreshed = 0;
    std::vector<std::uint8_t> FRowBuffer;
    std::uint32_t FTag = 0;
    std::unique_ptr<TUndoManager> FUndo;
    std::array<std::vector<TileStatus>, kLevelCount> FTileStatus;

    bool FCreated = false;
    std::uint64_t FResidentBudget = 0;
    std::int64_t FFileSize = 0;
    // Level-0 tiles that row access marked in use (and unmarks again).
    std::vector<std::uint8_t> FLockedByRows;
};

}  // namespace quillor
