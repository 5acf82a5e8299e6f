// SPDX-License-Identifier: GPL-3.0-or-later
// A picture of 16 bits a channel: rows of blue-green-red 16-bit values, in
// the order of Bitmap24's bytes, with no padding.
#pragma once

#include "Bitmap24.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumivane {

class Bitmap48 {
public:
    Bitmap48() = default;
    Bitmap48(int width, int height) { setSize(width, height); }

    // Every value 0 after a change of size.
    void setSize(int width, int height)
    {
        width_ = width > 0 && height > 0 ? width : 0;
        height_ = width > 0 && height > 0 ? height : 0;
        values_.assign(std::size_t(width_) * std::size_t(height_) * 3, 0);
    }
    // The values are left as they come, for a reader that writes every one:
    // each page of a fresh picture is then touched once, not twice.
    void setSizeForOverwrite(int width, int height)
    {
        width_ = width > 0 && height > 0 ? width : 0;
        height_ = width > 0 && height > 0 ? height : 0;
        values_.clear();
        values_.resize(std::size_t(width_) * std::size_t(height_) * 3);
    }
    int width() const { return width_; }
    int height() const { return height_; }
    bool empty() const { return values_.empty(); }
    // Values a row (3 a pixel).
    std::size_t rowValues() const { return std::size_t(width_) * 3; }
    std::uint16_t* row(int y) { return values_.data() + std::size_t(y) * rowValues(); }
    const std::uint16_t* row(int y) const { return values_.data() + std::size_t(y) * rowValues(); }
    std::uint16_t* data() { return values_.data(); }
    const std::uint16_t* data() const { return values_.data(); }
    std::size_t byteCount() const { return values_.size() * sizeof(std::uint16_t); }
    // Bytes the storage holds without growing.
    std::size_t capacity() const { return values_.capacity() * sizeof(std::uint16_t); }

    friend bool operator==(const Bitmap48&, const Bitmap48&) = default;

private:
    int width_ = 0;
    int height_ = 0;
    // The storage of full-size bitmaps: large blocks on huge pages.
    std::vector<std::uint16_t, detail::PixelAllocator<std::uint16_t>> values_;
};

// The nearest-pixel stretch of stretchDraw(Bitmap24, Bitmap24) on 16-bit
// pictures: every pixel of `dest` (at its own size) takes the same source
// pixel, so a 16-bit mask fitted this way rounds to the 8-bit mask fitted
// the 8-bit way.
void stretchDraw(const Bitmap48& source, Bitmap48& dest);

// Rotate90Into on 16-bit pictures: `angle` degrees counterclockwise (a
// non-negative multiple of 90; BitmapError otherwise), `dest` resized.
void Rotate90Into(int angle, const Bitmap48& source, Bitmap48& dest);

} // namespace lumivane
