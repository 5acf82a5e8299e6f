// SPDX-License-Identifier: GPL-3.0-or-later
// The workflow's commands on files: the stored defaults (defaults.ini,
// default_mask.bmp) and saving one photograph or the whole list.
#include "Workflow.h"

#include "Mask16.h"
#include "Tiff16Reader.h"

#include "BmpCodec.h"
#include "FileIO.h"
#include "Naming.h"
#include "Settings.h"
#include "SettingsLocation.h"

#include <filesystem>
#include <optional>
#include <new>
#include <stdexcept>
#include <system_error>

namespace lumivane {

namespace {

// A default mask must be a file: a directory of that name names no mask.
bool isFile(const std::string& path)
{
    std::error_code error;
    return !path.empty() && std::filesystem::is_regular_file(std::filesystem::u8path(path), error);
}

// Whether anything, even a dangling link, has the name `path`.
bool pathTaken(const std::string& path)
{
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(std::filesystem::u8path(path), error));
}

std::string sizeText(long long w, long long h)
{
    return std::to_string(w) + 'x' + std::to_string(h);
}

} // namespace

// ---- Start-up and settings ----

std::vector<std::string> Workflow::ReadSettingsAtStart()
{
    std::vector<std::string> errors;
    const std::string path = settingsFolder_ + "/defaults.ini";
    SettingsValues values;
    try {
        values = ReadSettingsFile(path, isFile);
    } catch (const std::exception& e) {
        // A file that cannot be read must not keep the program from
        // starting: say so and go on with the defaults.
        errors.push_back(std::string(e.what()) + "\nLumivane starts with its default settings.");
        values = SettingsValues();
    }
    // A damaged line costs only what it holds; the status line says which
    // were passed over, and Store keeps a copy of the file before replacing it.
    if (!values.ignoredLines.empty())
        say(' ' + IgnoredLinesText("defaults.ini", values.ignoredLines));
    settings_.IniBrightness = values.iniBrightness;
    settings_.IniStrength = values.iniStrength;
    settings_.IniQuality = values.iniQuality;
    settings_.DefaultMask = values.defaultMask;
    if (!settings_.DefaultMask.empty()) {
        try {
            preselectMask(settings_.DefaultMask);
        } catch (const std::exception& e) {
            errors.push_back(e.what());
        }
        texts_.MaskLabel = ShortenedMaskLabel(FileNamePart(settings_.DefaultMask));
    }
    if (values.hasHotspot) {
        mask_.HotspotR = values.hotspotR;
        mask_.HotspotG = values.hotspotG;
        mask_.HotspotB = values.hotspotB;
        mask_.HotspotX = values.hotspotX;
        mask_.HotspotY = values.hotspotY;
        if (!settings_.DefaultMask.empty())
            mask_.StoredHotspotPending = true;
        mask_.MarkerX = mask_.HotspotX;
        mask_.MarkerY = mask_.HotspotY;
    } else {
        resetHotspot();
    }
    try {
        texts_.QualityText = QualityLabelAtStart(settings_.IniQuality);
    } catch (const std::exception& e) {
        errors.push_back(e.what());
    }
    readProgramSettings(errors);
    return errors;
}

void Workflow::applyStoredSliders()
{
    // The stored positions wait until the first mask load; a position
    // outside a slider's range is clamped into it.
    adjust_.Brightness = ClampedSliderPosition(settings_.IniBrightness, 0, 50);
    adjust_.Strength = ClampedSliderPosition(settings_.IniStrength, 0, 100);
    SetQuality(ClampedSliderPosition(settings_.IniQuality, 1, kBmpQuality));
    texts_.QualityText = QualityLabelAfterMaskLoad(adjust_.Quality);
    photos_.FirstMaskPending = 0;
}

