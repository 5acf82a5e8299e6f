// SPDX-License-Identifier: GPL-3.0-or-later
// Saving the processed photograph: single saves through the save dialog,
// batches into a folder, cropping, the mask offset at full size, the EXIF
// transplant, and what is left behind when a dialog is cancelled or a write
// fails. Every file written is decoded again and compared with the
// correction computed independently by the reference formula.
#include "CorrectionReference.h"
#include "WindowFixture.h"
#include "TiffFiles.h"

#include "CorrectionKernel.h"
#include "MaskGeometry.h"
#include "FileIO.h"
#include "ImageFile.h"
#include "OutputMetadata.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QThread>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <cmath>
#include <cstdlib>
#include <functional>

using namespace lumivane;
using namespace lumivane::testing;

namespace {

// Smooth waves with periods of about 50 pixels: JPEG keeps them well, while a
// shift of a single pixel changes them clearly.
Bitmap24 wavePhoto(int w, int h, int phase = 0)
{
    constexpr double kTau = 6.283185307179586;
    Bitmap24 b(w, h);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = b.scanLine(y);
        for (int x = 0; x < w; ++x) {
            row[3 * x] = std::uint8_t(std::lround(120 + 90 * std::sin((x + phase) * kTau / 53)));
            row[3 * x + 1] = std::uint8_t(std::lround(120 + 90 * std::sin((y + phase) * kTau / 47)));
            row[3 * x + 2] = std::uint8_t(std::lround(120 + 60 * std::sin((x + y) * kTau / 71)));
        }
    }
    return b;
}

// A mask whose levels change from one column and one row to the next, so a
// mask paired one pixel off gives other results.
Bitmap24 texturedMask(int w, int h)
{
    Bitmap24 b(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b.setPixel(x, y,
                       packColour(std::uint8_t(120 + (x * 37) % 120), std::uint8_t(120 + (y * 29) % 120),
                                  std::uint8_t(120 + ((x + 2 * y) * 11) % 120)));
    return b;
}

Bitmap24 fitted(const Bitmap24& maskImage, int w, int h)
{
    Bitmap24 out(w, h);
    stretchDraw(maskImage, out);
    return out;
}

// The full-size output the window must write for `photo`, before cropping:
// the reference formula with the window's hotspot, sliders and offset.
Bitmap24 referenceOutput(TForm1& form, const Bitmap24& photo, const Bitmap24& maskImage)
{
    Bitmap24 expected = photo;
    const int w = photo.width();
    const int h = photo.height();
    ApplyCorrectionReference(expected, fitted(maskImage, w, h),
                             FullSizeRegion(form.Image4Left(), form.Image4Top(), w, h),
                             DampingForStrength(form.strength->value()),
                             TargetsFor(form.flow().mask().HotspotR, form.flow().mask().HotspotG, form.flow().mask().HotspotB,
                                        form.brightness->value()));
    return expected;
}

struct Difference {
    double mean = 0;
    int max = 0;
};

Difference difference(const Bitmap24& a, const Bitmap24& b)
{
    Difference d;
    if (a.width() != b.width() || a.height() != b.height()) {
        d.mean = d.max = 1000;
        return d;
    }
    long long sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        const std::uint8_t* ra = a.scanLine(y);
        const std::uint8_t* rb = b.scanLine(y);
        for (std::size_t i = 0; i < a.rowBytes(); ++i) {
            const int diff = std::abs(int(ra[i]) - int(rb[i]));
            sum += diff;
            d.max = std::max(d.max, diff);
        }
    }
    d.mean = double(sum) / double(a.byteCount());
    return d;
}

// Where two bitmaps first differ, for failure messages.
QString firstDifference(const Bitmap24& actual, const Bitmap24& expected)
{
    if (actual.width() != expected.width() || actual.height() != expected.height())
        return QStringLiteral("size %1x%2, expected %3x%4")
            .arg(actual.width())
            .arg(actual.height())
            .arg(expected.width())
            .arg(expected.height());
    for (int y = 0; y < actual.height(); ++y)
        for (int x = 0; x < actual.width(); ++x)
            if (actual.pixel(x, y) != expected.pixel(x, y))
                return QStringLiteral("pixel %1,%2 is %3, expected %4")
                    .arg(x)
                    .arg(y)
                    .arg(actual.pixel(x, y), 6, 16, QLatin1Char('0'))
                    .arg(expected.pixel(x, y), 6, 16, QLatin1Char('0'));
    return QStringLiteral("equal");
}

Bitmap24 decodeJpeg(const QString& path)
{
    TJPEGImage decoder;
    decoder.Smoothing = false;
    decoder.LoadFromFile(path.toStdString());
    return decoder.Decode();
}

// The first APP1 section of a JPEG (marker, length and payload), walking the
// marker sections from the start; empty when there is none.
QByteArray firstApp1(const QByteArray& jpeg)
{
    qsizetype at = 2;
    while (at + 4 <= jpeg.size() && std::uint8_t(jpeg[at]) == 0xFF) {
        const std::uint8_t code = std::uint8_t(jpeg[at + 1]);
        const int length = (std::uint8_t(jpeg[at + 2]) << 8) | std::uint8_t(jpeg[at + 3]);
        if (at + 2 + length > jpeg.size())
            return {};
        if (code == 0xE1)
            return jpeg.mid(at, 2 + length);
        if (code == 0xDA)
            return {};
        at += 2 + length;
    }
    return {};
}

// The EXIF thumbnail a written APP1 carries, found through its second
// directory's offset and length (read here independently of the program).
QByteArray thumbnailOf(const QByteArray& app1)
{
    constexpr qsizetype kHead = 10; // marker, length, "Exif\0\0"
    const QByteArray tiff = app1.mid(kHead);
    const bool big = tiff.startsWith("MM");
    auto at = [&](qsizetype i, int bytes) -> qint64 {
        if (i < 0 || i + bytes > tiff.size())
            return -1;
        qint64 v = 0;
        for (int k = 0; k < bytes; ++k)
            v |= qint64(std::uint8_t(tiff[i + (big ? k : bytes - 1 - k)])) << (8 * (bytes - 1 - k));
        return v;
    };
    const qint64 ifd0 = at(4, 4), count0 = at(ifd0, 2);
    const qint64 ifd1 = count0 < 0 ? -1 : at(ifd0 + 2 + 12 * count0, 4);
    const qint64 count1 = ifd1 <= 0 ? -1 : at(ifd1, 2);
    qint64 offset = -1, length = -1;
    for (qint64 i = 0; i < count1; ++i) {
        const qint64 entry = ifd1 + 2 + 12 * i;
        if (at(entry, 2) == 0x0201)
            offset = at(entry + 8, 4);
        if (at(entry, 2) == 0x0202)
            length = at(entry + 8, 4);
    }
    if (offset < 0 || length <= 0 || offset + length > tiff.size())
        return {};
    return tiff.mid(offset, length);
}

// The source's EXIF APP1 as a save writes it: describing the written
// picture, its size and, in the place of a thumbnail, `thumbnail`.
QByteArray describedApp1(const QByteArray& sourceApp1, int width, int height, const QByteArray& thumbnail)
{
    constexpr qsizetype kHead = 10; // marker, length, "Exif\0\0"
    const auto* block = reinterpret_cast<const std::uint8_t*>(sourceApp1.constData()) + kHead;
    const std::vector<std::uint8_t> thumb(thumbnail.begin(), thumbnail.end());
    const ExifBlock described = DescribeWrittenPicture(block, std::size_t(sourceApp1.size() - kHead), width, height,
                                                       [&](int, int, int) { return thumb; });
    const std::vector<std::uint8_t> app1 = ExifSection(described.tiff);
    return QByteArray(reinterpret_cast<const char*>(app1.data()), qsizetype(app1.size()));
}

