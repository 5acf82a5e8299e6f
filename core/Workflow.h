// SPDX-License-Identifier: GPL-3.0-or-later
// The program's workflow without a window: the photograph list and the
// photograph shown, the mask as loaded and as fitted, the previews, the
// hotspot, offset, angle, crop, slider values and the stored defaults, and
// one command for each thing the user can do with them.
//
// A window reads its controls, calls one command and then shows the state:
// every text, picture and on/off state a control shows is a member here or
// computed by one of the *Enabled() functions. Nothing here includes a
// window toolkit; what only the platform knows (the tick count, the answers
// of the dialogs, letting the event loop run) comes in as arguments or
// through WorkflowHost.
#pragma once

#include "Bitmap24.h"
#include "BatchRunner.h"
#include "CorrectionKernel.h"
#include "CorrectionSetup.h"
#include "ExifTransplant.h"
#include "MaskFolder.h"
#include "MaskQuality.h"
#include "ProgramSettings.h"
#include "Picture.h"
#include "SavePipeline.h"
#include "SaveQuality.h"
#include "ViewSizes.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace lumivane {

// The boost slider's hint while the exact method is chosen.
inline constexpr const char* kNoBoostHint = " No boost in the exact method: the whole fall-off is removed ";
// LastMaskFile while no mask file is in use.
inline constexpr const char* kNoMaskFile = "-";
// Centre position of both offset up-downs.
inline constexpr int kOffsetCentre = 150;

// Photograph list, the photograph on screen and its working copies.
struct WorkflowState {
    std::vector<std::string> Files;
    std::string CurrentFile;
    std::string SourceFile;
    int FileIndex = 0;
    std::string OutName;
    std::string OutPath;
    // 1 until the first mask load has applied the stored slider positions
    // (also when that load failed): the default or pre-selected mask is
    // loaded with the first photograph shown.
    std::uint8_t FirstMaskPending = 1;
    std::string MaskFile;
    // The file of the mask in use, kNoMaskFile for a profile mask or none.
    std::string LastMaskFile = kNoMaskFile;
    // The full-size photograph is the holder's bitmap itself (Workflow::
    // PhotoFull); the save corrects it band by band without changing it, so
    // no working copy is kept.
    // The kPreviewWidth x kPreviewHeight preview: the stretched photograph, corrected by each
    // preview pass.
    Bitmap24 PhotoPreview;
    // False while no photograph could be decoded: the previews are then
    // neutral and nothing may be corrected or saved.
    bool PhotoPresent = false;
    // False when the last load could not decode its file, so the photograph
    // on screen is still the one before it; such a photograph is not saved
    // under the new file's name.
    bool DecodeOk = false;
};

// The mask as loaded, fitted to the photograph and to the preview, and its
// hotspot.
struct MaskState {
    Bitmap24 MaskImage;
    // The mask stretched to the photograph's full size, needed only when the
    // two sizes differ; when they agree MaskImage itself is the full-size
    // mask (Workflow::MaskFull) and this holds nothing.
    Bitmap24 MaskStretched;
    bool MaskFullIsImage = true;
    Bitmap24 MaskPreview;
    int MaskWidth = 0;
    int MaskHeight = 0;
    bool MaskLoaded = false;
    int HotspotR = 0;
    int HotspotG = 0;
    int HotspotB = 0;
    float MaskCenterX = 0;
    float MaskCenterY = 0;
    int HotspotX = kNoHotspotX;
    int HotspotY = kNoHotspotY;
    int MarkerX = kNoHotspotX;
    int MarkerY = kNoHotspotY;
    int MaskAngle = 0;
    bool HotspotPicked = false;
    bool StoredHotspotPending = false;
};

// What the last preview pass derived from the sliders.
struct CorrectionState {
    float Damping = 25.01f;
    int TargetR = 0;
    int TargetG = 0;
    int TargetB = 0;
};

// The hotspot panel.
struct PanelState {
    std::uint8_t PickedR = 0;
    std::uint8_t PickedG = 0;
    std::uint8_t PickedB = 0;
    int MouseX = 0;
    int MouseY = 0;
    Bitmap24 PanelMask;
    Bitmap24 PanelSnapshot;
    bool RotateClockwise = false;
};

// Values read from defaults.ini at start-up.
struct SettingsState {
    std::string IniBrightness = "25";
    std::string IniStrength = "0";
    std::string IniQuality = "90";
    std::string DefaultMask;
};

