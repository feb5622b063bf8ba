// The new-animation wizard driven through its real controls, with real picture files from the
// corpus; only the message boxes and the picture dialog are scripted.

#include "app_fixtures.h"

#include "app/animation_view.h"
#include "dialogs/uass.h"
#include "document/document_ops.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QtTest>

using app::Answer;
using dialogs::Tassform;

namespace {

QString corpus(const char *relative)
{
    return QDir(QStringLiteral(MOVARO_CORPUS_DIR)).filePath(QString::fromUtf8(relative));
}

const char *png = "pngsuite/tests/pngsuite/basn2c08.png"; // 32 × 32
const char *bmp = "bmpsuite/g/pal8.bmp";                  // 127 × 64
const char *jpeg = "libgdiplus/tests/test.jpg";           // 100 × 68

QStringList listTexts(const QListWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

QList<int> delays(const doc::TGIFImage &document)
{
    QList<int> out;
    for (int i = 0; i < document.count(); ++i)
        out << document.frame(i).graphicControl()->delay;
    return out;
}

} // namespace

class TestWizard : public QObject
{
    Q_OBJECT

    QTemporaryDir mDir;
    std::unique_ptr<FormUnderTest> mFx;
    Tassform *mWizard = nullptr;

    /** Shows the wizard from the File menu's command. */
    void open()
    {
        mFx->form->ToolButton2Click();
        mWizard = mFx->form->wizard();
        QVERIFY(mWizard->isVisible());
    }

    /** Walks the pages with `name` and `files` and presses "&Terminer". */
    void build(const QString &name, const QStringList &files)
    {
        open();
        mWizard->Nom->setText(name);
        mWizard->Suiv->click();
        mWizard->Suiv->click();
        for (const QString &f : files)
            mWizard->appendEntry(f);
        mWizard->Suiv->click();
        QCOMPARE(mWizard->Suiv->text(), QStringLiteral("&Terminer"));
        mWizard->Suiv->click();
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(mDir.isValid());
        if (!QFile::exists(corpus(png)))
            QSKIP("test corpus not found");
    }

    void init() { mFx = std::make_unique<FormUnderTest>(); }
    void cleanup()
    {
        if (mWizard)
            mWizard->hide();
        mWizard = nullptr;
        mFx.reset();
    }

    void namesAreCheckedTrimmedButKept()
    {
        open();
        QCOMPARE(mWizard->Nom->text(), QStringLiteral("Animation1"));
        QVERIFY(!mWizard->Pre->isEnabled());
        mWizard->Nom->setText(QStringLiteral("   "));
        mFx->prompter->answers.push_back(Answer::Ok);
        mWizard->Suiv->click();
        QCOMPARE(mFx->prompter->texts(), QStringList{"Veuillez saisir un nom pour la nouvelle animation"});
        QCOMPARE(mWizard->currentPage(), 0);

        mWizard->hide();
        build(QStringLiteral(" Mon anim "), {corpus(png)});
        QCOMPARE(mFx->form->windowTitle(), QStringLiteral(" Mon anim  - Movaro Gif"));
        QCOMPARE(mFx->form->documentName(), QStringLiteral(" Mon anim "));
    }

    void navigationAndEmptyList()
    {
        open();
        mWizard->Suiv->click();
        QCOMPARE(mWizard->currentPage(), 1);
        QVERIFY(mWizard->Pre->isEnabled());
        mWizard->Pre->click();
        QCOMPARE(mWizard->currentPage(), 0);
        QVERIFY(!mWizard->Pre->isEnabled());
        mWizard->Suiv->click();
        mWizard->Suiv->click();
        QCOMPARE(mWizard->currentPage(), 2);
        mFx->prompter->answers.push_back(Answer::Ok);
        mWizard->Suiv->click(); // nothing in the list yet
        QCOMPARE(mFx->prompter->texts(), QStringList{"Veuillez ajouter des images à la liste"});
        QCOMPARE(mWizard->currentPage(), 2);

        // The looping choice enables the count.
        mWizard->Pre->click();
        QVERIFY(!mWizard->lops->isEnabled());
        mWizard->NoInf->click();
        QVERIFY(mWizard->lops->isEnabled());
        mWizard->Inf->click();
        QVERIFY(!mWizard->lops->isEnabled());
    }

