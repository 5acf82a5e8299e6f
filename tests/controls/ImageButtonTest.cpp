// SPDX-License-Identifier: GPL-3.0-or-later
// Widget tests of TImageButton on Qt's offscreen platform: the look chosen
// for each state, the window shape, latching groups, keys and the action link.
#include "HelpPage.h"
#include "ImageButton4.h"
#include "LumivaneResources.h"

#include <QAction>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <memory>

using namespace lumivane;

namespace {

const QColor kKey(255, 0, 255);
const QColor kNormalColour(200, 0, 0);
const QColor kOverColour(0, 200, 0);
const QColor kDownColour(0, 0, 200);
const QColor kDisabledColour(100, 100, 100);
const QColor kHostColour(10, 20, 30);

// A 16 x 16 picture on the key colour with one opaque rectangle.
QImage picture(const QColor& colour, const QRect& opaque = QRect(2, 2, 12, 12))
{
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(kKey);
    for (int y = opaque.top(); y <= opaque.bottom(); ++y)
        for (int x = opaque.left(); x <= opaque.right(); ++x)
            image.setPixelColor(x, y, colour);
    return image;
}

// What the button shows at one pixel, read back from the window.
QColor shownAt(QWidget* host, TImageButton* button, QPoint pos = QPoint(5, 5))
{
    const QImage shot = host->grab().toImage();
    return shot.pixelColor(button->mapTo(host, pos));
}

void enter(QWidget* widget)
{
    const QPointF pos(widget->width() / 2.0, widget->height() / 2.0);
    QEnterEvent event(pos, pos, widget->mapToGlobal(pos));
    QCoreApplication::sendEvent(widget, &event);
}

void leave(QWidget* widget)
{
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(widget, &event);
}

// A shown window of a known colour holding buttons at fixed places.
struct Host {
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    Host()
    {
        window->resize(120, 80);
        QPalette palette = window->palette();
        palette.setColor(QPalette::Window, kHostColour);
        window->setPalette(palette);
        window->setAutoFillBackground(true);
    }
    TImageButton* button(int left, int top, int size = 20)
    {
        auto* b = new TImageButton(window.get());
        b->setGeometry(left, top, size, size);
        return b;
    }
    void show()
    {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
};

} // namespace

class ImageButtonTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { InitLumivaneResources(); }
    void Create_SetsDefaults();
    void DrawState_FollowsPointerAndLeftButton_data();
    void DrawState_FollowsPointerAndLeftButton();
    void OnlyPicture_KeepsShowingItWhileHoveringAndPressing();
    void EmptyPicture_DrawsNothingWhateverTheOthersHold();
    void Disabled_ShowsPictureDisabledInEveryState();
    void Disabled_WithoutPictureDisabled_FreezesTheLookItHad();
    void Shape_CoversExactlyTheOpaquePixels_data();
    void Shape_CoversExactlyTheOpaquePixels();
    void Shape_FollowsTheChosenPicture();
    void SingleColourPicture_LeavesTheButtonRectangular();
    void ClickOnTransparentPixel_GoesToTheWidgetBelow();
    void PressMoveOutRelease_RaisesNoClickAndEndsNormal();
    void DoubleClick_RaisesOneClick();
    void Down_WithoutGroup_StaysUp();
    void Group_WithoutAllowAllUp_KeepsOneButtonDown();
    void Group_WithAllowAllUp_ReleasesTheDownButton();
    void Group_SharesAllowAllUp();
    void GroupIndex_SetToZero_ReleasesTheButton();
    void Homepage_IgnoresWrites();
    void SpacePressAndRelease_Clicks();
    void DialogKeys_PressDefaultAndCancelButtons_data();
    void DialogKeys_PressDefaultAndCancelButtons();
    void FocusedButton_DrawsFocusOverlayOnTop();
    void ModalResult_ClosesTheDialogWithIt();
    void Action_ClickTriggersItAndEnabledFollows();
    void Action_CheckedStateDrivesDownWhenLinked();
    void Action_GroupIndexFollowsTheAction();
};

