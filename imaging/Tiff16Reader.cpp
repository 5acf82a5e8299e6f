// SPDX-License-Identifier: GPL-3.0-or-later
#include "Tiff16Reader.h"

#include "FileIO.h"
#include "MemoryBudget.h"
#include "TiffHandle.h"
#include "TiffReader.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace lumivane {

namespace {

// The facts of a 16-bit layout, read from the directory.
struct Layout {
    std::uint32_t width = 0, height = 0;
    std::uint16_t samples = 0; // 3 or 1
    bool minIsWhite = false;
    bool separate = false;
    bool tiled = false;
    std::uint32_t tileWidth = 0, tileHeight = 0; // tiles, or the whole width and the strip's rows
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
};

bool layoutOf(TIFF* tif, Layout& layout)
{
    std::uint16_t bits = 0, format = SAMPLEFORMAT_UINT, photometric = 0, planar = PLANARCONFIG_CONTIG;
    std::uint16_t extraCount = 0, compression = COMPRESSION_NONE;
    const std::uint16_t* extra = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &layout.width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &layout.height) ||
        !TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric))
        return false;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &layout.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &layout.orientation);
    if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) && extraCount != 0)
        return false;
    const bool rgb = photometric == PHOTOMETRIC_RGB && layout.samples == 3;
    const bool grey =
        (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE) && layout.samples == 1;
    if (bits != 16 || format != SAMPLEFORMAT_UINT || !(rgb || grey) || layout.width == 0 || layout.height == 0 ||
        !TIFFIsCODECConfigured(compression))
        return false;
    layout.minIsWhite = photometric == PHOTOMETRIC_MINISWHITE;
    layout.separate = planar == PLANARCONFIG_SEPARATE && layout.samples > 1;
    layout.tiled = TIFFIsTiled(tif) != 0;
    if (layout.tiled) {
        if (!TIFFGetField(tif, TIFFTAG_TILEWIDTH, &layout.tileWidth) ||
            !TIFFGetField(tif, TIFFTAG_TILELENGTH, &layout.tileHeight) || layout.tileWidth == 0 ||
            layout.tileHeight == 0)
            return false;
        // A tile never needs to be much larger than the picture; claims
        // beyond that are left to the RGBA interface, which refuses them.
        const std::uint64_t tileArea = std::uint64_t(layout.tileWidth) * layout.tileHeight;
        if (tileArea > std::max<std::uint64_t>(std::uint64_t(layout.width) * layout.height * 4, 1u << 20))
            return false;
    } else {
        std::uint32_t rows = 0;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows);
        layout.tileWidth = layout.width;
        layout.tileHeight = std::min(std::max<std::uint32_t>(rows, 1), layout.height);
    }
    return true;
}

// Mirrors the picture as the RGBA interface does for the orientation.
void orient(Bitmap48& pixels, std::uint16_t orientation)
{
    const bool flipX = orientation == ORIENTATION_TOPRIGHT || orientation == ORIENTATION_BOTRIGHT ||
                       orientation == ORIENTATION_RIGHTTOP || orientation == ORIENTATION_RIGHTBOT;
    const bool flipY = orientation == ORIENTATION_BOTRIGHT || orientation == ORIENTATION_BOTLEFT ||
                       orientation == ORIENTATION_RIGHTBOT || orientation == ORIENTATION_LEFTBOT;
    const int w = pixels.width(), h = pixels.height();
    if (flipY)
        for (int y = 0; y < h / 2; ++y)
            std::swap_ranges(pixels.row(y), pixels.row(y) + pixels.rowValues(), pixels.row(h - 1 - y));
    if (flipX)
        for (int y = 0; y < h; ++y) {
            std::uint16_t* row = pixels.row(y);
            for (int x = 0; x < w / 2; ++x)
                std::swap_ranges(row + 3 * x, row + 3 * x + 3, row + 3 * (w - 1 - x));
        }
}

} // namespace

bool IsTiff16(const std::string& path)
{
    try {
        TiffHandle tif(OpenTiffFile(path));
        Layout layout;
        return tif.get() && layoutOf(tif.get(), layout);
    } catch (const FileError&) {
        return false;
    }
}

