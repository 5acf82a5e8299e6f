// SPDX-License-Identifier: GPL-3.0-or-later
// The workflow with a mask folder: each photograph shown gets its own mask,
// the status line names it or says that none matches, a mask loaded by hand
// or "no folder" turns matching off, lumivane.ini keeps the choice, and every
// mask loaded is checked.
#include "Workflow.h"

#include "BmpCodec.h"
#include "CameraExif.h"
#include "FileIO.h"
#include "FolderMaskChooser.h"
#include "ProgramSettings.h"
#include "CameraShotsFolder.h"
#include "FolderHost.h"
#include "SyntheticPictures.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <unistd.h>

using namespace lumivane;
using lumivane::test_support::GreyFalloffMask;
using lumivane::test_support::GradientPicture;
using lumivane::test_support::FolderHost;
using lumivane::testing::Camera;
namespace fs = std::filesystem;

namespace {

class WorkflowMasks : public ::testing::Test {
protected:
    void SetUp() override
    {
        mask("f4.jpg", Camera("Canon", "EOS 5D", 4, 50), 200);
        mask("f8.jpg", Camera("Canon", "EOS 5D", 8, 50), 180);
        mask("f16.jpg", Camera("Canon", "EOS 5D", 16, 50), 160);
        photos_ = {shot("a.jpg", Camera("Canon", "EOS 5D", 4, 50)), shot("b.jpg", Camera("Canon", "EOS 5D", 8, 50)),
                   shot("c.jpg", Camera("Canon", "EOS 5D", 16, 50)),
                   shot("other.jpg", Camera("NIKON", "D700", 5.6, 35))};
    }

    void mask(const std::string& name, const lumivane::testing::CameraExif& exif, int centre)
    {
        folder_.Shot("masks/" + name, GreyFalloffMask(48, 32, centre), exif);
    }
    std::string shot(const std::string& name, const lumivane::testing::CameraExif& exif)
    {
        return folder_.Shot(name, GradientPicture(48, 32), exif);
    }
    std::string program() const { return folder_.Program(); }
    std::string masks() const { return folder_.Masks(); }
    std::string maskName(const Workflow& flow) const { return fs::path(flow.photos().LastMaskFile).filename(); }

    lumivane::test_support::CameraShotsFolder folder_{"lumivane-wfmasks"};
    const fs::path dir_ = folder_.path();
    std::vector<std::string> photos_;
};

TEST_F(WorkflowMasks, SteppingPicksEachPhotographsMask)
{
    Workflow flow(program());
    flow.ReadSettingsAtStart();
    flow.SetMaskFolder(masks());
    flow.OpenList(photos_);
    struct Row {
        const char* mask;
        const char* status;
        int hotspot; // the centre level sampled from the mask chosen
    } rows[] = {
        {"f4.jpg", " Showing a.jpg [1 of 4] with mask f4.jpg", 200},
        {"f8.jpg", " Showing b.jpg [2 of 4] with mask f8.jpg", 180},
        {"f16.jpg", " Showing c.jpg [3 of 4] with mask f16.jpg", 160},
        // Nothing matches: the mask in use stays.
        {"f16.jpg", " Showing other.jpg [4 of 4]; no mask of the folder matches NIKON D700, F5.6, 35 mm.", 160},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.mask);
        EXPECT_TRUE(flow.mask().MaskLoaded);
        EXPECT_EQ(maskName(flow), r.mask);
        EXPECT_EQ(flow.texts().Status, r.status);
        EXPECT_NEAR(flow.mask().HotspotR, r.hotspot, 2);
        EXPECT_EQ(flow.mask().MaskAngle, 0);
        flow.Step(+1);
    }
    // Back to the first: its mask again.
    flow.Step(-1);
    flow.Step(-1);
    flow.Step(-1);
    EXPECT_EQ(maskName(flow), "f4.jpg");
}

TEST_F(WorkflowMasks, OffsetStaysAndTheMaskIsFittedToEachPhotograph)
{
    Workflow flow(program());
    flow.ReadSettingsAtStart();
    flow.SetMaskFolder(masks());
    flow.OpenList(photos_);
    flow.ShiftHorizontal(160);
    flow.Step(+1);
    EXPECT_EQ(flow.session().OffsetX, 10);
    EXPECT_EQ(flow.MaskFull().width(), 48);
    EXPECT_EQ(flow.MaskFull().height(), 32);
    EXPECT_EQ(redOf(flow.MaskFull().pixel(24, 16)), redOf(GreyFalloffMask(48, 32, 180).pixel(24, 16)));
}

