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
      decodedMasks_([this](const std::string& path) { return DecodeMaskFile(path, maskSettings_.smooth); })
{
    pictures_.Original.reset(kPreviewWidth, kPreviewHeight);
    pictures_.Processed.reset(kPreviewWidth, kPreviewHeight);
    pictures_.Overlay = MakeOverlayBitmap();
}

// ---- The photograph list ----

void Workflow::OpenList(const std::vector<std::string>& chosen)
{
    photos_.CurrentFile.clear();
    if (!chosen.empty()) {
        const int n = int(chosen.size());
        texts_.SaveCaption = n > 1 ? "&Save Images" : "&Save Image";
        photos_.Files = chosen;
        texts_.ProgressMaximum = n;
    } else if (photos_.Files.empty()) {
        return;
    }
    showFile(0);
}

void Workflow::Step(int direction)
{
    if (direction < 0 ? !PreviousEnabled() : !NextEnabled())
        return;
    showFile(photos_.FileIndex + (direction < 0 ? -1 : 1));
}

void Workflow::Reload()
{
    if (!PreviousEnabled() && !NextEnabled())
        return;
    showFile(photos_.FileIndex);
}

void Workflow::showFile(int index)
{
    selectEntry(index);
    loadPhotograph();
}

void Workflow::selectEntry(int index)
{
    photos_.FileIndex = index;
    if (index >= 0 && index < int(photos_.Files.size()))
        photos_.CurrentFile = photos_.Files[std::size_t(index)];
    photos_.SourceFile = photos_.CurrentFile;
    texts_.PhotoHint = ' ' + photos_.CurrentFile + ' ';
    photos_.OutName = OutNameFor(photos_.CurrentFile, IsBmpQuality(adjust_.Quality));
}

void Workflow::decodePhotograph(const std::string& path)
{
    // Decoding errors are dropped here without a message, except a picture
    // too large for the memory budget, a file that is no regular file and a
    // scan bomb, whose refusals are kept for the status line. The decoders write into the spare bitmap, which is
    // exchanged with the holder's on success: a JPEG or BMP that cannot be
    // decoded leaves the photograph shown before, a TIFF that cannot be read
    // empties the holder.
    photos_.DecodeOk = false;
    photoRefusal_.clear();
    try {
        std::string damage;
        if (!DecodeBySuffix(path, spareBitmap_, JpegSmoothing::Off, &damage))
            return;
        photo_.Picture.ExchangeBitmap(spareBitmap_);
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
            photo_.Picture.Clear();
        return;
    }
    photos_.DecodeOk = !photo_.Picture.Empty();
    if (mask_.MaskLoaded && !photo_.Picture.Empty())
        fitMask(PhotoFull().width(), PhotoFull().height());
}

const Bitmap24& Workflow::PhotoFull() const
{
    static const Bitmap24 none;
    const Bitmap24* held = photo_.Picture.HeldBitmap();
    return held ? *held : none;
}

const Bitmap24& Workflow::MaskFull() const
{
    return mask_.MaskFullIsImage ? mask_.MaskImage : mask_.MaskStretched;
}

void Workflow::showEmptyPhotograph()
{
    // Nothing could be decoded: show neutral previews and keep every
    // correction and save away from the empty picture.
    photos_.PhotoPresent = false;
    photos_.PhotoPreview.reset(kPreviewWidth, kPreviewHeight);
    pictures_.Original.reset(kPreviewWidth, kPreviewHeight);
    pictures_.Original.fill(packColour(192, 192, 192));
    ++pictures_.OriginalRevision;
    setProcessed(pictures_.Original);
    texts_.OriginalCaption = " Original Image (empty)";
    texts_.ProcessedCaption = " Processed Image (empty)";
}

void Workflow::say(std::string status)
{
    // The status line is one line: a file name holding a newline or an
    // escape byte shows them as visible escapes.
    texts_.Status = VisibleText(status);
    ++texts_.StatusRevision;
}

void Workflow::setProcessed(const Bitmap24& picture)
{
    pictures_.Processed = picture;
    ++pictures_.ProcessedRevision;
}

