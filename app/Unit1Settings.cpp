// SPDX-License-Identifier: GPL-3.0-or-later
// "Store" and "Free default mask".
#include "Unit1.h"

using namespace lumivane;

void TForm1::Button4Click()
{
    const ShowState show{*this};
    readAdjustments();
    flow_.StoreDefaults();
}

void TForm1::BitBtn3Click()
{
    const ShowState show{*this};
    readAdjustments();
    flow_.FreeDefaults();
}
