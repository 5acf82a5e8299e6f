// SPDX-License-Identifier: GPL-3.0-or-later
// The workflow's commands on files: the stored defaults (defaults.ini,
// default_mask.bmp) and saving one photograph or the whole list.
#include "Workflow.h"

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
    settings.IniBrightness = values.iniBrightness;
    settings.IniStrength = values.iniStrength;
    settings.IniQuality = values.iniQuality;
    settings.DefaultMask = values.defaultMask;
    if (!settings.DefaultMask.empty()) {
        try {
            preselectMask(settings.DefaultMask);
        } catch (const std::exception& e) {
            errors.push_back(e.what());
        }
        texts.MaskLabel = ShortenedMaskLabel(FileNamePart(settings.DefaultMask));
    }
    if (values.hasHotspot) {
        mask.HotspotR = values.hotspotR;
        mask.HotspotG = values.hotspotG;
        mask.HotspotB = values.hotspotB;
        mask.HotspotX = values.hotspotX;
        mask.HotspotY = values.hotspotY;
        if (!settings.DefaultMask.empty())
            mask.StoredHotspotPending = true;
        mask.MarkerX = mask.HotspotX;
        mask.MarkerY = mask.HotspotY;
    } else {
        resetHotspot();
    }
    try {
        texts.QualityText = QualityLabelAtStart(settings.IniQuality);
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
    adjust.Brightness = ClampedSliderPosition(settings.IniBrightness, 0, 50);
    adjust.Strength = ClampedSliderPosition(settings.IniStrength, 0, 100);
    SetQuality(ClampedSliderPosition(settings.IniQuality, 1, 101));
    texts.QualityText = QualityLabelAfterMaskLoad(adjust.Quality);
    workflow.FirstMaskPending = 0;
}

