// SPDX-License-Identifier: GPL-3.0-or-later
// Maker notes of the public sample photographs: every file decodes without a
// fault, and a few values per maker agree with an independent reader.
//
// Expected values were checked once by hand against ExifTool 12.57
// (`exiftool -s -MakerNotes:all <file>`), written in this program's own
// wording: ExifTool's "AI Servo AF" is our "AI Servo", its "Quality 12" of
// the E950 is our "2 Mpixel Fine", its "Lens 17-35mm f/2.8" our lens range
// text, and so on.
#include "ExifReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace lumivane {
namespace {

std::string SamplePath(const std::string& name)
{
    return std::string(LUMIVANE_SAMPLES_DIR) + "/exif/" + name;
}

struct MakerValueCase {
    const char* file;
    const char* key;
    const char* value;
};

void PrintTo(const MakerValueCase& c, std::ostream* os) { *os << c.file << " " << c.key; }

class MakerNoteSamples : public ::testing::TestWithParam<MakerValueCase> {};

TEST_P(MakerNoteSamples, DecodesMakerValueAsIndependentReaderDoes)
{
    const MakerValueCase& c = GetParam();
    TImageMetadata metadata;
    ASSERT_TRUE(metadata.ReadMetadata(SamplePath(c.file)));
    ASSERT_TRUE(metadata.exif);
    const TImageInfo& info = *metadata.exif;
    const int index = info.TagIndex(c.key);
    ASSERT_GE(index, 0) << "no " << c.key;
    EXPECT_EQ(info.tags[std::size_t(index)].origin, 1);
    EXPECT_EQ(info.tags[std::size_t(index)].text, c.value);
}

INSTANTIATE_TEST_SUITE_P(
    MakerNotes, MakerNoteSamples,
    ::testing::Values(
        // Canon camera settings and shot information.
        MakerValueCase{"exiftool_Canon1DmkIII.jpg", "Macro mode", "Normal"},
        MakerValueCase{"exiftool_Canon1DmkIII.jpg", "Focus Mode", "AI Servo"},
        MakerValueCase{"exiftool_Canon1DmkIII.jpg", "Image Size", "Large"},
        MakerValueCase{"exiftool_Canon1DmkIII.jpg", "Easy Shoot", "Manual"},
        MakerValueCase{"ianare_Canon_DIGITAL_IXUS_400.jpg", "Macro mode", "Normal"},
        MakerValueCase{"ianare_Canon_DIGITAL_IXUS_400.jpg", "Focus Mode", "Single"},
        MakerValueCase{"ianare_Canon_DIGITAL_IXUS_400.jpg", "Easy Shoot", "Full Auto"},
        MakerValueCase{"ianare_canon-ixus.jpg", "Image Size", "Small"},
        // The last value of the note, ending on its last byte.
        MakerValueCase{"ianare_canon-ixus.jpg", "OwnerName", "\"Tom Rowan and Sarah Clifton\""},
        MakerValueCase{"mde_Issue_122.jpg", "White balance", "Auto"},
        // Nikon, third kind (lens range formatter) and first kind.
        MakerValueCase{"exiftool_NikonD2Hs.jpg", "LensInformation", "50.0-50.0(mm)  F1.8-F1.8"},
        MakerValueCase{"exiftool_NikonD2Hs.jpg", "ISOSpeed", "0, 800"},
        MakerValueCase{"ianare_32-lens_data.jpg", "LensInformation", "28.0-300.0(mm)  F3.5-F5.6"},
        MakerValueCase{"mde_Nikon_D1X.jpg", "LensInformation", "17.0-35.0(mm)  F2.8-F2.8"},
        MakerValueCase{"mde_Nikon_D1X.jpg", "Quality", "\"RAW    \""},
        MakerValueCase{"ianare_nikon-e950.jpg", "Quality", "2 Mpixel Fine"},
        MakerValueCase{"ianare_nikon-e950.jpg", "ImageAdjustment", "Contrast+"},
        MakerValueCase{"ianare_nikon-e950.jpg", "ISOSpeed", "ISO80"},
        // Casio, first kind and QVC kind.
        MakerValueCase{"exiftool_Casio.jpg", "RecordingMode", "Single Shutter"},
        MakerValueCase{"exiftool_Casio.jpg", "FlashMode", "Red Eye Reduction"},
        MakerValueCase{"mde_Casio_EX-S1.jpg", "ThumbnailDimensions", "320, 240"},
        MakerValueCase{"mde_Casio_EX-S1.jpg", "WhiteBalanceBias", "132, 76"},
        MakerValueCase{"mde_Casio_EX-S1.jpg", "WhiteBalance", "Flash"},
        // ExifTool's HometownCity, the note's last value.
        MakerValueCase{"exiftool_Casio2.jpg", "TimeZone", "\"New York\""},
        // Fujifilm (little-endian notes); FlashStrength ends on the note's
        // last byte (ExifTool's FlashExposureComp 0).
        MakerValueCase{"ianare_fujifilm-finepix40i.jpg", "PictureMode", "Portrait scene"},
        MakerValueCase{"ianare_fujifilm-finepix40i.jpg", "FlashStrength", "0/10"},
        MakerValueCase{"ianare_Fujifilm_FinePix_E500.jpg", "FlashStrength", "0/100"},
        MakerValueCase{"exiftool_FujiFilm.jpg", "FlashStrength", "0/10"},
        MakerValueCase{"ianare_Fujifilm_FinePix_E500.jpg", "Macro", "On"},
        MakerValueCase{"mde_FujiFilm_FinePix6800Zoom.jpg", "BlurWarning", "Blur warning"},
        // Olympus, Seiko (Epson), Sanyo, Minolta.
        MakerValueCase{"mde_Olympus_X-2.jpg", "JpegQual", "SHQ"},
        MakerValueCase{"mde_Olympus_X-2.jpg", "Macro", "Macro;"},
        MakerValueCase{"mde_Epson_PhotoPC_3000Z.jpg", "Width", "2048"},
        MakerValueCase{"mde_Epson_PhotoPC_3000Z.jpg", "Height", "1536"},
        MakerValueCase{"mde_Epson_PhotoPC_3000Z.jpg", "SoftRelease", "\"SX321\""},
        MakerValueCase{"ianare_sanyo-vpcsx550.jpg", "DigiZoom", "0/10"},
        MakerValueCase{"exiftool_Minolta.jpg", "PIMdata",
                       "\"PrintIM.0100............................\""}));

TEST(MakerNoteSamples, EverySample_ReadsWithoutFault_AndKeepsItsExifBuffer)
{
    int withMakerValues = 0;
    for (const auto& item : std::filesystem::directory_iterator(std::string(LUMIVANE_SAMPLES_DIR) + "/exif")) {
        SCOPED_TRACE(item.path().filename().string());
        TImageMetadata metadata;
        metadata.ReadMetadata(item.path().string());
        if (!metadata.exif)
            continue;
        // The maker-note walk hands the EXIF bytes back to the reader.
        EXPECT_EQ(metadata.exif->buffer, metadata.exifSection->bytes);
        for (int i = 0; i < metadata.exif->tagCount; ++i) {
            if (metadata.exif->tags[std::size_t(i)].origin == 1) {
                ++withMakerValues;
                break;
            }
        }
    }
    // Canon, Nikon, Olympus, Casio, Fujifilm, Seiko, Sanyo and Minolta files.
    EXPECT_GE(withMakerValues, 30);
}

}  // namespace
}  // namespace lumivane
