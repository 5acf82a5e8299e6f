// SPDX-License-Identifier: GPL-3.0-or-later
// The command line of lumivane-cli and how it becomes a batch.
#pragma once

#include "CorrectionKernel.h"
#include "CorrectionMethod.h"
#include "MaskGeometry.h"
#include "Naming.h"
#include "SaveQuality.h"

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

// What happens to an output name that is taken.
enum class ExistingOutputs {
    ClashName, // the new file gets a clash name; nothing is replaced
    Overwrite, // --overwrite: replaced atomically
    Skip,      // --skip-existing: the photograph is skipped
};

struct CliOptions {
    bool help = false;
    bool version = false;
    bool quiet = false;
    bool verbose = false;
    bool recursive = false;
    ExistingOutputs existing = ExistingOutputs::ClashName;
    std::optional<std::string> nameTemplate; // --name
    std::string reportFile;                  // --report: one JSON line per photograph
    // A damaged photograph (written as decoded) does not make the exit
    // status 1.
    bool allowDamaged = false;
    std::string outDir;
    std::string maskFile;     // empty: the stored default mask
    std::string maskFolder;   // empty: one mask for every photograph
    bool smoothMask = false;
    std::string settingsFile; // empty: the window's defaults.ini
    std::optional<int> brightness;
    std::optional<int> strength;
    std::optional<int> quality; // kBmpQuality for --quality bmp
    // --format; unset: what the quality says.
    std::optional<OutputFormat> format;
    int depth = 0; // --depth 8|16 of a TIFF; 0: the photograph's own
    // --method and --colour; unset: lumivane.ini beside the settings file.
    std::optional<CorrectionMethod> method;
    std::optional<ColourOption> colour;
    CropMargins crop;
    int offsetX = 0;
    int offsetY = 0;
    int turns = 0;
    std::optional<std::pair<int, int>> hotspot;
    std::optional<HotspotLevels> levels; // --levels R,G,B
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
// unknown option (wherever it stands), a missing or malformed value, a value
// out of range, or (unless --help or --version) no --out or no photograph,
// and for --colour with --method additive, --levels with --hotspot,
// --overwrite with --skip-existing, and for --lens-profile with --method
// additive, with --mask but no --mask-folder, and --lens without
// --lens-profile.
CliOptions ParseCommandLine(const std::vector<std::string>& args);

extern const char* const kUsage;

// The quality slider position of the run (kBmpQuality: BMP): --format and --quality
// over the stored position. --format jpeg over a stored BMP gives quality 90.
int ResolveQuality(const CliOptions& options, int storedQuality);

// The mode of the run: the command line's choices over the stored ones.
// Raises UsageError for a colour option given with the additive method.
CorrectionMode ResolveMode(const CliOptions& options, const CorrectionMode& stored);

} // namespace lumivane::cli
