// SPDX-License-Identifier: GPL-3.0-or-later
// Where the program's help page lives.
#pragma once

#include <QString>

namespace lumivane {

// The help page as a local file URL ("file:///.../help.html") for the running
// executable; HelpPageUrlFor() with the executable's folder, or with no folder
// when there is no application object.
QString HelpPageUrl();

// Looks for the page, in this order, relative to the executable's folder:
// docs/help.html (the build tree, where the build copies it), help.html beside
// the executable, ../share/doc/lumivane/help.html (an installed layout: bin/ and
// share/ under one prefix); falls back to the page in the source tree.
QString HelpPageUrlFor(const QString& executableDir);

} // namespace lumivane
