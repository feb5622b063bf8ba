#include "frame_store.h"

#include "gif_reader.h"
#include "gif_writer.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <list>
#include <stdexcept>
#include <unordered_map>

#include <fcntl.h>
#include <unistd.h>

namespace doc {

namespace {

/**
 * The decoded rows of large slots, least recently used first, found by slot. A slot that dies
 * leaves at once, so that the rows of deleted frames stop counting against the budget.
 */
class FrameCache
{
public:
    static FrameCache &instance()
    {
        // Never destroyed: slots held by objects that outlive it still come to forget().
        static FrameCache *cache = new FrameCache;
        return *cache;
    }

    /** Records that `slot` holds `bytes` of rows now and was just used; releases others beyond the budget. */
    void touch(const std::shared_ptr<PixelSlot> &slot, std::size_t bytes)
    {
        std::vector<std::shared_ptr<PixelSlot>> victims;
        {
            std::lock_guard lock(mMutex);
            if (const auto found = mIndex.find(slot.get()); found != mIndex.end()) {
                mHeld -= found->second->bytes;
                found->second->bytes = bytes;
                mEntries.splice(mEntries.end(), mEntries, found->second);
            } else {
                mEntries.push_back({slot, slot.get(), bytes});
                mIndex.emplace(slot.get(), std::prev(mEntries.end()));
            }
            mHeld += bytes;
            // The slot just used stays: its caller is about to read it.
            while (mHeld > mBudget.load() && mEntries.size() > 1) {
                Entry &e = mEntries.front();
                mHeld -= e.bytes;
                if (auto victim = e.slot.lock())
                    victims.push_back(std::move(victim));
                mIndex.erase(e.key);
                mEntries.pop_front();
            }
        }
        // Outside the lock: releasing may compress, which takes a while (and a victim whose last
        // owner went meanwhile is destroyed here, which comes back to forget()).
        for (auto &v : victims)
            v->release();
    }

    /** A slot is going: its rows no longer count. */
    void forget(const PixelSlot *slot)
    {
        std::lock_guard lock(mMutex);
        if (const auto found = mIndex.find(slot); found != mIndex.end()) {
            mHeld -= found->second->bytes;
            mEntries.erase(found->second);
            mIndex.erase(found);
        }
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
        const PixelSlot *key = nullptr;
        std::size_t bytes = 0;
    };
    std::mutex mMutex;
    std::list<Entry> mEntries;
    std::unordered_map<const PixelSlot *, std::list<Entry>::iterator> mIndex;
    std::size_t mHeld = 0;
};

std::atomic<std::size_t> gCodesHeld{0};
std::atomic<std::size_t> gSpillBudget{std::size_t(256) << 20};

} // namespace

/** A temporary file that frames' codes are appended to; removed when the last of them is gone. */
class SpillFile
{
public:
    explicit SpillFile(const std::string &path)
        : mPath(path)
    {
        mFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (mFd < 0)
            throw std::runtime_error(path + ": cannot be created");
    }
    ~SpillFile()
    {
        ::close(mFd);
        ::unlink(mPath.c_str());
    }

    uint64_t append(const uint8_t *data, std::size_t size)
    {
        std::lock_guard lock(mMutex);
        const uint64_t at = mEnd;
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = ::pwrite(mFd, data + done, size - done, off_t(at + done));
            if (n <= 0)
                throw std::runtime_error(mPath + ": cannot be written");
            done += std::size_t(n);
        }
        mEnd += size;
        return at;
    }

    void read(uint64_t at, uint8_t *data, std::size_t size) const
    {
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = ::pread(mFd, data + done, size - done, off_t(at + done));
            if (n <= 0)
                throw std::runtime_error(mPath + ": cannot be read back");
            done += std::size_t(n);
        }
    }

    /** The file new codes go to: the current one while frames still use it. */
    static std::shared_ptr<SpillFile> current()
    {
        static std::mutex mutex;
        static std::weak_ptr<SpillFile> file;
        static int serial = 0;
        std::lock_guard lock(mutex);
        if (auto f = file.lock())
            return f;
        std::filesystem::create_directories(spillFolder());
        auto f = std::make_shared<SpillFile>(spillFolder() + "/spill-" + std::to_string(::getpid()) + "-" +
                                             std::to_string(++serial) + ".tmp");
        file = f;
        return f;
    }

