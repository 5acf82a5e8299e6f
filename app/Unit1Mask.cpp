// Loading the mask, fitting it to the photograph and its indicators.
#include "Unit1.h"

#include "JpegCodec.h"
#include "MaskGeometry.h"
#include "Naming.h"
#include "PlatformServices.h"
#include "TextFormat.h"
#include "TiffReader.h"
#include "Unit2.h"

#include <QFileInfo>

using namespace lumivane;

namespace {

char decimalSeparator()
{
    return QLocale::system().decimalPoint().at(0).toLatin1();
}

QString maskLabelText(const QString& path)
{
    return QString::fromStdString(ShortenedMaskLabel(QFileInfo(path).fileName().toStdString()));
}

} // namespace

void TForm1::ResetHotspot()
{
    mask.HotspotR = mask.HotspotG = mask.HotspotB = 0;
    mask.HotspotX = mask.MarkerX = 160;
    mask.HotspotY = mask.MarkerY = 120;
}

void TForm1::SampleCentreLevels()
{
    const HotspotLevels levels = lumivane::SampleCentreLevels(MaskFull());
    mask.HotspotR = levels.r;
    mask.HotspotG = levels.g;
    mask.HotspotB = levels.b;
}

void TForm1::UpdateMaskRatioLabel()
{
    const int w = PhotoFull().width();
    const int h = PhotoFull().height();
    // Without a photograph there is nothing to compare the mask with; the
    // caption still shows the mask's own ratio.
    const bool differs =
        workflow.PhotoPresent && w > 0 && h > 0 && MaskRatioDiffers(w, h, mask.MaskWidth, mask.MaskHeight);
    QPalette p = GroupBox6->palette();
    p.setColor(QPalette::WindowText, differs ? QColor(255, 0, 0) : QColor(0, 0, 0));
    GroupBox6->setPalette(p);
    GroupBox6->setTitle(QStringLiteral(" Mask [1:") +
                        QString::fromStdString(RatioText(mask.MaskWidth, mask.MaskHeight, decimalSeparator())) +
                        QStringLiteral("] "));
}

void TForm1::DrawMaskOverlay(int x, int y)
{
    lumivane::DrawMaskOverlay(Image4->bitmap(), mask.HotspotX, mask.HotspotY, x, y);
    Image4->pictureChanged();
}

void TForm1::showMaskThumbnail(const QString& path)
{
    TPicture thumbnail;
    thumbnail.LoadFromFile(path.toStdString());
    // A JPEG is held undecoded; asking the picture for its bitmap would drop
    // it, so it is decoded for the thumbnail instead.
    Bitmap24 decoded;
    if (const TJPEGImage* held = thumbnail.Jpeg())
        held->DecodeInto(decoded);
    else
        decoded = std::move(thumbnail.Bitmap());
    // The thumbnail keeps a picture of its own small size only.
    Bitmap24 small(Image3->width(), Image3->height());
    stretchDraw(decoded, small);
    Image3->bitmap() = std::move(small);
    Image3->pictureChanged();
}

const Bitmap24& TForm1::MaskFull() const
{
    return mask.MaskFullIsImage ? mask.MaskImage : mask.MaskStretched;
}

void TForm1::fitMask(int width, int height)
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
    // The thumbnail shows exactly what the full-size mask stretched to its
    // own size shows, from a picture of that small size.
    Bitmap24 thumbnail(Image3->width(), Image3->height());
    stretchDrawThrough(mask.MaskImage, width, height, thumbnail);
    Image3->bitmap() = std::move(thumbnail);
    Image3->pictureChanged();
}

void TForm1::RefitMask()
{
    fitMask(Image1.Width, Image1.Height);
    // The load updates the ratio caption itself once the photograph is shown.
}

