// What the main window remembers between runs, against a real INI file in a private configuration
// folder: each "run" is a new window on the same file.
#include "app_fixtures.h"

#include "settings/settings_store.h"

#include <QFile>
#include <QMenu>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QToolTip>
#include <QtTest>

using app::Answer;
using app::TMainform;

namespace {

const QString section = QStringLiteral("Software/Movaro Gif/Mainform Settings/");

/** The store's own file, even while openStore() turns away from it. */
QString iniPath()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Movaro Gif"), QStringLiteral("Movaro Gif"))
        .fileName();
}

void store(const QString &name, const QString &value)
{
    auto s = settings::openStore();
    s->setValue(section + name, value);
    s->sync();
}

QString stored(const QString &name)
{
    auto s = settings::openStore();
    return s->value(section + name).toString();
}

} // namespace

class TestMainformSettings : public QObject
{
    Q_OBJECT

    std::unique_ptr<TMainform> form;
    ScriptedPrompter *prompter = nullptr;

    /** One run of the program: a new main window on the store as it is, shown. */
    TMainform &start()
    {
        form = std::make_unique<TMainform>();
        auto scripted = std::make_unique<ScriptedPrompter>();
        prompter = scripted.get();
        form->setPrompter(std::move(scripted));
        form->show();
        return *form;
    }

    /** Ends the run the way the user does, through closing the window. */
    void quit()
    {
        QVERIFY(form->close());
        form.reset();
    }

    int ppi() const { return qRound(QGuiApplication::primaryScreen()->logicalDotsPerInch()); }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init()
    {
        QFile::remove(iniPath());
        settings::openStore()->clear();
    }
    void cleanup()
    {
        if (form)
            form->setModified(false);
        form.reset();
    }

    void firstRunKeepsTheDesignValues()
    {
        TMainform &f = start();
        QVERIFY(!f.statusBar()->isHidden());
        QVERIFY(!f.findChild<QToolBar *>(QStringLiteral("ToolBar1"))->isHidden());
        QCOMPARE(f.size(), QSize(817, 658));
        QCOMPARE(f.windowState(), Qt::WindowNoState);
        for (const char *mark : {"Tools", "State", "showloop", "SA", "Showframes", "ShowVis"})
            QVERIFY2(f.action(QLatin1String(mark))->isChecked(), mark);
        QCOMPARE(f.hintCount(), 0);
    }

    void whatIsWrittenAtQuitting()
    {
        TMainform &f = start();
        f.setGeometry(40, 50, 700, 600);
        const QRect placed = f.geometry();
        quit();
        QCOMPARE(stored(QStringLiteral("FormVersion")), QStringLiteral("0"));
        QCOMPARE(stored(QStringLiteral("ShowCmd")), QStringLiteral("1"));
        QCOMPARE(stored(QStringLiteral("PixelsPerInch")), QString::number(ppi()));
        QCOMPARE(stored(QStringLiteral("NormPos")), QStringLiteral("%1,%2,%3,%4")
                                                       .arg(placed.x())
                                                       .arg(placed.y())
                                                       .arg(placed.x() + placed.width())
                                                       .arg(placed.y() + placed.height()));
        QCOMPARE(stored(QStringLiteral("Visible")), QStringLiteral("0"));
        for (const char *name : {"Tools_Checked", "SA_Checked", "Showframes_Checked", "ShowVis_Checked", "State_Checked",
                                 "StatusBar_Visible", "showloop_Checked"})
            QCOMPARE(stored(QLatin1String(name)), QStringLiteral("True"));
        QCOMPARE(stored(QStringLiteral("addbtn_Tag")), QStringLiteral("0"));

        // The next run comes back at the same place.
        QCOMPARE(start().geometry(), placed);
    }

    void placementOnAnotherScreen_data()
    {
        QTest::addColumn<int>("ppiOffset");
        QTest::addColumn<QString>("showCmd");
        QTest::addColumn<bool>("placed");
        QTest::addColumn<bool>("maximised");
        QTest::newRow("same screen") << 0 << "1" << true << false;
        QTest::newRow("same screen, maximised") << 0 << "3" << true << true;
        QTest::newRow("other resolution: size ignored") << 24 << "1" << false << false;
        QTest::newRow("other resolution: still maximised") << 24 << "3" << false << true;
        QTest::newRow("unknown show state is normal") << 0 << "12" << true << false;
    }

    void placementOnAnotherScreen()
    {
        QFETCH(int, ppiOffset);
        QFETCH(QString, showCmd);
        QFETCH(bool, placed);
        QFETCH(bool, maximised);
        store(QStringLiteral("PixelsPerInch"), QString::number(ppi() + ppiOffset));
        store(QStringLiteral("NormPos"), QStringLiteral("30,40,630,540"));
        store(QStringLiteral("ShowCmd"), showCmd);
        TMainform &f = start();
        QCOMPARE(f.normalGeometry() == QRect(30, 40, 600, 500), placed);
        QCOMPARE(bool(f.windowState() & Qt::WindowMaximized), maximised);
        if (!placed)
            QCOMPARE(f.normalGeometry().size(), QSize(817, 658));
    }

