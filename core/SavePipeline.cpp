// SPDX-License-Identifier: GPL-3.0-or-later
#include "SavePipeline.h"

#include "TiffDirectories.h"

#include "BmpCodec.h"
#include "FileIO.h"
#include "ExactCorrection16.h"
#include "JpegCodec.h"
#include "MemoryBudget.h"
#include "ProfileCurve.h"
#include "SaveQuality.h"
#include "TiffWriter.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace lumivane {

namespace {

// Band slots in flight between the correcting thread and the encoder: one
// being corrected, one being encoded and one spare, so neither side waits
// for the other on an ordinary band.
constexpr int kSlots = 3;

// The rectangle of a width x height photograph that is written.
Rect outputWindow(int width, int height, const CropMargins& crop)
{
    if (!CropLeavesPixels(width, height, crop))
        throw std::invalid_argument("Crop margins leave no pixels: " + std::to_string(width) + "x" +
                                    std::to_string(height) + " photograph with margins " +
                                    std::to_string(crop.left) + ", " + std::to_string(crop.top) + ", " +
                                    std::to_string(crop.right) + ", " + std::to_string(crop.bottom));
    const CroppedSize size = CroppedSizeOf(width, height, crop);
    return Rect{crop.left, crop.top, crop.left + int(size.width), crop.top + int(size.height)};
}

int threadsToUse(int requested)
{
    if (requested > 0)
        return requested;
    return std::thread::hardware_concurrency() >= 2 ? 2 : 1;
}

// What the correcting thread and the encoding thread share. Bands are
// corrected in order by whichever thread claims them first: the correcting
// thread runs ahead of the encoder as far as the free slots allow, and the
// encoder corrects a band itself when the other thread has not yet got to
// it (on a busy machine the second thread may not get a core at all).
struct BandHandoff {
    std::mutex mutex;
    std::condition_variable changed;
    int nextToCorrect = 0;   // the first band nobody has claimed
    int consumed = 0;        // bands the encoder has taken
    std::vector<std::uint8_t> done; // per band: corrected and ready
    bool cancelled = false;
    std::exception_ptr error;
};

// Joins the correcting thread on every way out, telling it to stop first so
// that an error on the encoding side never leaves it waiting for a slot.
class WorkerJoin {
public:
    WorkerJoin(std::thread& worker, BandHandoff& handoff) : worker_(worker), handoff_(handoff) {}
    WorkerJoin(const WorkerJoin&) = delete;
    WorkerJoin& operator=(const WorkerJoin&) = delete;
    ~WorkerJoin() { join(); }

    void join()
    {
        if (!worker_.joinable())
            return;
        {
            std::lock_guard lock(handoff_.mutex);
            handoff_.cancelled = true;
        }
        handoff_.changed.notify_all();
        worker_.join();
    }

private:
    std::thread& worker_;
    BandHandoff& handoff_;
};

// The rows of a photograph being decoded, read a band at a time into one
// buffer and shown to the observer as read. Rows outside the written window
// are decoded too: the file must decode to its end for a fault anywhere in
// it to be found.
class RowFeed {
public:
    RowFeed(JpegRowReader& source, std::vector<std::uint8_t>& band, int bandRows,
            const SavePipeline::RowObserver& observe)
        : rowBytes(std::size_t(source.Width()) * 3), source_(source), bandRows_(bandRows), observe_(observe)
    {
        if (band.size() < std::size_t(bandRows) * rowBytes)
            band.resize(std::size_t(bandRows) * rowBytes);
        rows_ = band.data();
    }

    // Rows first .. first + count - 1 (at most a band), the next ones of the file.
    const std::uint8_t* read(int first, int count)
    {
        source_.ReadRows(rows_, rowBytes, count);
        if (observe_)
            observe_(first, rows_, rowBytes, count);
        return rows_;
    }
    // Reads and drops rows from .. to - 1.
    void skip(int from, int to)
    {
        for (int y = from; y < to; y += bandRows_)
            read(y, std::min(bandRows_, to - y));
    }
    // Reads the rows from `from` to the end and lets the reader finish.
    void finish(int from)
    {
        skip(from, source_.Height());
        source_.Finish();
    }

    const std::size_t rowBytes;

private:
    JpegRowReader& source_;
    int bandRows_;
    const SavePipeline::RowObserver& observe_;
    std::uint8_t* rows_ = nullptr;
};

} // namespace

