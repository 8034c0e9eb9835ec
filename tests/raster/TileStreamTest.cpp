// The union store's tile stream: the bytes written (against a reference
// writer built here from the documented layout with zlib), reading such
// streams back at every level, and refusing truncated, corrupt or foreign
// streams without reading past the store's tables.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "raster/Compress.h"
#include "raster/Tqunion.h"
#include "tests/common/TestSupport.h"

using platform::gdi::HDC;
using quillor::TUnionBitmap;

namespace {

constexpr int kLevels = 4;

int BytesPerLine(int width, int bits) {
    return ((width * bits + 31) / 32) * 4;
}

std::uint32_t GetPixel(const std::uint8_t* row, int x, int bits) {
    switch (bits) {
        case 1:
            return (row[x / 8] >> (7 - x % 8)) & 1u;
        case 8:
            return row[x];
        default:
            return std::uint32_t(row[3 * x]) | std::uint32_t(row[3 * x + 1]) << 8 |
                   std::uint32_t(row[3 * x + 2]) << 16;
    }
}

void SetPixel(std::uint8_t* row, int x, int bits, std::uint32_t value) {
    switch (bits) {
        case 1: {
            const std::uint8_t bit = std::uint8_t(0x80u >> (x % 8));
            row[x / 8] =
                (value & 1u) ? std::uint8_t(row[x / 8] | bit) : std::uint8_t(row[x / 8] & ~bit);
            break;
        }
        case 8:
            row[x] = std::uint8_t(value);
            break;
        default:
            row[3 * x] = std::uint8_t(value);
            row[3 * x + 1] = std::uint8_t(value >> 8);
            row[3 * x + 2] = std::uint8_t(value >> 16);
    }
}

// One tile's pixels as the stream carries them: rows padded to 4 bytes.
struct TilePixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bytes;
};

// Every tile of every level (empty for tiles whose level 0 is blank).
using StoreTiles = std::array<std::vector<TilePixels>, kLevels>;

// The level-L rectangle of a tile, from the documented geometry.
void TileSize(int width, int height, int tile, int level, int* w, int* h) {
    const int edge = 480 >> level;
    const int columns = (width + 479) / 480, rows = (height + 479) / 480;
    const int column = tile % columns, row = tile / columns;
    *w = column == columns - 1 ? (width >> level) - edge * (columns - 1) : edge;
    *h = row == rows - 1 ? (height >> level) - edge * (rows - 1) : edge;
    if (*w <= 0)
        *w = 1;
    if (*h <= 0)
        *h = 1;
}

// COLORONCOLOR from the whole source tile to the whole destination tile:
// destination pixel k takes source pixel floor(k * sw / w).
TilePixels Reduce(const TilePixels& src, int w, int h, int bits) {
    TilePixels out{w, h, std::vector<std::uint8_t>(std::size_t(BytesPerLine(w, bits)) * h, 0)};
    const int srcLine = BytesPerLine(src.width, bits), line = BytesPerLine(w, bits);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* s = src.bytes.data() + std::size_t(y * src.height / h) * srcLine;
        std::uint8_t* d = out.bytes.data() + std::size_t(y) * line;
        for (int x = 0; x < w; ++x)
            SetPixel(d, x, bits, GetPixel(s, x * src.width / w, bits));
    }
    return out;
}

