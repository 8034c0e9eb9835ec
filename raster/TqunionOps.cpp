// The union store's fills, whole-store copies, masking, rectangle copies and
// stretches. Work goes tile by tile: a tile's device context is taken before
// the next tile of the same store is made resident (which may page others
// out), and the pixels of a tile are only touched while its context is out.
// Copies within one store go row by row with the source span set aside first,
// so that overlapping rectangles copy as memmove does.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

#include "raster/Tqunion.h"

namespace quillor {

namespace gdi = platform::gdi;

namespace {

// The row combinations that the row-wise copies implement.
enum class Op { Copy, Paint, And, Not, None };

Op OpOf(DWORD rop) {
    switch (rop) {
        case gdi::SRCCOPY:
            return Op::Copy;
        case gdi::SRCPAINT:
            return Op::Paint;
        case gdi::SRCAND:
            return Op::And;
        case gdi::NOTSRCCOPY:
            return Op::Not;
        default:
            return Op::None;
    }
}

// Combines n destination pixels from dx on with source pixels map[i] (or
// sx + i without a map). pal: the 256 colours of an 8-bit source.
using SpanFn = void (*)(std::uint8_t* d, int dx, const std::uint8_t* s, const int* map, int sx,
                        int n, const RGBQUAD* pal);

inline int SrcBit(const std::uint8_t* s, int x) {
    return (s[x >> 3] >> (7 - (x & 7))) & 1;
}
inline void SetBit(std::uint8_t* d, int x, int bit) {
    const std::uint8_t m = std::uint8_t(0x80 >> (x & 7));
    d[x >> 3] = bit ? std::uint8_t(d[x >> 3] | m) : std::uint8_t(d[x >> 3] & ~m);
}

template <Op OP>
inline std::uint8_t Apply(std::uint8_t d, std::uint8_t s) {
    if constexpr (OP == Op::Copy)
        return s;
    else if constexpr (OP == Op::Paint)
        return std::uint8_t(d | s);
    else if constexpr (OP == Op::And)
        return std::uint8_t(d & s);
    else
        return std::uint8_t(~s);
}

template <int DB, int SB, Op OP>
void CombineSpan(std::uint8_t* d, int dx, const std::uint8_t* s, const int* map, int sx, int n,
                 const RGBQUAD* pal) {
    if constexpr (DB == 8 && SB == 8) {
        std::uint8_t* o = d + dx;
        if (map) {
            for (int i = 0; i < n; ++i)
                o[i] = Apply<OP>(o[i], s[map[i]]);
        } else {
            const std::uint8_t* p = s + sx;
            for (int i = 0; i < n; ++i)
                o[i] = Apply<OP>(o[i], p[i]);
        }
    } else if constexpr (DB == 24 && SB == 24) {
        std::uint8_t* o = d + 3 * std::size_t(dx);
        for (int i = 0; i < n; ++i, o += 3) {
            const std::uint8_t* p = s + 3 * std::size_t(map ? map[i] : sx + i);
            o[0] = Apply<OP>(o[0], p[0]);
            o[1] = Apply<OP>(o[1], p[1]);
            o[2] = Apply<OP>(o[2], p[2]);
        }
    } else if constexpr (DB == 24 && SB == 8) {
        static_assert(OP == Op::Copy);
        std::uint8_t* o = d + 3 * std::size_t(dx);
        for (int i = 0; i < n; ++i, o += 3) {
            const RGBQUAD& q = pal[s[map ? map[i] : sx + i]];
            o[0] = q.rgbBlue;
            o[1] = q.rgbGreen;
            o[2] = q.rgbRed;
        }
    } else if constexpr (DB == 24 && SB == 1) {
        static_assert(OP == Op::And || OP == Op::Not);
        std::uint8_t* o = d + 3 * std::size_t(dx);
        for (int i = 0; i < n; ++i, o += 3) {
            const int bit = SrcBit(s, map ? map[i] : sx + i);
            if constexpr (OP == Op::And) {
                if (!bit)
                    o[0] = o[1] = o[2] = 0;
            } else {
                o[0] = o[1] = o[2] = bit ? 0 : 255;
            }
        }
    } else if constexpr (DB == 1 && SB == 1) {
        for (int i = 0; i < n; ++i) {
            const int bit = SrcBit(s, map ? map[i] : sx + i);
            const int x = dx + i;
            if constexpr (OP == Op::Copy) {
                SetBit(d, x, bit);
            } else if constexpr (OP == Op::Paint) {
                if (bit)
                    SetBit(d, x, 1);
            } else if constexpr (OP == Op::And) {
                if (!bit)
                    SetBit(d, x, 0);
            } else {
                SetBit(d, x, !bit);
            }
        }
    } else if constexpr (DB == 1 && SB == 8) {
        static_assert(OP == Op::And);
        for (int i = 0; i < n; ++i) {
            if (s[map ? map[i] : sx + i] < 254)
                SetBit(d, dx + i, 0);
        }
    }
}

template <int DB, int SB>
SpanFn PickFour(Op op) {
    switch (op) {
        case Op::Copy:
            return &CombineSpan<DB, SB, Op::Copy>;
        case Op::Paint:
            return &CombineSpan<DB, SB, Op::Paint>;
        case Op::And:
            return &CombineSpan<DB, SB, Op::And>;
        case Op::Not:
            return &CombineSpan<DB, SB, Op::Not>;
        default:
            return nullptr;
    }
}

// The combination of a rectangle copy (destination bits <- source bits);
// null where the copy does not support it.
SpanFn CopySpanFn(int db, int sb, Op op) {
    if (db == sb && (db == 1 || db == 8 || db == 24)) {
        if (db == 8)
            return PickFour<8, 8>(op);
        if (db == 24)
            return PickFour<24, 24>(op);
        return PickFour<1, 1>(op);
    }
    if (db == 24 && sb == 8 && op == Op::Copy)
        return &CombineSpan<24, 8, Op::Copy>;
    if (db == 24 && sb == 1 && op == Op::And)
        return &CombineSpan<24, 1, Op::And>;
    if (db == 24 && sb == 1 && op == Op::Not)
        return &CombineSpan<24, 1, Op::Not>;
    if (db == 1 && sb == 8 && op == Op::And)
        return &CombineSpan<1, 8, Op::And>;
    return nullptr;
}

// The combination of a stretch: equal depths, and a 1-bit source ANDed into
// a 24-bit destination.
SpanFn StretchSpanFn(int db, int sb, Op op) {
    if (db == sb)
        return CopySpanFn(db, sb, op);
    if (db == 24 && sb == 1 && op == Op::And)
        return &CombineSpan<24, 1, Op::And>;
    return nullptr;
}

// ---- raw pixel values ----

// The raw pixel value (index, bit, or blue | green << 8 | red << 16) that a
// fill with `colour` gives in a tile of the store's depth and palette: the
// value a blank tile holds when the colour is the blank colour.
std::uint32_t RawValueOf(const TUnionBitmap& store, std::uint32_t colour) {
    TQuillorBitmap probe;
    const int bits = store.BitsPerPixel();
    if (!probe.Create(8, 1, bits == 8 ? store.Palette() : nullptr, bits))
        return 0;
    probe.FillRect(colour, 0, 0, 8, 1);
    const std::uint8_t* row = probe.GetHandle()->pixels->Row(0);
    if (bits == 1)
        return row[0] >> 7;
    if (bits == 8)
        return row[0];
    return std::uint32_t(row[0]) | std::uint32_t(row[1]) << 8 | std::uint32_t(row[2]) << 16;
}

// A raw value of one depth as the bits of every pixel of that depth: for the
// tests of operations that leave a destination as it is (AND with all bits,
// OR with none).
bool AllOnes(int bits, std::uint32_t raw) {
    return bits == 1 ? raw == 1 : bits == 8 ? raw == 0xFF : raw == 0xFFFFFF;
}

// Fills a source-format row of `pixels` pixels with one raw value.
void FillRawRow(std::vector<std::uint8_t>& row, int bits, int pixels, std::uint32_t raw) {
    const std::size_t bytes = std::size_t((std::int64_t(pixels) * bits + 7) / 8) + 4;
    row.assign(bytes, 0);
    if (bits == 1) {
        std::memset(row.data(), raw ? 0xFF : 0, bytes);
    } else if (bits == 8) {
        std::memset(row.data(), int(raw & 0xFF), bytes);
    } else {
        for (std::size_t i = 0; i + 3 <= bytes; i += 3) {
            row[i] = std::uint8_t(raw);
            row[i + 1] = std::uint8_t(raw >> 8);
            row[i + 2] = std::uint8_t(raw >> 16);
        }
    }
}

// Sets the pixels x0 .. x1 - 1 of rows y0 .. y1 - 1 to one raw value.
void FillRawRect(gdi::Bitmap& bm, int x0, int y0, int x1, int y1, std::uint32_t raw) {
    const int bits = bm.BitsPerPixel();
    if (x1 <= x0 || y1 <= y0)
        return;
    std::vector<std::uint8_t> src;
    FillRawRow(src, bits, x1 - x0 + 8, raw);
    const SpanFn fn = CopySpanFn(bits, bits, Op::Copy);
    for (int y = y0; y < y1; ++y) {
        if (bits == 8)
            std::memset(bm.Row(y) + x0, int(raw & 0xFF), std::size_t(x1 - x0));
        else
            fn(bm.Row(y), x0, src.data(), nullptr, 0, x1 - x0, nullptr);
    }
}

RECT Intersect(const RECT& a, const RECT& b) {
    RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
           std::min(a.bottom, b.bottom)};
    if (r.right < r.left)
        r.right = r.left;
    if (r.bottom < r.top)
        r.bottom = r.top;
    return r;
}

bool Empty(const RECT& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

bool SameGrid(const TUnionBitmap& a, const TUnionBitmap& b) {
    return a.IsCreated() && b.IsCreated() && a.Width() == b.Width() && a.Height() == b.Height();
}

// A device context of a level-0 tile, released at the end of its scope.
class TileContext {
  public:
    TileContext(TUnionBitmap& store, int tile) : store_(store), tile_(tile) {
        dc_ = store.GetTileDC(tile, 0);
    }
    ~TileContext() {
        if (dc_)
            store_.ReleaseTileDC(dc_, tile_, 0);
    }
    TileContext(const TileContext&) = delete;
    TileContext& operator=(const TileContext&) = delete;
    HDC dc() const { return dc_; }
    gdi::Bitmap* bitmap() const { return dc_ ? dc_->Target() : nullptr; }
    explicit operator bool() const { return dc_ != nullptr && dc_->Target() != nullptr; }

  private:
    TUnionBitmap& store_;
    int tile_;
    HDC dc_ = nullptr;
};

// ---- rectangle copies and stretches ----

// One axis of a copy or stretch: for each destination offset k (0 .. n - 1
// from the destination origin) the source coordinate, or -1 when it lies
// outside the source store or the destination pixel outside this store.
struct AxisMap {
    std::vector<int> map;
    int lo = 0, hi = 0;  // offsets [lo, hi) that map; contiguous
};

AxisMap MakeAxis(int d, int n, int s, int sn, int destLimit, int srcLimit) {
    AxisMap a;
    a.map.assign(std::size_t(std::max(n, 0)), -1);
    bool found = false;
    for (int k = 0; k < n; ++k) {
        const std::int64_t dc = std::int64_t(d) + k;
        const std::int64_t sc = std::int64_t(s) + std::int64_t(k) * sn / n;
        if (dc < 0 || dc >= destLimit || sc < 0 || sc >= srcLimit)
            continue;
        a.map[std::size_t(k)] = int(sc);
        if (!found)
            a.lo = k;
        a.hi = k + 1;
        found = true;
    }
    return a;
}

// Destination offsets [k0, k1) that take their source from one source tile
// (row or column) `tile`.
struct Run {
    int k0, k1, tile;
};

template <class TileOf>
std::vector<Run> SplitRuns(const AxisMap& a, int k0, int k1, TileOf tileOf) {
    std::vector<Run> runs;
    k0 = std::max(k0, a.lo);
    k1 = std::min(k1, a.hi);
    for (int k = k0; k < k1; ++k) {
        const int t = tileOf(a.map[std::size_t(k)]);
        if (!runs.empty() && runs.back().tile == t && runs.back().k1 == k)
            runs.back().k1 = k + 1;
        else
            runs.push_back({k, k + 1, t});
    }
    return runs;
}

struct CopyJob {
    TUnionBitmap* dst = nullptr;
    TUnionBitmap* src = nullptr;
    int dx = 0, dy = 0;  // destination origin of the maps
    AxisMap cols, rows;
    bool identity = false;  // map[k] = map[0] + k on both axes
    DWORD rop = 0;
    Op op = Op::None;
    SpanFn fn = nullptr;  // the row combination; null: device-context copy only
    Statusprogress* progress = nullptr;
};

// Tile by tile, for a source that is another store (or, aligned, the same
// store, each tile onto itself): each destination tile's context is taken
// once, and each source tile that feeds it is copied in through its own
// context (same depths, no scaling) or combined pixel by pixel after the row
// table. Blank source tiles are not made resident: their pixels are all the
// blank value.
bool CopyByTiles(CopyJob& job) {
    TUnionBitmap& dst = *job.dst;
    TUnionBitmap& src = *job.src;
    const bool self = &dst == &src;
    const int db = dst.BitsPerPixel(), sb = src.BitsPerPixel();
    const int x0 = job.dx + job.cols.lo, x1 = job.dx + job.cols.hi;
    const int y0 = job.dy + job.rows.lo, y1 = job.dy + job.rows.hi;
    if (x1 <= x0 || y1 <= y0)
        return true;
    const RECT area{x0, y0, x1, y1};
    const int c0 = dst.TileColumnOf(x0), c1 = dst.TileColumnOf(x1 - 1);
    const int r0 = dst.TileRowOf(y0), r1 = dst.TileRowOf(y1 - 1);

    const std::uint32_t srcBlank = RawValueOf(src, src.BlankColor());
    const std::uint32_t dstBlank = RawValueOf(dst, dst.BlankColor());
    // The blank source value as the destination sees it, where that tells
    // that an operation leaves the destination alone.
    bool blankKeeps = false;
    if (job.op == Op::And) {
        blankKeeps = db == sb ? AllOnes(sb, srcBlank)
                              : (sb == 1 ? srcBlank == 1 : (sb == 8 && srcBlank >= 254));
    } else if (job.op == Op::Paint) {
        blankKeeps = db == sb && srcBlank == 0;
    }
    const bool blitEqual = job.identity && db == sb;
    std::vector<std::uint8_t> blankRow;
    if (job.fn)
        FillRawRow(blankRow, sb, src.TileSize() + 8, srcBlank);
    const RGBQUAD* palCopy = src.Palette();

    if (job.progress)
        job.progress->Start(double((r1 - r0 + 1) * (c1 - c0 + 1)));
    auto fail = [&]() {
        if (job.progress)
            job.progress->Finish();
        return false;
    };
    auto srcTileOfX = [&](int x) { return src.TileColumnOf(x); };
    auto srcTileOfY = [&](int y) { return src.TileRowOf(y); };

    std::vector<int> localMap;
    int visited = 0;
    for (int r = r0; r <= r1; ++r) {
        for (int c = c0; c <= c1; ++c, ++visited) {
            if (job.progress)
                job.progress->Step(visited);
            const int t = r * dst.TileColumns() + c;
            const RECT& tr = dst.TileRect(t, 0);
            const RECT part = Intersect(tr, area);
            if (Empty(part))
                continue;
            const std::vector<Run> rowRuns =
                SplitRuns(job.rows, part.top - job.dy, part.bottom - job.dy, srcTileOfY);
            const std::vector<Run> colRuns =
                SplitRuns(job.cols, part.left - job.dx, part.right - job.dx, srcTileOfX);
            if (rowRuns.empty() || colRuns.empty())
                continue;

            // Which source tiles need pixels, and what the blank ones do.
            struct Pair {
                const Run* rr;
                const Run* cr;
                int tile;
                bool blank;
            };
            std::vector<Pair> pairs;
            const bool destBlank = dst.Status(t, 0).Blank != 0;
            for (const Run& rr : rowRuns) {
                for (const Run& cr : colRuns) {
                    const int s = rr.tile * src.TileColumns() + cr.tile;
                    const bool blank = !self && src.Status(s, 0).Blank != 0;
                    if (blank && job.fn) {
                        if (blankKeeps)
                            continue;
                        // c AND c = c OR c = c: a blank destination keeps.
                        if (destBlank && db == sb && srcBlank == dstBlank &&
                            (job.op == Op::And || job.op == Op::Paint))
                            continue;
                    }
                    pairs.push_back({&rr, &cr, s, blank});
                }
            }
            if (pairs.empty())
                continue;
            const bool wholeTile = part.left == tr.left && part.top == tr.top &&
                                   part.right == tr.right && part.bottom == tr.bottom;
            if (wholeTile && pairs.size() == 1 && rowRuns.size() == 1 && colRuns.size() == 1 &&
                pairs[0].blank && job.op == Op::Copy && db == sb && srcBlank == dstBlank) {
                // The whole tile becomes the blank value: flags, no pixels.
                if (!destBlank)
                    dst.MarkTileBlank(t);
                continue;
            }

            TileContext dctx(dst, t);
            if (!dctx)
                return fail();
            gdi::Bitmap& dbm = *dctx.bitmap();
            for (const Pair& p : pairs) {
                const Run& rr = *p.rr;
                const Run& cr = *p.cr;
                const RECT& sr = src.TileRect(p.tile, 0);
                const int n = cr.k1 - cr.k0;
                const int ldx = job.dx + cr.k0 - tr.left;
                // 24 <- 8 takes the palette copy, else the source tile's own.
                const bool needPalette = db == 24 && sb == 8;
                if (p.blank && job.fn && (!needPalette || palCopy)) {
                    localMap.assign(std::size_t(n), 0);
                    for (int k = cr.k0; k < cr.k1; ++k)
                        localMap[std::size_t(k - cr.k0)] = job.cols.map[std::size_t(k)] - sr.left;
                    for (int k = rr.k0; k < rr.k1; ++k)
                        job.fn(dbm.Row(job.dy + k - tr.top), ldx, blankRow.data(), localMap.data(),
                               0, n, palCopy);
                    continue;
                }
                const bool sameTile = self && p.tile == t;
                std::optional<TileContext> sctxHolder;
                HDC sdc = dctx.dc();
                if (!sameTile) {
                    sctxHolder.emplace(src, p.tile);
                    if (!*sctxHolder)
                        return fail();
                    sdc = sctxHolder->dc();
                }
                gdi::Bitmap& sbm = *sdc->Target();
                const int lsx = job.cols.map[std::size_t(cr.k0)] - sr.left;
                const int lsy = job.rows.map[std::size_t(rr.k0)] - sr.top;
                if (blitEqual && job.op == Op::Copy && db >= 8) {
                    // Whole bytes between tiles of one depth: the rows as
                    // the device-context copy would move them.
                    const std::size_t bpp = std::size_t(db / 8);
                    const std::size_t bytes = std::size_t(n) * bpp;
                    for (int k = rr.k0; k < rr.k1; ++k)
                        std::memmove(dbm.Row(job.dy + k - tr.top) + std::size_t(ldx) * bpp,
                                     sbm.Row(lsy + k - rr.k0) + std::size_t(lsx) * bpp, bytes);
                    continue;
                }
                if (blitEqual) {
                    if (!gdi::BitBlt(dctx.dc(), ldx, job.dy + rr.k0 - tr.top, n, rr.k1 - rr.k0, sdc,
                                     lsx, lsy, job.rop))
                        return fail();
                    continue;
                }
                if (!job.fn)
                    return fail();
                const RGBQUAD* pal = palCopy ? palCopy : sbm.ColorTable();
                localMap.assign(std::size_t(n), 0);
                for (int k = cr.k0; k < cr.k1; ++k)
                    localMap[std::size_t(k - cr.k0)] = job.cols.map[std::size_t(k)] - sr.left;
                for (int k = rr.k0; k < rr.k1; ++k) {
                    const int sy = job.rows.map[std::size_t(k)] - sr.top;
                    job.fn(dbm.Row(job.dy + k - tr.top), ldx, sbm.Row(sy), localMap.data(), 0, n,
                           pal);
                }
            }
            dst.MarkTileChanged(t);
        }
    }
    if (job.progress)
        job.progress->Finish();
    return true;
}

// Row by row through both stores' row access. With the same store on both
// sides the source span is set aside before the destination row is read, and
// a source row that a destination row overwrites while later rows still need
// it is kept aside too, so the result is that of a copy from an untouched
// source (as memmove gives).
bool CopyByRows(CopyJob& job) {
    TUnionBitmap& dst = *job.dst;
    TUnionBitmap& src = *job.src;
    const bool same = &dst == &src;
    const int sb = src.BitsPerPixel(), db = dst.BitsPerPixel();
    const AxisMap& cols = job.cols;
    const AxisMap& rows = job.rows;
    if (cols.hi <= cols.lo || rows.hi <= rows.lo || !job.fn)
        return true;

    const int sL = cols.map[std::size_t(cols.lo)];
    const int sR = cols.map[std::size_t(cols.hi - 1)];
    const int count = sR - sL + 1;
    const std::size_t byteStart = std::size_t((std::int64_t(sL) * sb) >> 3);
    const std::size_t byteEnd = std::size_t((std::int64_t(sR + 1) * sb + 7) >> 3);
    const int base = int(byteStart * 8 / std::size_t(sb));
    std::vector<int> lmap(std::size_t(cols.hi - cols.lo));
    for (int k = cols.lo; k < cols.hi; ++k)
        lmap[std::size_t(k - cols.lo)] = cols.map[std::size_t(k)] - base;
    const int dx0 = job.dx + cols.lo;
    const int n = cols.hi - cols.lo;

    // Source rows used, and the last destination offset that uses each.
    const int rMin = rows.map[std::size_t(rows.lo)];
    const int rMax = rows.map[std::size_t(rows.hi - 1)];
    std::vector<int> lastUse;
    if (same) {
        lastUse.assign(std::size_t(rMax - rMin + 1), -1);
        for (int k = rows.lo; k < rows.hi; ++k)
            lastUse[std::size_t(rows.map[std::size_t(k)] - rMin)] = k;
    }

    const bool srcBegan = src.BeginRowAccess();
    const bool dstBegan = same ? srcBegan : dst.BeginRowAccess();
    if (!srcBegan || !dstBegan) {
        if (srcBegan)
            src.EndRowAccess();
        if (dstBegan && !same)
            dst.EndRowAccess();
        return false;
    }
    RGBQUAD palette[256] = {};
    const RGBQUAD* pal = nullptr;
    if (db == 24 && sb == 8) {
        if (src.Palette()) {
            pal = src.Palette();
        } else {
            // No palette copy: the tiles' own colours.
            src.EnsureTile(0, 0);
            if (TQuillorBitmap* t0 = src.Tile(0, 0))
                t0->GetPalette(0, 256, palette);
            pal = palette;
        }
    }

    std::map<int, std::vector<std::uint8_t>> kept;
    std::vector<std::uint8_t> aside(byteEnd - byteStart + 4);
    auto readSpan = [&](int y, std::uint8_t* out) {
        const std::uint8_t* row = src.ReadRowSpan(y, sL, count);
        std::memcpy(out, row + byteStart, byteEnd - byteStart);
    };
    for (int k = rows.lo; k < rows.hi; ++k) {
        const int y = job.dy + k;
        const int r = rows.map[std::size_t(k)];
        if (same && y >= rMin && y <= rMax && lastUse[std::size_t(y - rMin)] > k &&
            !kept.count(y)) {
            std::vector<std::uint8_t>& keep = kept[y];
            keep.resize(aside.size());
            readSpan(y, keep.data());
        }
        const std::uint8_t* s;
        if (auto it = kept.find(r); it != kept.end()) {
            s = it->second.data();
        } else {
            readSpan(r, aside.data());
            s = aside.data();
        }
        std::uint8_t* d = dst.ReadRowSpan(y, dx0, n);
        if (d != nullptr) {
            job.fn(d, dx0, s, lmap.data(), 0, n, pal);
            dst.WriteRowSpan(y, dx0, n);
        }
        if (same) {
            while (!kept.empty() && lastUse[std::size_t(kept.begin()->first - rMin)] <= k)
                kept.erase(kept.begin());
        }
    }
    dst.EndRowAccess();
    if (!same)
        src.EndRowAccess();
    return true;
}

AxisMap IdentityAxis(int n, int s) {
    AxisMap a;
    a.map.resize(std::size_t(std::max(n, 0)));
    for (int k = 0; k < n; ++k)
        a.map[std::size_t(k)] = s + k;
    a.lo = 0;
    a.hi = std::max(n, 0);
    return a;
}

// The w x h pixels at (sx, sy) of src onto (dx, dy) of dst, clipped already,
// with the row combination of the depths and operation (null when the row
// table has none).
CopyJob UnscaledCopy(TUnionBitmap& dst, TUnionBitmap& src, int dx, int dy, int sx, int sy, int w,
                     int h, DWORD rop) {
    CopyJob job;
    job.dst = &dst;
    job.src = &src;
    job.dx = dx;
    job.dy = dy;
    job.cols = IdentityAxis(w, sx);
    job.rows = IdentityAxis(h, sy);
    job.identity = true;
    job.rop = rop;
    job.op = OpOf(rop);
    job.fn = CopySpanFn(dst.BitsPerPixel(), src.BitsPerPixel(), job.op);
    return job;
}

}  // namespace

// ---- fills ----

void TUnionBitmap::FillRect(std::uint32_t colour, int left, int top, int right, int bottom) {
    if (!IsCreated())
        return;
    const RECT area = Intersect(RECT{left, top, right, bottom}, RECT{0, 0, Width(), Height()});
    if (Empty(area))
        return;
    const bool blankFill = RawValueOf(*this, colour) == RawValueOf(*this, FBlankColor);
    for (int r = TileRowOf(area.top); r <= TileRowOf(area.bottom - 1); ++r) {
        for (int c = TileColumnOf(area.left); c <= TileColumnOf(area.right - 1); ++c) {
            const int t = r * FTileColumns + c;
            const RECT& tr = TileRect(t, 0);
            const RECT part = Intersect(tr, area);
            if (Empty(part))
                continue;
            if (blankFill && part.left == tr.left && part.top == tr.top && part.right == tr.right &&
                part.bottom == tr.bottom) {
                if (!Status(t, 0).Blank)
                    MarkTileBlank(t);
                continue;
            }
            EnsureTile(t, 0);
            TQuillorBitmap* tile = Tile(t, 0);
            if (tile == nullptr || !tile->IsAllocated())
                continue;
            tile->FillRect(colour, part.left - tr.left, part.top - tr.top, part.right - tr.left,
                           part.bottom - tr.top);
            MarkTileChanged(t);
        }
    }
}

// ---- whole-store copies ----

bool TUnionBitmap::Assign(TUnionBitmap& source) {
    if (!SameGrid(*this, source) || source.BitsPerPixel() != BitsPerPixel())
        return false;
    if (&source == this)
        return true;
    const std::uint32_t srcBlank = RawValueOf(source, source.FBlankColor);
    const std::uint32_t dstBlank = RawValueOf(*this, FBlankColor);
    for (int t = 0; t < TileCount(); ++t) {
        const RECT& tr = TileRect(t, 0);
        if (source.Status(t, 0).Blank) {
            if (srcBlank == dstBlank) {
                if (!Status(t, 0).Blank)
                    MarkTileBlank(t);
                continue;
            }
            TileContext d(*this, t);
            if (!d)
                return false;
            FillRawRect(*d.bitmap(), 0, 0, tr.right - tr.left, tr.bottom - tr.top, srcBlank);
        } else {
            TileContext d(*this, t);
            if (!d)
                return false;
            TileContext s(source, t);
            if (!s || !gdi::BitBlt(d.dc(), 0, 0, tr.right - tr.left, tr.bottom - tr.top, s.dc(), 0,
                                   0, gdi::SRCCOPY))
                return false;
        }
        MarkTileChanged(t);
    }
    return true;
}

bool TUnionBitmap::CopyTilesFrom(TUnionBitmap& source, DWORD rop) {
    if (!SameGrid(*this, source))
        return false;
    for (int t = 0; t < TileCount(); ++t) {
        if (source.Status(t, 0).Blank) {
            // Flags only: the tile shows this store's blank colour.
            if (!Status(t, 0).Blank)
                MarkTileBlank(t);
            continue;
        }
        if (&source == this) {
            TileContext d(*this, t);
            if (!d)
                return false;
            const RECT& tr = TileRect(t, 0);
            if (!gdi::BitBlt(d.dc(), 0, 0, tr.right - tr.left, tr.bottom - tr.top, d.dc(), 0, 0,
                             rop))
                return false;
        } else {
            EnsureTile(t, 0);
            source.EnsureTile(t, 0);
            TQuillorBitmap* tile = Tile(t, 0);
            TQuillorBitmap* from = source.Tile(t, 0);
            if (tile == nullptr || from == nullptr || !tile->CopyFrom(*from, rop))
                return false;
        }
        MarkTileChanged(t);
    }
    if (FUserFlag != source.FUserFlag)
        SetUserFlag(source.FUserFlag);
    return true;
}

bool TUnionBitmap::AndWith(TUnionBitmap& source) {
    if (!SameGrid(*this, source))
        return false;
    const int db = BitsPerPixel(), sb = source.BitsPerPixel();
    if (!(db == sb || (db == 24 && sb == 1)))
        return false;
    if (&source == this)
        return true;  // d AND d = d
    const std::uint32_t srcBlank = RawValueOf(source, source.FBlankColor);
    const std::uint32_t dstBlank = RawValueOf(*this, FBlankColor);
    // The blank source value in this store's format.
    const std::uint32_t blankAsDest =
        db == sb ? srcBlank : (srcBlank ? std::uint32_t(0xFFFFFF) : 0u);
    const SpanFn andFn = CopySpanFn(db, sb, Op::And);
    for (int t = 0; t < TileCount(); ++t) {
        const RECT& tr = TileRect(t, 0);
        const int tw = tr.right - tr.left, th = tr.bottom - tr.top;
        if (source.Status(t, 0).Blank) {
            if (AllOnes(db, blankAsDest))
                continue;  // AND with every bit set
            if (Status(t, 0).Blank) {
                const std::uint32_t result = dstBlank & blankAsDest;
                if (result == dstBlank)
                    continue;
                TileContext d(*this, t);
                if (!d)
                    return false;
                FillRawRect(*d.bitmap(), 0, 0, tw, th, result);
                MarkTileChanged(t);
                continue;
            }
            if (blankAsDest == 0 && dstBlank == 0) {
                MarkTileBlank(t);
                continue;
            }
            TileContext d(*this, t);
            if (!d)
                return false;
            std::vector<std::uint8_t> row;
            FillRawRow(row, sb, tw + 8, srcBlank);
            for (int y = 0; y < th; ++y)
                andFn(d.bitmap()->Row(y), 0, row.data(), nullptr, 0, tw, nullptr);
            MarkTileChanged(t);
            continue;
        }
        TileContext d(*this, t);
        if (!d)
            return false;
        TileContext s(source, t);
        if (!s)
            return false;
        if (db == sb) {
            if (!gdi::BitBlt(d.dc(), 0, 0, tw, th, s.dc(), 0, 0, gdi::SRCAND))
                return false;
        } else {
            for (int y = 0; y < th; ++y)
                andFn(d.bitmap()->Row(y), 0, s.bitmap()->Row(y), nullptr, 0, tw, nullptr);
        }
        MarkTileChanged(t);
    }
    return true;
}

namespace {

// this = (this AND mask) OR (source AND NOT mask) over n pixels of one row.
void MergeRow(int db, int mb, std::uint8_t* d, const std::uint8_t* s, const std::uint8_t* m,
              int n) {
    if (db == mb) {
        const std::size_t bytes = std::size_t((std::int64_t(n) * db + 7) / 8);
        for (std::size_t i = 0; i < bytes; ++i)
            d[i] = std::uint8_t((d[i] & m[i]) | (s[i] & ~m[i]));
        return;
    }
    // A 24-bit store with a 1-bit mask: a set bit keeps the pixel.
    for (int x = 0; x < n; ++x) {
        if (!SrcBit(m, x))
            std::memcpy(d + 3 * std::size_t(x), s + 3 * std::size_t(x), 3);
    }
}

}  // namespace

bool TUnionBitmap::MergeMasked(TUnionBitmap& source, TUnionBitmap* mask) {
    if (!SameGrid(*this, source) || source.BitsPerPixel() != BitsPerPixel())
        return false;
    if (mask == nullptr)
        return Assign(source);
    if (!SameGrid(*this, *mask))
        return false;
    const int db = BitsPerPixel(), mb = mask->BitsPerPixel();
    if (!(db == mb || (db == 24 && mb == 1)))
        return false;
    if (&source == this)
        return true;
    const std::uint32_t srcBlank = RawValueOf(source, source.FBlankColor);
    const std::uint32_t dstBlank = RawValueOf(*this, FBlankColor);
    const std::uint32_t maskBlank = RawValueOf(*mask, mask->FBlankColor);
    const bool maskBlankKeeps = AllOnes(mb, maskBlank);
    const bool maskBlankTakes = maskBlank == 0;
    std::vector<std::uint8_t> srcRow, maskRow;
    FillRawRow(srcRow, db, TileSize() + 8, srcBlank);
    FillRawRow(maskRow, mb, TileSize() + 8, maskBlank);

    for (int t = 0; t < TileCount(); ++t) {
        const RECT& tr = TileRect(t, 0);
        const int tw = tr.right - tr.left, th = tr.bottom - tr.top;
        const bool maskIsBlank = mask->Status(t, 0).Blank != 0;
        const bool srcIsBlank = source.Status(t, 0).Blank != 0;
        if (maskIsBlank && maskBlankKeeps)
            continue;
        if (srcIsBlank && Status(t, 0).Blank && srcBlank == dstBlank)
            continue;  // both sides hold the same value
        if (maskIsBlank && maskBlankTakes && srcIsBlank && srcBlank == dstBlank) {
            MarkTileBlank(t);
            continue;
        }
        const bool maskSelf = mask == this;
        const bool maskIsSource = mask == &source;
        TileContext d(*this, t);
        if (!d)
            return false;
        std::optional<TileContext> s, m;
        if (!srcIsBlank) {
            s.emplace(source, t);
            if (!*s)
                return false;
        }
        if (!maskIsBlank && !maskSelf && !maskIsSource) {
            m.emplace(*mask, t);
            if (!*m)
                return false;
        }
        gdi::Bitmap& dbm = *d.bitmap();
        // With the mask also the destination, the rows are read from a copy.
        std::vector<std::uint8_t> maskCopy;
        for (int y = 0; y < th; ++y) {
            std::uint8_t* drow = dbm.Row(y);
            const std::uint8_t* srow = s ? s->bitmap()->Row(y) : srcRow.data();
            const std::uint8_t* mrow;
            if (maskIsBlank) {
                mrow = maskRow.data();
            } else if (maskSelf) {
                maskCopy.assign(drow, drow + dbm.Stride());
                mrow = maskCopy.data();
            } else if (maskIsSource) {
                mrow = srow;
            } else {
                mrow = m->bitmap()->Row(y);
            }
            MergeRow(db, mb, drow, srow, mrow, tw);
        }
        MarkTileChanged(t);
    }
    return true;
}

// ---- rectangle copies ----

bool TUnionBitmap::CopyRect(int dx, int dy, Statusprogress* progress, DWORD rop, int sy, int sx,
                            TUnionBitmap& source, int h, int w) {
    if (!IsCreated() || !source.IsCreated())
        return false;
    if (sx < 0) {
        dx -= sx;
        w += sx;
        sx = 0;
    }
    if (sy < 0) {
        dy -= sy;
        h += sy;
        sy = 0;
    }
    if (dx < 0) {
        sx -= dx;
        w += dx;
        dx = 0;
    }
    if (dy < 0) {
        sy -= dy;
        h += dy;
        dy = 0;
    }
    w = std::min({w, Width() - dx, source.Width() - sx});
    h = std::min({h, Height() - dy, source.Height() - sy});
    if (w <= 0 || h <= 0)
        return true;

    // Both rectangles at the same place: tile onto tile.
    if (dx == sx && dy == sy)
        return CopyAligned(dx, dy, progress, rop, source, h, w);
    CopyJob job = UnscaledCopy(*this, source, dx, dy, sx, sy, w, h, rop);
    if (job.fn == nullptr)
        return false;
    if (&source == this)
        return CopyByRows(job);
    return CopyByTiles(job);
}

bool TUnionBitmap::CopyAligned(int dx, int dy, Statusprogress* progress, DWORD rop,
                               TUnionBitmap& source, int h, int w) {
    if (!IsCreated() || !source.IsCreated())
        return false;
    // Clipped as CopyRect clips an aligned copy.
    if (dx < 0) {
        w += dx;
        dx = 0;
    }
    if (dy < 0) {
        h += dy;
        dy = 0;
    }
    w = std::min({w, Width() - dx, source.Width() - dx});
    h = std::min({h, Height() - dy, source.Height() - dy});
    if (w <= 0 || h <= 0)
        return true;
    CopyJob job = UnscaledCopy(*this, source, dx, dy, dx, dy, w, h, rop);
    // Between equal depths the device contexts take any operation.
    if (job.fn == nullptr && BitsPerPixel() != source.BitsPerPixel())
        return false;
    job.progress = progress;
    return CopyByTiles(job);
}

bool TUnionBitmap::StretchFrom(int dx, int dy, DWORD rop, int sh, int sw, int sy, int sx,
                               TUnionBitmap& source, int h, int w) {
    if (!IsCreated() || !source.IsCreated())
        return false;
    if (w <= 0 || h <= 0 || sw <= 0 || sh <= 0)
        return true;
    const Op op = OpOf(rop);
    const SpanFn fn = StretchSpanFn(BitsPerPixel(), source.BitsPerPixel(), op);
    if (fn == nullptr)
        return false;
    CopyJob job;
    job.dst = this;
    job.src = &source;
    job.dx = dx;
    job.dy = dy;
    job.cols = MakeAxis(dx, w, sx, sw, Width(), source.Width());
    job.rows = MakeAxis(dy, h, sy, sh, Height(), source.Height());
    job.identity = false;
    job.rop = rop;
    job.op = op;
    job.fn = fn;
    if (&source == this)
        return CopyByRows(job);
    return CopyByTiles(job);
}

}  // namespace quillor