void RequireOutputFits(std::uint64_t width, std::uint64_t height, const CropMargins& crop, OutputFormat format)
{
    // In 64 bits: sides up to 2^29 less margins up to 2^31 neither wrap
    // nor overflow.
    const long long w = (long long)width - crop.left - crop.right;
    const long long h = (long long)height - crop.top - crop.bottom;
    if (w <= 0 || h <= 0 || format == OutputFormat::Tiff)
        return;
    const std::string size = std::to_string(w) + " x " + std::to_string(h) + " pixels";
    if (format == OutputFormat::Bmp) {
        // 54 bytes of headers, then rows padded to whole 4-byte words.
        const std::uint64_t rowBytes = (std::uint64_t(w) * 3 + 3) / 4 * 4;
        if (std::uint64_t(h) > (kMaxBmpFileBytes - 54) / rowBytes)
            throw OutputSizeError("a BMP of " + size + " would be larger than the 4 GiB a BMP file can hold");
        return;
    }
    if (std::uint64_t(w) > kMaxJpegSide || std::uint64_t(h) > kMaxJpegSide)
        throw OutputSizeError("a JPEG of " + size + " cannot be written: a JPEG holds at most " +
                              std::to_string(kMaxJpegSide) + " pixels a side");
}

std::uint64_t SavePipeline::WorkingBytes(std::uint64_t width, std::uint64_t height, OutputFormat format, int depth,
                                         bool streamed, int bandRows)
{
    const std::uint64_t rowBytes = SaturatedProduct(width, 3);
    const std::uint64_t band = SaturatedProduct(rowBytes, std::uint64_t(std::max(bandRows, 1)));
    const std::uint64_t pixels = SaturatedProduct(width, height);
    std::uint64_t bytes = streamed ? band : 0;
    const auto add = [&bytes](std::uint64_t more) { bytes = SaturatedSum(bytes, more); };
    switch (format) {
    case OutputFormat::Jpeg:
        // Band slots, the encoder's rows of blocks, its output, and the
        // picture reduced eightfold for the thumbnail.
        add(SaturatedProduct(band, kSlots));
        add(SaturatedProduct(rowBytes, 64));
        add(pixels / 2);
        add(SaturatedProduct(pixels, 3) / 64);
        break;
    case OutputFormat::Bmp:
        // The whole file: rows padded to four bytes, and a header.
        add(SaturatedProduct((rowBytes + 3) / 4 * 4, height));
        add(band);
        add(1024);
        break;
    case OutputFormat::Tiff: {
        // A band of rows at the output's depth, a strip being filled, and
        // the strips of about 256 KiB being compressed on the writer's
        // threads, each with room for its result.
        const std::uint64_t tiffRow = SaturatedProduct(rowBytes, depth == 16 ? 2 : 1);
        const std::uint64_t strip = SaturatedProduct(tiffRow, std::uint64_t(TiffRowsPerStrip(std::size_t(
                                                                  std::min<std::uint64_t>(tiffRow, 1u << 30)))));
        const std::uint64_t workers = std::max(1u, std::thread::hardware_concurrency());
        add(band);
        add(SaturatedProduct(tiffRow, std::uint64_t(std::max(bandRows, 1))));
        add(SaturatedProduct(strip, 2 * (workers + 2)));
        break;
    }
    }
    return bytes;
}

SavePipeline::SavePipeline(int threads, int bandRows) : threads_(threads), bandRows_(std::max(bandRows, 1)) {}

