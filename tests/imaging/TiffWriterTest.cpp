// SPDX-License-Identifier: GPL-3.0-or-later
// TIFF output read back with libtiff's scanline interface: pixels, depth,
// compression, carried tags, BigTIFF, and the atomic writer's guarantees.
#include "TiffWriter.h"

#include "FileIO.h"
#include "ImagingTestUtil.h"
#include "TiffFiles.h"
#include "TiffDirectories.h"
#include "TiffReader.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace lumivane;
using lumivane::testing::ReadTiffBack;
using lumivane::testing::ScratchDir;

namespace {

// Samples that differ from pixel to pixel and channel to channel.
std::vector<std::uint16_t> samplesFor(int width, int height, int bits)
{
    std::vector<std::uint16_t> s(std::size_t(width) * std::size_t(height) * 3);
    const unsigned top = bits == 16 ? 65535u : 255u;
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = std::uint16_t((i * 2654435761u >> 7) % (top + 1));
    return s;
}

// Writes the samples through TiffRowWriter, `rowsAtOnce` rows a call.
std::string writeTiff(const OutputTarget& target, int width, int height, int bits,
                      const std::vector<std::uint16_t>& samples, const TiffMetadata& metadata = {},
                      bool bigTiff = false, int rowsAtOnce = 7)
{
    const std::size_t rowBytes = std::size_t(width) * 3 * std::size_t(bits / 8);
    std::vector<std::uint8_t> rows(rowBytes * std::size_t(height));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (bits == 16)
            std::memcpy(rows.data() + 2 * i, &samples[i], 2);
        else
            rows[i] = std::uint8_t(samples[i]);
    }
    return target.WriteStreamed([&](TemporaryFile& file) {
        TiffRowWriter writer(file, width, height, bits, metadata, bigTiff);
        for (int y = 0; y < height; y += rowsAtOnce)
            if (const int err = writer.WriteRows(rows.data() + std::size_t(y) * rowBytes, rowBytes,
                                                 std::min(rowsAtOnce, height - y)))
                return err;
        return writer.Finish();
    });
}

} // namespace

TEST(TiffWriter, PixelsDepthAndCompression_ReadBackUnchanged)
{
    struct Case {
        int width, height, bits;
        bool bigTiff;
    };
    const Case cases[] = {{1, 1, 8, false},   {13, 9, 8, false},  {13, 9, 16, false},
                          {700, 130, 16, false}, {31, 17, 8, true}, {31, 17, 16, true}};
    ScratchDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " at " + std::to_string(c.bits) +
                     (c.bigTiff ? " BigTIFF" : ""));
        const std::vector<std::uint16_t> samples = samplesFor(c.width, c.height, c.bits);
        const std::string path = dir.file("out.tif");
        writeTiff(OutputTarget(path), c.width, c.height, c.bits, samples, {}, c.bigTiff);
        const auto back = ReadTiffBack(path);
        EXPECT_EQ(back.width, std::uint32_t(c.width));
        EXPECT_EQ(back.height, std::uint32_t(c.height));
        EXPECT_EQ(back.bits, c.bits);
        EXPECT_EQ(back.samplesPerPixel, 3);
        EXPECT_EQ(back.photometric, PHOTOMETRIC_RGB);
        EXPECT_EQ(back.compression, COMPRESSION_ADOBE_DEFLATE);
        EXPECT_EQ(back.predictor, PREDICTOR_HORIZONTAL);
        EXPECT_EQ(back.bigTiff, c.bigTiff);
        EXPECT_EQ(back.samples, samples);
    }
    EXPECT_EQ(dir.names(), std::vector<std::string>{"out.tif"});
}

