// SPDX-License-Identifier: GPL-3.0-or-later
#include "Bitmap24.h"
#include "ImagingTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace lumivane;
using namespace lumivane::testing;

namespace {

// A bitmap whose every pixel encodes its own position, so a stretch or copy
// shows exactly which source pixel landed where.
Bitmap24 coordinateBitmap(int w, int h)
{
    Bitmap24 b(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b.setPixel(x, y, packColour(std::uint8_t(x), std::uint8_t(y), 7));
    return b;
}

} // namespace

TEST(Bitmap24, NewBitmapIsWhiteAndRowsAreBlueGreenRed)
{
    Bitmap24 b(3, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(b.pixel(x, y), kWhite);
    b.setPixel(1, 1, packColour(10, 20, 30));
    const std::uint8_t* row = b.scanLine(1);
    EXPECT_EQ(row[3], 30); // blue first
    EXPECT_EQ(row[4], 20);
    EXPECT_EQ(row[5], 10);
}

TEST(Bitmap24, ScanLineOutsideRaises)
{
    Bitmap24 b(4, 3);
    for (int y : {-1, 3, 100}) {
        try {
            b.scanLine(y);
            FAIL() << "row " << y;
        } catch (const BitmapError& e) {
            EXPECT_STREQ(e.what(), "Scan line index out of range");
        }
    }
    EXPECT_NO_THROW(b.scanLine(2));
}

TEST(Bitmap24, ResizeKeepsOverlapAndAddsWhite)
{
    struct Case { int w0, h0, w1, h1; };
    for (const Case c : {Case{4, 3, 6, 5}, Case{6, 5, 4, 3}, Case{4, 3, 2, 6}, Case{4, 3, 8, 2}}) {
        Bitmap24 b = coordinateBitmap(c.w0, c.h0);
        b.setSize(c.w1, c.h1);
        ASSERT_EQ(b.width(), c.w1);
        ASSERT_EQ(b.height(), c.h1);
        for (int y = 0; y < c.h1; ++y)
            for (int x = 0; x < c.w1; ++x) {
                const Colour want = (x < c.w0 && y < c.h0) ? packColour(std::uint8_t(x), std::uint8_t(y), 7) : kWhite;
                EXPECT_EQ(b.pixel(x, y), want) << c.w0 << "x" << c.h0 << "->" << c.w1 << "x" << c.h1
                                               << " at " << x << "," << y;
            }
    }
}

TEST(Bitmap24, StretchIsNearestNeighbourWithoutAveraging)
{
    const Bitmap24 src = coordinateBitmap(10, 4);
    Bitmap24 dst(5, 8);
    stretchDraw(src, dst);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 5; ++x) {
            const int sx = (2 * x + 1) * 10 / 10; // floor((x + 0.5) * 10 / 5)
            const int sy = (2 * y + 1) * 4 / 16;  // floor((y + 0.5) * 4 / 8)
            EXPECT_EQ(dst.pixel(x, y), src.pixel(sx, sy)) << x << "," << y;
        }
}

TEST(Bitmap24, StretchOfSameSizeIsACopy)
{
    const Bitmap24 src = coordinateBitmap(17, 9);
    Bitmap24 dst(17, 9);
    stretchDraw(src, dst);
    EXPECT_EQ(dst, src);
}

TEST(Bitmap24, SetSizeForOverwrite_KeepsStorageWithinCapacityAndGrowsBeyondIt)
{
    Bitmap24 b(40, 30);
    const std::uint8_t* storage = b.data();
    b.setSizeForOverwrite(20, 10);
    EXPECT_EQ(b.width(), 20);
    EXPECT_EQ(b.height(), 10);
    EXPECT_EQ(b.byteCount(), 20u * 10u * 3u);
    EXPECT_EQ(b.data(), storage); // a smaller picture reuses the block
    b.setSizeForOverwrite(30, 40); // same bytes, other shape
    EXPECT_EQ(b.data(), storage);
    EXPECT_EQ(b.width(), 30);
    b.setSizeForOverwrite(81, 61);
    EXPECT_EQ(b.byteCount(), 81u * 61u * 3u);
    EXPECT_GE(b.capacity(), b.byteCount());
    b.scanLine(60)[81 * 3 - 1] = 7; // the last byte is there to write
    b.setSizeForOverwrite(-3, 5);
    EXPECT_TRUE(b.empty());
}

TEST(Bitmap24, StretchThroughGivesThePixelsOfTwoStretches)
{
    struct Case {
        int sourceW, sourceH, throughW, throughH, destW, destH;
    };
    const Case cases[] = {
        {7, 5, 300, 200, 66, 49},     // small mask, large photograph, thumbnail
        {301, 203, 1203, 797, 66, 49}, // odd sizes everywhere
        {120, 90, 40, 30, 66, 49},    // photograph smaller than the thumbnail
        {66, 49, 66, 49, 66, 49},     // all equal: a copy
        {10, 10, 5, 7, 23, 19},       // down, then up again
        {200, 100, 1, 1, 3, 2},       // a single intermediate pixel
    };
    for (const Case& c : cases) {
        const Bitmap24 source = patternBitmap(c.sourceW, c.sourceH);
        Bitmap24 through(c.throughW, c.throughH);
        stretchDraw(source, through);
        Bitmap24 expected(c.destW, c.destH);
        stretchDraw(through, expected);
        Bitmap24 direct = usedBitmap(c.destW, c.destH);
        stretchDrawThrough(source, c.throughW, c.throughH, direct);
        EXPECT_EQ(direct, expected) << c.sourceW << "x" << c.sourceH << " through " << c.throughW << "x"
                                    << c.throughH << " onto " << c.destW << "x" << c.destH;
    }
}

TEST(Bitmap24, StretchFromRowBands_GivesStretchDrawsPicture)
{
    struct Case {
        int sourceW, sourceH, destW, destH, band;
    };
    const Case cases[] = {
        {6000, 40, 289, 216, 7},  // wide, fewer rows than the destination: rows repeat
        {300, 1001, 289, 216, 32}, // down in both directions
        {301, 203, 289, 216, 1},   // one row per band
        {5, 3, 17, 11, 2},         // up in both directions
        {40, 30, 40, 30, 30},      // one band, same size
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.sourceW) + "x" + std::to_string(c.sourceH) + " in bands of " +
                     std::to_string(c.band));
        const Bitmap24 source = patternBitmap(c.sourceW, c.sourceH);
        Bitmap24 expected(c.destW, c.destH);
        stretchDraw(source, expected);
        Bitmap24 banded = usedBitmap(c.destW, c.destH);
        for (int y = 0; y < c.sourceH; y += c.band)
            stretchRowsInto(source.scanLine(y), source.rowBytes(), y, std::min(c.band, c.sourceH - y), c.sourceW,
                            c.sourceH, banded);
        EXPECT_EQ(banded, expected);
    }
}

