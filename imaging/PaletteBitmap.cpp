// SPDX-License-Identifier: GPL-3.0-or-later
#include "PaletteBitmap.h"

#include <algorithm>

namespace lumivane {

PaletteBitmap8::PaletteBitmap8(int w, int h)
    : width(w < 0 ? 0 : w), height(h < 0 ? 0 : h),
      indices(std::size_t(width) * std::size_t(height), 0)
{
}

Bitmap24 PaletteBitmap8::To24() const
{
    Bitmap24 out(width, height);
    // Tolerate an index vector shorter than the size says: missing pixels
    // stay white rather than being read from outside the vector.
    const std::size_t count = std::min(indices.size(), std::size_t(width) * std::size_t(height));
    std::uint8_t* p = out.data();
    for (std::size_t i = 0; i < count; ++i, p += 3) {
        const Colour c = palette[indices[i]];
        p[0] = blueOf(c);
        p[1] = greenOf(c);
        p[2] = redOf(c);
    }
    return out;
}

int TBitmap::Width() const
{
    if (const auto* b = std::get_if<Bitmap24>(&pixels_))
        return b->width();
    return std::get<PaletteBitmap8>(pixels_).width;
}

int TBitmap::Height() const
{
    if (const auto* b = std::get_if<Bitmap24>(&pixels_))
        return b->height();
    return std::get<PaletteBitmap8>(pixels_).height;
}

void TBitmap::ConvertTo24()
{
    if (const auto* palette = std::get_if<PaletteBitmap8>(&pixels_))
        pixels_ = palette->To24();
}

Bitmap24& TBitmap::As24()
{
    ConvertTo24();
    return std::get<Bitmap24>(pixels_);
}

} // namespace lumivane
