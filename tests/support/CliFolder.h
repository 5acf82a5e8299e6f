// SPDX-License-Identifier: GPL-3.0-or-later
// The folder the lumivane-cli tests run the real program in: a temporary
// folder holding the mask (mask.bmp) and a settings file of stored defaults
// (defaults.ini, with no stored mask, so the program never reads the
// settings of whoever runs the tests), photographs written as pattern JPEGs,
// and a run of the program given those two and an output folder.
#pragma once

#include "Bitmap24.h"
#include "BmpCodec.h"
#include "FileIO.h"
#include "HostileFiles.h"
#include "TemporaryFolder.h"

#include <filesystem>
#include <string>
#include <vector>

namespace lumivane::test_support {

class CliFolder {
public:
    CliFolder(const std::string& prefix, const Bitmap24& mask) : folder_(prefix)
    {
        WriteBmpFile(mask, file("mask.bmp"));
        const std::string settings = "30\r\n40\r\n85\r\nnone\r\n";
        WriteFileAtomically(file("defaults.ini"), settings.data(), settings.size());
    }

    const std::filesystem::path& path() const { return folder_.path(); }
    std::string file(const std::string& name) const { return folder_.file(name); }
    std::vector<std::string> names(const std::string& subfolder = {}) const { return folder_.names(subfolder); }

    // A pattern JPEG of width x height at quality 90 as `name` (its folders
    // made); its full path.
    std::string photo(const std::string& name, int width = 64, int height = 48) const
    {
        std::filesystem::create_directories(std::filesystem::path(file(name)).parent_path());
        WritePatternJpeg(file(name), width, height, 90);
        return file(name);
    }

    // Runs `program` with the settings file, the mask (mask.bmp unless
    // another is given) and the output folder `out` inside the folder, then
    // `extra`, in the environment plus `env`.
    ChildRun run(const std::string& program, const std::vector<std::string>& extra, const std::string& out = "out",
                 const std::vector<std::string>& env = {}, const std::string& mask = {}) const
    {
        std::vector<std::string> args = {"--settings", file("defaults.ini"), "--mask",
                                         mask.empty() ? file("mask.bmp") : mask, "--out", file(out)};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunProgram(program, args, env);
    }

private:
    TemporaryFolder folder_;
};

} // namespace lumivane::test_support