// Checks that `written`'s EXIF APP1 is the source's describing the written
// picture (width x height), with a thumbnail that shows that picture.
void expectDescribesWrittenPicture(const QByteArray& sourceApp1, const QString& written, int width, int height)
{
    const QByteArray app1 = firstApp1(fileBytes(written));
    const QByteArray thumbnail = thumbnailOf(app1);
    QVERIFY(thumbnail.startsWith("\xFF\xD8"));
    QCOMPARE(app1, describedApp1(sourceApp1, width, height, thumbnail));
    // The thumbnail against the written picture averaged down to its size:
    // the same brightness, within what a small JPEG's rounding leaves (the
    // uncorrected photograph is brighter or darker by several codes).
    const Bitmap24 picture = decodeJpeg(written);
    TJPEGImage thumbnailDecoder;
    thumbnailDecoder.LoadFromBytes(std::vector<std::uint8_t>(thumbnail.begin(), thumbnail.end()));
    const Bitmap24 shown = thumbnailDecoder.Decode();
    QVERIFY(shown.width() > 0 && std::abs(double(shown.width()) / shown.height() - double(width) / height) < 0.1);
    double difference = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                int n = 0;
                for (int sy = y * height / shown.height(); sy < (y + 1) * height / shown.height(); ++sy)
                    for (int sx = x * width / shown.width(); sx < (x + 1) * width / shown.width(); ++sx, ++n)
                        sum += picture.scanLine(sy)[3 * sx + c];
                difference += shown.scanLine(y)[3 * x + c] - sum / std::max(n, 1);
            }
    QVERIFY2(std::abs(difference) / (3.0 * shown.width() * shown.height()) < 1.0, "the thumbnail shows another picture");
}

// Photographs IMG_1.bmp ... IMG_<count>.bmp written from `make(i)`.
struct PhotoFiles {
    QStringList paths;
    QList<Bitmap24> images;
};
PhotoFiles writePhotos(WindowFixture& f, int count, const std::function<Bitmap24(int)>& make)
{
    PhotoFiles files;
    for (int i = 0; i < count; ++i) {
        files.images << make(i);
        files.paths << f.writeBmp(QStringLiteral("IMG_%1.bmp").arg(i + 1), files.images.last());
    }
    return files;
}

// Opens `photos`, loads `maskFile` and sets the sliders that shape the
// correction.
TForm1& openWithMask(WindowFixture& f, const QStringList& photos, const QString& maskFile, int strength = 60,
                     int brightness = 31)
{
    TForm1& form = f.start();
    f.open(photos);
    f.loadMask(maskFile);
    form.strength->setValue(strength);
    form.brightness->setValue(brightness);
    return form;
}

// FileIndex, the photograph shown and the navigation buttons agree.
void checkListPositionAgrees(TForm1& form)
{
    const int count = form.ListBox1->count();
    const int index = form.flow().photos().FileIndex;
    QVERIFY2(index >= 0 && index < count, qPrintable(QString::number(index)));
    QCOMPARE(QString::fromStdString(form.flow().photos().SourceFile), form.ListBox1->item(index)->text());
    QCOMPARE(form.ImageButton1->isEnabled(), index > 0);
    QCOMPARE(form.ImageButton2->isEnabled(), index < count - 1);
}

} // namespace

class SaveTest : public QObject {
    Q_OBJECT

private slots:
    void saveImagesAsTiff_ChosenOnTheSliderMenu_KeptAndRestored()
    {
        WindowFixture f;
        const QStringList photos = {f.writeBmp(QStringLiteral("IMG_1.bmp"), gradientPhoto(48, 32)),
                                    f.writeBmp(QStringLiteral("IMG_2.bmp"), gradientPhoto(48, 32))};
        const QString maskFile = f.writeBmp(QStringLiteral("flat.bmp"), vignetteMask(48, 32, 200, 190, 180));
        TForm1& form = openWithMask(f, photos, maskFile);
        QVERIFY(form.SliderFormatItem->isChecked());
        QCOMPARE(form.Label6->text(), QStringLiteral("Save quality: 90% (JPEG)"));
        form.TiffFormatItem->trigger();
        QVERIFY(form.TiffFormatItem->isChecked());
        QVERIFY(!form.SliderFormatItem->isChecked());
        QCOMPARE(form.Label6->text(), QStringLiteral("Lossless (Save as TIFF)"));
        // The slider still moves, the label keeps saying TIFF.
        form.jpeg->setValue(kBmpQuality);
        QCOMPARE(form.Label6->text(), QStringLiteral("Lossless (Save as TIFF)"));
        QVERIFY(fileBytes(f.programDir() + QStringLiteral("/lumivane.ini")).contains("save_images_format=tiff\r\n"));

        const QString folder = f.path(QStringLiteral("batch"));
        QDir().mkpath(folder);
        f.services.folderAnswers.push_back(folder);
        form.Button2->click();
        QCOMPARE(f.services.errors, QStringList());
        QCOMPARE(QDir(folder).entryList(QDir::Files), (QStringList{"IMG_1.tif", "IMG_2.tif"}));
        const auto back = lumivane::testing::ReadTiffBack((folder + QStringLiteral("/IMG_2.tif")).toStdString());
        QCOMPARE(back.width, 48u);
        QCOMPARE(int(back.bits), 8);

        f.restart();
        QVERIFY(f.form().TiffFormatItem->isChecked());
        QCOMPARE(f.form().Label6->text(), QStringLiteral("Lossless (Save as TIFF)"));
        f.form().SliderFormatItem->trigger();
        QVERIFY(!fileBytes(f.programDir() + QStringLiteral("/lumivane.ini")).contains("save_images_format"));
        QVERIFY(f.form().Label6->text() != QStringLiteral("Lossless (Save as TIFF)"));
    }

    void saveImage_TiffEntry_WritesTiff()
    {
        WindowFixture f;
        const QString photo = f.writeBmp(QStringLiteral("one.bmp"), gradientPhoto(40, 30));
        TForm1& form = openWithMask(f, {photo}, f.writeBmp(QStringLiteral("m.bmp"), vignetteMask(40, 30, 200, 190, 180)));
        // Under the TIFF entry; then a .tif name under the JPEG entry, which
        // gets the JPEG's extension as it always did.
        const struct {
            const char* name;
            const char* filter;
        } answers[] = {{"one.tif", "TIFF Image (*.tif)"}, {"two.TIFF", "TIFF Image (*.tif)"},
                       {"three.tif", "JPEG Image (*.jpg)"}};
        for (const auto& a : answers) {
            f.services.saveAnswers.push_back(f.path(QString::fromLatin1(a.name)));
            f.services.saveFilterAnswers.push_back(QString::fromLatin1(a.filter));
            form.Button2->click();
            QCOMPARE(f.services.errors, QStringList());
        }
        QCOMPARE(f.services.saveRequests.front().fileName, QStringLiteral("one.jpg"));
        QVERIFY(QFile::exists(f.path(QStringLiteral("three.jpg"))));
        QVERIFY(!QFile::exists(f.path(QStringLiteral("three.tif"))));
        for (const char* written : {"one.tif", "two.tif"}) {
            const auto back = lumivane::testing::ReadTiffBack(f.path(QString::fromLatin1(written)).toStdString());
            QCOMPARE(back.width, 40u);
            QCOMPARE(back.compression, std::uint16_t(COMPRESSION_ADOBE_DEFLATE));
        }
        QVERIFY(!QFile::exists(f.path(QStringLiteral("two.TIFF"))));
    }

    void bmpWithoutCrop_EqualsReferenceAndTakesNoExif()
    {
        WindowFixture f;
        const Bitmap24 maskImage = vignetteMask(600, 400);
        const QString photo = f.writeJpeg("IMG_5.jpg", wavePhoto(600, 400), 95);
        const Bitmap24 decoded = decodeJpeg(photo);
        const QString maskFile = f.writeBmp("flat.bmp", maskImage);
        TForm1& form = openWithMask(f, {photo}, maskFile, 70, 31);
        form.jpeg->setValue(kBmpQuality);
        QDir().mkpath(f.path("out"));
        const QString target = f.path("out/IMG_5.bmp");
        f.services.saveAnswers.push_back(target);
        // The source gone: a BMP takes no EXIF, so nothing may complain.
        QVERIFY(QFile::remove(photo));

        form.Button2->click();

        QCOMPARE(f.services.errors, QStringList());
        QCOMPARE(f.services.messages, QStringList());
        QCOMPARE(f.services.saveRequests.size(), size_t(1));
        const SaveDialogRequest& request = f.services.saveRequests.front();
        QCOMPARE(request.title, QStringLiteral(" Save BMP Image"));
        QCOMPARE(request.defaultExtension, QStringLiteral("bmp"));
        QCOMPARE(request.fileName, QStringLiteral("IMG_5.bmp"));
        QCOMPARE(request.filter, QStringLiteral("BMP Image (*.bmp)|*.BMP|TIFF Image (*.tif)|*.TIF"));
        QVERIFY(request.overwritePrompt);
        QCOMPARE(entriesOf(f.path("out")), QStringList{QStringLiteral("IMG_5.bmp")});

        const QByteArray bytes = fileBytes(target);
        QVERIFY(bytes.size() > 54);
        QCOMPARE(bytes.left(2), QByteArray("BM"));
        QCOMPARE(int(std::uint8_t(bytes[28])) | (int(std::uint8_t(bytes[29])) << 8), 24); // bits per pixel
        const Bitmap24 written = ReadBmpFile(target.toStdString());
        const Bitmap24 expected = referenceOutput(form, decoded, maskImage);
        QVERIFY2(written == expected, qPrintable(firstDifference(written, expected)));
        QVERIFY(!(written == decoded));
        QCOMPARE(form.status->text(), QStringLiteral("IMG_5.bmp saved."));
        QVERIFY(form.flow().PhotoFull() == decoded); // restored for the next save
        QCOMPARE(leftovers(f.path("")), QStringList());
    }

