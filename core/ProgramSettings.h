// SPDX-License-Identifier: GPL-3.0-or-later
// lumivane.ini: the program's own settings file beside defaults.ini, which
// keeps exactly the lines other versions read. It holds every setting
// defaults.ini has no line for: the correction method and the exact
// method's colour option, the mask folder and the smoothing choice.
//
// One "key=value" a line (CR LF, LF or CR endings): method=additive|exact,
// colour=both|falloff|colour, mask_folder=PATH, smooth_mask=0|1,
// save_images_format=slider|tiff (what "Save Images" writes: the JPEG or
// BMP the quality slider says, or TIFF),
// mask_folder_profiles=0|1 (the folder's fallback to lens profiles),
// lens_profile=0|1 (Store chose the lens profile as the mask). A line
// with an unknown key is kept as it is when the file is written again; a
// line whose value is not valid is ignored. A missing file means the
// additive method, so every stored setup gives the files it always gave.
#pragma once

#include "CorrectionMethod.h"
#include "MaskFolder.h"

#include <string>
#include <string_view>
#include <vector>

namespace lumivane {

struct ProgramSettings {
    CorrectionMode mode;
    MaskSettings masks;
    // Lines of other keys, written back unchanged.
    std::vector<std::string> otherLines;
    // "Save Images" writes TIFF files instead of what the slider says.
    bool saveImagesTiff = false;
    // Store chose the lens profile as the mask (lens_profile=0|1).
    bool lensProfile = false;
    bool operator==(const ProgramSettings&) const = default;
};

// The file's name in a settings folder.
std::string ProgramSettingsPath(const std::string& settingsFolder);

// The bytes as settings; anything at all gives settings, never an error.
ProgramSettings ParseProgramSettings(std::string_view bytes);
std::string ProgramSettingsText(const ProgramSettings& settings);

// Reads `path` (absent: defaults); raises FileError when it exists but
// cannot be read. Only the first 64 KiB are looked at.
ProgramSettings ReadProgramSettingsFile(const std::string& path);
// Writes the file all or nothing; raises FileError.
void WriteProgramSettingsFile(const std::string& path, const ProgramSettings& settings);

// The settings of a settings folder at start: its lumivane.ini; when there
// is none, the mask folder and smoothing of a masks.ini there (the file
// that kept them before), read this once. `fromMasksIni` tells whether
// that happened, so the caller can write lumivane.ini at once.
ProgramSettings ReadProgramSettingsAtStart(const std::string& settingsFolder, bool* fromMasksIni = nullptr);

} // namespace lumivane
