// SPDX-License-Identifier: GPL-3.0-or-later
#include "Unit2.h"

#include <QFrame>
#include <QHeaderView>
#include <QPushButton>
#include <QResizeEvent>
#include <QStyle>
#include <QTreeWidget>
#include <algorithm>

namespace {

// Rows whose values decide the vignetting: a mask shot with another maker,
// camera, aperture or focal length than the photograph removes the wrong
// fall-off. Exposure time and ISO do not change it.
bool decidesVignetting(int row)
{
    return row == 2 || row == 3 || row == 10 || row == 18;
}

} // namespace

const QStringList& TForm2::Captions()
{
    static const QStringList captions = {
        QStringLiteral("Filename: "),        QStringLiteral("Description: "),        QStringLiteral("Manufacturer: "),
        QStringLiteral("Camera: "),          QStringLiteral("Software: "),           QStringLiteral("Orientation: "),
        QStringLiteral("Date Taken: "),      QStringLiteral("Exposure: "),           QStringLiteral("Exposure Mode: "),
        QStringLiteral("Exposure Program: "), QStringLiteral("F-Number: "),          QStringLiteral("Metering Method: "),
        QStringLiteral("Flash: "),           QStringLiteral("ISO speed: "),          QStringLiteral("EXIF Image width: "),
        QStringLiteral("EXIF Image height: "), QStringLiteral("X resolution: "),     QStringLiteral("Y resolution: "),
        QStringLiteral("Focal Length: ")};
    return captions;
}

TForm2::TForm2(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral(" EXIF Information"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setModal(false);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    setFont(font);
    resize(488, 383);
    move(274, 274);

    Panel1 = new QFrame(this);
    Panel1->setGeometry(0, 0, 488, 340);
    ListView1 = new QTreeWidget(Panel1);
    ListView1->setGeometry(0, 0, 488, 340);
    ListView1->setRootIsDecorated(false);
    ListView1->setColumnCount(3);
    ListView1->setHeaderLabels({QStringLiteral("Field"), QStringLiteral("Image"), QStringLiteral("Mask")});
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setSelectionMode(QAbstractItemView::NoSelection);
    ListView1->header()->setSectionsClickable(false);
    ListView1->header()->setMinimumSectionSize(100);
    ListView1->setColumnWidth(0, 100);
    ListView1->setUniformRowHeights(true);

    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton), QStringLiteral("&Close"), this);
    BitBtn1->setGeometry(208, 351, 75, 25);
    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });

    QStringList dashes;
    for (int i = 0; i < kRowCount; ++i)
        dashes << QStringLiteral("-");
    setRows(dashes, dashes);
}

void TForm2::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    if (!Panel1 || !ListView1 || !BitBtn1)
        return; // a resize while the constructor is still building
    // Distances of the design size 488 x 383: the panel ends 43 pixels
    // above the bottom, the button starts 32 pixels above it.
    const int panelHeight = std::max(0, height() - 43);
    Panel1->setGeometry(0, 0, width(), panelHeight);
    ListView1->setGeometry(0, 0, width(), panelHeight);
    BitBtn1->move(208 + (width() - 488) / 2, height() - 32);
}

void TForm2::BitBtn1Click()
{
    hide();
}

void TForm2::setRows(const QStringList& imageValues, const QStringList& maskValues)
{
    ListView1->setUpdatesEnabled(false);
    ListView1->clear();
    for (int row = 0; row < kRowCount; ++row) {
        auto* item = new QTreeWidgetItem(ListView1);
        const QString image = row < imageValues.size() ? imageValues.at(row) : QString();
        const QString maskText = row < maskValues.size() ? maskValues.at(row) : QString();
        item->setText(0, Captions().at(row));
        item->setText(1, image);
        item->setText(2, maskText);
        const QColor background = (row % 2 == 0) ? QColor(0xFF, 0xFF, 0xFF) : QColor(0xF5, 0xF5, 0xF5);
        for (int c = 0; c < 3; ++c)
            item->setBackground(c, background);
        const bool bothPresent = !image.isEmpty() && image != QLatin1String("-") && !maskText.isEmpty() &&
                                 maskText != QLatin1String("-");
        if (decidesVignetting(row) && bothPresent && image != maskText) {
            item->setForeground(1, QColor(255, 0, 0));
            item->setForeground(2, QColor(255, 0, 0));
            item->setData(0, Qt::UserRole, true);
        }
    }
    // Every column fits its texts; "Field" is never narrower than 100.
    for (int c = 0; c < 3; ++c)
        ListView1->resizeColumnToContents(c);
    if (ListView1->columnWidth(0) < 100)
        ListView1->setColumnWidth(0, 100);
    ListView1->setUpdatesEnabled(true);
}

QString TForm2::cellText(int row, int column) const
{
    const QTreeWidgetItem* item = ListView1->topLevelItem(row);
    return item ? item->text(column) : QString();
}

bool TForm2::rowMarked(int row) const
{
    const QTreeWidgetItem* item = ListView1->topLevelItem(row);
    return item && item->data(0, Qt::UserRole).toBool();
}

QColor TForm2::rowColour(int row) const
{
    const QTreeWidgetItem* item = ListView1->topLevelItem(row);
    return item ? item->background(0).color() : QColor();
}