// Slider positions and crop field texts as the window shows them.
struct Adjustments {
    int Brightness = 25;
    int Strength = 0;
    int Quality = 90;
    // Additive unless lumivane.ini or the mask thumbnail's menu says otherwise.
    CorrectionMode Mode;
    std::string Left = "0";
    std::string Top = "0";
    std::string Right = "0";
    std::string Bottom = "0";
};

// Every text the window shows that the workflow decides.
struct WorkflowTexts {
    std::string Status = " Ready.";
    // Changes whenever the status line is set, also to the same text.
    unsigned StatusRevision = 0;
    std::string OriginalCaption = "Original Image (empty)";
    std::string ProcessedCaption = "Processed Image (empty)";
    std::string MaskCaption = " Mask ";
    bool MaskRatioWarning = false;
    std::string MaskLabel = "None";
    // Label4's hint: the lens, focal length and aperture of a profile mask.
    std::string MaskLabelHint;
    std::string BrightnessText = "Brightness: 0%";
    std::string BoostText = "Vignetting reduction boost: 0%";
    std::string QualityText = "Image quality: 0%";
    bool QualityWarning = false;
    std::string SaveCaption = "&Save Image";
    // The overlay's hint: the shown photograph's path between single spaces.
    std::string PhotoHint;
    std::string AngleHint = " Rotation Angle: 0\u00B0 ";
    // The raised panel over the mask buttons: "---" until a mask is loaded,
    // "Select Hotspot" while the hotspot panel is open, "Rotating..." while
    // the mask turns.
    std::string CoverText = "---";
    bool CoverVisible = true;
    // The hotspot panel's level lines (red, green, blue, luminance) and angle.
    std::string PanelLevels[4] = {"Label8", "Label9", "Label11", "Label12"};
    std::string PanelAngle = "Rotation:";
    // The mask check in the adjustment panel: a short verdict, the
    // findings one a line as its hint, red while there are findings.
    std::string MaskCheck;
    std::string MaskCheckHint;
    bool MaskCheckWarning = false;
    // The batch progress panel.
    int ProgressMaximum = 100;
    int ProgressValue = 0;
    std::string ProgressText = "Processing...";
};

// The pictures the window shows, each with a revision that changes
// whenever the picture does, so a window copies only what changed.
struct WorkflowPictures {
    Bitmap24 Original;  // left preview
    Bitmap24 Processed; // right preview
    Bitmap24 Thumbnail; // mask thumbnail, kThumbnailWidth x kThumbnailHeight
    Bitmap24 Overlay;   // mask centre lines and hotspot over the left preview
    Bitmap24 Panel;     // the hotspot panel's zones, centre lines and cross
    unsigned OriginalRevision = 0;
    unsigned ProcessedRevision = 0;
    unsigned ThumbnailRevision = 0;
    unsigned OverlayRevision = 0;
    unsigned PanelRevision = 0;
};

// The rest of the workflow's state: the mask offset, the panels and the
// batch, the save format and the folders remembered.
struct SessionState {
    // The folder mask in use (empty when the mask was not chosen from the
    // mask folder).
    std::string FolderMask;
    // The mask offset over the left preview in preview pixels, and the
    // thumbnail's matching position in its frame.
    int OffsetX = 0;
    int OffsetY = 0;
    int ThumbLeft = 1;
    int ThumbTop = 1;
    int UpDownVertical = kOffsetCentre;
    int UpDownHorizontal = kOffsetCentre;
    // The hotspot panel is being opened or open; PanelShown once its
    // picture is made.
    bool PanelOpen = false;
    bool PanelShown = false;
    bool BatchRunning = false;
    // "Save Images" writes TIFF (see Workflow::SetSaveImagesTiff).
    bool SaveImagesTiff = false;
    // The batch has its folder: the progress panel is up.
    bool ProgressShown = false;
    // "Free default mask" is offered (set by Store, taken by Free, and on
    // opening the panel from the stored default).
    bool FreeOffered = false;
    // See Workflow::RememberDialogChoice.
    std::string DialogFolder;
    // Photographs a batch keeps in flight; 0 for one per processor core.
    int BatchJobsInFlight = 0;
};

// What a save of the shown photograph needs to ask the save dialog.
struct SaveDialogAnswerRequest {
    std::string FileName;
    bool Bmp = false;
    // When given, the host sets it to whether the user chose the dialog's
    // TIFF entry (a TIFF is then saved, whatever the name's extension).
    bool* TiffChosen = nullptr;
};

