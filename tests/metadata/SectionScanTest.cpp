// SPDX-License-Identifier: GPL-3.0-or-later
// The JPEG section scanner and ReadMetadata on crafted files.
#include "ExifReader.h"
#include "IptcReader.h"
#include "MetadataTestUtil.h"

#include <gtest/gtest.h>

#include <sstream>

namespace lumivane {
namespace {

using testutil::ExifPayload;
using testutil::ScanAndEnd;
using testutil::Segment;
using testutil::Soi;
using testutil::TiffWriter;
using testutil::WriteTempFile;

// Marker codes.
constexpr int kApp0 = 0xE0, kApp1 = 0xE1, kApp13 = 0xED, kCom = 0xFE, kDqt = 0xDB, kSof0 = 0xC0;

std::string App0()
{
    // "JFIF\0", version 1.1, no units, density 1 x 1, no thumbnail.
    return Segment(kApp0, std::string("JFIF\0\x01\x01\x00\x00\x01\x00\x01\x00\x00", 14));
}
std::string Dqt() { return Segment(kDqt, std::string(65, '\x01')); }
std::string Sof()
{
    // 8-bit precision, 8 x 8 pixels, one component.
    return Segment(kSof0, std::string("\x08\x00\x08\x00\x08\x01\x01\x11\x00", 9));
}
std::string Com(const std::string& text = "a comment") { return Segment(kCom, text); }
std::string Xmp() { return Segment(kApp1, std::string("http://ns.adobe.com/xap/1.0/\0<x/>", 33)); }
std::string App13() { return Segment(kApp13, std::string("Photoshop 3.0\0008BIM", 18)); }

// An EXIF APP1 whose IFD0 holds Make = make.
std::string ExifApp1(const std::string& make = "Nikon")
{
    TiffWriter w(false);
    w.header(8);
    w.u16(1);                                          // IFD0: 1 entry
    w.entry(0x010F, 2, uint32_t(make.size() + 1), 26); // Make at offset 26
    w.u32(0);                                          // no next directory
    w.padTo(26).text(make).u8(0);
    return Segment(kApp1, ExifPayload(w.bytes()));
}

class SectionScan : public ::testing::Test {
protected:
    bool read(const std::string& bytes, const std::string& name = "scan.jpg")
    {
        return meta.ReadMetadata(WriteTempFile(name, bytes));
    }
    TImageMetadata meta;
};

TEST_F(SectionScan, App1AsFifthSection_IsNeverReached)
{
    EXPECT_FALSE(read(Soi() + App0() + Dqt() + Dqt() + Sof() + ExifApp1() + ScanAndEnd()));
    EXPECT_EQ(meta.sectionCount, 5);
    EXPECT_FALSE(meta.ExifFound());
    EXPECT_EQ(meta.sections[4].marker, kApp1);  // stored, but not looked at
    EXPECT_EQ(meta.readStatus, "Not an EXIF file");
}

TEST_F(SectionScan, SecondApp1_IsDropped_AndItsSlotReused)
{
    ASSERT_TRUE(read(Soi() + App0() + ExifApp1() + Xmp() + Com() + ScanAndEnd()));
    EXPECT_EQ(meta.readStatus, "<none>");
    EXPECT_EQ(meta.SectionNumber(meta.exifSection), 2);
    EXPECT_EQ(meta.SectionNumber(meta.jfifSection), 1);
    EXPECT_EQ(meta.SectionNumber(meta.commentSection), 3);  // the COM took the XMP's slot
    EXPECT_EQ(meta.sectionCount, 4);                         // APP0, APP1, COM, SOS
    EXPECT_EQ(meta.sections[3].marker, 0xDA);
    EXPECT_EQ(meta.exif->make, "Nikon");
}

TEST_F(SectionScan, App1AfterTheFifthSection_IsDroppedEvenWhenMetadataWasFound)
{
    // The comment first keeps the scan going past five sections; the APP1 in
    // the sixth is still not taken, and its slot goes to the next section.
    ASSERT_TRUE(read(Soi() + Com("first") + Dqt() + Dqt() + Dqt() + Sof() + ExifApp1() + Com("late")
                     + ScanAndEnd()));
    EXPECT_FALSE(meta.ExifFound());
    EXPECT_FALSE(meta.exif);
    EXPECT_EQ(meta.readStatus, "<none>");
    EXPECT_EQ(meta.sectionCount, 7);                      // COM, DQT x3, SOF, COM, SOS
    EXPECT_EQ(meta.sections[5].marker, kCom);             // the late comment took slot 6
    EXPECT_EQ(meta.SectionNumber(meta.commentSection), 6);
    EXPECT_EQ(meta.commentSection->bytes.substr(2), "late");
    for (int i = 0; i < meta.sectionCount; ++i)
        EXPECT_NE(meta.sections[std::size_t(i)].marker, kApp1) << "section " << i + 1;
}

TEST_F(SectionScan, OnlyACommentAmongTheFirstFive_IsMetadataWithoutExif)
{
    EXPECT_TRUE(read(Soi() + App0() + Com() + Dqt() + Sof() + Dqt() + ScanAndEnd()));
    EXPECT_FALSE(meta.ExifFound());
    EXPECT_EQ(meta.readStatus, "<none>");
    EXPECT_EQ(meta.SectionNumber(meta.commentSection), 2);
}

TEST_F(SectionScan, FirstApp1NotExif_BecomesExifSectionWithEmptyTagList)
{
    const std::string file = Soi() + Xmp() + ExifApp1() + ScanAndEnd();
    ASSERT_TRUE(read(file));
    EXPECT_TRUE(meta.ExifFound());
    EXPECT_EQ(meta.SectionNumber(meta.exifSection), 1);
    ASSERT_TRUE(meta.exif);
    EXPECT_EQ(meta.exif->tagCount, 0);
    EXPECT_EQ(meta.readStatus, "<none>");

    // The header fault itself is reported by the section parse.
    std::istringstream stream(file);
    TImageMetadata direct;
    EXPECT_TRUE(direct.ScanSections(stream));
    EXPECT_EQ(direct.readStatus, "Incorrect Exif header");
}

TEST_F(SectionScan, ExtensionDecidesTheReader_ComparedInLowerCase)
{
    const std::string file = Soi() + ExifApp1() + ScanAndEnd();
    for (const char* name : {"upper.JPG", "long.jpeg", "short.JPE"}) {
        EXPECT_TRUE(read(file, name)) << name;
        EXPECT_EQ(meta.readStatus, "<none>") << name;
    }
    EXPECT_FALSE(read(file, "picture.png"));
    EXPECT_EQ(meta.readStatus, "Not an EXIF file");
    EXPECT_FALSE(meta.fileName.empty());
    EXPECT_FALSE(read(file, "noextension"));
    EXPECT_EQ(meta.readStatus, "Not an EXIF file");
}

TEST_F(SectionScan, MoreThanTwentySections_StoresExactlyTwenty)
{
    std::string file = Soi() + Com();
    for (int i = 0; i < 30; ++i)
        file += Dqt();
    ASSERT_TRUE(read(file + ScanAndEnd()));
    EXPECT_EQ(meta.sectionCount, TImageMetadata::kSectionCapacity);
    EXPECT_EQ(meta.sections[19].marker, kDqt);
}

TEST_F(SectionScan, FillBytesBeforeAMarker_AreSkipped)
{
    const std::string app1 = ExifApp1();
    // 0xFF 0xFF 0xFF 0xE1: fill bytes, then one APP1 marker.
    ASSERT_TRUE(read(Soi() + std::string("\xFF\xFF", 2) + app1 + ScanAndEnd()));
    EXPECT_EQ(meta.SectionNumber(meta.exifSection), 1);
    EXPECT_EQ(meta.sections[0].marker, kApp1);
    EXPECT_EQ(meta.exif->make, "Nikon");
}

TEST_F(SectionScan, MissingFileOrFolder_GivesFalseAndEmptyStatus)
{
    EXPECT_FALSE(meta.ReadMetadata("/nonexistent/folder/photo.jpg"));
    EXPECT_EQ(meta.readStatus, "");
    EXPECT_EQ(meta.fileName, "");
    EXPECT_EQ(meta.fileSize, 0);

    const std::string folder = WriteTempFile("probe.jpg", "");
    const std::string dir = std::filesystem::path(folder).parent_path().string();
    EXPECT_FALSE(meta.ReadMetadata(dir));
    EXPECT_EQ(meta.readStatus, "");
}

TEST_F(SectionScan, SectionsKeepLengthBytesAndPayload_AndFileFacts)
{
    const std::string com = Com("hello");
    const std::string file = Soi() + com + ScanAndEnd();
    ASSERT_TRUE(read(file));
    const tSection& section = meta.sections[0];
    EXPECT_EQ(section.marker, kCom);
    EXPECT_EQ(section.length, 7);
    EXPECT_EQ(section.bytes, std::string("\x00\x07hello", 7));
    EXPECT_EQ(meta.fileSize, int64_t(file.size()));
    EXPECT_NE(meta.fileTime, std::filesystem::file_time_type{});
    EXPECT_NE(meta.fileName.find("scan.jpg"), std::string::npos);
    EXPECT_EQ(meta.Section(1), &section);
    EXPECT_EQ(meta.Section(0), nullptr);
    EXPECT_EQ(meta.Section(3), nullptr);
}

TEST_F(SectionScan, LastApp0AndComment_FirstApp13_NothingAfterTheScan)
{
    ASSERT_TRUE(read(Soi() + App0() + App0() + Com("one") + Com("two") + App13() + App13()
                     + ScanAndEnd() + Com("after scan")));
    EXPECT_EQ(meta.SectionNumber(meta.jfifSection), 2);
    EXPECT_EQ(meta.SectionNumber(meta.commentSection), 4);
    EXPECT_EQ(meta.SectionNumber(meta.iptcSection), 5);
    EXPECT_TRUE(meta.iptc);
    EXPECT_EQ(meta.sectionCount, 7);  // up to and including the start of scan
    EXPECT_EQ(meta.commentSection->bytes.substr(2), "two");
}

TEST_F(SectionScan, SecondReadClearsTheFirst)
{
    ASSERT_TRUE(read(Soi() + ExifApp1() + ScanAndEnd(), "first.jpg"));
    ASSERT_TRUE(meta.exif);
    EXPECT_FALSE(read(Soi() + Dqt() + ScanAndEnd(), "second.jpg"));
    EXPECT_FALSE(meta.exif);
    EXPECT_FALSE(meta.ExifFound());
    EXPECT_EQ(meta.sectionCount, 2);
    EXPECT_NE(meta.fileName.find("second.jpg"), std::string::npos);
    EXPECT_EQ(meta.readStatus, "Not an EXIF file");
}

struct HostileCase {
    const char* name;
    std::string bytes;
    bool result;
    const char* status;
    int sectionCount;
};

TEST_F(SectionScan, HostileFiles_EndQuietly)
{
    const std::string com = Com();
    const std::string exifHeaderOnly = Segment(kApp1, std::string("Exif\0\0", 6));
    const std::string noFirstOffset = Segment(kApp1, std::string("Exif\0\0II*\0", 10));
    TiffWriter far(true);
    far.header(0x00FFFFF0);                             // first directory far past the end
    const std::string farOffset = Segment(kApp1, ExifPayload(far.bytes()));
    std::string truncatedExif = ExifApp1();
    truncatedExif.resize(20);

    const HostileCase cases[] = {
        {"empty file", "", false, "Not an EXIF file", 0},
        {"one byte", "\xFF", false, "Not an EXIF file", 0},
        {"not a JPEG", "GIF89a", false, "Not an EXIF file", 0},
        {"start of image only", Soi(), false, "Not an EXIF file", 0},
        {"truncated section", Soi() + com + Dqt().substr(0, 14), true, "<none>", 2},
        {"length field 0", Soi() + com + std::string("\xFF\xE1\x00\x00", 4) + ScanAndEnd(), true,
         "<none>", 1},
        {"length field 1", Soi() + com + std::string("\xFF\xE1\x00\x01", 4) + ScanAndEnd(), true,
         "<none>", 1},
        {"ends in fill bytes", Soi() + com + std::string("\xFF\xFF\xFF", 3), true, "<none>", 1},
        {"ends inside a length", Soi() + com + std::string("\xFF\xE1\x00", 3), true, "<none>", 1},
        {"truncated EXIF section", Soi() + truncatedExif, false, "Not an EXIF file", 1},
        {"EXIF without TIFF header", Soi() + exifHeaderOnly + ScanAndEnd(), true, "<none>", 2},
        {"EXIF without first offset", Soi() + noFirstOffset + ScanAndEnd(), true,
         "Illegal Exif construction", 1},
        {"first directory past the end", Soi() + farOffset + ScanAndEnd(), true,
         "Illegal Exif construction", 1},
        {"end of image first", Soi() + std::string("\xFF\xD9", 2) + com, false, "Not an EXIF file",
         1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(read(c.bytes), c.result) << c.name;
        EXPECT_EQ(meta.readStatus, c.status) << c.name;
        EXPECT_EQ(meta.sectionCount, c.sectionCount) << c.name;
        for (int i = 0; i < meta.sectionCount; ++i)
            EXPECT_LE(meta.sections[std::size_t(i)].bytes.size(),
                      std::size_t(meta.sections[std::size_t(i)].length))
                << c.name;
    }
}

TEST(ScanSections, ShortReadEndsTheScanInsteadOfRepeatingBytes)
{
    // A stream that ends right after a marker code: no section may be made
    // up from bytes that were never read.
    std::istringstream stream(std::string("\xFF\xD8\xFF\xFE", 4));
    TImageMetadata meta;
    EXPECT_FALSE(meta.ScanSections(stream));
    EXPECT_EQ(meta.sectionCount, 0);
}

}  // namespace
}  // namespace lumivane
