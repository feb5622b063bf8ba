#include "filters/frame_filter.h"

#include "document/document_ops.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace doc;
using namespace filters;

namespace {

/** A two-frame document as the editor holds one: 256-entry tables, frames at (0, 0). */
TGIFImage twoFrames()
{
    TGIFImage image;
    for (int f = 0; f < 2; ++f) {
        Picture p(6, 4, PixelFormat::Rgb24);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x) {
                uint8_t *px = p.row(y) + 3 * x;
                px[0] = uint8_t(40 * x + f);
                px[1] = uint8_t(60 * y);
                px[2] = uint8_t(x == y ? 255 : 9);
            }
        AddImage(image, p, 30 + f);
    }
    TGIFGraphicControlExtension *gce = image.frame(1).graphicControl();
    gce->setDisposal(3);
    gce->setTransparent(true);
    gce->transparentIndex = 7;
    image.frame(1).left = 0;
    return image;
}

/** What a saved and reopened document holds. */
TGIFImage reread(const TGIFImage &image)
{
    std::stringstream file;
    image.SaveToStream(file);
    TGIFImage back;
    back.LoadFromStream(file);
    return back;
}

/** The colours a frame's data decode to. */
std::vector<Rgb> coloursOf(const TGIFImage &image, int i)
{
    const TGIFSubImage &f = image.frame(i);
    std::vector<Rgb> out;
    for (uint8_t index : f.pixels())
        out.push_back(f.colorMap().entries.at(index));
    return out;
}

std::vector<Rgb> coloursOf(const Picture &p)
{
    std::vector<Rgb> out;
    for (int y = 0; y < p.height(); ++y)
        for (int x = 0; x < p.width(); ++x)
            out.push_back(p.pixel(x, y));
    return out;
}

Picture run(TGIFImage &image, int index, FrameFilter f)
{
    const Picture current = image.picture(index);
    Picture result = applyFilter(f, current, current.width(), current.height());
    writeBack(image, index, f, result);
    return result;
}

} // namespace

TEST(WriteBack, EveryFilterReachesTheSavedFileAndLeavesTheRestAsItWas)
{
    for (const FrameFilterInfo &info : frameFilters()) {
        SCOPED_TRACE(std::string(info.name));
        TGIFImage image = twoFrames();
        const TGIFImage before = image;
        const Picture result = run(image, 1, info.filter);

        // The views read the filter's result, and the saved file shows the same colours.
        const Picture &shown = image.picture(1);
        EXPECT_EQ(shown.format(), result.format());
        EXPECT_EQ(shown.data(), result.data());
        const TGIFImage back = reread(image);
        EXPECT_EQ(coloursOf(back, 1), coloursOf(result));
        EXPECT_EQ(back.frame(1).colorMap().count(), 256);

        // Delay, disposal, transparency and position are the frame's own; frame 0 is untouched.
        const TGIFGraphicControlExtension *gce = back.frame(1).graphicControl();
        ASSERT_NE(gce, nullptr);
        EXPECT_EQ(gce->delay, 31);
        EXPECT_EQ(gce->disposal(), 3);
        EXPECT_TRUE(gce->transparent());
        EXPECT_EQ(gce->transparentIndex, 7);
        EXPECT_EQ((std::pair{back.frame(1).left, back.frame(1).top}), (std::pair<uint16_t, uint16_t>{0, 0}));
        EXPECT_EQ(back.frame(0).pixels(), before.frame(0).pixels());
        EXPECT_EQ(back.frame(0).colorMap(), before.frame(0).colorMap());
    }
}

TEST(WriteBack, InversionAndTransformsAreExactOnTheFramesOwnTable)
{
    TGIFImage image = twoFrames();
    const std::vector<uint8_t> indices = image.frame(1).pixels();
    const TGIFColorMap table = image.frame(1).colorMap();

    run(image, 1, FrameFilter::Invert);
    EXPECT_EQ(image.frame(1).colorMap(), table);
    for (std::size_t i = 0; i < indices.size(); ++i)
        ASSERT_EQ(image.frame(1).pixels()[i], 255 - indices[i]);
    run(image, 1, FrameFilter::Invert);
    EXPECT_EQ(image.frame(1).pixels(), indices);

    // A flip after a flip: the view picture is 32-bit by then, the indices still only move.
    run(image, 1, FrameFilter::FlipHorizontal);
    EXPECT_EQ(image.frame(1).colorMap(), table);
    EXPECT_NE(image.frame(1).pixels(), indices);
    run(image, 1, FrameFilter::FlipHorizontal);
    EXPECT_EQ(image.frame(1).pixels(), indices);
    EXPECT_EQ(image.picture(1).format(), PixelFormat::Rgba32);
    run(image, 1, FrameFilter::HalfTurn);
    run(image, 1, FrameFilter::HalfTurn);
    EXPECT_EQ(image.frame(1).pixels(), indices);
}

TEST(WriteBack, TransformAfterABlurMovesTheBlurredData)
{
    TGIFImage image = twoFrames();
    run(image, 1, FrameFilter::Blur);
    const TGIFSubImage blurred = image.frame(1);
    const Picture flipped = run(image, 1, FrameFilter::FlipVertical);
    EXPECT_EQ(image.frame(1).colorMap(), blurred.colorMap());
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            ASSERT_EQ(image.frame(1).pixels()[std::size_t(y * 6 + x)], blurred.pixels()[std::size_t((3 - y) * 6 + x)]);
    EXPECT_EQ(coloursOf(reread(image), 1), coloursOf(flipped));
}

TEST(WriteBack, AResultOfAnotherSizeIsRefused)
{
    TGIFImage image = twoFrames();
    EXPECT_THROW(writeBack(image, 0, FrameFilter::Blur, Picture(3, 3, PixelFormat::Rgb24)), std::invalid_argument);
    EXPECT_EQ(image.picture(0).width(), 6);
}

TEST(FrameFilters, NamesAreUniqueAndFoundBack)
{
    for (const FrameFilterInfo &info : frameFilters())
        EXPECT_EQ(frameFilterByName(info.name), info.filter) << info.name;
    EXPECT_EQ(frameFilterByName("rotate"), std::nullopt);
}
