// SPDX-License-Identifier: GPL-3.0-or-later
#include "TextFormat.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <stdexcept>

namespace lumivane {
namespace {

TEST(RoundHalfEven, RoundsHalvesToEvenAndSaturates)
{
    struct Row {
        long double x;
        long long expected;
    };
    const Row rows[] = {
        {0.5L, 0},   {1.5L, 2},   {2.5L, 2},     {-0.5L, 0},          {-1.5L, -2},        {-2.5L, -2},
        {2.4999L, 2}, {2.5001L, 3}, {-7.6L, -8}, {1e30L, LLONG_MAX}, {-1e30L, LLONG_MIN}, {NAN, 0},
    };
    for (const Row& row : rows)
        EXPECT_EQ(RoundHalfEven(row.x), row.expected) << "x = " << double(row.x);
}

TEST(RoundTwoDecimals, GivesTheNearestHundredth)
{
    EXPECT_EQ(double(RoundTwoDecimals(4.0L / 3.0L)), 1.33);
    EXPECT_EQ(double(RoundTwoDecimals(16.0L / 9.0L)), 1.78);
    EXPECT_EQ(double(RoundTwoDecimals(1.5L)), 1.5);
    EXPECT_EQ(double(RoundTwoDecimals(-2.0L / 3.0L)), -0.67);
    EXPECT_EQ(double(RoundTwoDecimals(0.0L)), 0.0);
}

TEST(FormatGeneral, WritesShortestFormWithFifteenDigits)
{
    struct Row {
        double x;
        const char* expected;
    };
    const Row rows[] = {
        {1.33, "1.33"},
        {1.5, "1.5"},
        {1.0, "1"},
        {0.75, "0.75"},
        {1.78, "1.78"},
        {100.0, "100"},
        {-0.75, "-0.75"},
        {0.0, "0"},
        {0.1 + 0.2, "0.3"},
        {1.0 / 3.0, "0.333333333333333"},
        {2.0 / 3.0, "0.666666666666667"},
        {123456789012345.0, "123456789012345"},
        {1e15, "1E15"},
        {1.5e20, "1.5E20"},
        {0.00001, "0.00001"},
        {0.000001, "1E-6"},
        {-2.5e-7, "-2.5E-7"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(FormatGeneral(row.x), row.expected) << "x = " << row.x;
}

TEST(FormatGeneral, UsesTheGivenDecimalSeparator)
{
    EXPECT_EQ(FormatGeneral(1.33, ","), "1,33");
    EXPECT_EQ(FormatGeneral(0.00001, ","), "0,00001");
    EXPECT_EQ(FormatGeneral(1.5e20, ","), "1,5E20");
    EXPECT_EQ(FormatGeneral(2.0, ","), "2");
    // The Arabic decimal separator U+066B is two bytes of UTF-8.
    EXPECT_EQ(FormatGeneral(1.33, "\u066B"), "1\u066B33");
    EXPECT_EQ(FormatGeneral(0.00001, "\u066B"), "0\u066B00001");
    EXPECT_EQ(FormatGeneral(1.5e20, "\u066B"), "1\u066B5E20");
}

TEST(RatioText, RoundsToTwoDecimalsAndFormats)
{
    struct Row {
        long double width, height;
        const char* separator;
        const char* expected;
    };
    const Row rows[] = {
        {4000, 3000, ".", "1.33"}, {3000, 2000, ".", "1.5"}, {2000, 2000, ".", "1"},
        {1920, 1080, ".", "1.78"}, {3000, 4000, ".", "0.75"}, {4000, 3000, ",", "1,33"},
        {2, 3, ".", "0.67"},       {-3000, 2000, ".", "-1.5"}, {3960, 2940, ".", "1.35"},
        // Exact halves: the step 1/100 held in extended precision lies just
        // below 0.01, so x / p lands on the half and rounds to even upwards.
        // A step held as a double (just above 0.01) would give 1.37, 1.87
        // and 1.33.
        {1100, 800, ".", "1.38"},  {1920, 1024, ".", "1.88"}, {1335, 1000, ".", "1.34"},
        {3, 8, ".", "0.38"},       {1, 8, ".", "0.12"},        {1100, 800, ",", "1,38"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(RatioText(row.width, row.height, row.separator), row.expected)
            << double(row.width) << " / " << double(row.height);
}

TEST(RatioText, ThrowsDomainErrorForZeroHeight)
{
    EXPECT_THROW(RatioText(3000, 0), std::domain_error);
    EXPECT_THROW(RatioText(0, 0), std::domain_error);
    EXPECT_THROW(RoundedRatio(10, 0), std::domain_error);
}

} // namespace
} // namespace lumivane
