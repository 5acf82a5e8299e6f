// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileIO.h"
#include "ImagingTestUtil.h"
#include "JpegCodec.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <jpeglib.h>
#include <jerror.h>

using namespace lumivane;
using namespace lumivane::testing;

namespace {

// Encodes with libjpeg directly, for kinds of file the program never
// writes; `fillRow(y, row)` gives row y's samples.
template <typename FillRow>
std::vector<std::uint8_t> encodeRows(int width, int height, int components, J_COLOR_SPACE space, bool progressive,
                                     int quality, FillRow fillRow)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = components;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<std::uint8_t> row(std::size_t(width) * std::size_t(components));
    while (cinfo.next_scanline < cinfo.image_height) {
        fillRow(int(cinfo.next_scanline), row.data());
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<std::uint8_t> out(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return out;
}

// One-component grey and progressive colour.
std::vector<std::uint8_t> encodeWithLibjpeg(const Bitmap24& image, bool grey, bool progressive, int quality)
{
    return encodeRows(image.width(), image.height(), grey ? 1 : 3, grey ? JCS_GRAYSCALE : JCS_EXT_BGR, progressive,
                      quality, [&](int y, std::uint8_t* row) {
                          const std::uint8_t* src = image.scanLine(y);
                          if (grey) {
                              for (int x = 0; x < image.width(); ++x)
                                  row[x] = src[3 * x + 1]; // the green channel as the grey level
                          } else {
                              std::memcpy(row, src, image.rowBytes());
                          }
                      });
}

// The encoder's settings, written out independently with libjpeg: RGB
// rows in, floating-point DCT, the standard tables scaled by
// jpeg_set_quality and held to baseline, Huffman tables not optimised, one
// sequential scan, and the JFIF 1.01 head without units at density 1 x 1.
std::vector<std::uint8_t> referenceBaselineJpeg(const Bitmap24& image, int quality)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(image.width());
    cinfo.image_height = JDIMENSION(image.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    cinfo.dct_method = JDCT_FLOAT;
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.optimize_coding = FALSE;
    cinfo.write_JFIF_header = TRUE;
    cinfo.JFIF_major_version = 1;
    cinfo.JFIF_minor_version = 1;
    cinfo.density_unit = 0;
    cinfo.X_density = 1;
    cinfo.Y_density = 1;
    cinfo.write_Adobe_marker = FALSE;
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<std::uint8_t> row(std::size_t(image.width()) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        const std::uint8_t* bgr = image.scanLine(int(cinfo.next_scanline));
        for (int x = 0; x < image.width(); ++x) {
            row[std::size_t(3 * x)] = bgr[3 * x + 2];
            row[std::size_t(3 * x + 1)] = bgr[3 * x + 1];
            row[std::size_t(3 * x + 2)] = bgr[3 * x];
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<std::uint8_t> out(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return out;
}

TJPEGImage jpegFromBytes(std::vector<std::uint8_t> bytes)
{
    TJPEGImage image;
    image.LoadFromBytes(std::move(bytes));
    return image;
}

void expectJpegError(const std::vector<std::uint8_t>& bytes, int code)
{
    TJPEGImage image;
    try {
        image.LoadFromBytes(bytes);
        FAIL() << "no error";
    } catch (const JpegError& e) {
        EXPECT_EQ(e.Code(), code);
        // libjpeg's own text, never a bare message number.
        const std::string text = e.what();
        EXPECT_EQ(text.rfind("JPEG: ", 0), 0u) << text;
        EXPECT_GT(text.size(), 12u) << text;
        EXPECT_EQ(text.find("JPEG error #"), std::string::npos) << text;
    }
}

} // namespace

TEST(JpegEncode, OutputStartsWithSoiAndDefaultJfifSegment_ThenQuantTables)
{
    for (int quality : {1, 50, 90, 100}) {
        const std::vector<std::uint8_t> file = EncodeJpeg(patternBitmap(17, 9), quality);
        const std::uint8_t expected[20] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46,
                                           0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
        ASSERT_GT(file.size(), 22u);
        EXPECT_EQ(std::memcmp(file.data(), expected, 20), 0) << "quality " << quality;
        EXPECT_EQ(file[20], 0xFF);
        EXPECT_EQ(file[21], 0xDB);
    }
}

TEST(JpegEncode, BytesEqualADirectFloatDctBaselineEncode)
{
    // Byte for byte, so a change of DCT, of the quality scaling, of the
    // baseline limit (it bites below quality 25), of the colour order or of
    // the JFIF head fails here. Both encodes run in this process, on the
    // same SIMD path, so the float DCT gives the same coefficients.
    struct Case {
        int width, height;
    };
    for (const Case c : {Case{17, 9}, Case{64, 48}, Case{1, 1}, Case{33, 70}}) {
        const Bitmap24 image = patternBitmap(c.width, c.height);
        for (int quality : {1, 10, 24, 25, 50, 75, 90, 95, 100}) {
            const std::vector<std::uint8_t> expected = referenceBaselineJpeg(image, quality);
            const std::vector<std::uint8_t> got = EncodeJpeg(image, quality);
            EXPECT_TRUE(got == expected) << c.width << "x" << c.height << " at quality " << quality << ": "
                                         << got.size() << " bytes, expected " << expected.size();
        }
    }
}

TEST(JpegEncode, IsBaselineColourAndNotProgressive)
{
    const std::vector<std::uint8_t> file = EncodeJpeg(gradientBitmap(40, 30), 75);
    const TJPEGImage image = jpegFromBytes(file);
    EXPECT_FALSE(image.ProgressiveEncoding());
    EXPECT_FALSE(image.Grayscale());
    EXPECT_EQ(image.Width(), 40);
    EXPECT_EQ(image.Height(), 30);
    // A baseline start-of-frame marker (FF C0) and no progressive one (FF C2).
    bool baseline = false, progressive = false;
    for (std::size_t i = 0; i + 1 < file.size(); ++i) {
        baseline |= file[i] == 0xFF && file[i + 1] == 0xC0;
        progressive |= file[i] == 0xFF && file[i + 1] == 0xC2;
    }
    EXPECT_TRUE(baseline);
    EXPECT_FALSE(progressive);
}

TEST(JpegEncode, RoundTripStaysWithinSmallTolerance)
{
    struct Case { int width, height, quality, tolerance; };
    for (const Case c : {Case{64, 48, 100, 4}, Case{33, 17, 95, 8}, Case{1, 1, 90, 8}}) {
        const Bitmap24 original = gradientBitmap(c.width, c.height);
        const Bitmap24 decoded = jpegFromBytes(EncodeJpeg(original, c.quality)).Decode();
        EXPECT_LE(maxDifference(original, decoded), c.tolerance) << c.width << "x" << c.height;
    }
}

TEST(JpegEncode, KeepsColoursInPlace_RedStaysRedBlueStaysBlue)
{
    for (Colour colour : {kPureRed, kPureBlue, packColour(0, 200, 0)}) {
        Bitmap24 image(16, 16);
        image.fill(colour);
        const Bitmap24 decoded = jpegFromBytes(EncodeJpeg(image, 95)).Decode();
        const Colour got = decoded.pixel(8, 8);
        EXPECT_NEAR(redOf(got), redOf(colour), 6);
        EXPECT_NEAR(greenOf(got), greenOf(colour), 6);
        EXPECT_NEAR(blueOf(got), blueOf(colour), 6);
    }
}

TEST(JpegEncode, EmptyBitmapRaisesJpegError)
{
    EXPECT_THROW(EncodeJpeg(Bitmap24(), 90), JpegError);
}

TEST(JpegSave, WritesFileAndLeavesNoTemporaryBehind)
{
    ScratchDir dir;
    const std::string path = dir.file("out.jpg");
    const Bitmap24 image = gradientBitmap(20, 10);
    WriteFileAtomically(path, EncodeJpeg(image, 90));
    EXPECT_EQ(ReadWholeFile(path), EncodeJpeg(image, 90));
    EXPECT_EQ(dir.names(), std::vector<std::string>{"out.jpg"});
}

TEST(JpegSave, FailureNamesPathAndKeepsExistingFile)
{
    ScratchDir dir;
    // A folder where the file should go: the rename cannot replace it.
    const std::string blocked = dir.file("taken.jpg");
    std::filesystem::create_directory(blocked);
    try {
        WriteFileAtomically(blocked, EncodeJpeg(gradientBitmap(8, 8), 90));
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find(blocked), std::string::npos) << e.what();
    }
    EXPECT_TRUE(std::filesystem::is_directory(blocked));
    EXPECT_EQ(dir.names(), std::vector<std::string>{"taken.jpg"});

    const std::string missingFolder = dir.file("no/such/folder/out.jpg");
    try {
        WriteFileAtomically(missingFolder, EncodeJpeg(gradientBitmap(8, 8), 90));
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find(missingFolder), std::string::npos) << e.what();
    }
}

TEST(JpegDecode, GreyFileGivesThreeEqualChannels)
{
    const std::vector<std::uint8_t> file = encodeWithLibjpeg(gradientBitmap(30, 20), true, false, 90);
    const TJPEGImage image = jpegFromBytes(file);
    EXPECT_TRUE(image.Grayscale());
    const Bitmap24 decoded = image.Decode();
    ASSERT_EQ(decoded.width(), 30);
    ASSERT_EQ(decoded.height(), 20);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) {
            const Colour c = decoded.pixel(x, y);
            ASSERT_EQ(redOf(c), greenOf(c));
            ASSERT_EQ(blueOf(c), greenOf(c));
        }
    // The grey level follows the source's green channel.
    EXPECT_NEAR(greenOf(decoded.pixel(3, 17)), greenOf(gradientBitmap(30, 20).pixel(3, 17)), 4);
}

TEST(JpegDecode, TruncatedFileDecodesWithoutError_AtEveryCut)
{
    const std::vector<std::uint8_t> file = EncodeJpeg(gradientBitmap(48, 40), 90);
    // Cut after the headers at several places inside the scan data.
    std::size_t scanStart = 0;
    for (std::size_t i = 0; i + 1 < file.size(); ++i)
        if (file[i] == 0xFF && file[i + 1] == 0xDA) {
            scanStart = i + 14;
            break;
        }
    ASSERT_GT(scanStart, 0u);
    for (std::size_t cut = scanStart; cut < file.size(); cut += 37) {
        const std::vector<std::uint8_t> part(file.begin(), file.begin() + std::ptrdiff_t(cut));
        Bitmap24 decoded;
        EXPECT_NO_THROW(jpegFromBytes(part).DecodeInto(decoded)) << "cut at " << cut;
        EXPECT_EQ(decoded.width(), 48);
        EXPECT_EQ(decoded.height(), 40);
    }
}

// A file whose data ends early keeps its pixels and names the damage with
// the rows decoded whole; the rows above the cut are those of the intact
// file. An intact file, and a baseline file missing only its end marker,
// report nothing. The row reader reports what DecodeInto reports.
TEST(JpegDecode, DataEndingEarlyIsReportedWithTheRowsDecodedWhole)
{
    const Bitmap24 original = patternBitmap(48, 64);
    const std::vector<std::uint8_t> baseline = EncodeJpeg(original, 90);
    const std::vector<std::uint8_t> progressive = encodeWithLibjpeg(original, false, true, 90);
    const auto cut = [](const std::vector<std::uint8_t>& file, std::size_t size) {
        return std::vector<std::uint8_t>(file.begin(), file.begin() + std::ptrdiff_t(size));
    };
    enum class Expect { Intact, BaselineCut, ProgressiveCut };
    struct Case {
        const char* name;
        std::vector<std::uint8_t> file;
        Expect expect;
    };
    const Case cases[] = {
        {"intact baseline", baseline, Expect::Intact},
        {"intact progressive", progressive, Expect::Intact},
        {"baseline without its end marker", cut(baseline, baseline.size() - 2), Expect::Intact},
        {"baseline cut in half", cut(baseline, baseline.size() / 2), Expect::BaselineCut},
        {"baseline cut at three quarters", cut(baseline, baseline.size() * 3 / 4), Expect::BaselineCut},
        {"progressive cut at a third", cut(progressive, progressive.size() / 3), Expect::ProgressiveCut},
    };
    const Bitmap24 intact = jpegFromBytes(baseline).Decode();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TJPEGImage image = jpegFromBytes(c.file);
        Bitmap24 decoded;
        std::string damage = "not set";
        ASSERT_NO_THROW(image.DecodeInto(decoded, &damage));
        ASSERT_EQ(decoded.height(), 64);
        JpegRowReader reader(image);
        Bitmap24 streamed(48, 64);
        reader.ReadRows(streamed.data(), streamed.rowBytes(), 64);
        reader.Finish();
        EXPECT_EQ(reader.Damage(), damage);
        if (c.expect == Expect::Intact) {
            EXPECT_EQ(damage, "");
            continue;
        }
        int whole = -1, all = -1;
        ASSERT_EQ(std::sscanf(damage.c_str(), "JPEG ends early: %d of %d rows", &whole, &all), 2) << damage;
        EXPECT_EQ(all, 64);
        if (c.expect == Expect::BaselineCut) {
            EXPECT_LT(whole, 64);
            // The rows reported whole match the intact file's (the last
            // row of chroma may borrow from the grey below it).
            for (int y = 0; y + 1 < whole; ++y)
                for (int x = 0; x < 48; ++x)
                    ASSERT_EQ(decoded.pixel(x, y), intact.pixel(x, y)) << x << "," << y;
            // Below them libjpeg filled in grey: the picture differs.
            EXPECT_GT(maxDifference(decoded, intact), 16);
        }
    }
}

