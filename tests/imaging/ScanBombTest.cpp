// SPDX-License-Identifier: GPL-3.0-or-later
// Progressive JPEGs that repeat a scan thousands of times (libjpeg decodes
// every repetition again, with only a warning) are refused after 100 scans;
// a decode can be abandoned from outside through the stop flag.
#include "HostileFiles.h"
#include "ImagingTestUtil.h"
#include "JpegCodec.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace lumivane;
using namespace lumivane::testing;
namespace ts = lumivane::test_support;

namespace {

int scansOf(const std::vector<std::uint8_t>& jpeg)
{
    int scans = 0;
    for (std::size_t i = 0; i + 1 < jpeg.size(); ++i)
        scans += jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA;
    return scans;
}

} // namespace

// A few repeated scans still decode to the picture's pixels; a file that
// repeats its scans far beyond what any encoder writes (more than 100 scans,
// or more than 16 times the picture's blocks decoded over all scans) is
// refused with a message saying why, well within two seconds.
TEST(ScanBomb, RepeatedScans_AreRefusedQuickly)
{
    const std::vector<std::uint8_t> honest = ts::PatternProgressiveJpeg(320, 240);
    ASSERT_EQ(scansOf(honest), 10); // libjpeg's own progressive script
    TJPEGImage reference;
    reference.LoadFromBytes(honest);
    const Bitmap24 expected = reference.Decode();
    const struct {
        int scans;
        bool decodes;
    } cases[] = {{10, true}, {20, true}, {60, false}, {101, false}, {5000, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scans);
        const std::vector<std::uint8_t> bytes = ts::RepeatLastScan(honest, c.scans);
        ASSERT_EQ(scansOf(bytes), c.scans);
        TJPEGImage image;
        image.LoadFromBytes(bytes);
        const auto started = std::chrono::steady_clock::now();
        if (c.decodes) {
            // A repeated refinement scan refines nothing further.
            EXPECT_LE(maxDifference(image.Decode(), expected), 2);
            continue;
        }
        try {
            image.Decode();
            ADD_FAILURE() << "decoded";
        } catch (const JpegError& e) {
            const std::string text = e.what();
            EXPECT_TRUE(text.starts_with("JPEG has more than 100 scans") ||
                        text.starts_with("JPEG scans repeat its blocks too often"))
                << text;
        }
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), 2.0);
    }
}

// The progress monitor sees the stop flag: set before a decode it abandons
// it at once; set between two bands of a streamed decode, the next band
// raises. The reader made under the flag keeps it wherever its rows are read.
TEST(ScanBomb, StopFlag_AbandonsTheDecodeInProgress)
{
    std::atomic<bool> stop{false};
    TJPEGImage progressive;
    progressive.LoadFromBytes(ts::PatternProgressiveJpeg(320, 240));
    TJPEGImage baseline;
    baseline.LoadFromBytes(EncodeJpeg(patternBitmap(320, 240), 90));
    std::unique_ptr<JpegRowReader> reader;
    {
        const ScopedDecodeStop watch(&stop);
        EXPECT_EQ(progressive.Decode().width(), 320); // the flag unset: decodes
        stop = true;
        EXPECT_THROW(progressive.Decode(), DecodeStoppedError);
        EXPECT_THROW(baseline.Decode(), DecodeStoppedError);
        stop = false;
        reader = std::make_unique<JpegRowReader>(baseline);
    }
    std::vector<std::uint8_t> rows(320 * 3 * 16);
    reader->ReadRows(rows.data(), 320 * 3, 16);
    stop = true;
    EXPECT_THROW(reader->ReadRows(rows.data(), 320 * 3, 16), DecodeStoppedError);
    EXPECT_TRUE(reader->Failed());
    // Outside the scope decodes ignore the flag.
    EXPECT_EQ(baseline.Decode().width(), 320);
}
