// SPDX-License-Identifier: GPL-3.0-or-later
#include "OutputMetadata.h"

#include "Bitmap24.h"
#include "ByteReader.h"
#include "JpegCodec.h"
#include "TiffReader.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>

namespace lumivane {

namespace {

// Tags this file reads or writes.
enum Tag : std::uint16_t {
    kImageWidth = 0x0100,
    kImageLength = 0x0101,
    kCompression = 0x0103,
    kThumbnailOffset = 0x0201, // JPEGInterchangeFormat
    kThumbnailLength = 0x0202, // JPEGInterchangeFormatLength
    kXmpTag = 700,
    kIptcTag = 33723,
    kIccTag = 34675,
    kExifPointer = 0x8769,
    kGpsPointer = 0x8825,
    kInteropPointer = 0xA005,
    kMakerNote = 0x927C,
    kOrientation = 0x0112,
    kComponentsConfiguration = 0x9101,
    kCompressedBitsPerPixel = 0x9102,
    kPixelXDimension = 0xA002,
    kPixelYDimension = 0xA003,
};

// The first-directory tags of a TIFF photograph that an EXIF first
// directory may hold and that still hold for the output: what the picture
// shows, who made it and when, its orientation and resolution. Strip,
// tile, sample and compression tags describe the TIFF's own pixel layout
// and never come along.
constexpr std::uint16_t kExifLegalFirstTags[] = {
    0x010E, // ImageDescription
    0x010F, // Make
    0x0110, // Model
    0x0112, // Orientation
    0x011A, // XResolution
    0x011B, // YResolution
    0x0128, // ResolutionUnit
    0x0131, // Software
    0x0132, // DateTime
    0x013B, // Artist
    0x013E, // WhitePoint
    0x013F, // PrimaryChromaticities
    0x8298, // Copyright
};

constexpr std::size_t kEntrySize = 12;
// Directories with more entries than this are taken as malformed.
constexpr std::size_t kMaxEntries = 1000;

// A TIFF block being rewritten, addressed by 0-based offsets; every read
// and write is checked against its size.
class TiffBytes {
public:
    TiffBytes(std::vector<std::uint8_t> bytes, bool bigEndian) : b_(std::move(bytes)), be_(bigEndian) {}

    std::size_t size() const { return b_.size(); }
    bool bigEndian() const { return be_; }
    std::vector<std::uint8_t>& bytes() { return b_; }
    const std::vector<std::uint8_t>& bytes() const { return b_; }

    std::uint16_t get16(std::size_t at) const
    {
        check(at, 2);
        return be_ ? std::uint16_t(b_[at] << 8 | b_[at + 1]) : std::uint16_t(b_[at + 1] << 8 | b_[at]);
    }
    std::uint32_t get32(std::size_t at) const
    {
        check(at, 4);
        const std::uint32_t a = b_[at], b = b_[at + 1], c = b_[at + 2], d = b_[at + 3];
        return be_ ? a << 24 | b << 16 | c << 8 | d : d << 24 | c << 16 | b << 8 | a;
    }
    void put16(std::size_t at, std::uint16_t v)
    {
        check(at, 2);
        b_[at + (be_ ? 0 : 1)] = std::uint8_t(v >> 8);
        b_[at + (be_ ? 1 : 0)] = std::uint8_t(v);
    }
    void put32(std::size_t at, std::uint32_t v)
    {
        check(at, 4);
        for (int i = 0; i < 4; ++i)
            b_[at + std::size_t(be_ ? i : 3 - i)] = std::uint8_t(v >> (24 - 8 * i));
    }
    void append16(std::uint16_t v)
    {
        b_.resize(b_.size() + 2);
        put16(b_.size() - 2, v);
    }
    void append32(std::uint32_t v)
    {
        b_.resize(b_.size() + 4);
        put32(b_.size() - 4, v);
    }
    // TIFF values start on even offsets.
    void alignEven()
    {
        if (b_.size() % 2)
            b_.push_back(0);
    }

private:
    void check(std::size_t at, std::size_t n) const
    {
        enforce(at <= b_.size() && n <= b_.size() - at, "EXIF offset outside its block");
    }
    std::vector<std::uint8_t> b_;
    bool be_;
};

struct Entry {
    std::size_t at = 0; // where its 12 bytes start
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
};

struct Directory {
    std::size_t at = 0;
    std::vector<Entry> entries;
    std::size_t nextAt = 0; // where the offset of the next directory is stored

