#pragma once

#include <cstdint>

#include "core/Event.h"
#include "core/TimeStamp.h"

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
