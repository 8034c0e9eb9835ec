// The union store's operations against plain arrays: every result is
// compared pixel for pixel with a straightforward computation on a copy of
// the pixels, on stores of a few tiles of odd sizes whose resident budget is
// two tiles, paged out before each operation.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/Gdi.h"
#include "raster/Tqunion.h"

namespace quillor {
namespace {

namespace gdi = platform::gdi;

constexpr DWORD kOps[] = {gdi::SRCCOPY, gdi::SRCPAINT, gdi::SRCAND, gdi::NOTSRCCOPY};

std::string RopName(DWORD rop) {
    switch (rop) {
        case gdi::SRCCOPY:
            return "SRCCOPY";
        case gdi::SRCPAINT:
            return "SRCPAINT";
        case gdi::SRCAND:
            return "SRCAND";
        case gdi::NOTSRCCOPY:
            return "NOTSRCCOPY";
        default:
            return "rop";
    }
}

// A palette whose only pure white entry is 255, so that the default blank
// colour is index 255.
std::array<RGBQUAD, 256> TestPalette() {
    std::array<RGBQUAD, 256> p{};
    for (int i = 0; i < 255; ++i)
        p[std::size_t(i)] =
            RGBQUAD{std::uint8_t(i), std::uint8_t(200 - i / 2), std::uint8_t(i * 7), 0};
    p[255] = RGBQUAD{255, 255, 255, 0};
    return p;
}
const std::array<RGBQUAD, 256> kPalette = TestPalette();

// Raw pixels: an index, a bit, or blue | green << 8 | red << 16.
struct Img {
    int w = 0, h = 0, bits = 8;
    std::vector<std::uint32_t> px;
    std::uint32_t& at(int x, int y) { return px[std::size_t(y) * std::size_t(w) + std::size_t(x)]; }
    std::uint32_t at(int x, int y) const {
        return px[std::size_t(y) * std::size_t(w) + std::size_t(x)];
    }
    bool operator==(const Img&) const = default;
};

std::uint32_t Mask(int bits) {
    return bits == 1 ? 1u : bits == 8 ? 0xFFu : 0xFFFFFFu;
}

std::uint32_t GetRaw(const std::uint8_t* row, int bits, int x) {
    if (bits == 1)
        return (row[x >> 3] >> (7 - (x & 7))) & 1;
    if (bits == 8)
        return row[x];
    const std::uint8_t* p = row + 3 * x;
    return p[0] | p[1] << 8 | p[2] << 16;
}

void PutRaw(std::uint8_t* row, int bits, int x, std::uint32_t v) {
    if (bits == 1) {
        const std::uint8_t m = std::uint8_t(0x80 >> (x & 7));
        row[x >> 3] = v ? std::uint8_t(row[x >> 3] | m) : std::uint8_t(row[x >> 3] & ~m);
    } else if (bits == 8) {
        row[x] = std::uint8_t(v);
    } else {
        row[3 * x] = std::uint8_t(v);
        row[3 * x + 1] = std::uint8_t(v >> 8);
        row[3 * x + 2] = std::uint8_t(v >> 16);
    }
}

Img ReadStore(TUnionBitmap& s) {
    Img img{s.Width(), s.Height(), s.BitsPerPixel(), {}};
    img.px.resize(std::size_t(img.w) * std::size_t(img.h));
    EXPECT_TRUE(s.BeginRowAccess());
    for (int y = 0; y < img.h; ++y) {
        const std::uint8_t* row = s.ReadRow(y);
        for (int x = 0; x < img.w; ++x)
            img.at(x, y) = GetRaw(row, img.bits, x);
    }
    s.EndRowAccess();
    return img;
}

// Writes the image, leaving the tiles in `blank` untouched.
void WriteStore(TUnionBitmap& s, const Img& img, const std::set<int>& blank = {}) {
    ASSERT_TRUE(s.BeginRowAccess());
    for (int y = 0; y < img.h; ++y) {
        std::uint8_t* row = s.ReadRow(y);
        for (int x = 0; x < img.w; ++x)
            PutRaw(row, img.bits, x, img.at(x, y));
        for (int c = 0; c < s.TileColumns(); ++c) {
            if (blank.count(s.TileIndexAt(c * 480, y)))
                continue;
            s.WriteRowSpan(y, c * 480, std::min(480, img.w - c * 480));
        }
    }
    s.EndRowAccess();
}

// The raw value of the default blank colour (white) at each depth.
std::uint32_t WhiteRaw(int bits) {
    return bits == 8 ? 255u : Mask(bits);
}

struct Fixture {
    std::unique_ptr<TUnionBitmap> store;
    Img img;  // what the store holds
};

// A store of random pixels whose tiles in `blank` were never written (they
// hold the blank colour, white), paged out with a budget of two tiles.
Fixture MakeStore(int w, int h, int bits, unsigned seed, std::set<int> blank = {},
                  bool palette = true) {
    Fixture f;
    f.store = std::make_unique<TUnionBitmap>();
    EXPECT_TRUE(f.store->Create(w, h, bits == 8 && palette ? kPalette.data() : nullptr, bits));
    f.store->SetResidentBudget(std::uint64_t(f.store->Status(0, 0).ByteSize) * 2);
    f.img = Img{w, h, bits, {}};
    f.img.px.resize(std::size_t(w) * std::size_t(h));
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            f.img.at(x, y) =
                blank.count(f.store->TileIndexAt(x, y)) ? WhiteRaw(bits) : (rng() & Mask(bits));
    WriteStore(*f.store, f.img, blank);
    f.store->PageOutAll();
    return f;
}

enum class Op { Copy, Paint, And, Not };
Op OpOf(DWORD rop) {
    return rop == gdi::SRCCOPY    ? Op::Copy
           : rop == gdi::SRCPAINT ? Op::Paint
           : rop == gdi::SRCAND   ? Op::And
                                  : Op::Not;
}

// The row table of rectangle copies: destination <- source; none where the
// combination is not supported.
std::optional<std::uint32_t> RefPixel(int db, int sb, Op op, std::uint32_t d, std::uint32_t s,
                                      const RGBQUAD* pal) {
    if (db == sb) {
        const std::uint32_t m = Mask(db);
        switch (op) {
            case Op::Copy:
                return s;
            case Op::Paint:
                return d | s;
            case Op::And:
                return d & s;
            case Op::Not:
                return ~s & m;
        }
    }
    if (db == 24 && sb == 8 && op == Op::Copy) {
        const RGBQUAD& q = pal[s];
        return std::uint32_t(q.rgbBlue) | std::uint32_t(q.rgbGreen) << 8 |
               std::uint32_t(q.rgbRed) << 16;
    }
    if (db == 24 && sb == 1 && op == Op::And)
        return s ? d : 0u;
    if (db == 24 && sb == 1 && op == Op::Not)
        return s ? 0u : 0xFFFFFFu;
    if (db == 1 && sb == 8 && op == Op::And)
        return s >= 254 ? d : 0u;
    return std::nullopt;
}

bool Supported(int db, int sb, Op op) {
    return RefPixel(db, sb, op, 0, 0, kPalette.data()).has_value();
}

// A rectangle copy computed on the arrays (the source read as it was before).
void RefCopyRect(Img& dst, const Img src, int dx, int dy, int sx, int sy, int w, int h, Op op,
                 const RGBQUAD* pal) {
    if (sx < 0)
        dx -= sx, w += sx, sx = 0;
    if (sy < 0)
        dy -= sy, h += sy, sy = 0;
    if (dx < 0)
        sx -= dx, w += dx, dx = 0;
    if (dy < 0)
        sy -= dy, h += dy, dy = 0;
    w = std::min({w, dst.w - dx, src.w - sx});
    h = std::min({h, dst.h - dy, src.h - sy});
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            dst.at(dx + x, dy + y) = *RefPixel(dst.bits, src.bits, op, dst.at(dx + x, dy + y),
                                               src.at(sx + x, sy + y), pal);
}

void RefStretch(Img& dst, const Img src, int dx, int dy, int sx, int sy, int sw, int sh, int w,
                int h, Op op) {
    for (int j = 0; j < h; ++j) {
        const std::int64_t y = dy + j, syy = sy + std::int64_t(j) * sh / h;
        if (y < 0 || y >= dst.h || syy < 0 || syy >= src.h)
            continue;
        for (int k = 0; k < w; ++k) {
            const std::int64_t x = dx + k, sxx = sx + std::int64_t(k) * sw / w;
            if (x < 0 || x >= dst.w || sxx < 0 || sxx >= src.w)
                continue;
            dst.at(int(x), int(y)) = *RefPixel(dst.bits, src.bits, op, dst.at(int(x), int(y)),
                                               src.at(int(sxx), int(syy)), kPalette.data());
        }
    }
}

// Where two images differ first, for the failure message.
std::string FirstDifference(const Img& a, const Img& b) {
    if (a.w != b.w || a.h != b.h)
        return "sizes differ";
    for (int y = 0; y < a.h; ++y)
        for (int x = 0; x < a.w; ++x)
            if (a.at(x, y) != b.at(x, y))
                return "(" + std::to_string(x) + ", " + std::to_string(y) +
                       "): " + std::to_string(a.at(x, y)) + " vs " + std::to_string(b.at(x, y));
    return "none";
}

#define EXPECT_IMG_EQ(actual, expected) \
    EXPECT_TRUE((actual) == (expected)) << "first difference " << FirstDifference(actual, expected)

// ---- rectangle copies between stores ----

struct Geometry {
    const char* name;
    int dx, dy, sx, sy, w, h;
};

// Source 1001 x 523 and destination 977 x 613 (3 x 2 tiles each).
constexpr Geometry kGeometries[] = {
    {"unaligned", 37, 140, 5, 101, 900, 300},
    {"aligned", 123, 77, 123, 77, 700, 400},
    {"negative destination, oversize", -13, -29, 200, 0, 5000, 5000},
    {"negative source, oversize", 300, 10, -50, -20, 5000, 5000},
    {"whole store aligned", 0, 0, 0, 0, 5000, 5000},
};

class CopyRectPairs : public testing::TestWithParam<std::pair<int, int>> {};

TEST_P(CopyRectPairs, MatchTheRowTable) {
    const auto [db, sb] = GetParam();
    unsigned seed = 1;
    for (const Geometry& g : kGeometries) {
        for (DWORD rop : kOps) {
            SCOPED_TRACE(std::string(g.name) + " " + RopName(rop));
            Fixture src = MakeStore(1001, 523, sb, seed++, {1});
            Fixture dst = MakeStore(977, 613, db, seed++, {4});
            const bool ok =
                dst.store->CopyRect(g.dx, g.dy, nullptr, rop, g.sy, g.sx, *src.store, g.h, g.w);
            Img expected = dst.img;
            if (Supported(db, sb, OpOf(rop))) {
                EXPECT_TRUE(ok);
                RefCopyRect(expected, src.img, g.dx, g.dy, g.sx, g.sy, g.w, g.h, OpOf(rop),
                            kPalette.data());
            } else {
                EXPECT_FALSE(ok);
            }
            EXPECT_IMG_EQ(ReadStore(*dst.store), expected);
            EXPECT_IMG_EQ(ReadStore(*src.store), src.img) << "the source stays";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(UnionOps, CopyRectPairs,
                         testing::Values(std::pair{8, 8}, std::pair{24, 24}, std::pair{1, 1},
                                         std::pair{24, 8}, std::pair{24, 1}, std::pair{1, 8},
                                         std::pair{8, 24}, std::pair{8, 1}, std::pair{1, 24}),
                         [](const auto& info) {
                             return std::to_string(info.param.first) + "from" +
                                    std::to_string(info.param.second);
                         });

TEST(UnionOpsCopyRect, TrueColourFromIndexedWithoutPaletteCopyUsesTheTilesColours) {
    // Without a palette copy the tiles carry the grey ramp.
    Fixture src = MakeStore(700, 500, 8, 3, {}, false);
    ASSERT_EQ(src.store->Palette(), nullptr);
    Fixture dst = MakeStore(650, 530, 24, 4);
    for (auto [dx, sx] : {std::pair{0, 0}, std::pair{11, 3}}) {
        ASSERT_TRUE(dst.store->CopyRect(dx, 5, nullptr, gdi::SRCCOPY, 9, sx, *src.store, 480, 600));
        Img expected = dst.img;
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 600; ++x) {
                const std::uint32_t v = src.img.at(sx + x, 9 + y);
                expected.at(dx + x, 5 + y) = v | v << 8 | v << 16;
            }
        EXPECT_IMG_EQ(ReadStore(*dst.store), expected) << dx;
        dst.img = expected;
    }
}

TEST(UnionOpsCopyRect, EmptyCopiesTouchNoTile) {
    Fixture src = MakeStore(600, 600, 8, 5);
    TUnionBitmap dst;
    ASSERT_TRUE(dst.Create(700, 500, kPalette.data(), 8));
    const Geometry empty[] = {
        {"zero width", 10, 10, 0, 0, 0, 100},
        {"negative height", 10, 10, 0, 0, 100, -3},
        {"beyond the destination", 700, 0, 0, 0, 100, 100},
        {"beyond the source", 0, 0, 600, 0, 100, 100},
        {"clipped away by a negative origin", -200, 0, 0, 0, 150, 100},
    };
    for (const Geometry& g : empty) {
        SCOPED_TRACE(g.name);
        EXPECT_TRUE(
            dst.CopyRect(g.dx, g.dy, nullptr, gdi::SRCCOPY, g.sy, g.sx, *src.store, g.h, g.w));
        EXPECT_TRUE(dst.ResidentTiles(0).empty());
        for (int t = 0; t < dst.TileCount(); ++t) {
            EXPECT_EQ(dst.Status(t, 0).Blank, 1);
            EXPECT_EQ(dst.Status(t, 0).Changed, 0);
        }
    }
}

TEST(UnionOpsCopyRect, UnsupportedOperationsLeaveTheDestination) {
    Fixture src = MakeStore(600, 500, 8, 6);
    Fixture dst = MakeStore(600, 500, 8, 7);
    EXPECT_FALSE(dst.store->CopyRect(3, 0, nullptr, gdi::SRCINVERT, 0, 0, *src.store, 400, 400));
    EXPECT_IMG_EQ(ReadStore(*dst.store), dst.img);
    Fixture dst24 = MakeStore(600, 500, 24, 8);
    for (int aligned = 0; aligned < 2; ++aligned) {
        EXPECT_FALSE(dst24.store->CopyRect(aligned ? 0 : 5, 0, nullptr, gdi::SRCAND, 0, 0,
                                           *src.store, 400, 400));
        EXPECT_IMG_EQ(ReadStore(*dst24.store), dst24.img);
    }
}

// Copies within one store behave as memmove: the source as it was before.
TEST(UnionOpsCopyRect, OverlappingWithinOneStoreInEveryDirection) {
    const Geometry shifts[] = {
        {"right", 37, 20, 0, 20, 900, 500},      {"left", 0, 20, 37, 20, 900, 500},
        {"down", 10, 29, 10, 0, 800, 560},       {"up", 10, 0, 10, 29, 800, 560},
        {"down right", 481, 5, 0, 0, 600, 580},  {"up left", 0, 0, 3, 500, 990, 100},
        {"up right", 250, 0, 0, 300, 700, 300},  {"down left", 0, 333, 490, 1, 500, 200},
        {"onto itself", 0, 0, 0, 0, 5000, 5000}, {"onto itself inside", 100, 50, 100, 50, 600, 400},
    };
    unsigned seed = 50;
    for (int bits : {8, 24, 1}) {
        for (const Geometry& g : shifts) {
            for (DWORD rop : {gdi::SRCCOPY, gdi::NOTSRCCOPY}) {
                SCOPED_TRACE(std::string(g.name) + " " + RopName(rop) + " " + std::to_string(bits));
                Fixture f = MakeStore(1001, 613, bits, seed++, {2});
                ASSERT_TRUE(
                    f.store->CopyRect(g.dx, g.dy, nullptr, rop, g.sy, g.sx, *f.store, g.h, g.w));
                Img expected = f.img;
                RefCopyRect(expected, f.img, g.dx, g.dy, g.sx, g.sy, g.w, g.h, OpOf(rop),
                            kPalette.data());
                EXPECT_IMG_EQ(ReadStore(*f.store), expected);
            }
        }
    }
}

TEST(UnionOpsCopyRect, BlankSourceTilesAreCopiedByFlags) {
    TUnionBitmap src;
    ASSERT_TRUE(src.Create(1001, 613, kPalette.data(), 8));
    Fixture dst = MakeStore(1001, 613, 8, 9);
    ASSERT_TRUE(dst.store->CopyRect(0, 0, nullptr, gdi::SRCCOPY, 0, 0, src, 5000, 5000));
    EXPECT_TRUE(src.ResidentTiles(0).empty()) << "no source pixels were made";
    for (int t = 0; t < dst.store->TileCount(); ++t)
        EXPECT_EQ(dst.store->Status(t, 0).Blank, 1) << t;
    Img white = dst.img;
    std::fill(white.px.begin(), white.px.end(), 255u);
    EXPECT_IMG_EQ(ReadStore(*dst.store), white);

    // AND with a white (index 255) blank source and OR with a black one
    // leave the destination as it was, without touching it.
    Fixture dst2 = MakeStore(1001, 613, 8, 10);
    ASSERT_TRUE(dst2.store->CopyRect(7, 3, nullptr, gdi::SRCAND, 0, 0, src, 5000, 5000));
    TUnionBitmap black;
    ASSERT_TRUE(black.Create(1001, 613, kPalette.data(), 8));
    black.SetBlankColor(0x01000000);
    ASSERT_TRUE(dst2.store->CopyRect(0, 0, nullptr, gdi::SRCPAINT, 0, 0, black, 5000, 5000));
    EXPECT_TRUE(dst2.store->ResidentTiles(0).empty());
    EXPECT_IMG_EQ(ReadStore(*dst2.store), dst2.img);
}

class ProgressCanvas : public gdi::CanvasTarget {
  public:
    ProgressCanvas()
        : bitmap_(gdi::Bitmap::Create(300, 20, 32)), dc_(gdi::CreateDCForBitmap(bitmap_)) {}
    HDC Canvas() override { return dc_.get(); }
    void UpdateRect(const RECT& rect) override { rights.push_back(rect.right); }
    void Invalidate() override {}
    std::vector<int> rights;

  private:
    gdi::HBITMAP bitmap_;
    gdi::DCPtr dc_;
};

TEST(UnionOpsCopyRect, AlignedCopyStepsTheProgressOverTheCoveredTiles) {
    Fixture src = MakeStore(1500, 1001, 8, 11);
    Fixture dst = MakeStore(1500, 1001, 8, 12);
    // Columns 0 to 2 and rows 1 to 2: six tiles.
    const int tiles = 6;
    ProgressCanvas canvas;
    Statusprogress progress(&canvas);
    progress.FWidth = 6 + 12 * tiles;  // one block per step
    progress.FBlock.top = 0;
    progress.FBlock.bottom = 5;
    ASSERT_TRUE(
        dst.store->CopyRect(100, 500, &progress, gdi::SRCCOPY, 500, 100, *src.store, 480, 1200));
    EXPECT_EQ(progress.FMaximum, tiles);
    EXPECT_EQ(progress.FPosition, 0) << "finished";
    // Step(k) for k = 1 .. tiles - 1 and the finishing Step(tiles) each show
    // block k - 1; then the bar is cleared.
    std::vector<int> expected;
    for (int k = 1; k <= tiles; ++k)
        expected.push_back(12 * (k - 1) + 9);
    ASSERT_GE(canvas.rights.size(), expected.size());
    EXPECT_EQ(std::vector<int>(canvas.rights.begin(), canvas.rights.begin() + tiles), expected);
    Img expectedImg = dst.img;
    RefCopyRect(expectedImg, src.img, 100, 500, 100, 500, 1200, 480, Op::Copy, kPalette.data());
    EXPECT_IMG_EQ(ReadStore(*dst.store), expectedImg);
}

// ---- stretches ----

TEST(UnionOpsStretch, ThreeColumnsOntoSeven) {
    TUnionBitmap src, dst;
    ASSERT_TRUE(src.Create(3, 1, kPalette.data(), 8));
    ASSERT_TRUE(dst.Create(7, 1, kPalette.data(), 8));
    WriteStore(src, Img{3, 1, 8, {10, 11, 12}});
    ASSERT_TRUE(dst.StretchFrom(0, 0, gdi::SRCCOPY, 1, 3, 0, 0, src, 1, 7));
    EXPECT_EQ(ReadStore(dst).px, (std::vector<std::uint32_t>{10, 10, 10, 11, 11, 12, 12}));
}

struct StretchCase {
    const char* name;
    int dx, dy, sx, sy, sw, sh, w, h;
};
constexpr StretchCase kStretches[] = {
    {"shrink", 3, 7, 10, 20, 900, 500, 333, 211},
    {"enlarge", 0, 0, 5, 5, 300, 200, 970, 600},
    {"odd ratios", 11, 2, 1, 0, 997, 521, 961, 607},
    {"clipped destination", -100, -50, 0, 0, 1001, 523, 1200, 900},
    {"source beyond its store", 20, 30, -40, 400, 600, 300, 700, 500},
};

class StretchPairs : public testing::TestWithParam<std::pair<int, int>> {};

TEST_P(StretchPairs, MatchNearestNeighbour) {
    const auto [db, sb] = GetParam();
    unsigned seed = 100;
    for (const StretchCase& c : kStretches) {
        for (DWORD rop : kOps) {
            const bool supported = db == sb || (db == 24 && sb == 1 && rop == gdi::SRCAND);
            SCOPED_TRACE(std::string(c.name) + " " + RopName(rop));
            Fixture src = MakeStore(1001, 523, sb, seed++, {0});
            Fixture dst = MakeStore(977, 613, db, seed++, {5});
            EXPECT_EQ(dst.store->StretchFrom(c.dx, c.dy, rop, c.sh, c.sw, c.sy, c.sx, *src.store,
                                             c.h, c.w),
                      supported);
            Img expected = dst.img;
            if (supported)
                RefStretch(expected, src.img, c.dx, c.dy, c.sx, c.sy, c.sw, c.sh, c.w, c.h,
                           OpOf(rop));
            EXPECT_IMG_EQ(ReadStore(*dst.store), expected);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(UnionOps, StretchPairs,
                         testing::Values(std::pair{8, 8}, std::pair{24, 24}, std::pair{1, 1},
                                         std::pair{24, 1}, std::pair{24, 8}, std::pair{8, 24}),
                         [](const auto& info) {
                             return std::to_string(info.param.first) + "from" +
                                    std::to_string(info.param.second);
                         });

TEST(UnionOpsStretch, OverlappingWithinOneStore) {
    const StretchCase cases[] = {
        {"enlarge down right", 100, 50, 0, 0, 500, 300, 800, 540},
        {"shrink up left", 0, 0, 200, 100, 800, 500, 400, 250},
        {"shrink down", 30, 200, 0, 0, 900, 400, 450, 400},
        {"enlarge up", 0, 0, 0, 300, 1001, 200, 1001, 600},
    };
    unsigned seed = 200;
    for (int bits : {8, 24, 1}) {
        for (const StretchCase& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " " + std::to_string(bits));
            Fixture f = MakeStore(1001, 613, bits, seed++);
            ASSERT_TRUE(f.store->StretchFrom(c.dx, c.dy, gdi::SRCCOPY, c.sh, c.sw, c.sy, c.sx,
                                             *f.store, c.h, c.w));
            Img expected = f.img;
            RefStretch(expected, f.img, c.dx, c.dy, c.sx, c.sy, c.sw, c.sh, c.w, c.h, Op::Copy);
            EXPECT_IMG_EQ(ReadStore(*f.store), expected);
        }
    }
}

TEST(UnionOpsStretch, EmptyRectanglesChangeNothing) {
    Fixture src = MakeStore(500, 500, 8, 7);
    Fixture dst = MakeStore(500, 500, 8, 8);
    EXPECT_TRUE(dst.store->StretchFrom(0, 0, gdi::SRCCOPY, 0, 100, 0, 0, *src.store, 100, 100));
    EXPECT_TRUE(dst.store->StretchFrom(0, 0, gdi::SRCCOPY, 100, 100, 0, 0, *src.store, 100, -5));
    EXPECT_TRUE(dst.store->StretchFrom(600, 0, gdi::SRCCOPY, 100, 100, 0, 0, *src.store, 100, 50));
    EXPECT_TRUE(dst.store->StretchFrom(0, 0, gdi::SRCCOPY, 100, 100, 700, 0, *src.store, 100, 50));
    EXPECT_IMG_EQ(ReadStore(*dst.store), dst.img);
    EXPECT_EQ(dst.store->RowLockCount(), 0);
    EXPECT_EQ(src.store->RowLockCount(), 0);
}

// ---- whole-store operations ----

TEST(UnionOpsWhole, AssignCopiesPixelsAndBlankTiles) {
    for (int bits : {8, 24, 1}) {
        SCOPED_TRACE(bits);
        Fixture src = MakeStore(1001, 613, bits, 300, {0, 4});
        Fixture dst = MakeStore(1001, 613, bits, 301, {1});
        ASSERT_TRUE(dst.store->Assign(*src.store));
        EXPECT_IMG_EQ(ReadStore(*dst.store), src.img);
        EXPECT_EQ(dst.store->Status(0, 0).Blank, 1);
        EXPECT_EQ(dst.store->Status(4, 0).Blank, 1);

        // Another blank colour: the source's blank tiles come over as pixels.
        Fixture dst2 = MakeStore(1001, 613, bits, 302);
        dst2.store->SetBlankColor(0);
        ASSERT_TRUE(dst2.store->Assign(*src.store));
        EXPECT_IMG_EQ(ReadStore(*dst2.store), src.img);
    }
}

TEST(UnionOpsWhole, OtherGridsAndDepthsAreRefused) {
    Fixture a = MakeStore(1001, 613, 8, 310);
    Fixture wider = MakeStore(1002, 613, 8, 311);
    Fixture taller = MakeStore(1001, 614, 8, 312);
    Fixture deep = MakeStore(1001, 613, 24, 313);
    Fixture mask8 = MakeStore(1001, 614, 8, 314);
    for (Fixture* other : {&wider, &taller}) {
        EXPECT_FALSE(a.store->Assign(*other->store));
        EXPECT_FALSE(a.store->AndWith(*other->store));
        EXPECT_FALSE(a.store->MergeMasked(*other->store, nullptr));
        EXPECT_FALSE(a.store->CopyTilesFrom(*other->store, gdi::SRCCOPY));
    }
    EXPECT_FALSE(a.store->Assign(*deep.store));
    EXPECT_FALSE(a.store->AndWith(*deep.store));
    EXPECT_FALSE(a.store->MergeMasked(*deep.store, nullptr));
    Fixture same = MakeStore(1001, 613, 8, 315);
    EXPECT_FALSE(a.store->MergeMasked(*same.store, mask8.store.get())) << "mask of another size";
    EXPECT_FALSE(a.store->MergeMasked(*same.store, deep.store.get())) << "24-bit mask of 8-bit";
    EXPECT_IMG_EQ(ReadStore(*a.store), a.img);
}

TEST(UnionOpsWhole, CopyTilesFromCombinesAndMakesBlankTilesAgree) {
    for (int bits : {8, 24, 1}) {
        for (DWORD rop : {gdi::SRCCOPY, gdi::SRCAND}) {
            SCOPED_TRACE(std::to_string(bits) + " " + RopName(rop));
            Fixture src = MakeStore(1001, 613, bits, 320, {2, 3});
            Fixture dst = MakeStore(1001, 613, bits, 321);
            src.store->SetUserFlag(1);
            // Tile 2 of the destination resident with real pixels.
            dst.store->SetResidentBudget(0);
            dst.store->EnsureTile(2, 0);
            ASSERT_TRUE(dst.store->CopyTilesFrom(*src.store, rop));
            Img expected = dst.img;
            for (int y = 0; y < expected.h; ++y)
                for (int x = 0; x < expected.w; ++x) {
                    const int t = dst.store->TileIndexAt(x, y);
                    expected.at(x, y) = t == 2 || t == 3
                                            ? WhiteRaw(bits)
                                            : *RefPixel(bits, bits, OpOf(rop), expected.at(x, y),
                                                        src.img.at(x, y), kPalette.data());
                }
            EXPECT_TRUE(dst.store->IsTileResident(2, 0));
            EXPECT_IMG_EQ(ReadStore(*dst.store), expected);
            dst.store->PageOutAll();
            EXPECT_IMG_EQ(ReadStore(*dst.store), expected) << "paged and read back";
            EXPECT_EQ(dst.store->UserFlag(), 1);
        }
    }
}

TEST(UnionOpsWhole, AndWithMatchesTheArraysAtTheSystemsDepths) {
    for (auto [db, sb] : {std::pair{8, 8}, std::pair{24, 1}, std::pair{24, 24}, std::pair{1, 1}}) {
        SCOPED_TRACE(std::to_string(db) + " from " + std::to_string(sb));
        Fixture src = MakeStore(1001, 613, sb, 330, {0, 5});
        Fixture dst = MakeStore(1001, 613, db, 331, {1, 5});
        ASSERT_TRUE(dst.store->AndWith(*src.store));
        Img expected = dst.img;
        for (std::size_t i = 0; i < expected.px.size(); ++i)
            expected.px[i] = *RefPixel(db, sb, Op::And, expected.px[i], src.img.px[i], nullptr);
        EXPECT_IMG_EQ(ReadStore(*dst.store), expected);
    }
    Fixture a = MakeStore(1001, 613, 8, 332);
    Fixture b = MakeStore(1001, 613, 24, 333);
    EXPECT_FALSE(a.store->AndWith(*b.store)) << "8 from 24";
    EXPECT_FALSE(b.store->AndWith(*a.store)) << "24 from 8";
    EXPECT_IMG_EQ(ReadStore(*a.store), a.img);
}

TEST(UnionOpsWhole, AndWithBlankSourceTiles) {
    // A blank source of index 255 (all bits set) leaves the tiles untouched.
    TUnionBitmap source;
    ASSERT_TRUE(source.Create(1001, 613, kPalette.data(), 8));
    source.SetBlankColor(0x010000FF);
    Fixture dst = MakeStore(1001, 613, 8, 340);
    ASSERT_TRUE(dst.store->AndWith(source));
    EXPECT_TRUE(dst.store->ResidentTiles(0).empty());
    EXPECT_TRUE(source.ResidentTiles(0).empty());
    EXPECT_IMG_EQ(ReadStore(*dst.store), dst.img);

    // Both blank colours black (index 0): the tiles become blank, and the
    // resident pixels agree.
    TUnionBitmap zero;
    ASSERT_TRUE(zero.Create(1001, 613, nullptr, 8));
    zero.SetBlankColor(0);
    Fixture dst2 = MakeStore(1001, 613, 8, 341);
    dst2.store->SetBlankColor(0x01000000);
    dst2.store->SetResidentBudget(0);
    dst2.store->EnsureTile(3, 0);
    ASSERT_TRUE(dst2.store->AndWith(zero));
    for (int t = 0; t < dst2.store->TileCount(); ++t)
        EXPECT_EQ(dst2.store->Status(t, 0).Blank, 1) << t;
    Img black = dst2.img;
    std::fill(black.px.begin(), black.px.end(), 0u);
    EXPECT_IMG_EQ(ReadStore(*dst2.store), black);

    // Any other blank source is ANDed as its pixels would be.
    TUnionBitmap grey;
    ASSERT_TRUE(grey.Create(1001, 613, kPalette.data(), 8));
    grey.SetBlankColor(0x0100000F);
    Fixture dst3 = MakeStore(1001, 613, 8, 342, {2});
    ASSERT_TRUE(dst3.store->AndWith(grey));
    Img expected = dst3.img;
    for (auto& v : expected.px)
        v &= 0x0F;
    EXPECT_IMG_EQ(ReadStore(*dst3.store), expected);
}

void RefMerge(Img& d, const Img& s, const Img& m) {
    for (std::size_t i = 0; i < d.px.size(); ++i) {
        if (m.bits == d.bits)
            d.px[i] = (d.px[i] & m.px[i]) | (s.px[i] & ~m.px[i] & Mask(d.bits));
        else if (!m.px[i])
            d.px[i] = s.px[i];
    }
}

TEST(UnionOpsWhole, MergeMaskedMatchesTheArrays) {
    for (auto [db, mb] : {std::pair{8, 8}, std::pair{24, 1}, std::pair{24, 24}, std::pair{1, 1}}) {
        SCOPED_TRACE(std::to_string(db) + " mask " + std::to_string(mb));
        // Blank tiles: source 0 and 3, mask 3 and 4 (white: keep), dest 4.
        Fixture src = MakeStore(1001, 613, db, 350, {0, 3});
        Fixture mask = MakeStore(1001, 613, mb, 351, {3, 4});
        Fixture dst = MakeStore(1001, 613, db, 352, {4});
        ASSERT_TRUE(dst.store->MergeMasked(*src.store, mask.store.get()));
        Img expected = dst.img;
        RefMerge(expected, src.img, mask.img);
        EXPECT_IMG_EQ(ReadStore(*dst.store), expected);
        EXPECT_EQ(dst.store->Status(4, 0).Blank, 1) << "kept by a blank mask tile";
    }
}

TEST(UnionOpsWhole, MergeMaskedWithUniformAndMissingMasks) {
    for (auto [db, mb] : {std::pair{8, 8}, std::pair{24, 1}}) {
        SCOPED_TRACE(db);
        const std::uint32_t keep = mb == 8 ? 255u : 1u;
        Fixture src = MakeStore(1001, 613, db, 360, {5});
        Fixture dst = MakeStore(1001, 613, db, 361);

        // All 255 (white), written as pixels: the destination stays.
        Fixture ones = MakeStore(1001, 613, mb, 362);
        std::fill(ones.img.px.begin(), ones.img.px.end(), keep);
        WriteStore(*ones.store, ones.img);
        ASSERT_TRUE(dst.store->MergeMasked(*src.store, ones.store.get()));
        EXPECT_IMG_EQ(ReadStore(*dst.store), dst.img);

        // All 0: the source comes over, its blank tile included.
        Fixture zeros = MakeStore(1001, 613, mb, 363);
        std::fill(zeros.img.px.begin(), zeros.img.px.end(), 0u);
        WriteStore(*zeros.store, zeros.img);
        ASSERT_TRUE(dst.store->MergeMasked(*src.store, zeros.store.get()));
        EXPECT_IMG_EQ(ReadStore(*dst.store), src.img);

        // A never-painted mask keeps everything without touching a tile.
        Fixture dst2 = MakeStore(1001, 613, db, 364);
        TUnionBitmap blankMask;
        ASSERT_TRUE(blankMask.Create(1001, 613, mb == 8 ? kPalette.data() : nullptr, mb));
        ASSERT_TRUE(dst2.store->MergeMasked(*src.store, &blankMask));
        EXPECT_TRUE(dst2.store->ResidentTiles(0).empty());
        EXPECT_IMG_EQ(ReadStore(*dst2.store), dst2.img);

        // No mask: the source everywhere.
        ASSERT_TRUE(dst2.store->MergeMasked(*src.store, nullptr));
        EXPECT_IMG_EQ(ReadStore(*dst2.store), src.img);
    }
}

TEST(UnionOpsFill, RectanglesAndWholeBlankTiles) {
    for (int bits : {8, 24, 1}) {
        SCOPED_TRACE(bits);
        Fixture f = MakeStore(1001, 613, bits, 370, {5});
        const std::uint32_t colour = bits == 8 ? 0x01000007u : 0x00000000u;
        const std::uint32_t raw = bits == 8 ? 7u : 0u;
        f.store->FillRect(colour, -20, 100, 700, 5000);
        f.store->FillRect(0x00FFFFFF, 0, 0, 480, 480);  // tile 0 whole: blank
        Img expected = f.img;
        for (int y = 0; y < expected.h; ++y)
            for (int x = 0; x < expected.w; ++x) {
                if (x < 480 && y < 480)
                    expected.at(x, y) = WhiteRaw(bits);
                else if (x < 700 && y >= 100)
                    expected.at(x, y) = raw;
            }
        EXPECT_EQ(f.store->Status(0, 0).Blank, 1);
        EXPECT_IMG_EQ(ReadStore(*f.store), expected);
    }
}

}  // namespace
}  // namespace quillor
