// Speed of the drawing layer's blits, each measured beside its baseline in
// the same iteration: memcpy of the same bytes for BitBlt, and a plain Qt
// scaled draw (QPainter::drawImage, fast transformation) for StretchBlt.
// Counters: op_ms and baseline_ms (mean per iteration) and speed, the
// baseline's time divided by the operation's (1.0 = as fast as the baseline).

#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>
#include <cstdio>
#include <cstring>
#include <random>

#include "bench/BenchSupport.h"
#include "platform/Gdi.h"

namespace {

using namespace platform::gdi;

HBITMAP RandomBitmap(int w, int h, int bpp, unsigned seed) {
    HBITMAP bm = Bitmap::Create(w, h, bpp);
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y) {
        BYTE* row = bm->Row(y);
        for (int i = 0; i < bm->Stride(); ++i)
            row[i] = BYTE(rng());
    }
    if (bpp == 8) {
        RGBQUAD table[256];
        for (int i = 0; i < 256; ++i)
            table[i] = MakeQuad(i, 255 - i, (i * 7) & 255);
        bm->SetColorTable(0, 256, table);
    }
    return bm;
}

template <class Op, class Base>
void Measure(benchmark::State& state, Op op, Base base) {
    const benchsupport::PairTotals t = benchsupport::TimeBesideBaseline(state, op, base);
    const double n = double(state.iterations());
    state.counters["op_ms"] = 1000 * t.op / n;
    state.counters["baseline_ms"] = 1000 * t.base / n;
    state.counters["speed"] = t.base / t.op;
}

// Copies the same rows memcpy would, between two bitmaps of the same shape.
void CopyRows(Bitmap& dst, const Bitmap& src, std::size_t bytesPerRow) {
    for (int y = 0; y < src.Height(); ++y)
        std::memcpy(dst.Row(y), src.Row(y), bytesPerRow);
}

void BM_BitBltSrcCopy(benchmark::State& state) {
    const int bpp = int(state.range(0));
    const int n = 4096;
    HBITMAP src = RandomBitmap(n, n, bpp, 1), dst = RandomBitmap(n, n, bpp, 2);
    HBITMAP scratch = RandomBitmap(n, n, bpp, 3);
    DCPtr s = CreateDCForBitmap(src), d = CreateDCForBitmap(dst);
    const std::size_t rowBytes = std::size_t(n) * std::size_t(bpp / 8);
    Measure(
        state,
        [&] { benchmark::DoNotOptimize(BitBlt(d.get(), 0, 0, n, n, s.get(), 0, 0, SRCCOPY)); },
        [&] { CopyRows(*scratch, *src, rowBytes); });
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(rowBytes) * n);
}
BENCHMARK(BM_BitBltSrcCopy)->Arg(8)->Arg(24)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_BitBltRop8(benchmark::State& state) {
    const DWORD rop = DWORD(state.range(0));
    const int n = 4096;
    HBITMAP src = RandomBitmap(n, n, 8, 1), dst = RandomBitmap(n, n, 8, 2);
    HBITMAP scratch = RandomBitmap(n, n, 8, 3);
    DCPtr s = CreateDCForBitmap(src), d = CreateDCForBitmap(dst);
    HBITMAP pattern = RandomBitmap(8, 8, 8, 4);
    SelectObject(d.get(),
                 state.range(1) ? CreatePatternBrush(pattern) : CreateSolidBrush(PALETTEINDEX(77)));
    Measure(
        state, [&] { benchmark::DoNotOptimize(BitBlt(d.get(), 0, 0, n, n, s.get(), 0, 0, rop)); },
        [&] { CopyRows(*scratch, *src, std::size_t(n)); });
    char label[48];
    std::snprintf(label, sizeof label, "rop 0x%08X, %s brush", unsigned(rop),
                  state.range(1) ? "pattern" : "solid");
    state.SetLabel(label);
}
BENCHMARK(BM_BitBltRop8)
    ->Args({SRCPAINT, 0})
    ->Args({SRCAND, 0})
    ->Args({SRCINVERT, 0})
    ->Args({NOTSRCCOPY, 0})
    ->Args({SRCERASE, 0})
    ->Args({MERGECOPY, 0})
    ->Args({MERGEPAINT, 0})
    ->Args({PATCOPY, 0})
    ->Args({PATINVERT, 0})
    ->Args({DSTINVERT, 0})
    ->Args({WHITENESS, 0})
    ->Args({0x00B8074A, 0})  // PSDPxax, a code without a short name
    ->Args({0x00E20746, 0})  // DSPDxax
    ->Args({0x00B8074A, 1})
    ->Args({PATINVERT, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// StretchBlt COLORONCOLOR from 8-bit through the palette into 32-bit, beside
// QPainter drawing the same indexed image at the same size.
void BM_StretchBlt8To32(benchmark::State& state) {
    const int sw = int(state.range(0)), dw = int(state.range(1));
    HBITMAP src = RandomBitmap(sw, sw, 8, 5);
    HBITMAP dst = Bitmap::Create(dw, dw, 32);
    HBITMAP qtTarget = Bitmap::Create(dw, dw, 32);
    DCPtr s = CreateDCForBitmap(src), d = CreateDCForBitmap(dst);
    SetStretchBltMode(d.get(), COLORONCOLOR);
    SelectPalette(d.get(), CreatePaletteFromBitmap(*src));
    const QImage srcImage = src->ImageView();
    QImage target = qtTarget->ImageView();
    Measure(
        state,
        [&] {
            benchmark::DoNotOptimize(
                StretchBlt(d.get(), 0, 0, dw, dw, s.get(), 0, 0, sw, sw, SRCCOPY));
        },
        [&] {
            QPainter p(&target);
            p.setCompositionMode(QPainter::CompositionMode_Source);
            p.setRenderHint(QPainter::SmoothPixmapTransform, false);
            p.drawImage(QRect(0, 0, dw, dw), srcImage, QRect(0, 0, sw, sw));
        });
}
BENCHMARK(BM_StretchBlt8To32)
    ->Args({4096, 512})
    ->Args({512, 4096})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return benchsupport::RunWithGuiApplication(argc, argv);
}
