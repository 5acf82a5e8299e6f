// SPDX-License-Identifier: GPL-3.0-or-later
// The photograph as the before/after view shows it: turned by its EXIF
// orientation, zoomed and panned, and every pixel shown the pixel the save
// writes at that place.
#include "CorrectionReference.h"
#include "ShownView.h"

#include "CameraExif.h"
#include "TestOracles.h"
#include "TemporaryFolder.h"
#include "SyntheticPictures.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <unistd.h>

using namespace lumivane;
using lumivane::test_support::VignetteMask;
namespace fs = std::filesystem;

namespace {

// Every pixel its own colour: x in blue, y in green.
Bitmap24 numbered(int w, int h)
{
    Bitmap24 b(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b.setPixel(x, y, packColour(std::uint8_t(100 + (x * 13 + y) % 97), std::uint8_t(y * 7 % 251),
                                        std::uint8_t(x % 251)));
    return b;
}

// What a viewer shows at (u, v) of an orientation, from the EXIF
// definitions of where the stored first row and column end up.
struct Turn {
    int exif;
    const char* meaning;
    std::function<std::pair<int, int>(int u, int v, int w, int h)> stored; // shown (u, v) -> stored (x, y)
};

const Turn kTurns[] = {
    {1, "top left", [](int u, int v, int, int) { return std::pair{u, v}; }},
    {2, "top right", [](int u, int v, int w, int) { return std::pair{w - 1 - u, v}; }},
    {3, "bottom right", [](int u, int v, int w, int h) { return std::pair{w - 1 - u, h - 1 - v}; }},
    {4, "bottom left", [](int u, int v, int, int h) { return std::pair{u, h - 1 - v}; }},
    {5, "left top", [](int u, int v, int, int) { return std::pair{v, u}; }},
    // The camera was turned clockwise: the stored first row is the shown
    // right column, top to bottom.
    {6, "right top", [](int u, int v, int, int h) { return std::pair{v, h - 1 - u}; }},
    {7, "right bottom", [](int u, int v, int w, int h) { return std::pair{w - 1 - v, h - 1 - u}; }},
    {8, "left bottom", [](int u, int v, int w, int) { return std::pair{w - 1 - v, u}; }},
};

BeforeAfterInput inputOf(const Bitmap24& photo, const Bitmap24& mask, CorrectionMode mode, int orientation)
{
    BeforeAfterInput input;
    input.photo = &photo;
    input.maskFull = &mask;
    input.region = FullSizeRegion(3, -2, photo.width(), photo.height());
    input.damping = DampingForStrength(70);
    input.targets = TargetsFor(225, 215, 205, 27);
    input.mode = mode;
    input.crop = CropMargins{4, 3, 2, 5};
    input.orientation = orientation;
    return input;
}

} // namespace

TEST(ShownView, EveryOrientationTurnsAsTheExifDefinitionSays)
{
    const Bitmap24 stored = numbered(7, 4);
    for (const Turn& t : kTurns) {
        SCOPED_TRACE(t.meaning);
        const Orientation o(t.exif);
        Bitmap24 shown;
        TurnToShown(stored, o, shown);
        const Size2 size = ShownSize(7, 4, o);
        ASSERT_EQ(shown.width(), size.width);
        ASSERT_EQ(shown.height(), size.height);
        ASSERT_EQ(shown.width(), t.exif >= 5 ? 4 : 7);
        for (int v = 0; v < shown.height(); ++v)
            for (int u = 0; u < shown.width(); ++u) {
                const auto [x, y] = t.stored(u, v, 7, 4);
                ASSERT_EQ(shown.pixel(u, v), stored.pixel(x, y)) << u << "," << v;
            }
        // A stored rectangle lands where its pixels do.
        const Rect r{1, 2, 4, 3};
        const Rect s = ShownRect(r, 7, 4, o);
        EXPECT_EQ(s.width() * s.height(), r.width() * r.height());
        for (int v = s.top; v < s.bottom; ++v)
            for (int u = s.left; u < s.right; ++u) {
                const auto [x, y] = t.stored(u, v, 7, 4);
                EXPECT_TRUE(x >= r.left && x < r.right && y >= r.top && y < r.bottom) << u << "," << v;
            }
    }
    EXPECT_EQ(Orientation(0).exif, 1);
    EXPECT_EQ(Orientation(9).exif, 1);
}

TEST(ShownView, OrientationIsReadFromTheJpegsExif)
{
    const lumivane::test_support::TemporaryFolder folder("lumivane-shown");
    const fs::path dir = folder.path();
    const Bitmap24 image = numbered(24, 16);
    struct Row {
        const char* name;
        std::uint16_t tag; // 0: no tag
        int expected;
    } rows[] = {{"six.jpg", 6, 6}, {"eight.JPEG", 8, 8}, {"three.jpe", 3, 3}, {"none.jpg", 0, 1},
                {"nine.jpg", 9, 1}};
    for (const Row& r : rows) {
        lumivane::testing::CameraExif exif = lumivane::testing::Camera("Canon", "EOS", 8.0, 50.0);
        exif.orientation = r.tag;
        const std::string path = (dir / r.name).string();
        lumivane::testing::WriteCameraJpeg(path, image, exif);
        EXPECT_EQ(PhotoOrientation(path).exif, r.expected) << r.name;
    }
    SaveJpegFile(image, 90, (dir / "plain.jpg").string());
    EXPECT_EQ(PhotoOrientation((dir / "plain.jpg").string()).exif, 1);
    EXPECT_EQ(PhotoOrientation((dir / "missing.jpg").string()).exif, 1);
}

TEST(ShownView, ZoomedPictureIsTheCorrectedPhotographTurnedAndCut)
{
    // The part shown, sampled and corrected alone, equals the whole
    // photograph corrected (as the save does), turned and cut at the same
    // place: at 1:1, at 3:1 and zoomed out, in both methods, every
    // orientation.
    const Bitmap24 photo = numbered(161, 97);
    const Bitmap24 mask = VignetteMask(161, 97);
    const CorrectionMode modes[] = {CorrectionMode{}, CorrectionMode{CorrectionMethod::Exact, ColourOption::FalloffAndColour}};
    for (const CorrectionMode& mode : modes)
        for (const Turn& t : kTurns)
            for (const double scale : {1.0, 3.0, 0.5}) {
                SCOPED_TRACE(std::string(t.meaning) + (mode.method == CorrectionMethod::Exact ? " exact " : " additive ") +
                             std::to_string(scale));
                const BeforeAfterInput input = inputOf(photo, mask, mode, t.exif);
                Bitmap24 corrected = photo;
                ApplyCorrectionReference(corrected, mask, input.region, input.damping, input.targets, mode);
                Bitmap24 shownWhole, shownPhoto;
                TurnToShown(corrected, Orientation(t.exif), shownWhole);
                TurnToShown(photo, Orientation(t.exif), shownPhoto);

                Viewport viewport;
                viewport.SetSizes(shownWhole.width(), shownWhole.height(), 60, 45);
                ReducedView whole, zoomed;
                BuildReducedView(input, 10, 10, whole);
                viewport.ZoomTo(scale, 40, 20);
                viewport.PanBy(-7, 5);
                ShownPicture picture;
                BuildShownPicture(input, viewport, whole, zoomed, picture);
                auto check = [&](const std::string& when) {
                    SCOPED_TRACE(when);
                    const Viewport::Picture layout = viewport.Layout();
                    ASSERT_EQ(picture.before.width(), layout.width());
                    ASSERT_EQ(picture.before.height(), layout.height());
                    for (int j = 0; j < layout.height(); ++j)
                        for (int i = 0; i < layout.width(); ++i) {
                            const int u = layout.columns[std::size_t(i)], v = layout.rows[std::size_t(j)];
                            ASSERT_EQ(picture.after.pixel(i, j), shownWhole.pixel(u, v)) << i << "," << j;
                            ASSERT_EQ(picture.before.pixel(i, j), shownPhoto.pixel(u, v)) << i << "," << j;
                        }
                };
                check("built whole");
                // Pans that keep what stays in view: every direction, a
                // step smaller than a photograph pixel, one past the edge,
                // and one that uncovers the whole view.
                const std::pair<double, double> pans[] = {{5, 0}, {-3, 4}, {0, -7}, {1, 1}, {-200, 9}, {60, -60}, {-2, -3}};
                for (const auto& [dx, dy] : pans) {
                    viewport.PanBy(dx, dy);
                    BuildShownPicture(input, viewport, whole, zoomed, picture, true);
                    check("kept after a pan of " + std::to_string(dx) + "," + std::to_string(dy));
                }
            }
}

TEST(ShownView, OneToOneShowsEveryPhotographPixelOnce)
{
    Viewport viewport;
    viewport.SetSizes(6000, 4000, 1200, 800);
    EXPECT_TRUE(viewport.Fitted());
    EXPECT_DOUBLE_EQ(viewport.FitScale(), 0.2);
    viewport.ZoomTo(1.0, 600, 400);
    const Viewport::Picture p = viewport.Layout();
    ASSERT_EQ(p.width(), 1200);
    ASSERT_EQ(p.height(), 800);
    for (int i = 1; i < p.width(); ++i)
        ASSERT_EQ(p.columns[std::size_t(i)], p.columns[std::size_t(i - 1)] + 1);
    for (int j = 1; j < p.height(); ++j)
        ASSERT_EQ(p.rows[std::size_t(j)], p.rows[std::size_t(j - 1)] + 1);
    // Zoomed on the view's centre: the photograph's centre stays there.
    EXPECT_EQ(p.columns[600], 3000);
    EXPECT_EQ(p.rows[400], 2000);

    // A 40-pixel drag moves the photograph by 40 of its pixels; the edge
    // stops it.
    viewport.PanBy(40, -40);
    EXPECT_EQ(viewport.Layout().columns[600], 2960);
    EXPECT_EQ(viewport.Layout().rows[400], 2040);
    viewport.PanBy(100000, 100000);
    EXPECT_EQ(viewport.Layout().columns.front(), 0);
    EXPECT_EQ(viewport.Layout().rows.front(), 0);
    viewport.PanBy(-100000, -100000);
    EXPECT_EQ(viewport.Layout().columns.back(), 5999);
    EXPECT_EQ(viewport.Layout().rows.back(), 3999);
}

TEST(ShownView, ZoomStepsKeepThePointUnderThePointer)
{
    struct Row {
        const char* action;
        std::function<void(Viewport&)> run;
        double scale; // 0: fitted
    };
    const Row rows[] = {
        {"in from fit", [](Viewport& v) { v.ZoomIn(100, 100); }, 0.25},
        {"in twice", [](Viewport& v) { v.ZoomIn(100, 100); v.ZoomIn(100, 100); }, 1.0 / 3},
        {"1:1 then in", [](Viewport& v) { v.ZoomTo(1, 0, 0); v.ZoomIn(10, 10); }, 1.5},
        {"1:1 then out", [](Viewport& v) { v.ZoomTo(1, 0, 0); v.ZoomOut(10, 10); }, 2.0 / 3},
        {"out past fit", [](Viewport& v) { v.ZoomIn(1, 1); v.ZoomOut(1, 1); v.ZoomOut(1, 1); }, 0},
        {"never beyond 8", [](Viewport& v) { for (int i = 0; i < 30; ++i) v.ZoomIn(5, 5); }, 8.0},
        {"fit again", [](Viewport& v) { v.ZoomTo(4, 0, 0); v.Fit(); }, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.action);
        Viewport v;
        v.SetSizes(6000, 4000, 1200, 800);
        r.run(v);
        if (r.scale == 0) {
            EXPECT_TRUE(v.Fitted());
            EXPECT_FALSE(v.CanPan());
        } else {
            EXPECT_FALSE(v.Fitted());
            EXPECT_DOUBLE_EQ(v.Scale(), r.scale);
        }
    }
    // The photograph column under the pointer stays under it.
    Viewport v;
    v.SetSizes(6000, 4000, 1200, 800);
    v.ZoomTo(1, 600, 400);
    const int under = v.Layout().columns[900];
    v.ZoomIn(900, 400);
    EXPECT_NEAR(v.Layout().columns[900], under, 1);
    // A photograph smaller than the view: 1:1 shows it at its own size,
    // centred, smaller than the fitted picture.
    Viewport small;
    small.SetSizes(300, 200, 1200, 800);
    EXPECT_DOUBLE_EQ(small.FitScale(), 4.0);
    small.ZoomTo(1, 0, 0);
    EXPECT_EQ(small.Layout().width(), 300);
    EXPECT_EQ(small.Layout().left, 450);
    EXPECT_FALSE(small.CanPan());
}
