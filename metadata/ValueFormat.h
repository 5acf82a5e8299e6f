// SPDX-License-Identifier: GPL-3.0-or-later
// Turning raw TIFF values into display text: numbers, rationals, value lists,
// format texts, and the formatters attached to particular tags.
#pragma once

#include "ByteReader.h"
#include "TagTables.h"

#include <initializer_list>
#include <string>
#include <vector>

namespace lumivane {

class TImageInfo;

// Integer to decimal text.
std::string IntToText(int64_t value);
// Two integers as "%d/%d".
std::string PairText(int32_t numerator, int32_t denominator);

// All bytes combined (most significant first when bigEndian) into a 64-bit
// sum whose low 32 bits are kept as a signed number. Signed TIFF types are not
// sign-extended: an SSHORT 0xFFFF gives 65535. Empty input gives 0.
int32_t BytesToInt(const Bytes& bytes, bool bigEndian);

// The name of valueText in a "0:Auto,1:Manual" list, or empty text when the
// list does not name it. Matching is exact, so "1:A, 2:B" never finds 2.
std::string ValueName(const std::string& valueNames, const std::string& valueText);

// The first 50 characters, each control character (below 32) shown as ".".
std::string CleanText(const std::string& text);

// Numeric value of a whole value: integer types through BytesToInt of all the
// bytes, rationals as the first 4 bytes over the next 4, FLOAT and DOUBLE as
// IEEE 754 numbers in the data's byte order; 0 for other types and for any
// failure (short data, division by zero).
double NumericValue(const Bytes& bytes, int typeCode, bool bigEndian);

// "a/c" or "w a/c" (a whole number before a blank) as a number; 0 for a text
// without "/" or with a part that is not a number, or a zero denominator.
double FractionValue(const std::string& text);

// Display text of a value (at most 128 components): integers in decimal or
// named through valueNames, rationals as "%d/%d", FLOAT/DOUBLE as "-9999.99",
// other types as "?". A non-empty formatText then puts the text in place of
// its "%s", or, without "%s", formats the numeric value (e.g. "F%0.1f").
std::string FormatValue(const Bytes& bytes, int typeCode, const std::string& valueNames,
                        const std::string& formatText, bool bigEndian);

// printf-style formatting of numbers for the "%f" conversions the tables use
// ("%5.2f", "F%0.1f", "%4.4f", "%0.0f", "%0.1f-%0.1f(mm)  F%0.1f-F%0.1f"),
// rounding as C printf does. "%%" gives "%". Any other conversion, or fewer
// values than conversions, raises MetadataError.
std::string FormatNumbers(const std::string& format, std::initializer_list<double> values);

// Whole-number parse of a text (leading and trailing blanks allowed, optional
// sign, decimal digits); raises MetadataError on anything else or overflow.
int64_t ParseWholeNumber(const std::string& text);

// Formatters of the main and GPS tables. Each takes the entry's text as made
// by the directory walk and returns the text to keep.
// The text without the characters up to the blank (control characters, NUL
// padding, blanks) at either end.
std::string Trim(const std::string& text);

// Splits text at every occurrence of separator: "1, 2" at "," gives "1"
// and " 2"; an empty text gives one empty part.
std::vector<std::string> Split(const std::string& text, const std::string& separator);

namespace formatters {
// Flash: "On"/"Off" and the return, mode, function and red-eye bits.
// Raises MetadataError when the text is not a whole number.
std::string FlashText(const std::string& text, TImageInfo& reader);
// ShutterSpeedValue (APEX): "%4.4f sec" of 1/2^x, plus " (1/%d)" at 0.5 s and faster.
std::string ShutterSpeedText(const std::string& text, TImageInfo& reader);
// ComponentsConfiguration: characters 2..5 of the quoted text as Y, Cb, Cr, R, G, B.
std::string ComponentOrderText(const std::string& text, TImageInfo& reader);
// UserComment: the text from its 9th character on (after the 8-byte code).
std::string UserCommentText(const std::string& text, TImageInfo& reader);
// Title, Comments, Author, Keywords, Subject: low bytes of a UTF-16LE string.
std::string TitleText(const std::string& text, TImageInfo& reader);
// GPS coordinates: "%0.0f Degrees %0.0f Minutes %0.0f Seconds".
std::string DegreesText(const std::string& text, TImageInfo& reader);
// GPSTimeStamp: "%0.0f:%0.0f:%0.0f".
std::string GpsTimeText(const std::string& text, TImageInfo& reader);
}  // namespace formatters

}  // namespace lumivane
