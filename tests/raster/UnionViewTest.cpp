// Zoomed views of the union store, checked pixel for pixel against a
// reference computed here from the whole image: the reduced levels as the
// cascade of per-tile COLORONCOLOR halvings, each visible tile part sampled
// as the drawing layer's COLORONCOLOR stretch samples it, its destination
// edges rounded from absolute image coordinates.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/Gdi.h"
#include "raster/Tqunion.h"

namespace gdi = platform::gdi;
using gdi::HDC;
using gdi::RECT;
using gdi::RGBQUAD;
using quillor::TUnionBitmap;

namespace {

constexpr int kTile = 480;
constexpr std::uint32_t kSentinel = 250;  // an index no reference pixel may leave behind

int Rnd(double v) {
    return int(std::trunc(v + 0.5));
}

// A palette whose entry 1 is pure red and unique.
std::vector<RGBQUAD> TestPalette() {
    std::vector<RGBQUAD> p(256);
    for (int i = 0; i < 256; ++i)
        p[std::size_t(i)] = gdi::MakeQuad(i, 255 - i, (i * 37) & 255);
    p[1] = gdi::MakeQuad(255, 0, 0);
    return p;
}

std::uint32_t Hash(int x, int y) {
    std::uint32_t h = std::uint32_t(x) * 73856093u ^ std::uint32_t(y) * 19349663u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    return h ^ (h >> 15);
}

// The level-0 content of a store as raw values (index, 0/1 or 0x00RRGGBB),
// and the tiles left blank.
struct Content {
    int width = 0, height = 0, bits = 8;
    std::vector<std::uint32_t> values;
    std::set<int> blank;
    std::uint32_t blankValue = 0;  // what a materialised blank tile holds

