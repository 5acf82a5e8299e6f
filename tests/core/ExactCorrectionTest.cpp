// SPDX-License-Identifier: GPL-3.0-or-later
// The exact correction (division by the mask in linear light) against a
// formula written out here from the sRGB transfer function, independently of
// the kernel's code, and the kernel's paths against each other.
#include "CorrectionReference.h"
#include "CorrectionKernel.h"
#include "TestOracles.h"
#include "ExactCorrection.h"
#include "GroundTruth.h"
#include "CorrectionSetup.h"
#include "ReducedView.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace lumivane {
namespace {

// --- The oracle: IEC 61966-2-1 written out, gains in the plain form. -------

double oracleLinear(double code)
{
    return SrgbLinearOfCode(code);
}

int oracleCode(double linear)
{
    return int(std::nearbyint(SrgbCodeOfLinear(linear)));
}

// Channels blue, green, red as in the bitmaps.
std::array<int, 3> oraclePixel(const std::array<int, 3>& v, const std::array<int, 3>& m,
                               const std::array<int, 3>& t, ColourOption colour)
{
    auto luma = [](const std::array<double, 3>& bgr) { return 0.0722 * bgr[0] + 0.7152 * bgr[1] + 0.2126 * bgr[2]; };
    std::array<double, 3> lm{}, lt{};
    for (int c = 0; c < 3; ++c) {
        lm[c] = oracleLinear(m[c]);
        lt[c] = oracleLinear(t[c]);
    }
    const double ym = luma(lm), yt = luma(lt);
    std::array<int, 3> out{};
    for (int c = 0; c < 3; ++c) {
        double gain = 0;
        switch (colour) {
        case ColourOption::FalloffAndColour:
            gain = m[c] == 0 ? 16.0 : lt[c] / lm[c];
            break;
        case ColourOption::FalloffOnly:
            gain = ym == 0 ? 16.0 : yt / ym;
            break;
        case ColourOption::ColourOnly:
            gain = m[c] == 0 ? 16.0 : (lt[c] / lm[c]) / (yt / ym);
            break;
        }
        gain = std::min(gain, 16.0);
        out[c] = t[c] <= 0 ? 0 : oracleCode(oracleLinear(v[c]) * gain);
    }
    return out;
}

const ColourOption kOptions[] = {ColourOption::FalloffAndColour, ColourOption::FalloffOnly,
                                 ColourOption::ColourOnly};

std::string optionName(ColourOption colour)
{
    return std::string(ColourOptionName(colour));
}


// Every photograph code in every channel (three different orders so the
// channels differ) against rows of mask pixels: grey, tinted, black, nearly
// black, white; through the table kernel, the pass and the plain loop.
TEST(ExactCorrection, EveryCodeAtSeveralMasksAndTargetsMatchesTheFormula)
{
    const std::array<int, 3> masks[] = {{208, 208, 208}, {0, 0, 0},       {0, 120, 200},  {1, 1, 1},
                                        {255, 255, 255}, {13, 200, 90},   {180, 190, 170}, {3, 250, 250},
                                        {60, 60, 61},    {254, 128, 2}};
    const CorrectionTargets targets[] = {{208, 208, 208}, {255, 255, 255}, {1, 1, 1},     {230, 215, 190},
                                         {280, 300, 260}, {60, 120, 250},  {0, 200, -5}, {-3, -3, 0},
                                         {1000, 20, 100}};
    const int rows = int(std::size(masks));
    Bitmap24 photo(256, rows), mask(256, rows);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < 256; ++x) {
            std::uint8_t* p = photo.scanLine(y) + 3 * x;
            p[0] = std::uint8_t(x);
            p[1] = std::uint8_t(255 - x);
            p[2] = std::uint8_t(x * 37 + y);
            for (int c = 0; c < 3; ++c)
                mask.scanLine(y)[3 * x + c] = std::uint8_t(masks[y][c]);
        }
    for (const ColourOption colour : kOptions)
        for (const CorrectionTargets& t : targets) {
            SCOPED_TRACE(optionName(colour) + " targets " + std::to_string(t.r) + "," + std::to_string(t.g) + "," +
                         std::to_string(t.b));
            const CorrectionMode mode{CorrectionMethod::Exact, colour};
            Bitmap24 fast = photo, plain = photo, rowsOut = photo;
            ApplyCorrection(fast, mask, {}, 1.0f, t, mode);
            ApplyCorrectionReference(plain, mask, {}, 1.0f, t, mode);
            const CorrectionPass pass(256, rows, mask, {}, 1.0f, t, mode);
            pass.CorrectRowsInto(Rect{0, 0, 256, rows}, photo.data(), std::ptrdiff_t(photo.rowBytes()),
                                 rowsOut.data(), std::ptrdiff_t(rowsOut.rowBytes()));
            int mismatches = 0;
            for (int y = 0; y < rows; ++y)
                for (int x = 0; x < 256; ++x) {
                    const std::uint8_t* p = photo.scanLine(y) + 3 * x;
                    const std::array<int, 3> expected =
                        oraclePixel({p[0], p[1], p[2]}, masks[y], {t.b, t.g, t.r}, colour);
                    for (int c = 0; c < 3; ++c) {
                        const int want = expected[c];
                        if (fast.scanLine(y)[3 * x + c] != want || plain.scanLine(y)[3 * x + c] != want ||
                            rowsOut.scanLine(y)[3 * x + c] != want) {
                            if (++mismatches <= 5)
                                ADD_FAILURE() << "v=" << int(p[c]) << " m=" << masks[y][c] << " channel " << c
                                              << ": want " << want << ", table "
                                              << int(fast.scanLine(y)[3 * x + c]) << ", plain "
                                              << int(plain.scanLine(y)[3 * x + c]) << ", rows "
                                              << int(rowsOut.scanLine(y)[3 * x + c]);
                        }
                    }
                }
            EXPECT_EQ(mismatches, 0);
        }
}

