// SPDX-License-Identifier: GPL-3.0-or-later
#include "DropRules.h"

#include "ImageFile.h"
#include "Naming.h"

#include <filesystem>
#include <system_error>

namespace lumivane {

namespace {

DropDecision refuse(std::string status)
{
    DropDecision decision;
    decision.status = std::move(status);
    return decision;
}

bool isFolder(const std::string& path)
{
    std::error_code error;
    return std::filesystem::is_directory(std::filesystem::u8path(path), error);
}

// The name a status line shows: a folder's address may end in '/'.
std::string shownName(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return FileNamePart(path);
}

} // namespace

DropDecision DecideDrop(DropTarget target, const std::vector<DroppedItem>& items, DropState state)
{
    if (state == DropState::BatchRunning)
        return refuse(" Dropped files are not opened while images are being saved.");
    // "Load Mask" is off while the adjustment panel is open; "Load Image(s)" is not.
    if (state == DropState::PanelOpen && target == DropTarget::MaskThumbnail)
        return refuse(" Close the mask adjustment panel before dropping a mask.");
    if (items.empty())
        return refuse(" Nothing to open: the drop holds no files.");
    if (target == DropTarget::MaskThumbnail && items.size() > 1)
        return refuse(" Drop one mask file on the mask, not " + std::to_string(items.size()) + " files.");
    for (const DroppedItem& item : items) {
        if (!item.local)
            return refuse(" Only local files can be opened: " + item.path + " is not one.");
        const std::string name = shownName(item.path);
        if (isFolder(item.path))
            return refuse(" " + name + " is a folder, not a photograph.");
        if (ImageKindBySuffix(item.path) == ImageKind::Unknown)
            return refuse(" " + name + " is not a JPEG, BMP or TIFF file.");
    }
    DropDecision decision;
    decision.kind = target == DropTarget::MaskThumbnail ? DropDecision::Kind::LoadMask
                                                         : DropDecision::Kind::OpenPhotographs;
    for (const DroppedItem& item : items)
        decision.files.push_back(item.path);
    return decision;
}

} // namespace lumivane
