// SPDX-License-Identifier: GPL-3.0-or-later
#include "SyntheticPictures.h"

#include <algorithm>
#include <cstdint>

namespace lumivane::test_support {

namespace {

std::uint8_t clampByte(int v)
{
    return std::uint8_t(std::clamp(v, 0, 255));
}

} // namespace

Bitmap24 GradientPicture(int width, int height, int seed)
{
    Bitmap24 b(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            b.setPixel(x, y, packColour(std::uint8_t(x * 7 + seed), std::uint8_t(y * 5 + 40 + seed),
                                        std::uint8_t((x + y) * 3 + 90)));
    return b;
}

Bitmap24 GrainyPhoto(int width, int height, unsigned seed)
{
    Bitmap24 photo(width, height);
    unsigned state = seed * 2654435761u + 7;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = photo.scanLine(y);
        for (int x = 0; x < width; ++x) {
            state = state * 1103515245u + 12345u;
            const int grain = int((state >> 27) & 15) - 8;
            row[3 * x + 0] = clampByte(x * 255 / width + grain);
            row[3 * x + 1] = clampByte(y * 255 / height + grain);
            row[3 * x + 2] = clampByte(60 + ((x / 5 + y / 7) % 9) * 20 + grain);
        }
    }
    return photo;
}

Bitmap24 VignetteMask(int width, int height, int centreR, int centreG, int centreB)
{
    Bitmap24 b(width, height);
    const double cx = (width - 1) / 2.0, cy = (height - 1) / 2.0, maxD = cx * cx + cy * cy + 1;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double f = 1.0 - 0.5 * ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / maxD;
            b.setPixel(x, y,
                       packColour(std::uint8_t(centreR * f), std::uint8_t(centreG * f), std::uint8_t(centreB * f)));
        }
    return b;
}

Bitmap24 FalloffMask(int width, int height)
{
    Bitmap24 mask(width, height);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = mask.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const double dx = (x - width / 2.0) / width, dy = (y - height / 2.0) / height;
            const double r2 = dx * dx + dy * dy;
            row[3 * x + 0] = clampByte(int(220 - 150 * r2));
            row[3 * x + 1] = clampByte(int(230 - 190 * r2));
            row[3 * x + 2] = clampByte(int(240 - 230 * r2));
        }
    }
    return mask;
}

Bitmap24 GreyFalloffMask(int width, int height, int centre)
{
    Bitmap24 b(width, height);
    const double cx = width / 2.0, cy = height / 2.0, d2 = cx * cx + cy * cy;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double f = 1 - 0.4 * ((x + 0.5 - cx) * (x + 0.5 - cx) + (y + 0.5 - cy) * (y + 0.5 - cy)) / d2;
            const auto v = std::uint8_t(centre * f);
            b.setPixel(x, y, packColour(v, v, v));
        }
    return b;
}

Bitmap24 FlatPicture(int width, int height, int level)
{
    Bitmap24 b(width, height);
    b.fill(packColour(std::uint8_t(level), std::uint8_t(level), std::uint8_t(level)));
    return b;
}

} // namespace lumivane::test_support