// Worked values: the transfer function's known points and the cap.
TEST(ExactCorrection, TransferFunctionAndCapAtKnownPoints)
{
    EXPECT_EQ(LinearOfCode(0), 0.0);
    EXPECT_DOUBLE_EQ(LinearOfCode(255), 1.0);
    EXPECT_NEAR(LinearOfCode(208), 0.631, 0.0005); // an evenly lit grey card
    EXPECT_NEAR(LinearOfCode(10), 10 / 255.0 / 12.92, 1e-15);
    // Above 255 the curve continues: ((T / 255 + 0.055) / 1.055)^2.4.
    EXPECT_NEAR(LinearOfCode(300), std::pow((300 / 255.0 + 0.055) / 1.055, 2.4), 1e-12);
    EXPECT_GT(LinearOfCode(300), 1.0);
    for (int code = 0; code < 256; ++code)
        EXPECT_EQ(CodeOfLinear(LinearOfCode(code)), code);
    EXPECT_EQ(CodeOfLinear(-1.0), 0);
    EXPECT_EQ(CodeOfLinear(7.0), 255);

    // A mask code of 1 under a target of 255 asks for a gain of about 3300:
    // every option holds it at 16, and a mask of 0 gets 16 outright.
    const CorrectionTargets white{255, 255, 255};
    const std::uint8_t dim[3] = {1, 1, 1}, black[3] = {0, 0, 0};
    for (const ColourOption colour : {ColourOption::FalloffAndColour, ColourOption::FalloffOnly}) {
        SCOPED_TRACE(optionName(colour));
        for (double g : ExactGains(dim, white, colour))
            EXPECT_EQ(g, kExactMaxGain);
        for (double g : ExactGains(black, white, colour))
            EXPECT_EQ(g, kExactMaxGain);
    }
    // Colour only: a channel of 0 in an otherwise bright mask gets the cap;
    // the others get Y(m) / lin(m_c) under a white target, the blue hole
    // taking its share out of the mask's luminance.
    const std::uint8_t holed[3] = {0, 200, 200};
    const std::array<double, 3> colourGains = ExactGains(holed, white, ColourOption::ColourOnly);
    EXPECT_EQ(colourGains[0], kExactMaxGain);
    EXPECT_NEAR(colourGains[1], 0.7152 + 0.2126, 1e-12);
    EXPECT_NEAR(colourGains[2], 0.7152 + 0.2126, 1e-12);
    // Within the cap the gain is the plain ratio.
    const std::uint8_t card[3] = {104, 104, 104};
    EXPECT_NEAR(ExactGains(card, {208, 208, 208}, ColourOption::FalloffAndColour)[1],
                LinearOfCode(208) / LinearOfCode(104), 1e-12);
    // Capped pixel: v = 10 under a black mask becomes 16 x lin(10).
    const std::uint8_t v10[3] = {10, 10, 10};
    EXPECT_EQ(ExactPixelReference(v10, black, {200, 200, 200}, ColourOption::FalloffAndColour)[0],
              oracleCode(16 * oracleLinear(10)));
    EXPECT_EQ(oracleCode(16 * oracleLinear(10)), 62); // 255 (1.055 (16 x 0.0030353)^(1/2.4) - 0.055) = 62.25
}