void SavePipeline::encodeBands(const Rect& window, int quality, bool inOrderOnly, const BandMaker& makeBand,
                               ReducedPictureBuilder* reduced)
{
    const int height = window.height();
    const std::size_t rowBytes = std::size_t(window.width()) * 3;
    const int bandRows = std::min(bandRows_, height);
    const int bandCount = (height + bandRows - 1) / bandRows;
    const bool threaded = threadsToUse(threads_) >= 2 && bandCount > 1;
    const int slots = threaded ? std::min(kSlots, bandCount) : 1;
    const std::size_t slotBytes = std::size_t(bandRows) * rowBytes;
    if (bands_.size() < std::size_t(slots) * slotBytes)
        bands_.resize(std::size_t(slots) * slotBytes);

    JpegBandEncoder encoder(window.width(), height, quality, encoded_);
    std::vector<const std::uint8_t*> rows(std::size_t(bandRows), nullptr);
    auto bandWindow = [&](int k) {
        const int top = window.top + k * bandRows;
        return Rect{window.left, top, window.right, std::min(top + bandRows, window.bottom)};
    };
    auto slot = [&](int k) { return bands_.data() + std::size_t(k % slots) * slotBytes; };
    auto correctBand = [&](int k) { makeBand(bandWindow(k), slot(k), rowBytes); };
    auto encodeBand = [&](int k) {
        const int count = bandWindow(k).height();
        std::uint8_t* first = slot(k);
        for (int i = 0; i < count; ++i)
            rows[std::size_t(i)] = first + std::size_t(i) * rowBytes;
        encoder.WriteRows(rows.data(), count);
        if (reduced)
            reduced->AddRows(first, rowBytes, k * bandRows, count);
    };

    BandHandoff handoff;
    std::thread worker;
    if (threaded) {
        handoff.done.assign(std::size_t(bandCount), 0);
        try {
            worker = std::thread([&] {
                try {
                    for (;;) {
                        int k = 0;
                        {
                            std::unique_lock lock(handoff.mutex);
                            handoff.changed.wait(lock, [&] {
                                return handoff.cancelled || handoff.nextToCorrect >= bandCount ||
                                       handoff.nextToCorrect - handoff.consumed < slots;
                            });
                            if (handoff.cancelled || handoff.nextToCorrect >= bandCount)
                                return;
                            k = handoff.nextToCorrect++;
                        }
                        correctBand(k);
                        {
                            std::lock_guard lock(handoff.mutex);
                            handoff.done[std::size_t(k)] = 1;
                        }
                        handoff.changed.notify_one();
                    }
                } catch (...) {
                    // Carried to the encoding thread, which raises it after
                    // the join.
                    {
                        std::lock_guard lock(handoff.mutex);
                        handoff.error = std::current_exception();
                    }
                    handoff.changed.notify_one();
                }
            });
        } catch (const std::system_error&) {
            // No thread to be had: everything runs on this one.
        }
    }
    WorkerJoin join(worker, handoff);

    if (!worker.joinable()) {
        for (int k = 0; k < bandCount; ++k) {
            correctBand(k);
            encodeBand(k);
        }
    } else {
        for (int k = 0; k < bandCount; ++k) {
            bool mine = false;
            {
                std::unique_lock lock(handoff.mutex);
                // Bands that must be made in order (rows read from a
                // decoder) are all made by the other thread.
                if (!inOrderOnly && handoff.nextToCorrect == k) {
                    handoff.nextToCorrect = k + 1;
                    mine = true;
                } else {
                    handoff.changed.wait(lock, [&] { return handoff.done[std::size_t(k)] || handoff.error; });
                    if (!handoff.done[std::size_t(k)])
                        break; // the correcting thread failed
                }
            }
            if (mine)
                correctBand(k);
            encodeBand(k);
            {
                std::lock_guard lock(handoff.mutex);
                handoff.consumed = k + 1;
            }
            handoff.changed.notify_one();
        }
        join.join();
        if (handoff.error)
            std::rethrow_exception(handoff.error);
    }
    encoder.Finish();
}

std::uint8_t* SavePipeline::prepareBmpFile(const Rect& window, std::size_t& stride)
{
    const std::size_t width = std::size_t(window.width());
    const std::size_t height = std::size_t(window.height());
    std::uint8_t header[kBmpHeaderSize];
    const BmpLayout layout = WriteBmpHeader(header, window.width(), window.height());
    stride = layout.stride;
    // The buffer keeps its capacity between saves; every byte of the file
    // is written, header and row padding here, pixels by the caller.
    bmpFile_.resize(layout.fileSize);
    std::uint8_t* file = bmpFile_.data();
    std::memcpy(file, header, kBmpHeaderSize);
    if (stride > width * 3)
        for (std::size_t r = 0; r < height; ++r)
            std::memset(file + kBmpHeaderSize + r * stride + width * 3, 0, stride - width * 3);
    // Top row last in the file.
    return file + kBmpHeaderSize + (height - 1) * stride;
}

namespace {

// A setup carrying the given values as they are, for the overloads that
// take them one by one.
CorrectionSetup carried(const Bitmap24& maskFull, const CorrectionRegion& region, float damping,
                        const CorrectionTargets& targets, const CropMargins& crop, int quality)
{
    CorrectionSetup setup;
    setup.mask = &maskFull;
    setup.region = region;
    setup.damping = damping;
    setup.targets = targets;
    setup.choices.crop = crop;
    setup.choices.quality = quality;
    return setup;
}

// The written picture's size and its reduced copy, for its EXIF.
OutputPicture writtenPicture(const Rect& window, ReducedPictureBuilder& reduced)
{
    return OutputPicture{window.width(), window.height(), std::make_shared<const Bitmap24>(reduced.TakePicture())};
}

// The curves of the photograph's and the mask's colour profiles for the
// exact method; nothing for the additive method or when both are on sRGB.
std::optional<ExactCurves> curvesOf(const CorrectionSetup& setup, const std::string& sourceFile)
{
    if (setup.mode().method != CorrectionMethod::Exact)
        return std::nullopt;
    return ExactCurvesFor(TiffMetadataOfSource(sourceFile).icc, setup.maskProfile);
}

} // namespace

