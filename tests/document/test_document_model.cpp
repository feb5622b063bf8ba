#include "document/document_ops.h"
#include "document/gif_image.h"

#include <gtest/gtest.h>

using namespace doc;

namespace {

TGIFSubImage frameOf(int w, int h)
{
    TGIFSubImage f;
    f.width = uint16_t(w);
    f.height = uint16_t(h);
    f.setColorMap({{{0, 0, 0}, {255, 255, 255}}, false});
    f.setPixels(std::vector<uint8_t>(std::size_t(w) * h, 1));
    return f;
}

std::vector<ExtensionKind> kinds(const TGIFSubImage &f)
{
    std::vector<ExtensionKind> out;
    for (int i = 0; i < f.extensionCount(); ++i)
        out.push_back(f.extension(i)->kind());
    return out;
}

} // namespace

TEST(NextIndex, PadsToThreeDigitsThenGrows)
{
    const std::pair<int, const char *> cases[] = {
        {0, "001"}, {8, "009"}, {9, "010"}, {98, "099"}, {99, "100"}, {998, "999"}, {999, "1000"},
    };
    for (const auto &[entries, expected] : cases)
        EXPECT_EQ(NextIndex(entries), expected) << entries << " entries";
}

TEST(LoopExtension, IsInsertedFirstOnceAndKeepsOtherApplicationExtensions)
{
    EXPECT_EQ(LoopExtension(nullptr), nullptr);
    TGIFImage empty;
    EXPECT_EQ(LoopExtension(&empty), nullptr);

    TGIFImage image;
    TGIFSubImage &first = image.appendFrame(frameOf(2, 2));
    first.addGraphicControl();

    TGIFAppExtNSLoop *loop = LoopExtension(&image);
    ASSERT_NE(loop, nullptr);
    EXPECT_EQ(loop->loops, 0);
    EXPECT_EQ(loop->identifier, "NETSCAPE2.0");
    EXPECT_EQ(kinds(first), (std::vector{ExtensionKind::Loop, ExtensionKind::GraphicControl}));

    EXPECT_EQ(LoopExtension(&image), loop); // a second call adds nothing
    EXPECT_EQ(first.extensionCount(), 2);

    TGIFImage other;
    TGIFSubImage &f = other.appendFrame(frameOf(1, 1));
    f.appendExtension(std::make_unique<TGIFUnknownAppExtension>());
    LoopExtension(&other);
    EXPECT_EQ(kinds(f), (std::vector{ExtensionKind::Loop, ExtensionKind::UnknownApplication}));
}

TEST(CommentIndex, FindsTheFirstCommentOrAppendsOne)
{
    TGIFImage image;
    TGIFSubImage &first = image.appendFrame(frameOf(1, 1));
    first.addGraphicControl();
    EXPECT_EQ(CommentIndex(image), 1);
    EXPECT_EQ(kinds(first), (std::vector{ExtensionKind::GraphicControl, ExtensionKind::Comment}));

    auto second = std::make_unique<TGIFCommentExtension>();
    second->lines = {"second"};
    first.appendExtension(std::move(second));
    EXPECT_EQ(CommentIndex(image), 1);
}

// The comment field's text is UTF-8; the bytes stored are Latin-1 while every character fits,
// so files keep their old form, and UTF-8 otherwise, so no character is lost.
TEST(CommentText, StoresLatin1WhenEveryCharacterFitsElseUtf8)
{
    const struct {
        const char *typed;
        std::vector<std::string> stored;
    } cases[] = {
        {"plain", {"plain"}},
        {"été\nçà", {"\xE9t\xE9", "\xE7\xE0"}},
        {"5 €", {"5 \xE2\x82\xAC"}},
        {"cœur\nété", {"c\xC5\x93ur", "\xC3\xA9t\xC3\xA9"}}, // one character beyond: all of it UTF-8
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed);
        TGIFImage image;
        image.appendFrame(frameOf(1, 1));
        storeCommentText(image, c.typed);
        EXPECT_EQ(commentLines(image), c.stored);
        EXPECT_EQ(commentText(image), c.typed) << "reads back as typed";
    }
}