// One photograph of a save: where it came from, where it went and what
// happened.
struct PhotoResult {
    std::string Source;
    std::string Written; // empty when nothing was written
    TransplantResult Transplant = TransplantResult::NotApplicable;
    std::string Error; // empty when the photograph was saved
    // The decoder's description of damage in the source, whose pixels were
    // saved as decoded ("JPEG ends early: N of M rows"); empty when intact.
    std::string Damage;
    // The mask it got when masks are chosen per photograph (a file of the
    // mask folder, or "lens profile (<lens>, <focal length>, <aperture>)");
    // empty when every photograph had the mask in use.
    std::string Mask;
    // The source's maker note could not come along into the file written.
    bool MakerNoteDropped = false;
};

// Progress of a batch after each photograph: `done` of `total` written, the
// last result, and the workflow's state showing the next photograph.
struct WorkflowProgress {
    int Done = 0;
    int Total = 0;
    const PhotoResult* Last = nullptr;
};

// What the core needs from its platform while saving.
class WorkflowHost {
public:
    virtual ~WorkflowHost() = default;
    // Milliseconds since some fixed moment; names clashing batch files.
    virtual std::uint32_t TickCount() = 0;
    // The save dialog's answer for one photograph; empty when cancelled.
    virtual std::string AskSavePath(const SaveDialogAnswerRequest& request) = 0;
    // Whether the existing file `path` may be replaced: asked when the
    // file a single save writes is not the one the save dialog confirmed
    // (its extension was changed) and a file of that name exists. A host
    // that cannot ask never replaces.
    virtual bool ConfirmReplace(const std::string& /*path*/) { return false; }
    // The output folder of a batch; empty when cancelled.
    virtual std::string AskOutputFolder() = 0;
    // Called once the batch has its folder, before the first photograph is
    // written, and after every photograph: the window shows the state and
    // lets its event loop run.
    virtual void BatchStarted() = 0;
    virtual void Progress(const WorkflowProgress& progress) = 0;
    // Called over and over while the batch waits for its workers: the
    // window lets its event loop run (so Esc can reach RequestStop).
    virtual void KeepResponsive() {}
};

// How a save ended.
struct SaveOutcome {
    // A message for the user instead of a save (nothing to save, a crop
    // that leaves no pixels); nothing was written.
    std::string Refusal;
    bool Cancelled = false;
    // The single save could not write its file: "Saving stopped: ..." for
    // the user.
    std::string Stopped;
    // The batch's photographs that could not be read or written, all in one
    // message for the user (the others were written); empty when none.
    std::string Failures;
    // The batch's photographs that were written from damaged sources (a
    // JPEG that ends early, an unreadable TIFF strip), all in one message;
    // empty when none.
    std::string Damaged;
    // Masks of the folder that a batch skipped because they could not be
    // read (the next match was used), one warning a line; empty when none.
    std::string Warnings;
    // The batch was stopped by RequestStop before every photograph was done.
    bool StoppedByUser = false;
    // One entry per photograph written or failed, in list order.
    std::vector<PhotoResult> Results;
};

class Workflow {
public:
    // `decimalSeparator` is the user's, as UTF-8 text (ratio texts); `settingsFolder` holds
    // defaults.ini and default_mask.bmp (see SettingsFolder); it is made when
    // the defaults are first stored.
    explicit Workflow(std::string settingsFolder, std::string decimalSeparator = ".");
    Workflow(const Workflow&) = delete;
    Workflow& operator=(const Workflow&) = delete;

    // ---- Commands ----

    // Start-up: reads defaults.ini and shows a default mask's thumbnail.
    // Returns the errors to show, in order; a damaged file leaves the
    // program with its default settings.
    std::vector<std::string> ReadSettingsAtStart();

