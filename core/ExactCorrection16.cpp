// SPDX-License-Identifier: GPL-3.0-or-later
#include "ExactCorrection16.h"

#include "ExactCorrection.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace lumivane {

namespace {

constexpr double kMaxCode = 65535.0;

double srgbToLinear(double x)
{
    if (!(x > 0))
        return 0.0;
    return x <= 0.04045 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
}

double luminance(double b, double g, double r)
{
    return 0.0722 * b + 0.7152 * g + 0.2126 * r;
}

double capped(double gain)
{
    return std::min(gain, kExactMaxGain);
}

// The target's light, as the 8-bit method forms it.
struct Targets {
    int code[3]; // blue, green, red
    double lin[3];
    double luma = 0;

    // Codes on a scale whose top is `top` (65535 or 255).
    Targets(const CorrectionTargets& t, const LightCurve& curve, double top = kMaxCode) : code{t.b, t.g, t.r}
    {
        for (int c = 0; c < 3; ++c)
            lin[c] = code[c] > 0 ? curve.toLinear(code[c] / top) : 0.0;
        luma = luminance(lin[0], lin[1], lin[2]);
    }
};

// The gains of one mask pixel given the light of its three codes; a channel
// whose target is 0 or less gets 0 (it is black).
std::array<double, 3> gainsOf(const double* maskLin, const Targets& t, ColourOption colour)
{
    std::array<double, 3> gains{};
    switch (colour) {
    case ColourOption::FalloffAndColour:
        for (int c = 0; c < 3; ++c)
            gains[c] = maskLin[c] > 0 ? capped(t.lin[c] / maskLin[c]) : kExactMaxGain;
        break;
    case ColourOption::FalloffOnly: {
        const double maskLuma = luminance(maskLin[0], maskLin[1], maskLin[2]);
        const double gain = t.luma > 0 ? (maskLuma > 0 ? capped(t.luma / maskLuma) : kExactMaxGain) : 0.0;
        gains = {gain, gain, gain};
        break;
    }
    case ColourOption::ColourOnly: {
        const double maskLuma = luminance(maskLin[0], maskLin[1], maskLin[2]);
        for (int c = 0; c < 3; ++c)
            gains[c] = maskLin[c] > 0 && t.luma > 0 ? capped((t.lin[c] / maskLin[c]) / (t.luma / maskLuma))
                                                    : kExactMaxGain;
        break;
    }
    }
    for (int c = 0; c < 3; ++c)
        if (t.code[c] <= 0)
            gains[c] = 0;
    return gains;
}

// Buckets of linear light by the double's exponent and top mantissa bits:
// from 2^-24 (below it every code is 0) up to 1.
constexpr int kMantissaBits = 11;
constexpr int kBucketShift = 52 - kMantissaBits;

std::uint64_t bitsOf(double value)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

const std::uint64_t kLowestKey = bitsOf(std::ldexp(1.0, -24)) >> kBucketShift;
const std::uint64_t kKeyCount = (bitsOf(1.0) >> kBucketShift) - kLowestKey + 1;

// Light of every code, and the codes of light: code(l) is the number of
// thresholds t_k = lin((k + 0.5) / 65535), k = 0 .. 65534, at or below l.
struct CodeTables {
    std::vector<double> lin;        // 65536
    std::vector<double> threshold;  // 65535, then +infinity
    std::vector<std::uint16_t> start; // per bucket: the code of its lowest light

    explicit CodeTables(const LightCurve& curve) : lin(65536), threshold(65536), start(kKeyCount)
    {
        for (int k = 0; k < 65536; ++k)
            lin[std::size_t(k)] = curve.toLinear(k / kMaxCode);
        for (int k = 0; k < 65535; ++k)
            threshold[std::size_t(k)] = curve.toLinear((k + 0.5) / kMaxCode);
        threshold[65535] = std::numeric_limits<double>::infinity();
        for (std::uint64_t key = 0; key < kKeyCount; ++key) {
            const std::uint64_t bits = (key + kLowestKey) << kBucketShift;
            double low;
            std::memcpy(&low, &bits, sizeof low);
            start[key] = std::uint16_t(std::upper_bound(threshold.begin(), threshold.begin() + 65535, low) -
                                       threshold.begin());
        }
    }

    std::uint16_t code(double l) const
    {
        if (!(l >= std::ldexp(1.0, -24)))
            return l > 0 ? codeFrom(0, l) : 0;
        if (l >= 1.0)
            return codeFrom(start[kKeyCount - 1], l);
        std::size_t k = start[(bitsOf(l) >> kBucketShift) - kLowestKey];
        return codeFrom(k, l);
    }

    std::uint16_t codeFrom(std::size_t k, double l) const
    {
        while (threshold[k] <= l)
            ++k;
        return std::uint16_t(k);
    }
};

} // namespace

const LightCurve& LightCurve::Srgb()
{
    static const LightCurve curve{srgbToLinear};
    return curve;
}

CorrectionTargets TargetsFor16(const HotspotLevels& levels16, int brightness)
{
    const int shift = (brightness - 25) * 257;
    return CorrectionTargets{levels16.r + shift, levels16.g + shift, levels16.b + shift};
}