TEST_F(WorkflowMasks, ManualLoadAndNoFolderTurnMatchingOff)
{
    {
        Workflow flow(program());
        flow.ReadSettingsAtStart();
        flow.SetMaskFolder(masks());
        flow.OpenList(photos_);
        EXPECT_EQ(ReadProgramSettingsFile(program() + "/lumivane.ini").masks.folder, masks());
        // A mask picked by hand: matching is off and stays off at the next start.
        const std::string own = (dir_ / "own.bmp").string();
        WriteBmpFile(GreyFalloffMask(48, 32, 120), own);
        ASSERT_TRUE(flow.MaskNeedsDialog());
        EXPECT_TRUE(flow.LoadMask(own));
        EXPECT_FALSE(flow.MaskMatchingOn());
        flow.Step(+1);
        EXPECT_EQ(maskName(flow), "own.bmp");
        EXPECT_EQ(flow.texts().Status, " Showing b.jpg [2 of 4]");
    }
    {
        Workflow flow(program());
        flow.ReadSettingsAtStart();
        EXPECT_FALSE(flow.MaskMatchingOn());
        flow.SetMaskFolder(masks());
        flow.SetMaskFolder(std::string());
        EXPECT_EQ(ReadProgramSettingsFile(program() + "/lumivane.ini").masks.folder, "");
    }
}

TEST_F(WorkflowMasks, FolderKeptForTheNextStartAndDefaultMaskUnused)
{
    {
        Workflow flow(program());
        flow.ReadSettingsAtStart();
        flow.SetMaskFolder(masks());
        flow.SetSmoothMask(true);
    }
    // A stored default mask as well: while the folder is set it is not used.
    const std::string stored = program() + "/default_mask.bmp";
    WriteBmpFile(GreyFalloffMask(48, 32, 90), stored);
    const std::string ini = "25\r\n0\r\n90\r\n" + stored + "\r\n";
    WriteFileAtomically(program() + "/defaults.ini", ini.data(), ini.size());
    const std::string before = ini;

    Workflow flow(program());
    EXPECT_TRUE(flow.ReadSettingsAtStart().empty());
    EXPECT_EQ(flow.maskSettings(), (MaskSettings{masks(), true}));
    flow.OpenList({photos_[1]});
    EXPECT_EQ(maskName(flow), "f8.jpg");
    // The stored sliders were applied by that first load, as for a default mask.
    EXPECT_EQ(flow.photos().FirstMaskPending, 0);
    const std::vector<std::uint8_t> now = ReadWholeFile(program() + "/defaults.ini");
    EXPECT_EQ(std::string(now.begin(), now.end()), before);
}

TEST_F(WorkflowMasks, LoadedMasksAreCheckedAndSmoothingIsApplied)
{
    // A mask too dark to use, with coarse texture.
    Bitmap24 dark = GreyFalloffMask(48, 32, 50);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 48; ++x)
            if ((x / 2 + y / 2) % 2)
                dark.setPixel(x, y, packColour(20, 20, 20));
    const std::string darkPath = (dir_ / "dark.bmp").string();
    WriteBmpFile(dark, darkPath);

    Workflow flow(program());
    flow.ReadSettingsAtStart();
    flow.OpenList({photos_[0]});
    EXPECT_TRUE(flow.LoadMask(darkPath));
    EXPECT_TRUE(flow.maskQuality().Has(MaskFinding::Kind::TooDark));
    EXPECT_TRUE(flow.maskQuality().Has(MaskFinding::Kind::Texture));
    EXPECT_TRUE(flow.texts().MaskCheckWarning);
    EXPECT_EQ(flow.texts().MaskCheck, "Mask: 2 findings");
    EXPECT_NE(flow.texts().Status.find(" Mask check: Too dark"), std::string::npos) << flow.texts().Status;

    flow.SetSmoothMask(true);
    EXPECT_FALSE(flow.maskQuality().Has(MaskFinding::Kind::Texture));
    EXPECT_EQ(flow.mask().MaskImage, SmoothMask(dark));
    flow.SetSmoothMask(false);
    EXPECT_EQ(flow.mask().MaskImage, dark);

    flow.LoadMask((dir_ / "masks" / "f4.jpg").string());
    EXPECT_FALSE(flow.texts().MaskCheckWarning);
    EXPECT_EQ(flow.texts().MaskCheck, "Mask: good");
}

