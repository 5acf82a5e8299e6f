// Where the program's help page lives.
#pragma once

#include <QString>

namespace lumivane {

// The help page as a local file URL ("file:///.../help.html"). Looks for
// docs/help.html in the executable's folder first (the installed layout and
// the build tree, where the build copies it), then help.html beside the
// executable, and falls back to the page in the source tree.
QString HelpPageUrl();

} // namespace lumivane
