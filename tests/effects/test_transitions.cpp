// The transition generators on small pictures: frame counts, positions and band sizes, the blend
// levels, the random dissolve's picks, and one golden run per effect.
#include "effects/canvas.h"
#include "effects/transitions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using doc::Picture;
using doc::PixelFormat;
using doc::Rgb;
using namespace effects;

namespace {

// One colour per label: the current picture's pixels are letters, the previous one's digits.
const std::string kLabels = "abcdefgh12345678wks";

Rgb labelColour(char label)
{
    if (label == 'w')
        return {255, 255, 255};
    if (label == 'k')
        return {0, 0, 0};
    const auto i = uint8_t(kLabels.find(label));
    return {uint8_t(20 + 11 * i), uint8_t(200 - 9 * i), uint8_t(i % 2 ? 40 : 160)};
}

/** An 8-bit picture whose table holds every label's colour, rows given as strings. */
Picture labelled(const std::vector<std::string> &rows)
{
    Picture p(int(rows[0].size()), int(rows.size()), PixelFormat::Indexed8);
    for (char c : kLabels)
        p.palette().push_back(labelColour(c));
    for (int y = 0; y < p.height(); ++y)
        for (int x = 0; x < p.width(); ++x)
            p.row(y)[x] = uint8_t(kLabels.find(rows[std::size_t(y)][std::size_t(x)]));
    return p;
}

/** The picture as labels, rows separated by '/'; '?' for a colour no label has. */
std::string labels(const Picture &p)
{
    std::string out;
    for (int y = 0; y < p.height(); ++y) {
        if (y)
            out += '/';
        for (int x = 0; x < p.width(); ++x) {
            const Rgb c = p.pixel(x, y);
            char found = '?';
            for (char l : kLabels)
                if (labelColour(l) == c)
                    found = l;
            out += found;
        }
    }
    return out;
}

Picture solid(int w, int h, Rgb c)
{
    return workingPicture(w, h, c);
}

/** The pictures of one run in generation order; throws what the generator throws. */
std::vector<Picture> run(Effect effect, const EffectInput &input, const EffectSettings &settings = {})
{
    std::vector<Picture> out;
    generate(effect, input, settings, [&](Picture p) { out.push_back(std::move(p)); });
    return out;
}

/** The same, or what was made before the generator stopped. */
std::vector<Picture> runUntilStopped(Effect effect, const EffectInput &input, const EffectSettings &settings)
{
    std::vector<Picture> out;
    try {
        generate(effect, input, settings, [&](Picture p) { out.push_back(std::move(p)); });
    } catch (const EffectStopped &) {
    }
    return out;
}

EffectInput pair(Picture current, std::optional<Picture> previous)
{
    EffectInput input;
    input.width = current.width();
    input.height = current.height();
    input.screenWidth = input.width;
    input.screenHeight = input.height;
    input.viewWidth = input.width;
    input.viewHeight = input.height;
    input.frame = current;
    input.current = std::move(current);
    input.previous = std::move(previous);
    return input;
}

EffectInput letters()
{
    return pair(labelled({"abcd", "efgh"}), labelled({"1234", "5678"}));
}

int countWhere(const Picture &p, Rgb c)
{
    int n = 0;
    for (int y = 0; y < p.height(); ++y)
        for (int x = 0; x < p.width(); ++x)
            n += p.pixel(x, y) == c;
    return n;
}

} // namespace

TEST(FrameCount, DurationTimesRateOverAHundredHalvesToEven)
{
    const struct {
        int duration, rate, n;
    } cases[] = {{80, 10, 8}, {25, 2, 0}, {75, 2, 2}, {50, 1, 0}, {150, 1, 2}, {125, 2, 2}, {200, 30, 60}, {1, 1, 0}};
    for (const auto &c : cases)
        EXPECT_EQ(frameCount(c.duration, c.rate), c.n) << c.duration << " x " << c.rate;
}

