// SPDX-License-Identifier: GPL-3.0-or-later
// Unit ExifReader: the metadata container of one image file (its JPEG marker
// sections, or the head of a TIFF/NEF file) and the reader of its TIFF/EXIF
// directories with their tag list.
#pragma once

#include "ByteReader.h"
#include "TagTables.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <istream>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace lumivane {

class TImageInfo;
class TIptcRecords;

// Base of the container and the directory reader: the byte-order flag and
// the byte string that every 16- and 32-bit read indexes (1-based).
class TByteOrderData {
public:
    bool bigEndian = false;  // true for "MM" data, false for "II"
    Bytes buffer;

    ByteReader Reader() const { return ByteReader(buffer, bigEndian); }
    // Raise MetadataError when the read would leave buffer.
    uint16_t Get16u(int64_t pos) const { return Reader().Read16(pos); }
    int32_t Get32s(int64_t pos) const { return Reader().Read32(pos); }
};

// One JPEG marker section.
struct tSection {
    Bytes bytes;     // the two length bytes and the payload, as stored after the marker
    int marker = 0;  // the byte that follows 0xFF
    int length = 0;  // the 16-bit length field (most significant byte first), counting itself
};

// Display name of a JPEG marker code ("Unknown" for codes not in the table).
std::string MarkerName(int code);

// The 30 rows of the marker-name table, in their fixed order; the last row
// (code 0x00, "Unknown") stands for every other code.
struct TMarkerName {
    int code;
    const char* name;
};
inline constexpr int kMarkerNameCount = 30;
extern const TMarkerName kMarkerNames[kMarkerNameCount];

// The metadata of one image file. Create one, call ReadMetadata, ask
// ExifFound and read tags through exif. Reading never raises: the outcome is
// the result of ReadMetadata and readStatus.
class TImageMetadata : public TByteOrderData {
public:
    static constexpr int kSectionCapacity = 20;
    // Bytes of a TIFF/NEF file read after its 8-byte header.
    static constexpr int kTiffHeadBytes = 256000;

    TImageMetadata();
    ~TImageMetadata();
    // The section references point into this object's own array.
    TImageMetadata(const TImageMetadata&) = delete;
    TImageMetadata& operator=(const TImageMetadata&) = delete;

    // Sections in file order; entries 0 .. sectionCount - 1 are valid (the
    // first section of the file is sections[0]).
    std::array<tSection, kSectionCapacity> sections;
    int sectionCount = 0;
    tSection* exifSection = nullptr;     // the APP1 section taken as EXIF
    tSection* iptcSection = nullptr;     // the first APP13 section
    tSection* commentSection = nullptr;  // the last COM section seen
    tSection* jfifSection = nullptr;     // the last APP0 section seen
    std::string fileName;
    std::filesystem::file_time_type fileTime{};
    int64_t fileSize = 0;
    std::string readStatus;
    std::unique_ptr<TImageInfo> exif;
    std::unique_ptr<TIptcRecords> iptc;
    bool fromTiff = false;

    // Reads the metadata of a ".jpg"/".jpeg"/".jpe" or ".tif"/".tiff"/".nef"
    // file (extension compared in lower case); returns MetadataFound().
    bool ReadMetadata(const std::string& fileName);
    // Opens a JPEG file and scans its sections; raises when it cannot be opened.
    bool LoadJpeg(const std::string& fileName);
    // Splits a JPEG stream into sections up to the start of scan, reading only
    // the section bytes; returns MetadataFound().
    bool ScanSections(std::istream& stream);
    // Checks the EXIF header of the section in buffer and walks its first directory.
    void ParseExifSection();
    // Reads the head of a TIFF/NEF file (256000 bytes after the header) and
    // walks its first directory from file offset 8.
    bool LoadTiff(const std::string& fileName);

    bool ExifFound() const { return exifSection != nullptr; }
    // EXIF, IPTC or comment found (the APP0 section does not count).
    bool MetadataFound() const
    {
        return exifSection != nullptr || commentSection != nullptr || iptcSection != nullptr;
    }
    void ClearAll();

    // Section by 1-based number (1 .. sectionCount), nullptr outside.
    const tSection* Section(int number) const;
    // 1-based number of a section reference, 0 for none.
    int SectionNumber(const tSection* section) const;

private:
    tSection& NewSection();
};

