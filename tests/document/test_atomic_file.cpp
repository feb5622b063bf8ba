// Saving over files on a real file system: links followed, mode, owner and umask honoured, and a
// file in a folder that takes no new file still saved, for the GIF and the bitmap alike.

#include "document/atomic_file.h"
#include "document/bmp_writer.h"
#include "document/gif_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <stdexcept>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace doc;
namespace fs = std::filesystem;

namespace {

// Who the permission cases run as when the tests run as root, which no permission stops.
constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

class AtomicFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        mDir = fs::path(::testing::TempDir()) /
               ("atomic_file_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(mDir);
        fs::create_directories(mDir);
        ::chmod(mDir.c_str(), 0755);
    }
    void TearDown() override
    {
        std::error_code ec;
        for (const auto &e : fs::recursive_directory_iterator(mDir, ec))
            ::chmod(e.path().c_str(), 0755);
        fs::remove_all(mDir, ec);
    }

    static std::string read(const fs::path &p)
    {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static void put(const fs::path &p, const std::string &text) { std::ofstream(p, std::ios::binary) << text; }
    static void save(const fs::path &p, const std::string &text)
    {
        writeFileAtomically(p.string(), [&](std::ostream &out) { out << text; });
    }
    static mode_t modeOf(const fs::path &p)
    {
        struct stat st {};
        ::stat(p.c_str(), &st);
        return st.st_mode & 07777;
    }
    static ino_t inodeOf(const fs::path &p)
    {
        struct stat st {};
        ::stat(p.c_str(), &st);
        return st.st_ino;
    }
    /** Names in a folder, to see that no temporary file is left behind. */
    static std::vector<std::string> names(const fs::path &dir)
    {
        std::vector<std::string> out;
        for (const auto &e : fs::directory_iterator(dir))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

    /**
     * Runs `body` as a user without privileges: in a child process that drops to nobody when the
     * tests run as root, directly otherwise. Returns what the body returns (0 for success).
     */
    static int unprivileged(const std::function<int()> &body)
    {
        if (::geteuid() != 0)
            return body();
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(kNogroup) != 0 || ::setuid(kNobody) != 0)
                ::_exit(99);
            ::_exit(body());
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
    }
    /** Makes a path the unprivileged user's own (a no-op when the tests do not run as root). */
    static void giveAway(const fs::path &p)
    {
        if (::geteuid() == 0) {
            ASSERT_EQ(::chown(p.c_str(), kNobody, kNogroup), 0);
        }
    }

    fs::path mDir;
};

TEST_F(AtomicFile, SymbolicLinksAreFollowedAndStayLinks)
{
    fs::create_directories(mDir / "real");
    put(mDir / "real" / "a.gif", "old");
    fs::create_symlink("real/a.gif", mDir / "link.gif");       // relative, to another folder
    fs::create_symlink(mDir / "link.gif", mDir / "chain.gif"); // absolute, to a link
    fs::create_symlink("real/new.gif", mDir / "dangling.gif");

    save(mDir / "chain.gif", "new");
    EXPECT_EQ(read(mDir / "real" / "a.gif"), "new");
    EXPECT_TRUE(fs::is_symlink(mDir / "chain.gif"));
    EXPECT_TRUE(fs::is_symlink(mDir / "link.gif"));

    save(mDir / "dangling.gif", "made");
    EXPECT_TRUE(fs::is_symlink(mDir / "dangling.gif"));
    EXPECT_EQ(read(mDir / "real" / "new.gif"), "made");

    EXPECT_EQ(names(mDir), (std::vector<std::string>{"chain.gif", "dangling.gif", "link.gif", "real"}));
    EXPECT_EQ(names(mDir / "real"), (std::vector<std::string>{"a.gif", "new.gif"}));

    fs::create_symlink("loop.gif", mDir / "loop.gif");
    EXPECT_THROW(save(mDir / "loop.gif", "x"), std::runtime_error);
}

TEST_F(AtomicFile, GifAndBitmapSavesGoThroughTheLink)
{
    TGIFImage image;
    TGIFSubImage frame;
    frame.width = frame.height = 1;
    frame.setColorMap({{{1, 2, 3}, {4, 5, 6}}, false});
    frame.setPixels({1});
    image.appendFrame(std::move(frame));
    image.header.width = image.header.height = 1;

    for (const char *name : {"a.gif", "a.bmp"}) {
        SCOPED_TRACE(name);
        put(mDir / name, "old");
        const fs::path link = mDir / (std::string("link-") + name);
        fs::create_symlink(name, link);
        if (std::string(name).ends_with(".gif"))
            saveToFile(image, link.string());
        else
            saveFrameAsBmp(image, 0, link.string());
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_EQ(read(mDir / name).substr(0, 2), std::string(name).ends_with(".gif") ? "GI" : "BM");
    }
}

TEST_F(AtomicFile, ModeOwnerAndUmask)
{
    for (mode_t mode : {0664, 0600, 0640}) {
        put(mDir / "shared.gif", "old");
        ::chmod((mDir / "shared.gif").c_str(), mode);
        save(mDir / "shared.gif", "new");
        EXPECT_EQ(modeOf(mDir / "shared.gif"), mode);
    }

    const mode_t previous = ::umask(027);
    save(mDir / "new-027.gif", "new");
    ::umask(002);
    save(mDir / "new-002.gif", "new");
    ::umask(previous);
    EXPECT_EQ(modeOf(mDir / "new-027.gif"), 0640u);
    EXPECT_EQ(modeOf(mDir / "new-002.gif"), 0664u);

    if (::geteuid() != 0)
        GTEST_SKIP() << "keeping another user's ownership needs root";
    put(mDir / "theirs.gif", "old");
    ASSERT_EQ(::chown((mDir / "theirs.gif").c_str(), kNobody, kNogroup), 0);
    save(mDir / "theirs.gif", "new");
    struct stat st {};
    ::stat((mDir / "theirs.gif").c_str(), &st);
    EXPECT_EQ(st.st_uid, kNobody);
    EXPECT_EQ(st.st_gid, kNogroup);
}

TEST_F(AtomicFile, HardLinksSeeTheNewContent)
{
    put(mDir / "a.gif", "old");
    fs::create_hard_link(mDir / "a.gif", mDir / "b.gif");
    save(mDir / "a.gif", "new");
    EXPECT_EQ(read(mDir / "b.gif"), "new");
    EXPECT_EQ(names(mDir), (std::vector<std::string>{"a.gif", "b.gif"}));
}

// The folder belongs to someone else and takes no new file; the file itself is writable.
TEST_F(AtomicFile, FolderThatTakesNoNewFile)
{
    const fs::path locked = mDir / "locked";
    fs::create_directories(locked);
    put(locked / "anim.gif", "old content, longer than the new");
    ::chmod((locked / "anim.gif").c_str(), 0666);
    if (::geteuid() != 0)
        ::chmod(locked.c_str(), 0555);
    const ino_t inode = inodeOf(locked / "anim.gif");

    EXPECT_EQ(unprivileged([&] {
                  try {
                      save(locked / "anim.gif", "new");
                  } catch (const std::exception &) {
                      return 1;
                  }
                  return 0;
              }),
              0);
    EXPECT_EQ(read(locked / "anim.gif"), "new");
    EXPECT_EQ(inodeOf(locked / "anim.gif"), inode);

    // A write that fails leaves the file as it was; a new file cannot be made there at all.
    EXPECT_EQ(unprivileged([&] {
                  try {
                      writeFileAtomically((locked / "anim.gif").string(), [](std::ostream &out) {
                          out << "partial";
                          throw std::runtime_error("encoder failed");
                      });
                  } catch (const std::runtime_error &) {
                      return 0;
                  }
                  return 1;
              }),
              0);
    EXPECT_EQ(read(locked / "anim.gif"), "new");
    EXPECT_NE(unprivileged([&] {
                  try {
                      save(locked / "other.gif", "x");
                  } catch (const std::exception &) {
                      return 1;
                  }
                  return 0;
              }),
              0);
    EXPECT_EQ(names(locked), std::vector<std::string>{"anim.gif"});
}

TEST_F(AtomicFile, ReadOnlyFileIsNotReplaced)
{
    put(mDir / "ro.gif", "old");
    ::chmod((mDir / "ro.gif").c_str(), 0444);
    giveAway(mDir);
    giveAway(mDir / "ro.gif");
    EXPECT_NE(unprivileged([&] {
                  try {
                      save(mDir / "ro.gif", "new");
                  } catch (const std::exception &) {
                      return 1;
                  }
                  return 0;
              }),
              0);
    EXPECT_EQ(read(mDir / "ro.gif"), "old");
}

} // namespace
