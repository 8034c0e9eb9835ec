// The union store's exchange with device contexts and single bitmaps, its
// resizes and stretches, and file loading.

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>

#include "raster/Tqunion.h"

namespace quillor {

namespace gdi = platform::gdi;
namespace im = imaging;

namespace {

// Chunks of a chunked load below this many pixels are not split again.
constexpr std::int64_t kSmallestChunk = 30000;
// Resolution of files that record none.
constexpr int kDefaultResolution = 150;
// Rows of a file read at once by rectangles: small enough that the scratch
// bitmap is reused from the heap rather than mapped afresh for every band.
constexpr std::int64_t kBandBytes = 192 * 1024;

// The raster operations the row-wise copy of a single bitmap implements.
enum class RowOp { Copy, NotCopy, Invert, And, Paint, None };

RowOp RowOpOf(DWORD rop) {
    switch (rop) {
        case gdi::SRCCOPY:
            return RowOp::Copy;
        case gdi::NOTSRCCOPY:
            return RowOp::NotCopy;
        case gdi::SRCINVERT:
            return RowOp::Invert;
        case gdi::SRCAND:
            return RowOp::And;
        case gdi::SRCPAINT:
            return RowOp::Paint;
        default:
            return RowOp::None;
    }
}

// Which store <- bitmap depth pairs each operation combines.
bool RowsSupported(int storeBits, int bitmapBits, RowOp op) {
    if (op == RowOp::None)
        return false;
    if ((storeBits == 1 && bitmapBits == 1) || (storeBits == 8 && bitmapBits == 8) ||
        (storeBits == 24 && (bitmapBits == 8 || bitmapBits == 24)))
        return true;
    if (storeBits == 24 && bitmapBits == 1)
        return op != RowOp::Paint;
    if (storeBits == 1 && bitmapBits == 8)
        return op == RowOp::And;
    return false;
}

inline std::uint8_t Combine(RowOp op, std::uint8_t d, std::uint8_t s) {
    switch (op) {
        case RowOp::Copy:
            return s;
        case RowOp::NotCopy:
            return std::uint8_t(~s);
        case RowOp::Invert:
            return std::uint8_t(d ^ s);
        case RowOp::And:
            return std::uint8_t(d & s);
        case RowOp::Paint:
            return std::uint8_t(d | s);
        case RowOp::None:
            break;
    }
    return d;
}

template <RowOp op>
void CombineBytes(std::uint8_t* d, const std::uint8_t* s, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        d[i] = Combine(op, d[i], s[i]);
}

void CombineBytes(RowOp op, std::uint8_t* d, const std::uint8_t* s, std::size_t n) {
    switch (op) {
        case RowOp::Copy:
            std::memcpy(d, s, n);
            break;
        case RowOp::NotCopy:
            CombineBytes<RowOp::NotCopy>(d, s, n);
            break;
        case RowOp::Invert:
            CombineBytes<RowOp::Invert>(d, s, n);
            break;
        case RowOp::And:
            CombineBytes<RowOp::And>(d, s, n);
            break;
        case RowOp::Paint:
            CombineBytes<RowOp::Paint>(d, s, n);
            break;
        case RowOp::None:
            break;
    }
}

inline int BitAt(const std::uint8_t* row, std::int64_t x) {
    return (row[x >> 3] >> (7 - (x & 7))) & 1;
}

inline void SetBitAt(std::uint8_t* row, std::int64_t x, int bit) {
    const auto mask = std::uint8_t(0x80u >> (x & 7));
    if (bit)
        row[x >> 3] |= mask;
    else
        row[x >> 3] &= std::uint8_t(~mask);
}

// 1-bit pixels dx.. of d combined with 1-bit pixels sx.. of s, most
// significant bit first; whole bytes at a time where both start on the same
// bit of a byte.
void CombineBits(RowOp op, std::uint8_t* d, std::int64_t dx, const std::uint8_t* s, std::int64_t sx,
                 std::int64_t n) {
    std::int64_t k = 0;
    if ((dx & 7) == (sx & 7)) {
        for (; k < n && ((dx + k) & 7) != 0; ++k)
            SetBitAt(
                d, dx + k,
                Combine(op, std::uint8_t(BitAt(d, dx + k)), std::uint8_t(BitAt(s, sx + k))) & 1);
        const std::int64_t bytes = (n - k) / 8;
        if (bytes > 0) {
            CombineBytes(op, d + ((dx + k) >> 3), s + ((sx + k) >> 3), std::size_t(bytes));
            k += bytes * 8;
        }
    }
    for (; k < n; ++k)
        SetBitAt(d, dx + k,
                 Combine(op, std::uint8_t(BitAt(d, dx + k)), std::uint8_t(BitAt(s, sx + k))) & 1);
}

// One row of the row-wise copy of a single bitmap: n pixels from pixel sx of
// the bitmap's row onto pixel dx of the store's row.
void CombineRow(RowOp op, int storeBits, int bitmapBits, std::uint8_t* d, int dx,
                const std::uint8_t* s, int sx, int n, const RGBQUAD* palette) {
    if (storeBits == bitmapBits && storeBits != 1) {
        const std::size_t bytes = std::size_t(storeBits / 8);
        CombineBytes(op, d + std::size_t(dx) * bytes, s + std::size_t(sx) * bytes,
                     std::size_t(n) * bytes);
        return;
    }
    if (storeBits == 1 && bitmapBits == 1) {
        CombineBits(op, d, dx, s, sx, n);
        return;
    }
    if (storeBits == 24 && bitmapBits == 8) {
        std::uint8_t* p = d + std::size_t(dx) * 3;
        for (int k = 0; k < n; ++k, p += 3) {
            const RGBQUAD& q = palette[s[sx + k]];
            p[0] = Combine(op, p[0], q.rgbBlue);
            p[1] = Combine(op, p[1], q.rgbGreen);
            p[2] = Combine(op, p[2], q.rgbRed);
        }
        return;
    }
    if (storeBits == 24 && bitmapBits == 1) {
        std::uint8_t* p = d + std::size_t(dx) * 3;
        for (int k = 0; k < n; ++k, p += 3) {
            const int bit = BitAt(s, std::int64_t(sx) + k);
            switch (op) {
                case RowOp::Copy:
                    std::memset(p, bit ? 0xFF : 0x00, 3);
                    break;
                case RowOp::NotCopy:
                    std::memset(p, bit ? 0x00 : 0xFF, 3);
                    break;
                case RowOp::Invert:
                    if (bit) {
                        p[0] = std::uint8_t(~p[0]);
                        p[1] = std::uint8_t(~p[1]);
                        p[2] = std::uint8_t(~p[2]);
                    }
                    break;
                case RowOp::And:
                    if (!bit)
                        std::memset(p, 0, 3);
                    break;
                default:
                    break;
            }
        }
        return;
    }
    if (storeBits == 1 && bitmapBits == 8 && op == RowOp::And) {
        for (int k = 0; k < n; ++k) {
            const RGBQUAD& q = palette[s[sx + k]];
            if ((q.rgbBlue + q.rgbGreen + q.rgbRed) / 3 <= 127)
                SetBitAt(d, std::int64_t(dx) + k, 0);
        }
    }
}

int ResolutionOf(const im::FileInfo& info) {
    return info.xResolution > 1 ? info.xResolution : kDefaultResolution;
}

// The store's 1-bit convention is index 0 black, 1 white. A 1-bit image
// whose table has them the other way round (or any darker second entry) has
// its bits inverted and its table made black and white, so that it looks
// the same in the store.
void NormaliseMonochrome(TQuillorBitmap& bitmap) {
    im::BitmapHandle* handle = bitmap.GetHandle();
    if (handle == nullptr || handle->bitsPerPixel != 1)
        return;
    std::array<RGBQUAD, 2> table{};
    bitmap.GetPalette(0, 2, table.data());
    const auto grey = [](const RGBQUAD& q) { return q.rgbBlue + q.rgbGreen + q.rgbRed; };
    const std::array<RGBQUAD, 2> blackWhite{RGBQUAD{0, 0, 0, 0}, RGBQUAD{255, 255, 255, 0}};
    if (grey(table[0]) > grey(table[1])) {
        gdi::Bitmap& pixels = *handle->pixels;
        std::uint8_t* bits = pixels.Bits();
        for (std::size_t i = 0, n = pixels.SizeBytes(); i < n; ++i)
            bits[i] = std::uint8_t(~bits[i]);
    }
    bitmap.SetPalette(0, 2, blackWhite.data());
}

}  // namespace

// ---- device contexts and single bitmaps ----

bool TUnionBitmap::BlitDC(HDC dc, int x, bool intoStore, DWORD rop, int y2, int x2, int h, int w,
                          int y) {
    // The store's rectangle and the offset from it to the other side.
    const std::int64_t left = intoStore ? x : x2;
    const std::int64_t top = intoStore ? y : y2;
    const std::int64_t offsetX = intoStore ? std::int64_t(x2) - x : std::int64_t(x) - x2;
    const std::int64_t offsetY = intoStore ? std::int64_t(y2) - y : std::int64_t(y) - y2;
    const std::int64_t l = std::max<std::int64_t>(left, 0);
    const std::int64_t t = std::max<std::int64_t>(top, 0);
    const std::int64_t r = std::min<std::int64_t>(left + w, FWidth);
    const std::int64_t b = std::min<std::int64_t>(top + h, FHeight);
    if (w <= 0 || h <= 0 || r <= l || b <= t)
        return true;
    if (!FCreated)
        return false;
    const int c0 = TileColumnOf(int(l)), c1 = TileColumnOf(int(r - 1));
    const int r0 = TileRowOf(int(t)), r1 = TileRowOf(int(b - 1));
    for (int row = r0; row <= r1; ++row) {
        for (int column = c0; column <= c1; ++column) {
            const int tile = row * FTileColumns + column;
            const RECT& tr = TileRect(tile, 0);
            const int ol = int(std::max<std::int64_t>(l, tr.left));
            const int ot = int(std::max<std::int64_t>(t, tr.top));
            const int orr = int(std::min<std::int64_t>(r, tr.right));
            const int ob = int(std::min<std::int64_t>(b, tr.bottom));
            if (orr <= ol || ob <= ot)
                continue;
            HDC tileDC = GetTileDC(tile, 0);
            if (tileDC == nullptr)
                return false;
            const int otherX = int(ol + offsetX), otherY = int(ot + offsetY);
            const bool ok = intoStore ? gdi::BitBlt(tileDC, ol - tr.left, ot - tr.top, orr - ol,
                                                    ob - ot, dc, otherX, otherY, rop)
                                      : gdi::BitBlt(dc, otherX, otherY, orr - ol, ob - ot, tileDC,
                                                    ol - tr.left, ot - tr.top, rop);
            ReleaseTileDC(tileDC, tile, 0);
            if (!ok)
                return false;
            if (intoStore)
                MarkTileChanged(tile);
        }
    }
    return true;
}

bool TUnionBitmap::CopyFromQuillor(TQuillorBitmap& bitmap, DWORD rop) {
    bool ok;
    if (HDC dc = bitmap.GetBitmapDC(); dc != nullptr) {
        ok = BlitDC(dc, 0, true, rop, 0, 0, bitmap.Height(), bitmap.Width(), 0);
        bitmap.ReleaseBitmapDC(dc);
    } else {
        ok = CopyQuillorRows(0, 0, rop, 0, 0, bitmap, bitmap.Height(), bitmap.Width());
    }
    if (!ok)
        return false;
    if (FUserFlag != bitmap.UserFlag())
        SetUserFlag(bitmap.UserFlag());
    return true;
}

bool TUnionBitmap::DrawQuillor(int dx, int dy, DWORD rop, int sy, int sx, TQuillorBitmap& bitmap,
                               int h, int w) {
    HDC dc = bitmap.GetBitmapDC();
    if (dc == nullptr)
        return CopyQuillorRows(dx, dy, rop, sy, sx, bitmap, h, w);
    const bool ok = BlitDC(dc, dx, true, rop, sy, sx, h, w, dy);
    bitmap.ReleaseBitmapDC(dc);
    return ok;
}

bool TUnionBitmap::CopyQuillorRows(int dx, int dy, DWORD rop, int sy, int sx,
                                   TQuillorBitmap& bitmap, int h, int w) {
    if (sx < 0 || sy < 0 || !FCreated)
        return false;
    // A destination left of (above) the store drops the columns (rows) that
    // would land outside it.
    std::int64_t dx64 = dx, dy64 = dy, sx64 = sx, sy64 = sy, w64 = w, h64 = h;
    if (dx64 < 0) {
        sx64 -= dx64;
        w64 += dx64;
        dx64 = 0;
    }
    if (dy64 < 0) {
        sy64 -= dy64;
        h64 += dy64;
        dy64 = 0;
    }
    if (w64 <= 0 || h64 <= 0)
        return false;
    w64 = std::min<std::int64_t>({w64, FWidth - dx64, std::int64_t(bitmap.Width()) - sx64});
    h64 = std::min<std::int64_t>({h64, FHeight - dy64, std::int64_t(bitmap.Height()) - sy64});
    if (w64 <= 0 || h64 <= 0)
        return false;
    const RowOp op = RowOpOf(rop);
    const int bitmapBits = bitmap.BitsPerPixel();
    if (!RowsSupported(FBitsPerPixel, bitmapBits, op))
        return false;
    std::array<RGBQUAD, 256> palette{};
    if (bitmapBits == 8)
        bitmap.GetPalette(0, 256, palette.data());
    if (!BeginRowAccess())
        return false;
    if (!bitmap.BeginRowAccess()) {
        EndRowAccess();
        return false;
    }
    const int n = int(w64);
    bool ok = true;
    for (std::int64_t r = 0; r < h64; ++r) {
        const int storeY = int(dy64 + r);
        std::uint8_t* d = ReadRowSpan(storeY, int(dx64), n);
        const std::uint8_t* s = bitmap.GetRow(int(sy64 + r));
        if (d == nullptr || s == nullptr) {
            ok = false;
            break;
        }
        CombineRow(op, FBitsPerPixel, bitmapBits, d, int(dx64), s, int(sx64), n, palette.data());
        WriteRowSpan(storeY, int(dx64), n);
    }
    bitmap.EndRowAccess();
    EndRowAccess();
    return ok;
}

bool TUnionBitmap::DrawToQuillor(TQuillorBitmap& bitmap, int x, DWORD rop, int y2, int x2, int h,
                                 int w, int y) {
    HDC dc = bitmap.GetBitmapDC();
    if (dc == nullptr)
        return false;
    const bool ok = BlitDC(dc, x, false, rop, y2, x2, h, w, y);
    bitmap.ReleaseBitmapDC(dc);
    return ok;
}

// ---- resizes and stretches ----

namespace {

// The selection of a region holder, taken out (or only read) as it is.
std::optional<QRegion> TakeSelection(TQuillorBitmap* holder, bool clear) {
    if (holder == nullptr)
        return std::nullopt;
    return holder->GetRegion(clear);
}

void PutSelection(TQuillorBitmap* holder, const std::optional<QRegion>& region) {
    if (holder != nullptr && region && !region->isEmpty())
        holder->SetRegion(*region, im::kRegionSet);
}

std::optional<std::array<RGBQUAD, 256>> PaletteCopy(const TUnionBitmap& store) {
    if (store.BitsPerPixel() != 8 || store.Palette() == nullptr)
        return std::nullopt;
    std::array<RGBQUAD, 256> copy{};
    std::copy_n(store.Palette(), 256, copy.begin());
    return copy;
}

const RGBQUAD* PointerTo(const std::optional<std::array<RGBQUAD, 256>>& palette) {
    return palette ? palette->data() : nullptr;
}

// Tiles of a 24-bit store that start at or beyond the old size get real
// pixels of the blank colour, so that what stores the tiles (the tile
// stream) keeps that colour rather than a blank flag.
void MaterialiseNewArea(TUnionBitmap& store, int oldWidth, int oldHeight, std::uint32_t colour) {
    if (store.BitsPerPixel() != 24 || colour == TUnionBitmap::kInitialBlankColor)
        return;
    for (int tile = 0; tile < store.TileCount(); ++tile) {
        const RECT& r = store.TileRect(tile, 0);
        if (r.left < oldWidth && r.top < oldHeight)
            continue;
        store.EnsureTile(tile, 0);
        store.MarkTileChanged(tile);
    }
}

}  // namespace

bool TUnionBitmap::ResizeCanvas(int width, int height, std::uint32_t colour) {
    if (width < 1 || height < 1)
        return false;
    int oldWidth = 0, oldHeight = 0;
    if (!FCreated) {
        if (!Create(width, height, nullptr, FBitsPerPixel))
            return false;
        SetBlankColor(colour);
    } else if (width == FWidth && height == FHeight) {
        oldWidth = width;
        oldHeight = height;
        // The content stays as it is: blank tiles that would change colour
        // keep the old one as real pixels.
        if (colour != FBlankColor) {
            for (int tile = 0; tile < TileCount(); ++tile) {
                if (Status(tile, 0).Blank != 1)
                    continue;
                EnsureTile(tile, 0);
                MarkTileChanged(tile);
            }
        }
        SetBlankColor(colour);
    } else {
        // The old content, blank tiles in their own colour and the selection
        // with it, in a store that pages under the same budget; this store is
        // then made from it at the new size.
        const auto palette = PaletteCopy(*this);
        TUnionBitmap old;
        old.SetResidentBudget(FResidentBudget);
        old.SetBlankColor(FBlankColor);
        old.SetUserFlag(FUserFlag);
        if (!old.Create(FWidth, FHeight, PointerTo(palette), FBitsPerPixel) || !old.Assign(*this))
            return false;
        PutSelection(old.RegionHolder(), TakeSelection(FRegionHolder.get(), true));
        return ResizeFrom(old, width, colour, height);
    }
    MaterialiseNewArea(*this, oldWidth, oldHeight, colour);
    return true;
}

bool TUnionBitmap::ResizeFrom(TUnionBitmap& source, int width, std::uint32_t colour, int height) {
    if (width < 1 || height < 1)
        return false;
    if (&source == this)
        return ResizeCanvas(width, height, colour);
    const int bits = source.BitsPerPixel();
    int oldWidth = 0, oldHeight = 0;
    if (!source.IsCreated()) {
        if (!Create(width, height, nullptr, bits))
            return false;
        SetBlankColor(colour);
    } else {
        oldWidth = source.Width();
        oldHeight = source.Height();
        const auto palette = PaletteCopy(source);
        // The source keeps its selection; this store gets a copy of it.
        std::optional<QRegion> region = TakeSelection(source.RegionHolder(), false);
        if (!Create(width, height, PointerTo(palette), bits))
            return false;
        SetBlankColor(colour);
        if (!CopyRect(0, 0, nullptr, gdi::SRCCOPY, 0, 0, source, std::min(oldHeight, height),
                      std::min(oldWidth, width)))
            return false;
        if (region)
            *region &= QRect(0, 0, width, height);
        PutSelection(FRegionHolder.get(), region);
    }
    MaterialiseNewArea(*this, oldWidth, oldHeight, colour);
    return true;
}

bool TUnionBitmap::Stretch(int width, int height, bool smooth) {
    if (FCreated && width == FWidth && height == FHeight)
        return true;
    if (width < 1 || height < 1)
        return false;
    if (!FCreated)
        return Create(width, height, nullptr, FBitsPerPixel);
    const int oldWidth = FWidth, oldHeight = FHeight, bits = FBitsPerPixel;
    const auto palette = PaletteCopy(*this);
    // Nothing to scale.
    if (oldWidth == 0 || oldHeight == 0)
        return Create(width, height, PointerTo(palette), bits);
    std::optional<QRegion> region = TakeSelection(FRegionHolder.get(), true);
    // Until the store is re-created a failure leaves it as it was.
    const auto fail = [&] {
        PutSelection(FRegionHolder.get(), region);
        return false;
    };
    if (smooth) {
        TQuillorBitmap scratch;
        if (!scratch.Create(oldWidth, oldHeight, PointerTo(palette), bits) ||
            !DrawToQuillor(scratch, 0, gdi::SRCCOPY, 0, 0, oldHeight, oldWidth, 0) ||
            !scratch.Resize(width, height, true))
            return fail();
        scratch.SetUserFlag(FUserFlag);
        if (!Create(width, height, PointerTo(palette), bits) ||
            !CopyFromQuillor(scratch, gdi::SRCCOPY))
            return false;
    } else {
        TUnionBitmap stretched;
        stretched.SetResidentBudget(FResidentBudget);
        stretched.SetBlankColor(FBlankColor);
        if (!stretched.Create(width, height, PointerTo(palette), bits) ||
            !stretched.StretchFrom(0, 0, gdi::SRCCOPY, oldHeight, oldWidth, 0, 0, *this, height,
                                   width))
            return fail();
        if (!Create(width, height, PointerTo(palette), bits) || !Assign(stretched))
            return false;
    }
    if (region) {
        gdi::RegionTransform scale;
        scale.xNumerator = width;
        scale.xDenominator = oldWidth;
        scale.yNumerator = height;
        scale.yDenominator = oldHeight;
        QRegion scaled;
        if (gdi::TransformRegion(*region, scale, &scaled))
            PutSelection(FRegionHolder.get(), scaled);
    }
    return true;
}

// ---- file loading ----

namespace {

// Loads the whole file into a scratch bitmap that keeps its allocation.
bool LoadWhole(const std::string& path, const im::FileInfo& info, int resolution,
               TQuillorBitmap& scratch) {
    if (!scratch.Allocate(info.width, info.height, resolution, nullptr, im::kMemoryLoader,
                          info.bitsPerPixel))
        return false;
    if (scratch.LoadFile(path, true) != 1)
        return false;
    NormaliseMonochrome(scratch);
    return true;
}

// Whether pixel (x, y) of the file can be read.
bool HoldsPixel(const std::string& path, const im::FileInfo& info, int x, int y) {
    TQuillorBitmap pixel;
    return pixel.LoadFileRect(path, x, y, 1, 1, info) == 1;
}

// Loads the rectangle (left, top, width, height) of the file, which lies
// within one tile row and starts on a tile's left edge or at 0, and copies it
// into the tiles it covers. The first rectangle of an 8-bit file gives the
// store its palette.
bool LoadBand(TUnionBitmap& store, const std::string& path, const im::FileInfo& info, int left,
              int top, int width, int height) {
    TQuillorBitmap part;
    if (part.LoadFileRect(path, left, top, width, height, info) != 1)
        return false;
    NormaliseMonochrome(part);
    const im::BitmapHandle* loaded = part.GetHandle();
    const int bits = store.BitsPerPixel();
    if (loaded == nullptr || loaded->bitsPerPixel != bits || loaded->width != width ||
        loaded->height != height)
        return false;
    if (bits == 8 && left == 0 && top == 0) {
        std::array<RGBQUAD, 256> palette{};
        part.GetPalette(0, 256, palette.data());
        store.SetPalette(0, 256, palette.data());
    }
    const int row = store.TileRowOf(top);
    for (int column = store.TileColumnOf(left); column <= store.TileColumnOf(left + width - 1);
         ++column) {
        const int tile = row * store.TileColumns() + column;
        const RECT& r = store.TileRect(tile, 0);
        const int from = std::max(left, int(r.left)), to = std::min(left + width, int(r.right));
        store.EnsureTile(tile, 0);
        const im::BitmapHandle* target =
            store.IsTileResident(tile, 0) ? store.Tile(tile, 0)->GetHandle() : nullptr;
        if (target == nullptr)
            return false;
        // Tile edges lie on whole bytes at every depth (480 pixels apart).
        const std::size_t sourceByte = std::size_t(from - left) * std::size_t(bits) / 8;
        const std::size_t targetByte = std::size_t(from - r.left) * std::size_t(bits) / 8;
        const std::size_t bytes = (std::size_t(to - from) * std::size_t(bits) + 7) / 8;
        for (int y = top; y < top + height; ++y)
            std::memcpy(target->pixels->Row(y - r.top) + targetByte,
                        loaded->pixels->Row(y - top) + sourceByte, bytes);
        store.MarkTileChanged(tile);
    }
    return true;
}

}  // namespace

int TUnionBitmap::LoadFromFile(const std::string& path) {
    im::FileInfo info;
    if (im::GetFileInfo(path, &info) != 1 || info.width < 0 || info.height < 0)
        return 0;
    const int resolution = ResolutionOf(info);
    FResolution = resolution;
    const bool indexed = info.bitsPerPixel == 8 || info.format == im::kFormatGif;
    if (info.format != im::kFormatByRectangles) {
        TQuillorBitmap scratch;
        if (LoadWhole(path, info, resolution, scratch)) {
            std::array<RGBQUAD, 256> palette{};
            const bool withPalette = scratch.BitsPerPixel() == 8;
            if (withPalette)
                scratch.GetPalette(0, 256, palette.data());
            if (!Create(scratch.Width(), scratch.Height(), withPalette ? palette.data() : nullptr,
                        scratch.BitsPerPixel()))
                return 0;
            return DrawQuillor(0, 0, gdi::SRCCOPY, 0, 0, scratch, scratch.Height(), scratch.Width())
                       ? 1
                       : 0;
        }
        if (indexed)
            return 0;
        // Too large to load whole (or damaged): in ever smaller chunks, once
        // the first pixel has been read.
        if (!HoldsPixel(path, info, 0, 0) ||
            !Create(info.width, info.height, nullptr, info.bitsPerPixel))
            return 0;
        for (int chunks = 1;;) {
            const int next = LoadFileInChunks(path, chunks);
            if (next == 0)
                return 1;
            if (next < 0)
                return 0;
            chunks = next;
        }
    }
    // Uncompressed files are read by rectangles: bands of whole rows while a
    // tile row fits the resident budget, otherwise tile by tile. A file too
    // short for the size its header claims is refused before the store is
    // laid out for that size.
    if (!HoldsPixel(path, info, 0, 0) || !HoldsPixel(path, info, info.width - 1, info.height - 1) ||
        !Create(info.width, info.height, nullptr, info.bitsPerPixel))
        return 0;
    const std::uint64_t slot = std::max<std::int32_t>(1, Status(0, 0).ByteSize);
    const bool rowFits =
        FResidentBudget == 0 || FResidentBudget / slot > std::uint64_t(FTileColumns);
    const std::int64_t rowBytes = (std::int64_t(FWidth) * FBitsPerPixel + 31) / 32 * 4;
    const int bandRows = int(std::clamp<std::int64_t>(kBandBytes / rowBytes, 1, kTileSize));
    for (int row = 0; row < FTileRows; ++row) {
        const RECT& first = TileRect(row * FTileColumns, 0);
        if (rowFits) {
            for (int y = first.top; y < first.bottom; y += bandRows) {
                if (!LoadBand(*this, path, info, 0, y, FWidth,
                              std::min<int>(bandRows, first.bottom - y)))
                    return 0;
            }
            continue;
        }
        for (int column = 0; column < FTileColumns; ++column) {
            const RECT& r = TileRect(row * FTileColumns + column, 0);
            if (!LoadBand(*this, path, info, r.left, r.top, r.right - r.left, r.bottom - r.top))
                return 0;
        }
    }
    return 1;
}

int TUnionBitmap::LoadFileInChunks(const std::string& path, int chunks) {
    im::FileInfo info;
    if (im::GetFileInfo(path, &info) != 1 || info.width < 0 || info.height < 0)
        return -1;
    const int resolution = ResolutionOf(info);
    FResolution = resolution;
    if (!FCreated || FWidth != info.width || FHeight != info.height ||
        FBitsPerPixel != info.bitsPerPixel) {
        if (!Create(info.width, info.height, nullptr, info.bitsPerPixel))
            return -1;
    }
    // Halve the chunks across their longer side until there are enough. A
    // chunk below the smallest size is not halved again (a failure there
    // gives up), so that no count, however large, makes more chunks than
    // the image has room for.
    std::int64_t columns = 1, rows = 1;
    int chunkWidth = info.width, chunkHeight = info.height;
    while (columns * rows < chunks && std::int64_t(chunkWidth) * chunkHeight >= kSmallestChunk &&
           (chunkWidth > 1 || chunkHeight > 1)) {
        if ((chunkHeight < chunkWidth && chunkWidth > 1) || chunkHeight < 2) {
            columns *= 2;
            chunkWidth /= 2;
        } else {
            rows *= 2;
            chunkHeight /= 2;
        }
    }
    const auto retry = [chunks](std::int64_t pixels) {
        if (pixels < kSmallestChunk || chunks > INT_MAX / 2)
            return -2;
        return 2 * std::max(chunks, 1);
    };
    bool paletteSet = false;
    for (std::int64_t column = 0; column < columns; ++column) {
        const int x = int(column * chunkWidth);
        const int w = column == columns - 1 ? info.width - x : chunkWidth;
        for (std::int64_t row = 0; row < rows; ++row) {
            const int y = int(row * chunkHeight);
            const int h = row == rows - 1 ? info.height - y : chunkHeight;
            const std::int64_t pixels = std::int64_t(w) * h;
            TQuillorBitmap chunk;
            if (chunk.LoadFileRect(path, x, y, w, h, info) != 1)
                return retry(pixels);
            NormaliseMonochrome(chunk);
            if (chunk.BitsPerPixel() == 8 && !paletteSet) {
                std::array<RGBQUAD, 256> palette{};
                chunk.GetPalette(0, 256, palette.data());
                SetPalette(0, 256, palette.data());
                paletteSet = true;
            }
            if (!DrawQuillor(x, y, gdi::SRCCOPY, 0, 0, chunk, h, w))
                return retry(pixels);
        }
    }
    return 0;
}

}  // namespace quillor
