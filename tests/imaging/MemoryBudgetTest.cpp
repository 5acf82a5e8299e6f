// SPDX-License-Identifier: GPL-3.0-or-later
// The memory budget: where it comes from, what a picture needs, and the
// readers refusing pictures above it (and files that only claim a huge size)
// before anything of that size is allocated.
#include "MemoryBudget.h"

#include "BmpCodec.h"
#include "FileIO.h"
#include "HostileFiles.h"
#include "ImageFile.h"
#include "ImagingTestUtil.h"
#include "JpegCodec.h"
#include "TiffReader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <limits>
#include <optional>
#include <thread>

using namespace lumivane;
using lumivane::test_support::ScopedEnv;
namespace ts = lumivane::test_support;

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

struct BudgetCase {
    const char* variable; // nullptr: not set
    std::uint64_t expectedMiB; // 0: half of the physical memory
};

TEST(MemoryBudget, ComesFromTheVariableWhenItIsAPositiveWholeNumber)
{
    const BudgetCase cases[] = {{"64", 64}, {"1", 1}, {"300000", 300000}, {nullptr, 0}, {"", 0}};
    ASSERT_GT(PhysicalMemoryBytes(), 0u);
    for (const BudgetCase& c : cases) {
        SCOPED_TRACE(c.variable ? c.variable : "(unset)");
        ScopedEnv env(kMemoryLimitVariable, c.variable ? std::optional<std::string>(c.variable) : std::nullopt);
        const std::uint64_t expected = c.expectedMiB != 0 ? c.expectedMiB * kMiB : PhysicalMemoryBytes() / 2;
        EXPECT_EQ(MemoryBudgetBytes(), expected);
    }
}

// Anything else in the variable is an error naming it and its value, never
// a silent fall-back to half of the machine.
TEST(MemoryBudget, MalformedVariable_IsAnErrorNamingIt)
{
    for (const char* text : {"0", "-3", "12abc", "abc", " 64", "64 ", "1.5", "99999999999999999999"}) {
        SCOPED_TRACE(text);
        ScopedEnv env(kMemoryLimitVariable, std::string(text));
        try {
            MemoryBudgetBytes();
            ADD_FAILURE() << "accepted";
        } catch (const MemoryLimitSettingError& e) {
            EXPECT_EQ(std::string(e.what()), std::string("LUMIVANE_MEMORY_LIMIT_MIB=\"") + text +
                                                 "\" is not a positive whole number of mebibytes");
        }
    }
}

TEST(MemoryBudget, NeedCountsEveryFullSizeBufferAndSaturates)
{
    struct Need {
        std::uint64_t width, height, bytes;
    };
    constexpr std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
    const Need cases[] = {
        {1, 1, kFullSizeBuffers * kBytesPerPixel},
        {8000, 6000, 48000000 * kFullSizeBuffers * kBytesPerPixel},
        {0, 65000, 0},
        {std::uint64_t(1) << 32, std::uint64_t(1) << 32, most}, // the pixel count itself overflows
        {std::uint64_t(1) << 31, std::uint64_t(1) << 31, most}, // the bytes overflow
    };
    for (const Need& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height);
        EXPECT_EQ(MemoryNeededFor(c.width, c.height), c.bytes);
    }
}

TEST(MemoryBudget, RefusalNamesFileSizeAndMemory)
{
    ScopedEnv env(kMemoryLimitVariable, "64");
    RequireMemoryFor(2000, 2000, "/p/fits.jpg"); // 46 MiB
    try {
        RequireMemoryFor(8000, 6000, "/p/big.jpg");
        FAIL() << "not refused";
    } catch (const MemoryBudgetError& e) {
        const std::string text = e.what();
        const std::uint64_t need = MemoryNeededFor(8000, 6000);
        const std::string needText = std::to_string((need + kMiB - 1) / kMiB) + " MiB";
        for (const std::string& part : {std::string("'/p/big.jpg'"), std::string("8000 x 6000"), needText,
                                        std::string("64 MiB")})
            EXPECT_NE(text.find(part), std::string::npos) << part << " missing from: " << text;
        EXPECT_EQ(e.NeededBytes(), need);
        EXPECT_EQ(e.BudgetBytes(), 64 * kMiB);
        EXPECT_EQ(e.Named("/q/other.bmp").File(), "/q/other.bmp");
    }
    // A side too long for the readers' row arithmetic is refused whatever
    // the budget says.
    ScopedEnv unlimited(kMemoryLimitVariable, "100000000000");
    EXPECT_THROW(RequireMemoryFor(kMaxPictureSide + 1, 1), MemoryBudgetError);
    EXPECT_NO_THROW(RequireMemoryFor(kMaxPictureSide, 1));
}

