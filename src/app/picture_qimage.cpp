#include "picture_qimage.h"

#include <cstring>

namespace app {

QImage toQImage(const doc::Picture &picture)
{
    if (picture.isNull())
        return {};
    const int w = picture.width();
    const int h = picture.height();
    if (picture.isIndexed()) {
        QImage image(w, h, QImage::Format_Indexed8);
        QList<QRgb> table;
        table.reserve(int(picture.palette().size()));
        for (const doc::Rgb &c : picture.palette())
            table.append(qRgb(c.r, c.g, c.b));
        // Indices beyond the table would read garbage in Qt: pad the table to 256 entries.
        while (table.size() < 256)
            table.append(qRgb(0, 0, 0));
        image.setColorTable(table);
        for (int y = 0; y < h; ++y)
            std::memcpy(image.scanLine(y), picture.row(y), std::size_t(w));
        return image;
    }
    const bool alpha = picture.format() == doc::PixelFormat::Rgba32;
    QImage image(w, h, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    const int bpp = picture.bytesPerPixel();
    for (int y = 0; y < h; ++y) {
        const uint8_t *src = picture.row(y);
        auto *dst = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < w; ++x, src += bpp)
            dst[x] = alpha ? qRgba(src[0], src[1], src[2], src[3]) : qRgb(src[0], src[1], src[2]);
    }
    return image;
}

doc::Picture fromQImage(const QImage &source)
{
    if (source.isNull())
        return {};
    const int w = source.width();
    const int h = source.height();
    if (source.format() == QImage::Format_Indexed8 || source.format() == QImage::Format_Mono
        || source.format() == QImage::Format_MonoLSB) {
        const QImage image = source.convertToFormat(QImage::Format_Indexed8);
        const bool mono = source.format() != QImage::Format_Indexed8 && image.colorCount() <= 2;
        doc::Picture picture(w, h, mono ? doc::PixelFormat::Mono1 : doc::PixelFormat::Indexed8);
        for (QRgb c : image.colorTable())
            picture.palette().push_back({uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c))});
        for (int y = 0; y < h; ++y)
            std::memcpy(picture.row(y), image.constScanLine(y), std::size_t(w));
        return picture;
    }
    const bool alpha = source.hasAlphaChannel();
    const QImage image = source.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    doc::Picture picture(w, h, alpha ? doc::PixelFormat::Rgba32 : doc::PixelFormat::Rgb24);
    const int bpp = picture.bytesPerPixel();
    for (int y = 0; y < h; ++y) {
        const auto *src = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        uint8_t *dst = picture.row(y);
        for (int x = 0; x < w; ++x, dst += bpp) {
            dst[0] = uint8_t(qRed(src[x]));
            dst[1] = uint8_t(qGreen(src[x]));
            dst[2] = uint8_t(qBlue(src[x]));
            if (alpha)
                dst[3] = uint8_t(qAlpha(src[x]));
        }
    }
    return picture;
}

} // namespace app
