#pragma once

#include <cstdint>

#include "core/TimeStamp.h"

// Calendar fields of a moment in local time.
struct LocalTime {
    int year = 1970;
    int month = 1;  // 1 to 12
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Where the agent's notion of time comes from: handed to whatever plans or
// shows a time. The real clock reads the system; tests give one they can
// advance.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual TimeStamp now() const = 0;
    // Wall-clock milliseconds since the process started.
    virtual int64_t processMilliseconds() const = 0;
    virtual LocalTime localTime(int32_t secondsSinceEpoch) const = 0;

    // Now plus the milliseconds, and the milliseconds from now until the
    // deadline (see timeStampAfter and millisecondsBetween).
    TimeStamp timeStampIn(int32_t milliseconds) const {
        return timeStampAfter(now(), milliseconds);
    }
    int32_t millisecondsUntil(const TimeStamp& deadline) const {
        return millisecondsBetween(now(), deadline);
    }
};

// The real clock, built on the C and C++ runtime only.
class SystemClock final : public Clock {
  public:
    TimeStamp now() const override;
    int64_t processMilliseconds() const override;
    LocalTime localTime(int32_t secondsSinceEpoch) const override;
};
