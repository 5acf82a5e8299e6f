// SPDX-License-Identifier: GPL-3.0-or-later
// The mask check finds clipped, dark, textured and unevenly lit masks and
// stays quiet for a clean fall-off; smoothing takes texture out and keeps
// the fall-off.
#include "MaskQuality.h"

#include "ImageFile.h"
#include "TestOracles.h"
#include "MaskGeometry.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <iostream>
#include <set>

using namespace lumivane;
using Kind = MaskFinding::Kind;

namespace {

// A radial fall-off around (cx, cy) given as shares of the size: `centre`
// in the middle, about `centre` x (1 - depth) in the corners, each channel a
// little lower than the one before; `noise` adds a fixed pseudo-random
// pattern of that many levels either way in grain x grain blocks (3: a
// texture, 1: a sensor's grain).
Bitmap24 falloff(int w, int h, double centre, double depth = 0.45, double cx = 0.5, double cy = 0.5,
                 int noise = 0, int grain = 3)
{
    Bitmap24 b(w, h);
    const double diagonal = std::hypot(w / 2.0, h / 2.0);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = b.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const double r = std::hypot(x + 0.5 - cx * w, y + 0.5 - cy * h) / diagonal;
            double v = centre * (1 - depth * r * r);
            if (noise) {
                unsigned hash = unsigned(x / grain) * 73856093u ^ unsigned(y / grain) * 19349663u;
                hash = (hash ^ (hash >> 13)) * 1274126177u;
                v += double(int(hash % unsigned(2 * noise + 1)) - noise);
            }
            for (int c = 0; c < 3; ++c)
                row[3 * x + c] = std::uint8_t(std::clamp(std::lround(v - 8 * c), 0L, 255L));
        }
    }
    return b;
}

MaskQuality check(const Bitmap24& mask)
{
    return CheckMaskQuality(mask, SampleCentreLevels(mask));
}

std::set<Kind> kindsOf(const MaskQuality& q)
{
    std::set<Kind> kinds;
    for (const MaskFinding& f : q.findings)
        kinds.insert(f.kind);
    return kinds;
}

// Dark round specks of `depth` levels and `radius` pixels, as dust on the
// sensor leaves them, spread over the mask.
Bitmap24 withDust(Bitmap24 mask, int count, int radius, int depth)
{
    for (int i = 0; i < count; ++i) {
        const int cx = (i * 7919 + 101) % mask.width();
        const int cy = (i * 104729 + 53) % mask.height();
        for (int y = cy - radius; y <= cy + radius; ++y)
            for (int x = cx - radius; x <= cx + radius; ++x) {
                if (x < 0 || y < 0 || x >= mask.width() || y >= mask.height() ||
                    (x - cx) * (x - cx) + (y - cy) * (y - cy) > radius * radius)
                    continue;
                std::uint8_t* p = mask.scanLine(y) + 3 * x;
                for (int c = 0; c < 3; ++c)
                    p[c] = std::uint8_t(std::max(0, p[c] - depth));
            }
    }
    return mask;
}

// The mask after a JPEG round trip at `quality`.
Bitmap24 throughJpeg(const Bitmap24& mask, int quality)
{
    const lumivane::test_support::TemporaryFolder folder("lumivane-mask-quality");
    const std::string path = folder.file("mask.jpg");
    SaveJpegFile(mask, quality, path);
    Bitmap24 back;
    DecodeBySuffix(path, back, JpegSmoothing::On);
    return back;
}