TEST(TiffWriter, CarriedSections_ComeBackAsTheirTags)
{
    ScratchDir dir;
    TiffMetadata metadata;
    metadata.icc.assign(517, 0x5A); // an odd length
    metadata.icc[0] = 0x01;
    metadata.xmp = {'<', 'x', ':', 'x', '/', '>'};
    metadata.iptc = {0x1C, 0x02, 0x00, 0x00, 0x02, 0x00, 0x04}; // record 2:00, version 4; 7 bytes
    const std::string path = dir.file("tags.tif");
    writeTiff(OutputTarget(path), 5, 4, 16, samplesFor(5, 4, 16), metadata);
    const auto back = ReadTiffBack(path);
    EXPECT_EQ(back.metadata.icc, metadata.icc);
    EXPECT_EQ(back.metadata.xmp, metadata.xmp);
    // Padded to whole counted values where the tag counts 32-bit values.
    ASSERT_GE(back.metadata.iptc.size(), metadata.iptc.size());
    EXPECT_TRUE(std::equal(metadata.iptc.begin(), metadata.iptc.end(), back.metadata.iptc.begin()));
    const TiffMetadata read = ReadTiffMetadata(path);
    EXPECT_EQ(read.icc, metadata.icc);
    EXPECT_EQ(read.xmp, metadata.xmp);
    EXPECT_EQ(read.iptc, back.metadata.iptc);
}

// EXIF entries given in either byte order reach classic and BigTIFF files
// in the file's order, where libtiff's own EXIF and GPS reading finds them;
// the pixels and the carried sections stay as they were.
TEST(TiffWriter, ExifDirectories_ReadBackByLibtiff)
{
    ScratchDir dir;
    for (const bool bigTiff : {false, true})
        for (const bool bigEndian : {false, true}) {
            SCOPED_TRACE(std::string(bigTiff ? "BigTIFF" : "classic") + (bigEndian ? ", MM values" : ", II values"));
            auto ordered = [&](std::uint32_t v, int bytes) {
                std::vector<std::uint8_t> out;
                for (int i = 0; i < bytes; ++i)
                    out.push_back(std::uint8_t(v >> (8 * (bigEndian ? bytes - 1 - i : i))));
                return out;
            };
            TiffMetadata metadata;
            metadata.xmp = {'<', 'x', '/', '>'};
            metadata.exif.bigEndian = bigEndian;
            metadata.exif.first = {{0x010F, 2, 9, {'A', 'c', 'm', 'e', ' ', 'C', 'a', 'm', 0}}, // Make
                                   {0x0100, 4, 1, ordered(9999, 4)}}; // ImageWidth: the file's own stays
            metadata.exif.exif = {{0x8827, 3, 2, [&] { // ISOSpeedRatings 400, 800
                                       auto v = ordered(400, 2), w = ordered(800, 2);
                                       v.insert(v.end(), w.begin(), w.end());
                                       return v;
                                   }()},
                                  {0xA002, 4, 1, ordered(123456, 4)}}; // PixelXDimension
            metadata.exif.gps = {{0x0000, 1, 4, {2, 3, 0, 0}}};  // GPSVersionID
            const std::string path = dir.file("exif.tif");
            const std::vector<std::uint16_t> samples = samplesFor(6, 5, 8);
            writeTiff(OutputTarget(path), 6, 5, 8, samples, metadata, bigTiff);
            const auto back = ReadTiffBack(path);
            EXPECT_EQ(back.bigTiff, bigTiff);
            EXPECT_EQ(back.width, 6u);
            EXPECT_EQ(back.samples, samples);
            EXPECT_EQ(back.metadata.xmp, metadata.xmp);

            TIFF* tif = TIFFOpen(path.c_str(), "r");
            ASSERT_NE(tif, nullptr);
            const char* make = nullptr;
            ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_MAKE, &make));
            EXPECT_STREQ(make, "Acme Cam");
            toff_t exifAt = 0, gpsAt = 0;
            ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_EXIFIFD, &exifAt));
            ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_GPSIFD, &gpsAt));
            ASSERT_TRUE(TIFFReadEXIFDirectory(tif, exifAt));
            std::uint16_t isoCount = 0;
            const std::uint16_t* iso = nullptr;
            ASSERT_TRUE(TIFFGetField(tif, EXIFTAG_ISOSPEEDRATINGS, &isoCount, &iso));
            ASSERT_EQ(isoCount, 2);
            EXPECT_EQ(iso[0], 400);
            EXPECT_EQ(iso[1], 800);
            std::uint32_t pixelX = 0;
            ASSERT_TRUE(TIFFGetField(tif, EXIFTAG_PIXELXDIMENSION, &pixelX));
            EXPECT_EQ(pixelX, 123456u);
            ASSERT_TRUE(TIFFReadGPSDirectory(tif, gpsAt));
            const std::uint8_t* version = nullptr;
            ASSERT_TRUE(TIFFGetField(tif, GPSTAG_VERSIONID, &version));
            EXPECT_EQ(std::vector<std::uint8_t>(version, version + 4), (std::vector<std::uint8_t>{2, 3, 0, 0}));
            TIFFClose(tif);
        }
    EXPECT_EQ(dir.names(), std::vector<std::string>{"exif.tif"});
}

