// SPDX-License-Identifier: GPL-3.0-or-later
#include "LumivaneResources.h"

#include <QtCore/qglobal.h>

// Q_INIT_RESOURCE declares a function in the enclosing namespace, so it must
// be used outside of ours.
static void initLumivaneQrc()
{
    Q_INIT_RESOURCE(lumivane);
}

namespace lumivane {

void InitLumivaneResources()
{
    static const bool registered = [] {
        initLumivaneQrc();
        return true;
    }();
    (void)registered;
}

} // namespace lumivane
