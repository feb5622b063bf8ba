#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

/** The shared corpus folder (../shared/corpus beside the repository). */
inline std::filesystem::path corpusDir()
{
    return std::filesystem::path(MOVARO_CORPUS_DIR);
}

/** A file of the corpus, e.g. corpusPath("gif-test-suite/tests/..."). */
inline std::filesystem::path corpusPath(const std::string &relative)
{
    return corpusDir() / relative;
}

/** Skips the running GoogleTest test with a clear message when the corpus is missing. */
#define REQUIRE_CORPUS()                                                                           \
    do {                                                                                           \
        if (!std::filesystem::is_directory(::testsupport::corpusDir()))                            \
            GTEST_SKIP() << "test corpus not found at " << ::testsupport::corpusDir();             \
    } while (0)

} // namespace testsupport
