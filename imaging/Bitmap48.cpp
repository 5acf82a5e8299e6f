// SPDX-License-Identifier: GPL-3.0-or-later
#include "Bitmap48.h"

#include <algorithm>
#include <cstring>

namespace lumivane {

void stretchDraw(const Bitmap48& source, Bitmap48& dest)
{
    if (source.empty() || dest.empty())
        return;
    std::vector<std::size_t> columns(std::size_t(dest.width()));
    for (int x = 0; x < dest.width(); ++x)
        columns[std::size_t(x)] = std::size_t(stretchSourceIndex(x, source.width(), dest.width())) * 3;
    int lastSy = -1;
    for (int y = 0; y < dest.height(); ++y) {
        const int sy = int(stretchSourceIndex(y, source.height(), dest.height()));
        std::uint16_t* out = dest.row(y);
        if (sy == lastSy) {
            std::memcpy(out, dest.row(y - 1), dest.rowValues() * sizeof(std::uint16_t));
            continue;
        }
        lastSy = sy;
        const std::uint16_t* in = source.row(sy);
        for (std::size_t i = 0; i < columns.size(); ++i)
            std::copy_n(in + columns[i], 3, out + 3 * i);
    }
}

void Rotate90Into(int angle, const Bitmap48& source, Bitmap48& dest)
{
    if (angle < 0 || angle % 90 != 0)
        throw BitmapError("Rotate90:  Angle not positive multiple of 90 degrees");
    const int q = (angle / 90) % 4;
    const int W = source.width(), H = source.height();
    if (q % 2 == 0)
        dest.setSizeForOverwrite(W, H);
    else
        dest.setSizeForOverwrite(H, W);
    // Source pixel S(x, y) lands at D(x, y), D(y, W-1-x), D(W-1-x, H-1-y)
    // or D(H-1-y, x) for 0, 90, 180 and 270 degrees.
    for (int y = 0; y < H; ++y) {
        const std::uint16_t* in = source.row(y);
        for (int x = 0; x < W; ++x, in += 3) {
            int dx = x, dy = y;
            switch (q) {
            case 1: dx = y; dy = W - 1 - x; break;
            case 2: dx = W - 1 - x; dy = H - 1 - y; break;
            case 3: dx = H - 1 - y; dy = x; break;
            default: break;
            }
            std::copy_n(in, 3, dest.row(dy) + std::size_t(dx) * 3);
        }
    }
}

} // namespace lumivane
