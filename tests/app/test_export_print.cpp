// Printing (the page geometry and a real print to PDF read back with pdftoppm) and the disposal
// dialog.

#include "app/printing.h"
#include "dialogs/udispo.h"

#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using app::PrintSize;

namespace {

const QRgb quadrantColours[4] = {qRgb(220, 0, 0), qRgb(0, 160, 0), qRgb(0, 0, 200), qRgb(230, 200, 0)};

/** A picture in four flat quadrants (red, green / blue, yellow), so placement and orientation show. */
QImage quadrants(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, quadrantColours[(y < h / 2 ? 0 : 2) + (x < w / 2 ? 0 : 1)]);
    return image;
}

bool near(QRgb a, QRgb b)
{
    return qAbs(qRed(a) - qRed(b)) <= 8 && qAbs(qGreen(a) - qGreen(b)) <= 8 && qAbs(qBlue(a) - qBlue(b)) <= 8;
}

} // namespace

class TestExportPrint : public QObject
{
    Q_OBJECT

    QTemporaryDir mDir;

    /**
     * A PDF printer with a 200 × 300 point page, 10-point side and 20-point top and bottom margins,
     * at 72 dpi: the printable area is 180 × 260 device pixels at (10, 20) of the sheet.
     */
    void setUpPdf(QPrinter &printer, const QString &file)
    {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(file);
        printer.setResolution(72);
        QVERIFY(printer.setPageLayout(
            QPageLayout(QPageSize(QSizeF(200, 300), QPageSize::Point, QString(), QPageSize::ExactMatch),
                        QPageLayout::Portrait, QMarginsF(10, 20, 10, 20), QPageLayout::Point)));
        QCOMPARE(printer.pageRect(QPrinter::DevicePixel), QRectF(10, 20, 180, 260));
    }

    /** The pages of a PDF rendered at 72 dpi by pdftoppm. */
    QList<QImage> render(const QString &pdf)
    {
        const QString prefix = mDir.filePath(QFileInfo(pdf).completeBaseName());
        QProcess p;
        p.start(QStringLiteral("pdftoppm"),
                {QStringLiteral("-r"), QStringLiteral("72"), QStringLiteral("-png"), pdf, prefix});
        if (!p.waitForFinished(60000) || p.exitCode() != 0)
            return {};
        QList<QImage> pages;
        for (int i = 1;; ++i) {
            const QString page = prefix + QStringLiteral("-%1.png").arg(i);
            if (!QFile::exists(page))
                break;
            pages << QImage(page).convertToFormat(QImage::Format_RGB32);
        }
        return pages;
    }

private slots:
    void initTestCase() { QVERIFY(mDir.isValid()); }

    void geometry_data()
    {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QSize>("page");
        QTest::addColumn<QSize>("printed");
        QTest::newRow("small landscape fills the width")
            << QSize(100, 50) << QSize(4000, 6000) << QSize(4000, 2000);
        QTest::newRow("small portrait fills the height")
            << QSize(50, 100) << QSize(4000, 6000) << QSize(3000, 6000);
        QTest::newRow("small square fills the width")
            << QSize(30, 30) << QSize(4000, 6000) << QSize(4000, 4000);
        QTest::newRow("too wide is reduced") << QSize(5000, 1000) << QSize(4000, 6000) << QSize(4000, 800);
        QTest::newRow("too high is reduced") << QSize(1000, 9000) << QSize(4000, 6000) << QSize(666, 6000);
        QTest::newRow("too large both ways") << QSize(8000, 9000) << QSize(4000, 6000) << QSize(4000, 4500);
        QTest::newRow("page-wide and lower keeps its size")
            << QSize(4000, 1000) << QSize(4000, 6000) << QSize(4000, 1000);
        QTest::newRow("page-high and narrower keeps its size")
            << QSize(1000, 6000) << QSize(4000, 6000) << QSize(1000, 6000);
        // Enlarged to the width, the height then overflows a landscape page and is reduced.
        QTest::newRow("square on a landscape page")
            << QSize(10, 10) << QSize(6000, 4000) << QSize(4000, 4000);
        // 4000 / (7 / 6) is 3428.57...: truncated, not rounded.
        QTest::newRow("truncated toward zero") << QSize(7, 6) << QSize(4000, 6000) << QSize(4000, 3428);
        QTest::newRow("one row") << QSize(65535, 1) << QSize(4000, 6000) << QSize(4000, 0);
        QTest::newRow("no pixels") << QSize(0, 0) << QSize(4000, 6000) << QSize(0, 0);
        QTest::newRow("no height") << QSize(10, 0) << QSize(4000, 6000) << QSize(0, 0);
    }

