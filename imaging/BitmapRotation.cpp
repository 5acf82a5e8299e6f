// SPDX-License-Identifier: GPL-3.0-or-later
#include "BitmapRotation.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <thread>

namespace lumivane {

namespace {

// Pixels are moved in square tiles so that, for quarter turns, both the
// source rows being read and the result rows being written stay in the
// cache while a tile is copied; a row-by-row walk would touch a new result
// row (a new cache line and often a new page) for every pixel.
constexpr int kTile = 64;
// Pictures from this size on are turned by two threads.
constexpr std::size_t kParallelPixels = std::size_t(1) << 20;

inline void copyPixel(std::uint8_t* to, const std::uint8_t* from)
{
    std::memcpy(to, from, 3);
}

int quarterTurns(int angle)
{
    if (angle < 0 || angle % 90 != 0)
        throw BitmapError("Rotate90:  Angle not positive multiple of 90 degrees");
    return (angle / 90) % 4;
}

void turn(int q, const Bitmap24& source, Bitmap24& dest)
{
    const int W = source.width();
    const int H = source.height();
    if (q % 2 == 0)
        dest.setSize(W, H);
    else
        dest.setSize(H, W);
    if (W <= 0 || H <= 0)
        return;
    const std::size_t srcRow = source.rowBytes();
    const std::size_t dstRow = dest.rowBytes();
    const std::uint8_t* src = source.data();
    std::uint8_t* dst = dest.data();

    switch (q) {
    case 0:
        std::memcpy(dst, src, source.byteCount());
        return;
    case 2:
        // D(W-1-x, H-1-y): each row reversed into the mirrored row.
        for (int y = 0; y < H; ++y) {
            const std::uint8_t* in = src + srcRow * std::size_t(y);
            std::uint8_t* out = dst + dstRow * std::size_t(H - 1 - y) + 3 * std::size_t(W - 1);
            for (int x = 0; x < W; ++x, in += 3, out -= 3)
                copyPixel(out, in);
        }
        return;
    default:
        break;
    }

    // Moves the source columns xBegin..xEnd-1, which become whole result
    // rows, so two ranges can be moved at the same time.
    auto columns = [&](int xBegin, int xEnd) {
        for (int y0 = 0; y0 < H; y0 += kTile) {
            const int y1 = std::min(y0 + kTile, H);
            // Pixels are moved as 4-byte words; the extra byte lands on a
            // neighbour in the same result row that is written later. Walking a
            // result row forwards (counterclockwise) that is the next pixel; walking
            // it backwards (clockwise) the word starts one byte early and covers
            // the pixel to the left. The last source row (result row end) and
            // the very first source byte have no such neighbour and are moved
            // as 3 bytes.
            const int wordRows = std::min(y1, H - 1);
            for (int x0 = xBegin; x0 < xEnd; x0 += kTile) {
                const int x1 = std::min(x0 + kTile, xEnd);
                for (int x = x0; x < x1; ++x) {
                    // Source column x becomes one result row: row W-1-x for a
                    // counterclockwise turn (D(y, W-1-x)), row x for a clockwise
                    // one (D(H-1-y, x)).
                    const std::uint8_t* in = src + srcRow * std::size_t(y0) + 3 * std::size_t(x);
                    int y = y0;
                    if (q == 1) {
                        std::uint8_t* out = dst + dstRow * std::size_t(W - 1 - x) + 3 * std::size_t(y0);
                        for (; y < wordRows; ++y, in += srcRow, out += 3)
                            std::memcpy(out, in, 4);
                        for (; y < y1; ++y, in += srcRow, out += 3)
                            copyPixel(out, in);
                    } else {
                        std::uint8_t* out = dst + dstRow * std::size_t(x) + 3 * std::size_t(H - 1 - y0);
                        if (x == 0 && y == 0) {
                            copyPixel(out, in);
                            ++y;
                            in += srcRow;
                            out -= 3;
                        }
                        for (; y < wordRows; ++y, in += srcRow, out -= 3)
                            std::memcpy(out - 1, in - 1, 4);
                        for (; y < y1; ++y, in += srcRow, out -= 3)
                            copyPixel(out, in);
                    }
                }
            }
        }
    };

    // A full-size picture is split between two threads by source columns
    // (result rows); both have finished before the function returns.
    const int split = ((W / 2) / kTile) * kTile;
    if (std::size_t(W) * std::size_t(H) >= kParallelPixels && split > 0) {
        std::thread helper;
        try {
            helper = std::thread(columns, 0, split);
        } catch (const std::system_error&) {
            columns(0, split);
        }
        columns(split, W);
        if (helper.joinable())
            helper.join();
    } else {
        columns(0, W);
    }
}

} // namespace

void Rotate90Into(int angle, const Bitmap24& source, Bitmap24& dest)
{
    turn(quarterTurns(angle), source, dest);
}

std::unique_ptr<Bitmap24> Rotate90(int angle, Bitmap24& source)
{
    const int q = quarterTurns(angle);
    auto result = std::make_unique<Bitmap24>();
    turn(q, source, *result);
    return result;
}

std::unique_ptr<Bitmap24> Rotate90(int angle, TBitmap& source)
{
    source.ConvertTo24();
    return Rotate90(angle, source.As24());
}

} // namespace lumivane
