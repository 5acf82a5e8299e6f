// SPDX-License-Identifier: GPL-3.0-or-later
#include "ReducedPicture.h"
#include "SyntheticPictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

using namespace lumivane;
using namespace lumivane::test_support;

namespace {

// The reduced picture built from `picture`'s rows handed over `bandRows` at
// a time.
Bitmap24 reducedInBands(const Bitmap24& picture, int bandRows)
{
    ReducedPictureBuilder builder(picture.width(), picture.height());
    for (int top = 0; top < picture.height(); top += bandRows)
        builder.AddRows(picture.scanLine(top), picture.rowBytes(), top,
                        std::min(bandRows, picture.height() - top));
    return builder.Picture();
}

} // namespace

// Whatever the bands, each reduced pixel is the mean of the middle two rows
// and columns of its 8 x 8 block (the block's only row or column counted
// twice when the last block is one pixel wide or high).
TEST(ReducedPicture, EachPixelIsItsBlocksMiddleMean_WhateverTheBands)
{
    const struct {
        int width, height;
    } sizes[] = {{1, 1}, {8, 8}, {9, 17}, {23, 5}, {64, 40}, {2, 1}};
    for (const auto& s : sizes) {
        const Bitmap24 picture = GrainyPhoto(s.width, s.height, 7);
        const Bitmap24 whole = reducedInBands(picture, s.height);
        SCOPED_TRACE(std::to_string(s.width) + "x" + std::to_string(s.height));
        ASSERT_EQ(whole.width(), (s.width + 7) / 8);
        ASSERT_EQ(whole.height(), (s.height + 7) / 8);
        for (int band : {1, 3, 8, 13})
            EXPECT_EQ(reducedInBands(picture, band), whole) << "bands of " << band;
        for (int ry = 0; ry < whole.height(); ++ry)
            for (int rx = 0; rx < whole.width(); ++rx) {
                const int h = std::min(8, s.height - 8 * ry), w = std::min(8, s.width - 8 * rx);
                const int rows[] = {8 * ry + (h - 1) / 2, 8 * ry + h / 2};
                const int cols[] = {8 * rx + (w - 1) / 2, 8 * rx + w / 2};
                for (int c = 0; c < 3; ++c) {
                    int sum = 0;
                    for (int y : rows)
                        for (int x : cols)
                            sum += picture.scanLine(y)[3 * x + c];
                    ASSERT_EQ(whole.scanLine(ry)[3 * rx + c], (sum + 2) / 4) << rx << "," << ry << " channel " << c;
                }
            }
    }
}

// On a smooth picture the sample stands for the whole block: within a code
// or two of its full mean.
TEST(ReducedPicture, OnASmoothPicture_MatchesTheBlocksFullMean)
{
    Bitmap24 picture(200, 120);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            for (int c = 0; c < 3; ++c)
                picture.scanLine(y)[3 * x + c] = std::uint8_t(10 + x / (c + 1) + y / (3 - c));
    const Bitmap24 reduced = reducedInBands(picture, 16);
    int worst = 0;
    for (int ry = 0; ry < reduced.height(); ++ry)
        for (int rx = 0; rx < reduced.width(); ++rx)
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                int n = 0;
                for (int y = 8 * ry; y < std::min(8 * ry + 8, picture.height()); ++y)
                    for (int x = 8 * rx; x < std::min(8 * rx + 8, picture.width()); ++x, ++n)
                        sum += picture.scanLine(y)[3 * x + c];
                worst = std::max(worst, int(std::lround(std::abs(sum / n - reduced.scanLine(ry)[3 * rx + c]))));
            }
    EXPECT_LE(worst, 2);
}

// Rows outside the picture are ignored rather than written past its end.
TEST(ReducedPicture, RowsOutsideThePicture_AreIgnored)
{
    const Bitmap24 picture = GrainyPhoto(16, 16, 3);
    ReducedPictureBuilder builder(16, 16);
    builder.AddRows(picture.scanLine(0), picture.rowBytes(), 0, 16);
    const Bitmap24 before = builder.Picture();
    builder.AddRows(picture.scanLine(0), picture.rowBytes(), 16, 4);
    builder.AddRows(picture.scanLine(0), picture.rowBytes(), -4, 4);
    EXPECT_EQ(builder.Picture(), before);
}
