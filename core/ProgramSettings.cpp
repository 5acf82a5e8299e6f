// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProgramSettings.h"

#include "FileIO.h"

#include <filesystem>
#include <system_error>

namespace lumivane {

namespace {

constexpr std::size_t kLargestFile = 64 * 1024;

bool exists(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::u8path(path), ec);
}

} // namespace

std::string ProgramSettingsPath(const std::string& settingsFolder)
{
    return settingsFolder + "/lumivane.ini";
}

ProgramSettings ParseProgramSettings(std::string_view bytes)
{
    ProgramSettings settings;
    ForEachSettingsLine(bytes, [&settings](std::string_view line) {
        const std::size_t eq = line.find('=');
        const std::string_view key = line.substr(0, eq == std::string_view::npos ? line.size() : eq);
        const std::string_view value = eq == std::string_view::npos ? std::string_view() : line.substr(eq + 1);
        if (key == "method") {
            if (const auto method = ParseMethodName(value))
                settings.mode.method = *method;
        } else if (key == "colour") {
            if (const auto colour = ParseColourOptionName(value))
                settings.mode.colour = *colour;
        } else if (key == "mask_folder") {
            // A path holds no NUL; an empty value means no folder.
            if (value.find('\0') == std::string_view::npos)
                settings.masks.folder = std::string(value);
        } else if (key == "smooth_mask") {
            if (value == "0" || value == "1")
                settings.masks.smooth = value == "1";
        } else if (key == "save_images_format") {
            if (value == "slider" || value == "tiff")
                settings.saveImagesTiff = value == "tiff";
        } else if (key == "mask_folder_profiles") {
            if (value == "0" || value == "1")
                settings.masks.profileFallback = value == "1";
        } else if (key == "lens_profile") {
            if (value == "0" || value == "1")
                settings.lensProfile = value == "1";
        } else if (eq != std::string_view::npos && !key.empty() && line.find('\0') == std::string_view::npos) {
            // A key of a later version: kept for it.
            settings.otherLines.emplace_back(line);
        }
    });
    return settings;
}

std::string ProgramSettingsText(const ProgramSettings& settings)
{
    std::string text = "method=" + std::string(MethodName(settings.mode.method)) + "\r\ncolour=" +
                       std::string(ColourOptionName(settings.mode.colour)) + "\r\nmask_folder=" +
                       settings.masks.folder + "\r\nsmooth_mask=" + (settings.masks.smooth ? "1" : "0") + "\r\n";
    // Written only when chosen: without it the file is what earlier
    // versions wrote.
    if (settings.saveImagesTiff)
        text += "save_images_format=tiff\r\n";
    // Written only when on, so a file without them reads as before.
    if (settings.masks.profileFallback)
        text += "mask_folder_profiles=1\r\n";
    if (settings.lensProfile)
        text += "lens_profile=1\r\n";
    for (const std::string& line : settings.otherLines)
        text += line + "\r\n";
    return text;
}

ProgramSettings ReadProgramSettingsFile(const std::string& path)
{
    if (!exists(path))
        return ProgramSettings();
    const std::vector<std::uint8_t> bytes = ReadFileHead(path, kLargestFile);
    return ParseProgramSettings(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void WriteProgramSettingsFile(const std::string& path, const ProgramSettings& settings)
{
    // One value a line: a folder name that holds a line break cannot be kept.
    if (settings.masks.folder.find_first_of("\r\n") != std::string::npos)
        throw FileError("Cannot keep the mask folder " + settings.masks.folder + " in " + path +
                        ": its name holds a line break.");
    const std::string text = ProgramSettingsText(settings);
    WriteFileAtomically(path, {ByteSpan{text.data(), text.size()}});
}

ProgramSettings ReadProgramSettingsAtStart(const std::string& settingsFolder, bool* fromMasksIni)
{
    const std::string path = ProgramSettingsPath(settingsFolder);
    const std::string masksIni = settingsFolder + "/masks.ini";
    const bool migrate = !exists(path) && exists(masksIni);
    if (fromMasksIni)
        *fromMasksIni = migrate;
    if (!migrate)
        return ReadProgramSettingsFile(path);
    ProgramSettings settings;
    settings.masks = ReadMaskSettingsFile(masksIni);
    return settings;
}

} // namespace lumivane
