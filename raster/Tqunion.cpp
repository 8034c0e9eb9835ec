#include "raster/Tqunion.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <random>

#include "platform/SystemInfo.h"
#include "raster/Compress.h"

namespace quillor {

namespace gdi = platform::gdi;
namespace im = imaging;

namespace {

// One counter for every store of the process; the first stamp is 1.
std::atomic<std::int32_t> gStampCounter{0};

constexpr int kUnlimited = INT32_MAX;

std::int64_t RowBytes(std::int64_t width, int bits) {
    return (width * bits + 31) / 32 * 4;
}

bool SupportedStoreDepth(int bits) {
    return bits == 1 || bits == 8 || bits == 24;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// A name "TU%05X.tub" that is free in the process's private temporary
// folder. Nothing is created: the name is reserved by its non-existence.
std::string MakeTempFileName() {
    std::string folder = platform::PrivateTempFolder();
    if (folder.empty())
        folder = platform::TempFolder();
    if (!folder.empty() && folder.back() == '/')
        folder.pop_back();
    thread_local std::minstd_rand random{std::random_device{}()};
    std::uniform_int_distribution<int> value(0, 0x7FFF);
    std::string name;
    // Every name taken is not a state a process reaches; the bound only
    // keeps the loop finite.
    for (int attempt = 0; attempt < 4 * 0x8000; ++attempt) {
        char part[16];
        std::snprintf(part, sizeof part, "TU%05X.tub", value(random));
        name = folder + "/" + part;
        if (!FileExists(name))
            break;
    }
    return name;
}

}  // namespace

TUnionBitmap::TUnionBitmap() : FTempFileName(MakeTempFileName()) {
    FResidentLimit.fill(kUnlimited);
}

TUnionBitmap::~TUnionBitmap() {
    Release();
}

// ---- lifetime ----

bool TUnionBitmap::Create(int width, int height, const RGBQUAD* palette, int bits) {
    if (width < 0 || height < 0 || !SupportedStoreDepth(bits))
        return false;
    Release();
    FWidth = width;
    FHeight = height;
    FBitsPerPixel = static_cast<std::uint16_t>(bits);
    FStride = static_cast<int>(RowBytes(width, bits));
    FLevelCount = kLevelCount;
    FTileColumns = (width + kTileSize - 1) / kTileSize;
    FTileRows = (height + kTileSize - 1) / kTileSize;
    try {
        CreateRegionHolder(-1, -1);
        if (palette != nullptr) {
            if (!FPalette)
                FPalette = std::make_unique<std::array<RGBQUAD, 256>>();
            std::copy_n(palette, 256, FPalette->begin());
        } else {
            FPalette.reset();
        }
        LayOutTiles();
        FCreated = true;
        OpenTileFile();
        FActiveTiles = std::make_unique<TQActiveList>();
        FActiveTiles->Setup(FTileColumns, FTileRows);
        FLockedByRows.assign(std::size_t(TileCount()), 0);
        UndoStoreTables tables;
        for (int level = 0; level < kLevelCount; ++level) {
            tables.rects[std::size_t(level)] = &FTileRects[std::size_t(level)];
            tables.status[std::size_t(level)] = &FTileStatus[std::size_t(level)];
            tables.tiles[std::size_t(level)] = &FTiles[std::size_t(level)];
        }
        FUndo = std::make_unique<TUndoManager>(FLevelCount, FTileColumns, FTempFileName, tables,
                                               FTileRows);
    } catch (const std::bad_alloc&) {
        FCreated = true;
        Release();
        return false;
    }
    FUndo->SetBitsPerPixel(FBitsPerPixel);
    FUndo->SetStride(FStride);
    TUndoManager::Hooks hooks;
    hooks.EnsureTile = [this](int tile, int level) { EnsureTile(tile, level); };
    hooks.IsTileResident = [this](int tile, int level) { return IsTileResident(tile, level); };
    hooks.PrepareTileForRestore = [this](int tile, int level, const RGBQUAD* pal) {
        PrepareTileForRestore(tile, level, pal);
    };
    hooks.TileIndexAtPoint = [this](int x, int y) { return TileIndexAtPoint(x, y); };
    FUndo->SetHooks(std::move(hooks));
    return true;
}

void TUnionBitmap::LayOutTiles() {
    const std::size_t count = std::size_t(FTileColumns) * std::size_t(FTileRows);
    std::int64_t offset = kHeaderSize;
    for (int level = 0; level < kLevelCount; ++level) {
        const auto l = std::size_t(level);
        FTiles[l].clear();
        FTiles[l].resize(count);
        FTileRects[l].assign(count, RECT{});
        FTileStatus[l].assign(count, TileStatus{});
        FResident[l].clear();
        const int edge = kTileSize >> level;
        const int levelWidth = FWidth >> level;
        const int levelHeight = FHeight >> level;
        for (int i = 0; i < FTileRows; ++i) {
            int h = i == FTileRows - 1 ? levelHeight - edge * (FTileRows - 1) : edge;
            if (h <= 0)
                h = 1;
            for (int j = 0; j < FTileColumns; ++j) {
                int w = j == FTileColumns - 1 ? levelWidth - edge * (FTileColumns - 1) : edge;
                if (w <= 0)
                    w = 1;
                const std::size_t k = std::size_t(i) * std::size_t(FTileColumns) + std::size_t(j);
                FTileRects[l][k] = RECT{j * edge, i * edge, j * edge + w, i * edge + h};
                TileStatus& status = FTileStatus[l][k];
                status.ByteSize = static_cast<std::int32_t>(h * RowBytes(w, FBitsPerPixel));
                status.FileOffset = offset;
                offset += status.ByteSize;
            }
        }
    }
    FFileSize = offset;
}

bool TUnionBitmap::OpenTileFile() {
    if (FFile.IsOpen())
        return true;
    // The name was reserved at construction; another store of this process
    // may have taken it since, so a taken name is replaced by a new one.
    for (int attempt = 0; attempt < 16; ++attempt) {
        int error = 0;
        platform::File file = platform::File::CreateExclusive(FTempFileName, 0600, &error);
        if (file.IsOpen()) {
            FFile = std::move(file);
            break;
        }
        if (error != EEXIST)
            return false;
        FTempFileName = MakeTempFileName();
    }
    if (!FFile.IsOpen())
        return false;
    std::uint8_t header[18] = {'T', 'U', 'H', 0};
    PutLe32(header + 4, kHeaderSize);
    PutLe32(header + 8, std::uint32_t(FWidth));
    PutLe32(header + 12, std::uint32_t(FHeight));
    header[16] = std::uint8_t(FBitsPerPixel);
    header[17] = std::uint8_t(FBitsPerPixel >> 8);
    // The full length is set at once, sparse: slots are never moved or grown.
    if (!FFile.SetSize(FFileSize) || !FFile.WriteAt(0, header, sizeof header)) {
        FFile.Close();
        ::unlink(FTempFileName.c_str());
        return false;
    }
    FFile.Seek(0);
    return true;
}

void TUnionBitmap::Release() {
    if (!FCreated)
        return;
    // No row access outlives the tiles.
    FRowLockCount = 0;
    std::vector<std::uint8_t>().swap(FRowBuffer);
    FUndo.reset();
    FActiveTiles.reset();
    FLockedByRows.clear();
    for (int level = 0; level < kLevelCount; ++level) {
        const auto l = std::size_t(level);
        std::vector<std::unique_ptr<TQuillorBitmap>>().swap(FTiles[l]);
        std::vector<RECT>().swap(FTileRects[l]);
        std::vector<TileStatus>().swap(FTileStatus[l]);
        std::vector<TbmPoint>().swap(FResident[l]);
    }
    FRegionHolder.reset();
    FPalette.reset();
    if (FFile.IsOpen()) {
        FFile.Close();
        ::unlink(FTempFileName.c_str());
    }
    FTileColumns = 0;
    FTileRows = 0;
    FFileSize = 0;
    FProbePending = 1;
    FLegacyPlatform = 0;
    FCreated = false;
}

void TUnionBitmap::CreateRegionHolder(int width, int height) {
    if (!FRegionHolder)
        FRegionHolder = std::make_unique<TQuillorBitmap>();
    if (width < 0)
        width = FWidth;
    if (height < 0)
        height = FHeight;
    // Zeroed pages that are mapped only when touched: a full-size holder of
    // a large store costs nothing until a region is drawn into it.
    if (!FRegionHolder->Create(width, height, nullptr, 1))
        FRegionHolder->Free();
}

void TUnionBitmap::SetResidentBudget(std::uint64_t bytesPerLevel) {
    FResidentBudget = bytesPerLevel;
    if (!FProbePending)
        ComputeResidentLimits();
}

void TUnionBitmap::ComputeResidentLimits() {
    static constexpr double kScale[kLevelCount] = {1, 0.5, 0.25, 0.125};
    static constexpr double kShare[kLevelCount] = {0.5, 0.42, 0.37, 0.33};
    for (int level = 0; level < kLevelCount; ++level) {
        const auto l = std::size_t(level);
        if (FLegacyPlatform) {
            const double unit = std::max(1024.0, std::trunc(FStride * 480.0 * kScale[l]));
            const double budget = std::trunc(double(platform::TotalPhysicalMemory()) * 0.66);
            FResidentLimit[l] =
                std::int32_t(std::min<double>(kUnlimited, std::trunc(budget * kShare[l] / unit)));
        } else if (FResidentBudget > 0 && TileCount() > 0) {
            const std::uint64_t slot =
                std::max<std::uint64_t>(1, std::uint64_t(FTileStatus[l][0].ByteSize));
            FResidentLimit[l] = std::int32_t(
                std::clamp<std::uint64_t>(FResidentBudget / slot, 1, std::uint64_t(kUnlimited)));
        } else {
            FResidentLimit[l] = kUnlimited;
        }
    }
}

// ---- the bitmap interface ----

void TUnionBitmap::SetTransformFlag(std::uint8_t flag) {
    FTransformFlag = flag;
    for (auto& tile : FTiles[0])
        if (tile)
            tile->SetTransformFlag(flag);
}

void TUnionBitmap::SetBitsPerPixel(int bits) {
    // The stride, the slots and the reduced levels of a created store were
    // laid out for its depth; they would not fit another.
    if (FCreated || !SupportedStoreDepth(bits))
        return;
    FBitsPerPixel = static_cast<std::uint16_t>(bits);
}

void TUnionBitmap::GetPalette(int first, int count, RGBQUAD* out) {
    if (out == nullptr || first < 0 || count <= 0)
        return;
    if (FPalette) {
        const int n = std::min(count, 256 - first);
        if (n > 0)
            std::copy_n(FPalette->begin() + first, n, out);
        return;
    }
    if (TileCount() == 0)
        return;
    const int tile = FResident[0].empty() ? 0 : FResident[0].front().Index;
    if (IsTileResident(tile, 0))
        Tile(tile, 0)->GetPalette(first, count, out);
}

void TUnionBitmap::SetPalette(int first, int count, const RGBQUAD* in) {
    if (!FCreated || in == nullptr || first < 0 || count <= 0 || first >= 256)
        return;
    count = std::min(count, 256 - first);
    for (int level = 0; level < kLevelCount; ++level)
        for (const TbmPoint& p : FResident[std::size_t(level)])
            if (IsTileResident(p.Index, level))
                Tile(p.Index, level)->SetPalette(first, count, in);
    if (!FPalette)
        FPalette = std::make_unique<std::array<RGBQUAD, 256>>();
    std::copy_n(in, count, FPalette->begin() + first);
}

im::BitmapHandle* TUnionBitmap::GetHandle() {
    if (TileCount() == 0)
        return nullptr;
    int tile = FResident[0].empty() ? 0 : FResident[0].front().Index;
    EnsureTile(tile, 0);
    return Tile(tile, 0)->GetHandle();
}

// ---- geometry ----

bool TUnionBitmap::ValidTile(int tile, int level) const {
    return FCreated && level >= 0 && level < kLevelCount && tile >= 0 && tile < TileCount();
}

TQuillorBitmap* TUnionBitmap::Tile(int tile, int level) {
    if (!ValidTile(tile, level))
        return nullptr;
    auto& slot = FTiles[std::size_t(level)][std::size_t(tile)];
    // Tile objects are made on first use: a large grid costs no objects for
    // tiles nobody touches.
    if (!slot) {
        slot = std::make_unique<TQuillorBitmap>();
        slot->SetUserFlag(FUserFlag);
        if (level == 0 && FTransformFlag != 0)
            slot->SetTransformFlag(FTransformFlag);
    }
    return slot.get();
}

int TUnionBitmap::TileColumnOf(int x) const {
    if (FTileColumns == 0 || x <= 0)
        return 0;
    if (x < FWidth)
        return x / kTileSize;
    return FTileColumns - 1;
}

int TUnionBitmap::TileRowOf(int y) const {
    if (FTileRows == 0 || y <= 0)
        return 0;
    if (y < FHeight)
        return y / kTileSize;
    return FTileRows - 1;
}

int TUnionBitmap::TileIndexAt(int x, int y) const {
    return TileRowOf(y) * FTileColumns + TileColumnOf(x);
}

int TUnionBitmap::TileIndexAtPoint(int x, int y) const {
    if (TileCount() == 0)
        return 0;
    int column = FTileColumns - 1;
    for (int j = 0; j < FTileColumns; ++j) {
        const RECT& r = FTileRects[0][std::size_t(j)];
        if (x >= r.left && x < r.right) {
            column = j;
            break;
        }
    }
    int row = FTileRows - 1;
    for (int i = 0; i < FTileRows; ++i) {
        const RECT& r = FTileRects[0][std::size_t(i) * std::size_t(FTileColumns)];
        if (y >= r.top && y < r.bottom) {
            row = i;
            break;
        }
    }
    return row * FTileColumns + column;
}

RECT TUnionBitmap::ClipToTile(int tile, bool toTileCoordinates, const RECT& rect) const {
    if (!ValidTile(tile, 0))
        return RECT{};
    const RECT& t = FTileRects[0][std::size_t(tile)];
    RECT r{std::max(rect.left, t.left), std::max(rect.top, t.top), std::min(rect.right, t.right),
           std::min(rect.bottom, t.bottom)};
    if (r.right <= r.left || r.bottom <= r.top)
        return RECT{};
    if (toTileCoordinates) {
        r.left -= t.left;
        r.right -= t.left;
        r.top -= t.top;
        r.bottom -= t.top;
    }
    return r;
}

int TUnionBitmap::TileWidth() const {
    if (TileCount() == 0)
        return 0;
    const RECT& r = FTileRects[0][0];
    return r.right - r.left;
}

int TUnionBitmap::TileHeight() const {
    if (TileCount() == 0)
        return 0;
    const RECT& r = FTileRects[0][0];
    return r.bottom - r.top;
}

void TUnionBitmap::SetBlankColor(std::uint32_t colour) {
    if (colour == FBlankColor)
        return;
    FBlankColor = colour;
    // Resident blank tiles show the new colour too, as tiles that come back
    // from the file do.
    for (int level = 0; level < kLevelCount; ++level)
        for (const TbmPoint& p : FResident[std::size_t(level)])
            if (Status(p.Index, level).Blank == 1 && IsTileResident(p.Index, level))
                FillBlank(*Tile(p.Index, level));
}

void TUnionBitmap::SetUserFlag(std::uint8_t flag) {
    FUserFlag = flag;
    for (auto& level : FTiles)
        for (auto& tile : level)
            if (tile)
                tile->SetUserFlag(flag);
}

// ---- residency ----

bool TUnionBitmap::IsTileResident(int tile, int level) const {
    if (!ValidTile(tile, level))
        return false;
    const auto& slot = FTiles[std::size_t(level)][std::size_t(tile)];
    return slot && slot->BitsPerPixel() != 0;
}

void TUnionBitmap::EnsureTile(int tile, int level) {
    if (!ValidTile(tile, level) || IsTileResident(tile, level))
        return;
    LoadTile(tile, FBlankColor, Palette(), level);
}

void TUnionBitmap::FillBlank(TQuillorBitmap& tile) {
    tile.FillRect(FBlankColor, 0, 0, tile.Width(), tile.Height());
}

bool TUnionBitmap::LoadTile(int tile, std::uint32_t colour, const RGBQUAD* palette, int level) {
    if (!ValidTile(tile, level))
        return false;
    TQuillorBitmap* bitmap = Tile(tile, level);
    const bool wasResident = bitmap->BitsPerPixel() != 0;
    if (!wasResident)
        AdmitTile(tile, level);
    const RECT& r = TileRect(tile, level);
    if (!bitmap->Create(r.right - r.left, r.bottom - r.top, FBitsPerPixel == 8 ? palette : nullptr,
                        FBitsPerPixel)) {
        RemoveResident(tile, level);
        return false;
    }
    const TileStatus& status = Status(tile, level);
    if (status.Blank == 1) {
        bitmap->FillRect(FBitsPerPixel == 24 ? colour : FBlankColor, 0, 0, bitmap->Width(),
                         bitmap->Height());
        return true;
    }
    if (FFile.IsOpen() && FFile.Seek(status.FileOffset) == status.FileOffset &&
        bitmap->ReadPixels(FFile, kCompressRaw))
        return true;
    // Whatever the slot held is lost; the blank colour is better than
    // whatever the allocation held.
    FillBlank(*bitmap);
    return false;
}

void TUnionBitmap::AdmitTile(int tile, int level) {
    if (!ValidTile(tile, level))
        return;
    TbmPoint point;
    point.Column = tile % FTileColumns;
    point.Row = tile / FTileColumns;
    point.Index = tile;
    point.Stamp = ++gStampCounter;
    if (FProbePending) {
        FPlatformId = std::int32_t(platform::PlatformId());
        FLegacyPlatform = FPlatformId < 2 ? 1 : 0;
        ComputeResidentLimits();
        FProbePending = 0;
    }
    auto& list = FResident[std::size_t(level)];
    // (The legacy free-resources probe of old systems does not exist here:
    // this platform always answers as the NT family.)
    while (!list.empty() && std::int64_t(list.size()) >= FResidentLimit[std::size_t(level)])
        if (!EvictOne(level))
            break;
    list.push_back(point);
}

bool TUnionBitmap::EvictOne(int level) {
    if (level < 0 || level >= kLevelCount)
        return false;
    auto& list = FResident[std::size_t(level)];
    if (list.empty())
        return false;
    for (std::size_t i = 0; i + 1 < list.size(); ++i)
        if (list[i].Stamp < list[i + 1].Stamp)
            std::swap(list[i], list[i + 1]);
    std::size_t candidate = list.size();
    for (std::size_t i = list.size(); i-- > 0;) {
        const int index = list[i].Index;
        const auto& slot = FTiles[std::size_t(level)][std::size_t(index)];
        if (!slot || !slot->InUse()) {
            candidate = i;
            break;
        }
    }
    if (candidate == list.size())
        return false;
    const int index = list[candidate].Index;
    list.erase(list.begin() + std::ptrdiff_t(candidate));
    PageOutTile(index, level);
    return true;
}

void TUnionBitmap::RemoveResident(int tile, int level) {
    auto& list = FResident[std::size_t(level)];
    list.erase(std::remove_if(list.begin(), list.end(),
                              [tile](const TbmPoint& p) { return p.Index == tile; }),
               list.end());
}

bool TUnionBitmap::PageOutTile(int tile, int level) {
    if (!IsTileResident(tile, level))
        return true;
    TQuillorBitmap* bitmap = Tile(tile, level);
    // A tile whose context is out or whose data is locked stays.
    if (bitmap->InUse())
        return false;
    const TileStatus& status = Status(tile, level);
    if (status.Blank != 1) {
        if (!FFile.IsOpen() || FFile.Seek(status.FileOffset) != status.FileOffset ||
            !bitmap->WritePixels(FFile, kCompressRaw))
            return false;
    }
    bitmap->Free();
    RemoveResident(tile, level);
    return true;
}

void TUnionBitmap::PageOutLevel(int level) {
    if (level < 0 || level >= kLevelCount)
        return;
    auto& list = FResident[std::size_t(level)];
    std::vector<TbmPoint> kept;
    while (!list.empty()) {
        const TbmPoint point = list.back();
        list.pop_back();
        const auto& slot = FTiles[std::size_t(level)][std::size_t(point.Index)];
        if (slot && slot->InUse()) {
            kept.push_back(point);
            continue;
        }
        PageOutTile(point.Index, level);
    }
    list.assign(kept.rbegin(), kept.rend());
}

void TUnionBitmap::PageOutAll() {
    for (int level = 0; level < kLevelCount; ++level)
        PageOutLevel(level);
}

bool TUnionBitmap::PrepareTileForRestore(int tile, int level, const RGBQUAD* palette) {
    if (!ValidTile(tile, level))
        return false;
    TQuillorBitmap* bitmap = Tile(tile, level);
    if (bitmap->BitsPerPixel() == 0)
        AdmitTile(tile, level);
    const RECT& r = TileRect(tile, level);
    const bool ok = bitmap->Create(r.right - r.left, r.bottom - r.top, palette, FBitsPerPixel);
    if (!ok)
        RemoveResident(tile, level);
    return ok;
}

// ---- device contexts ----

int TUnionBitmap::ResolveTile(int tile, int level) const {
    if (tile != -1 || level < 0 || level >= kLevelCount)
        return tile;
    const auto& list = FResident[std::size_t(level)];
    return list.empty() ? 0 : list.front().Index;
}

HDC TUnionBitmap::GetTileDC(int tile, int level) {
    tile = ResolveTile(tile, level);
    if (!ValidTile(tile, level))
        return nullptr;
    EnsureTile(tile, level);
    if (level > 0) {
        std::uint8_t refreshed = 0;
        RefreshLevel(tile, level, true, refreshed);
        BringLevelUpToDate(tile, level);
    }
    return Tile(tile, level)->GetBitmapDC();
}

HDC TUnionBitmap::GetTileDCDirect(int tile, int level) {
    tile = ResolveTile(tile, level);
    if (!ValidTile(tile, level))
        return nullptr;
    EnsureTile(tile, level);
    if (level > 0) {
        RefreshLevelCascade(tile, level, false);
        BringLevelUpToDate(tile, level);
    }
    return Tile(tile, level)->RawDC();
}

void TUnionBitmap::ReleaseTileDC(HDC dc, int tile, int level) {
    tile = ResolveTile(tile, level);
    if (dc == nullptr || !ValidTile(tile, level))
        return;
    Tile(tile, level)->ReleaseBitmapDC(dc);
}

void TUnionBitmap::ReleaseTileDCDirect(HDC dc) {
    if (dc != nullptr)
        im::DeleteBitmapDC(dc);
}

// ---- reduced levels ----

void TUnionBitmap::MarkTileChanged(int tile) {
    if (ValidTile(tile, 0))
        NoteLevelZeroChange(tile, 0);
}

void TUnionBitmap::MarkTileBlank(int tile) {
    if (!ValidTile(tile, 0))
        return;
    if (IsTileResident(tile, 0))
        FillBlank(*Tile(tile, 0));
    if (Status(tile, 0).Blank != 1)
        NoteLevelZeroChange(tile, 1);
}

void TUnionBitmap::NoteLevelZeroChange(int tile, std::uint8_t blank) {
    TileStatus& base = Status(tile, 0);
    base.Blank = blank;
    base.Changed = 1;
    for (int level = 0; level < kLevelCount; ++level) {
        TileStatus& status = Status(tile, level);
        status.Synced = 0;
        if (level > 0)
            status.Stale = 1;
    }
}

bool TUnionBitmap::ScaleTile(int tile, int fromLevel, int toLevel) {
    EnsureTile(tile, fromLevel);
    EnsureTile(tile, toLevel);
    TQuillorBitmap* from = Tile(tile, fromLevel);
    TQuillorBitmap* to = Tile(tile, toLevel);
    if (from->BitsPerPixel() == 0 || to->BitsPerPixel() == 0)
        return false;
    // Contexts that do not count as handed out: a tile whose context is out
    // can still be read from and drawn into.
    HDC src = from->RawDC();
    HDC dst = to->RawDC();
    bool ok = src != nullptr && dst != nullptr;
    if (ok) {
        gdi::SetStretchBltMode(dst, gdi::COLORONCOLOR);
        ok = gdi::StretchBlt(dst, 0, 0, to->Width(), to->Height(), src, 0, 0, from->Width(),
                             from->Height(), gdi::SRCCOPY);
    }
    im::DeleteBitmapDC(dst);
    im::DeleteBitmapDC(src);
    return ok;
}

bool TUnionBitmap::BringLevelUpToDate(int tile, int level) {
    if (!ValidTile(tile, 0))
        return false;
    level = std::min(level, kLevelCount - 1);
    for (int l = 1; l <= level; ++l) {
        TileStatus& status = Status(tile, l);
        if (status.Stale != 1)
            continue;
        if (Status(tile, l - 1).Blank == 1) {
            status.Blank = 1;
            if (IsTileResident(tile, l))
                FillBlank(*Tile(tile, l));
        } else {
            if (!ScaleTile(tile, l - 1, l))
                return false;
            status.Blank = 0;
        }
        status.Stale = 0;
        // The next level down has not been derived from this one yet.
        status.Changed = 1;
        if (l > 1)
            Status(tile, l - 1).Changed = 0;
    }
    return true;
}

void TUnionBitmap::RefreshLevel(int tile, int level, bool force, std::uint8_t& refreshed) {
    if (!ValidTile(tile, level))
        return;
    TileStatus& base = Status(tile, 0);
    if (base.Changed != 1 && !force) {
        refreshed = 0;
        return;
    }
    TileStatus& status = Status(tile, level);
    if (status.Changed == 0 && status.Synced == 1 && status.Stale == 0)
        return;
    if (level > 0)
        BringLevelUpToDate(tile, level);
    base.Changed = 0;
    refreshed = 1;
    if (force)
        status.Synced = 1;
}

void TUnionBitmap::RefreshLevelCascade(int tile, int level, bool /*rawContexts*/) {
    if (level <= 0 || !ValidTile(tile, level))
        return;
    RefreshLevelCascade(tile, level - 1);
    TileStatus& above = Status(tile, level - 1);
    TileStatus& status = Status(tile, level);
    if (above.Changed != 1 && status.Stale != 1)
        return;
    BringLevelUpToDate(tile, level);
    status.Changed = 1;
    above.Changed = 0;
}

void TUnionBitmap::MarkAllChanged() {
    for (int tile = 0; tile < TileCount(); ++tile) {
        Status(tile, 0).Changed = 1;
        for (int level = 0; level < kLevelCount; ++level)
            Status(tile, level).Synced = 0;
    }
}

void TUnionBitmap::ClearDisplayChanged(int x, int y, int width, int height) {
    if (TileCount() == 0)
        return;
    const int c0 = TileColumnOf(x);
    const int r0 = TileRowOf(y);
    const int c1 = TileColumnOf(x + width);
    const int r1 = TileRowOf(y + height);
    for (int r = r0; r <= r1; ++r)
        for (int c = c0; c <= c1; ++c)
            Status(r * FTileColumns + c, FLevelCount - 1).Changed = 0;
}

// ---- row access ----

bool TUnionBitmap::BeginRowAccess() {
    ++FRowLockCount;
    if (!FRowBuffer.empty())
        return true;
    if (!FCreated || FStride <= 0) {
        EndRowAccess();
        return false;
    }
    try {
        FRowBuffer.assign(std::size_t(FStride), 0);
    } catch (const std::bad_alloc&) {
        EndRowAccess();
        return false;
    }
    return true;
}

void TUnionBitmap::EndRowAccess() {
    --FRowLockCount;
    if (FRowLockCount > 0)
        return;
    FRowLockCount = 0;
    ReleaseActiveTiles(0);
    std::vector<std::uint8_t>().swap(FRowBuffer);
}

void TUnionBitmap::ReleaseActiveTiles(int keep) {
    if (!FActiveTiles)
        return;
    for (int tile; (tile = FActiveTiles->ReleaseOldest(keep)) >= 0;) {
        auto& slot = FTiles[0][std::size_t(tile)];
        if (slot && slot->BitsPerPixel() != 0 && slot->GetHandle() != nullptr)
            im::UnlockBitmap(slot->GetHandle());
        if (FLockedByRows[std::size_t(tile)]) {
            if (slot)
                slot->SetInUse(false);
            FLockedByRows[std::size_t(tile)] = 0;
        }
    }
}

void TUnionBitmap::ActivateTile(int tile) {
    ReleaseActiveTiles(-1);
    if (FActiveTiles->IsActive(tile) && IsTileResident(tile, 0)) {
        FActiveTiles->Activate(tile);
        return;
    }
    EnsureTile(tile, 0);
    TQuillorBitmap* bitmap = Tile(tile, 0);
    if (bitmap->GetHandle() == nullptr)
        return;
    im::LockBitmap(bitmap->GetHandle());
    FActiveTiles->Activate(tile);
    // A tile whose context is out is used as it is; only a tile this row
    // access marked is unmarked when it leaves the list.
    if (!bitmap->InUse()) {
        bitmap->SetInUse(true);
        FLockedByRows[std::size_t(tile)] = 1;
    }
}

std::uint8_t* TUnionBitmap::ActiveTileRow(int tile, int y, std::size_t& at, std::size_t& bytes) {
    ActivateTile(tile);
    im::BitmapHandle* handle = Tile(tile, 0)->GetHandle();
    if (handle == nullptr)
        return nullptr;
    const RECT& r = TileRect(tile, 0);
    at = std::size_t(r.left) * std::size_t(FBitsPerPixel) / 8;
    bytes = std::min<std::size_t>(std::size_t(handle->bytesPerLine), FRowBuffer.size() - at);
    return handle->pixels->Row(y - r.top);
}

void TUnionBitmap::ReadTileRows(int y, int firstTile, int lastTile) {
    for (int tile = firstTile; tile <= lastTile; ++tile) {
        std::size_t at = 0, bytes = 0;
        if (const std::uint8_t* row = ActiveTileRow(tile, y, at, bytes))
            std::memcpy(FRowBuffer.data() + at, row, bytes);
    }
}

void TUnionBitmap::WriteTileRows(int y, int firstTile, int lastTile) {
    for (int tile = firstTile; tile <= lastTile; ++tile) {
        std::size_t at = 0, bytes = 0;
        std::uint8_t* row = ActiveTileRow(tile, y, at, bytes);
        if (row == nullptr)
            continue;
        if (Status(tile, 0).Saved == 0 && FUndo)
            FUndo->SaveTile(tile);
        std::memcpy(row, FRowBuffer.data() + at, bytes);
        MarkTileChanged(tile);
    }
}

std::uint8_t* TUnionBitmap::ReadRow(int y) {
    if (FRowBuffer.empty())
        return nullptr;
    if (y < 0 || y >= FHeight || TileCount() == 0)
        return FRowBuffer.data();
    const int first = TileIndexAt(0, y);
    ReadTileRows(y, first, first + FTileColumns - 1);
    return FRowBuffer.data();
}

std::uint8_t* TUnionBitmap::ReadRowSpan(int y, int x, int count) {
    if (FRowBuffer.empty())
        return nullptr;
    if (y < 0 || y >= FHeight || count < 1 || TileCount() == 0)
        return FRowBuffer.data();
    ReadTileRows(y, TileIndexAt(x, y), TileIndexAt(x + count - 1, y));
    return FRowBuffer.data();
}

void TUnionBitmap::WriteRow(int y) {
    if (FRowBuffer.empty() || y < 0 || y >= FHeight || TileCount() == 0)
        return;
    const int first = TileIndexAt(0, y);
    WriteTileRows(y, first, first + FTileColumns - 1);
}

void TUnionBitmap::WriteRowSpan(int y, int x, int count) {
    if (FRowBuffer.empty() || y < 0 || y >= FHeight || count < 1 || TileCount() == 0)
        return;
    WriteTileRows(y, TileIndexAt(x, y), TileIndexAt(x + count - 1, y));
}

}  // namespace quillor