void Workflow::loadPhotograph()
{
    if (photos_.CurrentFile.empty())
        return;
    say(" Loading... ");
    decodePhotograph(photos_.CurrentFile);
    showHeldPhotograph();
}

void Workflow::sayShowing()
{
    const int index = photos_.FileIndex;
    const bool listed = index >= 0 && index < int(photos_.Files.size());
    const std::string shown = FileNamePart(listed ? photos_.Files[std::size_t(index)] : photos_.CurrentFile);
    // A damaged photograph is shown with the pixels its decoder made, and
    // said to be damaged while it is on screen.
    const std::string& file = listed ? photos_.Files[std::size_t(index)] : photos_.CurrentFile;
    const std::string damage =
        !photoDamage_.empty() && file == photoDamageFile_ ? ", damaged: " + photoDamage_ : std::string();
    if (!photoRefusal_.empty())
        say(' ' + photoRefusal_);
    else
        say(" Showing " + shown + " [" + std::to_string(index + 1) + " of " +
            std::to_string(photos_.Files.size()) + ']' + damage);
}

void Workflow::showHeldPhotograph()
{
    sayShowing();
    if (photo_.Picture.Empty()) {
        showEmptyPhotograph();
    } else {
        const Bitmap24& photo = photo_.Picture.Bitmap();
        photos_.PhotoPresent = true;
        photos_.PhotoPreview.setSize(kPreviewWidth, kPreviewHeight);
        stretchDraw(photo, photos_.PhotoPreview);
        showPreviewPictures(PhotoFull().width(), PhotoFull().height());
    }
    // While a mask folder is set, a stored default mask is not used.
    if (MaskMatchingOn()) {
        if (photos_.PhotoPresent && photos_.DecodeOk)
            matchMask();
    } else if (lensProfileOn_) {
        if (photos_.PhotoPresent && photos_.DecodeOk)
            applyLensProfile(true);
    } else if (photos_.FirstMaskPending == 1 && !photos_.MaskFile.empty()) {
        LoadMask(std::string());
    }
    if (mask_.MaskLoaded && photos_.PhotoPresent) {
        updateMaskRatioLabel();
        Preview();
    }
}

void Workflow::showPreviewPictures(int width, int height)
{
    pictures_.Original = photos_.PhotoPreview;
    ++pictures_.OriginalRevision;
    setProcessed(photos_.PhotoPreview);

    const std::string size = sizeText(width, height);
    const std::string ratio = RatioText(width, height, decimalSeparator_);
    texts_.OriginalCaption = " Original Image (" + size + " pixels) [1:" + ratio + ']';
    texts_.ProcessedCaption = " Processed Image (" + size + " pixels) [1:" + ratio + ']';
}

// ---- The mask ----

void Workflow::resetHotspot()
{
    mask_.HotspotR = mask_.HotspotG = mask_.HotspotB = 0;
    mask_.HotspotX = mask_.MarkerX = kNoHotspotX;
    mask_.HotspotY = mask_.MarkerY = kNoHotspotY;
}

void Workflow::sampleCentreLevels()
{
    const HotspotLevels levels = SampleCentreLevels(MaskFull());
    mask_.HotspotR = levels.r;
    mask_.HotspotG = levels.g;
    mask_.HotspotB = levels.b;
}

void Workflow::updateMaskRatioLabel()
{
    updateMaskRatioLabel(PhotoFull().width(), PhotoFull().height());
}

void Workflow::updateMaskRatioLabel(int w, int h)
{
    // Without a photograph there is nothing to compare the mask with; the
    // caption still shows the mask's own ratio.
    texts_.MaskRatioWarning =
        photos_.PhotoPresent && w > 0 && h > 0 && MaskRatioDiffers(w, h, mask_.MaskWidth, mask_.MaskHeight);
    texts_.MaskCaption = " Mask [1:" + RatioText(mask_.MaskWidth, mask_.MaskHeight, decimalSeparator_) + "] ";
}

void Workflow::drawMaskOverlay(int x, int y)
{
    DrawMaskOverlay(pictures_.Overlay, mask_.HotspotX, mask_.HotspotY, x, y);
    ++pictures_.OverlayRevision;
}

