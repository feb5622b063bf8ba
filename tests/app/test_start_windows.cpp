// The start-up sequence and the windows around the main window: welcome, how-to, splash, options,
// about. The windows are the real ones, answered by a ModalUser; only message boxes, file dialogs
// and opened addresses are scripted.

#include "app_fixtures.h"
#include "modal_user.h"
#include "recording_url_opener.h"

#include "app/startup.h"
#include "dialogs/reabout.h"
#include "dialogs/uass.h"
#include "dialogs/uhow.h"
#include "dialogs/unit8.h"
#include "dialogs/uoptions.h"
#include "dialogs/uwelcome.h"
#include "settings/settings_store.h"

#include <QPlainTextEdit>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

using app::Answer;
using app::TMainform;

namespace {

QString stored(const QString &key)
{
    return settings::openStore()->value(QStringLiteral("Software/Movaro Gif/") + key).toString();
}

void store(const QString &key, const QString &value)
{
    auto s = settings::openStore();
    s->setValue(QStringLiteral("Software/Movaro Gif/") + key, value);
    s->sync();
}

/** What the welcome dialog's user does. */
enum class Welcome { NewAnimation, Wizard, OpenOther, DoubleClickRecent2, Cancel };

/** Answers the welcome dialog as `choice` says and closes the how-to window. */
void answerStartWindows(QWidget *modal, Welcome choice)
{
    if (auto *w = qobject_cast<dialogs::Twelcome *>(modal)) {
        switch (choice) {
        case Welcome::NewAnimation:
            w->Button2->click();
            break;
        case Welcome::Wizard:
            w->assiste->click();
            w->Button2->click();
            break;
        case Welcome::OpenOther:
            w->opengif->click();
            w->Button2->click();
            break;
        case Welcome::DoubleClickRecent2: {
            w->opengif->click();
            QListWidget *list = w->List;
            const QRect r = list->visualItemRect(list->item(2));
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, r.center());
            break;
        }
        case Welcome::Cancel:
            w->Button1->click();
            break;
        }
    } else if (auto *how = qobject_cast<dialogs::THowForm *>(modal)) {
        how->Button1->click();
    }
}

} // namespace

class TestStartWindows : public QObject
{
    Q_OBJECT

    QTemporaryDir mDir;
    ScriptedPrompter *mPrompter = nullptr;
    RecordingUrlOpener *mOpener = nullptr;
    bool mSplashSeen = false;

    /** Runs the start-up with a scripted prompter; `choice` answers the welcome dialog. */
    std::unique_ptr<TMainform> start(const QStringList &files, Welcome choice, QStringList *seen)
    {
        ModalUser user([choice](QWidget *modal) { answerStartWindows(modal, choice); });
        mSplashSeen = false;
        auto form = app::startEditor(files, [this](TMainform &f) {
            auto prompter = std::make_unique<ScriptedPrompter>();
            mPrompter = prompter.get();
            f.setPrompter(std::move(prompter));
            auto opener = std::make_unique<RecordingUrlOpener>();
            mOpener = opener.get();
            f.setUrlOpener(std::move(opener));
            for (QWidget *w : QApplication::topLevelWidgets())
                if (qobject_cast<dialogs::TSplashForm *>(w) && w->isVisible())
                    mSplashSeen = true;
        });
        *seen = user.seen;
        return form;
    }

    static void close(std::unique_ptr<TMainform> &form)
    {
        form->wizard()->hide();
        form->setModified(false);
        form.reset();
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(mDir.isValid());
    }

    void init() { settings::openStore()->clear(); }

