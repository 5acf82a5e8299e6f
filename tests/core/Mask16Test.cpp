// SPDX-License-Identifier: GPL-3.0-or-later
// The mask at 16 bits: fitted and turned on the same pixels as the 8-bit
// mask, read again only when it is the mask in use, and used by the
// window's "Save Image" and "Save Images" for 16-bit photographs written as
// 16-bit TIFF, with its levels at 16 bits.
#include "Mask16.h"

#include "BitmapRotation.h"
#include "BmpCodec.h"
#include "ExactCorrection16.h"
#include "FileIO.h"
#include "FolderHost.h"
#include "TemporaryFolder.h"
#include "Tiff16Reader.h"
#include "TiffFiles.h"
#include "TiffWriter.h"
#include "Workflow.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace lumivane;
using lumivane::test_support::FolderHost;
using lumivane::test_support::TemporaryFolder;
using lumivane::testing::WriteTiff16;

namespace {

// A flat field's fall-off at 16 bits whose low bytes vary from pixel to
// pixel, so its 8-bit picture x 257 is not the same light.
Bitmap48 falloffMask16(int width, int height)
{
    Bitmap48 mask(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double dx = (x + 0.5) / width - 0.5, dy = (y + 0.5) / height - 0.5;
            const double level = 0.9 - 1.2 * (dx * dx + dy * dy);
            for (int c = 0; c < 3; ++c)
                mask.row(y)[3 * x + c] =
                    std::uint16_t(65535 * level * (1 - 0.03 * c) + ((x * 37 + y * 91 + c * 53) % 240) - 120);
        }
    return mask;
}

Bitmap48 photo16(int width, int height)
{
    Bitmap48 photo(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                photo.row(y)[3 * x + c] = std::uint16_t(4000 + (x * 977 + y * 613 + c * 4099) % 40000);
    return photo;
}

Bitmap24 eightBit(const Bitmap48& picture)
{
    Bitmap24 eight;
    EightBitPicture(Tiff16Picture{picture, false}, eight);
    return eight;
}

} // namespace

// Every pixel of the 16-bit stretch and turn comes from the source pixel the
// 8-bit stretch and turn take: each 16-bit value names its own position, and
// the 8-bit picture holds the same names cut to a byte.
TEST(Mask16, StretchAndTurn_TakeThePixelsOfThe8BitOnes)
{
    const struct {
        int fromW, fromH, toW, toH;
    } sizes[] = {{7, 5, 13, 4}, {10, 6, 10, 6}, {9, 9, 3, 17}, {16, 3, 5, 5}};
    for (const auto& s : sizes) {
        Bitmap48 wide(s.fromW, s.fromH);
        Bitmap24 narrow(s.fromW, s.fromH);
        for (int y = 0; y < s.fromH; ++y)
            for (int i = 0; i < s.fromW * 3; ++i) {
                wide.row(y)[i] = std::uint16_t(y * s.fromW * 3 + i);
                narrow.scanLine(y)[i] = std::uint8_t(wide.row(y)[i] % 251);
            }
        auto sameNames = [](const Bitmap48& a, const Bitmap24& b) {
            ASSERT_EQ(a.width(), b.width());
            ASSERT_EQ(a.height(), b.height());
            for (int y = 0; y < a.height(); ++y)
                for (int i = 0; i < a.width() * 3; ++i)
                    ASSERT_EQ(a.row(y)[i] % 251, b.scanLine(y)[i]) << "at " << i / 3 << "," << y;
        };
        SCOPED_TRACE(std::to_string(s.fromW) + "x" + std::to_string(s.fromH));
        Bitmap48 stretched(s.toW, s.toH);
        Bitmap24 stretched8(s.toW, s.toH);
        stretchDraw(wide, stretched);
        stretchDraw(narrow, stretched8);
        sameNames(stretched, stretched8);
        for (const int angle : {0, 90, 180, 270, 450}) {
            SCOPED_TRACE(angle);
            Bitmap48 turned;
            Bitmap24 turned8;
            Rotate90Into(angle, wide, turned);
            Rotate90Into(angle, narrow, turned8);
            sameNames(turned, turned8);
        }
    }
    Bitmap48 out;
    EXPECT_THROW(Rotate90Into(45, Bitmap48(2, 2), out), BitmapError);
}

// The 16-bit file stands in for the mask only when its 8-bit picture, turned
// as the mask was, is exactly the mask in use.
TEST(Mask16, OfFile_OnlyWhenItIsTheMaskInUse)
{
    TemporaryFolder dir("lumivane-mask16");
    const Bitmap48 mask = falloffMask16(12, 8);
    WriteTiff16(dir.file("flat16.tif"), mask);
    Bitmap24 turned8;
    Rotate90Into(270, eightBit(mask), turned8);
    Bitmap24 smoothed = eightBit(mask);
    smoothed.scanLine(3)[7] ^= 1;
    Bitmap24 eightBitFile = eightBit(mask);
    WriteBmpFile(eightBitFile, dir.file("flat8.bmp"));

    const struct {
        const char* name;
        std::string path;
        Bitmap24 used;
        int angle;
        bool stands;
    } cases[] = {
        {"as loaded", dir.file("flat16.tif"), eightBit(mask), 0, true},
        {"turned clockwise", dir.file("flat16.tif"), turned8, 270, true},
        {"turned, but the angle not told", dir.file("flat16.tif"), turned8, 0, false},
        {"one value smoothed", dir.file("flat16.tif"), smoothed, 0, false},
        {"an 8-bit file", dir.file("flat8.bmp"), eightBit(mask), 0, false},
        {"a file gone", dir.file("gone.tif"), eightBit(mask), 0, false},
        {"no file", "", eightBit(mask), 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bitmap48 out(1, 1);
        EXPECT_EQ(Mask16OfFile(c.path, c.used, c.angle, out), c.stands);
        if (!c.stands) {
            EXPECT_TRUE(out.empty());
            continue;
        }
        Bitmap48 want;
        Rotate90Into(c.angle, mask, want);
        EXPECT_TRUE(out == want);
    }
}

// The window's "Save Image" and "Save Images" of a 16-bit photograph as a
// 16-bit TIFF by the exact method with a 16-bit mask of another size: the
// gains come from the mask's 16-bit values fitted to the photograph and the
// levels from its 16-bit centre, not from its 8-bit picture x 257.
TEST(Mask16, WindowSaves_Use16BitGainsAndLevels)
{
    TemporaryFolder dir("lumivane-mask16-save");
    const int width = 48, height = 36;
    const Bitmap48 photo = photo16(width, height);
    const Bitmap48 mask = falloffMask16(24, 18);
    WriteTiff16(dir.file("photo.tif"), photo);
    WriteTiff16(dir.file("photo2.tif"), photo);
    WriteTiff16(dir.file("flat.tif"), mask);
    std::filesystem::create_directories(dir.path() / "program");
    std::filesystem::create_directories(dir.path() / "batch");

    Bitmap48 fitted(width, height);
    stretchDraw(mask, fitted);
    const CorrectionTargets targets = TargetsFor16(SampleCentreLevels16Through(mask, width, height), 25);
    Bitmap48 fitted8x257(width, height);
    const Bitmap24 mask8 = eightBit(fitted);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < width * 3; ++i)
            fitted8x257.row(y)[i] = std::uint16_t(mask8.scanLine(y)[i] * 257);

    // Checks a written file against the formula on the 16-bit mask, and
    // that the 8-bit mask's light would have given other values.
    auto check = [&](const std::string& path) {
        const lumivane::testing::TiffContents written = lumivane::testing::ReadTiffBack(path);
        ASSERT_EQ(written.bits, 16);
        ASSERT_EQ(int(written.width), width);
        ASSERT_EQ(int(written.height), height);
        int worst = 0, farFrom8Bit = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const std::uint16_t* p = photo.row(y) + 3 * x;
                const auto want = ExactPixelReference16(p, fitted.row(y) + 3 * x, targets,
                                                        ColourOption::FalloffAndColour);
                const auto eightBitGains = ExactPixelReference16(p, fitted8x257.row(y) + 3 * x, targets,
                                                                 ColourOption::FalloffAndColour);
                for (int c = 0; c < 3; ++c) {
                    // The file holds red, green, blue.
                    const int got = written.samples[(std::size_t(y) * width + x) * 3 + (2 - c)];
                    worst = std::max(worst, std::abs(got - int(want[std::size_t(c)])));
                    farFrom8Bit += std::abs(got - int(eightBitGains[std::size_t(c)])) > 4;
                }
            }
        EXPECT_LE(worst, 1);
        EXPECT_GT(farFrom8Bit, width * height);
    };

