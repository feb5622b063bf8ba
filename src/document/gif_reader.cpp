#include "gif_reader.h"

#include "gif_error.h"
#include "frame_store.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <istream>
#include <stdexcept>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace doc {

namespace {

constexpr char kLoading[] = "Loading...";
constexpr int kTableSize = 4096;
constexpr int kMaxCodeWidth = 12;
// The LZW bit reader loads 8 bytes at a time; this many zero bytes follow the gathered data.
constexpr std::size_t kBitReaderPadding = 8;
// The decode buffer starts at this many pixels and grows fourfold while the data go on.
constexpr std::size_t kFirstDecodeBuffer = std::size_t(1) << 20;

constexpr char kWarnPrematureEnd[] = "Premature end of data";
constexpr char kWarnUnderrun[] = "Decoder bit buffer under-run";
constexpr char kWarnUnknownBlock[] = "Unknown GIF block type";
constexpr char kWarnIntroducer[] = "Invalid extension introducer";
constexpr char kWarnScreenSize[] = "Image exceeds Logical Screen size";
constexpr char kWarnTrailer[] = "Invalid Image trailer";

uint16_t le16(const uint8_t *p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

char upper(uint8_t c)
{
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : char(c);
}

bool equalsNoCase(const uint8_t *p, const char *text)
{
    for (; *text; ++p, ++text)
        if (upper(*p) != upper(uint8_t(*text)))
            return false;
    return true;
}

std::size_t colorTableBytes(uint8_t packed)
{
    return std::size_t(3) << ((packed & 7) + 1);
}

/** The rows of a frame in file order: top-down, or the four interlace passes (0, 8 ...; 4, 12 ...; 2, 6 ...; 1, 3 ...). */
std::vector<int> rowOrder(int height, bool interlaced)
{
    std::vector<int> order;
    order.reserve(std::size_t(height));
    if (!interlaced) {
        for (int y = 0; y < height; ++y)
            order.push_back(y);
        return order;
    }
    static constexpr int passStart[4] = {0, 4, 2, 1};
    static constexpr int passStep[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int y = passStart[pass]; y < height; y += passStep[pass])
            order.push_back(y);
    return order;
}

/** The most pixels `srcLen` bytes of LZW data can produce: n codes give at most 1 + 2 + ... + n. */
std::size_t lzwOutputBound(std::size_t srcLen, int minCodeSize)
{
    const uint64_t codes = uint64_t(srcLen) * 8 / uint64_t(minCodeSize + 1) + 1;
    if (codes >= (uint64_t(1) << 31))
        return SIZE_MAX;
    return std::size_t(std::min(codes * (codes + 1) / 2, codes * kTableSize));
}

/** Why decoding a frame stopped. */
enum class LzwStop { Filled, EndCode, Underrun };

/**
 * Decodes GIF LZW codes from `src` (its `srcLen` bytes followed by kBitReaderPadding readable
 * bytes) into `count` pixels in code order. Stops at the end code, when every pixel is set, or when
 * the codes run out, and says which. Pixels not reached keep their value, which must be `fill` on
 * entry.
 *
 * Every string in the table is a run of pixels already written: the string of a new entry is the
 * previous code's string followed by one more pixel, which is exactly where the previous code's
 * output lies. So an entry is a (start, length) pair pointing into the output, and writing a code is a
 * forward copy instead of a walk down a prefix chain.
 */
LzwStop decodeLzw(const uint8_t *src, std::size_t srcLen, int minCodeSize, uint8_t *pixels, std::size_t count,
               uint8_t fill, std::size_t &reached)
{
    // Literals read from this table, so that every code is the same copy and the loop does not
    // branch on the kind of code. Padded for the 8-byte steps; values above 255 (minimum code
    // sizes 9 to 11) cannot be an 8-bit index and keep their low byte.
    static const auto literals = [] {
        std::array<uint8_t, kTableSize / 2 + 8> bytes{};
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = uint8_t(i);
        return bytes;
    }();
    const uint8_t *start[kTableSize];
    uint16_t length[kTableSize];

    const int clearCode = 1 << minCodeSize;
    const int endCode = clearCode + 1;
    for (int i = 0; i < clearCode; ++i) {
        start[i] = literals.data() + i;
        length[i] = 1;
    }
    int width = minCodeSize + 1;
    int freeCode = clearCode + 2;
    bool havePrev = false;
    std::size_t prevPos = 0;
    unsigned prevLen = 0;
    uint64_t bitPos = 0;
    const uint64_t bitEnd = uint64_t(srcLen) * 8;
    std::size_t pos = 0;
    LzwStop stop = LzwStop::EndCode;

    for (;;) {
        if (bitPos + uint64_t(width) > bitEnd) {
            stop = LzwStop::Underrun;
            break;
        }
        uint64_t bits;
        std::memcpy(&bits, src + (bitPos >> 3), sizeof bits);
        const int code = int((bits >> (bitPos & 7)) & ((uint64_t(1) << width) - 1));
        bitPos += uint64_t(width);

        if (code == clearCode) {
            width = minCodeSize + 1;
            freeCode = clearCode + 2;
            havePrev = false;
            continue;
        }
        if (code == endCode)
            break;

        if (!havePrev) {
            // After a clear only literals are defined.
            if (code > endCode)
                throw GifError(GifErrorKind::CircularTable);
        } else if (freeCode < kTableSize) {
            if (code > freeCode)
                throw GifError(GifErrorKind::CircularTable);
            // Also right for code == freeCode: that string is prev's plus its own first pixel,
            // which the copy below writes first.
            start[freeCode] = pixels + prevPos;
            length[freeCode] = uint16_t(prevLen + 1);
            ++freeCode;
            if (freeCode >= (1 << width) && width < kMaxCodeWidth)
                ++width;
        }
        // A full table keeps decoding with the entries it has until the next clear code.
        havePrev = true;
        prevPos = pos;

        prevLen = length[code];
        const std::size_t len = std::min<std::size_t>(prevLen, count - pos);
        uint8_t *d = pixels + pos;
        const uint8_t *s = start[code];
        // Unsigned distance: a literal's source lies outside the frame, so it never overlaps.
        if (uintptr_t(d) - uintptr_t(s) >= 8 && count - pos >= len + 8) {
            // Whole 8-byte steps never read bytes this copy writes; the overshoot past `len`
            // lands on pixels not decoded yet (restored below if decoding stops here).
            for (std::size_t i = 0; i < len; i += 8)
                std::memcpy(d + i, s + i, 8);
        } else {
            for (std::size_t i = 0; i < len; ++i)
                d[i] = s[i];
        }
        pos += len;
        if (pos == count) {
            reached = pos;
            return LzwStop::Filled;
        }
    }
    std::fill(pixels + pos, pixels + std::min(count, pos + 8), fill);
    reached = pos;
    return stop;
}

} // namespace

FramePixels decodeFramePixels(const uint8_t *src, std::size_t srcLen, const CompressedPixels &codes, bool *underrun,
                              const std::function<void(std::size_t)> &reserve)
{
    const int w = codes.width;
    const int h = codes.height;
    const std::size_t count = std::size_t(w) * std::size_t(h);
    const uint8_t fill = codes.fill;
    const int minCodeSize = codes.minCodeSize;
    if (count == 0)
        return FramePixels();

    // Decode into no more pixels than the data can produce, and into a buffer that grows with
    // what is decoded (decoding again from the start each time it fills): a huge frame whose
    // data end early costs what was decoded, the rest being rows of the fill value.
    const std::size_t limit = std::min(count, lzwOutputBound(srcLen, minCodeSize));
    std::size_t capacity = std::min(limit, kFirstDecodeBuffer);
    std::vector<uint8_t> decoded;
    std::size_t reached = 0;
    LzwStop stop;
    for (;;) {
        if (reserve)
            reserve(capacity);
        decoded.assign(capacity, fill);
        stop = decodeLzw(src, srcLen, minCodeSize, decoded.data(), capacity, fill, reached);
        if (stop != LzwStop::Filled || capacity == limit)
            break;
        capacity = std::min(limit, capacity * 4);
    }
    if (underrun)
        *underrun = stop == LzwStop::Underrun || (stop == LzwStop::Filled && limit < count);

    const std::size_t rowsReached = (reached + std::size_t(w) - 1) / std::size_t(w);
    if (rowsReached == std::size_t(h) && !codes.interlaced) {
        decoded.resize(count, fill);
        return FramePixels(w, h, std::move(decoded));
    }
    if (rowsReached == std::size_t(h)) {
        if (reserve)
            reserve(count);
        decoded.resize(count, fill);
        std::vector<uint8_t> pixels(count);
        const std::vector<int> order = rowOrder(h, true);
        for (int i = 0; i < h; ++i)
            std::memcpy(pixels.data() + std::size_t(order[std::size_t(i)]) * w, decoded.data() + std::size_t(i) * w,
                        std::size_t(w));
        return FramePixels(w, h, std::move(pixels));
    }
    FramePixels::Builder rows(w, h, fill);
    const std::vector<int> order = rowOrder(h, codes.interlaced);
    for (std::size_t i = 0; i < rowsReached; ++i) {
        const std::size_t from = i * std::size_t(w);
        const std::size_t n = std::min<std::size_t>(std::size_t(w), decoded.size() - from);
        std::memcpy(rows.row(order[i]), decoded.data() + from, n);
    }
    return rows.finish();
}

namespace {

/** One read of GIF data into a header and frames that the caller commits when it succeeds. */
class Reader
{
public:
    Reader(const TGIFImage &sink, const uint8_t *data, std::size_t size)
        : mSink(sink)
        , mData(data)
        , mSize(size)
    {}

