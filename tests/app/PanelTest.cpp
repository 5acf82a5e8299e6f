// SPDX-License-Identifier: GPL-3.0-or-later
// The mask adjustment panel: choosing the hotspot, the brightness zones, the
// read-out labels, the mask offset and the quarter turns, driven through the
// window's own controls.
#include "WindowFixture.h"
#include "WorkflowTestAccess.h"

#include "CorrectionKernel.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QMouseEvent>
#include <QTest>
#include <cmath>
#include <random>
#include <vector>

Q_DECLARE_METATYPE(lumivane::Bitmap24)

using namespace lumivane;
using namespace lumivane::testing;

namespace {

// A 640 x 480 mask made of 2 x 2 blocks; block (bx, by) has the colour
// (bx mod 256, by, (bx + by) mod 256). Stretched onto the 320 x 240 panel,
// panel pixel (X, Y) therefore shows block (X, Y) whatever the sampling
// phase inside a block, so the expected colour under the mouse is known.
Colour blockColour(int bx, int by)
{
    return packColour(std::uint8_t(bx & 0xFF), std::uint8_t(by & 0xFF), std::uint8_t((bx + by) & 0xFF));
}

// The block mask as the panel shows it, one block per panel pixel.
Bitmap24 blockPanel()
{
    Bitmap24 b(320, 240);
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x)
            b.setPixel(x, y, blockColour(x, y));
    return b;
}

Bitmap24 blockMask()
{
    Bitmap24 b(640, 480);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            b.setPixel(x, y, blockColour(x / 2, y / 2));
    return b;
}

// Luminance with ties to even, computed here on its own.
int luminance(int r, int g, int b)
{
    return int(std::nearbyintl(0.3L * r + 0.59L * g + 0.11L * b));
}

QString levelText(const char* channel, int value, int picked)
{
    return QStringLiteral("%1: %2 (%3)").arg(QLatin1String(channel)).arg(value).arg(picked);
}

// The panel's picture: the zones by the rule (see the test oracles) and the
// black centre lines.
Bitmap24 expectedZones(const Bitmap24& panelMask)
{
    Bitmap24 out = panelMask;
    PaintBrightnessZonesReference(panelMask, out);
    // The black centre lines of the panel.
    for (int y = 0; y < 240; ++y)
        out.setPixel(160, y, kBlack);
    for (int x = 0; x < 320; ++x)
        out.setPixel(x, 120, kBlack);
    return out;
}

// The hotspot cross of the panel picture: 11 pixels each way around (x, y).
void drawExpectedPanelCross(Bitmap24& picture, int x, int y)
{
    for (int d = -5; d <= 5; ++d) {
        picture.setPixel(x + d, y, kBlack);
        picture.setPixel(x, y + d, kBlack);
    }
}

// The pixels the overlay's hotspot cross covers for sure (the pen is two
// pixels wide, the lines run from c - 7 to c + 6).
std::vector<std::pair<int, int>> overlayCrossPixels(int cx, int cy)
{
    std::vector<std::pair<int, int>> points;
    for (int d = -5; d <= 4; ++d) {
        points.emplace_back(cx + d, cy);
        points.emplace_back(cx, cy + d);
    }
    return points;
}

bool onOverlayCentreLines(int x, int y)
{
    return x == 144 || x == 145 || y == 107 || y == 108;
}

// Quarter turn written out from the pixel mapping: clockwise sends S(x, y)
// to D(H - 1 - y, x), counterclockwise to D(y, W - 1 - x).
Bitmap24 turned(const Bitmap24& source, bool clockwise)
{
    const int w = source.width(), h = source.height();
    Bitmap24 out(h, w);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (clockwise)
                out.setPixel(h - 1 - y, x, source.pixel(x, y));
            else
                out.setPixel(y, w - 1 - x, source.pixel(x, y));
        }
    return out;
}

Bitmap24 stretched(const Bitmap24& source, int w, int h)
{
    Bitmap24 out(w, h);
    stretchDraw(source, out);
    return out;
}

