// SPDX-License-Identifier: GPL-3.0-or-later
// What can be wrong with a flat-field mask, found when it is loaded, and the
// smoothing that takes dust and grain out of it.
//
// The checks work on two pictures: the mask at full size, read once to count
// clipped pixels and to average it down into a reduced copy at most
// kReducedSide pixels across, and a strongly blurred copy of that reduced
// picture. A blur this strong keeps nothing finer than a few reduced pixels,
// so the reduction loses nothing the checks look at.
#pragma once

#include "Bitmap24.h"
#include "MaskGeometry.h"

#include <string>
#include <vector>

namespace lumivane {

// Longer side of the reduced copy.
inline constexpr int kReducedSide = 384;
// Blur of the checks and of the smoothing: a Gaussian whose standard
// deviation is this share of the mask's longer side.
inline constexpr double kBlurShare = 0.02;

// Limits of the findings.
inline constexpr double kClippedShareLimit = 0.001; // share of pixels at 255 in some channel
inline constexpr int kDarkLevelLimit = 64;          // lowest hotspot level
// Root-mean-square difference, in levels, between the reduced mask and its
// blurred copy. Calibrated on synthetic fall-offs and the sample flat field:
// clean masks measure 0.27-0.33 (the sample 0.27), with light grain or
// after JPEG at quality 75 up to 0.98; forty specks of dust 2.1-2.2, heavy
// grain on a small mask 1.7, a coarse texture 6.4.
inline constexpr double kTextureRmsLimit = 1.3;
inline constexpr double kBrightOffsetLimit = 0.1; // share of the diagonal

struct MaskFinding {
    enum class Kind { Clipped, TooDark, Texture, UnevenLight };
    Kind kind;
    // One short sentence: what is wrong and what to do.
    std::string text;
};

struct MaskQuality {
    double clippedShare = 0;
    int darkestLevel = 0;
    double textureRms = 0;
    // Distance of the brightest region's centre from the picture's centre,
    // as a share of the diagonal.
    double brightOffset = 0;
    std::vector<MaskFinding> findings;

    bool Good() const { return findings.empty(); }
    bool Has(MaskFinding::Kind kind) const;
};

// Checks the mask with its hotspot levels. An empty mask gives no findings.
MaskQuality CheckMaskQuality(const Bitmap24& mask, const HotspotLevels& levels);

// The mask blurred as the checks blur it, at its own size: dust, grain and
// texture go, a smooth radial fall-off stays within a level.
Bitmap24 SmoothMask(const Bitmap24& mask);

// The findings as one line for the status bar (" Mask check: ..."), empty
// for a good mask.
std::string QualityStatusText(const MaskQuality& quality);

} // namespace lumivane