    void firstRunsShowEveryWindowThenTheHowToStops()
    {
        const QStringList both{"Bienvenue", "Comment créer des Gifs"};
        const QStringList welcomeOnly{"Bienvenue"};
        const QList<QStringList> expected{both, both, welcomeOnly};
        for (int run = 0; run < 3; ++run) {
            QStringList seen;
            auto form = start({}, Welcome::NewAnimation, &seen);
            QVERIFY(mSplashSeen);
            QCOMPARE(seen, expected[run]);
            QCOMPARE(form->windowTitle(), QStringLiteral("Sans_titre.gif - Movaro Gif"));
            QVERIFY(form->isVisible());
            for (QWidget *w : QApplication::topLevelWidgets())
                QVERIFY2(!qobject_cast<dialogs::TSplashForm *>(w), "the splash window outlives the start-up");
            close(form);
        }
        QCOMPARE(stored(QStringLiteral("How Settings/Dontshow_Tag")), QStringLiteral("2"));
        QCOMPARE(stored(QStringLiteral("Welcome Settings/Checkstart_Checked")), QStringLiteral("False"));

        // The Help menu still shows it.
        auto form = std::make_unique<TMainform>();
        ModalUser user([](QWidget *modal) { answerStartWindows(modal, Welcome::Cancel); });
        form->Manueldepriseenmain1Click();
        QCOMPARE(user.seen, QStringList{"Comment créer des Gifs"});
    }

    void theHowToTickStopsItAtOnce()
    {
        store(QStringLiteral("How Settings/Dontshow_Checked"), QStringLiteral("TRUE"));
        QStringList seen;
        auto form = start({}, Welcome::Cancel, &seen);
        QCOMPARE(seen, QStringList{"Bienvenue"});
        close(form);
    }

