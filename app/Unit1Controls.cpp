// SPDX-License-Identifier: GPL-3.0-or-later
// Showing the workflow's state: every control's enabled state, caption,
// colour, position and picture.
#include "Unit1.h"

#include "Unit2.h"

#include <QFrame>
#include <QSignalBlocker>

using namespace lumivane;

namespace {

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

void setText(QLabel* label, const std::string& s)
{
    const QString wanted = text(s);
    if (label->text() != wanted)
        label->setText(wanted);
}

// The boost slider's hint in the additive method.
const QString kBoostHint = QStringLiteral(" Adjust vignetting reduction algorithm strength ");

} // namespace

// Only the active and inactive groups are set: a disabled control keeps the
// style's disabled text colour, so it still looks disabled.
void SetTextColour(QWidget* w, const QColor& colour)
{
    QPalette p = w->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
        p.setColor(group, QPalette::WindowText, colour);
    w->setPalette(p);
}

namespace {

void setTextColour(QWidget* w, bool warning)
{
    SetTextColour(w, warning ? QColor(255, 0, 0) : QColor(0, 0, 0));
}

void setShown(QWidget* w, bool shown)
{
    if (shown && w->isHidden()) {
        w->show();
        w->raise();
    } else if (!shown && !w->isHidden()) {
        w->hide();
    }
}

// Positions the workflow sets (the stored ones, applied with the first mask)
// are shown with the scroll bar's signals blocked: the workflow has already
// run the preview pass for them, and the change handlers are for the user's
// moves, which they pass on to the workflow.
void setPosition(QScrollBar* bar, int position)
{
    const QSignalBlocker quiet(bar);
    bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
}

void showPicture(TImage* image, const Bitmap24& picture, unsigned revision, unsigned& shown)
{
    if (revision == shown)
        return;
    image->bitmap() = picture;
    image->pictureChanged();
    shown = revision;
}

} // namespace

void TForm1::updateControls()
{
    const Workflow& f = flow_;
    const WorkflowTexts& t = f.texts();

    // What may be used now.
    ImageButton1->setEnabled(f.PreviousEnabled());
    ImageButton2->setEnabled(f.NextEnabled());
    Button1->setEnabled(f.LoadEnabled());
    Button3->setEnabled(f.LoadEnabled());
    Button2->setEnabled(f.SaveEnabled());
    for (QWidget* w : std::initializer_list<QWidget*>{brightness, jpeg, Label1, Label6, left, right, top, bottom,
                                                      SpeedButton1, UpDown1, UpDown2, Button4})
        w->setEnabled(f.AdjustmentsEnabled());
    // The exact method has no boost: its slider is shown disabled, its hint
    // says why.
    strength->setEnabled(f.BoostEnabled());
    Label10->setEnabled(f.BoostEnabled());
    const bool exact = f.adjust().Mode.method == CorrectionMethod::Exact;
    strength->setToolTip(exact ? QString::fromUtf8(kNoBoostHint) : kBoostHint);
    BitBtn3->setEnabled(f.session().FreeOffered);
    for (QWidget* w : std::initializer_list<QWidget*>{GroupBox4, GroupBox5, GroupBox3, GroupBox6, Label2})
        w->setEnabled(f.GroupsEnabled());

    // Captions and texts.
    // The status line changes when the workflow says something new.
    if (t.StatusRevision != shownStatus_) {
        status->setText(text(t.Status));
        shownStatus_ = t.StatusRevision;
    }
    Label2->setText(text(t.OriginalCaption));
    Label5->setText(text(t.ProcessedCaption));
    GroupBox6->setTitle(text(t.MaskCaption));
    setTextColour(GroupBox6, t.MaskRatioWarning);
    setText(Label4, t.MaskLabel);
    Label4->setToolTip(text(t.MaskLabelHint));
    setText(Label1, t.BrightnessText);
    setText(Label10, t.BoostText);
    setText(Label6, f.QualityShown());
    setTextColour(Label6, t.QualityWarning && !f.session().SaveImagesTiff);
    Button2->setText(text(t.SaveCaption));
    Image4->setToolTip(text(t.PhotoHint));
    Image3->setToolTip(text(t.AngleHint));
    setText(Label8, t.PanelLevels[0]);
    setText(Label9, t.PanelLevels[1]);
    setText(Label11, t.PanelLevels[2]);
    setText(Label12, t.PanelLevels[3]);
    setText(Label13, t.PanelAngle);
    setText(Panel6, t.CoverText);
    setShown(Panel6, t.CoverVisible);
    setShown(Panel4, f.session().PanelShown);
    ProgressBar1->setMaximum(t.ProgressMaximum);
    ProgressBar1->setValue(t.ProgressValue);
    setText(Label14, t.ProgressText);
    setShown(Panel8, f.session().ProgressShown);
    showMaskFolderState();
    showSaveFormatState();

    // Slider positions (the stored ones arrive with the first mask) and the
    // mask's offset.
    setPosition(brightness, f.adjust().Brightness);
    setPosition(strength, f.adjust().Strength);
    setPosition(jpeg, f.adjust().Quality);
    Image4->move(2 + f.session().OffsetX, 2 + f.session().OffsetY);
    Image3->move(f.session().ThumbLeft, f.session().ThumbTop);
    UpDown1->setPosition(f.session().UpDownVertical);
    UpDown2->setPosition(f.session().UpDownHorizontal);

    // The list mirrors the workflow's.
    if (ListBox1->count() != int(f.photos().Files.size()) ||
        [&] {
            for (int i = 0; i < ListBox1->count(); ++i)
                if (ListBox1->item(i)->text() != text(f.photos().Files[std::size_t(i)]))
                    return true;
            return false;
        }()) {
        ListBox1->clear();
        for (const std::string& file : f.photos().Files)
            ListBox1->addItem(text(file));
    }

    // Pictures, copied only when they changed.
    const WorkflowPictures& p = f.pictures();
    showPicture(img_left, p.Original, p.OriginalRevision, shownOriginal_);
    if (p.ProcessedRevision != shownProcessed_) {
        showPicture(img_right, p.Processed, p.ProcessedRevision, shownProcessed_);
        refreshBeforeAfter();
    }
    showPicture(Image3, p.Thumbnail, p.ThumbnailRevision, shownThumbnail_);
    showPicture(Image4, p.Overlay, p.OverlayRevision, shownOverlay_);
    showPicture(Image2, p.Panel, p.PanelRevision, shownPanel_);
}

void TForm1::readAdjustments()
{
    flow_.SetSliders(brightness->value(), strength->value());
    flow_.SetCrop(left->text().toStdString(), top->text().toStdString(), right->text().toStdString(),
                  bottom->text().toStdString());
}

void TForm1::refreshExif()
{
    if (Form2 && Form2->isVisible())
        showexif();
}
