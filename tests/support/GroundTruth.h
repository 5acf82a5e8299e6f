// SPDX-License-Identifier: GPL-3.0-or-later
// Ground truth for measuring a vignetting correction against the physics: a
// scene in linear light, darkened by a known radial fall-off and written as
// an 8-bit photograph, with the flat field (an evenly lit grey card) taken
// through the same fall-off. A corrected photograph is scored against the
// scene ring by ring.
#pragma once

#include "Bitmap24.h"
#include "CorrectionKernel.h"
#include "LensProfile.h"

#include <string>
#include <vector>

namespace lumivane::truth {

// A fall-off: the fraction of light that reaches the sensor at radius r
// (0 at the centre, 1 in the corners) in channel 0, 1, 2 (blue, green, red).
struct Falloff {
    std::string name;
    double (*transmission)(double r, int channel);
};

// The cos^4 law of a lens of focal length two half-diagonals (-0.6 EV in the
// corners), two polynomials (-1.3 EV, and a wide-angle zoom wide open at
// -2 EV), and a fall-off that also shifts colour (red falls faster than
// blue, as on wide-angle lenses in front of a thick sensor stack).
const std::vector<Falloff>& StandardFalloffs();

// Linear light, blue, green, red per pixel, rows top to bottom.
struct Scene {
    int width = 0;
    int height = 0;
    std::vector<float> linear;
    const float* pixel(int x, int y) const { return linear.data() + (std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3; }
};

// Patches with hard edges whose tones run from deep shadow (0.002) to near
// white (0.9), some tinted, some split by a hard diagonal edge, some with a
// fine texture of one- to three-pixel period. The same seed gives the same
// scene.
Scene MakeScene(int width, int height, unsigned seed);

// Radius of pixel (x, y), normalised so the corners are at 1.
double RadiusOf(int x, int y, int width, int height);

// The scene through the fall-off, rounded to 8-bit sRGB codes.
Bitmap24 Photograph(const Scene& scene, const Falloff& falloff);

// The scene through the lens-profile library's own fall-off for `profile`
// (its reverse modification on linear light, every row computed by the
// library), rounded to 8-bit sRGB codes.
Bitmap24 PhotographThroughProfile(const Scene& scene, const LensProfile& profile);

// The flat field: a grey card whose centre is `centreCode`, through the
// fall-off.
Bitmap24 FlatField(int width, int height, const Falloff& falloff, int centreCode = 208);

struct Score {
    double worstRingEv = 0;    // the ring with the largest |error|, signed
    double cornerShadowEv = 0; // outer fifth of the radius, truth below 0.03
    double rmsCodes = 0;       // all pixels and channels, against the unrounded truth
};

// Rings are ten equal steps of the radius; a ring's error is log2 of the
// output's mean linear light over the truth's, per channel, the three
// channels averaged.
Score ScoreCorrection(const Scene& truth, const Bitmap24& corrected);

// The correction lumivane-cli makes of a photograph with a mask of the same
// size, hotspot at the panel's centre (160, 120), brightness 25, no offset
// or crop, done in this process through the kernel.
Bitmap24 CorrectInProcess(const Bitmap24& photo, const Bitmap24& mask, CorrectionMode mode, int strength);

} // namespace lumivane::truth
