// SPDX-License-Identifier: GPL-3.0-or-later
#include "CorrectionSetup.h"

namespace lumivane {

CorrectionSetup SetUpCorrection(const Bitmap24& mask, const HotspotLevels& levels, const CorrectionChoices& choices,
                                int width, int height)
{
    CorrectionSetup setup;
    setup.mask = &mask;
    setup.levels = levels;
    setup.choices = choices;
    setup.width = width;
    setup.height = height;
    setup.targets = TargetsFor(levels.r, levels.g, levels.b, choices.brightness);
    setup.damping = DampingForStrength(choices.strength);
    setup.region = FullSizeRegion(choices.offsetX, choices.offsetY, width, height);
    return setup;
}

} // namespace lumivane
