// SPDX-License-Identifier: GPL-3.0-or-later
// The tone curve of a photograph's ICC profile, for the exact method's way
// from codes to linear light. Profiles of the matrix/TRC kind (Adobe RGB,
// ProPhoto, linear spaces, Display P3) describe it by a gamma or a sampled
// curve per channel; those are read with Little CMS.
#pragma once

#include "ExactCorrection16.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumivane {

// The curve of `icc` when it is an RGB matrix/TRC profile whose three tone
// curves agree (every profile named above); nothing for any other profile,
// a damaged one, or none (the sRGB curve then applies). The curve holds a
// copy of the profile's, so it stays valid after `icc` is gone.
std::optional<LightCurve> LightCurveOfProfile(const std::vector<std::uint8_t>& icc);

// The mask's own colour profile: whether its file carries one, and its
// curve when LightCurveOfProfile finds one (otherwise the sRGB curve).
struct MaskProfile {
    bool present = false;
    std::optional<LightCurve> curve;
};
MaskProfile MaskProfileOf(const std::vector<std::uint8_t>& icc);
// The profile the mask file at `path` carries (JPEG APP2 or TIFF tag 34675);
// none for a file without one, one that cannot be read (never an error: the
// mask's own load reports that), or an empty path.
MaskProfile MaskProfileOfFile(const std::string& path);

// The exact method's curves for a photograph carrying `photoIcc` (empty:
// none) and a mask with `mask`. The mask is taken to be in the
// photograph's space unless it carries a profile of its own. Nothing when
// both sides come out on the sRGB curve (no profile of the simple kind, or
// an sRGB profile), so those corrections stay exactly the sRGB method's.
struct ExactCurves {
    LightCurve photo;
    LightCurve mask;
};
std::optional<ExactCurves> ExactCurvesFor(const std::vector<std::uint8_t>& photoIcc, const MaskProfile& mask);

} // namespace lumivane
