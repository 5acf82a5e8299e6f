// SPDX-License-Identifier: GPL-3.0-or-later
#include "Settings.h"

#include "MessageText.h"
#include "SaveQuality.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "FileIO.h"
#include "RegularFile.h"

namespace lumivane {

namespace {

// defaults.ini holds nine short lines; anything far larger is not ours and
// is refused instead of being read into memory whole.
constexpr std::streamsize kMaxSettingsBytes = 1 << 20;

std::string systemReason(int err)
{
    return std::strerror(err);
}

// Splits text into lines ending in CR LF, LF or a lone CR, so a file saved by
// a hand editor reads the same as one this program wrote. A last line
// without an ending still counts; an ending at the very end adds no line.
std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.emplace_back(text, start, i - start);
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            start = i + 1;
        }
        ++i;
    }
    if (start < text.size())
        lines.emplace_back(text, start, text.size() - start);
    return lines;
}

std::string readSettingsText(const std::string& path)
{
    // Opened without blocking and only as a regular file: a FIFO named
    // defaults.ini would otherwise hold the program at its start.
    OpenedFile opened = OpenRegularFile(path);
    if (!opened.refusal.empty())
        throw SettingsError(opened.refusal);
    if (!opened.ok())
        throw SettingsError("Cannot open settings file " + path + ": " + systemReason(opened.error));
    if (opened.size > std::uint64_t(kMaxSettingsBytes))
        throw SettingsError("Settings file " + path + " is too large to be a settings file");
    std::string text(std::size_t(opened.size), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(opened.fd.get(), text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw SettingsError("Cannot read settings file " + path);
        if (n == 0)
            break;
        got += std::size_t(n);
    }
    text.resize(got);
    return text;
}

bool pathExists(const std::string& path, int& err)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        err = S_ISDIR(st.st_mode) ? EISDIR : 0;
        return true;
    }
    err = errno;
    return false;
}

void writeSettings(const std::string& path, const std::string& text)
{
    // The writer keeps the previous file until the new one is complete and
    // its message already names the file.
    try {
        WriteFileAtomically(path, text.data(), text.size());
    } catch (const FileError& e) {
        throw SettingsError(e.what());
    }
}

} // namespace

