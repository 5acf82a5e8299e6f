// SPDX-License-Identifier: GPL-3.0-or-later
// The workflow's mask folder: choosing each photograph's mask, smoothing,
// the correction method, lumivane.ini that keeps them, and the check of
// every mask loaded.
#include "Workflow.h"

#include "FileIO.h"
#include "FolderMaskChooser.h"
#include "LensProfile.h"
#include "ProfileMaskChooser.h"
#include "Naming.h"
#include "SettingsLocation.h"

#include <thread>

namespace lumivane {

namespace {

std::string methodStatus(const CorrectionMode& mode)
{
    if (mode.method == CorrectionMethod::Additive)
        return " Additive correction: the mask's shortfall is added, damped by the boost.";
    const char* option = mode.colour == ColourOption::FalloffOnly  ? "fall-off only"
                         : mode.colour == ColourOption::ColourOnly ? "colour only"
                                                                   : "fall-off and colour";
    return std::string(" Exact correction (") + option + "): the photograph is divided by the mask in linear light.";
}

} // namespace

void Workflow::readProgramSettings(std::vector<std::string>& errors)
{
    ProgramSettings stored;
    bool fromMasksIni = false;
    try {
        stored = ReadProgramSettingsAtStart(settingsFolder_, &fromMasksIni);
    } catch (const std::exception& e) {
        errors.push_back(std::string(e.what()) + "\nLumivane starts with the additive method and without a mask folder.");
        stored = ProgramSettings();
    }
    maskSettings_ = stored.masks;
    adjust_.Mode = stored.mode;
    session_.SaveImagesTiff = stored.saveImagesTiff;
    lensProfileOn_ = stored.lensProfile && !MaskMatchingOn();
    storedLensProfile_ = stored.lensProfile;
    otherProgramSettings_ = stored.otherLines;
    maskFolder_.SetFolder(maskSettings_.folder);
    // masks.ini is read this once: from now on lumivane.ini keeps its lines.
    if (fromMasksIni)
        if (const std::exception_ptr error = writeProgramSettings()) {
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& e) {
                errors.push_back(e.what());
            }
        }
}

std::exception_ptr Workflow::writeProgramSettings()
{
    // A choice holds for this run even when it cannot be kept: the caller
    // finishes its work and raises the error afterwards.
    try {
        WriteProgramSettingsFile(ProgramSettingsPath(settingsFolder_),
                                 ProgramSettings{adjust_.Mode, maskSettings_, otherProgramSettings_, session_.SaveImagesTiff,
                                                 storedLensProfile_});
    } catch (const std::exception&) {
        return std::current_exception();
    }
    return nullptr;
}

std::exception_ptr Workflow::keepProgramSettings()
{
    try {
        MakeSettingsFolder(settingsFolder_);
        return writeProgramSettings();
    } catch (const std::exception&) {
        return std::current_exception();
    }
}

void Workflow::SetMode(const CorrectionMode& mode)
{
    if (!profileInUse_.empty() && mode.method != CorrectionMethod::Exact) {
        say(" A lens profile is corrected with the exact method only.");
        return;
    }
    adjust_.Mode = mode;
    const std::exception_ptr writeError = keepProgramSettings();
    say(methodStatus(mode));
    if (mask_.MaskLoaded && photos_.PhotoPresent)
        Preview();
    if (writeError)
        std::rethrow_exception(writeError);
}

void Workflow::SetSaveImagesTiff(bool tiff)
{
    session_.SaveImagesTiff = tiff;
    const std::exception_ptr writeError = keepProgramSettings();
    say(tiff ? " Save Images writes TIFF files." : " Save Images writes what the quality slider says.");
    if (writeError)
        std::rethrow_exception(writeError);
}

std::string Workflow::QualityShown() const
{
    return session_.SaveImagesTiff ? "Lossless (Save as TIFF)" : texts_.QualityText;
}

