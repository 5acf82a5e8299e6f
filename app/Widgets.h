// SPDX-License-Identifier: GPL-3.0-or-later
// Small Qt widgets the main window is built from: a picture control over a
// Bitmap24, an edit box with an attached caption, a pair of up-down arrows
// and a clickable label.
#pragma once

#include "Bitmap24.h"

#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>

class QToolButton;

namespace lumivane {

// A picture control showing a Bitmap24. With `stretch` the picture is scaled
// to fill the whole control (nearest neighbour, aspect ratio not kept); with
// `transparent` white pixels are not drawn, so what lies below shows through.
class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget* parent = nullptr);

    // The picture's bitmap; call pictureChanged() after changing it.
    Bitmap24& bitmap() { return picture_; }
    const Bitmap24& bitmap() const { return picture_; }
    void pictureChanged();

    void setStretch(bool on) { stretch_ = on; }
    void setTransparent(bool on) { transparent_ = on; }

    // The image shown, at the control's size (for tests and screenshots).
    const QImage& shownImage() const { return shown_; }

signals:
    void clicked();
    void mouseMoved(int x, int y);

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;

private:
    Bitmap24 picture_;
    QImage shown_;
    bool stretch_ = false;
    bool transparent_ = false;
};

// A label that reports clicks.
// A one-line caption that stays readable in the room it has: when its text
// is wider than the free width at the label's font, it is painted with a
// smaller font (down to kMinimumPixelSize) and, should that still not do,
// elided in the middle. The text itself is never changed.
class TFitLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    static constexpr int kMinimumPixelSize = 9;
    // The width the text may take, centred on the label; 0 means the
    // label's own width inside its frame.
    void setFreeWidth(int width);
    int freeWidth() const { return freeWidth_ > 0 ? freeWidth_ : contentsRect().width(); }
    // The font the text is painted with and the text as painted.
    QFont fittedFont() const;
    QString paintedText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int freeWidth_ = 0;
};

class TClickLabel : public TFitLabel {
    Q_OBJECT
public:
    using TFitLabel::TFitLabel;
signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// A one-line edit box with a caption label placed left or right of it,
// 3 pixels away.
class TLabeledEdit : public QLineEdit {
    Q_OBJECT
public:
    enum class LabelSide { Left, Right };
    TLabeledEdit(QWidget* parent, const QString& caption, LabelSide side);
    QLabel* EditLabel() const { return label_; }
    void placeAt(int left, int top, int width, int height);

protected:
    void changeEvent(QEvent* event) override;

private:
    QLabel* label_;
    LabelSide side_;
};

// A pair of arrow buttons stepping an integer position inside a range,
// without wrapping. Each click moves the position by one and emits
// clicked(up), where `up` is true for the arrow that raises the position
// (the upper arrow of a vertical pair, the right arrow of a horizontal one).
class TUpDown : public QWidget {
    Q_OBJECT
public:
    TUpDown(QWidget* parent, Qt::Orientation orientation, int minimum, int maximum, int position);
    int Position() const { return position_; }
    // Sets the position without running the click handlers.
    void setPosition(int position);
    QToolButton* raiseButton() const { return raise_; }
    QToolButton* lowerButton() const { return lower_; }

signals:
    void clicked(bool up);

protected:
    void resizeEvent(QResizeEvent*) override;

private:
    void step(bool up);

    QToolButton* raise_;
    QToolButton* lower_;
    int minimum_;
    int maximum_;
    int position_;
};

// Converts a Bitmap24 to a QImage (deep copy).
QImage toQImage(const Bitmap24& bitmap);

} // namespace lumivane