TEST(Generators, FramesPerCommandAndCount)
{
    const struct {
        Effect effect;
        int n;
        int frames;
    } cases[] = {
        {Effect::Scroll, 8, 9},          {Effect::Scroll, 1, 2},          {Effect::Scroll, 0, 0},
        {Effect::Replace, 8, 9},         {Effect::Replace, 0, 0},         {Effect::Wipe, 8, 9},
        {Effect::Wipe, 0, 0},            {Effect::SplitVertical, 8, 8},   {Effect::SplitVertical, 0, 0},
        {Effect::SplitHorizontal, 3, 3}, {Effect::Dazzle, 3, 3},          {Effect::Dazzle, 0, 0},
        {Effect::Squeeze, 0, 13},        {Effect::Fade, 8, 9},            {Effect::Fade, 0, 1},
        {Effect::DissolveRandom, 4, 5},  {Effect::DissolveRandom, 0, 0},  {Effect::Dissolve, 0, 1},
        {Effect::Dissolve, 8, 1},        {Effect::Opacity, 3, 4},         {Effect::Opacity, 0, 0},
    };
    for (const auto &c : cases) {
        EffectSettings settings;
        settings.count = c.n;
        EXPECT_EQ(int(runUntilStopped(c.effect, letters(), settings).size()), c.frames)
            << "effect " << int(c.effect) << ", N = " << c.n;
    }
}

TEST(Generators, EffectsReadingThePreviousFrameStopWithoutIt)
{
    for (Effect e : {Effect::Replace, Effect::Wipe, Effect::SplitVertical, Effect::SplitHorizontal, Effect::Fade,
                     Effect::DissolveRandom, Effect::Dissolve}) {
        EffectInput input = letters();
        input.previous.reset();
        EXPECT_THROW(run(e, input), EffectStopped) << int(e);
    }
    EffectInput input = letters();
    input.previous.reset();
    EXPECT_EQ(run(Effect::Scroll, input).size(), 9u); // reads no previous frame
}

// One run per effect on a 4 × 2 pair, N = 2 unless said; frames in generation order.
TEST(Generators, GoldenPictures)
{
    const struct {
        const char *name;
        Effect effect;
        int direction, wipe, n;
        std::vector<std::string> frames;
    } cases[] = {
        {"scroll right", Effect::Scroll, 0, 0, 2, {"abcd/efgh", "cdss/ghss", "ssss/ssss"}},
        {"scroll left", Effect::Scroll, 1, 0, 2, {"abcd/efgh", "ssab/ssef", "ssss/ssss"}},
        {"scroll down", Effect::Scroll, 2, 0, 2, {"abcd/efgh", "efgh/ssss", "ssss/ssss"}},
        {"scroll up", Effect::Scroll, 3, 0, 2, {"abcd/efgh", "ssss/abcd", "ssss/ssss"}},
        {"replace right", Effect::Replace, 0, 0, 2, {"abcd/efgh", "cd34/gh78", "1234/5678"}},
        {"replace up", Effect::Replace, 3, 0, 2, {"abcd/efgh", "1234/abcd", "1234/5678"}},
        {"wipe across", Effect::Wipe, 0, 0, 2, {"abcd/efgh", "ab34/ef78", "1234/5678"}},
        {"wipe down", Effect::Wipe, 0, 1, 2, {"abcd/efgh", "abcd/5678", "1234/5678"}},
        {"split vertical", Effect::SplitVertical, 0, 0, 2, {"abcd/efgh", "1234/5678"}},
        {"split horizontal", Effect::SplitHorizontal, 0, 0, 2, {"abcd/efgh", "2bc3/6fg7"}},
        {"dazzle", Effect::Dazzle, 0, 0, 2, {"abcd/efgh", "2bc3/6fg7"}},
        {"dissolve", Effect::Dissolve, 0, 0, 2, {"1234/5678"}},
        {"opacity", Effect::Opacity, 0, 0, 1, {"abcd/efgh", "abcd/efgh"}},
    };
    for (const auto &c : cases) {
        EffectSettings settings;
        settings.count = c.n;
        settings.direction = c.direction;
        settings.wipeDirection = c.wipe;
        settings.colour = labelColour('s');
        const std::vector<Picture> frames = run(c.effect, letters(), settings);
        std::vector<std::string> got;
        for (const Picture &p : frames)
            got.push_back(labels(p));
        EXPECT_EQ(got, c.frames) << c.name;
    }
}