SaveResult SavePipeline::SaveCorrectedJpeg(const Bitmap24& unprocessed, const Bitmap24& maskFull,
                                           const CorrectionRegion& region, float damping,
                                           const CorrectionTargets& targets, const CropMargins& crop, int quality,
                                           const std::string& sourceFile, const OutputTarget& target)
{
    return Save(unprocessed, carried(maskFull, region, damping, targets, crop, quality), sourceFile, target);
}

std::string SavePipeline::SaveCorrectedBmp(const Bitmap24& unprocessed, const Bitmap24& maskFull,
                                           const CorrectionRegion& region, float damping,
                                           const CorrectionTargets& targets, const CropMargins& crop,
                                           const OutputTarget& target)
{
    return Save(unprocessed,
                carried(maskFull, region, damping, targets, crop, kBmpQuality),
                std::string(), target)
        .path;
}

SaveResult SavePipeline::SaveCorrectedJpeg(JpegRowReader& source, const Bitmap24& maskFull,
                                           const CorrectionRegion& region, float damping,
                                           const CorrectionTargets& targets, const CropMargins& crop, int quality,
                                           const std::string& sourceFile, const OutputTarget& target,
                                           const RowObserver& observe)
{
    return Save(source, carried(maskFull, region, damping, targets, crop, quality), sourceFile, target, observe);
}

std::string SavePipeline::SaveCorrectedBmp(JpegRowReader& source, const Bitmap24& maskFull,
                                           const CorrectionRegion& region, float damping,
                                           const CorrectionTargets& targets, const CropMargins& crop,
                                           const OutputTarget& target, const RowObserver& observe)
{
    return Save(source, carried(maskFull, region, damping, targets, crop, kBmpQuality),
                std::string(), target, observe)
        .path;
}

void SavePipeline::saveTiff(const Rect& window, int depth, const std::string& sourceFile, const OutputTarget& target,
                            const BandMaker& makeBand, SaveResult& result)
{
    const int width = window.width();
    const std::size_t bgrBytes = std::size_t(width) * 3;
    writeTiff(window, depth, TiffMetadataOfSource(sourceFile, OutputPicture{width, window.height()}, &result.metadata),
              target, result,
              [&](const Rect& band, std::uint8_t* rows, std::size_t stride) {
        if (bands_.size() < std::size_t(band.height()) * bgrBytes)
            bands_.resize(std::size_t(band.height()) * bgrBytes);
        makeBand(band, bands_.data(), bgrBytes);
        // Blue-green-red to red-green-blue; 16 bits a sample spread the
        // 8-bit codes over the whole range (x 257: 255 -> 65535).
        for (int r = 0; r < band.height(); ++r) {
            const std::uint8_t* in = bands_.data() + std::size_t(r) * bgrBytes;
            std::uint8_t* out = rows + std::size_t(r) * stride;
            if (depth == 8) {
                for (int x = 0; x < width; ++x, in += 3, out += 3) {
                    out[0] = in[2];
                    out[1] = in[1];
                    out[2] = in[0];
                }
            } else {
                auto* out16 = reinterpret_cast<std::uint16_t*>(out);
                for (int x = 0; x < width; ++x, in += 3, out16 += 3) {
                    out16[0] = std::uint16_t(in[2] * 257u);
                    out16[1] = std::uint16_t(in[1] * 257u);
                    out16[2] = std::uint16_t(in[0] * 257u);
                }
            }
        }
    });
}

