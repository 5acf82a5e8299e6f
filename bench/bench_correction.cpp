// SPDX-License-Identifier: GPL-3.0-or-later
// Speed of the correction kernel: the preview pass that runs on every
// slider step and keystroke, and the full-size pass of a save, compared
// with the time it takes merely to stream the same bytes through memory.
// The exact method (division in linear light) beside the additive one:
//
//   figure exact_preview_pass_ms          preview size, fall-off and colour, a
//                                         new target every call (its tables
//                                         built from the formula)
//   figure exact_preview_pass_cached_ms   the same target again
//   figure exact_full_pass_vs_additive    24 MP, fall-off and colour, tables
//                                         built, / the additive pass, same
//                                         run and threads
//   figure exact_luma_full_pass_vs_additive   the same for fall-off only (a
//                                         gain per pixel)
//   figure exact_colour_full_pass_vs_additive the same for colour only
//   figure exact_luma_grainy_mask_vs_additive, exact_colour_grainy_mask_vs_additive
//                                         the same two against a mask with
//                                         grain of +-3 codes in every byte,
//                                         where few neighbouring mask pixels
//                                         repeat (the worst case for the gain
//                                         per pixel)
#include "BenchUtil.h"

#include <chrono>
#include <cmath>

#include "Bitmap24.h"
#include "CorrectionKernel.h"
#include "ViewSizes.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace lumivane;

namespace {

Bitmap24 noise(int w, int h, std::uint32_t seed)
{
    Bitmap24 bmp(w, h);
    std::uint32_t s = seed;
    for (std::size_t i = 0; i < bmp.byteCount(); ++i) {
        s = s * 1664525u + 1013904223u;
        bmp.data()[i] = std::uint8_t(s >> 24);
    }
    return bmp;
}

// A photograph-like picture: broad smooth shapes with a little grain, as a
// camera delivers, rather than uniform noise whose every byte is random.
Bitmap24 photoLike(int w, int h, std::uint32_t seed)
{
    Bitmap24 bmp(w, h);
    std::uint32_t s = seed;
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = bmp.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const double shape = 110.0 * std::sin(x / 310.0) * std::cos(y / 190.0) + 40.0 * std::sin((x + y) / 57.0);
            for (int c = 0; c < 3; ++c) {
                s = s * 1664525u + 1013904223u;
                const double grain = double(s >> 28) - 7.5; // -7.5 .. 7.5
                row[3 * x + c] = std::uint8_t(std::clamp(128.0 + shape + 12.0 * c + grain, 0.0, 255.0));
            }
        }
    }
    return bmp;
}

// A mask with a smooth fall-off towards the corners, like a real one.
Bitmap24 vignetteMask(int w, int h)
{
    Bitmap24 bmp(w, h);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = bmp.scanLine(y);
        const double dy = (y - h / 2.0) / h;
        for (int x = 0; x < w; ++x) {
            const double dx = (x - w / 2.0) / w;
            const double level = 230.0 - 260.0 * (dx * dx + dy * dy);
            row[3 * x] = std::uint8_t(level - 20);
            row[3 * x + 1] = std::uint8_t(level - 10);
            row[3 * x + 2] = std::uint8_t(level);
        }
    }
    return bmp;
}

// The same mask with grain of -3 .. 3 codes in every byte.
Bitmap24 grainyVignetteMask(int w, int h)
{
    Bitmap24 bmp = vignetteMask(w, h);
    std::uint32_t s = 5;
    for (std::size_t i = 0; i < bmp.byteCount(); ++i) {
        s = s * 1664525u + 1013904223u;
        bmp.data()[i] = std::uint8_t(std::clamp(int(bmp.data()[i]) + int((s >> 24) % 7) - 3, 0, 255));
    }
    return bmp;
}

// Streams the bytes the kernel touches, with the same row split across the
// same number of threads: each photograph row and mask row is read into a
// small scratch row (cache resident) and the photograph row is written back.
// That is exactly the kernel's memory traffic (read photo, read mask, write
// photo) without its lookups; three whole-image memcpy calls would instead
// move twice the bytes through a full-size scratch buffer and so flatter
// the kernel.
void streamSameBytes(Bitmap24& photo, const Bitmap24& mask, int threads)
{
    const int rows = photo.height();
    const std::size_t rowBytes = photo.rowBytes();
    auto band = [&](int i) {
        std::vector<std::uint8_t> a(rowBytes), b(rowBytes);
        for (int y = rows * i / threads; y < rows * (i + 1) / threads; ++y) {
            std::memcpy(a.data(), photo.data() + rowBytes * std::size_t(y), rowBytes);
            std::memcpy(b.data(), mask.data() + rowBytes * std::size_t(y), rowBytes);
            bench::keep(b[rowBytes / 2]);
            std::memcpy(photo.data() + rowBytes * std::size_t(y), a.data(), rowBytes);
        }
    };
    std::vector<std::thread> workers;
    for (int i = 1; i < threads; ++i)
        workers.emplace_back(band, i);
    band(0);
    for (auto& w : workers)
        w.join();
}

} // namespace

