#include "decoders.h"

namespace doc::formats {

Picture decodeRla(std::span<const uint8_t> bytes)
{
    return decodeWithMagick(bytes, "RLA");
}

} // namespace doc::formats
