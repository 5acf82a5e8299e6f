// SPDX-License-Identifier: GPL-3.0-or-later
// Widget tests of THyperLabel: colours, the hand cursor, and which releases
// open the address (through scripted platform services).
#include "HyperLbl.h"
#include "ScriptedPlatformServices.h"

#include <QSignalSpy>
#include <QTest>
#include <memory>

using namespace lumivane;

namespace {

const QColor kNavy(0, 0, 128);
const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);
const QColor kPurple(128, 0, 128);
const QString kAddress = QStringLiteral("https://example.org/help");

void enter(QWidget* widget)
{
    const QPointF pos(2, 2);
    QEnterEvent event(pos, pos, widget->mapToGlobal(pos));
    QCoreApplication::sendEvent(widget, &event);
}

void leave(QWidget* widget)
{
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(widget, &event);
}

struct Fixture {
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    ScriptedPlatformServices services;
    THyperLabel* label = new THyperLabel(QStringLiteral("Help and hints"), window.get());
    Fixture()
    {
        window->resize(200, 60);
        label->setGeometry(30, 20, 134, 13);
        label->setPlatformServices(&services);
        window->show();
    }
};

} // namespace

class HyperLabelTest : public QObject {
    Q_OBJECT

private slots:
    void Create_IsNavyUnderlinedWithHandCursor();
    void ReleaseOverLabel_OpensUrl_data();
    void ReleaseOverLabel_OpensUrl();
    void PressMoveOffRelease_OpensNothingAndRestoresNormalColour();
    void EmptyUrl_ClickChangesColoursOnly();
    void MainWindowColours_NavyRedPurple();
    void PressOutsideThenEnter_ShowsPressedColour();
};

void HyperLabelTest::Create_IsNavyUnderlinedWithHandCursor()
{
    THyperLabel label;
    QCOMPARE(label.FontColour(), kNavy);
    QCOMPARE(label.palette().color(QPalette::WindowText), kNavy);
    QVERIFY(label.font().underline());
    QCOMPARE(label.cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(label.HyperColour(), kBlue);
    QCOMPARE(label.PressedColour(), kRed);
    QVERIFY(label.URL().isEmpty());
    QVERIFY(!label.Pressed());
    QVERIFY(!label.MouseInside());
}

void HyperLabelTest::ReleaseOverLabel_OpensUrl_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::newRow("left") << Qt::LeftButton;
    QTest::newRow("right") << Qt::RightButton;
    QTest::newRow("middle") << Qt::MiddleButton;
}

void HyperLabelTest::ReleaseOverLabel_OpensUrl()
{
    QFETCH(Qt::MouseButton, button);
    Fixture f;
    f.label->setURL(kAddress);
    QSignalSpy clicked(f.label, &THyperLabel::clicked);

    enter(f.label);
    QCOMPARE(f.label->FontColour(), kBlue);
    QTest::mousePress(f.label, button, {}, QPoint(5, 5));
    QVERIFY(f.label->Pressed());
    QCOMPARE(f.label->FontColour(), kRed);
    QVERIFY(f.services.openedUrls.isEmpty()); // only the release opens
    QTest::mouseRelease(f.label, button, {}, QPoint(6, 5));
    QCOMPARE(f.services.openedUrls, QStringList{kAddress});
    QVERIFY(!f.label->Pressed());
    QCOMPARE(f.label->FontColour(), kBlue);
    QCOMPARE(clicked.count(), 1);
    leave(f.label);
    QCOMPARE(f.label->FontColour(), kNavy);
}

void HyperLabelTest::PressMoveOffRelease_OpensNothingAndRestoresNormalColour()
{
    Fixture f;
    f.label->setURL(kAddress);

    enter(f.label);
    QTest::mousePress(f.label, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseMove(f.label, QPoint(5, 40));
    QVERIFY(!f.label->MouseInside());
    QCOMPARE(f.label->FontColour(), kNavy);
    QTest::mouseRelease(f.label, Qt::LeftButton, {}, QPoint(5, 40));
    QVERIFY(f.services.openedUrls.isEmpty());
    QCOMPARE(f.label->FontColour(), kNavy);
    QVERIFY(!f.label->Pressed());

    // Released off the label without any move in between: the same.
    enter(f.label);
    QTest::mousePress(f.label, Qt::RightButton, {}, QPoint(5, 5));
    QTest::mouseRelease(f.label, Qt::RightButton, {}, QPoint(-20, 5));
    QVERIFY(f.services.openedUrls.isEmpty());
    QCOMPARE(f.label->FontColour(), kNavy);
    leave(f.label); // Qt's late leave after the release changes nothing
    QCOMPARE(f.label->FontColour(), kNavy);
}

void HyperLabelTest::EmptyUrl_ClickChangesColoursOnly()
{
    Fixture f;
    enter(f.label);
    QTest::mousePress(f.label, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(f.label->FontColour(), kRed);
    QTest::mouseRelease(f.label, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(f.label->FontColour(), kBlue);
    QVERIFY(f.services.openedUrls.isEmpty());
}

void HyperLabelTest::MainWindowColours_NavyRedPurple()
{
    Fixture f;
    f.label->setHyperColour(kRed);
    f.label->setPressedColour(kPurple);
    f.label->setURL(kAddress);
    f.label->setAlignment(Qt::AlignRight);

    QCOMPARE(f.label->FontColour(), kNavy);
    QVERIFY(f.label->font().underline());
    enter(f.label);
    QCOMPARE(f.label->FontColour(), kRed);
    QTest::mousePress(f.label, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(f.label->FontColour(), kPurple);
    QTest::mouseRelease(f.label, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(f.label->FontColour(), kRed);
    leave(f.label);
    QCOMPARE(f.label->FontColour(), kNavy);
    QCOMPARE(f.services.openedUrls, QStringList{kAddress});
}

void HyperLabelTest::PressOutsideThenEnter_ShowsPressedColour()
{
    // A press on the label that leaves and comes back shows the pressed
    // colour again, and the release over it opens the address.
    Fixture f;
    f.label->setURL(kAddress);
    enter(f.label);
    QTest::mousePress(f.label, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseMove(f.label, QPoint(5, 40));
    QCOMPARE(f.label->FontColour(), kNavy);
    QTest::mouseMove(f.label, QPoint(6, 6));
    QVERIFY(f.label->MouseInside());
    QCOMPARE(f.label->FontColour(), kRed);
    QTest::mouseRelease(f.label, Qt::LeftButton, {}, QPoint(6, 6));
    QCOMPARE(f.services.openedUrls, QStringList{kAddress});
    leave(f.label);
    QCOMPARE(f.label->FontColour(), kNavy);
}

QTEST_MAIN(HyperLabelTest)
#include "HyperLabelTest.moc"
