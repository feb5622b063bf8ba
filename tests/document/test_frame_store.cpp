// Frames held as codes and decoded through a small cache behave exactly as frames held whole.
#include "document/composer.h"
#include "document/frame_store.h"
#include "document/gif_optimize.h"
#include "document/gif_reader.h"

#include <gtest/gtest.h>

#include <random>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>
#include <sstream>

namespace {

using doc::TGIFImage;

/** Frames large enough for the cache, with few colours, a moving square and transparency. */
TGIFImage animation(int frames)
{
    TGIFImage image;
    image.header.width = 400;
    image.header.height = 300;
    std::mt19937 random(7);
    for (int i = 0; i < frames; ++i) {
        doc::TGIFSubImage f;
        doc::TGIFColorMap map;
        map.entries = {{0, 0, 0}, {250, 10, 10}, {10, 250, 10}, {10, 10, 250}, {255, 255, 255}};
        f.setColorMap(map);
        f.width = 400;
        f.height = 300;
        std::vector<uint8_t> px(400 * 300);
        for (std::size_t k = 0; k < px.size(); ++k)
            px[k] = uint8_t((k / 400 / 30 + k % 400 / 40) % 4);
        for (int y = 0; y < 50; ++y)
            for (int x = 0; x < 50; ++x)
                px[std::size_t(y + 3 * i) * 400 + std::size_t(x + 7 * i)] = 4;
        for (int k = 0; k < 500; ++k)
            px[random() % px.size()] = uint8_t(random() % 5);
        f.setPixels(std::move(px));
        auto *g = f.addGraphicControl();
        g->delay = 10;
        g->setDisposal(1);
        g->setTransparent(i % 3 == 2);
        g->transparentIndex = 4;
        image.appendFrame(std::move(f));
    }
    return image;
}

std::string saved(const TGIFImage &image)
{
    std::ostringstream out;
    image.SaveToStream(out);
    return out.str();
}

/** Restores the cache budget a test changed. */
struct CacheBudget {
    std::size_t before = doc::frameCacheBudget();
    explicit CacheBudget(std::size_t bytes) { doc::setFrameCacheBudget(bytes); }
    ~CacheBudget() { doc::setFrameCacheBudget(before); }
};

TEST(FrameStore, FramesEvictedFromTheCacheComeBackAsTheyWere)
{
    const TGIFImage flat = animation(12);
    // The same frames as rows; a budget of one frame makes every step compress and decode again.
    TGIFImage held = flat;
    for (int i = 0; i < held.count(); ++i)
        held.frame(i).setPixelStore(*flat.frame(i).pixelStore());
    const CacheBudget budget(400 * 300);

    for (int i : {0, 5, 11, 3, 4, 11})
        EXPECT_EQ(*held.frame(i).pixelStore(), *flat.frame(i).pixelStore()) << "frame " << i;
    doc::FrameComposer a(flat), b(held);
    for (int i : {0, 5, 11, 3, 4})
        EXPECT_EQ(a.ComposedFrame(i).data(), b.ComposedFrame(i).data()) << "frame " << i;
    EXPECT_LE(doc::frameCacheHeld(), 2u * 400 * 300);
    int compressed = 0;
    for (int i = 0; i < held.count(); ++i)
        compressed += held.frame(i).pixelCodes() != nullptr;
    EXPECT_GE(compressed, 10);

    EXPECT_EQ(saved(held), saved(flat));
    EXPECT_EQ(saved(doc::optimizedCopy(held)), saved(doc::optimizedCopy(flat)));
    for (int i = 0; i < held.count(); ++i)
        EXPECT_EQ(held.frame(i).pixels(), flat.frame(i).pixels()) << "frame " << i;
}

TEST(FrameStore, DeletedFramesLeaveTheCache)
{
    const CacheBudget budget(std::size_t(64) << 20);
    const std::size_t before = doc::frameCacheHeld();
    {
        TGIFImage image = animation(8);
        for (int i = 0; i < image.count(); ++i)
            image.frame(i).setPixelStore(*image.frame(i).pixelStore());
        EXPECT_EQ(doc::frameCacheHeld(), before + 8u * 400 * 300);
        image.deleteFrame(3);
        image.deleteFrame(0);
        EXPECT_EQ(doc::frameCacheHeld(), before + 6u * 400 * 300);
        // A frame whose indices are replaced lets go of the old ones too.
        image.frame(0).setPixels(std::vector<uint8_t>(400 * 300, 1));
        EXPECT_EQ(doc::frameCacheHeld(), before + 5u * 400 * 300);
    }
    EXPECT_EQ(doc::frameCacheHeld(), before) << "closed document";
}

TEST(FrameStore, ShownPicturesStayWithinTheirBudgetAndComeBackAsTheyWere)
{
    struct PictureBudget {
        std::size_t before = doc::pictureCacheBudget();
        ~PictureBudget() { doc::setPictureCacheBudget(before); }
    } restore;
    const std::size_t picture = 400 * 300 + 5 * sizeof(doc::Rgb);
    doc::setPictureCacheBudget(10 * picture);

    const TGIFImage image = animation(30);
    std::vector<std::vector<uint8_t>> first;
    for (int i = 0; i < image.count(); ++i) {
        first.push_back(image.picture(i).data());
        EXPECT_LE(doc::pictureCacheHeld(), 10 * picture) << "frame " << i;
    }
    // A filter's result is what the frame shows from then on: never dropped to make room.
    TGIFImage filtered = image;
    doc::Picture inverted = filtered.picture(4);
    for (uint8_t &v : inverted.data())
        v = uint8_t(4 - std::min<uint8_t>(v, 4));
    filtered.frame(4).setPicture(inverted);
    // Stepping back and forth, and a budget so small that only the last few pictures stay.
    doc::setPictureCacheBudget(0);
    for (int i : {29, 0, 15, 4, 4, 28, 1, 2, 3, 5, 6, 7, 8, 9, 10})
        EXPECT_EQ(image.picture(i).data(), first[std::size_t(i)]) << "frame " << i;
    EXPECT_LE(doc::pictureCacheHeld(), std::size_t(doc::kPicturesAlwaysKept) * picture);
    // The last ones asked for are still the pictures the references point at.
    const doc::Picture &held = image.picture(20);
    for (int i = 21; i < 20 + doc::kPicturesAlwaysKept; ++i)
        image.picture(i);
    EXPECT_EQ(held.data(), first[20]);
    EXPECT_EQ(filtered.picture(4).data(), inverted.data());
}

TEST(FrameStore, OpenHoldsTheFlattenedFramesAsCodesAndWritesThemAsTheyWouldBeEncoded)
{
    const std::string data = saved(animation(6));
    TGIFImage image;
    doc::loadFromBytes(image, reinterpret_cast<const uint8_t *>(data.data()), data.size());
    doc::FlattenFrames(image, 2);
    ASSERT_EQ(image.count(), 6);

    TGIFImage flat = image;
    for (int i = 0; i < image.count(); ++i) {
        EXPECT_TRUE(image.frame(i).pixelCodes()) << "frame " << i;
        flat.frame(i).setPixels(image.frame(i).pixels());
        EXPECT_FALSE(flat.frame(i).pixelCodes());
    }
    EXPECT_EQ(saved(image), saved(flat));
}

int spillFiles()
{
    int n = 0;
    std::error_code ec;
    for (const auto &e : std::filesystem::directory_iterator(doc::spillFolder(), ec))
        n += e.path().filename().string().rfind("spill-", 0) == 0;
    return n;
}

/** Bytes the allocator has handed out and not had back. */
std::size_t heapInUse()
{
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

/** Points the spill folder at a fresh temporary folder and sets the budget of codes in memory. */
struct SpillSetting {
    explicit SpillSetting(std::size_t budget)
    {
        const std::string cache = testing::TempDir() + "/spill-cache";
        std::filesystem::remove_all(cache);
        setenv("XDG_CACHE_HOME", cache.c_str(), 1);
        doc::setSpillBudget(budget);
    }
    ~SpillSetting()
    {
        doc::setSpillBudget(std::size_t(256) << 20);
        unsetenv("XDG_CACHE_HOME");
    }
};

TEST(FrameStore, ReadingAndFlatteningALongAnimationHoldsWhatTheBudgetsAllow)
{
    // Noisy frames: their codes are about as large as their indices (5 MB in all).
    TGIFImage source = animation(40);
    std::mt19937 random(3);
    for (int i = 0; i < source.count(); ++i) {
        std::vector<uint8_t> px = source.frame(i).pixels();
        for (uint8_t &v : px)
            v = uint8_t(random() % 5);
        source.frame(i).setPixels(std::move(px));
    }
    const std::string data = saved(source);
    auto openAndSave = [&] {
        TGIFImage image;
        doc::loadFromBytes(image, reinterpret_cast<const uint8_t *>(data.data()), data.size());
        doc::FlattenFrames(image, 2);
        return saved(image);
    };
    const std::string expected = openAndSave();

    const CacheBudget cache(std::size_t(64) << 20);
    const std::size_t budget = std::size_t(512) << 10;
    const SpillSetting spill(budget);
    const std::size_t before = heapInUse();
    const std::size_t cached = doc::frameCacheHeld();
    {
        TGIFImage image;
        doc::loadFromBytes(image, reinterpret_cast<const uint8_t *>(data.data()), data.size());
        EXPECT_LE(doc::codesHeld(), budget);
        EXPECT_LT(heapInUse() - before, budget + (std::size_t(1) << 20)) << "what was spilled left nothing behind";
        doc::FlattenFrames(image, 2);
        EXPECT_LE(doc::codesHeld(), budget);
        // Composing reads each frame once: nothing of it stays in the cache.
        EXPECT_EQ(doc::frameCacheHeld(), cached);
        EXPECT_EQ(spillFiles(), 1);
        EXPECT_EQ(saved(image), expected);
    }
    EXPECT_EQ(spillFiles(), 0);
}

TEST(FrameStore, SpillFileGoesWithTheDocumentAndAfterAKillAtTheNextStart)
{
    const std::string cache = testing::TempDir() + "/spill-cache";
    std::filesystem::remove_all(cache);
    setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    ASSERT_EQ(doc::spillFolder(), cache + "/movaro-gif");
    doc::setSpillBudget(0);

    const std::string data = saved(animation(4));
    std::string flatSave;
    {
        TGIFImage image;
        doc::loadFromBytes(image, reinterpret_cast<const uint8_t *>(data.data()), data.size());
        doc::FlattenFrames(image, 2);
        EXPECT_EQ(spillFiles(), 1);
        EXPECT_EQ(doc::codesHeld(), 0u);
        TGIFImage flat = image;
        for (int i = 0; i < flat.count(); ++i)
            flat.frame(i).setPixels(image.frame(i).pixels());
        flatSave = saved(flat);
        EXPECT_EQ(saved(image), flatSave);
    }
    EXPECT_EQ(spillFiles(), 0) << "closed document";

    // A process killed while it holds spilled frames leaves its file; the next start removes it.
    const pid_t child = fork();
    if (child == 0) {
        doc::CompressedPixels codes;
        codes.width = 400;
        codes.height = 300;
        codes.codes.assign(doc::kCachedFrameMinimum, 0);
        const auto slot = doc::PixelSlot::fromCodes(std::move(codes));
        raise(SIGKILL);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(spillFiles(), 1);
    EXPECT_EQ(doc::removeStaleSpillFiles(), 1);
    EXPECT_EQ(spillFiles(), 0);

    doc::setSpillBudget(std::size_t(256) << 20);
    unsetenv("XDG_CACHE_HOME");
}

} // namespace
