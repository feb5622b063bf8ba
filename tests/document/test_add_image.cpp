#include "document/document_ops.h"
#include "document/gif_error.h"
#include "document/gif_image.h"

#include <gtest/gtest.h>

using namespace doc;

namespace {

Picture solid(int w, int h, Rgb c)
{
    Picture p(w, h, PixelFormat::Rgb24);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t *px = p.row(y) + 3 * x;
            px[0] = c.r;
            px[1] = c.g;
            px[2] = c.b;
        }
    return p;
}

} // namespace

TEST(AddImage, AppendsAReducedInterlacedFrameWithItsControlExtension)
{
    TGIFImage image;
    TGIFSubImage &f = AddImage(image, solid(30, 20, {10, 200, 30}), 60);

    ASSERT_EQ(image.count(), 1);
    EXPECT_EQ(&f, &image.frame(0));
    EXPECT_EQ(f.left, 0);
    EXPECT_EQ(f.top, 0);
    EXPECT_EQ(f.width, 30);
    EXPECT_EQ(f.height, 20);
    EXPECT_TRUE(f.interlaced);
    EXPECT_EQ(f.colorMap().count(), 256);
    EXPECT_EQ(f.colorMap().entries[0], (Rgb{10, 200, 30}));
    EXPECT_EQ(f.pixels(), std::vector<uint8_t>(600, 0));

    ASSERT_EQ(f.extensionCount(), 1);
    const TGIFGraphicControlExtension *gce = f.graphicControl();
    ASSERT_EQ(gce, f.extension(0));
    EXPECT_EQ(gce->disposal(), 2);
    EXPECT_FALSE(gce->transparent());
    EXPECT_FALSE(gce->userInput());
    EXPECT_EQ(gce->delay, 60);
    EXPECT_EQ(gce->transparentIndex, 0);

    EXPECT_EQ(image.header.width, 30);
    EXPECT_EQ(image.header.height, 20);
}

TEST(AddImage, ScreenGrowsButNeverShrinks)
{
    TGIFImage image;
    AddImage(image, solid(30, 20, {1, 2, 3}), 10);
    AddImage(image, solid(10, 50, {1, 2, 3}), 10);
    EXPECT_EQ(image.header.width, 30);
    EXPECT_EQ(image.header.height, 50);
    AddImage(image, solid(5, 5, {1, 2, 3}), 10);
    EXPECT_EQ(image.header.width, 30);
    EXPECT_EQ(image.header.height, 50);
    EXPECT_EQ(image.frame(2).left, 0);
    image.deleteFrame(1);
    EXPECT_EQ(image.header.height, 50);
}

TEST(AddImage, DelaysWrapAtSixteenBits)
{
    const std::pair<long long, int> cases[] = {{65536 + 60, 60}, {65535, 65535}, {65536, 0}, {0, 0}};
    for (const auto &[given, stored] : cases) {
        TGIFImage image;
        AddImage(image, solid(1, 1, {0, 0, 0}), given);
        EXPECT_EQ(image.frame(0).graphicControl()->delay, stored) << given;
    }
}

TEST(AddImage, TransparentIndexIsTheLastEntryOfTheBottomLeftColour)
{
    // Bottom-left pixel black; the reduced table holds black at 0 and as padding after the colours.
    Picture p = solid(2, 2, {200, 100, 50});
    uint8_t *bottomLeft = p.row(1);
    bottomLeft[0] = bottomLeft[1] = bottomLeft[2] = 0;
    TGIFImage image;
    TGIFSubImage &f = AddImage(image, p, 60);
    EXPECT_EQ(f.colorMap().entries[255], (Rgb{0, 0, 0}));
    EXPECT_EQ(f.graphicControl()->transparentIndex, 255);
    EXPECT_FALSE(f.transparent());

    // Not black: the only entry of that colour.
    TGIFImage other;
    TGIFSubImage &g = AddImage(other, solid(3, 3, {9, 8, 7}), 60);
    EXPECT_EQ(g.colorMap().entries[g.graphicControl()->transparentIndex], (Rgb{9, 8, 7}));
}

