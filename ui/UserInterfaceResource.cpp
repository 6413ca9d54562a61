#include "ui/UserInterfaceResource.h"

#include "activities/StatusEvents.h"
#include "core/Log.h"
#include "core/MainWindowCommands.h"
#include "ui/DisplayStatus.h"

namespace {

std::atomic<UserInterfaceResource*> published{nullptr};

const char* boolText(bool value) {
    return value ? "true" : "false";
}

}  // namespace

UserInterfaceResource::UserInterfaceResource(MainWindowCommands& window, DisplayStatus& status)
    : window_(window), status_(status) {
    // Until the first report the user sees no fault.
    status_.internetState = true;
    status_.usbState = true;
    status_.dutyState = true;
}

void UserInterfaceResource::setInternetState(bool state) {
    internetState_ = state;
    sendMessage();
}

void UserInterfaceResource::setUSBState(bool state) {
    usbState_ = state;
    sendMessage();
}

void UserInterfaceResource::setDutyState(bool state) {
    dutyState_ = state;
    sendMessage();
}

void UserInterfaceResource::sendMessage() {
    const bool internet = internetState_;
    const bool usb = usbState_;
    const bool duty = dutyState_;
    log(std::string("sendMessage: internetState=") + boolText(internet) +
        " ; usbState=" + boolText(usb) + " ; dutyState=" + boolText(duty));
    status_.internetState = internet;
    status_.usbState = usb;
    status_.dutyState = duty;
    window_.statusChanged();
}

void UserInterfaceResource::setNextPortalConnectionTime(const std::string& text) {
    // Copied under the display status's lock: the GUI thread may be reading
    // the text for the tooltip while start-up writes it.
    status_.setNextPortalConnectionTime(text);
    log("nextPortalConnectionTime: ", text);
    window_.statusChanged();
}

void UserInterfaceResource::setAboutInfo(const std::string& softwareVersion,
                                         const std::string& firmwareVersion,
                                         const std::string& usbSerialnumber) {
    const std::lock_guard<std::mutex> hold(aboutLock_);
    softwareVersion_ = softwareVersion;
    firmwareVersion_ = firmwareVersion;
    usbSerialnumber_ = usbSerialnumber;
}

void UserInterfaceResource::showAboutDialog(std::string& softwareVersion,
                                            std::string& firmwareVersion,
                                            std::string& usbSerialnumber) {
    ShowAboutDialogEvent event;
    getActivities().fire(&event);
    const std::lock_guard<std::mutex> hold(aboutLock_);
    softwareVersion = softwareVersion_;
    firmwareVersion = firmwareVersion_;
    usbSerialnumber = usbSerialnumber_;
}

void UserInterfaceResource::openPortal() {
    StartSessionEvent event;
    getActivities().fire(&event);
}

void UserInterfaceResource::dongleArrived() {
    if (dongleArrival_) {
        dongleArrival_();
    }
}

UserInterfaceResource* publishedUserInterface() {
    return published.load();
}

void publishUserInterface(UserInterfaceResource* resource) {
    published.store(resource);
}