// What a correct store holds: level 0 as read through row access, each
// reduced level the reduction of the level above it.
StoreTiles ExpectedTiles(TUnionBitmap& store) {
    const int bits = store.BitsPerPixel(), width = store.Width(), height = store.Height();
    StoreTiles tiles;
    for (auto& level : tiles)
        level.resize(std::size_t(store.TileCount()));
    std::vector<std::vector<std::uint8_t>> rows;
    EXPECT_TRUE(store.BeginRowAccess());
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = store.ReadRow(y);
        rows.emplace_back(row, row + store.GetStride());
    }
    store.EndRowAccess();
    for (int tile = 0; tile < store.TileCount(); ++tile) {
        if (store.Status(tile, 0).Blank)
            continue;
        TilePixels& t0 = tiles[0][std::size_t(tile)];
        TileSize(width, height, tile, 0, &t0.width, &t0.height);
        const int line = BytesPerLine(t0.width, bits);
        const int left = (tile % store.TileColumns()) * 480,
                  top = (tile / store.TileColumns()) * 480;
        for (int y = 0; y < t0.height; ++y) {
            const std::uint8_t* row = rows[std::size_t(top + y)].data() + left * bits / 8;
            t0.bytes.insert(t0.bytes.end(), row, row + line);
        }
        for (int level = 1; level < kLevels; ++level) {
            int w = 0, h = 0;
            TileSize(width, height, tile, level, &w, &h);
            tiles[std::size_t(level)][std::size_t(tile)] =
                Reduce(tiles[std::size_t(level - 1)][std::size_t(tile)], w, h, bits);
        }
    }
    return tiles;
}

// The pixels a view gets from the store for one tile and level.
std::vector<std::uint8_t> ViewedTile(TUnionBitmap& store, int tile, int level) {
    HDC dc = store.GetTileDC(tile, level);
    EXPECT_NE(dc, nullptr);
    const auto& bitmap = store.Tile(tile, level)->GetHandle()->pixels;
    std::vector<std::uint8_t> bytes(bitmap->Bits(), bitmap->Bits() + bitmap->SizeBytes());
    store.ReleaseTileDC(dc, tile, level);
    return bytes;
}

// Every non-blank tile of every level as a view sees it equals `expected`;
// blank tiles are blank.
void ExpectStoreHolds(TUnionBitmap& store, const StoreTiles& expected) {
    for (int tile = 0; tile < store.TileCount(); ++tile) {
        const bool blank = expected[0][std::size_t(tile)].bytes.empty();
        ASSERT_EQ(store.Status(tile, 0).Blank, blank ? 1 : 0) << "tile " << tile;
        if (blank)
            continue;
        for (int level = 0; level < kLevels; ++level)
            ASSERT_EQ(ViewedTile(store, tile, level),
                      expected[std::size_t(level)][std::size_t(tile)].bytes)
                << "tile " << tile << " level " << level;
    }
}

std::string Int32(std::uint32_t v) {
    return std::string{char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF),
                       char((v >> 24) & 0xFF)};
}

// One pixel block in a mode, as the compression layer documents it.
std::string Block(const std::vector<std::uint8_t>& px, int mode) {
    const std::string raw(px.begin(), px.end());
    if (mode != 2)
        return raw;
    std::vector<Bytef> out(compressBound(px.size()));
    uLongf length = out.size();
    if (!px.empty() && compress(out.data(), &length, px.data(), px.size()) == Z_OK &&
        length < px.size())
        return Int32(std::uint32_t(length)) + std::string(out.begin(), out.begin() + long(length));
    return Int32(std::uint32_t(px.size())) + raw;
}

// The reference writer: header, one blank byte per tile, then every level's
// blocks of the non-blank tiles in tile order.
std::string ReferenceStream(const StoreTiles& tiles, int mode) {
    std::string s = Int32(480) + Int32(4);
    for (const TilePixels& t : tiles[0])
        s += char(t.bytes.empty() ? 1 : 0);
    for (const auto& level : tiles)
        for (const TilePixels& t : level)
            if (!t.bytes.empty())
                s += Block(t.bytes, mode);
    return s;
}

// A design: flat bands with a sprinkle of noise.
std::uint32_t DesignValue(int x, int y, int bits, unsigned seed) {
    std::uint32_t v = std::uint32_t((x / 7 + y / 5 + int(seed)) % 6) * 41u;
    const std::uint32_t hash =
        (std::uint32_t(x) * 73856093u) ^ (std::uint32_t(y) * 19349663u) ^ (seed * 83492791u);
    if (hash % 7 == 0)
        v = hash >> 8;
    if (bits == 1)
        return v & 1u;
    if (bits == 8)
        return v & 0xFFu;
    return (v * 0x010203u) & 0xFFFFFFu;
}

