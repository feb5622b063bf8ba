#include "bmp_writer.h"

#include "atomic_file.h"
#include "gif_error.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <ostream>
#include <vector>

namespace doc {

namespace {

constexpr std::size_t fileHeaderSize = 14;
constexpr std::size_t infoHeaderSize = 40;

void put16(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void put32(uint8_t *p, uint32_t v)
{
    put16(p, v);
    put16(p + 2, v >> 16);
}

void requirePixels(const TGIFSubImage &f)
{
    if (!f.hasPixels() || f.pixels().size() < std::size_t(f.width) * f.height)
        throw GifError(GifErrorKind::InvalidDimensions);
}

} // namespace

std::string bmpFileName(const std::string &chosen)
{
    static constexpr char suffix[] = ".bmp";
    constexpr std::size_t n = sizeof(suffix) - 1;
    if (chosen.size() >= n) {
        const bool ends = std::equal(chosen.end() - n, chosen.end(), suffix, [](char a, char b) {
            return (a >= 'A' && a <= 'Z' ? char(a - 'A' + 'a') : a) == b;
        });
        if (ends)
            return chosen;
    }
    return chosen + suffix;
}

void writeFrameBmp(const TGIFImage &image, int frame, std::ostream &out)
{
    const TGIFSubImage &f = image.frame(frame);
    requirePixels(f);
    const std::size_t w = f.width;
    const std::size_t h = f.height;
    const std::vector<uint8_t> &pixels = f.pixels();

    // The editor shows an index past the end of the table as black; the bitmap gets black entries
    // up to the highest index used, so no reader meets an index outside its colour table.
    const TGIFColorMap &map = f.colorMap().empty() ? image.header.colorMap : f.colorMap();
    const uint8_t highest = *std::max_element(pixels.begin(), pixels.begin() + std::ptrdiff_t(w * h));
    const std::size_t colours = std::max<std::size_t>(map.entries.size(), std::size_t(highest) + 1);

    const std::size_t stride = (w + 3) & ~std::size_t(3);
    const std::size_t offset = fileHeaderSize + infoHeaderSize + 4 * colours;
    // At most 65535 rows of 65536 bytes plus the headers: below 2^32, so the size field holds it.
    const std::size_t fileSize = offset + stride * h;

    std::vector<uint8_t> head(offset, 0);
    uint8_t *p = head.data();
    p[0] = 'B';
    p[1] = 'M';
    put32(p + 2, uint32_t(fileSize));
    put32(p + 10, uint32_t(offset));
    p += fileHeaderSize;
    put32(p, uint32_t(infoHeaderSize));
    put32(p + 4, uint32_t(w));
    put32(p + 8, uint32_t(h)); // positive height: rows stored bottom-up
    put16(p + 12, 1);          // planes
    put16(p + 14, 8);          // bits per pixel
    put32(p + 16, 0);          // BI_RGB
    put32(p + 20, uint32_t(stride * h));
    put32(p + 24, 2835); // 72 dpi, as pixels per metre
    put32(p + 28, 2835);
    put32(p + 32, uint32_t(colours));
    put32(p + 36, 0);
    p += infoHeaderSize;
    for (std::size_t i = 0; i < map.entries.size(); ++i, p += 4) {
        const Rgb c = map.entries[i];
        p[0] = c.b;
        p[1] = c.g;
        p[2] = c.r;
    }
    out.write(reinterpret_cast<const char *>(head.data()), std::streamsize(head.size()));

    std::vector<uint8_t> row(stride, 0);
    for (std::size_t y = h; y-- > 0;) {
        std::copy_n(pixels.data() + y * w, w, row.data());
        out.write(reinterpret_cast<const char *>(row.data()), std::streamsize(stride));
    }
}

void saveFrameAsBmp(const TGIFImage &image, int frame, const std::string &path)
{
    // Checked before the temporary file is made, so a refused frame leaves nothing behind.
    requirePixels(image.frame(frame));
    writeFileAtomically(path, [&](std::ostream &out) { writeFrameBmp(image, frame, out); });
}

} // namespace doc
