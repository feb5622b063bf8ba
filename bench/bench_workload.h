#pragma once

#include "bench_common.h"
#include "document/gif_reader.h"

#include <map>
#include <string>

namespace bench {

/** A workload GIF decoded once per process, so that timed loops only encode; nullptr and `error` when it cannot be read. */
inline const doc::TGIFImage *decodedWorkload(const std::string &name, std::string &error)
{
    static std::map<std::string, doc::TGIFImage> cache;
    auto it = cache.find(name);
    if (it != cache.end())
        return &it->second;
    try {
        const std::vector<uint8_t> bytes = doc::readWholeFile((workDir() / (name + ".gif")).string());
        doc::TGIFImage image;
        doc::loadFromBytes(image, bytes.data(), bytes.size());
        return &cache.emplace(name, std::move(image)).first->second;
    } catch (const std::exception &e) {
        error = e.what();
        return nullptr;
    }
}

} // namespace bench
