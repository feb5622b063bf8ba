// The "Exporter..." dialog: where it sits in the File menu and when it can be chosen; the size it
// shows is the file it saves; a change stops the computation under way; "Tenir sous" sets the
// controls to what it found and says what it gave up.
#include "app_fixtures.h"
#include "modal_user.h"

#include "dialogs/uexport.h"
#include "support/corpus.h"

#include "document/gif_export.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>
#include <functional>

using fixtures::FormUnderTest;

namespace {

/** A screen-recording-like GIF: text rows on a window, a patch of noise that moves each frame. */
QString writeRecording(const QString &path, int frames, int w, int h)
{
    doc::TGIFImage image;
    image.header.width = uint16_t(w);
    image.header.height = uint16_t(h);
    for (int i = 0; i < 256; ++i)
        image.header.colorMap.entries.push_back({uint8_t(i), uint8_t((i * 37) & 255), uint8_t(255 - i)});
    uint32_t seed = 12345;
    for (int f = 0; f < frames; ++f) {
        std::vector<uint8_t> px(std::size_t(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint8_t v = y % 12 < 6 && x % 9 < 6 ? uint8_t(40 + (x / 9) % 20) : 7;
                if (x >= f * 3 && x < f * 3 + w / 3 && y >= h / 3 && y < 2 * h / 3) {
                    seed = seed * 1103515245u + 12345u;
                    v = uint8_t(seed >> 24);
                }
                px[std::size_t(y) * w + x] = v;
            }
        doc::TGIFSubImage frame;
        frame.width = uint16_t(w);
        frame.height = uint16_t(h);
        frame.setPixels(std::move(px));
        frame.addGraphicControl()->delay = 8;
        image.appendFrame(std::move(frame));
    }
    doc::saveToFile(image, path.toStdString());
    return path;
}

} // namespace

class TestExportDialog : public QObject
{
    Q_OBJECT

    QTemporaryDir mDir;
    std::unique_ptr<FormUnderTest> t;

    QString file(const QString &name) const { return mDir.filePath(name); }

    void open(const QString &path)
    {
        t->prompter->openFiles.push_back({path});
        t->form->FileOpen1Execute(app::TMainform::OpenSource::Dialog);
        QVERIFY(t->form->document() && t->form->document()->count() > 0);
    }

    dialogs::TExport::Prompts prompts()
    {
        dialogs::TExport::Prompts p;
        p.chooseSaveFile = [this] { return t->prompter->chooseSaveFile({QStringLiteral("Exporter"), {}, {}, {}}); };
        p.showError = [this](const QString &text) { t->prompter->ask(app::MessageKind::Error, text, app::Buttons::Ok); };
        return p;
    }

    /** Waits for the exact size of the settings shown; false when it does not come. */
    static bool exactShown(dialogs::TExport &dialog)
    {
        return QTest::qWaitFor([&] { return dialog.current() && dialog.current()->settings == dialog.settings(); }, 30000);
    }

private slots:
    void init() { t = std::make_unique<FormUnderTest>(); }
    void cleanup() { t.reset(); }

    void menuItemSitsUnderTheOptimisedSaveAndNeedsFrames()
    {
        auto *menu = t->form->findChild<QMenu *>(QStringLiteral("File1"));
        QVERIFY(menu);
        const QList<QAction *> items = menu->actions();
        const qsizetype eos = items.indexOf(t->form->action(QStringLiteral("eos")));
        QVERIFY(eos >= 0 && eos + 1 < items.size());
        QCOMPARE(items[eos + 1], t->form->action(QStringLiteral("exporter")));
        QCOMPARE(items[eos + 1]->text(), QStringLiteral("E&xporter..."));

        // A new document has no frame: nothing to export.
        menu->popup(t->form->mapToGlobal(QPoint(20, 20)));
        QVERIFY(!t->form->action(QStringLiteral("exporter"))->isEnabled());
        menu->hide();

        open(writeRecording(file(QStringLiteral("menu.gif")), 4, 40, 30));
        menu->popup(t->form->mapToGlobal(QPoint(20, 20)));
        QVERIFY(t->form->action(QStringLiteral("exporter"))->isEnabled());
        menu->hide();

        // Chosen from the menu, the dialog saves through the window's file dialog what it shows.
        const QString saved = file(QStringLiteral("from-menu.gif"));
        t->prompter->saveFiles.push_back(saved);
        qint64 shown = -1;
        ModalUser user([&](QWidget *modal) {
            auto *dialog = qobject_cast<dialogs::TExport *>(modal);
            QVERIFY(dialog);
            QVERIFY(exactShown(*dialog));
            shown = qint64(dialog->current()->size());
            dialog->Enregistrer->click();
        });
        t->form->action(QStringLiteral("exporter"))->trigger();
        QCOMPARE(user.seen, QStringList{QStringLiteral("Exporter")});
        QCOMPARE(t->prompter->dialogs.last().title, QStringLiteral("Exporter"));
        QCOMPARE(QFileInfo(saved).size(), shown);
    }

