// Times FilterPicture (blur, gaussian, sharpen) on one picture file, for the side-by-side run in
// bench/peers/filters.sh. Prints one line per kernel:
//   kernel=blur pixels=... reps=... read_s=... filter_s_median=... filter_s_min=...
//   filter_tool FILE [REPS] [KERNEL]    (KERNEL: blur, gaussian or sharpen; all three without it)

#include "document/formats/picture_formats.h"
#include "filters/pixel_filters.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Named {
    const char *name;
    filters::Kernel kernel;
};
constexpr Named kKernels[] = {
    {"blur", filters::Kernel::Blur},
    {"gaussian", filters::Kernel::Gaussian},
    {"sharpen", filters::Kernel::Sharpen},
};

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: filter_tool FILE [REPS] [blur|gaussian|sharpen]\n");
        return 2;
    }
    const int reps = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    const char *only = argc > 3 ? argv[3] : nullptr;
    try {
        const auto readStart = Clock::now();
        doc::Picture source = doc::formats::readPicture(argv[1]);
        // The editor hands the filters its 24-bit copy; the conversion is not the filter's work.
        if (source.format() != doc::PixelFormat::Rgb24)
            source = source.toRgb24();
        const double readSeconds = secondsSince(readStart);
        for (const Named &k : kKernels) {
            if (only && std::strcmp(only, k.name) != 0)
                continue;
            std::vector<double> times;
            unsigned checksum = 0;
            for (int r = 0; r < reps; ++r) {
                const auto start = Clock::now();
                const doc::Picture out = filters::FilterPicture(source, k.kernel);
                times.push_back(secondsSince(start));
                checksum += out.data()[out.data().size() / 2];
            }
            std::sort(times.begin(), times.end());
            std::printf("kernel=%s pixels=%lld reps=%d read_s=%.4f filter_s_median=%.5f filter_s_min=%.5f check=%u\n",
                        k.name, static_cast<long long>(source.width()) * source.height(), reps, readSeconds,
                        times[times.size() / 2], times.front(), checksum);
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "filter_tool: %s\n", e.what());
        return 1;
    }
    return 0;
}
