#include "settings_store.h"

namespace settings {

std::unique_ptr<QSettings> openStore()
{
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Movaro Gif"),
                                       QStringLiteral("Movaro Gif"));
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
