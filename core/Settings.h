// SPDX-License-Identifier: GPL-3.0-or-later
// The settings file defaults.ini: three slider positions, the default mask
// and that mask's hotspot, kept between runs in the folder SettingsFolder
// chooses (SettingsLocation.h).
//
// Layout (8-bit text, one value per line, CR LF after each line):
//   full form (Store)              short form (Free default mask)
//   1 brightness position 0..50    1..3 as in the full form
//   2 strength position 0..100     4 the word "none"
//   3 quality position 1..101 (101 = BMP)
//   4 full path of default_mask.bmp
//   5..7 picked red, green, blue level 0..255
//   8..9 hotspot marker x, y in the 320 x 240 adjustment image
#pragma once

#include "ViewSizes.h"

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace lumivane {

// Raised when defaults.ini exists but cannot be read, when it cannot be
// written, and when a stored number is not an integer.
class SettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What start-up takes from defaults.ini. The slider texts stay text: they are
// turned into positions only when the first mask load applies them.
struct SettingsValues {
    std::string iniBrightness = "25";
    std::string iniStrength = "0";
    std::string iniQuality = "90";
    // Line 4 when a file of that name exists, else empty.
    std::string defaultMask;
    // True when lines 5 to 9 carried a hotspot; otherwise the hotspot
    // defaults below apply (levels 0, the panel centre: no hotspot chosen).
    bool hasHotspot = false;
    int hotspotR = 0;
    int hotspotG = 0;
    int hotspotB = 0;
    int hotspotX = kNoHotspotX;
    int hotspotY = kNoHotspotY;
    // False when there was no defaults.ini and everything above is default.
    bool fileExisted = false;
    // The lines that were not used, in order: a line 1 to 3 that is no
    // integer (that slider keeps its default), and the lines 5 to 9 that
    // dropped a stored hotspot (not integers, or missing).
    std::vector<int> ignoredLines;

    // The stored hotspot is shown when the adjustment panel opens only when
    // it belongs to a default mask that still exists.
    bool storedHotspotPending() const { return hasHotspot && !defaultMask.empty(); }
};

// Reads defaults.ini line by line, so one damaged line costs only what it
// holds. A missing file gives the defaults; lines may end in CR LF, LF or CR,
// and the last line may lack its ending. A missing line reads as empty.
// Lines 1 to 3 that are not integers keep their defaults. Whether line 4
// names an existing file is asked of `fileExists` (relative names such as
// "none" resolve against the current directory there); that mask is the
// default mask whatever the other lines hold. Lines 5 to 9 are read only when
// line 5 has two or more characters; the hotspot is kept only when all five
// are integers. Every line not used is listed in `ignoredLines`. Raises
// SettingsError naming the file only when it exists but cannot be read.
SettingsValues ReadSettingsFile(const std::string& path,
                                const std::function<bool(const std::string&)>& fileExists);

// The user's message for the lines ReadSettingsFile ignored in the file
// `fileName`: "defaults.ini line 2 ignored", several joined by "; ".
// Empty when none was ignored.
std::string IgnoredLinesText(const std::string& fileName, const std::vector<int>& lines);

// Before a settings file with ignored lines is replaced, a copy of it is kept
// as `path` + ".broken" (replacing an older copy), so the user can still see
// what was in it. Does nothing for a missing or sound file. Raises
// SettingsError when the copy cannot be written.
void KeepBrokenSettingsCopy(const std::string& path);

// Writes the nine-line full form. The text goes to a temporary file in the
// same folder that is renamed over `path` only when complete, so a failure
// leaves the previous file as it was. Raises SettingsError naming the file.
void WriteFullSettings(const std::string& path, int brightness, int strength, int quality,
                       const std::string& defaultMask, int pickedR, int pickedG, int pickedB,
                       int markerX, int markerY);

// Writes the four-line short form whose line 4 is "none"; same safety as above.
void WriteShortSettings(const std::string& path, int brightness, int strength, int quality);

// The texts of the two forms, CR LF after each line (what the writers store).
std::string FullSettingsText(int brightness, int strength, int quality,
                             const std::string& defaultMask, int pickedR, int pickedG,
                             int pickedB, int markerX, int markerY);
std::string ShortSettingsText(int brightness, int strength, int quality);

// Integer value of a stored number: optional blanks around an optionally
// signed decimal integer that fits 32 bits. Raises SettingsError
// "'<text>' is not a valid integer value" otherwise.
int ParseStoredInteger(const std::string& text);

// A stored slider text as a position inside the slider's range [min, max]:
// stored files may come from another version or be edited by hand, so an
// out-of-range number is pulled to the nearer end. Raises SettingsError for
// text that is not an integer.
int ClampedSliderPosition(const std::string& text, int min, int max);

// The quality label before any mask is loaded, from the stored quality text:
// "Image quality: " + text + "% (JPEG)", or "No compression (BMP)" when the
// text's integer is kBmpQuality. Raises SettingsError for text that is not an integer.
std::string QualityLabelAtStart(const std::string& iniQuality);

// The quality label when the first mask load has moved the slider to the
// stored position: "Save quality: <n>% (JPEG)", or "No compression (BMP)" at kBmpQuality.
std::string QualityLabelAfterMaskLoad(int position);

// The quality label on every move of the quality slider:
// "Save quality: <n>% (JPEG)", or "No compression (Save as BMP)" at kBmpQuality,
// which the window shows in red (see QualityLabelIsWarning).
std::string QualityLabelForPosition(int position);
bool QualityLabelIsWarning(int position);

} // namespace lumivane
