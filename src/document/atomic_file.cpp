#include "atomic_file.h"

#include <cerrno>
#include <cstring>
#include <ostream>
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

} // namespace

void writeFileAtomically(const std::string &path, const std::function<void(std::ostream &)> &write)
{
    struct stat target {};
    const bool exists = ::stat(path.c_str(), &target) == 0;
    if (exists && S_ISDIR(target.st_mode))
        throwErrno(EISDIR);

    std::string temp = folderOf(path) + "/." + nameOf(path) + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        throwErrno(errno);

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

    // Keep the permissions of the file replaced; a new file gets the usual rw-r--r--.
    ::fchmod(fd, exists ? (target.st_mode & 07777) : 0644);
    if (::fsync(fd) != 0 && errno != EINVAL)
        fail(errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        throwErrno(err);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        throwErrno(err);
    }
}

} // namespace doc
