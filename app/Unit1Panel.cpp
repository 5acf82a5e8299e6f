// The mask adjustment panel (hotspot), the mask offset and quarter turns.
#include "Unit1.h"

#include "BitmapRotation.h"
#include "MaskGeometry.h"
#include "PlatformServices.h"
#include "TextFormat.h"

using namespace lumivane;

namespace {

QString levelText(const char* name, int value, int picked)
{
    return QString::fromLatin1(name) + QString::number(value) + QStringLiteral(" (") + QString::number(picked) +
           QLatin1Char(')');
}

} // namespace

void TForm1::drawPanelCross(int x, int y)
{
    DrawHotspotCross(Image2->bitmap(), x, y);
    Image2->pictureChanged();
}

void TForm1::Button6Click()
{
    Button1->setEnabled(false);
    Button3->setEnabled(false);
    Button2->setEnabled(false);
    QPalette p = Panel6->palette();
    p.setColor(QPalette::WindowText, Qt::black);
    Panel6->setPalette(p);
    Panel6->setText(QStringLiteral("Select Hotspot"));
    Panel6->show();
    Panel6->raise();
    if (!settings.DefaultMask.isEmpty())
        BitBtn3->setEnabled(true);
    if (settings.DefaultMask == QStringLiteral("none"))
        BitBtn3->setEnabled(false);
    services_.processEvents();

    panel.PickedR = std::uint8_t(mask.HotspotR);
    panel.PickedG = std::uint8_t(mask.HotspotG);
    panel.PickedB = std::uint8_t(mask.HotspotB);
    const int lum = Lum(mask.HotspotR, mask.HotspotG, mask.HotspotB);
    Label8->setText(levelText("R: ", mask.HotspotR, mask.HotspotR));
    Label9->setText(levelText("G: ", mask.HotspotG, mask.HotspotG));
    Label11->setText(levelText("B: ", mask.HotspotB, mask.HotspotB));
    Label12->setText(levelText("L: ", lum, lum));
    Label13->setText(QStringLiteral("Angle: ") + QString::number(mask.MaskAngle) + QStringLiteral("\u00B0"));

    panel.PanelMask.setSize(320, 240);
    stretchDraw(mask.MaskImage, panel.PanelMask);
    Panel4->show();
    Panel4->raise();
    Bitmap24& picture = Image2->bitmap();
    picture = panel.PanelMask;
    PaintBrightnessZones(panel.PanelMask, picture);
    DrawCentreLines(picture);
    panel.PanelSnapshot = picture;
    if (mask.StoredHotspotPending) {
        if (mask.HotspotX != 160 && mask.HotspotY != 120)
            DrawHotspotCross(picture, mask.MarkerX, mask.MarkerY);
        mask.StoredHotspotPending = false;
        mask.HotspotPicked = true;
    }
    if (mask.HotspotPicked && mask.HotspotX != 160 && mask.HotspotY != 120)
        DrawHotspotCross(picture, mask.MarkerX, mask.MarkerY);
    Image2->pictureChanged();
    Button7->setFocus();
}

void TForm1::FormMouseMove(int X, int Y)
{
    if (!Panel4->isVisible())
        return;
    panel.MouseX = X;
    panel.MouseY = Y;
    const Colour c = panel.PanelMask.pixel(X, Y);
    Label8->setText(levelText("R: ", redOf(c), panel.PickedR));
    Label9->setText(levelText("G: ", greenOf(c), panel.PickedG));
    Label11->setText(levelText("B: ", blueOf(c), panel.PickedB));
    Label12->setText(levelText("L: ", Lum(redOf(c), greenOf(c), blueOf(c)),
                               Lum(panel.PickedR, panel.PickedG, panel.PickedB)));
}

void TForm1::image2Click()
{
    if (!mask.HotspotPicked)
        panel.PanelSnapshot = Image2->bitmap();
    else
        Image2->bitmap() = panel.PanelSnapshot;
    mask.HotspotPicked = true;
    DrawHotspotCross(Image2->bitmap(), panel.MouseX, panel.MouseY);
    Image2->pictureChanged();
    mask.HotspotX = panel.MouseX;
    mask.HotspotY = panel.MouseY;
    mask.MarkerX = mask.HotspotX;
    mask.MarkerY = mask.HotspotY;
    const Colour c = panel.PanelMask.pixel(mask.HotspotX, mask.HotspotY);
    panel.PickedR = redOf(c);
    panel.PickedG = greenOf(c);
    panel.PickedB = blueOf(c);
}

void TForm1::BitBtn1Click()
{
    Panel4->hide();
    panel.PanelMask.clear();
    Button1->setEnabled(true);
    Button3->setEnabled(true);
    Button2->setEnabled(true);
    Panel6->hide();
    if (mask.HotspotPicked) {
        mask.HotspotR = panel.PickedR;
        mask.HotspotG = panel.PickedG;
        mask.HotspotB = panel.PickedB;
    }
    DrawMaskOverlay(mask.MarkerX, mask.MarkerY);
    brightnessChange();
}

void TForm1::UpDown1Click()
{
    const int offset = 150 - UpDown1->Position();
    setImage4Pos(Image4Left(), offset);
    setImage3Pos(Image3Left(), int(RoundHalfEven((long double)offset / 4.41L)));
    brightnessChange();
}

void TForm1::UpDown2Click()
{
    const int offset = UpDown2->Position() - 150;
    setImage4Pos(offset, Image4Top());
    setImage3Pos(int(RoundHalfEven((long double)offset / 4.37L)), Image3Top());
    brightnessChange();
}

void TForm1::SpeedButton1Click()
{
    // Setting the positions does not run the up-down handlers.
    setImage4Pos(0, 0);
    UpDown1->setPosition(150);
    UpDown2->setPosition(150);
    setImage3Pos(1, 1);
    brightnessChange();
}

void TForm1::rot1Click()
{
    turnMask(false);
}

void TForm1::rot2Click()
{
    turnMask(true);
}

void TForm1::turnMask(bool clockwise)
{
    panel.RotateClockwise = clockwise;
    Panel6->setText(QStringLiteral("Rotating..."));
    Panel6->show();
    Panel6->raise();
    services_.processEvents();
    Button9Click();
    Panel6->hide();
    Image3->setToolTip(QStringLiteral(" Rotation Angle: ") + QString::number(mask.MaskAngle) + QStringLiteral("\u00B0 "));
    std::swap(mask.MaskWidth, mask.MaskHeight);
    UpdateMaskRatioLabel();
}

void TForm1::Button9Click()
{
    std::unique_ptr<Bitmap24> turned;
    if (panel.RotateClockwise) {
        turned = Rotate90(270, mask.MaskImage);
        mask.MaskAngle += 90;
        if (mask.MaskAngle == 360)
            mask.MaskAngle = 0;
    } else {
        turned = Rotate90(90, mask.MaskImage);
        mask.MaskAngle -= 90;
        if (mask.MaskAngle == -360)
            mask.MaskAngle = 0;
    }
    TurnMarker(mask.MarkerX, mask.MarkerY, panel.RotateClockwise);
    DrawMaskOverlay(mask.MarkerX, mask.MarkerY);
    // The turned mask is fitted to the size the mask was fitted to before.
    const int w = MaskFull().width();
    const int h = MaskFull().height();
    stretchDraw(*turned, mask.MaskPreview);
    mask.MaskImage = std::move(*turned);
    fitMask(w, h);
    brightnessChange();
}