// The kernel finds codes without pow through buckets of linear light;
// values on both sides of every rounding threshold, a few ulps away and
// further, and a sweep over the whole range give the formula's codes, with
// the kernel's margin around the thresholds and with a much wider one.
TEST(ExactCorrection, BucketCodesEqualTheFormulaAroundEveryThreshold)
{
    std::vector<double> values;
    for (int k = 1; k < 256; ++k) {
        const double t = LinearOfCode(k - 0.5);
        for (double rel : {-1e-3, -1e-6, -1e-9, -1e-11, -1e-13, 0.0, 1e-13, 1e-11, 1e-9, 1e-6, 1e-3})
            values.push_back(t * (1 + rel));
        double down = t, up = t;
        for (int step = 0; step < 4; ++step) {
            down = std::nextafter(down, 0.0);
            up = std::nextafter(up, 2.0);
            values.push_back(down);
            values.push_back(up);
        }
    }
    for (int i = 0; i <= 200000; ++i)
        values.push_back(std::pow(10.0, -8 + 9 * i / 200000.0)); // 1e-8 .. 10
    values.insert(values.end(), {0.0, 1.0, 16.0, 0x1p-14, std::nextafter(0x1p-14, 0.0), 1e300});
    for (double margin : {0x1p-30, 0x1p-12}) {
        std::vector<std::uint8_t> codes(values.size());
        detail::CodesOfLinearByBuckets(values.data(), codes.data(), values.size(), margin);
        int mismatches = 0;
        for (std::size_t i = 0; i < values.size(); ++i)
            if (codes[i] != CodeOfLinear(values[i]) && ++mismatches <= 5)
                ADD_FAILURE() << "linear " << values[i] << ": buckets " << int(codes[i]) << ", formula "
                              << int(CodeOfLinear(values[i])) << " (margin " << margin << ")";
        EXPECT_EQ(mismatches, 0);
    }
}

// A target of 0 or less is black whatever the mask, the cap included, in
// every option; the other channels are corrected as usual.
TEST(ExactCorrection, TargetOfZeroOrLessGivesBlack)
{
    const std::uint8_t white[3] = {255, 255, 255};
    const std::uint8_t masks[][3] = {{0, 0, 0}, {128, 128, 128}, {255, 255, 255}, {0, 90, 255}};
    for (const ColourOption colour : kOptions)
        for (const auto& m : masks) {
            SCOPED_TRACE(optionName(colour) + " mask " + std::to_string(m[0]) + "," + std::to_string(m[1]));
            const std::array<std::uint8_t, 3> out = ExactPixelReference(white, m, {200, 0, -40}, colour);
            EXPECT_EQ(out[0], 0); // blue, target -40
            EXPECT_EQ(out[1], 0); // green, target 0
            EXPECT_GT(out[2], 0); // red, target 200
            const std::array<std::uint8_t, 3> dark = ExactPixelReference(white, m, {-1, -1, -1}, colour);
            EXPECT_EQ(dark, (std::array<std::uint8_t, 3>{0, 0, 0}));
        }
}

