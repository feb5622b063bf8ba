#include "open_document.h"

#include "composer.h"
#include "document_ops.h"
#include "gif_reader.h"

#include <chrono>
#include <memory>
#include <stdexcept>

namespace doc {

namespace {

bool hasLoopExtension(const TGIFSubImage &frame)
{
    for (int e = 0; e < frame.extensionCount(); ++e)
        if (frame.extension(e)->kind() == ExtensionKind::Loop)
            return true;
    return false;
}

/**
 * The reader gives records that no image follows (a comment or an application extension after
 * the last image, say) a frame of their own without pixels. Open shows exactly the file's images,
 * so such records join a frame with an image instead, where a save keeps them: records before an
 * image join it ahead of its own (the file's order); records after the last image join that image
 * after its own. A graphic control extension among them governs no image and is dropped: written
 * before an image it would override that image's own. A looping extension that would not land on
 * the first frame goes to the head of the first frame, where the editor and viewers look for it,
 * unless that frame already has one.
 */
void joinFramesWithoutImage(TGIFImage &image)
{
    // Records of frames without image, by the image they join: before[r] ahead of image r's
    // own records, after the last image's own ones.
    std::vector<std::vector<std::unique_ptr<TGIFExtension>>> before;
    std::vector<std::unique_ptr<TGIFExtension>> pending;
    for (int i = 0; i < image.count(); ++i) {
        const TGIFSubImage &frame = image.frame(i);
        if (frame.hasPixels()) {
            before.push_back(std::move(pending));
            pending.clear();
            continue;
        }
        for (int e = 0; e < frame.extensionCount(); ++e)
            if (frame.extension(e)->kind() != ExtensionKind::GraphicControl)
                pending.push_back(frame.extension(e)->clone());
    }
    for (int i = image.count(); i-- > 0;)
        if (!image.frame(i).hasPixels())
            image.deleteFrame(i);
    if (image.empty())
        return; // no image at all: the records have no frame to live on

    std::unique_ptr<TGIFExtension> loop;
    auto divertLoop = [&](std::unique_ptr<TGIFExtension> &x, int target) {
        if (target == 0 || x->kind() != ExtensionKind::Loop)
            return false;
        if (!loop)
            loop = std::move(x);
        return true;
    };
    for (int r = 0; r < image.count(); ++r) {
        int at = 0;
        for (auto &x : before[std::size_t(r)])
            if (!divertLoop(x, r))
                image.frame(r).insertExtension(at++, std::move(x));
    }
    const int last = image.count() - 1;
    for (auto &x : pending)
        if (!divertLoop(x, last))
            image.frame(last).appendExtension(std::move(x));
    if (loop && !hasLoopExtension(image.frame(0)))
        image.frame(0).insertExtension(0, std::move(loop));
}

} // namespace

bool hasGifExtension(const std::string &path)
{
    if (path.size() < 4)
        return false;
    std::string tail = path.substr(path.size() - 4);
    for (char &c : tail)
        c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return tail == ".gif";
}

TGIFImage openForEditing(const std::string &path, const TGIFImage::ProgressHandler &progress, double *readSeconds,
                         std::vector<std::string> *warnings)
{
    if (!hasGifExtension(path))
        throw std::runtime_error("No reader for the file type of " + path);

    TGIFImage image;
    image.onProgress = progress;
    if (warnings)
        image.onWarning = [warnings](const std::string &w) { warnings->push_back(w); };

    const auto t0 = std::chrono::steady_clock::now();
    // Mapped, and given back as it is read: a long file is never resident as a whole.
    MappedFile file(path);
    loadFromBytes(image, file.data(), file.size(), [&file](std::size_t upTo) { file.release(upTo); });
    image.onWarning = nullptr;
    const auto t1 = std::chrono::steady_clock::now();
    if (readSeconds)
        *readSeconds = std::chrono::duration<double>(t1 - t0).count();

    checkOpenable(file.data(), file.size(), [&file](std::size_t upTo) { file.release(upTo); });
    file.release(file.size());
    joinFramesWithoutImage(image);
    FlattenFrames(image);
    EnsureControlExtensions(image);
    return image;
}

} // namespace doc
