// SPDX-License-Identifier: GPL-3.0-or-later
#include "ReducedView.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

namespace lumivane {

namespace {

// The view positions whose sampled source index lies in first .. last
// (inclusive); the indices never decrease, so they form one run. Returns
// an empty run (begin >= end) when none does.
struct Run {
    int begin = 0;
    int end = 0; // exclusive
};

Run runOf(const std::vector<int>& indices, long long first, long long last)
{
    const auto b = std::lower_bound(indices.begin(), indices.end(), first,
                                    [](int index, long long value) { return index < value; });
    const auto e = std::upper_bound(indices.begin(), indices.end(), last,
                                    [](long long value, int index) { return value < index; });
    return Run{int(b - indices.begin()), int(std::max(b, e) - indices.begin())};
}

Rect intersect(const Rect& a, const Rect& b)
{
    Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
           std::min(a.bottom, b.bottom)};
    if (r.width() <= 0 || r.height() <= 0)
        return Rect{};
    return r;
}

// Samples `source` at the given columns and rows into `out`, which is
// sized to the index lists; only the rectangle `part` of `out` is written,
// and source pixel (sx - shiftX, sy - shiftY) is taken for view indices
// sx = sourceX[i], sy = sourceY[j].
void sample(const Bitmap24& source, const std::vector<int>& sourceX, const std::vector<int>& sourceY,
            long long shiftX, long long shiftY, const Rect& part, Bitmap24& out)
{
    std::vector<std::size_t> columns(std::size_t(std::max(part.width(), 0)));
    for (int i = part.left; i < part.right; ++i)
        columns[std::size_t(i - part.left)] = std::size_t(sourceX[std::size_t(i)] - shiftX) * 3;
    const std::size_t outRow = out.rowBytes();
    for (int j = part.top; j < part.bottom; ++j) {
        const std::uint8_t* src = source.data() + source.rowBytes() * std::size_t(sourceY[std::size_t(j)] - shiftY);
        std::uint8_t* dst = out.data() + outRow * std::size_t(j) + std::size_t(part.left) * 3;
        if (j > part.top && sourceY[std::size_t(j)] == sourceY[std::size_t(j - 1)]) {
            // A source row sampled twice (a view larger than the picture).
            std::memcpy(dst, dst - outRow, columns.size() * 3);
            continue;
        }
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const std::uint8_t* p = src + columns[c];
            dst[3 * c] = p[0];
            dst[3 * c + 1] = p[1];
            dst[3 * c + 2] = p[2];
        }
    }
}

} // namespace

std::vector<int> NearestSourceIndices(int fullSize, int reducedSize)
{
    if (fullSize < 1 || reducedSize < 1)
        throw std::invalid_argument("Cannot sample " + std::to_string(fullSize) + " positions onto " +
                                    std::to_string(reducedSize));
    std::vector<int> indices(static_cast<std::size_t>(reducedSize));
    for (int d = 0; d < reducedSize; ++d)
        indices[std::size_t(d)] = int(((2LL * d + 1) * fullSize) / (2LL * reducedSize));
    return indices;
}

Size2 FitInside(int width, int height, int maxWidth, int maxHeight)
{
    if (width < 1 || height < 1)
        return Size2{};
    const long long mw = std::max(maxWidth, 1), mh = std::max(maxHeight, 1);
    if (static_cast<long long>(width) * mh >= static_cast<long long>(height) * mw) {
        // The width is the limit.
        const long long h = (static_cast<long long>(height) * mw + width / 2) / width;
        return Size2{int(mw), int(std::clamp<long long>(h, 1, mh))};
    }
    const long long w = (static_cast<long long>(width) * mh + height / 2) / height;
    return Size2{int(std::clamp<long long>(w, 1, mw)), int(mh)};
}

BeforeAfterInput BeforeAfterInputOf(const Bitmap24& photo, const CorrectionSetup& setup, bool cropValid)
{
    BeforeAfterInput input;
    input.photo = &photo;
    input.maskFull = setup.mask;
    input.region = setup.region;
    input.damping = setup.damping;
    input.targets = setup.targets;
    input.mode = setup.mode();
    input.curves = setup.curves;
    input.crop = setup.choices.crop;
    input.cropValid = cropValid;
    return input;
}

void BuildReducedView(const BeforeAfterInput& input, int width, int height, ReducedView& view)
{
    if (!input.photo || input.photo->empty()) {
        BuildSampledView(input, {}, {}, true, view);
        return;
    }
    BuildSampledView(input, NearestSourceIndices(input.photo->width(), width),
                     NearestSourceIndices(input.photo->height(), height), true, view);
}

