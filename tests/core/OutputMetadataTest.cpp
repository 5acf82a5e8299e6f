// SPDX-License-Identifier: GPL-3.0-or-later
// Outputs whose metadata describe the written picture: EXIF pixel
// dimensions of the written size, a thumbnail of the corrected, cropped
// picture, maker notes where they were, and TIFF photographs whose EXIF,
// ICC profile, XMP and IPTC reach the JPEG written from them.
#include "ByteReader.h"
#include "CameraExif.h"
#include "ExifTransplant.h"
#include "JpegCodec.h"
#include "JpegMetadataBlocks.h"
#include "OutputMetadata.h"
#include "TiffDirectories.h"
#include "TiffFiles.h"
#include "TiffWriter.h"

#include "TemporaryFolder.h"
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <unistd.h>

using namespace lumivane;
namespace fs = std::filesystem;
using Buffer = std::vector<std::uint8_t>;

namespace {

Buffer readBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Buffer(std::istreambuf_iterator<char>(in), {});
}

// A picture with detail in both directions, so a thumbnail of the wrong
// part or the wrong orientation shows.
Bitmap24 gradient(int width, int height)
{
    Bitmap24 b(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = b.scanLine(y) + 3 * x;
            p[0] = std::uint8_t(255 * x / width);
            p[1] = std::uint8_t(255 * y / height);
            p[2] = std::uint8_t(255 * (x + 2 * y) / (width + 2 * height));
        }
    return b;
}

// The EXIF block (after "Exif\0\0") of the first EXIF APP1 of a JPEG and
// that section's length field.
Buffer exifBlockOf(const Buffer& jpeg, std::size_t* sectionLength = nullptr)
{
    std::size_t pos = 2;
    while (pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF && jpeg[pos + 1] != 0xDA) {
        const std::size_t length = std::size_t(jpeg[pos + 2]) << 8 | jpeg[pos + 3];
        if (jpeg[pos + 1] == 0xE1 && length >= 8 && std::memcmp(&jpeg[pos + 4], "Exif\0\0", 6) == 0) {
            if (sectionLength)
                *sectionLength = length;
            return Buffer(jpeg.begin() + std::ptrdiff_t(pos + 10), jpeg.begin() + std::ptrdiff_t(pos + 2 + length));
        }
        pos += 2 + length;
    }
    return {};
}

// What the test reads from an EXIF block, walked independently of the
// code under test.
struct Facts {
    std::int64_t pixelX = -1, pixelY = -1;
    std::int64_t ifd1 = 0;
    std::int64_t thumbAt = -1, thumbSize = -1, compression = -1;
    std::int64_t makerAt = -1, makerSize = -1;
    std::int64_t orientation = -1;
    std::set<int> firstTags;
    std::string make, model, dateTime;
};

std::int64_t valueOf(const ByteReader& r, std::int64_t entry)
{
    return r.Read16(entry + 2) == 3 ? r.Read16(entry + 8) : std::uint32_t(r.Read32(entry + 8));
}

std::string textOf(const ByteReader& r, std::int64_t entry)
{
    const std::int64_t count = std::uint32_t(r.Read32(entry + 4));
    const Bytes bytes = count <= 4 ? r.Copy(entry + 8, count) : r.Copy(std::uint32_t(r.Read32(entry + 8)) + 1, count);
    return bytes.substr(0, bytes.find('\0'));
}

Facts factsOf(const Buffer& tiff)
{
    Facts f;
    const ByteReader r(tiff.data(), tiff.size(), tiff.at(0) == 'M');
    auto walk = [&](std::int64_t at, auto&& visit) {
        const int n = r.Read16(at + 1);
        for (int i = 0; i < n; ++i)
            visit(at + 3 + 12 * i, r.Read16(at + 3 + 12 * i));
        return std::int64_t(std::uint32_t(r.Read32(at + 3 + 12 * n)));
    };
    std::int64_t exifAt = -1;
    f.ifd1 = walk(std::uint32_t(r.Read32(5)), [&](std::int64_t e, int tag) {
        f.firstTags.insert(tag);
        if (tag == 0x8769)
            exifAt = valueOf(r, e);
        if (tag == 0x010F)
            f.make = textOf(r, e);
        if (tag == 0x0110)
            f.model = textOf(r, e);
        if (tag == 0x0132)
            f.dateTime = textOf(r, e);
        if (tag == 0x0112)
            f.orientation = valueOf(r, e);
    });
    if (exifAt >= 0)
        walk(exifAt, [&](std::int64_t e, int tag) {
            if (tag == 0xA002)
                f.pixelX = valueOf(r, e);
            if (tag == 0xA003)
                f.pixelY = valueOf(r, e);
            if (tag == 0x927C) {
                f.makerSize = std::uint32_t(r.Read32(e + 4));
                f.makerAt = f.makerSize > 4 ? std::uint32_t(r.Read32(e + 8)) : -1;
            }
        });
    if (f.ifd1)
        walk(f.ifd1, [&](std::int64_t e, int tag) {
            if (tag == 0x0201)
                f.thumbAt = valueOf(r, e);
            if (tag == 0x0202)
                f.thumbSize = valueOf(r, e);
            if (tag == 0x0103)
                f.compression = valueOf(r, e);
        });
    return f;
}