void Workflow::StoreDefaults()
{
    MakeSettingsFolder(settingsFolder_);
    if (!profileInUse_.empty()) {
        // A profile mask is the photograph's own: the choice is stored, not
        // the mask rendered for this photograph.
        KeepBrokenSettingsCopy(settingsFolder_ + "/defaults.ini");
        WriteShortSettings(settingsFolder_ + "/defaults.ini", adjust.Brightness, adjust.Strength, adjust.Quality);
        settings.DefaultMask = "none";
        storedLensProfile_ = true;
        FreeOffered = true;
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
    if (maskSettings.smooth) {
        try {
            unsmoothed = TurnedMask(DecodeMaskFile(workflow.LastMaskFile, false), mask.MaskAngle / 90);
        } catch (const std::exception& e) {
            throw std::runtime_error("Cannot store the mask unsmoothed: " + std::string(e.what()));
        }
    }
    const Bitmap24& maskToStore = unsmoothed ? *unsmoothed : mask.MaskImage;
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
    WriteFullSettings(iniPath, adjust.Brightness, adjust.Strength, adjust.Quality, maskPath, panel.PickedR,
                      panel.PickedG, panel.PickedB, mask.MarkerX, mask.MarkerY);
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
    settings.DefaultMask = maskPath;
    FreeOffered = true;
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
    WriteShortSettings(settingsFolder_ + "/defaults.ini", adjust.Brightness, adjust.Strength, adjust.Quality);
    settings.DefaultMask = "none";
    FreeOffered = false;
    if (storedLensProfile_) {
        storedLensProfile_ = false;
        if (const std::exception_ptr error = writeProgramSettings())
            std::rethrow_exception(error);
    }
}

// ---- Saving ----

std::vector<std::string> Workflow::BatchJobs() const
{
    std::vector<std::string> jobs = workflow.Files;
    const int shown = workflow.FileIndex;
    if (jobs.size() > 1 && shown > 0 && shown < int(jobs.size()))
        std::swap(jobs[0], jobs[std::size_t(shown)]);
    return jobs;
}

PhotoResult Workflow::saveShown(const std::string& outPath, OutputFormat format)
{
    PhotoResult result;
    result.Source = workflow.SourceFile;
    if (!workflow.DecodeOk || !workflow.PhotoPresent)
        throw std::runtime_error("Can not read " + workflow.SourceFile + "; it was not saved.");
    CorrectionSetup setup = CurrentSetup();
    setup.choices.tiff = format == OutputFormat::Tiff;
    // The loaded mask file's own colour profile ("-": a mask without a file).
    setup.maskProfile = MaskProfileOfFile(workflow.LastMaskFile == "-" ? std::string() : workflow.LastMaskFile);
    correction.TargetR = setup.targets.r;
    correction.TargetG = setup.targets.g;
    correction.TargetB = setup.targets.b;

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
                      ReadTiff16ForSave(workflow.SourceFile, PhotoFull().width(), PhotoFull().height(), photo16);
    const SaveResult saved = full ? savePipeline_.Save(PhotoFull(), photo16.pixels, setup, workflow.SourceFile, target)
                                  : savePipeline_.Save(PhotoFull(), setup, workflow.SourceFile, target);
    workflow.OutPath = saved.path;
    result.Transplant = saved.transplant;
    result.Written = workflow.OutPath;
    if (workflow.SourceFile == photoDamageFile_)
        result.Damage = photoDamage_;
    if (result.Damage.empty())
        say(FileNamePart(workflow.OutPath) + " saved.");
    else
        say(FileNamePart(workflow.OutPath) + " saved, " + FileNamePart(workflow.SourceFile) +
            " damaged: " + result.Damage);
    return result;
}

SaveOutcome Workflow::Save(WorkflowHost& host)
{
    SaveOutcome outcome;
    const int count = int(workflow.Files.size());
    // "Save Image" writes the photograph shown; "Save Images" reads every
    // photograph of the list itself, skips one it cannot read and reports
    // it at the end, the one on screen included.
    const bool shownReadable = workflow.PhotoPresent && workflow.DecodeOk;
    if (count == 0 || (count == 1 && !shownReadable) || MaskFull().empty()) {
        outcome.Refusal = "There is no photograph to save: " +
                          (workflow.SourceFile.empty() ? std::string("none is open.")
                                                       : workflow.SourceFile + " could not be read.");
        return outcome;
    }
    // Margins that leave nothing would write an empty picture: refuse
    // before anything is corrected or written. (A batch checks each
    // photograph it reads; the shown one is checked here when it was read.)
    if (shownReadable && !CropLeavesPixels(Image1.Width, Image1.Height, cropMargins())) {
        outcome.Refusal = "The crop margins leave no pixels of the " + sizeText(Image1.Width, Image1.Height) +
                          " photograph; nothing was saved.";
        return outcome;
    }
    // A photograph the chosen output cannot hold is refused before any work
    // (the batch refuses each other photograph at its header).
    if (shownReadable) {
        try {
            RequireOutputFits(std::uint64_t(Image1.Width), std::uint64_t(Image1.Height), cropMargins(), adjust.Quality);
        } catch (const OutputSizeError& e) {
            outcome.Refusal = std::string("Nothing was saved: ") + e.what() + ".";
            return outcome;
        }
    }

    if (count == 1) {
        workflow.FileIndex = 0;
        const bool bmp = adjust.Quality == 101;
        bool tiffChosen = false;
        const std::string chosen =
            host.AskSavePath({ReplaceLast3(workflow.OutName, bmp ? "bmp" : "jpg"), bmp, &tiffChosen});
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
            failed.Source = workflow.SourceFile;
            // Running out of memory is named as such, not as a write error.
            failed.Error = dynamic_cast<const std::bad_alloc*>(&e) ? "out of memory while saving it" : e.what();
            outcome.Results.push_back(failed);
            outcome.Stopped = "Saving stopped: " + failed.Error;
        }
        return outcome;
    }

    // The photograph on screen becomes entry 0 and is written first.
    workflow.Files = BatchJobs();
    workflow.FileIndex = 0;
    const std::uint32_t startTime = host.TickCount();
    // While the batch runs the controls that would change the list, the
    // mask or the settings under its feet are out of reach.
    struct Running {
        Workflow& flow;
        ~Running() { flow.BatchRunning = flow.ProgressShown = false; }
    } running{*this};
    BatchRunning = true;

    const std::string folder = host.AskOutputFolder();
    if (folder.empty()) {
        outcome.Cancelled = true;
        say(" Showing " + FileNamePart(workflow.Files[0]) + " [1 of " + std::to_string(count) + ']');
        return outcome;
    }
    saveBatch(host, folder, startTime, outcome);
    return outcome;
}

} // namespace lumivane
