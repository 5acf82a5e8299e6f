// SPDX-License-Identifier: GPL-3.0-or-later
// The band-wise save must write exactly the files of the plain sequence:
// ApplyCorrection on a copy, CropBitmap, EncodeJpeg (or EncodeBmp), then
// the metadata step that describes the written picture. Every case here
// builds both files and compares them byte for byte; the pixels are also
// those of a plain CopyExif.
#include "SavePipeline.h"
#include "ReducedPicture.h"

#include "BmpCodec.h"
#include "ExactCorrection16.h"
#include "CorrectionKernel.h"
#include "ExifTransplant.h"
#include "FileIO.h"
#include "JpegCodec.h"
#include "MaskGeometry.h"
#include "ProfileCurve.h"
#include "ReducedView.h"
#include "Workflow.h"
#include "TemporaryFolder.h"
#include "TestOracles.h"
#include "TiffFiles.h"
#include "SyntheticPictures.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

using namespace lumivane;
using lumivane::test_support::GrainyPhoto;
using lumivane::test_support::FalloffMask;
namespace fs = std::filesystem;
using lumivane::test_support::TemporaryFolder;
using Bytes = std::vector<std::uint8_t>;

namespace {

const std::string kSamples = LUMIVANE_SAMPLES_DIR;
// SOI followed directly by APP1, as cameras write.
const std::string kCameraJpeg = kSamples + "/exif/ianare_canon-ixus.jpg";

// The plain sequence's metadata step: the encoded picture written with the
// source's sections made to describe it, its thumbnail made from the whole
// picture reduced in one go.
TransplantResult describedCopy(const std::string& source, const Bitmap24& plain, int quality, const std::string& path)
{
    ReducedPictureBuilder reduced(plain.width(), plain.height());
    reduced.AddRows(plain.data(), plain.rowBytes(), 0, plain.height());
    return WriteJpegWithExif(EncodeJpeg(plain, quality), source, path, WriteMode::Replace,
                             OutputPicture{plain.width(), plain.height(), std::make_shared<const Bitmap24>(reduced.Picture())});
}

// Whether two JPEG files decode to the same pixels.
bool samePixelData(const Bytes& a, const Bytes& b)
{
    TJPEGImage first, second;
    first.LoadFromBytes(a);
    second.LoadFromBytes(b);
    return first.Decode() == second.Decode();
}

// SOI, a JFIF APP0, then an APP1 further on.
const std::string kJfifWithExif = kSamples + "/exif/ianare_Canon_PowerShot_S40.jpg";
const std::string kBmpSource = kSamples + "/bmp/g/rgb24.bmp";

const float kDamping = DampingForStrength(40);
const CorrectionTargets kTargets = TargetsFor(220, 230, 240, 31);

// The image the plain sequence writes: correct a copy, then crop.
Bitmap24 plainImage(const Bitmap24& photo, const Bitmap24& mask, const CorrectionRegion& region,
                    const CropMargins& crop)
{
    Bitmap24 work = photo;
    ApplyCorrection(work, mask, region, kDamping, kTargets);
    if (crop.left || crop.top || crop.right || crop.bottom)
        return CropBitmap(work, crop.left, crop.top, crop.right, crop.bottom);
    return work;
}


// ---------------------------------------------------------------------------
// Band encoder

TEST(JpegBandEncoder_MatchesEncodeJpeg, ForSizesQualitiesAndRowGroupings)
{
    struct Case {
        int width, height;
        bool noise;
    };
    const Case cases[] = {{1, 1, false}, {17, 9, false}, {3, 200, false}, {160, 120, false}, {201, 67, false},
                          {256, 256, true}};
    // One buffer for every encode: what an earlier, larger file left in it
    // must never show in a later one.
    Bytes out;
    for (const Case& c : cases) {
        const unsigned seed = unsigned(c.width * 31 + c.height);
        const Bitmap24 image = c.noise ? NoiseBitmap(c.width, c.height, seed) : GrainyPhoto(c.width, c.height, seed);
        for (int quality : {1, 50, 90, 100}) {
            const Bytes expected = EncodeJpeg(image, quality);
            for (int group : {1, 7, 16, c.height}) {
                SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " q" +
                             std::to_string(quality) + " rows by " + std::to_string(group));
                JpegBandEncoder encoder(c.width, c.height, quality, out);
                std::vector<const std::uint8_t*> rows;
                for (int y = 0; y < c.height; y += group) {
                    rows.clear();
                    for (int i = y; i < std::min(y + group, c.height); ++i)
                        rows.push_back(image.scanLine(i));
                    encoder.WriteRows(rows.data(), int(rows.size()));
                }
                EXPECT_EQ(encoder.RowsWritten(), c.height);
                EXPECT_EQ(encoder.Finish(), expected);
            }
        }
    }
}

// A picture large enough that the encoder's output grows step by step
// within its reserved room and then past it: the bytes stay EncodeJpeg's,
// also in a buffer a larger file left behind.
TEST(JpegBandEncoder_MatchesEncodeJpeg, WhenTheOutputOutgrowsItsFirstStepAndItsRoom)
{
    const Bitmap24 image = NoiseBitmap(1600, 1400, 7u);
    Bytes out;
    for (int quality : {100, 60, 1}) {
        SCOPED_TRACE(quality);
        const Bytes expected = EncodeJpeg(image, quality);
        JpegBandEncoder encoder(image.width(), image.height(), quality, out);
        for (int y = 0; y < image.height(); y += 16) {
            const std::uint8_t* rows[16];
            const int count = std::min(16, image.height() - y);
            for (int i = 0; i < count; ++i)
                rows[i] = image.scanLine(y + i);
            encoder.WriteRows(rows, count);
        }
        EXPECT_EQ(encoder.Finish(), expected);
    }
}

TEST(JpegBandEncoder_Rejects, MisuseWithClearErrors)
{
    Bytes out;
    EXPECT_THROW(JpegBandEncoder(0, 5, 90, out), std::invalid_argument);
    EXPECT_THROW(JpegBandEncoder(5, 0, 90, out), std::invalid_argument);

    const Bitmap24 image = GrainyPhoto(8, 4, 1);
    const std::uint8_t* rows[5] = {image.scanLine(0), image.scanLine(1), image.scanLine(2), image.scanLine(3),
                                   image.scanLine(3)};
    {
        JpegBandEncoder encoder(8, 4, 90, out);
        EXPECT_THROW(encoder.WriteRows(rows, 5), std::invalid_argument); // one row too many
        encoder.WriteRows(rows, 3);
        EXPECT_THROW(encoder.Finish(), std::logic_error); // a row missing
        encoder.WriteRows(rows + 3, 1);
        EXPECT_EQ(encoder.Finish(), EncodeJpeg(image, 90));
        EXPECT_THROW(encoder.WriteRows(rows, 1), std::invalid_argument); // after the end
    }
}

