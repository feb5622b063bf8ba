#include "cli_common.h"

#include "document/document_ops.h"
#include "document/gif_reader.h"
#include "document/open_document.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include <unistd.h>

namespace cli {

namespace fs = std::filesystem;

GlobalOptions &globalOptions()
{
    static GlobalOptions options;
    return options;
}

namespace {

/** A private folder for standard input or output on its way through the engine, which works on paths. */
class TempDir
{
public:
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "movaro-gif-cli-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw FileError("cannot create a temporary folder in " + fs::temp_directory_path().string());
        mPath = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        fs::remove_all(mPath, ignored);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    fs::path file(const char *name) const { return mPath / name; }

private:
    fs::path mPath;
};

void copyStdinTo(const fs::path &path)
{
    std::ofstream out(path, std::ios::binary);
    std::vector<char> buffer(1 << 16);
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), stdin)) > 0)
        out.write(buffer.data(), std::streamsize(n));
    if (std::ferror(stdin))
        throw FileError("standard input: read error");
    if (!out.flush())
        throw FileError("standard input: cannot keep it in " + path.string());
}

} // namespace

std::string displayName(const std::string &name)
{
    return name == "-" ? std::string("standard input") : name;
}

doc::TGIFImage readGif(const std::string &name, bool forEditing, const doc::TGIFImage::WarningHandler &onWarning)
{
    std::optional<TempDir> temp;
    std::string path = name;
    if (name == "-") {
        temp.emplace();
        // The editor opens files named .gif only.
        path = temp->file("stdin.gif").string();
        copyStdinTo(path);
    } else {
        // The window's check: a missing path or a folder is no file to open.
        std::error_code ec;
        if (!fs::exists(name, ec) || fs::is_directory(name, ec))
            throw FileError(name + ": Le fichier n'existe pas");
    }
    try {
        if (forEditing) {
            Progress progress("lecture");
            doc::TGIFImage image = doc::openForEditing(path, progress.handler());
            image.onProgress = nullptr; // it names this progress line, which ends here
            return image;
        }
        doc::TGIFImage image;
        image.onWarning = onWarning;
        doc::loadFromFile(image, path);
        return image;
    } catch (const std::exception &e) {
        throw FileError(displayName(name) + ": Format de fichier invalide. (" + e.what() + ")");
    }
}

doc::TGIFAppExtNSLoop *keepPanelProperties(doc::TGIFImage &image)
{
    doc::TGIFAppExtNSLoop *loop = doc::LoopExtension(&image);
    doc::storeCommentText(image, doc::commentText(image));
    return loop;
}

void writeGif(const std::string &name, const std::function<void(const std::string &path)> &save)
{
    if (name != "-") {
        try {
            save(name);
        } catch (const std::exception &e) {
            throw FileError(name + ": " + e.what());
        }
        return;
    }
    // Written whole first, so a failure sends nothing half-made down the pipe.
    TempDir temp;
    const fs::path path = temp.file("stdout.gif");
    try {
        save(path.string());
    } catch (const std::exception &e) {
        throw FileError(std::string("standard output: ") + e.what());
    }
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() || std::fflush(stdout) != 0)
        throw FileError("standard output: write error");
}

Progress::Progress(std::string label)
    : mLabel(std::move(label))
    , mShown(!globalOptions().quiet && isatty(STDERR_FILENO))
{
}

Progress::~Progress()
{
    if (mShown && mLast >= 0)
        std::fprintf(stderr, "\r%*s\r", int(mLabel.size()) + 24, "");
}

void Progress::percent(int value)
{
    if (!mShown || value == mLast)
        return;
    mLast = value;
    std::fprintf(stderr, "\rmovaro-gif-cli: %s %3d %%", mLabel.c_str(), value);
    std::fflush(stderr);
}

doc::TGIFImage::ProgressHandler Progress::handler()
{
    return [this](doc::ProgressStage, const std::string &, int value) { percent(value); };
}

int run(CLI::App &tool, int argc, char **argv)
{
    tool.failure_message([](const CLI::App *app, const CLI::Error &e) {
        std::string command = "movaro-gif-cli";
        for (const CLI::App *sub : app->get_subcommands())
            command += " " + sub->get_name();
        return "movaro-gif-cli: " + std::string(e.what()) + "\nSee " + command + " --help\n";
    });
    try {
        tool.parse(argc, argv);
        return 0;
    } catch (const CLI::CallForHelp &e) {
        return tool.exit(e);
    } catch (const CLI::CallForAllHelp &e) {
        return tool.exit(e);
    } catch (const CLI::CallForVersion &e) {
        return tool.exit(e);
    } catch (const CLI::ParseError &e) {
        tool.exit(e);
        return 2;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "movaro-gif-cli: %s\n", e.what());
        return 1;
    }
}

} // namespace cli