double LinearOfCode16(double code, const LightCurve& curve)
{
    return code > 0 ? curve.toLinear(code / kMaxCode) : 0.0;
}

std::uint16_t Code16OfLinear(double linear, const LightCurve& curve)
{
    const double l = std::clamp(linear, 0.0, 1.0);
    // The encoding e with toLinear(e) = l, by bisection on the curve.
    double low = 0, high = 1;
    for (int i = 0; i < 64 && high - low > 1e-15; ++i) {
        const double mid = (low + high) / 2;
        (curve.toLinear(mid) <= l ? low : high) = mid;
    }
    // Half-codes round up, as the kernel's thresholds count them.
    return std::uint16_t(std::clamp(std::floor(kMaxCode * low + 0.5), 0.0, kMaxCode));
}

std::array<std::uint16_t, 3> ExactPixelReference16(const std::uint16_t* photoBgr, const std::uint16_t* maskBgr,
                                                   const CorrectionTargets& targets16, ColourOption colour,
                                                   const LightCurve& curve)
{
    return ExactPixelReference16(photoBgr, maskBgr, targets16, colour, curve, curve);
}

std::array<std::uint16_t, 3> ExactPixelReference16(const std::uint16_t* photoBgr, const std::uint16_t* maskBgr,
                                                   const CorrectionTargets& targets16, ColourOption colour,
                                                   const LightCurve& photoCurve, const LightCurve& maskCurve)
{
    const Targets t(targets16, maskCurve);
    const double maskLin[3] = {LinearOfCode16(maskBgr[0], maskCurve), LinearOfCode16(maskBgr[1], maskCurve),
                               LinearOfCode16(maskBgr[2], maskCurve)};
    const std::array<double, 3> gains = gainsOf(maskLin, t, colour);
    std::array<std::uint16_t, 3> out{};
    for (int c = 0; c < 3; ++c)
        out[std::size_t(c)] =
            Code16OfLinear(LinearOfCode16(photoBgr[c], photoCurve) * gains[std::size_t(c)], photoCurve);
    return out;
}

struct ExactKernel16::State {
    Targets targets;
    ColourOption colour;
    CodeTables tables;
    // The light of every mask code: the photograph's table when both are on
    // one curve, else a table of the mask's curve.
    std::vector<double> maskTable;
    const double* maskLin;
    State(const CorrectionTargets& t, ColourOption option, const LightCurve& photoCurve,
          const LightCurve& maskCurve)
        : targets(t, maskCurve), colour(option), tables(photoCurve), maskLin(tables.lin.data())
    {
        if (&maskCurve != &photoCurve) {
            maskTable.resize(65536);
            for (int k = 0; k < 65536; ++k)
                maskTable[std::size_t(k)] = LinearOfCode16(k, maskCurve);
            maskLin = maskTable.data();
        }
    }
};

ExactKernel16::ExactKernel16(const CorrectionTargets& targets16, ColourOption colour, const LightCurve& curve)
    : state_(std::make_unique<State>(targets16, colour, curve, curve))
{
}

ExactKernel16::ExactKernel16(const CorrectionTargets& targets16, ColourOption colour, const LightCurve& photoCurve,
                             const LightCurve& maskCurve)
    : state_(std::make_unique<State>(targets16, colour, photoCurve, maskCurve))
{
}

ExactKernel16::~ExactKernel16() = default;

void ExactKernel16::CorrectRun(const std::uint16_t* p, const std::uint16_t* m, std::uint16_t* out,
                               long long pixels) const
{
    const CodeTables& tables = state_->tables;
    // Masks are smooth (an 8-bit mask x 257 holds each value over long
    // runs): the gains of the pixel before are kept while its mask pixel is
    // the same.
    std::uint16_t lastMask[3] = {};
    std::array<double, 3> gains{};
    bool known = false;
    for (long long i = 0; i < pixels; ++i, p += 3, m += 3, out += 3) {
        if (!known || m[0] != lastMask[0] || m[1] != lastMask[1] || m[2] != lastMask[2]) {
            const double* table = state_->maskLin;
            const double maskLin[3] = {table[m[0]], table[m[1]], table[m[2]]};
            gains = gainsOf(maskLin, state_->targets, state_->colour);
            std::copy(m, m + 3, lastMask);
            known = true;
        }
        const double light[3] = {tables.lin[p[0]] * gains[0], tables.lin[p[1]] * gains[1],
                                 tables.lin[p[2]] * gains[2]};
        for (int c = 0; c < 3; ++c)
            out[c] = tables.code(light[c]);
    }
}

struct ExactCurveKernel::State {
    Targets targets;
    ColourOption colour;
    double photoLin[256];
    double maskLin[256];
    double threshold[256]; // light where code k + 1 begins; then +infinity

