// SPDX-License-Identifier: GPL-3.0-or-later
// THyperLabel: a text label that behaves like a web link. It changes colour
// while the pointer is over it or a mouse button is held on it, shows a hand
// cursor, and on a release over it asks the desktop to open its URL.
#pragma once

#include <QColor>
#include <QLabel>
#include <QString>

namespace lumivane {

class PlatformServices;

class THyperLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QColor HyperColour READ HyperColour WRITE setHyperColour)
    Q_PROPERTY(QColor PressedColour READ PressedColour WRITE setPressedColour)
    Q_PROPERTY(QString URL READ URL WRITE setURL)

public:
    // Navy, underlined, hand cursor; blue under the pointer, red while pressed.
    explicit THyperLabel(QWidget* parent = nullptr);
    explicit THyperLabel(const QString& text, QWidget* parent = nullptr);

    QColor NormalColour() const { return FNormalColour; }
    QColor HyperColour() const { return FHyperColour; }
    void setHyperColour(const QColor& colour) { FHyperColour = colour; }
    QColor PressedColour() const { return FPressedColour; }
    void setPressedColour(const QColor& colour) { FPressedColour = colour; }
    QString URL() const { return FURL; }
    void setURL(const QString& url) { FURL = url; }
    bool Pressed() const { return FPressed; }
    bool MouseInside() const { return FMouseInside; }

    // The font colour: the palette's WindowText colour.
    QColor FontColour() const;
    void setFontColour(const QColor& colour);

    // Where addresses are opened. Without one the label uses Qt's desktop
    // services. The label does not own it.
    void setPlatformServices(PlatformServices* services) { FServices = services; }

signals:
    void clicked();
    // The desktop found no program to open the URL.
    void openFailed(const QString& url);

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void PointerEnters();
    void PointerLeaves();
    PlatformServices& Services();

    // Fields in the order the control declares them.
    QColor FNormalColour;
    QColor FHyperColour;
    QColor FPressedColour;
    QString FURL;
    bool FPressed = false;
    bool FMouseInside = false;

    PlatformServices* FServices = nullptr;
};

} // namespace lumivane
