// SPDX-License-Identifier: GPL-3.0-or-later
// A TIFF read back with libtiff's own scanline interface, independent of the
// program's reader: its layout tags, samples and carried sections.
#pragma once

#include "Bitmap48.h"
#include "FileIO.h"
#include "TiffWriter.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <tiffio.h>
#include <vector>

namespace lumivane::testing {

struct TiffContents {
    std::uint32_t width = 0, height = 0;
    std::uint16_t bits = 0, samplesPerPixel = 0, compression = 0, predictor = 0, photometric = 0;
    bool bigTiff = false;
    // Red-green-blue samples row by row (8-bit files widened as they are).
    std::vector<std::uint16_t> samples;
    TiffMetadata metadata;
};

inline std::vector<std::uint8_t> TagBytesForTest(TIFF* tif, ttag_t tag)
{
    std::uint32_t count = 0;
    const void* data = nullptr;
    if (!TIFFGetField(tif, tag, &count, &data) || !data)
        return {};
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    return std::vector<std::uint8_t>(bytes, bytes + std::size_t(count) * TiffTagUnit(tif, tag));
}

inline TiffContents ReadTiffBack(const std::string& path)
{
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif)
        throw std::runtime_error("libtiff cannot open " + path);
    TiffContents c;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &c.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &c.height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &c.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &c.samplesPerPixel);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &c.compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PREDICTOR, &c.predictor);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &c.photometric);
    c.bigTiff = TIFFIsBigTIFF(tif) != 0;
    c.metadata.icc = TagBytesForTest(tif, TIFFTAG_ICCPROFILE);
    c.metadata.xmp = TagBytesForTest(tif, TIFFTAG_XMLPACKET);
    c.metadata.iptc = TagBytesForTest(tif, TIFFTAG_RICHTIFFIPTC);
    std::vector<std::uint8_t> row(std::size_t(TIFFScanlineSize(tif)));
    const std::size_t perRow = std::size_t(c.width) * c.samplesPerPixel;
    for (std::uint32_t y = 0; y < c.height; ++y) {
        if (TIFFReadScanline(tif, row.data(), y, 0) != 1) {
            TIFFClose(tif);
            throw std::runtime_error("libtiff cannot read row " + std::to_string(y) + " of " + path);
        }
        for (std::size_t i = 0; i < perRow; ++i) {
            if (c.bits == 16) {
                std::uint16_t v;
                std::memcpy(&v, row.data() + 2 * i, 2);
                c.samples.push_back(v);
            } else {
                c.samples.push_back(row[i]);
            }
        }
    }
    TIFFClose(tif);
    return c;
}

// `picture` (blue, green, red) written at `path` as a 16-bit RGB TIFF by the
// program's own writer, with `metadata`.
inline void WriteTiff16(const std::string& path, const Bitmap48& picture, const TiffMetadata& metadata = {})
{
    std::vector<std::uint16_t> rgb(picture.rowValues());
    OutputTarget(path).WriteStreamed([&](TemporaryFile& file) {
        TiffRowWriter writer(file, picture.width(), picture.height(), 16, metadata);
        for (int y = 0; y < picture.height(); ++y) {
            for (std::size_t i = 0; i < rgb.size(); i += 3) {
                rgb[i] = picture.row(y)[i + 2];
                rgb[i + 1] = picture.row(y)[i + 1];
                rgb[i + 2] = picture.row(y)[i];
            }
            if (const int err = writer.WriteRows(rgb.data(), rgb.size() * 2, 1))
                return err;
        }
        return writer.Finish();
    });
}

} // namespace lumivane::testing
