// The workflow's mask folder: choosing each photograph's mask, masks.ini,
// smoothing, and the check of every mask loaded.
#include "Workflow.h"

#include "FileIO.h"
#include "Naming.h"

namespace lumivane {

namespace {

std::string maskSettingsPath(const std::string& settingsFolder)
{
    return settingsFolder + "/masks.ini";
}

} // namespace

void Workflow::readMaskSettings(std::vector<std::string>& errors)
{
    try {
        maskSettings = ReadMaskSettingsFile(maskSettingsPath(settingsFolder_));
    } catch (const std::exception& e) {
        errors.push_back(std::string(e.what()) + "\nLumivane starts without a mask folder.");
        maskSettings = MaskSettings();
    }
    maskFolder_.SetFolder(maskSettings.folder);
}

std::exception_ptr Workflow::writeMaskSettings()
{
    // A choice holds for this run even when it cannot be kept: the caller
    // finishes its work and raises the error afterwards.
    try {
        WriteMaskSettingsFile(maskSettingsPath(settingsFolder_), maskSettings);
    } catch (const std::exception&) {
        return std::current_exception();
    }
    return nullptr;
}

void Workflow::SetMaskFolder(const std::string& folder)
{
    maskSettings.folder = folder;
    maskFolder_.SetFolder(folder);
    FolderMask.clear();
    const std::exception_ptr writeError = writeMaskSettings();
    if (MaskMatchingOn() && workflow.PhotoPresent && workflow.DecodeOk) {
        say(" Showing " + FileNamePart(workflow.SourceFile));
        matchMask();
        if (mask.MaskLoaded) {
            updateMaskRatioLabel();
            Preview();
        }
    } else if (MaskMatchingOn()) {
        say(" Mask folder " + folder + ": each photograph gets its mask from it.");
    } else {
        say(" No mask folder: the mask stays until another is loaded.");
    }
    if (writeError)
        std::rethrow_exception(writeError);
}

void Workflow::SetSmoothMask(bool smooth)
{
    if (smooth == maskSettings.smooth)
        return;
    // The open hotspot panel shows the mask as loaded and reads the levels
    // picked from it: reloading the mask under it would leave the panel
    // and the picked hotspot describing a mask no longer in use.
    if (PanelOpen) {
        say(" Close the hotspot panel with OK before changing \"Smooth mask\".");
        return;
    }
    maskSettings.smooth = smooth;
    decodedMasks_.Clear();
    const std::exception_ptr writeError = writeMaskSettings();
    // The mask in use is loaded again, smoothed or not.
    if (mask.MaskLoaded && workflow.PhotoPresent && workflow.LastMaskFile != "-") {
        const std::string folderMask = FolderMask;
        if (loadMaskFile(workflow.LastMaskFile, !folderMask.empty()))
            say(std::string(smooth ? " Smoothed mask " : " Mask ") + FileNamePart(workflow.LastMaskFile) +
                (smooth ? "." : " as taken.") + QualityStatusText(maskQuality));
        FolderMask = folderMask;
    }
    if (writeError)
        std::rethrow_exception(writeError);
}

void Workflow::matchMask()
{
    const std::string shown = texts.Status;
    // The photograph's own name: CurrentFile names the mask after a mask load.
    const MaskChoice choice = ChooseFromFolder(maskFolder_, workflow.SourceFile);
    if (choice.path.empty()) {
        // The mask in use stays.
        say(shown + "; no mask of the folder matches " + DescribeCamera(choice.photo) + '.');
        return;
    }
    bool fresh = false;
    if (!mask.MaskLoaded || choice.path != FolderMask) {
        // The open hotspot panel keeps the mask it shows (see SetSmoothMask);
        // the next photograph shown after OK gets its mask again.
        if (PanelOpen) {
            say(shown + "; the mask stays while the hotspot panel is open.");
            return;
        }
        const bool loaded = loadMaskFile(choice.path, true);
        if (!loaded)
            return; // loadMaskFile said why
        FolderMask = choice.path;
        fresh = true;
    }
    say(shown + " with mask " + FileNamePart(choice.path) + (fresh ? QualityStatusText(maskQuality) : ""));
}

BatchMaskChooser Workflow::FolderMaskChooser(std::shared_ptr<const Bitmap24> inUse, HotspotLevels levelsInUse)
{
    maskFolder_.Scan();
    const std::string inUseName = FileNamePart(workflow.LastMaskFile);
    return [this, inUse = std::move(inUse), levelsInUse, inUseName](const std::string& photo) {
        BatchMaskChoice choice;
        const std::vector<MaskCandidate>& masks = maskFolder_.Candidates();
        const std::optional<std::size_t> best = ChooseMask(ReadCameraFacts(photo), masks);
        if (best) {
            try {
                choice.mask = decodedMasks_.Get(masks[*best].path);
                choice.name = FileNamePart(masks[*best].path);
                return choice;
            } catch (const std::exception&) {
                // Unreadable now: the mask in use serves, as on screen.
            }
        }
        choice.mask = inUse;
        choice.name = inUseName;
        choice.levels = levelsInUse;
        if (!inUse)
            choice.reason = "no mask of the folder matches and no mask is loaded";
        return choice;
    };
}

void Workflow::checkMask()
{
    maskQuality = CheckMaskQuality(mask.MaskImage, {mask.HotspotR, mask.HotspotG, mask.HotspotB});
    texts.MaskCheckWarning = !maskQuality.Good();
    if (maskQuality.Good()) {
        texts.MaskCheck = "Mask: good";
        texts.MaskCheckHint = " No clipping, dust or uneven light found. ";
        return;
    }
    texts.MaskCheck = maskQuality.findings.size() == 1 ? "Mask: 1 finding"
                                                       : "Mask: " + std::to_string(maskQuality.findings.size()) +
                                                             " findings";
    texts.MaskCheckHint.clear();
    for (const MaskFinding& f : maskQuality.findings)
        texts.MaskCheckHint += (texts.MaskCheckHint.empty() ? "" : "\n") + f.text;
}

} // namespace lumivane