void ImageButtonTest::Create_SetsDefaults()
{
    TImageButton button;
    QCOMPARE(button.size(), QSize(35, 35));
    QCOMPARE(button.focusPolicy() & Qt::TabFocus, Qt::TabFocus);
    QCOMPARE(button.GroupIndex(), 0);
    QVERIFY(!button.Down());
    QVERIFY(!button.AllowAllUp());
    QVERIFY(!button.Default());
    QVERIFY(!button.Cancel());
    QVERIFY(!button.MouseInside());
    QVERIFY(!button.InDialogKey());
    QCOMPARE(button.ModalResult(), 0);
    QCOMPARE(button.DrawState(), TImageButton::kNormal);
    QCOMPARE(button.ShapeState(), TImageButton::kShapeOutOfDate);
    QVERIFY(button.Picture().isNull());
}

// Event script letters: e = pointer enters, l = leaves, p = left press,
// r = left release over the button, o = release outside the button.
void ImageButtonTest::DrawState_FollowsPointerAndLeftButton_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("drawState");
    QTest::addColumn<QColor>("shown");
    QTest::addColumn<int>("clicks");

    QTest::newRow("enter") << "e" << 1 << kOverColour << 0;
    QTest::newRow("enter, leave") << "el" << 0 << kNormalColour << 0;
    QTest::newRow("press") << "ep" << 2 << kDownColour << 0;
    QTest::newRow("press keeps pressed look when leaving") << "epl" << 2 << kDownColour << 0;
    QTest::newRow("click ends hot") << "epr" << 1 << kOverColour << 1;
    QTest::newRow("click then leave") << "eprl" << 0 << kNormalColour << 1;
    QTest::newRow("press, leave, come back, release") << "eplr" << 1 << kOverColour << 1;
    QTest::newRow("press, leave, release outside") << "eplo" << 0 << kNormalColour << 0;
}

void ImageButtonTest::DrawState_FollowsPointerAndLeftButton()
{
    QFETCH(QString, script);
    QFETCH(int, drawState);
    QFETCH(QColor, shown);
    QFETCH(int, clicks);

    Host host;
    TImageButton* button = host.button(10, 10);
    button->setPicture(picture(kNormalColour));
    button->setPictureOver(picture(kOverColour));
    button->setPictureDown(picture(kDownColour));
    host.show();
    QSignalSpy clicked(button, &TImageButton::clicked);
    QSignalSpy entered(button, &TImageButton::OnMouseEnter);

    for (QChar step : script) {
        switch (step.toLatin1()) {
        case 'e': enter(button); break;
        case 'l': leave(button); break;
        case 'p': QTest::mousePress(button, Qt::LeftButton, {}, QPoint(5, 5)); break;
        case 'r': QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(5, 5)); break;
        case 'o': QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(60, 60)); break;
        }
    }
    QCOMPARE(int(button->DrawState()), drawState);
    QCOMPARE(shownAt(host.window.get(), button), shown);
    QCOMPARE(clicked.count(), clicks);
    QVERIFY(entered.count() >= 1);
}

void ImageButtonTest::OnlyPicture_KeepsShowingItWhileHoveringAndPressing()
{
    Host host;
    TImageButton* button = host.button(10, 10);
    button->setPicture(picture(kNormalColour));
    host.show();

    enter(button);
    QCOMPARE(int(button->DrawState()), 1);
    QCOMPARE(shownAt(host.window.get(), button), kNormalColour);
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(int(button->DrawState()), 2);
    QCOMPARE(shownAt(host.window.get(), button), kNormalColour);
}