// The mean of each box of `picture` at width x height: what a thumbnail
// of it should show.
Bitmap24 reduced(const Bitmap24& picture, int width, int height)
{
    Bitmap24 out(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                int n = 0;
                for (int sy = y * picture.height() / height; sy < (y + 1) * picture.height() / height; ++sy)
                    for (int sx = x * picture.width() / width; sx < (x + 1) * picture.width() / width; ++sx, ++n)
                        sum += picture.scanLine(sy)[3 * sx + c];
                out.scanLine(y)[3 * x + c] = std::uint8_t(sum / std::max(n, 1) + 0.5);
            }
    return out;
}

double meanDifference(const Bitmap24& a, const Bitmap24& b)
{
    double sum = 0;
    for (std::size_t i = 0; i < a.byteCount(); ++i)
        sum += std::abs(int(a.data()[i]) - int(b.data()[i]));
    return sum / double(a.byteCount());
}

Bitmap24 decode(const Buffer& jpeg)
{
    TJPEGImage image;
    image.LoadFromBytes(jpeg);
    return image.Decode();
}

// Checks the output against what it must say of the written picture
// `encoded` (width x height) and returns the EXIF facts.
Facts expectDescribes(const Buffer& out, const Buffer& encoded, int width, int height)
{
    // The pixels are the encoder's bytes, untouched.
    EXPECT_TRUE(out.size() >= encoded.size() - 20 &&
                std::equal(encoded.begin() + 20, encoded.end(), out.end() - std::ptrdiff_t(encoded.size() - 20)));
    std::size_t length = 0;
    const Buffer block = exifBlockOf(out, &length);
    EXPECT_FALSE(block.empty());
    if (block.empty())
        return {};
    EXPECT_LE(length, 65535u);
    const Facts f = factsOf(block);
    EXPECT_EQ(f.pixelX, width);
    EXPECT_EQ(f.pixelY, height);
    if (f.thumbAt >= 0) {
        EXPECT_EQ(std::size_t(f.thumbAt + f.thumbSize), block.size()) << "the new thumbnail comes last";
        const Buffer thumb(block.begin() + f.thumbAt, block.begin() + f.thumbAt + f.thumbSize);
        const Bitmap24 shown = decode(thumb);
        EXPECT_LE(shown.width(), 1024);
        EXPECT_NEAR(double(shown.width()) / shown.height(), double(width) / height, 0.1);
        EXPECT_LT(meanDifference(shown, reduced(decode(encoded), shown.width(), shown.height())), 6.0);
    }
    return f;
}

const fs::path kExifSamples = fs::path(LUMIVANE_SAMPLES_DIR) / "exif";
const fs::path kOlympusTiff = fs::path(LUMIVANE_SAMPLES_DIR) / "tiff" / "pc260001.tif";

} // namespace

TEST(OutputMetadata, CameraFiles_CroppedOutputsNameTheirSizeAndShowTheirPicture)
{
    ASSERT_TRUE(fs::is_directory(kExifSamples));
    // Two crops of different aspect: the thumbnail follows the output's.
    const struct {
        int width, height;
    } outputs[] = {{300, 210}, {200, 320}};
    int rebuilt = 0, withMakerNote = 0;
    for (const auto& entry : fs::directory_iterator(kExifSamples)) {
        const Buffer source = readBytes(entry.path());
        const Buffer sourceBlock = exifBlockOf(source);
        if (sourceBlock.empty())
            continue;
        const Facts before = factsOf(sourceBlock);
        for (const auto& o : outputs) {
            SCOPED_TRACE(entry.path().filename().string() + " " + std::to_string(o.width) + "x" +
                         std::to_string(o.height));
            const Buffer encoded = EncodeJpeg(gradient(o.width, o.height), 90);
            TransplantResult result{};
            MetadataReport report;
            const Buffer out = AssembleJpegWithExif(encoded.data(), encoded.size(), source.data(), source.size(),
                                                    &result, OutputPicture{o.width, o.height}, &report);
            ASSERT_EQ(result, TransplantResult::Transplanted);
            const Facts after = expectDescribes(out, encoded, o.width, o.height);
            // The maker note keeps its offset and bytes; nothing is dropped
            // from a JPEG's block.
            EXPECT_FALSE(report.makerNoteDropped);
            EXPECT_EQ(after.makerAt, before.makerAt);
            const Buffer afterBlock = exifBlockOf(out);
            if (before.makerAt >= 0) {
                ++withMakerNote;
                EXPECT_TRUE(std::equal(sourceBlock.begin() + before.makerAt,
                                       sourceBlock.begin() + before.makerAt + before.makerSize,
                                       afterBlock.begin() + after.makerAt));
            }
            const bool hadJpegThumbnail = before.thumbAt >= 0 && before.compression != 1;
            if (hadJpegThumbnail) {
                EXPECT_EQ(report.thumbnail, ThumbnailFate::Rebuilt);
                ++rebuilt;
            } else if (before.ifd1 == 0) {
                EXPECT_EQ(report.thumbnail, ThumbnailFate::None);
            }
        }
    }
    EXPECT_GE(rebuilt, 40);
    EXPECT_GE(withMakerNote, 40);
}