TEST(JpegDecode, ProgressiveTruncatedFileDecodesWithSmoothingOnAndOff)
{
    const Bitmap24 original = patternBitmap(64, 64);
    const std::vector<std::uint8_t> file = encodeWithLibjpeg(original, false, true, 90);
    const std::vector<std::uint8_t> part(file.begin(), file.begin() + std::ptrdiff_t(file.size() / 3));
    TJPEGImage image = jpegFromBytes(part);
    EXPECT_TRUE(image.ProgressiveEncoding());
    image.Smoothing = true;
    const Bitmap24 smoothed = image.Decode();
    image.Smoothing = false;
    const Bitmap24 plain = image.Decode();
    EXPECT_EQ(smoothed.width(), 64);
    EXPECT_EQ(plain.width(), 64);
    // With only the first scans present, interblock smoothing changes the
    // picture; if the setting did not reach libjpeg both would be equal.
    EXPECT_GT(maxDifference(smoothed, plain), 0);
}

TEST(JpegDecode, FilesLibjpegCannotParseGiveItsMessageCode)
{
    expectJpegError({'B', 'M', 1, 2, 3, 4, 5, 6}, JERR_NO_SOI);
    try {
        jpegFromBytes({'B', 'M', 1, 2});
    } catch (const JpegError& e) {
        EXPECT_EQ(std::string(e.what()), "JPEG: Not a JPEG file: starts with 0x42 0x4d");
    }
    expectJpegError({}, JERR_INPUT_EMPTY);
    const std::vector<std::uint8_t> good = EncodeJpeg(patternBitmap(8, 8), 90);
    // Only the start of the headers: the header parse meets the end.
    expectJpegError(std::vector<std::uint8_t>(good.begin(), good.begin() + 30), JERR_NO_IMAGE);
}

