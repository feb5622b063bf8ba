#pragma once

#include <CLI/CLI.hpp>

namespace cli {

/** `open IN OUT`, `optimize IN OUT` and `frames IN DIR`: the editor's open, save and optimised save. */
void addFileCommands(CLI::App &tool);

} // namespace cli
