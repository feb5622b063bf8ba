// Frame composition of a read document and the flattening done at open, on small hand-built
// documents whose pictures are written as letters (one a pixel, rows separated by '|').

#include "document/composer.h"
#include "document/gif_error.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

using namespace doc;

namespace {

const Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kYellow{255, 255, 0};
const Rgb kWhite{255, 255, 255}, kBlack{0, 0, 0};

// Global table of the test documents: index 0 R, 1 G, 2 B, 3 Y.
const std::vector<Rgb> kTable{kRed, kGreen, kBlue, kYellow};

char letter(Rgb c)
{
    static const std::map<std::tuple<int, int, int>, char> names{
        {{255, 0, 0}, 'R'},     {{0, 255, 0}, 'G'},   {{0, 0, 255}, 'B'},
        {{255, 255, 0}, 'Y'},   {{255, 255, 255}, 'W'}, {{0, 0, 0}, 'K'},
    };
    auto it = names.find({c.r, c.g, c.b});
    return it == names.end() ? '?' : it->second;
}

/** The picture as letters, rows separated by '|'. */
std::string render(const Picture &p)
{
    std::string s;
    for (int y = 0; y < p.height(); ++y) {
        if (y)
            s += '|';
        for (int x = 0; x < p.width(); ++x)
            s += letter(p.pixel(x, y));
    }
    return s;
}

TGIFImage screen(int w, int h, std::vector<Rgb> global = kTable, uint8_t background = 0)
{
    TGIFImage d;
    d.header.width = uint16_t(w);
    d.header.height = uint16_t(h);
    d.header.background = background;
    d.header.colorMap.entries = std::move(global);
    return d;
}

/** A frame of `w` × `h` indices at (left, top); `transparent` is the transparent index, if any. */
TGIFSubImage &addFrame(TGIFImage &d, int left, int top, int w, int h, std::vector<uint8_t> indices,
                       int disposal = 0, std::optional<int> transparent = {})
{
    TGIFSubImage f;
    f.left = uint16_t(left);
    f.top = uint16_t(top);
    f.width = uint16_t(w);
    f.height = uint16_t(h);
    f.setPixels(std::move(indices));
    TGIFGraphicControlExtension *gce = f.addGraphicControl();
    gce->setDisposal(disposal);
    if (transparent) {
        gce->setTransparent(true);
        gce->transparentIndex = uint8_t(*transparent);
    }
    return d.appendFrame(std::move(f));
}

/** Frame i composed by a fresh composer (no previous result to reuse) and along the sequence. */
void expectFrames(const TGIFImage &d, const std::vector<std::string> &expected, const std::string &name)
{
    FrameComposer sequential(d);
    for (int i = 0; i < int(expected.size()); ++i) {
        FrameComposer fresh(d);
        EXPECT_EQ(render(fresh.ComposedFrame(i)), expected[std::size_t(i)]) << name << ", frame " << i << " alone";
        EXPECT_EQ(render(sequential.ComposedFrame(i)), expected[std::size_t(i)]) << name << ", frame " << i << " in turn";
    }
}

} // namespace

// Disposal of one frame as seen by the next, on a 3 × 1 screen: frame 0 fills it with red,
// frame 1 puts green at x = 1, frame 2 blue at x = 2. No transparency: the fill colour is white.
TEST(ComposedFrame, DisposalMethods)
{
    struct Case {
        int disposal0, disposal1;
        std::string frame1, frame2;
    } cases[] = {
        {0, 0, "RGR", "RGB"},
        {1, 1, "RGR", "RGB"},
        {1, 2, "RGR", "RWB"}, // restore to background: the fill colour
        {1, 3, "RGR", "RRB"}, // restore to previous
        {2, 1, "WGW", "WGB"},
        {3, 1, "WGW", "WGB"},
        {5, 1, "RGR", "RGB"}, // undefined disposals leave the frame in place
    };
    for (const Case &c : cases) {
        TGIFImage d = screen(3, 1);
        addFrame(d, 0, 0, 3, 1, {0, 0, 0}, c.disposal0);
        addFrame(d, 1, 0, 1, 1, {1}, c.disposal1);
        addFrame(d, 2, 0, 1, 1, {2});
        expectFrames(d, {"RRR", c.frame1, c.frame2},
                     "disposals " + std::to_string(c.disposal0) + "/" + std::to_string(c.disposal1));
    }
}

