// SPDX-License-Identifier: GPL-3.0-or-later
// The TIFF/EXIF directory walk on crafted EXIF blocks and TIFF heads, in both
// byte orders.
#include "ExifReader.h"
#include "MetadataTestUtil.h"
#include "ValueFormat.h"

#include <gtest/gtest.h>

namespace lumivane {
namespace {

using testutil::ExifPayload;
using testutil::ScanAndEnd;
using testutil::Segment;
using testutil::Soi;
using testutil::TiffWriter;
using testutil::WriteTempFile;

// TIFF type codes as written into crafted entries.
constexpr int kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kRational = 5, kUndefined = 7,
              kSShort = 8, kFloat = 11, kDouble = 12;

class DirectoryWalk : public ::testing::TestWithParam<bool> {
protected:
    bool bigEndian() const { return GetParam(); }
    TiffWriter writer() const { return TiffWriter(bigEndian()); }

    // Two 16-bit values in the data's byte order, for inline SHORT pairs.
    std::string shorts(int a, int b) const { return TiffWriter(bigEndian()).u16(a).u16(b).bytes(); }

    // Reads a JPEG whose only metadata is an APP1 EXIF block holding tiff.
    bool readExif(const std::string& tiff)
    {
        const std::string file = Soi() + Segment(0xE1, ExifPayload(tiff)) + ScanAndEnd();
        return meta.ReadMetadata(WriteTempFile("exif.jpg", file));
    }

    int countKey(const std::string& key) const
    {
        int n = 0;
        for (const auto& tag : meta.exif->tags)
            n += SameKey(tag.key, key);
        return n;
    }

