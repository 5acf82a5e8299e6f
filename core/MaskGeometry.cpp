// SPDX-License-Identifier: GPL-3.0-or-later
#include "MaskGeometry.h"

#include "BitmapRotation.h"
#include "CorrectionKernel.h"
#include "TextFormat.h"
#include "ViewSizes.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace lumivane {

namespace {

// The centre sampling on a width x height picture whose pixel (x, y) is at
// `pixelAt(x, y)` (blue, green, red).
template <class PixelAt>
HotspotLevels sampleCentre(int width, int height, PixelAt pixelAt)
{
    HotspotLevels levels;
    if (width <= 0 || height <= 0)
        return levels;
    const float centreX = float(static_cast<long double>(width) / 2.0L);
    const float centreY = float(static_cast<long double>(height) / 2.0L);
    const long long row = std::clamp<long long>(RoundHalfEven(centreY), 0, height - 1);
    float sumR = 0, sumG = 0, sumB = 0;
    for (int sampleIndex = -2; sampleIndex <= 2; ++sampleIndex) {
        const long long column = std::clamp<long long>(
            RoundHalfEven(static_cast<long double>(sampleIndex) + static_cast<long double>(centreX)), 0,
            width - 1);
        const auto* p = pixelAt(column, row);
        // Running sums are floats and the level is taken after every
        // sample; only the last assignment survives.
        sumR += p[2];
        levels.r = int(RoundHalfEven(static_cast<long double>(sumR) / 5.0L));
        sumG += p[1];
        levels.g = int(RoundHalfEven(static_cast<long double>(sumG) / 5.0L));
        sumB += p[0];
        levels.b = int(RoundHalfEven(static_cast<long double>(sumB) / 5.0L));
    }
    return levels;
}

// The centre sampling on `mask` stretched to width x height, from the
// source pixels the stretch takes; `rowOf(y)` gives source row y.
template <class Picture, class RowOf>
HotspotLevels sampleCentreThrough(const Picture& mask, int width, int height, RowOf rowOf)
{
    if (mask.empty())
        return {};
    return sampleCentre(width, height, [&](long long x, long long y) {
        const long long sx = stretchSourceIndex(x, mask.width(), width);
        const long long sy = stretchSourceIndex(y, mask.height(), height);
        return rowOf(int(sy)) + std::size_t(sx) * 3;
    });
}

} // namespace

HotspotLevels SampleCentreLevels(const Bitmap24& maskFull)
{
    if (maskFull.empty())
        return {};
    return sampleCentre(maskFull.width(), maskFull.height(), [&](long long x, long long y) {
        return maskFull.scanLine(int(y)) + std::size_t(x) * 3;
    });
}

HotspotLevels SampleCentreLevels16(const Bitmap48& maskFull)
{
    if (maskFull.empty())
        return {};
    return sampleCentre(maskFull.width(), maskFull.height(), [&](long long x, long long y) {
        return maskFull.row(int(y)) + std::size_t(x) * 3;
    });
}

HotspotLevels SampleCentreLevelsThrough(const Bitmap24& mask, int width, int height)
{
    return sampleCentreThrough(mask, width, height, [&](int y) { return mask.scanLine(y); });
}

HotspotLevels SampleCentreLevels16Through(const Bitmap48& mask, int width, int height)
{
    return sampleCentreThrough(mask, width, height, [&](int y) { return mask.row(y); });
}

bool MaskRatioDiffers(int photoW, int photoH, int maskW, int maskH)
{
    return RoundedRatio(photoW, photoH) != RoundedRatio(maskW, maskH);
}

Bitmap24 MakeOverlayBitmap()
{
    Bitmap24 overlay(290, 217);
    overlay.setPixel(145, 108, kPureBlue);
    return overlay;
}

void DrawMaskOverlay(Bitmap24& overlay, int hotspotX, int hotspotY, int x, int y)
{
    Canvas canvas(overlay);
    canvas.setPen(kPureBlue, 2);
    canvas.rectangle(1, 1, kPreviewWidth, kPreviewHeight);
    canvas.line(0, kPreviewHeight / 2, kPreviewWidth, kPreviewHeight / 2);
    canvas.line((kPreviewWidth + 1) / 2, 0, (kPreviewWidth + 1) / 2, kPreviewHeight);
    // The chosen-hotspot test looks at the hotspot, not at the marker.
    if (HotspotChosen(hotspotX, hotspotY)) {
        const int cx = int(RoundHalfEven(0.9L * static_cast<long double>(x)));
        const int cy = int(RoundHalfEven(0.9L * static_cast<long double>(y)));
        canvas.line(cx - 7, cy, cx + 6, cy);
        canvas.line(cx, cy - 7, cx, cy + 6);
        canvas.line(cx + 6, cy, cx - 7, cy);
    }
}

int Lum(int r, int g, int b)
{
    return int(RoundHalfEven(0.3L * static_cast<long double>(r) + 0.59L * static_cast<long double>(g) +
                             0.11L * static_cast<long double>(b)));
}

