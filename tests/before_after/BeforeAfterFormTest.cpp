// SPDX-License-Identifier: GPL-3.0-or-later
// The before/after window: opened by a click on the processed preview, fed
// with what the save uses, following every change, its divider dragged, and
// closed with Esc.
#include "WindowFixture.h"

#include "BeforeAfterForm.h"
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
    input.targets = TargetsFor(form.flow().mask.HotspotR, form.flow().mask.HotspotG, form.flow().mask.HotspotB, form.brightness->value());
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