namespace {

// A little-endian EXIF block laid out by hand:
//   header, IFD0 (ExifIFD pointer), IFD1 (thumbnail offset, length),
//   the Exif IFD (PixelXDimension, PixelYDimension, UserComment),
//   the UserComment's bytes, the thumbnail, `after` bytes of trailing data.
struct HandBlock {
    Buffer bytes;
    std::size_t thumbAt = 0;
};

void put16(Buffer& b, unsigned v)
{
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
}

void put32(Buffer& b, std::uint32_t v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

void entry(Buffer& b, unsigned tag, unsigned type, std::uint32_t count, std::uint32_t value)
{
    put16(b, tag);
    put16(b, type);
    put32(b, count);
    put32(b, value);
}

HandBlock handBlock(const Buffer& thumbnail, std::size_t commentSize, std::size_t trailing, unsigned thumbCompression)
{
    const std::uint32_t ifd0 = 8, ifd1 = ifd0 + 2 + 12 + 4, exif = ifd1 + 2 + 3 * 12 + 4;
    const std::uint32_t comment = exif + 2 + 3 * 12 + 4;
    const std::uint32_t thumb = comment + std::uint32_t(commentSize);
    Buffer b{'I', 'I', 42, 0};
    put32(b, ifd0);                                  // offset of IFD0
    put16(b, 1);                                     // IFD0: one entry
    entry(b, 0x8769, 4, 1, exif);                    //   ExifIFD pointer
    put32(b, ifd1);                                  //   next: IFD1
    put16(b, 3);                                     // IFD1: three entries
    entry(b, 0x0103, 3, 1, thumbCompression);        //   Compression (6 JPEG, 1 none)
    entry(b, 0x0201, 4, 1, thumb);                   //   JPEGInterchangeFormat
    entry(b, 0x0202, 4, 1, std::uint32_t(thumbnail.size())); // ...Length
    put32(b, 0);                                     //   no next directory
    put16(b, 3);                                     // Exif IFD: three entries
    entry(b, 0x9286, 7, std::uint32_t(commentSize), comment); // UserComment
    entry(b, 0xA002, 3, 1, 640);                     //   PixelXDimension (SHORT)
    entry(b, 0xA003, 3, 1, 480);                     //   PixelYDimension (SHORT)
    put32(b, 0);
    b.resize(b.size() + commentSize, 'c');           // UserComment's bytes
    b.insert(b.end(), thumbnail.begin(), thumbnail.end());
    b.resize(b.size() + trailing, 't');              // data after the thumbnail
    return HandBlock{b, thumb};
}

Buffer jpegWithBlock(const Buffer& block)
{
    Buffer app1 = ExifSection(block);
    Buffer jpeg = EncodeJpeg(gradient(64, 48), 80);
    jpeg.erase(jpeg.begin() + 2, jpeg.begin() + 20);
    jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
    return jpeg;
}

} // namespace

TEST(OutputMetadata, HandBlocks_ThumbnailPlacedLastOrRemoved)
{
    const Buffer oldThumb = EncodeJpeg(gradient(80, 60), 70);
    // A UserComment that leaves 60 bytes of the 64 KiB.
    const std::size_t kFill = kMaxExifBlock - 60 - 30 - oldThumb.size() - 110;
    const struct Row {
        const char* name;
        std::size_t commentSize, trailing;
        unsigned compression;
        ThumbnailFate fate;
        bool oldKept; // the old thumbnail's bytes stay where they were
    } rows[] = {
        {"old thumbnail last: replaced in its place", 40, 0, 6, ThumbnailFate::Rebuilt, false},
        {"old thumbnail not last: kept, unreferenced", 40, 30, 6, ThumbnailFate::Rebuilt, true},
        {"no room left under 64 KiB: removed", kFill, 30, 6, ThumbnailFate::Removed, true},
        {"uncompressed thumbnail: removed", 40, 0, 1, ThumbnailFate::Removed, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const HandBlock hand = handBlock(oldThumb, row.commentSize, row.trailing, row.compression);
        const Buffer source = jpegWithBlock(hand.bytes);
        const Buffer encoded = EncodeJpeg(gradient(200, 120), 90);
        MetadataReport report;
        const Buffer out = AssembleJpegWithExif(encoded.data(), encoded.size(), source.data(), source.size(),
                                                nullptr, OutputPicture{200, 120}, &report);
        EXPECT_EQ(report.thumbnail, row.fate);
        const Facts f = expectDescribes(out, encoded, 200, 120);
        const Buffer block = exifBlockOf(out);
        if (row.fate == ThumbnailFate::Rebuilt) {
            // At the old thumbnail's size, fitted to the output's aspect.
            EXPECT_EQ(decode(Buffer(block.begin() + f.thumbAt, block.begin() + f.thumbAt + f.thumbSize)).width(), 80);
            EXPECT_EQ(f.thumbAt == std::int64_t(hand.thumbAt), !row.oldKept);
        } else {
            EXPECT_EQ(f.ifd1, 0) << "the thumbnail's directory is unlinked";
        }
        if (row.oldKept) {
            EXPECT_TRUE(std::equal(oldThumb.begin(), oldThumb.end(), block.begin() + std::ptrdiff_t(hand.thumbAt)));
        }
        // Everything before the old thumbnail keeps its place but the
        // patched values.
        const Buffer& in = hand.bytes;
        constexpr std::ptrdiff_t kCommentAt = 110;
        EXPECT_TRUE(std::equal(in.begin() + kCommentAt, in.begin() + std::ptrdiff_t(hand.thumbAt), block.begin() + kCommentAt));
    }
}

TEST(OutputMetadata, WithoutPicture_SectionsAreCopiedAsBefore)
{
    const HandBlock hand = handBlock(EncodeJpeg(gradient(16, 12), 70), 8, 0, 6);
    const Buffer source = jpegWithBlock(hand.bytes);
    const Buffer encoded = EncodeJpeg(gradient(50, 30), 90);
    const Buffer out = AssembleJpegWithExif(encoded.data(), encoded.size(), source.data(), source.size());
    EXPECT_EQ(exifBlockOf(out), hand.bytes);
}

namespace {

// A small RGB TIFF written by hand: header, 4 x 2 grey pixels, the first
// directory, the Exif IFD, then every value longer than 4 bytes.
struct TiffEntry {
    std::uint16_t tag, type;
    std::uint32_t count;
    Buffer value;
};

TiffEntry number(std::uint16_t tag, std::uint32_t value)
{
    Buffer v;
    put32(v, value);
    return {tag, 4, 1, v};
}

TiffEntry text(std::uint16_t tag, const std::string& s)
{
    Buffer v(s.begin(), s.end());
    v.push_back(0);
    return {tag, 2, std::uint32_t(v.size()), v};
}

Buffer layTiff(std::vector<TiffEntry> first, std::vector<TiffEntry> exif)
{
    const Buffer pixels(4 * 2 * 3, 128);
    const std::uint32_t ifd0At = 8 + std::uint32_t(pixels.size());
    const std::uint32_t exifAt = ifd0At + 2 + 12 * std::uint32_t(first.size() + 1) + 4;
    std::uint32_t valueAt = exifAt + 2 + 12 * std::uint32_t(exif.size()) + 4;
    first.push_back(number(0x8769, exifAt)); // ExifIFD pointer
    for (auto* list : {&first, &exif})
        std::sort(list->begin(), list->end(), [](const auto& a, const auto& b) { return a.tag < b.tag; });
    Buffer b{'I', 'I', 42, 0};
    put32(b, ifd0At);
    b.insert(b.end(), pixels.begin(), pixels.end());
    Buffer values;
    for (auto* list : {&first, &exif}) {
        put16(b, unsigned(list->size()));
        for (const TiffEntry& e : *list) {
            Buffer v = e.value;
            if (v.size() <= 4) {
                v.resize(4, 0);
                entry(b, e.tag, e.type, e.count, v[0] | v[1] << 8 | v[2] << 16 | std::uint32_t(v[3]) << 24);
                continue;
            }
            entry(b, e.tag, e.type, e.count, valueAt + std::uint32_t(values.size()));
            values.insert(values.end(), v.begin(), v.end());
            if (values.size() % 2)
                values.push_back(0);
        }
        put32(b, 0);
    }
    b.insert(b.end(), values.begin(), values.end());
    return b;
}

Buffer handTiff(const Buffer& icc, const Buffer& xmp, const Buffer& iptc)
{
    std::vector<TiffEntry> first = {
        number(0x0100, 4),                           // ImageWidth
        number(0x0101, 2),                           // ImageLength
        {0x0102, 3, 3, {8, 0, 8, 0, 8, 0}},          // BitsPerSample 8, 8, 8
        number(0x0103, 1),                           // Compression: none
        number(0x0106, 2),                           // Photometric: RGB
        text(0x010F, "TESTMAKER"),                   // Make
        text(0x0110, "Model 7"),                     // Model
        number(0x0111, 8),                           // StripOffsets: after the header
        number(0x0115, 3),                           // SamplesPerPixel
        number(0x0116, 2),                           // RowsPerStrip
        number(0x0117, 24),                          // StripByteCounts
        text(0x0132, "2024:05:06 07:08:09"),         // DateTime
    };
    if (!xmp.empty())
        first.push_back({700, 1, std::uint32_t(xmp.size()), xmp});
    if (!iptc.empty())
        first.push_back({33723, 7, std::uint32_t(iptc.size()), iptc});
    if (!icc.empty())
        first.push_back({34675, 7, std::uint32_t(icc.size()), icc});
    const std::vector<TiffEntry> exif = {
        {0x829A, 5, 1, {1, 0, 0, 0, 125, 0, 0, 0}},  // ExposureTime 1/125
        {0x927C, 7, 20, Buffer(20, 'M')},            // MakerNote
        number(0xA002, 4),                           // PixelXDimension of the TIFF
        number(0xA003, 2),                           // PixelYDimension of the TIFF
    };
    return layTiff(first, exif);
}

// The payloads of the sections of `kind` in a JPEG, back to back (ICC
// chunks without their numbering).
Buffer carried(const Buffer& jpeg, CarriedKind kind)
{
    const CarriedSections found = FindCarriedSections(jpeg.data(), jpeg.size(), 0);
    const std::size_t skip = kind == CarriedKind::IccProfile ? 4 + 14 : kind == CarriedKind::Xmp ? 4 + 29 : 4 + 14;
    Buffer out;
    for (const CarriedSection& s : found.sections)
        if (s.kind == kind)
            out.insert(out.end(), jpeg.begin() + std::ptrdiff_t(s.offset + skip),
                       jpeg.begin() + std::ptrdiff_t(s.offset + s.size));
    return out;
}

Buffer pattern(std::size_t n, unsigned seed)
{
    Buffer b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = std::uint8_t((i * 31 + seed) ^ (i >> 8));
    return b;
}

} // namespace

TEST(OutputMetadata, TiffSources_CarryExifIccXmpIptcIntoJpeg)
{
    const Buffer xmp = [] {
        const std::string x = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF/></x:xmpmeta>";
        return Buffer(x.begin(), x.end());
    }();
    // IPTC-IIM: record 2, dataset 120 (caption), 5 bytes.
    const Buffer iptc{0x1C, 0x02, 0x78, 0x00, 0x05, 'h', 'e', 'l', 'l', 'o'};
    const struct Row {
        const char* name;
        std::size_t iccSize; // 0: none; above 65519 it takes two chunks
    } rows[] = {{"small profile", 3000}, {"profile of two chunks", 70000}, {"no profile", 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Buffer icc = pattern(row.iccSize, 7);
        const Buffer source = handTiff(icc, xmp, iptc);
        const Buffer encoded = EncodeJpeg(gradient(3, 2), 90);
        TransplantResult result{};
        MetadataReport report;
        const Buffer out = AssembleJpegWithExif(encoded.data(), encoded.size(), source.data(), source.size(),
                                                &result, OutputPicture{3, 2}, &report);
        EXPECT_EQ(result, TransplantResult::Transplanted);
        EXPECT_TRUE(report.fromTiff);
        EXPECT_TRUE(report.makerNoteDropped);
        const Facts f = expectDescribes(out, encoded, 3, 2);
        EXPECT_EQ(f.make, "TESTMAKER");
        EXPECT_EQ(f.model, "Model 7");
        EXPECT_EQ(f.dateTime, "2024:05:06 07:08:09");
        EXPECT_EQ(f.makerAt, -1);
        EXPECT_EQ(f.ifd1, 0);
        for (int layoutTag : {0x0100, 0x0101, 0x0102, 0x0103, 0x0106, 0x0111, 0x0115, 0x0116, 0x0117, 700, 33723, 34675})
            EXPECT_EQ(f.firstTags.count(layoutTag), 0u) << layoutTag;
        EXPECT_EQ(carried(out, CarriedKind::IccProfile), icc);
        EXPECT_EQ(carried(out, CarriedKind::Xmp), xmp);
        // The IPTC records inside one Photoshop resource block.
        const Buffer resource = carried(out, CarriedKind::Iptc);
        ASSERT_GE(resource.size(), 12 + iptc.size());
        EXPECT_EQ(Buffer(resource.begin() + 12, resource.begin() + 12 + std::ptrdiff_t(iptc.size())), iptc);
        // The picture is untouched.
        EXPECT_EQ(decode(out).byteCount(), decode(encoded).byteCount());
    }
}

// TIFF to JPEG and back to whole blocks (what a TIFF output stores): every
// block arrives as it left.
TEST(OutputMetadata, TiffToJpegToBlocks_RoundTrip)
{
    const std::string x = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF/></x:xmpmeta>";
    const Buffer xmp(x.begin(), x.end());
    const Buffer iptc{0x1C, 0x02, 0x78, 0x00, 0x03, 'o', 'd', 'd'}; // odd size: padded in the resource
    const Buffer icc = pattern(70000, 9);                            // two APP2 chunks
    const Buffer source = handTiff(icc, xmp, iptc);
    const Buffer encoded = EncodeJpeg(gradient(30, 20), 90);
    const Buffer jpeg = AssembleJpegWithExif(encoded.data(), encoded.size(), source.data(), source.size(), nullptr,
                                             OutputPicture{30, 20});
    const SourceMetadata blocks = JpegMetadataBlocks(jpeg.data(), jpeg.size(), 24, 16, ThumbnailOfJpeg(encoded.data(), encoded.size()));
    EXPECT_EQ(blocks.icc, icc);
    EXPECT_EQ(blocks.xmp, xmp);
    EXPECT_EQ(blocks.iptc, iptc);
    ASSERT_FALSE(blocks.exif.tiff.empty());
    const Facts f = factsOf(blocks.exif.tiff);
    EXPECT_EQ(f.make, "TESTMAKER");
    EXPECT_EQ(f.pixelX, 24);
    EXPECT_EQ(f.pixelY, 16);
    // Cut anywhere, the source gives what it still holds and never more.
    for (std::size_t cut = 0; cut < 2000; cut += 3)
        JpegMetadataBlocks(jpeg.data(), cut, 24, 16, {});
}

TEST(OutputMetadata, OlympusTiff_MakeModelDateReachTheJpeg)
{
    const Buffer source = readBytes(kOlympusTiff);
    ASSERT_FALSE(source.empty());
    const Buffer encoded = EncodeJpeg(gradient(600, 420), 85);
    MetadataReport report;
    const Buffer out = AssembleJpegWithExif(encoded.data(), encoded.size(), source.data(), source.size(), nullptr,
                                            OutputPicture{600, 420}, &report);
    const Facts f = expectDescribes(out, encoded, 600, 420);
    EXPECT_EQ(f.make, "OLYMPUS IMAGING CORP.");
    EXPECT_EQ(f.model, "C7070WZ");
    EXPECT_EQ(f.dateTime, "2005:12:26 17:09:35");
    EXPECT_TRUE(report.makerNoteDropped);
}

TEST(OutputMetadata, MalformedTiffDirectories_GiveNoMetadataAndNoCrash)
{
    Buffer source = handTiff(pattern(100, 1), {}, {});
    const Buffer encoded = EncodeJpeg(gradient(8, 8), 90);
    // Every cut of the file and a directory count pointing far away.
    for (std::size_t cut = 8; cut < source.size(); cut += 7) {
        const Buffer out = AssembleJpegWithExif(encoded.data(), encoded.size(), source.data(), cut, nullptr,
                                                OutputPicture{8, 8});
        EXPECT_TRUE(std::equal(encoded.begin() + 20, encoded.end(), out.end() - std::ptrdiff_t(encoded.size() - 20)));
    }
    source[32] = 0xFF;
    source[33] = 0xFF;
    const Buffer out = AssembleJpegWithExif(encoded.data(), encoded.size(), source.data(), source.size(), nullptr,
                                            OutputPicture{8, 8});
    EXPECT_TRUE(exifBlockOf(out).empty());
}

namespace {

// Runs `command` and returns what it printed (on both streams unless the
// command redirects them itself); ok says whether it exited with 0.
std::string run(const std::string& command, bool& ok, bool bothStreams = true)
{
    std::string out;
    FILE* pipe = ::popen((bothStreams ? command + " 2>&1" : command).c_str(), "r");
    ok = pipe != nullptr;
    if (!pipe)
        return out;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        out.append(buffer, n);
    ok = ::pclose(pipe) == 0;
    return out;
}

bool installed(const char* tool)
{
    bool ok = false;
    run(std::string("command -v ") + tool + " >/dev/null", ok);
    return ok;
}

// The warnings `exiftool -validate -warning -a` gives for a file, without
// the file's name.
std::set<std::string> exiftoolWarnings(const fs::path& file)
{
    bool ok = false;
    const std::string text = run("exiftool -validate -warning -a -s3 '" + file.string() + "'", ok);
    std::set<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        // The count line ("2 Warnings (1 minor)") says nothing the lines
        // themselves do not.
        if (line.find(" Warning") != std::string::npos && std::isdigit(static_cast<unsigned char>(line[0])))
            continue;
        const std::size_t name = line.find(" - " + file.string());
        lines.insert(name == std::string::npos ? line : line.substr(0, name));
    }
    return lines;
}

// exiftool's warnings about a TIFF output that concern the file's layout,
// not the metadata carried: its Adobe Deflate compression (8, newer than
// the TIFF 6.0 values the validator knows), libtiff's type for the IPTC
// tag (UNDEFINED), and the scan directory inside Nikon maker notes, which
// some cameras point past the note's own bytes, so that moving the note
// (which is otherwise self-contained) loses it. And the GPS processing
// method a TIFF's GPS directory should name: a JPEG's may lack it, and it
// is not made up.
bool tiffLayoutWarning(const std::string& warning)
{
    return warning == "Invalid value for IFD0 tag 0x0103 Compression" ||
           warning == "Missing required TIFF GPS tag 0x001b GPSProcessingMethod" ||
           warning == "Non-standard format (undef) for IFD0 0x83bb IPTC-NAA" ||
           warning.find("NikonScanIFD") != std::string::npos;
}

// The error and warning lines of exiv2 reading every metadata value of a
// file; `ok` says whether it read the file to the end.
std::set<std::string> exiv2Errors(const fs::path& file, bool& ok)
{
    const std::string text = run("exiv2 -pa '" + file.string() + "' 2>&1 >/dev/null", ok, false);
    std::set<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.find(file.string()) == std::string::npos)
            lines.insert(line);
    return lines;
}

// Bytes shaped like an ICC profile: its size first and the "acsp"
// signature where readers look for it.
Buffer iccLike(std::size_t n)
{
    Buffer b = pattern(n, 5);
    for (int i = 0; i < 4; ++i)
        b[std::size_t(i)] = std::uint8_t(n >> (24 - 8 * i));
    std::memcpy(&b[36], "acsp", 4);
    return b;
}


// Writes `picture` as an 8-bit TIFF output at `out` with what
// TiffMetadataOfSource gives for `source`, the way a save does.
MetadataReport writeTiffOutput(const fs::path& source, const fs::path& out, const Bitmap24& picture,
                               bool bigTiff = false)
{
    MetadataReport report;
    const TiffMetadata metadata =
        TiffMetadataOfSource(source.string(), OutputPicture{picture.width(), picture.height()}, &report);
    OutputTarget(out.string()).WriteStreamed([&](TemporaryFile& file) {
        TiffRowWriter writer(file, picture.width(), picture.height(), 8, metadata, bigTiff);
        TiffThumbnailBuilder thumbnail(picture.width(), picture.height(), 8);
        Buffer row(std::size_t(picture.width()) * 3);
        for (int y = 0; y < picture.height(); ++y) {
            const std::uint8_t* bgr = picture.scanLine(y);
            for (int x = 0; x < picture.width(); ++x)
                for (int c = 0; c < 3; ++c)
                    row[std::size_t(3 * x + c)] = bgr[3 * x + 2 - c];
            thumbnail.AddRows(row.data(), row.size(), 1);
            if (const int err = writer.WriteRows(row.data(), row.size(), 1))
                return err;
        }
        writer.SetThumbnail(thumbnail.Result());
        return writer.Finish();
    });
    return report;
}

void writeFile(const fs::path& path, const Buffer& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

} // namespace

// The Orientation the pixels of a TIFF photograph still need once read:
// the reader mirrors for 2-4 and 6-8 but never transposes (checked against
// libtiff in the TIFF reader's tests).
constexpr std::int64_t kLeftAfterTiffRead[] = {0, 1, 1, 1, 1, 5, 7, 5, 7};

// TIFF outputs of JPEG and TIFF photographs: the EXIF directory names the
// written size, make, model and date come along, Orientation says what the
// written pixels need, the pixels are those given, and a maker note is
// either carried byte for byte or reported dropped.
TEST(OutputMetadata, TiffOutputs_CarryTheSourcesExif)
{
    test_support::TemporaryFolder folder{"lumivane-outmeta"};
    const fs::path hand = folder.path() / "hand.tif";
    writeFile(hand, handTiff({}, {}, {}));
    std::vector<fs::path> sources{kOlympusTiff, hand};
    for (const auto& entry : fs::directory_iterator(kExifSamples))
        sources.push_back(entry.path());
    const Bitmap24 picture = gradient(300, 210);
    int carriedNotes = 0, droppedNotes = 0;
    for (const fs::path& source : sources) {
        SCOPED_TRACE(source.filename().string());
        const Buffer sourceBytes = readBytes(source);
        const bool tiffSource = sourceBytes.at(0) != 0xFF;
        const Buffer sourceBlock = tiffSource ? sourceBytes : exifBlockOf(sourceBytes);
        if (sourceBlock.empty())
            continue;
        const Facts before = factsOf(sourceBlock);
        const fs::path out = folder.path() / "out.tif";
        const MetadataReport report = writeTiffOutput(source, out, picture);
        const Buffer written = readBytes(out);
        const Facts after = factsOf(written);
        // ImageWidth and ImageLength give the size (checked below); the
        // EXIF pixel dimensions, meant for compressed data, are left out.
        EXPECT_EQ(after.pixelX, -1);
        EXPECT_EQ(after.pixelY, -1);
        // (A camera's EXIF directory; a directory of nothing but pixel
        // dimensions has nothing left to carry.)
        if (!before.make.empty()) {
            EXPECT_EQ(after.firstTags.count(0x8769), before.firstTags.count(0x8769));
        }
        EXPECT_EQ(after.firstTags.count(0x8825), before.firstTags.count(0x8825)); // GPS
        EXPECT_TRUE(after.firstTags.count(0x011A) && after.firstTags.count(0x011B)); // resolution
        EXPECT_EQ(after.make, before.make);
        EXPECT_EQ(after.model, before.model);
        EXPECT_EQ(after.dateTime, before.dateTime);
        EXPECT_EQ(report.fromTiff, tiffSource);
        // libtiff's own reading: the layout and every pixel as given.
        const lumivane::testing::TiffContents back = lumivane::testing::ReadTiffBack(out.string());
        ASSERT_EQ(back.width, 300u);
        ASSERT_EQ(back.height, 210u);
        for (std::size_t i = 0; i < back.samples.size(); i += 997)
            ASSERT_EQ(back.samples[i], picture.scanLine(int(i / 900))[(i % 900) / 3 * 3 + 2 - i % 3]) << i;
        TIFF* tif = TIFFOpen(out.string().c_str(), "r");
        ASSERT_NE(tif, nullptr);
        std::uint16_t orientation = 0;
        EXPECT_TRUE(TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation));
        const std::int64_t stored = before.orientation >= 1 && before.orientation <= 8 ? before.orientation : 1;
        EXPECT_EQ(orientation, tiffSource ? kLeftAfterTiffRead[stored] : stored);
        TIFFClose(tif);
        if (before.makerAt < 0) {
            EXPECT_FALSE(report.makerNoteDropped);
        } else if (after.makerAt >= 0) {
            ++carriedNotes;
            EXPECT_FALSE(report.makerNoteDropped);
            ASSERT_EQ(after.makerSize, before.makerSize);
            EXPECT_TRUE(std::equal(sourceBlock.begin() + before.makerAt,
                                   sourceBlock.begin() + before.makerAt + before.makerSize,
                                   written.begin() + after.makerAt));
        } else {
            ++droppedNotes;
            EXPECT_TRUE(report.makerNoteDropped);
        }
    }
    // The samples hold maker notes of both kinds.
    EXPECT_GT(carriedNotes, 0);
    EXPECT_GT(droppedNotes, 0);
}

// Every output says how its pixels, as written, are to be shown: a JPEG
// photograph's pixels are written as stored, so its Orientation comes
// along; a TIFF photograph's come as the reader mirrored them, so what is
// left of its Orientation is said, in JPEG and TIFF outputs alike.
TEST(OutputMetadata, Orientation_DescribesThePixelsAsWritten)
{
    test_support::TemporaryFolder folder{"lumivane-orient"};
    const Bitmap24 picture = gradient(30, 20);
    const Buffer encoded = EncodeJpeg(picture, 90);
    for (std::uint16_t o = 1; o <= 8; ++o)
        for (const bool tiffSource : {false, true}) {
            SCOPED_TRACE(std::string(tiffSource ? "TIFF" : "JPEG") + " photograph, orientation " + std::to_string(o));
            lumivane::testing::CameraExif exif = lumivane::testing::Camera("Canon", "Canon EOS 5D", 8, 50);
            exif.orientation = o;
            const fs::path source = folder.path() / (tiffSource ? "source.tif" : "source.jpg");
            if (tiffSource)
                lumivane::testing::WriteCameraTiff(source.string(), picture, exif);
            else
                lumivane::testing::WriteCameraJpeg(source.string(), picture, exif);
            const std::int64_t expected = tiffSource ? kLeftAfterTiffRead[o] : o;

            const fs::path jpeg = folder.path() / "out.jpg";
            WriteJpegWithExif(encoded, source.string(), jpeg.string(), WriteMode::Replace, OutputPicture{30, 20});
            const Buffer block = exifBlockOf(readBytes(jpeg));
            ASSERT_FALSE(block.empty());
            EXPECT_EQ(factsOf(block).orientation, expected);

            const fs::path tiff = folder.path() / "out.tif";
            writeTiffOutput(source, tiff, picture);
            TIFF* tif = TIFFOpen(tiff.string().c_str(), "r");
            ASSERT_NE(tif, nullptr);
            std::uint16_t written = 0;
            EXPECT_TRUE(TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &written));
            EXPECT_EQ(written, expected);
            TIFFClose(tif);
        }
}

