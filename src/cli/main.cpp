// movaro-gif-cli: the editor's engine for batch use and black-box checks. Each subcommand lives in
// its own file and adds itself here with one line.
#include "cli_common.h"
#include "effect_command.h"
#include "export_command.h"
#include "file_commands.h"
#include "filter_command.h"
#include "info_command.h"
#include "make_command.h"

int main(int argc, char **argv)
{
    CLI::App tool{"movaro-gif-cli: read, write, optimise and build animated GIF files with the Movaro Gif engine.\n"
                  "Where a file is expected, - is standard input or output. Exit status: 0 success, 1 a file\n"
                  "that could not be read or written, 2 a usage error.",
                  "movaro-gif-cli"};
    tool.set_version_flag("--version", "movaro-gif-cli " MOVARO_VERSION);
    tool.add_flag("-q,--quiet", cli::globalOptions().quiet, "No progress line on the standard error");
    tool.require_subcommand(1);
    tool.fallthrough();
    // Commands go through the frames once or twice in order: a small cache of decoded frames serves them.
    doc::setFrameCacheBudget(std::size_t(96) << 20);
    doc::setSpillBudget(std::size_t(128) << 20);
    doc::removeStaleSpillFiles();

    cli::addInfoCommand(tool);
    cli::addFileCommands(tool);
    cli::addMakeCommand(tool);
    cli::addFilterCommand(tool);
    cli::addEffectCommand(tool);
    cli::addExportCommand(tool);

    return cli::run(tool, argc, argv);
}
