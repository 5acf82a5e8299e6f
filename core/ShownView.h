// SPDX-License-Identifier: GPL-3.0-or-later
// The photograph as a viewer shows it: turned by its EXIF orientation, fitted
// to a view or zoomed and panned, and the sampling of the stored pixels that
// gives each view pixel.
//
// The stored photograph, the mask and every correction stay in stored
// orientation; only the picture shown is turned. The view pixels are sampled
// from the stored photograph as rising lists of stored columns and rows
// (BuildSampledView), corrected there, and then turned, so a view pixel is
// always exactly the pixel the save writes at that place.
#pragma once

#include "Bitmap24.h"
#include "ReducedView.h"

#include <string>
#include <vector>

namespace lumivane {

// EXIF orientation 1..8: how the stored pixels are turned to stand upright.
// 1 as stored, 2 mirrored left to right, 3 turned half round, 4 mirrored top
// to bottom, 5 transposed, 6 turned a quarter clockwise, 7 transverse, 8
// turned a quarter counterclockwise. Any other value counts as 1.
struct Orientation {
    int exif = 1;

    explicit Orientation(int value = 1) : exif(value >= 1 && value <= 8 ? value : 1) {}
    // Columns of the shown picture run along the stored rows.
    bool Transposed() const { return exif >= 5; }
    // The shown columns (rows) run against the stored axis they follow.
    bool ColumnsReversed() const { return exif == 2 || exif == 3 || exif == 6 || exif == 7; }
    bool RowsReversed() const { return exif == 3 || exif == 4 || exif == 7 || exif == 8; }
};

// The orientation a photograph file asks for: the Orientation tag of a JPEG's
// EXIF block, 1 for anything else (no tag, a damaged block, another format,
// a file that cannot be read).
Orientation PhotoOrientation(const std::string& path);

// The size shown for a stored width x height.
Size2 ShownSize(int width, int height, Orientation o);

// The stored rectangle `r` of a width x height photograph as shown.
Rect ShownRect(const Rect& r, int width, int height, Orientation o);

// Turns a picture sampled in stored orientation into the shown one.
void TurnToShown(const Bitmap24& stored, Orientation o, Bitmap24& shown);

// Zoom and pan of the view over the shown photograph. Scales are view pixels
// per photograph pixel; "fitted" follows the view's size, any other scale
// stays as chosen while the view is resized.
class Viewport {
public:
    // The zoom steps of +/-, the wheel and 1 (1:1).
    static const std::vector<double>& Steps();
    static constexpr double kMaxScale = 8.0;

    // A photograph shown at photoWidth x photoHeight (after turning) in a
    // view of viewWidth x viewHeight pixels. Keeps the zoom; a new
    // photograph size is shown fitted.
    void SetSizes(int photoWidth, int photoHeight, int viewWidth, int viewHeight);

    bool Fitted() const { return fitted_; }
    double FitScale() const;
    double Scale() const { return fitted_ ? FitScale() : scale_; }

    // Zooms keeping the photograph point under view pixel (x, y) in place.
    void ZoomTo(double scale, double x, double y);
    void ZoomIn(double x, double y);
    void ZoomOut(double x, double y);
    void Fit();
    // Moves the photograph by (dx, dy) view pixels; no further than its edges.
    void PanBy(double dx, double dy);
    // True when the zoomed picture is larger than the view in either direction.
    bool CanPan() const;

    // The picture: its size and top-left corner in the view, and for each of
    // its columns and rows the shown photograph column and row it samples.
    struct Picture {
        int left = 0, top = 0;
        std::vector<int> columns, rows;
        // Picture column x covers the shown photograph from column
        // firstX + x / scaleX on (rows likewise): for drawing on top of it.
        double firstX = 0, firstY = 0, scaleX = 1, scaleY = 1;
        int width() const { return int(columns.size()); }
        int height() const { return int(rows.size()); }
    };
    Picture Layout() const;

    // The shown photograph point at the centre of the view.
    double CentreX() const { return centreX_; }
    double CentreY() const { return centreY_; }

private:
    // The first shown photograph column (row) of the picture, clamped.
    double origin(double centre, int photo, int view, double scale) const;
    void clampCentre();

    int photoWidth_ = 0, photoHeight_ = 0, viewWidth_ = 1, viewHeight_ = 1;
    bool fitted_ = true;
    double scale_ = 1.0;
    double centreX_ = 0, centreY_ = 0;
};

// What the view paints: the unprocessed and processed pictures as shown, where
// they stand in the view, and the crop frame over them.
struct ShownPicture {
    Bitmap24 before, after;
    int left = 0, top = 0; // in view pixels
    // The crop frame in picture pixels; it may reach beyond the picture
    // when zoomed. Cropped: the frame leaves out part of the photograph.
    bool hasFrame = false;
    bool cropped = false;
    double frameLeft = 0, frameTop = 0, frameRight = 0, frameBottom = 0;
    // Zoomed: the shown photograph columns and rows the pictures sample, and
    // the orientation they were turned by, so that a pan can keep what is
    // still in view.
    bool zoomed = false;
    int orientation = 1;
    std::vector<int> columns, rows;
    bool empty() const { return before.empty(); }
};

// The picture of a view laid out by `viewport` over the photograph of
// `input` as shown: fitted, it is `whole` (BuildReducedView at the fitted
// size in stored orientation, the view whose profiles describe the frame)
// turned; zoomed, only the part shown is sampled and corrected, into
// `zoomed`, and turned. With `keepShown` (the input is the one `out` was
// built from: only the viewport moved), the pixels of `out` still in view
// are moved along and only the part a pan uncovered is sampled. Throws what
// BuildSampledView throws.
void BuildShownPicture(const BeforeAfterInput& input, const Viewport& viewport, const ReducedView& whole,
                       ReducedView& zoomed, ShownPicture& out, bool keepShown = false);

// The stored columns and rows that give shown columns and rows, both rising
// (what BuildSampledView takes); the picture built from them becomes the
// shown one through TurnToShown.
struct StoredSampling {
    std::vector<int> columns, rows;
};
StoredSampling StoredSamplingOf(const std::vector<int>& shownColumns, const std::vector<int>& shownRows, int width,
                                int height, Orientation o);

} // namespace lumivane
