// SPDX-License-Identifier: GPL-3.0-or-later
// The mask adjustment panel (hotspot), the mask offset and quarter turns.
#include "Unit1.h"

#include "PlatformServices.h"

using namespace lumivane;

void TForm1::Button6Click()
{
    const ShowState show{*this};
    readAdjustments();
    // The caption is painted before the zones of the panel's picture are
    // computed.
    flow_.BeginPanel();
    updateControls();
    services_.processEvents();
    flow_.OpenPanel();
    updateControls();
    Button7->setFocus();
}

void TForm1::FormMouseMove(int X, int Y)
{
    const ShowState show{*this};
    flow_.PointAt(X, Y);
}

void TForm1::image2Click()
{
    const ShowState show{*this};
    flow_.PickHotspot();
}

void TForm1::BitBtn1Click()
{
    const ShowState show{*this};
    readAdjustments();
    flow_.ClosePanel();
}

void TForm1::UpDown1Click()
{
    const ShowState show{*this};
    readAdjustments();
    flow_.ShiftVertical(UpDown1->Position());
}

void TForm1::UpDown2Click()
{
    const ShowState show{*this};
    readAdjustments();
    flow_.ShiftHorizontal(UpDown2->Position());
}

void TForm1::SpeedButton1Click()
{
    const ShowState show{*this};
    readAdjustments();
    flow_.CentreMask();
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
    const ShowState show{*this};
    readAdjustments();
    // "Rotating..." is painted before the turn starts.
    flow_.BeginTurn();
    updateControls();
    services_.processEvents();
    flow_.Turn(clockwise);
}
