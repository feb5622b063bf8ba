#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace testsupport {

/** CRC-32 (the zlib polynomial) continued from `crc`, as other decoders' expectations state it. */
inline uint32_t crc32(uint32_t crc, const uint8_t *data, std::size_t size)
{
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

} // namespace testsupport
