// SPDX-License-Identifier: GPL-3.0-or-later
// The batch without a window: every photograph written once under the
// batch's names, the same bytes whatever the number of jobs, failures
// reported and skipped, a stop honoured between photographs.
#include "BatchRunner.h"

#include "BmpCodec.h"
#include "FileIO.h"
#include "JpegCodec.h"
#include "SavePipeline.h"
#include "TestOracles.h"
#include "TemporaryFolder.h"
#include "SyntheticPictures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <cmath>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace lumivane;
using lumivane::test_support::GradientPicture;
using lumivane::test_support::VignetteMask;
namespace fs = std::filesystem;
using Outcome = BatchPhotoResult::Outcome;

namespace {

std::vector<std::uint8_t> bytesOf(const fs::path& p)
{
    return ReadWholeFile(p.string());
}

class Batch : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(dir_ / "in");
        mask_ = VignetteMask(90, 60);
    }

    std::string jpegPhoto(const std::string& name, int w, int h, int seed)
    {
        const std::string path = (dir_ / "in" / name).string();
        SaveJpegFile(GradientPicture(w, h, seed), 92, path);
        return path;
    }
    std::string broken(const std::string& name)
    {
        const std::string path = (dir_ / "in" / name).string();
        WriteFileAtomically(path, std::vector<std::uint8_t>{0xFF, 0xD8, 'n', 'o'});
        return path;
    }
    BatchSettings settings(const std::string& out)
    {
        BatchSettings s;
        s.mask = &mask_;
        s.strength = 60;
        s.brightness = 30;
        s.offsetX = 7;
        s.offsetY = -4;
        s.folder = (dir_ / out).string();
        s.tick = 777;
        fs::create_directories(s.folder);
        return s;
    }

    lumivane::test_support::TemporaryFolder folder_{"lumivane-batch"};
    const fs::path dir_ = folder_.path();
    Bitmap24 mask_;
};

// The same photographs through 1, 2 and 4 jobs give byte-identical files,
// each equal to a save of that photograph alone with the levels sampled on
// the first photograph.
TEST_F(Batch, AnyNumberOfJobs_WritesTheBytesOfOneSaveEach)
{
    std::vector<std::string> photos;
    for (int i = 0; i < 6; ++i) // two sizes, so the mask is fitted to both
        photos.push_back(jpegPhoto("p" + std::to_string(i) + ".jpg", i % 2 ? 90 : 120, i % 2 ? 60 : 80, i * 11));
    std::map<std::string, std::vector<std::uint8_t>> reference;
    for (int jobs : {1, 2, 4}) {
        SCOPED_TRACE(jobs);
        const std::string out = "out" + std::to_string(jobs);
        HotspotLevels used;
        const auto results = RunBatch(photos, settings(out), jobs, {}, nullptr, &used);
        ASSERT_EQ(results.size(), photos.size());
        for (std::size_t i = 0; i < photos.size(); ++i) {
            EXPECT_EQ(results[i].outcome, Outcome::Written) << results[i].reason;
            const fs::path written = results[i].written;
            EXPECT_EQ(written, dir_ / out / ("p" + std::to_string(i) + ".jpg"));
            const auto bytes = bytesOf(written);
            if (jobs == 1)
                reference[written.filename().string()] = bytes;
            else
                EXPECT_EQ(bytes, reference[written.filename().string()]) << written;
        }
        if (jobs == 1) {
            // An independent save of the fourth photograph (90 x 60: the
            // mask's own size) with the levels of the first (120 x 80).
            Bitmap24 fitted(120, 80);
            stretchDraw(mask_, fitted);
            const HotspotLevels levels = SampleCentreLevels(fitted);
            EXPECT_EQ(used.r, levels.r);
            EXPECT_EQ(used.g, levels.g);
            EXPECT_EQ(used.b, levels.b);
            Bitmap24 decoded;
            TJPEGImage jpeg;
            jpeg.Smoothing = false;
            jpeg.LoadFromFile(photos[3]);
            jpeg.DecodeInto(decoded);
            SavePipeline pipeline(1);
            const std::string expected = (dir_ / "expected.jpg").string();
            pipeline.SaveCorrectedJpeg(decoded, mask_, FullSizeRegion(7, -4, 90, 60), DampingForStrength(60),
                                       TargetsFor(levels.r, levels.g, levels.b, 30), CropMargins{}, 90, photos[3],
                                       OutputTarget(expected));
            EXPECT_EQ(reference["p3.jpg"], bytesOf(expected));
        }
    }
}

