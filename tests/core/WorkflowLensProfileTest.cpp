// SPDX-License-Identifier: GPL-3.0-or-later
// The workflow with lens profiles: "Mask from lens profile" switches to the
// exact method and gives each photograph stepped to its own profile, a
// photograph without one keeps the mask it had, Store keeps the choice in
// lumivane.ini (not a rendered mask), and the mask folder falls back to the
// profile when that option is on.
#include "Workflow.h"

#include "BmpCodec.h"
#include "CameraExif.h"
#include "FileIO.h"
#include "ImageFile.h"
#include "LensProfile.h"
#include "ProgramSettings.h"
#include "CameraShotsFolder.h"
#include "FolderHost.h"
#include "SyntheticPictures.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

using namespace lumivane;
using lumivane::test_support::FlatPicture;
using lumivane::test_support::FolderHost;
using lumivane::testing::Camera;
namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 90;
constexpr int kHeight = 60;
const char* const kZoom = "EF24-105mm f/4L IS USM";

class WorkflowLensProfile : public ::testing::Test {
protected:
    void SetUp() override
    {
        wide_ = shot("wide.jpg", Camera("Canon", "Canon EOS 5D Mark II", 4, 24, kZoom));
        long_ = shot("long.jpg", Camera("Canon", "Canon EOS 5D Mark II", 8, 50, kZoom));
        bare_ = shot("bare.jpg", lumivane::testing::CameraExif{});
    }

    std::string shot(const std::string& name, const lumivane::testing::CameraExif& exif)
    {
        return folder_.Shot(name, FlatPicture(kWidth, kHeight, 150), exif);
    }
    std::string program() const { return folder_.Program(); }
    std::string ini() const { return program() + "/lumivane.ini"; }

    static Bitmap24 profileMask(const std::string& photo)
    {
        const ProfileLookup lookup = LensDatabase::Instance().Find(ReadLensFacts(photo));
        if (!lookup.profile)
            throw std::runtime_error(lookup.reason);
        return RenderProfileMask(*lookup.profile, kWidth, kHeight);
    }

    lumivane::test_support::CameraShotsFolder folder_{"lumivane-wflens"};
    const fs::path dir_ = folder_.path();
    std::string wide_, long_, bare_;
};

TEST_F(WorkflowLensProfile, MaskFromLensProfile_ExactMethod_EachPhotographItsOwn_NoneKeepsTheMask)
{
    Workflow flow(program());
    flow.ReadSettingsAtStart();
    ASSERT_EQ(flow.adjust().Mode.method, CorrectionMethod::Additive);
    flow.OpenList({wide_, long_, bare_});
    flow.UseLensProfile();
    EXPECT_EQ(flow.texts().Status, " Lens profile: exact correction used");
    EXPECT_TRUE(flow.LensProfileOn());
    EXPECT_EQ(flow.adjust().Mode.method, CorrectionMethod::Exact);
    EXPECT_TRUE(flow.mask().MaskLoaded);
    EXPECT_TRUE(flow.AdjustmentsEnabled());
    EXPECT_EQ(flow.texts().MaskLabel, "Lens profile");
    EXPECT_EQ(flow.texts().MaskLabelHint, " Canon EF 24-105mm f/4L IS USM, 24 mm, F4 ");
    EXPECT_TRUE(flow.MaskFull() == profileMask(wide_));
    // The choice and the method are kept for the next start.
    EXPECT_EQ(ReadProgramSettingsFile(ini()).mode.method, CorrectionMethod::Exact);

    struct Row {
        const char* status;
        const char* hint; // the profile of the mask in use
    } rows[] = {
        {" Showing long.jpg [2 of 3] with the lens profile of Canon EF 24-105mm f/4L IS USM, 50 mm, F8",
         " Canon EF 24-105mm f/4L IS USM, 50 mm, F8 "},
        // No EXIF: the mask of the photograph before stays.
        {" Showing bare.jpg [3 of 3]; No lens profile for unknown camera / unknown lens",
         " Canon EF 24-105mm f/4L IS USM, 50 mm, F8 "},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.status);
        flow.Step(+1);
        EXPECT_EQ(flow.texts().Status, r.status);
        EXPECT_EQ(flow.texts().MaskLabelHint, r.hint);
        EXPECT_EQ(flow.texts().MaskLabel, "Lens profile");
    }
    EXPECT_TRUE(flow.MaskFull() == profileMask(long_));

    // The additive method cannot correct a profile.
    flow.SetMode({CorrectionMethod::Additive, ColourOption::FalloffAndColour});
    EXPECT_EQ(flow.adjust().Mode.method, CorrectionMethod::Exact);
    EXPECT_EQ(flow.texts().Status, " A lens profile is corrected with the exact method only.");

    // A mask loaded by hand ends it: stepping keeps that mask.
    const std::string own = (dir_ / "own.bmp").string();
    WriteBmpFile(FlatPicture(kWidth, kHeight, 200), own);
    ASSERT_TRUE(flow.LoadMask(own));
    EXPECT_FALSE(flow.LensProfileOn());
    EXPECT_EQ(flow.texts().MaskLabel, "own.bmp");
    EXPECT_EQ(flow.texts().MaskLabelHint, "");
    EXPECT_TRUE(flow.ProfileInUse().empty());
    flow.Step(-1);
    EXPECT_EQ(flow.texts().MaskLabel, "own.bmp");
    EXPECT_EQ(flow.texts().Status, " Showing long.jpg [2 of 3]");
}