// Where composition may start late: a screen-covering frame hides what came before it, unless
// it restores the previous picture or does not quite cover the screen.
TEST(ComposedFrame, StartFrame)
{
    {
        // An opaque full frame in the middle: frame 0's red must not leak through.
        TGIFImage d = screen(3, 1);
        addFrame(d, 0, 0, 3, 1, {0, 0, 0});
        addFrame(d, 0, 0, 3, 1, {1, 1, 1});
        addFrame(d, 2, 0, 1, 1, {2});
        expectFrames(d, {"RRR", "GGG", "GGB"}, "opaque full frame");
    }
    {
        // A transparent full frame that restores to background clears the screen for the next.
        // The fill is the file's background colour (index 3, yellow): some frame is transparent.
        TGIFImage d = screen(3, 1, kTable, 3);
        addFrame(d, 0, 0, 3, 1, {0, 0, 0});
        addFrame(d, 0, 0, 3, 1, {1, 2, 2}, 2, 2);
        addFrame(d, 2, 0, 1, 1, {2});
        expectFrames(d, {"RRR", "GRR", "YYB"}, "transparent full frame, disposal 2");
    }
    {
        // A transparent full frame that stays: what is under its transparent pixels shows.
        TGIFImage d = screen(3, 1, kTable, 3);
        addFrame(d, 0, 0, 3, 1, {0, 0, 0});
        addFrame(d, 0, 0, 3, 1, {1, 2, 2}, 1, 2);
        addFrame(d, 2, 0, 1, 1, {2});
        expectFrames(d, {"RRR", "GRR", "GRB"}, "transparent full frame, disposal 1");
    }
    {
        // A full frame restored to the previous picture: frame 0 shows again after it.
        TGIFImage d = screen(3, 1);
        addFrame(d, 0, 0, 3, 1, {0, 0, 0});
        addFrame(d, 0, 0, 3, 1, {1, 1, 1}, 3);
        addFrame(d, 2, 0, 1, 1, {2});
        expectFrames(d, {"RRR", "GGG", "RRB"}, "full frame, disposal 3");
    }
    {
        // A frame of the screen's size placed further in leaves frame 0 visible at the edge.
        TGIFImage d = screen(3, 1);
        addFrame(d, 0, 0, 3, 1, {0, 0, 0});
        addFrame(d, 1, 0, 3, 1, {1, 1, 1});
        addFrame(d, 1, 0, 1, 1, {2});
        expectFrames(d, {"RRR", "RGG", "RBG"}, "screen-size frame at an offset");
    }
}

TEST(ComposedFrame, FillColourAndTransparencyOfTheResult)
{
    struct Case {
        std::string name;
        std::vector<Rgb> global;
        uint8_t background;
        std::optional<int> transparent0, transparent1;
        Rgb fill;
        bool resultTransparent;
        std::string frame1;
    } cases[] = {
        // Frame 0's transparent colour (index 2, blue) fills and marks the result.
        {"frame 0 transparent", kTable, 3, 2, {}, kBlue, true, "BGB|BBB"},
        // The other frame's transparent index is not among its pixels: its green shows.
        {"another frame transparent", kTable, 3, {}, 0, kYellow, false, "YGY|YYY"},
        {"background beyond the table", kTable, 9, {}, 0, kBlack, false, "KGK|KKK"},
        {"no transparency", kTable, 3, {}, {}, kWhite, false, "WGW|WWW"},
    };
    for (const Case &c : cases) {
        TGIFImage d = screen(3, 2, c.global, c.background);
        addFrame(d, 0, 0, 3, 1, {0, 0, 0}, 2, c.transparent0);
        addFrame(d, 1, 0, 1, 1, {1}, 1, c.transparent1);
        FrameComposer composer(d);
        EXPECT_EQ(composer.fillColor(), c.fill) << c.name;
        composer.ComposedFrame(0);
        const Picture p = composer.ComposedFrame(1);
        EXPECT_EQ(render(p), c.frame1) << c.name;
        EXPECT_EQ(p.designatedTransparentColor().has_value(), c.resultTransparent) << c.name;
        if (c.resultTransparent) {
            EXPECT_EQ(*p.designatedTransparentColor(), c.fill) << c.name;
        }
    }

    // Local tables only: there is no background colour, so a transparent frame gets white.
    TGIFImage d = screen(2, 1, {});
    TGIFSubImage &f = addFrame(d, 0, 0, 1, 1, {0});
    f.setColorMap(TGIFColorMap{{kRed}});
    TGIFSubImage &g = addFrame(d, 1, 0, 1, 1, {0}, 0, 0);
    g.setColorMap(TGIFColorMap{{kGreen}});
    FrameComposer composer(d);
    EXPECT_EQ(composer.fillColor(), kWhite);
    EXPECT_EQ(render(composer.ComposedFrame(1)), "RW");
}

