// SPDX-License-Identifier: GPL-3.0-or-later
// The before/after window on a 24-megapixel photograph at 1200 x 800:
// opening it, and one slider step (new picture and curves, painted).
//
// The photograph is a smooth random texture with noise and the mask a
// smooth radial fall-off, both 6000 x 4000, encoded as the camera files
// would be (JPEG quality 92 and 95, 4:2:0) and decoded the way the program
// decodes them.
#include "BenchUtil.h"

#include "BeforeAfterForm.h"
#include "CorrectionKernel.h"
#include "JpegCodec.h"
#include "ReducedView.h"

#include <QApplication>
#include <chrono>
#include <cmath>
#include <memory>

using namespace lumivane;

namespace {

const int kWidth = bench::pick(6000, 600);
const int kHeight = bench::pick(4000, 400);

// Bilinear interpolation of a coarse random grid (one knot every 150
// pixels) plus per-pixel noise of +-12.
Bitmap24 texturePhoto()
{
    constexpr int kStep = 150;
    const int gw = kWidth / kStep + 2, gh = kHeight / kStep + 2;
    std::vector<float> knots(std::size_t(gw * gh * 3));
    unsigned state = 12345;
    auto next = [&] {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    };
    for (float& k : knots)
        k = 30.0f + float(next() % 190);
    Bitmap24 b(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* row = b.scanLine(y);
        const int gy = y / kStep;
        const float fy = float(y % kStep) / kStep;
        for (int x = 0; x < kWidth; ++x) {
            const int gx = x / kStep;
            const float fx = float(x % kStep) / kStep;
            for (int c = 0; c < 3; ++c) {
                auto at = [&](int i, int j) { return knots[std::size_t(((j * gw) + i) * 3 + c)]; };
                const float v = (1 - fy) * ((1 - fx) * at(gx, gy) + fx * at(gx + 1, gy)) +
                                fy * ((1 - fx) * at(gx, gy + 1) + fx * at(gx + 1, gy + 1));
                const int noise = int(next() % 25) - 12;
                row[3 * x + c] = std::uint8_t(std::clamp(int(v) + noise, 0, 255));
            }
        }
    }
    return b;
}

Bitmap24 radialMask()
{
    Bitmap24 b(kWidth, kHeight);
    const double hd = std::hypot(kWidth / 2.0, kHeight / 2.0);
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* row = b.scanLine(y);
        for (int x = 0; x < kWidth; ++x) {
            const double r = std::hypot(x + 0.5 - kWidth / 2.0, y + 0.5 - kHeight / 2.0) / hd;
            const double f = 1 - 0.5 * r * r;
            row[3 * x + 0] = std::uint8_t(215 * f);
            row[3 * x + 1] = std::uint8_t(225 * f);
            row[3 * x + 2] = std::uint8_t(232 * f);
        }
    }
    return b;
}

Bitmap24 throughJpeg(const Bitmap24& image, int quality, bool smoothing)
{
    TJPEGImage decoder;
    decoder.LoadFromBytes(EncodeJpeg(image, quality));
    decoder.Smoothing = smoothing;
    return decoder.Decode();
}

double msSince(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const Bitmap24 photo = throughJpeg(texturePhoto(), 92, false);
    const Bitmap24 mask = throughJpeg(radialMask(), 95, true);

    BeforeAfterInput input;
    input.photo = &photo;
    input.maskFull = &mask;
    input.region = FullSizeRegion(4, -3, kWidth, kHeight);
    input.damping = DampingForStrength(50);
    input.targets = TargetsFor(232, 225, 215, 25);
    input.crop = CropMargins{100, 80, 60, 40};

    // Opening: the window made, laid out, the reduced copy and the curves
    // computed and everything painted. The first opening in this process
    // is the one a user waits for.
    auto open = [&] {
        auto window = std::make_unique<TBeforeAfterForm>();
        window->resize(1200, 800);
        window->setInput(input);
        window->show();
        window->repaint();
        return window;
    };
    const auto t0 = std::chrono::steady_clock::now();
    std::unique_ptr<TBeforeAfterForm> window = open();
    const double firstOpen = msSince(t0);
    if (window->view().empty() || window->view().afterProfile.empty()) {
        std::fprintf(stderr, "the view was not made\n");
        return 1;
    }
    window.reset();
    const double warmOpen = bench::medianMs(5, [&] { open().reset(); });

    // A slider step: new damping, new picture and curves, painted.
    window = open();
    int strength = 50;
    const double update = bench::medianMs(21, [&] {
        strength = strength == 50 ? 51 : 50;
        input.damping = DampingForStrength(strength);
        window->setInput(input);
        window->repaint();
    });
    const QSize shown(window->view().before.width(), window->view().before.height());

    ReducedView view;
    const double build = bench::medianMs(21, [&] { BuildReducedView(input, shown.width(), shown.height(), view); });

    std::printf("view of %dx%d pixels in a 1200x800 window\n", shown.width(), shown.height());
    bench::figure("large_view_open_ms", firstOpen, "ms");
    bench::figure("large_view_open_warm_ms", warmOpen, "ms");
    bench::figure("large_view_update_ms", update, "ms");
    bench::figure("large_view_build_ms", build, "ms");
    return 0;
}
