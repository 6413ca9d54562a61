#pragma once

#include <functional>
#include <memory>

#include "core/Platform.h"

class CycleGate;
class DongleArrival;
class FilesystemResource;
class HTTPClientResource;
class TimerResource;
class USBResource;
class UserInterfaceResource;

class CyclicHelloActivity;
class CyclicTransmitActivity;
class IntervalActivity;
class StartBrowserActivity;
class SendFramesActivity;
class NotifyHTTPStateActivity;
class CyclicHelloTimeActivity;
class CyclicTransmitTimeActivity;
class NotifyUSBStateActivity;
class NotifyDutyCycleActivity;
class StartSessionActivity;
class ContinueTransmitActivity;
class ContinueHelloActivity;
class ShowAboutDialogActivity;
class NotifyTimerStateActivity;

// Creates the agent's five resources and fifteen activities once, wires
// them through the resources' registries and starts the agent. It owns what
// it creates; the program never deletes it, so all of that lives until the
// process ends.
class Main {
  public:
    // Timer expiries pass through `gate`, which the window's user commands
    // share, so no cycle runs inside another.
    Main(const Platform& platform, CycleGate& gate);
    ~Main();
    Main(const Main&) = delete;
    Main& operator=(const Main&) = delete;

    // Runs on the initialisation thread: creates, wires, publishes the
    // user-interface resource and starts.
    void initialise();
    int start(FilesystemResource* filesystem);

    FilesystemResource* filesystemResource() const { return filesystem_.get(); }
    TimerResource* timerResource() const { return timer_.get(); }
    HTTPClientResource* httpClientResource() const { return httpClient_.get(); }
    UserInterfaceResource* userInterfaceResource() const { return userInterface_.get(); }
    USBResource* usbResource() const { return usb_.get(); }

  private:
    void createActivities();
    void wire();

    Platform platform_;
    CycleGate& gate_;

    std::unique_ptr<FilesystemResource> filesystem_;
    std::unique_ptr<TimerResource> timer_;
    std::unique_ptr<HTTPClientResource> httpClient_;
    std::unique_ptr<UserInterfaceResource> userInterface_;
    std::unique_ptr<USBResource> usb_;

    std::unique_ptr<CyclicHelloActivity> cyclicHello_;
    std::unique_ptr<CyclicTransmitActivity> cyclicTransmit_;
    std::unique_ptr<IntervalActivity> interval_;
    std::unique_ptr<StartBrowserActivity> startBrowser_;
    std::unique_ptr<SendFramesActivity> sendFrames_;
    std::unique_ptr<NotifyHTTPStateActivity> notifyHTTPState_;
    std::unique_ptr<CyclicHelloTimeActivity> cyclicHelloTime_;
    std::unique_ptr<CyclicTransmitTimeActivity> cyclicTransmitTime_;
    std::unique_ptr<NotifyUSBStateActivity> notifyUSBState_;
    std::unique_ptr<NotifyDutyCycleActivity> notifyDutyCycle_;
    std::unique_ptr<StartSessionActivity> startSession_;
    std::unique_ptr<ContinueTransmitActivity> continueTransmit_;
    std::unique_ptr<ContinueHelloActivity> continueHello_;
    std::unique_ptr<ShowAboutDialogActivity> showAboutDialog_;
    std::unique_ptr<NotifyTimerStateActivity> notifyTimerState_;
    std::unique_ptr<DongleArrival> dongleArrival_;
};

// The initialisation thread's first step: wait, half a second at a time and
// at most maxWaits times, until the main window exists or `stop` says this
// copy is not going to run. Returns the number of waits made.
int waitForMainWindow(const std::function<bool()>& windowExistsOrStop,
                      const std::function<void()>& waitHalfASecond, int maxWaits = 10);
