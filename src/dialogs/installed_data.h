#pragma once

#include <QString>

namespace dialogs {

/**
 * The path of one of the program's data files (share/movaro-gif/NAME), or an empty string when it is
 * not there. Looked for beside the executable first, so an installation under any prefix and the
 * build tree (which has the same layout) find their own copy, then in the XDG data folders.
 */
QString installedDataFile(const QString &name);

/** The list of third-party material (libraries, icons, fonts) with its licences, for the about box;
 *  empty when the file is missing. */
QString thirdPartyNotices();

} // namespace dialogs
