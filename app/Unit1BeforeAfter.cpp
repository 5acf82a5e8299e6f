// The large before/after window, opened by a click on the processed preview
// and kept up to date with every change of the photograph, mask or settings.
#include "Unit1.h"

#include "BeforeAfterForm.h"
#include "CorrectionKernel.h"
#include "ReducedView.h"


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
        const Workflow& f = flow_;
        const Bitmap24& photo = f.PhotoFull();
        if (f.workflow.PhotoPresent && !photo.empty()) {
            input.photo = &photo;
            // The same photograph, mask, offset, damping and targets as
            // the full-size save.
            if (f.mask.MaskLoaded && f.MaskFull().width() == photo.width() &&
                f.MaskFull().height() == photo.height()) {
                input.maskFull = &f.MaskFull();
                input.region = FullSizeRegion(f.OffsetX, f.OffsetY, photo.width(), photo.height());
                input.damping = f.correction.Damping;
                input.targets = TargetsFor(f.mask.HotspotR, f.mask.HotspotG, f.mask.HotspotB, f.adjust.Brightness);
            }
            try {
                input.crop = ParseCropMargins(f.adjust.Left, f.adjust.Top, f.adjust.Right, f.adjust.Bottom);
                input.cropValid = true;
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
