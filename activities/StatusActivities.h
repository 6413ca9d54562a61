#pragma once

#include "activities/StatusEvents.h"
#include "core/Activity.h"

class Clock;
class FilesystemResource;
class UserInterfaceResource;

// The portal set the time until the next hello: plan it, replacing
// whatever was planned.
class IntervalActivity final : public EventActivity<IntervalActivity, IntervalEvent> {
  public:
    static const char* className() { return "IntervalActivity"; }
    IntervalActivity(FilesystemResource& filesystem, const Clock& clock)
        : filesystem_(filesystem), clock_(clock) {}

  private:
    void handle(const IntervalEvent& event) override;
    FilesystemResource& filesystem_;
    const Clock& clock_;
};

// A portal exchange ended: show whether the portal was reached, and after a
// failure plan the next hello after the error interval.
class NotifyHTTPStateActivity final
    : public EventActivity<NotifyHTTPStateActivity, NotifyHTTPStateEvent> {
  public:
    static const char* className() { return "NotifyHTTPStateActivity"; }
    NotifyHTTPStateActivity(UserInterfaceResource& userInterface, FilesystemResource& filesystem)
        : userInterface_(userInterface), filesystem_(filesystem) {}

  private:
    void handle(const NotifyHTTPStateEvent& event) override;
    UserInterfaceResource& userInterface_;
    FilesystemResource& filesystem_;
};

// A hello was scheduled: show its time.
class NotifyTimerStateActivity final
    : public EventActivity<NotifyTimerStateActivity, NotifyTimerStateEvent> {
  public:
    static const char* className() { return "NotifyTimerStateActivity"; }
    explicit NotifyTimerStateActivity(UserInterfaceResource& userInterface)
        : userInterface_(userInterface) {}

  private:
    void handle(const NotifyTimerStateEvent& event) override;
    UserInterfaceResource& userInterface_;
};

// The dongle's state was learnt: show it.
class NotifyUSBStateActivity final
    : public EventActivity<NotifyUSBStateActivity, NotifyUSBStateEvent> {
  public:
    static const char* className() { return "NotifyUSBStateActivity"; }
    explicit NotifyUSBStateActivity(UserInterfaceResource& userInterface)
        : userInterface_(userInterface) {}

  private:
    void handle(const NotifyUSBStateEvent& event) override;
    UserInterfaceResource& userInterface_;
};

// A transmission compared the duty cycle with its limit: show the result.
class NotifyDutyCycleActivity final
    : public EventActivity<NotifyDutyCycleActivity, NotifyDutyCycleStateEvent> {
  public:
    static const char* className() { return "NotifyDutyCycleActivity"; }
    explicit NotifyDutyCycleActivity(UserInterfaceResource& userInterface)
        : userInterface_(userInterface) {}

  private:
    void handle(const NotifyDutyCycleStateEvent& event) override;
    UserInterfaceResource& userInterface_;
};
