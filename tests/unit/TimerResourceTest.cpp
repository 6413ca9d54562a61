#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

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

// Fires a chosen failure from inside a cycle, then records what it saw.
class FailingActivity final : public Activity {
  public:
    enum class Raise { integer, text, other };
    explicit FailingActivity(Raise raise) : raise_(raise) {}
    const char* getName() const override { return "FailingActivity"; }
    void execute(Event*) override {
        ++runs;
        switch (raise_) {
            case Raise::integer:
                throw 7;
            case Raise::text:
                throw std::runtime_error("dongle gone");
            case Raise::other:
                throw 'x';
        }
    }
    int runs = 0;

  private:
    Raise raise_;
};

class TimerResourceTest : public ::testing::Test {
  protected:
    TimerResourceTest() {
        setProcessClock(&clock);
        setMainWindowCommands(&window);
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

    ProcessStateGuard guard;
    TestClock clock{start, 500};
    FakeMainWindow window;
    FakeWindowTimers timers;
    TimerResource timer{timers};
    EventRecorder recorder;
};

// --- time left -------------------------------------------------------------

TEST_F(TimerResourceTest, MillisecondsUntilBorrowsFromTheSecondsDifference) {
    // Two seconds later in its seconds field and 500 lower in its milliseconds.
    clock.set(start, 700);
    EXPECT_EQ(timer.millisecondsUntil(at(start + 2, 200)), 1500);
    EXPECT_EQ(timer.millisecondsUntil(at(start, 700)), 0);
    EXPECT_EQ(timer.millisecondsUntil(at(start, 701)), 1);
}

TEST_F(TimerResourceTest, PastDeadlinesGiveZero) {
    EXPECT_EQ(timer.millisecondsUntil(at(start - 1, 500)), 0);
    EXPECT_EQ(timer.millisecondsUntil(at(start, 499)), 0);
    EXPECT_EQ(timer.millisecondsUntil(at(-2147483647 - 1, 0)), 0);
}

TEST_F(TimerResourceTest, DeadlinesBeyondThirtyTwoBitsAreClamped) {
    EXPECT_EQ(timer.millisecondsUntil(at(start + 2147484, 0)), 2147483500);
    EXPECT_EQ(timer.millisecondsUntil(at(start + 2147484, 500)), 2147483647);
    EXPECT_EQ(timer.millisecondsUntil(at(2147483647, 999)), 2147483647);
    timer.startHelloThreadIn(at(2147483647, 999), 0);
    ASSERT_EQ(timers.armings.size(), 1u);
    EXPECT_EQ(timers.armings[0].delay, 2147483647u);
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

// --- the hello timer -------------------------------------------------------

TEST_F(TimerResourceTest, AHelloArmsTimerOneLogsAndAnnouncesTheClockTime) {
    timer.startHelloThreadIn(at(start + 10, 0), 4);
    ASSERT_EQ(timers.armings.size(), 1u);
    EXPECT_EQ(timers.armings[0].id, 1u);
    EXPECT_EQ(timers.armings[0].delay, 9500u);
    EXPECT_TRUE(logged("startHelloThreadIn starts in[ms]: 9500"));
    EXPECT_TRUE(logged("startHelloThreadIn helloReason: 4"));
    ASSERT_EQ(recorder.names(), (std::vector<std::string>{"NotifyTimerStateEvent"}));
    EXPECT_EQ(recorder.records[0].text, "08:03");
    EXPECT_EQ(timer.getHelloDeadline(), at(start + 10, 0));
    EXPECT_EQ(timer.getHelloReason(), 4);
}

TEST_F(TimerResourceTest, TheClockTimeIsLocalWithTwoDigitsEach) {
    clock.setUtcOffsetMinutes(60);
    // 08:03 UTC is 09:03 one hour east.
    timer.startHelloThreadIn(at(start, 0), 0);
    clock.setUtcOffsetMinutes(-9 * 60);
    // 23:03 the evening before.
    timer.startHelloThreadIn(at(start, 0), 0);
    clock.setUtcOffsetMinutes(-8 * 60);
    // 00:03.
    timer.startHelloThreadIn(at(start, 0), 0);
    ASSERT_EQ(recorder.records.size(), 3u);
    EXPECT_EQ(recorder.records[0].text, "09:03");
    EXPECT_EQ(recorder.records[1].text, "23:03");
    EXPECT_EQ(recorder.records[2].text, "00:03");
}

TEST_F(TimerResourceTest, TheExpiryKillsItsTimerFirstAndFiresTheReasonOnce) {
    timer.startHelloThreadIn(at(start + 1, 0), 3);
    recorder.records.clear();
    ASSERT_TRUE(timers.expire(1));
    EXPECT_EQ(timers.kills, (std::vector<unsigned>{1}));
    EXPECT_FALSE(timers.isPending(1));
    ASSERT_EQ(recorder.names(), (std::vector<std::string>{"CyclicHelloEvent"}));
    EXPECT_EQ(recorder.records[0].number, 3);
    EXPECT_TRUE(logged("## ------------------ startHelloThreadIn is already started ##"));
}

TEST_F(TimerResourceTest, ASecondRequestReplacesThePendingOneAndItsReason) {
    timer.startHelloThreadIn(timeStampIn(10000), 5);
    timer.startHelloThreadIn(timeStampIn(60000), 6);
    ASSERT_EQ(timers.armings.size(), 2u);
    EXPECT_EQ(timers.armings[1].delay, 60000u);
    EXPECT_EQ(timers.pending.size(), 1u);
    recorder.records.clear();
    clock.advance(60000);
    ASSERT_TRUE(timers.expire(1));
    EXPECT_FALSE(timers.expire(1));
    ASSERT_EQ(recorder.names(), (std::vector<std::string>{"CyclicHelloEvent"}));
    EXPECT_EQ(recorder.records[0].number, 6);
}

TEST_F(TimerResourceTest, APastDeadlineArmsWithNoDelay) {
    timer.startHelloThreadIn(at(start - 1, 500), 2);
    ASSERT_EQ(timers.armings.size(), 1u);
    EXPECT_EQ(timers.armings[0].delay, 0u);
    EXPECT_TRUE(logged("startHelloThreadIn starts in[ms]: 0"));
}

TEST_F(TimerResourceTest, TheCycleMayArmItsOwnTimerAgain) {
    // An activity that plans the next hello from inside the hello.
    struct Replanner final : Activity {
        TimerResource* timer = nullptr;
        const char* getName() const override { return "Replanner"; }
        void execute(Event*) override { timer->startHelloThreadIn(timeStampIn(60000), 0); }
    } replanner;
    replanner.timer = &timer;
    timer.getActivities().add(&replanner, CyclicHelloEvent::className());
    timer.startHelloThreadIn(timeStampIn(0), 1);
    ASSERT_TRUE(timers.expire(1));
    EXPECT_TRUE(timers.isPending(1));
    EXPECT_EQ(timers.armings.back().delay, 60000u);
}

// --- the transmit timer ----------------------------------------------------

TEST_F(TimerResourceTest, ATransmitArmsTimerTwoAndAnnouncesNothing) {
    timer.startTransmitThreadIn(at(start + 3, 0));
    ASSERT_EQ(timers.armings.size(), 1u);
    EXPECT_EQ(timers.armings[0].id, 2u);
    EXPECT_EQ(timers.armings[0].delay, 2500u);
    EXPECT_TRUE(logged("startTransmitThreadIn starts in[ms]: 2500"));
    EXPECT_TRUE(recorder.records.empty());
    EXPECT_EQ(timer.getTransmitDeadline(), at(start + 3, 0));
}

TEST_F(TimerResourceTest, TheTransmitExpiryFiresAnEmptyFrameListOnce) {
    timer.startTransmitThreadIn(at(start, 0));
    timer.startTransmitThreadIn(at(start + 1, 0));
    ASSERT_TRUE(timers.expire(2));
    EXPECT_FALSE(timers.isPending(2));
    ASSERT_EQ(recorder.names(), (std::vector<std::string>{"CyclicTransmitEvent"}));
    EXPECT_TRUE(recorder.records[0].frames.empty());
    EXPECT_TRUE(logged("## ------------------ startTransmitThreadIn is already started ##"));
}

TEST_F(TimerResourceTest, TheTwoTimersAreIndependent) {
    timer.startHelloThreadIn(at(start + 5, 0), 1);
    timer.startTransmitThreadIn(at(start + 5, 0));
    ASSERT_TRUE(timers.expire(2));
    EXPECT_TRUE(timers.isPending(1));
    EXPECT_FALSE(timers.isPending(2));
}

// --- errors inside a cycle -------------------------------------------------

TEST_F(TimerResourceTest, AnErrorEndsOnlyTheCycleItHappenedIn) {
    for (const auto raise : {FailingActivity::Raise::integer, FailingActivity::Raise::text,
                             FailingActivity::Raise::other}) {
        TimerResource resource(timers);
        FailingActivity failing(raise);
        // Registered last, so it runs first; the recorder after it never does.
        recorder.records.clear();
        recorder.listenTo(resource);
        resource.getActivities().add(&failing, CyclicHelloEvent::className());
        resource.getActivities().add(&failing, CyclicTransmitEvent::className());

        resource.startHelloThreadIn(at(start, 0), 1);
        resource.startTransmitThreadIn(at(start, 0));
        recorder.records.clear();
        EXPECT_NO_THROW(timers.expire(1));
        EXPECT_NO_THROW(timers.expire(2));
        EXPECT_EQ(failing.runs, 2);
        EXPECT_TRUE(recorder.records.empty());
        // The timers were killed before the cycle started; nothing re-armed them.
        EXPECT_FALSE(timers.isPending(1));
        EXPECT_FALSE(timers.isPending(2));

        // The next request works as ever.
        resource.startHelloThreadIn(at(start, 0), 2);
        EXPECT_TRUE(timers.isPending(1));
    }
    EXPECT_TRUE(logged("[TimerResource::helloTimerProc] cycle ended by an error: dongle gone"));
    EXPECT_TRUE(logged("[TimerResource::transmitTimerProc] cycle ended by an unknown error"));
}

}  // namespace
