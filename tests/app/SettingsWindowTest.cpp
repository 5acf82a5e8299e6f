// SPDX-License-Identifier: GPL-3.0-or-later
// defaults.ini and default_mask.bmp: what start-up takes from them, Store
// and Free default mask, and damaged or unusual files.
#include "WindowFixture.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <sys/stat.h>

using namespace lumivane;
using namespace lumivane::testing;

namespace {

QString iniPath(WindowFixture& f)
{
    return f.programDir() + QStringLiteral("/defaults.ini");
}

// The hotspot a fresh start without a stored one has: levels 0 and the
// centre of the 320 x 240 adjustment image, which means "none chosen".
void checkHotspotDefaults(TForm1& form)
{
    QCOMPARE(form.flow().mask().HotspotR, 0);
    QCOMPARE(form.flow().mask().HotspotG, 0);
    QCOMPARE(form.flow().mask().HotspotB, 0);
    QCOMPARE(form.flow().mask().HotspotX, kNoHotspotX);
    QCOMPARE(form.flow().mask().HotspotY, kNoHotspotY);
    QCOMPARE(form.flow().mask().MarkerX, kNoHotspotX);
    QCOMPARE(form.flow().mask().MarkerY, kNoHotspotY);
    QVERIFY(!form.flow().mask().StoredHotspotPending);
}

void checkStartDefaults(TForm1& form)
{
    QCOMPARE(form.Label6->text(), QStringLiteral("Image quality: 90% (JPEG)"));
    QCOMPARE(QString::fromStdString(form.flow().settings().IniBrightness), QStringLiteral("25"));
    QCOMPARE(QString::fromStdString(form.flow().settings().IniStrength), QStringLiteral("0"));
    QCOMPARE(QString::fromStdString(form.flow().settings().IniQuality), QStringLiteral("90"));
    QVERIFY(QString::fromStdString(form.flow().settings().DefaultMask).isEmpty());
    QVERIFY(QString::fromStdString(form.flow().photos().MaskFile).isEmpty());
    QCOMPARE(form.Label4->text(), QStringLiteral("None"));
    checkHotspotDefaults(form);
}

// Chooses a hotspot in the adjustment panel at (x, y) and confirms it.
void pickHotspot(TForm1& form, int x, int y)
{
    // The panel follows the mouse only while it is on screen.
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.Button6Click();
    form.FormMouseMove(x, y);
    form.image2Click();
    form.Button7->click();
}

// Opens a photograph, loads `maskFile`, sets the sliders, picks a hotspot at
// (200, 90) and stores it all.
void storeDefaults(WindowFixture& f, const QString& photo, const QString& maskFile)
{
    TForm1& form = f.startWithMask(photo, maskFile);
    form.brightness->setValue(33);
    form.strength->setValue(45);
    form.jpeg->setValue(77);
    pickHotspot(form, 200, 90);
    form.Button4->click();
}

} // namespace

