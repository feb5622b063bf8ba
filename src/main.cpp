#include "app/command_line_files.h"
#include "app/mainform.h"
#include "document/frame_store.h"

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

    app::TMainform mainform;
    mainform.show();
    mainform.repaint();

    // An empty untitled animation first; a file named on the command line is then opened and
    // stays open.
    mainform.FileNewItemClick();
    app::openCommandLineFiles(mainform, QApplication::arguments().mid(1));

    mainform.startHintTimer();
    return QApplication::exec();
}
