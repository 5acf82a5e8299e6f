// SPDX-License-Identifier: GPL-3.0-or-later
#include "ReducedPicture.h"

#include <algorithm>

namespace lumivane {

namespace {

// The two middle indices of block `b` of a side of `size`.
std::pair<int, int> middleOf(int b, int size)
{
    const int start = b * ReducedPictureBuilder::kStep;
    const int n = std::min(ReducedPictureBuilder::kStep, size - start);
    return {start + (n - 1) / 2, start + n / 2};
}

int blocksOf(int size)
{
    return (size + ReducedPictureBuilder::kStep - 1) / ReducedPictureBuilder::kStep;
}

} // namespace

ReducedPictureBuilder::ReducedPictureBuilder(int width, int height)
    : width_(std::max(width, 0)), height_(std::max(height, 0))
{
    const int w = blocksOf(width_), h = blocksOf(height_);
    reduced_.setSize(w, h);
    for (int q = 0; q < w; ++q) {
        const auto [a, b] = middleOf(q, width_);
        first_.push_back(a);
        second_.push_back(b);
    }
    sums_.assign(std::size_t(w) * 3, 0);
}

void ReducedPictureBuilder::AddRows(const std::uint8_t* rows, std::size_t stride, int firstRow, int count)
{
    const std::size_t w = first_.size();
    for (int i = 0; i < count; ++i) {
        const int y = firstRow + i;
        if (y < 0 || y >= height_)
            continue;
        const int r = y / kStep;
        const auto [upper, lower] = middleOf(r, height_);
        if (y != upper && y != lower)
            continue;
        const std::uint8_t* row = rows + std::size_t(i) * stride;
        // A block one row high counts its row twice.
        const int weight = upper == lower ? 2 : 1;
        if (y == upper)
            std::fill(sums_.begin(), sums_.end(), std::uint16_t(0));
        for (std::size_t q = 0; q < w; ++q) {
            const std::uint8_t* a = row + 3 * std::size_t(first_[q]);
            const std::uint8_t* b = row + 3 * std::size_t(second_[q]);
            for (int c = 0; c < 3; ++c)
                sums_[3 * q + std::size_t(c)] += std::uint16_t(weight * (a[c] + b[c]));
        }
        if (y == lower) {
            std::uint8_t* out = reduced_.scanLine(r);
            for (std::size_t k = 0; k < sums_.size(); ++k)
                out[k] = std::uint8_t((sums_[k] + 2) / 4);
        }
    }
}

} // namespace lumivane