    TImageMetadata meta;
};

INSTANTIATE_TEST_SUITE_P(ByteOrder, DirectoryWalk, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "MM" : "II"; });

TEST_P(DirectoryWalk, FirstDirectoryAtOffset8_StartsAtPosition17_AndReadsInlineAndOffsetValues)
{
    TiffWriter w = writer();
    w.header(8);
    w.u16(3);                                            // IFD0: 3 entries (position 17)
    w.entry(0x010F, kAscii, 6, 50);                      // Make, 6 bytes at offset 50
    w.entryInline(0x0102, kShort, 2, shorts(8, 16));     // BitsPerSample, 2 SHORTs inline
    w.entry(0x011A, kRational, 1, 58);                   // XResolution, 8 bytes at offset 58
    w.u32(0);                                            // no next directory
    w.padTo(50).text(std::string("Canon\0", 6));         // Make value
    w.padTo(58).u32(72).u32(1);                          // XResolution 72/1

    ASSERT_TRUE(readExif(w.bytes()));
    EXPECT_EQ(meta.readStatus, "<none>");
    ASSERT_TRUE(meta.exif);
    const TImageInfo& info = *meta.exif;
    ASSERT_EQ(info.tagCount, 3);
    EXPECT_EQ(info.make, "Canon");
    EXPECT_EQ(info.tags[0].key, "Make");
    EXPECT_EQ(info.tags[0].valuePos, 50 + 9);  // offsets lie at offset + 9
    EXPECT_EQ(info.tags[0].byteCount, 6);
    EXPECT_EQ(info.tags[1].text, "8, 16");
    EXPECT_EQ(info.tags[1].valuePos, 17 + 2 + 12 + 8);  // inline value at p + 8
    EXPECT_EQ(info.tags[1].valueType, kShort);
    EXPECT_EQ(info.tags[2].text, "72.00");
    EXPECT_EQ(info.tags[2].valuePos, 58 + 9);
    EXPECT_EQ(info.tags[2].rawBytes.size(), 8u);
    EXPECT_EQ(info.TagText("xresolution"), "72.00");
    EXPECT_EQ(info.TagText("NoSuchTag"), "");
    EXPECT_EQ(info.TagIndex("NoSuchTag"), -1);
    EXPECT_EQ(info.TagNumber("NoSuchTag"), 0);
    EXPECT_EQ(info.TagByKey("NoSuchTag").key, "");
    EXPECT_EQ(info.TagByKey("make").text, "Canon");
}

TEST_P(DirectoryWalk, FirstDirectoryOffsetZero_StartsAtPosition17)
{
    TiffWriter w = writer();
    w.header(0);                                        // offset 0 also means "right here"
    w.u16(1);                                           // IFD0: 1 entry
    w.entryInline(0x0110, kAscii, 4, std::string("E1\0\0", 4));  // Model "E1"
    w.u32(0);                                           // no next directory
    ASSERT_TRUE(readExif(w.bytes()));
    EXPECT_EQ(meta.exif->model, "E1.");  // one NUL dropped, the other shown as "."
}

TEST_P(DirectoryWalk, ExifOffsetPointingBackToIfd0_IsWalkedOnce)
{
    TiffWriter w = writer();
    w.header(8);
    w.u16(2);                                            // IFD0: 2 entries
    w.entryInline(0x010F, kAscii, 2, std::string("X\0", 2));  // Make "X"
    w.entry(0x8769, kLong, 1, 8);                        // ExifOffset -> IFD0 itself
    w.u32(0);
    ASSERT_TRUE(readExif(w.bytes()));
    EXPECT_EQ(countKey("Make"), 1);
    EXPECT_EQ(meta.exif->tagCount, 2);
    EXPECT_EQ(meta.exif->visited.size(), 1u);
}

TEST_P(DirectoryWalk, DirectoriesPointingAtEachOther_EachWalkedOnce)
{
    TiffWriter w = writer();
    w.header(8);
    w.u16(2);                              // IFD0 at 8: 2 entries
    w.entry(0x8769, kLong, 1, 40);         // ExifOffset -> 40
    w.entryInline(0x010F, kAscii, 2, std::string("M\0", 2));  // Make
    w.u32(0);
    w.padTo(40).u16(2);                    // EXIF directory at 40: 2 entries
    w.entry(0xA005, kLong, 1, 8);          // InteroperabilityOffset -> IFD0 again
    w.entry(0x8825, kLong, 1, 40);         // GPSInfo -> this directory as GPS kind
    w.u32(0);
    ASSERT_TRUE(readExif(w.bytes()));
    EXPECT_EQ(countKey("Make"), 1);
    EXPECT_EQ(countKey("ExifOffset"), 1);
    // Directories are remembered by (base, start) whatever their kind, so
    // the GPS pointer to 40 does not walk it a second time.
    EXPECT_EQ(countKey("GPSInfo"), 1);
    EXPECT_EQ(meta.exif->visited.size(), 2u);
    EXPECT_EQ(meta.readStatus, "<none>");
}

TEST_P(DirectoryWalk, SizeZeroTypesAndUnknownTags_AreSkippedQuietly)
{
    TiffWriter w = writer();
    w.header(8);
    w.u16(4);                                            // IFD0: 4 entries
    w.entry(0x010F, 0, 5, 0);                            // Make with type 0: size 0
    w.entry(0x0110, 13, 5, 0);                           // Model with type 13: size 0
    w.entryInline(0x0005, kShort, 1, shorts(1, 0));      // tag 5: not in the main table
    w.entryInline(0x0112, kShort, 1, shorts(6, 0));      // Orientation 6
    w.u32(0);
    ASSERT_TRUE(readExif(w.bytes()));
    EXPECT_EQ(meta.readStatus, "<none>");
    ASSERT_EQ(meta.exif->tagCount, 1);
    EXPECT_EQ(meta.exif->tags[0].text, "CounterClockwise 90\xB0");
    EXPECT_EQ(meta.exif->make, "");
}

TEST_P(DirectoryWalk, ExifImageWidthAfterImageWidth_Wins_AndSubdirectoryEntriesComeFirst)
{
    TiffWriter w = writer();
    w.header(8);
    w.u16(3);                                            // IFD0: 3 entries
    w.entry(0x0100, kLong, 1, 160);                      // ImageWidth 160 (LONG inline)
    w.entryInline(0x0101, kShort, 1, shorts(120, 0));    // ImageLength 120
    w.entry(0x8769, kLong, 1, 60);                       // ExifOffset -> 60
    w.u32(0);
    w.padTo(60).u16(2);                                  // EXIF directory: 2 entries
    w.entryInline(0xA002, kShort, 1, shorts(3008, 0));   // ExifImageWidth 3008
    w.entry(0xA003, kLong, 1, 2000);                     // ExifImageLength 2000
    w.u32(0);
    ASSERT_TRUE(readExif(w.bytes()));
    EXPECT_EQ(meta.exif->width, 3008);
    EXPECT_EQ(meta.exif->height, 2000);
    ASSERT_EQ(meta.exif->tagCount, 5);
    EXPECT_EQ(meta.exif->tags[2].key, "ExifImageWidth");
    EXPECT_EQ(meta.exif->tags[4].key, "ExifOffset");
}

// A camera-like block: IFD0 with an EXIF directory carrying the focal data.
std::string FocalBlock(bool bigEndian, uint32_t focalNumerator, uint32_t focalDenominator,
                       bool with35mmTag)
{
    TiffWriter w(bigEndian);
    w.header(8);
    w.u16(1);                                            // IFD0: 1 entry
    w.entry(0x8769, kLong, 1, 26);                       // ExifOffset -> 26
    w.u32(0);
    const int entries = with35mmTag ? 7 : 6;
    w.padTo(26).u16(entries);                            // EXIF directory
    w.entry(0x920A, kRational, 1, 200);                  // FocalLength at 200
    w.entry(0xA20E, kRational, 1, 208);                  // FocalPlaneXResolution at 208
    w.entry(0xA20F, kRational, 1, 216);                  // FocalPlaneYResolution at 216
    w.entry(0xA210, kShort, 1, bigEndian ? 2u << 16 : 2u);  // FocalPlaneResolutionUnit 2 (inch)
    w.entry(0xA002, kLong, 1, 3008);                     // ExifImageWidth 3008
    w.entry(0xA003, kLong, 1, 2000);                     // ExifImageLength 2000
    if (with35mmTag)
        w.entry(0xA405, kShort, 1, bigEndian ? 75u << 16 : 75u);  // FocalLengthIn35mmFilm 75
    w.u32(0);
    w.padTo(200).u32(focalNumerator).u32(focalDenominator);  // FocalLength
    w.u32(3447).u32(1);                                  // FocalPlaneXResolution 3447/1
    w.u32(3447).u32(1);                                  // FocalPlaneYResolution 3447/1
    return w.bytes();
}

TEST_P(DirectoryWalk, Derive35mm_FromFocalPlaneResolution)
{
    ASSERT_TRUE(readExif(FocalBlock(bigEndian(), 50, 1, false)));
    const TTagEntry derived = meta.exif->TagByKey("FocalLengthin35mmFilm");
    EXPECT_EQ(derived.tagNumber, 0xA405);
    EXPECT_EQ(derived.text, "81.28");  // no unit in the text
    EXPECT_EQ(derived.formatText, "%s mm");
    EXPECT_EQ(derived.valueType, 10);
    EXPECT_TRUE(derived.rawBytes.empty());
    EXPECT_EQ(derived.label, "Focal Length in 35mm Film");
    EXPECT_EQ(meta.exif->tags.back().key, "FocalLengthin35mmFilm");
    EXPECT_EQ(meta.exif->TagText("focallength"), "50.00 mm");
}

TEST_P(DirectoryWalk, Derive35mm_SmallValueKeepsLeadingBlank)
{
    ASSERT_TRUE(readExif(FocalBlock(bigEndian(), 46, 10, false)));
    EXPECT_EQ(meta.exif->TagText("FocalLengthIn35mmFilm"), " 7.48");
}

TEST_P(DirectoryWalk, Derive35mm_NothingWhenTheFileCarriesTheTag)
{
    ASSERT_TRUE(readExif(FocalBlock(bigEndian(), 50, 1, true)));
    EXPECT_EQ(countKey("FocalLengthin35mmFilm"), 1);
    EXPECT_EQ(meta.exif->TagText("FocalLengthin35mmFilm"), "75.00 mm");
}

TEST_P(DirectoryWalk, Derive35mm_NothingWithoutUnitOrSize)
{
    TiffWriter w = writer();
    w.header(8);
    w.u16(2);                                          // IFD0: 2 entries
    w.entry(0x920A, kRational, 1, 40);                 // FocalLength at 40
    w.entry(0xA20E, kRational, 1, 40);                 // FocalPlaneXResolution, no unit
    w.u32(0);
    w.padTo(40).u32(50).u32(1);                        // 50/1
    ASSERT_TRUE(readExif(w.bytes()));
    EXPECT_EQ(meta.exif->TagIndex("FocalLengthin35mmFilm"), -1);
}

TEST_P(DirectoryWalk, TagNumberRoundsHalvesToEven_AndReadsFloats)
{
    TiffWriter w = writer();
    w.header(8);
    w.u16(4);                                          // IFD0: 4 entries
    w.entry(0x011A, kRational, 1, 70);                 // XResolution 5/2 at 70
    w.entry(0x011B, kRational, 1, 78);                 // YResolution 7/2 at 78
    w.entry(0x0301, kFloat, 1, 0x3FC00000);            // Gamma FLOAT 1.5, inline
    w.entry(0x9204, 10, 1, 86);                        // ExposureBiasValue SRATIONAL -1/3 at 86
    w.u32(0);
    w.padTo(70).u32(5).u32(2);
    w.u32(7).u32(2);
    w.u32(uint32_t(-1)).u32(3);
    ASSERT_TRUE(readExif(w.bytes()));
    const TImageInfo& info = *meta.exif;
    EXPECT_DOUBLE_EQ(info.TagNumber("XResolution"), 2.5);
    EXPECT_EQ(info.TagInteger("XResolution"), 2);
    EXPECT_EQ(info.TagInteger("YResolution"), 4);
    EXPECT_EQ(info.TagText("Gamma"), "-9999.99");
    EXPECT_DOUBLE_EQ(info.TagNumber("Gamma"), 1.5);
    EXPECT_EQ(info.TagText("ExposureBiasValue"), "-1/3");
}

TEST_P(DirectoryWalk, TextsOfAsciiUndefinedAndUserComment)
{
    TiffWriter w = writer();
    w.header(8);
    w.u16(3);                                          // IFD0: 3 entries
    w.entry(0x010E, kAscii, 5, 60);                    // ImageDescription "AB\0\0\0" at 60
    w.entry(0x9000, kUndefined, 4, 0x31323230);        // ExifVersion, 4 bytes inline
    w.entry(0x9286, kUndefined, 16, 65);               // UserComment, 16 bytes at 65
    w.u32(0);
    w.padTo(60).text(std::string("AB\0\0\0", 5));
    w.text(std::string("ASCII\0\0\0", 8)).text(std::string("Hello \0\0", 8));
    ASSERT_TRUE(readExif(w.bytes()));
    const TImageInfo& info = *meta.exif;
    EXPECT_EQ(info.TagText("ImageDescription"), "AB..");  // only one final NUL is dropped
    EXPECT_EQ(info.exifVersion.size(), 4u);
    EXPECT_EQ(info.TagText("ExifVersion"), "\"" + info.exifVersion + "\"");
    EXPECT_EQ(info.comment, "Hello");
    EXPECT_EQ(info.TagText("UserComment"), "Hello");
}

TEST_P(DirectoryWalk, UserComment_LeavesOutTheLastByte_EvenAVisibleOne)
{
    struct Row {
        std::string comment;  // after the 8-byte character code
        const char* expected;
    };
    const Row rows[] = {
        {"Hello world!", "Hello world"},
        {"  lens test 2", "lens test"},  // blanks trimmed, the final "2" left out
        {"AB", "A"},
        {"Z", ""},
        {"", ""},
    };
    for (const Row& row : rows) {
        TiffWriter w = writer();
        w.header(8);
        w.u16(1);                                              // IFD0: 1 entry
        w.entry(0x9286, kUndefined, uint32_t(8 + row.comment.size()), 26);  // UserComment at 26
        w.u32(0);                                              // no next directory
        w.padTo(26).text(std::string("ASCII\0\0\0", 8)).text(row.comment);
        ASSERT_TRUE(readExif(w.bytes())) << row.comment;
        EXPECT_EQ(meta.exif->comment, row.expected) << row.comment;
        EXPECT_EQ(meta.exif->TagText("UserComment"), row.expected) << row.comment;
        EXPECT_EQ(meta.exif->TagByKey("UserComment").byteCount, int(8 + row.comment.size())) << row.comment;
    }
}

// A block whose IFD0 holds ResolutionUnit and whose EXIF directory holds
// the focal data with 1357 pixels per unit and, when focalPlaneUnit > 0,
// FocalPlaneResolutionUnit.
std::string FallbackFocalBlock(bool bigEndian, int resolutionUnit, int focalPlaneUnit)
{
    TiffWriter w(bigEndian);
    const auto inlineShort = [&](int v) { return bigEndian ? uint32_t(v) << 16 : uint32_t(v); };
    w.header(8);
    w.u16(2);                                            // IFD0: 2 entries
    w.entry(0x0128, kShort, 1, inlineShort(resolutionUnit));  // ResolutionUnit
    w.entry(0x8769, kLong, 1, 38);                       // ExifOffset -> 38
    w.u32(0);                                            // no next directory
    const int entries = focalPlaneUnit > 0 ? 6 : 5;
    w.padTo(38).u16(entries);                            // EXIF directory
    w.entry(0x920A, kRational, 1, 200);                  // FocalLength at 200
    w.entry(0xA20E, kRational, 1, 208);                  // FocalPlaneXResolution at 208
    w.entry(0xA20F, kRational, 1, 216);                  // FocalPlaneYResolution at 216
    w.entry(0xA002, kLong, 1, 3008);                     // ExifImageWidth 3008
    w.entry(0xA003, kLong, 1, 2000);                     // ExifImageLength 2000
    if (focalPlaneUnit > 0)
        w.entry(0xA210, kShort, 1, inlineShort(focalPlaneUnit));  // FocalPlaneResolutionUnit
    w.u32(0);                                            // no next directory
    w.padTo(200).u32(50).u32(1);                         // FocalLength 50/1
    w.u32(1357).u32(1);                                  // FocalPlaneXResolution 1357/1
    w.u32(1357).u32(1);                                  // FocalPlaneYResolution 1357/1
    return w.bytes();
}

TEST_P(DirectoryWalk, Derive35mm_FallsBackToResolutionUnit_AndReadsCentimetres)
{
    struct Row {
        int resolutionUnit, focalPlaneUnit;  // 0: no FocalPlaneResolutionUnit entry
        const char* expected;                // nullptr: nothing derived
    };
    const Row rows[] = {
        // 1357 pixels per cm: a 22.17 x 14.74 mm sensor, factor 1.625.
        {3, 0, "81.27"},
        // 1357 pixels per inch: 56.30 x 37.44 mm, factor 0.640.
        {2, 0, "32.00"},
        // The focal-plane unit wins over ResolutionUnit when it is set.
        {2, 3, "81.27"},
        // "None specified" (1) is a unit > 0, so there is no fallback and
        // no length per unit.
        {3, 1, nullptr},
        {1, 0, nullptr},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(readExif(FallbackFocalBlock(bigEndian(), row.resolutionUnit, row.focalPlaneUnit)));
        const std::string what = std::to_string(row.resolutionUnit) + "/" + std::to_string(row.focalPlaneUnit);
        if (row.expected == nullptr) {
            EXPECT_EQ(meta.exif->TagIndex("FocalLengthin35mmFilm"), -1) << what;
            continue;
        }
        ASSERT_EQ(countKey("FocalLengthin35mmFilm"), 1) << what;
        EXPECT_EQ(meta.exif->tags.back().key, "FocalLengthin35mmFilm") << what;
        EXPECT_EQ(meta.exif->tags.back().text, row.expected) << what;
    }
}

TEST_P(DirectoryWalk, LongShortArray_ShowsFiftyCharacters)
{
    TiffWriter w = writer();
    w.header(8);
    w.u16(1);                                          // IFD0: 1 entry
    w.entry(0x0102, kShort, 200, 26);                  // BitsPerSample, 200 SHORTs at 26
    w.u32(0);
    w.padTo(26);
    for (int i = 0; i < 200; ++i)
        w.u16(1000 + i);
    ASSERT_TRUE(readExif(w.bytes()));
    const TTagEntry entry = meta.exif->TagByKey("BitsPerSample");
    EXPECT_EQ(entry.byteCount, 400);
    EXPECT_EQ(entry.text, std::string("1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009")
                              .substr(0, 50));
}

TEST_P(DirectoryWalk, GpsDirectory_UsesGpsTable)
{
    TiffWriter w = writer();
    w.header(8);
    w.u16(1);                                          // IFD0: 1 entry
    w.entry(0x8825, kLong, 1, 26);                     // GPSInfo -> 26
    w.u32(0);
    w.padTo(26).u16(4);                                // GPS directory: 4 entries
    w.entryInline(0x0001, kAscii, 2, std::string("N\0", 2));  // GPSLatitudeRef "N"
    w.entry(0x0002, kRational, 3, 100);                // GPSLatitude, 3 rationals at 100
    w.entry(0x0007, kRational, 3, 124);                // GPSTimeStamp at 124
    w.entryInline(0x0050, kShort, 1, shorts(1, 0));    // tag 0x50: not a GPS tag
    w.u32(0);
    w.padTo(100).u32(48).u32(1).u32(5130).u32(100).u32(0).u32(1);  // 48, 51.30, 0
    w.u32(14).u32(1).u32(5).u32(1).u32(30).u32(1);                 // 14:05:30
    ASSERT_TRUE(readExif(w.bytes()));
    const TImageInfo& info = *meta.exif;
    EXPECT_EQ(info.TagText("GPSLatitudeRef"), "N");
    EXPECT_EQ(info.TagText("GPSLatitude"), "48 Degrees 51 Minutes 18 Seconds");
    EXPECT_EQ(info.TagText("GPSTimeStamp"), "14:5:30");
    EXPECT_EQ(info.tagCount, 4);  // three GPS entries and GPSInfo itself
}

TEST_P(DirectoryWalk, FaultInsideSubdirectory_IsDropped_AndParentGoesOn)
{
    TiffWriter w = writer();
    w.header(8);
    w.u16(3);                                          // IFD0: 3 entries
    w.entry(0x8769, kLong, 1, 50);                     // ExifOffset -> 50
    w.entry(0xA005, kLong, 1, 0x7FFFFFF0);             // InteroperabilityOffset far past the end
    w.entryInline(0x010F, kAscii, 2, std::string("Z\0", 2));  // Make after both
    w.u32(0);
    w.padTo(50).u16(3);                                // EXIF directory: 3 entries
    w.entry(0x829A, kRational, 1, 100);                // ExposureTime 1/60
    w.entryInline(0x9209, kShort, 2, shorts(0, 16));   // Flash with 2 values: formatter raises
    w.entry(0x829D, kRational, 1, 108);                // FNumber, never reached
    w.u32(0);
    w.padTo(100).u32(1).u32(60).u32(28).u32(10);
    ASSERT_TRUE(readExif(w.bytes()));
    const TImageInfo& info = *meta.exif;
    EXPECT_EQ(meta.readStatus, "<none>");
    EXPECT_EQ(info.TagText("ExposureTime"), "1/60 sec");
    EXPECT_EQ(info.TagIndex("Flash"), -1);
    EXPECT_EQ(info.TagIndex("FNumber"), -1);
    EXPECT_EQ(info.make, "Z");
    EXPECT_EQ(countKey("InteroperabilityOffset"), 1);
}

TEST_P(DirectoryWalk, OversizedDirectory_IsSkippedWithStatus)
{
    TiffWriter w = writer();
    w.header(8);
    w.u16(0x2000);                                     // IFD0 claims 8192 entries
    w.entryInline(0x010F, kAscii, 2, std::string("Q\0", 2));
    w.u32(0);

    // Directly: the status names the fault.
    meta.sections[0].bytes = std::string("\0\0", 2) + ExifPayload(w.bytes());
    meta.sections[0].length = int(meta.sections[0].bytes.size());
    meta.sections[0].bytes[0] = char(meta.sections[0].length >> 8);
    meta.sections[0].bytes[1] = char(meta.sections[0].length & 0xFF);
    meta.sectionCount = 1;
    meta.exifSection = &meta.sections[0];
    meta.buffer = meta.sections[0].bytes;
    meta.ParseExifSection();
    EXPECT_EQ(meta.readStatus, "Illegally sized directory");
    EXPECT_EQ(meta.exif->tagCount, 0);

    // Through a file: the completed scan overwrites the status.
    ASSERT_TRUE(readExif(w.bytes()));
    EXPECT_EQ(meta.readStatus, "<none>");
    EXPECT_TRUE(meta.ExifFound());
    EXPECT_EQ(meta.exif->tagCount, 0);
}

TEST_P(DirectoryWalk, EntriesRunningPastTheBlock_EndAsIllegalConstruction_KeepingEarlierTags)
{
    TiffWriter w = writer();
    w.header(8);
    w.u16(4);                                          // IFD0 claims 4 entries; 2 are present
    w.entryInline(0x010F, kAscii, 3, std::string("AB\0", 3));  // Make "AB"
    w.entryInline(0x0110, kAscii, 3, std::string("CD\0", 3));  // Model "CD"
    w.padTo(42);                                       // block ends inside entry 3
    ASSERT_TRUE(readExif(w.bytes()));                  // the EXIF section was found
    EXPECT_EQ(meta.readStatus, "Illegal Exif construction");
    EXPECT_EQ(meta.exif->make, "AB");
    EXPECT_EQ(meta.exif->model, "CD");
}

TEST_P(DirectoryWalk, HostileCountsAndOffsets_NeverReadOutside)
{
    TiffWriter w = writer();
    w.header(8);
    w.u16(6);                                          // IFD0: 6 entries
    w.entry(0x010E, kDouble, 0x20000000, 90);          // count x 8 = 2^32: wraps to 0 in 32 bits
    w.entry(0x010D, kShort, 0x80000001, 90);           // count x 2 overflows 32 bits
    w.entry(0x0131, kRational, 0xFFFFFFFF, 0xFFFFFFFF);  // largest count and offset
    w.entry(0x013B, kAscii, 10, 0xFFFFFFF0);           // offset + base wraps in 32 bits
    w.entry(0x8298, kByte, 0x7FFFFFFF, 90);            // huge count from a valid offset
    w.entry(0x8769, kLong, 1, 0xFFFFFFF7);             // sub-directory at offset -9
    w.u32(0);
    w.padTo(90).text("tail bytes");
    ASSERT_TRUE(readExif(w.bytes()));
    EXPECT_EQ(meta.readStatus, "<none>");
    const TImageInfo& info = *meta.exif;
    // Values are cut at the end of the block, never read beyond it.
    EXPECT_EQ(info.TagByKey("ImageDescription").rawBytes, "tail bytes");
    EXPECT_EQ(info.TagByKey("DocumentName").rawBytes, "tail bytes");
    EXPECT_EQ(info.TagByKey("Software").byteCount, 0);
    EXPECT_EQ(info.TagByKey("Artist").byteCount, 0);
    EXPECT_EQ(info.TagText("Copyright"), "116, 97, 105, 108, 32, 98, 121, 116, 101, 115");
}

TEST_P(DirectoryWalk, DeepChainOfDirectories_IsCutOffWithoutCrash)
{
    TiffWriter w = writer();
    w.header(8);
    const int depth = 200;
    for (int i = 0; i < depth; ++i) {
        const uint32_t here = 8 + 18 * uint32_t(i);
        w.padTo(here).u16(1);                          // a directory of one entry
        w.entry(0x8769, kLong, 1, here + 18);          // ExifOffset -> the next one
        w.u32(0);
    }
    ASSERT_TRUE(readExif(w.bytes()));
    EXPECT_EQ(meta.readStatus, "<none>");
    EXPECT_LE(meta.exif->tagCount, TImageInfo::kMaxDirectoryDepth);
    EXPECT_GE(meta.exif->tagCount, 1);
}

TEST(TagList, GrowsInStepsOf25_AndKeepsOutTagNumberZero)
{
    TImageInfo info(nullptr);
    TTagEntry entry;
    entry.tagNumber = 0;
    EXPECT_EQ(info.AppendTag(entry), -1);
    EXPECT_EQ(info.tagCount, 0);
    EXPECT_EQ(info.tagCapacity, 0);

    entry.tagNumber = 0x010F;
    EXPECT_EQ(info.AppendTag(entry), 0);
    EXPECT_EQ(info.tagCapacity, 25);
    for (int i = 1; i < 24; ++i)
        info.AppendTag(entry);
    EXPECT_EQ(info.tagCount, 24);
    EXPECT_EQ(info.tagCapacity, 25);
    info.AppendTag(entry);  // tagCount 24 >= capacity - 1: grows before appending
    EXPECT_EQ(info.tagCapacity, 50);
    EXPECT_EQ(info.tagCount, 25);

    info.AddMakerValue("Macro mode", "Normal");
    const TTagEntry added = info.TagByKey("macro MODE");
    EXPECT_EQ(added.origin, 1);
    EXPECT_EQ(added.tagNumber, 0);
    EXPECT_EQ(added.label, "Macro mode");
    EXPECT_EQ(added.text, "Normal");
    EXPECT_EQ(added.rawBytes, "Normal");
    EXPECT_EQ(added.byteCount, 6);
    EXPECT_EQ(added.valueType, 2);
    EXPECT_EQ(info.tagCount, 26);
}

// ---------------------------------------------------------------------------
// TIFF heads

class TiffHead : public ::testing::TestWithParam<bool> {
protected:
    TImageMetadata meta;
};

INSTANTIATE_TEST_SUITE_P(ByteOrder, TiffHead, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "MM" : "II"; });

