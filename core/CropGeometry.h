// SPDX-License-Identifier: GPL-3.0-or-later
// The geometry of a correction: the region that pairs photograph pixels with
// mask pixels (for the preview and for the full-size pass), the preview's
// crop margins, and the crop fields that cut the saved picture.
#pragma once

#include <string>

namespace lumivane {

// Where the correction runs. The photo pixel (x + px, y + py) is paired with
// the mask pixel (x + mx, y + my) for y = top .. H' - 1 - bottom - py - my
// and x = left .. W' - 1 - right - px - mx, W' x H' being the mask's size.
// All fields are >= 0; for each axis at least one of the offsets is 0.
struct CorrectionRegion {
    int px = 0, py = 0, mx = 0, my = 0, left = 0, right = 0, top = 0, bottom = 0;
};

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
