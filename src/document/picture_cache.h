#pragma once

#include "picture.h"

#include <cstddef>
#include <memory>

namespace doc {

/**
 * The picture a frame shows, as the frame holds it: either set (a filter's result, which is not
 * made from the indices and so is never dropped) or made from the indices, which the process-wide
 * cache of pictures drops, least recently used first, beyond its budget.
 */
class PictureCell
{
public:
    /** A picture made from the frame's indices: counted, and dropped when the budget needs room. */
    static std::shared_ptr<PictureCell> derived(Picture picture);
    /** A picture given to the frame: kept until the frame changes. */
    static std::shared_ptr<PictureCell> pinned(std::shared_ptr<const Picture> picture);

    /** The picture, or nullptr once the cache dropped it. Counts as a use. */
    std::shared_ptr<const Picture> picture();
    bool isPinned() const { return mPinned; }
    /** The picture of a pinned cell (it never changes), nullptr for a made one. */
    const Picture *pinnedPicture() const { return mPinned ? mPicture.get() : nullptr; }

    PictureCell(std::shared_ptr<const Picture> picture, bool pinned);
    ~PictureCell();

private:
    friend class PictureCache;
    std::shared_ptr<const Picture> mPicture;
    const bool mPinned;
};

/**
 * How many of the pictures used last are never dropped, whatever the budget: a caller may hold the
 * reference TGIFImage::picture gave while it asks for a few others (the four thumbnails and the
 * still view, an effect's two frames).
 */
inline constexpr int kPicturesAlwaysKept = 8;

/** The budget of pictures made from indices held at once (bytes); 64 MB unless set. */
void setPictureCacheBudget(std::size_t bytes);
std::size_t pictureCacheBudget();
/** Bytes of made pictures held now. */
std::size_t pictureCacheHeld();

} // namespace doc
