#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include "support/app_fixture.h"
#include "sync/boot_timer.h"
#include "sync/schedule.h"

using namespace std::chrono_literals;
using namespace tessel;

TEST(Schedule, BacksOffCapsAndReadsStoredValues) {
    const std::chrono::seconds at60[] = {60s, 120s, 240s, 480s, 900s, 900s};
    const std::chrono::seconds at30[] = {30s, 60s, 120s, 240s, 480s, 480s};
    for (int failures = 0; failures < 6; ++failures) {
        EXPECT_EQ(Schedule::wait(60, failures), at60[failures]) << failures;
        EXPECT_EQ(Schedule::wait(30, failures), at30[failures]) << failures;
    }
    EXPECT_EQ(Schedule::wait(INT_MAX, 4), 900s); // no overflow in the shift
    EXPECT_EQ(Schedule::wait(60, INT_MAX), 900s);
    EXPECT_EQ(Schedule::wait(5, 0), 30s);

    EXPECT_EQ(Schedule::intervalFrom(QVariant()), 60);
    EXPECT_EQ(Schedule::intervalFrom(QStringLiteral("0")), 60);
    EXPECT_EQ(Schedule::intervalFrom(QStringLiteral("abc")), 60);
    EXPECT_EQ(Schedule::intervalFrom(QStringLiteral("nan")), 60);
    EXPECT_EQ(Schedule::intervalFrom(10), 30);
    EXPECT_EQ(Schedule::intervalFrom(QStringLiteral("120")), 120);
    EXPECT_EQ(Schedule::intervalFrom(1e300), INT_MAX);
    EXPECT_EQ(Schedule::clampInterval(1LL << 40), INT_MAX);
}

TEST(BootClockTimer, FiresOnceRestartsAndStops) {
    test::app();
    BootClockTimer timer;
    int fired = 0;
    QObject::connect(&timer, &BootClockTimer::timeout, [&] { ++fired; });
    auto spinUntil = [&](int count, int limitMs) {
        QElapsedTimer clock;
        clock.start();
        while (fired < count && clock.elapsed() < limitMs)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    };
    timer.start(30ms);
    spinUntil(1, 2000);
    EXPECT_EQ(fired, 1);
    EXPECT_FALSE(timer.isActive());
    timer.start(20ms); // a restart replaces the countdown, it does not add one
    timer.start(40ms);
    spinUntil(3, 300);
    EXPECT_EQ(fired, 2);
    timer.start(20ms);
    timer.stop();
    spinUntil(3, 150);
    EXPECT_EQ(fired, 2);
}
