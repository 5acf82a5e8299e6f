// SPDX-License-Identifier: GPL-3.0-or-later
#include "ExifTransplant.h"

#include "TiffReader.h"

#include "ByteReader.h"
#include "JpegMetadataBlocks.h"
#include "OutputMetadata.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <optional>
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
    return ExifHead{TransplantResult::Transplanted, 0, size};
}

ExifHead outcome(TransplantResult result)
{
    return ExifHead{result, 0, 0};
}

bool isExifPayload(const ByteReader& reader, std::int64_t payload, std::size_t size)
{
    static constexpr std::uint8_t kExifId[] = {'E', 'x', 'i', 'f', 0, 0};
    if (size < sizeof kExifId)
        return false;
    for (std::size_t i = 0; i < sizeof kExifId; ++i)
        if (reader.Byte(payload + std::int64_t(i)) != kExifId[i])
            return false;
    return true;
}

// A JFIF source (SOI + APP0): its sections are walked from SOI. The usual
// file has its APP1 in the run of APPn and comment sections right after
// SOI; everything through that APP1 is then a valid head for the encoder's
// tables and scan, and is copied whole. An APP1 anywhere else (after the
// tables or frame header) cannot take the head along without doubling
// them, so only an EXIF APP1 found there is copied, alone, behind the
// encoder's own head. An Adobe APP14 in the run could turn the decoder's
// colour transform off, so a head holding one is never copied whole.
// A malformed or cut section inside the run means the head cannot be
// trusted (Skipped); one after the run ends the walk.
ExifHead findJfifExif(const std::uint8_t* head, std::size_t size)
{
    const ByteReader reader(head, size, true);
    bool inLeadingRun = true;
    bool adobeInRun = false;
    const ExifHead broken = outcome(TransplantResult::Skipped);
    const ExifHead none = outcome(TransplantResult::NoExifFound);
    std::int64_t pos = 3; // 1-based: the marker after SOI
    for (;;) {
        if (!reader.Contains(pos, 2) || reader.Byte(pos) != 0xFF)
            return inLeadingRun ? broken : none;
        const std::uint8_t code = reader.Byte(pos + 1);
        if (code == 0xFF) {
            ++pos; // a fill byte before a marker
            continue;
        }
        // Start of scan or end of image ends the head; markers without a
        // length have no place in it.
        if (code == 0xDA || code == 0xD9)
            return none;
        if (code == 0xD8 || code == 0x01 || code == 0x00 || (code >= 0xD0 && code <= 0xD7))
            return inLeadingRun ? broken : none;
        const bool appOrComment = (code >= 0xE0 && code <= 0xEF) || code == 0xFE;
        if (!appOrComment)
            inLeadingRun = false;
        if (!reader.Contains(pos + 2, 2))
            return inLeadingRun ? broken : none;
        const std::size_t length = reader.Read16BigEndian(pos + 2);
        if (length < 2 || !reader.Contains(pos + 2, std::int64_t(length)))
            return inLeadingRun ? broken : none;
        const std::size_t start = std::size_t(pos - 1);
        if (code == 0xE1) {
            if (inLeadingRun && !adobeInRun)
                return found(start + 2 + length);
            if (isExifPayload(reader, pos + 4, length - 2))
                return ExifHead{TransplantResult::Transplanted, start, length + 2};
        }
        if (code == 0xEE && inLeadingRun)
            adobeInRun = true;
        pos += std::int64_t(2 + length);
    }
}

// Up to n bytes from the start of the source.
using HeadReader = std::function<std::vector<std::uint8_t>(std::size_t n)>;

// The bytes of the sections to carry, back to back. `sourceHead` holds the
// first bytes of the source; when the section list runs past them and the
// file goes on, more of its head is read (up to kCarryReadLimit) into a
// buffer of its own, so that the EXIF head's bytes stay those checked even
// if the file changes meanwhile.
std::vector<std::uint8_t> findCarried(const HeadReader& readHead, const std::vector<std::uint8_t>& sourceHead,
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
        longer = readHead(limit);
        bytes = &longer;
        walk = FindCarriedSections(bytes->data(), bytes->size(), from);
    }
    std::vector<std::uint8_t> carried;
    for (const CarriedSection& s : walk.sections)
        carried.insert(carried.end(), bytes->begin() + std::ptrdiff_t(s.offset),
                       bytes->begin() + std::ptrdiff_t(s.offset + s.size));
    return carried;
}

