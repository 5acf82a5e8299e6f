// SPDX-License-Identifier: GPL-3.0-or-later
#include "BmpCodec.h"
#include "FileIO.h"
#include "ImagingTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace lumivane;
using namespace lumivane::testing;

namespace {

void put16(std::vector<std::uint8_t>& v, std::uint32_t x)
{
    v.push_back(std::uint8_t(x));
    v.push_back(std::uint8_t(x >> 8));
}
void put32(std::vector<std::uint8_t>& v, std::uint32_t x)
{
    for (int i = 0; i < 4; ++i)
        v.push_back(std::uint8_t(x >> (8 * i)));
}
std::uint32_t get32(const std::vector<std::uint8_t>& v, std::size_t at)
{
    return std::uint32_t(v[at]) | (std::uint32_t(v[at + 1]) << 8) | (std::uint32_t(v[at + 2]) << 16) |
           (std::uint32_t(v[at + 3]) << 24);
}

// Builds a BMP file field by field: file header, a 40-byte (or OS/2
// 12-byte) information header, optional bit-field masks, palette, pixels.
struct BmpFile {
    bool os2 = false;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t planes = 1;
    std::uint16_t bitCount = 24;
    std::uint32_t compression = 0; // 0 RGB, 1 RLE8, 2 RLE4, 3 bit fields
    std::vector<std::uint32_t> masks;   // written after a 40-byte header
    std::vector<Colour> palette;
    std::vector<std::uint8_t> pixels;   // stored rows, padding included

    std::vector<std::uint8_t> build() const
    {
        const std::uint32_t header = os2 ? 12 : 40;
        const std::uint32_t entry = os2 ? 3 : 4;
        const std::uint32_t offset =
            14 + header + std::uint32_t(masks.size()) * 4 + std::uint32_t(palette.size()) * entry;
        std::vector<std::uint8_t> f;
        f.push_back('B');
        f.push_back('M');                                      // signature
        put32(f, offset + std::uint32_t(pixels.size()));       // file size
        put32(f, 0);                                           // reserved
        put32(f, offset);                                      // pixel data offset
        put32(f, header);                                      // header size
        if (os2) {
            put16(f, std::uint32_t(width));                    // width (16 bits)
            put16(f, std::uint32_t(height));                   // height (16 bits)
            put16(f, planes);
            put16(f, bitCount);
        } else {
            put32(f, std::uint32_t(width));
            put32(f, std::uint32_t(height));                   // negative: top-down
            put16(f, planes);
            put16(f, bitCount);
            put32(f, compression);
            put32(f, std::uint32_t(pixels.size()));            // image size
            put32(f, 0);                                       // horizontal resolution
            put32(f, 0);                                       // vertical resolution
            put32(f, std::uint32_t(palette.size()));           // colours used
            put32(f, 0);                                       // important colours
        }
        for (std::uint32_t m : masks)
            put32(f, m);
        for (Colour c : palette) {
            f.push_back(blueOf(c));
            f.push_back(greenOf(c));
            f.push_back(redOf(c));
            if (!os2)
                f.push_back(0);
        }
        f.insert(f.end(), pixels.begin(), pixels.end());
        return f;
    }
};

Bitmap24 decode(const std::vector<std::uint8_t>& f)
{
    return DecodeBmp(f.data(), f.size());
}

std::string decodeError(const std::vector<std::uint8_t>& f)
{
    try {
        decode(f);
    } catch (const BmpError& e) {
        return e.what();
    }
    return "no error";
}

const Colour kA = packColour(10, 20, 30);
const Colour kB = packColour(200, 100, 50);
const Colour kC = packColour(1, 2, 3);

} // namespace

