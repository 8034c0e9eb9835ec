#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "raster/Tqunionundo.h"
#include "tests/common/TestSupport.h"

using quillor::TileStatus;
using quillor::TQuillorBitmap;
using quillor::TUndoManager;
using quillor::UndoStoreTables;

namespace {

// A store's tables for a grid of tiles at four levels. Level-0 tile k, once
// made resident by the EnsureTile hook, is 8-bit, edge / 2^level pixels
// square, every pixel k + 1 + row.
class FakeStore {
  public:
    FakeStore(int columns, int rows, int edge) : columns_(columns), rows_(rows), edge_(edge) {
        for (int level = 0; level < quillor::kUndoLevels; ++level) {
            const int e = std::max(edge >> level, 1);
            for (int i = 0; i < columns * rows; ++i) {
                tiles_[level].push_back(std::make_unique<TQuillorBitmap>());
                TileStatus s;
                s.ByteSize = ((e + 3) / 4) * 4 * e;
                status_[level].push_back(s);
                rects_[level].push_back({0, 0, e, e});
            }
            tables_.tiles[level] = &tiles_[level];
            tables_.status[level] = &status_[level];
            tables_.rects[level] = &rects_[level];
        }
    }

    std::unique_ptr<TUndoManager> MakeUndo(const std::string& baseName) {
        auto undo = std::make_unique<TUndoManager>(4, columns_, baseName, tables_, rows_);
        undo->SetBitsPerPixel(8);
        TUndoManager::Hooks hooks;
        hooks.EnsureTile = [this](int tile, int level) {
            ++ensured;
            TQuillorBitmap& t = *tiles_[level][std::size_t(tile)];
            if (t.BitsPerPixel() != 0)
                return;
            const int e = std::max(edge_ >> level, 1);
            t.Create(e, e, nullptr, 8);
            std::vector<std::uint8_t> rows(std::size_t(t.BytesPerLine() * e));
            for (int y = 0; y < e; ++y)
                for (int x = 0; x < t.BytesPerLine(); ++x)
                    rows[std::size_t(y * t.BytesPerLine() + x)] = std::uint8_t(tile + 1 + y);
            t.PutRows(rows.data(), t.BytesPerLine(), false);
        };
        undo->SetHooks(std::move(hooks));
        return undo;
    }

    // The raw pixels of level-0 tile k as the undo file holds them.
    std::string RawTile(int tile) {
        TQuillorBitmap& t = *tiles_[0][std::size_t(tile)];
        std::string rows(std::size_t(t.BytesPerLine() * t.Height()), '\0');
        t.GetRows(rows.data(), t.BytesPerLine(), false);
        return rows;
    }

    TileStatus& Status(int level, int tile) { return status_[level][std::size_t(tile)]; }

    int ensured = 0;