void Workflow::StoreDefaults()
{
    MakeSettingsFolder(settingsFolder_);
    if (!profileInUse_.empty()) {
        // A profile mask is the photograph's own: the choice is stored, not
        // the mask rendered for this photograph.
        KeepBrokenSettingsCopy(settingsFolder_ + "/defaults.ini");
        WriteShortSettings(settingsFolder_ + "/defaults.ini", adjust_.Brightness, adjust_.Strength, adjust_.Quality);
        settings_.DefaultMask = "none";
        storedLensProfile_ = true;
        session_.FreeOffered = true;
        if (const std::exception_ptr error = writeProgramSettings())
            std::rethrow_exception(error);
        return;
    }
    storedLensProfile_ = false;
    const std::string maskPath = settingsFolder_ + "/default_mask.bmp";
    const std::string iniPath = settingsFolder_ + "/defaults.ini";
    // The default mask is stored as loaded: with smoothing on, the mask in
    // use is smoothed, and storing it would have the next start smooth it a
    // second time with no way back to the photograph taken. The file is read
    // again unsmoothed and given the quarter turns of the mask in use.
    std::optional<Bitmap24> unsmoothed;
    if (maskSettings_.smooth) {
        try {
            unsmoothed = TurnedMask(DecodeMaskFile(photos_.LastMaskFile, false), mask_.MaskAngle / 90);
        } catch (const std::exception& e) {
            throw std::runtime_error("Cannot store the mask unsmoothed: " + std::string(e.what()));
        }
    }
    const Bitmap24& maskToStore = unsmoothed ? *unsmoothed : mask_.MaskImage;
    KeepBrokenSettingsCopy(iniPath);
    // Store is all or nothing: defaults.ini must never name a default mask
    // that was not written, so when the mask cannot be written the earlier
    // settings file is put back (or the new one removed).
    std::optional<std::vector<std::uint8_t>> earlier;
    if (isFile(iniPath)) {
        try {
            earlier = ReadWholeFile(iniPath);
        } catch (const FileError&) {
        }
    }
    WriteFullSettings(iniPath, adjust_.Brightness, adjust_.Strength, adjust_.Quality, maskPath, panel_.PickedR,
                      panel_.PickedG, panel_.PickedB, mask_.MarkerX, mask_.MarkerY);
    try {
        WriteBmpFile(maskToStore, maskPath);
    } catch (const std::exception&) {
        try {
            if (earlier) {
                WriteFileAtomically(iniPath, *earlier);
            } else {
                std::error_code ignored;
                std::filesystem::remove(std::filesystem::u8path(iniPath), ignored);
            }
        } catch (const std::exception&) {
            // The mask's error is the one to report.
        }
        throw;
    }
    settings_.DefaultMask = maskPath;
    session_.FreeOffered = true;
    // The method and the other settings beyond defaults.ini.
    if (const std::exception_ptr error = writeProgramSettings())
        std::rethrow_exception(error);
}

void Workflow::FreeDefaults()
{
    // The stored default changes only once the file says so: a failed
    // write leaves the default mask in use and "Free" on offer.
    MakeSettingsFolder(settingsFolder_);
    KeepBrokenSettingsCopy(settingsFolder_ + "/defaults.ini");
    WriteShortSettings(settingsFolder_ + "/defaults.ini", adjust_.Brightness, adjust_.Strength, adjust_.Quality);
    settings_.DefaultMask = "none";
    session_.FreeOffered = false;
    if (storedLensProfile_) {
        storedLensProfile_ = false;
        if (const std::exception_ptr error = writeProgramSettings())
            std::rethrow_exception(error);
    }
}

// ---- Saving ----

std::vector<std::string> Workflow::BatchJobs() const
{
    std::vector<std::string> jobs = photos_.Files;
    const int shown = photos_.FileIndex;
    if (jobs.size() > 1 && shown > 0 && shown < int(jobs.size()))
        std::swap(jobs[0], jobs[std::size_t(shown)]);
    return jobs;
}