// ---------------------------------------------------------------------------
// Correcting a window of the photograph into other storage

TEST(CorrectionPass_MatchesApplyCorrection, ForRegionsAndWindows)
{
    const Bitmap24 photo = GrainyPhoto(41, 29, 5);
    const Bitmap24 mask = FalloffMask(41, 29);
    CorrectionRegion shifted;
    shifted.px = 3;
    shifted.my = 2;
    CorrectionRegion maskShifted;
    maskShifted.mx = 5;
    maskShifted.py = 1;
    CorrectionRegion margins;
    margins.left = 4;
    margins.right = 2;
    margins.top = 6;
    margins.bottom = 3;
    CorrectionRegion outside; // offsets beyond the picture: nothing corrected
    outside.px = 50;
    const CorrectionRegion regions[] = {CorrectionRegion{}, shifted, maskShifted, margins, outside};
    const Rect windows[] = {{0, 0, 41, 29}, {0, 0, 41, 1}, {0, 28, 41, 29}, {2, 3, 39, 17},
                            {40, 0, 41, 29}, {0, 0, 1, 1},  {10, 10, 10, 20}};
    for (const CorrectionRegion& region : regions) {
        Bitmap24 corrected = photo;
        ApplyCorrection(corrected, mask, region, kDamping, kTargets);
        const CorrectionPass pass(photo, mask, region, kDamping, kTargets);
        for (const Rect& w : windows) {
            SCOPED_TRACE("region px " + std::to_string(region.px) + " mx " + std::to_string(region.mx) +
                         ", window " + std::to_string(w.left) + "," + std::to_string(w.top) + "-" +
                         std::to_string(w.right) + "," + std::to_string(w.bottom));
            const int width = std::max(w.width(), 0), height = std::max(w.height(), 0);
            // A guard byte after the window checks nothing is written beyond it.
            Bytes out(std::size_t(width) * 3 * std::size_t(height) + 1, 0xA5);
            pass.CorrectInto(w, out.data(), std::ptrdiff_t(width) * 3);
            EXPECT_EQ(out.back(), 0xA5);
            out.pop_back();
            Bytes expected;
            for (int y = w.top; y < w.bottom; ++y)
                for (int x = w.left; x < w.right; ++x)
                    for (int c = 0; c < 3; ++c)
                        expected.push_back(corrected.scanLine(y)[3 * x + c]);
            EXPECT_EQ(out, expected);
        }
    }
    EXPECT_EQ(photo, GrainyPhoto(41, 29, 5)); // only read
}

TEST(CorrectionPass_Rows, EqualTheCorrectedPhotographsRowsAndRefuseRowsOutside)
{
    const Bitmap24 photo = GrainyPhoto(23, 17, 8);
    const Bitmap24 mask = FalloffMask(23, 17);
    const CorrectionRegion region = FullSizeRegion(-40, 30, 23, 17);
    Bitmap24 corrected = photo;
    ApplyCorrection(corrected, mask, region, kDamping, kTargets);
    Bitmap24 band;
    for (int first : {0, 5, 16}) {
        ApplyCorrectionRows(photo, band, first, 1, mask, region, kDamping, kTargets);
        EXPECT_EQ(band, CropBitmap(corrected, 0, first, 0, 16 - first));
    }
    ApplyCorrectionRows(photo, band, 0, 17, mask, region, kDamping, kTargets);
    EXPECT_EQ(band, corrected);
    EXPECT_THROW(ApplyCorrectionRows(photo, band, 10, 8, mask, region, kDamping, kTargets), std::out_of_range);
    EXPECT_THROW(ApplyCorrectionRows(photo, band, -1, 2, mask, region, kDamping, kTargets), std::out_of_range);
    Bytes out(3);
    const CorrectionPass pass(photo, mask, region, kDamping, kTargets);
    EXPECT_THROW(pass.CorrectInto(Rect{0, 0, 24, 1}, out.data(), 3), std::out_of_range);
    EXPECT_THROW(CorrectionPass(photo, mask, region, 0.0f, kTargets), std::invalid_argument);
}

// ---------------------------------------------------------------------------
// JPEG saves against the plain sequence

struct JpegCase {
    const char* name;
    int width, height;
    int ox, oy; // preview offset of the mask
    CropMargins crop;
    int quality;
    int threads;
    int bandRows;
};

const JpegCase kJpegCases[] = {
    {"no crop", 640, 480, 0, 0, {}, 90, 2, 32},
    {"crop 10 20 30 40", 640, 480, 0, 0, {10, 20, 30, 40}, 90, 2, 32},
    {"offset -10 5", 640, 480, -10, 5, {}, 90, 2, 32},
    {"offset 7 -3 with crop", 640, 480, 7, -3, {10, 20, 30, 40}, 75, 2, 16},
    {"one thread", 640, 480, -10, 5, {3, 0, 0, 5}, 90, 1, 32},
    {"odd size", 1001, 667, 7, -3, {}, 90, 2, 32},
    {"odd size, odd crop", 1001, 667, -10, 5, {1, 3, 5, 7}, 100, 2, 7},
    {"one pixel", 1, 1, 0, 0, {}, 90, 2, 32},
    {"one column", 3, 2000, 0, 0, {}, 90, 2, 32},
    {"one row per band", 3, 2000, 3, -2, {1, 0, 1, 9}, 50, 2, 1},
    {"crop to one pixel", 50, 40, -10, 5, {20, 10, 29, 29}, 90, 2, 32},
    {"quality 1", 320, 240, 0, 0, {}, 1, 2, 32},
    // Large enough that the thumbnail is made from the rows reduced in bands.
    {"thumbnail from the bands", 1304, 984, 3, -2, {2, 1, 3, 5}, 90, 2, 13},
};

class SaveJpegTest : public ::testing::TestWithParam<JpegCase> {};

