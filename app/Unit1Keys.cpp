// SPDX-License-Identifier: GPL-3.0-or-later
// Keys for people who work fast: each stands for one button of the window,
// works whichever control has the focus, leaves that control as it was and
// does nothing while its button cannot be used. The help link, and F1,
// tell the user where the help page is when no program can open it.
#include "Unit1.h"

#include "PlatformServices.h"

#include <QKeyEvent>
#include <QUrl>

using namespace lumivane;

namespace {

struct WindowKey {
    int key;
    Qt::KeyboardModifiers modifiers;
};

const WindowKey kKeys[] = {
    {Qt::Key_O, Qt::ControlModifier},    {Qt::Key_M, Qt::ControlModifier}, {Qt::Key_S, Qt::ControlModifier},
    {Qt::Key_Left, Qt::ControlModifier}, {Qt::Key_Right, Qt::ControlModifier}, {Qt::Key_F2, Qt::NoModifier},
    {Qt::Key_F3, Qt::NoModifier},        {Qt::Key_F4, Qt::NoModifier},     {Qt::Key_F1, Qt::NoModifier},
};

// The hint with its key after the text the control had: " Next Image " gives
// " Next Image (Ctrl+Right) "; a control without a hint gets the key alone.
void appendKey(QWidget* control, const char* key)
{
    const QString hint = control->toolTip();
    const QString name = QString::fromLatin1(key);
    if (hint.trimmed().isEmpty())
        control->setToolTip(QLatin1Char(' ') + name + QLatin1Char(' '));
    else
        control->setToolTip(hint + (hint.endsWith(QLatin1Char(' ')) ? QString() : QStringLiteral(" ")) +
                            QLatin1Char('(') + name + QStringLiteral(") "));
}

} // namespace

QString HelpMissingMessage(const QString& url)
{
    const QUrl address(url);
    const QString where = address.isLocalFile() ? address.toLocalFile() : url;
    return QStringLiteral("No program to open the help page was found (the package xdg-utils and a web browser "
                          "open it).\nThe help page is:\n") +
           where;
}

void TForm1::setUpKeys()
{
    appendKey(BitBtn5, "Ctrl+O");
    appendKey(Button1, "Ctrl+O");
    appendKey(Button3, "Ctrl+M");
    appendKey(Button2, "Ctrl+S");
    appendKey(ImageButton1, "Ctrl+Left");
    appendKey(ImageButton2, "Ctrl+Right");
    appendKey(ImageButton4, "F2");
    appendKey(ImageButton3, "F3");
    appendKey(img_right, "F4");
    appendKey(HyperLabel1, "F1");
    connect(HyperLabel1, &THyperLabel::openFailed, this,
            [this](const QString& url) { services_.showMessage(this, HelpMissingMessage(url)); });
    // Every control passes its key presses through the window first, so a
    // key of the window never reaches an edit or a slider.
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);
}

bool TForm1::windowKey(QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers =
        event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
    const WindowKey* found = nullptr;
    for (const WindowKey& k : kKeys)
        if (k.key == event->key() && k.modifiers == modifiers)
            found = &k;
    if (!found)
        return false;
    // A button the user cannot reach by the mouse is not reached by its key
    // either: disabled, or (the mask tools) covered.
    auto usable = [this](QWidget* w) { return w->isEnabled() && w->isVisibleTo(this); };
    switch (found->key) {
    case Qt::Key_O:
        if (usable(BitBtn5))
            BitBtn5->click();
        break;
    case Qt::Key_M:
        if (usable(Button3))
            Button3->click();
        break;
    case Qt::Key_S:
        if (usable(Button2))
            Button2->click();
        break;
    case Qt::Key_Left:
    case Qt::Key_Right: {
        TImageButton* nav = found->key == Qt::Key_Left ? ImageButton1 : ImageButton2;
        if (usable(nav))
            guarded([this, nav] { Button1Click(nav); });
        break;
    }
    case Qt::Key_F2:
        if (usable(ImageButton4) && Panel6->isHidden())
            guarded([this] { Button6Click(); });
        break;
    case Qt::Key_F3:
        if (usable(ImageButton3))
            guarded([this] { BitBtn7Click(); });
        break;
    case Qt::Key_F4:
        guarded([this] { img_rightClick(); });
        break;
    case Qt::Key_F1:
        openHelp();
        break;
    default:
        break;
    }
    return true;
}

void TForm1::openHelp()
{
    const QString url = HyperLabel1->URL();
    if (!services_.openUrl(url))
        services_.showMessage(this, HelpMissingMessage(url));
}
