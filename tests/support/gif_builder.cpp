#include "support/gif_builder.h"

#include <algorithm>

namespace testsupport {

GifBuilder &GifBuilder::header(const std::string &signature)
{
    return raw(signature);
}

GifBuilder &GifBuilder::screen(uint16_t width, uint16_t height, uint8_t packed, uint8_t background,
                               uint8_t aspect)
{
    put16(width);
    put16(height);
    return raw({packed, background, aspect});
}

GifBuilder &GifBuilder::colorTable(int count)
{
    for (int i = 0; i < count; ++i)
        raw({uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)});
    return *this;
}

GifBuilder &GifBuilder::graphicControl(uint8_t packed, uint16_t delay, uint8_t transparentIndex)
{
    raw({0x21, 0xF9, 4, packed});
    put16(delay);
    return raw({transparentIndex, 0});
}

GifBuilder &GifBuilder::comment(const std::vector<std::string> &subBlocks)
{
    raw({0x21, 0xFE});
    for (const std::string &s : subBlocks)
        subBlock(std::vector<uint8_t>(s.begin(), s.end()));
    return end();
}

GifBuilder &GifBuilder::loop(uint16_t count)
{
    raw({0x21, 0xFF, 11});
    raw("NETSCAPE2.0");
    return subBlock({1, uint8_t(count & 0xFF), uint8_t(count >> 8)}).end();
}

GifBuilder &GifBuilder::image(uint16_t width, uint16_t height, uint8_t packed, uint16_t left, uint16_t top)
{
    raw({0x2C});
    put16(left);
    put16(top);
    put16(width);
    put16(height);
    return raw({packed});
}

GifBuilder &GifBuilder::lzw(int minCodeSize, const std::vector<int> &codes)
{
    mBytes.push_back(uint8_t(minCodeSize));
    // Track the decoder's code width: it grows when the next free code reaches 2^width.
    const int clearCode = 1 << minCodeSize;
    int width = minCodeSize + 1;
    int freeCode = clearCode + 2;
    bool havePrev = false;
    std::vector<uint8_t> packed;
    uint32_t acc = 0;
    int bits = 0;
    for (int code : codes) {
        acc |= uint32_t(code) << bits;
        bits += width;
        while (bits >= 8) {
            packed.push_back(uint8_t(acc));
            acc >>= 8;
            bits -= 8;
        }
        if (code == clearCode) {
            width = minCodeSize + 1;
            freeCode = clearCode + 2;
            havePrev = false;
        } else if (code != clearCode + 1) {
            if (havePrev && freeCode < 4096) {
                ++freeCode;
                if (freeCode >= (1 << width) && width < 12)
                    ++width;
            }
            havePrev = true;
        }
    }
    if (bits > 0)
        packed.push_back(uint8_t(acc));
    for (std::size_t i = 0; i < packed.size(); i += 255) {
        const std::size_t n = std::min<std::size_t>(255, packed.size() - i);
        subBlock(std::vector<uint8_t>(packed.begin() + long(i), packed.begin() + long(i + n)));
    }
    return *this;
}

GifBuilder &GifBuilder::pixels(int minCodeSize, const std::vector<uint8_t> &indices)
{
    std::vector<int> codes{1 << minCodeSize};
    codes.insert(codes.end(), indices.begin(), indices.end());
    codes.push_back((1 << minCodeSize) + 1);
    return lzw(minCodeSize, codes).end();
}

GifBuilder &GifBuilder::subBlock(const std::vector<uint8_t> &data)
{
    mBytes.push_back(uint8_t(data.size()));
    mBytes.insert(mBytes.end(), data.begin(), data.end());
    return *this;
}

GifBuilder &GifBuilder::end()
{
    return raw({0});
}

GifBuilder &GifBuilder::trailer()
{
    return raw({0x3B});
}

GifBuilder &GifBuilder::raw(std::initializer_list<uint8_t> bytes)
{
    mBytes.insert(mBytes.end(), bytes.begin(), bytes.end());
    return *this;
}

GifBuilder &GifBuilder::raw(const std::string &bytes)
{
    mBytes.insert(mBytes.end(), bytes.begin(), bytes.end());
    return *this;
}

void GifBuilder::put16(uint16_t v)
{
    mBytes.push_back(uint8_t(v & 0xFF));
    mBytes.push_back(uint8_t(v >> 8));
}

std::vector<uint8_t> sampleAnimation()
{
    GifBuilder g;
    g.header().screen(4, 3, 0x80 | 1).colorTable(4);
    g.loop(0).comment({"made by hand"});
    g.graphicControl(0x04 | 1, 10, 3).image(4, 3).pixels(2, {0, 1, 2, 3, 3, 2, 1, 0, 3, 3, 0, 0});
    g.graphicControl(0x08, 20).image(2, 3, 0x80 | 0x40 | 0, 1, 0).colorTable(2).pixels(2, {0, 1, 1, 1, 0, 0});
    return g.trailer().bytes();
}

} // namespace testsupport
