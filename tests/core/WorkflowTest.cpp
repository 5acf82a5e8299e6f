// SPDX-License-Identifier: GPL-3.0-or-later
// The workflow without a window: opening and stepping through a list,
// photographs that cannot be decoded, the mask before and after the
// photographs, saving one and many, and the stored defaults.
#include "Workflow.h"

#include "BitmapRotation.h"
#include "BmpCodec.h"
#include "CorrectionKernel.h"
#include "FileIO.h"
#include "HostileFiles.h"
#include "ImageFile.h"
#include "JpegCodec.h"
#include "MaskGeometry.h"
#include "Naming.h"
#include "WorkflowTestAccess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <fstream>
#include <set>
#include <thread>
#include <unistd.h>

using namespace lumivane;
namespace fs = std::filesystem;

namespace {

Bitmap24 gradient(int w, int h, int seed)
{
    Bitmap24 b(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b.setPixel(x, y, packColour(std::uint8_t(x * 7 + seed), std::uint8_t(y * 5 + 40 + seed),
                                        std::uint8_t((x + y) * 3 + 90)));
    return b;
}

Bitmap24 vignette(int w, int h)
{
    Bitmap24 b(w, h);
    const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0, maxD = cx * cx + cy * cy + 1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double f = 1.0 - 0.5 * ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / maxD;
            b.setPixel(x, y, packColour(std::uint8_t(200 * f), std::uint8_t(190 * f), std::uint8_t(180 * f)));
        }
    return b;
}

Bitmap24 decodeBmp(const std::string& path)
{
    TPicture picture;
    picture.LoadFromFile(path);
    return picture.Bitmap();
}

// Answers the save dialogs and records what the batch showed after each
// photograph.
class ScriptedHost : public WorkflowHost {
public:
    explicit ScriptedHost(Workflow& flow) : flow_(flow) {}
    std::uint32_t TickCount() override { return 4242; }
    std::string AskSavePath(const SaveDialogAnswerRequest& request) override
    {
        asked.push_back(request.FileName);
        return savePath;
    }
    bool ConfirmReplace(const std::string& path) override
    {
        replaceAsked.push_back(path);
        return replaceAnswer;
    }
    std::string AskOutputFolder() override
    {
        // The folder is asked while the batch holds the controls.
        lockedWhileAsked = flow_.session().BatchRunning && !flow_.NextEnabled() && !flow_.PreviousEnabled();
        return folder;
    }
    void BatchStarted() override { ++started; }
    void Progress(const WorkflowProgress& progress) override
    {
        seen.push_back({progress.Done, progress.Total, flow_.texts().ProgressText, flow_.texts().Status,
                        progress.Last ? progress.Last->Written : std::string(), flow_.session().BatchRunning,
                        flow_.photos().FileIndex, flow_.pictures().Original, flow_.pictures().Processed,
                        flow_.pictures().Thumbnail, flow_.texts().OriginalCaption, flow_.texts().ProcessedCaption});
        if (onProgress)
            onProgress(progress);
    }
    void KeepResponsive() override { ++waits; }

    struct Seen {
        int done, total;
        std::string progressText, status, written;
        bool running;
        int index;
        Bitmap24 original, processed, thumbnail;
        std::string originalCaption, processedCaption;
    };
    std::function<void(const WorkflowProgress&)> onProgress;
    int waits = 0;
    std::string savePath;
    std::string folder;
    std::vector<std::string> asked;
    std::vector<std::string> replaceAsked;
    bool replaceAnswer = false;
    std::vector<Seen> seen;
    int started = 0;
    bool lockedWhileAsked = false;

private:
    Workflow& flow_;
};

class WorkflowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "lumivane-workflow-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        fs::create_directories(dir / "program");
        fs::create_directories(dir / "out");
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    std::string bmp(const std::string& name, const Bitmap24& picture) const
    {
        const std::string path = (dir / name).string();
        WriteBmpFile(picture, path);
        return path;
    }
    std::string garbage(const std::string& name) const
    {
        const std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary) << "not a picture at all";
        return path;
    }
    std::string program() const { return (dir / "program").string(); }
    std::string out() const { return (dir / "out").string(); }
    std::set<std::string> outFiles() const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir / "out"))
            names.insert(entry.path().filename().string());
        return names;
    }

    fs::path dir;
};

// The preview the workflow must show, computed with the reference formula.
Bitmap24 expectedPreview(const Workflow& flow)
{
    Bitmap24 expected = flow.pictures().Original;
    const PreviewMargins margins = PreviewMarginsFor(flow.adjust().Left, flow.adjust().Right, flow.adjust().Top,
                                                     flow.adjust().Bottom, flow.PhotoFull().width(), flow.PhotoFull().height());
    ApplyCorrectionReference(expected, flow.mask().MaskPreview, PreviewRegion(flow.session().OffsetX, flow.session().OffsetY, margins),
                             DampingForStrength(flow.adjust().Strength),
                             TargetsFor(flow.mask().HotspotR, flow.mask().HotspotG, flow.mask().HotspotB,
                                        flow.adjust().Brightness));
    return expected;
}