void ImageButtonTest::EmptyPicture_DrawsNothingWhateverTheOthersHold()
{
    Host host;
    TImageButton* button = host.button(10, 10);
    button->setPictureOver(picture(kOverColour));
    button->setPictureDown(picture(kDownColour));
    button->setPictureDisabled(picture(kDisabledColour));
    host.show();

    for (QPoint pos : {QPoint(5, 5), QPoint(0, 0), QPoint(19, 19)})
        QCOMPARE(shownAt(host.window.get(), button, pos), kHostColour);
    enter(button);
    QCOMPARE(shownAt(host.window.get(), button), kHostColour);
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(shownAt(host.window.get(), button), kHostColour);
    button->setEnabled(false);
    QCOMPARE(shownAt(host.window.get(), button), kHostColour);
    // Nothing drawn also means no shape was made.
    QVERIFY(button->mask().isEmpty());
}

void ImageButtonTest::Disabled_ShowsPictureDisabledInEveryState()
{
    Host host;
    TImageButton* button = host.button(10, 10);
    button->setPicture(picture(kNormalColour));
    button->setPictureOver(picture(kOverColour));
    button->setPictureDown(picture(kDownColour));
    button->setPictureDisabled(picture(kDisabledColour));
    host.show();

    enter(button);
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(5, 5));
    button->setEnabled(false);
    QCOMPARE(shownAt(host.window.get(), button), kDisabledColour);
    button->setEnabled(true);
    QCOMPARE(shownAt(host.window.get(), button), kDownColour);
}

void ImageButtonTest::Disabled_WithoutPictureDisabled_FreezesTheLookItHad()
{
    Host host;
    TImageButton* button = host.button(10, 10);
    button->setPicture(picture(kNormalColour));
    button->setPictureOver(picture(kOverColour));
    host.show();

    enter(button);
    button->setEnabled(false);
    QCOMPARE(shownAt(host.window.get(), button), kOverColour);
    // Pointer and keys no longer change the look.
    leave(button);
    QCOMPARE(int(button->DrawState()), 1);
    QVERIFY(button->MouseInside());
    QTest::keyClick(button, Qt::Key_Space);
    QCOMPARE(int(button->DrawState()), 1);
    QCOMPARE(shownAt(host.window.get(), button), kOverColour);
}

void ImageButtonTest::Shape_CoversExactlyTheOpaquePixels_data()
{
    QTest::addColumn<QImage>("image");

    // Pure red and pure blue pixels belong to the picture and must count.
    QImage redAndBlue = picture(QColor(255, 0, 0), QRect(1, 1, 6, 6));
    for (int y = 8; y < 14; ++y)
        for (int x = 3; x < 15; ++x)
            redAndBlue.setPixelColor(x, y, QColor(0, 0, 255));
    QTest::newRow("pure red and pure blue") << redAndBlue;

    // A ring with a transparent hole, and scattered single pixels.
    QImage ring(16, 16, QImage::Format_RGB32);
    ring.fill(QColor(0, 0, 0));
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const int dx = x - 8, dy = y - 8;
            const int d2 = dx * dx + dy * dy;
            if (d2 < 9 || d2 > 49 || (x == 0 && y == 15))
                ring.setPixelColor(x, y, QColor(255, 255, 255));
        }
    ring.setPixelColor(1, 1, QColor(0, 0, 0));
    QTest::newRow("ring, white key") << ring;

    QImage artwork(QStringLiteral(":/lumivane/gear_grey.png"));
    QTest::newRow("gear artwork") << artwork;
}