// Failures are reported with their reason and the rest is still written;
// an existing output is never replaced (the clash name takes the tick).
TEST_F(Batch, FailuresAreSkippedAndExistingFilesKept)
{
    const std::vector<std::string> photos = {jpegPhoto("a.jpg", 90, 60, 1), broken("b.jpg"),
                                             (dir_ / "in" / "c.png").string(), (dir_ / "in" / "gone.jpg").string(),
                                             jpegPhoto("e.jpg", 90, 60, 2)};
    BatchSettings s = settings("out");
    WriteFileAtomically(s.folder + "/a.bmp", std::vector<std::uint8_t>{1, 2, 3});
    s.quality = 101;
    s.crop = CropMargins{0, 0, 0, 0};
    std::vector<std::string> order;
    const auto results = RunBatch(photos, s, 2, [&](const BatchPhotoResult& r, int finished, int total) {
        EXPECT_EQ(total, 5);
        EXPECT_EQ(finished, int(order.size()) + 1);
        order.push_back(r.source);
    });
    EXPECT_EQ(order.size(), photos.size());
    const Outcome expected[] = {Outcome::Written, Outcome::Unreadable, Outcome::Unsupported, Outcome::Unreadable,
                                Outcome::Written};
    for (std::size_t i = 0; i < photos.size(); ++i) {
        EXPECT_EQ(results[i].outcome, expected[i]) << photos[i];
        EXPECT_EQ(results[i].reason.empty(), expected[i] == Outcome::Written) << results[i].reason;
    }
    EXPECT_EQ(bytesOf(s.folder + "/a.bmp"), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(results[0].written, s.folder + "/a.777.bmp");
    EXPECT_EQ(results[4].written, s.folder + "/e.bmp");
    EXPECT_EQ(ReadBmpFile(results[4].written).width(), 90);
    for (const auto& entry : fs::directory_iterator(s.folder))
        EXPECT_EQ(entry.path().string().find(kTemporarySuffix), std::string::npos) << entry.path();
}

// A JPEG that libjpeg gives up on only after its last row (a second frame
// header before its end) is unreadable whether it is decoded whole (one
// job) or streamed (several): same outcome and reason, nothing written for
// it, the others written.
TEST_F(Batch, AJpegFailingAfterItsLastRow_IsUnreadableWithEveryNumberOfJobs)
{
    const std::string late = jpegPhoto("late.jpg", 90, 60, 3);
    std::vector<std::uint8_t> bytes = bytesOf(late);
    const std::vector<std::uint8_t> sof = {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x3C, 0x00, 0x5A, 0x03,
                                           0x01, 0x22, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01};
    bytes.insert(bytes.end() - 2, sof.begin(), sof.end());
    WriteFileAtomically(late, bytes);
    const std::vector<std::string> photos = {jpegPhoto("a.jpg", 90, 60, 1), late, jpegPhoto("c.jpg", 90, 60, 2)};
    std::string reasonWithOneJob;
    for (const int jobs : {1, 2}) {
        SCOPED_TRACE(jobs);
        const BatchSettings s = settings("out" + std::to_string(jobs));
        const auto results = RunBatch(photos, s, jobs);
        EXPECT_EQ(results[0].outcome, Outcome::Written);
        EXPECT_EQ(results[1].outcome, Outcome::Unreadable);
        EXPECT_EQ(results[2].outcome, Outcome::Written);
        if (jobs == 1)
            reasonWithOneJob = results[1].reason;
        EXPECT_EQ(results[1].reason, reasonWithOneJob);
        EXPECT_FALSE(reasonWithOneJob.empty());
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(s.folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"a.jpg", "c.jpg"}));
    }
}