void SavePipeline::writeTiff(const Rect& window, int depth, const TiffMetadata& metadata,
                             const OutputTarget& target, SaveResult& result, const BandMaker& makeTiffRows)
{
    const int bandRows = std::min(bandRows_, window.height());
    const std::size_t outBytes = std::size_t(window.width()) * 3 * std::size_t(depth / 8);
    // 16-bit values: the buffer's bytes are read as such, so its storage is
    // of 16-bit values.
    tiffRows_.resize((std::size_t(bandRows) * outBytes + 1) / 2);
    auto* rows = reinterpret_cast<std::uint8_t*>(tiffRows_.data());
    result.path = target.WriteStreamed([&](TemporaryFile& file) {
        TiffRowWriter writer(file, window.width(), window.height(), depth, metadata);
        // The file's thumbnail, of the corrected rows as they are written.
        TiffThumbnailBuilder thumbnail(window.width(), window.height(), depth);
        for (int top = window.top; top < window.bottom; top += bandRows) {
            const Rect band{window.left, top, window.right, std::min(top + bandRows, window.bottom)};
            makeTiffRows(band, rows, outBytes);
            thumbnail.AddRows(rows, outBytes, band.height());
            if (const int err = writer.WriteRows(rows, outBytes, band.height()))
                return err;
        }
        writer.SetThumbnail(thumbnail.Result());
        return writer.Finish();
    });
}

SaveResult SavePipeline::Save(const Bitmap24& eight, const Bitmap48& photo16, const CorrectionSetup& setup,
                              const std::string& sourceFile, const OutputTarget& target)
{
    const CorrectionChoices& choices = setup.choices;
    if (choices.Format() != OutputFormat::Tiff || choices.OutputDepth(16) != 16 ||
        setup.mode().method != CorrectionMethod::Exact) {
        // A TIFF takes the photograph's depth unless another was asked for.
        CorrectionSetup atDepth = setup;
        atDepth.choices.depth = choices.OutputDepth(16);
        return Save(eight, atDepth, sourceFile, target);
    }
    const Rect window = outputWindow(photo16.width(), photo16.height(), choices.crop);
    // The photograph goes to linear light on the curve of its own profile
    // when it has a simple one, else on sRGB's; the mask on its own
    // profile's curve when its file has one, else on the photograph's.
    SaveResult result;
    const TiffMetadata metadata =
        TiffMetadataOfSource(sourceFile, OutputPicture{window.width(), window.height()}, &result.metadata);
    const std::optional<ExactCurves> curves = ExactCurvesFor(metadata.icc, setup.maskProfile);
    const LightCurve& photoCurve = curves ? curves->photo : LightCurve::Srgb();
    const LightCurve& maskCurve = curves ? curves->mask : LightCurve::Srgb();
    const CorrectionPass16 pass(photo16, *setup.mask, setup.mask16, setup.region,
                                TargetsFor16(setup.levels16, choices.brightness), setup.mode().colour, photoCurve,
                                maskCurve);
    writeTiff(window, 16, metadata, target, result, [&](const Rect& band, std::uint8_t* rows, std::size_t stride) {
        auto* out = reinterpret_cast<std::uint16_t*>(rows);
        const std::size_t rowValues = stride / 2;
        pass.CorrectInto(band, out, std::ptrdiff_t(rowValues));
        // Blue-green-red to red-green-blue, in place.
        for (int r = 0; r < band.height(); ++r) {
            std::uint16_t* row = out + std::size_t(r) * rowValues;
            for (int x = 0; x < band.width(); ++x)
                std::swap(row[3 * x], row[3 * x + 2]);
        }
    });
    return result;
}

SaveResult SavePipeline::Save(const Bitmap24& unprocessed, const CorrectionSetup& setup,
                              const std::string& sourceFile, const OutputTarget& target)
{
    const Rect window = outputWindow(unprocessed.width(), unprocessed.height(), setup.choices.crop);
    std::optional<CorrectionPass> pass;
    if (const std::optional<ExactCurves> curves = curvesOf(setup, sourceFile))
        pass.emplace(unprocessed, *setup.mask, setup.region, setup.targets, setup.mode().colour, curves->photo,
                     curves->mask);
    else
        pass.emplace(unprocessed, *setup.mask, setup.region, setup.damping, setup.targets, setup.mode());
    SaveResult result;
    if (setup.choices.Format() == OutputFormat::Tiff) {
        saveTiff(window, setup.choices.OutputDepth(8), sourceFile, target,
                 [&](const Rect& band, std::uint8_t* out, std::size_t stride) {
                     pass->CorrectInto(band, out, std::ptrdiff_t(stride));
                 },
                 result);
        return result;
    }
    if (setup.Bmp()) {
        std::size_t stride = 0;
        std::uint8_t* topRow = prepareBmpFile(window, stride);
        // Written upwards from the top row's place.
        pass->CorrectInto(window, topRow, -std::ptrdiff_t(stride));
        result.path = target.WriteWith([&](const std::string& path, WriteMode mode) {
            WriteFileAtomically(path, bmpFile_.data(), bmpFile_.size(), mode);
        });
        return result;
    }
    // The thumbnail is made from the rows as they are encoded.
    ReducedPictureBuilder reduced(window.width(), window.height());
    encodeBands(
        window, setup.choices.quality, false,
        [&](const Rect& band, std::uint8_t* out, std::size_t stride) { pass->CorrectInto(band, out, std::ptrdiff_t(stride)); },
        &reduced);
    const OutputPicture written = writtenPicture(window, reduced);
    result.path = target.WriteWith([&](const std::string& path, WriteMode mode) {
        result.transplant =
            WriteJpegWithExif(encoded_.data(), encoded_.size(), sourceFile, path, mode, written, &result.metadata);
    });
    return result;
}

