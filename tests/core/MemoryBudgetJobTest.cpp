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

#include <filesystem>
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
    // The parts every refusal of `path` at width x height must name.
    static void expectRefusalOf(const std::string& text, const std::string& path, int width, int height)
    {
        const std::uint64_t mib = (MemoryNeededFor(std::uint64_t(width), std::uint64_t(height)) + (1 << 20) - 1) >> 20;
        for (const std::string& part : {path, std::to_string(width) + " x " + std::to_string(height),
                                        std::to_string(mib) + " MiB"})
            EXPECT_NE(text.find(part), std::string::npos) << part << " missing from: " << text;
    }

    ts::TempFolder folder{"lumivane-budget"};
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
        const ScopedSizeCheck exhausted([](std::uint64_t, std::uint64_t) { throw std::bad_alloc(); });
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
        expectRefusalOf(results[1].reason, big, 8000, 6000);
        EXPECT_EQ(results[2].outcome, BatchPhotoResult::Outcome::Written);
        EXPECT_EQ(outFiles(), (std::vector<std::string>{"a.jpg", "c.jpg"}));
    }
}

// Two workers whose photographs each need most of the budget take turns:
// while a photograph is finished, the reservations of the whole process
// hold its share and never more than the budget, and every photograph of
// the batch (JPEGs streamed, a BMP decoded whole) is written.
TEST_F(BudgetJob, Batch_WorkersTogetherNeverReserveMoreThanTheBudget)
{
    // 400 x 300: 1.4 MB for a job, so one fits a 2 MiB budget and two not.
    std::vector<std::string> photos = {smallPhoto("a.jpg", 400, 300), smallPhoto("b.jpg", 400, 300),
                                       smallPhoto("c.jpg", 400, 300)};
    Bitmap24 picture(400, 300);
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
        EXPECT_EQ(bytes, MemoryNeededFor(400, 300));
    EXPECT_EQ(ReservedMemoryBytes(), 0u);
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
