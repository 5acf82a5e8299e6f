// SPDX-License-Identifier: GPL-3.0-or-later
// The ring profile: photographs with a known radial fall-off must give that
// fall-off in every ring, a flat one a flat curve, and a crop must move and
// shrink the rings to the cropped frame.
#include "FalloffProfile.h"
#include "ReducedView.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string>

using namespace lumivane;

namespace {

// Linear light 0..1 to the nearest sRGB byte (the inverse of the
// linearisation the profile uses, written out independently).
std::uint8_t srgbByte(double linear)
{
    const double c = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
    return std::uint8_t(std::lround(std::clamp(c, 0.0, 1.0) * 255));
}

double srgbLinear(int byte)
{
    const double c = byte / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// A grey photograph whose linear luminance is falloff(r), r being the
// distance of the pixel centre from the frame's centre as a fraction of its
// half-diagonal.
Bitmap24 radialPhoto(int w, int h, const Rect& frame, const std::function<double(double)>& falloff)
{
    Bitmap24 b(w, h);
    const double cx = (frame.left + frame.right) / 2.0, cy = (frame.top + frame.bottom) / 2.0;
    const double hd = 0.5 * std::hypot(frame.width(), frame.height());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint8_t v = srgbByte(falloff(std::hypot(x + 0.5 - cx, y + 0.5 - cy) / hd));
            b.setPixel(x, y, packColour(v, v, v));
        }
    return b;
}

struct RadialCase {
    const char* name;
    std::function<double(double)> falloff;
};

// Natural vignetting of an ideal lens: cos^4 of the angle of view, with the
// corner at about -1.5 EV; and a linear ramp of the luminance.
const RadialCase kRadialCases[] = {
    {"cos4", [](double r) { const double c = std::cos(std::atan(0.83 * r)); return 0.85 * c * c * c * c; }},
    {"linear ramp", [](double r) { return 0.9 * (1 - 0.6 * r); }},
    {"rising ramp", [](double r) { return 0.3 + 0.5 * r; }},
};

void expectMatches(const FalloffProfile& p, const RadialCase& c, const std::string& where)
{
    ASSERT_EQ(p.referenceRing, 0) << where;
    const double centre = c.falloff(0.5 / kFalloffRings);
    for (int k = 0; k < kFalloffRings; ++k) {
        ASSERT_GT(p.pixels[std::size_t(k)], 0) << where << " ring " << k;
        const double expected = std::log2(c.falloff((k + 0.5) / kFalloffRings) / centre);
        EXPECT_NEAR(p.ev[std::size_t(k)], expected, 0.05) << where << " ring " << k;
    }
    EXPECT_NEAR(p.cornerEv, std::log2(c.falloff(0.97) / centre), 0.05) << where;
}

} // namespace

TEST(FalloffProfile, KnownRadialFalloffIsMeasuredInEveryRing)
{
    for (const RadialCase& c : kRadialCases) {
        // Full size, no crop.
        const Rect whole{0, 0, 600, 400};
        const Bitmap24 photo = radialPhoto(600, 400, whole, c.falloff);
        expectMatches(MeasureFalloff(photo, FalloffRings::FullSize(600, 400, whole)), c,
                      std::string(c.name) + " full size");

        // Through the reduced view, with a crop that moves the centre: the
        // rings are those of the cropped frame, measured on the samples.
        const Rect cropped{70, 20, 1400, 930};
        const Bitmap24 large = radialPhoto(1500, 1000, cropped, c.falloff);
        BeforeAfterInput input;
        input.photo = &large;
        input.crop = CropMargins{70, 20, 100, 70};
        ReducedView view;
        BuildReducedView(input, 450, 300, view);
        ASSERT_TRUE(view.hasFrame);
        expectMatches(view.beforeProfile, c, std::string(c.name) + " reduced and cropped");
    }
}

TEST(FalloffProfile, FlatPhotographGivesFlatCurve)
{
    for (const Colour colour : {packColour(128, 128, 128), packColour(250, 30, 90), packColour(3, 3, 3)}) {
        Bitmap24 flat(120, 90);
        flat.fill(colour);
        const FalloffProfile p = MeasureFalloff(flat, FalloffRings::FullSize(120, 90, Rect{0, 0, 120, 90}));
        for (int k = 0; k < kFalloffRings; ++k) {
            EXPECT_GT(p.pixels[std::size_t(k)], 0) << k;
            EXPECT_NEAR(p.ev[std::size_t(k)], 0.0, 1e-9) << k;
        }
        EXPECT_NEAR(p.cornerEv, 0.0, 1e-9);
    }
}

