// SPDX-License-Identifier: GPL-3.0-or-later
// lumivane-cli writes byte for byte the files "Save Images" writes from the
// same photographs, mask and settings: given on its command line, or taken
// from what "Store" kept.
#include "WindowFixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

using namespace lumivane;
using namespace lumivane::testing;

class CliWindowTest : public QObject {
    Q_OBJECT

private slots:
    void cliAndSaveImages_WriteTheSameBytes()
    {
        WindowFixture f;
        QStringList photos;
        photos << f.path("camera.jpg");
        QVERIFY(QFile::copy(QStringLiteral(LUMIVANE_SAMPLES_DIR "/exif/ianare_canon-ixus.jpg"), photos[0]));
        photos << f.writeJpeg("wide.jpg", gradientPhoto(320, 200, 17), 90);
        photos << f.writeBmp("small.bmp", gradientPhoto(150, 100, 5));
        const QString maskFile = f.writeJpeg("mask.jpg", vignetteMask(400, 300), 95);

        TForm1& form = f.start();
        f.open(photos);
        f.loadMask(maskFile);
        form.brightness->setValue(31);
        form.strength->setValue(57);
        form.jpeg->setValue(82);
        form.left->setText(QStringLiteral("3"));
        form.bottom->setText(QStringLiteral("5"));
        // The mask six preview pixels right and four up, through the up-downs.
        form.UpDown2->setPosition(156);
        form.UpDown2Click();
        form.UpDown1->setPosition(154);
        form.UpDown1Click();
        QCOMPARE(QPoint(form.Image4Left(), form.Image4Top()), QPoint(6, -4));
        const QString windowOut = f.path("window");
        QDir().mkpath(windowOut);
        f.services.folderAnswers.push_back(windowOut);
        form.Button2->click();
        QCOMPARE(f.services.errors, QStringList());
        const QStringList written = entriesOf(windowOut);
        QCOMPARE(written, (QStringList{QStringLiteral("camera.jpg"), QStringLiteral("small.jpg"),
                                       QStringLiteral("wide.jpg")}));

        const QStringList common = {QStringLiteral("--offset=6,-4"), QStringLiteral("--crop=3,0,0,5"),
                                    QStringLiteral("--quiet")};
        // Everything on the command line.
        const QString given = f.path("given");
        const QString emptyIni = f.writeBytes("empty.ini", "25\r\n0\r\n90\r\nnone\r\n");
        QStringList args = {QStringLiteral("--settings"), emptyIni, QStringLiteral("--mask"), maskFile,
                            QStringLiteral("--brightness=31"), QStringLiteral("--strength=57"),
                            QStringLiteral("--quality=82"), QStringLiteral("--out"), given};
        QCOMPARE(QProcess::execute(QStringLiteral(LUMIVANE_CLI), args + common + photos), 0);
        // The stored defaults: sliders, default mask and hotspot.
        form.Button6Click();
        form.Button4Click(); // "Store"
        form.BitBtn1Click();
        const QString stored = f.path("stored");
        args = {QStringLiteral("--settings"), f.programDir() + QStringLiteral("/defaults.ini"), QStringLiteral("--out"),
                stored};
        QCOMPARE(QProcess::execute(QStringLiteral(LUMIVANE_CLI), args + common + photos), 0);

        for (const QString& folder : {given, stored}) {
            QCOMPARE(entriesOf(folder), written);
            for (const QString& name : written)
                QVERIFY2(fileBytes(folder + QLatin1Char('/') + name) == fileBytes(windowOut + QLatin1Char('/') + name),
                         qPrintable(folder + QLatin1Char('/') + name));
        }
    }
};

QTEST_MAIN(CliWindowTest)
#include "CliWindowTest.moc"