    std::size_t end() const { return nextAt + 4; }
    const Entry* find(std::uint16_t tag) const
    {
        for (const Entry& e : entries)
            if (e.tag == tag)
                return &e;
        return nullptr;
    }
};

Directory readDirectory(const TiffBytes& t, std::size_t at)
{
    Directory dir;
    dir.at = at;
    const std::size_t n = t.get16(at);
    enforce(n <= kMaxEntries, "EXIF directory with too many entries");
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t e = at + 2 + i * kEntrySize;
        dir.entries.push_back(Entry{e, t.get16(e), t.get16(e + 2), t.get32(e + 4)});
    }
    dir.nextAt = at + 2 + n * kEntrySize;
    t.get32(dir.nextAt);
    return dir;
}

// The single value of a SHORT or LONG entry.
std::optional<std::uint32_t> numberOf(const TiffBytes& t, const Entry& e)
{
    if (e.count != 1)
        return std::nullopt;
    if (e.type == std::uint16_t(TiffType::Short))
        return t.get16(e.at + 8);
    if (e.type == std::uint16_t(TiffType::Long))
        return t.get32(e.at + 8);
    return std::nullopt;
}

// Sets a number entry in place: SHORT when it was SHORT and the value fits,
// LONG otherwise (the value field holds 4 bytes either way).
void setNumber(TiffBytes& t, const Entry& e, std::uint32_t value)
{
    if (e.type == std::uint16_t(TiffType::Short) && value <= 0xFFFF) {
        t.put32(e.at + 4, 1);
        t.put16(e.at + 8, std::uint16_t(value));
        t.put16(e.at + 10, 0);
        return;
    }
    t.put16(e.at + 2, std::uint16_t(TiffType::Long));
    t.put32(e.at + 4, 1);
    t.put32(e.at + 8, value);
}

struct NewNumber {
    std::uint16_t tag;
    std::uint32_t value;
};

// Copies the directory `dir` to the end of the block with `added` entries
// (LONG values, tags the directory lacks) in tag order; its other entries
// are copied byte for byte, so their values stay where they are. Returns
// the new directory's offset.
std::size_t appendGrownDirectory(TiffBytes& t, const Directory& dir, const std::vector<NewNumber>& added)
{
    std::vector<std::vector<std::uint8_t>> rows;
    std::vector<std::uint16_t> tags;
    for (const Entry& e : dir.entries) {
        rows.emplace_back(t.bytes().begin() + std::ptrdiff_t(e.at), t.bytes().begin() + std::ptrdiff_t(e.at + kEntrySize));
        tags.push_back(e.tag);
    }
    const std::uint32_t next = dir.nextAt ? t.get32(dir.nextAt) : 0;
    for (const NewNumber& n : added) {
        TiffBytes row({}, t.bigEndian());
        row.append16(n.tag);
        row.append16(std::uint16_t(TiffType::Long));
        row.append32(1);
        row.append32(n.value);
        const auto pos = std::upper_bound(tags.begin(), tags.end(), n.tag) - tags.begin();
        tags.insert(tags.begin() + pos, n.tag);
        rows.insert(rows.begin() + pos, row.bytes());
    }
    t.alignEven();
    const std::size_t at = t.size();
    t.append16(std::uint16_t(rows.size()));
    for (const auto& row : rows)
        t.bytes().insert(t.bytes().end(), row.begin(), row.end());
    t.append32(next);
    return at;
}

// The entries of `tags` a directory lacks, with their values.
std::vector<NewNumber> missing(const Directory& dir, const std::vector<NewNumber>& wanted)
{
    std::vector<NewNumber> out;
    for (const NewNumber& n : wanted)
        if (!dir.find(n.tag))
            out.push_back(n);
    return out;
}

// The thumbnail box: the source thumbnail's size when it decodes, else
// 160 x 120; the output's aspect fitted inside it.
void thumbnailSize(const std::uint8_t* old, std::size_t oldSize, int width, int height, int& tw, int& th)
{
    int boxW = kThumbnailMaxWidth, boxH = kThumbnailMaxHeight;
    if (old) {
        try {
            TJPEGImage header;
            header.LoadFromBytes(std::vector<std::uint8_t>(old, old + oldSize));
            if (header.Width() > 0 && header.Height() > 0 && header.Width() <= 1024 && header.Height() <= 1024) {
                boxW = header.Width();
                boxH = header.Height();
            }
        } catch (const std::exception&) {
            // An unreadable old thumbnail says nothing about the size.
        }
    }
    // Never larger than the picture itself.
    const double scale = std::min({double(boxW) / width, double(boxH) / height, 1.0});
    tw = std::clamp(int(width * scale + 0.5), 1, boxW);
    th = std::clamp(int(height * scale + 0.5), 1, boxH);
}

} // namespace

