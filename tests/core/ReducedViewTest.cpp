// SPDX-License-Identifier: GPL-3.0-or-later
// The reduced before/after picture: its processed pixels must be those of
// the saved file, sampled the same way, whatever the offset, crop and size.
#include "ReducedView.h"

#include "BmpCodec.h"
#include "SavePipeline.h"
#include "TemporaryFolder.h"
#include "SyntheticPictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <unistd.h>

using namespace lumivane;
using lumivane::test_support::GrainyPhoto;
using lumivane::test_support::FalloffMask;
namespace fs = std::filesystem;

namespace {

struct SaveCase {
    const char* name;
    int width, height;   // photograph
    int viewW, viewH;    // the view's pixel size
    int ox, oy;          // mask offset in preview pixels
    CropMargins crop;
    int strength, brightness;
};

const SaveCase kSaveCases[] = {
    {"centred mask, no crop", 301, 203, 120, 90, 0, 0, {0, 0, 0, 0}, 50, 25},
    {"offset right and up, cropped", 301, 203, 97, 80, 12, -7, {5, 3, 11, 2}, 80, 30},
    {"offset left and down, wide crop", 640, 427, 250, 250, -40, 25, {60, 41, 9, 70}, 100, 20},
    {"view as large as the photograph", 150, 110, 400, 400, 3, 3, {1, 1, 1, 1}, 20, 25},
    {"portrait, large offset", 203, 301, 64, 200, 150, -150, {0, 17, 0, 0}, 65, 25},
};

} // namespace

TEST(ReducedView, ProcessedPictureIsTheSavedBmpSampledAlike)
{
    const lumivane::test_support::TemporaryFolder folder("lumivane-reduced");
    const fs::path dir = folder.path();
    SavePipeline pipeline(1);
    for (const SaveCase& c : kSaveCases) {
        SCOPED_TRACE(c.name);
        const Bitmap24 photo = GrainyPhoto(c.width, c.height, unsigned(c.width + c.ox));
        const Bitmap24 mask = FalloffMask(c.width, c.height);
        BeforeAfterInput input;
        input.photo = &photo;
        input.maskFull = &mask;
        input.region = FullSizeRegion(c.ox, c.oy, c.width, c.height);
        input.damping = DampingForStrength(c.strength);
        input.targets = TargetsFor(230, 225, 215, c.brightness);
        input.crop = c.crop;

        const Size2 size = FitInside(c.width, c.height, c.viewW, c.viewH);
        ReducedView view;
        BuildReducedView(input, size.width, size.height, view);
        ASSERT_TRUE(view.hasFrame);
        ASSERT_GT(view.frameInView.width(), 0);
        ASSERT_GT(view.frameInView.height(), 0);

        const std::string out = (dir / "saved.bmp").string();
        pipeline.SaveCorrectedBmp(photo, mask, input.region, input.damping, input.targets, c.crop, out);
        const Bitmap24 saved = ReadBmpFile(out);

        const std::vector<int> xs = NearestSourceIndices(c.width, size.width);
        const std::vector<int> ys = NearestSourceIndices(c.height, size.height);
        int compared = 0, changed = 0;
        for (int j = 0; j < size.height; ++j)
            for (int i = 0; i < size.width; ++i) {
                const int sx = xs[std::size_t(i)] - c.crop.left, sy = ys[std::size_t(j)] - c.crop.top;
                const bool inFrame = sx >= 0 && sy >= 0 && sx < saved.width() && sy < saved.height();
                const bool inView = i >= view.frameInView.left && i < view.frameInView.right &&
                                    j >= view.frameInView.top && j < view.frameInView.bottom;
                ASSERT_EQ(inFrame, inView) << i << "," << j;
                EXPECT_EQ(view.before.pixel(i, j), photo.pixel(xs[std::size_t(i)], ys[std::size_t(j)]));
                if (!inFrame)
                    continue;
                ASSERT_EQ(view.after.pixel(i, j), saved.pixel(sx, sy)) << "view pixel " << i << "," << j;
                ++compared;
                changed += view.after.pixel(i, j) != view.before.pixel(i, j);
            }
        EXPECT_GT(compared, 0);
        EXPECT_GT(changed, compared / 10); // the correction did act on the picture
    }
}

