// SPDX-License-Identifier: GPL-3.0-or-later
// The before/after window: opened by a click on the processed preview, fed
// with what the save uses, following every change, its divider dragged, and
// closed with Esc.
#include "WindowFixture.h"

#include "BeforeAfterForm.h"
#include "CameraExif.h"
#include "ReducedView.h"

#include <QLabel>
#include <QTest>

using namespace lumivane;
using namespace lumivane::testing;

namespace {

// The view the window must show, built here from the main window's state
// the way the save reads it.
ReducedView expectedView(TForm1& form, const TBeforeAfterForm& window)
{
    BeforeAfterInput input;
    input.photo = &form.flow().PhotoFull();
    input.maskFull = &form.flow().MaskFull();
    const int w = form.flow().PhotoFull().width(), h = form.flow().PhotoFull().height();
    input.region = FullSizeRegion(form.Image4Left(), form.Image4Top(), w, h);
    input.damping = DampingForStrength(form.strength->value());
    input.targets = TargetsFor(form.flow().mask().HotspotR, form.flow().mask().HotspotG, form.flow().mask().HotspotB, form.brightness->value());
    input.crop = CropMargins{int(ParseCropField(form.left->text().toStdString())),
                             int(ParseCropField(form.top->text().toStdString())),
                             int(ParseCropField(form.right->text().toStdString())),
                             int(ParseCropField(form.bottom->text().toStdString()))};
    ReducedView view;
    BuildReducedView(input, window.view().before.width(), window.view().before.height(), view);
    return view;
}

// A view pixel where the correction changes the picture clearly.
QPoint changedPixel(const ReducedView& view)
{
    // Away from the captions along the top edge.
    for (int j = view.before.height() / 3; j < view.before.height(); j += 3)
        for (int i = view.before.width() / 4; i < view.before.width() * 3 / 4; i += 3) {
            const Colour a = view.before.pixel(i, j), b = view.after.pixel(i, j);
            if (std::abs(int(greenOf(a)) - int(greenOf(b))) > 20)
                return QPoint(i, j);
        }
    return QPoint(-1, -1);
}

QColor colourOf(Colour c)
{
    return QColor(redOf(c), greenOf(c), blueOf(c));
}

// Four quarters of clearly different colours: red top left, green top
// right, blue bottom left, white bottom right (as stored).
Bitmap24 quarters(int w, int h)
{
    Bitmap24 b(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool right = x >= w / 2, bottom = y >= h / 2;
            b.setPixel(x, y, !bottom ? (right ? packColour(30, 200, 30) : packColour(200, 30, 30))
                                     : (right ? packColour(220, 220, 220) : packColour(30, 30, 200)));
        }
    return b;
}

// The colour a pixel is nearest to, by name.
const char* quarterOf(Colour c)
{
    const int r = redOf(c), g = greenOf(c), b = blueOf(c);
    if (r > 150 && g > 150 && b > 150)
        return "white";
    if (r > g && r > b)
        return "red";
    if (g > r && g > b)
        return "green";
    return "blue";
}

// The photograph corrected at full size as the save corrects it.
Bitmap24 savedPixels(TForm1& form)
{
    Bitmap24 corrected = form.flow().PhotoFull();
    const int w = corrected.width(), h = corrected.height();
    ApplyCorrectionReference(corrected, form.flow().MaskFull(), FullSizeRegion(form.Image4Left(), form.Image4Top(), w, h),
                             DampingForStrength(form.strength->value()),
                             TargetsFor(form.flow().mask().HotspotR, form.flow().mask().HotspotG,
                                        form.flow().mask().HotspotB, form.brightness->value()));
    return corrected;
}

void sendWheel(QWidget* w, const QPointF& at, int delta)
{
    QWheelEvent wheel(at, w->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &wheel);
}

// Press, move and release on whole pixels, so the pointer travels exactly
// `to` - `from` (rounded alike) whatever fractions the positions carry.
void sendDrag(QWidget* w, const QPointF& from, const QPointF& to)
{
    const QPoint a = from.toPoint(), b = a + (to - from).toPoint();
    QTest::mousePress(w, Qt::LeftButton, {}, a);
    QMouseEvent move(QEvent::MouseMove, QPointF(b), w->mapToGlobal(QPointF(b)), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(w, &move);
    QTest::mouseRelease(w, Qt::LeftButton, {}, b);
}

} // namespace

class BeforeAfterFormTest : public QObject {
    Q_OBJECT

private:
    // The main window with a photograph and a mask, shown, boost at 60.
    TForm1& startShown(WindowFixture& f)
    {
        const QString photo = f.writeJpeg("photo.jpg", gradientPhoto(640, 480));
        const QString mask = f.writeBmp("mask.bmp", vignetteMask(640, 480));
        TForm1& form = f.startWithMask(photo, mask);
        form.show();
        form.strength->setValue(60);
        return form;
    }

private slots:
    void clickOnProcessedPreview_OpensTheView()
    {
        WindowFixture f;
        TForm1& form = startShown(f);
        QCOMPARE(form.img_right->cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(form.img_right->toolTip().contains(QStringLiteral("Click")));
        QVERIFY(!form.BeforeAfter);

        QTest::mouseClick(form.img_right, Qt::LeftButton, {}, QPoint(100, 100));
        QVERIFY(form.BeforeAfter);
        TBeforeAfterForm& window = *form.BeforeAfter;
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowTitle(), QStringLiteral("Before / after"));
        QCOMPARE(window.windowModality(), Qt::NonModal);
        QVERIFY(form.isEnabled());

        // Fitted to the picture area from the full-size photograph, not
        // stretched from the 289 x 216 preview.
        const ReducedView& view = window.view();
        const QSize room = window.picture()->devicePixelSize();
        QVERIFY(view.before.width() == room.width() || view.before.height() == room.height());
        QVERIFY(view.before.width() <= room.width() && view.before.height() <= room.height());
        QVERIFY(view.hasMask);
        const ReducedView expected = expectedView(form, window);
        QVERIFY(view.after == expected.after);
        QVERIFY(view.before == expected.before);
        QVERIFY(window.cornersLabel()->text().startsWith(QStringLiteral("corners: ")));
        QVERIFY(window.cornersLabel()->text().contains(QStringLiteral(" EV after, mask ")));

        // A second click brings the same window to the front; one closed
        // comes back where it was, at its size.
        window.resize(700, 520);
        window.move(40, 30);
        const QRect where = window.geometry();
        QTest::mouseClick(form.img_right, Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(form.BeforeAfter, &window);
        window.close();
        QVERIFY(!window.isVisible());
        QTest::mouseClick(form.img_right, Qt::LeftButton, {}, QPoint(10, 10));
        QVERIFY(window.isVisible());
        QCOMPARE(window.geometry(), where);
    }

    void view_FollowsEveryChange()
    {
        WindowFixture f;
        TForm1& form = startShown(f);
        form.img_rightClick();
        TBeforeAfterForm& window = *form.BeforeAfter;
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const Bitmap24 at60 = window.view().after;
        const QString corners60 = window.cornersLabel()->text();

        form.strength->setValue(100);
        QVERIFY(!(window.view().after == at60));
        QVERIFY(window.view().after == expectedView(form, window).after);
        QVERIFY(window.cornersLabel()->text() != corners60);

        form.brightness->setValue(35);
        QVERIFY(window.view().after == expectedView(form, window).after);

        form.left->setText(QStringLiteral("64"));
        form.bottom->setText(QStringLiteral("48"));
        QCOMPARE(window.view().frame.left, 64);
        QCOMPARE(window.view().frame.bottom, 480 - 48);

        form.UpDown2->raiseButton()->click(); // mask one preview pixel to the right
        QCOMPARE(form.Image4Left(), 1);
        QVERIFY(window.view().after == expectedView(form, window).after);

        form.rot2Click(); // a quarter turn of the mask
        QVERIFY(window.view().after == expectedView(form, window).after);

        // A pasted crop that is not a number: the picture stays, no frame.
        form.top->setText(QStringLiteral("x"));
        QVERIFY(!window.view().hasFrame);
        QVERIFY(!window.view().empty());
        QVERIFY(window.cornersLabel()->text().contains(QStringLiteral("crop")));
        form.top->setText(QString());

        // Another photograph.
        f.open({f.writeJpeg("second.jpg", gradientPhoto(320, 400, 9))});
        QCOMPARE(window.view().fullWidth, 320);
        QCOMPARE(window.view().fullHeight, 400);
        QVERIFY(window.view().after == expectedView(form, window).after);
    }

    void view_WithoutMaskShowsThePhotographAlone()
    {
        WindowFixture f;
        TForm1& form = f.start();
        form.show();
        form.img_rightClick();
        QVERIFY(form.BeforeAfter->view().empty());
        QCOMPARE(form.BeforeAfter->cornersLabel()->text(), QStringLiteral("No photograph is open."));
        f.open({f.writeJpeg("photo.jpg", gradientPhoto(200, 150))});
        const ReducedView& view = form.BeforeAfter->view();
        QVERIFY(!view.empty());
        QVERIFY(!view.hasMask);
        QVERIFY(view.after == view.before);
        QVERIFY(form.BeforeAfter->cornersLabel()->text().endsWith(QStringLiteral("(no mask loaded)")));
    }

    void divider_FollowsTheDrag()
    {
        WindowFixture f;
        TForm1& form = startShown(f);
        form.img_rightClick();
        TBeforeAfterForm& window = *form.BeforeAfter;
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        BeforeAfterPicture* picture = window.picture();
        const QRectF r = picture->pictureRect();
        QCOMPARE(picture->divider(), 0.5);

        QTest::mousePress(picture, Qt::LeftButton, {}, QPointF(r.left() + 0.25 * r.width(), r.center().y()).toPoint());
        QVERIFY(std::abs(picture->divider() - 0.25) < 0.01);
        QMouseEvent move(QEvent::MouseMove, QPointF(r.left() + 0.8 * r.width(), r.center().y()),
                         picture->mapToGlobal(QPointF(r.left() + 0.8 * r.width(), r.center().y())), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(picture, &move);
        QTest::mouseRelease(picture, Qt::LeftButton, {}, QPointF(r.left() + 0.8 * r.width(), r.center().y()).toPoint());
        QVERIFY(std::abs(picture->divider() - 0.8) < 0.01);
        QTest::mousePress(picture, Qt::LeftButton, {}, QPoint(0, 5)); // beyond the picture's edge
        QCOMPARE(picture->divider(), 0.0);

        // Left of the divider the unprocessed photograph is painted, right
        // of it the processed one.
        const ReducedView& view = window.view();
        const QPoint p = changedPixel(view);
        QVERIFY(p.x() >= 0);
        const QRectF now = picture->pictureRect();
        const qreal dpr = picture->devicePixelRatioF();
        const QPoint at = (now.topLeft() * dpr).toPoint() + p;
        picture->setDivider(1.0);
        QCOMPARE(picture->grab().toImage().pixelColor(at), colourOf(view.before.pixel(p.x(), p.y())));
        picture->setDivider(0.0);
        QCOMPARE(picture->grab().toImage().pixelColor(at), colourOf(view.after.pixel(p.x(), p.y())));
    }

    void orientationSix_ShowsThePhotographUpright()
    {
        // Stored landscape, 160 x 120, taken with the camera turned
        // clockwise: upright it is 120 x 160, the stored bottom left on top.
        WindowFixture f;
        const QString file = f.path(QStringLiteral("upright.jpg"));
        lumivane::testing::CameraExif exif;
        exif.orientation = 6;
        lumivane::testing::WriteCameraJpeg(file.toStdString(), quarters(160, 120), exif);
        TForm1& form = f.start();
        f.open({file});
        f.loadMask(f.writeBmp(QStringLiteral("mask.bmp"), vignetteMask(160, 120)));
        form.show();
        QTest::keyClick(form.Button5, Qt::Key_F4); // opened from the keyboard
        QVERIFY(form.BeforeAfter);
        TBeforeAfterForm& window = *form.BeforeAfter;
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const ShownPicture& shown = window.shown();
        const int w = shown.before.width(), h = shown.before.height();
        QVERIFY(h > w);
        QVERIFY(std::abs(double(w) / h - 120.0 / 160.0) < 0.02); // the aspect kept
        const struct {
            double x, y;
            const char* colour;
        } spots[] = {{0.25, 0.25, "blue"}, {0.75, 0.25, "red"}, {0.25, 0.75, "white"}, {0.75, 0.75, "green"}};
        for (const auto& spot : spots)
            QCOMPARE(quarterOf(shown.before.pixel(int(spot.x * w), int(spot.y * h))), spot.colour);
        // And so it is painted: the divider at the right edge shows the
        // unprocessed photograph everywhere.
        BeforeAfterPicture* picture = window.picture();
        picture->setDivider(1.0);
        const QImage painted = picture->grab().toImage();
        const qreal dpr = picture->devicePixelRatioF();
        for (const auto& spot : spots) {
            const QPoint at = (picture->pictureRect().topLeft() * dpr).toPoint() + QPoint(int(spot.x * w), int(spot.y * h));
            const QColor c = painted.pixelColor(at);
            QCOMPARE(quarterOf(packColour(std::uint8_t(c.red()), std::uint8_t(c.green()), std::uint8_t(c.blue()))),
                     spot.colour);
        }
    }

    void oneToOne_ShowsPhotographPixelsOneToOne()
    {
        WindowFixture f;
        const QString photo = f.writeBmp(QStringLiteral("large.bmp"), gradientPhoto(1600, 1200, 5));
        TForm1& form = f.startWithMask(photo, f.writeBmp(QStringLiteral("mask.bmp"), vignetteMask(1600, 1200)));
        form.show();
        form.strength->setValue(70);
        form.img_rightClick();
        TBeforeAfterForm& window = *form.BeforeAfter;
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(window.viewport().Fitted());
        std::array<double, kFalloffRings> curve = window.view().afterProfile.ev;
        const QSize room = window.picture()->devicePixelSize();

        QTest::keyClick(&window, Qt::Key_1);
        QVERIFY(!window.viewport().Fitted());
        QCOMPARE(window.viewport().Scale(), 1.0);
        const ShownPicture& shown = window.shown();
        QCOMPARE(shown.before.width(), std::min(room.width(), 1600));
        QCOMPARE(shown.before.height(), std::min(room.height(), 1200));
        const Bitmap24 saved = savedPixels(form);
        const Bitmap24& original = form.flow().PhotoFull();
        auto checkOneToOne = [&](const char* when) {
            const Viewport::Picture layout = window.viewport().Layout();
            for (int j = 0; j < shown.before.height(); ++j)
                for (int i = 0; i < shown.before.width(); ++i) {
                    const int x = layout.columns[0] + i, y = layout.rows[0] + j;
                    if (shown.before.pixel(i, j) != original.pixel(x, y) || shown.after.pixel(i, j) != saved.pixel(x, y))
                        QFAIL(qPrintable(QStringLiteral("%1: pixel %2,%3").arg(QLatin1String(when)).arg(i).arg(j)));
                }
        };
        checkOneToOne("1:1");
        // The curves stay those of the whole frame.
        QVERIFY(window.view().afterProfile.ev == curve);

        // A drag away from the divider moves the photograph with the pointer.
        const int firstColumn = window.viewport().Layout().columns[0];
        const int firstRow = window.viewport().Layout().rows[0];
        BeforeAfterPicture* picture = window.picture();
        const QRectF r = picture->pictureRect();
        const QPointF from(r.left() + r.width() * 0.2, r.top() + r.height() * 0.3);
        sendDrag(picture, from, from + QPointF(40, 20));
        const qreal dpr = picture->devicePixelRatioF();
        QCOMPARE(window.viewport().Layout().columns[0], firstColumn - qRound(40 * dpr));
        QCOMPARE(window.viewport().Layout().rows[0], firstRow - qRound(20 * dpr));
        QCOMPARE(picture->divider(), 0.5); // the divider stayed
        checkOneToOne("after a drag");
        QVERIFY(window.view().afterProfile.ev == curve);

        // The divider still follows a drag that grips it.
        const QPointF grip(r.left() + r.width() * 0.5, r.center().y());
        sendDrag(picture, grip, grip + QPointF(r.width() * 0.2, 0));
        QVERIFY(std::abs(picture->divider() - 0.7) < 0.02);
        QCOMPARE(window.viewport().Layout().columns[0], firstColumn - qRound(40 * dpr));
    }

    void zoomKeysAndWheel_StepAndFitAgain()
    {
        WindowFixture f;
        TForm1& form = startShown(f);
        form.img_rightClick();
        TBeforeAfterForm& window = *form.BeforeAfter;
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const double fit = window.viewport().FitScale();
        QTest::keyClick(&window, Qt::Key_Plus);
        const double in = window.viewport().Scale();
        QVERIFY(in > fit);
        QTest::keyClick(&window, Qt::Key_Plus);
        QVERIFY(window.viewport().Scale() > in);
        QTest::keyClick(&window, Qt::Key_Minus);
        QCOMPARE(window.viewport().Scale(), in);
        QTest::keyClick(&window, Qt::Key_0);
        QVERIFY(window.viewport().Fitted());
        QVERIFY(window.shown().before == window.view().before); // fitted, an upright photograph is the whole view

        // The wheel zooms around the pointer: the photograph row under it
        // stays under it (once the photograph is taller than the view).
        BeforeAfterPicture* picture = window.picture();
        const QRectF r = picture->pictureRect();
        const QPointF at(r.left() + r.width() * 0.8, r.top() + r.height() * 0.7);
        const qreal dpr = picture->devicePixelRatioF();
        const QSize room = picture->devicePixelSize();
        for (int i = 0; i < 6 && 480 * window.viewport().Scale() <= room.height(); ++i)
            sendWheel(picture, at, 120);
        QVERIFY(window.viewport().Scale() > fit);
        QVERIFY(window.viewport().CanPan());
        const Viewport::Picture layout = window.viewport().Layout();
        const int under = layout.rows[std::size_t(std::clamp(int(at.y() * dpr) - layout.top, 0, layout.height() - 1))];
        QVERIFY2(std::abs(under - 0.7 * 480) < 4, qPrintable(QString::number(under)));
        sendWheel(picture, at, -120 * 12);
        QVERIFY(window.viewport().Fitted());
    }

    void escape_ClosesTheViewOnly()
    {
        WindowFixture f;
        TForm1& form = startShown(f);
        form.img_rightClick();
        TBeforeAfterForm& window = *form.BeforeAfter;
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(!window.isVisible());
        QVERIFY(form.isVisible());

        // Changes while it is closed are shown when it opens again.
        form.strength->setValue(90);
        form.img_rightClick();
        QVERIFY(window.isVisible());
        QVERIFY(window.view().after == expectedView(form, window).after);
    }

    void plot_DrawsAcrossItsRange()
    {
        // This test program also runs at QT_SCALE_FACTOR=2, where the plot
        // is drawn at twice the pixels with the same range.
        WindowFixture f;
        TForm1& form = startShown(f);
        form.img_rightClick();
        TBeforeAfterForm& window = *form.BeforeAfter;
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(window.plot()->bottomEv() < 0);
        QVERIFY(window.plot()->topEv() > 0);
        const QImage plot = window.plot()->grab().toImage();
        QCOMPARE(plot.width(), qRound(window.plot()->width() * window.plot()->devicePixelRatioF()));
        int inked = 0;
        for (int x = 0; x < plot.width(); x += 4)
            inked += plot.pixelColor(x, plot.height() / 2) != plot.pixelColor(0, 0);
        QVERIFY(inked > 3);
    }
};

QTEST_MAIN(BeforeAfterFormTest)
#include "BeforeAfterFormTest.moc"