ExifBlock DescribeWrittenPicture(const std::uint8_t* tiff, std::size_t size, int width, int height,
                                 const ThumbnailMaker& makeThumbnail, std::size_t maxSize)
{
    enforce(size >= 8 && IsTiffHead(tiff, size), "EXIF block without a TIFF header");
    TiffBytes t(std::vector<std::uint8_t>(tiff, tiff + size), tiff[0] == 'M');
    const std::size_t ifd0At = t.get32(4);
    Directory ifd0 = readDirectory(t, ifd0At);

    // The dimensions, patched where they are.
    const auto w = std::uint32_t(width), h = std::uint32_t(height);
    for (const Entry& e : ifd0.entries) {
        if ((e.tag == kImageWidth || e.tag == kImageLength) && numberOf(t, e))
            setNumber(t, e, e.tag == kImageWidth ? w : h);
    }
    std::optional<Directory> exif;
    if (const Entry* p = ifd0.find(kExifPointer); p && numberOf(t, *p))
        exif = readDirectory(t, *numberOf(t, *p));
    if (exif) {
        for (const Entry& e : exif->entries)
            if (e.tag == kPixelXDimension || e.tag == kPixelYDimension)
                setNumber(t, e, e.tag == kPixelXDimension ? w : h);
    }

    // The thumbnail's directory and bytes.
    std::optional<Directory> ifd1;
    if (const std::uint32_t next = t.get32(ifd0.nextAt); next != 0)
        ifd1 = readDirectory(t, next);
    const Entry* thumbOffset = ifd1 ? ifd1->find(kThumbnailOffset) : nullptr;
    const Entry* thumbLength = ifd1 ? ifd1->find(kThumbnailLength) : nullptr;
    // Compression 6 (JPEG) or none given; 1 is an uncompressed thumbnail in
    // strips, which is not made anew.
    const Entry* compression = ifd1 ? ifd1->find(kCompression) : nullptr;
    const bool jpegThumbnail = thumbOffset && thumbLength && numberOf(t, *thumbOffset) && numberOf(t, *thumbLength) &&
                               (!compression || numberOf(t, *compression) == 6u);
    std::size_t oldAt = 0, oldSize = 0;
    bool oldInside = false;
    if (jpegThumbnail) {
        oldAt = *numberOf(t, *thumbOffset);
        oldSize = *numberOf(t, *thumbLength);
        oldInside = oldAt <= t.size() && oldSize <= t.size() - oldAt;
    }
    // An old thumbnail that ends the block (after every directory) is cut
    // off and its place taken; anything else stays where it is.
    std::size_t keep = t.size();
    if (oldInside && oldAt + oldSize == t.size() && ifd0.end() <= oldAt && ifd1->end() <= oldAt &&
        (!exif || exif->end() <= oldAt))
        keep = oldAt;
    const std::vector<std::uint8_t> oldThumbnail = oldInside
        ? std::vector<std::uint8_t>(t.bytes().begin() + std::ptrdiff_t(oldAt),
                                    t.bytes().begin() + std::ptrdiff_t(oldAt + oldSize))
        : std::vector<std::uint8_t>();
    t.bytes().resize(keep);

    // Directories that lack the dimensions are copied to the end with them.
    const std::vector<NewNumber> dims{{kPixelXDimension, w}, {kPixelYDimension, h}};
    if (exif) {
        const std::vector<NewNumber> add = missing(*exif, dims);
        if (!add.empty()) {
            const std::size_t moved = appendGrownDirectory(t, *exif, add);
            setNumber(t, *ifd0.find(kExifPointer), std::uint32_t(moved));
        }
    } else {
        const std::size_t exifAt = appendGrownDirectory(t, Directory{}, dims);
        const std::size_t moved = appendGrownDirectory(t, ifd0, {{kExifPointer, std::uint32_t(exifAt)}});
        t.put32(4, std::uint32_t(moved));
        ifd0 = readDirectory(t, moved);
    }
    enforce(t.size() <= maxSize, "EXIF block too large once it names the written size");

    ExifBlock out;
    if (!ifd1) {
        out.tiff = std::move(t.bytes());
        return out;
    }
    if (jpegThumbnail && makeThumbnail) {
        int tw = 0, th = 0;
        thumbnailSize(oldThumbnail.empty() ? nullptr : oldThumbnail.data(), oldThumbnail.size(), width, height, tw, th);
        t.alignEven();
        const std::size_t at = t.size();
        // Lower qualities before giving up: a thumbnail only has to be
        // recognisable.
        for (int quality : {90, 75, 60, 40, 25}) {
            const std::vector<std::uint8_t> thumb = makeThumbnail(tw, th, quality);
            if (thumb.empty() || thumb.size() > maxSize - at)
                continue;
            t.bytes().insert(t.bytes().end(), thumb.begin(), thumb.end());
            setNumber(t, *thumbOffset, std::uint32_t(at));
            setNumber(t, *thumbLength, std::uint32_t(thumb.size()));
            out.thumbnail = ThumbnailFate::Rebuilt;
            out.tiff = std::move(t.bytes());
            return out;
        }
        t.bytes().resize(at);
    }
    // No thumbnail could be made: the directory that named it is unlinked.
    t.put32(ifd0.nextAt, 0);
    out.thumbnail = ThumbnailFate::Removed;
    out.tiff = std::move(t.bytes());
    return out;
}