TEST(JpegDecode, CorruptHeadersRaiseOrDecodeButNeverCrash)
{
    const std::vector<std::uint8_t> good = EncodeJpeg(patternBitmap(16, 16), 80);
    for (std::size_t i = 2; i < std::min<std::size_t>(good.size(), 400); ++i) {
        for (std::uint8_t value : {std::uint8_t(0x00), std::uint8_t(0xFF), std::uint8_t(good[i] ^ 0x5A)}) {
            std::vector<std::uint8_t> bad = good;
            bad[i] = value;
            try {
                TJPEGImage image;
                image.LoadFromBytes(bad);
                Bitmap24 out;
                image.DecodeInto(out);
                EXPECT_EQ(out.width(), image.Width());
            } catch (const JpegError&) {
            } catch (const BitmapError&) {
            }
        }
    }
}

TEST(JpegDecode, DecodeIntoResizesAReusedBitmap)
{
    Bitmap24 target = patternBitmap(100, 3);
    jpegFromBytes(EncodeJpeg(gradientBitmap(12, 34), 90)).DecodeInto(target);
    EXPECT_EQ(target.width(), 12);
    EXPECT_EQ(target.height(), 34);
    EXPECT_LE(maxDifference(target, gradientBitmap(12, 34)), 8);
}