// Paints the rectangle [x0, x1) x [y0, y1) through row access.
void Paint(TUnionBitmap& store, int x0, int y0, int x1, int y1, unsigned seed) {
    const int bits = store.BitsPerPixel();
    ASSERT_TRUE(store.BeginRowAccess());
    for (int y = y0; y < y1; ++y) {
        std::uint8_t* row = store.ReadRowSpan(y, x0, x1 - x0);
        ASSERT_NE(row, nullptr);
        for (int x = x0; x < x1; ++x)
            SetPixel(row, x, bits, DesignValue(x, y, bits, seed));
        store.WriteRowSpan(y, x0, x1 - x0);
    }
    store.EndRowAccess();
}

// 1060 x 1001 (3 x 3 tiles, last column and row narrow and odd at every
// level): tiles 0, 1, 4, 5, 7, 8 painted, 2, 3, 6 left blank.
void PaintDesign(TUnionBitmap& store) {
    Paint(store, 10, 20, 700, 300, 1);
    Paint(store, 900, 600, 1060, 1001, 2);
}

class TileStreamTest : public ::testing::Test {
  protected:
    platform::File OpenFile(const std::string& bytes = {}) {
        testsupport::WriteFile(path_, bytes);
        platform::File file = platform::File::Open(path_, O_RDWR);
        EXPECT_TRUE(file.IsOpen());
        return file;
    }
    std::string Contents() const { return testsupport::ReadFile(path_); }

    // Writes the store's stream into the scratch file and returns its bytes.
    std::string Written(TUnionBitmap& store, int mode, bool flat = false) {
        platform::File file = OpenFile();
        EXPECT_TRUE(store.WriteTiles(file, mode, nullptr, flat));
        EXPECT_EQ(file.Position(), std::int64_t(Contents().size()));
        return Contents();
    }

    testsupport::TempDir dir_;
    std::string path_ = dir_.File("stream");
};

// A cap of a few level-0 tiles, so that writing and reading page tiles out.
void PageHard(TUnionBitmap& store) {
    store.SetResidentBudget(2 * std::uint64_t(store.Status(0, 0).ByteSize));
}