// A stop asked for while the batch runs: what was started is finished, the
// rest is reported as not done, and nothing half-written remains.
TEST_F(Batch, StopFinishesWhatIsInFlightAndReportsTheRest)
{
    std::vector<std::string> photos;
    for (int i = 0; i < 8; ++i)
        photos.push_back(jpegPhoto("p" + std::to_string(i) + ".jpg", 90, 60, i));
    std::atomic<bool> stop{false};
    const BatchSettings s = settings("out");
    const auto results = RunBatch(
        photos, s, 1, [&](const BatchPhotoResult&, int finished, int) { stop = finished == 3; }, &stop);
    int written = 0;
    for (const auto& r : results) {
        if (r.outcome == Outcome::Written) {
            ++written;
            EXPECT_TRUE(fs::exists(r.written));
        } else {
            EXPECT_EQ(r.outcome, Outcome::NotDone);
            EXPECT_FALSE(r.reason.empty());
        }
    }
    EXPECT_EQ(written, 3);
    EXPECT_EQ(std::distance(fs::directory_iterator(s.folder), fs::directory_iterator()), 3);
}

// The abandon flag (Esc, lumivane-cli's second Ctrl-C) set while the
// batch runs: every photograph read after it, streamed or decoded whole, is
// abandoned and reported not done, and none of them is written.
TEST_F(Batch, AbandonLeavesThePhotographsBeingReadNotDoneAndUnwritten)
{
    for (const int jobs : {1, 2}) {
        SCOPED_TRACE(jobs);
        std::vector<std::string> photos;
        for (int i = 0; i < 6; ++i)
            photos.push_back(jpegPhoto("a" + std::to_string(i) + ".jpg", 90, 60, i));
        std::atomic<bool> abandon{false};
        BatchSettings s = settings("out" + std::to_string(jobs));
        s.abandon = &abandon;
        const auto results = RunBatch(photos, s, jobs, [&](const BatchPhotoResult&, int finished, int) {
            if (finished == 2)
                abandon = true;
        });
        int written = 0;
        for (const auto& r : results) {
            if (r.outcome == Outcome::Written) {
                ++written;
                continue;
            }
            EXPECT_EQ(r.outcome, Outcome::NotDone) << r.source << ": " << r.reason;
            EXPECT_EQ(r.reason, "stopped while it was read");
        }
        // Two finished before the flag; each other job may have been past
        // its last row already.
        EXPECT_GE(written, 2);
        EXPECT_LE(written, 2 + jobs - 1);
        EXPECT_EQ(std::distance(fs::directory_iterator(s.folder), fs::directory_iterator()), written);
    }
}

// A mask still loading on another thread when the batch starts: it is
// waited for once the first photograph is open (a single worker has decoded
// it by then; streaming workers decode only after the wait), and the files
// are those of a batch given the finished mask.
TEST_F(Batch, MaskStillLoading_IsAwaitedAfterTheFirstPhotographOpensAndGivesTheSameBytes)
{
    const std::vector<std::string> photos = {jpegPhoto("a.jpg", 120, 80, 5), jpegPhoto("b.jpg", 90, 60, 6),
                                             jpegPhoto("c.jpg", 120, 80, 7)};
    for (const int jobs : {1, 2}) {
        SCOPED_TRACE(jobs);
        const auto given = RunBatch(photos, settings("given" + std::to_string(jobs)), jobs);
        Bitmap24 late;
        std::thread loader([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            late = VignetteMask(90, 60);
        });
        std::mutex eventsMutex;
        std::vector<std::string> events;
        BatchSettings s = settings("late" + std::to_string(jobs));
        s.mask = &late;
        s.maskReady = [&] {
            loader.join();
            std::lock_guard<std::mutex> lock(eventsMutex);
            events.push_back("mask ready");
        };
        s.previewWidth = 8;
        s.previewHeight = 6;
        s.decoded = [&](std::size_t index, Bitmap24&, int, int) {
            std::lock_guard<std::mutex> lock(eventsMutex);
            events.push_back("decoded " + std::to_string(index));
        };
        const auto results = RunBatch(photos, s, jobs);
        ASSERT_EQ(events.size(), photos.size() + 1);
        if (jobs == 1) {
            EXPECT_EQ(events[0], "decoded 0");
            EXPECT_EQ(events[1], "mask ready");
        } else {
            EXPECT_EQ(events[0], "mask ready");
        }
        for (std::size_t i = 0; i < photos.size(); ++i) {
            ASSERT_EQ(results[i].outcome, Outcome::Written) << results[i].reason;
            EXPECT_EQ(bytesOf(results[i].written), bytesOf(given[i].written)) << results[i].written;
        }
    }
}