// Frames partly or wholly off the screen are clipped; indices beyond the table read as black.
TEST(ComposedFrame, ClippingAndIndicesBeyondTheTable)
{
    TGIFImage d = screen(3, 2);
    addFrame(d, 0, 0, 3, 2, {0, 0, 0, 0, 0, 0});
    addFrame(d, 2, 1, 3, 2, {1, 2, 2, 2, 2, 2});   // only its top-left pixel is on the screen
    addFrame(d, 60000, 60000, 2, 1, {2, 2});       // wholly outside
    addFrame(d, 0, 0, 2, 1, {7, 255});             // indices past the 4-entry table
    expectFrames(d, {"RRR|RRR", "RRR|RRG", "RRR|RRG", "KKR|RRG"}, "clipping");
}

// A document frame without an image (extensions only) shows the last image before it, and
// calls past the last frame give the last frame.
TEST(ComposedFrame, FramesWithoutImageAndIndexLimit)
{
    TGIFImage d = screen(2, 1);
    addFrame(d, 0, 0, 1, 1, {0});
    TGIFSubImage commentOnly;
    commentOnly.appendExtension(std::make_unique<TGIFCommentExtension>());
    d.appendFrame(std::move(commentOnly));
    addFrame(d, 1, 0, 1, 1, {1});
    d.appendFrame(TGIFSubImage{});

    FrameComposer composer(d);
    EXPECT_EQ(composer.count(), 2);
    const int expected[] = {0, 0, 1, 1};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(composer.composerIndex(i), expected[i]) << "document frame " << i;
    EXPECT_EQ(render(composer.ComposedFrame(1)), "RG");
    EXPECT_EQ(render(composer.ComposedFrame(1)), "RG");
    EXPECT_EQ(render(composer.ComposedFrame(7)), "RG");
    EXPECT_EQ(render(composer.ComposedFrame(0)), "RW");

    TGIFImage none = screen(2, 1);
    none.appendFrame(TGIFSubImage{});
    EXPECT_EQ(render(FrameComposer(none).ComposedFrame(0)), "WW");
}

// A frame repeating rows of the frame drawn before it, on a 3 × 2 screen: the rows it shares may
// only be left as drawn where drawing them again would give the same picture.
TEST(ComposedFrame, RowsRepeatedFromTheFrameBefore)
{
    struct Frame {
        int top, height;
        std::vector<uint8_t> indices;
        int disposal;
        std::optional<int> transparent;
        std::vector<Rgb> local;
    };
    struct Case {
        std::string name;
        std::vector<Frame> frames;
        std::vector<std::string> expected;
    } cases[] = {
        {"same place and table", {{0, 2, {0, 1, 2, 0, 0, 0}, 1, {}, {}}, {0, 2, {0, 1, 2, 1, 1, 1}, 1, {}, {}}},
         {"RGB|RRR", "RGB|GGG"}},
        {"screen cleared between", {{0, 2, {0, 1, 2, 0, 0, 0}, 2, {}, {}}, {0, 2, {0, 1, 2, 1, 1, 1}, 1, {}, {}}},
         {"RGB|RRR", "RGB|GGG"}},
        {"another table", {{0, 2, {0, 1, 2, 0, 0, 0}, 1, {}, {}}, {0, 2, {0, 1, 2, 1, 1, 1}, 1, {}, {kGreen, kRed, kBlue, kYellow}}},
         {"RGB|RRR", "GRB|RRR"}},
        {"the same table again, held apart", {{0, 2, {0, 1, 2, 0, 0, 0}, 1, {}, kTable}, {0, 2, {0, 1, 2, 1, 1, 1}, 1, {}, kTable}},
         {"RGB|RRR", "RGB|GGG"}},
        {"another place", {{0, 1, {0, 1, 2}, 1, {}, {}}, {1, 1, {0, 1, 2}, 1, {}, {}}}, {"RGB|WWW", "RGB|RGB"}},
        {"transparent alike",
         {{0, 2, {0, 0, 0, 0, 0, 0}, 1, {}, {}}, {0, 2, {1, 2, 1, 1, 1, 1}, 1, 2, {}}, {0, 2, {1, 2, 1, 1, 1, 1}, 1, 2, {}}},
         {"RRR|RRR", "GRG|GGG", "GRG|GGG"}},
        {"another transparent index",
         {{0, 2, {0, 0, 0, 0, 0, 0}, 1, {}, {}}, {0, 2, {1, 2, 1, 1, 1, 1}, 1, 2, {}}, {0, 2, {1, 2, 1, 1, 1, 1}, 1, 1, {}}},
         {"RRR|RRR", "GRG|GGG", "GBG|GGG"}},
    };
    for (const Case &c : cases) {
        TGIFImage d = screen(3, 2);
        for (const Frame &f : c.frames) {
            TGIFSubImage &added = addFrame(d, 0, f.top, 3, f.height, f.indices, f.disposal, f.transparent);
            if (!f.local.empty())
                added.setColorMap(TGIFColorMap{f.local});
        }
        expectFrames(d, c.expected, c.name);
    }
}

