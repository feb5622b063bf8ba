#include "frame_store.h"

#include "gif_reader.h"
#include "gif_writer.h"

#include <atomic>
#include <list>

namespace doc {

namespace {

/**
 * The decoded rows of large slots, least recently used first. A slot's entry is found through its
 * iterator; dead slots are skipped and dropped as they are met.
 */
class FrameCache
{
public:
    static FrameCache &instance()
    {
        static FrameCache cache;
        return cache;
    }

    /** Records that `slot` holds `bytes` of rows now and was just used; releases others beyond the budget. */
    void touch(const std::shared_ptr<PixelSlot> &slot, std::size_t bytes)
    {
        std::vector<std::shared_ptr<PixelSlot>> victims;
        {
            std::lock_guard lock(mMutex);
            for (auto it = mEntries.begin(); it != mEntries.end(); ++it)
                if (it->slot.lock() == slot) {
                    mHeld -= it->bytes;
                    mEntries.erase(it);
                    break;
                }
            mEntries.push_back({slot, bytes});
            mHeld += bytes;
            // The slot just used stays: its caller is about to read it.
            while (mHeld > mBudget.load() && mEntries.size() > 1) {
                Entry e = mEntries.front();
                mEntries.pop_front();
                mHeld -= e.bytes;
                if (auto victim = e.slot.lock())
                    victims.push_back(std::move(victim));
            }
        }
        // Outside the lock: releasing may compress, which takes a while.
        for (auto &v : victims)
            v->release();
    }

    std::atomic<std::size_t> mBudget{std::size_t(512) << 20};

    std::size_t held()
    {
        std::lock_guard lock(mMutex);
        return mHeld;
    }

private:
    struct Entry {
        std::weak_ptr<PixelSlot> slot;
        std::size_t bytes = 0;
    };
    std::mutex mMutex;
    std::list<Entry> mEntries;
    std::size_t mHeld = 0;
};

} // namespace

PixelSlot::PixelSlot(int width, int height)
    : mWidth(width)
    , mHeight(height)
{}

std::shared_ptr<PixelSlot> PixelSlot::fromRows(FramePixels rows)
{
    auto slot = std::make_shared<PixelSlot>(rows.width(), rows.height());
    const std::size_t bytes = rows.heldBytes();
    slot->mRows = std::make_shared<const FramePixels>(std::move(rows));
    if (bytes >= kCachedFrameMinimum)
        FrameCache::instance().touch(slot, bytes);
    return slot;
}

std::shared_ptr<PixelSlot> PixelSlot::fromCodes(CompressedPixels codes)
{
    auto slot = std::make_shared<PixelSlot>(codes.width, codes.height);
    slot->mCodes = std::make_shared<const CompressedPixels>(std::move(codes));
    return slot;
}

std::shared_ptr<const FramePixels> PixelSlot::rows()
{
    std::shared_ptr<const FramePixels> rows;
    std::shared_ptr<const CompressedPixels> codes;
    {
        std::lock_guard lock(mMutex);
        rows = mRows;
        codes = mCodes;
    }
    if (!rows) {
        auto decoded = std::make_shared<const FramePixels>(decodeFramePixels(codes->codes.data(), codes->codeBytes(), *codes));
        std::lock_guard lock(mMutex);
        if (!mRows)
            mRows = std::move(decoded);
        rows = mRows;
    }
    if (rows->heldBytes() >= kCachedFrameMinimum)
        FrameCache::instance().touch(shared_from_this(), rows->heldBytes());
    return rows;
}

std::shared_ptr<const CompressedPixels> PixelSlot::codes() const
{
    std::lock_guard lock(mMutex);
    return mCodes;
}

void PixelSlot::release()
{
    std::shared_ptr<const FramePixels> rows;
    {
        std::lock_guard lock(mMutex);
        if (!mRows)
            return;
        if (mCodes) {
            mRows.reset();
            return;
        }
        rows = mRows;
    }
    CompressedPixels c;
    c.width = mWidth;
    c.height = mHeight;
    c.minCodeSize = 8;
    c.ours = true;
    c.highest = rows->highest();
    // The smallest code size that holds every index, as the writer would choose for a table of
    // that many entries.
    while (c.minCodeSize > 2 && c.highest < (1u << (c.minCodeSize - 1)))
        --c.minCodeSize;
    c.codes = encodeLzwCodes(*rows, c.minCodeSize);
    c.codes.insert(c.codes.end(), 8, 0);
    std::lock_guard lock(mMutex);
    mCodes = std::make_shared<const CompressedPixels>(std::move(c));
    mRows.reset();
}

void setFrameCacheBudget(std::size_t bytes)
{
    FrameCache::instance().mBudget = bytes;
}

std::size_t frameCacheBudget()
{
    return FrameCache::instance().mBudget;
}

std::size_t frameCacheHeld()
{
    return FrameCache::instance().held();
}

} // namespace doc
