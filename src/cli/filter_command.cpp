// movaro-gif-cli filter: one filter on one frame, as the editor's menu command runs it.
#include "filter_command.h"

#include "cli_common.h"

#include "document/document_ops.h"
#include "document/gif_writer.h"
#include "filters/frame_filter.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace cli {

namespace {

struct FilterOptions
{
    std::string name;
    std::string in;
    std::string out;
    int frame = 0;
};

void filter(const FilterOptions &options)
{
    const filters::FrameFilter which = *filters::frameFilterByName(options.name);
    doc::TGIFImage image = readGif(options.in, true);
    if (options.frame < 0 || options.frame >= image.count())
        throw std::runtime_error("no frame " + std::to_string(options.frame) + " (the animation has "
                                 + std::to_string(image.count()) + ")");
    // The view shows the selected frame's picture whole: the inversion covers all of it.
    const doc::Picture current = image.picture(options.frame);
    const doc::Picture result = filters::applyFilter(which, current, current.width(), current.height());
    filters::writeBack(image, options.frame, which, result);

    keepPanelProperties(image);
    writeGif(options.out, [&](const std::string &path) { doc::saveToFile(image, path); });
}

} // namespace

void addFilterCommand(CLI::App &tool)
{
    auto options = std::make_shared<FilterOptions>();
    std::vector<std::string> names;
    for (const filters::FrameFilterInfo &f : filters::frameFilters())
        names.emplace_back(f.name);
    CLI::App *command = tool.add_subcommand("filter", "Apply one filter to one frame, as the Image menu does");
    command->add_option("NAME", options->name, "The filter")->required()->check(CLI::IsMember(names));
    command->add_option("IN", options->in, kInHelp)->required();
    command->add_option("OUT", options->out, kOutHelp)->required();
    command->add_option("--frame", options->frame, "Index of the frame, from 0 (default 0)");
    command->callback([options] { filter(*options); });
}

} // namespace cli
