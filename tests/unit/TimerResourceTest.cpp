#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/CycleGate.h"
#include "core/EventListeners.h"
#include "core/Log.h"
#include "tests/unit/support/EventRecorder.h"
#include "tests/unit/support/FakeMainWindow.h"
#include "tests/unit/support/FakeWindowTimers.h"
#include "tests/unit/support/TestClock.h"
#include "timer/TimerResource.h"

namespace {

// 2012-01-01 08:03:09.000 UTC, local time equal to UTC unless a test shifts it.
constexpr int32_t start = 1325404989;

TimeStamp at(int32_t seconds, uint16_t milliseconds) {
    TimeStamp stamp;
    stamp.seconds = seconds;
    stamp.milliseconds = milliseconds;
    return stamp;
}

using Strings = std::vector<std::string>;

class TimerResourceTest : public ::testing::Test {
  protected:
    TimerResourceTest() {
        setLoggingEnabled(true);
        recorder.listenTo(timer);
    }

    bool logged(const std::string& message) const {
        const auto lines = window.logLines();
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.size() >= message.size() &&
                   line.compare(line.size() - message.size(), message.size(), message) == 0;
        });
    }

    TestClock clock{start, 500};
    FakeMainWindow window;
    LogCapture capture{window};
    FakeWindowTimers timers;
    CycleGate gate;
    TimerResource timer{timers, gate, clock};
    EventRecorder recorder;
};

TEST_F(TimerResourceTest, MillisecondsUntilBorrowsGivesZeroForThePastAndClamps) {
    clock.set(start, 700);
    const std::pair<TimeStamp, int32_t> cases[] = {
        {at(start + 2, 200), 1500},  // two seconds on, 500 lower in milliseconds
        {at(start, 700), 0},
        {at(start, 701), 1},
        {at(start - 1, 900), 0},
        {at(start, 699), 0},
        {at(-2147483647 - 1, 0), 0},
        {at(start + 2147484, 0), 2147483300},
        {at(start + 2147484, 400), 2147483647},
        {at(2147483647, 999), 2147483647},
    };
    for (const auto& [deadline, expected] : cases) {
        EXPECT_EQ(timer.millisecondsUntil(deadline), expected)
            << deadline.seconds - start << " s " << deadline.milliseconds << " ms";
    }
    timer.startHelloThreadIn(at(2147483647, 999), 0);
    EXPECT_EQ(timers.armings.at(0).delay, 2147483647u);
}

TEST_F(TimerResourceTest, InitSetsBothDeadlinesToNowAndTheReasonToZero) {
    timer.startHelloThreadIn(at(start + 60, 0), 9);
    timer.startTransmitThreadIn(at(start + 30, 0));
    clock.advance(1000);
    EXPECT_EQ(timer.init(), 0);
    EXPECT_EQ(timer.getHelloDeadline(), at(start + 1, 500));
    EXPECT_EQ(timer.getTransmitDeadline(), at(start + 1, 500));
    EXPECT_EQ(timer.getHelloReason(), 0);
    EXPECT_EQ(timer.start(), 0);
}

TEST_F(TimerResourceTest, AHelloArmsTimerOneLogsAndAnnouncesTheClockTime) {
    timer.startHelloThreadIn(at(start + 10, 0), 4);
    ASSERT_EQ(timers.armings.size(), 1u);
    EXPECT_EQ(timers.armings[0].id, 1u);
    EXPECT_EQ(timers.armings[0].delay, 9500u);
    EXPECT_TRUE(logged("startHelloThreadIn starts in[ms]: 9500"));
    EXPECT_TRUE(logged("startHelloThreadIn helloReason: 4"));
    EXPECT_EQ(recorder.summary(), Strings{"NotifyTimerStateEvent=08:03"});
    EXPECT_EQ(timer.getHelloDeadline(), at(start + 10, 0));
    EXPECT_EQ(timer.getHelloReason(), 4);
}

TEST_F(TimerResourceTest, APastDeadlineArmsAtOnceAndTheClockTimeIsLocal) {
    // 08:03 UTC is 09:03 one hour east, 23:03 the evening before nine hours
    // west and 00:03 eight hours west.
    for (const int offsetMinutes : {60, -9 * 60, -8 * 60}) {
        clock.setUtcOffsetMinutes(offsetMinutes);
        timer.startHelloThreadIn(at(start - 1, 500), 0);
        EXPECT_EQ(timers.armings.back().delay, 0u);
    }
    EXPECT_TRUE(logged("startHelloThreadIn starts in[ms]: 0"));
    EXPECT_EQ(recorder.summary(),
              (Strings{"NotifyTimerStateEvent=09:03", "NotifyTimerStateEvent=23:03",
                       "NotifyTimerStateEvent=00:03"}));
}

