// SPDX-License-Identifier: GPL-3.0-or-later
// The transplanted EXIF segment must read back through the program's own
// metadata reader exactly as it reads in the camera file.
#include "ExifReader.h"
#include "ExifTransplant.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include <jpeglib.h>

using namespace lumivane;
namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> encodedPhotograph()
{
    const int width = 48, height = 32;
    std::vector<std::uint8_t> rgb(std::size_t(width) * height * 3);
    for (std::size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = std::uint8_t(i * 5);
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = &rgb[std::size_t(cinfo.next_scanline) * width * 3];
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<std::uint8_t> bytes(out, out + size);
    std::free(out);
    return bytes;
}

struct Facts {
    bool exif = false;
    std::string make, model, exposure;
};

Facts factsOf(const std::string& path)
{
    TImageMetadata metadata;
    metadata.ReadMetadata(path);
    Facts facts;
    facts.exif = metadata.ExifFound() && metadata.exif;
    if (facts.exif) {
        facts.make = metadata.exif->TagText("Make");
        facts.model = metadata.exif->TagText("Model");
        facts.exposure = metadata.exif->TagText("ExposureTime");
    }
    return facts;
}

} // namespace

TEST(TransplantMetadata, CameraFactsReadTheSameFromOutput)
{
    const fs::path samples = fs::path(LUMIVANE_SAMPLES_DIR) / "exif";
    ASSERT_TRUE(fs::is_directory(samples)) << samples;
    const lumivane::test_support::TemporaryFolder folder("lumivane-exifmeta");
    const fs::path dir = folder.path();
    const std::vector<std::uint8_t> encoded = encodedPhotograph();
    int withMake = 0;
    for (const auto& entry : fs::directory_iterator(samples)) {
        SCOPED_TRACE(entry.path().filename().string());
        const Facts before = factsOf(entry.path().string());
        if (!before.exif)
            continue;
        const std::string out = (dir / "out.jpg").string();
        ASSERT_EQ(WriteJpegWithExif(encoded, entry.path().string(), out), TransplantResult::Transplanted);
        const Facts after = factsOf(out);
        EXPECT_TRUE(after.exif);
        EXPECT_EQ(after.make, before.make);
        EXPECT_EQ(after.model, before.model);
        EXPECT_EQ(after.exposure, before.exposure);
        if (!before.make.empty())
            ++withMake;
    }
    EXPECT_GE(withMake, 30);
}
