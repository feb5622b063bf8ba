#include "app_fixtures.h"

#include "app/animation_view.h"
#include "app/views.h"
#include "document/gif_reader.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QTimer>
#include <QLabel>
#include <QRadioButton>
#include <QPlainTextEdit>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

using app::Answer;

class TestFrameEditing : public QObject
{
    Q_OBJECT

    QTemporaryDir mDir;
    std::unique_ptr<FormUnderTest> t;

    /** n frames of widths 10, 11, 12 ... (so each frame can be told apart). */
    void addFrames(int n)
    {
        QStringList files;
        for (int i = 0; i < n; ++i)
            files << writePng(mDir.filePath(QStringLiteral("f%1.png").arg(i)), 10 + i, 8, qRgb(40 * i, 100, 50));
        t->add(files);
    }

private slots:
    void init() { t = std::make_unique<FormUnderTest>(); }
    void cleanup() { t.reset(); }

    void deleteAsksAndSelectsTheNeighbour()
    {
        addFrames(3);
        t->form->selectFrame(2);
        t->prompter->answers.push_back(Answer::No);
        t->form->DelClick();
        QCOMPARE(t->widths(), (QList<int>{10, 11, 12}));
        QCOMPARE(t->prompter->asked.last().text,
                 QStringLiteral("Êtes-vous sûr de vouloir supprimer cette image de l'animation ?"));
        QCOMPARE(t->prompter->asked.last().kind, app::MessageKind::Confirmation);

        t->prompter->answers.push_back(Answer::Yes);
        t->form->DelClick();
        QCOMPARE(t->widths(), (QList<int>{10, 11}));
        QCOMPARE(t->form->selectedFrame(), 1);
        QVERIFY(t->form->isModified());
        // The loop setting is put back on the first frame.
        QCOMPARE(t->form->document()->frame(0).extension(0)->kind(), doc::ExtensionKind::Loop);
    }

    void deletingTheOnlyFrameEmptiesTheView()
    {
        addFrames(1);
        t->prompter->answers.push_back(Answer::Yes);
        t->form->DelClick();
        QCOMPARE(t->form->document()->count(), 0);
        QVERIFY(t->form->Image->picture().isNull());
        QVERIFY(t->form->past->isEnabled()); // "alsup"
        QVERIFY(!t->form->sup->isEnabled());
        QVERIFY(!t->form->play->isEnabled());
    }

    void duplicateKeepsTheDelayAndRestoresToBackground()
    {
        addFrames(2);
        t->form->selectFrame(0);
        doc::TGIFGraphicControlExtension *gce = t->form->document()->frame(0).graphicControl();
        gce->delay = 25;
        gce->setDisposal(3);
        t->form->DupClick();
        QCOMPARE(t->widths(), (QList<int>{10, 10, 11}));
        const doc::TGIFGraphicControlExtension *copy = t->form->document()->frame(1).graphicControl();
        QCOMPARE(copy->delay, 25);
        QCOMPARE(copy->disposal(), 2);
        QCOMPARE(t->form->selectedFrame(), 1);
    }

    void movingKeepsTheSelectionAndTheLoopOnTheFirstFrame()
    {
        addFrames(5);
        t->form->fini->click();
        t->form->NumLoops->setValue(4);
        t->form->selectFrame(0);
        t->form->avantClick(); // the first frame moves: the looping must follow the new first frame
        QCOMPARE(t->widths(), (QList<int>{11, 10, 12, 13, 14}));
        auto *loop = doc::extension_cast<doc::TGIFAppExtNSLoop>(t->form->document()->frame(0).extension(0));
        QVERIFY(loop);
        QCOMPARE(loop->loops, 4);

        t->form->selectFrame(2);
        t->form->arriereClick();
        QCOMPARE(t->widths(), (QList<int>{11, 12, 10, 13, 14}));
        QCOMPARE(t->form->selectedFrame(), 1);
        t->form->selectFrame(4);
        t->form->avantClick(); // the last frame does not move forward
        QCOMPARE(t->widths(), (QList<int>{11, 12, 10, 13, 14}));
    }

