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

bool startsWith(const std::uint8_t* data, std::size_t size, const char* text, std::size_t textSize)
{
    return size >= textSize && std::memcmp(data, text, textSize) == 0;
}

// The identifiers below include their terminating zero byte.
constexpr char kIccId[] = "ICC_PROFILE";
constexpr char kXmpId[] = "http://ns.adobe.com/xap/1.0/";
constexpr char kExtendedXmpId[] = "http://ns.adobe.com/xmp/extension/";
constexpr char kIptcId[] = "Photoshop 3.0";
// An ICC chunk's payload: the identifier, its sequence number (from 1) and
// the number of chunks.
constexpr std::size_t kIccChunkHead = sizeof kIccId + 2;

// Which kind a section of marker code `code` with payload `payload` is, if
// it is one that is carried.
bool classify(std::uint8_t code, const std::uint8_t* payload, std::size_t size, CarriedKind& kind)
{
    if (code == 0xE2 && size >= kIccChunkHead && startsWith(payload, size, kIccId, sizeof kIccId))
        kind = CarriedKind::IccProfile;
    else if (code == 0xE1 && startsWith(payload, size, kXmpId, sizeof kXmpId))
        kind = CarriedKind::Xmp;
    else if (code == 0xE1 && startsWith(payload, size, kExtendedXmpId, sizeof kExtendedXmpId))
        kind = CarriedKind::ExtendedXmp;
    else if (code == 0xED && startsWith(payload, size, kIptcId, sizeof kIptcId))
        kind = CarriedKind::Iptc;
    else
        return false;
    return true;
}

// A part of a profile is worse than none: a reader would reject the file's
// colours or guess them. The chunks must be 1..n of one n, each once.
bool iccComplete(const std::uint8_t* head, const std::vector<CarriedSection>& sections)
{
    std::vector<bool> seen;
    std::size_t count = 0;
    for (const CarriedSection& s : sections) {
        if (s.kind != CarriedKind::IccProfile)
            continue;
        // Past the marker (2), length field (2) and identifier.
        const std::uint8_t* numbers = head + s.offset + 4 + sizeof kIccId;
        const std::size_t sequence = numbers[0];
        const std::size_t total = numbers[1];
        if (seen.empty())
            seen.assign(total + 1, false);
        if (total == 0 || total + 1 != seen.size() || sequence == 0 || sequence > total || seen[sequence])
            return false;
        seen[sequence] = true;
        ++count;
    }
    return seen.empty() || count + 1 == seen.size();
}

ExifHead found(std::size_t size)
{
    return ExifHead{TransplantResult::Transplanted, size};
}

ExifHead outcome(TransplantResult result)
{
    return ExifHead{result, 0};
}