TEST_F(TimerResourceTest, TheExpiryKillsItsTimerFirstAndFiresTheReasonOnce) {
    timer.startHelloThreadIn(at(start + 1, 0), 3);
    recorder.records.clear();
    ASSERT_TRUE(timers.expire(1));
    EXPECT_EQ(timers.kills, (std::vector<unsigned>{1}));
    EXPECT_FALSE(timers.expire(1));
    EXPECT_EQ(recorder.summary(), Strings{"CyclicHelloEvent=3"});
    EXPECT_TRUE(logged("## ------------------ startHelloThreadIn is already started ##"));
}

TEST_F(TimerResourceTest, ASecondRequestReplacesThePendingOneAndItsReason) {
    timer.startHelloThreadIn(clock.timeStampIn(10000), 5);
    timer.startHelloThreadIn(clock.timeStampIn(60000), 6);
    EXPECT_EQ(timers.armings.at(1).delay, 60000u);
    recorder.records.clear();
    clock.advance(60000);
    ASSERT_TRUE(timers.expire(1));
    EXPECT_FALSE(timers.expire(1));
    EXPECT_EQ(recorder.summary(), Strings{"CyclicHelloEvent=6"});
}

TEST_F(TimerResourceTest, TheCycleMayArmItsOwnTimerAgain) {
    EventListeners<CyclicHelloEvent> replanner(
        [this](const CyclicHelloEvent&) { timer.startHelloThreadIn(clock.timeStampIn(60000), 0); });
    replanner.listenTo(timer.getActivities());
    timer.startHelloThreadIn(clock.timeStampIn(0), 1);
    ASSERT_TRUE(timers.expire(1));
    EXPECT_TRUE(timers.isPending(1));
    EXPECT_EQ(timers.armings.back().delay, 60000u);
}

TEST_F(TimerResourceTest, ATransmitUsesTimerTwoAloneAnnouncesNothingAndFiresOnce) {
    timer.startHelloThreadIn(at(start + 5, 0), 1);
    recorder.records.clear();
    timer.startTransmitThreadIn(at(start, 0));
    timer.startTransmitThreadIn(at(start + 3, 0));
    EXPECT_EQ(timers.armings.back().id, 2u);
    EXPECT_EQ(timers.armings.back().delay, 2500u);
    EXPECT_TRUE(logged("startTransmitThreadIn starts in[ms]: 2500"));
    EXPECT_TRUE(recorder.records.empty());
    EXPECT_EQ(timer.getTransmitDeadline(), at(start + 3, 0));
    ASSERT_TRUE(timers.expire(2));
    EXPECT_FALSE(timers.expire(2));
    EXPECT_TRUE(timers.isPending(1));
    EXPECT_EQ(recorder.summary(), Strings{"CyclicTransmitEvent="});
    EXPECT_TRUE(logged("## ------------------ startTransmitThreadIn is already started ##"));
}

// An expiry dispatched inside a running cycle waits for it. If that cycle
// plans the next hello anew, the waiting expiry is stale: running it would
// say hello at once instead of at the newer time.
TEST_F(TimerResourceTest, AnExpiryThatHadToWaitRunsAfterTheCycleUnlessReplanned) {
    timer.startHelloThreadIn(at(start, 0), 4);
    timer.startTransmitThreadIn(at(start, 0));
    gate.run("cycle", [&] {
        timers.expire(1);
        timers.expire(2);
        EXPECT_TRUE(recorder.names().empty() || recorder.names().back() == "NotifyTimerStateEvent");
        // The transmit expiry stays current; the hello is planned anew.
        timer.startHelloThreadIn(at(start + 60, 0), 0);
    });

    int hellos = 0;
    int transmits = 0;
    for (const auto& record : recorder.records) {
        hellos += record.name == "CyclicHelloEvent" ? 1 : 0;
        transmits += record.name == "CyclicTransmitEvent" ? 1 : 0;
    }
    EXPECT_EQ(transmits, 1);
    EXPECT_EQ(hellos, 0);
    EXPECT_TRUE(timers.isPending(1));
    EXPECT_EQ(timers.armings.back().delay, 60000u - 500u);
}

}  // namespace
