// SPDX-License-Identifier: GPL-3.0-or-later
// JPEG decoding and encoding through libjpeg.
//
// A TJPEGImage holds one JPEG file's bytes and its header facts; pixels are
// decoded only when asked for, so callers can look at the size first (the
// mask is fitted to the photograph before either is decoded).
#pragma once

#include "Bitmap24.h"
#include "FileIO.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace lumivane {

// A file or stream that libjpeg refused. The message is libjpeg's own text
// ("JPEG: Bogus marker length"), or the program's own refusal; Code() is
// libjpeg's message number.
class JpegError : public std::runtime_error {
public:
    explicit JpegError(int code);
    // A refusal of the program's own, in its own words.
    JpegError(int code, const std::string& message);
    int Code() const { return code_; }

private:
    int code_;
};

// A file the program refuses to decode on its own account (a scan bomb:
// too many scans, or scans that repeat the picture's blocks too often).
class JpegRefusedError : public JpegError {
public:
    using JpegError::JpegError;
};

// Finds where libjpeg stops reading a JPEG file: just after its end-of-image
// marker, found the way libjpeg walks the file (marker segments by their
// lengths, entropy-coded data up to the next marker that is not a stuffed
// zero or a restart marker). A file that does not start with SOI ends after
// its first two bytes, which is all libjpeg reads of it.
class JpegEndFinder : public ReadEnough {
public:
    std::size_t NeededOf(const std::uint8_t* data, std::size_t size) override;

private:
    std::size_t pos_ = 0; // the first byte not yet walked
    bool entropy_ = false; // inside a scan's entropy-coded data
};

// The most scans a JPEG may have: libjpeg's own progressive script writes
// 10, the sample photographs have at most 10; a file that repeats one scan
// thousands of times is refused instead of decoded for minutes.
inline constexpr int kMaxJpegScans = 100;
// The most 8 x 8 blocks decoded over all scans of one file (each scan
// counts the blocks of the components it holds), as a multiple of the
// picture's blocks: libjpeg's own script decodes about 5 times the blocks of
// a colour picture, so an honest file stays far below, while a file that
// repeats scans is refused after about three honest decodes' work.
inline constexpr std::uint64_t kMaxJpegBlockVisitsPerBlock = 16;

// Why a decode was left early on the program's own account.
enum class DecodeLimit { None, Stopped, TooManyScans, TooMuchWork };

// A decode abandoned from outside (see ScopedDecodeStop): nothing of it may
// be used.
class DecodeStoppedError : public std::runtime_error {
public:
    DecodeStoppedError();
};

// While the object lives, every JPEG decode started on this thread (a
// TJPEGImage decode or a JpegRowReader made here, wherever its rows are read
// later) checks `stop` at every row of blocks and raises DecodeStoppedError
// soon after it becomes true.
class ScopedDecodeStop {
public:
    explicit ScopedDecodeStop(const std::atomic<bool>* stop);
    ~ScopedDecodeStop();
    ScopedDecodeStop(const ScopedDecodeStop&) = delete;
    ScopedDecodeStop& operator=(const ScopedDecodeStop&) = delete;

private:
    const std::atomic<bool>* earlier_;
};

class TJPEGImage {
public:
    // Reads the file up to its end-of-image marker and parses its header. Raises FileError (naming
    // the path) when the file cannot be read and JpegError when libjpeg
    // cannot parse it; the object is unchanged after a failure.
    void LoadFromFile(const std::string& path);
    // Same, reading into `storage`, which the caller keeps from file to
    // file so its pages are reused. The image (and any reader made from it)
    // shares the storage until loaded again or destroyed: the caller must
    // not read the next file into it while they hold it (use_count() > 1).
    void LoadFromFile(const std::string& path, const std::shared_ptr<std::vector<std::uint8_t>>& storage);
    // Same, for bytes already in memory.
    void LoadFromBytes(std::vector<std::uint8_t> bytes);

    bool Empty() const { return !data_; }
    // Header facts, known after loading and before any decoding.
    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Grayscale() const { return components_ == 1; }
    bool ProgressiveEncoding() const { return progressive_; }
    // The storage a decode of this file holds beside the picture it
    // delivers: the file's bytes, and for a progressive file the
    // coefficients of its whole picture (libjpeg keeps them from the first
    // scan to the last), else a few rows of blocks.
    std::uint64_t DecodeWorkingBytes() const;

    // libjpeg's interblock smoothing. It only changes the look of
    // incomplete progressive files; photographs switch it off, masks keep it.
    bool Smoothing = true;

    // Decodes at full size with the floating-point inverse DCT straight into
    // `out`, reusing its storage without painting it first (rows libjpeg
    // never delivers are white). After an error `out` holds whatever was
    // decoded so far. Grey files give three equal channels.
    // A file that ends early decodes without error, the missing part
    // filled as libjpeg fills it; `damage`, when given, then receives
    // "JPEG ends early: N of M rows" (N the rows decoded whole), else "".
    // Other libjpeg warnings are dropped. Raises JpegError
    // for data libjpeg gives up on and MemoryBudgetError (naming the file
    // when it was loaded from one) for a picture above the memory budget,
    // and FileRefusedError for a large picture its bytes could not hold
    // (RequireFileCanHold), before anything of the picture's size is
    // allocated.
    void DecodeInto(Bitmap24& out, std::string* damage = nullptr) const;
    Bitmap24 Decode() const;

private:
    friend class JpegRowReader;
    void load(std::shared_ptr<const std::vector<std::uint8_t>> data);
    // Shared and immutable, so copying a loaded image is cheap.
    std::shared_ptr<const std::vector<std::uint8_t>> data_;
    int width_ = 0;
    int height_ = 0;
    int components_ = 0;
    bool progressive_ = false;
    std::uint64_t coefficientBytes_ = 0;
    // The fewest bytes a whole file of this picture takes.
    std::uint64_t leastFileBytes_ = 0;
    // The file the bytes came from, for messages; empty for bytes.
    std::string name_;
};

