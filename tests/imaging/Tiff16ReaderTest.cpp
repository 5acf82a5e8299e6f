// SPDX-License-Identifier: GPL-3.0-or-later
// 16-bit TIFFs of every layout read at full precision, and their 8-bit
// picture equal to the RGBA interface's, pixel for pixel.
#include "Tiff16Reader.h"

#include "ImagingTestUtil.h"
#include "MemoryBudget.h"
#include "TiffReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <tiffio.h>

using namespace lumivane;
using lumivane::testing::ScratchDir;

namespace {

struct Layout {
    const char* name;
    std::uint16_t photometric = PHOTOMETRIC_RGB;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint16_t compression = COMPRESSION_NONE;
    bool tiled = false;
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    bool bigEndian = false;
    std::uint32_t rowsPerStrip = 5;
};

int samplesOf(const Layout& l)
{
    return l.photometric == PHOTOMETRIC_RGB ? 3 : 1;
}

// The value of sample s at (x, y) as stored: every value of 0 .. 65535
// comes up for a picture of 16384 samples and more.
std::uint16_t stored(int x, int y, int s, int width)
{
    return std::uint16_t(((y * width + x) * 3 + s) * 40503u + 17u);
}

// Writes a width x height picture of the layout with libtiff.
void writeLayout(const std::string& path, const Layout& l, int width, int height)
{
    TIFF* t = TIFFOpen(path.c_str(), l.bigEndian ? "wb" : "wl");
    ASSERT_NE(t, nullptr);
    const int spp = samplesOf(l);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, spp);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, l.photometric);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, l.planar);
    TIFFSetField(t, TIFFTAG_COMPRESSION, l.compression);
    TIFFSetField(t, TIFFTAG_ORIENTATION, l.orientation);
    const bool separate = l.planar == PLANARCONFIG_SEPARATE && spp > 1;
    const int planes = separate ? spp : 1;
    const int perPixel = separate ? 1 : spp;
    if (l.tiled) {
        TIFFSetField(t, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(t, TIFFTAG_TILELENGTH, 16);
        std::vector<std::uint16_t> tile(16 * 16 * std::size_t(perPixel));
        for (int p = 0; p < planes; ++p)
            for (int ty = 0; ty < height; ty += 16)
                for (int tx = 0; tx < width; tx += 16) {
                    std::fill(tile.begin(), tile.end(), 0);
                    for (int y = ty; y < std::min(ty + 16, height); ++y)
                        for (int x = tx; x < std::min(tx + 16, width); ++x)
                            for (int s = 0; s < perPixel; ++s)
                                tile[std::size_t(((y - ty) * 16 + (x - tx)) * perPixel + s)] =
                                    stored(x, y, separate ? p : s, width);
                    ASSERT_GE(TIFFWriteTile(t, tile.data(), std::uint32_t(tx), std::uint32_t(ty), 0, tsample_t(p)),
                              0);
                }
    } else {
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, l.rowsPerStrip);
        std::vector<std::uint16_t> row(std::size_t(width) * std::size_t(perPixel));
        for (int p = 0; p < planes; ++p)
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x)
                    for (int s = 0; s < perPixel; ++s)
                        row[std::size_t(x * perPixel + s)] = stored(x, y, separate ? p : s, width);
                ASSERT_EQ(TIFFWriteScanline(t, row.data(), std::uint32_t(y), tsample_t(p)), 1);
            }
    }
    TIFFClose(t);
}

} // namespace

TEST(Tiff16Reader, EveryLayout_FullPrecisionAndTheRgbaInterfacesEightBits)
{
    std::vector<Layout> layouts = {
        {"rgb strips"},
        {"rgb strips big-endian", PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG, COMPRESSION_NONE, false, 1, true},
        {"rgb planes", PHOTOMETRIC_RGB, PLANARCONFIG_SEPARATE},
        {"rgb tiles deflate", PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG, COMPRESSION_ADOBE_DEFLATE, true},
        {"rgb plane tiles lzw", PHOTOMETRIC_RGB, PLANARCONFIG_SEPARATE, COMPRESSION_LZW, true},
        {"rgb packbits one strip", PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG, COMPRESSION_PACKBITS, false, 1, false, 1000},
        {"min-is-black", PHOTOMETRIC_MINISBLACK},
        {"min-is-black tiles", PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG, COMPRESSION_LZW, true},
        {"min-is-white", PHOTOMETRIC_MINISWHITE, PLANARCONFIG_CONTIG, COMPRESSION_ADOBE_DEFLATE},
    };
    for (std::uint16_t o = 2; o <= 8; ++o)
        layouts.push_back({"rgb oriented", PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG, COMPRESSION_NONE, o % 2 == 0, o});
    ScratchDir dir;
    const int width = 37, height = 29;
    for (const Layout& l : layouts) {
        SCOPED_TRACE(std::string(l.name) + " orientation " + std::to_string(l.orientation));
        const std::string path = dir.file("16.tif");
        writeLayout(path, l, width, height);
        ASSERT_TRUE(IsTiff16(path));
        Tiff16Picture picture;
        ASSERT_TRUE(ReadTiff16(path, picture));
        ASSERT_EQ(picture.pixels.width(), width);
        ASSERT_EQ(picture.pixels.height(), height);
        EXPECT_EQ(picture.grey, samplesOf(l) == 1);
        // Orientations 2 to 8 mirror the picture, as the RGBA interface does.
        const bool flipX = l.orientation == 2 || l.orientation == 3 || l.orientation == 6 || l.orientation == 7;
        const bool flipY = l.orientation == 3 || l.orientation == 4 || l.orientation == 7 || l.orientation == 8;
        std::size_t wrong = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const int sx = flipX ? width - 1 - x : x, sy = flipY ? height - 1 - y : y;
                for (int c = 0; c < 3; ++c) { // blue, green, red
                    std::uint16_t want = stored(sx, sy, samplesOf(l) == 1 ? 0 : 2 - c, width);
                    if (l.photometric == PHOTOMETRIC_MINISWHITE)
                        want = std::uint16_t(65535 - want);
                    wrong += picture.pixels.row(y)[3 * x + c] != want;
                }
            }
        EXPECT_EQ(wrong, 0u);
        Bitmap24 eight;
        EightBitPicture(picture, eight);
        const auto rgba = ReadTiffToBitmap(path);
        // libtiff 4.5's RGBA interface skips the wrong number of bytes after
        // each row of a partial 16-bit grey tile (it counts samples, not
        // bytes), so the last tile column of such a file comes out garbled
        // there: only whole tiles are compared.
        const int compared = samplesOf(l) == 1 && l.tiled ? width / 16 * 16 : width;
        std::size_t differ = 0;
        for (int y = 0; y < height; ++y)
            differ += !std::equal(eight.scanLine(y), eight.scanLine(y) + 3 * compared, rgba->scanLine(y));
        EXPECT_EQ(differ, 0u);
    }
}

