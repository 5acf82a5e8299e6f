// SPDX-License-Identifier: GPL-3.0-or-later
// Progressive JPEGs and their scans: how many scans the sample photographs
// use, what decoding a 24-megapixel progressive photograph costs, how soon
// one repeating its last scan 100 or 5000 times is refused, and how soon a
// decode abandoned through the stop flag returns.
#include "BenchUtil.h"
#include "HostileFiles.h"
#include "JpegCodec.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

using namespace lumivane;
namespace ts = lumivane::test_support;

namespace {

double msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main()
{
    // The most scans any sample photograph has.
    int mostScans = 0;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(LUMIVANE_SAMPLES_DIR) + "/exif")) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        try {
            TJPEGImage image;
            image.LoadFromBytes(std::move(bytes));
            JpegRowReader reader(image);
            mostScans = std::max(mostScans, reader.ScansRead());
        } catch (const std::exception&) {
            // Not a JPEG libjpeg reads: no scans to count.
        }
    }
    bench::figure("sample_jpeg_most_scans", mostScans, "scans");

    const int width = 6000, height = 4000;
    const std::vector<std::uint8_t> honest = ts::PatternProgressiveJpeg(width, height, 90);
    TJPEGImage tenScans;
    tenScans.LoadFromBytes(honest);
    Bitmap24 out;
    bench::figure("decode_24mp_10_scans_ms", bench::medianMs(3, [&] { tenScans.DecodeInto(out); }), "ms");
    // Scan bombs are refused once their work passes the bound: the time to
    // that refusal.
    for (const int scans : {100, 5000}) {
        TJPEGImage bomb;
        bomb.LoadFromBytes(ts::RepeatLastScan(honest, scans));
        const auto refuseStart = std::chrono::steady_clock::now();
        try {
            bomb.DecodeInto(out);
        } catch (const JpegError&) {
        }
        bench::figure("refuse_24mp_" + std::to_string(scans) + "_scans_ms", msSince(refuseStart), "ms");
    }

    // The flag set half-way through a decode, to the decoder's return; the
    // worst of five.
    const double whole = bench::medianMs(1, [&] { tenScans.DecodeInto(out); });
    double worst = 0;
    for (int run = 0; run < 5; ++run) {
        std::atomic<bool> stop{false};
        std::atomic<bool> returned{false};
        std::thread decoder([&] {
            const ScopedDecodeStop watch(&stop);
            Bitmap24 local;
            try {
                tenScans.DecodeInto(local);
            } catch (const DecodeStoppedError&) {
            }
            returned = true;
        });
        std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(whole / 2));
        const auto flagged = std::chrono::steady_clock::now();
        stop = true;
        decoder.join();
        worst = std::max(worst, msSince(flagged));
    }
    bench::figure("stop_during_decode_ms", worst, "ms");
    return 0;
}
