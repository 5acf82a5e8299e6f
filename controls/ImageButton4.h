// SPDX-License-Identifier: GPL-3.0-or-later
// TImageButton: a push button drawn entirely from pictures. One picture gives
// the normal look; optional pictures give the pointer-over, pressed, disabled
// and focused looks. The widget takes the shape of the opaque pixels of the
// picture on show, so its transparent parts are neither drawn nor clickable.
// It can latch in a group (one button of a group down at a time), act as the
// default or cancel button of its window, and follow a QAction.
#pragma once

#include <QImage>
#include <QPointer>
#include <QRegion>
#include <QWidget>
#include <cstdint>
#include <functional>

class QAction;

namespace lumivane {

class TImageButton;

// True when the picture holds a graphic with a non-zero width and height.
bool PictureUsable(const QImage& picture);

// A copy of `picture` in which every pixel of its transparent colour (the
// colour of its bottom-left pixel) is fully transparent. Pictures are always
// drawn through this copy. An unusable picture gives a null image.
QImage TransparentCopy(const QImage& picture);

// The pixels `picture` covers when drawn transparently: drawn once on pure
// red and once on pure blue, a pixel is outside the shape only when it kept
// the background both times (so the picture's own red or blue pixels still
// count). An unusable picture, or one of a single colour, gives an empty
// region.
QRegion BuildShapeRegion(const QImage& picture);

// The group index a QAction carries for TImageButton: its dynamic property
// "GroupIndex" (0 when absent). Qt actions have no such field of their own.
int ActionGroupIndex(const QAction* action);
void SetActionGroupIndex(QAction* action, int groupIndex);

// Keeps a TImageButton in step with its QAction: the action's checked state
// drives `Down` and its group index drives `GroupIndex`, each only while the
// two were in step before the change.
class TImageButtonActionLink {
public:
    explicit TImageButtonActionLink(TImageButton* client);

    TImageButton* client() const { return FClient; }
    QAction* action() const { return FAction; }
    void setAction(QAction* action);

    // The action's checked state before the change equals `Down`, the button
    // has a group and AllowAllUp is set.
    bool IsCheckedLinked(bool actionWasChecked) const;
    // The action's group index before the change equals `GroupIndex`.
    bool IsGroupIndexLinked(int actionGroupIndex) const;
    // Called after the action's checked state changed to `checked`.
    void SetChecked(bool checked);
    // Called after the action's group index changed to `groupIndex`.
    void SetGroupIndex(int groupIndex);

private:
    TImageButton* FClient;
    QPointer<QAction> FAction;
    int FLastGroupIndex = 0;
    friend class TImageButton;
};

class TImageButton : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QImage PictureDown READ PictureDown WRITE setPictureDown)
    Q_PROPERTY(QImage Picture READ Picture WRITE setPicture)
    Q_PROPERTY(QImage PictureOver READ PictureOver WRITE setPictureOver)
    Q_PROPERTY(QImage PictureDisabled READ PictureDisabled WRITE setPictureDisabled)
    Q_PROPERTY(QImage PictureFocused READ PictureFocused WRITE setPictureFocused)
    Q_PROPERTY(int GroupIndex READ GroupIndex WRITE setGroupIndex)
    Q_PROPERTY(bool Down READ Down WRITE setDown)
    Q_PROPERTY(QString Homepage READ Homepage WRITE setHomepage STORED false)
    Q_PROPERTY(bool AllowAllUp READ AllowAllUp WRITE setAllowAllUp)
    Q_PROPERTY(int ModalResult READ ModalResult WRITE setModalResult)
    Q_PROPERTY(bool Cancel READ Cancel WRITE setCancel)
    Q_PROPERTY(bool Default READ Default WRITE setDefault)

