#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "raster/Tqunion.h"

namespace quillor {
namespace {

namespace gdi = platform::gdi;

std::array<RGBQUAD, 256> TestPalette() {
    std::array<RGBQUAD, 256> p{};
    for (int i = 0; i < 256; ++i)
        p[std::size_t(i)] = RGBQUAD{std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i * 7), 0};
    return p;
}

std::int64_t FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? std::int64_t(st.st_size) : -1;
}

// The whole store, row by row, as the row buffer shows it (row padding cut).
std::vector<std::uint8_t> ReadAll(TUnionBitmap& store) {
    const std::size_t rowBytes = (std::size_t(store.Width()) * store.BitsPerPixel() + 7) / 8;
    std::vector<std::uint8_t> out(rowBytes * std::size_t(store.Height()));
    EXPECT_TRUE(store.BeginRowAccess());
    for (int y = 0; y < store.Height(); ++y)
        std::memcpy(out.data() + rowBytes * std::size_t(y), store.ReadRow(y), rowBytes);
    store.EndRowAccess();
    return out;
}

void WriteAll(TUnionBitmap& store, const std::vector<std::uint8_t>& pixels) {
    const std::size_t rowBytes = (std::size_t(store.Width()) * store.BitsPerPixel() + 7) / 8;
    ASSERT_TRUE(store.BeginRowAccess());
    for (int y = 0; y < store.Height(); ++y) {
        std::uint8_t* row = store.ReadRow(y);
        std::memcpy(row, pixels.data() + rowBytes * std::size_t(y), rowBytes);
        store.WriteRow(y);
    }
    store.EndRowAccess();
}

// Sets bytes [x0, x1) of rows [y0, y1) of an 8-bit store to value.
void Paint8(TUnionBitmap& store, std::uint8_t value, int x0, int y0, int x1, int y1) {
    ASSERT_TRUE(store.BeginRowAccess());
    for (int y = y0; y < y1; ++y) {
        std::memset(store.ReadRow(y) + x0, value, std::size_t(x1 - x0));
        store.WriteRow(y);
    }
    store.EndRowAccess();
}

std::vector<std::uint8_t> RandomPixels(const TUnionBitmap& store, unsigned seed) {
    const std::size_t rowBytes = (std::size_t(store.Width()) * store.BitsPerPixel() + 7) / 8;
    std::vector<std::uint8_t> out(rowBytes * std::size_t(store.Height()));
    std::mt19937 random(seed);
    for (auto& b : out)
        b = std::uint8_t(random());
    // Bits beyond the last pixel of a 1-bit row are padding.
    const int spare = int(rowBytes * 8) - store.Width() * store.BitsPerPixel();
    if (spare > 0)
        for (int y = 0; y < store.Height(); ++y)
            out[rowBytes * std::size_t(y + 1) - 1] &= std::uint8_t(0xFF << spare);
    return out;
}

// Pixel (x, y) of a tile's bitmap as a raw value.
std::uint32_t TilePixel(TUnionBitmap& store, int tile, int level, int x, int y) {
    imaging::BitmapHandle* h = store.Tile(tile, level)->GetHandle();
    return h == nullptr ? 0xDEADBEEF : h->pixels->GetValue(x, y);
}

