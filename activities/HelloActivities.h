#pragma once

#include <cstdint>

#include "activities/HelloEvents.h"
#include "core/Activity.h"

class FilesystemResource;
class HTTPClientResource;
class TimerResource;
class USBResource;

// A new time for the next hello has been decided: arm the hello timer for
// it, replacing any pending one.
class CyclicHelloTimeActivity final
    : public EventActivity<CyclicHelloTimeActivity, CyclicHelloTimeEvent> {
  public:
    static const char* className() { return "CyclicHelloTimeActivity"; }
    explicit CyclicHelloTimeActivity(TimerResource& timer) : timer_(timer) {}

  private:
    void handle(const CyclicHelloTimeEvent& event) override;
    TimerResource& timer_;
};

// The hello timer has expired: read the dongle's identity, store it and
// tell the portal who calls and why. The answer's commands plan what
// follows; whatever happens, the hello ends with a next one planned.
class CyclicHelloActivity final : public EventActivity<CyclicHelloActivity, CyclicHelloEvent> {
  public:
    static const char* className() { return "CyclicHelloActivity"; }
    // The hello is assembled in a 1024-byte buffer with its terminating zero.
    static constexpr std::size_t maxMessageLength = 1023;

    CyclicHelloActivity(HTTPClientResource& httpClient, FilesystemResource& filesystem,
                        USBResource& usb)
        : httpClient_(httpClient), filesystem_(filesystem), usb_(usb) {}

  private:
    void handle(const CyclicHelloEvent& event) override;
    void finished() override;

    HTTPClientResource& httpClient_;
    FilesystemResource& filesystem_;
    USBResource& usb_;
    uint64_t helloPlansBefore_ = 0;
};

// Reading the dongle failed: plan the next hello after the error interval.
class ContinueHelloActivity final
    : public EventActivity<ContinueHelloActivity, ContinueHelloEvent> {
  public:
    static const char* className() { return "ContinueHelloActivity"; }
    explicit ContinueHelloActivity(FilesystemResource& filesystem) : filesystem_(filesystem) {}

    // Whether the planned hello is still the one this activity planned,
    // that is, whether the next hello waits only for the dongle.
    bool helloWaitsForDongle() const;

  private:
    void handle(const ContinueHelloEvent& event) override;
    FilesystemResource& filesystem_;
    bool planned_ = false;
    uint64_t planAtWait_ = 0;
};
