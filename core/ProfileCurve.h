// SPDX-License-Identifier: GPL-3.0-or-later
// The tone curve of a photograph's ICC profile, for the exact method's way
// from codes to linear light. Profiles of the matrix/TRC kind (Adobe RGB,
// ProPhoto, linear spaces, Display P3) describe it by a gamma or a sampled
// curve per channel; those are read with Little CMS.
#pragma once

#include "ExactCorrection16.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace lumivane {

// The curve of `icc` when it is an RGB matrix/TRC profile whose three tone
// curves agree (every profile named above); nothing for any other profile,
// a damaged one, or none (the sRGB curve then applies). The curve holds a
// copy of the profile's, so it stays valid after `icc` is gone.
std::optional<LightCurve> LightCurveOfProfile(const std::vector<std::uint8_t>& icc);

} // namespace lumivane
