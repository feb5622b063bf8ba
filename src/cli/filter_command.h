#pragma once

namespace cli {

/** `filter NAME IN.gif OUT.gif [--frame K]`: arguments after the subcommand's name. */
int filter(int argc, char **argv);

} // namespace cli
