#pragma once

#include "transitions.h"

#include "document/gif_image.h"

namespace effects {

struct GenerationResult {
    /** Frames put into the document. */
    int inserted = 0;
    /** False when the generation stopped early; what was inserted before stays. */
    bool completed = false;
};

/**
 * Runs an effect in front of frame k: each generated picture is reduced to 256 colours (octree,
 * nearest colour) and inserted at index k with the effect's delay, so the document holds them in
 * the reverse of their generation order, followed by the formerly selected frame. Any failure ends
 * the run silently at that frame. With k outside the document nothing is generated. Pictures are
 * reduced on a few threads while the next ones are generated; they go in strictly in order.
 */
GenerationResult generateFrames(doc::TGIFImage &document, int k, Effect effect, const EffectInput &input,
                                const EffectSettings &settings);

/** The pictures an effect reads for frame k of a document, the current picture being `current`. */
EffectInput inputFor(const doc::TGIFImage &document, int k, doc::Picture current, int viewWidth, int viewHeight);

} // namespace effects
