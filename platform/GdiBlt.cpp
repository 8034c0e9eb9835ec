// BitBlt, PatBlt and StretchBlt: source pixels are brought into the
// destination's format row by row, then a kernel evaluates the ternary code's
// truth table over whole bytes of pattern, source and destination.

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/GdiInternal.h"

namespace platform::gdi {

using namespace detail;

namespace {

// Algebraic normal form of a truth table: coefficient m (a subset of {p, s,
// d} as bits 2, 1, 0) is the XOR of the table over the subsets of m. The
// kernels below are the XOR of the products whose coefficient is 1, which the
// compiler folds to a handful of operations for each code.
constexpr BYTE Anf(BYTE t) {
    BYTE a = 0;
    for (int m = 0; m < 8; ++m) {
        int bit = 0;
        for (int i = 0; i < 8; ++i)
            if ((i & m) == i)
                bit ^= (t >> i) & 1;
        if (bit)
            a = BYTE(a | (1 << m));
    }
    return a;
}

template <BYTE T, class W>
inline W Eval(W p, W s, W d) {
    constexpr BYTE a = Anf(T);
    W r = 0;
    if constexpr (a & 0x01)
        r ^= W(~W(0));
    if constexpr (a & 0x02)
        r ^= d;
    if constexpr (a & 0x04)
        r ^= s;
    if constexpr (a & 0x08)
        r ^= W(s & d);
    if constexpr (a & 0x10)
        r ^= p;
    if constexpr (a & 0x20)
        r ^= W(p & d);
    if constexpr (a & 0x40)
        r ^= W(p & s);
    if constexpr (a & 0x80)
        r ^= W(p & s & d);
    return r;
}

using Kernel = void (*)(const BYTE* p, const BYTE* s, BYTE* d, std::size_t n);

template <BYTE T>
void RopKernel(const BYTE* p, const BYTE* s, BYTE* d, std::size_t n) {
    if constexpr (T == 0xCC) {
        std::memmove(d, s, n);
    } else if constexpr (T == 0xF0) {
        std::memcpy(d, p, n);
    } else if constexpr (T == 0xAA) {
        // the destination stays
    } else if constexpr (T == 0x00) {
        std::memset(d, 0, n);
    } else if constexpr (T == 0xFF) {
        std::memset(d, 0xFF, n);
    } else {
        constexpr BYTE a = Anf(T);
        constexpr bool useP = (a & 0xF0) != 0;
        constexpr bool useS = (a & 0xCC) != 0;
        constexpr bool useD = (a & 0xAA) != 0;
        std::size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            std::uint64_t pv = 0, sv = 0, dv = 0;
            if constexpr (useP)
                std::memcpy(&pv, p + i, 8);
            if constexpr (useS)
                std::memcpy(&sv, s + i, 8);
            if constexpr (useD)
                std::memcpy(&dv, d + i, 8);
            const std::uint64_t r = Eval<T>(pv, sv, dv);
            std::memcpy(d + i, &r, 8);
        }
        for (; i < n; ++i) {
            const BYTE pv = useP ? p[i] : 0, sv = useS ? s[i] : 0;
            d[i] = Eval<T, BYTE>(pv, sv, d[i]);
        }
    }
}

template <std::size_t... I>
constexpr std::array<Kernel, 256> MakeKernels(std::index_sequence<I...>) {
    return {&RopKernel<BYTE(I)>...};
}
constexpr std::array<Kernel, 256> kKernels = MakeKernels(std::make_index_sequence<256>());

// Stands in for an operand the operation does not read.
const BYTE* Zeros(std::size_t n) {
    thread_local std::vector<BYTE> zeros;
    if (zeros.size() < n)
        zeros.assign(n, 0);
    return zeros.data();
}

// Brings source pixels into the destination's format.
class SourceConverter {
  public:
    SourceConverter(const Bitmap& src, COLORREF srcBk, const Bitmap& dst, const Palette* dstPalette)
        : sbpp_(src.BitsPerPixel()), dbpp_(dst.BitsPerPixel()), dst_(dst) {
        if (src.IsIndexed()) {
            const int n = src.ColorCount();
            rgb_.resize(std::size_t(n));
            lut_.resize(std::size_t(n));
            for (int i = 0; i < n; ++i) {
                COLORREF c = src.ColorOfValue(DWORD(i));
                if (!dst.IsIndexed() && dstPalette && i < dstPalette->Size())
                    c = dstPalette->ColorOf(i);
                rgb_[std::size_t(i)] = c;
                if (sbpp_ == dbpp_)
                    lut_[std::size_t(i)] = DWORD(i);
                else if (dbpp_ == 1)
                    lut_[std::size_t(i)] = c == srcBk ? 1 : 0;
                else
                    lut_[std::size_t(i)] = dst.ValueOfColor(c);
            }
            mode_ = sbpp_ == dbpp_ ? Mode::Identity : Mode::Lut;
        } else if (sbpp_ == dbpp_ || (sbpp_ >= 24 && dbpp_ >= 24)) {
            // 24- and 32-bit raw values are both 0x00RRGGBB.
            mode_ = Mode::Identity;
        } else if (dbpp_ == 1) {
            mode_ = Mode::Mono;
            bkRaw_ = src.ValueOfColor(srcBk);
        } else if (dst.IsIndexed()) {
            mode_ = Mode::Nearest;
            cache_.assign(kCacheSize, {0xFFFFFFFF, 0});
        } else {
            mode_ = Mode::Direct;
        }
        src_ = &src;
    }

