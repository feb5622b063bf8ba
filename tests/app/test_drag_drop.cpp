// Drag and drop through Qt's own events: files dropped on the window, thumbnails dragged in the
// strip and out of it.
#include "app_fixtures.h"

#include "app/undo_commands.h"
#include "app/views.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

using app::Answer;
using app::StripDrag;

class TestDragDrop : public QObject
{
    Q_OBJECT

    QTemporaryDir mDir;
    std::unique_ptr<FormUnderTest> t;

    QString png(int i) const { return mDir.filePath(QStringLiteral("f%1.png").arg(i)); }

    /** Frames of widths 10, 11 ... , the strip at its start. */
    void frames(int n)
    {
        QStringList files;
        for (int i = 0; i < n; ++i)
            files << png(i);
        t->add(files);
        t->form->selectFrame(0);
    }

    static QMimeData *filesData(const QStringList &files)
    {
        auto *data = new QMimeData;
        QList<QUrl> urls;
        for (const QString &f : files)
            urls << QUrl::fromLocalFile(f);
        data->setUrls(urls);
        return data;
    }

    /**
     * A drag entering over `target` at `pos` (its coordinates), then dropped on the widget that
     * took it; returns whether one did.
     */
    static bool dragAndDrop(QWidget *target, QPoint pos, const QMimeData *data, QWidget *dropOn)
    {
        QDragEnterEvent enter(pos, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent drop(QPointF(target->mapTo(dropOn, pos)), Qt::CopyAction | Qt::MoveAction, data,
                        Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(dropOn, &drop);
        return drop.isAccepted();
    }

    QWidget *area() const { return t->form->findChild<QWidget *>(QStringLiteral("pnlFrames")); }
    StripDrag *strip() const { return t->form->findChild<StripDrag *>(); }

    /** The middle of thumbnail slot k in the frames area's coordinates. */
    QPoint slotCentre(int k) const
    {
        app::ThumbnailSlot *slot = t->form->thumbs[std::size_t(k - 1)];
        return slot->mapTo(area(), slot->rect().center());
    }

    void dragTo(QPoint pos, const QMimeData *data, QEvent::Type type = QEvent::DragMove)
    {
        QDragMoveEvent move(pos, Qt::MoveAction | Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier, type);
        QApplication::sendEvent(area(), &move);
        QVERIFY(move.isAccepted());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(mDir.isValid());
        for (int i = 0; i < 8; ++i)
            writePng(png(i), 10 + i, 8, qRgb(30 * i, 100, 50));
        QFile bad(mDir.filePath(QStringLiteral("bad.png")));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("not a picture at all");
    }
    void init() { t = std::make_unique<FormUnderTest>(); }
    void cleanup() { t.reset(); }

    /** Over a thumbnail too: the strip leaves files to the window. */
    void filesGoInInDropOrderPastAnUnreadableOne()
    {
        frames(1);
        t->prompter->answers.push_back(Answer::Ok);
        std::unique_ptr<QMimeData> data(filesData({png(3), mDir.filePath(QStringLiteral("bad.png")), png(2)}));
        QVERIFY(dragAndDrop(t->form->thumbs[0]->picture(), QPoint(10, 10), data.get(), t->form.get()));
        QTRY_COMPARE(t->widths(), (QList<int>{10, 13, 12}));
        QCOMPARE(t->prompter->texts(), QStringList{QStringLiteral("Echec lors de l'ajout de l'image.")});
        QCOMPARE(t->form->selectedFrame(), 2);
        QVERIFY(t->form->isModified());
        t->form->undoItem->trigger(); // the drop is one step
        QCOMPARE(t->widths(), (QList<int>{10}));
    }

    void aLoneGifOpensOnlyOnAnEmptyUntitledDocument()
    {
        const QString gif = writeSmallFramesGif(mDir.filePath(QStringLiteral("small.gif")));
        std::unique_ptr<QMimeData> data(filesData({gif}));
        QVERIFY(dragAndDrop(t->form->Image, QPoint(5, 5), data.get(), t->form.get()));
        QTRY_COMPARE(t->form->filePath(), gif);
        QCOMPARE(t->form->frameEntries(), 2);
        QVERIFY(!t->form->isModified());

        // On a file's document a GIF adds its first frame, as the add command does.
        QVERIFY(dragAndDrop(t->form->Image, QPoint(5, 5), data.get(), t->form.get()));
        QTRY_COMPARE(t->widths().size(), 3);
        QCOMPARE(t->form->filePath(), gif);

        // An emptied untitled document with changes: Open's question first ("&Non" discards them).
        t = std::make_unique<FormUnderTest>();
        frames(1);
        t->prompter->answers.push_back(Answer::Yes);
        t->form->DelClick();
        t->prompter->answers.push_back(Answer::No);
        QVERIFY(dragAndDrop(t->form->Image, QPoint(5, 5), data.get(), t->form.get()));
        QTRY_COMPARE(t->form->filePath(), gif);
        QVERIFY(t->prompter->texts().last().startsWith(QStringLiteral("Voulez-vous enregistrer")));
    }

    /** The first frame dragged onto the fourth: the looping goes with the new first frame. */
    void thumbnailDraggedToAnotherPlaceIsOneMove()
    {
        frames(5);
        t->form->fini->click();
        t->form->NumLoops->setValue(3);
        const QByteArray before = bytesOf(t->form->document());
        const int steps = t->form->history().stack().count();
        std::unique_ptr<QMimeData> data(strip()->dragData(0));
        dragTo(slotCentre(1), data.get(), QEvent::DragEnter);
        dragTo(slotCentre(4), data.get());
        auto *marker = t->form->findChild<QWidget *>(QStringLiteral("dropMarker"));
        QVERIFY(marker->isVisible());
        QVERIFY(marker->x() > t->form->thumbs[3]->geometry().center().x()); // after the target: going on

        QDropEvent drop(QPointF(slotCentre(4)), Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(area(), &drop);
        QVERIFY(drop.isAccepted());
        QVERIFY(!marker->isVisible());
        QCOMPARE(t->widths(), (QList<int>{11, 12, 13, 10, 14}));
        QCOMPARE(t->form->selectedFrame(), 3);
        const doc::TGIFSubImage &first = t->form->document()->frame(0);
        QVERIFY(first.extensionCount() > 0);
        auto *loop = doc::extension_cast<doc::TGIFAppExtNSLoop>(first.extension(0));
        QVERIFY(loop);
        QCOMPARE(loop->loops, 3);

        QCOMPARE(t->form->history().stack().count(), steps + 1);
        QCOMPARE(t->form->undoItem->text(), QStringLiteral("A&nnuler Déplacer"));
        t->form->undoItem->trigger();
        QCOMPARE(bytesOf(t->form->document()), before);
    }

    /** Marked frames go as one block and stay marked; a press on them keeps the marks for the drag. */
    void markedFramesDragAsOneBlock()
    {
        frames(5);
        const auto picture = [this](int k) { return t->form->thumbs[std::size_t(k - 1)]->picture(); };
        const auto marked = [this] { return t->form->selectedFrames(); };
        QTest::mouseClick(picture(2), Qt::LeftButton, {}, QPoint(20, 20));
        QTest::mouseClick(picture(3), Qt::LeftButton, Qt::ShiftModifier, QPoint(20, 20));
        QTest::mousePress(picture(2), Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(marked(), (std::vector<int>{1, 2}));
        QCOMPARE(t->form->selectedFrame(), 1);

        std::unique_ptr<QMimeData> data(strip()->dragData(1));
        dragTo(slotCentre(2), data.get(), QEvent::DragEnter);
        dragTo(slotCentre(3), data.get()); // within the block: nowhere to go
        QVERIFY(!t->form->findChild<QWidget *>(QStringLiteral("dropMarker"))->isVisible());
        dragTo(slotCentre(4), data.get());
        QDropEvent drop(QPointF(slotCentre(4)), Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(area(), &drop);
        QCOMPARE(t->widths(), (QList<int>{10, 13, 11, 12, 14}));
        QCOMPARE(marked(), (std::vector<int>{2, 3}));
        QCOMPARE(t->form->selectedFrame(), 2); // the dragged frame, where it went

        // Pressed and released without a drag, a marked frame is left alone marked.
        QTest::mouseClick(picture(4), Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(marked(), (std::vector<int>{3}));
    }

    void stripScrollsWhileDraggingPastItsEnd()
    {
        frames(8);
        std::unique_ptr<QMimeData> data(strip()->dragData(1));
        QWidget *panel = t->form->thumbs[0]->parentWidget();
        const QPoint pastEnd = panel->mapTo(area(), QPoint(panel->width() + 10, panel->height() / 2));
        dragTo(pastEnd, data.get(), QEvent::DragEnter);
        QTRY_COMPARE(t->form->scrollPosition(), 4);
        QDropEvent drop(QPointF(pastEnd), Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(area(), &drop);
        QCOMPARE(t->widths(), (QList<int>{10, 12, 13, 14, 15, 16, 17, 11}));
        QCOMPARE(t->form->selectedFrame(), 7);
    }

    /** Another window gets the frame as a picture file (and its PNG data for other programs). */
    void thumbnailDraggedOutIsAPicture()
    {
        frames(3);
        std::unique_ptr<QMimeData> data(strip()->dragData(2));
        QImage picture;
        QVERIFY(picture.loadFromData(data->data(QStringLiteral("image/png")), "PNG"));
        QCOMPARE(picture.size(), QSize(12, 8));
        QCOMPARE(picture.pixel(0, 0), qRgb(60, 100, 50));

        FormUnderTest other;
        QVERIFY(dragAndDrop(other.form->Image, QPoint(5, 5), data.get(), other.form.get()));
        QTRY_COMPARE(other.form->frameEntries(), 1);
        QCOMPARE(int(other.form->document()->frame(0).width), 12);
        QCOMPARE(t->widths(), (QList<int>{10, 11, 12})); // the source keeps its frame
    }
};

QTEST_MAIN(TestDragDrop)
#include "test_drag_drop.moc"
