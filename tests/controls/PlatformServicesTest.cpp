// SPDX-License-Identifier: GPL-3.0-or-later
// The platform services' tick count runs since the system started; the
// windows' filters become Qt's.
#include "PlatformServices.h"

#include <QtTest>
#include <ctime>

using namespace lumivane;

class PlatformServicesTest : public QObject {
    Q_OBJECT
private slots:
    void TickCount_FollowsTheBootClock_FromTheFirstCall();
    void QtFilter_HasOneEntryPerPair();
};

namespace {

std::uint32_t bootMilliseconds()
{
    timespec now {};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return std::uint32_t(std::uint64_t(now.tv_sec) * 1000u + std::uint64_t(now.tv_nsec) / 1000000u);
}

} // namespace

void PlatformServicesTest::TickCount_FollowsTheBootClock_FromTheFirstCall()
{
    // The very first call of the run already reads the system's clock: a
    // timer started with the program would answer near 0 here and name the
    // first batch of every run alike.
    QtPlatformServices services;
    const std::uint32_t before = bootMilliseconds();
    const std::uint32_t tick = services.tickCount();
    const std::uint32_t after = bootMilliseconds();
    // Unsigned differences stay right across the 32-bit wrap.
    QVERIFY2(std::uint32_t(tick - before) <= std::uint32_t(after - before),
             qPrintable(QStringLiteral("tick %1 outside [%2, %3]").arg(tick).arg(before).arg(after)));
    QCOMPARE(SystemTickCount() - tick < 1000u, true);
}


void PlatformServicesTest::QtFilter_HasOneEntryPerPair()
{
    QCOMPARE(toQtFilter(QStringLiteral("All supported formats |*.jpg;*.JPG;*.bmp")),
             QStringLiteral("All supported formats (*.jpg *.JPG *.bmp)"));
    QCOMPARE(toQtFilter(QStringLiteral("A |*.jpg;*.JPG|B, long |*.jpeg;*.tiff")),
             QStringLiteral("A (*.jpg *.JPG);;B, long (*.jpeg *.tiff)"));
    QCOMPARE(toQtFilter(QStringLiteral("no patterns")), QStringLiteral("no patterns"));
}

QTEST_MAIN(PlatformServicesTest)
#include "PlatformServicesTest.moc"