    std::uint32_t At(int x, int y) const { return values[std::size_t(y) * width + x]; }
    int Columns() const { return (width + kTile - 1) / kTile; }
    int Rows() const { return (height + kTile - 1) / kTile; }
    bool IsBlank(int tile) const { return blank.count(tile) != 0; }
};

// One axis of the tile grid.
struct GridAxis {
    int size, count;
    // Extent of tile j at a level: the tile edge, the rest of the level size
    // in the last tile, 0 made 1.
    int Extent(int j, int level) const {
        const int t = kTile >> level, s = size >> level;
        const int e = j < count - 1 ? t : s - t * (count - 1);
        return e > 0 ? e : 1;
    }
    // Level coordinate k of tile j to the level-0 image coordinate it shows:
    // each level takes pixel floor(k * previous / extent) of the one above.
    int ToImage(int j, int level, int k) const {
        for (int l = level; l > 0; --l)
            k = int(std::int64_t(k) * Extent(j, l - 1) / Extent(j, l));
        return j * kTile + k;
    }
};

Content MakeContent(int width, int height, int bits, std::set<int> blank) {
    Content c;
    c.width = width;
    c.height = height;
    c.bits = bits;
    c.blank = std::move(blank);
    c.values.resize(std::size_t(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint32_t h = Hash(x, y);
            std::uint32_t v = bits == 8 ? (h >> 7) & 0xFF : bits == 1 ? (h >> 9) & 1 : h & 0xFFFFFF;
            // Index 1 is the views' blank colour and kSentinel marks pixels
            // nothing drew: the content holds neither.
            if (bits == 8 && (v == 1 || v == kSentinel))
                ++v;
            c.values[std::size_t(y) * width + x] = v;
        }
    c.blankValue = bits == 8 ? 0 : bits == 1 ? 1 : 0xFFFFFF;
    return c;
}

void PutValue(std::uint8_t* row, int bits, int x, std::uint32_t v) {
    if (bits == 8) {
        row[x] = std::uint8_t(v);
    } else if (bits == 24) {
        row[3 * x] = std::uint8_t(v);
        row[3 * x + 1] = std::uint8_t(v >> 8);
        row[3 * x + 2] = std::uint8_t(v >> 16);
    } else {
        const std::uint8_t bit = std::uint8_t(0x80 >> (x & 7));
        row[x >> 3] = std::uint8_t(v ? row[x >> 3] | bit : row[x >> 3] & ~bit);
    }
}

// Writes the content into the store through row access, tile column by tile
// column, leaving the blank tiles untouched.
void WriteContent(TUnionBitmap& store, const Content& c, const RECT* only = nullptr) {
    ASSERT_TRUE(store.BeginRowAccess());
    for (int y = 0; y < c.height; ++y) {
        if (only && (y < only->top || y >= only->bottom))
            continue;
        for (int col = 0; col < c.Columns(); ++col) {
            if (c.IsBlank((y / kTile) * c.Columns() + col))
                continue;
            int x0 = col * kTile, x1 = std::min(c.width, x0 + kTile);
            if (only) {
                x0 = std::max(x0, only->left);
                x1 = std::min(x1, only->right);
            }
            if (x1 <= x0)
                continue;
            std::uint8_t* row = store.ReadRowSpan(y, x0, x1 - x0);
            ASSERT_NE(row, nullptr);
            for (int x = x0; x < x1; ++x)
                PutValue(row, c.bits, x, c.At(x, y));
            store.WriteRowSpan(y, x0, x1 - x0);
        }
    }
    store.EndRowAccess();
}

// A screen bitmap with its context, filled with one value.
struct Screen {
    gdi::HBITMAP bitmap;
    gdi::DCPtr dc;

    Screen(int w, int h, int bits, const std::vector<RGBQUAD>* palette, std::uint32_t fill) {
        bitmap =
            gdi::Bitmap::Create(w, h, bits, palette ? palette->data() : nullptr, palette ? 256 : 0);
        dc = gdi::CreateDCForBitmap(bitmap);
        Fill(fill);
    }
    void Fill(std::uint32_t v) {
        for (int y = 0; y < bitmap->Height(); ++y)
            for (int x = 0; x < bitmap->Width(); ++x)
                bitmap->SetValue(x, y, v);
    }
    std::vector<std::uint32_t> Values() const {
        std::vector<std::uint32_t> out;
        for (int y = 0; y < bitmap->Height(); ++y)
            for (int x = 0; x < bitmap->Width(); ++x)
                out.push_back(bitmap->GetValue(x, y));
        return out;
    }
};

// A reference canvas: raw values, row by row.
struct Canvas {
    int width, height;
    std::vector<std::uint32_t> v;
    Canvas(int w, int h, std::uint32_t fill) : width(w), height(h), v(std::size_t(w) * h, fill) {}
    void Put(int x, int y, std::uint32_t value) {
        if (x >= 0 && y >= 0 && x < width && y < height)
            v[std::size_t(y) * width + x] = value;
    }
    std::uint32_t At(int x, int y) const { return v[std::size_t(y) * width + x]; }
};

int RefLevel(double s) {
    return s > 0.5 ? 0 : s > 0.25 ? 1 : s > 0.125 ? 2 : 3;
}

// A view request: the part of the image shown (image pixels, or level pixels
// for the overview) and the scales from it to the destination.
struct Request {
    double sx, sy;
    int srcLeft, srcTop;
    int level;
};

// Destination rectangle of a part, from absolute coordinates.
RECT RefDestination(const RECT& part, const Request& r) {
    const int ox = Rnd(r.srcLeft * r.sx), oy = Rnd(r.srcTop * r.sy);
    return RECT{Rnd(part.left * r.sx) - ox, Rnd(part.top * r.sy) - oy, Rnd(part.right * r.sx) - ox,
                Rnd(part.bottom * r.sy) - oy};
}

// One tile part drawn from its level: the part's pixels at that level
// (clamped into the level tile) stretched onto its destination rectangle,
// destination pixel k taking source pixel floor(k * source / destination).
void RefTile(Canvas& out, const Content& c, int tile, const Request& r, const RECT& part,
             const RECT& local, const std::function<void(int, int, std::uint32_t)>& put) {
    const GridAxis ax{c.width, c.Columns()}, ay{c.height, c.Rows()};
    const int col = tile % c.Columns(), row = tile / c.Columns();
    const double ls = 1.0 / (1 << r.level);
    const int tw = ax.Extent(col, r.level), th = ay.Extent(row, r.level);
    const int x = std::min(int(local.left * ls), tw - 1);
    const int y = std::min(int(local.top * ls), th - 1);
    const int w = std::clamp(int((local.right - local.left) * ls), 1, tw - x);
    const int h = std::clamp(int((local.bottom - local.top) * ls), 1, th - y);
    const RECT d = RefDestination(part, r);
    const int dw = d.right - d.left, dh = d.bottom - d.top;
    for (int Y = std::max(0, d.top); Y < std::min(out.height, d.bottom); ++Y) {
        const int ly = y + int(std::int64_t(Y - d.top) * h / dh);
        for (int X = std::max(0, d.left); X < std::min(out.width, d.right); ++X) {
            const int lx = x + int(std::int64_t(X - d.left) * w / dw);
            const std::uint32_t v =
                c.IsBlank(tile) ? c.blankValue
                                : c.At(ax.ToImage(col, r.level, lx), ay.ToImage(row, r.level, ly));
            put(X, Y, v);
        }
    }
}

// The main view: every tile part of the source rectangle, blank tiles as one
// rectangle of blankView.
void RefView(Canvas& out, const Content& c, int srcLeft, int srcTop, int srcW, int srcH, int dstW,
             int dstH, std::uint32_t blankView, bool stretchBlank = false) {
    Request r{double(dstW) / srcW, double(dstH) / srcH, srcLeft, srcTop, 0};
    r.level = RefLevel(std::min(r.sx, r.sy));
    for (int row = 0; row < c.Rows(); ++row)
        for (int col = 0; col < c.Columns(); ++col) {
            const int tile = row * c.Columns() + col;
            const RECT t{col * kTile, row * kTile, std::min(c.width, (col + 1) * kTile),
                         std::min(c.height, (row + 1) * kTile)};
            const RECT part{std::max(t.left, srcLeft), std::max(t.top, srcTop),
                            std::min(t.right, srcLeft + srcW), std::min(t.bottom, srcTop + srcH)};
            if (part.right <= part.left || part.bottom <= part.top)
                continue;
            if (c.IsBlank(tile) && !stretchBlank) {
                const RECT d = RefDestination(part, r);
                for (int Y = d.top; Y < d.bottom; ++Y)
                    for (int X = d.left; X < d.right; ++X)
                        out.Put(X, Y, blankView);
                continue;
            }
            const RECT local{part.left - t.left, part.top - t.top, part.right - t.left,
                             part.bottom - t.top};
            RefTile(out, c, tile, r, part, local,
                    [&](int x, int y, std::uint32_t v) { out.Put(x, y, v); });
        }
}

// The overview: every tile from `level`, its rectangle scaled into level
// pixels, the scales taking level pixels to the destination.
void RefFullView(Canvas& out, const Content& c, int level, int dstW, int dstH,
                 std::uint32_t blankView, bool stretchBlank = false) {
    const double ls = 1.0 / (1 << level);
    const Request r{double(dstW) / c.width / ls, double(dstH) / c.height / ls, 0, 0, level};
    for (int tile = 0; tile < c.Columns() * c.Rows(); ++tile) {
        const int col = tile % c.Columns(), row = tile / c.Columns();
        const RECT t{col * kTile, row * kTile, std::min(c.width, (col + 1) * kTile),
                     std::min(c.height, (row + 1) * kTile)};
        const RECT part{int(t.left * ls), int(t.top * ls), int(t.right * ls), int(t.bottom * ls)};
        if (c.IsBlank(tile) && !stretchBlank) {
            const RECT d = RefDestination(part, r);
            for (int Y = d.top; Y < d.bottom; ++Y)
                for (int X = d.left; X < d.right; ++X)
                    out.Put(X, Y, blankView);
            continue;
        }
        const RECT local{0, 0, t.right - t.left, t.bottom - t.top};
        RefTile(out, c, tile, r, part, local,
                [&](int x, int y, std::uint32_t v) { out.Put(x, y, v); });
    }
}

// Compares, reporting the first few differing pixels.
void ExpectSame(const Screen& screen, const Canvas& ref, const std::string& what) {
    int bad = 0;
    for (int y = 0; y < ref.height; ++y)
        for (int x = 0; x < ref.width; ++x) {
            const std::uint32_t got = screen.bitmap->GetValue(x, y);
            if (got != ref.At(x, y) && ++bad <= 5)
                ADD_FAILURE() << what << ": pixel (" << x << ", " << y << ") is " << got
                              << ", expected " << ref.At(x, y);
        }
    EXPECT_EQ(bad, 0) << what;
}

class UnionView : public ::testing::Test {
  protected:
    void Make(TUnionBitmap& store, const Content& c, std::uint64_t budget = 0) {
        ASSERT_TRUE(
            store.Create(c.width, c.height, c.bits == 8 ? palette.data() : nullptr, c.bits));
        if (budget)
            store.SetResidentBudget(budget);
        WriteContent(store, c);
    }
    std::vector<RGBQUAD> palette = TestPalette();
};

TEST_F(UnionView, LevelForScaleTakesTheSmallerScale) {
    TUnionBitmap store;
    ASSERT_TRUE(store.Create(10, 10, nullptr, 8));
    struct Case {
        double sy, sx;
        int level;
    } cases[] = {
        {0.5, 0.5, 1},   {0.51, 0.51, 0}, {0.1, 0.1, 3},     {4, 4, 0},
        {0.25, 0.25, 2}, {0.26, 0.26, 1}, {0.125, 0.125, 3}, {0.126, 1, 2},
        {1.0, 0.3, 1},   {0.2, 4, 2},     {0.01, 0.01, 3},   {7, 0.5, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(store.LevelForScale(c.sy, c.sx), c.level) << c.sy << " x " << c.sx;
    EXPECT_EQ(TUnionBitmap::LevelScale(0), 1.0);
    EXPECT_EQ(TUnionBitmap::LevelScale(1), 0.5);
    EXPECT_EQ(TUnionBitmap::LevelScale(2), 0.25);
    EXPECT_EQ(TUnionBitmap::LevelScale(3), 0.125);

    // A store without levels has nothing to choose from.
    TUnionBitmap empty;
    EXPECT_EQ(empty.LevelForScale(0.1, 0.1), 0);
}

// PaintView against the reference at every zoom the views use, on a store of
// odd size with one blank tile, at aligned and unaligned origins, with and
// without a resident budget that forces paging.
TEST_F(UnionView, PaintViewMatchesReference) {
    // Zooms num/den; a case with its own destination size (dstW, dstH) has
    // different horizontal and vertical zooms.
    struct Zoom {
        int num, den;
        int srcLeft, srcTop, srcW, srcH;
        int dstW = 0, dstH = 0;
    } zooms[] = {
        {1, 8, 0, 0, 1060, 1001},
        {1, 8, 37, 5, 1016, 992},
        {1, 3, 0, 0, 1060, 1001},
        {1, 3, 7, 2, 1053, 999},
        {1, 2, 0, 0, 1060, 1001},
        {1, 2, 3, 9, 1056, 988},
        {1, 1, 300, 400, 700, 601},
        {1, 1, 0, 0, 1060, 1001},
        {3, 2, 401, 423, 500, 402},
        {3, 2, 5, 7, 301, 299},
        {4, 1, 440, 440, 150, 120},
        {7, 1, 430, 951, 100, 50},
        {7, 1, 1001, 900, 59, 101},
        // Mixed: 1/2 across, 1/5 down draws from level 2.
        {0, 0, 0, 0, 1060, 1001, 530, 200},
        // Level 3 chosen by the vertical zoom, the last pixels of the last
        // column, which have no pixel of their own at that level.
        {0, 0, 1057, 0, 3, 1001, 1, 100},
    };
    for (int bits : {8, 24}) {
        for (std::uint64_t budget :
             {std::uint64_t(0), std::uint64_t(2) * kTile * kTile * bits / 8}) {
            // Tile 4 (the middle one) stays blank.
            const Content c = MakeContent(1060, 1001, bits, {4});
            TUnionBitmap store;
            Make(store, c, budget);
            const std::uint32_t blankView = bits == 8 ? 1 : 0xFFFFFF;
            for (const Zoom& z : zooms) {
                const int dstW = z.dstW ? z.dstW : int(std::int64_t(z.srcW) * z.num / z.den);
                const int dstH = z.dstH ? z.dstH : int(std::int64_t(z.srcH) * z.num / z.den);
                Screen screen(dstW, dstH, bits, bits == 8 ? &palette : nullptr, kSentinel);
                EXPECT_EQ(store.PaintView(screen.dc.get(), dstW, false, store, true, z.srcH, z.srcW,
                                          z.srcTop, z.srcLeft, dstH),
                          1);
                Canvas ref(dstW, dstH, kSentinel);
                RefView(ref, c, z.srcLeft, z.srcTop, z.srcW, z.srcH, dstW, dstH, blankView);
                const std::string what = std::to_string(bits) + "-bit, budget " +
                                         std::to_string(budget) + ", zoom " + std::to_string(dstW) +
                                         "/" + std::to_string(z.srcW) + " at " +
                                         std::to_string(z.srcLeft) + "," + std::to_string(z.srcTop);
                ExpectSame(screen, ref, what);
                const double s = std::min(double(dstW) / z.srcW, double(dstH) / z.srcH);
                EXPECT_EQ(store.DisplayLevel(), RefLevel(s)) << what;
                EXPECT_EQ(store.DisplayScale(), 1.0 / (1 << RefLevel(s))) << what;
            }
        }
    }
}

// Whole tiles from the origin at exact zooms: the tiled rendering is a plain
// nearest-neighbour scaling of the level image (level pixel g of the whole
// level showing level-0 pixel ToImage(g / edge, level, g % edge)).
TEST_F(UnionView, WholeTilesAreAPlainScalingOfTheLevel) {
    const Content c = MakeContent(1920, 1440, 8, {});
    TUnionBitmap store;
    Make(store, c);
    const GridAxis ax{c.width, c.Columns()}, ay{c.height, c.Rows()};
    for (auto [num, den] : {std::pair{1, 8}, {1, 3}, {1, 2}, {3, 2}, {4, 1}}) {
        const int srcW = std::min(1920, 1200 * den / num), srcH = std::min(1440, 960 * den / num);
        const int dstW = srcW * num / den, dstH = srcH * num / den;
        Screen screen(dstW, dstH, 8, &palette, kSentinel);
        ASSERT_EQ(
            store.PaintView(screen.dc.get(), dstW, false, store, true, srcH, srcW, 0, 0, dstH), 1);
        const int level = RefLevel(double(num) / den);
        const int edge = kTile >> level;
        int bad = 0;
        for (int Y = 0; Y < dstH; ++Y) {
            const int gy = int(std::int64_t(Y) * den * edge / (num * kTile));
            const int iy = ay.ToImage(gy / edge, level, gy % edge);
            for (int X = 0; X < dstW; ++X) {
                const int gx = int(std::int64_t(X) * den * edge / (num * kTile));
                const int ix = ax.ToImage(gx / edge, level, gx % edge);
                bad += screen.bitmap->GetValue(X, Y) != c.At(ix, iy);
            }
        }
        EXPECT_EQ(bad, 0) << num << "/" << den;
    }
}

TEST_F(UnionView, ZeroOrNegativeSizesDrawNothing) {
    const Content c = MakeContent(600, 500, 8, {});
    TUnionBitmap store;
    Make(store, c);
    Screen screen(64, 64, 8, &palette, kSentinel);
    const auto before = screen.Values();
    // Leave a known level behind, which the refused paints must not change.
    ASSERT_EQ(store.PaintView(screen.dc.get(), 64, false, store, true, 128, 128, 0, 0, 64), 1);
    screen.Fill(kSentinel);
    struct Case {
        int srcW, srcH, dstW, dstH;
    } cases[] = {{0, 100, 64, 64},    {100, 0, 64, 64},   {100, 100, 0, 64}, {100, 100, 64, 0},
                 {-100, 100, 64, 64}, {100, 100, 64, -5}, {0, 0, 0, 0}};
    HDC dc = screen.dc.get();
    for (const Case& k : cases) {
        EXPECT_EQ(store.PaintView(dc, k.dstW, true, store, true, k.srcH, k.srcW, 0, 0, k.dstH), 0);
        EXPECT_EQ(store.PaintViewRow(dc, k.dstW, store, 0, k.srcH, k.srcW, 0, 0, k.dstH), 0);
        EXPECT_EQ(store.PaintViewMasked(dc, k.dstW, true, store, true, k.srcH, k.srcW, 0, 0, store,
                                        store, k.dstH),
                  0);
        EXPECT_TRUE(
            store.StretchToDC(dc, 0, gdi::SRCCOPY, k.srcH, k.srcW, 0, 0, k.dstH, k.dstW, 0));
        if (k.dstW > 0 && k.dstH > 0)
            continue;  // the overviews take no source size
        EXPECT_EQ(store.PaintFullView(dc, k.dstW, store, true, k.dstH), 0);
        EXPECT_EQ(store.PaintFullViewRow(dc, k.dstW, store, 0, k.dstH), 0);
        EXPECT_EQ(store.PaintFullViewMasked(dc, k.dstW, store, true, store, store, k.dstH), 0);
    }
    EXPECT_EQ(screen.Values(), before);
    EXPECT_EQ(store.DisplayLevel(), 1);

    // An empty store has nothing to show either.
    TUnionBitmap empty;
    ASSERT_TRUE(empty.Create(0, 0, nullptr, 8));
    EXPECT_EQ(empty.PaintView(dc, 64, true, empty, true, 10, 10, 0, 0, 64), 0);
    EXPECT_EQ(empty.PaintFullView(dc, 64, empty, true, 64), 0);
    EXPECT_EQ(screen.Values(), before);
}

TEST_F(UnionView, AdjacentTilesAtOneThirdShareTheirEdge) {
    const Content c = MakeContent(960, 480, 8, {});
    TUnionBitmap store;
    Make(store, c);
    Screen screen(320, 160, 8, &palette, kSentinel);
    ASSERT_EQ(store.PaintView(screen.dc.get(), 320, false, store, true, 480, 960, 0, 0, 160), 1);
    // Tile 0 ends and tile 1 starts at 160: column 159 shows level-1 pixel
    // 238 of tile 0, column 160 level-1 pixel 0 of tile 1.
    for (int y = 0; y < 160; ++y) {
        const int ly = 2 * (y * 240 / 160);
        ASSERT_EQ(screen.bitmap->GetValue(159, y), c.At(2 * (159 * 240 / 160), ly)) << y;
        ASSERT_EQ(screen.bitmap->GetValue(160, y), c.At(480, ly)) << y;
    }
    for (std::uint32_t v : screen.Values())
        ASSERT_NE(v, kSentinel);
}

// A blank tile beside a painted one at an origin whose scaled value is not a
// whole pixel: the rectangle meets the stretched tile exactly.
TEST_F(UnionView, BlankAndPaintedNeighboursMeetAtUnalignedOrigins) {
    const Content c = MakeContent(960, 480, 8, {1});
    TUnionBitmap store;
    Make(store, c);
    for (auto [num, den, left, srcW, srcH] : {std::tuple{3, 2, 1, 959, 480},
                                              {1, 3, 1, 959, 480},
                                              {7, 1, 475, 10, 20},
                                              {2, 3, 4, 956, 480},
                                              {5, 3, 473, 14, 30}}) {
        const int dstW = srcW * num / den, dstH = srcH * num / den;
        Screen screen(dstW, dstH, 8, &palette, kSentinel);
        ASSERT_EQ(
            store.PaintView(screen.dc.get(), dstW, false, store, true, srcH, srcW, 0, left, dstH),
            1);
        const double sx = double(dstW) / srcW;
        const int edge = Rnd(480 * sx) - Rnd(left * sx);
        for (int y = 0; y < dstH; ++y) {
            ASSERT_NE(screen.bitmap->GetValue(edge - 1, y), 1u) << num << "/" << den << " " << y;
            ASSERT_EQ(screen.bitmap->GetValue(edge, y), 1u) << num << "/" << den << " " << y;
        }
        for (std::uint32_t v : screen.Values())
            ASSERT_NE(v, kSentinel) << num << "/" << den;
    }
}

// Blank areas show palette entry 1, whatever the store's blank colour is, on
// indexed and true-colour screens; stores of other depths show white.
TEST_F(UnionView, BlankAreasShowPaletteEntryOne) {
    TUnionBitmap store;
    ASSERT_TRUE(store.Create(700, 500, palette.data(), 8));
    store.SetBlankColor(0x010000FF);
    Screen indexed(100, 80, 8, &palette, kSentinel);
    EXPECT_EQ(store.PaintView(indexed.dc.get(), 100, false, store, true, 500, 700, 0, 0, 80), 0);
    for (std::uint32_t v : indexed.Values())
        ASSERT_EQ(v, 1u);
    Screen colour(100, 80, 32, nullptr, 0);
    EXPECT_EQ(store.PaintView(colour.dc.get(), 100, false, store, true, 500, 700, 0, 0, 80), 0);
    for (std::uint32_t v : colour.Values())
        ASSERT_EQ(v, 0xFF0000u);
    Screen overview(70, 50, 32, nullptr, 0);
    EXPECT_EQ(store.PaintFullView(overview.dc.get(), 70, store, true, 50), 0);
    for (std::uint32_t v : overview.Values())
        ASSERT_EQ(v, 0xFF0000u);

    TUnionBitmap rgb;
    ASSERT_TRUE(rgb.Create(700, 500, nullptr, 24));
    rgb.SetBlankColor(0x00123456);
    Screen rgbScreen(100, 80, 24, nullptr, 0);
    EXPECT_EQ(rgb.PaintView(rgbScreen.dc.get(), 100, false, rgb, true, 500, 700, 0, 0, 80), 0);
    for (std::uint32_t v : rgbScreen.Values())
        ASSERT_EQ(v, 0xFFFFFFu);

    // The caller's brush and pen come back.
    gdi::HBRUSH brush = gdi::CreateSolidBrush(gdi::RGB(1, 2, 3));
    gdi::HPEN pen = gdi::CreatePen(gdi::PS_DOT, 1, gdi::RGB(4, 5, 6));
    gdi::SelectObject(indexed.dc.get(), brush);
    gdi::SelectObject(indexed.dc.get(), pen);
    store.PaintView(indexed.dc.get(), 100, false, store, true, 500, 700, 0, 0, 80);
    EXPECT_EQ(gdi::GetCurrentBrush(indexed.dc.get()), brush);
    EXPECT_EQ(gdi::GetCurrentPen(indexed.dc.get()), pen);
}

// With draw-all off only tiles whose level was regenerated are drawn: nothing
// after a full paint, then exactly the tiles changed since.
TEST_F(UnionView, DrawAllOffDrawsOnlyChangedTiles) {
    Content c = MakeContent(1060, 1001, 8, {});
    TUnionBitmap store;
    Make(store, c);
    for (auto [num, den] : {std::pair{1, 1}, {1, 4}}) {
        const int dstW = 1060 * num / den, dstH = 1001 * num / den;
        Screen screen(dstW, dstH, 8, &palette, kSentinel);
        HDC dc = screen.dc.get();
        ASSERT_EQ(store.PaintView(dc, dstW, false, store, true, 1001, 1060, 0, 0, dstH), 1);
        screen.Fill(kSentinel);
        EXPECT_EQ(store.PaintView(dc, dstW, false, store, false, 1001, 1060, 0, 0, dstH), 0);
        for (std::uint32_t v : screen.Values())
            ASSERT_EQ(v, kSentinel);

        // Change a few pixels of tile 5 (row 1, column 2).
        const RECT spot{970, 500, 990, 530};
        for (int y = spot.top; y < spot.bottom; ++y)
            for (int x = spot.left; x < spot.right; ++x)
                c.values[std::size_t(y) * c.width + x] ^= 0x5A;
        WriteContent(store, c, &spot);
        EXPECT_EQ(store.PaintView(dc, dstW, false, store, false, 1001, 1060, 0, 0, dstH), 1);
        EXPECT_EQ(store.LevelRefreshed(), 1);
        Canvas ref(dstW, dstH, kSentinel);
        RefView(ref, c, 0, 0, 1060, 1001, dstW, dstH, 1);
        const RECT t5 = RefDestination(RECT{960, 480, 1060, 960},
                                       Request{double(num) / den, double(num) / den, 0, 0, 0});
        for (int y = 0; y < dstH; ++y)
            for (int x = 0; x < dstW; ++x)
                if (x < t5.left || x >= t5.right || y < t5.top || y >= t5.bottom)
                    ref.v[std::size_t(y) * dstW + x] = kSentinel;
        ExpectSame(screen, ref, "zoom " + std::to_string(num) + "/" + std::to_string(den));
        EXPECT_EQ(store.PaintView(dc, dstW, false, store, false, 1001, 1060, 0, 0, dstH), 0);
        EXPECT_EQ(store.LevelRefreshed(), 0);
    }
}

// Paint, view at 1:4, paint again, view again: the second view shows the new
// pixels, so the reduced level was regenerated from the changed tile.
TEST_F(UnionView, RepaintAfterViewingAtOneQuarterShowsNewPixels) {
    const Content c = MakeContent(1060, 1001, 8, {2, 7});
    TUnionBitmap store;
    ASSERT_TRUE(store.Create(c.width, c.height, palette.data(), 8));
    store.SetBlankColor(gdi::PALETTEINDEX(9));
    WriteContent(store, c);
    Screen screen(265, 250, 8, &palette, kSentinel);
    HDC dc = screen.dc.get();
    ASSERT_EQ(store.PaintView(dc, 265, false, store, true, 1001, 1060, 0, 0, 250), 1);
    Canvas first(265, 250, kSentinel);
    RefView(first, c, 0, 0, 1060, 1001, 265, 250, 1);
    ExpectSame(screen, first, "first view");

    // New pixels over parts of tiles 0, 1, 3, 4, 6 and the blank tile 7;
    // the rest of tile 7 keeps the blank colour it was filled with.
    const RECT spot{100, 100, 900, 1001};
    Content next = c;
    next.blank = {2};
    for (int y = 0; y < 1001; ++y)
        for (int x = 0; x < 1060; ++x) {
            std::uint32_t& v = next.values[std::size_t(y) * 1060 + x];
            if (x >= spot.left && x < spot.right && y >= spot.top && y < spot.bottom)
                v = (Hash(x + 5, y * 3) & 0x7F) + 2;
            else if (x >= 480 && x < 960 && y >= 960)
                v = 9;
        }
    WriteContent(store, next, &spot);
    EXPECT_EQ(store.PaintView(dc, 265, false, store, false, 1001, 1060, 0, 0, 250), 1);
    Canvas second(265, 250, kSentinel);
    RefView(second, next, 0, 0, 1060, 1001, 265, 250, 1);
    // Tiles 2, 5 and 8 did not change and were not drawn again.
    for (int y = 0; y < 250; ++y)
        for (int x = 240; x < 265; ++x)
            second.v[std::size_t(y) * 265 + x] = first.At(x, y);
    ExpectSame(screen, second, "second view");
}

// The overview draws from the level of the last main-view paint.
TEST_F(UnionView, FullViewDrawsFromTheLevelOfTheLastMainPaint) {
    const Content c = MakeContent(1060, 1001, 8, {5});
    TUnionBitmap store;
    Make(store, c);
    const int dstW = 353, dstH = 333;  // about a third
    Screen overview(dstW, dstH, 8, &palette, kSentinel);

    // No main paint yet: level 0.
    EXPECT_EQ(store.PaintFullView(overview.dc.get(), dstW, store, true, dstH), 1);
    Canvas ref0(dstW, dstH, kSentinel);
    RefFullView(ref0, c, 0, dstW, dstH, 1);
    ExpectSame(overview, ref0, "before any main paint");

    for (auto [num, den] : {std::pair{1, 2}, {1, 5}, {1, 8}, {2, 1}}) {
        Screen main(100, 100, 8, &palette, kSentinel);
        ASSERT_GE(store.PaintView(main.dc.get(), 100, false, store, true, 100 * den / num,
                                  100 * den / num, 0, 0, 100),
                  0);
        const int level = RefLevel(double(num) / den);
        ASSERT_EQ(store.DisplayLevel(), level);
        overview.Fill(kSentinel);
        EXPECT_EQ(store.PaintFullView(overview.dc.get(), dstW, store, true, dstH), 1);
        EXPECT_EQ(store.DisplayLevel(), level);
        Canvas ref(dstW, dstH, kSentinel);
        RefFullView(ref, c, level, dstW, dstH, 1);
        ExpectSame(overview, ref, "after a main paint at level " + std::to_string(level));
    }
}

// The row paints draw the tiles of one tile row whose last level changed,
// through the cascade of reductions.
TEST_F(UnionView, RowPaintsDrawChangedTilesOfTheirRow) {
    Content c = MakeContent(1060, 1001, 8, {});
    TUnionBitmap store;
    Make(store, c);
    Screen screen(353, 333, 8, &palette, kSentinel);
    Screen overview(265, 250, 8, &palette, kSentinel);
    HDC dc = screen.dc.get();
    // Everything is new: each row paint draws its whole row.
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(store.PaintViewRow(dc, 353, store, row, 1001, 1060, 0, 0, 333), 1) << row;
    Canvas ref(353, 333, kSentinel);
    RefView(ref, c, 0, 0, 1060, 1001, 353, 333, 1);
    ExpectSame(screen, ref, "row paints");
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(store.PaintFullViewRow(overview.dc.get(), 265, store, row, 250), 1) << row;
    // The row overview scales the whole image to its size, from the level
    // that size chooses, as a main view of the whole image would.
    Canvas refOverview(265, 250, kSentinel);
    RefView(refOverview, c, 0, 0, 1060, 1001, 265, 250, 1);
    ExpectSame(overview, refOverview, "overview row paints");

    // Until the view clears the marks, the rows keep drawing.
    EXPECT_EQ(store.PaintViewRow(dc, 353, store, 1, 1001, 1060, 0, 0, 333), 1);
    store.ClearDisplayChanged(0, 0, 1060, 1001);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(store.PaintViewRow(dc, 353, store, row, 1001, 1060, 0, 0, 333), 0);
        EXPECT_EQ(store.PaintFullViewRow(overview.dc.get(), 265, store, row, 250), 0);
    }
    EXPECT_EQ(store.PaintViewRow(dc, 353, store, 3, 1001, 1060, 0, 0, 333), 0);
    EXPECT_EQ(store.PaintViewRow(dc, 353, store, -1, 1001, 1060, 0, 0, 333), 0);

    // A change in tile 4 redraws that tile in row 1 only.
    const RECT spot{600, 600, 700, 700};
    for (int y = spot.top; y < spot.bottom; ++y)
        for (int x = spot.left; x < spot.right; ++x)
            c.values[std::size_t(y) * c.width + x] ^= 0xFF;
    WriteContent(store, c, &spot);
    screen.Fill(kSentinel);
    EXPECT_EQ(store.PaintViewRow(dc, 353, store, 0, 1001, 1060, 0, 0, 333), 0);
    EXPECT_EQ(store.PaintViewRow(dc, 353, store, 1, 1001, 1060, 0, 0, 333), 1);
    Canvas changed(353, 333, kSentinel);
    RefView(changed, c, 0, 0, 1060, 1001, 353, 333, 1);
    const RECT t4 =
        RefDestination(RECT{480, 480, 960, 960}, Request{353.0 / 1060, 333.0 / 1001, 0, 0, 0});
    for (int y = 0; y < 333; ++y)
        for (int x = 0; x < 353; ++x)
            if (x < t4.left || x >= t4.right || y < t4.top || y >= t4.bottom)
                changed.v[std::size_t(y) * 353 + x] = kSentinel;
    ExpectSame(screen, changed, "row paint after a change");
}

// A view painted while row access holds tiles in use still shows them.
TEST_F(UnionView, PaintsTilesLockedForRowAccess) {
    const Content c = MakeContent(1060, 1001, 8, {});
    TUnionBitmap store;
    Make(store, c);
    ASSERT_TRUE(store.BeginRowAccess());
    ASSERT_NE(store.ReadRow(10), nullptr);
    ASSERT_TRUE(store.Tile(0, 0)->InUse());
    for (auto [num, den] : {std::pair{1, 1}, {1, 2}}) {
        const int dstW = 1060 * num / den, dstH = 1001 * num / den;
        Screen screen(dstW, dstH, 8, &palette, kSentinel);
        EXPECT_EQ(
            store.PaintView(screen.dc.get(), dstW, false, store, true, 1001, 1060, 0, 0, dstH), 1);
        Canvas ref(dstW, dstH, kSentinel);
        RefView(ref, c, 0, 0, 1060, 1001, dstW, dstH, 1);
        ExpectSame(screen, ref, "during row access");
    }
    EXPECT_TRUE(store.Tile(0, 0)->InUse());
    store.EndRowAccess();
}

// StretchToDC draws blank tiles as the store's own blank pixels, with the
// raster operation, at the destination offset.
TEST_F(UnionView, StretchToDCDrawsEveryTileWithTheOperation) {
    Content c = MakeContent(1060, 1001, 8, {1});
    c.blankValue = 77;
    TUnionBitmap store;
    ASSERT_TRUE(store.Create(c.width, c.height, palette.data(), 8));
    store.SetBlankColor(0x0100004D);  // index 77
    WriteContent(store, c);
    const int dstW = 353, dstH = 333;
    Screen screen(dstW + 20, dstH + 10, 8, &palette, 0xF0);
    ASSERT_TRUE(
        store.StretchToDC(screen.dc.get(), 20, gdi::SRCINVERT, 1001, 1060, 0, 0, dstH, dstW, 10));
    Canvas ref(dstW, dstH, 0);
    RefView(ref, c, 0, 0, 1060, 1001, dstW, dstH, 0, true);
    int bad = 0;
    for (int y = 0; y < dstH + 10; ++y)
        for (int x = 0; x < dstW + 20; ++x) {
            const bool inside = x >= 20 && y >= 10;
            const std::uint32_t want = inside ? (ref.At(x - 20, y - 10) ^ 0xF0) : 0xF0;
            bad += screen.bitmap->GetValue(x, y) != want;
        }
    EXPECT_EQ(bad, 0);
}

// Masked paints: (screen AND mask) OR (image AND NOT mask) on indices for
// 8-bit stores and on bits for 24-bit images with 1-bit masks; blank image
// tiles leave the screen alone but count as drawn.
TEST_F(UnionView, MaskedPaintsFollowTheFormula) {
    struct Case {
        int imageBits, maskBits;
        int srcLeft, srcTop, srcW, srcH, dstW, dstH;
        // 0: the main view; n > 0: the overview after a main paint at 1/n.
        int overview;
    } cases[] = {
        {8, 8, 0, 0, 1060, 1001, 353, 333, 0},  {8, 8, 17, 3, 600, 400, 900, 600, 0},
        {24, 1, 0, 0, 1060, 1001, 265, 250, 0}, {24, 1, 401, 3, 200, 300, 700, 1050, 0},
        {8, 8, 0, 0, 0, 0, 212, 200, 1},        {24, 1, 0, 0, 0, 0, 530, 500, 1},
        {8, 8, 0, 0, 0, 0, 353, 333, 2},        {24, 1, 0, 0, 0, 0, 265, 250, 5},
    };
    for (const Case& k : cases) {
        const std::string what = std::to_string(k.imageBits) + "/" + std::to_string(k.maskBits) +
                                 (k.overview ? " overview" : " view") + " " +
                                 std::to_string(k.dstW) + " after 1/" + std::to_string(k.overview);
        const Content image = MakeContent(1060, 1001, k.imageBits, {4});
        Content maskContent = MakeContent(1060, 1001, k.maskBits, {8});
        maskContent.blankValue = k.maskBits == 8 ? 255 : 1;  // white on the grey ramp, or 1
        for (auto& v : maskContent.values)
            v = k.maskBits == 8 ? (v * 0x9E3779B1u) >> 24 : v;
        TUnionBitmap imageStore, maskStore;
        Make(imageStore, image);
        ASSERT_TRUE(maskStore.Create(1060, 1001, nullptr, k.maskBits));
        WriteContent(maskStore, maskContent);
        const int screenBits = k.imageBits;
        Screen screen(k.dstW, k.dstH, screenBits, screenBits == 8 ? &palette : nullptr, 0);
        Canvas before(k.dstW, k.dstH, 0);
        for (int y = 0; y < k.dstH; ++y)
            for (int x = 0; x < k.dstW; ++x) {
                const std::uint32_t v = Hash(x * 3, y + 11) & (screenBits == 8 ? 0xFF : 0xFFFFFF);
                screen.bitmap->SetValue(x, y, v);
                before.Put(x, y, v);
            }

        int result;
        const std::uint32_t unset = 0xFFFFFFFF;
        Canvas imageRef(k.dstW, k.dstH, unset), maskRef(k.dstW, k.dstH, unset);
        if (k.overview) {
            Screen main(100, 100, screenBits, screenBits == 8 ? &palette : nullptr, 0);
            imageStore.PaintView(main.dc.get(), 100, false, imageStore, true, 100 * k.overview,
                                 100 * k.overview, 0, 0, 100);
            const int level = RefLevel(1.0 / k.overview);
            ASSERT_EQ(imageStore.DisplayLevel(), level);
            result = imageStore.PaintFullViewMasked(screen.dc.get(), k.dstW, imageStore, true,
                                                    maskStore, imageStore, k.dstH);
            RefFullView(imageRef, image, level, k.dstW, k.dstH, unset);
            RefFullView(maskRef, maskContent, level, k.dstW, k.dstH, unset, true);
        } else {
            result = imageStore.PaintViewMasked(screen.dc.get(), k.dstW, false, imageStore, true,
                                                k.srcH, k.srcW, k.srcTop, k.srcLeft, maskStore,
                                                imageStore, k.dstH);
            RefView(imageRef, image, k.srcLeft, k.srcTop, k.srcW, k.srcH, k.dstW, k.dstH, unset);
            RefView(maskRef, maskContent, k.srcLeft, k.srcTop, k.srcW, k.srcH, k.dstW, k.dstH,
                    unset, true);
        }
        EXPECT_EQ(result, 1) << what;
        Canvas want = before;
        for (int y = 0; y < k.dstH; ++y)
            for (int x = 0; x < k.dstW; ++x) {
                const std::uint32_t img = imageRef.At(x, y);
                if (img == unset)
                    continue;  // blank image tile or outside the view
                std::uint32_t m = maskRef.At(x, y);
                if (k.maskBits == 1)
                    m = m ? 0xFFFFFF : 0;
                want.Put(x, y,
                         (before.At(x, y) & m) | (img & ~m & (screenBits == 8 ? 0xFF : 0xFFFFFF)));
            }
        ExpectSame(screen, want, what);
    }
}

TEST_F(UnionView, MaskedPaintsCountBlankImageTilesAsDrawn) {
    TUnionBitmap image, mask;
    ASSERT_TRUE(image.Create(1060, 1001, palette.data(), 8));
    ASSERT_TRUE(mask.Create(1060, 1001, nullptr, 8));
    WriteContent(mask, MakeContent(1060, 1001, 8, {}));
    Screen screen(353, 333, 8, &palette, kSentinel);
    HDC dc = screen.dc.get();
    EXPECT_EQ(
        image.PaintViewMasked(dc, 353, false, image, true, 1001, 1060, 0, 0, mask, image, 333), 1);
    EXPECT_EQ(image.PaintFullViewMasked(dc, 353, image, true, mask, image, 333), 1);
    for (std::uint32_t v : screen.Values())
        ASSERT_EQ(v, kSentinel);
    // Without draw-all and without changes nothing counts.
    EXPECT_EQ(
        image.PaintViewMasked(dc, 353, false, image, false, 1001, 1060, 0, 0, mask, image, 333), 0);
    EXPECT_EQ(image.PaintFullViewMasked(dc, 353, image, false, mask, image, 333), 0);

    // A mask laid out for another size cannot be applied.
    TUnionBitmap other;
    ASSERT_TRUE(other.Create(1000, 1001, nullptr, 8));
    EXPECT_EQ(
        image.PaintViewMasked(dc, 353, false, image, true, 1001, 1060, 0, 0, other, image, 333),
        -1);
    EXPECT_EQ(image.PaintFullViewMasked(dc, 353, image, true, mask, other, 333), -1);
    for (std::uint32_t v : screen.Values())
        ASSERT_EQ(v, kSentinel);
}

TEST_F(UnionView, NullContextIsAFailure) {
    const Content c = MakeContent(600, 500, 8, {});
    TUnionBitmap store;
    Make(store, c);
    EXPECT_EQ(store.PaintView(nullptr, 60, false, store, true, 500, 600, 0, 0, 50), -1);
    EXPECT_EQ(store.PaintViewRow(nullptr, 60, store, 0, 500, 600, 0, 0, 50), -1);
    EXPECT_EQ(store.PaintFullView(nullptr, 60, store, true, 50), -1);
    EXPECT_EQ(store.PaintFullViewRow(nullptr, 60, store, 0, 50), -1);
    EXPECT_FALSE(store.StretchToDC(nullptr, 0, gdi::SRCCOPY, 500, 600, 0, 0, 50, 60, 0));
}

}  // namespace
