// Undo and redo of every command that changes the document, through the real window and stack.
#include "app_fixtures.h"
#include "modal_user.h"

#include "app/undo_commands.h"
#include "app/views.h"
#include "dialogs/uass.h"
#include "dialogs/udispo.h"
#include "dialogs/uoptions.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <sstream>

using app::Answer;

namespace {

using Command = std::function<void(FormUnderTest &)>;

} // namespace

Q_DECLARE_METATYPE(Command)

class TestUndo : public QObject
{
    Q_OBJECT

    QTemporaryDir mDir;
    std::unique_ptr<FormUnderTest> t;

    QString png(int i) const { return mDir.filePath(QStringLiteral("f%1.png").arg(i)); }

    /** Three frames of widths 10, 11, 12, frame 1 selected. */
    void threeFrames()
    {
        t->add({png(0), png(1), png(2)});
        t->form->selectFrame(1);
    }

    QByteArray now() const { return bytesOf(t->form->document()); }

private slots:
    void initTestCase()
    {
        QVERIFY(mDir.isValid());
        for (int i = 0; i < 4; ++i)
            writePng(png(i), 10 + i, 8, qRgb(60 * i, 100, 50));
    }
    void init() { t = std::make_unique<FormUnderTest>(); }
    void cleanup() { t.reset(); }

    void eachCommandUndoesAndRedoes_data()
    {
        QTest::addColumn<Command>("command");
        QTest::addColumn<QString>("step");
        auto yes = [](FormUnderTest &f) { f.prompter->answers.push_back(Answer::Yes); };
        QTest::newRow("delete") << Command([yes](FormUnderTest &f) {
            yes(f);
            f.form->DelClick();
        }) << QStringLiteral("Supprimer l'image");
        QTest::newRow("duplicate") << Command([](FormUnderTest &f) { f.form->DupClick(); })
                                   << QStringLiteral("Dupliquer");
        QTest::newRow("move back") << Command([](FormUnderTest &f) { f.form->arriereClick(); })
                                   << QStringLiteral("Déplacer en arrière");
        QTest::newRow("move forward") << Command([](FormUnderTest &f) { f.form->avantClick(); })
                                      << QStringLiteral("Déplacer en avant");
        QTest::newRow("cut") << Command([](FormUnderTest &f) { f.form->CutItemClick(); }) << QStringLiteral("Couper");
        QTest::newRow("paste") << Command([](FormUnderTest &f) {
            QImage red(5, 4, QImage::Format_RGB32);
            red.fill(Qt::red);
            QApplication::clipboard()->setImage(red);
            f.form->PasteClick();
        }) << QStringLiteral("Coller");
        QTest::newRow("insert from clipboard") << Command([](FormUnderTest &f) {
            QImage blue(6, 3, QImage::Format_RGB32);
            blue.fill(Qt::blue);
            QApplication::clipboard()->setImage(blue);
            f.form->insClick();
        }) << QStringLiteral("Coller");
        QTest::newRow("add") << Command([this](FormUnderTest &f) { f.add({png(3)}); })
                             << QStringLiteral("Ajouter une image");
        QTest::newRow("insert file") << Command([this](FormUnderTest &f) {
            f.prompter->openFiles.push_back({png(3)});
            f.form->insertClick();
        }) << QStringLiteral("Insérer une image");
        QTest::newRow("disposal") << Command([](FormUnderTest &f) {
            ModalUser user([](QWidget *w) {
                auto *dialog = qobject_cast<dialogs::TDispo *>(w);
                dialog->disCombo->setCurrentIndex(2);
                dialog->accept();
            });
            f.form->methodeClick();
        }) << QStringLiteral("Méthode de disposition");
        QTest::newRow("transparent colour") << Command([](FormUnderTest &f) {
            f.form->transcolClick();
            f.form->ImageMouseUp(QPoint(0, 0), Qt::LeftButton);
        }) << QStringLiteral("Couleur transparente");
        QTest::newRow("delay") << Command([](FormUnderTest &f) { f.form->Period->setValue(77); })
                               << QStringLiteral("Délai");
        QTest::newRow("looping") << Command([](FormUnderTest &f) {
            f.form->fini->click();
            f.form->NumLoops->setValue(3);
        }) << QStringLiteral("Répétitions");
        QTest::newRow("filter") << Command([](FormUnderTest &f) { f.form->Inverserlescouleurs1Click(); })
                                << QStringLiteral("Couleurs inversées");
        QTest::newRow("flip") << Command([](FormUnderTest &f) { f.form->Horizontalement1Click(); })
                              << QStringLiteral("Retourner horizontalement");
        QTest::newRow("effect") << Command([](FormUnderTest &f) {
            f.form->action(QStringLiteral("ef2"))->trigger();
        }) << QStringLiteral("Compression");
        QTest::newRow("wizard") << Command([this](FormUnderTest &f) {
            f.form->setModified(false); // as if saved: the wizard builds without asking, over them
            f.form->ToolButton2Click();
            dialogs::Tassform *w = f.form->wizard();
            w->Nom->setText(QStringLiteral("built"));
            w->Suiv->click();
            w->Suiv->click();
            w->appendEntry(png(3));
            w->appendEntry(png(0));
            w->Suiv->click();
            w->Suiv->click();
        }) << QStringLiteral("Assistant nouvelle animation");
    }

