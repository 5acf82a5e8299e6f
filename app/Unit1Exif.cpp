// SPDX-License-Identifier: GPL-3.0-or-later
// Filling the EXIF information window from the photograph and the mask.
#include "Unit1.h"

#include "ExifReader.h"
#include "PlatformServices.h"
#include "Unit2.h"

#include <QFileInfo>

using namespace lumivane;

namespace {

// Metadata texts are single-byte Windows-1252; the bytes 0x80..0x9F differ
// from Latin-1 and are mapped here.
QString fromWindows1252(const std::string& text)
{
    static const char16_t high[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                      0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
    QString out;
    out.reserve(qsizetype(text.size()));
    for (unsigned char c : text)
        out.append(c >= 0x80 && c < 0xA0 ? QChar(high[c - 0x80]) : QChar(c));
    return out;
}

// Column texts of rows 1..18 from one file's reader.
void fillColumn(const TImageInfo& info, QStringList& column)
{
    const char* keys[] = {"ImageDescription", nullptr,          nullptr,           "Software",
                          "Orientation",      "Datetime",       "ExposureTime",    "ExposureMode",
                          "ExposureProgram",  "FNumber",        "MeteringMode",    "Flash",
                          "ISOSpeedRatings",  nullptr,          nullptr,           "XResolution",
                          "YResolution",      "Focallength"};
    for (int row = 1; row <= 18; ++row) {
        QString value;
        switch (row) {
        case 2: value = fromWindows1252(info.make); break;
        case 3: value = fromWindows1252(info.model); break;
        case 14: value = QString::number(info.width); break;
        case 15: value = QString::number(info.height); break;
        default: value = fromWindows1252(info.TagText(keys[row - 1])); break;
        }
        column[row] = value;
    }
}

} // namespace

void TForm1::showexif()
{
    QStringList image;
    QStringList maskColumn;
    for (int i = 0; i < TForm2::kRowCount; ++i) {
        image << QStringLiteral("-");
        maskColumn << QStringLiteral("-");
    }
    const QString hint = Image4Hint();
    const QString path = hint.size() >= 2 ? hint.mid(1, hint.size() - 2) : QString();
    image[0] = hint.mid(hint.lastIndexOf(QLatin1Char('/')) + 1);
    const QString lastMask = QString::fromStdString(flow_.photos().LastMaskFile);
    maskColumn[0] = lastMask.mid(lastMask.lastIndexOf(QLatin1Char('/')) + 1);
    // A profile mask has no file and no EXIF of its own: the column names it.
    if (!flow_.ProfileInUse().empty())
        maskColumn[0] = QStringLiteral("Lens profile: ") + QString::fromStdString(flow_.ProfileInUse());

    TImageMetadata metadata;
    metadata.ReadMetadata(path.toStdString());
    if (metadata.ExifFound() && metadata.exif)
        fillColumn(*metadata.exif, image);
    if (lastMask != QLatin1String(kNoMaskFile)) {
        metadata.ReadMetadata(lastMask.toStdString());
        if (metadata.ExifFound() && metadata.exif)
            fillColumn(*metadata.exif, maskColumn);
    }
    Form2->setRows(image, maskColumn);
    services_.processEvents();
}

void TForm1::BitBtn7Click()
{
    showexif();
    if (!Form2->isVisible())
        Form2->show();
}
