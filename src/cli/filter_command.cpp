// movaro-gif-cli filter: one filter on one frame, as the editor's menu command runs it.
#include "filter_command.h"

#include "document/document_ops.h"
#include "document/gif_writer.h"
#include "document/open_document.h"
#include "filters/frame_filter.h"

#include <charconv>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace cli {

namespace {

int filterUsage()
{
    std::string names;
    for (const filters::FrameFilterInfo &f : filters::frameFilters())
        names += (names.empty() ? "" : ", ") + std::string(f.name);
    std::fprintf(stderr, "usage: movaro-gif-cli filter NAME IN.gif OUT.gif [--frame K]\n  NAME: %s\n", names.c_str());
    return 2;
}

} // namespace

int filter(int argc, char **argv)
{
    std::vector<std::string> positional;
    int frame = 0;
    for (int i = 0; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--frame") {
            if (i + 1 >= argc)
                return filterUsage();
            const std::string v = argv[++i];
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), frame);
            if (ec != std::errc() || end != v.data() + v.size())
                return filterUsage();
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 3)
        return filterUsage();
    const auto which = filters::frameFilterByName(positional[0]);
    if (!which)
        return filterUsage();

    doc::TGIFImage image = doc::openForEditing(positional[1]);
    if (frame < 0 || frame >= image.count())
        throw std::runtime_error("no frame " + std::to_string(frame) + " (the animation has "
                                 + std::to_string(image.count()) + ")");
    // The view shows the selected frame's picture whole: the inversion covers all of it.
    const doc::Picture current = image.picture(frame);
    const doc::Picture result = filters::applyFilter(*which, current, current.width(), current.height());
    filters::writeBack(image, frame, *which, result);

    // Save stores the properties panel's looping and comment, as after `open`.
    doc::LoopExtension(&image);
    doc::storeCommentLines(image, doc::splitLines(doc::joinLines(doc::commentLines(image))));
    doc::saveToFile(image, positional[2]);
    return 0;
}

} // namespace cli
