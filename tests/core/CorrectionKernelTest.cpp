// SPDX-License-Identifier: GPL-3.0-or-later
#include "CorrectionReference.h"
#include "CorrectionKernel.h"
#include "TestOracles.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace lumivane {
namespace {

// Pixel helpers: bytes are blue, green, red.
std::uint8_t& byteAt(Bitmap24& bmp, int x, int y, int channel)
{
    return bmp.scanLine(y)[3 * x + channel];
}


TEST(Damping, FallsFrom25_01To0_01WithStrength)
{
    EXPECT_EQ(DampingForStrength(0), 25.01f);
    EXPECT_EQ(DampingForStrength(100), 0.01f);
    EXPECT_EQ(DampingForStrength(1), 24.76f);
    EXPECT_EQ(DampingForStrength(50), 12.51f);
    EXPECT_NEAR(double(DampingForStrength(0)), 25.0100002, 1e-7);
    EXPECT_NEAR(double(DampingForStrength(100)), 0.0099999998, 1e-10);
}

TEST(Targets, ShiftHotspotByBrightness)
{
    const CorrectionTargets neutral = TargetsFor(200, 190, 180, 25);
    EXPECT_EQ(neutral.r, 200);
    EXPECT_EQ(neutral.g, 190);
    EXPECT_EQ(neutral.b, 180);
    const CorrectionTargets dark = TargetsFor(200, 190, 180, 0);
    EXPECT_EQ(dark.r, 175);
    EXPECT_EQ(dark.b, 155);
    const CorrectionTargets bright = TargetsFor(255, 0, 10, 50);
    EXPECT_EQ(bright.r, 280);
    EXPECT_EQ(bright.g, 25);
    EXPECT_EQ(bright.b, 35);
}

struct WorkedPixel {
    int v, m, target, strength;
    double f;
    int expected;
};

const WorkedPixel kWorkedPixels[] = {
    {100, 150, 200, 0, 39.9968, 140}, {10, 150, 200, 0, 14.2816, 24},  {0, 150, 200, 0, 0.0, 0},
    {100, 150, 200, 100, 49.9950, 150}, {200, 220, 200, 0, -17.7770, 182}, {250, 100, 200, 100, 99.9960, 255},
    {50, 100, 225, 0, 83.3222, 133},
};

TEST(CorrectionFormula, WorkedPixelsGiveListedFactorsAndResults)
{
    for (const WorkedPixel& w : kWorkedPixels) {
        const float damping = DampingForStrength(w.strength);
        const std::uint8_t v = std::uint8_t(w.v), m = std::uint8_t(w.m);
        EXPECT_NEAR(double(CorrectionFactor(v, m, w.target, damping)), w.f, 0.00005) << "v=" << w.v << " m=" << w.m;
        EXPECT_EQ(int(CorrectChannelReference(v, m, w.target, damping)), w.expected) << "v=" << w.v << " m=" << w.m;
    }
}

TEST(CorrectionKernel, WorkedPixelsThroughBothKernelsOnEveryChannel)
{
    for (const WorkedPixel& w : kWorkedPixels) {
        for (int channel = 0; channel < 3; ++channel) {
            Bitmap24 photo(1, 1), mask(1, 1);
            photo.fill(kBlack);
            mask.fill(kBlack);
            byteAt(photo, 0, 0, channel) = std::uint8_t(w.v);
            byteAt(mask, 0, 0, channel) = std::uint8_t(w.m);
            CorrectionTargets t{0, 0, 0};
            (channel == 0 ? t.b : channel == 1 ? t.g : t.r) = w.target;
            Bitmap24 reference = photo;
            ApplyCorrectionReference(reference, mask, {}, DampingForStrength(w.strength), t);
            ApplyCorrection(photo, mask, {}, DampingForStrength(w.strength), t);
            EXPECT_EQ(int(byteAt(reference, 0, 0, channel)), w.expected);
            EXPECT_EQ(int(byteAt(photo, 0, 0, channel)), w.expected);
        }
    }
}

TEST(CorrectionFormula, MaskAtTargetLeavesPixelUnchanged_AndBlackStaysBlack)
{
    for (int strength : {0, 50, 100})
        for (int v = 0; v < 256; v += 5) {
            const float d = DampingForStrength(strength);
            EXPECT_EQ(CorrectChannelReference(std::uint8_t(v), 180, 180, d), v);
            EXPECT_EQ(CorrectChannelReference(0, std::uint8_t(v), 255, d), 0);
        }
}

// The table kernel against the plain formula over every (v, m) pair, every
// strength and every target the sliders can produce (hotspot 0..255 at
// brightness 0, 25 and 50, i.e. T = -25 .. 280). Each call corrects a
// 256 x 256 photo (v = column) against a mask (m = row) with the targets
// T, T + 1, T + 2 on blue, green and red, on one, two or three threads. The
// targets are split into three runs so the parts can run side by side.
class ExhaustiveKernel : public ::testing::TestWithParam<int> {};

TEST_P(ExhaustiveKernel, TableKernelMatchesFormulaForAllStrengthsTargetsAndBytes)
{
    constexpr int kLowTarget = -25;
    const int firstTarget = kLowTarget + 102 * GetParam(); // 34 calls of 3 targets each
    const int lastTarget = firstTarget + 101;

    Bitmap24 source(256, 256), mask(256, 256);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            for (int c = 0; c < 3; ++c) {
                byteAt(source, x, y, c) = std::uint8_t(x);
                byteAt(mask, x, y, c) = std::uint8_t(y);
            }
    // Row y of a call with targets T, T + 1, T + 2 must equal, byte for byte,
    // the interleaved formula results for differences e = T - y, e + 1, e + 2
    // (the formula depends on m and T only through T - m).
    const int lowE = firstTarget - 255, highE = lastTarget;
    std::vector<std::uint8_t> rowsByE(std::size_t(highE - lowE + 1) * 768);
    Bitmap24 photo;
    int mismatchedRows = 0;
    for (int strength = 0; strength <= 100; ++strength) {
        const float damping = DampingForStrength(strength);
        for (int e = lowE; e <= highE; ++e) {
            std::uint8_t* out = &rowsByE[std::size_t(e - lowE) * 768];
            for (int v = 0; v < 256; ++v)
                for (int c = 0; c < 3; ++c)
                    out[3 * v + c] = CorrectChannelReference(std::uint8_t(v), 0, e + c, damping);
        }
        for (int t = firstTarget; t <= lastTarget; t += 3) {
            photo = source;
            ApplyCorrection(photo, mask, {}, damping, {t + 2, t + 1, t}, 1 + (t + strength) % 3);
            for (int y = 0; y < 256; ++y) {
                const std::uint8_t* want = &rowsByE[std::size_t(t - y - lowE) * 768];
                if (std::memcmp(photo.scanLine(y), want, 768) != 0 && ++mismatchedRows <= 5) {
                    int v = 0;
                    while (photo.scanLine(y)[v] == want[v])
                        ++v;
                    ADD_FAILURE() << "strength " << strength << " T " << t + v % 3 << " v " << v / 3 << " m " << y
                                  << ": " << int(photo.scanLine(y)[v]) << " != " << int(want[v]);
                }
            }
        }
    }
    EXPECT_EQ(mismatchedRows, 0);
}

INSTANTIATE_TEST_SUITE_P(TargetRuns, ExhaustiveKernel, ::testing::Values(0, 1, 2));

// Table columns are computed in double where that provably rounds like the
// extended formula and in extended precision otherwise. Widening the margin
// that sends values to the extended path must not change a single byte, and
// with a wide margin most values take that path, so both paths are checked.
TEST(CorrectionKernel, TableColumnsEqualFormulaWhicheverPathComputesThem)
{
    const float dampings[] = {DampingForStrength(0), DampingForStrength(63), DampingForStrength(100), 1.0f, 3.7f, 250.0f};
    const double margins[] = {0x1p-40, 0x1p-12, 0x1p-4, 0.5};
    std::uint8_t column[256];
    int mismatches = 0;
    for (float damping : dampings)
        for (double margin : margins)
            for (int d = -600; d <= 600; d += 7) {
                detail::BuildCorrectionColumn(damping, d, column, margin);
                for (int v = 0; v < 256; ++v)
                    if (column[v] != CorrectChannelReference(std::uint8_t(v), 0, d, damping) && ++mismatches <= 5)
                        ADD_FAILURE() << "damping " << damping << " margin " << margin << " d " << d << " v " << v;
            }
    EXPECT_EQ(mismatches, 0);
}

// The two kernels on whole bitmaps with offsets, margins, large images split
// across threads and targets outside the slider range.
TEST(CorrectionKernel, TableKernelMatchesReferenceLoopOnBitmaps)
{
    struct Case {
        int photoW, photoH, maskW, maskH;
        CorrectionRegion region;
        int strength;
        CorrectionTargets targets;
        int threads;
    };
    const Case cases[] = {
        {289, 216, 289, 216, {}, 0, {200, 190, 180}, 0},
        {289, 216, 289, 216, {7, 0, 0, 3, 2, 5, 1, 4}, 37, {255, 0, 128}, 0},
        {289, 216, 289, 216, {0, 12, 9, 0, 0, 0, 0, 0}, 100, {280, -25, 17}, 3},
        {1024, 700, 1024, 700, {30, 0, 0, 20, 0, 0, 0, 0}, 63, {230, 231, 232}, 0},
        {1024, 700, 1024, 700, {}, 12, {90, 91, 92}, 5},
        // Photo smaller than mask + offset: clipped to the photo.
        {50, 40, 60, 55, {20, 10, 0, 0, 0, 0, 0, 0}, 50, {200, 200, 200}, 2},
        // Photo larger than the mask: only the mask's extent is visited.
        {80, 60, 40, 30, {0, 0, 5, 5, 0, 0, 0, 0}, 50, {100, 150, 250}, 0},
        // Targets outside any slider setting use tables made for the call.
        {64, 64, 64, 64, {}, 80, {900, -600, 511}, 2},
        {64, 64, 64, 64, {}, 80, {-256, 512, -257}, 1},
        // Margins beyond the picture process nothing.
        {64, 64, 64, 64, {0, 0, 0, 0, 40, 40, 0, 0}, 80, {10, 20, 30}, 0},
    };
    std::uint32_t seed = 1;
    for (const Case& c : cases) {
        const Bitmap24 original = NoiseBitmap(c.photoW, c.photoH, seed++);
        const Bitmap24 mask = NoiseBitmap(c.maskW, c.maskH, seed++);
        Bitmap24 reference = original;
        Bitmap24 fast = original;
        const float damping = DampingForStrength(c.strength);
        ApplyCorrectionReference(reference, mask, c.region, damping, c.targets);
        ApplyCorrection(fast, mask, c.region, damping, c.targets, c.threads);
        EXPECT_TRUE(fast == reference) << "case " << seed / 2;
    }
}

TEST(CorrectionKernel, MaskThatIsThePhotographGivesThePlainLoopResult)
{
    const CorrectionRegion regions[] = {{}, {3, 2, 0, 0, 0, 0, 0, 0}, {0, 0, 4, 1, 0, 0, 0, 0}};
    for (const CorrectionRegion& region : regions) {
        Bitmap24 reference = NoiseBitmap(600, 500, 77);
        Bitmap24 fast = reference;
        ApplyCorrectionReference(reference, reference, region, 5.0f, {200, 100, 50});
        ApplyCorrection(fast, fast, region, 5.0f, {200, 100, 50}, 4);
        EXPECT_TRUE(fast == reference);
    }
}

TEST(CorrectionKernel, ResultsDoNotDependOnTablesKeptFromEarlierCalls)
{
    const Bitmap24 original = NoiseBitmap(120, 90, 5);
    const Bitmap24 mask = NoiseBitmap(120, 90, 6);
    // More damping values than are kept, in an order that recycles tables,
    // with targets that need different columns each time.
    const int strengths[] = {10, 20, 30, 40, 50, 60, 10, 20, 60, 10};
    int round = 0;
    for (int strength : strengths) {
        const CorrectionTargets targets{100 + round * 17, 50 + round * 7, 250 - round * 25};
        Bitmap24 reference = original, fast = original;
        ApplyCorrectionReference(reference, mask, {}, DampingForStrength(strength), targets);
        ApplyCorrection(fast, mask, {}, DampingForStrength(strength), targets);
        EXPECT_TRUE(fast == reference) << "strength " << strength;
        if (++round == 5)
            ClearCorrectionTables();
    }
}

TEST(CorrectionKernel, NegativeOffsetOrMarginThrows)
{
    Bitmap24 photo(10, 10);
    const Bitmap24 mask(10, 10);
    CorrectionRegion region;
    region.mx = -1;
    EXPECT_THROW(ApplyCorrection(photo, mask, region, 1.0f, {1, 1, 1}), std::invalid_argument);
    EXPECT_THROW(ApplyCorrectionReference(photo, mask, region, 1.0f, {1, 1, 1}), std::invalid_argument);
    region = {};
    region.bottom = -3;
    EXPECT_THROW(ApplyCorrection(photo, mask, region, 1.0f, {1, 1, 1}), std::invalid_argument);
}

TEST(CorrectionKernel, DampingThatIsNotPositiveAndFiniteThrows)
{
    Bitmap24 photo(4, 4);
    const Bitmap24 mask(4, 4);
    for (float damping : {0.0f, -1.0f, NAN, INFINITY}) {
        EXPECT_THROW(ApplyCorrection(photo, mask, {}, damping, {1, 1, 1}), std::invalid_argument) << damping;
        EXPECT_THROW(ApplyCorrectionReference(photo, mask, {}, damping, {1, 1, 1}), std::invalid_argument) << damping;
    }
}

TEST(CorrectionKernel, EmptyBitmapsAreLeftAlone)
{
    Bitmap24 empty;
    Bitmap24 photo = NoiseBitmap(5, 5, 3);
    const Bitmap24 before = photo;
    ApplyCorrection(empty, photo, {}, 1.0f, {200, 200, 200});
    ApplyCorrection(photo, empty, {}, 1.0f, {200, 200, 200});
    ApplyCorrectionReference(photo, empty, {}, 1.0f, {200, 200, 200});
    EXPECT_TRUE(photo == before);
}

// Photo of constant value 200 against a mask whose column c has value
// c % 200 in every channel: the corrected byte tells which mask column a
// photo column was paired with.
TEST(PreviewOffset, ShiftsTheMaskAndLeavesTheUncoveredBandUncorrected)
{
    struct Row {
        int ox;
        int firstCorrected, lastCorrected; // photo columns
        int maskColumnOfFirst;
    };
    const Row rows[] = {{10, 10, 288, 0}, {-10, 0, 278, 10}, {0, 0, 288, 0}};
    Bitmap24 mask(289, 216);
    for (int y = 0; y < 216; ++y)
        for (int x = 0; x < 289; ++x)
            for (int c = 0; c < 3; ++c)
                byteAt(mask, x, y, c) = std::uint8_t(x % 200);
    const float damping = DampingForStrength(40);
    for (const Row& row : rows) {
        Bitmap24 photo(289, 216);
        photo.fill(packColour(200, 200, 200));
        const CorrectionRegion region = PreviewRegion(row.ox, 0, PreviewMargins{});
        ApplyCorrection(photo, mask, region, damping, {230, 230, 230});
        for (int x = 0; x < 289; ++x) {
            const bool corrected = x >= row.firstCorrected && x <= row.lastCorrected;
            const int maskColumn = x - row.firstCorrected + row.maskColumnOfFirst;
            const int want = corrected ? CorrectChannelReference(200, std::uint8_t(maskColumn % 200), 230, damping) : 200;
            for (int y : {0, 100, 215})
                ASSERT_EQ(int(byteAt(photo, x, y, 1)), want) << "ox " << row.ox << " column " << x;
        }
    }
}

TEST(PreviewMargins, LeftRoundsUpOthersRoundToNearestEven)
{
    struct Row {
        const char *l, *r, *t, *b;
        int W, H;
        PreviewMargins expected;
    };
    const Row rows[] = {
        {"1", "", "", "", 2890, 2160, {1, 0, 0, 0}},
        {"", "1", "", "", 2890, 2160, {0, 0, 0, 0}},
        {"10", "10", "10", "10", 2890, 2160, {1, 1, 1, 1}},
        {"11", "25", "15", "5", 2890, 2160, {2, 2, 2, 0}},
        {"", "35", "25", "35", 2890, 2160, {0, 4, 2, 4}},
        {"12.5", "", "", "", 2890, 2160, {2, 0, 0, 0}},
        {"", "", "", "", 3000, 2000, {0, 0, 0, 0}},
        {"100", "100", "100", "100", 4000, 3000, {8, 7, 7, 7}},
        {"2890", "2890", "2160", "2160", 2890, 2160, {289, 289, 216, 216}},
        {"99999999999999999999", "", "", "", 2890, 2160, {1000000000, 0, 0, 0}},
    };
    for (const Row& row : rows) {
        const PreviewMargins m = PreviewMarginsFor(row.l, row.r, row.t, row.b, row.W, row.H);
        EXPECT_EQ(m.left, row.expected.left) << row.l;
        EXPECT_EQ(m.right, row.expected.right) << row.r;
        EXPECT_EQ(m.top, row.expected.top) << row.t;
        EXPECT_EQ(m.bottom, row.expected.bottom) << row.b;
    }
}

TEST(PreviewMargins, NonNumericTextThrowsInvalidArgument)
{
    for (const char* bad : {"abc", "-5", "1-2", " 5", "5 ", "x10", "1,5", "inf", "nan", "1e99999"})
        EXPECT_THROW(PreviewMarginsFor(bad, "", "", "", 2890, 2160), std::invalid_argument) << bad;
    EXPECT_THROW(PreviewMarginsFor("", "", "", "oops", 2890, 2160), std::invalid_argument);
    EXPECT_THROW(PreviewMarginsFor("", "", "", "", 0, 2160), std::domain_error);
}

TEST(PreviewMargins, LeftCropOfOnePixelLeavesPreviewColumnZeroUncorrected)
{
    Bitmap24 photo(289, 216), mask(289, 216);
    photo.fill(packColour(100, 100, 100));
    mask.fill(packColour(150, 150, 150));
    const PreviewMargins m = PreviewMarginsFor("1", "1", "", "", 2890, 2160);
    ApplyCorrection(photo, mask, PreviewRegion(0, 0, m), DampingForStrength(0), {200, 200, 200});
    EXPECT_EQ(byteAt(photo, 0, 50, 2), 100);
    EXPECT_EQ(byteAt(photo, 1, 50, 2), 140);
    EXPECT_EQ(byteAt(photo, 288, 50, 2), 140);
}

TEST(PreviewRegion, SplitsOffsetAndReducesMarginsOnTheUncoveredSide)
{
    struct Row {
        int ox, oy;
        PreviewMargins margins;
        CorrectionRegion expected;
    };
    const Row rows[] = {
        {10, 0, {0, 0, 0, 0}, {10, 0, 0, 0, 0, 0, 0, 0}},
        {-10, 0, {0, 0, 0, 0}, {0, 0, 10, 0, 0, 0, 0, 0}},
        {10, -5, {15, 3, 2, 9}, {10, 0, 0, 5, 5, 3, 2, 4}},
        {3, 4, {2, 8, 6, 1}, {3, 4, 0, 0, 0, 8, 2, 1}},
        {-150, 150, {0, 200, 100, 7}, {0, 150, 150, 0, 0, 50, 0, 7}},
    };
    for (const Row& row : rows) {
        const CorrectionRegion r = PreviewRegion(row.ox, row.oy, row.margins);
        const CorrectionRegion& e = row.expected;
        EXPECT_EQ(r.px, e.px);
        EXPECT_EQ(r.py, e.py);
        EXPECT_EQ(r.mx, e.mx);
        EXPECT_EQ(r.my, e.my);
        EXPECT_EQ(r.left, e.left);
        EXPECT_EQ(r.right, e.right);
        EXPECT_EQ(r.top, e.top);
        EXPECT_EQ(r.bottom, e.bottom);
    }
}

TEST(FullSizeRegion, ScalesPreviewOffsetToThePhotograph)
{
    struct Row {
        int ox, oy, W, H;
        int px, py, mx, my;
    };
    const Row rows[] = {
        {-10, 5, 2890, 2160, 0, 50, 100, 0},
        {10, 0, 289, 216, 10, 0, 0, 0},
        {10, -3, 4000, 3000, 138, 0, 0, 42},     // 13.8408 * 10, 13.8889 * 3 = 41.67
        {-150, 150, 4000, 3000, 0, 2083, 2076, 0}, // 2076.12, 2083.33
        {0, 0, 6000, 4000, 0, 0, 0, 0},
    };
    for (const Row& row : rows) {
        const CorrectionRegion r = FullSizeRegion(row.ox, row.oy, row.W, row.H);
        EXPECT_EQ(r.px, row.px) << row.ox << "," << row.oy;
        EXPECT_EQ(r.py, row.py) << row.ox << "," << row.oy;
        EXPECT_EQ(r.mx, row.mx) << row.ox << "," << row.oy;
        EXPECT_EQ(r.my, row.my) << row.ox << "," << row.oy;
        EXPECT_EQ(r.left + r.right + r.top + r.bottom, 0);
    }
}

// Overlay at left -10, top 5 over a 2890 x 2160 photograph: photo column c
// pairs with mask column c + 100, photo row r with mask row r - 50.
TEST(FullSizeRegion, NegativeLeftPositiveTopPairsPixelsAndLeavesBandsUntouched)
{
    const int W = 2890, H = 2160;
    Bitmap24 mask(W, H);
    for (int y = 0; y < H; ++y) {
        std::uint8_t* row = mask.scanLine(y);
        for (int x = 0; x < W; ++x) {
            row[3 * x] = std::uint8_t(x);                 // blue: column
            row[3 * x + 1] = std::uint8_t(y);             // green: row
            row[3 * x + 2] = std::uint8_t(x * 7 + y * 13); // red: both
        }
    }
    Bitmap24 photo(W, H);
    photo.fill(packColour(128, 128, 128));
    const float damping = DampingForStrength(70);
    const CorrectionTargets targets{240, 250, 260};
    ApplyCorrection(photo, mask, FullSizeRegion(-10, 5, W, H), damping, targets);

    // Expected byte for v = 128 against each mask byte, per channel.
    std::uint8_t want[3][256];
    for (int m = 0; m < 256; ++m) {
        want[0][m] = CorrectChannelReference(128, std::uint8_t(m), targets.b, damping);
        want[1][m] = CorrectChannelReference(128, std::uint8_t(m), targets.g, damping);
        want[2][m] = CorrectChannelReference(128, std::uint8_t(m), targets.r, damping);
    }
    long long bad = 0;
    for (int y = 0; y < H; ++y) {
        const std::uint8_t* row = photo.scanLine(y);
        for (int x = 0; x < W; ++x) {
            const bool corrected = y >= 50 && x < W - 100;
            for (int c = 0; c < 3; ++c) {
                int expected = 128;
                if (corrected) {
                    const int mx = x + 100, my = y - 50;
                    const std::uint8_t m = c == 0 ? std::uint8_t(mx) : c == 1 ? std::uint8_t(my) : std::uint8_t(mx * 7 + my * 13);
                    expected = want[c][m];
                }
                if (row[3 * x + c] != expected && ++bad <= 5)
                    ADD_FAILURE() << "pixel " << x << "," << y << " channel " << c;
            }
        }
    }
    EXPECT_EQ(bad, 0);
}

TEST(CropField, ParsesDigitsAfterALeadingZeroAsA32BitInteger)
{
    EXPECT_EQ(ParseCropField(""), 0);
    EXPECT_EQ(ParseCropField("40"), 40);
    EXPECT_EQ(ParseCropField("007"), 7);
    EXPECT_EQ(ParseCropField("2147483647"), INT_MAX);
    for (const char* bad : {"-1", "1.5", "12a", " 3", "+4", "1e3", "2147483648", "4294967296",
                            "9223372036854775807", "99999999999999999999"}) {
        try {
            ParseCropField(bad);
            ADD_FAILURE() << bad << " was accepted";
        } catch (const std::invalid_argument& e) {
            // Too large is the same conversion error as not a number.
            EXPECT_EQ(std::string(e.what()), "Crop margin '" + std::string(bad) + "' is not a valid integer");
        }
    }
}

TEST(CropField, FourFieldsParseIntoMarginsInTheirOrder)
{
    const CropMargins m = ParseCropMargins("10", "20", "", "040");
    EXPECT_EQ(m.left, 10);
    EXPECT_EQ(m.top, 20);
    EXPECT_EQ(m.right, 0);
    EXPECT_EQ(m.bottom, 40);
    EXPECT_TRUE(HasCrop(m));
    EXPECT_FALSE(HasCrop(ParseCropMargins("", "0", "00", "")));
    EXPECT_TRUE(HasCrop(CropMargins{0, 0, 0, 1}));
    // Any one bad field fails the whole parse.
    EXPECT_THROW(ParseCropMargins("", "", "", "2147483648"), std::invalid_argument);
    EXPECT_THROW(ParseCropMargins("x", "", "", ""), std::invalid_argument);
}

TEST(CropField, CroppedSizeIsExactIn64BitsAndDecidesWhetherPixelsRemain)
{
    struct Row {
        int W, H;
        CropMargins margins;
        long long width, height;
        bool leavesPixels;
    };
    const Row rows[] = {
        {4000, 3000, {10, 20, 30, 40}, 3960, 2940, true},
        {4000, 3000, {}, 4000, 3000, true},
        {300, 200, {299, 199, 0, 0}, 1, 1, true},
        {300, 200, {100, 0, 200, 0}, 0, 200, false},       // left + right = width
        {300, 200, {0, 90, 0, 110}, 300, 0, false},         // top + bottom = height
        {300, 200, {400, 0, 0, 0}, -100, 200, false},
        // Two of the largest margins: 32-bit arithmetic would wrap to 102.
        {100, 100, {INT_MAX, 0, INT_MAX, 0}, 100 - 2LL * INT_MAX, 100, false},
        {100, 100, {0, INT_MAX, 0, INT_MAX}, 100, 100 - 2LL * INT_MAX, false},
        {INT_MAX, INT_MAX, {}, INT_MAX, INT_MAX, true},
        {300, 200, {-1, 0, 0, 0}, 301, 200, false},         // a negative margin is no crop
    };
    for (const Row& row : rows) {
        const CroppedSize size = CroppedSizeOf(row.W, row.H, row.margins);
        EXPECT_EQ(size.width, row.width) << row.margins.left << " " << row.margins.right;
        EXPECT_EQ(size.height, row.height) << row.margins.top << " " << row.margins.bottom;
        EXPECT_EQ(CropLeavesPixels(row.W, row.H, row.margins), row.leavesPixels)
            << row.W << "x" << row.H << " " << row.margins.left << "," << row.margins.top << ","
            << row.margins.right << "," << row.margins.bottom;
    }
}

} // namespace
} // namespace lumivane
