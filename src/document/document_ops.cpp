#include "document_ops.h"

#include "gif_error.h"
#include "quantize.h"

#include <algorithm>
#include <optional>

namespace doc {

namespace {

uint16_t storedDelay(long long delay)
{
    // Delays are 16-bit: larger values keep their low 16 bits, as the file would.
    return uint16_t(static_cast<unsigned long long>(delay) & 0xFFFF);
}

TGIFSubImage &appendPicture(TGIFImage &document, Picture picture, long long delay)
{
    if (picture.isNull())
        throw GifError(GifErrorKind::InvalidDimensions);
    if (picture.width() > 0xFFFF || picture.height() > 0xFFFF)
        throw GifError(GifErrorKind::TooLarge);
    if (!picture.isIndexed()) {
        picture = ReduceBitmapColors(picture, toReductionMode(document.reduction), DitherMode::NearestColor, 8);
    }

    TGIFSubImage frame;
    frame.left = 0;
    frame.top = 0;
    frame.width = uint16_t(picture.width());
    frame.height = uint16_t(picture.height());
    frame.interlaced = true;

    TGIFColorMap table;
    table.entries = picture.palette();
    if (table.entries.size() > 256)
        table.entries.resize(256);
    if (table.entries.empty())
        table.entries.push_back(Rgb{});

    // The index of the transparent colour is the last table entry of that colour.
    const Rgb transparent = transparentColor(picture);
    uint8_t transparentIndex = 0;
    for (std::size_t i = table.entries.size(); i-- > 0;) {
        if (table.entries[i] == transparent) {
            transparentIndex = uint8_t(i);
            break;
        }
    }

    frame.setColorMap(std::move(table));
    frame.setPixels(std::move(picture.data()));

    TGIFGraphicControlExtension *gce = frame.addGraphicControl();
    gce->transparentIndex = transparentIndex;
    gce->delay = storedDelay(delay);
    gce->setDisposal(2);

    TGIFSubImage &added = document.appendFrame(std::move(frame));
    document.header.width = std::max<uint16_t>(document.header.width, uint16_t(added.left + added.width));
    document.header.height = std::max<uint16_t>(document.header.height, uint16_t(added.top + added.height));
    return added;
}

} // namespace

TGIFSubImage &AddImage(TGIFImage &document, Picture picture, long long delay)
{
    if (picture.isNull())
        throw GifError(GifErrorKind::InvalidDimensions);
    Picture reduced = ReduceBitmapColors(picture, ReductionMode::OctreeQuantize, DitherMode::NearestColor, 8);
    return appendPicture(document, std::move(reduced), delay);
}

TGIFSubImage &InsertImage(TGIFImage &document, Picture picture, long long delay, int position)
{
    appendPicture(document, std::move(picture), delay);
    const int index = document.count() - 1;
    if (position < index) {
        document.move(index, std::max(position, 0));
        return document.frame(std::max(position, 0));
    }
    return document.frame(index);
}

std::string NextIndex(int entryCount)
{
    const int k = entryCount + 1;
    if (k < 10)
        return "00" + std::to_string(k);
    if (k < 100)
        return "0" + std::to_string(k);
    return std::to_string(k);
}

TGIFAppExtNSLoop *LoopExtension(TGIFImage *document)
{
    if (!document || document->empty())
        return nullptr;
    TGIFSubImage &first = document->frame(0);
    if (first.extensionCount() == 0 || first.extension(0)->kind() != ExtensionKind::Loop)
        first.insertExtension(0, std::make_unique<TGIFAppExtNSLoop>());
    return extension_cast<TGIFAppExtNSLoop>(first.extension(0));
}

int CommentIndex(TGIFImage &document)
{
    TGIFSubImage &first = document.frame(0);
    for (int i = 0; i < first.extensionCount(); ++i)
        if (first.extension(i)->kind() == ExtensionKind::Comment)
            return i;
    first.appendExtension(std::make_unique<TGIFCommentExtension>());
    return first.extensionCount() - 1;
}

void EnsureControlExtensions(TGIFImage &document)
{
    for (int i = 0; i < document.count(); ++i) {
        TGIFSubImage &f = document.frame(i);
        if (!f.graphicControl())
            f.addGraphicControl();
    }
}

bool makeTransparentAt(TGIFImage &document, int i, int x, int y)
{
    TGIFSubImage &frame = document.frame(i);
    const auto pixels = frame.pixelStore();
    if (!pixels || x < 0 || y < 0 || x >= pixels->width() || y >= pixels->height())
        return false;
    TGIFGraphicControlExtension *gce = frame.graphicControl() ? frame.graphicControl() : frame.addGraphicControl();
    gce->transparentIndex = pixels->at(x, y);
    gce->setTransparent(true);
    frame.invalidatePicture(); // its mask follows the index
    return true;
}

} // namespace doc