    TGIFHeader header;
    std::vector<TGIFSubImage> frames;
    /** Told, after each frame, that the data before this position will not be read again. */
    std::function<void(std::size_t)> consumed;

    /** Reads everything; returns how many bytes were used. */
    std::size_t read()
    {
        readSignature();
        const uint8_t *screen = need(7);
        header.width = le16(screen);
        header.height = le16(screen + 2);
        header.packed = screen[4];
        header.background = screen[5];
        header.aspect = screen[6];
        if (header.packed & 0x80)
            readColorMap(header.packed, 0x08, header.colorMap);

        skipZeros();
        while (!atEnd() && peek() != ';') {
            const int b = peek();
            if (b != '!' && b != ',') {
                warn(kWarnUnknownBlock);
                break;
            }
            readFrame();
            mSink.progress(ProgressStage::Running, kLoading, percent());
            if (consumed)
                consumed(mPos);
            skipZeros();
        }
        if (!atEnd()) {
            if (peek() != ';')
                warn(kWarnTrailer);
            else
                ++mPos;
        }
        return mPos;
    }

private:
    bool atEnd() const { return mPos >= mSize; }
    std::size_t left() const { return mSize - mPos; }
    int peek() const { return atEnd() ? -1 : mData[mPos]; }
    int percent() const { return mSize ? int(uint64_t(mPos) * 100 / mSize) : 100; }
    void warn(const char *text) const { mSink.warning(text); }

