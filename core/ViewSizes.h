// SPDX-License-Identifier: GPL-3.0-or-later
// The sizes of the pictures the window shows, in pixels, and the panel
// position that stands for "no hotspot chosen". The core computes in these
// sizes (preview margins, the panel's levels, the overlay), so they live
// here rather than in the window.
#pragma once

namespace lumivane {

// Size of both previews.
inline constexpr int kPreviewWidth = 289;
inline constexpr int kPreviewHeight = 216;
// Size of the hotspot panel's picture.
inline constexpr int kPanelWidth = 320;
inline constexpr int kPanelHeight = 240;
// Size of the mask thumbnail's picture.
inline constexpr int kThumbnailWidth = 66;
inline constexpr int kThumbnailHeight = 49;

// The centre of the hotspot panel's picture.
inline constexpr int kPanelCentreX = kPanelWidth / 2;
inline constexpr int kPanelCentreY = kPanelHeight / 2;

// The panel's centre stands for "no hotspot chosen": a stored or shown
// hotspot at this position means the levels sampled at the mask's centre.
inline constexpr int kNoHotspotX = kPanelCentreX;
inline constexpr int kNoHotspotY = kPanelCentreY;

// Whether (x, y) of the panel is a chosen hotspot. Either coordinate on
// the centre line counts as none, as stored files expect.
constexpr bool HotspotChosen(int x, int y)
{
    return x != kNoHotspotX && y != kNoHotspotY;
}

} // namespace lumivane
