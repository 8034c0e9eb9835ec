// The union store's exchange with device contexts and single bitmaps, its
// resizes and stretches, and file loading, each compared pixel for pixel
// with a reference computed on plain arrays. Stores are of odd sizes of a
// few tiles with a resident budget of a few tiles, so that tiles are paged
// out and back part-way through every operation.
#include <gtest/gtest.h>

#include <QRegion>
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/Gdi.h"
#include "raster/Imaging.h"
#include "raster/Tqmemory.h"
#include "raster/Tqunion.h"
#include "tests/common/TestSupport.h"
#include "tests/raster/ImageFiles.h"

namespace gdi = platform::gdi;
namespace im = quillor::imaging;
using gdi::DWORD;
using gdi::HDC;
using gdi::RECT;
using gdi::RGBQUAD;
using quillor::TQuillorBitmap;
using quillor::TUnionBitmap;

namespace {

// ---- plain images ----

// Pixels as plain values: a bit (1), an index (8), or blue | green << 8 |
// red << 16 (24, the bytes as stored).
struct Plain {
    int width = 0;
    int height = 0;
    int bits = 0;
    std::vector<std::uint32_t> px;

    Plain() = default;
    Plain(int w, int h, int b, std::uint32_t fill = 0)
        : width(w), height(h), bits(b), px(std::size_t(w) * std::size_t(h), fill) {}
    std::uint32_t& At(int x, int y) { return px[std::size_t(y) * std::size_t(width) + x]; }
    std::uint32_t At(int x, int y) const { return px[std::size_t(y) * std::size_t(width) + x]; }
    bool Inside(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
};

Plain RandomPlain(int w, int h, int bits, unsigned seed) {
    std::mt19937 random(seed);
    Plain p(w, h, bits);
    const std::uint32_t mask = bits == 1 ? 1u : bits == 8 ? 0xFFu : 0xFFFFFFu;
    for (auto& v : p.px)
        v = random() & mask;
    return p;
}

std::array<RGBQUAD, 256> RandomPalette(unsigned seed) {
    std::mt19937 random(seed);
    std::array<RGBQUAD, 256> palette{};
    for (auto& q : palette)
        q = RGBQUAD{std::uint8_t(random()), std::uint8_t(random()), std::uint8_t(random()), 0};
    return palette;
}

int RowBytes(int width, int bits) {
    return (width * bits + 31) / 32 * 4;
}

// A plain row written into (read from) a raster row, pixel x at bit x * bits.
void PutRow(const Plain& p, int y, std::uint8_t* row) {
    for (int x = 0; x < p.width; ++x) {
        const std::uint32_t v = p.At(x, y);
        if (p.bits == 1) {
            const auto m = std::uint8_t(0x80 >> (x & 7));
            row[x >> 3] = v ? (row[x >> 3] | m) : (row[x >> 3] & ~m);
        } else if (p.bits == 8) {
            row[x] = std::uint8_t(v);
        } else {
            row[3 * x] = std::uint8_t(v);
            row[3 * x + 1] = std::uint8_t(v >> 8);
            row[3 * x + 2] = std::uint8_t(v >> 16);
        }
    }
}

void GetRow(Plain& p, int y, const std::uint8_t* row) {
    for (int x = 0; x < p.width; ++x) {
        if (p.bits == 1)
            p.At(x, y) = (row[x >> 3] >> (7 - (x & 7))) & 1;
        else if (p.bits == 8)
            p.At(x, y) = row[x];
        else
            p.At(x, y) = row[3 * x] | std::uint32_t(row[3 * x + 1]) << 8 |
                         std::uint32_t(row[3 * x + 2]) << 16;
    }
}

// ---- stores and bitmaps ----

// A store of the given size and depth whose resident budget holds
// `residentTiles` level-0 tiles.
std::unique_ptr<TUnionBitmap> MakeStore(int w, int h, int bits, const RGBQUAD* palette = nullptr,
                                        int residentTiles = 3) {
    auto store = std::make_unique<TUnionBitmap>();
    EXPECT_TRUE(store->Create(w, h, palette, bits));
    store->SetResidentBudget(std::uint64_t(residentTiles) * store->Status(0, 0).ByteSize);
    return store;
}

void Write(TUnionBitmap& store, const Plain& p) {
    ASSERT_EQ(store.Width(), p.width);
    ASSERT_EQ(store.Height(), p.height);
    ASSERT_TRUE(store.BeginRowAccess());
    for (int y = 0; y < p.height; ++y) {
        PutRow(p, y, store.ReadRow(y));
        store.WriteRow(y);
    }
    store.EndRowAccess();
    // Row access kept every tile it touched; the next operation brings them
    // back under the budget, paging as it goes.
    store.PageOutAll();
}

Plain Read(TUnionBitmap& store) {
    Plain p(store.Width(), store.Height(), store.BitsPerPixel());
    EXPECT_TRUE(store.BeginRowAccess());
    for (int y = 0; y < p.height; ++y)
        GetRow(p, y, store.ReadRow(y));
    store.EndRowAccess();
    store.PageOutAll();
    return p;
}

void Put(TQuillorBitmap& bitmap, const Plain& p, const RGBQUAD* palette = nullptr) {
    ASSERT_TRUE(bitmap.Create(p.width, p.height, palette, p.bits));
    const int stride = bitmap.BytesPerLine();
    std::vector<std::uint8_t> rows(std::size_t(stride) * p.height);
    for (int y = 0; y < p.height; ++y)
        PutRow(p, y, rows.data() + std::size_t(y) * stride);
    bitmap.PutRows(rows.data(), stride, false);
}

Plain Get(TQuillorBitmap& bitmap) {
    Plain p(bitmap.Width(), bitmap.Height(), bitmap.BitsPerPixel());
    const int stride = bitmap.BytesPerLine();
    std::vector<std::uint8_t> rows(std::size_t(stride) * p.height);
    bitmap.GetRows(rows.data(), stride, false);
    for (int y = 0; y < p.height; ++y)
        GetRow(p, y, rows.data() + std::size_t(y) * stride);
    return p;
}

// Empty when equal, else where and how they first differ.
std::string Diff(const Plain& got, const Plain& want) {
    if (got.width != want.width || got.height != want.height || got.bits != want.bits)
        return "shape " + std::to_string(got.width) + "x" + std::to_string(got.height) + "x" +
               std::to_string(got.bits) + " vs " + std::to_string(want.width) + "x" +
               std::to_string(want.height) + "x" + std::to_string(want.bits);
    for (int y = 0; y < got.height; ++y)
        for (int x = 0; x < got.width; ++x)
            if (got.At(x, y) != want.At(x, y))
                return "at (" + std::to_string(x) + ", " + std::to_string(y) +
                       "): " + std::to_string(got.At(x, y)) + " vs " +
                       std::to_string(want.At(x, y));
    return {};
}

// ---- reference raster operations on plain values ----

std::uint32_t Mask(int bits) {
    return bits == 1 ? 1u : bits == 8 ? 0xFFu : 0xFFFFFFu;
}

std::uint32_t Apply(DWORD rop, std::uint32_t d, std::uint32_t s, int bits) {
    const std::uint32_t m = Mask(bits);
    switch (rop) {
        case gdi::SRCCOPY:
            return s;
        case gdi::NOTSRCCOPY:
            return ~s & m;
        case gdi::SRCINVERT:
            return d ^ s;
        case gdi::SRCAND:
            return d & s;
        case gdi::SRCPAINT:
            return d | s;
        case gdi::WHITENESS:
            return m;
        default:
            ADD_FAILURE() << "no reference for rop " << rop;
            return d;
    }
}

std::uint32_t Bgr(const RGBQUAD& q) {
    return q.rgbBlue | std::uint32_t(q.rgbGreen) << 8 | std::uint32_t(q.rgbRed) << 16;
}

constexpr DWORD kRops[] = {gdi::SRCCOPY, gdi::NOTSRCCOPY, gdi::SRCINVERT, gdi::SRCAND,
                           gdi::SRCPAINT};

// The store <- bitmap row combinations of the row-wise copy, as the table
// gives them; false for a combination the table does not support.
bool RowReference(DWORD rop, int storeBits, int bitmapBits, std::uint32_t d, std::uint32_t s,
                  const RGBQUAD* palette, std::uint32_t* out) {
    if (std::find(std::begin(kRops), std::end(kRops), rop) == std::end(kRops))
        return false;
    if (storeBits == bitmapBits) {
        *out = Apply(rop, d, s, storeBits);
        return true;
    }
    if (storeBits == 24 && bitmapBits == 8) {
        *out = Apply(rop, d, Bgr(palette[s]), 24);
        return true;
    }
    if (storeBits == 24 && bitmapBits == 1) {
        switch (rop) {
            case gdi::SRCCOPY:
                *out = s ? 0xFFFFFF : 0;
                return true;
            case gdi::NOTSRCCOPY:
                *out = s ? 0 : 0xFFFFFF;
                return true;
            case gdi::SRCINVERT:
                *out = s ? ~d & 0xFFFFFF : d;
                return true;
            case gdi::SRCAND:
                *out = s ? d : 0;
                return true;
            default:
                return false;
        }
    }
    if (storeBits == 1 && bitmapBits == 8 && rop == gdi::SRCAND) {
        const RGBQUAD& q = palette[s];
        *out = (q.rgbBlue + q.rgbGreen + q.rgbRed) / 3 <= 127 ? 0 : d;
        return true;
    }
    return false;
}

// What a copy of the w x h rectangle at (sx, sy) of `source` onto (dx, dy)
// of `dest` gives, combining each pixel with `combine`; pixels whose source
// or destination lies outside stay.
template <typename F>
Plain Reference(const Plain& dest, const Plain& source, int dx, int dy, int sx, int sy, int w,
                int h, F combine) {
    Plain out = dest;
    for (int j = 0; j < h; ++j)
        for (int k = 0; k < w; ++k) {
            const int x = dx + k, y = dy + j;
            if (out.Inside(x, y) && source.Inside(sx + k, sy + j))
                out.At(x, y) = combine(out.At(x, y), source.At(sx + k, sy + j));
        }
    return out;
}

// Placements of a copy: destination, source, size.
struct Placement {
    int dx, dy, sx, sy, w, h;
};

// Negative destination origins, oversize and partial rectangles, a copy
// that starts on an odd bit of a 1-bit row.
constexpr Placement kPlacements[] = {
    {0, 0, 0, 0, 5000, 5000},
    {-37, -5, 11, 3, 700, 600},
    {413, 477, 0, 0, 2000, 2000},
    {3, 2, 5, 1, 517, 490},
};

class UnionBitmaps : public ::testing::Test {
  protected:
    std::string Put(const std::string& name, const std::string& bytes) {
        const std::string path = dir_.File(name);
        testsupport::WriteFile(path, bytes);
        return path;
    }
    testsupport::TempDir dir_;
};

// ---- device contexts ----

TEST_F(UnionBitmaps, DrawQuillorThroughContextsMatchesReference) {
    const auto palette = RandomPalette(1);
    for (int bits : {1, 8, 24}) {
        Plain want = RandomPlain(1060, 1001, bits, 10 + bits);
        const Plain src = RandomPlain(731, 523, bits, 20 + bits);
        TQuillorBitmap bitmap;
        ::Put(bitmap, src, bits == 8 ? palette.data() : nullptr);
        auto store = MakeStore(1060, 1001, bits, bits == 8 ? palette.data() : nullptr);
        Write(*store, want);
        // Every placement with a copy, every operation at a negative origin;
        // one after the other on the same store.
        std::vector<std::pair<DWORD, Placement>> steps;
        for (const Placement& p : kPlacements)
            steps.push_back({gdi::SRCCOPY, p});
        for (DWORD rop : kRops)
            steps.push_back({rop, kPlacements[1]});
        for (const auto& [rop, p] : steps) {
            SCOPED_TRACE(testing::Message() << "bits " << bits << " rop " << std::hex << rop
                                            << std::dec << " at " << p.dx << "," << p.dy);
            ASSERT_TRUE(store->DrawQuillor(p.dx, p.dy, rop, p.sy, p.sx, bitmap, p.h, p.w));
            EXPECT_LE(store->ResidentTiles(0).size(), 3u);
            want = Reference(want, src, p.dx, p.dy, p.sx, p.sy, p.w, p.h,
                             [&, rop = rop](std::uint32_t d, std::uint32_t s) {
                                 return Apply(rop, d, s, bits);
                             });
            EXPECT_EQ(Diff(Read(*store), want), "");
            EXPECT_FALSE(bitmap.InUse());
        }
    }
}

TEST_F(UnionBitmaps, DrawToQuillorMatchesReference) {
    for (int bits : {1, 8, 24}) {
        const Plain stored = RandomPlain(1060, 1001, bits, 30 + bits);
        const Plain base = RandomPlain(731, 523, bits, 40 + bits);
        auto store = MakeStore(1060, 1001, bits);
        Write(*store, stored);
        for (DWORD rop : {gdi::SRCCOPY, gdi::SRCINVERT}) {
            for (const Placement& p : kPlacements) {
                SCOPED_TRACE(testing::Message()
                             << "bits " << bits << " at " << p.dx << "," << p.dy);
                TQuillorBitmap bitmap;
                ::Put(bitmap, base);
                // Store (sx, sy) lands on bitmap (dx, dy).
                ASSERT_TRUE(store->DrawToQuillor(bitmap, p.dx, rop, p.sy, p.sx, p.h, p.w, p.dy));
                const Plain want = Reference(
                    base, stored, p.dx, p.dy, p.sx, p.sy, p.w, p.h,
                    [&](std::uint32_t d, std::uint32_t s) { return Apply(rop, d, s, bits); });
                EXPECT_EQ(Diff(Get(bitmap), want), "");
            }
        }
    }
    // Reading out of a store changes none of its tiles.
    auto blank = MakeStore(1060, 1001, 8);
    TQuillorBitmap bitmap;
    ASSERT_TRUE(bitmap.Create(1060, 1001, nullptr, 8));
    ASSERT_TRUE(blank->DrawToQuillor(bitmap, 0, gdi::SRCCOPY, 0, 0, 1001, 1060, 0));
    for (int tile = 0; tile < blank->TileCount(); ++tile)
        EXPECT_EQ(blank->Status(tile, 0).Blank, 1) << tile;
    EXPECT_EQ(Diff(Get(bitmap), Plain(1060, 1001, 8, 255)), "");
}

TEST_F(UnionBitmaps, BlitMarksOnlyTheTilesItDrawsInto) {
    auto store = MakeStore(1060, 1001, 8);
    TQuillorBitmap bitmap;
    ::Put(bitmap, RandomPlain(100, 100, 8, 5));
    // Inside tile 4 (the middle one) only.
    ASSERT_TRUE(store->DrawQuillor(500, 500, gdi::SRCCOPY, 0, 0, bitmap, 100, 100));
    for (int tile = 0; tile < store->TileCount(); ++tile) {
        EXPECT_EQ(store->Status(tile, 0).Blank, tile == 4 ? 0 : 1) << tile;
        EXPECT_EQ(store->Status(tile, 1).Stale, tile == 4 ? 1 : 0) << tile;
    }
    // Empty rectangles copy nothing and succeed.
    EXPECT_TRUE(store->DrawQuillor(0, 0, gdi::SRCCOPY, 0, 0, bitmap, 0, 100));
    EXPECT_TRUE(store->DrawQuillor(2000, 0, gdi::SRCCOPY, 0, 0, bitmap, 100, 100));
    EXPECT_EQ(store->Status(0, 0).Blank, 1);
}

TEST_F(UnionBitmaps, BlitFailuresAreReported) {
    const Plain base = RandomPlain(1060, 1001, 24, 50);
    auto store = MakeStore(1060, 1001, 24);
    Write(*store, base);
    TQuillorBitmap bitmap;
    ::Put(bitmap, RandomPlain(600, 600, 24, 51));

    // No source for an operation that needs one.
    EXPECT_FALSE(store->BlitDC(nullptr, 0, true, gdi::SRCCOPY, 0, 0, 100, 100, 0));
    // Tile 0's context is out: the tile can give no second one.
    HDC held = store->GetTileDC(0, 0);
    ASSERT_NE(held, nullptr);
    EXPECT_FALSE(store->DrawQuillor(0, 0, gdi::SRCCOPY, 0, 0, bitmap, 600, 600));
    EXPECT_FALSE(store->CopyFromQuillor(bitmap, gdi::SRCCOPY));
    TQuillorBitmap out;
    ASSERT_TRUE(out.Create(600, 600, nullptr, 24));
    EXPECT_FALSE(store->DrawToQuillor(out, 0, gdi::SRCCOPY, 0, 0, 600, 600, 0));
    EXPECT_FALSE(bitmap.InUse());
    EXPECT_FALSE(out.InUse());
    store->ReleaseTileDC(held, 0, 0);
    // The bitmap's context is out: nothing to draw into.
    HDC outDC = out.GetBitmapDC();
    EXPECT_FALSE(store->DrawToQuillor(out, 0, gdi::SRCCOPY, 0, 0, 600, 600, 0));
    out.ReleaseBitmapDC(outDC);

    // An operation without a source needs no context.
    EXPECT_TRUE(store->BlitDC(nullptr, 10, true, gdi::WHITENESS, 0, 0, 600, 600, 20));
    const Plain want = Reference(base, Plain(600, 600, 24), 10, 20, 0, 0, 600, 600,
                                 [](std::uint32_t, std::uint32_t) { return 0xFFFFFFu; });
    EXPECT_EQ(Diff(Read(*store), want), "");
}

// ---- the row-wise copy ----

TEST_F(UnionBitmaps, CopyQuillorRowsFollowsItsTable) {
    auto palette = RandomPalette(2);
    // Greys on either side of the 1 <- 8 threshold: 127 clears, 128 keeps.
    palette[0] = RGBQUAD{127, 127, 127, 0};
    palette[1] = RGBQUAD{129, 127, 127, 0};
    palette[2] = RGBQUAD{128, 128, 128, 0};
    constexpr DWORD kAll[] = {gdi::SRCCOPY, gdi::NOTSRCCOPY, gdi::SRCINVERT,
                              gdi::SRCAND,  gdi::SRCPAINT,   gdi::WHITENESS};
    constexpr Placement kRowPlacements[] = {
        {3, 2, 5, 1, 590, 480},      // odd bits on both sides, across tile edges
        {13, 7, 5, 2, 517, 50},      // the same odd bit of a byte on both sides
        {16, 9, 8, 4, 483, 30},      // whole bytes on both sides
        {-7, 0, 2, 0, 300, 40},      // left of the store: only what lands inside
        {250, 300, 0, 0, 999, 999},  // larger than both
    };
    for (int storeBits : {1, 8, 24}) {
        for (int bitmapBits : {1, 8, 24}) {
            const Plain src = RandomPlain(611, 499, bitmapBits, 70 + bitmapBits);
            TQuillorBitmap bitmap;
            ::Put(bitmap, src, bitmapBits == 8 ? palette.data() : nullptr);
            Plain want = RandomPlain(601, 487, storeBits, 60 + storeBits);
            auto store = MakeStore(601, 487, storeBits, nullptr, 1);
            Write(*store, want);
            for (DWORD rop : kAll) {
                std::uint32_t probe;
                const bool supported =
                    RowReference(rop, storeBits, bitmapBits, 0, 0, palette.data(), &probe);
                SCOPED_TRACE(testing::Message()
                             << storeBits << " <- " << bitmapBits << " rop " << std::hex << rop);
                // The placements one after the other; the store is compared
                // with the reference after the last.
                for (const Placement& p : kRowPlacements) {
                    EXPECT_EQ(store->CopyQuillorRows(p.dx, p.dy, rop, p.sy, p.sx, bitmap, p.h, p.w),
                              supported);
                    if (supported) {
                        int dx = p.dx, sx = p.sx, w = p.w;
                        if (dx < 0) {
                            sx -= dx;
                            w += dx;
                            dx = 0;
                        }
                        want = Reference(want, src, dx, p.dy, sx, p.sy, w, p.h,
                                         [&](std::uint32_t d, std::uint32_t s) {
                                             std::uint32_t v = d;
                                             RowReference(rop, storeBits, bitmapBits, d, s,
                                                          palette.data(), &v);
                                             return v;
                                         });
                    }
                }
                EXPECT_EQ(Diff(Read(*store), want), "");
            }
        }
    }
}

TEST_F(UnionBitmaps, CopyQuillorRowsRefusesWhatItCannotPlace) {
    auto store = MakeStore(601, 487, 8);
    TQuillorBitmap bitmap;
    ::Put(bitmap, RandomPlain(50, 50, 8, 3));
    EXPECT_FALSE(store->CopyQuillorRows(0, 0, gdi::SRCCOPY, 0, -1, bitmap, 10, 10));
    EXPECT_FALSE(store->CopyQuillorRows(0, 0, gdi::SRCCOPY, 0, 0, bitmap, 0, 10));
    EXPECT_FALSE(store->CopyQuillorRows(601, 0, gdi::SRCCOPY, 0, 0, bitmap, 10, 10));
    EXPECT_FALSE(store->CopyQuillorRows(0, 0, gdi::SRCCOPY, 50, 0, bitmap, 10, 10));
    EXPECT_FALSE(store->CopyQuillorRows(-60, 0, gdi::SRCCOPY, 0, 0, bitmap, 10, 60));
    for (int tile = 0; tile < store->TileCount(); ++tile)
        EXPECT_EQ(store->Status(tile, 0).Blank, 1);
}

TEST_F(UnionBitmaps, CopyFromQuillorTakesContextsOrRowsAndTheUserFlag) {
    const auto palette = RandomPalette(4);
    const Plain base = RandomPlain(1060, 1001, 24, 80);
    const Plain src = RandomPlain(1201, 517, 8, 81);
    for (bool contextOut : {false, true}) {
        SCOPED_TRACE(contextOut ? "rows" : "contexts");
        auto store = MakeStore(1060, 1001, 24);
        Write(*store, base);
        TQuillorBitmap bitmap;
        ::Put(bitmap, src, palette.data());
        bitmap.SetUserFlag(7);
        HDC held = contextOut ? bitmap.GetBitmapDC() : nullptr;
        ASSERT_TRUE(store->CopyFromQuillor(bitmap, gdi::SRCCOPY));
        bitmap.ReleaseBitmapDC(held);
        const Plain want =
            Reference(base, src, 0, 0, 0, 0, src.width, src.height,
                      [&](std::uint32_t, std::uint32_t s) { return Bgr(palette[s]); });
        EXPECT_EQ(Diff(Read(*store), want), "");
        EXPECT_EQ(store->UserFlag(), 7);
        EXPECT_EQ(store->Tile(8, 0)->UserFlag(), 7);
    }
}

// ---- resizes ----

void SetSelection(TUnionBitmap& store, const QRegion& region) {
    ASSERT_NE(store.RegionHolder(), nullptr);
    ASSERT_EQ(store.RegionHolder()->SetRegion(region, im::kRegionSet), 1);
}

QRegion Selection(TUnionBitmap& store) {
    if (store.RegionHolder() == nullptr)
        return QRegion();
    return store.RegionHolder()->GetRegion(false).value_or(QRegion());
}

Plain Crop(const Plain& p, int w, int h, std::uint32_t fill) {
    Plain out(w, h, p.bits, fill);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (p.Inside(x, y))
                out.At(x, y) = p.At(x, y);
    return out;
}

TEST_F(UnionBitmaps, ResizeCanvasLargerGivesRealPixelsOfTheNewColour) {
    const Plain base = RandomPlain(1060, 1001, 24, 90);
    auto store = MakeStore(1060, 1001, 24);
    Write(*store, base);
    SetSelection(*store, QRegion(900, 800, 150, 150));
    ASSERT_TRUE(store->ResizeCanvas(1500, 1450, 0x000000FF));
    EXPECT_EQ(store->BlankColor(), 0x000000FFu);
    EXPECT_EQ(Diff(Read(*store), Crop(base, 1500, 1450, 0xFF0000)), "");
    // Tiles that start beyond the old size hold pixels, not blank flags.
    for (int tile = 0; tile < store->TileCount(); ++tile) {
        const RECT& r = store->TileRect(tile, 0);
        EXPECT_EQ(store->Status(tile, 0).Blank, 0) << tile << " at " << r.left << "," << r.top;
    }
    EXPECT_EQ(Selection(*store), QRegion(900, 800, 150, 150));
    // The reduced levels follow the new content.
    HDC dc = store->GetTileDC(15, 1);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(gdi::GetPixel(dc, 0, 0), gdi::RGB(255, 0, 0));
    store->ReleaseTileDC(dc, 15, 1);
}

TEST_F(UnionBitmaps, ResizeCanvasAndResizeFromAtEveryDepth) {
    struct Case {
        int bits, w, h;
        std::uint32_t colour;  // the new blank colour
        std::uint32_t fill;    // the value it gives at that depth
    };
    const Case cases[] = {
        {1, 1500, 1100, 0x00000000, 0},         {1, 700, 1300, 0x00FFFFFF, 1},
        {8, 1500, 1100, 0x01000007, 7},         {8, 700, 1300, 0x00FFFFFF, 255},
        {24, 1500, 1100, 0x00336699, 0x996633}, {24, 700, 523, 0x00FFFFFF, 0xFFFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bits << " bits to " << c.w << "x" << c.h);
        const Plain base = RandomPlain(1060, 1001, c.bits, 120 + c.bits);
        auto store = MakeStore(1060, 1001, c.bits);
        Write(*store, base);
        TUnionBitmap copy;
        copy.SetResidentBudget(3 * 480 * std::uint64_t(RowBytes(480, c.bits)));
        ASSERT_TRUE(copy.ResizeFrom(*store, c.w, c.colour, c.h));
        EXPECT_EQ(Diff(Read(copy), Crop(base, c.w, c.h, c.fill)), "");
        ASSERT_TRUE(store->ResizeCanvas(c.w, c.h, c.colour));
        EXPECT_EQ(Diff(Read(*store), Crop(base, c.w, c.h, c.fill)), "");
    }
}

TEST_F(UnionBitmaps, ResizeCanvasSmallerKeepsPaletteAndClipsSelection) {
    const auto palette = RandomPalette(5);
    const Plain base = RandomPlain(1060, 1001, 8, 91);
    auto store = MakeStore(1060, 1001, 8, palette.data());
    Write(*store, base);
    store->SetUserFlag(3);
    SetSelection(*store, QRegion(600, 400, 300, 300) + QRegion(10, 10, 5, 5));
    ASSERT_TRUE(store->ResizeCanvas(701, 523, 0x010000FF));
    ASSERT_NE(store->Palette(), nullptr);
    EXPECT_EQ(std::memcmp(store->Palette(), palette.data(), sizeof palette), 0);
    EXPECT_EQ(Diff(Read(*store), Crop(base, 701, 523, 0)), "");
    EXPECT_EQ(Selection(*store), QRegion(600, 400, 101, 123) + QRegion(10, 10, 5, 5));
    EXPECT_EQ(store->UserFlag(), 3);
    EXPECT_FALSE(store->ResizeCanvas(0, 10, 0));
    EXPECT_EQ(store->Width(), 701);
}

TEST_F(UnionBitmaps, ResizeCanvasKeepsBlankContentInItsOwnColour) {
    // A store that was never painted is white; growing it with a red new
    // area leaves the old area white.
    for (bool sameSize : {false, true}) {
        SCOPED_TRACE(sameSize ? "same size" : "larger");
        auto store = MakeStore(1060, 1001, 24);
        const int w = sameSize ? 1060 : 1300, h = sameSize ? 1001 : 1100;
        ASSERT_TRUE(store->ResizeCanvas(w, h, 0x000000FF));
        const Plain want = Crop(Plain(1060, 1001, 24, 0xFFFFFF), w, h, 0xFF0000);
        EXPECT_EQ(Diff(Read(*store), want), "");
    }
}

TEST_F(UnionBitmaps, ResizeCanvasCreatesAStoreNotYetCreated) {
    TUnionBitmap store;
    store.SetBitsPerPixel(24);
    ASSERT_TRUE(store.ResizeCanvas(500, 481, 0x0000FF00));
    EXPECT_EQ(Diff(Read(store), Plain(500, 481, 24, 0x00FF00)), "");
    for (int tile = 0; tile < store.TileCount(); ++tile)
        EXPECT_EQ(store.Status(tile, 0).Blank, 0);
}

TEST_F(UnionBitmaps, ResizeFromCopiesContentPaletteAndSelection) {
    const auto palette = RandomPalette(6);
    const Plain base = RandomPlain(1060, 1001, 8, 92);
    auto source = MakeStore(1060, 1001, 8, palette.data());
    Write(*source, base);
    SetSelection(*source, QRegion(900, 100, 160, 50));
    struct Case {
        int w, h;
    };
    for (const Case& c : {Case{1060, 1001}, Case{1201, 487}, Case{1000, 120}}) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        TUnionBitmap store;
        store.SetResidentBudget(3 * 480 * 480);
        ASSERT_TRUE(store.ResizeFrom(*source, c.w, 0x010000FF, c.h));
        ASSERT_NE(store.Palette(), nullptr);
        EXPECT_EQ(std::memcmp(store.Palette(), palette.data(), sizeof palette), 0);
        EXPECT_EQ(store.BlankColor(), 0x010000FFu);
        EXPECT_EQ(Diff(Read(store), Crop(base, c.w, c.h, 255)), "");
        EXPECT_EQ(Selection(store), QRegion(900, 100, 160, 50) & QRegion(0, 0, c.w, c.h));
        // The source keeps its own.
        EXPECT_EQ(Selection(*source), QRegion(900, 100, 160, 50));
    }
    EXPECT_FALSE(TUnionBitmap().ResizeFrom(*source, 10, 0, 0));
}

TEST_F(UnionBitmaps, ResizeFromA24BitSourceMaterialisesTheNewArea) {
    const Plain base = RandomPlain(601, 487, 24, 93);
    auto source = MakeStore(601, 487, 24);
    Write(*source, base);
    TUnionBitmap store;
    ASSERT_TRUE(store.ResizeFrom(*source, 1100, 0x00000080, 1000));
    EXPECT_EQ(Diff(Read(store), Crop(base, 1100, 1000, 0x800000)), "");
    for (int tile = 0; tile < store.TileCount(); ++tile)
        EXPECT_EQ(store.Status(tile, 0).Blank, 0) << tile;
}

// ---- stretches ----

Plain NearestReference(const Plain& p, int w, int h) {
    Plain out(w, h, p.bits);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            out.At(x, y) =
                p.At(int(std::int64_t(x) * p.width / w), int(std::int64_t(y) * p.height / h));
    return out;
}

TEST_F(UnionBitmaps, StretchToTheSameSizeDoesNothing) {
    const Plain base = RandomPlain(1060, 1001, 8, 94);
    auto store = MakeStore(1060, 1001, 8);
    Write(*store, base);
    for (int tile = 0; tile < store->TileCount(); ++tile)
        store->Status(tile, 0).Changed = 0;
    for (bool smooth : {false, true}) {
        EXPECT_TRUE(store->Stretch(1060, 1001, smooth));
        for (int tile = 0; tile < store->TileCount(); ++tile)
            EXPECT_EQ(store->Status(tile, 0).Changed, 0);
    }
    EXPECT_EQ(Diff(Read(*store), base), "");
    EXPECT_FALSE(store->Stretch(0, 5, false));
    // An empty store has nothing to scale: it only takes the new size.
    TUnionBitmap empty;
    ASSERT_TRUE(empty.Create(0, 0, nullptr, 8));
    for (bool smooth : {false, true}) {
        ASSERT_TRUE(empty.Stretch(31 + smooth, 17, smooth));
        EXPECT_EQ(empty.Width(), 31 + smooth);
    }
}

TEST_F(UnionBitmaps, StretchScalesContentAndSelectionAndKeepsThePalette) {
    const auto palette = RandomPalette(7);
    struct Case {
        int bits;
        bool smooth;
        int w, h;
    };
    // Smooth stretches of indexed stores take the nearest pixel as well.
    const Case cases[] = {{1, false, 1501, 707},
                          {8, false, 1501, 707},
                          {24, false, 523, 1211},
                          {8, true, 733, 1100},
                          {1, true, 733, 1100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bits << " bits, smooth " << c.smooth);
        const Plain base = RandomPlain(1060, 1001, c.bits, 95 + c.bits);
        auto store = MakeStore(1060, 1001, c.bits, c.bits == 8 ? palette.data() : nullptr);
        Write(*store, base);
        store->SetUserFlag(5);
        SetSelection(*store, QRegion(100, 200, 200, 300));
        ASSERT_TRUE(store->Stretch(c.w, c.h, c.smooth));
        EXPECT_EQ(Diff(Read(*store), NearestReference(base, c.w, c.h)), "");
        if (c.bits == 8) {
            ASSERT_NE(store->Palette(), nullptr);
            EXPECT_EQ(std::memcmp(store->Palette(), palette.data(), sizeof palette), 0);
        }
        const QRect want(QPoint(100 * c.w / 1060, 200 * c.h / 1001),
                         QPoint(300 * c.w / 1060 - 1, 500 * c.h / 1001 - 1));
        EXPECT_EQ(Selection(*store), QRegion(want));
        EXPECT_EQ(store->UserFlag(), 5);
    }
}

TEST_F(UnionBitmaps, SmoothStretchOfColourMatchesTheBitmapResize) {
    const Plain base = RandomPlain(1060, 1001, 24, 96);
    auto store = MakeStore(1060, 1001, 24);
    Write(*store, base);
    ASSERT_TRUE(store->Stretch(1301, 517, true));
    TQuillorBitmap reference;
    ::Put(reference, base);
    ASSERT_TRUE(reference.Resize(1301, 517, true));
    const Plain want = Get(reference);
    EXPECT_EQ(Diff(Read(*store), want), "");
    EXPECT_NE(Diff(want, NearestReference(base, 1301, 517)), "");
}

// ---- files ----

std::vector<imagefiles::Rgb> TableOf(const std::array<RGBQUAD, 256>& palette) {
    std::vector<imagefiles::Rgb> table;
    for (const RGBQUAD& q : palette)
        table.push_back({q.rgbRed, q.rgbGreen, q.rgbBlue});
    return table;
}

// File rows of a plain image (24 bits as blue, green, red, or red, green,
// blue for PNG).
std::vector<std::string> FileRows(const Plain& p, bool rgbOrder = false) {
    std::vector<std::string> rows;
    for (int y = 0; y < p.height; ++y) {
        std::string row(std::size_t((p.width * p.bits + 7) / 8), '\0');
        auto* bytes = reinterpret_cast<std::uint8_t*>(row.data());
        if (p.bits == 24 && rgbOrder) {
            for (int x = 0; x < p.width; ++x) {
                const std::uint32_t v = p.At(x, y);
                bytes[3 * x] = std::uint8_t(v >> 16);
                bytes[3 * x + 1] = std::uint8_t(v >> 8);
                bytes[3 * x + 2] = std::uint8_t(v);
            }
        } else {
            std::vector<std::uint8_t> padded(std::size_t(RowBytes(p.width, p.bits)) + 4);
            PutRow(p, y, padded.data());
            std::memcpy(bytes, padded.data(), row.size());
        }
        rows.push_back(row);
    }
    return rows;
}

std::string BmpOf(const Plain& p, const std::vector<imagefiles::Rgb>& table,
                  std::int32_t pixelsPerMetre = 0) {
    imagefiles::BmpLayout layout;
    layout.width = p.width;
    layout.height = p.height;
    layout.bits = p.bits;
    layout.table = table;
    layout.rows = FileRows(p);
    layout.pixelsPerMetre = pixelsPerMetre;
    return imagefiles::Bmp(layout);
}

TEST_F(UnionBitmaps, LoadFromFileTakesEachRoute) {
    const auto palette = RandomPalette(8);
    std::array<RGBQUAD, 256> ramp{};
    for (int i = 0; i < 256; ++i)
        ramp[i] = RGBQUAD{std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), 0};
    const Plain indexed = RandomPlain(1060, 1001, 8, 97);
    const Plain colour = RandomPlain(1060, 1001, 24, 98);
    const Plain mono = RandomPlain(1001, 487, 1, 99);
    const Plain narrow = RandomPlain(1061, 703, 8, 100);  // rows padded in memory
    Plain inverted = mono;
    for (auto& v : inverted.px)
        v ^= 1;
    const std::vector<std::uint8_t> grey(narrow.px.begin(), narrow.px.end());
    struct Case {
        const char* name;
        std::string bytes;
        const Plain* want;
        int resolution;
        const std::array<RGBQUAD, 256>* palette;
    };
    const Case cases[] = {
        // Read by rectangles.
        {"indexed.bmp", BmpOf(indexed, TableOf(palette), 11811), &indexed, 300, &palette},
        {"colour.bmp", BmpOf(colour, {}), &colour, 150, nullptr},
        {"mono.bmp", BmpOf(mono, {{0, 0, 0}, {255, 255, 255}}), &mono, 150, nullptr},
        // A white-on-black table: the store shows the same picture.
        {"inverted.bmp", BmpOf(inverted, {{255, 255, 255}, {0, 0, 0}}), &mono, 150, nullptr},
        {"grey.tif", imagefiles::TiledGreyTiff(narrow.width, narrow.height, 64, 48, grey), &narrow,
         300, &ramp},
        // Whole, decoded by another reader.
        {"indexed.png",
         imagefiles::Png(narrow.width, narrow.height, 8, 3, TableOf(palette), FileRows(narrow)),
         &narrow, 150, &palette},
        {"colour.png",
         imagefiles::Png(colour.width, colour.height, 8, 2, {}, FileRows(colour, true), 3937),
         &colour, 100, nullptr},
    };
    for (const Case& c : cases) {
        // Without a budget rectangles are bands of whole rows; with room for
        // two tiles they are single tiles.
        for (int residentTiles : {0, 2}) {
            SCOPED_TRACE(testing::Message() << c.name << " with " << residentTiles << " tiles");
            const std::string path = Put(c.name, c.bytes);
            TUnionBitmap store;
            store.SetResidentBudget(std::uint64_t(residentTiles) * 480 *
                                    RowBytes(480, c.want->bits));
            ASSERT_EQ(store.LoadFromFile(path), 1);
            EXPECT_EQ(Diff(Read(store), *c.want), "");
            EXPECT_EQ(store.Resolution(), c.resolution);
            if (c.palette != nullptr) {
                ASSERT_NE(store.Palette(), nullptr);
                for (int i = 0; i < 256; ++i)
                    EXPECT_EQ(Bgr(store.Palette()[i]), Bgr((*c.palette)[i])) << i;
            }
        }
    }
}