void BuildSampledView(const BeforeAfterInput& input, std::vector<int> sourceX, std::vector<int> sourceY,
                      bool measure, ReducedView& view)
{
    view.hasMask = false;
    view.hasFrame = false;
    view.maskPaired = Rect{};
    view.frame = Rect{};
    view.frameInView = Rect{};
    view.beforeProfile = view.afterProfile = view.maskProfile = FalloffProfile{};
    if (!input.photo || input.photo->empty()) {
        view.fullWidth = view.fullHeight = 0;
        view.sourceX.clear();
        view.sourceY.clear();
        view.before.clear();
        view.after.clear();
        view.mask.clear();
        return;
    }
    const Bitmap24& photo = *input.photo;
    const int W = photo.width();
    const int H = photo.height();
    if (sourceX.empty() || sourceY.empty())
        throw std::invalid_argument("A view needs at least one column and one row");
    for (const auto* indices : {&sourceX, &sourceY}) {
        const int limit = indices == &sourceX ? W : H;
        if (indices->front() < 0 || indices->back() >= limit || !std::is_sorted(indices->begin(), indices->end()))
            throw std::invalid_argument("View positions must rise inside the photograph");
    }
    const int width = int(sourceX.size());
    const int height = int(sourceY.size());
    view.sourceX = std::move(sourceX);
    view.sourceY = std::move(sourceY);
    view.fullWidth = W;
    view.fullHeight = H;
    const Rect whole{0, 0, width, height};

    view.before.setSize(width, height);
    sample(photo, view.sourceX, view.sourceY, 0, 0, whole, view.before);
    view.after.setSize(width, height);
    std::memcpy(view.after.data(), view.before.data(), view.before.byteCount());

    if (input.maskFull && !input.maskFull->empty()) {
        const Bitmap24& maskFull = *input.maskFull;
        const CorrectionRegion& r = input.region;
        if (r.px < 0 || r.py < 0 || r.mx < 0 || r.my < 0)
            throw std::invalid_argument("Correction region with a negative offset or margin");
        if (!(input.damping > 0) || !std::isfinite(input.damping))
            throw std::invalid_argument("Correction damping must be a positive finite number");
        // The photo pixels the full-size pass reaches, clipped as the kernel
        // clips them: photo (x + px, y + py) with mask (x + mx, y + my), both
        // inside their bitmaps.
        const long long lastX = std::min<long long>(static_cast<long long>(maskFull.width()) - 1 - r.px - r.mx,
                                                    static_cast<long long>(W) - 1 - r.px);
        const long long lastY = std::min<long long>(static_cast<long long>(maskFull.height()) - 1 - r.py - r.my,
                                                    static_cast<long long>(H) - 1 - r.py);
        const Run columns = runOf(view.sourceX, r.px, r.px + lastX);
        const Run rows = runOf(view.sourceY, r.py, r.py + lastY);
        view.mask.setSize(width, height);
        view.hasMask = true;
        if (lastX >= 0 && lastY >= 0 && columns.begin < columns.end && rows.begin < rows.end) {
            view.maskPaired = Rect{columns.begin, rows.begin, columns.end, rows.end};
            sample(maskFull, view.sourceX, view.sourceY, static_cast<long long>(r.px) - r.mx,
                   static_cast<long long>(r.py) - r.my, view.maskPaired, view.mask);
            CorrectionRegion reduced;
            reduced.left = columns.begin;
            reduced.right = width - columns.end;
            reduced.top = rows.begin;
            reduced.bottom = height - rows.end;
            ApplyCorrectionOnCurves(view.after, view.mask, reduced, input.damping, input.targets, input.mode,
                                    input.curves);
        }
    }

    const CropMargins& c = input.crop;
    if (measure && input.cropValid && c.left >= 0 && c.top >= 0 && c.right >= 0 && c.bottom >= 0 &&
        static_cast<long long>(c.left) + c.right < W && static_cast<long long>(c.top) + c.bottom < H) {
        view.frame = Rect{c.left, c.top, W - c.right, H - c.bottom};
        const Run columns = runOf(view.sourceX, view.frame.left, view.frame.right - 1);
        const Run rows = runOf(view.sourceY, view.frame.top, view.frame.bottom - 1);
        view.hasFrame = true;
        view.frameInView = Rect{columns.begin, rows.begin, columns.end, rows.end};
        const FalloffRings rings(view.sourceX, view.sourceY, view.frame);
        view.beforeProfile = MeasureFalloff(view.before, rings, view.frameInView);
        if (view.hasMask) {
            view.afterProfile = MeasureFalloff(view.after, rings, view.frameInView);
            view.maskProfile = MeasureFalloff(view.mask, rings, intersect(view.frameInView, view.maskPaired));
        }
    }
}

} // namespace lumivane
