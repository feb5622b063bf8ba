// The optimised save: the colour-table sort, the two clean-ups, the merge, the crop, and that
// the result shows the same animation while the document itself stays as it was.

#include "document/gif_optimize.h"
#include "document/gif_writer.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>

#include <unistd.h>

using namespace doc;

namespace {

const Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255}, kGray{90, 90, 90};

TGIFSubImage makeFrame(int w, int h, std::vector<Rgb> colors, std::vector<uint8_t> pixels, int left = 0,
                       int top = 0)
{
    TGIFSubImage f;
    f.left = uint16_t(left);
    f.top = uint16_t(top);
    f.width = uint16_t(w);
    f.height = uint16_t(h);
    TGIFColorMap map;
    map.entries = std::move(colors);
    f.setColorMap(map);
    f.setPixels(std::move(pixels));
    return f;
}

/** A frame as the editor adds it: delay, disposal 2, transparency off. */
TGIFSubImage &addEditorFrame(TGIFImage &image, TGIFSubImage frame, uint16_t delay = 60)
{
    TGIFSubImage &f = image.appendFrame(std::move(frame));
    TGIFGraphicControlExtension *g = f.addGraphicControl();
    g->delay = delay;
    g->setDisposal(2);
    image.header.width = std::max<uint16_t>(image.header.width, uint16_t(f.left + f.width));
    image.header.height = std::max<uint16_t>(image.header.height, uint16_t(f.top + f.height));
    return f;
}

void makeTransparent(TGIFSubImage &f, uint8_t index)
{
    TGIFGraphicControlExtension *g = f.graphicControl() ? f.graphicControl() : f.addGraphicControl();
    g->setTransparent(true);
    g->transparentIndex = index;
}

std::vector<Rgb> colorsOf(const TGIFImage &image, int i)
{
    const TGIFSubImage &f = image.frame(i);
    const TGIFColorMap &map = f.colorMap().empty() ? image.header.colorMap : f.colorMap();
    std::vector<Rgb> out;
    for (uint8_t v : f.pixels())
        out.push_back(map.entries.at(v));
    return out;
}

std::string bytesOf(const TGIFImage &image)
{
    std::ostringstream out;
    image.SaveToStream(out);
    return out.str();
}

/**
 * Every frame as a viewer shows it (GIF89a disposal; 0xFF000000 where nothing has been drawn),
 * with runs of identical pictures folded into one: removing a frame that changes nothing must
 * not count as a difference.
 */
std::vector<std::vector<uint32_t>> composite(const TGIFImage &image)
{
    const int W = image.header.width, H = image.header.height;
    const uint32_t none = 0xFF000000u;
    std::vector<uint32_t> canvas(std::size_t(W) * H, none);
    std::vector<std::vector<uint32_t>> shown;
    for (int i = 0; i < image.count(); ++i) {
        const TGIFSubImage &f = image.frame(i);
        const TGIFGraphicControlExtension *g = f.graphicControl();
        const int disposal = g ? g->disposal() : 0;
        const std::vector<uint32_t> saved = canvas;
        if (f.hasPixels()) {
            const TGIFColorMap &map = f.colorMap().empty() ? image.header.colorMap : f.colorMap();
            for (int y = 0; y < f.height; ++y)
                for (int x = 0; x < f.width; ++x) {
                    const uint8_t v = f.pixels()[std::size_t(y) * f.width + x];
                    const bool clear = g && g->transparent() && v == g->transparentIndex;
                    if (clear || f.left + x >= W || f.top + y >= H)
                        continue;
                    const Rgb c = map.entries.at(v);
                    canvas[std::size_t(f.top + y) * W + f.left + x] = uint32_t(c.r) << 16 | c.g << 8 | c.b;
                }
        }
        if (shown.empty() || shown.back() != canvas)
            shown.push_back(canvas);
        if (disposal == 2)
            for (int y = f.top; y < std::min(H, f.top + f.height); ++y)
                for (int x = f.left; x < std::min(W, f.left + f.width); ++x)
                    canvas[std::size_t(y) * W + x] = none;
        else if (disposal == 3)
            canvas = saved;
    }
    return shown;
}

} // namespace