public:
    // Draw states.
    static constexpr std::uint8_t kNormal = 0;
    static constexpr std::uint8_t kHot = 1;
    static constexpr std::uint8_t kPressed = 2;
    // ShapeState value meaning "the shape must be rebuilt at the next redraw".
    static constexpr std::uint8_t kShapeOutOfDate = 10;

    explicit TImageButton(QWidget* parent = nullptr);
    ~TImageButton() override;

    const QImage& PictureDown() const { return FPictureDown; }
    const QImage& Picture() const { return FPicture; }
    const QImage& PictureOver() const { return FPictureOver; }
    const QImage& PictureFocused() const { return FPictureFocused; }
    const QImage& PictureDisabled() const { return FPictureDisabled; }
    // Each setter copies the picture; all but setPictureFocused also mark
    // the shape out of date, as the picture on show may have changed.
    void setPictureDown(const QImage& picture);
    void setPicture(const QImage& picture);
    void setPictureOver(const QImage& picture);
    void setPictureFocused(const QImage& picture);
    void setPictureDisabled(const QImage& picture);

    int GroupIndex() const { return FGroupIndex; }
    void setGroupIndex(int groupIndex);
    bool Down() const { return FDown; }
    void setDown(bool down);
    bool AllowAllUp() const { return FAllowAllUp; }
    void setAllowAllUp(bool allowAllUp);
    bool Default() const { return FDefault; }
    void setDefault(bool isDefault);
    bool Cancel() const { return FCancel; }
    void setCancel(bool isCancel) { FCancel = isCancel; }
    int ModalResult() const { return FModalResult; }
    void setModalResult(int modalResult) { FModalResult = modalResult; }

    bool MouseInside() const { return FMouseInside; }
    bool InDialogKey() const { return FInDialogKey; }
    std::uint8_t DrawState() const { return FDrawState; }
    std::uint8_t ShapeState() const { return FShapeState; }

    // Always the address of the program's help page; writing changes nothing.
    QString Homepage() const;
    void setHomepage(const QString&) {}

    // The button's colour: the background it fills before drawing a picture.
    QColor Color() const;
    void setColor(const QColor& colour);

    // Links the button to an action (nullptr unlinks). Clicking the button
    // triggers the action; the action's enabled, visible and tool-tip states,
    // its checked state and its group index are followed.
    void setAction(QAction* action);
    QAction* action() const { return FActionLink.action(); }

    // Rebuilds the shape when it is out of date and draws the current look.
    void RedrawButton();
    // Presses the button as a click does (see Click rules in the .cpp).
    void Click();

    // Optional callbacks, called right after the matching signals.
    std::function<void()> onMouseEnterCallback;
    std::function<void()> onMouseLeaveCallback;

signals:
    void OnMouseEnter();
    void OnMouseLeave();
    void clicked();
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setPictureAndInvalidateShape(QImage& field, QImage& keyedField, const QImage& picture);
    const QImage& ChosenPicture() const;
    void NotifyGroup();
    void ButtonPressed(int groupIndex, TImageButton* sender);
    void ActionChange(bool checkDefaults);
    void SetActionChecked(bool checked);
    bool HandleDialogKey(int key);
    void PointerEnters();
    void PointerLeaves();
    bool PointInShape(const QPoint& pos) const;
    void WatchWindow();

    // Fields in the order the control declares them.
    int FGroupIndex = 0;
    QImage FPictureDown;
    QImage FPicture;
    QImage FPictureOver;
    QImage FPictureFocused;
    QImage FPictureDisabled;
    bool FDown = false;
    bool FAllowAllUp = false;
    bool FDefault = false;
    bool FCancel = false;
    bool FMouseInside = false;
    bool FInDialogKey = false;
    int FModalResult = 0;
    std::uint8_t FDrawState = kNormal;
    std::uint8_t FShapeState = kShapeOutOfDate;

    // Transparent copies of the pictures above, made once per setter call.
    QImage FKeyedDown;
    QImage FKeyedPicture;
    QImage FKeyedOver;
    QImage FKeyedFocused;
    QImage FKeyedDisabled;

    TImageButtonActionLink FActionLink;
    bool FLeftPressArmed = false;    // a left press on the button awaits its release
    bool FPainting = false;          // RedrawButton is running inside paintEvent
    bool FTriggeringAction = false;  // our own trigger must not toggle Down back
    QPointer<QWidget> FWatchedWindow; // top-level window whose Enter/Esc we watch

    friend class TImageButtonActionLink;
};

} // namespace lumivane
