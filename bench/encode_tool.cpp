// Times our whole GIF write (TGIFImage::SaveToStream into memory) on frames decoded by giflib, so
// it sees exactly the indices that giflib's EGifSpew encodes in gifharness. Prints one line in
// the harness's format:
//   encode_tool FILE REPS [OUT]

#include "document/gif_image.h"

#include <gif_lib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

doc::TGIFColorMap toColorMap(const ColorMapObject *map)
{
    doc::TGIFColorMap out;
    if (map)
        for (int i = 0; i < map->ColorCount; ++i)
            out.entries.push_back({map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue});
    return out;
}

/** The frame's extension blocks as giflib keeps them, back into our records. */
void copyExtensions(const SavedImage &s, doc::TGIFSubImage &frame)
{
    for (int e = 0; e < s.ExtensionBlockCount; ++e) {
        const ExtensionBlock &b = s.ExtensionBlocks[e];
        auto continuation = [&](int k) {
            return k < s.ExtensionBlockCount && s.ExtensionBlocks[k].Function == CONTINUE_EXT_FUNC_CODE;
        };
        if (b.Function == GRAPHICS_EXT_FUNC_CODE && b.ByteCount >= 4) {
            auto *g = static_cast<doc::TGIFGraphicControlExtension *>(
                frame.appendExtension(std::make_unique<doc::TGIFGraphicControlExtension>()));
            g->packed = b.Bytes[0];
            g->delay = uint16_t(b.Bytes[1] | b.Bytes[2] << 8);
            g->transparentIndex = b.Bytes[3];
            frame.setGraphicControl(g);
        } else if (b.Function == APPLICATION_EXT_FUNC_CODE && b.ByteCount == 11) {
            const std::string id(reinterpret_cast<const char *>(b.Bytes), 11);
            if (id == "NETSCAPE2.0" && continuation(e + 1) && s.ExtensionBlocks[e + 1].ByteCount >= 3) {
                auto loop = std::make_unique<doc::TGIFAppExtNSLoop>();
                const GifByteType *d = s.ExtensionBlocks[e + 1].Bytes;
                loop->loops = uint16_t(d[1] | d[2] << 8);
                frame.appendExtension(std::move(loop));
            } else {
                auto app = std::make_unique<doc::TGIFUnknownAppExtension>();
                app->identifier = id;
                for (int k = e + 1; continuation(k); ++k)
                    app->subBlocks.emplace_back(s.ExtensionBlocks[k].Bytes,
                                                s.ExtensionBlocks[k].Bytes + s.ExtensionBlocks[k].ByteCount);
                frame.appendExtension(std::move(app));
            }
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FILE REPS [OUT]\n", argv[0]);
        return 1;
    }
    const int reps = std::max(1, std::atoi(argv[2]));
    int err = 0;
    GifFileType *gif = DGifOpenFileName(argv[1], &err);
    if (!gif || DGifSlurp(gif) != GIF_OK) {
        std::fprintf(stderr, "encode_tool: %s: %s\n", argv[1], GifErrorString(gif ? gif->Error : err));
        return 2;
    }

    doc::TGIFImage image;
    image.header.width = uint16_t(gif->SWidth);
    image.header.height = uint16_t(gif->SHeight);
    image.header.colorMap = toColorMap(gif->SColorMap);
    long long pixels = 0;
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage &s = gif->SavedImages[i];
        doc::TGIFSubImage frame;
        frame.left = uint16_t(s.ImageDesc.Left);
        frame.top = uint16_t(s.ImageDesc.Top);
        frame.width = uint16_t(s.ImageDesc.Width);
        frame.height = uint16_t(s.ImageDesc.Height);
        frame.setColorMap(toColorMap(s.ImageDesc.ColorMap));
        const std::size_t area = std::size_t(frame.width) * frame.height;
        frame.setPixels(std::vector<uint8_t>(s.RasterBits, s.RasterBits + area));
        pixels += (long long)area;
        copyExtensions(s, frame);
        image.appendFrame(std::move(frame));
    }
    const int frames = gif->ImageCount;
    DGifCloseFile(gif, &err);

    std::vector<double> times;
    std::string last;
    for (int r = 0; r < reps; ++r) {
        // A fresh copy each time, untimed, as the harness copies giflib's frames for each EGifSpew:
        // the process CPU times of both sides then count the same work.
        const doc::TGIFImage copy(image);
        std::ostringstream out;
        const auto t0 = std::chrono::steady_clock::now();
        copy.SaveToStream(out);
        last = out.str();
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    if (argc > 3) {
        std::ofstream(argv[3], std::ios::binary).write(last.data(), std::streamsize(last.size()));
    }
    std::sort(times.begin(), times.end());
    const double median = reps % 2 ? times[std::size_t(reps / 2)]
                                   : 0.5 * (times[std::size_t(reps / 2 - 1)] + times[std::size_t(reps / 2)]);
    std::printf("mode=encode frames=%d pixels=%lld bytes=%zu reps=%d min_s=%.6f median_s=%.6f max_s=%.6f "
                "mpix_per_s_median=%.1f mpix_per_s_best=%.1f\n",
                frames, pixels, last.size(), reps, times.front(), median, times.back(),
                double(pixels) / median / 1e6, double(pixels) / times.front() / 1e6);
    return 0;
}
