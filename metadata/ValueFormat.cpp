// SPDX-License-Identifier: GPL-3.0-or-later
// Value formatting of the directory walk and of the maker-note walk.
#include "ValueFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace lumivane {

namespace {


// A trimmed decimal number: optional sign, digits, optional fraction.
bool ParseDecimal(const std::string& raw, double& value)
{
    const std::string text = Trim(raw);
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    std::size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        ++i;
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            ++i;
            ++digits;
        }
    }
    if (digits == 0 || i != text.size())
        return false;
    value = std::strtod(text.c_str(), nullptr);
    return std::isfinite(value);
}

// Up to three rationals "a/b, c/d, e/f" as numbers; missing parts give 0.
void ThreeFractions(const std::string& text, double& first, double& second, double& third)
{
    const auto parts = Split(text, ", ");
    double values[3] = {0, 0, 0};
    for (std::size_t i = 0; i < 3 && i < parts.size(); ++i)
        values[i] = FractionValue(parts[i]);
    first = values[0];
    second = values[1];
    third = values[2];
}

float FloatFromBits(uint32_t bits)
{
    float f;
    static_assert(sizeof f == sizeof bits);
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

double DoubleFromBits(uint64_t bits)
{
    double d;
    static_assert(sizeof d == sizeof bits);
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

uint64_t UnsignedFromBytes(const Bytes& bytes, std::size_t count, bool bigEndian)
{
    uint64_t v = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const uint64_t b = static_cast<unsigned char>(bytes[i]);
        if (bigEndian)
            v = v << 8 | b;
        else
            v |= b << (8 * i);
    }
    return v;
}

}  // namespace

// Characters up to the blank count as blanks when texts are trimmed, as the
// stored texts often end in control characters or NUL padding.
static bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string Trim(const std::string& text)
{
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsTrimmed(text[first]))
        ++first;
    while (last > first && IsTrimmed(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

std::vector<std::string> Split(const std::string& text, const std::string& separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(separator, start);
        if (at == std::string::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, at - start));
        start = at + separator.size();
    }
}

std::string IntToText(int64_t value) { return std::to_string(value); }

std::string PairText(int32_t numerator, int32_t denominator)
{
    return std::to_string(numerator) + "/" + std::to_string(denominator);
}

int32_t BytesToInt(const Bytes& bytes, bool bigEndian)
{
    // The sum is taken modulo 2^64 and only its low 32 bits are kept, so in
    // little-endian order only the first four bytes matter and in big-endian
    // order only the last four.
    uint32_t low = 0;
    const std::size_t n = bytes.size();
    if (bigEndian) {
        const std::size_t from = n > 4 ? n - 4 : 0;
        for (std::size_t i = from; i < n; ++i)
            low = low << 8 | static_cast<unsigned char>(bytes[i]);
    } else {
        const std::size_t count = std::min<std::size_t>(n, 4);
        for (std::size_t i = 0; i < count; ++i)
            low |= uint32_t(static_cast<unsigned char>(bytes[i])) << (8 * i);
    }
    return int32_t(low);
}

std::string ValueName(const std::string& valueNames, const std::string& valueText)
{
    // Built by appending: GCC 12 at -O3 warns falsely about
    // "," + std::string (-Wrestrict).
    std::string key(1, ',');
    key += Trim(valueText);
    key += ':';
    std::string list(1, ',');
    list += valueNames;
    list += ',';
    const std::size_t at = list.find(key);
    if (at == std::string::npos)
        return std::string();
    const std::size_t start = at + key.size();
    const std::size_t end = list.find(',', start);
    return list.substr(start, end - start);
}

std::string CleanText(const std::string& text)
{
    std::string result = text.substr(0, 50);
    for (char& c : result)
        if (static_cast<unsigned char>(c) < 32)
            c = '.';
    return result;
}

