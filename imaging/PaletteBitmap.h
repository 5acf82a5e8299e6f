// SPDX-License-Identifier: GPL-3.0-or-later
// Bitmaps of other pixel formats than 24 bits, for code that must accept
// them and turn them into Bitmap24 first (the program itself keeps every
// bitmap at 24 bits).
#pragma once

#include "Bitmap24.h"

#include <array>
#include <cstdint>
#include <variant>
#include <vector>

namespace lumivane {

// An 8-bit palette bitmap: one index a pixel, rows top to bottom without
// padding (width * height indices).
struct PaletteBitmap8 {
    int width = 0;
    int height = 0;
    std::array<Colour, 256> palette{};
    std::vector<std::uint8_t> indices;

    PaletteBitmap8() = default;
    // A bitmap of the given size, every index 0 and every palette entry black.
    PaletteBitmap8(int w, int h);
    // The colour of each pixel; indices into the palette, which has 256
    // entries, cannot leave it.
    Bitmap24 To24() const;
};

// A bitmap of either pixel format.
class TBitmap {
public:
    TBitmap() = default;
    TBitmap(Bitmap24 bitmap) : pixels_(std::move(bitmap)) {}
    TBitmap(PaletteBitmap8 bitmap) : pixels_(std::move(bitmap)) {}

    int BitsPerPixel() const { return std::holds_alternative<Bitmap24>(pixels_) ? 24 : 8; }
    int Width() const;
    int Height() const;
    // Turns the pixels into 24 bits in place: each palette pixel takes its
    // palette colour. Nothing happens when they already are.
    void ConvertTo24();
    // Converts if needed and returns the 24-bit pixels.
    Bitmap24& As24();

private:
    std::variant<Bitmap24, PaletteBitmap8> pixels_;
};

} // namespace lumivane
