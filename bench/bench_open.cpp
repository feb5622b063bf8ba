// The open of a GIF file for editing: read, strict check, compose and reduce every frame
// (FlattenFrames), and a plain write of the result, as bench/peers/open.sh times it beside
// GraphicsMagick and ImageMagick.
//
//   bench_open --open IN OUT [WORKERS]   one open and write, phases timed on stderr
//   bench_open [benchmark flags]         Google Benchmark over the workloads of
//                                        make_workloads.sh (MOVARO_BENCH_WORK, default
//                                        build/bench-work)

#include "bench_common.h"
#include "document/composer.h"
#include "document/gif_reader.h"
#include "document/gif_writer.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

using bench::workDir;

doc::TGIFImage openGif(const std::vector<uint8_t> &bytes, int workers)
{
    doc::TGIFImage image;
    doc::loadFromBytes(image, bytes.data(), bytes.size());
    doc::checkOpenable(bytes.data(), bytes.size());
    doc::FlattenFrames(image, workers);
    return image;
}

int openOnce(const char *in, const char *out, int workers)
{
    using Clock = std::chrono::steady_clock;
    auto seconds = [](Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); };
    try {
        const auto t0 = Clock::now();
        const std::vector<uint8_t> bytes = doc::readWholeFile(in);
        doc::TGIFImage image;
        doc::loadFromBytes(image, bytes.data(), bytes.size());
        doc::checkOpenable(bytes.data(), bytes.size());
        const auto t1 = Clock::now();
        doc::FlattenFrames(image, workers);
        const auto t2 = Clock::now();
        doc::saveToFile(image, out);
        const auto t3 = Clock::now();
        std::fprintf(stderr, "read %.3f s, flatten %.3f s, write %.3f s, %d frames\n", seconds(t0, t1),
                     seconds(t1, t2), seconds(t2, t3), image.count());
        return 0;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s: %s\n", in, e.what());
        return 1;
    }
}

std::vector<uint8_t> workload(benchmark::State &state, const char *name)
{
    const fs::path path = workDir() / name;
    if (!fs::exists(path)) {
        state.SkipWithError((path.string() + " missing: run make_workloads.sh").c_str());
        return {};
    }
    return doc::readWholeFile(path.string());
}

void setPixelRate(benchmark::State &state, const doc::TGIFImage &read)
{
    const double pixels = double(read.header.width) * read.header.height * read.count();
    state.counters["Mpx/s"] = benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

// Composition alone, on one thread: the part of the open that cannot be shared out.
void BM_Compose(benchmark::State &state, const char *name)
{
    const auto bytes = workload(state, name);
    if (bytes.empty())
        return;
    doc::TGIFImage image;
    doc::loadFromBytes(image, bytes.data(), bytes.size());
    for (auto _ : state) {
        doc::FrameComposer composer(image);
        for (int i = 0; i < image.count(); ++i)
            benchmark::DoNotOptimize(composer.ComposedFrame(i).data().data());
    }
    setPixelRate(state, image);
}

// Compose and reduce with the given number of reduction workers (read not counted).
void BM_Flatten(benchmark::State &state, const char *name)
{
    const auto bytes = workload(state, name);
    if (bytes.empty())
        return;
    doc::TGIFImage read;
    doc::loadFromBytes(read, bytes.data(), bytes.size());
    for (auto _ : state) {
        state.PauseTiming();
        doc::TGIFImage image = read;
        state.ResumeTiming();
        doc::FlattenFrames(image, int(state.range(0)));
        benchmark::DoNotOptimize(image.count());
    }
    setPixelRate(state, read);
}

// The whole open from bytes in memory, reduction workers as the editor picks them.
void BM_Open(benchmark::State &state, const char *name)
{
    const auto bytes = workload(state, name);
    if (bytes.empty())
        return;
    doc::TGIFImage read;
    doc::loadFromBytes(read, bytes.data(), bytes.size());
    for (auto _ : state)
        benchmark::DoNotOptimize(openGif(bytes, 0).count());
    setPixelRate(state, read);
}

BENCHMARK_CAPTURE(BM_Compose, photo, "photo.gif")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Compose, screen_O3, "screen-O3.gif")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Flatten, photo, "photo.gif")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Open, photo, "photo.gif")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Open, screen_O3, "screen-O3.gif")->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 4 && std::strcmp(argv[1], "--open") == 0)
        return openOnce(argv[2], argv[3], argc >= 5 ? std::atoi(argv[4]) : 0);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
