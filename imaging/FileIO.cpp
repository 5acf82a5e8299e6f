// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileIO.h"

#include "Bitmap24.h"
#include "MemoryBudget.h"
#include "RegularFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace lumivane {

namespace {

std::string reasonOf(int err)
{
    // The system's "File too large" reads as if the picture were at fault;
    // it is the file system's largest file or the process's limit.
    if (err == EFBIG)
        return "file too large for this file system or limit";
    return std::strerror(err);
}

// How much a reader that may stop early reads at a time.
constexpr std::size_t kReadPiece = std::size_t(4) << 20;

std::string mebibytesText(std::uint64_t bytes)
{
    constexpr std::uint64_t kMiB = 1024 * 1024;
    return std::to_string(bytes / kMiB + (bytes % kMiB != 0 ? 1 : 0)) + " MiB";
}

using FileDescriptor = UniqueFd;

// The installed fault hook. Looked at on every step, so a flag keeps the
// lock out of the way when no test has installed one.
std::mutex hookMutex;
FileFaultHook hook;
std::atomic<bool> hookInstalled{false};

// 0 to go on, or the errno value the step is to fail with.
int injected(FileStep step, const std::string& path, std::size_t& bytes)
{
    if (!hookInstalled.load(std::memory_order_acquire))
        return 0;
    FileFaultHook current;
    {
        std::lock_guard lock(hookMutex);
        current = hook;
    }
    return current ? current(step, path, bytes) : 0;
}

int injected(FileStep step, const std::string& path)
{
    std::size_t none = 0;
    return injected(step, path, none);
}

// Reads up to `size` bytes, fewer only at the end of the file; raises
// FileError naming `path` on an error.
std::size_t readFully(int fd, std::uint8_t* into, std::size_t size, const std::string& path)
{
    std::size_t done = 0;
    while (done < size) {
        std::size_t ask = size - done;
        if (const int err = injected(FileStep::Read, path, ask))
            throw FileError("Cannot read file \"" + path + "\": " + reasonOf(err));
        const ssize_t got = ::read(fd, into + done, std::min(ask, size - done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw FileError("Cannot read file \"" + path + "\": " + reasonOf(errno));
        }
        if (got == 0)
            break;
        done += std::size_t(got);
    }
    return done;
}

// Opens a regular file for reading without blocking (see RegularFile.h);
// sets `size` to its size.
int openForReading(const std::string& path, std::uint64_t& size)
{
    if (const int err = injected(FileStep::OpenRead, path))
        throw FileError("Cannot open file \"" + path + "\": " + reasonOf(err));
    OpenedFile opened = OpenRegularFile(path);
    if (!opened.refusal.empty())
        throw FileRefusedError(opened.refusal);
    if (!opened.ok())
        throw FileError("Cannot open file \"" + path + "\": " + reasonOf(opened.error));
    size = opened.size;
    return opened.fd.release();
}

// Six characters from a per-thread generator seeded from the system's
// random source: names no other writer (thread or process) will pick.
std::string randomTag()
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 generator = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), unsigned(::getpid())};
        return std::mt19937_64(seed);
    }();
    std::string tag(6, 'x');
    for (char& c : tag)
        c = kAlphabet[generator() % (sizeof kAlphabet - 1)];
    return tag;
}

// Creates a temporary file of a fresh name beside `path`, exclusively (an
// existing file is never opened), readable and writable as the user's
// umask allows. Returns the descriptor and sets `temporary` to its name.
int createTemporary(const std::string& path, std::string& temporary)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = path + "." + randomTag() + kTemporarySuffix;
        const int fd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST)
            throw FileError("Cannot write file \"" + path + "\": " + reasonOf(errno));
    }
    throw FileError("Cannot write file \"" + path + "\": no free temporary name beside it");
}