TEST(AddImage, EmptyPictureFailsAndAddsNothing)
{
    TGIFImage image;
    try {
        AddImage(image, Picture(), 60);
        FAIL() << "no error";
    } catch (const GifError &e) {
        EXPECT_EQ(e.kind(), GifErrorKind::InvalidDimensions);
        EXPECT_STREQ(e.what(), "Invalid image dimensions");
    }
    EXPECT_EQ(image.count(), 0);
}

TEST(InsertImage, MovesTheNewFrameOnlyWhenThePositionIsBeforeIt)
{
    auto indexed = [](int w) {
        Picture p(w, 1, PixelFormat::Indexed8);
        p.palette() = {{0, 0, 0}, {255, 255, 255}};
        return p;
    };
    TGIFImage image;
    InsertImage(image, indexed(1), 10, 0);   // [1]
    InsertImage(image, indexed(2), 10, 5);   // past the end: appended -> [1 2]
    InsertImage(image, indexed(3), 10, 0);   // [3 1 2]
    TGIFSubImage &f = InsertImage(image, indexed(4), 10, 2); // [3 1 4 2]
    EXPECT_EQ(f.width, 4);
    std::vector<int> widths;
    for (int i = 0; i < image.count(); ++i)
        widths.push_back(image.frame(i).width);
    EXPECT_EQ(widths, (std::vector{3, 1, 4, 2}));
    // Indexed pictures keep their own table as they are.
    EXPECT_EQ(image.frame(0).colorMap().count(), 2);
}

TEST(InsertImage, DesignatedAndMonochromeTransparentColours)
{
    Picture mono(2, 2, PixelFormat::Mono1);
    mono.palette() = {{255, 255, 255}, {0, 0, 0}};
    mono.data() = {1, 1, 1, 1};
    TGIFImage image;
    EXPECT_EQ(InsertImage(image, mono, 0, 0).graphicControl()->transparentIndex, 0); // white

    Picture designated(1, 1, PixelFormat::Indexed8);
    designated.palette() = {{1, 1, 1}, {7, 7, 7}, {7, 7, 7}, {3, 3, 3}};
    designated.setDesignatedTransparentColor(Rgb{7, 7, 7});
    EXPECT_EQ(InsertImage(image, designated, 0, 0).graphicControl()->transparentIndex, 2);
}

TEST(InsertImage, DeepPicturesAreReducedWithTheDocumentSetting)
{
    TGIFImage image; // the default setting is the 216-colour cube
    TGIFSubImage &f = InsertImage(image, solid(2, 2, {255, 128, 0}), 0, 0);
    EXPECT_EQ(f.colorMap().count(), 216);
    EXPECT_EQ(f.pixels()[0], 192);

    image.reduction = ColorReduction::OctreeQuantize;
    TGIFSubImage &g = InsertImage(image, solid(2, 2, {255, 128, 0}), 0, 0);
    EXPECT_EQ(g.colorMap().count(), 256);
    EXPECT_EQ(g.colorMap().entries[0], (Rgb{255, 128, 0}));
}

TEST(CommentText, SplitsAndJoinsAsAMultiLineField)
{
    EXPECT_EQ(splitLines(""), std::vector<std::string>{});
    EXPECT_EQ(splitLines("a\r\nb\rc\nd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(splitLines("ab\n\nc\n"), (std::vector<std::string>{"ab", "", "c"}));
    EXPECT_EQ(joinLines({"ab", "", "c"}), "ab\n\nc");

    TGIFImage image;
    AddImage(image, solid(1, 1, {0, 0, 0}), 0);
    auto first = std::make_unique<TGIFCommentExtension>();
    first->lines = {"one"};
    auto second = std::make_unique<TGIFCommentExtension>();
    second->lines = {"two"};
    image.frame(0).appendExtension(std::move(first));
    image.frame(0).appendExtension(std::move(second));
    EXPECT_EQ(commentLines(image), (std::vector<std::string>{"one", "two"}));

    // Saving puts the whole field into the first comment and keeps the second.
    storeCommentLines(image, splitLines(joinLines(commentLines(image))));
    EXPECT_EQ(commentLines(image), (std::vector<std::string>{"one", "two", "two"}));
}
