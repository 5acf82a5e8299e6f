// SPDX-License-Identifier: GPL-3.0-or-later
#include "TiffDirectories.h"

#include "TiffReader.h"

#include <algorithm>
#include <set>

namespace lumivane {

namespace {

constexpr std::uint16_t kExifPointerTag = 34665;
constexpr std::uint16_t kGpsPointerTag = 34853;
// A first directory with more entries than this is not one libtiff wrote.
constexpr std::uint64_t kMaxEntries = 4096;

// The file's layout: byte order and classic or BigTIFF widths.
struct Layout {
    bool bigEndian = false;
    bool big = false;

    std::size_t countSize() const { return big ? 8 : 2; }
    std::size_t entrySize() const { return big ? 20 : 12; }
    std::size_t offsetSize() const { return big ? 8 : 4; }

    void put(std::vector<std::uint8_t>& out, std::uint64_t v, std::size_t n) const
    {
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t shift = 8 * (bigEndian ? n - 1 - i : i);
            out.push_back(std::uint8_t(v >> shift));
        }
    }
    std::uint64_t get(const std::uint8_t* in, std::size_t n) const
    {
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < n; ++i)
            v |= std::uint64_t(in[i]) << (8 * (bigEndian ? n - 1 - i : i));
        return v;
    }
};

// The unit byte swapping works on: a rational is two 32-bit numbers.
std::size_t swapUnit(std::uint16_t type)
{
    switch (TiffFieldType(type)) {
    case TiffFieldType::Rational:
    case TiffFieldType::SRational:
        return 4;
    default:
        return std::size_t(std::max(TiffFieldTypeSize(type), 1));
    }
}

// One entry of a directory being written: either an entry of the file's
// own first directory, copied as it is (its value stays where libtiff put
// it), or a new one whose value is in the file's byte order.
struct OutEntry {
    std::uint16_t tag = 0;
    std::vector<std::uint8_t> raw;
    std::uint16_t type = 0;
    std::uint64_t count = 0;
    std::vector<std::uint8_t> value;
};

OutEntry converted(const TiffDirectoryEntry& e, bool fromBigEndian, const Layout& layout)
{
    OutEntry out{e.tag, {}, e.type, e.count, e.value};
    const std::size_t unit = swapUnit(e.type);
    if (fromBigEndian != layout.bigEndian && unit > 1)
        for (std::size_t at = 0; at + unit <= out.value.size(); at += unit)
            std::reverse(out.value.begin() + std::ptrdiff_t(at), out.value.begin() + std::ptrdiff_t(at + unit));
    return out;
}

OutEntry pointer(std::uint16_t tag, std::uint64_t at, const Layout& layout)
{
    OutEntry out{tag, {}, std::uint16_t(layout.big ? TiffFieldType::Ifd8 : TiffFieldType::Long), 1, {}};
    layout.put(out.value, at, layout.offsetSize());
    return out;
}

// The bytes of a directory placed at `at` (even), its longer values right
// after it, each on an even offset; `next` links the following directory.
std::vector<std::uint8_t> directoryBytes(std::vector<OutEntry> entries, std::uint64_t at, std::uint64_t next,
                                         const Layout& layout)
{
    std::stable_sort(entries.begin(), entries.end(),
                     [](const OutEntry& a, const OutEntry& b) { return a.tag < b.tag; });
    std::vector<std::uint8_t> out;
    layout.put(out, entries.size(), layout.countSize());
    std::uint64_t valueAt = at + layout.countSize() + entries.size() * layout.entrySize() + layout.offsetSize();
    for (const OutEntry& e : entries) {
        if (!e.raw.empty()) {
            out.insert(out.end(), e.raw.begin(), e.raw.end());
            continue;
        }
        layout.put(out, e.tag, 2);
        layout.put(out, e.type, 2);
        layout.put(out, e.count, layout.offsetSize());
        if (e.value.size() <= layout.offsetSize()) {
            // A short value sits in the entry itself, left-justified.
            out.insert(out.end(), e.value.begin(), e.value.end());
            out.resize(out.size() + layout.offsetSize() - e.value.size(), 0);
        } else {
            layout.put(out, valueAt, layout.offsetSize());
            valueAt += e.value.size() + e.value.size() % 2;
        }
    }
    layout.put(out, next, layout.offsetSize());
    for (const OutEntry& e : entries) {
        if (!e.raw.empty() || e.value.size() <= layout.offsetSize())
            continue;
        out.insert(out.end(), e.value.begin(), e.value.end());
        if (out.size() % 2)
            out.push_back(0);
    }
    return out;
}