TEST(JpegDecode, IntoUsedStorageGivesThePixelsOfADecodeIntoNewStorage)
{
    const Bitmap24 original = patternBitmap(45, 37);
    const std::vector<std::uint8_t> baseline = EncodeJpeg(original, 90);
    const std::vector<std::uint8_t> progressive = encodeWithLibjpeg(original, false, true, 90);
    struct Case {
        const char* name;
        std::vector<std::uint8_t> file;
    };
    const Case cases[] = {
        {"baseline", baseline},
        {"baseline cut in its scan", {baseline.begin(), baseline.begin() + std::ptrdiff_t(baseline.size() / 2)}},
        {"progressive cut after its first scans",
         {progressive.begin(), progressive.begin() + std::ptrdiff_t(progressive.size() / 3)}},
        {"grey", encodeWithLibjpeg(original, true, false, 90)},
    };
    for (const Case& c : cases) {
        for (bool smoothing : {false, true}) {
            TJPEGImage image = jpegFromBytes(c.file);
            image.Smoothing = smoothing;
            const Bitmap24 fresh = image.Decode();
            for (const Bitmap24& used : {usedBitmap(45, 37), usedBitmap(90, 80), usedBitmap(20, 90)}) {
                Bitmap24 target = used;
                image.DecodeInto(target);
                EXPECT_EQ(target, fresh) << c.name << ", into " << used.width() << "x" << used.height();
            }
        }
    }
}

