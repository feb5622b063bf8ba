// The size-hunting LZW encoder: whatever it chooses, the codes decode to the indices it reports,
// exact input stays exact, chosen pixels take one of their two allowed indices, and lossy pixels
// stay near their colour.

#include "document/gif_reader.h"
#include "document/lzw_tuned.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>

using namespace doc;

namespace {

std::vector<uint8_t> decode(const TunedCodes &tuned, int width, int height, int minCodeSize)
{
    CompressedPixels c;
    c.width = width;
    c.height = height;
    c.minCodeSize = minCodeSize;
    c.codes = tuned.codes;
    c.codes.insert(c.codes.end(), 8, uint8_t(0));
    bool underrun = false;
    try {
        const FramePixels rows = decodeFramePixels(c.codes.data(), tuned.codes.size(), c, &underrun);
        EXPECT_FALSE(underrun);
        return *rows.toIndices();
    } catch (const std::exception &e) {
        ADD_FAILURE() << "the codes do not decode: " << e.what();
        return {};
    }
}

/** Pictures that drive the table through its corners: noise fills it fast, runs build long chains. */
std::vector<uint8_t> picture(const std::string &kind, int w, int h, int colors, std::mt19937 &rng)
{
    std::vector<uint8_t> px(std::size_t(w) * h);
    for (std::size_t i = 0; i < px.size(); ++i) {
        const int x = int(i % w), y = int(i / w);
        if (kind == "noise")
            px[i] = uint8_t(rng() % colors);
        else if (kind == "runs")
            px[i] = uint8_t((x / 37 + y / 5) % colors);
        else // mostly flat with specks, like a screen region
            px[i] = rng() % 50 ? uint8_t((y / 20) % colors) : uint8_t(rng() % colors);
    }
    return px;
}

} // namespace

TEST(LzwTuned, CodesDecodeToWhatTheEncoderReports)
{
    std::mt19937 rng(7);
    struct Case {
        std::string kind;
        int w, h, colors, minCodeSize;
    };
    const Case cases[] = {
        {"noise", 300, 200, 256, 8}, {"noise", 97, 61, 4, 2},  {"runs", 640, 480, 256, 8},
        {"runs", 1, 5000, 3, 2},     {"screen", 400, 300, 16, 4}, {"screen", 1, 1, 2, 2},
    };
    std::vector<Rgb> palette(256);
    for (int i = 0; i < 256; ++i)
        palette[std::size_t(i)] = Rgb{uint8_t(i), uint8_t(i * 7), uint8_t(255 - i)};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.kind + " " + std::to_string(c.w) + "x" + std::to_string(c.h));
        const std::vector<uint8_t> original = picture(c.kind, c.w, c.h, c.colors, rng);

        std::vector<uint8_t> exact = original;
        const TunedCodes plain = encodeTunedLzw(exact, c.w, c.minCodeSize);
        EXPECT_EQ(exact, original);
        EXPECT_EQ(decode(plain, c.w, c.h, c.minCodeSize), original);

        // Blocks and specks of pixels that may be written transparent: each one comes back as its
        // index or the transparent one, every other pixel exactly.
        std::vector<uint8_t> mayBeTransparent(original.size());
        for (std::size_t i = 0; i < original.size(); ++i)
            mayBeTransparent[i] = (i % c.w / 16 + i / c.w / 16) % 2 == 0 || rng() % 5 == 0;
        LzwTuning free;
        free.transparentIndex = c.colors - 1;
        free.mayBeTransparent = &mayBeTransparent;
        std::vector<uint8_t> chosen = original;
        const TunedCodes either = encodeTunedLzw(chosen, c.w, c.minCodeSize, free);
        ASSERT_EQ(decode(either, c.w, c.h, c.minCodeSize), chosen);
        for (std::size_t i = 0; i < chosen.size(); ++i)
            if (chosen[i] != original[i])
                ASSERT_TRUE(mayBeTransparent[i] && chosen[i] == free.transparentIndex) << i;

        for (const int lossy : {20, 80, 200}) {
            for (const bool mayBe : {false, true}) {
                SCOPED_TRACE("lossy " + std::to_string(lossy) + (mayBe ? " with pixels that may be transparent" : ""));
                std::vector<uint8_t> near = original;
                LzwTuning tuning;
                tuning.lossy = lossy;
                tuning.palette = &palette;
                tuning.transparentIndex = 1;
                if (mayBe)
                    tuning.mayBeTransparent = &mayBeTransparent;
                const TunedCodes codes = encodeTunedLzw(near, c.w, c.minCodeSize, tuning);
                ASSERT_EQ(decode(codes, c.w, c.h, c.minCodeSize), near);
                if (!mayBe) // specks that may be transparent break strings the exact codes keep
                    EXPECT_LE(codes.codes.size(), plain.codes.size() + 8);
                for (std::size_t i = 0; i < near.size(); ++i) {
                    // The transparent index is never traded for a colour, nor taken where it may not be.
                    if (original[i] == 1 || near[i] == 1) {
                        ASSERT_TRUE(original[i] == near[i] || (mayBe && mayBeTransparent[i] && near[i] == 1)) << i;
                        continue;
                    }
                    const Rgb a = palette[original[i]], b = palette[near[i]];
                    const int d = (a.r - b.r) * (a.r - b.r) + (a.g - b.g) * (a.g - b.g) + (a.b - b.b) * (a.b - b.b);
                    ASSERT_LE(d, lossyRadius(lossy) * lossyRadius(lossy)) << i;
                }
            }
        }
    }
}

