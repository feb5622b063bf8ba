// The form storage: what a window's section holds, how stored texts are read back, when it writes.

#include "settings/form_storage.h"
#include "settings/settings_store.h"

#include <QCheckBox>
#include <QStandardPaths>
#include <QtTest>

using settings::FormStorage;
using settings::StoredProperty;
using settings::WindowPlacement;

namespace {

const QString group = QStringLiteral("Software/Movaro Gif/Test Settings");

/** A check mark and a counter, like the how-to window's. */
struct Controls {
    bool checked = false;
    int tag = 0;

    std::vector<StoredProperty> properties()
    {
        return {settings::integerProperty(QStringLiteral("Dontshow"), QStringLiteral("Tag"), [this] { return tag; },
                                          [this](int v) { tag = v; }),
                settings::booleanProperty(QStringLiteral("Dontshow"), QStringLiteral("Checked"),
                                          [this] { return checked; }, [this](bool v) { checked = v; })};
    }
};

QString stored(const QString &name)
{
    return settings::openStore()->value(group + QLatin1Char('/') + name).toString();
}

void store(const QString &name, const QString &value)
{
    auto s = settings::openStore();
    s->setValue(group + QLatin1Char('/') + name, value);
    s->sync();
}

/** A window whose placement the storage reads and moves. */
struct FakeWindow : settings::PlacementHook {
    WindowPlacement now;
    int ppi = 96;
    bool resizable = true;
    QList<QRect> rectangles; // applied left, top, right, bottom as x, y, x2, y2
    QList<int> showCmds;

    WindowPlacement placement() const override { return now; }
    int pixelsPerInch() const override { return ppi; }
    bool sizeable() const override { return resizable; }
    void applyRectangle(int l, int t, int r, int b) override { rectangles << QRect(QPoint(l, t), QPoint(r, b)); }
    void applyShowCmd(int cmd) override { showCmds << cmd; }
};

} // namespace

