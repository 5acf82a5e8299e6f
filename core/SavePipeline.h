// SPDX-License-Identifier: GPL-3.0-or-later
// The full-size save of a processed photograph: correction, crop, encoding
// and writing in one pass over the picture.
//
// The corrected photograph never exists as a whole. A band of rows is
// corrected from the unprocessed photograph and the full-size mask (on a
// second thread, a band or two ahead of the encoder, when the machine has a
// second core), the crop margins become row and column offsets into the
// bands, and the encoder takes each band as soon as it is ready. A JPEG then
// gets the source's EXIF head (and its ICC, XMP and IPTC sections) and is
// written in one atomic write. The files
// are byte for byte those of the plain sequence: ApplyCorrection on a copy
// of the photograph, CropBitmap, EncodeJpeg (or EncodeBmp), write, CopyExif.
//
// One SavePipeline is meant to live as long as the window: its band buffers
// and its output buffer survive between saves, so the page faults of fresh
// memory are paid on the first save only.
#pragma once

#include "Bitmap24.h"
#include "Bitmap48.h"
#include "ReducedPicture.h"
#include "CorrectionKernel.h"
#include "CorrectionSetup.h"
#include "ExifTransplant.h"
#include "FileIO.h"
#include "JpegCodec.h"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace lumivane {

// The largest side a JPEG may have (libjpeg's limit), and the largest file a
// BMP's 32-bit size field can describe.
inline constexpr std::uint64_t kMaxJpegSide = 65500;
inline constexpr std::uint64_t kMaxBmpFileBytes = 0xFFFFFFFFull;

// A photograph whose output, at the size the crop leaves, is larger than
// the chosen format can hold.
class OutputSizeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Raises OutputSizeError when a width x height photograph, cut by `crop`,
// is too large for an output in `format`, so it can be refused before it is
// decoded: a JPEG side is limited, a BMP file too; a TIFF that could pass
// 4 GiB is written as BigTIFF, so none is refused. Margins that leave
// nothing are not its concern.
void RequireOutputFits(std::uint64_t width, std::uint64_t height, const CropMargins& crop, OutputFormat format);

// What a JPEG save wrote: the path (one of the target's names) and what the
// EXIF transplant found.
struct SaveResult {
    std::string path;
    TransplantResult transplant = TransplantResult::NotApplicable;
    // What became of the thumbnail and the maker note; the metadata
    // describe the written picture (see OutputMetadata.h).
    MetadataReport metadata;
};

class SavePipeline {
public:
    // threads: 0 chooses by the machine (a second thread when there is a
    // second core), 1 does everything on the calling thread, 2 or more
    // corrects on a second thread. bandRows: rows per band (16 suits
    // libjpeg, which takes rows in groups of 16).
    explicit SavePipeline(int threads = 0, int bandRows = kDefaultBandRows);
    SavePipeline(const SavePipeline&) = delete;
    SavePipeline& operator=(const SavePipeline&) = delete;

    // Saves `unprocessed`, corrected against `maskFull` with the full-size
    // region (see FullSizeRegion), `damping` and `targets`, then cropped by
    // `crop`, as a baseline JPEG at `quality` to `outPath`, with the first
    // APP1 section of `sourceFile` in front of the encoded data when it has
    // one, followed by its ICC profile, XMP and IPTC sections (see
    // WriteJpegWithExif). `unprocessed` is not changed.
    //
    // `target` is one path (replaced when it exists) or the batch's names,
    // tried in turn and never replacing a file (see OutputTarget). The image
    // is encoded once whatever the number of names tried.
    //
    // Returns the path written and the transplant's result; SourceMissing
    // means the file was written without EXIF and the caller should tell the user
    // (SourceMissingMessage). Throws std::invalid_argument before anything
    // is written when a margin is negative or the margins leave no pixels,
    // or when the region or damping is invalid; JpegError when libjpeg
    // fails; FileError naming the file when writing fails (no partial
    // or temporary file is left; an earlier file at `outPath` stays as it
    // was).
    SaveResult SaveCorrectedJpeg(const Bitmap24& unprocessed, const Bitmap24& maskFull,
                                 const CorrectionRegion& region, float damping, const CorrectionTargets& targets,
                                 const CropMargins& crop, int quality, const std::string& sourceFile,
                                 const OutputTarget& target);

    // The same correction and crop written as an uncompressed 24-bit BMP
    // (EncodeBmp's file, written like WriteBmpFile). No EXIF. Throws as
    // above, FileError naming the file when writing fails, BmpError when
    // the picture is too large for the format.
    std::string SaveCorrectedBmp(const Bitmap24& unprocessed, const Bitmap24& maskFull,
                                 const CorrectionRegion& region, float damping, const CorrectionTargets& targets,
                                 const CropMargins& crop, const OutputTarget& target);