TEST_F(TileStreamTest, AllBlankStoreWritesHeaderAndOneBytePerTile) {
    TUnionBitmap store;
    ASSERT_TRUE(store.Create(1060, 1001, nullptr, 8));
    const std::string expected = Int32(480) + Int32(4) + std::string(9, '\1');
    EXPECT_EQ(Written(store, 2), expected);
    EXPECT_EQ(Written(store, 0), expected);

    // Reading it into a painted store leaves every tile blank, pixels included.
    TUnionBitmap target;
    ASSERT_TRUE(target.Create(1060, 1001, nullptr, 8));
    target.SetBlankColor(0x01000007);
    PaintDesign(target);
    platform::File file = OpenFile(expected);
    ASSERT_TRUE(target.ReadTiles(file, 2, nullptr));
    EXPECT_EQ(file.Position(), std::int64_t(expected.size()));
    for (int tile = 0; tile < 9; ++tile) {
        EXPECT_EQ(target.Status(tile, 0).Blank, 1) << tile;
        const std::vector<std::uint8_t> px = ViewedTile(target, tile, 0);
        int w = 0, h = 0;
        TileSize(1060, 1001, tile, 0, &w, &h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(px[std::size_t(y * BytesPerLine(w, 8) + x)], 7) << tile;
    }
}

// Depth, compression mode and whether the writer may use threads.
struct RoundTripCase {
    int bits;
    int mode;
    const char* threads;
};

class TileStreamRoundTrip : public TileStreamTest,
                            public ::testing::WithParamInterface<RoundTripCase> {};

// Painted, viewed at 1:4 (level 2 regenerated), painted again: the stream
// holds the final level 0 and, at every reduced level, the cascade of
// reductions of it, byte for byte as the reference writer puts them; a store
// read from it, paging all along, holds the same.
TEST_P(TileStreamRoundTrip, WritesReferenceBytesAndReadsThemBack) {
    const RoundTripCase c = GetParam();
    testsupport::ScopedEnv threads(
        "VELSERIN_STREAM_THREADS",
        c.threads ? std::optional<std::string>(c.threads) : std::nullopt);
    TUnionBitmap store;
    ASSERT_TRUE(store.Create(1060, 1001, nullptr, c.bits));
    PageHard(store);
    PaintDesign(store);
    for (int tile : {0, 4, 8}) {
        HDC dc = store.GetTileDC(tile, 2);
        ASSERT_NE(dc, nullptr);
        store.ReleaseTileDC(dc, tile, 2);
    }
    Paint(store, 300, 100, 1000, 700, 3);

    const StoreTiles expected = ExpectedTiles(store);
    const std::string stream = Written(store, c.mode);
    ASSERT_EQ(stream, ReferenceStream(expected, c.mode));

    TUnionBitmap copy;
    ASSERT_TRUE(copy.Create(1060, 1001, nullptr, c.bits));
    PageHard(copy);
    platform::File file = OpenFile(stream + "next");
    ASSERT_TRUE(copy.ReadTiles(file, c.mode, nullptr));
    EXPECT_EQ(file.Position(), std::int64_t(stream.size()));
    // Level 0 counts as changed, as after any painting.
    EXPECT_EQ(copy.Status(0, 0).Changed, 1);
    ExpectStoreHolds(copy, expected);
}

INSTANTIATE_TEST_SUITE_P(Depths, TileStreamRoundTrip,
                         ::testing::Values(RoundTripCase{1, 2, nullptr},
                                           RoundTripCase{8, 2, nullptr},
                                           RoundTripCase{24, 2, nullptr}, RoundTripCase{8, 2, "1"},
                                           RoundTripCase{24, 0, nullptr}),
                         [](const ::testing::TestParamInfo<RoundTripCase>& info) {
                             return std::to_string(info.param.bits) + "bit_mode" +
                                    std::to_string(info.param.mode) +
                                    (info.param.threads ? "_serial" : "");
                         });

// 500 x 490, 2 x 2 tiles at every depth: tiles 0 and 3 carry pixels. The
// reduced blocks are deliberately not reductions of level 0, so reading
// them exactly shows that they are taken as they are, not derived again.
TEST_F(TileStreamTest, ReadsReferenceStreamExactly) {
    for (int bits : {1, 8, 24}) {
        SCOPED_TRACE(bits);
        StoreTiles tiles;
        for (int level = 0; level < kLevels; ++level) {
            tiles[std::size_t(level)].resize(4);
            for (int tile : {0, 3}) {
                TilePixels& t = tiles[std::size_t(level)][std::size_t(tile)];
                TileSize(500, 490, tile, level, &t.width, &t.height);
                const int line = BytesPerLine(t.width, bits);
                t.bytes.assign(std::size_t(line) * t.height, 0);
                for (int y = 0; y < t.height; ++y)
                    for (int x = 0; x < t.width; ++x)
                        SetPixel(t.bytes.data() + y * line, x, bits,
                                 DesignValue(x, y, bits, unsigned(level * 10 + tile)));
            }
        }
        // Tile 3 of level 3 is 2 x 1 pixels: too small to compress, stored raw.
        ASSERT_EQ(tiles[3][3].width, 2);
        ASSERT_EQ(tiles[3][3].height, 1);
        const std::string stream = ReferenceStream(tiles, 2);

        TUnionBitmap store;
        ASSERT_TRUE(store.Create(500, 490, nullptr, bits));
        platform::File file = OpenFile(stream);
        ASSERT_TRUE(store.ReadTiles(file, 2, nullptr));
        EXPECT_EQ(file.Position(), std::int64_t(stream.size()));
        ExpectStoreHolds(store, tiles);
        // And they are what the store writes again.
        EXPECT_EQ(Written(store, 2), stream);
    }
}

// The stream of a store of another tile grid is refused after its header and
// blank bytes; the store keeps its tiles.
TEST_F(TileStreamTest, RefusesForeignHeaderAndBadBlankBytes) {
    struct Case {
        std::uint32_t tileSize, levels;
        char blank;
    };
    for (const Case c : {Case{512, 4, 0}, Case{480, 3, 0}, Case{480, 5, 0}, Case{0, 0, 0},
                         Case{480, 4, 2}, Case{480, 4, char(0xFF)}}) {
        SCOPED_TRACE(std::to_string(c.tileSize) + "/" + std::to_string(c.levels));
        TUnionBitmap store;
        ASSERT_TRUE(store.Create(1060, 1001, nullptr, 8));
        PaintDesign(store);
        const StoreTiles before = ExpectedTiles(store);
        std::string stream = Int32(c.tileSize) + Int32(c.levels) + std::string(9, '\0');
        stream[8 + 4] = c.blank;
        stream += Block(std::vector<std::uint8_t>(480 * 480, 9), 2);
        platform::File file = OpenFile(stream);
        EXPECT_FALSE(store.ReadTiles(file, 2, nullptr));
        EXPECT_EQ(file.Position(), 8 + 9);
        ExpectStoreHolds(store, before);
    }
}

TEST_F(TileStreamTest, TruncatedStreamsFailAndKeepTilesReadSoFar) {
    TUnionBitmap store;
    ASSERT_TRUE(store.Create(1060, 1001, nullptr, 8));
    PaintDesign(store);
    const StoreTiles expected = ExpectedTiles(store);
    const std::string stream = Written(store, 2);
    // The end of the level-0 blocks: header, blank bytes, six blocks.
    std::size_t level0End = 8 + 9;
    for (const TilePixels& t : expected[0])
        if (!t.bytes.empty())
            level0End += Block(t.bytes, 2).size();

    std::vector<std::size_t> cuts = {0,
                                     3,
                                     8,
                                     12,
                                     17,
                                     19,
                                     40,
                                     level0End - 1,
                                     level0End,
                                     level0End + 2,
                                     level0End + 30,
                                     stream.size() - 1};
    for (std::size_t cut = 0; cut < stream.size(); cut += 997)
        cuts.push_back(cut);
    for (const std::size_t cut : cuts) {
        for (const char* threads : {"1", "2"}) {
            SCOPED_TRACE(std::to_string(cut) + " threads " + threads);
            testsupport::ScopedEnv env("VELSERIN_STREAM_THREADS", std::string(threads));
            TUnionBitmap target;
            ASSERT_TRUE(target.Create(1060, 1001, nullptr, 8));
            PageHard(target);
            platform::File file = OpenFile(stream.substr(0, cut));
            EXPECT_FALSE(target.ReadTiles(file, 2, nullptr));
            EXPECT_LE(file.Position(), std::int64_t(cut));
            if (cut >= level0End) {
                // Every level-0 tile was read; the reduced levels that were not
                // are derived from it.
                ExpectStoreHolds(target, expected);
            }
        }
    }
}

// Blocks whose length or content do not fit the tile they are read into.
TEST_F(TileStreamTest, CorruptBlocksFail) {
    const std::size_t tileBytes = 480 * 480;
    const std::vector<std::uint8_t> pixels(tileBytes, 5);
    std::string good = Block(pixels, 2);
    std::string flipped = good;
    flipped[flipped.size() / 2] = char(flipped[flipped.size() / 2] ^ 0x5A);
    flipped[flipped.size() - 2] = char(flipped[flipped.size() - 2] ^ 0x11);
    struct Case {
        const char* what;
        std::string block;
    };
    const Case cases[] = {
        {"length beyond the tile", Int32(0xFFFFFFFFu) + good.substr(4)},
        {"length beyond the tile by one", Int32(tileBytes + 1) + good.substr(4)},
        {"length past the end of the file", Int32(std::uint32_t(good.size())) + good.substr(4)},
        {"damaged zlib data", flipped},
        {"inflates short", Block(std::vector<std::uint8_t>(tileBytes - 1, 5), 2)},
        {"inflates long",
         Int32(std::uint32_t(Block(std::vector<std::uint8_t>(tileBytes + 64, 5), 2).size() - 4)) +
             Block(std::vector<std::uint8_t>(tileBytes + 64, 5), 2).substr(4)},
        {"not zlib at all", Int32(100) + std::string(100, 'x')},
    };
    for (const Case& c : cases) {
        for (const char* threads : {"1", "2"}) {
            SCOPED_TRACE(std::string(c.what) + ", threads " + threads);
            testsupport::ScopedEnv env("VELSERIN_STREAM_THREADS", std::string(threads));
            // One tile of 480 x 480: its level-0 block is the damaged one.
            TUnionBitmap store;
            ASSERT_TRUE(store.Create(480, 480, nullptr, 8));
            platform::File file = OpenFile(Int32(480) + Int32(4) + std::string(1, '\0') + c.block);
            EXPECT_FALSE(store.ReadTiles(file, 2, nullptr));
            // Nothing of the damaged block is kept.
            EXPECT_EQ(store.Status(0, 0).Blank, 1);
            const std::vector<std::uint8_t> px = ViewedTile(store, 0, 0);
            EXPECT_EQ(std::count(px.begin(), px.end(), px[0]), long(px.size()));
        }
    }
}

TEST_F(TileStreamTest, ProgressStepsEveryTileAndFinishesOnlyComplete) {
    TUnionBitmap store;
    ASSERT_TRUE(store.Create(1060, 1001, nullptr, 8));
    PaintDesign(store);
    quillor::Statusprogress progress;
    platform::File file = OpenFile();
    ASSERT_TRUE(store.WriteTiles(file, 2, &progress, false));
    EXPECT_EQ(progress.FMaximum, 4 * 9 - 1);
    EXPECT_EQ(progress.FPosition, 0);  // finished
    const std::string stream = Contents();

    TUnionBitmap target;
    ASSERT_TRUE(target.Create(1060, 1001, nullptr, 8));
    quillor::Statusprogress reading;
    file = OpenFile(stream);
    ASSERT_TRUE(target.ReadTiles(file, 2, &reading));
    EXPECT_EQ(reading.FMaximum, 4 * 9 - 1);
    EXPECT_EQ(reading.FPosition, 0);

    // Cut inside the block of tile 4 of level 0: tiles 0 to 3 were stepped
    // (blank tiles 2 and 3 included), and there is no Finish.
    const std::size_t cut = 8 + 9 + Block(ExpectedTiles(store)[0][0].bytes, 2).size() +
                            Block(ExpectedTiles(store)[0][1].bytes, 2).size() + 10;
    quillor::Statusprogress partial;
    TUnionBitmap truncated;
    ASSERT_TRUE(truncated.Create(1060, 1001, nullptr, 8));
    file = OpenFile(stream.substr(0, cut));
    EXPECT_FALSE(truncated.ReadTiles(file, 2, &partial));
    EXPECT_EQ(partial.FPosition, 3);
}

// Writes that fail part-way (a reader that goes away) are reported, with or
// without compressing threads.
TEST_F(TileStreamTest, FailedWriteReturnsFalse) {
    TUnionBitmap store;
    ASSERT_TRUE(store.Create(1060, 1001, nullptr, 24));
    Paint(store, 0, 0, 1060, 1001, 4);
    {
        platform::File full = platform::File::Open("/dev/full", O_WRONLY);
        ASSERT_TRUE(full.IsOpen());
        EXPECT_FALSE(store.WriteTiles(full, 2, nullptr, false));
        EXPECT_FALSE(store.WriteTiles(full, 2, nullptr, true));
    }
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &old), 0);
    for (const char* threads : {"1", "2"}) {
        SCOPED_TRACE(threads);
        testsupport::ScopedEnv env("VELSERIN_STREAM_THREADS", threads);
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        std::thread reader([fd = fds[0]] {
            char buffer[4096];
            ssize_t total = 0;
            while (total < 300000) {
                const ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                total += n;
            }
            ::close(fd);
        });
        platform::File pipe(fds[1]);
        // A bar wide enough that only the final step of Finish draws its last
        // block.
        quillor::Statusprogress progress;
        progress.FWidth = 10006;
        EXPECT_FALSE(store.WriteTiles(pipe, 2, &progress, false));
        EXPECT_LT(progress.FDrawn, 10000 / 12 - 1);
        reader.join();
    }
    ::sigaction(SIGPIPE, &old, nullptr);
}

