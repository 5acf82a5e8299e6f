// SPDX-License-Identifier: GPL-3.0-or-later
// The vignetting correction written out plainly, pixel by pixel, for tests
// and benchmarks to hold the program's table kernel (CorrectionKernel.h)
// against: its bytes must equal these. None of this is linked into the
// program.
#pragma once

#include "Bitmap24.h"
#include "CorrectionKernel.h"
#include "CorrectionMethod.h"

#include <cstdint>

namespace lumivane {

// The factor f = v / (v + damping) * (target - m), formed in extended
// precision and held as a float.
float CorrectionFactor(std::uint8_t v, std::uint8_t m, int target, float damping);

// One channel by the plain formula: clamp(v + Round(f), 0, 255), ties to
// even, the sum taken as a 64-bit integer.
std::uint8_t CorrectChannelReference(std::uint8_t v, std::uint8_t m, int target, float damping);

// The straightforward per-pixel loop over the region, rows top to bottom and
// columns left to right, each pixel's three channels computed from its bytes
// as read. The region is clipped so no access leaves either bitmap (a photo
// smaller than mask + offset is corrected where both exist). Throws
// std::invalid_argument for a negative offset or margin and for a damping
// that is not a positive finite number.
void ApplyCorrectionReference(Bitmap24& photo, const Bitmap24& mask, const CorrectionRegion& region,
                              float damping, const CorrectionTargets& targets);
// The same loop in the given mode: the exact method takes each pixel through
// ExactPixelReference and ignores the damping (it is then not checked).
void ApplyCorrectionReference(Bitmap24& photo, const Bitmap24& mask, const CorrectionRegion& region,
                              float damping, const CorrectionTargets& targets, CorrectionMode mode);

// Drops the tables the kernel keeps between calls, of both methods (for
// measuring the cost of a first call; the results do not depend on it).
void ClearCorrectionTables();

} // namespace lumivane
