// SPDX-License-Identifier: GPL-3.0-or-later
#include "SettingsLocation.h"

#include "Settings.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace lumivane {

namespace {

bool isAbsolute(const char* path)
{
    return path != nullptr && path[0] == '/';
}

// The home folder of the user running the program, from the user database;
// empty when it has none.
std::string homeFromUserDatabase()
{
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? std::size_t(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (found == nullptr || !isAbsolute(found->pw_dir))
        return {};
    return found->pw_dir;
}

std::string withoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

} // namespace

EnvironmentLookup ProcessEnvironment()
{
    return [](const char* name) -> const char* { return std::getenv(name); };
}

std::string SettingsFolder(const std::string& executableFolder, const EnvironmentLookup& environment)
{
    std::error_code error;
    const std::filesystem::path marker = std::filesystem::u8path(executableFolder) / kBuildTreeMarker;
    if (std::filesystem::is_regular_file(marker, error))
        return executableFolder;

    const char* configHome = environment("XDG_CONFIG_HOME");
    if (isAbsolute(configHome))
        return withoutTrailingSlashes(configHome) + "/lumivane";
    const char* home = environment("HOME");
    const std::string homeFolder = isAbsolute(home) ? std::string(home) : homeFromUserDatabase();
    if (!homeFolder.empty())
        return withoutTrailingSlashes(homeFolder) + "/.config/lumivane";
    return executableFolder;
}

void MakeSettingsFolder(const std::string& folder)
{
    // Each missing part of the path is made in turn, so the parents made on
    // the way ($HOME/.config on a fresh account) are private too.
    std::string prefix;
    std::size_t start = 0;
    while (start <= folder.size()) {
        const std::size_t slash = folder.find('/', start);
        const std::size_t end = slash == std::string::npos ? folder.size() : slash;
        prefix = folder.substr(0, end);
        start = end + 1;
        if (prefix.empty() || prefix.back() == '/')
            continue;
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
            throw SettingsError("Cannot make the settings folder " + prefix + ": " + std::strerror(errno));
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        throw SettingsError("Cannot make the settings folder " + folder + ": a file of that name is in the way");
}

} // namespace lumivane
