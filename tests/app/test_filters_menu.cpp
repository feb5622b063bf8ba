#include "app_fixtures.h"

#include "app/views.h"
#include "document/gif_reader.h"

#include <QApplication>
#include <QMenu>
#include <QTemporaryDir>
#include <QtTest>

using app::Answer;

class TestFiltersMenu : public QObject
{
    Q_OBJECT

    QTemporaryDir mDir;
    std::unique_ptr<FormUnderTest> t;

    /** Two frames: a 20 × 12 picture with a red block on white, then a flat blue one. */
    void addFrames()
    {
        QImage picture(20, 12, QImage::Format_RGB32);
        picture.fill(qRgb(255, 255, 255));
        for (int y = 2; y < 7; ++y)
            for (int x = 3; x < 11; ++x)
                picture.setPixel(x, y, qRgb(200, 40, 10));
        picture.setPixel(0, 11, qRgb(10, 200, 255));
        const QString first = mDir.filePath(QStringLiteral("first.png"));
        QVERIFY(picture.save(first, "PNG"));
        t->add({first, writePng(mDir.filePath(QStringLiteral("second.png")), 20, 12, qRgb(0, 0, 255))});
    }

    /** The colours of frame i as the saved file holds them. */
    QImage savedFrame(int i)
    {
        const QString target = mDir.filePath(QStringLiteral("saved.gif"));
        t->prompter->saveFiles.push_back(target);
        if (!t->form->FileSave1Execute())
            return {};
        doc::TGIFImage written;
        doc::loadFromFile(written, target.toStdString());
        const doc::TGIFSubImage &f = written.frame(i);
        QImage out(f.width, f.height, QImage::Format_RGB32);
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < f.width; ++x) {
                const doc::Rgb c = f.colorMap().entries.at(f.pixels()[std::size_t(y * f.width + x)]);
                out.setPixel(x, y, qRgb(c.r, c.g, c.b));
            }
        return out;
    }

    static QImage rgb(const QImage &image) { return image.convertToFormat(QImage::Format_RGB32); }

