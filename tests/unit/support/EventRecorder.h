#pragma once

#include <string>
#include <vector>

#include "activities/HelloEvents.h"
#include "activities/StatusEvents.h"
#include "activities/TransmitEvents.h"
#include "core/Activity.h"
#include "core/Resource.h"
#include "portal/PortalURL.h"

// Records, in firing order, the events of the portal, timer and dongle
// resources with their payloads copied while they are alive.
class EventRecorder final : public Activity {
  public:
    struct Record {
        std::string name;
        bool state = false;
        int32_t number = 0;
        PortalURL url;
        FrameList frames;
        std::string text;
    };

    const char* getName() const override { return "EventRecorder"; }

    void execute(Event* event) override {
        Record record;
        record.name = event->getName();
        if (record.name == NotifyHTTPStateEvent::className()) {
            record.state = static_cast<NotifyHTTPStateEvent*>(event)->getState();
        } else if (record.name == NotifyUSBStateEvent::className()) {
            record.state = static_cast<NotifyUSBStateEvent*>(event)->getState();
        } else if (record.name == NotifyDutyCycleStateEvent::className()) {
            record.state = static_cast<NotifyDutyCycleStateEvent*>(event)->getState();
        } else if (record.name == ContinueTransmitEvent::className()) {
            record.number = static_cast<ContinueTransmitEvent*>(event)->getCode();
        } else if (record.name == StartBrowserEvent::className()) {
            record.url = *static_cast<StartBrowserEvent*>(event)->getPortalURL();
        } else if (record.name == SendFramesEvent::className()) {
            record.frames = static_cast<SendFramesEvent*>(event)->getFrames();
        } else if (record.name == IntervalEvent::className()) {
            record.number = static_cast<IntervalEvent*>(event)->getInterval();
        } else if (record.name == CyclicHelloEvent::className()) {
            record.number = static_cast<CyclicHelloEvent*>(event)->getReason();
        } else if (record.name == CyclicTransmitEvent::className()) {
            record.frames = static_cast<CyclicTransmitEvent*>(event)->getFrames();
        } else if (record.name == NotifyTimerStateEvent::className()) {
            record.text = static_cast<NotifyTimerStateEvent*>(event)->getNextPortalConnectionTime();
        }
        records.push_back(record);
    }

    // Registers this recorder for every event the three resources fire.
    void listenTo(Resource& resource) {
        for (const char* name :
             {NotifyHTTPStateEvent::className(), StartBrowserEvent::className(),
              SendFramesEvent::className(), IntervalEvent::className(),
              CyclicHelloEvent::className(), CyclicTransmitEvent::className(),
              NotifyTimerStateEvent::className(), NotifyUSBStateEvent::className(),
              ContinueHelloEvent::className(), NotifyDutyCycleStateEvent::className(),
              ContinueTransmitEvent::className()}) {
            resource.getActivities().add(this, name);
        }
    }

    std::vector<std::string> names() const {
        std::vector<std::string> result;
        for (const Record& record : records) {
            result.push_back(record.name);
        }
        return result;
    }

    // Each event as "Name=payload", so a whole exchange compares in one check.
    std::vector<std::string> summary() const {
        std::vector<std::string> result;
        for (const Record& r : records) {
            std::string payload;
            if (r.name == NotifyHTTPStateEvent::className() ||
                r.name == NotifyUSBStateEvent::className() ||
                r.name == NotifyDutyCycleStateEvent::className()) {
                payload = r.state ? "1" : "0";
            } else if (r.name == StartBrowserEvent::className()) {
                payload = portalURLText(r.url);
            } else if (r.name == NotifyTimerStateEvent::className()) {
                payload = r.text;
            } else if (r.name == IntervalEvent::className() ||
                       r.name == CyclicHelloEvent::className() ||
                       r.name == ContinueTransmitEvent::className()) {
                payload = std::to_string(r.number);
            }
            for (const std::string& frame : r.frames) {
                payload += (payload.empty() ? "" : ",") + frame;
            }
            result.push_back(r.name + "=" + payload);
        }
        return result;
    }

    std::vector<Record> records;
};
