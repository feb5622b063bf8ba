#include "app/mainform.h"
#include "app/animation_view.h"
#include "app/views.h"
#include "app_fixtures.h"
#include "modal_user.h"
#include "scripted_prompter.h"

#include "app/picture_qimage.h"
#include "dialogs/colour_options.h"
#include "dialogs/uoptions.h"
#include "document/quantize_quality.h"

#include "document/gif_reader.h"
#include "document/gif_writer.h"
#include "support/gif_builder.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QPushButton>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <QToolTip>
#include <QtTest>

using app::Answer;
using app::TMainform;


class TestMainform : public QObject
{
    Q_OBJECT

    QTemporaryDir mDir;
    std::unique_ptr<TMainform> mForm;
    ScriptedPrompter *mPrompter = nullptr;

    QString file(const QString &name) const { return mDir.filePath(name); }

    /** Adds picture files through the add command, answering its dialog. */
    void add(const QStringList &files)
    {
        mPrompter->openFiles.push_back(files);
        mForm->add1Click();
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(mDir.isValid());
    }

    void init()
    {
        QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Movaro Gif"), QStringLiteral("Movaro Gif"))
            .clear();
        mForm = std::make_unique<TMainform>();
        auto prompter = std::make_unique<ScriptedPrompter>();
        mPrompter = prompter.get();
        mForm->setPrompter(std::move(prompter));
        mForm->show();
        QVERIFY(mForm->FileNewItemClick());
    }

    void cleanup()
    {
        if (mForm && mForm->isModified()) {
            mForm->setModified(false); // no closing question at teardown
        }
        mForm.reset();
    }

    void newDocumentState()
    {
        QCOMPARE(mForm->windowTitle(), QStringLiteral("Sans_titre.gif - Movaro Gif"));
        QCOMPARE(mForm->statusPanel(2)->text(), QStringLiteral("Aucune image"));
        QVERIFY(mForm->statusPanel(3)->text().isEmpty());
        QVERIFY(mForm->statusPanel(4)->text().isEmpty());
        QCOMPARE(enabledStates(*mForm), QStringList({"0", "0", "0", "0", "0", "0", "0", "1"}));
        QVERIFY(!mForm->Period->isEnabled());
        QVERIFY(mForm->infini->isChecked());
        QVERIFY(!mForm->NumLoops->isEnabled());
        QCOMPARE(mForm->size(), QSize(817, 658));
        QCOMPARE(mForm->statusPanel(0)->text(), TMainform::restingHint);
    }

