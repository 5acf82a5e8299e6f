#include "FileIO.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumivane {

namespace {

std::string systemReason()
{
    return std::strerror(errno);
}

// Owns a POSIX file descriptor so every way out of a function closes it.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and reports whether the close succeeded (a delayed write
    // error on some file systems only shows up here).
    bool close()
    {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

} // namespace

std::vector<std::uint8_t> ReadWholeFile(const std::string& path)
{
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid())
        throw FileError("Cannot open file \"" + path + "\": " + systemReason());
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        throw FileError("Cannot read file \"" + path + "\": " + systemReason());
    if (S_ISDIR(info.st_mode))
        throw FileError("Cannot read file \"" + path + "\": it is a folder");

    std::vector<std::uint8_t> bytes;
    if (S_ISREG(info.st_mode) && info.st_size > 0)
        bytes.reserve(std::size_t(info.st_size));
    // Read until end of file rather than trusting the size: the file may
    // change while it is read, and special files report no size.
    std::size_t used = 0;
    for (;;) {
        if (bytes.size() - used < 65536)
            bytes.resize(std::max<std::size_t>(used + 65536, bytes.capacity()));
        const ssize_t got = ::read(fd.get(), bytes.data() + used, bytes.size() - used);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw FileError("Cannot read file \"" + path + "\": " + systemReason());
        }
        if (got == 0)
            break;
        used += std::size_t(got);
    }
    bytes.resize(used);
    return bytes;
}

void WriteFileAtomically(const std::string& path, const void* data, std::size_t size)
{
    const std::string temporary = path + ".part";
    // Removes the temporary file and raises, keeping the reason of the
    // failed call (unlink may change errno).
    auto fail = [&]() {
        const std::string reason = systemReason();
        ::unlink(temporary.c_str());
        throw FileError("Cannot write file \"" + path + "\": " + reason);
    };

    FileDescriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd.valid())
        throw FileError("Cannot write file \"" + path + "\": " + systemReason());
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t written = 0;
    while (written < size) {
        const ssize_t put = ::write(fd.get(), bytes + written, size - written);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            fail();
        }
        written += std::size_t(put);
    }
    if (::fsync(fd.get()) != 0)
        fail();
    if (!fd.close())
        fail();
    if (::rename(temporary.c_str(), path.c_str()) != 0)
        fail();
}

} // namespace lumivane
