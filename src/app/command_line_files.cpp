#include "command_line_files.h"

#include "mainform.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

namespace app {

void openCommandLineFiles(TMainform &mainform, const QStringList &files)
{
    if (files.isEmpty())
        return;
    // The others start first, so that a message about this window's file does not hold them back.
    // Absolute paths: a name beginning with "-" must not read as an option of the new process.
    for (qsizetype i = 1; i < files.size(); ++i)
        QProcess::startDetached(QCoreApplication::applicationFilePath(), {QFileInfo(files.at(i)).absoluteFilePath()});
    mainform.openFromCommandLine(files.constFirst());
}

} // namespace app
