// SPDX-License-Identifier: GPL-3.0-or-later
// Metadata reading speed: ReadMetadata on every camera JPEG of the sample
// corpus (the largest per-file median is the figure), and on a made-up
// 10 MB JPEG to show that only the sections before the scan data are read.
#include "BenchUtil.h"
#include "ExifReader.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using lumivane::TImageMetadata;

namespace {

double MedianReadMs(const std::string& path)
{
    return bench::medianMs(51, [&] {
        TImageMetadata meta;
        const bool found = meta.ReadMetadata(path);
        bench::keep(found);
    });
}

}  // namespace

int main()
{
    const fs::path samples = fs::path(LUMIVANE_SAMPLES_DIR) / "exif";
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(samples))
        if (entry.path().extension() == ".jpg")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::fprintf(stderr, "no sample JPEGs in %s\n", samples.c_str());
        return 1;
    }

    double slowest = 0;
    std::string slowestName;
    for (const auto& file : files) {
        const double ms = MedianReadMs(file.string());
        if (ms > slowest) {
            slowest = ms;
            slowestName = file.filename().string();
        }
    }
    std::printf("slowest file: %s\n", slowestName.c_str());
    bench::figure("read_metadata_ms", slowest, "ms");

    // A 10 MB JPEG: the sections of a real camera file followed by 10 MB of
    // entropy-coded data (bytes without 0xFF). The time must match the small
    // file's, since the scan stops at the start of scan.
    const fs::path source = samples / "ianare_Canon_PowerShot_S40.jpg";
    std::ifstream in(source, std::ios::binary);
    std::string head((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Walk the segments to the real start of scan (an EXIF thumbnail holds
    // markers of its own, so a plain search would stop inside the APP1).
    std::size_t scanEnd = 0;
    for (std::size_t pos = 2; pos + 4 <= head.size();) {
        while (pos < head.size() && (unsigned char)head[pos] == 0xFF)
            ++pos;
        if (pos + 3 > head.size())
            break;
        const int marker = (unsigned char)head[pos];
        const std::size_t length = std::size_t((unsigned char)head[pos + 1] << 8 | (unsigned char)head[pos + 2]);
        pos += 1 + length;
        if (marker == 0xDA) {
            scanEnd = pos;
            break;
        }
    }
    if (scanEnd == 0 || scanEnd > head.size()) {
        std::fprintf(stderr, "no start of scan in %s\n", source.c_str());
        return 1;
    }
    const std::size_t scanBytes = bench::pick<std::size_t>(10, 1) * 1024 * 1024;
    std::string big = head.substr(0, scanEnd);
    big.reserve(big.size() + scanBytes + 2);
    for (std::size_t i = 0; i < scanBytes; ++i)
        big += char(i * 131 % 255);
    big += "\xFF\xD9";
    const fs::path bigPath = fs::temp_directory_path() / "lumivane_bench_10mb.jpg";
    {
        std::ofstream out(bigPath, std::ios::binary | std::ios::trunc);
        out.write(big.data(), std::streamsize(big.size()));
    }
    const double smallMs = MedianReadMs(source.string());
    const double bigMs = MedianReadMs(bigPath.string());
    fs::remove(bigPath);
    bench::figure("read_metadata_source_ms", smallMs, "ms");
    bench::figure("read_metadata_10mb_ms", bigMs, "ms");
    return 0;
}
