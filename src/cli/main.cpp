// movaro-gif-cli: the editor's engine for batch use and black-box checks.
#include "filter_command.h"
#include "effect_command.h"
#include "json.h"
#include "make_video.h"
#include "png_output.h"

#include "document/composer.h"
#include "document/document_ops.h"
#include "document/gif_error.h"
#include "document/gif_optimize.h"
#include "document/gif_reader.h"
#include "document/gif_writer.h"
#include "document/open_document.h"
#include "document/quantize.h"
#include "document/formats/picture_formats.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <algorithm>
#include <filesystem>
#include <future>
#include <thread>
#include <iostream>
#include <string>
#include <vector>

namespace {

using namespace doc;

int usage()
{
    std::fputs("usage:\n"
               "  movaro-gif-cli info FILE.gif\n"
               "  movaro-gif-cli open IN.gif OUT.gif\n"
               "  movaro-gif-cli optimize IN.gif OUT.gif\n"
               "  movaro-gif-cli frames IN.gif DIR\n"
               "  movaro-gif-cli make [-d DELAY] [-l COUNT|forever] [-c COMMENT] -o OUT.gif PICTURE...\n"
               "  movaro-gif-cli filter NAME IN.gif OUT.gif [--frame K]\n"
               "  movaro-gif-cli make --video CLIP [--start S] [--end S] [--fps N] [--width W]\n"
               "                      [--colors octree|grayscale|websafe] [-l COUNT|forever] -o OUT.gif\n"
               "  movaro-gif-cli effect NAME IN.gif OUT.gif --frame K [--duration D] [--rate R] [--direction 0-3]\n"
               "                 [--wipe 0|1] [--colour RRGGBB] [--view WxH] [--seed S]\n",
               stderr);
    return 2;
}

std::string extensionJson(const TGIFExtension &e)
{
    using cli::jsonBool;
    using cli::jsonString;
    auto linesJson = [](const std::vector<std::string> &lines) {
        std::string out = "[";
        for (std::size_t i = 0; i < lines.size(); ++i)
            out += (i ? "," : "") + jsonString(lines[i]);
        return out + "]";
    };
    switch (e.kind()) {
    case ExtensionKind::GraphicControl: {
        const auto &g = static_cast<const TGIFGraphicControlExtension &>(e);
        return "{\"kind\":\"graphic-control\",\"disposal\":" + std::to_string(g.disposal())
               + ",\"user_input\":" + jsonBool(g.userInput()) + ",\"transparent\":" + jsonBool(g.transparent())
               + ",\"delay\":" + std::to_string(g.delay)
               + ",\"transparent_index\":" + std::to_string(g.transparentIndex) + "}";
    }
    case ExtensionKind::Loop: {
        const auto &l = static_cast<const TGIFAppExtNSLoop &>(e);
        return "{\"kind\":\"loop\",\"id\":" + jsonString(l.identifier) + ",\"count\":" + std::to_string(l.loops)
               + ",\"buffer\":" + std::to_string(l.bufferSize) + "}";
    }
    case ExtensionKind::Comment:
        return "{\"kind\":\"comment\",\"lines\":" + linesJson(static_cast<const TGIFCommentExtension &>(e).lines)
               + "}";
    case ExtensionKind::Text:
        return "{\"kind\":\"text\",\"lines\":" + linesJson(static_cast<const TGIFTextExtension &>(e).lines) + "}";
    case ExtensionKind::UnknownApplication:
        return "{\"kind\":\"application\",\"id\":"
               + jsonString(static_cast<const TGIFUnknownAppExtension &>(e).identifier) + "}";
    }
    return "{}";
}

int info(const std::string &path)
{
    TGIFImage image;
    std::vector<std::string> warnings;
    image.onWarning = [&](const std::string &w) { warnings.push_back(w); };
    loadFromFile(image, path);

    const TGIFHeader &h = image.header;
    std::string out = "{\"version\":" + cli::jsonString(std::string(h.version.data(), 3))
                      + ",\"width\":" + std::to_string(h.width) + ",\"height\":" + std::to_string(h.height)
                      + ",\"background\":" + std::to_string(h.background) + ",\"aspect\":" + std::to_string(h.aspect)
                      + ",\"global_colors\":" + std::to_string(h.colorMap.count()) + ",\"frames\":[";
    for (int i = 0; i < image.count(); ++i) {
        const TGIFSubImage &f = image.frame(i);
        out += (i ? "," : "");
        out += "{\"left\":" + std::to_string(f.left) + ",\"top\":" + std::to_string(f.top)
               + ",\"width\":" + std::to_string(f.width) + ",\"height\":" + std::to_string(f.height)
               + ",\"interlaced\":" + cli::jsonBool(f.interlaced)
               + ",\"local_colors\":" + std::to_string(f.colorMap().count())
               + ",\"sorted\":" + cli::jsonBool(f.colorMap().sorted)
               + ",\"transparent\":" + cli::jsonBool(f.transparent()) + ",\"extensions\":[";
        for (int e = 0; e < f.extensionCount(); ++e)
            out += (e ? "," : "") + extensionJson(*f.extension(e));
        out += "]}";
    }
    out += "],\"warnings\":[";
    for (std::size_t i = 0; i < warnings.size(); ++i)
        out += (i ? "," : "") + cli::jsonString(warnings[i]);
    out += "]}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

int open(const std::string &in, const std::string &out)
{
    TGIFImage image = openForEditing(in);
    // The properties panel shows the looping (giving the first frame a looping extension) and the
    // comment; Save stores the comment field back.
    LoopExtension(&image);
    storeCommentText(image, commentText(image));
    saveToFile(image, out);
    return 0;
}

int optimize(const std::string &in, const std::string &out)
{
    TGIFImage image;
    loadFromFile(image, in);
    saveOptimizedToFile(image, out);
    return 0;
}

int frames(const std::string &in, const std::string &dir)
{
    TGIFImage image;
    loadFromFile(image, in);
    std::filesystem::create_directories(dir);
    FrameComposer composer(image);
    // One picture per image of the file: records after the last image are no frame of their own.
    for (int i = 0; i < composer.count(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "frame-%04d.png", i);
        cli::writePng(composer.ComposedFrame(i), (std::filesystem::path(dir) / name).string());
    }
    return 0;
}

int make(int argc, char **argv)
{
    long long delay = 60;
    long long loops = 0;
    bool comment = false;
    std::string commentText;
    std::string out;
    std::vector<std::string> pictures;
    for (int i = 0; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                throw std::runtime_error("missing value after " + a);
            return argv[++i];
        };
        if (a == "-d") {
            delay = std::stoll(value());
        } else if (a == "-l") {
            const std::string v = value();
            loops = v == "forever" ? 0 : std::stoll(v);
        } else if (a == "-c") {
            comment = true;
            commentText = value();
        } else if (a == "-o") {
            out = value();
        } else {
            pictures.push_back(a);
        }
    }
    if (out.empty() || pictures.empty())
        return usage();

    // Pictures are read and reduced on a few threads (each one alone), then appended in order:
    // the same frames AddImage makes, since it reduces and then appends.
    const std::size_t workers = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4);
    std::vector<std::future<Picture>> reduced(pictures.size());
    auto reduce = [](const std::string &path) {
        Picture picture = formats::readPicture(path);
        return ReduceBitmapColors(picture, ReductionMode::OctreeQuantize, DitherMode::NearestColor, 8);
    };
    TGIFImage image;
    std::size_t next = 0;
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        while (next < pictures.size() && next < i + workers) {
            reduced[next] = std::async(std::launch::async, reduce, pictures[next]);
            ++next;
        }
        InsertImage(image, reduced[i].get(), delay, image.count());
    }
    LoopExtension(&image)->loops = uint16_t(static_cast<unsigned long long>(loops) & 0xFFFF);
    if (comment)
        storeCommentText(image, commentText);
    saveToFile(image, out);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return usage();
    const std::string command = argv[1];
    if (command == "--version") {
        std::puts("movaro-gif-cli " MOVARO_VERSION);
        return 0;
    }
    // Commands go through the frames once or twice in order: a small cache of decoded frames serves them.
    doc::setFrameCacheBudget(std::size_t(96) << 20);
    try {
        if (command == "info" && argc == 3)
            return info(argv[2]);
        if (command == "open" && argc == 4)
            return open(argv[2], argv[3]);
        if (command == "optimize" && argc == 4)
            return optimize(argv[2], argv[3]);
        if (command == "frames" && argc == 4)
            return frames(argv[2], argv[3]);
        if (command == "make" && cli::wantsVideo(argc - 2, argv + 2))
            return cli::makeVideo(argc - 2, argv + 2);
        if (command == "make")
            return make(argc - 2, argv + 2);
        if (command == "filter")
            return cli::filter(argc - 2, argv + 2);
        if (command == "effect")
            return cli::effect(argc - 2, argv + 2);
        return usage();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "movaro-gif-cli: %s\n", e.what());
        return 1;
    }
}