std::vector<std::uint8_t> readBack(TemporaryFile& file, std::uint64_t at, std::size_t n)
{
    std::vector<std::uint8_t> bytes(n);
    if (file.ReadAt(at, bytes.data(), n) != static_cast<long long>(n))
        throw TiffError("Cannot write the TIFF: its first directory cannot be read back");
    return bytes;
}

std::vector<OutEntry> convertedAll(const std::vector<TiffDirectoryEntry>& entries, bool fromBigEndian, const Layout& layout)
{
    std::vector<OutEntry> out;
    for (const TiffDirectoryEntry& e : entries)
        if (TiffFieldTypeSize(e.type) != 0 && e.value.size() == std::size_t(TiffFieldTypeSize(e.type)) * e.count)
            out.push_back(converted(e, fromBigEndian, layout));
    return out;
}

OutEntry numberEntry(std::uint16_t tag, TiffFieldType type, std::vector<std::uint64_t> values, const Layout& layout)
{
    OutEntry out{tag, {}, std::uint16_t(type), values.size(), {}};
    for (std::uint64_t v : values)
        layout.put(out.value, v, std::size_t(TiffFieldTypeSize(std::uint16_t(type))));
    return out;
}

// The second directory: an uncompressed red-green-blue reduced image in
// one strip at `pixelsAt`.
std::vector<OutEntry> thumbnailEntries(const TiffThumbnail& t, std::uint64_t pixelsAt, const Layout& layout)
{
    const auto offsetType = layout.big ? TiffFieldType::Long8 : TiffFieldType::Long;
    const auto w = std::uint64_t(t.width), h = std::uint64_t(t.height);
    auto rational = [&](std::uint16_t tag) {
        OutEntry e{tag, {}, std::uint16_t(TiffFieldType::Rational), 1, {}};
        layout.put(e.value, 72, 4);
        layout.put(e.value, 1, 4);
        return e;
    };
    return {
        numberEntry(254, TiffFieldType::Long, {1}, layout),           // NewSubfileType: reduced resolution
        numberEntry(256, TiffFieldType::Long, {w}, layout),           // ImageWidth
        numberEntry(257, TiffFieldType::Long, {h}, layout),           // ImageLength
        numberEntry(258, TiffFieldType::Short, {8, 8, 8}, layout),    // BitsPerSample
        numberEntry(259, TiffFieldType::Short, {1}, layout),          // Compression: none
        numberEntry(262, TiffFieldType::Short, {2}, layout),          // PhotometricInterpretation: RGB
        numberEntry(273, offsetType, {pixelsAt}, layout),             // StripOffsets
        numberEntry(277, TiffFieldType::Short, {3}, layout),          // SamplesPerPixel
        numberEntry(278, TiffFieldType::Long, {h}, layout),           // RowsPerStrip
        numberEntry(279, offsetType, {w * h * 3}, layout),            // StripByteCounts
        rational(282),                                                // XResolution
        rational(283),                                                // YResolution
        numberEntry(284, TiffFieldType::Short, {1}, layout),          // PlanarConfiguration: contiguous
        numberEntry(296, TiffFieldType::Short, {2}, layout),          // ResolutionUnit: inches
    };
}

} // namespace