TEST(ComposedFrame, CoverageMarksWhatFramesDrew)
{
    TGIFImage d = screen(3, 1);
    addFrame(d, 0, 0, 2, 1, {0, 3}, 2, 3);
    addFrame(d, 2, 0, 1, 1, {1});
    FrameComposer composer(d);
    composer.setTrackCoverage(true);
    composer.ComposedFrame(0);
    EXPECT_EQ(composer.coverage(), (std::vector<uint8_t>{1, 0, 0}));
    composer.ComposedFrame(1);
    EXPECT_EQ(composer.coverage(), (std::vector<uint8_t>{0, 0, 1}));
}

// --- FlattenFrames ---------------------------------------------------------------------------

namespace {

/** Colour of every pixel of frame i of a flattened document, as letters. */
std::string renderFrame(const TGIFImage &d, int i)
{
    return render(d.picture(i));
}

} // namespace

TEST(FlattenFrames, FullScreenFramesWithCopiedExtensions)
{
    TGIFImage d = screen(3, 2, kTable, 3);
    d.transparentDrawing = false;
    {
        TGIFSubImage &f = addFrame(d, 0, 0, 3, 1, {0, 1, 2}, 1);
        f.interlaced = true;
        f.insertExtension(0, std::make_unique<TGIFAppExtNSLoop>());
        auto comment = std::make_unique<TGIFCommentExtension>();
        comment->lines = {"bonjour"};
        f.appendExtension(std::move(comment));
        f.graphicControl()->delay = 7;
    }
    {
        // Two graphic controls: the first read is the primary one, after a comment.
        TGIFSubImage f;
        f.left = 1;
        f.top = 1;
        f.width = 2;
        f.height = 1;
        f.setPixels({0, 1});
        f.appendExtension(std::make_unique<TGIFCommentExtension>());
        TGIFGraphicControlExtension *primary = f.addGraphicControl();
        primary->delay = 11;
        primary->setTransparent(true);
        primary->transparentIndex = 1;
        f.addGraphicControl()->delay = 99;
        d.appendFrame(std::move(f));
    }

    std::vector<std::string> composed;
    {
        FrameComposer composer(d);
        for (int i = 0; i < d.count(); ++i)
            composed.push_back(render(composer.ComposedFrame(i)));
    }
    FlattenFrames(d);

    ASSERT_EQ(d.count(), 2);
    EXPECT_FALSE(d.transparentDrawing);
    EXPECT_TRUE(d.header.colorMap.empty());
    EXPECT_EQ(d.header.width, 3);
    EXPECT_EQ(d.header.height, 2);
    for (int i = 0; i < 2; ++i) {
        const TGIFSubImage &f = d.frame(i);
        EXPECT_EQ(f.left, 0);
        EXPECT_EQ(f.top, 0);
        EXPECT_EQ(f.width, 3);
        EXPECT_EQ(f.height, 2);
        EXPECT_FALSE(f.interlaced);
        EXPECT_EQ(f.colorMap().count(), 256);
        EXPECT_EQ(renderFrame(d, i), composed[std::size_t(i)]) << "frame " << i;
    }
    EXPECT_EQ(composed[1], "RGB|YRY"); // the transparent green of frame 1 is left out

    const TGIFSubImage &f0 = d.frame(0);
    ASSERT_EQ(f0.extensionCount(), 3);
    EXPECT_EQ(f0.extension(0)->kind(), ExtensionKind::Loop);
    EXPECT_EQ(f0.graphicControl(), f0.extension(1));
    EXPECT_EQ(f0.graphicControl()->delay, 7);
    EXPECT_EQ(f0.graphicControl()->disposal(), 1);
    ASSERT_NE(extension_cast<TGIFCommentExtension>(f0.extension(2)), nullptr);
    EXPECT_EQ(extension_cast<TGIFCommentExtension>(f0.extension(2))->lines, std::vector<std::string>{"bonjour"});

    const TGIFSubImage &f1 = d.frame(1);
    ASSERT_EQ(f1.extensionCount(), 3);
    EXPECT_EQ(f1.extension(0)->kind(), ExtensionKind::Comment);
    EXPECT_EQ(f1.graphicControl(), f1.extension(1));
    EXPECT_EQ(f1.graphicControl()->delay, 11);
    // Still transparent, but through an entry no pixel of the full picture uses.
    EXPECT_TRUE(f1.graphicControl()->transparent());
    EXPECT_EQ(std::count(f1.pixels().begin(), f1.pixels().end(), f1.graphicControl()->transparentIndex), 0);
    EXPECT_EQ(extension_cast<TGIFGraphicControlExtension>(f1.extension(2))->delay, 99);
}

