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
                                                       *platform_.files, *platform_.window, clock);
    timer_ = std::make_unique<TimerResource>(*platform_.timers, gate_, clock);
    httpClient_ = std::make_unique<HTTPClientResource>(*platform_.http);
    userInterface_ = std::make_unique<UserInterfaceResource>(*platform_.window, displayStatus());
    // Its constructor already looks for the dongle. When a report cannot be
    // sent it asks whether the dongle is still thought usable.
    UserInterfaceResource* userInterface = userInterface_.get();
    usb_ = std::make_unique<USBResource>(*platform_.hid,
                                         [userInterface] { return userInterface->getUSBState(); });

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

// Each resource's registry gets the activities for the events it fires.
void Main::wire() {
    ActivityRegistry& timerEvents = timer_->getActivities();
    timerEvents.add(cyclicHello_.get(), CyclicHelloEvent::className());
    timerEvents.add(cyclicTransmit_.get(), CyclicTransmitEvent::className());
    timerEvents.add(notifyTimerState_.get(), NotifyTimerStateEvent::className());

    ActivityRegistry& portalEvents = httpClient_->getActivities();
    portalEvents.add(notifyHTTPState_.get(), NotifyHTTPStateEvent::className());
    portalEvents.add(startBrowser_.get(), StartBrowserEvent::className());
    portalEvents.add(interval_.get(), IntervalEvent::className());
    portalEvents.add(sendFrames_.get(), SendFramesEvent::className());

    ActivityRegistry& storageEvents = filesystem_->getActivities();
    storageEvents.add(cyclicHelloTime_.get(), CyclicHelloTimeEvent::className());
    storageEvents.add(cyclicTransmitTime_.get(), CyclicTransmitTimeEvent::className());

    ActivityRegistry& dongleEvents = usb_->getActivities();
    dongleEvents.add(continueTransmit_.get(), ContinueTransmitEvent::className());
    dongleEvents.add(continueHello_.get(), ContinueHelloEvent::className());
    dongleEvents.add(notifyUSBState_.get(), NotifyUSBStateEvent::className());
    dongleEvents.add(notifyDutyCycle_.get(), NotifyDutyCycleStateEvent::className());

    ActivityRegistry& userEvents = userInterface_->getActivities();
    userEvents.add(startSession_.get(), StartSessionEvent::className());
    userEvents.add(showAboutDialog_.get(), ShowAboutDialogEvent::className());
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