// The folder `path` goes into ("." for a bare name).
std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// An unnamed file (O_TMPFILE) in the folder of `path`, or an invalid
// descriptor when the system or file system offers none (the caller then
// makes a named temporary file, which reports any real error).
int createUnnamed(const std::string& path)
{
    if (const int err = injected(FileStep::CreateUnnamed, path)) {
        errno = err;
        return -1;
    }
    return ::open(folderOf(path).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
}

// Gives the unnamed file `fd` the name `path`, never replacing a file there.
// Returns 0 or the errno value of the failure (EEXIST: the name is taken).
int linkUnnamed(int fd, const std::string& path)
{
    // Through /proc any user may link the file; AT_EMPTY_PATH needs a
    // capability on kernels before 6.10, so it is only the second try.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    const int err = errno;
    if (err == EEXIST)
        return err;
    if (::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0)
        return 0;
    return errno == EEXIST ? EEXIST : err;
}

// Links the unnamed file `fd` under a fresh temporary name beside `path` and
// returns that name; raises FileError naming `path` on failure.
std::string linkUnderTemporaryName(int fd, const std::string& path)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temporary = path + "." + randomTag() + kTemporarySuffix;
        const int err = linkUnnamed(fd, temporary);
        if (err == 0)
            return temporary;
        if (err != EEXIST)
            throw FileError("Cannot write file \"" + path + "\": " + reasonOf(err));
    }
    throw FileError("Cannot write file \"" + path + "\": no free temporary name beside it");
}

// Puts `temporary` in place as `path` without ever replacing a file there.
// Returns 0 or the errno value of the failure (EEXIST: the name is taken).
int renameNoReplace(const std::string& temporary, const std::string& path)
{
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // File systems without the no-replace rename: a hard link fails on a
    // taken name just the same, and the temporary name is dropped after.
    if (::link(temporary.c_str(), path.c_str()) != 0)
        return errno;
    ::unlink(temporary.c_str());
    return 0;
}

} // namespace

OutputTarget OutputTarget::FirstFree(std::function<std::string(int attempt)> candidate)
{
    OutputTarget target(std::string{});
    target.candidate_ = std::move(candidate);
    return target;
}

OutputTarget OutputTarget::OnlyIfFree(std::string path)
{
    OutputTarget target(std::move(path));
    target.pathMode_ = WriteMode::NoReplace;
    return target;
}

std::string OutputTarget::WriteWith(const std::function<void(const std::string&, WriteMode)>& write) const
{
    if (!candidate_) {
        write(path_, pathMode_);
        return path_;
    }
    std::string path;
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        path = candidate_(attempt);
        try {
            write(path, WriteMode::NoReplace);
            return path;
        } catch (const FileExistsError&) {
            // Taken, before or just now: the next name.
        }
    }
    throw FileError("Cannot write file \"" + path + "\": no free name among " + std::to_string(kMaxAttempts) +
                    " tried");
}

FileTooLargeError::FileTooLargeError(const std::string& path, std::uint64_t size, std::uint64_t budget)
    : FileError("'" + path + "' is too large: " + mebibytesText(size) + " of file, more than the " +
                mebibytesText(budget) + " of memory available (" + kMemoryLimitVariable + ")")
{
}

FileFaultHook SetFileFaultHook(FileFaultHook newHook)
{
    std::lock_guard lock(hookMutex);
    FileFaultHook earlier = std::move(hook);
    hook = std::move(newHook);
    hookInstalled.store(static_cast<bool>(hook), std::memory_order_release);
    return earlier;
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path)
{
    std::vector<std::uint8_t> bytes;
    ReadWholeFileInto(path, bytes);
    return bytes;
}

