// SPDX-License-Identifier: GPL-3.0-or-later
// The memory budget as the user meets it: a photograph or mask above it is
// refused with a message naming the file, its size and the memory it would
// need, the workflow keeps what it showed, and a batch goes on with the next
// photograph; a genuine very large photograph within the budget is opened
// and saved.
#include "BatchRunner.h"
#include "BmpCodec.h"
#include "HostileFiles.h"
#include "JpegCodec.h"
#include "MemoryBudget.h"
#include "Workflow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>

using namespace lumivane;
using lumivane::test_support::ScopedEnv;
namespace ts = lumivane::test_support;
namespace fs = std::filesystem;

namespace {

class BudgetJob : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(folder.path() / "program");
        fs::create_directories(folder.path() / "out");
    }
    std::string file(const std::string& name) const { return folder.file(name); }
    std::string smallPhoto(const std::string& name, int w = 64, int h = 48) const
    {
        ts::WritePatternJpeg(file(name), w, h, 90);
        return file(name);
    }
    // 8000 x 6000: about 550 MiB for the job, far above a 64 MiB budget.
    std::string bigPhoto(const std::string& name) const
    {
        ts::WritePatternJpeg(file(name), 8000, 6000);
        return file(name);
    }
    std::string mask(int w = 40, int h = 30) const
    {
        Bitmap24 m(w, h);
        m.fill(packColour(200, 190, 180));
        WriteBmpFile(m, file("mask.bmp"));
        return file("mask.bmp");
    }
    std::vector<std::string> outFiles() const { return folder.names("out"); }
    BatchSettings batch(const Bitmap24& mask) const
    {
        BatchSettings settings;
        settings.mask = &mask;
        settings.folder = file("out");
        return settings;
    }
    // The parts every refusal of `path` at width x height must name: the
    // window counts four full-size copies; a batch counts its path's own
    // need, which is only said to pass the budget.
    static void expectRefusalOf(const std::string& text, const std::string& path, int width, int height,
                                bool window = true)
    {
        const std::uint64_t mib = (MemoryNeededFor(std::uint64_t(width), std::uint64_t(height)) + (1 << 20) - 1) >> 20;
        for (const std::string& part : {path, std::to_string(width) + " x " + std::to_string(height),
                                        window ? std::to_string(mib) + " MiB of memory" : std::string("MiB of memory"),
                                        std::string("more than the 64 MiB available")})
            EXPECT_NE(text.find(part), std::string::npos) << part << " missing from: " << text;
    }

    ts::TemporaryFolder folder{"lumivane-budget"};
};

TEST_F(BudgetJob, Workflow_PhotographAboveTheBudget_IsRefusedInTheStatusLine)
{
    const std::string small = smallPhoto("a.jpg");
    const std::string big = bigPhoto("big.jpg");
    ScopedEnv env(kMemoryLimitVariable, "64");
    Workflow flow(file("program"));
    flow.OpenList({small, big});
    ASSERT_TRUE(flow.LoadMask(mask()));
    ASSERT_TRUE(flow.photos().DecodeOk);
    flow.Step(+1);
    expectRefusalOf(flow.texts().Status, big, 8000, 6000);
    // As for any JPEG that cannot be decoded: the photograph shown before
    // stays, and is never saved under the refused one's name.
    EXPECT_FALSE(flow.photos().DecodeOk);
    EXPECT_EQ(flow.PhotoFull().width(), 64);
    flow.Step(-1);
    EXPECT_EQ(flow.texts().Status, " Showing a.jpg [1 of 2]");
    EXPECT_TRUE(flow.photos().DecodeOk);
}

// A decode that runs out of memory (made to here at the picture's header)
// is named as such in the status line, nothing shown.
TEST_F(BudgetJob, Workflow_RunningOutOfMemoryWhileDecoding_IsNamedInTheStatusLine)
{
    const std::string photo = smallPhoto("a.jpg");
    Workflow flow(file("program"));
    {
        const ScopedSizeCheck exhausted([](std::uint64_t, std::uint64_t, std::uint64_t) { throw std::bad_alloc(); });
        flow.OpenList({photo, smallPhoto("b.jpg")});
    }
    EXPECT_EQ(flow.texts().Status, " a.jpg: out of memory while decoding it");
    EXPECT_FALSE(flow.photos().DecodeOk);
    flow.Step(+1);
    EXPECT_EQ(flow.texts().Status, " Showing b.jpg [2 of 2]");
    EXPECT_TRUE(flow.photos().DecodeOk);
}