// The old transparent index means nothing in the new table: kept as it stands it would hide
// pixels of the composed picture when the file is shown or written.
TEST(FlattenFrames, TransparentIndexPointsIntoTheNewTable)
{
    {
        // Transparent results: the index names the fill colour, and only fill pixels are hidden.
        TGIFImage d = screen(3, 1);
        addFrame(d, 0, 0, 2, 1, {0, 2}, 1, 2);
        FlattenFrames(d);
        const TGIFSubImage &f = d.frame(0);
        ASSERT_TRUE(f.graphicControl()->transparent());
        const uint8_t t = f.graphicControl()->transparentIndex;
        EXPECT_EQ(f.colorMap().entries[t], kBlue);
        EXPECT_EQ(renderFrame(d, 0), "RBB");
        EXPECT_EQ(f.pixels(), (std::vector<uint8_t>{f.pixels()[0], t, t}));
        EXPECT_NE(f.pixels()[0], t);
    }
    {
        // Frame 1 paints blue, the transparent fill colour, over red: flattened, that pixel must
        // not take the hidden entry, or the red of frame 0 would show through it.
        TGIFImage d = screen(3, 1);
        addFrame(d, 0, 0, 2, 1, {0, 2}, 1, 2);
        addFrame(d, 0, 0, 1, 1, {2}, 1, 3);
        FlattenFrames(d);
        const TGIFSubImage &f = d.frame(1);
        const uint8_t t = f.graphicControl()->transparentIndex;
        EXPECT_EQ(f.colorMap().entries[t], kBlue);
        EXPECT_NE(f.pixels()[0], t);
        EXPECT_EQ(f.colorMap().entries[f.pixels()[0]], kBlue);
        FrameComposer again(d);
        EXPECT_EQ(render(again.ComposedFrame(0)), "RBB");
        EXPECT_EQ(render(again.ComposedFrame(1)), "BBB");
    }
    {
        // Opaque results using all 256 entries: no entry is free, so the flag goes.
        std::vector<Rgb> all;
        std::vector<uint8_t> indices;
        for (int c = 0; c < 256; ++c) {
            all.push_back(Rgb{uint8_t(c), uint8_t(255 - c), uint8_t(c / 2)});
            indices.push_back(uint8_t(c));
        }
        TGIFImage d = screen(16, 16, all);
        addFrame(d, 0, 0, 16, 16, indices);
        addFrame(d, 0, 0, 1, 1, {0}, 1, 5);
        FlattenFrames(d);
        EXPECT_FALSE(d.frame(0).graphicControl()->transparent());
        EXPECT_FALSE(d.frame(1).graphicControl()->transparent());
        EXPECT_EQ(d.picture(1).pixel(15, 15), all[255]);
    }
}