    // The same two saves from a photograph still being decoded: its rows are
    // read from `source` a band at a time, corrected and encoded (or placed
    // in the BMP) at once, so the photograph never exists whole. The bytes
    // written are those of the saves above for the decoded photograph. Every
    // row is read and the reader finished before anything is written, so a
    // file that fails anywhere writes nothing; the reader's JpegError then
    // leaves it Failed(). `observe`, when set, sees each band of rows as
    // decoded, whole width, before it is corrected.
    using RowObserver = std::function<void(int firstRow, const std::uint8_t* rows, std::size_t stride, int count)>;
    SaveResult SaveCorrectedJpeg(JpegRowReader& source, const Bitmap24& maskFull, const CorrectionRegion& region,
                                 float damping, const CorrectionTargets& targets, const CropMargins& crop,
                                 int quality, const std::string& sourceFile, const OutputTarget& target,
                                 const RowObserver& observe = {});
    std::string SaveCorrectedBmp(JpegRowReader& source, const Bitmap24& maskFull, const CorrectionRegion& region,
                                 float damping, const CorrectionTargets& targets, const CropMargins& crop,
                                 const OutputTarget& target, const RowObserver& observe = {});

    // The save of a photograph as `setup` describes it: corrected against
    // its mask, cropped, and written as a JPEG at its quality (with the
    // source's sections, as above), as a BMP, or as a TIFF (Deflate with
    // the horizontal predictor, 8 or 16 bits a sample as the setup's depth
    // says, the source's ICC profile, XMP and IPTC as tags; see TiffWriter)
    // streamed into the target's temporary file. TiffError when libtiff
    // fails. The same files as the
    // overloads above, which carry their values into a setup.
    SaveResult Save(const Bitmap24& unprocessed, const CorrectionSetup& setup, const std::string& sourceFile,
                    const OutputTarget& target);
    SaveResult Save(JpegRowReader& source, const CorrectionSetup& setup, const std::string& sourceFile,
                    const OutputTarget& target, const RowObserver& observe = {});

    // The save of a photograph of 16 bits a channel, `eight` its 8-bit
    // picture: a TIFF of 16 bits by the exact method is corrected at 16 bits
    // (against the setup's 16-bit mask when it has one, else the 8-bit mask
    // x 257, with targets TargetsFor16(levels16, brightness), in the light
    // of the source's profile curve when LightCurveOfProfile finds one, else
    // of the sRGB curve); every other
    // save is that of `eight` (the additive method at 16 bits writes its
    // 8-bit result x 257).
    SaveResult Save(const Bitmap24& eight, const Bitmap48& photo16, const CorrectionSetup& setup,
                    const std::string& sourceFile, const OutputTarget& target);

    // The bytes of the last JPEG encoded (without the EXIF head), valid
    // until the next save.
    const std::vector<std::uint8_t>& LastEncoded() const { return encoded_; }

    static constexpr int kDefaultBandRows = 32;

    // The storage a save of a width x height photograph holds beside the
    // photograph and its mask (which the caller counts): the band slots,
    // the encoder's output (the room it reserves, half a byte a pixel),
    // the thumbnail's reduced picture, a BMP's whole file, a TIFF's rows
    // and strips; `streamed` adds the decoded rows of a photograph read
    // from a JpegRowReader. `depth` is the TIFF's bits a sample. Saturates
    // instead of wrapping.
    static std::uint64_t WorkingBytes(std::uint64_t width, std::uint64_t height, OutputFormat format, int depth,
                                      bool streamed, int bandRows = kDefaultBandRows);

private:
    // Makes one band of the output window: its rows, window.width() * 3
    // bytes each, `stride` apart.
    using BandMaker = std::function<void(const Rect& band, std::uint8_t* out, std::size_t stride)>;
    // Encodes `window` a band at a time as `makeBand` makes the bands, on a
    // second thread when the pipeline has one. With `inOrderOnly` every band
    // is made by that one thread, in order (the rows come from a decoder);
    // otherwise the encoding thread makes a band itself when the other has
    // not got to it.
    // Each band encoded is also added to `reduced` when given (in order, on
    // the encoding thread).
    void encodeBands(const Rect& window, int quality, bool inOrderOnly, const BandMaker& makeBand,
                     ReducedPictureBuilder* reduced = nullptr);
    // Writes `window` as a TIFF of `depth` bits a sample, made a band at a
    // time by `makeBand` (blue-green-red rows), with the source's ICC
    // profile, XMP and IPTC, streamed into the target's temporary file.
    void saveTiff(const Rect& window, int depth, const std::string& sourceFile, const OutputTarget& target,
                  const BandMaker& makeBand, SaveResult& result);
    // Writes `window` as a TIFF of `depth` bits a sample whose rows
    // (red-green-blue, `stride` bytes apart) `makeTiffRows` makes a band at
    // a time, with `metadata` (the source's ICC profile, XMP and IPTC),
    // streamed into the target's temporary file.
    void writeTiff(const Rect& window, int depth, const TiffMetadata& metadata, const OutputTarget& target,
                   SaveResult& result, const BandMaker& makeTiffRows);
    // The BMP file of `window`'s size with header and row padding, its
    // pixels left to the caller; returns where the top row goes.
    std::uint8_t* prepareBmpFile(const Rect& window, std::size_t& stride);

    int threads_;
    int bandRows_;
    // Band slots for the corrected rows, reused from save to save.
    std::vector<std::uint8_t> bands_;
    // The encoder's output, and for a BMP the whole file.
    std::vector<std::uint8_t> encoded_;
    std::vector<std::uint8_t> bmpFile_;
    // A band of TIFF rows, red-green-blue.
    std::vector<std::uint16_t> tiffRows_;
    // Decoded photograph rows of a streamed save.
    std::vector<std::uint8_t> decodedRows_;
};

} // namespace lumivane
