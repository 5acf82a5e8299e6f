// Opening photographs, stepping through the list and loading one photograph.
#include "Unit1.h"

#include "JpegCodec.h"
#include "Naming.h"
#include "PlatformServices.h"
#include "TextFormat.h"
#include "TiffReader.h"
#include "Unit2.h"

#include <QFileInfo>

using namespace lumivane;

namespace {

std::string toStd(const QString& s)
{
    return s.toStdString();
}

QString ratioText(int w, int h)
{
    return QString::fromStdString(RatioText(w, h, QLocale::system().decimalPoint().at(0).toLatin1()));
}

} // namespace

void TForm1::change()
{
    workflow.BatchStep = 1;
    Button1Click(BitBtn5);
}

void TForm1::Button1Click(QObject* Sender)
{
    const int listLength = ListBox1->count();
    if (Sender == BitBtn5) {
        if (workflow.BatchDone == 1) {
            workflow.BatchStep = 0;
            workflow.FileIndex = 0;
        }
        OpenDialogRequest request;
        request.title = QStringLiteral(" Open Image(s)");
        request.filter = QStringLiteral("All supported formats |*.jpg;*.JPG;*.bmp;*.BMP;*.tif;*.TIF");
        request.multiSelect = true;
        workflow.CurrentFile.clear();
        if (workflow.BatchStep == 1) {
            setNavigationEnabled(false, false);
        } else if (workflow.BatchDone == 1) {
            workflow.BatchDone = 0;
            ImageButton2->setEnabled(true);
        } else {
            const QStringList chosen = services_.openFiles(this, request);
            if (!chosen.isEmpty()) {
                const int n = int(chosen.size());
                setNavigationEnabled(false, n > 1);
                Button2->setText(n > 1 ? QStringLiteral("&Save Images") : QStringLiteral("&Save Image"));
                ListBox1->clear();
                ListBox1->addItems(chosen);
                workflow.FileIndex = 0;
                ProgressBar1->setMaximum(n);
                workflow.BatchStep = 0;
            } else if (listLength == 0) {
                return;
            } else {
                workflow.FileIndex = 0;
                setNavigationEnabled(false, listLength > 1);
            }
        }
    } else {
        if (!ImageButton1->isEnabled() && !ImageButton2->isEnabled())
            return;
        services_.setBusyCursor(true);
        if (Sender == ImageButton2)
            ++workflow.FileIndex;
        else if (Sender == ImageButton1)
            --workflow.FileIndex;
        const int last = ListBox1->count() - 1;
        setNavigationEnabled(workflow.FileIndex != 0, workflow.FileIndex != last);
    }
    if (workflow.FileIndex >= 0 && workflow.FileIndex < ListBox1->count())
        workflow.CurrentFile = ListBox1->item(workflow.FileIndex)->text();
    image4Hint_ = QLatin1Char(' ') + workflow.CurrentFile + QLatin1Char(' ');
    Image4->setToolTip(image4Hint_);
    workflow.SourceFile = workflow.CurrentFile;
    loadPhotograph();
}

void TForm1::decodePhotograph(const QString& path)
{
    // Every decoding error is dropped here without a message: the holder
    // keeps the photograph it held and the load goes on.
    const std::string suffix = UpperSuffix3(toStd(path));
    workflow.DecodeOk = false;
    try {
        if (suffix == "JPG") {
            TJPEGImage decoder;
            decoder.Smoothing = false;
            decoder.LoadFromFile(toStd(path));
            // Decode into the spare full-size bitmap kept from the previous
            // load, then exchange it with the holder's: a failed decode
            // leaves the holder's photograph untouched, and no fresh
            // full-size memory is paid for on every load.
            decoder.DecodeInto(spareBitmap_);
            std::swap(Image1.Picture.Bitmap(), spareBitmap_);
            Image1.PictureChanged();
        } else if (suffix == "BMP") {
            Image1.LoadFromFile(toStd(path), spareBitmap_);
        } else if (suffix == "TIF") {
            LoadTiffImage(toStd(path), Image1, spareBitmap_);
        } else {
            return;
        }
        workflow.DecodeOk = !Image1.Picture.Empty();
        if (mask.MaskLoaded && !Image1.Picture.Empty())
            RefitMask();
    } catch (const std::exception&) {
    }
}

const Bitmap24& TForm1::PhotoFull() const
{
    static const Bitmap24 none;
    const Bitmap24* held = Image1.Picture.HeldBitmap();
    return held ? *held : none;
}

void TForm1::showEmptyPhotograph()
{
    // Nothing could be decoded: show neutral previews and keep every
    // correction and save away from the empty picture.
    workflow.PhotoPresent = false;
    workflow.PhotoPreview.reset(289, 216);
    const Colour neutral = packColour(192, 192, 192);
    img_left->bitmap().reset(289, 216);
    img_left->bitmap().fill(neutral);
    img_left->pictureChanged();
    img_right->bitmap() = img_left->bitmap();
    img_right->pictureChanged();
    Label2->setText(QStringLiteral(" Original Image (empty)"));
    Label5->setText(QStringLiteral(" Processed Image (empty)"));
    Button2->setEnabled(false);
}

void TForm1::loadPhotograph()
{
    workflow.OutName = QString::fromStdString(OutNameFor(toStd(workflow.CurrentFile), jpeg->value() == 101));
    if (workflow.CurrentFile.isEmpty()) {
        services_.setBusyCursor(false);
        return;
    }
    status->setText(QStringLiteral(" Loading... "));
    decodePhotograph(workflow.CurrentFile);

    const QListWidgetItem* entry = ListBox1->item(workflow.FileIndex);
    const QString shown = QFileInfo(entry ? entry->text() : workflow.CurrentFile).fileName();
    status->setText(QStringLiteral(" Showing ") + shown + QStringLiteral(" [") + QString::number(workflow.FileIndex + 1) +
                    QStringLiteral(" of ") + QString::number(ListBox1->count()) + QLatin1Char(']'));

    Button3->setEnabled(true);
    if (Image1.Picture.Empty()) {
        showEmptyPhotograph();
    } else {
        const Bitmap24& photo = Image1.Picture.Bitmap();
        workflow.PhotoPresent = true;
        workflow.PhotoPreview.setSize(289, 216);
        stretchDraw(photo, workflow.PhotoPreview);
        img_right->bitmap() = workflow.PhotoPreview;
        img_right->pictureChanged();
        img_left->bitmap() = img_right->bitmap();
        img_left->pictureChanged();

        const int w = Image1.Width;
        const int h = Image1.Height;
        const QString size = QString::number(w) + QLatin1Char('x') + QString::number(h);
        const QString ratio = ratioText(w, h);
        Label2->setText(QStringLiteral(" Original Image (") + size + QStringLiteral(" pixels) [1:") + ratio + QLatin1Char(']'));
        Label5->setText(QStringLiteral(" Processed Image (") + size + QStringLiteral(" pixels) [1:") + ratio + QLatin1Char(']'));
        // Only a load that left no photograph took Save away; the open
        // hotspot panel keeps it disabled until the panel closes.
        if (mask.MaskLoaded && Panel4->isHidden())
            Button2->setEnabled(true);
    }
    if (workflow.FirstMaskPending == 1 && !workflow.MaskFile.isEmpty())
        LoadMask();
    if (mask.MaskLoaded && workflow.PhotoPresent) {
        UpdateMaskRatioLabel();
        brightnessChange();
    } else {
        refreshBeforeAfter(); // the preview pass does it otherwise
    }
    if (Form2 && Form2->isVisible())
        showexif();
    services_.setBusyCursor(false);
}
