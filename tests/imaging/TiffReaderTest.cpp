// SPDX-License-Identifier: GPL-3.0-or-later
#include "CameraExif.h"
#include "FileIO.h"
#include "HostileFiles.h"
#include "TemporaryFolder.h"
#include "ImagingTestUtil.h"
#include "TiffReader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tiffio.h>
#include <vector>

using namespace lumivane;
using namespace lumivane::testing;

namespace {

// One image of a test TIFF, written strip by strip with libtiff.
struct TiffPage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t samples = 3;
    std::uint16_t bits = 8;
    std::uint16_t photometric = PHOTOMETRIC_RGB;
    std::uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    std::uint16_t extraSample = 0xFFFF;    // EXTRASAMPLE_* for a fourth sample
    std::uint16_t compression = COMPRESSION_NONE;
    std::vector<std::uint16_t> colourMap;  // red, green, blue curves for palettes
    std::vector<std::uint8_t> data;        // rows top to bottom, contiguous samples
};

void writeTiff(const std::string& path, const std::vector<TiffPage>& pages)
{
    InstallSilentTiffHandlers();
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    for (const TiffPage& p : pages) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, p.width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, p.height);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, p.samples);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, p.bits);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, p.photometric);
        TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, p.sampleFormat);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, p.compression);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, p.height);
        if (p.extraSample != 0xFFFF) {
            const std::uint16_t extra[1] = {p.extraSample};
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
        }
        if (!p.colourMap.empty()) {
            const std::size_t n = p.colourMap.size() / 3;
            TIFFSetField(tif, TIFFTAG_COLORMAP, p.colourMap.data(), p.colourMap.data() + n,
                         p.colourMap.data() + 2 * n);
        }
        const tmsize_t rowBytes = TIFFScanlineSize(tif);
        for (std::uint32_t y = 0; y < p.height; ++y)
            ASSERT_EQ(TIFFWriteScanline(tif, const_cast<std::uint8_t*>(p.data.data()) + rowBytes * y, y, 0), 1);
        ASSERT_EQ(TIFFWriteDirectory(tif), 1);
    }
    TIFFClose(tif);
}

TiffPage rgbPage(const Bitmap24& image)
{
    TiffPage p;
    p.width = std::uint32_t(image.width());
    p.height = std::uint32_t(image.height());
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const Colour c = image.pixel(x, y);
            p.data.insert(p.data.end(), {redOf(c), greenOf(c), blueOf(c)});
        }
    return p;
}

} // namespace

TEST(TiffRead, EightBitRgbGivesEveryPixelWithTopRowOnTop)
{
    ScratchDir dir;
    const Bitmap24 image = patternBitmap(7, 5);
    writeTiff(dir.file("rgb.tif"), {rgbPage(image)});
    const auto bitmap = ReadTiffToBitmap(dir.file("rgb.tif"));
    EXPECT_EQ(*bitmap, image);
}

TEST(TiffRead, RedAndBlueLandInTheirOwnBytes)
{
    ScratchDir dir;
    TiffPage p;
    p.width = 1;
    p.height = 1;
    p.data = {255, 77, 0}; // red 255, green 77, blue 0
    writeTiff(dir.file("red.tif"), {p});
    const auto bitmap = ReadTiffToBitmap(dir.file("red.tif"));
    const std::uint8_t* px = bitmap->scanLine(0);
    EXPECT_EQ(px[0], 0);   // blue
    EXPECT_EQ(px[1], 77);  // green
    EXPECT_EQ(px[2], 255); // red
}

TEST(TiffRead, AlphaIsDroppedWithoutCompositing)
{
    ScratchDir dir;
    TiffPage p;
    p.width = 2;
    p.height = 1;
    p.samples = 4;
    p.extraSample = EXTRASAMPLE_ASSOCALPHA;
    // An opaque pixel and a fully transparent one that still carries colour.
    p.data = {10, 20, 30, 255, 40, 50, 60, 0};
    writeTiff(dir.file("alpha.tif"), {p});
    const auto bitmap = ReadTiffToBitmap(dir.file("alpha.tif"));
    EXPECT_EQ(bitmap->pixel(0, 0), packColour(10, 20, 30));
    EXPECT_EQ(bitmap->pixel(1, 0), packColour(40, 50, 60));
}

TEST(TiffRead, MultiPageFileGivesTheFirstPageOnly)
{
    ScratchDir dir;
    writeTiff(dir.file("pages.tif"), {rgbPage(patternBitmap(4, 3)), rgbPage(patternBitmap(9, 8))});
    const auto bitmap = ReadTiffToBitmap(dir.file("pages.tif"));
    EXPECT_EQ(*bitmap, patternBitmap(4, 3));
}