bool ReadTiff16(const std::string& path, Tiff16Picture& out)
{
    TiffHandle tif(OpenTiffFile(path));
    if (!tif.get())
        throw TiffError("Unable to open file '" + path + "'");
    Layout layout;
    if (!layoutOf(tif.get(), layout))
        return false;
    RequireMemoryFor(layout.width, layout.height, path, kBytesPerPixel16);

    out.grey = layout.samples == 1;
    // Every value is written below: the blocks cover the picture, and each
    // plane or sample of it.
    const std::size_t room = out.pixels.capacity();
    out.pixels.setSizeForOverwrite(int(layout.width), int(layout.height));
    // Fresh storage has its pages faulted in beside the decoder.
    const BackgroundPrefault prefault(out.pixels.capacity() > room ? out.pixels.data() : nullptr,
                                      out.pixels.byteCount());
    // One block (strip or tile) of one plane or of all samples at a time.
    const std::size_t blockSamples = layout.separate ? 1 : layout.samples;
    const std::size_t blockValues = std::size_t(layout.tileWidth) * layout.tileHeight * blockSamples;
    std::vector<std::uint16_t> block(blockValues);
    const std::uint32_t planes = layout.separate ? layout.samples : 1;
    const tmsize_t blockBytes = tmsize_t(blockValues * 2);
    for (std::uint32_t plane = 0; plane < planes; ++plane)
        for (std::uint32_t top = 0; top < layout.height; top += layout.tileHeight)
            for (std::uint32_t left = 0; left < layout.width; left += layout.tileWidth) {
                const tmsize_t got =
                    layout.tiled
                        ? TIFFReadEncodedTile(tif.get(), TIFFComputeTile(tif.get(), left, top, 0, tsample_t(plane)),
                                              block.data(), blockBytes)
                        : TIFFReadEncodedStrip(tif.get(), TIFFComputeStrip(tif.get(), top, tsample_t(plane)),
                                               block.data(), blockBytes);
                if (got < 0)
                    throw TiffError("The pixels of '" + path + "' cannot be decoded");
                // A short last strip holds only the picture's rows.
                const std::uint32_t rows = std::min(layout.tileHeight, layout.height - top);
                const std::uint32_t columns = std::min(layout.tileWidth, layout.width - left);
                if (std::size_t(got) < std::size_t(rows - 1) * layout.tileWidth * blockSamples * 2 +
                                           std::size_t(columns) * blockSamples * 2)
                    throw TiffError("The pixels of '" + path + "' end early");
                for (std::uint32_t r = 0; r < rows; ++r) {
                    const std::uint16_t* in = block.data() + std::size_t(r) * layout.tileWidth * blockSamples;
                    std::uint16_t* row = out.pixels.row(int(top + r)) + std::size_t(left) * 3;
                    for (std::uint32_t x = 0; x < columns; ++x, row += 3) {
                        if (out.grey) {
                            const std::uint16_t v = layout.minIsWhite ? std::uint16_t(65535 - in[x]) : in[x];
                            row[0] = row[1] = row[2] = v;
                        } else if (layout.separate) {
                            row[2 - plane] = in[x]; // planes red, green, blue
                        } else {
                            row[0] = in[3 * x + 2];
                            row[1] = in[3 * x + 1];
                            row[2] = in[3 * x];
                        }
                    }
                }
            }
    orient(out.pixels, layout.orientation);
    return true;
}

bool ReadTiff16ForSave(const std::string& path, int width, int height, Tiff16Picture& out)
{
    try {
        if (IsTiff16(path) && ReadTiff16(path, out) && out.pixels.width() == width &&
            out.pixels.height() == height)
            return true;
    } catch (const std::exception&) {
        // Saved from the 8-bit picture.
    }
    out = Tiff16Picture();
    return false;
}

void EightBitPicture(const Tiff16Picture& picture, Bitmap24& out)
{
    const Bitmap48& p = picture.pixels;
    out.setSizeForOverwrite(p.width(), p.height());
    for (int y = 0; y < p.height(); ++y) {
        const std::uint16_t* in = p.row(y);
        std::uint8_t* row = out.scanLine(y);
        const std::size_t n = p.rowValues();
        if (picture.grey)
            for (std::size_t i = 0; i < n; ++i)
                row[i] = std::uint8_t(in[i] >> 8);
        else
            for (std::size_t i = 0; i < n; ++i)
                row[i] = std::uint8_t((std::uint32_t(in[i]) * 255u + 32767u) / 65535u);
    }
}

} // namespace lumivane
