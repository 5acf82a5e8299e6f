// SPDX-License-Identifier: GPL-3.0-or-later
#include "TiffWriter.h"

#include "TiffDirectories.h"
#include "TiffReader.h"
#include "TiffStripEncoder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <tiffio.h>

namespace lumivane {

namespace {

using Client = TiffRowWriter::Client;

Client& clientOf(thandle_t handle)
{
    return *static_cast<Client*>(handle);
}

tmsize_t readProc(thandle_t handle, void* data, tmsize_t size)
{
    Client& c = clientOf(handle);
    const long long got = c.file->ReadAt(c.offset, data, std::size_t(size));
    if (got > 0)
        c.offset += std::uint64_t(got);
    return tmsize_t(got);
}

tmsize_t writeProc(thandle_t handle, void* data, tmsize_t size)
{
    Client& c = clientOf(handle);
    if (c.error)
        return -1;
    if (const int err = c.file->WriteAt(c.offset, data, std::size_t(size))) {
        c.error = err;
        return -1;
    }
    c.offset += std::uint64_t(size);
    return size;
}

toff_t seekProc(thandle_t handle, toff_t offset, int whence)
{
    Client& c = clientOf(handle);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR)
        base = c.offset;
    else if (whence == SEEK_END)
        base = c.file->Size();
    c.offset = base + offset;
    return c.offset;
}

int closeProc(thandle_t)
{
    return 0; // the atomic writer owns the file
}

toff_t sizeProc(thandle_t handle)
{
    return clientOf(handle).file->Size();
}

int mapProc(thandle_t, void**, toff_t*)
{
    return 0;
}

void unmapProc(thandle_t, void*, toff_t) {}

// Classic TIFF's offsets are 32-bit.
constexpr std::uint64_t kClassicLimit = std::uint64_t(1) << 32;

} // namespace

std::size_t TiffTagUnit(TIFF* tif, unsigned tag)
{
    const TIFFField* field = TIFFFieldWithTag(tif, tag);
    const int width = field ? TIFFDataWidth(TIFFFieldDataType(field)) : 1;
    return std::size_t(std::max(width, 1));
}

bool NeedsBigTiff(int width, int height, int bitsPerSample, std::uint64_t metadataBytes)
{
    const std::uint64_t raw = std::uint64_t(width) * std::uint64_t(height) * 3u * std::uint64_t(bitsPerSample / 8);
    // Deflate adds at most a few bytes per 16 KiB block to data it cannot
    // compress; the strip tables and the directory need room too.
    const std::uint64_t worst = raw + raw / 256 + metadataBytes + (std::uint64_t(1) << 20);
    return worst >= kClassicLimit;
}

int TiffRowsPerStrip(std::size_t rowBytes)
{
    constexpr std::size_t kStripBytes = 256 * 1024;
    return int(std::clamp<std::size_t>(kStripBytes / std::max<std::size_t>(rowBytes, 1), 1, 65536));
}