// The bytes of the sections to carry, back to back. `sourceHead` holds the
// first bytes of the source; when the section list runs past them and the
// file goes on, more of its head is read (up to kCarryReadLimit) into a
// buffer of its own, so that the EXIF head's bytes stay those checked even
// if the file changes meanwhile.
std::vector<std::uint8_t> findCarried(const std::string& sourceFile, const std::vector<std::uint8_t>& sourceHead,
                                      std::size_t from)
{
    std::vector<std::uint8_t> longer;
    const std::vector<std::uint8_t>* bytes = &sourceHead;
    std::size_t limit = kExifHeadReadLimit;
    CarriedSections walk = FindCarriedSections(bytes->data(), bytes->size(), from);
    // A short read means the whole file is at hand; otherwise read on to
    // the section the walk stopped at, doubling to keep the re-reads few.
    while (walk.bytesNeeded > bytes->size() && bytes->size() == limit && limit < kCarryReadLimit) {
        limit = std::min(std::max(limit * 2, walk.bytesNeeded), kCarryReadLimit);
        longer = ReadFileHead(sourceFile, limit);
        bytes = &longer;
        walk = FindCarriedSections(bytes->data(), bytes->size(), from);
    }
    std::vector<std::uint8_t> carried;
    for (const CarriedSection& s : walk.sections)
        carried.insert(carried.end(), bytes->begin() + std::ptrdiff_t(s.offset),
                       bytes->begin() + std::ptrdiff_t(s.offset + s.size));
    return carried;
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

CarriedSections FindCarriedSections(const std::uint8_t* head, std::size_t size, std::size_t from)
{
    CarriedSections result;
    if (size < 2 || head[0] != 0xFF || head[1] != 0xD8)
        return result;
    std::size_t pos = 2;
    for (;;) {
        if (size - pos < 2) {
            result.bytesNeeded = pos + 2;
            break;
        }
        if (head[pos] != 0xFF)
            break; // not a marker: the list is malformed here
        const std::uint8_t code = head[pos + 1];
        if (code == 0xFF) {
            ++pos; // a fill byte before a marker
            continue;
        }
        // Start of scan or end of image ends the head; markers without a
        // length (SOI, RSTn, TEM) and a stuffed zero have no place in it.
        if (code == 0xDA || code == 0xD9 || code == 0xD8 || code == 0x01 || code == 0x00 ||
            (code >= 0xD0 && code <= 0xD7))
            break;
        if (size - pos < 4) {
            result.bytesNeeded = pos + 4;
            break;
        }
        const std::size_t length = bigEndian16(head + pos + 2);
        if (length < 2)
            break;
        if (size - pos - 2 < length) {
            result.bytesNeeded = pos + 2 + length;
            break;
        }
        CarriedKind kind{};
        if (pos >= from && classify(code, head + pos + 4, length - 2, kind))
            result.sections.push_back(CarriedSection{kind, pos, length + 2});
        pos += 2 + length;
    }
    if (!iccComplete(head, result.sections))
        std::erase_if(result.sections, [](const CarriedSection& s) { return s.kind == CarriedKind::IccProfile; });
    return result;
}

TransplantResult WriteJpegWithExif(const std::uint8_t* encoded, std::size_t size, const std::string& sourceFile,
                                   const std::string& outPath, WriteMode mode)
{
    std::vector<std::uint8_t> sourceHead;
    std::vector<std::uint8_t> carried;
    ExifHead head = outcome(TransplantResult::SourceMissing);
    // A source that cannot be read must not cost the user the photograph:
    // the output is written without EXIF first and the error raised after.
    std::exception_ptr sourceError;
    if (sourceExists(sourceFile)) {
        try {
            sourceHead = ReadFileHead(sourceFile, kExifHeadReadLimit);
            head = FindExifHead(sourceHead.data(), std::min(sourceHead.size(), kExifHeadReadLimit));
            if (head.result == TransplantResult::Transplanted && !hasEncoderHead(encoded, size))
                head = outcome(TransplantResult::Skipped);
            if (hasEncoderHead(encoded, size))
                carried = findCarried(sourceFile, sourceHead, head.size);
        } catch (const FileError&) {
            sourceError = std::current_exception();
            head = outcome(TransplantResult::Skipped);
            carried.clear();
        }
    }
    if (carried.empty()) {
        // Without a head to put in front, the file is the encoder's output as is.
        const std::size_t skip = head.result == TransplantResult::Transplanted ? kEncoderHeadSize : 0;
        WriteFileAtomically(outPath,
                            {ByteSpan{sourceHead.data(), head.size}, ByteSpan{encoded + skip, size - skip}}, mode);
    } else {
        // The EXIF head, or else the encoder's own head, then the carried
        // sections, then the encoded data after the encoder's head.
        const ByteSpan front = head.result == TransplantResult::Transplanted
                                   ? ByteSpan{sourceHead.data(), head.size}
                                   : ByteSpan{encoded, kEncoderHeadSize};
        WriteFileAtomically(outPath,
                            {front, ByteSpan{carried.data(), carried.size()},
                             ByteSpan{encoded + kEncoderHeadSize, size - kEncoderHeadSize}},
                            mode);
    }
    if (sourceError)
        std::rethrow_exception(sourceError);
    return head.result;
}

} // namespace lumivane
