// SPDX-License-Identifier: GPL-3.0-or-later
// How brightness falls off from the centre of the output frame to its
// corners: the mean linear luminance in rings of equal width, in stops
// relative to the innermost ring. A well corrected photograph of an evenly
// lit scene gives a flat curve; vignetting gives a curve that drops towards
// the corners.
#pragma once

#include "Bitmap24.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lumivane {

constexpr int kFalloffRings = 50;
// The corner figure covers the outermost 5 % of the half-diagonal.
constexpr double kCornerFrom = 0.95;

// An sRGB byte as linear light, 0 .. 1.
double LinearFromSrgb(std::uint8_t value);
// Rec. 709 luminance of linearised sRGB red, green, blue bytes.
double LinearLuminance(std::uint8_t r, std::uint8_t g, std::uint8_t b);

// Which ring every pixel of an image belongs to. Column i of the image
// stands for source column sourceX[i] and row j for source row sourceY[j]
// (the identity for a full-size image, the sampled indices for a reduced
// copy), so a reduced copy is measured in the geometry of the photograph.
// The rings are centred on `frame` (source pixels, right and bottom
// exclusive) and reach from its centre to its corners: ring k holds the
// pixel centres at k/50 .. (k+1)/50 of the half-diagonal. Pixels whose
// source lies outside the frame belong to no ring.
class FalloffRings {
public:
    FalloffRings() = default;
    FalloffRings(std::span<const int> sourceX, std::span<const int> sourceY, const Rect& frame);
    // The rings of a full-size image (every pixel its own source).
    static FalloffRings FullSize(int width, int height, const Rect& frame);

    int width() const { return width_; }
    int height() const { return height_; }
    // kOutside, or the ring index with kCornerBit set for pixels in the
    // outermost 5 %.
    std::uint8_t at(int x, int y) const { return codes_[std::size_t(y) * std::size_t(width_) + std::size_t(x)]; }

    static constexpr std::uint8_t kOutside = 0xFF;
    static constexpr std::uint8_t kCornerBit = 0x80;

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<std::uint8_t> codes_;
};

struct FalloffProfile {
    // Stops relative to the reference ring; NaN for a ring without pixels
    // (or when the reference ring is black).
    std::array<double, kFalloffRings> ev{};
    std::array<long long, kFalloffRings> pixels{};
    // Stops of the outermost 5 % against the same reference; NaN when no
    // pixel lies there.
    double cornerEv = 0;
    // The innermost ring that holds pixels (-1 when none does).
    int referenceRing = -1;
    bool empty() const { return referenceRing < 0; }
};

// Measures the pixels of `image` (the size the rings were made for) that lie
// in `counted` (image coordinates; pixels outside it are left out, e.g. where
// no mask pixel is paired with the photograph). Throws
// std::invalid_argument when the image and the rings differ in size.
FalloffProfile MeasureFalloff(const Bitmap24& image, const FalloffRings& rings, const Rect& counted);
FalloffProfile MeasureFalloff(const Bitmap24& image, const FalloffRings& rings);

// One line for the window: "corners: -1.4 EV before, -0.1 EV after, mask
// -1.5 EV". Profiles passed as null (no mask loaded) are left out; a figure
// that could not be measured reads "n/a".
std::string CornerSummary(const FalloffProfile& before, const FalloffProfile* after, const FalloffProfile* mask);

// A number of stops with one decimal and its sign: "-1.4", "+0.2", "0.0".
std::string FormatEv(double ev);

} // namespace lumivane