void ImageButtonTest::Shape_CoversExactlyTheOpaquePixels()
{
    QFETCH(QImage, image);
    QVERIFY(PictureUsable(image));

    Host host;
    TImageButton* button = host.button(10, 10, 24);
    button->setPicture(image);
    host.show();

    const QRegion shape = button->mask();
    QVERIFY(!shape.isEmpty());
    const QRgb key = image.pixel(0, image.height() - 1);
    for (int y = 0; y < button->height(); ++y) {
        for (int x = 0; x < button->width(); ++x) {
            const bool opaque = x < image.width() && y < image.height() && image.pixel(x, y) != key;
            QVERIFY2(shape.contains(QPoint(x, y)) == opaque,
                     qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
            // Hit testing goes by the shape as well.
            const QPoint inWindow = button->mapTo(host.window.get(), QPoint(x, y));
            QCOMPARE(host.window->childAt(inWindow) == button, opaque);
        }
    }
    QCOMPARE(BuildShapeRegion(image), shape);
}

void ImageButtonTest::Shape_FollowsTheChosenPicture()
{
    Host host;
    TImageButton* button = host.button(10, 10);
    button->setPicture(picture(kNormalColour, QRect(0, 0, 4, 4)));
    button->setPictureOver(picture(kOverColour, QRect(8, 8, 4, 4)));
    host.show();

    QVERIFY(button->mask().contains(QPoint(1, 1)));
    QVERIFY(!button->mask().contains(QPoint(9, 9)));
    enter(button);
    QCOMPARE(int(button->ShapeState()), 1);
    QVERIFY(!button->mask().contains(QPoint(1, 1)));
    QVERIFY(button->mask().contains(QPoint(9, 9)));
}

void ImageButtonTest::SingleColourPicture_LeavesTheButtonRectangular()
{
    Host host;
    TImageButton* button = host.button(10, 10);
    QImage plain(16, 16, QImage::Format_RGB32);
    plain.fill(QColor(30, 140, 60));
    button->setPicture(plain);
    host.show();

    QVERIFY(BuildShapeRegion(plain).isEmpty());
    QVERIFY(button->mask().isEmpty());
    for (QPoint pos : {QPoint(0, 0), QPoint(19, 19), QPoint(5, 17)})
        QCOMPARE(host.window->childAt(button->mapTo(host.window.get(), pos)), button);
}

void ImageButtonTest::ClickOnTransparentPixel_GoesToTheWidgetBelow()
{
    Host host;
    auto* below = new QPushButton(host.window.get());
    below->setGeometry(0, 0, 60, 60);
    TImageButton* button = host.button(10, 10);
    button->setPicture(picture(kNormalColour, QRect(0, 0, 8, 8)));
    host.show();
    QSignalSpy belowClicked(below, &QPushButton::clicked);
    QSignalSpy buttonClicked(button, &TImageButton::clicked);
    QWindow* window = host.window->windowHandle();

    // (12, 12) inside the button is a transparent pixel of its picture.
    QTest::mouseClick(window, Qt::LeftButton, {}, button->mapTo(host.window.get(), QPoint(12, 12)));
    QTRY_COMPARE(belowClicked.count(), 1);
    QCOMPARE(buttonClicked.count(), 0);
    QCOMPARE(int(button->DrawState()), 0);

    QTest::mouseClick(window, Qt::LeftButton, {}, button->mapTo(host.window.get(), QPoint(3, 3)));
    QTRY_COMPARE(buttonClicked.count(), 1);
    QCOMPARE(belowClicked.count(), 1);
}

void ImageButtonTest::PressMoveOutRelease_RaisesNoClickAndEndsNormal()
{
    Host host;
    TImageButton* button = host.button(10, 10);
    button->setPicture(picture(kNormalColour));
    button->setPictureOver(picture(kOverColour));
    button->setPictureDown(picture(kDownColour));
    host.show();
    QSignalSpy clicked(button, &TImageButton::clicked);

    enter(button);
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseMove(button, QPoint(50, 50));
    QVERIFY(!button->MouseInside());
    QCOMPARE(int(button->DrawState()), 2); // the press keeps its look outside
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(50, 50));
    leave(button); // Qt's late leave after the release changes nothing more
    QCOMPARE(clicked.count(), 0);
    QCOMPARE(int(button->DrawState()), 0);
    QCOMPARE(shownAt(host.window.get(), button), kNormalColour);
}

