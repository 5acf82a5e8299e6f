// SPDX-License-Identifier: GPL-3.0-or-later
// The EXIF information window: what it lists for the photograph and the
// mask, when it reads them, the marking of facts that differ, and its
// layout. Photographs with made-up EXIF blocks are built here byte by byte
// in front of an encoder's output.
#include "WindowFixture.h"

#include "Unit2.h"

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

using namespace lumivane;
using namespace lumivane::testing;

namespace {

// ---- Building TIFF/EXIF blocks (little-endian, "II") ----

enum TiffType : quint16 { kAscii = 2, kShort = 3, kLong = 4, kRational = 5 };

QByteArray le16(quint32 v)
{
    QByteArray b;
    b.append(char(v & 0xFF));
    b.append(char((v >> 8) & 0xFF));
    return b;
}

QByteArray le32(quint32 v)
{
    return le16(v & 0xFFFF) + le16(v >> 16);
}

QByteArray be16(quint32 v)
{
    QByteArray b;
    b.append(char((v >> 8) & 0xFF));
    b.append(char(v & 0xFF));
    return b;
}

struct IfdEntry {
    quint16 tag;
    quint16 type;
    quint32 count;
    QByteArray value; // the value bytes; more than 4 go behind the directory
};

IfdEntry ascii(quint16 tag, const QByteArray& text)
{
    return {tag, kAscii, quint32(text.size() + 1), text + QByteArray(1, '\0')};
}
IfdEntry shortValue(quint16 tag, quint16 v) { return {tag, kShort, 1, le16(v)}; }
IfdEntry longValue(quint16 tag, quint32 v) { return {tag, kLong, 1, le32(v)}; }
IfdEntry rational(quint16 tag, quint32 numerator, quint32 denominator)
{
    return {tag, kRational, 1, le32(numerator) + le32(denominator)};
}

// One directory placed at offset `start` of the TIFF block: the entry
// count, 12 bytes per entry, the offset of the next directory (0: none),
// then the values that do not fit into an entry, each at an even offset.
QByteArray directory(const QList<IfdEntry>& entries, quint32 start)
{
    const quint32 tableSize = 2 + 12 * quint32(entries.size()) + 4;
    QByteArray table = le16(quint32(entries.size()));
    QByteArray data;
    for (const IfdEntry& e : entries) {
        table += le16(e.tag);   // tag number
        table += le16(e.type);  // value type
        table += le32(e.count); // number of values
        if (e.value.size() <= 4) {
            table += e.value + QByteArray(4 - e.value.size(), '\0'); // value in place, left-aligned
        } else {
            table += le32(start + tableSize + quint32(data.size())); // offset of the value
            data += e.value;
            if (data.size() % 2)
                data += '\0';
        }
    }
    table += le32(0); // no next directory
    return table + data;
}

// A TIFF block with the first directory at 8 and, when `exifEntries` is not
// empty, an EXIF directory right behind it, reached through ExifOffset.
QByteArray tiffBlock(QList<IfdEntry> ifd0, const QList<IfdEntry>& exifEntries)
{
    QByteArray block = QByteArray("II") + le16(0x2A) + le32(8); // byte order, magic 42, first directory at 8
    if (!exifEntries.isEmpty()) {
        ifd0.append(longValue(0x8769, 0)); // ExifOffset, patched below
        std::sort(ifd0.begin(), ifd0.end(), [](const IfdEntry& a, const IfdEntry& b) { return a.tag < b.tag; });
        const quint32 exifStart = 8 + quint32(directory(ifd0, 8).size());
        for (IfdEntry& e : ifd0)
            if (e.tag == 0x8769)
                e.value = le32(exifStart);
        block += directory(ifd0, 8);
        block += directory(exifEntries, exifStart);
    } else {
        block += directory(ifd0, 8);
    }
    return block;
}

// An APP1 segment: marker, length (most significant byte first, counting
// itself), payload.
QByteArray app1(const QByteArray& payload)
{
    return QByteArray("\xFF\xE1", 2) + be16(quint32(payload.size() + 2)) + payload;
}

QByteArray exifSegment(const QByteArray& tiff)
{
    return app1(QByteArray("Exif\0\0", 6) + tiff);
}

// What a crafted photograph or mask says about itself.
struct Facts {
    QByteArray make = "Lumicam";
    QByteArray model = "LC-1";
    quint32 exposureDen = 125; // exposure 1/exposureDen s
    quint32 fNumber = 56;      // tenths
    quint16 iso = 200;
    quint32 focal = 50;        // millimetres
    quint16 flash = 0;
};

QByteArray exifFor(const Facts& facts)
{
    const QList<IfdEntry> ifd0 = {
        ascii(0x010F, facts.make),                  // Make
        ascii(0x0110, facts.model),                 // Model
        shortValue(0x0112, 1),                      // Orientation: normal
        rational(0x011A, 72, 1),                    // XResolution
        rational(0x011B, 300, 1),                   // YResolution
        ascii(0x0131, "LumiTest 1.0"),              // Software
        ascii(0x0132, "2024:05:06 07:08:09"),       // DateTime (of the file)
    };
    const QList<IfdEntry> exif = {
        rational(0x829A, 1, facts.exposureDen),     // ExposureTime
        rational(0x829D, facts.fNumber, 10),        // FNumber
        shortValue(0x8822, 3),                      // ExposureProgram: aperture priority
        shortValue(0x8827, facts.iso),              // ISOSpeedRatings
        ascii(0x9003, "2001:01:01 00:00:00"),       // DateTimeOriginal (not shown)
        shortValue(0x9207, 5),                      // MeteringMode: multi-segment
        shortValue(0x9209, facts.flash),            // Flash
        rational(0x920A, facts.focal, 1),           // FocalLength
        longValue(0xA002, 640),                     // ExifImageWidth
        longValue(0xA003, 480),                     // ExifImageLength
        shortValue(0xA402, 1),                      // ExposureMode: manual
    };
    return exifSegment(tiffBlock(ifd0, exif));
}

// The column the window must show for `facts`, rows 1..18 (row 0 is the
// file name).
QStringList expectedColumn(const Facts& facts)
{
    return {QString(),
            QString(),                                  // no ImageDescription
            QString::fromLatin1(facts.make),
            QString::fromLatin1(facts.model),
            QStringLiteral("LumiTest 1.0"),
            QStringLiteral("Normal"),
            QStringLiteral("2024:05:06 07:08:09"),      // tag 0x0132, not 0x9003
            QStringLiteral("1/%1 sec").arg(facts.exposureDen),
            QStringLiteral("Manual"),
            QStringLiteral("Aperture priority"),
            QStringLiteral("F%1").arg(facts.fNumber / 10.0, 0, 'f', 1),
            QStringLiteral("MultiSegment"),
            facts.flash == 0 ? QStringLiteral("Off") : QStringLiteral("On"),
            QString::number(facts.iso),
            QStringLiteral("640"),
            QStringLiteral("480"),
            QStringLiteral("72.00"),
            QStringLiteral("300.00"),
            QStringLiteral("%1.00 mm").arg(facts.focal)};
}

// A JPEG from the encoder with `segments` put in right behind its JFIF
// header (the encoder writes SOI and a 16-byte APP0 first: 20 bytes).
QString writeJpegWithSegments(const WindowFixture& f, const QString& name, const QByteArray& segments,
                              int seed = 0)
{
    const QString path = f.writeJpeg(name, gradientPhoto(48, 32, seed));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray encoded = file.readAll();
    file.close();
    if (!encoded.startsWith(QByteArray("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10)))
        return {};
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    file.write(encoded.left(20) + segments + encoded.mid(20));
    return path;
}

QString writeExifJpeg(const WindowFixture& f, const QString& name, const Facts& facts = Facts(), int seed = 0)
{
    return writeJpegWithSegments(f, name, exifFor(facts), seed);
}

int visibleExifWindows()
{
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<TForm2*>(w) && w->isVisible())
            ++n;
    return n;
}

const QString kSamples = QStringLiteral(LUMIVANE_SAMPLES_DIR "/exif");

} // namespace

class ExifWindowTest : public QObject {
    Q_OBJECT

private slots:
    void window_Layout()
    {
        WindowFixture f;
        TForm1& form = f.start();
        TForm2* w = form.Form2;
        QVERIFY(w->isHidden()); // created hidden at start-up
        QCOMPARE(w->windowTitle(), QStringLiteral(" EXIF Information"));
        QCOMPARE(w->size(), QSize(488, 383));
        QCOMPARE(w->font().pixelSize(), 11);
        QVERIFY(!(w->windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(w->windowFlags() & Qt::WindowMaximizeButtonHint));
        QTreeWidget* list = w->ListView1;
        QCOMPARE(list->columnCount(), 3);
        QCOMPARE(list->headerItem()->text(0), QStringLiteral("Field"));
        QCOMPARE(list->headerItem()->text(1), QStringLiteral("Image"));
        QCOMPARE(list->headerItem()->text(2), QStringLiteral("Mask"));
        QVERIFY(list->columnWidth(0) >= 100);
        QVERIFY(!list->header()->sectionsClickable());
        QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(w->BitBtn1->text(), QStringLiteral("&Close"));
        QCOMPARE(w->BitBtn1->geometry(), QRect(208, 351, 75, 25));
        QCOMPARE(list->topLevelItemCount(), TForm2::kRowCount);
        const QStringList captions = {
            "Filename: ",       "Description: ",        "Manufacturer: ",       "Camera: ",
            "Software: ",       "Orientation: ",        "Date Taken: ",         "Exposure: ",
            "Exposure Mode: ",  "Exposure Program: ",   "F-Number: ",           "Metering Method: ",
            "Flash: ",          "ISO speed: ",          "EXIF Image width: ",   "EXIF Image height: ",
            "X resolution: ",   "Y resolution: ",       "Focal Length: "};
        for (int row = 0; row < TForm2::kRowCount; ++row) {
            QCOMPARE(w->cellText(row, 0), captions[row]);
            // Every value starts as "-".
            QCOMPARE(w->cellText(row, 1), QStringLiteral("-"));
            QCOMPARE(w->cellText(row, 2), QStringLiteral("-"));
            QCOMPARE(w->rowColour(row), row % 2 == 0 ? QColor(0xFF, 0xFF, 0xFF) : QColor(0xF5, 0xF5, 0xF5));
        }
    }

    void rowColours_ArePaintedAlternately()
    {
        WindowFixture f;
        TForm1& form = f.start();
        form.BitBtn7Click();
        TForm2* w = form.Form2;
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QTreeWidget* list = w->ListView1;
        const QImage shot = list->viewport()->grab().toImage();
        for (int row = 0; row < 6; ++row) {
            const QRect r = list->visualItemRect(list->topLevelItem(row));
            // Right end of the "Mask" column, where no text is drawn.
            const int x = list->header()->sectionPosition(2) + list->header()->sectionSize(2) - 4;
            const QColor painted = shot.pixelColor(std::min(x, shot.width() - 2), r.center().y());
            QCOMPARE(painted, row % 2 == 0 ? QColor(0xFF, 0xFF, 0xFF) : QColor(0xF5, 0xF5, 0xF5));
        }
    }

    void closeButton_HidesTheWindowAndTheButtonShowsItAgain()
    {
        WindowFixture f;
        TForm1& form = f.start();
        form.BitBtn7Click();
        QVERIFY(form.Form2->isVisible());
        QTest::mouseClick(form.Form2->BitBtn1, Qt::LeftButton);
        QVERIFY(form.Form2->isHidden());
        form.BitBtn7Click();
        QVERIFY(form.Form2->isVisible());
        form.Form2->close(); // the system menu's close
        QVERIFY(form.Form2->isHidden());
        QTest::mouseClick(form.ImageButton3, Qt::LeftButton); // the EXIF button itself
        QVERIFY(form.Form2->isVisible());
    }

    void resizedWindow_ListFollowsAndCloseStaysAtTheBottom()
    {
        WindowFixture f;
        TForm1& form = f.start();
        form.BitBtn7Click();
        TForm2* w = form.Form2;
        w->resize(600, 500);
        QTRY_COMPARE(w->size(), QSize(600, 500));
        QCOMPARE(w->Panel1->geometry(), QRect(0, 0, 600, 457));
        QCOMPARE(w->ListView1->geometry(), QRect(0, 0, 600, 457));
        QCOMPARE(w->BitBtn1->y(), 500 - 32);
        QCOMPARE(w->BitBtn1->size(), QSize(75, 25));
    }

    void noMask_PhotographFacts_AndDashesForTheMask()
    {
        WindowFixture f;
        const Facts facts;
        const QString photo = writeExifJpeg(f, "photo.jpg", facts);
        QVERIFY(!photo.isEmpty());
        TForm1& form = f.start();
        f.open({photo});
        form.BitBtn7Click();
        TForm2* w = form.Form2;
        QCOMPARE(w->cellText(0, 1), QStringLiteral("photo.jpg ")); // the hint's trailing blank stays
        const QStringList expected = expectedColumn(facts);
        for (int row = 1; row < TForm2::kRowCount; ++row)
            QCOMPARE(w->cellText(row, 1), expected[row]);
        QCOMPARE(w->cellText(1, 1), QString()); // empty, not "-"
        QCOMPARE(w->cellText(7, 1), QStringLiteral("1/125 sec"));
        QCOMPARE(w->cellText(10, 1), QStringLiteral("F5.6"));
        QCOMPARE(w->cellText(12, 1), QStringLiteral("Off"));
        for (int row = 0; row < TForm2::kRowCount; ++row)
            QCOMPARE(w->cellText(row, 2), QStringLiteral("-"));
        for (int row = 0; row < TForm2::kRowCount; ++row)
            QVERIFY(!w->rowMarked(row));
    }

    void photographWithoutExif_MaskWithExif_data()
    {
        QTest::addColumn<QString>("photoKind");
        QTest::newRow("JPEG without APP1") << "jpg";
        QTest::newRow("BMP") << "bmp";
    }
    void photographWithoutExif_MaskWithExif()
    {
        QFETCH(QString, photoKind);
        WindowFixture f;
        const QString photo = photoKind == QLatin1String("bmp") ? f.writeBmp("plain.bmp", gradientPhoto(48, 32))
                                                                 : f.writeJpeg("plain.jpg", gradientPhoto(48, 32));
        const QString maskFile = f.path("canon_mask.jpg");
        QVERIFY(QFile::copy(kSamples + QStringLiteral("/ianare_Canon_PowerShot_S40.jpg"), maskFile));
        TForm1& form = f.startWithMask(photo, maskFile);
        QVERIFY(form.flow().mask().MaskLoaded);
        form.BitBtn7Click();
        TForm2* w = form.Form2;
        QCOMPARE(w->cellText(0, 1), QStringLiteral("plain.") + photoKind + QLatin1Char(' '));
        for (int row = 1; row < TForm2::kRowCount; ++row)
            QCOMPARE(w->cellText(row, 1), QStringLiteral("-"));
        // The mask's facts, as an independent reader (ExifTool) gives them.
        // The file has no ISO tag of its own (ExifTool derives one from the
        // maker note), so that row is empty.
        const QList<QPair<int, QString>> mask = {
            {0, "canon_mask.jpg"},   {2, "Canon"},        {3, "Canon PowerShot S40"},
            {5, "Normal"},           {6, "2003:12:14 12:01:44"}, {7, "1/500 sec"},
            {8, "Auto"},             {10, "F4.9"},        {11, "Center"},
            {12, "Off, auto mode"},  {13, ""},         {14, "2272"},
            {15, "1704"},            {16, "180.00"},      {17, "180.00"},
            {18, "21.31 mm"}};
        for (const auto& [row, text] : mask)
            QCOMPARE(w->cellText(row, 2), text);
    }

    void firstApp1NotExif_GivesEmptyTextsAndZeroSizes()
    {
        WindowFixture f;
        const QByteArray xmp = app1(QByteArray("http://ns.adobe.com/xap/1.0/\0<x:xmpmeta/>", 41));
        const QString photo = writeJpegWithSegments(f, "xmp_first.jpg", xmp + exifFor(Facts()));
        QVERIFY(!photo.isEmpty());
        TForm1& form = f.start();
        f.open({photo});
        form.BitBtn7Click();
        TForm2* w = form.Form2;
        QCOMPARE(w->cellText(0, 1), QStringLiteral("xmp_first.jpg "));
        for (int row = 1; row < TForm2::kRowCount; ++row) {
            const QString expected = (row == 14 || row == 15) ? QStringLiteral("0") : QString();
            QCOMPARE(w->cellText(row, 1), expected);
        }
    }

    void exifButtonTwice_OneWindowRefreshed()
    {
        WindowFixture f;
        Facts first;
        first.model = "First";
        const QString photo = writeExifJpeg(f, "photo.jpg", first);
        TForm1& form = f.start();
        f.open({photo});
        QCOMPARE(visibleExifWindows(), 0);
        form.BitBtn7Click();
        QCOMPARE(visibleExifWindows(), 1);
        QCOMPARE(form.Form2->cellText(3, 1), QStringLiteral("First"));
        // The file changes on disk; pressing the button again reads it anew.
        Facts second;
        second.model = "Second";
        QCOMPARE(writeExifJpeg(f, "photo.jpg", second), photo);
        form.BitBtn7Click();
        QCOMPARE(visibleExifWindows(), 1);
        QCOMPARE(form.Form2->cellText(3, 1), QStringLiteral("Second"));
    }

    void hiddenWindow_LoadsReadNothing_VisibleWindowFollows()
    {
        WindowFixture f;
        Facts a, b, maskFacts;
        a.model = "Camera A";
        b.model = "Camera B";
        maskFacts.model = "Mask camera";
        const QString photoA = writeExifJpeg(f, "a.jpg", a, 1);
        const QString photoB = writeExifJpeg(f, "b.jpg", b, 2);
        const QString maskFile = writeExifJpeg(f, "m.jpg", maskFacts, 3);
        TForm1& form = f.start();
        f.open({photoA, photoB});
        form.BitBtn7Click();
        TForm2* w = form.Form2;
        QCOMPARE(w->cellText(3, 1), QStringLiteral("Camera A"));
        QTest::mouseClick(w->BitBtn1, Qt::LeftButton);

        // Hidden: neither the next photograph nor a mask load touch the list.
        form.Button1Click(form.ImageButton2);
        QCOMPARE(form.Image4Hint(), QLatin1Char(' ') + photoB + QLatin1Char(' '));
        f.loadMask(maskFile);
        QVERIFY(form.flow().mask().MaskLoaded);
        QCOMPARE(w->cellText(0, 1), QStringLiteral("a.jpg "));
        QCOMPARE(w->cellText(3, 1), QStringLiteral("Camera A"));
        QCOMPARE(w->cellText(3, 2), QStringLiteral("-"));

        // Shown again: both files are read.
        form.BitBtn7Click();
        QCOMPARE(w->cellText(3, 1), QStringLiteral("Camera B"));
        QCOMPARE(w->cellText(3, 2), QStringLiteral("Mask camera"));
        QCOMPARE(w->cellText(0, 2), QStringLiteral("m.jpg"));

        // Visible: stepping back to the first photograph refreshes it.
        form.Button1Click(form.ImageButton1);
        QCOMPARE(w->cellText(0, 1), QStringLiteral("a.jpg "));
        QCOMPARE(w->cellText(3, 1), QStringLiteral("Camera A"));
        // And a new mask replaces the mask column.
        const QString otherMask = f.writeJpeg("plain_mask.jpg", vignetteMask(48, 32));
        f.loadMask(otherMask);
        QCOMPARE(w->cellText(0, 2), QStringLiteral("plain_mask.jpg"));
        QCOMPARE(w->cellText(3, 2), QStringLiteral("-"));
    }

    // "Save Images" shows each photograph in turn; the EXIF window follows.
    void batch_RefreshesTheWindowForEachPhotographShown()
    {
        WindowFixture f;
        QStringList photos;
        for (int i = 0; i < 3; ++i) {
            Facts facts;
            facts.model = QByteArray("Camera ") + char('A' + i);
            photos << writeExifJpeg(f, QStringLiteral("p%1.jpg").arg(i), facts, i + 1);
        }
        TForm1& form = f.start();
        f.open(photos);
        f.loadMask(f.writeJpeg("flat.jpg", vignetteMask(48, 32)));
        form.BitBtn7Click();
        QSet<QString> listed;
        f.services.onProcessEvents = [&] {
            if (form.flow().session().BatchRunning)
                listed << form.Form2->cellText(3, 1);
        };
        QDir().mkpath(f.path("out"));
        f.services.folderAnswers.push_back(f.path("out"));
        form.Button2->click();
        QCOMPARE(f.services.errors, QStringList());
        QVERIFY2(listed.contains(QStringLiteral("Camera B")) && listed.contains(QStringLiteral("Camera C")),
                 qPrintable(QStringList(listed.values()).join(QLatin1Char(','))));
        QCOMPARE(form.Form2->cellText(3, 1), QStringLiteral("Camera A")); // the first shown again
    }

    void differingFacts_MarkedRedOnlyWhereTheyShapeVignetting_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("markedRow"); // -1: nothing marked
        QTest::newRow("same facts") << "none" << -1;
        QTest::newRow("manufacturer") << "make" << 2;
        QTest::newRow("camera") << "model" << 3;
        QTest::newRow("f-number") << "fnumber" << 10;
        QTest::newRow("focal length") << "focal" << 18;
        QTest::newRow("exposure time") << "exposure" << -1;
        QTest::newRow("ISO") << "iso" << -1;
    }
    void differingFacts_MarkedRedOnlyWhereTheyShapeVignetting()
    {
        QFETCH(QString, field);
        QFETCH(int, markedRow);
        WindowFixture f;
        const Facts photoFacts;
        Facts maskFacts;
        if (field == QLatin1String("make"))
            maskFacts.make = "Othercam";
        else if (field == QLatin1String("model"))
            maskFacts.model = "LC-2";
        else if (field == QLatin1String("fnumber"))
            maskFacts.fNumber = 80;
        else if (field == QLatin1String("focal"))
            maskFacts.focal = 35;
        else if (field == QLatin1String("exposure"))
            maskFacts.exposureDen = 30;
        else if (field == QLatin1String("iso"))
            maskFacts.iso = 1600;
        const QString photo = writeExifJpeg(f, "photo.jpg", photoFacts, 1);
        const QString maskFile = writeExifJpeg(f, "mask.jpg", maskFacts, 2);
        TForm1& form = f.startWithMask(photo, maskFile);
        form.BitBtn7Click();
        TForm2* w = form.Form2;
        const QStringList photoColumn = expectedColumn(photoFacts);
        const QStringList maskColumn = expectedColumn(maskFacts);
        const QColor red(255, 0, 0);
        for (int row = 1; row < TForm2::kRowCount; ++row) {
            // The texts stay exact; only their colour changes.
            QCOMPARE(w->cellText(row, 1), photoColumn[row]);
            QCOMPARE(w->cellText(row, 2), maskColumn[row]);
            const QTreeWidgetItem* item = w->ListView1->topLevelItem(row);
            const bool marked = row == markedRow;
            QCOMPARE(w->rowMarked(row), marked);
            QCOMPARE(item->foreground(1).color() == red, marked);
            QCOMPARE(item->foreground(2).color() == red, marked);
            QVERIFY(item->foreground(0).color() != red);
        }
    }

    void missingMaskValue_IsNotMarked()
    {
        WindowFixture f;
        const QString photo = writeExifJpeg(f, "photo.jpg");
        const QString maskFile = f.writeJpeg("plain_mask.jpg", vignetteMask(48, 32));
        TForm1& form = f.startWithMask(photo, maskFile);
        form.BitBtn7Click();
        for (int row = 0; row < TForm2::kRowCount; ++row)
            QVERIFY(!form.Form2->rowMarked(row));
        QCOMPARE(form.Form2->cellText(2, 2), QStringLiteral("-"));
    }
};

QTEST_MAIN(ExifWindowTest)
#include "ExifWindowTest.moc"
