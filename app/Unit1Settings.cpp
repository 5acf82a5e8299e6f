// defaults.ini: reading it at start-up, Store, Free default mask, and the
// quality label.
#include "Unit1.h"

#include "BmpCodec.h"
#include "Naming.h"
#include "PlatformServices.h"
#include "Settings.h"

#include <QFileInfo>

using namespace lumivane;

namespace {

bool fileExists(const std::string& path)
{
    return !path.empty() && QFileInfo::exists(QString::fromStdString(path));
}

} // namespace

void TForm1::readSettingsAtStart()
{
    const std::string path = (programFolder_ + QStringLiteral("/defaults.ini")).toStdString();
    SettingsValues values;
    try {
        values = ReadSettingsFile(path, fileExists);
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
            TPicture thumbnail;
            thumbnail.LoadFromFile(workflow.MaskFile.toStdString());
            Image3->bitmap() = thumbnail.Bitmap();
            Image3->pictureChanged();
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
    settings.DefaultMask = programFolder_ + QStringLiteral("/default_mask.bmp");
    WriteFullSettings((programFolder_ + QStringLiteral("/defaults.ini")).toStdString(), brightness->value(),
                      strength->value(), jpeg->value(), settings.DefaultMask.toStdString(), panel.PickedR,
                      panel.PickedG, panel.PickedB, mask.MarkerX, mask.MarkerY);
    WriteBmpFile(mask.MaskImage, settings.DefaultMask.toStdString());
    BitBtn3->setEnabled(true);
}

void TForm1::BitBtn3Click()
{
    settings.DefaultMask = QStringLiteral("none");
    WriteShortSettings((programFolder_ + QStringLiteral("/defaults.ini")).toStdString(), brightness->value(),
                       strength->value(), jpeg->value());
    BitBtn3->setEnabled(false);
}