    void checkTable_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QStringList>("states"); // save cut copy past sup play stop addbtn
        // From "closed": every holder off but addbtn.
        QTest::newRow("opened") << "opened" << QStringList{"0", "1", "1", "1", "1", "0", "0", "1"};
        QTest::newRow("pasted") << "pasted" << QStringList{"0", "1", "1", "0", "1", "1", "0", "1"};
        QTest::newRow("played") << "played" << QStringList{"0", "0", "0", "1", "0", "0", "1", "1"};
        QTest::newRow("alsup") << "alsup" << QStringList{"0", "0", "0", "1", "0", "0", "0", "1"};
        QTest::newRow("selected") << "selected" << QStringList{"0", "1", "1", "1", "1", "1", "0", "1"};
        QTest::newRow("other word") << "whatever" << QStringList{"0", "0", "0", "0", "0", "0", "0", "1"};
    }

    void checkTable()
    {
        QFETCH(QString, word);
        QFETCH(QStringList, states);
        mForm->check(word);
        QCOMPARE(enabledStates(*mForm), states);
    }

    void pastedWhileTheAnimationIsShownOnlyTouchesAddbtn()
    {
        mForm->check(QStringLiteral("played"));
        mForm->Image->hide();
        mForm->gif->show();
        mForm->check(QStringLiteral("pasted"));
        QCOMPARE(enabledStates(*mForm), QStringList({"0", "0", "0", "1", "0", "0", "1", "0"}));
    }

    void addingPicturesBuildsFramesAndNavigation()
    {
        add({writePng(file(QStringLiteral("a.png")), 30, 20, qRgb(200, 10, 10))});
        doc::TGIFImage *document = mForm->document();
        QVERIFY(document);
        QCOMPARE(document->count(), 1);
        QCOMPARE(document->frame(0).graphicControl()->delay, 60);
        QCOMPARE(document->frame(0).graphicControl()->disposal(), 2);
        QVERIFY(document->frame(0).interlaced);
        QCOMPARE(mForm->statusPanel(2)->text(), QStringLiteral("1 image(s)"));
        QCOMPARE(mForm->statusPanel(3)->text(), QStringLiteral("Animation 30x20"));
        QVERIFY(mForm->isModified());
        QCOMPARE(mForm->selectedFrame(), 0);
        // The looping extension stands first in the first frame.
        QCOMPARE(document->frame(0).extension(0)->kind(), doc::ExtensionKind::Loop);
        // A single selected frame: "Suivant" and "Fin" off, "Début" off (s = 0).
        QVERIFY(!mForm->Nextbtn->isEnabled());
        QVERIFY(!mForm->Forwardbtn->isEnabled());
        QVERIFY(!mForm->Rewindbtn->isEnabled());
        QCOMPARE(mForm->Period->value(), 60);

        // Three files, the middle one unreadable: two frames and one information box.
        QFile bad(file(QStringLiteral("bad.png")));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("not a picture");
        bad.close();
        mPrompter->answers.push_back(Answer::Ok);
        add({writePng(file(QStringLiteral("b.png")), 40, 10, qRgb(0, 200, 0)), bad.fileName(),
             writePng(file(QStringLiteral("c.png")), 10, 50, qRgb(0, 0, 200))});
        QCOMPARE(mPrompter->texts(), QStringList{QStringLiteral("Echec lors de l'ajout de l'image.")});
        QCOMPARE(mForm->document()->count(), 3);
        QCOMPARE(mForm->statusPanel(3)->text(), QStringLiteral("Animation 40x50"));
        QCOMPARE(mForm->selectedFrame(), 2);

        // Inserting A, B at the selection puts B before A.
        mForm->selectFrame(1);
        mPrompter->openFiles.push_back({writePng(file(QStringLiteral("d.png")), 5, 5, qRgb(9, 9, 9)),
                                        writePng(file(QStringLiteral("e.png")), 6, 6, qRgb(9, 9, 9))});
        mForm->insertClick();
        QCOMPARE(mForm->document()->frame(1).width, 6);
        QCOMPARE(mForm->document()->frame(2).width, 5);
        QCOMPARE(mForm->document()->frame(3).width, 40);
    }

    void colourOptionsChooseHowPicturesAreReduced()
    {
        // A picture of far more than 256 colours, so that the choice shows.
        QImage many(64, 48, QImage::Format_RGB32);
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x)
                many.setPixel(x, y, qRgb(x * 4, y * 5, (x * y) % 256));
        const QString path = file(QStringLiteral("many.png"));
        QVERIFY(many.save(path, "PNG"));
        auto expected = [&](const doc::ReductionChoice &choice) {
            doc::Picture picture = app::fromQImage(many);
            return doc::reducePicture(picture, choice);
        };
        auto sameFrame = [&](int i, const doc::Picture &want) {
            const doc::Picture &got = mForm->document()->picture(i);
            return got.data() == want.data() && got.palette() == want.palette();
        };

        // Unset: the octree with nearest colours, as always.
        add({path});
        QVERIFY(sameFrame(0, expected({})));

        const doc::ReductionChoice chosen{doc::PaletteQuality::Best, doc::Dithering::Ordered};
        {
            ModalUser user([](QWidget *modal) {
                auto *o = qobject_cast<dialogs::TOptions *>(modal);
                QCOMPARE(o->colours->Palette->currentIndex(), 0);
                QCOMPARE(o->colours->Tramage->currentIndex(), 0);
                o->colours->Palette->setCurrentIndex(1);
                o->colours->Tramage->setCurrentIndex(2);
                o->OKBtn->click();
            });
            mForm->Options2Click();
            QCOMPARE(user.seen, QStringList{"Options"});
        }
        QSettings store(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Movaro Gif"), QStringLiteral("Movaro Gif"));
        QCOMPARE(store.value(QStringLiteral("Software/Movaro Gif/Colours/Palette")).toString(), QStringLiteral("best"));
        QCOMPARE(store.value(QStringLiteral("Software/Movaro Gif/Colours/Dither")).toString(), QStringLiteral("ordered"));

        // Added and pasted pictures follow the choice.
        add({path});
        QVERIFY(sameFrame(1, expected(chosen)));
        QVERIFY(!sameFrame(1, expected({})));
        QApplication::clipboard()->setImage(many);
        mForm->PasteClick();
        QCOMPARE(mForm->document()->count(), 3);
        QVERIFY(sameFrame(2, expected(chosen)));

        // The dialog shows the stored choice; Cancel keeps it.
        {
            ModalUser user([](QWidget *modal) {
                auto *o = qobject_cast<dialogs::TOptions *>(modal);
                QCOMPARE(o->colours->Palette->currentIndex(), 1);
                QCOMPARE(o->colours->Tramage->currentIndex(), 2);
                o->colours->Palette->setCurrentIndex(0);
                o->CancelBtn->click();
            });
            mForm->Options2Click();
        }
        QCOMPARE(store.value(QStringLiteral("Software/Movaro Gif/Colours/Palette")).toString(), QStringLiteral("best"));
    }

    void navigationWithNothingSelected()
    {
        add({writePng(file(QStringLiteral("a.png")), 8, 8, qRgb(1, 1, 1))});
        mForm->ren(); // clears the selection
        QCOMPARE(mForm->selectedFrame(), -1);
        QVERIFY(mForm->Rewindbtn->isEnabled()); // s = -1 is not 0
        QVERIFY(mForm->Backbtn->isEnabled());
    }

    void thumbnailScales_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::addColumn<double>("scale");
        QTest::newRow("fits") << 100 << 100 << 1.0;
        QTest::newRow("wide") << 300 << 100 << 0.4;
        QTest::newRow("tall") << 100 << 300 << 0.36;
        QTest::newRow("wide and tall") << 200 << 190 << 0.6;
    }

    void thumbnailScales()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        QFETCH(double, scale);
        add({writePng(file(QStringLiteral("x.png")), 10, 10, qRgb(5, 5, 5)),
             writePng(file(QStringLiteral("t.png")), w, h, qRgb(50, 60, 70))});
        QCOMPARE(mForm->thumbs[1]->picture()->scale(), scale); // slots 2 to 4 are 120 wide
    }

    void thumbnailStripScrollsWithTheSelection()
    {
        QStringList files;
        for (int i = 0; i < 10; ++i)
            files << writePng(file(QStringLiteral("f%1.png").arg(i)), 10 + i, 10, qRgb(i * 20, 0, 0));
        add(files);
        QCOMPARE(mForm->document()->count(), 10);
        QVERIFY(mForm->ImageScroll->isEnabled());
        QCOMPARE(mForm->ImageScroll->maximum(), 6);

        mForm->ImageScroll->setValue(2);
        mForm->selectFrame(9);
        QCOMPARE(mForm->scrollPosition(), 6);
        QCOMPARE(mForm->highlightedSlot(), 4);
        QCOMPARE(mForm->thumbs[0]->numberLabel()->text(), QStringLiteral("7"));
        QCOMPARE(mForm->selectedFrame(), 9);

        mForm->selectFrame(0);
        QCOMPARE(mForm->scrollPosition(), 0);
        QCOMPARE(mForm->highlightedSlot(), 1);

        // Scrolling one step with slot 2 highlighted selects the next frame, still in slot 2.
        mForm->clickSlot(2);
        QCOMPARE(mForm->selectedFrame(), 1);
        mForm->ImageScroll->setValue(1);
        QCOMPARE(mForm->selectedFrame(), 2);
        QCOMPARE(mForm->highlightedSlot(), 2);
    }

    void aLongDocumentsStripDecodesOnlyWhatItShows()
    {
        // 5,000 frames: the strip and the still view make pictures of the frames they show, not
        // of the others.
        doc::TGIFImage image;
        image.header.width = 40;
        image.header.height = 30;
        for (int i = 0; i < 5000; ++i) {
            doc::TGIFSubImage frame;
            frame.width = 40;
            frame.height = 30;
            frame.setColorMap({{{0, 0, 0}, {255, 255, 255}}, false});
            std::vector<uint8_t> pixels(40 * 30, 0);
            pixels[std::size_t(i) % pixels.size()] = 1;
            frame.setPixels(std::move(pixels));
            frame.addGraphicControl()->delay = 10;
            image.appendFrame(std::move(frame));
        }
        const QString path = file(QStringLiteral("long.gif"));
        doc::saveToFile(image, path.toStdString());

        const std::size_t before = doc::pictureCacheHeld();
        const std::size_t picture = 40 * 30 + 256 * sizeof(doc::Rgb);
        mForm->openFromCommandLine(path);
        QCOMPARE(mForm->document()->count(), 5000);
        QVERIFY(doc::pictureCacheHeld() - before <= 5 * picture);
        mForm->selectFrame(4321);
        mForm->ImageScroll->setValue(2500);
        QCOMPARE(mForm->selectedFrame(), 2503);
        QVERIFY(doc::pictureCacheHeld() - before <= 14 * picture);
        QCOMPARE(mForm->thumbs[3]->picture()->picture().pixel(2503 % 40, 2503 % 1200 / 40), qRgb(255, 255, 255));
    }

    void fewThumbnailsHideTheRest()
    {
        add({writePng(file(QStringLiteral("1.png")), 4, 4, qRgb(1, 1, 1)),
             writePng(file(QStringLiteral("2.png")), 4, 4, qRgb(2, 2, 2)),
             writePng(file(QStringLiteral("3.png")), 4, 4, qRgb(3, 3, 3))});
        QVERIFY(!mForm->thumbs[2]->isHidden());
        QVERIFY(mForm->thumbs[3]->isHidden());
        QVERIFY(!mForm->ImageScroll->isEnabled());
        mForm->selectFrame(0);
        mForm->clickSlot(4); // hidden: nothing happens
        QCOMPARE(mForm->selectedFrame(), 0);
    }

    void editGuards()
    {
        add({writePng(file(QStringLiteral("1.png")), 4, 4, qRgb(1, 1, 1)),
             writePng(file(QStringLiteral("2.png")), 4, 4, qRgb(2, 2, 2))});
        mForm->setModified(false);
        mForm->selectFrame(0);
        QVERIFY(!mForm->isModified()); // the program's own update of the delay field

        mForm->Period->setValue(65536 + 25);
        QVERIFY(mForm->isModified());
        QCOMPARE(mForm->document()->frame(0).graphicControl()->delay, 25);

        mForm->setModified(false);
        mForm->Gifcomment->setPlainText(QStringLiteral("bonjour"));
        QVERIFY(mForm->isModified());

        mForm->fini->click();
        mForm->NumLoops->setValue(65536 + 3);
        QCOMPARE(mForm->document()->frame(0).extension(0)->kind(), doc::ExtensionKind::Loop);
        auto *loop = doc::extension_cast<doc::TGIFAppExtNSLoop>(mForm->document()->frame(0).extension(0));
        QCOMPARE(loop->loops, 3);
        mForm->infini->click();
        QCOMPARE(loop->loops, 0);
    }

    void sliderScrubsTheStillView()
    {
        add({writePng(file(QStringLiteral("s1.png")), 4, 4, qRgb(200, 0, 0)),
             writePng(file(QStringLiteral("s2.png")), 4, 4, qRgb(0, 200, 0)),
             writePng(file(QStringLiteral("s3.png")), 4, 4, qRgb(0, 0, 200))});
        mForm->selectFrame(2);
        mForm->Period->setValue(25);
        mForm->selectFrame(0);
        QVERIFY(mForm->Slider->isEnabled());

        // Dragged: the frame under the handle is selected; view, strip and delay follow.
        mForm->Slider->setSliderDown(true);
        mForm->Slider->setSliderPosition(2);
        mForm->Slider->setSliderDown(false);
        QCOMPARE(mForm->selectedFrame(), 2);
        QCOMPARE(mForm->highlightedSlot(), 3);
        QCOMPARE(mForm->Period->value(), 25);
        QCOMPARE(QColor(mForm->Image->picture().pixel(0, 0)), QColor(0, 0, 200));
        // And by the keyboard.
        mForm->Slider->setFocus();
        QTest::keyClick(mForm->Slider, Qt::Key_Home);
        QCOMPARE(mForm->selectedFrame(), 0);

        // Not while playing; again once stopped; not with a single frame.
        mForm->playClick();
        QVERIFY(!mForm->Slider->isEnabled());
        mForm->stopPlayback();
        QVERIFY(mForm->Slider->isEnabled());
        mPrompter->answers.push_back(Answer::Yes);
        mPrompter->answers.push_back(Answer::Yes);
        mForm->DelClick();
        mForm->DelClick();
        QCOMPARE(mForm->document()->count(), 1);
        QVERIFY(!mForm->Slider->isEnabled());
    }

    void damagedFileIsSaidInTheStatusBar()
    {
        // Cut off inside its first frame: it opens with what could be read, and the user is told.
        testsupport::GifBuilder cut;
        cut.header().screen(4, 3).image(4, 3, 0x80).colorTable(2).lzw(2, {4, 1, 1});
        const QString damaged = file(QStringLiteral("cut.gif"));
        QFile out(damaged);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(QByteArray::fromStdString(cut.str()));
        out.close();

        mPrompter->openFiles.push_back({damaged});
        mForm->FileOpen1Execute(TMainform::OpenSource::Dialog);
        QCOMPARE(mForm->document()->count(), 1);
        QVERIFY(mPrompter->asked.isEmpty()); // no modal box
        QVERIFY(mForm->statusPanel(4)->text().startsWith(QStringLiteral("Chargé en ")));
        QVERIFY(mForm->damageNotice()->isVisible());
        QCOMPARE(mForm->damageNotice()->text(), QStringLiteral("Fichier endommagé"));
        QCOMPARE(mForm->damageNotice()->toolTip(), QStringLiteral("Decoder bit buffer under-run"));

        // A sound file, and New, put the notice away.
        mPrompter->openFiles.push_back({writeSmallFramesGif(file(QStringLiteral("sound.gif")))});
        mForm->FileOpen1Execute(TMainform::OpenSource::Dialog);
        QVERIFY(!mForm->damageNotice()->isVisible());
        mPrompter->openFiles.push_back({damaged});
        mForm->FileOpen1Execute(TMainform::OpenSource::Dialog);
        QVERIFY(mForm->damageNotice()->isVisible());
        QVERIFY(mForm->FileNewItemClick());
        QVERIFY(!mForm->damageNotice()->isVisible());
    }

    void saveOpenRevertRoundTrip()
    {
        add({writePng(file(QStringLiteral("a.png")), 12, 8, qRgb(120, 30, 30))});
        // "€" and "œ" do not fit Latin-1: the comment must not lose them.
        mForm->Gifcomment->setPlainText(QStringLiteral("ligne un, 5 €\nœuvre d'été"));
        mForm->fini->click();
        mForm->NumLoops->setValue(3);

        // Save on a new document asks once for a name; the title keeps "Sans_titre.gif".
        const QString target = file(QStringLiteral("saved.gif"));
        mPrompter->saveFiles.push_back(target);
        QVERIFY(mForm->FileSave1Execute());
        QCOMPARE(mPrompter->dialogs.size(), 2);
        QCOMPARE(mPrompter->dialogs.last().title, QStringLiteral("Enregistrer sous"));
        QCOMPARE(mForm->windowTitle(), QStringLiteral("Sans_titre.gif - Movaro Gif"));
        QVERIFY(!mForm->isModified());
        QVERIFY(mForm->FileSave1Execute()); // no dialog the second time
        QCOMPARE(mPrompter->dialogs.size(), 2);

        mPrompter->openFiles.push_back({target});
        mForm->FileOpen1Execute(TMainform::OpenSource::Dialog);
        QCOMPARE(mForm->windowTitle(), QStringLiteral("saved.gif - Movaro Gif"));
        QVERIFY(mForm->fini->isChecked());
        QCOMPARE(mForm->NumLoops->value(), 3);
        QCOMPARE(mForm->Gifcomment->toPlainText(), QStringLiteral("ligne un, 5 €\nœuvre d'été"));
        QVERIFY(!mForm->isModified());
        QVERIFY(mForm->statusPanel(4)->text().startsWith(QStringLiteral("Chargé en ")));
        QVERIFY(!mForm->Slider->isEnabled()); // one frame

        // Revert is offered once the file on disk differs from the document.
        mForm->File1Click();
        QVERIFY(!mForm->action(QStringLiteral("retablir"))->isEnabled());
        mForm->Period->setValue(7);
        mForm->File1Click();
        QVERIFY(mForm->action(QStringLiteral("retablir"))->isEnabled());
        mPrompter->answers.push_back(Answer::Yes);
        mForm->retablirClick();
        QCOMPARE(mForm->document()->frame(0).graphicControl()->delay, 60);
        QVERIFY(!mForm->isModified());

        // The recent list names the file first and the menu shows it.
        QCOMPARE(mForm->recentItems[0]->text(), QStringLiteral("&1 saved.gif"));
        QVERIFY(mForm->recentItems[0]->isVisible());
        QVERIFY(!mForm->recentItems[1]->isVisible());
    }

    void saveAsThenRevertReloadsTheNewFile()
    {
        add({writePng(file(QStringLiteral("a.png")), 6, 6, qRgb(10, 20, 30))});
        const QString target = file(QStringLiteral("copie.gif"));
        mPrompter->saveFiles.push_back(target);
        mForm->save2Click();
        QCOMPARE(mForm->windowTitle(), QStringLiteral("copie.gif - Movaro Gif"));
        QCOMPARE(mForm->filePath(), target);
        QVERIFY(mForm->isModified()); // Save As leaves the flag
        QVERIFY(!mForm->onDisk());
        mForm->File1Click();
        QVERIFY(!mForm->action(QStringLiteral("retablir"))->isEnabled()); // never read nor saved
    }

    void openComposesFramesSmallerThanTheScreen()
    {
        const QString gifFile = writeSmallFramesGif(file(QStringLiteral("petit.gif")));
        mPrompter->openFiles.push_back({gifFile});
        mForm->FileOpen1Execute(TMainform::OpenSource::Dialog);
        doc::TGIFImage *document = mForm->document();
        QVERIFY(document);
        QCOMPARE(document->count(), 2);
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(document->frame(i).left, 0);
            QCOMPARE(document->frame(i).width, 4);
            QCOMPARE(document->frame(i).height, 3);
            QCOMPARE(document->frame(i).colorMap().count(), 256);
        }
        const doc::Picture &second = document->picture(1);
        QCOMPARE(second.pixel(0, 0), (doc::Rgb{255, 0, 0}));
        QCOMPARE(second.pixel(1, 1), (doc::Rgb{0, 0, 255}));
        QCOMPARE(second.pixel(3, 1), (doc::Rgb{255, 0, 0}));
        QCOMPARE(document->frame(1).graphicControl()->delay, 20);
        QCOMPARE(mForm->statusPanel(2)->text(), QStringLiteral("2 image(s)"));
        QVERIFY(mForm->Slider->isEnabled());
        QCOMPARE(mForm->Slider->maximum(), 1);
        QCOMPARE(enabledStates(*mForm), QStringList({"0", "1", "1", "1", "1", "1", "0", "1"}));
    }

    void openFailures()
    {
        mPrompter->answers.push_back(Answer::Ok);
        mForm->FileOpen1Execute(TMainform::OpenSource::CommandLine, file(QStringLiteral("absent.gif")));
        QCOMPARE(mPrompter->texts().last(), QStringLiteral("Le fichier n'existe pas"));

        // A file saved as .mvpj holds GIF data but has no reader.
        const QString mvpj = writeSmallFramesGif(file(QStringLiteral("projet.mvpj")));
        mPrompter->answers.push_back(Answer::Ok);
        mForm->FileOpen1Execute(TMainform::OpenSource::CommandLine, mvpj);
        QCOMPARE(mPrompter->texts().last(), QStringLiteral("Format de fichier invalide."));
        QVERIFY(!mForm->document());
        QCOMPARE(mForm->windowTitle(), QStringLiteral("Sans_titre.gif - Movaro Gif"));

        QFile broken(file(QStringLiteral("casse.gif")));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("GIF89a\x01");
        broken.close();
        mPrompter->answers.push_back(Answer::Ok);
        mForm->FileOpen1Execute(TMainform::OpenSource::CommandLine, broken.fileName());
        QCOMPARE(mPrompter->texts().last(), QStringLiteral("Format de fichier invalide."));
    }

    void cancellingTheSaveQuestionKeepsEverything()
    {
        add({writePng(file(QStringLiteral("a.png")), 6, 6, qRgb(10, 20, 30))});
        const QString other = writeSmallFramesGif(file(QStringLiteral("autre.gif")));
        mPrompter->answers.push_back(Answer::Cancel);
        mForm->FileOpen1Execute(TMainform::OpenSource::CommandLine, other);
        QVERIFY(mPrompter->texts().last().startsWith(
            QStringLiteral("Voulez-vous enregistrer les modifications apportées à \"Sans_titre.gif\"")));
        QCOMPARE(mForm->document()->count(), 1);
        QVERIFY(mForm->isModified());

        mPrompter->answers.push_back(Answer::Cancel);
        QVERIFY(!mForm->FileNewItemClick());
        QCOMPARE(mForm->document()->count(), 1);
    }

    void failingSaveAtCloseKeepsTheWindowAndTheDocument()
    {
        add({writePng(file(QStringLiteral("a.png")), 6, 6, qRgb(10, 20, 30))});
        // Yes to the question, then cancel the save dialog: the window stays with its work.
        mPrompter->answers.push_back(Answer::Yes);
        mPrompter->saveFiles.push_back(QString());
        QVERIFY(!mForm->close());
        QVERIFY(mForm->isVisible());
        QCOMPARE(mForm->document()->count(), 1);

        // Yes, then a save into a folder that does not exist: an error, and still open.
        mPrompter->answers.push_back(Answer::Yes);
        mPrompter->saveFiles.push_back(file(QStringLiteral("absent/x.gif")));
        mPrompter->answers.push_back(Answer::Ok);
        QVERIFY(!mForm->close());
        QCOMPARE(mPrompter->asked.last().kind, app::MessageKind::Error);
        QVERIFY(mForm->isModified());

        mPrompter->answers.push_back(Answer::Cancel);
        QVERIFY(!mForm->close());
        mPrompter->answers.push_back(Answer::No);
        QVERIFY(mForm->close());
    }

    void optimisedSaveLeavesTheDocumentAlone()
    {
        add({writePng(file(QStringLiteral("a.png")), 9, 9, qRgb(10, 20, 30)),
             writePng(file(QStringLiteral("b.png")), 9, 9, qRgb(10, 20, 30))});
        const QString title = mForm->windowTitle();
        const QString target = file(QStringLiteral("optimise.gif"));
        mPrompter->saveFiles.push_back(target);
        mForm->eosClick();
        QCOMPARE(mPrompter->dialogs.last().title, QStringLiteral("Enregistrer optimisé sous..."));
        QCOMPARE(mPrompter->dialogs.last().filters, QStringList{QStringLiteral("Image Gif (*.gif)")});
        QCOMPARE(mForm->document()->count(), 2);
        QCOMPARE(mForm->windowTitle(), title);
        QVERIFY(mForm->isModified());
        QVERIFY(mForm->filePath().isEmpty());

        // Two identical frames: the optimised file keeps one.
        doc::TGIFImage written;
        doc::loadFromFile(written, target.toStdString());
        QCOMPARE(written.count(), 1);
    }

    void addImageHintIsOfferedThreeTimesAtMost()
    {
        QSettings store(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Movaro Gif"),
                        QStringLiteral("Movaro Gif"));
        const QString key = QStringLiteral("Software/Movaro Gif/Mainform Settings/addbtn_Tag");
        mForm->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(mForm.get()));
        for (int run = 1; run <= 4; ++run) {
            QToolTip::hideText();
            QTRY_VERIFY(!QToolTip::isVisible());
            mForm->Timer1Timer();
            const bool shown = QToolTip::isVisible()
                               && QToolTip::text() == QStringLiteral("Cliquez sur ce bouton pour ajouter des images");
            QCOMPARE(shown, run <= 3);
        }
        store.sync();
        QCOMPARE(store.value(key).toString(), QStringLiteral("4"));
    }

    void progressMessages()
    {
        mForm->gifProgress(doc::ProgressStage::Running, QStringLiteral("Saving..."), 40);
        QCOMPARE(mForm->statusPanel(0)->text(), QStringLiteral("Enregistrement de l'image..."));
        mForm->gifProgress(doc::ProgressStage::Running, QStringLiteral("Something else"), 50);
        QCOMPARE(mForm->statusPanel(0)->text(), QStringLiteral("Enregistrement de l'image..."));
        mForm->gifProgress(doc::ProgressStage::Ending, QStringLiteral("Saving..."), 100);
        QCOMPARE(mForm->statusPanel(0)->text(), TMainform::restingHint);
    }
};

QTEST_MAIN(TestMainform)
#include "test_mainform.moc"
