#include "picture_cache.h"

#include <atomic>
#include <list>
#include <mutex>
#include <unordered_map>

namespace doc {

namespace {

std::size_t bytesOf(const Picture &p)
{
    return p.data().size() + p.palette().size() * sizeof(Rgb);
}

} // namespace

/** The made pictures, least recently used first, found by cell. */
class PictureCache
{
public:
    static PictureCache &instance()
    {
        // Never destroyed: cells held by objects that outlive it still come to forget().
        static PictureCache *cache = new PictureCache;
        return *cache;
    }

    std::shared_ptr<const Picture> use(PictureCell &cell)
    {
        std::shared_ptr<const Picture> picture;
        std::vector<std::shared_ptr<const Picture>> dropped; // freed outside the lock
        std::lock_guard lock(mMutex);
        picture = cell.mPicture;
        if (!picture || cell.mPinned)
            return picture;
        if (const auto found = mIndex.find(&cell); found != mIndex.end()) {
            mEntries.splice(mEntries.end(), mEntries, found->second);
        } else {
            mEntries.push_back({&cell, bytesOf(*picture)});
            mIndex.emplace(&cell, std::prev(mEntries.end()));
            mHeld += mEntries.back().bytes;
        }
        while (mHeld > mBudget.load() && mEntries.size() > std::size_t(kPicturesAlwaysKept)) {
            Entry &e = mEntries.front();
            mHeld -= e.bytes;
            dropped.push_back(std::move(e.cell->mPicture));
            mIndex.erase(e.cell);
            mEntries.pop_front();
        }
        return picture;
    }

    void forget(const PictureCell *cell)
    {
        std::lock_guard lock(mMutex);
        if (const auto found = mIndex.find(cell); found != mIndex.end()) {
            mHeld -= found->second->bytes;
            mEntries.erase(found->second);
            mIndex.erase(found);
        }
    }

    std::size_t held()
    {
        std::lock_guard lock(mMutex);
        return mHeld;
    }

    std::atomic<std::size_t> mBudget{std::size_t(64) << 20};

private:
    struct Entry {
        PictureCell *cell = nullptr;
        std::size_t bytes = 0;
    };
    std::mutex mMutex;
    std::list<Entry> mEntries;
    std::unordered_map<const PictureCell *, std::list<Entry>::iterator> mIndex;
    std::size_t mHeld = 0;
};

PictureCell::PictureCell(std::shared_ptr<const Picture> picture, bool pinned)
    : mPicture(std::move(picture))
    , mPinned(pinned)
{}

PictureCell::~PictureCell()
{
    if (!mPinned)
        PictureCache::instance().forget(this);
}

std::shared_ptr<PictureCell> PictureCell::derived(Picture picture)
{
    return std::make_shared<PictureCell>(std::make_shared<const Picture>(std::move(picture)), false);
}

std::shared_ptr<PictureCell> PictureCell::pinned(std::shared_ptr<const Picture> picture)
{
    return std::make_shared<PictureCell>(std::move(picture), true);
}

std::shared_ptr<const Picture> PictureCell::picture()
{
    return PictureCache::instance().use(*this);
}

void setPictureCacheBudget(std::size_t bytes)
{
    PictureCache::instance().mBudget = bytes;
}

std::size_t pictureCacheBudget()
{
    return PictureCache::instance().mBudget;
}

std::size_t pictureCacheHeld()
{
    return PictureCache::instance().held();
}

} // namespace doc
