// SPDX-License-Identifier: GPL-3.0-or-later
// The workflow's commands on screen: opening and stepping through
// photographs, the mask, the preview pass, the offset and turns, and the
// hotspot panel.
#include "Workflow.h"

#include "MessageText.h"

#include "BitmapRotation.h"
#include "ImageFile.h"
#include "JpegCodec.h"
#include "MaskGeometry.h"
#include "MemoryBudget.h"
#include "Naming.h"
#include "Settings.h"
#include "TextFormat.h"

#include <new>
#include <stdexcept>

namespace lumivane {

namespace {

std::string levelText(const char* name, int value, int picked)
{
    return std::string(name) + std::to_string(value) + " (" + std::to_string(picked) + ')';
}

std::string sizeText(long long w, long long h)
{
    return std::to_string(w) + 'x' + std::to_string(h);
}

} // namespace

Workflow::Workflow(std::string settingsFolder, std::string decimalSeparator)
    : settingsFolder_(std::move(settingsFolder)), decimalSeparator_(std::move(decimalSeparator)),
      decodedMasks_([this](const std::string& path) { return DecodeMaskFile(path, maskSettings.smooth); })
{
    Image1.AutoSize = true;
    Image1.Width = 33;
    Image1.Height = 41;
    pictures.Original.reset(kPreviewWidth, kPreviewHeight);
    pictures.Processed.reset(kPreviewWidth, kPreviewHeight);
    pictures.Overlay = MakeOverlayBitmap();
}

// ---- The photograph list ----

void Workflow::OpenList(const std::vector<std::string>& chosen)
{
    workflow.CurrentFile.clear();
    if (!chosen.empty()) {
        const int n = int(chosen.size());
        texts.SaveCaption = n > 1 ? "&Save Images" : "&Save Image";
        workflow.Files = chosen;
        texts.ProgressMaximum = n;
    } else if (workflow.Files.empty()) {
        return;
    }
    showFile(0);
}

void Workflow::Step(int direction)
{
    if (direction < 0 ? !PreviousEnabled() : !NextEnabled())
        return;
    showFile(workflow.FileIndex + (direction < 0 ? -1 : 1));
}

void Workflow::Reload()
{
    if (!PreviousEnabled() && !NextEnabled())
        return;
    showFile(workflow.FileIndex);
}

void Workflow::showFile(int index)
{
    workflow.FileIndex = index;
    if (index >= 0 && index < int(workflow.Files.size()))
        workflow.CurrentFile = workflow.Files[std::size_t(index)];
    texts.PhotoHint = ' ' + workflow.CurrentFile + ' ';
    workflow.SourceFile = workflow.CurrentFile;
    loadPhotograph();
}

void Workflow::decodePhotograph(const std::string& path)
{
    // Decoding errors are dropped here without a message, except a picture
    // too large for the memory budget, a file that is no regular file and a
    // scan bomb, whose refusals are kept for the status line. The decoders write into the spare bitmap, which is
    // exchanged with the holder's on success: a JPEG or BMP that cannot be
    // decoded leaves the photograph shown before, a TIFF that cannot be read
    // empties the holder.
    workflow.DecodeOk = false;
    photoRefusal_.clear();
    try {
        std::string damage;
        if (!DecodeBySuffix(path, spareBitmap_, JpegSmoothing::Off, &damage))
            return;
        Image1.Picture.ExchangeBitmap(spareBitmap_);
        photoDamage_ = std::move(damage);
        photoDamageFile_ = path;
    } catch (const std::exception& e) {
        if (dynamic_cast<const MemoryBudgetError*>(&e) || dynamic_cast<const FileRefusedError*>(&e))
            photoRefusal_ = e.what();
        // A scan bomb is refused within a fraction of a second; the status
        // line says why nothing is shown.
        if (dynamic_cast<const JpegRefusedError*>(&e))
            photoRefusal_ = FileNamePart(path) + ": " + e.what();
        if (dynamic_cast<const std::bad_alloc*>(&e))
            photoRefusal_ = FileNamePart(path) + ": out of memory while decoding it";
        if (ImageKindBySuffix(path) == ImageKind::Tiff)
            Image1.Picture.Clear();
        return;
    }
    workflow.DecodeOk = !Image1.Picture.Empty();
    if (mask.MaskLoaded && !Image1.Picture.Empty())
        fitMask(Image1.Width, Image1.Height);
}

const Bitmap24& Workflow::PhotoFull() const
{
    static const Bitmap24 none;
    const Bitmap24* held = Image1.Picture.HeldBitmap();
    return held ? *held : none;
}

const Bitmap24& Workflow::MaskFull() const
{
    return mask.MaskFullIsImage ? mask.MaskImage : mask.MaskStretched;
}

void Workflow::showEmptyPhotograph()
{
    // Nothing could be decoded: show neutral previews and keep every
    // correction and save away from the empty picture.
    workflow.PhotoPresent = false;
    workflow.PhotoPreview.reset(kPreviewWidth, kPreviewHeight);
    pictures.Original.reset(kPreviewWidth, kPreviewHeight);
    pictures.Original.fill(packColour(192, 192, 192));
    ++pictures.OriginalRevision;
    setProcessed(pictures.Original);
    texts.OriginalCaption = " Original Image (empty)";
    texts.ProcessedCaption = " Processed Image (empty)";
}

void Workflow::say(std::string status)
{
    // The status line is one line: a file name holding a newline or an
    // escape byte shows them as visible escapes.
    texts.Status = VisibleText(status);
    ++texts.StatusRevision;
}

void Workflow::setProcessed(const Bitmap24& picture)
{
    pictures.Processed = picture;
    ++pictures.ProcessedRevision;
}

void Workflow::loadPhotograph()
{
    workflow.OutName = OutNameFor(workflow.CurrentFile, adjust.Quality == 101);
    if (workflow.CurrentFile.empty())
        return;
    say(" Loading... ");
    decodePhotograph(workflow.CurrentFile);
    showHeldPhotograph();
}

void Workflow::sayShowing()
{
    const int index = workflow.FileIndex;
    const bool listed = index >= 0 && index < int(workflow.Files.size());
    const std::string shown = FileNamePart(listed ? workflow.Files[std::size_t(index)] : workflow.CurrentFile);
    // A damaged photograph is shown with the pixels its decoder made, and
    // said to be damaged while it is on screen.
    const std::string& file = listed ? workflow.Files[std::size_t(index)] : workflow.CurrentFile;
    const std::string damage =
        !photoDamage_.empty() && file == photoDamageFile_ ? ", damaged: " + photoDamage_ : std::string();
    if (!photoRefusal_.empty())
        say(' ' + photoRefusal_);
    else
        say(" Showing " + shown + " [" + std::to_string(index + 1) + " of " +
            std::to_string(workflow.Files.size()) + ']' + damage);
}

void Workflow::showHeldPhotograph()
{
    sayShowing();
    if (Image1.Picture.Empty()) {
        showEmptyPhotograph();
    } else {
        const Bitmap24& photo = Image1.Picture.Bitmap();
        workflow.PhotoPresent = true;
        workflow.PhotoPreview.setSize(kPreviewWidth, kPreviewHeight);
        stretchDraw(photo, workflow.PhotoPreview);
        showPreviewPictures(Image1.Width, Image1.Height);
    }
    // While a mask folder is set, a stored default mask is not used.
    if (MaskMatchingOn()) {
        if (workflow.PhotoPresent && workflow.DecodeOk)
            matchMask();
    } else if (lensProfileOn_) {
        if (workflow.PhotoPresent && workflow.DecodeOk)
            applyLensProfile(true);
    } else if (workflow.FirstMaskPending == 1 && !workflow.MaskFile.empty()) {
        LoadMask(std::string());
    }
    if (mask.MaskLoaded && workflow.PhotoPresent) {
        updateMaskRatioLabel();
        Preview();
    }
}

void Workflow::showPreviewPictures(int width, int height)
{
    pictures.Original = workflow.PhotoPreview;
    ++pictures.OriginalRevision;
    setProcessed(workflow.PhotoPreview);

    const std::string size = sizeText(width, height);
    const std::string ratio = RatioText(width, height, decimalSeparator_);
    texts.OriginalCaption = " Original Image (" + size + " pixels) [1:" + ratio + ']';
    texts.ProcessedCaption = " Processed Image (" + size + " pixels) [1:" + ratio + ']';
}

// ---- The mask ----

void Workflow::resetHotspot()
{
    mask.HotspotR = mask.HotspotG = mask.HotspotB = 0;
    mask.HotspotX = mask.MarkerX = 160;
    mask.HotspotY = mask.MarkerY = 120;
}

void Workflow::sampleCentreLevels()
{
    const HotspotLevels levels = SampleCentreLevels(MaskFull());
    mask.HotspotR = levels.r;
    mask.HotspotG = levels.g;
    mask.HotspotB = levels.b;
}

void Workflow::updateMaskRatioLabel()
{
    updateMaskRatioLabel(PhotoFull().width(), PhotoFull().height());
}

void Workflow::updateMaskRatioLabel(int w, int h)
{
    // Without a photograph there is nothing to compare the mask with; the
    // caption still shows the mask's own ratio.
    texts.MaskRatioWarning =
        workflow.PhotoPresent && w > 0 && h > 0 && MaskRatioDiffers(w, h, mask.MaskWidth, mask.MaskHeight);
    texts.MaskCaption = " Mask [1:" + RatioText(mask.MaskWidth, mask.MaskHeight, decimalSeparator_) + "] ";
}

void Workflow::drawMaskOverlay(int x, int y)
{
    DrawMaskOverlay(pictures.Overlay, mask.HotspotX, mask.HotspotY, x, y);
    ++pictures.OverlayRevision;
}

void Workflow::preselectMask(const std::string& path)
{
    workflow.MaskFile = path;
    TPicture picture;
    picture.LoadFromFile(path);
    // A JPEG is held undecoded; asking the picture for its bitmap would drop
    // it, so it is decoded for the thumbnail instead.
    Bitmap24 decoded;
    if (const TJPEGImage* held = picture.Jpeg())
        held->DecodeInto(decoded);
    else
        decoded = std::move(picture.Bitmap());
    // The thumbnail keeps a picture of its own small size only.
    Bitmap24 small(kThumbnailWidth, kThumbnailHeight);
    stretchDraw(decoded, small);
    pictures.Thumbnail = std::move(small);
    ++pictures.ThumbnailRevision;
}

void Workflow::fitMask(int width, int height)
{
    if (mask.MaskImage.width() == width && mask.MaskImage.height() == height) {
        // A stretch to the same size is a plain copy: share the mask itself.
        mask.MaskFullIsImage = true;
        mask.MaskStretched.clear();
    } else {
        mask.MaskFullIsImage = false;
        // The stretch sets every pixel of a non-empty mask; storage kept
        // from an earlier photograph of this size or larger is reused.
        if (mask.MaskImage.empty())
            mask.MaskStretched.reset(width, height);
        else
            mask.MaskStretched.setSizeForOverwrite(width, height);
        stretchDraw(mask.MaskImage, mask.MaskStretched);
    }
    fitThumbnail(width, height);
}

void Workflow::fitThumbnail(int width, int height)
{
    // The thumbnail shows exactly what the full-size mask stretched to its
    // own size shows, from a picture of that small size.
    Bitmap24 thumbnail(kThumbnailWidth, kThumbnailHeight);
    stretchDrawThrough(mask.MaskImage, width, height, thumbnail);
    pictures.Thumbnail = std::move(thumbnail);
    ++pictures.ThumbnailRevision;
}

bool Workflow::MaskNeedsDialog() const
{
    return workflow.Files.empty() || !workflow.FirstMaskPending || workflow.MaskFile.empty() || MaskMatchingOn();
}

bool Workflow::LoadMask(const std::string& chosen)
{
    // A mask the user picked turns the mask folder and the lens profile off.
    if (!chosen.empty() && MaskMatchingOn())
        SetMaskFolder(std::string());
    if (!chosen.empty())
        lensProfileOn_ = false;
    if (workflow.Files.empty()) {
        // Pre-selection: remember the mask and show it; it is loaded with the
        // first photograph.
        if (!chosen.empty())
            workflow.MaskFile = chosen;
        if (!workflow.MaskFile.empty()) {
            preselectMask(workflow.MaskFile);
            texts.MaskLabel = ShortenedMaskLabel(FileNamePart(workflow.MaskFile));
        }
        return true;
    }

    const std::string file = MaskNeedsDialog() ? chosen : workflow.MaskFile;
    if (file.empty())
        return false;
    if (!workflow.PhotoPresent) {
        say(" Can not load mask " + FileNamePart(file) + ": no photograph is shown.");
        return false;
    }
    if (!loadMaskFile(file, false))
        return false;
    FolderMask.clear();
    if (!maskQuality.Good())
        say(texts.Status + QualityStatusText(maskQuality));
    return true;
}

bool Workflow::loadMaskFile(const std::string& file, bool fromFolder)
{
    // The open hotspot panel's picture, levels and cover belong to the mask
    // in use; no mask replaces it before OK.
    if (PanelOpen) {
        say(" Close the hotspot panel with OK before loading the mask " + FileNamePart(file) + '.');
        return false;
    }
    workflow.CurrentFile = file;

    // Decode first, so a mask that cannot be read leaves the loaded mask, its
    // size and every control as they were. Masks of the folder come and go
    // with the photographs, so they are kept decoded (and copied from there);
    // a mask loaded by hand is decoded straight into place, without a second
    // full-size copy.
    std::shared_ptr<const Bitmap24> kept;
    Bitmap24 decoded;
    std::string refusal;
    try {
        if (fromFolder)
            kept = decodedMasks_.Get(file);
        else
            decoded = DecodeMaskFile(file, maskSettings.smooth);
    } catch (const MemoryBudgetError& e) {
        refusal = e.what();
        decoded.clear();
    } catch (const FileRefusedError& e) {
        refusal = e.what();
        decoded.clear();
    } catch (const std::exception&) {
        decoded.clear();
    }
    if (kept ? kept->empty() : decoded.empty()) {
        say(refusal.empty() ? " Can not load mask " + FileNamePart(file) + " (not a readable JPEG, BMP or TIFF file)."
                            : " Can not load mask: " + refusal);
        // A pending default or pre-selected mask is tried once: the stored
        // sliders are applied and the flag cleared as a completed load would,
        // so later photograph loads do not retry the broken file and the
        // next "Load Mask" asks for a file.
        if (workflow.FirstMaskPending)
            applyStoredSliders();
        return false;
    }

    workflow.MaskFile = file;
    installMask(kept ? Bitmap24(*kept) : std::move(decoded), file);
    return true;
}

void Workflow::installMask(Bitmap24&& image, const std::string& file)
{
    const int w = PhotoFull().width();
    const int h = PhotoFull().height();
    mask.MaskImage = std::move(image);
    profileInUse_.clear();
    texts.MaskLabelHint.clear();
    mask.MaskWidth = mask.MaskImage.width();
    mask.MaskHeight = mask.MaskImage.height();
    fitMask(w, h);
    mask.MaskPreview.setSize(kPreviewWidth, kPreviewHeight);
    stretchDraw(mask.MaskImage, mask.MaskPreview);

    mask.MaskCenterY = float(h) / 2;
    mask.MaskCenterX = float(w) / 2;
    // A stored hotspot belongs to the stored default mask only.
    if (!mask.StoredHotspotPending || file != settings.DefaultMask)
        resetHotspot();
    if (mask.HotspotR + mask.HotspotG + mask.HotspotB == 0)
        sampleCentreLevels();
    mask.MaskAngle = 0;
    texts.AngleHint = " Rotation Angle: 0\u00B0 ";
    texts.CoverVisible = false;
    mask.HotspotPicked = false;
    drawMaskOverlay(mask.HotspotX, mask.HotspotY);
    if (workflow.FirstMaskPending)
        applyStoredSliders();
    mask.MaskLoaded = true;
    updateMaskRatioLabel();
    Preview();
    texts.MaskLabel = ShortenedMaskLabel(FileNamePart(file));
    // A profile mask has no file: the EXIF window and smoothing leave it be.
    workflow.LastMaskFile = file.empty() ? std::string("-") : file;
    checkMask();
}

// ---- The preview pass ----

void Workflow::SetSliders(int brightness, int strength)
{
    adjust.Brightness = brightness;
    adjust.Strength = strength;
}

void Workflow::SetQuality(int position)
{
    adjust.Quality = position;
    texts.QualityText = QualityLabelForPosition(position);
    texts.QualityWarning = QualityLabelIsWarning(position);
}

void Workflow::SetCrop(const std::string& left, const std::string& top, const std::string& right,
                       const std::string& bottom)
{
    adjust.Left = left;
    adjust.Top = top;
    adjust.Right = right;
    adjust.Bottom = bottom;
}

CropMargins Workflow::cropMargins() const
{
    return ParseCropMargins(adjust.Left, adjust.Top, adjust.Right, adjust.Bottom);
}

CorrectionChoices Workflow::Choices() const
{
    // "Save Images" writes TIFF when chosen; a single save decides by the
    // entry chosen in its dialog.
    return {OffsetX, OffsetY, adjust.Brightness, adjust.Strength, adjust.Mode, adjust.Quality, cropMargins(),
            SaveImagesTiff};
}

CorrectionSetup Workflow::CurrentSetup(bool* cropValid) const
{
    CorrectionChoices choices{OffsetX, OffsetY, adjust.Brightness, adjust.Strength, adjust.Mode, adjust.Quality, {}};
    if (cropValid) {
        try {
            choices.crop = cropMargins();
            *cropValid = true;
        } catch (const std::exception&) {
            *cropValid = false; // a pasted text that is not a number
        }
    } else {
        choices.crop = cropMargins();
    }
    return SetUpCorrection(MaskFull(), {mask.HotspotR, mask.HotspotG, mask.HotspotB}, choices, PhotoFull().width(),
                           PhotoFull().height());
}

void Workflow::Preview()
{
    previewPass(Image1.Width, Image1.Height);
}

void Workflow::previewPass(int w, int h)
{
    const int b = adjust.Brightness;
    const int s = adjust.Strength;
    texts.BrightnessText = "Brightness: " + std::string(b - 25 > 0 ? "+" : "") + std::to_string(b - 25) + '%';
    texts.BoostText = "Vignetting reduction boost: " + std::to_string(s) + '%';
    if (!workflow.PhotoPresent || mask.MaskPreview.empty())
        return;

    Bitmap24& preview = workflow.PhotoPreview;
    // The processed preview always ends showing PhotoPreview, also when a
    // step below fails; the error then goes on to the caller.
    struct ShowPreview {
        Workflow* flow;
        ~ShowPreview() { flow->setProcessed(flow->workflow.PhotoPreview); }
    } showPreview{this};

    bool cropValid = true;
    const CorrectionSetup setup = CurrentSetup(&cropValid);
    correction.Damping = setup.damping;
    correction.TargetR = setup.targets.r;
    correction.TargetG = setup.targets.g;
    correction.TargetB = setup.targets.b;

    const PreviewMargins margins = PreviewMarginsFor(adjust.Left, adjust.Right, adjust.Top, adjust.Bottom, w, h);
    preview = pictures.Original;
    const CorrectionRegion region = PreviewRegion(OffsetX, OffsetY, margins);

    const CroppedSize cropped = CroppedSizeOf(w, h, cropMargins());
    const std::string caption = " Processed Image (" + sizeText(cropped.width, cropped.height) + " pixels)";
    if (cropped.height == 0) {
        // The ratio would divide by zero: say what the margins do and show
        // the photograph uncorrected. A width of zero or any negative size
        // still has a ratio ("[1:0]", "[1:-0.5]"); the preview region is
        // then empty on that axis.
        texts.ProcessedCaption = caption;
        say(" The crop margins leave no pixels of the " + sizeText(w, h) + " photograph.");
        return;
    }
    texts.ProcessedCaption =
        caption + " [1:" + RatioText(cropped.width, cropped.height, decimalSeparator_) + ']';
    ApplyCorrection(preview, mask.MaskPreview, region, setup.damping, setup.targets, setup.mode());
}

// ---- Offset and turns ----

void Workflow::ShiftVertical(int position)
{
    UpDownVertical = position;
    const int offset = kOffsetCentre - position;
    OffsetY = offset;
    ThumbTop = int(RoundHalfEven((long double)offset / 4.41L));
    Preview();
}

void Workflow::ShiftHorizontal(int position)
{
    UpDownHorizontal = position;
    const int offset = position - kOffsetCentre;
    OffsetX = offset;
    ThumbLeft = int(RoundHalfEven((long double)offset / 4.37L));
    Preview();
}

void Workflow::CentreMask()
{
    OffsetX = OffsetY = 0;
    UpDownVertical = UpDownHorizontal = kOffsetCentre;
    ThumbLeft = ThumbTop = 1;
    Preview();
}

void Workflow::BeginTurn()
{
    texts.CoverText = "Rotating...";
    texts.CoverVisible = true;
}

void Workflow::Turn(bool clockwise)
{
    panel.RotateClockwise = clockwise;
    texts.CoverVisible = false;
    std::unique_ptr<Bitmap24> turned;
    if (clockwise) {
        turned = Rotate90(270, mask.MaskImage);
        mask.MaskAngle += 90;
        if (mask.MaskAngle == 360)
            mask.MaskAngle = 0;
    } else {
        turned = Rotate90(90, mask.MaskImage);
        mask.MaskAngle -= 90;
        if (mask.MaskAngle == -360)
            mask.MaskAngle = 0;
    }
    TurnMarker(mask.MarkerX, mask.MarkerY, clockwise);
    drawMaskOverlay(mask.MarkerX, mask.MarkerY);
    // The turned mask is fitted to the size the mask was fitted to before.
    const int w = MaskFull().width();
    const int h = MaskFull().height();
    stretchDraw(*turned, mask.MaskPreview);
    mask.MaskImage = std::move(*turned);
    fitMask(w, h);
    Preview();
    texts.AngleHint = " Rotation Angle: " + std::to_string(mask.MaskAngle) + "\u00B0 ";
    std::swap(mask.MaskWidth, mask.MaskHeight);
    updateMaskRatioLabel();
}

// ---- The hotspot panel ----

void Workflow::BeginPanel()
{
    PanelOpen = true;
    texts.CoverText = "Select Hotspot";
    texts.CoverVisible = true;
    if (!settings.DefaultMask.empty())
        FreeOffered = true;
    if (settings.DefaultMask == "none")
        FreeOffered = false;
}

void Workflow::OpenPanel()
{
    if (!PanelOpen)
        BeginPanel();
    PanelShown = true;

    panel.PickedR = std::uint8_t(mask.HotspotR);
    panel.PickedG = std::uint8_t(mask.HotspotG);
    panel.PickedB = std::uint8_t(mask.HotspotB);
    const int lum = Lum(mask.HotspotR, mask.HotspotG, mask.HotspotB);
    texts.PanelLevels[0] = levelText("R: ", mask.HotspotR, mask.HotspotR);
    texts.PanelLevels[1] = levelText("G: ", mask.HotspotG, mask.HotspotG);
    texts.PanelLevels[2] = levelText("B: ", mask.HotspotB, mask.HotspotB);
    texts.PanelLevels[3] = levelText("L: ", lum, lum);
    texts.PanelAngle = "Angle: " + std::to_string(mask.MaskAngle) + "\u00B0";

    panel.PanelMask.setSize(kPanelWidth, kPanelHeight);
    stretchDraw(mask.MaskImage, panel.PanelMask);
    Bitmap24& picture = pictures.Panel;
    picture = panel.PanelMask;
    PaintBrightnessZones(panel.PanelMask, picture);
    DrawCentreLines(picture);
    panel.PanelSnapshot = picture;
    if (mask.StoredHotspotPending) {
        if (mask.HotspotX != 160 && mask.HotspotY != 120)
            DrawHotspotCross(picture, mask.MarkerX, mask.MarkerY);
        mask.StoredHotspotPending = false;
        mask.HotspotPicked = true;
    }
    if (mask.HotspotPicked && mask.HotspotX != 160 && mask.HotspotY != 120)
        DrawHotspotCross(picture, mask.MarkerX, mask.MarkerY);
    ++pictures.PanelRevision;
}

void Workflow::PointAt(int x, int y)
{
    if (!PanelShown || x < 0 || y < 0 || x >= panel.PanelMask.width() || y >= panel.PanelMask.height())
        return;
    panel.MouseX = x;
    panel.MouseY = y;
    const Colour c = panel.PanelMask.pixel(x, y);
    texts.PanelLevels[0] = levelText("R: ", redOf(c), panel.PickedR);
    texts.PanelLevels[1] = levelText("G: ", greenOf(c), panel.PickedG);
    texts.PanelLevels[2] = levelText("B: ", blueOf(c), panel.PickedB);
    texts.PanelLevels[3] = levelText("L: ", Lum(redOf(c), greenOf(c), blueOf(c)),
                                     Lum(panel.PickedR, panel.PickedG, panel.PickedB));
}

void Workflow::PickHotspot()
{
    if (!PanelShown)
        return;
    if (!mask.HotspotPicked)
        panel.PanelSnapshot = pictures.Panel;
    else
        pictures.Panel = panel.PanelSnapshot;
    mask.HotspotPicked = true;
    DrawHotspotCross(pictures.Panel, panel.MouseX, panel.MouseY);
    ++pictures.PanelRevision;
    mask.HotspotX = mask.MarkerX = panel.MouseX;
    mask.HotspotY = mask.MarkerY = panel.MouseY;
    const Colour c = panel.PanelMask.pixel(mask.HotspotX, mask.HotspotY);
    panel.PickedR = redOf(c);
    panel.PickedG = greenOf(c);
    panel.PickedB = blueOf(c);
}

void Workflow::ClosePanel()
{
    PanelOpen = PanelShown = false;
    panel.PanelMask.clear();
    texts.CoverVisible = false;
    if (mask.HotspotPicked) {
        mask.HotspotR = panel.PickedR;
        mask.HotspotG = panel.PickedG;
        mask.HotspotB = panel.PickedB;
    }
    drawMaskOverlay(mask.MarkerX, mask.MarkerY);
    Preview();
}

} // namespace lumivane