// A mask loaded by hand must not stand in for the photograph: choosing a
// mask folder afterwards names the photograph and reads its camera facts.
TEST_F(WorkflowMasks, FolderChosenAfterAHandLoadedMask_MatchesThePhotograph)
{
    struct Row {
        const char* name;
        bool defaultMask; // the mask comes with the first photograph from defaults.ini
    };
    for (const Row row : {Row{"mask loaded by hand", false}, Row{"stored default mask", true}}) {
        SCOPED_TRACE(row.name);
        fs::remove_all(program());
        fs::create_directories(program());
        // The mask carries other camera facts (F16) than the photograph (F4).
        const std::string handMask = masks() + "/f16.jpg";
        if (row.defaultMask) {
            const std::string ini = "25\r\n0\r\n90\r\n" + handMask + "\r\n";
            WriteFileAtomically(program() + "/defaults.ini", ini.data(), ini.size());
        }
        Workflow flow(program());
        flow.ReadSettingsAtStart();
        flow.OpenList({photos_[0]});
        if (!row.defaultMask) {
            ASSERT_TRUE(flow.LoadMask(handMask));
        }
        ASSERT_EQ(maskName(flow), "f16.jpg");
        flow.SetMaskFolder(masks());
        EXPECT_EQ(flow.texts().Status, " Showing a.jpg with mask f4.jpg");
        EXPECT_EQ(maskName(flow), "f4.jpg");
    }
}

// While the hotspot panel is open its picture, levels and cover belong to
// the mask in use: "Smooth mask" and the folder's mask for the next
// photograph are refused until OK, and OK keeps the hotspot picked.
TEST_F(WorkflowMasks, OpenHotspotPanel_KeepsItsMaskUntilOk)
{
    Workflow flow(program());
    flow.ReadSettingsAtStart();
    flow.SetMaskFolder(masks());
    flow.OpenList(photos_);
    ASSERT_EQ(maskName(flow), "f4.jpg");
    const Bitmap24 maskInUse = flow.mask().MaskImage;

    enum class Change { Smoothing, NextPhotograph };
    for (const Change change : {Change::Smoothing, Change::NextPhotograph}) {
        SCOPED_TRACE(change == Change::Smoothing ? "smoothing" : "next photograph");
        flow.OpenPanel();
        // A corner point each time, so each pick changes the levels.
        const int x = change == Change::Smoothing ? 40 : 290;
        const int y = change == Change::Smoothing ? 200 : 20;
        flow.PointAt(x, y);
        flow.PickHotspot();
        const Colour picked = flow.panel().PanelMask.pixel(x, y);
        ASSERT_NE(redOf(picked), flow.mask().HotspotR);
        if (change == Change::Smoothing) {
            flow.SetSmoothMask(true);
            EXPECT_FALSE(flow.maskSettings().smooth);
            EXPECT_EQ(flow.texts().Status, " Close the hotspot panel with OK before changing \"Smooth mask\".");
        } else {
            flow.Step(+1);
            EXPECT_EQ(flow.texts().Status, " Showing b.jpg [2 of 4]; the mask stays while the hotspot panel is open.");
        }
        EXPECT_EQ(maskName(flow), "f4.jpg");
        EXPECT_EQ(flow.mask().MaskImage, maskInUse);
        EXPECT_TRUE(flow.texts().CoverVisible);
        flow.ClosePanel();
        EXPECT_FALSE(flow.texts().CoverVisible);
        EXPECT_EQ(flow.mask().HotspotX, x);
        EXPECT_EQ(flow.mask().HotspotY, y);
        EXPECT_EQ(flow.mask().HotspotR, redOf(picked));
    }
    // After OK both work again.
    flow.SetSmoothMask(true);
    EXPECT_TRUE(flow.maskSettings().smooth);
    flow.Step(+1);
    EXPECT_EQ(maskName(flow), "f16.jpg");
}

