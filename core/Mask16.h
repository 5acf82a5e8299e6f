// SPDX-License-Identifier: GPL-3.0-or-later
// The mask at 16 bits a channel, for 16-bit photographs written at 16 bits
// by the exact method: the mask file read again at full precision, turned as
// the mask in use, fitted to each photograph as the 8-bit mask is, and its
// reference levels on the 16-bit scale.
#pragma once

#include "Bitmap24.h"
#include "Bitmap48.h"
#include "MaskGeometry.h"

#include <string>

namespace lumivane {

// Reads the mask file at `path` at 16 bits when it is a 16-bit TIFF, turns
// it `counterclockwise` degrees (a multiple of 90) and keeps it in `out`
// only when its 8-bit picture is exactly `used`, the 8-bit mask in use (so
// a smoothed mask, another turn or a file changed since it was loaded never
// stands in for it). False, `out` emptied, otherwise, also when the file
// cannot be read at 16 bits: the 8-bit mask then serves, as for any mask.
bool Mask16OfFile(const std::string& path, const Bitmap24& used, int counterclockwise, Bitmap48& out);

// The 16-bit mask fitted to a photograph of width x height: `mask16` itself
// when the sizes agree, else its stretch into `storage` (the pixels the
// 8-bit stretch takes).
const Bitmap48& FitMask16(const Bitmap48& mask16, int width, int height, Bitmap48& storage);

} // namespace lumivane