// The flat form: the whole store as one block of full-width rows, padding
// zero (also the bits beyond the last pixel of a 1-bit row).
TEST_F(TileStreamTest, FlatWritesOneBlockOfTheWholeStore) {
    for (int bits : {1, 8, 24}) {
        SCOPED_TRACE(bits);
        TUnionBitmap store;
        ASSERT_TRUE(store.Create(1061, 999, nullptr, bits));
        PageHard(store);
        Paint(store, 0, 0, 1061, 999, 5);
        const int line = BytesPerLine(1061, bits);
        std::vector<std::uint8_t> rows(std::size_t(line) * 999, 0);
        for (int y = 0; y < 999; ++y)
            for (int x = 0; x < 1061; ++x)
                SetPixel(rows.data() + y * line, x, bits, DesignValue(x, y, bits, 5));
        EXPECT_EQ(Written(store, 2, true), Block(rows, 2));
        EXPECT_EQ(Written(store, 0, true), std::string(rows.begin(), rows.end()));
    }
}

// Rows [top, bottom) x [left, right) of a store as pixel values; pixels
// outside the store read as `outside`.
std::vector<std::uint32_t> PixelsIn(TUnionBitmap& store, int left, int top, int right, int bottom,
                                    std::uint32_t outside) {
    std::vector<std::uint32_t> out;
    EXPECT_TRUE(store.BeginRowAccess());
    for (int y = top; y < bottom; ++y) {
        const std::uint8_t* row = store.ReadRow(y);
        for (int x = left; x < right; ++x)
            out.push_back(x < store.Width() && y < store.Height()
                              ? GetPixel(row, x, store.BitsPerPixel())
                              : outside);
    }
    store.EndRowAccess();
    return out;
}