    void jpegWithMargins_IsCutFromColumn10Row20()
    {
        WindowFixture f;
        const Bitmap24 source = wavePhoto(4000, 3000);
        const Bitmap24 maskImage = vignetteMask(400, 300);
        const QString photo = f.writeBmp("big.bmp", source);
        const QString maskFile = f.writeBmp("flat.bmp", maskImage);
        TForm1& form = openWithMask(f, {photo}, maskFile, 50, 27);
        QCOMPARE(form.jpeg->value(), 90);
        form.left->setText(QStringLiteral("10"));
        form.top->setText(QStringLiteral("20"));
        form.right->setText(QStringLiteral("30"));
        form.bottom->setText(QStringLiteral("40"));
        QDir().mkpath(f.path("out"));
        f.services.saveAnswers.push_back(f.path("out/big.jpg"));

        form.Button2->click();

        QCOMPARE(f.services.errors, QStringList());
        QCOMPARE(f.services.saveRequests.front().title, QStringLiteral(" Save JPEG Image"));
        QCOMPARE(f.services.saveRequests.front().fileName, QStringLiteral("big.jpg"));
        QCOMPARE(f.services.saveRequests.front().defaultExtension, QStringLiteral("jpg"));
        QCOMPARE(f.services.saveRequests.front().filter,
                 QStringLiteral("JPEG Image (*.jpg)|*.JPG|TIFF Image (*.tif)|*.TIF"));
        const Bitmap24 written = decodeJpeg(f.path("out/big.jpg"));
        QCOMPARE(written.width(), 3960);
        QCOMPARE(written.height(), 2940);
        const Bitmap24 full = referenceOutput(form, source, maskImage);
        const Difference d = difference(written, CropBitmap(full, 10, 20, 30, 40));
        QVERIFY2(d.mean < 2.0 && d.max <= 20, qPrintable(QStringLiteral("mean %1 max %2").arg(d.mean).arg(d.max)));
        // The bound is tight enough to see a crop one pixel off.
        const Difference shifted = difference(written, CropBitmap(full, 11, 21, 29, 39));
        QVERIFY2(shifted.mean > 2 * d.mean + 1.0, qPrintable(QStringLiteral("shifted mean %1").arg(shifted.mean)));
        QCOMPARE(form.status->text(), QStringLiteral("big.jpg saved."));
        QVERIFY(form.flow().PhotoFull() == source);
    }

    void batchOfThree_NameClashTakesTheTickCount()
    {
        WindowFixture f;
        const Colour colours[3] = {packColour(90, 140, 200), packColour(200, 60, 30), packColour(40, 220, 120)};
        QStringList photos;
        for (int i = 0; i < 3; ++i)
            photos << f.writeBmp(QStringLiteral("IMG_%1.bmp").arg(i + 1), solid(96, 64, colours[i]));
        const Bitmap24 maskImage = solid(96, 64, packColour(180, 170, 160));
        const QString maskFile = f.writeBmp("flat.bmp", maskImage);
        const QString folder = f.path("batch");
        QDir().mkpath(folder);
        {
            QFile existing(folder + QStringLiteral("/IMG_1.jpg"));
            QVERIFY(existing.open(QIODevice::WriteOnly));
            existing.write("keep me");
        }
        TForm1& form = openWithMask(f, photos, maskFile, 60, 37);
        QCOMPARE(form.Button2->text(), QStringLiteral("&Save Images"));
        f.services.tick = 987654;
        f.services.folderAnswers.push_back(folder);
        QList<bool> panelShown;
        QList<int> progress;
        QList<bool> controlsLive;
        f.services.onProcessEvents = [&] {
            panelShown << !form.Panel8->isHidden(); // the window itself is never shown
            progress << form.ProgressBar1->value();
            // Open, mask, sliders, crop and save are out of reach while the
            // batch lets the event loop run.
            controlsLive << (form.BitBtn5->isEnabled() || form.Button3->isEnabled() || form.strength->isEnabled() ||
                             form.left->isEnabled() || form.Button2->isEnabled() || form.Label2->isEnabled());
        };

        form.Button2->click();

        QCOMPARE(f.services.errors, QStringList());
        QCOMPARE(f.services.messages, QStringList());
        QCOMPARE(entriesOf(folder), (QStringList{QStringLiteral("IMG_1.987654.jpg"), QStringLiteral("IMG_1.jpg"),
                                                 QStringLiteral("IMG_2.jpg"), QStringLiteral("IMG_3.jpg")}));
        QCOMPARE(fileBytes(folder + QStringLiteral("/IMG_1.jpg")), QByteArray("keep me"));
        const QString outputs[3] = {QStringLiteral("/IMG_1.987654.jpg"), QStringLiteral("/IMG_2.jpg"),
                                    QStringLiteral("/IMG_3.jpg")};
        for (int i = 0; i < 3; ++i) {
            const Bitmap24 expected = referenceOutput(form, solid(96, 64, colours[i]), maskImage);
            const Difference d = difference(decodeJpeg(folder + outputs[i]), expected);
            QVERIFY2(d.max <= 3, qPrintable(outputs[i] + QStringLiteral(": max %1").arg(d.max)));
        }
        QCOMPARE(f.services.saveRequests.size(), size_t(0));
        QCOMPARE(f.services.folderRequests.size(), size_t(1));
        QCOMPARE(f.services.folderRequests[0].title, QStringLiteral("Select output folder"));
        // The mask was the last file chosen in a dialog.
        QCOMPARE(f.services.folderRequests[0].startFolder, QFileInfo(maskFile).path());
        QVERIFY(f.services.folderRequests[0].allowNewFolder);

        QVERIFY(f.services.processEventsCalls >= 4); // after showing the panel and after each photograph
        QVERIFY(!panelShown.isEmpty());
        QVERIFY(!panelShown.contains(false));
        QVERIFY(!controlsLive.contains(true));
        for (QWidget* w : std::initializer_list<QWidget*>{form.BitBtn5, form.Button3, form.strength, form.left,
                                                          form.Button2, form.Label2})
            QVERIFY(w->isEnabled());
        QVERIFY(form.Panel8->isHidden());
        QCOMPARE(form.ProgressBar1->maximum(), 3);
        QCOMPARE(progress.last(), 3);
        QCOMPARE(form.flow().photos().FileIndex, 0);
        QCOMPARE(QString::fromStdString(form.flow().photos().SourceFile), photos[0]);
        // The status line says what was written and where.
        QCOMPARE(form.status->text(), QStringLiteral("3 of 3 photographs saved to ") + folder);
        QVERIFY(form.ImageButton2->isEnabled());
        QVERIFY(!form.ImageButton1->isEnabled());
        QVERIFY(form.flow().PhotoFull() == solid(96, 64, colours[0]));
    }

