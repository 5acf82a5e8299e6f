// SPDX-License-Identifier: GPL-3.0-or-later
// The EXIF information window: eighteen facts of the photograph shown beside
// those of the mask last loaded.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QFrame;
class QPushButton;
class QTreeWidget;

class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);

    static constexpr int kRowCount = 19;
    // The captions of column "Field", in row order.
    static const QStringList& Captions();

    // Rebuilds the list: every row with its caption and the two value
    // texts. `imageValues` and `maskValues` hold one text per row.
    void setRows(const QStringList& imageValues, const QStringList& maskValues);
    QString cellText(int row, int column) const;
    // True when the row's two values are drawn in red because they differ
    // in a fact that decides the vignetting.
    bool rowMarked(int row) const;
    // The background colour of a row (white or light grey, alternating).
    QColor rowColour(int row) const;

    void BitBtn1Click();

protected:
    // Panel1 and the list follow the window on all four sides; "&Close"
    // keeps its distance to the bottom and its place across the width.
    void resizeEvent(QResizeEvent* event) override;

public:
    QFrame* Panel1 = nullptr;
    QTreeWidget* ListView1 = nullptr;
    QPushButton* BitBtn1 = nullptr;
};
