#include "tests/unit/support/TestClock.h"

#include <ctime>

LocalTime TestClock::localTime(int32_t secondsSinceEpoch) const {
    const std::time_t local = std::time_t{secondsSinceEpoch} + std::time_t{utcOffsetMinutes_} * 60;
    const std::tm fields = *std::gmtime(&local);
    return {fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday,
            fields.tm_hour,        fields.tm_min,     fields.tm_sec};
}

void TestClock::advance(int64_t milliseconds) {
    const int64_t total = int64_t{now_.seconds} * 1000 + now_.milliseconds + milliseconds;
    now_.seconds = static_cast<int32_t>(total / 1000);
    now_.milliseconds = static_cast<uint16_t>(total % 1000);
    processMilliseconds_ += milliseconds;
}