// What each option is for, on a photograph of the flat field itself under a
// tinted light: both removes fall-off and tint (the target comes back), fall-
// off only keeps the photograph's tint, colour only keeps the fall-off.
TEST(ExactCorrection, ColourOptionsRemoveWhatTheyName)
{
    // Blue-ish flat field, dimmer in the corner than at the centre.
    const std::uint8_t centre[3] = {220, 200, 180};
    const std::uint8_t corner[3] = {150, 130, 110};
    const CorrectionTargets targets{180, 200, 220}; // r, g, b: the centre's levels

    const auto both = ExactPixelReference(corner, corner, targets, ColourOption::FalloffAndColour);
    EXPECT_EQ(both, (std::array<std::uint8_t, 3>{220, 200, 180}));

    // Fall-off only: one gain, so the channels keep their ratios in linear
    // light, and the corner's luminance is lifted to the centre's.
    const auto falloff = ExactPixelReference(corner, corner, targets, ColourOption::FalloffOnly);
    const double gain = LinearOfCode(falloff[1]) / LinearOfCode(corner[1]);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(LinearOfCode(falloff[c]) / LinearOfCode(corner[c]), gain, 0.02 * gain) << c;
    auto luma = [](const auto& bgr) {
        return 0.0722 * LinearOfCode(bgr[0]) + 0.7152 * LinearOfCode(bgr[1]) + 0.2126 * LinearOfCode(bgr[2]);
    };
    EXPECT_NEAR(luma(falloff), luma(centre), 0.005);

    // Colour only: a grey flat field leaves the photograph as it is, and the
    // tinted corner keeps its luminance but turns grey.
    const std::uint8_t grey[3] = {120, 120, 120};
    const std::uint8_t photo[3] = {30, 140, 250};
    EXPECT_EQ(ExactPixelReference(photo, grey, {200, 200, 200}, ColourOption::ColourOnly),
              (std::array<std::uint8_t, 3>{30, 140, 250}));
    const auto colour = ExactPixelReference(corner, corner, {200, 200, 200}, ColourOption::ColourOnly);
    EXPECT_NEAR(colour[0], colour[1], 1);
    EXPECT_NEAR(colour[2], colour[1], 1);
    EXPECT_NEAR(luma(colour), luma(corner), 0.005);
}

// The additive mode through the new entry points gives today's bytes.
TEST(ExactCorrection, AdditiveModeGivesTheAdditiveBytes)
{
    const Bitmap24 photo = NoiseBitmap(300, 200, 3), mask = NoiseBitmap(300, 200, 4);
    const CorrectionRegion region{5, 0, 0, 7, 1, 2, 3, 4};
    const CorrectionTargets targets{210, 190, 170};
    const float damping = DampingForStrength(35);
    Bitmap24 before = photo, viaMode = photo, reference = photo;
    ApplyCorrection(before, mask, region, damping, targets);
    ApplyCorrection(viaMode, mask, region, damping, targets, CorrectionMode{}, 2);
    ApplyCorrectionReference(reference, mask, region, damping, targets, CorrectionMode{});
    EXPECT_TRUE(viaMode == before);
    EXPECT_TRUE(reference == before);
    Bitmap24 passOut(300, 200);
    const CorrectionPass pass(photo, mask, region, damping, targets, CorrectionMode{});
    pass.CorrectInto(Rect{0, 0, 300, 200}, passOut.data(), std::ptrdiff_t(passOut.rowBytes()));
    EXPECT_TRUE(passOut == before);
    // The additive method still refuses a damping that is not positive.
    EXPECT_THROW(ApplyCorrection(viaMode, mask, region, 0.0f, targets, CorrectionMode{}), std::invalid_argument);
}

