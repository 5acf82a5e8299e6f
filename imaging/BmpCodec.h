// SPDX-License-Identifier: GPL-3.0-or-later
// Windows BMP reading and writing.
//
// The reader accepts the OS/2 12-byte header and every header of 16 bytes
// or more (40, 52, 56, 64, 108, 124 ...), 1/2/4/8/16/24/32 bits per pixel,
// RLE4/RLE8, bit fields for 16 and 32 bits, and top-down rows. Files come
// from users and are treated as hostile: every read is checked against the
// bytes of the file, and a malformed file raises BmpError with a message.
#pragma once

#include "Bitmap24.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace lumivane {

class BmpError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Decodes a BMP held in memory into `out`, reusing its storage. Palette
// pixels take their palette colour (indices beyond the palette are black),
// bit-field channels are scaled to 0..255, alpha is dropped. Pixels that an
// RLE stream never writes take palette colour 0. A file shorter than the
// pixels its header claims raises BmpError, and a picture above the memory
// budget MemoryBudgetError, both before the picture is allocated.
void DecodeBmp(const std::uint8_t* data, std::size_t size, Bitmap24& out);
Bitmap24 DecodeBmp(const std::uint8_t* data, std::size_t size);

// Reads and decodes a file; FileError names the path on I/O errors, and
// MemoryBudgetError names it for a picture above the budget.
void ReadBmpFile(const std::string& path, Bitmap24& out);
Bitmap24 ReadBmpFile(const std::string& path);

// An uncompressed 24-bit BMP: 14-byte file header ("BM", file size, pixel
// data at 54), 40-byte information header (positive height, 1 plane, 24
// bits, BI_RGB, image size; resolution and colour counts 0), no colour
// table, rows bottom-up padded to a multiple of 4 bytes.
std::vector<std::uint8_t> EncodeBmp(const Bitmap24& image);
// Same, written atomically (see WriteFileAtomically).
void WriteBmpFile(const Bitmap24& image, const std::string& path);

// Bytes in front of the pixels of the files written here.
inline constexpr std::size_t kBmpHeaderSize = 54;

// The sizes of that file for one picture.
struct BmpLayout {
    std::size_t stride = 0;    // bytes per row, padded to a multiple of 4
    std::size_t imageSize = 0; // stride x height
    std::size_t fileSize = 0;  // kBmpHeaderSize + imageSize
};

// Fills the kBmpHeaderSize bytes at `header` for a width x height picture
// and returns the layout that follows. The one header writer of the
// program: EncodeBmp and the band-wise save both use it. Raises BmpError
// when the picture is too large for the format or a size is negative.
BmpLayout WriteBmpHeader(std::uint8_t* header, int width, int height);

} // namespace lumivane
