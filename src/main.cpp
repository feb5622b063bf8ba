#include "app/mainform.h"
#include "app/startup.h"
#include "document/frame_store.h"
#include "settings/cache_settings.h"
#include "settings/settings_store.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    // Frames spilled to disk by a run that died are of no use to anyone now.
    doc::removeStaleSpillFiles();
    QApplication::setApplicationName(QStringLiteral("Movaro Gif"));
    QApplication::setOrganizationName(QStringLiteral("Movaro Gif"));
    // The installed desktop entry and icon carry this id; the bundled icon serves a build tree.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.movarogif.MovaroGif"));
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("org.movarogif.MovaroGif"), QIcon(QStringLiteral(":/icons/movaro-gif.png"))));

    // The interface is French: Qt's own buttons and dialogs follow.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::French), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    doc::setFrameCacheBudget(std::size_t(settings::readFrameCacheMegabytes(*settings::openStore())) << 20);

    const std::unique_ptr<app::TMainform> editor = app::startEditor(QApplication::arguments().mid(1));
    return QApplication::exec();
}
