#include "app/mainform.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Movaro Gif"));
    QApplication::setOrganizationName(QStringLiteral("Movaro Gif"));

    // The interface is French: Qt's own buttons and dialogs follow.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::French), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    app::TMainform mainform;
    mainform.show();
    return QApplication::exec();
}
