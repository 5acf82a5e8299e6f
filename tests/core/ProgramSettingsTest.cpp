// SPDX-License-Identifier: GPL-3.0-or-later
// lumivane.ini: the method, the colour option and the mask settings, kept
// beside defaults.ini and read back at the next start; a file without
// them, or none at all, means the additive method; a masks.ini of an
// earlier version is taken over once.
#include "ProgramSettings.h"

#include "BmpCodec.h"
#include "FileIO.h"
#include "TestFiles.h"
#include "Workflow.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace lumivane;
using lumivane::testfiles::TemporaryFolder;
namespace fs = std::filesystem;

namespace {

constexpr CorrectionMode kAdditive{CorrectionMethod::Additive, ColourOption::FalloffAndColour};

void writeText(const std::string& path, const std::string& text)
{
    WriteFileAtomically(path, text.data(), text.size());
}

std::string readText(const std::string& path)
{
    const std::vector<std::uint8_t> bytes = ReadWholeFile(path);
    return std::string(bytes.begin(), bytes.end());
}

TEST(ProgramSettingsFile, ParsesGoodLinesIgnoresBadValuesAndKeepsUnknownKeys)
{
    struct Row {
        std::string bytes;
        CorrectionMode mode;
        MaskSettings masks;
        std::vector<std::string> other;
    } rows[] = {
        {"", kAdditive, {}, {}},
        {"method=exact\r\ncolour=falloff\r\n", {CorrectionMethod::Exact, ColourOption::FalloffOnly}, {}, {}},
        {"colour=colour\nmethod=exact", {CorrectionMethod::Exact, ColourOption::ColourOnly}, {}, {}},
        // Words of another spelling or case are not ours: ignored.
        {"method=Exact\rcolour=color\r", kAdditive, {}, {}},
        {"mask_folder=/a b/c=d\nsmooth_mask=1\n", kAdditive, {"/a b/c=d", true}, {}},
        {"smooth_mask=yes\nmask_folder=/m\n", kAdditive, {"/m", false}, {}},
        {std::string("mask_folder=/a\0b\nsmooth_mask=1\n", 30), kAdditive, {"", true}, {}},
        // masks.ini's own keys are not lumivane.ini's: kept as unknown lines.
        {"folder=/old\nfuture_key=7\njunk\n=x\n", kAdditive, {}, {"folder=/old", "future_key=7"}},
        {"method=exact\nmethod=additive\n", kAdditive, {}, {}}, // the last line wins
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.bytes);
        const ProgramSettings read = ParseProgramSettings(r.bytes);
        EXPECT_EQ(read.mode, r.mode);
        EXPECT_EQ(read.masks, r.masks);
        EXPECT_EQ(read.otherLines, r.other);
        // Written again, it reads back the same.
        EXPECT_EQ(ParseProgramSettings(ProgramSettingsText(read)), read);
    }
    std::string noise;
    for (int i = 0; i < 4096; ++i)
        noise.push_back(char((i * 131 + 7) % 256));
    const ProgramSettings fromNoise = ParseProgramSettings(noise);
    EXPECT_EQ(ParseProgramSettings(ProgramSettingsText(fromNoise)), fromNoise);
}

TEST(ProgramSettingsFile, WrittenAllOrNothingAndReadBack)
{
    TemporaryFolder dir;
    const std::string path = ProgramSettingsPath(dir.path());
    EXPECT_EQ(ReadProgramSettingsFile(path), ProgramSettings{});
    const ProgramSettings settings{{CorrectionMethod::Exact, ColourOption::ColourOnly}, {"/home/me/masks", true},
                                   {"later=1"}};
    WriteProgramSettingsFile(path, settings);
    EXPECT_EQ(readText(path),
              "method=exact\r\ncolour=colour\r\nmask_folder=/home/me/masks\r\nsmooth_mask=1\r\nlater=1\r\n");
    EXPECT_EQ(ReadProgramSettingsFile(path), settings);
    // A folder name with a line break cannot be kept; the file stays.
    ProgramSettings broken = settings;
    broken.masks.folder = "/a\nmethod=additive";
    EXPECT_THROW(WriteProgramSettingsFile(path, broken), FileError);
    EXPECT_EQ(ReadProgramSettingsFile(path), settings);
}

TEST(ProgramSettingsFile, SaveImagesFormat_WrittenOnlyWhenTiff)
{
    const struct {
        const char* bytes;
        bool tiff;
    } rows[] = {{"save_images_format=tiff\n", true},
                {"save_images_format=slider\n", false},
                {"save_images_format=tiff\nsave_images_format=TIFF\n", true}, // not our spelling: ignored
                {"save_images_format=jpeg\n", false}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.bytes);
        const ProgramSettings read = ParseProgramSettings(r.bytes);
        EXPECT_EQ(read.saveImagesTiff, r.tiff);
        EXPECT_TRUE(read.otherLines.empty());
        EXPECT_EQ(ProgramSettingsText(read).find("save_images_format") != std::string::npos, r.tiff);
        EXPECT_EQ(ParseProgramSettings(ProgramSettingsText(read)), read);
    }
}