void Workflow::SetMaskFolder(const std::string& folder)
{
    if (!folder.empty())
        lensProfileOn_ = false;
    maskSettings_.folder = folder;
    maskFolder_.SetFolder(folder);
    session_.FolderMask.clear();
    const std::exception_ptr writeError = writeProgramSettings();
    if (MaskMatchingOn() && photos_.PhotoPresent && photos_.DecodeOk) {
        say(" Showing " + FileNamePart(photos_.SourceFile));
        matchMask();
        if (mask_.MaskLoaded) {
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
    if (smooth == maskSettings_.smooth)
        return;
    // The open hotspot panel shows the mask as loaded and reads the levels
    // picked from it: reloading the mask under it would leave the panel
    // and the picked hotspot describing a mask no longer in use.
    if (session_.PanelOpen) {
        say(" Close the hotspot panel with OK before changing \"Smooth mask\".");
        return;
    }
    maskSettings_.smooth = smooth;
    decodedMasks_.Clear();
    const std::exception_ptr writeError = writeProgramSettings();
    // The mask in use is loaded again, smoothed or not.
    if (mask_.MaskLoaded && photos_.PhotoPresent && photos_.LastMaskFile != kNoMaskFile) {
        const std::string folderMask = session_.FolderMask;
        if (loadMaskFile(photos_.LastMaskFile, !folderMask.empty()))
            say(std::string(smooth ? " Smoothed mask " : " Mask ") + FileNamePart(photos_.LastMaskFile) +
                (smooth ? "." : " as taken.") + QualityStatusText(maskQuality_));
        session_.FolderMask = folderMask;
    }
    if (writeError)
        std::rethrow_exception(writeError);
}

void Workflow::matchMask()
{
    const std::string shown = texts_.Status;
    // The photograph's own name: CurrentFile names the mask after a mask load.
    const FolderMaskPick pick = PickFolderMask(maskFolder_.Scan(), decodedMasks_, photos_.SourceFile);
    std::string skipped;
    for (const std::string& warning : pick.warnings)
        skipped += "; warning: " + warning;
    if (!pick.mask) {
        // The photograph's lens profile when no mask matches and that is
        // asked for; else the mask in use stays.
        if (!pick.matched && maskSettings_.profileFallback) {
            if (!skipped.empty())
                say(shown + skipped);
            applyLensProfile(true);
            return;
        }
        say(shown + skipped + "; " + NoUsableMaskReason(pick) + '.');
        return;
    }
    bool fresh = false;
    if (!mask_.MaskLoaded || pick.path != session_.FolderMask) {
        // The open hotspot panel keeps the mask it shows (see SetSmoothMask);
        // the next photograph shown after OK gets its mask again.
        if (session_.PanelOpen) {
            say(shown + skipped + "; the mask stays while the hotspot panel is open.");
            return;
        }
        const bool loaded = loadMaskFile(pick.path, true);
        if (!loaded)
            return; // loadMaskFile said why
        session_.FolderMask = pick.path;
        fresh = true;
    }
    say(shown + skipped + " with mask " + FileNamePart(pick.path) + (fresh ? QualityStatusText(maskQuality_) : ""));
}

void Workflow::UseLensProfile()
{
    if (!photos_.PhotoPresent || !photos_.DecodeOk) {
        say(" Open a photograph first: a lens profile is the photograph's own.");
        return;
    }
    if (!applyLensProfile(false))
        return;
    lensProfileOn_ = true;
    session_.FolderMask.clear();
    if (MaskMatchingOn()) {
        maskSettings_.folder.clear();
        maskFolder_.SetFolder(std::string());
    }
    say(" Lens profile: exact correction used");
    MakeSettingsFolder(settingsFolder_);
    if (const std::exception_ptr error = writeProgramSettings())
        std::rethrow_exception(error);
}

bool Workflow::applyLensProfile(bool stepping)
{
    const auto refuse = [&](const std::string& why) {
        say(stepping ? texts_.Status + "; " + why : ' ' + why);
        return false;
    };
    if (session_.PanelOpen)
        return refuse("the mask stays while the hotspot panel is open.");
    ProfileLookup lookup;
    try {
        lookup = LensDatabase::Instance().Find(ReadLensFacts(photos_.SourceFile));
    } catch (const LensDatabaseError& e) {
        return refuse(e.what());
    }
    if (!lookup.profile)
        return refuse(lookup.reason);
    const LensProfile& profile = *lookup.profile;
    const std::string described = DescribeProfile(profile);
    // A profile is a fall-off in linear light: only the exact method
    // divides it out whole.
    const bool switched = adjust_.Mode.method != CorrectionMethod::Exact;
    adjust_.Mode.method = CorrectionMethod::Exact;
    if (mask_.MaskLoaded && described == profileInUse_ && MaskFull().width() == PhotoFull().width() &&
        MaskFull().height() == PhotoFull().height()) {
        // The same lens at the same setting: the mask stays.
        if (switched)
            Preview();
    } else {
        const int threads = int(std::max(1u, std::thread::hardware_concurrency()));
        installMask(RenderProfileMask(profile, PhotoFull().width(), PhotoFull().height(), threads), std::string());
        photos_.MaskFile.clear();
        // The folder's mask is no longer in use: the next photograph it
        // matches loads it again.
        session_.FolderMask.clear();
        profileInUse_ = described;
        texts_.MaskLabel = "Lens profile";
        texts_.MaskLabelHint = ' ' + described + ' ';
    }
    if (stepping)
        say(texts_.Status + " with the lens profile of " + described +
            (switched ? "; lens profile: exact correction used" : ""));
    return true;
}

void Workflow::SetProfileFallback(bool on)
{
    maskSettings_.profileFallback = on;
    const std::exception_ptr writeError = writeProgramSettings();
    if (on && MaskMatchingOn() && photos_.PhotoPresent && photos_.DecodeOk) {
        // The photograph shown may be one that no mask matches: it gets its
        // profile now, and the status line says which mask it has.
        sayShowing();
        matchMask();
    } else {
        say(on ? " Photographs that no mask of the folder matches get their lens profile."
               : " Photographs that no mask of the folder matches keep the mask in use.");
    }
    if (writeError)
        std::rethrow_exception(writeError);
}

BatchMaskChooser Workflow::FolderMaskChooser(std::shared_ptr<const Bitmap24> inUse, HotspotLevels levelsInUse,
                                             std::function<void(const std::string&)> warn)
{
    maskFolder_.Scan();
    FolderChooserOptions options;
    options.fallback = std::move(inUse);
    options.fallbackLevels = levelsInUse;
    options.fallbackName = FileNamePart(photos_.LastMaskFile);
    options.fallbackProfile = maskProfileInUse();
    options.warn = std::move(warn);
    if (maskSettings_.profileFallback)
        options.profileFallback = MakeProfileMaskChooser(std::string());
    return MakeFolderMaskChooser(maskFolder_.Candidates(), decodedMasks_, std::move(options));
}

void Workflow::checkMask()
{
    maskQuality_ = CheckMaskQuality(mask_.MaskImage, {mask_.HotspotR, mask_.HotspotG, mask_.HotspotB});
    texts_.MaskCheckWarning = !maskQuality_.Good();
    if (maskQuality_.Good()) {
        texts_.MaskCheck = "Mask: good";
        texts_.MaskCheckHint = " No clipping, dust or uneven light found. ";
        return;
    }
    texts_.MaskCheck = maskQuality_.findings.size() == 1 ? "Mask: 1 finding"
                                                       : "Mask: " + std::to_string(maskQuality_.findings.size()) +
                                                             " findings";
    texts_.MaskCheckHint.clear();
    for (const MaskFinding& f : maskQuality_.findings)
        texts_.MaskCheckHint += (texts_.MaskCheckHint.empty() ? "" : "\n") + f.text;
}

} // namespace lumivane
