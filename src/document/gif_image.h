#pragma once

#include "frame_pixels.h"
#include "frame_store.h"
#include "picture.h"
#include "picture_cache.h"

#include <array>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace doc {

/** A GIF colour table. Holds 0 to 256 entries; `sorted` is the flag of the packed byte. */
struct TGIFColorMap {
    std::vector<Rgb> entries;
    bool sorted = false;

    int count() const { return int(entries.size()); }
    bool empty() const { return entries.empty(); }
    /** Smallest b >= 1 with 2^b >= count, 0 for an empty table (the width written to the file). */
    int bitSize() const;
    void clear()
    {
        entries.clear();
        sorted = false;
    }
    friend bool operator==(const TGIFColorMap &, const TGIFColorMap &) = default;
};

enum class ExtensionKind { GraphicControl, Comment, Text, Loop, UnknownApplication };

/** One extension record of a frame, written before the frame's image in list order. */
class TGIFExtension
{
public:
    virtual ~TGIFExtension() = default;
    virtual ExtensionKind kind() const = 0;
    /** GIF label: 0xF9, 0xFE, 0x01 or 0xFF. */
    virtual uint8_t label() const = 0;
    virtual std::unique_ptr<TGIFExtension> clone() const = 0;
};

template<typename Self, ExtensionKind Kind, uint8_t Label>
class ExtensionBase : public TGIFExtension
{
public:
    static constexpr ExtensionKind staticKind = Kind;
    ExtensionKind kind() const override { return Kind; }
    uint8_t label() const override { return Label; }
    std::unique_ptr<TGIFExtension> clone() const override
    {
        return std::make_unique<Self>(static_cast<const Self &>(*this));
    }
};

class TGIFGraphicControlExtension
    : public ExtensionBase<TGIFGraphicControlExtension, ExtensionKind::GraphicControl, 0xF9>
{
public:
    uint8_t blockSize = 4;
    /** Bits 2-4 disposal, bit 1 user input, bit 0 transparency; bits 5-7 kept as read. */
    uint8_t packed = 0;
    uint16_t delay = 0;
    uint8_t transparentIndex = 0;

    int disposal() const { return (packed >> 2) & 7; }
    void setDisposal(int d) { packed = uint8_t((packed & ~0x1C) | ((d & 7) << 2)); }
    bool userInput() const { return packed & 2; }
    void setUserInput(bool on) { packed = uint8_t(on ? packed | 2 : packed & ~2); }
    bool transparent() const { return packed & 1; }
    void setTransparent(bool on) { packed = uint8_t(on ? packed | 1 : packed & ~1); }
};

class TGIFCommentExtension : public ExtensionBase<TGIFCommentExtension, ExtensionKind::Comment, 0xFE>
{
public:
    std::vector<std::string> lines;
};

class TGIFTextExtension : public ExtensionBase<TGIFTextExtension, ExtensionKind::Text, 0x01>
{
public:
    /** Block size 12 and the 12 bytes of fields, as read. */
    std::array<uint8_t, 13> header{12};
    std::vector<std::string> lines;
};

/** The looping extension, "NETSCAPE2.0" (or "ANIMEXTS1.0" as read). */
class TGIFAppExtNSLoop : public ExtensionBase<TGIFAppExtNSLoop, ExtensionKind::Loop, 0xFF>
{
public:
    std::string identifier = "NETSCAPE2.0";
    /** 0 repeats forever, N stops after N iterations. */
    uint16_t loops = 0;
    /** 0 when absent. */
    uint32_t bufferSize = 0;
};

/** An application extension this program does not interpret, kept as it stands. */
class TGIFUnknownAppExtension
    : public ExtensionBase<TGIFUnknownAppExtension, ExtensionKind::UnknownApplication, 0xFF>
{
public:
    /** The identifier bytes as read: 11, or 10 for a block size of 10. */
    std::string identifier;
    std::vector<std::vector<uint8_t>> subBlocks;
};

/** Returns the extension as T when it is of that kind, otherwise nullptr. */
template<typename T>
T *extension_cast(TGIFExtension *e)
{
    return e && e->kind() == T::staticKind ? static_cast<T *>(e) : nullptr;
}
template<typename T>
const T *extension_cast(const TGIFExtension *e)
{
    return e && e->kind() == T::staticKind ? static_cast<const T *>(e) : nullptr;
}

/**
 * A frame's indices detached from the frame: unchanging whatever later happens to the frame or its
 * document, so another thread may read them (playback composes ahead on a worker).
 */
class PixelSource
{
public:
    PixelSource() = default;
    /**
     * The rows, or nullptr without an image. Rows the frame cache dropped are decoded again, and
     * kept in the cache when `keep` is set; otherwise for the caller alone (a pass over more
     * frames than the cache holds would only push out what it holds).
     */
    std::shared_ptr<const FramePixels> rows(bool keep = true) const
    {
        if (!mSlot)
            return mRows;
        return keep ? mSlot->rows() : mSlot->passRows();
    }

private:
    friend class TGIFSubImage;
    std::shared_ptr<PixelSlot> mSlot;
    std::shared_ptr<const FramePixels> mRows;
};

