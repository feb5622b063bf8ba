// Several frames marked in the strip with the mouse and the keyboard, and the commands on them.
#include "app_fixtures.h"
#include "modal_user.h"

#include "app/undo_commands.h"
#include "app/views.h"
#include "dialogs/udispo.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QMimeData>
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

class TestSelection : public QObject
{
    Q_OBJECT

    QTemporaryDir mDir;
    std::unique_ptr<FormUnderTest> t;

    /** Five frames of widths 10 to 14. */
    void fiveFrames()
    {
        QStringList files;
        for (int i = 0; i < 5; ++i)
            files << writePng(mDir.filePath(QStringLiteral("f%1.png").arg(i)), 10 + i, 8, qRgb(50 * i, 90, 30));
        t->add(files);
    }

    QList<int> marked() const
    {
        QList<int> out;
        for (int f : t->form->selectedFrames())
            out << f;
        return out;
    }

    /** A click on thumbnail slot k (1 to 4) with the keyboard's modifiers. */
    void click(int k, Qt::KeyboardModifiers modifiers = {})
    {
        QTest::mouseClick(t->form->thumbs[std::size_t(k - 1)]->picture(), Qt::LeftButton, modifiers, QPoint(20, 20));
    }

    QList<bool> highlighted() const
    {
        QList<bool> out;
        for (auto *slot : t->form->thumbs)
            out << slot->isHighlighted();
        return out;
    }

private slots:
    void initTestCase() { QVERIFY(mDir.isValid()); }
    void init()
    {
        t = std::make_unique<FormUnderTest>();
        fiveFrames();
        // Adding shows the last frame, which scrolls the strip by one: back to the start, so that
        // slot k shows frame k - 1.
        t->form->selectFrame(0);
        QCOMPARE(t->form->scrollPosition(), 0);
    }
    void cleanup() { t.reset(); }

    void clicksMarkSetsAndRanges()
    {
        click(2);
        QCOMPARE(marked(), (QList<int>{1}));
        click(4, Qt::ControlModifier);
        QCOMPARE(marked(), (QList<int>{1, 3}));
        QCOMPARE(t->form->selectedFrame(), 3); // the last clicked one is shown
        QCOMPARE(t->form->Image->picture().width(), 13);
        QCOMPARE(highlighted(), (QList<bool>{false, true, false, true}));

        click(1, Qt::ShiftModifier); // from the anchor (the last Ctrl-clicked frame)
        QCOMPARE(marked(), (QList<int>{0, 1, 2, 3}));
        QCOMPARE(t->form->selectedFrame(), 0);

        click(1, Qt::ControlModifier); // unmarking the shown frame shows the next marked one
        QCOMPARE(marked(), (QList<int>{1, 2, 3}));
        QCOMPARE(t->form->selectedFrame(), 1);

        click(3); // a plain click keeps one frame
        QCOMPARE(marked(), (QList<int>{2}));
        QCOMPARE(highlighted(), (QList<bool>{false, false, true, false}));
    }

