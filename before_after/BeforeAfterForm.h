// SPDX-License-Identifier: GPL-3.0-or-later
// The large before/after window: the photograph as a viewer shows it
// (turned by its EXIF orientation), fitted to the window or zoomed to 1:1 and
// beyond and panned, left of a draggable divider unprocessed and right of it
// processed, the crop drawn as a frame, and below it the fall-off from the
// centre of the output frame to its corners for the photograph before and
// after the correction and for the mask.
#pragma once

#include "ReducedView.h"
#include "ShownView.h"

#include <QImage>
#include <QWidget>

class QLabel;

namespace lumivane {

// The picture with the divider. Shows the picture given (owned elsewhere);
// the mouse wheel and drags away from the divider ask the window to zoom
// and pan.
class BeforeAfterPicture : public QWidget {
    Q_OBJECT
public:
    explicit BeforeAfterPicture(QWidget* parent = nullptr);

    void setPicture(const ShownPicture* picture);
    // Where the divider stands, 0 (all processed) .. 1 (all unprocessed),
    // as a fraction of the picture's width.
    double divider() const { return divider_; }
    void setDivider(double fraction);
    // The rectangle the picture occupies in the widget (logical pixels).
    QRectF pictureRect() const;
    // The widget's size in device pixels: the size the view is laid out in.
    QSize devicePixelSize() const;
    // Whether a drag away from the divider pans (the zoomed photograph is
    // larger than the view).
    void setPannable(bool pannable);

    QSize sizeHint() const override { return QSize(900, 560); }

signals:
    void resized();
    // `steps` wheel notches (positive: towards the user's screen, zoom in)
    // at `at`, in device pixels.
    void wheelZoom(int steps, QPointF at);
    // A drag moved the photograph by `by` device pixels.
    void panned(QPointF by);

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    enum class Drag { None, Divider, Pan };
    void dragTo(double x);
    bool nearDivider(const QPointF& at) const;
    void showCursor(const QPointF& at);

    const ShownPicture* picture_ = nullptr;
    double divider_ = 0.5;
    bool pannable_ = false;
    Drag drag_ = Drag::None;
    QPointF lastPan_;
    int wheelRest_ = 0;
};

// The three fall-off curves, in stops against the centre.
class FalloffPlot : public QWidget {
    Q_OBJECT
public:
    explicit FalloffPlot(QWidget* parent = nullptr);
    void setView(const ReducedView* view);
    // The stops shown at the bottom and top of the plot.
    double bottomEv() const { return bottomEv_; }
    double topEv() const { return topEv_; }

    QSize sizeHint() const override { return QSize(900, 220); }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    void chooseRange();

    const ReducedView* view_ = nullptr;
    double bottomEv_ = -2;
    double topEv_ = 0.5;
};

} // namespace lumivane

class TBeforeAfterForm : public QWidget {
    Q_OBJECT
public:
    explicit TBeforeAfterForm(QWidget* parent = nullptr);

    // Takes the photograph, mask and settings to show. The pictures and
    // curves are remade at once while the window is shown, else when it is
    // shown next. The bitmaps pointed to must stay alive while the window
    // may be shown.
    void setInput(const lumivane::BeforeAfterInput& input);

    // The whole frame in stored orientation at the fitted size: its profiles
    // are the curves, whatever the zoom.
    const lumivane::ReducedView& view() const { return view_; }
    // What the picture paints: the photograph as shown, zoomed and panned.
    const lumivane::ShownPicture& shown() const { return shown_; }
    const lumivane::Viewport& viewport() const { return viewport_; }
    lumivane::BeforeAfterPicture* picture() const { return picture_; }
    lumivane::FalloffPlot* plot() const { return plot_; }
    QLabel* cornersLabel() const { return corners_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void recompute();
    // Remakes the picture only (zoom and pan): the curves stay.
    void refreshPicture();
    void zoomed();

    lumivane::BeforeAfterInput input_;
    lumivane::ReducedView view_;
    lumivane::ReducedView zoomedView_;
    lumivane::ShownPicture shown_;
    lumivane::Viewport viewport_;
    bool stale_ = true;
    lumivane::BeforeAfterPicture* picture_;
    lumivane::FalloffPlot* plot_;
    QLabel* corners_;
};
