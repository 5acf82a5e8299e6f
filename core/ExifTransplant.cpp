#include "ExifTransplant.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace lumivane {

namespace {

// One block serves for the source's head and then for copying the output.
constexpr std::size_t kBufferSize = 65536;
// The JFIF case searches this many bytes of the source at most.
constexpr std::size_t kMaxSourceHead = 65535;
// SOI (2 bytes) + APP0 marker (2) + APP0 section of length 16: the head every
// output of our encoder starts with, replaced by the source's head.
constexpr std::size_t kEncoderHeadSize = 20;
// The copied head (SOI, APP1 marker, APP1 section of length L) must fit the
// buffer: L + 4 <= 65536.
constexpr unsigned kMaxApp1FirstLength = kBufferSize - 4;

constexpr std::array<std::uint8_t, 4> kSoiApp1 = {0xFF, 0xD8, 0xFF, 0xE1};
constexpr std::array<std::uint8_t, 4> kSoiApp0 = {0xFF, 0xD8, 0xFF, 0xE0};

// Owns a file descriptor; closes it on every path out.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    int get() const { return fd_; }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

std::string reason(int err)
{
    return std::strerror(err);
}

// The file operations of one transplant, each able to fail on request so the
// tests can check the clean-up of every path.
class TransplantFiles {
public:
    explicit TransplantFiles(const TransplantFault& fault) : fault_(fault) {}

    int openRead(const std::string& path, TransplantStep step)
    {
        if (injected(step))
            fail("Cannot open", path);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            fail("Cannot open", path);
        return fd;
    }

    int create(const std::string& path)
    {
        if (injected(TransplantStep::CreateTemp))
            fail("Cannot create", path);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0)
            fail("Cannot create", path);
        return fd;
    }

    // Reads up to `size` bytes, fewer only at the end of the file.
    std::size_t read(int fd, std::uint8_t* data, std::size_t size, TransplantStep step,
                     const std::string& path)
    {
        if (injected(step))
            fail("Cannot read", path);
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::read(fd, data + done, size - done);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                fail("Cannot read", path);
            }
            if (n == 0)
                break;
            done += std::size_t(n);
        }
        return done;
    }

    void write(int fd, const std::uint8_t* data, std::size_t size, const std::string& path)
    {
        if (injected(TransplantStep::WriteTemp))
            fail("Cannot write", path);
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(fd, data + done, size - done);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                fail("Cannot write", path);
            }
            done += std::size_t(n);
        }
    }

    // Flushes and closes the new file: a rename must never put a file in
    // place whose data may still be lost.
    void finish(Fd& fd, const std::string& path)
    {
        if (injected(TransplantStep::CloseTemp))
            fail("Cannot write", path);
        if (::fdatasync(fd.get()) != 0)
            fail("Cannot write", path);
        if (::close(fd.release()) != 0)
            fail("Cannot write", path);
    }

    void rename(const std::string& from, const std::string& to)
    {
        if (injected(TransplantStep::Rename))
            fail("Cannot replace", to);
        if (std::rename(from.c_str(), to.c_str()) != 0)
            fail("Cannot replace", to);
    }

private:
    bool injected(TransplantStep step)
    {
        if (fault_.step != step)
            return false;
        if (++count_ != fault_.occurrence)
            return false;
        errno = EIO;
        return true;
    }

    // Captures errno before building the message, which may allocate.
    [[noreturn]] static void fail(const char* verb, const std::string& path)
    {
        const int err = errno;
        throw TransplantError(std::string(verb) + " " + path + ": " + reason(err));
    }

    TransplantFault fault_;
    int count_ = 0;
};

// Removes the temporary file unless it was renamed into place.
class TempFileGuard {
public:
    explicit TempFileGuard(std::string path) : path_(std::move(path)) {}
    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;
    ~TempFileGuard()
    {
        if (!committed_)
            ::unlink(path_.c_str());
    }
    void commit() { committed_ = true; }

private:
    std::string path_;
    bool committed_ = false;
};

