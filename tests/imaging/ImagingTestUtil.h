// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers shared by the imaging tests: a scratch folder, recognisable
// pictures and pixel comparison.
#pragma once

#include "Bitmap24.h"
#include "TemporaryFolder.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace lumivane::testing {

// The tests' temporary folder, by the name these tests know it.
using ScratchDir = lumivane::test_support::TemporaryFolder;

// Every pixel different from its neighbours and from its mirror images, so
// a wrong position or a swapped channel shows.
inline Bitmap24 patternBitmap(int width, int height)
{
    Bitmap24 b(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            b.setPixel(x, y, packColour(std::uint8_t(x * 7 + 1), std::uint8_t(y * 13 + 2), std::uint8_t(x * 3 + y * 5 + 3)));
    return b;
}

// A smooth picture that survives lossy compression with small errors.
// Storage left over from an earlier picture: larger than asked for and of
// a colour no decoder produces by itself here, so any pixel a decoder fails
// to write shows.
inline Bitmap24 usedBitmap(int width, int height)
{
    Bitmap24 b(width, height);
    b.fill(packColour(0x12, 0x34, 0x56));
    return b;
}

inline Bitmap24 gradientBitmap(int width, int height)
{
    Bitmap24 b(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            b.setPixel(x, y, packColour(std::uint8_t(40 + x * 160 / width), std::uint8_t(60 + y * 120 / height),
                                        std::uint8_t(90 + (x + y) * 80 / (width + height))));
    return b;
}

// Largest difference of any channel of any pixel; sizes must agree.
inline int maxDifference(const Bitmap24& a, const Bitmap24& b)
{
    if (a.width() != b.width() || a.height() != b.height())
        return 1 << 20;
    int worst = 0;
    for (std::size_t i = 0; i < a.byteCount(); ++i)
        worst = std::max(worst, std::abs(int(a.data()[i]) - int(b.data()[i])));
    return worst;
}

inline void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<std::string> filesIn(const std::string& folder, const std::string& extension)
{
    std::vector<std::string> result;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == extension)
            result.push_back(entry.path().string());
    std::sort(result.begin(), result.end());
    return result;
}

} // namespace lumivane::testing
