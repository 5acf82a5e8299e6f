// SPDX-License-Identifier: GPL-3.0-or-later
// Text from outside the program (file names, lines of a file) made safe to
// put in a message: a terminal or a status line never receives a control
// character from a hostile name, and a long line is cut.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lumivane {

// `text` with every control character (bytes 0-31 and 127) replaced by a
// visible escape: \n, \r, \t, and \xHH for the others (ESC is \x1b, NUL
// \x00, so a NUL no longer ends the message). Every other byte, UTF-8
// included, is kept.
std::string VisibleText(std::string_view text);

// The most characters of a line from a file that a message quotes.
inline constexpr std::size_t kQuotedLineLimit = 200;

// A line from a file as a message quotes it: its first kQuotedLineLimit
// characters (a UTF-8 sequence is never split), "..." after them when the
// line is longer, control characters escaped as VisibleText escapes them.
std::string QuotedLine(std::string_view line);

} // namespace lumivane