SaveResult SavePipeline::Save(JpegRowReader& source, const CorrectionSetup& setup, const std::string& sourceFile,
                              const OutputTarget& target, const RowObserver& observe)
{
    const Rect window = outputWindow(source.Width(), source.Height(), setup.choices.crop);
    std::optional<CorrectionPass> pass;
    if (const std::optional<ExactCurves> curves = curvesOf(setup, sourceFile))
        pass.emplace(source.Width(), source.Height(), *setup.mask, setup.region, setup.targets, setup.mode().colour,
                     curves->photo, curves->mask);
    else
        pass.emplace(source.Width(), source.Height(), *setup.mask, setup.region, setup.damping, setup.targets,
                     setup.mode());
    SaveResult result;
    if (setup.choices.Format() == OutputFormat::Tiff) {
        // The rows go into the temporary file as they are read; a file that
        // fails part-way leaves that file unnamed and removed.
        RowFeed feed(source, decodedRows_, std::min(bandRows_, window.height()), observe);
        saveTiff(window, setup.choices.OutputDepth(8), sourceFile, target,
                 [&](const Rect& band, std::uint8_t* out, std::size_t stride) {
                     if (band.top == window.top)
                         feed.skip(0, window.top);
                     pass->CorrectRowsInto(band, feed.read(band.top, band.height()), std::ptrdiff_t(feed.rowBytes),
                                          out, std::ptrdiff_t(stride));
                     if (band.bottom == window.bottom)
                         feed.finish(window.bottom);
                 },
                 result);
        return result;
    }
    if (setup.Bmp()) {
        std::size_t stride = 0;
        std::uint8_t* topRow = prepareBmpFile(window, stride);
        const int bandRows = std::min(bandRows_, window.height());
        RowFeed feed(source, decodedRows_, bandRows, observe);
        feed.skip(0, window.top);
        for (int top = window.top; top < window.bottom; top += bandRows) {
            const Rect band{window.left, top, window.right, std::min(top + bandRows, window.bottom)};
            // Written upwards from the top row's place.
            pass->CorrectRowsInto(band, feed.read(band.top, band.height()), std::ptrdiff_t(feed.rowBytes),
                                 topRow - std::size_t(top - window.top) * stride, -std::ptrdiff_t(stride));
        }
        feed.finish(window.bottom);
        result.path = target.WriteWith([&](const std::string& path, WriteMode mode) {
            WriteFileAtomically(path, bmpFile_.data(), bmpFile_.size(), mode);
        });
        return result;
    }
    RowFeed feed(source, decodedRows_, std::min(bandRows_, window.height()), observe);
    // The bands are made in order by one thread (on a second thread when
    // the pipeline has one): the rows above the window first, then each
    // band decoded and corrected; the rows below and the end of the file
    // after the last band.
    ReducedPictureBuilder reduced(window.width(), window.height());
    encodeBands(
        window, setup.choices.quality, true,
        [&](const Rect& band, std::uint8_t* out, std::size_t stride) {
            if (band.top == window.top)
                feed.skip(0, window.top);
            pass->CorrectRowsInto(band, feed.read(band.top, band.height()), std::ptrdiff_t(feed.rowBytes), out,
                                 std::ptrdiff_t(stride));
            if (band.bottom == window.bottom)
                feed.finish(window.bottom);
        },
        &reduced);
    const OutputPicture written = writtenPicture(window, reduced);
    result.path = target.WriteWith([&](const std::string& path, WriteMode mode) {
        result.transplant =
            WriteJpegWithExif(encoded_.data(), encoded_.size(), sourceFile, path, mode, written, &result.metadata);
    });
    return result;
}

} // namespace lumivane