// What goes into the file: the source bytes it takes and where they go.
struct Transplant {
    ExifHead head = outcome(TransplantResult::SourceMissing);
    std::vector<std::uint8_t> sourceHead;
    std::vector<std::uint8_t> carried;
    // When the EXIF block was rewritten: the bytes that take the place of
    // the head's bytes (the sections before the APP1, then the new APP1).
    std::vector<std::uint8_t> rewritten;
    MetadataReport report;
};

// Where the last section of the head's bytes [offset, offset + size)
// starts: the EXIF head always ends with its APP1 section.
std::optional<std::size_t> lastSectionStart(const std::vector<std::uint8_t>& bytes, const ExifHead& head)
{
    if (head.offset > 0)
        return head.offset;
    std::size_t pos = 2;
    while (pos + 4 <= head.size && pos + 4 <= bytes.size()) {
        if (bytes[pos] != 0xFF)
            return std::nullopt;
        if (bytes[pos + 1] == 0xFF) {
            ++pos;
            continue;
        }
        const std::size_t next = pos + 2 + bigEndian16(&bytes[pos + 2]);
        if (next == head.size)
            return pos;
        pos = next;
    }
    return std::nullopt;
}

// The thumbnail of the written picture: from its reduced copy when the
// save made one, else from the encoded file decoded reduced.
ThumbnailMaker thumbnailMaker(const std::uint8_t* encoded, std::size_t size, const OutputPicture& picture)
{
    ThumbnailMaker decoded = ThumbnailOfJpeg(encoded, size);
    return picture.reduced ? ThumbnailOfReducedPicture(picture.reduced, std::move(decoded)) : decoded;
}

// Rewrites the EXIF APP1 of the head to describe `picture`. A section that
// is not EXIF, or a block that cannot be parsed, stays as it is.
void describePicture(const std::uint8_t* encoded, std::size_t size, const OutputPicture& picture, Transplant& plan)
{
    const std::optional<std::size_t> start = lastSectionStart(plan.sourceHead, plan.head);
    if (!start)
        return;
    const std::size_t end = plan.head.offset + plan.head.size;
    const std::uint8_t* payload = plan.sourceHead.data() + *start + 4;
    const std::size_t payloadSize = end - *start - 4;
    static constexpr char kExifId[] = {'E', 'x', 'i', 'f', 0, 0};
    if (!startsWith(payload, payloadSize, kExifId, sizeof kExifId))
        return;
    try {
        const ExifBlock block = DescribeWrittenPicture(payload + sizeof kExifId, payloadSize - sizeof kExifId,
                                                       picture.width, picture.height, thumbnailMaker(encoded, size, picture));
        plan.rewritten.assign(plan.sourceHead.begin() + std::ptrdiff_t(plan.head.offset),
                              plan.sourceHead.begin() + std::ptrdiff_t(*start));
        const std::vector<std::uint8_t> app1 = ExifSection(block.tiff);
        plan.rewritten.insert(plan.rewritten.end(), app1.begin(), app1.end());
        plan.report.thumbnail = block.thumbnail;
        plan.report.makerNoteDropped = block.makerNoteDropped;
    } catch (const std::exception&) {
        // A block this program cannot walk is still the source's metadata:
        // it is copied as it is rather than lost.
        plan.rewritten.clear();
    }
}

