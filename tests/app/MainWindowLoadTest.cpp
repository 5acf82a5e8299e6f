// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's layout and start-up state, opening photographs and
// stepping through the list.
#include "HostileFiles.h"
#include "JpegCodec.h"
#include "MemoryBudget.h"
#include "WindowFixture.h"
#include "WorkflowTestAccess.h"

#include "PlatformServices.h"

#include <QApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace lumivane;
using namespace lumivane::testing;

class MainWindowLoadTest : public QObject {
    Q_OBJECT

private slots:
    void window_IsFixedSizeWithCaption()
    {
        WindowFixture f;
        TForm1& form = f.start();
        QCOMPARE(form.windowTitle(), QStringLiteral(" Lumivane"));
        QCOMPARE(form.size(), QSize(597, 427));
        QCOMPARE(form.minimumSize(), form.maximumSize());
        QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(form.status->text(), QStringLiteral(" Ready."));
        QCOMPARE(form.Label6->text(), QStringLiteral("Image quality: 90% (JPEG)"));
    }

    void controls_HaveTheirPlacesAndTexts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");
        QTest::newRow("Label2") << "Label2" << QRect(6, 8, 287, 17) << "Original Image (empty)";
        QTest::newRow("Label5") << "Label5" << QRect(304, 8, 289, 17) << "Processed Image (empty)";
        QTest::newRow("Button2") << "Button2" << QRect(7, 82, 82, 25) << "&Save Image";
        QTest::newRow("Button5") << "Button5" << QRect(7, 114, 82, 25) << "&Quit";
        QTest::newRow("Button3") << "Button3" << QRect(7, 50, 82, 25) << "Load &Mask";
        QTest::newRow("BitBtn5") << "BitBtn5" << QRect(7, 18, 82, 25) << "Load Image(s)";
        QTest::newRow("Label1") << "Label1" << QRect(2, 41, 193, 13) << "Brightness: 0%";
        QTest::newRow("Label10") << "Label10" << QRect(2, 84, 193, 13) << "Vignetting reduction boost: 0%";
        QTest::newRow("status") << "status" << QRect(4, 406, 589, 18) << " Ready.";
        QTest::newRow("Label4") << "Label4" << QRect(3, 96, 94, 13) << "None";
        QTest::newRow("Panel6") << "Panel6" << QRect(6, 115, 89, 27) << "---";
        QTest::newRow("Label14") << "Label14" << QRect(24, 64, 265, 25) << "Processing...";
        QTest::newRow("Button4") << "Button4" << QRect(336, 174, 38, 25) << "S&tore";
        QTest::newRow("Button7") << "Button7" << QRect(336, 208, 65, 25) << "OK";
    }

    void controls_HaveTheirPlacesAndTexts()
    {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        WindowFixture f;
        TForm1& form = f.start();
        const QHash<QString, QWidget*> widgets = {
            {"Label2", form.Label2},   {"Label5", form.Label5},   {"Button2", form.Button2}, {"Button5", form.Button5},
            {"Button3", form.Button3}, {"BitBtn5", form.BitBtn5}, {"Label1", form.Label1},   {"Label10", form.Label10},
            {"status", form.status},   {"Label4", form.Label4},   {"Panel6", form.Panel6},   {"Label14", form.Label14},
            {"Button4", form.Button4}, {"Button7", form.Button7}};
        QWidget* w = widgets.value(name);
        QVERIFY(w);
        QCOMPARE(w->geometry(), geometry);
        if (auto* label = qobject_cast<QLabel*>(w))
            QCOMPARE(label->text(), text);
        else if (auto* button = qobject_cast<QAbstractButton*>(w))
            QCOMPARE(button->text(), text);
    }

    void beforeAnyPhotograph_ControlsAreDisabled()
    {
        WindowFixture f;
        TForm1& form = f.start();
        for (QWidget* w : std::initializer_list<QWidget*>{form.Button2, form.left, form.top, form.right, form.bottom,
                                                          form.brightness, form.strength, form.jpeg, form.ImageButton1,
                                                          form.ImageButton2, form.UpDown1, form.UpDown2,
                                                          form.SpeedButton1, form.Button4, form.BitBtn3})
            QVERIFY2(!w->isEnabled(), qPrintable(w->metaObject()->className()));
        QVERIFY(!form.Panel6->isHidden());
        QCOMPARE(form.Panel6->text(), QStringLiteral("---"));
        QVERIFY(form.Panel4->isHidden());
        QVERIFY(form.Panel8->isHidden());
        QVERIFY(form.Button1->isHidden());
        QCOMPARE(form.brightness->value(), 25);
        QCOMPARE(form.strength->value(), 0);
        QCOMPARE(form.jpeg->value(), 90);
        QVERIFY(form.Button4->toolTip().contains(QStringLiteral("It will be \r\n automagically")));
    }

    void openOne_ShowsItWithNavigationDisabled()
    {
        WindowFixture f;
        const QString photo = f.writeJpeg("IMG_0001.JPG", gradientPhoto(400, 300));
        TForm1& form = f.start();
        f.open({photo});
        QCOMPARE(f.services.openRequests.back().title, QStringLiteral(" Open Image(s)"));
        QVERIFY(f.services.openRequests.back().multiSelect);
        // The program's own entry first, then one with the longer names too.
        const QStringList entries = toQtFilter(f.services.openRequests.back().filter).split(QStringLiteral(";;"));
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[0], QStringLiteral("All supported formats (*.jpg *.JPG *.bmp *.BMP *.tif *.TIF)"));
        QVERIFY(f.services.openRequests.back().filter.startsWith(
            QStringLiteral("All supported formats |*.jpg;*.JPG;*.bmp;*.BMP;*.tif;*.TIF|")));
        const qsizetype open = entries[1].lastIndexOf(QLatin1Char('('));
        const QStringList patterns = entries[1].mid(open + 1).chopped(1).split(QLatin1Char(' '));
        for (const char* pattern : {"*.jpg", "*.jpeg", "*.JPEG", "*.jpe", "*.JPE", "*.bmp", "*.tif", "*.tiff", "*.TIFF"})
            QVERIFY2(patterns.contains(QLatin1String(pattern)), pattern);
        QVERIFY(!form.ImageButton1->isEnabled());
        QVERIFY(!form.ImageButton2->isEnabled());
        QCOMPARE(form.Button2->text(), QStringLiteral("&Save Image"));
        QCOMPARE(form.status->text(), QStringLiteral(" Showing IMG_0001.JPG [1 of 1]"));
        QCOMPARE(form.Label2->text(), QStringLiteral(" Original Image (400x300 pixels) [1:1.33]"));
        QCOMPARE(form.Label5->text(), QStringLiteral(" Processed Image (400x300 pixels) [1:1.33]"));
        QCOMPARE(form.Image4Hint(), QLatin1Char(' ') + photo + QLatin1Char(' '));
        QVERIFY(form.Button3->isEnabled());
        QCOMPARE(form.img_left->bitmap().width(), 289);
        QCOMPARE(form.img_left->bitmap().height(), 216);
        QCOMPARE(form.flow().PhotoFull().width(), 400);
        QCOMPARE(form.flow().photos().PhotoPreview.width(), 289);
        // The preview is the nearest-neighbour stretch of the decoded photograph.
        Bitmap24 expected(289, 216);
        stretchDraw(form.flow().PhotoFull(), expected);
        QVERIFY(form.img_left->bitmap() == expected);
        QVERIFY(form.img_right->bitmap() == expected);
    }

    void openFive_NextStepsToTheEnd()
    {
        WindowFixture f;
        QStringList files;
        for (int i = 1; i <= 5; ++i)
            files << f.writeBmp(QStringLiteral("p%1.bmp").arg(i), gradientPhoto(40 + i, 30, i));
        TForm1& form = f.start();
        f.open(files);
        QCOMPARE(form.Button2->text(), QStringLiteral("&Save Images"));
        QVERIFY(!form.ImageButton1->isEnabled());
        QVERIFY(form.ImageButton2->isEnabled());
        QCOMPARE(form.ProgressBar1->maximum(), 5);
        for (int i = 0; i < 4; ++i)
            form.Button1Click(form.ImageButton2);
        QVERIFY(form.status->text().endsWith(QStringLiteral("[5 of 5]")));
        QCOMPARE(form.status->text(), QStringLiteral(" Showing p5.bmp [5 of 5]"));
        QVERIFY(!form.ImageButton2->isEnabled());
        QVERIFY(form.ImageButton1->isEnabled());
        QCOMPARE(form.flow().PhotoFull().width(), 45);
        form.Button1Click(form.ImageButton1);
        QCOMPARE(form.status->text(), QStringLiteral(" Showing p4.bmp [4 of 5]"));
        QVERIFY(form.ImageButton2->isEnabled());
        QCOMPARE(f.services.openRequests.size(), size_t(1));
    }

    // Stepping and reloading load under the busy cursor, which goes when the
    // photograph is shown, also when the load ends in an error.
    void loads_RunUnderTheBusyCursor()
    {
        WindowFixture f;
        const QString a = f.writeBmp("a.bmp", gradientPhoto(30, 20));
        const QString b = f.writeBmp("b.bmp", gradientPhoto(31, 20));
        const QString maskFile = f.writeBmp("flat.bmp", vignetteMask(30, 20));
        TForm1& form = f.start();
        f.open({a, b});
        QStringList seen; // the cursor's state with the status line at that moment
        f.services.onBusyCursor = [&](bool busy) {
            seen << (busy ? QStringLiteral("busy:") : QStringLiteral("free:")) + form.flow().texts().Status.c_str();
        };
        form.Button1Click(form.ImageButton2);
        QCOMPARE(seen, (QStringList{QStringLiteral("busy: Showing a.bmp [1 of 2]"),
                                    QStringLiteral("free: Showing b.bmp [2 of 2]")}));
        seen.clear();
        QTest::mouseClick(form.Label2, Qt::LeftButton);
        QCOMPARE(seen.size(), 2);
        QVERIFY(seen[0].startsWith(QStringLiteral("busy:")));
        QCOMPARE(seen[1], QStringLiteral("free: Showing b.bmp [2 of 2]"));

        // A crop field that is no number stops the preview pass of the load.
        f.loadMask(maskFile);
        form.left->setText(QStringLiteral("x"));
        f.services.errors.clear();
        seen.clear();
        QTest::mouseClick(form.ImageButton1, Qt::LeftButton);
        QCOMPARE(f.services.errors.size(), 1);
        QVERIFY(seen.size() >= 2);
        QVERIFY(seen.first().startsWith(QStringLiteral("busy:")));
        QCOMPARE(f.services.busyCursorDepth, 0);
    }

    void clickingLabel2_ReloadsOnlyWithSeveralPhotographs()
    {
        WindowFixture f;
        const QString a = f.writeBmp("a.bmp", gradientPhoto(30, 20));
        const QString b = f.writeBmp("b.bmp", gradientPhoto(31, 20));
        TForm1& form = f.start();
        f.open({a});
        form.status->setText(QStringLiteral("marker"));
        QTest::mouseClick(form.Label2, Qt::LeftButton);
        QCOMPARE(form.status->text(), QStringLiteral("marker")); // one photograph: nothing happens
        f.open({a, b});
        form.Button1Click(form.ImageButton2);
        form.status->setText(QStringLiteral("marker"));
        QTest::mouseClick(form.Label2, Qt::LeftButton);
        QCOMPARE(form.status->text(), QStringLiteral(" Showing b.bmp [2 of 2]"));
        QCOMPARE(form.flow().photos().FileIndex, 1);
    }

    void outName_ReplacesOnlyTheLastThreeCharacters()
    {
        WindowFixture f;
        const QString tif = f.path("IMG_5.tif");
        TForm1& form = f.start();
        f.open({tif}); // not readable: the name is still derived
        QCOMPARE(QString::fromStdString(form.flow().photos().OutName), QStringLiteral("IMG_5.jpg"));
        form.jpeg->setEnabled(true);
        form.jpeg->setValue(kBmpQuality);
        form.Button1Click(form.Label2); // one photograph: no reload
        f.open({tif});
        QCOMPARE(QString::fromStdString(form.flow().photos().OutName), QStringLiteral("IMG_5.bmp"));
        form.jpeg->setValue(90);
        f.open({f.path("IMG_1.jpeg")}); // a long extension is replaced whole
        QCOMPARE(QString::fromStdString(form.flow().photos().OutName), QStringLiteral("IMG_1.jpg"));
        f.open({f.path("IMG_1.jpeg2")});
        QCOMPARE(QString::fromStdString(form.flow().photos().OutName), QStringLiteral("IMG_1.jpjpg"));
    }

    void jpegThatFailsAfterAGoodOne_KeepsPreviewsWithoutMessage()
    {
        WindowFixture f;
        const QString good = f.writeJpeg("good.jpg", gradientPhoto(120, 90));
        const QString bad = f.path("bad.jpg");
        {
            QFile file(bad);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("this is not a JPEG file at all");
        }
        TForm1& form = f.start();
        f.open({good, bad});
        const Bitmap24 before = form.img_left->bitmap();
        form.Button1Click(form.ImageButton2);
        QCOMPARE(form.status->text(), QStringLiteral(" Showing bad.jpg [2 of 2]"));
        QVERIFY(form.img_left->bitmap() == before);
        QVERIFY(f.services.errors.isEmpty());
        QVERIFY(f.services.messages.isEmpty());
        QVERIFY(!form.flow().photos().DecodeOk);
    }

    void photographAboveTheMemoryBudget_StatusNamesFileSizeAndMemory()
    {
        WindowFixture f;
        const QString good = f.writeJpeg("good.jpg", gradientPhoto(120, 90));
        const QString big = f.path("big.jpg");
        test_support::WritePatternJpeg(big.toStdString(), 8000, 6000);
        test_support::ScopedEnv limit(kMemoryLimitVariable, "64");
        TForm1& form = f.start();
        f.open({good, big});
        const Bitmap24 before = form.img_left->bitmap();
        form.Button1Click(form.ImageButton2);
        const QString text = form.status->text();
        const std::uint64_t mib = (MemoryNeededFor(8000, 6000) + (1 << 20) - 1) >> 20;
        for (const QString& part : {big, QStringLiteral("8000 x 6000"), QString::number(mib) + QStringLiteral(" MiB")})
            QVERIFY2(text.contains(part), qPrintable(part + QStringLiteral(" missing from: ") + text));
        QVERIFY(form.img_left->bitmap() == before);
        QVERIFY(!form.flow().photos().DecodeOk);
    }

    // A FIFO named as a photograph (whose plain open would wait for a
    // writer forever), a scan bomb, a JPEG cut in half and more, opened through
    // the window's dialog: each load returns (the test would hang
    // otherwise) with the status line saying what happened.
    void hostileFiles_ReturnWithAMessageInTheStatusLine()
    {
        WindowFixture f;
        const QString good = f.writeJpeg("good.jpg", gradientPhoto(120, 90));
        const QString fifo = f.path("fifo.jpg");
        QVERIFY(::mkfifo(fifo.toLocal8Bit().constData(), 0600) == 0);
        const std::vector<std::uint8_t> bomb =
            test_support::RepeatLastScan(test_support::PatternProgressiveJpeg(64, 48), 5000);
        const QString bombPath = f.writeBytes("bomb.jpg", QByteArray(reinterpret_cast<const char*>(bomb.data()),
                                                                      qsizetype(bomb.size())));
        const std::vector<std::uint8_t> cutBytes =
            test_support::CutInItsLastScan(EncodeJpeg(gradientPhoto(120, 96), 90));
        const QString cut = f.writeBytes("cut.jpg", QByteArray(reinterpret_cast<const char*>(cutBytes.data()),
                                                                qsizetype(cutBytes.size())));
        // A device (read whole, it would never end), a folder, and a JPEG
        // followed by 3 GB of padding (a sparse file: only the bytes up to
        // its end marker are read).
        const QString zero = f.path("zero.jpg");
        QVERIFY(::symlink("/dev/zero", zero.toLocal8Bit().constData()) == 0);
        const QString folder = f.path("folder.jpg");
        QVERIFY(QDir().mkdir(folder));
        const QString padded = f.writeJpeg("padded.jpg", gradientPhoto(120, 90));
        QVERIFY(::truncate(padded.toLocal8Bit().constData(), off_t(3) << 30) == 0);
        TForm1& form = f.start();
        f.open({good, fifo, bombPath, cut, zero, folder, padded});
        form.Button1Click(form.ImageButton2);
        QCOMPARE(form.status->text(), QLatin1Char(' ') + fifo + QStringLiteral(": not a regular file"));
        form.Button1Click(form.ImageButton2);
        // Refused by whichever bound it passes first: the number of scans
        // or the blocks they decode.
        QVERIFY2(form.status->text().startsWith(QStringLiteral(" bomb.jpg: JPEG ")) &&
                     form.status->text().endsWith(QStringLiteral("(a file that would take minutes to decode)")),
                 qPrintable(form.status->text()));
        QVERIFY(!form.flow().photos().DecodeOk);
        form.Button1Click(form.ImageButton2);
        QVERIFY2(form.status->text().startsWith(QStringLiteral(" Showing cut.jpg [4 of 7], damaged: JPEG ends early: ")),
                 qPrintable(form.status->text()));
        QVERIFY(form.flow().photos().DecodeOk);
        form.Button1Click(form.ImageButton2);
        QCOMPARE(form.status->text(), QLatin1Char(' ') + zero + QStringLiteral(": not a regular file"));
        form.Button1Click(form.ImageButton2);
        QCOMPARE(form.status->text(), QLatin1Char(' ') + folder + QStringLiteral(": is a folder"));
        form.Button1Click(form.ImageButton2);
        QCOMPARE(form.status->text(), QStringLiteral(" Showing padded.jpg [7 of 7]"));
        QVERIFY(form.flow().photos().DecodeOk);
    }

    void photographsOfOneSize_TakeTurnsInTwoBlocksOfStorage()
    {
        WindowFixture f;
        const QList<Bitmap24> images = {gradientPhoto(160, 120, 0), gradientPhoto(160, 120, 50),
                                        gradientPhoto(160, 120, 100), gradientPhoto(150, 100, 150)};
        const QStringList files = {f.writeBmp("a.bmp", images[0]), f.writeJpeg("b.jpg", images[1]),
                                   f.writeBmp("c.bmp", images[2]), f.writeBmp("d.bmp", images[3])};
        TForm1& form = f.start();
        f.open(files);
        QList<const std::uint8_t*> blocks = {form.flow().PhotoFull().data()};
        for (int i = 1; i < files.size(); ++i) {
            form.Button1Click(form.ImageButton2);
            blocks << form.flow().PhotoFull().data();
            QCOMPARE(form.flow().PhotoFull().width(), images[i].width());
            if (files[i].endsWith(QStringLiteral(".bmp")))
                QVERIFY(form.flow().PhotoFull() == images[i]);
            Bitmap24 preview(289, 216);
            stretchDraw(form.flow().PhotoFull(), preview);
            QVERIFY(form.img_left->bitmap() == preview);
        }
        QVERIFY(blocks[1] != blocks[0]);
        QCOMPARE(blocks[2], blocks[0]);
        QCOMPARE(blocks[3], blocks[1]); // a smaller photograph reuses the block too
    }

    void firstFileUnreadable_ShowsEmptyPicture()
    {
        WindowFixture f;
        TForm1& form = f.start();
        f.open({f.path("missing.bmp")});
        QVERIFY(!form.flow().photos().PhotoPresent);
        QCOMPARE(form.Label2->text(), QStringLiteral(" Original Image (empty)"));
        QVERIFY(!form.Button2->isEnabled());
        QVERIFY(f.services.errors.isEmpty());
    }

    void photograph3000x2000_LabelShowsRatio1_5()
    {
        WindowFixture f;
        const QString photo = f.writeJpeg("wide.jpg", solid(3000, 2000, packColour(90, 100, 110)), 80);
        TForm1& form = f.start();
        f.open({photo});
        QCOMPARE(form.Label2->text(), QStringLiteral(" Original Image (3000x2000 pixels) [1:1.5]"));
    }

    void cancellingTheDialogWhileThirdShown_ReloadsFirst()
    {
        WindowFixture f;
        QStringList files;
        for (int i = 1; i <= 4; ++i)
            files << f.writeBmp(QStringLiteral("c%1.bmp").arg(i), gradientPhoto(20 + i, 20, i));
        TForm1& form = f.start();
        f.open(files);
        form.Button1Click(form.ImageButton2);
        form.Button1Click(form.ImageButton2);
        QCOMPARE(form.flow().photos().FileIndex, 2);
        form.Button1Click(form.BitBtn5); // no answer queued: cancelled
        QCOMPARE(form.flow().photos().FileIndex, 0);
        QCOMPARE(form.status->text(), QStringLiteral(" Showing c1.bmp [1 of 4]"));
        QVERIFY(!form.ImageButton1->isEnabled());
        QVERIFY(form.ImageButton2->isEnabled());
        QCOMPARE(form.flow().PhotoFull().width(), 21);
    }

    void cancellingWithEmptyList_ChangesNothing()
    {
        WindowFixture f;
        TForm1& form = f.start();
        form.Button1Click(form.BitBtn5);
        QCOMPARE(form.status->text(), QStringLiteral(" Ready."));
        QCOMPARE(form.ListBox1->count(), 0);
        QVERIFY(QString::fromStdString(form.flow().photos().CurrentFile).isEmpty());
        QCOMPARE(form.Label2->text(), QStringLiteral("Original Image (empty)"));
    }

    void altQ_ClosesTheWindow()
    {
        WindowFixture f;
        TForm1& form = f.start();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTest::keyClick(&form, Qt::Key_Q, Qt::AltModifier);
        QTRY_VERIFY(!form.isVisible());
    }

    // Alt+S ("&Save Image") and Alt+M ("Load &Mask") press their buttons
    // exactly while those are enabled.
    void altKeys_PressTheirButtonsOnlyWhileEnabled_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("ready");
        QTest::newRow("Alt+S before a mask") << int(Qt::Key_S) << false;
        QTest::newRow("Alt+S with a mask") << int(Qt::Key_S) << true;
        QTest::newRow("Alt+M before a photograph") << int(Qt::Key_M) << false;
        QTest::newRow("Alt+M with a photograph") << int(Qt::Key_M) << true;
    }
    void altKeys_PressTheirButtonsOnlyWhileEnabled()
    {
        QFETCH(int, key);
        QFETCH(bool, ready);
        WindowFixture f;
        TForm1& form = f.start();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        if (ready) {
            f.open({f.writeBmp("photo.bmp", gradientPhoto(64, 48))});
            if (key == Qt::Key_S)
                f.loadMask(f.writeBmp("mask.bmp", vignetteMask(64, 48)));
        }
        const size_t opensBefore = f.services.openRequests.size();
        QTest::keyClick(&form, Qt::Key(key), Qt::AltModifier);
        if (key == Qt::Key_S) {
            if (ready)
                QTRY_COMPARE(f.services.saveRequests.size(), size_t(1));
            QTest::qWait(50);
            QCOMPARE(f.services.saveRequests.size(), size_t(ready ? 1 : 0));
        } else {
            if (ready)
                QTRY_COMPARE(f.services.openRequests.size(), opensBefore + 1);
            QTest::qWait(50);
            QCOMPARE(f.services.openRequests.size(), opensBefore + (ready ? 1 : 0));
            if (ready)
                QCOMPARE(f.services.openRequests.back().title, QStringLiteral(" Open Mask"));
        }
        QVERIFY(f.services.messages.isEmpty());
    }

    // The three scroll bars are ordinary keyboard controls: Tab reaches them,
    // the arrow keys move them, and leaving "brightness" refreshes the
    // processed preview.
    void scrollBars_TakeTheFocusAndFollowTheArrowKeys()
    {
        WindowFixture f;
        TForm1& form = f.start();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.activateWindow();
        f.open({f.writeBmp("photo.bmp", gradientPhoto(64, 48))});
        f.loadMask(f.writeBmp("mask.bmp", vignetteMask(64, 48)));
        form.brightness->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(form.brightness->hasFocus());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTRY_VERIFY(form.strength->hasFocus());
        const int before = form.strength->value();
        QTest::keyClick(form.strength, Qt::Key_Right);
        QCOMPARE(form.strength->value(), before + 1);
        QTest::keyClick(form.strength, Qt::Key_Left);
        QCOMPARE(form.strength->value(), before);
        QTest::keyClick(form.strength, Qt::Key_End);
        QCOMPARE(form.strength->value(), 100);
        QTest::keyClick(form.strength, Qt::Key_Home);
        QCOMPARE(form.strength->value(), 0);
        QTest::keyClick(form.strength, Qt::Key_Right);
        QVERIFY(form.img_right->bitmap() == expectedPreview(form));

        form.brightness->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(form.brightness->hasFocus());
        // A level the preview was not computed with.
        const lumivane::MaskState& m = form.flow().mask();
        lumivane::WorkflowTestAccess::SetHotspotLevels(form.flow(), 120, m.HotspotG, m.HotspotB);
        QVERIFY(!(form.img_right->bitmap() == expectedPreview(form)));
        form.jpeg->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(form.jpeg->hasFocus());
        QVERIFY(form.img_right->bitmap() == expectedPreview(form));
    }

    // The captions above the previews stay readable in the room the layout
    // gives them: "Original Image" between the arrows and the EXIF button.
    void longCaptions_FitBetweenTheButtons()
    {
        WindowFixture f;
        TForm1& form = f.start();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QRect caption = form.Label2->geometry();
        const int centre = caption.x() + caption.width() / 2;
        const int room = form.Label2->freeWidth();
        QVERIFY(centre - room / 2 >= form.ImageButton1->geometry().right());
        QVERIFY(centre + (room + 1) / 2 <= form.ImageButton3->x());

        const QString shortText = QStringLiteral(" Original Image (empty)");
        form.Label2->setText(shortText);
        QCOMPARE(form.Label2->fittedFont(), form.Label2->font());
        QCOMPARE(form.Label2->paintedText(), shortText);

        for (TFitLabel* label : {static_cast<TFitLabel*>(form.Label2), form.Label5}) {
            const QString longText = QStringLiteral(" Original Image (6000x4000 pixels) [1:1.5]");
            label->setText(longText);
            const QFont fitted = label->fittedFont();
            QVERIFY(QFontInfo(fitted).pixelSize() < QFontInfo(label->font()).pixelSize() || label == form.Label5);
            QVERIFY(QFontMetrics(fitted).horizontalAdvance(label->paintedText()) <= label->freeWidth());
            QCOMPARE(label->paintedText(), longText); // smaller, but whole
        }
        form.Label2->setText(QStringLiteral(" Original Image (123456789x987654321 pixels) [1:0.13]"));
        QVERIFY(QFontMetrics(form.Label2->fittedFont()).horizontalAdvance(form.Label2->paintedText()) <=
                form.Label2->freeWidth());
        QVERIFY(form.Label2->grab().width() > 0);
    }
};

QTEST_MAIN(MainWindowLoadTest)
#include "MainWindowLoadTest.moc"