bool IsTiffHead(const std::uint8_t* head, std::size_t size)
{
    static constexpr std::uint8_t kIntel[] = {'I', 'I', 42, 0};
    static constexpr std::uint8_t kMotorola[] = {'M', 'M', 0, 42};
    return size >= 4 && (std::memcmp(head, kIntel, 4) == 0 || std::memcmp(head, kMotorola, 4) == 0);
}

namespace {

// One entry of a TIFF file's directory with its value bytes (in the file's
// byte order), as read.
struct ReadEntry {
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    std::vector<std::uint8_t> value;
};

// The largest single value read from a TIFF file's directories; larger
// ones (a profile or packet of megabytes) are not metadata a JPEG can hold.
constexpr std::size_t kMaxValue = std::size_t(16) << 20;

std::vector<ReadEntry> readFileDirectory(const RangeReader& read, bool be, std::uint64_t at)
{
    const std::vector<std::uint8_t> countBytes = read(at, 2);
    enforce(countBytes.size() == 2, "TIFF directory outside the file");
    TiffBytes c(countBytes, be);
    const std::size_t n = c.get16(0);
    enforce(n <= kMaxEntries, "TIFF directory with too many entries");
    TiffBytes d(read(at + 2, n * kEntrySize), be);
    enforce(d.size() == n * kEntrySize, "TIFF directory outside the file");
    std::vector<ReadEntry> entries;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t e = i * kEntrySize;
        ReadEntry r{d.get16(e), d.get16(e + 2), d.get32(e + 4), {}};
        const int unit = TiffTypeSize(r.type);
        if (unit == 0)
            continue;
        const std::uint64_t bytes = std::uint64_t(unit) * r.count;
        if (bytes > kMaxValue)
            continue;
        if (bytes <= 4) {
            r.value.assign(d.bytes().begin() + std::ptrdiff_t(e + 8),
                           d.bytes().begin() + std::ptrdiff_t(e + 8 + bytes));
        } else {
            r.value = read(d.get32(e + 8), std::size_t(bytes));
            if (r.value.size() != bytes)
                continue; // a value past the end of the file
        }
        entries.push_back(std::move(r));
    }
    return entries;
}

const ReadEntry* findRead(const std::vector<ReadEntry>& entries, std::uint16_t tag)
{
    for (const ReadEntry& e : entries)
        if (e.tag == tag)
            return &e;
    return nullptr;
}

std::optional<std::uint32_t> pointerOf(const std::vector<ReadEntry>& entries, std::uint16_t tag, bool be)
{
    const ReadEntry* e = findRead(entries, tag);
    if (!e || e->count != 1 || (e->type != std::uint16_t(TiffType::Long) && e->type != 13 /* IFD */))
        return std::nullopt;
    return TiffBytes(e->value, be).get32(0);
}

// Lays out directories one after the other, each followed by its values.
// The first directory's entries that point at the others are patched once
// their offsets are known.
struct Layout {
    std::vector<ReadEntry> ifd0, exif, gps;
};

std::size_t directoryBytes(const std::vector<ReadEntry>& entries)
{
    std::size_t n = 2 + entries.size() * kEntrySize + 4;
    for (const ReadEntry& e : entries)
        if (e.value.size() > 4)
            n += e.value.size() + e.value.size() % 2;
    return n;
}

void writeDirectory(TiffBytes& t, std::vector<ReadEntry> entries)
{
    std::sort(entries.begin(), entries.end(), [](const ReadEntry& a, const ReadEntry& b) { return a.tag < b.tag; });
    const std::size_t at = t.size();
    std::size_t valueAt = at + 2 + entries.size() * kEntrySize + 4;
    t.append16(std::uint16_t(entries.size()));
    for (const ReadEntry& e : entries) {
        t.append16(e.tag);
        t.append16(e.type);
        t.append32(e.count);
        if (e.value.size() <= 4) {
            // A value of up to 4 bytes sits in the entry, left-justified.
            const std::size_t n = e.value.size();
            t.bytes().insert(t.bytes().end(), e.value.begin(), e.value.end());
            t.bytes().resize(t.bytes().size() + (4 - n), 0);
        } else {
            t.append32(std::uint32_t(valueAt));
            valueAt += e.value.size() + e.value.size() % 2;
        }
    }
    t.append32(0);
    for (const ReadEntry& e : entries) {
        if (e.value.size() <= 4)
            continue;
        t.bytes().insert(t.bytes().end(), e.value.begin(), e.value.end());
        t.alignEven();
    }
}

ReadEntry longEntry(std::uint16_t tag, std::uint32_t value, bool be)
{
    TiffBytes v({}, be);
    v.append32(value);
    return ReadEntry{tag, std::uint16_t(TiffType::Long), 1, v.bytes()};
}

