#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "core/Event.h"
#include "portal/PortalURL.h"

// The portal set the time until the next hello, in milliseconds.
class IntervalEvent final : public NamedEvent<IntervalEvent> {
  public:
    static const char* className() { return "IntervalEvent"; }
    explicit IntervalEvent(int32_t interval) : interval_(interval) {}
    int32_t getInterval() const { return interval_; }

  private:
    int32_t interval_;
};

// A portal exchange ended: true when the portal answered.
class NotifyHTTPStateEvent final : public NamedEvent<NotifyHTTPStateEvent> {
  public:
    static const char* className() { return "NotifyHTTPStateEvent"; }
    explicit NotifyHTTPStateEvent(bool state) : state_(state) {}
    bool getState() const { return state_; }

  private:
    bool state_;
};

// A hello was scheduled; carries its local time as "HH:MM".
class NotifyTimerStateEvent final : public NamedEvent<NotifyTimerStateEvent> {
  public:
    static const char* className() { return "NotifyTimerStateEvent"; }
    explicit NotifyTimerStateEvent(std::string nextPortalConnectionTime)
        : nextPortalConnectionTime_(std::move(nextPortalConnectionTime)) {}
    const std::string& getNextPortalConnectionTime() const { return nextPortalConnectionTime_; }

  private:
    std::string nextPortalConnectionTime_;
};

// The dongle's state was learnt: true when it is usable.
class NotifyUSBStateEvent final : public NamedEvent<NotifyUSBStateEvent> {
  public:
    static const char* className() { return "NotifyUSBStateEvent"; }
    explicit NotifyUSBStateEvent(bool state) : state_(state) {}
    bool getState() const { return state_; }

  private:
    bool state_;
};

// A transmission compared the duty-cycle utilisation with the limit: true
// when sending goes on.
class NotifyDutyCycleStateEvent final : public NamedEvent<NotifyDutyCycleStateEvent> {
  public:
    static const char* className() { return "NotifyDutyCycleStateEvent"; }
    explicit NotifyDutyCycleStateEvent(bool state) : state_(state) {}
    bool getState() const { return state_; }

  private:
    bool state_;
};

// The portal asks for one of its pages to be opened in the browser. The
// address belongs to the firing code and lives for the fire call only.
class StartBrowserEvent final : public NamedEvent<StartBrowserEvent> {
  public:
    static const char* className() { return "StartBrowserEvent"; }
    explicit StartBrowserEvent(const PortalURL* url) : url_(url) {}
    const PortalURL* getPortalURL() const { return url_; }

  private:
    const PortalURL* url_;
};

// The user asked to open the portal.
class StartSessionEvent final : public NamedEvent<StartSessionEvent> {
  public:
    static const char* className() { return "StartSessionEvent"; }
};

// The About dialog asks for its texts.
class ShowAboutDialogEvent final : public NamedEvent<ShowAboutDialogEvent> {
  public:
    static const char* className() { return "ShowAboutDialogEvent"; }
};

// Named in the agent's vocabulary of events but never fired or registered.
class SetPortalURLEvent final : public NamedEvent<SetPortalURLEvent> {
  public:
    static const char* className() { return "SetPortalURLEvent"; }
};

class UserInterfaceEvent final : public NamedEvent<UserInterfaceEvent> {
  public:
    static const char* className() { return "UserInterfaceEvent"; }
};