TEST(TiffRead, GreyPaletteAndSixteenBitFilesGiveEightBitColours)
{
    ScratchDir dir;
    TiffPage grey;
    grey.width = 3;
    grey.height = 1;
    grey.samples = 1;
    grey.photometric = PHOTOMETRIC_MINISBLACK;
    grey.data = {0, 128, 255};

    TiffPage palette;
    palette.width = 2;
    palette.height = 1;
    palette.samples = 1;
    palette.photometric = PHOTOMETRIC_PALETTE;
    palette.colourMap.assign(3 * 256, 0);
    palette.colourMap[1] = 200 * 257;          // red of entry 1
    palette.colourMap[256 + 1] = 10 * 257;     // green of entry 1
    palette.colourMap[512 + 0] = 99 * 257;     // blue of entry 0
    palette.data = {0, 1};

    TiffPage deep;
    deep.width = 1;
    deep.height = 1;
    deep.bits = 16;
    const std::uint16_t samples[3] = {12 * 257, 34 * 257, 56 * 257};
    deep.data.resize(6);
    std::memcpy(deep.data.data(), samples, 6);

    struct Case { const char* name; TiffPage page; std::vector<Colour> expected; };
    const Case cases[] = {
        {"grey", grey, {packColour(0, 0, 0), packColour(128, 128, 128), kWhite}},
        {"palette", palette, {packColour(0, 0, 99), packColour(200, 10, 0)}},
        {"16 bits", deep, {packColour(12, 34, 56)}},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file(std::string(c.name) + ".tif");
        writeTiff(path, {c.page});
        const auto bitmap = ReadTiffToBitmap(path);
        ASSERT_EQ(bitmap->width(), int(c.expected.size())) << c.name;
        for (int x = 0; x < bitmap->width(); ++x)
            EXPECT_EQ(bitmap->pixel(x, 0), c.expected[std::size_t(x)]) << c.name << " " << x;
    }
}

TEST(TiffRead, LayoutTheRgbaInterfaceRefusesGivesWhitePictureOfFileSize)
{
    ScratchDir dir;
    TiffPage p;
    p.width = 5;
    p.height = 4;
    p.bits = 32;
    p.sampleFormat = SAMPLEFORMAT_IEEEFP;
    p.data.assign(5 * 4 * 3 * 4, 0); // all samples 0.0f
    writeTiff(dir.file("float.tif"), {p});
    const auto bitmap = ReadTiffToBitmap(dir.file("float.tif"));
    Bitmap24 white(5, 4);
    EXPECT_EQ(*bitmap, white);
}

// A strip that cannot be read (past the end of the file, or of a
// compression no reader knows) leaves the pixels the reader made, which are
// kept, and is reported; an intact file and a layout read whole report nothing.
TEST(TiffRead, UnreadableStripIsReportedAndItsPixelsKeptWhite)
{
    ScratchDir dir;
    writeTiff(dir.file("rgb.tif"), {rgbPage(patternBitmap(8, 8))});
    std::string damage = "not set";
    Bitmap24 intact;
    ReadTiffToBitmap(dir.file("rgb.tif"), intact, &damage);
    EXPECT_EQ(damage, "");
    EXPECT_EQ(intact, patternBitmap(8, 8));
    for (const std::string& path : lumivane::test_support::DamagedTiffFiles()) {
        SCOPED_TRACE(path);
        Bitmap24 read;
        damage.clear();
        ASSERT_NO_THROW(ReadTiffToBitmap(path, read, &damage));
        EXPECT_EQ(damage, "TIFF strip unreadable");
        EXPECT_EQ(read.width(), 8);
    }
    // The strip past the end delivers nothing: every pixel stays white.
    Bitmap24 read;
    ReadTiffToBitmap(lumivane::test_support::DamagedTiffFiles().front(), read, &damage);
    EXPECT_EQ(read, Bitmap24(8, 8));
}

// An uncompressed RGB TIFF of width x height in one strip, its directory
// first (as scanners and cameras write it), so a copy cut short keeps its
// header and loses only pixels.
std::vector<std::uint8_t> directoryFirstTiff(std::uint32_t width, std::uint32_t height)
{
    std::vector<std::uint8_t> out = {'I', 'I', 42, 0, 8, 0, 0, 0};
    const auto put16 = [&out](std::uint32_t v) {
        out.push_back(std::uint8_t(v));
        out.push_back(std::uint8_t(v >> 8));
    };
    const auto put32 = [&](std::uint32_t v) {
        put16(v & 0xFFFF);
        put16(v >> 16);
    };
    constexpr std::uint32_t kEntries = 9;
    const std::uint32_t bitsAt = 8 + 2 + kEntries * 12 + 4;
    const std::uint32_t pixelsAt = bitsAt + 6;
    const std::uint32_t entries[kEntries][3] = {
        {256, 4, width}, {257, 4, height},         {258, 3, 0},       {259, 3, 1},         {262, 3, 2},
        {273, 4, pixelsAt}, {277, 3, 3}, {278, 4, height}, {279, 4, width * height * 3},
    };
    put16(kEntries);
    for (const auto& e : entries) {
        put16(e[0]);
        put16(e[1]);
        put32(e[0] == 258 ? 3 : 1);
        if (e[0] == 258)
            put32(bitsAt);
        else if (e[1] == 3) {
            put16(e[2]);
            put16(0);
        } else
            put32(e[2]);
    }
    put32(0);
    for (int i = 0; i < 3; ++i)
        put16(8);
    out.resize(pixelsAt + std::size_t(width) * height * 3, 0x40);
    return out;
}

