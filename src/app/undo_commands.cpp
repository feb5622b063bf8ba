#include "undo_commands.h"

#include <algorithm>
#include <unordered_set>

namespace app {

namespace {

bool sameExtension(const doc::TGIFExtension &a, const doc::TGIFExtension &b)
{
    using namespace doc;
    if (a.kind() != b.kind())
        return false;
    switch (a.kind()) {
    case ExtensionKind::GraphicControl: {
        const auto &x = static_cast<const TGIFGraphicControlExtension &>(a);
        const auto &y = static_cast<const TGIFGraphicControlExtension &>(b);
        return x.blockSize == y.blockSize && x.packed == y.packed && x.delay == y.delay
               && x.transparentIndex == y.transparentIndex;
    }
    case ExtensionKind::Comment:
        return static_cast<const TGIFCommentExtension &>(a).lines == static_cast<const TGIFCommentExtension &>(b).lines;
    case ExtensionKind::Text: {
        const auto &x = static_cast<const TGIFTextExtension &>(a);
        const auto &y = static_cast<const TGIFTextExtension &>(b);
        return x.header == y.header && x.lines == y.lines;
    }
    case ExtensionKind::Loop: {
        const auto &x = static_cast<const TGIFAppExtNSLoop &>(a);
        const auto &y = static_cast<const TGIFAppExtNSLoop &>(b);
        return x.identifier == y.identifier && x.loops == y.loops && x.bufferSize == y.bufferSize;
    }
    case ExtensionKind::UnknownApplication: {
        const auto &x = static_cast<const TGIFUnknownAppExtension &>(a);
        const auto &y = static_cast<const TGIFUnknownAppExtension &>(b);
        return x.identifier == y.identifier && x.subBlocks == y.subBlocks;
    }
    }
    return false;
}

int graphicControlIndex(const doc::TGIFSubImage &f)
{
    for (int i = 0; i < f.extensionCount(); ++i)
        if (f.extension(i) == f.graphicControl())
            return i;
    return -1;
}

bool sameHeader(const doc::TGIFHeader &a, const doc::TGIFHeader &b)
{
    return a.version == b.version && a.width == b.width && a.height == b.height && a.packed == b.packed
           && a.background == b.background && a.aspect == b.aspect && a.colorMap == b.colorMap;
}

/** Each piece of frame data of `frames` once: the object that holds it and its bytes. */
void listHeld(const std::vector<doc::TGIFSubImage> &frames, std::vector<HeldData> &out)
{
    for (const doc::TGIFSubImage &f : frames) {
        const doc::Picture *own = f.ownPicture();
        const std::size_t pictureBytes = own ? own->data().size() : 0;
        out.push_back({f.pixelIdentity(), f.heldBytes() - pictureBytes});
        if (own)
            out.push_back({own, pictureBytes});
    }
}

/** What every step of the history can say about itself. */
class HistoryStep : public QUndoCommand
{
public:
    using QUndoCommand::QUndoCommand;
    /** The frame data the step refers to (shared data may be listed by other steps and the document too). */
    virtual void listHeld(std::vector<HeldData> &out) const = 0;
    /** The same step again, for a stack rebuilt without its oldest steps: already done. */
    virtual HistoryStep *clone() const = 0;

protected:
    bool mSkipRedo = true; // the command already did the first redo
};

enum StepId { TypedFrameEdit = 1, TypedComment = 2 };

class FrameStep : public HistoryStep
{
public:
    FrameStep(UndoHistory &history, std::shared_ptr<const DocumentChange> change, const QString &name, bool typing)
        : mHistory(history)
        , mChange(std::move(change))
        , mTyping(typing)
        , mSession(history.session())
    {
        setText(name);
    }

    int id() const override { return mTyping ? TypedFrameEdit : -1; }
    void listHeld(std::vector<HeldData> &out) const override { mChange->listHeld(out); }
    HistoryStep *clone() const override
    {
        auto *copy = new FrameStep(mHistory, mChange, text(), false);
        return copy;
    }