TEST(BmpWrite, HeaderBytesFollowTheLayout)
{
    const std::vector<std::uint8_t> f = EncodeBmp(patternBitmap(3, 2));
    // 3 pixels = 9 bytes, padded to 12; two rows.
    ASSERT_EQ(f.size(), 54u + 24u);
    EXPECT_EQ(f[0], 'B');
    EXPECT_EQ(f[1], 'M');
    EXPECT_EQ(get32(f, 2), 78u);  // file size
    EXPECT_EQ(get32(f, 6), 0u);   // reserved
    EXPECT_EQ(get32(f, 10), 54u); // pixel data offset
    EXPECT_EQ(get32(f, 14), 40u); // header size
    EXPECT_EQ(get32(f, 18), 3u);  // width
    EXPECT_EQ(get32(f, 22), 2u);  // height, positive
    EXPECT_EQ(f[26] | (f[27] << 8), 1);  // planes
    EXPECT_EQ(f[28] | (f[29] << 8), 24); // bits per pixel
    EXPECT_EQ(get32(f, 30), 0u);  // BI_RGB
    EXPECT_EQ(get32(f, 34), 24u); // image size
    for (std::size_t at : {38u, 42u, 46u, 50u})
        EXPECT_EQ(get32(f, at), 0u) << at; // resolution and colour counts
    // The first stored row is the bottom row, blue first, then 3 pad bytes.
    const Bitmap24 image = patternBitmap(3, 2);
    EXPECT_EQ(std::memcmp(&f[54], image.scanLine(1), 9), 0);
    EXPECT_EQ(f[63] | f[64] | f[65], 0);
    EXPECT_EQ(std::memcmp(&f[66], image.scanLine(0), 9), 0);
}

TEST(BmpWrite, WriteThenReadGivesSamePixels_ForEveryPadding)
{
    ScratchDir dir;
    for (int width = 1; width <= 5; ++width)
        for (int height : {1, 2, 3}) {
            const Bitmap24 image = patternBitmap(width, height);
            const std::string path = dir.file("w" + std::to_string(width) + ".bmp");
            WriteBmpFile(image, path);
            const Bitmap24 back = ReadBmpFile(path);
            EXPECT_EQ(back, image) << width << "x" << height;
            EXPECT_EQ(ReadWholeFile(path).size() % 4, (54u + 0) % 4);
        }
    EXPECT_EQ(dir.names().size(), 5u); // no temporary files left
}

TEST(BmpRead, PaletteFormatsTakeTheirPaletteColours)
{
    struct Case { const char* name; std::uint16_t bits; std::vector<std::uint8_t> row; };
    // Pixels A B C A in each format (indices 0 1 2 0), one row padded to 4 bytes.
    const Case cases[] = {
        {"1 bit (A B B A)", 1, {0b01100000, 0, 0, 0}},
        {"2 bits", 2, {0b00011000, 0, 0, 0}},
        {"4 bits", 4, {0x01, 0x20, 0, 0}},
        {"8 bits", 8, {0, 1, 2, 0}},
    };
    for (const Case& c : cases) {
        BmpFile b;
        b.width = 4;
        b.height = 1;
        b.bitCount = c.bits;
        b.palette = {kA, kB, kC};
        if (c.bits == 1)
            b.palette.resize(2);
        b.pixels = c.row;
        const Bitmap24 image = decode(b.build());
        ASSERT_EQ(image.width(), 4) << c.name;
        EXPECT_EQ(image.pixel(0, 0), kA) << c.name;
        EXPECT_EQ(image.pixel(1, 0), kB) << c.name;
        EXPECT_EQ(image.pixel(2, 0), c.bits == 1 ? kB : kC) << c.name;
        EXPECT_EQ(image.pixel(3, 0), kA) << c.name;
    }
}

TEST(BmpRead, IndexBeyondPaletteIsBlack)
{
    BmpFile b;
    b.width = 2;
    b.height = 1;
    b.bitCount = 8;
    b.palette = {kA, kB};
    b.pixels = {1, 250, 0, 0};
    const Bitmap24 image = decode(b.build());
    EXPECT_EQ(image.pixel(0, 0), kB);
    EXPECT_EQ(image.pixel(1, 0), kBlack);
}

TEST(BmpRead, RowOrderBottomUpAndTopDown)
{
    BmpFile b;
    b.width = 1;
    b.height = 2;
    b.pixels = {30, 20, 10, 0, /* second stored row */ 3, 2, 1, 0};
    Bitmap24 image = decode(b.build());
    EXPECT_EQ(image.pixel(0, 1), kA); // first stored row is the bottom row
    EXPECT_EQ(image.pixel(0, 0), kC);
    b.height = -2;
    image = decode(b.build());
    EXPECT_EQ(image.height(), 2);
    EXPECT_EQ(image.pixel(0, 0), kA);
    EXPECT_EQ(image.pixel(0, 1), kC);
}

