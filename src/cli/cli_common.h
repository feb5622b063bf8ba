#pragma once
// What every movaro-gif-cli subcommand shares: the global options, "-" for standard input and
// output, the window's words for files that cannot be read, and the progress line.

#include "document/gif_image.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

namespace cli {

/** A file that could not be read or written: exit status 1, the message on stderr. */
struct FileError : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

/** The tool's global options (--quiet), set before any subcommand runs. */
struct GlobalOptions
{
    bool quiet = false;
};
GlobalOptions &globalOptions();

/** Help texts of the file arguments, where "-" is allowed. */
inline constexpr const char *kInHelp = "GIF file to read (- reads standard input)";
inline constexpr const char *kOutHelp = "GIF file to write (- writes standard output)";

/**
 * A GIF named on the command line, read as `info` and `optimize` read it (every record as in the
 * file) or, with `forEditing`, as the editor's Open does. "-" reads standard input. Failures become
 * a FileError in the window's words ("Le fichier n'existe pas", "Format de fichier invalide.")
 * followed by the reason.
 */
doc::TGIFImage readGif(const std::string &name, bool forEditing, const doc::TGIFImage::WarningHandler &onWarning = {});

/**
 * What the editor's properties panel does to a document it shows and then saves: the first frame
 * gets a looping extension (returned; nullptr without frames), and the comment goes through the
 * panel's UTF-8 text and back, as Save stores it.
 */
doc::TGIFAppExtNSLoop *keepPanelProperties(doc::TGIFImage &image);

/**
 * Writes a GIF to the file `name` with `save` (which writes a path, e.g. doc::saveToFile); "-"
 * writes it to standard output once complete. Failures become a FileError.
 */
void writeGif(const std::string &name, const std::function<void(const std::string &path)> &save);

/** The display name of a file argument in messages. */
std::string displayName(const std::string &name);

/**
 * A progress line on stderr for long jobs, drawn only when stderr is a terminal and --quiet is not
 * given, and erased when done.
 */
class Progress
{
public:
    explicit Progress(std::string label);
    ~Progress();
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;

    void percent(int value);
    void step(std::size_t done, std::size_t total) { percent(total ? int(done * 100 / total) : 100); }
    /** The engine's progress notifications, as the window's status bar receives them. */
    doc::TGIFImage::ProgressHandler handler();

private:
    std::string mLabel;
    bool mShown;
    int mLast = -1;
};

/** Parses the command line and runs the chosen subcommand; the exit status: 0, 1 or 2. */
int run(CLI::App &tool, int argc, char **argv);

} // namespace cli
