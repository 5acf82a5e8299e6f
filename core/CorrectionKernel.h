// SPDX-License-Identifier: GPL-3.0-or-later
// The vignetting correction. The additive method: every channel value v of
// the photograph becomes clamp(v + Round(v / (v + Damping) * (T - m)), 0,
// 255), where m is the mask's value at that pixel and T the channel's
// target level. The exact method divides by the mask in linear light
// (ExactCorrection.h); functions without a CorrectionMode mean the additive
// method. Also the
// geometry that places the mask against the photograph for the preview and
// for the full-size pass, and the parsing of the crop fields.
#pragma once

#include "Bitmap24.h"
#include "CorrectionMethod.h"

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

// Where the correction runs. The photo pixel (x + px, y + py) is paired with
// the mask pixel (x + mx, y + my) for y = top .. H' - 1 - bottom - py - my
// and x = left .. W' - 1 - right - px - mx, W' x H' being the mask's size.
// All fields are >= 0; for each axis at least one of the offsets is 0.
struct CorrectionRegion {
    int px = 0, py = 0, mx = 0, my = 0, left = 0, right = 0, top = 0, bottom = 0;
};

// The inclusive range of region coordinates a correction visits, clipped
// so that photo (x + px, y + py) and mask (x + mx, y + my) both exist.
struct CorrectionSpan {
    long long x0 = 0, x1 = -1, y0 = 0, y1 = -1;
    bool empty() const { return x0 > x1 || y0 > y1; }
};
// Throws std::invalid_argument for a negative offset or margin.
CorrectionSpan ClippedSpan(int photoWidth, int photoHeight, const Bitmap24& mask, const CorrectionRegion& region);

// The factor f = v / (v + damping) * (target - m), formed in extended
// precision and held as a float.
float CorrectionFactor(std::uint8_t v, std::uint8_t m, int target, float damping);

// One channel by the plain formula: clamp(v + Round(f), 0, 255), ties to
// even, the sum taken as a 64-bit integer.
std::uint8_t CorrectChannelReference(std::uint8_t v, std::uint8_t m, int target, float damping);

// The straightforward per-pixel loop over the region, rows top to bottom and
// columns left to right, each pixel's three channels computed from its bytes
// as read. The region is clipped so no access leaves either bitmap (a photo
// smaller than mask + offset is corrected where both exist). Throws
// std::invalid_argument for a negative offset or margin and for a damping
// that is not a positive finite number.
void ApplyCorrectionReference(Bitmap24& photo, const Bitmap24& mask, const CorrectionRegion& region,
                              float damping, const CorrectionTargets& targets);
// The same loop in the given mode: the exact method takes each pixel through
// ExactPixelReference and ignores the damping (it is then not checked).
void ApplyCorrectionReference(Bitmap24& photo, const Bitmap24& mask, const CorrectionRegion& region,
                              float damping, const CorrectionTargets& targets, CorrectionMode mode);

// The same result byte for byte, through one lookup per byte: for each
// channel target a 256 x 256 table of exact results, indexed by (v, m).
// Tables are built from the plain formula and kept between calls for the
// last few damping values (a table depends on the damping and on T - m only).
// Rows are split across `threads` threads (0 = choose by image size and the
// machine; small images run on the calling thread), all joined before
// returning.
void ApplyCorrection(Bitmap24& photo, const Bitmap24& mask, const CorrectionRegion& region,
                     float damping, const CorrectionTargets& targets, int threads = 0);
// The same in the given mode. The additive mode gives exactly the bytes of
// the function above; the exact method ignores the damping and gives the
// bytes of ApplyCorrectionReference in that mode (tables keyed by the target
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

// Drops the tables kept between calls, of both methods (for measuring the
// cost of a first call; the results do not depend on it).
void ClearCorrectionTables();

namespace detail {
// The table column for one damping and difference d = T - m: out256[v] is
// the corrected byte for v. Exposed so tests can widen the margin below
// which the quick double evaluation defers to the extended one (the table
// kernel uses 2^-40); the result must not depend on it.
void BuildCorrectionColumn(float damping, int difference, std::uint8_t* out256, double relativeMargin);
} // namespace detail

// Crop margins of the preview in preview pixels.
struct PreviewMargins {
    int left = 0, right = 0, top = 0, bottom = 0;
};

// Each text is prefixed with "0" and parsed as a decimal number (empty means
// 0); a text that is not a number throws std::invalid_argument. With W x H
// the photograph's size: left = Ceil(Lp / (W / kPreviewWidth)), the other three
// rounded to nearest (ties to even) against W / kPreviewWidth and H / kPreviewHeight. Margins too
// large for an int are held at 1,000,000,000 (the preview is then simply
// uncorrected on that axis). Throws std::domain_error when W or H is not
// positive.
PreviewMargins PreviewMarginsFor(const std::string& leftText, const std::string& rightText,
                                 const std::string& topText, const std::string& bottomText, int W, int H);

// Splits the preview offset into photo and mask offsets and reduces each
// margin by the band the offset already leaves uncovered.
CorrectionRegion PreviewRegion(int ox, int oy, const PreviewMargins& margins);

// The preview offset scaled to a W x H photograph: sx = float(W / kPreviewWidth),
// sy = float(H / kPreviewHeight), offsets Round(|o| * s) on the side the sign selects;
// no margins (the crop is cut after the correction).
CorrectionRegion FullSizeRegion(int ox, int oy, int W, int H);

// A crop field: "0" + text read as a 32-bit decimal integer (empty means 0).
// Anything but digits, and a value beyond 2147483647, is a conversion error:
// std::invalid_argument naming the text.
int ParseCropField(const std::string& text);

// Crop margins in photograph pixels, cut from the saved picture; all zero
// writes the whole photograph.
struct CropMargins {
    int left = 0, top = 0, right = 0, bottom = 0;
};

// The four crop fields, each read by ParseCropField (the first that fails
// throws).
CropMargins ParseCropMargins(const std::string& leftText, const std::string& topText,
                             const std::string& rightText, const std::string& bottomText);

// Whether any margin is set (then the output is a cropped copy).
bool HasCrop(const CropMargins& margins);

// The size a W x H photograph keeps after the margins: W - left - right by
// H - top - bottom, in 64 bits so that no sum of 32-bit margins overflows.
// Zero or negative when the margins meet or cross.
struct CroppedSize {
    long long width = 0, height = 0;
};
CroppedSize CroppedSizeOf(int W, int H, const CropMargins& margins);

// Whether the margins leave at least one pixel of a W x H photograph: no
// margin is negative and both cropped sizes are positive.
bool CropLeavesPixels(int W, int H, const CropMargins& margins);

} // namespace lumivane
