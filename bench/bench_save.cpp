// SPDX-License-Identifier: GPL-3.0-or-later
// Saving processed photographs: how much the save adds to the JPEG encode it
// cannot avoid, and how fast a batch of 12-megapixel photographs goes.
//
//   figure save_24mp_vs_encode     one save of a 24-megapixel photograph at
//                                  quality 90 through SavePipeline (band-wise
//                                  correction on a second thread, encode,
//                                  EXIF head of a ~12 KB APP1, atomic write to
//                                  a temporary folder) / EncodeJpeg of the same
//                                  corrected bitmap to memory; interleaved in
//                                  the same run, medians
//   figure save_24mp_ms, encode_24mp_ms
//   figure save_24mp_correct_ms    the parts, each alone: the whole correction
//   figure save_24mp_write_ms      on one thread, and the write of the encoded
//                                  bytes with the EXIF head
//   figure save_24mp_crop_ms       the pipeline save with margins 10, 20, 30, 40
//   figure save_24mp_plain_vs_encode
//                                  the sequence the window used before: correct
//                                  the working copy in place, encode, write,
//                                  restore the working copy (for comparison)
//   figure save_24mp_exact_vs_encode, save_24mp_exact_luma_vs_encode,
//          save_24mp_exact_colour_vs_encode, save_24mp_additive_vs_encode
//                                  the save of a 24-megapixel JPEG file as
//                                  "Save Images" and lumivane-cli make it:
//                                  SavePipeline::Save from the file's decoder
//                                  with a CorrectionSetup (decode, correct
//                                  with the exact method's fall-off and
//                                  colour, fall-off only, colour only, or the
//                                  additive method, encode at quality 90,
//                                  write with the EXIF head) / decoding the
//                                  same file and encoding it at quality 90
//                                  with no correction; interleaved in the same
//                                  run, medians
//   figure batch_12mp_photos_per_s ten 12-megapixel JPEGs: open, decode into
//                                  reused bitmaps, fit the mask, pipeline save
//   figure batch_peak_mib          peak resident memory of the batch, measured
//                                  in a child process that does nothing else
#include "BenchUtil.h"

#include "Bitmap24.h"
#include "CorrectionKernel.h"
#include "ExifTransplant.h"
#include "FileIO.h"
#include "JpegCodec.h"
#include "MaskGeometry.h"
#include "SavePipeline.h"
#include "CorrectionSetup.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace lumivane;
namespace fs = std::filesystem;

namespace {

const float kDamping = DampingForStrength(40);
const CorrectionTargets kTargets = TargetsFor(230, 230, 230, 25);

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::uint8_t clampByte(int v)
{
    return std::uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Gradients, a pattern and grain: a file size near a real photograph's.
Bitmap24 photoLike(int width, int height, unsigned seed)
{
    Bitmap24 photo(width, height);
    unsigned state = seed * 2654435761u + 7;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = photo.scanLine(y);
        for (int x = 0; x < width; ++x) {
            state = state * 1103515245u + 12345u;
            const int grain = int((state >> 27) & 7) - 4;
            row[3 * x + 0] = clampByte(40 + x * 160 / width + grain);
            row[3 * x + 1] = clampByte(60 + y * 150 / height + grain);
            row[3 * x + 2] = clampByte(90 + ((x / 37 + y / 53) % 7) * 20 + grain);
        }
    }
    return photo;
}

// A flat field darkening towards the corners.
Bitmap24 maskLike(int width, int height)
{
    Bitmap24 mask(width, height);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = mask.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const double dx = (x - width / 2.0) / width, dy = (y - height / 2.0) / height;
            const std::uint8_t v = clampByte(int(230 - 180 * (dx * dx + dy * dy)));
            row[3 * x + 0] = row[3 * x + 1] = row[3 * x + 2] = v;
        }
    }
    return mask;
}

// A camera file: SOI, a 12000-byte APP1 section, then the encoded picture.
std::vector<std::uint8_t> withCameraHead(const std::vector<std::uint8_t>& encoded)
{
    // SOI, APP1 of length 12000, "Exif\0\0" and the start of a TIFF header.
    static const std::uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE1, 12000 >> 8, 12000 & 0xFF,
                                        'E',  'x',  'i',  'f',  0,          0,
                                        'I',  'I',  0x2A, 0,    8,          0, 0, 0};
    std::vector<std::uint8_t> file(std::begin(head), std::end(head));
    file.reserve(12004 + 1000000);
    while (file.size() < 12004)
        file.push_back(std::uint8_t(file.size() * 13));
    file.insert(file.end(), encoded.begin() + 20, encoded.end());
    return file;
}

