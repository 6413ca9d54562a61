#pragma once

#include <cstdint>

// A point in time as the agent stores it: whole seconds since 1970 UTC plus
// milliseconds, with the clock's time-zone and daylight-saving readings kept
// alongside. Only seconds and milliseconds take part in any computation.
struct TimeStamp {
    int32_t seconds = 0;
    uint16_t milliseconds = 0;  // 0 to 999
    int16_t timezoneMinutesWest = 0;
    int16_t daylightSaving = 0;
};

inline bool operator==(const TimeStamp& a, const TimeStamp& b) {
    return a.seconds == b.seconds && a.milliseconds == b.milliseconds &&
           a.timezoneMinutesWest == b.timezoneMinutesWest && a.daylightSaving == b.daylightSaving;
}

// `now` plus the milliseconds, the millisecond field kept within 0 to 999
// (Clock::timeStampIn does it from the clock's present).
TimeStamp timeStampAfter(const TimeStamp& now, int32_t milliseconds);
// The milliseconds from `now` until the deadline, never negative.
int32_t millisecondsBetween(const TimeStamp& now, const TimeStamp& deadline);