TEST(Generators, GoldenSqueeze)
{
    // A 13-pixel view: bands of round(13 / 13) = 1 pixel a step, the picture stretched into them.
    EffectInput input = letters();
    input.viewWidth = 13;
    input.viewHeight = 2;
    const std::vector<Picture> frames = run(Effect::Squeeze, input);
    ASSERT_EQ(frames.size(), 13u);
    EXPECT_EQ(labels(frames[0]), "kkkkkkakkkkkk/kkkkkkekkkkkk");
    EXPECT_EQ(labels(frames[1]), "kkkkkkakkkkkk/kkkkkkekkkkkk"); // l = round(5.5) = 6 again
    EXPECT_EQ(labels(frames[6]), "kkkaabbccdkkk/kkkeeffgghkkk");
    EXPECT_EQ(labels(frames[12]), "aaaabbbcccddd/eeeefffggghhh");
}

TEST(Generators, GoldenRandomDissolve)
{
    // Screen 4 × 3, N = 2: q = 6, seven picks a frame, x < 3 and y < 2; seeds 1000, 1001, ...
    EffectInput input = letters();
    input.screenHeight = 3;
    EffectSettings settings;
    settings.count = 2;
    uint32_t seed = 1000;
    settings.seed = [&seed] { return seed++; };
    const std::vector<Picture> frames = run(Effect::DissolveRandom, input, settings);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(labels(frames[0]), "1b34/5f78");
    EXPECT_EQ(labels(frames[1]), "1bc4/5fg8");
    EXPECT_EQ(labels(frames[2]), "abc4/5fg8");
    EXPECT_EQ(seed, 1021u);
}

// Where the scrolled picture stands, in document order (the reverse of generation order).
TEST(Generators, ScrollPositions)
{
    const struct {
        int direction, w, h, n;
        std::vector<int> positions;
    } cases[] = {
        {0, 100, 1, 8, {-100, -88, -76, -64, -52, -40, -28, -16, -4}},
        {1, 100, 1, 8, {100, 88, 76, 64, 52, 40, 28, 16, 4}},
        {3, 1, 50, 4, {50, 38, 26, 14, 2}},
        {2, 1, 50, 4, {-50, -38, -26, -14, -2}},
        {0, 10, 1, 1, {-10, 0}},
    };
    for (const auto &c : cases) {
        EffectSettings settings;
        settings.count = c.n;
        settings.direction = c.direction;
        std::vector<Picture> frames = run(Effect::Scroll, pair(solid(c.w, c.h, {0, 0, 0}), std::nullopt), settings);
        std::reverse(frames.begin(), frames.end());
        std::vector<int> got;
        const int extent = c.direction < 2 ? c.w : c.h;
        for (const Picture &p : frames) {
            const int shown = countWhere(p, {0, 0, 0});
            got.push_back(c.direction % 2 == 0 ? shown - extent : extent - shown);
        }
        EXPECT_EQ(got, c.positions) << "direction " << c.direction;
    }
}

TEST(Generators, WipeBandsInDocumentOrderOnThePreviousFramesSize)
{
    const struct {
        int wipe, w, h, n;
        std::vector<int> bands;
    } cases[] = {
        {0, 100, 1, 8, {4, 16, 28, 40, 52, 64, 76, 88, 100}},
        {1, 1, 50, 4, {2, 14, 26, 38, 50}},
    };
    for (const auto &c : cases) {
        EffectSettings settings;
        settings.count = c.n;
        settings.wipeDirection = c.wipe;
        // The previous frame is larger: the frames keep its size, the band only covers its corner.
        const Picture previous = workingPicture(c.w + 3, c.h + 2);
        std::vector<Picture> frames =
            run(Effect::Wipe, pair(solid(c.w, c.h, {0, 0, 0}), previous), settings);
        std::reverse(frames.begin(), frames.end());
        std::vector<int> got;
        for (const Picture &p : frames) {
            EXPECT_EQ(p.width(), c.w + 3);
            EXPECT_EQ(p.height(), c.h + 2);
            got.push_back(countWhere(p, {0, 0, 0}) / (c.wipe == 0 ? c.h : c.w));
        }
        EXPECT_EQ(got, c.bands) << "wipe " << c.wipe;
    }
}

