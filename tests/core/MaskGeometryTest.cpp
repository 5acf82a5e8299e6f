// SPDX-License-Identifier: GPL-3.0-or-later
#include "MaskGeometry.h"

#include "TestOracles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <stdexcept>
#include <vector>

namespace lumivane {
namespace {

void setRgb(Bitmap24& bmp, int x, int y, int r, int g, int b)
{
    bmp.setPixel(x, y, packColour(std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)));
}

TEST(SampleCentreLevels, UniformCentreGivesItsColour)
{
    Bitmap24 mask(3000, 2000);
    mask.fill(packColour(10, 20, 30));
    for (int x = 1495; x <= 1505; ++x)
        setRgb(mask, x, 1000, 200, 190, 180);
    const HotspotLevels levels = SampleCentreLevels(mask);
    EXPECT_EQ(levels.r, 200);
    EXPECT_EQ(levels.g, 190);
    EXPECT_EQ(levels.b, 180);
}

// Width 3001 samples columns 1498, 1500, 1500, 1502, 1502 of row 1000
// (height 2001): ties of the column rounding go to even.
TEST(SampleCentreLevels, OddWidthSamplesColumnsRoundedToEven)
{
    Bitmap24 mask(3001, 2001);
    mask.fill(kBlack);
    // Distinct red values per column reveal which columns were read; green
    // marks the row.
    const int red[5] = {10, 200, 50, 200, 100}; // columns 1498..1502
    for (int i = 0; i < 5; ++i)
        setRgb(mask, 1498 + i, 1000, red[i], 255, 0);
    const HotspotLevels levels = SampleCentreLevels(mask);
    EXPECT_EQ(levels.r, 62); // (10 + 50 + 50 + 100 + 100) / 5
    EXPECT_EQ(levels.g, 255);
    EXPECT_EQ(levels.b, 0);
}

TEST(SampleCentreLevels, EvenWidthSamplesFiveNeighbours)
{
    Bitmap24 mask(3000, 2000);
    mask.fill(kBlack);
    const int red[5] = {1, 2, 3, 4, 7}; // columns 1498..1502, mean 3.4
    for (int i = 0; i < 5; ++i)
        setRgb(mask, 1498 + i, 1000, red[i], 0, 13);
    setRgb(mask, 1503, 1000, 255, 255, 255);
    const HotspotLevels levels = SampleCentreLevels(mask);
    EXPECT_EQ(levels.r, 3);
    EXPECT_EQ(levels.g, 0);
    EXPECT_EQ(levels.b, 13);
}

TEST(SampleCentreLevels, NarrowAndShortMasksAreClampedIntoTheBitmap)
{
    struct Row {
        int width, height;
        int columns[5]; // the columns expected to be read
        int row;
    };
    const Row rows[] = {
        {1, 1, {0, 0, 0, 0, 0}, 0}, {2, 1, {0, 0, 1, 1, 1}, 0}, {3, 2, {0, 0, 2, 2, 2}, 1},
        {4, 3, {0, 1, 2, 3, 3}, 2}, // height 3: Round(1.5) = 2
    };
    for (const Row& row : rows) {
        Bitmap24 mask(row.width, row.height);
        mask.fill(kBlack);
        for (int x = 0; x < row.width; ++x)
            setRgb(mask, x, row.row, 10 + 60 * x, 5 + 50 * x, 100);
        int sumR = 0, sumG = 0;
        for (int c : row.columns) {
            sumR += 10 + 60 * c;
            sumG += 5 + 50 * c;
        }
        const HotspotLevels levels = SampleCentreLevels(mask);
        EXPECT_EQ(levels.r, int(std::lround(sumR / 5.0))) << "width " << row.width;
        EXPECT_EQ(levels.g, int(std::lround(sumG / 5.0))) << "width " << row.width;
        EXPECT_EQ(levels.b, 100) << "width " << row.width;
    }
    const HotspotLevels none = SampleCentreLevels(Bitmap24());
    EXPECT_EQ(none.r + none.g + none.b, 0);
}

// Read through the stretch, the five samples are those of the mask fitted
// to the photograph's size: growing, shrinking, odd sizes, one pixel.
TEST(SampleCentreLevelsThrough, EqualsSamplingTheStretchedMask)
{
    struct Case {
        int maskW, maskH, w, h;
    };
    const Case cases[] = {{70, 52, 641, 479}, {300, 200, 97, 61}, {1, 1, 50, 50}, {33, 17, 34, 18},
                          {5, 3, 5, 3},       {8, 600, 900, 7},   {41, 31, 1, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.maskW) + "x" + std::to_string(c.maskH) + " to " + std::to_string(c.w) +
                     "x" + std::to_string(c.h));
        // Every pixel differs from its neighbours, so one column or row off
        // changes the levels.
        Bitmap24 mask(c.maskW, c.maskH);
        for (int y = 0; y < c.maskH; ++y)
            for (int x = 0; x < c.maskW; ++x)
                setRgb(mask, x, y, (x * 53 + y * 7) % 256, (x * 11 + y * 71) % 256, (x * 29 + y * 97 + 13) % 256);
        Bitmap24 stretched(c.w, c.h);
        stretchDraw(mask, stretched);
        const HotspotLevels expected = SampleCentreLevels(stretched);
        const HotspotLevels through = SampleCentreLevelsThrough(mask, c.w, c.h);
        EXPECT_EQ(through.r, expected.r);
        EXPECT_EQ(through.g, expected.g);
        EXPECT_EQ(through.b, expected.b);
    }
    const HotspotLevels none = SampleCentreLevelsThrough(Bitmap24(), 40, 30);
    EXPECT_EQ(none.r + none.g + none.b, 0);
}