TEST_P(SaveJpegTest, WritesThePlainSequencesFile_AndLeavesThePhotographAlone)
{
    const JpegCase& c = GetParam();
    TemporaryFolder folder{"lumivane-savepipe"};
    const Bitmap24 photo = GrainyPhoto(c.width, c.height, unsigned(c.width + c.height));
    const Bitmap24 untouched = photo;
    const Bitmap24 mask = FalloffMask(c.width, c.height);
    const CorrectionRegion region = FullSizeRegion(c.ox, c.oy, c.width, c.height);

    const std::string expectedPath = folder.file("expected.jpg");
    const Bitmap24 plain = plainImage(photo, mask, region, c.crop);
    SaveJpegFile(plain, c.quality, expectedPath);
    ASSERT_EQ(CopyExif(kCameraJpeg, expectedPath), TransplantResult::Transplanted);
    const Bytes copied = ReadWholeFile(expectedPath);
    ASSERT_EQ(describedCopy(kCameraJpeg, plain, c.quality, expectedPath), TransplantResult::Transplanted);

    SavePipeline pipeline(c.threads, c.bandRows);
    const std::string outPath = folder.file("IMG_1.jpg");
    // Twice: the second save runs on the buffers the first one left.
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(pipeline.SaveCorrectedJpeg(photo, mask, region, kDamping, kTargets, c.crop, c.quality,
                                             kCameraJpeg, outPath)
                      .transplant,
                  TransplantResult::Transplanted);
        EXPECT_EQ(ReadWholeFile(outPath), ReadWholeFile(expectedPath)) << "round " << round;
    }
    EXPECT_TRUE(samePixelData(ReadWholeFile(outPath), copied));
    EXPECT_EQ(photo, untouched);
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"IMG_1.jpg", "expected.jpg"}));
}

INSTANTIATE_TEST_SUITE_P(SavePipeline, SaveJpegTest, ::testing::ValuesIn(kJpegCases),
                         [](const ::testing::TestParamInfo<JpegCase>& info) {
                             std::string name;
                             for (const char* p = info.param.name; *p; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

// A photograph streamed from its JPEG, a band of rows at a time, must give
// the file of the same save from the photograph decoded whole, for every
// crop, offset and band height above (a crop whose top is not a multiple of
// the band height splits bands), as a JPEG and as a BMP.
TEST_P(SaveJpegTest, StreamedFromItsJpeg_WritesTheFileOfTheDecodedPhotograph)
{
    const JpegCase& c = GetParam();
    TemporaryFolder folder{"lumivane-savepipe"};
    TJPEGImage jpeg;
    jpeg.Smoothing = false;
    jpeg.LoadFromBytes(EncodeJpeg(GrainyPhoto(c.width, c.height, unsigned(c.width + c.height)), 95));
    const Bitmap24 photo = jpeg.Decode();
    const Bitmap24 mask = FalloffMask(c.width, c.height);
    const CorrectionRegion region = FullSizeRegion(c.ox, c.oy, c.width, c.height);

    SavePipeline decoded(c.threads, c.bandRows);
    SavePipeline streamed(c.threads, c.bandRows);
    const std::string expectedJpeg = folder.file("expected.jpg"), expectedBmp = folder.file("expected.bmp");
    decoded.SaveCorrectedJpeg(photo, mask, region, kDamping, kTargets, c.crop, c.quality, kCameraJpeg, expectedJpeg);
    decoded.SaveCorrectedBmp(photo, mask, region, kDamping, kTargets, c.crop, expectedBmp);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        // The observer sees every row once, top to bottom, as decoded.
        Bitmap24 seen(c.width, c.height);
        int nextRow = 0;
        const SavePipeline::RowObserver observe = [&](int first, const std::uint8_t* rows, std::size_t stride,
                                                      int count) {
            EXPECT_EQ(first, nextRow);
            for (int i = 0; i < count; ++i)
                std::memcpy(seen.scanLine(first + i), rows + std::size_t(i) * stride, seen.rowBytes());
            nextRow = first + count;
        };
        JpegRowReader forJpeg(jpeg);
        const std::string outJpeg = folder.file("IMG_1.jpg");
        EXPECT_EQ(streamed
                      .SaveCorrectedJpeg(forJpeg, mask, region, kDamping, kTargets, c.crop, c.quality, kCameraJpeg,
                                         outJpeg, observe)
                      .transplant,
                  TransplantResult::Transplanted);
        EXPECT_EQ(ReadWholeFile(outJpeg), ReadWholeFile(expectedJpeg));
        EXPECT_EQ(nextRow, c.height);
        EXPECT_EQ(seen, photo);

        JpegRowReader forBmp(jpeg);
        const std::string outBmp = folder.file("IMG_1.bmp");
        streamed.SaveCorrectedBmp(forBmp, mask, region, kDamping, kTargets, c.crop, outBmp);
        EXPECT_EQ(ReadWholeFile(outBmp), ReadWholeFile(expectedBmp));
    }
}

TEST(SavePipeline_Streamed, AFileThatFailsAfterItsLastRow_WritesNothing)
{
    TemporaryFolder folder{"lumivane-savepipe"};
    Bytes file = EncodeJpeg(GrainyPhoto(64, 48, 3), 90);
    // A second frame header before the end: libjpeg gives up only when it
    // reads on after the last row.
    const Bytes sof = {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x30, 0x00, 0x40, 0x03,
                       0x01, 0x22, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01};
    file.insert(file.end() - 2, sof.begin(), sof.end());
    TJPEGImage jpeg;
    jpeg.LoadFromBytes(file);
    const Bitmap24 mask = FalloffMask(64, 48);
    for (const int threads : {1, 2})
    for (const bool bmp : {false, true}) {
        SCOPED_TRACE(std::string(bmp ? "BMP" : "JPEG") + ", threads " + std::to_string(threads));
        SavePipeline pipeline(threads);
        JpegRowReader reader(jpeg);
        const std::string out = folder.file(bmp ? "IMG_5.bmp" : "IMG_5.jpg");
        if (bmp)
            EXPECT_THROW(pipeline.SaveCorrectedBmp(reader, mask, {}, kDamping, kTargets, {}, out), JpegError);
        else
            EXPECT_THROW(pipeline.SaveCorrectedJpeg(reader, mask, {}, kDamping, kTargets, {}, 90, kCameraJpeg, out),
                         JpegError);
        EXPECT_TRUE(reader.Failed());
    }
    EXPECT_TRUE(folder.names().empty());
}

TEST(SavePipeline_Jpeg, ReusedPipeline_GivesTheSameFilesAfterLargerAndSmallerPictures)
{
    TemporaryFolder folder{"lumivane-savepipe"};
    SavePipeline pipeline;
    const int sizes[][2] = {{400, 300}, {37, 1000}, {1200, 20}, {5, 5}, {400, 300}};
    int n = 0;
    for (const auto& size : sizes) {
        const Bitmap24 photo = n == 2 ? NoiseBitmap(size[0], size[1], unsigned(n)) : GrainyPhoto(size[0], size[1], unsigned(n));
        const Bitmap24 mask = FalloffMask(size[0], size[1]);
        const CorrectionRegion region = FullSizeRegion(-3, 2, size[0], size[1]);
        const std::string out = folder.file("out" + std::to_string(n++) + ".jpg");
        pipeline.SaveCorrectedJpeg(photo, mask, region, kDamping, kTargets, CropMargins{}, 85, kCameraJpeg, out);
        const Bytes expected = EncodeJpeg(plainImage(photo, mask, region, CropMargins{}), 85);
        EXPECT_EQ(pipeline.LastEncoded(), expected) << size[0] << "x" << size[1];
    }
}

// The EXIF step for every kind of source, against SaveJpegFile + CopyExif.
TEST(SavePipeline_Jpeg, SourceKinds_GiveTheTransplantsResultAndFile)
{
    struct SourceCase {
        std::string source;
        TransplantResult result;
    };
    TemporaryFolder folder{"lumivane-savepipe"};
    const std::string missing = folder.file("gone.JPG");
    const SourceCase cases[] = {
        {kCameraJpeg, TransplantResult::Transplanted},
        {kJfifWithExif, TransplantResult::Transplanted},
        {kBmpSource, TransplantResult::NotApplicable},
        {missing, TransplantResult::SourceMissing},
    };
    const Bitmap24 photo = GrainyPhoto(300, 200, 4);
    const Bitmap24 mask = FalloffMask(300, 200);
    const CorrectionRegion region = FullSizeRegion(4, -6, 300, 200);
    const CropMargins crop{2, 4, 6, 8};
    const std::string expectedPath = folder.file("expected.jpg");
    const std::string outPath = folder.file("out.jpg");
    SavePipeline pipeline;
    for (const SourceCase& c : cases) {
        SCOPED_TRACE(c.source);
        const Bitmap24 plain = plainImage(photo, mask, region, crop);
        SaveJpegFile(plain, 90, expectedPath);
        EXPECT_EQ(CopyExif(c.source, expectedPath), c.result);
        const Bytes copied = ReadWholeFile(expectedPath);
        if (c.result != TransplantResult::SourceMissing)
            describedCopy(c.source, plain, 90, expectedPath);
        EXPECT_EQ(
            pipeline.SaveCorrectedJpeg(photo, mask, region, kDamping, kTargets, crop, 90, c.source, outPath).transplant,
            c.result);
        EXPECT_EQ(ReadWholeFile(outPath), ReadWholeFile(expectedPath));
        EXPECT_TRUE(samePixelData(ReadWholeFile(outPath), copied));
    }
}

// ---------------------------------------------------------------------------
// BMP saves against EncodeBmp

TEST(SavePipeline_Bmp, WritesEncodeBmpsFile_ForEveryRowPadding)
{
    struct BmpCase {
        int width, height;
        CropMargins crop;
        int ox, oy;
    };
    // Output widths 1, 2, 3, 4 and 1001 give every padding of a BMP row.
    const BmpCase cases[] = {
        {1, 1, {}, 0, 0},           {2, 3, {}, -10, 5},     {5, 4, {1, 0, 1, 0}, 7, -3},
        {8, 9, {4, 2, 0, 3}, 0, 0}, {1001, 667, {}, 7, -3}, {1011, 670, {3, 1, 7, 2}, -10, 5},
    };
    TemporaryFolder folder{"lumivane-savepipe"};
    SavePipeline pipeline;
    for (const BmpCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        const Bitmap24 photo = GrainyPhoto(c.width, c.height, 9);
        const Bitmap24 mask = FalloffMask(c.width, c.height);
        const CorrectionRegion region = FullSizeRegion(c.ox, c.oy, c.width, c.height);
        const std::string out = folder.file("IMG_2.bmp");
        pipeline.SaveCorrectedBmp(photo, mask, region, kDamping, kTargets, c.crop, out);
        EXPECT_EQ(ReadWholeFile(out), EncodeBmp(plainImage(photo, mask, region, c.crop)));
        EXPECT_EQ(photo, GrainyPhoto(c.width, c.height, 9));
    }
    EXPECT_EQ(folder.names(), std::vector<std::string>{"IMG_2.bmp"});
}

// ---------------------------------------------------------------------------
// Failures

TEST(SavePipeline_Errors, CropLeavingNothing_ThrowsBeforeAnythingIsWritten)
{
    TemporaryFolder folder{"lumivane-savepipe"};
    const Bitmap24 photo = GrainyPhoto(40, 30, 2);
    const Bitmap24 mask = FalloffMask(40, 30);
    const CorrectionRegion region;
    const std::string out = folder.file("IMG_3.jpg");
    const std::string earlier = "earlier file";
    WriteFileAtomically(out, earlier.data(), earlier.size());
    const CropMargins crops[] = {{20, 0, 20, 0}, {0, 15, 0, 16}, {41, 0, 0, 0}, {-1, 0, 0, 0}, {0, 0, 0, -5}};
    SavePipeline pipeline;
    for (const CropMargins& crop : crops) {
        EXPECT_THROW(pipeline.SaveCorrectedJpeg(photo, mask, region, kDamping, kTargets, crop, 90, kCameraJpeg, out),
                     std::invalid_argument);
        EXPECT_THROW(pipeline.SaveCorrectedBmp(photo, mask, region, kDamping, kTargets, crop, out),
                     std::invalid_argument);
    }
    EXPECT_THROW(pipeline.SaveCorrectedJpeg(Bitmap24(), mask, region, kDamping, kTargets, {}, 90, kCameraJpeg, out),
                 std::invalid_argument);
    EXPECT_THROW(pipeline.SaveCorrectedJpeg(photo, mask, region, -1.0f, kTargets, {}, 90, kCameraJpeg, out),
                 std::invalid_argument);
    const Bytes kept = ReadWholeFile(out);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), earlier);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"IMG_3.jpg"});
}

