// SPDX-License-Identifier: GPL-3.0-or-later
// Opening a file for reading the one safe way every reader of the program
// uses. A FIFO would hold a plain open() until some writer appears and a
// device may never end, so the file is opened without blocking, looked at
// with fstat, and kept only when it is a regular file (or a symbolic link to
// one); only then does its descriptor block again for ordinary reads.
#pragma once

#include <cstdint>
#include <string>

namespace lumivane {

// Owns a POSIX file descriptor so every way out of a function closes it.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Hands the descriptor over; the object then owns nothing.
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset();
    // Closes now and reports whether the close succeeded (a delayed write
    // error on some file systems only shows up here).
    bool close();

private:
    int fd_ = -1;
};

// What became of an attempt to open a file for reading.
struct OpenedFile {
    UniqueFd fd;            // valid on success
    std::uint64_t size = 0; // the file's size in bytes, as fstat gave it
    // On failure: the refusal in the program's words ("<path>: is a folder",
    // "<path>: not a regular file"), or empty when the system refused the
    // open itself, whose errno value is then in `error`.
    std::string refusal;
    int error = 0;

    bool ok() const { return fd.valid(); }
};

// Opens `path` read-only (close-on-exec, never as a controlling terminal)
// without blocking, and keeps it only when it is a regular file.
OpenedFile OpenRegularFile(const std::string& path);

// The refusal texts, for callers that look at a path some other way.
std::string IsAFolderText(const std::string& path);
std::string NotARegularFileText(const std::string& path);

} // namespace lumivane
