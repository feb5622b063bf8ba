// The menus' enabling rules, and the keyboard shortcuts acting on the state those menus would show.
#include "app_fixtures.h"

#include "app/command_rules.h"

#include "document/gif_reader.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using app::Answer;

namespace {

enum class Clip { Empty, Picture };
enum class Setup {
    New,
    OneSelected,
    ThreeFirst,
    ThreeMiddle,
    ThreeLast,
    ThreeNoneSelected,
    Playing,
    AfterPlaying
};

/** Puts a picture on the clipboard, or text only (which is no bitmap). */
void setClipboard(Clip clip) {
    if (clip == Clip::Picture) {
        QImage picture(6, 4, QImage::Format_RGB32);
        picture.fill(qRgb(10, 200, 30));
        QApplication::clipboard()->setImage(picture);
    } else {
        QApplication::clipboard()->setText(QStringLiteral("no picture"));
    }
}

}  // namespace

Q_DECLARE_METATYPE(Clip)
Q_DECLARE_METATYPE(Setup)

class TestCommandRules : public QObject {
    Q_OBJECT

    QTemporaryDir mDir;
    std::unique_ptr<FormUnderTest> t;

    void addFrames(int n) {
        QStringList files;
        for (int i = 0; i < n; ++i)
            files << writePng(mDir.filePath(QStringLiteral("f%1.png").arg(i)), 10 + i, 8,
                              qRgb(40 * i, 100, 50));
        t->add(files);
    }

    /** Opens `menu` as the user would, reads its items' states, and closes it. */
    QString menuStates(const char* menu, const QStringList& items) {
        auto* m = t->form->findChild<QMenu*>(QLatin1String(menu));
        m->popup(t->form->mapToGlobal(QPoint(20, 20)));
        QString out;
        for (const QString& name : items) {
            QAction* a = t->form->action(name);
            if (!a)
                a = t->form->findChild<QMenu*>(name)->menuAction();
            out += a->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
        }
        m->hide();
        // The popup took the keyboard; give it back to the window as closing a menu does.
        t->form->activateWindow();
        if (!QTest::qWaitForWindowActive(t->form.get()))
            qFatal("the main window did not become active again");
        return out;
    }

    void press(QKeyCombination keys) { QTest::keyClick(t->form.get(), keys.key(), keys.keyboardModifiers()); }

    int frames() const { return t->form->document() ? t->form->document()->count() : 0; }

    /** Opens and closes every menu, leaving behind whatever states they computed. */
    void visitMenus() {
        for (const char* menu : {"File1", "Edit1", "Imagesdelanimations1", "Afficher1"})
            menuStates(menu, {});
    }

    /**
     * Brings the window into `setup`. With `staleMenus`, every menu is opened on a different state
     * first (a still view where the end state plays, and the reverse), so that states a menu left
     * behind would show.
     */
    void setUp(Setup setup, bool staleMenus = false) {
        if (staleMenus && setup != Setup::Playing && setup != Setup::AfterPlaying)
            visitMenus();
        switch (setup) {
            case Setup::New:
                break;
            case Setup::OneSelected:
                addFrames(1);
                t->form->selectFrame(0);
                break;
            case Setup::ThreeFirst:
            case Setup::ThreeMiddle:
            case Setup::ThreeLast:
                addFrames(3);
                t->form->selectFrame(setup == Setup::ThreeFirst ? 0 : setup == Setup::ThreeMiddle ? 1 : 2);
                break;
            case Setup::ThreeNoneSelected:
                addFrames(3);
                t->form->selectFrame(-1);
                break;
            case Setup::Playing:
                addFrames(3);
                t->form->selectFrame(1);
                if (staleMenus)
                    visitMenus();
                t->form->playClick();
                break;
            case Setup::AfterPlaying:
                addFrames(3);
                t->form->selectFrame(1);
                t->form->playClick();
                if (staleMenus)
                    visitMenus();
                t->form->stopPlayback();
                t->form->selectFrame(1);
                break;
        }
    }

   private slots:
    void initTestCase() { QVERIFY(mDir.isValid()); }

