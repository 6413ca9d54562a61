#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <vector>

#include "core/Clock.h"
#include "core/TimeStamp.h"

namespace {

constexpr int32_t maxSeconds = std::numeric_limits<int32_t>::max();

TimeStamp at(int32_t seconds, uint16_t milliseconds) {
    TimeStamp stamp;
    stamp.seconds = seconds;
    stamp.milliseconds = milliseconds;
    return stamp;
}

TEST(TimeStampArithmetic, OffsetsCarryAndBorrowWholeSecondsAndNeverOverflow) {
    const struct {
        TimeStamp from;
        int32_t offset;
        TimeStamp expected;
    } cases[] = {
        {at(100, 800), 1500, at(102, 300)},
        {at(100, 200), -500, at(99, 700)},
        {at(100, 0), -2000, at(98, 0)},
        {at(maxSeconds, 999), 5000, at(maxSeconds, 999)},
    };
    for (const auto& c : cases) {
        const TimeStamp result = timeStampAfter(c.from, c.offset);
        EXPECT_EQ(result.seconds, c.expected.seconds) << c.offset;
        EXPECT_EQ(result.milliseconds, c.expected.milliseconds) << c.offset;
    }
}

// What a timer is armed with: zero for the past, clamped to 32 bits.
TEST(TimeStampArithmetic, MillisecondsUntilADeadline) {
    const TimeStamp now = at(1000, 700);
    const std::pair<TimeStamp, int32_t> cases[] = {
        {at(1002, 200), 1500},
        {at(1000, 700), 0},
        {at(1000, 701), 1},
        {at(999, 900), 0},
        {at(1000, 699), 0},
        {at(-2147483647 - 1, 0), 0},
        {at(2148484, 0), 2147483300},
        {at(2148484, 400), 2147483647},
        {at(maxSeconds, 999), 2147483647},
    };
    for (const auto& [deadline, expected] : cases) {
        EXPECT_EQ(millisecondsBetween(now, deadline), expected)
            << deadline.seconds << " s " << deadline.milliseconds << " ms";
    }
}

TEST(TimeStampClock, TheSystemClockAgreesWithTheCRuntime) {
    SystemClock system;
    const TimeStamp now = system.now();
    EXPECT_LE(std::abs(now.seconds - static_cast<int32_t>(std::time(nullptr))), 2);
    EXPECT_LT(now.milliseconds, 1000);
    EXPECT_GE(system.processMilliseconds(), 0);

    const std::time_t moment = 1311584703;  // 2011-07-25 09:05:03 UTC
    const std::tm expected = *std::localtime(&moment);
    const LocalTime local = system.localTime(static_cast<int32_t>(moment));
    EXPECT_EQ((std::vector<int>{local.year, local.month, local.day, local.hour, local.minute,
                                local.second}),
              (std::vector<int>{expected.tm_year + 1900, expected.tm_mon + 1, expected.tm_mday,
                                expected.tm_hour, expected.tm_min, expected.tm_sec}));
}

}  // namespace