// The pixels DecodeInto delivers, a few rows at a time, so a picture can be
// corrected and encoded while it is decoded without ever existing whole.
// Rows come top to bottom; together they are DecodeInto's rows byte for
// byte, and the reader fails where DecodeInto fails.
class JpegRowReader {
public:
    // Starts decoding a loaded image (which may be destroyed meanwhile: the
    // reader keeps the file's bytes). Raises MemoryBudgetError for a picture
    // above the memory budget and JpegError when libjpeg refuses to start.
    explicit JpegRowReader(const TJPEGImage& image);
    ~JpegRowReader();
    JpegRowReader(const JpegRowReader&) = delete;
    JpegRowReader& operator=(const JpegRowReader&) = delete;

    int Width() const { return width_; }
    int Height() const { return height_; }
    int RowsRead() const { return rowsRead_; }
    // Scans libjpeg has begun reading so far (all of a progressive file's
    // once the reader is made; 1 for a baseline file).
    int ScansRead() const;

    // The next `count` rows into out + i * stride, width * 3 bytes of blue,
    // green, red each; rows libjpeg never delivers are white. Raises
    // JpegError for data libjpeg gives up on, std::invalid_argument for more
    // rows than are left or a call after an error or after Finish.
    void ReadRows(std::uint8_t* out, std::size_t stride, int count);
    // Once every row has been read: lets libjpeg read to the end of the
    // file, which may still fail (JpegError).
    void Finish();
    // "JPEG ends early: N of M rows" when the file's data ended before the
    // picture did (N the rows decoded whole; the rest are libjpeg's grey),
    // else "". Complete once every row is read and Finish has returned.
    std::string Damage() const;
    // Whether libjpeg failed on this file; the reader then only accepts
    // destruction.
    bool Failed() const;

    struct State;

private:
    std::unique_ptr<State> state_;
    int width_ = 0;
    int height_ = 0;
    int rowsRead_ = 0;
};

// The JPEG `data` decoded at 1/1, 1/2, 1/4 or 1/8 of its size: the
// smallest of these still at least minWidth x minHeight (or full size).
// For thumbnails and previews, not for pictures that are saved. Raises
// JpegError as TJPEGImage does, MemoryBudgetError for a picture above the
// memory budget.
Bitmap24 DecodeJpegReduced(const std::uint8_t* data, std::size_t size, int minWidth, int minHeight);

// Baseline JPEG of the bitmap at quality 1..100 (values outside are clamped
// by libjpeg): floating-point forward DCT, baseline quantisation tables,
// YCbCr, not progressive. The output starts with SOI and libjpeg's default
// 16-byte JFIF APP0 segment (20 bytes in all), which the EXIF transplant
// replaces. Raises JpegError for an empty bitmap.
std::vector<std::uint8_t> EncodeJpeg(const Bitmap24& image, int quality);

// The same encoding fed a few rows at a time, so a picture can be encoded
// while its later rows are still being computed, and without the picture
// ever existing as one bitmap. The settings are EncodeJpeg's, so the bytes
// are identical for the same pixels.
//
// The encoded bytes go into `out`, which the caller keeps between encodes:
// it is grown when needed and never shrunk, so its pages are paid for once.
// While encoding, `out` holds scratch bytes beyond the encoded ones; after
// Finish() its size is exactly the encoded size.
//
// Raises JpegError when libjpeg fails (and std::invalid_argument for a
// width or height below 1, more rows than the picture has, or a call after
// Finish or after an error); after an error the encoder only accepts
// destruction.
class JpegBandEncoder {
public:
    // Starts a baseline JPEG of width x height pixels at quality 1..100.
    JpegBandEncoder(int width, int height, int quality, std::vector<std::uint8_t>& out);
    ~JpegBandEncoder();
    JpegBandEncoder(const JpegBandEncoder&) = delete;
    JpegBandEncoder& operator=(const JpegBandEncoder&) = delete;

    // The next `count` rows, top to bottom; each row is width * 3 bytes of
    // blue, green, red. The rows are consumed before the call returns, so
    // their storage may be reused at once.
    void WriteRows(const std::uint8_t* const* rows, int count);
    // Rows written so far.
    int RowsWritten() const { return rowsWritten_; }
    // Completes the file once every row has been written (raises
    // std::logic_error otherwise) and returns `out`, cut to the encoded
    // bytes.
    std::vector<std::uint8_t>& Finish();

    struct State;

private:
    std::unique_ptr<State> state_;
    int height_ = 0;
    int rowsWritten_ = 0;
};

} // namespace lumivane