    // "Load Image(s)" with the open dialog's answer (empty: cancelled). A
    // cancelled dialog reloads the first photograph of the list there is.
    void OpenList(const std::vector<std::string>& chosen);
    // An arrow: one photograph back (-1) or on (+1). Does nothing when no
    // step is possible.
    void Step(int direction);
    // Loads the shown photograph again (the hidden open button, the caption).
    void Reload();
    // True while "Load Mask" must ask for a file; false while the pending
    // default or pre-selected mask is used without asking.
    bool MaskNeedsDialog() const;
    // "Load Mask" with the answer of the open dialog (empty: cancelled, or
    // not asked when MaskNeedsDialog() is false). Before any photograph
    // list the mask is remembered and shown; it is loaded with the first
    // photograph. Returns false when nothing changed but the status text.
    bool LoadMask(const std::string& chosen);
    // The preview pass: slider texts, the processed caption and the
    // corrected preview. Throws on a crop field that is not a number; the
    // processed preview is then the uncorrected photograph.
    void Preview();
    void SetSliders(int brightness, int strength);
    void SetQuality(int position);
    void SetCrop(const std::string& left, const std::string& top, const std::string& right,
                 const std::string& bottom);
    // The up-downs: vertical and horizontal positions (150 is centred).
    void ShiftVertical(int position);
    void ShiftHorizontal(int position);
    void CentreMask();
    // A quarter turn of the mask; BeginTurn shows "Rotating..." first.
    void BeginTurn();
    void Turn(bool clockwise);
    // The hotspot panel: BeginPanel shows "Select Hotspot" and takes the
    // workflow buttons away before the panel's picture is made; then open,
    // the pointer over its picture, a click, OK.
    void BeginPanel();
    void OpenPanel();
    void PointAt(int x, int y);
    void PickHotspot();
    void ClosePanel();
    // A line for the status bar that no command above writes (a refused drop).
    void ShowStatus(std::string status) { say(std::move(status)); }
    // "Store" and "Free default mask" (defaults.ini, default_mask.bmp).
    void StoreDefaults();
    void FreeDefaults();
    // The correction method and the exact method's colour option (the
    // mask thumbnail's menu): the status line names it, the preview follows,
    // and lumivane.ini keeps it. Raises FileError when lumivane.ini cannot
    // be written (the choice still holds for this run).
    void SetMode(const CorrectionMode& mode);
    // The format "Save Images" writes: TIFF, or what the quality slider
    // says; kept in lumivane.ini (raises FileError when it cannot be kept,
    // the choice holding for this run).
    void SetSaveImagesTiff(bool tiff);
    // What Label6 shows: the quality, or "Lossless (Save as TIFF)" while
    // TIFF is chosen.
    std::string QualityShown() const;
    // The mask folder (empty: none). While one is set, every photograph
    // shown gets the folder's best mask for it; the choice is kept in
    // lumivane.ini. Raises FileError when lumivane.ini cannot be written
    // (the choice still holds for this run).
    void SetMaskFolder(const std::string& folder);
    // "smooth mask": every mask is smoothed as it is loaded; the mask in
    // use is loaded again. Kept in lumivane.ini.
    void SetSmoothMask(bool smooth);
    bool MaskMatchingOn() const { return !maskSettings_.folder.empty(); }
    // "Mask from lens profile": the shown photograph's mask is made from its
    // lens's measured fall-off, and so is every photograph's shown after it,
    // until a mask is loaded or a mask folder chosen. Switches the method to
    // exact (a profile is a fall-off in linear light). A photograph without
    // a profile keeps the mask it had and the status line says why.
    void UseLensProfile();
    bool LensProfileOn() const { return lensProfileOn_; }
    // The lens, focal length and aperture of the profile mask in use
    // ("Canon EF 24-105mm f/4L IS USM, 24 mm, F4"); empty when the mask in
    // use is a file.
    const std::string& ProfileInUse() const { return profileInUse_; }
    // The mask folder's fallback: a photograph that no mask of the folder
    // matches gets its lens profile. Kept in lumivane.ini.
    void SetProfileFallback(bool on);
    // For a batch over the list while a mask folder is set: the mask of
    // each photograph as showing it would choose it (the folder's best,
    // levels sampled at its centre), else `inUse` with `levelsInUse`, the
    // mask in use staying. Safe to call from the batch's workers; the folder
    // is scanned here, once.
    // Each warning about a mask skipped goes to `warn` when given (called
    // from the workers, one call at a time).
    BatchMaskChooser FolderMaskChooser(std::shared_ptr<const Bitmap24> inUse, HotspotLevels levelsInUse,
                                       std::function<void(const std::string&)> warn = {});
    // "Save Image(s)": the shown photograph alone (a list of one) or every
    // photograph of the list into one folder.
    SaveOutcome Save(WorkflowHost& host);
    // Esc while a batch runs: the photographs in progress are finished, no
    // further one is started. May be called from the host's KeepResponsive.
    void RequestStop();
    // The photographs of a batch in the order they are written: the shown
    // one first, exchanged with the list's first entry.
    std::vector<std::string> BatchJobs() const;

