#pragma once

#include <cstdint>

#include "activities/TransmitEvents.h"
#include "core/Activity.h"

class Clock;
class FilesystemResource;
class TimerResource;
class USBResource;

// The portal delivered frames: store them, which makes a transmission due
// at once.
class SendFramesActivity final : public EventActivity<SendFramesActivity, SendFramesEvent> {
  public:
    static const char* className() { return "SendFramesActivity"; }
    explicit SendFramesActivity(FilesystemResource& filesystem) : filesystem_(filesystem) {}

  private:
    void handle(const SendFramesEvent& event) override;
    FilesystemResource& filesystem_;
};

// A time for the next transmission has been decided: arm the transmit timer
// for it, replacing any pending one.
class CyclicTransmitTimeActivity final
    : public EventActivity<CyclicTransmitTimeActivity, CyclicTransmitTimeEvent> {
  public:
    static const char* className() { return "CyclicTransmitTimeActivity"; }
    explicit CyclicTransmitTimeActivity(TimerResource& timer) : timer_(timer) {}

  private:
    void handle(const CyclicTransmitTimeEvent& event) override;
    TimerResource& timer_;
};

// The transmit timer has expired: one attempt at broadcasting the stored
// frames, under a new counter value. It ends with the frames done, dropped
// or a new attempt planned.
class CyclicTransmitActivity final
    : public EventActivity<CyclicTransmitActivity, CyclicTransmitEvent> {
  public:
    static const char* className() { return "CyclicTransmitActivity"; }
    CyclicTransmitActivity(USBResource& usb, FilesystemResource& filesystem, const Clock& clock)
        : usb_(usb), filesystem_(filesystem), clock_(clock) {}

  private:
    void handle(const CyclicTransmitEvent& event) override;
    void finished() override;

    USBResource& usb_;
    FilesystemResource& filesystem_;
    const Clock& clock_;
    uint64_t transmitStepsBefore_ = 0;
    bool nothingToSend_ = false;
};

// The dongle's attempt has ended: 0 the frames are done, 1 the duty cycle
// was exceeded (frames dropped, the portal asked again later), 2 the dongle
// could not be used (the attempt is repeated later).
class ContinueTransmitActivity final
    : public EventActivity<ContinueTransmitActivity, ContinueTransmitEvent> {
  public:
    static const char* className() { return "ContinueTransmitActivity"; }
    ContinueTransmitActivity(FilesystemResource& filesystem, const Clock& clock)
        : filesystem_(filesystem), clock_(clock) {}

    // Whether the stored frames wait for a retry that only the dongle's
    // absence made necessary, with nothing decided about them since.
    bool transmitWaitsForDongle() const;

  private:
    void handle(const ContinueTransmitEvent& event) override;
    FilesystemResource& filesystem_;
    const Clock& clock_;
    bool retrying_ = false;
    uint64_t stepsAtRetry_ = 0;
};
