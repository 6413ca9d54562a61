#pragma once

#include "core/Clock.h"

// Stands still until advanced; local time is UTC shifted by a fixed offset.
class TestClock final : public Clock {
  public:
    // The default is 2012-01-01 08:03:09 UTC.
    explicit TestClock(int32_t seconds = 1325404989, uint16_t milliseconds = 0) {
        now_.seconds = seconds;
        now_.milliseconds = milliseconds;
    }

    TimeStamp now() const override { return now_; }
    int64_t processMilliseconds() const override { return processMilliseconds_; }
    LocalTime localTime(int32_t secondsSinceEpoch) const override;

    void advance(int64_t milliseconds);
    void setProcessMilliseconds(int64_t value) { processMilliseconds_ = value; }
    void setUtcOffsetMinutes(int minutes) { utcOffsetMinutes_ = minutes; }

  private:
    TimeStamp now_;
    int64_t processMilliseconds_ = 0;
    int utcOffsetMinutes_ = 0;
};