TEST(UnionStoreGeometry, GridLevelsAndStrides) {
    struct Case {
        int width, height, bits;
        int columns, rows, stride;
        std::array<int, 4> lastTileWidth;  // level 0..3, last column
    };
    const Case cases[] = {
        {481, 1, 8, 2, 1, 484, {1, 1, 1, 1}},  // 481>>3 = 60: the last tile comes out 0, made 1
        {480, 480, 8, 1, 1, 480, {480, 240, 120, 60}},
        {1000, 700, 8, 3, 2, 1000, {40, 20, 10, 5}},
        {1001, 3, 1, 3, 1, 128, {41, 20, 10, 5}},
        {10, 10, 24, 1, 1, 32, {10, 5, 2, 1}},
        {1060, 1001, 24, 3, 3, 3180, {100, 50, 25, 12}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        TUnionBitmap store;
        ASSERT_TRUE(store.Create(c.width, c.height, nullptr, c.bits));
        EXPECT_EQ(store.TileColumns(), c.columns);
        EXPECT_EQ(store.TileRows(), c.rows);
        EXPECT_EQ(store.GetStride(), c.stride);
        EXPECT_EQ(store.LevelCount(), 4);
        for (int level = 0; level < 4; ++level) {
            const RECT& r = store.TileRect(c.columns - 1, level);
            EXPECT_EQ(r.right - r.left, c.lastTileWidth[std::size_t(level)]) << "level " << level;
            EXPECT_EQ(r.left, (c.columns - 1) * (480 >> level));
            const int rowBytes = ((r.right - r.left) * c.bits + 31) / 32 * 4;
            EXPECT_EQ(store.Status(c.columns - 1, level).ByteSize, (r.bottom - r.top) * rowBytes);
            EXPECT_EQ(store.Status(0, level).Blank, 1);
            EXPECT_FALSE(store.IsTileResident(0, level));
        }
    }
}

TEST(UnionStoreGeometry, TileLookups) {
    TUnionBitmap store;
    ASSERT_TRUE(store.Create(1060, 1001, nullptr, 8));
    EXPECT_EQ(store.TileIndexAt(-5, -5), 0);
    EXPECT_EQ(store.TileIndexAt(479, 0), 0);
    EXPECT_EQ(store.TileIndexAt(480, 0), 1);
    EXPECT_EQ(store.TileIndexAt(5000, 5000), 8);
    EXPECT_EQ(store.TileIndexAt(960, 480), 5);
    EXPECT_EQ(store.TileIndexAtPoint(961, 481), 5);
    EXPECT_EQ(store.TileIndexAtPoint(99999, 99999), 8);
    const RECT clipped = store.ClipToTile(4, true, RECT{400, 400, 600, 1000});
    EXPECT_EQ(clipped.left, 0);
    EXPECT_EQ(clipped.top, 0);
    EXPECT_EQ(clipped.right, 120);
    EXPECT_EQ(clipped.bottom, 480);
    const RECT image = store.ClipToTile(4, false, RECT{400, 400, 600, 1000});
    EXPECT_EQ(image.left, 480);
    EXPECT_EQ(image.bottom, 960);
    EXPECT_EQ(store.TileWidth(), 480);
}

TEST(UnionStoreFile, HeaderLengthAndLifetime) {
    TUnionBitmap store;
    const std::string name = store.TempFileName();
    EXPECT_EQ(name.rfind(platform::PrivateTempFolder() + "/TU", 0), 0u) << name;
    EXPECT_EQ(name.substr(name.size() - 4), ".tub");
    EXPECT_EQ(FileSize(name), -1) << "only reserved before Create";

    ASSERT_TRUE(store.Create(960, 480, nullptr, 8));
    const std::int64_t expected = 100 + 2 * 480 * 480 + 2 * 240 * 240 + 2 * 120 * 120 + 2 * 60 * 60;
    EXPECT_EQ(FileSize(name), expected);
    EXPECT_EQ(store.Status(0, 0).FileOffset, 100);
    EXPECT_EQ(store.Status(1, 0).FileOffset, 100 + 480 * 480);
    EXPECT_EQ(store.Status(0, 1).FileOffset, 100 + 2 * 480 * 480);

    platform::File file = platform::File::Open(name, O_RDONLY);
    ASSERT_TRUE(file.IsOpen());
    std::uint8_t header[18] = {};
    ASSERT_TRUE(file.Read(header, sizeof header));
    const std::uint8_t want[18] = {'T', 'U', 'H', 0,    100, 0, 0, 0, 0xC0,
                                   3,   0,   0,   0xE0, 1,   0, 0, 8, 0};
    EXPECT_EQ(std::memcmp(header, want, sizeof header), 0);
    file.Close();

    // A second Create discards everything and makes the file anew under the
    // same name.
    Paint8(store, 0xAA, 0, 0, 10, 10);
    ASSERT_TRUE(store.Create(480, 480, nullptr, 8));
    EXPECT_EQ(store.TempFileName(), name);
    EXPECT_EQ(FileSize(name), 100 + 480 * 480 + 240 * 240 + 120 * 120 + 60 * 60);
    EXPECT_EQ(store.Status(0, 0).Blank, 1);

    store.Release();
    EXPECT_EQ(FileSize(name), -1);
    EXPECT_EQ(store.TempFileName(), name);
    EXPECT_EQ(store.Width(), 480);
}

TEST(UnionStoreFile, FileOfAnotherOwnerIsNeverTakenOrDeleted) {
    TUnionBitmap store;
    const std::string reserved = store.TempFileName();
    // Someone else makes a file of that name before the store is created.
    ASSERT_TRUE(platform::File::CreateExclusive(reserved).IsOpen());
    ASSERT_TRUE(store.Create(500, 20, nullptr, 8));
    EXPECT_NE(store.TempFileName(), reserved);
    EXPECT_EQ(FileSize(reserved), 0) << "the other file is untouched";
    EXPECT_GT(FileSize(store.TempFileName()), 100);
    store.Release();
    EXPECT_EQ(FileSize(reserved), 0);
    ::unlink(reserved.c_str());
}

TEST(UnionStoreFile, ProcessesCreatingAtOnceNeverShareAFile) {
    constexpr int kChildren = 8;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    for (int i = 0; i < kChildren; ++i) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(fds[0]);
            TUnionBitmap store;
            store.Create(600, 600, nullptr, 8);
            struct stat st {};
            ::stat(store.TempFileName().c_str(), &st);
            char line[64];
            const int n =
                std::snprintf(line, sizeof line, "%llu:%llu\n", (unsigned long long)st.st_dev,
                              (unsigned long long)st.st_ino);
            if (::write(fds[1], line, std::size_t(n)) != n)
                ::_exit(2);
            // Hold the file while the others make theirs.
            ::usleep(200 * 1000);
            ::_exit(0);
        }
    }
    ::close(fds[1]);
    std::string all;
    char buffer[256];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        all.append(buffer, std::size_t(n));
    ::close(fds[0]);
    for (int i = 0; i < kChildren; ++i) {
        int status = 0;
        ::wait(&status);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::set<std::string> files;
    std::size_t start = 0;
    for (std::size_t end; (end = all.find('\n', start)) != std::string::npos; start = end + 1)
        files.insert(all.substr(start, end - start));
    EXPECT_EQ(files.size(), std::size_t(kChildren)) << all;
}