    void batchNames_TryTickThenNumberedTick_AndNeverReplace()
    {
        WindowFixture f;
        QStringList photos;
        QList<Bitmap24> images;
        for (int i = 0; i < 3; ++i) {
            images << solid(64, 48, packColour(std::uint8_t(50 + 60 * i), 120, std::uint8_t(200 - 50 * i)));
            photos << f.writeBmp(QStringLiteral("IMG_%1.bmp").arg(i + 1), images.last());
        }
        const Bitmap24 maskImage = solid(64, 48, packColour(170, 160, 150));
        const QString maskFile = f.writeBmp("flat.bmp", maskImage);
        const QString folder = f.path("batch");
        QDir().mkpath(folder);
        // The plain name and the first two tick names of IMG_1 are taken
        // (one of them by a folder), IMG_2's tick name is taken but not its
        // plain name.
        const QStringList taken = {QStringLiteral("IMG_1.bmp"), QStringLiteral("IMG_1.55.bmp"),
                                   QStringLiteral("IMG_2.55.bmp")};
        for (const QString& name : taken) {
            QFile file(folder + QLatin1Char('/') + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(name.toLatin1());
        }
        QDir().mkpath(folder + QStringLiteral("/IMG_1.55-2.bmp"));
        TForm1& form = openWithMask(f, photos, maskFile, 70, 30);
        form.jpeg->setValue(kBmpQuality);
        f.services.tick = 55;
        f.services.folderAnswers.push_back(folder);

        form.Button2->click();

        QCOMPARE(f.services.errors, QStringList());
        QCOMPARE(entriesOf(folder),
                 (QStringList{QStringLiteral("IMG_1.55-2.bmp"), QStringLiteral("IMG_1.55-3.bmp"),
                              QStringLiteral("IMG_1.55.bmp"), QStringLiteral("IMG_1.bmp"),
                              QStringLiteral("IMG_2.55.bmp"), QStringLiteral("IMG_2.bmp"), QStringLiteral("IMG_3.bmp")}));
        for (const QString& name : taken)
            QCOMPARE(fileBytes(folder + QLatin1Char('/') + name), name.toLatin1());
        const QString outputs[3] = {QStringLiteral("/IMG_1.55-3.bmp"), QStringLiteral("/IMG_2.bmp"),
                                    QStringLiteral("/IMG_3.bmp")};
        for (int i = 0; i < 3; ++i)
            QVERIFY2(ReadBmpFile((folder + outputs[i]).toStdString()) == referenceOutput(form, images[i], maskImage),
                     qPrintable(outputs[i]));
        QCOMPARE(leftovers(folder), QStringList());

        // A second batch with the same tick finds its names taken by the
        // first and moves on; nothing of the first batch is replaced.
        const QByteArray firstOutput = fileBytes(folder + outputs[0]);
        f.services.folderAnswers.push_back(folder);
        form.Button2->click();
        QCOMPARE(f.services.errors, QStringList());
        QCOMPARE(entriesOf(folder).size(), 10);
        QVERIFY(entriesOf(folder).contains(QStringLiteral("IMG_1.55-4.bmp")));
        QVERIFY(entriesOf(folder).contains(QStringLiteral("IMG_2.55-2.bmp")));
        QVERIFY(entriesOf(folder).contains(QStringLiteral("IMG_3.55.bmp")));
        QCOMPARE(fileBytes(folder + outputs[0]), firstOutput);
    }

    void batchArrowsClickedDuringFirstWrite_EveryPhotographWrittenOnce()
    {
        WindowFixture f;
        QStringList photos;
        QList<Bitmap24> images;
        for (int i = 0; i < 5; ++i) {
            images << solid(72, 54, packColour(std::uint8_t(20 + 45 * i), std::uint8_t(210 - 40 * i), 90));
            photos << f.writeBmp(QStringLiteral("IMG_%1.bmp").arg(i + 1), images.last());
        }
        const Bitmap24 maskImage = solid(72, 54, packColour(160, 170, 150));
        const QString maskFile = f.writeBmp("flat.bmp", maskImage);
        const QString folder = f.path("batch");
        QDir().mkpath(folder);
        TForm1& form = openWithMask(f, photos, maskFile, 75, 28);
        form.jpeg->setValue(kBmpQuality);
        // From the third photograph both arrows are live before the save.
        form.Button1Click(form.ImageButton2);
        form.Button1Click(form.ImageButton2);
        QVERIFY(form.ImageButton1->isEnabled() && form.ImageButton2->isEnabled());
        f.services.folderAnswers.push_back(folder);
        int pauses = 0;
        bool arrowsLocked = true;
        f.services.onProcessEvents = [&] {
            arrowsLocked = arrowsLocked && !form.ImageButton1->isEnabled() && !form.ImageButton2->isEnabled();
            if (++pauses != 1)
                return;
            // A user's clicks on both arrows, queued while the first file is
            // being written and delivered at this pause.
            for (TImageButton* arrow : {form.ImageButton1, form.ImageButton2}) {
                const QPoint inside(arrow->width() / 2, arrow->height() / 2);
                QTest::mouseClick(arrow, Qt::LeftButton, {}, inside);
            }
        };

        form.Button2->click();
        f.services.onProcessEvents = nullptr;

        QCOMPARE(f.services.errors, QStringList());
        QVERIFY(arrowsLocked);
        QCOMPARE(entriesOf(folder), (QStringList{QStringLiteral("IMG_1.bmp"), QStringLiteral("IMG_2.bmp"),
                                                 QStringLiteral("IMG_3.bmp"), QStringLiteral("IMG_4.bmp"),
                                                 QStringLiteral("IMG_5.bmp")}));
        for (int i = 0; i < 5; ++i) {
            const QString name = folder + QStringLiteral("/IMG_%1.bmp").arg(i + 1);
            QVERIFY2(ReadBmpFile(name.toStdString()) == referenceOutput(form, images[i], maskImage), qPrintable(name));
        }
        QVERIFY(!form.flow().session().BatchRunning);
        QCOMPARE(form.flow().photos().FileIndex, 0);
        QCOMPARE(QString::fromStdString(form.flow().photos().SourceFile), photos[2]);
        checkListPositionAgrees(form);
        QCOMPARE(form.status->text(), QStringLiteral("5 of 5 photographs saved to ") + folder);

        // The arrows step as before, and "Load Image(s)" opens a new list.
        form.Button1Click(form.ImageButton2);
        QCOMPARE(form.flow().photos().FileIndex, 1);
        checkListPositionAgrees(form);
        f.services.openAnswers.push_back({photos[3], photos[4]});
        form.BitBtn5->click(); // a disabled button would not react
        QCOMPARE(form.ListBox1->count(), 2);
        QCOMPARE(form.flow().photos().FileIndex, 0);
        QCOMPARE(QString::fromStdString(form.flow().photos().SourceFile), photos[3]);
        checkListPositionAgrees(form);
        QCOMPARE(form.status->text(), QStringLiteral(" Showing IMG_4.bmp [1 of 2]"));
    }

    // The picker starts in the folder last chosen in an open or save
    // dialog, as the platform's dialogs that move the current directory
    // would have it; before any, in the current folder at the click.
    void batchFolderPicker_StartsInTheFolderLastChosenInADialog()
    {
        WindowFixture f;
        const QString startFolder = QDir::currentPath();
        QStringList photos;
        QDir().mkpath(f.path("photos"));
        QDir().mkpath(f.path("masks"));
        for (int i = 0; i < 2; ++i)
            photos << f.writeBmp(QStringLiteral("photos/IMG_%1.bmp").arg(i + 1), wavePhoto(40, 30, i));
        const QString maskFile = f.writeBmp("masks/flat.bmp", vignetteMask(40, 30));
        TForm1& form = f.start();
        // Photographs and mask from the command line are no dialog's choice.
        form.OpenFromCommandLine(photos, maskFile);
        QVERIFY(form.flow().mask().MaskLoaded);
        f.services.folderAnswers.push_back(QString());
        form.Button2->click();
        QCOMPARE(f.services.folderRequests.back().startFolder, startFolder);

        // The open dialog's photographs, then the mask's folder.
        f.open(photos);
        f.services.folderAnswers.push_back(QString());
        form.Button2->click();
        QCOMPARE(f.services.folderRequests.back().startFolder, f.path("photos"));
        f.services.openAnswers.push_back({maskFile});
        form.Button3Click();
        const QString batchA = f.path("batchA");
        QDir().mkpath(batchA);
        f.services.folderAnswers.push_back(batchA);
        form.Button2->click();
        QCOMPARE(f.services.folderRequests.back().startFolder, f.path("masks"));
        // The picker's own choice does not move it.
        f.services.folderAnswers.push_back(QString());
        form.Button2->click();
        QCOMPARE(f.services.folderRequests.back().startFolder, f.path("masks"));

        // A single save's dialog does.
        f.open({photos[0]});
        const QString saved = f.path("batchA/single.jpg");
        f.services.saveAnswers.push_back(saved);
        form.Button2->click();
        QVERIFY(QFile::exists(saved));
        form.OpenFromCommandLine(photos, QString());
        QCOMPARE(form.ListBox1->count(), 2);
        f.services.folderAnswers.push_back(QString());
        form.Button2->click();
        QCOMPARE(f.services.folderRequests.back().startFolder, batchA);
        QCOMPARE(f.services.errors, QStringList());
    }

    void batchFromThirdOfFive_WritesTheShownPhotographFirst()
    {
        WindowFixture f;
        QStringList photos;
        QList<Bitmap24> images;
        for (int i = 0; i < 5; ++i) {
            images << solid(80, 60, packColour(std::uint8_t(30 + 40 * i), std::uint8_t(200 - 35 * i), 100));
            photos << f.writeBmp(QStringLiteral("IMG_%1.bmp").arg(i + 1), images.last());
        }
        const Bitmap24 maskImage = solid(80, 60, packColour(170, 160, 150));
        const QString maskFile = f.writeBmp("flat.bmp", maskImage);
        const QString folder = f.path("batch");
        QDir().mkpath(folder);
        TForm1& form = openWithMask(f, photos, maskFile, 80, 40);
        form.jpeg->setValue(kBmpQuality);
        form.Button1Click(form.ImageButton2);
        form.Button1Click(form.ImageButton2);
        QCOMPARE(form.status->text(), QStringLiteral(" Showing IMG_3.bmp [3 of 5]"));
        f.services.folderAnswers.push_back(folder);
        // Three photographs in flight, and the first one's file held back
        // until the second one's is in place, so the workers finish later
        // ones first.
        form.flow().SetBatchJobsInFlight(3);
        const std::string firstOut = (folder + QStringLiteral("/IMG_3.bmp")).toStdString();
        const QString secondOut = folder + QStringLiteral("/IMG_2.bmp");
        ScopedFileFault holdFirst([&](FileStep step, const std::string& path, std::size_t&) {
            for (int i = 0; step == FileStep::Create && path == firstOut && !QFile::exists(secondOut) && i < 2000; ++i)
                QThread::msleep(5);
            return 0;
        });
        QList<QStringList> snapshots;
        QStringList captions;
        QStringList statuses;
        f.services.onProcessEvents = [&] {
            snapshots << entriesOf(folder);
            captions << form.Label14->text();
            statuses << form.status->text();
        };

        form.Button2->click();

        QCOMPARE(f.services.errors, QStringList());
        QCOMPARE(f.services.messages, QStringList());
        QVERIFY(snapshots.first().isEmpty()); // the pause after showing the panel comes before any write
        // The progress caption names the photograph just written, in list
        // order, and each shows once its file and every earlier one are in
        // the folder, though later files were there first.
        const QStringList order = {QStringLiteral("IMG_3.bmp"), QStringLiteral("IMG_2.bmp"),
                                   QStringLiteral("IMG_1.bmp"), QStringLiteral("IMG_4.bmp"),
                                   QStringLiteral("IMG_5.bmp")};
        QStringList shownCaptions;
        bool laterFileFirst = false;
        for (int i = 1; i < captions.size(); ++i) {
            if (captions[i] == captions[i - 1])
                continue;
            shownCaptions << captions[i];
            const int k = int(shownCaptions.size());
            QVERIFY2(k <= order.size(), qPrintable(captions[i]));
            for (int j = 0; j < k; ++j)
                QVERIFY2(snapshots[i].contains(order[j]), qPrintable(captions[i] + QLatin1Char(' ') + order[j]));
            laterFileFirst = laterFileFirst || snapshots[i].size() > k;
        }
        QStringList expectedCaptions;
        for (const QString& name : order)
            expectedCaptions << QStringLiteral("Processing %1 (%2 of 5) \u2013 Esc stops").arg(name).arg(expectedCaptions.size() + 1);
        QCOMPARE(shownCaptions, expectedCaptions);
        QVERIFY(laterFileFirst);
        // The status names each file saved in the same order.
        QStringList saved;
        for (const QString& status : statuses)
            if (status.endsWith(QStringLiteral(" saved.")) && (saved.isEmpty() || saved.last() != status))
                saved << status;
        QCOMPARE(saved.size(), 5);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(saved[i], order[i] + QStringLiteral(" saved."));
        // Each file holds its own photograph, corrected.
        for (int i = 0; i < 5; ++i) {
            const QString name = folder + QStringLiteral("/IMG_%1.bmp").arg(i + 1);
            const Bitmap24 written = ReadBmpFile(name.toStdString());
            const Bitmap24 expected = referenceOutput(form, images[i], maskImage);
            QVERIFY2(written == expected, qPrintable(name + QLatin1Char(' ') + firstDifference(written, expected)));
            QVERIFY(!(written == images[i]));
        }
        QCOMPARE(form.ListBox1->item(0)->text(), photos[2]);
        QCOMPARE(form.ListBox1->item(1)->text(), photos[1]);
        QCOMPARE(form.ListBox1->item(2)->text(), photos[0]);
        QCOMPARE(form.flow().photos().FileIndex, 0);
        QCOMPARE(QString::fromStdString(form.flow().photos().SourceFile), photos[2]);
        QCOMPARE(form.status->text(), QStringLiteral("5 of 5 photographs saved to ") + folder);
        QVERIFY(form.flow().PhotoFull() == images[2]);
    }

    void offsetLeftMinus10Top5_PairsPhotoAndMaskScaledBy10()
    {
        WindowFixture f;
        const int W = 2890, H = 2160;
        const Bitmap24 source = gradientPhoto(W, H, 17);
        const Bitmap24 maskImage = texturedMask(W, H);
        const QString photo = f.writeBmp("offset.bmp", source);
        const QString maskFile = f.writeBmp("textured.bmp", maskImage);
        TForm1& form = openWithMask(f, {photo}, maskFile, 80, 25);
        form.jpeg->setValue(kBmpQuality);
        for (int i = 0; i < 10; ++i)
            form.UpDown2->lowerButton()->click();
        for (int i = 0; i < 5; ++i)
            form.UpDown1->lowerButton()->click();
        QCOMPARE(form.Image4Left(), -10);
        QCOMPARE(form.Image4Top(), 5);
        QDir().mkpath(f.path("out"));
        f.services.saveAnswers.push_back(f.path("out/offset.bmp"));

        form.Button2->click();

        QCOMPARE(f.services.errors, QStringList());
        const Bitmap24 written = ReadBmpFile(f.path("out/offset.bmp").toStdString());
        // Built pixel by pixel from the pairing itself: photo (c, r) with
        // mask (c + 100, r - 50); the first 50 rows and the last 100
        // columns have no mask pixel and stay as they were.
        const float damping = DampingForStrength(80);
        const CorrectionTargets t = TargetsFor(form.flow().mask().HotspotR, form.flow().mask().HotspotG, form.flow().mask().HotspotB, 25);
        Bitmap24 expected = source;
        for (int r = 50; r < H; ++r) {
            std::uint8_t* row = expected.scanLine(r);
            const std::uint8_t* m = maskImage.scanLine(r - 50);
            for (int c = 0; c < W - 100; ++c) {
                const std::uint8_t* mp = m + 3 * (c + 100);
                row[3 * c] = CorrectChannelReference(row[3 * c], mp[0], t.b, damping);
                row[3 * c + 1] = CorrectChannelReference(row[3 * c + 1], mp[1], t.g, damping);
                row[3 * c + 2] = CorrectChannelReference(row[3 * c + 2], mp[2], t.r, damping);
            }
        }
        QVERIFY2(written == expected, qPrintable(firstDifference(written, expected)));
        QVERIFY(!(written == source));
    }

    void cancelledSaveDialog_WritesNothingAndRestores()
    {
        WindowFixture f;
        const Bitmap24 source = gradientPhoto(200, 150);
        const QString photo = f.writeBmp("IMG_7.bmp", source);
        const QString maskFile = f.writeBmp("flat.bmp", vignetteMask(200, 150));
        TForm1& form = openWithMask(f, {photo}, maskFile);
        const QString statusBefore = form.status->text();
        const QStringList before = entriesOf(f.path(""));

        form.Button2->click();

        QCOMPARE(f.services.saveRequests.size(), size_t(1));
        const SaveDialogRequest& request = f.services.saveRequests.front();
        QCOMPARE(request.title, QStringLiteral(" Save JPEG Image"));
        QCOMPARE(request.fileName, QStringLiteral("IMG_7.jpg"));
        QCOMPARE(entriesOf(f.path("")), before);
        QVERIFY(form.flow().PhotoFull() == source);
        QCOMPARE(form.status->text(), statusBefore);
        QCOMPARE(f.services.errors, QStringList());
        QCOMPARE(f.services.messages, QStringList());
        QVERIFY(f.services.folderRequests.empty());
    }

    // The save dialog confirmed beach.JPG (no such file), but the writer's
    // extension makes it beach.jpg, the source photograph itself: that file
    // is replaced only after a question naming it.
    void confirmedNameChangedByTheExtension_AsksBeforeReplacingTheSource()
    {
        WindowFixture f;
        const QString photo = f.writeJpeg("beach.jpg", gradientPhoto(120, 90), 95);
        const QByteArray original = fileBytes(photo);
        const QString maskFile = f.writeBmp("flat.bmp", vignetteMask(120, 90));
        TForm1& form = openWithMask(f, {photo}, maskFile);
        const QString question = photo + QStringLiteral(" already exists.\nDo you want to replace it?");

        f.services.saveAnswers.push_back(f.path("beach.JPG"));
        f.services.yesNoAnswers.push_back(false);
        form.Button2->click();
        QCOMPARE(f.services.questions, QStringList{question});
        QCOMPARE(fileBytes(photo), original);
        QVERIFY(!QFile::exists(f.path("beach.JPG")));
        QCOMPARE(f.services.errors, QStringList());

        f.services.saveAnswers.push_back(f.path("beach.JPG"));
        f.services.yesNoAnswers.push_back(true);
        form.Button2->click();
        QCOMPARE(f.services.questions, (QStringList{question, question}));
        QVERIFY(fileBytes(photo) != original);
        QCOMPARE(form.status->text(), QStringLiteral("beach.jpg saved."));
        QCOMPARE(leftovers(f.path("")), QStringList());
    }

    // "Save Images" goes on when the photograph on screen is an unreadable
    // TIFF: that one is named at the end, the others are written.
    void unreadableTiffShown_SaveImagesStillWritesTheOthers()
    {
        WindowFixture f;
        const QString good = f.writeBmp("IMG_1.bmp", gradientPhoto(96, 72));
        const QString broken = f.writeBytes(QStringLiteral("IMG_2.tif"), QByteArray("II*\0 no directory"));
        const QString maskFile = f.writeBmp("flat.bmp", vignetteMask(96, 72));
        TForm1& form = openWithMask(f, {good, broken}, maskFile);
        form.Button1Click(form.ImageButton2);
        QVERIFY(form.flow().PhotoFull().empty());
        QVERIFY(form.Button2->isEnabled());
        const QString folder = f.path("batch");
        QDir().mkpath(folder);
        f.services.folderAnswers.push_back(folder);

        form.Button2->click();

        QCOMPARE(f.services.errors, QStringList());
        QCOMPARE(f.services.messages.size(), qsizetype(1));
        QVERIFY2(f.services.messages[0].startsWith(QStringLiteral("1 photograph of 2 could not be saved:\n") + broken),
                 qPrintable(f.services.messages[0]));
        QCOMPARE(entriesOf(folder), QStringList{QStringLiteral("IMG_1.jpg")});
    }

    void cancelledFolderPicker_WritesNothingAndListAgrees()
    {
        WindowFixture f;
        QStringList photos;
        QList<Bitmap24> images;
        for (int i = 0; i < 3; ++i) {
            images << gradientPhoto(120, 90, 40 * i);
            photos << f.writeBmp(QStringLiteral("IMG_%1.bmp").arg(i + 1), images.last());
        }
        const QString maskFile = f.writeBmp("flat.bmp", vignetteMask(120, 90));
        TForm1& form = openWithMask(f, photos, maskFile);
        form.Button1Click(form.ImageButton2);
        const QStringList before = entriesOf(f.path(""));
        bool panelSeen = false;
        f.services.onProcessEvents = [&] { panelSeen = panelSeen || !form.Panel8->isHidden(); };

        form.Button2->click();

        QCOMPARE(f.services.folderRequests.size(), size_t(1));
        QCOMPARE(f.services.errors, QStringList());
        QCOMPARE(entriesOf(f.path("")), before);
        QVERIFY(!panelSeen);
        QVERIFY(form.Panel8->isHidden());
        QVERIFY(form.flow().PhotoFull() == images[1]);
        checkListPositionAgrees(form);
        QCOMPARE(QString::fromStdString(form.flow().photos().SourceFile), photos[1]);
        QCOMPARE(form.status->text(), QStringLiteral(" Showing IMG_2.bmp [%1 of 3]").arg(form.flow().photos().FileIndex + 1));
        // Stepping on from here shows the next entry of the list, with its
        // own pixels.
        form.Button1Click(form.ImageButton2);
        checkListPositionAgrees(form);
        QCOMPARE(form.flow().photos().FileIndex, 1);
        QVERIFY(form.flow().PhotoFull() == images[photos.indexOf(QString::fromStdString(form.flow().photos().SourceFile))]);
        QVERIFY(QString::fromStdString(form.flow().photos().SourceFile) != photos[1]);
    }

    void failedWrite_ReportsTheFileAndLeavesAConsistentState_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::newRow("save path in a missing folder") << "missing folder";
        QTest::newRow("save path names a directory") << "directory";
        QTest::newRow("batch folder is a regular file") << "folder is a file";
        QTest::newRow("batch fails on its second photograph") << "second blocked";
    }
    void failedWrite_ReportsTheFileAndLeavesAConsistentState()
    {
        QFETCH(QString, situation);
        WindowFixture f;
        const bool batch = situation == QStringLiteral("folder is a file") || situation == QStringLiteral("second blocked");
        const int count = batch ? 3 : 1;
        QStringList photos;
        QList<Bitmap24> images;
        for (int i = 0; i < count; ++i) {
            images << wavePhoto(120, 90, 13 * i);
            photos << f.writeBmp(QStringLiteral("IMG_%1.bmp").arg(i + 1), images.last());
        }
        const QString maskFile = f.writeBmp("flat.bmp", vignetteMask(120, 90));
        TForm1& form = openWithMask(f, photos, maskFile);
        f.services.tick = 4242;
        QString failing;
        FileFaultHook diskFull;
        if (situation == QStringLiteral("missing folder")) {
            failing = f.path("missing/IMG_1.jpg");
            f.services.saveAnswers.push_back(failing);
        } else if (situation == QStringLiteral("directory")) {
            failing = f.path("taken.jpg");
            QDir().mkpath(failing + QStringLiteral("/inside"));
            f.services.saveAnswers.push_back(failing);
        } else if (situation == QStringLiteral("folder is a file")) {
            const QString notAFolder = f.path("plain.txt");
            QFile file(notAFolder);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("x");
            file.close();
            failing = notAFolder + QStringLiteral("/IMG_1.jpg");
            f.services.folderAnswers.push_back(notAFolder);
        } else {
            // The disk fills up while the second photograph is written.
            const QString folder = f.path("batch");
            QDir().mkpath(folder);
            failing = folder + QStringLiteral("/IMG_2.jpg");
            f.services.folderAnswers.push_back(folder);
            diskFull = [failing](FileStep step, const std::string& path, std::size_t&) {
                return step == FileStep::Write && path == failing.toStdString() ? ENOSPC : 0;
            };
        }

        {
            ScopedFileFault fault(diskFull);
            form.Button2->click();
        }

        // A single save reports its error; a batch goes on and lists every
        // photograph it could not write in one message at the end.
        const QStringList& reported = batch ? f.services.messages : f.services.errors;
        QCOMPARE(reported.size(), 1);
        QVERIFY2(reported[0].contains(failing), qPrintable(reported[0]));
        QCOMPARE(batch ? f.services.errors : f.services.messages, QStringList());
        QCOMPARE(leftovers(f.path("")), QStringList());
        QVERIFY(form.Panel8->isHidden());
        const int shown = form.flow().photos().FileIndex;
        checkListPositionAgrees(form);
        QVERIFY(form.flow().PhotoFull() == images[photos.indexOf(QString::fromStdString(form.flow().photos().SourceFile))]);
        // A single save's status names the photograph shown; a batch's counts
        // what it wrote.
        if (!batch)
            QVERIFY(form.status->text().contains(QStringLiteral("[%1 of %2]").arg(shown + 1).arg(count)));
        else if (situation == QStringLiteral("folder is a file"))
            QCOMPARE(form.status->text(), QStringLiteral("0 of 3 photographs saved to ") + QFileInfo(failing).path());
        else
            QCOMPARE(form.status->text(), QStringLiteral("2 of 3 photographs saved to ") + QFileInfo(failing).path());
        if (situation == QStringLiteral("folder is a file")) {
            QVERIFY2(reported[0].startsWith(QStringLiteral("3 photographs of 3 could not be saved:")),
                     qPrintable(reported[0]));
            for (int i = 0; i < count; ++i)
                QVERIFY2(reported[0].contains(photos[i] + QStringLiteral(": ")), qPrintable(photos[i]));
        }
        if (situation == QStringLiteral("second blocked")) {
            // The first and third are written all the same.
            QCOMPARE(entriesOf(f.path("batch")), (QStringList{QStringLiteral("IMG_1.jpg"), QStringLiteral("IMG_3.jpg")}));
            QVERIFY2(reported[0].startsWith(QStringLiteral("1 photograph of 3 could not be saved:\n") + photos[1] +
                                            QStringLiteral(": ")),
                     qPrintable(reported[0]));
            QVERIFY2(reported[0].contains(QString::fromLatin1(std::strerror(ENOSPC))), qPrintable(reported[0]));
            QCOMPARE(QString::fromStdString(form.flow().photos().SourceFile), photos[0]);
            for (int i : {0, 2}) {
                const QString name = f.path("batch") + QStringLiteral("/IMG_%1.jpg").arg(i + 1);
                const Difference d = difference(decodeJpeg(name), referenceOutput(form, images[i], vignetteMask(120, 90)));
                QVERIFY2(d.mean < 2.0, qPrintable(name + QStringLiteral(": mean %1").arg(d.mean)));
            }
        }

        // The next save starts from the unprocessed photograph and succeeds.
        const QString good = f.path("good");
        QDir().mkpath(good);
        if (batch)
            f.services.folderAnswers.push_back(good);
        else
            f.services.saveAnswers.push_back(good + QStringLiteral("/IMG_1.jpg"));
        form.Button2->click();
        QCOMPARE(f.services.errors.size() + f.services.messages.size(), 1);
        QCOMPARE(entriesOf(good).size(), count);
        for (int i = 0; i < count; ++i) {
            const QString name = good + QStringLiteral("/IMG_%1.jpg").arg(i + 1);
            const Difference d = difference(decodeJpeg(name), referenceOutput(form, images[i], vignetteMask(120, 90)));
            QVERIFY2(d.mean < 2.0, qPrintable(name + QStringLiteral(": mean %1").arg(d.mean)));
        }
    }