    void listButtonsFollowTheSelection()
    {
        open();
        mWizard->Suiv->click();
        mWizard->Suiv->click();
        // One entry through the real add button and its (scripted) picture dialog.
        mFx->prompter->openFiles.push_back({corpus(png)});
        mWizard->Button2->click();
        QCOMPARE(mFx->prompter->dialogs.constLast().filters.constFirst().left(5), QStringLiteral("Tous "));
        mWizard->appendEntry(corpus(bmp));
        mWizard->appendEntry(corpus(jpeg));
        QCOMPARE(listTexts(mWizard->Liste), QStringList({"basn2c08.png", "pal8.bmp", "test.jpg"}));
        QCOMPARE(mWizard->selectedEntry(), -1); // adding selects nothing
        QVERIFY(!mWizard->UP->isEnabled() && !mWizard->Down->isEnabled());

        struct Case {
            int row;
            bool up, down;
        };
        for (const Case c : {Case{0, false, true}, Case{1, true, true}, Case{2, true, false}}) {
            mWizard->Liste->setCurrentRow(c.row);
            QCOMPARE(mWizard->Sup->isEnabled(), true);
            QCOMPARE(mWizard->UP->isEnabled(), c.up);
            QCOMPARE(mWizard->Down->isEnabled(), c.down);
        }

        // Moving keeps the full paths in step and the selection on the moved entry.
        mWizard->UP->click();
        QCOMPARE(listTexts(mWizard->Liste), QStringList({"basn2c08.png", "test.jpg", "pal8.bmp"}));
        QCOMPARE(mWizard->paths(), QStringList({corpus(png), corpus(jpeg), corpus(bmp)}));
        QCOMPARE(mWizard->selectedEntry(), 1);
        mWizard->UP->click();
        QCOMPARE(mWizard->selectedEntry(), 0);
        QVERIFY(!mWizard->UP->isEnabled());
        mWizard->Down->click();
        QCOMPARE(mWizard->paths(), QStringList({corpus(png), corpus(jpeg), corpus(bmp)}));

        // Removing leaves nothing selected; removing the last entry disables removing and going on.
        mWizard->Sup->click();
        QCOMPARE(mWizard->paths(), QStringList({corpus(png), corpus(bmp)}));
        QCOMPARE(mWizard->selectedEntry(), -1);
        QVERIFY(!mWizard->UP->isEnabled() && !mWizard->Down->isEnabled());
        for (int i = 0; i < 2; ++i) {
            mWizard->Liste->setCurrentRow(0);
            mWizard->Sup->click();
        }
        QVERIFY(!mWizard->Sup->isEnabled());
        QVERIFY(!mWizard->Suiv->isEnabled());
        mWizard->appendEntry(corpus(png));
        QVERIFY(mWizard->Suiv->isEnabled());

        // Showing it again starts afresh, on the first page with "&Suivant >" enabled.
        mWizard->Liste->setCurrentRow(0);
        mWizard->Sup->click();
        mWizard->hide();
        mFx->form->ToolButton2Click();
        QCOMPARE(mWizard->currentPage(), 0);
        QVERIFY(mWizard->Suiv->isEnabled());
        QCOMPARE(mWizard->Liste->count(), 0);
    }

    void buildsTheAnimation()
    {
        // Three formats; the second entry cannot be read.
        const QString broken = mDir.filePath(QStringLiteral("abîmée.png"));
        QFile f(broken);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("\x89PNG\r\n\x1a\n not really");
        f.close();
        mFx->prompter->answers.push_back(Answer::Ok);
        build(QStringLiteral("Trois"), {corpus(png), broken, corpus(jpeg)});

        QCOMPARE(mFx->prompter->texts(), QStringList{"Impossible d'importer l'image \"abîmée.png\""});
        const doc::TGIFImage *document = mFx->form->document();
        QVERIFY(document);
        QCOMPARE(document->count(), 2);
        QCOMPARE(document->frame(0).width, 32);
        QCOMPARE(document->frame(1).width, 100);
        QCOMPARE(delays(*document), QList<int>({60, 60}));
        QCOMPARE(doc::LoopExtension(const_cast<doc::TGIFImage *>(document))->loops, 0);
        QVERIFY(mFx->form->isModified());
        QCOMPARE(mFx->form->windowTitle(), QStringLiteral("Trois - Movaro Gif"));
        QCOMPARE(mFx->form->selectedFrame(), 0);
        QVERIFY(mFx->form->filePath().isEmpty());
        QVERIFY(!mWizard->isVisible());
        QCOMPARE(mWizard->Pr->maximum(), 9);
        QCOMPARE(mWizard->Pr->value(), 9);
        QVERIFY(mFx->form->statusPanel(4)->text().isEmpty());
    }

    void sameNameInTwoFolders()
    {
        QVERIFY(QDir(mDir.path()).mkpath(QStringLiteral("a")) && QDir(mDir.path()).mkpath(QStringLiteral("b")));
        const QString a = writePng(mDir.filePath(QStringLiteral("a/image.png")), 7, 5, qRgb(200, 0, 0));
        const QString b = writePng(mDir.filePath(QStringLiteral("b/image.png")), 11, 3, qRgb(0, 0, 200));
        build(QStringLiteral("Deux"), {a, b});
        QCOMPARE(listTexts(mWizard->Liste), QStringList({"image.png", "image.png"}));
        const doc::TGIFImage *document = mFx->form->document();
        QCOMPARE(document->count(), 2);
        QCOMPARE(document->frame(0).width, 7);
        QCOMPARE(document->frame(1).width, 11);
    }

