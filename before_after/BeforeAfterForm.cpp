// SPDX-License-Identifier: GPL-3.0-or-later
#include "BeforeAfterForm.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineF>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace lumivane {

namespace {

const QColor kBackdrop(48, 48, 48);
const QColor kBeforeColour(110, 110, 110);
const QColor kAfterColour(31, 111, 209);
const QColor kMaskColour(230, 140, 20);

// A picture held by the view, shown without copying (the view outlives
// every paint).
// Columns [from, to) of `bitmap`, without a copy.
QImage imageOf(const Bitmap24& bitmap, int from, int to, qreal dpr)
{
    if (to <= from)
        return QImage();
    QImage image(bitmap.data() + 3 * std::size_t(from), to - from, bitmap.height(), qsizetype(bitmap.rowBytes()),
                 QImage::Format_BGR888);
    image.setDevicePixelRatio(dpr);
    return image;
}

// A caption on a dark translucent box, readable on any photograph.
void caption(QPainter& p, const QPointF& at, const QString& text, bool alignRight)
{
    const QFontMetricsF fm(p.font());
    const qreal w = fm.horizontalAdvance(text) + 12;
    const qreal h = fm.height() + 6;
    const QRectF box(alignRight ? at.x() - w : at.x(), at.y(), w, h);
    p.fillRect(box, QColor(0, 0, 0, 150));
    p.setPen(Qt::white);
    p.drawText(box, Qt::AlignCenter, text);
}

} // namespace

BeforeAfterPicture::BeforeAfterPicture(QWidget* parent) : QWidget(parent)
{
    setCursor(Qt::SplitHCursor);
    setMouseTracking(true);
    setMinimumSize(160, 100);
    setToolTip(QStringLiteral(" Drag the line between the unprocessed (left) and the processed (right) photograph. "
                              "Wheel, + and - zoom, 1 shows 1:1, 0 fits; drag elsewhere to move a zoomed photograph "));
}

void BeforeAfterPicture::setPicture(const ShownPicture* picture)
{
    picture_ = picture;
    update();
}

void BeforeAfterPicture::setDivider(double fraction)
{
    divider_ = std::clamp(fraction, 0.0, 1.0);
    update();
}

void BeforeAfterPicture::setPannable(bool pannable)
{
    pannable_ = pannable;
}

QSize BeforeAfterPicture::devicePixelSize() const
{
    const qreal dpr = devicePixelRatioF();
    return QSize(int(std::floor(width() * dpr)), int(std::floor(height() * dpr)));
}

QRectF BeforeAfterPicture::pictureRect() const
{
    if (!picture_ || picture_->empty())
        return QRectF(rect());
    // On whole device pixels, so each picture pixel covers exactly one
    // screen pixel.
    const qreal dpr = devicePixelRatioF();
    return QRectF(QPointF(picture_->left / dpr, picture_->top / dpr),
                  QSizeF(picture_->before.width() / dpr, picture_->before.height() / dpr));
}