    bool Identity() const { return mode_ == Mode::Identity; }

    // Indexed 8-bit pixels from sx on into a 32-bit destination row that the
    // caller reads no more: the table's values go out with streaming stores,
    // which do not pull the destination into the cache first (a palette copy
    // of a whole view to the screen is mostly write bandwidth). False when
    // this converter is not an 8-to-32-bit table.
    bool StreamIndexedTo32(const BYTE* row, int sx, int n, BYTE* out) {
        if (mode_ != Mode::Lut || sbpp_ != 8 || dbpp_ != 32)
            return false;
        const DWORD* lut = lut_.data();
        const BYTE* in = row + sx;
        int i = 0;
#if defined(__SSE2__)
        // Whole 16-byte groups at aligned addresses; the rest one by one.
        while (i < n && (reinterpret_cast<std::uintptr_t>(out + 4 * std::size_t(i)) & 15) != 0) {
            std::memcpy(out + 4 * std::size_t(i), &lut[in[i]], 4);
            ++i;
        }
        for (; i + 4 <= n; i += 4) {
            const __m128i v = _mm_set_epi32(int(lut[in[i + 3]]), int(lut[in[i + 2]]),
                                            int(lut[in[i + 1]]), int(lut[in[i]]));
            _mm_stream_si128(reinterpret_cast<__m128i*>(out + 4 * std::size_t(i)), v);
        }
#endif
        for (; i < n; ++i)
            std::memcpy(out + 4 * std::size_t(i), &lut[in[i]], 4);
        return true;
    }

    // Makes streaming stores visible to whatever reads the pixels next.
    static void FinishStreaming() {
#if defined(__SSE2__)
        _mm_sfence();
#endif
    }

    DWORD Map(DWORD v) {
        switch (mode_) {
            case Mode::Identity:
                return v;
            case Mode::Lut:
                return lut_[v];
            case Mode::Mono:
                return v == bkRaw_ ? 1 : 0;
            case Mode::Direct:
                if (sbpp_ == 16)
                    return dst_.ValueOfColor(ColorOf555(WORD(v)));
                return ValueOf555(RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF));
            case Mode::Nearest: {
                std::pair<DWORD, DWORD>& slot = cache_[(v * 2654435761u) >> (32 - kCacheBits)];
                if (slot.first != v)
                    slot = {v, dst_.NearestIndex(src_->ColorOfValue(v))};
                return slot.second;
            }
        }
        return v;
    }

    // The RGB colour of a source raw value.
    COLORREF Rgb(DWORD v) const {
        if (!rgb_.empty())
            return v < rgb_.size() ? rgb_[v] : 0;
        return src_->ColorOfValue(v);
    }

    // Converts n source pixels of `row` into a packed buffer at `phase`: the
    // pixels at xs[0..n) when xs is given, else those from sx on.
    void Convert(const BYTE* row, const int* xs, int sx, int n, BYTE* out, int phase) {
        switch (sbpp_) {
            case 1:
                return ConvertFrom<1>(row, xs, sx, n, out, phase);
            case 4:
                return ConvertFrom<4>(row, xs, sx, n, out, phase);
            case 8:
                return ConvertFrom<8>(row, xs, sx, n, out, phase);
            case 16:
                return ConvertFrom<16>(row, xs, sx, n, out, phase);
            case 24:
                return ConvertFrom<24>(row, xs, sx, n, out, phase);
            default:
                return ConvertFrom<32>(row, xs, sx, n, out, phase);
        }
    }