    // What the user chose, as every save of the list uses it. Throws
    // std::invalid_argument for a crop field that is not a number.
    CorrectionChoices Choices() const;
    // The correction of the shown photograph as the save makes it: the
    // full-size mask, the hotspot levels, the choices. With `cropValid`
    // given, a crop field that is not a number leaves the crop empty and
    // sets it false instead of throwing.
    CorrectionSetup CurrentSetup(bool* cropValid = nullptr) const;
    // The unprocessed photograph at full size, empty while none is held. Its
    // size is the photograph's size for every computation.
    const Bitmap24& PhotoFull() const;
    // The mask at the photograph's full size, the mask of the save.
    const Bitmap24& MaskFull() const;
    // The folder of the file last chosen in an open or save dialog, empty
    // until one is: the batch's folder picker starts there. The window
    // reports every dialog answer; files from the command line or a drop
    // are no dialog's choice.
    void RememberDialogChoice(const std::string& path)
    {
        const std::size_t slash = path.rfind('/');
        if (slash != std::string::npos)
            session_.DialogFolder = path.substr(0, slash == 0 ? 1 : slash);
    }
    // Photographs a batch keeps in flight; 0 (the default) for one per
    // processor core.
    void SetBatchJobsInFlight(int jobs) { session_.BatchJobsInFlight = jobs; }

    // ---- State, read-only: only the commands above change it ----
    const WorkflowState& photos() const { return photos_; }
    const MaskState& mask() const { return mask_; }
    const CorrectionState& correction() const { return correction_; }
    const PanelState& panel() const { return panel_; }
    const SettingsState& settings() const { return settings_; }
    const Adjustments& adjust() const { return adjust_; }
    const WorkflowTexts& texts() const { return texts_; }
    const WorkflowPictures& pictures() const { return pictures_; }
    const SessionState& session() const { return session_; }
    // The mask settings of lumivane.ini as read at start and changed since.
    const MaskSettings& maskSettings() const { return maskSettings_; }
    // The check of the mask loaded last.
    const MaskQuality& maskQuality() const { return maskQuality_; }