int ParseStoredInteger(const std::string& text)
{
    // The text is a line of a file: quoted cut short and with its control
    // characters made visible.
    auto invalid = [&text]() { return SettingsError("'" + QuotedLine(text) + "' is not a valid integer value"); };
    std::size_t i = 0;
    std::size_t end = text.size();
    while (i < end && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    while (end > i && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    bool negative = false;
    if (i < end && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == end)
        throw invalid();
    long long value = 0;
    for (; i < end; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            throw invalid();
        value = value * 10 + (c - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            throw invalid();
    }
    if (negative)
        value = -value;
    if (value < INT_MIN || value > INT_MAX)
        throw invalid();
    return static_cast<int>(value);
}

SettingsValues ReadSettingsFile(const std::string& path,
                                const std::function<bool(const std::string&)>& fileExists)
{
    SettingsValues values;
    int err = 0;
    if (!pathExists(path, err)) {
        if (err == ENOENT || err == ENOTDIR)
            return values;
        throw SettingsError("Cannot open settings file " + path + ": " + systemReason(err));
    }
    if (err == EISDIR)
        throw SettingsError(IsAFolderText(path));
    if (err != 0)
        throw SettingsError("Cannot read settings file " + path + ": " + systemReason(err));
    values.fileExisted = true;

    const std::vector<std::string> lines = splitLines(readSettingsText(path));
    auto line = [&lines](std::size_t number) -> std::string {
        return number <= lines.size() ? lines[number - 1] : std::string();
    };
    auto isInteger = [](const std::string& text) {
        try {
            ParseStoredInteger(text);
            return true;
        } catch (const SettingsError&) {
            return false;
        }
    };

    // The slider texts stay text until the first mask load applies them; a
    // line that could never be applied keeps the default instead.
    std::string* sliders[3] = {&values.iniBrightness, &values.iniStrength, &values.iniQuality};
    for (std::size_t k = 0; k < 3; ++k) {
        if (isInteger(line(1 + k)))
            *sliders[k] = line(1 + k);
        else
            values.ignoredLines.push_back(int(1 + k));
    }
    values.defaultMask = line(4);
    if (!values.defaultMask.empty() && !(fileExists && fileExists(values.defaultMask)))
        values.defaultMask.clear();

    // A red level of one digit (or nothing) means the file carries no
    // hotspot; the defaults already in `values` then stand.
    if (line(5).size() < 2)
        return values;

    int numbers[5] = {};
    bool complete = true;
    for (std::size_t k = 0; k < 5; ++k) {
        if (isInteger(line(5 + k))) {
            numbers[k] = ParseStoredInteger(line(5 + k));
        } else {
            values.ignoredLines.push_back(int(5 + k));
            complete = false;
        }
    }
    if (!complete)
        return values;
    values.hasHotspot = true;
    values.hotspotR = numbers[0];
    values.hotspotG = numbers[1];
    values.hotspotB = numbers[2];
    values.hotspotX = numbers[3];
    values.hotspotY = numbers[4];
    return values;
}

std::string IgnoredLinesText(const std::string& fileName, const std::vector<int>& lines)
{
    std::string text;
    for (int number : lines)
        text += (text.empty() ? "" : "; ") + fileName + " line " + std::to_string(number) + " ignored";
    return text;
}

void KeepBrokenSettingsCopy(const std::string& path)
{
    int err = 0;
    if (!pathExists(path, err) || err != 0)
        return;
    SettingsValues read;
    try {
        read = ReadSettingsFile(path, {});
    } catch (const SettingsError&) {
        return; // nothing readable to keep
    }
    if (read.ignoredLines.empty())
        return;
    const std::string text = readSettingsText(path);
    writeSettings(path + ".broken", text);
}

std::string FullSettingsText(int brightness, int strength, int quality,
                             const std::string& defaultMask, int pickedR, int pickedG,
                             int pickedB, int markerX, int markerY)
{
    std::string text;
    for (int n : {brightness, strength, quality})
        text += std::to_string(n) + "\r\n";
    text += defaultMask + "\r\n";
    for (int n : {pickedR, pickedG, pickedB, markerX, markerY})
        text += std::to_string(n) + "\r\n";
    return text;
}

std::string ShortSettingsText(int brightness, int strength, int quality)
{
    std::string text;
    for (int n : {brightness, strength, quality})
        text += std::to_string(n) + "\r\n";
    text += "none\r\n";
    return text;
}

void WriteFullSettings(const std::string& path, int brightness, int strength, int quality,
                       const std::string& defaultMask, int pickedR, int pickedG, int pickedB,
                       int markerX, int markerY)
{
    if (defaultMask.find_first_of("\r\n") != std::string::npos)
        throw SettingsError("Cannot write settings file " + path +
                            ": the default mask path contains a line break");
    writeSettings(path, FullSettingsText(brightness, strength, quality, defaultMask, pickedR,
                                         pickedG, pickedB, markerX, markerY));
}

void WriteShortSettings(const std::string& path, int brightness, int strength, int quality)
{
    writeSettings(path, ShortSettingsText(brightness, strength, quality));
}

int ClampedSliderPosition(const std::string& text, int min, int max)
{
    const int value = ParseStoredInteger(text);
    if (value < min)
        return min;
    if (value > max)
        return max;
    return value;
}

std::string QualityLabelAtStart(const std::string& iniQuality)
{
    if (IsBmpQuality(ParseStoredInteger(iniQuality)))
        return "No compression (BMP)";
    return "Image quality: " + iniQuality + "% (JPEG)";
}

std::string QualityLabelAfterMaskLoad(int position)
{
    if (IsBmpQuality(position))
        return "No compression (BMP)";
    return "Save quality: " + std::to_string(position) + "% (JPEG)";
}

std::string QualityLabelForPosition(int position)
{
    if (QualityLabelIsWarning(position))
        return "No compression (Save as BMP)";
    return "Save quality: " + std::to_string(position) + "% (JPEG)";
}

bool QualityLabelIsWarning(int position)
{
    return IsBmpQuality(position);
}


} // namespace lumivane
