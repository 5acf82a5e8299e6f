// SPDX-License-Identifier: GPL-3.0-or-later
// TIFFs of 16 bits a sample read at full precision: red-green-blue, or grey
// (MinIsBlack or MinIsWhite), unsigned, without extra samples, in one plane
// or separate planes, in strips or tiles, with any compression libtiff
// decodes. The picture is turned as libtiff's RGBA interface turns it
// (orientations 2 to 8 mirror it; no quarter turns), so the 8-bit picture
// made from it (EightBitPicture) is exactly the one that interface gives.
// Every other TIFF is read through the RGBA interface alone (TiffReader).
#pragma once

#include "Bitmap24.h"
#include "Bitmap48.h"

#include <string>

namespace lumivane {

struct Tiff16Picture {
    // MinIsWhite values are turned round (65535 - v); grey is spread to
    // all three channels.
    Bitmap48 pixels;
    bool grey = false;
};

// Whether the file's first image is one of the layouts above (no pixels
// are read). False for any other file, also one libtiff cannot open.
bool IsTiff16(const std::string& path);

// Reads the first image when it is one of the layouts above; returns false
// (reading no pixels) when it is not. Raises TiffError naming the path when
// a strip or tile cannot be decoded, MemoryBudgetError for a picture whose
// 16-bit buffers pass the memory budget, FileRefusedError for a folder,
// FIFO or device.
bool ReadTiff16(const std::string& path, Tiff16Picture& out);

// For a save of a photograph whose 8-bit picture is width x height: reads
// its 16 bits when the file has them (a layout above, of that size).
// Returns false, `out` emptied, for any other file and for one whose read
// fails (the save then takes the 8-bit picture, as a damaged file's picture
// is what the RGBA interface made of it).
bool ReadTiff16ForSave(const std::string& path, int width, int height, Tiff16Picture& out);

// The 8-bit picture of a 16-bit file, as the RGBA interface makes it:
// colour values rounded, (v * 255 + 32767) / 65535; grey values cut to
// their high byte.
void EightBitPicture(const Tiff16Picture& picture, Bitmap24& out);

} // namespace lumivane