// The thumbnail: the second directory, a reduced-resolution RGB image of
// the picture's aspect within 160 x 120 showing the picture averaged down
// (a smooth picture, so any fair averaging agrees within a code or two).
TEST(TiffWriter, Thumbnail_SecondDirectoryShowsThePictureReduced)
{
    const struct {
        int width, height, bits;
        bool bigTiff;
        std::uint32_t thumbWidth, thumbHeight;
    } cases[] = {{300, 210, 8, false, 160, 112}, {200, 320, 16, false, 75, 120}, {50, 30, 8, false, 50, 30},
                 {1000, 3, 8, false, 160, 1},    {320, 240, 16, true, 160, 120}};
    ScratchDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " at " + std::to_string(c.bits));
        const int top = c.bits == 16 ? 65535 : 255;
        // Red follows x, green y, blue both.
        auto sample = [&](int x, int y, int ch) {
            const double v = ch == 0 ? double(x) / c.width : ch == 1 ? double(y) / c.height
                                                                      : double(x + y) / (c.width + c.height);
            return int(v * top + 0.5);
        };
        const std::size_t rowBytes = std::size_t(c.width) * 3 * std::size_t(c.bits / 8);
        std::vector<std::uint8_t> rows(rowBytes * std::size_t(c.height));
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                for (int ch = 0; ch < 3; ++ch) {
                    const std::size_t i = std::size_t(y) * std::size_t(c.width) * 3 + std::size_t(3 * x + ch);
                    if (c.bits == 16) {
                        const auto v = std::uint16_t(sample(x, y, ch));
                        std::memcpy(rows.data() + 2 * i, &v, 2);
                    } else {
                        rows[i] = std::uint8_t(sample(x, y, ch));
                    }
                }
        const std::string path = dir.file("thumb.tif");
        OutputTarget(path).WriteStreamed([&](TemporaryFile& file) {
            TiffRowWriter writer(file, c.width, c.height, c.bits, {}, c.bigTiff);
            TiffThumbnailBuilder thumbnail(c.width, c.height, c.bits);
            for (int y = 0; y < c.height; y += 16) {
                const int n = std::min(16, c.height - y);
                thumbnail.AddRows(rows.data() + std::size_t(y) * rowBytes, rowBytes, n);
                if (const int err = writer.WriteRows(rows.data() + std::size_t(y) * rowBytes, rowBytes, n))
                    return err;
            }
            writer.SetThumbnail(thumbnail.Result());
            return writer.Finish();
        });
        EXPECT_EQ(ReadTiffBack(path).width, std::uint32_t(c.width)); // the picture itself first

        TIFF* tif = TIFFOpen(path.c_str(), "r");
        ASSERT_NE(tif, nullptr);
        ASSERT_TRUE(TIFFSetDirectory(tif, 1));
        std::uint32_t subfile = 0, tw = 0, th = 0;
        EXPECT_TRUE(TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &subfile));
        EXPECT_EQ(subfile, std::uint32_t(FILETYPE_REDUCEDIMAGE));
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &tw);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &th);
        EXPECT_EQ(tw, c.thumbWidth);
        EXPECT_EQ(th, c.thumbHeight);
        std::vector<std::uint8_t> line(std::size_t(TIFFScanlineSize(tif)));
        int worst = 0;
        for (std::uint32_t ty = 0; ty < th; ++ty) {
            ASSERT_EQ(TIFFReadScanline(tif, line.data(), ty, 0), 1);
            for (std::uint32_t tx = 0; tx < tw; ++tx)
                for (int ch = 0; ch < 3; ++ch) {
                    // The mean over the thumbnail pixel's box, at 8 bits.
                    const double x0 = double(tx) * c.width / tw, x1 = double(tx + 1) * c.width / tw;
                    const double y0 = double(ty) * c.height / th, y1 = double(ty + 1) * c.height / th;
                    const double centre =
                        (sample(int((x0 + x1) / 2), int((y0 + y1) / 2), ch) +
                         sample(int(x0), int(y0), ch) + sample(int(x1 - 1e-9), int(y1 - 1e-9), ch)) / 3.0;
                    worst = std::max(worst, std::abs(int(line[3 * tx + std::uint32_t(ch)]) - int(centre * 255 / top)));
                }
        }
        EXPECT_LE(worst, 3);
        EXPECT_FALSE(TIFFReadDirectory(tif)); // no third directory
        TIFFClose(tif);
    }
}

