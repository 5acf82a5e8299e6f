// SPDX-License-Identifier: GPL-3.0-or-later
// Plain, step-by-step versions of work the program does in one pass, kept
// for tests and benchmarks to compare the program's files against. None of
// this is linked into the program.
#pragma once

#include "Bitmap24.h"
#include "CorrectionKernel.h"
#include "ExifTransplant.h"

#include <cstdint>
#include <string>

namespace lumivane {

// The EXIF transplant as a step on a file already written: puts the first
// APP1 section of `sourceFile` in front of the JPEG at `outPath` in place of
// its 20-byte encoder head, following the transplant's rules literally
// (SOI + APP1: the whole APP1; SOI + APP0: everything through the first
// 0xFF 0xE1 pair with a non-zero length in the first 65535 bytes), followed
// by the source's ICC, XMP and IPTC sections after that head (after the
// encoder's head when there is no EXIF head). The file is left as it was
// when there is neither a head to copy nor a section to carry. Raises
// FileError.
TransplantResult CopyExif(const std::string& sourceFile, const std::string& outPath);

// The sRGB transfer function (IEC 61966-2-1) written out plainly, for
// expected values and ground truth: linear light of a code on the 0 .. 255
// scale (0 at or below 0; above 255 the curve continues), and the unrounded
// code 255 * encode(clamp(linear, 0, 1)) of linear light.
double SrgbLinearOfCode(double code);
double SrgbCodeOfLinear(double linear);

// A deterministic pseudo-random bitmap: every byte from a linear
// congruential sequence started at `seed`.
Bitmap24 NoiseBitmap(int width, int height, std::uint32_t seed);

// The (W - left - right) x (H - top - bottom) rectangle of `source` starting
// at column left, row top. Throws std::invalid_argument when a margin is
// negative or nothing would be left.
Bitmap24 CropBitmap(const Bitmap24& source, int left, int top, int right, int bottom);

// Rows firstRow .. firstRow + rowCount - 1 of the corrected photograph into
// `bandOut`, which is sized to the photograph's width x rowCount; `photoIn`
// is not changed. Throws like CorrectionPass,
// std::out_of_range for rows outside the photograph.
void ApplyCorrectionRows(const Bitmap24& photoIn, Bitmap24& bandOut, int firstRow, int rowCount,
                         const Bitmap24& mask, const CorrectionRegion& region, float damping,
                         const CorrectionTargets& targets);

// EncodeJpeg, then written with the program's file writer (replacing).
void SaveJpegFile(const Bitmap24& image, int quality, const std::string& path);

// The brightness zones of the adjustment panel by the rule itself: three
// passes (depths 15, 10, 5: red, orange, yellow) of single-pixel reads and
// writes; a pixel whose packed colour exceeds the packed colour of the
// channel maxima less the depth, each channel modulo 256, is painted.
void PaintBrightnessZonesReference(const Bitmap24& panelMask, Bitmap24& target);

} // namespace lumivane
