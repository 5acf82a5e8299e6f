// SPDX-License-Identifier: GPL-3.0-or-later
// Checks the packed artwork and the help page: every picture loads at its
// size, keeps its bottom-left transparent colour out of the drawing, and
// gives a button a shape; the help page is found and is the real page.
#include "HelpPage.h"
#include "ImageButton4.h"
#include "LumivaneResources.h"
#include "TemporaryFolder.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <QUrl>

using namespace lumivane;

class ArtworkTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { InitLumivaneResources(); }
    void ButtonPicture_HasSizeKeyAndShape_data();
    void ButtonPicture_HasSizeKeyAndShape();
    void FreeMaskGlyph_HoldsTwoGlyphsSideBySide();
    void WindowIcons_HaveTransparentCorners();
    void HelpPage_IsFoundAndExplainsTheProgram();
    void HelpPage_IsLookedUpBesideTheExecutableThenUnderShare_data();
    void HelpPage_IsLookedUpBesideTheExecutableThenUnderShare();
};

void ArtworkTest::ButtonPicture_HasSizeKeyAndShape_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QColor>("key");

    const QColor magenta(255, 0, 255);
    const QSize small(16, 16);
    QTest::newRow("grey gear") << artwork::kGearGrey << QSize(21, 19) << magenta;
    QTest::newRow("golden gear") << artwork::kGearGold << QSize(21, 19) << magenta;
    QTest::newRow("rotate left grey") << artwork::kRotateLeftGrey << small << magenta;
    QTest::newRow("rotate left green") << artwork::kRotateLeftGreen << small << magenta;
    QTest::newRow("rotate right grey") << artwork::kRotateRightGrey << small << magenta;
    QTest::newRow("rotate right green") << artwork::kRotateRightGreen << small << magenta;
    QTest::newRow("previous grey") << artwork::kPreviousGrey << small << magenta;
    QTest::newRow("previous green") << artwork::kPreviousGreen << small << magenta;
    QTest::newRow("previous disabled") << artwork::kPreviousDisabled << small << magenta;
    QTest::newRow("next grey") << artwork::kNextGrey << small << magenta;
    QTest::newRow("next green") << artwork::kNextGreen << small << magenta;
    QTest::newRow("next disabled") << artwork::kNextDisabled << small << magenta;
    QTest::newRow("info grey") << artwork::kInfoGrey << small << magenta;
    QTest::newRow("info blue") << artwork::kInfoBlue << small << magenta;
    QTest::newRow("centre dot") << artwork::kCentreDot << QSize(20, 21) << QColor(255, 255, 255);
    QTest::newRow("free mask glyph") << artwork::kFreeMaskGlyph << QSize(36, 18) << magenta;
}

void ArtworkTest::ButtonPicture_HasSizeKeyAndShape()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFETCH(QColor, key);

    const QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path));
    QCOMPARE(image.size(), size);
    QCOMPARE(image.pixelColor(0, image.height() - 1), key);
    // All four corners are transparent, so the button's shape is not square.
    QCOMPARE(image.pixelColor(0, 0), key);
    QCOMPARE(image.pixelColor(image.width() - 1, 0), key);
    QCOMPARE(image.pixelColor(image.width() - 1, image.height() - 1), key);

    const QRegion shape = BuildShapeRegion(image);
    QVERIFY(!shape.isEmpty());
    int opaque = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            opaque += image.pixelColor(x, y) != key ? 1 : 0;
    // Enough drawing to read at real size, and enough transparency to shape.
    QVERIFY(opaque >= 9);
    QVERIFY(opaque < image.width() * image.height());
}