// Regions, threads and bands: the fast paths against the plain loop, with
// tables kept from earlier calls (more targets than are kept, then a
// cleared cache); the damping, which the exact method ignores, may be
// anything.
TEST(ExactCorrection, KernelPassAndPlainLoopAgreeOnBitmaps)
{
    struct Case {
        int photoW, photoH, maskW, maskH;
        CorrectionRegion region;
        CorrectionTargets targets;
        int threads;
        float damping;
    };
    const Case cases[] = {
        {289, 216, 289, 216, {}, {200, 190, 180}, 0, 0.0f},
        {289, 216, 289, 216, {7, 0, 0, 3, 2, 5, 1, 4}, {255, 0, 128}, 0, -3.0f},
        {640, 480, 640, 480, {0, 12, 9, 0, 0, 0, 0, 0}, {280, -25, 17}, 3, 5.0f},
        {600, 500, 600, 500, {}, {230, 231, 232}, 2, 5.0f},
        {50, 40, 60, 55, {20, 10, 0, 0, 0, 0, 0, 0}, {200, 200, 200}, 2, 1.0f},
        {80, 60, 40, 30, {0, 0, 5, 5, 0, 0, 0, 0}, {100, 150, 250}, 0, 1.0f},
        {64, 64, 64, 64, {}, {900, -600, 511}, 1, 1.0f},
        {64, 64, 64, 64, {}, {201, 202, 203}, 1, 1.0f},
        {64, 64, 64, 64, {}, {204, 205, 206}, 1, 1.0f},
        {64, 64, 64, 64, {}, {200, 190, 180}, 1, 1.0f},
    };
    std::uint32_t seed = 10;
    int index = 0;
    for (const ColourOption colour : kOptions)
        for (const Case& c : cases) {
            SCOPED_TRACE(optionName(colour) + " case " + std::to_string(index % int(std::size(cases))));
            if (++index == 8)
                ClearCorrectionTables();
            const CorrectionMode mode{CorrectionMethod::Exact, colour};
            const Bitmap24 original = NoiseBitmap(c.photoW, c.photoH, seed++);
            const Bitmap24 mask = NoiseBitmap(c.maskW, c.maskH, seed++);
            Bitmap24 reference = original, fast = original;
            ApplyCorrectionReference(reference, mask, c.region, c.damping, c.targets, mode);
            ApplyCorrection(fast, mask, c.region, c.damping, c.targets, mode, c.threads);
            EXPECT_TRUE(fast == reference);
            // The pass, in two bands (the lower one first) into other storage.
            Bitmap24 banded(c.photoW, c.photoH);
            const CorrectionPass pass(original, mask, c.region, c.damping, c.targets, mode);
            const int split = c.photoH / 3;
            pass.CorrectInto(Rect{0, split, c.photoW, c.photoH}, banded.scanLine(split),
                             std::ptrdiff_t(banded.rowBytes()));
            pass.CorrectInto(Rect{0, 0, c.photoW, split}, banded.scanLine(0), std::ptrdiff_t(banded.rowBytes()));
            EXPECT_TRUE(banded == reference);
        }
}

