// Saving processed photographs: how much the save adds to the JPEG encode it
// cannot avoid, and how fast a batch of 12-megapixel photographs goes.
//
//   figure save_24mp_vs_encode     one save of a 24-megapixel photograph at
//                                  quality 90 (full-size correction, encode,
//                                  EXIF head, atomic write, restore of the
//                                  working copy) / EncodeJpeg of the same
//                                  bitmap to memory; same run, medians
//   figure save_24mp_ms, encode_24mp_ms, and the parts of the save
//   figure save_24mp_crop_ms       the same save with margins 10, 20, 30, 40
//   figure batch_12mp_photos_per_s ten 12-megapixel JPEGs: open, decode into
//                                  reused bitmaps, fit the mask, correct,
//                                  encode, write with the source's EXIF
//   figure batch_peak_mib          peak resident memory of the batch, measured
//                                  in a child process that does nothing else
//   figure save_24mp_pipelined_vs_encode
//                                  an experiment for a faster save: bands of 16
//                                  rows are copied from the unprocessed photograph,
//                                  corrected on a second thread one band ahead
//                                  of libjpeg and fed to it, into a reused
//                                  output buffer; the working copy is never
//                                  changed, so nothing is restored
#include "BenchUtil.h"

#include "Bitmap24.h"
#include "CorrectionKernel.h"
#include "ExifTransplant.h"
#include "FileIO.h"
#include "JpegCodec.h"
#include "MaskGeometry.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <jpeglib.h>
#include <mutex>
#include <thread>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace lumivane;
namespace fs = std::filesystem;

namespace {

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

// What the save does with one photograph. `image1` is the unprocessed
// photograph, `photoWork` the working copy corrected in place and restored
// afterwards.
struct SaveParts {
    double correct = 0, crop = 0, encode = 0, write = 0, restore = 0;
};

SaveParts saveOnce(const Bitmap24& image1, Bitmap24& photoWork, const Bitmap24& maskFull,
                   int margins, const std::string& source, const std::string& out)
{
    SaveParts parts;
    auto t = Clock::now();
    const CorrectionRegion region = FullSizeRegion(-3, 2, photoWork.width(), photoWork.height());
    ApplyCorrection(photoWork, maskFull, region, DampingForStrength(40), TargetsFor(230, 230, 230, 25));
    parts.correct = msSince(t);

    t = Clock::now();
    Bitmap24 cropped;
    if (margins)
        cropped = CropBitmap(photoWork, 10, 20, 30, 40);
    parts.crop = msSince(t);

    t = Clock::now();
    const std::vector<std::uint8_t> encoded = EncodeJpeg(margins ? cropped : photoWork, 90);
    parts.encode = msSince(t);

    t = Clock::now();
    WriteJpegWithExif(encoded, source, out);
    parts.write = msSince(t);

    t = Clock::now();
    draw(image1, photoWork, 0, 0);
    parts.restore = msSince(t);
    return parts;
}


// The save as it could be: same pixels, same file, less memory traffic.
class PipelinedSaver {
public:
    PipelinedSaver() : capacity_(32u << 20), buffer_(static_cast<unsigned char*>(std::malloc(capacity_)))
    {
    }
    ~PipelinedSaver() { std::free(buffer_); }

