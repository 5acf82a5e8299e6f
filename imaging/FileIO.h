// SPDX-License-Identifier: GPL-3.0-or-later
// Whole-file reading and the one all-or-nothing file writer.
//
// Every file the program writes (images, defaults.ini, default_mask.bmp, a
// JPEG with its source's EXIF head) goes through WriteFileAtomically: the
// bytes go to an unnamed file in the target's folder (O_TMPFILE), are
// flushed to disk and only then is the file given a name: linked into place
// where no file may be replaced (linkat never replaces), or linked under a
// temporary name of its own and renamed over the target where the user
// confirmed a replacement. A process killed while writing thus leaves
// nothing under any name. Where the file system offers no unnamed files the
// bytes go to a named temporary file beside the target ("<target>.<six
// random characters>.part", created exclusively, so two writers never share
// one), renamed into place when complete. A failed write leaves no
// temporary file and the target as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

namespace lumivane {

// Raised for any input or output error; the message names the file.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Raised by a no-replace write when the target name is already taken (by a
// file that existed before or one another writer put there meanwhile).
class FileExistsError : public FileError {
public:
    using FileError::FileError;
};

// A file refused before any of it is read: a folder, or a FIFO, device or
// socket ("<path>: is a folder", "<path>: not a regular file"). Readers pass
// it on unchanged so the user sees why.
class FileRefusedError : public FileError {
public:
    using FileError::FileError;
};

// A file larger than the memory budget: its bytes are never read.
class FileTooLargeError : public FileError {
public:
    FileTooLargeError(const std::string& path, std::uint64_t size, std::uint64_t budget);
};

// Decides, while a file is read, whether the bytes so far are all its reader
// needs, so bytes after them are never read.
class ReadEnough {
public:
    virtual ~ReadEnough() = default;
    // Looks at the first `size` bytes of the file (more on every call);
    // returns how many of them the reader needs once that is known, 0 while
    // it needs more.
    virtual std::size_t NeededOf(const std::uint8_t* data, std::size_t size) = 0;
};

// Every reader opens files the same way: without blocking, and only a
// regular file (or a symbolic link to one). A folder raises FileError
// "<path>: is a folder", a FIFO, device or socket "<path>: not a regular
// file"; other failures name the path and the system's reason.

// Reads the whole file: as many bytes as its size when opened, so a file
// that grows meanwhile cannot make the read endless. A file larger than the
// memory budget raises FileTooLargeError before anything is read. Raises
// FileError naming the path when the file cannot be opened or read.
std::vector<std::uint8_t> ReadWholeFile(const std::string& path);
// Same, into `bytes`, reusing its storage from file to file: only room
// beyond its current size is filled before the read overwrites it, so a
// buffer kept for files of one size costs nothing but the read.
// With `enough`, the file is read a piece at a time and the read stops as
// soon as `enough` has what it needs (`bytes` then holds just that); such a
// file may be larger than the budget as long as what is needed is not.
void ReadWholeFileInto(const std::string& path, std::vector<std::uint8_t>& bytes, ReadEnough* enough = nullptr);

// Reads at most `limit` bytes from the start of the file (fewer when the file
// is shorter). Raises FileError naming the path when it cannot be read.
std::vector<std::uint8_t> ReadFileHead(const std::string& path, std::size_t limit);
// Reads at most `limit` bytes from byte `offset` on (none past the end).
// Raises FileError naming the path when it cannot be read.
std::vector<std::uint8_t> ReadFileRange(const std::string& path, std::uint64_t offset, std::size_t limit);

enum class WriteMode {
    Replace,   // an existing file of the target's name is replaced (the user confirmed it)
    NoReplace, // an existing file is never replaced: FileExistsError instead
};

// One contiguous run of bytes of the file to write.
struct ByteSpan {
    const void* data = nullptr;
    std::size_t size = 0;
};

// Writes the spans one after the other as the file `path` (see above). On any
// error the temporary file is removed, `path` is left as it was, and
// FileError naming `path` is raised (FileExistsError for a taken name in
// NoReplace mode).
void WriteFileAtomically(const std::string& path, std::initializer_list<ByteSpan> pieces,
                         WriteMode mode = WriteMode::Replace);

inline void WriteFileAtomically(const std::string& path, const void* data, std::size_t size,
                                WriteMode mode = WriteMode::Replace)
{
    WriteFileAtomically(path, {ByteSpan{data, size}}, mode);
}

inline void WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes,
                                WriteMode mode = WriteMode::Replace)
{
    WriteFileAtomically(path, bytes.data(), bytes.size(), mode);
}