int main()
{
    const CorrectionTargets targets = TargetsFor(205, 198, 186, 31);

    // Preview: photo and mask of the previews' size.
    const Bitmap24 previewSource = noise(kPreviewWidth, kPreviewHeight, 1);
    const Bitmap24 previewMask = vignetteMask(kPreviewWidth, kPreviewHeight);
    Bitmap24 preview = previewSource;

    // Every call with a damping not among the kept tables: the per-call cost
    // when the strength slider moves, tables built from the exact formula
    // for the three targets.
    int strength = 0;
    const double newDamping = bench::medianMs(201, [&] {
        preview = previewSource;
        strength = (strength + 7) % 101;
        ApplyCorrection(preview, previewMask, {}, DampingForStrength(strength), targets);
    });
    bench::figure("preview_pass_ms", newDamping, "ms");

    // Same, after dropping every kept table (fresh memory each time).
    const double cold = bench::medianMs(101, [&] {
        preview = previewSource;
        ClearCorrectionTables();
        ApplyCorrection(preview, previewMask, {}, DampingForStrength(40), targets);
    });
    bench::figure("preview_pass_cold_ms", cold, "ms");

    // Brightness or crop changes: same damping, tables reused.
    const double cached = bench::medianMs(201, [&] {
        preview = previewSource;
        ApplyCorrection(preview, previewMask, {}, DampingForStrength(40), targets);
    });
    bench::figure("preview_pass_cached_ms", cached, "ms");

    // The exact method: brightness moves the targets, so each step builds the
    // tables of new targets; the tables of recent targets are kept.
    const CorrectionMode exactMode{CorrectionMethod::Exact, ColourOption::FalloffAndColour};
    int shift = 0;
    const double exactNew = bench::medianMs(201, [&] {
        preview = previewSource;
        shift = (shift + 1) % 50;
        ApplyCorrection(preview, previewMask, {}, 1.0f, TargetsFor(205, 198, 186, shift), exactMode);
    });
    bench::figure("exact_preview_pass_ms", exactNew, "ms");
    const double exactCached = bench::medianMs(201, [&] {
        preview = previewSource;
        ApplyCorrection(preview, previewMask, {}, 1.0f, targets, exactMode);
    });
    bench::figure("exact_preview_pass_cached_ms", exactCached, "ms");

    // Full size: 6000 x 4000 (24 megapixels), a photograph-like picture; the
    // worst case, uniform noise in every byte, is reported beside it. Every
    // timed pass starts from the same unprocessed photograph (restored
    // outside the timing): passes over an already corrected photograph would
    // see ever more clamped, cache-friendlier values and flatter the kernel.
    const int width = bench::pick(6000, 600), height = bench::pick(4000, 400);
    Bitmap24 photoSource = photoLike(width, height, 2);
    Bitmap24 photo = photoSource;
    const Bitmap24 mask = vignetteMask(width, height);
    const int threads = int(std::min(std::thread::hardware_concurrency(), 8u));
    auto timedPass = [&](int passThreads) {
        std::vector<double> times;
        for (int run = 0; run < bench::pick(8, 2); ++run) {
            photo = photoSource;
            const auto t0 = std::chrono::steady_clock::now();
            ApplyCorrection(photo, mask, {}, DampingForStrength(60), targets, passThreads);
            const auto t1 = std::chrono::steady_clock::now();
            if (run > 0) // the first run warms the tables and caches
                times.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        }
        std::sort(times.begin(), times.end());
        return times[times.size() / 2];
    };
    const double full = timedPass(0);
    bench::figure("full_pass_ms", full, "ms");
    const double copy = bench::medianMs(7, [&] { streamSameBytes(photo, mask, std::max(threads, 1)); });
    bench::figure("full_pass_copy_ms", copy, "ms");
    bench::figure("full_pass_vs_copy", full / copy, "x");

    const double single = timedPass(1);
    bench::figure("full_pass_one_thread_ms", single, "ms");

    // The exact method, interleaved with the additive pass so both see the
    // same machine state.
    auto exactPass = [&](ColourOption colour, double& additiveMs, const Bitmap24& mask) {
        const CorrectionMode mode{CorrectionMethod::Exact, colour};
        std::vector<double> exact, additive;
        for (int run = 0; run < bench::pick(8, 2); ++run) {
            photo = photoSource;
            auto t0 = std::chrono::steady_clock::now();
            ApplyCorrection(photo, mask, {}, DampingForStrength(60), targets, mode);
            auto t1 = std::chrono::steady_clock::now();
            if (run > 0)
                exact.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
            photo = photoSource;
            t0 = std::chrono::steady_clock::now();
            ApplyCorrection(photo, mask, {}, DampingForStrength(60), targets);
            t1 = std::chrono::steady_clock::now();
            if (run > 0)
                additive.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        }
        std::sort(exact.begin(), exact.end());
        std::sort(additive.begin(), additive.end());
        additiveMs = additive[additive.size() / 2];
        return exact[exact.size() / 2];
    };
    struct ExactFigure {
        ColourOption colour;
        const char* name;
    };
    for (const ExactFigure& f : {ExactFigure{ColourOption::FalloffAndColour, "exact"},
                                 ExactFigure{ColourOption::FalloffOnly, "exact_luma"},
                                 ExactFigure{ColourOption::ColourOnly, "exact_colour"}}) {
        double additiveMs = 0;
        const double exactMs = exactPass(f.colour, additiveMs, mask);
        bench::figure(std::string(f.name) + "_full_pass_ms", exactMs, "ms");
        bench::figure(std::string(f.name) + "_full_pass_vs_additive", exactMs / additiveMs, "x");
    }
    const Bitmap24 grainyMask = grainyVignetteMask(width, height);
    for (const ExactFigure& f : {ExactFigure{ColourOption::FalloffOnly, "exact_luma"},
                                 ExactFigure{ColourOption::ColourOnly, "exact_colour"}}) {
        double additiveMs = 0;
        const double exactMs = exactPass(f.colour, additiveMs, grainyMask);
        bench::figure(std::string(f.name) + "_grainy_mask_vs_additive", exactMs / additiveMs, "x");
    }

    photoSource = noise(width, height, 2);
    const double noisy = timedPass(0);
    bench::figure("full_pass_noise_ms", noisy, "ms");
    bench::figure("full_pass_noise_vs_copy", noisy / copy, "x");
    return 0;
}
