#include "picture_formats.h"

#include "decoders.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <new>

namespace doc::formats {

std::vector<Rgb> greyPalette(int entries)
{
    std::vector<Rgb> p(static_cast<std::size_t>(entries));
    for (int i = 0; i < entries; ++i) {
        const auto v = uint8_t(entries > 1 ? i * 255 / (entries - 1) : 0);
        p[std::size_t(i)] = {v, v, v};
    }
    return p;
}

namespace {

bool startsWith(std::span<const uint8_t> b, std::size_t at, std::string_view sig)
{
    return b.size() >= at + sig.size() && std::memcmp(b.data() + at, sig.data(), sig.size()) == 0;
}

// A .dib is usually a whole BMP file; a bare BITMAPINFOHEADER without the file header is the other kind.
Picture decodeDib(std::span<const uint8_t> b)
{
    return startsWith(b, 0, "BM") ? decodeBmp(b) : decodeWithMagick(b, "DIB");
}

Picture decodeTiff(std::span<const uint8_t> b)
{
    return decodeWithMagick(b, "TIFF");
}

// GFI fax files are TIFF; a headerless file is raw Group 3 data.
Picture decodeFax(std::span<const uint8_t> b)
{
    const bool tiff = startsWith(b, 0, "II*") || startsWith(b, 0, "MM\0*");
    return decodeWithMagick(b, tiff ? "TIFF" : "FAX");
}

Picture decodePcx(std::span<const uint8_t> b)
{
    return decodeWithMagick(b, "PCX");
}
Picture decodePnm(std::span<const uint8_t> b)
{
    return decodeWithMagick(b, "PNM");
}
Picture decodeSgi(std::span<const uint8_t> b)
{
    return decodeWithMagick(b, "SGI");
}
Picture decodeWmf(std::span<const uint8_t> b)
{
    return decodeWithMagick(b, "WMF");
}
Picture decodePcd(std::span<const uint8_t> b)
{
    return decodeWithMagick(b, "PCD");
}
Picture decodeCut(std::span<const uint8_t> b)
{
    return decodeWithMagick(b, "CUT");
}

// DOS binary EPS (a PostScript section plus a TIFF or WMF preview) is read by the EPT coder.
Picture decodeEps(std::span<const uint8_t> b)
{
    return decodeWithMagick(b, startsWith(b, 0, "\xC5\xD0\xD3\xC6") ? "EPT" : "EPS");
}

// What the first bytes say. A strong signature overrules the extension; a weak one (a few bytes that
// other formats can also start with) is only used when the extension says nothing or fails.
struct Sniffed {
    std::string_view id;
    bool strong = false;
};

Sniffed sniff(std::span<const uint8_t> b)
{
    if (startsWith(b, 0, "\x89PNG\r\n\x1A\n"))
        return {"png", true};
    if (startsWith(b, 0, "\xFF\xD8\xFF"))
        return {"jpeg", true};
    if (startsWith(b, 0, "GIF87a") || startsWith(b, 0, "GIF89a"))
        return {"gif", true};
    if (startsWith(b, 0, "8BPS"))
        return {"psd", true};
    if (startsWith(b, 0, "Paint Shop Pro Image File\n\x1A"))
        return {"psp", true};
    if (startsWith(b, 0, "II*\0") || startsWith(b, 0, std::string_view("MM\0*", 4)))
        return {"tiff", true};
    if (startsWith(b, 0, "\xC5\xD0\xD3\xC6") || startsWith(b, 0, "%!PS-Adobe"))
        return {"eps", true};
    if (startsWith(b, 0, std::string_view("\x01\0\0\0", 4)) && startsWith(b, 40, " EMF"))
        return {"emf", true};
    if (startsWith(b, 0, "\xD7\xCD\xC6\x9A"))
        return {"wmf", true};
    if (startsWith(b, 2048, "PCD_IPI"))
        return {"pcd", true};
    if (startsWith(b, 0, "BM") && b.size() >= 26)
        return {"bmp", true};
    if (startsWith(b, 0, std::string_view("\0\0\1\0", 4)) && b.size() >= 22)
        return {"ico", false};
    if (startsWith(b, 0, "\x01\xDA"))
        return {"sgi", false};
    if (b.size() >= 3 && b[0] == 'P' && b[1] >= '1' && b[1] <= '6'
        && (b[2] == ' ' || b[2] == '\n' || b[2] == '\r' || b[2] == '\t'))
        return {"pnm", false};
    if (b.size() >= 16 && b[4] == 0x12 && b[5] == 0xAF)
        return {"cel", false};
    if (b.size() >= 32 && b[0] == 0x19 && b[1] == 0x91)
        return {"cel", false};
    return {};
}

const PictureFormat *firstWithId(std::string_view id)
{
    if (id.empty())
        return nullptr;
    for (const PictureFormat &f : pictureFormats())
        if (f.id == id)
            return &f;
    return nullptr;
}

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return out;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && lower(a) == lower(b);
}

} // namespace

