#pragma once
// The undo store of one union store: before a level-0 tile is changed for the
// first time within an undo step, its pixels are copied raw into the level-0
// undo file and the step records where the tile went. Slots are reserved for
// the tile in each level's undo file; only the level-0 copy is written.
//
// Undo files: for level L the store's temporary tile file name (its file name
// only) followed by the level digit, "_0.undo", in the process's private
// temporary folder, created exclusively. No header; tile copies lie back to
// back at the offsets the saved-tile records give, each the tile's rows top to
// bottom padded to 4 bytes.
//
// The saving side is all there is: opening and closing steps, undoing and
// redoing them and clearing the Saved flags at a step boundary belong to the
// restoring side, which builds on OpenStep, Steps, the hooks and the restore
// bitmaps.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/Gdi.h"
#include "raster/Tqmemory.h"

namespace quillor {

constexpr int kUndoLevels = 4;

// One tile's state at one level of a union store.
struct TileStatus {
    std::int64_t FileOffset = 0;  // the tile's slot in the temporary tile file
    std::int32_t ByteSize = 0;    // bytes of the tile's pixels, rows padded to 4
    std::uint8_t Blank = 1;       // only the blank colour, nothing stored
    std::uint8_t Changed = 0;     // changed since the next level was derived
    std::uint8_t Saved = 0;       // level 0: copied to the undo store in this step
    std::uint8_t Synced = 0;      // reduced tile regenerated after the last change
    // Reduced levels: level 0 changed (pixels or blank flag) since this level
    // was last derived from the level above it. Such a level is brought up to
    // date before its pixels are drawn or written.
    std::uint8_t Stale = 0;
};

// The store's tables, one per level (shared with the store, not owned).
struct UndoStoreTables {
    std::array<std::vector<platform::gdi::RECT>*, kUndoLevels> rects{};
    std::array<std::vector<TileStatus>*, kUndoLevels> status{};
    std::array<std::vector<std::unique_ptr<TQuillorBitmap>>*, kUndoLevels> tiles{};
};

// Where one tile's copy lies in each level's undo file.
struct UndoSavedTile {
    std::array<std::int64_t, kUndoLevels> Offset{};
    std::int32_t TileIndex = 0;
    std::int32_t BitsPerPixel = 0;  // of the level-0 tile
};

struct UndoStep {
    std::array<std::int64_t, kUndoLevels> NextOffset{};  // next free byte per undo file
    std::vector<UndoSavedTile> Tiles;
};

class TUndoManager {
  public:
    struct Hooks {
        std::function<void(int tile, int level)> EnsureTile;
        std::function<bool(int tile, int level)> IsTileResident;
        std::function<void(int tile, int level, const RGBQUAD* palette)> PrepareTileForRestore;
        std::function<int(int x, int y)> TileIndexAtPoint;
    };

    TUndoManager(int levels, int columns, const std::string& baseName,
                 const UndoStoreTables& tables, int rows);
    ~TUndoManager();
    TUndoManager(const TUndoManager&) = delete;
    TUndoManager& operator=(const TUndoManager&) = delete;

    void SetBitsPerPixel(int bits) { FBitsPerPixel = bits; }
    void SetStride(int stride) { FStride = stride; }
    void SetHooks(Hooks hooks) { FHooks = std::move(hooks); }

    // Copies level-0 tile `tile` into the open step unless it was saved in it
    // already; nothing when no step is open. A failed write is not reported.
    void SaveTile(int tile);

    // The seam for the restoring side: opens a step whose slots follow those
    // of the step before it. The Saved flags are left as they are.
    UndoStep& OpenStep();
    const std::vector<UndoStep>& Steps() const { return FSteps; }

    // The undo file of a level (empty when it could not be created).
    const std::string& FileName(int level) const { return FFileNames[std::size_t(level)]; }
    platform::File& File(int level) { return FFiles[std::size_t(level)]; }
    TQuillorBitmap* RestoreBitmap(int tile);
    const Hooks& GetHooks() const { return FHooks; }
    int BitsPerPixel() const { return FBitsPerPixel; }
    int Stride() const { return FStride; }

  private:
    std::array<platform::File, kUndoLevels> FFiles;
    std::array<std::string, kUndoLevels> FFileNames;
    std::vector<UndoStep> FSteps;
    std::string FBaseName;
    int FLevelCount;
    int FTileColumns;
    int FTileRows;
    UndoStoreTables FTables;
    std::vector<std::unique_ptr<TQuillorBitmap>> FRestoreBitmaps;
    int FBitsPerPixel = 0;
    int FStride = 0;
    Hooks FHooks;
};

}  // namespace quillor