// The previous picture (black) splits along the middle; how much of each band is left, in
// document order. The white gap between them is 2t.
TEST(Generators, SeparationBands)
{
    const struct {
        int extent, n;
        std::vector<int> first, second; // black rows (columns) left above (left of) and below the gap
    } cases[] = {
        {100, 4, {38, 25, 12, 0}, {38, 25, 12, 0}}, // t = 12, 25, 38, 50
        {5, 4, {1, 1, 0, 0}, {2, 2, 1, 1}},         // h = 2: bands of 2 and 3 rows; t = 1, 1, 2, 2
        {7, 4, {3, 2, 1, 0}, {2, 1, 0, 0}},         // h = 4: bands of 4 and 3 rows; t = 1, 2, 3, 4
    };
    for (bool vertical : {true, false}) {
        for (const auto &c : cases) {
            EffectSettings settings;
            settings.count = c.n;
            const Picture current = vertical ? solid(3, c.extent, {255, 255, 255}) : solid(c.extent, 3, {255, 255, 255});
            const Picture previous = vertical ? solid(3, c.extent, {0, 0, 0}) : solid(c.extent, 3, {0, 0, 0});
            std::vector<Picture> frames =
                run(vertical ? Effect::SplitVertical : Effect::SplitHorizontal, pair(current, previous), settings);
            std::reverse(frames.begin(), frames.end());
            std::vector<int> first, second;
            for (const Picture &p : frames) {
                auto black = [&](int i) { return vertical ? p.pixel(1, i) == Rgb{} : p.pixel(i, 1) == Rgb{}; };
                int lead = 0, tail = 0;
                while (lead < c.extent && black(lead))
                    ++lead;
                while (tail < c.extent && black(c.extent - 1 - tail))
                    ++tail;
                first.push_back(lead);
                second.push_back(tail);
            }
            EXPECT_EQ(first, c.first) << (vertical ? "vertical " : "horizontal ") << c.extent;
            EXPECT_EQ(second, c.second) << (vertical ? "vertical " : "horizontal ") << c.extent;
        }
    }
}

