// SPDX-License-Identifier: GPL-3.0-or-later
#include "ImageButton4.h"

#include "HelpPage.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDynamicPropertyChangeEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QVariant>
#include <utility>

namespace lumivane {

namespace {

constexpr char kGroupIndexProperty[] = "GroupIndex";

} // namespace

bool PictureUsable(const QImage& picture)
{
    return !picture.isNull() && picture.width() > 0 && picture.height() > 0;
}

QImage TransparentCopy(const QImage& picture)
{
    if (!PictureUsable(picture))
        return QImage();
    QImage keyed = picture.convertToFormat(QImage::Format_ARGB32);
    const QRgb transparent = keyed.pixel(0, keyed.height() - 1);
    for (int y = 0; y < keyed.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(keyed.scanLine(y));
        for (int x = 0; x < keyed.width(); ++x) {
            if (line[x] == transparent)
                line[x] = 0;
        }
    }
    return keyed;
}

QRegion BuildShapeRegion(const QImage& picture)
{
    if (!PictureUsable(picture))
        return QRegion();
    const QImage keyed = TransparentCopy(picture);
    const int width = keyed.width();
    const int height = keyed.height();

    // Drawn on two different backgrounds, a pixel the picture leaves
    // transparent keeps each background; any pixel the picture paints,
    // its own pure red or pure blue included, changes at least one of them.
    auto drawnOn = [&](QColor background) {
        QImage canvas(width, height, QImage::Format_RGB32);
        canvas.fill(background);
        QPainter painter(&canvas);
        painter.drawImage(0, 0, keyed);
        return canvas;
    };
    const QImage onRed = drawnOn(QColor(255, 0, 0));
    const QImage onBlue = drawnOn(QColor(0, 0, 255));
    const QRgb pureRed = qRgb(255, 0, 0);
    const QRgb pureBlue = qRgb(0, 0, 255);

    // One rectangle per run of covered pixels in a row: the same pixels as
    // one square per pixel, with far fewer rectangles to unite.
    QRegion shape;
    for (int y = 0; y < height; ++y) {
        const auto* red = reinterpret_cast<const QRgb*>(onRed.constScanLine(y));
        const auto* blue = reinterpret_cast<const QRgb*>(onBlue.constScanLine(y));
        int runStart = -1;
        for (int x = 0; x <= width; ++x) {
            const bool covered = x < width && !((red[x] & 0xFFFFFF) == (pureRed & 0xFFFFFF) &&
                                                (blue[x] & 0xFFFFFF) == (pureBlue & 0xFFFFFF));
            if (covered && runStart < 0) {
                runStart = x;
            } else if (!covered && runStart >= 0) {
                shape += QRect(runStart, y, x - runStart, 1);
                runStart = -1;
            }
        }
    }
    return shape;
}

int ActionGroupIndex(const QAction* action)
{
    if (!action)
        return 0;
    return action->property(kGroupIndexProperty).toInt();
}

void SetActionGroupIndex(QAction* action, int groupIndex)
{
    if (action)
        action->setProperty(kGroupIndexProperty, groupIndex);
}

// ---------------------------------------------------------------- action link

TImageButtonActionLink::TImageButtonActionLink(TImageButton* client)
    : FClient(client)
{
}

void TImageButtonActionLink::setAction(QAction* action)
{
    FAction = action;
    FLastGroupIndex = ActionGroupIndex(action);
}

bool TImageButtonActionLink::IsCheckedLinked(bool actionWasChecked) const
{
    return FAction && FClient->FGroupIndex != 0 && FClient->FAllowAllUp &&
           actionWasChecked == FClient->FDown;
}

bool TImageButtonActionLink::IsGroupIndexLinked(int actionGroupIndex) const
{
    return FAction && actionGroupIndex == FClient->FGroupIndex;
}

void TImageButtonActionLink::SetChecked(bool checked)
{
    // Qt reports the change after the fact, so the state before it is the
    // opposite of the new one.
    if (IsCheckedLinked(!checked))
        FClient->setDown(checked);
}

void TImageButtonActionLink::SetGroupIndex(int groupIndex)
{
    const int before = FLastGroupIndex;
    FLastGroupIndex = groupIndex;
    if (before != groupIndex && IsGroupIndexLinked(before))
        FClient->setGroupIndex(groupIndex);
}

// ---------------------------------------------------------------- button

TImageButton::TImageButton(QWidget* parent)
    : QWidget(parent)
    , FActionLink(this)
{
    resize(35, 35);
    // Reached with Tab like any tab stop; a mouse press alone does not focus
    // it, a completed click does (see Click).
    setFocusPolicy(Qt::TabFocus);
    WatchWindow();
}

TImageButton::~TImageButton()
{
    if (FWatchedWindow)
        FWatchedWindow->removeEventFilter(this);
    if (QAction* linked = FActionLink.action())
        linked->removeEventFilter(this);
}

void TImageButton::setPictureAndInvalidateShape(QImage& field, QImage& keyedField, const QImage& picture)
{
    field = picture;
    keyedField = TransparentCopy(picture);
    FShapeState = kShapeOutOfDate;
    RedrawButton();
}

void TImageButton::setPictureDown(const QImage& picture)
{
    setPictureAndInvalidateShape(FPictureDown, FKeyedDown, picture);
}

void TImageButton::setPicture(const QImage& picture)
{
    setPictureAndInvalidateShape(FPicture, FKeyedPicture, picture);
}

void TImageButton::setPictureOver(const QImage& picture)
{
    setPictureAndInvalidateShape(FPictureOver, FKeyedOver, picture);
}

void TImageButton::setPictureDisabled(const QImage& picture)
{
    setPictureAndInvalidateShape(FPictureDisabled, FKeyedDisabled, picture);
}

void TImageButton::setPictureFocused(const QImage& picture)
{
    // The focus overlay is not part of the shape.
    FPictureFocused = picture;
    FKeyedFocused = TransparentCopy(picture);
    RedrawButton();
}

QString TImageButton::Homepage() const
{
    return HelpPageUrl();
}

QColor TImageButton::Color() const
{
    return palette().color(backgroundRole());
}

void TImageButton::setColor(const QColor& colour)
{
    QPalette changed = palette();
    changed.setColor(backgroundRole(), colour);
    setPalette(changed); // the palette change redraws
}

const QImage& TImageButton::ChosenPicture() const
{
    const QImage* chosen = &FPicture;
    if (FDrawState == kHot && PictureUsable(FPictureOver))
        chosen = &FPictureOver;
    if (FDrawState == kPressed && PictureUsable(FPictureDown))
        chosen = &FPictureDown;
    if (!isEnabled() && PictureUsable(FPictureDisabled))
        chosen = &FPictureDisabled;
    return *chosen;
}

void TImageButton::RedrawButton()
{
    if (isHidden() || !parentWidget())
        return;
    if (!PictureUsable(FPicture))
        return;
    const QImage& chosen = ChosenPicture();
    if (FDrawState != FShapeState) {
        FShapeState = FDrawState;
        const QRegion shape = BuildShapeRegion(chosen);
        // An empty shape (a picture of one colour) leaves the widget
        // rectangular rather than invisible.
        if (shape.isEmpty())
            clearMask();
        else
            setMask(shape);
    }
    if (!FPainting) {
        // Qt draws only inside a paint event; repaint() runs one at once.
        repaint();
        return;
    }

    const QImage* keyed = &FKeyedPicture;
    if (&chosen == &FPictureOver)
        keyed = &FKeyedOver;
    else if (&chosen == &FPictureDown)
        keyed = &FKeyedDown;
    else if (&chosen == &FPictureDisabled)
        keyed = &FKeyedDisabled;

    QImage frame(width(), height(), QImage::Format_RGB32);
    frame.fill(Color());
    {
        QPainter painter(&frame);
        painter.drawImage(0, 0, *keyed);
        if (hasFocus() && PictureUsable(FPictureFocused))
            painter.drawImage(0, 0, FKeyedFocused);
    }
    QPainter surface(this);
    surface.drawImage(0, 0, frame);
}

void TImageButton::paintEvent(QPaintEvent*)
{
    FPainting = true;
    RedrawButton();
    FPainting = false;
}

// ---------------------------------------------------------------- latching

void TImageButton::setDown(bool down)
{
    if (FGroupIndex == 0)
        down = false;
    if (down != FDown) {
        // The down button of a group cannot be released by itself.
        if (FDown && !FAllowAllUp)
            return;
        FDown = down;
        SetActionChecked(down);
        NotifyGroup();
    }
    FDrawState = FDown ? kPressed : kNormal;
    RedrawButton();
}

void TImageButton::setGroupIndex(int groupIndex)
{
    if (groupIndex == FGroupIndex)
        return;
    NotifyGroup();
    FGroupIndex = groupIndex;
    if (groupIndex == 0) {
        FDown = false;
        SetActionChecked(false);
        FShapeState = kShapeOutOfDate;
        RedrawButton();
    }
    NotifyGroup();
}

void TImageButton::setAllowAllUp(bool allowAllUp)
{
    if (allowAllUp == FAllowAllUp)
        return;
    FAllowAllUp = allowAllUp;
    NotifyGroup();
}

void TImageButton::setDefault(bool isDefault)
{
    // Enter is matched against Default when the key arrives, so there is no
    // window-wide default button to re-evaluate here.
    FDefault = isDefault;
}

void TImageButton::NotifyGroup()
{
    if (FGroupIndex == 0 || !parentWidget())
        return;
    const QObjectList siblings = parentWidget()->children(); // copy: handlers may not change it, but be safe
    for (QObject* sibling : siblings) {
        if (auto* button = qobject_cast<TImageButton*>(sibling))
            button->ButtonPressed(FGroupIndex, this);
    }
}

void TImageButton::ButtonPressed(int groupIndex, TImageButton* sender)
{
    if (groupIndex != FGroupIndex || sender == this)
        return;
    if (sender->FDown && FDown) {
        FDown = false;
        SetActionChecked(false);
        FDrawState = kNormal;
        RedrawButton();
    }
    // A group shares one AllowAllUp.
    FAllowAllUp = sender->FAllowAllUp;
}

void TImageButton::SetActionChecked(bool checked)
{
    if (QAction* linked = FActionLink.action())
        linked->setChecked(checked);
}

// ---------------------------------------------------------------- click

void TImageButton::Click()
{
    if (!isEnabled())
        return;
    if (FModalResult != 0) {
        if (auto* dialog = qobject_cast<QDialog*>(window())) {
            // Like a modal form, the dialog closes once the click has been
            // handled, and only if no handler reset the result meanwhile.
            const int result = FModalResult;
            dialog->setResult(result);
            QPointer<QDialog> guard(dialog);
            QMetaObject::invokeMethod(
                dialog,
                [guard, result] {
                    if (guard && guard->isVisible() && guard->isModal() && guard->result() == result)
                        guard->done(result);
                },
                Qt::QueuedConnection);
        }
    }
    if (FGroupIndex != 0)
        setDown(FAllowAllUp ? !FDown : true);
    else
        FDrawState = kNormal;
    if (!FInDialogKey)
        setFocus(Qt::OtherFocusReason);
    RedrawButton();

    QPointer<TImageButton> alive(this);
    emit clicked();
    if (!alive)
        return;
    if (QAction* linked = FActionLink.action()) {
        if (linked->isCheckable() && FGroupIndex != 0) {
            // Down already set the action's checked state; trigger() would
            // toggle it a second time, so only announce the trigger.
            emit linked->triggered(linked->isChecked());
        } else {
            linked->trigger();
        }
    }
}

// ---------------------------------------------------------------- pointer

bool TImageButton::PointInShape(const QPoint& pos) const
{
    if (!rect().contains(pos))
        return false;
    const QRegion shape = mask();
    return shape.isEmpty() || shape.contains(pos);
}

void TImageButton::PointerEnters()
{
    FMouseInside = true;
    FDrawState = FDown ? kPressed : kHot;
    RedrawButton();
    emit OnMouseEnter();
    if (onMouseEnterCallback)
        onMouseEnterCallback();
}

void TImageButton::PointerLeaves()
{
    FMouseInside = false;
    if (FDown)
        FDrawState = kPressed;
    else if (FDrawState != kPressed) // a press that leaves keeps the pressed look
        FDrawState = kNormal;
    RedrawButton();
    emit OnMouseLeave();
    if (onMouseLeaveCallback)
        onMouseLeaveCallback();
}

void TImageButton::enterEvent(QEnterEvent*)
{
    if (isEnabled() && !FMouseInside)
        PointerEnters();
}

void TImageButton::leaveEvent(QEvent*)
{
    if (isEnabled() && FMouseInside)
        PointerLeaves();
}

void TImageButton::mouseMoveEvent(QMouseEvent* event)
{
    // While a button is held Qt keeps sending moves here but holds back
    // enter and leave until the release; follow the pointer ourselves so the
    // look changes as it crosses the edge.
    event->accept();
    if (!isEnabled())
        return;
    const bool inside = PointInShape(event->position().toPoint());
    if (inside && !FMouseInside)
        PointerEnters();
    else if (!inside && FMouseInside)
        PointerLeaves();
}

void TImageButton::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    if (!isEnabled())
        return;
    if (event->button() == Qt::LeftButton) {
        FLeftPressArmed = true;
        FDrawState = kPressed;
        RedrawButton();
    }
}

