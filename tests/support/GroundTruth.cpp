// SPDX-License-Identifier: GPL-3.0-or-later
#include "GroundTruth.h"

#include "BatchRunner.h"
#include "TestOracles.h"

#include <lensfun.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace lumivane::truth {

namespace {

double cos4(double r, int)
{
    // cos^4 of the angle off axis, the focal length two half-diagonals.
    const double t = 1 + (r / 2) * (r / 2);
    return 1 / (t * t);
}

double polynomial(double r, int)
{
    const double r2 = r * r;
    return 1 - 0.67 * r2 + 0.06 * r2 * r2 + 0.02 * r2 * r2 * r2;
}

double wideOpenZoom(double r, int)
{
    const double r2 = r * r;
    return 1 - 2.13 * r2 + 2.66 * r2 * r2 - 1.28 * r2 * r2 * r2;
}

double colourShift(double r, int channel)
{
    // Blue, green, red: red loses 1.2 EV in the corners, blue 0.8 EV.
    static const double loss[3] = {0.42, 0.48, 0.56};
    const double r2 = r * r;
    return 1 - loss[channel] * r2 * (1.2 - 0.2 * r2);
}

std::uint8_t codeOf(double linear)
{
    return std::uint8_t(std::nearbyint(SrgbCodeOfLinear(linear)));
}

} // namespace

const std::vector<Falloff>& StandardFalloffs()
{
    static const std::vector<Falloff> falloffs = {
        {"cos4", cos4}, {"poly", polynomial}, {"zoom", wideOpenZoom}, {"tinted", colourShift}};
    return falloffs;
}

double RadiusOf(int x, int y, int width, int height)
{
    const double dx = x + 0.5 - width / 2.0, dy = y + 0.5 - height / 2.0;
    return std::hypot(dx, dy) / std::hypot(width / 2.0, height / 2.0);
}

Scene MakeScene(int width, int height, unsigned seed)
{
    Scene scene;
    scene.width = width;
    scene.height = height;
    scene.linear.resize(std::size_t(width) * std::size_t(height) * 3);
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    // About 24 x 16 patches whatever the size.
    const int cell = std::max(4, std::min(width / 24, height / 16));
    const int columns = (width + cell - 1) / cell, rows = (height + cell - 1) / cell;
    struct Patch {
        double level, tint[3];
        int kind; // 0 plain, 1 hard diagonal edge, 2 fine texture
    };
    std::vector<Patch> patches(std::size_t(columns) * std::size_t(rows));
    for (Patch& p : patches) {
        p.level = 0.002 * std::pow(0.9 / 0.002, unit(random)); // log-uniform: deep shadow to near white
        const bool tinted = unit(random) < 0.3;
        for (double& t : p.tint)
            t = tinted ? 0.6 + 0.5 * unit(random) : 1.0;
        p.kind = int(unit(random) * 3);
    }
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Patch& p = patches[std::size_t(y / cell) * std::size_t(columns) + std::size_t(x / cell)];
            double level = p.level;
            if (p.kind == 1 && (x % cell) > (y % cell))
                level *= 0.25;
            else if (p.kind == 2)
                level *= 1 + 0.3 * std::sin(x * 2.1) * std::cos(y * 1.3) + 0.1 * ((x + y) % 2 ? 1 : -1);
            float* out = scene.linear.data() + (std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3;
            for (int c = 0; c < 3; ++c)
                out[c] = float(std::min(level * p.tint[c], 0.95));
        }
    return scene;
}

Bitmap24 Photograph(const Scene& scene, const Falloff& falloff)
{
    Bitmap24 photo(scene.width, scene.height);
    for (int y = 0; y < scene.height; ++y)
        for (int x = 0; x < scene.width; ++x) {
            const double r = RadiusOf(x, y, scene.width, scene.height);
            const float* in = scene.pixel(x, y);
            std::uint8_t* out = photo.scanLine(y) + 3 * x;
            for (int c = 0; c < 3; ++c)
                out[c] = codeOf(in[c] * falloff.transmission(r, c));
        }
    return photo;
}

