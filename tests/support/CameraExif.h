// SPDX-License-Identifier: GPL-3.0-or-later
// Small JPEG files that carry the camera facts mask matching reads: an APP1
// Exif block with Make and Model in the first directory and FNumber,
// FocalLength and LensModel in the EXIF directory, written in front of a
// tiny encoded picture.
#pragma once

#include "Bitmap24.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lumivane::testing {

struct CameraExif {
    std::string make;  // left out when empty
    std::string model; // left out when empty
    std::string lens;  // left out when empty
    // Rationals; left out when the denominator is 0.
    std::uint32_t fNumerator = 0, fDenominator = 0;
    std::uint32_t focalNumerator = 0, focalDenominator = 0;
    // EXIF orientation 1..8; left out when 0.
    std::uint16_t orientation = 0;
    std::string lensMake;           // LensMake (0xA433); left out when empty
    std::uint16_t focal35 = 0;      // FocalLengthIn35mmFilm (0xA405); left out when 0
    std::uint32_t distanceNumerator = 0, distanceDenominator = 0; // SubjectDistance, metres
};

// Facts with an F-number and a focal length given as decimals (tenths).
CameraExif Camera(const std::string& make, const std::string& model, double fNumber, double focalLength,
                  const std::string& lens = std::string());

// The APP1 segment: marker, length, "Exif\0\0" and a little-endian TIFF block.
std::vector<std::uint8_t> ExifSegment(const CameraExif& exif);

// Writes `image` as a JPEG with the segment right after the start marker.
void WriteCameraJpeg(const std::string& path, const Bitmap24& image, const CameraExif& exif);

// Writes `image` as an uncompressed RGB TIFF (lossless) whose first
// directory carries Make and Model and points to the EXIF directory.
void WriteCameraTiff(const std::string& path, const Bitmap24& image, const CameraExif& exif);

// Sets the file's modification time to `secondsSinceEpoch`.
void SetModified(const std::string& path, long long secondsSinceEpoch);

} // namespace lumivane::testing