TEST(SavePipeline_Errors, UnwritableTarget_ThrowsNamingTheFile_AndLeavesNoTemporaryFile)
{
    TemporaryFolder folder{"lumivane-savepipe"};
    fs::create_directory(folder.path() / "taken.jpg");
    fs::create_directory(folder.path() / "taken.bmp");
    const Bitmap24 photo = GrainyPhoto(64, 48, 3);
    const Bitmap24 mask = FalloffMask(64, 48);
    const CorrectionRegion region;
    SavePipeline pipeline;
    const std::string targets[] = {folder.file("missing/IMG_4.jpg"), folder.file("taken.jpg")};
    for (const std::string& target : targets) {
        SCOPED_TRACE(target);
        try {
            pipeline.SaveCorrectedJpeg(photo, mask, region, kDamping, kTargets, {}, 90, kCameraJpeg, target);
            ADD_FAILURE() << "no error";
        } catch (const FileError& e) {
            EXPECT_NE(std::string(e.what()).find(target), std::string::npos) << e.what();
        }
    }
    const std::string bmpTargets[] = {folder.file("missing/IMG_4.bmp"), folder.file("taken.bmp")};
    for (const std::string& target : bmpTargets) {
        SCOPED_TRACE(target);
        try {
            pipeline.SaveCorrectedBmp(photo, mask, region, kDamping, kTargets, {}, target);
            ADD_FAILURE() << "no error";
        } catch (const FileError& e) {
            EXPECT_NE(std::string(e.what()).find(target), std::string::npos) << e.what();
        }
    }
    EXPECT_TRUE(fs::is_directory(folder.path() / "taken.jpg"));
    EXPECT_TRUE(fs::is_directory(folder.path() / "taken.bmp"));
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"taken.bmp", "taken.jpg"}));
    // The pipeline is still usable after the failures.
    const std::string good = folder.file("good.jpg");
    pipeline.SaveCorrectedJpeg(photo, mask, region, kDamping, kTargets, {}, 90, kCameraJpeg, good);
    EXPECT_EQ(pipeline.LastEncoded(), EncodeJpeg(plainImage(photo, mask, region, {}), 90));
}

} // namespace

