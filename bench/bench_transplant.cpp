// SPDX-License-Identifier: GPL-3.0-or-later
// What the EXIF transplant adds to saving a 24-megapixel JPEG at quality 90.
//
//   figure transplant_overhead_pct       (save with EXIF - save) / save * 100,
//                                        the save with EXIF writing the encoded
//                                        bytes behind the source's head in one
//                                        atomic write (WriteJpegWithExif); the
//                                        difference is that of the two writes
//   figure transplant_copy_overhead_pct  the same for saving first and then
//                                        rebuilding the file with CopyExif
//   figure transplant_ms                 CopyExif alone, on a fresh output
//   figure save_24mp_jpeg_ms             encode + atomic write (SaveJpegFile)
//   figure output_thumbnail_ms           a 160 x 120 EXIF thumbnail made from the
//                                        encoded output (decoded at 1/8, averaged
//                                        down, encoded): what describing the
//                                        written picture adds to a save when
//                                        the picture was not at hand
//   figure output_thumbnail_reduced_ms   the same thumbnail as a save makes it:
//                                        the rows reduced eightfold on their
//                                        way to the encoder, averaged down,
//                                        encoded
//
// The source is camera-like: SOI, a 12000-byte APP1 section, then JPEG data.
#include "BenchUtil.h"

#include "Bitmap24.h"
#include "ExifTransplant.h"
#include "FileIO.h"
#include "JpegCodec.h"
#include "OutputMetadata.h"
#include "ReducedPicture.h"
#include "TemporaryFolder.h"
#include "TestOracles.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

using namespace lumivane;
namespace fs = std::filesystem;

namespace {

// Smooth gradients with a little grain, so the file size is close to a
// real photograph's (about 0.4 bytes per pixel at quality 90).
Bitmap24 cameraLikePhoto(int width, int height)
{
    Bitmap24 photo(width, height);
    unsigned state = 12345;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = photo.scanLine(y);
        for (int x = 0; x < width; ++x) {
            state = state * 1103515245u + 12345u;
            const int grain = int((state >> 27) & 7) - 4;
            auto clamp = [](int v) { return std::uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v)); };
            row[3 * x + 0] = clamp(40 + x * 160 / width + grain);
            row[3 * x + 1] = clamp(60 + y * 150 / height + grain);
            row[3 * x + 2] = clamp(90 + ((x / 37 + y / 53) % 7) * 20 + grain);
        }
    }
    return photo;
}

std::vector<std::uint8_t> cameraLikeSource()
{
    // SOI, APP1 of length 12000, "Exif\0\0" and the start of a TIFF header.
    static const std::uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE1, 12000 >> 8, 12000 & 0xFF,
                                        'E',  'x',  'i',  'f',  0,          0,
                                        'I',  'I',  0x2A, 0,    8,          0, 0, 0};
    std::vector<std::uint8_t> file(std::begin(head), std::end(head));
    file.reserve(12004 + 1000000);
    while (file.size() < 12004)
        file.push_back(std::uint8_t(file.size() * 13));
    const std::vector<std::uint8_t> image = EncodeJpeg(cameraLikePhoto(640, 480), 90);
    file.insert(file.end(), image.begin() + 20, image.end());
    return file;
}

} // namespace

int main()
{
    const lumivane::test_support::TemporaryFolder folder("lumivane-bench-transplant");
    const fs::path dir = folder.path();
    const std::string source = (dir / "IMG_0001.JPG").string();
    const std::string out = (dir / "IMG_0001.jpg").string();

    const Bitmap24 photo = cameraLikePhoto(bench::pick(6000, 600), bench::pick(4000, 400));
    WriteFileAtomically(source, cameraLikeSource());

    // The whole save once, for the denominator.
    const double save = bench::medianMs(5, [&] { SaveJpegFile(photo, 90, out); });

    // The parts that differ between a save with and without EXIF, all on the
    // same encoded bytes and interleaved so they see the same machine state:
    // the encode itself is identical and is left out, which keeps the noise
    // of a busy machine out of a difference of a few milliseconds.
    const std::vector<std::uint8_t> encoded = EncodeJpeg(photo, 90);
    const int runs = bench::pick(11, 1);
    std::vector<double> plainWrites, exifWrites, copies;
    for (int i = 0; i < runs; ++i) {
        TransplantResult copied = TransplantResult::NotApplicable, written = TransplantResult::NotApplicable;
        plainWrites.push_back(bench::msOf([&] { WriteFileAtomically(out, encoded); }));
        copies.push_back(bench::msOf([&] { copied = CopyExif(source, out); }));
        exifWrites.push_back(bench::msOf([&] { written = WriteJpegWithExif(encoded, source, out); }));
        if (copied != TransplantResult::Transplanted || written != TransplantResult::Transplanted)
            return 2;
    }
    const double plainWrite = bench::median(plainWrites);
    const double exifWrite = bench::median(exifWrites);
    const double copy = bench::median(copies);
    const double thumbnail = bench::medianMs(5, [&] {
        if (ThumbnailOfJpeg(encoded.data(), encoded.size())(160, 120, 90).empty())
            std::exit(2);
    });

    const double reducedThumbnail = bench::medianMs(5, [&] {
        ReducedPictureBuilder reduced(photo.width(), photo.height());
        reduced.AddRows(photo.data(), photo.rowBytes(), 0, photo.height());
        const auto picture = std::make_shared<const Bitmap24>(reduced.Picture());
        // (A smoke run's small picture reduces below 160 x 120 and takes
        // the decoding way.)
        if (ThumbnailOfReducedPicture(picture, ThumbnailOfJpeg(encoded.data(), encoded.size()))(160, 120, 90).empty())
            std::exit(2);
    });

    std::printf("output %.1f MiB\n", double(encoded.size()) / (1 << 20));
    bench::figure("save_24mp_jpeg_ms", save, "ms");
    bench::figure("write_plain_ms", plainWrite, "ms");
    bench::figure("write_with_exif_ms", exifWrite, "ms");
    bench::figure("transplant_ms", copy, "ms");
    bench::figure("output_thumbnail_ms", thumbnail, "ms");
    bench::figure("output_thumbnail_reduced_ms", reducedThumbnail, "ms");
    bench::figure("transplant_overhead_pct", (exifWrite - plainWrite) / save * 100.0, "%");
    bench::figure("transplant_copy_overhead_pct", copy / save * 100.0, "%");
    return 0;
}
