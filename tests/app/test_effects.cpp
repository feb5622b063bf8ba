// The effect dialog, the Effets menu's enabling and its commands run through the real dialog.
#include "app_fixtures.h"

#include "dialogs/ueffects.h"

#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

using dialogs::TEffects;

namespace {

/** Answers the next modal dialog once it is up: `look` sees it, then it is accepted or rejected. */
void answerDialog(bool ok, std::function<void(QDialog *)> look = {})
{
    QTimer::singleShot(0, [ok, look] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        if (look)
            look(dialog);
        ok ? dialog->accept() : dialog->reject();
    });
}

QStringList visiblePanels(const TEffects *d)
{
    QStringList out;
    for (QWidget *w : {d->pancombo, d->Panessuyage, d->pancolor})
        if (w->isVisible())
            out << w->objectName();
    return out;
}

int delayOf(const doc::TGIFImage &document, int i)
{
    return document.frame(i).graphicControl()->delay;
}

} // namespace

class TestEffects : public QObject
{
    Q_OBJECT

    QTemporaryDir mDir;
    std::unique_ptr<FormUnderTest> t;

    void addFrames(int n)
    {
        QStringList files;
        for (int i = 0; i < n; ++i)
            files << writePng(mDir.filePath(QStringLiteral("f%1.png").arg(i)), 12, 8, qRgb(60 * i, 100, 50));
        t->add(files);
    }

    QAction *item(const char *name) const { return t->form->action(QString::fromLatin1(name)); }

private slots:
    void init() { t = std::make_unique<FormUnderTest>(); }
    void cleanup() { t.reset(); }

    void dialogStartsWithItsInitialSettings()
    {
        TEffects d;
        QCOMPARE(d.windowTitle(), QStringLiteral("Effet"));
        QCOMPARE(d.Lab1->text(), QStringLiteral("80 (1/100 Sec)"));
        QCOMPARE(d.Lab2->text(), QStringLiteral("10 images/s"));
        QCOMPARE(d.number->text(), QStringLiteral("8"));
        QCOMPARE(d.frameCount(), 8);
        QCOMPARE((QList<int>{d.RxSlider1->minimum(), d.RxSlider1->maximum(), d.RxSlider1->tickInterval()}),
                 (QList<int>{1, 200, 10}));
        QCOMPARE((QList<int>{d.RxSlider2->minimum(), d.RxSlider2->maximum(), d.RxSlider2->tickInterval()}),
                 (QList<int>{1, 30, 10}));
        QCOMPARE(d.combo->currentIndex(), 0);
        QCOMPARE(d.combo->count(), 4);
        QCOMPARE(d.combo->itemText(3), QStringLiteral("De bas en haut"));
        QCOMPARE(d.comboessuyage->currentIndex(), -1);
        QCOMPARE(d.comboessuyage->itemText(1), QStringLiteral("De haut en bas"));
        QCOMPARE(d.solidColour(), QColor(Qt::white));
        QCOMPARE(d.GroupBox2->title(), QStringLiteral("Paramètres de l'effet"));
        QCOMPARE(d.GroupBox1->title(), QStringLiteral("Nombre d'images"));
        QCOMPARE(d.num->text(), QStringLiteral("Nombre total d'images utilisées :"));
        QCOMPARE(d.select->text(), QStringLiteral("Couleur solide..."));
        QCOMPARE(d.Button1->text(), QStringLiteral("&OK"));
        QVERIFY(d.Button1->isDefault());
        QCOMPARE(d.Button2->text(), QStringLiteral("A&nnuler"));
        d.show();
        QVERIFY(visiblePanels(&d).isEmpty());
    }

