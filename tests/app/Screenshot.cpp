// SPDX-License-Identifier: GPL-3.0-or-later
// Writes PNG pictures of the windows for a person to look at: the main
// window with a photograph and a mask loaded, the open adjustment panel, the
// EXIF window beside the main window, the before/after window, and the main
// window showing its longest captions and the progress of "Save Images".
// Run under Xvfb by scripts/screenshot, at scale 1 and 2.
#include "WindowFixture.h"

#include "BeforeAfterForm.h"
#include "CameraExif.h"
#include "ShownView.h"
#include "Unit2.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <cstdio>

using namespace lumivane;
using namespace lumivane::testing;

namespace {

bool save(const QPixmap& pixmap, const QString& path)
{
    if (!pixmap.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("wrote %s\n", qPrintable(path));
    return true;
}

// The window with its frame as the screen shows it, when a window manager
// draws one; the client area otherwise.
QPixmap shot(QWidget* w)
{
    QTest::qWait(200);
    return w->grab();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(outDir);

    WindowFixture f;
    // A sample camera photograph when the corpus is there, else a made-up one.
    QString photo = QStringLiteral(LUMIVANE_SAMPLES_DIR) + QStringLiteral("/exif/ianare_canon-ixus.jpg");
    if (!QFileInfo::exists(photo))
        photo = f.writeJpeg("IMG_0042.JPG", gradientPhoto(640, 480));
    const QString maskFile = f.writeJpeg("flat_field_mask.jpg", vignetteMask(640, 480), 92);

    TForm1& form = f.start();
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        std::fprintf(stderr, "the main window was not shown in time\n");
    f.open({photo, photo});
    f.loadMask(maskFile);
    form.strength->setValue(60);
    form.brightness->setValue(30);
    bool ok = save(shot(&form), outDir + QStringLiteral("/main_window.png"));

    form.Button6Click();
    form.FormMouseMove(200, 100);
    form.image2Click();
    ok = save(shot(&form), outDir + QStringLiteral("/adjustment_panel.png")) && ok;
    form.BitBtn1Click();

    form.BitBtn7Click();
    if (!QTest::qWaitForWindowExposed(form.Form2))
        std::fprintf(stderr, "the EXIF window was not shown in time\n");
    const QPixmap main = shot(&form);
    const QPixmap exif = shot(form.Form2);
    // Side by side in screen pixels: at a scale factor above 1 the grabs
    // hold more pixels than their windows' sizes, and so does the picture.
    const qreal ratio = main.devicePixelRatio();
    const int gap = qRound(10 * ratio);
    QPixmap both(main.width() + exif.width() + gap, std::max(main.height(), exif.height()));
    both.fill(Qt::darkGray);
    both.setDevicePixelRatio(ratio);
    {
        QPainter p(&both);
        p.drawPixmap(QPointF(0, 0), main);
        p.drawPixmap(QPointF((main.width() + gap) / ratio, 0), exif);
    }
    ok = save(both, outDir + QStringLiteral("/exif_window.png")) && ok;
    form.Form2->close();

    // A camera photograph and a flat field of a wide-angle lens, the boost
    // half way, compared in the large view.
    const QString data = QStringLiteral(LUMIVANE_TEST_DATA_DIR);
    f.open({data + QStringLiteral("/samples/exif/ianare_DSCN0010.jpg")});
    f.loadMask(data + QStringLiteral("/masks/flat_field_640x480.tif"));
    form.brightness->setValue(25);
    form.strength->setValue(50);
    form.img_rightClick();
    form.BeforeAfter->resize(1200, 800);
    if (!QTest::qWaitForWindowExposed(form.BeforeAfter))
        std::fprintf(stderr, "the before/after window was not shown in time\n");
    ok = save(shot(form.BeforeAfter), outDir + QStringLiteral("/before_after.png")) && ok;
    // The top left corner at 1:1, dragged there.
    QTest::keyClick(form.BeforeAfter, Qt::Key_1);
    BeforeAfterPicture* picture = form.BeforeAfter->picture();
    for (int i = 0; i < 6; ++i) {
        const QPointF from(picture->width() * 0.2, picture->height() * 0.2);
        const QPointF to = from + QPointF(picture->width() * 0.25, picture->height() * 0.6);
        QTest::mousePress(picture, Qt::LeftButton, {}, from.toPoint());
        QMouseEvent move(QEvent::MouseMove, to, picture->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(picture, &move);
        QTest::mouseRelease(picture, Qt::LeftButton, {}, to.toPoint());
    }
    ok = save(shot(form.BeforeAfter), outDir + QStringLiteral("/before_after_1to1.png")) && ok;
    QTest::keyClick(form.BeforeAfter, Qt::Key_0);
    form.BeforeAfter->close();

    // The same photograph as a camera held upright stores it: lying on its
    // side (turned a quarter counterclockwise) with orientation 6. The view
    // stands it upright again.
    {
        lumivane::testing::CameraExif turned;
        turned.orientation = 6;
        lumivane::Bitmap24 lying;
        lumivane::TurnToShown(form.flow().PhotoFull(), lumivane::Orientation(8), lying);
        const QString upright = f.path(QStringLiteral("turned.jpg"));
        lumivane::testing::WriteCameraJpeg(upright.toStdString(), lying, turned);
        f.open({upright});
        form.img_rightClick();
        if (!QTest::qWaitForWindowExposed(form.BeforeAfter))
            std::fprintf(stderr, "the before/after window was not shown in time\n");
        ok = save(shot(form.BeforeAfter), outDir + QStringLiteral("/before_after_upright.png")) && ok;
        form.BeforeAfter->close();
    }

    // The longest texts the captions take: a large photograph with a long
    // name, a mask of another ratio with a long name, the sliders at their
    // ends and the BMP warning.
    const QString large = f.writeJpeg("DSC_20261208_142237_panorama_left.jpg", vignetteMask(6000, 4000, 230, 190, 140), 80);
    f.open({large, large, large});
    f.loadMask(f.writeBmp("wide_angle_flat_field_f8.bmp", vignetteMask(600, 450)));
    form.strength->setValue(100);
    form.brightness->setValue(0);
    form.jpeg->setValue(kBmpQuality);
    form.Button1Click(form.ImageButton2);
    ok = save(shot(&form), outDir + QStringLiteral("/long_captions.png")) && ok;

    // The progress panel of "Save Images", taken after the first photograph,
    // when it names the next one.
    const QString folder = f.path("saved");
    QDir().mkpath(folder);
    f.services.folderAnswers.push_back(folder);
    bool progressShot = false;
    int pauses = 0;
    f.services.onProcessEvents = [&] {
        if (progressShot || ++pauses < 2)
            return;
        progressShot = true;
        ok = save(form.grab(), outDir + QStringLiteral("/batch_progress.png")) && ok;
    };
    form.Button2Click();
    f.services.onProcessEvents = nullptr;
    ok = progressShot && ok;
    return ok ? 0 : 1;
}