    bool mergeWith(const QUndoCommand *other) override
    {
        const auto *next = static_cast<const FrameStep *>(other);
        if (next->mSession != mSession || mChange->headerBefore || next->mChange->headerBefore
            || mChange->hunks.size() != next->mChange->hunks.size())
            return false;
        // Only the same frames edited again: the earlier state and the later one make the step.
        for (std::size_t i = 0; i < mChange->hunks.size(); ++i) {
            const FrameHunk &a = mChange->hunks[i];
            const FrameHunk &b = next->mChange->hunks[i];
            if (a.at != b.at || a.before.size() != 1 || a.after.size() != 1 || b.before.size() != 1
                || b.after.size() != 1)
                return false;
        }
        auto merged = std::make_shared<DocumentChange>(*mChange);
        for (std::size_t i = 0; i < merged->hunks.size(); ++i)
            merged->hunks[i].after = next->mChange->hunks[i].after;
        mChange = std::move(merged);
        return true;
    }

    void redo() override
    {
        if (std::exchange(mSkipRedo, false))
            return;
        mHistory.applyChange(*mChange, true);
    }
    void undo() override { mHistory.applyChange(*mChange, false); }

private:
    UndoHistory &mHistory;
    std::shared_ptr<const DocumentChange> mChange;
    bool mTyping;
    int mSession;
};

class CommentStep : public HistoryStep
{
public:
    CommentStep(UndoHistory &history, QString before, QString after, bool mergeable)
        : mHistory(history)
        , mBefore(std::move(before))
        , mAfter(std::move(after))
        , mMergeable(mergeable)
        , mSession(history.session())
    {
        setText(QStringLiteral("Commentaire"));
    }

    int id() const override { return mMergeable ? TypedComment : -1; }
    void listHeld(std::vector<HeldData> &out) const override
    {
        out.push_back({this, std::size_t(mBefore.size() + mAfter.size()) * sizeof(QChar)});
    }
    HistoryStep *clone() const override { return new CommentStep(mHistory, mBefore, mAfter, false); }

    bool mergeWith(const QUndoCommand *other) override
    {
        const auto *next = static_cast<const CommentStep *>(other);
        if (next->mSession != mSession)
            return false;
        mAfter = next->mAfter;
        return true;
    }

