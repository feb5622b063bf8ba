// LZW encoding throughput of encodeImageData on the frames of the benchmark workloads: photo-like
// indices (dithered, 256 colours, high entropy) and screen-like ones (large flat areas).
// Workloads come from ../shared/bench/make_workloads.sh; set MOVARO_BENCH_WORK to its WORKDIR
// (default: build/bench-work in the source tree). bench/peers/encode.sh compares with giflib.

#include "bench_workload.h"
#include "document/gif_writer.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

namespace {

int codeSize(const doc::TGIFImage &image, const doc::TGIFSubImage &frame)
{
    const doc::TGIFColorMap &map = frame.colorMap().empty() ? image.header.colorMap : frame.colorMap();
    return std::max(2, map.bitSize());
}

void encodeFrames(benchmark::State &state, const std::string &name)
{
    std::string error;
    const doc::TGIFImage *image = bench::decodedWorkload(name, error);
    if (!image) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::size_t pixels = 0;
    for (int i = 0; i < image->count(); ++i)
        pixels += image->frame(i).pixels().size();
    std::vector<uint8_t> out;
    std::size_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        for (int i = 0; i < image->count(); ++i) {
            const doc::TGIFSubImage &f = image->frame(i);
            out.clear();
            doc::encodeImageData(f.pixels().data(), f.pixels().size(), codeSize(*image, f), out);
            bytes += out.size();
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["Mpx/s"] =
        benchmark::Counter(double(pixels) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["bytes/px"] = double(bytes) / double(pixels);
}

void BM_EncodePhoto(benchmark::State &state) { encodeFrames(state, "photo"); }
void BM_EncodeScreen(benchmark::State &state) { encodeFrames(state, "screen"); }

} // namespace

BENCHMARK(BM_EncodePhoto)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EncodeScreen)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