int TiffFieldTypeSize(std::uint16_t type)
{
    switch (TiffFieldType(type)) {
    case TiffFieldType::Byte:
    case TiffFieldType::Ascii:
    case TiffFieldType::SByte:
    case TiffFieldType::Undefined:
        return 1;
    case TiffFieldType::Short:
    case TiffFieldType::SShort:
        return 2;
    case TiffFieldType::Long:
    case TiffFieldType::SLong:
    case TiffFieldType::Float:
    case TiffFieldType::Ifd:
        return 4;
    case TiffFieldType::Rational:
    case TiffFieldType::SRational:
    case TiffFieldType::Double:
    case TiffFieldType::Long8:
    case TiffFieldType::SLong8:
    case TiffFieldType::Ifd8:
        return 8;
    }
    return 0;
}

std::uint64_t TiffExif::bytes() const
{
    std::uint64_t n = 64;
    for (const auto* list : {&first, &exif, &gps})
        for (const TiffDirectoryEntry& e : *list)
            n += 20 + e.value.size() + 1;
    return n;
}

TiffThumbnailBuilder::TiffThumbnailBuilder(int width, int height, int bitsPerSample)
    : width_(width), height_(height), bits_(bitsPerSample)
{
    if (width <= 0 || height <= 0)
        return;
    // The largest size of the picture's aspect within 160 x 120.
    constexpr int kMaxWidth = 160, kMaxHeight = 120;
    if (std::int64_t(width) * kMaxHeight >= std::int64_t(height) * kMaxWidth) {
        thumb_.width = std::min(width, kMaxWidth);
        thumb_.height = int(std::max<std::int64_t>(1, (std::int64_t(height) * thumb_.width + width / 2) / width));
    } else {
        thumb_.height = std::min(height, kMaxHeight);
        thumb_.width = int(std::max<std::int64_t>(1, (std::int64_t(width) * thumb_.height + height / 2) / height));
    }
    column_.resize(std::size_t(width));
    for (int x = 0; x < width; ++x)
        column_[std::size_t(x)] = int(std::int64_t(x) * thumb_.width / width);
    sums_.assign(std::size_t(thumb_.width) * std::size_t(thumb_.height) * 3, 0);
    counts_.assign(std::size_t(thumb_.width) * std::size_t(thumb_.height), 0);
}

void TiffThumbnailBuilder::AddRows(const void* rows, std::size_t stride, int count)
{
    const auto* row = static_cast<const std::uint8_t*>(rows);
    for (int i = 0; i < count && rowsAdded_ < height_; ++i, row += stride, ++rowsAdded_) {
        const std::size_t ty = std::size_t(std::int64_t(rowsAdded_) * thumb_.height / height_);
        std::uint64_t* sums = sums_.data() + ty * std::size_t(thumb_.width) * 3;
        std::uint32_t* counts = counts_.data() + ty * std::size_t(thumb_.width);
        const auto* row16 = reinterpret_cast<const std::uint16_t*>(row);
        for (int x = 0; x < width_; ++x) {
            std::uint64_t* sum = sums + 3 * std::size_t(column_[std::size_t(x)]);
            for (int c = 0; c < 3; ++c)
                sum[c] += bits_ == 16 ? row16[3 * x + c] : row[3 * x + c];
            ++counts[column_[std::size_t(x)]];
        }
    }
}

TiffThumbnail TiffThumbnailBuilder::Result() const
{
    if (rowsAdded_ != height_ || thumb_.empty())
        return {};
    TiffThumbnail out = thumb_;
    out.rgb.resize(sums_.size());
    // 16-bit samples come down to 8 bits (65535 / 257 = 255).
    const std::uint64_t scale = bits_ == 16 ? 257 : 1;
    for (std::size_t i = 0; i < sums_.size(); ++i) {
        const std::uint64_t n = std::uint64_t(counts_[i / 3]) * scale;
        out.rgb[i] = std::uint8_t(n ? (sums_[i] + n / 2) / n : 0);
    }
    return out;
}

