// SPDX-License-Identifier: GPL-3.0-or-later
// The window's keys: each presses its button whichever control has the
// focus, leaves that control as it was, and does nothing while the button
// cannot be used; the hints name them; the help link says where the help
// page is when nothing opens it.
#include "WindowFixture.h"

#include "BeforeAfterForm.h"
#include "Unit2.h"

#include <QTest>
#include <functional>

using namespace lumivane;
using namespace lumivane::testing;

namespace {

struct Key {
    const char* name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
};

const Key kCtrlO{"Ctrl+O", Qt::Key_O, Qt::ControlModifier};
const Key kCtrlM{"Ctrl+M", Qt::Key_M, Qt::ControlModifier};
const Key kCtrlS{"Ctrl+S", Qt::Key_S, Qt::ControlModifier};
const Key kCtrlLeft{"Ctrl+Left", Qt::Key_Left, Qt::ControlModifier};
const Key kCtrlRight{"Ctrl+Right", Qt::Key_Right, Qt::ControlModifier};
const Key kF1{"F1", Qt::Key_F1, Qt::NoModifier};
const Key kF2{"F2", Qt::Key_F2, Qt::NoModifier};
const Key kF3{"F3", Qt::Key_F3, Qt::NoModifier};
const Key kF4{"F4", Qt::Key_F4, Qt::NoModifier};

// What a control shows that a key meant for the window must not change.
QString stateOf(QWidget* w)
{
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text() + QLatin1Char('|') + QString::number(edit->cursorPosition()) + QLatin1Char('|') +
               edit->selectedText();
    if (auto* bar = qobject_cast<QScrollBar*>(w))
        return QString::number(bar->value());
    return w->isVisible() ? QStringLiteral("shown") : QStringLiteral("hidden");
}

} // namespace

class KeysTest : public QObject {
    Q_OBJECT

private:
    static void activate(TForm1& form)
    {
        QApplication::setActiveWindow(&form);
        if (!QTest::qWaitForWindowActive(&form))
            qWarning("the window did not become active");
    }

    TForm1& startReady(WindowFixture& f)
    {
        TForm1& form = f.startOnSecondOfThree();
        activate(form);
        return form;
    }

    static void press(QWidget* focused, const Key& key) { QTest::keyClick(focused, key.key, key.modifiers); }

private slots:
    void everyKey_WorksWhicheverControlHasTheFocus()
    {
        WindowFixture f;
        TForm1& form = startReady(f);
        QVERIFY(form.flow().photos().FileIndex == 1);
        QWidget* focusKinds[] = {form.Button5, form.jpeg, form.top, form.ImageButton3, &form};
        form.top->setText(QStringLiteral("12"));
        for (QWidget* focused : focusKinds) {
            const QString name = focused->objectName().isEmpty() ? QString::fromLatin1(focused->metaObject()->className())
                                                                 : focused->objectName();
            if (form.flow().photos().FileIndex != 1)
                form.Button1Click(form.flow().photos().FileIndex == 0 ? form.ImageButton2 : form.ImageButton1);
            // The windows F3 and F4 opened took the activation with them.
            activate(form);
            focused->setFocus();
            if (focused != &form)
                QVERIFY2(focused->hasFocus(), qPrintable(name));
            if (auto* edit = qobject_cast<QLineEdit*>(focused))
                edit->setCursorPosition(1);
            const QString before = stateOf(focused);
            auto check = [&](const Key& key, const std::function<bool()>& happened) {
                press(focused, key);
                QVERIFY2(happened(), qPrintable(name + QLatin1Char(' ') + QLatin1String(key.name)));
                QCOMPARE(stateOf(focused), before);
            };

            check(kCtrlRight, [&] { return form.flow().photos().FileIndex == 2; });
            check(kCtrlLeft, [&] { return form.flow().photos().FileIndex == 1; });
            const auto opens = f.services.openRequests.size();
            check(kCtrlO, [&] {
                return f.services.openRequests.size() == opens + 1 &&
                       f.services.openRequests.back().title == QStringLiteral(" Open Image(s)");
            });
            check(kCtrlM, [&] {
                return f.services.openRequests.size() == opens + 2 &&
                       f.services.openRequests.back().title == QStringLiteral(" Open Mask");
            });
            check(kF2, [&] { return form.Panel4->isVisible(); });
            form.Button7->click();
            check(kF3, [&] { return form.Form2->isVisible(); });
            form.Form2->close();
            check(kF4, [&] { return form.BeforeAfter && form.BeforeAfter->isVisible(); });
            form.BeforeAfter->close();
            const auto urls = f.services.openedUrls.size();
            check(kF1, [&] { return f.services.openedUrls.size() == urls + 1; });
            // "Save Images" here: the folder is asked for (and refused).
            const auto folders = f.services.folderRequests.size();
            check(kCtrlS, [&] { return f.services.folderRequests.size() == folders + 1; });
            QVERIFY(form.isVisible()); // no key pressed "Quit"
        }
        QCOMPARE(f.services.errors, QStringList());
    }

    void ctrlS_PressesSaveImageToo()
    {
        WindowFixture f;
        TForm1& form = f.startWithMask(f.writeBmp(QStringLiteral("one.bmp"), gradientPhoto(80, 60)),
                                       f.writeBmp(QStringLiteral("flat.bmp"), vignetteMask(80, 60)));
        QCOMPARE(form.Button2->text(), QStringLiteral("&Save Image"));
        press(form.jpeg, kCtrlS);
        QCOMPARE(f.services.saveRequests.size(), std::size_t(1));
    }