    void unreadablePhotographInTheMiddle_OthersWrittenAndOneMessageNamesIt()
    {
        WindowFixture f;
        const PhotoFiles files = writePhotos(f, 4, [](int i) { return wavePhoto(96, 72, 11 * i); });
        const QStringList& photos = files.paths;
        const QList<Bitmap24>& images = files.images;
        // The third photograph is damaged after the list was opened.
        f.writeBytes(QStringLiteral("IMG_3.bmp"), QByteArray("BM this is no bitmap"));
        std::string reason;
        try {
            Bitmap24 ignored;
            DecodeBySuffix(photos[2].toStdString(), ignored, JpegSmoothing::Off);
        } catch (const std::exception& e) {
            reason = e.what();
        }
        QVERIFY(!reason.empty());
        const Bitmap24 maskImage = vignetteMask(96, 72);
        const QString maskFile = f.writeBmp("flat.bmp", maskImage);
        TForm1& form = openWithMask(f, photos, maskFile, 65, 29);
        form.jpeg->setValue(kBmpQuality);
        const QString folder = f.path("batch");
        QDir().mkpath(folder);
        f.services.folderAnswers.push_back(folder);
        QStringList captions;
        f.services.onProcessEvents = [&] {
            if (captions.isEmpty() || captions.last() != form.Label14->text())
                captions << form.Label14->text();
        };

        form.Button2->click();

        QCOMPARE(f.services.errors, QStringList());
        QCOMPARE(f.services.messages,
                 QStringList{QStringLiteral("1 photograph of 4 could not be saved:\n") + photos[2] +
                             QStringLiteral(": ") + QString::fromStdString(reason)});
        QCOMPARE(entriesOf(folder), (QStringList{QStringLiteral("IMG_1.bmp"), QStringLiteral("IMG_2.bmp"),
                                                 QStringLiteral("IMG_4.bmp")}));
        for (int i : {0, 1, 3}) {
            const QString name = folder + QStringLiteral("/IMG_%1.bmp").arg(i + 1);
            QVERIFY2(ReadBmpFile(name.toStdString()) == referenceOutput(form, images[i], maskImage), qPrintable(name));
        }
        // The damaged photograph had its turn in the progress panel.
        QCOMPARE(captions.mid(1), (QStringList{QStringLiteral("Processing IMG_1.bmp (1 of 4) \u2013 Esc stops"),
                                               QStringLiteral("Processing IMG_2.bmp (2 of 4) \u2013 Esc stops"),
                                               QStringLiteral("Processing IMG_3.bmp (3 of 4) \u2013 Esc stops"),
                                               QStringLiteral("Processing IMG_4.bmp (4 of 4) \u2013 Esc stops")}));
        QCOMPARE(form.ProgressBar1->maximum(), 4);
        QVERIFY(form.Panel8->isHidden());
        checkListPositionAgrees(form);
        // The failure came in its message; the status line counts what was written.
        QCOMPARE(form.status->text(), QStringLiteral("3 of 4 photographs saved to ") + folder);
        QVERIFY(form.flow().PhotoFull() == images[0]);
        QCOMPARE(leftovers(f.path("")), QStringList());
    }