    // ---- What the controls show ----
    bool PreviousEnabled() const { return !session_.BatchRunning && photos_.FileIndex > 0; }
    bool NextEnabled() const { return !session_.BatchRunning && photos_.FileIndex < int(photos_.Files.size()) - 1; }
    // Sliders, crop fields, offset and centre buttons, Store.
    bool AdjustmentsEnabled() const { return mask_.MaskLoaded; }
    // The boost slider: the exact method has no boost.
    bool BoostEnabled() const { return AdjustmentsEnabled() && adjust_.Mode.method == CorrectionMethod::Additive; }
    // "Save Images" reads each photograph itself, so an unreadable one on
    // screen does not stop it.
    bool SaveEnabled() const
    {
        return mask_.MaskLoaded && (photos_.PhotoPresent || photos_.Files.size() > 1) && !session_.PanelOpen;
    }
    bool LoadEnabled() const { return !session_.PanelOpen; }
    // The groups and the caption a batch puts out of reach.
    bool GroupsEnabled() const { return !session_.BatchRunning; }
    const std::string& settingsFolder() const { return settingsFolder_; }

private:
    void loadPhotograph();
    // Shows the photograph the holder holds as list entry FileIndex.
    void showHeldPhotograph();
    void sayShowing();
    // Shows photos_.PhotoPreview as the preview of a width x height
    // photograph: both pictures and their captions.
    void showPreviewPictures(int width, int height);
    // The preview pass for a photograph of w x h pixels.
    void previewPass(int w, int h);
    // Decodes the photograph; a refusal for the memory budget is kept in
    // photoRefusal_ for the status line.
    void decodePhotograph(const std::string& path);
    void showEmptyPhotograph();
    // Shows list entry `index`: decodes it and shows it.
    void showFile(int index);
    // Makes list entry `index` the shown one: its path, hint and output
    // name (an index outside the list keeps the current path).
    void selectEntry(int index);
    // Fits the loaded mask to a photograph of width x height: the full-size
    // mask and the thumbnail.
    void fitMask(int width, int height);
    void fitThumbnail(int width, int height);
    void resetHotspot();
    void sampleCentreLevels();
    void updateMaskRatioLabel();
    void updateMaskRatioLabel(int w, int h);
    void drawMaskOverlay(int x, int y);
    void applyStoredSliders();
    void preselectMask(const std::string& path);
    // The full load of one mask file: decode (through the kept masks for a
    // mask of the folder), fit, hotspot, controls, check. False when it
    // cannot be read.
    bool loadMaskFile(const std::string& file, bool fromFolder);
    // Puts a mask in use: fit, hotspot, controls, check. `file` names it
    // (empty for a profile mask).
    void installMask(Bitmap24&& image, const std::string& file);
    // The lens profile's mask for the photograph shown; false (the status
    // line saying why, the mask in use staying) when it has none.
    bool applyLensProfile(bool stepping);
    // The folder's mask for the photograph shown; the status names it, or
    // says that none matches.
    void matchMask();
    void checkMask();
    // lumivane.ini (or, the first time, masks.ini) at start.
    void readProgramSettings(std::vector<std::string>& errors);
    // Writes lumivane.ini; returns the error instead of raising it.
    std::exception_ptr writeProgramSettings();
    // The same after making the settings folder; its failure is returned too.
    std::exception_ptr keepProgramSettings();
    void setProcessed(const Bitmap24& picture);
    void say(std::string status);
    CropMargins cropMargins() const;
    // Saves the shown photograph to the path the save dialog confirmed.
    PhotoResult saveShown(const std::string& outPath, OutputFormat format);
    // The mask at 16 bits (turned as the mask in use, at its own size) and
    // its 16-bit levels at the hotspot (the marker on the panel, else the
    // centre of the mask fitted to the photograph shown), for 16-bit TIFF
    // outputs by the exact method; false when the mask in use is not a
    // 16-bit TIFF as loaded (then its 8-bit codes serve).
    bool mask16InUse(Bitmap48& pixels, HotspotLevels& levels) const;
    // The colour profile of the mask in use: its file's, sRGB for a lens
    // profile's mask, none for no mask.
    MaskProfile maskProfileInUse() const;
    // The exact method's curves of the shown photograph's and the mask's
    // colour profiles, found once for each pair of files.
    const std::optional<ExactCurves>& profileCurves() const;
    // The batch after its folder is known: every photograph of the list
    // on worker threads, shown and reported here in list order.
    void saveBatch(WorkflowHost& host, const std::string& folder, std::uint32_t startTime, SaveOutcome& outcome);
    // Shows list entry `index` during a batch from the preview its worker
    // made (null when it could not be read), without decoding it again;
    // the preview is taken over.
    void showBatchPhotograph(int index, Bitmap24* preview, int width, int height);

    friend struct WorkflowTestAccess; // tests/support: builds situations no command reaches

    WorkflowState photos_;
    MaskState mask_;
    CorrectionState correction_;
    PanelState panel_;
    SettingsState settings_;
    Adjustments adjust_;
    WorkflowTexts texts_;
    WorkflowPictures pictures_;
    SessionState session_;
    MaskSettings maskSettings_;
    MaskQuality maskQuality_;
    // The holder the photograph is decoded into (see PhotoFull).
    TImageHolder photo_;
    std::string settingsFolder_;
    std::string decimalSeparator_;
    // Decoders write the next photograph here; on success it is exchanged
    // with the holder's bitmap, so a failed decode leaves the shown photograph
    // alone and the two blocks are reused from one photograph to the next.
    Bitmap24 spareBitmap_;
    // Why the last photograph was refused (memory budget), else empty.
    std::string photoRefusal_;
    // The damage the decoder found in the photograph the holder holds (its
    // pixels kept), and that photograph's path; the status line names it
    // while that photograph is shown.
    std::string photoDamage_;
    std::string photoDamageFile_;
    SavePipeline savePipeline_;
    std::atomic<bool> stopRequested_{false};
    MaskFolder maskFolder_;
    // Lines of lumivane.ini this version does not know, written back as read.
    std::vector<std::string> otherProgramSettings_;
    DecodedMasks decodedMasks_;
    bool lensProfileOn_ = false;
    // Store's choice of the lens profile, as lumivane.ini keeps it.
    bool storedLensProfile_ = false;
    // The lens profile behind the mask in use, empty when it is a file.
    std::string profileInUse_;
    // profileCurves()'s answer and the files it is for.
    mutable std::optional<ExactCurves> curves_;
    mutable std::string curvesPhoto_, curvesMask_;
    mutable bool curvesKnown_ = false;
};

} // namespace lumivane
