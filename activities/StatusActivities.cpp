#include "activities/StatusActivities.h"

#include "core/Clock.h"
#include "storage/FilesystemResource.h"
#include "ui/UserInterfaceResource.h"

void IntervalActivity::handle(const IntervalEvent& event) {
    // The portal's own "I0" or a negative value means at once.
    filesystem_.setNextHelloTime(clock_.timeStampIn(event.getInterval()));
}

void NotifyHTTPStateActivity::handle(const NotifyHTTPStateEvent& event) {
    userInterface_.setInternetState(event.getState());
    if (!event.getState()) {
        filesystem_.scheduleHelloOnError();
    }
}

void NotifyTimerStateActivity::handle(const NotifyTimerStateEvent& event) {
    userInterface_.setNextPortalConnectionTime(event.getNextPortalConnectionTime());
}

void NotifyUSBStateActivity::handle(const NotifyUSBStateEvent& event) {
    userInterface_.setUSBState(event.getState());
}

void NotifyDutyCycleActivity::handle(const NotifyDutyCycleStateEvent& event) {
    userInterface_.setDutyState(event.getState());
}