void BeforeAfterPicture::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), kBackdrop);
    if (!picture_ || picture_->empty()) {
        p.setPen(Qt::lightGray);
        p.drawText(rect(), Qt::AlignCenter, QStringLiteral("No photograph is open."));
        return;
    }
    const qreal dpr = devicePixelRatioF();
    const QRectF r = pictureRect();
    const qreal split = r.left() + divider_ * r.width();
    // Each side is drawn from its own columns only: converting the pixels
    // for the screen is most of a paint, and no pixel is converted twice.
    const int w = picture_->before.width();
    const int cut = std::clamp(int(std::lround((split - r.left()) * dpr)), 0, w);
    p.drawImage(r.topLeft(), imageOf(picture_->before, 0, cut, dpr));
    p.drawImage(QPointF(r.left() + cut / dpr, r.top()), imageOf(picture_->after, cut, w, dpr));

    p.setRenderHint(QPainter::Antialiasing);
    if (picture_->hasFrame && picture_->cropped) {
        // What the crop cuts away is dimmed and framed.
        const QRectF frame(r.left() + picture_->frameLeft / dpr, r.top() + picture_->frameTop / dpr,
                           (picture_->frameRight - picture_->frameLeft) / dpr,
                           (picture_->frameBottom - picture_->frameTop) / dpr);
        p.save();
        p.setClipRect(r);
        QPainterPath outside;
        outside.setFillRule(Qt::OddEvenFill);
        outside.addRect(r);
        outside.addRect(frame.intersected(r));
        p.fillPath(outside, QColor(0, 0, 0, 110));
        p.setPen(QPen(QColor(255, 220, 60), 1.5, Qt::DashLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(frame);
        p.restore();
    }

    // The divider: a white line with a dark edge and a round grip.
    p.setPen(QPen(QColor(0, 0, 0, 160), 4));
    p.drawLine(QPointF(split, r.top()), QPointF(split, r.bottom()));
    p.setPen(QPen(Qt::white, 2));
    p.drawLine(QPointF(split, r.top()), QPointF(split, r.bottom()));
    const QPointF grip(split, r.center().y());
    p.setPen(QPen(QColor(0, 0, 0, 160), 1.5));
    p.setBrush(Qt::white);
    p.drawEllipse(grip, 13, 13);
    p.setBrush(QColor(60, 60, 60));
    p.setPen(Qt::NoPen);
    for (const int side : {-1, 1}) {
        const QPointF tip = grip + QPointF(side * 9, 0);
        const QPointF base = grip + QPointF(side * 3, 0);
        p.drawPolygon(QPolygonF({tip, base + QPointF(0, -5), base + QPointF(0, 5)}));
    }

    p.setRenderHint(QPainter::Antialiasing, false);
    const QPointF topLeft = r.topLeft() + QPointF(8, 8);
    const QPointF topRight = r.topRight() + QPointF(-8, 8);
    caption(p, topLeft, QStringLiteral("Before"), false);
    caption(p, topRight, QStringLiteral("After"), true);
}

void BeforeAfterPicture::resizeEvent(QResizeEvent*)
{
    emit resized();
}

void BeforeAfterPicture::dragTo(double x)
{
    const QRectF r = pictureRect();
    if (r.width() > 0)
        setDivider((x - r.left()) / r.width());
}

bool BeforeAfterPicture::nearDivider(const QPointF& at) const
{
    const QRectF r = pictureRect();
    const qreal split = r.left() + divider_ * r.width();
    const QPointF grip(split, r.center().y());
    return std::abs(at.x() - split) <= 8 || QLineF(at, grip).length() <= 14;
}

void BeforeAfterPicture::showCursor(const QPointF& at)
{
    if (drag_ == Drag::Pan)
        setCursor(Qt::ClosedHandCursor);
    else if (drag_ == Drag::Divider || !pannable_ || nearDivider(at))
        setCursor(Qt::SplitHCursor);
    else
        setCursor(Qt::OpenHandCursor);
}

void BeforeAfterPicture::mousePressEvent(QMouseEvent* event)
{
    const QPointF at = event->position();
    // The middle button always pans; the left one moves the divider, unless
    // it grips a zoomed photograph away from the divider. Fitted, a press
    // anywhere puts the divider there.
    if (event->button() == Qt::MiddleButton ||
        (event->button() == Qt::LeftButton && pannable_ && !nearDivider(at))) {
        drag_ = Drag::Pan;
        lastPan_ = at;
    } else if (event->button() == Qt::LeftButton) {
        drag_ = Drag::Divider;
        dragTo(at.x());
    }
    showCursor(at);
}

void BeforeAfterPicture::mouseMoveEvent(QMouseEvent* event)
{
    const QPointF at = event->position();
    if (drag_ == Drag::Divider && (event->buttons() & Qt::LeftButton)) {
        dragTo(at.x());
    } else if (drag_ == Drag::Pan && (event->buttons() & (Qt::LeftButton | Qt::MiddleButton))) {
        const QPointF by = (at - lastPan_) * devicePixelRatioF();
        lastPan_ = at;
        emit panned(by);
    } else if (drag_ == Drag::None && !pannable_ && (event->buttons() & Qt::LeftButton)) {
        // A drag begun elsewhere (a press sent before the picture was shown).
        dragTo(at.x());
    }
    showCursor(at);
}

void BeforeAfterPicture::mouseReleaseEvent(QMouseEvent* event)
{
    drag_ = Drag::None;
    showCursor(event->position());
}

void BeforeAfterPicture::wheelEvent(QWheelEvent* event)
{
    // Notches of 120; a fine-grained wheel or touchpad adds up to them.
    wheelRest_ += event->angleDelta().y();
    const int steps = wheelRest_ / 120;
    wheelRest_ -= steps * 120;
    if (steps != 0)
        emit wheelZoom(steps, event->position() * devicePixelRatioF());
    event->accept();
}

FalloffPlot::FalloffPlot(QWidget* parent) : QWidget(parent)
{
    setMinimumHeight(170);
    setToolTip(QStringLiteral(" Brightness from the centre of the frame to its corners, in stops against the centre. "
                              "The boost is right when the \"after\" curve is flat. "));
}

void FalloffPlot::setView(const ReducedView* view)
{
    view_ = view;
    update();
}

void FalloffPlot::chooseRange()
{
    double lo = -1.0, hi = 0.25;
    auto take = [&](const FalloffProfile& profile) {
        for (const double v : profile.ev)
            if (std::isfinite(v)) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
    };
    take(view_->beforeProfile);
    if (view_->hasMask) {
        take(view_->afterProfile);
        take(view_->maskProfile);
    }
    // Half stops, and no more than 12 stops down: a black corner would
    // otherwise squash every other curve against the top.
    bottomEv_ = std::max(std::floor(lo * 2) / 2, -12.0);
    topEv_ = std::min(std::max(std::ceil(hi * 2) / 2, 0.5), 12.0);
}

void FalloffPlot::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Base));
    p.setPen(palette().color(QPalette::Text));
    if (!view_ || view_->empty()) {
        p.drawText(rect(), Qt::AlignCenter, QStringLiteral("No photograph is open."));
        return;
    }
    if (!view_->hasFrame || view_->beforeProfile.empty()) {
        p.drawText(rect(), Qt::AlignCenter, QStringLiteral("The crop margins leave no pixels to measure."));
        return;
    }
    chooseRange();
    const QFontMetricsF fm(font());
    const qreal line = fm.height();
    const QRectF plot(fm.horizontalAdvance(QStringLiteral("-12.5 EV")) + 12, line / 2 + 4,
                      width() - fm.horizontalAdvance(QStringLiteral("-12.5 EV")) - 12 - fm.horizontalAdvance(QStringLiteral("100 %")) / 2 - 6,
                      height() - line / 2 - 4 - 2 * line - 10);
    if (plot.width() < 20 || plot.height() < 20)
        return;
    auto xAt = [&](double percent) { return plot.left() + percent / 100 * plot.width(); };
    auto yAt = [&](double ev) {
        const double clamped = std::clamp(ev, bottomEv_, topEv_);
        return plot.bottom() - (clamped - bottomEv_) / (topEv_ - bottomEv_) * plot.height();
    };

    // Grid: stops at a step that keeps the labels apart, quarters across.
    const QColor grid(220, 220, 220);
    const QColor text = palette().color(QPalette::Text);
    double step = 4.0;
    for (const double s : {0.25, 0.5, 1.0, 2.0})
        if ((topEv_ - bottomEv_) / s * (line + 4) <= plot.height()) {
            step = s;
            break;
        }
    for (double v = std::ceil(bottomEv_ / step) * step; v <= topEv_ + 1e-9; v += step) {
        const qreal y = yAt(v);
        p.setPen(QPen(std::abs(v) < 1e-9 ? QColor(120, 120, 120) : grid, std::abs(v) < 1e-9 ? 1.5 : 1));
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        p.setPen(text);
        const QString label = (v > 1e-9 ? QStringLiteral("+") : QString()) +
                              QString::number(std::abs(v) < 1e-9 ? 0.0 : v, 'g', 3) + QStringLiteral(" EV");
        p.drawText(QRectF(0, y - line / 2, plot.left() - 6, line), Qt::AlignRight | Qt::AlignVCenter, label);
    }
    for (int percent = 0; percent <= 100; percent += 25) {
        const qreal x = xAt(percent);
        p.setPen(grid);
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        p.setPen(text);
        p.drawText(QRectF(x - 40, plot.bottom() + 2, 80, line), Qt::AlignHCenter | Qt::AlignTop,
                   QString::number(percent) + QStringLiteral(" %"));
    }
    p.drawText(QRectF(plot.left(), plot.bottom() + line + 4, plot.width(), line), Qt::AlignHCenter | Qt::AlignTop,
               QStringLiteral("distance from the centre of the output frame (100 % = its corners)"));
    p.setPen(QPen(QColor(120, 120, 120), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(plot);

    p.setRenderHint(QPainter::Antialiasing);
    p.setClipRect(plot.adjusted(-2, -2, 2, 2));
    auto curve = [&](const FalloffProfile& profile, const QPen& pen) {
        p.setPen(pen);
        QPolygonF run;
        for (int k = 0; k <= kFalloffRings; ++k) {
            const double v = k < kFalloffRings ? profile.ev[std::size_t(k)] : std::nan("");
            if (std::isfinite(v)) {
                run << QPointF(xAt((k + 0.5) * 100.0 / kFalloffRings), yAt(v));
                continue;
            }
            // An empty ring (or the end) breaks the line.
            if (run.size() > 1)
                p.drawPolyline(run);
            else if (run.size() == 1)
                p.drawPoint(run.front());
            run.clear();
        }
    };
    struct Entry {
        QString name;
        QPen pen;
    };
    std::vector<Entry> legend;
    const QPen maskPen(kMaskColour, 2, Qt::DashLine);
    const QPen beforePen(kBeforeColour, 2);
    const QPen afterPen(kAfterColour, 3);
    if (view_->hasMask)
        curve(view_->maskProfile, maskPen);
    curve(view_->beforeProfile, beforePen);
    if (view_->hasMask)
        curve(view_->afterProfile, afterPen);
    legend.push_back({QStringLiteral("before"), beforePen});
    if (view_->hasMask) {
        legend.push_back({QStringLiteral("after"), afterPen});
        legend.push_back({QStringLiteral("mask"), maskPen});
    }

    // Legend in the lower left corner, where curves that fall towards the
    // corners leave room.
    p.setClipping(false);
    qreal y = plot.bottom() - legend.size() * (line + 2) - 6;
    const qreal x = plot.left() + 10;
    qreal widest = 0;
    for (const Entry& e : legend)
        widest = std::max(widest, fm.horizontalAdvance(e.name));
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRectF(x - 4, y - 3, 36 + widest + 14, legend.size() * (line + 2) + 6), QColor(255, 255, 255, 220));
    p.setRenderHint(QPainter::Antialiasing);
    for (const Entry& e : legend) {
        p.setPen(e.pen);
        p.drawLine(QPointF(x, y + line / 2), QPointF(x + 28, y + line / 2));
        p.setPen(text);
        p.drawText(QRectF(x + 36, y, widest + 8, line), Qt::AlignLeft | Qt::AlignVCenter, e.name);
        y += line + 2;
    }
}

} // namespace lumivane

