#pragma once

#include "core/Activity.h"

class TimerResource;

// A new time for the next hello has been decided: arm the hello timer for
// it, replacing any pending one.
class CyclicHelloTimeActivity final : public NamedActivity<CyclicHelloTimeActivity> {
  public:
    static const char* className() { return "CyclicHelloTimeActivity"; }
    void setTimerResource(TimerResource* timer) { timer_ = timer; }
    void execute(Event* event) override;

  private:
    TimerResource* timer_ = nullptr;
};

// A new time for the next transmission has been decided: arm the transmit
// timer for it, replacing any pending one.
class CyclicTransmitTimeActivity final : public NamedActivity<CyclicTransmitTimeActivity> {
  public:
    static const char* className() { return "CyclicTransmitTimeActivity"; }
    void setTimerResource(TimerResource* timer) { timer_ = timer; }
    void execute(Event* event) override;

  private:
    TimerResource* timer_ = nullptr;
};
