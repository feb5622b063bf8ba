// GIF decoding throughput: the whole reader (blocks, tables, LZW) from a file held in memory.
// Workloads come from ../shared/bench/make_workloads.sh; set MOVARO_BENCH_WORK to its WORKDIR
// (default: build/bench-work in the source tree). bench/peers/decode.sh runs this beside giflib.

#include "bench_common.h"
#include "document/gif_reader.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

using bench::workDir;

void decode(benchmark::State &state, const fs::path &path)
{
    std::vector<uint8_t> bytes;
    try {
        bytes = doc::readWholeFile(path.string());
    } catch (const std::exception &e) {
        state.SkipWithError(e.what());
        return;
    }
    std::size_t pixels = 0;
    {
        doc::TGIFImage image;
        doc::loadFromBytes(image, bytes.data(), bytes.size());
        for (int i = 0; i < image.count(); ++i)
            pixels += image.frame(i).pixels().size();
    }
    for (auto _ : state) {
        doc::TGIFImage image;
        doc::loadFromBytes(image, bytes.data(), bytes.size());
        benchmark::DoNotOptimize(image.count());
    }
    state.counters["Mpx/s"] =
        benchmark::Counter(double(pixels) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_DecodePhoto(benchmark::State &state)
{
    decode(state, workDir() / "photo.gif");
}
void BM_DecodeScreen(benchmark::State &state)
{
    decode(state, workDir() / "screen.gif");
}
// Always present: a corpus animation (1000 × 175, 259 frames).
void BM_DecodeSampleBig(benchmark::State &state)
{
    decode(state, fs::path(MOVARO_CORPUS_DIR) / "image-rs-gif/tests/samples/sample_big.gif");
}

BENCHMARK(BM_DecodePhoto)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeScreen)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeSampleBig)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