  private:
    enum class Mode { Identity, Lut, Mono, Direct, Nearest };
    static constexpr int kCacheBits = 12;
    static constexpr std::size_t kCacheSize = std::size_t(1) << kCacheBits;

    template <int SB>
    void ConvertFrom(const BYTE* row, const int* xs, int sx, int n, BYTE* out, int phase) {
        switch (dbpp_) {
            case 1:
                return ConvertT<SB, 1>(row, xs, sx, n, out, phase);
            case 4:
                return ConvertT<SB, 4>(row, xs, sx, n, out, phase);
            case 8:
                return ConvertT<SB, 8>(row, xs, sx, n, out, phase);
            case 16:
                return ConvertT<SB, 16>(row, xs, sx, n, out, phase);
            case 24:
                return ConvertT<SB, 24>(row, xs, sx, n, out, phase);
            default:
                return ConvertT<SB, 32>(row, xs, sx, n, out, phase);
        }
    }

    template <int SB, int DB>
    void ConvertT(const BYTE* row, const int* xs, int sx, int n, BYTE* out, int phase) {
        if constexpr (SB == 8 && DB == 32) {
            if (mode_ == Mode::Lut) {
                const DWORD* lut = lut_.data();
                auto* o = reinterpret_cast<BYTE*>(out);
                for (int i = 0; i < n; ++i) {
                    const DWORD v = lut[row[xs ? xs[i] : sx + i]];
                    std::memcpy(o + 4 * std::size_t(i), &v, 4);
                }
                return;
            }
        }
        if constexpr (SB == 8 && DB == 8) {
            if (mode_ == Mode::Identity && xs) {
                for (int i = 0; i < n; ++i)
                    out[i] = row[xs[i]];
                return;
            }
        }
        for (int i = 0; i < n; ++i) {
            const DWORD v = GetPixelRaw(row, SB, xs ? xs[i] : sx + i);
            PutPixel(out, DB, phase + i, Map(v));
        }
    }

    int sbpp_, dbpp_;
    const Bitmap& dst_;
    const Bitmap* src_ = nullptr;
    Mode mode_ = Mode::Identity;
    std::vector<DWORD> lut_;
    std::vector<COLORREF> rgb_;
    DWORD bkRaw_ = 0;
    std::vector<std::pair<DWORD, DWORD>> cache_;
};

// A copy of part of a bitmap, for blits whose source and destination are the
// same bitmap and overlap.
HBITMAP CopyArea(const Bitmap& src, const QRect& area) {
    HBITMAP copy = src.CreateCompatible(area.width(), area.height());
    if (!copy)
        return nullptr;
    const int bpp = src.BitsPerPixel();
    for (int y = 0; y < area.height(); ++y) {
        const BYTE* s = src.Row(area.top() + y);
        BYTE* d = copy->Row(y);
        if (bpp >= 8) {
            std::memcpy(d, s + std::size_t(area.left()) * std::size_t(bpp / 8),
                        std::size_t(area.width()) * std::size_t(bpp / 8));
        } else {
            for (int x = 0; x < area.width(); ++x)
                PutPixel(d, bpp, x, GetPixelRaw(s, bpp, area.left() + x));
        }
    }
    return copy;
}

// Shared set-up of the pattern operand of a blit.
class PatternOperand {
  public:
    PatternOperand(const RealizedBrush& brush, int bpp) : brush_(brush), bpp_(bpp) {}
    const BYTE* Row(int y, int x, int n) {
        const std::size_t bytes = std::size_t(SpanBytes(bpp_, Phase(bpp_, x), n));
        if (brush_.IsSolid()) {
            if (buf_.size() < bytes) {
                buf_.assign(bytes * 2, 0);
                BuildPatternRow(brush_, bpp_, 0, 0, int(buf_.size() * 8 / std::size_t(bpp_)),
                                buf_.data());
            }
        } else {
            if (buf_.size() < bytes)
                buf_.resize(bytes);
            BuildPatternRow(brush_, bpp_, y, x, n, buf_.data());
        }
        return buf_.data();
    }

  private:
    const RealizedBrush& brush_;
    int bpp_;
    std::vector<BYTE> buf_;
};

