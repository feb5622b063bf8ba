#pragma once

namespace cli {

/** `effect NAME IN.gif OUT.gif --frame K [options]`: arguments after the subcommand's name. */
int effect(int argc, char **argv);

} // namespace cli