TEST_F(WorkflowTest, OpenStepAndReloadFollowTheList)
{
    const std::vector<std::string> files = {bmp("a.bmp", gradient(40, 30, 0)), bmp("b.bmp", gradient(50, 20, 9)),
                                            bmp("c.bmp", gradient(33, 33, 17))};
    Workflow flow(program());
    flow.OpenList(files);
    EXPECT_EQ(flow.texts().SaveCaption, "&Save Images");
    EXPECT_EQ(flow.texts().ProgressMaximum, 3);
    EXPECT_EQ(flow.texts().OriginalCaption, " Original Image (40x30 pixels) [1:1.33]");
    EXPECT_EQ(flow.PhotoFull(), gradient(40, 30, 0));
    Bitmap24 stretched(kPreviewWidth, kPreviewHeight);
    stretchDraw(gradient(40, 30, 0), stretched);
    EXPECT_EQ(flow.pictures().Original, stretched);
    EXPECT_EQ(flow.pictures().Processed, stretched);

    // Each step: the direction, then the index, status, arrows and size shown.
    struct Case {
        int direction; // 0: reload
        int index;
        const char* status;
        bool previous, next;
        int width;
    };
    const Case steps[] = {
        {+1, 1, " Showing b.bmp [2 of 3]", true, true, 50},  {+1, 2, " Showing c.bmp [3 of 3]", true, false, 33},
        {+1, 2, " Showing c.bmp [3 of 3]", true, false, 33}, {-1, 1, " Showing b.bmp [2 of 3]", true, true, 50},
        {0, 1, " Showing b.bmp [2 of 3]", true, true, 50},   {-1, 0, " Showing a.bmp [1 of 3]", false, true, 40},
        {-1, 0, " Showing a.bmp [1 of 3]", false, true, 40},
    };
    for (const Case& c : steps) {
        if (c.direction == 0)
            flow.Reload();
        else
            flow.Step(c.direction);
        SCOPED_TRACE(c.status);
        EXPECT_EQ(flow.photos().FileIndex, c.index);
        EXPECT_EQ(flow.photos().SourceFile, files[std::size_t(c.index)]);
        EXPECT_EQ(flow.texts().PhotoHint, ' ' + files[std::size_t(c.index)] + ' ');
        EXPECT_EQ(flow.texts().Status, c.status);
        EXPECT_EQ(flow.PreviousEnabled(), c.previous);
        EXPECT_EQ(flow.NextEnabled(), c.next);
        EXPECT_EQ(flow.PhotoFull().width(), c.width);
    }

    // A cancelled open dialog shows the first photograph of the list again;
    // with no list it changes nothing.
    flow.Step(+1);
    flow.OpenList({});
    EXPECT_EQ(flow.photos().FileIndex, 0);
    EXPECT_EQ(flow.texts().Status, " Showing a.bmp [1 of 3]");
    Workflow empty(program());
    empty.OpenList({});
    EXPECT_EQ(empty.texts().Status, " Ready.");
    EXPECT_FALSE(empty.photos().PhotoPresent);

    // One photograph: the singular caption, no arrows, no reload.
    flow.OpenList({files[2]});
    EXPECT_EQ(flow.texts().SaveCaption, "&Save Image");
    EXPECT_FALSE(flow.PreviousEnabled() || flow.NextEnabled());
}

// A photograph whose file is damaged (a JPEG that ends early) is shown with
// the pixels its decoder made, and the status line says it is damaged while
// it is shown; "Save Images" writes it and names it in one closing message.
// A name with a control character reaches the status line escaped.
TEST_F(WorkflowTest, DamagedPhotographsAreShownSavedAndNamed)
{
    const std::vector<std::uint8_t> jpeg =
        lumivane::test_support::CutInItsLastScan(EncodeJpeg(gradient(40, 48, 0), 90));
    const std::string cut = (dir / "cut.jpg").string();
    WriteFileAtomically(cut, jpeg);
    const std::string good = bmp("good\x1b.bmp", gradient(40, 48, 5));
    const std::string maskFile = bmp("mask.bmp", vignette(40, 48));

    Workflow flow(program());
    flow.OpenList({cut, good});
    EXPECT_TRUE(flow.photos().DecodeOk);
    EXPECT_EQ(flow.texts().Status.find(" Showing cut.jpg [1 of 2], damaged: JPEG ends early: "), 0u)
        << flow.texts().Status;
    EXPECT_NE(flow.texts().Status.find(" of 48 rows"), std::string::npos) << flow.texts().Status;
    flow.Step(+1);
    EXPECT_EQ(flow.texts().Status, " Showing good\\x1b.bmp [2 of 2]");
    flow.Step(-1);
    ASSERT_TRUE(flow.LoadMask(maskFile));

    ScriptedHost host(flow);
    host.folder = out();
    const SaveOutcome batch = flow.Save(host);
    EXPECT_EQ(batch.Failures, "");
    EXPECT_EQ(batch.Damaged.find("1 photograph of 2 is damaged; saved as decoded:\n" + cut + ": JPEG ends early: "),
              0u)
        << batch.Damaged;
    ASSERT_EQ(batch.Results.size(), 2u);
    EXPECT_NE(batch.Results[0].Damage, "");
    EXPECT_EQ(batch.Results[1].Damage, "");
    EXPECT_EQ(outFiles(), (std::set<std::string>{"cut.jpg", "good\x1b.jpg"}));
}

TEST_F(WorkflowTest, APhotographThatCannotBeDecodedIsNeverSavedUnderItsName)
{
    const std::string good = bmp("good.bmp", gradient(40, 30, 0));
    const std::string bad = garbage("bad.bmp");
    const std::string maskFile = bmp("mask.bmp", vignette(40, 30));

    // The first photograph is unreadable: neutral previews, no mask load.
    Workflow flow(program());
    flow.OpenList({bad, good});
    EXPECT_FALSE(flow.photos().PhotoPresent);
    EXPECT_FALSE(flow.photos().DecodeOk);
    EXPECT_EQ(flow.texts().OriginalCaption, " Original Image (empty)");
    EXPECT_EQ(flow.pictures().Processed.pixel(10, 10), packColour(192, 192, 192));
    EXPECT_FALSE(flow.LoadMask(maskFile));
    EXPECT_EQ(flow.texts().Status, " Can not load mask mask.bmp: no photograph is shown.");
    EXPECT_FALSE(flow.mask().MaskLoaded);

    // After a readable one the shown pixels stay, but the save is refused.
    flow.Step(+1);
    ASSERT_TRUE(flow.LoadMask(maskFile));
    EXPECT_TRUE(flow.SaveEnabled());
    flow.Step(-1);
    EXPECT_TRUE(flow.photos().PhotoPresent);
    EXPECT_FALSE(flow.photos().DecodeOk);
    EXPECT_EQ(flow.PhotoFull(), gradient(40, 30, 0));
    ScriptedHost host(flow);
    host.folder = out();
    host.savePath = out() + "/single.jpg";
    // "Save Images" skips the unreadable photograph shown, as any other,
    // and names it at the end; the other is written.
    const SaveOutcome batch = flow.Save(host);
    EXPECT_EQ(batch.Refusal, "");
    EXPECT_EQ(batch.Failures.find("1 photograph of 2 could not be saved:\n" + bad + ": "), 0u) << batch.Failures;
    ASSERT_EQ(batch.Results.size(), 2u);
    EXPECT_EQ(batch.Results[0].Written, "");
    EXPECT_EQ(batch.Results[1].Written, out() + "/good.jpg");
    EXPECT_EQ(outFiles(), (std::set<std::string>{"good.jpg"}));
    // "Save Image" of that photograph alone is refused.
    flow.OpenList({bad});
    const SaveOutcome single = flow.Save(host);
    EXPECT_EQ(single.Refusal, "There is no photograph to save: " + bad + " could not be read.");
    EXPECT_TRUE(host.asked.empty());
    EXPECT_EQ(outFiles(), (std::set<std::string>{"good.jpg"}));

    // A TIFF that cannot be read empties the photograph instead; the list
    // is still saved.
    const std::string badTiff = garbage("bad.tif");
    flow.OpenList({good, badTiff});
    ASSERT_TRUE(flow.photos().PhotoPresent);
    flow.Step(+1);
    EXPECT_FALSE(flow.photos().PhotoPresent);
    EXPECT_TRUE(flow.PhotoFull().empty());
    EXPECT_EQ(flow.texts().ProcessedCaption, " Processed Image (empty)");
    EXPECT_TRUE(flow.SaveEnabled());
    fs::remove(out() + "/good.jpg");
    const SaveOutcome tiffBatch = flow.Save(host);
    EXPECT_EQ(tiffBatch.Refusal, "");
    ASSERT_EQ(tiffBatch.Results.size(), 2u);
    EXPECT_EQ(tiffBatch.Results[0].Source, badTiff);
    EXPECT_NE(tiffBatch.Results[0].Error, "");
    EXPECT_EQ(outFiles(), (std::set<std::string>{"good.jpg"}));
    // The batch ends showing the unreadable TIFF again, with nothing to save alone.
    EXPECT_EQ(flow.photos().SourceFile, badTiff);
    EXPECT_FALSE(flow.photos().PhotoPresent);
}