TEST(LzwTuned, LossyShrinksNoisyPicturesAndZeroIsExact)
{
    std::mt19937 rng(11);
    std::vector<Rgb> palette(256);
    for (int i = 0; i < 256; ++i)
        palette[std::size_t(i)] = Rgb{uint8_t(i), uint8_t(i), uint8_t(i)};
    // A grey ramp with noise of a few levels: what lossy compression is for.
    std::vector<uint8_t> px(200 * 200);
    for (std::size_t i = 0; i < px.size(); ++i)
        px[i] = uint8_t(std::clamp(int(i % 200) + int(rng() % 7) - 3, 0, 255));
    std::vector<uint8_t> a = px, b = px;
    LzwTuning zero;
    zero.palette = &palette;
    LzwTuning eighty = zero;
    eighty.lossy = 80;
    const std::size_t exact = encodeTunedLzw(a, 200, 8, zero).codes.size();
    const std::size_t lossy = encodeTunedLzw(b, 200, 8, eighty).codes.size();
    EXPECT_EQ(a, px);
    EXPECT_LT(lossy * 2, exact);
}

TEST(LzwTuned, MoreLossNeverCostsMoreBytes)
{
    // A noisy photograph-like ramp and a screen-like picture of flat bands with specks.
    std::mt19937 rng(5);
    std::vector<Rgb> palette(256);
    for (int i = 0; i < 256; ++i)
        palette[std::size_t(i)] = Rgb{uint8_t(i), uint8_t(255 - i / 2), uint8_t(i / 3 * 2)};
    const int w = 160, h = 120;
    std::vector<uint8_t> ramp(std::size_t(w) * h);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = uint8_t(std::clamp(int(i % w) + int(i / w) / 2 + int(rng() % 9) - 4, 0, 255));
    const std::vector<uint8_t> screen = picture("screen", w, h, 256, rng);
    const std::vector<uint8_t> *pictures[] = {&ramp, &screen};
    for (const std::vector<uint8_t> *original : pictures) {
        std::size_t lastBytes = std::numeric_limits<std::size_t>::max();
        for (const int lossy : {0, 5, 10, 20, 40, 60, 80, 120, 160, 200}) {
            std::vector<uint8_t> px = *original;
            LzwTuning tuning;
            tuning.lossy = lossy;
            tuning.palette = &palette;
            const std::size_t bytes = encodeTunedLzw(px, w, 8, tuning).codes.size();
            EXPECT_LE(bytes, lastBytes) << "lossy " << lossy << (original == &ramp ? " ramp" : " screen");
            lastBytes = bytes;
        }
    }
}