void TImageButton::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (!isEnabled())
        return;
    const QPoint pos = event->position().toPoint();
    const bool inside = PointInShape(pos);
    if (inside != FMouseInside)
        inside ? PointerEnters() : PointerLeaves();

    const bool clickDue = event->button() == Qt::LeftButton && FLeftPressArmed && rect().contains(pos);
    if (event->button() == Qt::LeftButton)
        FLeftPressArmed = false;
    QPointer<TImageButton> alive(this);
    // The click comes before the release handling, so an ungrouped button
    // clicked with the pointer still over it ends in the hot look.
    if (clickDue)
        Click();
    if (!alive)
        return;
    if (!FDown) {
        FDrawState = FMouseInside ? kHot : kNormal;
        RedrawButton();
    }
}

void TImageButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    if (!isEnabled())
        return;
    // The second press of a double click shows the pressed look but is not
    // armed: its release raises no second click.
    emit doubleClicked();
    if (event->button() == Qt::LeftButton) {
        FDrawState = kPressed;
        RedrawButton();
    }
}

void TImageButton::contextMenuEvent(QContextMenuEvent* event)
{
    if (!isEnabled()) {
        event->accept(); // a disabled button swallows the request
        return;
    }
    QWidget::contextMenuEvent(event);
}

// ---------------------------------------------------------------- keyboard

