// SPDX-License-Identifier: GPL-3.0-or-later
// Maker-note decoder on crafted notes, one or more per maker, and its
// formatters on their own.
#include "ExifReader.h"
#include "MakerNotes.h"
#include "MakerNotesTestSupport.h"
#include "MetadataTestUtil.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace lumivane {
namespace {

using testing::ByteWriter;

// The notes below sit at this position of the EXIF bytes. With the offsets
// of most makers counted from the TIFF header (EXIF position 10), a value at
// 0-based note byte k has the offset k + 1 + kNotePos - 10 = k + 92.
constexpr int kNotePos = 101;
constexpr uint32_t NoteOffset(uint32_t noteByte) { return noteByte + 1 + kNotePos - 10; }

// An EXIF block of 512 bytes holding the note at kNotePos, a container that
// owns it, and a reader set up as the directory walk leaves it when it meets
// tag 0x927C.
class MakerNoteTest : public ::testing::Test {
protected:
    void Decode(const std::string& make, const Bytes& note, bool bigEndian = false,
                const std::string& exifVersion = "0220", const std::string& model = "",
                bool fromTiff = false)
    {
        if (exif.size() < 512)
            exif.resize(512, '\0');
        exif.replace(kNotePos - 1, note.size(), note);
        metadata.sections[0].bytes = exif;
        metadata.sectionCount = 1;
        metadata.exifSection = &metadata.sections[0];
        metadata.readStatus = "<none>";
        metadata.exif = std::make_unique<TImageInfo>(&metadata);
        info = metadata.exif.get();
        info->buffer = exif;
        info->bigEndian = bigEndian;
        info->make = make;
        info->model = model;
        info->exifVersion = exifVersion;
        info->fromTiff = fromTiff;
        info->makerNoteBytes = note;
        info->makerNotePos = kNotePos;
        TMakerNoteDecoder decoder(fromTiff, *info);
        decoder.Decode();
    }

    std::string Text(const std::string& key) const { return info->TagText(key); }
    bool Has(const std::string& key) const { return info->TagIndex(key) >= 0; }
    // Text of the last entry whose key is exactly key (letter case counts).
    std::string ExactText(const std::string& key) const
    {
        std::string found = "<absent>";
        for (int i = 0; i < info->tagCount; ++i) {
            if (info->tags[std::size_t(i)].key == key)
                found = info->tags[std::size_t(i)].text;
        }
        return found;
    }
    int Occurrences(const std::string& key) const
    {
        int n = 0;
        for (int i = 0; i < info->tagCount; ++i)
            n += SameKey(info->tags[std::size_t(i)].key, key) ? 1 : 0;
        return n;
    }

