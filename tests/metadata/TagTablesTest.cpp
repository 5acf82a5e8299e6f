// Tag tables, their labels and look-up; the marker-name table; the byte reader.
#include "ByteReader.h"
#include "ExifReader.h"
#include "TagTables.h"

#include <gtest/gtest.h>

#include <set>

namespace lumivane {
namespace {

TEST(TagTables, HaveTheirRowCountsAndUnknownRowLast)
{
    ASSERT_EQ(MainTagTable().size(), 251u);
    ASSERT_EQ(GpsTagTable().size(), 31u);
    EXPECT_EQ(MainTagTable().back().tagNumber, 0);
    EXPECT_EQ(MainTagTable().back().key, "Unknown");
    EXPECT_EQ(&UnknownTagRow(), &MainTagTable().back());
    for (int i = 0; i < 31; ++i)
        EXPECT_EQ(GpsTagTable()[std::size_t(i)].tagNumber, i) << "GPS rows are tags 0..30 in order";
}

TEST(TagTables, LookUpKeepsTheExactKeys)
{
    struct Case {
        int tag;
        const char* key;
    } mainCases[] = {
        {0x0001, "InteroperabilityIndex"}, {0x0122, "GrayReponseUnit"},
        {0x0123, "GrayReponseCurve"},      {0x829A, "ExposureTime"},
        {0x83BB, "IPTC/NAA"},              {0x8827, "ISOSpeedRatings"},
        {0x9C9F, "Subject"},               {0xA20E, "FocalPlaneXResolution"},
        {0xA405, "FocalLengthin35mmFilm"}, {0xA420, "ImageUniqueID"},
        {0x0132, "DateTime"},              {0x0000, "Unknown"},
        {0xFFFF, "Unknown"},               {0x0005, "Unknown"},
    };
    for (const auto& c : mainCases)
        EXPECT_EQ(FindMainTagRow(c.tag).key, c.key) << std::hex << c.tag;

    EXPECT_EQ(FindGpsTagRow(0x0002).key, "GPSLatitude");
    EXPECT_EQ(FindGpsTagRow(0x0017).key, "GPSDestBearingkRef");
    EXPECT_EQ(FindGpsTagRow(0x001E).key, "GPSDifferential");
    EXPECT_EQ(FindGpsTagRow(0x0000).key, "GPSVersionID");  // tag 0 is a real GPS row
    EXPECT_EQ(&FindGpsTagRow(0x0100), &UnknownTagRow());    // other GPS tags: main unknown row
}

TEST(TagTables, RowsCarryTheirListsFormatsAndFormatters)
{
    EXPECT_EQ(FindMainTagRow(0x829D).formatText, "F%0.1f");
    EXPECT_EQ(FindMainTagRow(0x920A).formatText, "%5.2f mm");
    EXPECT_EQ(FindMainTagRow(0x0112).valueNames,
              "1:Normal,3:Rotated 180\xB0,6:CounterClockwise 90\xB0,8:Clockwise 90\xB0");
    EXPECT_EQ(FindMainTagRow(0x0106).valueNames, "1:Monochrome, 2:RGB, 6:YCbCr");
    EXPECT_NE(FindMainTagRow(0x9209).formatter, nullptr);
    EXPECT_NE(FindMainTagRow(0x9C9B).formatter, nullptr);
    EXPECT_EQ(FindMainTagRow(0x9C9B).formatter, FindMainTagRow(0x9C9F).formatter);
    EXPECT_NE(FindGpsTagRow(0x0007).formatter, nullptr);
    EXPECT_EQ(FindGpsTagRow(0x0005).valueNames, "0:Sealevel");
    int withFormatter = 0;
    for (const auto& row : MainTagTable())
        withFormatter += row.formatter != nullptr;
    EXPECT_EQ(withFormatter, 9);  // flash, shutter, components, user comment, five titles
}

TEST(TagTables, LabelsComeFromSplitKeysUnlessPreset)
{
    struct Case {
        const char* key;
        const char* label;
    } splits[] = {
        {"ExposureTime", "Exposure Time"}, {"ISOSpeedRatings", "ISOSpeed Ratings"},
        {"T4Options", "T4 Options"},       {"GPSLatitude", "GPSLatitude"},
        {"a", "a"},                        {"", ""},
        {"XResolution", "XResolution"},    {"FocalLengthin35mmFilm", "Focal Lengthin35mm Film"},
    };
    for (const auto& c : splits)
        EXPECT_EQ(SplitCamelCase(c.key), c.label) << c.key;

    EXPECT_EQ(FindMainTagRow(0x829A).label, "Exposure Time");
    EXPECT_EQ(FindMainTagRow(0xA405).label, "Focal Length in 35mm Film");
    EXPECT_EQ(FindMainTagRow(0x83BB).label, "IPTC/NAA");
    EXPECT_EQ(FindMainTagRow(0xA216).label, "TIFF/EPStandardID");
    EXPECT_EQ(FindGpsTagRow(0x0002).label, "GPSLatitude");
    for (const auto& row : MainTagTable())
        EXPECT_FALSE(row.label.empty()) << row.key;
}

TEST(TagTables, KeysCompareIgnoringCase)
{
    EXPECT_TRUE(SameKey("FocalLength", "focallength"));
    EXPECT_FALSE(SameKey("FocalLength", "FocalLengt"));
    const TTagEntry* row = FindRowByKey(MainTagTable(), "FocalLengthIn35mmFilm");
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->tagNumber, 0xA405);
    // The first of two rows with the same key wins.
    EXPECT_EQ(FindRowByKey(MainTagTable(), "FocalPlaneXResolution")->tagNumber, 0x920E);
    EXPECT_EQ(FindRowByKey(MainTagTable(), "NoSuchKey"), nullptr);
}

TEST(MarkerNames, TableOrderAndLookUp)
{
    EXPECT_EQ(kMarkerNames[11].code, 0xCD);
    EXPECT_EQ(kMarkerNames[12].code, 0xCC);
    EXPECT_EQ(kMarkerNames[26].code, 0xFE);
    EXPECT_EQ(kMarkerNames[27].code, 0xED);
    EXPECT_EQ(kMarkerNames[29].code, 0x00);
    std::set<int> codes;
    for (const auto& row : kMarkerNames)
        codes.insert(row.code);
    EXPECT_EQ(codes.size(), 30u);
    EXPECT_EQ(MarkerName(0xE1), "Exif Data");
    EXPECT_EQ(MarkerName(0xC9), "Extended sequential, arithmetic coding");
    EXPECT_EQ(MarkerName(0xED), "IPTC data");
    EXPECT_EQ(MarkerName(0x12), "Unknown");
    EXPECT_EQ(MarkerName(0xC8), "Unknown");
}

TEST(ByteReader, ReadsBothOrdersAndNeverLeavesTheData)
{
    const Bytes data("\x12\x34\x56\x78\x9A", 5);
    const ByteReader le(data, false);
    const ByteReader be(data, true);
    EXPECT_EQ(le.Read16(1), 0x3412);
    EXPECT_EQ(be.Read16(1), 0x1234);
    EXPECT_EQ(le.Read32(2), int32_t(0x9A785634u));
    EXPECT_EQ(be.Read32(2), int32_t(0x3456789Au));
    EXPECT_EQ(le.Read16BigEndian(1), 0x1234);
    EXPECT_EQ(le.Byte(5), 0x9A);

    EXPECT_THROW(le.Read16(5), MetadataError);
    EXPECT_THROW(le.Read32(3), MetadataError);
    EXPECT_THROW(le.Read16(0), MetadataError);
    EXPECT_THROW(le.Byte(6), MetadataError);
    EXPECT_THROW(le.Read32(INT64_MAX), MetadataError);
    EXPECT_THROW(le.Read32(INT64_MIN), MetadataError);

    EXPECT_EQ(le.Copy(4, 10), Bytes("\x78\x9A", 2));  // fewer bytes when the data ends
    EXPECT_EQ(le.Copy(6, 1), Bytes());                // nothing past the end
    EXPECT_EQ(le.Copy(INT64_MAX, INT64_MAX), Bytes());
    EXPECT_EQ(le.Copy(1, 0), Bytes());
    EXPECT_THROW(le.Copy(0, 1), MetadataError);
    EXPECT_THROW(le.Copy(-5, 1), MetadataError);
    EXPECT_THROW(le.Copy(1, -1), MetadataError);

    const Bytes empty;
    EXPECT_THROW(ByteReader(empty, false).Read16(1), MetadataError);
    EXPECT_EQ(ByteReader(empty, false).Copy(1, 4), Bytes());
}

TEST(TiffTypes, ComponentSizes)
{
    const int expected[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 0, 0};
    for (int code = 0; code < 15; ++code)
        EXPECT_EQ(TiffTypeSize(code), expected[code]) << code;
    EXPECT_EQ(TiffTypeSize(TiffType::SRational), 8);
    EXPECT_EQ(TiffTypeSize(0xFFFF), 0);
}

}  // namespace
}  // namespace lumivane