TEST(JpegLoad, MissingFileNamesPathAndFailedLoadKeepsPreviousImage)
{
    ScratchDir dir;
    const std::string good = dir.file("good.jpg");
    writeBytes(good, EncodeJpeg(gradientBitmap(21, 13), 90));
    const std::string notJpeg = dir.file("bad.jpg");
    writeBytes(notJpeg, {'n', 'o', 't', ' ', 'j', 'p', 'e', 'g'});

    TJPEGImage image;
    image.LoadFromFile(good);
    const std::string missing = dir.file("missing.jpg");
    try {
        image.LoadFromFile(missing);
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find(missing), std::string::npos);
    }
    EXPECT_THROW(image.LoadFromFile(notJpeg), JpegError);
    EXPECT_EQ(image.Width(), 21);
    EXPECT_EQ(image.Height(), 13);
    EXPECT_EQ(image.Decode().width(), 21);
}

TEST(JpegLoad, EverySampleJpegDecodesToItsHeaderSize)
{
    const auto files = filesIn(std::string(LUMIVANE_SAMPLES_DIR) + "/exif", ".jpg");
    ASSERT_FALSE(files.empty());
    for (const std::string& path : files) {
        TJPEGImage image;
        image.Smoothing = false;
        ASSERT_NO_THROW(image.LoadFromFile(path)) << path;
        Bitmap24 decoded;
        ASSERT_NO_THROW(image.DecodeInto(decoded)) << path;
        EXPECT_EQ(decoded.width(), image.Width()) << path;
        EXPECT_EQ(decoded.height(), image.Height()) << path;
    }
}

// ---------------------------------------------------------------------------
// Reading a JPEG a few rows at a time

namespace {

// A four-component CMYK file as Adobe applications write it (inverted, with
// the Adobe marker), for the decoder's CMYK path.
std::vector<std::uint8_t> encodeCmyk(int width, int height)
{
    return encodeRows(width, height, 4, JCS_CMYK, false, 75, [&](int y, std::uint8_t* row) {
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 4; ++c)
                row[4 * x + c] = std::uint8_t((x * 37 + y * 11 + c * 60) & 0xFF);
    });
}

// The file with a second frame header just before its end: libjpeg gives up
// on it only after the last row, when it reads on to the end of the file.
std::vector<std::uint8_t> withSecondFrameHeaderAtTheEnd(std::vector<std::uint8_t> file)
{
    std::size_t sof = 0;
    for (std::size_t i = 2; i + 1 < file.size(); ++i)
        if (file[i] == 0xFF && file[i + 1] == 0xC0) {
            sof = i;
            break;
        }
    const std::size_t length = (std::size_t(file[sof + 2]) << 8) | file[sof + 3];
    const std::vector<std::uint8_t> segment(file.begin() + std::ptrdiff_t(sof),
                                            file.begin() + std::ptrdiff_t(sof + 2 + length));
    file.insert(file.end() - 2, segment.begin(), segment.end());
    return file;
}

// Every row of `image` read through a row reader in bands of `band` rows.
Bitmap24 readInBands(const TJPEGImage& image, int band)
{
    JpegRowReader reader(image);
    Bitmap24 out(reader.Width(), reader.Height());
    for (int y = 0; y < reader.Height(); y += band) {
        const int count = std::min(band, reader.Height() - y);
        reader.ReadRows(out.scanLine(y), out.rowBytes(), count);
        EXPECT_EQ(reader.RowsRead(), y + count);
    }
    reader.Finish();
    return out;
}

} // namespace