/**
 * One frame: its rectangle on the logical screen, colour table, pixel indices and extensions.
 * Its picture is derived from the indices on first use (see TGIFImage::picture).
 */
class TGIFSubImage
{
public:
    TGIFSubImage() = default;
    TGIFSubImage(const TGIFSubImage &other);
    TGIFSubImage &operator=(const TGIFSubImage &other);
    TGIFSubImage(TGIFSubImage &&) = default;
    TGIFSubImage &operator=(TGIFSubImage &&) = default;

    uint16_t left = 0;
    uint16_t top = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    bool interlaced = false;

    const TGIFColorMap &colorMap() const { return mColorMap; }
    /** The local table for changing; the cached picture is dropped. */
    TGIFColorMap &mutableColorMap();
    void setColorMap(TGIFColorMap map);

    /**
     * width × height indices, rows from the top; empty for a frame without an image. Made from the
     * frame's pixel store on first use and kept until the pixels change: engine code that must not
     * cost the announced size of a frame reads pixelStore() instead.
     */
    const std::vector<uint8_t> &pixels() const;
    /** The indices for changing; the cached picture is dropped. */
    std::vector<uint8_t> &mutablePixels();
    void setPixels(std::vector<uint8_t> pixels);
    bool hasPixels() const;

    /**
     * The indices as rows (runs of one value held as such), or nullptr when the frame has no image
     * or fewer indices than its rectangle needs. Shared and unchanging: later edits of the frame
     * make a new store.
     */
    std::shared_ptr<const FramePixels> pixelStore() const;
    /** As pixelStore, for one pass over many frames: rows decoded for it are not kept (PixelSlot::passRows). */
    std::shared_ptr<const FramePixels> passPixelStore() const;
    /** Whether pixelStore() has rows for the whole rectangle, without decoding them. */
    bool pixelsCoverFrame() const;
    /** Replaces the indices; the cached picture is dropped. width and height are set to the store's. */
    void setPixelStore(FramePixels pixels);
    /** Replaces the indices by LZW codes, decoded when they are needed; width and height follow. */
    void setPixelCodes(CompressedPixels codes);
    /** Replaces the indices by those of a slot (shared with whoever else holds it). */
    void setPixelSlot(std::shared_ptr<PixelSlot> slot);
    /** The indices as LZW codes when the frame holds them so, else nullptr. */
    std::shared_ptr<const CompressedPixels> pixelCodes() const;
    /**
     * The indices for a reader on another thread; a short index buffer gives the rows it holds.
     * Taken on the thread that owns the document; reading it afterwards needs no lock.
     */
    PixelSource pixelSource() const;

    // Extension list, in the order written.
    int extensionCount() const { return int(mExtensions.size()); }
    TGIFExtension *extension(int i) const { return mExtensions[std::size_t(i)].get(); }
    TGIFExtension *appendExtension(std::unique_ptr<TGIFExtension> e);
    TGIFExtension *insertExtension(int position, std::unique_ptr<TGIFExtension> e);
    /** Removes extension i; clears the primary graphic control reference when it was that one. */
    void removeExtension(int i);
    void clearExtensions();

    /** The graphic control extension that delay, disposal and transparency commands use. */
    TGIFGraphicControlExtension *graphicControl() const { return mGraphicControl; }
    /** Appends a new graphic control extension (every field 0) and makes it primary when there is none. */
    TGIFGraphicControlExtension *addGraphicControl();
    /** Makes an extension of this frame's list the primary one (nullptr for none). */
    void setGraphicControl(TGIFGraphicControlExtension *gce) { mGraphicControl = gce; }

    bool transparent() const { return mGraphicControl && mGraphicControl->transparent(); }

    // Cached picture; see TGIFImage::picture.
    void invalidatePicture() const;
    /** Replaces what the views show for this frame; indices and table stay as they were. */
    void setPicture(Picture picture);

    // For keeping frames aside (undo): what makes two copies of a frame the same frame.
    /** The object holding the indices, shared by copies until one of them changes its pixels. */
    const void *pixelIdentity() const { return mDenseOwned ? static_cast<const void *>(mDense.get()) : mSlot.get(); }
    /** The picture set through setPicture, nullptr when the picture is only decoded from the indices. */
    const Picture *ownPicture() const { return mPicture ? mPicture->pinnedPicture() : nullptr; }
    /** Drops what can be decoded again (flat indices made from the slot, decoded picture, mask). */
    void dropDecoded() const;
    /** Memory the frame's own data holds: pixels (codes when compressed, none once spilled) and a set picture. */
    std::size_t heldBytes() const;

private:
    friend class TGIFImage;
    std::shared_ptr<const FramePixels> pixelStore(bool pass) const;

