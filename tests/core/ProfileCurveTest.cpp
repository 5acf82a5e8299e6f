// SPDX-License-Identifier: GPL-3.0-or-later
// Tone curves read from ICC profiles made here with Little CMS, and the
// 16-bit exact correction on a gamma-2.2 curve against the formula.
#include "ProfileCurve.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <lcms2.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace lumivane;

namespace {

// The bytes of a profile made by `make` (closed afterwards).
std::vector<std::uint8_t> bytesOf(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    EXPECT_TRUE(cmsSaveProfileToMem(profile, nullptr, &size));
    std::vector<std::uint8_t> bytes(size);
    EXPECT_TRUE(cmsSaveProfileToMem(profile, bytes.data(), &size));
    cmsCloseProfile(profile);
    return bytes;
}

// An RGB matrix/TRC profile with the sRGB primaries and the given curves.
std::vector<std::uint8_t> rgbProfile(cmsToneCurve* red, cmsToneCurve* green, cmsToneCurve* blue)
{
    const cmsCIExyY white = {0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* curves[3] = {red, green, blue};
    std::vector<std::uint8_t> bytes = bytesOf(cmsCreateRGBProfile(&white, &primaries, curves));
    for (cmsToneCurve* c : {red, green, blue})
        cmsFreeToneCurve(c);
    return bytes;
}

std::vector<std::uint8_t> gammaProfile(double gamma)
{
    return rgbProfile(cmsBuildGamma(nullptr, gamma), cmsBuildGamma(nullptr, gamma), cmsBuildGamma(nullptr, gamma));
}

double srgbLinear(double x)
{
    return x <= 0.04045 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
}

} // namespace

TEST(ProfileCurve, GammaAndParametricCurves_ReadAsTheyAre)
{
    struct Case {
        const char* name;
        std::vector<std::uint8_t> icc;
        double (*expected)(double);
    };
    const Case cases[] = {
        {"gamma 2.2 (Adobe RGB)", gammaProfile(2.2), [](double x) { return std::pow(x, 2.2); }},
        {"gamma 1.8 (ProPhoto)", gammaProfile(1.8), [](double x) { return std::pow(x, 1.8); }},
        {"linear", gammaProfile(1.0), [](double x) { return x; }},
        {"sRGB (parametric)", bytesOf(cmsCreate_sRGBProfile()), srgbLinear},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<LightCurve> curve = LightCurveOfProfile(c.icc);
        ASSERT_TRUE(curve);
        double worst = 0;
        for (int i = 0; i <= 1000; ++i) {
            const double x = i / 1000.0;
            worst = std::max(worst, std::abs(curve->toLinear(x) - c.expected(x)));
        }
        EXPECT_LT(worst, 2e-5);
        // Above 1 the curve goes on rising.
        EXPECT_GT(curve->toLinear(1.01), curve->toLinear(1.0));
    }
}

TEST(ProfileCurve, OtherProfiles_LeftToTheSrgbCurve)
{
    std::vector<std::uint8_t> noise(4000);
    std::mt19937 random(7);
    for (std::uint8_t& b : noise)
        b = std::uint8_t(random());
    std::vector<std::uint8_t> cut = gammaProfile(2.2);
    cut.resize(cut.size() / 2);
    cmsToneCurve* grey = cmsBuildGamma(nullptr, 2.2);
    const std::vector<std::uint8_t> greyProfile = bytesOf(cmsCreateGrayProfile(cmsD50_xyY(), grey));
    cmsFreeToneCurve(grey);
    const struct {
        const char* name;
        std::vector<std::uint8_t> icc;
    } cases[] = {
        {"none", {}},
        {"noise", noise},
        {"cut short", cut},
        {"Lab", bytesOf(cmsCreateLab4Profile(nullptr))},
        {"grey", greyProfile},
        {"channels differ",
         rgbProfile(cmsBuildGamma(nullptr, 2.2), cmsBuildGamma(nullptr, 1.8), cmsBuildGamma(nullptr, 2.2))},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(LightCurveOfProfile(c.icc)) << c.name;
}

TEST(ProfileCurve, ExactCorrection16_OnGamma22_MatchesTheFormulaWithThatCurve)
{
    const std::optional<LightCurve> curve = LightCurveOfProfile(gammaProfile(2.2));
    ASSERT_TRUE(curve);
    const CorrectionTargets targets{52000, 50000, 47000};
    const ExactKernel16 kernel(targets, ColourOption::FalloffAndColour, *curve);
    const ExactKernel16 srgb(targets, ColourOption::FalloffAndColour);
    std::mt19937 random(22);
    const int count = 20000;
    std::vector<std::uint16_t> photo(std::size_t(count) * 3), mask(photo.size()), out(photo.size()),
        outSrgb(photo.size());
    for (std::size_t i = 0; i < photo.size(); ++i) {
        photo[i] = std::uint16_t(random());
        mask[i] = std::uint16_t(12000 + random() % 53536);
    }
    kernel.CorrectRun(photo.data(), mask.data(), out.data(), count);
    srgb.CorrectRun(photo.data(), mask.data(), outSrgb.data(), count);
    const double t[3] = {double(targets.b), double(targets.g), double(targets.r)};
    double worst = 0;
    int differ = 0;
    for (std::size_t i = 0; i < photo.size(); ++i) {
        const std::size_t c = i % 3;
        const double gain = std::min(std::pow(t[c] / 65535.0, 2.2) / std::pow(mask[i] / 65535.0, 2.2), 16.0);
        const double light = std::min(std::pow(photo[i] / 65535.0, 2.2) * gain, 1.0);
        const double want = 65535.0 * std::pow(light, 1 / 2.2);
        worst = std::max(worst, std::abs(out[i] - want));
        differ += out[i] != outSrgb[i];
    }
    // The sampled curve adds a little to the rounding's half code.
    EXPECT_LE(worst, 1.0);
    // And the curve matters: most values differ from the sRGB curve's.
    EXPECT_GT(differ, count);
}

// A mask with a profile of its own at 16 bits: its codes and the targets go
// to light on its curve, the photograph's codes on the photograph's; the
// kernel and the plain reference both against the formula written out.
TEST(ProfileCurve, ExactCorrection16_MaskOnItsOwnCurve_MatchesTheFormula)
{
    const std::optional<LightCurve> photoCurve = LightCurveOfProfile(gammaProfile(2.2));
    const std::optional<LightCurve> maskCurve = LightCurveOfProfile(gammaProfile(1.8));
    ASSERT_TRUE(photoCurve && maskCurve);
    const CorrectionTargets targets{52000, 50000, 47000};
    const ExactKernel16 kernel(targets, ColourOption::FalloffAndColour, *photoCurve, *maskCurve);
    const ExactKernel16 samePhotoCurve(targets, ColourOption::FalloffAndColour, *photoCurve);
    std::mt19937 random(18);
    const int count = 6000;
    std::vector<std::uint16_t> photo(std::size_t(count) * 3), mask(photo.size()), out(photo.size()),
        outSame(photo.size());
    for (std::size_t i = 0; i < photo.size(); ++i) {
        photo[i] = std::uint16_t(random());
        mask[i] = std::uint16_t(12000 + random() % 53536);
    }
    kernel.CorrectRun(photo.data(), mask.data(), out.data(), count);
    samePhotoCurve.CorrectRun(photo.data(), mask.data(), outSame.data(), count);
    const double t[3] = {double(targets.b), double(targets.g), double(targets.r)};
    double worstKernel = 0, worstReference = 0;
    int differ = 0;
    for (std::size_t i = 0; i < photo.size(); ++i) {
        const std::size_t c = i % 3;
        const double gain = std::min(std::pow(t[c] / 65535.0, 1.8) / std::pow(mask[i] / 65535.0, 1.8), 16.0);
        const double light = std::min(std::pow(photo[i] / 65535.0, 2.2) * gain, 1.0);
        const double want = 65535.0 * std::pow(light, 1 / 2.2);
        worstKernel = std::max(worstKernel, std::abs(out[i] - want));
        if (c == 0) {
            const std::array<std::uint16_t, 3> reference = ExactPixelReference16(
                &photo[i], &mask[i], targets, ColourOption::FalloffAndColour, *photoCurve, *maskCurve);
            for (std::size_t k = 0; k < 3; ++k) {
                const double gk =
                    std::min(std::pow(t[k] / 65535.0, 1.8) / std::pow(mask[i + k] / 65535.0, 1.8), 16.0);
                const double lk = std::min(std::pow(photo[i + k] / 65535.0, 2.2) * gk, 1.0);
                worstReference = std::max(worstReference, std::abs(reference[k] - 65535.0 * std::pow(lk, 1 / 2.2)));
            }
        }
        differ += out[i] != outSame[i];
    }
    EXPECT_LE(worstKernel, 1.0);
    EXPECT_LE(worstReference, 1.0);
    // The mask's curve matters: most values differ from taking the mask on
    // the photograph's curve.
    EXPECT_GT(differ, count);
}

TEST(ProfileCurve, ExactCurves_MaskInThePhotographsSpaceUnlessItHasAProfile)
{
    const std::vector<std::uint8_t> adobe = gammaProfile(2.2), prophoto = gammaProfile(1.8);
    const std::vector<std::uint8_t> lab = bytesOf(cmsCreateLab4Profile(nullptr));
    const std::vector<std::uint8_t> srgb = bytesOf(cmsCreate_sRGBProfile());
    auto power = [](double g) { return [g](double x) { return std::pow(x, g); }; };
    using Curve = std::function<double(double)>;
    const struct {
        const char* name;
        std::vector<std::uint8_t> photo, mask;
        bool maskFileHasProfile;
        Curve photoCurve, maskCurve; // empty: no curves (the sRGB method)
    } cases[] = {
        {"neither has a profile", {}, {}, false, {}, {}},
        {"photograph's profile of another kind", lab, {}, false, {}, {}},
        {"both in sRGB (parametric profiles)", srgb, srgb, true, {}, {}},
        {"photograph in gamma 2.2", adobe, {}, false, power(2.2), power(2.2)},
        {"both, each its own", adobe, prophoto, true, power(2.2), power(1.8)},
        {"mask only", {}, prophoto, true, srgbLinear, power(1.8)},
        {"mask's profile of another kind", adobe, lab, true, power(2.2), srgbLinear},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const MaskProfile mask = MaskProfileOf(c.mask);
        EXPECT_EQ(mask.present, c.maskFileHasProfile);
        const std::optional<ExactCurves> curves = ExactCurvesFor(c.photo, mask);
        ASSERT_EQ(curves.has_value(), bool(c.photoCurve));
        if (!curves)
            continue;
        for (const double x : {0.02, 0.3, 0.75, 1.0}) {
            EXPECT_NEAR(curves->photo.toLinear(x), c.photoCurve(x), 2e-5) << x;
            EXPECT_NEAR(curves->mask.toLinear(x), c.maskCurve(x), 2e-5) << x;
        }
    }
}

// A mask file whose profile cannot be read has none, and says nothing: the
// mask's own load reports the file in its words.
TEST(ProfileCurve, MaskProfileOfFile_UnreadableFilesHaveNone)
{
    const lumivane::test_support::TemporaryFolder folder{"lumivane-maskprofile"};
    const std::string pipe = folder.file("pipe.jpg");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    for (const std::string& path : {std::string(), folder.file("gone.jpg"), folder.path().string(), pipe}) {
        SCOPED_TRACE(path);
        EXPECT_NO_THROW(EXPECT_FALSE(MaskProfileOfFile(path).present));
    }
}