TEST(OutputMetadata, MakerNotes_SurviveRelocationOnlyWhenSelfContained)
{
    const auto bytes = [](std::initializer_list<const char*> parts) {
        Buffer b;
        for (const char* p : parts)
            b.insert(b.end(), p, p + std::strlen(p) + 1); // each part with its zero
        b.resize(b.size() + 16, 0);
        return b;
    };
    const struct {
        const char* name;
        Buffer note;
        bool survives;
    } rows[] = {
        {"Nikon with its own TIFF header", [] {
             Buffer b{'N', 'i', 'k', 'o', 'n', 0, 2, 0x10, 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8};
             b.resize(40, 0);
             return b;
         }(), true},
        {"Nikon without a TIFF header", [] {
             Buffer b{'N', 'i', 'k', 'o', 'n', 0, 1, 0};
             b.resize(40, 0);
             return b;
         }(), false},
        {"Olympus, newer kind", [] {
             Buffer b{'O', 'L', 'Y', 'M', 'P', 'U', 'S', 0, 'I', 'I', 3, 0};
             b.resize(40, 0);
             return b;
         }(), true},
        {"Olympus, older kind", bytes({"OLYMP"}), false},
        {"Fujifilm", bytes({"FUJIFILM"}), true},
        {"Canon (no header)", Buffer(40, 7), false},
        {"empty", Buffer(), false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(MakerNoteSurvivesRelocation(row.note.data(), row.note.size()), row.survives) << row.name;
}

// Two independent readers: exiftool finds nothing wrong in an output that
// it did not find in its source, and exiv2 reads every output.
TEST(OutputMetadata, ExternalReaders_FindNoNewFaults)
{
    const bool haveExiftool = installed("exiftool"), haveExiv2 = installed("exiv2");
    if (!haveExiftool && !haveExiv2)
        GTEST_SKIP() << "neither exiftool nor exiv2 is installed";
    test_support::TemporaryFolder folder{"lumivane-outmeta"};
        std::vector<fs::path> sources{kOlympusTiff};
    const fs::path handTiffPath = folder.path() / "hand.tif";
    {
        const std::string x = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF/></x:xmpmeta>";
        const Buffer tiff = handTiff(iccLike(3000), Buffer(x.begin(), x.end()),
                                     {0x1C, 0x02, 0x78, 0x00, 0x05, 'h', 'e', 'l', 'l', 'o'});
        std::ofstream(handTiffPath, std::ios::binary).write(reinterpret_cast<const char*>(tiff.data()),
                                                            std::streamsize(tiff.size()));
        sources.push_back(handTiffPath);
    }
    for (const auto& entry : fs::directory_iterator(kExifSamples))
        sources.push_back(entry.path());
    const Bitmap24 picture = gradient(300, 210);
    const Buffer encoded = EncodeJpeg(picture, 90);
    for (const fs::path& source : sources) {
        SCOPED_TRACE(source.filename().string());
        const fs::path out = folder.path() / "out.jpg";
        WriteJpegWithExif(encoded, source.string(), out.string(), WriteMode::Replace, OutputPicture{300, 210});
        const fs::path outTiff = folder.path() / "out.tif";
        writeTiffOutput(source, outTiff, picture);
        for (const fs::path& output : {out, outTiff}) {
            SCOPED_TRACE(output.filename().string());
            if (haveExiftool) {
                const std::set<std::string> before = exiftoolWarnings(source), after = exiftoolWarnings(output);
                for (const std::string& warning : after)
                    EXPECT_TRUE(before.count(warning) || tiffLayoutWarning(warning)) << "new: " << warning;
            }
            if (haveExiv2) {
                bool sourceOk = false, outOk = false;
                const std::set<std::string> before = exiv2Errors(source, sourceOk), after = exiv2Errors(output, outOk);
                EXPECT_TRUE(outOk || !sourceOk);
                for (const std::string& error : after)
                    EXPECT_TRUE(before.count(error)) << "new: " << error;
            }
        }
    }
}