TEST_F(WorkflowLensProfile, PhotographWithoutAProfile_KeepsMaskAndMethod)
{
    Workflow flow(program());
    flow.ReadSettingsAtStart();
    const std::string noLens = shot("nolens.jpg", Camera("Canon", "Canon EOS 5D Mark II", 4, 24));
    flow.OpenList({bare_, noLens});
    const std::string own = (dir_ / "own.bmp").string();
    WriteBmpFile(FlatPicture(kWidth, kHeight, 200), own);
    ASSERT_TRUE(flow.LoadMask(own));
    flow.UseLensProfile();
    EXPECT_EQ(flow.texts().Status, " No lens profile for unknown camera / unknown lens");
    flow.Step(+1);
    flow.UseLensProfile();
    EXPECT_EQ(flow.texts().Status, " No lens profile for Canon EOS 5D Mark II / unknown lens");
    EXPECT_FALSE(flow.LensProfileOn());
    EXPECT_EQ(flow.texts().MaskLabel, "own.bmp");
    EXPECT_EQ(flow.adjust().Mode.method, CorrectionMethod::Additive);
    EXPECT_FALSE(fs::exists(ini()));
}

TEST_F(WorkflowLensProfile, StoreKeepsTheChoiceNotAMask_FreeForgetsIt)
{
    {
        Workflow flow(program());
        flow.ReadSettingsAtStart();
        flow.OpenList({wide_});
        flow.UseLensProfile();
        flow.StoreDefaults();
        EXPECT_TRUE(ReadProgramSettingsFile(ini()).lensProfile);
        EXPECT_FALSE(fs::exists(program() + "/default_mask.bmp"));
        EXPECT_TRUE(flow.session().FreeOffered);
    }
    {
        // The next start: the first photograph gets its profile.
        Workflow flow(program());
        EXPECT_TRUE(flow.ReadSettingsAtStart().empty());
        flow.OpenList({long_});
        EXPECT_TRUE(flow.mask().MaskLoaded);
        EXPECT_EQ(flow.texts().MaskLabel, "Lens profile");
        EXPECT_EQ(flow.ProfileInUse(), "Canon EF 24-105mm f/4L IS USM, 50 mm, F8");
        EXPECT_EQ(flow.adjust().Mode.method, CorrectionMethod::Exact);
        flow.FreeDefaults();
        EXPECT_FALSE(ReadProgramSettingsFile(ini()).lensProfile);
    }
    Workflow flow(program());
    flow.ReadSettingsAtStart();
    flow.OpenList({long_});
    EXPECT_FALSE(flow.mask().MaskLoaded);
}