// A mask that cannot be loaded stops the batch before anything is written.
TEST_F(Batch, MaskThatFailsToLoad_ThrowsAndWritesNothing)
{
    const std::vector<std::string> photos = {jpegPhoto("a.jpg", 90, 60, 1), jpegPhoto("b.jpg", 90, 60, 2)};
    struct Case {
        const char* name;
        bool throws;
    };
    for (const Case& c : {Case{"loader fails", true}, Case{"loader leaves it empty", false}}) {
        SCOPED_TRACE(c.name);
        Bitmap24 never;
        BatchSettings s = settings(c.throws ? "fails" : "empty");
        s.mask = &never;
        s.maskReady = [&] {
            if (c.throws)
                throw std::runtime_error("cannot read the mask");
        };
        if (c.throws)
            EXPECT_THROW(RunBatch(photos, s, 2), std::runtime_error);
        else
            EXPECT_THROW(RunBatch(photos, s, 2), std::invalid_argument);
        EXPECT_TRUE(fs::is_empty(s.folder));
    }
}

// Margins that leave nothing of one photograph fail that photograph only.
TEST_F(Batch, CropLeavingNoPixels_FailsThatPhotographOnly)
{
    const std::vector<std::string> photos = {jpegPhoto("small.jpg", 40, 30, 3), jpegPhoto("big.jpg", 120, 80, 4)};
    BatchSettings s = settings("out");
    s.crop = CropMargins{20, 0, 20, 0};
    const auto results = RunBatch(photos, s, 2);
    EXPECT_EQ(results[0].outcome, Outcome::WriteFailed);
    EXPECT_NE(results[0].reason.find("leave no pixels"), std::string::npos) << results[0].reason;
    EXPECT_EQ(results[1].outcome, Outcome::Written);
}

// The hotspot and turn helpers agree with the adjustment panel's view.
TEST(BatchHelpers, PanelLevelsAndTurns)
{
    Bitmap24 mask(4, 2);
    mask.setPixel(0, 0, packColour(10, 20, 30));
    mask.setPixel(3, 1, packColour(200, 100, 50));
    const HotspotLevels topLeft = PanelLevelsAt(mask, 0, 0);
    EXPECT_EQ(topLeft.r, 10);
    EXPECT_EQ(topLeft.b, 30);
    const HotspotLevels bottomRight = PanelLevelsAt(mask, 319, 239);
    EXPECT_EQ(bottomRight.r, 200);
    EXPECT_EQ(bottomRight.g, 100);
    EXPECT_THROW(PanelLevelsAt(mask, 320, 0), std::invalid_argument);

    const Bitmap24 once = TurnedMask(mask, 1);
    ASSERT_EQ(once.width(), 2);
    ASSERT_EQ(once.height(), 4);
    // Clockwise: the top-left corner goes to the top-right.
    EXPECT_EQ(once.pixel(1, 0), packColour(10, 20, 30));
    EXPECT_TRUE(TurnedMask(mask, 0) == mask);
    const Bitmap24 twice = TurnedMask(mask, 2);
    EXPECT_EQ(twice.pixel(3, 1), packColour(10, 20, 30));
    EXPECT_TRUE(TurnedMask(TurnedMask(mask, 3), 1) == mask);
}

// A mask chosen per photograph: each photograph of one size gets its own
// mask (fitted and kept per mask, not only per size), its levels sampled on
// that mask; a photograph without a mask fails and the others go on.
TEST_F(Batch, MaskChosenPerPhotograph_EachGetsTheBytesOfItsOwnMask)
{
    std::vector<std::string> photos;
    for (int i = 0; i < 4; ++i)
        photos.push_back(jpegPhoto("q" + std::to_string(i) + ".jpg", 120, 80, i * 13));
    auto second = std::make_shared<const Bitmap24>(VignetteMask(60, 30));
    auto first = std::make_shared<const Bitmap24>(mask_);
    const BatchMaskChooser chooser = [&](const std::string& photo) {
        BatchMaskChoice choice;
        const char digit = fs::path(photo).stem().string().back();
        if (digit == '3') {
            choice.reason = "none fits";
            return choice;
        }
        choice.mask = digit == '1' ? second : first;
        choice.name = digit == '1' ? "second" : "first";
        return choice;
    };
    for (int jobs : {1, 3}) {
        SCOPED_TRACE(jobs);
        const std::string out = "chosen" + std::to_string(jobs);
        BatchSettings s = settings(out);
        s.mask = nullptr;
        s.chooseMask = chooser;
        const auto results = RunBatch(photos, s, jobs);
        for (int i = 0; i < 3; ++i) {
            SCOPED_TRACE(i);
            ASSERT_EQ(results[std::size_t(i)].outcome, Outcome::Written) << results[std::size_t(i)].reason;
            EXPECT_EQ(results[std::size_t(i)].mask, i == 1 ? "second" : "first");
            // The same photograph alone with that mask as the batch's one mask.
            const std::string alone = "alone" + std::to_string(jobs) + "_" + std::to_string(i);
            BatchSettings single = settings(alone);
            single.mask = i == 1 ? second.get() : first.get();
            const auto one = RunBatch({photos[std::size_t(i)]}, single, 1);
            ASSERT_EQ(one[0].outcome, Outcome::Written);
            EXPECT_EQ(bytesOf(results[std::size_t(i)].written), bytesOf(one[0].written));
        }
        EXPECT_EQ(results[3].outcome, Outcome::NoMask);
        EXPECT_EQ(results[3].reason, "none fits");
    }
    BatchSettings none = settings("none");
    none.mask = nullptr;
    EXPECT_THROW(RunBatch(photos, none, 1), std::invalid_argument);
}

