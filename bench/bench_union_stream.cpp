// The union store's tile stream in mode 2 on an 8-bit 9600 x 9600 design
// (flat areas, bands and some noise: 400 tiles at level 0, 1600 blocks over
// the four levels), each figure beside its baseline measured in the same
// iteration: zlib's compress (or uncompress) alone on the same blocks, one
// after the other on one thread.
//
// Counters: vs_zlib = the stream operation's time / the baseline's time
// (target: at most 1.10 on one thread); speedup = baseline / operation,
// which shows what compressing on every core gains. Reading also fills a
// fresh store's memory, which the baseline does not: memory_ms is that floor
// alone (fresh tiles given pixels and written once) and vs_zlib_and_memory
// compares with both.
//
// Argument: the number of threads that compress or inflate
// ($VELSERIN_STREAM_THREADS); 0 leaves it to the machine.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "raster/Tqunion.h"

namespace {

using Clock = std::chrono::steady_clock;
using quillor::TUnionBitmap;

constexpr int kSide = 9600;

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

// A design as drawn: bands and rectangles of flat colour, a noisy area
// (a scanned texture) over a tenth of the image.
void PaintDesign(TUnionBitmap& store) {
    store.BeginRowAccess();
    std::uint32_t seed = 12345;
    for (int y = 0; y < kSide; ++y) {
        std::uint8_t* row = store.ReadRow(y);
        for (int x = 0; x < kSide; ++x) {
            std::uint8_t v = std::uint8_t(((x / 160 + y / 120) % 12) * 20);
            if ((x / 400 + y / 300) % 5 == 0)
                v = std::uint8_t(200 + (x / 16 + y / 16) % 4);
            if (x >= 6000 && x < 9000 && y >= 1000 && y < 4000) {
                seed = seed * 1103515245u + 12345u;
                v = std::uint8_t(v + ((seed >> 16) & 0x1F));
            }
            row[x] = v;
        }
        store.WriteRow(y);
    }
    store.EndRowAccess();
}

struct Design {
    TUnionBitmap store;
    std::vector<std::vector<std::uint8_t>> blocks;  // stream order
    std::vector<std::vector<std::uint8_t>> packed;  // compress() of each
    std::string path;
};

Design& TheDesign() {
    static Design* design = [] {
        auto* d = new Design;
        d->store.Create(kSide, kSide, nullptr, 8);
        PaintDesign(d->store);
        for (int level = 0; level < d->store.LevelCount(); ++level)
            for (int tile = 0; tile < d->store.TileCount(); ++tile) {
                d->store.BringLevelUpToDate(tile, level);
                d->store.EnsureTile(tile, level);
                const auto& pixels = d->store.Tile(tile, level)->GetHandle()->pixels;
                d->blocks.emplace_back(pixels->Bits(), pixels->Bits() + pixels->SizeBytes());
                std::vector<std::uint8_t> out(compressBound(d->blocks.back().size()));
                uLongf length = out.size();
                compress(out.data(), &length, d->blocks.back().data(), d->blocks.back().size());
                out.resize(length);
                d->packed.push_back(std::move(out));
            }
        d->path = platform::TempFolder() + "/bench_union_stream." + std::to_string(::getpid());
        std::atexit([] { ::unlink(TheDesign().path.c_str()); });
        return d;
    }();
    return *design;
}

double ZlibCompressAll(const Design& d) {
    std::vector<std::uint8_t> out(compressBound(480 * 480));
    const auto start = Clock::now();
    for (const auto& block : d.blocks) {
        uLongf length = out.size();
        benchmark::DoNotOptimize(compress(out.data(), &length, block.data(), block.size()));
        benchmark::DoNotOptimize(length);
    }
    return Seconds(start);
}

double ZlibUncompressAll(const Design& d) {
    std::vector<std::uint8_t> out(480 * 480);
    const auto start = Clock::now();
    for (std::size_t i = 0; i < d.packed.size(); ++i) {
        uLongf length = d.blocks[i].size();
        benchmark::DoNotOptimize(
            uncompress(out.data(), &length, d.packed[i].data(), d.packed[i].size()));
    }
    return Seconds(start);
}

// What the pixels of a store read from a stream cost before any data goes
// into them: every tile of every level of a fresh store given pixels and
// written once (the system maps fresh pages on first touch).
double FreshTileMemory() {
    auto store = std::make_unique<TUnionBitmap>();
    store->Create(kSide, kSide, nullptr, 8);
    const auto start = Clock::now();
    for (int level = 0; level < store->LevelCount(); ++level)
        for (int tile = 0; tile < store->TileCount(); ++tile) {
            store->PrepareTileForRestore(tile, level, nullptr);
            const auto& pixels = store->Tile(tile, level)->GetHandle()->pixels;
            std::memset(pixels->Bits(), 1, pixels->SizeBytes());
        }
    return Seconds(start);
}

void SetThreads(int threads) {
    if (threads > 0)
        ::setenv("VELSERIN_STREAM_THREADS", std::to_string(threads).c_str(), 1);
    else
        ::unsetenv("VELSERIN_STREAM_THREADS");
}

void BM_WriteTiles(benchmark::State& state) {
    Design& d = TheDesign();
    SetThreads(int(state.range(0)));
    platform::File file = platform::File::Open(d.path, O_RDWR | O_CREAT | O_TRUNC);
    double base = 0, op = 0;
    bool baselineFirst = true;
    for (auto _ : state) {
        // The baseline runs before and after the stream by turns, so that a
        // machine whose load changes favours neither.
        double zlib = baselineFirst ? ZlibCompressAll(d) : 0;
        file.SetSize(0);
        file.Seek(0);
        const auto start = Clock::now();
        if (!d.store.WriteTiles(file, 2, nullptr, false))
            state.SkipWithError("WriteTiles failed");
        const double write = Seconds(start);
        if (!baselineFirst)
            zlib = ZlibCompressAll(d);
        baselineFirst = !baselineFirst;
        state.SetIterationTime(write);
        base += zlib;
        op += write;
    }
    state.counters["vs_zlib"] = op / base;
    state.counters["speedup"] = base / op;
    state.counters["zlib_ms"] = 1000 * base / double(state.iterations());
    state.counters["stream_MB"] = double(file.Size()) / 1e6;
    SetThreads(0);
}

void BM_ReadTiles(benchmark::State& state) {
    Design& d = TheDesign();
    {
        SetThreads(0);
        platform::File file = platform::File::Open(d.path, O_RDWR | O_CREAT | O_TRUNC);
        d.store.WriteTiles(file, 2, nullptr, false);
    }
    SetThreads(int(state.range(0)));
    platform::File file = platform::File::Open(d.path, O_RDONLY);
    double base = 0, op = 0;
    double memory = 0;
    for (auto _ : state) {
        const double zlib = ZlibUncompressAll(d);
        memory += FreshTileMemory();
        auto store = std::make_unique<TUnionBitmap>();
        store->Create(kSide, kSide, nullptr, 8);
        file.Seek(0);
        const auto start = Clock::now();
        if (!store->ReadTiles(file, 2, nullptr))
            state.SkipWithError("ReadTiles failed");
        const double read = Seconds(start);
        state.SetIterationTime(read);
        base += zlib;
        op += read;
    }
    state.counters["vs_zlib"] = op / base;
    state.counters["vs_zlib_and_memory"] = op / (base + memory);
    state.counters["zlib_ms"] = 1000 * base / double(state.iterations());
    state.counters["memory_ms"] = 1000 * memory / double(state.iterations());
    state.counters["speedup"] = base / op;
    SetThreads(0);
}

BENCHMARK(BM_WriteTiles)
    ->Arg(1)
    ->Arg(0)
    ->Iterations(4)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadTiles)
    ->Arg(1)
    ->Arg(0)
    ->Iterations(4)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