TEST_F(WorkflowTest, AMaskChosenBeforeThePhotographsIsLoadedWithTheFirst)
{
    const Bitmap24 maskPicture = vignette(64, 48);
    const std::string maskFile = bmp("flat.bmp", maskPicture);
    const std::string photo = bmp("p.bmp", gradient(80, 60, 3));

    Workflow before(program());
    ASSERT_TRUE(before.MaskNeedsDialog());
    before.LoadMask(maskFile);
    EXPECT_FALSE(before.mask().MaskLoaded);
    EXPECT_EQ(before.photos().MaskFile, maskFile);
    EXPECT_EQ(before.texts().MaskLabel, "flat.bmp");
    Bitmap24 thumbnail(kThumbnailWidth, kThumbnailHeight);
    stretchDraw(maskPicture, thumbnail);
    EXPECT_EQ(before.pictures().Thumbnail, thumbnail);
    EXPECT_FALSE(before.MaskNeedsDialog() && before.photos().Files.size() > 0);
    before.OpenList({photo});

    Workflow after(program());
    after.OpenList({photo});
    EXPECT_FALSE(after.mask().MaskLoaded);
    EXPECT_FALSE(after.SaveEnabled());
    ASSERT_TRUE(after.MaskNeedsDialog());
    ASSERT_TRUE(after.LoadMask(maskFile));

    for (Workflow* flow : {&before, &after}) {
        EXPECT_TRUE(flow->mask().MaskLoaded);
        EXPECT_EQ(flow->photos().FirstMaskPending, 0);
        EXPECT_TRUE(flow->MaskNeedsDialog());
        EXPECT_EQ(flow->MaskFull().width(), 80);
        EXPECT_EQ(flow->MaskFull().height(), 60);
        EXPECT_EQ(flow->photos().LastMaskFile, maskFile);
        EXPECT_EQ(flow->texts().MaskCaption, " Mask [1:1.33] ");
        EXPECT_FALSE(flow->texts().MaskRatioWarning);
        EXPECT_FALSE(flow->texts().CoverVisible);
        EXPECT_TRUE(flow->SaveEnabled());
        EXPECT_TRUE(flow->AdjustmentsEnabled());
        EXPECT_EQ(flow->texts().ProcessedCaption, " Processed Image (80x60 pixels) [1:1.33]");
        EXPECT_EQ(flow->pictures().Processed, expectedPreview(*flow));
        EXPECT_NE(flow->pictures().Processed, flow->pictures().Original);
    }
    EXPECT_EQ(before.mask().HotspotR, after.mask().HotspotR);

    // A mask of another ratio turns the caption red; one that cannot be read
    // leaves the loaded mask as it was.
    after.LoadMask(bmp("wide.bmp", vignette(90, 30)));
    EXPECT_EQ(after.texts().MaskCaption, " Mask [1:3] ");
    EXPECT_TRUE(after.texts().MaskRatioWarning);
    EXPECT_FALSE(after.LoadMask(garbage("broken.bmp")));
    EXPECT_EQ(after.texts().Status, " Can not load mask broken.bmp (not a readable JPEG, BMP or TIFF file).");
    EXPECT_EQ(after.mask().MaskWidth, 90);
}