void moveMouse(TForm1& form, int x, int y)
{
    const QPointF local(x, y);
    QMouseEvent move(QEvent::MouseMove, local, form.Image2->mapToGlobal(local), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(form.Image2, &move);
}

void clickPanel(TForm1& form, int x, int y)
{
    moveMouse(form, x, y);
    QTest::mouseClick(form.Image2, Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
}

void openPanel(TForm1& form) { QTest::mouseClick(form.ImageButton4, Qt::LeftButton); }
void pressOk(TForm1& form) { QTest::mouseClick(form.Button7, Qt::LeftButton); }

// A shown main window with a 640 x 480 photograph and the block mask loaded.
struct PanelSetup {
    explicit PanelSetup(int photoW = 640, int photoH = 480, const Bitmap24& maskImage = blockMask())
        : maskBitmap(maskImage)
    {
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(photoW, photoH));
        const QString maskFile = f.writeBmp("mask.bmp", maskBitmap);
        f.start();
        form().show();
        exposed = QTest::qWaitForWindowExposed(&form());
        f.open({photo});
        f.loadMask(maskFile);
        form().strength->setValue(60); // so the preview shows the hotspot levels at work
    }
    TForm1& form() { return f.form(); }

    WindowFixture f;
    Bitmap24 maskBitmap;
    bool exposed = false;
};

} // namespace

class PanelTest : public QObject {
    Q_OBJECT

private slots:
    void clickAndOk_AdoptsPickedLevelsAndDrawsOverlayCross()
    {
        PanelSetup s;
        QVERIFY(s.exposed);
        TForm1& form = s.form();
        openPanel(form);
        QVERIFY(form.Panel4->isVisible());
        QVERIFY(form.flow().panel().PanelMask == blockPanel());
        const Bitmap24 clean = form.Image2->bitmap();
        clickPanel(form, 200, 100);

        // The panel picture gets the black cross at the click, nothing else.
        Bitmap24 withCross = clean;
        drawExpectedPanelCross(withCross, 200, 100);
        QVERIFY(form.Image2->bitmap() == withCross);
        QCOMPARE(form.Image2->shownImage().pixelColor(196, 100), QColor(Qt::black)); // repainted
        QCOMPARE(form.flow().panel().PickedR, std::uint8_t(200));
        QCOMPARE(form.flow().panel().PickedG, std::uint8_t(100));
        QCOMPARE(form.flow().panel().PickedB, std::uint8_t(44));

        pressOk(form);
        QVERIFY(form.Panel4->isHidden());
        QVERIFY(form.flow().panel().PanelMask.empty());
        QCOMPARE(form.flow().mask().HotspotX, 200);
        QCOMPARE(form.flow().mask().HotspotY, 100);
        QCOMPARE(form.flow().mask().MarkerX, 200);
        QCOMPARE(form.flow().mask().MarkerY, 100);
        // The levels are the colour of the panel picture at (200, 100).
        const Colour under = blockColour(200, 100);
        QCOMPARE(form.flow().mask().HotspotR, int(redOf(under)));
        QCOMPARE(form.flow().mask().HotspotG, int(greenOf(under)));
        QCOMPARE(form.flow().mask().HotspotB, int(blueOf(under)));
        // Overlay: the cross centred at (0.9 x 200, 0.9 x 100) = (180, 90).
        const Bitmap24& overlay = form.Image4->bitmap();
        for (const auto& [x, y] : overlayCrossPixels(180, 90))
            QCOMPARE(overlay.pixel(x, y), kPureBlue);
        QCOMPARE(overlay.pixel(170, 90), kWhite);
        QCOMPARE(overlay.pixel(180, 80), kWhite);
        QCOMPARE(overlay.pixel(189, 90), kWhite);
        QCOMPARE(overlay.pixel(145, 40), kPureBlue); // centre lines stay
        QCOMPARE(overlay.pixel(40, 108), kPureBlue);
        QCOMPARE(form.Image4->shownImage().pixelColor(176, 90), QColor(0, 0, 255));
        // The preview was recomputed with the new levels.
        QVERIFY(form.img_right->bitmap() == expectedPreview(form));
    }