TEST(UnionStoreRows, NeverWrittenTilesReadAsTheBlankColour) {
    const auto palette = TestPalette();
    struct Case {
        int bits;
        std::uint32_t blank;
        std::vector<std::uint8_t> pixel;  // bytes of one pixel (1-bit: the first byte)
    };
    const Case cases[] = {
        {8, 0x010000AB, {0xAB}},
        {24, 0x00112233, {0x11, 0x22, 0x33}},  // 0x00BBGGRR, stored blue first
        {1, 0x00FFFFFF, {0xFF}},
        {1, 0x00000000, {0x00}},
    };
    for (const Case& c : cases) {
        TUnionBitmap store;
        store.SetBlankColor(c.blank);
        ASSERT_TRUE(store.Create(1000, 3, c.bits == 8 ? palette.data() : nullptr, c.bits));
        ASSERT_TRUE(store.BeginRowAccess());
        const std::uint8_t* row = store.ReadRow(2);
        ASSERT_NE(row, nullptr);
        for (int x : {0, 479, 480, 999}) {
            const std::size_t at = std::size_t(x) * std::size_t(c.bits) / 8;
            for (std::size_t k = 0; k < c.pixel.size(); ++k)
                EXPECT_EQ(row[at + k], c.pixel[k]) << "bits " << c.bits << " x " << x;
        }
        store.EndRowAccess();
    }
}

