#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace testsupport {

/**
 * Writes GIF data block by block, well-formed or not, so a malformed case reads in a few lines:
 *
 *     GifBuilder g;
 *     g.header().screen(2, 2).image(2, 2).lzw(2, {4, 0, 1, 1}); // no end code, no terminator
 *
 * Nothing is checked or added behind the caller's back: what is asked for is what is written.
 */
class GifBuilder
{
public:
    /** The 6-byte signature and version, as given (e.g. "GIF90a", "gif89a"). */
    GifBuilder &header(const std::string &signature = "GIF89a");
    /** Logical screen descriptor; `packed` 0x80 | n announces a global table of 2^(n+1) colours. */
    GifBuilder &screen(uint16_t width, uint16_t height, uint8_t packed = 0, uint8_t background = 0,
                       uint8_t aspect = 0);
    /** `count` colours: entry i is (i, 255 - i, i * 7 mod 256). */
    GifBuilder &colorTable(int count);
    /** Graphic control extension with block size 4 and its terminator. */
    GifBuilder &graphicControl(uint8_t packed, uint16_t delay = 0, uint8_t transparentIndex = 0);
    /** "!" 0xFE, one sub-block per entry (each at most 255 bytes), terminator. */
    GifBuilder &comment(const std::vector<std::string> &subBlocks);
    /** "NETSCAPE2.0" looping extension with one loop sub-block and the terminator. */
    GifBuilder &loop(uint16_t count);
    /** Image descriptor: "," left top width height packed (0x80 | n: local table, 0x40: interlaced). */
    GifBuilder &image(uint16_t width, uint16_t height, uint8_t packed = 0, uint16_t left = 0,
                      uint16_t top = 0);
    /**
     * The minimum code size byte, then the codes packed LSB-first at the width a decoder expects
     * at each point, in sub-blocks of at most 255 bytes. No terminator: add it with end().
     */
    GifBuilder &lzw(int minCodeSize, const std::vector<int> &codes);
    /** Clear code, every index as a literal, end code; then the terminator. */
    GifBuilder &pixels(int minCodeSize, const std::vector<uint8_t> &indices);
    /** One data sub-block: its length byte, then the bytes. */
    GifBuilder &subBlock(const std::vector<uint8_t> &data);
    /** The zero-length sub-block that ends a list of sub-blocks. */
    GifBuilder &end();
    GifBuilder &trailer();
    GifBuilder &raw(std::initializer_list<uint8_t> bytes);
    GifBuilder &raw(const std::string &bytes);

    const std::vector<uint8_t> &bytes() const { return mBytes; }
    std::string str() const { return std::string(mBytes.begin(), mBytes.end()); }

private:
    void put16(uint16_t v);

    std::vector<uint8_t> mBytes;
};

/** A small valid two-frame file: looping, a comment, a transparent frame, an interlaced frame. */
std::vector<uint8_t> sampleAnimation();

} // namespace testsupport
