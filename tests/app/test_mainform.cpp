#include "app/mainform.h"

#include <QLabel>
#include <QStatusBar>
#include <QtTest>

using app::TMainform;

class TestMainform : public QObject
{
    Q_OBJECT

private slots:
    void startsWithItsCaptionSizeAndStatusPanels()
    {
        TMainform form;
        QCOMPARE(form.windowTitle(), QStringLiteral("Movaro Gif"));
        QCOMPARE(form.size(), QSize(817, 658));
        QCOMPARE(form.statusBar()->objectName(), QStringLiteral("StatusBar"));

        const int widths[] = {310, 160, 80, 125, 105};
        for (int i = 0; i < TMainform::statusPanelCount; ++i)
            QCOMPARE(form.statusPanel(i)->width(), widths[i]);
        QCOMPARE(form.statusPanel(0)->text(), QStringLiteral("Pour obtenir de l'aide, Appuyez sur F1"));
    }
};

QTEST_MAIN(TestMainform)
#include "test_mainform.moc"
