#include "document_ops.h"

#include "gif_error.h"
#include "quantize.h"

#include <algorithm>

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

} // namespace doc