// Kinds of directory: main (first, EXIF, interoperability and sub-image
// directories, looked up in the main table) and GPS.
enum class DirectoryKind { Main, Gps };

// The TIFF/EXIF directories of one EXIF block or TIFF head, decoded into an
// ordered tag list.
class TImageInfo : public TByteOrderData {
public:
    explicit TImageInfo(TImageMetadata* owner);
    virtual ~TImageInfo();
    TImageInfo(const TImageInfo&) = delete;
    TImageInfo& operator=(const TImageInfo&) = delete;

    static constexpr int kCapacityStep = 25;

    std::vector<TTagEntry> tags;  // the tag list, in the order entries were met
    int tagCount = 0;             // entries in use (== tags.size())
    int tagCapacity = 0;          // allocated entries; grows in steps of 25
    TImageMetadata* owner;        // not owned; may be null for a reader used on its own
    std::string exifVersion;      // raw bytes of tag 0x9000, at most 6
    std::string make;             // text of tag 0x010F, at most 32 characters
    std::string model;            // text of tag 0x0110, at most 40 characters
    std::string lensModel;        // tag 0xA434 up to its first NUL, at most 64 bytes (not in the tag list)
    std::string lensMake;         // tag 0xA433, the same way
    int height = 0;               // tag 0x0101 or 0xA003
    int width = 0;                // tag 0x0100 or 0xA002
    Bytes makerNoteBytes;         // raw bytes of tag 0x927C
    int makerNotePos = 0;         // their position in buffer
    bool fromTiff = false;
    std::string comment;          // trimmed user comment (tag 0x9286)
    // The first fault met while walking the maker note ("Error Detected = "
    // and what went wrong), empty while there was none. Kept apart from the
    // owner's readStatus, which a completed read sets to "<none>" otherwise.
    std::string makerNoteError;
    std::set<std::pair<int64_t, int64_t>> visited;  // (base, start) of directories walked

    // Reads the directory at start (offsets + base = positions) and, through
    // its pointer tags, the directories below it.
    void WalkDirectory(int64_t start, int64_t base, DirectoryKind kind, int64_t limit);

    virtual int TagIndex(const std::string& key) const;
    virtual std::string TagText(const std::string& key) const;
    TTagEntry TagByKey(const std::string& key) const;
    // FLOAT/DOUBLE values are read as IEEE 754 numbers in the data's byte order.
    double TagNumber(const std::string& key) const;
    // TagNumber rounded to the nearest integer, halves to even.
    int TagInteger(const std::string& key) const;
    // Appends a copy unless its tagNumber is 0; returns tagCount - 1.
    int AppendTag(const TTagEntry& entry);
    // Appends a maker-note value (origin 1, ASCII) whatever its tag number.
    void AddMakerValue(const std::string& name, const std::string& text);
    // Adds "FocalLengthin35mmFilm" from the focal length and the focal-plane
    // resolution when the file does not carry it.
    void Derive35mm();

    // The maker-note walk (unit MakerNotes): reads the directory at C + 1 of
    // note with the given table; A and B as the maker table gives them. An
    // entry whose value cannot be read is left out and the walk goes on; the
    // first such fault is kept in makerNoteError and the owner's readStatus.
    void WalkMakerDirectory(const Bytes& note, const TTagEntry* table, int tableCount, int A,
                            int B, int C);

    // The owner's EXIF bytes (its exifSection), or buffer when there is no owner
    // or no EXIF section: values are copied from these.
    const Bytes& ExifBytes() const;
    // Sets the owner's readStatus (no-op without an owner).
    void SetStatus(const std::string& status);

    // Guards against crafted data; real files stay far below them. A
    // directory nested deeper, or a walk beyond the entry or byte budget,
    // raises MetadataError, handled like any other read error.
    static constexpr int kMaxDirectoryDepth = 16;
    static constexpr int64_t kMaxEntriesWalked = 200000;
    static constexpr int kMaxTags = 100000;

private:
    void Grow();
    // Names and formats one maker-note value with its table row and appends it.
    void AppendMakerEntry(const Bytes& raw, int tag, int type, const TTagEntry* table,
                          int tableCount);
    void ChargeValueBytes(int64_t count);

    int depth_ = 0;
    int64_t entriesWalked_ = 0;
    int64_t valueBytesCopied_ = 0;
};

}  // namespace lumivane