// A gain per pixel is kept for mask pixels met before, with the codes
// worked out under it, and a run that meets new mask pixels all the time
// goes without: a smooth mask (every mask pixel met again and again) beside
// a grainy one, passes with other targets in between (nothing kept may
// serve another pass), one thread and several, against the plain loop.
TEST(ExactCorrection, GainsKeptBetweenPixelsAndPassesGiveThePlainLoopResult)
{
    const int width = 900, height = 60;
    Bitmap24 mask(width, height);
    const Bitmap24 grain = NoiseBitmap(width, height, 77);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* m = mask.scanLine(y) + 3 * x;
            // Smooth on the left two thirds, grain of -3 .. 3 on the right.
            const int level = 230 - (x * x + 40 * y * y) / 8000;
            const int noise = x < 600 ? 0 : grain.scanLine(y)[3 * x] % 7 - 3;
            m[0] = std::uint8_t(level - 25 + noise);
            m[1] = std::uint8_t(level - 10 - noise);
            m[2] = std::uint8_t(level + noise / 2);
        }
    const Bitmap24 photo = NoiseBitmap(width, height, 78);
    const CorrectionTargets targets[] = {{230, 220, 210}, {231, 220, 210}, {230, 220, 210}, {120, 250, 300}};
    for (const ColourOption colour : {ColourOption::FalloffOnly, ColourOption::ColourOnly})
        for (const int threads : {1, 3})
            for (const CorrectionTargets& t : targets) {
                SCOPED_TRACE(optionName(colour) + " threads " + std::to_string(threads) + " targets " +
                             std::to_string(t.b) + "," + std::to_string(t.g) + "," + std::to_string(t.r));
                const CorrectionMode mode{CorrectionMethod::Exact, colour};
                Bitmap24 reference = photo, fast = photo;
                ApplyCorrectionReference(reference, mask, {}, 1.0f, t, mode);
                ApplyCorrection(fast, mask, {}, 1.0f, t, mode, threads);
                EXPECT_TRUE(fast == reference);
                // Row by row through a pass, as a save makes its bands.
                Bitmap24 rows(width, height);
                const CorrectionPass pass(photo, mask, {}, 1.0f, t, mode);
                for (int y = 0; y < height; ++y)
                    pass.CorrectInto(Rect{0, y, width, y + 1}, rows.scanLine(y), std::ptrdiff_t(rows.rowBytes()));
                EXPECT_TRUE(rows == reference);
            }
}

TEST(ExactCorrection, MaskThatIsThePhotographGivesThePlainLoopResult)
{
    for (const ColourOption colour : kOptions) {
        const CorrectionMode mode{CorrectionMethod::Exact, colour};
        Bitmap24 reference = NoiseBitmap(300, 200, 9);
        Bitmap24 fast = reference;
        ApplyCorrectionReference(reference, reference, {2, 1, 0, 0, 0, 0, 0, 0}, 1.0f, {200, 100, 50}, mode);
        ApplyCorrection(fast, fast, {2, 1, 0, 0, 0, 0, 0, 0}, 1.0f, {200, 100, 50}, mode, 4);
        EXPECT_TRUE(fast == reference) << optionName(colour);
    }
}

// The scorer of the accuracy benchmark on pictures whose answer is known:
// the scene merely rounded to 8 bits scores at the 8-bit limit, a picture
// with half the light everywhere scores -1 EV.
TEST(GroundTruth, ScorerMeasuresKnownErrors)
{
    const truth::Scene scene = truth::MakeScene(240, 160, 3);
    const truth::Falloff none{"none", [](double, int) { return 1.0; }};
    const truth::Score rounded = truth::ScoreCorrection(scene, truth::Photograph(scene, none));
    EXPECT_LT(std::fabs(rounded.worstRingEv), 0.01);
    EXPECT_LT(std::fabs(rounded.cornerShadowEv), 0.02);
    EXPECT_LT(rounded.rmsCodes, 0.35); // uniform rounding error: 1 / sqrt(12)
    const truth::Falloff half{"half", [](double, int) { return 0.5; }};
    const truth::Score dark = truth::ScoreCorrection(scene, truth::Photograph(scene, half));
    EXPECT_NEAR(dark.worstRingEv, -1.0, 0.03);
    EXPECT_NEAR(dark.cornerShadowEv, -1.0, 0.05);
    EXPECT_GT(dark.rmsCodes, 20);
    // The scene spans deep shadow to near white, with shadows in the corners.
    float lo = 1, hi = 0;
    for (float v : scene.linear) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    EXPECT_LT(lo, 0.002f);
    EXPECT_GT(hi, 0.8f);
}

