#include "gif_image.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace doc {

int TGIFColorMap::bitSize() const
{
    if (entries.empty())
        return 0;
    int b = 1;
    while ((std::size_t(1) << b) < entries.size())
        ++b;
    return b;
}

// --- TGIFSubImage ------------------------------------------------------------------------------

TGIFSubImage::TGIFSubImage(const TGIFSubImage &other)
    : left(other.left)
    , top(other.top)
    , width(other.width)
    , height(other.height)
    , interlaced(other.interlaced)
    , mColorMap(other.mColorMap)
    , mPixels(other.mPixels)
    , mPicture(other.mPicture)
    , mMask(other.mMask)
{
    mExtensions.reserve(other.mExtensions.size());
    for (const auto &e : other.mExtensions) {
        mExtensions.push_back(e->clone());
        if (e.get() == other.mGraphicControl)
            mGraphicControl = static_cast<TGIFGraphicControlExtension *>(mExtensions.back().get());
    }
}

TGIFSubImage &TGIFSubImage::operator=(const TGIFSubImage &other)
{
    if (this != &other) {
        TGIFSubImage copy(other);
        *this = std::move(copy);
    }
    return *this;
}

TGIFColorMap &TGIFSubImage::mutableColorMap()
{
    invalidatePicture();
    return mColorMap;
}

void TGIFSubImage::setColorMap(TGIFColorMap map)
{
    invalidatePicture();
    mColorMap = std::move(map);
}

std::vector<uint8_t> &TGIFSubImage::mutablePixels()
{
    invalidatePicture();
    return mPixels;
}

void TGIFSubImage::setPixels(std::vector<uint8_t> pixels)
{
    invalidatePicture();
    mPixels = std::move(pixels);
}

TGIFExtension *TGIFSubImage::appendExtension(std::unique_ptr<TGIFExtension> e)
{
    return insertExtension(extensionCount(), std::move(e));
}

TGIFExtension *TGIFSubImage::insertExtension(int position, std::unique_ptr<TGIFExtension> e)
{
    position = std::clamp(position, 0, extensionCount());
    auto it = mExtensions.insert(mExtensions.begin() + position, std::move(e));
    return it->get();
}

void TGIFSubImage::removeExtension(int i)
{
    if (mExtensions[std::size_t(i)].get() == mGraphicControl)
        mGraphicControl = nullptr;
    mExtensions.erase(mExtensions.begin() + i);
}

void TGIFSubImage::clearExtensions()
{
    mExtensions.clear();
    mGraphicControl = nullptr;
}

TGIFGraphicControlExtension *TGIFSubImage::addGraphicControl()
{
    auto *gce = static_cast<TGIFGraphicControlExtension *>(
        appendExtension(std::make_unique<TGIFGraphicControlExtension>()));
    if (!mGraphicControl)
        mGraphicControl = gce;
    return gce;
}

void TGIFSubImage::invalidatePicture() const
{
    mPicture.reset();
    mMask.reset();
}

void TGIFSubImage::setPicture(Picture picture)
{
    mPicture = std::make_shared<const Picture>(std::move(picture));
}

// --- TGIFImage ---------------------------------------------------------------------------------

TGIFImage::TGIFImage(const TGIFImage &other)
    : header(other.header)
    , transparentDrawing(other.transparentDrawing)
    , reduction(other.reduction)
    , onProgress(other.onProgress)
    , onWarning(other.onWarning)
{
    mFrames.reserve(other.mFrames.size());
    for (const auto &f : other.mFrames)
        mFrames.push_back(std::make_unique<TGIFSubImage>(*f));
}

TGIFImage &TGIFImage::operator=(const TGIFImage &other)
{
    if (this != &other) {
        TGIFImage copy(other);
        *this = std::move(copy);
    }
    return *this;
}

TGIFSubImage &TGIFImage::appendFrame(TGIFSubImage frame)
{
    mFrames.push_back(std::make_unique<TGIFSubImage>(std::move(frame)));
    return *mFrames.back();
}

void TGIFImage::deleteFrame(int i)
{
    mFrames.erase(mFrames.begin() + i);
}

void TGIFImage::exchange(int i, int j)
{
    std::swap(mFrames[std::size_t(i)], mFrames[std::size_t(j)]);
}

void TGIFImage::move(int from, int to)
{
    if (from == to)
        return;
    auto f = std::move(mFrames[std::size_t(from)]);
    mFrames.erase(mFrames.begin() + from);
    mFrames.insert(mFrames.begin() + to, std::move(f));
}

void TGIFImage::clear()
{
    mFrames.clear();
    header = TGIFHeader{};
}

const Picture &TGIFImage::picture(int i) const
{
    const TGIFSubImage &f = frame(i);
    if (!f.mPicture) {
        const TGIFColorMap &table = f.mColorMap.empty() ? header.colorMap : f.mColorMap;
        Picture p(f.hasPixels() ? f.width : 0, f.hasPixels() ? f.height : 0, PixelFormat::Indexed8);
        if (!p.isNull())
            std::memcpy(p.data().data(), f.mPixels.data(), p.data().size());
        p.palette() = table.entries;
        f.mPicture = std::make_shared<const Picture>(std::move(p));
    }
    return *f.mPicture;
}

const std::vector<uint8_t> &TGIFImage::mask(int i) const
{
    static const std::vector<uint8_t> none;
    const TGIFSubImage &f = frame(i);
    if (!f.transparent() || !f.hasPixels())
        return none;
    if (!f.mMask) {
        const int w = f.width;
        const int h = f.height;
        const int stride = maskStride(w);
        const uint8_t t = f.mGraphicControl->transparentIndex;
        std::vector<uint8_t> m(std::size_t(stride) * std::size_t(h), 0);
        for (int y = 0; y < h; ++y) {
            const uint8_t *src = f.mPixels.data() + std::size_t(y) * w;
            uint8_t *dst = m.data() + std::size_t(y) * stride;
            for (int x = 0; x < w; ++x)
                if (src[x] == t)
                    dst[x >> 3] |= uint8_t(0x80 >> (x & 7));
        }
        f.mMask = std::make_shared<const std::vector<uint8_t>>(std::move(m));
    }
    return *f.mMask;
}

} // namespace doc
