// The window's frame: menu items and hidden buttons, View toggles, collapsible panels, the frames
// area's alignment, status-bar hints, the manual and the web links.
#include "app_fixtures.h"
#include "recording_url_opener.h"

#include "app/help_window.h"
#include "app/views.h"

#include <QDir>
#include <QEnterEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTextBrowser>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

#include <cmath>

using app::Answer;
using app::TMainform;

namespace {

/** An opener for a desktop without handlers: every address fails. */
class FailingUrlOpener : public app::UrlOpener
{
public:
    QStringList tried;
    bool open(const QString &address) override
    {
        tried << address;
        return false;
    }
};

QString installedManual()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../share/movaro-gif/help"));
}

} // namespace

class TestChrome : public QObject
{
    Q_OBJECT

    std::unique_ptr<FormUnderTest> t;
    RecordingUrlOpener *urls = nullptr;

    QAction *item(const QString &name) const
    {
        if (QAction *a = t->form->action(name))
            return a;
        auto *menu = t->form->findChild<QMenu *>(name);
        return menu ? menu->menuAction() : nullptr;
    }

    /** Opens the View menu as the user would and closes it again: its marks follow the window. */
    void openViewMenu()
    {
        auto *view = t->form->findChild<QMenu *>(QStringLiteral("Voir1"));
        view->popup(t->form->mapToGlobal(QPoint(20, 20)));
        view->hide();
    }

    QWidget *panel(const char *name) const { return t->form->findChild<QWidget *>(QLatin1String(name)); }
    app::PanelHeader *header(const char *panelName) const { return panel(panelName)->findChild<app::PanelHeader *>(); }
    QString hintPanel() const { return t->form->statusPanel(0)->text(); }

private slots:
    void init()
    {
        t = std::make_unique<FormUnderTest>();
        auto opener = std::make_unique<RecordingUrlOpener>();
        urls = opener.get();
        t->form->setUrlOpener(std::move(opener));
    }
    void cleanup() { t.reset(); }