namespace {

// The output's own limits, at the size the crop leaves: a JPEG side of
// 65,500 pixels, a BMP file of 4 GiB (54 bytes of headers, rows padded to
// 4 bytes); a TIFF has none (BigTIFF beyond 4 GiB), whatever the quality
// slider says.
TEST(OutputLimits, SizesTheOutputCannotHoldAreRefusedAfterTheCrop)
{
    constexpr int kTiff = -1; // a TIFF output, in the quality column
    struct Case {
        std::uint64_t width, height;
        CropMargins crop;
        int quality;
        bool fits;
    };
    const std::uint64_t bmpRows = (0xFFFFFFFFull - 54) / 12; // rows of 4 pixels that fit
    const Case cases[] = {
        {65500, 10, {}, 90, true},
        {65501, 10, {}, 90, false},
        {10, 100000000, {}, 90, false},
        {70000, 10, {2000, 0, 2500, 0}, 90, true},
        {70000, 10, {2000, 0, 2499, 0}, 90, false},
        {10, 70000, {0, 4500, 0, 0}, 1, true},
        {70000, 10, {}, 101, true},
        {4, bmpRows, {}, 101, true},
        {4, bmpRows + 1, {}, 101, false},
        {4, bmpRows + 1, {0, 1, 0, 0}, 101, true},
        // Rows of 3 pixels take 12 bytes too, with 3 bytes of padding.
        {3, bmpRows + 1, {}, 101, false},
        // Margins that leave nothing are another check's concern.
        {70000, 10, {70000, 0, 0, 0}, 90, true},
        {65501, 10, {}, kTiff, true},
        {3, bmpRows + 1, {}, kTiff, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + " quality " +
                     std::to_string(c.quality));
        const OutputFormat format = c.quality == kTiff ? OutputFormat::Tiff : FormatOfQuality(c.quality == 101);
        if (c.fits)
            EXPECT_NO_THROW(RequireOutputFits(c.width, c.height, c.crop, format));
        else
            EXPECT_THROW(RequireOutputFits(c.width, c.height, c.crop, format), OutputSizeError);
    }
    try {
        RequireOutputFits(65501, 7, {}, OutputFormat::Jpeg);
        ADD_FAILURE();
    } catch (const OutputSizeError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "a JPEG of 65501 x 7 pixels cannot be written: a JPEG holds at most 65500 pixels a side");
    }
}

} // namespace

// ---------------------------------------------------------------------------
// TIFF saves: the BMP's pixels, 8 or 16 bits a sample, the source's sections

namespace {

// A JPEG section: marker, big-endian length (the payload and itself) and payload.
Bytes section(std::uint8_t code, const std::string& id, const Bytes& data)
{
    // Sized first and filled: gcc 12 warns wrongly about inserting into a
    // vector of four bytes.
    Bytes s(4 + id.size() + 1 + data.size(), 0); // the identifier's terminating zero included
    s[0] = 0xFF;
    s[1] = code;
    std::copy(id.begin(), id.end(), s.begin() + 4);
    std::copy(data.begin(), data.end(), s.begin() + 4 + std::ptrdiff_t(id.size()) + 1);
    const std::size_t length = s.size() - 2;
    s[2] = std::uint8_t(length >> 8);
    s[3] = std::uint8_t(length);
    return s;
}

// EncodeJpeg's file with an ICC profile in two chunks (sent in reverse
// order), an XMP packet and an IPTC resource after its 20-byte head.
Bytes jpegWithSections(const Bitmap24& picture, const Bytes& icc, const Bytes& xmp, const Bytes& iptc)
{
    const Bytes encoded = EncodeJpeg(picture, 90);
    const std::size_t half = icc.size() / 2;
    Bytes chunk2 = {2, 2}; // sequence number 2 of 2
    chunk2.insert(chunk2.end(), icc.begin() + std::ptrdiff_t(half), icc.end());
    Bytes chunk1 = {1, 2};
    chunk1.insert(chunk1.end(), icc.begin(), icc.begin() + std::ptrdiff_t(half));
    // Photoshop resources: "8BIM", id 0x0404, an empty Pascal name padded
    // to two bytes, the size, and the data padded to even length.
    Bytes photoshop = {'8', 'B', 'I', 'M', 0x04, 0x04, 0, 0, 0, 0, 0, std::uint8_t(iptc.size())};
    photoshop.insert(photoshop.end(), iptc.begin(), iptc.end());
    if (iptc.size() % 2)
        photoshop.push_back(0);
    Bytes file(encoded.begin(), encoded.begin() + 20);
    for (const Bytes& s : {section(0xE2, "ICC_PROFILE", chunk2), section(0xE2, "ICC_PROFILE", chunk1),
                           section(0xE1, "http://ns.adobe.com/xap/1.0/", xmp),
                           section(0xED, "Photoshop 3.0", photoshop)})
        file.insert(file.end(), s.begin(), s.end());
    file.insert(file.end(), encoded.begin() + 20, encoded.end());
    return file;
}

} // namespace