using namespace lumivane;

TBeforeAfterForm::TBeforeAfterForm(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(QStringLiteral("Before / after"));
    picture_ = new BeforeAfterPicture(this);
    plot_ = new FalloffPlot(this);
    corners_ = new QLabel(this);
    corners_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(6);
    layout->addWidget(picture_, 1);
    layout->addWidget(plot_, 0);
    layout->addWidget(corners_, 0);
    picture_->setPicture(&shown_);
    plot_->setView(&view_);

    QSize size(1200, 800);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QSize room = screen->availableGeometry().size() * 0.9;
        size = size.boundedTo(room).expandedTo(QSize(400, 360));
    }
    resize(size);
    connect(picture_, &BeforeAfterPicture::resized, this, [this] {
        if (isVisible())
            recompute();
        else
            stale_ = true;
    });
    connect(picture_, &BeforeAfterPicture::wheelZoom, this, [this](int steps, QPointF at) {
        for (int i = 0; i < std::abs(steps); ++i) {
            if (steps > 0)
                viewport_.ZoomIn(at.x(), at.y());
            else
                viewport_.ZoomOut(at.x(), at.y());
        }
        zoomed();
    });
    connect(picture_, &BeforeAfterPicture::panned, this, [this](QPointF by) {
        viewport_.PanBy(by.x(), by.y());
        zoomed();
    });
}