    /** Each command is one step: undo gives back the document byte for byte, redo the changed one. */
    void eachCommandUndoesAndRedoes()
    {
        QFETCH(Command, command);
        QFETCH(QString, step);
        threeFrames();
        QUndoStack &stack = t->form->history().stack();
        const int steps = stack.count();
        const QByteArray before = now();
        command(*t);
        const QByteArray after = now();
        QVERIFY(after != before);
        QCOMPARE(stack.index(), stack.count());
        QCOMPARE(t->form->undoItem->text(), QStringLiteral("A&nnuler ") + step);
        QVERIFY(t->form->undoItem->isEnabled());

        t->form->undoItem->trigger();
        QCOMPARE(now(), before);
        QCOMPARE(t->form->redoItem->text(), QStringLiteral("&Refaire ") + step);
        t->form->redoItem->trigger();
        QCOMPARE(now(), after);
        t->form->undoItem->trigger();
        QCOMPARE(now(), before);
        // The window follows: its frame list and still view show the document's frames.
        QCOMPARE(t->form->frameEntries(), t->form->document() ? t->form->document()->count() : 0);
        if (t->form->frameEntries() > 0) {
            QVERIFY(t->form->selectedFrame() >= 0);
            QCOMPARE(t->form->Image->picture().width(),
                     int(t->form->document()->frame(t->form->selectedFrame()).width));
        }
        QCOMPARE(stack.count(), steps + 1);
    }

    void modifiedFlagFollowsTheSavedState()
    {
        const QString file = writeSmallFramesGif(mDir.filePath(QStringLiteral("small.gif")));
        t->form->openFromCommandLine(file);
        QVERIFY(!t->form->isModified());
        QVERIFY(!t->form->undoItem->isEnabled());

        t->form->selectFrame(0);
        t->form->DupClick();
        QVERIFY(t->form->isModified());
        t->form->undoItem->trigger();
        QVERIFY(!t->form->isModified()); // back where the file is
        t->form->redoItem->trigger();
        QVERIFY(t->form->isModified());
        QVERIFY(t->form->FileSave1Execute());
        QVERIFY(!t->form->isModified());
        t->form->undoItem->trigger();
        QVERIFY(t->form->isModified()); // the saved file has the duplicate
        t->form->redoItem->trigger();
        QVERIFY(!t->form->isModified());

        // Open and New forget the steps.
        t->form->undoItem->trigger();
        t->prompter->answers.push_back(Answer::No);
        t->form->FileNewItemClick();
        QCOMPARE(t->form->history().stack().count(), 0);
        QVERIFY(!t->form->undoItem->isEnabled());
        QVERIFY(!t->form->redoItem->isEnabled());
        threeFrames();
        t->prompter->answers.push_back(Answer::No);
        t->form->openFromCommandLine(file);
        QCOMPARE(t->form->history().stack().count(), 0);
    }

    void undoingEverythingGivesBackNoDocument()
    {
        // From an untitled window: the added frames go, and with them the document itself.
        threeFrames();
        t->form->undoItem->trigger();
        QVERIFY(!t->form->document());
        QCOMPARE(t->form->frameEntries(), 0);
        QVERIFY(t->form->Image->picture().isNull());
        QVERIFY(!t->form->isModified());
        t->form->redoItem->trigger();
        QCOMPARE(t->form->document()->count(), 3);
    }

