// The union store itself, each figure beside its baseline in the same run:
//  - BM_RowWalk: BeginRowAccess, ReadRow and WriteRow of every row,
//    EndRowAccess over an 8-bit 9600 x 9600 store, against memcpy reading
//    and writing the same bytes of one plain buffer. Counter
//    vs_memcpy = memcpy time / walk time (the walk's share of memcpy's
//    throughput; target at least 0.40).
//  - BM_HugeStoreMemory: a 48000 x 48000 8-bit store with ten painted tiles,
//    paged out, in a child process of its own: peak_rss_MiB is the child's
//    peak resident memory above what it started with (target below 64),
//    file_blocks_KiB the tile file's allocated disk blocks and
//    written_KiB the pages its slot writes touched (target: blocks no more
//    than written).
//  - BM_CreateRelease: Create + Release of a 20000 x 20000 store against a
//    2000 x 2000 one (100 times the area). Counter vs_small = big / small
//    (target at most 3).

#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "raster/Tqunion.h"

namespace {

using Clock = std::chrono::steady_clock;
using quillor::TUnionBitmap;

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

void BM_RowWalk(benchmark::State& state) {
    constexpr int kSide = 9600;
    TUnionBitmap store;
    store.Create(kSide, kSide, nullptr, 8);
    const std::size_t stride = std::size_t(store.GetStride());
    std::vector<std::uint8_t> plain(stride * kSide, 7);
    std::vector<std::uint8_t> row(stride);

    auto walk = [&] {
        store.BeginRowAccess();
        for (int y = 0; y < kSide; ++y) {
            std::uint8_t* buffer = store.ReadRow(y);
            benchmark::DoNotOptimize(buffer);
            store.WriteRow(y);
        }
        store.EndRowAccess();
    };
    // The first walk makes every tile resident and saves it for undo once;
    // it is reported apart.
    auto start = Clock::now();
    walk();
    const double first = Seconds(start);

    double base = 0, op = 0;
    for (auto _ : state) {
        start = Clock::now();
        for (int y = 0; y < kSide; ++y) {
            std::memcpy(row.data(), plain.data() + std::size_t(y) * stride, stride);
            benchmark::DoNotOptimize(row.data());
            std::memcpy(plain.data() + std::size_t(y) * stride, row.data(), stride);
            benchmark::ClobberMemory();
        }
        const double copy = Seconds(start);
        start = Clock::now();
        walk();
        const double rows = Seconds(start);
        state.SetIterationTime(rows);
        base += copy;
        op += rows;
    }
    state.counters["vs_memcpy"] = base / op;
    state.counters["memcpy_ms"] = 1000 * base / double(state.iterations());
    state.counters["first_walk_ms"] = 1000 * first;
    state.SetBytesProcessed(state.iterations() * std::int64_t(stride) * kSide * 2);
}

std::int64_t StatusKiB(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(field);
    while (std::getline(in, line))
        if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':')
            return std::atoll(line.c_str() + n + 1);
    return -1;
}

struct HugeStoreFigures {
    double peakMiB = -1;
    double fileKiB = -1;
    double writtenKiB = -1;
    double seconds = -1;
};

// Runs in a child process, so that nothing the benchmark program holds
// counts: the peak is reset, then measured above the starting resident size.
HugeStoreFigures MeasureHugeStore() {
    HugeStoreFigures f;
    {
        std::ofstream reset("/proc/self/clear_refs");
        reset << "5";
    }
    const std::int64_t startKiB = StatusKiB("VmRSS");
    const auto start = Clock::now();
    auto store = std::make_unique<TUnionBitmap>();
    constexpr int kSide = 48000;
    if (!store->Create(kSide, kSide, nullptr, 8))
        return f;
    const int columns = store->TileColumns();
    std::set<std::int64_t> pages;
    pages.insert(0);  // the header
    store->BeginRowAccess();
    for (int i = 0; i < 10; ++i) {
        const int tile = (i * 997 + 13) % store->TileCount();
        const int left = (tile % columns) * 480, top = (tile / columns) * 480;
        for (int y = top; y < top + 480; ++y) {
            std::uint8_t* row = store->ReadRowSpan(y, left, 480);
            for (int x = left; x < left + 480; ++x)
                row[x] = std::uint8_t(x * 7 + y * 3 + i);
            store->WriteRowSpan(y, left, 480);
        }
        const quillor::TileStatus& status = store->Status(tile, 0);
        for (std::int64_t p = status.FileOffset / 4096;
             p <= (status.FileOffset + status.ByteSize - 1) / 4096; ++p)
            pages.insert(p);
    }
    store->EndRowAccess();
    store->PageOutAll();
    f.seconds = Seconds(start);
    f.peakMiB = double(StatusKiB("VmHWM") - startKiB) / 1024.0;
    struct stat st {};
    if (::stat(store->TempFileName().c_str(), &st) == 0)
        f.fileKiB = double(st.st_blocks) * 512.0 / 1024.0;
    f.writtenKiB = double(pages.size()) * 4.0;
    return f;
}

void BM_HugeStoreMemory(benchmark::State& state) {
    HugeStoreFigures f;
    for (auto _ : state) {
        int fds[2];
        if (::pipe(fds) != 0) {
            state.SkipWithError("pipe");
            return;
        }
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(fds[0]);
            const HugeStoreFigures measured = MeasureHugeStore();
            const ssize_t n = ::write(fds[1], &measured, sizeof measured);
            ::_exit(n == ssize_t(sizeof measured) ? 0 : 1);
        }
        ::close(fds[1]);
        if (child < 0 || ::read(fds[0], &f, sizeof f) != ssize_t(sizeof f))
            state.SkipWithError("child failed");
        ::close(fds[0]);
        if (child > 0)
            ::waitpid(child, nullptr, 0);
        state.SetIterationTime(std::max(f.seconds, 1e-9));
    }
    state.counters["peak_rss_MiB"] = f.peakMiB;
    state.counters["file_blocks_KiB"] = f.fileKiB;
    state.counters["written_KiB"] = f.writtenKiB;
}

void BM_CreateRelease(benchmark::State& state) {
    constexpr int kRounds = 10;
    auto cycle = [](int side) {
        const auto start = Clock::now();
        for (int i = 0; i < kRounds; ++i) {
            TUnionBitmap store;
            store.Create(side, side, nullptr, 8);
            store.Release();
        }
        return Seconds(start) / kRounds;
    };
    double small = 0, big = 0;
    for (auto _ : state) {
        small += cycle(2000);
        const double t = cycle(20000);
        state.SetIterationTime(t);
        big += t;
    }
    state.counters["vs_small"] = big / small;
    state.counters["small_us"] = 1e6 * small / double(state.iterations());
}

BENCHMARK(BM_RowWalk)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HugeStoreMemory)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CreateRelease)->Iterations(20)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