void TImageButton::keyPressEvent(QKeyEvent* event)
{
    if (!isEnabled()) {
        QWidget::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Space:
        event->accept();
        FDrawState = kPressed;
        RedrawButton();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        // Dialog keys travel up to the window, where every button of the
        // window gets its say (see eventFilter).
        event->ignore();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void TImageButton::keyReleaseEvent(QKeyEvent* event)
{
    if (isEnabled() && event->key() == Qt::Key_Space) {
        event->accept();
        // Auto-repeat sends release/press pairs while the key is held; only
        // the real release clicks.
        if (!event->isAutoRepeat())
            Click();
        return;
    }
    QWidget::keyReleaseEvent(event);
}

bool TImageButton::HandleDialogKey(int key)
{
    const bool canFocus = isVisible() && isEnabled() && focusPolicy() != Qt::NoFocus;
    bool handled = false;
    FInDialogKey = true;
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && (hasFocus() || (canFocus && FDefault))) {
        Click();
        handled = true;
    } else if (key == Qt::Key_Escape && canFocus && FCancel) {
        Click();
        handled = true;
    }
    FInDialogKey = false;
    return handled;
}

bool TImageButton::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == FWatchedWindow && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const int code = key->key();
        const bool dialogKey = code == Qt::Key_Return || code == Qt::Key_Enter || code == Qt::Key_Escape;
        if (dialogKey && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            if (HandleDialogKey(code)) {
                key->accept();
                return true;
            }
        }
    } else if (watched == FActionLink.action() && event->type() == QEvent::DynamicPropertyChange) {
        auto* change = static_cast<QDynamicPropertyChangeEvent*>(event);
        if (change->propertyName() == kGroupIndexProperty)
            FActionLink.SetGroupIndex(ActionGroupIndex(FActionLink.action()));
    }
    return QWidget::eventFilter(watched, event);
}