// One picture kind written at a given size.
struct Kind {
    const char* name;
    const char* file;
    void (*write)(const std::string& path, int width, int height);
};

void writeJpeg(const std::string& path, int width, int height)
{
    ts::WritePatternJpeg(path, width, height);
}
void writeBmp(const std::string& path, int width, int height)
{
    WriteBmpFile(lumivane::testing::patternBitmap(width, height), path);
}

const Kind kKinds[] = {
    {"JPEG", "photo.jpg", writeJpeg},
    {"BMP", "photo.bmp", writeBmp},
    {"TIFF", "photo.tif", ts::WritePatternTiff},
};

TEST(MemoryBudget, EachReader_DecodesUpToTheBudgetAndRefusesOnePixelRowMore)
{
    // 1 MiB holds 87,381 pixels: 256 x 341 fit, 256 x 342 do not.
    ScopedEnv env(kMemoryLimitVariable, "1");
    ASSERT_LE(MemoryNeededFor(256, 341), kMiB);
    ASSERT_GT(MemoryNeededFor(256, 342), kMiB);
    lumivane::testing::ScratchDir dir;
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        const std::string fits = dir.file(std::string("fits_") + kind.file);
        const std::string over = dir.file(std::string("over_") + kind.file);
        kind.write(fits, 256, 341);
        kind.write(over, 256, 342);
        Bitmap24 decoded;
        ASSERT_TRUE(DecodeBySuffix(fits, decoded, JpegSmoothing::Off));
        EXPECT_EQ(decoded.width(), 256);
        EXPECT_EQ(decoded.height(), 341);
        // A refusal leaves the bitmap it was decoding into as it was.
        Bitmap24 kept = lumivane::testing::patternBitmap(3, 2);
        try {
            DecodeBySuffix(over, kept, JpegSmoothing::Off);
            ADD_FAILURE() << "not refused";
        } catch (const MemoryBudgetError& e) {
            EXPECT_EQ(e.File(), over);
            EXPECT_EQ(e.Width(), 256u);
            EXPECT_EQ(e.Height(), 342u);
        }
        EXPECT_EQ(kept.width(), 3);
    }
}

TEST(MemoryBudget, AJpegReadARowBandAtATime_IsRefusedLikeOneDecodedWhole)
{
    ScopedEnv env(kMemoryLimitVariable, "1");
    lumivane::testing::ScratchDir dir;
    const std::string over = dir.file("over.jpg");
    writeJpeg(over, 256, 342);
    TJPEGImage image;
    image.LoadFromFile(over);
    try {
        JpegRowReader reader(image);
        ADD_FAILURE() << "not refused";
    } catch (const MemoryBudgetError& e) {
        EXPECT_EQ(e.File(), over);
        EXPECT_EQ(e.Height(), 342u);
    }
}

// How each crafted file is refused: a BMP's pixel array is checked against
// the file first, so it is refused as truncated; JPEG and TIFF data may be
// shorter than the picture, so those two meet the budget.
enum class Refusal { Truncated, OverBudget };

struct ClaimedHuge {
    std::string path;
    Refusal refusal;
};

std::vector<ClaimedHuge> claimedHugeFiles()
{
    const std::vector<std::string> files = ts::ClaimedHugeFiles();
    return {{files[0], Refusal::Truncated}, {files[1], Refusal::OverBudget}, {files[2], Refusal::OverBudget}};
}

// Decodes `path` and says how it went: 0 refused as expected, 1 decoded,
// 2 another error, 3 out of memory (a large allocation was attempted).
int decodeOutcome(const std::string& path, Refusal expected, std::string* message = nullptr)
{
    Bitmap24 into;
    try {
        DecodeBySuffix(path, into, JpegSmoothing::Off);
        return 1;
    } catch (const std::bad_alloc&) {
        return 3;
    } catch (const std::exception& e) {
        if (message)
            *message = e.what();
        const bool budget = dynamic_cast<const MemoryBudgetError*>(&e) != nullptr;
        const bool truncated = dynamic_cast<const BmpError*>(&e) != nullptr &&
                               std::string(e.what()).find("truncated") != std::string::npos;
        return (expected == Refusal::OverBudget ? budget : truncated) && into.empty() ? 0 : 2;
    }
}

TEST(MemoryBudget, ClaimedHugeFiles_AreRefusedAtOnce)
{
    for (const ClaimedHuge& file : claimedHugeFiles()) {
        SCOPED_TRACE(file.path);
        ASSERT_LT(std::filesystem::file_size(file.path), 1000u);
        std::string message;
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(decodeOutcome(file.path, file.refusal, &message), 0) << message;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        EXPECT_LT(seconds, 0.5);
        if (file.refusal == Refusal::OverBudget) {
            EXPECT_NE(message.find(file.path), std::string::npos) << message;
            EXPECT_NE(message.find("65000 x 65000"), std::string::npos) << message;
        }
    }
}

