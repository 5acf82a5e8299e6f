// SPDX-License-Identifier: GPL-3.0-or-later
// Situations the workflow's commands do not reach directly, built for tests:
// hotspot levels a mask load did not sample, a hotspot away from the
// centre with a stored hotspot pending. Everything else a test drives
// through the commands.
#pragma once

#include "Workflow.h"

namespace lumivane {

struct WorkflowTestAccess {
    // The hotspot levels every correction aims at, as if picked.
    static void SetHotspotLevels(Workflow& flow, int r, int g, int b)
    {
        flow.mask_.HotspotR = r;
        flow.mask_.HotspotG = g;
        flow.mask_.HotspotB = b;
    }
    // A hotspot and its marker at (x, y) of the panel, with a level of `r`
    // red, as Store keeps it for the default mask (`storedPending`).
    static void SetHotspot(Workflow& flow, int x, int y, int r, bool storedPending)
    {
        flow.mask_.HotspotX = flow.mask_.MarkerX = x;
        flow.mask_.HotspotY = flow.mask_.MarkerY = y;
        flow.mask_.HotspotR = r;
        flow.mask_.StoredHotspotPending = storedPending;
    }
};

} // namespace lumivane