    void secondClick_ErasesTheFirstCross()
    {
        PanelSetup s;
        TForm1& form = s.form();
        openPanel(form);
        const Bitmap24 clean = form.Image2->bitmap();
        clickPanel(form, 200, 100);
        clickPanel(form, 90, 50);
        Bitmap24 expected = clean;
        drawExpectedPanelCross(expected, 90, 50);
        QVERIFY(form.Image2->bitmap() == expected);
        pressOk(form);
        QCOMPARE(form.flow().mask().HotspotX, 90);
        QCOMPARE(form.flow().mask().HotspotR, int(redOf(blockColour(90, 50))));
    }

    void hotspotOnACentreLine_SetsLevelsButDrawsNoCross_data()
    {
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("y");
        QTest::newRow("x = 160") << 160 << 100;
        QTest::newRow("y = 120") << 200 << 120;
    }
    void hotspotOnACentreLine_SetsLevelsButDrawsNoCross()
    {
        QFETCH(int, x);
        QFETCH(int, y);
        PanelSetup s;
        TForm1& form = s.form();
        openPanel(form);
        const Bitmap24 firstPicture = form.Image2->bitmap();
        clickPanel(form, x, y);
        pressOk(form);
        QCOMPARE(form.flow().mask().HotspotX, x);
        QCOMPARE(form.flow().mask().HotspotY, y);
        QCOMPARE(form.flow().mask().HotspotR, int(redOf(blockColour(x, y))));
        QCOMPARE(form.flow().mask().HotspotG, int(greenOf(blockColour(x, y))));
        QCOMPARE(form.flow().mask().HotspotB, int(blueOf(blockColour(x, y))));
        // No cross on the overlay.
        const int cx = int(std::nearbyint(0.9 * x)), cy = int(std::nearbyint(0.9 * y));
        const Bitmap24& overlay = form.Image4->bitmap();
        for (const auto& [px, py] : overlayCrossPixels(cx, cy))
            if (!onOverlayCentreLines(px, py))
                QCOMPARE(overlay.pixel(px, py), kWhite);
        // Nor on the panel picture when it opens again.
        openPanel(form);
        QVERIFY(form.Image2->bitmap() == firstPicture);
        pressOk(form);
    }

    void openAndCloseWithoutClick_KeepsTheLevels()
    {
        PanelSetup s;
        TForm1& form = s.form();
        const int r = form.flow().mask().HotspotR, g = form.flow().mask().HotspotG, b = form.flow().mask().HotspotB;
        QVERIFY(r + g + b > 0);
        openPanel(form);
        moveMouse(form, 10, 20); // moving shows other colours but picks nothing
        QCOMPARE(form.Label8->text(), levelText("R", 10, r));
        pressOk(form);
        QCOMPARE(form.flow().mask().HotspotR, r);
        QCOMPARE(form.flow().mask().HotspotG, g);
        QCOMPARE(form.flow().mask().HotspotB, b);
        QVERIFY(!form.flow().mask().HotspotPicked);
        QCOMPARE(form.flow().mask().HotspotX, kNoHotspotX);
        QCOMPARE(form.flow().mask().HotspotY, kNoHotspotY);
    }