    void escDuringBatch_FinishesThePhotographsInProgressAndStopsThere()
    {
        WindowFixture f;
        const PhotoFiles files = writePhotos(f, 8, [](int i) { return gradientPhoto(80, 60, 9 * i); });
        const QStringList& photos = files.paths;
        const QList<Bitmap24>& images = files.images;
        const Bitmap24 maskImage = vignetteMask(80, 60);
        const QString maskFile = f.writeBmp("flat.bmp", maskImage);
        TForm1& form = openWithMask(f, photos, maskFile, 45, 26);
        form.jpeg->setValue(kBmpQuality);
        form.flow().SetBatchJobsInFlight(2);
        const QString folder = f.path("batch");
        QDir().mkpath(folder);
        f.services.folderAnswers.push_back(folder);
        // The first file waits until another photograph has reached its own
        // file, and every other file waits for Esc, so the photographs in
        // flight when it comes are known whatever the machine's load: the
        // second, and perhaps the third.
        std::atomic<bool> escSent{false};
        std::atomic<bool> otherInFlight{false};
        const std::string first = (folder + QStringLiteral("/IMG_1.bmp")).toStdString();
        ScopedFileFault gate([&](FileStep step, const std::string& path, std::size_t&) {
            if (step != FileStep::Create)
                return 0;
            if (path != first)
                otherInFlight = true;
            std::atomic<bool>& until = path == first ? otherInFlight : escSent;
            for (int i = 0; !until && i < 2000; ++i)
                QThread::msleep(5);
            return 0;
        });
        QStringList atEsc;
        f.services.onProcessEvents = [&] {
            if (!escSent && form.Label14->text().startsWith(QStringLiteral("Processing IMG_1.bmp "))) {
                atEsc = entriesOf(folder);
                QTest::keyClick(&form, Qt::Key_Escape);
                escSent = true;
            }
        };

        form.Button2->click();
        f.services.onProcessEvents = nullptr;

        QVERIFY(escSent);
        QCOMPARE(f.services.errors, QStringList());
        QCOMPARE(f.services.messages, QStringList());
        // What was written is a start of the list: the photographs done or in
        // progress when Esc came, no more.
        const QStringList written = entriesOf(folder);
        QCOMPARE(atEsc, QStringList{QStringLiteral("IMG_1.bmp")});
        QVERIFY2(written.size() == 2 || written.size() == 3, qPrintable(written.join(QLatin1Char(' '))));
        for (int i = 0; i < written.size(); ++i) {
            QCOMPARE(written[i], QStringLiteral("IMG_%1.bmp").arg(i + 1));
            QVERIFY(ReadBmpFile((folder + QLatin1Char('/') + written[i]).toStdString()) ==
                    referenceOutput(form, images[i], maskImage));
        }
        QCOMPARE(leftovers(f.path("")), QStringList());
        QCOMPARE(form.status->text(),
                 QStringLiteral(" Saving stopped: %1 of 8 photographs written.").arg(written.size()));
        QVERIFY(form.Panel8->isHidden());
        QVERIFY(!form.flow().session().BatchRunning);
        checkListPositionAgrees(form);
        QCOMPARE(QString::fromStdString(form.flow().photos().SourceFile), photos[0]);
        // Esc outside a batch changes nothing.
        QTest::keyClick(&form, Qt::Key_Escape);
        QCOMPARE(form.status->text(),
                 QStringLiteral(" Saving stopped: %1 of 8 photographs written.").arg(written.size()));
    }