    void theSizeShownIsTheFileSavedForEachSetting()
    {
        open(writeRecording(file(QStringLiteral("sizes.gif")), 6, 64, 48));
        dialogs::TExport dialog(*t->form->document(), 2, prompts());
        dialog.show();
        struct Change {
            const char *name;
            std::function<void()> apply;
        };
        const Change changes[] = {
            {"default", [] {}},
            {"level 0", [&] { dialog.Niveau->setCurrentIndex(0); }},
            {"level 1, 16 colours ordered", [&] {
                 dialog.Niveau->setCurrentIndex(1);
                 dialog.Couleurs->setValue(16);
                 dialog.Tramage->setCurrentIndex(2);
             }},
            {"level 2 lossy 60, every 2nd dropped", [&] {
                 dialog.Niveau->setCurrentIndex(2);
                 dialog.Perte->setValue(60);
                 dialog.Retirer->setValue(2);
             }},
        };
        int n = 0;
        for (const Change &c : changes) {
            c.apply();
            QVERIFY2(exactShown(dialog), c.name);
            const auto result = dialog.current();
            // The figure shown is the file's size, and the file is what the engine makes of the document.
            QVERIFY2(dialog.Taille->text().contains(QLocale().toString(qulonglong(result->size()))), c.name);
            QCOMPARE(result->bytes, doc::exportCopy(*t->form->document(), dialog.settings()).bytes);
            QCOMPARE(dialog.Images->count(), int(result->frameBytes.size()));
            QVERIFY2(!dialog.Apercu->pixmap().isNull(), c.name);
            const QString saved = file(QStringLiteral("sizes-%1.gif").arg(n++));
            t->prompter->saveFiles.push_back(saved);
            QVERIFY(dialog.save());
            QCOMPARE(QFileInfo(saved).size(), qint64(result->size()));
        }
        QCOMPARE(dialog.Images->count(), 3); // every 2nd of 6 dropped
        QVERIFY(dialog.Perte->isEnabled());
        dialog.Niveau->setCurrentIndex(1);
        QVERIFY(!dialog.Perte->isEnabled()); // lossy is the level-2 encoder's
    }

    void aChangeStopsTheComputationUnderWay()
    {
        open(writeRecording(file(QStringLiteral("long.gif")), 60, 640, 480));
        dialogs::TExport dialog(*t->form->document(), 0, prompts());
        dialog.show();
        QVERIFY(exactShown(dialog));
        QSignalSpy cancelled(&dialog, &dialogs::TExport::computationCancelled);
        // Dithered colours over every frame take a while: something is changed as soon as the
        // work is said to have begun, not after a wait in which it may have ended.
        bool changed = false;
        const auto connection = connect(&dialog, &dialogs::TExport::computationStarted, &dialog, [&] {
            if (!changed && dialog.Tramage->currentIndex() == 1) {
                changed = true;
                dialog.Perte->setValue(30);
            }
        });
        dialog.Couleurs->setValue(32);
        dialog.Tramage->setCurrentIndex(1);
        QTRY_VERIFY(changed);
        disconnect(connection);
        QTRY_VERIFY_WITH_TIMEOUT(cancelled.count() >= 1, 30000);
        QVERIFY(exactShown(dialog));
        QCOMPARE(dialog.current()->settings.lossy, 30);
        QCOMPARE(dialog.current()->bytes, doc::exportCopy(*t->form->document(), dialog.settings()).bytes);
    }

    void tenirSousSetsTheControlsAndSaysWhatItGaveUp()
    {
        if (!std::filesystem::is_directory(testsupport::corpusDir()))
            QSKIP("test corpus not found");
        open(QString::fromStdString(testsupport::corpusPath("blink-images/resources/quicksort.gif").string()));
        dialogs::TExport dialog(*t->form->document(), 0, prompts());
        dialog.show();
        QVERIFY(exactShown(dialog));
        const std::size_t lossless = dialog.current()->size();
        const int target = int(double(lossless) * 0.8 / 1000.0);
        dialog.Cible->setValue(target);
        QCOMPARE(dialog.Tenir->text(), QStringLiteral("Tenir sous %1 Ko").arg(target));
        QSignalSpy finished(&dialog, &dialogs::TExport::fitFinished);
        dialog.Tenir->click();
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() == 1, 60000);
        QCOMPARE(finished.first().first().toBool(), true);
        // The controls show what was found, and the figure is its file.
        QVERIFY(dialog.current());
        QCOMPARE(dialog.current()->settings, dialog.settings());
        QVERIFY(dialog.Perte->value() > 0);
        QVERIFY(dialog.Couleurs->value() < 256);
        QVERIFY(dialog.current()->size() <= std::size_t(target) * 1000);
        QVERIFY2(dialog.Sacrifices->text().startsWith(QStringLiteral("Pour tenir sous %1 Ko : ").arg(target)),
                 qPrintable(dialog.Sacrifices->text()));
        QVERIFY2(dialog.Sacrifices->text().contains(QStringLiteral("perte %1").arg(dialog.Perte->value())),
                 qPrintable(dialog.Sacrifices->text()));
        QVERIFY2(dialog.Sacrifices->text().contains(QStringLiteral("%1 couleurs").arg(dialog.Couleurs->value())),
                 qPrintable(dialog.Sacrifices->text()));
        const QString saved = file(QStringLiteral("fit.gif"));
        t->prompter->saveFiles.push_back(saved);
        QVERIFY(dialog.save());
        QVERIFY(QFileInfo(saved).size() <= qint64(target) * 1000);

        // A size nothing reaches is said so, with the smallest file found.
        dialog.Cible->setValue(1);
        dialog.Tenir->click();
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() == 2, 60000);
        QCOMPARE(finished.last().first().toBool(), false);
        QVERIFY2(dialog.Sacrifices->text().startsWith(QStringLiteral("Impossible de tenir sous 1 Ko : ")),
                 qPrintable(dialog.Sacrifices->text()));
    }
};

QTEST_MAIN(TestExportDialog)
#include "test_export_dialog.moc"
