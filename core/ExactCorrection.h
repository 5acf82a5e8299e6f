// SPDX-License-Identifier: GPL-3.0-or-later
// The exact correction: the photograph divided by the mask in linear light.
//
// For each channel, with v the photograph's code, m the mask's code and T
// the target code (hotspot level + brightness - 25, as for the additive
// correction), the codes are taken to linear light with the sRGB transfer
// function (codes above 255 continue the same curve), a gain g is formed
// from the mask and the targets, and the channel becomes
// round(255 * encode(clamp(lin(v) * g, 0, 1))), ties to even.
//
// The gains, with Y the Rec. 709 luminance of linear values
// (0.2126 R + 0.7152 G + 0.0722 B):
//   fall-off and colour  g_c = lin(T_c) / lin(m_c)
//   fall-off only        g   = Y(lin T) / Y(lin m), the same for all three
//   colour only          g_c = (lin(T_c) / lin(m_c)) / (Y(lin T) / Y(lin m))
// Every final gain is capped at kExactMaxGain (four stops): a mask that
// dark is a defect (a dust spot, a hole in the flat field), and without the
// cap its noise would be multiplied without bound. A mask code or luminance
// of 0 gets the cap. A channel whose target is 0 or less is black.
#pragma once

#include "CorrectionKernel.h"
#include "CorrectionMethod.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace lumivane {

constexpr double kExactMaxGain = 16.0;

// Linear light of an sRGB code on the 0 .. 255 scale; codes above 255
// continue the curve, codes of 0 or less are 0.
double LinearOfCode(double code);

// round(255 * encode(clamp(linear, 0, 1))), ties to even.
std::uint8_t CodeOfLinear(double linear);

// The three gains (blue, green, red) for one mask pixel, capped.
std::array<double, 3> ExactGains(const std::uint8_t* maskBgr, const CorrectionTargets& targets, ColourOption colour);

// One pixel (blue, green, red) by the plain double-precision formula.
std::array<std::uint8_t, 3> ExactPixelReference(const std::uint8_t* photoBgr, const std::uint8_t* maskBgr,
                                                const CorrectionTargets& targets, ColourOption colour);

// The exact correction prepared for one set of targets and one colour
// option: lookup tables for fall-off and colour, per-pixel gains for the
// other two. Results equal ExactPixelReference byte for byte. Const member
// functions may run on several threads at once.
class ExactKernel {
public:
    ExactKernel(const CorrectionTargets& targets, ColourOption colour);
    ~ExactKernel();
    ExactKernel(const ExactKernel&) = delete;
    ExactKernel& operator=(const ExactKernel&) = delete;

    // For fall-off and colour: the 256 x 256 table of channel 0, 1, 2 (blue,
    // green, red), entry base[256 m + v]; nullptr for the other options.
    const std::uint8_t* TableBase(int channel) const;

    // Corrects `pixels` pixels of photograph p against mask m into out,
    // which may be p itself (each pixel's bytes are read before any is
    // written).
    void CorrectRun(const std::uint8_t* p, const std::uint8_t* m, std::uint8_t* out, long long pixels) const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Drops the exact method's tables kept between calls.
void ClearExactTables();

namespace detail {
// CodeOfLinear of `count` values through the kernel's buckets, which defer
// to the formula within a relative `nearThreshold` of a rounding threshold
// (the kernel uses 2^-30). Exposed so tests can check values on both sides
// of every threshold, with the kernel's margin and with a wider one.
void CodesOfLinearByBuckets(const double* linear, std::uint8_t* codes, std::size_t count, double nearThreshold);
} // namespace detail

} // namespace lumivane
