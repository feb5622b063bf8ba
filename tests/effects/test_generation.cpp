// The generation run on a real document: where the frames go, their delays, and what a failure
// part-way leaves behind.
#include "effects/canvas.h"
#include "effects/generation.h"

#include "document/document_ops.h"

#include <gtest/gtest.h>

using doc::Picture;
using doc::Rgb;
using doc::TGIFImage;
using namespace effects;

namespace {

/** Three frames of one grey level each (10, 120, 250), 6 × 4, delay 50. */
TGIFImage threeGreys()
{
    TGIFImage document;
    for (uint8_t level : {10, 120, 250})
        doc::AddImage(document, workingPicture(6, 4, {level, level, level}), 50);
    return document;
}

uint8_t level(const TGIFImage &document, int i)
{
    return document.picture(i).pixel(0, 0).r;
}

int delay(const TGIFImage &document, int i)
{
    return document.frame(i).graphicControl()->delay;
}

GenerationResult runOn(TGIFImage &document, int k, Effect effect, EffectSettings settings = {})
{
    const EffectInput input = inputFor(document, k, k >= 0 && k < document.count() ? document.picture(k) : Picture(), 6, 4);
    return generateFrames(document, k, effect, input, settings);
}

} // namespace

TEST(Generation, FramesGoInFrontOfTheSelectedOneInReverseOrder)
{
    TGIFImage document = threeGreys();
    const GenerationResult result = runOn(document, 2, Effect::Fade);
    EXPECT_TRUE(result.completed);
    EXPECT_EQ(result.inserted, 9);
    ASSERT_EQ(document.count(), 12);
    EXPECT_EQ(level(document, 0), 10);
    EXPECT_EQ(level(document, 1), 120);
    // Generation went from frame 2's picture towards frame 1's: the document shows the reverse.
    EXPECT_EQ(level(document, 2), 120);
    EXPECT_EQ(level(document, 10), 250);
    for (int i = 3; i <= 10; ++i)
        EXPECT_GE(level(document, i), level(document, i - 1));
    EXPECT_EQ(level(document, 11), 250); // the formerly selected frame
    for (int i = 2; i <= 10; ++i)
        EXPECT_EQ(delay(document, i), 0) << i;
    for (int i : {0, 1, 11})
        EXPECT_EQ(delay(document, i), 50) << i;
    EXPECT_EQ(document.frame(5).graphicControl()->disposal(), 2);
    EXPECT_EQ(document.frame(5).colorMap().count(), 256);
}

TEST(Generation, SqueezeFramesWaitEightHundredths)
{
    TGIFImage document = threeGreys();
    EXPECT_EQ(runOn(document, 1, Effect::Squeeze).inserted, 13);
    ASSERT_EQ(document.count(), 16);
    EXPECT_EQ(delay(document, 1), 8);
    EXPECT_EQ(delay(document, 13), 8);
    EXPECT_EQ(delay(document, 14), 50);
}

TEST(Generation, SilentStopsInsertNothing)
{
    const struct {
        const char *why;
        int k;
        Effect effect;
        int n;
    } cases[] = {
        {"no previous frame", 0, Effect::Replace, 8},
        {"N = 0", 1, Effect::Scroll, 0},
        {"N = 0", 1, Effect::Opacity, 0},
        {"nothing selected", -1, Effect::Squeeze, 8},
        {"past the end", 3, Effect::Scroll, 8},
    };
    for (const auto &c : cases) {
        TGIFImage document = threeGreys();
        EffectSettings settings;
        settings.count = c.n;
        const GenerationResult result = runOn(document, c.k, c.effect, settings);
        EXPECT_FALSE(result.completed) << c.why;
        EXPECT_EQ(result.inserted, 0) << c.why;
        EXPECT_EQ(document.count(), 3) << c.why;
    }
}

TEST(Generation, AFailurePartWayKeepsTheFramesMadeBeforeIt)
{
    TGIFImage document = threeGreys();
    EffectSettings settings;
    settings.count = 8; // 24 × 4 ÷ 8 = 3, so four picks and reseeds a frame
    int reseeds = 0;
    settings.seed = [&reseeds]() -> uint32_t {
        if (++reseeds > 4 * 3)
            throw std::bad_alloc();
        return uint32_t(reseeds * 7919);
    };
    const GenerationResult result = runOn(document, 2, Effect::DissolveRandom, settings);
    EXPECT_FALSE(result.completed);
    EXPECT_EQ(result.inserted, 3);
    EXPECT_EQ(document.count(), 6);
    EXPECT_EQ(level(document, 5), 250);
}
