#include "decoders.h"

namespace doc::formats {

Picture decodePsd(std::span<const uint8_t>)
{
    fail(ImportErrorKind::Unsupported, "Psd: reader not written yet");
}

} // namespace doc::formats
