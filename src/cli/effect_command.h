#pragma once

#include <CLI/CLI.hpp>

namespace cli {

/** `effect NAME IN OUT --frame K [options]`: one transition in front of a frame, as the Effets menu makes it. */
void addEffectCommand(CLI::App &tool);

} // namespace cli
