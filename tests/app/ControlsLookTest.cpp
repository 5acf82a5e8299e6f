// SPDX-License-Identifier: GPL-3.0-or-later
// What the main window's controls show and how they answer the keyboard: the
// fixed hints, text colours as drawn (warnings in red, disabled texts grey),
// the ratio captions' decimal separator and Enter in the adjustment panel.
#include "WindowFixture.h"

#include "ImageFile.h"
#include "PlatformServices.h"
#include "Unit2.h"

#include <QCheckBox>
#include <QSet>
#include <QTest>
#include <functional>
#include <map>

using namespace lumivane;
using namespace lumivane::testing;

namespace {

// Pixels of a grabbed control drawn in a clear red (a warning's text).
int redPixels(QWidget* w)
{
    const QImage image = w->grab().toImage();
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += c.red() > 180 && c.green() < 100 && c.blue() < 100;
        }
    return count;
}

// The darkest grey level drawn in the top `rows` rows of a control (all of
// it when 0): black text gives 0, disabled text a light grey.
int darkestLevel(QWidget* w, int rows = 0)
{
    const QImage image = w->grab().toImage();
    int darkest = 255;
    for (int y = 0; y < (rows > 0 ? std::min(rows, image.height()) : image.height()); ++y)
        for (int x = 0; x < image.width(); ++x)
            darkest = std::min(darkest, qGray(image.pixel(x, y)));
    return darkest;
}

// A disabled text must be drawn clearly lighter than the same text enabled.
constexpr int kDisabledLighterBy = 60;

} // namespace

class ControlsLookTest : public QObject {
    Q_OBJECT

private slots:
    // Every fixed hint starts with its own text; what follows it is free.
    void everyControlsHint_StartsWithItsText()
    {
        WindowFixture f;
        TForm1& form = f.start();
        const struct {
            QWidget* control;
            const char* name;
            QString hint;
        } rows[] = {
            {form.Button1, "Button1", QStringLiteral(" Open image(s). Multiselection allowed.")},
            {form.Button2, "Button2", QStringLiteral(" Save processed image(s) ")},
            {form.strength, "strength", QStringLiteral(" Adjust vignetting reduction algorithm strength ")},
            {form.jpeg, "jpeg",
             QStringLiteral(" Set the output image compression level. Move it to the \r\n"
                            " rightmost position to save uncompressed (BMP) image.")},
            {form.HyperLabel1, "HyperLabel1", QStringLiteral(" Go there for on-line help, hints etc. ")},
            {form.SpeedButton1, "SpeedButton1", QStringLiteral(" Center Mask ")},
            {form.Image3, "Image3", QStringLiteral(" Rotation Angle: 0\u00B0 ")},
            {form.UpDown1, "UpDown1", QStringLiteral(" Move Mask up/down ")},
            {form.UpDown2, "UpDown2", QStringLiteral(" Move Mask left/right ")},
            {form.ImageButton4, "ImageButton4", QStringLiteral(" Adjust Mask ")},
            {form.ImageButton5, "ImageButton5", QStringLiteral(" Rotate Counterclockwise ")},
            {form.ImageButton6, "ImageButton6", QStringLiteral(" Rotate Clockwise ")},
            {form.Button4, "Button4",
             QStringLiteral(" Set current mask as default one. It will be \r\n"
                            " automagically loaded when you open first image")},
            {form.Image2, "Image2", QStringLiteral(" Click on image to set new Hotspot ")},
            {form.Button7, "Button7", QStringLiteral(" Apply current setting ")},
            {form.BitBtn3, "BitBtn3", QStringLiteral(" Free default mask ")},
            {form.ImageButton1, "ImageButton1", QStringLiteral(" Previous Image ")},
            {form.ImageButton2, "ImageButton2", QStringLiteral(" Next Image ")},
            {form.ImageButton3, "ImageButton3", QStringLiteral(" EXIF Information ")},
        };
        for (const auto& row : rows)
            QVERIFY2(row.control->toolTip().startsWith(row.hint),
                     qPrintable(QStringLiteral("%1: \"%2\"").arg(QLatin1String(row.name), row.control->toolTip())));
    }