TEST(SavePipeline_Tiff, PixelsAreTheBmpsAtEightAndSixteenBits_FromBitmapAndRows)
{
    struct Case {
        int width, height;
        CropMargins crop;
        int depth; // 0: the photograph's own (8)
    };
    const Case cases[] = {{1, 1, {}, 16}, {40, 30, {}, 0}, {97, 70, {3, 1, 7, 2}, 8}, {97, 70, {3, 1, 7, 2}, 16}};
    TemporaryFolder folder{"lumivane-savepipe"};
    SavePipeline pipeline(2, 16);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " depth " + std::to_string(c.depth));
        const Bitmap24 photo = GrainyPhoto(c.width, c.height, 4);
        const Bitmap24 mask = FalloffMask(c.width, c.height);
        const CorrectionRegion region = FullSizeRegion(5, -2, c.width, c.height);
        const Bitmap24 expected = plainImage(photo, mask, region, c.crop);
        CorrectionSetup setup;
        setup.mask = &mask;
        setup.region = region;
        setup.damping = kDamping;
        setup.targets = kTargets;
        setup.choices.crop = c.crop;
        setup.choices.tiff = true;
        setup.choices.depth = c.depth;
        const std::string source = folder.file("src.jpg");
        WriteFileAtomically(source, EncodeJpeg(photo, 100));
        TJPEGImage jpeg;
        jpeg.Smoothing = false;
        jpeg.LoadFromBytes(ReadWholeFile(source));
        const Bitmap24 decoded = jpeg.Decode();
        const Bitmap24 expectedDecoded = plainImage(decoded, mask, region, c.crop);
        for (const bool streamed : {false, true}) {
            SCOPED_TRACE(streamed ? "rows" : "bitmap");
            const std::string out = folder.file("IMG_4.tif");
            if (streamed) {
                JpegRowReader reader(jpeg);
                EXPECT_EQ(pipeline.Save(reader, setup, kBmpSource, out).path, out);
            } else {
                EXPECT_EQ(pipeline.Save(photo, setup, kBmpSource, out).path, out);
            }
            const auto back = lumivane::testing::ReadTiffBack(out);
            const Bitmap24& want = streamed ? expectedDecoded : expected;
            ASSERT_EQ(back.width, std::uint32_t(want.width()));
            ASSERT_EQ(back.height, std::uint32_t(want.height()));
            EXPECT_EQ(back.bits, c.depth == 16 ? 16 : 8);
            const unsigned scale = c.depth == 16 ? 257 : 1;
            std::size_t wrong = 0;
            for (int y = 0; y < want.height(); ++y)
                for (int x = 0; x < want.width(); ++x)
                    for (int ch = 0; ch < 3; ++ch) // red-green-blue from blue-green-red
                        wrong += back.samples[(std::size_t(y) * want.width() + x) * 3 + ch] !=
                                 want.scanLine(y)[3 * x + 2 - ch] * scale;
            EXPECT_EQ(wrong, 0u);
            EXPECT_TRUE(back.metadata.empty());
        }
    }
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"IMG_4.tif", "src.jpg"}));
}

TEST(SavePipeline_Tiff, CarriesTheJpegSourcesProfileXmpAndIptc)
{
    TemporaryFolder folder{"lumivane-savepipe"};
    Bytes icc(300);
    for (std::size_t i = 0; i < icc.size(); ++i)
        icc[i] = std::uint8_t(i * 7 + 1);
    const Bytes xmp = {'<', 'x', ':', 'x', 'm', 'p', 'm', 'e', 't', 'a', '/', '>'};
    const Bytes iptc = {0x1C, 0x02, 0x78, 0x00, 0x03, 'S', 'k', 'y'}; // 2:120 caption "Sky"
    const Bitmap24 photo = GrainyPhoto(24, 16, 3);
    const std::string source = folder.file("src.jpg");
    WriteFileAtomically(source, jpegWithSections(photo, icc, xmp, iptc));

    const TiffMetadata found = TiffMetadataOfSource(source);
    EXPECT_EQ(found.icc, icc);
    EXPECT_EQ(found.xmp, xmp);
    EXPECT_EQ(found.iptc, iptc);

    const Bitmap24 mask = FalloffMask(24, 16);
    CorrectionSetup setup;
    setup.mask = &mask;
    setup.damping = kDamping;
    setup.targets = kTargets;
    setup.choices.tiff = true;
    SavePipeline pipeline;
    const std::string out = folder.file("src.tif");
    pipeline.Save(photo, setup, source, out);
    const auto back = lumivane::testing::ReadTiffBack(out);
    EXPECT_EQ(back.metadata.icc, icc);
    EXPECT_EQ(back.metadata.xmp, xmp);
    EXPECT_TRUE(std::equal(iptc.begin(), iptc.end(), back.metadata.iptc.begin()));
    // And from that TIFF as a source in turn.
    const TiffMetadata again = TiffMetadataOfSource(out);
    EXPECT_EQ(again.icc, icc);
    EXPECT_EQ(again.xmp, xmp);
    // A source without sections, or one that is gone, gives none.
    EXPECT_TRUE(TiffMetadataOfSource(kBmpSource).empty());
    EXPECT_TRUE(TiffMetadataOfSource(folder.file("gone.jpg")).empty());
}