TiffRowWriter::TiffRowWriter(TemporaryFile& file, int width, int height, int bitsPerSample,
                             const TiffMetadata& metadata, bool bigTiff, int workers)
    : width_(width), height_(height)
{
    if (width <= 0 || height <= 0 || (bitsPerSample != 8 && bitsPerSample != 16))
        throw TiffError("Cannot write a TIFF of " + std::to_string(width) + " x " + std::to_string(height) +
                        " pixels at " + std::to_string(bitsPerSample) + " bits");
    InstallSilentTiffHandlers();
    const std::uint64_t metadataBytes =
        metadata.icc.size() + metadata.xmp.size() + metadata.iptc.size() + metadata.exif.bytes();
    exif_ = metadata.exif;
    bigTiff_ = bigTiff || NeedsBigTiff(width, height, bitsPerSample, metadataBytes);
    client_.file = &file;
    tif_ = TIFFClientOpen("output", bigTiff_ ? "w8" : "w", &client_, readProc, writeProc, seekProc, closeProc,
                          sizeProc, mapProc, unmapProc);
    if (!tif_)
        failed("cannot start the file");
    rowBytes_ = std::size_t(width) * 3u * std::size_t(bitsPerSample / 8);
    rowsPerStrip_ = std::min(TiffRowsPerStrip(rowBytes_), height);
    bool ok = TIFFSetField(tif_, TIFFTAG_IMAGEWIDTH, std::uint32_t(width)) &&
              TIFFSetField(tif_, TIFFTAG_IMAGELENGTH, std::uint32_t(height)) &&
              TIFFSetField(tif_, TIFFTAG_SAMPLESPERPIXEL, 3) &&
              TIFFSetField(tif_, TIFFTAG_BITSPERSAMPLE, bitsPerSample) &&
              TIFFSetField(tif_, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT) &&
              TIFFSetField(tif_, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
              TIFFSetField(tif_, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(tif_, TIFFTAG_ORIENTATION,
                           metadata.exif.orientation >= 1 && metadata.exif.orientation <= 8
                               ? metadata.exif.orientation
                               : std::uint16_t(ORIENTATION_TOPLEFT)) &&
              TIFFSetField(tif_, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) &&
              TIFFSetField(tif_, TIFFTAG_ZIPQUALITY, 6) &&
              TIFFSetField(tif_, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) &&
              TIFFSetField(tif_, TIFFTAG_ROWSPERSTRIP, std::uint32_t(TiffRowsPerStrip(rowBytes_)));
    if (ok && std::none_of(metadata.exif.first.begin(), metadata.exif.first.end(),
                           [](const TiffDirectoryEntry& e) { return e.tag == TIFFTAG_XRESOLUTION; })) {
        // Readers require a resolution; without the source's, 72 dpi.
        ok = TIFFSetField(tif_, TIFFTAG_XRESOLUTION, 72.0) && TIFFSetField(tif_, TIFFTAG_YRESOLUTION, 72.0) &&
             TIFFSetField(tif_, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    }
    if (ok && !metadata.icc.empty())
        ok = TIFFSetField(tif_, TIFFTAG_ICCPROFILE, std::uint32_t(metadata.icc.size()), metadata.icc.data());
    if (ok && !metadata.xmp.empty())
        ok = TIFFSetField(tif_, TIFFTAG_XMLPACKET, std::uint32_t(metadata.xmp.size()), metadata.xmp.data());
    if (ok && !metadata.iptc.empty()) {
        // Where the tag counts 32-bit values the records are padded with
        // zeros to a multiple of four bytes, as other writers do.
        const std::size_t unit = TiffTagUnit(tif_, TIFFTAG_RICHTIFFIPTC);
        std::vector<std::uint8_t> padded(metadata.iptc);
        padded.resize((padded.size() + unit - 1) / unit * unit, 0);
        ok = TIFFSetField(tif_, TIFFTAG_RICHTIFFIPTC, std::uint32_t(padded.size() / unit), padded.data());
    }
    if (!ok)
        failed("libtiff refused the picture's layout");
    encoder_ = std::make_unique<TiffStripEncoder>(rowBytes_, rowsPerStrip_, bitsPerSample,
                                                  workers > 0 ? workers : TiffStripEncoder::DefaultWorkers());
}

TiffRowWriter::~TiffRowWriter()
{
    if (tif_)
        TIFFClose(tif_);
}

void TiffRowWriter::failed(const char* what) const
{
    throw TiffError(std::string("Cannot write the TIFF: ") + what);
}

int TiffRowWriter::WriteRows(const void* rows, std::size_t stride, int count)
{
    const auto* row = static_cast<const std::uint8_t*>(rows);
    for (int i = 0; i < count; ++i, row += stride) {
        if (rowsWritten_ >= height_)
            failed("more rows than the picture has");
        if (rowsInStrip_ == 0 && !encoder_->HasRoom())
            if (const int err = writeStrips(false))
                return err;
        std::memcpy(encoder_->Filling() + std::size_t(rowsInStrip_) * rowBytes_, row, rowBytes_);
        ++rowsWritten_;
        if (++rowsInStrip_ == rowsPerStrip_ || rowsWritten_ == height_) {
            encoder_->Submit(rowsInStrip_);
            rowsInStrip_ = 0;
        }
    }
    return 0;
}

int TiffRowWriter::writeStrips(bool all)
{
    // Without `all`, the oldest strip goes, so its slot comes free.
    while (encoder_->Pending()) {
        const std::vector<std::uint8_t>* packed = nullptr;
        try {
            packed = &encoder_->WaitOldest();
        } catch (const std::runtime_error&) {
            failed("the compression failed");
        }
        if (TIFFWriteRawStrip(tif_, stripsWritten_, const_cast<std::uint8_t*>(packed->data()),
                              tmsize_t(packed->size())) < 0) {
            if (client_.error)
                return client_.error;
            failed("libtiff could not write a strip");
        }
        encoder_->PopOldest();
        ++stripsWritten_;
        if (!all)
            break;
    }
    return 0;
}

int TiffRowWriter::Finish()
{
    if (rowsWritten_ != height_)
        failed("rows are missing");
    if (const int err = writeStrips(true))
        return err;
    encoder_.reset();
    const int flushed = TIFFFlush(tif_);
    TIFFClose(tif_);
    tif_ = nullptr;
    if (client_.error)
        return client_.error;
    if (flushed != 1)
        failed("libtiff could not write the directory");
    return AppendExifDirectories(*client_.file, exif_, thumbnail_);
}

} // namespace lumivane
