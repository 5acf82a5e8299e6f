// SPDX-License-Identifier: GPL-3.0-or-later
// TIFF output: red-green-blue pixels of 8 or 16 bits a sample, Deflate
// (zlib level 6) with the horizontal predictor, written through libtiff's
// client interface straight into the atomic writer's temporary file, so a
// picture of any size never exists whole in memory as a file. A file that
// may pass 4 GiB is written as BigTIFF.
#pragma once

#include "FileIO.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

typedef struct tiff TIFF;

namespace lumivane {

class TiffStripEncoder;

// One directory entry to add to a TIFF: its value bytes in the byte order
// of the TiffExif holding it.
struct TiffDirectoryEntry {
    std::uint16_t tag = 0;
    std::uint16_t type = 0; // the TIFF field type (1 BYTE ... 12 DOUBLE)
    std::uint32_t count = 0;
    std::vector<std::uint8_t> value;
};

// The source's EXIF as a TIFF output holds it: entries for the first
// directory (tags it does not have already), the EXIF directory (tag
// 34665) and the GPS directory (tag 34853). See AppendExifDirectories.
struct TiffExif {
    bool bigEndian = false; // the byte order of every value below
    std::vector<TiffDirectoryEntry> first, exif, gps;
    // The Orientation the output's own first directory gives (1-8): how
    // its pixels, as written, are to be shown.
    std::uint16_t orientation = 1;
    bool empty() const { return first.empty() && exif.empty() && gps.empty(); }
    std::uint64_t bytes() const;
};

// The source's sections a TIFF output carries, each as its tag holds it
// (empty: no such tag).
struct TiffMetadata {
    std::vector<std::uint8_t> icc;  // tag 34675, the ICC profile
    std::vector<std::uint8_t> xmp;  // tag 700, the XMP packet
    std::vector<std::uint8_t> iptc; // tag 33723, IPTC-IIM records
    TiffExif exif;
    bool empty() const { return icc.empty() && xmp.empty() && iptc.empty() && exif.empty(); }
};

// A reduced image of the picture (TiffDirectories.h).
struct TiffThumbnail {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb; // red-green-blue bytes, row by row
    bool empty() const { return width <= 0 || height <= 0; }
};

// Whether a width x height picture of `bitsPerSample` with `metadataBytes`
// of tags needs BigTIFF: when, even incompressible, it could pass the 4 GiB
// that classic TIFF offsets reach.
bool NeedsBigTiff(int width, int height, int bitsPerSample, std::uint64_t metadataBytes);

// The rows per strip of a picture of `rowBytes` bytes a row: strips of
// about 256 KiB, big enough for Deflate to work well, small enough for a
// reader that reads a strip at a time.
int TiffRowsPerStrip(std::size_t rowBytes);

// The bytes of one counted value of `tag` as libtiff handles it (the IPTC
// tag counts 32-bit values in some versions, bytes in others).
std::size_t TiffTagUnit(TIFF* tif, unsigned tag);

// Writes one image row by row. Rows come top first, red-green-blue, three
// samples a pixel: bytes for 8 bits, host-order 16-bit values for 16.
class TiffRowWriter {
public:
    // Starts the file; `bigTiff` forces BigTIFF, otherwise NeedsBigTiff
    // decides. Raises TiffError when libtiff refuses the layout. Strips are
    // compressed on `workers` threads (0: one a core) and written raw in
    // their order.
    TiffRowWriter(TemporaryFile& file, int width, int height, int bitsPerSample, const TiffMetadata& metadata,
                  bool bigTiff = false, int workers = 0);
    ~TiffRowWriter();
    TiffRowWriter(const TiffRowWriter&) = delete;
    TiffRowWriter& operator=(const TiffRowWriter&) = delete;

    // Writes `count` rows, `stride` bytes apart. Returns 0, or the errno
    // value of a failed write to the file (the caller stops then); raises
    // TiffError when libtiff fails otherwise.
    int WriteRows(const void* rows, std::size_t stride, int count);
    // Writes the last strip and the directory. Returns 0 or an errno value
    // as above; raises TiffError when rows are missing or libtiff fails.
    int Finish();
    // Sets the reduced image Finish adds as the second directory (see
    // AppendExifDirectories).
    void SetThumbnail(TiffThumbnail thumbnail) { thumbnail_ = std::move(thumbnail); }

    bool BigTiff() const { return bigTiff_; }

    // The file's client state (libtiff's callbacks reach it).
    struct Client {
        TemporaryFile* file = nullptr;
        std::uint64_t offset = 0;
        int error = 0; // errno of the first failed write
    };

private:
    [[noreturn]] void failed(const char* what) const;
    // Writes the compressed strips that are ready, in order; with `all`,
    // waits for every one. Returns 0 or an errno value as WriteRows.
    int writeStrips(bool all);

    Client client_;
    TIFF* tif_ = nullptr;
    int width_;
    int height_;
    int rowsWritten_ = 0;
    bool bigTiff_;
    std::size_t rowBytes_ = 0;
    int rowsPerStrip_ = 1;
    int rowsInStrip_ = 0;        // rows of the strip being filled
    std::uint32_t stripsWritten_ = 0;
    std::unique_ptr<TiffStripEncoder> encoder_;
    TiffExif exif_;
    TiffThumbnail thumbnail_;
};

} // namespace lumivane