    /** n bytes of a field the format requires; an error when the data is shorter. */
    const uint8_t *need(std::size_t n)
    {
        if (left() < n)
            throw GifError(GifErrorKind::PrematureEnd);
        const uint8_t *p = mData + mPos;
        mPos += n;
        return p;
    }

    void skipZeros()
    {
        while (!atEnd() && mData[mPos] == 0)
            ++mPos;
    }

    void readSignature()
    {
        const uint8_t *sig = need(6);
        if (!equalsNoCase(sig, "GIF")) {
            // Some files carry 4 bytes of their own before the GIF data.
            mPos = 4;
            sig = need(6);
            if (!equalsNoCase(sig, "GIF"))
                throw GifError(GifErrorKind::InvalidSignature);
        }
        std::copy(sig + 3, sig + 6, header.version.begin());
    }

    /** The table announced by a packed byte; the sort flag is bit 3 on the screen, bit 5 on an image. */
    void readColorMap(uint8_t packed, uint8_t sortedFlag, TGIFColorMap &map)
    {
        const std::size_t bytes = colorTableBytes(packed);
        const uint8_t *p = need(bytes);
        map.entries.resize(bytes / 3);
        for (Rgb &c : map.entries) {
            c = {p[0], p[1], p[2]};
            p += 3;
        }
        map.sorted = packed & sortedFlag;
    }

    /**
     * The next data sub-block, or false at the terminator or when the data has ended. A sub-block
     * longer than the data left is cut to what is there, with a warning.
     */
    bool nextSubBlock(const uint8_t *&p, std::size_t &n)
    {
        if (atEnd())
            return false;
        n = mData[mPos++];
        if (n == 0)
            return false;
        if (n > left()) {
            warn(kWarnPrematureEnd);
            n = left();
        }
        p = mData + mPos;
        mPos += n;
        return n > 0;
    }