    void copyThenPasteAppendsAtTheEnd()
    {
        addFrames(2);
        t->form->selectFrame(0);
        t->form->CopyItemClick();
        QVERIFY(app::TMainform::clipboardHasBitmap());
        t->form->PasteClick();
        QCOMPARE(t->widths(), (QList<int>{10, 11, 10}));
        QCOMPARE(t->form->selectedFrame(), 2);
        QCOMPARE(t->form->document()->frame(2).graphicControl()->delay, 60);
        QCOMPARE(t->form->document()->picture(2).pixel(0, 0), t->form->document()->picture(0).pixel(0, 0));
    }

    void pasteIntoAnEmptyDocumentAndInsertBeforeTheSelection()
    {
        QImage image(7, 5, QImage::Format_RGB32);
        image.fill(qRgb(1, 200, 3));
        QApplication::clipboard()->setImage(image);
        t->form->insClick();
        QVERIFY(t->form->document());
        QCOMPARE(t->widths(), (QList<int>{7}));
        QCOMPARE(t->form->selectedFrame(), 0);
        QCOMPARE(t->form->statusPanel(2)->text(), QStringLiteral("1 image(s)"));

        image = QImage(3, 3, QImage::Format_RGB32);
        image.fill(qRgb(9, 9, 9));
        QApplication::clipboard()->setImage(image);
        t->form->insClick();
        QCOMPARE(t->widths(), (QList<int>{3, 7}));
        QCOMPARE(t->form->document()->reduction, doc::ColorReduction::OctreeQuantize);
    }

    void cutLeavesNoSelection()
    {
        addFrames(2);
        t->form->selectFrame(1);
        t->form->CutItemClick();
        QCOMPARE(t->widths(), (QList<int>{10}));
        QCOMPARE(t->form->selectedFrame(), -1);
        QVERIFY(!t->form->Image->picture().isNull()); // the still view keeps its picture
        QVERIFY(app::TMainform::clipboardHasBitmap());
    }

    void playAndStop()
    {
        addFrames(3);
        t->form->ren(); // nothing selected
        t->form->playClick();
        QVERIFY(t->form->Image->isHidden());
        QVERIFY(t->form->gif->isPlaying());
        QVERIFY(t->form->stop->isEnabled());
        QVERIFY(!t->form->play->isEnabled());
        QVERIFY(!t->form->Period->isEnabled());
        QVERIFY(!t->form->Gifcomment->isEnabled());
        // The slider follows the frames as they are painted.
        QTRY_VERIFY_WITH_TIMEOUT(t->form->Slider->value() == 1, 3000);

        t->form->stopPlayback(); // nothing selected: frame 0 is selected and shown
        QVERIFY(!t->form->gif->isPlaying());
        QCOMPARE(t->form->selectedFrame(), 0);
        QVERIFY(!t->form->Image->isHidden());
        QVERIFY(t->form->Period->isEnabled());
        QVERIFY(t->form->NumLoops->isEnabled()); // whichever looping choice is set

        // A thumbnail click while playing stops first.
        t->form->playClick();
        t->form->clickSlot(3);
        QVERIFY(!t->form->gif->isPlaying());
        QCOMPARE(t->form->selectedFrame(), 2);

        // So does an edit: deleting while frames are being composed ahead for playback.
        t->form->playClick();
        QTRY_VERIFY_WITH_TIMEOUT(t->form->Slider->value() == 1, 3000);
        t->prompter->answers.push_back(Answer::Yes);
        t->form->DelClick();
        QVERIFY(!t->form->gif->isPlaying());
        QCOMPARE(t->widths().size(), 2);
        t->form->playClick();
        QTRY_VERIFY_WITH_TIMEOUT(t->form->Slider->value() == 1, 3000);
        t->form->stopPlayback();
    }

    void steppingWrapsAround()
    {
        addFrames(3);
        t->form->selectFrame(2);
        t->form->nextClick();
        QCOMPARE(t->form->selectedFrame(), 0);
        t->form->backClick();
        QCOMPARE(t->form->selectedFrame(), 2);
        t->form->ren(); // nothing selected
        t->form->nextClick();
        QCOMPARE(t->form->selectedFrame(), 0);
    }

