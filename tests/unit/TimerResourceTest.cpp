#include <gtest/gtest.h>

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

using Strings = std::vector<std::string>;

class TimerResourceTest : public ::testing::Test {
  protected:
    TimerResourceTest() {
        setLoggingEnabled(true);
        recorder.listenTo(timer);
    }

    TestClock clock{start, 500};
    FakeMainWindow window;
    LogCapture capture{window};
    FakeWindowTimers timers;
    CycleGate gate;
    TimerResource timer{timers, gate, clock};
    EventRecorder recorder;
};

// Timer 1 carries the hello's reason and is announced with the clock time
// of the deadline, in local time; a past deadline arms at once.
TEST_F(TimerResourceTest, AHelloArmsTimerOneAndAnnouncesTheLocalClockTime) {
    timer.startHelloThreadIn(at(start + 10, 0), 4);
    ASSERT_EQ(timers.armings.size(), 1u);
    EXPECT_EQ(timers.armings[0].id, 1u);
    EXPECT_EQ(timers.armings[0].delay, 9500u);
    EXPECT_TRUE(window.logged("startHelloThreadIn starts in[ms]: 9500"));
    EXPECT_TRUE(window.logged("startHelloThreadIn helloReason: 4"));
    EXPECT_EQ(timer.getHelloReason(), 4);
    // 08:03 UTC is 09:03 one hour east, 23:03 the evening before nine hours
    // west and 00:03 eight hours west.
    for (const int offsetMinutes : {60, -9 * 60, -8 * 60}) {
        clock.setUtcOffsetMinutes(offsetMinutes);
        timer.startHelloThreadIn(at(start - 1, 500), 0);
        EXPECT_EQ(timers.armings.back().delay, 0u);
    }
    EXPECT_EQ(recorder.summary(),
              (Strings{"NotifyTimerStateEvent=08:03", "NotifyTimerStateEvent=09:03",
                       "NotifyTimerStateEvent=23:03", "NotifyTimerStateEvent=00:03"}));
    timer.startHelloThreadIn(at(2147483647, 999), 0);
    EXPECT_EQ(timers.armings.back().delay, 2147483647u);
}

// A window timer repeats: the expiry kills it first, and the last request
// before it decides the reason.
TEST_F(TimerResourceTest, TheExpiryKillsItsTimerFirstAndFiresTheLastReasonOnce) {
    timer.startHelloThreadIn(clock.timeStampIn(10000), 5);
    timer.startHelloThreadIn(clock.timeStampIn(60000), 6);
    EXPECT_EQ(timers.armings.at(1).delay, 60000u);
    recorder.records.clear();
    ASSERT_TRUE(timers.expire(1));
    EXPECT_EQ(timers.kills, (std::vector<unsigned>{1}));
    EXPECT_FALSE(timers.expire(1));
    EXPECT_EQ(recorder.summary(), Strings{"CyclicHelloEvent=6"});
    EXPECT_TRUE(window.logged("## ------------------ startHelloThreadIn is already started ##"));
}

}  // namespace