    /** Data sub-blocks as text lines, each cut at its first zero byte. */
    void readLines(std::vector<std::string> &lines)
    {
        const uint8_t *p;
        std::size_t n;
        while (nextSubBlock(p, n)) {
            const auto *zero = static_cast<const uint8_t *>(std::memchr(p, 0, n));
            lines.emplace_back(reinterpret_cast<const char *>(p), zero ? std::size_t(zero - p) : n);
        }
    }

    void readFrame()
    {
        TGIFSubImage frame;
        bool transparent = false;
        while (peek() == '!') {
            ++mPos;
            readExtension(frame, transparent);
            const int b = peek();
            if (b >= 0 && b != '!' && b != ',' && b != ';') {
                warn(kWarnIntroducer);
                break;
            }
        }
        const int b = peek();
        if (b >= 0 && b != ';' && b != 0)
            readImage(frame, transparent);
        frames.push_back(std::move(frame));
    }

    void readExtension(TGIFSubImage &frame, bool &transparent)
    {
        const uint8_t label = *need(1);
        switch (label) {
        case 0xF9: {
            // Taken as it stands: block size, packed byte, delay, index, terminator.
            uint8_t f[6] = {};
            const std::size_t n = std::min<std::size_t>(left(), 6);
            std::memcpy(f, mData + mPos, n);
            mPos += n;
            if (n < 6)
                warn(kWarnPrematureEnd);
            auto gce = std::make_unique<TGIFGraphicControlExtension>();
            gce->blockSize = f[0];
            gce->packed = f[1];
            gce->delay = le16(f + 2);
            gce->transparentIndex = f[4];
            if (gce->transparent())
                transparent = true;
            auto *added = static_cast<TGIFGraphicControlExtension *>(frame.appendExtension(std::move(gce)));
            if (!frame.graphicControl())
                frame.setGraphicControl(added);
            break;
        }
        case 0xFE: {
            auto comment = std::make_unique<TGIFCommentExtension>();
            readLines(comment->lines);
            frame.appendExtension(std::move(comment));
            break;
        }
        case 0x01: {
            auto text = std::make_unique<TGIFTextExtension>();
            const uint8_t *h = need(text->header.size());
            std::copy(h, h + text->header.size(), text->header.begin());
            readLines(text->lines);
            frame.appendExtension(std::move(text));
            break;
        }
        case 0xFF:
            readApplication(frame);
            break;
        default:
            throw GifError(GifErrorKind::UnknownExtension);
        }
    }

    void readApplication(TGIFSubImage &frame)
    {
        const uint8_t blockSize = *need(1);
        // Above 11 the layout is unknown; it is refused like a size below 10.
        if (blockSize < 10 || blockSize > 11)
            throw GifError(GifErrorKind::BadAppExtensionSize);
        const uint8_t *id = need(blockSize);
        std::string identifier(reinterpret_cast<const char *>(id), blockSize);
        const uint8_t *p;
        std::size_t n;
        if (identifier == "NETSCAPE2.0" || identifier == "ANIMEXTS1.0") {
            auto loop = std::make_unique<TGIFAppExtNSLoop>();
            loop->identifier = std::move(identifier);
            while (nextSubBlock(p, n)) {
                switch (p[0] & 7) {
                case 1:
                    if (n < 3)
                        throw GifError(GifErrorKind::InvalidData);
                    loop->loops = le16(p + 1);
                    break;
                case 2:
                    if (n < 5)
                        throw GifError(GifErrorKind::InvalidData);
                    loop->bufferSize = uint32_t(p[1]) | uint32_t(p[2]) << 8 | uint32_t(p[3]) << 16
                                       | uint32_t(p[4]) << 24;
                    break;
                default:
                    break;
                }
            }
            frame.appendExtension(std::move(loop));
        } else {
            auto app = std::make_unique<TGIFUnknownAppExtension>();
            app->identifier = std::move(identifier);
            while (nextSubBlock(p, n))
                app->subBlocks.emplace_back(p, p + n);
            frame.appendExtension(std::move(app));
        }
    }

