// SPDX-License-Identifier: GPL-3.0-or-later
#include "TemporaryFolder.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace lumivane::test_support {

TemporaryFolder::TemporaryFolder(const std::string& prefix)
{
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary folder from " + pattern);
    path_ = pattern;
}

TemporaryFolder::~TemporaryFolder()
{
    // A test that took the owner's rights away from the folder gets them
    // back first, or nothing in it could be removed.
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TemporaryFolder::names(const std::string& subfolder) const
{
    std::vector<std::string> result;
    const std::filesystem::path folder = subfolder.empty() ? path_ : path_ / subfolder;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        result.push_back(entry.path().filename().string());
    std::sort(result.begin(), result.end());
    return result;
}

} // namespace lumivane::test_support
