#include "open_document.h"

#include "composer.h"
#include "document_ops.h"
#include "gif_reader.h"

#include <chrono>
#include <stdexcept>

namespace doc {

bool hasGifExtension(const std::string &path)
{
    if (path.size() < 4)
        return false;
    std::string tail = path.substr(path.size() - 4);
    for (char &c : tail)
        c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return tail == ".gif";
}

TGIFImage openForEditing(const std::string &path, const TGIFImage::ProgressHandler &progress, double *readSeconds)
{
    if (!hasGifExtension(path))
        throw std::runtime_error("No reader for the file type of " + path);

    TGIFImage image;
    image.onProgress = progress;

    const auto t0 = std::chrono::steady_clock::now();
    const std::vector<uint8_t> bytes = readWholeFile(path);
    loadFromBytes(image, bytes.data(), bytes.size());
    const auto t1 = std::chrono::steady_clock::now();
    if (readSeconds)
        *readSeconds = std::chrono::duration<double>(t1 - t0).count();

    checkOpenable(bytes.data(), bytes.size());
    FlattenFrames(image);
    EnsureControlExtensions(image);
    return image;
}

} // namespace doc
