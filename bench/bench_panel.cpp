// SPDX-License-Identifier: GPL-3.0-or-later
// Opening the mask adjustment panel: the 24-megapixel mask stretched to the
// kPanelWidth x kPanelHeight panel, the brightness zones painted and the centre lines drawn.
#include "BenchUtil.h"

#include "Bitmap24.h"
#include "MaskGeometry.h"
#include "ViewSizes.h"

#include <cstdint>

using namespace lumivane;

int main()
{
    Bitmap24 mask(bench::pick(6000, 600), bench::pick(4000, 400));
    for (int y = 0; y < mask.height(); ++y) {
        std::uint8_t* row = mask.scanLine(y);
        const double dy = (y - mask.height() / 2.0) / mask.height();
        for (int x = 0; x < mask.width(); ++x) {
            const double dx = (x - mask.width() / 2.0) / mask.width();
            const double level = 240.0 - 260.0 * (dx * dx + dy * dy);
            row[3 * x] = std::uint8_t(level - 25);
            row[3 * x + 1] = std::uint8_t(level - 12);
            row[3 * x + 2] = std::uint8_t(level);
        }
    }
    Bitmap24 panelMask(kPanelWidth, kPanelHeight);
    Bitmap24 picture(kPanelWidth, kPanelHeight);
    const double ms = bench::medianMs(51, [&] {
        panelMask.reset(kPanelWidth, kPanelHeight);
        stretchDraw(mask, panelMask);
        draw(panelMask, picture, 0, 0);
        PaintBrightnessZones(panelMask, picture);
        DrawCentreLines(picture);
        bench::keep(picture.data()[0]);
    });
    bench::figure("panel_open_ms", ms, "ms");
    return 0;
}
