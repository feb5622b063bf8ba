#pragma once

#include <QStringList>

namespace app {

class TMainform;

/**
 * The files named on the command line (several when a file manager opens a selection): the first
 * opens in this window, each further one in a window of its own, started as a new process of this
 * program so that every window has its own document, title, save question and settings.
 */
void openCommandLineFiles(TMainform &mainform, const QStringList &files);

} // namespace app
