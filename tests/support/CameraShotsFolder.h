// SPDX-License-Identifier: GPL-3.0-or-later
// The folder the workflow tests with camera photographs share: a temporary
// folder with program/ (the program's own folder, for its settings files)
// and masks/ (a mask folder), and photographs written into it as JPEGs that
// carry a camera's EXIF.
#pragma once

#include "Bitmap24.h"
#include "CameraExif.h"
#include "TemporaryFolder.h"

#include <filesystem>
#include <string>

namespace lumivane::test_support {

class CameraShotsFolder {
public:
    explicit CameraShotsFolder(const std::string& prefix) : folder_(prefix)
    {
        std::filesystem::create_directories(folder_.path() / "program");
        std::filesystem::create_directories(folder_.path() / "masks");
    }

    const std::filesystem::path& path() const { return folder_.path(); }
    std::string Program() const { return (folder_.path() / "program").string(); }
    std::string Masks() const { return (folder_.path() / "masks").string(); }

    // `picture` written as the JPEG `name` (a path inside the folder, such
    // as "masks/f4.jpg") with the camera facts `exif`; its full path.
    std::string Shot(const std::string& name, const Bitmap24& picture, const testing::CameraExif& exif) const
    {
        const std::string path = (folder_.path() / name).string();
        testing::WriteCameraJpeg(path, picture, exif);
        return path;
    }

private:
    TemporaryFolder folder_;
};

} // namespace lumivane::test_support