    void numberFollowsBothSliders_data()
    {
        QTest::addColumn<int>("duration");
        QTest::addColumn<int>("rate");
        QTest::addColumn<QString>("number");
        QTest::newRow("a half rounds to even 0") << 25 << 2 << QStringLiteral("0");
        QTest::newRow("1.5 rounds to 2") << 75 << 2 << QStringLiteral("2");
        QTest::newRow("2.5 rounds to 2") << 125 << 2 << QStringLiteral("2");
        QTest::newRow("the most") << 200 << 30 << QStringLiteral("60");
        QTest::newRow("the least") << 1 << 1 << QStringLiteral("0");
    }
    void numberFollowsBothSliders()
    {
        QFETCH(int, duration);
        QFETCH(int, rate);
        QFETCH(QString, number);
        TEffects d;
        d.RxSlider1->setValue(duration);
        QCOMPARE(d.Lab1->text(), QStringLiteral("%1 (1/100 Sec)").arg(duration));
        d.RxSlider2->setValue(rate);
        QCOMPARE(d.Lab2->text(), QStringLiteral("%1 images/s").arg(rate));
        QCOMPARE(d.number->text(), number);
        // Moving the duration alone recomputes N from the rate already set.
        d.RxSlider1->setValue(100);
        QCOMPARE(d.number->text(), QString::number(rate));
    }

    void menuEnablingFollowsTheSelection()
    {
        const QStringList handled{QStringLiteral("Defilement"), QStringLiteral("Remplacement"),
                                  QStringLiteral("Essuyage"), QStringLiteral("sep"), QStringLiteral("Fondu")};
        auto enabled = [&] {
            emit t->form->Effets->aboutToShow();
            QStringList on;
            for (const QString &name : handled)
                if (t->form->action(name)->isEnabled())
                    on << name;
            return on;
        };
        QVERIFY(t->form->Effets->isEnabled());
        addFrames(2);
        t->form->ren(); // nothing selected
        QCOMPARE(enabled(), QStringList());
        t->form->selectFrame(0);
        QCOMPARE(enabled(), QStringList{QStringLiteral("Defilement")});
        t->form->selectFrame(1);
        QCOMPARE(enabled(), handled);

        // The hidden items exist and are not shown (their commands run in the test below).
        for (const char *name : {"Eblouissement1", "Dissolution1", "Postrisation1", "ef2", "Opacite",
                                 "Visionneusedeffetsspciaux1"}) {
            QVERIFY2(item(name), name);
            QVERIFY2(!item(name)->isVisible(), name);
        }
        for (const char *name : {"Defilement", "Remplacement", "Essuyage", "Fondu", "SeparationV", "SeparationH"})
            QVERIFY2(item(name)->isVisible(), name);
    }

    void eachCommandShowsItsOwnPanelsAndCancellingChangesNothing()
    {
        addFrames(3);
        t->form->selectFrame(1);
        t->form->setModified(false);
        const struct {
            const char *item;
            QString caption;
            QStringList panels;
        } rows[] = {
            {"Essuyage", QStringLiteral("Effet Essuyage"), {QStringLiteral("Panessuyage")}},
            // After the wipe: its panel is gone again.
            {"Defilement", QStringLiteral("Effet Défilement"), {QStringLiteral("pancombo"), QStringLiteral("pancolor")}},
            {"Remplacement", QStringLiteral("Effet Remplacement"), {QStringLiteral("pancombo")}},
            {"Fondu", QStringLiteral("Effet Fondu"), {}},
            {"SeparationV", QStringLiteral("Effet Séparation Verticale"), {}},
            {"Eblouissement1", QStringLiteral("Effet Séparation Horizontale"), {}},
            {"Postrisation1", QStringLiteral("Effet Dissolution"), {}},
            {"Opacite", QStringLiteral("Effet Défilement"), {QStringLiteral("pancombo"), QStringLiteral("pancolor")}},
        };
        for (const auto &row : rows) {
            QString caption, description;
            QStringList panels;
            QWidget *focus = nullptr;
            answerDialog(false, [&](QDialog *dialog) {
                caption = dialog->windowTitle();
                description = t->form->Effects->Lab->text();
                panels = visiblePanels(t->form->Effects);
                focus = dialog->focusWidget();
            });
            item(row.item)->trigger();
            QCOMPARE(caption, row.caption);
            QVERIFY(!description.isEmpty());
            QCOMPARE(panels, row.panels);
            QCOMPARE(focus, t->form->Effects->Button1);
            QCOMPARE(t->form->document()->count(), 3);
            QVERIFY(!t->form->isModified());
            QCOMPARE(t->form->selectedFrame(), 1);
        }
        // The wipe chose its first direction because none was chosen.
        QCOMPARE(t->form->Effects->comboessuyage->currentIndex(), 0);
        QCOMPARE(t->form->Effects->Lab->text(),
                 QStringLiteral("Ajoute des images avant l'image en cours. L'image courante défile sur une couleur "
                                "solide jusqu'à atteindre le milieu."));

        // The settings item changes neither caption nor description, whatever its answer.
        answerDialog(true, [](QDialog *dialog) { QCOMPARE(dialog->windowTitle(), QStringLiteral("Effet Défilement")); });
        item("Visionneusedeffetsspciaux1")->trigger();
        QCOMPARE(t->form->document()->count(), 3);
        QVERIFY(!t->form->isModified());
    }