// A TIFF photograph's metadata made into the sections of a JPEG.
void planFromTiff(const RangeReader& readRange, const OutputPicture& picture, Transplant& plan)
{
    SourceMetadata meta;
    try {
        meta = ReadSourceMetadataOfTiff(readRange, picture.width, picture.height);
    } catch (const MetadataError&) {
        return; // a TIFF whose directories cannot be walked gives nothing
    }
    plan.report.fromTiff = true;
    plan.report.makerNoteDropped = meta.exif.makerNoteDropped;
    if (!meta.exif.tiff.empty()) {
        plan.rewritten = ExifSection(meta.exif.tiff);
        plan.head = ExifHead{TransplantResult::Transplanted, 0, 0};
    }
    for (const auto& piece : {IccSections(meta.icc), XmpSection(meta.xmp), IptcSection(meta.iptc)})
        plan.carried.insert(plan.carried.end(), piece.begin(), piece.end());
}

// Reads what is needed of the source through `readHead` (and `readRange`
// for a TIFF) and decides the file. Raises what the readers raise.
void planTransplant(const std::uint8_t* encoded, std::size_t size, const HeadReader& readHead,
                    const RangeReader& readRange, const OutputPicture& picture, Transplant& plan)
{
    plan.sourceHead = readHead(kExifHeadReadLimit);
    plan.head = FindExifHead(plan.sourceHead.data(), std::min(plan.sourceHead.size(), kExifHeadReadLimit));
    if (!hasEncoderHead(encoded, size)) {
        if (plan.head.result == TransplantResult::Transplanted)
            plan.head = outcome(TransplantResult::Skipped);
        return;
    }
    const bool describe = picture.width > 0 && picture.height > 0;
    if (describe && plan.head.result == TransplantResult::NotApplicable &&
        IsTiffHead(plan.sourceHead.data(), plan.sourceHead.size())) {
        planFromTiff(readRange, picture, plan);
        return;
    }
    // A whole head copied holds the sections before its end already; an
    // EXIF section copied alone leaves every carried section to be found.
    const bool wholeHead = plan.head.result == TransplantResult::Transplanted && plan.head.offset == 0;
    plan.carried = findCarried(readHead, plan.sourceHead, wholeHead ? plan.head.size : 0);
    if (describe && plan.head.result == TransplantResult::Transplanted)
        describePicture(encoded, size, picture, plan);
}

// The file's pieces in order: the source's head through its EXIF section
// in place of the encoder's head, or the encoder's head followed by the
// EXIF section alone; then the carried sections and the rest of the
// encoder's output. With nothing to add, the encoder's output as it is.
struct Pieces {
    ByteSpan front, exif, carried, rest;
};

Pieces piecesOf(const std::uint8_t* encoded, std::size_t size, const Transplant& plan)
{
    const ExifHead& head = plan.head;
    const bool transplanted = head.result == TransplantResult::Transplanted;
    if (!transplanted && plan.carried.empty())
        return Pieces{{}, {}, {}, ByteSpan{encoded, size}};
    const ByteSpan carried{plan.carried.data(), plan.carried.size()};
    const ByteSpan rest{encoded + kEncoderHeadSize, size - kEncoderHeadSize};
    const bool fromTiff = plan.report.fromTiff;
    const ByteSpan source = plan.rewritten.empty() ? ByteSpan{plan.sourceHead.data() + head.offset, head.size}
                                                   : ByteSpan{plan.rewritten.data(), plan.rewritten.size()};
    if (transplanted && head.offset == 0 && !fromTiff)
        return Pieces{source, {}, carried, rest};
    return Pieces{ByteSpan{encoded, kEncoderHeadSize}, transplanted ? source : ByteSpan{}, carried, rest};
}