    void keys_DoNothingWhereTheirButtonIsDisabled()
    {
        WindowFixture f;
        TForm1& form = f.start();
        form.show();
        // No photograph: nothing to save, step through or adjust.
        for (const Key& key : {kCtrlS, kCtrlLeft, kCtrlRight, kF2})
            press(form.Button5, key);
        QVERIFY(f.services.saveRequests.empty());
        QVERIFY(f.services.folderRequests.empty());
        QVERIFY(form.Panel4->isHidden());
        QCOMPARE(f.services.errors, QStringList());

        // One photograph without a mask: the gear lies under its cover.
        f.open({f.writeBmp(QStringLiteral("one.bmp"), gradientPhoto(80, 60))});
        QVERIFY(form.Panel6->isVisible());
        press(form.Button5, kF2);
        QVERIFY(form.Panel4->isHidden());
        press(form.Button5, kCtrlS);
        QVERIFY(f.services.saveRequests.empty());

        // The first photograph of two: only "next" steps.
        f.open({f.path(QStringLiteral("one.bmp")), f.writeBmp(QStringLiteral("two.bmp"), gradientPhoto(80, 60, 9))});
        QCOMPARE(form.flow().photos().FileIndex, 0);
        press(form.Button5, kCtrlLeft);
        QCOMPARE(form.flow().photos().FileIndex, 0);
        press(form.Button5, kCtrlRight);
        QCOMPARE(form.flow().photos().FileIndex, 1);
        press(form.Button5, kCtrlRight);
        QCOMPARE(form.flow().photos().FileIndex, 1);
    }

    void keys_DoNothingWhileSaveImagesRuns()
    {
        WindowFixture f;
        TForm1& form = startReady(f);
        const QString folder = f.path(QStringLiteral("out"));
        QDir().mkpath(folder);
        f.services.folderAnswers.push_back(folder);
        const auto opens = f.services.openRequests.size();
        int pressedDuring = 0;
        f.services.onProcessEvents = [&] {
            if (!form.flow().session().BatchRunning || pressedDuring > 0)
                return;
            ++pressedDuring;
            // The buttons are disabled while the batch runs: their keys too.
            for (const Key& key : {kCtrlO, kCtrlM, kCtrlS, kCtrlLeft, kCtrlRight, kF2})
                press(form.jpeg, key);
        };
        press(form.Button5, kCtrlS);
        f.services.onProcessEvents = nullptr;
        QCOMPARE(pressedDuring, 1);
        QCOMPARE(f.services.folderRequests.size(), std::size_t(1)); // no second batch
        QCOMPARE(f.services.openRequests.size(), opens);
        QVERIFY(form.Panel4->isHidden());
        QCOMPARE(form.status->text(), QStringLiteral("3 of 3 photographs saved to ") + folder);
        QCOMPARE(f.services.errors, QStringList());
    }

    void hints_NameTheKeysAfterTheirText()
    {
        WindowFixture f;
        TForm1& form = f.start();
        const struct {
            QWidget* control;
            QString hint;
        } rows[] = {
            {form.BitBtn5, QStringLiteral(" Ctrl+O ")},
            {form.Button1, QStringLiteral(" Open image(s). Multiselection allowed. (Ctrl+O) ")},
            {form.Button3, QStringLiteral(" Ctrl+M ")},
            {form.Button2, QStringLiteral(" Save processed image(s) (Ctrl+S) ")},
            {form.ImageButton1, QStringLiteral(" Previous Image (Ctrl+Left) ")},
            {form.ImageButton2, QStringLiteral(" Next Image (Ctrl+Right) ")},
            {form.ImageButton4, QStringLiteral(" Adjust Mask (F2) ")},
            {form.ImageButton3, QStringLiteral(" EXIF Information (F3) ")},
            {form.img_right, QStringLiteral(" Click to compare before and after in a large view (F4) ")},
            {form.HyperLabel1, QStringLiteral(" Go there for on-line help, hints etc. (F1) ")},
        };
        for (const auto& row : rows)
            QCOMPARE(row.control->toolTip(), row.hint);
    }

    void helpPage_WithoutABrowser_SaysWhereItIs()
    {
        WindowFixture f;
        TForm1& form = f.start();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        f.services.urlOpens = false;
        const QString url = form.HyperLabel1->URL();
        QVERIFY(url.startsWith(QStringLiteral("file://")));
        const QString path = QUrl(url).toLocalFile();
        QVERIFY(QFileInfo(path).isFile());

        // The link, clicked: the pointer enters it first.
        const QPointF at(6, 6);
        QEnterEvent enter(at, at, form.HyperLabel1->mapToGlobal(at));
        QApplication::sendEvent(form.HyperLabel1, &enter);
        QTest::mouseClick(form.HyperLabel1, Qt::LeftButton, {}, at.toPoint());
        QCOMPARE(f.services.openedUrls, QStringList{url});
        QCOMPARE(f.services.messages.size(), 1);
        QVERIFY(f.services.messages[0].endsWith(QLatin1Char('\n') + path));
        QVERIFY(f.services.messages[0].contains(QStringLiteral("xdg-utils")));
        // F1.
        press(form.Button5, kF1);
        QCOMPARE(f.services.messages.size(), 2);
        QCOMPARE(f.services.messages[1], f.services.messages[0]);
        // With a browser nothing is said.
        f.services.urlOpens = true;
        press(form.Button5, kF1);
        QCOMPARE(f.services.messages.size(), 2);
    }
};

QTEST_MAIN(KeysTest)
#include "KeysTest.moc"