bool PatBltRects(DC& dc, const QRect& area, BYTE rop) {
    Bitmap* bm = dc.Target();
    const Brush* brushObj = dc.state.brush.get();
    RealizedBrush brush = RealizeBrush(dc, *bm, brushObj);
    const bool usesP = RopUsesPattern(RopFromIndex(rop));
    if (!usesP)
        brush = RealizeSolid(0);
    if (brush.hollow)
        return true;
    SpanPainter painter(*bm, brush, rop);
    for (const QRect& r : DrawableRects(dc, area)) {
        for (int y = r.top(); y <= r.bottom(); ++y)
            painter.Span(y, r.left(), r.width());
    }
    return true;
}

// One axis of a stretch: for each destination coordinate of the part of the
// destination extent inside the bitmap, the source coordinate it samples.
struct Axis {
    int first = 0;  // destination coordinate of map[0]
    std::vector<int> map;
    int validLo = 0, validHi = 0;  // destination coordinates [lo, hi) whose sample is in the source
    bool mirrored = false;
    // Source coordinate of sample index j (0 .. |sw|-1).
    std::int64_t origin = 0;
    int dirSign = 1;
    std::int64_t dLen = 1, sLen = 1;
    int destOrigin = 0, destSign = 1;

    std::int64_t SourceOf(std::int64_t j) const { return origin + dirSign * j; }
    // Index k of a destination coordinate along the destination's direction.
    std::int64_t IndexOf(int X) const {
        return destSign > 0 ? std::int64_t(X) - destOrigin : std::int64_t(destOrigin) - 1 - X;
    }
};

Axis MakeAxis(int d, int dw, int s, int sw, int destLimit, int srcLimit) {
    Axis a;
    a.dLen = dw < 0 ? -std::int64_t(dw) : dw;
    a.sLen = sw < 0 ? -std::int64_t(sw) : sw;
    a.destOrigin = d;
    a.destSign = dw < 0 ? -1 : 1;
    a.origin = sw < 0 ? std::int64_t(s) - 1 : s;
    a.dirSign = sw < 0 ? -1 : 1;
    const std::int64_t left = dw < 0 ? std::int64_t(d) + dw : d;
    const std::int64_t lo = std::max<std::int64_t>(left, 0);
    const std::int64_t hi = std::min<std::int64_t>(left + a.dLen, destLimit);
    a.first = int(lo);
    a.validLo = a.validHi = int(lo);
    if (hi <= lo)
        return a;
    a.map.resize(std::size_t(hi - lo));
    bool found = false;
    for (std::int64_t X = lo; X < hi; ++X) {
        const std::int64_t k = a.IndexOf(int(X));
        const std::int64_t j = k * a.sLen / a.dLen;
        const std::int64_t sx = a.origin + std::int64_t(a.dirSign) * j;
        const bool inside = sx >= 0 && sx < srcLimit;
        a.map[std::size_t(X - lo)] = inside ? int(sx) : -1;
        if (inside) {
            if (!found)
                a.validLo = int(X);
            a.validHi = int(X) + 1;
            found = true;
        }
    }
    return a;
}

// The source samples [j0, j1) a destination index covers when shrinking; at
// least one.
std::pair<std::int64_t, std::int64_t> SampleSpan(const Axis& a, std::int64_t k) {
    const std::int64_t j0 = k * a.sLen / a.dLen;
    std::int64_t j1 = (k + 1) * a.sLen / a.dLen;
    if (j1 <= j0)
        j1 = j0 + 1;
    return {j0, j1};
}

// Source copies between two 8-bit bitmaps sampled as COLORONCOLOR samples:
// the indices move as they are, so no conversion tables are built and a row
// whose samples are consecutive is one copy.
bool CopyIndices8(DC& dstDc, int x, int y, int w, int h, const Bitmap& src, int sx, int sy, int sw,
                  int sh) {
    Bitmap& dst = *dstDc.Target();
    const Axis ax = MakeAxis(x, w, sx, sw, dst.Width(), src.Width());
    const Axis ay = MakeAxis(y, h, sy, sh, dst.Height(), src.Height());
    if (ax.validHi <= ax.validLo || ay.validHi <= ay.validLo)
        return true;
    const QRect area(ax.validLo, ay.validLo, ax.validHi - ax.validLo, ay.validHi - ay.validLo);
    const bool unscaled = w == sw;
    for (const QRect& rc : DrawableRects(dstDc, area)) {
        const int* xs = ax.map.data() + (rc.left() - ax.first);
        const int n = rc.width();
        for (int yy = rc.top(); yy <= rc.bottom(); ++yy) {
            const BYTE* s = src.Row(ay.map[std::size_t(yy - ay.first)]);
            BYTE* d = dst.Row(yy) + rc.left();
            if (unscaled) {
                std::memcpy(d, s + xs[0], std::size_t(n));
            } else {
                for (int i = 0; i < n; ++i)
                    d[i] = s[xs[i]];
            }
        }
    }
    return true;
}

}  // namespace