    // "Smooth mask" clicked while the panel is open would reload the mask
    // under it: refused, the cover stays over the mask buttons and OK
    // keeps the hotspot picked.
    void smoothMaskClickedWhilePanelOpen_IsRefusedAndOkKeepsTheHotspot()
    {
        PanelSetup s;
        TForm1& form = s.form();
        openPanel(form);
        clickPanel(form, 200, 100);
        const Colour under = blockColour(200, 100);
        QVERIFY(form.SmoothMaskBox->isEnabled());
        form.SmoothMaskBox->click();
        QVERIFY(!form.SmoothMaskBox->isChecked());
        QVERIFY(!form.flow().maskSettings().smooth);
        QCOMPARE(form.status->text(), QStringLiteral(" Close the hotspot panel with OK before changing \"Smooth mask\"."));
        QVERIFY(form.Panel6->isVisible());
        QCOMPARE(form.GroupBox6->childAt(form.ImageButton4->geometry().center()), static_cast<QWidget*>(form.Panel6));
        QVERIFY(form.flow().mask().MaskImage == s.maskBitmap);
        QVERIFY(s.f.services.errors.isEmpty());
        pressOk(form);
        QCOMPARE(form.flow().mask().HotspotX, 200);
        QCOMPARE(form.flow().mask().HotspotY, 100);
        QCOMPARE(form.flow().mask().HotspotR, int(redOf(under)));
        QCOMPARE(form.flow().mask().HotspotB, int(blueOf(under)));
        // Once closed, the box works.
        form.SmoothMaskBox->click();
        QVERIFY(form.flow().maskSettings().smooth);
    }

    void openingShowsLevelsAngleAndLocksTheWorkflowButtons()
    {
        PanelSetup s;
        TForm1& form = s.form();
        lumivane::WorkflowTestAccess::SetHotspotLevels(form.flow(), 195, 100, 30);
        // The caption is painted before the long zone passes start.
        bool captionFirst = false;
        s.f.services.onProcessEvents = [&] {
            captionFirst = captionFirst || (form.Panel6->isVisible() &&
                                            form.Panel6->text() == QStringLiteral("Select Hotspot") &&
                                            form.Panel4->isHidden());
        };
        openPanel(form);
        QVERIFY(captionFirst);
        QCOMPARE(form.Label8->text(), QStringLiteral("R: 195 (195)"));
        QCOMPARE(form.Label9->text(), QStringLiteral("G: 100 (100)"));
        QCOMPARE(form.Label11->text(), QStringLiteral("B: 30 (30)"));
        QCOMPARE(form.Label12->text(), QStringLiteral("L: 121 (121)")); // 58.5 + 59 + 3.3
        QCOMPARE(form.Label13->text(), QStringLiteral("Angle: 0\u00B0"));
        QCOMPARE(form.flow().panel().PickedR, std::uint8_t(195));
        QCOMPARE(form.flow().panel().PickedB, std::uint8_t(30));
        QVERIFY(!form.Button1->isEnabled());
        QVERIFY(!form.Button3->isEnabled());
        QVERIFY(!form.Button2->isEnabled());
        QVERIFY(form.Panel6->isVisible());
        QCOMPARE(form.Panel6->text(), QStringLiteral("Select Hotspot"));
        QCOMPARE(form.Panel6->palette().color(QPalette::WindowText), QColor(Qt::black));
        QVERIFY(!form.BitBtn3->isEnabled()); // no default mask
        // The strip lies over the three mask buttons, so neither a second
        // opening nor a turn can start.
        for (QWidget* button : {form.ImageButton4, form.ImageButton5, form.ImageButton6})
            QCOMPARE(form.GroupBox6->childAt(button->geometry().center()), static_cast<QWidget*>(form.Panel6));
        pressOk(form);
        QVERIFY(form.Button1->isEnabled());
        QVERIFY(form.Button3->isEnabled());
        QVERIFY(form.Button2->isEnabled());
        QVERIFY(form.Panel6->isHidden());
    }

    void mouseMove_ShowsColourUnderPointerBesidePickedLevels_data()
    {
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("y");
        QTest::newRow("top left") << 0 << 0;
        QTest::newRow("bottom right") << 319 << 239;
        QTest::newRow("inside") << 57 << 201;
        QTest::newRow("wrapping red") << 300 << 30;
    }
    void mouseMove_ShowsColourUnderPointerBesidePickedLevels()
    {
        QFETCH(int, x);
        QFETCH(int, y);
        PanelSetup s;
        TForm1& form = s.form();
        openPanel(form);
        clickPanel(form, 40, 30); // picked colour differs from the hotspot levels now
        const Colour picked = blockColour(40, 30);
        moveMouse(form, x, y);
        QCOMPARE(form.flow().panel().MouseX, x);
        QCOMPARE(form.flow().panel().MouseY, y);
        const Colour c = blockColour(x, y);
        QCOMPARE(form.Label8->text(), levelText("R", redOf(c), redOf(picked)));
        QCOMPARE(form.Label9->text(), levelText("G", greenOf(c), greenOf(picked)));
        QCOMPARE(form.Label11->text(), levelText("B", blueOf(c), blueOf(picked)));
        QCOMPARE(form.Label12->text(),
                 levelText("L", luminance(redOf(c), greenOf(c), blueOf(c)),
                           luminance(redOf(picked), greenOf(picked), blueOf(picked))));
    }

