// SPDX-License-Identifier: GPL-3.0-or-later
#include "Naming.h"

#include "ImageFile.h"

#include <algorithm>
#include <ctime>

namespace lumivane {

namespace {

// Everything but the last n characters (empty when the text is shorter).
std::string dropLast(const std::string& text, std::size_t n)
{
    return text.size() > n ? text.substr(0, text.size() - n) : std::string();
}

// The last n characters (the whole text when it is shorter).
std::string lastChars(const std::string& text, std::size_t n)
{
    return text.size() > n ? text.substr(text.size() - n) : text;
}

} // namespace

const char* OutputExtension(OutputFormat format)
{
    switch (format) {
    case OutputFormat::Bmp:
        return "bmp";
    case OutputFormat::Tiff:
        return "tif";
    case OutputFormat::Jpeg:
        break;
    }
    return "jpg";
}

std::string FileNamePart(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ReplaceLast3(const std::string& name, const std::string& ext)
{
    return dropLast(name, 3) + ext;
}

std::string OutNameFor(const std::string& currentFile, OutputFormat format)
{
    const std::string name = FileNamePart(currentFile);
    const char* extension = OutputExtension(format);
    // "x.jpeg", "x.jpe" and "x.tiff" keep their stem: "x.jpg", not "x.jjpg".
    if (ImageKindOfLongName(name) != ImageKind::Unknown)
        return name.substr(0, name.find_last_of('.') + 1) + extension;
    return ReplaceLast3(name, extension);
}

std::string UpperSuffix3(const std::string& path)
{
    std::string suffix = lastChars(path, 3);
    for (char& c : suffix)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return suffix;
}

std::string FinalOutputPath(const std::string& outPath, OutputFormat format, bool cropped)
{
    if (format == OutputFormat::Bmp && cropped)
        return outPath;
    return ReplaceLast3(outPath, OutputExtension(format));
}

std::string SaveDialogOutputPath(const std::string& confirmed, OutputFormat format, bool cropped)
{
    if (format == OutputFormat::Bmp && cropped)
        return confirmed;
    const std::size_t slash = confirmed.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::string name = confirmed.substr(nameStart);
    const std::string extension = OutputExtension(format);
    const std::string folder = confirmed.substr(0, nameStart);
    // "x.tiff" becomes "x.tif", not "x.ttif".
    if (format == OutputFormat::Tiff && NamesTiff(name) && UpperSuffix3(name) == "IFF")
        return folder + ReplaceLast3(dropLast(name, 1), extension);
    if (name.size() < 4)
        return folder + name + "." + extension;
    return folder + ReplaceLast3(name, extension);
}

bool NamesTiff(const std::string& confirmed)
{
    std::string name = FileNamePart(confirmed);
    for (char& c : name)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    auto endsWith = [&name](const std::string& tail) {
        return name.size() > tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
    };
    return endsWith(".tif") || endsWith(".tiff");
}

std::string ReplaceQuestion(const std::string& path)
{
    return path + " already exists.\nDo you want to replace it?";
}

std::string BatchCandidatePath(const std::string& folder, const std::string& outName, OutputFormat format,
                               std::uint32_t startTick, int attempt, bool cropped)
{
    if (attempt <= 0)
        return FinalOutputPath(ReplaceLast3(folder + "/" + outName, OutputExtension(format)), format, cropped);
    // Appended piece by piece: "-" + std::to_string(...) trips a false
    // -Wrestrict warning of g++ 12 at -O3.
    std::string path = folder;
    path += '/';
    path += dropLast(outName, 4);
    path += '.';
    path += std::to_string(startTick);
    if (attempt >= 2) {
        path += '-';
        path += std::to_string(attempt);
    }
    path += lastChars(outName, 4);
    return FinalOutputPath(path, format, cropped);
}

std::string ShortenedMaskLabel(const std::string& fileName)
{
    // The name is UTF-8: count characters by their first bytes (everything
    // but the continuation bytes 10xxxxxx), walking back from the end, so the
    // cut always falls at the start of a character.
    constexpr std::size_t kShown = 14;
    std::size_t characters = 0;
    std::size_t cut = fileName.size();
    while (cut > 0) {
        const auto byte = static_cast<unsigned char>(fileName[cut - 1]);
        if ((byte & 0xC0) != 0x80) {
            if (characters == kShown)
                return "..." + fileName.substr(cut);
            ++characters;
        }
        --cut;
    }
    return fileName;
}

std::uint32_t SystemTickCount()
{
    // Milliseconds since the system started, sleep included, as the batch
    // names need a number that differs from run to run; a timer started
    // with the program would name the first batch of every run alike.
    timespec now {};
    if (::clock_gettime(CLOCK_BOOTTIME, &now) != 0)
        ::clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t ms = std::uint64_t(now.tv_sec) * 1000u + std::uint64_t(now.tv_nsec) / 1000000u;
    return std::uint32_t(ms); // wraps after 49.7 days, like any 32-bit tick
}

std::string BatchProgressText(const std::string& name, int n, int total)
{
    return "Processing " + name + " (" + std::to_string(n) + " of " + std::to_string(total) +
           ") \u2013 Esc stops";
}

std::string BatchSavedText(int written, int total, const std::string& folder)
{
    return std::to_string(written) + " of " + std::to_string(total) + " photographs saved to " + folder;
}

std::string LensProfileClause(const std::vector<std::string>& names)
{
    if (names.empty())
        return std::string();
    constexpr std::size_t kNamed = 3;
    std::string clause = " (lens profile: ";
    for (std::size_t i = 0; i < std::min(names.size(), kNamed); ++i)
        clause += (i ? ", " : "") + names[i];
    if (names.size() > kNamed)
        clause += " and " + std::to_string(names.size() - kNamed) + " more";
    return clause + ")";
}

} // namespace lumivane