TEST(UnionStoreRows, RoundTripWithPagingAtEveryDepth) {
    for (int bits : {1, 8, 24}) {
        SCOPED_TRACE(bits);
        TUnionBitmap store;
        // 3 x 6 tiles: more than row access keeps locked (4 x 3 + 4), so a
        // walk down the store pages tiles out behind it.
        ASSERT_TRUE(store.Create(1060, 2501, nullptr, bits));
        store.SetResidentBudget(std::uint64_t(store.Status(0, 0).ByteSize) * 2);
        const auto pixels = RandomPixels(store, unsigned(bits));
        WriteAll(store, pixels);
        EXPECT_LT(store.ResidentTiles(0).size(), std::size_t(store.TileCount()));
        EXPECT_FALSE(store.IsTileResident(0, 0));
        EXPECT_EQ(ReadAll(store), pixels);
        store.PageOutAll();
        for (int tile = 0; tile < store.TileCount(); ++tile)
            EXPECT_FALSE(store.IsTileResident(tile, 0));
        EXPECT_EQ(ReadAll(store), pixels);
    }
}

TEST(UnionStoreRows, SpansAndRowsOutsideTheStore) {
    TUnionBitmap store;
    ASSERT_TRUE(store.Create(1060, 10, nullptr, 8));
    EXPECT_EQ(store.ReadRow(0), nullptr) << "outside row access";
    ASSERT_TRUE(store.BeginRowAccess());
    std::uint8_t* row = store.ReadRow(3);
    std::memset(row, 0x5A, 1060);
    for (int y : {-1, 10, 1 << 30})
        EXPECT_EQ(store.ReadRow(y)[500], 0x5A) << "y " << y << " reads nothing";
    store.WriteRow(-1);
    store.WriteRow(10);
    for (int tile = 0; tile < store.TileCount(); ++tile)
        EXPECT_EQ(store.Status(tile, 0).Blank, 1);
    // A span touches only the tiles it covers.
    store.WriteRowSpan(3, 470, 20);
    EXPECT_EQ(store.Status(0, 0).Blank, 0);
    EXPECT_EQ(store.Status(1, 0).Blank, 0);
    EXPECT_EQ(store.Status(2, 0).Blank, 1);
    store.WriteRowSpan(3, 1000, 0);
    EXPECT_EQ(store.Status(2, 0).Blank, 1);
    store.EndRowAccess();
}

TEST(UnionStoreRows, NestedAccessKeepsTheBufferAndTileLocks) {
    TUnionBitmap store;
    ASSERT_TRUE(store.Create(1000, 500, nullptr, 8));
    ASSERT_TRUE(store.BeginRowAccess());
    ASSERT_TRUE(store.BeginRowAccess());
    std::uint8_t* buffer = store.ReadRow(0);
    EXPECT_TRUE(store.Tile(0, 0)->InUse());
    EXPECT_EQ(store.GetTileDC(0, 0), nullptr) << "locked for rows";
    store.EndRowAccess();
    EXPECT_EQ(store.RowBuffer(), buffer);
    EXPECT_TRUE(store.Tile(0, 0)->InUse());
    store.EndRowAccess();
    EXPECT_EQ(store.RowBuffer(), nullptr);
    EXPECT_FALSE(store.Tile(0, 0)->InUse());
    HDC dc = store.GetTileDC(0, 0);
    EXPECT_NE(dc, nullptr);
    store.ReleaseTileDC(dc, 0, 0);
    // An unbalanced end does not leave the count negative.
    store.EndRowAccess();
    EXPECT_EQ(store.RowLockCount(), 0);
}

