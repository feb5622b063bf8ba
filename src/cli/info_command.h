#pragma once

#include <CLI/CLI.hpp>

namespace cli {

/** `info [--text] FILE`: the document as read, as JSON or as a short summary. */
void addInfoCommand(CLI::App &tool);

} // namespace cli