    void redo() override
    {
        if (std::exchange(mSkipRedo, false))
            return;
        mHistory.applyComment(mAfter);
    }
    void undo() override { mHistory.applyComment(mBefore); }

private:
    UndoHistory &mHistory;
    QString mBefore, mAfter;
    bool mMergeable;
    int mSession;
};

} // namespace

// --- snapshots and changes -------------------------------------------------------------------------

DocumentSnapshot DocumentSnapshot::of(const doc::TGIFImage *document)
{
    DocumentSnapshot s;
    if (!document)
        return s;
    s.exists = true;
    s.header = document->header;
    s.transparentDrawing = document->transparentDrawing;
    s.reduction = document->reduction;
    s.frames.reserve(std::size_t(document->count()));
    for (int i = 0; i < document->count(); ++i)
        s.frames.push_back(document->frame(i));
    return s;
}

bool sameFrame(const doc::TGIFSubImage &a, const doc::TGIFSubImage &b)
{
    if (a.left != b.left || a.top != b.top || a.width != b.width || a.height != b.height
        || a.interlaced != b.interlaced || a.pixelIdentity() != b.pixelIdentity() || a.ownPicture() != b.ownPicture()
        || a.extensionCount() != b.extensionCount() || graphicControlIndex(a) != graphicControlIndex(b)
        || !(a.colorMap() == b.colorMap()))
        return false;
    for (int i = 0; i < a.extensionCount(); ++i)
        if (!sameExtension(*a.extension(i), *b.extension(i)))
            return false;
    return true;
}

DocumentChange DocumentChange::between(DocumentSnapshot before, const doc::TGIFImage *after)
{
    DocumentChange c;
    c.existedBefore = before.exists;
    c.existsAfter = after != nullptr;
    const doc::TGIFHeader noHeader;
    const doc::TGIFHeader &ha = after ? after->header : noHeader;
    if (!sameHeader(before.header, ha)) {
        c.headerBefore = before.header;
        c.headerAfter = ha;
    }
    c.drawingBefore = before.transparentDrawing;
    c.drawingAfter = after ? after->transparentDrawing : true;
    c.reductionBefore = before.reduction;
    c.reductionAfter = after ? after->reduction : doc::ColorReduction::WebSafeCube;

    std::vector<doc::TGIFSubImage> &b = before.frames;
    const int nb = int(b.size());
    const int na = after ? after->count() : 0;
    const int shortest = std::min(nb, na);
    int p = 0;
    while (p < shortest && sameFrame(b[std::size_t(p)], after->frame(p)))
        ++p;
    int s = 0;
    while (s < shortest - p && sameFrame(b[std::size_t(nb - 1 - s)], after->frame(na - 1 - s)))
        ++s;
    auto kept = [](doc::TGIFSubImage f) {
        f.dropDecoded(); // a step keeps the frame's own data, not what decoding it gave
        return f;
    };
    if (nb == na) {
        for (int i = p; i < nb - s; ++i)
            if (!sameFrame(b[std::size_t(i)], after->frame(i)))
                c.hunks.push_back({i, {kept(std::move(b[std::size_t(i)]))}, {kept(after->frame(i))}});
    } else {
        FrameHunk h{p, {}, {}};
        for (int i = p; i < nb - s; ++i)
            h.before.push_back(kept(std::move(b[std::size_t(i)])));
        for (int i = p; i < na - s; ++i)
            h.after.push_back(kept(after->frame(i)));
        c.hunks.push_back(std::move(h));
    }
    c.focus = c.hunks.empty() ? 0 : c.hunks.front().at;
    return c;
}

bool DocumentChange::empty() const
{
    return hunks.empty() && existedBefore == existsAfter && !headerBefore && drawingBefore == drawingAfter
           && reductionBefore == reductionAfter;
}

void DocumentChange::listHeld(std::vector<HeldData> &out) const
{
    for (const FrameHunk &h : hunks) {
        app::listHeld(h.before, out);
        app::listHeld(h.after, out);
    }
}

void DocumentChange::apply(std::unique_ptr<doc::TGIFImage> &document, bool forward) const
{
    if (!(forward ? existsAfter : existedBefore)) {
        document.reset();
        return;
    }
    if (!document)
        document = std::make_unique<doc::TGIFImage>();
    if (headerBefore)
        document->header = forward ? *headerAfter : *headerBefore;
    document->transparentDrawing = forward ? drawingAfter : drawingBefore;
    document->reduction = forward ? reductionAfter : reductionBefore;
    // From the last hunk back, so that the positions of the earlier ones still hold.
    for (auto h = hunks.rbegin(); h != hunks.rend(); ++h) {
        const auto &out = forward ? h->before : h->after;
        const auto &in = forward ? h->after : h->before;
        for (std::size_t k = 0; k < out.size(); ++k)
            document->deleteFrame(h->at);
        for (std::size_t k = 0; k < in.size(); ++k) {
            document->appendFrame(in[k]);
            document->move(document->count() - 1, h->at + int(k));
        }
    }
}

// --- the history ---------------------------------------------------------------------------------

UndoHistory::UndoHistory(std::unique_ptr<doc::TGIFImage> &document, Hooks hooks, QObject *parent)
    : QObject(parent)
    , mDocument(document)
    , mHooks(std::move(hooks))
{
    connect(&mStack, &QUndoStack::indexChanged, this, [this] {
        if (!mRebuilding && mHooks.setModified)
            mHooks.setModified(!mStack.isClean());
    });
}

UndoHistory::~UndoHistory()
{
    // The stack clears itself as it goes; the window it would tell is being destroyed.
    mStack.disconnect();
}

void UndoHistory::setByteLimit(std::size_t bytes)
{
    mByteLimit = bytes;
    trim();
}

std::vector<std::size_t> UndoHistory::stepBytes() const
{
    // Newest first, each piece of data counted once, and none that the document holds itself.
    std::unordered_set<const void *> seen{nullptr};
    if (mDocument) {
        for (int i = 0; i < mDocument->count(); ++i) {
            seen.insert(mDocument->frame(i).pixelIdentity());
            seen.insert(mDocument->frame(i).ownPicture());
        }
    }
    std::vector<std::size_t> bytes(std::size_t(mStack.count()), 0);
    std::vector<HeldData> held;
    for (int i = mStack.count() - 1; i >= 0; --i) {
        held.clear();
        static_cast<const HistoryStep *>(mStack.command(i))->listHeld(held);
        for (const HeldData &d : held)
            if (seen.insert(d.owner).second)
                bytes[std::size_t(i)] += d.bytes;
    }
    return bytes;
}

std::size_t UndoHistory::heldBytes() const
{
    std::size_t total = 0;
    for (std::size_t b : stepBytes())
        total += b;
    return total;
}

void UndoHistory::clear()
{
    mStack.clear();
    ++mSession;
}

void UndoHistory::markClean()
{
    if (!mRebuilding)
        mStack.setClean();
}

void UndoHistory::commentTyped(const QString &text)
{
    if (mApplying || text == mComment)
        return;
    push(new CommentStep(*this, mComment, text, true));
    mComment = text;
}

void UndoHistory::applyChange(const DocumentChange &change, bool forward)
{
    mApplying = true;
    ++mSession;
    if (mHooks.release)
        mHooks.release();
    change.apply(mDocument, forward);
    if (mHooks.refresh)
        mHooks.refresh(change.focus);
    mApplying = false;
}

void UndoHistory::applyComment(const QString &text)
{
    mApplying = true;
    ++mSession;
    mComment = text;
    if (mHooks.setComment)
        mHooks.setComment(text);
    mApplying = false;
}

void UndoHistory::push(QUndoCommand *step)
{
    mStack.push(step);
    trim();
}

void UndoHistory::trim()
{
    const int n = mStack.index();
    if (n != mStack.count() || n < 2)
        return; // only right after a push (nothing to redo), and the newest step always stays
    const std::vector<std::size_t> sizes = stepBytes();
    std::size_t total = 0;
    int dropped = 0;
    for (int i = n - 1; i >= 0; --i) {
        total += sizes[std::size_t(i)];
        if (total > mByteLimit && i < n - 1) {
            dropped = i + 1;
            break;
        }
    }
    if (dropped == 0)
        return;

    // QUndoStack cannot drop its oldest steps alone: it is filled again with the newer ones.
    std::vector<HistoryStep *> kept;
    for (int i = dropped; i < n; ++i)
        kept.push_back(static_cast<const HistoryStep *>(mStack.command(i))->clone());
    const int clean = mStack.cleanIndex();
    mRebuilding = true;
    mStack.clear();
    for (int i = 0; i < int(kept.size()); ++i) {
        if (clean - dropped == i)
            mStack.setClean();
        mStack.push(kept[std::size_t(i)]);
    }
    if (clean - dropped == int(kept.size()))
        mStack.setClean();
    else if (clean < dropped)
        mStack.resetClean(); // the saved state is no longer reachable
    mRebuilding = false;
}

// --- scopes --------------------------------------------------------------------------------------

UndoScope::UndoScope(UndoHistory &history, QString name, Merge merge)
    : mHistory(history)
    , mName(std::move(name))
    , mMerge(merge)
{
    if (history.mApplying)
        return;
    mCounted = true;
    if (history.mDepth++ > 0)
        return;
    mRecording = true;
    mBefore = DocumentSnapshot::of(history.mDocument.get());
}

UndoScope::~UndoScope()
{
    if (!mCounted)
        return;
    --mHistory.mDepth;
    if (!mRecording)
        return;
    auto change = std::make_shared<DocumentChange>(DocumentChange::between(std::move(*mBefore), mHistory.mDocument.get()));
    if (change->empty())
        return;
    if (mMerge == Merge::None)
        mHistory.endEditSession();
    mHistory.push(new FrameStep(mHistory, std::move(change), mName, mMerge == Merge::Typing));
    if (mMerge == Merge::None)
        mHistory.endEditSession();
}

} // namespace app