    void readImage(TGIFSubImage &frame, bool transparent)
    {
        const uint8_t *d = need(10);
        frame.left = le16(d + 1);
        frame.top = le16(d + 3);
        frame.width = le16(d + 5);
        frame.height = le16(d + 7);
        const uint8_t packed = d[9];
        if (frame.width == 0 || frame.height == 0) {
            frame.width = header.width;
            frame.height = header.height;
            warn(kWarnScreenSize);
        }
        frame.interlaced = packed & 0x40;
        if (packed & 0x80) {
            TGIFColorMap map;
            readColorMap(packed, 0x20, map);
            frame.setColorMap(std::move(map));
        }

        const int w = frame.width;
        const int h = frame.height;
        const std::size_t count = std::size_t(w) * h;
        // A frame of this many pixels is refused whatever its data: such a size is what a few
        // corrupt bytes announce.
        if (count > kGifPixelBudget)
            throw GifError(GifErrorKind::TooLarge);
        const uint8_t fill = transparent ? frame.graphicControl()->transparentIndex : 0;

        if (atEnd()) {
            if (count > 0)
                warn(kWarnUnderrun);
            frame.setPixelStore(FramePixels::uniform(w, h, fill));
            return;
        }
        const int minCodeSize = mData[mPos++];
        gatherSubBlocks();
        if (count == 0)
            return;
        // Its clear code would lie outside the 4096-entry table: such data cannot be decoded.
        if (minCodeSize > kMaxCodeWidth - 1)
            throw GifError(GifErrorKind::BadCodeSize);

        CompressedPixels codes;
        codes.width = w;
        codes.height = h;
        codes.minCodeSize = minCodeSize;
        codes.interlaced = frame.interlaced;
        codes.fill = fill;
        bool underrun = false;
        FramePixels rows = decodeFramePixels(mLzw.data(), mLzw.size() - kBitReaderPadding, codes, &underrun,
                                             [](std::size_t bytes) { reserveWithin(bytes); });
        if (underrun)
            warn(kWarnUnderrun);
        // A large frame keeps the file's codes rather than its rows (unless the codes are much the
        // larger, as junk after the image's end makes them): codes beyond their budget go to the
        // spill file, so a long animation is read in bounded memory, and the rows come back
        // through the frame cache when they are needed.
        if (rows.heldBytes() >= kCachedFrameMinimum && mLzw.size() < 2 * rows.heldBytes()) {
            // A copy of the exact size: the gathering buffer grew by doubling, and is used again.
            codes.codes.assign(mLzw.begin(), mLzw.end());
            frame.setPixelCodes(std::move(codes));
        } else {
            frame.setPixelStore(std::move(rows));
        }
    }

    /** Refuses, before it is allocated, a frame buffer beyond the per-frame budget. */
    static void reserveWithin(std::size_t bytes)
    {
        if (bytes > kGifPixelBudget)
            throw GifError(GifErrorKind::TooLarge);
    }

    /** The frame's data sub-blocks, up to the terminator, as one run of bytes plus padding. */
    void gatherSubBlocks()
    {
        mLzw.clear();
        const uint8_t *p;
        std::size_t n;
        while (nextSubBlock(p, n))
            mLzw.insert(mLzw.end(), p, p + n);
        mLzw.insert(mLzw.end(), kBitReaderPadding, 0);
    }

    const TGIFImage &mSink;
    const uint8_t *mData;
    std::size_t mSize;
    std::size_t mPos = 0;
    std::vector<uint8_t> mLzw;
};

/** Reads into `image` as a whole or not at all; returns the bytes used. */
std::size_t load(TGIFImage &image, const uint8_t *data, std::size_t size,
                 const std::function<void(std::size_t)> &consumed = {})
{
    const ProgressScope scope(image, kLoading);

    Reader reader(image, data, size);
    reader.consumed = consumed;
    const std::size_t used = reader.read();
    image.clear();
    image.header = std::move(reader.header);
    for (TGIFSubImage &frame : reader.frames)
        image.appendFrame(std::move(frame));
    return used;
}

} // namespace

void loadFromBytes(TGIFImage &image, const uint8_t *data, std::size_t size,
                   const std::function<void(std::size_t)> &consumed)
{
    load(image, data, size, consumed);
}

std::vector<uint8_t> readWholeFile(const std::string &path)
{
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        throw std::runtime_error(path + ": is a folder, not a file");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error(path + ": " + std::strerror(errno));
    std::vector<uint8_t> bytes;
    in.seekg(0, std::ios::end);
    const auto end = in.tellg();
    in.seekg(0, std::ios::beg);
    if (end > 0)
        bytes.reserve(std::size_t(end));
    char chunk[1 << 16];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0)
        bytes.insert(bytes.end(), chunk, chunk + in.gcount());
    if (in.bad())
        throw std::runtime_error(path + ": read failed");
    return bytes;
}

