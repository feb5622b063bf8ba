#pragma once

#include "gif_image.h"
#include "picture.h"

#include <string>
#include <vector>

namespace doc {

/**
 * Appends the picture as the last frame after reducing it to 256 colours (octree, nearest colour).
 * The new frame sits at (0, 0), is interlaced and gets a graphic control extension with the delay
 * (modulo 65536), disposal 2 and the index of the picture's transparent colour, transparency off.
 */
TGIFSubImage &AddImage(TGIFImage &document, Picture picture, long long delay);

/**
 * Appends an already reduced picture as a new frame like AddImage, then moves it to `position`
 * when that is before the new frame. A picture that is not indexed is reduced with the
 * document's own `reduction` setting first.
 */
TGIFSubImage &InsertImage(TGIFImage &document, Picture picture, long long delay, int position);

/** The number of the next frame-list entry for a list of `entryCount` entries: "001", "010", "100". */
std::string NextIndex(int entryCount);

/**
 * The looping extension, which lives first in the first frame's list; one (loop count 0) is put
 * there when missing. nullptr when there is no document or it has no frames.
 */
TGIFAppExtNSLoop *LoopExtension(TGIFImage *document);

/** Position of the first comment extension of the first frame, appending an empty one when missing. */
int CommentIndex(TGIFImage &document);

/** Gives every frame without a primary graphic control extension a new one (all fields 0). */
void EnsureControlExtensions(TGIFImage &document);

/**
 * Makes frame i transparent where its pixel (x, y) is: its primary graphic control extension
 * (added when missing) gets the transparency flag and that pixel's index, so that the colour a
 * user picks on the frame is transparent in the saved file too. False, changing nothing, when the
 * point is outside the frame or the frame has no pixels.
 */
bool makeTransparentAt(TGIFImage &document, int i, int x, int y);

} // namespace doc

namespace doc {

/** The lines the comment field shows: those of every comment extension of the first frame, in order. */
std::vector<std::string> commentLines(const TGIFImage &document);

/**
 * Makes `lines` the lines of the first frame's first comment extension (created when missing);
 * other comment extensions keep theirs. Does nothing to a document without frames.
 */
void storeCommentLines(TGIFImage &document, std::vector<std::string> lines);

/** Splits a text at its line breaks (CR LF, LF or CR), as a multi-line text field holds it. */
std::vector<std::string> splitLines(const std::string &text);

/** Joins lines with LF, as a multi-line text field shows them. */
std::string joinLines(const std::vector<std::string> &lines);

// Comment bytes carry no encoding of their own. Older files hold Latin-1, newer ones often UTF-8;
// UTF-8 text beyond ASCII is very unlikely to be Latin-1 by chance, so its validity decides.

/** Whether comment lines read as UTF-8: their bytes are valid UTF-8 with characters beyond ASCII. */
bool commentIsUtf8(const std::vector<std::string> &lines);

/**
 * Comment lines as UTF-8 text, read as UTF-8 or Latin-1 (see commentIsUtf8). A character that a
 * writer cut between two data sub-blocks, so two lines, is read whole at the start of the second.
 */
std::vector<std::string> commentToUtf8(const std::vector<std::string> &lines);

/**
 * UTF-8 text lines to the bytes a comment stores: Latin-1 when every character fits and `keepUtf8`
 * is false, UTF-8 otherwise. Lines that are not valid UTF-8 are taken as bytes already.
 */
std::vector<std::string> commentFromUtf8(const std::vector<std::string> &lines, bool keepUtf8 = false);

/** The comment as the comment field shows it: the first frame's comment lines as UTF-8, joined by LF. */
std::string commentText(const TGIFImage &document);

/**
 * Stores the comment field's UTF-8 text as the first frame's comment (see storeCommentLines),
 * split at its line breaks. A comment that was read as UTF-8 stays UTF-8, so that files keep
 * their encoding; otherwise as commentFromUtf8 picks.
 */
void storeCommentText(TGIFImage &document, const std::string &text);

} // namespace doc