void setEntry(std::vector<ReadEntry>& entries, ReadEntry entry)
{
    std::erase_if(entries, [&](const ReadEntry& e) { return e.tag == entry.tag; });
    entries.push_back(std::move(entry));
}

// Drops the largest value of any directory; false when none is left to drop.
bool dropLargest(Layout& layout)
{
    std::vector<ReadEntry>* where = nullptr;
    std::size_t index = 0, largest = 4;
    for (auto* dir : {&layout.ifd0, &layout.exif, &layout.gps})
        for (std::size_t i = 0; i < dir->size(); ++i)
            if ((*dir)[i].value.size() > largest) {
                where = dir;
                index = i;
                largest = (*dir)[i].value.size();
            }
    if (!where)
        return false;
    where->erase(where->begin() + std::ptrdiff_t(index));
    return true;
}

void addIfMissing(std::vector<ReadEntry>& entries, ReadEntry entry)
{
    if (!findRead(entries, entry.tag))
        entries.push_back(std::move(entry));
}

ReadEntry shortEntry(std::uint16_t tag, std::uint16_t value, bool be)
{
    TiffBytes v({}, be);
    v.append16(value);
    return ReadEntry{tag, std::uint16_t(TiffType::Short), 1, v.bytes()};
}

ReadEntry rationalEntry(std::uint16_t tag, std::uint32_t numerator, std::uint32_t denominator, bool be)
{
    TiffBytes v({}, be);
    v.append32(numerator);
    v.append32(denominator);
    return ReadEntry{tag, std::uint16_t(TiffType::Rational), 1, v.bytes()};
}

ReadEntry undefinedEntry(std::uint16_t tag, std::vector<std::uint8_t> bytes)
{
    const auto count = std::uint32_t(bytes.size());
    return ReadEntry{tag, std::uint16_t(TiffType::Undefined), count, std::move(bytes)};
}

// The tags a JPEG's EXIF must hold that a TIFF need not: the output is a
// YCbCr JPEG, so they are known whatever the TIFF said. Tags the TIFF has
// are kept as they are.
void addJpegRequired(Layout& layout, bool hasProfile, bool be)
{
    addIfMissing(layout.ifd0, rationalEntry(0x011A, 72, 1, be)); // XResolution
    addIfMissing(layout.ifd0, rationalEntry(0x011B, 72, 1, be)); // YResolution
    addIfMissing(layout.ifd0, shortEntry(0x0128, 2, be));        // ResolutionUnit: inches
    addIfMissing(layout.ifd0, shortEntry(0x0213, 1, be));        // YCbCrPositioning: centred
    addIfMissing(layout.exif, undefinedEntry(0x9000, {'0', '2', '3', '0'})); // ExifVersion 2.3
    addIfMissing(layout.exif, undefinedEntry(0xA000, {'0', '1', '0', '0'})); // FlashpixVersion 1.0
    addIfMissing(layout.exif, undefinedEntry(0x9101, {1, 2, 3, 0}));         // ComponentsConfiguration: Y Cb Cr
    // ColorSpace: sRGB (1), or uncalibrated (0xFFFF) when a profile says.
    addIfMissing(layout.exif, shortEntry(0xA001, hasProfile ? 0xFFFF : 1, be));
}

} // namespace

