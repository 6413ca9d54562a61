#include <gtest/gtest.h>

#include <limits>

#include "core/Clock.h"
#include "core/TimeStamp.h"

namespace {

TimeStamp at(int32_t seconds, uint16_t milliseconds) {
    TimeStamp stamp;
    stamp.seconds = seconds;
    stamp.milliseconds = milliseconds;
    return stamp;
}

TEST(TimeStampArithmetic, AddingCarriesWholeSecondsOutOfTheMilliseconds) {
    const TimeStamp result = timeStampAfter(at(100, 800), 1500);
    EXPECT_EQ(result.seconds, 102);
    EXPECT_EQ(result.milliseconds, 300);
}

TEST(TimeStampArithmetic, NegativeOffsetsBorrowSeconds) {
    const TimeStamp result = timeStampAfter(at(100, 200), -500);
    EXPECT_EQ(result.seconds, 99);
    EXPECT_EQ(result.milliseconds, 700);

    const TimeStamp exact = timeStampAfter(at(100, 0), -2000);
    EXPECT_EQ(exact.seconds, 98);
    EXPECT_EQ(exact.milliseconds, 0);
}

TEST(TimeStampArithmetic, ZoneAndDaylightFieldsTravelUnchanged) {
    TimeStamp now = at(100, 0);
    now.timezoneMinutesWest = -60;
    now.daylightSaving = 1;
    const TimeStamp result = timeStampAfter(now, 60000);
    EXPECT_EQ(result.timezoneMinutesWest, -60);
    EXPECT_EQ(result.daylightSaving, 1);
}

TEST(TimeStampArithmetic, LowerMillisecondFieldInTheDeadlineIsBorrowed) {
    // Two seconds later in the seconds field, 500 lower in the milliseconds.
    EXPECT_EQ(millisecondsBetween(at(1000, 700), at(1002, 200)), 1500);
}

TEST(TimeStampArithmetic, PastDeadlinesGiveZero) {
    EXPECT_EQ(millisecondsBetween(at(1000, 500), at(999, 500)), 0);
    EXPECT_EQ(millisecondsBetween(at(1000, 500), at(1000, 499)), 0);
    EXPECT_EQ(millisecondsBetween(at(1000, 500), at(1000, 500)), 0);
}

TEST(TimeStampArithmetic, FarDeadlinesAreClampedToA32BitDelay) {
    EXPECT_EQ(millisecondsBetween(at(0, 0), at(std::numeric_limits<int32_t>::max(), 999)),
              std::numeric_limits<int32_t>::max());
}

TEST(TimeStampArithmetic, SecondsNeverOverflow) {
    const TimeStamp result = timeStampAfter(at(std::numeric_limits<int32_t>::max(), 999), 5000);
    EXPECT_EQ(result.seconds, std::numeric_limits<int32_t>::max());
}

TEST(TimeStampClock, SystemClockIsCloseToTheCRuntime) {
    SystemClock system;
    const TimeStamp now = system.now();
    const auto reference = static_cast<int32_t>(std::time(nullptr));
    EXPECT_LE(std::abs(now.seconds - reference), 2);
    EXPECT_LT(now.milliseconds, 1000);
    EXPECT_GE(system.processMilliseconds(), 0);
}

TEST(TimeStampClock, SystemLocalTimeAgreesWithTheCRuntime) {
    SystemClock system;
    const std::time_t moment = 1311584703;  // 2011-07-25 09:05:03 UTC
    const std::tm* expected = std::localtime(&moment);
    const LocalTime local = system.localTime(static_cast<int32_t>(moment));
    EXPECT_EQ(local.year, expected->tm_year + 1900);
    EXPECT_EQ(local.month, expected->tm_mon + 1);
    EXPECT_EQ(local.day, expected->tm_mday);
    EXPECT_EQ(local.hour, expected->tm_hour);
    EXPECT_EQ(local.minute, expected->tm_min);
    EXPECT_EQ(local.second, expected->tm_sec);
}

}  // namespace
