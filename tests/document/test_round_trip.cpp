// Every GIF of the corpus that reads is written plainly and read again: the second reading must
// give the same document, minus what the writer documents (rows go out top to bottom with the
// interlace flag cleared, tables are padded with black to a power of two, a graphic control
// extension is written with block size 4 and a plain-text header with block size 12, an empty
// comment or text line writes no sub-block, a frame with neither pixels nor extensions writes
// nothing).

#include "document/gif_error.h"
#include "document/gif_reader.h"
#include "support/corpus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace doc;

/** Why a file that reads cannot be written: the writer's own refusals, which are right. */
bool refusedByTheWriter(const GifError &e)
{
    return e.kind() == GifErrorKind::ColorNotInTable || e.kind() == GifErrorKind::UnsupportedVersion
           || e.kind() == GifErrorKind::InvalidDimensions;
}

/** The table written: the entries, then black up to the next power of two (at least 2). */
std::vector<Rgb> padded(const TGIFColorMap &map)
{
    std::vector<Rgb> entries = map.entries;
    if (!entries.empty())
        entries.resize(std::size_t(1) << map.bitSize(), Rgb{});
    return entries;
}

std::string describe(const TGIFExtension &e)
{
    std::ostringstream out;
    out << int(e.label()) << ':';
    switch (e.kind()) {
    case ExtensionKind::GraphicControl: {
        const auto &g = static_cast<const TGIFGraphicControlExtension &>(e);
        out << int(g.packed) << ',' << g.delay << ',' << int(g.transparentIndex);
        break;
    }
    case ExtensionKind::Comment:
        for (const std::string &line : static_cast<const TGIFCommentExtension &>(e).lines)
            if (!line.empty()) // an empty line writes no sub-block
                out << line.size() << '[' << line << ']';
        break;
    case ExtensionKind::Text: {
        const auto &t = static_cast<const TGIFTextExtension &>(e);
        out << std::string(t.header.begin() + 1, t.header.end());
        for (const std::string &line : t.lines)
            if (!line.empty())
                out << line.size() << '[' << line << ']';
        break;
    }
    case ExtensionKind::Loop: {
        const auto &l = static_cast<const TGIFAppExtNSLoop &>(e);
        out << l.loops << ',' << l.bufferSize;
        break;
    }
    case ExtensionKind::UnknownApplication: {
        const auto &a = static_cast<const TGIFUnknownAppExtension &>(e);
        std::string id = a.identifier;
        id.resize(11, '\0');
        out << id;
        for (const auto &block : a.subBlocks)
            out << block.size() << '[' << std::string(block.begin(), block.end()) << ']';
        break;
    }
    }
    return out.str();
}

std::vector<std::string> describeAll(const TGIFSubImage &f)
{
    std::vector<std::string> out;
    for (int i = 0; i < f.extensionCount(); ++i)
        out.push_back(describe(*f.extension(i)));
    return out;
}

void expectSameDocument(const TGIFImage &a, const TGIFImage &b)
{
    EXPECT_EQ(a.header.width, b.header.width);
    EXPECT_EQ(a.header.height, b.header.height);
    EXPECT_EQ(a.header.background, b.header.background);
    EXPECT_EQ(a.header.aspect, b.header.aspect);
    EXPECT_EQ(padded(a.header.colorMap), b.header.colorMap.entries);
    // A frame with neither pixels nor extensions leaves nothing in the file.
    std::vector<int> kept;
    for (int i = 0; i < a.count(); ++i)
        if (a.frame(i).hasPixels() || a.frame(i).extensionCount() > 0)
            kept.push_back(i);
    ASSERT_EQ(int(kept.size()), b.count());
    for (int j = 0; j < b.count(); ++j) {
        SCOPED_TRACE("frame " + std::to_string(kept[std::size_t(j)]));
        const TGIFSubImage &fa = a.frame(kept[std::size_t(j)]);
        const TGIFSubImage &fb = b.frame(j);
        EXPECT_EQ(describeAll(fa), describeAll(fb));
        if (!fa.hasPixels()) {
            EXPECT_FALSE(fb.hasPixels());
            continue;
        }
        EXPECT_EQ(fa.left, fb.left);
        EXPECT_EQ(fa.top, fb.top);
        EXPECT_EQ(fa.width, fb.width);
        EXPECT_EQ(fa.height, fb.height);
        EXPECT_FALSE(fb.interlaced);
        EXPECT_EQ(padded(fa.colorMap()), fb.colorMap().entries);
        EXPECT_TRUE(fa.pixels() == fb.pixels()) << "indices differ";
    }
}

} // namespace

TEST(RoundTrip, EveryReadableCorpusGifReadsBackTheSame)
{
    REQUIRE_CORPUS();
    std::vector<fs::path> files;
    for (const auto &entry : fs::recursive_directory_iterator(testsupport::corpusDir()))
        if (entry.is_regular_file() && entry.path().extension() == ".gif" && entry.file_size() < (8u << 20))
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());

    int written = 0, unreadable = 0, refused = 0;
    for (const fs::path &file : files) {
        TGIFImage first;
        try {
            loadFromFile(first, file.string());
        } catch (const GifError &) {
            ++unreadable; // the reader's own refusals are checked elsewhere
            continue;
        }
        SCOPED_TRACE(file.string());
        std::ostringstream out;
        try {
            first.SaveToStream(out);
        } catch (const GifError &e) {
            EXPECT_TRUE(refusedByTheWriter(e)) << e.what();
            ++refused;
            continue;
        }
        const std::string bytes = out.str();
        TGIFImage second;
        ASSERT_NO_THROW(loadFromBytes(second, reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()));
        expectSameDocument(first, second);
        ++written;
        if (::testing::Test::HasFailure())
            break; // one file's differences say enough
    }
    // Most of the rest are the malformed sets; the count guards against a test that checks nothing.
    EXPECT_GT(written, 200) << "of " << files.size() << " files";
    std::printf("%zu corpus GIFs: %d written and read back, %d refused by the reader, %d by the writer\n",
                files.size(), written, unreadable, refused);
}