SourceMetadata ReadSourceMetadataOfTiff(const RangeReader& read, int width, int height, std::size_t maxSize)
{
    SourceMetadata meta;
    const std::vector<std::uint8_t> header = read(0, 8);
    enforce(header.size() == 8 && IsTiffHead(header.data(), header.size()), "not a TIFF file");
    const bool be = header[0] == 'M';
    const std::vector<ReadEntry> first = readFileDirectory(read, be, TiffBytes(header, be).get32(4));

    if (const ReadEntry* e = findRead(first, kIccTag))
        meta.icc = e->value;
    if (const ReadEntry* e = findRead(first, kXmpTag))
        meta.xmp = e->value;
    if (const ReadEntry* e = findRead(first, kIptcTag))
        meta.iptc = e->value;

    Layout layout;
    for (std::uint16_t tag : kExifLegalFirstTags)
        if (const ReadEntry* e = findRead(first, tag))
            layout.ifd0.push_back(*e);
    // The pixels are written as the reader gives them, already mirrored as
    // the file's Orientation asks: the output says what they still need.
    if (const ReadEntry* e = findRead(layout.ifd0, kOrientation); e && e->value.size() >= 2) {
        const std::uint16_t stored = TiffBytes(e->value, be).get16(0);
        setEntry(layout.ifd0, shortEntry(kOrientation, OrientationAfterTiffRead(stored), be));
    }
    if (const auto at = pointerOf(first, kExifPointer, be)) {
        for (ReadEntry& e : readFileDirectory(read, be, *at)) {
            if (e.tag == kMakerNote && !MakerNoteSurvivesRelocation(e.value.data(), e.value.size())) {
                meta.exif.makerNoteDropped = true;
                continue;
            }
            // Its directory is not carried, so neither is the pointer.
            if (e.tag != kInteropPointer)
                layout.exif.push_back(std::move(e));
        }
    }
    if (const auto at = pointerOf(first, kGpsPointer, be))
        layout.gps = readFileDirectory(read, be, *at);
    if (layout.ifd0.empty() && layout.exif.empty() && layout.gps.empty())
        return meta;

    addJpegRequired(layout, !meta.icc.empty(), be);
    setEntry(layout.exif, longEntry(kPixelXDimension, std::uint32_t(width), be));
    setEntry(layout.exif, longEntry(kPixelYDimension, std::uint32_t(height), be));
    for (;;) {
        // Pointer entries take 12 bytes each in the first directory.
        const std::size_t total = 8 + directoryBytes(layout.ifd0) + 2 * kEntrySize + directoryBytes(layout.exif) +
                                  (layout.gps.empty() ? 0 : directoryBytes(layout.gps));
        if (total <= maxSize)
            break;
        enforce(dropLargest(layout), "EXIF directories too large for a JPEG");
    }
    std::vector<ReadEntry> ifd0 = layout.ifd0;
    const std::size_t ifd0Size = directoryBytes(ifd0) + kEntrySize * (layout.gps.empty() ? 1 : 2);
    const std::size_t exifAt = 8 + ifd0Size;
    setEntry(ifd0, longEntry(kExifPointer, std::uint32_t(exifAt), be));
    if (!layout.gps.empty())
        setEntry(ifd0, longEntry(kGpsPointer, std::uint32_t(exifAt + directoryBytes(layout.exif)), be));

    TiffBytes t({}, be);
    t.bytes() = {header[0], header[1]};
    t.append16(42);
    t.append32(8);
    writeDirectory(t, ifd0);
    writeDirectory(t, layout.exif);
    if (!layout.gps.empty())
        writeDirectory(t, layout.gps);
    meta.exif.tiff = std::move(t.bytes());
    return meta;
}

namespace {

void addIfMissing(std::vector<TiffDirectoryEntry>& entries, TiffDirectoryEntry entry)
{
    for (const TiffDirectoryEntry& e : entries)
        if (e.tag == entry.tag)
            return;
    entries.push_back(std::move(entry));
}

// The tags a TIFF's EXIF must hold that a camera's JPEG block may lack:
// the resolution, the versions, the colour space and the GPS version.
void addTiffRequired(TiffExif& exif, bool hasProfile)
{
    const bool be = exif.bigEndian;
    auto bytes = [&](TiffType type, std::uint32_t count, std::initializer_list<std::uint32_t> numbers) {
        TiffBytes v({}, be);
        for (std::uint32_t n : numbers)
            type == TiffType::Short ? v.append16(std::uint16_t(n)) : v.append32(n);
        return TiffDirectoryEntry{0, std::uint16_t(type), count, v.bytes()};
    };
    auto with = [](std::uint16_t tag, TiffDirectoryEntry e) {
        e.tag = tag;
        return e;
    };
    addIfMissing(exif.first, with(0x011A, bytes(TiffType::Rational, 1, {72, 1}))); // XResolution
    addIfMissing(exif.first, with(0x011B, bytes(TiffType::Rational, 1, {72, 1}))); // YResolution
    addIfMissing(exif.first, with(0x0128, bytes(TiffType::Short, 1, {2})));        // ResolutionUnit: inches
    if (!exif.exif.empty()) {
        addIfMissing(exif.exif, TiffDirectoryEntry{0x9000, std::uint16_t(TiffType::Undefined), 4, {'0', '2', '3', '0'}});
        addIfMissing(exif.exif, TiffDirectoryEntry{0xA000, std::uint16_t(TiffType::Undefined), 4, {'0', '1', '0', '0'}});
        // ColorSpace: sRGB (1), or uncalibrated (0xFFFF) when a profile says.
        addIfMissing(exif.exif, with(0xA001, bytes(TiffType::Short, 1, {hasProfile ? 0xFFFFu : 1u})));
    }
    // GPSProcessingMethod is not made up: how a camera found its position
    // is not known.
    if (!exif.gps.empty())
        addIfMissing(exif.gps, TiffDirectoryEntry{0x0000, std::uint16_t(TiffType::Byte), 4, {2, 3, 0, 0}});
}

} // namespace