    void typingIsOneStepPerEditSession()
    {
        threeFrames();
        QSpinBox *period = t->form->Period;
        const int delay = period->value();
        QUndoStack &stack = t->form->history().stack();
        const int steps = stack.count();
        period->setFocus();
        period->selectAll();
        QTest::keyClicks(period, QStringLiteral("250"));
        QCOMPARE(t->form->document()->frame(1).graphicControl()->delay, 250);
        QCOMPARE(stack.count(), steps + 1);
        emit period->editingFinished();
        period->selectAll();
        QTest::keyClicks(period, QStringLiteral("30"));
        QCOMPARE(stack.count(), steps + 2);
        stack.undo();
        QCOMPARE(t->form->document()->frame(1).graphicControl()->delay, 250);
        stack.undo();
        QCOMPARE(t->form->document()->frame(1).graphicControl()->delay, delay);
        QCOMPARE(period->value(), delay);

        // The comment box: the typed text is one step; undo gives back the text and the flag.
        QPlainTextEdit *comment = t->form->Gifcomment;
        stack.clear();
        t->form->setModified(false);
        comment->setFocus();
        QTest::keyClicks(comment, QStringLiteral("Salut"));
        QCOMPARE(stack.count(), 1);
        QCOMPARE(t->form->undoItem->text(), QStringLiteral("A&nnuler Commentaire"));
        t->form->undoItem->trigger();
        QCOMPARE(comment->toPlainText(), QString());
        QVERIFY(!t->form->isModified());
        t->form->redoItem->trigger();
        QCOMPARE(comment->toPlainText(), QStringLiteral("Salut"));
    }

    void shortcutsUndoAndRedo()
    {
        threeFrames();
        const QByteArray three = now();
        t->prompter->answers.push_back(Answer::Yes);
        t->form->DelClick();
        const QByteArray two = now();
        t->form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(t->form.get()));
        t->form->centralWidget()->setFocus();
        QTest::keyClick(t->form.get(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(now(), three);
        QTest::keyClick(t->form.get(), Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(now(), two);
        QTest::keyClick(t->form.get(), Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(t->form.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(now(), two);
    }

    void oldestStepsGoBeyondTheBound()
    {
        // Four frames, each replaced in turn by a filter: every step keeps one frame's old pixels.
        t->add({png(0), png(1), png(2), png(3)});
        app::UndoHistory &history = t->form->history();
        QUndoStack &stack = history.stack();
        stack.clear();
        QList<QByteArray> states{now()};
        for (int i = 0; i < 4; ++i) {
            t->form->selectFrame(i);
            t->form->Inverserlescouleurs1Click();
            states << now();
        }
        QCOMPARE(stack.count(), 4);
        const std::vector<std::size_t> each = history.stepBytes();
        QVERIFY(each[0] > 0);
        // Room for the two newest steps: the two oldest are dropped, the rest still undo.
        history.setByteLimit(each[2] + each[3]);
        t->form->selectFrame(0);
        t->form->Period->setValue(999); // a push trims the history
        QCOMPARE(stack.count(), 3);
        QVERIFY(history.heldBytes() <= each[2] + each[3]);
        stack.undo();
        stack.undo();
        stack.undo();
        QCOMPARE(now(), states[2]);
        QVERIFY(!stack.canUndo());
        QVERIFY(t->form->isModified()); // the saved state went with the dropped steps
    }

    void theBoundIsAnOption()
    {
        QCOMPARE(t->form->history().byteLimit(), app::UndoHistory::defaultByteLimit);
        ModalUser user([](QWidget *w) {
            auto *options = qobject_cast<dialogs::TOptions *>(w);
            QCOMPARE(options->undoMemory->value(), 200);
            options->undoMemory->setValue(64);
            options->OKBtn->click();
        });
        t->form->Options2Click();
        QCOMPARE(t->form->history().byteLimit(), std::size_t(64) << 20);
        // The next window starts with it.
        app::TMainform next;
        QCOMPARE(next.history().byteLimit(), std::size_t(64) << 20);
    }
};

QTEST_MAIN(TestUndo)
#include "test_undo.moc"
