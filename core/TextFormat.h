// SPDX-License-Identifier: GPL-3.0-or-later
// Number formatting shared by the window texts: ties-to-even rounding on
// 80-bit values, two-decimal rounding and the general decimal form used for
// aspect ratios ("1.33", "1.5", "1").
#pragma once

#include <string>

namespace lumivane {

// Nearest integer, halves to even, on an extended value. Values beyond the
// range of long long saturate; NaN gives 0.
long long RoundHalfEven(long double x);

// Round(x / p) * p with p = 1/100, the step, the quotient and the product
// all in extended precision. The step is slightly below 0.01, so an exact
// half such as 1100 / 800 = 1.375 gives the quotient 137.5 (or a hair above)
// and rounds to even: 1.38. The product carries the step's error, which the
// 15-digit formatting hides again.
long double RoundTwoDecimals(long double x);

// Shortest general decimal form with at most 15 significant digits:
// fixed notation for 1e-5 <= |x| < 1e15, otherwise "1.5E20" / "1E-6".
// Trailing zeros are dropped, so 1.5 stays "1.5" and 1.0 becomes "1".
// The separator is UTF-8 text: some locales use a character outside
// Latin-1, such as the Arabic decimal separator U+066B.
std::string FormatGeneral(double x, const std::string& decimalSeparator = ".");

// width / height with two-decimal rounding, formatted with FormatGeneral.
// Throws std::domain_error when height is 0.
std::string RatioText(long double width, long double height, const std::string& decimalSeparator = ".");

// width / height with two-decimal rounding, as a double (what RatioText
// prints). Throws std::domain_error when height is 0.
double RoundedRatio(long double width, long double height);

} // namespace lumivane