const std::vector<PictureFormat> &pictureFormats()
{
    // Order and texts of the add dialog.
    static const std::vector<PictureFormat> formats = {
        {"bmp", {"bmp"}, "Bitmaps Windows", decodeBmp},
        {"bmp", {"rle"}, "Bitmaps Windows (Run length encoded)", decodeBmp},
        {"bmp", {"dib"}, "Bitmaps Windows (Device independant)", decodeDib},
        {"ico", {"ico"}, "Icone Windows", decodeIco},
        {"wmf", {"wmf"}, "Metafiles Windows", decodeWmf},
        {"emf", {"emf"}, "Metafiles Windows améliorés", decodeEmf},
        {"jpeg", {"jpg"}, "Images JPG", decodeJpeg},
        {"jpeg", {"jpeg"}, "Images JPEG", decodeJpeg},
        {"jpeg", {"jpe"}, "Images JPE images", decodeJpeg},
        {"jpeg", {"jfif"}, "Images JFIF images", decodeJpeg},
        {"gif", {"gif"}, "GIF Image", decodeGif},
        {"png", {"png"}, "Images Portable network graphic", decodePng},
        {"tiff", {"tif"}, "Images PC TIF", decodeTiff},
        {"tiff", {"tiff"}, "Images TIFF Macintosh", decodeTiff},
        {"tiff", {"fax"}, "Images GFI fax", decodeFax},
        {"tga", {"tga", "win", "vst", "vda", "icb"}, "Images Truevision", decodeTga},
        {"pcx", {"pcx", "pcc"}, "Images ZSoft Paintbrush", decodePcx},
        {"pcx", {"scr"}, "Capture d'ecrant Word 5.x", decodePcx},
        {"psd", {"psd", "pdd"}, "Images Photoshop", decodePsd},
        {"psp", {"psp"}, "Images Paintshop Pro", decodePsp},
        {"pnm", {"ppm"}, "Images Portable pixel map", decodePnm},
        {"pnm", {"pgm"}, "Images Portable gray map", decodePnm},
        {"pnm", {"pbm"}, "Images Portable bitmap", decodePnm},
        {"sgi", {"sgi", "rgb"}, "Images SGI true color", decodeSgi},
        {"sgi", {"rgba"}, "Images SGI true color avec canal alpha", decodeSgi},
        {"sgi", {"bw"}, "Images SGI noir/blanc", decodeSgi},
        {"rla", {"rla", "rpf"}, "Images Alias/Wavefront", decodeRla},
        {"cel", {"cel", "pic"}, "Images Autodesk", decodeCel},
        {"pcd", {"pcd"}, "Images Kodak Photo-CD", decodePcd},
        {"cut", {"cut"}, "Images Dr. Halo", decodeCut},
        {"eps", {"eps"}, "Images Postscript Encapsulées", decodeEps},
    };
    return formats;
}

const PictureFormat *formatForExtension(std::string_view extension)
{
    if (!extension.empty() && extension.front() == '.')
        extension.remove_prefix(1);
    for (const PictureFormat &f : pictureFormats())
        for (std::string_view e : f.extensions)
            if (equalsIgnoringCase(e, extension))
                return &f;
    return nullptr;
}

const PictureFormat *formatForContent(std::span<const uint8_t> bytes)
{
    return firstWithId(sniff(bytes).id);
}

Picture decodePicture(std::span<const uint8_t> bytes, std::string_view extension)
{
    const PictureFormat *byName = formatForExtension(extension);
    const Sniffed sniffed = sniff(bytes);
    const PictureFormat *byContent = firstWithId(sniffed.id);
    if (!byName && !byContent)
        fail(ImportErrorKind::Unsupported, "unsupported picture format"
                                               + (extension.empty() ? std::string() : " (." + std::string(extension) + ")"));
    // A file whose signature names another format than its extension (a PNG saved as .bmp) is read
    // as what it is; the extension's decoder would only fail or, worse, misread it.
    if (!byName || (byContent && sniffed.strong && byContent->id != byName->id))
        return byContent->decode(bytes);
    try {
        return byName->decode(bytes);
    } catch (const ImportError &first) {
        if (first.kind() == ImportErrorKind::TooLarge || !byContent || byContent->id == byName->id)
            throw;
        try {
            return byContent->decode(bytes);
        } catch (const ImportError &) {
            throw first;
        }
    }
}

Picture readPicture(const std::string &path)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        fail(ImportErrorKind::Unreadable, "cannot open " + path + (ec ? ": " + ec.message() : ": not a file"));
    std::ifstream file(path, std::ios::binary);
    if (!file)
        fail(ImportErrorKind::Unreadable, "cannot open " + path);
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (size < 0)
        fail(ImportErrorKind::Unreadable, "cannot read " + path);
    if (size > kMaxFileBytes)
        fail(ImportErrorKind::TooLarge, path + ": file too large");
    file.seekg(0);
    std::vector<uint8_t> bytes(static_cast<std::size_t>(size));
    if (size > 0 && !file.read(reinterpret_cast<char *>(bytes.data()), size))
        fail(ImportErrorKind::Unreadable, "cannot read " + path);

    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t dot = path.find_last_of('.');
    const std::string_view extension =
        dot == std::string::npos || (slash != std::string::npos && dot < slash) ? std::string_view()
                                                                                : std::string_view(path).substr(dot + 1);
    try {
        return decodePicture(bytes, extension);
    } catch (const ImportError &e) {
        throw ImportError(e.kind(), path + ": " + e.what());
    } catch (const std::bad_alloc &) {
        fail(ImportErrorKind::TooLarge, path + ": not enough memory");
    }
}

std::vector<std::string> addDialogFilters()
{
    std::vector<std::string> entries;
    std::string all;
    for (const PictureFormat &f : pictureFormats())
        for (std::string_view e : f.extensions) {
            const std::string pattern = "*." + std::string(e);
            all += (all.empty() ? "" : " ") + pattern;
            entries.push_back(std::string(f.description) + " (" + pattern + ")");
        }
    entries.insert(entries.begin(), "Tous (" + all + ")");
    return entries;
}

std::string addDialogFilter()
{
    std::string out;
    for (const std::string &e : addDialogFilters())
        out += (out.empty() ? "" : ";;") + e;
    return out;
}

} // namespace doc::formats
