// Speed of the union store's zoomed main view, each figure measured beside its
// baseline in the same iteration: PaintView of an 8-bit 12800 x 8000 store
// into a 1600 x 1000 8-bit screen bitmap followed by the palette copy of that
// bitmap into a 32-bit window bitmap, against QPainter::drawImage (fast
// transformation) drawing the same view into an RGB32 image from a full-size
// RGB32 image of the same content.
// Counters: op_ms and baseline_ms (mean per iteration) and speed, the
// baseline's time divided by the operation's (2.0 = twice as fast as the
// baseline); paint_ms and copy_ms split op_ms into the view paint and the
// palette copy.

#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "bench/BenchSupport.h"
#include "platform/Gdi.h"
#include "raster/Tqunion.h"

namespace {

namespace gdi = platform::gdi;
using benchsupport::Clock;
using quillor::TUnionBitmap;

constexpr int kWidth = 12800, kHeight = 8000;
constexpr int kViewW = 1600, kViewH = 1000;

std::uint8_t PixelAt(int x, int y) {
    std::uint32_t h = std::uint32_t(x / 3) * 73856093u ^ std::uint32_t(y / 5) * 19349663u;
    h ^= h >> 13;
    return std::uint8_t((h * 0x5bd1e995u) >> 24);
}

// The store and the full-size image of the same content, built once.
struct Scene {
    std::array<gdi::RGBQUAD, 256> palette{};
    TUnionBitmap store;
    QImage image;  // RGB32, kWidth x kHeight
    gdi::HBITMAP screen, window;
    gdi::DCPtr screenDc, windowDc;
    QImage target;  // the baseline's RGB32 view

    Scene() {
        for (int i = 0; i < 256; ++i)
            palette[std::size_t(i)] = gdi::MakeQuad(i, (i * 7) & 255, 255 - i);
        store.Create(kWidth, kHeight, palette.data(), 8);
        // No undo step is open here: the writes need no undo copies.
        for (int tile = 0; tile < store.TileCount(); ++tile)
            store.Status(tile, 0).Saved = 1;
        store.BeginRowAccess();
        for (int y = 0; y < kHeight; ++y) {
            std::uint8_t* row = store.ReadRow(y);
            for (int x = 0; x < kWidth; ++x)
                row[x] = PixelAt(x, y);
            store.WriteRow(y);
        }
        store.EndRowAccess();

        QRgb colours[256];
        for (int i = 0; i < 256; ++i)
            colours[i] = qRgb(palette[std::size_t(i)].rgbRed, palette[std::size_t(i)].rgbGreen,
                              palette[std::size_t(i)].rgbBlue);
        image = QImage(kWidth, kHeight, QImage::Format_RGB32);
        for (int y = 0; y < kHeight; ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < kWidth; ++x)
                line[x] = colours[PixelAt(x, y)];
        }

        screen = gdi::Bitmap::Create(kViewW, kViewH, 8, palette.data(), 256);
        window = gdi::Bitmap::Create(kViewW, kViewH, 32);
        screenDc = gdi::CreateDCForBitmap(screen);
        windowDc = gdi::CreateDCForBitmap(window);
        target = QImage(kViewW, kViewH, QImage::Format_RGB32);
        target.fill(0);
    }
};

Scene& TheScene() {
    static Scene scene;
    return scene;
}

struct View {
    int srcLeft, srcTop, srcW, srcH;
};

View ViewFor(int den) {
    if (den == 1)
        return View{5003, 3007, kViewW, kViewH};  // a 1600 x 1000 area off the tile grid
    return View{0, 0, kViewW * den, kViewH * den};
}

// Draws the view and copies it into the window; returns the paint's share.
double PaintAndCopy(Scene& s, const View& v, bool drawAll) {
    const auto t0 = Clock::now();
    const int r = s.store.PaintView(s.screenDc.get(), kViewW, false, s.store, drawAll, v.srcH,
                                    v.srcW, v.srcTop, v.srcLeft, kViewH);
    benchmark::DoNotOptimize(r);
    const auto t1 = Clock::now();
    if (r != 0)
        gdi::BitBlt(s.windowDc.get(), 0, 0, kViewW, kViewH, s.screenDc.get(), 0, 0, gdi::SRCCOPY);
    return std::chrono::duration<double>(t1 - t0).count();
}

