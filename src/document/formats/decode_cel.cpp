#include "decoders.h"

namespace doc::formats {

Picture decodeCel(std::span<const uint8_t>)
{
    fail(ImportErrorKind::Unsupported, "Cel: reader not written yet");
}

} // namespace doc::formats