    void mouseMove_WhilePanelClosed_ChangesNothing()
    {
        PanelSetup s;
        TForm1& form = s.form();
        openPanel(form);
        pressOk(form);
        const QString before = form.Label8->text();
        moveMouse(form, 300, 30);
        QCOMPARE(form.Label8->text(), before);
        QCOMPARE(form.flow().panel().MouseX, 0);
    }

    void brightnessZones_MatchTheRule_data()
    {
        QTest::addColumn<Bitmap24>("maskImage");
        QTest::newRow("vignette") << vignetteMask(320, 240);
        QTest::newRow("blue darker than 15") << vignetteMask(320, 240, 200, 190, 10);
        QTest::newRow("green darker than 15") << vignetteMask(320, 240, 180, 12, 200);
        QTest::newRow("uniform bright") << solid(320, 240, packColour(100, 100, 100));
        QTest::newRow("uniform dark") << solid(320, 240, packColour(3, 3, 3));
        Bitmap24 ramp(320, 240);
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 320; ++x)
                ramp.setPixel(x, y, packColour(std::uint8_t(255 - x * 255 / 319), std::uint8_t(y), std::uint8_t(x * 255 / 319)));
        QTest::newRow("red and blue ramps") << ramp;
        Bitmap24 noise(320, 240);
        std::mt19937 random(7);
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 320; ++x)
                noise.setPixel(x, y, Colour(random() & 0xFFFFFF));
        QTest::newRow("noise") << noise;
    }
    void brightnessZones_MatchTheRule()
    {
        QFETCH(Bitmap24, maskImage);
        PanelSetup s(320, 240, maskImage);
        TForm1& form = s.form();
        openPanel(form);
        QVERIFY(form.flow().panel().PanelMask == maskImage); // same size: a plain copy
        const Bitmap24 expected = expectedZones(maskImage);
        const Bitmap24& shown = form.Image2->bitmap();
        QCOMPARE(shown.width(), 320);
        QCOMPARE(shown.height(), 240);
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 320; ++x)
                if (shown.pixel(x, y) != expected.pixel(x, y))
                    QFAIL(qPrintable(QStringLiteral("pixel (%1, %2): %3, expected %4")
                                         .arg(x)
                                         .arg(y)
                                         .arg(shown.pixel(x, y), 6, 16, QLatin1Char('0'))
                                         .arg(expected.pixel(x, y), 6, 16, QLatin1Char('0'))));
        QVERIFY(form.flow().panel().PanelSnapshot == expected);
        pressOk(form);
    }

    void quarterTurns_MoveTheMarkerAndTurnTheMask_data()
    {
        QTest::addColumn<bool>("clockwise");
        QTest::addColumn<QList<int>>("angles");
        QTest::addColumn<QList<QPoint>>("markers");
        QTest::newRow("clockwise") << true << QList<int>{90, 180, 270, 0}
                                   << QList<QPoint>{{187, 150}, {120, 140}, {133, 90}, {200, 100}};
        QTest::newRow("counterclockwise") << false << QList<int>{-90, -180, -270, 0}
                                          << QList<QPoint>{{133, 90}, {120, 140}, {187, 150}, {200, 100}};
    }
    void quarterTurns_MoveTheMarkerAndTurnTheMask()
    {
        QFETCH(bool, clockwise);
        QFETCH(QList<int>, angles);
        QFETCH(QList<QPoint>, markers);
        PanelSetup s;
        TForm1& form = s.form();
        openPanel(form);
        clickPanel(form, 200, 100);
        pressOk(form);
        const int levelR = form.flow().mask().HotspotR;
        bool rotatingShown = false;
        s.f.services.onProcessEvents = [&] {
            rotatingShown = rotatingShown ||
                            (form.Panel6->isVisible() && form.Panel6->text() == QStringLiteral("Rotating..."));
        };
        for (int turn = 0; turn < 4; ++turn) {
            const Bitmap24 before = form.flow().mask().MaskImage;
            const int w = form.flow().mask().MaskWidth, h = form.flow().mask().MaskHeight;
            rotatingShown = false;
            QTest::mouseClick(clockwise ? form.ImageButton6 : form.ImageButton5, Qt::LeftButton);
            QVERIFY(rotatingShown);
            QVERIFY(form.Panel6->isHidden());
            QCOMPARE(form.flow().mask().MaskAngle, angles[turn]);
            QCOMPARE(form.Image3->toolTip(),
                     QStringLiteral(" Rotation Angle: %1\u00B0 ").arg(angles[turn]));
            QCOMPARE(QPoint(form.flow().mask().MarkerX, form.flow().mask().MarkerY), markers[turn]);
            QCOMPARE(form.flow().mask().HotspotX, 200); // only the marker follows
            QCOMPARE(form.flow().mask().HotspotY, 100);
            QCOMPARE(form.flow().mask().HotspotR, levelR);
            QCOMPARE(form.flow().mask().MaskWidth, h);
            QCOMPARE(form.flow().mask().MaskHeight, w);
            const bool upright = turn % 2 == 1;
            QCOMPARE(form.GroupBox6->title(), upright ? QStringLiteral(" Mask [1:1.33] ")
                                                      : QStringLiteral(" Mask [1:0.75] "));
            QCOMPARE(form.GroupBox6->palette().color(QPalette::WindowText),
                     upright ? QColor(0, 0, 0) : QColor(255, 0, 0));
            QVERIFY(form.flow().mask().MaskImage == turned(before, clockwise));
            QVERIFY(form.flow().MaskFull() == stretched(form.flow().mask().MaskImage, 640, 480));
            // The thumbnail holds only its own 66 x 49 picture of the fitted mask.
            QVERIFY(form.Image3->bitmap() == stretched(form.flow().MaskFull(), 66, 49));
            QVERIFY(form.flow().mask().MaskPreview == stretched(form.flow().mask().MaskImage, 289, 216));
            const int cx = int(std::nearbyint(0.9 * markers[turn].x()));
            const int cy = int(std::nearbyint(0.9 * markers[turn].y()));
            for (const auto& [x, y] : overlayCrossPixels(cx, cy))
                QCOMPARE(form.Image4->bitmap().pixel(x, y), kPureBlue);
            QVERIFY(form.img_right->bitmap() == expectedPreview(form));
        }
        QVERIFY(form.flow().mask().MaskImage == s.maskBitmap);
        // The panel shows the turned mask and the angle.
        form.rot2Click();
        openPanel(form);
        QCOMPARE(form.Label13->text(), QStringLiteral("Angle: 90\u00B0"));
        QVERIFY(form.flow().panel().PanelMask == stretched(turned(s.maskBitmap, true), 320, 240));
        pressOk(form);
    }

    void upDownArrows_MoveOverlayAndThumbnail_data()
    {
        QTest::addColumn<bool>("horizontal");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("overlayOffset");
        QTest::addColumn<int>("thumbnailOffset");
        QTest::newRow("right end") << true << 300 << 150 << 34;
        QTest::newRow("left end") << true << 0 << -150 << -34;
        QTest::newRow("right 68 (divides by 4.37)") << true << 218 << 68 << 16;
        QTest::newRow("right 3") << true << 153 << 3 << 1;
        QTest::newRow("top end") << false << 300 << -150 << -34;
        QTest::newRow("bottom end") << false << 0 << 150 << 34;
        QTest::newRow("down 68 (divides by 4.41)") << false << 82 << 68 << 15;
        QTest::newRow("down 2") << false << 148 << 2 << 0;
    }
    void upDownArrows_MoveOverlayAndThumbnail()
    {
        QFETCH(bool, horizontal);
        QFETCH(int, position);
        QFETCH(int, overlayOffset);
        QFETCH(int, thumbnailOffset);
        PanelSetup s;
        TForm1& form = s.form();
        TUpDown* arrows = horizontal ? form.UpDown2 : form.UpDown1;
        // Step onto the position with one arrow click, as a user would.
        const bool up = position > 150;
        arrows->setPosition(up ? position - 1 : position + 1);
        QTest::mouseClick(up ? arrows->raiseButton() : arrows->lowerButton(), Qt::LeftButton);
        QCOMPARE(arrows->Position(), position);
        if (horizontal) {
            QCOMPARE(form.Image4Left(), overlayOffset);
            QCOMPARE(form.Image4Top(), 0);
            QCOMPARE(form.Image3Left(), thumbnailOffset);
            QCOMPARE(form.Image3Top(), 1);
            QCOMPARE(form.Image4->pos(), QPoint(2 + overlayOffset, 2));
            QCOMPARE(form.Image3->pos(), QPoint(thumbnailOffset, 1));
        } else {
            QCOMPARE(form.Image4Top(), overlayOffset);
            QCOMPARE(form.Image4Left(), 0);
            QCOMPARE(form.Image3Top(), thumbnailOffset);
            QCOMPARE(form.Image3Left(), 1);
            QCOMPARE(form.Image4->pos(), QPoint(2, 2 + overlayOffset));
            QCOMPARE(form.Image3->pos(), QPoint(1, thumbnailOffset));
        }
        QVERIFY(form.img_right->bitmap() == expectedPreview(form));
    }

    void centreButton_PutsMaskBackWithoutRunningTheArrows()
    {
        PanelSetup s;
        TForm1& form = s.form();
        const Bitmap24 centred = form.img_right->bitmap();
        for (int i = 0; i < 7; ++i)
            QTest::mouseClick(form.UpDown2->raiseButton(), Qt::LeftButton);
        for (int i = 0; i < 9; ++i)
            QTest::mouseClick(form.UpDown1->lowerButton(), Qt::LeftButton);
        QCOMPARE(form.Image4Left(), 7);
        QCOMPARE(form.Image4Top(), 9);
        QVERIFY(!(form.img_right->bitmap() == centred));
        QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
        QCOMPARE(form.UpDown1->Position(), 150);
        QCOMPARE(form.UpDown2->Position(), 150);
        QCOMPARE(form.Image4Left(), 0);
        QCOMPARE(form.Image4Top(), 0);
        QCOMPARE(form.Image4->pos(), QPoint(2, 2));
        // The arrows' handlers would have put the thumbnail at 0, not 1.
        QCOMPARE(form.Image3Left(), 1);
        QCOMPARE(form.Image3Top(), 1);
        QCOMPARE(form.Image3->pos(), QPoint(1, 1));
        QVERIFY(form.img_right->bitmap() == centred);
    }

    void enterKey_PressesOkOnlyWhileThePanelIsShown_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("Return") << int(Qt::Key_Return);
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter);
    }
    void enterKey_PressesOkOnlyWhileThePanelIsShown()
    {
        QFETCH(int, key);
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(64, 48));
        const QString maskFile = f.writeBmp("mask.bmp", vignetteMask(64, 48));
        TForm1& form = f.start();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        f.open({photo});
        // No mask yet: Save stays disabled, so a stray OK would show.
        QTest::keyClick(&form, Qt::Key(key));
        QTest::qWait(20);
        QVERIFY(!form.Button2->isEnabled());
        f.loadMask(maskFile);
        openPanel(form);
        QVERIFY(form.Panel4->isVisible());
        QTest::keyClick(&form, Qt::Key(key));
        QTRY_VERIFY(form.Panel4->isHidden());
        QVERIFY(form.Button2->isEnabled());
        QVERIFY(form.Panel6->isHidden());
    }

    // With another push button of the panel holding the focus, Enter does
    // not press "OK".
    void enterKey_WithAnotherButtonFocused_LeavesThePanelOpen()
    {
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(64, 48));
        const QString maskFile = f.writeBmp("mask.bmp", vignetteMask(64, 48));
        TForm1& form = f.start();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.activateWindow();
        f.open({photo});
        f.loadMask(maskFile);
        openPanel(form);
        form.Button4->setFocus();
        QTRY_VERIFY(form.Button4->hasFocus());
        QTest::keyClick(&form, Qt::Key_Return);
        QTest::qWait(20);
        QVERIFY(form.Panel4->isVisible());
        QVERIFY(!form.Button2->isEnabled());
        // Once "OK" itself has the focus, Enter presses it.
        form.Button7->setFocus();
        QTRY_VERIFY(form.Button7->hasFocus());
        QTest::keyClick(&form, Qt::Key_Return);
        QTRY_VERIFY(form.Panel4->isHidden());
        QVERIFY(form.Button2->isEnabled());
    }

    void storedHotspot_IsDrawnWhenThePanelFirstOpens()
    {
        WindowFixture f;
        const QString defaultMask = f.programDir() + QStringLiteral("/default_mask.bmp");
        WriteBmpFile(blockMask(), defaultMask.toStdString());
        {
            QFile ini(f.programDir() + QStringLiteral("/defaults.ini"));
            QVERIFY(ini.open(QIODevice::WriteOnly));
            ini.write(QStringLiteral("25\r\n0\r\n90\r\n%1\r\n120\r\n130\r\n140\r\n200\r\n100\r\n")
                          .arg(defaultMask)
                          .toLocal8Bit());
        }
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(640, 480));
        TForm1& form = f.start();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(form.flow().mask().StoredHotspotPending);
        f.open({photo}); // loads the default mask with the stored hotspot
        QVERIFY(form.flow().mask().MaskLoaded);
        QCOMPARE(form.flow().mask().HotspotR, 120);
        for (const auto& [x, y] : overlayCrossPixels(180, 90))
            QCOMPARE(form.Image4->bitmap().pixel(x, y), kPureBlue);

        openPanel(form);
        QVERIFY(form.BitBtn3->isEnabled()); // a default mask is set
        QVERIFY(!form.flow().mask().StoredHotspotPending);
        QVERIFY(form.flow().mask().HotspotPicked);
        QCOMPARE(form.Label8->text(), QStringLiteral("R: 120 (120)"));
        const Bitmap24 clean = expectedZones(blockPanel());
        QVERIFY(form.flow().panel().PanelSnapshot == clean);
        Bitmap24 withCross = clean;
        drawExpectedPanelCross(withCross, 200, 100);
        QVERIFY(form.Image2->bitmap() == withCross);
        pressOk(form);
        // OK without a click keeps the stored levels.
        QCOMPARE(form.flow().mask().HotspotR, 120);
        QCOMPARE(form.flow().mask().HotspotG, 130);
        QCOMPARE(form.flow().mask().HotspotB, 140);

        // Reopened: the cross is drawn again; a click moves it.
        openPanel(form);
        QVERIFY(form.Image2->bitmap() == withCross);
        clickPanel(form, 100, 60);
        Bitmap24 moved = clean;
        drawExpectedPanelCross(moved, 100, 60);
        QVERIFY(form.Image2->bitmap() == moved);

        // Free default mask: the button is disabled from now on.
        QTest::mouseClick(form.BitBtn3, Qt::LeftButton);
        QCOMPARE(QString::fromStdString(form.flow().settings().DefaultMask), QStringLiteral("none"));
        pressOk(form);
        openPanel(form);
        QVERIFY(!form.BitBtn3->isEnabled());
        pressOk(form);
    }
};

QTEST_MAIN(PanelTest)
#include "PanelTest.moc"
