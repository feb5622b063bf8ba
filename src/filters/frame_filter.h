#pragma once

#include "document/gif_image.h"
#include "document/picture.h"

#include <optional>
#include <span>
#include <string_view>

namespace filters {

/** The commands that change the picture of one frame. */
enum class FrameFilter { Invert, Monochrome, GrayLevels, Blur, Gaussian, Sharpen, FlipVertical, FlipHorizontal, HalfTurn };

struct FrameFilterInfo {
    FrameFilter filter;
    /** The name `movaro-gif-cli filter` knows it by. */
    std::string_view name;
    /** Long enough on a large picture to show the busy cursor. */
    bool slow;
};

/** Every filter, in menu order. */
std::span<const FrameFilterInfo> frameFilters();
std::optional<FrameFilter> frameFilterByName(std::string_view name);

/**
 * The picture the filter makes of `current`. Inversion changes only the view-sized rectangle at
 * the top-left corner; the flips and the half turn give a 32-bit picture.
 */
doc::Picture applyFilter(FrameFilter filter, const doc::Picture &current, int viewWidth, int viewHeight);

/**
 * Makes `result` — what `filter` made of the picture the view showed of frame `index` — the
 * frame's picture, and makes the frame's data follow it, so that a saved file holds what the
 * views show. The flips and the half turn move the frame's indices the same way; an indexed
 * result is stored as it stands (on the frame's own table when it is that table, otherwise on its
 * own table filled up to 256 entries); any other result is reduced to a new 256-entry table
 * (octree, nearest colour). Delay, disposal, transparency and position stay as they were.
 * Throws std::invalid_argument when the result's size is not the frame's.
 */
void writeBack(doc::TGIFImage &document, int index, FrameFilter filter, const doc::Picture &result);

} // namespace filters
