#pragma once

#include <string>
#include <vector>

#include "activities/HelloEvents.h"
#include "activities/StatusEvents.h"
#include "activities/TransmitEvents.h"
#include "core/EventListeners.h"
#include "core/Resource.h"
#include "core/Text.h"
#include "portal/PortalURL.h"

// The portal's and dongle's events in firing order, each with its payload as text.
class EventRecorder {
  public:
    void listenTo(Resource& resource) { listeners_.listenTo(resource.getActivities()); }

    // Each event as "Name=payload", so a whole exchange compares in one check.
    std::vector<std::string> events;

  private:
    static std::string payload(bool state) { return state ? "1" : "0"; }
    static std::string payload(const FrameList& frames) {
        std::string text;
        for (const std::string& frame : frames) {
            text += (text.empty() ? "" : ",") + frame;
        }
        return text;
    }
    static std::string payload(const NotifyHTTPStateEvent& e) { return payload(e.getState()); }
    static std::string payload(const NotifyUSBStateEvent& e) { return payload(e.getState()); }
    static std::string payload(const NotifyDutyCycleStateEvent& e) { return payload(e.getState()); }
    static std::string payload(const StartBrowserEvent& e) {
        return portalURLText(*e.getPortalURL());
    }
    static std::string payload(const SendFramesEvent& e) { return payload(e.getFrames()); }
    static std::string payload(const IntervalEvent& e) { return decimalText(e.getInterval()); }
    static std::string payload(const ContinueTransmitEvent& e) {
        return decimalText(static_cast<int32_t>(e.getCode()));
    }
    static std::string payload(const ContinueHelloEvent&) { return ""; }

    EventListeners<NotifyHTTPStateEvent, StartBrowserEvent, SendFramesEvent, IntervalEvent,
                   NotifyUSBStateEvent, ContinueHelloEvent, NotifyDutyCycleStateEvent,
                   ContinueTransmitEvent>
        listeners_{[this](const auto& event) {
            events.push_back(std::string(event.getName()) + "=" + payload(event));
        }};
};