TEST(MaskRatio, DiffersOnlyWhenTwoDecimalRatiosDiffer)
{
    EXPECT_TRUE(MaskRatioDiffers(4000, 3000, 3000, 2000));
    EXPECT_FALSE(MaskRatioDiffers(2000, 1500, 4000, 3000));
    EXPECT_FALSE(MaskRatioDiffers(1920, 1080, 1280, 720));
    EXPECT_FALSE(MaskRatioDiffers(4000, 3000, 4001, 3000)); // 1.3337 -> 1.33
    EXPECT_TRUE(MaskRatioDiffers(4000, 3000, 3000, 4000));
    // 1100 / 800 is the exact half 1.375, which rounds to 1.38 like 138 / 100.
    EXPECT_FALSE(MaskRatioDiffers(1100, 800, 138, 100));
    EXPECT_TRUE(MaskRatioDiffers(1100, 800, 137, 100));
    EXPECT_THROW(MaskRatioDiffers(4000, 0, 3000, 2000), std::domain_error);
    EXPECT_THROW(MaskRatioDiffers(4000, 3000, 0, 0), std::domain_error);
}

TEST(MaskOverlay, StartsWhiteWithOneBluePixel)
{
    const Bitmap24 overlay = MakeOverlayBitmap();
    ASSERT_EQ(overlay.width(), 290);
    ASSERT_EQ(overlay.height(), 217);
    int blue = 0;
    for (int y = 0; y < 217; ++y)
        for (int x = 0; x < 290; ++x)
            if (overlay.pixel(x, y) != kWhite)
                ++blue;
    EXPECT_EQ(blue, 1);
    EXPECT_EQ(overlay.pixel(145, 108), kPureBlue);
}