    void storedWelcomeTick_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("shown");
        QTest::newRow("true") << "true" << false;
        QTest::newRow("True") << "True" << false;
        QTest::newRow("yes is ignored") << "yes" << true;
        QTest::newRow("False") << "False" << true;
    }

    void storedWelcomeTick()
    {
        QFETCH(QString, value);
        QFETCH(bool, shown);
        store(QStringLiteral("Welcome Settings/Checkstart_Checked"), value);
        store(QStringLiteral("How Settings/Dontshow_Tag"), QStringLiteral("2"));
        QStringList seen;
        auto form = start({}, Welcome::Cancel, &seen);
        QCOMPARE(seen.contains(QStringLiteral("Bienvenue")), shown);
        QCOMPARE(form->windowTitle(), QStringLiteral("Sans_titre.gif - Movaro Gif"));
        close(form);
    }

    void aFileOnTheCommandLineSkipsTheWelcomeAndStaysOpen()
    {
        const QString gif = writeSmallFramesGif(mDir.filePath(QStringLiteral("donnée.gif")));
        QStringList seen;
        auto form = start({gif}, Welcome::NewAnimation, &seen);
        QCOMPARE(seen, QStringList{"Comment créer des Gifs"});
        QCOMPARE(form->windowTitle(), QStringLiteral("donnée.gif - Movaro Gif"));
        QCOMPARE(form->filePath(), gif);
        QCOMPARE(form->frameEntries(), 2);
        close(form);
    }

    void welcomeChoicesRunTheirCommand()
    {
        store(QStringLiteral("How Settings/Dontshow_Tag"), QStringLiteral("2"));
        const QString first = writeSmallFramesGif(mDir.filePath(QStringLiteral("premier.gif")));
        QStringList seen;

        // No recent files: the list holds only "Autres fichiers..."; OK there runs the open dialog.
        {
            ModalUser user([](QWidget *modal) {
                auto *w = qobject_cast<dialogs::Twelcome *>(modal);
                QCOMPARE(w->List->count(), 1);
                QCOMPARE(w->List->item(0)->text(), QStringLiteral("Autres fichiers..."));
                QVERIFY(!w->List->isEnabled());
                w->opengif->click();
                QVERIFY(w->List->isEnabled());
                QCOMPARE(w->List->currentRow(), 0);
                w->Button2->click();
            });
            auto form = std::make_unique<TMainform>();
            auto prompter = std::make_unique<ScriptedPrompter>();
            prompter->openFiles.push_back({first});
            ScriptedPrompter *p = prompter.get();
            form->setPrompter(std::move(prompter));
            form->show();
            QCOMPARE(form->welcome()->exec(), int(QDialog::Accepted));
            form->runWelcomeChoice();
            QCOMPARE(p->dialogs.size(), 1);
            QCOMPARE(form->filePath(), first);
            close(form);
        }

        // Two recent files: a double click on the second opens it at once.
        const QString recent = writeSmallFramesGif(mDir.filePath(QStringLiteral("récent.gif")));
        store(QStringLiteral("Recent/F1"), first);
        store(QStringLiteral("Recent/F2"), recent);
        auto form = start({}, Welcome::DoubleClickRecent2, &seen);
        QCOMPARE(seen, QStringList{"Bienvenue"});
        QCOMPARE(form->filePath(), recent);
        QVERIFY(mPrompter->dialogs.isEmpty());
        close(form);

        // The wizard.
        form = start({}, Welcome::Wizard, &seen);
        QVERIFY(form->wizard()->isVisible());
        QCOMPARE(form->wizard()->currentPage(), 0);
        close(form);

        // Annuler opens nothing.
        form = start({}, Welcome::Cancel, &seen);
        QVERIFY(mPrompter->asked.isEmpty() && mPrompter->dialogs.isEmpty());
        QCOMPARE(form->windowTitle(), QStringLiteral("Sans_titre.gif - Movaro Gif"));
        QVERIFY(!form->wizard()->isVisible());
        close(form);
    }

    void optionsCopyTheWelcomeTick()
    {
        auto form = std::make_unique<TMainform>();
        dialogs::Twelcome *welcome = form->welcome();
        QVERIFY(!welcome->Checkstart->isChecked());

        // Annuler: nothing changes, but the section is written again.
        store(QStringLiteral("Welcome Settings/Checkstart_Checked"), QStringLiteral("garbage"));
        {
            ModalUser user([](QWidget *modal) {
                auto *o = qobject_cast<dialogs::TOptions *>(modal);
                QVERIFY(!o->welc->isChecked());
                o->welc->click();
                o->CancelBtn->click();
            });
            form->Options2Click();
            QCOMPARE(user.seen, QStringList{"Options"});
        }
        QVERIFY(!welcome->Checkstart->isChecked());
        QCOMPARE(stored(QStringLiteral("Welcome Settings/Checkstart_Checked")), QStringLiteral("False"));

        // OK copies the tick.
        {
            ModalUser user([](QWidget *modal) {
                auto *o = qobject_cast<dialogs::TOptions *>(modal);
                o->welc->click();
                o->OKBtn->click();
            });
            form->Options2Click();
        }
        QVERIFY(welcome->Checkstart->isChecked());
        QCOMPARE(stored(QStringLiteral("Welcome Settings/Checkstart_Checked")), QStringLiteral("True"));
    }

    void aboutBoxShowsTheVersionAndOpensTheHomePage()
    {
        auto form = std::make_unique<TMainform>();
        auto opener = std::make_unique<RecordingUrlOpener>();
        RecordingUrlOpener *recorded = opener.get();
        form->setUrlOpener(std::move(opener));
        QString version, licences;
        ModalUser user([&version, &licences](QWidget *modal) {
            auto *about = qobject_cast<dialogs::TAboutBox *>(modal);
            version = about->Version->text();
            QVERIFY(!about->Button2->isVisible());
            about->Button1->click(); // "Site &Web"
            about->LicencesButton->click();
            QVERIFY(about->Licences && about->Licences->isVisible());
            licences = about->LicencesText->toPlainText();
            about->Licences->close();
            about->OKButton->click();
        });
        form->HelpAbout1Execute();
        QCOMPARE(user.seen, QStringList{"À propos de Movaro Gif"});
        QCOMPARE(version, QStringLiteral("Movaro Gif - Version 3.1.2"));
        QCOMPARE(recorded->opened, QStringList{app::homePageAddress});
        // The third-party list is found beside the program in the build tree too.
        QVERIFY2(licences.contains(QStringLiteral("GPL-3.0-or-later")) && licences.contains(QStringLiteral("libjpeg-turbo")),
                 qPrintable(licences.left(200)));
    }

    void menusReachTheWindows()
    {
        auto form = std::make_unique<TMainform>();
        for (const char *name : {"Assistantnouvelleanimation1", "Options2", "Manueldepriseenmain1", "HelpAboutItem"}) {
            QAction *a = form->action(QString::fromLatin1(name));
            QVERIFY2(a && a->isEnabled(), name);
        }
        form->action(QStringLiteral("Assistantnouvelleanimation1"))->trigger();
        QVERIFY(form->wizard()->isVisible());
        form->wizard()->hide();
    }
};

QTEST_MAIN(TestStartWindows)
#include "test_start_windows.moc"
