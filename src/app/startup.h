#pragma once

#include <QStringList>

#include <functional>
#include <memory>

namespace app {

class TMainform;

/**
 * The start-up sequence up to the event loop: the splash window, the main window and the dialogs
 * in their order, a new animation, the file named first in `files` (which then stays open and
 * skips the welcome dialog), the welcome dialog unless it is switched off, the how-to window at the
 * first two start-ups, and the hint timer. `prepared` runs as soon as the main window exists
 * (tests install their prompter there). Returns the main window, shown.
 */
std::unique_ptr<TMainform> startEditor(const QStringList &files,
                                       const std::function<void(TMainform &)> &prepared = {});

} // namespace app