int AppendExifDirectories(TemporaryFile& file, const TiffExif& exif, const TiffThumbnail& thumbnail)
{
    if (exif.empty() && thumbnail.empty())
        return 0;
    const std::vector<std::uint8_t> head = readBack(file, 0, 16);
    Layout layout;
    if ((head[0] != 'I' || head[1] != 'I') && (head[0] != 'M' || head[1] != 'M'))
        throw TiffError("Cannot write the TIFF: no TIFF header to add the EXIF to");
    layout.bigEndian = head[0] == 'M';
    layout.big = layout.get(&head[2], 2) == 43;
    const std::size_t headerPointerAt = layout.big ? 8 : 4;
    const std::uint64_t firstAt = layout.get(&head[headerPointerAt], layout.offsetSize());

    // The first directory as libtiff wrote it.
    const std::uint64_t count = layout.get(readBack(file, firstAt, layout.countSize()).data(), layout.countSize());
    if (count > kMaxEntries)
        throw TiffError("Cannot write the TIFF: its first directory cannot be read back");
    const std::vector<std::uint8_t> entries =
        readBack(file, firstAt + layout.countSize(), std::size_t(count) * layout.entrySize() + layout.offsetSize());
    std::vector<OutEntry> first;
    std::set<std::uint16_t> present;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* e = entries.data() + i * layout.entrySize();
        OutEntry kept;
        kept.tag = std::uint16_t(layout.get(e, 2));
        kept.raw.assign(e, e + layout.entrySize());
        present.insert(kept.tag);
        first.push_back(std::move(kept));
    }
    const std::uint64_t next = layout.get(entries.data() + count * layout.entrySize(), layout.offsetSize());
    for (OutEntry& e : convertedAll(exif.first, exif.bigEndian, layout))
        if (!present.count(e.tag) && e.tag != kExifPointerTag && e.tag != kGpsPointerTag)
            first.push_back(std::move(e));

    // EXIF, GPS, then the grown first directory, from the end of the file.
    std::vector<std::uint8_t> tail;
    const std::uint64_t base = file.Size();
    if (base % 2)
        tail.push_back(0); // directories start on even offsets
    auto appendDirectory = [&](const std::vector<TiffDirectoryEntry>& list, std::uint16_t pointerTag) {
        const std::vector<OutEntry> out = convertedAll(list, exif.bigEndian, layout);
        if (out.empty())
            return;
        const std::uint64_t at = base + tail.size();
        const std::vector<std::uint8_t> bytes = directoryBytes(out, at, 0, layout);
        tail.insert(tail.end(), bytes.begin(), bytes.end());
        first.push_back(pointer(pointerTag, at, layout));
    };
    appendDirectory(exif.exif, kExifPointerTag);
    appendDirectory(exif.gps, kGpsPointerTag);
    std::uint64_t firstNext = next;
    if (!thumbnail.empty() && next == 0) {
        // The thumbnail's pixels, then its directory.
        const std::uint64_t pixelsAt = base + tail.size();
        tail.insert(tail.end(), thumbnail.rgb.begin(), thumbnail.rgb.end());
        if ((base + tail.size()) % 2)
            tail.push_back(0);
        firstNext = base + tail.size();
        const std::vector<std::uint8_t> bytes = directoryBytes(thumbnailEntries(thumbnail, pixelsAt, layout), firstNext, 0, layout);
        tail.insert(tail.end(), bytes.begin(), bytes.end());
    }
    const std::uint64_t newFirstAt = base + tail.size();
    const std::vector<std::uint8_t> firstBytes = directoryBytes(first, newFirstAt, firstNext, layout);
    tail.insert(tail.end(), firstBytes.begin(), firstBytes.end());
    if (!layout.big && base + tail.size() > 0xFFFFFFFFu)
        throw TiffError("Cannot write the TIFF: its EXIF takes it past 4 GiB");

    if (const int err = file.WriteAt(base, tail.data(), tail.size()))
        return err;
    std::vector<std::uint8_t> pointerBytes;
    layout.put(pointerBytes, newFirstAt, layout.offsetSize());
    return file.WriteAt(headerPointerAt, pointerBytes.data(), pointerBytes.size());
}

} // namespace lumivane
