#pragma once

#include <cstdlib>
#include <filesystem>

namespace bench {

/** The workloads of make_workloads.sh: MOVARO_BENCH_WORK, or build/bench-work in the source tree. */
inline std::filesystem::path workDir()
{
    if (const char *dir = std::getenv("MOVARO_BENCH_WORK"))
        return dir;
    return std::filesystem::path(__FILE__).parent_path().parent_path() / "build" / "bench-work";
}

} // namespace bench
