// SPDX-License-Identifier: GPL-3.0-or-later
// The one rule by which a photograph gets its mask from a mask folder, for
// the window (each photograph shown, "Save Images") and lumivane-cli alike.
//
// The folder's masks that fit the photograph are tried best first. A mask
// that cannot be read is skipped with a warning naming it and the next match
// is used. When none of the matches can be read the photograph has no
// usable mask: it is reported and skipped. Only a photograph that no mask of
// the folder matches falls back: to its lens profile when that option is on,
// else to the mask in use (the window's loaded mask, lumivane-cli's --mask),
// when there is one.
#pragma once

#include "BatchRunner.h"
#include "MaskFolder.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumivane {

// The outcome of looking for one photograph's mask in the folder.
struct FolderMaskPick {
    CameraFacts photo;
    // Whether any mask of the folder matches the photograph.
    bool matched = false;
    // The mask chosen (null when none matched or none could be read).
    std::string path;
    std::shared_ptr<const Bitmap24> mask;
    bool fresh = false; // decoded by this pick
    // One warning for each match that could not be read, naming it.
    std::vector<std::string> warnings;
};

// Looks through the candidates of an already scanned folder for the
// photograph's mask, decoding through `decoded`.
FolderMaskPick PickFolderMask(const std::vector<MaskCandidate>& candidates, DecodedMasks& decoded,
                              const std::string& photoPath);

// The reason a photograph whose matches all failed to read is skipped.
std::string NoUsableMaskReason(const FolderMaskPick& pick);

struct FolderChooserOptions {
    // Serves photographs that no mask of the folder matches; null: they
    // are reported and skipped.
    std::shared_ptr<const Bitmap24> fallback;
    std::optional<HotspotLevels> fallbackLevels;
    std::string fallbackName;
    // The colour profile of the fallback's file.
    MaskProfile fallbackProfile;
    // When set, a photograph that no mask of the folder matches gets the
    // mask its lens profile gives (before `fallback`, which then serves
    // the photographs without a profile).
    BatchMaskChooser profileFallback;
    // Levels of a folder mask as chosen; unset or empty: sampled at the
    // centre of the mask fitted to the photograph.
    std::function<std::optional<HotspotLevels>(const Bitmap24& mask)> levelsOf;
    // Hears every warning (several workers may call at once).
    std::function<void(const std::string& warning)> warn;
    // Hears each mask decoded for the first time by the chooser.
    std::function<void(const std::string& path, const Bitmap24& mask)> decodedFresh;
};

// The batch's chooser over `candidates` (kept alive by the caller, as is
// `decoded`).
BatchMaskChooser MakeFolderMaskChooser(const std::vector<MaskCandidate>& candidates, DecodedMasks& decoded,
                                       FolderChooserOptions options);

} // namespace lumivane