    Bytes exif;
    TImageMetadata metadata;
    TImageInfo* info = nullptr;
};

// Nikon notes of the third kind: "Nikon" header, a TIFF header of their own
// at byte 10 and the directory at byte 18; offsets count from byte 10.
Bytes NikonThirdKindNote()
{
    ByteWriter w;
    w.TextZ("Nikon").Raw({0x02, 0x10, 0x00, 0x00});  // 0: "Nikon\0", version 2.10, 2 zero bytes
    w.Text("II").U16(0x2A).U32(8);                  // 10: TIFF header, directory at 8 (byte 18)
    w.U16(5);                                       // 18: five entries
    w.ShortEntry(0x0002, 2, 0, 200);                // 20: ISOSpeed, SHORT x2 inline: 0, 200
    w.Entry(0x000A, TiffType::Long, 1, 7);          // 32: a "Skip" row
    w.Entry(0x0084, TiffType::Rational, 4, 74);     // 44: LensInformation at byte 84
    w.Entry(0x008D, TiffType::Ascii, 8, 106);       // 56: ColorMode at byte 116
    w.ShortEntry(0x1234, 1, 5);                     // 68: a tag of no row
    w.U32(0);                                       // 80: next directory
    w.U32(180).U32(10).U32(550).U32(10);            // 84: 18-55 mm
    w.U32(35).U32(10).U32(56).U32(10);              // 100: F3.5-F5.6
    w.Text("MODE2").Zeros(3);                       // 116: colour mode
    w.Zeros(1);                                     // 124: the note goes on past its last value
    return w.bytes();
}

TEST_F(MakerNoteTest, NikonThirdKind_WalksDirectoryAtByte18_WithOffsetsFromByte10)
{
    Decode("NIKON CORPORATION", NikonThirdKindNote(), false, "0220");
    EXPECT_EQ(Text("ISOSpeed"), "0, 200");
    EXPECT_EQ(Text("LensInformation"), "18.0-55.0(mm)  F3.5-F5.6");
    EXPECT_EQ(Text("ColorMode"), "Mode 2 (Adobe RGB)");
    EXPECT_FALSE(Has("Skip"));
    EXPECT_EQ(info->tagCount, 3);  // the unknown tag 0x1234 is not stored
    EXPECT_EQ(metadata.readStatus, "<none>");
    EXPECT_EQ(info->buffer, exif);
    for (int i = 0; i < info->tagCount; ++i)
        EXPECT_EQ(info->tags[std::size_t(i)].origin, 1);
    EXPECT_EQ(info->TagByKey("ISOSpeed").valueType, uint16_t(TiffType::Short));
    EXPECT_EQ(info->TagByKey("LensInformation").rawBytes.size(), 32u);
}

// The choice of the third kind: a newer EXIF version, or none at all in a
// NEF file of a D-series camera. Otherwise the note (starting with "Nikon")
// is read as the first kind, whose directory at byte 8 is empty here.
struct NikonKindCase {
    const char* exifVersion;
    const char* model;
    bool fromTiff;
    bool thirdKind;
};

class NikonKindSelection : public MakerNoteTest,
                           public ::testing::WithParamInterface<NikonKindCase> {};

TEST_P(NikonKindSelection, PicksThirdKind_ByExifVersionOrModelOfNefFile)
{
    const NikonKindCase& c = GetParam();
    Decode("NIKON", NikonThirdKindNote(), false, c.exifVersion, c.model, c.fromTiff);
    EXPECT_EQ(Has("ISOSpeed"), c.thirdKind);
    EXPECT_EQ(info->tagCount, c.thirdKind ? 3 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    MakerNotes, NikonKindSelection,
    ::testing::Values(NikonKindCase{"0220", "NIKON D70", false, true},
                      NikonKindCase{"0221", "E995", false, true},
                      NikonKindCase{"0210", "NIKON D1X", true, false},
                      NikonKindCase{"0200", "NIKON D1X", false, false},
                      NikonKindCase{"", "NIKON D1X", true, true},
                      NikonKindCase{"", "NIKON D1X", false, false},
                      NikonKindCase{"", "NIKON E995", true, false},
                      NikonKindCase{"", "D100", true, true},
                      NikonKindCase{"", "", true, false}));

TEST_F(MakerNoteTest, NikonFirstKind_UsesElevenRowTable_WhenNoteStartsWithNikon)
{
    ByteWriter w;
    w.TextZ("Nikon").Raw({0x01, 0x00});                          // 0: "Nikon\0", 0x01 0x00
    w.U16(4);                                                    // 8: four entries
    w.ShortEntry(0x0003, 1, 11);                                 // 10: Quality 11
    w.ShortEntry(0x0004, 1, 2);                                  // 22: ColorMode 2
    w.ShortEntry(0x0009, 1, 1);                                  // 34: a "Skip" row
    w.Entry(0x000A, TiffType::Rational, 1, NoteOffset(62));      // 46: DigitalZoom at byte 62
    w.U32(0);                                                    // 58: next directory
    w.U32(2).U32(1);                                             // 62: 2/1
    w.Zeros(1);                                                  // 70
    Decode("Nikon", w.bytes(), false, "0210", "E950");
    EXPECT_EQ(Text("Quality"), "2 Mpixel Normal");
    EXPECT_EQ(Text("ColorMode"), "Monochrome");
    EXPECT_EQ(Text("DigitalZoom"), "2/1");
    EXPECT_EQ(info->tagCount, 3);
}

TEST_F(MakerNoteTest, NikonFirstKind_QualityListKeepsItsMissingComma)
{
    ByteWriter w;
    w.TextZ("Nikon").Raw({0x01, 0x00});  // 0: header
    w.U16(3);                            // 8: three entries
    w.ShortEntry(0x0003, 1, 10);         // 10: Quality 10, swallowed by "6:SXGA Fine10:..."
    w.ShortEntry(0x0006, 1, 5);          // 22: ISOSpeed 5
    w.ShortEntry(0x0003, 1, 6);          // 34: Quality 6 (second entry of the tag)
    w.U32(0).Zeros(1);                   // 46: next directory
    Decode("NIKON", w.bytes(), false, "0100");
    ASSERT_EQ(Occurrences("Quality"), 2);
    EXPECT_EQ(info->tags[0].text, "");
    EXPECT_EQ(Text("ISOSpeed"), "ISO100");
    EXPECT_EQ(info->tags[2].text, "SXGA Fine10:2 Mpixel Basic");
}

TEST_F(MakerNoteTest, NikonSecondKind_DirectoryAtNoteStart_OffsetsFromExifHeader)
{
    ByteWriter w;
    w.U16(2);                                                 // 0: two entries
    w.ShortEntry(0x0002, 2, 0, 400);                          // 2: ISOSpeed 0, 400
    w.Entry(0x0084, TiffType::Rational, 4, NoteOffset(30));   // 14: LensInformation at byte 30
    w.U32(0);                                                 // 26: next directory
    w.U32(24).U32(1).U32(70).U32(1);                          // 30: 24-70 mm
    w.U32(28).U32(10).U32(28).U32(10);                        // 46: F2.8
    w.Zeros(1);                                               // 62
    Decode("NIKON", w.bytes(), false, "0210");
    EXPECT_EQ(Text("ISOSpeed"), "0, 400");
    EXPECT_EQ(Text("LensInformation"), "24.0-70.0(mm)  F2.8-F2.8");
}

TEST_F(MakerNoteTest, Olympus_TakesValueFromExifBytes_WhenOffsetLiesPastNoteEnd)
{
    ByteWriter w;
    w.TextZ("OLYMP").Raw({0x01, 0x00});                      // 0: "OLYMP\0", 0x01 0x00
    w.U16(4);                                                // 8: four entries
    w.ShortEntry(0x0201, 1, 2);                              // 10: JpegQual 2
    w.ShortEntry(0x0202, 1, 1);                              // 22: Macro 1
    w.Entry(0x0207, TiffType::Ascii, 8, NoteOffset(62));     // 34: Firmware at byte 62
    w.Entry(0x0209, TiffType::Undefined, 8, 300);            // 46: CameraID far past the note
    w.U32(0);                                                // 58: next directory
    w.Text("OLY-FW").Zeros(2);                               // 62: firmware text
    w.Zeros(1);                                              // 70
    // Olympus reads such values at EXIF position 9 + offset.
    exif.assign(512, '\0');
    exif.replace(9 + 300 - 1, 8, "CAMERAID");
    Decode("OLYMPUS OPTICAL CO.,LTD", w.bytes());
    EXPECT_EQ(Text("JpegQual"), "HQ");
    EXPECT_EQ(Text("Macro"), "Macro;");  // the stored list ends in ";"
    EXPECT_EQ(Text("Firmware"), "\"OLY-FW\"");
    EXPECT_EQ(Text("CameraID"), "\"CAMERAID\"");
    EXPECT_EQ(metadata.readStatus, "<none>");
}

TEST_F(MakerNoteTest, Olympus_MacroZeroNamesNothing_BecauseListUsesEqualsSign)
{
    ByteWriter w;
    w.TextZ("OLYMP").Raw({0x01, 0x00});  // 0: header
    w.U16(1);                            // 8: one entry
    w.ShortEntry(0x0202, 1, 0);          // 10: Macro 0 ("0=Normal" is no pair)
    w.U32(0).Zeros(1);                   // 22: next directory
    Decode("OLYMPUS", w.bytes());
    EXPECT_TRUE(Has("Macro"));
    EXPECT_EQ(Text("Macro"), "");
}

TEST_F(MakerNoteTest, CasioFirstKind_BigEndian_NamesValuesAndSkipsRows)
{
    ByteWriter w(true);
    w.U16(3);                        // 0: three entries
    w.ShortEntry(0x0001, 1, 4);      // 2: RecordingMode 4
    w.ShortEntry(0x0008, 1, 1);      // 14: a "Skip" row
    w.ShortEntry(0x0014, 1, 244);    // 26: CCDSensitivity 244
    w.U32(0).Zeros(1);               // 38: next directory
    Decode("CASIO", w.bytes(), true);
    EXPECT_EQ(Text("RecordingMode"), "Portrait");
    EXPECT_EQ(Text("CCDSensitivity"), "+3.0");
    EXPECT_EQ(info->tagCount, 2);
}

TEST_F(MakerNoteTest, CasioQvcKind_DirectoryAfterSixByteHeader_RowOrderKept)
{
    ByteWriter w(true);
    w.TextZ("QVC").Zeros(2);                     // 0: "QVC\0", 2 zero bytes
    w.U16(3);                                    // 6: three entries
    w.Entry(0x0009, TiffType::Long, 1, 5);       // 8: ImageSize 5
    w.ShortEntry(0x2013, 1, 1);                  // 20: a "Skip" row
    w.ShortEntry(0x2012, 1, 12);                 // 32: WhiteBalance 12
    w.U32(0).Zeros(1);                           // 44: next directory
    Decode("CASIO COMPUTER CO.,LTD.", w.bytes(), true);
    EXPECT_EQ(Text("ImageSize"), "2048 x 1536");
    EXPECT_EQ(Text("WhiteBalance"), "Flash");
    EXPECT_EQ(info->tagCount, 2);
}

TEST_F(MakerNoteTest, Fujifilm_ReadsLittleEndianInsideMotorolaBlock_AndRestoresOrder)
{
    ByteWriter w;  // Fujifilm notes are little-endian whatever the block says
    w.Text("FUJIFILM").U32(12);                         // 0: signature, directory at 12
    w.U16(4);                                           // 12: four entries
    w.Entry(0x0000, TiffType::Undefined, 4, 0x30333130);  // 14: Version "0130" (tag 0: not kept)
    w.ShortEntry(0x1001, 1, 3);                         // 26: Sharpness 3
    w.ShortEntry(0x1031, 1, 256);                       // 38: PictureMode 256
    w.Entry(0x1000, TiffType::Ascii, 8, 66);            // 50: Quality at byte 66 (offset from note start)
    w.U32(0);                                           // 62: next directory
    w.Text("NORMAL ").Zeros(1);                         // 66: quality text
    w.Zeros(1);                                         // 74
    Decode("FUJIFILM", w.bytes(), true);
    EXPECT_EQ(Text("Sharpness"), "Normal");
    EXPECT_EQ(Text("PictureMode"), "Aperture prior AE");
    EXPECT_EQ(Text("Quality"), "\"NORMAL \"");
    EXPECT_FALSE(Has("Version"));
    EXPECT_TRUE(info->bigEndian);
    EXPECT_EQ(info->buffer, exif);
    EXPECT_EQ(metadata.readStatus, "<none>");
}

// Canon: camera settings (tag 1), shot information (tag 4), image type and
// custom functions (tag 15), all values at offsets from the TIFF header.
Bytes CanonNote()
{
    ByteWriter w;
    w.U16(5);                                                 // 0: five entries
    w.Entry(0x0001, TiffType::Short, 33, NoteOffset(66));     // 2: camera settings at byte 66
    w.Entry(0x0004, TiffType::Short, 20, NoteOffset(132));    // 14: shot information at byte 132
    w.Entry(0x0006, TiffType::Ascii, 12, NoteOffset(172));    // 26: ImageType at byte 172
    w.Entry(0x000F, TiffType::Short, 3, NoteOffset(184));     // 38: custom functions at byte 184
    w.ShortEntry(0x0000, 1, 0);                               // 50: a "Skip" row
    w.U32(0);                                                 // 62: next directory
    // 66: camera settings, index 0..32
    w.Shorts({66, 2, 0, 1, 2, 1, 0, 3, 0, 0,           // 0..9: macro 2, self timer 0, ...
              0, 1, 0, 65535, 0, 1, 15, 0, 0, 0,       // 10..19: contrast -1, CCD ISO auto
              0, 0, 0, 0, 55, 18, 1, 0, 0, 0,          // 20..29: long 55, short 18, units 1
              0, 0, 0});                               // 30..32
    // 132: shot information, index 0..19
    w.Shorts({0, 0, 0, 0, 0, 0, 0, 1, 0, 3,            // 0..9: white balance 1, sequence 3
              0, 4, 0, 0, 0, 65524, 0, 0, 0, 250});    // 10..19: zoom step 4, bias -1/3, distance
    w.TextZ("IMG:PS JPEG");                            // 172: image type
    w.Shorts({8, 257, 513});                           // 184: custom functions
    w.Zeros(1);                                        // 190
    return w.bytes();
}

TEST_F(MakerNoteTest, Canon_CameraSettings_AddNamedValues)
{
    Decode("Canon", CanonNote());
    struct Expected {
        const char* name;
        const char* value;
    };
    const Expected expected[] = {
        {"Macro mode", "Normal"},  {"Self Timer", " 0"},        {"Compression Rate", "Fine"},
        {"Flash Mode", "On"},      {"Drive Mode", "Continuous"}, {"Focus Mode", "MF"},
        {"Image Size", "Large"},   {"Easy Shoot", "Manual"},    {"Contrast", "Low"},
        {"Saturation", "Normal"},  {"Sharpness", "High"},       {"CCD ISO", "auto"},
        {"Metering Mode", "Normal"}, {"Long focal", " 55"},     {"Short focal", " 18"},
        {"Focal Units", " 1"},     {"Flash Details", " 0"},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.name);
        EXPECT_EQ(Text(e.name), e.value);
        EXPECT_EQ(info->TagByKey(e.name).origin, 1);
        EXPECT_EQ(info->TagByKey(e.name).valueType, uint16_t(TiffType::Ascii));
    }
    // Index 7 and index 32 both carry the name "Focus Mode".
    EXPECT_EQ(Occurrences("Focus Mode"), 2);
}

TEST_F(MakerNoteTest, Canon_ShotInformation_NamesWhiteBalanceAndFlashBias)
{
    Decode("Canon", CanonNote());
    EXPECT_EQ(Text("White balance"), "Sunny");
    EXPECT_EQ(Text("Sequence Number"), " 3");
    EXPECT_EQ(Text("OpticalZoom Step"), " 4");
    // "AF point" of the shot information differs only in case from the
    // camera settings' "AF Point", which a look-up by key finds first.
    EXPECT_EQ(Text("AF point"), "Normal");
    EXPECT_EQ(ExactText("AF point"), " 0");
    EXPECT_EQ(Text("Flash bias"), "-0.33 EV");
    EXPECT_EQ(Text("Distance"), " 250");
}

TEST_F(MakerNoteTest, Canon_CustomFunctions_DecodeAllButLastItem)
{
    Decode("Canon", CanonNote());
    // 8 is function 0 (ignored); 257 is function 1 setting 1; 513, the last
    // item, is never looked at.
    EXPECT_EQ(Text("Noise Reduction"), " On");
    EXPECT_FALSE(Has("Shutter AE Lock Button"));
    EXPECT_EQ(Text("CustomFunctions"), "8, 257, 513");
}

TEST_F(MakerNoteTest, Canon_FormattedEntriesKeepTheirListUncut)
{
    Decode("Canon", CanonNote());
    const std::string settings = Text("ExposureInfo1");
    EXPECT_GT(settings.size(), 50u);  // CleanText would have cut it at 50
    EXPECT_EQ(settings.rfind("66, 2, 0, 1, 2, 1, 0, 3", 0), 0u);
    EXPECT_EQ(Text("ImageType"), "\"IMG:PS JPEG\"");
    EXPECT_FALSE(Has("Skip"));
    // The settings' values come before the entry they were taken from.
    EXPECT_LT(info->TagIndex("Macro mode"), info->TagIndex("ExposureInfo1"));
}

TEST_F(MakerNoteTest, Canon_ShortSettingsList_AddsOnlyFieldsItHolds)
{
    ByteWriter w;
    w.U16(1);                                              // 0: one entry
    w.Entry(0x0001, TiffType::Short, 3, NoteOffset(18));   // 2: camera settings, 3 values
    w.U32(0);                                              // 14: next directory
    w.Shorts({6, 1, 7});                                   // 18: macro 1, self timer 7
    w.Zeros(1);
    Decode("CANON", w.bytes());
    EXPECT_EQ(Text("Macro mode"), "Macro");
    EXPECT_EQ(Text("Self Timer"), " 7");
    EXPECT_FALSE(Has("Compression Rate"));
    EXPECT_EQ(metadata.readStatus, "<none>");
}

TEST_F(MakerNoteTest, Seiko_LowerCaseSkipRowIsSkipped_QuestionMarkRowKept)
{
    ByteWriter w;
    w.TextZ("SEIKO").Raw({0x01, 0x00});  // 0: 8-byte header
    w.U16(3);                            // 8: three entries
    w.ShortEntry(0x0F00, 1, 1);          // 10: "skip"
    w.ShortEntry(0x0300, 1, 9);          // 22: "??"
    w.ShortEntry(0x020B, 1, 640);        // 34: Width
    w.U32(0).Zeros(1);                   // 46: next directory
    Decode("SEIKO EPSON CORP.", w.bytes());
    EXPECT_EQ(Text("??"), "9");
    EXPECT_EQ(Text("Width"), "640");
    EXPECT_EQ(info->tagCount, 2);
}

TEST_F(MakerNoteTest, Sanyo_KeepsDataDump_SkipsRow0203)
{
    ByteWriter w;
    w.TextZ("SANYO").Raw({0x01, 0x00});  // 0: 8-byte header
    w.U16(3);                            // 8: three entries
    w.ShortEntry(0x0203, 1, 1);          // 10: a "Skip" row
    w.ShortEntry(0x0F00, 1, 77);         // 22: DataDump
    w.ShortEntry(0x0201, 1, 2);          // 34: JpegQuality
    w.U32(0).Zeros(1);                   // 46: next directory
    Decode("SANYO Electric Co.,Ltd.", w.bytes());
    EXPECT_EQ(Text("DataDump"), "77");
    EXPECT_EQ(Text("JpegQuality"), "2");
    EXPECT_FALSE(Has("Skip"));
}

TEST_F(MakerNoteTest, Minolta_StoresPimData_NotTagZero)
{
    ByteWriter w;
    w.U16(2);                                       // 0: two entries
    w.Entry(0x0000, TiffType::Undefined, 4, 0x31303030);  // 2: ModelID, tag 0 (not kept)
    w.Entry(0x0E00, TiffType::Undefined, 4, 0x004D4950);  // 14: PIMdata "PIM\0"
    w.U32(0).Zeros(1);                              // 26: next directory
    Decode("Minolta Co., Ltd.", w.bytes());
    EXPECT_FALSE(Has("ModelID"));
    EXPECT_EQ(info->TagByKey("PIMdata").rawBytes, std::string("PIM\0", 4));
    EXPECT_EQ(Text("PIMdata"), "\"PIM.\"");  // UNDEFINED shown whole, NUL cleaned
}

TEST_F(MakerNoteTest, UnknownMaker_AddsNothing_AndLeavesStatus)
{
    Decode("PENTAX Corporation", CanonNote());
    EXPECT_EQ(info->tagCount, 0);
    EXPECT_EQ(metadata.readStatus, "<none>");
    EXPECT_EQ(info->buffer, exif);
}

TEST_F(MakerNoteTest, EntriesPastNoteEnd_EndWalkWithErrorStatus_KeepEarlierValues)
{
    ByteWriter w;
    w.U16(3);                       // 0: three entries announced...
    w.ShortEntry(0x0006, 1, 0);     // 2: ...but only one is there (ImageType)
    w.Zeros(3);                     // 14: and the note ends inside the second
    Decode("Canon", w.bytes());
    EXPECT_TRUE(Has("ImageType"));
    EXPECT_EQ(metadata.readStatus.rfind("Error Detected = ", 0), 0u) << metadata.readStatus;
    EXPECT_GT(metadata.readStatus.size(), std::string("Error Detected = ").size());
    EXPECT_EQ(info->buffer, exif);
}

TEST_F(MakerNoteTest, HugeCountTimesTypeSize_DoesNotOverflowIntoSmallRead)
{
    ByteWriter w;
    w.U16(1);                                                   // 0: one entry
    w.Entry(0x0008, TiffType::Double, 0x20000001, NoteOffset(18));  // 2: 8 x 0x20000001 bytes
    w.U32(0).Zeros(8);                                          // 14: next directory, a little data
    Decode("Canon", w.bytes());
    EXPECT_FALSE(Has("ImageNumber"));
    EXPECT_EQ(metadata.readStatus.rfind("Error Detected = ", 0), 0u) << metadata.readStatus;
}

TEST_F(MakerNoteTest, Fujifilm_ValueEndingOnLastNoteByte_IsReadFromTheNote)
{
    // A value whose last byte is the note's last byte lies inside the note.
    ByteWriter w;  // little-endian, inside a big-endian EXIF block
    w.Text("FUJIFILM").U32(12);                       // 0: signature, directory at byte 12
    w.U16(2);                                         // 12: two entries
    w.Entry(0x1000, TiffType::Ascii, 8, 42);          // 14: Quality at byte 42
    w.Entry(0x1011, TiffType::SRational, 1, 50);      // 26: FlashStrength at byte 50
    w.U32(0);                                         // 38: next directory
    w.Text("NORMAL ").Zeros(1);                       // 42: quality text
    w.U32(0).U32(100);                                // 50: 0/100, the note's last 8 bytes
    exif.assign(512, '\0');
    exif.replace(50 - 1, 8, "EXIFJUNK");              // what A + offset of the EXIF bytes holds
    Decode("FUJIFILM", w.bytes(), true);
    EXPECT_EQ(Text("FlashStrength"), "0/100");
    EXPECT_EQ(Text("Quality"), "\"NORMAL \"");
    EXPECT_EQ(metadata.readStatus, "<none>");
}

TEST_F(MakerNoteTest, CountOfManyEntriesSpanningTheWholeNote_EndsAtTheValueBudget)
{
    // Every entry claims the whole note: stored as they stand, 400 copies
    // of it would cost far more memory than the file holds.
    constexpr int kEntries = 400;
    constexpr uint32_t kNoteBytes = 2 + 12 * kEntries + 4;
    ByteWriter w;
    w.U16(kEntries);                                                  // 0: 400 entries
    for (int i = 0; i < kEntries; ++i)
        w.Entry(0x0007, TiffType::Undefined, kNoteBytes, NoteOffset(0));  // 2 + 12 i: the whole note
    w.U32(0);                                                         // 4802: next directory
    Decode("Canon", w.bytes());
    EXPECT_GT(info->tagCount, 0);
    EXPECT_LT(info->tagCount, kEntries);
    EXPECT_EQ(metadata.readStatus, "Error Detected = Directory values exceed the data");
}

// Canon notes in either byte order: the EXIF block's order is the parameter.
class MakerNoteOrder : public MakerNoteTest, public ::testing::WithParamInterface<bool> {
protected:
    bool exifBigEndian() const { return GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(MakerNotes, MakerNoteOrder, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "MM" : "II"; });

TEST_P(MakerNoteOrder, ValueEndingOnLastNoteByte_IsReadFromTheNote)
{
    ByteWriter w(exifBigEndian());
    w.U16(1);                                              // 0: one entry
    w.Entry(0x0009, TiffType::Ascii, 8, NoteOffset(18));   // 2: OwnerName at byte 18
    w.U32(0);                                              // 14: next directory
    w.TextZ("Rowan X");                                    // 18: the note's last 8 bytes
    Decode("Canon", w.bytes(), exifBigEndian());
    EXPECT_EQ(Text("OwnerName"), "\"Rowan X\"");
    EXPECT_EQ(metadata.readStatus, "<none>");
}

// A directory whose middle entry points outside all the data.
Bytes NoteWithBadMiddleEntry(bool bigEndian, uint32_t firstValueOffset)
{
    ByteWriter w(bigEndian);
    w.U16(3);                                                   // 0: three entries
    w.ShortEntry(0x0008, 1, 7);                                 // 2: ImageNumber 7
    w.Entry(0x0007, TiffType::Ascii, 16, 0x7FFFFF00);           // 14: FirmwareVersion outside all data
    w.Entry(0x0009, TiffType::Ascii, 8, firstValueOffset + 42); // 26: OwnerName at byte 42
    w.U32(0);                                                   // 38: next directory
    w.TextZ("Rowan X");                                         // 42: owner name
    w.Zeros(1);                                                 // 50
    return w.bytes();
}

TEST_P(MakerNoteOrder, EntryPointingOutsideTheData_IsSkipped_WalkGoesOnWithErrorStatus)
{
    Decode("Canon", NoteWithBadMiddleEntry(exifBigEndian(), NoteOffset(0)), exifBigEndian());
    EXPECT_EQ(Text("ImageNumber"), "7");
    EXPECT_FALSE(Has("FirmwareVersion"));
    EXPECT_EQ(Text("OwnerName"), "\"Rowan X\"");
    EXPECT_EQ(metadata.readStatus, "Error Detected = Maker note value outside the EXIF data");
    EXPECT_EQ(info->makerNoteError, metadata.readStatus);
    EXPECT_EQ(info->buffer, exif);
}

TEST_P(MakerNoteOrder, ReadMetadata_KeepsTheMakerNoteFault_OverLaterDirectoryFaults)
{
    using testutil::TiffWriter;
    TiffWriter w(exifBigEndian());
    w.header(8);
    w.u16(3);                                          // 8: IFD0, three entries
    w.entry(0x010F, int(TiffType::Ascii), 6, 50);      // 10: Make at 50
    w.entry(0x8769, int(TiffType::Long), 1, 56);       // 22: ExifOffset 56
    w.entry(0x8825, int(TiffType::Long), 1, 130);      // 34: GPSInfo 130
    w.u32(0);                                          // 46: next directory
    w.text(std::string("Canon\0", 6));                 // 50: make
    w.u16(1);                                          // 56: EXIF directory, one entry
    w.entry(0x927C, int(TiffType::Undefined), 50, 80); // 58: MakerNote, 50 bytes at 80
    w.u32(0);                                          // 70: next directory
    w.padTo(80).text(NoteWithBadMiddleEntry(exifBigEndian(), 80));  // 80: the note
    w.u16(0x2000);                                     // 130: GPS directory claiming 8192 entries
    w.u32(0);

    const std::string file = testutil::Soi()
        + testutil::Segment(0xE1, testutil::ExifPayload(w.bytes())) + testutil::ScanAndEnd();
    TImageMetadata read;
    ASSERT_TRUE(read.ReadMetadata(testutil::WriteTempFile("note.jpg", file)));
    ASSERT_TRUE(read.exif);
    EXPECT_EQ(read.exif->TagText("ImageNumber"), "7");
    EXPECT_EQ(read.exif->TagText("OwnerName"), "\"Rowan X\"");
    EXPECT_EQ(read.readStatus, "Error Detected = Maker note value outside the EXIF data");
}

TEST_P(MakerNoteOrder, NoteInTheOtherByteOrder_IsWalkedInItsOwnOrder)
{
    // Three entries read in the EXIF block's order would be 768, far more than
    // the note holds; in the other order the count fits.
    ByteWriter w(!exifBigEndian());
    w.U16(3);                                              // 0: three entries
    w.Entry(0x0001, TiffType::Short, 3, NoteOffset(42));   // 2: camera settings at byte 42
    w.Entry(0x0008, TiffType::Long, 1, 1234567);           // 14: ImageNumber inline
    w.Entry(0x0009, TiffType::Ascii, 8, NoteOffset(48));   // 26: OwnerName at byte 48
    w.U32(0);                                              // 38: next directory
    w.Shorts({6, 1, 7});                                   // 42: macro 1, self timer 7
    w.TextZ("Rowan X");                                    // 48: owner name
    Decode("Canon", w.bytes(), exifBigEndian());
    EXPECT_EQ(Text("ImageNumber"), "1234567");
    EXPECT_EQ(Text("OwnerName"), "\"Rowan X\"");
    EXPECT_EQ(Text("Macro mode"), "Macro");
    EXPECT_EQ(Text("Self Timer"), " 7");
    EXPECT_EQ(metadata.readStatus, "<none>");
    // The EXIF block's own order comes back for the rest of its walk.
    EXPECT_EQ(info->bigEndian, exifBigEndian());
    EXPECT_EQ(info->buffer, exif);
}

TEST_P(MakerNoteOrder, CountThatFitsInBothOrders_KeepsTheExifOrder)
{
    // One entry is 256 the other way round, which this long note could hold.
    ByteWriter w(exifBigEndian());
    w.U16(1);                                       // 0: one entry
    w.Entry(0x0008, TiffType::Long, 1, 42);         // 2: ImageNumber 42
    w.U32(0);                                       // 14: next directory
    w.Zeros(2 + 12 * 256);                          // 18: room for 256 entries
    Decode("Canon", w.bytes(), exifBigEndian());
    EXPECT_EQ(Text("ImageNumber"), "42");
    EXPECT_EQ(info->tagCount, 1);
}

TEST(MakerNoteFormatters, ColourMode_NamesTheThreeModes)
{
    TImageInfo reader(nullptr);
    struct Case {
        const char* text;
        const char* shown;
    };
    const Case cases[] = {
        {"\"MODE1   \"", "Mode1 (sRGB)"},
        {"\"MODE2\"", "Mode 2 (Adobe RGB)"},
        {"\"MODE3a\"", "Mode 3 (sRGB): higher saturation"},
        {"\"COLOR\"", "COLOR"},
        {"\"BW\"", "BW\""},
        {"", ""},
        {"\"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(makernote::ColourModeText(c.text, reader), c.shown) << c.text;
}

TEST(MakerNoteFormatters, LensRange_FormatsFourRationals)
{
    TImageInfo reader(nullptr);
    EXPECT_EQ(makernote::LensRangeText("180/10, 700/10, 35/10, 45/10", reader),
              "18.0-70.0(mm)  F3.5-F4.5");
    EXPECT_EQ(makernote::LensRangeText("50/1, 50/1, 14/10, 14/10", reader),
              "50.0-50.0(mm)  F1.4-F1.4");
    // A rational with a zero denominator counts as 0.
    EXPECT_EQ(makernote::LensRangeText("0/0, 0/0, 0/0, 0/0", reader), "0.0-0.0(mm)  F0.0-F0.0");
}

TEST(MakerNoteFormatters, CanonCustomFunctions_IgnoreUnreadableAndOutOfRangeItems)
{
    TImageInfo reader(nullptr);
    // x: not a number; 4097: function 16; 769 function 3 setting 1; 1281
    // function 5 setting 1; 3840 function 15 setting 0; the last is ignored.
    makernote::CanonCustomFunctionsText("x, 4097, 769, 1281, 3840, 257", reader);
    EXPECT_EQ(reader.TagText("Mirror Lockup"), "Enable");
    EXPECT_EQ(reader.TagText("AF Assist"), "Off");
    EXPECT_EQ(reader.TagText("Shutter Release w/o CF Card"), "Enable");
    EXPECT_EQ(reader.TagIndex("Noise Reduction"), -1);
    EXPECT_EQ(reader.tagCount, 3);
}

struct TableSize {
    MakerKind kind;
    std::size_t rows;
};

TEST(MakerNoteTables, EachTableHasItsRowCount)
{
    const TableSize sizes[] = {
        {MakerKind::NikonFirst, 11}, {MakerKind::NikonLater, 28}, {MakerKind::Olympus, 33},
        {MakerKind::CasioFirst, 26}, {MakerKind::CasioQvc, 45},   {MakerKind::Fujifilm, 18},
        {MakerKind::Canon, 16},      {MakerKind::Seiko, 12},      {MakerKind::Sanyo, 6},
        {MakerKind::Minolta, 2},
    };
    for (const TableSize& s : sizes)
        EXPECT_EQ(MakerTable(s.kind).size(), s.rows) << int(s.kind);
}

}  // namespace
}  // namespace lumivane