class SettingsTest : public QObject {
    Q_OBJECT

private slots:
    void noFile_StartsWithDefaultsAndLoadsNoMask()
    {
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(100, 80));
        TForm1& form = f.start();
        checkStartDefaults(form);
        QCOMPARE(f.services.errors, QStringList());
        f.open({photo});
        QCOMPARE(f.services.openRequests.size(), size_t(1));
        QVERIFY(!form.flow().mask().MaskLoaded);
        QVERIFY(!QFileInfo::exists(iniPath(f)));
    }

    void store_ThenRestart_LoadsDefaultMaskAndStoredSliders()
    {
        WindowFixture f;
        const Bitmap24 maskImage = vignetteMask(160, 120);
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(160, 120));
        const QString maskFile = f.writeBmp("flat.bmp", maskImage);
        storeDefaults(f, photo, maskFile);
        QCOMPARE(f.services.errors, QStringList());
        QVERIFY(f.form().BitBtn3->isEnabled());

        Bitmap24 panelView(320, 240);
        stretchDraw(maskImage, panelView);
        const Colour picked = panelView.pixel(200, 90);
        const QString defaultMask = f.programDir() + QStringLiteral("/default_mask.bmp");
        const QByteArray expectedIni = QStringLiteral("33\r\n45\r\n77\r\n%1\r\n%2\r\n%3\r\n%4\r\n200\r\n90\r\n")
                                           .arg(defaultMask)
                                           .arg(redOf(picked))
                                           .arg(greenOf(picked))
                                           .arg(blueOf(picked))
                                           .toUtf8();
        const QByteArray ini = fileBytes(iniPath(f));
        QCOMPARE(ini, expectedIni);
        QCOMPARE(ini.count("\r\n"), 9);
        QVERIFY(ReadBmpFile(defaultMask.toStdString()) == maskImage);

        f.restart();
        TForm1& form = f.form();
        QCOMPARE(form.Label6->text(), QStringLiteral("Image quality: 77% (JPEG)"));
        QCOMPARE(form.Label4->text(), QStringLiteral("...fault_mask.bmp")); // 16 characters
        QVERIFY(form.Image3->bitmap() == thumbnailOf(maskImage));
        QCOMPARE(form.brightness->value(), 25); // applied only by the first mask load
        const size_t dialogsBefore = f.services.openRequests.size();
        const QString second = f.writeBmp("second.bmp", gradientPhoto(320, 240, 9));
        f.open({second});
        QCOMPARE(f.services.openRequests.size(), dialogsBefore + 1); // the photograph's dialog only
        QVERIFY(form.flow().mask().MaskLoaded);
        QCOMPARE(QString::fromStdString(form.flow().photos().LastMaskFile), defaultMask);
        QVERIFY(form.flow().mask().MaskImage == maskImage);
        QCOMPARE(form.brightness->value(), 33);
        QCOMPARE(form.strength->value(), 45);
        QCOMPARE(form.jpeg->value(), 77);
        QCOMPARE(form.Label6->text(), QStringLiteral("Save quality: 77% (JPEG)"));
        QCOMPARE(form.flow().mask().HotspotR, int(redOf(picked)));
        QCOMPARE(form.flow().mask().HotspotG, int(greenOf(picked)));
        QCOMPARE(form.flow().mask().HotspotB, int(blueOf(picked)));
        QCOMPARE(form.flow().mask().HotspotX, 200);
        QCOMPARE(form.flow().mask().HotspotY, 90);

        // A second photograph keeps the sliders where the user moved them.
        form.brightness->setValue(10);
        f.open({photo});
        QCOMPARE(f.services.openRequests.size(), dialogsBefore + 2);
        QCOMPARE(form.brightness->value(), 10);
        QCOMPARE(f.services.errors, QStringList());
    }

    void freeDefaultMask_ThenRestart_LoadsNoMask()
    {
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(160, 120));
        const QString maskFile = f.writeBmp("flat.bmp", vignetteMask(160, 120));
        storeDefaults(f, photo, maskFile);
        f.form().BitBtn3->click();
        QVERIFY(!f.form().BitBtn3->isEnabled());
        QVERIFY(f.form().flow().mask().MaskLoaded); // the mask in use stays
        QCOMPARE(fileBytes(iniPath(f)), QByteArray("33\r\n45\r\n77\r\nnone\r\n"));
        QVERIFY(QFileInfo::exists(f.programDir() + QStringLiteral("/default_mask.bmp")));

        f.restart();
        TForm1& form = f.form();
        QCOMPARE(form.Label6->text(), QStringLiteral("Image quality: 77% (JPEG)"));
        QVERIFY(QString::fromStdString(form.flow().settings().DefaultMask).isEmpty());
        QCOMPARE(form.Label4->text(), QStringLiteral("None"));
        checkHotspotDefaults(form);
        const size_t dialogsBefore = f.services.openRequests.size();
        f.open({photo});
        QCOMPARE(f.services.openRequests.size(), dialogsBefore + 1);
        QVERIFY(!form.flow().mask().MaskLoaded);
        QCOMPARE(f.services.errors, QStringList());
    }

    void storedHotspot_NeedsATwoCharacterRedLevel_data()
    {
        QTest::addColumn<QByteArray>("red");
        QTest::addColumn<bool>("applied");
        QTest::newRow("one digit") << QByteArray("7") << false;
        QTest::newRow("empty line") << QByteArray("") << false;
        QTest::newRow("two digits") << QByteArray("17") << true;
        QTest::newRow("three digits") << QByteArray("250") << true;
    }
    void storedHotspot_NeedsATwoCharacterRedLevel()
    {
        QFETCH(QByteArray, red);
        QFETCH(bool, applied);
        WindowFixture f;
        const QString maskFile = f.writeBmp("flat.bmp", vignetteMask(160, 120));
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(160, 120));
        f.writeIni("30\r\n20\r\n80\r\n" + maskFile.toUtf8() + "\r\n" + red + "\r\n100\r\n90\r\n210\r\n70\r\n");
        TForm1& form = f.start();
        QCOMPARE(f.services.errors, QStringList());
        QCOMPARE(QString::fromStdString(form.flow().settings().DefaultMask), maskFile);
        if (!applied) {
            checkHotspotDefaults(form);
        } else {
            QCOMPARE(form.flow().mask().HotspotR, red.toInt());
            QCOMPARE(form.flow().mask().HotspotG, 100);
            QCOMPARE(form.flow().mask().HotspotB, 90);
            QCOMPARE(form.flow().mask().HotspotX, 210);
            QCOMPARE(form.flow().mask().HotspotY, 70);
            QCOMPARE(form.flow().mask().MarkerX, 210);
            QCOMPARE(form.flow().mask().MarkerY, 70);
            QVERIFY(form.flow().mask().StoredHotspotPending);
        }
        f.open({photo});
        QVERIFY(form.flow().mask().MaskLoaded);
        if (!applied) {
            // Levels come from the mask's centre instead.
            QCOMPARE(form.flow().mask().HotspotX, kNoHotspotX);
            QVERIFY(form.flow().mask().HotspotR > 150);
        } else {
            QCOMPARE(form.flow().mask().HotspotR, red.toInt());
            QCOMPARE(form.flow().mask().HotspotX, 210);
        }
    }

    void defaultMaskLabel_ShortensLongNames_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("label");
        QTest::newRow("22 characters") << "my_flat_field_mask.bmp" << "...field_mask.bmp";
        QTest::newRow("15 characters") << "mask_15_chr.bmp" << "...ask_15_chr.bmp";
        QTest::newRow("14 characters") << "mask_14_ch.bmp" << "mask_14_ch.bmp";
    }
    void defaultMaskLabel_ShortensLongNames()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, label);
        WindowFixture f;
        const QString maskFile = f.writeBmp(fileName, vignetteMask(64, 48));
        f.writeIni("25\r\n0\r\n90\r\n" + maskFile.toUtf8() + "\r\n");
        TForm1& form = f.start();
        QCOMPARE(form.Label4->text(), label);
        QCOMPARE(QString::fromStdString(form.flow().photos().MaskFile), maskFile);
        QVERIFY(form.Image3->bitmap() == thumbnailOf(vignetteMask(64, 48)));
        QCOMPARE(f.services.errors, QStringList());
    }

    void storedQuality_SetsTheLabelAtStart_data()
    {
        QTest::addColumn<QByteArray>("quality");
        QTest::addColumn<QString>("label");
        QTest::newRow("101") << QByteArray("101") << "No compression (BMP)";
        QTest::newRow("75") << QByteArray("75") << "Image quality: 75% (JPEG)";
        QTest::newRow("100") << QByteArray("100") << "Image quality: 100% (JPEG)";
    }
    void storedQuality_SetsTheLabelAtStart()
    {
        QFETCH(QByteArray, quality);
        QFETCH(QString, label);
        WindowFixture f;
        f.writeIni("25\r\n0\r\n" + quality + "\r\nnone\r\n");
        TForm1& form = f.start();
        QCOMPARE(form.Label6->text(), label);
        QCOMPARE(f.services.errors, QStringList());
    }

    void lineEndings_AllReadTheSame_data()
    {
        QTest::addColumn<QByteArray>("ending");
        QTest::addColumn<bool>("lastEnded");
        QTest::newRow("CR LF") << QByteArray("\r\n") << true;
        QTest::newRow("LF") << QByteArray("\n") << true;
        QTest::newRow("CR") << QByteArray("\r") << true;
        QTest::newRow("LF, last line open") << QByteArray("\n") << false;
    }
    void lineEndings_AllReadTheSame()
    {
        QFETCH(QByteArray, ending);
        QFETCH(bool, lastEnded);
        WindowFixture f;
        const QString maskFile = f.writeBmp("flat.bmp", vignetteMask(64, 48));
        const QList<QByteArray> lines = {"12", "34", "56", maskFile.toUtf8(), "21", "22", "23", "240", "60"};
        QByteArray content = lines.join(ending);
        if (lastEnded)
            content += ending;
        f.writeIni(content);
        TForm1& form = f.start();
        QCOMPARE(f.services.errors, QStringList());
        QCOMPARE(QString::fromStdString(form.flow().settings().IniBrightness), QStringLiteral("12"));
        QCOMPARE(QString::fromStdString(form.flow().settings().IniStrength), QStringLiteral("34"));
        QCOMPARE(QString::fromStdString(form.flow().settings().IniQuality), QStringLiteral("56"));
        QCOMPARE(QString::fromStdString(form.flow().settings().DefaultMask), maskFile);
        QCOMPARE(form.Label4->text(), QStringLiteral("flat.bmp"));
        QCOMPARE(form.Label6->text(), QStringLiteral("Image quality: 56% (JPEG)"));
        QCOMPARE(form.flow().mask().HotspotR, 21);
        QCOMPARE(form.flow().mask().HotspotG, 22);
        QCOMPARE(form.flow().mask().HotspotB, 23);
        QCOMPARE(form.flow().mask().MarkerX, 240);
        QCOMPARE(form.flow().mask().MarkerY, 60);
    }

    // A FIFO would block a reader that opens it for reading until a writer
    // comes: the window must start at once all the same.
    void unreadableFile_IsReportedAndDefaultsApply_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("far too large") << QStringLiteral("large");
        QTest::newRow("a directory") << QStringLiteral("directory");
        QTest::newRow("a FIFO") << QStringLiteral("fifo");
    }
    void unreadableFile_IsReportedAndDefaultsApply()
    {
        QFETCH(QString, kind);
        WindowFixture f;
        if (kind == QStringLiteral("directory"))
            QVERIFY(QDir().mkpath(iniPath(f)));
        else if (kind == QStringLiteral("fifo"))
            QVERIFY(::mkfifo(iniPath(f).toLocal8Bit().constData(), 0600) == 0);
        else
            f.writeIni(QByteArray(2 << 20, '1'));
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(100, 80));
        const QString maskFile = f.writeBmp("flat.bmp", vignetteMask(100, 80));
        TForm1& form = f.start();
        QCOMPARE(f.services.errors.size(), 1);
        QVERIFY2(f.services.errors[0].contains(QStringLiteral("defaults.ini")), qPrintable(f.services.errors[0]));
        checkStartDefaults(form);
        QVERIFY(!form.brightness->isEnabled());

        // The first mask load applies the default positions, without errors.
        f.open({photo});
        f.loadMask(maskFile);
        QVERIFY(form.flow().mask().MaskLoaded);
        QCOMPARE(form.brightness->value(), 25);
        QCOMPARE(form.strength->value(), 0);
        QCOMPARE(form.jpeg->value(), 90);
        QCOMPARE(form.Label6->text(), QStringLiteral("Save quality: 90% (JPEG)"));
        QCOMPARE(f.services.errors.size(), 1);
    }

    // A stored default mask that is a FIFO is passed over at start, as a
    // missing one is, without waiting for a writer to come; the stored
    // sliders still apply.
    void defaultMaskThatIsAFifo_IsPassedOverWithoutBlocking()
    {
        WindowFixture f;
        const QString fifo = f.path("default_mask.bmp");
        QVERIFY(::mkfifo(fifo.toLocal8Bit().constData(), 0600) == 0);
        f.writeIni("31\r\n44\r\n80\r\n" + fifo.toUtf8() + "\r\n");
        QElapsedTimer clock;
        clock.start();
        TForm1& form = f.start();
        f.open({f.writeBmp("photo.bmp", gradientPhoto(100, 80))});
        QVERIFY(clock.elapsed() < 2000);
        QVERIFY(!form.flow().mask().MaskLoaded);
        QVERIFY(form.flow().settings().DefaultMask.empty());
        QCOMPARE(form.Label4->text(), QStringLiteral("None"));
        QCOMPARE(f.services.errors, QStringList());
        QCOMPARE(QString::fromStdString(form.flow().settings().IniQuality), QStringLiteral("80"));
    }

    // "MASK" in the content stands for the path of an existing mask file.
    void brokenLines_CostOnlyWhatTheyHold_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("says");
        QTest::addColumn<QList<int>>("sliders");
        QTest::addColumn<bool>("defaultMask");
        QTest::newRow("hotspot level not a number")
            << QByteArray("40\r\n50\r\n60\r\nMASK\r\n2x0\r\n100\r\n100\r\n100\r\n100\r\n")
            << QStringLiteral(" defaults.ini line 5 ignored") << QList<int>{40, 50, 60} << true;
        QTest::newRow("hotspot lines missing")
            << QByteArray("40\r\n50\r\n60\r\nMASK\r\n200\r\n100\r\n")
            << QStringLiteral(" defaults.ini line 7 ignored; defaults.ini line 8 ignored; defaults.ini line 9 ignored")
            << QList<int>{40, 50, 60} << true;
        QTest::newRow("quality not a number")
            << QByteArray("40\r\n50\r\nabc\r\nMASK\r\n") << QStringLiteral(" defaults.ini line 3 ignored")
            << QList<int>{40, 50, 90} << true;
        QTest::newRow("brightness not a number")
            << QByteArray("bright\r\n50\r\n60\r\nnone\r\n") << QStringLiteral(" defaults.ini line 1 ignored")
            << QList<int>{25, 50, 60} << false;
        QTest::newRow("strength too large for a number")
            << QByteArray("40\r\n99999999999\r\n60\r\nnone\r\n") << QStringLiteral(" defaults.ini line 2 ignored")
            << QList<int>{40, 0, 60} << false;
        QTest::newRow("binary garbage")
            << QByteArray("\x00\xff\xfe\x01garbage\x80\r\n\x81\x82", 16)
            << QStringLiteral(" defaults.ini line 1 ignored; defaults.ini line 2 ignored; defaults.ini line 3 ignored")
            << QList<int>{25, 0, 90} << false;
        QTest::newRow("empty file")
            << QByteArray()
            << QStringLiteral(" defaults.ini line 1 ignored; defaults.ini line 2 ignored; defaults.ini line 3 ignored")
            << QList<int>{25, 0, 90} << false;
    }
    void brokenLines_CostOnlyWhatTheyHold()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, says);
        QFETCH(QList<int>, sliders);
        QFETCH(bool, defaultMask);
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(100, 80));
        const QString maskFile = f.writeBmp("flat.bmp", vignetteMask(100, 80));
        content.replace("MASK", maskFile.toUtf8());
        f.writeIni(content);
        TForm1& form = f.start();
        QCOMPARE(f.services.errors, QStringList());
        QCOMPARE(form.status->text(), says);
        checkHotspotDefaults(form);

        // The default mask comes with the first photograph whatever else the
        // file holds; the sliders take the lines that were sound.
        f.open({photo});
        QCOMPARE(form.flow().mask().MaskLoaded, defaultMask);
        if (!defaultMask)
            f.loadMask(maskFile);
        QVERIFY(form.flow().mask().MaskLoaded);
        QCOMPARE(form.brightness->value(), sliders[0]);
        QCOMPARE(form.strength->value(), sliders[1]);
        QCOMPARE(form.jpeg->value(), sliders[2]);
        QCOMPARE(f.services.errors, QStringList());

        // Store replaces the file only once a copy of it is kept.
        form.Button4->click();
        QCOMPARE(f.services.errors, QStringList());
        QCOMPARE(fileBytes(iniPath(f) + QStringLiteral(".broken")), content);
        QVERIFY(fileBytes(iniPath(f)).startsWith(QByteArray::number(sliders[0]) + "\r\n"));
        // A sound file is replaced without a copy.
        QVERIFY(QFile::remove(iniPath(f) + QStringLiteral(".broken")));
        form.BitBtn3->click();
        QVERIFY(!QFile::exists(iniPath(f) + QStringLiteral(".broken")));
    }

    void storedPositionOutsideRange_IsClampedAtFirstMaskLoad_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("brightness");
        QTest::addColumn<int>("strength");
        QTest::addColumn<int>("quality");
        QTest::addColumn<QString>("label");
        QTest::newRow("above") << QByteArray("80\r\n150\r\n250\r\n") << 50 << 100 << 101 << "No compression (BMP)";
        QTest::newRow("below") << QByteArray("-5\r\n-1\r\n0\r\n") << 0 << 0 << 1 << "Save quality: 1% (JPEG)";
        QTest::newRow("at the ends") << QByteArray("0\r\n100\r\n101\r\n") << 0 << 100 << 101 << "No compression (BMP)";
        QTest::newRow("inside") << QByteArray("26\r\n3\r\n42\r\n") << 26 << 3 << 42 << "Save quality: 42% (JPEG)";
    }
    void storedPositionOutsideRange_IsClampedAtFirstMaskLoad()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, brightness);
        QFETCH(int, strength);
        QFETCH(int, quality);
        QFETCH(QString, label);
        WindowFixture f;
        f.writeIni(stored + "none\r\n");
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(100, 80));
        const QString maskFile = f.writeBmp("flat.bmp", vignetteMask(100, 80));
        TForm1& form = f.start();
        f.open({photo});
        QVERIFY(!form.flow().mask().MaskLoaded);
        f.loadMask(maskFile);
        QVERIFY(form.flow().mask().MaskLoaded);
        QCOMPARE(form.brightness->value(), brightness);
        QCOMPARE(form.strength->value(), strength);
        QCOMPARE(form.jpeg->value(), quality);
        QCOMPARE(form.Label6->text(), label);
        QCOMPARE(f.services.errors, QStringList());
        QCOMPARE(form.flow().photos().FirstMaskPending, std::uint8_t(0));
    }

    void storeThatCannotWrite_SaysSoAndChangesNothing_data()
    {
        QTest::addColumn<QString>("blocked");
        QTest::addColumn<QByteArray>("earlierIni");
        QTest::newRow("defaults.ini is a directory") << "defaults.ini" << QByteArray();
        QTest::newRow("default_mask.bmp is a directory, earlier settings")
            << "default_mask.bmp" << QByteArray("20\r\n10\r\n70\r\nnone\r\n");
        QTest::newRow("default_mask.bmp is a directory, no earlier settings") << "default_mask.bmp" << QByteArray();
    }
    void storeThatCannotWrite_SaysSoAndChangesNothing()
    {
        QFETCH(QString, blocked);
        QFETCH(QByteArray, earlierIni);
        WindowFixture f;
        const QString blockedPath = f.programDir() + QLatin1Char('/') + blocked;
        QVERIFY(QDir().mkpath(blockedPath + QStringLiteral("/inside")));
        if (!earlierIni.isEmpty())
            f.writeIni(earlierIni);
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(100, 80));
        const QString maskFile = f.writeBmp("flat.bmp", vignetteMask(100, 80));
        TForm1& form = f.startWithMask(photo, maskFile);
        const int errorsBefore = int(f.services.errors.size());
        const QStringList entriesBefore =
            QDir(f.programDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);

        form.Button4->click();

        QCOMPARE(int(f.services.errors.size()), errorsBefore + 1);
        QVERIFY2(f.services.errors.last().contains(blockedPath), qPrintable(f.services.errors.last()));
        QCOMPARE(leftovers(f.programDir()), QStringList());
        QCOMPARE(QDir(f.programDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name),
                 entriesBefore);
        if (!earlierIni.isEmpty())
            QCOMPARE(fileBytes(iniPath(f)), earlierIni);
        QVERIFY(QFileInfo(blockedPath).isDir());
        QVERIFY(!form.BitBtn3->isEnabled());
    }
};

QTEST_MAIN(SettingsTest)
#include "SettingsWindowTest.moc"
