// SPDX-License-Identifier: GPL-3.0-or-later
// Decoding a picture file by the last three characters of its name, the
// one rule the program uses to tell JPEG, BMP and TIFF files apart: "JPG",
// "BMP" and "TIF" in any case, and the longer ".jpeg", ".jpe" and ".tiff"
// that file managers hand over. Other names ("x.png") are not decoded.
#pragma once

#include "Bitmap24.h"

#include <string>

namespace lumivane {

enum class ImageKind { Jpeg, Bmp, Tiff, Unknown };

// The kind named by the last three characters of `path`, or else by the
// longer extensions ".jpeg", ".jpe" and ".tiff" (any case).
ImageKind ImageKindBySuffix(const std::string& path);

// Jpeg or Tiff for a name ending in ".jpeg", ".jpe" or ".tiff" (any case),
// Unknown for any other name.
ImageKind ImageKindOfLongName(const std::string& path);

// Whether libjpeg's block smoothing is applied (it changes only incomplete
// progressive files): photographs are decoded without, masks with it.
enum class JpegSmoothing { Off, On };

// Decodes `path` by its suffix into `into`, reusing its storage. Returns
// false, leaving `into` untouched, when the suffix names no kind decoded
// here. Raises the reader's error (FileError, JpegError, BmpError,
// TiffError) when the file cannot be read or decoded; `into` may then hold
// anything, so a caller that must keep its picture decodes into a spare
// bitmap and exchanges it on success. A file decoded with damage (a JPEG
// that ends early, a TIFF strip that cannot be read) keeps the pixels the
// decoder made; `damage`, when given, receives the decoder's description
// of it, or "" for an intact file.
bool DecodeBySuffix(const std::string& path, Bitmap24& into, JpegSmoothing smoothing,
                    std::string* damage = nullptr);

} // namespace lumivane