void ArtworkTest::FreeMaskGlyph_HoldsTwoGlyphsSideBySide()
{
    const QImage glyph(artwork::kFreeMaskGlyph);
    const QImage enabled = glyph.copy(0, 0, 18, 18);
    const QImage disabled = glyph.copy(18, 0, 18, 18);
    const QRgb key = glyph.pixel(0, 17);
    bool enabledHasRed = false;
    bool disabledIsGrey = true;
    int disabledPixels = 0;
    for (int y = 0; y < 18; ++y) {
        for (int x = 0; x < 18; ++x) {
            const QColor e = enabled.pixelColor(x, y);
            if (e.rgb() != key && e.red() > 180 && e.green() < 100)
                enabledHasRed = true;
            const QColor d = disabled.pixelColor(x, y);
            if (d.rgb() != key) {
                ++disabledPixels;
                disabledIsGrey = disabledIsGrey && d.red() == d.green() && d.green() == d.blue();
            }
        }
    }
    QVERIFY(enabledHasRed);
    QVERIFY(disabledPixels > 0);
    QVERIFY(disabledIsGrey);
}

void ArtworkTest::WindowIcons_HaveTransparentCorners()
{
    for (auto [path, side] : {std::pair{artwork::kIcon16, 16}, std::pair{artwork::kIcon32, 32},
                              std::pair{artwork::kIcon48, 48}}) {
        const QImage icon(QString::fromLatin1(path));
        QVERIFY2(!icon.isNull(), path);
        QCOMPARE(icon.size(), QSize(side, side));
        QVERIFY(icon.hasAlphaChannel());
        QCOMPARE(qAlpha(icon.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(icon.pixel(side / 2, side / 2)), 255);
    }
}

void ArtworkTest::HelpPage_IsFoundAndExplainsTheProgram()
{
    const QUrl url(HelpPageUrl());
    QVERIFY(url.isLocalFile());
    QFile page(url.toLocalFile());
    QVERIFY2(page.open(QIODevice::ReadOnly), qPrintable(url.toString()));
    const QString text = QString::fromUtf8(page.readAll());
    for (const char* topic : {"Shooting a mask", "Vignetting reduction boost", "Store", "Free default mask",
                              "EXIF", "hotspot", "Crop", "BMP", "output folder"})
        QVERIFY2(text.contains(QLatin1String(topic)), topic);
}

void ArtworkTest::HelpPage_IsLookedUpBesideTheExecutableThenUnderShare_data()
{
    // Pages present under a prefix whose bin/ holds the executable, and the
    // one expected to be opened ("" for the page in the source tree).
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QString>("expected");
    const QString share = QStringLiteral("share/doc/lumivane/help.html");
    const QString docs = QStringLiteral("bin/docs/help.html");
    const QString beside = QStringLiteral("bin/help.html");
    QTest::newRow("installed") << QStringList{share} << share;
    QTest::newRow("build tree first") << QStringList{share, docs, beside} << docs;
    QTest::newRow("beside before share") << QStringList{share, beside} << beside;
    QTest::newRow("none: source page") << QStringList{} << QString();
    QTest::newRow("share as a folder is no page") << QStringList{share + QStringLiteral("/x")} << QString();
}

void ArtworkTest::HelpPage_IsLookedUpBesideTheExecutableThenUnderShare()
{
    QFETCH(QStringList, present);
    QFETCH(QString, expected);
    const lumivane::test_support::TemporaryFolder prefixFolder("lumivane-artwork");
    const QDir prefix(QString::fromStdString(prefixFolder.str()));
    const QDir root(prefix.path());
    QVERIFY(root.mkpath(QStringLiteral("bin")));
    for (const QString& relative : present) {
        const QString path = root.filePath(relative);
        QVERIFY(root.mkpath(QFileInfo(path).path()));
        QFile page(path);
        QVERIFY(page.open(QIODevice::WriteOnly));
        page.write("<html></html>");
    }
    const QUrl url(HelpPageUrlFor(root.filePath(QStringLiteral("bin"))));
    QVERIFY(url.isLocalFile());
    if (expected.isEmpty()) {
        QVERIFY2(!url.toLocalFile().startsWith(root.absolutePath()), qPrintable(url.toString()));
        QVERIFY(QFileInfo(url.toLocalFile()).isFile());
    } else {
        QCOMPARE(url.toLocalFile(), QDir::cleanPath(root.absoluteFilePath(expected)));
    }
}

QTEST_MAIN(ArtworkTest)
#include "ArtworkTest.moc"
