// SPDX-License-Identifier: GPL-3.0-or-later
// IPTC reader on crafted APP13 sections: record parsing, merging of the
// repeatable datasets, comma text and the record operations.
#include "ExifReader.h"
#include "IptcReader.h"
#include "MakerNotesTestSupport.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace lumivane {
namespace {

using testing::ByteWriter;

// An APP13 section as stored after its marker: length field, the Photoshop
// signature and an image-resource header, then the records.
ByteWriter SectionStart()
{
    ByteWriter w;
    w.BE16(0);                       // length field (not read by the parser)
    w.TextZ("Photoshop 3.0");        // signature
    w.Text("8BIM").BE16(0x0404);     // image resource 0x0404: IPTC data
    w.Raw({0, 0}).Raw({0, 0, 0, 0}); // empty name, resource size (not read)
    return w;
}

TEST(IptcParse, RepeatedKeywords_MergeIntoOneCommaList)
{
    ByteWriter w = SectionStart();
    w.IptcRecord(2, 25, "sun");
    w.IptcRecord(2, 25, "sea, beach");
    w.IptcRecord(2, 25, "SUN");  // other letter case: already there
    w.IptcRecord(2, 90, "Nice");
    TIptcRecords records(nullptr);
    records.ParseIptc(w.bytes());
    ASSERT_EQ(records.Count(), 2);
    EXPECT_EQ(records.Record(0).key, "Keywords");
    EXPECT_EQ(records.Record(0).text, "sun,sea,beach");
    EXPECT_EQ(records.Record(0).label, "Keywords");
    EXPECT_EQ(records.Record(0).byteCount, 64);
    EXPECT_EQ(records.Record(0).recordNumber, 2);
    EXPECT_EQ(records.Record(0).tagNumber, 25);
    EXPECT_EQ(records.RecordText("city", "?"), "Nice");
}

TEST(IptcParse, SupplementalCategories_AreMergedToo)
{
    ByteWriter w = SectionStart();
    w.IptcRecord(2, 20, "SPO");
    w.IptcRecord(2, 20, "SOC");
    TIptcRecords records(nullptr);
    records.ParseIptc(w.bytes());
    ASSERT_EQ(records.Count(), 1);
    EXPECT_EQ(records.RecordText("SuppCategory", ""), "SPO,SOC");
}

TEST(IptcParse, DatasetsNotInTable_BecomeCustomEntries)
{
    ByteWriter w = SectionStart();
    w.IptcRecord(2, 200, "custom data");
    w.IptcRecord(8, 10, "Z");  // record 8 dataset 10: Subfile
    w.IptcRecord(8, 11, "y");  // record 8 dataset 11: not in the table
    TIptcRecords records(nullptr);
    records.ParseIptc(w.bytes());
    ASSERT_EQ(records.Count(), 3);
    const TTagEntry& custom = records.Record(0);
    EXPECT_EQ(custom.key, "Custom_200");
    EXPECT_EQ(custom.label, "Custom_200");
    EXPECT_EQ(custom.tagNumber, 200);
    EXPECT_EQ(custom.recordNumber, 2);
    EXPECT_EQ(custom.byteCount, 64);
    EXPECT_EQ(custom.text, "custom data");
    EXPECT_EQ(records.Record(1).key, "Subfile");
    EXPECT_EQ(records.Record(1).recordNumber, 8);
    EXPECT_EQ(records.Record(1).byteCount, 2);
    EXPECT_EQ(records.Record(2).key, "Custom_11");
    EXPECT_EQ(records.Record(2).recordNumber, 8);
}

TEST(IptcParse, EnvelopeRecordsAndRecordVersion_AreNotStored)
{
    ByteWriter w = SectionStart();
    w.IptcRecord(1, 90, "envelope before");  // skipped by the search for the first record
    w.IptcRecord(2, 0, std::string("\x00\x02", 2));  // record version: key "SKIP", dataset 0
    w.IptcRecord(2, 5, "Title");
    w.IptcRecord(1, 20, "envelope between");  // record 1 gives an empty entry
    w.IptcRecord(2, 116, "(c) me");
    TIptcRecords records(nullptr);
    records.ParseIptc(w.bytes());
    ASSERT_EQ(records.Count(), 2);
    EXPECT_EQ(records.Record(0).key, "ObjectName");
    EXPECT_EQ(records.Record(0).text, "Title");
    EXPECT_EQ(records.Record(1).key, "Copyright");
    EXPECT_EQ(records.Record(1).label, "Copyright Notice");
    EXPECT_EQ(records.RecordIndex("Custom_0"), -1);
}

TEST(IptcParse, SectionWithoutRecordPair_GivesNoEntries)
{
    TIptcRecords records(nullptr);
    ByteWriter w = SectionStart();
    w.Raw({0x1C, 0x01, 0x05, 0x00, 0x01, 'x', 0x1C, 0x03, 0x1C});  // no 0x1C 0x02 / 0x1C 0x08
    records.ParseIptc(w.bytes());
    EXPECT_EQ(records.Count(), 0);
    EXPECT_FALSE(records.HasRecords());
    records.ParseIptc("");
    EXPECT_EQ(records.Count(), 0);
    records.ParseIptc(std::string(1, '\x1C'));
    EXPECT_EQ(records.Count(), 0);
}

TEST(IptcParse, WithoutSignature_SearchStartsAtPosition13)
{
    // The record at position 3 lies before the search start; the one after
    // position 13 is found.
    ByteWriter w;
    w.BE16(0);                        // 1: length field
    w.IptcRecord(2, 90, "Early");     // 3: record ending at position 12
    w.Zeros(4);                       // 13: filler
    w.IptcRecord(2, 95, "Late");      // 17
    TIptcRecords records(nullptr);
    records.ParseIptc(w.bytes());
    ASSERT_EQ(records.Count(), 1);
    EXPECT_EQ(records.Record(0).key, "State");
    EXPECT_EQ(records.Record(0).text, "Late");
}

TEST(IptcParse, RecordPassingSectionEnd_KeepsBytesUpToEnd)
{
    ByteWriter w = SectionStart();
    w.IptcRecord(2, 105, "Head");
    w.Raw({0x1C, 2, 120, 0x01, 0x00}).Text("short caption");  // says 256 bytes, has 13
    TIptcRecords records(nullptr);
    records.ParseIptc(w.bytes());
    ASSERT_EQ(records.Count(), 2);
    EXPECT_EQ(records.RecordText("ImageHeadline", ""), "Head");
    EXPECT_EQ(records.RecordText("ImageCaption", ""), "short caption");
}

TEST(IptcParse, HeaderCutShort_IsNotRead)
{
    // A marker and record number at the very end: the loop condition keeps
    // every header inside the section, so nothing is read.
    ByteWriter w = SectionStart();
    w.IptcRecord(2, 90, "Town");
    w.Raw({0x1C, 2, 25});
    TIptcRecords records(nullptr);
    records.ParseIptc(w.bytes());
    ASSERT_EQ(records.Count(), 1);
    EXPECT_EQ(records.Record(0).text, "Town");
}

TEST(IptcParse, ParsingAgain_ReplacesEarlierRecords)
{
    ByteWriter first = SectionStart();
    first.IptcRecord(2, 90, "A").IptcRecord(2, 95, "B");
    ByteWriter second = SectionStart();
    second.IptcRecord(2, 101, "C");
    TIptcRecords records(nullptr);
    records.ParseIptc(first.bytes());
    records.ParseIptc(second.bytes());
    ASSERT_EQ(records.Count(), 1);
    EXPECT_EQ(records.Record(0).key, "LocationName");
}

// Comma text: one row per worked example.
struct CommaMergeCase {
    const char* existing;
    const char* added;
    const char* merged;
};

class IptcCommaMerge : public ::testing::TestWithParam<CommaMergeCase> {};

TEST_P(IptcCommaMerge, AddsNewItemsOnce_QuotingItemsWithBlanksOrCommas)
{
    const CommaMergeCase& c = GetParam();
    EXPECT_EQ(iptc::CommaMerge(c.existing, c.added), c.merged);
}

INSTANTIATE_TEST_SUITE_P(
    Iptc, IptcCommaMerge,
    ::testing::Values(CommaMergeCase{"", "sun", "sun"},
                      CommaMergeCase{"sun", "sea, beach", "sun,sea,beach"},
                      CommaMergeCase{"sun,sea", "SEA, Sun", "sun,sea"},
                      CommaMergeCase{"", "New York", "\"New York\""},
                      CommaMergeCase{"\"New York\"", "new york,Paris", "\"New York\",Paris"},
                      CommaMergeCase{"", "\"a, b\", c", "\"a, b\",c"},
                      CommaMergeCase{"", "  padded  ", "padded"},
                      CommaMergeCase{"x", ",, ,", "x"},
                      CommaMergeCase{"", "say \"hi\"", "\"say \"\"hi\"\"\""},
                      CommaMergeCase{"\"say \"\"hi\"\"\"", "say \"HI\"", "\"say \"\"hi\"\"\""},
                      CommaMergeCase{"", "\"unterminated, item", "\"unterminated, item\""}));

TEST(IptcCommaText, ReadAndWrite_AreInverse)
{
    const std::vector<std::string> items = {"plain", "with blank", "with,comma", "q\"uote", "x"};
    const std::string text = iptc::WriteCommaText(items);
    EXPECT_EQ(text, "plain,\"with blank\",\"with,comma\",\"q\"\"uote\",x");
    EXPECT_EQ(iptc::ReadCommaText(text), items);
}

// Record operations on a small list: City, Keywords, State.
class IptcRecordOps : public ::testing::Test {
protected:
    void SetUp() override
    {
        ByteWriter w = SectionStart();
        w.IptcRecord(2, 90, "Oslo").IptcRecord(2, 25, "fjord").IptcRecord(2, 95, "Viken");
        records.ParseIptc(w.bytes());
        ASSERT_EQ(records.Count(), 3);
    }
    TIptcRecords records{nullptr};
};

TEST_F(IptcRecordOps, RecordIndex_IgnoresCase_AndGivesMinusOneWhenAbsent)
{
    EXPECT_EQ(records.RecordIndex("CITY"), 0);
    EXPECT_EQ(records.RecordIndex("keywords"), 1);
    EXPECT_EQ(records.RecordIndex("Source"), -1);
    EXPECT_EQ(records.RecordText("Source", "none"), "none");
}

TEST_F(IptcRecordOps, DeleteRecord_MovesLaterEntriesDown)
{
    records.DeleteRecord("keywords");
    ASSERT_EQ(records.Count(), 2);
    EXPECT_EQ(records.Record(1).key, "State");
    records.DeleteRecord("nothing");
    EXPECT_EQ(records.Count(), 2);
    records.DeleteRecord("State");
    records.DeleteRecord("City");
    EXPECT_FALSE(records.HasRecords());
}

TEST_F(IptcRecordOps, SetRecordText_ReplacesAppendsOrRefuses)
{
    EXPECT_EQ(records.SetRecordText("city", "Bergen"), 0);
    EXPECT_EQ(records.RecordText("City", ""), "Bergen");
    // Empty text leaves a present record alone.
    EXPECT_EQ(records.SetRecordText("City", ""), 0);
    EXPECT_EQ(records.RecordText("City", ""), "Bergen");
    // Absent but in the table: a copy of the row is appended.
    EXPECT_EQ(records.SetRecordText("source", "Me"), 3);
    EXPECT_EQ(records.Record(3).key, "Source");
    EXPECT_EQ(records.Record(3).byteCount, 32);
    // Neither present nor in the table.
    EXPECT_EQ(records.SetRecordText("NoSuchKey", "x"), -1);
    EXPECT_EQ(records.Count(), 4);
}

TEST_F(IptcRecordOps, MergeAndPut_MergeRepeatableDatasets_SetOthers)
{
    EXPECT_EQ(records.MergeRecordText("Keywords", "sea, FJORD"), 1);
    EXPECT_EQ(records.RecordText("Keywords", ""), "fjord,sea");
    EXPECT_EQ(records.MergeRecordText("Keywords", ""), 1);
    EXPECT_EQ(records.RecordText("Keywords", ""), "fjord,sea");
    EXPECT_EQ(records.PutRecordText("keywords", "ice"), 1);
    EXPECT_EQ(records.RecordText("Keywords", ""), "fjord,sea,ice");
    EXPECT_EQ(records.PutRecordText("City", "Tromso"), 0);
    EXPECT_EQ(records.RecordText("City", ""), "Tromso");
    EXPECT_EQ(records.PutRecordText("SuppCategory", "b, a"), 3);
    EXPECT_EQ(records.RecordText("SuppCategory", ""), "b,a");
    EXPECT_EQ(records.PutRecordText("Custom_200", "x"), -1);
    EXPECT_EQ(records.MergeRecordText("NoSuchKey", "x"), -1);
}

TEST(IptcRecords, AppendRecord_SkipsTagZero_AndGrowsBeyondCapacity)
{
    TIptcRecords records(nullptr);
    TTagEntry empty;
    EXPECT_EQ(records.AppendRecord(empty), -1);
    EXPECT_EQ(records.Count(), 0);
    for (int i = 0; i < 60; ++i) {
        TTagEntry entry;
        entry.tagNumber = uint16_t(200 + i % 50);
        entry.key = "Custom_" + std::to_string(i);
        entry.text = std::to_string(i);
        EXPECT_EQ(records.AppendRecord(entry), i);
    }
    EXPECT_EQ(records.Count(), 60);
    EXPECT_EQ(records.Record(59).text, "59");
    EXPECT_THROW(records.Record(60), std::out_of_range);
    records.SetCount(10);
    EXPECT_EQ(records.Count(), 10);
    records.ClearRecords();
    EXPECT_EQ(records.Count(), 0);
    EXPECT_EQ(records.RecordIndex("Custom_0"), -1);
}

// A JPEG file of start of image, one APP13 section and end of image.
class IptcFile : public ::testing::Test {
protected:
    void WriteJpeg(const Bytes& app13Payload, bool withApp13 = true)
    {
        ByteWriter w;
        w.Raw({0xFF, 0xD8});                                  // start of image
        if (withApp13) {
            w.Raw({0xFF, 0xED}).BE16(uint32_t(app13Payload.size() + 2));  // APP13, length
            w.Text(app13Payload);
        } else {
            w.Raw({0xFF, 0xFE}).BE16(6).Text("note");         // COM only
        }
        w.Raw({0xFF, 0xD9});                                  // end of image
        std::ofstream(path, std::ios::binary).write(w.bytes().data(), std::streamsize(w.Size()));
    }

