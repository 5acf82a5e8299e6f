// SPDX-License-Identifier: GPL-3.0-or-later
#include "Widgets.h"

#include <QMouseEvent>
#include <algorithm>
#include <QPainter>
#include <QToolButton>

namespace lumivane {

QImage toQImage(const Bitmap24& bitmap)
{
    if (bitmap.empty())
        return QImage();
    // The bitmap's rows have no padding; give Qt the stride explicitly.
    return QImage(bitmap.data(), bitmap.width(), bitmap.height(), qsizetype(bitmap.rowBytes()),
                  QImage::Format_BGR888)
        .copy();
}

TImage::TImage(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_NoSystemBackground, false);
}

void TImage::pictureChanged()
{
    if (picture_.empty() || width() <= 0 || height() <= 0) {
        shown_ = QImage();
        update();
        return;
    }
    // Scale once with the program's own nearest-neighbour stretch, so what is
    // shown is exactly what a stretch to the control's size gives.
    if (stretch_ && (picture_.width() != width() || picture_.height() != height())) {
        Bitmap24 scaled(width(), height());
        stretchDraw(picture_, scaled);
        shown_ = toQImage(scaled);
    } else {
        shown_ = toQImage(picture_);
    }
    if (transparent_) {
        shown_ = shown_.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < shown_.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(shown_.scanLine(y));
            for (int x = 0; x < shown_.width(); ++x)
                if ((line[x] & 0xFFFFFF) == 0xFFFFFF)
                    line[x] = 0;
        }
    }
    update();
}

void TImage::paintEvent(QPaintEvent*)
{
    if (shown_.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(0, 0, shown_);
}

void TImage::resizeEvent(QResizeEvent*)
{
    pictureChanged();
}

void TImage::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

void TImage::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    emit mouseMoved(p.x(), p.y());
}

void TFitLabel::setFreeWidth(int width)
{
    freeWidth_ = width;
    update();
}

QFont TFitLabel::fittedFont() const
{
    QFont f = font();
    const int room = freeWidth();
    int pixels = QFontInfo(f).pixelSize();
    while (QFontMetrics(f).horizontalAdvance(text()) > room && pixels > kMinimumPixelSize)
        f.setPixelSize(--pixels);
    return f;
}

QString TFitLabel::paintedText() const
{
    return QFontMetrics(fittedFont()).elidedText(text(), Qt::ElideMiddle, freeWidth());
}

void TFitLabel::paintEvent(QPaintEvent* event)
{
    if (QFontMetrics(font()).horizontalAdvance(text()) <= freeWidth()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    drawFrame(&painter);
    painter.setFont(fittedFont());
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(contentsRect(), int(alignment()), paintedText());
}

void TClickLabel::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

TLabeledEdit::TLabeledEdit(QWidget* parent, const QString& caption, LabelSide side)
    : QLineEdit(parent), label_(new QLabel(caption, parent)), side_(side)
{
    label_->setBuddy(this);
}

void TLabeledEdit::placeAt(int left, int top, int width, int height)
{
    setGeometry(left, top, width, height);
    label_->adjustSize();
    const int labelTop = top + (height - label_->height()) / 2;
    if (side_ == LabelSide::Left)
        label_->move(left - 3 - label_->width(), labelTop);
    else
        label_->move(left + width + 3, labelTop);
}

void TLabeledEdit::changeEvent(QEvent* event)
{
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        label_->setEnabled(isEnabled());
}

TUpDown::TUpDown(QWidget* parent, Qt::Orientation orientation, int minimum, int maximum, int position)
    : QWidget(parent), raise_(new QToolButton(this)), lower_(new QToolButton(this)), minimum_(minimum),
      maximum_(maximum), position_(position)
{
    const bool vertical = orientation == Qt::Vertical;
    raise_->setArrowType(vertical ? Qt::UpArrow : Qt::RightArrow);
    lower_->setArrowType(vertical ? Qt::DownArrow : Qt::LeftArrow);
    raise_->setFocusPolicy(Qt::NoFocus);
    lower_->setFocusPolicy(Qt::NoFocus);
    raise_->setAutoRepeat(true);
    lower_->setAutoRepeat(true);
    connect(raise_, &QToolButton::clicked, this, [this] { step(true); });
    connect(lower_, &QToolButton::clicked, this, [this] { step(false); });
}

void TUpDown::resizeEvent(QResizeEvent*)
{
    if (raise_->arrowType() == Qt::UpArrow) {
        const int half = height() / 2;
        raise_->setGeometry(0, 0, width(), half);
        lower_->setGeometry(0, half, width(), height() - half);
    } else {
        const int half = width() / 2;
        lower_->setGeometry(0, 0, half, height());
        raise_->setGeometry(half, 0, width() - half, height());
    }
}

void TUpDown::setPosition(int position)
{
    position_ = std::clamp(position, minimum_, maximum_);
}

void TUpDown::step(bool up)
{
    const int next = std::clamp(position_ + (up ? 1 : -1), minimum_, maximum_);
    if (next == position_)
        return;
    position_ = next;
    emit clicked(up);
}

} // namespace lumivane