    Workflow flow(dir.file("program"));
    flow.OpenList({dir.file("photo.tif")});
    ASSERT_TRUE(flow.LoadMask(dir.file("flat.tif")));
    flow.SetMode(CorrectionMode{CorrectionMethod::Exact, ColourOption::FalloffAndColour});

    // "Save Image", the dialog's TIFF entry chosen.
    class TiffHost : public FolderHost {
    public:
        explicit TiffHost(std::string path) : FolderHost(std::string()), path_(std::move(path)) {}
        std::string AskSavePath(const SaveDialogAnswerRequest& request) override
        {
            if (request.TiffChosen)
                *request.TiffChosen = true;
            return path_;
        }

    private:
        std::string path_;
    } host(dir.file("one.tif"));
    const SaveOutcome one = flow.Save(host);
    ASSERT_EQ(one.Results.size(), 1u);
    ASSERT_EQ(one.Results[0].Error, "");
    check(one.Results[0].Written);

    // "Save Images" as TIFF, a list of two.
    flow.OpenList({dir.file("photo.tif"), dir.file("photo2.tif")});
    flow.SetSaveImagesTiff(true);
    FolderHost folderHost(dir.file("batch"));
    const SaveOutcome batch = flow.Save(folderHost);
    ASSERT_EQ(batch.Results.size(), 2u);
    for (const PhotoResult& result : batch.Results) {
        ASSERT_EQ(result.Error, "");
        check(result.Written);
    }
}
