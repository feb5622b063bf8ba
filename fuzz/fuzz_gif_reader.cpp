// Feeds arbitrary bytes to the GIF reader, the open check, the frame composer, the optimiser and
// the writer.
#include "document/composer.h"
#include "document/gif_error.h"
#include "document/gif_optimize.h"
#include "document/gif_reader.h"
#include "document/gif_writer.h"

#include <cstddef>
#include <cstdint>
#include <new>
#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    doc::TGIFImage image;
    try {
        doc::loadFromBytes(image, data, size);
    } catch (const doc::GifError &) {
        return 0;
    } catch (const std::bad_alloc &) {
        return 0;
    }
    try {
        doc::checkOpenable(data, size);
    } catch (const doc::GifError &) {
    }

    // Compose at most a few frames of a bounded screen: the point is memory safety, not time.
    const std::size_t screen = std::size_t(image.header.width) * image.header.height;
    if (screen > 0 && screen <= 1u << 20) {
        doc::FrameComposer composer(image);
        const int n = composer.count() < 8 ? composer.count() : 8;
        for (int i = 0; i < n; ++i)
            composer.ComposedFrame(i);
    }

    // What was read can be optimised and written again, or is refused with the writer's own error.
    // Rows of one value cost their codes, so what counts is what the frames hold.
    std::size_t held = 0;
    for (int i = 0; i < image.count(); ++i)
        if (const auto pixels = image.frame(i).pixelStore())
            held += pixels->heldBytes();
    if (held <= 16u << 20) {
        try {
            std::ostringstream out;
            image.SaveToStream(out);
        } catch (const doc::GifError &) {
        }
        try {
            std::ostringstream out;
            doc::optimizedCopy(image).SaveToStream(out);
        } catch (const doc::GifError &) {
        }
    }
    return 0;
}
