#include "activities/UserActivities.h"

#include "activities/HelloEvents.h"
#include "activities/UrlOpener.h"
#include "core/Clock.h"
#include "dongle/USBResource.h"
#include "portal/PortalURL.h"
#include "storage/FilesystemResource.h"
#include "timer/TimerResource.h"
#include "ui/UserInterfaceResource.h"

void StartBrowserActivity::handle(const StartBrowserEvent& event) {
    const PortalURL* url = event.getPortalURL();
    if (url == nullptr) {
        return;
    }
    const std::string address = "http://" + portalURLText(*url);
    browser_.open(address);
    log("URL for browser [StartBrowserActivity::execute]: ", address);
    filesystem_.setHelloReason(helloReason::portalPageOpened);
}

void StartSessionActivity::handle(const StartSessionEvent&) {
    timer_.startHelloThreadIn(clock_.now(), helloReason::openPortal);
}

void ShowAboutDialogActivity::handle(const ShowAboutDialogEvent&) {
    const InitialConfiguration& configuration = filesystem_.getConfiguration();
    std::string serialNumber;
    std::string radioAddress;
    std::string firmwareVersion;
    // About's read is a conversation with the shared dongle like a cycle's:
    // it waits its turn, and without one shows what was read last.
    const SharedWork turn(filesystem_, "About");
    if (!turn || usb_.getDeviceInfos(serialNumber, firmwareVersion, radioAddress,
                                     configuration.getUsbWaitTimeout()) != 0) {
        if (turn) {
            log("cannot read serial number from device: Your dongle is not available");
        }
        // The software version does not depend on the dongle; its own values
        // are the last ones any read brought (a hello's too, or an earlier
        // run's), empty until the dongle has answered once.
        userInterface_.setAboutInfo(configuration.getSoftwareVersion(),
                                    filesystem_.getFirmwareVersion(),
                                    filesystem_.getSerialNumber());
        return;
    }
    if (serialNumber.empty()) {
        serialNumber = filesystem_.getSerialNumber();
        firmwareVersion = filesystem_.getFirmwareVersion();
    } else {
        filesystem_.setDeviceInfos(serialNumber, firmwareVersion);
    }
    userInterface_.setAboutInfo(configuration.getSoftwareVersion(), firmwareVersion, serialNumber);
}