TEST_P(TiffHead, WalkStartsAtOffset8_WhateverTheHeaderSays)
{
    TiffWriter w(GetParam());
    w.header(100);                                     // first directory claimed at 100
    w.u16(2);                                          // the directory read: file offset 8
    w.entry(0x010F, kAscii, 8, 40);                    // Make at file offset 40
    w.entry(0x0100, kShort, 1, GetParam() ? 640u << 16 : 640u);  // ImageWidth 640
    w.u32(0);
    w.padTo(40).text(std::string("Olympus\0", 8));
    w.padTo(100).u16(1);                               // the directory the header names
    w.entryInline(0x0110, kAscii, 2, std::string("X\0", 2));
    w.u32(0);

    for (const char* name : {"head.tif", "head.TIFF", "head.nef"}) {
        ASSERT_TRUE(meta.ReadMetadata(WriteTempFile(name, w.bytes()))) << name;
        EXPECT_EQ(meta.readStatus, "<none>") << name;
        EXPECT_FALSE(meta.fromTiff);
        ASSERT_TRUE(meta.exif);
        EXPECT_TRUE(meta.exif->fromTiff);
        EXPECT_EQ(meta.exif->make, "Olympus");
        EXPECT_EQ(meta.exif->TagByKey("Make").valuePos, 40 - 7);  // file offset o at o - 7
        EXPECT_EQ(meta.exif->width, 640);
        EXPECT_EQ(meta.exif->TagIndex("Model"), -1);
        EXPECT_EQ(meta.sectionCount, 1);
        EXPECT_EQ(meta.exifSection, &meta.sections[0]);
        EXPECT_EQ(meta.sections[0].bytes, w.bytes().substr(8));
    }
}