void Workflow::preselectMask(const std::string& path)
{
    photos_.MaskFile = path;
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
    pictures_.Thumbnail = std::move(small);
    ++pictures_.ThumbnailRevision;
}

void Workflow::fitMask(int width, int height)
{
    if (mask_.MaskImage.width() == width && mask_.MaskImage.height() == height) {
        // A stretch to the same size is a plain copy: share the mask itself.
        mask_.MaskFullIsImage = true;
        mask_.MaskStretched.clear();
    } else {
        mask_.MaskFullIsImage = false;
        // The stretch sets every pixel of a non-empty mask; storage kept
        // from an earlier photograph of this size or larger is reused.
        if (mask_.MaskImage.empty())
            mask_.MaskStretched.reset(width, height);
        else
            mask_.MaskStretched.setSizeForOverwrite(width, height);
        stretchDraw(mask_.MaskImage, mask_.MaskStretched);
    }
    fitThumbnail(width, height);
}

void Workflow::fitThumbnail(int width, int height)
{
    // The thumbnail shows exactly what the full-size mask stretched to its
    // own size shows, from a picture of that small size.
    Bitmap24 thumbnail(kThumbnailWidth, kThumbnailHeight);
    stretchDrawThrough(mask_.MaskImage, width, height, thumbnail);
    pictures_.Thumbnail = std::move(thumbnail);
    ++pictures_.ThumbnailRevision;
}

bool Workflow::MaskNeedsDialog() const
{
    return photos_.Files.empty() || !photos_.FirstMaskPending || photos_.MaskFile.empty() || MaskMatchingOn();
}

bool Workflow::LoadMask(const std::string& chosen)
{
    // A mask the user picked turns the mask folder and the lens profile off.
    if (!chosen.empty() && MaskMatchingOn())
        SetMaskFolder(std::string());
    if (!chosen.empty())
        lensProfileOn_ = false;
    if (photos_.Files.empty()) {
        // Pre-selection: remember the mask and show it; it is loaded with the
        // first photograph.
        if (!chosen.empty())
            photos_.MaskFile = chosen;
        if (!photos_.MaskFile.empty()) {
            preselectMask(photos_.MaskFile);
            texts_.MaskLabel = ShortenedMaskLabel(FileNamePart(photos_.MaskFile));
        }
        return true;
    }

    const std::string file = MaskNeedsDialog() ? chosen : photos_.MaskFile;
    if (file.empty())
        return false;
    if (!photos_.PhotoPresent) {
        say(" Can not load mask " + FileNamePart(file) + ": no photograph is shown.");
        return false;
    }
    if (!loadMaskFile(file, false))
        return false;
    session_.FolderMask.clear();
    if (!maskQuality_.Good())
        say(texts_.Status + QualityStatusText(maskQuality_));
    return true;
}

bool Workflow::loadMaskFile(const std::string& file, bool fromFolder)
{
    // The open hotspot panel's picture, levels and cover belong to the mask
    // in use; no mask replaces it before OK.
    if (session_.PanelOpen) {
        say(" Close the hotspot panel with OK before loading the mask " + FileNamePart(file) + '.');
        return false;
    }
    photos_.CurrentFile = file;

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
            decoded = DecodeMaskFile(file, maskSettings_.smooth);
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
        if (photos_.FirstMaskPending)
            applyStoredSliders();
        return false;
    }

    photos_.MaskFile = file;
    installMask(kept ? Bitmap24(*kept) : std::move(decoded), file);
    return true;
}

