// SPDX-License-Identifier: GPL-3.0-or-later
// Where the program keeps defaults.ini and default_mask.bmp.
//
// A program run from its build folder keeps them beside its executable, as
// it always has; an installed program keeps them in the user's
// configuration folder, $XDG_CONFIG_HOME/lumivane (~/.config/lumivane when
// that is unset). Which of the two applies is decided by how the program
// was built, not by whether its folder happens to be writable: a program
// run as root can write to /usr/bin, and must still not keep its settings
// there.
#pragma once

#include <functional>
#include <string>

namespace lumivane {

// The file the build writes beside the executables of a build folder (and
// never installs). Its presence marks the folder as a build tree.
inline constexpr const char* kBuildTreeMarker = "lumivane-build-tree";

// The value of one environment variable, or nullptr when it is unset.
using EnvironmentLookup = std::function<const char*(const char* name)>;

// The process's own environment.
EnvironmentLookup ProcessEnvironment();

// The folder (no trailing separator) that holds defaults.ini and
// default_mask.bmp for a program whose executable lies in
// `executableFolder`:
//   - `executableFolder` itself when it holds kBuildTreeMarker;
//   - else $XDG_CONFIG_HOME/lumivane when XDG_CONFIG_HOME is an absolute
//     path (a relative or empty value is ignored, as the XDG base directory
//     rules ask);
//   - else $HOME/.config/lumivane, with HOME from the environment when it is
//     an absolute path, else from the user database;
//   - else, with no home folder known at all, `executableFolder`.
// The folder is not created here: it is made when settings are first stored.
std::string SettingsFolder(const std::string& executableFolder, const EnvironmentLookup& environment);

// Makes `folder` with every missing parent, each new one readable by its
// owner only (mode 0700), before settings are written into it. An existing
// folder is left as it is. Raises SettingsError naming the folder when it
// cannot be made or a file of that name is in the way.
void MakeSettingsFolder(const std::string& folder);

} // namespace lumivane