    static Bytes Payload()
    {
        ByteWriter w;
        w.TextZ("Photoshop 3.0").Text("8BIM").BE16(0x0404).Raw({0, 0, 0, 0, 0, 0});
        w.IptcRecord(2, 120, "A caption").IptcRecord(2, 25, "one").IptcRecord(2, 25, "two");
        return w.bytes();
    }

    lumivane::test_support::TemporaryFolder folder_{"lumivane-iptc"};
    std::string path = folder_.file("iptc.jpg");
};

TEST_F(IptcFile, ReadIptcFile_ReadsAppSection_WithStandaloneOwner)
{
    WriteJpeg(Payload());
    TImageMetadata metadata;
    TIptcRecords records(&metadata);
    EXPECT_TRUE(records.ReadIptcFile(path));
    ASSERT_EQ(records.Count(), 2);
    EXPECT_EQ(records.RecordText("ImageCaption", ""), "A caption");
    EXPECT_EQ(records.RecordText("Keywords", ""), "one,two");
}

TEST_F(IptcFile, ReadIptcFile_OnOwnersOwnReader_KeepsReaderAlive)
{
    WriteJpeg(Payload());
    TImageMetadata metadata;
    ASSERT_TRUE(metadata.ReadMetadata(path));
    ASSERT_TRUE(metadata.iptc);
    TIptcRecords* records = metadata.iptc.get();
    EXPECT_FALSE(records->HasRecords());  // read on demand only
    EXPECT_TRUE(records->ReadIptcFile(path));
    EXPECT_EQ(metadata.iptc.get(), records);
    EXPECT_EQ(records->RecordText("Keywords", ""), "one,two");
}

TEST_F(IptcFile, ReadIptcFile_FileWithoutApp13_GivesFalseAndClearsRecords)
{
    WriteJpeg("", false);
    TImageMetadata metadata;
    TIptcRecords records(&metadata);
    records.SetRecordText("City", "Old");
    EXPECT_FALSE(records.ReadIptcFile(path));
    EXPECT_EQ(records.Count(), 0);
    EXPECT_FALSE(records.ReadIptcFile(path + ".missing.jpg"));
}

}  // namespace
}  // namespace lumivane