void PaintBrightnessZones(const Bitmap24& panelMask, Bitmap24& target)
{
    if (panelMask.empty())
        return;
    std::uint8_t maxB = 0, maxG = 0, maxR = 0;
    for (int y = 0; y < panelMask.height(); ++y) {
        const std::uint8_t* p = panelMask.scanLine(y);
        for (int x = 0; x < panelMask.width(); ++x, p += 3) {
            maxB = std::max(maxB, p[0]);
            maxG = std::max(maxG, p[1]);
            maxR = std::max(maxR, p[2]);
        }
    }
    // Thresholds of the three passes; a channel darker than d wraps round
    // (maxB = 10 gives a blue threshold of 251), as byte arithmetic does.
    const int depths[3] = {15, 10, 5};
    const std::uint8_t paint[3][3] = {{0, 0, 255}, {0, 136, 255}, {0, 255, 255}}; // blue, green, red
    std::int32_t thresholds[3];
    for (int i = 0; i < 3; ++i)
        thresholds[i] = std::int32_t(packColour(std::uint8_t(maxR - depths[i]), std::uint8_t(maxG - depths[i]),
                                                std::uint8_t(maxB - depths[i])));

    // One sweep instead of three passes: the last pass whose threshold a
    // pixel exceeds decides its colour, exactly as overwriting would.
    const int width = std::min(panelMask.width(), target.width());
    const int height = std::min(panelMask.height(), target.height());
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = panelMask.scanLine(y);
        std::uint8_t* out = target.scanLine(y);
        for (int x = 0; x < width; ++x, in += 3, out += 3) {
            const std::int32_t packed = std::int32_t(packColour(in[2], in[1], in[0]));
            int zone = -1;
            for (int i = 0; i < 3; ++i)
                if (packed > thresholds[i])
                    zone = i;
            if (zone >= 0) {
                out[0] = paint[zone][0];
                out[1] = paint[zone][1];
                out[2] = paint[zone][2];
            }
        }
    }
}

void DrawCentreLines(Bitmap24& target)
{
    Canvas canvas(target);
    canvas.setPen(kBlack, 1);
    canvas.line(kPanelCentreX, 0, kPanelCentreX, kPanelHeight);
    canvas.line(0, kPanelCentreY, kPanelWidth, kPanelCentreY);
}

void DrawHotspotCross(Bitmap24& target, int x, int y)
{
    Canvas canvas(target);
    canvas.setPen(kBlack, 1);
    canvas.line(x - 5, y, x + 6, y);
    canvas.line(x, y - 5, x, y + 6);
}

void TurnMarker(int& markerX, int& markerY, bool clockwise)
{
    const int oldX = markerX;
    const int oldY = markerY;
    const int turnedX = clockwise ? 280 - oldY : oldY + 40;
    const int turnedY = clockwise ? oldX - 40 : 280 - oldX;
    // Each product is held as a float before rounding.
    const float scaledX = float(static_cast<long double>(turnedX - kPanelCentreX) * 1.33L);
    const float scaledY = float(static_cast<long double>(turnedY - kPanelCentreY) * 0.75L);
    markerX = int(RoundHalfEven(scaledX)) + kPanelCentreX;
    markerY = int(RoundHalfEven(scaledY)) + kPanelCentreY;
}

HotspotLevels PanelLevelsAt(const Bitmap24& mask, int x, int y)
{
    if (x < 0 || x >= kPanelWidth || y < 0 || y >= kPanelHeight)
        throw std::invalid_argument("The hotspot " + std::to_string(x) + "," + std::to_string(y) +
                                    " lies outside the " + std::to_string(kPanelWidth) + " x " +
                                    std::to_string(kPanelHeight) + " view of the mask.");
    Bitmap24 view(kPanelWidth, kPanelHeight);
    stretchDraw(mask, view);
    const Colour c = view.pixel(x, y);
    return {redOf(c), greenOf(c), blueOf(c)};
}

HotspotLevels PanelLevelsAt16(const Bitmap48& mask, int x, int y)
{
    if (x < 0 || x >= kPanelWidth || y < 0 || y >= kPanelHeight)
        throw std::invalid_argument("The hotspot " + std::to_string(x) + "," + std::to_string(y) +
                                    " lies outside the " + std::to_string(kPanelWidth) + " x " +
                                    std::to_string(kPanelHeight) + " view of the mask.");
    if (mask.empty())
        return {};
    // The pixel the view's stretch shows there.
    const long long sx = stretchSourceIndex(x, mask.width(), kPanelWidth);
    const long long sy = stretchSourceIndex(y, mask.height(), kPanelHeight);
    const std::uint16_t* p = mask.row(int(sy)) + std::size_t(sx) * 3;
    return {p[2], p[1], p[0]};
}

Bitmap24 TurnedMask(const Bitmap24& mask, int turns)
{
    Bitmap24 turned = mask;
    Bitmap24 next;
    for (int i = 0; i < ((turns % 4) + 4) % 4; ++i) {
        // A clockwise quarter turn is a turn of 270 degrees counterclockwise.
        Rotate90Into(270, turned, next);
        std::swap(turned, next);
    }
    return turned;
}

} // namespace lumivane