void ReadWholeFileInto(const std::string& path, std::vector<std::uint8_t>& bytes, ReadEnough* enough)
{
    std::uint64_t size = 0;
    FileDescriptor fd(openForReading(path, size));
    // Only the size the file had when it was opened is read: a file that
    // grows meanwhile (or claims to be endless) cannot make the read go on,
    // and nothing above the memory budget is ever held.
    const std::uint64_t budget = MemoryBudgetBytes();
    if (size > budget && !enough)
        throw FileTooLargeError(path, size, budget);
    const std::size_t limit = std::size_t(std::min(size, budget));
    const std::size_t room = bytes.capacity();
    // A reader that stops early reads a piece at a time, so trailing bytes
    // after what it needs are never read nor allocated.
    const std::size_t piece = enough ? std::min<std::size_t>(limit, kReadPiece) : limit;
    if (room < piece) {
        bytes.reserve(piece);
        AdviseHugePages(bytes.data(), bytes.capacity());
    }
    // The vector's current size is room already filled: reads overwrite it.
    std::size_t used = 0;
    for (;;) {
        const std::size_t want = std::min(limit, used + std::max(piece, used));
        if (bytes.capacity() < want) {
            const std::size_t before = bytes.capacity();
            bytes.reserve(want);
            if (bytes.capacity() != before)
                AdviseHugePages(bytes.data(), bytes.capacity());
        }
        if (bytes.size() < want)
            bytes.resize(want);
        const std::size_t got = readFully(fd.get(), bytes.data() + used, want - used, path);
        used += got;
        const bool ended = used < want || used == limit;
        if (enough) {
            if (const std::size_t needed = enough->NeededOf(bytes.data(), used)) {
                used = std::min(used, needed);
                break;
            }
            if (ended && used < size)
                throw FileTooLargeError(path, size, budget);
        }
        if (ended)
            break;
    }
    bytes.resize(used);
}

std::vector<std::uint8_t> ReadFileHead(const std::string& path, std::size_t limit)
{
    std::uint64_t size = 0;
    FileDescriptor fd(openForReading(path, size));
    std::vector<std::uint8_t> bytes(std::size_t(std::min<std::uint64_t>(limit, size)));
    bytes.resize(readFully(fd.get(), bytes.data(), bytes.size(), path));
    return bytes;
}

std::vector<std::uint8_t> ReadFileRange(const std::string& path, std::uint64_t offset, std::size_t limit)
{
    std::uint64_t size = 0;
    FileDescriptor fd(openForReading(path, size));
    if (offset >= size)
        return {};
    if (::lseek(fd.get(), off_t(offset), SEEK_SET) < 0)
        throw FileError("Cannot read file \"" + path + "\": " + reasonOf(errno));
    std::vector<std::uint8_t> bytes(std::size_t(std::min<std::uint64_t>(limit, size - offset)));
    bytes.resize(readFully(fd.get(), bytes.data(), bytes.size(), path));
    return bytes;
}

namespace detail {

// The temporary file of one write: created in the target's folder, unnamed
// where the system offers that, and removed on every way out unless it was
// given its name.
class AtomicFile {
public:
    explicit AtomicFile(const std::string& path) : path_(path)
    {
        // An unnamed file where the system offers one, so a process killed
        // mid-write leaves nothing behind; else a named temporary file.
        if (const int err = injected(FileStep::Create, path))
            throw FileError("Cannot write file \"" + path + "\": " + reasonOf(err));
        fd_ = FileDescriptor(createUnnamed(path));
        if (!fd_.valid())
            fd_ = FileDescriptor(createTemporary(path, temporary_));
        unnamed_ = temporary_.empty();
    }
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile()
    {
        if (!placed_ && !temporary_.empty())
            ::unlink(temporary_.c_str());
    }

    int fd() const { return fd_.get(); }

    // Raises for a failed step with the reason `err`, naming `path`; the
    // destructor removes the temporary file.
    [[noreturn]] void fail(int err, const std::string& path, WriteMode mode) const
    {
        if (err == EEXIST && mode == WriteMode::NoReplace)
            throw FileExistsError("Cannot write file \"" + path + "\": a file of that name exists");
        throw FileError("Cannot write file \"" + path + "\": " + reasonOf(err));
    }

    // Writes all `size` bytes at `offset`; 0 or the errno value of the failure.
    int writeAt(std::uint64_t offset, const std::uint8_t* bytes, std::size_t size)
    {
        std::size_t written = 0;
        while (written < size) {
            std::size_t ask = size - written;
            if (const int err = injected(FileStep::Write, path_, ask))
                return err;
            const ssize_t put =
                ::pwrite(fd_.get(), bytes + written, std::min(ask, size - written), off_t(offset + written));
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            written += std::size_t(put);
        }
        end_ = std::max<std::uint64_t>(end_, offset + size);
        return 0;
    }
    std::uint64_t end() const { return end_; }