TEST(ReducedView, SamplesLikeStretchDraw)
{
    const Bitmap24 photo = GrainyPhoto(333, 221, 3);
    for (const Size2 size : {Size2{100, 66}, Size2{333, 221}, Size2{500, 400}, Size2{1, 1}}) {
        BeforeAfterInput input;
        input.photo = &photo;
        ReducedView view;
        BuildReducedView(input, size.width, size.height, view);
        Bitmap24 stretched(size.width, size.height);
        stretchDraw(photo, stretched);
        EXPECT_TRUE(view.before == stretched) << size.width << "x" << size.height;
        EXPECT_TRUE(view.after == view.before); // no mask: nothing is corrected
        EXPECT_FALSE(view.hasMask);
    }
}

TEST(ReducedView, FitInsideKeepsTheAspectRatio)
{
    struct Row {
        int w, h, maxW, maxH, expectW, expectH;
    };
    const Row rows[] = {
        {6000, 4000, 1200, 560, 840, 560},  // height is the limit
        {6000, 4000, 1200, 800, 1200, 800}, // exactly
        {4000, 6000, 1200, 560, 373, 560},  // portrait
        {6000, 1000, 1200, 560, 1200, 200}, // width is the limit
        {100, 50, 1200, 800, 1200, 600},    // a small photograph is enlarged
        {640, 480, 640, 480, 640, 480},     // one to one
        {10000, 1, 100, 100, 100, 1},       // at least one row
        {5, 5, 0, -3, 1, 1},                // no room: one pixel
        {0, 10, 100, 100, 0, 0},            // no photograph
    };
    for (const Row& r : rows) {
        const Size2 s = FitInside(r.w, r.h, r.maxW, r.maxH);
        EXPECT_EQ(s.width, r.expectW) << r.w << "x" << r.h << " in " << r.maxW << "x" << r.maxH;
        EXPECT_EQ(s.height, r.expectH) << r.w << "x" << r.h << " in " << r.maxW << "x" << r.maxH;
    }
}

TEST(ReducedView, FlatFieldShotCorrectedAtFullBoostIsFlat)
{
    // Photographing the flat field itself: before the correction its curve
    // is the mask's, after a full boost the curve is flat.
    const Bitmap24 mask = FalloffMask(900, 600);
    BeforeAfterInput input;
    input.photo = &mask;
    input.maskFull = &mask;
    input.damping = DampingForStrength(100);
    input.targets = TargetsFor(230, 225, 215, 25);
    ReducedView view;
    BuildReducedView(input, 300, 200, view);
    ASSERT_FALSE(view.afterProfile.empty());
    EXPECT_LT(view.beforeProfile.cornerEv, -1.0);
    for (int k = 0; k < kFalloffRings; ++k) {
        EXPECT_NEAR(view.afterProfile.ev[std::size_t(k)], 0.0, 0.05) << k;
        EXPECT_NEAR(view.maskProfile.ev[std::size_t(k)], view.beforeProfile.ev[std::size_t(k)], 1e-12) << k;
    }
}

TEST(ReducedView, MaskCurveCoversOnlyThePairedPixels)
{
    // A mask shifted far to the right leaves the left band without a mask
    // pixel: those view columns stay unprocessed and the mask curve leaves
    // them out, while the photograph's curves still span the whole frame.
    const Bitmap24 photo = GrainyPhoto(578, 432, 9);
    const Bitmap24 mask = FalloffMask(578, 432);
    BeforeAfterInput input;
    input.photo = &photo;
    input.maskFull = &mask;
    input.region = FullSizeRegion(100, 0, 578, 432); // 200 photograph columns uncovered
    input.damping = DampingForStrength(60);
    input.targets = TargetsFor(230, 225, 215, 25);
    ReducedView view;
    BuildReducedView(input, 289, 216, view);
    EXPECT_EQ(view.maskPaired.left, 100);
    EXPECT_EQ(view.maskPaired.right, 289);
    for (int j = 0; j < 216; j += 7)
        for (int i = 0; i < 100; ++i)
            ASSERT_EQ(view.after.pixel(i, j), view.before.pixel(i, j));
    long long maskPixels = 0, photoPixels = 0;
    for (int k = 0; k < kFalloffRings; ++k) {
        maskPixels += view.maskProfile.pixels[std::size_t(k)];
        photoPixels += view.beforeProfile.pixels[std::size_t(k)];
    }
    EXPECT_EQ(photoPixels, 289 * 216);
    EXPECT_EQ(maskPixels, 189 * 216);
}

