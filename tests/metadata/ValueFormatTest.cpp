// SPDX-License-Identifier: GPL-3.0-or-later
// Value formatting: numbers, rationals, value lists, format texts and the
// formatters of the main and GPS tables.
#include "ExifReader.h"
#include "ValueFormat.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace lumivane {
namespace {

Bytes B(std::initializer_list<int> values)
{
    Bytes b;
    for (int v : values)
        b += char(uint8_t(v));
    return b;
}

struct IntCase {
    const char* name;
    Bytes bytes;
    bool bigEndian;
    int32_t expected;
};

TEST(BytesToInt, CombinesBytesInDeclaredOrder_WithoutSignExtension)
{
    const IntCase cases[] = {
        {"empty", B({}), false, 0},
        {"one byte", B({0xFF}), false, 255},                    // SBYTE -1 is not sign-extended
        {"short little-endian", B({0x34, 0x12}), false, 0x1234},
        {"short big-endian", B({0x12, 0x34}), true, 0x1234},
        {"sshort -1", B({0xFF, 0xFF}), true, 65535},
        {"long with top bit", B({0x00, 0x00, 0x00, 0x80}), false, int32_t(0x80000000u)},
        {"six bytes little-endian keep first four", B({8, 0, 8, 0, 8, 0}), false, 0x00080008},
        {"six bytes big-endian keep last four", B({0, 8, 0, 8, 0, 8}), true, 0x00080008},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BytesToInt(c.bytes, c.bigEndian), c.expected) << c.name;
}

TEST(ValueName, FindsExactNumberOnly)
{
    struct Case {
        const char* list;
        const char* value;
        const char* expected;
    } cases[] = {
        {"0:Auto,1:Manual", "1", "Manual"},
        {"0:Auto,1:Manual", "0", "Auto"},
        {"0:Auto,1:Manual", " 1 ", "Manual"},  // blanks around the value are ignored
        {"0:Auto,1:Manual", "2", ""},
        {"0:Auto,11:Manual", "1", ""},        // "1" must not match "11"
        {"1:Monochrome, 2:RGB, 6:YCbCr", "1", "Monochrome"},
        {"1:Monochrome, 2:RGB, 6:YCbCr", "2", ""},  // blank after the comma hides 2
        {"65535:Low,0:Normal", "65535", "Low"},
        {"", "0", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ValueName(c.list, c.value), c.expected) << c.list << " / " << c.value;
}

TEST(CleanText, CutsToFiftyAndMasksControlCharacters)
{
    EXPECT_EQ(CleanText(std::string(60, 'a')), std::string(50, 'a'));
    EXPECT_EQ(CleanText(std::string("a\0b\tc\x1F", 6)), "a.b.c.");
    EXPECT_EQ(CleanText("90\xB0"), "90\xB0");  // Windows-1252 bytes above 127 stay
    EXPECT_EQ(CleanText(""), "");
}

TEST(NumericValue, ReadsEachTypeAndTurnsFailuresIntoZero)
{
    const Bytes rational = B({0, 0, 0, 1, 0, 0, 0, 60});  // 1/60 big-endian
    EXPECT_DOUBLE_EQ(NumericValue(rational, 5, true), 1.0 / 60);
    EXPECT_DOUBLE_EQ(NumericValue(B({1, 0, 0, 0, 0, 0, 0, 0}), 5, false), 0);  // 1/0
    EXPECT_DOUBLE_EQ(NumericValue(B({1, 0, 0, 0}), 5, false), 0);              // short rational
    EXPECT_DOUBLE_EQ(NumericValue(B({0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0}), 10, false), -1.0 / 3);
    EXPECT_DOUBLE_EQ(NumericValue(B({0x2A, 0}), 3, false), 42);
    EXPECT_DOUBLE_EQ(NumericValue(B({'A', 'B'}), 2, false), 0);
    EXPECT_DOUBLE_EQ(NumericValue(B({1, 2}), 7, false), 0);
    EXPECT_DOUBLE_EQ(NumericValue(B({1, 2}), 13, false), 0);
    // FLOAT 1.5 = 0x3FC00000 and DOUBLE -2.25 = 0xC002000000000000 in both orders.
    EXPECT_DOUBLE_EQ(NumericValue(B({0x3F, 0xC0, 0, 0}), 11, true), 1.5);
    EXPECT_DOUBLE_EQ(NumericValue(B({0, 0, 0xC0, 0x3F}), 11, false), 1.5);
    EXPECT_DOUBLE_EQ(NumericValue(B({0xC0, 0x02, 0, 0, 0, 0, 0, 0}), 12, true), -2.25);
    EXPECT_DOUBLE_EQ(NumericValue(B({0, 0, 0, 0, 0, 0, 0x02, 0xC0}), 12, false), -2.25);
    EXPECT_DOUBLE_EQ(NumericValue(B({0x7F, 0xC0, 0, 0}), 11, true), 0);  // NaN gives 0
}

TEST(FractionValue, ParsesFractionsAndMixedNumbers)
{
    struct Case {
        const char* text;
        double expected;
    } cases[] = {
        {"1/60", 1.0 / 60}, {" 72/1 ", 72}, {"-1/3", -1.0 / 3}, {"1 1/2", 1.5},
        {"5130/100", 51.3}, {"1/0", 0},     {"5", 0},           {"abc/2", 0},
        {"", 0},           {"x 1/2", 0},   {"1/2/3", 0},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(FractionValue(c.text), c.expected) << c.text;
}

struct FormatCase {
    const char* name;
    Bytes bytes;
    int type;
    const char* valueNames;
    const char* formatText;
    bool bigEndian;
    std::string expected;
};

TEST(FormatValue, WorkedExamples)
{
    Bytes shorts200;
    for (int i = 0; i < 200; ++i)
        shorts200 += B({i % 10, 0});
    std::string first128;
    for (int i = 0; i < 128; ++i)
        first128 += (i ? ", " : "") + std::to_string(i % 10);

    const FormatCase cases[] = {
        {"XResolution 72/1", B({72, 0, 0, 0, 1, 0, 0, 0}), 5, "", "%5.2f", false, "72.00"},
        {"FNumber 28/10", B({0, 0, 0, 28, 0, 0, 0, 10}), 5, "", "F%0.1f", true, "F2.8"},
        {"ExposureTime 1/60", B({1, 0, 0, 0, 60, 0, 0, 0}), 5, "", "%s sec", false, "1/60 sec"},
        {"Orientation 6", B({0, 6}), 3,
         "1:Normal,3:Rotated 180\xB0,6:CounterClockwise 90\xB0,8:Clockwise 90\xB0", "", true,
         "CounterClockwise 90\xB0"},
        {"MeteringMode 255", B({255, 0}), 3, "0:Unknown,1:Average", "", false, ""},
        {"BitsPerSample 8,8,8", B({8, 0, 8, 0, 8, 0}), 3, "", "", false, "8, 8, 8"},
        {"SHORT array of 200 shows 128", shorts200, 3, "", "", false, first128},
        {"SSHORT -1 named 65535", B({0xFF, 0xFF}), 8, "65535:Low,0:Normal", "", false, "Low"},
        {"SRATIONAL -1/3", B({0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0}), 10, "", "", false, "-1/3"},
        {"rational 1/0", B({1, 0, 0, 0, 0, 0, 0, 0}), 5, "", "", false, "1/0"},
        {"PhotometricInterpretation 2", B({2, 0}), 3, "1:Monochrome, 2:RGB, 6:YCbCr", "", false, ""},
        {"FLOAT", B({0, 0, 0xC0, 0x3F}), 11, "", "", false, "-9999.99"},
        {"DOUBLE", B({0, 0, 0, 0, 0, 0, 0, 0}), 12, "", "", false, "-9999.99"},
        {"ASCII through FormatValue", B({'A', 'B'}), 2, "", "", false, "?, ?"},
        {"type 0", B({1, 2, 3, 4}), 0, "", "", false, "0"},
        {"type 13", B({1, 2, 3, 4}), 13, "", "", false, "0"},
        {"short input, no format", B({1}), 3, "", "", false, ""},
        {"short input still formatted", B({1}), 5, "", "%5.2f", false, " 0.00"},
        {"focal length with unit", B({0, 0, 0, 75, 0, 0, 0, 10}), 5, "", "%5.2f mm", true, " 7.50 mm"},
        {"rational list names the whole text", B({1, 0, 0, 0, 2, 0, 0, 0}), 5, "1/2:Half", "", false,
         "1/2Half"},
        {"LONG negative", B({0xFF, 0xFF, 0xFF, 0xFF}), 4, "", "", false, "-1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatValue(c.bytes, c.type, c.valueNames, c.formatText, c.bigEndian), c.expected)
            << c.name;
}

TEST(FormatNumbers, RoundsAsPrintfAndRejectsOtherConversions)
{
    EXPECT_EQ(FormatNumbers("%5.2f", {81.2815}), "81.28");
    EXPECT_EQ(FormatNumbers("%5.2f", {7.5}), " 7.50");
    EXPECT_EQ(FormatNumbers("F%0.1f", {2.8}), "F2.8");
    EXPECT_EQ(FormatNumbers("F%0.1f", {0.25}), "F0.2");  // exact tie rounds to even, as printf
    EXPECT_EQ(FormatNumbers("%0.0f", {2.5}), "2");
    EXPECT_EQ(FormatNumbers("%0.0f", {3.5}), "4");
    EXPECT_EQ(FormatNumbers("%4.4f sec", {0.015625}), "0.0156 sec");
    EXPECT_EQ(FormatNumbers("100%% %0.0f", {1}), "100% 1");
    EXPECT_EQ(FormatNumbers("%0.1f-%0.1f(mm)  F%0.1f-F%0.1f", {18, 55, 3.5, 5.6}),
              "18.0-55.0(mm)  F3.5-F5.6");
    EXPECT_THROW(FormatNumbers("%d", {1}), MetadataError);
    EXPECT_THROW(FormatNumbers("%s", {1}), MetadataError);
    EXPECT_THROW(FormatNumbers("%5.2f %5.2f", {1}), MetadataError);
    EXPECT_THROW(FormatNumbers("50%", {1}), MetadataError);
    EXPECT_THROW(FormatNumbers("%123.2f", {1}), MetadataError);  // widths stay two digits
}

class FormatterTest : public ::testing::Test {
protected:
    TImageInfo reader{nullptr};
};

TEST_F(FormatterTest, FlashBits)
{
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"25", "On, auto mode"},          // 0x19
        {"16", "Off, surpressed"},        // 0x10
        {"65", "On, red-eye reduction"},  // 0x41
        {"0", "Off"},
        {"7", "On, strobe return"},
        {"5", "On, no strobe return"},
        {"3", "On, UNKNOWN"},
        {"9", "On, forced"},
        {"32", "Off, no flash function"},
        {"95", "On, strobe return, auto mode, red-eye reduction"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatters::FlashText(c.text, reader), c.expected) << c.text;
    EXPECT_THROW(formatters::FlashText("0, 16", reader), MetadataError);
    EXPECT_THROW(formatters::FlashText("", reader), MetadataError);
}

TEST_F(FormatterTest, ShutterSpeed)
{
    EXPECT_EQ(formatters::ShutterSpeedText("6/1", reader), "0.0156 sec (1/64)");
    EXPECT_EQ(formatters::ShutterSpeedText("-1/1", reader), "2.0000 sec");
    EXPECT_EQ(formatters::ShutterSpeedText("1/1", reader), "0.5000 sec (1/2)");
    EXPECT_EQ(formatters::ShutterSpeedText("0/1", reader), "1.0000 sec");
    EXPECT_EQ(formatters::ShutterSpeedText("7/1", reader), "0.0078 sec (1/128)");
    // Absurd APEX values must not crash or overflow the integer conversion.
    EXPECT_NO_THROW(formatters::ShutterSpeedText("2000000000/1", reader));
    EXPECT_NO_THROW(formatters::ShutterSpeedText("-2000000000/1", reader));
}

TEST_F(FormatterTest, ComponentOrderAndUserComment)
{
    EXPECT_EQ(formatters::ComponentOrderText(std::string("\"\x01\x02\x03\"", 5), reader), "YCbCr");
    EXPECT_EQ(formatters::ComponentOrderText(std::string("\"\x04\x05\x06\x07\"", 6), reader), "RGB");
    EXPECT_EQ(formatters::ComponentOrderText("\"", reader), "");
    EXPECT_EQ(formatters::UserCommentText("ASCII...Hello", reader), "Hello");
    EXPECT_EQ(formatters::UserCommentText("short", reader), "");
}

TEST_F(FormatterTest, TitleReadsLowBytesOfUtf16)
{
    EXPECT_EQ(formatters::TitleText("65, 0, 98, 0, 0, 0", reader), "Ab");
    EXPECT_EQ(formatters::TitleText("65, 0, 0, 0", reader), "A");
    EXPECT_EQ(formatters::TitleText("65", reader), "");  // no comma: no item is taken
    EXPECT_EQ(formatters::TitleText("321, 0, 66, 0", reader), "AB");  // low 8 bits of 321 are 65
    EXPECT_EQ(formatters::TitleText("\"x, y\"", reader), "");  // not numbers: passed over
}

TEST_F(FormatterTest, GpsCoordinatesAndTime)
{
    EXPECT_EQ(formatters::DegreesText("48/1, 5130/100, 0/1", reader),
              "48 Degrees 51 Minutes 18 Seconds");
    EXPECT_EQ(formatters::DegreesText("54/1, 59/1, 2338/100", reader),
              "54 Degrees 59 Minutes 23 Seconds");
    EXPECT_EQ(formatters::DegreesText("12/1", reader), "12 Degrees 0 Minutes 0 Seconds");
    EXPECT_EQ(formatters::GpsTimeText("14/1, 5/1, 30/1", reader), "14:5:30");
    EXPECT_EQ(formatters::GpsTimeText("", reader), "0:0:0");
}

TEST(IntegerTexts, DecimalAndPair)
{
    EXPECT_EQ(IntToText(-42), "-42");
    EXPECT_EQ(PairText(-1, 3), "-1/3");
    EXPECT_EQ(ParseWholeNumber(" 25 "), 25);
    EXPECT_EQ(ParseWholeNumber("-7"), -7);
    EXPECT_THROW(ParseWholeNumber("2.5"), MetadataError);
    EXPECT_THROW(ParseWholeNumber("99999999999999999999"), MetadataError);
}

}  // namespace
}  // namespace lumivane
