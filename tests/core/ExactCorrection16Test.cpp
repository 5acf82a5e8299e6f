// SPDX-License-Identifier: GPL-3.0-or-later
// The exact correction at 16 bits: the kernel against the double-precision
// formula written out here with the sRGB curve, and ground-truth scenes
// written as 16-bit photographs with 16-bit flat fields.
#include "ExactCorrection16.h"

#include "GroundTruth.h"
#include "MaskGeometry.h"
#include "Tiff16Reader.h"
#include "TiffFiles.h"
#include "TiffWriter.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <unistd.h>
#include <random>

using namespace lumivane;

namespace {

double srgbLinear(double x)
{
    return x <= 0.04045 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
}

double srgbEncode(double l)
{
    return l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055;
}

// The formula as written: gains from the mask's light and the targets',
// capped at 16, applied in linear light, encoded and rounded.
std::array<double, 3> formula(const std::uint16_t* p, const std::uint16_t* m, const CorrectionTargets& t,
                              ColourOption colour)
{
    const double tl[3] = {srgbLinear(t.b / 65535.0), srgbLinear(t.g / 65535.0), srgbLinear(t.r / 65535.0)};
    const double ml[3] = {srgbLinear(m[0] / 65535.0), srgbLinear(m[1] / 65535.0), srgbLinear(m[2] / 65535.0)};
    auto luma = [](const double* l) { return 0.0722 * l[0] + 0.7152 * l[1] + 0.2126 * l[2]; };
    std::array<double, 3> out{};
    for (int c = 0; c < 3; ++c) {
        double g = 0;
        if (colour == ColourOption::FalloffAndColour)
            g = tl[c] / ml[c];
        else if (colour == ColourOption::FalloffOnly)
            g = luma(tl) / luma(ml);
        else
            g = (tl[c] / ml[c]) / (luma(tl) / luma(ml));
        g = std::min(g, 16.0);
        out[std::size_t(c)] = 65535.0 * srgbEncode(std::min(srgbLinear(p[c] / 65535.0) * g, 1.0));
    }
    return out;
}

// `picture` written as a 16-bit TIFF at `path` by the program's writer and
// read back by its 16-bit reader.
Bitmap48 throughTiff16(const Bitmap48& picture, const std::string& path)
{
    lumivane::testing::WriteTiff16(path, picture);
    Tiff16Picture back;
    EXPECT_TRUE(ReadTiff16(path, back));
    return back.pixels;
}

} // namespace

TEST(ExactCorrection16, KernelMatchesTheDoubleFormula_ForEveryColourOption)
{
    std::mt19937 random(29);
    const CorrectionTargets targets[] = {{52000, 50000, 47000}, {65535, 65535, 65535}, {30000, 32000, 28000}};
    for (const ColourOption colour :
         {ColourOption::FalloffAndColour, ColourOption::FalloffOnly, ColourOption::ColourOnly})
        for (const CorrectionTargets& t : targets) {
            SCOPED_TRACE(std::to_string(int(colour)) + " target " + std::to_string(t.g));
            const ExactKernel16 kernel(t, colour);
            const int count = 20000;
            std::vector<std::uint16_t> photo(std::size_t(count) * 3), mask(photo.size()), out(photo.size());
            for (std::size_t i = 0; i < photo.size(); ++i) {
                photo[i] = std::uint16_t(random());
                // Masks mostly bright, as flat fields are.
                mask[i] = std::uint16_t(8000 + random() % 57536);
            }
            // Runs of equal mask pixels, and pixels that differ from the one
            // before in one channel only, as smooth masks have them.
            for (std::size_t i = 3; i < mask.size(); i += 3) {
                const unsigned kind = random() % 4;
                if (kind < 2)
                    std::copy_n(&mask[i - 3], 3, &mask[i]);
                else if (kind == 2)
                    std::copy_n(&mask[i - 3], 3, &mask[i]), mask[i + random() % 3] ^= 1;
            }
            kernel.CorrectRun(photo.data(), mask.data(), out.data(), count);
            double worst = 0;
            int off = 0;
            for (int i = 0; i < count; ++i) {
                const std::array<double, 3> want = formula(&photo[std::size_t(i) * 3], &mask[std::size_t(i) * 3], t, colour);
                const std::array<std::uint16_t, 3> reference =
                    ExactPixelReference16(&photo[std::size_t(i) * 3], &mask[std::size_t(i) * 3], t, colour);
                for (int c = 0; c < 3; ++c) {
                    const std::uint16_t got = out[std::size_t(i) * 3 + std::size_t(c)];
                    worst = std::max(worst, std::abs(got - want[std::size_t(c)]));
                    off += got != reference[std::size_t(c)];
                }
            }
            // Rounding of the exact value: never more than half a code and
            // a hair.
            EXPECT_LE(worst, 0.5 + 1e-6);
            EXPECT_LE(off, 2) << "kernel and reference differ where they should not";
        }
}

