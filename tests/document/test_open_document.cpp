// Opening a GIF file for editing: exactly the file's images become frames, and the records no
// image follows are kept for the next save.

#include "document/gif_reader.h"
#include "document/gif_writer.h"
#include "document/open_document.h"
#include "support/gif_builder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

using namespace doc;
using testsupport::GifBuilder;

namespace {

class OpenDocument : public ::testing::Test
{
protected:
    void SetUp() override
    {
        mDir = std::filesystem::path(::testing::TempDir()) /
               ("open_document_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(mDir);
    }
    void TearDown() override { std::filesystem::remove_all(mDir); }

    std::string write(const GifBuilder &g, const std::string &name = "in.gif")
    {
        const auto path = mDir / name;
        std::ofstream(path, std::ios::binary) << g.str();
        return path.string();
    }

    std::filesystem::path mDir;
};

std::vector<ExtensionKind> kinds(const TGIFSubImage &f)
{
    std::vector<ExtensionKind> out;
    for (int i = 0; i < f.extensionCount(); ++i)
        out.push_back(f.extension(i)->kind());
    return out;
}

/** A 2 × 1 screen; each image is 2 × 1 with its own 2-colour table. */
GifBuilder screen()
{
    GifBuilder g;
    g.header().screen(2, 1);
    return g;
}

void addImage(GifBuilder &g, uint16_t delay, std::vector<uint8_t> pixels)
{
    g.graphicControl(1 << 2, delay).image(2, 1, 0x80).colorTable(2).pixels(2, pixels);
}

void unknownApplication(GifBuilder &g)
{
    g.raw({0x21, 0xFF, 11}).raw("XMP DataXMP").subBlock({1, 2, 3}).end();
}

} // namespace

TEST_F(OpenDocument, RecordsAfterTheLastImageJoinItInsteadOfMakingAFrame)
{
    GifBuilder g = screen();
    addImage(g, 10, {0, 1});
    addImage(g, 20, {1, 0});
    g.comment({"fin"});
    unknownApplication(g);
    g.graphicControl(1 << 2, 99); // governs no image
    g.loop(3);
    g.trailer();

    TGIFImage image = openForEditing(write(g));
    ASSERT_EQ(image.count(), 2) << "one frame per image of the file";
    using K = ExtensionKind;
    EXPECT_EQ(kinds(image.frame(1)), (std::vector{K::GraphicControl, K::Comment, K::UnknownApplication}));
    EXPECT_EQ(image.frame(1).graphicControl()->delay, 20);
    ASSERT_EQ(kinds(image.frame(0)), (std::vector{K::Loop, K::GraphicControl}))
        << "the looping goes where the editor and viewers look for it";
    EXPECT_EQ(extension_cast<TGIFAppExtNSLoop>(image.frame(0).extension(0))->loops, 3);

    // Saved and read again: still two images, the comment and the application record kept.
    const std::string saved = (mDir / "saved.gif").string();
    saveToFile(image, saved);
    TGIFImage again;
    loadFromFile(again, saved);
    ASSERT_EQ(again.count(), 2);
    EXPECT_EQ(kinds(again.frame(1)), (std::vector{K::GraphicControl, K::Comment, K::UnknownApplication}));
    EXPECT_EQ(extension_cast<TGIFCommentExtension>(again.frame(1).extension(1))->lines,
              std::vector<std::string>{"fin"});
}

TEST_F(OpenDocument, RecordsBeforeAnImageJoinItAheadOfItsOwn)
{
    // A zero byte after the comment ends a frame of records only, in the middle of the file.
    GifBuilder g = screen();
    addImage(g, 10, {0, 1});
    g.comment({"entre"}).raw({0});
    addImage(g, 20, {1, 0});
    g.trailer();

    const TGIFImage image = openForEditing(write(g));
    ASSERT_EQ(image.count(), 2);
    EXPECT_EQ(kinds(image.frame(1)), (std::vector{ExtensionKind::Comment, ExtensionKind::GraphicControl}));
    EXPECT_EQ(image.frame(1).graphicControl()->delay, 20);

    GifBuilder none = screen();
    none.comment({"rien"}).trailer();
    EXPECT_EQ(openForEditing(write(none, "none.gif")).count(), 0) << "no image, no frame";
}