    void aPlaceOffEveryScreenKeepsTheWindowCentred()
    {
        store(QStringLiteral("NormPos"), QStringLiteral("-5000,-5000,-4400,-4500"));
        TMainform &f = start();
        QVERIFY(QGuiApplication::primaryScreen()->availableGeometry().intersects(f.geometry()));
    }

    void hiddenStatusBarSurvivesARestart()
    {
        start().action(QStringLiteral("State"))->trigger();
        QVERIFY(form->statusBar()->isHidden());
        quit();
        QCOMPARE(stored(QStringLiteral("StatusBar_Visible")), QStringLiteral("False"));
        TMainform &f = start();
        QVERIFY(f.statusBar()->isHidden());
        auto *view = f.findChild<QMenu *>(QStringLiteral("Voir1"));
        view->popup(f.mapToGlobal(QPoint(20, 20)));
        QVERIFY(!f.action(QStringLiteral("State"))->isChecked());
        view->hide();
    }

    void storedTextsAreReadAsTheUserWroteThem_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("shown");
        QTest::newRow("false") << "false" << false;
        QTest::newRow("FALSE with blanks") << " FALSE " << false;
        QTest::newRow("no is ignored") << "no" << true;
        QTest::newRow("0 is ignored") << "0" << true;
    }

    void storedTextsAreReadAsTheUserWroteThem()
    {
        QFETCH(QString, value);
        QFETCH(bool, shown);
        store(QStringLiteral("StatusBar_Visible"), value);
        store(QStringLiteral("addbtn_Tag"), QStringLiteral("abc"));
        TMainform &f = start();
        QCOMPARE(!f.statusBar()->isHidden(), shown);
        QCOMPARE(f.hintCount(), 0);
    }

    void writtenWhenQuittingIsCancelled()
    {
        TMainform &f = start();
        f.action(QStringLiteral("State"))->trigger();
        f.setModified(true);
        prompter->answers.push_back(Answer::Cancel);
        QVERIFY(!f.close());
        QVERIFY(f.isVisible());
        QCOMPARE(prompter->asked.size(), 1);
        QCOMPARE(stored(QStringLiteral("StatusBar_Visible")), QStringLiteral("False"));
        QCOMPARE(stored(QStringLiteral("FormVersion")), QStringLiteral("0"));
    }

    void addImageHintThreeTimesOverAllRuns()
    {
        QList<bool> offered;
        for (int run = 0; run < 5; ++run) {
            TMainform &f = start();
            if (run == 1) {
                // Another window is active: no hint, and the run does not count.
                const int before = f.hintCount();
                QWidget other;
                other.show();
                other.activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(&other));
                QToolTip::hideText();
                f.Timer1Timer();
                QVERIFY(!QToolTip::isVisible());
                QCOMPARE(f.hintCount(), before);
            }
            f.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&f));
            QToolTip::hideText();
            QTRY_VERIFY(!QToolTip::isVisible());
            f.Timer1Timer();
            offered << (QToolTip::isVisible()
                        && QToolTip::text() == QStringLiteral("Cliquez sur ce bouton pour ajouter des images"));
            quit();
        }
        QCOMPARE(offered, (QList<bool>{true, true, true, false, false}));
        QCOMPARE(stored(QStringLiteral("addbtn_Tag")), QStringLiteral("5"));
    }

    void aDamagedFileStartsWithTheDefaultsAndIsKept()
    {
        // Half a section header, a binary tail: nothing in it can be trusted.
        const QByteArray damaged = QByteArrayLiteral("[Software\nMovaro%20Gif\\Mainform%20Settings\\ShowCmd=3\n"
                                                     "Movaro%20Gif\\Mainform%20Settings\\StatusBar_Visible=False\n\x01\x02\xff");
        {
            QFile file(iniPath());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(damaged);
        }
        TMainform &f = start();
        QVERIFY(!f.statusBar()->isHidden());
        QCOMPARE(f.windowState(), Qt::WindowNoState);
        quit();
        QFile file(iniPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), damaged);
    }

    void anUnreadableFileStartsWithTheDefaultsAndIsKept()
    {
        store(QStringLiteral("StatusBar_Visible"), QStringLiteral("False"));
        QFile file(iniPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();
        QVERIFY(file.setPermissions(QFileDevice::Permissions{}));
        if (file.open(QIODevice::ReadOnly))
            QSKIP("running as a user who can read any file");
        TMainform &f = start();
        QVERIFY(!f.statusBar()->isHidden());
        quit();
        QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }
};

QTEST_MAIN(TestMainformSettings)
#include "test_mainform_settings.moc"
