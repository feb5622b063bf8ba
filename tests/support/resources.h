#pragma once

// The process's own peak memory, for tests that check an input costs what it holds.

#include <fstream>
#include <string>

namespace testsupport {

/** Starts a new peak: from here on peakResidentKilobytes() counts from the memory in use now. */
inline void resetPeakResident()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

/** The most memory resident at once since the start or the last resetPeakResident(), in kB. */
inline long peakResidentKilobytes()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

} // namespace testsupport
