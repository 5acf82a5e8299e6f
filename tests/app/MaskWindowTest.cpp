// SPDX-License-Identifier: GPL-3.0-or-later
// Loading a mask into the main window, fitting it, and the processed
// preview following the sliders, crop fields and photographs.
#include "WindowFixture.h"
#include "WorkflowTestAccess.h"

#include "CorrectionKernel.h"
#include "MaskGeometry.h"

#include <QFile>
#include <QTest>
#include <cstdlib>
#include <tiffio.h>
#include <vector>

using namespace lumivane;
using namespace lumivane::testing;

class MaskWindowTest : public QObject {
    Q_OBJECT

private slots:
    void maskLoad_EnablesControlsAndShowsIndicators()
    {
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(400, 300));
        const QString maskFile = f.writeBmp("flat.bmp", vignetteMask(400, 300));
        TForm1& form = f.startWithMask(photo, maskFile);
        QCOMPARE(f.services.openRequests.back().title, QStringLiteral(" Open Mask"));
        QVERIFY(!f.services.openRequests.back().multiSelect);
        QCOMPARE(f.services.openRequests.back().filter, OpenDialogFilter()); // the photographs' filter
        QVERIFY(form.flow().mask().MaskLoaded);
        for (QWidget* w : std::initializer_list<QWidget*>{form.brightness, form.jpeg, form.strength, form.left,
                                                          form.right, form.top, form.bottom, form.Button2,
                                                          form.SpeedButton1, form.UpDown1, form.UpDown2, form.Button4})
            QVERIFY(w->isEnabled());
        QVERIFY(form.Panel6->isHidden());
        QCOMPARE(form.Label4->text(), QStringLiteral("flat.bmp"));
        QCOMPARE(form.GroupBox6->title(), QStringLiteral(" Mask [1:1.33] "));
        QCOMPARE(form.GroupBox6->palette().color(QPalette::WindowText), QColor(0, 0, 0));
        QCOMPARE(form.Image3->toolTip(), QStringLiteral(" Rotation Angle: 0\u00B0 "));
        QCOMPARE(QString::fromStdString(form.flow().photos().LastMaskFile), maskFile);
        QCOMPARE(form.flow().MaskFull().width(), 400);
        QCOMPARE(form.flow().mask().MaskPreview.width(), 289);
        // The overlay: blue centre lines, no cross at the default hotspot.
        QCOMPARE(form.Image4->bitmap().pixel(145, 50), kPureBlue);
        QCOMPARE(form.Image4->bitmap().pixel(50, 108), kPureBlue);
        QVERIFY(form.img_right->bitmap() == expectedPreview(form));
    }

    void fullSizeMask_IsTheMaskItselfOnlyWhenSizesAgree_ThumbnailIsSmall()
    {
        WindowFixture f;
        const QString a = f.writeBmp("a.bmp", gradientPhoto(400, 300));
        const QString b = f.writeBmp("b.bmp", gradientPhoto(300, 200));
        const QString maskFile = f.writeBmp("m.bmp", vignetteMask(400, 300));
        TForm1& form = f.start();
        f.open({a, b, a});
        f.loadMask(maskFile);
        // The thumbnail shows what the full-size mask stretched onto 66 x 49
        // shows, from a picture of only that size.
        auto thumbnailShowsFittedMask = [&] {
            Bitmap24 fitted(form.flow().PhotoFull().width(), form.flow().PhotoFull().height());
            stretchDraw(form.flow().mask().MaskImage, fitted);
            Bitmap24 shown(66, 49);
            stretchDraw(fitted, shown);
            return form.flow().MaskFull() == fitted && form.Image3->bitmap() == shown &&
                   form.Image3->shownImage() == toQImage(shown);
        };
        QCOMPARE(form.Image3->bitmap().width(), 66);
        QCOMPARE(form.Image3->bitmap().height(), 49);
        QCOMPARE(form.flow().MaskFull().data(), form.flow().mask().MaskImage.data()); // shared, not copied
        QVERIFY(thumbnailShowsFittedMask());
        form.Button1Click(form.ImageButton2); // 300 x 200: a stretched copy
        QVERIFY(form.flow().MaskFull().data() != form.flow().mask().MaskImage.data());
        QCOMPARE(form.flow().MaskFull().width(), 300);
        QVERIFY(thumbnailShowsFittedMask());
        QVERIFY(form.img_right->bitmap() == expectedPreview(form));
        form.Button1Click(form.ImageButton2); // 400 x 300 again: shared again
        QCOMPARE(form.flow().MaskFull().data(), form.flow().mask().MaskImage.data());
        QVERIFY(form.flow().mask().MaskStretched.empty());
        QVERIFY(thumbnailShowsFittedMask());
        QVERIFY(form.img_right->bitmap() == expectedPreview(form));
    }

    void tiffMask_IsTakenOverFromItsHolderWithoutACopy()
    {
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(400, 300));
        const Bitmap24 maskImage = vignetteMask(120, 90);
        const QString maskFile = f.path("flat.tif");
        {
            TIFF* tif = TIFFOpen(maskFile.toLocal8Bit().constData(), "w");
            QVERIFY(tif);
            TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 120);
            TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 90);
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
            TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 90);
            std::vector<std::uint8_t> row(120 * 3);
            for (int y = 0; y < 90; ++y) {
                for (int x = 0; x < 120; ++x) {
                    const Colour c = maskImage.pixel(x, y);
                    row[3 * x] = redOf(c);
                    row[3 * x + 1] = greenOf(c);
                    row[3 * x + 2] = blueOf(c);
                }
                QCOMPARE(TIFFWriteScanline(tif, row.data(), std::uint32_t(y), 0), 1);
            }
            TIFFClose(tif);
        }
        TForm1& form = f.startWithMask(photo, maskFile);
        QVERIFY(form.flow().mask().MaskLoaded);
        QVERIFY(form.flow().mask().MaskImage == maskImage);
        QCOMPARE(form.flow().mask().MaskWidth, 120);
        QCOMPARE(form.flow().mask().MaskHeight, 90);
        Bitmap24 fitted(400, 300);
        stretchDraw(maskImage, fitted);
        QVERIFY(form.flow().MaskFull() == fitted);
    }

    void maskRatio_3to2_On_4to3_IsRed()
    {
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(400, 300));
        const QString maskFile = f.writeBmp("wide.bmp", vignetteMask(300, 200));
        TForm1& form = f.startWithMask(photo, maskFile);
        QCOMPARE(form.GroupBox6->title(), QStringLiteral(" Mask [1:1.5] "));
        QCOMPARE(form.GroupBox6->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QCOMPARE(form.Label4->palette().color(QPalette::WindowText), QColor(0, 0, 0));
        QCOMPARE(form.flow().MaskFull().width(), 400); // stretched to the photograph anyway
        QCOMPARE(form.flow().MaskFull().height(), 300);
    }

    void largeMaskOnSmallerPhotograph_SameRatioIsBlack()
    {
        WindowFixture f;
        const QString photo = f.writeJpeg("photo.jpg", gradientPhoto(2000, 1500), 80);
        const QString maskFile = f.writeJpeg("big.jpg", vignetteMask(4000, 3000), 80);
        TForm1& form = f.startWithMask(photo, maskFile);
        QCOMPARE(form.GroupBox6->title(), QStringLiteral(" Mask [1:1.33] "));
        QCOMPARE(form.GroupBox6->palette().color(QPalette::WindowText), QColor(0, 0, 0));
        QCOMPARE(form.flow().mask().MaskWidth, 4000);
        QCOMPARE(form.flow().MaskFull().width(), 2000);
    }

    void centreLevels_AreSampledFromTheMask()
    {
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(300, 200));
        Bitmap24 flat = solid(300, 200, packColour(120, 110, 100));
        for (int x = 140; x < 160; ++x)
            flat.setPixel(x, 100, packColour(200, 190, 180));
        const QString maskFile = f.writeBmp("centre.bmp", flat);
        TForm1& form = f.startWithMask(photo, maskFile);
        QCOMPARE(form.flow().mask().HotspotR, 200);
        QCOMPARE(form.flow().mask().HotspotG, 190);
        QCOMPARE(form.flow().mask().HotspotB, 180);
    }

    void otherMask_ResetsTheHotspot()
    {
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(300, 200));
        const QString maskFile = f.writeBmp("m.bmp", solid(300, 200, packColour(50, 60, 70)));
        TForm1& form = f.start();
        f.open({photo});
        lumivane::WorkflowTestAccess::SetHotspot(form.flow(), 200, 100, 9, true);
        f.loadMask(maskFile);
        QCOMPARE(form.flow().mask().HotspotX, kNoHotspotX);
        QCOMPARE(form.flow().mask().HotspotY, kNoHotspotY);
        QCOMPARE(form.flow().mask().MarkerX, kNoHotspotX);
        QCOMPARE(form.flow().mask().HotspotR, 50);
        QCOMPARE(form.flow().mask().HotspotB, 70);
    }

    void longMaskNames_AreShortened_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("label");
        QTest::newRow("14 characters") << "mask_14_ch.bmp" << "mask_14_ch.bmp";
        QTest::newRow("20 characters") << "a_long_mask_name.bmp" << "..._mask_name.bmp";
        QTest::newRow("22 characters") << "my_flat_field_mask.bmp" << "...field_mask.bmp";
    }
    void longMaskNames_AreShortened()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, label);
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(60, 40));
        const QString maskFile = f.writeBmp(fileName, vignetteMask(60, 40));
        TForm1& form = f.startWithMask(photo, maskFile);
        QCOMPARE(form.Label4->text(), label);
    }

    void preselectedMask_LoadsWithFirstPhotographWithoutDialog()
    {
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(80, 60));
        const QString maskFile = f.writeBmp("pre.bmp", vignetteMask(80, 60));
        TForm1& form = f.start();
        f.loadMask(maskFile); // no photograph yet: pre-selection
        QVERIFY(!form.flow().mask().MaskLoaded);
        QCOMPARE(form.Label4->text(), QStringLiteral("pre.bmp"));
        QVERIFY(form.Image3->bitmap() == thumbnailOf(vignetteMask(80, 60)));
        QVERIFY(!form.brightness->isEnabled());
        f.open({photo});
        QCOMPARE(f.services.openRequests.size(), size_t(2)); // the mask dialog and the photo dialog only
        QVERIFY(form.flow().mask().MaskLoaded);
        QCOMPARE(form.flow().photos().FirstMaskPending, std::uint8_t(0));
        form.Button3Click(); // now the dialog shows again (cancelled)
        QCOMPARE(f.services.openRequests.size(), size_t(3));
        QCOMPARE(f.services.openRequests.back().title, QStringLiteral(" Open Mask"));
        QVERIFY(form.flow().mask().MaskLoaded);
    }

    void unreadableMaskBeforeAnySize_IsReportedAndChangesNothing()
    {
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(80, 60));
        const QString broken = f.path("broken.jpg");
        {
            QFile file(broken);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("\xFF\xD8 not really");
        }
        TForm1& form = f.startWithMask(photo, broken);
        QVERIFY(form.status->text().startsWith(QStringLiteral(" Can not load mask broken.jpg")));
        QVERIFY(!form.flow().mask().MaskLoaded);
        QVERIFY(!form.brightness->isEnabled());
        QVERIFY(!form.Button2->isEnabled());
        QVERIFY(!form.Panel6->isHidden());
        QCOMPARE(form.Label4->text(), QStringLiteral("None"));
        QVERIFY(f.services.errors.isEmpty());
    }

    void unreadableMaskAfterAGoodOne_KeepsTheGoodOne()
    {
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(80, 60));
        const QString good = f.writeBmp("good.bmp", vignetteMask(80, 60));
        TForm1& form = f.startWithMask(photo, good);
        const Bitmap24 maskBefore = form.flow().MaskFull();
        f.loadMask(f.path("missing.tif"));
        QVERIFY(form.status->text().startsWith(QStringLiteral(" Can not load mask missing.tif")));
        QVERIFY(form.flow().MaskFull() == maskBefore);
        QCOMPARE(form.Label4->text(), QStringLiteral("good.bmp"));
    }

    void slidersAndCrop_ProcessedPreviewFollows()
    {
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(2890, 40));
        const QString maskFile = f.writeBmp("m.bmp", vignetteMask(600, 40));
        TForm1& form = f.startWithMask(photo, maskFile);
        form.strength->setValue(100);
        QCOMPARE(form.Label10->text(), QStringLiteral("Vignetting reduction boost: 100%"));
        QVERIFY(form.img_right->bitmap() == expectedPreview(form));
        form.brightness->setValue(50);
        QCOMPARE(form.Label1->text(), QStringLiteral("Brightness: +25%"));
        QVERIFY(form.img_right->bitmap() == expectedPreview(form));
        form.brightness->setValue(0);
        QCOMPARE(form.Label1->text(), QStringLiteral("Brightness: -25%"));
        form.left->setText(QStringLiteral("1"));
        QVERIFY(form.img_right->bitmap() == expectedPreview(form));
        // 1 photograph pixel of 10 per preview column: column 0 stays as loaded.
        for (int y = 0; y < 216; ++y)
            QCOMPARE(form.img_right->bitmap().pixel(0, y), form.img_left->bitmap().pixel(0, y));
        QVERIFY(form.Label5->text().startsWith(QStringLiteral(" Processed Image (2889x40 pixels) [1:72.2")));
        form.left->setText(QString());
        form.right->setText(QStringLiteral("1"));
        QVERIFY(form.img_right->bitmap() == expectedPreview(form));
        QVERIFY(!(form.img_right->bitmap() == form.img_left->bitmap()));
    }

    void cropFilter_AcceptsDigitsAndControlKeysOnly()
    {
        WindowFixture f;
        // The crop fields take keys once a mask is loaded.
        TForm1& form = f.startWithMask(f.writeBmp("p.bmp", gradientPhoto(300, 200)),
                                       f.writeBmp("m.bmp", vignetteMask(300, 200)));
        QVERIFY(form.left->isEnabled());
        form.left->clear();
        QTest::keyClicks(form.left, QStringLiteral("1a2-3 x"));
        QCOMPARE(form.left->text(), QStringLiteral("123"));
        QTest::keyClick(form.left, Qt::Key_Backspace);
        QCOMPARE(form.left->text(), QStringLiteral("12"));
        QVERIFY(leftkeypress(QLatin1Char('7')));
        QVERIFY(leftkeypress(QChar(8)));
        QVERIFY(!leftkeypress(QLatin1Char('.')));
    }

    void cropThatLeavesNothing_ShowsUnprocessedPreviewAndSaysSo()
    {
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(300, 200));
        const QString maskFile = f.writeBmp("m.bmp", vignetteMask(300, 200));
        TForm1& form = f.startWithMask(photo, maskFile);
        form.strength->setValue(50);
        form.top->setText(QStringLiteral("100"));
        form.bottom->setText(QStringLiteral("100"));
        QVERIFY(form.img_right->bitmap() == form.img_left->bitmap());
        QVERIFY(form.status->text().contains(QStringLiteral("crop margins leave no pixels")));
        QVERIFY(f.services.errors.isEmpty());
        form.bottom->setText(QStringLiteral("99"));
        QVERIFY(form.img_right->bitmap() == expectedPreview(form));
    }

    void cropThatLeavesNoWidthOrCrosses_ShowsItsRatioAndCorrectsWhatIsLeft_data()
    {
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("right");
        QTest::addColumn<QString>("label");
        QTest::newRow("left + right = width") << "100" << "200" << " Processed Image (0x200 pixels) [1:0]";
        QTest::newRow("left beyond the width") << "450" << "" << " Processed Image (-150x200 pixels) [1:-0.75]";
        QTest::newRow("two of the largest margins")
            << "2147483647" << "2147483647" << " Processed Image (-4294966994x200 pixels) [1:-21474834.97]";
    }
    void cropThatLeavesNoWidthOrCrosses_ShowsItsRatioAndCorrectsWhatIsLeft()
    {
        QFETCH(QString, left);
        QFETCH(QString, right);
        QFETCH(QString, label);
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(300, 200));
        const QString maskFile = f.writeBmp("m.bmp", vignetteMask(300, 200));
        TForm1& form = f.startWithMask(photo, maskFile);
        form.strength->setValue(50);
        form.left->setText(left);
        form.right->setText(right);
        QCOMPARE(form.Label5->text(), label);
        QCOMPARE(f.services.errors, QStringList());
        QVERIFY(!form.status->text().contains(QStringLiteral("crop margins")));
        // The columns are all margin, so nothing is corrected, exactly as
        // the preview pass computes it.
        QVERIFY(form.img_right->bitmap() == expectedPreview(form));
        QVERIFY(form.img_right->bitmap() == form.img_left->bitmap());
    }

    void cropFieldBeyond32Bits_IsAConversionError()
    {
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(300, 200));
        const QString maskFile = f.writeBmp("m.bmp", vignetteMask(300, 200));
        TForm1& form = f.startWithMask(photo, maskFile);
        form.strength->setValue(40);
        const QString labelBefore = form.Label5->text();
        // Two 19-digit margins must not wrap round into a plausible size.
        form.left->setText(QStringLiteral("9223372036854775807"));
        QCOMPARE(f.services.errors.size(), 1);
        QVERIFY2(f.services.errors[0].contains(QStringLiteral("9223372036854775807")), qPrintable(f.services.errors[0]));
        form.right->setText(QStringLiteral("9223372036854775807"));
        QCOMPARE(f.services.errors.size(), 2);
        QCOMPARE(form.Label5->text(), labelBefore);
    }

    void pastedNonNumericCrop_ReportsAnErrorAndKeepsThePreview()
    {
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(300, 200));
        const QString maskFile = f.writeBmp("m.bmp", vignetteMask(300, 200));
        TForm1& form = f.startWithMask(photo, maskFile);
        form.strength->setValue(40);
        const Bitmap24 before = form.img_right->bitmap();
        form.top->setText(QStringLiteral("1x"));
        QCOMPARE(f.services.errors.size(), 1);
        QVERIFY(form.img_right->bitmap() == before);
    }

    void newPhotographOfOtherSize_RefitsTheMask()
    {
        WindowFixture f;
        const QString a = f.writeBmp("a.bmp", gradientPhoto(300, 200));
        const QString b = f.writeBmp("b.bmp", gradientPhoto(120, 160));
        const QString maskFile = f.writeBmp("m.bmp", vignetteMask(300, 200));
        TForm1& form = f.start();
        f.open({a, b});
        f.loadMask(maskFile);
        form.strength->setValue(70);
        form.Button1Click(form.ImageButton2);
        QCOMPARE(form.flow().MaskFull().width(), 120);
        QCOMPARE(form.flow().MaskFull().height(), 160);
        Bitmap24 fitted(120, 160);
        stretchDraw(form.flow().mask().MaskImage, fitted);
        QVERIFY(form.flow().MaskFull() == fitted);
        QCOMPARE(form.GroupBox6->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QVERIFY(form.img_right->bitmap() == expectedPreview(form));
    }

    // A default or pre-selected mask that cannot be decoded is tried once,
    // with the first photograph: later photographs do not retry it (and do
    // not overwrite the status with its error) and "Load Mask" asks again.
    void brokenPendingMask_IsTriedOnceAndTheNextLoadAsks_data()
    {
        QTest::addColumn<bool>("asDefault");
        QTest::newRow("default mask") << true;
        QTest::newRow("pre-selected") << false;
    }
    void brokenPendingMask_IsTriedOnceAndTheNextLoadAsks()
    {
        QFETCH(bool, asDefault);
        WindowFixture f;
        const QString a = f.writeBmp("a.bmp", gradientPhoto(80, 60));
        const QString b = f.writeBmp("b.bmp", gradientPhoto(80, 60, 9));
        const QString broken = f.writeBytes("broken.bmp", "BM not a bitmap at all");
        if (asDefault)
            f.writeIni("30\r\n20\r\n80\r\n" + broken.toUtf8() + "\r\n");
        TForm1& form = f.start();
        if (!asDefault) // no photograph yet: pre-selection, whose thumbnail complains
            QVERIFY_THROWS_EXCEPTION(std::exception, f.loadMask(broken));
        f.services.errors.clear(); // the stored default's thumbnail complained at start
        f.open({a, b});
        QVERIFY2(form.status->text().startsWith(QStringLiteral(" Can not load mask broken.bmp")),
                 qPrintable(form.status->text()));
        QCOMPARE(form.flow().photos().FirstMaskPending, std::uint8_t(0));
        QVERIFY(!form.flow().mask().MaskLoaded);
        form.Button1Click(form.ImageButton2);
        QCOMPARE(form.status->text(), QStringLiteral(" Showing b.bmp [2 of 2]"));
        const size_t before = f.services.openRequests.size();
        const QString good = f.writeBmp("good.bmp", vignetteMask(80, 60));
        f.loadMask(good);
        QCOMPARE(f.services.openRequests.size(), before + 1);
        QCOMPARE(f.services.openRequests.back().title, QStringLiteral(" Open Mask"));
        QVERIFY(form.flow().mask().MaskLoaded);
        QCOMPARE(form.Label4->text(), QStringLiteral("good.bmp"));
        QVERIFY(f.services.errors.isEmpty());
    }

    // The thumbnail shows a mask chosen before any photograph, JPEG or BMP,
    // whether picked in the dialog or stored as the default.
    void maskBeforeAnyPhotograph_ShowsItsThumbnail_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("asDefault");
        QTest::newRow("BMP picked") << "m.bmp" << false;
        QTest::newRow("JPEG picked") << "m.jpg" << false;
        QTest::newRow("BMP default") << "m.bmp" << true;
        QTest::newRow("JPEG default") << "m.jpg" << true;
    }
    void maskBeforeAnyPhotograph_ShowsItsThumbnail()
    {
        QFETCH(QString, name);
        QFETCH(bool, asDefault);
        WindowFixture f;
        const Bitmap24 maskImage = solid(80, 60, packColour(200, 120, 40));
        const QString maskFile = name.endsWith(QStringLiteral(".jpg")) ? f.writeJpeg(name, maskImage)
                                                                      : f.writeBmp(name, maskImage);
        if (asDefault)
            f.writeIni("25\r\n0\r\n90\r\n" + maskFile.toUtf8() + "\r\n");
        TForm1& form = f.start();
        if (!asDefault)
            f.loadMask(maskFile);
        QCOMPARE(form.Image3->bitmap().width(), 66);
        QCOMPARE(form.Image3->bitmap().height(), 49);
        const Colour c = form.Image3->bitmap().pixel(33, 24);
        QVERIFY2(std::abs(redOf(c) - 200) <= 3 && std::abs(greenOf(c) - 120) <= 3 && std::abs(blueOf(c) - 40) <= 3,
                 qPrintable(QStringLiteral("%1 %2 %3").arg(redOf(c)).arg(greenOf(c)).arg(blueOf(c))));
        QVERIFY(f.services.errors.isEmpty());
    }

    // A quarter turn after a load that left no photograph: the caption shows
    // the turned mask's ratio, uncoloured, and no error is raised.
    void quarterTurnWithoutPhotograph_ShowsTheMaskRatioWithoutError()
    {
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(90, 60));
        const QString maskFile = f.writeBmp("m.bmp", vignetteMask(90, 60));
        TForm1& form = f.startWithMask(photo, maskFile);
        // A TIFF that cannot be read empties the photograph.
        f.open({f.writeBytes("broken.tif", QByteArray("II*\0 not a directory in sight", 30))});
        QVERIFY(!form.flow().photos().PhotoPresent);
        form.rot2Click();
        QVERIFY2(f.services.errors.isEmpty(), qPrintable(f.services.errors.join(QLatin1Char('\n'))));
        QCOMPARE(form.GroupBox6->title(), QStringLiteral(" Mask [1:0.67] "));
        QCOMPARE(form.GroupBox6->palette().color(QPalette::WindowText), QColor(0, 0, 0));
    }

    // "Save" stays disabled while the adjustment panel is open, also when
    // another photograph is shown meanwhile; closing the panel gives it back.
    void steppingWithPanelOpen_KeepsSaveDisabled()
    {
        WindowFixture f;
        const QString a = f.writeBmp("a.bmp", gradientPhoto(80, 60));
        const QString b = f.writeBmp("b.bmp", gradientPhoto(80, 60, 5));
        const QString maskFile = f.writeBmp("m.bmp", vignetteMask(80, 60));
        TForm1& form = f.start();
        f.open({a, b});
        f.loadMask(maskFile);
        QVERIFY(form.Button2->isEnabled());
        form.Button6Click();
        QVERIFY(!form.Button2->isEnabled());
        form.Button1Click(form.ImageButton2);
        QVERIFY(!form.Button2->isEnabled());
        form.BitBtn1Click();
        QVERIFY(form.Button2->isEnabled());
    }
};

QTEST_MAIN(MaskWindowTest)
#include "MaskWindowTest.moc"