void TForm1::Button3Click()
{
    OpenDialogRequest request;
    request.title = QStringLiteral(" Open Mask");
    request.filter = QStringLiteral("All supported formats |*.jpg;*.JPG;*.bmp;*.BMP;*.tif;*.TIF");
    request.multiSelect = false;

    if (ListBox1->count() == 0) {
        // Pre-selection: remember the mask and show it; it is loaded with the
        // first photograph.
        const QStringList chosen = services_.openFiles(this, request);
        if (!chosen.isEmpty())
            workflow.MaskFile = chosen.constFirst();
        if (!workflow.MaskFile.isEmpty()) {
            showMaskThumbnail(workflow.MaskFile);
            Label4->setText(maskLabelText(workflow.MaskFile));
        }
        return;
    }

    QString file;
    if (workflow.FirstMaskPending && !workflow.MaskFile.isEmpty()) {
        file = workflow.MaskFile;
    } else {
        const QStringList chosen = services_.openFiles(this, request);
        if (chosen.isEmpty()) {
            if (Form2 && Form2->isVisible())
                showexif();
            return;
        }
        file = chosen.constFirst();
    }
    if (!workflow.PhotoPresent) {
        status->setText(QStringLiteral(" Can not load mask ") + QFileInfo(file).fileName() +
                        QStringLiteral(": no photograph is shown."));
        return;
    }
    workflow.CurrentFile = file;

    // Decode into locals first, so a mask that cannot be read leaves the
    // loaded mask, its size and every control as they were.
    const int w = PhotoFull().width();
    const int h = PhotoFull().height();
    const std::string path = file.toStdString();
    const std::string suffix = UpperSuffix3(path);
    Bitmap24 decoded;
    int decodedWidth = 0;
    int decodedHeight = 0;
    bool ok = false;
    try {
        if (suffix == "JPG") {
            TJPEGImage decoder; // block smoothing stays on for masks
            decoder.LoadFromFile(path);
            decodedWidth = decoder.Width();
            decodedHeight = decoder.Height();
            decoder.DecodeInto(decoded);
            ok = true;
        } else if (suffix == "BMP") {
            TPicture picture;
            picture.LoadFromFile(path);
            decoded = std::move(picture.Bitmap());
            decodedWidth = decoded.width();
            decodedHeight = decoded.height();
            ok = true;
        } else if (suffix == "TIF") {
            LoadTiffImage(path, tifmask);
            if (!tifmask.Picture.Empty()) {
                decodedWidth = tifmask.Width;
                decodedHeight = tifmask.Height;
                // The mask takes the decoded pixels instead of a copy; the
                // holder keeps only its size.
                tifmask.Picture.ExchangeBitmap(decoded);
                ok = true;
            }
        }
    } catch (const std::exception&) {
        ok = false;
    }
    if (!ok || decoded.empty() || decodedWidth <= 0 || decodedHeight <= 0) {
        status->setText(QStringLiteral(" Can not load mask ") + QFileInfo(file).fileName() +
                        QStringLiteral(" (not a readable JPEG, BMP or TIFF file)."));
        // A pending default or pre-selected mask is tried once: the stored
        // sliders are applied and the flag cleared as a completed load would,
        // so later photograph loads do not retry the broken file and the
        // next "Load Mask" asks for a file.
        if (workflow.FirstMaskPending)
            applyStoredSliders();
        if (Form2 && Form2->isVisible())
            showexif();
        return;
    }

    workflow.MaskFile = file;
    mask.MaskWidth = decodedWidth;
    mask.MaskHeight = decodedHeight;
    mask.MaskImage = std::move(decoded);
    fitMask(w, h);
    mask.MaskPreview.setSize(289, 216);
    stretchDraw(mask.MaskImage, mask.MaskPreview);

    mask.MaskCenterY = float(h) / 2;
    mask.MaskCenterX = float(w) / 2;
    if (!mask.StoredHotspotPending)
        ResetHotspot();
    if (workflow.CurrentFile != settings.DefaultMask)
        ResetHotspot();
    if (mask.HotspotR + mask.HotspotG + mask.HotspotB == 0)
        SampleCentreLevels();
    mask.MaskAngle = 0;
    Image3->setToolTip(QStringLiteral(" Rotation Angle: 0\u00B0 "));

    for (QWidget* c : std::initializer_list<QWidget*>{brightness, jpeg, Label5, Label10, strength, Label6, left, right,
                                                      Button2, top, bottom, Label1})
        c->setEnabled(true);
    Panel6->hide();
    mask.HotspotPicked = false;
    DrawMaskOverlay(mask.HotspotX, mask.HotspotY);
    SpeedButton1->setEnabled(true);
    UpDown1->setEnabled(true);
    UpDown2->setEnabled(true);
    if (workflow.FirstMaskPending)
        applyStoredSliders();
    mask.MaskLoaded = true;
    UpdateMaskRatioLabel();
    brightnessChange();
    Button4->setEnabled(true);
    Label4->setText(maskLabelText(workflow.CurrentFile));
    workflow.LastMaskFile = workflow.CurrentFile;
    if (Form2 && Form2->isVisible())
        showexif();
}