  private:
    int columns_, rows_, edge_;
    std::vector<std::unique_ptr<TQuillorBitmap>> tiles_[quillor::kUndoLevels];
    std::vector<TileStatus> status_[quillor::kUndoLevels];
    std::vector<platform::gdi::RECT> rects_[quillor::kUndoLevels];
    UndoStoreTables tables_;
};

// A tile file name of the kind a store reserves, unique within the process.
std::string TileFileName() {
    static std::atomic<int> counter{0};
    char name[32];
    std::snprintf(name, sizeof name, "TU%05X.tub", 0x80000 + counter++);
    return platform::PrivateTempFolder() + "/" + name;
}

std::int64_t FileSize(const std::string& path) {
    platform::File f = platform::File::Open(path, O_RDONLY);
    return f.IsOpen() ? f.Size() : -1;
}

TEST(UndoTest, FilesAreMadeBesideTheTileFileAndRemovedWithTheManager) {
    FakeStore store(2, 2, 8);
    const std::string base = TileFileName();
    std::vector<std::string> names;
    {
        auto undo = store.MakeUndo(base);
        for (int level = 0; level < 4; ++level) {
            const std::string expected = base + std::to_string(level) + "_0.undo";
            EXPECT_EQ(undo->FileName(level), expected);
            EXPECT_TRUE(undo->File(level).IsOpen()) << level;
            EXPECT_EQ(FileSize(expected), 0) << level;
            names.push_back(expected);
        }
        undo->OpenStep();
        undo->SaveTile(1);
        EXPECT_GT(FileSize(names[0]), 0);
    }
    for (const std::string& name : names)
        EXPECT_FALSE(platform::FileExists(name)) << name;
}

TEST(UndoTest, FilesStayInThePrivateFolderWhateverTheBaseName) {
    testsupport::TempDir elsewhere;
    FakeStore store(1, 1, 4);
    auto undo = store.MakeUndo(elsewhere.File("TU12345.tub"));
    const std::string expected = platform::PrivateTempFolder() + "/TU12345.tub0_0.undo";
    EXPECT_EQ(undo->FileName(0), expected);
    EXPECT_TRUE(platform::FileExists(expected));
    EXPECT_FALSE(platform::FileExists(elsewhere.File("TU12345.tub0_0.undo")));
}

TEST(UndoTest, AFileSomeoneElseMadeIsNeitherUsedNorDeleted) {
    FakeStore store(1, 2, 4);
    const std::string base = TileFileName();
    const std::string taken = base + "0_0.undo";
    testsupport::WriteFile(taken, "not ours");
    {
        auto undo = store.MakeUndo(base);
        EXPECT_FALSE(undo->File(0).IsOpen());
        EXPECT_TRUE(undo->FileName(0).empty());
        EXPECT_TRUE(undo->File(1).IsOpen());
        undo->OpenStep();
        undo->SaveTile(0);  // fails silently, yet the step records the tile
        EXPECT_EQ(undo->Steps().back().Tiles.size(), 1u);
        EXPECT_EQ(store.Status(0, 0).Saved, 1);
    }
    EXPECT_EQ(testsupport::ReadFile(taken), "not ours");
    ::unlink(taken.c_str());
}

TEST(UndoTest, WithNoStepOpenNothingIsSaved) {
    FakeStore store(2, 1, 8);
    auto undo = store.MakeUndo(TileFileName());
    undo->SaveTile(0);
    undo->SaveTile(1);
    for (int level = 0; level < 4; ++level)
        EXPECT_EQ(undo->File(level).Size(), 0) << level;
    EXPECT_EQ(store.Status(0, 0).Saved, 0);
    EXPECT_EQ(store.ensured, 0);
    EXPECT_TRUE(undo->Steps().empty());
}

TEST(UndoTest, TilesAreSavedOncePerStepIntoTheirSlots) {
    FakeStore store(3, 1, 8);  // level-0 tiles of 8 x 8 bytes, 64 bytes
    auto undo = store.MakeUndo(TileFileName());
    undo->OpenStep();
    undo->SaveTile(2);
    undo->SaveTile(2);  // saved already in this step
    undo->SaveTile(0);
    undo->SaveTile(7);  // outside the grid

    const auto& tiles = undo->Steps().back().Tiles;
    ASSERT_EQ(tiles.size(), 2u);
    EXPECT_EQ(tiles[0].TileIndex, 2);
    EXPECT_EQ(tiles[1].TileIndex, 0);
    EXPECT_EQ(tiles[0].BitsPerPixel, 8);
    // Level L tiles have edge 8 >> L: slots of 64, 16, 8 and 4 bytes.
    const std::int64_t sizes[] = {64, 16, 8, 4};
    for (int level = 0; level < 4; ++level) {
        EXPECT_EQ(tiles[0].Offset[level], 0) << level;
        EXPECT_EQ(tiles[1].Offset[level], sizes[level]) << level;
        EXPECT_EQ(undo->Steps().back().NextOffset[level], 2 * sizes[level]) << level;
    }
    EXPECT_EQ(store.Status(0, 2).Saved, 1);
    EXPECT_EQ(store.Status(0, 1).Saved, 0);
    EXPECT_EQ(store.ensured, 2);

    // Only the level-0 copies are written, raw and back to back.
    EXPECT_EQ(testsupport::ReadFile(undo->FileName(0)), store.RawTile(2) + store.RawTile(0));
    for (int level = 1; level < 4; ++level)
        EXPECT_EQ(undo->File(level).Size(), 0) << level;

    // A copy reads back into a restore bitmap.
    TQuillorBitmap* restore = undo->RestoreBitmap(0);
    ASSERT_NE(restore, nullptr);
    ASSERT_TRUE(restore->Create(8, 8, nullptr, 8));
    platform::File& file = undo->File(0);
    file.Seek(tiles[1].Offset[0]);
    ASSERT_TRUE(restore->ReadPixels(file, 0));
    std::string rows(64, '\0');
    restore->GetRows(rows.data(), 8, false);
    EXPECT_EQ(rows, store.RawTile(0));
    EXPECT_EQ(undo->RestoreBitmap(3), nullptr);
}

TEST(UndoTest, ANewStepTakesSlotsAfterThePreviousOnes) {
    FakeStore store(2, 1, 4);  // 16-byte level-0 slots
    auto undo = store.MakeUndo(TileFileName());
    undo->OpenStep();
    undo->SaveTile(0);
    undo->SaveTile(1);
    undo->OpenStep();
    undo->SaveTile(1);  // Saved flags belong to the restoring side: still 1
    EXPECT_TRUE(undo->Steps().back().Tiles.empty());
    store.Status(0, 1).Saved = 0;
    undo->SaveTile(1);
    ASSERT_EQ(undo->Steps().size(), 2u);
    ASSERT_EQ(undo->Steps().back().Tiles.size(), 1u);
    EXPECT_EQ(undo->Steps().back().Tiles[0].Offset[0], 32);
    EXPECT_EQ(undo->File(0).Size(), 48);
}

TEST(UndoTest, ATileThatCannotBeMadeResidentIsRecordedButNotWritten) {
    FakeStore store(2, 1, 4);
    auto undo = store.MakeUndo(TileFileName());
    undo->SetHooks({});  // no EnsureTile: the tile stays without pixels
    undo->SetBitsPerPixel(24);
    undo->OpenStep();
    undo->SaveTile(1);
    ASSERT_EQ(undo->Steps().back().Tiles.size(), 1u);
    EXPECT_EQ(undo->Steps().back().Tiles[0].BitsPerPixel, 24);  // the store's depth
    EXPECT_EQ(undo->Steps().back().NextOffset[0], 16);
    EXPECT_EQ(undo->File(0).Size(), 0);
    EXPECT_EQ(store.Status(0, 1).Saved, 1);
}

}  // namespace
