#include "decoders.h"

namespace doc::formats {

Picture decodeEmf(std::span<const uint8_t>)
{
    fail(ImportErrorKind::Unsupported, "Emf: reader not written yet");
}

} // namespace doc::formats
