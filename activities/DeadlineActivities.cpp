#include "activities/DeadlineActivities.h"

#include "activities/HelloEvents.h"
#include "activities/TransmitEvents.h"
#include "timer/TimerResource.h"

void CyclicHelloTimeActivity::execute(Event* event) {
    const auto* deadline = static_cast<CyclicHelloTimeEvent*>(event);
    timer_->startHelloThreadIn(deadline->getTime(), deadline->getReason());
}

void CyclicTransmitTimeActivity::execute(Event* event) {
    timer_->startTransmitThreadIn(static_cast<CyclicTransmitTimeEvent*>(event)->getTime());
}
