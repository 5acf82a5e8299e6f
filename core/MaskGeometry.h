// SPDX-License-Identifier: GPL-3.0-or-later
// Mask-side helpers: the hotspot levels sampled at the mask's centre, the
// aspect-ratio check, the overlay drawn over the left preview, the
// brightness zones and marks of the kPanelWidth x kPanelHeight adjustment
// panel, the marker arithmetic of a quarter turn, the levels a click on the
// panel picks, the mask turned by quarter turns, and cutting the crop margins.
#pragma once

#include "Bitmap24.h"
#include "Bitmap48.h"

namespace lumivane {

struct HotspotLevels {
    int r = 0, g = 0, b = 0;
};

// Mean of five pixels in the middle row: centre = float(W / 2), float(H / 2);
// row Round(centreY), columns Round(i + centreX) for i = -2 .. 2 (ties to
// even, so an odd width samples some columns twice). Columns and the row are
// clamped into the bitmap; an empty bitmap gives levels 0.
HotspotLevels SampleCentreLevels(const Bitmap24& maskFull);
// The same five pixels of a mask of 16 bits a channel: levels 0 .. 65535.
HotspotLevels SampleCentreLevels16(const Bitmap48& maskFull);
// The levels SampleCentreLevels gives on `mask` stretched to width x height
// (stretchDraw), read from the five source pixels alone, without making the
// stretched picture.
HotspotLevels SampleCentreLevelsThrough(const Bitmap24& mask, int width, int height);
// The same for a mask of 16 bits a channel.
HotspotLevels SampleCentreLevels16Through(const Bitmap48& mask, int width, int height);

// True when the two aspect ratios differ after two-decimal rounding.
// Throws std::domain_error when a height is 0.
bool MaskRatioDiffers(int photoW, int photoH, int maskW, int maskH);

// The overlay picture: 290 x 217, white with one blue pixel at (145, 108).
Bitmap24 MakeOverlayBitmap();

// Redraws the overlay: the centre lines of the mask in blue (pen width 2)
// and, when a hotspot is chosen (HotspotChosen(hotspotX, hotspotY)), a
// cross at the marker (x, y) of the panel frame (kPanelWidth x kPanelHeight) scaled by 0.9.
void DrawMaskOverlay(Bitmap24& overlay, int hotspotX, int hotspotY, int x, int y);

// Luminance Round(0.3 r + 0.59 g + 0.11 b), extended precision, ties to even.
int Lum(int r, int g, int b);

// Marks the brightest parts of `panelMask` on `target`: with maxR, maxG,
// maxB the channel maxima, for d = 15, 10, 5 every pixel whose packed colour
// is above the packed colour of (maxR - d, maxG - d, maxB - d) (each modulo
// 256) is painted red, orange, yellow; later passes win.
void PaintBrightnessZones(const Bitmap24& panelMask, Bitmap24& target);

// Centre lines of the hotspot panel, black, width 1.
void DrawCentreLines(Bitmap24& target);

// Hotspot cross at (x, y), black, width 1.
void DrawHotspotCross(Bitmap24& target, int x, int y);

// Moves the hotspot marker with a quarter turn of the mask about the centre
// (kPanelCentreX, kPanelCentreY) of the panel frame, then rescales it about the centre because
// the turned mask is stretched back to kPanelWidth x kPanelHeight (x by 1.33, y by 0.75).
void TurnMarker(int& markerX, int& markerY, bool clockwise);

// The levels a click on the adjustment panel's kPanelWidth x kPanelHeight view of `mask` at
// (x, y) picks. Throws std::invalid_argument for a point outside the view.
HotspotLevels PanelLevelsAt(const Bitmap24& mask, int x, int y);

// The same pick on a mask of 16 bits a channel: its pixel under (x, y) of
// the view, on the 16-bit scale (the view of its 8-bit picture shows this
// pixel, rounded).
HotspotLevels PanelLevelsAt16(const Bitmap48& mask, int x, int y);

// The mask after `turns` clockwise quarter turns (0..3).
Bitmap24 TurnedMask(const Bitmap24& mask, int turns);

} // namespace lumivane