    void disposalDialogPresetsAndWrites()
    {
        addFrames(2);
        t->form->selectFrame(0);
        doc::TGIFGraphicControlExtension *gce = t->form->document()->frame(0).graphicControl();
        t->form->setModified(false);

        // Answer the real modal dialog: choose "Image précédente" and OK.
        auto answer = [](int position, bool ok) {
            QTimer::singleShot(0, [position, ok] {
                auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
                QVERIFY(dialog);
                auto *combo = dialog->findChild<QComboBox *>(QStringLiteral("disCombo"));
                QVERIFY(combo);
                if (position >= 0)
                    combo->setCurrentIndex(position);
                ok ? dialog->accept() : dialog->reject();
            });
        };
        answer(2, true);
        t->form->methodeClick();
        QCOMPARE(gce->disposal(), 3);
        QVERIFY(t->form->isModified());

        t->form->setModified(false);
        answer(0, false); // cancelled: nothing changes
        t->form->methodeClick();
        QCOMPARE(gce->disposal(), 3);
        QVERIFY(!t->form->isModified());

        // A disposal of 5 leaves the list where it was last time.
        gce->setDisposal(5);
        int shown = -1;
        QTimer::singleShot(0, [&shown] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            shown = dialog->findChild<QComboBox *>(QStringLiteral("disCombo"))->currentIndex();
            dialog->accept();
        });
        t->form->methodeClick();
        QCOMPARE(shown, 0); // the cancelled run left it at position 0
        QCOMPARE(gce->disposal(), 1);
    }

    void frameExportWritesItsOwnSize()
    {
        addFrames(2);
        t->form->selectFrame(1);
        const QString chosen = mDir.filePath(QStringLiteral("cadre"));
        t->prompter->saveFiles.push_back(chosen);
        t->form->enregistrercadreClick();
        QCOMPARE(t->prompter->dialogs.last().filters, QStringList{QStringLiteral("Image Bitmap (*.bmp)")});
        QImage bmp(chosen + QStringLiteral(".bmp"));
        QVERIFY(!bmp.isNull());
        QCOMPARE(bmp.size(), QSize(11, 8));
        QCOMPARE(bmp.format(), QImage::Format_Indexed8);
        const doc::Rgb c = t->form->document()->picture(1).pixel(3, 4);
        QCOMPARE(bmp.pixel(3, 4), qRgb(c.r, c.g, c.b));
    }

    void transparentPickIsShownAndSaved()
    {
        // A frame with two colours, so that the pick can be told from the other one.
        QImage two(6, 4, QImage::Format_RGB32);
        two.fill(qRgb(200, 30, 30));
        for (int x = 0; x < 6; ++x)
            two.setPixel(x, 3, qRgb(10, 10, 240));
        const QString png = mDir.filePath(QStringLiteral("two.png"));
        QVERIFY(two.save(png));
        t->add({png});
        t->form->selectFrame(0);
        doc::TGIFSubImage &frame = t->form->document()->frame(0);
        QVERIFY(!frame.transparent());
        const std::vector<uint8_t> indices = frame.pixels();

        t->form->transcolClick();
        t->form->ImageMouseUp(QPoint(2, 1), Qt::LeftButton);
        const doc::Picture &picture = t->form->document()->picture(0);
        QVERIFY(picture.designatedTransparentColor().has_value());
        QCOMPARE(*picture.designatedTransparentColor(), (doc::Rgb{200, 30, 30}));
        QCOMPARE(frame.pixels(), indices);
        QVERIFY(t->form->isModified());

        // The frame itself is transparent at the picked pixel's index, so Save writes it so.
        const QString saved = mDir.filePath(QStringLiteral("picked.gif"));
        t->prompter->saveFiles.push_back(saved);
        QVERIFY(t->form->FileSave1Execute());
        doc::TGIFImage read;
        doc::loadFromFile(read, saved.toStdString());
        const doc::TGIFSubImage &written = read.frame(0);
        QVERIFY(written.transparent());
        QCOMPARE(written.graphicControl()->transparentIndex, indices[1 * 6 + 2]);
        QVERIFY(indices[3 * 6] != indices[1 * 6 + 2]);
    }
};

QTEST_MAIN(TestFrameEditing)
#include "test_frame_editing.moc"
