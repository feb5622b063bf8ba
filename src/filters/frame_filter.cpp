#include "frame_filter.h"

#include "pixel_filters.h"
#include "transforms.h"

#include "document/quantize.h"

#include <array>
#include <optional>
#include <stdexcept>

namespace filters {

using doc::Picture;

namespace {

constexpr std::array<FrameFilterInfo, 9> kFilters{{
    {FrameFilter::Blur, "blur", true},
    {FrameFilter::Gaussian, "gaussian", true},
    {FrameFilter::Monochrome, "mono", false},
    {FrameFilter::GrayLevels, "grey", false},
    {FrameFilter::Sharpen, "sharpen", true},
    {FrameFilter::Invert, "invert", false},
    {FrameFilter::FlipVertical, "flip-v", false},
    {FrameFilter::FlipHorizontal, "flip-h", false},
    {FrameFilter::HalfTurn, "half-turn", false},
}};

bool isGeometric(FrameFilter f)
{
    return f == FrameFilter::FlipVertical || f == FrameFilter::FlipHorizontal || f == FrameFilter::HalfTurn;
}

Picture transform(FrameFilter f, const Picture &picture)
{
    switch (f) {
    case FrameFilter::FlipVertical:
        return FlipVertical(picture);
    case FrameFilter::FlipHorizontal:
        return FlipHorizontal(picture);
    default:
        return RotatePicture(picture, 180);
    }
}

} // namespace

std::span<const FrameFilterInfo> frameFilters()
{
    return kFilters;
}

std::optional<FrameFilter> frameFilterByName(std::string_view name)
{
    for (const FrameFilterInfo &f : kFilters)
        if (f.name == name)
            return f.filter;
    return std::nullopt;
}

Picture applyFilter(FrameFilter filter, const Picture &current, int viewWidth, int viewHeight)
{
    switch (filter) {
    case FrameFilter::Invert: {
        Picture out = current;
        InvertColors(out, viewWidth, viewHeight);
        return out;
    }
    case FrameFilter::Monochrome:
        return Monochrome(current);
    case FrameFilter::GrayLevels:
        return GrayLevels(current);
    case FrameFilter::Blur:
        return FilterPicture(current, Kernel::Blur);
    case FrameFilter::Gaussian:
        return FilterPicture(current, Kernel::Gaussian);
    case FrameFilter::Sharpen:
        return FilterPicture(current, Kernel::Sharpen);
    case FrameFilter::FlipVertical:
    case FrameFilter::FlipHorizontal:
    case FrameFilter::HalfTurn:
        // The transforms work on 32-bit copies, and their result stays 32-bit.
        return transform(filter, current.toRgba32());
    }
    return current;
}

void writeBack(doc::TGIFImage &document, int index, FrameFilter filter, const Picture &result)
{
    doc::TGIFSubImage &frame = document.frame(index);
    if (result.width() != frame.width || result.height() != frame.height)
        throw std::invalid_argument("filtered picture and frame differ in size");

    // Everything is made first and then swapped in, so a failure leaves the frame as it was.
    std::optional<doc::TGIFColorMap> table;
    std::vector<uint8_t> pixels;
    if (isGeometric(filter)) {
        // Only pixels move: the frame's indices move with them and its table stays. The frame's
        // picture may be an earlier filter's true-colour result: decode the indices afresh.
        frame.invalidatePicture();
        pixels = std::move(transform(filter, document.picture(index)).data());
    } else if (result.isIndexed()) {
        const doc::TGIFColorMap &own = frame.colorMap().empty() ? document.header.colorMap : frame.colorMap();
        if (result.palette() != own.entries) {
            table.emplace();
            table->entries = result.palette();
            // Every frame of the editor has 256 entries; indices past a short table read as black.
            table->entries.resize(256, doc::Rgb{});
        }
        pixels = result.data();
    } else {
        Picture work = result;
        Picture reduced =
            doc::ReduceBitmapColors(work, doc::ReductionMode::OctreeQuantize, doc::DitherMode::NearestColor, 8);
        table.emplace();
        table->entries = std::move(reduced.palette());
        pixels = std::move(reduced.data());
    }
    Picture shown = result;
    if (table)
        frame.setColorMap(std::move(*table));
    frame.setPixels(std::move(pixels));
    // Last: changing the data drops the frame's picture.
    frame.setPicture(std::move(shown));
}

} // namespace filters