TEST(MaskCheck, EachFaultGivesItsFinding)
{
    struct Row {
        const char* what;
        std::function<Bitmap24()> make;
        std::set<Kind> expected;
    } rows[] = {
        {"clean radial fall-off", [] { return falloff(640, 480, 210); }, {}},
        {"clean, large and wide", [] { return falloff(1500, 600, 180, 0.6); }, {}},
        {"clean but barely lit at 70", [] { return falloff(640, 480, 90); }, {}},
        {"clean, with a sensor's light grain", [] { return falloff(640, 480, 200, 0.45, 0.5, 0.5, 2, 1); }, {}},
        {"heavy grain on a small mask", [] { return falloff(640, 480, 200, 0.45, 0.5, 0.5, 4, 1); },
         {Kind::Texture}},
        {"clean, grain at full size", [] { return falloff(3000, 2000, 200, 0.45, 0.5, 0.5, 6, 1); }, {}},
        {"clean, through JPEG at 75", [] { return throughJpeg(falloff(640, 480, 200, 0.45, 0.5, 0.5, 3, 1), 75); },
         {}},
        {"a few faint specks of dust", [] { return withDust(falloff(640, 480, 200), 3, 3, 6); }, {}},
        {"dust", [] { return withDust(falloff(640, 480, 200), 40, 4, 30); }, {Kind::Texture}},
        {"dust on a full-size mask", [] { return withDust(falloff(3000, 2000, 200), 60, 14, 30); },
         {Kind::Texture}},
        {"clipped centre", [] { return falloff(640, 480, 300); }, {Kind::Clipped}},
        {"too dark", [] { return falloff(640, 480, 60); }, {Kind::TooDark}},
        {"textured", [] { return falloff(640, 480, 200, 0.45, 0.5, 0.5, 12); }, {Kind::Texture}},
        {"brightest region off centre", [] { return falloff(640, 480, 200, 0.45, 0.75, 0.5); }, {Kind::UnevenLight}},
        {"dark and textured", [] { return falloff(640, 480, 62, 0.45, 0.5, 0.5, 12); },
         {Kind::TooDark, Kind::Texture}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const MaskQuality q = check(r.make());
        std::cout << r.what << ": texture rms " << q.textureRms << "\n";
        EXPECT_EQ(kindsOf(q), r.expected) << "clipped " << q.clippedShare << ", darkest " << q.darkestLevel
                                          << ", texture " << q.textureRms << ", offset " << q.brightOffset;
        EXPECT_EQ(q.Good(), r.expected.empty());
        for (const MaskFinding& f : q.findings) {
            EXPECT_FALSE(f.text.empty());
            EXPECT_EQ(f.text.back(), '.');
        }
    }
}

TEST(MaskCheck, LimitsSitWhereTheyAreSaid)
{
    // 0.1 % clipped is allowed, a little more is not: a 100 x 100 mask with
    // 10 and then 11 pixels at 255 in one channel.
    Bitmap24 mask = falloff(100, 100, 200, 0.2);
    for (int i = 0; i < 10; ++i)
        mask.setPixel(i, 0, packColour(255, 100, 100));
    EXPECT_FALSE(check(mask).Has(Kind::Clipped));
    mask.setPixel(10, 0, packColour(100, 100, 255));
    EXPECT_TRUE(check(mask).Has(Kind::Clipped));

    // The darkest of the three hotspot levels counts.
    const Bitmap24 clean = falloff(200, 150, 200);
    EXPECT_FALSE(CheckMaskQuality(clean, {64, 200, 200}).Has(Kind::TooDark));
    EXPECT_TRUE(CheckMaskQuality(clean, {200, 200, 63}).Has(Kind::TooDark));
    EXPECT_TRUE(CheckMaskQuality(Bitmap24(), {0, 0, 0}).Has(Kind::TooDark));
    EXPECT_EQ(CheckMaskQuality(Bitmap24(), {100, 100, 100}).findings.size(), 0u);

    // A tenth of the diagonal: the brightest spot moved along the diagonal.
    EXPECT_FALSE(check(falloff(400, 300, 200, 0.45, 0.5 + 0.08, 0.5 + 0.08)).Has(Kind::UnevenLight));
    EXPECT_TRUE(check(falloff(400, 300, 200, 0.45, 0.5 + 0.12, 0.5 + 0.12)).Has(Kind::UnevenLight));
}

TEST(MaskSmoothing, RemovesTextureAndKeepsTheFalloff)
{
    const Bitmap24 textured = falloff(640, 480, 200, 0.45, 0.5, 0.5, 12);
    ASSERT_TRUE(check(textured).Has(Kind::Texture));
    const Bitmap24 smoothed = SmoothMask(textured);
    ASSERT_EQ(smoothed.width(), 640);
    ASSERT_EQ(smoothed.height(), 480);
    EXPECT_TRUE(check(smoothed).Good()) << check(smoothed).textureRms;

    // On a clean fall-off the smoothing changes the mean level of every ring
    // around the centre by less than one level, and no pixel by more than
    // one (rounding).
    for (const auto& size : {std::pair{640, 480}, std::pair{3000, 2000}, std::pair{97, 61}}) {
        const Bitmap24 clean = falloff(size.first, size.second, 210, 0.5);
        const Bitmap24 smooth = SmoothMask(clean);
        constexpr int kRings = 20;
        double before[kRings] = {}, after[kRings] = {}, count[kRings] = {};
        int largest = 0;
        const double diagonal = std::hypot(clean.width() / 2.0, clean.height() / 2.0);
        for (int y = 0; y < clean.height(); ++y)
            for (int x = 0; x < clean.width(); ++x) {
                const int ring = std::min(kRings - 1, int(std::hypot(x + 0.5 - clean.width() / 2.0,
                                                                     y + 0.5 - clean.height() / 2.0) /
                                                          diagonal * kRings));
                const int a = greenOf(clean.pixel(x, y)), b = greenOf(smooth.pixel(x, y));
                before[ring] += a;
                after[ring] += b;
                count[ring] += 1;
                largest = std::max(largest, std::abs(a - b));
            }
        double worst = 0;
        for (int i = 0; i < kRings; ++i)
            if (count[i] > 0)
                worst = std::max(worst, std::fabs(before[i] - after[i]) / count[i]);
        SCOPED_TRACE(std::to_string(size.first) + "x" + std::to_string(size.second));
        EXPECT_LT(worst, 1.0);
        EXPECT_LE(largest, 1);
    }
}

TEST(MaskCheck, SampleMaskIsGoodAndSamplePhotographsAreNot)
{
    namespace fs = std::filesystem;
    const std::string data = LUMIVANE_TEST_DATA_DIR;
    Bitmap24 mask;
    ASSERT_TRUE(DecodeBySuffix(data + "/masks/flat_field_640x480.tif", mask, JpegSmoothing::On));
    const MaskQuality q = check(mask);
    std::cout << "flat_field_640x480.tif: clipped " << q.clippedShare << ", darkest " << q.darkestLevel
              << ", texture " << q.textureRms << ", offset " << q.brightOffset << "\n";
    EXPECT_TRUE(q.Good());

    // The sample photographs are no masks: each raises a finding, and
    // smoothing takes texture out of every one.
    int checked = 0;
    for (const char* folder : {"/samples/exif", "/samples/tiff"}) {
        for (const fs::directory_entry& e : fs::directory_iterator(data + folder)) {
            Bitmap24 picture;
            try {
                if (!DecodeBySuffix(e.path().string(), picture, JpegSmoothing::On) || picture.empty())
                    continue;
            } catch (const std::exception&) {
                continue;
            }
            const MaskQuality raw = check(picture);
            const MaskQuality smooth = check(SmoothMask(picture));
            std::cout << e.path().filename().string() << ": " << picture.width() << "x" << picture.height()
                      << " texture " << raw.textureRms << " -> " << smooth.textureRms << ", findings";
            for (const MaskFinding& f : raw.findings)
                std::cout << " [" << f.text << "]";
            std::cout << "\n";
            EXPECT_FALSE(raw.Good()) << e.path(); // a photograph is no flat field
            EXPECT_LE(smooth.textureRms, raw.textureRms) << e.path();
            ++checked;
        }
    }
    EXPECT_GT(checked, 20);
}

TEST(MaskCheck, StatusTextNamesTheFirstFinding)
{
    EXPECT_EQ(QualityStatusText(check(falloff(320, 240, 200))), "");
    const MaskQuality both = check(falloff(320, 240, 62, 0.45, 0.5, 0.5, 12));
    ASSERT_EQ(both.findings.size(), 2u);
    EXPECT_EQ(QualityStatusText(both),
              " Mask check: " + both.findings[0].text + " (1 more in the adjustment panel)");
}

} // namespace