TEST(ExactCorrection16, EdgeCases_BlackMaskCapAndBlackTarget)
{
    const std::uint16_t grey[3] = {1000, 1000, 1000};
    const std::uint16_t black[3] = {0, 0, 0};
    // A black mask takes the cap: 16 times the light.
    const auto capped = ExactPixelReference16(grey, black, {65535, 65535, 65535}, ColourOption::FalloffAndColour);
    EXPECT_EQ(capped[0], Code16OfLinear(LinearOfCode16(1000) * 16));
    for (const ColourOption colour :
         {ColourOption::FalloffAndColour, ColourOption::FalloffOnly, ColourOption::ColourOnly}) {
        const ExactKernel16 kernel({65535, 65535, 65535}, colour);
        std::uint16_t out[3];
        kernel.CorrectRun(grey, black, out, 1);
        EXPECT_EQ(out[0], capped[0]) << int(colour);
    }
    // A target of 0 or less gives a black channel.
    const auto dark = ExactPixelReference16(grey, grey, {-257, 30000, 30000}, ColourOption::FalloffAndColour);
    EXPECT_EQ(dark[2], 0);
    EXPECT_GT(dark[1], 0);
    // The targets: levels plus 257 a brightness step.
    const CorrectionTargets t = TargetsFor16(HotspotLevels{50000, 40000, 30000}, 27);
    EXPECT_EQ(t.r, 50514);
    EXPECT_EQ(t.g, 40514);
    EXPECT_EQ(t.b, 30514);
    // Codes and light round-trip at every code.
    for (int code = 0; code < 65536; code += 97)
        EXPECT_EQ(Code16OfLinear(LinearOfCode16(code)), code);
}

TEST(ExactCorrection16, GroundTruthScenes_At16Bits_WithinRms4Bias1AndRings0005Ev)
{
    const int width = 480, height = 320;
    const truth::Scene scene = truth::MakeScene(width, height, 7);
    auto code16 = [](double linear) { return std::uint16_t(std::lround(65535.0 * srgbEncode(std::min(linear, 1.0)))); };
    const lumivane::test_support::TemporaryFolder folder("lumivane-exact16");
    const std::filesystem::path dir = folder.path();
    for (const truth::Falloff& falloff : truth::StandardFalloffs()) {
        SCOPED_TRACE(falloff.name);
        Bitmap48 photo(width, height), mask(width, height);
        const double card = srgbLinear(208 / 255.0);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const double r = truth::RadiusOf(x, y, width, height);
                for (int c = 0; c < 3; ++c) {
                    photo.row(y)[3 * x + c] = code16(scene.pixel(x, y)[c] * falloff.transmission(r, c));
                    mask.row(y)[3 * x + c] = code16(card * falloff.transmission(r, c));
                }
            }
        // Both written as 16-bit TIFF files and read back as the save reads them.
        photo = throughTiff16(photo, (dir / "photo.tif").string());
        mask = throughTiff16(mask, (dir / "mask.tif").string());
        const Bitmap24 mask8(width, height); // the 16-bit mask stands for it
        const HotspotLevels levels = SampleCentreLevels16(mask);
        const CorrectionTargets targets = TargetsFor16(levels, 25);
        const CorrectionPass16 pass(photo, mask8, &mask, CorrectionRegion{}, targets,
                                    ColourOption::FalloffAndColour);
        Bitmap48 out(width, height);
        pass.CorrectInto(Rect{0, 0, width, height}, out.data(), std::ptrdiff_t(out.rowValues()));

        constexpr int kRings = 10;
        double ringOut[kRings] = {}, ringTruth[kRings] = {};
        double squares = 0, sum = 0;
        long long counted = 0;
        const double targetLight[3] = {LinearOfCode16(targets.b), LinearOfCode16(targets.g), LinearOfCode16(targets.r)};
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const int ring = std::min(int(truth::RadiusOf(x, y, width, height) * kRings), kRings - 1);
                for (int c = 0; c < 3; ++c) {
                    const double truthLight = scene.pixel(x, y)[c];
                    const double gain = targetLight[c] / LinearOfCode16(mask.row(y)[3 * x + c]);
                    if (truthLight >= 1.0 || gain >= 16.0)
                        continue;
                    const double error = double(out.row(y)[3 * x + c]) - double(code16(truthLight));
                    squares += error * error;
                    sum += error;
                    ++counted;
                    ringOut[ring] += LinearOfCode16(out.row(y)[3 * x + c]);
                    ringTruth[ring] += truthLight;
                }
            }
        ASSERT_GT(counted, 0);
        EXPECT_LE(std::sqrt(squares / double(counted)), 4.0);
        EXPECT_LE(std::abs(sum / double(counted)), 1.0);
        for (int ring = 0; ring < kRings; ++ring) {
            if (ringTruth[ring] > 0) {
                EXPECT_LE(std::abs(std::log2(ringOut[ring] / ringTruth[ring])), 0.005) << "ring " << ring;
            }
        }
    }
}