TEST_F(WorkflowLensProfile, MaskFolderFallsBackToTheProfileWhenAsked)
{
    const std::string flat = (dir_ / "masks" / "flat.jpg").string();
    lumivane::testing::WriteCameraJpeg(flat, FlatPicture(kWidth, kHeight, 220), Camera("Canon", "EOS 5D", 8, 50));
    const std::string matched = shot("matched.jpg", Camera("Canon", "EOS 5D", 8, 50));

    Workflow flow(program());
    flow.ReadSettingsAtStart();
    flow.SetMaskFolder((dir_ / "masks").string());
    flow.OpenList({matched, wide_, bare_});
    flow.Step(+1);
    // Off by default: the mask in use stays.
    EXPECT_EQ(fs::path(flow.photos().LastMaskFile).filename(), "flat.jpg");
    EXPECT_TRUE(flow.ProfileInUse().empty());

    flow.SetProfileFallback(true);
    EXPECT_TRUE(ReadProgramSettingsFile(ini()).masks.profileFallback);
    EXPECT_EQ(flow.texts().MaskLabel, "Lens profile");
    EXPECT_EQ(flow.ProfileInUse(), "Canon EF 24-105mm f/4L IS USM, 24 mm, F4");
    EXPECT_TRUE(flow.MaskMatchingOn());

    flow.Step(+1);
    EXPECT_EQ(flow.texts().Status, " Showing bare.jpg [3 of 3]; No lens profile for unknown camera / unknown lens");
    flow.Step(-1);
    flow.Step(-1);
    EXPECT_EQ(flow.texts().MaskLabel, "flat.jpg");
    EXPECT_TRUE(flow.ProfileInUse().empty());

    // The batch chooses as showing does.
    const BatchMaskChooser choose = flow.FolderMaskChooser(nullptr, {}, {});
    EXPECT_EQ(choose(matched).name, "flat.jpg");
    const BatchMaskChoice profile = choose(wide_);
    EXPECT_EQ(profile.name, "lens profile (Canon EF 24-105mm f/4L IS USM, 24 mm, F4)");
    EXPECT_EQ(profile.method, CorrectionMethod::Exact);
    EXPECT_FALSE(choose(bare_).HasMask());
}

TEST_F(WorkflowLensProfile, SaveImages_EachPhotographItsProfile_TheOneWithoutReported)
{
    Workflow flow(program());
    flow.ReadSettingsAtStart();
    flow.OpenList({wide_, long_, bare_});
    flow.UseLensProfile();
    const std::string out = (dir_ / "out").string();
    fs::create_directories(out);
    FolderHost host(out);
    const SaveOutcome saved = flow.Save(host);
    ASSERT_EQ(saved.Results.size(), 3u);
    const struct {
        const char* mask;
        const char* error;
    } expected[] = {
        {"lens profile (Canon EF 24-105mm f/4L IS USM, 24 mm, F4)", ""},
        {"lens profile (Canon EF 24-105mm f/4L IS USM, 50 mm, F8)", ""},
        {"", "No lens profile for unknown camera / unknown lens"},
    };
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(saved.Results[i].Mask, expected[i].mask);
        EXPECT_EQ(saved.Results[i].Error, expected[i].error);
    }
    EXPECT_NE(saved.Failures.find("bare.jpg"), std::string::npos) << saved.Failures;
    // The closing line says which photographs got their profile.
    EXPECT_EQ(flow.texts().Status, "2 of 3 photographs saved to " + out + " (lens profile: wide.jpg, long.jpg)");
    // The grey photograph was corrected: its corners are lifted.
    Bitmap24 written;
    ASSERT_TRUE(DecodeBySuffix(saved.Results[1].Written, written, JpegSmoothing::Off));
    Bitmap24 source;
    ASSERT_TRUE(DecodeBySuffix(long_, source, JpegSmoothing::Off));
    EXPECT_GT(written.scanLine(0)[0], source.scanLine(0)[0]);
}

} // namespace