// Faulting pages in beside a writer never changes a byte the writer puts
// there, whether the storage is fresh or already written, aligned or not,
// and whatever its size.
TEST(BackgroundPrefault, LeavesEveryByteAWriterPutsThere)
{
    struct Case {
        int width, height;
        std::size_t offset; // bytes into the pixels where the faulted range starts
    };
    const Case cases[] = {{3000, 2000, 0}, {3001, 1999, 4095}, {100, 100, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        for (int round = 0; round < 2; ++round) {
            Bitmap24 fresh;
            fresh.setSizeForOverwrite(c.width, c.height);
            std::uint8_t* bytes = fresh.data();
            const std::size_t count = fresh.byteCount();
            if (round == 1)
                std::memset(bytes, 0x5A, count); // pages already present
            {
                const BackgroundPrefault prefault(bytes + c.offset, count - c.offset);
                for (std::size_t i = 0; i < count; ++i)
                    bytes[i] = std::uint8_t(i * 7 + 3);
            }
            std::size_t wrong = 0;
            for (std::size_t i = 0; i < count; ++i)
                wrong += bytes[i] != std::uint8_t(i * 7 + 3);
            EXPECT_EQ(wrong, 0u) << "round " << round;
        }
    }
}

TEST(Bitmap24, EqualityOfEmptyAndMovedFromPictures)
{
    Bitmap24 full(3, 2);
    full.setPixel(1, 1, 0x123456);
    Bitmap24 same = full;
    Bitmap24 movedFrom = full;
    const Bitmap24 taken = std::move(movedFrom);
    const Bitmap24 empty;
    const Bitmap24 white(3, 2);
    const struct {
        const char* name;
        const Bitmap24& a;
        const Bitmap24& b;
        bool equal;
    } cases[] = {
        {"two empty pictures", empty, empty, true},
        {"empty against full", empty, full, false},
        {"same pixels", full, same, true},
        {"one pixel differs", full, white, false},
        {"moved-from against full", movedFrom, full, false},
        {"taken over against full", taken, full, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.a == c.b, c.equal) << c.name;
        EXPECT_EQ(c.b == c.a, c.equal) << c.name;
    }
}

TEST(Bitmap24, CopyRectClipsToBothBitmaps)
{
    const Bitmap24 src = coordinateBitmap(6, 6);
    Bitmap24 dst(4, 4);
    copyRect(src, Rect{2, 2, 6, 6}, dst, 1, 1);
    EXPECT_EQ(dst.pixel(0, 0), kWhite);
    EXPECT_EQ(dst.pixel(1, 1), src.pixel(2, 2));
    EXPECT_EQ(dst.pixel(3, 3), src.pixel(4, 4));
    draw(src, dst, -3, -3);
    EXPECT_EQ(dst.pixel(0, 0), src.pixel(3, 3));
    EXPECT_EQ(dst.pixel(2, 2), src.pixel(5, 5));
    EXPECT_EQ(dst.pixel(3, 3), src.pixel(4, 4)); // outside the drawn source: kept
}

TEST(Canvas, LineExcludesEndPointAndRectangleFillsWhite)
{
    Bitmap24 b(10, 10);
    b.fill(kBlack);
    Canvas c(b);
    c.rectangle(1, 1, 9, 9);
    EXPECT_EQ(b.pixel(0, 0), kBlack);
    EXPECT_EQ(b.pixel(1, 1), kBlack);  // outline with the black default pen
    EXPECT_EQ(b.pixel(8, 8), kBlack);
    EXPECT_EQ(b.pixel(4, 4), kWhite);  // filled inside
    EXPECT_EQ(b.pixel(9, 9), kBlack);  // right and bottom are exclusive
    c.setPen(kPureBlue, 1);
    c.line(2, 5, 7, 5);
    EXPECT_EQ(b.pixel(2, 5), kPureBlue);
    EXPECT_EQ(b.pixel(6, 5), kPureBlue);
    EXPECT_EQ(b.pixel(7, 5), kWhite);
}
