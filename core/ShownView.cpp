// SPDX-License-Identifier: GPL-3.0-or-later
#include "ShownView.h"

#include "ExifReader.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <utility>

namespace lumivane {

namespace {

// Stored positions for shown ones along one axis of `size` positions,
// rising (a reversed axis reads the list backwards).
std::vector<int> storedAxis(const std::vector<int>& shown, int size, bool reversed)
{
    std::vector<int> stored(shown.size());
    for (std::size_t k = 0; k < shown.size(); ++k)
        stored[k] = reversed ? size - 1 - shown[shown.size() - 1 - k] : shown[k];
    return stored;
}

bool isJpegName(const std::string& path)
{
    std::string lower = path.substr(path.find_last_of('.') == std::string::npos ? path.size() : path.find_last_of('.'));
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return lower == ".jpg" || lower == ".jpeg" || lower == ".jpe";
}

// The shift k with now[i] == before[i + k] wherever both lists have
// position i + k, sharing at least one position; false when there is none.
// Zoomed in, a list repeats positions, so each start that matches is tried.
bool shiftBetween(const std::vector<int>& before, const std::vector<int>& now, int& shift)
{
    const int n = int(now.size());
    if (n == 0 || int(before.size()) != n)
        return false;
    auto matches = [&](int k) {
        for (int i = std::max(0, -k); i < n && i + k < n; ++i)
            if (now[std::size_t(i)] != before[std::size_t(i + k)])
                return false;
        return true;
    };
    // Moved one way: now[0] is somewhere in before; the other way: before[0]
    // is somewhere in now.
    const auto starts = std::equal_range(before.begin(), before.end(), now.front());
    for (auto it = starts.first; it != starts.second; ++it)
        if (matches(int(it - before.begin()))) {
            shift = int(it - before.begin());
            return true;
        }
    const auto ends = std::equal_range(now.begin(), now.end(), before.front());
    for (auto it = ends.first; it != ends.second; ++it)
        if (matches(-int(it - now.begin()))) {
            shift = -int(it - now.begin());
            return true;
        }
    return false;
}

// Moves the pixels of `b` so that (x, y) holds what (x + kx, y + ky) held,
// where that lies inside; the rest keeps stale pixels to be overwritten.
void shiftPixels(Bitmap24& b, int kx, int ky)
{
    const int w = b.width(), h = b.height();
    const int x0 = std::max(0, -kx), x1 = std::min(w, w - kx);
    if (x1 <= x0)
        return;
    const std::size_t bytes = std::size_t(x1 - x0) * 3;
    auto moveRow = [&](int y) {
        std::memmove(b.scanLine(y) + 3 * std::size_t(x0), b.scanLine(y + ky) + 3 * std::size_t(x0 + kx), bytes);
    };
    // Rows are read before they are overwritten: upwards when the source
    // lies below, downwards otherwise.
    if (ky >= 0) {
        for (int y = 0; y + ky < h; ++y)
            moveRow(y);
    } else {
        for (int y = h - 1; y + ky >= 0; --y)
            moveRow(y);
    }
}

// Samples, corrects and turns the picture columns [x0, x1) and rows
// [y0, y1) of `layout` into `out` at the same place.
void fillPart(const BeforeAfterInput& input, Orientation o, const Viewport::Picture& layout, int x0, int x1, int y0,
              int y1, ReducedView& scratch, ShownPicture& out)
{
    if (x1 <= x0 || y1 <= y0)
        return;
    const std::vector<int> columns(layout.columns.begin() + x0, layout.columns.begin() + x1);
    const std::vector<int> rows(layout.rows.begin() + y0, layout.rows.begin() + y1);
    const StoredSampling sampling =
        StoredSamplingOf(columns, rows, input.photo->width(), input.photo->height(), o);
    BuildSampledView(input, sampling.columns, sampling.rows, false, scratch);
    Bitmap24 part;
    for (const auto& [from, to] : {std::pair{&scratch.before, &out.before}, std::pair{&scratch.after, &out.after}}) {
        TurnToShown(*from, o, part);
        for (int y = y0; y < y1; ++y)
            std::memcpy(to->scanLine(y) + 3 * std::size_t(x0), part.scanLine(y - y0), part.rowBytes());
    }
}

} // namespace

Orientation PhotoOrientation(const std::string& path)
{
    // Cameras write JPEGs; a TIFF is shown as its decoder reads it.
    if (!isJpegName(path))
        return Orientation(1);
    TImageMetadata metadata;
    metadata.ReadMetadata(path);
    if (!metadata.ExifFound() || !metadata.exif || metadata.exif->TagIndex("Orientation") < 0)
        return Orientation(1);
    return Orientation(metadata.exif->TagInteger("Orientation"));
}

Size2 ShownSize(int width, int height, Orientation o)
{
    return o.Transposed() ? Size2{height, width} : Size2{width, height};
}

Rect ShownRect(const Rect& r, int width, int height, Orientation o)
{
    auto axis = [](int from, int to, int size, bool reversed) {
        return reversed ? std::pair<int, int>{size - to, size - from} : std::pair<int, int>{from, to};
    };
    std::pair<int, int> columns, rows;
    if (o.Transposed()) {
        columns = axis(r.top, r.bottom, height, o.ColumnsReversed());
        rows = axis(r.left, r.right, width, o.RowsReversed());
    } else {
        columns = axis(r.left, r.right, width, o.ColumnsReversed());
        rows = axis(r.top, r.bottom, height, o.RowsReversed());
    }
    return Rect{columns.first, rows.first, columns.second, rows.second};
}

void TurnToShown(const Bitmap24& stored, Orientation o, Bitmap24& shown)
{
    const int nx = stored.width(), ny = stored.height();
    const Size2 size = ShownSize(nx, ny, o);
    shown.setSizeForOverwrite(size.width, size.height);
    if (o.exif == 1) {
        std::memcpy(shown.data(), stored.data(), stored.byteCount());
        return;
    }
    const bool colRev = o.ColumnsReversed(), rowRev = o.RowsReversed();
    for (int j = 0; j < size.height; ++j) {
        std::uint8_t* out = shown.scanLine(j);
        if (!o.Transposed()) {
            const std::uint8_t* in = stored.scanLine(rowRev ? ny - 1 - j : j);
            if (!colRev) {
                std::memcpy(out, in, stored.rowBytes());
                continue;
            }
            for (int i = 0; i < size.width; ++i)
                std::memcpy(out + 3 * i, in + 3 * (nx - 1 - i), 3);
            continue;
        }
        // Shown row j is stored column bx, shown column i stored row by.
        const int bx = rowRev ? nx - 1 - j : j;
        for (int i = 0; i < size.width; ++i) {
            const int by = colRev ? ny - 1 - i : i;
            std::memcpy(out + 3 * i, stored.scanLine(by) + 3 * bx, 3);
        }
    }
}

StoredSampling StoredSamplingOf(const std::vector<int>& shownColumns, const std::vector<int>& shownRows, int width,
                                int height, Orientation o)
{
    StoredSampling s;
    if (o.Transposed()) {
        s.rows = storedAxis(shownColumns, height, o.ColumnsReversed());
        s.columns = storedAxis(shownRows, width, o.RowsReversed());
    } else {
        s.columns = storedAxis(shownColumns, width, o.ColumnsReversed());
        s.rows = storedAxis(shownRows, height, o.RowsReversed());
    }
    return s;
}

const std::vector<double>& Viewport::Steps()
{
    static const std::vector<double> steps = {1.0 / 16, 1.0 / 12, 1.0 / 8, 1.0 / 6, 1.0 / 4, 1.0 / 3, 1.0 / 2,
                                              2.0 / 3,  1.0,      1.5,     2.0,     3.0,     4.0,     6.0,
                                              8.0};
    return steps;
}

void Viewport::SetSizes(int photoWidth, int photoHeight, int viewWidth, int viewHeight)
{
    const bool newPhoto = photoWidth != photoWidth_ || photoHeight != photoHeight_;
    photoWidth_ = std::max(photoWidth, 0);
    photoHeight_ = std::max(photoHeight, 0);
    viewWidth_ = std::max(viewWidth, 1);
    viewHeight_ = std::max(viewHeight, 1);
    if (newPhoto) {
        fitted_ = true;
        centreX_ = photoWidth_ / 2.0;
        centreY_ = photoHeight_ / 2.0;
    }
    clampCentre();
}

double Viewport::FitScale() const
{
    if (photoWidth_ < 1 || photoHeight_ < 1)
        return 1.0;
    const Size2 fit = FitInside(photoWidth_, photoHeight_, viewWidth_, viewHeight_);
    return std::min(double(fit.width) / photoWidth_, double(fit.height) / photoHeight_);
}

double Viewport::origin(double centre, int photo, int view, double scale) const
{
    const double shown = view / scale; // photograph positions across the view
    return std::clamp(centre - shown / 2, 0.0, std::max(photo - shown, 0.0));
}

void Viewport::clampCentre()
{
    if (fitted_) {
        centreX_ = photoWidth_ / 2.0;
        centreY_ = photoHeight_ / 2.0;
        return;
    }
    auto clampAxis = [&](double& centre, int photo, int view) {
        const double half = view / scale_ / 2;
        centre = photo <= 2 * half ? photo / 2.0 : std::clamp(centre, half, photo - half);
    };
    clampAxis(centreX_, photoWidth_, viewWidth_);
    clampAxis(centreY_, photoHeight_, viewHeight_);
}

Viewport::Picture Viewport::Layout() const
{
    Picture p;
    if (photoWidth_ < 1 || photoHeight_ < 1)
        return p;
    if (fitted_) {
        const Size2 fit = FitInside(photoWidth_, photoHeight_, viewWidth_, viewHeight_);
        p.columns = NearestSourceIndices(photoWidth_, fit.width);
        p.rows = NearestSourceIndices(photoHeight_, fit.height);
        p.left = (viewWidth_ - fit.width) / 2;
        p.top = (viewHeight_ - fit.height) / 2;
        p.scaleX = double(fit.width) / photoWidth_;
        p.scaleY = double(fit.height) / photoHeight_;
        return p;
    }
    auto axis = [&](double centre, int photo, int view, std::vector<int>& indices, int& offset, double& first,
                    double& scale) {
        const double whole = photo * scale_;
        if (whole <= view) {
            // The whole axis fits: sampled as a fitted picture of that size.
            const int n = std::max(1, int(std::lround(whole)));
            indices = NearestSourceIndices(photo, n);
            offset = (view - n) / 2;
            first = 0;
            scale = double(n) / photo;
            return;
        }
        first = origin(centre, photo, view, scale_);
        scale = scale_;
        indices.resize(std::size_t(view));
        for (int i = 0; i < view; ++i)
            indices[std::size_t(i)] = std::min(photo - 1, int(std::floor(first + (i + 0.5) / scale_)));
        offset = 0;
    };
    axis(centreX_, photoWidth_, viewWidth_, p.columns, p.left, p.firstX, p.scaleX);
    axis(centreY_, photoHeight_, viewHeight_, p.rows, p.top, p.firstY, p.scaleY);
    return p;
}

void Viewport::ZoomTo(double scale, double x, double y)
{
    if (photoWidth_ < 1 || photoHeight_ < 1)
        return;
    const double fit = FitScale();
    scale = std::clamp(scale, std::min(fit, Steps().front()), kMaxScale);
    // The photograph point under (x, y) now.
    const Picture now = Layout();
    const double s = Scale();
    auto pointAt = [&](double at, int offset, int photo, int view, double centre) {
        const double first = fitted_ || photo * s <= view ? 0.0 : origin(centre, photo, view, s);
        return first + (at - offset) / s;
    };
    const double px = pointAt(x, now.left, photoWidth_, viewWidth_, centreX_);
    const double py = pointAt(y, now.top, photoHeight_, viewHeight_, centreY_);
    if (std::abs(scale - fit) < 1e-9) {
        Fit();
        return;
    }
    fitted_ = false;
    scale_ = scale;
    centreX_ = px - (x - viewWidth_ / 2.0) / scale;
    centreY_ = py - (y - viewHeight_ / 2.0) / scale;
    clampCentre();
}

void Viewport::ZoomIn(double x, double y)
{
    const double now = Scale();
    for (const double step : Steps())
        if (step > now * (1 + 1e-9)) {
            ZoomTo(step, x, y);
            return;
        }
}

void Viewport::ZoomOut(double x, double y)
{
    if (fitted_)
        return;
    const double now = Scale();
    double target = 0;
    for (const double step : Steps())
        if (step < now * (1 - 1e-9))
            target = step;
    if (target <= FitScale() * (1 + 1e-9))
        Fit();
    else
        ZoomTo(target, x, y);
}

void Viewport::Fit()
{
    fitted_ = true;
    clampCentre();
}

void Viewport::PanBy(double dx, double dy)
{
    if (fitted_)
        return;
    centreX_ -= dx / scale_;
    centreY_ -= dy / scale_;
    clampCentre();
}

bool Viewport::CanPan() const
{
    return !fitted_ && (photoWidth_ * scale_ > viewWidth_ || photoHeight_ * scale_ > viewHeight_);
}

void BuildShownPicture(const BeforeAfterInput& input, const Viewport& viewport, const ReducedView& whole,
                       ReducedView& zoomed, ShownPicture& out, bool keepShown)
{
    out.hasFrame = out.cropped = false;
    const bool wasZoomed = out.zoomed;
    out.zoomed = false;
    if (whole.empty() || !input.photo || input.photo->empty()) {
        out.before.clear();
        out.after.clear();
        return;
    }
    const Orientation o(input.orientation);
    const int W = input.photo->width(), H = input.photo->height();
    const Viewport::Picture layout = viewport.Layout();
    int kx = 0, ky = 0;
    if (viewport.Fitted()) {
        TurnToShown(whole.before, o, out.before);
        TurnToShown(whole.after, o, out.after);
    } else if (keepShown && wasZoomed && out.orientation == o.exif && shiftBetween(out.columns, layout.columns, kx) &&
               shiftBetween(out.rows, layout.rows, ky)) {
        // A pan: what stays in view moves along; only the uncovered band of
        // columns and the band of rows beside it are sampled.
        const int w = layout.width(), h = layout.height();
        shiftPixels(out.before, kx, ky);
        shiftPixels(out.after, kx, ky);
        const int keptX0 = std::max(0, -kx), keptX1 = std::min(w, w - kx);
        const int keptY0 = std::max(0, -ky), keptY1 = std::min(h, h - ky);
        fillPart(input, o, layout, 0, keptX0, 0, h, zoomed, out);
        fillPart(input, o, layout, keptX1, w, 0, h, zoomed, out);
        fillPart(input, o, layout, keptX0, keptX1, 0, keptY0, zoomed, out);
        fillPart(input, o, layout, keptX0, keptX1, keptY1, h, zoomed, out);
    } else {
        const StoredSampling sampling = StoredSamplingOf(layout.columns, layout.rows, W, H, o);
        BuildSampledView(input, sampling.columns, sampling.rows, false, zoomed);
        TurnToShown(zoomed.before, o, out.before);
        TurnToShown(zoomed.after, o, out.after);
    }
    if (!viewport.Fitted()) {
        out.zoomed = true;
        out.orientation = o.exif;
        out.columns = layout.columns;
        out.rows = layout.rows;
    }
    // Fitted, the whole view's own size places it (the same as the layout's
    // for an upright photograph).
    out.left = layout.left + (layout.width() - out.before.width()) / 2;
    out.top = layout.top + (layout.height() - out.before.height()) / 2;
    if (whole.hasFrame) {
        const Size2 shown = ShownSize(W, H, o);
        const Rect f = ShownRect(whole.frame, W, H, o);
        const double sx = viewport.Fitted() ? double(out.before.width()) / shown.width : layout.scaleX;
        const double sy = viewport.Fitted() ? double(out.before.height()) / shown.height : layout.scaleY;
        const double fx = viewport.Fitted() ? 0.0 : layout.firstX;
        const double fy = viewport.Fitted() ? 0.0 : layout.firstY;
        out.hasFrame = true;
        out.cropped = f.left > 0 || f.top > 0 || f.right < shown.width || f.bottom < shown.height;
        out.frameLeft = (f.left - fx) * sx;
        out.frameTop = (f.top - fy) * sy;
        out.frameRight = (f.right - fx) * sx;
        out.frameBottom = (f.bottom - fy) * sy;
    }
}

} // namespace lumivane
