// SPDX-License-Identifier: GPL-3.0-or-later
// What files dropped on the main window do: photographs dropped anywhere
// open as a list, one file dropped on the mask thumbnail loads as the mask,
// and everything else is refused with a line for the status bar.
#pragma once

#include <string>
#include <vector>

namespace lumivane {

enum class DropTarget {
    Window,        // anywhere but the mask thumbnail
    MaskThumbnail, // the mask thumbnail
};

// Whether the window takes files at all at the moment of the drop.
enum class DropState {
    Ready,
    BatchRunning, // "Save Images" is writing the list
    PanelOpen,    // the mask adjustment panel is open: "Load Mask" is off
};

// One dropped item: a local file's path, or the address of anything else
// (a web page, a file on a remote share) with `local` false.
struct DroppedItem {
    std::string path;
    bool local = true;
};

struct DropDecision {
    enum class Kind { OpenPhotographs, LoadMask, Refuse };
    Kind kind = Kind::Refuse;
    // The photographs in the order dropped, or the one mask.
    std::vector<std::string> files;
    // Why a drop is refused, as the status bar shows it.
    std::string status;
};

// Decides a drop. A drop is taken whole or not at all: one item that is not
// a local JPEG, BMP or TIFF name (by the suffix the decoders go by), or a
// folder, refuses it with a status naming that item. Folders are told apart
// on the file system; a name that does not exist is passed on, to be
// handled as the open dialog's answer would be.
DropDecision DecideDrop(DropTarget target, const std::vector<DroppedItem>& items, DropState state);

} // namespace lumivane