    void save(const Bitmap24& image1, const Bitmap24& maskFull, int ox, int oy, float damping,
              const CorrectionTargets& targets, int quality, const std::string& source,
              const std::string& out)
    {
        const int width = image1.width(), height = image1.height();
        const CorrectionRegion full = FullSizeRegion(ox, oy, width, height);
        const int bandCount = (height + kBandRows - 1) / kBandRows;
        for (Bitmap24& band : bands_)
            band.setSize(width, kBandRows);
        int produced = 0, consumed = 0;
        std::mutex mutex;
        std::condition_variable changed;

        std::thread corrector([&] {
            for (int k = 0; k < bandCount; ++k) {
                {
                    std::unique_lock lock(mutex);
                    changed.wait(lock, [&] { return consumed > k - kSlots; });
                }
                Bitmap24& band = bands_[k % kSlots];
                const int y0 = k * kBandRows, rows = std::min(kBandRows, height - y0);
                std::memcpy(band.data(), image1.data() + image1.rowBytes() * y0, image1.rowBytes() * rows);
                // Photo row y0 + b pairs with mask row y0 + b - py + my.
                CorrectionRegion region = full;
                const int maskRow = y0 - full.py + full.my;
                region.py = maskRow < 0 ? -maskRow : 0;
                region.my = maskRow < 0 ? 0 : maskRow;
                // Rows past the band's end are clipped by the kernel itself.
                ApplyCorrection(band, maskFull, region, damping, targets, 1);
                {
                    std::lock_guard lock(mutex);
                    produced = k + 1;
                }
                changed.notify_all();
            }
        });

        jpeg_compress_struct cinfo{};
        jpeg_error_mgr err{};
        cinfo.err = jpeg_std_error(&err);
        jpeg_create_compress(&cinfo);
        unsigned char* outBuffer = buffer_;
        unsigned long outSize = capacity_;
        jpeg_mem_dest(&cinfo, &outBuffer, &outSize);
        cinfo.image_width = JDIMENSION(width);
        cinfo.image_height = JDIMENSION(height);
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_EXT_BGR;
        jpeg_set_defaults(&cinfo);
        cinfo.dct_method = JDCT_FLOAT;
        jpeg_set_quality(&cinfo, quality, TRUE);
        jpeg_start_compress(&cinfo, TRUE);
        for (int k = 0; k < bandCount; ++k) {
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return produced > k; });
            }
            Bitmap24& band = bands_[k % kSlots];
            const int rows = std::min(kBandRows, height - k * kBandRows);
            JSAMPROW rowPointers[kBandRows];
            for (int i = 0; i < rows; ++i)
                rowPointers[i] = band.data() + band.rowBytes() * i;
            jpeg_write_scanlines(&cinfo, rowPointers, JDIMENSION(rows));
            {
                std::lock_guard lock(mutex);
                consumed = k + 1;
            }
            changed.notify_all();
        }
        jpeg_finish_compress(&cinfo);
        jpeg_destroy_compress(&cinfo);
        corrector.join();
        WriteJpegWithExif(outBuffer, outSize, source, out);
        if (outBuffer != buffer_)
            std::free(outBuffer); // libjpeg had to grow the buffer
    }

private:
    static constexpr int kBandRows = 16;
    static constexpr int kSlots = 4;
    std::size_t capacity_;
    unsigned char* buffer_;
    Bitmap24 bands_[kSlots];
};

struct BatchFigures {
    double photosPerSecond = 0;
    double peakMiB = 0;
};

