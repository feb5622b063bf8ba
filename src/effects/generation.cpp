#include "generation.h"

#include "document/document_ops.h"
#include "document/quantize.h"

#include <algorithm>
#include <deque>
#include <future>
#include <thread>

namespace effects {

using doc::Picture;

GenerationResult generateFrames(doc::TGIFImage &document, int k, Effect effect, const EffectInput &input,
                                const EffectSettings &settings)
{
    GenerationResult result;
    if (k < 0 || k >= document.count())
        return result;

    const long long delay = effectDelay(effect);
    const std::size_t workers = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4);
    std::deque<std::future<Picture>> pending;
    bool failed = false;

    // Reduction may fail too; the frames after a failed one are dropped, as if made one by one.
    auto insertOldest = [&] {
        std::future<Picture> next = std::move(pending.front());
        pending.pop_front();
        try {
            doc::InsertImage(document, next.get(), delay, k);
            ++result.inserted;
        } catch (...) {
            failed = true;
            pending.clear();
            throw;
        }
    };

    try {
        generate(effect, input, settings, [&](Picture picture) {
            pending.push_back(std::async(std::launch::async, [picture = std::move(picture)]() mutable {
                return doc::ReduceBitmapColors(picture, doc::ReductionMode::OctreeQuantize,
                                               doc::DitherMode::NearestColor, 8);
            }));
            while (pending.size() > workers)
                insertOldest();
        });
    } catch (...) {
        failed = true;
    }
    // Whatever was generated before a failure still goes in, unless its own insertion failed.
    try {
        while (!pending.empty())
            insertOldest();
    } catch (...) {
    }
    result.completed = !failed;
    return result;
}

EffectInput inputFor(const doc::TGIFImage &document, int k, Picture current, int viewWidth, int viewHeight)
{
    EffectInput input;
    input.current = std::move(current);
    input.screenWidth = document.header.width;
    input.screenHeight = document.header.height;
    input.viewWidth = viewWidth;
    input.viewHeight = viewHeight;
    if (k >= 0 && k < document.count()) {
        input.frame = document.picture(k);
        input.width = document.frame(k).width;
        input.height = document.frame(k).height;
        if (k > 0)
            input.previous = document.picture(k - 1);
    }
    return input;
}

} // namespace effects
