// SPDX-License-Identifier: GPL-3.0-or-later
// The preview pass and the quality label, run by the sliders and the crop
// fields.
#include "Unit1.h"

using namespace lumivane;

void TForm1::brightnessChange()
{
    const ShowState show{*this};
    readAdjustments();
    flow_.Preview();
}

void TForm1::jpegChange()
{
    const ShowState show{*this};
    flow_.SetQuality(jpeg->value());
}