TEST(ProgramSettingsFile, MasksIniIsTakenOverOnceAtStart)
{
    TemporaryFolder dir;
    writeText(dir.path() + "/masks.ini", "folder=/old/masks\r\nsmooth=1\r\n");
    {
        Workflow flow(dir.path());
        EXPECT_TRUE(flow.ReadSettingsAtStart().empty());
        EXPECT_EQ(flow.maskSettings(), (MaskSettings{"/old/masks", true}));
        EXPECT_EQ(flow.adjust().Mode, kAdditive);
    }
    // lumivane.ini now holds them; masks.ini is not read again.
    EXPECT_EQ(ReadProgramSettingsFile(ProgramSettingsPath(dir.path())).masks, (MaskSettings{"/old/masks", true}));
    writeText(dir.path() + "/masks.ini", "folder=/changed\r\nsmooth=0\r\n");
    Workflow again(dir.path());
    again.ReadSettingsAtStart();
    EXPECT_EQ(again.maskSettings(), (MaskSettings{"/old/masks", true}));
}

TEST(ProgramSettingsFile, MethodStoredByTheMenuAndByStore_RestoredAtStart)
{
    TemporaryFolder dir;
    const std::string settings = dir.path() + "/settings";
    {
        Workflow flow(settings);
        flow.ReadSettingsAtStart();
        // No lumivane.ini: the additive method, the boost in use once a mask is.
        EXPECT_EQ(flow.adjust().Mode, kAdditive);
        flow.SetMode({CorrectionMethod::Exact, ColourOption::FalloffOnly});
        EXPECT_EQ(flow.texts().Status,
                  " Exact correction (fall-off only): the photograph is divided by the mask in linear light.");
        flow.SetMode({CorrectionMethod::Exact, ColourOption::ColourOnly});
        EXPECT_EQ(flow.texts().Status,
                  " Exact correction (colour only): the photograph is divided by the mask in linear light.");
    }
    EXPECT_EQ(ReadProgramSettingsFile(ProgramSettingsPath(settings)).mode,
              (CorrectionMode{CorrectionMethod::Exact, ColourOption::ColourOnly}));
    {
        Workflow flow(settings);
        EXPECT_TRUE(flow.ReadSettingsAtStart().empty());
        EXPECT_EQ(flow.adjust().Mode, (CorrectionMode{CorrectionMethod::Exact, ColourOption::ColourOnly}));
        flow.SetMode(kAdditive);
        EXPECT_EQ(flow.texts().Status, " Additive correction: the mask's shortfall is added, damped by the boost.");
    }
    // A file without the method's lines (a later key, the mask settings
    // only) means the additive method; its other lines survive a write.
    writeText(ProgramSettingsPath(settings), "mask_folder=\r\nsmooth_mask=0\r\nlater=x\r\n");
    Workflow flow(settings);
    EXPECT_TRUE(flow.ReadSettingsAtStart().empty());
    EXPECT_EQ(flow.adjust().Mode, kAdditive);
    // The boost is there for the additive method only.
    Bitmap24 picture(24, 16);
    picture.fill(packColour(120, 130, 140));
    WriteBmpFile(picture, dir.path() + "/photo.bmp");
    WriteBmpFile(picture, dir.path() + "/mask.bmp");
    flow.OpenList({dir.path() + "/photo.bmp"});
    ASSERT_TRUE(flow.LoadMask(dir.path() + "/mask.bmp"));
    EXPECT_TRUE(flow.BoostEnabled());
    flow.SetMode({CorrectionMethod::Exact, ColourOption::FalloffAndColour});
    EXPECT_FALSE(flow.BoostEnabled());
    EXPECT_TRUE(flow.AdjustmentsEnabled());
    EXPECT_EQ(readText(ProgramSettingsPath(settings)),
              "method=exact\r\ncolour=both\r\nmask_folder=\r\nsmooth_mask=0\r\nlater=x\r\n");
    // Store writes it too, beside defaults.ini, which keeps its own lines.
    fs::remove(ProgramSettingsPath(settings));
    flow.StoreDefaults();
    EXPECT_EQ(ReadProgramSettingsFile(ProgramSettingsPath(settings)).mode.method, CorrectionMethod::Exact);
    EXPECT_EQ(readText(settings + "/defaults.ini").find("exact"), std::string::npos);
}

} // namespace