// Ten 12-megapixel JPEGs the way a batch save treats them.
void runBatch(int resultFd)
{
    const fs::path dir = makeTempFolder();
    const int count = 10, width = 4000, height = 3000;
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

    // Storage kept across photographs, as the window keeps its bitmaps.
    Bitmap24 image1, photoWork, maskFull;
    const auto t0 = Clock::now();
    for (int i = 0; i < count; ++i) {
        TJPEGImage jpeg;
        jpeg.Smoothing = false;
        jpeg.LoadFromFile(sources[i]);
        jpeg.DecodeInto(image1);
        photoWork.setSize(image1.width(), image1.height());
        draw(image1, photoWork, 0, 0);
        maskFull.setSize(image1.width(), image1.height());
        stretchDraw(mask, maskFull);

        const CorrectionRegion region = FullSizeRegion(0, 0, photoWork.width(), photoWork.height());
        ApplyCorrection(photoWork, maskFull, region, DampingForStrength(40), TargetsFor(230, 230, 230, 25));
        const std::vector<std::uint8_t> encoded = EncodeJpeg(photoWork, 90);
        const std::string out = (dir / "out" / fs::path(sources[i]).filename()).replace_extension("jpg").string();
        if (WriteJpegWithExif(encoded, sources[i], out) != TransplantResult::Transplanted)
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
    const int width = 6000, height = 4000;
    const Bitmap24 image1 = photoLike(width, height, 1);
    WriteFileAtomically(source, withCameraHead(EncodeJpeg(photoLike(64, 48, 2), 90)));
    Bitmap24 maskFull(width, height);
    stretchDraw(maskLike(1500, 1000), maskFull);
    Bitmap24 photoWork = image1;

    // Save and encode alone, interleaved so both see the same machine state.
    const int runs = 7;
    std::vector<double> saves, encodes, correct, encodeInSave, write, restore;
    saveOnce(image1, photoWork, maskFull, 0, source, out); // warm-up: tables, page cache
    bench::keep(EncodeJpeg(image1, 90));
    for (int i = 0; i < runs; ++i) {
        auto t0 = Clock::now();
        const SaveParts parts = saveOnce(image1, photoWork, maskFull, 0, source, out);
        saves.push_back(msSince(t0));
        correct.push_back(parts.correct);
        encodeInSave.push_back(parts.encode);
        write.push_back(parts.write);
        restore.push_back(parts.restore);

        t0 = Clock::now();
        const std::vector<std::uint8_t> encoded = EncodeJpeg(image1, 90);
        encodes.push_back(msSince(t0));
        bench::keep(encoded);
    }
    // The experiment, interleaved with the encode alone again; its file is
    // compared with the present save's (decoded pixels must be the same).
    PipelinedSaver pipelined;
    std::vector<double> pipelinedSaves, encodes2;
    const std::string out2 = (dir / "IMG_0001.pipelined.jpg").string();
    pipelined.save(image1, maskFull, -3, 2, DampingForStrength(40), TargetsFor(230, 230, 230, 25), 90,
                   source, out2);
    for (int i = 0; i < runs; ++i) {
        auto t0 = Clock::now();
        pipelined.save(image1, maskFull, -3, 2, DampingForStrength(40), TargetsFor(230, 230, 230, 25),
                       90, source, out2);
        pipelinedSaves.push_back(msSince(t0));
        t0 = Clock::now();
        bench::keep(EncodeJpeg(image1, 90));
        encodes2.push_back(msSince(t0));
    }
    const bool sameFile = ReadWholeFile(out) == ReadWholeFile(out2);

    std::vector<double> cropSaves;
    for (int i = 0; i < 3; ++i) {
        const auto t0 = Clock::now();
        saveOnce(image1, photoWork, maskFull, 1, source, out);
        cropSaves.push_back(msSince(t0));
    }

    bench::figure("save_24mp_ms", median(saves), "ms");
    bench::figure("encode_24mp_ms", median(encodes), "ms");
    bench::figure("save_24mp_correct_ms", median(correct), "ms");
    bench::figure("save_24mp_encode_ms", median(encodeInSave), "ms");
    bench::figure("save_24mp_write_ms", median(write), "ms");
    bench::figure("save_24mp_restore_ms", median(restore), "ms");
    bench::figure("save_24mp_crop_ms", median(cropSaves), "ms");
    bench::figure("save_24mp_vs_encode", median(saves) / median(encodes), "x");
    bench::figure("save_24mp_pipelined_ms", median(pipelinedSaves), "ms");
    bench::figure("save_24mp_pipelined_vs_encode", median(pipelinedSaves) / median(encodes2), "x");
    std::printf("pipelined file %s the present save's\n", sameFile ? "equals" : "DIFFERS FROM");
    bench::figure("batch_12mp_photos_per_s", batch.photosPerSecond, "photos/s");
    bench::figure("batch_peak_mib", batch.peakMiB, "MiB");

    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return 0;
}
