// SPDX-License-Identifier: GPL-3.0-or-later
// The exact correction at 16 bits a channel, for photographs that have
// them: the same division by the mask in linear light as the 8-bit method
// (same gains, same cap, same colour options), with codes on the 0 .. 65535
// scale. The targets are the mask's levels taken at 16 bits plus the
// brightness shift times 257 (one 8-bit step): T = level + (brightness - 25)
// x 257. A mask of 8 bits takes part with its codes x 257, which are the
// same light.
#pragma once

#include "Bitmap48.h"
#include "CorrectionKernel.h"
#include "CorrectionMethod.h"
#include "MaskGeometry.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace lumivane {

// The curve from codes (0 .. 1) to linear light; the sRGB curve unless a
// photograph's profile says otherwise. Must rise monotonically.
struct LightCurve {
    std::function<double(double)> toLinear;
    // The sRGB curve (values above 1 continue it).
    static const LightCurve& Srgb();
};

// Targets on the 16-bit scale: level + (brightness - 25) x 257.
CorrectionTargets TargetsFor16(const HotspotLevels& levels16, int brightness);

// Linear light of a 16-bit code through `curve` (codes above 65535 continue it).
double LinearOfCode16(double code, const LightCurve& curve = LightCurve::Srgb());

// The 16-bit code of linear light: round(65535 * encode(clamp(l, 0, 1))),
// the encoding the inverse of `curve` (found by bisection for any curve).
std::uint16_t Code16OfLinear(double linear, const LightCurve& curve = LightCurve::Srgb());

// One pixel (blue, green, red) by the plain double-precision formula.
std::array<std::uint16_t, 3> ExactPixelReference16(const std::uint16_t* photoBgr, const std::uint16_t* maskBgr,
                                                   const CorrectionTargets& targets16, ColourOption colour,
                                                   const LightCurve& curve = LightCurve::Srgb());
// The same with the mask's codes and the targets (mask codes too) taken to
// light on `maskCurve` (a mask with a colour profile of its own), the
// photograph's codes to light and back on `photoCurve`.
std::array<std::uint16_t, 3> ExactPixelReference16(const std::uint16_t* photoBgr, const std::uint16_t* maskBgr,
                                                   const CorrectionTargets& targets16, ColourOption colour,
                                                   const LightCurve& photoCurve, const LightCurve& maskCurve);

// The correction prepared for one set of targets, colour option and curve:
// a table of the light of every code and the thresholds between codes, so
// no pixel needs pow. Results equal ExactPixelReference16 but where a value
// lies within rounding error of a threshold (then they differ by 1 at most).
class ExactKernel16 {
public:
    ExactKernel16(const CorrectionTargets& targets16, ColourOption colour,
                  const LightCurve& curve = LightCurve::Srgb());
    // Mask and targets on `maskCurve`, the photograph on `photoCurve`.
    ExactKernel16(const CorrectionTargets& targets16, ColourOption colour, const LightCurve& photoCurve,
                  const LightCurve& maskCurve);
    ~ExactKernel16();
    ExactKernel16(const ExactKernel16&) = delete;
    ExactKernel16& operator=(const ExactKernel16&) = delete;

    // Corrects `pixels` pixels of photograph p against mask m into out
    // (which may be p).
    void CorrectRun(const std::uint16_t* p, const std::uint16_t* m, std::uint16_t* out, long long pixels) const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The exact correction of 8-bit codes when photograph and mask are not both
// on the sRGB curve (a photograph or mask with a colour profile of its
// own): the gains of ExactPixelReference16 with the mask's codes and the
// targets (mask codes too) taken to light on `maskCurve`, the photograph's
// codes to light and back on `photoCurve`; codes of 0 .. 255, the result
// round(255 * encode(clamp(l, 0, 1))), half-codes rounding up.
class ExactCurveKernel {
public:
    ExactCurveKernel(const CorrectionTargets& targets, ColourOption colour, const LightCurve& photoCurve,
                     const LightCurve& maskCurve);
    ~ExactCurveKernel();
    ExactCurveKernel(const ExactCurveKernel&) = delete;
    ExactCurveKernel& operator=(const ExactCurveKernel&) = delete;

    // Corrects `pixels` pixels (blue, green, red) of photograph p against
    // mask m into out (which may be p).
    void CorrectRun(const std::uint8_t* p, const std::uint8_t* m, std::uint8_t* out, long long pixels) const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The exact pass over a 16-bit photograph: the geometry of CorrectionPass
// (region, offset, clipping), the 16-bit kernel inside the region, the
// photograph's values unchanged outside it. `mask16`, when given, has the
// size of the 8-bit mask and is used instead of it.
class CorrectionPass16 {
public:
    CorrectionPass16(const Bitmap48& photo, const Bitmap24& mask, const Bitmap48* mask16,
                     const CorrectionRegion& region, const CorrectionTargets& targets16, ColourOption colour,
                     const LightCurve& curve = LightCurve::Srgb());
    // Mask and targets on `maskCurve`, the photograph on `photoCurve`.
    CorrectionPass16(const Bitmap48& photo, const Bitmap24& mask, const Bitmap48* mask16,
                     const CorrectionRegion& region, const CorrectionTargets& targets16, ColourOption colour,
                     const LightCurve& photoCurve, const LightCurve& maskCurve);
    ~CorrectionPass16();
    CorrectionPass16(const CorrectionPass16&) = delete;
    CorrectionPass16& operator=(const CorrectionPass16&) = delete;

    // Row i of `window` of the corrected photograph goes to out + i *
    // outStride (values), window.width() * 3 values of blue, green, red.
    void CorrectInto(const Rect& window, std::uint16_t* out, std::ptrdiff_t outStride) const;

private:
    const Bitmap48& photo_;
    const Bitmap24& mask_;
    const Bitmap48* mask16_;
    CorrectionRegion region_;
    long long x0_ = 0, x1_ = -1, y0_ = 0, y1_ = -1;
    ExactKernel16 kernel_;
};

} // namespace lumivane