TEST_F(WorkflowMasks, UnwritableMasksIniRaisesButTheChoiceHolds)
{
    Workflow flow(program());
    flow.ReadSettingsAtStart();
    flow.OpenList({photos_[2]});
    {
        const ScopedFileFault full([](FileStep step, const std::string& path, std::size_t&) {
            return step == FileStep::Write && path.find("lumivane.ini") != std::string::npos ? ENOSPC : 0;
        });
        EXPECT_THROW(flow.SetMaskFolder(masks()), FileError);
    }
    EXPECT_TRUE(flow.MaskMatchingOn());
    EXPECT_EQ(maskName(flow), "f16.jpg");
    EXPECT_FALSE(fs::exists(program() + "/lumivane.ini"));
    // A damaged lumivane.ini is read as far as it makes sense.
    const std::string junk = "\xff\x01mask_folder\nsmooth_mask=2\nmask_folder=" + masks() + "\n";
    WriteFileAtomically(program() + "/lumivane.ini", junk.data(), junk.size());
    Workflow again(program());
    EXPECT_TRUE(again.ReadSettingsAtStart().empty());
    EXPECT_EQ(again.maskSettings(), (MaskSettings{masks(), false}));
}

TEST_F(WorkflowMasks, BatchChooserPicksAsShowingWould)
{
    Workflow flow(program());
    flow.ReadSettingsAtStart();
    flow.SetMaskFolder(masks());
    flow.OpenList(photos_);
    auto inUse = std::make_shared<const Bitmap24>(flow.mask().MaskImage);
    const BatchMaskChooser choose = flow.FolderMaskChooser(inUse, {11, 22, 33});
    const char* expected[] = {"f4.jpg", "f8.jpg", "f16.jpg", "f4.jpg"};
    for (std::size_t i = 0; i < photos_.size(); ++i) {
        SCOPED_TRACE(photos_[i]);
        const BatchMaskChoice choice = choose(photos_[i]);
        ASSERT_TRUE(choice.mask);
        EXPECT_EQ(choice.name, expected[i]);
        // Folder masks have their levels sampled on the fitted mask; the mask
        // in use keeps its levels.
        EXPECT_EQ(choice.levels.has_value(), i == 3);
        if (i == 3) {
            EXPECT_EQ(choice.mask, inUse);
            EXPECT_EQ(choice.levels->g, 22);
        } else {
            EXPECT_EQ(*choice.mask, DecodeMaskFile(masks() + "/" + expected[i], false));
        }
    }
    EXPECT_FALSE(flow.FolderMaskChooser(nullptr, {})(photos_[3]).mask);
}

// Writes a mask whose EXIF head names the camera but whose picture cannot be
// decoded: the frame header's height and width are zero.
void writeUndecodableMask(const std::string& path, const lumivane::testing::CameraExif& exif)
{
    lumivane::testing::WriteCameraJpeg(path, GreyFalloffMask(48, 32, 190), exif);
    std::vector<std::uint8_t> bytes = ReadWholeFile(path);
    for (std::size_t i = 0; i + 9 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && (bytes[i + 1] == 0xC0 || bytes[i + 1] == 0xC2)) {
            // FF C0, length (2), precision (1), height (2), width (2)
            bytes[i + 5] = bytes[i + 6] = bytes[i + 7] = bytes[i + 8] = 0;
            break;
        }
    WriteFileAtomically(path, bytes.data(), bytes.size());
}

