// SPDX-License-Identifier: GPL-3.0-or-later
// How a photograph is corrected against its mask.
//
// Additive: the mask's shortfall below the target level is added to each
// channel code, damped for dark pixels by the boost (the program's original
// correction, kept byte for byte and the default).
// Exact: the photograph is divided by the mask in linear light, which is what
// vignetting is (a loss of light by a factor); the boost has no meaning there.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumivane {

enum class CorrectionMethod { Additive, Exact };

// What the exact method takes from the mask.
enum class ColourOption {
    FalloffAndColour, // one gain per channel: fall-off and the mask's tint removed
    FalloffOnly,      // one gain per pixel from luminance: a tinted flat field does not tint the photograph
    ColourOnly,       // the tint removed, the fall-off kept
};

struct CorrectionMode {
    CorrectionMethod method = CorrectionMethod::Additive;
    ColourOption colour = ColourOption::FalloffAndColour;
    friend bool operator==(const CorrectionMode&, const CorrectionMode&) = default;
};

// The words used in lumivane.ini and on lumivane-cli's command line:
// "additive" / "exact" and "both" / "falloff" / "colour".
inline std::string_view MethodName(CorrectionMethod method)
{
    return method == CorrectionMethod::Exact ? "exact" : "additive";
}

inline std::string_view ColourOptionName(ColourOption colour)
{
    switch (colour) {
    case ColourOption::FalloffOnly:
        return "falloff";
    case ColourOption::ColourOnly:
        return "colour";
    case ColourOption::FalloffAndColour:
        break;
    }
    return "both";
}

inline std::optional<CorrectionMethod> ParseMethodName(std::string_view text)
{
    if (text == "additive")
        return CorrectionMethod::Additive;
    if (text == "exact")
        return CorrectionMethod::Exact;
    return std::nullopt;
}

inline std::optional<ColourOption> ParseColourOptionName(std::string_view text)
{
    if (text == "both")
        return ColourOption::FalloffAndColour;
    if (text == "falloff")
        return ColourOption::FalloffOnly;
    if (text == "colour")
        return ColourOption::ColourOnly;
    return std::nullopt;
}

} // namespace lumivane
