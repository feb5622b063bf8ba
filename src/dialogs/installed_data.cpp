#include "dialogs/installed_data.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace dialogs {

QString installedDataFile(const QString &name)
{
    const QString relative = QStringLiteral("movaro-gif/") + name;
    const QString besideProgram = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../share/") + relative);
    if (QFileInfo::exists(besideProgram))
        return QDir::cleanPath(besideProgram);
    return QStandardPaths::locate(QStandardPaths::GenericDataLocation, relative);
}

QString thirdPartyNotices()
{
    QFile file(installedDataFile(QStringLiteral("third-party.txt")));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll());
}

} // namespace dialogs