void ImageButtonTest::DoubleClick_RaisesOneClick()
{
    Host host;
    TImageButton* button = host.button(10, 10);
    button->setPicture(picture(kNormalColour));
    host.show();
    QSignalSpy clicked(button, &TImageButton::clicked);
    QSignalSpy doubleClicked(button, &TImageButton::doubleClicked);

    enter(button);
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseDClick(button, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(doubleClicked.count(), 1);
    QCOMPARE(int(button->DrawState()), 1);
}

void ImageButtonTest::Down_WithoutGroup_StaysUp()
{
    Host host;
    TImageButton* button = host.button(10, 10);
    button->setPicture(picture(kNormalColour));
    button->setPictureDown(picture(kDownColour));
    host.show();

    button->setDown(true);
    QVERIFY(!button->Down());
    QCOMPARE(int(button->DrawState()), 0);
    QCOMPARE(shownAt(host.window.get(), button), kNormalColour);
}

void ImageButtonTest::Group_WithoutAllowAllUp_KeepsOneButtonDown()
{
    Host host;
    TImageButton* a = host.button(0, 0);
    TImageButton* b = host.button(30, 0);
    TImageButton* other = host.button(60, 0); // another group stays untouched
    for (TImageButton* button : {a, b, other})
        button->setPicture(picture(kNormalColour));
    a->setGroupIndex(1);
    b->setGroupIndex(1);
    other->setGroupIndex(2);
    host.show();

    other->Click();
    a->Click();
    QVERIFY(a->Down());
    QCOMPARE(int(a->DrawState()), 2);
    b->Click();
    QVERIFY(b->Down());
    QVERIFY(!a->Down());
    QCOMPARE(int(a->DrawState()), 0);
    QVERIFY(other->Down());
    b->Click(); // the down button cannot release itself
    QVERIFY(b->Down());
    b->setDown(false);
    QVERIFY(b->Down());
}

void ImageButtonTest::Group_WithAllowAllUp_ReleasesTheDownButton()
{
    Host host;
    TImageButton* a = host.button(0, 0);
    TImageButton* b = host.button(30, 0);
    for (TImageButton* button : {a, b}) {
        button->setPicture(picture(kNormalColour));
        button->setGroupIndex(4);
        button->setAllowAllUp(true);
    }
    host.show();

    a->Click();
    QVERIFY(a->Down());
    a->Click();
    QVERIFY(!a->Down());
    QVERIFY(!b->Down());
    QCOMPARE(int(a->DrawState()), 0);
}

void ImageButtonTest::Group_SharesAllowAllUp()
{
    Host host;
    TImageButton* a = host.button(0, 0);
    TImageButton* b = host.button(30, 0);
    TImageButton* c = host.button(60, 0);
    for (TImageButton* button : {a, b, c})
        button->setGroupIndex(3);
    c->setGroupIndex(5);

    a->setAllowAllUp(true);
    QVERIFY(b->AllowAllUp());
    QVERIFY(!c->AllowAllUp());
    b->setAllowAllUp(false);
    QVERIFY(!a->AllowAllUp());
}

void ImageButtonTest::GroupIndex_SetToZero_ReleasesTheButton()
{
    Host host;
    TImageButton* a = host.button(0, 0);
    a->setPicture(picture(kNormalColour));
    a->setGroupIndex(2);
    a->setDown(true);
    QVERIFY(a->Down());
    a->setGroupIndex(0);
    QVERIFY(!a->Down());
}

void ImageButtonTest::Homepage_IgnoresWrites()
{
    TImageButton button;
    const QString fixed = button.Homepage();
    QVERIFY(fixed.startsWith(QStringLiteral("file:")));
    QVERIFY(fixed.endsWith(QStringLiteral("help.html")));
    QCOMPARE(fixed, HelpPageUrl());
    button.setHomepage(QStringLiteral("http://example.org/"));
    QCOMPARE(button.Homepage(), fixed);
    button.setProperty("Homepage", QStringLiteral("elsewhere"));
    QCOMPARE(button.property("Homepage").toString(), fixed);
}

void ImageButtonTest::SpacePressAndRelease_Clicks()
{
    Host host;
    TImageButton* button = host.button(10, 10);
    button->setPicture(picture(kNormalColour));
    button->setPictureDown(picture(kDownColour));
    host.show();
    QSignalSpy clicked(button, &TImageButton::clicked);

    QTest::keyPress(button, Qt::Key_Space);
    QCOMPARE(int(button->DrawState()), 2);
    QCOMPARE(shownAt(host.window.get(), button), kDownColour);
    QCOMPARE(clicked.count(), 0);
    QTest::keyRelease(button, Qt::Key_Space);
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(int(button->DrawState()), 0);
}

void ImageButtonTest::DialogKeys_PressDefaultAndCancelButtons_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("isDefault");
    QTest::addColumn<bool>("isCancel");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("focusOnButton");
    QTest::addColumn<int>("clicks");

    QTest::newRow("Enter presses the default button") << int(Qt::Key_Return) << true << false << true << false << 1;
    QTest::newRow("keypad Enter too") << int(Qt::Key_Enter) << true << false << true << false << 1;
    QTest::newRow("Enter ignores a plain button") << int(Qt::Key_Return) << false << false << true << false << 0;
    QTest::newRow("Enter presses the focused button") << int(Qt::Key_Return) << false << false << true << true << 1;
    QTest::newRow("Enter skips a disabled default") << int(Qt::Key_Return) << true << false << false << false << 0;
    QTest::newRow("Esc presses the cancel button") << int(Qt::Key_Escape) << false << true << true << false << 1;
    QTest::newRow("Esc ignores the default button") << int(Qt::Key_Escape) << true << false << true << false << 0;
    QTest::newRow("Esc ignores the focused button") << int(Qt::Key_Escape) << false << false << true << true << 0;
    QTest::newRow("Enter ignores the cancel button") << int(Qt::Key_Return) << false << true << true << false << 0;
}

