// SPDX-License-Identifier: GPL-3.0-or-later
// Text from outside the program as messages show it.
#include "MessageText.h"

#include <gtest/gtest.h>

using namespace lumivane;

namespace {

TEST(MessageText, ControlCharactersBecomeVisibleEscapes)
{
    struct Case {
        std::string text;
        std::string shown;
    };
    const Case cases[] = {
        {"plain name.jpg", "plain name.jpg"},
        {"two\nlines.jpg", "two\\nlines.jpg"},
        {"cr\rtab\t", "cr\\rtab\\t"},
        {"\x1b[2Jcleared.jpg", "\\x1b[2Jcleared.jpg"},
        {std::string("before\0after", 12), "before\\x00after"},
        {"del\x7f", "del\\x7f"},
        {"\x01\x1f", "\\x01\\x1f"},
        // UTF-8 and a backslash of the name itself are kept as they are.
        {"Caf\xc3\xa9 \\ 1.jpg", "Caf\xc3\xa9 \\ 1.jpg"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VisibleText(c.text), c.shown);
}

TEST(MessageText, QuotedLineKeepsTwoHundredCharactersWithoutSplittingOne)
{
    EXPECT_EQ(QuotedLine("12x"), "12x");
    EXPECT_EQ(QuotedLine(std::string(200, 'a')), std::string(200, 'a'));
    EXPECT_EQ(QuotedLine(std::string(201, 'a')), std::string(200, 'a') + "...");
    EXPECT_EQ(QuotedLine(std::string(100000, 'b')).size(), 203u);
    // 250 two-byte characters: 200 of them (400 bytes) are kept whole.
    std::string accents;
    for (int i = 0; i < 250; ++i)
        accents += "\xc3\xa9";
    EXPECT_EQ(QuotedLine(accents), accents.substr(0, 400) + "...");
    // Escapes are made after the cut, so a line of control bytes shows
    // 200 of them.
    EXPECT_EQ(QuotedLine(std::string(300, '\x1b')), [] {
        std::string s;
        for (int i = 0; i < 200; ++i)
            s += "\\x1b";
        return s + "...";
    }());
}

} // namespace