TEST(TiffHeadFaults, BadOrderEmptyAndTruncatedFiles)
{
    TImageMetadata meta;
    EXPECT_FALSE(meta.ReadMetadata(WriteTempFile("bad.tif", "XX\x2A\0")));
    EXPECT_EQ(meta.readStatus, "Not an EXIF file");
    EXPECT_FALSE(meta.ReadMetadata(WriteTempFile("empty.tif", "")));
    EXPECT_EQ(meta.readStatus, "Not an EXIF file");

    // Only a byte-order mark: the walk finds no directory.
    EXPECT_TRUE(meta.ReadMetadata(WriteTempFile("mark.tif", "II")));
    EXPECT_EQ(meta.readStatus, "Illegal Exif construction");
    EXPECT_EQ(meta.exif->tagCount, 0);
    EXPECT_FALSE(meta.fromTiff);

    // A value offset inside the 8-byte header lies before the data read.
    TiffWriter w(false);
    w.header(8).u16(1);
    w.entry(0x010F, kAscii, 8, 2);                     // Make at file offset 2
    w.u32(0);
    EXPECT_TRUE(meta.ReadMetadata(WriteTempFile("early.tif", w.bytes())));
    EXPECT_EQ(meta.readStatus, "Illegal Exif construction");
}

TEST(TiffHeadFaults, ReadsAtMost256000BytesAfterTheHeader)
{
    TiffWriter w(false);
    w.header(8).u16(1);
    w.entry(0x010F, kAscii, 300000, 30);               // Make claims 300000 bytes
    w.u32(0);
    w.padTo(400000);
    TImageMetadata meta;
    EXPECT_TRUE(meta.ReadMetadata(WriteTempFile("big.tif", w.bytes())));
    EXPECT_EQ(meta.sections[0].bytes.size(), 256000u);
    EXPECT_EQ(meta.exif->TagByKey("Make").byteCount, 256000 - (30 - 7) + 1);
}

}  // namespace
}  // namespace lumivane
