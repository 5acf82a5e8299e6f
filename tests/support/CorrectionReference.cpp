// SPDX-License-Identifier: GPL-3.0-or-later
#include "CorrectionReference.h"

#include "ExactCorrection.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace lumivane {

namespace {

// The kernel's span, with its check of the damping (the exact method has
// none).
CorrectionSpan checkedSpan(const Bitmap24& photo, const Bitmap24& mask, const CorrectionRegion& region,
                           float damping, CorrectionMethod method)
{
    if (method == CorrectionMethod::Additive && (!(damping > 0) || !std::isfinite(damping)))
        throw std::invalid_argument("Correction damping must be a positive finite number");
    return ClippedSpan(photo.width(), photo.height(), mask, region);
}

// fn(photo pixel, mask pixel) over the span, rows top to bottom and columns
// left to right.
template <typename Fn>
void forEachPixel(Bitmap24& photo, const Bitmap24& mask, const CorrectionRegion& region, const CorrectionSpan& s,
                  const Fn& fn)
{
    for (long long y = s.y0; y <= s.y1; ++y) {
        std::uint8_t* prow = photo.scanLine(int(y + region.py));
        const std::uint8_t* mrow = mask.scanLine(int(y + region.my));
        for (long long x = s.x0; x <= s.x1; ++x)
            fn(prow + std::size_t(x + region.px) * 3, mrow + std::size_t(x + region.mx) * 3);
    }
}

} // namespace

float CorrectionFactor(std::uint8_t v, std::uint8_t m, int target, float damping)
{
    const long double lv = v;
    return float(lv / (lv + static_cast<long double>(damping)) *
                 static_cast<long double>(static_cast<long long>(target) - m));
}

std::uint8_t CorrectChannelReference(std::uint8_t v, std::uint8_t m, int target, float damping)
{
    const long double lv = v;
    const long double f80 = lv / (lv + static_cast<long double>(damping)) *
                            static_cast<long double>(static_cast<long long>(target) - m);
    const float f = float(f80);
    const long long sum = static_cast<long long>(v) + std::llrint(f);
    return std::uint8_t(std::clamp<long long>(sum, 0, 255));
}

void ApplyCorrectionReference(Bitmap24& photo, const Bitmap24& mask, const CorrectionRegion& region,
                              float damping, const CorrectionTargets& targets)
{
    forEachPixel(photo, mask, region, checkedSpan(photo, mask, region, damping, CorrectionMethod::Additive),
                 [&](std::uint8_t* p, const std::uint8_t* m) {
                     const std::uint8_t b = CorrectChannelReference(p[0], m[0], targets.b, damping);
                     const std::uint8_t g = CorrectChannelReference(p[1], m[1], targets.g, damping);
                     const std::uint8_t r = CorrectChannelReference(p[2], m[2], targets.r, damping);
                     p[0] = b;
                     p[1] = g;
                     p[2] = r;
                 });
}

void ApplyCorrectionReference(Bitmap24& photo, const Bitmap24& mask, const CorrectionRegion& region,
                              float damping, const CorrectionTargets& targets, CorrectionMode mode)
{
    if (mode.method == CorrectionMethod::Additive) {
        ApplyCorrectionReference(photo, mask, region, damping, targets);
        return;
    }
    forEachPixel(photo, mask, region, checkedSpan(photo, mask, region, damping, mode.method),
                 [&](std::uint8_t* p, const std::uint8_t* m) {
                     const std::array<std::uint8_t, 3> out = ExactPixelReference(p, m, targets, mode.colour);
                     std::memcpy(p, out.data(), 3);
                 });
}

void ClearCorrectionTables()
{
    detail::ClearAdditiveTables();
    ClearExactTables();
}

} // namespace lumivane
