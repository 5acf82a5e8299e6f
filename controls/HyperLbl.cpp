// SPDX-License-Identifier: GPL-3.0-or-later
#include "HyperLbl.h"

#include "PlatformServices.h"

#include <QMouseEvent>

namespace lumivane {

THyperLabel::THyperLabel(QWidget* parent)
    : THyperLabel(QString(), parent)
{
}

THyperLabel::THyperLabel(const QString& text, QWidget* parent)
    : QLabel(text, parent)
{
    FHyperColour = QColor(0, 0, 255);
    setFontColour(QColor(0, 0, 128));
    FNormalColour = FontColour();
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    FPressedColour = QColor(255, 0, 0);
    setCursor(Qt::PointingHandCursor);
}

QColor THyperLabel::FontColour() const
{
    return palette().color(QPalette::WindowText);
}

void THyperLabel::setFontColour(const QColor& colour)
{
    QPalette changed = palette();
    changed.setColor(QPalette::WindowText, colour);
    setPalette(changed);
}

PlatformServices& THyperLabel::Services()
{
    if (FServices)
        return *FServices;
    static QtPlatformServices desktop;
    return desktop;
}

void THyperLabel::PointerEnters()
{
    FNormalColour = FontColour();
    setFontColour(FPressed ? FPressedColour : FHyperColour);
    FMouseInside = true;
}

void THyperLabel::PointerLeaves()
{
    setFontColour(FNormalColour);
    FMouseInside = false;
}

// Enter and leave are not passed on to QLabel: the label's own handling of
// them has nothing to add.
void THyperLabel::enterEvent(QEnterEvent*)
{
    if (!FMouseInside)
        PointerEnters();
}

void THyperLabel::leaveEvent(QEvent*)
{
    if (FMouseInside)
        PointerLeaves();
}

void THyperLabel::mouseMoveEvent(QMouseEvent* event)
{
    // While a button is held Qt delivers moves here but holds back enter and
    // leave until the release; follow the pointer across the edge ourselves.
    if (FPressed) {
        const bool inside = rect().contains(event->position().toPoint());
        if (inside && !FMouseInside)
            PointerEnters();
        else if (!inside && FMouseInside)
            PointerLeaves();
    }
    QLabel::mouseMoveEvent(event);
}

void THyperLabel::mousePressEvent(QMouseEvent* event)
{
    setFontColour(FPressedColour);
    FPressed = true;
    QLabel::mousePressEvent(event);
    event->accept();
}

void THyperLabel::mouseReleaseEvent(QMouseEvent* event)
{
    // A release away from the label counts as having left it, even when no
    // move told us so.
    if (FMouseInside && !rect().contains(event->position().toPoint()))
        PointerLeaves();
    setFontColour(FMouseInside ? FHyperColour : FNormalColour);
    FPressed = false;
    if (FMouseInside && !FURL.isEmpty() && !Services().openUrl(FURL))
        emit openFailed(FURL);
    QLabel::mouseReleaseEvent(event);
    event->accept();
    if (FMouseInside)
        emit clicked();
}

} // namespace lumivane
