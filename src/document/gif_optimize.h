#pragma once

#include "gif_image.h"

#include <cstdint>
#include <string>
#include <vector>

namespace doc {

/**
 * The document as the optimised save writes it: a deep copy run through the colour-table sort,
 * the first clean-up, the merge against earlier frames, the crop and the second clean-up, in
 * that order. The document itself is not changed.
 */
TGIFImage optimizedCopy(const TGIFImage &document);

/** Writes optimizedCopy(document) to a file, replacing it only once complete (as saveToFile). */
void saveOptimizedToFile(const TGIFImage &document, const std::string &path);

// The steps, in the order optimizedCopy runs them; each changes the document it is given.

/** Sorts the global and local tables by use (most used first), renumbers and trims them. */
void OptimizeColorMaps(TGIFImage &image);
/** Clears unused transparency and disposals that the next frame paints over anyway. */
void CleanupFirstHalf(TGIFImage &image);
/** Makes each frame transparent where it repeats what its reference frame shows. */
void MergeFrames(TGIFImage &image);
/** Cuts transparent frames to their opaque pixels; drops the frames left empty. */
void CropFrames(TGIFImage &image);
/** Drops comments, foreign and redundant extensions, then frames left with nothing. */
void CleanupSecondHalf(TGIFImage &image);

/**
 * The order the colour-table sort puts entries in, given each entry's use count: element k is
 * the old position of the entry that goes to position k. Most used first; ties fall where this
 * quicksort leaves them.
 */
std::vector<int> usageOrder(const std::vector<uint32_t> &usage);

} // namespace doc
