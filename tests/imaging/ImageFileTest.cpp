// SPDX-License-Identifier: GPL-3.0-or-later
#include "ImageFile.h"

#include "BmpCodec.h"
#include "FileIO.h"
#include "ImagingTestUtil.h"
#include "JpegCodec.h"
#include "TiffReader.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace lumivane;
using namespace lumivane::testing;

namespace {

const std::string kTiffSample = std::string(LUMIVANE_SAMPLES_DIR) + "/tiff/jello.tif";

} // namespace

TEST(ImageFile, KindComesFromTheLastThreeCharactersOrALongExtensionInAnyCase)
{
    struct Row {
        const char* path;
        ImageKind kind;
    };
    const Row rows[] = {
        {"/p/a.jpg", ImageKind::Jpeg},  {"/p/a.JpG", ImageKind::Jpeg},    {"/p/a.BMP", ImageKind::Bmp},
        {"/p/a.tif", ImageKind::Tiff},  {"/p/a.jpeg", ImageKind::Jpeg},    {"/p/a.tiff", ImageKind::Tiff},
        {"/p/a.JPE", ImageKind::Jpeg},  {"/p/a.TiFF", ImageKind::Tiff},    {"/p.jpeg/a", ImageKind::Unknown},
        {"/p/a.jpeg.png", ImageKind::Unknown}, {"/p/ajpeg", ImageKind::Unknown},
        {"/p/a.png", ImageKind::Unknown}, {"bmp", ImageKind::Bmp},         {"TI", ImageKind::Unknown},
        {"", ImageKind::Unknown},       {"/p/xjpg", ImageKind::Jpeg},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ImageKindBySuffix(row.path), row.kind) << row.path;
}

TEST(ImageFile, DecodesEachKindAsItsOwnReaderDoes)
{
    ScratchDir dir;
    const Bitmap24 picture = gradientBitmap(37, 23);
    WriteBmpFile(picture, dir.file("p.BMP"));
    WriteFileAtomically(dir.file("p.jpg"), EncodeJpeg(picture, 95));
    std::filesystem::copy_file(kTiffSample, dir.file("t.TIF"));

    Bitmap24 into(5, 5);
    ASSERT_TRUE(DecodeBySuffix(dir.file("p.BMP"), into, JpegSmoothing::Off));
    EXPECT_EQ(into, picture);

    ASSERT_TRUE(DecodeBySuffix(dir.file("p.jpg"), into, JpegSmoothing::On));
    EXPECT_EQ(into.width(), 37);
    EXPECT_EQ(into.height(), 23);
    EXPECT_LE(maxDifference(into, picture), 8);
    TJPEGImage jpeg;
    jpeg.Smoothing = false;
    jpeg.LoadFromFile(dir.file("p.jpg"));
    EXPECT_EQ(into, jpeg.Decode());

    ASSERT_TRUE(DecodeBySuffix(dir.file("t.TIF"), into, JpegSmoothing::Off));
    EXPECT_EQ(into, *ReadTiffToBitmap(kTiffSample));
}

// The longer names file managers hand over decode as their kind.
TEST(ImageFile, LongExtensions_DecodeAsJpegAndTiff)
{
    ScratchDir dir;
    const std::vector<std::uint8_t> jpeg = EncodeJpeg(gradientBitmap(16, 12), 90);
    Bitmap24 expected;
    TJPEGImage reader;
    WriteFileAtomically(dir.file("p.jpg"), jpeg);
    reader.LoadFromFile(dir.file("p.jpg"));
    reader.Smoothing = false;
    reader.DecodeInto(expected);
    for (const char* name : {"p.jpeg", "p.JPE"}) {
        WriteFileAtomically(dir.file(name), jpeg);
        Bitmap24 into;
        EXPECT_TRUE(DecodeBySuffix(dir.file(name), into, JpegSmoothing::Off)) << name;
        EXPECT_EQ(into, expected) << name;
    }
    const std::vector<std::uint8_t> tiff = ReadWholeFile(kTiffSample);
    WriteFileAtomically(dir.file("p.TIFF"), tiff);
    Bitmap24 into;
    EXPECT_TRUE(DecodeBySuffix(dir.file("p.TIFF"), into, JpegSmoothing::Off));
    EXPECT_EQ(into, *ReadTiffToBitmap(kTiffSample));
}

TEST(ImageFile, OtherSuffixes_AreNotDecoded_AndLeaveTheBitmap)
{
    ScratchDir dir;
    const Bitmap24 picture = gradientBitmap(8, 6);
    // A perfectly good JPEG and BMP under names the program does not decode.
    WriteFileAtomically(dir.file("p.jpegx"), EncodeJpeg(picture, 90));
    WriteBmpFile(picture, dir.file("p.bmpx"));
    Bitmap24 into = patternBitmap(3, 2);
    for (const char* name : {"p.jpegx", "p.bmpx", "missing.png"}) {
        EXPECT_FALSE(DecodeBySuffix(dir.file(name), into, JpegSmoothing::Off)) << name;
        EXPECT_EQ(into, patternBitmap(3, 2)) << name;
    }
}

TEST(ImageFile, UnreadableFiles_RaiseTheirReadersErrors)
{
    ScratchDir dir;
    std::vector<std::uint8_t> bmp = EncodeBmp(gradientBitmap(20, 20));
    bmp.resize(60); // header, then the pixels are cut off
    writeBytes(dir.file("cut.bmp"), bmp);
    writeBytes(dir.file("bmp-named.jpg"), EncodeBmp(gradientBitmap(4, 4)));
    writeBytes(dir.file("garbage.tif"), std::vector<std::uint8_t>(100, 0x5A));
    Bitmap24 into;
    EXPECT_THROW(DecodeBySuffix(dir.file("cut.bmp"), into, JpegSmoothing::Off), BmpError);
    EXPECT_THROW(DecodeBySuffix(dir.file("bmp-named.jpg"), into, JpegSmoothing::Off), JpegError);
    EXPECT_THROW(DecodeBySuffix(dir.file("garbage.tif"), into, JpegSmoothing::Off), TiffError);
    EXPECT_THROW(DecodeBySuffix(dir.file("gone.jpg"), into, JpegSmoothing::Off), FileError);
    EXPECT_THROW(DecodeBySuffix(dir.file("gone.bmp"), into, JpegSmoothing::Off), FileError);
}
