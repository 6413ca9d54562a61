// The log, time stamps and the clock, and the activity registry's dispatch.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <vector>

#include "activities/HelloEvents.h"
#include "activities/StatusEvents.h"
#include "core/ActivityRegistry.h"
#include "core/Clock.h"
#include "core/EventListeners.h"
#include "core/Log.h"
#include "core/TimeStamp.h"
#include "tests/unit/support/FakeMainWindow.h"
#include "tests/unit/support/TestClock.h"

namespace {

using Strings = std::vector<std::string>;

class LogTest : public ::testing::Test {
  protected:
    LogTest() { clock.setProcessMilliseconds(1532); }
    TestClock clock;
    FakeMainWindow window;
    LogCapture capture{window, clock};
};

TEST_F(LogTest, ALineIsTheProcessClockAndTheMessageOnlyWhileLoggingIsOn) {
    log("Initialisation: ...");
    log("value ", 5);
    EXPECT_TRUE(window.commands.empty());
    setLoggingEnabled(true);
    log("a: ", std::string("b"));
    log("count: ", -5);
    ASSERT_EQ(window.commands.size(), 2u);
    EXPECT_EQ(window.commands[0].code, static_cast<unsigned>(ID_LOG_LINE));
    EXPECT_EQ(window.logLines(), (Strings{" - [1532] a: b", " - [1532] count: -5"}));
    setLogSink(nullptr);  // without a sink lines are dropped quietly
    log("lost");
    EXPECT_EQ(window.commands.size(), 2u);
}

// Text from outside must not make the log show what the agent did not write.
TEST_F(LogTest, ControlCharactersOtherThanLineBreaksAreShownEscaped) {
    setLoggingEnabled(true);
    const std::pair<std::string, std::string> cases[] = {
        {"bell\a", "bell\\x07"},
        {std::string("zero\0byte", 9), "zero\\x00byte"},
        {"tab\tback\bspace", "tab\\x09back\\x08space"},
        {"\x1b[2K\x1b[1A - [9] forged\x7f", "\\x1b[2K\\x1b[1A - [9] forged\\x7f"},
        {"lines\r\nstay\nas\rthey are", "lines\r\nstay\nas\rthey are"},
        {"caf\xe9 \x80\xff", "caf\xe9 \x80\xff"},
    };
    for (const auto& [message, shown] : cases) {
        window.commands.clear();
        log("portal: ", message);
        EXPECT_EQ(window.logLines(), Strings{" - [1532] portal: " + shown}) << shown;
    }
}

// Newest registration first, each logged in local time before it runs.
TEST_F(LogTest, ActivitiesRunNewestFirstEachLoggedBeforeItRuns) {
    clock.setUtcOffsetMinutes(120);  // 2012-01-01 08:03:09 UTC
    ActivityRegistry registry;
    Strings entries;
    EventListeners<NotifyUSBStateEvent> first([&](const auto&) { entries.push_back("first"); });
    EventListeners<NotifyUSBStateEvent> second([&](const auto&) {
        entries.push_back("second, lines " + std::to_string(window.logLines().size()));
    });
    first.listenTo(registry);
    second.listenTo(registry);
    setLoggingEnabled(true);
    NotifyUSBStateEvent event(true);
    registry.fire(&event);
    ContinueHelloEvent unregistered;
    registry.fire(&unregistered);
    EXPECT_EQ(entries, (Strings{"second, lines 1", "first"}));
    const std::string line = " - [1532] 2012.1.1 10:3:9 - EventListener";
    EXPECT_EQ(window.logLines(), (Strings{line, line}));
}

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