TEST(SavePipeline_Tiff, SixteenBitPhotograph_ExactAt16BitsAdditiveTimes257)
{
    const int width = 61, height = 45;
    Bitmap48 photo16(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                photo16.row(y)[3 * x + c] = std::uint16_t((x * 997 + y * 1409 + c * 4001) * 7 % 65536);
    Bitmap24 eight(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                eight.scanLine(y)[3 * x + c] = std::uint8_t((photo16.row(y)[3 * x + c] * 255u + 32767u) / 65535u);
    const Bitmap24 mask = FalloffMask(width, height);
    TemporaryFolder folder{"lumivane-savepipe"};
    SavePipeline pipeline;
    const CropMargins crop{2, 3, 4, 1};
    for (const CorrectionMethod method : {CorrectionMethod::Exact, CorrectionMethod::Additive})
        for (const int depth : {0, 16, 8}) {
            SCOPED_TRACE(std::string(MethodName(method)) + " depth " + std::to_string(depth));
            CorrectionChoices choices;
            choices.mode.method = method;
            choices.brightness = 27;
            choices.offsetX = 4;
            choices.crop = crop;
            choices.tiff = true;
            choices.depth = depth;
            const CorrectionSetup setup = SetUpCorrection(mask, {220, 230, 240}, choices, width, height);
            const std::string out = folder.file("sixteen.tif");
            pipeline.Save(eight, photo16, setup, kBmpSource, out);
            const auto back = lumivane::testing::ReadTiffBack(out);
            ASSERT_EQ(back.width, std::uint32_t(width - 6));
            ASSERT_EQ(back.height, std::uint32_t(height - 4));
            EXPECT_EQ(back.bits, depth == 8 ? 8 : 16);

            // What each output pixel must be: the 16-bit pass, or the 8-bit save.
            std::vector<std::uint16_t> want;
            if (method == CorrectionMethod::Exact && depth != 8) {
                const CorrectionPass16 pass(photo16, mask, nullptr, setup.region,
                                            TargetsFor16(HotspotLevels{220 * 257, 230 * 257, 240 * 257}, 27),
                                            ColourOption::FalloffAndColour);
                Bitmap48 whole(width, height);
                pass.CorrectInto(Rect{0, 0, width, height}, whole.data(), std::ptrdiff_t(whole.rowValues()));
                for (int y = crop.top; y < height - crop.bottom; ++y)
                    for (int x = crop.left; x < width - crop.right; ++x)
                        for (int c = 2; c >= 0; --c)
                            want.push_back(whole.row(y)[3 * x + c]);
            } else {
                CorrectionSetup eightBit = setup;
                eightBit.choices.tiff = false;
                eightBit.choices.quality = kBmpQuality;
                const std::string bmp = folder.file("eight.bmp");
                pipeline.Save(eight, eightBit, kBmpSource, bmp);
                const Bitmap24 written = DecodeBmp(ReadWholeFile(bmp).data(), ReadWholeFile(bmp).size());
                for (int y = 0; y < written.height(); ++y)
                    for (int x = 0; x < written.width(); ++x)
                        for (int c = 2; c >= 0; --c)
                            want.push_back(std::uint16_t(written.scanLine(y)[3 * x + c] * (depth == 8 ? 1 : 257)));
            }
            EXPECT_EQ(back.samples, want);
        }
    // The exact method at 16 bits keeps values between the 8-bit steps.
    CorrectionChoices choices;
    choices.mode.method = CorrectionMethod::Exact;
    choices.tiff = true;
    pipeline.Save(eight, photo16, SetUpCorrection(mask, {220, 230, 240}, choices, width, height), kBmpSource,
                  folder.file("fine.tif"));
    const auto fine = lumivane::testing::ReadTiffBack(folder.file("fine.tif"));
    EXPECT_TRUE(std::any_of(fine.samples.begin(), fine.samples.end(), [](std::uint16_t v) { return v % 257 != 0; }));
}

namespace {

// An RGB matrix/TRC profile whose three tone curves are one gamma.
Bytes gammaProfile(double gammaValue)
{
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, gammaValue);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    const cmsCIExyY white = {0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    Bytes icc(size);
    cmsSaveProfileToMem(profile, icc.data(), &size);
    cmsCloseProfile(profile);
    cmsFreeToneCurve(gamma);
    return icc;
}

Bytes labProfile()
{
    cmsHPROFILE profile = cmsCreateLab4Profile(nullptr);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    Bytes icc(size);
    cmsSaveProfileToMem(profile, icc.data(), &size);
    cmsCloseProfile(profile);
    return icc;
}

} // namespace

TEST(SavePipeline_Tiff, SixteenBitSourceWithGamma22Profile_CorrectedOnThatCurve_MaskOnItsOwnWhenItHasOne)
{
    const int width = 40, height = 30;
    Bitmap48 photo16(width, height);
    for (int y = 0; y < height; ++y)
        for (std::size_t i = 0; i < photo16.rowValues(); ++i)
            photo16.row(y)[i] = std::uint16_t(9000 + 1201 * y + 397 * int(i));
    Bitmap24 eight(width, height);
    const Bitmap24 mask = FalloffMask(width, height);
    // The source: a TIFF whose profile has a gamma-2.2 curve (its pixels
    // are not read: the photograph is given).
    TiffMetadata metadata;
    metadata.icc = gammaProfile(2.2);
    TemporaryFolder folder{"lumivane-savepipe"};
    const std::string source = folder.file("adobe.tif");
    OutputTarget(source).WriteStreamed([&](TemporaryFile& file) {
        TiffRowWriter writer(file, 1, 1, 16, metadata);
        const std::uint16_t pixel[3] = {0, 0, 0};
        if (const int err = writer.WriteRows(pixel, sizeof pixel, 1))
            return err;
        return writer.Finish();
    });

    CorrectionChoices choices;
    choices.mode.method = CorrectionMethod::Exact;
    choices.tiff = true;
    const CorrectionSetup base = SetUpCorrection(mask, {220, 230, 240}, choices, width, height);
    const std::optional<LightCurve> curve = LightCurveOfProfile(metadata.icc);
    const std::optional<LightCurve> prophoto = LightCurveOfProfile(gammaProfile(1.8));
    ASSERT_TRUE(curve && prophoto);
    auto corrected = [&](const LightCurve& photoCurve, const LightCurve& maskCurve) {
        const CorrectionPass16 pass(photo16, mask, nullptr, base.region,
                                    TargetsFor16(base.levels16, choices.brightness), ColourOption::FalloffAndColour,
                                    photoCurve, maskCurve);
        Bitmap48 whole(width, height);
        pass.CorrectInto(Rect{0, 0, width, height}, whole.data(), std::ptrdiff_t(whole.rowValues()));
        std::vector<std::uint16_t> rgb;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int ch = 2; ch >= 0; --ch)
                    rgb.push_back(whole.row(y)[3 * x + ch]);
        return rgb;
    };
    const struct {
        const char* name;
        Bytes maskIcc;
        const LightCurve& maskCurve;
    } cases[] = {
        {"mask in the photograph's space", {}, *curve},
        {"mask with a gamma-1.8 profile", gammaProfile(1.8), *prophoto},
    };
    SavePipeline pipeline;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CorrectionSetup setup = base;
        setup.maskProfile = MaskProfileOf(c.maskIcc);
        const std::string out = folder.file("out.tif");
        std::remove(out.c_str());
        pipeline.Save(eight, photo16, setup, source, out);
        const auto back = lumivane::testing::ReadTiffBack(out);
        EXPECT_EQ(back.metadata.icc, metadata.icc);
        EXPECT_EQ(back.samples, corrected(*curve, c.maskCurve));
        EXPECT_NE(back.samples, corrected(LightCurve::Srgb(), LightCurve::Srgb()));
    }
    // The mask's own curve matters.
    EXPECT_NE(corrected(*curve, *curve), corrected(*curve, *prophoto));
}