// A mask chosen per photograph brings its file's colour profile: the exact
// method reads it on that profile's curve, as the batch's one mask with the
// same profile is read; without the profile the bytes differ.
TEST_F(Batch, MaskChosenPerPhotograph_IsReadOnItsOwnProfilesCurve)
{
    const std::string photo = jpegPhoto("p.jpg", 120, 80, 5);
    auto mask = std::make_shared<const Bitmap24>(mask_);
    const MaskProfile gamma18{true, LightCurve{[](double x) { return std::pow(x, 1.8); }}};
    auto run = [&](const std::string& out, bool chosen, const MaskProfile& profile) {
        BatchSettings s = settings(out);
        s.mode.method = CorrectionMethod::Exact;
        if (chosen) {
            s.mask = nullptr;
            s.chooseMask = [&](const std::string&) {
                BatchMaskChoice choice;
                choice.mask = mask;
                choice.name = "flat";
                choice.profile = profile;
                return choice;
            };
        } else {
            s.maskProfile = profile;
        }
        const auto results = RunBatch({photo}, s, 1);
        EXPECT_EQ(results[0].outcome, Outcome::Written) << results[0].reason;
        return bytesOf(results[0].written);
    };
    const std::vector<std::uint8_t> chosen = run("chosen", true, gamma18);
    EXPECT_EQ(chosen, run("one", false, gamma18));
    EXPECT_NE(chosen, run("plain", true, MaskProfile{}));
}

// Named outputs and the three ways with a taken name, with one and two jobs:
// the clash name keeps the old file, Replace writes over it, Skip leaves it
// and reports the photograph skipped (the name taken after any check made
// before the batch, as by another program).
TEST_F(Batch, NamedOutputs_TakenNamesGetAClashNameAreReplacedOrSkipped)
{
    const std::vector<std::string> photos = {jpegPhoto("a.jpg", 90, 60, 1), jpegPhoto("b.jpg", 90, 60, 2)};
    for (int jobs : {1, 2}) {
        SCOPED_TRACE(jobs);
        const struct {
            BatchSettings::Existing mode;
            Outcome first;
            const char* firstName;
        } rows[] = {
            {BatchSettings::Existing::ClashName, Outcome::Written, "x-1.777.jpg"},
            {BatchSettings::Existing::Replace, Outcome::Written, "x-1.jpg"},
            {BatchSettings::Existing::Skip, Outcome::Skipped, ""},
        };
        for (const auto& row : rows) {
            const std::string out = "named" + std::to_string(jobs) + "_" + std::to_string(int(row.mode));
            BatchSettings s = settings(out);
            s.existing = row.mode;
            s.outputPath = [&s](std::size_t index) { return s.folder + "/x-" + std::to_string(index + 1) + ".jpg"; };
            WriteFileAtomically(s.folder + "/x-1.jpg", std::vector<std::uint8_t>{'o', 'l', 'd'});
            const auto results = RunBatch(photos, s, jobs);
            EXPECT_EQ(results[0].outcome, row.first) << results[0].reason;
            EXPECT_EQ(results[0].written, row.firstName[0] ? s.folder + "/" + row.firstName : std::string());
            EXPECT_EQ(results[1].outcome, Outcome::Written);
            EXPECT_EQ(results[1].written, s.folder + "/x-2.jpg");
            const bool replaced = row.mode == BatchSettings::Existing::Replace;
            EXPECT_EQ(bytesOf(s.folder + "/x-1.jpg") == (std::vector<std::uint8_t>{'o', 'l', 'd'}), !replaced);
            // Written, the file is what the plain batch writes for it.
            if (row.first == Outcome::Written) {
                BatchSettings plain = settings(out + "_plain");
                RunBatch(photos, plain, jobs);
                EXPECT_EQ(bytesOf(results[0].written), bytesOf(plain.folder + "/a.jpg"));
            }
        }
    }
}