bool MakerNoteSurvivesRelocation(const std::uint8_t* note, std::size_t size)
{
    auto startsWith = [&](const char* id, std::size_t n) { return size >= n && std::memcmp(note, id, n) == 0; };
    // "Nikon\0", two version bytes, two more, then a TIFF header its
    // offsets count from.
    if (startsWith("Nikon\0", 6) && size >= 18 && IsTiffHead(note + 10, size - 10))
        return true;
    // Byte order right after the name; offsets from the note's start.
    if (startsWith("OLYMPUS\0II", 10) || startsWith("OLYMPUS\0MM", 10) || startsWith("OM SYSTEM\0\0\0II", 14) ||
        startsWith("OM SYSTEM\0\0\0MM", 14))
        return true;
    // Always little-endian, its directory's offset stored after the name.
    return startsWith("FUJIFILM", 8) && size >= 12;
}

TiffExif TiffExifOfBlock(const std::uint8_t* tiff, std::size_t size, bool hasProfile, bool& makerNoteDropped)
{
    enforce(size >= 8 && IsTiffHead(tiff, size), "EXIF block without a TIFF header");
    const TiffBytes t(std::vector<std::uint8_t>(tiff, tiff + size), tiff[0] == 'M');
    TiffExif out;
    out.bigEndian = t.bigEndian();
    // The entry's value, or nothing when it lies outside the block.
    auto entryOf = [&](const Entry& e) -> std::optional<TiffDirectoryEntry> {
        const std::uint64_t bytes = std::uint64_t(TiffTypeSize(e.type)) * e.count;
        if (bytes == 0 || bytes > t.size())
            return std::nullopt;
        const std::size_t at = bytes <= 4 ? e.at + 8 : t.get32(e.at + 8);
        if (at > t.size() || bytes > t.size() - at)
            return std::nullopt;
        return TiffDirectoryEntry{e.tag, e.type, e.count,
                         std::vector<std::uint8_t>(t.bytes().begin() + std::ptrdiff_t(at),
                                                   t.bytes().begin() + std::ptrdiff_t(at + bytes))};
    };
    const Directory ifd0 = readDirectory(t, t.get32(4));
    for (const Entry& e : ifd0.entries) {
        const bool legal = std::find(std::begin(kExifLegalFirstTags), std::end(kExifLegalFirstTags), e.tag) !=
                           std::end(kExifLegalFirstTags);
        if (e.tag == kOrientation) {
            if (const auto value = numberOf(t, e); value && *value >= 1 && *value <= 8)
                out.orientation = std::uint16_t(*value);
        } else if (legal) {
            if (auto entry = entryOf(e))
                out.first.push_back(std::move(*entry));
        }
    }
    if (const Entry* p = ifd0.find(kExifPointer); p && numberOf(t, *p)) {
        for (const Entry& e : readDirectory(t, *numberOf(t, *p)).entries) {
            if (e.tag == kInteropPointer)
                continue; // its directory is not carried
            std::optional<TiffDirectoryEntry> entry = entryOf(e);
            if (e.tag == kMakerNote && !(entry && MakerNoteSurvivesRelocation(entry->value.data(), entry->value.size()))) {
                makerNoteDropped = true;
                continue;
            }
            // Tags that only describe compressed data: the TIFF's own
            // ImageWidth and ImageLength give the written size.
            if (e.tag == kComponentsConfiguration || e.tag == kCompressedBitsPerPixel || e.tag == kPixelXDimension ||
                e.tag == kPixelYDimension)
                continue;
            if (entry)
                out.exif.push_back(std::move(*entry));
        }
    }
    if (const Entry* p = ifd0.find(kGpsPointer); p && numberOf(t, *p))
        for (const Entry& e : readDirectory(t, *numberOf(t, *p)).entries)
            if (auto entry = entryOf(e))
                out.gps.push_back(std::move(*entry));
    addTiffRequired(out, hasProfile);
    return out;
}

namespace {

std::vector<std::uint8_t> section(std::uint8_t code, const char* id, std::size_t idSize,
                                  const std::uint8_t* payload, std::size_t size)
{
    const std::size_t length = 2 + idSize + size;
    std::vector<std::uint8_t> s(4 + idSize + size);
    s[0] = 0xFF;
    s[1] = code;
    s[2] = std::uint8_t(length >> 8);
    s[3] = std::uint8_t(length);
    std::memcpy(s.data() + 4, id, idSize);
    if (size)
        std::memcpy(s.data() + 4 + idSize, payload, size);
    return s;
}

constexpr std::size_t kMaxSectionPayload = 65535 - 2;

} // namespace

std::vector<std::uint8_t> IccSections(const std::vector<std::uint8_t>& profile)
{
    // Each chunk: "ICC_PROFILE\0", its number from 1, the number of chunks.
    constexpr char kId[] = "ICC_PROFILE";
    constexpr std::size_t kChunk = kMaxSectionPayload - sizeof kId - 2;
    const std::size_t chunks = (profile.size() + kChunk - 1) / kChunk;
    std::vector<std::uint8_t> out;
    if (chunks == 0 || chunks > 255)
        return out;
    for (std::size_t i = 0; i < chunks; ++i) {
        const std::size_t from = i * kChunk, n = std::min(kChunk, profile.size() - from);
        char id[sizeof kId + 2];
        std::memcpy(id, kId, sizeof kId);
        id[sizeof kId] = char(i + 1);
        id[sizeof kId + 1] = char(chunks);
        const auto s = section(0xE2, id, sizeof id, profile.data() + from, n);
        out.insert(out.end(), s.begin(), s.end());
    }
    return out;
}

