// SPDX-License-Identifier: GPL-3.0-or-later
// Whole-file helpers for the tests: plain stream reads and writes,
// independent of the program's own file code they test. A file that cannot
// be read reads as empty. The temporary folder is TemporaryFolder.h's.
#pragma once

#include "TemporaryFolder.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace lumivane::testfiles {

using Bytes = std::vector<std::uint8_t>;

inline Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

} // namespace lumivane::testfiles