class TestFormStorage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { settings::openStore()->clear(); }

    void savesVersionAndPropertiesInTheirFormats()
    {
        Controls c;
        FormStorage storage(QStringLiteral("Test Settings"), c.properties());
        storage.restore(); // a first run: nothing stored, nothing changes
        QCOMPARE(c.tag, 0);
        QCOMPARE(c.checked, false);
        c.tag = 2;
        c.checked = true;
        storage.save();
        QCOMPARE(stored(QStringLiteral("FormVersion")), QStringLiteral("0"));
        QCOMPARE(stored(QStringLiteral("Dontshow_Tag")), QStringLiteral("2"));
        QCOMPARE(stored(QStringLiteral("Dontshow_Checked")), QStringLiteral("True"));

        Controls again;
        FormStorage(QStringLiteral("Test Settings"), again.properties()).restore();
        QCOMPARE(again.tag, 2);
        QCOMPARE(again.checked, true);
    }

    void storedTextsAreReadLeniently_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("tag");      // starts at 5
        QTest::addColumn<bool>("checked"); // starts true
        QTest::newRow("lower-case false") << "Dontshow_Checked" << "false" << 5 << false;
        QTest::newRow("mixed case, blanks") << "Dontshow_Checked" << "  fAlSe " << 5 << false;
        QTest::newRow("yes is no boolean") << "Dontshow_Checked" << "yes" << 5 << true;
        QTest::newRow("1 is no boolean") << "Dontshow_Checked" << "0" << 5 << true;
        QTest::newRow("integer with blanks") << "Dontshow_Tag" << " 7 " << 7 << true;
        QTest::newRow("negative") << "Dontshow_Tag" << "-3" << -3 << true;
        QTest::newRow("letters give 0") << "Dontshow_Tag" << "abc" << 0 << true;
        QTest::newRow("empty gives 0") << "Dontshow_Tag" << "" << 0 << true;
        QTest::newRow("too large gives 0") << "Dontshow_Tag" << "99999999999" << 0 << true;
        QTest::newRow("hexadecimal gives 0") << "Dontshow_Tag" << "0x10" << 0 << true;
    }

    void storedTextsAreReadLeniently()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        store(name, text);
        Controls c;
        c.tag = 5;
        c.checked = true;
        FormStorage(QStringLiteral("Test Settings"), c.properties()).restore();
        QTEST(c.tag, "tag");
        QTEST(c.checked, "checked");
    }

    void olderVersionIsNotApplied_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("tag");
        QTest::newRow("older") << "-1" << 1;
        QTest::newRow("no integer counts as 0") << "x" << 9;
        QTest::newRow("newer") << "3" << 9;
    }

    void olderVersionIsNotApplied()
    {
        QFETCH(QString, version);
        store(QStringLiteral("FormVersion"), version);
        store(QStringLiteral("Dontshow_Tag"), QStringLiteral("9"));
        Controls c;
        c.tag = 1;
        FormStorage storage(QStringLiteral("Test Settings"), c.properties());
        storage.restore();
        QTEST(c.tag, "tag");
        QVERIFY(storage.isRestored());
    }

    void writesOnlyAfterARestore()
    {
        Controls c;
        c.tag = 4;
        {
            FormStorage storage(QStringLiteral("Test Settings"), c.properties());
            storage.save(); // never restored: the design values must not overwrite the stored ones
            QVERIFY(!storage.isSaved());
        } // nor at destruction
        QVERIFY(!settings::openStore()->contains(group + QStringLiteral("/FormVersion")));

        {
            FormStorage storage(QStringLiteral("Test Settings"), c.properties());
            storage.restore();
            c.tag = 6;
        } // restored and not saved since: saved at destruction
        QCOMPARE(stored(QStringLiteral("Dontshow_Tag")), QStringLiteral("6"));

        {
            FormStorage storage(QStringLiteral("Test Settings"), c.properties());
            storage.restore();
            storage.save();
            QVERIFY(storage.isSaved());
            c.tag = 8;
        } // saved since the restore: the destruction writes nothing
        QCOMPARE(stored(QStringLiteral("Dontshow_Tag")), QStringLiteral("6"));
    }

    void deletedControlsAreSkipped()
    {
        auto *box = new QCheckBox;
        box->setObjectName(QStringLiteral("Checkstart"));
        box->setChecked(true);
        FormStorage storage(QStringLiteral("Test Settings"),
                            {settings::qtProperty(box, QStringLiteral("Checked"), "checked",
                                                  StoredProperty::Kind::Boolean)});
        store(QStringLiteral("Checkstart_Checked"), QStringLiteral("FALSE"));
        storage.restore();
        QVERIFY(!box->isChecked());
        box->setChecked(true);
        storage.save();
        QCOMPARE(stored(QStringLiteral("Checkstart_Checked")), QStringLiteral("True"));
        delete box;
        store(QStringLiteral("Checkstart_Checked"), QStringLiteral("False"));
        storage.restore();
        storage.save();
        QCOMPARE(stored(QStringLiteral("Checkstart_Checked")), QStringLiteral("False"));
    }

    void placementIsWrittenInItsFormats()
    {
        FakeWindow window;
        window.now = {3, 1, {-1, -1}, {-8, -30}, 100, 50, 917, 708};
        Controls c;
        FormStorage storage(QStringLiteral("Test Settings"), c.properties());
        storage.setPlacementHook(&window);
        storage.restore();
        storage.save();
        QCOMPARE(stored(QStringLiteral("Flags")), QStringLiteral("3"));
        QCOMPARE(stored(QStringLiteral("ShowCmd")), QStringLiteral("1"));
        QCOMPARE(stored(QStringLiteral("PixelsPerInch")), QStringLiteral("96"));
        QCOMPARE(stored(QStringLiteral("MinMaxPos")), QStringLiteral("-1,-1,-8,-30"));
        QCOMPARE(stored(QStringLiteral("NormPos")), QStringLiteral("100,50,917,708"));
        QCOMPARE(stored(QStringLiteral("Visible")), QStringLiteral("0"));
        storage.restore();
    } // the destruction's save marks itself

    void placementVisibleAtDestruction()
    {
        FakeWindow window;
        {
            FormStorage storage(QStringLiteral("Test Settings"), {});
            storage.setPlacementHook(&window);
            storage.restore();
        }
        QCOMPARE(stored(QStringLiteral("Visible")), QStringLiteral("1"));
    }

    void placementIsRestored_data()
    {
        QTest::addColumn<QString>("normPos");
        QTest::addColumn<QString>("ppi");
        QTest::addColumn<bool>("sizeable");
        QTest::addColumn<QList<QRect>>("applied");
        const auto r = [](int l, int t, int rr, int b) { return QList<QRect>{QRect(QPoint(l, t), QPoint(rr, b))}; };
        // The window now: 10, 20, 110, 220 (100 × 200).
        QTest::newRow("whole rectangle") << "5,6,305,406" << "96" << true << r(5, 6, 305, 406);
        QTest::newRow("fixed size keeps its size") << "5,6,305,406" << "96" << false << r(5, 6, 105, 206);
        QTest::newRow("missing fields") << "5,6" << "96" << true << r(5, 6, 110, 220);
        QTest::newRow("bad fields") << "x, 6 ,y,400" << "96" << true << r(10, 6, 110, 400);
        QTest::newRow("empty rectangle") << "300,6,300,406" << "96" << true << QList<QRect>{};
        QTest::newRow("another screen") << "5,6,305,406" << "120" << true << QList<QRect>{};
        QTest::newRow("no resolution stored") << "5,6,305,406" << "" << true << r(5, 6, 305, 406);
    }

    void placementIsRestored()
    {
        QFETCH(QString, normPos);
        QFETCH(QString, ppi);
        QFETCH(bool, sizeable);
        store(QStringLiteral("NormPos"), normPos);
        if (!ppi.isEmpty())
            store(QStringLiteral("PixelsPerInch"), ppi);
        store(QStringLiteral("ShowCmd"), QStringLiteral("3"));
        FakeWindow window;
        window.now = {0, 1, {-1, -1}, {-1, -1}, 10, 20, 110, 220};
        window.resizable = sizeable;
        FormStorage storage(QStringLiteral("Test Settings"), {});
        storage.setPlacementHook(&window);
        storage.restore();
        QTEST(window.rectangles, "applied");
        QCOMPARE(window.showCmds, QList<int>{3}); // the show state applies on any screen
        storage.save();
    }

    void listValueInTheFileReadsAsText()
    {
        // Written by hand without quotes, the INI reader sees a list.
        const QString file = settings::openStore()->fileName();
        {
            auto s = settings::openStore();
            s->setValue(group + QStringLiteral("/FormVersion"), QStringLiteral("0"));
            s->sync();
        }
        QFile ini(file);
        QVERIFY(ini.open(QIODevice::Append | QIODevice::Text));
        ini.write("Movaro%20Gif\\Test%20Settings\\NormPos=1, 2, 301, 402\n");
        ini.close();
        FakeWindow window;
        FormStorage storage(QStringLiteral("Test Settings"), {});
        storage.setPlacementHook(&window);
        storage.restore();
        QCOMPARE(window.rectangles, QList<QRect>{QRect(QPoint(1, 2), QPoint(301, 402))});
        storage.save();
    }
};

QTEST_MAIN(TestFormStorage)
#include "test_form_storage.moc"