bool startsWith(const std::uint8_t* data, const std::array<std::uint8_t, 4>& pattern)
{
    return std::memcmp(data, pattern.data(), pattern.size()) == 0;
}

bool sourceExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

unsigned bigEndian16(const std::uint8_t* p)
{
    return (unsigned(p[0]) << 8) | p[1];
}

enum class HeadOutcome { Found, NoExif, NotApplicable, Skipped };

// Reads the source's head into `buffer` and finds how many of its bytes to
// copy: through the end of its first APP1 section. Never looks past the
// bytes actually read.
HeadOutcome readSourceHead(TransplantFiles& files, int fd, const std::string& path,
                           std::uint8_t* buffer, std::size_t& headSize)
{
    std::size_t got = files.read(fd, buffer, 4, TransplantStep::ReadSource, path);
    if (got < 4)
        return HeadOutcome::Skipped;

    if (startsWith(buffer, kSoiApp1)) {
        got += files.read(fd, buffer + 4, 2, TransplantStep::ReadSource, path);
        if (got < 6)
            return HeadOutcome::Skipped;
        const unsigned length = bigEndian16(buffer + 4);
        // A length below 2 cannot count its own field; above the limit the
        // head would not fit the buffer.
        if (length < 2 || length > kMaxApp1FirstLength)
            return HeadOutcome::Skipped;
        headSize = std::size_t(length) + 4;
        got += files.read(fd, buffer + 6, headSize - 6, TransplantStep::ReadSource, path);
        return got == headSize ? HeadOutcome::Found : HeadOutcome::Skipped;
    }

    if (startsWith(buffer, kSoiApp0)) {
        const std::size_t n =
            got + files.read(fd, buffer + 4, kMaxSourceHead - 4, TransplantStep::ReadSource, path);
        // A plain byte search for the first 0xFF 0xE1 pair; a pair whose
        // length field reads 0 is not an APP1 section and the search goes on.
        for (std::size_t j = 0; j + 1 < n; ++j) {
            if (buffer[j] != 0xFF || buffer[j + 1] != 0xE1)
                continue;
            if (j + 3 >= n)
                return HeadOutcome::Skipped; // length field beyond the bytes read
            const unsigned length = bigEndian16(buffer + j + 2);
            if (length == 0)
                continue;
            if (length < 2 || j + 2 + length > n)
                return HeadOutcome::Skipped; // section runs past the bytes read
            headSize = j + 2 + length;
            return HeadOutcome::Found;
        }
        return HeadOutcome::NoExif;
    }

    return HeadOutcome::NotApplicable;
}

// Dropping 20 bytes is right only for the encoder's own head (SOI and an
// APP0 section of length 16); anything else is left alone rather than cut in
// the middle of a section.
bool hasEncoderHead(const std::uint8_t* data, std::size_t size)
{
    static constexpr std::uint8_t kExpected[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10};
    return size >= kEncoderHeadSize && std::memcmp(data, kExpected, sizeof kExpected) == 0;
}

// Reads the source's head into `buffer`; Transplanted means `headSize` bytes
// of it are to go in front of the output.
TransplantResult sourceHead(TransplantFiles& files, const std::string& sourceFile,
                            std::uint8_t* buffer, std::size_t& headSize)
{
    Fd source(files.openRead(sourceFile, TransplantStep::OpenSource));
    switch (readSourceHead(files, source.get(), sourceFile, buffer, headSize)) {
    case HeadOutcome::Found:
        return TransplantResult::Transplanted;
    case HeadOutcome::NoExif:
        return TransplantResult::NoExifFound;
    case HeadOutcome::NotApplicable:
        return TransplantResult::NotApplicable;
    case HeadOutcome::Skipped:
        break;
    }
    return TransplantResult::Skipped;
}

} // namespace

std::string SourceMissingMessage(const std::string& path)
{
    return "Can not access " + path + ". Exiting...";
}

TransplantResult CopyExif(const std::string& sourceFile, const std::string& outPath)
{
    return CopyExif(sourceFile, outPath, TransplantFault{});
}

