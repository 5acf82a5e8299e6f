// SPDX-License-Identifier: GPL-3.0-or-later
// The large before/after window, opened by a click on the processed preview
// and kept up to date with every change of the photograph, mask or settings.
#include "Unit1.h"

#include "BeforeAfterForm.h"
#include "ReducedView.h"
#include "ShownView.h"


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
        if (f.photos().PhotoPresent && !photo.empty()) {
            // The same photograph, mask, offset, damping, targets and crop
            // as the full-size save.
            bool cropValid = true;
            CorrectionSetup setup = f.CurrentSetup(&cropValid);
            if (!f.mask().MaskLoaded || setup.mask->width() != photo.width() || setup.mask->height() != photo.height())
                setup.mask = nullptr;
            input = BeforeAfterInputOf(photo, setup, cropValid);
            // The file's orientation is read once for each photograph shown.
            const std::string& file = f.photos().SourceFile;
            if (file != orientationFile_) {
                orientation_ = PhotoOrientation(file).exif;
                orientationFile_ = file;
            }
            input.orientation = orientation_;
        }
        BeforeAfter->setInput(input);
    } catch (const std::exception& e) {
        status->setText(QStringLiteral(" Before / after: ") + QString::fromUtf8(e.what()));
    } catch (...) {
    }
}
