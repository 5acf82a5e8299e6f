// SPDX-License-Identifier: GPL-3.0-or-later
// TIFF output and 16-bit TIFF input on 24 megapixels.
//
//   figure save_24mp_tiff16_ms        one save of a 16-bit photograph as a
//                                     16-bit TIFF by the exact method
//                                     (SavePipeline: correction at 16 bits,
//                                     Deflate with the predictor, streamed
//                                     into the atomic writer's temporary file)
//   figure libtiff_24mp_tiff16_ms     libtiff alone writing the same 16-bit
//                                     picture from memory, same compression,
//                                     predictor and strips, to a plain file
//   figure save_24mp_tiff16_vs_libtiff
//                                     the two, medians of the same run
//   figure read_24mp_tiff16_ms        the whole 16-bit open (ReadTiff16)
//   figure read_24mp_tiff16_vs_libtiff
//                                     / TIFFReadEncodedStrip of every strip of
//                                     the same file, same process
#include "BenchUtil.h"

#include "Bitmap24.h"
#include "Bitmap48.h"
#include "CorrectionSetup.h"
#include "FileIO.h"
#include "SavePipeline.h"
#include "TemporaryFolder.h"
#include "Tiff16Reader.h"
#include "TiffWriter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tiffio.h>
#include <unistd.h>
#include <vector>

using namespace lumivane;
namespace fs = std::filesystem;

namespace {

// Smooth gradients with grain, as a developed raw file has.
Bitmap48 photoLike(int width, int height)
{
    Bitmap48 photo(width, height);
    unsigned state = 12345;
    for (int y = 0; y < height; ++y) {
        std::uint16_t* row = photo.row(y);
        for (int x = 0; x < width; ++x) {
            state = state * 1103515245u + 12345u;
            const int grain = int((state >> 22) & 255) - 128;
            for (int c = 0; c < 3; ++c)
                row[3 * x + c] = std::uint16_t(std::clamp(
                    8000 + (x * (20000 + 9000 * c)) / width + (y * 25000) / height + grain, 0, 65535));
        }
    }
    return photo;
}

Bitmap24 eightOf(const Bitmap48& photo)
{
    Bitmap24 eight(photo.width(), photo.height());
    for (int y = 0; y < photo.height(); ++y)
        for (std::size_t i = 0; i < photo.rowValues(); ++i)
            eight.scanLine(y)[i] = std::uint8_t((photo.row(y)[i] * 255u + 32767u) / 65535u);
    return eight;
}

Bitmap24 maskLike(int width, int height)
{
    Bitmap24 mask(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double dx = (x - width / 2.0) / width, dy = (y - height / 2.0) / height;
            const auto v = std::uint8_t(230 - 180 * (dx * dx + dy * dy));
            std::uint8_t* p = mask.scanLine(y) + 3 * x;
            p[0] = p[1] = p[2] = v;
        }
    return mask;
}

// libtiff writing red-green-blue 16-bit rows from memory as the program's
// writer lays them out.
void libtiffWrite(const std::string& path, const std::vector<std::uint16_t>& rgb, int width, int height)
{
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t)
        std::exit(1);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, std::uint32_t(width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, std::uint32_t(height));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(t, TIFFTAG_ZIPQUALITY, 6);
    TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, std::uint32_t(TiffRowsPerStrip(std::size_t(width) * 6)));
    std::vector<std::uint16_t> row(std::size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        // libtiff's predictor works in the row it is given: a copy, as the
        // program's writer hands it a band of its own.
        std::copy_n(rgb.data() + std::size_t(y) * row.size(), row.size(), row.data());
        if (TIFFWriteScanline(t, row.data(), std::uint32_t(y), 0) != 1)
            std::exit(1);
    }
    TIFFClose(t);
}

// Every strip of the file decoded, nothing else.
void libtiffRead(const std::string& path, std::vector<std::uint8_t>& buffer)
{
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t)
        std::exit(1);
    buffer.resize(std::size_t(TIFFStripSize(t)));
    for (tstrip_t s = 0; s < TIFFNumberOfStrips(t); ++s)
        if (TIFFReadEncodedStrip(t, s, buffer.data(), tmsize_t(buffer.size())) < 0)
            std::exit(1);
    TIFFClose(t);
}

} // namespace

int main()
{
    const int width = bench::pick(6000, 600), height = bench::pick(4000, 400);
    const int runs = 5;
    const lumivane::test_support::TemporaryFolder temporary("lumivane-bench-tiff16");
    const fs::path folder = temporary.path();

    const Bitmap48 photo16 = photoLike(width, height);
    const Bitmap24 eight = eightOf(photo16);
    const Bitmap24 mask = maskLike(width, height);
    CorrectionChoices choices;
    choices.mode.method = CorrectionMethod::Exact;
    choices.tiff = true;
    choices.depth = 16;
    const CorrectionSetup setup = SetUpCorrection(mask, {230, 230, 230}, choices, width, height);
    const std::string source = (folder / "none.tif").string(); // no source: no tags carried

    // The corrected picture, red-green-blue, for libtiff to write.
    SavePipeline pipeline;
    const std::string ours = (folder / "ours.tif").string();
    pipeline.Save(eight, photo16, setup, source, OutputTarget(ours));
    std::vector<std::uint16_t> corrected(std::size_t(width) * std::size_t(height) * 3);
    {
        TIFF* t = TIFFOpen(ours.c_str(), "r");
        if (!t)
            return 1;
        for (int y = 0; y < height; ++y)
            if (TIFFReadScanline(t, corrected.data() + std::size_t(y) * std::size_t(width) * 3, std::uint32_t(y), 0) != 1)
                return 1;
        TIFFClose(t);
    }
    // The two sides alternate in the same run, medians compared.
    using bench::median;
    auto timeOnce = [](auto&& fn) { return bench::msOf(fn); };
    const int rounds = bench::smokeRun() ? 1 : runs;

    std::vector<double> saveTimes, libtiffTimes;
    const std::string theirs = (folder / "libtiff.tif").string();
    for (int i = 0; i < rounds; ++i) {
        saveTimes.push_back(timeOnce([&] { pipeline.Save(eight, photo16, setup, source, OutputTarget(ours)); }));
        libtiffTimes.push_back(timeOnce([&] { libtiffWrite(theirs, corrected, width, height); }));
    }
    const double save = median(saveTimes), plain = median(libtiffTimes);
    bench::figure("save_24mp_tiff16_ms", save, "ms");
    bench::figure("libtiff_24mp_tiff16_ms", plain, "ms");
    bench::figure("save_24mp_tiff16_vs_libtiff", save / plain, "x");

    std::vector<double> readTimes, stripTimes;
    std::vector<std::uint8_t> strip;
    for (int i = 0; i < rounds; ++i) {
        readTimes.push_back(timeOnce([&] {
            Tiff16Picture picture;
            if (!ReadTiff16(theirs, picture))
                std::exit(1);
        }));
        stripTimes.push_back(timeOnce([&] { libtiffRead(theirs, strip); }));
    }
    const double read = median(readTimes), strips = median(stripTimes);
    bench::figure("read_24mp_tiff16_ms", read, "ms");
    bench::figure("read_24mp_tiff16_vs_libtiff", read / strips, "x");

    return 0;
}