    void init() {
        t = std::make_unique<FormUnderTest>();
        t->form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(t->form.get()));
    }

    void cleanup() {
        if (t->form->stop->isEnabled())
            t->form->stopPlayback();
        t.reset();
    }

    void openingRules_data() {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<Clip>("clip");
        // Image: add1 insert sup2 moveitem arriere avant methode Dup
        QTest::addColumn<QString>("image");
        // Contrôle: jouer arreter next back
        QTest::addColumn<QString>("control");
        // Edition: CopyItem Paste Del
        QTest::addColumn<QString>("edit");

        QTest::newRow("no frame") << Setup::New << Clip::Empty << "10000000"
                                  << "0000"
                                  << "000";
        QTest::newRow("no frame, picture on clipboard") << Setup::New << Clip::Picture << "10000000"
                                                        << "0000"
                                                        << "010";
        QTest::newRow("one frame") << Setup::OneSelected << Clip::Empty << "11110011"
                                   << "1000"
                                   << "101";
        QTest::newRow("first of three") << Setup::ThreeFirst << Clip::Picture << "11110111"
                                        << "1011"
                                        << "111";
        QTest::newRow("middle of three") << Setup::ThreeMiddle << Clip::Empty << "11111111"
                                         << "1011"
                                         << "101";
        QTest::newRow("last of three") << Setup::ThreeLast << Clip::Empty << "11111011"
                                       << "1011"
                                       << "101";
        QTest::newRow("three, none selected") << Setup::ThreeNoneSelected << Clip::Empty << "10000000"
                                              << "1000"
                                              << "101";
        QTest::newRow("playing") << Setup::Playing << Clip::Picture << "00000000"
                                 << "0100"
                                 << "010";
    }

    void openingRules() {
        QFETCH(Setup, setup);
        QFETCH(Clip, clip);
        QFETCH(QString, image);
        QFETCH(QString, control);
        QFETCH(QString, edit);
        setClipboard(clip);
        setUp(setup);
        QCOMPARE(menuStates("Imagesdelanimations1",
                            {"add1", "insert", "sup2", "moveitem", "arriere", "avant", "methode", "Dup"}),
                 image);
        QCOMPARE(menuStates("Afficher1", {"jouer", "arreter", "next", "back"}), control);
        QCOMPARE(menuStates("Edit1", {"CopyItem", "Paste", "Del"}), edit);
    }

    // The reported fault: a menu opened once froze its items' states, so Ctrl+S did nothing after
    // an edit, and rewrote an unmodified file.
    // Items that are never shown still follow the table: a shortcut or a future menu relies on it.
    void hiddenItemsFollowTheTable_data() {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<QString>("states");
        // clsolid Prop change Invert | Trans Vitessedescadres1 boucle Informations1
        QTest::newRow("no frame") << Setup::New << "0000|1000";
        QTest::newRow("one frame") << Setup::OneSelected << "1100|1001";
        QTest::newRow("three, one selected") << Setup::ThreeMiddle << "1111|1111";
        QTest::newRow("three, none selected") << Setup::ThreeNoneSelected << "0000|1111";
        QTest::newRow("playing") << Setup::Playing << "0000|0111";
    }

    void hiddenItemsFollowTheTable() {
        QFETCH(Setup, setup);
        QFETCH(QString, states);
        setUp(setup);
        QString out;
        for (const char* name :
             {"clsolid", "Prop", "change", "Invert", "|", "Trans", "Vitessedescadres1", "boucle", "Informations1"}) {
            if (*name == '|') {
                out += QLatin1Char('|');
                continue;
            }
            QAction* item = t->form->action(QLatin1String(name));
            QVERIFY2(item && !item->isVisible(), name);
            out += t->form->commandRules().enabledNow(item) ? QLatin1Char('1') : QLatin1Char('0');
        }
        QCOMPARE(out, states);
    }

    void saveShortcutFollowsTheModifiedFlag() {
        const QString path = writeSmallFramesGif(mDir.filePath(QStringLiteral("two.gif")));
        t->form->FileOpen1Execute(app::TMainform::OpenSource::CommandLine, path);
        QCOMPARE(frames(), 2);
        // Whatever Ctrl+S writes replaces this marker.
        auto mark = [&] {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write("marker");
        };
        auto contents = [&] {
            QFile f(path);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        mark();

        press(Qt::CTRL | Qt::Key_S);
        QCOMPARE(contents(), QByteArray("marker"));

        menuStates("File1", {"save1"});
        t->form->selectFrame(0);
        t->form->DupClick();
        QVERIFY(t->form->isModified());
        press(Qt::CTRL | Qt::Key_S);
        QVERIFY(!t->form->isModified());
        doc::TGIFImage saved;
        doc::loadFromFile(saved, path.toStdString());
        QCOMPARE(saved.count(), 3);
        QVERIFY(t->prompter->asked.isEmpty());
    }

    void saveShortcutWithNoDocumentDoesNothing() {
        press(Qt::CTRL | Qt::Key_S);
        QVERIFY(t->prompter->asked.isEmpty());
        QVERIFY(t->prompter->dialogs.isEmpty());
    }

    // Each shortcut with a state that enables it and one that disables it; `acts` says which.
    void shortcuts_data() {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<Clip>("clip");
        QTest::addColumn<int>("combined");
        QTest::addColumn<bool>("acts");

        QTest::newRow("Suppr, frame selected")
            << Setup::ThreeMiddle << Clip::Empty << QKeyCombination(Qt::Key_Delete).toCombined() << true;
        QTest::newRow("Suppr, none selected") << Setup::ThreeNoneSelected << Clip::Empty
                                              << QKeyCombination(Qt::Key_Delete).toCombined() << false;
        QTest::newRow("Suppr, playing")
            << Setup::Playing << Clip::Empty << QKeyCombination(Qt::Key_Delete).toCombined() << false;
        QTest::newRow("Suppr, after playing")
            << Setup::AfterPlaying << Clip::Empty << QKeyCombination(Qt::Key_Delete).toCombined() << true;
        QTest::newRow("F2, still view")
            << Setup::New << Clip::Empty << QKeyCombination(Qt::Key_F2).toCombined() << true;
        QTest::newRow("F2, playing") << Setup::Playing << Clip::Empty
                                     << QKeyCombination(Qt::Key_F2).toCombined() << false;
        QTest::newRow("F3, frame selected")
            << Setup::OneSelected << Clip::Empty << QKeyCombination(Qt::Key_F3).toCombined() << true;
        QTest::newRow("F3, no frame")
            << Setup::New << Clip::Empty << QKeyCombination(Qt::Key_F3).toCombined() << false;
        QTest::newRow("Ctrl+C, frame selected")
            << Setup::OneSelected << Clip::Empty << (Qt::CTRL | Qt::Key_C).toCombined() << true;
        QTest::newRow("Ctrl+C, playing")
            << Setup::Playing << Clip::Empty << (Qt::CTRL | Qt::Key_C).toCombined() << false;
        QTest::newRow("Ctrl+V, picture")
            << Setup::OneSelected << Clip::Picture << (Qt::CTRL | Qt::Key_V).toCombined() << true;
        QTest::newRow("Ctrl+V, text only")
            << Setup::OneSelected << Clip::Empty << (Qt::CTRL | Qt::Key_V).toCombined() << false;
        QTest::newRow("Ctrl+Alt+R, middle")
            << Setup::ThreeMiddle << Clip::Empty << (Qt::CTRL | Qt::ALT | Qt::Key_R).toCombined() << true;
        QTest::newRow("Ctrl+Alt+R, first")
            << Setup::ThreeFirst << Clip::Empty << (Qt::CTRL | Qt::ALT | Qt::Key_R).toCombined() << false;
        QTest::newRow("Ctrl+Alt+R, playing")
            << Setup::Playing << Clip::Empty << (Qt::CTRL | Qt::ALT | Qt::Key_R).toCombined() << false;
        QTest::newRow("Ctrl+Alt+V, first")
            << Setup::ThreeFirst << Clip::Empty << (Qt::CTRL | Qt::ALT | Qt::Key_V).toCombined() << true;
        QTest::newRow("Ctrl+Alt+V, last")
            << Setup::ThreeLast << Clip::Empty << (Qt::CTRL | Qt::ALT | Qt::Key_V).toCombined() << false;
    }

    void shortcuts() {
        QFETCH(Setup, setup);
        QFETCH(Clip, clip);
        QFETCH(int, combined);
        QFETCH(bool, acts);
        const auto keys = QKeyCombination::fromCombined(combined);
        setClipboard(clip == Clip::Picture ? Clip::Empty : Clip::Picture);
        setUp(setup, true);
        setClipboard(clip);

        const int before = frames();
        QList<int> widths;
        for (int i = 0; i < before; ++i)
            widths << t->form->document()->frame(i).width;
        t->prompter->answers.push_back(Answer::Yes);  // the delete question
        t->prompter->openFiles.push_back({});         // the add and insert dialogs, cancelled
        press(keys);

        bool acted = false;
        const int key = keys.key();
        if (key == Qt::Key_Delete || (key == Qt::Key_V && !(keys.keyboardModifiers() & Qt::AltModifier)))
            acted = frames() != before;
        else if (key == Qt::Key_F2 || key == Qt::Key_F3)
            acted = t->prompter->openFiles.empty();
        else if (key == Qt::Key_C)
            acted = QApplication::clipboard()->mimeData()->hasImage();
        else {
            QList<int> after;
            for (int i = 0; i < frames(); ++i)
                after << t->form->document()->frame(i).width;
            acted = after != widths;
        }
        QCOMPARE(acted, acts);
    }

    // A menu closed with Escape leaves the keyboard with the menu bar, whose items then answer their
    // keys too: each key must still act once, and not be refused as bound twice.
    void keysActOnceAfterAMenuIsClosedWithEscape_data() {
        QTest::addColumn<int>("combined");
        QTest::addColumn<QString>("menu");
        QTest::newRow("F2 after Image") << QKeyCombination(Qt::Key_F2).toCombined() << "Imagesdelanimations1";
        QTest::newRow("Ctrl+V after Edition") << (Qt::CTRL | Qt::Key_V).toCombined() << "Edit1";
    }

    void keysActOnceAfterAMenuIsClosedWithEscape() {
        QFETCH(int, combined);
        QFETCH(QString, menu);
        QTest::failOnWarning(QRegularExpression(QStringLiteral("[Aa]mbiguous")));
        addFrames(1);
        setClipboard(Clip::Picture);
        auto* opened = t->form->findChild<QMenu*>(menu);
        const QChar mnemonic = opened->title().at(opened->title().indexOf(QLatin1Char('&')) + 1);
        QTest::keyClick(t->form->menuBar(), Qt::Key(mnemonic.toUpper().unicode()), Qt::AltModifier);
        QTRY_VERIFY(opened->isVisible());
        QTest::keyClick(opened, Qt::Key_Escape);
        QTRY_VERIFY(!opened->isVisible());
        QCOMPARE(QApplication::focusWidget(), t->form->menuBar());

        const int before = frames();
        const auto dialogs = t->prompter->dialogs.size();
        t->prompter->openFiles.push_back({});  // the add dialog, cancelled
        const auto keys = QKeyCombination::fromCombined(combined);
        QTest::keyClick(QApplication::focusWidget(), keys.key(), keys.keyboardModifiers());
        if (keys.key() == Qt::Key_F2)
            QCOMPARE(t->prompter->dialogs.size(), dialogs + 1);
        else
            QCOMPARE(frames(), before + 1);
    }

    // A shortcut inside a submenu follows the submenu item's rule as well as its own.
    void submenuItemsFollowTheirParent() {
        QMenu menu;
        QMenu* sub = menu.addMenu(QStringLiteral("sub"));
        QAction* child = sub->addAction(QStringLiteral("child"));
        QAction* loose = sub->addAction(QStringLiteral("loose"));
        app::CommandRules rules(t->form.get());
        bool parentOn = false;
        rules.enableWhen(sub->menuAction(), [&] { return parentOn; });
        rules.enableWhen(child, [] { return true; });
        QVERIFY(!rules.enabledNow(child));
        QVERIFY(!rules.enabledNow(loose));
        parentOn = true;
        QVERIFY(rules.enabledNow(child));
        QVERIFY(rules.enabledNow(loose));
    }
};

QTEST_MAIN(TestCommandRules)
#include "test_command_rules.moc"
