// movaro-gif-cli info: a GIF file as the reader sees it, every record, for scripts (JSON) or people.
#include "info_command.h"

#include "cli_common.h"
#include "json.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace cli {

namespace {

using namespace doc;

struct InfoOptions
{
    std::string file;
    bool text = false;
};

std::string extensionJson(const TGIFExtension &e)
{
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

std::string infoJson(const TGIFImage &image, const std::vector<std::string> &warnings)
{
    const TGIFHeader &h = image.header;
    std::string out = "{\"version\":" + jsonString(std::string(h.version.data(), 3))
                      + ",\"width\":" + std::to_string(h.width) + ",\"height\":" + std::to_string(h.height)
                      + ",\"background\":" + std::to_string(h.background) + ",\"aspect\":" + std::to_string(h.aspect)
                      + ",\"global_colors\":" + std::to_string(h.colorMap.count()) + ",\"frames\":[";
    for (int i = 0; i < image.count(); ++i) {
        const TGIFSubImage &f = image.frame(i);
        out += (i ? "," : "");
        out += "{\"left\":" + std::to_string(f.left) + ",\"top\":" + std::to_string(f.top)
               + ",\"width\":" + std::to_string(f.width) + ",\"height\":" + std::to_string(f.height)
               + ",\"interlaced\":" + jsonBool(f.interlaced) + ",\"local_colors\":" + std::to_string(f.colorMap().count())
               + ",\"sorted\":" + jsonBool(f.colorMap().sorted) + ",\"transparent\":" + jsonBool(f.transparent())
               + ",\"extensions\":[";
        for (int e = 0; e < f.extensionCount(); ++e)
            out += (e ? "," : "") + extensionJson(*f.extension(e));
        out += "]}";
    }
    out += "],\"warnings\":[";
    for (std::size_t i = 0; i < warnings.size(); ++i)
        out += (i ? "," : "") + jsonString(warnings[i]);
    return out + "]}\n";
}

// The few facts a person looks for: size, frames, timing, looping, comment, and what was wrong.
std::string infoText(const std::string &name, const TGIFImage &image, const std::vector<std::string> &warnings)
{
    const TGIFHeader &h = image.header;
    long long total = 0;
    std::string frames;
    std::string loops = "plays once";
    std::vector<std::string> comments;
    for (int i = 0; i < image.count(); ++i) {
        const TGIFSubImage &f = image.frame(i);
        std::string line = "  frame " + std::to_string(i + 1) + ": " + std::to_string(f.width) + " x "
                           + std::to_string(f.height) + " at " + std::to_string(f.left) + "," + std::to_string(f.top);
        for (int e = 0; e < f.extensionCount(); ++e) {
            const TGIFExtension &x = *f.extension(e);
            if (x.kind() == ExtensionKind::GraphicControl) {
                const auto &g = static_cast<const TGIFGraphicControlExtension &>(x);
                total += g.delay;
                line += ", delay " + std::to_string(g.delay) + ", disposal " + std::to_string(g.disposal());
            } else if (x.kind() == ExtensionKind::Loop) {
                const auto loopCount = static_cast<const TGIFAppExtNSLoop &>(x).loops;
                loops = loopCount == 0 ? "loops forever" : "loop count " + std::to_string(loopCount);
            } else if (x.kind() == ExtensionKind::Comment) {
                for (const std::string &l : static_cast<const TGIFCommentExtension &>(x).lines)
                    comments.push_back(l);
            }
        }
        if (f.colorMap().count())
            line += ", " + std::to_string(f.colorMap().count()) + " local colours";
        if (f.transparent())
            line += ", transparent";
        if (f.interlaced)
            line += ", interlaced";
        frames += line + "\n";
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", double(total) / 100.0);
    std::string out = displayName(name) + ": GIF" + std::string(h.version.data(), 3) + ", " + std::to_string(h.width)
                      + " x " + std::to_string(h.height) + ", " + std::to_string(image.count())
                      + (image.count() == 1 ? " frame" : " frames") + ", " + seconds + " s, " + loops + "\n";
    if (h.colorMap.count())
        out += "  global colour table: " + std::to_string(h.colorMap.count()) + " colours\n";
    for (const std::string &c : comments)
        out += "  comment: " + c + "\n";
    out += frames;
    for (const std::string &w : warnings)
        out += "  warning: " + w + "\n";
    return out;
}

void info(const InfoOptions &options)
{
    std::vector<std::string> warnings;
    const TGIFImage image = readGif(options.file, false, [&](const std::string &w) { warnings.push_back(w); });
    const std::string out = options.text ? infoText(options.file, image, warnings) : infoJson(image, warnings);
    std::fwrite(out.data(), 1, out.size(), stdout);
}

} // namespace

void addInfoCommand(CLI::App &tool)
{
    auto options = std::make_shared<InfoOptions>();
    CLI::App *command = tool.add_subcommand(
        "info", "Describe a GIF file as read: every frame and record, the warnings (JSON or --text)");
    command->add_option("FILE", options->file, kInHelp)->required();
    command->add_flag("--text", options->text, "A short summary for people instead of JSON");
    command->callback([options] { info(*options); });
}

} // namespace cli