void TBeforeAfterForm::setInput(const BeforeAfterInput& input)
{
    input_ = input;
    if (isVisible())
        recompute();
    else
        stale_ = true;
}

void TBeforeAfterForm::recompute()
{
    stale_ = false;
    try {
        const QSize room = picture_->devicePixelSize();
        const int w = input_.photo ? input_.photo->width() : 0;
        const int h = input_.photo ? input_.photo->height() : 0;
        const Orientation o(input_.orientation);
        const Size2 shownSize = ShownSize(w, h, o);
        viewport_.SetSizes(shownSize.width, shownSize.height, room.width(), room.height());
        // The whole frame at the fitted size: the curves, and the picture
        // while it is fitted.
        const Size2 fit = FitInside(shownSize.width, shownSize.height, room.width(), room.height());
        const Size2 stored = o.Transposed() ? Size2{fit.height, fit.width} : fit;
        BuildReducedView(input_, stored.width, stored.height, view_);
        BuildShownPicture(input_, viewport_, view_, zoomedView_, shown_);
        if (view_.empty())
            corners_->setText(QStringLiteral("No photograph is open."));
        else if (!view_.hasFrame)
            corners_->setText(QStringLiteral("The crop margins leave no pixels to measure."));
        else if (!view_.hasMask)
            corners_->setText(QString::fromStdString(CornerSummary(view_.beforeProfile, nullptr, nullptr)) +
                              QStringLiteral(" (no mask loaded)"));
        else
            corners_->setText(QString::fromStdString(
                CornerSummary(view_.beforeProfile, &view_.afterProfile, &view_.maskProfile)));
    } catch (const std::exception& e) {
        // Nothing is shown rather than a half-made picture.
        BuildReducedView(BeforeAfterInput{}, 1, 1, view_);
        shown_ = ShownPicture{};
        corners_->setText(QStringLiteral("Cannot show the photograph: ") + QString::fromUtf8(e.what()));
    }
    picture_->setPannable(viewport_.CanPan());
    picture_->update();
    plot_->update();
}