    void loopingAndDuration_data()
    {
        QTest::addColumn<bool>("endless");
        QTest::addColumn<int>("plays");
        QTest::addColumn<QString>("duration");
        QTest::addColumn<int>("loops");  // -1: no looping extension
        QTest::addColumn<int>("frames");
        QTest::newRow("endless") << true << 3 << "60" << 0 << 2;
        QTest::newRow("five plays") << false << 5 << "25" << 5 << 2;
        QTest::newRow("empty duration") << true << 1 << "" << -1 << 0;
        QTest::newRow("duration beyond 32 bits") << true << 1 << "2147483648" << -1 << 0;
        QTest::newRow("below the minimum") << true << 1 << "0" << 0 << 2; // brought back to 1
    }

    void loopingAndDuration()
    {
        QFETCH(bool, endless);
        QFETCH(int, plays);
        QFETCH(QString, duration);
        QFETCH(int, loops);
        QFETCH(int, frames);
        open();
        mWizard->Suiv->click();
        (endless ? mWizard->Inf : mWizard->NoInf)->click();
        mWizard->lops->setValue(plays);
        mWizard->period->setFocus();
        mWizard->period->setText(duration);
        mWizard->Suiv->click();
        mWizard->appendEntry(corpus(png));
        mWizard->appendEntry(corpus(bmp));
        mWizard->Suiv->click();
        for (int i = 0; i < 2 - frames; ++i)
            mFx->prompter->answers.push_back(Answer::Ok);
        mWizard->Suiv->click();

        const doc::TGIFImage *document = mFx->form->document();
        QCOMPARE(document->count(), frames);
        QCOMPARE(mFx->prompter->asked.size(), 2 - frames);
        // Every entry failing still leaves a titled, unsaved animation, without looping.
        QCOMPARE(mFx->form->windowTitle(), QStringLiteral("Animation1 - Movaro Gif"));
        QVERIFY(mFx->form->isModified());
        if (loops < 0) {
            QCOMPARE(mFx->form->frameEntries(), 0);
            return;
        }
        QCOMPARE(doc::LoopExtension(const_cast<doc::TGIFImage *>(document))->loops, loops);
        if (!endless)
            QCOMPARE(mFx->form->NumLoops->value(), plays);
        const int delay = duration == QLatin1String("0") ? 1 : duration.toInt();
        QCOMPARE(delays(*document), QList<int>({delay, delay}));
    }

    void unsavedWorkIsAskedAbout_data()
    {
        QTest::addColumn<QList<Answer>>("answers");
        QTest::addColumn<QStringList>("saveFiles");
        QTest::addColumn<bool>("built");
        QTest::newRow("Annuler") << QList<Answer>{Answer::Cancel} << QStringList{} << false;
        QTest::newRow("save cancelled") << QList<Answer>{Answer::Yes} << QStringList{QString()} << false;
        QTest::newRow("Non") << QList<Answer>{Answer::No} << QStringList{} << true;
    }

    void unsavedWorkIsAskedAbout()
    {
        QFETCH(QList<Answer>, answers);
        QFETCH(QStringList, saveFiles);
        QFETCH(bool, built);
        mFx->add({corpus(bmp)});
        QVERIFY(mFx->form->isModified());
        for (Answer a : answers)
            mFx->prompter->answers.push_back(a);
        for (const QString &s : saveFiles)
            mFx->prompter->saveFiles.push_back(s);
        build(QStringLiteral("Nouvelle"), {corpus(png)});

        QVERIFY(mFx->prompter->texts().constFirst().startsWith(
            QStringLiteral("Voulez-vous enregistrer les modifications")));
        QCOMPARE(mFx->form->document()->count(), 1);
        QCOMPARE(mFx->form->document()->frame(0).width, built ? 32 : 127);
        QCOMPARE(mWizard->isVisible(), !built);
        if (!built) {
            QCOMPARE(mWizard->currentPage(), 3);
            QCOMPARE(mFx->form->windowTitle(), QStringLiteral("Sans_titre.gif - Movaro Gif"));
        }
    }

    void cancelAsksFirst()
    {
        open();
        mFx->prompter->answers.push_back(Answer::No);
        mWizard->Cancel->click();
        QVERIFY(mWizard->isVisible());
        mFx->prompter->answers.push_back(Answer::Yes);
        mWizard->Cancel->click();
        QVERIFY(!mWizard->isVisible());
        QCOMPARE(mFx->prompter->asked.constLast().kind, app::MessageKind::Confirmation);
        QCOMPARE(mFx->form->windowTitle(), QStringLiteral("Sans_titre.gif - Movaro Gif"));
    }
};

QTEST_MAIN(TestWizard)
#include "test_wizard.moc"
