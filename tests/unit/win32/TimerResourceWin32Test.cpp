// TimerResource on real window timers: a hidden window on the test thread,
// whose message loop the test runs until the expected event has come.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

#include "core/Clock.h"
#include "core/EventListeners.h"
#include "core/CycleGate.h"
#include "core/Log.h"
#include "tests/unit/support/EventRecorder.h"
#include "tests/unit/support/FakeMainWindow.h"
#include "timer/TimerResource.h"
#include "timer/win32/Win32WindowTimers.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Only reached when a test fails; generous for a loaded machine under Wine.
constexpr milliseconds eventDeadline{5000};
// How long after the expected event a second one is watched for.
constexpr milliseconds quietPeriod{300};

// Dispatches this thread's messages until `done` holds or the time is up.
bool pumpUntil(const std::function<bool()>& done, milliseconds limit) {
    const auto deadline = steady_clock::now() + limit;
    for (;;) {
        MSG message{};
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
        if (done()) {
            return true;
        }
        const auto now = steady_clock::now();
        if (now >= deadline) {
            return false;
        }
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - now).count() + 1;
        // MWMO_INPUTAVAILABLE: also wake for messages queued before the wait.
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(left), QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
    }
}

class TimerResourceOnWindowTimers : public ::testing::Test {
  protected:
    TimerResourceOnWindowTimers()
        : window_(CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleA(nullptr), nullptr)) {}
    ~TimerResourceOnWindowTimers() override {
        // The timers go before the window they live on.
        resource.reset();
        timers.reset();
        if (window_ != nullptr) {
            DestroyWindow(window_);
        }
    }

    void SetUp() override {
        ASSERT_NE(window_, nullptr) << GetLastError();
        timers = std::make_unique<Win32WindowTimers>(window_);
        resource = std::make_unique<TimerResource>(*timers, gate, clock);
        recorder.listenTo(*resource);
    }

    int hellos() const {
        int count = 0;
        for (const auto& record : recorder.records) {
            count += record.name == "CyclicHelloEvent" ? 1 : 0;
        }
        return count;
    }

    const EventRecorder::Record* firstHello() const {
        for (const auto& record : recorder.records) {
            if (record.name == "CyclicHelloEvent") {
                return &record;
            }
        }
        return nullptr;
    }

    FakeMainWindow logWindow;
    LogCapture capture{logWindow};
    SystemClock clock;
    CycleGate gate;
    HWND window_;
    std::unique_ptr<Win32WindowTimers> timers;
    std::unique_ptr<TimerResource> resource;
    EventRecorder recorder;
};

TEST_F(TimerResourceOnWindowTimers, AHelloFiresOnceWithTheArmedReason) {
    resource->startHelloThreadIn(clock.timeStampIn(30), 5);
    ASSERT_TRUE(pumpUntil([&] { return hellos() > 0; }, eventDeadline));
    pumpUntil([] { return false; }, quietPeriod);
    EXPECT_EQ(hellos(), 1);
    EXPECT_EQ(firstHello()->payload, "5");

    // One already due comes with the messages already queued, not after
    // the window timer's minimum, and still once.
    recorder.records.clear();
    resource->startHelloThreadIn(clock.now(), 6);
    MSG message{};
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageA(&message);
    }
    EXPECT_EQ(hellos(), 1);
    pumpUntil([] { return false; }, quietPeriod);
    EXPECT_EQ(hellos(), 1);
}

TEST_F(TimerResourceOnWindowTimers, ReArmingReplacesThePendingHello) {
    resource->startHelloThreadIn(clock.timeStampIn(10000), 1);
    resource->startHelloThreadIn(clock.timeStampIn(40), 2);
    ASSERT_TRUE(pumpUntil([&] { return hellos() > 0; }, eventDeadline));
    pumpUntil([] { return false; }, quietPeriod);
    EXPECT_EQ(hellos(), 1);
    EXPECT_EQ(firstHello()->payload, "2");
}

TEST_F(TimerResourceOnWindowTimers, ATransmitFiresOnceBesideAPendingHello) {
    resource->startHelloThreadIn(clock.timeStampIn(10000), 1);
    resource->startTransmitThreadIn(clock.timeStampIn(0));
    ASSERT_TRUE(pumpUntil(
        [&] {
            for (const auto& record : recorder.records) {
                if (record.name == "CyclicTransmitEvent") {
                    return true;
                }
            }
            return false;
        },
        eventDeadline));
    pumpUntil([] { return false; }, quietPeriod);
    int transmits = 0;
    for (const auto& record : recorder.records) {
        transmits += record.name == "CyclicTransmitEvent" ? 1 : 0;
    }
    EXPECT_EQ(transmits, 1);
    EXPECT_EQ(hellos(), 0);
}

// A hello that pumps messages (the shell's COM does, a modal loop does)
// dispatches the transmit timer's expiry inside itself; the transmission
// must wait until the hello has returned, then run once.
TEST_F(TimerResourceOnWindowTimers, ATransmitDueDuringAPumpingHelloRunsAfterIt) {
    int transmits = 0;
    int transmitsInside = -1;
    EventListeners<CyclicHelloEvent> hello([&](const CyclicHelloEvent&) {
        resource->startTransmitThreadIn(clock.timeStampIn(0));
        pumpUntil([] { return false; }, quietPeriod);
        transmitsInside = transmits;
    });
    EventListeners<CyclicTransmitEvent> transmit([&](const CyclicTransmitEvent&) { ++transmits; });
    hello.listenTo(resource->getActivities());
    transmit.listenTo(resource->getActivities());

    resource->startHelloThreadIn(clock.timeStampIn(0), 0);
    ASSERT_TRUE(pumpUntil([&] { return transmits > 0; }, eventDeadline));
    pumpUntil([] { return false; }, quietPeriod);
    EXPECT_EQ(transmitsInside, 0);
    EXPECT_EQ(transmits, 1);
}

}  // namespace
