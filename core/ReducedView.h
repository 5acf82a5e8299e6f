// SPDX-License-Identifier: GPL-3.0-or-later
// The photograph before and after the correction, reduced to the size of a
// view on screen, and the fall-off profiles measured on it.
//
// The reduced copy takes one pixel of the full-size photograph for every
// view pixel (nearest neighbour, the rule of stretchDraw), and each sampled
// pixel is corrected against the same full-size mask pixel, with the same
// offset, damping and targets, as the full-size save pairs with it. So the
// processed picture is exactly the saved file sampled the same way; it is
// never made from the preview (kPreviewWidth x kPreviewHeight), whose mask and offset are rounded
// to preview pixels.
#pragma once

#include "Bitmap24.h"
#include "CorrectionKernel.h"
#include "CorrectionSetup.h"
#include "FalloffProfile.h"
#include "SavePipeline.h"

#include <vector>

namespace lumivane {

// What the view needs of the main window: the photograph and mask as the
// save uses them and the settings of the correction.
struct BeforeAfterInput {
    // The unprocessed photograph at full size; null or empty: none is open.
    const Bitmap24* photo = nullptr;
    // The mask fitted (and turned) to the photograph's size; null: no mask
    // is loaded, the view then shows the photograph alone.
    const Bitmap24* maskFull = nullptr;
    // The full-size region (FullSizeRegion of the mask offset).
    CorrectionRegion region;
    float damping = 25.01f;
    CorrectionTargets targets;
    CorrectionMode mode;
    // The exact method's curves of the colour profiles (nothing: sRGB).
    std::optional<ExactCurves> curves;
    // The crop margins in photograph pixels; cropValid is false when the
    // crop fields cannot be read or leave no pixels (no frame is drawn and
    // no profile measured then).
    CropMargins crop;
    bool cropValid = true;
    // The photograph's EXIF orientation (1..8): how the view turns it.
    int orientation = 1;
};

// The input for `photo` corrected as `setup` describes it (its mask null:
// the photograph alone); `cropValid` as above.
BeforeAfterInput BeforeAfterInputOf(const Bitmap24& photo, const CorrectionSetup& setup, bool cropValid);

// For each of `reducedSize` positions, the index of the full-size position
// it samples: floor((2d + 1) * fullSize / (2 reducedSize)), as stretchDraw
// picks its source pixels. Throws std::invalid_argument for a size < 1.
std::vector<int> NearestSourceIndices(int fullSize, int reducedSize);

struct Size2 {
    int width = 0;
    int height = 0;
};

// The largest size with the photograph's aspect ratio that fits into
// maxWidth x maxHeight, at least 1 x 1. A photograph smaller than the view
// is enlarged (each of its pixels then covers several view pixels).
Size2 FitInside(int width, int height, int maxWidth, int maxHeight);

// The reduced pictures and everything measured on them. Kept by the view
// and rebuilt on every change; the storage is reused.
struct ReducedView {
    // Full-size photograph and reduced size; 0 when no photograph is open.
    int fullWidth = 0, fullHeight = 0;
    std::vector<int> sourceX, sourceY;
    Bitmap24 before;
    Bitmap24 after;
    // For each view pixel the mask pixel the correction pairs with it
    // (meaningful inside maskPaired only).
    Bitmap24 mask;
    bool hasMask = false;
    // View pixels that the correction reaches (the rest stays unprocessed,
    // like the band the mask offset leaves uncovered in the saved file).
    Rect maskPaired;
    // The crop frame in photograph pixels, and the view pixels inside it.
    bool hasFrame = false;
    Rect frame;
    Rect frameInView;
    FalloffProfile beforeProfile, afterProfile, maskProfile;

    bool empty() const { return before.empty(); }
};

// Builds the view at the given size (normally FitInside of the view's pixel
// size). Throws what ApplyCorrection throws for a bad region or damping and
// std::invalid_argument for a size < 1. With no photograph the view is made
// empty.
void BuildReducedView(const BeforeAfterInput& input, int width, int height, ReducedView& view);

// The same for any sampling: view column i shows photograph column
// sourceX[i], view row j photograph row sourceY[j] (each list rising and
// inside the photograph, else std::invalid_argument), paired with the mask
// as the save pairs them. A zoomed view samples a part of the photograph;
// its frame and profiles are left out unless `measure` (they describe the
// whole frame only when the lists cover it).
void BuildSampledView(const BeforeAfterInput& input, std::vector<int> sourceX, std::vector<int> sourceY,
                      bool measure, ReducedView& view);

} // namespace lumivane
