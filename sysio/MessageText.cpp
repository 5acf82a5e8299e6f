// SPDX-License-Identifier: GPL-3.0-or-later
#include "MessageText.h"

namespace lumivane {

std::string VisibleText(std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 32 && byte != 127) {
            out += c;
            continue;
        }
        switch (c) {
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

std::string QuotedLine(std::string_view line)
{
    // Characters, not bytes: a UTF-8 continuation byte (10xxxxxx) belongs
    // to the character before it.
    std::size_t characters = 0;
    std::size_t end = 0;
    for (; end < line.size(); ++end) {
        const bool continuation = (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80;
        if (!continuation && ++characters > kQuotedLineLimit)
            break;
    }
    std::string out = VisibleText(line.substr(0, end));
    if (end < line.size())
        out += "...";
    return out;
}

} // namespace lumivane