void Workflow::installMask(Bitmap24&& image, const std::string& file)
{
    const int w = PhotoFull().width();
    const int h = PhotoFull().height();
    mask_.MaskImage = std::move(image);
    profileInUse_.clear();
    texts_.MaskLabelHint.clear();
    mask_.MaskWidth = mask_.MaskImage.width();
    mask_.MaskHeight = mask_.MaskImage.height();
    fitMask(w, h);
    mask_.MaskPreview.setSize(kPreviewWidth, kPreviewHeight);
    stretchDraw(mask_.MaskImage, mask_.MaskPreview);

    mask_.MaskCenterY = float(h) / 2;
    mask_.MaskCenterX = float(w) / 2;
    // A stored hotspot belongs to the stored default mask only.
    if (!mask_.StoredHotspotPending || file != settings_.DefaultMask)
        resetHotspot();
    if (mask_.HotspotR + mask_.HotspotG + mask_.HotspotB == 0)
        sampleCentreLevels();
    mask_.MaskAngle = 0;
    texts_.AngleHint = " Rotation Angle: 0\u00B0 ";
    texts_.CoverVisible = false;
    mask_.HotspotPicked = false;
    drawMaskOverlay(mask_.HotspotX, mask_.HotspotY);
    if (photos_.FirstMaskPending)
        applyStoredSliders();
    mask_.MaskLoaded = true;
    updateMaskRatioLabel();
    Preview();
    texts_.MaskLabel = ShortenedMaskLabel(FileNamePart(file));
    // A profile mask has no file: the EXIF window and smoothing leave it be.
    photos_.LastMaskFile = file.empty() ? std::string(kNoMaskFile) : file;
    checkMask();
}

// ---- The preview pass ----

void Workflow::SetSliders(int brightness, int strength)
{
    adjust_.Brightness = brightness;
    adjust_.Strength = strength;
}

void Workflow::SetQuality(int position)
{
    adjust_.Quality = position;
    texts_.QualityText = QualityLabelForPosition(position);
    texts_.QualityWarning = QualityLabelIsWarning(position);
}

void Workflow::SetCrop(const std::string& left, const std::string& top, const std::string& right,
                       const std::string& bottom)
{
    adjust_.Left = left;
    adjust_.Top = top;
    adjust_.Right = right;
    adjust_.Bottom = bottom;
}

CropMargins Workflow::cropMargins() const
{
    return ParseCropMargins(adjust_.Left, adjust_.Top, adjust_.Right, adjust_.Bottom);
}

CorrectionChoices Workflow::Choices() const
{
    // "Save Images" writes TIFF when chosen; a single save decides by the
    // entry chosen in its dialog.
    return {session_.OffsetX, session_.OffsetY, adjust_.Brightness, adjust_.Strength, adjust_.Mode, adjust_.Quality, cropMargins(),
            session_.SaveImagesTiff};
}

CorrectionSetup Workflow::CurrentSetup(bool* cropValid) const
{
    CorrectionChoices choices{session_.OffsetX, session_.OffsetY, adjust_.Brightness, adjust_.Strength, adjust_.Mode, adjust_.Quality, {}};
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
    CorrectionSetup setup = SetUpCorrection(MaskFull(), {mask_.HotspotR, mask_.HotspotG, mask_.HotspotB}, choices,
                                            PhotoFull().width(), PhotoFull().height());
    // The preview and the before/after view take the colour profiles'
    // curves as the save does.
    if (adjust_.Mode.method == CorrectionMethod::Exact && photos_.PhotoPresent)
        setup.curves = profileCurves();
    return setup;
}

void Workflow::Preview()
{
    previewPass(PhotoFull().width(), PhotoFull().height());
}