    void menuItems_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("shortcut");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<QString>("hint"); // the long part, shown in the status bar
        const auto row = [](const char *name, const char *caption, const char *shortcut, bool shown,
                            const char *hint = "") {
            QTest::newRow(name) << QString::fromUtf8(name) << QString::fromUtf8(caption) << QString::fromUtf8(shortcut)
                                << shown << QString::fromUtf8(hint);
        };
        row("File1", "&Fichier", "", true, "Commandes liées aux menus");
        row("FileNewItem", "&Nouveau", "Ctrl+N", true, "Créer un nouveau fichier");
        row("FileOpenItem", "&Ouvrir", "Ctrl+O", true, "Ouvrir un fichier");
        row("save1", "&Enregistrer", "Ctrl+S", true, "Enregistrer le fichier en cours");
        row("save2", "Enregistrer &sous...", "", true, "Enregistrer le fichier en cours sous un nouveau nom");
        row("eos", "Enregistrer &optimisé sous...", "", true);
        row("Imprimer1", "Im&primer...", "", false);
        row("FileExitItem", "&Quitter", "", true, "Quitter l'application");
        row("Edit1", "&Edition", "", true, "Commandes d'édition");
        row("CopyItem", "Co&pier", "Ctrl+C", true, "Copier la sélection et la mettre dans le Presse-papiers");
        row("Paste", "C&oller", "", true, "Insérer le contenu du Presse-papiers");
        row("Enajoutantlimage1", "&Ajouter à la fin", "Ctrl+V", true);
        row("CutItem", "&Couper", "", false, "Couper la sélectionn et la mettre dans le Presse-papiers");
        row("Annuler1", "A&nnuler", "Ctrl+Z", true, "Annuler la dernière modification");
        row("Refaire", "&Refaire", "Ctrl+Y", true, "Refaire la dernière modification annulée");
        row("Comments", "Commentaires...", "", false);
        row("Tools", "Barre d'&outils", "", true);
        row("State", "Barre d'é&tat", "", true);
        row("showloop", "Bouclage", "", true);
        row("showrate", "Durée de l'image", "", true);
        row("showcomment", "Commentaires", "", true);
        row("Showframes", "&Liste des images", "", false);
        row("ShowVis", "Visualisateur", "", false);
        row("showhelp", "Aide rapide", "", false);
        row("add1", "&Ajouter...", "F2", true);
        row("insert", "In&sèrer...", "F3", true);
        row("sup2", "&Supprimer", "Del", true);
        row("arriere", "en a&rrière", "Ctrl+Alt+R", true);
        row("avant", "en a&vant", "Ctrl+Alt+V", true);
        row("clsolid", "&Insérer une image vide", "", false);
        row("Invert", "In&verser l'ordre", "", false);
        row("change", "&Changer l'ordre...", "", false);
        row("Prop", "&Propriétés", "", false);
        row("jouer", "&Jouer", "", true);
        row("Trans", "&Couleur de fond...", "", false);
        row("boucle", "&Bouclage", "", false);
        row("Aide1", "Ai&de", "", true, "Rubriques d'aide");
        row("Rubriquesdaide1", "&Rubriques d'aide", "F1", true);
        row("Manueldepriseenmain1", "&Comment créer des gifs", "", true);
        row("Visiterlesiteweb1", "&Page d'accueil Movaro Gif", "", true);
        row("Contacterlauteur1", "Contact", "", true);
        row("Envoyerunemail1", "par &e-mail", "", true);
        row("Pagedecontactdusite1", "page &web de contact", "", false);
        row("HelpAboutItem", "&A propos de Movaro Gif", "", true, "A propos");
        row("SA", "Compagnon", "", false);
        row("MovaroGifsurleweb1", "Movaro Gif sur le web...", "", false);
    }

    void menuItems()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QString, shortcut);
        QFETCH(bool, shown);
        QFETCH(QString, hint);
        QAction *a = item(name);
        QVERIFY2(a, qPrintable(name));
        QCOMPARE(a->text(), caption);
        QCOMPARE(a->shortcut().toString(QKeySequence::PortableText), shortcut);
        QCOMPARE(a->isVisible(), shown);
        QCOMPARE(a->statusTip(), hint);
    }

    void toolBarButtons()
    {
        QToolBar *bar = t->form->findChild<QToolBar *>(QStringLiteral("ToolBar1"));
        QStringList shown, hidden;
        for (QAction *a : bar->actions()) {
            if (a->isSeparator())
                continue;
            (a->isVisible() ? shown : hidden) << a->objectName();
        }
        QCOMPARE(shown, (QStringList{"tbNew", "ToolButton1", "save", "Annuler1", "Refaire", "play", "stop"}));
        QCOMPARE(hidden, (QStringList{"ToolButton2", "addBtn_2", "sup_2", "ToolButton7", "ToolButton4"}));
        // The state holders exist, off every bar: a hidden action would be a disabled one.
        for (const char *holder : {"Loopsb", "rateb", "comb", "helpb", "cut", "copy", "past"})
            QVERIFY2(t->form->action(QLatin1String(holder)) && t->form->action(QLatin1String(holder))->associatedObjects().isEmpty(), holder);
    }

    void collapsingTheDurationPanel()
    {
        QWidget *rate = panel("pnlRate");
        app::PanelHeader *bar = header("pnlRate");
        QTest::mouseClick(bar->collapseArrow(), Qt::LeftButton);
        QApplication::processEvents();
        QCOMPARE(rate->height(), 16);
        QVERIFY(bar->expandArrow()->isVisible());
        QVERIFY(!bar->collapseArrow()->isVisible());
        QVERIFY(!t->form->rateb->isChecked());
        QCOMPARE(panel("pnlloop")->height(), 101); // the others stay as they were
        QCOMPARE(panel("pnlComments")->height(), 97);

        // The mark is put right when the menu opens, whatever it showed before.
        QAction *showrate = t->form->action(QStringLiteral("showrate"));
        showrate->setChecked(true);
        openViewMenu();
        QVERIFY(!showrate->isChecked());

        showrate->trigger();
        QApplication::processEvents();
        QCOMPARE(rate->height(), 97);
        QVERIFY(bar->collapseArrow()->isVisible());
        QVERIFY(!bar->expandArrow()->isVisible());
        QVERIFY(t->form->rateb->isChecked());
    }

    void panelsFollowTheirStateHolders()
    {
        // A click on the title bar flips the panel; the hidden "&Bouclage" item applies the holder.
        QTest::mouseClick(header("pnlComments"), Qt::LeftButton, {}, QPoint(120, 8));
        QApplication::processEvents();
        QCOMPARE(panel("pnlComments")->height(), 16);
        QVERIFY(!t->form->comb->isChecked());
        t->form->Loopsb->setChecked(false);
        t->form->action(QStringLiteral("boucle"))->setVisible(true); // reachable for the test only
        t->form->action(QStringLiteral("boucle"))->trigger();
        QApplication::processEvents();
        QCOMPARE(panel("pnlloop")->height(), 16);
        QVERIFY(header("pnlloop")->expandArrow()->isVisible());
        openViewMenu();
        QVERIFY(!t->form->action(QStringLiteral("showloop"))->isChecked());
        QVERIFY(!t->form->action(QStringLiteral("showcomment"))->isChecked());
        QVERIFY(t->form->action(QStringLiteral("showrate"))->isChecked());
    }

    void barToggles()
    {
        QToolBar *tools = t->form->findChild<QToolBar *>(QStringLiteral("ToolBar1"));
        t->form->action(QStringLiteral("Tools"))->trigger();
        t->form->action(QStringLiteral("State"))->trigger();
        QVERIFY(tools->isHidden());
        QVERIFY(t->form->statusBar()->isHidden());
        QVERIFY(t->form->menuBar()->isVisible()); // the menu band stays
        // Marks set by anything else are corrected when the menu opens.
        t->form->action(QStringLiteral("Tools"))->setChecked(true);
        openViewMenu();
        QVERIFY(!t->form->action(QStringLiteral("Tools"))->isChecked());
        QVERIFY(!t->form->action(QStringLiteral("State"))->isChecked());
        t->form->action(QStringLiteral("State"))->trigger();
        QVERIFY(!t->form->statusBar()->isHidden());
    }

    void thumbnailsAndToolBarStayCentred()
    {
        QWidget *area = panel("pnlFrames");
        QWidget *thumbnails = panel("thumbnails");
        QWidget *tools = panel("ToolBar2");
        bool narrower = false;
        for (int width : {1200, 1201, 640, 641}) {
            t->form->resize(width, 700);
            QApplication::processEvents();
            const int spare = area->width() - thumbnails->width();
            narrower |= spare < 0;
            // Halved toward zero, also when the area is narrower than the panel.
            QCOMPARE(thumbnails->x(), int(std::trunc(spare / 2.0)));
            QCOMPARE(tools->x(), thumbnails->x());
        }
        QVERIFY(narrower);
    }

    void hintsInTheStatusBar()
    {
        // Menu items: the highlighted item's long hint.
        QMenu *file = t->form->findChild<QMenu *>(QStringLiteral("File1"));
        file->popup(t->form->mapToGlobal(QPoint(10, 10)));
        QVERIFY(QTest::qWaitForWindowExposed(file));
        QAction *open = t->form->action(QStringLiteral("FileOpenItem"));
        QTest::mouseMove(file, file->actionGeometry(open).center());
        QTRY_COMPARE(hintPanel(), QStringLiteral("Ouvrir un fichier"));
        file->hide();

        // Controls: entering shows the hint, leaving brings back the resting text.
        const std::pair<const char *, const char *> controls[] = {
            {"PlayBtn", "Jouer l'animation"},
            {"Period", "Durée d'affichage de l'image sélectionnée, en centièmes de seconde"},
            {"PB2", "Cliquez sur une vignette pour sélectionner son image"},
        };
        for (const auto &[name, hint] : controls) {
            QWidget *control = panel(name);
            QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
            QApplication::sendEvent(control, &enter);
            QCOMPARE(hintPanel(), QString::fromUtf8(hint));
            QEvent leave(QEvent::Leave);
            QApplication::sendEvent(control, &leave);
            QCOMPARE(hintPanel(), TMainform::restingHint);
        }
        QToolBar *bar = t->form->findChild<QToolBar *>(QStringLiteral("ToolBar1"));
        QWidget *newButton = bar->widgetForAction(t->form->action(QStringLiteral("tbNew")));
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QApplication::sendEvent(newButton, &enter);
        QCOMPARE(hintPanel(), QStringLiteral("Créer un nouveau fichier"));
    }

    void f1OpensTheManual()
    {
        t->form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(t->form.get()));
        QTest::keyClick(t->form.get(), Qt::Key_F1);
        QCOMPARE(urls->opened.size(), 1);
        QVERIFY(urls->opened[0].endsWith(QStringLiteral("/share/movaro-gif/help/index.html")));
        QVERIFY(QFileInfo::exists(urls->opened[0]));
        QVERIFY(!t->form->helpWindow());
        // The hidden "Aide" button does the same.
        t->form->action(QStringLiteral("ToolButton7"))->setVisible(true);
        t->form->action(QStringLiteral("ToolButton7"))->trigger();
        QCOMPARE(urls->opened.size(), 2);
    }

    void manualInTheProgramWhenTheDesktopCannot()
    {
        auto failing = std::make_unique<FailingUrlOpener>();
        FailingUrlOpener *opener = failing.get();
        t->form->setUrlOpener(std::move(failing));
        t->form->Rubriquesdaide1Click();
        QCOMPARE(opener->tried.size(), 1);
        auto *window = qobject_cast<app::HelpWindow *>(t->form->helpWindow());
        QVERIFY(window && window->isVisible());
        QVERIFY(window->browser()->toPlainText().contains(QStringLiteral("Aide de Movaro Gif")));
        window->browser()->setSource(QUrl(QStringLiteral("commandes.html")));
        QVERIFY(window->browser()->toPlainText().contains(QStringLiteral("Toutes les commandes")));
        // Asking again reuses the window.
        t->form->Rubriquesdaide1Click();
        QCOMPARE(t->form->helpWindow(), window);
    }

    void everyLinkOfTheManualLeadsToAPage()
    {
        const QDir dir(installedManual());
        const QStringList pages = dir.entryList({QStringLiteral("*.html")});
        QVERIFY(pages.contains(QStringLiteral("index.html")));
        QVERIFY(pages.size() >= 4);
        const QRegularExpression link(QStringLiteral("(?:href|src)=\"([^\":#]+)"));
        for (const QString &page : pages) {
            QFile file(dir.filePath(page));
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QString html = QString::fromUtf8(file.readAll());
            for (auto m = link.globalMatch(html); m.hasNext();) {
                const QString target = m.next().captured(1);
                QVERIFY2(dir.exists(target), qPrintable(page + QStringLiteral(" → ") + target));
            }
        }
    }

    void webLinks_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("answer"); // to the download-page question, −1: none asked
        QTest::addColumn<QStringList>("opened");
        QTest::newRow("home page") << "Visiterlesiteweb1" << -1 << QStringList{"https://movarogif.org/"};
        QTest::newRow("e-mail") << "Envoyerunemail1" << -1 << QStringList{"mailto:contact@movarogif.org"};
        QTest::newRow("contact page") << "Pagedecontactdusite1" << -1 << QStringList{"https://movarogif.org/contact/"};
        QTest::newRow("update, OK") << "Misejour1" << int(Answer::Ok)
                                    << QStringList{"https://movarogif.org/telechargement/"};
        QTest::newRow("update, cancelled") << "Misejour1" << int(Answer::Cancel) << QStringList{};
    }

    void webLinks()
    {
        QFETCH(QString, name);
        QFETCH(int, answer);
        QFETCH(QStringList, opened);
        if (answer >= 0)
            t->prompter->answers.push_back(Answer(answer));
        QAction *a = t->form->action(name);
        a->setVisible(true); // the hidden ones are reached here as a future menu would
        a->trigger();
        QCOMPARE(urls->opened, opened);
        if (answer >= 0) {
            QCOMPARE(t->prompter->asked.size(), 1);
            QCOMPARE(t->prompter->asked[0].text,
                     QStringLiteral("Movaro Gif va maintenant ouvrir la page de téléchargement de notre site.\n"
                                    "Voulez-vous continuer ?"));
        }
    }
};

QTEST_MAIN(TestChrome)
#include "test_chrome.moc"
