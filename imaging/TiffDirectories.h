// SPDX-License-Identifier: GPL-3.0-or-later
// Directories added to a TIFF after libtiff has written it: the source's
// EXIF and GPS directories and the EXIF tags of the first directory.
//
// libtiff writes the picture and its first directory; the added
// directories and a grown copy of that first directory are appended at the
// end of the file and the header is pointed at the copy. The original
// first directory stays where it was, unreferenced (a few hundred bytes),
// so nothing libtiff wrote moves and the strips are never touched. Values
// are converted to the file's byte order by their field type; a value that
// is bytes (a maker note, a version) is copied as it is.
#pragma once

#include "FileIO.h"
#include "TiffWriter.h"

namespace lumivane {

// TIFF field types, as the directory entries name them.
enum class TiffFieldType : std::uint16_t {
    Byte = 1,
    Ascii = 2,
    Short = 3,
    Long = 4,
    Rational = 5,
    SByte = 6,
    Undefined = 7,
    SShort = 8,
    SLong = 9,
    SRational = 10,
    Float = 11,
    Double = 12,
    Ifd = 13,
    Long8 = 16,
    SLong8 = 17,
    Ifd8 = 18,
};

// Bytes per value of a field type; 0 for a type this writer does not know.
int TiffFieldTypeSize(std::uint16_t type);

// Averages the rows of a width x height picture, as they are written, into
// a thumbnail of the picture's aspect within 160 x 120.
class TiffThumbnailBuilder {
public:
    TiffThumbnailBuilder(int width, int height, int bitsPerSample);
    // `count` rows of red-green-blue samples (bytes for 8 bits, host-order
    // 16-bit values for 16), `stride` bytes apart, next after those before.
    void AddRows(const void* rows, std::size_t stride, int count);
    // The thumbnail, once every row was added; empty otherwise.
    TiffThumbnail Result() const;

private:
    int width_, height_, bits_;
    int rowsAdded_ = 0;
    TiffThumbnail thumb_;
    std::vector<int> column_;          // the thumbnail column of each picture column
    std::vector<std::uint64_t> sums_;  // per thumbnail sample
    std::vector<std::uint32_t> counts_; // per thumbnail pixel
};

// Adds `exif` to the complete TIFF in `file` (classic or BigTIFF, either
// byte order) as described above. An entry for a tag the first directory
// already has is left out: the file's own value describes its pixels.
// Returns 0 or the errno value of a failed write; raises TiffError when the
// file's header or first directory cannot be read back, or when a classic
// TIFF would pass 4 GiB. With a `thumbnail` it follows the first directory
// as the second, uncompressed. Nothing is done when both are empty.
int AppendExifDirectories(TemporaryFile& file, const TiffExif& exif, const TiffThumbnail& thumbnail = {});

} // namespace lumivane