TEST(BmpRead, SixteenAndThirtyTwoBitChannelsScaleToFullRange)
{
    struct Case { const char* name; std::uint16_t bits; std::uint32_t compression; std::vector<std::uint32_t> masks;
                  std::vector<std::uint8_t> row; Colour first, second; };
    const Case cases[] = {
        // 5-5-5 default: 0x7FFF white, 0x7C00 pure red.
        {"16 default", 16, 0, {}, {0xFF, 0x7F, 0x00, 0x7C}, kWhite, kPureRed},
        // 5-6-5 bit fields: 0x07E0 pure green, 0x0010 blue 16 of 31 -> 132.
        {"16 565", 16, 3, {0xF800, 0x07E0, 0x001F}, {0xE0, 0x07, 0x10, 0x00}, packColour(0, 255, 0), packColour(0, 0, 132)},
        // 32 bits without masks: blue, green, red, unused.
        {"32 rgb", 32, 0, {}, {30, 20, 10, 99, 3, 2, 1, 0}, kA, kC},
        // 32-bit fields in another order (red in the low byte), alpha ignored.
        {"32 fields", 32, 3, {0x000000FF, 0x0000FF00, 0x00FF0000}, {10, 20, 30, 0xFF, 1, 2, 3, 0}, kA, kC},
        // 10-bit channels: 1023 -> 255, 512 -> 128.
        {"32 10-bit", 32, 3, {0x3FF00000, 0x000FFC00, 0x000003FF},
         {0x00, 0x00, 0xF0, 0x3F, 0x00, 0x02, 0x00, 0x00}, kPureRed, packColour(0, 0, 128)},
    };
    for (const Case& c : cases) {
        BmpFile b;
        b.width = 2;
        b.height = 1;
        b.bitCount = c.bits;
        b.compression = c.compression;
        b.masks = c.masks;
        b.pixels = c.row;
        const Bitmap24 image = decode(b.build());
        EXPECT_EQ(image.pixel(0, 0), c.first) << c.name;
        EXPECT_EQ(image.pixel(1, 0), c.second) << c.name;
    }
}

TEST(BmpRead, Os2HeaderWithThreeBytePalette)
{
    BmpFile b;
    b.os2 = true;
    b.width = 3;
    b.height = 1;
    b.bitCount = 8;
    b.palette = {kA, kB, kC};
    b.pixels = {2, 1, 0, 0};
    const Bitmap24 image = decode(b.build());
    EXPECT_EQ(image.pixel(0, 0), kC);
    EXPECT_EQ(image.pixel(1, 0), kB);
    EXPECT_EQ(image.pixel(2, 0), kA);
}

TEST(BmpRead, Rle8RunsAbsoluteRunsDeltaAndEscapes)
{
    BmpFile b;
    b.width = 5;
    b.height = 3;
    b.bitCount = 8;
    b.compression = 1;
    b.palette = {kA, kB, kC};
    b.pixels = {
        3, 1,          // bottom row: three of colour 1
        0, 0,          // end of line
        0, 3, 2, 1, 2, 0, // absolute run of three: 2 1 2, padded
        0, 2, 1, 1,    // delta: one right, one up -> top row, x = 4
        1, 2,          // one of colour 2 at (4, top)
        0, 1,          // end of bitmap
    };
    const Bitmap24 image = decode(b.build());
    const Colour expected[3][5] = {
        {kA, kA, kA, kA, kC},  // top row: only x = 4 written, rest colour 0
        {kC, kB, kC, kA, kA},  // middle row
        {kB, kB, kB, kA, kA},  // bottom row
    };
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(image.pixel(x, y), expected[y][x]) << x << "," << y;
}