    State(const CorrectionTargets& t, ColourOption option, const LightCurve& photoCurve,
          const LightCurve& maskCurve)
        : targets(t, maskCurve, 255.0), colour(option)
    {
        for (int k = 0; k < 256; ++k) {
            photoLin[k] = k > 0 ? photoCurve.toLinear(k / 255.0) : 0.0;
            maskLin[k] = k > 0 ? maskCurve.toLinear(k / 255.0) : 0.0;
            threshold[k] = k < 255 ? photoCurve.toLinear((k + 0.5) / 255.0)
                                   : std::numeric_limits<double>::infinity();
        }
    }

    std::uint8_t code(double l) const
    {
        return std::uint8_t(std::upper_bound(threshold, threshold + 255, l) - threshold);
    }
};

ExactCurveKernel::ExactCurveKernel(const CorrectionTargets& targets, ColourOption colour,
                                   const LightCurve& photoCurve, const LightCurve& maskCurve)
    : state_(std::make_unique<State>(targets, colour, photoCurve, maskCurve))
{
}

ExactCurveKernel::~ExactCurveKernel() = default;

void ExactCurveKernel::CorrectRun(const std::uint8_t* p, const std::uint8_t* m, std::uint8_t* out,
                                  long long pixels) const
{
    const State& s = *state_;
    for (long long i = 0; i < pixels; ++i, p += 3, m += 3, out += 3) {
        const double maskLin[3] = {s.maskLin[m[0]], s.maskLin[m[1]], s.maskLin[m[2]]};
        const std::array<double, 3> gains = gainsOf(maskLin, s.targets, s.colour);
        const double light[3] = {s.photoLin[p[0]] * gains[0], s.photoLin[p[1]] * gains[1],
                                 s.photoLin[p[2]] * gains[2]};
        for (int c = 0; c < 3; ++c)
            out[c] = s.code(light[c]);
    }
}

CorrectionPass16::CorrectionPass16(const Bitmap48& photo, const Bitmap24& mask, const Bitmap48* mask16,
                                   const CorrectionRegion& region, const CorrectionTargets& targets16,
                                   ColourOption colour, const LightCurve& curve)
    : CorrectionPass16(photo, mask, mask16, region, targets16, colour, curve, curve)
{
}

CorrectionPass16::CorrectionPass16(const Bitmap48& photo, const Bitmap24& mask, const Bitmap48* mask16,
                                   const CorrectionRegion& region, const CorrectionTargets& targets16,
                                   ColourOption colour, const LightCurve& photoCurve, const LightCurve& maskCurve)
    : photo_(photo), mask_(mask), mask16_(mask16), region_(region), kernel_(targets16, colour, photoCurve, maskCurve)
{
    if (mask16 && (mask16->width() != mask.width() || mask16->height() != mask.height()))
        throw std::invalid_argument("The 16-bit mask is not the size of the mask it stands for");
    const CorrectionSpan s = ClippedSpan(photo.width(), photo.height(), mask, region);
    if (!s.empty()) {
        x0_ = s.x0;
        x1_ = s.x1;
        y0_ = s.y0;
        y1_ = s.y1;
    }
}

CorrectionPass16::~CorrectionPass16() = default;

void CorrectionPass16::CorrectInto(const Rect& window, std::uint16_t* out, std::ptrdiff_t outStride) const
{
    if (window.left < 0 || window.top < 0 || window.right > photo_.width() || window.bottom > photo_.height())
        throw std::out_of_range("Correction window outside the " + std::to_string(photo_.width()) + "x" +
                                std::to_string(photo_.height()) + " photograph");
    if (window.width() <= 0 || window.height() <= 0)
        return;
    const long long c0 = std::max<long long>(window.left, x0_ + region_.px);
    const long long c1 = std::min<long long>(window.right - 1, x1_ + region_.px);
    std::vector<std::uint16_t> widened; // an 8-bit mask's run, x 257
    for (int y = window.top; y < window.bottom; ++y) {
        std::uint16_t* dst = out + std::ptrdiff_t(y - window.top) * outStride;
        const std::uint16_t* src = photo_.row(y);
        std::memcpy(dst, src + std::size_t(window.left) * 3, std::size_t(window.width()) * 3 * 2);
        const long long regionRow = static_cast<long long>(y) - region_.py;
        if (regionRow < y0_ || regionRow > y1_ || c0 > c1)
            continue;
        const long long maskRow = regionRow + region_.my;
        const std::size_t maskColumn = std::size_t(c0 - region_.px + region_.mx);
        const std::size_t values = std::size_t(c1 - c0 + 1) * 3;
        const std::uint16_t* maskValues = nullptr;
        if (mask16_) {
            maskValues = mask16_->row(int(maskRow)) + maskColumn * 3;
        } else {
            const std::uint8_t* codes = mask_.scanLine(int(maskRow)) + maskColumn * 3;
            widened.resize(values);
            for (std::size_t i = 0; i < values; ++i)
                widened[i] = std::uint16_t(codes[i] * 257u);
            maskValues = widened.data();
        }
        kernel_.CorrectRun(src + std::size_t(c0) * 3, maskValues, dst + std::size_t(c0 - window.left) * 3,
                           c1 - c0 + 1);
    }
}

} // namespace lumivane
