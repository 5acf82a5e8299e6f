// SPDX-License-Identifier: GPL-3.0-or-later
// The plain versions the program's one-pass work is compared against must
// themselves be right.
#include "TestOracles.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace lumivane {
namespace {

void setRgb(Bitmap24& bmp, int x, int y, int r, int g, int b)
{
    bmp.setPixel(x, y, packColour(std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)));
}

TEST(CropBitmap, CutsMarginsFromEachSide)
{
    const Bitmap24 big(4000, 3000);
    const Bitmap24 cropped = CropBitmap(big, 10, 20, 30, 40);
    EXPECT_EQ(cropped.width(), 3960);
    EXPECT_EQ(cropped.height(), 2940);

    Bitmap24 small(40, 30);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            setRgb(small, x, y, x, y, x + y);
    const Bitmap24 part = CropBitmap(small, 3, 4, 5, 6);
    ASSERT_EQ(part.width(), 32);
    ASSERT_EQ(part.height(), 20);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 32; ++x)
            ASSERT_EQ(part.pixel(x, y), small.pixel(x + 3, y + 4));
    EXPECT_TRUE(CropBitmap(small, 0, 0, 0, 0) == small);
}

TEST(CropBitmap, MarginsThatLeaveNothingOrAreNegativeThrow)
{
    const Bitmap24 bmp(40, 30);
    EXPECT_THROW(CropBitmap(bmp, 20, 0, 20, 0), std::invalid_argument);
    EXPECT_THROW(CropBitmap(bmp, 0, 15, 0, 15), std::invalid_argument);
    EXPECT_THROW(CropBitmap(bmp, 30, 0, 30, 0), std::invalid_argument);
    EXPECT_THROW(CropBitmap(bmp, -1, 0, 0, 0), std::invalid_argument);
    EXPECT_THROW(CropBitmap(bmp, 2000000000, 0, 2000000000, 0), std::invalid_argument);
    EXPECT_THROW(CropBitmap(Bitmap24(), 0, 0, 0, 0), std::invalid_argument);
    EXPECT_NO_THROW(CropBitmap(bmp, 39, 29, 0, 0));
}

} // namespace
} // namespace lumivane
