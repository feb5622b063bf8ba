// Feeds arbitrary bytes to the GIF reader, the open check and the frame composer.
#include "document/composer.h"
#include "document/gif_error.h"
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

    // What was read can be written again, or is refused with the writer's own error.
    std::size_t pixels = 0;
    for (int i = 0; i < image.count(); ++i)
        pixels += image.frame(i).pixels().size();
    if (pixels <= 4u << 20) {
        try {
            std::ostringstream out;
            image.SaveToStream(out);
        } catch (const doc::GifError &) {
        }
    }
    return 0;
}