TEST(ReducedView, UnreadableCropOrNoPhotograph)
{
    const Bitmap24 photo = GrainyPhoto(64, 48, 1);
    BeforeAfterInput input;
    input.photo = &photo;
    ReducedView view;
    for (const CropMargins crop : {CropMargins{30, 0, 34, 0}, CropMargins{0, 48, 0, 0}, CropMargins{-1, 0, 0, 0}}) {
        input.crop = crop;
        BuildReducedView(input, 32, 24, view);
        EXPECT_FALSE(view.hasFrame);
        EXPECT_TRUE(view.beforeProfile.empty());
        EXPECT_FALSE(view.empty()); // the picture is still shown
    }
    input.crop = CropMargins{};
    input.cropValid = false;
    BuildReducedView(input, 32, 24, view);
    EXPECT_FALSE(view.hasFrame);

    input.photo = nullptr;
    BuildReducedView(input, 32, 24, view);
    EXPECT_TRUE(view.empty());

    input.photo = &photo;
    EXPECT_THROW(BuildReducedView(input, 0, 24, view), std::invalid_argument);
    input.maskFull = &photo;
    input.damping = 0;
    EXPECT_THROW(BuildReducedView(input, 32, 24, view), std::invalid_argument);
}

// A scene in linear light (a fine repeating pattern from deep shadow to
// near white, so every ring has the same mean), darkened by the cos^4 law of
// a lens whose focal length is two half-diagonals, and a grey card through
// the same fall-off as the mask: in the exact method the view's corrected
// curve stays within 0.05 EV of flat while the uncorrected one drops.
TEST(ReducedView, GroundTruth_ExactMethodCurveStaysFlat)
{
    const int w = 240, h = 160;
    const double tones[4] = {0.01, 0.06, 0.3, 0.85};
    const auto encode = [](double linear) {
        const double c = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
        return std::uint8_t(std::lround(std::clamp(c, 0.0, 1.0) * 255));
    };
    Bitmap24 photo(w, h), mask(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double dx = x + 0.5 - w / 2.0, dy = y + 0.5 - h / 2.0;
            const double r2 = (dx * dx + dy * dy) / (w * w / 4.0 + h * h / 4.0); // corner: 1
            const double falloff = 1 / ((1 + r2 / 4) * (1 + r2 / 4));
            const std::uint8_t v = encode(tones[(x % 2) + 2 * (y % 2)] * falloff);
            photo.setPixel(x, y, packColour(v, v, v));
            const std::uint8_t m = encode(0.62 * falloff);
            mask.setPixel(x, y, packColour(m, m, m));
        }
    CorrectionChoices choices;
    choices.mode = {CorrectionMethod::Exact, ColourOption::FalloffAndColour};
    const CorrectionSetup setup = SetUpCorrection(mask, SampleCentreLevels(mask), choices, w, h);
    ReducedView view;
    BuildReducedView(BeforeAfterInputOf(photo, setup, true), w, h, view);
    ASSERT_FALSE(view.afterProfile.empty());
    int rings = 0;
    for (std::size_t k = 0; k < std::size_t(kFalloffRings); ++k) {
        if (view.afterProfile.pixels[k] < 40)
            continue; // too few pixels to average the pattern
        ++rings;
        EXPECT_NEAR(view.afterProfile.ev[k], 0.0, 0.05) << "ring " << k;
    }
    EXPECT_GT(rings, 40);
    EXPECT_LT(view.beforeProfile.cornerEv, -0.5);
    EXPECT_NEAR(view.afterProfile.cornerEv, 0.0, 0.05);
}
