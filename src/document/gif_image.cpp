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
    , mSlot(other.mSlot)
    , mDense(other.mDense)
    , mDenseOwned(other.mDenseOwned)
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

const std::vector<uint8_t> &TGIFSubImage::pixels() const
{
    static const std::vector<uint8_t> none;
    if (!mDense) {
        if (!mSlot)
            return none;
        mDense = mSlot->rows()->toIndices();
    }
    return *mDense;
}

std::vector<uint8_t> &TGIFSubImage::mutablePixels()
{
    invalidatePicture();
    pixels();
    // The slot goes first: when it alone shared the vector, the vector is changed in place and
    // references taken from pixels() stay valid.
    mSlot.reset();
    if (!mDense)
        mDense = std::make_shared<const std::vector<uint8_t>>();
    else if (mDense.use_count() > 1)
        mDense = std::make_shared<const std::vector<uint8_t>>(*mDense);
    mDenseOwned = true;
    return const_cast<std::vector<uint8_t> &>(*mDense);
}

void TGIFSubImage::setPixels(std::vector<uint8_t> pixels)
{
    invalidatePicture();
    mSlot.reset();
    mDense = std::make_shared<const std::vector<uint8_t>>(std::move(pixels));
    mDenseOwned = true;
}

bool TGIFSubImage::hasPixels() const
{
    if (width == 0 || height == 0)
        return false;
    return mDenseOwned ? !mDense->empty() : (mSlot && mSlot->width() > 0 && mSlot->height() > 0);
}

std::shared_ptr<const FramePixels> TGIFSubImage::pixelStore() const
{
    return pixelStore(false);
}

std::shared_ptr<const FramePixels> TGIFSubImage::passPixelStore() const
{
    return pixelStore(true);
}

std::shared_ptr<const FramePixels> TGIFSubImage::pixelStore(bool pass) const
{
    if (width == 0 || height == 0)
        return nullptr;
    if (!mDenseOwned && mSlot && mSlot->width() == width && mSlot->height() == height)
        return pass ? mSlot->passRows() : mSlot->rows();
    // Made from the flat indices (shared, not copied), or the rectangle changed under the slot.
    const std::vector<uint8_t> &flat = pixels();
    if (flat.size() < std::size_t(width) * height)
        return nullptr;
    auto store = std::make_shared<const FramePixels>(width, height, mDense);
    return store;
}

bool TGIFSubImage::pixelsCoverFrame() const
{
    if (width == 0 || height == 0)
        return false;
    if (!mDenseOwned && mSlot && mSlot->width() == width && mSlot->height() == height)
        return true;
    return pixels().size() >= std::size_t(width) * height;
}

PixelSource TGIFSubImage::pixelSource() const
{
    PixelSource source;
    if (width == 0 || height == 0)
        return source;
    if (!mDenseOwned && mSlot && mSlot->width() == width && mSlot->height() == height) {
        source.mSlot = mSlot;
        return source;
    }
    const std::size_t rows = std::min<std::size_t>(height, pixels().size() / width);
    if (rows > 0)
        source.mRows = std::make_shared<const FramePixels>(width, int(rows), mDense);
    return source;
}

std::shared_ptr<const CompressedPixels> TGIFSubImage::pixelCodes() const
{
    return !mDenseOwned && mSlot ? mSlot->codes() : nullptr;
}

void TGIFSubImage::setPixelStore(FramePixels pixels)
{
    invalidatePicture();
    width = uint16_t(pixels.width());
    height = uint16_t(pixels.height());
    mSlot = PixelSlot::fromRows(std::move(pixels));
    mDense.reset();
    mDenseOwned = false;
}

void TGIFSubImage::setPixelSlot(std::shared_ptr<PixelSlot> slot)
{
    invalidatePicture();
    width = uint16_t(slot->width());
    height = uint16_t(slot->height());
    mSlot = std::move(slot);
    mDense.reset();
    mDenseOwned = false;
}

void TGIFSubImage::setPixelCodes(CompressedPixels codes)
{
    invalidatePicture();
    width = uint16_t(codes.width);
    height = uint16_t(codes.height);
    mSlot = PixelSlot::fromCodes(std::move(codes));
    mDense.reset();
    mDenseOwned = false;
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
    mPicture = PictureCell::pinned(std::make_shared<const Picture>(std::move(picture)));
}

void TGIFSubImage::dropDecoded() const
{
    if (!mDenseOwned)
        mDense.reset();
    if (mPicture && !mPicture->isPinned())
        mPicture.reset();
    mMask.reset();
}

std::size_t TGIFSubImage::heldBytes() const
{
    std::size_t bytes = 0;
    if (mDenseOwned && mDense)
        bytes += mDense->size();
    else if (mSlot && !mSlot->spilled()) {
        const auto codes = mSlot->codes();
        bytes += codes ? codes->codes.size() : std::size_t(mSlot->width()) * std::size_t(mSlot->height());
    }
    if (const Picture *own = ownPicture())
        bytes += own->data().size();
    return bytes;
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
    std::shared_ptr<const Picture> held = f.mPicture ? f.mPicture->picture() : nullptr;
    if (!held) {
        const TGIFColorMap &table = f.mColorMap.empty() ? header.colorMap : f.mColorMap;
        Picture p(f.hasPixels() ? f.width : 0, f.hasPixels() ? f.height : 0, PixelFormat::Indexed8);
        if (!p.isNull()) {
            // From the rows when the frame has them, so that no flat copy of the indices stays behind.
            if (const auto rows = f.pixelStore(); rows && f.mDense == nullptr) {
                for (int y = 0; y < f.height; ++y) {
                    if (const uint8_t *r = rows->row(y))
                        std::memcpy(p.row(y), r, f.width);
                    else
                        std::memset(p.row(y), rows->rowValue(y), f.width);
                }
            } else {
                const std::vector<uint8_t> &indices = f.pixels();
                std::memcpy(p.data().data(), indices.data(), std::min(indices.size(), p.data().size()));
            }
        }
        p.palette() = table.entries;
        f.mPicture = PictureCell::derived(std::move(p));
        held = f.mPicture->picture();
    }
    // The cell holds it as long as the reference is meant to last.
    return *held;
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
        const auto rows = f.pixelStore();
        for (int y = 0; rows && y < h; ++y) {
            const uint8_t *src = rows->row(y);
            uint8_t *dst = m.data() + std::size_t(y) * stride;
            if (!src) {
                if (rows->rowValue(y) == t)
                    for (int x = 0; x < w; ++x)
                        dst[x >> 3] |= uint8_t(0x80 >> (x & 7));
                continue;
            }
            for (int x = 0; x < w; ++x)
                if (src[x] == t)
                    dst[x >> 3] |= uint8_t(0x80 >> (x & 7));
        }
        f.mMask = std::make_shared<const std::vector<uint8_t>>(std::move(m));
    }
    return *f.mMask;
}

} // namespace doc
