// SPDX-License-Identifier: GPL-3.0-or-later
#include "BenchFiles.h"

#include "FileIO.h"
#include "JpegCodec.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace bench {

namespace {

// A small, fully specified generator, so the files are the same on every
// machine and with every standard library.
class SplitMix {
public:
    explicit SplitMix(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next()
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1).
    double unit() { return double(next() >> 11) * (1.0 / 9007199254740992.0); }

private:
    std::uint64_t state_;
};

// Value noise: random levels on a coarse lattice, interpolated with a
// smooth step between lattice points.
class ValueNoise {
public:
    ValueNoise(int width, int height, int cell, SplitMix& random)
        : cell_(cell), columns_(width / cell + 2), rows_(height / cell + 2),
          levels_(std::size_t(columns_) * std::size_t(rows_))
    {
        for (double& level : levels_)
            level = random.unit();
    }
    double at(int x, int y) const
    {
        const int cx = x / cell_, cy = y / cell_;
        const double fx = smooth(double(x % cell_) / cell_), fy = smooth(double(y % cell_) / cell_);
        const double top = lerp(level(cx, cy), level(cx + 1, cy), fx);
        const double bottom = lerp(level(cx, cy + 1), level(cx + 1, cy + 1), fx);
        return lerp(top, bottom, fy);
    }

private:
    static double smooth(double t) { return t * t * (3 - 2 * t); }
    static double lerp(double a, double b, double t) { return a + (b - a) * t; }
    double level(int cx, int cy) const { return levels_[std::size_t(cy) * std::size_t(columns_) + std::size_t(cx)]; }

    int cell_;
    int columns_;
    int rows_;
    std::vector<double> levels_;
};

std::uint8_t clampByte(double v)
{
    return std::uint8_t(v < 0 ? 0 : v > 255 ? 255 : std::lround(v));
}

} // namespace

lumivane::Bitmap24 texturedPhoto(int width, int height, unsigned seed)
{
    SplitMix random(seed);
    // Three octaves per channel: broad areas, objects, fine structure.
    std::vector<ValueNoise> octaves;
    for (int channel = 0; channel < 3; ++channel)
        for (int cell : {512, 96, 16})
            octaves.emplace_back(width, height, cell, random);
    lumivane::Bitmap24 image(width, height);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            // One noise draw a pixel, split into three small deviations.
            const std::uint64_t n = random.next();
            for (int channel = 0; channel < 3; ++channel) {
                const ValueNoise* o = &octaves[std::size_t(channel) * 3];
                const double base = 150 * o[0].at(x, y) + 70 * o[1].at(x, y) + 30 * o[2].at(x, y);
                const double noise = double((n >> (16 * channel)) & 0xFF) / 16.0 - 8.0;
                row[3 * x + channel] = clampByte(base + noise);
            }
        }
    }
    return image;
}

lumivane::Bitmap24 radialMask(int width, int height)
{
    lumivane::Bitmap24 image(width, height);
    const double cx = (width - 1) / 2.0, cy = (height - 1) / 2.0;
    const double corner = cx * cx + cy * cy;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const double d = ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / corner;
            const double f = 1.0 - 0.5 * d * (1.2 - 0.2 * d);
            row[3 * x] = clampByte(228 * f);
            row[3 * x + 1] = clampByte(236 * f);
            row[3 * x + 2] = clampByte(240 * f);
        }
    }
    return image;
}

BenchFiles writeBenchFiles()
{
    char folder[] = "/tmp/lumivane-bench-XXXXXX";
    if (!::mkdtemp(folder))
        throw std::runtime_error("cannot create a temporary folder for the benchmark files");
    BenchFiles files;
    files.folder = folder;
    files.photo = files.folder + "/photo.jpg";
    files.mask = files.folder + "/mask.jpg";
    // libjpeg's defaults subsample the colour channels 2 x 2 (4:2:0).
    lumivane::WriteFileAtomically(files.photo, lumivane::EncodeJpeg(texturedPhoto(kFileWidth, kFileHeight, 20261208u), 92));
    lumivane::WriteFileAtomically(files.mask, lumivane::EncodeJpeg(radialMask(kFileWidth, kFileHeight), 95));
    return files;
}

void removeBenchFiles(const BenchFiles& files)
{
    std::remove(files.photo.c_str());
    std::remove(files.mask.c_str());
    ::rmdir(files.folder.c_str());
}

} // namespace bench
