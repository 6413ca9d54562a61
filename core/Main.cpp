#include "core/Main.h"

#include "activities/DongleArrival.h"
#include "activities/HelloActivities.h"
#include "activities/StatusActivities.h"
#include "activities/TransmitActivities.h"
#include "activities/UserActivities.h"
#include "core/Log.h"
#include "dongle/USBResource.h"
#include "portal/HTTPClientResource.h"
#include "storage/FilesystemResource.h"
#include "timer/TimerResource.h"
#include "ui/DisplayStatus.h"
#include "ui/UserInterfaceResource.h"

Main::Main(const Platform& platform, CycleGate& gate) : platform_(platform), gate_(gate) {}

Main::~Main() = default;

void Main::initialise() {
    log("Initialisation: ...");
    const Clock& clock = *platform_.clock;
    filesystem_ = std::make_unique<FilesystemResource>(*platform_.paths, *platform_.language,
                                                       *platform_.files, *platform_.cycleLock,
                                                       *platform_.window, clock);
    timer_ = std::make_unique<TimerResource>(*platform_.timers, gate_, clock);
    httpClient_ = std::make_unique<HTTPClientResource>(*platform_.http, clock);
    userInterface_ = std::make_unique<UserInterfaceResource>(*platform_.window, displayStatus());
    // Its constructor already looks for the dongle. When a transfer fails it
    // asks the tray's dongle flag, which device-removal notices clear too, so
    // an exchange with an unplugged dongle ends at its next failed transfer
    // instead of taking the failure as passing.
    usb_ = std::make_unique<USBResource>(*platform_.hid,
                                         [] { return displayStatus().usbState.load(); });

    createActivities();
    wire();
    dongleArrival_ =
        std::make_unique<DongleArrival>(*filesystem_, *continueHello_, *continueTransmit_, clock);
    DongleArrival* arrival = dongleArrival_.get();
    userInterface_->setDongleArrivalHandler([arrival] { arrival->arrived(); });

    // Only now can the window's commands reach anything.
    publishUserInterface(userInterface_.get());
    log("Initialisation: ok");
    start(filesystem_.get());
}

void Main::createActivities() {
    FilesystemResource& filesystem = *filesystem_;
    TimerResource& timer = *timer_;
    HTTPClientResource& httpClient = *httpClient_;
    UserInterfaceResource& userInterface = *userInterface_;
    USBResource& usb = *usb_;
    const Clock& clock = *platform_.clock;

    cyclicHello_ = std::make_unique<CyclicHelloActivity>(httpClient, filesystem, usb);
    cyclicTransmit_ = std::make_unique<CyclicTransmitActivity>(usb, filesystem, clock);
    interval_ = std::make_unique<IntervalActivity>(filesystem, clock);
    startBrowser_ = std::make_unique<StartBrowserActivity>(filesystem, *platform_.urlOpener);
    sendFrames_ = std::make_unique<SendFramesActivity>(filesystem);
    notifyHTTPState_ = std::make_unique<NotifyHTTPStateActivity>(userInterface, filesystem);
    cyclicHelloTime_ = std::make_unique<CyclicHelloTimeActivity>(timer);
    cyclicTransmitTime_ = std::make_unique<CyclicTransmitTimeActivity>(timer);
    notifyUSBState_ = std::make_unique<NotifyUSBStateActivity>(userInterface);
    notifyDutyCycle_ = std::make_unique<NotifyDutyCycleActivity>(userInterface);
    startSession_ = std::make_unique<StartSessionActivity>(timer, clock);
    continueTransmit_ = std::make_unique<ContinueTransmitActivity>(filesystem, clock);
    continueHello_ = std::make_unique<ContinueHelloActivity>(filesystem);
    showAboutDialog_ = std::make_unique<ShowAboutDialogActivity>(filesystem, userInterface, usb);
    notifyTimerState_ = std::make_unique<NotifyTimerStateActivity>(userInterface);
}

// Each resource's registry gets the activities for the events it fires;
// each activity's own class says which event that is.
void Main::wire() {
    ActivityRegistry& timerEvents = timer_->getActivities();
    timerEvents.add(cyclicHello_.get());
    timerEvents.add(cyclicTransmit_.get());
    timerEvents.add(notifyTimerState_.get());

    ActivityRegistry& portalEvents = httpClient_->getActivities();
    portalEvents.add(notifyHTTPState_.get());
    portalEvents.add(startBrowser_.get());
    portalEvents.add(interval_.get());
    portalEvents.add(sendFrames_.get());

    ActivityRegistry& storageEvents = filesystem_->getActivities();
    storageEvents.add(cyclicHelloTime_.get());
    storageEvents.add(cyclicTransmitTime_.get());

    ActivityRegistry& dongleEvents = usb_->getActivities();
    dongleEvents.add(continueTransmit_.get());
    dongleEvents.add(continueHello_.get());
    dongleEvents.add(notifyUSBState_.get());
    dongleEvents.add(notifyDutyCycle_.get());

    ActivityRegistry& userEvents = userInterface_->getActivities();
    userEvents.add(startSession_.get());
    userEvents.add(showAboutDialog_.get());
}

int Main::start(FilesystemResource* filesystem) {
    log("------------------ Main::start");
    filesystem->start();
    return 0;
}

int waitForMainWindow(const std::function<bool()>& windowExistsOrStop,
                      const std::function<void()>& waitHalfASecond, int maxWaits) {
    int waits = 0;
    while (!windowExistsOrStop() && waits < maxWaits) {
        waitHalfASecond();
        ++waits;
    }
    return waits;
}