private slots:
    void init() { t = std::make_unique<FormUnderTest>(); }
    void cleanup() { t.reset(); }

    void itemsExistAndAreHidden()
    {
        auto item = [this](const QString &name) {
            if (QMenu *m = t->form->findChild<QMenu *>(name))
                return m->menuAction();
            return t->form->action(name);
        };
        QCOMPARE(item(QStringLiteral("A1"))->text(), QStringLiteral("Fi&ltre          "));
        QCOMPARE(item(QStringLiteral("inverse"))->text(), QStringLiteral("&Retourner"));
        QCOMPARE(item(QStringLiteral("miroir"))->text(), QStringLiteral("Image &miroir"));
        QCOMPARE(t->form->action(QStringLiteral("Inverserlescouleurs1"))->text(), QStringLiteral("Couleurs &inversées"));
        for (const QString &name : {QStringLiteral("A1"), QStringLiteral("inverse"), QStringLiteral("miroir")})
            QVERIFY2(!item(name)->isVisible(), qPrintable(name));
    }

    void everyFilterShowsStaysOnTheFrameAndIsSaved_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QRgb>("atRedBlock");  // pixel (5, 4)
        QTest::addColumn<QRgb>("atCorner");    // pixel (0, 11)
        QTest::addColumn<bool>("is32Bit");
        // Inside the red block the neighbourhood filters see only red; the corner pixel sits on
        // the clamped border with white neighbours (values worked out by hand from the kernels).
        QTest::newRow("Monochrome1") << QStringLiteral("Monochrome1") << qRgb(0, 0, 0) << qRgb(0, 0, 0) << false;
        QTest::newRow("Niveauxdegris1") << QStringLiteral("Niveauxdegris1") << qRgb(84, 84, 84) << qRgb(149, 149, 149) << false;
        QTest::newRow("Flou2") << QStringLiteral("Flou2") << qRgb(200, 40, 10) << qRgb(146, 231, 255) << false;
        QTest::newRow("Flou1") << QStringLiteral("Flou1") << qRgb(200, 40, 10) << qRgb(134, 228, 255) << false;
        QTest::newRow("Accentuer1") << QStringLiteral("Accentuer1") << qRgb(200, 40, 10) << qRgb(0, 90, 255) << false;
        QTest::newRow("Verticalement1") << QStringLiteral("Verticalement1") << qRgb(255, 255, 255) << qRgb(255, 255, 255) << true;
        QTest::newRow("Horizontalement1") << QStringLiteral("Horizontalement1") << qRgb(255, 255, 255) << qRgb(255, 255, 255) << true;
        QTest::newRow("miroir") << QStringLiteral("miroir") << qRgb(255, 255, 255) << qRgb(255, 255, 255) << true;
    }

    void everyFilterShowsStaysOnTheFrameAndIsSaved()
    {
        QFETCH(QString, item);
        QFETCH(QRgb, atRedBlock);
        QFETCH(QRgb, atCorner);
        QFETCH(bool, is32Bit);
        addFrames();
        t->form->selectFrame(0);
        t->form->setModified(false);

        t->form->action(item)->trigger();
        QVERIFY(t->form->isModified());
        QVERIFY(!QApplication::overrideCursor());
        const QImage shown = t->form->Image->picture();
        QCOMPARE(shown.size(), QSize(20, 12));
        QCOMPARE(shown.depth() == 32 && shown.hasAlphaChannel(), is32Bit);
        QCOMPARE(QColor(shown.pixel(5, 4)), QColor(atRedBlock));
        QCOMPARE(QColor(shown.pixel(0, 11)), QColor(atCorner));

        // Selecting another frame and coming back shows the filtered picture; the saved file has it.
        t->form->selectFrame(1);
        t->form->selectFrame(0);
        QCOMPARE(rgb(t->form->Image->picture()), rgb(shown));
        QCOMPARE(savedFrame(0), rgb(shown));
    }

    void flipsMoveThePicture()
    {
        addFrames();
        t->form->selectFrame(0);
        const QImage before = rgb(t->form->Image->picture());
        t->form->Verticalement1Click();
        QCOMPARE(rgb(t->form->Image->picture()), before.mirrored(false, true));
        t->form->Horizontalement1Click();
        QCOMPARE(rgb(t->form->Image->picture()), before.mirrored(true, true));
        t->form->miroirClick();
        QCOMPARE(rgb(t->form->Image->picture()), before);
        QCOMPARE(savedFrame(0), before);
    }

    void inversionOfTheSelectedFrameUsesTheOppositeTableEntry()
    {
        addFrames();
        t->form->selectFrame(0);
        const QImage before = t->form->Image->picture();
        QCOMPARE(before.format(), QImage::Format_Indexed8);
        t->form->setModified(false);
        t->form->Inverserlescouleurs1Click();
        QVERIFY(t->form->isModified());
        const QImage inverted = t->form->Image->picture();
        QCOMPARE(inverted.format(), QImage::Format_Indexed8);
        QCOMPARE(inverted.colorTable(), before.colorTable());
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 20; ++x)
                QCOMPARE(inverted.pixelIndex(x, y), 255 - before.pixelIndex(x, y));
        QCOMPARE(savedFrame(0), rgb(inverted));
        t->form->Inverserlescouleurs1Click();
        QCOMPARE(t->form->Image->picture(), before);
    }

    void inversionCoversAPictureWiderThanTheWindow()
    {
        // The still view grows with the animation's screen (the view area scrolls), so the view's
        // rectangle spans the whole picture and every column is inverted.
        t->add({writePng(mDir.filePath(QStringLiteral("wide.png")), 3000, 4, qRgb(10, 20, 30))});
        t->form->selectFrame(0);
        QVERIFY(t->form->width() < 3000);
        const QImage before = t->form->Image->picture();
        t->form->Inverserlescouleurs1Click();
        const QImage shown = t->form->Image->picture();
        for (const QPoint p : {QPoint(0, 0), QPoint(2999, 0), QPoint(2999, 3)})
            QCOMPARE(shown.pixelIndex(p), 255 - before.pixelIndex(p));
    }

    void nothingHappensWithoutASelectedFrame()
    {
        t->form->Flou2Click();
        t->form->miroirClick();
        QVERIFY(!t->form->isModified());
        addFrames();
        t->form->playClick();
        t->form->setModified(false);
        t->form->Monochrome1Click(); // the still view is hidden while playing
        QVERIFY(!t->form->isModified());
        t->form->stopPlayback();
    }
};

QTEST_MAIN(TestFiltersMenu)
#include "test_filters_menu.moc"
