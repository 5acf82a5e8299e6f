// SPDX-License-Identifier: GPL-3.0-or-later
// The vignetting correction. The additive method: every channel value v of
// the photograph becomes clamp(v + Round(v / (v + Damping) * (T - m)), 0,
// 255), where m is the mask's value at that pixel and T the channel's
// target level. The exact method divides by the mask in linear light
// (ExactCorrection.h); functions without a CorrectionMode mean the additive
// method. Where it runs (the region) and the crop are CropGeometry.h's;
// plain reference versions for tests are in tests/support.
#pragma once

#include "Bitmap24.h"
#include "CorrectionMethod.h"
#include "CropGeometry.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace lumivane {

// 25.01 - strength / 4 in extended precision, held as a float:
// strength 0 gives 25.0100002..., strength 100 gives 0.0099999998.
float DampingForStrength(int strength);

struct CorrectionTargets {
    int r = 0;
    int g = 0;
    int b = 0;
};

// Hotspot levels shifted by the brightness position (25 = no shift).
CorrectionTargets TargetsFor(int hotspotR, int hotspotG, int hotspotB, int brightness);

// The inclusive range of region coordinates a correction visits, clipped
// so that photo (x + px, y + py) and mask (x + mx, y + my) both exist.
struct CorrectionSpan {
    long long x0 = 0, x1 = -1, y0 = 0, y1 = -1;
    bool empty() const { return x0 > x1 || y0 > y1; }
};
// Throws std::invalid_argument for a negative offset or margin.
CorrectionSpan ClippedSpan(int photoWidth, int photoHeight, const Bitmap24& mask, const CorrectionRegion& region);

// The additive correction over the region (clipped so no access leaves
// either bitmap: a photograph smaller than mask + offset is corrected where
// both exist), each pixel computed from its bytes as read, byte for byte the
// plain formula above (ties to even, the sum taken as a 64-bit integer),
// through one lookup per byte: for each channel target a 256 x 256 table of
// exact results, indexed by (v, m). Tables are built from the plain formula
// and kept between calls for the last few damping values (a table depends on
// the damping and on T - m only). Rows are split across `threads` threads
// (0 = choose by image size and the machine; small images run on the calling
// thread), all joined before returning. Throws std::invalid_argument for a
// negative offset or margin and for a damping that is not a positive finite
// number.
void ApplyCorrection(Bitmap24& photo, const Bitmap24& mask, const CorrectionRegion& region,
                     float damping, const CorrectionTargets& targets, int threads = 0);
// The same in the given mode. The additive mode gives exactly the bytes of
// the function above; the exact method ignores the damping and gives the
// bytes of ExactPixelReference for each pixel (tables keyed by the target
// for fall-off and colour, a gain per pixel for the other two options).
void ApplyCorrection(Bitmap24& photo, const Bitmap24& mask, const CorrectionRegion& region, float damping,
                     const CorrectionTargets& targets, CorrectionMode mode, int threads = 0);

// The correction of one photograph against one mask, prepared once (region,
// tables) and then applied to any rectangle of the photograph, the result
// going to other storage: the photograph itself is only read. The pixels
// written are those ApplyCorrection would leave in that rectangle, byte for
// byte, including the uncorrected ones outside the region, so a picture can
// be corrected band by band while earlier bands are already being encoded.
// `photo` and `mask` must outlive the pass and stay unchanged while it is
// used; CorrectInto may run on several threads at once.
struct LightCurve;

class CorrectionPass {
public:
    // Throws what ApplyCorrection throws for a bad region or damping.
    CorrectionPass(const Bitmap24& photo, const Bitmap24& mask, const CorrectionRegion& region, float damping,
                   const CorrectionTargets& targets);
    // A pass for a photograph of that size whose rows are handed to
    // CorrectRowsInto as they are decoded; it never holds the photograph.
    CorrectionPass(int photoWidth, int photoHeight, const Bitmap24& mask, const CorrectionRegion& region,
                   float damping, const CorrectionTargets& targets);
    // The same in the given mode (the ones above are additive); the exact
    // method ignores the damping.
    CorrectionPass(const Bitmap24& photo, const Bitmap24& mask, const CorrectionRegion& region, float damping,
                   const CorrectionTargets& targets, CorrectionMode mode);
    CorrectionPass(int photoWidth, int photoHeight, const Bitmap24& mask, const CorrectionRegion& region,
                   float damping, const CorrectionTargets& targets, CorrectionMode mode);
    // The exact method with photograph and mask taken to light on the
    // given curves (their colour profiles') instead of the sRGB curve; the
    // curves are copied.
    CorrectionPass(const Bitmap24& photo, const Bitmap24& mask, const CorrectionRegion& region,
                   const CorrectionTargets& targets, ColourOption colour, const LightCurve& photoCurve,
                   const LightCurve& maskCurve);
    CorrectionPass(int photoWidth, int photoHeight, const Bitmap24& mask, const CorrectionRegion& region,
                   const CorrectionTargets& targets, ColourOption colour, const LightCurve& photoCurve,
                   const LightCurve& maskCurve);
    ~CorrectionPass();
    CorrectionPass(const CorrectionPass&) = delete;
    CorrectionPass& operator=(const CorrectionPass&) = delete;

    // Writes the rectangle `window` of the corrected photograph: its row i
    // goes to out + i * outStride, window.width() * 3 bytes of blue, green,
    // red. A negative stride writes upwards (bottom-up files). Throws
    // std::out_of_range for a window not inside the photograph; an empty
    // window writes nothing.
    // Needs the pass made with a photograph (std::logic_error otherwise).
    void CorrectInto(const Rect& window, std::uint8_t* out, std::ptrdiff_t outStride) const;
    // The same, from photograph rows given by the caller: row window.top + i
    // of the photograph, whole (all photoWidth pixels), at rows + i *
    // rowStride.
    void CorrectRowsInto(const Rect& window, const std::uint8_t* rows, std::ptrdiff_t rowStride, std::uint8_t* out,
                         std::ptrdiff_t outStride) const;

private:
    struct Tables;
    const Bitmap24* photo_ = nullptr;
    int photoWidth_ = 0;
    int photoHeight_ = 0;
    const Bitmap24& mask_;
    CorrectionRegion region_;
    long long x0_ = 0, x1_ = -1, y0_ = 0, y1_ = -1; // the clipped region, in region coordinates
    std::unique_ptr<Tables> tables_;
};

namespace detail {
// Drops the additive method's tables kept between calls (for measuring the
// cost of a first call; the results do not depend on it).
void ClearAdditiveTables();

// The table column for one damping and difference d = T - m: out256[v] is
// the corrected byte for v. Exposed so tests can widen the margin below
// which the quick double evaluation defers to the extended one (the table
// kernel uses 2^-40); the result must not depend on it.
void BuildCorrectionColumn(float damping, int difference, std::uint8_t* out256, double relativeMargin);
} // namespace detail

} // namespace lumivane
