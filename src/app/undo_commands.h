#pragma once

#include "document/gif_image.h"

#include <QObject>
#include <QString>
#include <QUndoCommand>
#include <QUndoStack>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace app {

/**
 * The document as a command found it: copies of its frames that share their pixels with the
 * document (a copy costs its extensions and table, not its indices), the header and the settings.
 */
struct DocumentSnapshot {
    bool exists = false;
    doc::TGIFHeader header;
    bool transparentDrawing = true;
    doc::ColorReduction reduction = doc::ColorReduction::WebSafeCube;
    std::vector<doc::TGIFSubImage> frames;

    static DocumentSnapshot of(const doc::TGIFImage *document);
};

/** A piece of frame data a step keeps alive: the object holding it, and its size. */
struct HeldData {
    const void *owner;
    std::size_t bytes;
};

/** Frames [at, at + before.size()) were replaced by `after`. */
struct FrameHunk {
    int at = 0;
    std::vector<doc::TGIFSubImage> before;
    std::vector<doc::TGIFSubImage> after;
};

/**
 * What one command changed, and nothing else: the frames that differ (one run when the count
 * changed, else each changed frame), and the header and settings when they differ.
 */
struct DocumentChange {
    std::vector<FrameHunk> hunks; // in ascending order of `at`
    bool existedBefore = true, existsAfter = true;
    std::optional<doc::TGIFHeader> headerBefore, headerAfter;
    bool drawingBefore = true, drawingAfter = true;
    doc::ColorReduction reductionBefore{}, reductionAfter{};
    /** The frame the window shows after the step (the first changed one). */
    int focus = 0;

    static DocumentChange between(DocumentSnapshot before, const doc::TGIFImage *after);
    bool empty() const;
    /** The frame data the change refers to. */
    void listHeld(std::vector<HeldData> &out) const;
    /** Applies the change forward (redo) or backward (undo) to `document`, made or dropped as needed. */
    void apply(std::unique_ptr<doc::TGIFImage> &document, bool forward) const;
};

/** Whether two frames are the same frame: geometry, table, pixels, set picture and extensions. */
bool sameFrame(const doc::TGIFSubImage &a, const doc::TGIFSubImage &b);

class UndoHistory;

/**
 * The undo history of the main window: a QUndoStack whose steps hold what each command changed,
 * bounded by the bytes of frame data they keep (oldest steps dropped first).
 *
 * Commands open an UndoScope; the scope compares the document before and after and pushes one
 * step. Edits typed in a field (delay, comment) within one edit session merge into one step.
 */
class UndoHistory : public QObject
{
    Q_OBJECT

public:
    struct Hooks {
        /** Called before a step changes the document (playback must let go of it). */
        std::function<void()> release;
        /** Called after a step changed the document; `frame` is the one to show. */
        std::function<void(int frame)> refresh;
        /** Puts the comment box's text back. */
        std::function<void(const QString &text)> setComment;
        /** The modified flag follows the stack's clean state. */
        std::function<void(bool modified)> setModified;
    };

    UndoHistory(std::unique_ptr<doc::TGIFImage> &document, Hooks hooks, QObject *parent = nullptr);
    ~UndoHistory() override;

    QUndoStack &stack() { return mStack; }
    std::unique_ptr<doc::TGIFImage> &document() { return mDocument; }

    static constexpr std::size_t defaultByteLimit = std::size_t(200) << 20;
    /** Frame data the steps may keep; older steps are dropped beyond it (the newest always stays). */
    void setByteLimit(std::size_t bytes);
    std::size_t byteLimit() const { return mByteLimit; }
    /** Frame data the steps keep now, beyond what the document holds. */
    std::size_t heldBytes() const;
    /** What each step adds to it, oldest first; newer steps count the data they share. */
    std::vector<std::size_t> stepBytes() const;

    /** Forgets every step (New, Open, Revert). */
    void clear();
    /** The document as it is now is the saved one. */
    void markClean();
    /** True while a step is being undone or redone: commands run by the refresh record nothing. */
    bool applying() const { return mApplying; }
    /** Ends the current typing session: the next typed edit starts a new step. */
    void endEditSession() { ++mSession; }

    /** The comment box now shows `text` by the program (not typed): the next typed edit starts from it. */
    void setCommentBaseline(const QString &text) { mComment = text; }
    /** The user changed the comment box to `text`. */
    void commentTyped(const QString &text);

    // For the steps.
    void applyChange(const DocumentChange &change, bool forward);
    void applyComment(const QString &text);
    int session() const { return mSession; }
    /** Pushes a step, then drops the oldest ones beyond the byte limit. */
    void push(QUndoCommand *step);

private:
    friend class UndoScope;
    void trim();

    std::unique_ptr<doc::TGIFImage> &mDocument;
    Hooks mHooks;
    QUndoStack mStack;
    std::size_t mByteLimit = defaultByteLimit;
    bool mApplying = false;
    bool mRebuilding = false;
    int mDepth = 0;
    int mSession = 0;
    QString mComment;
};

/**
 * One command as one undo step: the document is looked at when the scope opens and when it
 * closes, and the difference is pushed under `name`. Scopes opened inside another one, or while a
 * step is applied, record nothing (the outer one records all).
 */
class UndoScope
{
public:
    enum class Merge { None, Typing };
    UndoScope(UndoHistory &history, QString name, Merge merge = Merge::None);
    ~UndoScope();
    UndoScope(const UndoScope &) = delete;
    UndoScope &operator=(const UndoScope &) = delete;

private:
    UndoHistory &mHistory;
    QString mName;
    Merge mMerge;
    bool mCounted = false;
    bool mRecording = false;
    std::optional<DocumentSnapshot> mBefore;
};

} // namespace app
