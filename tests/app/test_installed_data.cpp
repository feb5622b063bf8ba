#include "dialogs/installed_data.h"

#include <QtTest>

// The build tree has the installed layout (bin/ and tests/ beside share/movaro-gif/), so these
// lookups go the same way as in an installation.
class TestInstalledData : public QObject
{
    Q_OBJECT

private slots:
    void thirdPartyListIsFoundBesideTheProgram()
    {
        const QString notices = dialogs::thirdPartyNotices();
        QVERIFY2(notices.contains(QStringLiteral("GPL-3.0-or-later")), qPrintable(notices.left(200)));
        QVERIFY(notices.contains(QStringLiteral("GraphicsMagick")));
        QVERIFY(dialogs::installedDataFile(QStringLiteral("third-party.txt")).endsWith(QStringLiteral("/share/movaro-gif/third-party.txt")));
    }

    void missingFileGivesNoPath()
    {
        QCOMPARE(dialogs::installedDataFile(QStringLiteral("no-such-file.txt")), QString());
    }
};

QTEST_MAIN(TestInstalledData)
#include "test_installed_data.moc"