TEST_F(BudgetJob, Workflow_MaskAboveTheBudget_KeepsTheLoadedMask)
{
    const std::string bigMask = bigPhoto("big_mask.jpg");
    ScopedEnv env(kMemoryLimitVariable, "64");
    Workflow flow(file("program"));
    flow.OpenList({smallPhoto("a.jpg")});
    ASSERT_TRUE(flow.LoadMask(mask()));
    EXPECT_FALSE(flow.LoadMask(bigMask));
    expectRefusalOf(flow.texts().Status, bigMask, 8000, 6000);
    EXPECT_EQ(flow.texts().Status.rfind(" Can not load mask: ", 0), 0u) << flow.texts().Status;
    EXPECT_TRUE(flow.mask().MaskLoaded);
    EXPECT_EQ(flow.mask().MaskWidth, 40);
    EXPECT_EQ(flow.photos().MaskFile, file("mask.bmp"));
}

TEST_F(BudgetJob, Batch_PhotographAboveTheBudget_IsReportedAndTheBatchGoesOn)
{
    const std::string big = bigPhoto("b.jpg");
    const std::vector<std::string> photos = {smallPhoto("a.jpg"), big, smallPhoto("c.jpg")};
    Bitmap24 m(40, 30);
    m.fill(packColour(200, 190, 180));
    const BatchSettings settings = batch(m);
    ScopedEnv env(kMemoryLimitVariable, "64");
    for (int jobs : {1, 2}) {
        SCOPED_TRACE(::testing::Message() << jobs << " jobs");
        for (const std::string& name : outFiles())
            fs::remove(folder.path() / "out" / name);
        const std::vector<BatchPhotoResult> results = RunBatch(photos, settings, jobs);
        ASSERT_EQ(results.size(), 3u);
        EXPECT_EQ(results[0].outcome, BatchPhotoResult::Outcome::Written);
        EXPECT_EQ(results[1].outcome, BatchPhotoResult::Outcome::Unreadable);
        expectRefusalOf(results[1].reason, big, 8000, 6000, false);
        EXPECT_EQ(results[2].outcome, BatchPhotoResult::Outcome::Written);
        EXPECT_EQ(outFiles(), (std::vector<std::string>{"a.jpg", "c.jpg"}));
    }
}

// Running out of memory while the mask is made for a photograph's size is
// named with that step, nothing of that photograph is written, and the batch
// goes on with the next.
TEST_F(BudgetJob, Batch_RunningOutOfMemoryWhileFittingTheMask_IsNamedAndTheBatchGoesOn)
{
    const std::vector<std::string> photos = {smallPhoto("a.jpg"), smallPhoto("b.jpg", 80, 60)};
    auto flat = std::make_shared<Bitmap24>(40, 30);
    flat->fill(packColour(200, 190, 180));
    BatchSettings settings;
    settings.folder = file("out");
    settings.chooseMask = [flat](const std::string& photo) {
        BatchMaskChoice choice;
        choice.name = "flat";
        choice.mask = flat;
        if (photo.find("a.jpg") != std::string::npos)
            choice.maskForSize = [](int, int) -> std::shared_ptr<const Bitmap24> { throw std::bad_alloc(); };
        return choice;
    };
    for (int jobs : {1, 2}) {
        SCOPED_TRACE(::testing::Message() << jobs << " jobs");
        for (const std::string& name : outFiles())
            fs::remove(folder.path() / "out" / name);
        const std::vector<BatchPhotoResult> results = RunBatch(photos, settings, jobs);
        ASSERT_EQ(results.size(), 2u);
        EXPECT_EQ(results[0].outcome, BatchPhotoResult::Outcome::WriteFailed);
        EXPECT_EQ(results[0].reason, "out of memory while fitting the mask to it");
        EXPECT_EQ(results[1].outcome, BatchPhotoResult::Outcome::Written) << results[1].reason;
        EXPECT_EQ(outFiles(), (std::vector<std::string>{"b.jpg"}));
        EXPECT_EQ(ReservedMemoryBytes(), 0u);
    }
}

// Two workers whose photographs each need most of the budget take turns:
// while a photograph is finished, the reservations of the whole process
// (its share and the mask's) never pass the budget, and every photograph of
// the batch (JPEGs streamed, a BMP decoded whole) is written.
TEST_F(BudgetJob, Batch_WorkersTogetherNeverReserveMoreThanTheBudget)
{
    // A streamed 720 x 540 JPEG needs about 1.9 MB (its fitted mask, bands
    // and output), so one fits a 2 MiB budget and two not; the BMP, decoded
    // whole, needs less than half of that.
    std::vector<std::string> photos = {smallPhoto("a.jpg", 720, 540), smallPhoto("b.jpg", 720, 540),
                                       smallPhoto("c.jpg", 720, 540)};
    Bitmap24 picture(320, 240);
    picture.fill(packColour(90, 100, 110));
    WriteBmpFile(picture, file("d.bmp"));
    photos.push_back(file("d.bmp"));
    Bitmap24 m(40, 30);
    m.fill(packColour(200, 190, 180));
    const BatchSettings settings = batch(m);
    ScopedEnv env(kMemoryLimitVariable, "2");
    std::mutex seen;
    std::vector<std::uint64_t> reserved;
    const std::vector<BatchPhotoResult> results =
        RunBatch(photos, settings, 2, [&](const BatchPhotoResult&, int, int) {
            const std::lock_guard<std::mutex> lock(seen);
            reserved.push_back(ReservedMemoryBytes());
        });
    ASSERT_EQ(results.size(), 4u);
    for (const BatchPhotoResult& r : results)
        EXPECT_EQ(r.outcome, BatchPhotoResult::Outcome::Written) << r.source << ": " << r.reason;
    ASSERT_EQ(reserved.size(), 4u);
    for (const std::uint64_t bytes : reserved)
        EXPECT_LE(bytes, 2u << 20);
    // A JPEG's share is more than half the budget: the other worker's JPEG
    // could not have been held beside it, so they took turns.
    EXPECT_GT(*std::max_element(reserved.begin(), reserved.end()), 1u << 20);
    EXPECT_EQ(ReservedMemoryBytes(), 0u);
}