TEST_F(WorkflowTest, PreviewFollowsSlidersCropOffsetAndTurns)
{
    Workflow flow(program());
    flow.OpenList({bmp("p.bmp", gradient(120, 90, 1))});
    ASSERT_TRUE(flow.LoadMask(bmp("m.bmp", vignette(120, 90))));
    struct Step {
        const char* what;
        std::function<void()> apply;
    };
    const Step steps[] = {
        {"sliders", [&] { flow.SetSliders(40, 70); flow.Preview(); }},
        {"crop", [&] { flow.SetCrop("10", "0", "5", "3"); flow.Preview(); }},
        {"shift down", [&] { flow.ShiftVertical(140); }},
        {"shift right", [&] { flow.ShiftHorizontal(163); }},
        {"turn", [&] { flow.BeginTurn(); flow.Turn(true); }},
        {"centre", [&] { flow.CentreMask(); }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.apply();
        EXPECT_EQ(flow.pictures().Processed, expectedPreview(flow));
    }
    EXPECT_EQ(flow.texts().BrightnessText, "Brightness: +15%");
    EXPECT_EQ(flow.texts().BoostText, "Vignetting reduction boost: 70%");
    EXPECT_EQ(flow.texts().ProcessedCaption, " Processed Image (105x87 pixels) [1:1.21]");
    EXPECT_EQ(flow.mask().MaskAngle, 90);
    EXPECT_EQ(flow.texts().AngleHint, " Rotation Angle: 90\u00B0 ");
    EXPECT_FALSE(flow.texts().CoverVisible);
    EXPECT_EQ(flow.session().OffsetX, 0);
    EXPECT_EQ(flow.session().UpDownVertical, kOffsetCentre);

    // Margins that leave nothing: said in the status, the save refused.
    flow.SetCrop("0", "50", "0", "40");
    flow.Preview();
    EXPECT_EQ(flow.texts().Status, " The crop margins leave no pixels of the 120x90 photograph.");
    ScriptedHost host(flow);
    EXPECT_EQ(flow.Save(host).Refusal,
              "The crop margins leave no pixels of the 120x90 photograph; nothing was saved.");
    // A field that is no number raises; the processed preview is then the
    // uncorrected photograph.
    flow.SetCrop("x", "0", "0", "0");
    EXPECT_THROW(flow.Preview(), std::invalid_argument);
    EXPECT_EQ(flow.pictures().Processed, flow.pictures().Original);
}

TEST_F(WorkflowTest, BatchWritesEveryPhotographWithItsOwnPixelsInListOrderShownFirst)
{
    const std::vector<std::string> files = {bmp("a.bmp", gradient(60, 45, 0)), bmp("b.bmp", gradient(60, 45, 50)),
                                            bmp("c.bmp", gradient(60, 45, 100))};
    Workflow flow(program());
    flow.OpenList(files);
    ASSERT_TRUE(flow.LoadMask(bmp("m.bmp", vignette(60, 45))));
    flow.SetQuality(kBmpQuality);
    flow.Step(+1);
    ScriptedHost host(flow);
    host.folder = out();
    const SaveOutcome outcome = flow.Save(host);
    ASSERT_TRUE(outcome.Stopped.empty()) << outcome.Stopped;
    EXPECT_FALSE(flow.session().BatchRunning);
    EXPECT_TRUE(host.lockedWhileAsked);
    EXPECT_EQ(host.started, 1);

    // b was shown, so it is written first and exchanged with a.
    const std::vector<std::string> order = {"b.bmp", "a.bmp", "c.bmp"};
    ASSERT_EQ(outcome.Results.size(), 3u);
    ASSERT_EQ(host.seen.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(order[i]);
        EXPECT_EQ(outcome.Results[i].Written, out() + "/" + order[i]);
        EXPECT_EQ(host.seen[i].progressText, "Processing " + order[i] + " (" + std::to_string(i + 1) + " of 3) \u2013 Esc stops");
        EXPECT_EQ(host.seen[i].status, order[i] + " saved.");
        EXPECT_EQ(host.seen[i].done, int(i) + 1);
        EXPECT_TRUE(host.seen[i].running);
        Bitmap24 expected = decodeBmp((dir / order[i]).string());
        ApplyCorrectionReference(expected, flow.MaskFull(), FullSizeRegion(0, 0, 60, 45),
                                 DampingForStrength(flow.adjust().Strength),
                                 TargetsFor(flow.mask().HotspotR, flow.mask().HotspotG, flow.mask().HotspotB,
                                            flow.adjust().Brightness));
        EXPECT_EQ(decodeBmp(outcome.Results[i].Written), expected);
    }
    EXPECT_EQ(flow.photos().FileIndex, 0);
    EXPECT_EQ(flow.photos().SourceFile, files[1]);
    EXPECT_EQ(flow.texts().Status, "3 of 3 photographs saved to " + out());
    EXPECT_FALSE(flow.PreviousEnabled());
    EXPECT_TRUE(flow.NextEnabled());

    // A second batch never replaces the first one's files.
    const SaveOutcome again = flow.Save(host);
    ASSERT_EQ(again.Results.size(), 3u);
    EXPECT_EQ(again.Results[0].Written, out() + "/b.4242.bmp");
    EXPECT_EQ(outFiles().size(), 6u);
}

TEST_F(WorkflowTest, BatchSkipsAPhotographThatCannotBeDecodedAndListsItOnce)
{
    const std::vector<std::string> files = {bmp("a.bmp", gradient(60, 45, 0)), garbage("b.bmp"),
                                            bmp("c.bmp", gradient(60, 45, 100))};
    // The reason the decoder itself gives for the damaged file.
    std::string reason;
    try {
        Bitmap24 ignored;
        DecodeBySuffix(files[1], ignored, JpegSmoothing::Off);
    } catch (const std::exception& e) {
        reason = e.what();
    }
    ASSERT_FALSE(reason.empty());
    Workflow flow(program());
    flow.OpenList(files);
    ASSERT_TRUE(flow.LoadMask(bmp("m.bmp", vignette(60, 45))));
    ScriptedHost host(flow);
    host.folder = out();
    const SaveOutcome outcome = flow.Save(host);
    EXPECT_TRUE(outcome.Stopped.empty());
    EXPECT_FALSE(outcome.StoppedByUser);
    ASSERT_EQ(outcome.Results.size(), 3u);
    EXPECT_EQ(outcome.Results[0].Written, out() + "/a.jpg");
    EXPECT_TRUE(outcome.Results[1].Written.empty());
    EXPECT_EQ(outcome.Results[1].Error, reason);
    EXPECT_EQ(outcome.Results[2].Written, out() + "/c.jpg");
    EXPECT_EQ(outFiles(), (std::set<std::string>{"a.jpg", "c.jpg"}));
    EXPECT_EQ(outcome.Failures, "1 photograph of 3 could not be saved:\n" + files[1] + ": " + reason);
    // The damaged photograph had its turn in the progress, with neutral previews.
    ASSERT_EQ(host.seen.size(), 3u);
    EXPECT_EQ(host.seen[1].progressText, "Processing b.bmp (2 of 3) \u2013 Esc stops");
    EXPECT_EQ(host.seen[1].status, " b.bmp was not saved: " + reason);
    EXPECT_EQ(host.seen[1].originalCaption, " Original Image (empty)");
    EXPECT_EQ(host.seen[2].status, "c.jpg saved.");
    // The batch ends on the first entry, as a completed batch does.
    EXPECT_EQ(flow.photos().FileIndex, 0);
    EXPECT_EQ(flow.photos().SourceFile, files[0]);
    EXPECT_EQ(flow.texts().Status, "2 of 3 photographs saved to " + out());
    EXPECT_TRUE(flow.photos().PhotoPresent);
    EXPECT_FALSE(flow.session().BatchRunning);
}

TEST_F(WorkflowTest, TheChosenMethodReachesPreviewSaveAndTheBeforeAfterInputAtOnce)
{
    Workflow flow(program());
    flow.ReadSettingsAtStart();
    flow.OpenList({bmp("p.bmp", gradient(120, 90, 1))});
    ASSERT_TRUE(flow.LoadMask(bmp("m.bmp", vignette(120, 90))));
    flow.SetSliders(30, 55);
    flow.SetCrop("6", "0", "0", "4");
    flow.ShiftHorizontal(kOffsetCentre + 3);
    flow.SetQuality(kBmpQuality);
    flow.Preview();
    const Bitmap24 additivePreview = flow.pictures().Processed;

    const CorrectionMode modes[] = {{CorrectionMethod::Exact, ColourOption::FalloffAndColour},
                                    {CorrectionMethod::Exact, ColourOption::FalloffOnly},
                                    {CorrectionMethod::Exact, ColourOption::ColourOnly},
                                    {CorrectionMethod::Additive, ColourOption::FalloffAndColour}};
    for (const CorrectionMode& mode : modes) {
        SCOPED_TRACE(std::string(MethodName(mode.method)) + " " + std::string(ColourOptionName(mode.colour)));
        const unsigned revision = flow.pictures().ProcessedRevision;
        flow.SetMode(mode);
        // The preview follows at once, by the plain formula in that mode.
        EXPECT_NE(flow.pictures().ProcessedRevision, revision);
        Bitmap24 expected = flow.pictures().Original;
        const PreviewMargins margins = PreviewMarginsFor("6", "0", "0", "4", 120, 90);
        ApplyCorrectionReference(expected, flow.mask().MaskPreview, PreviewRegion(flow.session().OffsetX, flow.session().OffsetY, margins),
                                 DampingForStrength(55), TargetsFor(flow.mask().HotspotR, flow.mask().HotspotG,
                                                                    flow.mask().HotspotB, 30),
                                 mode);
        EXPECT_EQ(flow.pictures().Processed, expected);
        EXPECT_EQ(mode.method == CorrectionMethod::Additive, flow.pictures().Processed == additivePreview);
        EXPECT_EQ(flow.CurrentSetup().mode(), mode);

        // The saved BMP: the full-size photograph by the plain formula in
        // that mode, then cropped.
        ScriptedHost host(flow);
        host.savePath = (dir / "saved.bmp").string();
        const SaveOutcome saved = flow.Save(host);
        ASSERT_EQ(saved.Results.size(), 1u);
        ASSERT_TRUE(saved.Stopped.empty()) << saved.Stopped;
        Bitmap24 full = flow.PhotoFull();
        ApplyCorrectionReference(full, flow.MaskFull(), FullSizeRegion(flow.session().OffsetX, flow.session().OffsetY, 120, 90),
                                 DampingForStrength(55),
                                 TargetsFor(flow.mask().HotspotR, flow.mask().HotspotG, flow.mask().HotspotB, 30), mode);
        Bitmap24 written;
        ASSERT_TRUE(DecodeBySuffix(saved.Results[0].Written, written, JpegSmoothing::Off));
        ASSERT_EQ(written.width(), 114);
        ASSERT_EQ(written.height(), 86);
        bool same = true;
        for (int y = 0; y < 86 && same; ++y)
            for (int x = 0; x < 114 && same; ++x)
                same = written.pixel(x, y) == full.pixel(x + 6, y);
        EXPECT_TRUE(same);
    }
}

// One row per batch: the settings that shape the files, and how many
// photographs are in flight.
struct OneAtATimeCase {
    const char* name;
    int quality;
    int jobs;
    int turns;
    int offsetUp, offsetRight;
    const char* left;
    const char* bottom;
    CorrectionMode mode = {};
    // JPEG photographs, streamed a band at a time by more than one job.
    bool jpegSources = false;
};

void PrintTo(const OneAtATimeCase& c, std::ostream* os)
{
    *os << c.name;
}

class BatchEqualsOneAtATime : public WorkflowTest, public ::testing::WithParamInterface<OneAtATimeCase> {};

TEST_P(BatchEqualsOneAtATime, EveryFileHasTheBytesOfASaveOfThatPhotographAlone)
{
    const OneAtATimeCase& c = GetParam();
    // Photographs of three sizes and a mask of a fourth, so every photograph
    // has its own stretched mask.
    const auto photo = [&](const std::string& stem, const Bitmap24& picture) {
        if (!c.jpegSources)
            return bmp(stem + ".bmp", picture);
        const std::string path = (dir / (stem + ".jpg")).string();
        const std::vector<std::uint8_t> encoded = EncodeJpeg(picture, 92);
        WriteFileAtomically(path, encoded.data(), encoded.size());
        return path;
    };
    const std::vector<std::string> files = {photo("a", gradient(64, 48, 0)), photo("b", gradient(80, 50, 30)),
                                            photo("c", gradient(64, 48, 60)), photo("d", gradient(45, 60, 90)),
                                            photo("e", gradient(80, 50, 120))};
    const std::string maskFile = bmp("m.bmp", vignette(70, 52));
    const auto setUp = [&](Workflow& flow, const std::vector<std::string>& list) {
        flow.OpenList(list);
        ASSERT_TRUE(flow.LoadMask(maskFile));
        for (int t = 0; t < c.turns; ++t)
            flow.Turn(true);
        flow.SetSliders(33, 64);
        flow.SetQuality(c.quality);
        flow.SetCrop(c.left, "0", "0", c.bottom);
        flow.ShiftVertical(kOffsetCentre + c.offsetUp);
        flow.ShiftHorizontal(kOffsetCentre + c.offsetRight);
        if (c.mode != CorrectionMode{})
            flow.SetMode(c.mode);
    };
    Workflow batch(program());
    setUp(batch, files);
    batch.SetBatchJobsInFlight(c.jobs);
    ScriptedHost host(batch);
    host.folder = out();
    const SaveOutcome outcome = batch.Save(host);
    ASSERT_TRUE(outcome.Failures.empty()) << outcome.Failures;
    ASSERT_EQ(outcome.Results.size(), files.size());

    const std::string ext = IsBmpQuality(c.quality) ? ".bmp" : ".jpg";
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string stem = std::string(1, char('a' + i));
        SCOPED_TRACE(stem);
        Workflow single(program());
        setUp(single, {files[i]});
        // A single save keeps the hotspot its own mask load sampled; the
        // batch uses the one sampled with the first photograph.
        WorkflowTestAccess::SetHotspotLevels(single, batch.mask().HotspotR, batch.mask().HotspotG,
                                             batch.mask().HotspotB);
        ScriptedHost singleHost(single);
        singleHost.savePath = (dir / ("single-" + stem + ext)).string();
        const SaveOutcome alone = single.Save(singleHost);
        ASSERT_EQ(alone.Results.size(), 1u);
        ASSERT_TRUE(alone.Stopped.empty()) << alone.Stopped;
        EXPECT_EQ(outcome.Results[i].Written, out() + "/" + stem + ext);
        EXPECT_EQ(ReadWholeFile(outcome.Results[i].Written), ReadWholeFile(singleHost.savePath));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, BatchEqualsOneAtATime,
    ::testing::Values(OneAtATimeCase{"JpegOneJob", 88, 1, 0, 0, 0, "0", "0"},
                      OneAtATimeCase{"JpegThreeJobsTurnedOffsetCropped", 75, 3, 1, 4, -3, "5", "7"},
                      OneAtATimeCase{"BmpFourJobsTurnedTwiceCropped", kBmpQuality, 4, 2, -2, 6, "0", "3"},
                      OneAtATimeCase{"BmpTwoJobs", kBmpQuality, 2, 0, 0, 0, "0", "0"},
                      OneAtATimeCase{"ExactJpegThreeJobsTurnedOffsetCropped", 75, 3, 1, 4, -3, "5", "7",
                                     {CorrectionMethod::Exact, ColourOption::FalloffAndColour}, true},
                      OneAtATimeCase{"ExactFalloffOnlyBmpFourJobsTurnedTwiceCropped", kBmpQuality, 4, 2, -2, 6, "0", "3",
                                     {CorrectionMethod::Exact, ColourOption::FalloffOnly}, true},
                      OneAtATimeCase{"ExactColourOnlyJpegOneJob", 88, 1, 0, 3, 2, "2", "0",
                                     {CorrectionMethod::Exact, ColourOption::ColourOnly}},
                      OneAtATimeCase{"ExactBmpTwoJobsOffsetCropped", kBmpQuality, 2, 3, 5, 5, "4", "4",
                                     {CorrectionMethod::Exact, ColourOption::FalloffAndColour}}),
    [](const ::testing::TestParamInfo<OneAtATimeCase>& info) { return std::string(info.param.name); });

TEST_F(WorkflowTest, BatchReportsAndShowsInListOrderWhenLaterPhotographsFinishFirst)
{
    std::vector<std::string> files;
    for (int i = 0; i < 5; ++i)
        files.push_back(bmp(std::string(1, char('a' + i)) + ".bmp", gradient(40 + 8 * i, 30 + 5 * i, 25 * i)));
    const std::string maskFile = bmp("m.bmp", vignette(50, 40));
    const auto setUp = [&](Workflow& flow) {
        flow.OpenList(files);
        ASSERT_TRUE(flow.LoadMask(maskFile));
        flow.SetSliders(30, 50);
        flow.SetQuality(kBmpQuality);
        // Margins make the preview pass depend on each photograph's own size.
        flow.SetCrop("3", "2", "4", "1");
    };
    Workflow flow(program());
    setUp(flow);
    flow.SetBatchJobsInFlight(3);
    ScriptedHost host(flow);
    host.folder = out();
    // The first photograph's file is held back until the second one's is in
    // place, so later ones are written before it.
    const std::string first = out() + "/a.bmp";
    const std::string second = out() + "/b.bmp";
    ScopedFileFault holdFirst([&](FileStep step, const std::string& path, std::size_t&) {
        for (int i = 0; step == FileStep::Create && path == first && !fs::exists(second) && i < 2000; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return 0;
    });
    std::set<std::string> presentAtFirstReport;
    host.onProgress = [&](const WorkflowProgress& progress) {
        if (progress.Done == 1)
            presentAtFirstReport = outFiles();
    };
    const SaveOutcome outcome = flow.Save(host);
    ASSERT_TRUE(outcome.Failures.empty()) << outcome.Failures;
    // The workers did finish out of order ...
    EXPECT_GT(presentAtFirstReport.size(), 1u);
    EXPECT_GT(host.waits, 0);
    // ... yet every report came in list order, showing its own photograph
    // as stepping through the list shows it.
    Workflow stepping(program());
    setUp(stepping);
    ASSERT_EQ(host.seen.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i]);
        if (i > 0)
            stepping.Step(+1);
        const ScriptedHost::Seen& seen = host.seen[i];
        EXPECT_EQ(seen.done, int(i) + 1);
        EXPECT_EQ(seen.index, int(i));
        EXPECT_EQ(seen.progressText, BatchProgressText(std::string(1, char('a' + i)) + ".bmp", int(i) + 1, int(files.size())));
        EXPECT_EQ(seen.status, std::string(1, char('a' + i)) + ".bmp saved.");
        EXPECT_EQ(seen.written, out() + "/" + std::string(1, char('a' + i)) + ".bmp");
        EXPECT_EQ(seen.original, stepping.pictures().Original);
        EXPECT_EQ(seen.processed, stepping.pictures().Processed);
        EXPECT_EQ(seen.thumbnail, stepping.pictures().Thumbnail);
        EXPECT_EQ(seen.originalCaption, stepping.texts().OriginalCaption);
        EXPECT_EQ(seen.processedCaption, stepping.texts().ProcessedCaption);
    }
    // Back on the first entry, showing what opening the list showed.
    stepping.OpenList(files);
    EXPECT_EQ(flow.pictures().Processed, stepping.pictures().Processed);
    EXPECT_EQ(flow.pictures().Thumbnail, stepping.pictures().Thumbnail);
    EXPECT_EQ(flow.texts().Status, "5 of 5 photographs saved to " + out());
}

