// SPDX-License-Identifier: GPL-3.0-or-later
// The 24-megapixel test files every whole-program benchmark works on, made
// the same way each time from a fixed seed: a photograph with a smooth
// random texture plus fine noise (real photographs are neither flat nor
// pure noise) and a flat-field mask with a smooth radial fall-off.
#pragma once

#include "BenchUtil.h"
#include "Bitmap24.h"

#include <string>

namespace bench {

// Small in a smoke run.
inline const int kFileWidth = pick(6000, 600);
inline const int kFileHeight = pick(4000, 400);

// Smooth random texture plus per-pixel noise, width x height.
lumivane::Bitmap24 texturedPhoto(int width, int height, unsigned seed);
// Bright centre falling off smoothly to about half at the corners.
lumivane::Bitmap24 radialMask(int width, int height);

struct BenchFiles {
    std::string folder;
    std::string photo; // 6000 x 4000 JPEG, quality 92, 4:2:0
    std::string mask;  // 6000 x 4000 JPEG, quality 95, 4:2:0
};

// Writes both files into a new folder under the system's temporary folder.
BenchFiles writeBenchFiles();
// Deletes the files and their folder.
void removeBenchFiles(const BenchFiles& files);

} // namespace bench
