// Times the reduction to 256 colours of one picture file, for the side-by-side run in
// bench/peers/quantize.sh: the octree of ReduceBitmapColors with nearest colours (the default), or
// the high-quality palette (QUALITY "best", nearest colours). Prints one line:
//   file=... pixels=... reps=... read_s=... reduce_s_median=... reduce_s_min=... leaves_used=...
//   quantize_tool FILE [REPS] [OUT.ppm|-] [octree|best]
// OUT.ppm receives the reduced picture (palette resolved) so its quality can be measured.

#include "document/formats/picture_formats.h"
#include "document/quantize.h"
#include "document/quantize_quality.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iterator>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void writePpm(const doc::Picture &indexed, const char *path)
{
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << indexed.width() << ' ' << indexed.height() << "\n255\n";
    std::vector<uint8_t> row(std::size_t(indexed.width()) * 3);
    for (int y = 0; y < indexed.height(); ++y) {
        const uint8_t *src = indexed.row(y);
        for (int x = 0; x < indexed.width(); ++x) {
            const doc::Rgb c = indexed.palette()[src[x]];
            row[3 * std::size_t(x)] = c.r;
            row[3 * std::size_t(x) + 1] = c.g;
            row[3 * std::size_t(x) + 2] = c.b;
        }
        out.write(reinterpret_cast<const char *>(row.data()), std::streamsize(row.size()));
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: quantize_tool FILE [REPS] [OUT.ppm|-] [octree|best]\n");
        return 2;
    }
    const int reps = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    doc::ReductionChoice choice;
    if (argc > 4 && std::string_view(argv[4]) == "best")
        choice.quality = doc::PaletteQuality::Best;
    try {
        const auto readStart = Clock::now();
        doc::Picture source = doc::formats::readPicture(argv[1]);
        const double readSeconds = secondsSince(readStart);
        // The first call converts to Rgb24 in place; do it untimed so every rep sees the same input.
        if (source.format() != doc::PixelFormat::Rgb24)
            source = source.toRgb24();

        std::vector<double> times;
        doc::Picture result;
        for (int i = 0; i < reps; ++i) {
            doc::Picture input = source;
            const auto start = Clock::now();
            result = doc::reducePicture(input, choice);
            times.push_back(secondsSince(start));
        }
        std::sort(times.begin(), times.end());
        bool seen[256] = {};
        for (uint8_t v : result.data())
            seen[v] = true;
        const auto used = std::count(std::begin(seen), std::end(seen), true);
        std::printf("file=%s pixels=%lld reps=%d read_s=%.4f reduce_s_median=%.4f reduce_s_min=%.4f "
                    "entries_used=%td\n",
                    argv[1], static_cast<long long>(source.width()) * source.height(), reps, readSeconds,
                    times[times.size() / 2], times.front(), used);
        if (argc > 3 && std::string_view(argv[3]) != "-")
            writePpm(result, argv[3]);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "quantize_tool: %s\n", e.what());
        return 1;
    }
    return 0;
}