TEST_F(WorkflowTest, RequestStopFinishesThePhotographsInProgressAndStartsNoMore)
{
    std::vector<std::string> files;
    for (int i = 0; i < 8; ++i)
        files.push_back(bmp("p" + std::to_string(i) + ".bmp", gradient(60, 45, 20 * i)));
    Workflow flow(program());
    flow.OpenList(files);
    ASSERT_TRUE(flow.LoadMask(bmp("m.bmp", vignette(60, 45))));
    flow.SetBatchJobsInFlight(2);
    ScriptedHost host(flow);
    host.folder = out();
    // The first file waits until another photograph has reached its own
    // file, and every other file waits until the stop is asked for, so the
    // photographs in flight at that moment are known whatever the machine's
    // load: the second, and perhaps the third.
    std::atomic<bool> stopAsked{false};
    std::atomic<bool> otherInFlight{false};
    const std::string first = out() + "/p0.jpg";
    ScopedFileFault gate([&](FileStep step, const std::string& path, std::size_t&) {
        if (step != FileStep::Create)
            return 0;
        if (path != first)
            otherInFlight = true;
        std::atomic<bool>& until = path == first ? otherInFlight : stopAsked;
        for (int i = 0; !until && i < 2000; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return 0;
    });
    host.onProgress = [&](const WorkflowProgress& progress) {
        if (progress.Done == 1) {
            flow.RequestStop();
            stopAsked = true;
        }
    };
    const SaveOutcome outcome = flow.Save(host);
    EXPECT_TRUE(outcome.StoppedByUser);
    EXPECT_TRUE(outcome.Failures.empty());
    const std::size_t written = outcome.Results.size();
    EXPECT_GE(written, 2u);
    EXPECT_LE(written, 3u);
    std::set<std::string> expected;
    for (std::size_t i = 0; i < written; ++i) {
        EXPECT_EQ(outcome.Results[i].Written, out() + "/p" + std::to_string(i) + ".jpg");
        expected.insert("p" + std::to_string(i) + ".jpg");
    }
    // Nothing half-written or out of turn is left in the folder.
    EXPECT_EQ(outFiles(), expected);
    EXPECT_EQ(flow.texts().Status, " Saving stopped: " + std::to_string(written) + " of 8 photographs written.");
    EXPECT_EQ(flow.photos().FileIndex, 0);
    EXPECT_EQ(flow.photos().SourceFile, files[0]);
    EXPECT_FALSE(flow.session().BatchRunning);

    // The next batch is not stopped by the earlier request.
    fs::remove_all(dir / "out");
    fs::create_directories(dir / "out");
    host.onProgress = nullptr;
    const SaveOutcome again = flow.Save(host);
    EXPECT_FALSE(again.StoppedByUser);
    EXPECT_EQ(outFiles().size(), 8u);
}

TEST_F(WorkflowTest, CancelledDialogsWriteNothing)
{
    const std::vector<std::string> files = {bmp("a.bmp", gradient(60, 45, 0)), bmp("b.bmp", gradient(60, 45, 50))};
    Workflow flow(program());
    flow.OpenList(files);
    ASSERT_TRUE(flow.LoadMask(bmp("m.bmp", vignette(60, 45))));
    flow.Step(+1);
    ScriptedHost host(flow);
    const SaveOutcome batch = flow.Save(host);
    EXPECT_TRUE(batch.Cancelled);
    EXPECT_EQ(host.started, 0);
    EXPECT_FALSE(flow.session().BatchRunning);
    // The shown photograph is now the list's first entry.
    EXPECT_EQ(flow.photos().Files, (std::vector<std::string>{files[1], files[0]}));
    EXPECT_EQ(flow.photos().FileIndex, 0);
    EXPECT_EQ(flow.texts().Status, " Showing b.bmp [1 of 2]");

    flow.OpenList({files[0]});
    const SaveOutcome single = flow.Save(host);
    EXPECT_TRUE(single.Cancelled);
    EXPECT_EQ(host.asked, std::vector<std::string>{"a.jpg"});
    EXPECT_TRUE(outFiles().empty());
    host.savePath = out() + "/chosen.jpg";
    const SaveOutcome saved = flow.Save(host);
    ASSERT_EQ(saved.Results.size(), 1u);
    EXPECT_EQ(saved.Results[0].Written, host.savePath);
    EXPECT_EQ(flow.texts().Status, "chosen.jpg saved.");
}

// "Save Image" writes the file the user confirmed. When the extension rule
// turns the confirmed name into another one that exists, that file is
// replaced only after a question naming it; the rule works within the
// file-name part and never reaches across a folder separator.
TEST_F(WorkflowTest, SaveImage_WritesOnlyAConfirmedFile)
{
    const Bitmap24 picture = gradient(40, 30, 2);
    const std::vector<std::uint8_t> sourceBytes = EncodeJpeg(picture, 95);
    const std::vector<std::uint8_t> other = {'o', 't', 'h', 'e', 'r'};
    struct Row {
        const char* name;
        const char* chosen;            // the save dialog's answer, within the test folder
        std::vector<const char*> taken; // files there besides the source (beach.jpg)
        int quality;
        bool answer;                   // to the question, when asked
        const char* asked;             // the file the question names; "" when none
        const char* written;           // the file written; "" when none
    };
    const std::vector<Row> rows = {
        {"beach.JPG beside the source, refused", "beach.JPG", {}, 90, false, "beach.jpg", ""},
        {"beach.JPG beside the source, confirmed", "beach.JPG", {}, 90, true, "beach.jpg", "beach.jpg"},
        {"x.tif beside x.jpg", "x.tif", {"x.jpg"}, 90, false, "x.jpg", ""},
        {"x.tif, no x.jpg", "x.tif", {}, 90, false, "", "x.jpg"},
        {".b in a folder: the suffix is appended", "savetest/.b", {"savetestjpg"}, 90, false, "", "savetest/.b.jpg"},
        {"ab: the suffix is appended", "ab", {"jpg"}, 90, false, "", "ab.jpg"},
        {"the confirmed name itself", "x.jpg", {"x.jpg"}, 90, false, "", "x.jpg"},
        {"BMP over another name", "x.jpg", {"x.bmp"}, kBmpQuality, false, "x.bmp", ""},
        {"BMP confirmed over another name", "x.jpg", {"x.bmp"}, kBmpQuality, true, "x.bmp", "x.bmp"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path folder = dir / "save";
        fs::remove_all(folder);
        fs::create_directories(folder / "savetest");
        const std::string source = (folder / "beach.jpg").string();
        WriteFileAtomically(source, sourceBytes);
        for (const char* name : row.taken)
            WriteFileAtomically((folder / name).string(), other);

        Workflow flow(program());
        flow.OpenList({source});
        ASSERT_TRUE(flow.LoadMask(bmp("m.bmp", vignette(40, 30))));
        flow.SetQuality(row.quality);
        ScriptedHost host(flow);
        host.savePath = (folder / row.chosen).string();
        host.replaceAnswer = row.answer;
        const SaveOutcome outcome = flow.Save(host);

        const std::vector<std::string> asked =
            *row.asked ? std::vector<std::string>{(folder / row.asked).string()} : std::vector<std::string>{};
        EXPECT_EQ(host.replaceAsked, asked);
        if (*row.asked) {
            EXPECT_EQ(ReplaceQuestion(asked[0]), asked[0] + " already exists.\nDo you want to replace it?");
        }
        if (*row.written) {
            ASSERT_EQ(outcome.Results.size(), 1u);
            EXPECT_EQ(outcome.Results[0].Written, (folder / row.written).string());
            EXPECT_TRUE(outcome.Results[0].Error.empty()) << outcome.Results[0].Error;
        } else {
            EXPECT_TRUE(outcome.Cancelled);
            EXPECT_TRUE(outcome.Results.empty());
        }
        // Every other file is as it was, the source included.
        if (std::string(row.written) != "beach.jpg") {
            EXPECT_EQ(ReadWholeFile(source), sourceBytes);
        }
        for (const char* name : row.taken) {
            if (std::string(row.written) != name) {
                EXPECT_EQ(ReadWholeFile((folder / name).string()), other) << name;
            }
        }
        std::size_t files = 0;
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            files += entry.is_regular_file() ? 1 : 0;
        const bool newFile = *row.written && std::string(row.written) != "beach.jpg" &&
                             std::find(row.taken.begin(), row.taken.end(), std::string(row.written)) == row.taken.end();
        EXPECT_EQ(files, 1 + row.taken.size() + (newFile ? 1 : 0));
    }
}

TEST_F(WorkflowTest, StoredDefaultsComeBackAfterARestartUntilFreed)
{
    const std::string photo = bmp("p.bmp", gradient(64, 48, 5));
    {
        Workflow flow(program());
        EXPECT_TRUE(flow.ReadSettingsAtStart().empty());
        flow.OpenList({photo});
        ASSERT_TRUE(flow.LoadMask(bmp("m.bmp", vignette(64, 48))));
        flow.SetSliders(30, 40);
        flow.SetQuality(75);
        flow.OpenPanel();
        EXPECT_FALSE(flow.SaveEnabled());
        EXPECT_FALSE(flow.LoadEnabled());
        flow.PointAt(100, 70);
        flow.PickHotspot();
        flow.ClosePanel();
        EXPECT_TRUE(flow.SaveEnabled());
        flow.StoreDefaults();
        EXPECT_TRUE(flow.session().FreeOffered);
    }
    Workflow restarted(program());
    ASSERT_TRUE(restarted.ReadSettingsAtStart().empty());
    EXPECT_EQ(restarted.settings().DefaultMask, program() + "/default_mask.bmp");
    EXPECT_EQ(restarted.texts().MaskLabel, "...fault_mask.bmp");
    EXPECT_EQ(restarted.mask().HotspotX, 100);
    EXPECT_TRUE(restarted.mask().StoredHotspotPending);
    EXPECT_FALSE(restarted.MaskNeedsDialog() && !restarted.photos().Files.empty());
    const int storedR = restarted.mask().HotspotR;
    restarted.OpenList({photo});
    EXPECT_TRUE(restarted.mask().MaskLoaded);
    EXPECT_EQ(restarted.mask().HotspotR, storedR);
    EXPECT_EQ(restarted.adjust().Brightness, 30);
    EXPECT_EQ(restarted.adjust().Strength, 40);
    EXPECT_EQ(restarted.adjust().Quality, 75);
    EXPECT_EQ(restarted.pictures().Processed, expectedPreview(restarted));
    restarted.FreeDefaults();
    EXPECT_FALSE(restarted.session().FreeOffered);

    Workflow freed(program());
    ASSERT_TRUE(freed.ReadSettingsAtStart().empty());
    EXPECT_TRUE(freed.photos().MaskFile.empty());
    freed.OpenList({photo});
    EXPECT_FALSE(freed.mask().MaskLoaded);

    // A damaged line: the status line says so, the sound lines still count.
    std::ofstream(program() + "/defaults.ini", std::ios::binary) << "abc\r\n12\r\n34\r\nnone\r\n";
    Workflow damaged(program());
    EXPECT_TRUE(damaged.ReadSettingsAtStart().empty());
    EXPECT_EQ(damaged.texts().Status, " defaults.ini line 1 ignored");
    EXPECT_EQ(damaged.settings().IniBrightness, "25");
    EXPECT_EQ(damaged.settings().IniStrength, "12");
    EXPECT_EQ(damaged.texts().QualityText, "Image quality: 34% (JPEG)");
}

// With smoothing on, the mask in use is smoothed; Store writes the mask file
// as taken (turned as in use), so the next start does not smooth it twice.
TEST_F(WorkflowTest, StoreWritesTheMaskAsLoadedWhenSmoothing)
{
    const std::string photo = bmp("p.bmp", gradient(64, 48, 5));
    // A mask with grain, which smoothing visibly changes.
    Bitmap24 grainy = vignette(48, 64);
    for (int y = 0; y < grainy.height(); y += 2)
        for (int x = (y / 2) % 3; x < grainy.width(); x += 3)
            grainy.setPixel(x, y, packColour(90, 20, 250));
    const std::string maskFile = bmp("m.bmp", grainy);
    Workflow flow(program());
    flow.ReadSettingsAtStart();
    flow.OpenList({photo});
    flow.SetSmoothMask(true);
    ASSERT_TRUE(flow.LoadMask(maskFile));
    ASSERT_FALSE(flow.mask().MaskImage == grainy); // smoothed in use
    flow.StoreDefaults();
    EXPECT_TRUE(decodeBmp(program() + "/default_mask.bmp") == grainy);

    flow.Turn(true);
    flow.StoreDefaults();
    EXPECT_TRUE(decodeBmp(program() + "/default_mask.bmp") == *Rotate90(270, grainy));
}

} // namespace
