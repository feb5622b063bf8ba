#include "canvas.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace effects {

using doc::Picture;
using doc::PixelFormat;
using doc::Rgb;

Picture workingPicture(int width, int height, Rgb colour)
{
    Picture picture(std::max(width, 0), std::max(height, 0), PixelFormat::Rgb24);
    uint8_t *p = picture.data().data();
    const std::size_t pixels = picture.data().size() / 3;
    for (std::size_t i = 0; i < pixels; ++i, p += 3) {
        p[0] = colour.r;
        p[1] = colour.g;
        p[2] = colour.b;
    }
    return picture;
}

PixelWriter::PixelWriter(Picture &target)
    : mTarget(target)
{
}

void PixelWriter::writeRow(int x, int y, const uint8_t *rgb, int count)
{
    uint8_t *out = mTarget.row(y);
    switch (mTarget.format()) {
    case PixelFormat::Rgb24:
        std::memcpy(out + std::size_t(x) * 3, rgb, std::size_t(count) * 3);
        return;
    case PixelFormat::Rgba32:
        out += std::size_t(x) * 4;
        for (int i = 0; i < count; ++i, out += 4, rgb += 3) {
            out[0] = rgb[0];
            out[1] = rgb[1];
            out[2] = rgb[2];
            out[3] = 255;
        }
        return;
    case PixelFormat::Mono1:
    case PixelFormat::Indexed8:
        if (!mLookup)
            mLookup.emplace(mTarget.palette());
        out += x;
        for (int i = 0; i < count; ++i, rgb += 3)
            out[i] = mLookup->indexOf(rgb[0], rgb[1], rgb[2]);
        return;
    }
}

void PixelWriter::write(int x, int y, Rgb colour)
{
    const uint8_t rgb[3] = {colour.r, colour.g, colour.b};
    writeRow(x, y, rgb, 1);
}

void readRow(const Picture &source, int x, int y, int count, uint8_t *rgb)
{
    const uint8_t *in = source.row(y);
    switch (source.format()) {
    case PixelFormat::Rgb24:
        std::memcpy(rgb, in + std::size_t(x) * 3, std::size_t(count) * 3);
        return;
    case PixelFormat::Rgba32:
        in += std::size_t(x) * 4;
        for (int i = 0; i < count; ++i, in += 4, rgb += 3) {
            rgb[0] = in[0];
            rgb[1] = in[1];
            rgb[2] = in[2];
        }
        return;
    case PixelFormat::Mono1:
    case PixelFormat::Indexed8: {
        const std::vector<Rgb> &palette = source.palette();
        in += x;
        for (int i = 0; i < count; ++i, rgb += 3) {
            // An index outside the table reads as black, as Picture::pixel has it.
            const Rgb c = in[i] < palette.size() ? palette[in[i]] : Rgb{};
            rgb[0] = c.r;
            rgb[1] = c.g;
            rgb[2] = c.b;
        }
        return;
    }
    }
}

void draw(Picture &target, const Picture &source, int x, int y)
{
    if (target.isNull() || source.isNull())
        return;
    // Positions go far outside the target (scrolls start a whole picture away): clip in 64 bits.
    const long long x0 = std::max<long long>(x, 0), x1 = std::min<long long>((long long)x + source.width(), target.width());
    const long long y0 = std::max<long long>(y, 0), y1 = std::min<long long>((long long)y + source.height(), target.height());
    if (x0 >= x1 || y0 >= y1)
        return;
    const int count = int(x1 - x0);
    std::vector<uint8_t> rgb(std::size_t(count) * 3);
    PixelWriter writer(target);
    for (long long ty = y0; ty < y1; ++ty) {
        readRow(source, int(x0 - x), int(ty - y), count, rgb.data());
        writer.writeRow(int(x0), int(ty), rgb.data(), count);
    }
}

void stretchDraw(Picture &target, const Picture &source, int x, int y, int width, int height)
{
    if (target.isNull() || source.isNull() || width <= 0 || height <= 0)
        return;
    const long long x0 = std::max<long long>(x, 0), x1 = std::min<long long>((long long)x + width, target.width());
    const long long y0 = std::max<long long>(y, 0), y1 = std::min<long long>((long long)y + height, target.height());
    if (x0 >= x1 || y0 >= y1)
        return;

    // Source column of each target column: pixels are repeated or dropped, never blended.
    const int count = int(x1 - x0);
    std::vector<int> column(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        column[std::size_t(i)] = int((x0 + i - x) * source.width() / width);

    std::vector<uint8_t> sourceRow(std::size_t(source.width()) * 3);
    std::vector<uint8_t> rgb(std::size_t(count) * 3);
    PixelWriter writer(target);
    int loaded = -1;
    for (long long ty = y0; ty < y1; ++ty) {
        const int sy = int((ty - y) * source.height() / height);
        if (sy != loaded) {
            readRow(source, 0, sy, source.width(), sourceRow.data());
            uint8_t *o = rgb.data();
            for (int i = 0; i < count; ++i, o += 3)
                std::memcpy(o, sourceRow.data() + std::size_t(column[std::size_t(i)]) * 3, 3);
            loaded = sy;
        }
        writer.writeRow(int(x0), int(ty), rgb.data(), count);
    }
}

Picture piece(const Picture &source, int x, int y, int width, int height)
{
    Picture out = workingPicture(width, height);
    draw(out, source, -x, -y);
    return out;
}

} // namespace effects
