// SPDX-License-Identifier: GPL-3.0-or-later
// Every writer of the program under a full disk, an I/O error and a short
// write at each step of the one file writer: the error names the file,
// nothing half-written or temporary remains, and an existing file is left
// exactly as it was.
#include "BmpCodec.h"
#include "CorrectionKernel.h"
#include "ExifTransplant.h"
#include "FileIO.h"
#include "JpegCodec.h"
#include "MaskFolder.h"
#include "SavePipeline.h"
#include "Settings.h"
#include "WriteFaults.h"
#include "TemporaryFolder.h"
#include "SyntheticPictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using namespace lumivane;
using lumivane::test_support::GradientPicture;
using lumivane::test_support::InjectedFault;
using lumivane::test_support::kWriteFaults;
using lumivane::test_support::WriteFault;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Writer {
    const char* name;
    const char* file;
    std::function<void(const std::string& path)> write;
};


} // namespace

TEST(WriteFaults, EveryWriter_AtEveryStep_KeepsTheEarlierFileAndLeavesNothingBehind)
{
    const lumivane::test_support::TemporaryFolder folder("lumivane-faults");
    const fs::path dir = folder.path();
    const Bitmap24 photo = GradientPicture(120, 80);
    Bitmap24 mask(120, 80);
    mask.fill(packColour(200, 190, 180));
    const std::string source = (dir / "IMG_1.JPG").string();
    {
        // A source with an EXIF-like APP1 section in front of the image data.
        Bytes head = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x10};
        head.resize(4 + 16, 'E');
        const Bytes jpeg = EncodeJpeg(photo, 80);
        head.insert(head.end(), jpeg.begin() + 2, jpeg.end());
        WriteFileAtomically(source, head);
    }
    SavePipeline pipeline;
    const CorrectionTargets targets{200, 190, 180};
    const std::vector<Writer> writers = {
        {"JPEG save with EXIF", "IMG_1.jpg",
         [&](const std::string& path) {
             pipeline.SaveCorrectedJpeg(photo, mask, CorrectionRegion{}, 10.0f, targets, {}, 90, source, path);
         }},
        {"batch JPEG save", "IMG_1.jpg",
         [&](const std::string& path) {
             pipeline.SaveCorrectedJpeg(photo, mask, CorrectionRegion{}, 10.0f, targets, {}, 90, source,
                                        OutputTarget::FirstFree([&](int n) { return n == 0 ? path + ".new" : path; }));
         }},
        {"BMP save", "IMG_1.bmp",
         [&](const std::string& path) {
             pipeline.SaveCorrectedBmp(photo, mask, CorrectionRegion{}, 10.0f, targets, {2, 2, 2, 2}, path);
         }},
        {"settings, full form", "defaults.ini",
         [](const std::string& path) { WriteFullSettings(path, 25, 40, 90, "/p/default_mask.bmp", 1, 2, 3, 4, 5); }},
        {"settings, short form", "defaults.ini",
         [](const std::string& path) { WriteShortSettings(path, 25, 40, 101); }},
        {"default mask", "default_mask.bmp", [&](const std::string& path) { WriteBmpFile(mask, path); }},
        {"mask folder settings", "masks.ini",
         [](const std::string& path) { WriteMaskSettingsFile(path, MaskSettings{"/p/masks", true}); }},
        {"EXIF transplant", "IMG_1.jpg",
         [&](const std::string& path) { WriteJpegWithExif(EncodeJpeg(photo, 80), source, path); }},
    };
    const std::string earlier = "the earlier file";
    for (const Writer& writer : writers)
        for (const WriteFault& fault : kWriteFaults) {
            SCOPED_TRACE(::testing::Message() << writer.name << ", " << fault.describe());
            const std::string path = (dir / writer.file).string();
            WriteFileAtomically(path, earlier.data(), earlier.size());
            {
                InjectedFault hook(fault, [&](const std::string& target) { return target != source; });
                try {
                    writer.write(path);
                    ADD_FAILURE() << "no error";
                } catch (const std::exception& e) {
                    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
                    EXPECT_NE(std::string(e.what()).find(std::strerror(fault.error)), std::string::npos) << e.what();
                }
            }
            const Bytes kept = ReadWholeFile(path);
            EXPECT_EQ(std::string(kept.begin(), kept.end()), earlier);
            std::vector<std::string> names;
            for (const auto& entry : fs::directory_iterator(dir))
                names.push_back(entry.path().filename().string());
            std::sort(names.begin(), names.end());
            std::vector<std::string> expected = {"IMG_1.JPG", writer.file};
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(names, expected);
            fs::remove(path);
            // Without the fault the same writer succeeds.
            writer.write(path);
            EXPECT_TRUE(fs::exists(path) || fs::exists(path + ".new"));
            fs::remove(path);
            fs::remove(path + ".new");
        }
}