TEST(Generators, SeparationOverASmallerPreviousFrameShowsWhiteWhereItEnds)
{
    // Previous 2 × 3 under a current picture of 2 × 6: the lower band reads rows 3 to 5, which
    // the previous frame does not have; they come out white, never read out of bounds.
    EffectSettings settings;
    settings.count = 3; // t = 1, 2, 3 in document order
    const std::vector<Picture> frames =
        run(Effect::SplitVertical, pair(solid(2, 6, {0, 0, 200}), solid(2, 3, {0, 0, 0})), settings);
    const Picture &first = frames.back(); // t = 1: top band rows 1-2 at 0-1, bottom band from row 4
    EXPECT_EQ(first.pixel(0, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(first.pixel(0, 2), (Rgb{0, 0, 200}));
    EXPECT_EQ(first.pixel(0, 4), (Rgb{255, 255, 255}));
    EXPECT_EQ(first.pixel(0, 5), (Rgb{255, 255, 255}));
}

TEST(Generators, SqueezeBandsAtA650PixelView)
{
    EffectInput input = pair(solid(10, 4, {255, 255, 255}), std::nullopt);
    input.viewWidth = 650;
    input.viewHeight = 3;
    std::vector<Picture> frames = run(Effect::Squeeze, input);
    std::reverse(frames.begin(), frames.end());
    std::vector<int> widths;
    for (const Picture &p : frames) {
        EXPECT_EQ(p.width(), 650);
        EXPECT_EQ(p.height(), 3);
        widths.push_back(countWhere(p, {255, 255, 255}) / 3);
    }
    EXPECT_EQ(widths, (std::vector<int>{650, 600, 550, 500, 450, 400, 350, 300, 250, 200, 150, 100, 50}));
}

TEST(Generators, FadeLevels)
{
    const struct {
        int n;
        std::vector<int> levels; // generation order
    } cases[] = {
        {8, {0, 28, 79, 137, 189, 226, 245, 253, 255}},
        {1, {0, 128}},
        {0, {0}},
    };
    for (const auto &c : cases) {
        EffectSettings settings;
        settings.count = c.n;
        const std::vector<Picture> frames =
            run(Effect::Fade, pair(solid(2, 2, {0, 0, 0}), solid(2, 2, {255, 255, 255})), settings);
        std::vector<int> levels;
        for (const Picture &p : frames) {
            EXPECT_EQ(countWhere(p, p.pixel(0, 0)), 4);
            levels.push_back(p.pixel(0, 0).g);
        }
        EXPECT_EQ(levels, c.levels) << "N = " << c.n;
    }
}

TEST(Generators, FadeBlendsTheDocumentsFrameNotTheViewsCopyAndKeepsWhatThePreviousDoesNotCover)
{
    EffectInput input = pair(solid(3, 2, {0, 0, 0}), solid(2, 1, {255, 255, 255}));
    input.current = solid(3, 2, {9, 9, 9}); // a filtered view copy: not what the fade reads
    EffectSettings settings;
    settings.count = 1;
    const std::vector<Picture> frames = run(Effect::Fade, input, settings);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].pixel(1, 0), (Rgb{128, 128, 128}));
    EXPECT_EQ(frames[1].pixel(2, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(frames[1].pixel(0, 1), (Rgb{0, 0, 0}));
}

TEST(Generators, RandomDissolveNeverPicksTheLastColumnOrRow)
{
    // 10 × 10, N = 4: q = 25, so 26 picks (and reseeds) a frame, five frames.
    EffectInput input = pair(solid(10, 10, {255, 255, 255}), solid(10, 10, {0, 0, 0}));
    EffectSettings settings;
    settings.count = 4;
    uint32_t seed = 0x9E3779B9u, reseeds = 0;
    settings.seed = [&] {
        ++reseeds;
        return seed += 0x6A09E667u; // spread the picks over the whole screen
    };
    const std::vector<Picture> frames = run(Effect::DissolveRandom, input, settings);
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(reseeds, 5u * 26u);
    const Picture &last = frames.back();
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(last.pixel(9, i), Rgb{}) << "row " << i;
        EXPECT_EQ(last.pixel(i, 9), Rgb{}) << "column " << i;
    }
    EXPECT_GT(countWhere(last, {255, 255, 255}), 40); // the picks did land elsewhere
}

TEST(Generators, RandomDissolveDropsPicksOutsideASmallerPreviousFrame)
{
    EffectInput input = pair(solid(10, 10, {255, 255, 255}), solid(3, 2, {0, 0, 0}));
    EffectSettings settings;
    settings.count = 2;
    uint32_t seed = 1;
    settings.seed = [&] { return seed *= 2654435761u; };
    const std::vector<Picture> frames = run(Effect::DissolveRandom, input, settings);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames.back().width(), 3);
    EXPECT_EQ(frames.back().height(), 2);
}

TEST(Canvas, DrawingOnAnIndexedCopyTakesTheNearestColourOfItsTable)
{
    Picture copy(2, 1, PixelFormat::Indexed8);
    copy.palette() = {{0, 0, 0}, {200, 0, 0}, {0, 0, 200}, {200, 0, 0}};
    draw(copy, solid(2, 1, {150, 20, 0}), 0, 0);
    EXPECT_EQ(copy.row(0)[0], 1); // the lower of two equal entries
    EXPECT_EQ(copy.palette().size(), 4u);
    draw(copy, solid(1, 1, {10, 10, 180}), 1, 0);
    EXPECT_EQ(copy.row(0)[1], 2);
}

TEST(Canvas, DrawingFarOutsideTheTargetDrawsNothing)
{
    Picture target = workingPicture(3, 3);
    const Picture before = target;
    for (auto [x, y] : std::vector<std::pair<int, int>>{{-3, 0}, {3, 0}, {0, -3}, {0, 3}, {-2000000000, 5}, {2000000000, 0}})
        draw(target, solid(3, 3, {0, 0, 0}), x, y);
    stretchDraw(target, solid(3, 3, {0, 0, 0}), 1, 0, 0, 3);
    EXPECT_EQ(target.data(), before.data());
}
