// SPDX-License-Identifier: GPL-3.0-or-later
// A picture reduced eightfold on each side while its rows are written, for
// the thumbnail of a file: made from the rows on their way to the encoder,
// it spares decoding the file again afterwards.
#pragma once

#include "Bitmap24.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace lumivane {

// Each pixel of the reduced picture stands for an 8 x 8 block of the
// picture (the last blocks of a row or column may be smaller): the mean of
// the block's two middle rows and two middle columns, a sample of the block
// rather than all of it (a thumbnail averages many of these again). Rows are
// added in order, top to bottom, each exactly once.
class ReducedPictureBuilder {
public:
    static constexpr int kStep = 8;

    ReducedPictureBuilder(int width, int height);
    // `count` rows of blue-green-red bytes, `stride` bytes apart: the
    // picture's rows firstRow .. firstRow + count - 1.
    void AddRows(const std::uint8_t* rows, std::size_t stride, int firstRow, int count);
    // The reduced picture, ceil(width / 8) x ceil(height / 8); complete once
    // every row was added.
    const Bitmap24& Picture() const { return reduced_; }
    // The reduced picture handed over without a copy; the builder is done.
    Bitmap24 TakePicture() { return std::move(reduced_); }

private:
    int width_, height_;
    Bitmap24 reduced_;
    std::vector<int> first_, second_;  // per reduced column: the two middle columns
    std::vector<std::uint16_t> sums_;  // per reduced sample: the row of blocks in progress
};

} // namespace lumivane
