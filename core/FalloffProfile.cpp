// SPDX-License-Identifier: GPL-3.0-or-later
#include "FalloffProfile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>
#include <stdexcept>

namespace lumivane {

namespace {

constexpr double kWeightR = 0.2126;
constexpr double kWeightG = 0.7152;
constexpr double kWeightB = 0.0722;

// Per channel: the byte's linear value times the channel's weight, so a
// pixel's luminance is three look-ups and two additions.
struct LuminanceTables {
    std::array<double, 256> r{}, g{}, b{};
    LuminanceTables()
    {
        for (int v = 0; v < 256; ++v) {
            const double linear = LinearFromSrgb(std::uint8_t(v));
            r[std::size_t(v)] = kWeightR * linear;
            g[std::size_t(v)] = kWeightG * linear;
            b[std::size_t(v)] = kWeightB * linear;
        }
    }
};

const LuminanceTables& luminanceTables()
{
    static const LuminanceTables tables;
    return tables;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

} // namespace

double LinearFromSrgb(std::uint8_t value)
{
    const double c = value / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double LinearLuminance(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return kWeightR * LinearFromSrgb(r) + kWeightG * LinearFromSrgb(g) + kWeightB * LinearFromSrgb(b);
}

FalloffRings::FalloffRings(std::span<const int> sourceX, std::span<const int> sourceY, const Rect& frame)
    : width_(int(sourceX.size())), height_(int(sourceY.size())),
      codes_(sourceX.size() * sourceY.size(), kOutside)
{
    if (frame.width() <= 0 || frame.height() <= 0)
        return;
    const double cx = (double(frame.left) + double(frame.right)) / 2;
    const double cy = (double(frame.top) + double(frame.bottom)) / 2;
    const double halfDiagonal = 0.5 * std::hypot(double(frame.width()), double(frame.height()));
    // Squared distances of every column and row from the centre, in units
    // of the half-diagonal; a column or row outside the frame is marked
    // negative.
    std::vector<double> dx2(sourceX.size()), dy2(sourceY.size());
    for (std::size_t i = 0; i < sourceX.size(); ++i) {
        const int s = sourceX[i];
        const double d = (s + 0.5 - cx) / halfDiagonal;
        dx2[i] = s >= frame.left && s < frame.right ? d * d : -1;
    }
    for (std::size_t j = 0; j < sourceY.size(); ++j) {
        const int s = sourceY[j];
        const double d = (s + 0.5 - cy) / halfDiagonal;
        dy2[j] = s >= frame.top && s < frame.bottom ? d * d : -1;
    }
    const double corner2 = kCornerFrom * kCornerFrom;
    for (std::size_t j = 0; j < sourceY.size(); ++j) {
        if (dy2[j] < 0)
            continue;
        std::uint8_t* row = codes_.data() + j * sourceX.size();
        for (std::size_t i = 0; i < sourceX.size(); ++i) {
            if (dx2[i] < 0)
                continue;
            const double r2 = dx2[i] + dy2[j];
            const int ring = std::min(kFalloffRings - 1, int(std::sqrt(r2) * kFalloffRings));
            row[i] = std::uint8_t(ring | (r2 >= corner2 ? kCornerBit : 0));
        }
    }
}

FalloffRings FalloffRings::FullSize(int width, int height, const Rect& frame)
{
    std::vector<int> xs(std::size_t(std::max(width, 0))), ys(std::size_t(std::max(height, 0)));
    std::iota(xs.begin(), xs.end(), 0);
    std::iota(ys.begin(), ys.end(), 0);
    return FalloffRings(xs, ys, frame);
}

FalloffProfile MeasureFalloff(const Bitmap24& image, const FalloffRings& rings, const Rect& counted)
{
    if (image.width() != rings.width() || image.height() != rings.height())
        throw std::invalid_argument("Fall-off rings made for " + std::to_string(rings.width()) + "x" +
                                    std::to_string(rings.height()) + " pixels, not " +
                                    std::to_string(image.width()) + "x" + std::to_string(image.height()));
    const LuminanceTables& lum = luminanceTables();
    std::array<double, kFalloffRings> sums{};
    FalloffProfile profile;
    double cornerSum = 0;
    long long cornerPixels = 0;
    const int x0 = std::max(counted.left, 0), x1 = std::min(counted.right, image.width());
    const int y0 = std::max(counted.top, 0), y1 = std::min(counted.bottom, image.height());
    for (int y = y0; y < y1; ++y) {
        const std::uint8_t* px = image.data() + image.rowBytes() * std::size_t(y);
        for (int x = x0; x < x1; ++x) {
            const std::uint8_t code = rings.at(x, y);
            if (code == FalloffRings::kOutside)
                continue;
            const std::uint8_t* p = px + 3 * std::size_t(x);
            const double l = lum.b[p[0]] + lum.g[p[1]] + lum.r[p[2]];
            const int ring = code & ~FalloffRings::kCornerBit;
            sums[std::size_t(ring)] += l;
            ++profile.pixels[std::size_t(ring)];
            if (code & FalloffRings::kCornerBit) {
                cornerSum += l;
                ++cornerPixels;
            }
        }
    }
    for (int k = 0; k < kFalloffRings; ++k)
        if (profile.pixels[std::size_t(k)] > 0) {
            profile.referenceRing = k;
            break;
        }
    profile.ev.fill(kNaN);
    profile.cornerEv = kNaN;
    if (profile.empty())
        return profile;
    const double reference = sums[std::size_t(profile.referenceRing)] /
                             double(profile.pixels[std::size_t(profile.referenceRing)]);
    if (!(reference > 0))
        return profile; // a black centre gives no scale to measure against
    for (int k = 0; k < kFalloffRings; ++k) {
        const long long n = profile.pixels[std::size_t(k)];
        if (n > 0)
            profile.ev[std::size_t(k)] = std::log2(sums[std::size_t(k)] / double(n) / reference);
    }
    if (cornerPixels > 0)
        profile.cornerEv = std::log2(cornerSum / double(cornerPixels) / reference);
    return profile;
}

FalloffProfile MeasureFalloff(const Bitmap24& image, const FalloffRings& rings)
{
    return MeasureFalloff(image, rings, Rect{0, 0, image.width(), image.height()});
}

std::string FormatEv(double ev)
{
    if (!std::isfinite(ev))
        return ev < 0 ? "below -99" : "n/a"; // a black corner is -infinity stops
    if (ev <= -99.95)
        return "below -99";
    // Round to one decimal first, so -0.04 reads "0.0", not "-0.0".
    const double tenths = std::nearbyint(ev * 10);
    if (tenths == 0)
        return "0.0";
    char text[32];
    std::snprintf(text, sizeof text, "%+.1f", tenths / 10);
    return text;
}

std::string CornerSummary(const FalloffProfile& before, const FalloffProfile* after, const FalloffProfile* mask)
{
    auto figure = [](double ev) { return std::isnan(ev) ? std::string("n/a") : FormatEv(ev) + " EV"; };
    std::string line = "corners: " + figure(before.cornerEv) + " before";
    if (after)
        line += ", " + figure(after->cornerEv) + " after";
    if (mask)
        line += ", mask " + figure(mask->cornerEv);
    return line;
}

} // namespace lumivane