namespace detail {

void ApplyRop(Bitmap& dst, int y, int x, int n, const BYTE* p, const BYTE* s, BYTE rop) {
    if (n <= 0)
        return;
    const int bpp = dst.BitsPerPixel();
    const int phase = Phase(bpp, x);
    const std::size_t b0 = std::size_t((std::int64_t(x) * bpp) >> 3);
    const std::size_t nb = std::size_t(SpanBytes(bpp, phase, n));
    BYTE* d = dst.Row(y) + b0;
    const BYTE first = d[0], last = d[nb - 1];
    const BYTE* zeros = (p && s) ? nullptr : Zeros(nb);
    kKernels[rop](p ? p : zeros, s ? s : zeros, d, nb);
    if (bpp < 8) {
        const int head = phase * bpp;
        if (head) {
            const BYTE keep = BYTE(0xFF << (8 - head));
            d[0] = BYTE((d[0] & ~keep) | (first & keep));
        }
        const int tail = int((std::int64_t(phase + n) * bpp) & 7);
        if (tail) {
            const BYTE keep = BYTE(0xFF >> tail);
            d[nb - 1] = BYTE((d[nb - 1] & ~keep) | (last & keep));
        }
    }
}

void BuildPatternRow(const RealizedBrush& brush, int bpp, int y, int x, int n, BYTE* out) {
    if (n <= 0)
        return;
    const int phase = Phase(bpp, x);
    const int w = brush.width, h = brush.height;
    const int py = ((y - brush.originY) % h + h) % h;
    const DWORD* row = brush.values.data() + std::size_t(py) * std::size_t(w);
    if (bpp >= 8) {
        // Build one period, then double it along the row.
        const std::size_t bytesPer = std::size_t(bpp / 8);
        const int period = std::min(w, n);
        int px = ((x - brush.originX) % w + w) % w;
        for (int i = 0; i < period; ++i) {
            PutPixel(out, bpp, i, row[px]);
            if (++px == w)
                px = 0;
        }
        std::size_t done = std::size_t(period) * bytesPer;
        const std::size_t total = std::size_t(n) * bytesPer;
        // The row repeats with period w pixels, so copies of the first
        // w pixels continue it correctly.
        if (period == w) {
            const std::size_t unit = std::size_t(w) * bytesPer;
            while (done < total) {
                const std::size_t k = std::min(total - done, std::min(done, total) / unit * unit);
                std::memcpy(out + done, out, k);
                done += k;
            }
        }
        return;
    }
    int px = ((x - brush.originX) % w + w) % w;
    for (int i = 0; i < n; ++i) {
        PutPixel(out, bpp, phase + i, row[px]);
        if (++px == w)
            px = 0;
    }
}

}  // namespace detail

bool PatBlt(HDC hdc, int x, int y, int width, int height, DWORD rop) {
    if (!hdc || !hdc->Target())
        return false;
    if (RopUsesSource(rop))
        return false;
    std::int64_t l = x, t = y, r = std::int64_t(x) + width, b = std::int64_t(y) + height;
    if (r < l)
        std::swap(l, r);
    if (b < t)
        std::swap(t, b);
    l = std::max<std::int64_t>(l, 0);
    t = std::max<std::int64_t>(t, 0);
    r = std::min<std::int64_t>(r, hdc->Target()->Width());
    b = std::min<std::int64_t>(b, hdc->Target()->Height());
    if (r <= l || b <= t)
        return true;
    return PatBltRects(*hdc, QRect(int(l), int(t), int(r - l), int(b - t)), RopIndex(rop));
}

