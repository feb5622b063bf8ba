// Fuzzes our own Windows bitmap reader: any input must decode or throw ImportError.
#include "document/formats/decoders.h"

#include <new>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    try {
        const doc::Picture p = doc::formats::decodeBmp({data, size});
        if (p.data().size() != std::size_t(p.width()) * std::size_t(p.height()) * std::size_t(p.bytesPerPixel()))
            __builtin_trap();
    } catch (const doc::formats::ImportError &) {
    } catch (const std::bad_alloc &) {
    }
    return 0;
}