// A trailing frame with extensions only becomes a full frame showing the last picture again.
TEST(FlattenFrames, ExtensionOnlyFrameRepeatsTheLastPicture)
{
    TGIFImage d = screen(2, 1);
    addFrame(d, 0, 0, 1, 1, {0});
    addFrame(d, 1, 0, 1, 1, {2});
    TGIFSubImage tail;
    auto comment = std::make_unique<TGIFCommentExtension>();
    comment->lines = {"fin"};
    tail.appendExtension(std::move(comment));
    d.appendFrame(std::move(tail));

    FlattenFrames(d);
    ASSERT_EQ(d.count(), 3);
    EXPECT_EQ(renderFrame(d, 2), "RB");
    ASSERT_EQ(d.frame(2).extensionCount(), 1);
    EXPECT_EQ(d.frame(2).graphicControl(), nullptr);
}

// The parallel reduction keeps the frame order and gives what one worker gives.
TEST(FlattenFrames, ParallelReductionKeepsOrder)
{
    std::vector<Rgb> colours;
    for (int k = 0; k < 64; ++k)
        colours.push_back(Rgb{uint8_t(4 * k), uint8_t(255 - 4 * k), uint8_t(k * 37)});
    TGIFImage d = screen(16, 8, colours);
    for (int k = 0; k < 64; ++k) {
        // Each frame paints one more column band, so every composed picture differs.
        addFrame(d, k % 16, 0, 1, 8, std::vector<uint8_t>(8, uint8_t(k)));
    }
    TGIFImage one = d;
    FlattenFrames(one, 1);
    FlattenFrames(d, 4);
    ASSERT_EQ(d.count(), 64);
    for (int k = 0; k < 64; ++k) {
        EXPECT_EQ(d.picture(k).pixel(k % 16, 3), colours[std::size_t(k)]) << "frame " << k;
        EXPECT_EQ(d.frame(k).pixels(), one.frame(k).pixels()) << "frame " << k;
        EXPECT_EQ(d.frame(k).colorMap(), one.frame(k).colorMap()) << "frame " << k;
    }
}

TEST(FlattenFrames, ReportsProgress)
{
    TGIFImage d = screen(4, 4);
    for (int k = 0; k < 10; ++k)
        addFrame(d, 0, 0, 1, 1, {uint8_t(k % 4)});
    std::vector<std::pair<ProgressStage, int>> seen;
    d.onProgress = [&](ProgressStage stage, const std::string &message, int percent) {
        EXPECT_EQ(message, "Converting...");
        seen.emplace_back(stage, percent);
    };
    FlattenFrames(d, 2);
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front().first, ProgressStage::Starting);
    EXPECT_EQ(seen.back(), std::make_pair(ProgressStage::Ending, 100));
    for (std::size_t k = 1; k + 1 < seen.size(); ++k) {
        EXPECT_EQ(seen[k].first, ProgressStage::Running);
        EXPECT_GE(seen[k].second, seen[k - 1].second);
    }
    EXPECT_EQ(seen[seen.size() - 2].second, 100);
}

// Refusals come before anything is allocated and leave the document as read.
TEST(FlattenFrames, RefusesWhatItCannotHold)
{
    struct Case {
        std::string name;
        int w, h;
        GifErrorKind kind;
    } cases[] = {
        {"65535 × 65535 screen", 65535, 65535, GifErrorKind::TooLarge},
        {"10000 × 10000 screen: 300 MB a picture in flight", 10000, 10000, GifErrorKind::TooLarge},
        {"zero-width screen", 0, 5, GifErrorKind::InvalidDimensions},
    };
    for (const Case &c : cases) {
        TGIFImage d = screen(c.w, c.h);
        addFrame(d, 0, 0, 1, 1, {0});
        try {
            FlattenFrames(d);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const GifError &e) {
            EXPECT_EQ(e.kind(), c.kind) << c.name;
        }
        EXPECT_EQ(d.count(), 1) << c.name;
        EXPECT_EQ(d.frame(0).width, 1) << c.name;
    }
    EXPECT_GT(flattenBytes(8192, 8192, 10, 4), kFlattenBudget);
    EXPECT_LE(flattenBytes(640, 480, 100, 10), kFlattenBudget);
}