bool BitBlt(HDC dstDc, int x, int y, int w, int h, HDC srcDc, int sx, int sy, DWORD rop) {
    if (!dstDc || !dstDc->Target())
        return false;
    if (!RopUsesSource(rop))
        return PatBlt(dstDc, x, y, w, h, rop);
    if (!srcDc || !srcDc->Target())
        return false;
    if (w == 0 || h == 0)
        return true;
    // Negative extents cover the pixels before the origins, unmirrored.
    if (w < 0 || h < 0)
        return StretchBlt(dstDc, x, y, w, h, srcDc, sx, sy, w, h, rop);
    Bitmap& dst = *dstDc->Target();
    const Bitmap* src = srcDc->Target();
    const BYTE ropIndex = RopIndex(rop);

    // Destination part whose source lies inside the source bitmap.
    const std::int64_t dx = std::int64_t(x) - sx, dy = std::int64_t(y) - sy;
    std::int64_t l = std::max<std::int64_t>({x, dx, 0});
    std::int64_t t = std::max<std::int64_t>({y, dy, 0});
    std::int64_t r = std::min<std::int64_t>({std::int64_t(x) + w, dx + src->Width(), dst.Width()});
    std::int64_t b =
        std::min<std::int64_t>({std::int64_t(y) + h, dy + src->Height(), dst.Height()});
    if (r <= l || b <= t)
        return true;
    const QRect area(int(l), int(t), int(r - l), int(b - t));
    const std::vector<QRect> rects = DrawableRects(*dstDc, area);
    if (rects.empty())
        return true;

    // Overlapping copies within one bitmap read from a copy of the source.
    HBITMAP overlapCopy;
    int offX = int(-dx), offY = int(-dy);  // source = destination + off
    if (src == &dst) {
        const QRect srcArea = area.translated(offX, offY);
        if (srcArea.intersects(area)) {
            overlapCopy = CopyArea(*src, srcArea);
            if (!overlapCopy)
                return false;
            src = overlapCopy.get();
            offX -= srcArea.left();
            offY -= srcArea.top();
        }
    }

    const COLORREF bk = ResolveRgb(*srcDc, srcDc->state.bkColor);
    SourceConverter conv(*src, bk, dst, dstDc->state.palette.get());
    const int bpp = dst.BitsPerPixel(), sbpp = src->BitsPerPixel();

    std::optional<RealizedBrush> brush;
    std::optional<PatternOperand> pattern;
    if (RopUsesPattern(rop)) {
        brush = RealizeBrush(*dstDc, dst, dstDc->state.brush.get());
        if (brush->hollow)
            return true;
        brush->drawn.clear();
        pattern.emplace(*brush, bpp);
    }

    std::vector<BYTE> sbuf;
    for (const QRect& rc : rects) {
        const int x0 = rc.left(), n = rc.width();
        const int sx0 = x0 + offX;
        const int phase = Phase(bpp, x0);
        const bool direct = conv.Identity() && sbpp == bpp &&
                            (bpp >= 8 || ((std::int64_t(sx0) * sbpp) & 7) == phase * bpp);
        // A plain source copy into whole bytes converts straight into the
        // destination row (palette copies of indexed bitmaps to the screen).
        const bool convertInPlace = !direct && !pattern && ropIndex == 0xCC && bpp >= 8;
        if (!direct && !convertInPlace)
            sbuf.assign(std::size_t(SpanBytes(bpp, phase, n)) + 4, 0);
        for (int yy = rc.top(); yy <= rc.bottom(); ++yy) {
            const BYTE* srow = src->Row(yy + offY);
            if (convertInPlace) {
                BYTE* out = dst.Row(yy) + std::size_t((std::int64_t(x0) * bpp) >> 3);
                if (!conv.StreamIndexedTo32(srow, sx0, n, out))
                    conv.Convert(srow, nullptr, sx0, n, out, 0);
                continue;
            }
            const BYTE* s;
            if (direct) {
                s = srow + std::size_t((std::int64_t(sx0) * sbpp) >> 3);
            } else {
                conv.Convert(srow, nullptr, sx0, n, sbuf.data(), phase);
                s = sbuf.data();
            }
            const BYTE* p = pattern ? pattern->Row(yy, x0, n) : nullptr;
            ApplyRop(dst, yy, x0, n, p, s, ropIndex);
        }
    }
    SourceConverter::FinishStreaming();
    return true;
}