    // Flushes the bytes to disk; raises naming the target.
    void sync()
    {
        if (const int err = injected(FileStep::Sync, path_))
            fail(err, path_, WriteMode::Replace);
        if (::fsync(fd_.get()) != 0)
            fail(errno, path_, WriteMode::Replace);
        synced_ = true;
    }

    // Gives the complete file the name `path` (see WriteFileAtomically);
    // raises FileExistsError when a NoReplace name is taken, after which
    // another name may be tried.
    void place(const std::string& path, WriteMode mode)
    {
        if (!synced_)
            sync();
        if (unnamed_) {
            if (const int err = injected(FileStep::Rename, path))
                fail(err, path, mode);
            if (mode == WriteMode::NoReplace) {
                // The complete file appears under its name in one step, and
                // never over a file of that name.
                if (const int err = linkUnnamed(fd_.get(), path))
                    fail(err, path, mode);
                placed_ = true;
                if (!fd_.close()) {
                    const int err = errno;
                    ::unlink(path.c_str());
                    fail(err, path, mode);
                }
                return;
            }
            // A confirmed replacement: linked under a name of its own first,
            // then renamed over the target.
            temporary_ = linkUnderTemporaryName(fd_.get(), path);
            if (!fd_.close())
                fail(errno, path, mode);
            if (::rename(temporary_.c_str(), path.c_str()) != 0)
                fail(errno, path, mode);
            placed_ = true;
            return;
        }
        if (fd_.valid() && !fd_.close())
            fail(errno, path, mode);
        if (const int err = injected(FileStep::Rename, path))
            fail(err, path, mode);
        if (mode == WriteMode::Replace) {
            if (::rename(temporary_.c_str(), path.c_str()) != 0)
                fail(errno, path, mode);
        } else if (const int err = renameNoReplace(temporary_, path)) {
            fail(err, path, mode);
        }
        placed_ = true;
    }

private:
    std::string path_;
    std::string temporary_;
    FileDescriptor fd_;
    bool unnamed_ = true;
    bool synced_ = false;
    bool placed_ = false;
    std::uint64_t end_ = 0;
};

} // namespace detail

int TemporaryFile::WriteAt(std::uint64_t offset, const void* data, std::size_t size)
{
    return file_.writeAt(offset, static_cast<const std::uint8_t*>(data), size);
}

long long TemporaryFile::ReadAt(std::uint64_t offset, void* data, std::size_t size)
{
    for (;;) {
        const ssize_t got = ::pread(file_.fd(), data, size, off_t(offset));
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

std::uint64_t TemporaryFile::Size() const
{
    return file_.end();
}

void WriteFileAtomically(const std::string& path, std::initializer_list<ByteSpan> pieces, WriteMode mode)
{
    detail::AtomicFile file(path);
    std::uint64_t offset = 0;
    for (const ByteSpan& piece : pieces) {
        if (const int err = file.writeAt(offset, static_cast<const std::uint8_t*>(piece.data), piece.size))
            file.fail(err, path, mode);
        offset += piece.size;
    }
    file.place(path, mode);
}

std::string OutputTarget::WriteStreamed(const std::function<int(TemporaryFile& file)>& fill) const
{
    const std::string first = candidate_ ? candidate_(0) : path_;
    detail::AtomicFile file(first);
    TemporaryFile handle(file);
    if (const int err = fill(handle))
        file.fail(err, first, candidate_ ? WriteMode::NoReplace : WriteMode::Replace);
    file.sync();
    if (!candidate_) {
        file.place(path_, WriteMode::Replace);
        return path_;
    }
    // The file is written once; only its name is tried again.
    std::string path;
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        path = candidate_(attempt);
        try {
            file.place(path, WriteMode::NoReplace);
            return path;
        } catch (const FileExistsError&) {
            // Taken, before or just now: the next name.
        }
    }
    throw FileError("Cannot write file \"" + path + "\": no free name among " + std::to_string(kMaxAttempts) +
                    " tried");
}

} // namespace lumivane
