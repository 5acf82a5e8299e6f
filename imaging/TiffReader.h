// SPDX-License-Identifier: GPL-3.0-or-later
// TIFF files to Bitmap24 through libtiff's whole-image RGBA interface.
// Whatever that interface accepts is accepted; only the first image of a
// multi-image file is read, and no libtiff message ever reaches the user.
#pragma once

#include "Bitmap24.h"
#include "Picture.h"
#include "TiffWriter.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace lumivane {

class TiffError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Replaces libtiff's warning and error handlers by silent ones. Safe to call
// any number of times; ReadTiffToBitmap calls it itself.
void InstallSilentTiffHandlers();

// Opens `path` for libtiff through a descriptor opened the program's safe
// way (a FIFO or device named *.tif is refused, FileRefusedError, instead of
// blocking the reader). nullptr when the file cannot be opened or libtiff
// refuses it; the caller closes what it gets (TiffHandle).
TIFF* OpenTiffFile(const std::string& path);

// Reads the file's first image. Raises TiffError:
//   "Unable to open file '<path>'"       libtiff refuses the file
//   a message naming the size           width or height is zero
//   "Unable to create TBitmap buffer"   the pixels cannot be allocated
// and MemoryBudgetError naming the path for a picture above the memory
// budget (see MemoryBudget.h), before anything of its size is allocated,
// and FileRefusedError for a folder, FIFO or device (opened without
// blocking, never read).
//   a message naming the path           libjpeg fails fatally inside a
//                                       JPEG-compressed file
// A layout the RGBA interface refuses, or a read that stops part-way,
// raises nothing: the pixels it did not deliver stay white, and `damage`,
// when given, receives "TIFF strip unreadable" (else ""). Alpha is
// dropped without compositing.
std::unique_ptr<Bitmap24> ReadTiffToBitmap(const std::string& path);
// Same, into `out`, reusing its storage; after an error `out` holds no
// particular pixels.
void ReadTiffToBitmap(const std::string& path, Bitmap24& out, std::string* damage = nullptr);

// The EXIF orientation (1-8) that the pixels ReadTiffToBitmap gives still
// need, for a file whose Orientation tag is `orientation`. The RGBA
// interface mirrors rows and columns for the orientations that ask for it
// but never transposes: 2-4 come out upright (1); 5 and 7 still need the
// transpose (5), 6 and 8 the transverse (7). Anything else counts as 1.
std::uint16_t OrientationAfterTiffRead(std::uint16_t orientation);

// Exchanges byte 0 and byte 2 of each of the width * height 32-bit values
// at `pixels` (libtiff's red-green-blue-alpha order to blue-green-red-alpha).
void SwapRedBlue(int width, int height, std::uint32_t* pixels);

// The ICC profile, XMP packet and IPTC records of the file's first image
// (tags 34675, 700 and 33723); those it lacks stay empty. Raises TiffError
// when libtiff cannot open the file, FileRefusedError as above.
TiffMetadata ReadTiffMetadata(const std::string& path);

// Never raises: on success the holder's picture takes the bitmap; on any
// error the picture is emptied (an AutoSize holder keeps its size).
void LoadTiffImage(const std::string& path, TImageHolder& image);
// Same, decoding into `spare`, which on success is exchanged with the
// holder's bitmap (see TPicture::ExchangeBitmap).
void LoadTiffImage(const std::string& path, TImageHolder& image, Bitmap24& spare);

} // namespace lumivane
