#include "atomic_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace doc {

namespace {

/** An output buffer over a file descriptor that remembers the first write error. */
class FdBuffer : public std::streambuf
{
public:
    explicit FdBuffer(int fd)
        : mFd(fd)
        , mBuffer(1 << 16)
    {
        setp(mBuffer.data(), mBuffer.data() + mBuffer.size());
    }
    ~FdBuffer() override { flushBuffer(); }

    int error() const { return mError; }
    bool flushBuffer()
    {
        const char *p = pbase();
        std::size_t left = std::size_t(pptr() - pbase());
        while (left && !mError) {
            const ssize_t n = ::write(mFd, p, left);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                mError = errno;
                break;
            }
            p += n;
            left -= std::size_t(n);
        }
        setp(mBuffer.data(), mBuffer.data() + mBuffer.size());
        return !mError;
    }

protected:
    int_type overflow(int_type ch) override
    {
        if (!flushBuffer())
            return traits_type::eof();
        if (!traits_type::eq_int_type(ch, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(ch);
            pbump(1);
        }
        return traits_type::not_eof(ch);
    }
    int sync() override { return flushBuffer() ? 0 : -1; }

private:
    int mFd;
    int mError = 0;
    std::vector<char> mBuffer;
};

[[noreturn]] void throwErrno(int err)
{
    throw std::runtime_error(std::strerror(err));
}

std::string folderOf(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

/** The file a path names once symbolic links are followed; the path itself when it is no link. */
std::string resolveLinks(std::string path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        std::vector<char> target(std::size_t(st.st_size > 0 ? st.st_size : 255) + 1);
        ssize_t n;
        while ((n = ::readlink(path.c_str(), target.data(), target.size())) == ssize_t(target.size()))
            target.resize(target.size() * 2);
        if (n < 0)
            throwErrno(errno);
        const std::string next(target.data(), std::size_t(n));
        path = next.front() == '/' ? next : folderOf(path) + "/" + next;
    }
    throwErrno(ELOOP);
}

int writeAll(int fd, const char *p, std::size_t n)
{
    while (n > 0) {
        const ssize_t k = ::write(fd, p, n);
        if (k < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        p += k;
        n -= std::size_t(k);
    }
    return 0;
}

/** A new file beside `target` under a name of its own; -1 with errno set when none can be made. */
int createTemporary(const std::string &target, mode_t mode, std::string &temp)
{
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        temp = folderOf(target) + "/." + nameOf(target) + "." + std::to_string(::getpid()) + "-"
               + std::to_string(serial++) + "-" + std::to_string(now % 1000000);
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

/** Best effort: the rename reaches the disk with the folder's entry. */
void syncFolder(const std::string &file)
{
    const int fd = ::open(folderOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

/** Writes through the temporary file `fd` and renames it over `target`; `existing` is its old state. */
void replaceThroughTemporary(int fd, const std::string &temp, const std::string &target, const struct stat *existing,
                             const std::function<void(std::ostream &)> &write)
{
    auto fail = [&](int err) {
        ::close(fd);
        ::unlink(temp.c_str());
        throwErrno(err);
    };

    try {
        FdBuffer buffer(fd);
        std::ostream out(&buffer);
        write(out);
        out.flush();
        if (buffer.error() || !buffer.flushBuffer())
            fail(buffer.error() ? buffer.error() : EIO);
    } catch (const std::exception &) {
        ::close(fd);
        ::unlink(temp.c_str());
        throw;
    }

    if (existing) {
        // The owner and group where the system lets us (a user may only give a group of their
        // own), then the mode, which a change of owner may have stripped of its set-id bits.
        if (existing->st_uid != ::geteuid() || existing->st_gid != ::getegid())
            if (::fchown(fd, existing->st_uid, existing->st_gid) != 0)
                (void)::fchown(fd, uid_t(-1), existing->st_gid);
        ::fchmod(fd, existing->st_mode & 07777);
    }
    if (::fsync(fd) != 0 && errno != EINVAL)
        fail(errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        throwErrno(err);
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        throwErrno(err);
    }
    syncFolder(target);
}

/**
 * Writes the whole content over the file where it stands. Room is reserved first, so a full disk
 * is found before the first old byte is overwritten.
 */
void rewriteInPlace(const std::string &target, const std::string &content)
{
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        throwErrno(errno);
    auto fail = [&](int err) {
        ::close(fd);
        throwErrno(err);
    };
    if (!content.empty()) {
        const int err = ::posix_fallocate(fd, 0, off_t(content.size()));
        if (err != 0 && err != EOPNOTSUPP && err != EINVAL && err != ENODEV && err != ESPIPE)
            fail(err);
    }
    if (const int err = writeAll(fd, content.data(), content.size()))
        fail(err);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::ftruncate(fd, off_t(content.size())) != 0)
        fail(errno);
    if (::fsync(fd) != 0 && errno != EINVAL)
        fail(errno);
    if (::close(fd) != 0)
        throwErrno(errno);
}

} // namespace

void writeFileAtomically(const std::string &path, const std::function<void(std::ostream &)> &write)
{
    const std::string target = resolveLinks(path);
    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        throwErrno(EISDIR);
    // A file the user may not write is not replaced behind its back.
    if (exists && ::access(target.c_str(), W_OK) != 0)
        throwErrno(errno);

    // A rename would leave the file's other hard links the old content, and would put a regular
    // file in place of a device or a pipe: those are written where they stand.
    const bool inPlace = exists && (existing.st_nlink > 1 || !S_ISREG(existing.st_mode));
    if (!inPlace) {
        std::string temp;
        const int fd = createTemporary(target, exists ? 0600 : 0666, temp);
        if (fd >= 0) {
            replaceThroughTemporary(fd, temp, target, exists ? &existing : nullptr, write);
            return;
        }
        // A folder that takes no new file does not stop the save of a file that can be written.
        const int err = errno;
        if (!exists || (err != EACCES && err != EPERM))
            throwErrno(err);
    }

    // The whole new content exists before the first byte of the old one is touched.
    std::ostringstream content;
    write(content);
    if (!content)
        throwErrno(EIO);
    rewriteInPlace(target, std::move(content).str());
}

} // namespace doc