// A rectangle written as a stream of its own (also one reaching past the
// store's edge) reads back into a store of the rectangle's size; its blank
// tiles keep meaning the source's blank colour.
TEST_F(TileStreamTest, WriteRectWritesTheRectangleAsAStoreOfItsOwn) {
    TUnionBitmap store;
    ASSERT_TRUE(store.Create(1060, 1001, nullptr, 8));
    store.SetBlankColor(0x010000FF);
    PageHard(store);
    PaintDesign(store);
    struct Case {
        int left, top, right, bottom;
    };
    for (const Case c :
         {Case{100, 50, 630, 550}, Case{5, 490, 975, 1001}, Case{900, 900, 1200, 1100}}) {
        SCOPED_TRACE(std::to_string(c.left) + "," + std::to_string(c.top));
        const int w = c.right - c.left, h = c.bottom - c.top;
        platform::File file = OpenFile();
        ASSERT_TRUE(store.WriteRect(file, 2, false, c.left, c.top, c.right, c.bottom));
        TUnionBitmap part;
        ASSERT_TRUE(part.Create(w, h, nullptr, 8));
        part.SetBlankColor(0x010000FF);
        file.Seek(0);
        ASSERT_TRUE(part.ReadTiles(file, 2, nullptr));
        EXPECT_EQ(file.Position(), file.Size());
        EXPECT_EQ(PixelsIn(part, 0, 0, w, h, 0),
                  PixelsIn(store, c.left, c.top, c.right, c.bottom, 255));

        // The flat form holds the same pixels in one block.
        file = OpenFile();
        ASSERT_TRUE(store.WriteRect(file, 2, true, c.left, c.top, c.right, c.bottom));
        const std::string flat = Contents();
        const int line = BytesPerLine(w, 8);
        std::vector<std::uint8_t> rows(std::size_t(line) * h, 0);
        const std::vector<std::uint32_t> expected =
            PixelsIn(store, c.left, c.top, c.right, c.bottom, 255);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                rows[std::size_t(y * line + x)] = std::uint8_t(expected[std::size_t(y * w + x)]);
        EXPECT_EQ(flat, Block(rows, 2));
    }
    platform::File file = OpenFile();
    EXPECT_FALSE(store.WriteRect(file, 2, false, 10, 10, 5, 20));
}

}  // namespace