TEST(UnionStoreContexts, OneContextPerTileAtATime) {
    TUnionBitmap store;
    ASSERT_TRUE(store.Create(700, 700, nullptr, 8));
    HDC first = store.GetTileDC(3, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(store.GetTileDC(3, 0), nullptr);
    HDC other = store.GetTileDC(2, 0);
    EXPECT_NE(other, nullptr);
    store.ReleaseTileDC(other, 2, 0);
    store.ReleaseTileDC(first, 3, 0);
    HDC again = store.GetTileDC(3, 0);
    EXPECT_NE(again, nullptr);
    store.ReleaseTileDC(again, 3, 0);
    // The interface's context is that of the first resident tile.
    HDC any = store.GetBitmapDC();
    EXPECT_NE(any, nullptr);
    store.ReleaseBitmapDC(any);
}

TEST(UnionStoreResidency, NoPagingWithoutABudget) {
    TUnionBitmap store;
    ASSERT_TRUE(store.Create(4800, 960, nullptr, 8));
    for (int tile = 0; tile < store.TileCount(); ++tile)
        store.EnsureTile(tile, 0);
    EXPECT_EQ(store.ResidentTiles(0).size(), std::size_t(store.TileCount()));
    EXPECT_EQ(store.ResidentLimit(0), INT32_MAX);
}

TEST(UnionStoreResidency, BudgetEvictsTheOldestTileNotInUse) {
    TUnionBitmap store;
    ASSERT_TRUE(store.Create(4800, 480, nullptr, 8));
    store.SetResidentBudget(3 * 480 * 480);
    for (int tile = 0; tile < 6; ++tile)
        store.EnsureTile(tile, 0);
    EXPECT_EQ(store.ResidentLimit(0), 3);
    std::set<int> resident;
    for (const TbmPoint& p : store.ResidentTiles(0))
        resident.insert(p.Index);
    EXPECT_EQ(resident, (std::set<int>{3, 4, 5}));

    // The oldest tile in use stays; another one goes instead.
    HDC held = store.GetTileDC(3, 0);
    ASSERT_NE(held, nullptr);
    store.EnsureTile(6, 0);
    store.EnsureTile(7, 0);
    EXPECT_TRUE(store.IsTileResident(3, 0));
    EXPECT_EQ(store.ResidentTiles(0).size(), 3u);
    EXPECT_TRUE(store.IsTileResident(7, 0));
    store.ReleaseTileDC(held, 3, 0);
}

TEST(UnionStoreResidency, PageOutLevelKeepsTilesInUse) {
    TUnionBitmap store;
    ASSERT_TRUE(store.Create(960, 480, nullptr, 8));
    HDC dc = store.GetTileDC(0, 0);
    ASSERT_NE(dc, nullptr);
    gdi::PatBlt(dc, 0, 0, 480, 480, gdi::WHITENESS);
    store.MarkTileChanged(0);
    store.EnsureTile(1, 0);
    store.PageOutAll();
    EXPECT_TRUE(store.IsTileResident(0, 0));
    EXPECT_TRUE(store.Tile(0, 0)->InUse()) << "its context is still out";
    EXPECT_FALSE(store.IsTileResident(1, 0));
    store.ReleaseTileDC(dc, 0, 0);
    store.PageOutAll();
    EXPECT_FALSE(store.IsTileResident(0, 0));
    store.EnsureTile(0, 0);
    EXPECT_EQ(TilePixel(store, 0, 0, 17, 300), 255u);

    // Locked for rows: the same.
    ASSERT_TRUE(store.BeginRowAccess());
    store.ReadRow(0);
    store.PageOutAll();
    EXPECT_TRUE(store.IsTileResident(0, 0));
    EXPECT_TRUE(store.Tile(0, 0)->InUse());
    store.EndRowAccess();
}

TEST(UnionStoreResidency, UnreadableSlotComesBackAsTheBlankColour) {
    TUnionBitmap store;
    store.SetBlankColor(0x010000AA);
    ASSERT_TRUE(store.Create(500, 500, nullptr, 8));
    Paint8(store, 0x11, 0, 0, 500, 500);
    store.PageOutAll();
    ASSERT_FALSE(store.IsTileResident(0, 0));
    // The slots are gone from under the store.
    ASSERT_EQ(::truncate(store.TempFileName().c_str(), 100), 0);
    EXPECT_FALSE(store.LoadTile(0, store.BlankColor(), store.Palette(), 0));
    EXPECT_TRUE(store.IsTileResident(0, 0));
    EXPECT_EQ(TilePixel(store, 0, 0, 5, 5), 0xAAu);
}

TEST(UnionStoreDepth, CreatedStoreKeepsItsDepth) {
    TUnionBitmap store;
    store.SetBitsPerPixel(24);
    ASSERT_TRUE(store.Create(100, 100, nullptr, 8));
    store.SetBitsPerPixel(24);
    EXPECT_EQ(store.BitsPerPixel(), 8);
    EXPECT_EQ(store.GetStride(), 100);
    EXPECT_FALSE(store.Create(10, 10, nullptr, 32));
    EXPECT_FALSE(store.Create(-1, 10, nullptr, 8));
}

TEST(UnionStorePalette, CopyAndResidentTilesAgree) {
    auto palette = TestPalette();
    TUnionBitmap store;
    ASSERT_TRUE(store.Create(600, 100, palette.data(), 8));
    store.EnsureTile(0, 0);
    const RGBQUAD red{0, 0, 255, 0};
    store.SetPalette(7, 1, &red);
    std::array<RGBQUAD, 256> out{};
    store.GetPalette(0, 256, out.data());
    EXPECT_EQ(out[7].rgbRed, 255);
    EXPECT_EQ(out[8].rgbBlue, palette[8].rgbBlue);
    std::array<RGBQUAD, 256> tile{};
    store.Tile(0, 0)->GetPalette(0, 256, tile.data());
    EXPECT_EQ(tile[7].rgbRed, 255);
    // A tile made resident later takes the store's copy.
    store.EnsureTile(1, 0);
    store.Tile(1, 0)->GetPalette(0, 256, tile.data());
    EXPECT_EQ(tile[7].rgbRed, 255);
}

// COLORONCOLOR reduction of a tile: destination pixel k takes source pixel
// floor(k * sw / w).
std::vector<std::uint8_t> Reduce(const std::vector<std::uint8_t>& src, int sw, int sh, int w,
                                 int h) {
    std::vector<std::uint8_t> out(std::size_t(w) * std::size_t(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            out[std::size_t(y) * std::size_t(w) + std::size_t(x)] =
                src[std::size_t(y * sh / h) * std::size_t(sw) + std::size_t(x * sw / w)];
    return out;
}

std::vector<std::uint8_t> TilePixels(TUnionBitmap& store, int tile, int level) {
    const RECT& r = store.TileRect(tile, level);
    std::vector<std::uint8_t> out;
    for (int y = 0; y < r.bottom - r.top; ++y)
        for (int x = 0; x < r.right - r.left; ++x)
            out.push_back(std::uint8_t(TilePixel(store, tile, level, x, y)));
    return out;
}

TEST(UnionStoreLevels, EveryLevelIsTheCascadeOfTheFinalLevelZero) {
    TUnionBitmap store;
    ASSERT_TRUE(store.Create(1060, 1001, nullptr, 8));
    store.SetResidentBudget(std::uint64_t(store.Status(0, 0).ByteSize) * 2);
    WriteAll(store, RandomPixels(store, 1));
    // Viewed at 1:4: level 2 comes up to date for every tile.
    for (int tile = 0; tile < store.TileCount(); ++tile) {
        HDC dc = store.GetTileDC(tile, 2);
        ASSERT_NE(dc, nullptr);
        store.ReleaseTileDC(dc, tile, 2);
    }
    // Painted again, some tiles made blank, then the overview's cascade.
    const auto final = RandomPixels(store, 2);
    WriteAll(store, final);
    store.MarkTileBlank(4);
    for (int tile = 0; tile < store.TileCount(); ++tile)
        store.RefreshLevelCascade(tile, 3);

    for (int tile = 0; tile < store.TileCount(); ++tile) {
        SCOPED_TRACE(tile);
        store.EnsureTile(tile, 0);
        std::vector<std::uint8_t> above = TilePixels(store, tile, 0);
        if (tile == 4) {
            EXPECT_EQ(above, std::vector<std::uint8_t>(above.size(), 255));  // white, grey ramp
        }
        for (int level = 1; level < 4; ++level) {
            const RECT& a = store.TileRect(tile, level - 1);
            const RECT& r = store.TileRect(tile, level);
            const auto expected = Reduce(above, a.right - a.left, a.bottom - a.top,
                                         r.right - r.left, r.bottom - r.top);
            EXPECT_EQ(store.Status(tile, level).Stale, 0);
            EXPECT_EQ(store.Status(tile, level).Blank, tile == 4 ? 1 : 0);
            store.EnsureTile(tile, level);
            EXPECT_EQ(TilePixels(store, tile, level), expected) << "level " << level;
            above = expected;
        }
        EXPECT_EQ(store.Status(tile, 3).Changed, 1) << "the overview draws it";
    }
}

TEST(UnionStoreLevels, RefreshFlagsForTheViews) {
    TUnionBitmap store;
    ASSERT_TRUE(store.Create(500, 500, nullptr, 8));
    std::uint8_t refreshed = 7;
    store.RefreshLevel(0, 1, false, refreshed);
    EXPECT_EQ(refreshed, 0) << "nothing changed";
    Paint8(store, 0x10, 0, 0, 20, 20);
    EXPECT_EQ(store.Status(0, 0).Changed, 1);
    EXPECT_EQ(store.Status(0, 1).Stale, 1);
    store.RefreshLevel(0, 1, true, refreshed);
    EXPECT_EQ(refreshed, 1);
    EXPECT_EQ(store.Status(0, 0).Changed, 0);
    EXPECT_EQ(store.Status(0, 1).Synced, 1);
    EXPECT_EQ(TilePixel(store, 0, 1, 9, 9), 0x10u);
    EXPECT_EQ(TilePixel(store, 0, 1, 10, 10), 255u);
    store.ClearDisplayChanged(0, 0, 500, 500);
    store.RefreshLevelCascade(0, 3);
    EXPECT_EQ(store.Status(0, 3).Changed, 1) << "level 3 was stale";
    store.ClearDisplayChanged(0, 0, 1, 1);
    EXPECT_EQ(store.Status(0, 3).Changed, 0);
    store.MarkAllChanged();
    EXPECT_EQ(store.Status(1, 0).Changed, 1);
    EXPECT_EQ(store.Status(0, 1).Synced, 0);
}

TEST(UnionStoreUndo, FirstWriteInAStepSavesTheTileOnce) {
    TUnionBitmap store;
    ASSERT_TRUE(store.Create(500, 10, nullptr, 8));
    Paint8(store, 0x33, 0, 0, 500, 10);
    store.Undo()->OpenStep();
    ASSERT_TRUE(store.BeginRowAccess());
    for (int y = 0; y < 3; ++y) {
        std::memset(store.ReadRow(y), 0x44, 500);
        store.WriteRow(y);
    }
    store.EndRowAccess();
    ASSERT_EQ(store.Undo()->Steps().size(), 1u);
    EXPECT_EQ(store.Undo()->Steps()[0].Tiles.size(), 2u);
    EXPECT_EQ(store.Status(0, 0).Saved, 1);
    platform::File& undo = store.Undo()->File(0);
    std::uint8_t saved = 0;
    ASSERT_TRUE(undo.ReadAt(0, &saved, 1));
    EXPECT_EQ(saved, 0x33) << "the pixels before the step";
}

TEST(UnionStoreLarge, SlotsBeyondTwoGigabytes) {
    TUnionBitmap store;
    // 4.8 GB of level-0 pixels: the last tiles' slots lie far past 2^31.
    ASSERT_TRUE(store.Create(40000, 40000, nullptr, 24));
    const int last = store.TileCount() - 1;
    EXPECT_GT(store.Status(last, 0).FileOffset, std::int64_t(1) << 32);
    ASSERT_TRUE(store.BeginRowAccess());
    std::uint8_t* row = store.ReadRowSpan(39999, 39990, 10);
    for (int x = 39990; x < 40000; ++x) {
        row[x * 3] = std::uint8_t(x);
        row[x * 3 + 1] = 1;
        row[x * 3 + 2] = 2;
    }
    store.WriteRowSpan(39999, 39990, 10);
    store.EndRowAccess();
    store.PageOutAll();
    ASSERT_FALSE(store.IsTileResident(last, 0));
    ASSERT_TRUE(store.BeginRowAccess());
    row = store.ReadRowSpan(39999, 39990, 10);
    for (int x = 39990; x < 40000; ++x)
        EXPECT_EQ(row[x * 3], std::uint8_t(x));
    store.EndRowAccess();
    EXPECT_EQ(store.ResidentTiles(0).size(), 1u);
}

}  // namespace
}  // namespace quillor

namespace quillor {
namespace {

// A control's canvas without the control: a 32-bit bitmap with a context.
class CanvasOnBitmap : public platform::gdi::CanvasTarget {
  public:
    CanvasOnBitmap()
        : bitmap_(platform::gdi::Bitmap::Create(200, 20, 32)),
          dc_(platform::gdi::CreateDCForBitmap(bitmap_)) {}
    HDC Canvas() override { return dc_.get(); }
    void UpdateRect(const RECT& rect) override { updates.push_back(rect); }
    void Invalidate() override {}
    platform::gdi::COLORREF At(int x, int y) { return platform::gdi::GetPixel(dc_.get(), x, y); }
    std::vector<RECT> updates;

  private:
    platform::gdi::HBITMAP bitmap_;
    platform::gdi::DCPtr dc_;
};

TEST(Statusprogress, BlocksFollowThePositionAndFinishClearsTheBar) {
    namespace gdi = platform::gdi;
    CanvasOnBitmap canvas;
    gdi::SelectObject(canvas.Canvas(), gdi::CreateSolidBrush(gdi::RGB(255, 0, 0)));
    Statusprogress progress(&canvas);
    progress.FLeft = 10;
    progress.FWidth = 106;  // (106 - 6) / 12 = 8 blocks at the maximum
    progress.FBlock.top = 2;
    progress.FBlock.bottom = 12;
    progress.Start(10);
    progress.Step(5);  // n = 50: blocks 0 to 3
    EXPECT_EQ(progress.FDrawn, 3);
    EXPECT_EQ(canvas.At(10, 5), gdi::RGB(255, 0, 0));
    EXPECT_EQ(canvas.At(18, 5), gdi::RGB(255, 0, 0));
    EXPECT_EQ(canvas.At(19, 5), 0u) << "a gap between blocks";
    EXPECT_EQ(canvas.At(10 + 36, 5), gdi::RGB(255, 0, 0));
    EXPECT_EQ(canvas.At(10 + 48, 5), 0u) << "block 4 not yet";
    EXPECT_FALSE(canvas.updates.empty());
    progress.Finish();
    EXPECT_EQ(progress.FDrawn, 7);
    EXPECT_EQ(progress.FPosition, 0);
    for (int x : {10, 19, 10 + 84, 10 + 92})
        EXPECT_EQ(canvas.At(x, 5), gdi::RGB(240, 240, 240)) << x;
    gdi::RECT r{0, 0, 1, 1};
    gdi::FillRect(canvas.Canvas(), r, gdi::GetCurrentBrush(canvas.Canvas()));
    EXPECT_EQ(canvas.At(0, 0), gdi::RGB(0, 0, 128)) << "the brush is navy again";

    Statusprogress idle;  // no control: numbers only
    idle.FWidth = 106;
    idle.Start(0);
    idle.Step(3);
    EXPECT_EQ(idle.FDrawn, 0);
    idle.Finish();
}

}  // namespace
}  // namespace quillor
