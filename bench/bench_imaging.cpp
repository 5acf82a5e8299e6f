// SPDX-License-Identifier: GPL-3.0-or-later
// Imaging figures: opening a 24-megapixel JPEG the way the program does
// against libjpeg's own float-IDCT decode, the preview stretch and a
// quarter turn of a full-size photograph.
#include "BenchUtil.h"

#include "Bitmap24.h"
#include "BitmapRotation.h"
#include "FileIO.h"
#include "JpegCodec.h"
#include "ViewSizes.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include <jpeglib.h>

using namespace lumivane;

namespace {

// A photograph-like synthetic picture: smooth gradients with some texture,
// so the encoder produces a realistic amount of data.
Bitmap24 syntheticPhoto(int width, int height)
{
    Bitmap24 image(width, height);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const unsigned noise = (unsigned(x) * 2654435761u ^ unsigned(y) * 40503u) >> 28;
            row[3 * x] = std::uint8_t((x * 255) / width + noise);
            row[3 * x + 1] = std::uint8_t((y * 255) / height);
            row[3 * x + 2] = std::uint8_t(((x + y) & 255) ^ noise);
        }
    }
    return image;
}

// libjpeg alone: decode from memory with the float IDCT into a reused
// buffer of blue-green-red rows.
void plainDecode(const std::vector<std::uint8_t>& file, std::vector<std::uint8_t>& buffer)
{
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.dct_method = JDCT_FLOAT;
    cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    const std::size_t rowBytes = std::size_t(cinfo.output_width) * 3;
    buffer.resize(rowBytes * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[16];
        const JDIMENSION y = cinfo.output_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(16, cinfo.output_height - y);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = buffer.data() + rowBytes * (y + i);
        jpeg_read_scanlines(&cinfo, rows, count);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
}

} // namespace

int main()
{
    const int width = bench::pick(6000, 600);
    const int height = bench::pick(4000, 400);
    const Bitmap24 photo = syntheticPhoto(width, height);
    const std::vector<std::uint8_t> jpeg = EncodeJpeg(photo, 90);
    const std::string path = "/tmp/lumivane-bench-" + std::to_string(::getpid()) + ".jpg";
    WriteFileAtomically(path, jpeg);

    Bitmap24 opened;
    std::vector<std::uint8_t> plain;
    // Interleave the two measurements so both see the same machine load.
    double openMs = 0, decodeMs = 0;
    std::vector<double> ratios;
    for (int round = 0; round < bench::pick(3, 1); ++round) {
        openMs = bench::medianMs(3, [&] {
            TJPEGImage image;
            image.Smoothing = false;
            image.LoadFromFile(path);
            image.DecodeInto(opened);
        });
        decodeMs = bench::medianMs(3, [&] { plainDecode(jpeg, plain); });
        ratios.push_back(openMs / decodeMs);
    }
    std::sort(ratios.begin(), ratios.end());
    bench::figure("open_24mp_vs_decode", ratios[ratios.size() / 2], "x");
    bench::figure("open_24mp_ms", openMs, "ms");
    bench::figure("decode_24mp_ms", decodeMs, "ms");
    std::remove(path.c_str());

    Bitmap24 preview(kPreviewWidth, kPreviewHeight);
    const double stretchMs = bench::medianMs(50, [&] { stretchDraw(photo, preview); });
    bench::figure("stretch_preview_ms", stretchMs, "ms");

    Bitmap24 source = photo;
    const double rotateMs = bench::medianMs(5, [&] {
        std::unique_ptr<Bitmap24> turned = Rotate90(90, source);
        bench::keep(turned->data()[0]);
    });
    bench::figure("rotate_24mp_ms", rotateMs, "ms");
    return 0;
}