private:
    std::string mPath;
    int mFd = -1;
    std::mutex mMutex;
    uint64_t mEnd = 0;
};

PixelSlot::PixelSlot(int width, int height)
    : mWidth(width)
    , mHeight(height)
{}

PixelSlot::~PixelSlot()
{
    gCodesHeld -= mCountedBytes;
    FrameCache::instance().forget(this);
}

void PixelSlot::keepCodes(CompressedPixels codes)
{
    const std::size_t bytes = codes.codes.size();
    if (gCodesHeld.load() + bytes > gSpillBudget.load()) {
        auto file = SpillFile::current();
        mSpillOffset = file->append(codes.codes.data(), bytes);
        mSpill = std::move(file);
        mSpillSize = bytes;
        codes.codes = std::vector<uint8_t>(); // "= {}" would keep the capacity
        mCodes = std::make_shared<const CompressedPixels>(std::move(codes));
        return;
    }
    // What is counted is what is held: a buffer grown by appending holds up to twice its size.
    codes.codes.shrink_to_fit();
    gCodesHeld += bytes;
    mCountedBytes += bytes;
    mCodes = std::make_shared<const CompressedPixels>(std::move(codes));
}

std::shared_ptr<const CompressedPixels> PixelSlot::codesLocked() const
{
    if (!mCodes || !mSpill)
        return mCodes;
    auto loaded = std::make_shared<CompressedPixels>(*mCodes);
    loaded->codes.resize(mSpillSize);
    mSpill->read(mSpillOffset, loaded->codes.data(), mSpillSize);
    return loaded;
}

bool PixelSlot::spilled() const
{
    std::lock_guard lock(mMutex);
    return mSpill != nullptr;
}

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
    slot->keepCodes(std::move(codes));
    return slot;
}

std::shared_ptr<const FramePixels> PixelSlot::rows()
{
    std::shared_ptr<const FramePixels> rows;
    std::shared_ptr<const CompressedPixels> codes;
    {
        std::lock_guard lock(mMutex);
        rows = mRows;
        if (!rows)
            codes = codesLocked();
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

std::shared_ptr<const FramePixels> PixelSlot::passRows() const
{
    std::shared_ptr<const CompressedPixels> codes;
    {
        std::lock_guard lock(mMutex);
        if (mRows)
            return mRows;
        codes = codesLocked();
    }
    return std::make_shared<const FramePixels>(decodeFramePixels(codes->codes.data(), codes->codeBytes(), *codes));
}

std::shared_ptr<const CompressedPixels> PixelSlot::codes() const
{
    std::lock_guard lock(mMutex);
    return codesLocked();
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
    keepCodes(std::move(c));
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

void setSpillBudget(std::size_t bytes)
{
    gSpillBudget = bytes;
}

std::size_t codesHeld()
{
    return gCodesHeld;
}

std::string spillFolder()
{
    const char *cache = std::getenv("XDG_CACHE_HOME");
    std::string base = cache && *cache ? cache : "";
    if (base.empty()) {
        const char *home = std::getenv("HOME");
        base = std::string(home && *home ? home : "/tmp") + "/.cache";
    }
    return base + "/movaro-gif";
}

int removeStaleSpillFiles()
{
    int removed = 0;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(spillFolder(), ec)) {
        const std::string name = entry.path().filename().string();
        int pid = 0;
        if (std::sscanf(name.c_str(), "spill-%d-", &pid) != 1 || pid <= 0)
            continue;
        // Still running (or not ours to ask): left alone.
        if (::kill(pid, 0) == 0 || errno != ESRCH)
            continue;
        if (std::filesystem::remove(entry.path(), ec))
            ++removed;
    }
    return removed;
}

} // namespace doc