double NumericValue(const Bytes& bytes, int typeCode, bool bigEndian)
{
    switch (typeCode) {
    case 1: case 3: case 4: case 6: case 8: case 9:
        return BytesToInt(bytes, bigEndian);
    case 5: case 10: {
        if (bytes.size() < 8)
            return 0;
        const int32_t numerator = BytesToInt(bytes.substr(0, 4), bigEndian);
        const int32_t denominator = BytesToInt(bytes.substr(4, 4), bigEndian);
        if (denominator == 0)
            return 0;
        return double(numerator) / double(denominator);
    }
    case 11: {
        if (bytes.size() < 4)
            return 0;
        const double v = FloatFromBits(uint32_t(UnsignedFromBytes(bytes, 4, bigEndian)));
        return std::isfinite(v) ? v : 0;
    }
    case 12: {
        if (bytes.size() < 8)
            return 0;
        const double v = DoubleFromBits(UnsignedFromBytes(bytes, 8, bigEndian));
        return std::isfinite(v) ? v : 0;
    }
    default:
        return 0;
    }
}

double FractionValue(const std::string& raw)
{
    std::string text = Trim(raw);
    double whole = 0;
    const std::size_t blank = text.find(' ');
    if (blank != std::string::npos) {
        if (!ParseDecimal(text.substr(0, blank), whole))
            return 0;
        text = Trim(text.substr(blank + 1));
    }
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos)
        return 0;
    double numerator = 0;
    double denominator = 0;
    if (!ParseDecimal(text.substr(0, slash), numerator)
        || !ParseDecimal(text.substr(slash + 1), denominator) || denominator == 0)
        return 0;
    return (whole * denominator + numerator) / denominator;
}

std::string FormatNumbers(const std::string& format, std::initializer_list<double> values)
{
    std::string result;
    auto next = values.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            result += format[i];
            continue;
        }
        enforce(i + 1 < format.size(), "Format text ends in %");
        if (format[i + 1] == '%') {
            result += '%';
            ++i;
            continue;
        }
        // One "%[flags][width][.precision]f" conversion; width and precision
        // are kept to two digits so the output stays small.
        std::string conversion = "%";
        std::size_t j = i + 1;
        while (j < format.size() && std::strchr("-+ #0", format[j]) != nullptr && format[j] != '\0')
            conversion += format[j++];
        int digits = 0;
        while (j < format.size() && format[j] >= '0' && format[j] <= '9' && digits < 2) {
            conversion += format[j++];
            ++digits;
        }
        if (j < format.size() && format[j] == '.') {
            conversion += format[j++];
            digits = 0;
            while (j < format.size() && format[j] >= '0' && format[j] <= '9' && digits < 2) {
                conversion += format[j++];
                ++digits;
            }
        }
        enforce(j < format.size() && format[j] == 'f', "Unsupported conversion in format text");
        enforce(next != values.end(), "Format text needs more values");
        conversion += 'f';
        char buffer[400];
        const int written = std::snprintf(buffer, sizeof buffer, conversion.c_str(), *next++);
        if (written > 0)
            result.append(buffer, std::min<std::size_t>(std::size_t(written), sizeof buffer - 1));
        i = j;
    }
    return result;
}

