#include "printing.h"

#include <QImage>
#include <QPainter>
#include <QPrinter>

#include <stdexcept>

namespace app {

PrintSize printGeometry(int pictureWidth, int pictureHeight, int pageWidth, int pageHeight)
{
    // Without pixels the ratio is undefined: nothing is drawn.
    if (pictureWidth <= 0 || pictureHeight <= 0)
        return {};

    // Single precision throughout, as the sizes have always been computed, so the truncated
    // results stay the same to the pixel.
    float w = float(pictureWidth);
    float h = float(pictureHeight);
    const float r = w / h;
    const float pw = float(pageWidth);
    const float ph = float(pageHeight);

    if (pw > w && ph > h) {
        if (w >= h) {
            w = pw;
            h = w / r;
        } else {
            h = ph;
            w = h * r;
        }
    }
    if (w > pw) {
        w = pw;
        h = w / r;
    }
    if (h > ph) {
        h = ph;
        w = h * r;
    }
    return {int(w), int(h)};
}

void printPicture(QPrinter &printer, const QImage &picture)
{
    // The painter ends the job on every way out, a failed drawing included.
    QPainter painter;
    if (!painter.begin(&printer))
        throw std::runtime_error("Cannot start the print job");

    const QRect area = printer.pageRect(QPrinter::DevicePixel).toAlignedRect();
    const PrintSize size = printGeometry(picture.width(), picture.height(), area.width(), area.height());
    if (size.width > 0 && size.height > 0) {
        // The painter's origin is the printable area's corner unless the printer paints the whole
        // sheet.
        const QPoint origin = printer.fullPage() ? area.topLeft() : QPoint();
        painter.drawImage(QRect(origin, QSize(size.width, size.height)), picture);
    }
    painter.end();
}

} // namespace app
