#include "settings/cache_settings.h"
#include "settings/settings_store.h"

#include <QStandardPaths>
#include <QtTest>

using settings::RecentList;

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void promoteRecent_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("after");
        const QStringList abcd{"A", "B", "C", "D"};
        QTest::newRow("first stays") << abcd << "A" << abcd;
        QTest::newRow("third moves up") << abcd << "C" << QStringList{"C", "A", "B", "D"};
        QTest::newRow("last moves up") << abcd << "D" << QStringList{"D", "A", "B", "C"};
        QTest::newRow("new drops the last") << abcd << "E" << QStringList{"E", "A", "B", "C"};
        QTest::newRow("case matters") << abcd << "a" << QStringList{"a", "A", "B", "C"};
        QTest::newRow("empty list") << QStringList{"", "", "", ""} << "A" << QStringList{"A", "", "", ""};
    }

    void promoteRecent()
    {
        QFETCH(QStringList, before);
        QFETCH(QString, file);
        QFETCH(QStringList, after);
        RecentList list;
        for (int i = 0; i < 4; ++i)
            list[std::size_t(i)] = before[i];
        const RecentList result = settings::promoteRecent(list, file);
        QStringList got;
        for (const QString &s : result)
            got << s;
        QCOMPARE(got, after);
    }

    void recentFilesLiveUnderTheirKey()
    {
        QStandardPaths::setTestModeEnabled(true);
        auto store = settings::openStore();
        store->clear();
        const RecentList empty{};
        const RecentList list{QStringLiteral("/tmp/a.gif"), QString(), QString(), QString()};
        settings::writeRecentFiles(*store, empty, list);
        QCOMPARE(store->value(QStringLiteral("Software/Movaro Gif/Recent/F1")).toString(), QStringLiteral("/tmp/a.gif"));
        QVERIFY(!store->contains(QStringLiteral("Software/Movaro Gif/Recent/F2"))); // unchanged values are not written
        QCOMPARE(settings::readRecentFiles(*store)[0], QStringLiteral("/tmp/a.gif"));
        store->clear();
    }

    void frameCacheBudget_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<int>("megabytes");
        QTest::newRow("missing: the default, written") << QVariant() << 512;
        QTest::newRow("a number") << QVariant(QStringLiteral("1024")) << 1024;
        QTest::newRow("spaces around") << QVariant(QStringLiteral(" 200 ")) << 200;
        QTest::newRow("too small") << QVariant(QStringLiteral("1")) << 32;
        QTest::newRow("negative") << QVariant(QStringLiteral("-5")) << 32;
        QTest::newRow("too large") << QVariant(QStringLiteral("99999999999")) << 65536;
        QTest::newRow("no number") << QVariant(QStringLiteral("beaucoup")) << 512;
    }

    void frameCacheBudget()
    {
        QFETCH(QVariant, stored);
        QFETCH(int, megabytes);
        QStandardPaths::setTestModeEnabled(true);
        auto store = settings::openStore();
        store->clear();
        if (stored.isValid())
            store->setValue(settings::frameCacheKey, stored);
        QCOMPARE(settings::readFrameCacheMegabytes(*store), megabytes);
        if (!stored.isValid())
            QCOMPARE(store->value(settings::frameCacheKey).toInt(), 512);
        store->clear();
    }
};

QTEST_MAIN(TestSettings)
#include "test_settings.moc"
