// SPDX-License-Identifier: GPL-3.0-or-later
// The one temporary folder of the tests: a fresh folder of its own under the
// system's temporary folder, removed with everything in it when the object
// goes. No test makes one by hand.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace lumivane::test_support {

class TemporaryFolder {
public:
    explicit TemporaryFolder(const std::string& prefix = "lumivane-test");
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    // The folder's path as text.
    std::string str() const { return path_.string(); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    // The names of the files directly in `subfolder` ("" for the folder
    // itself), sorted; none when it does not exist.
    std::vector<std::string> names(const std::string& subfolder = {}) const;

private:
    std::filesystem::path path_;
};

} // namespace lumivane::test_support
