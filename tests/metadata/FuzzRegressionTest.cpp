// SPDX-License-Identifier: GPL-3.0-or-later
// Replays every saved fuzzing finding and seed (tests/data/fuzz/<target>)
// through the entry points of the fuzz harnesses: each must run to the end
// without a fault (run this under the sanitizers to catch what they catch).
#include "FuzzTargets.h"
#include "ImageFuzzTargets.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace lumivane {
namespace {

using Runner = void (*)(const uint8_t*, std::size_t);

std::vector<std::filesystem::path> FindingsIn(const std::string& folder)
{
    std::vector<std::filesystem::path> files;
    const std::filesystem::path dir = std::filesystem::path(LUMIVANE_TEST_DATA_DIR) / "fuzz" / folder;
    if (!std::filesystem::is_directory(dir))
        return files;
    for (const auto& item : std::filesystem::directory_iterator(dir)) {
        if (item.is_regular_file())
            files.push_back(item.path());
    }
    return files;
}

std::string ReadAll(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct FindingFolder {
    const char* name;
    Runner run;
};

class FuzzRegressions : public ::testing::TestWithParam<FindingFolder> {};

TEST_P(FuzzRegressions, SavedFindingsRunToTheEnd)
{
    const FindingFolder& folder = GetParam();
    fuzz::LimitMemoryForFuzzing();
    const std::vector<std::filesystem::path> files = FindingsIn(folder.name);
    for (const auto& path : files) {
        SCOPED_TRACE(path.filename().string());
        const std::string bytes = ReadAll(path);
        EXPECT_NO_THROW(folder.run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(Fuzz, FuzzRegressions,
                         ::testing::Values(FindingFolder{"jpeg", fuzz::RunJpeg},
                                           FindingFolder{"tiff", fuzz::RunTiff},
                                           FindingFolder{"iptc", fuzz::RunIptc},
                                           FindingFolder{"bmp", fuzz::RunBmp},
                                           FindingFolder{"jpegdecode", fuzz::RunJpegDecode},
                                           FindingFolder{"tiffread", fuzz::RunTiffRead},
                                           FindingFolder{"photofile", fuzz::RunPhotoFile},
                                           FindingFolder{"settings", fuzz::RunSettings},
                                           FindingFolder{"maskfile", fuzz::RunMaskSettings},
                                           FindingFolder{"transplant", fuzz::RunTransplant}),
                         [](const ::testing::TestParamInfo<FindingFolder>& info) {
                             return std::string(info.param.name);
                         });

// The entry points themselves on inputs that reach each reader's main paths:
// the sample photographs and the crafted edge inputs kept with the findings.
TEST(FuzzEntryPoints, SamplePhotographs_RunThroughAllEntryPoints)
{
    int files = 0;
    for (const char* folder : {"exif", "tiff"}) {
        const std::filesystem::path dir = std::filesystem::path(LUMIVANE_SAMPLES_DIR) / folder;
        for (const auto& item : std::filesystem::directory_iterator(dir)) {
            SCOPED_TRACE(item.path().filename().string());
            const std::string bytes = ReadAll(item.path());
            const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
            EXPECT_NO_THROW(fuzz::RunJpeg(data, bytes.size()));
            EXPECT_NO_THROW(fuzz::RunTiff(data, bytes.size()));
            EXPECT_NO_THROW(fuzz::RunIptc(data, bytes.size()));
            EXPECT_NO_THROW(fuzz::RunTransplant(data, bytes.size()));
            ++files;
        }
    }
    EXPECT_GT(files, 40);
}

// The picture harnesses on every sample picture, each through the reader of
// its kind and the two others (which must refuse it cleanly).
TEST(FuzzEntryPoints, SamplePictures_RunThroughThePictureEntryPoints)
{
    fuzz::LimitMemoryForFuzzing();
    int files = 0;
    for (const auto& item : std::filesystem::recursive_directory_iterator(LUMIVANE_SAMPLES_DIR)) {
        if (!item.is_regular_file() || item.path().extension() == ".png")
            continue;
        SCOPED_TRACE(item.path().string());
        const std::string bytes = ReadAll(item.path());
        const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
        EXPECT_NO_THROW(fuzz::RunBmp(data, bytes.size()));
        EXPECT_NO_THROW(fuzz::RunJpegDecode(data, bytes.size()));
        EXPECT_NO_THROW(fuzz::RunTiffRead(data, bytes.size()));
        ++files;
    }
    EXPECT_GT(files, 140);
}

}  // namespace
}  // namespace lumivane