// Ground truth through every fall-off: the exact method brings back the
// scene to the 8-bit limit (both options that remove the fall-off on grey
// fall-offs, fall-off and colour on the tinted one; colour only leaves a
// grey fall-off alone), while the additive method lifts the corners'
// shadows, which is why the exact one exists.
TEST(GroundTruth, ExactMethodRecoversTheSceneThroughEveryFalloff)
{
    const truth::Scene scene = truth::MakeScene(360, 240, 7);
    for (const truth::Falloff& falloff : truth::StandardFalloffs()) {
        SCOPED_TRACE(falloff.name);
        const Bitmap24 photo = truth::Photograph(scene, falloff);
        const Bitmap24 mask = truth::FlatField(360, 240, falloff);
        const bool tinted = falloff.name == "tinted";
        if (!tinted) {
            EXPECT_TRUE(truth::CorrectInProcess(photo, mask, {CorrectionMethod::Exact, ColourOption::ColourOnly}, 0) ==
                        photo);
        }
        for (const ColourOption colour : {ColourOption::FalloffAndColour, ColourOption::FalloffOnly}) {
            if (tinted && colour != ColourOption::FalloffAndColour)
                continue;
            SCOPED_TRACE(optionName(colour));
            const truth::Score exact = truth::ScoreCorrection(
                scene, truth::CorrectInProcess(photo, mask, {CorrectionMethod::Exact, colour}, 0));
            EXPECT_LE(std::fabs(exact.worstRingEv), 0.02);
            EXPECT_LE(std::fabs(exact.cornerShadowEv), 0.03);
            EXPECT_LE(exact.rmsCodes, 1.0);
        }
        const truth::Score additive = truth::ScoreCorrection(scene, truth::CorrectInProcess(photo, mask, {}, 0));
        EXPECT_GT(additive.cornerShadowEv, 0.3);
    }
}

} // namespace
} // namespace lumivane

namespace lumivane {
namespace {

// What the before/after view plots: an evenly lit scene photographed through
// each fall-off, corrected by the exact method as the window sets it up,
// gives a curve flat within 0.05 EV in every ring and in the corners (with
// fall-off and colour, and with fall-off only, whose one gain per pixel
// flattens the luminance the view measures), while the unprocessed curve
// shows the fall-off.
TEST(GroundTruth, BeforeAfterViewShowsAFlatCurveAfterTheExactMethod)
{
    const int width = 900, height = 600;
    truth::Scene even;
    even.width = width;
    even.height = height;
    even.linear.assign(std::size_t(width) * std::size_t(height) * 3, 0.3f);
    for (const truth::Falloff& falloff : truth::StandardFalloffs()) {
        const Bitmap24 photo = truth::Photograph(even, falloff);
        const Bitmap24 mask = truth::FlatField(width, height, falloff);
        for (const ColourOption colour : {ColourOption::FalloffAndColour, ColourOption::FalloffOnly}) {
            SCOPED_TRACE(falloff.name + " " + optionName(colour));
            CorrectionChoices choices;
            choices.mode = {CorrectionMethod::Exact, colour};
            const CorrectionSetup setup = SetUpCorrection(mask, SampleCentreLevels(mask), choices, width, height);
            ReducedView view;
            BuildReducedView(BeforeAfterInputOf(photo, setup, true), 450, 300, view);
            ASSERT_FALSE(view.afterProfile.empty());
            EXPECT_LT(view.beforeProfile.cornerEv, -0.25);
            for (int k = 0; k < kFalloffRings; ++k) {
                if (view.afterProfile.pixels[std::size_t(k)] > 0) {
                    EXPECT_NEAR(view.afterProfile.ev[std::size_t(k)], 0.0, 0.05) << "ring " << k;
                }
            }
            EXPECT_NEAR(view.afterProfile.cornerEv, 0.0, 0.05);
        }
    }
}

} // namespace
} // namespace lumivane