TransplantResult CopyExif(const std::string& sourceFile, const std::string& outPath,
                          const TransplantFault& fault)
{
    if (!sourceExists(sourceFile))
        return TransplantResult::SourceMissing;

    TransplantFiles files(fault);
    const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kBufferSize]);
    std::size_t headSize = 0;
    const TransplantResult head = sourceHead(files, sourceFile, buffer.get(), headSize);
    if (head != TransplantResult::Transplanted)
        return head;

    Fd output(files.openRead(outPath, TransplantStep::OpenOutput));
    std::array<std::uint8_t, kEncoderHeadSize> outputHead{};
    const std::size_t outputHeadSize = files.read(output.get(), outputHead.data(), outputHead.size(),
                                                  TransplantStep::ReadOutput, outPath);
    if (!hasEncoderHead(outputHead.data(), outputHeadSize))
        return TransplantResult::Skipped;

    const std::string tempPath = outPath + ".temp";
    Fd temp(files.create(tempPath));
    TempFileGuard guard(tempPath);
    files.write(temp.get(), buffer.get(), headSize, tempPath);
    for (;;) {
        const std::size_t n =
            files.read(output.get(), buffer.get(), kBufferSize, TransplantStep::ReadOutput, outPath);
        if (n == 0)
            break;
        files.write(temp.get(), buffer.get(), n, tempPath);
    }
    output.reset();
    files.finish(temp, tempPath);
    // rename() replaces the output in one step: there is no moment without
    // a complete file under its name.
    files.rename(tempPath, outPath);
    guard.commit();
    return TransplantResult::Transplanted;
}

TransplantResult WriteJpegWithExif(const std::vector<std::uint8_t>& encoded,
                                   const std::string& sourceFile, const std::string& outPath)
{
    return WriteJpegWithExif(encoded.data(), encoded.size(), sourceFile, outPath, TransplantFault{});
}

TransplantResult WriteJpegWithExif(const std::vector<std::uint8_t>& encoded,
                                   const std::string& sourceFile, const std::string& outPath,
                                   const TransplantFault& fault)
{
    return WriteJpegWithExif(encoded.data(), encoded.size(), sourceFile, outPath, fault);
}

TransplantResult WriteJpegWithExif(const std::uint8_t* encoded, std::size_t size,
                                   const std::string& sourceFile, const std::string& outPath)
{
    return WriteJpegWithExif(encoded, size, sourceFile, outPath, TransplantFault{});
}

TransplantResult WriteJpegWithExif(const std::uint8_t* encoded, std::size_t size,
                                   const std::string& sourceFile, const std::string& outPath,
                                   const TransplantFault& fault)
{
    TransplantFiles files(fault);
    const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kBufferSize]);
    std::size_t headSize = 0;
    TransplantResult result = TransplantResult::SourceMissing;
    // A source that cannot be read must not cost the user the photograph:
    // the output is written without EXIF first and the error raised after,
    // as when the transplant runs on a file already saved.
    std::exception_ptr sourceError;
    if (sourceExists(sourceFile)) {
        try {
            result = sourceHead(files, sourceFile, buffer.get(), headSize);
        } catch (const TransplantError&) {
            sourceError = std::current_exception();
            result = TransplantResult::Skipped;
        }
        if (result == TransplantResult::Transplanted && !hasEncoderHead(encoded, size))
            result = TransplantResult::Skipped;
    }
    // Without a head to put in front, the file is the encoder's output as is.
    const std::size_t skip = result == TransplantResult::Transplanted ? kEncoderHeadSize : 0;
    if (result != TransplantResult::Transplanted)
        headSize = 0;

    const std::string tempPath = outPath + ".temp";
    Fd temp(files.create(tempPath));
    TempFileGuard guard(tempPath);
    files.write(temp.get(), buffer.get(), headSize, tempPath);
    files.write(temp.get(), encoded + skip, size - skip, tempPath);
    files.finish(temp, tempPath);
    files.rename(tempPath, outPath);
    guard.commit();
    if (sourceError)
        std::rethrow_exception(sourceError);
    return result;
}

} // namespace lumivane