    void geometry()
    {
        QFETCH(QSize, picture);
        QFETCH(QSize, page);
        QFETCH(QSize, printed);
        const PrintSize s
            = app::printGeometry(picture.width(), picture.height(), page.width(), page.height());
        QCOMPARE(QSize(s.width, s.height), printed);
    }

    void printToPdf_data()
    {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<bool>("fullPage");
        QTest::addColumn<QRect>("expected"); // on the sheet, in pixels at 72 dpi
        // Printable area 180 × 260 at (10, 20); the whole 200 × 300 sheet in full-page mode.
        QTest::newRow("landscape") << QSize(30, 20) << false << QRect(10, 20, 180, 120);
        QTest::newRow("portrait") << QSize(20, 40) << false << QRect(10, 20, 130, 260);
        QTest::newRow("too wide") << QSize(900, 100) << false << QRect(10, 20, 180, 20);
        QTest::newRow("full page") << QSize(30, 20) << true << QRect(0, 0, 200, 133);
    }

    void printToPdf()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty())
            QSKIP("pdftoppm (poppler-utils) not installed");
        QFETCH(QSize, picture);
        QFETCH(bool, fullPage);
        QFETCH(QRect, expected);

        const QString pdf
            = mDir.filePath(QStringLiteral("%1.pdf").arg(QString::fromLatin1(QTest::currentDataTag())));
        {
            QPrinter printer(QPrinter::HighResolution);
            setUpPdf(printer, pdf);
            printer.setFullPage(fullPage);
            app::printPicture(printer, quadrants(picture.width(), picture.height()));
        }
        const QList<QImage> pages = render(pdf);
        QCOMPARE(pages.size(), 1);
        const QImage &sheet = pages.first();
        QCOMPARE(sheet.size(), QSize(200, 300));

        // Each quadrant's colour well inside it (the viewer may smooth the edges), white outside.
        const int halfW = expected.width() / 2;
        const int halfH = expected.height() / 2;
        for (int q = 0; q < 4; ++q) {
            const QPoint centre
                = expected.topLeft() + QPoint((q % 2) * halfW + halfW / 2, (q / 2) * halfH + halfH / 2);
            QVERIFY2(near(sheet.pixel(centre), quadrantColours[q]),
                     qPrintable(QStringLiteral("quadrant %1 at (%2, %3): %4")
                                    .arg(q)
                                    .arg(centre.x())
                                    .arg(centre.y())
                                    .arg(sheet.pixel(centre), 0, 16)));
        }
        // Just inside each corner: the picture; just outside: the blank sheet.
        const QPoint inside[4]
            = {expected.topLeft() + QPoint(1, 1), expected.topRight() + QPoint(-1, 1),
               expected.bottomLeft() + QPoint(1, -1), expected.bottomRight() + QPoint(-1, -1)};
        const QPoint outside[4]
            = {expected.topLeft() - QPoint(2, 2), expected.topRight() + QPoint(2, -2),
               expected.bottomLeft() + QPoint(-2, 2), expected.bottomRight() + QPoint(2, 2)};
        for (int q = 0; q < 4; ++q) {
            QVERIFY2(near(sheet.pixel(inside[q]), quadrantColours[q]),
                     qPrintable(QStringLiteral("corner %1").arg(q)));
            if (sheet.rect().contains(outside[q]))
                QVERIFY2(near(sheet.pixel(outside[q]), qRgb(255, 255, 255)),
                         qPrintable(QStringLiteral("outside %1").arg(q)));
        }
    }

    void emptyPicturePrintsNothing()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty())
            QSKIP("pdftoppm (poppler-utils) not installed");
        const QString pdf = mDir.filePath(QStringLiteral("empty.pdf"));
        QPrinter printer(QPrinter::HighResolution);
        setUpPdf(printer, pdf);
        app::printPicture(printer, QImage());
        // The job was closed: the printer is idle again and the file is complete.
        QVERIFY(printer.printerState() != QPrinter::Active);
        const QList<QImage> pages = render(pdf);
        QCOMPARE(pages.size(), 1);
        const QImage &sheet = pages.first();
        for (int y = 0; y < sheet.height(); ++y)
            for (int x = 0; x < sheet.width(); ++x)
                QVERIFY2(sheet.pixel(x, y) == qRgb(255, 255, 255),
                         qPrintable(QStringLiteral("(%1, %2)").arg(x).arg(y)));
    }

    void disposalDialog()
    {
        dialogs::TDispo dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Disposition de l'image"));
        QVERIFY(dialog.isModal());
        auto *label = dialog.findChild<QLabel *>();
        QVERIFY(label);
        QCOMPARE(label->text(), QStringLiteral("Méthode de disposition :"));
        auto *combo = dialog.findChild<QComboBox *>(QStringLiteral("disCombo"));
        QVERIFY(combo);
        QVERIFY(!combo->isEditable());
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        QCOMPARE(items,
                 (QStringList{QStringLiteral("Pas de disposition"),
                              QStringLiteral("Remplir avec couleur d'arrière-plan"),
                              QStringLiteral("Image précédente")}));
        QCOMPARE(combo->currentIndex(), 0);

        QList<QPushButton *> buttons = dialog.findChildren<QPushButton *>();
        QCOMPARE(buttons.size(), 2);
        QPushButton *ok = buttons[0]->text() == QStringLiteral("OK") ? buttons[0] : buttons[1];
        QPushButton *cancel = ok == buttons[0] ? buttons[1] : buttons[0];
        QCOMPARE(ok->text(), QStringLiteral("OK"));
        QCOMPARE(cancel->text(), QStringLiteral("Annuler"));
        QVERIFY(ok->isDefault());
        QVERIFY(!cancel->isDefault());

        dialog.show();
        ok->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        dialog.show();
        cancel->click();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }

    void disposalPresetsAndValues_data()
    {
        QTest::addColumn<int>("before");   // list position before the preset
        QTest::addColumn<int>("disposal"); // the frame's disposal
        QTest::addColumn<int>("after");    // list position after it
        QTest::newRow("0 none") << 2 << 0 << 0;
        QTest::newRow("1 leave") << 1 << 1 << 0;
        QTest::newRow("2 background") << 0 << 2 << 1;
        QTest::newRow("3 previous") << 0 << 3 << 2;
        QTest::newRow("4 keeps position 1") << 1 << 4 << 1;
        QTest::newRow("7 keeps position 2") << 2 << 7 << 2;
        QTest::newRow("negative keeps position 0") << 0 << -1 << 0;
    }

    void disposalPresetsAndValues()
    {
        QFETCH(int, before);
        QFETCH(int, disposal);
        QFETCH(int, after);
        dialogs::TDispo dialog;
        dialog.disCombo->setCurrentIndex(before);
        dialog.presetFromDisposal(disposal);
        QCOMPARE(dialog.disCombo->currentIndex(), after);
        // Position p writes disposal p + 1: leave in place, background, previous.
        QCOMPARE(dialog.disposalValue(), after + 1);
    }
};

QTEST_MAIN(TestExportPrint)
#include "test_export_print.moc"
