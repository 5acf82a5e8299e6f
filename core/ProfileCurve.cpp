// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProfileCurve.h"

#include "ExifTransplant.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <lcms2.h>
#include <memory>

namespace lumivane {

namespace {

// Owns a Little CMS profile.
struct ProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

// The points at which the three channels' curves are compared.
constexpr int kSteps = 4096;

} // namespace

std::optional<LightCurve> LightCurveOfProfile(const std::vector<std::uint8_t>& icc)
{
    if (icc.size() < 132) // a header and a tag count
        return std::nullopt;
    cmsSetLogErrorHandler(nullptr);
    const Profile profile(cmsOpenProfileFromMem(icc.data(), cmsUInt32Number(icc.size())));
    if (!profile || cmsGetColorSpace(profile.get()) != cmsSigRgbData || !cmsIsMatrixShaper(profile.get()))
        return std::nullopt;
    const auto* red = static_cast<const cmsToneCurve*>(cmsReadTag(profile.get(), cmsSigRedTRCTag));
    const auto* green = static_cast<const cmsToneCurve*>(cmsReadTag(profile.get(), cmsSigGreenTRCTag));
    const auto* blue = static_cast<const cmsToneCurve*>(cmsReadTag(profile.get(), cmsSigBlueTRCTag));
    if (!red || !green || !blue)
        return std::nullopt;
    double previous = -1;
    for (int i = 0; i <= kSteps; ++i) {
        const float x = float(i) / kSteps;
        const double g = cmsEvalToneCurveFloat(green, x);
        // One curve serves all three channels: profiles whose channels
        // differ, or whose curve falls anywhere, are left to the sRGB curve.
        if (std::abs(cmsEvalToneCurveFloat(red, x) - g) > 1e-5 ||
            std::abs(cmsEvalToneCurveFloat(blue, x) - g) > 1e-5 || !(g >= previous) || !std::isfinite(g))
            return std::nullopt;
        previous = g;
    }
    // The curve itself is kept (a copy, freed with the last LightCurve that
    // holds it) and evaluated at every code: sampling it would err by many
    // codes near black, where a gamma curve is steepest.
    std::shared_ptr<cmsToneCurve> kept(cmsDupToneCurve(green), cmsFreeToneCurve);
    if (!kept)
        return std::nullopt;
    const double top = cmsEvalToneCurveFloat(kept.get(), 1.0f);
    const double slope = (top - cmsEvalToneCurveFloat(kept.get(), 1.0f - 1.0f / kSteps)) * kSteps;
    if (!(slope > 0))
        return std::nullopt;
    LightCurve curve;
    curve.toLinear = [kept, top, slope](double code) {
        // Above 1 the curve goes on along the slope of its top.
        if (code > 1.0)
            return top + (code - 1.0) * slope;
        return double(cmsEvalToneCurveFloat(kept.get(), float(std::max(code, 0.0))));
    };
    return curve;
}

MaskProfile MaskProfileOf(const std::vector<std::uint8_t>& icc)
{
    MaskProfile profile;
    profile.present = !icc.empty();
    if (profile.present)
        profile.curve = LightCurveOfProfile(icc);
    return profile;
}

MaskProfile MaskProfileOfFile(const std::string& path)
{
    if (path.empty())
        return MaskProfile();
    try {
        return MaskProfileOf(TiffMetadataOfSource(path).icc);
    } catch (const std::exception&) {
        // A file that cannot be read has no profile to give; reading the
        // mask itself reports why, in its own words.
        return MaskProfile();
    }
}

namespace {

// Whether `curve` is the sRGB curve, within what a profile's sampled table
// of it (1024 or 4096 points of 16 bits) gives: many photographs carry an
// sRGB profile, and those keep the sRGB method's tables (and its bytes).
bool isSrgb(const LightCurve& curve)
{
    constexpr int kPoints = 1024;
    for (int i = 0; i <= kPoints; ++i) {
        const double x = double(i) / kPoints;
        if (std::abs(curve.toLinear(x) - LightCurve::Srgb().toLinear(x)) > 5e-5)
            return false;
    }
    return true;
}

// The curve of a profile, nothing when it is none or sRGB's own.
std::optional<LightCurve> otherThanSrgb(std::optional<LightCurve> curve)
{
    if (curve && isSrgb(*curve))
        return std::nullopt;
    return curve;
}

} // namespace

std::optional<ExactCurves> ExactCurvesFor(const std::vector<std::uint8_t>& photoIcc, const MaskProfile& mask)
{
    const std::optional<LightCurve> photo = otherThanSrgb(LightCurveOfProfile(photoIcc));
    const std::optional<LightCurve> maskCurve = mask.present ? otherThanSrgb(mask.curve) : photo;
    if (!photo && !maskCurve)
        return std::nullopt;
    return ExactCurves{photo.value_or(LightCurve::Srgb()), maskCurve.value_or(LightCurve::Srgb())};
}

} // namespace lumivane
