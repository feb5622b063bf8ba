#pragma once

#include "gif_image.h"
#include "picture.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace doc {

/**
 * Composes the frames of a read GIF document into the full pictures a viewer shows, one frame
 * after the other, at the logical screen size.
 *
 * The composer's frames are the document's frames that have an image; a frame that holds only
 * extensions (the comment after the last image, say) draws nothing and shows the picture of the
 * last image before it (see composerIndex).
 *
 * Pixel indices beyond a frame's colour table read as black, like Picture::pixel. Transparency
 * is by index: pixels equal to the frame's transparent index are left out, other pixels of the
 * same colour are drawn. Frames are clipped to the screen.
 *
 * The composer keeps pointers into the document, which must outlive it and stay unchanged.
 */
class FrameComposer
{
public:
    explicit FrameComposer(const TGIFImage &document);

    int width() const { return mWidth; }
    int height() const { return mHeight; }
    /** Number of frames with an image. */
    int count() const { return int(mFrames.size()); }

    /**
     * The composer frame that document frame i shows: the last frame with an image at or
     * before i, or 0 when there is none.
     */
    int composerIndex(int documentFrame) const;

    /**
     * Composer frame i (limited to 0 .. count() - 1) as a viewer shows it: an Rgb24 picture of
     * width() × height(), carrying the fill colour as its designated transparent colour when
     * the first frame is transparent. Consecutive calls build on the previous result.
     * Without any image the picture is the fill colour alone. Throws GifError TooLarge, before
     * allocating, when the canvas and the result would need more than kFlattenBudget.
     */
    Picture ComposedFrame(int i);
    /**
     * As ComposedFrame without the copy: the composer's own canvas, valid until the next call,
     * for a caller that reads each picture once (no designated transparent colour is set on it).
     */
    const Picture &composedCanvas(int i);

    /**
     * The colour of the screen where no frame has drawn: the first frame's transparent colour,
     * else the background colour when there is a global table and some frame is transparent
     * (black when the background index is beyond that table), else the window colour (white).
     */
    Rgb fillColor() const { return mFill; }
    /** Set when the results are transparent pictures (the first frame has a transparent colour). */
    const std::optional<Rgb> &resultTransparentColor() const { return mResultTransparent; }

    /**
     * Keeps, beside the last result, one byte a pixel that is 1 where a frame has drawn and 0
     * where the screen shows the fill colour. Off by default; checkers use it to compare with
     * decoders whose unpainted screen is transparent rather than a colour.
     */
    void setTrackCoverage(bool on);
    const std::vector<uint8_t> &coverage() const { return mCoverage; }

private:
    struct Frame {
        const TGIFSubImage *sub = nullptr; // its rows are fetched when drawn, without filling the frame cache
        const TGIFColorMap *table = nullptr;
        int left = 0;
        int top = 0;
        int width = 0;
        int height = 0;
        int disposal = 0;
        bool transparent = false;
        uint8_t transparentIndex = 0;
    };

    Rgb tableColor(const Frame &f, int index) const;
    int startFrame(int i) const;
    void draw(const Frame &f);
    void fillRect(int left, int top, int width, int height);

    std::vector<Frame> mFrames;
    std::vector<int> mComposerIndex;
    int mWidth = 0;
    int mHeight = 0;
    Rgb mFill{255, 255, 255};
    std::optional<Rgb> mResultTransparent;

    Picture mCanvas;
    int mLast = -1; // composer frame the canvas shows, -1 before the first call
    // The frame drawn last, when nothing has touched the canvas since, and its rows: a frame
    // drawn over it at the same place with the same table leaves the rows they share as they are.
    const Frame *mDrawn = nullptr;
    std::shared_ptr<const FramePixels> mDrawnPixels;
    bool mTrackCoverage = false;
    std::vector<uint8_t> mCoverage;
};

/** Memory the pictures in flight at open may take; a screen that needs more is refused. */
inline constexpr std::size_t kFlattenBudget = std::size_t(1) << 30;

/**
 * Bytes FlattenFrames needs for a screen of width × height with `frames` frames and
 * `inFlight` composed pictures alive at once: W × H × 3 per picture in flight (4 when the
 * pictures are transparent and carry which pixels frames painted) plus W × H indices per
 * flattened frame.
 */
std::size_t flattenBytes(int width, int height, int frames, int inFlight, int bytesPerPixelInFlight = 3);

/**
 * Rebuilds a document just read so that every frame is the full composed picture at that point
 * of the animation, reduced to 256 colours (octree, nearest colour) and placed at (0, 0) with its
 * own table and no interlace. Each new frame carries copies of the extensions of the frame it
 * replaces, in order, with the primary graphic control reference on the copy of the primary.
 * A copied graphic control that is transparent gets an index into the new table that hides
 * nothing of the composed picture but its unpainted pixels (when the pictures are transparent):
 * their entry, painted pixels of the same colour being given a twin entry; else an entry no
 * pixel uses. With no entry to spare its flag is cleared.
 *
 * The document then holds only the new frames; its logical screen keeps its size and loses the
 * global table, background index and aspect byte, as every document the editor builds.
 *
 * Composition runs on the calling thread; reductions run on `workers` threads (0: one per core,
 * at most 4) with a few composed pictures in flight. Progress "Converting..." goes through the
 * document's progress handler, on the calling thread.
 *
 * Throws GifError TooLarge, before allocating, when the work would need more than
 * kFlattenBudget; GifError InvalidDimensions for a zero-size logical screen with frames; and
 * whatever ReduceBitmapColors throws. On failure the document is left as it was.
 *
 * The open command also refuses what the stricter second reading refuses: it runs
 * checkOpenable (gif_reader.h) on the file's bytes before calling this.
 */
void FlattenFrames(TGIFImage &document, int workers = 0);

} // namespace doc
