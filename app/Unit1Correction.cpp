// The preview pass: labels from the sliders, preview margins and offset,
// and the correction of the 289 x 216 preview.
#include "Unit1.h"

#include "CorrectionKernel.h"
#include "TextFormat.h"

#include <QLocale>
#include <QScopeGuard>

using namespace lumivane;

void TForm1::brightnessChange()
{
    // The before/after window follows every change, also one that fails
    // below.
    const auto followView = qScopeGuard([this] { refreshBeforeAfter(); });
    const int b = brightness->value();
    const int s = strength->value();
    Label1->setText(QStringLiteral("Brightness: ") + (b - 25 > 0 ? QStringLiteral("+") : QString()) +
                    QString::number(b - 25) + QLatin1Char('%'));
    Label10->setText(QStringLiteral("Vignetting reduction boost: ") + QString::number(s) + QLatin1Char('%'));
    if (!workflow.PhotoPresent || mask.MaskPreview.empty())
        return;

    Bitmap24& preview = workflow.PhotoPreview;
    // The right preview always ends showing PhotoPreview, also when a step
    // below fails; the error then goes on to the caller.
    struct ShowPreview {
        TForm1* form;
        ~ShowPreview()
        {
            form->img_right->bitmap() = form->workflow.PhotoPreview;
            form->img_right->pictureChanged();
        }
    } showPreview{this};

    correction.Damping = DampingForStrength(s);
    const CorrectionTargets targets = TargetsFor(mask.HotspotR, mask.HotspotG, mask.HotspotB, b);
    correction.TargetR = targets.r;
    correction.TargetG = targets.g;
    correction.TargetB = targets.b;

    const int w = Image1.Width;
    const int h = Image1.Height;
    const PreviewMargins margins = PreviewMarginsFor(left->text().toStdString(), right->text().toStdString(),
                                                     top->text().toStdString(), bottom->text().toStdString(), w, h);
    preview = img_left->bitmap();
    const CorrectionRegion region = PreviewRegion(Image4Left(), Image4Top(), margins);

    const CroppedSize cropped = CroppedSizeOf(w, h, cropMargins());
    const QString sizeText = QStringLiteral(" Processed Image (") + QString::number(cropped.width) +
                             QLatin1Char('x') + QString::number(cropped.height) + QStringLiteral(" pixels)");
    if (cropped.height == 0) {
        // The ratio would divide by zero: say what the margins do and show
        // the photograph uncorrected. A width of zero or any negative size
        // still has a ratio ("[1:0]", "[1:-0.5]"); the preview region is
        // then empty on that axis.
        Label5->setText(sizeText);
        status->setText(QStringLiteral(" The crop margins leave no pixels of the ") + QString::number(w) +
                        QLatin1Char('x') + QString::number(h) + QStringLiteral(" photograph."));
        return;
    }
    const char separator = QLocale::system().decimalPoint().at(0).toLatin1();
    Label5->setText(sizeText + QStringLiteral(" [1:") +
                    QString::fromStdString(RatioText(cropped.width, cropped.height, separator)) + QLatin1Char(']'));
    ApplyCorrection(preview, mask.MaskPreview, region, correction.Damping, targets);
}

CropMargins TForm1::cropMargins() const
{
    return ParseCropMargins(left->text().toStdString(), top->text().toStdString(), right->text().toStdString(),
                            bottom->text().toStdString());
}
