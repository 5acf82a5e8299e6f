// SPDX-License-Identifier: GPL-3.0-or-later
// The window program's command line.
#include "StartArguments.h"

#include <gtest/gtest.h>

using namespace lumivane;
using Action = StartArguments::Action;

namespace {

struct ArgumentsCase {
    std::vector<std::string> args;
    Action action;
    std::string mask;
    std::vector<std::string> photos;
    // A piece of the error message, for usage errors.
    std::string error;
};

std::string joined(const std::vector<std::string>& args)
{
    std::string out;
    for (const std::string& a : args)
        out += "[" + a + "] ";
    return out;
}

} // namespace

TEST(StartArguments, ParsesLeftToRight)
{
    const ArgumentsCase cases[] = {
        {{}, Action::Open, "", {}, ""},
        {{"a.jpg", "b.TIF"}, Action::Open, "", {"a.jpg", "b.TIF"}, ""},
        {{"--mask", "flat.bmp", "a.jpg"}, Action::Open, "flat.bmp", {"a.jpg"}, ""},
        {{"a.jpg", "--mask=flat.bmp", "b.jpg"}, Action::Open, "flat.bmp", {"a.jpg", "b.jpg"}, ""},
        {{"--mask", "flat.bmp"}, Action::Open, "flat.bmp", {}, ""},
        // The value of --mask is taken as it is, even when it looks like an option.
        {{"--mask", "--odd.bmp"}, Action::Open, "--odd.bmp", {}, ""},
        {{"--", "--help", "-x.jpg"}, Action::Open, "", {"--help", "-x.jpg"}, ""},
        {{"--mask", "m.bmp", "--", "--mask", "p.jpg"}, Action::Open, "m.bmp", {"--mask", "p.jpg"}, ""},
        {{"-"}, Action::Open, "", {"-"}, ""},
        {{"--help"}, Action::Help, "", {}, ""},
        {{"-h"}, Action::Help, "", {}, ""},
        {{"a.jpg", "--version", "--bogus"}, Action::Version, "", {}, ""},
        {{"--help", "--version"}, Action::Help, "", {}, ""},
        {{"--bogus", "--help"}, Action::UsageError, "", {}, "'--bogus'"},
        {{"-x"}, Action::UsageError, "", {}, "'-x'"},
        {{"--masks", "flat.bmp"}, Action::UsageError, "", {}, "'--masks'"},
        {{"a.jpg", "--mask"}, Action::UsageError, "", {}, "--mask needs a file name"},
        {{"--mask="}, Action::UsageError, "", {}, "--mask needs a file name"},
        {{"--mask", ""}, Action::UsageError, "", {}, "--mask needs a file name"},
        {{"--mask", "a.bmp", "--mask", "b.bmp"}, Action::UsageError, "", {}, "twice"},
        {{"a.jpg", ""}, Action::UsageError, "", {}, "empty argument"},
        {{"--", ""}, Action::UsageError, "", {}, "empty argument"},
    };
    for (const ArgumentsCase& c : cases) {
        SCOPED_TRACE(joined(c.args));
        const StartArguments parsed = ParseStartArguments(c.args);
        EXPECT_EQ(parsed.action, c.action);
        if (c.action == Action::UsageError) {
            EXPECT_NE(parsed.error.find(c.error), std::string::npos) << parsed.error;
            continue;
        }
        EXPECT_TRUE(parsed.error.empty()) << parsed.error;
        if (c.action != Action::Open)
            continue;
        EXPECT_EQ(parsed.mask, c.mask);
        EXPECT_EQ(parsed.photos, c.photos);
    }
}