TEST_F(UnionBitmaps, LoadFromFileOfAGifLoadsItWhole) {
    const auto palette = RandomPalette(9);
    const Plain p = RandomPlain(301, 177, 8, 100);
    std::vector<std::uint8_t> indices(p.px.begin(), p.px.end());
    const std::string path =
        Put("a.gif", imagefiles::LzwGif(p.width, p.height, TableOf(palette), indices, false));
    TUnionBitmap store;
    ASSERT_EQ(store.LoadFromFile(path), 1);
    EXPECT_EQ(Diff(Read(store), p), "");
    ASSERT_NE(store.Palette(), nullptr);
    EXPECT_EQ(Bgr(store.Palette()[17]), Bgr(palette[17]));
}

TEST_F(UnionBitmaps, LoadFromFileFailsOnDamagedFiles) {
    const auto palette = RandomPalette(10);
    const Plain indexed = RandomPlain(1060, 1001, 8, 101);
    const Plain colour = RandomPlain(700, 300, 24, 102);
    std::vector<imagefiles::Rgb> grey;
    const std::string indexedBmp = BmpOf(indexed, TableOf(palette));
    const std::string colourBmp = BmpOf(colour, {});
    const std::string indexedPng =
        imagefiles::Png(indexed.width, indexed.height, 8, 3, TableOf(palette), FileRows(indexed));
    const std::string colourPng =
        imagefiles::Png(colour.width, colour.height, 8, 2, {}, FileRows(colour, true));
    const std::pair<const char*, std::string> cases[] = {
        {"indexed.bmp", indexedBmp.substr(0, indexedBmp.size() / 2)},
        {"colour.bmp", colourBmp.substr(0, colourBmp.size() / 2)},
        {"indexed.png", indexedPng.substr(0, indexedPng.size() / 2)},
        {"colour.png", colourPng.substr(0, colourPng.size() / 2)},
        {"empty.png", ""},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        TUnionBitmap store;
        EXPECT_EQ(store.LoadFromFile(Put(name, bytes)), 0);
    }
    EXPECT_EQ(TUnionBitmap().LoadFromFile(dir_.File("missing.png")), 0);

    // A header that claims a million pixels each way over a few bytes of
    // pixels is refused before anything is laid out for it; the store keeps
    // what it held.
    imagefiles::BmpLayout claim;
    claim.width = 4;
    claim.height = 2;
    claim.bits = 24;
    claim.rows = {std::string(12, '\x7f'), std::string(12, '\x7f')};
    claim.claimedWidth = 1000000;
    claim.claimedHeight = 1000000;
    const Plain kept = RandomPlain(601, 487, 8, 103);
    auto store = MakeStore(601, 487, 8);
    Write(*store, kept);
    EXPECT_EQ(store->LoadFromFile(Put("claim.bmp", imagefiles::Bmp(claim))), 0);
    EXPECT_EQ(store->LoadFromFile(Put("claim.png", imagefiles::Png(1000000, 1000000, 8, 2, {},
                                                                   {std::string(12, '\x7f')}))),
              0);
    EXPECT_EQ(Diff(Read(*store), kept), "");
}

