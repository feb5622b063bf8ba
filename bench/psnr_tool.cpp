// PSNR of a GIF's composed frames against another's, over R, G and B of every frame taken together
// (one mean squared error), as ImageMagick's compare gives it frame by frame on coalesced frames
// but in one pass. When the two hold different frame counts (one merged repeated pictures into
// longer ones), each frame of the first is compared with what the second shows at its start time.
//
// Usage: psnr_tool REFERENCE.gif OTHER.gif   prints "PSNR frames" (PSNR "inf" when identical)

#include "document/composer.h"
#include "document/gif_image.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <fstream>
#include <vector>

namespace {

doc::TGIFImage load(const char *path)
{
    std::ifstream stream(path, std::ios::binary);
    if (!stream)
        throw std::runtime_error("cannot open");
    doc::TGIFImage image;
    image.LoadFromStream(stream);
    return image;
}

/** The start time (in hundredths) of each composer frame. */
std::vector<long> startTimes(const doc::TGIFImage &image, const doc::FrameComposer &composer)
{
    std::vector<long> starts;
    long t = 0;
    int last = -1;
    for (int i = 0; i < image.count(); ++i) {
        const int c = composer.composerIndex(i);
        if (c != last && composer.count() > 0) {
            starts.push_back(t);
            last = c;
        }
        if (const auto *g = image.frame(i).graphicControl())
            t += g->delay;
    }
    starts.resize(std::size_t(composer.count()), t);
    return starts;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: psnr_tool REFERENCE.gif OTHER.gif\n");
        return 2;
    }
    try {
        const doc::TGIFImage a = load(argv[1]), b = load(argv[2]);
        doc::FrameComposer ca(a), cb(b);
        if (ca.width() != cb.width() || ca.height() != cb.height()) {
            std::fprintf(stderr, "screens differ in size\n");
            return 1;
        }
        const std::vector<long> sa = startTimes(a, ca), sb = startTimes(b, cb);
        const bool sameCount = ca.count() == cb.count();
        // PSNR_FRAMES=1 also prints each frame's mean squared error.
        const bool perFrame = std::getenv("PSNR_FRAMES") != nullptr;
        double sum = 0, before = 0;
        std::size_t samples = 0;
        int j = 0;
        doc::Picture pb;
        for (int i = 0; i < ca.count(); ++i) {
            const doc::Picture pa = ca.ComposedFrame(i);
            int want = i;
            if (!sameCount) {
                want = j;
                while (want + 1 < cb.count() && sb[std::size_t(want + 1)] <= sa[std::size_t(i)])
                    ++want;
            }
            // The second composer builds on its previous result, so it only moves forward.
            while (j <= want) {
                pb = cb.ComposedFrame(j);
                ++j;
            }
            for (int y = 0; y < pa.height(); ++y) {
                const uint8_t *ra = pa.row(y), *rb = pb.row(y);
                for (std::size_t x = 0; x < pa.stride(); ++x) {
                    const double d = double(ra[x]) - double(rb[x]);
                    sum += d * d;
                }
            }
            samples += pa.stride() * std::size_t(pa.height());
            if (perFrame)
                std::printf("frame %d mse %.4f\n", i, (sum - before) / double(pa.stride() * std::size_t(pa.height())));
            before = sum;
        }
        const double mse = samples ? sum / double(samples) : 0;
        if (mse == 0)
            std::printf("inf %d\n", ca.count());
        else
            std::printf("%.2f %d\n", 10 * std::log10(255.0 * 255.0 / mse), ca.count());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
