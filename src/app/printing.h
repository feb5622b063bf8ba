#pragma once

class QImage;
class QPrinter;

namespace app {

/** Where a printed picture goes: the rectangle (0, 0)-(width, height) of the printable area. */
struct PrintSize {
    int width = 0;
    int height = 0;
    friend bool operator==(const PrintSize &, const PrintSize &) = default;
};

/**
 * The printed size of a pictureWidth × pictureHeight picture on a page whose printable area is
 * pageWidth × pageHeight device pixels. A small picture is enlarged to the page width (wider than
 * high, or square) or height (higher than wide); a large one is reduced until it fits; the ratio is
 * kept and the result truncated toward zero. A picture without pixels gets 0 × 0.
 */
PrintSize printGeometry(int pictureWidth, int pictureHeight, int pageWidth, int pageHeight);

/**
 * Prints `picture` on one page of `printer`, stretched to printGeometry at the top-left corner of
 * the printable area. A picture without pixels draws nothing; the job is opened and closed all the
 * same. Throws std::runtime_error when the print job cannot be opened.
 */
void printPicture(QPrinter &printer, const QImage &picture);

} // namespace app