// The refusals happen before anything large is allocated: in a child whose
// address space cannot take one more gigabyte, each file still gets its
// refusal (an attempted large allocation would end in std::bad_alloc there).
TEST(MemoryBudget, Refusals_AllocateNothingLarge)
{
    if (ts::UnderSanitizer())
        GTEST_SKIP() << "the sanitizers reserve terabytes of address space of their own";
    constexpr std::uint64_t kLimit = 1024 * kMiB;
    for (const ClaimedHuge& file : claimedHugeFiles()) {
        SCOPED_TRACE(file.path);
        EXPECT_EQ(ts::RunWithAddressSpaceLimit(kLimit, [&] { return decodeOutcome(file.path, file.refusal); }), 0);
    }
    // Under a budget that would allow it, the BMP far shorter than the
    // pixels it claims is still refused before its picture is allocated.
    ScopedEnv generous(kMemoryLimitVariable, "100000000");
    const ClaimedHuge bmp = claimedHugeFiles()[0];
    EXPECT_EQ(ts::RunWithAddressSpaceLimit(kLimit, [&] { return decodeOutcome(bmp.path, Refusal::Truncated); }), 0);
}

// A decoder tells what it holds beside the picture it delivers, and a
// ScopedMemoryNeed decides what of it the job needs. A progressive JPEG
// holds every 8 x 8 block's 64 two-byte coefficients: at 4:2:0 a 100 x 60
// picture is 7 x 4 MCUs of 16 x 16 pixels, each four luma blocks and two
// chroma blocks, 168 blocks, 21,504 bytes; a baseline one a few rows of
// blocks. Both also hold their file.
TEST(MemoryNeed, DecodersTellWhatTheyHoldBesideThePicture)
{
    struct Case {
        const char* name;
        std::vector<std::uint8_t> file;
        std::uint64_t beyondTheFile;
    };
    ts::TemporaryFolder folder("lumivane-need");
    ts::WritePatternJpeg(folder.file("baseline.jpg"), 100, 60);
    const Case cases[] = {
        {"progressive.jpg", ts::PatternProgressiveJpeg(100, 60), 168 * 64 * 2},
        {"baseline.jpg", ReadWholeFile(folder.file("baseline.jpg")), 100 * 3 * 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TJPEGImage jpeg;
        jpeg.LoadFromBytes(c.file);
        std::optional<PictureCost> seen;
        {
            const ScopedMemoryNeed need([&](const PictureCost& cost) {
                seen = cost;
                return PictureAloneNeed(cost);
            });
            EXPECT_EQ(jpeg.Decode().width(), 100);
        }
        ASSERT_TRUE(seen);
        EXPECT_EQ(seen->width, 100u);
        EXPECT_EQ(seen->height, 60u);
        EXPECT_EQ(seen->PictureBytes(), 100u * 60 * 3);
        EXPECT_EQ(seen->workingBytes, c.file.size() + c.beyondTheFile);
    }
}

// The need decides: at a 1 MiB budget the window's four copies of a
// 400 x 300 picture (1.4 MB) are refused, the picture alone is decoded, and
// a need past the budget is refused naming it; the size check sees the
// need that passed.
TEST(MemoryNeed, TheScopedNeedIsWhatTheBudgetChecks)
{
    ScopedEnv env(kMemoryLimitVariable, "1");
    TJPEGImage jpeg;
    jpeg.LoadFromBytes(ts::PatternProgressiveJpeg(400, 300));
    EXPECT_THROW(jpeg.Decode(), MemoryBudgetError);
    std::uint64_t checked = 0;
    const ScopedSizeCheck check([&](std::uint64_t, std::uint64_t, std::uint64_t needed) { checked = needed; });
    {
        const ScopedMemoryNeed alone(PictureAloneNeed);
        EXPECT_EQ(jpeg.Decode().height(), 300);
        EXPECT_GT(checked, 400u * 300 * 3);
        EXPECT_LT(checked, kMiB);
    }
    const ScopedMemoryNeed tooMuch([](const PictureCost&) { return kMiB + 1; });
    try {
        jpeg.Decode();
        ADD_FAILURE() << "decoded past the budget";
    } catch (const MemoryBudgetError& e) {
        EXPECT_EQ(e.NeededBytes(), kMiB + 1);
        EXPECT_NE(std::string(e.what()).find("need 2 MiB of memory, more than the 1 MiB available"), std::string::npos)
            << e.what();
    }
}

// Storage held for a while (a batch's mask) counts against the reservations
// taken beside it, but is never waited for: a reservation taken while only
// held storage is in the pool is alone.
TEST(MemoryReservation, HeldStorageCountsButIsNeverWaitedFor)
{
    ScopedEnv env(kMemoryLimitVariable, "100");
    ASSERT_EQ(ReservedMemoryBytes(), 0u);
    MemoryReservation mask = MemoryReservation::Hold(70 * kMiB);
    EXPECT_EQ(ReservedMemoryBytes(), 70 * kMiB);
    std::optional<MemoryReservation> first = MemoryReservation::Take(20 * kMiB, {});
    ASSERT_TRUE(first);
    std::atomic<bool> taken{false};
    std::optional<MemoryReservation> second;
    std::thread waiter([&] {
        second = MemoryReservation::Take(20 * kMiB, {});
        taken = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(taken.load()) << "70 + 20 + 20 MiB passed a 100 MiB budget";
    first.reset();
    waiter.join();
    ASSERT_TRUE(second);
    EXPECT_EQ(ReservedMemoryBytes(), 90 * kMiB);
    second.reset();
    mask.Release();
    EXPECT_EQ(ReservedMemoryBytes(), 0u);
}

// The process's reservations are one pool: a reservation that would take
// the pool past the budget waits until another is released, and a waiter
// told to give up gets nothing; alone in the pool, any reservation is
// granted. The pause before the release only gives a faulty wait the
// chance to show: it cannot make a correct one fail.
TEST(MemoryReservation, WaitsWhileOthersHoldTooMuchOfTheBudget)
{
    ScopedEnv env(kMemoryLimitVariable, "100");
    ASSERT_EQ(ReservedMemoryBytes(), 0u);
    std::optional<MemoryReservation> first = MemoryReservation::Take(60 * kMiB, {});
    ASSERT_TRUE(first);
    EXPECT_EQ(ReservedMemoryBytes(), 60 * kMiB);
    // Room for this one beside the first.
    {
        std::optional<MemoryReservation> small = MemoryReservation::Take(40 * kMiB, {});
        ASSERT_TRUE(small);
        EXPECT_EQ(ReservedMemoryBytes(), 100 * kMiB);
    }
    EXPECT_EQ(ReservedMemoryBytes(), 60 * kMiB);

    std::atomic<bool> taken{false};
    std::optional<MemoryReservation> second;
    std::thread waiter([&] {
        second = MemoryReservation::Take(60 * kMiB, {});
        taken = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(taken.load());
    first->Release();
    waiter.join();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->Bytes(), 60 * kMiB);
    EXPECT_EQ(ReservedMemoryBytes(), 60 * kMiB);

    std::atomic<bool> stop{false};
    std::optional<MemoryReservation> givenUp;
    std::thread quitter([&] { givenUp = MemoryReservation::Take(60 * kMiB, [&] { return stop.load(); }); });
    stop = true;
    quitter.join();
    EXPECT_FALSE(givenUp);
    EXPECT_EQ(ReservedMemoryBytes(), 60 * kMiB);

    // Moving a reservation moves its share; the moved-from one holds none.
    MemoryReservation moved = std::move(*second);
    EXPECT_EQ(second->Bytes(), 0u);
    second.reset();
    EXPECT_EQ(ReservedMemoryBytes(), 60 * kMiB);
    moved.Release();
    EXPECT_EQ(ReservedMemoryBytes(), 0u);
    // Alone in the pool, a reservation above the budget is granted.
    EXPECT_TRUE(MemoryReservation::Take(200 * kMiB, {}));
    EXPECT_EQ(ReservedMemoryBytes(), 0u);
}

} // namespace

// A small picture whose one strip libtiff would decode into 340 MB (65,533
// samples a pixel, a fuzzer's find) is refused by the budget before any
// strip is read, under a budget its picture alone fits easily, and allocates
// nothing large on the way.
TEST(MemoryBudget, TiffWhoseStripBufferPassesTheBudget_IsRefused)
{
    const std::string path = ts::FuzzSeed("tiffread", "samples_65533.tif");
    ScopedEnv budget(kMemoryLimitVariable, "64");
    std::string message;
    EXPECT_EQ(decodeOutcome(path, Refusal::OverBudget, &message), 0) << message;
    EXPECT_NE(message.find(path), std::string::npos) << message;
    if (!ts::UnderSanitizer()) {
        EXPECT_EQ(ts::RunWithAddressSpaceLimit(256 * kMiB, [&] { return decodeOutcome(path, Refusal::OverBudget); }),
                  0);
    }
}
