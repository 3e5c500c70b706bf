// How long the polling loop waits between cycles.
#pragma once

#include <QVariant>

#include <chrono>

namespace tessel::Schedule {

inline constexpr int defaultInterval = 60; // seconds
inline constexpr int smallestInterval = 30;
inline constexpr int largestExponent = 4;
inline constexpr std::chrono::seconds longestWait{900};

// An interval given by the user or the settings file, raised to the smallest interval.
// 0, absent, unreadable and non-finite values mean the default.
int intervalFrom(const QVariant& stored);
int clampInterval(long long seconds);

// interval × 2^min(failures, 4), at most 900 seconds.
std::chrono::seconds wait(int interval, int failures);

} // namespace tessel::Schedule
