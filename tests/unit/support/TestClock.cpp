#include "tests/unit/support/TestClock.h"

namespace {

// Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
void civilFromDays(int64_t days, int& year, int& month, int& day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

}  // namespace

LocalTime TestClock::localTime(int32_t secondsSinceEpoch) const {
    const int64_t local = int64_t{secondsSinceEpoch} + int64_t{utcOffsetMinutes_} * 60;
    int64_t days = local / 86400;
    int64_t secondOfDay = local % 86400;
    if (secondOfDay < 0) {
        secondOfDay += 86400;
        days -= 1;
    }
    LocalTime result;
    civilFromDays(days, result.year, result.month, result.day);
    result.hour = static_cast<int>(secondOfDay / 3600);
    result.minute = static_cast<int>(secondOfDay / 60 % 60);
    result.second = static_cast<int>(secondOfDay % 60);
    return result;
}

void TestClock::advance(int64_t milliseconds) {
    const int64_t total = int64_t{now_.seconds} * 1000 + now_.milliseconds + milliseconds;
    now_.seconds = static_cast<int32_t>(total / 1000);
    now_.milliseconds = static_cast<uint16_t>(total % 1000);
    processMilliseconds_ += milliseconds;
}
