#pragma once

#include <cstdint>

#include "core/Event.h"
#include "core/TimeStamp.h"

// The hello reasons the agent decides itself; a run-time record made afresh
// starts with the configured REASON.
namespace helloReason {
// Stored once the portal's page was opened in the browser, and kept.
constexpr int32_t portalPageOpened = 0;
// Sent instead of the stored reason when the dongle's serial number changed.
constexpr int32_t dongleReplaced = 1;
// The user's Open Portal: said at once, never stored.
constexpr int32_t openPortal = 2;
}  // namespace helloReason

// A new time for the next hello has been decided.
class CyclicHelloTimeEvent final : public NamedEvent<CyclicHelloTimeEvent> {
  public:
    static const char* className() { return "CyclicHelloTimeEvent"; }
    CyclicHelloTimeEvent(const TimeStamp& time, int32_t reason) : time_(time), reason_(reason) {}
    const TimeStamp& getTime() const { return time_; }
    int32_t getReason() const { return reason_; }

  private:
    TimeStamp time_;
    int32_t reason_;
};

// The hello timer has expired: say hello now, with this reason.
class CyclicHelloEvent final : public NamedEvent<CyclicHelloEvent> {
  public:
    static const char* className() { return "CyclicHelloEvent"; }
    explicit CyclicHelloEvent(int32_t reason) : reason_(reason) {}
    int32_t getReason() const { return reason_; }

  private:
    int32_t reason_;
};

// Reading the dongle failed: the next hello is planned after the error interval.
class ContinueHelloEvent final : public NamedEvent<ContinueHelloEvent> {
  public:
    static const char* className() { return "ContinueHelloEvent"; }
};
