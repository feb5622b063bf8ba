#include "decoders.h"

namespace doc::formats {

Picture decodePsp(std::span<const uint8_t>)
{
    fail(ImportErrorKind::Unsupported, "Psp: reader not written yet");
}

} // namespace doc::formats
