#include "ExifTransplant.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <sys/stat.h>

namespace lumivane {

namespace {

// The JFIF case searches this many bytes of the source at most.
constexpr std::size_t kMaxJfifSearch = 65535;
// SOI (2 bytes) + APP0 marker (2) + APP0 section of length 16: the head every
// output of our encoder starts with, replaced by the source's head.
constexpr std::size_t kEncoderHeadSize = 20;

constexpr std::uint8_t kSoiApp1[] = {0xFF, 0xD8, 0xFF, 0xE1};
constexpr std::uint8_t kSoiApp0[] = {0xFF, 0xD8, 0xFF, 0xE0};

unsigned bigEndian16(const std::uint8_t* p)
{
    return (unsigned(p[0]) << 8) | p[1];
}

bool sourceExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// Dropping 20 bytes is right only for the encoder's own head (SOI and an
// APP0 section of length 16); anything else is left alone rather than cut in
// the middle of a section.
bool hasEncoderHead(const std::uint8_t* data, std::size_t size)
{
    static constexpr std::uint8_t kExpected[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10};
    return size >= kEncoderHeadSize && std::memcmp(data, kExpected, sizeof kExpected) == 0;
}

ExifHead found(std::size_t size)
{
    return ExifHead{TransplantResult::Transplanted, size};
}

ExifHead outcome(TransplantResult result)
{
    return ExifHead{result, 0};
}

} // namespace

std::string SourceMissingMessage(const std::string& path)
{
    return "Can not access " + path + ". Exiting...";
}

ExifHead FindExifHead(const std::uint8_t* head, std::size_t size)
{
    if (size < 4)
        return outcome(TransplantResult::Skipped);

    if (std::memcmp(head, kSoiApp1, 4) == 0) {
        if (size < 6)
            return outcome(TransplantResult::Skipped);
        const std::size_t length = bigEndian16(head + 4);
        // A length below 2 cannot count its own field; a section running
        // past the bytes at hand is not copied.
        if (length < 2 || length + 4 > size)
            return outcome(TransplantResult::Skipped);
        return found(length + 4);
    }

    if (std::memcmp(head, kSoiApp0, 4) == 0) {
        const std::size_t n = std::min(size, kMaxJfifSearch);
        // A plain byte search for the first 0xFF 0xE1 pair; a pair whose
        // length field reads 0 is not an APP1 section and the search goes on.
        for (std::size_t j = 0; j + 1 < n; ++j) {
            if (head[j] != 0xFF || head[j + 1] != 0xE1)
                continue;
            if (j + 3 >= n)
                return outcome(TransplantResult::Skipped); // length field beyond the bytes read
            const std::size_t length = bigEndian16(head + j + 2);
            if (length == 0)
                continue;
            if (length < 2 || j + 2 + length > n)
                return outcome(TransplantResult::Skipped); // section runs past the bytes read
            return found(j + 2 + length);
        }
        return outcome(TransplantResult::NoExifFound);
    }

    return outcome(TransplantResult::NotApplicable);
}

TransplantResult WriteJpegWithExif(const std::uint8_t* encoded, std::size_t size, const std::string& sourceFile,
                                   const std::string& outPath, WriteMode mode)
{
    std::vector<std::uint8_t> sourceHead;
    ExifHead head = outcome(TransplantResult::SourceMissing);
    // A source that cannot be read must not cost the user the photograph:
    // the output is written without EXIF first and the error raised after.
    std::exception_ptr sourceError;
    if (sourceExists(sourceFile)) {
        try {
            sourceHead = ReadFileHead(sourceFile, kExifHeadReadLimit);
            head = FindExifHead(sourceHead.data(), sourceHead.size());
        } catch (const FileError&) {
            sourceError = std::current_exception();
            head = outcome(TransplantResult::Skipped);
        }
        if (head.result == TransplantResult::Transplanted && !hasEncoderHead(encoded, size))
            head = outcome(TransplantResult::Skipped);
    }
    // Without a head to put in front, the file is the encoder's output as is.
    const std::size_t skip = head.result == TransplantResult::Transplanted ? kEncoderHeadSize : 0;
    WriteFileAtomically(outPath, {ByteSpan{sourceHead.data(), head.size}, ByteSpan{encoded + skip, size - skip}},
                        mode);
    if (sourceError)
        std::rethrow_exception(sourceError);
    return head.result;
}

} // namespace lumivane
