#pragma once

#include <CLI/CLI.hpp>

namespace cli {

/** `filter NAME IN OUT [--frame K]`: one filter on one frame, as the editor's menu command runs it. */
void addFilterCommand(CLI::App &tool);

} // namespace cli
