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
#include "CorrectionKernel.h"
#include "CorrectionSetup.h"
#include "ExifTransplant.h"
#include "FileIO.h"
#include "JpegCodec.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lumivane {

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
    // source's sections, as above) or as a BMP. The same files as the
    // overloads above, which carry their values into a setup.
    SaveResult Save(const Bitmap24& unprocessed, const CorrectionSetup& setup, const std::string& sourceFile,
                    const OutputTarget& target);
    SaveResult Save(JpegRowReader& source, const CorrectionSetup& setup, const std::string& sourceFile,
                    const OutputTarget& target, const RowObserver& observe = {});

    // The bytes of the last JPEG encoded (without the EXIF head), valid
    // until the next save.
    const std::vector<std::uint8_t>& LastEncoded() const { return encoded_; }

    static constexpr int kDefaultBandRows = 32;

private:
    // Makes one band of the output window: its rows, window.width() * 3
    // bytes each, `stride` apart.
    using BandMaker = std::function<void(const Rect& band, std::uint8_t* out, std::size_t stride)>;
    // Encodes `window` a band at a time as `makeBand` makes the bands, on a
    // second thread when the pipeline has one. With `inOrderOnly` every band
    // is made by that one thread, in order (the rows come from a decoder);
    // otherwise the encoding thread makes a band itself when the other has
    // not got to it.
    void encodeBands(const Rect& window, int quality, bool inOrderOnly, const BandMaker& makeBand);
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
    // Decoded photograph rows of a streamed save.
    std::vector<std::uint8_t> decodedRows_;
};

} // namespace lumivane
