#pragma once

#include <CLI/CLI.hpp>

namespace cli {

/** `export [--level L] [--lossy N] [--colours C] [--dither D] [--drop-every N] [--fit-under KB] [--sizes] IN OUT`. */
void addExportCommand(CLI::App &tool);

} // namespace cli
