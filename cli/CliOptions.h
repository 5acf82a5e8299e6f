// SPDX-License-Identifier: GPL-3.0-or-later
// The command line of lumivane-cli and how it becomes a batch.
#pragma once

#include "CorrectionKernel.h"
#include "CorrectionMethod.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace lumivane::cli {

// A command line that cannot be run: exit status 2 with this message.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct CliOptions {
    bool help = false;
    bool version = false;
    bool quiet = false;
    std::string outDir;
    std::string maskFile;     // empty: the stored default mask
    std::string maskFolder;   // empty: one mask for every photograph
    bool smoothMask = false;
    std::string settingsFile; // empty: the window's defaults.ini
    std::optional<int> brightness;
    std::optional<int> strength;
    std::optional<int> quality; // 101 for --quality bmp
    // --method and --colour; unset: lumivane.ini beside the settings file.
    std::optional<CorrectionMethod> method;
    std::optional<ColourOption> colour;
    CropMargins crop;
    int offsetX = 0;
    int offsetY = 0;
    int turns = 0;
    std::optional<std::pair<int, int>> hotspot;
    // --lens-profile: each photograph the mask its lens profile gives (with
    // --mask-folder: those that no mask of the folder matches); --lens
    // names the lens instead of the EXIF; --list-lenses searches the
    // database and does nothing else.
    bool lensProfile = false;
    std::string lens;
    std::optional<std::string> listLenses;
    int jobs = 0; // 0: the number of cores
    std::vector<std::string> photos;
};

// Parses the arguments after the program name. Raises UsageError for an
// unknown option, a missing or malformed value, a value out of range, or
// (unless --help or --version) no --out or no photograph, and for --colour
// with --method additive, and for --lens-profile with --method additive, with
// --mask but no --mask-folder, and --lens without --lens-profile.
CliOptions ParseCommandLine(const std::vector<std::string>& args);

extern const char* const kUsage;

// The mode of the run: the command line's choices over the stored ones.
// Raises UsageError for a colour option given with the additive method.
CorrectionMode ResolveMode(const CliOptions& options, const CorrectionMode& stored);

} // namespace lumivane::cli
