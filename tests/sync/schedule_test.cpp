#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include "sync/boot_timer.h"
#include "sync/schedule.h"

using namespace std::chrono_literals;
using namespace tessel;

TEST(Schedule, BacksOffAndCaps) {
    const std::chrono::seconds at60[] = {60s, 120s, 240s, 480s, 900s, 900s};
    for (int failures = 0; failures < 6; ++failures)
        EXPECT_EQ(Schedule::wait(60, failures), at60[failures]) << failures;
    EXPECT_EQ(Schedule::wait(60, 10), 900s);
    const std::chrono::seconds at30[] = {30s, 60s, 120s, 240s, 480s, 480s};
    for (int failures = 0; failures < 6; ++failures)
        EXPECT_EQ(Schedule::wait(30, failures), at30[failures]) << failures;
    // Values that would overflow a shift or an int.
    EXPECT_EQ(Schedule::wait(INT_MAX, 4), 900s);
    EXPECT_EQ(Schedule::wait(60, INT_MAX), 900s);
    EXPECT_EQ(Schedule::wait(60, -3), 60s);
    EXPECT_EQ(Schedule::wait(5, 0), 30s);
}

TEST(Schedule, ReadsStoredIntervals) {
    EXPECT_EQ(Schedule::intervalFrom(QVariant()), 60);
    EXPECT_EQ(Schedule::intervalFrom(QVariant(0)), 60);
    EXPECT_EQ(Schedule::intervalFrom(QVariant(QStringLiteral("0"))), 60);
    EXPECT_EQ(Schedule::intervalFrom(QVariant(10)), 30);
    EXPECT_EQ(Schedule::intervalFrom(QVariant(-5)), 30);
    EXPECT_EQ(Schedule::intervalFrom(QVariant(QStringLiteral("120"))), 120);
    EXPECT_EQ(Schedule::intervalFrom(QVariant(QStringLiteral("abc"))), 60);
    EXPECT_EQ(Schedule::intervalFrom(QVariant(QStringLiteral("nan"))), 60);
    EXPECT_EQ(Schedule::intervalFrom(QVariant(1e300)), INT_MAX);
    EXPECT_EQ(Schedule::clampInterval(5), 30);
    EXPECT_EQ(Schedule::clampInterval(1LL << 40), INT_MAX);
}

namespace {
// Runs the event loop until `done` or `limitMs` have passed.
template <class F> bool spin(F done, int limitMs = 2000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return done();
}
} // namespace

TEST(BootClockTimer, FiresOnceAndCanBeStopped) {
    int argc = 1;
    char name[] = "schedule_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    BootClockTimer timer;
    int fired = 0;
    QObject::connect(&timer, &BootClockTimer::timeout, [&] { ++fired; });
    timer.start(30ms);
    EXPECT_TRUE(timer.isActive());
    ASSERT_TRUE(spin([&] { return fired == 1; }));
    EXPECT_FALSE(timer.isActive());

    // A restart replaces the pending countdown instead of adding a second one.
    timer.start(20ms);
    timer.start(40ms);
    ASSERT_TRUE(spin([&] { return fired == 2; }));
    spin([] { return false; }, 150); // nothing more may come
    EXPECT_EQ(fired, 2);

    timer.start(20ms);
    timer.stop();
    timer.start(0ms);
    ASSERT_TRUE(spin([&] { return fired == 3; }));
}
