#pragma once

#include <CLI/CLI.hpp>

namespace cli {

/** `make [-d DELAY] [-l COUNT|forever] [-c COMMENT] -o OUT PICTURE...`, or `make --video CLIP ...`. */
void addMakeCommand(CLI::App &tool);

} // namespace cli
