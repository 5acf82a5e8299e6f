// SPDX-License-Identifier: GPL-3.0-or-later
#include "CorrectionSetup.h"

namespace lumivane {

CorrectionSetup SetUpCorrection(const Bitmap24& mask, const HotspotLevels& levels, const CorrectionChoices& choices,
                                int width, int height)
{
    CorrectionSetup setup;
    setup.mask = &mask;
    setup.levels = levels;
    // An 8-bit mask's levels on the 16-bit scale; a 16-bit mask's own are
    // set by the caller.
    setup.levels16 = HotspotLevels{levels.r * 257, levels.g * 257, levels.b * 257};
    setup.choices = choices;
    setup.width = width;
    setup.height = height;
    setup.targets = TargetsFor(levels.r, levels.g, levels.b, choices.brightness);
    setup.damping = DampingForStrength(choices.strength);
    setup.region = FullSizeRegion(choices.offsetX, choices.offsetY, width, height);
    return setup;
}

void ApplyCorrectionOnCurves(Bitmap24& photo, const Bitmap24& mask, const CorrectionRegion& region, float damping,
                             const CorrectionTargets& targets, const CorrectionMode& mode,
                             const std::optional<ExactCurves>& curves)
{
    if (!curves || mode.method != CorrectionMethod::Exact) {
        ApplyCorrection(photo, mask, region, damping, targets, mode);
        return;
    }
    const Bitmap24 source = photo;
    const CorrectionPass pass(source, mask, region, targets, mode.colour, curves->photo, curves->mask);
    pass.CorrectInto(Rect{0, 0, photo.width(), photo.height()}, photo.data(), std::ptrdiff_t(photo.rowBytes()));
}

} // namespace lumivane
