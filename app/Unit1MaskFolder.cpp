// The mask folder: "Choose Mask Folder..." and "No Mask Folder" in the mask
// thumbnail's context menu, and "smooth mask" with the mask check's verdict
// in the adjustment panel (in its free space below the rotation label).
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
    if (SmoothMaskBox->isChecked() != f.maskSettings.smooth)
        SmoothMaskBox->setChecked(f.maskSettings.smooth);
    SmoothMaskBox->setEnabled(f.AdjustmentsEnabled());
    MaskCheckLabel->setText(QString::fromStdString(f.texts.MaskCheck));
    MaskCheckLabel->setToolTip(QString::fromStdString(f.texts.MaskCheckHint));
    SetTextColour(MaskCheckLabel, f.texts.MaskCheckWarning ? QColor(255, 0, 0) : QColor(0, 0, 0));
}

void TForm1::chooseMaskFolder()
{
    const ShowState show{*this};
    readAdjustments();
    const QString folder = services_.pickFolder(this, QStringLiteral(" Choose Mask Folder"),
                                                QString::fromStdString(flow_.maskSettings.folder), false);
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

void TForm1::smoothMaskClick()
{
    const ShowState show{*this};
    readAdjustments();
    flow_.SetSmoothMask(SmoothMaskBox->isChecked());
    refreshExif();
}