void QtDraw(Scene& s, const View& v) {
    QPainter p(&s.target);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    p.drawImage(QRect(0, 0, kViewW, kViewH), s.image, QRect(v.srcLeft, v.srcTop, v.srcW, v.srcH),
                Qt::AutoColor);
}

// Zoom 1/den, every tile drawn (draw-all on).
void BM_PaintViewZoom(benchmark::State& state) {
    Scene& s = TheScene();
    const View v = ViewFor(int(state.range(0)));
    PaintAndCopy(s, v, true);  // regenerates the level once, outside the timing
    double paintTotal = 0;
    const benchsupport::PairTotals t = benchsupport::TimeBesideBaseline(
        state, [&] { paintTotal += PaintAndCopy(s, v, true); }, [&] { QtDraw(s, v); });
    const double n = double(state.iterations());
    state.counters["op_ms"] = 1000 * t.op / n;
    state.counters["paint_ms"] = 1000 * paintTotal / n;
    state.counters["copy_ms"] = 1000 * (t.op - paintTotal) / n;
    state.counters["baseline_ms"] = 1000 * t.base / n;
    state.counters["speed"] = t.base / t.op;
    char label[32];
    std::snprintf(label, sizeof label, "zoom 1/%d", int(state.range(0)));
    state.SetLabel(label);
}
BENCHMARK(BM_PaintViewZoom)
    ->Arg(8)
    ->Arg(1)
    ->Iterations(300)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Nothing changed and draw-all off: the paint only walks the tile flags.
void BM_PaintViewUnchanged(benchmark::State& state) {
    Scene& s = TheScene();
    const View v = ViewFor(int(state.range(0)));
    PaintAndCopy(s, v, true);
    const benchsupport::PairTotals t = benchsupport::TimeBesideBaseline(
        state, [&] { PaintAndCopy(s, v, false); }, [&] { QtDraw(s, v); });
    const double n = double(state.iterations());
    state.counters["op_us"] = 1e6 * t.op / n;
    state.counters["baseline_us"] = 1e6 * t.base / n;
    state.counters["speed"] = t.base / t.op;
    char label[48];
    std::snprintf(label, sizeof label, "zoom 1/%d, nothing changed", int(state.range(0)));
    state.SetLabel(label);
}
// The baseline's full draw runs in every iteration: a fixed count keeps the
// run short.
BENCHMARK(BM_PaintViewUnchanged)
    ->Arg(8)
    ->Arg(1)
    ->Iterations(300)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// The palette copy alone (BitBlt of the 8-bit screen into the 32-bit window)
// beside the plain loop that looks every index up in the colour table and
// stores it in the window: how much the drawing layer adds to the copy.
void BM_PaletteCopy(benchmark::State& state) {
    Scene& s = TheScene();
    PaintAndCopy(s, ViewFor(8), true);
    std::uint32_t table[256];
    for (int i = 0; i < 256; ++i)
        table[i] = std::uint32_t(s.palette[std::size_t(i)].rgbRed) << 16 |
                   std::uint32_t(s.palette[std::size_t(i)].rgbGreen) << 8 |
                   s.palette[std::size_t(i)].rgbBlue;
    gdi::HBITMAP plain = gdi::Bitmap::Create(kViewW, kViewH, 32);
    const benchsupport::PairTotals t = benchsupport::TimeBesideBaseline(
        state,
        [&] {
            gdi::BitBlt(s.windowDc.get(), 0, 0, kViewW, kViewH, s.screenDc.get(), 0, 0,
                        gdi::SRCCOPY);
        },
        [&] {
            for (int y = 0; y < kViewH; ++y) {
                const std::uint8_t* src = s.screen->Row(y);
                auto* dst = reinterpret_cast<std::uint32_t*>(plain->Row(y));
                for (int x = 0; x < kViewW; ++x)
                    dst[x] = table[src[x]];
            }
            benchmark::ClobberMemory();
        });
    const double n = double(state.iterations());
    state.counters["op_ms"] = 1000 * t.op / n;
    state.counters["baseline_ms"] = 1000 * t.base / n;
    state.counters["speed"] = t.base / t.op;
}
BENCHMARK(BM_PaletteCopy)->Iterations(300)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return benchsupport::RunWithGuiApplication(argc, argv);
}