    // The panel over the mask buttons says its short texts in black, also
    // under a mask caption in red.
    void coverStrip_StaysBlackUnderARedMaskCaption()
    {
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(400, 300));
        const QString maskFile = f.writeBmp("wide.bmp", vignetteMask(300, 200));
        TForm1& form = f.start();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        f.open({photo});
        f.loadMask(maskFile);
        QCOMPARE(form.GroupBox6->title(), QStringLiteral(" Mask [1:1.5] "));
        QVERIFY(redPixels(form.GroupBox6) > 0); // the caption is red
        QTest::mouseClick(form.ImageButton4, Qt::LeftButton);
        QVERIFY(form.Panel4->isVisible());
        QCOMPARE(form.Panel6->text(), QStringLiteral("Select Hotspot"));
        QCOMPARE(redPixels(form.Panel6), 0);
        QVERIFY(darkestLevel(form.Panel6) < 60);
        QCOMPARE(redPixels(form.Label4), 0);
        QTest::mouseClick(form.Button7, Qt::LeftButton);
        QVERIFY(form.Panel6->isHidden());
    }

    // "No compression (Save as BMP)" is drawn in red, and the JPEG qualities
    // in black again.
    void qualityLabel_IsRedAtBmpAndBlackOtherwise()
    {
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(80, 60));
        const QString maskFile = f.writeBmp("flat.bmp", vignetteMask(80, 60));
        TForm1& form = f.startWithMask(photo, maskFile);
        QCOMPARE(redPixels(form.Label6), 0);
        form.jpeg->setValue(kBmpQuality);
        QCOMPARE(form.Label6->text(), QStringLiteral("No compression (Save as BMP)"));
        QVERIFY(redPixels(form.Label6) > 20);
        form.jpeg->setValue(100);
        QCOMPARE(form.Label6->text(), QStringLiteral("Save quality: 100% (JPEG)"));
        QCOMPARE(redPixels(form.Label6), 0);
        QVERIFY(darkestLevel(form.Label6) < 60);
    }

    // A disabled label is drawn as disabled: the quality label before any
    // mask, the mask group's caption while "Save Images" runs.
    void disabledTexts_AreDrawnLighterThanEnabledOnes()
    {
        WindowFixture f;
        QStringList photos;
        for (int i = 0; i < 2; ++i)
            photos << f.writeBmp(QStringLiteral("IMG_%1.bmp").arg(i + 1), gradientPhoto(80, 60, i));
        const QString maskFile = f.writeBmp("flat.bmp", vignetteMask(80, 60));
        TForm1& form = f.start();
        QVERIFY(!form.Label6->isEnabled());
        const int qualityDisabled = darkestLevel(form.Label6);
        f.open(photos);
        f.loadMask(maskFile);
        QVERIFY(form.Label6->isEnabled());
        QVERIFY2(qualityDisabled > darkestLevel(form.Label6) + kDisabledLighterBy,
                 qPrintable(QStringLiteral("disabled %1, enabled %2").arg(qualityDisabled).arg(darkestLevel(form.Label6))));

        // The caption's text lies in the group's top rows.
        const int captionRows = form.GroupBox6->fontMetrics().height();
        const int captionEnabled = darkestLevel(form.GroupBox6, captionRows);
        int captionInBatch = -1;
        f.services.onProcessEvents = [&] {
            if (!form.GroupBox6->isEnabled() && captionInBatch < 0)
                captionInBatch = darkestLevel(form.GroupBox6, captionRows);
        };
        f.services.folderAnswers.push_back(f.path("out"));
        QDir().mkpath(f.path("out"));
        form.Button2->click();
        QVERIFY(captionInBatch >= 0);
        QVERIFY2(captionInBatch > captionEnabled + kDisabledLighterBy,
                 qPrintable(QStringLiteral("in batch %1, enabled %2").arg(captionInBatch).arg(captionEnabled)));
    }

    // A separator outside Latin-1 (Arabic U+066B) reaches the captions whole.
    void ratioCaptions_TakeADecimalSeparatorOutsideLatin1()
    {
        const std::string arabic = DecimalSeparatorOf(QLocale(QLocale::Arabic, QLocale::Egypt));
        QCOMPARE(QString::fromStdString(arabic), QStringLiteral("\u066B"));
        QCOMPARE(DecimalSeparatorOf(QLocale(QLocale::German, QLocale::Germany)), std::string(","));
        WindowFixture f;
        Workflow flow(f.programDir().toStdString(), arabic);
        flow.OpenList({f.writeBmp("photo.bmp", gradientPhoto(400, 300)).toStdString()});
        QVERIFY(flow.LoadMask(f.writeBmp("wide.bmp", vignetteMask(300, 200)).toStdString()));
        QCOMPARE(QString::fromStdString(flow.texts().MaskCaption), QStringLiteral(" Mask [1:1\u066B5] "));
        QVERIFY2(QString::fromStdString(flow.texts().OriginalCaption).endsWith(QStringLiteral("[1:1\u066B33]")),
                 flow.texts().OriginalCaption.c_str());
    }

    // Every name the open dialogs offer is decoded and named on the help
    // page, which also tells what the caption above the left preview does.
    void helpPage_NamesEveryNameTheOpenDialogsOffer()
    {
        QFile page(QStringLiteral(LUMIVANE_TEST_DATA_DIR "/../../docs/help.html"));
        QVERIFY(page.open(QIODevice::ReadOnly));
        const QString help = QString::fromUtf8(page.readAll());
        QSet<QString> suffixes;
        for (const QString& entry : toQtFilter(OpenDialogFilter()).split(QStringLiteral(";;"))) {
            const qsizetype open = entry.lastIndexOf(QLatin1Char('('));
            for (const QString& pattern : entry.mid(open + 1).chopped(1).split(QLatin1Char(' ')))
                suffixes << pattern.mid(1).toLower(); // "*.JPEG" -> ".jpeg"
        }
        QCOMPARE(suffixes.size(), 6);
        for (const QString& suffix : suffixes) {
            QVERIFY2(ImageKindBySuffix("x" + suffix.toStdString()) != ImageKind::Unknown, qPrintable(suffix));
            QVERIFY2(help.contains(QStringLiteral("<code>") + suffix + QStringLiteral("</code>")), qPrintable(suffix));
        }
        QVERIFY(!help.contains(QStringLiteral("caption above the left preview opens the file dialog")));
        QVERIFY(help.contains(QStringLiteral("defaults.ini.broken")));
    }

    // Enter presses "OK" while the panel is shown, whichever of its
    // neighbours that takes no Enter of its own has the focus.
    void enterWithAControlFocused_PressesOk_data()
    {
        QTest::addColumn<QString>("control");
        for (const char* name : {"brightness", "strength", "jpeg", "left", "top", "right", "bottom", "SmoothMaskBox"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void enterWithAControlFocused_PressesOk()
    {
        QFETCH(QString, control);
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(64, 48));
        const QString maskFile = f.writeBmp("mask.bmp", vignetteMask(64, 48));
        TForm1& form = f.start();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.activateWindow();
        f.open({photo});
        f.loadMask(maskFile);
        const std::map<QString, QWidget*> controls = {
            {QStringLiteral("brightness"), form.brightness}, {QStringLiteral("strength"), form.strength},
            {QStringLiteral("jpeg"), form.jpeg},             {QStringLiteral("left"), form.left},
            {QStringLiteral("top"), form.top},               {QStringLiteral("right"), form.right},
            {QStringLiteral("bottom"), form.bottom},         {QStringLiteral("SmoothMaskBox"), form.SmoothMaskBox}};
        QWidget* focused = controls.at(control);
        QVERIFY(focused);
        QTest::mouseClick(form.ImageButton4, Qt::LeftButton);
        QVERIFY(form.Panel4->isVisible());
        const bool smoothBefore = form.SmoothMaskBox->isChecked();
        focused->setFocus();
        QTRY_VERIFY(focused->hasFocus());
        QTest::keyClick(focused, Qt::Key_Return);
        QTRY_VERIFY(form.Panel4->isHidden());
        QVERIFY(form.Button2->isEnabled());
        QCOMPARE(form.SmoothMaskBox->isChecked(), smoothBefore);
    }
    // A click on the middle of any picture button presses it: no button's
    // artwork leaves a hole there that the click would fall through.
    void everyPictureButton_PressesAtItsCentre()
    {
        WindowFixture f;
        TForm1& form = f.startOnSecondOfThree();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        // What each button changes, and how to change it back.
        const struct {
            TImageButton* button;
            const char* name;
            std::function<QString()> state;
            std::function<void()> undo;
        } rows[] = {
            {form.ImageButton1, "previous", [&] { return QString::number(form.flow().photos().FileIndex); },
             [&] { form.Button1Click(form.ImageButton2); }},
            {form.ImageButton2, "next", [&] { return QString::number(form.flow().photos().FileIndex); },
             [&] { form.Button1Click(form.ImageButton1); }},
            {form.ImageButton3, "EXIF", [&] { return QString::number(form.Form2->isVisible()); },
             [&] { form.Form2->close(); }},
            {form.ImageButton4, "gear", [&] { return QString::number(form.Panel4->isVisible()); },
             [&] { form.Button7->click(); }},
            {form.ImageButton5, "turn left", [&] { return form.Image3->toolTip(); }, [&] { form.rot2Click(); }},
            {form.ImageButton6, "turn right", [&] { return form.Image3->toolTip(); }, [&] { form.rot1Click(); }},
        };
        for (const auto& row : rows) {
            QVERIFY2(row.button->isEnabled() && row.button->isVisible(), row.name);
            const QPoint centre(row.button->width() / 2, row.button->height() / 2);
            // The shape keeps the centre: the window finds the button there.
            QCOMPARE(form.childAt(row.button->mapTo(&form, centre)), row.button);
            const QString before = row.state();
            QTest::mouseClick(row.button, Qt::LeftButton, {}, centre);
            QVERIFY2(row.state() != before, row.name);
            row.undo();
            QCOMPARE(row.state(), before);
        }
        QCOMPARE(f.services.errors, QStringList());
    }
};

QTEST_MAIN(ControlsLookTest)
#include "ControlsLookTest.moc"
