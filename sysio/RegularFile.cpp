// SPDX-License-Identifier: GPL-3.0-or-later
#include "RegularFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumivane {

void UniqueFd::reset()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool UniqueFd::close()
{
    return ::close(release()) == 0;
}

std::string IsAFolderText(const std::string& path)
{
    return path + ": is a folder";
}

std::string NotARegularFileText(const std::string& path)
{
    return path + ": not a regular file";
}

OpenedFile OpenRegularFile(const std::string& path)
{
    OpenedFile opened;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) {
        opened.error = errno;
        return opened;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        opened.error = errno;
        return opened;
    }
    if (S_ISDIR(info.st_mode)) {
        opened.error = EISDIR;
        opened.refusal = IsAFolderText(path);
        return opened;
    }
    if (!S_ISREG(info.st_mode)) {
        opened.error = EINVAL;
        opened.refusal = NotARegularFileText(path);
        return opened;
    }
    // A regular file never blocks, but a later read should not see EAGAIN
    // on a file system that honours the flag: back to ordinary reads.
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        opened.error = errno;
        return opened;
    }
    opened.size = info.st_size > 0 ? std::uint64_t(info.st_size) : 0;
    opened.fd = std::move(fd);
    return opened;
}

} // namespace lumivane
