// SPDX-License-Identifier: GPL-3.0-or-later
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

TEST(TagTables, KeepTheirMisspellingsAndOddities)
{
    // Files and look-ups depend on these texts as they stand; "correcting"
    // one changes what the EXIF window finds and shows.
    struct Row {
        bool gps;
        int tag;
        const char* key;
        const char* label;
    };
    const Row rows[] = {
        {false, 0x0122, "GrayReponseUnit", "Gray Reponse Unit"},
        {false, 0x0123, "GrayReponseCurve", "Gray Reponse Curve"},
        {false, 0x0152, "ExtraSample", "Extra Sample"},
        {false, 0x0211, "YCbCrCoefficients", "YCb Cr Coefficients"},
        {false, 0x0303, "SRGBRenderingIntent", "SRGBRendering Intent"},
        {false, 0x502C, "ThumbnailStripBytesCount", "Thumbnail Strip Bytes Count"},
        {false, 0x5024, "ThumbnailPhotometricInterp", "Thumbnail Photometric Interp"},
        {false, 0x80E3, "Matteing", "Matteing"},
        {false, 0x84E3, "IT8RasterPadding", "IT8 Raster Padding"},
        {false, 0x8827, "ISOSpeedRatings", "ISOSpeed Ratings"},
        {false, 0x83BB, "IPTC/NAA", "IPTC/NAA"},                    // preset label
        {false, 0x9216, "TIFF/EPStandardID", "TIFF/ EPStandard ID"}, // split: a blank after the slash
        {false, 0xA216, "TIFF/EPStandardID", "TIFF/EPStandardID"},  // the same key with its preset label
        {false, 0x923F, "StoNits", "Sto Nits"},
        {false, 0xA405, "FocalLengthin35mmFilm", "Focal Length in 35mm Film"},
        {false, 0x000B, "ACDComment", "ACDComment"},
        {true, 0x0000, "GPSVersionID", "GPSVersion ID"},
        {true, 0x000B, "GPSDOP", "GPSDOP"},
        {true, 0x0017, "GPSDestBearingkRef", "GPSDest Bearingk Ref"},
    };
    for (const Row& row : rows) {
        const TTagEntry& entry = row.gps ? FindGpsTagRow(row.tag) : FindMainTagRow(row.tag);
        EXPECT_EQ(entry.tagNumber, row.tag) << std::hex << row.tag;
        EXPECT_EQ(entry.key, row.key) << std::hex << row.tag;
        EXPECT_EQ(entry.label, row.label) << row.key;
    }

    // Rows that appear twice under one key, 0x92xx and 0xA2xx alike.
    for (int low : {0x0B, 0x0C, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17})
        EXPECT_EQ(FindMainTagRow(0x9200 + low).key, FindMainTagRow(0xA200 + low).key) << std::hex << low;

    // Value lists as written, blanks and names included.
    struct List {
        int tag;
        const char* names;
    };
    const List lists[] = {
        {0x0106, "1:Monochrome, 2:RGB, 6:YCbCr"},
        {0xA001, "0:sBW,1:sRGB"},
        {0xA420, "0:Close view,1:Distant view"},
        {0x9208, "0:Unidentified,1:Daylight,2:Fluorescent,3:Tungsten,10:Flash,17:Std A,18:Std B,19:Std C"},
        {0x8822, "0:Unidentified,1:Manual,2:Normal,3:Aperture priority,4:Shutter priority,5:Creative(slow),"
                 "6:Action(high-speed),7:Portrait mode,8:Landscape mode"},
        {0x0103, "6:Jpeg,3:Uncompressed,1:TIFF"},
        {0xA300, "1:Unknown,3:Digital Still Camera"},
    };
    for (const List& list : lists)
        EXPECT_EQ(FindMainTagRow(list.tag).valueNames, list.names) << std::hex << list.tag;
    EXPECT_EQ(FindGpsTagRow(0x0005).valueNames, "0:Sealevel");
    EXPECT_EQ(FindMainTagRow(0x0128).valueNames, "1:None Specified,2:Inch,3:Centimeter");
    EXPECT_EQ(FindMainTagRow(0x9210).valueNames, FindMainTagRow(0xA210).valueNames);
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