    void cropThatLeavesNothing_SaysSoAndWritesNothing_data()
    {
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("top");
        QTest::addColumn<QString>("right");
        QTest::addColumn<QString>("bottom");
        QTest::newRow("left + right = width") << "100" << "" << "100" << "";
        QTest::newRow("top + bottom > height") << "" << "90" << "" << "61";
        QTest::newRow("left alone too wide") << "5000" << "" << "" << "";
    }
    void cropThatLeavesNothing_SaysSoAndWritesNothing()
    {
        QFETCH(QString, left);
        QFETCH(QString, top);
        QFETCH(QString, right);
        QFETCH(QString, bottom);
        WindowFixture f;
        const Bitmap24 source = gradientPhoto(200, 150);
        const QString photo = f.writeBmp("IMG_1.bmp", source);
        const QString maskFile = f.writeBmp("flat.bmp", vignetteMask(200, 150));
        TForm1& form = openWithMask(f, {photo}, maskFile);
        form.left->setText(left);
        form.top->setText(top);
        form.right->setText(right);
        form.bottom->setText(bottom);
        const QStringList before = entriesOf(f.path(""));
        f.services.saveAnswers.push_back(f.path("IMG_1.jpg"));

        form.Button2->click();

        QCOMPARE(f.services.messages.size(), 1);
        QVERIFY2(f.services.messages[0].contains(QStringLiteral("crop margins")), qPrintable(f.services.messages[0]));
        QCOMPARE(f.services.errors, QStringList());
        QCOMPARE(entriesOf(f.path("")), before);
        QVERIFY(f.services.saveRequests.empty());
        QVERIFY(form.flow().PhotoFull() == source);
    }

