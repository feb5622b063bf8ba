// Octree reduction + nearest-colour mapping (ReduceBitmapColors, 256 colours) on the Kodak photos
// of the shared corpus (768 × 512 each), one benchmark per photo plus all of them in a row.

#include "document/formats/picture_formats.h"
#include "document/quantize.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

const std::filesystem::path kKodakDir =
    std::filesystem::path(MOVARO_CORPUS_DIR) / "photos-kodak" / "PhotoCD_PCD0992";

/** The photos as Rgb24, decoded once. */
const std::vector<doc::Picture> &kodakPhotos()
{
    static const std::vector<doc::Picture> photos = [] {
        std::vector<doc::Picture> out;
        for (int i = 1; i <= 24; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "%02d.png", i);
            const auto path = kKodakDir / name;
            if (!std::filesystem::exists(path))
                continue;
            out.push_back(doc::formats::readPicture(path.string()).toRgb24());
        }
        return out;
    }();
    return photos;
}

void reduce(benchmark::State &state, const std::vector<const doc::Picture *> &pictures)
{
    if (pictures.empty()) {
        state.SkipWithError(("Kodak photos not found in " + kKodakDir.string()).c_str());
        return;
    }
    int64_t pixels = 0;
    for (const doc::Picture *p : pictures)
        pixels += int64_t(p->width()) * p->height();
    for (auto _ : state) {
        for (const doc::Picture *p : pictures) {
            state.PauseTiming();
            doc::Picture input = *p;
            state.ResumeTiming();
            doc::Picture out = doc::ReduceBitmapColors(input, doc::ReductionMode::OctreeQuantize,
                                                       doc::DitherMode::NearestColor, 8);
            benchmark::DoNotOptimize(out.data().data());
        }
    }
    state.SetItemsProcessed(state.iterations() * pixels);
    state.counters["Mpx/s"] = benchmark::Counter(double(pixels) * 1e-6 * double(state.iterations()),
                                                 benchmark::Counter::kIsRate);
}

void BM_OctreeKodakPhoto(benchmark::State &state)
{
    const auto &photos = kodakPhotos();
    const std::size_t i = std::size_t(state.range(0));
    std::vector<const doc::Picture *> one;
    if (i < photos.size())
        one.push_back(&photos[i]);
    reduce(state, one);
}
BENCHMARK(BM_OctreeKodakPhoto)->DenseRange(0, 23)->Unit(benchmark::kMillisecond);

void BM_OctreeKodakAll(benchmark::State &state)
{
    std::vector<const doc::Picture *> all;
    for (const doc::Picture &p : kodakPhotos())
        all.push_back(&p);
    reduce(state, all);
}
BENCHMARK(BM_OctreeKodakAll)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