TEST(FalloffProfile, CropOfFourByFourComputedByHand)
{
    // An 8 x 4 photograph cropped by 2 columns on each side: the frame is
    // columns 2..5, centre (4, 2), half-diagonal sqrt(8). Its four inner
    // pixels lie at sqrt(0.5) (ring 12), the eight edge pixels at sqrt(2.5)
    // (ring 27), the four corners at sqrt(4.5) (ring 37). Inner pixels are
    // white (luminance 1), edges pure green (0.7152), corners pure red
    // (0.2126); the cropped-off columns are black and must not count.
    Bitmap24 photo(8, 4);
    photo.fill(kBlack);
    for (int y = 0; y < 4; ++y)
        for (int x = 2; x < 6; ++x) {
            const bool edgeX = x == 2 || x == 5, edgeY = y == 0 || y == 3;
            photo.setPixel(x, y, edgeX && edgeY ? packColour(255, 0, 0)
                                 : edgeX || edgeY ? packColour(0, 255, 0)
                                                  : packColour(255, 255, 255));
        }
    const FalloffProfile p = MeasureFalloff(photo, FalloffRings::FullSize(8, 4, Rect{2, 0, 6, 4}));
    EXPECT_EQ(p.referenceRing, 12);
    for (int k = 0; k < kFalloffRings; ++k) {
        const long long expected = k == 12 ? 4 : k == 27 ? 8 : k == 37 ? 4 : 0;
        EXPECT_EQ(p.pixels[std::size_t(k)], expected) << "ring " << k;
        if (expected == 0) {
            EXPECT_TRUE(std::isnan(p.ev[std::size_t(k)])) << "ring " << k;
        }
    }
    EXPECT_NEAR(p.ev[12], 0.0, 1e-12);
    EXPECT_NEAR(p.ev[27], std::log2(0.7152), 1e-9);
    EXPECT_NEAR(p.ev[37], std::log2(0.2126), 1e-9);
    EXPECT_TRUE(std::isnan(p.cornerEv)); // no pixel centre reaches 95 %
}

TEST(FalloffProfile, OutermostFivePercentOfCroppedFrame)
{
    // A 50 x 40 photograph cropped to the 40 x 30 frame at (4, 3): centre
    // (24, 18), half-diagonal 25. Pixels at 23.75 (95 %) or more are grey
    // 100, the rest grey 200, everything outside the frame black.
    Bitmap24 photo(50, 40);
    photo.fill(kBlack);
    long long cornerPixels = 0;
    for (int y = 3; y < 33; ++y)
        for (int x = 4; x < 44; ++x) {
            const bool corner = std::hypot(x + 0.5 - 24, y + 0.5 - 18) >= 23.75;
            cornerPixels += corner;
            const std::uint8_t v = corner ? 100 : 200;
            photo.setPixel(x, y, packColour(v, v, v));
        }
    ASSERT_GT(cornerPixels, 0);
    const FalloffProfile p = MeasureFalloff(photo, FalloffRings::FullSize(50, 40, Rect{4, 3, 44, 33}));
    long long total = 0;
    for (long long n : p.pixels)
        total += n;
    EXPECT_EQ(total, 40 * 30);
    const double expected = std::log2(srgbLinear(100) / srgbLinear(200));
    EXPECT_NEAR(p.cornerEv, expected, 1e-9);
    // No pixel centre lies within 0.71 of the centre (ring 0) or beyond
    // 24.3 (ring 49).
    EXPECT_EQ(p.referenceRing, 1);
    EXPECT_TRUE(std::isnan(p.ev[49]));
    EXPECT_NEAR(p.ev[48], expected, 1e-9);
    EXPECT_NEAR(p.ev[1], 0.0, 1e-12);
    EXPECT_NEAR(p.ev[40], 0.0, 1e-12);
}

TEST(FalloffProfile, LuminanceUsesLinearLightAndRec709Weights)
{
    EXPECT_DOUBLE_EQ(LinearLuminance(255, 255, 255), 1.0);
    EXPECT_NEAR(LinearLuminance(255, 0, 0), 0.2126, 1e-12);
    EXPECT_NEAR(LinearLuminance(0, 255, 0), 0.7152, 1e-12);
    EXPECT_NEAR(LinearLuminance(0, 0, 255), 0.0722, 1e-12);
    // Mid-grey byte 128 is about 21.6 % of the light of white, not 50 %.
    EXPECT_NEAR(LinearFromSrgb(128), 0.2158605, 1e-6);
    EXPECT_NEAR(LinearFromSrgb(10), 10 / 255.0 / 12.92, 1e-12);
}

TEST(FalloffProfile, BlackCentreOrNoPixelsGiveNoCurve)
{
    Bitmap24 black(20, 20);
    black.fill(kBlack);
    const FalloffProfile p = MeasureFalloff(black, FalloffRings::FullSize(20, 20, Rect{0, 0, 20, 20}));
    EXPECT_FALSE(p.empty());
    EXPECT_TRUE(std::isnan(p.ev[10]));
    EXPECT_TRUE(std::isnan(p.cornerEv));

    const FalloffProfile none =
        MeasureFalloff(black, FalloffRings::FullSize(20, 20, Rect{0, 0, 20, 20}), Rect{5, 5, 5, 5});
    EXPECT_TRUE(none.empty());

    EXPECT_THROW(MeasureFalloff(black, FalloffRings::FullSize(21, 20, Rect{0, 0, 21, 20})), std::invalid_argument);
}

TEST(FalloffProfile, CornerSummaryLine)
{
    auto profile = [](double corner) {
        FalloffProfile p;
        p.referenceRing = 0;
        p.cornerEv = corner;
        return p;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const FalloffProfile before = profile(-1.43), after = profile(-0.12), mask = profile(-1.52);
    EXPECT_EQ(CornerSummary(before, &after, &mask), "corners: -1.4 EV before, -0.1 EV after, mask -1.5 EV");
    EXPECT_EQ(CornerSummary(before, nullptr, nullptr), "corners: -1.4 EV before");
    const FalloffProfile over = profile(0.26), zero = profile(-0.04), unknown = profile(nan);
    EXPECT_EQ(CornerSummary(zero, &over, &unknown), "corners: 0.0 EV before, +0.3 EV after, mask n/a");
    EXPECT_EQ(FormatEv(-std::numeric_limits<double>::infinity()), "below -99");
    EXPECT_EQ(FormatEv(1.96), "+2.0");
    EXPECT_EQ(FormatEv(-0.04), "0.0"); // never "-0.0"
}
