// SPDX-License-Identifier: GPL-3.0-or-later
#include "FolderMaskChooser.h"

#include "Naming.h"

#include <stdexcept>

namespace lumivane {

FolderMaskPick PickFolderMask(const std::vector<MaskCandidate>& candidates, DecodedMasks& decoded,
                              const std::string& photoPath)
{
    FolderMaskPick pick;
    pick.photo = ReadCameraFacts(photoPath);
    const std::vector<std::size_t> ranked = RankMasks(pick.photo, candidates);
    pick.matched = !ranked.empty();
    for (const std::size_t index : ranked) {
        const std::string& path = candidates[index].path;
        try {
            bool fresh = false;
            std::shared_ptr<const Bitmap24> mask = decoded.Get(path, &fresh);
            if (!mask || mask->empty())
                throw std::runtime_error("the file holds no picture");
            pick.path = path;
            pick.mask = std::move(mask);
            pick.fresh = fresh;
            return pick;
        } catch (const std::exception& e) {
            pick.warnings.push_back("mask " + path + " cannot be read (" + e.what() +
                                    "); the next matching mask is tried");
        }
    }
    return pick;
}

std::string NoUsableMaskReason(const FolderMaskPick& pick)
{
    if (!pick.matched)
        return "no mask of the folder matches " + DescribeCamera(pick.photo);
    return "no mask of the folder that matches " + DescribeCamera(pick.photo) + " can be read";
}

BatchMaskChooser MakeFolderMaskChooser(const std::vector<MaskCandidate>& candidates, DecodedMasks& decoded,
                                       FolderChooserOptions options)
{
    return [&candidates, &decoded, options = std::move(options)](const std::string& photo) {
        const FolderMaskPick pick = PickFolderMask(candidates, decoded, photo);
        if (options.warn)
            for (const std::string& warning : pick.warnings)
                options.warn(warning);
        BatchMaskChoice choice;
        if (!pick.mask && !pick.matched && options.profileFallback) {
            choice = options.profileFallback(photo);
            if (choice.HasMask() || !options.fallback)
                return choice;
            choice = BatchMaskChoice();
        }
        if (pick.mask) {
            choice.mask = pick.mask;
            choice.name = FileNamePart(pick.path);
            choice.profile = MaskProfileOfFile(pick.path);
            if (pick.fresh && options.decodedFresh)
                options.decodedFresh(pick.path, *pick.mask);
            if (options.levelsOf)
                choice.levels = options.levelsOf(*pick.mask);
        } else if (!pick.matched && options.fallback) {
            choice.mask = options.fallback;
            choice.name = options.fallbackName;
            choice.profile = options.fallbackProfile;
            choice.levels = options.fallbackLevels;
        } else {
            choice.reason = NoUsableMaskReason(pick);
        }
        return choice;
    };
}

} // namespace lumivane
