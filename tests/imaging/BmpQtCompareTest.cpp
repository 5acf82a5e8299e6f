// SPDX-License-Identifier: GPL-3.0-or-later
// Checks the BMP reader against Qt's own BMP reader on every file of the
// suite's "good" set, pixel for pixel.
#include "BmpCodec.h"
#include "ImagingTestUtil.h"

#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>
#include <map>

using namespace lumivane;
using namespace lumivane::testing;

namespace {

Bitmap24 fromQImage(const QImage& loaded)
{
    const QImage rgb = loaded.convertToFormat(QImage::Format_RGB888);
    Bitmap24 out(rgb.width(), rgb.height());
    for (int y = 0; y < rgb.height(); ++y) {
        const uchar* in = rgb.constScanLine(y);
        for (int x = 0; x < rgb.width(); ++x)
            out.setPixel(x, y, packColour(in[3 * x], in[3 * x + 1], in[3 * x + 2]));
    }
    return out;
}

std::string describeFirstDifference(const Bitmap24& ours, const Bitmap24& theirs)
{
    if (ours.width() != theirs.width() || ours.height() != theirs.height())
        return "size " + std::to_string(ours.width()) + "x" + std::to_string(ours.height()) + " against " +
               std::to_string(theirs.width()) + "x" + std::to_string(theirs.height());
    for (int y = 0; y < ours.height(); ++y)
        for (int x = 0; x < ours.width(); ++x)
            if (ours.pixel(x, y) != theirs.pixel(x, y))
                return "pixel " + std::to_string(x) + "," + std::to_string(y) + ": " +
                       std::to_string(ours.pixel(x, y)) + " against " + std::to_string(theirs.pixel(x, y));
    return "equal";
}

} // namespace

TEST(BmpAgainstQt, EveryGoodSuiteFileDecodesToTheSamePixels)
{
    const std::string root = std::string(LUMIVANE_SAMPLES_DIR) + "/bmp/";
    // Files where Qt's reader and the suite's reference rendering disagree;
    // there the reference rendering is the expected result. Qt widens 5- and
    // 6-bit channels by shifting (31 becomes 248), the reference renderings
    // scale them to the full range (31 becomes 255), as this reader does.
    const std::map<std::string, std::string> followReference = {
        {"rgb16", "rgb16"},
        {"rgb16bfdef", "rgb16"},
        {"rgb16-565", "rgb16-565"},
        {"rgb16-565pal", "rgb16-565"},
    };
    const auto files = filesIn(root + "g", ".bmp");
    ASSERT_EQ(files.size(), 27u);
    for (const std::string& path : files) {
        const std::string name = std::filesystem::path(path).stem().string();
        Bitmap24 ours;
        ASSERT_NO_THROW(ours = ReadBmpFile(path)) << path;
        QImage expected;
        if (const auto reference = followReference.find(name); reference != followReference.end())
            expected = QImage(QString::fromStdString(root + "reference-png/" + reference->second + ".png"));
        else
            expected = QImage(QString::fromStdString(path));
        ASSERT_FALSE(expected.isNull()) << path;
        EXPECT_EQ(describeFirstDifference(ours, fromQImage(expected)), "equal") << name;
    }
}

// Unusual files of the suite's "questionable" set whose reference rendering
// this reader follows exactly: odd bit-field layouts are scaled to the full
// range, and pixels that run-length data skips or never reaches take
// palette colour 0 (the suite's "-0" renderings).
TEST(BmpAgainstReference, QuestionableFilesMatchTheirReferenceRendering)
{
    const std::string root = std::string(LUMIVANE_SAMPLES_DIR) + "/bmp/";
    struct Case { const char* bmp; const char* reference; };
    const Case cases[] = {
        {"q/rgb16-231.bmp", "rgb16-231"},       {"q/rgb16-3103.bmp", "rgb16-3103"},
        {"q/rgb32-7187.bmp", "rgb32-7187"},     {"b/rgb16-880.bmp", "rgb16-880"},
        {"q/rgba32-61754.bmp", "rgba32-61754"}, {"q/rgba32-81284.bmp", "rgba32-81284"},
        {"q/pal1p1.bmp", "pal1p1"},             {"q/pal2.bmp", "pal2"},
        {"q/pal2color.bmp", "pal2color"},       {"q/pal4rlecut.bmp", "pal4rlecut-0"},
        {"q/pal8rlecut.bmp", "pal8rlecut-0"},   {"q/pal4rletrns.bmp", "pal4rletrns-0"},
        {"q/pal8rletrns.bmp", "pal8rletrns-0"},
    };
    for (const Case& c : cases) {
        Bitmap24 ours;
        ASSERT_NO_THROW(ours = ReadBmpFile(root + c.bmp)) << c.bmp;
        const QImage reference(QString::fromStdString(root + "reference-png/" + c.reference + ".png"));
        ASSERT_FALSE(reference.isNull()) << c.reference;
        EXPECT_EQ(describeFirstDifference(ours, fromQImage(reference)), "equal") << c.bmp;
    }
}