void Workflow::previewPass(int w, int h)
{
    const int b = adjust_.Brightness;
    const int s = adjust_.Strength;
    texts_.BrightnessText = "Brightness: " + std::string(b - 25 > 0 ? "+" : "") + std::to_string(b - 25) + '%';
    texts_.BoostText = "Vignetting reduction boost: " + std::to_string(s) + '%';
    if (!photos_.PhotoPresent || mask_.MaskPreview.empty())
        return;

    Bitmap24& preview = photos_.PhotoPreview;
    // The processed preview always ends showing PhotoPreview, also when a
    // step below fails; the error then goes on to the caller.
    struct ShowPreview {
        Workflow* flow;
        ~ShowPreview() { flow->setProcessed(flow->photos_.PhotoPreview); }
    } showPreview{this};

    bool cropValid = true;
    const CorrectionSetup setup = CurrentSetup(&cropValid);
    correction_.Damping = setup.damping;
    correction_.TargetR = setup.targets.r;
    correction_.TargetG = setup.targets.g;
    correction_.TargetB = setup.targets.b;

    const PreviewMargins margins = PreviewMarginsFor(adjust_.Left, adjust_.Right, adjust_.Top, adjust_.Bottom, w, h);
    preview = pictures_.Original;
    const CorrectionRegion region = PreviewRegion(session_.OffsetX, session_.OffsetY, margins);

    const CroppedSize cropped = CroppedSizeOf(w, h, cropMargins());
    const std::string caption = " Processed Image (" + sizeText(cropped.width, cropped.height) + " pixels)";
    if (cropped.height == 0) {
        // The ratio would divide by zero: say what the margins do and show
        // the photograph uncorrected. A width of zero or any negative size
        // still has a ratio ("[1:0]", "[1:-0.5]"); the preview region is
        // then empty on that axis.
        texts_.ProcessedCaption = caption;
        say(" The crop margins leave no pixels of the " + sizeText(w, h) + " photograph.");
        return;
    }
    texts_.ProcessedCaption =
        caption + " [1:" + RatioText(cropped.width, cropped.height, decimalSeparator_) + ']';
    ApplyCorrectionOnCurves(preview, mask_.MaskPreview, region, setup.damping, setup.targets, setup.mode(),
                            setup.curves);
}

// ---- Offset and turns ----

void Workflow::ShiftVertical(int position)
{
    session_.UpDownVertical = position;
    const int offset = kOffsetCentre - position;
    session_.OffsetY = offset;
    session_.ThumbTop = int(RoundHalfEven((long double)offset / 4.41L));
    Preview();
}

void Workflow::ShiftHorizontal(int position)
{
    session_.UpDownHorizontal = position;
    const int offset = position - kOffsetCentre;
    session_.OffsetX = offset;
    session_.ThumbLeft = int(RoundHalfEven((long double)offset / 4.37L));
    Preview();
}

void Workflow::CentreMask()
{
    session_.OffsetX = session_.OffsetY = 0;
    session_.UpDownVertical = session_.UpDownHorizontal = kOffsetCentre;
    session_.ThumbLeft = session_.ThumbTop = 1;
    Preview();
}

void Workflow::BeginTurn()
{
    texts_.CoverText = "Rotating...";
    texts_.CoverVisible = true;
}

void Workflow::Turn(bool clockwise)
{
    panel_.RotateClockwise = clockwise;
    texts_.CoverVisible = false;
    std::unique_ptr<Bitmap24> turned;
    if (clockwise) {
        turned = Rotate90(270, mask_.MaskImage);
        mask_.MaskAngle += 90;
        if (mask_.MaskAngle == 360)
            mask_.MaskAngle = 0;
    } else {
        turned = Rotate90(90, mask_.MaskImage);
        mask_.MaskAngle -= 90;
        if (mask_.MaskAngle == -360)
            mask_.MaskAngle = 0;
    }
    TurnMarker(mask_.MarkerX, mask_.MarkerY, clockwise);
    drawMaskOverlay(mask_.MarkerX, mask_.MarkerY);
    // The turned mask is fitted to the size the mask was fitted to before.
    const int w = MaskFull().width();
    const int h = MaskFull().height();
    stretchDraw(*turned, mask_.MaskPreview);
    mask_.MaskImage = std::move(*turned);
    fitMask(w, h);
    Preview();
    texts_.AngleHint = " Rotation Angle: " + std::to_string(mask_.MaskAngle) + "\u00B0 ";
    std::swap(mask_.MaskWidth, mask_.MaskHeight);
    updateMaskRatioLabel();
}

// ---- The hotspot panel ----

void Workflow::BeginPanel()
{
    session_.PanelOpen = true;
    texts_.CoverText = "Select Hotspot";
    texts_.CoverVisible = true;
    if (!settings_.DefaultMask.empty())
        session_.FreeOffered = true;
    if (settings_.DefaultMask == "none")
        session_.FreeOffered = false;
}

