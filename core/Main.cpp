#include "core/Main.h"

#include "activities/DeadlineActivities.h"
#include "activities/HelloEvents.h"
#include "activities/TransmitEvents.h"
#include "core/Log.h"
#include "dongle/USBResource.h"
#include "portal/HTTPClientResource.h"
#include "storage/FilesystemResource.h"
#include "timer/TimerResource.h"

Main::Main(const Platform& platform) : platform_(platform) {}

Main::~Main() = default;

void Main::initialise() {
    log("Initialisation: ...");
    filesystem_ = std::make_unique<FilesystemResource>(*platform_.paths, *platform_.language,
                                                       *platform_.files);
    timer_ = std::make_unique<TimerResource>(*platform_.timers);
    httpClient_ = std::make_unique<HTTPClientResource>(*platform_.http);
    // Last: its constructor already looks for the dongle.
    usb_ = std::make_unique<USBResource>(*platform_.hid);

    cyclicHelloTime_ = std::make_unique<CyclicHelloTimeActivity>();
    cyclicTransmitTime_ = std::make_unique<CyclicTransmitTimeActivity>();

    // Deadlines stored by the filesystem resource arm the timers.
    cyclicHelloTime_->setTimerResource(timer_.get());
    cyclicTransmitTime_->setTimerResource(timer_.get());
    ActivityRegistry& filesystemEvents = filesystem_->getActivities();
    filesystemEvents.add(cyclicHelloTime_.get(), CyclicHelloTimeEvent::className());
    filesystemEvents.add(cyclicTransmitTime_.get(), CyclicTransmitTimeEvent::className());

    log("Initialisation: ok");
    start(filesystem_.get());
}

int Main::start(FilesystemResource* filesystem) {
    log("------------------ Main::start");
    filesystem->start();
    return 0;
}

int waitForMainWindow(const std::function<bool()>& windowExists,
                      const std::function<void()>& waitHalfASecond, int maxWaits) {
    int waits = 0;
    while (!windowExists() && waits < maxWaits) {
        waitHalfASecond();
        ++waits;
    }
    return waits;
}