// The IPTC-IIM records inside a Photoshop resource block (APP13 payload
// after its identifier): the data of resource 0x0404, or nothing.
void appendIptcRecords(const std::uint8_t* block, std::size_t size, std::vector<std::uint8_t>& out)
{
    std::size_t at = 0;
    // Each resource: "8BIM", its id (2), a Pascal name padded to even
    // length, its data size (4) and the data padded to even length.
    while (at + 4 + 2 + 1 <= size && std::memcmp(block + at, "8BIM", 4) == 0) {
        const unsigned id = bigEndian16(block + at + 4);
        std::size_t name = 1 + std::size_t(block[at + 6]);
        name += name % 2;
        const std::size_t sizeAt = at + 6 + name;
        if (sizeAt + 4 > size)
            return;
        const std::size_t dataSize = (std::size_t(block[sizeAt]) << 24) | (std::size_t(block[sizeAt + 1]) << 16) |
                                     (std::size_t(block[sizeAt + 2]) << 8) | block[sizeAt + 3];
        const std::size_t data = sizeAt + 4;
        if (dataSize > size - data)
            return;
        if (id == 0x0404)
            out.insert(out.end(), block + data, block + data + dataSize);
        at = data + dataSize + dataSize % 2;
    }
}

} // namespace

TiffMetadata TiffMetadataOfJpegSections(const std::uint8_t* sections, std::size_t size)
{
    TiffMetadata metadata;
    std::vector<std::vector<std::uint8_t>> iccChunks;
    for (std::size_t at = 0; at + 4 <= size;) {
        const std::size_t length = bigEndian16(sections + at + 2);
        if (sections[at] != 0xFF || length < 2 || length - 2 > size - at - 4)
            break;
        const std::uint8_t* payload = sections + at + 4;
        const std::size_t payloadSize = length - 2;
        CarriedKind kind;
        if (classify(sections[at + 1], payload, payloadSize, kind)) {
            switch (kind) {
            case CarriedKind::IccProfile: {
                // FindCarriedSections keeps the chunks only as a complete
                // set: each sequence number 1..n once.
                const std::size_t sequence = payload[sizeof kIccId];
                const std::size_t total = payload[sizeof kIccId + 1];
                iccChunks.resize(total);
                if (sequence >= 1 && sequence <= total)
                    iccChunks[sequence - 1].assign(payload + kIccChunkHead, payload + payloadSize);
                break;
            }
            case CarriedKind::Xmp:
                metadata.xmp.assign(payload + sizeof kXmpId, payload + payloadSize);
                break;
            case CarriedKind::Iptc:
                appendIptcRecords(payload + sizeof kIptcId, payloadSize - sizeof kIptcId, metadata.iptc);
                break;
            case CarriedKind::ExtendedXmp:
                break; // a TIFF's XMP tag has no room for the extension
            }
        }
        at += 2 + length;
    }
    for (const std::vector<std::uint8_t>& chunk : iccChunks)
        metadata.icc.insert(metadata.icc.end(), chunk.begin(), chunk.end());
    return metadata;
}

TiffMetadata TiffMetadataOfSource(const std::string& sourceFile, const OutputPicture& picture,
                                  MetadataReport* report)
{
    if (!sourceExists(sourceFile))
        return TiffMetadata();
    const HeadReader readHead = [&](std::size_t n) { return ReadFileHead(sourceFile, n); };
    const std::vector<std::uint8_t> head = readHead(kExifHeadReadLimit);
    const bool describe = picture.width > 0 && picture.height > 0;
    TiffMetadata metadata;
    ExifBlock exif;
    if (head.size() >= 2 && head[0] == 0xFF && head[1] == 0xD8) {
        const std::vector<std::uint8_t> carried = findCarried(readHead, head, 0);
        metadata = TiffMetadataOfJpegSections(carried.data(), carried.size());
        if (describe)
            exif = JpegMetadataBlocks(head.data(), head.size(), picture.width, picture.height, nullptr).exif;
    } else if (head.size() >= 4 && ((head[0] == 'I' && head[1] == 'I') || (head[0] == 'M' && head[1] == 'M'))) {
        metadata = ReadTiffMetadata(sourceFile);
        if (describe) {
            try {
                // A TIFF output has no 64 KiB limit: every value comes along.
                exif = ReadSourceMetadataOfTiff(
                           [&](std::uint64_t offset, std::size_t n) { return ReadFileRange(sourceFile, offset, n); },
                           picture.width, picture.height, std::numeric_limits<std::uint32_t>::max())
                           .exif;
            } catch (const MetadataError&) {
                // A TIFF whose directories cannot be walked gives no EXIF.
            }
            if (report)
                report->fromTiff = true;
        }
    }
    if (!exif.tiff.empty()) {
        try {
            metadata.exif =
                TiffExifOfBlock(exif.tiff.data(), exif.tiff.size(), !metadata.icc.empty(), exif.makerNoteDropped);
        } catch (const MetadataError&) {
            // Not walkable: the output goes without EXIF rather than fail.
        }
    }
    if (report)
        report->makerNoteDropped = exif.makerNoteDropped;
    return metadata;
}