void TBeforeAfterForm::refreshPicture()
{
    try {
        // Only the viewport moved: what stays in view is kept.
        BuildShownPicture(input_, viewport_, view_, zoomedView_, shown_, true);
    } catch (const std::exception& e) {
        shown_ = ShownPicture{};
        corners_->setText(QStringLiteral("Cannot show the photograph: ") + QString::fromUtf8(e.what()));
    }
    picture_->setPannable(viewport_.CanPan());
    picture_->update();
}

void TBeforeAfterForm::zoomed()
{
    if (stale_)
        recompute();
    else
        refreshPicture();
}

void TBeforeAfterForm::keyPressEvent(QKeyEvent* event)
{
    const QSize room = picture_->devicePixelSize();
    const double cx = room.width() / 2.0, cy = room.height() / 2.0;
    switch (event->key()) {
    case Qt::Key_Escape:
        close();
        return;
    case Qt::Key_Plus:
    case Qt::Key_Equal: // + without Shift on many keyboards
        viewport_.ZoomIn(cx, cy);
        break;
    case Qt::Key_Minus:
        viewport_.ZoomOut(cx, cy);
        break;
    case Qt::Key_1:
        viewport_.ZoomTo(1.0, cx, cy);
        break;
    case Qt::Key_0:
        viewport_.Fit();
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    zoomed();
}

void TBeforeAfterForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (stale_)
        recompute();
}
