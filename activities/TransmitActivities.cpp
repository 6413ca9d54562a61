#include "activities/TransmitActivities.h"

#include "core/Clock.h"
#include "dongle/USBResource.h"
#include "storage/FilesystemResource.h"
#include "timer/TimerResource.h"

void SendFramesActivity::handle(const SendFramesEvent& event) {
    filesystem_.setFrames(event.getFrames());
}

void CyclicTransmitTimeActivity::handle(const CyclicTransmitTimeEvent& event) {
    timer_.startTransmitThreadIn(event.getTime());
}

void CyclicTransmitActivity::handle(const CyclicTransmitEvent&) {
    transmitStepsBefore_ = filesystem_.getTransmitSteps();
    nothingToSend_ = false;
    // The counter is taken and the frames broadcast while no other user's
    // agent does either, so no two transmissions share a counter value.
    const SharedWork turn(filesystem_, "transmission");
    if (!turn) {
        // Not an attempt: the frames wait, as for a dongle that is busy.
        filesystem_.setNextTransmitTime(
            clock_.timeStampIn(filesystem_.getRetryInterval(RetryInterval::UsbOnError)));
        return;
    }
    const FrameList frames = filesystem_.getFrames();
    if (frames.empty()) {
        // The record as it stands now holds none: another user's agent has
        // sent them. Nothing is attempted, so no counter value is taken.
        log("[CyclicTransmitActivity::execute] no frames left in the run time file, nothing to "
            "send");
        nothingToSend_ = true;
        return;
    }
    // Every attempt takes a new counter value, whatever its outcome.
    const int32_t counter = filesystem_.incrementTransmitCounter();
    const InitialConfiguration& configuration = filesystem_.getConfiguration();
    usb_.start(true, frames, counter, configuration.getSendFramesRepeat(),
               configuration.getMaxUsbWriteBufferRetry(),
               configuration.getMaxDutyCycleUtilisation(), configuration.getUsbWaitTimeout());
}

void CyclicTransmitActivity::finished() {
    if (nothingToSend_ || filesystem_.getTransmitSteps() != transmitStepsBefore_) {
        return;
    }
    // The attempt ended without an outcome: keep the frames and try again,
    // rather than leave them stored with nothing planned.
    log("[CyclicTransmitActivity::execute] no outcome, retrying after the USB error interval");
    filesystem_.setNextTransmitTime(
        clock_.timeStampIn(filesystem_.getRetryInterval(RetryInterval::UsbOnError)));
}

void ContinueTransmitActivity::handle(const ContinueTransmitEvent& event) {
    switch (event.getCode()) {
        case TransmitOutcome::Sent:
            filesystem_.clearFrames();
            break;
        case TransmitOutcome::DutyCycleExceeded:
            filesystem_.clearFrames();
            filesystem_.setNextHelloTime(
                clock_.timeStampIn(filesystem_.getRetryInterval(RetryInterval::HelloOnDutyCycle)));
            break;
        case TransmitOutcome::DongleUnavailable:
            filesystem_.setNextTransmitTime(
                clock_.timeStampIn(filesystem_.getRetryInterval(RetryInterval::UsbOnError)));
            retrying_ = true;
            stepsAtRetry_ = filesystem_.getTransmitSteps();
            break;
    }
}

bool ContinueTransmitActivity::transmitWaitsForDongle() const {
    return retrying_ && filesystem_.getTransmitSteps() == stepsAtRetry_;
}
