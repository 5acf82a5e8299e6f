// SPDX-License-Identifier: GPL-3.0-or-later
// Where defaults.ini lives: beside a build tree's executables, else in the
// user's configuration folder; and making that folder when storing.
#include "Settings.h"
#include "SettingsLocation.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace lumivane;
namespace fs = std::filesystem;

namespace {

using lumivane::test_support::TemporaryFolder;

// An environment holding exactly the variables given.
EnvironmentLookup environmentOf(std::map<std::string, std::string> variables)
{
    return [variables = std::move(variables)](const char* name) -> const char* {
        const auto found = variables.find(name);
        return found == variables.end() ? nullptr : found->second.c_str();
    };
}

std::string userDatabaseHome()
{
    const passwd* entry = ::getpwuid(::getuid());
    return entry && entry->pw_dir ? entry->pw_dir : "";
}

unsigned permissionsOf(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return ~0u;
    return info.st_mode & 07777;
}

enum class Marker { None, File, FolderOfThatName };

struct LocationCase {
    const char* name;
    Marker marker;
    std::optional<std::string> xdgConfigHome;
    std::optional<std::string> home;
    // Expected folder; "<exe>" is the executable folder, "<passwd>" the
    // user database's home folder.
    std::string expected;
};

std::string expand(const std::string& pattern, const std::string& exe)
{
    std::string out = pattern;
    for (const auto& [token, value] : {std::pair<std::string, std::string>{"<exe>", exe},
                                       std::pair<std::string, std::string>{"<passwd>", userDatabaseHome()}}) {
        const std::size_t at = out.find(token);
        if (at != std::string::npos)
            out.replace(at, token.size(), value);
    }
    return out;
}

} // namespace

TEST(SettingsFolder, FollowsMarkerThenXdgThenHome)
{
    const LocationCase cases[] = {
        {"build tree beats XDG_CONFIG_HOME", Marker::File, "/cfg", "/home/u", "<exe>"},
        {"build tree without any environment", Marker::File, std::nullopt, std::nullopt, "<exe>"},
        {"installed: XDG_CONFIG_HOME", Marker::None, "/cfg", "/home/u", "/cfg/lumivane"},
        {"installed: XDG_CONFIG_HOME with trailing slashes", Marker::None, "/cfg//", "/home/u", "/cfg/lumivane"},
        {"installed: relative XDG_CONFIG_HOME is ignored", Marker::None, "cfg", "/home/u",
         "/home/u/.config/lumivane"},
        {"installed: empty XDG_CONFIG_HOME is ignored", Marker::None, "", "/home/u", "/home/u/.config/lumivane"},
        {"installed: HOME with trailing slash", Marker::None, std::nullopt, "/home/u/", "/home/u/.config/lumivane"},
        {"installed: no HOME, user database", Marker::None, std::nullopt, std::nullopt,
         "<passwd>/.config/lumivane"},
        {"installed: relative HOME, user database", Marker::None, std::nullopt, "home/u",
         "<passwd>/.config/lumivane"},
        {"a folder named like the marker marks nothing", Marker::FolderOfThatName, "/cfg", "/home/u",
         "/cfg/lumivane"},
    };
    for (const LocationCase& c : cases) {
        SCOPED_TRACE(c.name);
        // The executable folder is writable in every case: being able to
        // write there must not decide anything.
        TemporaryFolder exe;
        const fs::path marker = fs::path(exe.str()) / kBuildTreeMarker;
        if (c.marker == Marker::File)
            std::ofstream(marker) << "build tree\n";
        else if (c.marker == Marker::FolderOfThatName)
            fs::create_directory(marker);
        std::map<std::string, std::string> variables;
        if (c.xdgConfigHome)
            variables["XDG_CONFIG_HOME"] = *c.xdgConfigHome;
        if (c.home)
            variables["HOME"] = *c.home;
        EXPECT_EQ(SettingsFolder(exe.str(), environmentOf(variables)), expand(c.expected, exe.str()));
    }
}

TEST(SettingsFolder, ProgramsBuiltHereKeepSettingsBesideThemselves)
{
    // The build writes its marker beside the programs it builds.
    const std::string programs = LUMIVANE_BUILD_PROGRAM_DIR;
    EXPECT_EQ(SettingsFolder(programs, environmentOf({{"XDG_CONFIG_HOME", "/cfg"}})), programs);
}

TEST(SettingsFolder, ProcessEnvironmentReadsTheRealEnvironment)
{
    ::setenv("LUMIVANE_SETTINGS_TEST_VARIABLE", "/somewhere", 1);
    const EnvironmentLookup environment = ProcessEnvironment();
    ASSERT_NE(environment("LUMIVANE_SETTINGS_TEST_VARIABLE"), nullptr);
    EXPECT_STREQ(environment("LUMIVANE_SETTINGS_TEST_VARIABLE"), "/somewhere");
    ::unsetenv("LUMIVANE_SETTINGS_TEST_VARIABLE");
    EXPECT_EQ(environment("LUMIVANE_SETTINGS_TEST_VARIABLE"), nullptr);
}

TEST(MakeSettingsFolder, MakesMissingParentsPrivate)
{
    TemporaryFolder root;
    const mode_t before = ::umask(022);
    const std::string folder = root.str() + "/home/.config/lumivane";
    MakeSettingsFolder(folder);
    ::umask(before);
    EXPECT_TRUE(fs::is_directory(folder));
    for (const std::string& made : {root.str() + "/home", root.str() + "/home/.config", folder})
        EXPECT_EQ(permissionsOf(made), 0700u) << made;
    // A second call finds everything in place.
    EXPECT_NO_THROW(MakeSettingsFolder(folder));
}

TEST(MakeSettingsFolder, LeavesAnExistingFolderAsItIs)
{
    TemporaryFolder root;
    const std::string folder = root.str() + "/shared";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
    MakeSettingsFolder(folder);
    EXPECT_EQ(permissionsOf(folder), 0755u);
}

TEST(MakeSettingsFolder, NamesTheFolderWhenAFileIsInTheWay)
{
    TemporaryFolder root;
    for (const std::string& blocked : {root.str() + "/file", root.str() + "/file/lumivane"}) {
        SCOPED_TRACE(blocked);
        std::ofstream(root.str() + "/file") << "not a folder";
        try {
            MakeSettingsFolder(blocked);
            ADD_FAILURE() << "no error for " << blocked;
        } catch (const SettingsError& e) {
            EXPECT_NE(std::string(e.what()).find(root.str() + "/file"), std::string::npos) << e.what();
        }
    }
}
