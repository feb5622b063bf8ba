// A long editing session on an opened animation, for the undo history's memory bound: EDITS edits
// (filters, flips, delays, duplicates and deletes, on frames spread over the animation), then the
// process's peak memory and what the history keeps (bench/peers/undo.sh runs it).
//
// Usage: undo_tool FILE.gif [EDITS] [BOUND_MB]
//   EDITS     how many edits (default 500)
//   BOUND_MB  the history's bound in megabytes (default: the editor's own, 200)
// Prints one line of key=value figures; sizes in MB. kept_newest says whether the steps kept are
// the newest ones, in order (the oldest are the ones dropped).

#include "app/mainform.h"
#include "app/undo_commands.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSpinBox>
#include <QStandardPaths>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

/** Every question answered Yes, no file dialog: the session runs alone. */
class YesPrompter : public app::Prompter
{
public:
    app::Answer ask(app::MessageKind, const QString &, app::Buttons buttons) override
    {
        return buttons == app::Buttons::Ok || buttons == app::Buttons::OkCancel ? app::Answer::Ok : app::Answer::Yes;
    }
    QStringList chooseOpenFiles(const app::FileDialogSpec &, bool) override { return {}; }
    QString chooseSaveFile(const app::FileDialogSpec &) override { return {}; }
};

/** VmHWM or VmRSS of this process in megabytes. */
double statusMb(const char *field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(in, line))
        if (line.compare(0, key.size(), key) == 0)
            return std::stod(line.substr(key.size())) / 1024.0;
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QStandardPaths::setTestModeEnabled(true); // the editor's settings stay the user's own
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: undo_tool FILE.gif [EDITS] [BOUND_MB]\n");
        return 2;
    }
    const int edits = argc > 2 ? std::atoi(argv[2]) : 500;

    app::TMainform form;
    form.setPrompter(std::make_unique<YesPrompter>());
    form.openFromCommandLine(QString::fromLocal8Bit(argv[1]));
    if (!form.document() || form.document()->count() < 2) {
        std::fprintf(stderr, "cannot open %s as an animation\n", argv[1]);
        return 1;
    }
    app::UndoHistory &history = form.history();
    if (argc > 3)
        history.setByteLimit(std::size_t(std::atoll(argv[3])) << 20);
    const int frames = form.document()->count();
    const double openRss = statusMb("VmRSS");

    // Duplicate and delete come in pairs, so the animation keeps its length.
    const char *const names[] = {"Couleurs inversées", "Retourner horizontalement", "Délai", "Dupliquer",
                                 "Supprimer l'image"};
    std::vector<QString> done;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < edits; ++i) {
        const int kind = i % 5;
        if (kind != 4)
            form.selectFrame((i * 37) % frames);
        switch (kind) {
        case 0: form.Inverserlescouleurs1Click(); break;
        case 1: form.Horizontalement1Click(); break;
        case 2:
            form.Period->setValue(10 + i % 50 + (form.Period->value() == 10 + i % 50 ? 1 : 0));
            history.endEditSession();
            break;
        case 3: form.DupClick(); break;
        case 4: form.DelClick(); break; // the copy, selected by the duplicate
        }
        done.push_back(QString::fromUtf8(names[kind]));
    }
    const double seconds = double(clock.nsecsElapsed()) / 1e9;

    const QUndoStack &stack = history.stack();
    const int kept = stack.count();
    bool newest = kept <= int(done.size());
    for (int k = 0; newest && k < kept; ++k)
        newest = stack.command(k)->text() == done[done.size() - std::size_t(kept) + std::size_t(k)];
    std::printf("edits=%d frames=%d kept_steps=%d kept_newest=%s held=%.1f bound=%.1f rss_open=%.1f "
                "rss_end=%.1f peak_rss=%.1f seconds=%.2f\n",
                edits, form.document()->count(), kept, newest ? "yes" : "no", double(history.heldBytes()) / 1048576.0,
                double(history.byteLimit()) / 1048576.0, openRss, statusMb("VmRSS"), statusMb("VmHWM"), seconds);
    form.setModified(false);
    return 0;
}