std::vector<std::uint8_t> XmpSection(const std::vector<std::uint8_t>& packet)
{
    constexpr char kId[] = "http://ns.adobe.com/xap/1.0/";
    if (packet.empty() || packet.size() > kMaxSectionPayload - sizeof kId)
        return {};
    return section(0xE1, kId, sizeof kId, packet.data(), packet.size());
}

std::vector<std::uint8_t> IptcSection(const std::vector<std::uint8_t>& records)
{
    // One Photoshop image resource: "8BIM", id 0x0404 (IPTC-NAA), an empty
    // name padded to two bytes, the data's size, the data padded to even.
    constexpr char kId[] = "Photoshop 3.0";
    const std::size_t n = records.size();
    std::vector<std::uint8_t> resource{'8', 'B', 'I', 'M', 0x04, 0x04, 0, 0, std::uint8_t(n >> 24),
                                       std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n)};
    resource.insert(resource.end(), records.begin(), records.end());
    if (resource.size() % 2)
        resource.push_back(0);
    if (records.empty() || resource.size() > kMaxSectionPayload - sizeof kId)
        return {};
    return section(0xED, kId, sizeof kId, resource.data(), resource.size());
}

std::vector<std::uint8_t> ExifSection(const std::vector<std::uint8_t>& tiff)
{
    static constexpr char kId[] = {'E', 'x', 'i', 'f', 0, 0};
    return section(0xE1, kId, sizeof kId, tiff.data(), tiff.size());
}

namespace {

// `small` made from `big`: each pixel the mean of the pixels of `big` it
// covers.
void averageDown(const Bitmap24& big, Bitmap24& small, int width, int height)
{
    small.setSize(width, height);
    for (int y = 0; y < height; ++y) {
        const int y0 = int(std::int64_t(y) * big.height() / height);
        const int y1 = std::max(y0 + 1, int(std::int64_t(y + 1) * big.height() / height));
        for (int x = 0; x < width; ++x) {
            const int x0 = int(std::int64_t(x) * big.width() / width);
            const int x1 = std::max(x0 + 1, int(std::int64_t(x + 1) * big.width() / width));
            unsigned sum[3] = {};
            for (int sy = y0; sy < y1; ++sy) {
                const std::uint8_t* p = big.scanLine(sy) + 3 * x0;
                for (int sx = x0; sx < x1; ++sx, p += 3)
                    for (int c = 0; c < 3; ++c)
                        sum[c] += p[c];
            }
            const unsigned count = unsigned((y1 - y0) * (x1 - x0));
            std::uint8_t* q = small.scanLine(y) + 3 * x;
            for (int c = 0; c < 3; ++c)
                q[c] = std::uint8_t((sum[c] + count / 2) / count);
        }
    }
}

// An EXIF thumbnail is a bare JPEG: SOI straight into the tables, without
// the encoder's JFIF section.
std::vector<std::uint8_t> bareJpeg(const Bitmap24& picture, int quality)
{
    std::vector<std::uint8_t> jpeg = EncodeJpeg(picture, quality);
    constexpr std::size_t kJfifEnd = 20;
    if (jpeg.size() > kJfifEnd && jpeg[2] == 0xFF && jpeg[3] == 0xE0)
        jpeg.erase(jpeg.begin() + 2, jpeg.begin() + kJfifEnd);
    return jpeg;
}

} // namespace

ThumbnailMaker ThumbnailOfJpeg(const std::uint8_t* encoded, std::size_t size)
{
    // The reduced picture is made once, however many qualities are tried.
    auto reduced = std::make_shared<Bitmap24>();
    return [=](int width, int height, int quality) {
        if (reduced->width() != width || reduced->height() != height)
            averageDown(DecodeJpegReduced(encoded, size, width, height), *reduced, width, height);
        return bareJpeg(*reduced, quality);
    };
}

ThumbnailMaker ThumbnailOfReducedPicture(std::shared_ptr<const Bitmap24> picture, ThumbnailMaker otherwise)
{
    auto reduced = std::make_shared<Bitmap24>();
    return [=](int width, int height, int quality) {
        if (picture->width() < width || picture->height() < height)
            return otherwise(width, height, quality);
        if (reduced->width() != width || reduced->height() != height)
            averageDown(*picture, *reduced, width, height);
        return bareJpeg(*reduced, quality);
    };
}

} // namespace lumivane
