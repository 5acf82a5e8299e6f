// SPDX-License-Identifier: GPL-3.0-or-later
// One value that describes a correction: the mask as used, its levels, what
// the user chose (offset, brightness, boost, method, output format and
// quality, crop) and what follows from them for one photograph size (the
// targets, the damping and the full-size region).
//
// The workflow makes it for the photograph shown (Workflow::CurrentSetup),
// the batch for each photograph it saves; the preview, the save, "Save
// Images", lumivane-cli and the before/after view all take it. Nothing else
// turns levels and sliders into targets or an offset into a region, so a
// file saved alone, in a batch or from the command line, and the view of
// it, agree by construction.
#pragma once

#include "Bitmap24.h"
#include "Bitmap48.h"
#include "CorrectionKernel.h"
#include "CorrectionMethod.h"
#include "MaskGeometry.h"
#include "Naming.h"
#include "ProfileCurve.h"
#include "SaveQuality.h"

#include <optional>

namespace lumivane {

// What the user chose; the same for every photograph of a batch.
struct CorrectionChoices {
    // Mask offset in preview pixels (the adjustment panel's position).
    int offsetX = 0;
    int offsetY = 0;
    int brightness = 25;
    // The vignetting reduction boost; the exact method has none.
    int strength = 0;
    CorrectionMode mode;
    // JPEG quality 1..100, or kBmpQuality for an uncompressed BMP.
    int quality = 90;
    CropMargins crop;
    // A TIFF instead of the JPEG or BMP the quality says.
    bool tiff = false;
    // Bits a channel of a TIFF: 8, 16, or 0 for the photograph's own depth.
    int depth = 0;

    OutputFormat Format() const
    {
        return tiff ? OutputFormat::Tiff : FormatOfQuality(IsBmpQuality(quality));
    }
    bool Bmp() const { return Format() == OutputFormat::Bmp; }
    // The bits a channel a TIFF of a photograph of `sourceDepth` gets.
    int OutputDepth(int sourceDepth) const { return depth != 0 ? depth : sourceDepth; }
};

// The correction of one photograph of width x height.
struct CorrectionSetup {
    // The mask as used: loaded, turned and fitted to the photograph's size.
    // Not owned: the caller keeps it alive while the setup is used.
    const Bitmap24* mask = nullptr;
    HotspotLevels levels;
    // For a photograph of 16 bits a channel: the mask at 16 bits when it
    // has them (the size of `mask`; not owned), and the levels on the
    // 16-bit scale, taken from it at the hotspot (an 8-bit mask's levels x
    // 257).
    const Bitmap48* mask16 = nullptr;
    HotspotLevels levels16;
    // The mask file's own colour profile (the exact method linearises the
    // mask with its curve; without one the mask is in the photograph's space).
    MaskProfile maskProfile;
    // The exact method's curves of the photograph's and the mask's colour
    // profiles, for the window's preview and before/after view (nothing:
    // both on sRGB). The save finds them from the files itself.
    std::optional<ExactCurves> curves;
    CorrectionChoices choices;
    int width = 0;
    int height = 0;

    // Derived by SetUpCorrection.
    CorrectionTargets targets;
    float damping = 25.01f;
    CorrectionRegion region; // the offset scaled to the full size

    const CorrectionMode& mode() const { return choices.mode; }
    bool Bmp() const { return choices.Bmp(); }
};

// The setup of a photograph of width x height corrected against `mask`
// (already fitted to that size) with reference `levels`.
CorrectionSetup SetUpCorrection(const Bitmap24& mask, const HotspotLevels& levels, const CorrectionChoices& choices,
                                int width, int height);

// ApplyCorrection of `photo` in place, by the exact method on `curves`
// when they are given and the mode is exact.
void ApplyCorrectionOnCurves(Bitmap24& photo, const Bitmap24& mask, const CorrectionRegion& region, float damping,
                             const CorrectionTargets& targets, const CorrectionMode& mode,
                             const std::optional<ExactCurves>& curves);

} // namespace lumivane