TEST(SavePipeline_Profiles, EightBitJpegWithGamma22Profile_CorrectedOnItsCurve_MaskOnItsOwnWhenItHasOne)
{
    const int width = 48, height = 32;
    const Bitmap24 photo = NoiseBitmap(width, height, 11u);
    const Bitmap24 mask = FalloffMask(width, height);
    TemporaryFolder folder{"lumivane-savepipe"};
    const std::string source = folder.file("adobe.jpg");
    WriteFileAtomically(source, jpegWithSections(photo, gammaProfile(2.2), {}, {}));
    CorrectionChoices choices;
    choices.mode.method = CorrectionMethod::Exact;
    choices.quality = kBmpQuality;
    const CorrectionSetup base = SetUpCorrection(mask, {220, 230, 240}, choices, width, height);
    const CorrectionSpan span = ClippedSpan(width, height, mask, base.region);
    ASSERT_GT(span.x1, span.x0);
    auto gammaOf = [](double g) { return [g](double x) { return std::pow(x, g); }; };
    const std::function<double(double)> srgb = LightCurve::Srgb().toLinear;

    struct Case {
        const char* name;
        Bytes maskIcc;                       // the mask file's own profile (empty: none)
        std::function<double(double)> maskLinear; // the curve the mask must be read on
    };
    const Case cases[] = {
        {"mask in the photograph's space", {}, gammaOf(2.2)},
        {"mask with a gamma-1.8 profile", gammaProfile(1.8), gammaOf(1.8)},
        {"mask with a profile of another kind", labProfile(), srgb},
    };
    SavePipeline pipeline;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CorrectionSetup setup = base;
        setup.maskProfile = MaskProfileOf(c.maskIcc);
        const std::string bmp = folder.file("out.bmp"), tif = folder.file("out.tif");
        std::remove(bmp.c_str());
        std::remove(tif.c_str());
        pipeline.Save(photo, setup, source, OutputTarget(bmp));
        const Bitmap24 out = ReadBmpFile(bmp);
        ASSERT_EQ(out.width(), width);
        // The formula: gains from the mask and targets on the mask's curve,
        // the photograph to light and back on gamma 2.2.
        const int targets[3] = {setup.targets.b, setup.targets.g, setup.targets.r};
        int worst = 0, exact = 0, inside = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int ch = 0; ch < 3; ++ch) {
                    const int v = photo.scanLine(y)[3 * x + ch];
                    int want = v;
                    if (x >= span.x0 && x <= span.x1 && y >= span.y0 && y <= span.y1) {
                        const int m = mask.scanLine(y)[3 * x + ch];
                        const double gain =
                            std::min(c.maskLinear(targets[ch] / 255.0) / c.maskLinear(m / 255.0), 16.0);
                        const double light = std::min(std::pow(v / 255.0, 2.2) * gain, 1.0);
                        want = int(std::lround(255.0 * std::pow(light, 1 / 2.2)));
                        ++inside;
                    }
                    const int got = out.scanLine(y)[3 * x + ch];
                    worst = std::max(worst, std::abs(got - want));
                    exact += got == want;
                }
        // Little CMS evaluates curves in single precision: a value within
        // that of a rounding threshold may land one code off.
        EXPECT_LE(worst, 1);
        EXPECT_GE(exact, width * height * 3 - width * height * 3 / 200);
        EXPECT_GT(inside, width * height);
        // An 8-bit TIFF of the same correction has the same pixels.
        setup.choices.tiff = true;
        setup.choices.depth = 8;
        pipeline.Save(photo, setup, source, OutputTarget(tif));
        const auto back = lumivane::testing::ReadTiffBack(tif);
        ASSERT_EQ(back.samples.size(), std::size_t(width) * height * 3);
        for (int y = 0; y < height; y += 7)
            for (int x = 0; x < width; x += 5)
                for (int ch = 0; ch < 3; ++ch)
                    ASSERT_EQ(back.samples[(std::size_t(y) * width + x) * 3 + std::size_t(2 - ch)],
                              out.scanLine(y)[3 * x + ch]);
    }

    // The same photograph without a profile: the sRGB method's bytes.
    const std::string plain = folder.file("plain.jpg");
    WriteFileAtomically(plain, EncodeJpeg(photo, 90));
    const std::string plainBmp = folder.file("plain.bmp");
    pipeline.Save(photo, base, plain, OutputTarget(plainBmp));
    Bitmap24 expected = photo;
    ApplyCorrection(expected, mask, base.region, base.damping, base.targets, base.mode());
    EXPECT_EQ(ReadBmpFile(plainBmp), expected);
    EXPECT_NE(ReadBmpFile(folder.file("out.bmp")), expected);
}

// The window shows what it saves: the preview of a photograph with a gamma
// 2.2 profile is corrected on that curve (against the formula), and the
// before/after view at full size is the saved file itself.
TEST(SavePipeline_Profiles, WindowPreviewAndView_TakeTheProfilesCurves_AsTheSaveDoes)
{
    const int width = 64, height = 48;
    TemporaryFolder folder{"lumivane-savepipe"};
    const std::string source = folder.file("adobe.jpg"), maskFile = folder.file("flat.bmp");
    WriteFileAtomically(source, jpegWithSections(NoiseBitmap(width, height, 5u), gammaProfile(2.2), {}, {}));
    const Bitmap24 mask = FalloffMask(width, height);
    WriteBmpFile(mask, maskFile);
    std::filesystem::create_directories(folder.path() / "program");

    Workflow flow(folder.file("program"));
    flow.OpenList({source});
    ASSERT_TRUE(flow.LoadMask(maskFile));
    flow.SetMode(CorrectionMode{CorrectionMethod::Exact, ColourOption::FalloffAndColour});
    const CorrectionSetup setup = flow.CurrentSetup();
    ASSERT_TRUE(setup.curves);

    Bitmap24 maskPreview(kPreviewWidth, kPreviewHeight);
    stretchDraw(mask, maskPreview);
    const Bitmap24& before = flow.pictures().Original;
    const Bitmap24& after = flow.pictures().Processed;
    ASSERT_EQ(after.width(), kPreviewWidth);
    const int targets[3] = {setup.targets.b, setup.targets.g, setup.targets.r};
    // Gamma 0 stands for the sRGB curve.
    auto corrected = [&](double gamma, int v, int m, int t) {
        auto lin = [&](double x) {
            return gamma > 0 ? std::pow(x, gamma) : x <= 0.04045 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
        };
        auto encode = [&](double l) {
            return gamma > 0 ? std::pow(l, 1 / gamma) : l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055;
        };
        const double light = std::min(lin(v / 255.0) * std::min(lin(t / 255.0) / lin(m / 255.0), 16.0), 1.0);
        return int(std::lround(255.0 * encode(light)));
    };
    int worst = 0, offSrgb = 0;
    for (int y = 0; y < kPreviewHeight; ++y)
        for (int i = 0; i < kPreviewWidth * 3; ++i) {
            const int v = before.scanLine(y)[i], m = maskPreview.scanLine(y)[i], t = targets[i % 3];
            const int got = after.scanLine(y)[i];
            worst = std::max(worst, std::abs(got - corrected(2.2, v, m, t)));
            offSrgb += std::abs(got - corrected(0, v, m, t)) > 1;
        }
    EXPECT_LE(worst, 1);
    EXPECT_GT(offSrgb, kPreviewWidth * kPreviewHeight / 10);

    ReducedView view;
    BuildReducedView(BeforeAfterInputOf(flow.PhotoFull(), setup, true), width, height, view);
    CorrectionSetup bmp = setup;
    bmp.choices.quality = kBmpQuality;
    SavePipeline().Save(flow.PhotoFull(), bmp, source, OutputTarget(folder.file("out.bmp")));
    EXPECT_TRUE(ReadBmpFile(folder.file("out.bmp")) == view.after);
}