TEST(MaskOverlay, DrawsCentreLinesAndCrossOnlyForAChosenHotspot)
{
    Bitmap24 overlay = MakeOverlayBitmap();
    DrawMaskOverlay(overlay, 200, 100, 200, 100);
    // Centre lines, two pixels wide.
    EXPECT_EQ(overlay.pixel(10, 108), kPureBlue);
    EXPECT_EQ(overlay.pixel(10, 107), kPureBlue);
    EXPECT_EQ(overlay.pixel(10, 109), kWhite);
    EXPECT_EQ(overlay.pixel(145, 50), kPureBlue);
    EXPECT_EQ(overlay.pixel(144, 50), kPureBlue);
    EXPECT_EQ(overlay.pixel(146, 50), kWhite);
    // The rectangle's outline.
    EXPECT_EQ(overlay.pixel(0, 50), kPureBlue);
    EXPECT_EQ(overlay.pixel(288, 50), kPureBlue);
    // Cross centred at (180, 90): arms from -7 to +5.
    EXPECT_EQ(overlay.pixel(173, 90), kPureBlue);
    EXPECT_EQ(overlay.pixel(185, 90), kPureBlue);
    EXPECT_EQ(overlay.pixel(180, 83), kPureBlue);
    EXPECT_EQ(overlay.pixel(180, 95), kPureBlue);
    EXPECT_EQ(overlay.pixel(180, 98), kWhite);

    // Redrawing without a chosen hotspot erases the cross.
    for (const auto& hotspot : {std::pair{160, 100}, std::pair{200, 120}, std::pair{160, 120}}) {
        DrawMaskOverlay(overlay, hotspot.first, hotspot.second, 200, 100);
        EXPECT_EQ(overlay.pixel(173, 90), kWhite);
        EXPECT_EQ(overlay.pixel(180, 83), kWhite);
        EXPECT_EQ(overlay.pixel(10, 108), kPureBlue);
    }

    // The cross follows the marker, not the hotspot: marker (187, 150)
    // gives (168, 135).
    DrawMaskOverlay(overlay, 200, 100, 187, 150);
    EXPECT_EQ(overlay.pixel(163, 135), kPureBlue);
    EXPECT_EQ(overlay.pixel(168, 130), kPureBlue);
    EXPECT_EQ(overlay.pixel(173, 90), kWhite);
}

TEST(Luminance, WeighsChannelsAndRoundsToNearest)
{
    struct Row {
        int r, g, b, expected;
    };
    const Row rows[] = {
        {200, 190, 180, 192}, {255, 255, 255, 255}, {0, 0, 0, 0},   {1, 0, 0, 0},
        {0, 1, 0, 1},         {0, 0, 4, 0},          {0, 0, 5, 1},   {100, 0, 0, 30},
        {0, 100, 0, 59},      {12, 34, 56, 30},      {0, 0, 255, 28},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Lum(row.r, row.g, row.b), row.expected) << row.r << "," << row.g << "," << row.b;
}

TEST(BrightnessZones, MatchThreePassSinglePixelRule)
{
    struct Case {
        const char* name;
        int maxR, maxG, maxB; // noise is drawn in 0..max per channel
        int fixedBlue;        // >= 0: every pixel's blue byte
    };
    const Case cases[] = {
        {"full range", 255, 255, 255, -1},
        {"bright", 255, 255, 255, 250},
        {"blue darker than 15", 255, 255, 10, -1},
        {"blue exactly 10 everywhere", 200, 255, 255, 10},
        {"all channels dark", 12, 8, 3, -1},
        {"narrow range near top", 255, 255, 255, 255},
    };
    std::uint32_t s = 12345;
    for (const Case& c : cases) {
        Bitmap24 mask(320, 240);
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 320; ++x) {
                s = s * 1664525u + 1013904223u;
                const int r = int((s >> 8) % std::uint32_t(c.maxR + 1));
                const int g = int((s >> 16) % std::uint32_t(c.maxG + 1));
                const int b = c.fixedBlue >= 0 ? c.fixedBlue : int((s >> 24) % std::uint32_t(c.maxB + 1));
                setRgb(mask, x, y, r, g, b);
            }
        Bitmap24 expected = mask, actual = mask;
        PaintBrightnessZonesReference(mask, expected);
        PaintBrightnessZones(mask, actual);
        EXPECT_TRUE(actual == expected) << c.name;
        EXPECT_FALSE(expected == mask && std::string(c.name) == "full range") << "the case should paint something";
    }
}