// A batch writing TIFFs reserves for the depth they get: 16 bits a channel
// when chosen or when the photograph, a TIFF, may have them (its 16-bit
// picture is read again beside the 8-bit one); 8 bits otherwise.
TEST_F(BudgetJob, Batch_ReservesForTheOutputsFormatAndDepth)
{
    Bitmap24 picture(80, 60);
    picture.fill(packColour(90, 100, 110));
    WriteBmpFile(picture, file("p.bmp"));
    ts::WritePatternTiff(file("t.tif"), 80, 60);
    Bitmap24 m(40, 30);
    m.fill(packColour(200, 190, 180));
    const auto reservedFor = [&](const char* photo, bool tiff, int depth) {
        SCOPED_TRACE(std::string(photo) + (tiff ? " to TIFF depth " + std::to_string(depth) : " to JPEG"));
        for (const std::string& name : outFiles())
            fs::remove(folder.path() / "out" / name);
        BatchSettings settings = batch(m);
        settings.tiff = tiff;
        settings.depth = depth;
        std::uint64_t reserved = 0;
        const std::vector<BatchPhotoResult> results = RunBatch(
            {file(photo)}, settings, 1, [&](const BatchPhotoResult&, int, int) { reserved = ReservedMemoryBytes(); });
        EXPECT_EQ(results.at(0).outcome, BatchPhotoResult::Outcome::Written) << results[0].reason;
        return reserved;
    };
    constexpr std::uint64_t kPicture16 = 80 * 60 * kBytesPerPixel16;
    // A TIFF photograph at its own depth or at 16 bits holds its 16-bit
    // picture besides; at 8 bits, or as a JPEG, it does not.
    const std::uint64_t tiffOwn = reservedFor("t.tif", true, 0);
    EXPECT_EQ(reservedFor("t.tif", true, 16), tiffOwn);
    EXPECT_GE(tiffOwn, reservedFor("t.tif", true, 8) + kPicture16);
    EXPECT_LT(reservedFor("t.tif", false, 0), tiffOwn - kPicture16);
    // A BMP has 8 bits: only a chosen depth of 16 widens its rows.
    const std::uint64_t bmpOwn = reservedFor("p.bmp", true, 0);
    EXPECT_EQ(reservedFor("p.bmp", true, 8), bmpOwn);
    EXPECT_GT(reservedFor("p.bmp", true, 16), bmpOwn);
    EXPECT_LT(reservedFor("p.bmp", true, 16), bmpOwn + kPicture16);
}

// 270 megapixels: about 3 GiB for the job, well within half of this
// machine's memory. Takes a few seconds in an optimised build; skipped in the
// sanitizer builds, where it takes minutes.
TEST_F(BudgetJob, Batch_GenuinePanoramaOf18000x15000_OpensAndSaves)
{
    if (ts::UnderSanitizer())
        GTEST_SKIP() << "too slow under the sanitizers";
    constexpr int kWidth = 18000, kHeight = 15000;
    if (MemoryNeededFor(kWidth, kHeight) > MemoryBudgetBytes())
        GTEST_SKIP() << "this machine's memory budget is below " << (MemoryNeededFor(kWidth, kHeight) >> 20) << " MiB";
    const std::string photo = file("pano.jpg");
    ts::WritePatternJpeg(photo, kWidth, kHeight, 50);
    Bitmap24 m(60, 40);
    m.fill(packColour(200, 190, 180));
    BatchSettings settings = batch(m);
    settings.quality = 50;
    const std::vector<BatchPhotoResult> results = RunBatch({photo}, settings, 1);
    ASSERT_EQ(results.size(), 1u);
    ASSERT_EQ(results[0].outcome, BatchPhotoResult::Outcome::Written) << results[0].reason;
    TJPEGImage written;
    written.LoadFromFile(results[0].written);
    EXPECT_EQ(written.Width(), kWidth);
    EXPECT_EQ(written.Height(), kHeight);
}

} // namespace