MappedFile::MappedFile(const std::string &path)
{
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        throw std::runtime_error(path + ": is a folder, not a file");
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error(path + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0) {
        void *p = ::mmap(nullptr, std::size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (p != MAP_FAILED) {
            mData = static_cast<const uint8_t *>(p);
            mSize = std::size_t(st.st_size);
        }
    }
    ::close(fd);
    // Not mappable (a pipe, say): read as a whole.
    if (!mData) {
        mCopy = readWholeFile(path);
        mData = mCopy.data();
        mSize = mCopy.size();
    }
}

MappedFile::~MappedFile()
{
    if (mCopy.empty() && mData)
        ::munmap(const_cast<uint8_t *>(mData), mSize);
}

void MappedFile::release(std::size_t upTo)
{
    if (!mCopy.empty() || !mData)
        return;
    const std::size_t page = std::size_t(::sysconf(_SC_PAGESIZE));
    const std::size_t end = std::min(upTo, mSize) / page * page;
    // Only the pages passed since the last call: advising the whole prefix each frame would cost
    // the length of the file, every frame.
    if (end < mReleased)
        mReleased = 0;
    if (end > mReleased)
        ::madvise(const_cast<uint8_t *>(mData) + mReleased, end - mReleased, MADV_DONTNEED);
    mReleased = end;
}

void loadFromFile(TGIFImage &image, const std::string &path)
{
    MappedFile file(path);
    load(image, file.data(), file.size(), [&file](std::size_t upTo) { file.release(upTo); });
}

void TGIFImage::LoadFromStream(std::istream &stream)
{
    const std::istream::pos_type start = stream.tellg();
    std::vector<uint8_t> bytes;
    char chunk[1 << 16];
    while (stream.read(chunk, sizeof chunk) || stream.gcount() > 0)
        bytes.insert(bytes.end(), chunk, chunk + stream.gcount());
    std::size_t used = 0;
    try {
        used = load(*this, bytes.data(), bytes.size());
    } catch (...) {
        stream.clear();
        if (start != std::istream::pos_type(-1))
            stream.seekg(start);
        throw;
    }
    // Leave the stream just after the GIF data, as a reader that consumed only what it needed.
    stream.clear();
    if (start != std::istream::pos_type(-1))
        stream.seekg(start + std::streamoff(used));
}

void checkOpenable(const uint8_t *data, std::size_t size, const std::function<void(std::size_t)> &consumed)
{
    if (size < 6 || !equalsNoCase(data, "GIF")
        || !(equalsNoCase(data + 3, "87a") || equalsNoCase(data + 3, "89a")))
        throw GifError(GifErrorKind::UnknownVersion);

    std::size_t pos = 6;
    auto skipSubBlocks = [&] {
        while (pos < size) {
            const uint8_t n = data[pos++];
            if (n == 0)
                return;
            pos += n;
        }
    };
    if (size - pos < 7)
        return;
    const uint8_t screenPacked = data[pos + 4];
    pos += 7;
    if (screenPacked & 0x80)
        pos += colorTableBytes(screenPacked);

    while (pos < size) {
        const uint8_t b = data[pos++];
        if (b == 0)
            continue;
        if (b == '!') {
            if (pos >= size)
                return;
            const uint8_t label = data[pos++];
            if (label != 0x01 && label != 0xF9 && label != 0xFE && label != 0xFF) {
                char text[64];
                std::snprintf(text, sizeof text, "Unrecognized extension block: %.2x", label);
                throw GifError(GifErrorKind::UnrecognizedExtension, text);
            }
            skipSubBlocks();
        } else if (b == ',') {
            if (size - pos < 9)
                return;
            const uint8_t packed = data[pos + 8];
            pos += 9;
            if (packed & 0x80)
                pos += colorTableBytes(packed);
            ++pos; // minimum code size
            skipSubBlocks();
            // Walking a long file touches all of it: what is behind can be given back.
            if (consumed)
                consumed(pos);
        } else {
            // The trailer, or a block the reader itself judges.
            return;
        }
    }
}

} // namespace doc