TEST_F(UnionBitmaps, LoadFileInChunksCoversTheWholeImage) {
    struct Case {
        int w, h, chunks;
    };
    // 1001 x 600 in two chunks of 500 and 501 columns, then in four; an odd
    // height in eight.
    for (const Case& c : {Case{1001, 600, 1}, Case{1001, 600, 2}, Case{1001, 600, 4},
                          Case{1001, 601, 8}, Case{1001, 601, 3}}) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " in " << c.chunks);
        const Plain colour = RandomPlain(c.w, c.h, 24, 103 + c.chunks);
        const std::string path =
            Put("chunks.png", imagefiles::Png(c.w, c.h, 8, 2, {}, FileRows(colour, true)));
        TUnionBitmap store;
        store.SetResidentBudget(2 * 480 * 480 * 3);
        ASSERT_EQ(store.LoadFileInChunks(path, c.chunks), 0);
        EXPECT_EQ(Diff(Read(store), colour), "");
    }
}

TEST_F(UnionBitmaps, LoadFileInChunksRetriesWithMoreChunksDownToTheFloor) {
    const Plain colour = RandomPlain(1001, 600, 24, 110);
    const std::string whole = BmpOf(colour, {});
    const std::string good = Put("good.bmp", whole);
    // The rows at the end of a bottom-up file are the top of the image.
    const std::string cut = Put("cut.bmp", whole.substr(0, whole.size() - 3 * 1004 * 10));
    TUnionBitmap store;
    // Chunks of 600600 pixels and of 300300 are worth splitting.
    EXPECT_EQ(store.LoadFileInChunks(cut, 1), 2);
    EXPECT_EQ(store.LoadFileInChunks(cut, 2), 4);
    // 1001 x 600 in 32 chunks: 125 x 150 pixels each, below the floor.
    EXPECT_EQ(store.LoadFileInChunks(cut, 32), -2);
    // However many chunks are asked for, none is split below the smallest.
    EXPECT_EQ(store.LoadFileInChunks(cut, 1 << 30), -2);
    EXPECT_EQ(store.LoadFileInChunks(dir_.File("missing.bmp"), 1), -1);
    EXPECT_EQ(store.LoadFromFile(cut), 0);

    // A chunk that cannot be drawn into the store counts as a failure too,
    // with the same floor.
    HDC held = store.GetTileDC(0, 0);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(store.LoadFileInChunks(good, 1), 2);
    EXPECT_EQ(store.LoadFileInChunks(good, 32), -2);
    store.ReleaseTileDC(held, 0, 0);
    ASSERT_EQ(store.LoadFileInChunks(good, 32), 0);
    EXPECT_EQ(Diff(Read(store), colour), "");
    ASSERT_EQ(store.LoadFileInChunks(good, 1 << 30), 0);
    EXPECT_EQ(Diff(Read(store), colour), "");
}

}  // namespace