// With levels of each photograph, a photograph's file does not depend on
// which photograph of another size comes first; without, the first one's
// levels serve all (the window's "Save Images").
TEST_F(Batch, LevelsOfEachPhotograph_MakeTheResultIndependentOfTheList)
{
    // A mask with grain from column to column, so that the centre sample
    // differs with the size it is fitted to.
    for (int y = 0; y < mask_.height(); ++y)
        for (int x = 0; x < mask_.width(); ++x) {
            const auto v = std::uint8_t(200 + (x * 37 % 11) * 4);
            mask_.setPixel(x, y, packColour(v, v, v));
        }
    const std::string small = jpegPhoto("small.jpg", 31, 21, 3);
    const std::string a = jpegPhoto("a.jpg", 120, 40, 4);
    BatchSettings alone = settings("alone");
    alone.levelsOfEachPhotograph = true;
    RunBatch({a}, alone, 1);
    for (const bool own : {true, false}) {
        BatchSettings s = settings(own ? "own" : "first");
        s.levelsOfEachPhotograph = own;
        const auto results = RunBatch({small, a}, s, 2);
        ASSERT_TRUE(results[1].levels);
        EXPECT_EQ(bytesOf(s.folder + "/a.jpg") == bytesOf(alone.folder + "/a.jpg"), own);
        const HotspotLevels fitted = SampleCentreLevelsThrough(mask_, own ? 120 : 31, own ? 40 : 21);
        EXPECT_EQ(results[1].levels->r, fitted.r);
        EXPECT_EQ(results[1].width, 120);
    }
    // Photographs of the first one's size: both ways give the same files, so
    // lumivane-cli writes what the window's "Save Images" writes.
    const std::string b = jpegPhoto("b.jpg", 120, 40, 5);
    for (const bool own : {true, false}) {
        BatchSettings s = settings(own ? "same_own" : "same_first");
        s.levelsOfEachPhotograph = own;
        for (const auto& r : RunBatch({b, a}, s, 2))
            ASSERT_EQ(r.outcome, Outcome::Written) << r.reason;
    }
    for (const char* name : {"/a.jpg", "/b.jpg"})
        EXPECT_EQ(bytesOf(settings("same_own").folder + name), bytesOf(settings("same_first").folder + name)) << name;
}

} // namespace

// A pick on a 16-bit mask takes the pixel the view shows there; rounded to
// 8 bits it is the pick on the mask's 8-bit picture.
TEST(BatchHelpers, PanelLevelsAt16_ThePixelUnderThePick)
{
    const int width = 53, height = 37; // not a divisor of the view's size
    Bitmap48 mask16(width, height);
    Bitmap24 mask8(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                const auto v = std::uint16_t((x * 1237 + y * 977 + c * 20011) % 65536);
                mask16.row(y)[3 * x + c] = v;
                mask8.scanLine(y)[3 * x + c] = std::uint8_t((v + 128) / 257);
            }
    const std::pair<int, int> picks[] = {{0, 0}, {319, 239}, {160, 120}, {17, 201}, {300, 3}};
    for (const auto& [x, y] : picks) {
        SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
        const HotspotLevels sixteen = PanelLevelsAt16(mask16, x, y);
        const HotspotLevels eight = PanelLevelsAt(mask8, x, y);
        EXPECT_EQ((sixteen.r + 128) / 257, eight.r);
        EXPECT_EQ((sixteen.g + 128) / 257, eight.g);
        EXPECT_EQ((sixteen.b + 128) / 257, eight.b);
        // Not the centre's levels, away from it.
        if (x != 160) {
            EXPECT_NE(sixteen.r, SampleCentreLevels16(mask16).r);
        }
    }
    EXPECT_THROW(PanelLevelsAt16(mask16, 0, 240), std::invalid_argument);
}