int64_t ParseWholeNumber(const std::string& raw)
{
    const std::string text = Trim(raw);
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    enforce(i < text.size(), "Not a whole number");
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        enforce(text[i] >= '0' && text[i] <= '9', "Not a whole number");
        enforce(value <= (std::numeric_limits<int64_t>::max() - 9) / 10, "Number too large");
        value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

std::string FormatValue(const Bytes& bytes, int typeCode, const std::string& valueNames,
                        const std::string& formatText, bool bigEndian)
{
    const int size = TiffTypeSize(typeCode);
    if (size == 0)
        return "0";
    const std::size_t count = std::min<std::size_t>(bytes.size() / std::size_t(size), 128);
    std::string r;
    for (std::size_t i = 0; i < count; ++i) {
        const Bytes component = bytes.substr(i * std::size_t(size), std::size_t(size));
        if (!r.empty())
            r += ", ";
        switch (typeCode) {
        case 1: case 3: case 4: case 6: case 8: case 9: {
            const std::string number = IntToText(BytesToInt(component, bigEndian));
            r += valueNames.empty() ? number : ValueName(valueNames, number);
            break;
        }
        case 5: case 10:
            r += PairText(BytesToInt(component.substr(0, 4), bigEndian),
                          BytesToInt(component.substr(4, 4), bigEndian));
            // The list is looked up with the whole text so far, as the
            // stored tables expect for single rationals.
            if (!valueNames.empty())
                r += ValueName(valueNames, r);
            break;
        case 11: case 12:
            r += "-9999.99";
            break;
        default:  // ASCII and UNDEFINED are never formatted as numbers
            r += "?";
            break;
        }
    }
    if (!formatText.empty()) {
        const std::size_t placeholder = formatText.find("%s");
        if (placeholder != std::string::npos)
            r = formatText.substr(0, placeholder) + r + formatText.substr(placeholder + 2);
        else
            r = FormatNumbers(formatText, {NumericValue(bytes, typeCode, bigEndian)});
    }
    return r;
}

namespace formatters {

std::string FlashText(const std::string& text, TImageInfo&)
{
    const int64_t v = ParseWholeNumber(text);
    std::string r = (v & 1) ? "On" : "Off";
    switch (v & 6) {
    case 2: r += ", UNKNOWN"; break;
    case 4: r += ", no strobe return"; break;
    case 6: r += ", strobe return"; break;
    default: break;
    }
    switch (v & 24) {
    case 8: r += ", forced"; break;
    case 16: r += ", surpressed"; break;
    case 24: r += ", auto mode"; break;
    default: break;
    }
    if (v & 32)
        r += ", no flash function";
    if (v & 64)
        r += ", red-eye reduction";
    return r;
}

std::string ShutterSpeedText(const std::string& text, TImageInfo&)
{
    // APEX time value x: the exposure lasts 1/2^x seconds.
    const double inverse = std::pow(2.0, FractionValue(text));
    const double seconds = 1.0 / inverse;
    std::string r = FormatNumbers("%4.4f sec", {seconds});
    if (seconds <= 0.5 && std::isfinite(inverse))
        r += " (1/" + FormatNumbers("%0.0f", {std::nearbyint(inverse)}) + ")";
    return r;
}

std::string ComponentOrderText(const std::string& text, TImageInfo&)
{
    static const char* const names[] = {"", "Y", "Cb", "Cr", "R", "G", "B"};
    std::string r;
    // Characters 2..5 of the quoted text are the four component codes.
    for (std::size_t i = 1; i <= 4 && i < text.size(); ++i) {
        const unsigned char code = static_cast<unsigned char>(text[i]);
        if (code >= 1 && code <= 6)
            r += names[code];
    }
    return r;
}

std::string UserCommentText(const std::string& text, TImageInfo&)
{
    return text.size() > 8 ? text.substr(8) : std::string();
}

std::string TitleText(const std::string& text, TImageInfo&)
{
    // The text is the byte list "65, 0, 98, 0, ..."; items 1, 3, 5, ... (1-based)
    // are the low bytes of the UTF-16LE characters. An item that is not a
    // number (a value of another type) is passed over.
    const auto items = Split(text, ",");
    const std::size_t commas = items.size() - 1;
    std::string r;
    for (std::size_t item = 1; item <= commas; item += 2) {
        int64_t value = 0;
        try {
            value = ParseWholeNumber(items[item - 1]);
        } catch (const MetadataError&) {
            continue;
        }
        const auto code = static_cast<unsigned char>(value & 0xFF);
        if (code != 0)
            r += static_cast<char>(code);
    }
    return r;
}

std::string DegreesText(const std::string& text, TImageInfo&)
{
    double degrees, minutes, seconds;
    ThreeFractions(text, degrees, minutes, seconds);
    if (seconds == 0) {
        // Minutes given with a decimal fraction: the fraction holds the seconds.
        const double wholeMinutes = std::trunc(minutes);
        seconds = (minutes - wholeMinutes) * 100 * 0.6;
        minutes = wholeMinutes;
    }
    return FormatNumbers("%0.0f Degrees %0.0f Minutes %0.0f Seconds", {degrees, minutes, seconds});
}

std::string GpsTimeText(const std::string& text, TImageInfo&)
{
    double hours, minutes, seconds;
    ThreeFractions(text, hours, minutes, seconds);
    return FormatNumbers("%0.0f:%0.0f:%0.0f", {hours, minutes, seconds});
}

}  // namespace formatters

}  // namespace lumivane