void Workflow::OpenPanel()
{
    if (!session_.PanelOpen)
        BeginPanel();
    session_.PanelShown = true;

    panel_.PickedR = std::uint8_t(mask_.HotspotR);
    panel_.PickedG = std::uint8_t(mask_.HotspotG);
    panel_.PickedB = std::uint8_t(mask_.HotspotB);
    const int lum = Lum(mask_.HotspotR, mask_.HotspotG, mask_.HotspotB);
    texts_.PanelLevels[0] = levelText("R: ", mask_.HotspotR, mask_.HotspotR);
    texts_.PanelLevels[1] = levelText("G: ", mask_.HotspotG, mask_.HotspotG);
    texts_.PanelLevels[2] = levelText("B: ", mask_.HotspotB, mask_.HotspotB);
    texts_.PanelLevels[3] = levelText("L: ", lum, lum);
    texts_.PanelAngle = "Angle: " + std::to_string(mask_.MaskAngle) + "\u00B0";

    panel_.PanelMask.setSize(kPanelWidth, kPanelHeight);
    stretchDraw(mask_.MaskImage, panel_.PanelMask);
    Bitmap24& picture = pictures_.Panel;
    picture = panel_.PanelMask;
    PaintBrightnessZones(panel_.PanelMask, picture);
    DrawCentreLines(picture);
    panel_.PanelSnapshot = picture;
    if (mask_.StoredHotspotPending) {
        if (HotspotChosen(mask_.HotspotX, mask_.HotspotY))
            DrawHotspotCross(picture, mask_.MarkerX, mask_.MarkerY);
        mask_.StoredHotspotPending = false;
        mask_.HotspotPicked = true;
    }
    if (mask_.HotspotPicked && HotspotChosen(mask_.HotspotX, mask_.HotspotY))
        DrawHotspotCross(picture, mask_.MarkerX, mask_.MarkerY);
    ++pictures_.PanelRevision;
}

void Workflow::PointAt(int x, int y)
{
    if (!session_.PanelShown || x < 0 || y < 0 || x >= panel_.PanelMask.width() || y >= panel_.PanelMask.height())
        return;
    panel_.MouseX = x;
    panel_.MouseY = y;
    const Colour c = panel_.PanelMask.pixel(x, y);
    texts_.PanelLevels[0] = levelText("R: ", redOf(c), panel_.PickedR);
    texts_.PanelLevels[1] = levelText("G: ", greenOf(c), panel_.PickedG);
    texts_.PanelLevels[2] = levelText("B: ", blueOf(c), panel_.PickedB);
    texts_.PanelLevels[3] = levelText("L: ", Lum(redOf(c), greenOf(c), blueOf(c)),
                                     Lum(panel_.PickedR, panel_.PickedG, panel_.PickedB));
}

void Workflow::PickHotspot()
{
    if (!session_.PanelShown)
        return;
    if (!mask_.HotspotPicked)
        panel_.PanelSnapshot = pictures_.Panel;
    else
        pictures_.Panel = panel_.PanelSnapshot;
    mask_.HotspotPicked = true;
    DrawHotspotCross(pictures_.Panel, panel_.MouseX, panel_.MouseY);
    ++pictures_.PanelRevision;
    mask_.HotspotX = mask_.MarkerX = panel_.MouseX;
    mask_.HotspotY = mask_.MarkerY = panel_.MouseY;
    const Colour c = panel_.PanelMask.pixel(mask_.HotspotX, mask_.HotspotY);
    panel_.PickedR = redOf(c);
    panel_.PickedG = greenOf(c);
    panel_.PickedB = blueOf(c);
}

void Workflow::ClosePanel()
{
    session_.PanelOpen = session_.PanelShown = false;
    panel_.PanelMask.clear();
    texts_.CoverVisible = false;
    if (mask_.HotspotPicked) {
        mask_.HotspotR = panel_.PickedR;
        mask_.HotspotG = panel_.PickedG;
        mask_.HotspotB = panel_.PickedB;
    }
    drawMaskOverlay(mask_.MarkerX, mask_.MarkerY);
    Preview();
}

} // namespace lumivane