void ImageButtonTest::DialogKeys_PressDefaultAndCancelButtons()
{
    QFETCH(int, key);
    QFETCH(bool, isDefault);
    QFETCH(bool, isCancel);
    QFETCH(bool, enabled);
    QFETCH(bool, focusOnButton);
    QFETCH(int, clicks);

    Host host;
    auto* edit = new QLineEdit(host.window.get());
    edit->setGeometry(40, 40, 60, 20);
    TImageButton* button = host.button(10, 10);
    button->setPicture(picture(kNormalColour));
    button->setDefault(isDefault);
    button->setCancel(isCancel);
    button->setEnabled(enabled);
    host.show();
    host.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(host.window.get()));
    QWidget* focus = focusOnButton ? static_cast<QWidget*>(button) : edit;
    focus->setFocus();
    QTRY_VERIFY(focus->hasFocus());
    QSignalSpy clicked(button, &TImageButton::clicked);

    QTest::keyClick(focus, Qt::Key(key), key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
    QCOMPARE(clicked.count(), clicks);
    // A click by dialog key leaves the focus where it was.
    QVERIFY(focus->hasFocus());
    QVERIFY(!button->InDialogKey());
}

void ImageButtonTest::FocusedButton_DrawsFocusOverlayOnTop()
{
    Host host;
    auto* edit = new QLineEdit(host.window.get());
    edit->setGeometry(40, 40, 60, 20);
    TImageButton* button = host.button(10, 10);
    button->setPicture(picture(kNormalColour));
    const QColor overlay(250, 250, 0);
    button->setPictureFocused(picture(overlay, QRect(4, 4, 2, 2)));
    host.show();
    host.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(host.window.get()));
    edit->setFocus();
    QTRY_VERIFY(edit->hasFocus());

    QCOMPARE(shownAt(host.window.get(), button, QPoint(4, 4)), kNormalColour);
    button->setFocus();
    QTRY_VERIFY(button->hasFocus());
    QCOMPARE(shownAt(host.window.get(), button, QPoint(4, 4)), overlay);
    QCOMPARE(shownAt(host.window.get(), button, QPoint(8, 8)), kNormalColour);
    // The overlay is not part of the shape.
    QVERIFY(!button->mask().contains(QPoint(0, 0)));
}