namespace doc {

std::vector<std::string> commentLines(const TGIFImage &document)
{
    std::vector<std::string> lines;
    if (document.empty())
        return lines;
    const TGIFSubImage &first = document.frame(0);
    for (int i = 0; i < first.extensionCount(); ++i)
        if (const auto *c = extension_cast<TGIFCommentExtension>(first.extension(i)))
            lines.insert(lines.end(), c->lines.begin(), c->lines.end());
    return lines;
}

void storeCommentLines(TGIFImage &document, std::vector<std::string> lines)
{
    if (document.empty())
        return; // the comment lives in the first frame: without frames there is nowhere to keep it
    const int index = CommentIndex(document);
    extension_cast<TGIFCommentExtension>(document.frame(0).extension(index))->lines = std::move(lines);
}

std::vector<std::string> splitLines(const std::string &text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

std::string joinLines(const std::vector<std::string> &lines)
{
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i)
            text += '\n';
        text += lines[i];
    }
    return text;
}

namespace {

/**
 * Length of the UTF-8 sequence starting at s[i] when it is complete and valid (no overlong form,
 * no surrogate, nothing above U+10FFFF), else 0. `code` receives its character.
 */
std::size_t utf8Sequence(const std::string &s, std::size_t i, char32_t &code)
{
    const auto byte = [&](std::size_t k) { return uint8_t(s[k]); };
    const uint8_t b0 = byte(i);
    std::size_t n;
    char32_t min;
    if (b0 < 0x80) {
        code = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        n = 2, min = 0x80, code = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 3, min = 0x800, code = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 4, min = 0x10000, code = b0 & 0x07;
    } else {
        return 0;
    }
    if (s.size() - i < n)
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return n;
}

/** Whether the whole text is valid UTF-8; `beyondAscii` tells whether it holds more than ASCII. */
bool validUtf8(const std::string &s, bool *beyondAscii = nullptr)
{
    bool wide = false;
    for (std::size_t i = 0; i < s.size();) {
        char32_t code;
        const std::size_t n = utf8Sequence(s, i, code);
        if (n == 0)
            return false;
        wide |= n > 1;
        i += n;
    }
    if (beyondAscii)
        *beyondAscii = wide;
    return true;
}

std::string latin1ToUtf8(const std::string &s)
{
    std::string out;
    out.reserve(s.size());
    for (const char c : s) {
        const uint8_t b = uint8_t(c);
        if (b < 0x80) {
            out += c;
        } else {
            out += char(0xC0 | (b >> 6));
            out += char(0x80 | (b & 0x3F));
        }
    }
    return out;
}

/** The text in Latin-1, or nullopt when a character does not fit. The text must be valid UTF-8. */
std::optional<std::string> utf8ToLatin1(const std::string &s)
{
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        char32_t code;
        i += utf8Sequence(s, i, code);
        if (code > 0xFF)
            return std::nullopt;
        out += char(code);
    }
    return out;
}

} // namespace

bool commentIsUtf8(const std::vector<std::string> &lines)
{
    // Judged on the bytes end to end: a writer may cut a character between two sub-blocks.
    std::string all;
    for (const std::string &line : lines)
        all += line;
    bool beyondAscii = false;
    return validUtf8(all, &beyondAscii) && beyondAscii;
}

std::vector<std::string> commentToUtf8(const std::vector<std::string> &lines)
{
    std::vector<std::string> out;
    out.reserve(lines.size());
    if (!commentIsUtf8(lines)) {
        for (const std::string &line : lines)
            out.push_back(latin1ToUtf8(line));
        return out;
    }
    std::string carry;
    for (const std::string &line : lines) {
        std::string text = carry + line;
        // Bytes of a character the next line completes move on to it.
        std::size_t whole = 0;
        for (char32_t code; whole < text.size();) {
            const std::size_t n = utf8Sequence(text, whole, code);
            if (n == 0)
                break;
            whole += n;
        }
        carry = text.substr(whole);
        text.resize(whole);
        out.push_back(std::move(text));
    }
    return out;
}

std::vector<std::string> commentFromUtf8(const std::vector<std::string> &lines, bool keepUtf8)
{
    for (const std::string &line : lines)
        if (!validUtf8(line))
            return lines;
    if (keepUtf8)
        return lines;
    std::vector<std::string> out;
    out.reserve(lines.size());
    for (const std::string &line : lines) {
        std::optional<std::string> latin1 = utf8ToLatin1(line);
        if (!latin1)
            return lines; // a character beyond Latin-1: the whole comment stays UTF-8
        out.push_back(std::move(*latin1));
    }
    return out;
}

std::string commentText(const TGIFImage &document)
{
    return joinLines(commentToUtf8(commentLines(document)));
}

void storeCommentText(TGIFImage &document, const std::string &text)
{
    const bool wasUtf8 = commentIsUtf8(commentLines(document));
    storeCommentLines(document, commentFromUtf8(splitLines(text), wasUtf8));
}

} // namespace doc