PhotoResult Workflow::saveShown(const std::string& outPath, OutputFormat format)
{
    PhotoResult result;
    result.Source = photos_.SourceFile;
    if (!photos_.DecodeOk || !photos_.PhotoPresent)
        throw std::runtime_error("Can not read " + photos_.SourceFile + "; it was not saved.");
    CorrectionSetup setup = CurrentSetup();
    setup.choices.tiff = format == OutputFormat::Tiff;
    // The mask's colour profile: its file's, sRGB for a lens profile's mask.
    setup.maskProfile = maskProfileInUse();
    correction_.TargetR = setup.targets.r;
    correction_.TargetG = setup.targets.g;
    correction_.TargetB = setup.targets.b;

    // The name was confirmed (by the save dialog, or again when the
    // extension changed it), so it is written whether or not it exists.
    const OutputTarget target(outPath);
    // The unprocessed photograph is corrected band by band while it is
    // encoded; the photograph itself is never changed, so nothing needs restoring.
    // A TIFF of 16 bits a channel written as TIFF keeps its depth: it is
    // read again at full precision for the save (the window holds its
    // 8-bit picture only). A file that fails that read is saved from the
    // picture shown.
    Tiff16Picture photo16;
    const bool full = format == OutputFormat::Tiff &&
                      ReadTiff16ForSave(photos_.SourceFile, PhotoFull().width(), PhotoFull().height(), photo16);
    // The mask at 16 bits too when its file has them.
    Bitmap48 mask16, fitted16;
    if (full && mask16InUse(mask16, setup.levels16))
        setup.mask16 = &FitMask16(mask16, PhotoFull().width(), PhotoFull().height(), fitted16);
    const SaveResult saved = full ? savePipeline_.Save(PhotoFull(), photo16.pixels, setup, photos_.SourceFile, target)
                                  : savePipeline_.Save(PhotoFull(), setup, photos_.SourceFile, target);
    photos_.OutPath = saved.path;
    result.Transplant = saved.transplant;
    result.Written = photos_.OutPath;
    if (photos_.SourceFile == photoDamageFile_)
        result.Damage = photoDamage_;
    result.MakerNoteDropped = saved.metadata.makerNoteDropped;
    if (result.Damage.empty())
        say(WithMakerNoteClause(FileNamePart(photos_.OutPath) + " saved.", result.MakerNoteDropped));
    else
        say(WithMakerNoteClause(FileNamePart(photos_.OutPath) + " saved, " + FileNamePart(photos_.SourceFile) +
                                    " damaged: " + result.Damage,
                                result.MakerNoteDropped));
    return result;
}

MaskProfile Workflow::maskProfileInUse() const
{
    if (!profileInUse_.empty())
        return MaskProfile{true, std::nullopt};
    return MaskProfileOfFile(photos_.LastMaskFile == kNoMaskFile ? std::string() : photos_.LastMaskFile);
}

const std::optional<ExactCurves>& Workflow::profileCurves() const
{
    const std::string maskKey = profileInUse_.empty() ? photos_.LastMaskFile : "\n" + profileInUse_;
    if (!curvesKnown_ || curvesPhoto_ != photos_.SourceFile || curvesMask_ != maskKey) {
        curves_.reset();
        try {
            curves_ = ExactCurvesFor(TiffMetadataOfSource(photos_.SourceFile).icc, maskProfileInUse());
        } catch (const std::exception&) {
            // A photograph whose metadata cannot be read is taken on sRGB.
        }
        curvesPhoto_ = photos_.SourceFile;
        curvesMask_ = maskKey;
        curvesKnown_ = true;
    }
    return curves_;
}

bool Workflow::mask16InUse(Bitmap48& pixels, HotspotLevels& levels) const
{
    if (adjust_.Mode.method != CorrectionMethod::Exact || photos_.LastMaskFile == kNoMaskFile)
        return false;
    // The turns the mask took since it was loaded, counterclockwise.
    const int counterclockwise = ((-mask_.MaskAngle) % 360 + 360) % 360;
    if (!Mask16OfFile(photos_.LastMaskFile, mask_.MaskImage, counterclockwise, pixels))
        return false;
    const bool onPanel = HotspotChosen(mask_.HotspotX, mask_.HotspotY) && mask_.MarkerX >= 0 &&
                         mask_.MarkerX < kPanelWidth && mask_.MarkerY >= 0 && mask_.MarkerY < kPanelHeight;
    levels = onPanel ? PanelLevelsAt16(pixels, mask_.MarkerX, mask_.MarkerY)
                     : SampleCentreLevels16Through(pixels, PhotoFull().width(), PhotoFull().height());
    return true;
}

