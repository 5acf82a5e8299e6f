// The large before/after window, opened by a click on the processed preview
// and kept up to date with every change of the photograph, mask or settings.
#include "Unit1.h"

#include "BeforeAfterForm.h"
#include "CorrectionKernel.h"
#include "ReducedView.h"

#include <algorithm>
#include <climits>

using namespace lumivane;

void TForm1::setUpBeforeAfter()
{
    img_right->setToolTip(QStringLiteral(" Click to compare before and after in a large view "));
    img_right->setCursor(Qt::PointingHandCursor);
    connect(img_right, &TImage::clicked, this, [this] { guarded([this] { img_rightClick(); }); });
}

void TForm1::img_rightClick()
{
    if (!BeforeAfter)
        BeforeAfter = new TBeforeAfterForm(this);
    refreshBeforeAfter();
    BeforeAfter->show();
    BeforeAfter->raise();
    BeforeAfter->activateWindow();
}

void TForm1::refreshBeforeAfter() noexcept
{
    if (!BeforeAfter)
        return;
    // Runs at the end of every preview pass, also one that failed: nothing
    // may escape from here.
    try {
        BeforeAfterInput input;
        const Bitmap24& photo = PhotoFull();
        if (workflow.PhotoPresent && !photo.empty()) {
            input.photo = &photo;
            // The same photograph, mask, offset, damping and targets as
            // the full-size save.
            if (mask.MaskLoaded && MaskFull().width() == photo.width() &&
                MaskFull().height() == photo.height()) {
                input.maskFull = &MaskFull();
                input.region = FullSizeRegion(Image4Left(), Image4Top(), photo.width(), photo.height());
                input.damping = correction.Damping;
                input.targets = TargetsFor(mask.HotspotR, mask.HotspotG, mask.HotspotB, brightness->value());
            }
            try {
                long long margins[4];
                int i = 0;
                for (const TLabeledEdit* edit : {left, top, right, bottom})
                    margins[i++] = ParseCropField(edit->text().toStdString());
                input.cropValid = std::all_of(margins, margins + 4, [](long long m) { return m <= INT_MAX; });
                if (input.cropValid)
                    input.crop = CropMargins{int(margins[0]), int(margins[1]), int(margins[2]), int(margins[3])};
            } catch (const std::exception&) {
                input.cropValid = false; // a pasted text that is not a number
            }
        }
        BeforeAfter->setInput(input);
    } catch (const std::exception& e) {
        status->setText(QStringLiteral(" Before / after: ") + QString::fromUtf8(e.what()));
    } catch (...) {
    }
}