TEST(Tiff16Reader, EveryValue_EightBitsAsTheRgbaInterface)
{
    // 65536 values in each of colour and grey files.
    ScratchDir dir;
    for (const std::uint16_t photometric : {PHOTOMETRIC_RGB, PHOTOMETRIC_MINISBLACK, PHOTOMETRIC_MINISWHITE}) {
        SCOPED_TRACE(photometric);
        const std::string path = dir.file("all.tif");
        writeLayout(path, Layout{"all", photometric}, 256, 256);
        Tiff16Picture picture;
        ASSERT_TRUE(ReadTiff16(path, picture));
        Bitmap24 eight;
        EightBitPicture(picture, eight);
        EXPECT_EQ(eight, *ReadTiffToBitmap(path));
    }
}

TEST(Tiff16Reader, OtherFiles_AreLeftToTheRgbaInterface)
{
    ScratchDir dir;
    struct Other {
        const char* name;
        int bits, samples, extra, format;
        std::uint16_t photometric;
    } others[] = {
        {"8-bit rgb", 8, 3, 0, SAMPLEFORMAT_UINT, PHOTOMETRIC_RGB},
        {"16-bit rgba", 16, 4, 1, SAMPLEFORMAT_UINT, PHOTOMETRIC_RGB},
        {"16-bit signed", 16, 3, 0, SAMPLEFORMAT_INT, PHOTOMETRIC_RGB},
        {"16-bit grey and alpha", 16, 2, 1, SAMPLEFORMAT_UINT, PHOTOMETRIC_MINISBLACK},
        {"16-bit palette", 16, 1, 0, SAMPLEFORMAT_UINT, PHOTOMETRIC_PALETTE},
    };
    for (const Other& o : others) {
        SCOPED_TRACE(o.name);
        const std::string path = dir.file("other.tif");
        TIFF* t = TIFFOpen(path.c_str(), "w");
        ASSERT_NE(t, nullptr);
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 4);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, 2);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, o.samples);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, o.bits);
        TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, o.format);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, o.photometric);
        // A palette file needs its colour map: without one libtiff reads
        // the file as grey.
        std::vector<std::uint16_t> map(std::size_t(1) << o.bits, 0);
        if (o.photometric == PHOTOMETRIC_PALETTE)
            TIFFSetField(t, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
        if (o.extra) {
            const std::uint16_t kind = EXTRASAMPLE_UNASSALPHA;
            TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &kind);
        }
        std::vector<std::uint8_t> row(std::size_t(4 * o.samples * o.bits / 8), 0x40);
        for (std::uint32_t y = 0; y < 2; ++y)
            TIFFWriteScanline(t, row.data(), y, 0);
        TIFFClose(t);
        EXPECT_FALSE(IsTiff16(path));
        Tiff16Picture picture;
        EXPECT_FALSE(ReadTiff16(path, picture));
    }
    EXPECT_FALSE(IsTiff16(dir.file("none.tif")));
    EXPECT_FALSE(IsTiff16("/"));
}

TEST(Tiff16Reader, DamagedAndOverBudget_RaiseNamingTheFile)
{
    ScratchDir dir;
    const std::string path = dir.file("cut.tif");
    writeLayout(path, Layout{"deflate", PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG, COMPRESSION_ADOBE_DEFLATE}, 64, 64);
    std::vector<std::uint8_t> bytes = ReadWholeFile(path);
    // The strips come before the directory: spoil the middle of them.
    for (std::size_t i = bytes.size() / 4; i < bytes.size() / 2; ++i)
        bytes[i] = std::uint8_t(i * 31);
    WriteFileAtomically(path, bytes);
    Tiff16Picture picture;
    try {
        ReadTiff16(path, picture);
        ADD_FAILURE() << "no error";
    } catch (const TiffError& e) {
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }

    // 16-bit pixels count six bytes each against the budget.
    const std::string big = dir.file("big.tif");
    writeLayout(big, Layout{"rgb"}, 1024, 1024);
    ::setenv(kMemoryLimitVariable, "20", 1); // 4 x 3 x 1 MiB fit, 4 x 6 x 1 MiB do not
    EXPECT_NO_THROW(ReadTiffToBitmap(big));
    EXPECT_THROW(ReadTiff16(big, picture), MemoryBudgetError);
    ::unsetenv(kMemoryLimitVariable);
}