Bitmap24 PhotographThroughProfile(const Scene& scene, const LensProfile& profile)
{
    std::vector<float> linear = scene.linear;
    lfModifier modifier(profile.lens, float(profile.cropFactor), scene.width, scene.height);
    modifier.Initialize(profile.lens, LF_PF_F32, float(profile.focalLength), float(profile.fNumber),
                        float(profile.distance), 1.0f, profile.lens->Type, LF_MODIFY_VIGNETTING, true);
    const std::size_t rowFloats = std::size_t(scene.width) * 3;
    for (int y = 0; y < scene.height; ++y)
        modifier.ApplyColorModification(linear.data() + std::size_t(y) * rowFloats, 0.0f, float(y), scene.width, 1,
                                        LF_CR_3(BLUE, GREEN, RED), int(rowFloats * sizeof(float)));
    Bitmap24 photo(scene.width, scene.height);
    for (int y = 0; y < scene.height; ++y)
        for (std::size_t i = 0; i < rowFloats; ++i)
            photo.scanLine(y)[i] = codeOf(linear[std::size_t(y) * rowFloats + i]);
    return photo;
}

Bitmap24 FlatField(int width, int height, const Falloff& falloff, int centreCode)
{
    const double card = SrgbLinearOfCode(centreCode);
    Bitmap24 mask(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double r = RadiusOf(x, y, width, height);
            for (int c = 0; c < 3; ++c)
                mask.scanLine(y)[3 * x + c] = codeOf(card * falloff.transmission(r, c));
        }
    return mask;
}

Score ScoreCorrection(const Scene& truth, const Bitmap24& corrected)
{
    constexpr int kRings = 10;
    double ringOut[kRings][3] = {}, ringTruth[kRings][3] = {};
    double shadowOut[3] = {}, shadowTruth[3] = {};
    double squares = 0;
    for (int y = 0; y < truth.height; ++y)
        for (int x = 0; x < truth.width; ++x) {
            const double r = RadiusOf(x, y, truth.width, truth.height);
            const int ring = std::min(int(r * kRings), kRings - 1);
            const float* t = truth.pixel(x, y);
            const std::uint8_t* o = corrected.scanLine(y) + 3 * x;
            for (int c = 0; c < 3; ++c) {
                const double out = SrgbLinearOfCode(o[c]);
                ringOut[ring][c] += out;
                ringTruth[ring][c] += t[c];
                if (r > 0.8 && t[c] < 0.03) {
                    shadowOut[c] += out;
                    shadowTruth[c] += t[c];
                }
                const double d = o[c] - SrgbCodeOfLinear(t[c]);
                squares += d * d;
            }
        }
    auto ev = [](const double* out, const double* want) {
        double sum = 0;
        for (int c = 0; c < 3; ++c)
            sum += std::log2(out[c] / want[c]);
        return sum / 3;
    };
    Score score;
    for (int ring = 0; ring < kRings; ++ring) {
        const double e = ev(ringOut[ring], ringTruth[ring]);
        if (std::fabs(e) > std::fabs(score.worstRingEv))
            score.worstRingEv = e;
    }
    score.cornerShadowEv = ev(shadowOut, shadowTruth);
    score.rmsCodes = std::sqrt(squares / (3.0 * truth.width * truth.height));
    return score;
}

Bitmap24 CorrectInProcess(const Bitmap24& photo, const Bitmap24& mask, CorrectionMode mode, int strength)
{
    const HotspotLevels levels = PanelLevelsAt(mask, 160, 120);
    const CorrectionTargets targets = TargetsFor(levels.r, levels.g, levels.b, 25);
    Bitmap24 out = photo;
    ApplyCorrection(out, mask, FullSizeRegion(0, 0, photo.width(), photo.height()), DampingForStrength(strength),
                    targets, mode);
    return out;
}

} // namespace lumivane::truth
