// SPDX-License-Identifier: GPL-3.0-or-later
// JPEG section scanner (TImageMetadata) and TIFF/EXIF directory reader
// (TImageInfo).
#include "ExifReader.h"

#include "IptcReader.h"
#include "MakerNotes.h"
#include "ValueFormat.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <ext/stdio_filebuf.h>
#include <istream>
#include <limits>

#include "RegularFile.h"

namespace lumivane {

namespace fs = std::filesystem;

const TMarkerName kMarkerNames[kMarkerNameCount] = {
    {0xC0, "Baseline"},
    {0xC1, "Extended sequential"},
    {0xC2, "Progressive"},
    {0xC3, "Lossless"},
    {0xC4, "Define Huffman table"},
    {0xC5, "Differential sequential"},
    {0xC6, "Differential progressive"},
    {0xC7, "Differential lossless"},
    {0xC9, "Extended sequential, arithmetic coding"},
    {0xCA, "Progressive, arithmetic coding"},
    {0xCB, "Lossless, arithmetic coding"},
    {0xCD, "Differential sequential, arithmetic coding"},
    {0xCC, "Define arithmetic coding conditioning"},
    {0xCE, "Differential progressive, arithmetic coding"},
    {0xCF, "Differential lossless, arithmetic coding"},
    {0xD8, "Start of Image"},
    {0xD9, "End of Image"},
    {0xDA, "Start of Scan"},
    {0xDB, "Define quantization table"},
    {0xDC, "Define number of lines"},
    {0xDD, "Restart interoperability definition"},
    {0xDE, "Define hierarchical progression"},
    {0xDF, "Expand reference component"},
    {0xE0, "JPG marker"},
    {0xE1, "Exif Data"},
    {0xE2, "Exif Extended Data"},
    {0xFE, "Comment"},
    {0xED, "IPTC data"},
    {0xEE, "Photoshop data"},
    {0x00, "Unknown"},
};

std::string MarkerName(int code)
{
    for (const auto& row : kMarkerNames)
        if (row.code == code)
            return row.name;
    return kMarkerNames[kMarkerNameCount - 1].name;
}

namespace {

constexpr int kMarkerEndOfImage = 0xD9;
constexpr int kMarkerStartOfScan = 0xDA;
constexpr int kMarkerApp0 = 0xE0;
constexpr int kMarkerApp1 = 0xE1;
constexpr int kMarkerApp13 = 0xED;
constexpr int kMarkerComment = 0xFE;

// Metadata sections are only looked for among the first five sections.
constexpr int kMetadataSectionWindow = 5;

// In a JPEG's EXIF block the TIFF header starts at position 9 of the
// section bytes (after the length field and "Exif\0\0").
constexpr int64_t kJpegExifBase = 9;
// In a TIFF file read from offset 8, file offset o lies at position o - 7.
constexpr int64_t kTiffBase = -7;

std::string LowerCase(std::string text)
{
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}


// Round half to even, kept inside the int range (crafted values may be huge).
int RoundToInt(double value)
{
    if (!std::isfinite(value))
        return 0;
    const double rounded = std::nearbyint(value);
    if (rounded >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (rounded <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return int(rounded);
}

int32_t ClampPosition(int64_t pos)
{
    return int32_t(std::clamp<int64_t>(pos, std::numeric_limits<int32_t>::min(),
                                       std::numeric_limits<int32_t>::max()));
}

// Tags with an action in the directory walk.
enum : uint16_t {
    kTagImageWidth = 0x0100,
    kTagImageLength = 0x0101,
    kTagMake = 0x010F,
    kTagModel = 0x0110,
    kTagSubIfds = 0x014A,
    kTagExifOffset = 0x8769,
    kTagGpsInfo = 0x8825,
    kTagExifVersion = 0x9000,
    kTagMakerNote = 0x927C,
    kTagUserComment = 0x9286,
    kTagExifImageWidth = 0xA002,
    kTagExifImageLength = 0xA003,
    kTagInteroperabilityOffset = 0xA005,
    kTagLensMake = 0xA433,
    kTagLensModel = 0xA434,
};

}  // namespace

// ---------------------------------------------------------------------------
// TImageMetadata

TImageMetadata::TImageMetadata() { ClearAll(); }

TImageMetadata::~TImageMetadata() = default;

void TImageMetadata::ClearAll()
{
    // Section contents are kept: only sectionCount says which are valid, and
    // their storage is reused by the next read.
    sectionCount = 0;
    exifSection = nullptr;
    iptcSection = nullptr;
    commentSection = nullptr;
    jfifSection = nullptr;
    fileName.clear();
    fileTime = fs::file_time_type{};
    fileSize = 0;
    readStatus.clear();
    exif.reset();
    iptc.reset();
    bigEndian = false;
}

const tSection* TImageMetadata::Section(int number) const
{
    if (number < 1 || number > sectionCount)
        return nullptr;
    return &sections[std::size_t(number - 1)];
}

int TImageMetadata::SectionNumber(const tSection* section) const
{
    if (section == nullptr)
        return 0;
    return int(section - sections.data()) + 1;
}

tSection& TImageMetadata::NewSection()
{
    return sections[std::size_t(sectionCount++)];
}

bool TImageMetadata::ReadMetadata(const std::string& name)
{
    ClearAll();
    std::error_code error;
    const auto status = fs::status(name, error);
    if (error || !fs::exists(status) || fs::is_directory(status))
        return MetadataFound();
    if (!fs::is_regular_file(status)) {
        // A FIFO or device is never opened: it could block the reader.
        readStatus = NotARegularFileText(name);
        return MetadataFound();
    }

    fileName = name;
    fileTime = fs::last_write_time(name, error);
    if (error)
        fileTime = fs::file_time_type{};
    const auto size = fs::file_size(name, error);
    fileSize = error ? 0 : int64_t(size);

    // The one place where faults of the readers are swallowed: they end up
    // as "Illegal Exif construction", keeping whatever was read before.
    try {
        readStatus = "Not an EXIF file";
        const std::string extension = LowerCase(fs::path(name).extension().string());
        bool completed = false;
        if (extension == ".jpg" || extension == ".jpeg" || extension == ".jpe")
            completed = LoadJpeg(name);
        else if (extension == ".tif" || extension == ".tiff" || extension == ".nef")
            completed = LoadTiff(name);
        // A completed read says "<none>", unless its maker note could not be
        // read whole: callers are told of the first fault met there.
        if (completed)
            readStatus = exif && !exif->makerNoteError.empty() ? exif->makerNoteError : "<none>";
    } catch (const std::exception&) {
        readStatus = "Illegal Exif construction";
    }
    return MetadataFound();
}

namespace {

// A file opened the program's safe way (without blocking, regular files
// only), read as a stream; the buffer owns and closes the descriptor.
class RegularFileStream {
public:
    explicit RegularFileStream(const std::string& name)
        : buffer_(openOrRaise(name), std::ios::in | std::ios::binary), stream_(&buffer_)
    {
    }
    std::istream& stream() { return stream_; }

private:
    static int openOrRaise(const std::string& name)
    {
        OpenedFile opened = OpenRegularFile(name);
        enforce(opened.ok(), "Cannot open the file");
        return opened.fd.release();
    }
    __gnu_cxx::stdio_filebuf<char> buffer_;
    std::istream stream_;
};

} // namespace

bool TImageMetadata::LoadJpeg(const std::string& name)
{
    fromTiff = false;
    RegularFileStream file(name);
    return ScanSections(file.stream());
}

bool TImageMetadata::ScanSections(std::istream& stream)
{
    char start[2];
    if (!stream.read(start, 2) || static_cast<unsigned char>(start[0]) != 0xFF
        || static_cast<unsigned char>(start[1]) != 0xD8)
        return false;

    sectionCount = 0;
    while (sectionCount < kSectionCapacity) {
        // Any number of 0xFF fill bytes stands before a marker code. The end
        // of the stream ends the scan.
        int code;
        do {
            code = stream.get();
            if (code == std::char_traits<char>::eof())
                return MetadataFound();
        } while (code == 0xFF);

        char lengthBytes[2];
        if (!stream.read(lengthBytes, 2))
            return MetadataFound();
        const int length = static_cast<unsigned char>(lengthBytes[0]) << 8
                           | static_cast<unsigned char>(lengthBytes[1]);
        // A length below 2 cannot cover its own length field: nothing sound
        // follows, so the scan ends here.
        if (length < 2)
            return MetadataFound();

        tSection& section = NewSection();
        section.marker = code;
        section.length = length;
        section.bytes.resize(std::size_t(length));
        section.bytes[0] = lengthBytes[0];
        section.bytes[1] = lengthBytes[1];
        if (length > 2) {
            stream.read(&section.bytes[2], length - 2);
            const auto got = stream.gcount();
            if (got < length - 2) {
                // A short section: keep what was read and end the scan.
                section.bytes.resize(std::size_t(2 + got));
                return MetadataFound();
            }
        }

        if (sectionCount == kMetadataSectionWindow && !MetadataFound())
            break;

        switch (code) {
        case kMarkerEndOfImage:
        case kMarkerStartOfScan:
            return MetadataFound();
        case kMarkerApp0:
            jfifSection = &section;
            break;
        case kMarkerApp1:
            if (sectionCount > kMetadataSectionWindow || exifSection != nullptr) {
                // Only the first APP1 is taken (later ones are often XMP);
                // its slot is reused by the next section.
                --sectionCount;
            } else {
                exifSection = &section;
                exif = std::make_unique<TImageInfo>(this);
                buffer = section.bytes;
                ParseExifSection();
            }
            break;
        case kMarkerApp13:
            if (iptcSection == nullptr) {
                iptcSection = &section;
                iptc = std::make_unique<TIptcRecords>(this);
            }
            break;
        case kMarkerComment:
            commentSection = &section;
            break;
        default:
            break;
        }
    }
    return MetadataFound();
}

void TImageMetadata::ParseExifSection()
{
    if (!exif)
        exif = std::make_unique<TImageInfo>(this);

    static const char kExifHeader[] = {'E', 'x', 'i', 'f', '\0'};
    if (buffer.size() < 7 || buffer.compare(2, 5, kExifHeader, 5) != 0) {
        readStatus = "Incorrect Exif header";
        return;
    }
    const std::string order = buffer.size() >= 10 ? buffer.substr(8, 2) : std::string();
    if (order == "II") {
        bigEndian = false;
    } else if (order == "MM") {
        bigEndian = true;
    } else {
        readStatus = "Invalid Exif alignment marker";
        return;
    }

    exif->buffer = buffer;
    exif->bigEndian = bigEndian;
    const int64_t firstOffset = uint32_t(Get32s(13));
    const int64_t length = exifSection != nullptr ? exifSection->length : int64_t(buffer.size());
    const int64_t start = firstOffset == 0 ? 17 : firstOffset + kJpegExifBase;
    exif->WalkDirectory(start, kJpegExifBase, DirectoryKind::Main, length - 6);
    if (!readStatus.empty())
        exif->Derive35mm();
}

bool TImageMetadata::LoadTiff(const std::string& name)
{
    fromTiff = true;
    // fromTiff holds only while this file is read, whichever way it ends.
    struct ResetFlag {
        bool& flag;
        ~ResetFlag() { flag = false; }
    } resetFromTiff{fromTiff};

    RegularFileStream file(name);
    std::istream& stream = file.stream();

    char order[2];
    if (!stream.read(order, 2))
        return false;
    const bool motorola = order[0] == 'M' && order[1] == 'M';
    if (!motorola && !(order[0] == 'I' && order[1] == 'I'))
        return false;

    // The magic number and first-directory offset are skipped: the walk
    // always starts at file offset 8.
    char header[6];
    stream.read(header, 6);
    tSection& section = sections[0];
    section.bytes.resize(kTiffHeadBytes);
    stream.read(section.bytes.data(), kTiffHeadBytes);
    section.bytes.resize(std::size_t(stream.gcount()));
    section.marker = 0;
    section.length = int(section.bytes.size());

    sectionCount = 1;
    exifSection = &section;

    exif = std::make_unique<TImageInfo>(this);
    exif->fromTiff = fromTiff;
    buffer = section.bytes;
    exif->buffer = section.bytes;
    exif->bigEndian = motorola;
    exif->WalkDirectory(1, kTiffBase, DirectoryKind::Main, kTiffHeadBytes);
    exif->Derive35mm();
    return true;
}

// ---------------------------------------------------------------------------
// TImageInfo

TImageInfo::TImageInfo(TImageMetadata* ownerMetadata) : owner(ownerMetadata)
{
    // Build both tables (and fill their labels) once per process.
    MainTagTable();
    GpsTagTable();
    tagCount = 0;
    visited.clear();
}

TImageInfo::~TImageInfo() = default;

const Bytes& TImageInfo::ExifBytes() const
{
    if (owner != nullptr && owner->exifSection != nullptr)
        return owner->exifSection->bytes;
    return buffer;
}

void TImageInfo::SetStatus(const std::string& status)
{
    if (owner != nullptr)
        owner->readStatus = status;
}

void TImageInfo::ChargeValueBytes(int64_t count)
{
    // Every byte of a sound file is copied a few times at most; crafted
    // directories whose entries all point at the whole buffer are not.
    const int64_t budget = 16 * int64_t(ExifBytes().size()) + (int64_t(1) << 20);
    valueBytesCopied_ += count;
    enforce(valueBytesCopied_ <= budget, "Directory values exceed the data");
}

void TImageInfo::WalkDirectory(int64_t start, int64_t base, DirectoryKind kind, int64_t limit)
{
    visited.insert({base, start});
    enforce(depth_ < kMaxDirectoryDepth, "Directories nested too deeply");
    struct DepthGuard {
        int& depth;
        explicit DepthGuard(int& d) : depth(d) { ++depth; }
        ~DepthGuard() { --depth; }
    } depthGuard(depth_);

    const int64_t entryCount = Get16u(start);
    if (2 + 12 * entryCount > base + limit) {
        SetStatus("Illegally sized directory");
        return;
    }

    for (int64_t i = 0; i < entryCount; ++i) {
        enforce(++entriesWalked_ <= kMaxEntriesWalked, "Too many directory entries");
        const int64_t p = start + 2 + 12 * i;
        // A fresh reader per entry: the maker-note walk swaps buffer meanwhile.
        const ByteReader reader = Reader();
        const uint16_t tag = reader.Read16(p);
        const uint16_t type = reader.Read16(p + 2);
        // Counts and offsets are unsigned 32-bit numbers; taken in 64 bits
        // so that count x size cannot wrap to a small number.
        const int64_t count = uint32_t(reader.Read32(p + 4));
        const int64_t byteTotal = count * TiffTypeSize(type);
        if (byteTotal == 0)
            continue;
        const int64_t valuePos =
            byteTotal <= 4 ? p + 8 : int64_t(uint32_t(reader.Read32(p + 8))) + base;

        const Bytes raw = ByteReader(ExifBytes(), bigEndian).Copy(valuePos, byteTotal);
        ChargeValueBytes(int64_t(raw.size()));

        const TTagEntry& row = kind == DirectoryKind::Gps ? FindGpsTagRow(tag) : FindMainTagRow(tag);

        std::string text;
        if (type == uint16_t(TiffType::Ascii)) {
            text = raw;
            if (!text.empty() && text.back() == '\0')
                text.pop_back();
        } else if (type == uint16_t(TiffType::Undefined)) {
            // Quoted, up to the first NUL.
            text.assign(1, '"');
            text.append(raw, 0, raw.find('\0'));
            text += '"';
        } else {
            text = FormatValue(raw, type, row.valueNames, row.formatText, bigEndian);
        }

        if (row.tagNumber != 0 && row.formatter != nullptr)
            text = row.formatter(text, *this);
        else
            text = CleanText(text);

        if (tag == kTagUserComment) {
            // Skip the 8-byte character code; the last byte is left out.
            const std::size_t commentLength = raw.size() > 9 ? raw.size() - 9 : 0;
            comment = Trim(raw.size() > 8 ? raw.substr(8, commentLength) : std::string());
            text = comment;
        }

        switch (tag) {
        case kTagImageWidth:
        case kTagExifImageWidth:
            width = RoundToInt(NumericValue(raw, type, bigEndian));
            break;
        case kTagImageLength:
        case kTagExifImageLength:
            height = RoundToInt(NumericValue(raw, type, bigEndian));
            break;
        case kTagMake:
            make = text.substr(0, 32);
            break;
        case kTagModel:
            model = text.substr(0, 40);
            break;
        case kTagExifVersion:
            exifVersion = raw.substr(0, 6);
            break;
        case kTagLensModel:
            // Not in the tag tables (so not listed), but mask matching and
            // the lens profile need them: the stored text up to its first
            // NUL, so that padding does not turn into the "." of display
            // texts.
            if (type == uint16_t(TiffType::Ascii))
                lensModel = raw.substr(0, std::min<std::size_t>(raw.find('\0'), 64));
            break;
        case kTagLensMake:
            if (type == uint16_t(TiffType::Ascii))
                lensMake = raw.substr(0, std::min<std::size_t>(raw.find('\0'), 64));
            break;
        case kTagSubIfds:
        case kTagExifOffset:
        case kTagInteroperabilityOffset:
        case kTagGpsInfo:
            // Faults inside a sub-directory are dropped; this directory goes
            // on. Of several sub-image offsets only the first is followed.
            try {
                const int64_t target = int64_t(uint32_t(Get32s(valuePos))) + base;
                if (visited.count({base, target}) == 0)
                    WalkDirectory(target, base,
                                  tag == kTagGpsInfo ? DirectoryKind::Gps : DirectoryKind::Main,
                                  limit);
            } catch (const MetadataError&) {
                // The sub-directory's fault: dropped, as said above.
            }
            break;
        case kTagMakerNote: {
            makerNoteBytes = raw;
            makerNotePos = ClampPosition(valuePos);
            TMakerNoteDecoder decoder(fromTiff, *this);
            decoder.Decode();
            break;
        }
        default:
            break;
        }

        // Unknown tags (tag number 0 in their row) are not stored.
        try {
            TTagEntry entry = row;
            entry.text = text;
            entry.rawBytes = raw;
            entry.byteCount = int32_t(raw.size());
            entry.valuePos = ClampPosition(valuePos);
            entry.valueType = type;
            AppendTag(entry);
        } catch (const MetadataError&) {
            // Beyond the tag limit: the entry is left out, the walk goes on.
        }
    }
    // The offset of the next directory is not followed: the thumbnail
    // directory is of no interest here.
}

int TImageInfo::TagIndex(const std::string& key) const
{
    for (int i = 0; i < tagCount; ++i)
        if (SameKey(tags[std::size_t(i)].key, key))
            return i;
    return -1;
}

std::string TImageInfo::TagText(const std::string& key) const
{
    const int index = TagIndex(key);
    return index < 0 ? std::string() : tags[std::size_t(index)].text;
}

TTagEntry TImageInfo::TagByKey(const std::string& key) const
{
    const int index = TagIndex(key);
    return index < 0 ? TTagEntry() : tags[std::size_t(index)];
}

double TImageInfo::TagNumber(const std::string& key) const
{
    const int index = TagIndex(key);
    if (index < 0)
        return 0;
    const TTagEntry& entry = tags[std::size_t(index)];
    return NumericValue(entry.rawBytes, entry.valueType, bigEndian);
}

int TImageInfo::TagInteger(const std::string& key) const { return RoundToInt(TagNumber(key)); }

void TImageInfo::Grow()
{
    enforce(tagCount < kMaxTags, "Too many tags");
    if (tagCount >= tagCapacity - 1) {
        tagCapacity += kCapacityStep;
        tags.reserve(std::size_t(tagCapacity));
    }
}

int TImageInfo::AppendTag(const TTagEntry& entry)
{
    if (entry.tagNumber != 0) {
        Grow();
        tags.push_back(entry);
        ++tagCount;
    }
    return tagCount - 1;
}

void TImageInfo::AddMakerValue(const std::string& name, const std::string& text)
{
    try {
        TTagEntry entry;
        entry.origin = 1;
        entry.tagNumber = 0;
        entry.key = name;
        entry.label = name;
        entry.text = text;
        entry.rawBytes = text;
        entry.byteCount = int32_t(text.size());
        entry.valuePos = 0;
        entry.valueType = uint16_t(TiffType::Ascii);
        Grow();
        tags.push_back(std::move(entry));
        ++tagCount;
    } catch (const MetadataError&) {
        // Beyond the tag limit: the maker-note value is left out.
    }
}

void TImageInfo::Derive35mm()
{
    if (TagIndex("FocalLengthin35mmFilm") >= 0)
        return;
    int unit = TagInteger("FocalPlaneResolutionUnit");
    if (unit <= 0)
        unit = TagInteger("ResolutionUnit");
    const double mmPerUnit = unit == 2 ? 25.4 : unit == 3 ? 10.0 : 0.0;  // inch, centimetre
    const double focalLength = TagNumber("FocalLength");
    if (mmPerUnit == 0 || focalLength == 0)
        return;

    double sensorWidth = 0;
    double sensorHeight = 0;
    const int xResolution = TagInteger("FocalPlaneXResolution");
    if (xResolution > 0)
        sensorWidth = width * mmPerUnit / xResolution;
    const int yResolution = TagInteger("FocalPlaneYResolution");
    if (yResolution > 0)
        sensorHeight = height * mmPerUnit / yResolution;
    if (!(sensorWidth * sensorHeight > 0))
        return;

    // 43.26661531 mm is the diagonal of the 36 x 24 mm frame.
    const double factor =
        43.26661531 / std::sqrt(sensorWidth * sensorWidth + sensorHeight * sensorHeight);
    const TTagEntry* row = FindRowByKey(MainTagTable(), "FocalLengthIn35mmFilm");
    if (row == nullptr)
        return;
    try {
        TTagEntry entry = *row;
        entry.text = FormatNumbers("%5.2f", {focalLength * factor});
        entry.rawBytes.clear();
        entry.formatText = "%s mm";
        entry.valueType = uint16_t(TiffType::SRational);
        AppendTag(entry);
    } catch (const MetadataError&) {
        // Beyond the tag limit: the derived entry is left out.
    }
}

}  // namespace lumivane