std::string WithMakerNoteClause(std::string status, bool makerNoteDropped)
{
    if (!makerNoteDropped)
        return status;
    if (!status.empty() && status.back() == '.')
        status.pop_back();
    return status + "; the photograph's maker note could not be kept.";
}

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

    if (std::memcmp(head, kSoiApp0, 4) == 0)
        return findJfifExif(head, std::min(size, kMaxJfifSearch));

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
        if (classify(code, head + pos + 4, length - 2, kind))
            result.sections.push_back(CarriedSection{kind, pos, length + 2});
        pos += 2 + length;
    }
    // The profile is judged whole over every chunk of the head, also those
    // before `from` (already copied with the head): judged on the later
    // chunks alone, a profile split around the EXIF section would lose its
    // later chunks and leave the output a partial one.
    if (!iccComplete(head, result.sections))
        std::erase_if(result.sections, [](const CarriedSection& s) { return s.kind == CarriedKind::IccProfile; });
    std::erase_if(result.sections, [from](const CarriedSection& s) { return s.offset < from; });
    return result;
}

TransplantResult WriteJpegWithExif(const std::uint8_t* encoded, std::size_t size, const std::string& sourceFile,
                                   const std::string& outPath, WriteMode mode, const OutputPicture& picture,
                                   MetadataReport* report)
{
    Transplant plan;
    // A source that cannot be read must not cost the user the photograph:
    // the output is written without EXIF first and the error raised after.
    std::exception_ptr sourceError;
    if (sourceExists(sourceFile)) {
        try {
            planTransplant(
                encoded, size, [&](std::size_t n) { return ReadFileHead(sourceFile, n); },
                [&](std::uint64_t offset, std::size_t n) { return ReadFileRange(sourceFile, offset, n); }, picture,
                plan);
        } catch (const FileError&) {
            sourceError = std::current_exception();
            plan = Transplant{};
            plan.head = outcome(TransplantResult::Skipped);
        }
    }
    const Pieces pieces = piecesOf(encoded, size, plan);
    WriteFileAtomically(outPath, {pieces.front, pieces.exif, pieces.carried, pieces.rest}, mode);
    if (report)
        *report = plan.report;
    if (sourceError)
        std::rethrow_exception(sourceError);
    return plan.head.result;
}

std::vector<std::uint8_t> AssembleJpegWithExif(const std::uint8_t* encoded, std::size_t size,
                                               const std::uint8_t* source, std::size_t sourceSize,
                                               TransplantResult* result, const OutputPicture& picture,
                                               MetadataReport* report)
{
    Transplant plan;
    planTransplant(
        encoded, size,
        [&](std::size_t n) { return std::vector<std::uint8_t>(source, source + std::min(n, sourceSize)); },
        [&](std::uint64_t offset, std::size_t n) {
            if (offset >= sourceSize)
                return std::vector<std::uint8_t>();
            const std::uint8_t* from = source + offset;
            return std::vector<std::uint8_t>(from, from + std::min<std::uint64_t>(n, sourceSize - offset));
        },
        picture, plan);
    const Pieces pieces = piecesOf(encoded, size, plan);
    std::vector<std::uint8_t> file;
    for (const ByteSpan& piece : {pieces.front, pieces.exif, pieces.carried, pieces.rest}) {
        const auto* bytes = static_cast<const std::uint8_t*>(piece.data);
        file.insert(file.end(), bytes, bytes + piece.size);
    }
    if (result)
        *result = plan.head.result;
    if (report)
        *report = plan.report;
    return file;
}

} // namespace lumivane
