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

} // namespace doc
