// SPDX-License-Identifier: GPL-3.0-or-later
// The window program's command line: lumivane [--mask FILE] [PHOTO...],
// --help and --version. The photographs open as "Load Image(s)" opens the
// files chosen in its dialog, the mask as "Load Mask" loads its file.
#pragma once

#include <string>
#include <vector>

namespace lumivane {

struct StartArguments {
    enum class Action {
        Open,       // start the window with the files below (maybe none)
        Help,       // print StartUsage() and exit
        Version,    // print the version and exit
        UsageError, // print `error` on the error stream and exit with status 2
    };
    Action action = Action::Open;
    std::string mask; // empty: none given
    std::vector<std::string> photos;
    std::string error;
};

// Parses the arguments after the program name, left to right: the first
// --help, --version or mistake decides. "--mask FILE" and "--mask=FILE" name
// the mask (once); "--" ends the options, so every later argument is a
// photograph even when it starts with '-'; "-" alone is a file name. An
// empty argument, and any other argument starting with '-', is a mistake.
StartArguments ParseStartArguments(const std::vector<std::string>& args);

// The --help text, ending in a line break.
const char* StartUsage();

} // namespace lumivane