void ImageButtonTest::ModalResult_ClosesTheDialogWithIt()
{
    QDialog dialog;
    auto* button = new TImageButton(&dialog);
    button->setPicture(picture(kNormalColour));
    button->setModalResult(3);
    QTimer::singleShot(0, button, [button] { button->Click(); });
    QCOMPARE(dialog.exec(), 3);

    // A handler that resets the result keeps the dialog open.
    QDialog stays;
    auto* second = new TImageButton(&stays);
    second->setModalResult(5);
    connect(second, &TImageButton::clicked, &stays, [&stays] { stays.setResult(0); });
    bool stillOpen = false;
    QTimer::singleShot(0, second, [second] { second->Click(); });
    QTimer::singleShot(50, &stays, [&] {
        stillOpen = stays.isVisible();
        stays.done(7);
    });
    QCOMPARE(stays.exec(), 7);
    QVERIFY(stillOpen);
}

void ImageButtonTest::Action_ClickTriggersItAndEnabledFollows()
{
    Host host;
    TImageButton* button = host.button(10, 10);
    button->setPicture(picture(kNormalColour));
    QAction action(QStringLiteral("Next"));
    action.setToolTip(QStringLiteral(" Next Image "));
    button->setAction(&action);
    host.show();
    QSignalSpy triggered(&action, &QAction::triggered);
    QSignalSpy clicked(button, &TImageButton::clicked);

    QCOMPARE(button->toolTip(), QStringLiteral(" Next Image "));
    enter(button);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(triggered.count(), 1);

    action.setEnabled(false);
    QVERIFY(!button->isEnabled());
    button->Click();
    QCOMPARE(triggered.count(), 1);

    button->setAction(nullptr);
    action.setEnabled(true);
    QVERIFY(!button->isEnabled());
}

void ImageButtonTest::Action_CheckedStateDrivesDownWhenLinked()
{
    Host host;
    TImageButton* button = host.button(10, 10);
    button->setPicture(picture(kNormalColour));
    button->setGroupIndex(1);
    button->setAllowAllUp(true);
    QAction action(QStringLiteral("Latch"));
    action.setCheckable(true);
    SetActionGroupIndex(&action, 1);
    button->setAction(&action);
    QSignalSpy triggered(&action, &QAction::triggered);

    action.setChecked(true);
    QVERIFY(button->Down());
    action.setChecked(false);
    QVERIFY(!button->Down());

    // Clicking latches the button once and carries the action along.
    button->Click();
    QVERIFY(button->Down());
    QVERIFY(action.isChecked());
    QCOMPARE(triggered.count(), 1);
    button->Click();
    QVERIFY(!button->Down());
    QVERIFY(!action.isChecked());

    // Without AllowAllUp the checked state no longer drives Down.
    button->setAllowAllUp(false);
    action.setChecked(true);
    QVERIFY(!button->Down());
}

void ImageButtonTest::Action_GroupIndexFollowsTheAction()
{
    TImageButton button;
    QAction action(QStringLiteral("Grouped"));
    SetActionGroupIndex(&action, 6);
    button.setAction(&action);
    QCOMPARE(button.GroupIndex(), 6);

    SetActionGroupIndex(&action, 8);
    QCOMPARE(button.GroupIndex(), 8);

    // Once the button has its own group index the action no longer moves it.
    button.setGroupIndex(2);
    SetActionGroupIndex(&action, 9);
    QCOMPARE(button.GroupIndex(), 2);
    QCOMPARE(ActionGroupIndex(&action), 9);
}

QTEST_MAIN(ImageButtonTest)
#include "ImageButtonTest.moc"
