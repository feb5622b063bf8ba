// A GIF file imported as a picture: its first frame, through our own reader.

#include "decoders.h"

#include "document/gif_error.h"
#include "document/gif_reader.h"

#include <new>

namespace doc::formats {

Picture decodeGif(std::span<const uint8_t> bytes)
{
    TGIFImage image;
    try {
        loadFromBytes(image, bytes.data(), bytes.size());
    } catch (const GifError &e) {
        fail(e.kind() == GifErrorKind::TooLarge || e.kind() == GifErrorKind::OutOfMemory ? ImportErrorKind::TooLarge
                                                                                            : ImportErrorKind::Corrupt,
             std::string("GIF: ") + e.what());
    } catch (const std::bad_alloc &) {
        fail(ImportErrorKind::TooLarge, "GIF: not enough memory");
    }
    for (int i = 0; i < image.count(); ++i) {
        const TGIFSubImage &frame = image.frame(i);
        if (!frame.hasPixels())
            continue;
        checkPictureSize(frame.width, frame.height, "GIF");
        Picture pic = image.picture(i);
        if (pic.palette().empty())
            corrupt("GIF: the first frame has no colour table");
        if (frame.transparent()) {
            const std::size_t t = frame.graphicControl()->transparentIndex;
            if (t < pic.palette().size())
                pic.setDesignatedTransparentColor(pic.palette()[t]);
        }
        return pic;
    }
    corrupt("GIF: the file holds no picture");
}

} // namespace doc::formats
