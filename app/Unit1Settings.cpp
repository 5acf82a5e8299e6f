// defaults.ini: reading it at start-up, Store, Free default mask, and the
// quality label.
#include "Unit1.h"

#include "BmpCodec.h"
#include "FileIO.h"
#include "Naming.h"
#include "PlatformServices.h"
#include "Settings.h"

#include <QFile>
#include <QFileInfo>
#include <optional>

using namespace lumivane;

namespace {

// A default mask must be a file: a directory of that name names no mask.
bool fileExists(const std::string& path)
{
    return !path.empty() && QFileInfo(QString::fromStdString(path)).isFile();
}

// The slider texts are kept as text until the first mask load, but a text
// that is no number would only fail then, in the middle of loading a
// photograph, and again at every later load: check them while reading.
void checkSliderTexts(const std::string& path, const SettingsValues& values)
{
    const std::string* texts[3] = {&values.iniBrightness, &values.iniStrength, &values.iniQuality};
    for (int line = 0; line < 3; ++line) {
        try {
            ParseStoredInteger(*texts[line]);
        } catch (const SettingsError& e) {
            throw SettingsError("Settings file " + path + ", line " + std::to_string(line + 1) + ": " + e.what());
        }
    }
}

} // namespace

void TForm1::readSettingsAtStart()
{
    const std::string path = (programFolder_ + QStringLiteral("/defaults.ini")).toStdString();
    SettingsValues values;
    try {
        values = ReadSettingsFile(path, fileExists);
        checkSliderTexts(path, values);
    } catch (const std::exception& e) {
        // A damaged file must not keep the program from starting: say so and
        // go on with the defaults.
        services_.showError(this, QString::fromUtf8(e.what()) +
                                      QStringLiteral("\nLumivane starts with its default settings."));
        values = SettingsValues();
    }
    settings.IniBrightness = QString::fromStdString(values.iniBrightness);
    settings.IniStrength = QString::fromStdString(values.iniStrength);
    settings.IniQuality = QString::fromStdString(values.iniQuality);
    settings.DefaultMask = QString::fromStdString(values.defaultMask);
    if (!settings.DefaultMask.isEmpty()) {
        workflow.MaskFile = settings.DefaultMask;
        try {
            showMaskThumbnail(workflow.MaskFile);
        } catch (const std::exception& e) {
            services_.showError(this, QString::fromUtf8(e.what()));
        }
        Label4->setText(QString::fromStdString(
            ShortenedMaskLabel(QFileInfo(settings.DefaultMask).fileName().toStdString())));
    }
    if (values.hasHotspot) {
        mask.HotspotR = values.hotspotR;
        mask.HotspotG = values.hotspotG;
        mask.HotspotB = values.hotspotB;
        mask.HotspotX = values.hotspotX;
        mask.HotspotY = values.hotspotY;
        if (!settings.DefaultMask.isEmpty())
            mask.StoredHotspotPending = true;
        mask.MarkerX = mask.HotspotX;
        mask.MarkerY = mask.HotspotY;
    } else {
        ResetHotspot();
    }
    try {
        Label6->setText(QString::fromStdString(QualityLabelAtStart(settings.IniQuality.toStdString())));
    } catch (const std::exception& e) {
        services_.showError(this, QString::fromUtf8(e.what()));
    }
}

void TForm1::applyStoredSliders()
{
    // The stored positions wait until the first mask load; a position
    // outside a slider's range is clamped into it.
    setScrollPosition(brightness, ClampedSliderPosition(settings.IniBrightness.toStdString(), 0, 50));
    setScrollPosition(strength, ClampedSliderPosition(settings.IniStrength.toStdString(), 0, 100));
    setScrollPosition(jpeg, ClampedSliderPosition(settings.IniQuality.toStdString(), 1, 101));
    Label6->setText(QString::fromStdString(QualityLabelAfterMaskLoad(jpeg->value())));
    workflow.FirstMaskPending = 0;
}

void TForm1::jpegChange()
{
    const int position = jpeg->value();
    Label6->setText(QString::fromStdString(QualityLabelForPosition(position)));
    QPalette p = Label6->palette();
    p.setColor(QPalette::WindowText, position == 101 ? QColor(255, 0, 0) : QColor(0, 0, 0));
    Label6->setPalette(p);
}

void TForm1::Button4Click()
{
    const QString maskPath = programFolder_ + QStringLiteral("/default_mask.bmp");
    const QString iniPath = programFolder_ + QStringLiteral("/defaults.ini");
    // Store is all or nothing: defaults.ini must never name a default mask
    // that was not written, so when the mask cannot be written the earlier
    // settings file is put back (or the new one removed).
    std::optional<QByteArray> earlier;
    if (QFileInfo(iniPath).isFile()) {
        QFile file(iniPath);
        if (file.open(QIODevice::ReadOnly))
            earlier = file.readAll();
    }
    WriteFullSettings(iniPath.toStdString(), brightness->value(), strength->value(), jpeg->value(),
                      maskPath.toStdString(), panel.PickedR, panel.PickedG, panel.PickedB, mask.MarkerX,
                      mask.MarkerY);
    try {
        WriteBmpFile(mask.MaskImage, maskPath.toStdString());
    } catch (const std::exception&) {
        try {
            if (earlier)
                WriteFileAtomically(iniPath.toStdString(), earlier->constData(), std::size_t(earlier->size()));
            else
                QFile::remove(iniPath);
        } catch (const std::exception&) {
            // The mask's error is the one to report.
        }
        throw;
    }
    settings.DefaultMask = maskPath;
    BitBtn3->setEnabled(true);
}

void TForm1::BitBtn3Click()
{
    settings.DefaultMask = QStringLiteral("none");
    WriteShortSettings((programFolder_ + QStringLiteral("/defaults.ini")).toStdString(), brightness->value(),
                       strength->value(), jpeg->value());
    BitBtn3->setEnabled(false);
}
