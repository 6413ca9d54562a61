#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "core/Resource.h"
#include "core/TimeStamp.h"
#include "timer/WindowTimers.h"

// Turns the hello and transmit deadlines into CyclicHelloEvent and
// CyclicTransmitEvent, each on its own window timer of the main window, so
// both cycles run on the GUI thread. A new deadline replaces the pending one
// of its kind.
class Clock;
class CycleGate;

class TimerResource final : public Resource {
  public:
    static constexpr unsigned helloTimerId = 1;
    static constexpr unsigned transmitTimerId = 2;

    // Expiries pass through `gate`, so a cycle never starts inside another;
    // delays are measured on `clock`.
    TimerResource(WindowTimers& timers, CycleGate& gate, const Clock& clock);

    int start() override { return 0; }
    // Both deadlines now, hello reason 0.
    int init() override;

    void startHelloThreadIn(const TimeStamp& deadline, int32_t helloReason);
    void startTransmitThreadIn(const TimeStamp& deadline);

    // Milliseconds from now until the deadline: never negative, and clamped
    // to what a signed 32-bit count holds.
    int32_t millisecondsUntil(const TimeStamp& deadline) const;

    const TimeStamp& getHelloDeadline() const { return helloDeadline_; }
    const TimeStamp& getTransmitDeadline() const { return transmitDeadline_; }
    int32_t getHelloReason() const { return helloReason_; }

  private:
    void helloTimerProc(int32_t helloReason, uint64_t arming);
    void transmitTimerProc(uint64_t arming);

    WindowTimers& timers_;
    CycleGate& gate_;
    const Clock& clock_;
    // Count the armings, so an expiry that had to wait can tell whether a
    // newer plan replaced it meanwhile.
    // Start-up arms from the initialisation thread.
    std::atomic<uint64_t> helloArmings_{0};
    std::atomic<uint64_t> transmitArmings_{0};
    TimeStamp helloDeadline_;
    TimeStamp transmitDeadline_;
    int32_t helloReason_ = 0;
};

// "HH:MM" of the deadline in the clock's local time, 24-hour clock.
std::string nextPortalConnectionTimeText(const Clock& clock, const TimeStamp& deadline);
