// The lossy LZW search alone (encodeTunedLzw at lossy 80, one thread) on the frames of the
// benchmark workloads, so that a change to the search is timed without the rest of level 2.
// Workloads come from ../shared/bench/make_workloads.sh; set MOVARO_BENCH_WORK to its WORKDIR
// (default: build/bench-work in the source tree). bench/peers/lossy_curve.sh times the whole
// optimisation beside gifsicle.

#include "bench_workload.h"
#include "document/lzw_tuned.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>

namespace {

/** A workload's first frames, decoded once per process; the timed loop only encodes. */
struct Frames {
    std::vector<std::vector<uint8_t>> indices;
    std::vector<std::vector<doc::Rgb>> palettes;
    std::vector<int> widths, codeSizes;
    std::size_t pixels = 0;
};

const Frames *workload(const std::string &name, std::string &error)
{
    constexpr int kFrames = 12;
    static std::map<std::string, Frames> cache;
    auto it = cache.find(name);
    if (it != cache.end())
        return &it->second;
    const doc::TGIFImage *image = bench::decodedWorkload(name, error);
    if (!image)
        return nullptr;
    Frames frames;
    for (int i = 0; i < std::min(image->count(), kFrames); ++i) {
        const doc::TGIFSubImage &f = image->frame(i);
        const doc::TGIFColorMap &map = f.colorMap().empty() ? image->header.colorMap : f.colorMap();
        frames.indices.push_back(f.pixels());
        frames.palettes.push_back(map.entries);
        frames.widths.push_back(f.width);
        frames.codeSizes.push_back(std::max(2, map.bitSize()));
        frames.pixels += f.pixels().size();
    }
    return &cache.emplace(name, std::move(frames)).first->second;
}

void encodeLossy(benchmark::State &state, const std::string &name)
{
    std::string error;
    const Frames *frames = workload(name, error);
    if (!frames) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::size_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        for (std::size_t i = 0; i < frames->indices.size(); ++i) {
            std::vector<uint8_t> indices = frames->indices[i];
            doc::LzwTuning tuning;
            tuning.lossy = int(state.range(0));
            tuning.palette = &frames->palettes[i];
            bytes += doc::encodeTunedLzw(indices, frames->widths[i], frames->codeSizes[i], tuning).codes.size();
        }
    }
    state.counters["Mpx/s"] =
        benchmark::Counter(double(frames->pixels) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    // The same figure before and after a change that should only be faster.
    state.counters["bytes"] = double(bytes);
}

void BM_LossyPhoto(benchmark::State &state) { encodeLossy(state, "photo"); }
void BM_LossyScreen(benchmark::State &state) { encodeLossy(state, "screen"); }

} // namespace

BENCHMARK(BM_LossyPhoto)->Arg(80)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LossyScreen)->Arg(80)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
