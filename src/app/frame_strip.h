#pragma once

#include <QObject>
#include <QPoint>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>
#include <set>
#include <vector>

class QMimeData;
class QWidget;

namespace app {

class TMainform;

/**
 * The frames marked in the strip: one after a plain click, a set built with Ctrl+click, a range
 * from the anchor with Shift+click. The frame the still view shows is kept by the window.
 */
class FrameSelection
{
public:
    /** Only `frame` (none for −1); it becomes the anchor. */
    void single(int frame);
    /** Adds or removes `frame`; an added frame becomes the anchor. Returns whether it is marked now. */
    bool toggle(int frame);
    /** The frames from the anchor to `frame`, both included; the anchor stays. */
    void range(int frame);
    /** Every mark moved by `offset` (a block of frames moved). */
    void shift(int offset);

    bool contains(int frame) const { return mFrames.count(frame) > 0; }
    int count() const { return int(mFrames.size()); }
    int anchor() const { return mAnchor; }
    /** In ascending order. */
    std::vector<int> frames() const { return {mFrames.begin(), mFrames.end()}; }

private:
    std::set<int> mFrames;
    int mAnchor = -1;
};

/**
 * The strip's keyboard: Left and Right step through the frames, Home and End go to the ends,
 * Shift extends the marks from the anchor. Installed on the thumbnail panel.
 */
class StripKeys : public QObject
{
    Q_OBJECT

public:
    StripKeys(TMainform &form, QWidget *panel);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    TMainform &mForm;
};

/**
 * Thumbnails dragged with the mouse: within the strip to a new place (one undoable move; the strip
 * scrolls while the pointer stays past either end), and out of the window as a PNG picture.
 * Watches the frames area, so that the drop zone reaches past the strip's ends.
 */
class StripDrag : public QObject
{
    Q_OBJECT

public:
    /** The format naming a dragged frame: this process, its window and the frame's index. */
    static const QString frameMime;

    StripDrag(TMainform &form, QWidget *area, QWidget *panel);

    /**
     * What a drag of `frame` carries: for this window its place, with every frame marked beside it;
     * for other programs its picture.
     */
    QMimeData *dragData(int frame);
    /** Drags the frame shown in slot k until the button is released (a nested event loop). */
    void start(int k);
    /** The frame a drop at `areaPos` takes the place of. */
    int targetAt(QPoint areaPos) const;
    /** The frame `data` carries when it was dragged from the strip of `form`, else −1. */
    static int frameIn(const QMimeData *data, const TMainform &form);
    /** The frames dragged with it, ascending (it alone when no other was marked). */
    static std::vector<int> framesIn(const QMimeData *data, const TMainform &form);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    /** Shows where the dragged frames would go, taking the place of `frame` (−1 hides the mark). */
    void markTarget(int frame, const std::vector<int> &moved);
    void scrollStep();

    TMainform &mForm;
    QWidget *mArea;
    QWidget *mPanel;
    QWidget *mMarker;
    QTimer mScroll;
    int mDirection = 0;
    std::unique_ptr<QTemporaryDir> mOut; // the PNG files offered to file managers, gone at the end
};

} // namespace app
