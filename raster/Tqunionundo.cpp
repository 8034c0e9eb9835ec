#include "raster/Tqunionundo.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "raster/Compress.h"

namespace quillor {

namespace {

std::string FileNameOnly(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

TUndoManager::TUndoManager(int levels, int columns, const std::string& baseName,
                           const UndoStoreTables& tables, int rows)
    : FBaseName(baseName),
      FLevelCount(std::clamp(levels, 0, kUndoLevels)),
      FTileColumns(std::max(columns, 0)),
      FTileRows(std::max(rows, 0)),
      FTables(tables) {
    const std::size_t count = std::size_t(FTileColumns) * std::size_t(FTileRows);
    // One slot per tile; the bitmap itself is made when a restore asks for it.
    FRestoreBitmaps.resize(count);

    // Only a folder of this process can hold the files, and a name that is
    // taken is never opened over.
    const std::string& folder = platform::PrivateTempFolder();
    const std::string name = FileNameOnly(FBaseName);
    if (folder.empty() || name.empty())
        return;
    for (int level = 0; level < FLevelCount; ++level) {
        const std::string path = folder + "/" + name + std::to_string(level) + "_0.undo";
        platform::File file = platform::File::CreateExclusive(path);
        if (!file.IsOpen())
            continue;
        FFiles[std::size_t(level)] = std::move(file);
        FFileNames[std::size_t(level)] = path;
    }
}

TUndoManager::~TUndoManager() {
    FSteps.clear();
    for (int level = 0; level < kUndoLevels; ++level) {
        FFiles[std::size_t(level)].Close();
        const std::string& path = FFileNames[std::size_t(level)];
        if (!path.empty())
            ::unlink(path.c_str());
    }
    FRestoreBitmaps.clear();
}

UndoStep& TUndoManager::OpenStep() {
    UndoStep step;
    if (!FSteps.empty())
        step.NextOffset = FSteps.back().NextOffset;
    FSteps.push_back(std::move(step));
    return FSteps.back();
}

TQuillorBitmap* TUndoManager::RestoreBitmap(int tile) {
    if (tile < 0 || std::size_t(tile) >= FRestoreBitmaps.size())
        return nullptr;
    auto& bitmap = FRestoreBitmaps[std::size_t(tile)];
    if (!bitmap)
        bitmap = std::make_unique<TQuillorBitmap>();
    return bitmap.get();
}

void TUndoManager::SaveTile(int tile) {
    if (FSteps.empty() || FLevelCount < 1 || tile < 0)
        return;
    std::vector<TileStatus>* status0 = FTables.status[0];
    std::vector<std::unique_ptr<TQuillorBitmap>>* tiles0 = FTables.tiles[0];
    if (status0 == nullptr || tiles0 == nullptr || std::size_t(tile) >= status0->size() ||
        std::size_t(tile) >= tiles0->size() || (*tiles0)[std::size_t(tile)] == nullptr)
        return;
    TileStatus& saved = (*status0)[std::size_t(tile)];
    if (saved.Saved == 1)
        return;

    UndoStep& step = FSteps.back();
    UndoSavedTile record;
    record.TileIndex = tile;
    for (int level = 0; level < FLevelCount; ++level) {
        record.Offset[std::size_t(level)] = step.NextOffset[std::size_t(level)];
        const std::vector<TileStatus>* status = FTables.status[std::size_t(level)];
        if (status != nullptr && std::size_t(tile) < status->size())
            step.NextOffset[std::size_t(level)] +=
                std::max((*status)[std::size_t(tile)].ByteSize, 0);
    }

    if (FHooks.EnsureTile)
        FHooks.EnsureTile(tile, 0);
    TQuillorBitmap& pixels = *(*tiles0)[std::size_t(tile)];
    // The depth of the resident tile: a tile that could not be made resident
    // has the store's.
    record.BitsPerPixel = pixels.BitsPerPixel() != 0 ? pixels.BitsPerPixel() : FBitsPerPixel;
    platform::File& file = FFiles[0];
    if (file.IsOpen() && file.Seek(record.Offset[0]) == record.Offset[0])
        pixels.WritePixels(file, kCompressRaw);

    step.Tiles.push_back(record);
    saved.Saved = 1;
}

}  // namespace quillor