namespace detail {
class AtomicFile;
}

// The file of a streamed write (OutputTarget::WriteStreamed) while it is
// filled: bytes go in at any offset, as a writer that seeks back to patch
// its header needs. Each call reports a failure as an errno value, so it
// can be passed through a C library's callbacks without an exception.
class TemporaryFile {
public:
    explicit TemporaryFile(detail::AtomicFile& file) : file_(file) {}
    // Writes all `size` bytes at `offset`: 0, or the errno value of the failure.
    int WriteAt(std::uint64_t offset, const void* data, std::size_t size);
    // Reads up to `size` bytes at `offset` back: the count, or -1 with errno set.
    long long ReadAt(std::uint64_t offset, void* data, std::size_t size);
    // The end of the bytes written so far.
    std::uint64_t Size() const;

private:
    detail::AtomicFile& file_;
};

// Where a file goes: one path that may be replaced (the user confirmed it),
// or a sequence of names tried in turn, none of which is ever replaced.
class OutputTarget {
public:
    // One path, replaced when a file of that name exists.
    OutputTarget(std::string path) : path_(std::move(path)) {} // NOLINT: a path is a target
    // candidate(0), candidate(1), ... each written in NoReplace mode until
    // one is free: a name taken before or meanwhile (by another writer,
    // thread or program) moves the write on to the next name.
    static OutputTarget FirstFree(std::function<std::string(int attempt)> candidate);
    // One path written only when no file of that name exists: a taken name
    // raises FileExistsError (the caller skips the write).
    static OutputTarget OnlyIfFree(std::string path);

    // Calls `write(path, mode)` for the target's path, or for each candidate
    // until a call does not raise FileExistsError. Returns the path written.
    // Raises FileError when no free name turns up among kMaxAttempts.
    std::string WriteWith(const std::function<void(const std::string& path, WriteMode mode)>& write) const;

    // Fills one temporary file with `fill` (which returns 0, or the errno
    // value of a failed write: the write then fails with that reason) and
    // gives it the target's name, or the first free name of the batch's;
    // the file is written once however many names are tried. A file too
    // large to assemble in memory goes this way. Raises as WriteWith does;
    // anything `fill` raises passes through, the temporary file removed.
    std::string WriteStreamed(const std::function<int(TemporaryFile& file)>& fill) const;

    static constexpr int kMaxAttempts = 10000;

private:
    std::string path_;
    std::function<std::string(int)> candidate_;
    WriteMode pathMode_ = WriteMode::Replace;
};

// The suffix every temporary file ends in; a left-over one is recognisable.
inline constexpr const char* kTemporarySuffix = ".part";

// The steps of file input and output that tests can make fail.
enum class FileStep {
    OpenRead, // opening a file for reading
    Read,     // one read call
    Create,   // creating the temporary file (the unnamed or the named one)
    Write,    // one write call to the temporary file
    Sync,     // flushing the temporary file to disk (and closing it)
    Rename,   // putting the temporary file in place (linking or renaming)
    CreateUnnamed, // creating the unnamed file (failing it makes the writer use a named one)
};

// A test hook consulted before each step. `path` is the file the step serves
// (the target, not the temporary name); for Read and Write `bytes` holds the
// size of the call and may be lowered to make the call short. Returning 0
// lets the step run; returning an errno value (EIO, ENOSPC, ...) makes the
// step fail with that error as the system would.
using FileFaultHook = std::function<int(FileStep step, const std::string& path, std::size_t& bytes)>;

// Installs `hook` (an empty function removes it) and returns the earlier one.
// Meant for tests; the program never installs one.
FileFaultHook SetFileFaultHook(FileFaultHook hook);

// Installs a hook for the lifetime of a scope and puts the earlier one back.
class ScopedFileFault {
public:
    explicit ScopedFileFault(FileFaultHook hook) : earlier_(SetFileFaultHook(std::move(hook))) {}
    ~ScopedFileFault() { SetFileFaultHook(std::move(earlier_)); }
    ScopedFileFault(const ScopedFileFault&) = delete;
    ScopedFileFault& operator=(const ScopedFileFault&) = delete;

private:
    FileFaultHook earlier_;
};

} // namespace lumivane
