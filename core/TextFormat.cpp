// SPDX-License-Identifier: GPL-3.0-or-later
#include "TextFormat.h"

#include <cfenv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace lumivane {

long long RoundHalfEven(long double x)
{
    if (std::isnan(x))
        return 0;
    // LLONG_MAX is not representable as long double exactly in every case;
    // 2^63 is, and everything at or beyond it saturates.
    constexpr long double kLimit = 9223372036854775808.0L; // 2^63
    if (x >= kLimit)
        return LLONG_MAX;
    if (x < -kLimit)
        return LLONG_MIN;
    // The default rounding mode is to nearest with ties to even.
    return std::llrint(x);
}

long double RoundTwoDecimals(long double x)
{
    // The step stays in extended precision, where it lies just below 0.01:
    // exact halves such as 1.375 then come out at or above the half and
    // round to even (1.38), as the ratio captions expect.
    const long double step = 1.0L / 100.0L;
    const long double q = x / step;
    // Keep the integer step exact for quotients far beyond any ratio.
    const long double whole = std::fabs(q) < 9.0e18L ? static_cast<long double>(RoundHalfEven(q)) : q;
    return whole * step;
}

std::string FormatGeneral(double x, const std::string& decimalSeparator)
{
    if (std::isnan(x))
        return "NAN";
    if (std::isinf(x))
        return x < 0 ? "-INF" : "INF";
    if (x == 0)
        return "0";

    // 15 significant digits, correctly rounded: d.dddddddddddddde±XX
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", x);
    const bool negative = buf[0] == '-';
    const std::string sign = negative ? "-" : "";
    const std::string text(buf + (negative ? 1 : 0));
    const std::size_t ePos = text.find('e');
    const int exponent = std::atoi(text.c_str() + ePos + 1);
    std::string digits;
    for (std::size_t i = 0; i < ePos; ++i)
        if (text[i] != '.')
            digits += text[i];
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    std::string out = sign;
    if (exponent >= 15 || exponent < -5) {
        // Scientific: mantissa with its digits, "E", exponent without '+'
        // and without leading zeros.
        out += digits[0];
        if (digits.size() > 1) {
            out += decimalSeparator;
            out += digits.substr(1);
        }
        out += 'E';
        out += std::to_string(exponent);
        return out;
    }
    if (exponent < 0) {
        out += '0';
        out += decimalSeparator;
        out.append(std::size_t(-exponent - 1), '0');
        out += digits;
        return out;
    }
    const std::size_t intDigits = std::size_t(exponent) + 1;
    if (digits.size() <= intDigits) {
        out += digits;
        out.append(intDigits - digits.size(), '0');
    } else {
        out += digits.substr(0, intDigits);
        out += decimalSeparator;
        out += digits.substr(intDigits);
    }
    return out;
}

double RoundedRatio(long double width, long double height)
{
    if (height == 0)
        throw std::domain_error(width == 0 ? "Invalid floating point operation (0 / 0 in an aspect ratio)"
                                           : "Division by zero (aspect ratio with a height of 0)");
    return double(RoundTwoDecimals(width / height));
}

std::string RatioText(long double width, long double height, const std::string& decimalSeparator)
{
    return FormatGeneral(RoundedRatio(width, height), decimalSeparator);
}

} // namespace lumivane