SaveOutcome Workflow::Save(WorkflowHost& host)
{
    SaveOutcome outcome;
    const int count = int(photos_.Files.size());
    // "Save Image" writes the photograph shown; "Save Images" reads every
    // photograph of the list itself, skips one it cannot read and reports
    // it at the end, the one on screen included.
    const bool shownReadable = photos_.PhotoPresent && photos_.DecodeOk;
    if (count == 0 || (count == 1 && !shownReadable) || MaskFull().empty()) {
        outcome.Refusal = "There is no photograph to save: " +
                          (photos_.SourceFile.empty() ? std::string("none is open.")
                                                       : photos_.SourceFile + " could not be read.");
        return outcome;
    }
    // Margins that leave nothing would write an empty picture: refuse
    // before anything is corrected or written. (A batch checks each
    // photograph it reads; the shown one is checked here when it was read.)
    if (shownReadable && !CropLeavesPixels(PhotoFull().width(), PhotoFull().height(), cropMargins())) {
        outcome.Refusal = "The crop margins leave no pixels of the " + sizeText(PhotoFull().width(), PhotoFull().height()) +
                          " photograph; nothing was saved.";
        return outcome;
    }
    // A photograph the chosen output cannot hold is refused before any work
    // (the batch refuses each other photograph at its header).
    if (shownReadable) {
        try {
            RequireOutputFits(std::uint64_t(PhotoFull().width()), std::uint64_t(PhotoFull().height()), cropMargins(),
                              count == 1 ? FormatOfQuality(IsBmpQuality(adjust_.Quality)) : Choices().Format());
        } catch (const OutputSizeError& e) {
            outcome.Refusal = std::string("Nothing was saved: ") + e.what() + ".";
            return outcome;
        }
    }

    if (count == 1) {
        photos_.FileIndex = 0;
        const bool bmp = IsBmpQuality(adjust_.Quality);
        bool tiffChosen = false;
        const std::string chosen =
            host.AskSavePath({ReplaceLast3(photos_.OutName, bmp ? "bmp" : "jpg"), bmp, &tiffChosen});
        if (chosen.empty()) {
            outcome.Cancelled = true;
            return outcome;
        }
        // The dialog's TIFF entry saves a TIFF; its first entry what the
        // slider says, whatever extension the name was given.
        const OutputFormat format = tiffChosen ? OutputFormat::Tiff : FormatOfQuality(bmp);
        // The dialog confirmed `chosen`; a file the extension rule makes of
        // it is replaced only when confirmed by its own name.
        const std::string path = SaveDialogOutputPath(chosen, format, HasCrop(cropMargins()));
        if (path != chosen && pathTaken(path) && !host.ConfirmReplace(path)) {
            outcome.Cancelled = true;
            return outcome;
        }
        try {
            outcome.Results.push_back(saveShown(path, format));
        } catch (const std::exception& e) {
            PhotoResult failed;
            failed.Source = photos_.SourceFile;
            // Running out of memory is named as such, not as a write error.
            failed.Error = dynamic_cast<const std::bad_alloc*>(&e) ? "out of memory while saving it" : e.what();
            outcome.Results.push_back(failed);
            outcome.Stopped = "Saving stopped: " + failed.Error;
        }
        return outcome;
    }

    // The photograph on screen becomes entry 0 and is written first.
    photos_.Files = BatchJobs();
    photos_.FileIndex = 0;
    const std::uint32_t startTime = host.TickCount();
    // While the batch runs the controls that would change the list, the
    // mask or the settings under its feet are out of reach.
    struct Running {
        Workflow& flow;
        ~Running() { flow.session_.BatchRunning = flow.session_.ProgressShown = false; }
    } running{*this};
    session_.BatchRunning = true;

    const std::string folder = host.AskOutputFolder();
    if (folder.empty()) {
        outcome.Cancelled = true;
        say(" Showing " + FileNamePart(photos_.Files[0]) + " [1 of " + std::to_string(count) + ']');
        return outcome;
    }
    saveBatch(host, folder, startTime, outcome);
    return outcome;
}

} // namespace lumivane