TEST(CommentText, ReadsUtf8OnlyWhenTheBytesAreUtf8BeyondAscii)
{
    const struct {
        std::vector<std::string> bytes;
        const char *shown;
    } cases[] = {
        {{"caf\xC3\xA9"}, "café"},
        {{"caf\xE9"}, "café"},                     // not UTF-8: Latin-1
        {{"\xC3\xA9t\xE9"}, "Ã©té"},             // one invalid byte makes the whole comment Latin-1
        {{"\xC0\xAF"}, "À¯"},                      // overlong form
        {{"a\xE2\x82", "\xAC b"}, "a\n€ b"},       // a character cut between two sub-blocks
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.shown);
        TGIFImage image;
        auto comment = std::make_unique<TGIFCommentExtension>();
        comment->lines = c.bytes;
        image.appendFrame(frameOf(1, 1)).appendExtension(std::move(comment));
        EXPECT_EQ(commentText(image), c.shown);
    }

    // A UTF-8 comment edited with characters Latin-1 could hold stays UTF-8, as the file had it.
    TGIFImage image;
    image.appendFrame(frameOf(1, 1));
    storeCommentLines(image, {"caf\xC3\xA9"});
    storeCommentText(image, "café au lait");
    EXPECT_EQ(commentLines(image), std::vector<std::string>{"caf\xC3\xA9 au lait"});
}

TEST(EnsureControlExtensions, GivesOnlyFramesWithoutOneANewPrimaryExtension)
{
    TGIFImage image;
    image.appendFrame(frameOf(1, 1));
    TGIFSubImage &withOne = image.appendFrame(frameOf(1, 1));
    TGIFGraphicControlExtension *existing = withOne.addGraphicControl();
    existing->delay = 7;

    EnsureControlExtensions(image);
    ASSERT_NE(image.frame(0).graphicControl(), nullptr);
    EXPECT_EQ(image.frame(0).extension(0), image.frame(0).graphicControl());
    EXPECT_EQ(image.frame(0).graphicControl()->packed, 0);
    EXPECT_EQ(image.frame(0).graphicControl()->delay, 0);
    EXPECT_EQ(withOne.graphicControl(), existing);
    EXPECT_EQ(withOne.extensionCount(), 1);
}

TEST(TGIFImage, DeepCopyKeepsThePrimaryExtensionInsideTheCopiedList)
{
    TGIFImage image;
    TGIFSubImage &f = image.appendFrame(frameOf(3, 2));
    f.appendExtension(std::make_unique<TGIFCommentExtension>());
    f.addGraphicControl()->delay = 42;

    TGIFImage copy(image);
    TGIFSubImage &c = copy.frame(0);
    ASSERT_NE(c.graphicControl(), f.graphicControl());
    EXPECT_EQ(c.graphicControl(), c.extension(1));
    c.graphicControl()->delay = 1;
    EXPECT_EQ(f.graphicControl()->delay, 42);

    c.removeExtension(1);
    EXPECT_EQ(c.graphicControl(), nullptr);
}

TEST(TGIFImage, FrameOperationsReorderFrames)
{
    TGIFImage image;
    for (int w = 1; w <= 4; ++w)
        image.appendFrame(frameOf(w, 1));
    auto widths = [&] {
        std::vector<int> out;
        for (int i = 0; i < image.count(); ++i)
            out.push_back(image.frame(i).width);
        return out;
    };
    image.exchange(0, 3);
    EXPECT_EQ(widths(), (std::vector{4, 2, 3, 1}));
    image.move(3, 1);
    EXPECT_EQ(widths(), (std::vector{4, 1, 2, 3}));
    image.move(0, 3);
    EXPECT_EQ(widths(), (std::vector{1, 2, 3, 4}));
    image.deleteFrame(1);
    EXPECT_EQ(widths(), (std::vector{1, 3, 4}));
}

TEST(TGIFImage, PictureAndMaskFollowTheIndicesUntilTheyChange)
{
    TGIFImage image;
    TGIFSubImage &f = image.appendFrame(frameOf(17, 2));
    f.mutablePixels()[0] = 0;
    TGIFGraphicControlExtension *gce = f.addGraphicControl();
    gce->transparentIndex = 0;

    EXPECT_TRUE(image.mask(0).empty()); // not transparent: no mask
    gce->setTransparent(true);

    const Picture &p = image.picture(0);
    EXPECT_EQ(p.width(), 17);
    EXPECT_EQ(p.format(), PixelFormat::Indexed8);
    EXPECT_EQ(p.pixel(0, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(p.pixel(1, 0), (Rgb{255, 255, 255}));

    const std::vector<uint8_t> &mask = image.mask(0);
    ASSERT_EQ(mask.size(), 2u * 4u); // 17 pixels pad to 32 bits a row
    EXPECT_EQ(mask[0], 0x80);
    EXPECT_EQ(mask[4], 0x00);

    f.mutablePixels()[1] = 0;
    EXPECT_EQ(image.picture(0).pixel(1, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(image.mask(0)[0], 0xC0);
}
