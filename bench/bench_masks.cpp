// SPDX-License-Identifier: GPL-3.0-or-later
// The mask folder and the mask check: choosing one photograph's mask from a
// folder of 50 masks (warm, and the first scan, which reads only each file's
// EXIF head), and the quality check of the 24-megapixel benchmark mask
// against the time to decode it.
#include "BenchFiles.h"
#include "BenchUtil.h"
#include "CameraExif.h"
#include "ImageFile.h"
#include "MaskFolder.h"
#include "MaskQuality.h"

#include <filesystem>
#include <unistd.h>

using namespace lumivane;
namespace fs = std::filesystem;

int main()
{
    // 50 masks of one camera at ten apertures and five focal lengths, each
    // a 1500 x 1000 JPEG: the scan must not decode them.
    const fs::path folder = fs::temp_directory_path() / ("lumivane_bench_masks_" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    const Bitmap24 picture = bench::radialMask(bench::pick(1500, 150), bench::pick(1000, 100));
    const double stops[] = {1.4, 2, 2.8, 4, 5.6, 8, 11, 16, 22, 32};
    const double focals[] = {24, 35, 50, 70, 105};
    int n = 0;
    for (double f : stops)
        for (double mm : focals)
            lumivane::testing::WriteCameraJpeg((folder / ("mask" + std::to_string(n++) + ".jpg")).string(), picture,
                                               lumivane::testing::Camera("Canon", "Canon EOS 5D Mark IV", f, mm,
                                                                         "EF24-105mm f/4L IS USM"));
    // The photograph lies outside the folder.
    const std::string photoJpg = folder.string() + "_photo.jpg";
    lumivane::testing::WriteCameraJpeg(photoJpg, bench::texturedPhoto(600, 400, 7),
                                       lumivane::testing::Camera("Canon", "Canon EOS 5D Mark IV", 6.3, 60,
                                                                 "EF24-105mm f/4L IS USM"));

    std::size_t masks = 0;
    const double first = bench::medianMs(5, [&] {
        MaskFolder fresh;
        fresh.SetFolder(folder.string());
        masks = fresh.Scan().size();
        bench::keep(masks);
    });
    MaskFolder warm;
    warm.SetFolder(folder.string());
    warm.Scan();
    std::string chosen;
    const double match = bench::medianMs(15, [&] {
        chosen = ChooseFromFolder(warm, photoJpg).path;
        bench::keep(chosen);
    });
    std::printf("masks %zu, chosen %s\n", masks, fs::path(chosen).filename().c_str());
    bench::figure("mask_scan_first_ms", first, "ms");
    bench::figure("mask_match_warm_ms", match, "ms");
    fs::remove_all(folder);
    fs::remove(photoJpg);

    // The quality check against the decode of the same mask, both warm.
    const bench::BenchFiles files = bench::writeBenchFiles();
    Bitmap24 mask;
    const double decode = bench::medianMs(5, [&] { DecodeBySuffix(files.mask, mask, JpegSmoothing::On); });
    const HotspotLevels levels = SampleCentreLevels(mask);
    MaskQuality quality;
    const double check = bench::medianMs(5, [&] {
        quality = CheckMaskQuality(mask, levels);
        bench::keep(quality);
    });
    std::printf("benchmark mask: %zu findings, texture %.3f, offset %.4f\n", quality.findings.size(),
                quality.textureRms, quality.brightOffset);
    bench::figure("mask_decode_24mp_ms", decode, "ms");
    bench::figure("mask_quality_24mp_ms", check, "ms");
    bench::figure("mask_quality_vs_decode", check / decode, "x");
    const double smooth = bench::medianMs(3, [&] {
        const Bitmap24 smoothed = SmoothMask(mask);
        bench::keep(smoothed);
    });
    bench::figure("mask_smooth_24mp_ms", smooth, "ms");
    bench::removeBenchFiles(files);
    return 0;
}
