// WriteBlock / ReadBlock in compressed mode on 480 x 480 tiles, each beside
// zlib's compress / uncompress alone on the same bytes (the baseline). The
// bridge adds a 4-byte prefix and the file transfer; its median should stay
// within 5% of the baseline.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "raster/Compress.h"

namespace {

constexpr int kTile = 480;
constexpr std::size_t kBytes = std::size_t(kTile) * kTile * 3;  // a 24-bit tile

// A design: flat colour areas (bands and rectangles) with a few thousand
// distinct edges, the kind of content tiles of a drawing hold.
std::vector<unsigned char> DesignTile() {
    std::vector<unsigned char> px(kBytes);
    std::mt19937 rng(42);
    const unsigned char colours[][3] = {{250, 250, 250}, {20, 40, 160}, {200, 30, 30},
                                        {30, 160, 60},   {240, 200, 0}, {90, 90, 90}};
    for (std::size_t i = 0; i < px.size(); i += 3) {
        px[i] = px[i + 1] = px[i + 2] = 250;
    }
    for (int r = 0; r < 400; ++r) {
        const int x0 = int(rng() % kTile), y0 = int(rng() % kTile);
        const int w = 4 + int(rng() % 60), h = 4 + int(rng() % 60);
        const unsigned char* c = colours[rng() % 6];
        for (int y = y0; y < std::min(kTile, y0 + h); ++y)
            for (int x = x0; x < std::min(kTile, x0 + w); ++x) {
                unsigned char* p = &px[(std::size_t(y) * kTile + x) * 3];
                p[0] = c[0];
                p[1] = c[1];
                p[2] = c[2];
            }
    }
    return px;
}

std::vector<unsigned char> NoiseTile() {
    std::vector<unsigned char> px(kBytes);
    std::mt19937 rng(7);
    for (auto& b : px)
        b = static_cast<unsigned char>(rng());
    return px;
}

const std::vector<unsigned char>& Tile(int which) {
    static const std::vector<unsigned char> design = DesignTile();
    static const std::vector<unsigned char> noise = NoiseTile();
    return which == 0 ? design : noise;
}

std::string ScratchPath() {
    return platform::TempFolder() + "/bench_compress." + std::to_string(::getpid());
}

void BM_ZlibCompress(benchmark::State& state) {
    const auto& tile = Tile(int(state.range(0)));
    std::vector<unsigned char> out(compressBound(tile.size()));
    for (auto _ : state) {
        uLongf length = out.size();
        benchmark::DoNotOptimize(compress(out.data(), &length, tile.data(), tile.size()));
        benchmark::DoNotOptimize(length);
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(tile.size()));
}

void BM_WriteBlock(benchmark::State& state) {
    const auto& tile = Tile(int(state.range(0)));
    const std::string path = ScratchPath();
    platform::File file = platform::File::Open(path, O_RDWR | O_CREAT | O_TRUNC);
    for (auto _ : state) {
        file.Seek(0);
        if (!quillor::WriteBlock(file, tile.data(), tile.size(), quillor::kCompressZlib))
            state.SkipWithError("WriteBlock failed");
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(tile.size()));
    ::unlink(path.c_str());
}

void BM_ZlibUncompress(benchmark::State& state) {
    const auto& tile = Tile(int(state.range(0)));
    std::vector<unsigned char> packed(compressBound(tile.size()));
    uLongf packedLength = packed.size();
    compress(packed.data(), &packedLength, tile.data(), tile.size());
    std::vector<unsigned char> out(tile.size());
    for (auto _ : state) {
        uLongf length = out.size();
        benchmark::DoNotOptimize(uncompress(out.data(), &length, packed.data(), packedLength));
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(tile.size()));
}

void BM_ReadBlock(benchmark::State& state) {
    const auto& tile = Tile(int(state.range(0)));
    const std::string path = ScratchPath();
    platform::File file = platform::File::Open(path, O_RDWR | O_CREAT | O_TRUNC);
    quillor::WriteBlock(file, tile.data(), tile.size(), quillor::kCompressZlib);
    std::vector<unsigned char> out(tile.size());
    for (auto _ : state) {
        file.Seek(0);
        if (!quillor::ReadBlock(file, out.data(), out.size(), quillor::kCompressZlib))
            state.SkipWithError("ReadBlock failed");
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(tile.size()));
    ::unlink(path.c_str());
}

// Argument 0: the design tile; 1: noise.
BENCHMARK(BM_ZlibCompress)->Arg(0)->Arg(1)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_WriteBlock)->Arg(0)->Arg(1)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_ZlibUncompress)->Arg(0)->Arg(1)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_ReadBlock)->Arg(0)->Arg(1)->Repetitions(9)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