TEST(TiffWriter, NeedsBigTiff_OnlyWhenTheFileCouldPassFourGiB)
{
    struct Case {
        int width, height, bits;
        std::uint64_t metadata;
        bool big;
    };
    const Case cases[] = {
        {6000, 4000, 16, 0, false},        // 24 megapixels: 144 MB
        {40000, 30000, 8, 0, false},       // 3.6 GB of samples
        {40000, 30000, 16, 0, true},       // 7.2 GB
        {37000, 38000, 8, 0, false},       // 4.218 GB of samples: just under 4 GiB
        {38000, 38000, 8, 0, true},        // 4.332 GB: over
        {30000, 30000, 16, 0, true},       // 5.4 GB
        {20000, 20000, 8, 3u << 30, true}, // 1.2 GB of samples and 3 GiB of tags
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        EXPECT_EQ(NeedsBigTiff(c.width, c.height, c.bits, c.metadata), c.big);
    }
}

TEST(TiffWriter, FailedWrite_LeavesNothingAndNamesTheFile)
{
    ScratchDir dir;
    const std::string path = dir.file("full.tif");
    for (const int failure : {ENOSPC, EIO}) {
        SCOPED_TRACE(failure);
        int writes = 0;
        ScopedFileFault fault([&](FileStep step, const std::string&, std::size_t&) {
            return step == FileStep::Write && ++writes == 3 ? failure : 0;
        });
        try {
            writeTiff(OutputTarget(path), 300, 200, 16, samplesFor(300, 200, 16));
            ADD_FAILURE() << "no error";
        } catch (const FileError& e) {
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(std::strerror(failure)), std::string::npos) << e.what();
        }
        EXPECT_EQ(dir.names(), std::vector<std::string>{});
    }
}

TEST(TiffWriter, MissingRows_RaiseAndLeaveNothing)
{
    ScratchDir dir;
    const OutputTarget target(dir.file("short.tif"));
    EXPECT_THROW(target.WriteStreamed([](TemporaryFile& file) {
        TiffRowWriter writer(file, 4, 4, 8, {});
        const std::uint8_t row[12] = {};
        writer.WriteRows(row, sizeof row, 1);
        return writer.Finish();
    }),
                 TiffError);
    EXPECT_THROW(target.WriteStreamed([](TemporaryFile& file) {
        TiffRowWriter writer(file, 4, 4, 12, {});
        return writer.Finish();
    }),
                 TiffError);
    EXPECT_EQ(dir.names(), std::vector<std::string>{});
}

TEST(TiffWriter, BatchTarget_WritesOnceAndTakesTheFirstFreeName)
{
    ScratchDir dir;
    WriteFileAtomically(dir.file("a.tif"), std::string("keep").data(), 4, WriteMode::NoReplace);
    int writes = 0;
    ScopedFileFault count([&](FileStep step, const std::string&, std::size_t&) {
        writes += step == FileStep::Create;
        return 0;
    });
    const OutputTarget target = OutputTarget::FirstFree([&](int attempt) {
        return dir.file(attempt == 0 ? "a.tif" : "a." + std::to_string(attempt) + ".tif");
    });
    const std::vector<std::uint16_t> samples = samplesFor(9, 5, 8);
    EXPECT_EQ(writeTiff(target, 9, 5, 8, samples), dir.file("a.1.tif"));
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(ReadWholeFile(dir.file("a.tif")), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(ReadTiffBack(dir.file("a.1.tif")).samples, samples);
}