    void keyboardMovesAndExtends()
    {
        click(1);
        QWidget *strip = t->form->thumbs[0]->parentWidget();
        QCOMPARE(QApplication::focusWidget(), strip);
        QTest::keyClick(strip, Qt::Key_Right);
        QCOMPARE(marked(), (QList<int>{1}));
        QTest::keyClick(strip, Qt::Key_Right, Qt::ShiftModifier);
        QTest::keyClick(strip, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(marked(), (QList<int>{1, 2, 3}));
        QCOMPARE(t->form->selectedFrame(), 3);
        QTest::keyClick(strip, Qt::Key_End, Qt::ShiftModifier);
        QCOMPARE(marked(), (QList<int>{1, 2, 3, 4}));
        QTest::keyClick(strip, Qt::Key_Home);
        QCOMPARE(marked(), (QList<int>{0}));
        QTest::keyClick(strip, Qt::Key_Left); // stays at the first frame
        QCOMPARE(t->form->selectedFrame(), 0);
    }

    void delayFieldShowsTheCommonDelay()
    {
        click(2);
        t->form->Period->setValue(30);
        auto *text = t->form->Period->findChild<QLineEdit *>();
        click(1);
        click(3, Qt::ControlModifier); // 60 and 60
        QCOMPARE(text->text(), QStringLiteral("60"));
        click(2, Qt::ControlModifier); // and 30
        QCOMPARE(text->text(), QString());
        QCOMPARE(t->form->Image->picture().width(), 11);
    }

    void commandsActOnEveryMarkedFrame_data()
    {
        QTest::addColumn<Command>("command");
        QTest::addColumn<QList<int>>("widthsAfter");
        QTest::newRow("delete") << Command([](FormUnderTest &f) {
            f.prompter->answers.push_back(Answer::Yes);
            f.form->DelClick();
            QCOMPARE(f.prompter->asked.last().text,
                     QStringLiteral("Êtes-vous sûr de vouloir supprimer ces 2 images de l'animation ?"));
        }) << QList<int>{10, 12, 14};
        QTest::newRow("cut") << Command([](FormUnderTest &f) { f.form->CutItemClick(); }) << QList<int>{10, 12, 14};
        QTest::newRow("duplicate") << Command([](FormUnderTest &f) { f.form->DupClick(); })
                                   << QList<int>{10, 11, 11, 12, 13, 13, 14};
        QTest::newRow("move back") << Command([](FormUnderTest &f) { f.form->arriereClick(); })
                                   << QList<int>{11, 10, 13, 12, 14};
        QTest::newRow("move forward") << Command([](FormUnderTest &f) { f.form->avantClick(); })
                                      << QList<int>{10, 12, 11, 14, 13};
        QTest::newRow("disposal") << Command([](FormUnderTest &f) {
            ModalUser user([](QWidget *w) {
                auto *dialog = qobject_cast<dialogs::TDispo *>(w);
                dialog->disCombo->setCurrentIndex(3);
                dialog->accept();
            });
            f.form->methodeClick();
            const int chosen = f.form->dispo()->disposalValue();
            for (int i : {1, 3})
                QCOMPARE(f.form->document()->frame(i).graphicControl()->disposal(), chosen);
            QVERIFY(f.form->document()->frame(2).graphicControl()->disposal() != chosen);
        }) << QList<int>{10, 11, 12, 13, 14};
        QTest::newRow("delay typed") << Command([](FormUnderTest &f) {
            f.form->Period->setFocus();
            f.form->Period->findChild<QLineEdit *>()->selectAll();
            QTest::keyClicks(f.form->Period, QStringLiteral("45"));
            for (int i : {1, 3})
                QCOMPARE(f.form->document()->frame(i).graphicControl()->delay, 45);
            QCOMPARE(f.form->document()->frame(2).graphicControl()->delay, 60);
        }) << QList<int>{10, 11, 12, 13, 14};
    }

    /** Frames 1 and 3 marked: the command changes both, and one undo gives back the document. */
    void commandsActOnEveryMarkedFrame()
    {
        QFETCH(Command, command);
        QFETCH(QList<int>, widthsAfter);
        click(2);
        click(4, Qt::ControlModifier);
        const QByteArray before = bytesOf(t->form->document());
        const int steps = t->form->history().stack().count();
        command(*t);
        QCOMPARE(t->widths(), widthsAfter);
        QCOMPARE(t->form->history().stack().count(), steps + 1);
        t->form->undoItem->trigger();
        QCOMPARE(bytesOf(t->form->document()), before);
    }

    void movedMarksFollowTheirFrames()
    {
        click(2);
        click(3, Qt::ShiftModifier);
        t->form->avantClick();
        QCOMPARE(t->widths(), (QList<int>{10, 13, 11, 12, 14}));
        QCOMPARE(marked(), (QList<int>{2, 3}));
        t->form->avantClick();
        QCOMPARE(t->widths(), (QList<int>{10, 13, 14, 11, 12}));
        t->form->avantClick(); // at the end: nothing moves
        QCOMPARE(t->widths(), (QList<int>{10, 13, 14, 11, 12}));
    }

    void copiedFramesPasteIntoAnotherWindow()
    {
        click(1);
        click(3, Qt::ShiftModifier);
        t->form->CopyItemClick();
        const QMimeData *data = QApplication::clipboard()->mimeData();
        QVERIFY(data->hasFormat(QStringLiteral("image/gif")));
        QVERIFY(data->hasImage()); // other programs get the shown frame

        FormUnderTest other;
        other.form->PasteClick();
        QCOMPARE(other.form->document()->count(), 3);
        QList<int> pasted;
        for (int i = 0; i < 3; ++i)
            pasted << other.form->document()->frame(i).width;
        QCOMPARE(pasted, (QList<int>{10, 11, 12}));
        QCOMPARE(other.form->history().stack().count(), 1);
    }
};

QTEST_MAIN(TestSelection)
#include "test_selection.moc"
