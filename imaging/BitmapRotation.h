// SPDX-License-Identifier: GPL-3.0-or-later
// Quarter-turn rotation of bitmaps (unit BitmapRotation).
#pragma once

#include "Bitmap24.h"
#include "PaletteBitmap.h"

#include <memory>

namespace lumivane {

// Turns the source by `angle` degrees counterclockwise and returns the
// result as a new bitmap. The angle must be a non-negative multiple of 90;
// whole turns are ignored (450 acts as 90). With W x H the source's size,
// source pixel S(x, y) lands at
//   0:   D(x, y)                     180: D(W-1-x, H-1-y)
//   90:  D(y, W-1-x)                 270: D(H-1-y, x)
// Raises BitmapError "Rotate90:  Angle not positive multiple of 90 degrees"
// for any other angle, before a result exists.
std::unique_ptr<Bitmap24> Rotate90(int angle, Bitmap24& source);

// Same for a source of another pixel format: the source itself is first
// converted to 24 bits in place, and stays so.
std::unique_ptr<Bitmap24> Rotate90(int angle, TBitmap& source);

// Same turn into a caller's bitmap, reusing its storage (`dest` must not be
// `source`).
void Rotate90Into(int angle, const Bitmap24& source, Bitmap24& dest);

} // namespace lumivane