    TGIFColorMap mColorMap;
    // The indices: mSlot is what they are unless mDenseOwned, when the flat vector (set or
    // changed through the vector API) is; the other one is made from it on demand.
    mutable std::shared_ptr<PixelSlot> mSlot;
    mutable std::shared_ptr<const std::vector<uint8_t>> mDense;
    bool mDenseOwned = false;
    std::vector<std::unique_ptr<TGIFExtension>> mExtensions;
    TGIFGraphicControlExtension *mGraphicControl = nullptr;

    // Set by setPicture (kept), or made from the indices and held through the cache of pictures;
    // copies of the frame share it.
    mutable std::shared_ptr<PictureCell> mPicture;
    mutable std::shared_ptr<const std::vector<uint8_t>> mMask;
};

/** The logical screen descriptor and the global colour table. */
struct TGIFHeader {
    std::array<char, 3> version{'8', '9', 'a'};
    uint16_t width = 0;
    uint16_t height = 0;
    /** As read; the writer computes its own. */
    uint8_t packed = 0;
    uint8_t background = 0;
    uint8_t aspect = 0;
    TGIFColorMap colorMap;
};

enum class ColorReduction { OctreeQuantize, GrayScale, WebSafeCube };

enum class ProgressStage { Starting, Running, Ending };

/** The animation document: a GIF image in memory. */
class TGIFImage
{
public:
    using ProgressHandler = std::function<void(ProgressStage, const std::string &message, int percent)>;
    using WarningHandler = std::function<void(const std::string &warning)>;

    TGIFImage() = default;
    /** A deep copy: frames, tables, extensions and settings. */
    TGIFImage(const TGIFImage &other);
    TGIFImage &operator=(const TGIFImage &other);
    TGIFImage(TGIFImage &&) = default;
    TGIFImage &operator=(TGIFImage &&) = default;

    TGIFHeader header;
    /** Whether the views draw the document with its transparency. */
    bool transparentDrawing = true;
    /** How a picture deeper than 8 bits handed to InsertImage is reduced. */
    ColorReduction reduction = ColorReduction::WebSafeCube;

    ProgressHandler onProgress;
    WarningHandler onWarning;

    int count() const { return int(mFrames.size()); }
    bool empty() const { return mFrames.empty(); }
    TGIFSubImage &frame(int i) { return *mFrames[std::size_t(i)]; }
    const TGIFSubImage &frame(int i) const { return *mFrames[std::size_t(i)]; }

    TGIFSubImage &appendFrame(TGIFSubImage frame);
    /** Destroys frame i. */
    void deleteFrame(int i);
    void exchange(int i, int j);
    /** Moves frame `from` to position `to`; the frames between shift by one. */
    void move(int from, int to);
    void clear();

    /**
     * Frame i decoded to an 8-bit picture of the frame's own size, with the frame's local table or
     * the global one. Made on first use and kept until the frame's pixels, size or table change,
     * or until the cache of pictures needs the room (picture_cache.h): the reference stays valid
     * while the frame is unchanged and fewer than kPicturesAlwaysKept other pictures are asked for.
     */
    const Picture &picture(int i) const;
    /**
     * The transparency mask of frame i's picture: 1 bit a pixel, most significant bit first, rows
     * padded to a multiple of 16 bits, set where the index is the transparent one. Empty when the
     * frame is not transparent.
     */
    const std::vector<uint8_t> &mask(int i) const;
    static int maskStride(int width) { return (width + 15) / 16 * 2; }

    /** Reads GIF data from the stream, replacing this document (see gif_reader.cpp). */
    void LoadFromStream(std::istream &stream);
    /** Writes the document as a GIF file (see gif_writer.cpp). */
    void SaveToStream(std::ostream &stream) const;

    void progress(ProgressStage stage, const std::string &message, int percent) const
    {
        if (onProgress)
            onProgress(stage, message, percent);
    }
    void warning(const std::string &text) const
    {
        if (onWarning)
            onWarning(text);
    }

private:
    std::vector<std::unique_ptr<TGIFSubImage>> mFrames;
};

/**
 * One job's progress on a document: Starting at 0 when made, Ending at 100 when it goes out of
 * scope, on failure too, so that whoever shows the progress always puts it away.
 */
class ProgressScope
{
public:
    ProgressScope(const TGIFImage &image, std::string message)
        : mImage(image)
        , mMessage(std::move(message))
    {
        mImage.progress(ProgressStage::Starting, mMessage, 0);
    }
    ~ProgressScope() { mImage.progress(ProgressStage::Ending, mMessage, 100); }
    ProgressScope(const ProgressScope &) = delete;
    ProgressScope &operator=(const ProgressScope &) = delete;

    void running(int percent) const { mImage.progress(ProgressStage::Running, mMessage, percent); }

private:
    const TGIFImage &mImage;
    std::string mMessage;
};

} // namespace doc