TEST_F(WorkflowMasks, UnreadableMatch_SkippedWithAWarningAndTheNextUsed_AlikeOnScreenAndInTheBatch)
{
    // Same camera and aperture as f4.jpg and newer, so it ranks first.
    const std::string broken = masks() + "/f4_new.jpg";
    writeUndecodableMask(broken, Camera("Canon", "EOS 5D", 4, 50));
    lumivane::testing::SetModified(masks() + "/f4.jpg", 1000000000);
    lumivane::testing::SetModified(broken, 1600000000);
    // The only mask of this camera cannot be read.
    writeUndecodableMask(masks() + "/pentax.jpg", Camera("PENTAX", "K-1", 4, 50));
    const std::string pentax = shot("pentax_photo.jpg", Camera("PENTAX", "K-1", 4, 50));

    Workflow flow(program());
    flow.ReadSettingsAtStart();
    flow.SetMaskFolder(masks());
    flow.OpenList({photos_[0], pentax});
    EXPECT_EQ(maskName(flow), "f4.jpg");
    EXPECT_NE(flow.texts().Status.find("warning: mask " + broken + " cannot be read"), std::string::npos)
        << flow.texts().Status;
    EXPECT_NE(flow.texts().Status.find(" with mask f4.jpg"), std::string::npos) << flow.texts().Status;

    flow.Step(1);
    // No usable match: reported, and the mask in use stays on screen.
    EXPECT_EQ(maskName(flow), "f4.jpg");
    EXPECT_NE(flow.texts().Status.find("no mask of the folder that matches PENTAX K-1, F4, 50 mm can be read"),
              std::string::npos)
        << flow.texts().Status;

    std::vector<std::string> warnings;
    auto inUse = std::make_shared<const Bitmap24>(flow.mask().MaskImage);
    const BatchMaskChooser choose = flow.FolderMaskChooser(inUse, {11, 22, 33});
    const BatchMaskChoice first = choose(photos_[0]);
    ASSERT_TRUE(first.mask);
    EXPECT_EQ(first.name, "f4.jpg");
    // The batch skips the photograph whose matches all fail, although a mask
    // is in use: that mask belongs to another camera.
    const BatchMaskChoice none = choose(pentax);
    EXPECT_FALSE(none.mask);
    EXPECT_NE(none.reason.find("can be read"), std::string::npos) << none.reason;
    // A photograph that matches nothing still gets the mask in use.
    EXPECT_EQ(choose(photos_[3]).mask, inUse);

    // The same rule through MakeFolderMaskChooser, with its warnings heard.
    MaskFolder folder;
    folder.SetFolder(masks());
    folder.Scan();
    DecodedMasks decoded([](const std::string& path) { return DecodeMaskFile(path, false); });
    FolderChooserOptions options;
    options.warn = [&](const std::string& w) { warnings.push_back(w); };
    const BatchMaskChooser cli = MakeFolderMaskChooser(folder.Candidates(), decoded, options);
    EXPECT_EQ(cli(photos_[0]).name, "f4.jpg");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].rfind("mask " + broken + " cannot be read", 0), 0u) << warnings[0];
    EXPECT_EQ(cli(photos_[3]).reason, "no mask of the folder matches NIKON D700, F5.6, 35 mm");

    // "Save Images" says once which mask it skipped, and skips the photograph
    // that has no usable mask.
    const std::string out = (dir_ / "out").string();
    fs::create_directories(out);
    FolderHost host(out);
    const SaveOutcome saved = flow.Save(host);
    ASSERT_EQ(saved.Results.size(), 2u);
    const std::string brokenWarning = "Warning: " + warnings[0];
    const std::string pentaxWarning = "Warning: mask " + masks() + "/pentax.jpg cannot be read";
    EXPECT_NE(saved.Warnings.find(brokenWarning), std::string::npos) << saved.Warnings;
    EXPECT_EQ(saved.Warnings.find(brokenWarning), saved.Warnings.rfind(brokenWarning)) << saved.Warnings;
    EXPECT_NE(saved.Warnings.find(pentaxWarning), std::string::npos) << saved.Warnings;
    std::size_t written = 0;
    for (const PhotoResult& r : saved.Results)
        written += r.Error.empty();
    EXPECT_EQ(written, 1u);
    EXPECT_NE(saved.Failures.find("pentax_photo.jpg"), std::string::npos) << saved.Failures;
}

TEST_F(WorkflowMasks, SaveImages_EachPhotographWithItsMask)
{
    Workflow flow(program());
    flow.ReadSettingsAtStart();
    flow.SetMaskFolder(masks());
    flow.OpenList(photos_);
    flow.SetSliders(25, 60);
    const std::string out = (dir_ / "out").string();
    fs::create_directories(out);
    FolderHost host(out);
    const SaveOutcome saved = flow.Save(host);
    ASSERT_EQ(saved.Results.size(), photos_.size());

    // Each file is what a batch of that photograph alone with its mask writes;
    // the photograph no mask matches got the mask in use (f4.jpg, the first).
    const char* expected[] = {"f4.jpg", "f8.jpg", "f16.jpg", "f4.jpg"};
    for (std::size_t i = 0; i < photos_.size(); ++i) {
        SCOPED_TRACE(photos_[i]);
        ASSERT_TRUE(saved.Results[i].Error.empty()) << saved.Results[i].Error;
        const Bitmap24 m = DecodeMaskFile(masks() + "/" + expected[i], false);
        BatchSettings alone;
        alone.mask = &m;
        if (i == 3)
            alone.levels = SampleCentreLevels(m);
        alone.strength = 60;
        alone.folder = (dir_ / ("alone" + std::to_string(i))).string();
        fs::create_directories(alone.folder);
        const auto one = RunBatch({photos_[i]}, alone, 1);
        ASSERT_EQ(one[0].outcome, BatchPhotoResult::Outcome::Written);
        EXPECT_EQ(ReadWholeFile(saved.Results[i].Written), ReadWholeFile(one[0].written));
    }
}

} // namespace
