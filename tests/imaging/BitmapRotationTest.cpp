// SPDX-License-Identifier: GPL-3.0-or-later
#include "BitmapRotation.h"
#include "ImagingTestUtil.h"

#include <gtest/gtest.h>

using namespace lumivane;
using namespace lumivane::testing;

namespace {

// The plain pixel-by-pixel mapping, source rows outer and columns inner,
// that the tiled version must reproduce exactly.
Bitmap24 referenceTurn(int angle, const Bitmap24& s)
{
    const int q = (angle / 90) % 4;
    const int W = s.width(), H = s.height();
    Bitmap24 d(q % 2 ? H : W, q % 2 ? W : H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const Colour c = s.pixel(x, y);
            switch (q) {
            case 0: d.setPixel(x, y, c); break;
            case 1: d.setPixel(y, W - 1 - x, c); break;
            case 2: d.setPixel(W - 1 - x, H - 1 - y, c); break;
            default: d.setPixel(H - 1 - y, x, c); break;
            }
        }
    return d;
}

} // namespace

TEST(Rotate90, QuarterTurnCounterclockwiseOf3x2)
{
    Bitmap24 source = patternBitmap(3, 2);
    const auto turned = Rotate90(90, source);
    ASSERT_EQ(turned->width(), 2);
    ASSERT_EQ(turned->height(), 3);
    EXPECT_EQ(turned->pixel(0, 0), source.pixel(2, 0)); // top-right comes to the top-left
    EXPECT_EQ(turned->pixel(0, 2), source.pixel(0, 0)); // top-left goes to the bottom-left
    EXPECT_EQ(turned->pixel(1, 2), source.pixel(0, 1));
}

TEST(Rotate90, QuarterTurnClockwiseOf3x2)
{
    Bitmap24 source = patternBitmap(3, 2);
    const auto turned = Rotate90(270, source);
    ASSERT_EQ(turned->width(), 2);
    ASSERT_EQ(turned->height(), 3);
    EXPECT_EQ(turned->pixel(1, 0), source.pixel(0, 0)); // top-left goes to the top-right
    EXPECT_EQ(turned->pixel(0, 2), source.pixel(2, 1));
}

TEST(Rotate90, HalfTurnOfOnePixelIsACopy)
{
    Bitmap24 source(1, 1);
    source.setPixel(0, 0, packColour(1, 2, 3));
    const auto turned = Rotate90(180, source);
    EXPECT_EQ(*turned, source);
    EXPECT_NE(turned->data(), source.data());
}

TEST(Rotate90, BadAnglesRaiseTheExactMessage)
{
    Bitmap24 source = patternBitmap(3, 2);
    for (int angle : {45, -90, 1, -1, 91, 359}) {
        try {
            (void)Rotate90(angle, source);
            FAIL() << angle;
        } catch (const BitmapError& e) {
            EXPECT_STREQ(e.what(), "Rotate90:  Angle not positive multiple of 90 degrees");
        }
    }
    EXPECT_EQ(source, patternBitmap(3, 2));
}

TEST(Rotate90, WholeTurnsAreIgnored)
{
    Bitmap24 source = patternBitmap(5, 3);
    EXPECT_EQ(*Rotate90(360, source), source);
    EXPECT_EQ(*Rotate90(450, source), *Rotate90(90, source));
    EXPECT_EQ(*Rotate90(0, source), source);
}

TEST(Rotate90, FourQuarterTurnsGiveBackTheOriginal)
{
    for (int angle : {90, 270}) {
        const Bitmap24 original = patternBitmap(70, 131);
        Bitmap24 current = original;
        for (int i = 0; i < 4; ++i)
            current = *Rotate90(angle, current);
        EXPECT_EQ(current, original) << angle;
    }
}

TEST(Rotate90, TiledTurnEqualsPlainMappingOnOddSizes)
{
    struct Size { int w, h; };
    // 1031 x 1021 is above a megapixel, where the work is split between
    // two threads.
    for (const Size s : {Size{1, 1}, Size{1, 7}, Size{7, 1}, Size{63, 65}, Size{129, 67}, Size{200, 3},
                         Size{1031, 1021}}) {
        Bitmap24 source = patternBitmap(s.w, s.h);
        for (int angle : {0, 90, 180, 270}) {
            EXPECT_EQ(*Rotate90(angle, source), referenceTurn(angle, source))
                << s.w << "x" << s.h << " at " << angle;
        }
    }
}

TEST(Rotate90, IntoReusedBitmapMatchesNewResult)
{
    Bitmap24 source = patternBitmap(33, 65);
    Bitmap24 target = patternBitmap(500, 2);
    Rotate90Into(270, source, target);
    EXPECT_EQ(target, *Rotate90(270, source));
}

TEST(Rotate90, EightBitSourceIsConvertedInPlaceFirst)
{
    PaletteBitmap8 palette(3, 2);
    palette.palette[1] = packColour(200, 10, 20);
    palette.palette[2] = packColour(5, 6, 7);
    palette.indices = {0, 1, 2, 2, 1, 0};
    TBitmap source(palette);
    ASSERT_EQ(source.BitsPerPixel(), 8);
    const auto turned = Rotate90(90, source);
    EXPECT_EQ(source.BitsPerPixel(), 24);
    EXPECT_EQ(source.As24().pixel(1, 0), packColour(200, 10, 20));
    ASSERT_EQ(turned->width(), 2);
    EXPECT_EQ(turned->pixel(0, 0), packColour(5, 6, 7));  // S(2, 0)
    EXPECT_EQ(turned->pixel(0, 2), kBlack);               // S(0, 0), palette entry 0
    EXPECT_EQ(turned->pixel(1, 1), packColour(200, 10, 20)); // S(1, 1)
}

TEST(Rotate90, BadAngleOnEightBitSourceStillConvertsIt)
{
    TBitmap source(PaletteBitmap8(2, 2));
    EXPECT_THROW((void)Rotate90(45, source), BitmapError);
    EXPECT_EQ(source.BitsPerPixel(), 24);
}