TEST(GifOptimize, UsageOrderFollowsTheQuicksortIncludingItsTies)
{
    struct Case {
        std::vector<uint32_t> usage;
        std::vector<int> order;
    };
    const Case cases[] = {
        {{3, 2, 1, 0}, {0, 1, 2, 3}},       // already descending: left alone
        {{3, 2, 1, 0, 0}, {0, 1, 2, 4, 3}}, // the two unused entries get swapped
        {{1, 3, 3, 0, 2}, {2, 1, 4, 0, 3}}, // equal counts come out in reverse order
        {{1, 2, 3, 0}, {2, 1, 0, 3}},
        {{5}, {0}},
        {{0, 7}, {1, 0}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(usageOrder(c.usage), c.order) << ::testing::PrintToString(c.usage);
}

TEST(GifOptimize, ColorTableIsSortedRenumberedAndTrimmed)
{
    const Rgb A = kRed, B = kGreen, C = kBlue, D = kWhite;
    TGIFImage image;
    // Use counts: A 1, B 2, C 3, D 0.
    TGIFSubImage &f = addEditorFrame(image, makeFrame(3, 2, {A, B, C, D}, {2, 1, 2, 0, 1, 2}));
    makeTransparent(f, 0);
    const std::vector<Rgb> before = colorsOf(image, 0);

    OptimizeColorMaps(image);
    const TGIFSubImage &g = image.frame(0);
    EXPECT_EQ(g.colorMap().entries, (std::vector<Rgb>{C, B, A}));
    EXPECT_TRUE(g.colorMap().sorted);
    EXPECT_EQ(colorsOf(image, 0), before);
    EXPECT_EQ(g.graphicControl()->transparentIndex, 2) << "the transparent index follows its colour";
}

TEST(GifOptimize, ColorTableEdgeCases)
{
    TGIFImage image;
    addEditorFrame(image, makeFrame(2, 1, {kRed}, {0, 0}));                           // 1 entry
    // Already in descending use, with 1 unused entry.
    addEditorFrame(image, makeFrame(3, 2, {kRed, kGreen, kBlue, kWhite}, {0, 0, 0, 1, 1, 2}));
    addEditorFrame(image, makeFrame(3, 2, {kRed, kGreen, kBlue, kWhite, kGray}, {0, 0, 0, 1, 1, 2}));
    OptimizeColorMaps(image);

    EXPECT_EQ(image.frame(0).colorMap().count(), 1);
    EXPECT_FALSE(image.frame(0).colorMap().sorted) << "fewer than 2 entries: untouched";
    EXPECT_EQ(image.frame(1).colorMap().count(), 4) << "already in order: unused entries kept";
    EXPECT_TRUE(image.frame(1).colorMap().sorted);
    // Two unused entries swap places in the sort, so this table is trimmed.
    EXPECT_EQ(image.frame(2).colorMap().entries, (std::vector<Rgb>{kRed, kGreen, kBlue}));
}

TEST(GifOptimize, GlobalTableIsCountedOverFramesWithoutALocalTable)
{
    TGIFImage image;
    image.header.width = image.header.height = 2;
    image.header.colorMap.entries = {kRed, kGreen, kBlue};
    TGIFSubImage onGlobal;
    onGlobal.width = onGlobal.height = 2;
    onGlobal.setPixels({2, 2, 1, 2});
    image.appendFrame(std::move(onGlobal));
    // Index 0 of a local table says nothing about the global table's entry 0.
    image.appendFrame(makeFrame(2, 2, {kWhite, kGray}, {0, 0, 0, 1}));

    OptimizeColorMaps(image);
    EXPECT_EQ(image.header.colorMap.entries, (std::vector<Rgb>{kBlue, kGreen}));
    EXPECT_TRUE(image.header.colorMap.sorted);
    EXPECT_EQ(image.frame(0).pixels(), (std::vector<uint8_t>{0, 0, 1, 0}));
    EXPECT_EQ(image.frame(1).pixels(), (std::vector<uint8_t>{0, 0, 0, 1}));
}

TEST(GifOptimize, CleanupFirstHalf)
{
    TGIFImage image;
    TGIFSubImage &unused = addEditorFrame(image, makeFrame(2, 2, {kRed, kGreen}, {0, 0, 0, 0}));
    makeTransparent(unused, 1);
    // Disposal 2 inside an opaque next frame: disposal no longer matters.
    addEditorFrame(image, makeFrame(4, 4, {kRed, kGreen}, std::vector<uint8_t>(16, 1)));
    // Followed by a transparent frame: the disposal stays.
    addEditorFrame(image, makeFrame(4, 4, {kRed, kGreen}, std::vector<uint8_t>(16, 1)));
    TGIFSubImage &t = addEditorFrame(image, makeFrame(4, 4, {kRed, kGreen}, std::vector<uint8_t>(16, 1)));
    makeTransparent(t, 0);
    t.mutablePixels()[0] = 0;
    // Deliberate departure: the next frame restores to what was before it, so this frame's
    // disposal still shows and stays (the original reset it too).
    addEditorFrame(image, makeFrame(4, 4, {kRed, kGreen}, std::vector<uint8_t>(16, 1)));
    addEditorFrame(image, makeFrame(4, 4, {kRed, kGreen}, std::vector<uint8_t>(16, 1)))
        .graphicControl()
        ->setDisposal(3);
    // Not wholly inside the next (opaque) frame: the disposal stays.
    addEditorFrame(image, makeFrame(4, 4, {kRed, kGreen}, std::vector<uint8_t>(16, 1), 1, 0));
    addEditorFrame(image, makeFrame(4, 4, {kRed, kGreen}, std::vector<uint8_t>(16, 1)));

    CleanupFirstHalf(image);
    EXPECT_FALSE(image.frame(0).transparent());
    EXPECT_EQ(image.frame(0).graphicControl()->transparentIndex, 1) << "the index byte is kept";
    EXPECT_EQ(image.frame(0).graphicControl()->disposal(), 0) << "frame 0 lies inside frame 1";
    EXPECT_EQ(image.frame(1).graphicControl()->disposal(), 0);
    EXPECT_EQ(image.frame(2).graphicControl()->disposal(), 2);
    EXPECT_TRUE(image.frame(3).transparent());
    EXPECT_EQ(image.frame(4).graphicControl()->disposal(), 2) << "the next frame restores";
    EXPECT_EQ(image.frame(6).graphicControl()->disposal(), 2);
    EXPECT_EQ(image.frame(7).graphicControl()->disposal(), 2) << "the last frame is left alone";
}

TEST(GifOptimize, MergeMakesRepeatedPixelsTransparentWithANewBlackEntry)
{
    TGIFImage image;
    TGIFSubImage &p = addEditorFrame(image, makeFrame(3, 2, {kRed, kGreen, kBlue}, {0, 1, 2, 0, 1, 2}));
    p.graphicControl()->setDisposal(1);
    makeTransparent(p, 2);
    // Frame b sits one column to the right and orders its colours differently.
    TGIFSubImage b = makeFrame(3, 2, {kGreen, kRed, kWhite, kBlue}, {0, 3, 2, 1, 0, 3}, 1, 0);
    image.appendFrame(std::move(b)); // no graphic control yet

    MergeFrames(image);
    const TGIFSubImage &m = image.frame(1);
    ASSERT_EQ(m.colorMap().count(), 5);
    EXPECT_EQ(m.colorMap().entries[4], (Rgb{0, 0, 0}));
    // Screen columns 1 and 2 overlap. Row 0: green over green becomes 4; blue over p's blue stays,
    // as p is transparent there. Row 1: red over green and green over p's transparent pixel stay.
    EXPECT_EQ(m.pixels(), (std::vector<uint8_t>{4, 3, 2, 1, 0, 3}));
    ASSERT_NE(m.graphicControl(), nullptr) << "a graphic control is added for the transparency";
    EXPECT_TRUE(m.transparent());
    EXPECT_EQ(m.graphicControl()->transparentIndex, 4);
    EXPECT_EQ(m.extensionCount(), 1);
}

TEST(GifOptimize, MergeUsesTheExistingTransparentIndexAndSkipsWhenItCannot)
{
    TGIFImage image;
    addEditorFrame(image, makeFrame(2, 1, {kRed, kGreen}, {0, 1})).graphicControl()->setDisposal(0);
    TGIFSubImage &b = addEditorFrame(image, makeFrame(2, 1, {kRed, kGreen, kBlue}, {0, 2}));
    makeTransparent(b, 2);
    MergeFrames(image);
    EXPECT_EQ(image.frame(1).pixels(), (std::vector<uint8_t>{2, 2}));
    EXPECT_EQ(image.frame(1).colorMap().count(), 3) << "no entry added";

    // A full table has no room for the transparent entry; a reference of disposal 2 is skipped.
    std::vector<Rgb> full(256, kGray);
    full[0] = kRed;
    TGIFImage noRoom;
    addEditorFrame(noRoom, makeFrame(2, 1, {kRed}, {0, 0})).graphicControl()->setDisposal(0);
    addEditorFrame(noRoom, makeFrame(2, 1, full, {0, 0}));
    addEditorFrame(noRoom, makeFrame(2, 1, {kGray}, {0, 0})); // frame 1 keeps disposal 2
    MergeFrames(noRoom);
    EXPECT_EQ(noRoom.frame(1).pixels(), (std::vector<uint8_t>{0, 0}));
    EXPECT_EQ(noRoom.frame(2).pixels(), (std::vector<uint8_t>{0, 0}));
    EXPECT_FALSE(noRoom.frame(1).transparent());
    EXPECT_FALSE(noRoom.frame(2).transparent());
}

TEST(GifOptimize, MergeOnTheGlobalTableSharesATransparentIndexOnlyWhenFree)
{
    // Frames 0 and 1 show index 1 as transparent; frame 3 draws index 1 as a colour, frame 2 does not.
    TGIFImage image;
    image.header.width = 2;
    image.header.height = 1;
    image.header.colorMap.entries = {kRed, kGreen, kBlue};
    for (const std::vector<uint8_t> &px : {std::vector<uint8_t>{0, 1}, {0, 1}, {0, 2}, {0, 1}}) {
        TGIFSubImage f;
        f.width = 2;
        f.height = 1;
        f.setPixels(px);
        f.addGraphicControl()->setDisposal(1);
        image.appendFrame(std::move(f));
    }
    makeTransparent(image.frame(0), 1);
    makeTransparent(image.frame(1), 1);

    MergeFrames(image);
    // Frame 3 against frame 2: red repeats. Index 1 is green for frame 3, so a black entry is added.
    ASSERT_EQ(image.header.colorMap.count(), 4);
    EXPECT_EQ(image.header.colorMap.entries[3], (Rgb{0, 0, 0}));
    EXPECT_EQ(image.frame(3).pixels(), (std::vector<uint8_t>{3, 1}));
    EXPECT_EQ(image.frame(3).graphicControl()->transparentIndex, 3);
    // Frame 2 against frame 1: red repeats, and index 1 is free in frame 2: shared.
    EXPECT_EQ(image.frame(2).pixels(), (std::vector<uint8_t>{1, 2}));
    EXPECT_TRUE(image.frame(2).transparent());
    EXPECT_EQ(image.frame(2).graphicControl()->transparentIndex, 1);
}

TEST(GifOptimize, MergeStepsBackOverRestoreToPreviousFrames)
{
    TGIFImage image;
    addEditorFrame(image, makeFrame(2, 1, {kRed, kGreen}, {0, 1})).graphicControl()->setDisposal(1);
    addEditorFrame(image, makeFrame(2, 1, {kBlue}, {0, 0})).graphicControl()->setDisposal(3);
    addEditorFrame(image, makeFrame(2, 1, {kGreen, kWhite}, {1, 0})).graphicControl()->setDisposal(1);
    MergeFrames(image);
    // Frame 2 is compared with frame 0 (frame 1 is undone before it shows): green repeats.
    EXPECT_EQ(image.frame(2).pixels(), (std::vector<uint8_t>{1, 2}));
    EXPECT_TRUE(image.frame(2).transparent());
}

TEST(GifOptimize, CropCutsTransparentFramesAndDropsEmptyOnes)
{
    TGIFImage image;
    const std::vector<uint8_t> ring{0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 1, 0};
    TGIFSubImage &a = addEditorFrame(image, makeFrame(4, 3, {kRed, kGreen}, ring, 5, 6), 30);
    makeTransparent(a, 0);
    TGIFSubImage &empty = addEditorFrame(image, makeFrame(2, 2, {kRed, kGreen}, {0, 0, 0, 0}), 20);
    makeTransparent(empty, 0);
    TGIFSubImage &last = addEditorFrame(image, makeFrame(1, 1, {kRed}, {0}), 5);
    makeTransparent(last, 0);
    for (int i = 0; i < image.count(); ++i)
        image.frame(i).graphicControl()->setDisposal(1);

    CropFrames(image);
    ASSERT_EQ(image.count(), 1);
    const TGIFSubImage &c = image.frame(0);
    EXPECT_EQ(c.left, 6);
    EXPECT_EQ(c.top, 7);
    EXPECT_EQ(c.width, 2);
    EXPECT_EQ(c.height, 2);
    EXPECT_EQ(c.pixels(), (std::vector<uint8_t>{1, 1, 0, 1}));
    EXPECT_EQ(c.graphicControl()->delay, 30 + 20 + 5) << "the removed frames' delays are kept";
}

TEST(GifOptimize, EmptyFrameHandsItsDelayOnOnlyWhenThePictureStaysTheSame)
{
    // Deliberate departure: the delay of a removed frame also goes to an opaque frame before it
    // (the original dropped it, so the animation ran faster), and a frame after one that restores
    // (disposal 2 or 3) stays, since the picture changes when it shows.
    TGIFImage image;
    addEditorFrame(image, makeFrame(1, 1, {kRed}, {0}), 100).graphicControl()->setDisposal(1);
    TGIFSubImage &t = addEditorFrame(image, makeFrame(1, 1, {kRed}, {0}), 40);
    makeTransparent(t, 0);
    CropFrames(image);
    ASSERT_EQ(image.count(), 1);
    EXPECT_EQ(image.frame(0).graphicControl()->delay, 140);

    TGIFImage restores;
    addEditorFrame(restores, makeFrame(1, 1, {kRed}, {0}), 100).graphicControl()->setDisposal(3);
    makeTransparent(addEditorFrame(restores, makeFrame(1, 1, {kRed}, {0}), 40), 0);
    CropFrames(restores);
    EXPECT_EQ(restores.count(), 2);

    // A frame that restores to background is kept whole unless it is last and frame 0 covers it:
    // otherwise its clearing shows.
    TGIFImage clears;
    addEditorFrame(clears, makeFrame(1, 2, {kRed, kGreen}, {0, 1})).graphicControl()->setDisposal(1);
    makeTransparent(addEditorFrame(clears, makeFrame(1, 2, {kRed, kGreen}, {0, 0})), 0); // disposal 2
    makeTransparent(addEditorFrame(clears, makeFrame(1, 1, {kRed, kGreen}, {1})), 0);
    CropFrames(clears);
    ASSERT_EQ(clears.count(), 3);
    EXPECT_EQ(clears.frame(1).height, 2);

    // The sum stops at the largest delay rather than wrapping round to a short one.
    TGIFImage big;
    addEditorFrame(big, makeFrame(1, 1, {kRed, kGreen}, {1}), 65000).graphicControl()->setDisposal(0);
    makeTransparent(addEditorFrame(big, makeFrame(1, 1, {kRed}, {0}), 1000), 0);
    CropFrames(big);
    ASSERT_EQ(big.count(), 1);
    EXPECT_EQ(big.frame(0).graphicControl()->delay, 65535);

    // An empty first frame goes, and its loop extension moves to the new first frame.
    TGIFImage firstEmpty;
    TGIFSubImage &e0 = addEditorFrame(firstEmpty, makeFrame(1, 1, {kRed}, {0}));
    makeTransparent(e0, 0);
    e0.graphicControl()->setDisposal(1);
    auto loop = std::make_unique<TGIFAppExtNSLoop>();
    loop->loops = 3;
    e0.insertExtension(0, std::move(loop));
    addEditorFrame(firstEmpty, makeFrame(1, 1, {kRed}, {0}));
    CropFrames(firstEmpty);
    ASSERT_EQ(firstEmpty.count(), 1);
    const auto *moved = extension_cast<TGIFAppExtNSLoop>(firstEmpty.frame(0).extension(0));
    ASSERT_NE(moved, nullptr);
    EXPECT_EQ(moved->loops, 3);
}

TEST(GifOptimize, CleanupSecondHalfDropsCommentsAndRedundantExtensions)
{
    TGIFImage image;
    TGIFSubImage &f0 = addEditorFrame(image, makeFrame(1, 1, {kRed}, {0}), 0);
    f0.insertExtension(0, std::make_unique<TGIFAppExtNSLoop>());
    f0.appendExtension(std::make_unique<TGIFCommentExtension>());
    f0.graphicControl()->setDisposal(1);
    TGIFSubImage &f1 = addEditorFrame(image, makeFrame(1, 1, {kRed}, {0}), 10);
    f1.appendExtension(std::make_unique<TGIFAppExtNSLoop>());
    f1.appendExtension(std::make_unique<TGIFTextExtension>());
    f1.appendExtension(std::make_unique<TGIFUnknownAppExtension>());
    TGIFSubImage &f2 = addEditorFrame(image, makeFrame(1, 1, {kRed}, {0}), 0);
    f2.graphicControl()->setUserInput(true);
    TGIFSubImage nothing; // no pixels, only a comment: goes away entirely
    nothing.appendExtension(std::make_unique<TGIFCommentExtension>());
    image.appendFrame(std::move(nothing));

    CleanupSecondHalf(image);
    ASSERT_EQ(image.count(), 3);
    ASSERT_EQ(image.frame(0).extensionCount(), 1) << "loop kept; delay 0 and disposal 1: control dropped";
    EXPECT_EQ(image.frame(0).extension(0)->kind(), ExtensionKind::Loop);
    ASSERT_EQ(image.frame(1).extensionCount(), 1) << "loop only on frame 0; delay 10 keeps the control";
    EXPECT_EQ(image.frame(1).extension(0)->kind(), ExtensionKind::GraphicControl);
    EXPECT_EQ(image.frame(2).extensionCount(), 1) << "user input keeps the control";

    TGIFImage single;
    TGIFSubImage &only = addEditorFrame(single, makeFrame(1, 1, {kRed}, {0}), 60);
    only.insertExtension(0, std::make_unique<TGIFAppExtNSLoop>());
    CleanupSecondHalf(single);
    EXPECT_EQ(single.frame(0).extensionCount(), 0) << "one frame: neither loop nor control is needed";
}

TEST(GifOptimize, TwoIdenticalFramesBecomeOneFrameWithoutExtensions)
{
    TGIFImage image;
    const std::vector<Rgb> colors{kRed, kGreen, kBlue, kWhite};
    const std::vector<uint8_t> px{0, 1, 2, 3, 3, 2, 1, 0, 0};
    TGIFSubImage &f0 = addEditorFrame(image, makeFrame(3, 3, colors, px));
    f0.insertExtension(0, std::make_unique<TGIFAppExtNSLoop>());
    auto comment = std::make_unique<TGIFCommentExtension>();
    comment->lines = {"hello"};
    f0.appendExtension(std::move(comment));
    addEditorFrame(image, makeFrame(3, 3, colors, px));
    const std::string original = bytesOf(image);

    const TGIFImage out = optimizedCopy(image);
    ASSERT_EQ(out.count(), 1);
    EXPECT_EQ(out.frame(0).extensionCount(), 0);
    EXPECT_EQ(colorsOf(out, 0), colorsOf(image, 0));
    EXPECT_EQ(bytesOf(image), original) << "the document is untouched";
    EXPECT_EQ(image.count(), 2);
}

// A frame that shows nothing is dropped, but a document is never left without a frame: a plain
// save writes such a document, so the optimised save must too.
TEST(GifOptimize, TheLastRemainingFrameIsKept)
{
    for (int frames : {1, 3}) {
        SCOPED_TRACE(frames);
        TGIFImage image;
        for (int i = 0; i < frames; ++i) {
            TGIFSubImage &f = addEditorFrame(image, makeFrame(3, 2, {kRed, kGreen}, std::vector<uint8_t>(6, 1)), 10);
            f.graphicControl()->setDisposal(1);
            makeTransparent(f, 1);
        }
        const TGIFImage out = optimizedCopy(image);
        ASSERT_EQ(out.count(), 1);
        EXPECT_TRUE(out.frame(0).transparent());
        EXPECT_EQ(colorsOf(out, 0), colorsOf(image, 0));
        EXPECT_NO_THROW(bytesOf(out));
    }

    // A document of one frame without pixels, say the records of a file that held no image.
    TGIFImage recordsOnly;
    recordsOnly.header.width = recordsOnly.header.height = 1;
    recordsOnly.appendFrame(TGIFSubImage{}).appendExtension(std::make_unique<TGIFCommentExtension>());
    EXPECT_EQ(optimizedCopy(recordsOnly).count(), 1);
}

TEST(GifOptimize, SavedFileDecodesWithGiflib)
{
    TGIFImage image;
    std::vector<uint8_t> px(40 * 30);
    for (std::size_t i = 0; i < px.size(); ++i)
        px[i] = uint8_t(i % 7 == 0 ? 1 : 0);
    TGIFSubImage &f0 = addEditorFrame(image, makeFrame(40, 30, {kRed, kGreen, kBlue}, px));
    f0.insertExtension(0, std::make_unique<TGIFAppExtNSLoop>());
    px[15 * 40 + 20] = 2; // one pixel changes
    addEditorFrame(image, makeFrame(40, 30, {kRed, kGreen, kBlue}, px));

    int savingSteps = 0;
    image.onProgress = [&](ProgressStage stage, const std::string &message, int) {
        savingSteps += stage == ProgressStage::Running && message == "Saving...";
    };
    const auto path =
        std::filesystem::path(::testing::TempDir()) / ("optimized_" + std::to_string(::getpid()) + ".gif");
    saveOptimizedToFile(image, path.string());
    EXPECT_EQ(savingSteps, 2) << "one step per frame written";
    int err = 0;
    GifFileType *gif = DGifOpenFileName(path.c_str(), &err);
    ASSERT_NE(gif, nullptr);
    ASSERT_EQ(DGifSlurp(gif), GIF_OK);
    ASSERT_EQ(gif->ImageCount, 2);
    const SavedImage &second = gif->SavedImages[1];
    EXPECT_EQ(second.ImageDesc.Left, 20);
    EXPECT_EQ(second.ImageDesc.Top, 15);
    EXPECT_EQ(second.ImageDesc.Width, 1);
    EXPECT_EQ(second.ImageDesc.Height, 1);
    const GifColorType c = second.ImageDesc.ColorMap->Colors[second.RasterBits[0]];
    EXPECT_EQ(Rgb(c.Red, c.Green, c.Blue), kBlue);
    // Frame 0 keeps the loop extension (first) and its graphic control.
    ASSERT_GE(gif->SavedImages[0].ExtensionBlockCount, 1);
    EXPECT_EQ(gif->SavedImages[0].ExtensionBlocks[0].Function, APPLICATION_EXT_FUNC_CODE);
    DGifCloseFile(gif, &err);
    std::filesystem::remove(path);
}

TEST(GifOptimize, RandomAnimationsLookTheSameAfterOptimising)
{
    // Frames are copies of the previous one with a few changes, so the merge and crop have work;
    // every disposal, some transparency, some frames on the global table.
    std::mt19937 rng(424242);
    const std::vector<Rgb> palette{kRed, kGreen, kBlue, kWhite, kGray, {1, 2, 3}, {0, 0, 0}};
    int merged = 0, removed = 0;
    for (int doc = 0; doc < 2000; ++doc) {
        TGIFImage image;
        const int W = 1 + int(rng() % 12), H = 1 + int(rng() % 10);
        image.header.width = uint16_t(W);
        image.header.height = uint16_t(H);
        if (rng() % 3 == 0)
            image.header.colorMap.entries = {palette.begin(), palette.begin() + 2 + rng() % 5};
        std::vector<uint8_t> base(std::size_t(W) * H);
        for (auto &v : base)
            v = uint8_t(rng() % 3);
        const int frames = 2 + int(rng() % 5);
        for (int i = 0; i < frames; ++i) {
            const bool global = !image.header.colorMap.empty() && rng() % 2;
            std::vector<Rgb> colors;
            if (!global) {
                colors = palette;
                std::shuffle(colors.begin(), colors.end(), rng);
                colors.resize(2 + rng() % 5);
            }
            const int count = global ? image.header.colorMap.count() : int(colors.size());
            const int x = int(rng() % W), y = int(rng() % H);
            const int w = 1 + int(rng() % (W - x)), h = 1 + int(rng() % (H - y));
            std::vector<uint8_t> px(std::size_t(w) * h);
            for (int yy = 0; yy < h; ++yy)
                for (int xx = 0; xx < w; ++xx) {
                    const uint8_t kept = uint8_t(base[std::size_t(y + yy) * W + x + xx] % count);
                    px[std::size_t(yy) * w + xx] = rng() % 4 ? kept : uint8_t(rng() % count);
                }
            TGIFSubImage f = makeFrame(w, h, colors, px, x, y);
            if (i > 0 || rng() % 2) {
                TGIFGraphicControlExtension *g = f.addGraphicControl();
                g->delay = uint16_t(rng() % 3 * 10);
                const int disposals[] = {0, 1, 2, 3};
                g->setDisposal(disposals[rng() % 4]);
                if (i > 0 && rng() % 3 == 0) {
                    g->setTransparent(true);
                    g->transparentIndex = uint8_t(rng() % count);
                }
            }
            if (i == 0 && rng() % 2)
                f.insertExtension(0, std::make_unique<TGIFAppExtNSLoop>());
            image.appendFrame(std::move(f));
        }

        const std::string before = bytesOf(image);
        const TGIFImage out = optimizedCopy(image);
        EXPECT_EQ(bytesOf(image), before);
        ASSERT_EQ(composite(out), composite(image)) << "document " << doc;
        removed += image.count() - out.count();
        for (int i = 0; i < out.count(); ++i)
            merged += out.frame(i).transparent();
        EXPECT_NO_THROW(bytesOf(out)) << "document " << doc;
    }
    EXPECT_GT(removed, 0) << "the cases exercise the crop's removal";
    EXPECT_GT(merged, 0) << "the cases exercise the merge";
}
