#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>

namespace settings {

/** The per-user store: an INI file in the user's configuration folder. */
std::unique_ptr<QSettings> openStore();

/** Path of the key holding the recent files, below the store's root. */
inline const QString recentKey = QStringLiteral("Software/Movaro Gif/Recent");

using RecentList = std::array<QString, 4>;

/**
 * Moves `file` to the front of the list: nothing changes when it is already first; an entry
 * found further down moves up and the ones before it shift down; a new one drops the last.
 * Paths compare exactly, case included.
 */
RecentList promoteRecent(const RecentList &list, const QString &file);

/** The four recent files "F1".."F4" (empty when absent); the key is created when missing. */
RecentList readRecentFiles(QSettings &store);

/** Writes the entries of `list` that differ from `before`. */
void writeRecentFiles(QSettings &store, const RecentList &before, const RecentList &list);

} // namespace settings
