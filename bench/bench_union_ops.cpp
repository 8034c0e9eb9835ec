// Speed of the union store's copies, masks and stretches on 8-bit 9600 x 9600
// stores, each measured beside its baseline in the same iteration: memcpy of
// the destination's level-0 bytes once for the copies and masks, and Qt's own
// nearest-pixel scaling (QImage::scaled, Qt::FastTransformation) of the same
// 8-bit data for the stretches. Counters: op_ms and baseline_ms (mean per
// iteration) and ratio, the baseline's time divided by the operation's
// (1.0 = as fast as the baseline; the throughput relative to it).

#include <benchmark/benchmark.h>

#include <QImage>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "bench/BenchSupport.h"
#include "platform/Gdi.h"
#include "raster/Tqunion.h"

namespace {

using namespace quillor;
namespace gdi = platform::gdi;

constexpr int kSize = 9600;

std::array<RGBQUAD, 256> Palette() {
    std::array<RGBQUAD, 256> p{};
    for (int i = 0; i < 256; ++i)
        p[std::size_t(i)] = gdi::MakeQuad(i, 255 - i, (i * 7) & 255);
    return p;
}

// A store of random pixels (every tile painted), written row by row.
std::unique_ptr<TUnionBitmap> RandomStore(int w, int h, unsigned seed) {
    static const std::array<RGBQUAD, 256> palette = Palette();
    auto store = std::make_unique<TUnionBitmap>();
    store->Create(w, h, palette.data(), 8);
    std::mt19937 rng(seed);
    store->BeginRowAccess();
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = store->ReadRow(y);
        for (int x = 0; x + 4 <= w; x += 4) {
            const std::uint32_t v = rng();
            std::memcpy(row + x, &v, 4);
        }
        store->WriteRow(y);
    }
    store->EndRowAccess();
    return store;
}

// The level-0 bytes of a store, for the memcpy baseline.
struct Bytes {
    std::vector<std::uint8_t> from, to;
    explicit Bytes(const TUnionBitmap& store)
        : from(std::size_t(store.GetStride()) * std::size_t(store.Height()), 1),
          to(from.size(), 0) {}
    void Copy() {
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
};

struct Stores {
    std::unique_ptr<TUnionBitmap> src = RandomStore(kSize, kSize, 1);
    std::unique_ptr<TUnionBitmap> dst = RandomStore(kSize, kSize, 2);
    std::unique_ptr<TUnionBitmap> mask = RandomStore(kSize, kSize, 3);
    std::unique_ptr<TUnionBitmap> blank = std::make_unique<TUnionBitmap>();
    Stores() { blank->Create(kSize, kSize, nullptr, 8); }
};

Stores& Shared() {
    static Stores stores;
    return stores;
}

template <class Op, class Base>
void Measure(benchmark::State& state, Op op, Base base) {
    bool ok = true;
    const benchsupport::PairTotals t = benchsupport::TimeBesideBaseline(
        state, [&] { ok = op() && ok; }, base);
    if (!ok)
        state.SkipWithError("the operation failed");
    const double n = double(state.iterations());
    state.counters["op_ms"] = 1000 * t.op / n;
    state.counters["baseline_ms"] = 1000 * t.base / n;
    state.counters["ratio"] = t.base / t.op;
}

void BM_CopyRectAligned(benchmark::State& state) {
    Stores& s = Shared();
    Bytes bytes(*s.dst);
    Measure(
        state,
        [&] { return s.dst->CopyRect(0, 0, nullptr, gdi::SRCCOPY, 0, 0, *s.src, kSize, kSize); },
        [&] { bytes.Copy(); });
}
BENCHMARK(BM_CopyRectAligned)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_CopyRectUnaligned(benchmark::State& state) {
    Stores& s = Shared();
    Bytes bytes(*s.dst);
    Measure(
        state,
        [&] { return s.dst->CopyRect(7, 3, nullptr, gdi::SRCCOPY, 0, 0, *s.src, kSize, kSize); },
        [&] { bytes.Copy(); });
}
BENCHMARK(BM_CopyRectUnaligned)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_AndWith(benchmark::State& state) {
    Stores& s = Shared();
    Bytes bytes(*s.dst);
    Measure(
        state, [&] { return s.dst->AndWith(*s.src); }, [&] { bytes.Copy(); });
}
BENCHMARK(BM_AndWith)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_MergeMasked(benchmark::State& state) {
    Stores& s = Shared();
    Bytes bytes(*s.dst);
    Measure(
        state, [&] { return s.dst->MergeMasked(*s.src, s.mask.get()); }, [&] { bytes.Copy(); });
}
BENCHMARK(BM_MergeMasked)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Blank source tiles: no source pixels are made and no pixel is combined
// (source_tiles_made and the ratio tell).
void BM_BlankSource(benchmark::State& state) {
    Stores& s = Shared();
    Bytes bytes(*s.dst);
    const int op = int(state.range(0));
    Measure(
        state,
        [&] {
            // AND with a white (index 255) blank source leaves every tile
            // as it is, unaligned as well as tile by tile.
            return op == 0
                       ? s.dst->AndWith(*s.blank)
                       : s.dst->CopyRect(5, 5, nullptr, gdi::SRCAND, 0, 0, *s.blank, kSize, kSize);
        },
        [&] { bytes.Copy(); });
    state.counters["source_tiles_made"] = double(s.blank->ResidentTiles(0).size());
}
BENCHMARK(BM_BlankSource)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.5);

// The same 8-bit pixels as a QImage, for Qt's scaling.
QImage ImageOf(TUnionBitmap& store) {
    QImage image(store.Width(), store.Height(), QImage::Format_Indexed8);
    QVector<QRgb> table;
    RGBQUAD palette[256];
    store.GetPalette(0, 256, palette);
    for (const RGBQUAD& q : palette)
        table.push_back(qRgb(q.rgbRed, q.rgbGreen, q.rgbBlue));
    image.setColorTable(table);
    store.BeginRowAccess();
    for (int y = 0; y < store.Height(); ++y)
        std::memcpy(image.scanLine(y), store.ReadRow(y), std::size_t(store.Width()));
    store.EndRowAccess();
    return image;
}

void BM_StretchFrom(benchmark::State& state) {
    Stores& s = Shared();
    const int size = int(state.range(0));
    static const QImage image = ImageOf(*s.src);
    TUnionBitmap dst;
    dst.Create(size, size, s.src->Palette(), 8);
    QImage scaled;
    Measure(
        state,
        [&] { return dst.StretchFrom(0, 0, gdi::SRCCOPY, kSize, kSize, 0, 0, *s.src, size, size); },
        [&] {
            scaled = QImage();
            scaled = image.scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
            benchmark::DoNotOptimize(scaled.constBits());
        });
}
BENCHMARK(BM_StretchFrom)
    ->Arg(4800)
    ->Arg(19200)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

}  // namespace

int main(int argc, char** argv) {
    return benchsupport::RunWithGuiApplication(argc, argv);
}