TEST(JpegRowReader, RowsInAnyBandsAreTheRowsOfDecodeInto)
{
    const Bitmap24 pattern = patternBitmap(61, 45);
    const std::vector<std::uint8_t> progressive = encodeWithLibjpeg(pattern, false, true, 90);
    const std::vector<std::uint8_t> baseline = EncodeJpeg(gradientBitmap(61, 45), 85);
    struct Case {
        std::string name;
        std::vector<std::uint8_t> bytes;
        bool smoothing;
    };
    std::vector<Case> cases = {
        {"baseline", baseline, false},
        {"grey", encodeWithLibjpeg(pattern, true, false, 90), false},
        {"progressive, smoothing", progressive, true},
        {"progressive cut short, smoothing", {progressive.begin(), progressive.begin() + std::ptrdiff_t(progressive.size() / 3)}, true},
        {"progressive cut short, no smoothing", {progressive.begin(), progressive.begin() + std::ptrdiff_t(progressive.size() / 3)}, false},
        {"baseline cut short", {baseline.begin(), baseline.end() - std::ptrdiff_t(baseline.size() / 5)}, false},
        {"cmyk", encodeCmyk(37, 19), false},
        {"camera file", ReadWholeFile(std::string(LUMIVANE_SAMPLES_DIR) + "/exif/ianare_canon-ixus.jpg"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TJPEGImage image;
        ASSERT_NO_THROW(image.LoadFromBytes(c.bytes));
        image.Smoothing = c.smoothing;
        Bitmap24 whole;
        ASSERT_NO_THROW(whole = image.Decode());
        ASSERT_FALSE(whole.empty());
        for (int band : {1, 5, 16, 17, whole.height()}) {
            SCOPED_TRACE(band);
            EXPECT_EQ(readInBands(image, band), whole);
        }
    }
}

TEST(JpegRowReader, FailsWhereDecodeIntoFails_AndRefusesMisuse)
{
    const std::vector<std::uint8_t> good = EncodeJpeg(gradientBitmap(40, 30), 90);
    // A fault met only when libjpeg reads on after the last row.
    const TJPEGImage late = jpegFromBytes(withSecondFrameHeaderAtTheEnd(good));
    Bitmap24 decoded;
    EXPECT_THROW(late.DecodeInto(decoded), JpegError);
    JpegRowReader reader(late);
    Bitmap24 rows(40, 30);
    reader.ReadRows(rows.data(), rows.rowBytes(), 30);
    EXPECT_FALSE(reader.Failed());
    EXPECT_THROW(reader.Finish(), JpegError);
    EXPECT_TRUE(reader.Failed());
    EXPECT_THROW(reader.ReadRows(rows.data(), rows.rowBytes(), 0), std::invalid_argument);

    const TJPEGImage image = jpegFromBytes(good);
    JpegRowReader misuse(image);
    EXPECT_THROW(misuse.ReadRows(rows.data(), rows.rowBytes(), 31), std::invalid_argument);
    EXPECT_THROW(misuse.ReadRows(rows.data(), rows.rowBytes(), -1), std::invalid_argument);
    misuse.ReadRows(rows.data(), rows.rowBytes(), 29);
    EXPECT_THROW(misuse.Finish(), std::logic_error);
    EXPECT_THROW(JpegRowReader{TJPEGImage()}, std::invalid_argument);
}

// Loading file after file through one kept storage: each image decodes as
// one loaded alone, and an image still holding the storage keeps its bytes
// (the next file goes into new storage then, as the batch does).
TEST(JpegLoad, IntoKeptStorage_EachFileDecodesAsLoadedAlone)
{
    ScratchDir dir;
    const std::string first = dir.file("a.jpg"), second = dir.file("b.jpg");
    WriteFileAtomically(first, EncodeJpeg(patternBitmap(40, 30), 90));
    WriteFileAtomically(second, EncodeJpeg(gradientBitmap(52, 31), 80));
    auto storage = std::make_shared<std::vector<std::uint8_t>>();
    for (const std::string& path : {first, second, first}) {
        SCOPED_TRACE(path);
        TJPEGImage alone, kept;
        alone.LoadFromFile(path);
        kept.LoadFromFile(path, storage);
        EXPECT_EQ(*storage, ReadWholeFile(path));
        EXPECT_EQ(kept.Decode(), alone.Decode());
    }
    TJPEGImage holder;
    holder.LoadFromFile(first, storage);
    EXPECT_GT(storage.use_count(), 1);
    EXPECT_EQ(holder.Decode(), jpegFromBytes(ReadWholeFile(first)).Decode());
}
