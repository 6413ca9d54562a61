#pragma once

#include <string>
#include <vector>

#include "activities/HelloEvents.h"
#include "activities/StatusEvents.h"
#include "activities/TransmitEvents.h"
#include "core/Activity.h"
#include "core/Resource.h"
#include "portal/PortalURL.h"

// Records, in firing order, the events of the portal and timer resources
// with their payloads copied while they are alive.
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

    // Registers this recorder for every event the two resources fire.
    void listenTo(Resource& resource) {
        for (const char* name : {NotifyHTTPStateEvent::className(), StartBrowserEvent::className(),
                                 SendFramesEvent::className(), IntervalEvent::className(),
                                 CyclicHelloEvent::className(), CyclicTransmitEvent::className(),
                                 NotifyTimerStateEvent::className()}) {
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

    std::vector<Record> records;
};