TEST(BmpRead, IntoUsedStorageGivesThePixelsOfAReadIntoNewStorage)
{
    // Run-length data that leaves most pixels unwritten (they take colour
    // 0), an 8-bit palette file and a 24-bit file.
    BmpFile rle;
    rle.width = 6;
    rle.height = 4;
    rle.bitCount = 8;
    rle.compression = 1;
    rle.palette = {kB, kC};
    rle.pixels = {2, 1, 0, 2, 3, 2, 1, 1, 0, 1};
    BmpFile palette;
    palette.width = 3;
    palette.height = 2;
    palette.bitCount = 8;
    palette.palette = {kA, kB, kC};
    palette.pixels = {0, 1, 2, 0, 2, 1, 0, 0};
    const std::vector<std::vector<std::uint8_t>> files = {rle.build(), palette.build(),
                                                          EncodeBmp(patternBitmap(7, 5))};
    for (std::size_t i = 0; i < files.size(); ++i) {
        const Bitmap24 fresh = decode(files[i]);
        for (const Bitmap24& used : {usedBitmap(fresh.width(), fresh.height()), usedBitmap(50, 40)}) {
            Bitmap24 target = used;
            DecodeBmp(files[i].data(), files[i].size(), target);
            EXPECT_EQ(target, fresh) << "file " << i << " into " << used.width() << "x" << used.height();
        }
    }
}

TEST(BmpRead, Rle4AlternatesNibbles)
{
    BmpFile b;
    b.width = 6;
    b.height = 1;
    b.bitCount = 4;
    b.compression = 2;
    b.palette = {kA, kB, kC};
    b.pixels = {
        3, 0x12,           // 1 2 1
        0, 3, 0x21, 0x00,  // absolute: 2 1 0, two bytes (already even)
        0, 1,
    };
    const Bitmap24 image = decode(b.build());
    const Colour expected[6] = {kB, kC, kB, kC, kB, kA};
    for (int x = 0; x < 6; ++x)
        EXPECT_EQ(image.pixel(x, 0), expected[x]) << x;
}

TEST(BmpRead, MalformedHeadersGiveClearErrors)
{
    auto base = [] {
        BmpFile b;
        b.width = 2;
        b.height = 2;
        b.pixels.assign(16, 0);
        return b;
    };
    struct Case { const char* name; BmpFile file; const char* message; };
    std::vector<Case> cases;
    { BmpFile b = base(); b.planes = 2; cases.push_back({"planes", b, "Bitmap image is not valid"}); }
    { BmpFile b = base(); b.planes = 0; cases.push_back({"no planes", b, "Bitmap image is not valid"}); }
    { BmpFile b = base(); b.bitCount = 7; cases.push_back({"bit count", b, "Unsupported bitmap bit count 7"}); }
    { BmpFile b = base(); b.width = 0; cases.push_back({"zero width", b, "Bitmap has an invalid size (0 x 2)"}); }
    { BmpFile b = base(); b.height = 0; cases.push_back({"zero height", b, "Bitmap has an invalid size (2 x 0)"}); }
    { BmpFile b = base(); b.width = 100000; b.height = 100000;
      cases.push_back({"huge claim, little data", b, "Bitmap file is truncated"}); }
    { BmpFile b = base(); b.width = 2; b.height = INT32_MIN;
      cases.push_back({"side past the row arithmetic", b, "Bitmap is too large (2 x 2147483648 pixels)"}); }
    { BmpFile b = base(); b.width = 1000; cases.push_back({"short data", b, "Bitmap file is truncated"}); }
    { BmpFile b = base(); b.compression = 1; cases.push_back({"rle8 at 24 bits", b, "RLE8 compression needs 8 bits per pixel"}); }
    { BmpFile b = base(); b.bitCount = 8; b.compression = 1; b.height = -2;
      cases.push_back({"top-down rle", b, "Run-length encoded bitmaps cannot be stored top-down"}); }
    { BmpFile b = base(); b.compression = 3; cases.push_back({"fields at 24 bits", b, "Bit fields need 16 or 32 bits per pixel, not 24"}); }
    { BmpFile b = base(); b.compression = 4; cases.push_back({"embedded jpeg", b, "Bitmaps with embedded JPEG or PNG data are not supported"}); }
    { BmpFile b = base(); b.bitCount = 8; b.compression = 1; b.width = 5000; b.height = 5000;
      b.pixels = {0, 1}; // end of bitmap at once
      cases.push_back({"rle claiming a huge picture", b,
                       "Run-length encoded bitmap is too large for its data (5000 x 5000 pixels)"}); }
    for (const Case& c : cases)
        EXPECT_EQ(decodeError(c.file.build()), c.message) << c.name;

    EXPECT_EQ(decodeError({'P', 'K', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0}),
              "Not a bitmap file (no \"BM\" signature)");
    EXPECT_EQ(decodeError({}), "Bitmap file is truncated");
}

