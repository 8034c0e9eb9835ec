// Loading an image file into a union store (TUnionBitmap::LoadFromFile),
// beside Qt's own QImage::load of the same file in the same iteration (the
// baseline). The files, 9600 x 9600 pixels of 8 bits with a palette, are
// written by the benchmark into a temporary folder: one PNG and one
// uncompressed BMP.
// Counters: op_ms and baseline_ms (mean per iteration), ratio (the load's
// time divided by the baseline's; the target is 2 or less) and speed (its
// inverse, as the other benchmarks report it).

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QImage>
#include <QImageReader>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "bench/BenchSupport.h"
#include "platform/Files.h"
#include "raster/Imaging.h"
#include "raster/Tqunion.h"

namespace {

constexpr int kSize = 9600;

// A folder of its own under the temporary folder, removed at exit.
class Folder {
  public:
    Folder() {
        std::string pattern = platform::TempFolder() + "/bench_union_load.XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr)
            path_ = pattern;
    }
    ~Folder() {
        for (const char* name : {"/design.png", "/design.bmp"})
            std::remove((path_ + name).c_str());
        if (!path_.empty())
            ::rmdir(path_.c_str());
    }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// A woven-looking design: checks of two stripe sets with a band of noise
// every few hundred rows, over a 256-colour palette.
QImage Design() {
    QImage image(kSize, kSize, QImage::Format_Indexed8);
    QList<QRgb> table;
    std::mt19937 rng(11);
    for (int i = 0; i < 256; ++i)
        table.push_back(qRgb(int(rng() & 255), int(rng() & 255), int(rng() & 255)));
    image.setColorTable(table);
    for (int y = 0; y < kSize; ++y) {
        uchar* row = image.scanLine(y);
        const bool noisy = (y / 37) % 9 == 0;
        for (int x = 0; x < kSize; ++x)
            row[x] = noisy ? uchar(rng()) : uchar(((x / 7) ^ (y / 11)) * 5 + x / 301);
    }
    return image;
}

const std::string& FileOf(int which) {
    static Folder folder;
    static const std::string png = folder.Path() + "/design.png";
    static const std::string bmp = folder.Path() + "/design.bmp";
    static const bool written = [] {
        const QImage image = Design();
        return image.save(QString::fromStdString(png), "PNG") &&
               image.save(QString::fromStdString(bmp), "BMP");
    }();
    (void)written;
    return which == 0 ? png : bmp;
}

void BM_LoadFromFile(benchmark::State& state) {
    const std::string& path = FileOf(int(state.range(0)));
    quillor::imaging::FileInfo info;
    if (quillor::imaging::GetFileInfo(path, &info) != 1 || info.bitsPerPixel != 8 ||
        info.width != kSize) {
        state.SkipWithError("the 8-bit test file could not be written");
        return;
    }
    // After a failure the run ends at the next iteration check; nothing more
    // is loaded.
    bool failed = false;
    const benchsupport::PairTotals t = benchsupport::TimeBesideBaseline(
        state,
        [&] {
            if (failed)
                return;
            quillor::TUnionBitmap store;
            if (store.LoadFromFile(path) != 1) {
                state.SkipWithError("LoadFromFile failed");
                failed = true;
                return;
            }
            benchmark::DoNotOptimize(store.Status(0, 0).Blank);
        },
        [&] {
            QImage image;
            if (!image.load(QString::fromStdString(path)) ||
                image.format() != QImage::Format_Indexed8) {
                state.SkipWithError("Qt could not load the file as 8-bit");
                failed = true;
                return;
            }
            benchmark::DoNotOptimize(image.constBits());
        });
    if (failed)
        return;
    const double n = double(state.iterations());
    state.counters["op_ms"] = 1000 * t.op / n;
    state.counters["baseline_ms"] = 1000 * t.base / n;
    state.counters["ratio"] = t.op / t.base;
    state.counters["speed"] = t.base / t.op;
    state.SetLabel(state.range(0) == 0 ? "png" : "bmp");
}
BENCHMARK(BM_LoadFromFile)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // Qt's default limit refuses images of this size.
    QImageReader::setAllocationLimit(4096);
    return benchsupport::RunWithGuiApplication(argc, argv);
}