void TImageButton::WatchWindow()
{
    QWidget* top = window();
    if (top == FWatchedWindow)
        return;
    if (FWatchedWindow)
        FWatchedWindow->removeEventFilter(this);
    FWatchedWindow = top;
    if (top)
        top->installEventFilter(this);
}

// ---------------------------------------------------------------- state changes

void TImageButton::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    FShapeState = kShapeOutOfDate;
    RedrawButton();
}

void TImageButton::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    FShapeState = kShapeOutOfDate;
    RedrawButton();
}

void TImageButton::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    switch (event->type()) {
    case QEvent::EnabledChange:
        FShapeState = kShapeOutOfDate;
        RedrawButton();
        break;
    case QEvent::PaletteChange:
        RedrawButton();
        break;
    default:
        break;
    }
}

bool TImageButton::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::ParentChange:
    case QEvent::Show:
        // The window whose Enter and Esc we watch may have changed.
        WatchWindow();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

// ---------------------------------------------------------------- action

void TImageButton::setAction(QAction* action)
{
    if (QAction* old = FActionLink.action()) {
        old->removeEventFilter(this);
        disconnect(old, nullptr, this, nullptr);
    }
    FActionLink.setAction(action);
    if (!action)
        return;
    action->installEventFilter(this);
    connect(action, &QAction::changed, this, [this] { ActionChange(false); });
    connect(action, &QAction::toggled, this, [this](bool checked) { FActionLink.SetChecked(checked); });
    connect(action, &QObject::destroyed, this, [this] { FActionLink.setAction(nullptr); });
    ActionChange(true);
}

void TImageButton::ActionChange(bool checkDefaults)
{
    QAction* linked = FActionLink.action();
    if (!linked)
        return;
    setEnabled(linked->isEnabled());
    setToolTip(linked->toolTip());
    if (parentWidget() && isHidden() == linked->isVisible())
        setVisible(linked->isVisible());
    if (checkDefaults || FGroupIndex == 0)
        setGroupIndex(ActionGroupIndex(linked));
    FActionLink.FLastGroupIndex = ActionGroupIndex(linked);
    RedrawButton();
}

} // namespace lumivane