TEST(BmpRead, RefusedFileLeavesTargetUntouched)
{
    Bitmap24 target = patternBitmap(4, 4);
    BmpFile b;
    b.width = 2;
    b.height = 2;
    b.planes = 3;
    const std::vector<std::uint8_t> f = b.build();
    EXPECT_THROW(DecodeBmp(f.data(), f.size(), target), BmpError);
    EXPECT_EQ(target, patternBitmap(4, 4));
}

TEST(BmpRead, EveryTruncationAndByteCorruptionOfSmallFilesIsSafe)
{
    std::vector<std::vector<std::uint8_t>> goods;
    goods.push_back(EncodeBmp(patternBitmap(5, 3)));
    BmpFile rle;
    rle.width = 5;
    rle.height = 3;
    rle.bitCount = 8;
    rle.compression = 1;
    rle.palette = {kA, kB, kC};
    rle.pixels = {3, 1, 0, 0, 0, 3, 2, 1, 2, 0, 0, 2, 1, 1, 1, 2, 0, 1};
    goods.push_back(rle.build());
    BmpFile fields;
    fields.width = 3;
    fields.height = 2;
    fields.bitCount = 16;
    fields.compression = 3;
    fields.masks = {0xF800, 0x07E0, 0x001F};
    fields.pixels.assign(16, 0x5A);
    goods.push_back(fields.build());

    for (const auto& good : goods) {
        for (std::size_t length = 0; length < good.size(); ++length) {
            try {
                const Bitmap24 image = DecodeBmp(good.data(), length);
                EXPECT_GT(image.width(), 0);
            } catch (const BmpError&) {
            }
        }
        for (std::size_t i = 0; i < good.size(); ++i)
            for (std::uint8_t value : {std::uint8_t(0), std::uint8_t(0xFF), std::uint8_t(0x80), std::uint8_t(good[i] + 1)}) {
                std::vector<std::uint8_t> bad = good;
                bad[i] = value;
                try {
                    const Bitmap24 image = DecodeBmp(bad.data(), bad.size());
                    EXPECT_GT(image.width(), 0);
                } catch (const BmpError&) {
                }
            }
    }
}

TEST(BmpRead, SuiteFilesOutsideTheGoodSetGiveAPictureOrAClearError)
{
    const std::string root = std::string(LUMIVANE_SAMPLES_DIR) + "/bmp/";
    int files = 0;
    for (const char* folder : {"b", "q", "x"})
        for (const std::string& path : filesIn(root + folder, ".bmp")) {
            ++files;
            try {
                const Bitmap24 image = ReadBmpFile(path);
                EXPECT_GT(image.width(), 0) << path;
                EXPECT_GT(image.height(), 0) << path;
            } catch (const BmpError& e) {
                EXPECT_GT(std::strlen(e.what()), 10u) << path;
            }
        }
    EXPECT_EQ(files, 20 + 43 + 1);
}

TEST(BmpRead, SuiteBadFilesThatMustBeRefused)
{
    const std::string root = std::string(LUMIVANE_SAMPLES_DIR) + "/bmp/b/";
    struct Case { const char* file; const char* message; };
    for (const Case& c : {Case{"badplanes.bmp", "Bitmap image is not valid"},
                          Case{"shortfile.bmp", "Bitmap file is truncated"},
                          Case{"rletopdown.bmp", "Run-length encoded bitmaps cannot be stored top-down"}}) {
        try {
            ReadBmpFile(root + c.file);
            ADD_FAILURE() << c.file;
        } catch (const BmpError& e) {
            EXPECT_STREQ(e.what(), c.message) << c.file;
        }
    }
}