// A large uncompressed TIFF cut short is read as damaged, its pixels kept,
// while it holds at least a 64th of its picture; below that it is a header
// claiming a picture its bytes cannot hold, refused before the raster is
// made.
TEST(TiffRead, LargeFileCutShortIsDamagedUnlessItHoldsAlmostNothing)
{
    constexpr std::uint32_t kWidth = 2600, kHeight = 2300; // 17.9 MB of pixels
    const std::vector<std::uint8_t> whole = directoryFirstTiff(kWidth, kHeight);
    ScratchDir dir;
    struct Case {
        const char* name;
        std::size_t keep;
        bool read;
    };
    const Case cases[] = {
        {"whole", whole.size(), true},
        {"cut to 40 %", whole.size() * 2 / 5, true},
        {"cut to 1 %", whole.size() / 100, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("cut.tif");
        WriteFileAtomically(path, whole.data(), c.keep, WriteMode::Replace);
        Bitmap24 read;
        std::string damage = "not set";
        if (!c.read) {
            EXPECT_THROW(ReadTiffToBitmap(path, read, &damage), FileRefusedError);
            continue;
        }
        ASSERT_NO_THROW(ReadTiffToBitmap(path, read, &damage));
        EXPECT_EQ(read.width(), int(kWidth));
        EXPECT_EQ(read.height(), int(kHeight));
        EXPECT_EQ(damage, c.keep == whole.size() ? "" : "TIFF strip unreadable");
    }
}

TEST(TiffRead, IntoUsedStorageGivesThePixelsOfAReadIntoNewStorage)
{
    ScratchDir dir;
    writeTiff(dir.file("rgb.tif"), {rgbPage(patternBitmap(9, 6))});
    TiffPage refused; // 32-bit float samples: the RGBA interface delivers nothing
    refused.width = 5;
    refused.height = 4;
    refused.bits = 32;
    refused.sampleFormat = SAMPLEFORMAT_IEEEFP;
    refused.data.assign(5 * 4 * 3 * 4, 0);
    writeTiff(dir.file("float.tif"), {refused});
    for (const std::string name : {"rgb.tif", "float.tif"}) {
        const auto fresh = ReadTiffToBitmap(dir.file(name));
        for (const Bitmap24& used : {usedBitmap(fresh->width(), fresh->height()), usedBitmap(30, 30)}) {
            Bitmap24 target = used;
            ReadTiffToBitmap(dir.file(name), target);
            EXPECT_EQ(target, *fresh) << name << " into " << used.width() << "x" << used.height();
        }
    }
}

TEST(TiffRead, MissingOrNonTiffFileRaisesUnableToOpen)
{
    ScratchDir dir;
    writeBytes(dir.file("text.tif"), {'h', 'e', 'l', 'l', 'o', ' ', 't', 'i', 'f', 'f'});
    for (const std::string& path : {dir.file("missing.tif"), dir.file("text.tif")}) {
        try {
            ReadTiffToBitmap(path);
            FAIL() << path;
        } catch (const TiffError& e) {
            EXPECT_EQ(std::string(e.what()), "Unable to open file '" + path + "'");
        }
    }
}

TEST(TiffRead, FatalJpegErrorInsideTiffRaises)
{
    ScratchDir dir;
    TiffPage p = rgbPage(gradientBitmap(32, 16));
    p.compression = COMPRESSION_JPEG;
    const std::string path = dir.file("jpeg.tif");
    writeTiff(path, {p});
    ASSERT_EQ(ReadTiffToBitmap(path)->width(), 32);

    // Break the first Huffman table definition (FF C4): its code counts now
    // add up to more than 256 codes, which libjpeg refuses outright.
    std::vector<std::uint8_t> bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    bool broken = false;
    for (std::size_t i = 0; i + 21 < bytes.size() && !broken; ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC4) {
            for (std::size_t k = i + 5; k < i + 21; ++k)
                bytes[k] = 0xFF;
            broken = true;
        }
    ASSERT_TRUE(broken);
    writeBytes(path, bytes);
    EXPECT_THROW(ReadTiffToBitmap(path), TiffError);
    TImageHolder holder;
    holder.Picture.AssignBitmap(Bitmap24(3, 3));
    LoadTiffImage(path, holder);
    EXPECT_TRUE(holder.Picture.HoldsNothing());
}

TEST(TiffRead, SwapRedBlueExchangesBytesZeroAndTwoOnly)
{
    std::uint32_t pixels[3] = {0x11223344u, 0xFF0000FFu, 0x00FF0000u};
    SwapRedBlue(3, 1, pixels);
    EXPECT_EQ(pixels[0], 0x11443322u);
    EXPECT_EQ(pixels[1], 0xFFFF0000u);
    EXPECT_EQ(pixels[2], 0x000000FFu);
}

TEST(TiffLoad, FailureEmptiesPictureAndAutoSizedHolderKeepsItsSize)
{
    ScratchDir dir;
    TImageHolder holder;
    holder.AutoSize = true;
    writeTiff(dir.file("ok.tif"), {rgbPage(patternBitmap(6, 4))});
    LoadTiffImage(dir.file("ok.tif"), holder);
    EXPECT_EQ(holder.Picture.Bitmap(), patternBitmap(6, 4));
    EXPECT_EQ(holder.Width, 6);
    EXPECT_EQ(holder.Height, 4);

    EXPECT_NO_THROW(LoadTiffImage(dir.file("missing.tif"), holder));
    EXPECT_TRUE(holder.Picture.HoldsNothing());
    EXPECT_EQ(holder.Picture.Width(), 0);
    EXPECT_EQ(holder.Width, 6);
    EXPECT_EQ(holder.Height, 4);
}

TEST(TiffRead, EverySampleTiffReadsAtItsSize)
{
    struct Case { const char* file; int width, height; };
    const Case cases[] = {
        {"pc260001.tif", 640, 480}, {"dscf0013.tif", 640, 480}, {"jello.tif", 256, 192},
        {"strike.tif", 256, 200}, {"oxford.tif", 601, 81}, {"quad-jpeg.tif", 512, 384},
        {"quad-tile.tif", 512, 384}, {"ladoga.tif", 158, 118}, {"fax2d.tif", 1728, 1082},
        {"smallliz.tif", 160, 160}, {"cramps.tif", 800, 607}, {"rgb-3c-16b.tiff", 157, 151},
        {"minisblack-2c-8b-alpha.tiff", 64, 64}, {"palette-1c-4b.tiff", 157, 151},
        {"flower-separated-contig-08.tif", 73, 43},
    };
    for (const Case& c : cases) {
        const std::string path = std::string(LUMIVANE_SAMPLES_DIR) + "/tiff/" + c.file;
        std::unique_ptr<Bitmap24> bitmap;
        ASSERT_NO_THROW(bitmap = ReadTiffToBitmap(path)) << c.file;
        EXPECT_EQ(bitmap->width(), c.width) << c.file;
        EXPECT_EQ(bitmap->height(), c.height) << c.file;
    }
}

namespace {

// How a picture stored under EXIF orientation `o` is shown, pixel by pixel
// from the orientation's definition (which stored row and column are the
// shown top and left).
Bitmap24 shownAs(const Bitmap24& stored, int o)
{
    const int w = stored.width(), h = stored.height();
    Bitmap24 shown(o >= 5 ? h : w, o >= 5 ? w : h);
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x) {
            const int sx[] = {x, x, w - 1 - x, w - 1 - x, x, y, y, w - 1 - y, w - 1 - y};
            const int sy[] = {y, y, y, h - 1 - y, h - 1 - y, x, h - 1 - x, h - 1 - x, x};
            shown.setPixel(x, y, stored.pixel(sx[o], sy[o]));
        }
    return shown;
}

} // namespace

// For every orientation, the pixels read, shown as OrientationAfterTiffRead
// says, are the stored pixels shown as the file's Orientation says: what an
// output of a TIFF photograph must say of its pixels.
TEST(TiffRead, OrientationLeftAfterReading_ShowsThePictureTheFileMeans)
{
    test_support::TemporaryFolder folder{"lumivane-tifforient"};
    Bitmap24 stored(3, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            stored.setPixel(x, y, packColour(std::uint8_t(40 * x + 10), std::uint8_t(100 * y + 20), 7));
    for (std::uint16_t o = 1; o <= 8; ++o) {
        SCOPED_TRACE(o);
        CameraExif exif;
        exif.orientation = o;
        const std::string path = folder.file("oriented.tif");
        WriteCameraTiff(path, stored, exif);
        const std::unique_ptr<Bitmap24> read = ReadTiffToBitmap(path);
        ASSERT_TRUE(read);
        EXPECT_EQ(shownAs(*read, OrientationAfterTiffRead(o)), shownAs(stored, o));
    }
    EXPECT_EQ(OrientationAfterTiffRead(0), 1);
    EXPECT_EQ(OrientationAfterTiffRead(9), 1);
}