    void okInsertsTheFramesInFrontOfTheSelectedOne()
    {
        addFrames(3);
        t->form->selectFrame(2);
        t->form->setModified(false);
        answerDialog(true);
        item("Fondu")->trigger();
        const doc::TGIFImage &document = *t->form->document();
        QCOMPARE(document.count(), 12);
        for (int i = 2; i <= 10; ++i)
            QCOMPARE(delayOf(document, i), 0);
        QCOMPARE(delayOf(document, 11), 60);
        QCOMPARE(document.picture(11).pixel(0, 0), (doc::Rgb{120, 100, 50}));
        QVERIFY(t->form->isModified());
        QCOMPARE(t->form->frameEntries(), 12);
        QVERIFY(QApplication::overrideCursor() == nullptr);
        QVERIFY(t->form->menuBar()->isEnabled());
    }

    void aStoppedEffectStillRebuildsAndMarksModified()
    {
        addFrames(2);
        t->form->selectFrame(1);
        t->form->setModified(false);
        answerDialog(true, [this](QDialog *) { t->form->Effects->RxSlider1->setValue(25);
                                                t->form->Effects->RxSlider2->setValue(2); }); // N = 0
        item("Remplacement")->trigger();
        QCOMPARE(t->form->document()->count(), 2);
        QVERIFY(t->form->isModified());
        QCOMPARE(t->form->selectedFrame(), -1);
        t->form->Effects->RxSlider1->setValue(80);
        t->form->Effects->RxSlider2->setValue(10);
    }

    void scrollUsesTheChosenColourAndKeepsTheLoopingFirst()
    {
        addFrames(2);
        t->form->selectFrame(0);
        // Choose a colour through the real colour dialog, then run the scroll from frame 0.
        answerDialog(true, [](QDialog *dialog) {
            qobject_cast<QColorDialog *>(dialog)->setCurrentColor(QColor(0, 0, 255));
        });
        t->form->Effects->selectClick();
        QCOMPARE(t->form->Effects->solidColour(), QColor(0, 0, 255));
        answerDialog(false, [](QDialog *dialog) {
            qobject_cast<QColorDialog *>(dialog)->setCurrentColor(QColor(9, 9, 9));
        });
        t->form->Effects->selectClick(); // cancelled: nothing changes
        QCOMPARE(t->form->Effects->solidColour(), QColor(0, 0, 255));
        QCOMPARE(t->form->Effects->cld->currentColor(), QColor(0, 0, 255));

        answerDialog(true);
        item("Defilement")->trigger();
        const doc::TGIFImage &document = *t->form->document();
        QCOMPARE(document.count(), 11);
        QCOMPARE(document.picture(0).pixel(5, 5), (doc::Rgb{0, 0, 255}));
        QCOMPARE(document.frame(0).extension(0)->kind(), doc::ExtensionKind::Loop);
    }
};

QTEST_MAIN(TestEffects)
#include "test_effects.moc"
