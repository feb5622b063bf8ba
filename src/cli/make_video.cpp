// movaro-gif-cli make --video: an animation from a range of a video clip, through the same
// import engine the editor's video dialog uses.
#include "make_video.h"

#include "document/document_ops.h"
#include "document/gif_writer.h"
#include "video/video_import.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

namespace cli {

namespace {

double number(const std::string &option, const std::string &text)
{
    std::size_t used = 0;
    double v = 0;
    try {
        v = std::stod(text, &used);
    } catch (const std::exception &) {
        used = 0;
    }
    if (used != text.size() || !(v >= 0))
        throw std::runtime_error("invalid value for " + option + ": " + text);
    return v;
}

int whole(const std::string &option, const std::string &text)
{
    const double v = number(option, text);
    if (v != double(int(v)))
        throw std::runtime_error("invalid value for " + option + ": " + text);
    return int(v);
}

doc::ReductionMode reduction(const std::string &text)
{
    if (text == "octree")
        return doc::ReductionMode::OctreeQuantize;
    if (text == "grayscale")
        return doc::ReductionMode::GrayScale;
    if (text == "websafe")
        return doc::ReductionMode::WebSafeCube;
    throw std::runtime_error("invalid value for --colors: " + text + " (octree, grayscale or websafe)");
}

} // namespace

bool wantsVideo(int argc, char **argv)
{
    for (int i = 0; i < argc; ++i)
        if (std::strcmp(argv[i], "--video") == 0)
            return true;
    return false;
}

int makeVideo(int argc, char **argv)
{
    video::ImportSettings settings;
    std::string clip;
    std::string out;
    long long loops = 0;
    for (int i = 0; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                throw std::runtime_error("missing value after " + a);
            return argv[++i];
        };
        if (a == "--video")
            clip = value();
        else if (a == "--start")
            settings.start = number(a, value());
        else if (a == "--end")
            settings.end = number(a, value());
        else if (a == "--fps")
            settings.fps = whole(a, value());
        else if (a == "--width")
            settings.width = whole(a, value());
        else if (a == "--colors")
            settings.mode = reduction(value());
        else if (a == "-l") {
            const std::string v = value();
            loops = v == "forever" ? 0 : whole(a, v);
        } else if (a == "-o")
            out = value();
        else
            throw std::runtime_error("unexpected argument with --video: " + a);
    }
    if (clip.empty() || out.empty())
        throw std::runtime_error("make --video needs a clip and -o OUT.gif");

    doc::TGIFImage image;
    video::importVideo(clip, settings, [&](video::VideoFrame &&frame) {
        doc::InsertImage(image, std::move(frame.picture), frame.delay, image.count());
        return true;
    });
    doc::LoopExtension(&image)->loops = uint16_t(static_cast<unsigned long long>(loops) & 0xFFFF);
    doc::saveToFile(image, out);
    return 0;
}

} // namespace cli
