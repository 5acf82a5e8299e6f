// SPDX-License-Identifier: GPL-3.0-or-later
// IPTC records of the public sample photographs, compared with an
// independent reader.
//
// Expected values come from `exiftool -a -G1 -IPTC:all <file>` (ExifTool
// 12.57), checked once by hand. ExifTool shows dates as 2004:02:26 and times
// as 18:04:34-05:00 where the records hold 20040226 and 180434-0500, and
// converts the Windows-1252 copyright sign to UTF-8; the values below are the
// bytes as stored. Repeated Keywords and Supplemental Categories, which
// ExifTool lists as "a, b", are our comma text "a,b".
#include "ExifReader.h"
#include "IptcReader.h"

#include <gtest/gtest.h>

#include <string>

namespace lumivane {
namespace {

std::string SamplePath(const std::string& name)
{
    return std::string(LUMIVANE_SAMPLES_DIR) + "/exif/" + name;
}

struct IptcValueCase {
    const char* file;
    const char* key;
    const char* value;
};

void PrintTo(const IptcValueCase& c, std::ostream* os) { *os << c.file << " " << c.key; }

class IptcSamples : public ::testing::TestWithParam<IptcValueCase> {};

TEST_P(IptcSamples, RecordTextMatchesIndependentReader)
{
    const IptcValueCase& c = GetParam();
    TImageMetadata metadata;
    ASSERT_TRUE(metadata.ReadMetadata(SamplePath(c.file)));
    ASSERT_TRUE(metadata.iptc) << "no APP13 section";
    TIptcRecords& records = *metadata.iptc;
    ASSERT_TRUE(records.ReadIptcFile(SamplePath(c.file)));
    ASSERT_GE(records.RecordIndex(c.key), 0) << "no " << c.key;
    EXPECT_EQ(records.RecordText(c.key, "<absent>"), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Iptc, IptcSamples,
    ::testing::Values(
        IptcValueCase{"exiftool_IPTC.jpg", "ImageCaption", "A witty caption"},
        IptcValueCase{"exiftool_IPTC.jpg", "ByLine", "Phil Harvey"},
        IptcValueCase{"exiftool_IPTC.jpg", "Keywords", "ExifTool,Test,IPTC"},
        IptcValueCase{"exiftool_IPTC.jpg", "SuppCategory", "amazing,image,utilities"},
        IptcValueCase{"exiftool_IPTC.jpg", "DateCreated", "20040226"},
        IptcValueCase{"exiftool_IPTC.jpg", "TransmissionRef", "What is a transmission reference"},
        IptcValueCase{"exiftool_IPTC.jpg", "Urgency", "8"},
        IptcValueCase{"exiftool_IPTC.jpg", "Source", "I'm the source"},
        IptcValueCase{"exiftool_GPS.jpg", "ImageCaptionWriter", "Ian Britton"},
        IptcValueCase{"exiftool_GPS.jpg", "LocationName", "United Kingdom"},
        IptcValueCase{"exiftool_GPS.jpg", "Category", "BUS"},
        IptcValueCase{"exiftool_GPS.jpg", "Copyright", "ian Britton - FreeFoto.com"},
        IptcValueCase{"mde_Issue_122.jpg", "SuppCategory", "SPO,SOC"},
        IptcValueCase{"mde_Issue_122.jpg", "ObjectName", "9401004P  S KOREA V USA X"},
        IptcValueCase{"mde_Issue_122.jpg", "City", "Pasadena"},
        IptcValueCase{"mde_Issue_122.jpg", "ByLineTitle", "Staff"},
        IptcValueCase{"mde_Nikon_D1X.jpg", "Keywords", "Woodworking"},
        IptcValueCase{"mde_Nikon_D1X.jpg", "TimeCreated", "180434-0500"},
        IptcValueCase{"mde_Nikon_D1X.jpg", "Copyright", "\xA9 2003 Joseph S. Colson"},
        IptcValueCase{"mde_Nikon_D1X.jpg", "ImageCaption",
                      "Workshop showing workbench and storage"}));

TEST(IptcSamples, ReadIptcFile_CountsTheRecordsOfTheFirstBlock)
{
    // exiftool_IPTC.jpg: 20 datasets, less the record version, with the
    // three keywords and three categories merged into one entry each.
    TImageMetadata metadata;
    TIptcRecords records(&metadata);
    ASSERT_TRUE(records.ReadIptcFile(SamplePath("exiftool_IPTC.jpg")));
    EXPECT_EQ(records.Count(), 19);
    // A photograph without an APP13 section.
    EXPECT_FALSE(records.ReadIptcFile(SamplePath("ianare_canon-ixus.jpg")));
    EXPECT_EQ(records.Count(), 0);
}

}  // namespace
}  // namespace lumivane
