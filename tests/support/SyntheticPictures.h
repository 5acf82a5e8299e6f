// SPDX-License-Identifier: GPL-3.0-or-later
// The tests' one set of synthetic pictures: photographs with detail in both
// directions, flat fields that fall off towards the corners, flat grey. A
// test that needs a picture takes one of these (NoiseBitmap, in
// TestOracles.h, gives noise), so every test reads the same few patterns.
#pragma once

#include "Bitmap24.h"

namespace lumivane::test_support {

// Every channel a ramp of its own, wrapping: red x * 7 + seed, green
// y * 5 + 40 + seed, blue (x + y) * 3 + 90 (all modulo 256). Neighbouring
// pixels differ, so a shifted or turned picture shows.
Bitmap24 GradientPicture(int width, int height, int seed = 0);

// A photograph-like picture: smooth ramps across and down, a coarse pattern
// in red, and a grain of -8 .. 7 from a generator started at `seed`.
Bitmap24 GrainyPhoto(int width, int height, unsigned seed);

// A flat field darker towards the corners by up to half its centre level
// (by default 200, 190, 180 in red, green, blue at the centre).
Bitmap24 VignetteMask(int width, int height, int centreR = 200, int centreG = 190, int centreB = 180);

// A flat field darker towards the corners, each channel falling off by its
// own amount (centre about 240, 230, 220 in red, green, blue).
Bitmap24 FalloffMask(int width, int height);

// A grey flat field whose centre level `centre` tells masks apart, 40 % darker
// in the corners.
Bitmap24 GreyFalloffMask(int width, int height, int centre);

// Every pixel the grey `level`.
Bitmap24 FlatPicture(int width, int height, int level);

} // namespace lumivane::test_support