fs::path makeTempFolder()
{
    std::string pattern = (fs::temp_directory_path() / "lumivane-bench-save-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        std::exit(1);
    return pattern;
}

// The save as the window did it before the pipeline: correct the working
// copy in place, encode, write with the EXIF head, restore the working copy.
// Kept as a reference for the figures and for the file comparison.
void plainSave(const Bitmap24& image1, Bitmap24& photoWork, const Bitmap24& maskFull,
               const CorrectionRegion& region, const std::string& source, const std::string& out)
{
    ApplyCorrection(photoWork, maskFull, region, kDamping, kTargets);
    const std::vector<std::uint8_t> encoded = EncodeJpeg(photoWork, 90);
    WriteJpegWithExif(encoded, source, out);
    draw(image1, photoWork, 0, 0);
}

struct BatchFigures {
    double photosPerSecond = 0;
    double peakMiB = 0;
};

// Ten 12-megapixel JPEGs the way a batch save treats them.
void runBatch(int resultFd)
{
    const fs::path dir = makeTempFolder();
    const int count = bench::pick(10, 2), width = bench::pick(4000, 400), height = bench::pick(3000, 300);
    std::vector<std::string> sources;
    {
        const std::vector<std::uint8_t> file = withCameraHead(EncodeJpeg(photoLike(width, height, 3), 92));
        for (int i = 0; i < count; ++i) {
            sources.push_back((dir / ("IMG_" + std::to_string(1000 + i) + ".JPG")).string());
            WriteFileAtomically(sources.back(), file);
        }
    }
    const Bitmap24 mask = maskLike(1600, 1200);
    fs::create_directory(dir / "out");

    // Storage kept across photographs, as the window keeps its bitmaps and
    // its pipeline.
    Bitmap24 image1, maskFull;
    SavePipeline pipeline;
    const auto t0 = Clock::now();
    for (int i = 0; i < count; ++i) {
        TJPEGImage jpeg;
        jpeg.Smoothing = false;
        jpeg.LoadFromFile(sources[i]);
        jpeg.DecodeInto(image1);
        maskFull.setSize(image1.width(), image1.height());
        stretchDraw(mask, maskFull);

        const CorrectionRegion region = FullSizeRegion(0, 0, image1.width(), image1.height());
        const std::string out = (dir / "out" / fs::path(sources[i]).filename()).replace_extension("jpg").string();
        if (pipeline.SaveCorrectedJpeg(image1, maskFull, region, kDamping, kTargets, CropMargins{}, 90, sources[i],
                                       out)
                .transplant != TransplantResult::Transplanted)
            std::exit(3);
    }
    BatchFigures figures;
    figures.photosPerSecond = count / (msSince(t0) / 1000.0);
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    figures.peakMiB = double(usage.ru_maxrss) / 1024.0; // ru_maxrss is in KiB on Linux
    if (::write(resultFd, &figures, sizeof figures) != ssize_t(sizeof figures))
        std::exit(4);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

} // namespace

int main()
{
    // The batch first, in a child that has touched nothing large yet, so its
    // peak memory is the batch's alone.
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return 1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        runBatch(pipeFds[1]);
        std::_Exit(0);
    }
    ::close(pipeFds[1]);
    BatchFigures batch;
    const bool gotBatch = ::read(pipeFds[0], &batch, sizeof batch) == ssize_t(sizeof batch);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!gotBatch || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return 2;

    const fs::path dir = makeTempFolder();
    const std::string source = (dir / "IMG_0001.JPG").string();
    const std::string out = (dir / "IMG_0001.jpg").string();
    const std::string plainOut = (dir / "IMG_0001.plain.jpg").string();
    const int width = bench::pick(6000, 600), height = bench::pick(4000, 400);
    const Bitmap24 image1 = photoLike(width, height, 1);
    WriteFileAtomically(source, withCameraHead(EncodeJpeg(photoLike(64, 48, 2), 90)));
    Bitmap24 maskFull(width, height);
    stretchDraw(maskLike(1500, 1000), maskFull);
    const CorrectionRegion region = FullSizeRegion(0, 0, width, height);
    Bitmap24 corrected = image1;
    ApplyCorrection(corrected, maskFull, region, kDamping, kTargets);
    Bitmap24 photoWork = image1;

    SavePipeline pipeline;
    auto pipelineSave = [&](const CropMargins& crop) {
        pipeline.SaveCorrectedJpeg(image1, maskFull, region, kDamping, kTargets, crop, 90, source, out);
    };

    // Warm-up: tables, the pipeline's buffers, the page cache.
    pipelineSave(CropMargins{});
    plainSave(image1, photoWork, maskFull, region, source, plainOut);
    bench::keep(EncodeJpeg(corrected, 90));
    const bool sameFile = ReadWholeFile(out) == ReadWholeFile(plainOut);

    // Save and encode alone interleaved, so both see the same machine state.
    const int runs = bench::pick(11, 1);
    std::vector<double> saves, encodes, plains, encodes2;
    for (int i = 0; i < runs; ++i) {
        auto t0 = Clock::now();
        pipelineSave(CropMargins{});
        saves.push_back(msSince(t0));

        t0 = Clock::now();
        bench::keep(EncodeJpeg(corrected, 90));
        encodes.push_back(msSince(t0));

        t0 = Clock::now();
        plainSave(image1, photoWork, maskFull, region, source, plainOut);
        plains.push_back(msSince(t0));

        t0 = Clock::now();
        bench::keep(EncodeJpeg(corrected, 90));
        encodes2.push_back(msSince(t0));
    }

    // The parts alone.
    std::vector<std::uint8_t> correctedBytes(corrected.byteCount());
    const double correctMs = bench::medianMs(5, [&] {
        const CorrectionPass pass(image1, maskFull, region, kDamping, kTargets);
        pass.CorrectInto(Rect{0, 0, width, height}, correctedBytes.data(), std::ptrdiff_t(corrected.rowBytes()));
    });
    const std::vector<std::uint8_t> encoded = EncodeJpeg(corrected, 90);
    const double writeMs = bench::medianMs(5, [&] { WriteJpegWithExif(encoded, source, out); });
    const double cropMs = bench::medianMs(3, [&] { pipelineSave(CropMargins{10, 20, 30, 40}); });

    // The real save of a file against decoding and encoding it: the
    // photograph is a camera-sized JPEG on disk, read a band at a time.
    const std::string bigSource = (dir / "IMG_0002.JPG").string();
    const std::string bigOut = (dir / "IMG_0002.jpg").string();
    WriteFileAtomically(bigSource, withCameraHead(EncodeJpeg(image1, 92)));
    const HotspotLevels levels = SampleCentreLevels(maskFull);
    Bitmap24 decoded(width, height);
    auto decodeAndEncode = [&] {
        TJPEGImage jpeg;
        jpeg.Smoothing = false;
        jpeg.LoadFromFile(bigSource);
        jpeg.DecodeInto(decoded);
        bench::keep(EncodeJpeg(decoded, 90));
    };
    auto realSave = [&](CorrectionMode mode) {
        CorrectionChoices choices;
        choices.strength = 40;
        choices.mode = mode;
        choices.quality = 90;
        const CorrectionSetup setup = SetUpCorrection(maskFull, levels, choices, width, height);
        TJPEGImage jpeg;
        jpeg.Smoothing = false;
        jpeg.LoadFromFile(bigSource);
        JpegRowReader reader(jpeg);
        pipeline.Save(reader, setup, bigSource, bigOut);
    };
    struct SaveOption {
        CorrectionMode mode;
        const char* name;
    };
    const SaveOption saveOptions[] = {
        {{CorrectionMethod::Exact, ColourOption::FalloffAndColour}, "exact"},
        {{CorrectionMethod::Exact, ColourOption::FalloffOnly}, "exact_luma"},
        {{CorrectionMethod::Exact, ColourOption::ColourOnly}, "exact_colour"},
        {{CorrectionMethod::Additive, ColourOption::FalloffAndColour}, "additive"},
    };
    decodeAndEncode(); // warm-up: the buffers and the page cache
    for (const SaveOption& option : saveOptions)
        realSave(option.mode);
    std::vector<std::vector<double>> realSaves(std::size(saveOptions));
    std::vector<double> decodeEncodes;
    for (int i = 0; i < bench::pick(7, 1); ++i) {
        for (std::size_t o = 0; o < std::size(saveOptions); ++o) {
            const auto t0 = Clock::now();
            realSave(saveOptions[o].mode);
            realSaves[o].push_back(msSince(t0));
        }
        const auto t0 = Clock::now();
        decodeAndEncode();
        decodeEncodes.push_back(msSince(t0));
    }

    bench::figure("save_24mp_ms", median(saves), "ms");
    bench::figure("encode_24mp_ms", median(encodes), "ms");
    bench::figure("save_24mp_correct_ms", correctMs, "ms");
    bench::figure("save_24mp_write_ms", writeMs, "ms");
    bench::figure("save_24mp_crop_ms", cropMs, "ms");
    bench::figure("save_24mp_plain_ms", median(plains), "ms");
    bench::figure("save_24mp_plain_vs_encode", median(plains) / median(encodes2), "x");
    bench::figure("save_24mp_vs_encode", median(saves) / median(encodes), "x");
    bench::figure("decode_encode_24mp_ms", median(decodeEncodes), "ms");
    for (std::size_t o = 0; o < std::size(saveOptions); ++o) {
        const std::string name = std::string("save_24mp_") + saveOptions[o].name;
        bench::figure(name + "_ms", median(realSaves[o]), "ms");
        bench::figure(name + "_vs_encode", median(realSaves[o]) / median(decodeEncodes), "x");
    }
    std::printf("pipeline file %s the plain sequence's\n", sameFile ? "equals" : "DIFFERS FROM");
    bench::figure("batch_12mp_photos_per_s", batch.photosPerSecond, "photos/s");
    bench::figure("batch_peak_mib", batch.peakMiB, "MiB");

    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return sameFile ? 0 : 5;
}
