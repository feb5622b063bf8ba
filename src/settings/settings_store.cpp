#include "settings_store.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTemporaryDir>

namespace settings {

std::unique_ptr<QSettings> openStore()
{
    auto store = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Movaro Gif"),
                                             QStringLiteral("Movaro Gif"));
    // Qt parses a file once and serves later opens from memory without the parse error: a file
    // found damaged stays so for as long as it is not changed on disk.
    static QString damagedMark;
    const QFileInfo file(store->fileName());
    const QString mark = file.exists() ? QStringLiteral("%1|%2|%3")
                                             .arg(file.filePath())
                                             .arg(file.size())
                                             .arg(file.lastModified().toMSecsSinceEpoch())
                                       : QString();
    const bool damaged = store->status() != QSettings::NoError || (file.exists() && !file.isReadable())
                         || (!mark.isEmpty() && mark == damagedMark);
    if (!damaged)
        return store;
    damagedMark = mark;
    // A damaged or unreadable file is the user's to mend: it is left exactly as it is (Qt would
    // write back only what it could parse), and this run starts from the defaults and keeps what
    // it changes in a store of its own, gone when the program ends.
    static const QTemporaryDir own;
    return std::make_unique<QSettings>(own.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
}

RecentList promoteRecent(const RecentList &list, const QString &file)
{
    if (list[0] == file)
        return list;
    RecentList out = list;
    std::size_t k = list.size() - 1; // a new file drops the last entry
    for (std::size_t i = 1; i < list.size(); ++i) {
        if (list[i] == file) {
            k = i;
            break;
        }
    }
    for (std::size_t i = k; i > 0; --i)
        out[i] = list[i - 1];
    out[0] = file;
    return out;
}

static QString valueName(std::size_t i)
{
    return QStringLiteral("F%1").arg(i + 1);
}

RecentList readRecentFiles(QSettings &store)
{
    RecentList list;
    store.beginGroup(recentKey);
    for (std::size_t i = 0; i < list.size(); ++i)
        list[i] = store.value(valueName(i)).toString();
    store.endGroup();
    return list;
}

void writeRecentFiles(QSettings &store, const RecentList &before, const RecentList &list)
{
    store.beginGroup(recentKey);
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i] != before[i])
            store.setValue(valueName(i), list[i]);
    store.endGroup();
    store.sync();
}

} // namespace settings
