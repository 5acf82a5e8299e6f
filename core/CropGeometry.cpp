// SPDX-License-Identifier: GPL-3.0-or-later
#include "CropGeometry.h"

#include "TextFormat.h"
#include "ViewSizes.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <system_error>

namespace lumivane {

namespace {

long double parseMarginText(const std::string& text)
{
    const std::string full = "0" + text;
    long double value = 0;
    const auto [end, ec] = std::from_chars(full.data(), full.data() + full.size(), value);
    if (ec == std::errc::result_out_of_range)
        throw std::invalid_argument("Crop margin '" + text + "' is out of range");
    if (ec != std::errc() || end != full.data() + full.size())
        throw std::invalid_argument("Crop margin '" + text + "' is not a valid number");
    return value;
}

constexpr long double kMarginLimit = 1000000000.0L;

int marginFrom(long double previewPixels, bool roundUp)
{
    if (!(previewPixels < kMarginLimit))
        return int(kMarginLimit);
    const long double whole = roundUp ? std::ceil(previewPixels) : static_cast<long double>(RoundHalfEven(previewPixels));
    return int(std::max(whole, 0.0L));
}

int offsetFrom(long double product)
{
    if (!(product < static_cast<long double>(INT_MAX)))
        return INT_MAX;
    return int(std::max<long long>(RoundHalfEven(product), 0));
}

} // namespace

PreviewMargins PreviewMarginsFor(const std::string& leftText, const std::string& rightText,
                                 const std::string& topText, const std::string& bottomText, int W, int H)
{
    const long double lp = parseMarginText(leftText);
    const long double rp = parseMarginText(rightText);
    const long double tp = parseMarginText(topText);
    const long double bp = parseMarginText(bottomText);
    if (W <= 0 || H <= 0)
        throw std::domain_error("Division by zero (photograph without pixels)");
    const long double sx = static_cast<long double>(W) / kPreviewWidth;
    const long double sy = static_cast<long double>(H) / kPreviewHeight;
    PreviewMargins m;
    m.left = marginFrom(lp / sx, true);
    m.right = marginFrom(rp / sx, false);
    m.top = marginFrom(tp / sy, false);
    m.bottom = marginFrom(bp / sy, false);
    return m;
}

CorrectionRegion PreviewRegion(int ox, int oy, const PreviewMargins& margins)
{
    CorrectionRegion r;
    r.px = std::max(ox, 0);
    r.mx = ox < 0 ? (ox == INT_MIN ? INT_MAX : -ox) : 0;
    r.py = std::max(oy, 0);
    r.my = oy < 0 ? (oy == INT_MIN ? INT_MAX : -oy) : 0;
    r.left = std::max(margins.left - r.px, 0);
    r.right = std::max(margins.right - r.mx, 0);
    r.top = std::max(margins.top - r.py, 0);
    r.bottom = std::max(margins.bottom - r.my, 0);
    return r;
}

CorrectionRegion FullSizeRegion(int ox, int oy, int W, int H)
{
    const float sx = float(static_cast<long double>(W) / kPreviewWidth);
    const float sy = float(static_cast<long double>(H) / kPreviewHeight);
    const long double ax = std::fabs(static_cast<long double>(ox));
    const long double ay = std::fabs(static_cast<long double>(oy));
    CorrectionRegion r;
    if (ox >= 0)
        r.px = offsetFrom(ax * static_cast<long double>(sx));
    else
        r.mx = offsetFrom(ax * static_cast<long double>(sx));
    if (oy >= 0)
        r.py = offsetFrom(ay * static_cast<long double>(sy));
    else
        r.my = offsetFrom(ay * static_cast<long double>(sy));
    return r;
}

int ParseCropField(const std::string& text)
{
    const std::string full = "0" + text;
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(full.data(), full.data() + full.size(), value);
    // A value too large for 32 bits is no integer of this program, so it
    // gets the same conversion error as any other text.
    if (ec != std::errc() || end != full.data() + full.size())
        throw std::invalid_argument("Crop margin '" + text + "' is not a valid integer");
    return value;
}

CropMargins ParseCropMargins(const std::string& leftText, const std::string& topText,
                             const std::string& rightText, const std::string& bottomText)
{
    CropMargins m;
    m.left = ParseCropField(leftText);
    m.top = ParseCropField(topText);
    m.right = ParseCropField(rightText);
    m.bottom = ParseCropField(bottomText);
    return m;
}

bool HasCrop(const CropMargins& margins)
{
    return margins.left != 0 || margins.top != 0 || margins.right != 0 || margins.bottom != 0;
}

CroppedSize CroppedSizeOf(int W, int H, const CropMargins& margins)
{
    CroppedSize size;
    size.width = static_cast<long long>(W) - margins.left - margins.right;
    size.height = static_cast<long long>(H) - margins.top - margins.bottom;
    return size;
}

bool CropLeavesPixels(int W, int H, const CropMargins& margins)
{
    if (margins.left < 0 || margins.top < 0 || margins.right < 0 || margins.bottom < 0)
        return false;
    const CroppedSize size = CroppedSizeOf(W, H, margins);
    return size.width > 0 && size.height > 0;
}

} // namespace lumivane
