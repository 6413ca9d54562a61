#pragma once

#include <functional>
#include <memory>

#include "core/Platform.h"

class CyclicHelloTimeActivity;
class CyclicTransmitTimeActivity;
class FilesystemResource;
class USBResource;
class HTTPClientResource;
class TimerResource;

// Creates the agent's resources and activities once, wires them through the
// resources' registries and starts the agent. It owns what it creates; the
// program never deletes it, so all of that lives until the process ends.
class Main {
  public:
    explicit Main(const Platform& platform);
    ~Main();
    Main(const Main&) = delete;
    Main& operator=(const Main&) = delete;

    // Runs on the initialisation thread.
    void initialise();
    int start(FilesystemResource* filesystem);

    FilesystemResource* filesystemResource() const { return filesystem_.get(); }
    USBResource* usbResource() const { return usb_.get(); }
    TimerResource* timerResource() const { return timer_.get(); }
    HTTPClientResource* httpClientResource() const { return httpClient_.get(); }

  private:
    Platform platform_;
    std::unique_ptr<FilesystemResource> filesystem_;
    std::unique_ptr<USBResource> usb_;
    std::unique_ptr<TimerResource> timer_;
    std::unique_ptr<HTTPClientResource> httpClient_;
    std::unique_ptr<CyclicHelloTimeActivity> cyclicHelloTime_;
    std::unique_ptr<CyclicTransmitTimeActivity> cyclicTransmitTime_;
};

// The initialisation thread's first step: wait, half a second at a time and
// at most maxWaits times, until the main window exists. Returns the number
// of waits made.
int waitForMainWindow(const std::function<bool()>& windowExists,
                      const std::function<void()>& waitHalfASecond, int maxWaits = 10);
