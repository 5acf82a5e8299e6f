// SPDX-License-Identifier: GPL-3.0-or-later
// The mask thumbnail's context menu: "Choose Mask Folder...", "No Mask
// Folder", "Mask from lens profile" with the folder's fallback to lens
// profiles, and the correction method with the exact method's colour options
// (the adjustment panel has no room left for them); "smooth mask" with the
// mask check's verdict in the adjustment panel (in its free space below the
// rotation label).
#include "Unit1.h"

#include "PlatformServices.h"

#include <QAction>
#include <QCheckBox>
#include <QMenu>

using namespace lumivane;

void TForm1::setUpMaskFolder()
{
    MaskFolderMenu = new QMenu(this);
    ChooseMaskFolderItem = MaskFolderMenu->addAction(QStringLiteral("Choose Mask Folder..."));
    NoMaskFolderItem = MaskFolderMenu->addAction(QStringLiteral("No Mask Folder"));
    Image3->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Image3, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { MaskFolderMenu->popup(Image3->mapToGlobal(at)); });
    connect(ChooseMaskFolderItem, &QAction::triggered, this, [this] { guarded([this] { chooseMaskFolder(); }); });
    connect(NoMaskFolderItem, &QAction::triggered, this, [this] { guarded([this] { noMaskFolder(); }); });

    MaskFolderMenu->addSeparator();
    LensProfileItem = MaskFolderMenu->addAction(QStringLiteral("Mask from lens profile"));
    ProfileFallbackItem = MaskFolderMenu->addAction(QStringLiteral("Lens profile when no mask matches"));
    ProfileFallbackItem->setCheckable(true);
    connect(LensProfileItem, &QAction::triggered, this, [this] { guarded([this] { maskFromLensProfile(); }); });
    connect(ProfileFallbackItem, &QAction::triggered, this, [this] { guarded([this] { profileFallbackClick(); }); });

    MaskFolderMenu->addSeparator();
    AdditiveItem = MaskFolderMenu->addAction(QStringLiteral("Additive correction"));
    ExactItem = MaskFolderMenu->addAction(QStringLiteral("Exact correction"));
    FalloffAndColourItem = MaskFolderMenu->addAction(QStringLiteral("Fall-off and colour"));
    FalloffOnlyItem = MaskFolderMenu->addAction(QStringLiteral("Fall-off only"));
    ColourOnlyItem = MaskFolderMenu->addAction(QStringLiteral("Colour only"));
    // The colour options belong to the exact method: set in below it.
    for (QAction* option : {FalloffAndColourItem, FalloffOnlyItem, ColourOnlyItem})
        option->setText(QStringLiteral("      ") + option->text());
    const struct {
        QAction* item;
        CorrectionMode mode;
    } modes[] = {
        {AdditiveItem, {CorrectionMethod::Additive, ColourOption::FalloffAndColour}},
        {ExactItem, {CorrectionMethod::Exact, ColourOption::FalloffAndColour}},
        {FalloffAndColourItem, {CorrectionMethod::Exact, ColourOption::FalloffAndColour}},
        {FalloffOnlyItem, {CorrectionMethod::Exact, ColourOption::FalloffOnly}},
        {ColourOnlyItem, {CorrectionMethod::Exact, ColourOption::ColourOnly}},
    };
    for (const auto& m : modes) {
        m.item->setCheckable(true);
        const bool methodOnly = m.item == ExactItem || m.item == AdditiveItem;
        connect(m.item, &QAction::triggered, this, [this, mode = m.mode, methodOnly] {
            guarded([this, mode, methodOnly] {
                // "Exact correction" keeps the colour option chosen before.
                CorrectionMode chosen = mode;
                if (methodOnly)
                    chosen.colour = flow_.adjust().Mode.colour;
                chooseMode(chosen);
            });
        });
    }

    SmoothMaskBox = new QCheckBox(QStringLiteral("Smooth mask"), Panel4);
    SmoothMaskBox->setGeometry(327, 140, 88, 16);
    SmoothMaskBox->setToolTip(QStringLiteral(" Blur the mask to remove dust and grain; its fall-off stays "));
    connect(SmoothMaskBox, &QCheckBox::clicked, this, [this] { guarded([this] { smoothMaskClick(); }); });
    MaskCheckLabel = new QLabel(Panel4);
    MaskCheckLabel->setGeometry(330, 157, 85, 14);
    // Both fit the space beside the picture in a small font, as the
    // hotspot levels above them do.
    QFont small = SmoothMaskBox->font();
    small.setPixelSize(10);
    SmoothMaskBox->setFont(small);
    MaskCheckLabel->setFont(small);
}

void TForm1::showMaskFolderState()
{
    const Workflow& f = flow_;
    NoMaskFolderItem->setEnabled(f.MaskMatchingOn());
    ChooseMaskFolderItem->setEnabled(f.LoadEnabled());
    LensProfileItem->setEnabled(f.LoadEnabled() && f.GroupsEnabled() && f.photos().PhotoPresent);
    ProfileFallbackItem->setChecked(f.maskSettings().profileFallback);
    ProfileFallbackItem->setEnabled(f.GroupsEnabled());
    const CorrectionMode& mode = f.adjust().Mode;
    const bool exact = mode.method == CorrectionMethod::Exact;
    AdditiveItem->setChecked(!exact);
    ExactItem->setChecked(exact);
    FalloffAndColourItem->setChecked(exact && mode.colour == ColourOption::FalloffAndColour);
    FalloffOnlyItem->setChecked(exact && mode.colour == ColourOption::FalloffOnly);
    ColourOnlyItem->setChecked(exact && mode.colour == ColourOption::ColourOnly);
    for (QAction* item : {AdditiveItem, ExactItem, FalloffAndColourItem, FalloffOnlyItem, ColourOnlyItem})
        item->setEnabled(f.GroupsEnabled());
    if (SmoothMaskBox->isChecked() != f.maskSettings().smooth)
        SmoothMaskBox->setChecked(f.maskSettings().smooth);
    SmoothMaskBox->setEnabled(f.AdjustmentsEnabled());
    MaskCheckLabel->setText(QString::fromStdString(f.texts().MaskCheck));
    MaskCheckLabel->setToolTip(QString::fromStdString(f.texts().MaskCheckHint));
    SetTextColour(MaskCheckLabel, f.texts().MaskCheckWarning ? QColor(255, 0, 0) : QColor(0, 0, 0));
}

void TForm1::chooseMaskFolder()
{
    const ShowState show{*this};
    readAdjustments();
    const QString folder = services_.pickFolder(this, QStringLiteral(" Choose Mask Folder"),
                                                QString::fromStdString(flow_.maskSettings().folder), false);
    if (folder.isEmpty())
        return;
    flow_.SetMaskFolder(folder.toStdString());
    refreshExif();
}

void TForm1::noMaskFolder()
{
    const ShowState show{*this};
    flow_.SetMaskFolder(std::string());
}

void TForm1::maskFromLensProfile()
{
    const ShowState show{*this};
    readAdjustments();
    flow_.UseLensProfile();
    refreshExif();
}

void TForm1::profileFallbackClick()
{
    const ShowState show{*this};
    readAdjustments();
    flow_.SetProfileFallback(ProfileFallbackItem->isChecked());
    refreshExif();
}

void TForm1::chooseMode(CorrectionMode mode)
{
    const ShowState show{*this};
    readAdjustments();
    flow_.SetMode(mode);
}

void TForm1::smoothMaskClick()
{
    const ShowState show{*this};
    readAdjustments();
    flow_.SetSmoothMask(SmoothMaskBox->isChecked());
    refreshExif();
}