    void jpegOutput_CarriesTheSourcesExif_data()
    {
        QTest::addColumn<bool>("sourceDeleted");
        QTest::newRow("source present") << false;
        QTest::newRow("source deleted before saving") << true;
    }
    void jpegOutput_CarriesTheSourcesExif()
    {
        QFETCH(bool, sourceDeleted);
        WindowFixture f;
        const QString photo = f.path("canon.jpg");
        QVERIFY(QFile::copy(QStringLiteral(LUMIVANE_SAMPLES_DIR "/exif/ianare_canon-ixus.jpg"), photo));
        const QByteArray sourceApp1 = firstApp1(fileBytes(photo));
        QVERIFY(sourceApp1.size() > 100);
        const QString maskFile = f.writeBmp("flat.bmp", vignetteMask(640, 480));
        TForm1& form = openWithMask(f, {photo}, maskFile);
        QDir().mkpath(f.path("out"));
        const QString target = f.path("out/canon.jpg");
        f.services.saveAnswers.push_back(target);
        if (sourceDeleted)
            QVERIFY(QFile::remove(photo));

        form.Button2->click();

        QCOMPARE(f.services.errors, QStringList());
        const QByteArray written = fileBytes(target);
        QVERIFY(written.startsWith("\xFF\xD8"));
        const Bitmap24 decoded = decodeJpeg(target);
        QCOMPARE(decoded.width(), 640);
        QCOMPARE(decoded.height(), 480);
        if (sourceDeleted) {
            QCOMPARE(f.services.messages,
                     QStringList{QStringLiteral("Can not access ") + photo + QStringLiteral(". Exiting...")});
            QVERIFY(firstApp1(written).isEmpty());
        } else {
            QCOMPARE(f.services.messages, QStringList());
            expectDescribesWrittenPicture(sourceApp1, target, 640, 480);
            QVERIFY(written.startsWith(QByteArray("\xFF\xD8", 2) + firstApp1(written)));
        }
        QCOMPARE(form.status->text(), QStringLiteral("canon.jpg saved."));
        QCOMPARE(entriesOf(f.path("out")), QStringList{QStringLiteral("canon.jpg")});
    }

    // Canon's maker note counts its offsets from the file's TIFF header:
    // a JPEG output keeps it in place, a TIFF output cannot, and the status
    // line says so.
    void saveImage_DroppedMakerNote_ShownOnTheStatusLine_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("status");
        QTest::newRow("TIFF") << QStringLiteral("canon.tif") << QStringLiteral("TIFF Image (*.tif)")
                              << QStringLiteral("canon.tif saved; the photograph's maker note could not be kept.");
        QTest::newRow("JPEG") << QStringLiteral("canon.jpg") << QStringLiteral("JPEG Image (*.jpg)")
                              << QStringLiteral("canon.jpg saved.");
    }
    void saveImage_DroppedMakerNote_ShownOnTheStatusLine()
    {
        QFETCH(QString, name);
        QFETCH(QString, filter);
        QFETCH(QString, status);
        WindowFixture f;
        const QString photo = f.path("canon.jpg");
        QVERIFY(QFile::copy(QStringLiteral(LUMIVANE_SAMPLES_DIR "/exif/ianare_canon-ixus.jpg"), photo));
        TForm1& form = openWithMask(f, {photo}, f.writeBmp("flat.bmp", vignetteMask(640, 480)));
        QDir().mkpath(f.path("out"));
        f.services.saveAnswers.push_back(f.path("out/" + name));
        f.services.saveFilterAnswers.push_back(filter);

        form.Button2->click();

        QCOMPARE(f.services.errors, QStringList());
        QCOMPARE(entriesOf(f.path("out")), QStringList{name});
        QCOMPARE(form.status->text(), status);
    }

    void batchOfCameraJpegs_EachOutputCarriesItsOwnSourcesExif()
    {
        WindowFixture f;
        const QStringList samples = {QStringLiteral("ianare_canon-ixus.jpg"), QStringLiteral("ianare_nikon-e950.jpg"),
                                     QStringLiteral("ianare_olympus-c960.jpg")};
        QStringList photos;
        QList<QByteArray> app1s;
        for (int i = 0; i < samples.size(); ++i) {
            photos << f.path(QStringLiteral("CAM_%1.jpg").arg(i + 1));
            QVERIFY(QFile::copy(QStringLiteral(LUMIVANE_SAMPLES_DIR "/exif/") + samples[i], photos.last()));
            app1s << firstApp1(fileBytes(photos.last()));
            QVERIFY(!app1s.last().isEmpty());
        }
        QVERIFY(app1s[0] != app1s[1]);
        const QString maskFile = f.writeBmp("flat.bmp", vignetteMask(320, 240));
        TForm1& form = openWithMask(f, photos, maskFile);
        const QString folder = f.path("batch");
        QDir().mkpath(folder);
        f.services.folderAnswers.push_back(folder);

        form.Button2->click();

        QCOMPARE(f.services.errors, QStringList());
        QCOMPARE(f.services.messages, QStringList());
        for (int i = 0; i < samples.size(); ++i) {
            const QString out = folder + QStringLiteral("/CAM_%1.jpg").arg(i + 1);
            const Bitmap24 source = decodeJpeg(photos[i]);
            QCOMPARE(decodeJpeg(out).width(), source.width());
            expectDescribesWrittenPicture(app1s[i], out, source.width(), source.height());
        }
    }
};

QTEST_MAIN(SaveTest)
#include "SaveTest.moc"