bool StretchBlt(HDC dstDc, int x, int y, int w, int h, HDC srcDc, int sx, int sy, int sw, int sh,
                DWORD rop) {
    if (!dstDc || !dstDc->Target())
        return false;
    if (w == 0 || h == 0)
        return true;
    if (!RopUsesSource(rop))
        return PatBlt(dstDc, x, y, w, h, rop);
    if (!srcDc || !srcDc->Target())
        return false;
    if (sw == 0 || sh == 0)
        return true;
    if (RopIndex(rop) == RopIndex(SRCCOPY) && w > 0 && h > 0 && sw > 0 && sh > 0 &&
        srcDc->Target() != dstDc->Target() && srcDc->Target()->BitsPerPixel() == 8 &&
        dstDc->Target()->BitsPerPixel() == 8 &&
        (dstDc->state.stretchMode == COLORONCOLOR || dstDc->state.stretchMode == HALFTONE ||
         (w == sw && h == sh)))
        return CopyIndices8(*dstDc, x, y, w, h, *srcDc->Target(), sx, sy, sw, sh);
    if (w == sw && h == sh && w > 0 && h > 0)
        return BitBlt(dstDc, x, y, w, h, srcDc, sx, sy, rop);

    Bitmap& dst = *dstDc->Target();
    const Bitmap* src = srcDc->Target();
    const BYTE ropIndex = RopIndex(rop);
    Axis ax = MakeAxis(x, w, sx, sw, dst.Width(), src->Width());
    Axis ay = MakeAxis(y, h, sy, sh, dst.Height(), src->Height());
    if (ax.validHi <= ax.validLo || ay.validHi <= ay.validLo)
        return true;
    const QRect area(ax.validLo, ay.validLo, ax.validHi - ax.validLo, ay.validHi - ay.validLo);
    const std::vector<QRect> rects = DrawableRects(*dstDc, area);
    if (rects.empty())
        return true;

    int mode = dstDc->state.stretchMode;
    if (mode == HALFTONE && dst.IsIndexed())
        mode = COLORONCOLOR;
    if (mode == STRETCH_ANDSCANS || mode == STRETCH_ORSCANS) {
        // Nothing is dropped when neither axis shrinks.
        if (ax.sLen <= ax.dLen && ay.sLen <= ay.dLen)
            mode = COLORONCOLOR;
    }

    // Source area the stretch can read (clamped), for the overlap copy.
    HBITMAP overlapCopy;
    int offX = 0, offY = 0;
    if (src == &dst) {
        auto bounds = [](std::int64_t o, int sign, std::int64_t len, int limit) {
            // Source coordinates o .. o + sign * (len - 1), within the bitmap.
            const std::int64_t a = o, b = o + sign * (len - 1);
            const std::int64_t lo = std::max<std::int64_t>(std::min(a, b), 0);
            const std::int64_t hi = std::min<std::int64_t>(std::max(a, b), limit - 1);
            return std::pair<int, int>(int(lo), int(hi));
        };
        const auto [x0, x1] = bounds(ax.origin, ax.dirSign, ax.sLen, src->Width());
        const auto [y0, y1] = bounds(ay.origin, ay.dirSign, ay.sLen, src->Height());
        const QRect srcArea(x0, y0, x1 - x0 + 1, y1 - y0 + 1);
        overlapCopy = CopyArea(*src, srcArea);
        if (!overlapCopy)
            return false;
        src = overlapCopy.get();
        offX = -srcArea.left();
        offY = -srcArea.top();
        for (int& v : ax.map)
            if (v >= 0)
                v += offX;
        for (int& v : ay.map)
            if (v >= 0)
                v += offY;
    }
    auto srcX = [&](std::int64_t j) {
        return int(std::clamp<std::int64_t>(ax.SourceOf(j) + offX, 0, src->Width() - 1));
    };
    auto srcY = [&](std::int64_t j) {
        return int(std::clamp<std::int64_t>(ay.SourceOf(j) + offY, 0, src->Height() - 1));
    };

    const COLORREF bk = ResolveRgb(*srcDc, srcDc->state.bkColor);
    SourceConverter conv(*src, bk, dst, dstDc->state.palette.get());
    const int bpp = dst.BitsPerPixel();

    std::optional<RealizedBrush> brush;
    std::optional<PatternOperand> pattern;
    if (RopUsesPattern(rop)) {
        brush = RealizeBrush(*dstDc, dst, dstDc->state.brush.get());
        if (brush->hollow)
            return true;
        brush->drawn.clear();
        pattern.emplace(*brush, bpp);
    }

    std::vector<BYTE> sbuf, rowAcc;
    std::vector<std::uint64_t> acc;
    for (const QRect& rc : rects) {
        const int x0 = rc.left(), n = rc.width();
        const int phase = Phase(bpp, x0);
        const std::size_t bytes = std::size_t(SpanBytes(bpp, phase, n)) + 4;
        sbuf.assign(bytes, 0);
        const int* xs = ax.map.data() + (x0 - ax.first);
        int cachedRow = -1;
        for (int yy = rc.top(); yy <= rc.bottom(); ++yy) {
            const std::int64_t ky = ay.IndexOf(yy);
            if (mode == COLORONCOLOR) {
                const int srow = ay.map[std::size_t(yy - ay.first)];
                if (srow != cachedRow) {
                    conv.Convert(src->Row(srow), xs, 0, n, sbuf.data(), phase);
                    cachedRow = srow;
                }
            } else if (mode == HALFTONE) {
                // Area average: weights are overlaps measured in units of
                // 1/|dw| (columns) and 1/|dh| (rows) of a source pixel.
                acc.assign(std::size_t(n) * 3, 0);
                const std::int64_t ry0 = ky * ay.sLen, ry1 = ry0 + ay.sLen;
                for (std::int64_t j = ry0 / ay.dLen; j * ay.dLen < ry1; ++j) {
                    const std::int64_t wy =
                        std::min(ry1, (j + 1) * ay.dLen) - std::max(ry0, j * ay.dLen);
                    if (wy <= 0)
                        continue;
                    const BYTE* srow = src->Row(srcY(j));
                    for (int i = 0; i < n; ++i) {
                        const std::int64_t kx = ax.IndexOf(x0 + i);
                        const std::int64_t rx0 = kx * ax.sLen, rx1 = rx0 + ax.sLen;
                        for (std::int64_t jx = rx0 / ax.dLen; jx * ax.dLen < rx1; ++jx) {
                            const std::int64_t wx =
                                std::min(rx1, (jx + 1) * ax.dLen) - std::max(rx0, jx * ax.dLen);
                            if (wx <= 0)
                                continue;
                            const COLORREF c =
                                conv.Rgb(GetPixelRaw(srow, src->BitsPerPixel(), srcX(jx)));
                            const std::uint64_t wgt = std::uint64_t(wx * wy);
                            acc[3 * std::size_t(i)] += wgt * GetRValue(c);
                            acc[3 * std::size_t(i) + 1] += wgt * GetGValue(c);
                            acc[3 * std::size_t(i) + 2] += wgt * GetBValue(c);
                        }
                    }
                }
                const std::uint64_t total = std::uint64_t(ax.sLen) * std::uint64_t(ay.sLen);
                for (int i = 0; i < n; ++i) {
                    auto avg = [&](int ch) {
                        return int((acc[3 * std::size_t(i) + std::size_t(ch)] + total / 2) / total);
                    };
                    PutPixel(sbuf.data(), bpp, phase + i,
                             dst.ValueOfColor(RGB(avg(0), avg(1), avg(2))));
                }
            } else {
                // BLACKONWHITE / WHITEONBLACK: AND or OR the dropped pixels.
                const bool andMode = mode == STRETCH_ANDSCANS;
                rowAcc.assign(bytes, andMode ? 0xFF : 0x00);
                const auto [jy0, jy1] = SampleSpan(ay, ky);
                std::vector<BYTE> one(bytes);
                for (std::int64_t j = jy0; j < jy1; ++j) {
                    const std::int64_t sr = ay.SourceOf(j) + offY;
                    if (sr < 0 || sr >= src->Height())
                        continue;
                    const BYTE* srow = src->Row(int(sr));
                    for (int i = 0; i < n; ++i) {
                        const auto [jx0, jx1] = SampleSpan(ax, ax.IndexOf(x0 + i));
                        DWORD v = andMode ? 0xFFFFFFFF : 0;
                        for (std::int64_t jx = jx0; jx < jx1; ++jx) {
                            const std::int64_t sc = ax.SourceOf(jx) + offX;
                            if (sc < 0 || sc >= src->Width())
                                continue;
                            const DWORD c =
                                conv.Map(GetPixelRaw(srow, src->BitsPerPixel(), int(sc)));
                            v = andMode ? (v & c) : (v | c);
                        }
                        PutPixel(one.data(), bpp, phase + i, v);
                    }
                    for (std::size_t b = 0; b < bytes; ++b)
                        rowAcc[b] = andMode ? BYTE(rowAcc[b] & one[b]) : BYTE(rowAcc[b] | one[b]);
                }
                std::copy(rowAcc.begin(), rowAcc.end(), sbuf.begin());
            }
            const BYTE* p = pattern ? pattern->Row(yy, x0, n) : nullptr;
            ApplyRop(dst, yy, x0, n, p, sbuf.data(), ropIndex);
        }
    }
    return true;
}

}  // namespace platform::gdi