TEST(BrightnessZones, BrightestRegionEndsYellowInsideOrangeInsideRed)
{
    Bitmap24 mask(320, 240);
    mask.fill(packColour(100, 100, 100));
    setRgb(mask, 10, 10, 200, 200, 200); // the maximum
    setRgb(mask, 11, 10, 200, 200, 196); // within 5 in blue, the first byte compared
    setRgb(mask, 12, 10, 255, 255, 192); // within 10
    setRgb(mask, 13, 10, 0, 0, 186);     // within 15
    setRgb(mask, 14, 10, 255, 255, 185); // blue 185 equals the red threshold's: green decides
    Bitmap24 target(320, 240);
    PaintBrightnessZones(mask, target);
    // The maximum over every channel is (255, 255, 200).
    EXPECT_EQ(target.pixel(10, 10), packColour(255, 255, 0));
    EXPECT_EQ(target.pixel(11, 10), packColour(255, 255, 0));
    EXPECT_EQ(target.pixel(12, 10), packColour(255, 136, 0));
    EXPECT_EQ(target.pixel(13, 10), packColour(255, 0, 0));
    EXPECT_EQ(target.pixel(14, 10), packColour(255, 0, 0));
    EXPECT_EQ(target.pixel(0, 0), kWhite);
}

TEST(PanelMarks, CentreLinesAndHotspotCross)
{
    Bitmap24 panel(320, 240);
    DrawCentreLines(panel);
    EXPECT_EQ(panel.pixel(160, 0), kBlack);
    EXPECT_EQ(panel.pixel(160, 239), kBlack);
    EXPECT_EQ(panel.pixel(0, 120), kBlack);
    EXPECT_EQ(panel.pixel(319, 120), kBlack);
    EXPECT_EQ(panel.pixel(161, 0), kWhite);
    EXPECT_EQ(panel.pixel(0, 121), kWhite);

    Bitmap24 cross(320, 240);
    DrawHotspotCross(cross, 100, 50);
    for (int d = -5; d <= 5; ++d) {
        EXPECT_EQ(cross.pixel(100 + d, 50), kBlack) << d;
        EXPECT_EQ(cross.pixel(100, 50 + d), kBlack) << d;
    }
    EXPECT_EQ(cross.pixel(106, 50), kWhite);
    EXPECT_EQ(cross.pixel(94, 50), kWhite);
    EXPECT_EQ(cross.pixel(100, 56), kWhite);
    EXPECT_EQ(cross.pixel(100, 44), kWhite);
    EXPECT_EQ(cross.pixel(101, 51), kWhite);
}

TEST(TurnMarker, FourTurnsVisitTheSamePointsInEitherDirection)
{
    const std::pair<int, int> clockwise[] = {{200, 100}, {187, 150}, {120, 140}, {133, 90}, {200, 100}};
    int x = 200, y = 100;
    for (int i = 1; i < 5; ++i) {
        TurnMarker(x, y, true);
        EXPECT_EQ(x, clockwise[i].first) << "turn " << i;
        EXPECT_EQ(y, clockwise[i].second) << "turn " << i;
    }
    x = 200;
    y = 100;
    for (int i = 3; i >= 0; --i) {
        TurnMarker(x, y, false);
        EXPECT_EQ(x, clockwise[i].first) << "turn back to " << i;
        EXPECT_EQ(y, clockwise[i].second) << "turn back to " << i;
    }
}

TEST(TurnMarker, CentreStaysAndCornersScale)
{
    int x = 160, y = 120;
    TurnMarker(x, y, true);
    EXPECT_EQ(x, 160);
    EXPECT_EQ(y, 120);
    x = 0;
    y = 0; // turned to (280, -40), scaled to (Round(159.6) + 160, -120 + 120)
    TurnMarker(x, y, true);
    EXPECT_EQ(x, 320);
    EXPECT_EQ(y, 0);
    x = 320;
    y = 240; // counterclockwise to (280, -40) as well
    TurnMarker(x, y, false);
    EXPECT_EQ(x, 320);
    EXPECT_EQ(y, 0);
}


} // namespace
} // namespace lumivane
