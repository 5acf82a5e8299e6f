// SPDX-License-Identifier: GPL-3.0-or-later
// Strips compressed on worker threads: the predictor's arithmetic, and files
// whose every strip decodes as libtiff's own encoding of the same rows does.
#include "TiffStripEncoder.h"
#include "TiffWriter.h"

#include "FileIO.h"
#include "ImagingTestUtil.h"
#include "TiffFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <tiffio.h>

using namespace lumivane;
using lumivane::testing::ScratchDir;

namespace {

// Rows of red-green-blue samples with steps both ways, so the predictor's
// differences wrap around at both depths.
std::vector<std::uint8_t> rowsFor(int width, int height, int bits)
{
    const std::size_t values = std::size_t(width) * std::size_t(height) * 3;
    std::vector<std::uint8_t> bytes(values * std::size_t(bits / 8));
    for (std::size_t i = 0; i < values; ++i) {
        const std::uint32_t v = std::uint32_t((i * 2654435761u) >> 11);
        if (bits == 16) {
            const auto s = std::uint16_t(v % 5 == 0 ? v : 30000 + (i % 97) * 7);
            std::memcpy(bytes.data() + 2 * i, &s, 2);
        } else {
            bytes[i] = std::uint8_t(v % 5 == 0 ? v : 100 + (i % 31));
        }
    }
    return bytes;
}

// libtiff writing the rows through its own codec, with the writer's layout.
void writeWithLibtiff(const std::string& path, const std::vector<std::uint8_t>& rows, int width, int height, int bits)
{
    TIFF* t = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(t, nullptr);
    const std::size_t rowBytes = std::size_t(width) * 3 * std::size_t(bits / 8);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, std::uint32_t(width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, std::uint32_t(height));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(t, TIFFTAG_ZIPQUALITY, 6);
    TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, std::uint32_t(TiffRowsPerStrip(rowBytes)));
    std::vector<std::uint8_t> row(rowBytes);
    for (int y = 0; y < height; ++y) {
        std::memcpy(row.data(), rows.data() + std::size_t(y) * rowBytes, rowBytes);
        ASSERT_EQ(TIFFWriteScanline(t, row.data(), std::uint32_t(y), 0), 1);
    }
    TIFFClose(t);
}

struct Strips {
    std::vector<std::vector<std::uint8_t>> decoded;
    std::vector<std::vector<std::uint8_t>> raw;
};

Strips stripsOf(const std::string& path)
{
    Strips strips;
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) {
        ADD_FAILURE() << "cannot open " << path;
        return strips;
    }
    for (tstrip_t s = 0; s < TIFFNumberOfStrips(t); ++s) {
        std::vector<std::uint8_t> decoded(std::size_t(TIFFStripSize(t)));
        const tmsize_t got = TIFFReadEncodedStrip(t, s, decoded.data(), tmsize_t(decoded.size()));
        decoded.resize(got < 0 ? 0 : std::size_t(got));
        strips.decoded.push_back(decoded);
        std::vector<std::uint8_t> raw(std::size_t(TIFFGetStrileByteCount(t, s)));
        if (TIFFReadRawStrip(t, s, raw.data(), tmsize_t(raw.size())) < 0)
            raw.clear();
        strips.raw.push_back(raw);
    }
    TIFFClose(t);
    return strips;
}

} // namespace

TEST(TiffStripEncoder, HorizontalPredictor_DifferencesPerChannelWrapAround)
{
    // Two pixels a row, two rows: each row starts afresh.
    const std::uint8_t eight[] = {10, 200, 0, 5, 255, 1, /* row 2 */ 7, 7, 7, 9, 6, 7};
    const std::uint8_t eightDiff[] = {10, 200, 0, 251, 55, 1, 7, 7, 7, 2, 255, 0};
    std::uint8_t rows8[12];
    std::memcpy(rows8, eight, sizeof rows8);
    ApplyHorizontalPredictor(rows8, 2, 6, 8);
    EXPECT_EQ(std::vector<std::uint8_t>(rows8, rows8 + 12), std::vector<std::uint8_t>(eightDiff, eightDiff + 12));

    const std::uint16_t sixteen[] = {1000, 65535, 0, 999, 1, 65535, 40000, 2, 3};
    const std::uint16_t sixteenDiff[] = {1000, 65535, 0, 65535, 2, 65535, 39001, 1, 4};
    std::uint8_t rows16[sizeof sixteen];
    std::memcpy(rows16, sixteen, sizeof rows16);
    ApplyHorizontalPredictor(rows16, 1, 9, 16);
    std::uint16_t back[9];
    std::memcpy(back, rows16, sizeof back);
    EXPECT_EQ(std::vector<std::uint16_t>(back, back + 9), std::vector<std::uint16_t>(sixteenDiff, sixteenDiff + 9));
}

TEST(TiffStripEncoder, ManyStripsOnWorkers_DecodeAsLibtiffsOwnEncoding)
{
    struct Case {
        int width, height, bits, workers, rowsAtOnce;
    };
    // Wide rows make strips of a few rows: more strips than the encoder has
    // slots, written from bands that straddle strips.
    const Case cases[] = {{3000, 211, 16, 1, 5}, {3000, 211, 16, 3, 64}, {9000, 97, 8, 2, 13},
                          {7, 3, 8, 4, 1},       {9000, 40, 16, 2, 40}};
    ScratchDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " at " + std::to_string(c.bits) +
                     ", " + std::to_string(c.workers) + " workers");
        const std::vector<std::uint8_t> rows = rowsFor(c.width, c.height, c.bits);
        const std::size_t rowBytes = std::size_t(c.width) * 3 * std::size_t(c.bits / 8);
        const std::string ours = dir.file("ours.tif"), theirs = dir.file("theirs.tif");
        std::remove(ours.c_str());
        OutputTarget(ours).WriteStreamed([&](TemporaryFile& file) {
            TiffRowWriter writer(file, c.width, c.height, c.bits, {}, false, c.workers);
            for (int y = 0; y < c.height; y += c.rowsAtOnce)
                if (const int err = writer.WriteRows(rows.data() + std::size_t(y) * rowBytes, rowBytes,
                                                     std::min(c.rowsAtOnce, c.height - y)))
                    return err;
            return writer.Finish();
        });
        writeWithLibtiff(theirs, rows, c.width, c.height, c.bits);
        const Strips a = stripsOf(ours), b = stripsOf(theirs);
        ASSERT_EQ(a.decoded.size(), b.decoded.size());
        EXPECT_GT(a.decoded.size(), c.height > 10 ? 7u : 0u);
        for (std::size_t s = 0; s < a.decoded.size(); ++s) {
            SCOPED_TRACE("strip " + std::to_string(s));
            EXPECT_EQ(a.decoded[s], b.decoded[s]);
            // A whole strip is the very zlib stream libtiff's codec makes;
            // a shorter last strip libtiff compresses its own way (its rows
            // still decode the same, as checked above).
            if (s + 1 < a.decoded.size()) {
                EXPECT_EQ(a.raw[s], b.raw[s]);
            }
        }
        EXPECT_EQ(lumivane::testing::ReadTiffBack(ours).samples.size(), std::size_t(c.width) * c.height * 3);
    }
}
